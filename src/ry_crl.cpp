// CRL contexts: creation and release, decoding of a CertificateList into
// views of the context's one copy of the DER, and the attribute queries
// with the revoked-entry cursor.
#include <new>
#include <utility>

#include "ry_crl.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_crl";

// Logs a reader step's failure (its own line, then `as`) and returns it.
Status logged(Status st, const char *failName, const char *as) {
  return stepLogged(st, failName, kSrcFile, __LINE__, as);
}

// INTEGER content as a magnitude: the 00 octet that only keeps a value with
// bit 7 set non-negative (X.690 8.3.2) is not part of it.
ByteSpan magnitudeOf(ByteSpan content) {
  if (content.size() >= 2 && content[0] == 0x00 && (content[1] & 0x80) != 0) {
    return content.subspan(1);
  }
  return content;
}

// Reads one Extension of crlEntryExtensions into `e` when it is the
// reason code; any other extension is checked for form and skipped.
//   Extension ::= SEQUENCE { extnID OBJECT IDENTIFIER,
//                            critical BOOLEAN DEFAULT FALSE,
//                            extnValue OCTET STRING }
//   CRLReason ::= ENUMERATED                                (RFC 5280 5.3.1)
Status parseEntryExtension(const Tlv &ext, RevokedEntry &e, const uint8_t *&reasonAt,
                           const char *&fn, const char *&as) {
  as = "RyAsn1_ReadSequence";
  if (ext.id != kIdSequence) {
    fn = nullptr;
    return Status::TagNotMatch;
  }
  DerReader parts(ext.content);
  Tlv extnId;
  Tlv critical;
  Tlv value;
  bool hasCritical = false;
  as = "RyAsn1_ReadObjectId";
  if (Status st = parts.expect(kIdOid, extnId, fn, Status::CrlNotEnd); st != Status::Ok) {
    return st;
  }
  as = "RyAsn1_ReadSequence";
  if (Status st = parts.optional(kIdBoolean, critical, hasCritical, fn); st != Status::Ok) {
    return st;
  }
  as = "RyAsn1_ReadOctetString";
  if (Status st = parts.expect(kIdOctetString, value, fn, Status::CrlNotEnd); st != Status::Ok) {
    return st;
  }
  as = "RyAsn1_ReadSequence";
  if (Status st = parts.finish(fn); st != Status::Ok) {
    return st;
  }
  if (!oid::equal(extnId.content, oid::kCrlReason)) {
    return Status::Ok;
  }
  // The extnValue holds exactly one ENUMERATED element.
  as = "RyAsn1_ReadEnumerated";
  DerReader inner(value.content);
  Tlv reason;
  if (Status st = inner.expect(kIdEnumerated, reason, fn, Status::CrlNotEnd); st != Status::Ok) {
    return st;
  }
  if (Status st = inner.finish(fn, Status::LengthNotEqual); st != Status::Ok) {
    return st;
  }
  if (reason.content.empty()) {
    fn = "RYCERT_InvalidLengthErr";
    return Status::InvalidLength;
  }
  e.hasEntryExtensions = true;
  e.hasReason = true;
  e.reason = reason.content;
  reasonAt = reason.whole.data();
  return Status::Ok;
}

// Reads the entry element at the start of `bytes`; `reasonAt` is the
// reasonCode element when there is one (NULL otherwise). On failure `fn`
// names the failing reader (or NULL) and `as` the step it failed in.
//   SEQUENCE { userCertificate CertificateSerialNumber, revocationDate Time,
//              crlEntryExtensions Extensions OPTIONAL }      (RFC 5280 5.1)
Status parseEntry(ByteSpan bytes, RevokedEntry &e, const uint8_t *&reasonAt, size_t &size,
                  const char *&fn, const char *&as) {
  e = RevokedEntry{};
  reasonAt = nullptr;
  DerReader list(bytes);
  Tlv entry;
  as = "RyAsn1_ReadSequence";
  if (Status st = list.next(entry, fn); st != Status::Ok) {
    return st;
  }
  if (entry.id != kIdSequence) {
    fn = nullptr;
    return Status::TagNotMatch;
  }
  DerReader fields(entry.content);
  Tlv serial;
  Tlv date;
  as = "RyAsn1_ReadIntegerArray";
  if (Status st = fields.expect(kIdInteger, serial, fn, Status::CrlNotEnd); st != Status::Ok) {
    return st;
  }
  if (serial.content.empty()) {  // X.690 8.3.1
    fn = "RYCERT_InvalidLengthErr";
    return Status::InvalidLength;
  }
  e.serial = magnitudeOf(serial.content);
  as = "RyAsn1_ReadUtcTime";
  if (Status st = fields.expect(DerReader::kAnyId, date, fn, Status::CrlNotEnd);
      st != Status::Ok) {
    return st;
  }
  if (Status st = readTime(date, e.date.value, e.date.utcForm, fn); st != Status::Ok) {
    return st;
  }
  if (!fields.atEnd()) {
    Tlv exts;
    as = "RyAsn1_ReadSequence";
    if (Status st = fields.next(exts, fn); st != Status::Ok) {
      return st;
    }
    if (exts.id != kIdSequence) {
      fn = nullptr;
      return Status::TagNotMatch;
    }
    DerReader list2(exts.content);
    while (!list2.atEnd()) {
      Tlv ext;
      as = "RyAsn1_ReadSequence";
      if (Status st = list2.next(ext, fn); st != Status::Ok) {
        return st;
      }
      if (Status st = parseEntryExtension(ext, e, reasonAt, fn, as); st != Status::Ok) {
        return st;
      }
    }
    // Later elements of an entry are not read, but must be elements.
    while (!fields.atEnd()) {
      Tlv more;
      as = "RyAsn1_ReadSequence";
      if (Status st = fields.next(more, fn); st != Status::Ok) {
        return st;
      }
    }
  }
  size = entry.whole.size();
  return Status::Ok;
}

// The element at `p` when it carries identifier `id` and a one-octet
// length (X.690 8.1.3.4) that ends by `end`; `p` then moves past it. false
// for anything else (`p` unmoved), which the general reader then judges.
inline bool shortElement(const uint8_t *&p, const uint8_t *end, uint8_t id, ByteSpan &content) {
  if (end - p < 2 || p[0] != id || p[1] >= 0x80 || size_t(end - p) - 2 < p[1]) {
    return false;
  }
  content = {p + 2, p[1]};
  p += 2 + p[1];
  return true;
}

// Reads the entry at `p` in the shape nearly every CRL gives it (one-octet
// lengths inside, at most 255 content octets, nothing after the
// extensions) in one pass into `s`, with offsets from `base`. false when
// the entry has another shape or fails any check: parseEntry, which reads
// every shape, then decides. What this accepts parseEntry accepts too, with
// the same values.
bool readCommonEntry(const uint8_t *p, const uint8_t *end, const uint8_t *base, RevokedSlot &s,
                     size_t &size) {
  if (end - p < 2 || p[0] != kIdSequence) {
    return false;
  }
  size_t len = p[1];
  size_t hdr = 2;
  if (len >= 0x80) {
    // X.690 10.1: 81 is followed by a length of 128 to 255 only.
    if (len != 0x81 || end - p < 3 || p[2] < 0x80) {
      return false;
    }
    len = p[2];
    hdr = 3;
  }
  if (size_t(end - p) - hdr < len) {
    return false;
  }
  const uint8_t *q = p + hdr;
  const uint8_t *const last = q + len;
  ByteSpan serial;
  if (!shortElement(q, last, kIdInteger, serial) || serial.empty()) {
    return false;
  }
  serial = magnitudeOf(serial);
  // Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }, each
  // with its one text length (X.690 11.7, 11.8).
  ByteSpan text;
  const uint8_t dateId = q < last ? q[0] : 0;
  if (!shortElement(q, last, dateId, text) ||
      text.size() != (dateId == kIdUtcTime           ? kUtcTextLen
                      : dateId == kIdGeneralizedTime ? kGeneralizedTextLen
                                                     : 0)) {
    return false;
  }
  uint32_t date = 0;
  const char *fn = nullptr;
  if (textToTime(text, date, fn) != Status::Ok) {
    return false;
  }
  uint32_t reasonAt = 0;
  if (q != last) {
    ByteSpan exts;
    if (!shortElement(q, last, kIdSequence, exts) || q != last) {
      return false;
    }
    for (const uint8_t *x = exts.data(), *const xEnd = x + exts.size(); x != xEnd;) {
      ByteSpan ext;
      ByteSpan extnId;
      ByteSpan critical;
      ByteSpan value;
      if (!shortElement(x, xEnd, kIdSequence, ext)) {
        return false;
      }
      const uint8_t *y = ext.data();
      const uint8_t *const yEnd = y + ext.size();
      if (!shortElement(y, yEnd, kIdOid, extnId) ||
          (y != yEnd && y[0] == kIdBoolean && !shortElement(y, yEnd, kIdBoolean, critical)) ||
          !shortElement(y, yEnd, kIdOctetString, value) || y != yEnd) {
        return false;
      }
      if (oid::equal(extnId, oid::kCrlReason)) {
        const uint8_t *r = value.data();
        ByteSpan reason;
        if (!shortElement(r, r + value.size(), kIdEnumerated, reason) ||
            r != value.data() + value.size() || reason.empty()) {
          return false;
        }
        reasonAt = uint32_t(value.data() - base) + 1;
      }
    }
  }
  s = {uint32_t(serial.data() - base), uint32_t(serial.size()), date, reasonAt};
  size = hdr + len;
  return true;
}

// The number of elements at the start of `content`, up to the first whose
// header cannot be read or whose content runs past the end.
size_t countElements(ByteSpan content) {
  size_t n = 0;
  while (!content.empty()) {
    // A one-octet length (X.690 8.1.3.4) is read here; others by parseHeader.
    if (content.size() >= 2 && content[1] < 0x80 && (content[0] & 0x1F) != 0x1F) {
      if (content[1] > content.size() - 2) {
        break;
      }
      content = content.subspan(2 + content[1]);
      ++n;
      continue;
    }
    Header h;
    if (parseHeader(content, h) != HeaderFault::None ||
        h.contentLen > content.size() - h.headerLen) {
      break;
    }
    content = content.subspan(h.headerLen + h.contentLen);
    ++n;
  }
  return n;
}

}  // namespace

CrlTbs::CrlTbs() { initName(issuer); }

CrlTbs::~CrlTbs() {
  Hx_ClearAnybuf(&own);
  clearField(tbs);
  clearField(innerAlg);
  clearName(issuer);
  Hx_ClearAnybuf(&revokedOwn);
}

void swapTbs(CrlTbs &a, CrlTbs &b) {
  std::swap(a.own, b.own);
  std::swap(a.tbs, b.tbs);
  std::swap(a.versionSet, b.versionSet);
  std::swap(a.version, b.version);
  std::swap(a.innerAlg, b.innerAlg);
  swapNames(a.issuer, b.issuer);
  std::swap(a.thisUpdate, b.thisUpdate);
  std::swap(a.nextUpdate, b.nextUpdate);
  std::swap(a.nextUpdateSet, b.nextUpdateSet);
  std::swap(a.revokedOwn, b.revokedOwn);
  a.revoked.swap(b.revoked);
}

ByteSpan RevokedWalk::reason() const {
  const uint32_t at1 = slots[at].reasonAt;
  if (at1 == 0) {
    return {};
  }
  // The ENUMERATED element was read when the list was decoded.
  const ByteSpan elem = entries.subspan(at1 - 1);
  Header h;
  parseHeader(elem, h);
  return elem.subspan(h.headerLen, h.contentLen);
}

//   revokedCertificates SEQUENCE OF SEQUENCE { ... } OPTIONAL
// Every entry is read once here, into its slot, so that the cursor's
// answers parse nothing and cannot fail. The slots are one block, sized by
// a first pass that counts the entries.
Status decodeRevoked(const Tlv &revoked, RevokedWalk &out) {
  if (revoked.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  RevokedWalk walk;
  walk.entries = revoked.content;
  walk.count = countElements(revoked.content);
  if (walk.count != 0) {
    // At least two octets per counted element: the product cannot overflow.
    walk.slots = reinterpret_cast<RevokedSlot *>(RY_ALLOC(walk.count * sizeof(RevokedSlot)));
    if (walk.slots == nullptr) {
      return RY_NO_MEMORY();
    }
  }
  const uint8_t *const base = revoked.content.data();
  const uint8_t *const end = base + revoked.content.size();
  const uint8_t *p = base;
  // Past the counted entries stands an element that cannot be read (the
  // general reader reports it) or nothing.
  for (size_t i = 0; i <= walk.count && p != end; ++i) {
    size_t size = 0;
    if (i == walk.count || !readCommonEntry(p, end, base, walk.slots[i], size)) {
      RevokedEntry e;
      const uint8_t *reasonAt = nullptr;
      const char *fn = nullptr;
      const char *as = nullptr;
      if (Status st = parseEntry({p, end}, e, reasonAt, size, fn, as); st != Status::Ok) {
        return logged(st, fn, as);
      }
      if (i == walk.count) {
        // Not reached: the count pass reads headers as parseEntry does.
        return logged(Status::InvalidLength, "lTotalLength != 0", "RyAsn1_ReadSequence");
      }
      walk.slots[i] = {uint32_t(e.serial.data() - base), uint32_t(e.serial.size()), e.date.value,
                       reasonAt == nullptr ? 0 : uint32_t(reasonAt - base) + 1};
    }
    p += size;
  }
  out.swap(walk);
  RY_LOG("======>", "Hx_CRL_DecodeRevokedCerts");
  return Status::Ok;
}

//   TBSCertList ::= SEQUENCE {
//        version                 Version OPTIONAL,  -- if present, MUST be v2
//        signature               AlgorithmIdentifier,
//        issuer                  Name,
//        thisUpdate              Time,
//        nextUpdate              Time OPTIONAL,
//        revokedCertificates     SEQUENCE OF SEQUENCE { ... } OPTIONAL,
//        crlExtensions           [0] EXPLICIT Extensions OPTIONAL }   (RFC 5280 5.1)
Status decodeTbs(const Tlv &tbs, CrlTbs &out) {
  if (tbs.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  setView(out.tbs, tbs.whole);
  const char *fn = nullptr;
  DerReader r(tbs.content);
  Tlv version;
  bool hasVersion = false;
  if (Status st = RY_STEP(r.optional(kIdInteger, version, hasVersion, fn), fn, "RyAsn1_ReadInteger");
      st != Status::Ok) {
    return st;
  }
  if (hasVersion) {
    if (Status st = readVersion(version, out.version); st != Status::Ok) {
      return st;
    }
    out.versionSet = true;
  }
  Tlv alg;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, alg, fn, Status::CrlNotEnd), fn,
                          "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  ByteSpan algOid;
  if (Status st = readAlgorithmOf(alg, Status::CrlNotEnd, algOid); st != Status::Ok) {
    return st;
  }
  setView(out.innerAlg, algOid);
  Tlv issuer;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, issuer, fn, Status::CrlNotEnd), fn,
                          "Hx_DecodeIssuerSubject");
      st != Status::Ok) {
    return st;
  }
  if (Status st = checkName(issuer, out.issuer, "Hx_DecodeIssuerSubject"); st != Status::Ok) {
    return st;
  }
  Tlv thisUpdate;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, thisUpdate, fn, Status::CrlNotEnd), fn,
                          "RyAsn1_ReadGeneralizedTime");
      st != Status::Ok) {
    return st;
  }
  if (Status st = readTime(thisUpdate, out.thisUpdate.value, out.thisUpdate.utcForm, fn);
      st != Status::Ok) {
    return logged(st, fn, "RyAsn1_ReadGeneralizedTime");
  }
  // nextUpdate is OPTIONAL: a Time when the next element is one.
  if (!r.atEnd() && (r.rest()[0] == kIdUtcTime || r.rest()[0] == kIdGeneralizedTime)) {
    Tlv nextUpdate;
    if (Status st = RY_STEP(r.next(nextUpdate, fn), fn, "RyAsn1_ReadGeneralizedTime");
        st != Status::Ok) {
      return st;
    }
    if (Status st = readTime(nextUpdate, out.nextUpdate.value, out.nextUpdate.utcForm, fn);
        st != Status::Ok) {
      return logged(st, fn, "RyAsn1_ReadGeneralizedTime");
    }
    out.nextUpdateSet = true;
  }
  Tlv revoked;
  bool hasRevoked = false;
  if (Status st = RY_STEP(r.optional(kIdSequence, revoked, hasRevoked, fn), fn,
                          "Hx_CRL_DecodeRevokedCerts");
      st != Status::Ok) {
    return st;
  }
  if (hasRevoked) {
    if (Status st = decodeRevoked(revoked, out.revoked); st != Status::Ok) {
      return RY_FAILED(st, "Hx_CRL_DecodeRevokedCerts");
    }
  }
  // crlExtensions and anything after are not read, but must be elements.
  while (!r.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(r, more, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
  }
  RY_LOG("======>", "Hx_CRL_DecodeTBS");
  return Status::Ok;
}

}  // namespace rycert2

CrlCtx::~CrlCtx() {
  using namespace rycert2;
  Hx_ClearAnybuf(&crlDer);
  clearField(outerAlg);
  clearField(signature);
  Hx_ClearAnybuf(&issuerDnText);
  clearSigner(signer);
}

namespace rycert2 {
namespace {

Status createCtx(CrlCtx **out) { return newContext(out, kSrcFile, "RyCert_CreateCrlEncodeCtx"); }

Status destroyCtx(CrlCtx *ctx) {
  return deleteContext(ctx, kSrcFile, "RyCert_DestroyCrlEncodeCtx");
}

//   CertificateList ::= SEQUENCE { tbsCertList TBSCertList,
//        signatureAlgorithm AlgorithmIdentifier, signatureValue BIT STRING }
// Decodes into fresh state and hands it to the context only when all of it
// has been read: a failed decode leaves the context as it was.
Status decodeCrl(CrlCtx &ctx, const uint8_t *der, uint32_t derLen) {
  RY_LOG("======>", "RyCert_DecodeCrl Begin");
  AnyBuf copy{};
  EmbeddedGuard copyGuard(copy);
  ByteSpan content;
  if (Status st = openSignedCopy(der, derLen, copy, content); st != Status::Ok) {
    return st;
  }
  DerReader r(content);
  CrlTbs t;
  Tlv tbs;
  const char *fn = nullptr;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, tbs, fn, Status::CrlNotEnd), fn,
                          "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = decodeTbs(tbs, t); st != Status::Ok) {
    return RY_FAILED(st, "Hx_CRL_DecodeTBS");
  }
  ByteSpan algOid;
  ByteSpan sig;
  if (Status st = readSignatureFields(r, Status::CrlNotEnd, algOid, sig); st != Status::Ok) {
    return st;
  }
  // Commit: the old state goes with `t` and `copy`.
  swapTbs(ctx.t, t);
  std::swap(ctx.crlDer, copy);
  clearField(ctx.outerAlg);
  setView(ctx.outerAlg, algOid);
  clearField(ctx.signature);
  setView(ctx.signature, sig);
  Hx_ClearAnybuf(&ctx.issuerDnText);
  RY_LOG("======>", "RyCert_DecodeCrl End");
  return Status::Ok;
}

Status decodeTbsAlone(CrlCtx &ctx, const AnyBuf *rec) {
  CrlTbs t;
  Tlv tbs;
  if (Status st = openOwnCopy(rec, t.own, tbs, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = decodeTbs(tbs, t); st != Status::Ok) {
    return st;
  }
  swapTbs(ctx.t, t);
  Hx_ClearAnybuf(&ctx.issuerDnText);
  return Status::Ok;
}

Status decodeRevokedAlone(CrlCtx &ctx, const AnyBuf *rec) {
  AnyBuf own{};
  EmbeddedGuard ownGuard(own);
  Tlv revoked;
  if (Status st = openOwnCopy(rec, own, revoked, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  RevokedWalk walk;
  if (Status st = decodeRevoked(revoked, walk); st != Status::Ok) {
    return st;
  }
  std::swap(ctx.t.revokedOwn, own);
  ctx.t.revoked.swap(walk);
  return Status::Ok;
}

// ------------------------------------------------------------- queries

// The entry walk makes several queries per entry: a line that goes nowhere
// is not looked up.
Status answer(const AttrRow &row, ByteSpan value, uint8_t *buffer, uint32_t *length) {
  if (MOSK_DebugEnabled() != 0) {
    RY_LOG_GET(row, buffer == nullptr);
  }
  answerBytes(value, buffer, length);
  return Status::Ok;
}

// The queries of the fixed fields and of the issuer: kept out of line, so
// that the cursor's queries, made per entry, stay small.
[[gnu::noinline]] Status getFieldChar(CrlCtx &ctx, const AttrRow &row, uint8_t *buffer,
                                      uint32_t *length) {
  switch (row.kind) {
    case AttrKind::Name: {
      // Absent: nothing written, nothing logged (the caller preset the length).
      const NameComponent *c = rowComponent(row);
      const ByteSpan value = c != nullptr ? firstComponent(ctx.t.issuer, c->code) : ByteSpan{};
      return value.empty() ? Status::Ok : answer(row, value, buffer, length);
    }
    case AttrKind::DnText:
      if (ctx.issuerDnText.length == 0) {
        if (renderDn(ctx.t.issuer, ctx.issuerDnText) != Status::Ok) {
          // Benign: no text this time (length untouched); the next query tries again.
          RY_LOG("======>", "Get Hx_GetDN Len");
          return Status::Ok;
        }
      }
      return answer(row, bytesOf(ctx.issuerDnText), buffer, length);
    default:
      break;
  }
  switch (row.slot) {
    case kCrlTbs:
      return answer(row, ctx.t.tbs.view(), buffer, length);
    case kCrlOuterAlg:
      return answer(row, ctx.outerAlg.view(), buffer, length);
    case kCrlSignature:
      return answer(row, ctx.signature.view(), buffer, length);
    case kCrlInnerAlg:
      return answer(row, ctx.t.innerAlg.view(), buffer, length);
    default:
      return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
}

Status getChar(CrlCtx &ctx, uint32_t id, uint8_t *buffer, uint32_t *length) {
  const AttrRow *row = crlRow(id, false, kAttrGet);
  if (row == nullptr) {
    return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
  // Moving the cursor uses neither the buffer nor the length.
  if (row->slot != kCrlNext) {
    RY_REQUIRE(length);
  }
  RevokedWalk &walk = ctx.t.revoked;
  switch (row->slot) {
    case kCrlSerial:
      if (!walk.onEntry()) {
        // Past the last entry (or none): length 0 is the end of the list.
        RY_LOG("======>", "Get CRL_CERT_SERIALNUMBER");
        *length = 0;
        return Status::Ok;
      }
      return answer(*row, walk.serial(), buffer, length);
    case kCrlNext:
      if (walk.onEntry()) {
        ++walk.at;
      }
      RY_LOG("======>", "Get CRL_CERT_NEXT");
      return Status::Ok;
    case kCrlReason:
      if (walk.onEntry()) {
        const ByteSpan reason = walk.reason();
        if (!reason.empty()) {
          return answer(*row, reason, buffer, length);
        }
      }
      return Status::Ok;
    default:
      return getFieldChar(ctx, *row, buffer, length);
  }
}

// Its three lines ask once whether the log is on.
Status getInt(CrlCtx &ctx, uint32_t id, uint32_t *value) {
  const bool logOn = MOSK_DebugEnabled() != 0;
  if (logOn) {
    RY_LOG("======>", "RyCert_GetCrlAttributeInt Begin");
  }
  const AttrRow *row = crlRow(id, true, kAttrGet);
  if (row == nullptr) {
    return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
  if (logOn) {
    RY_LOG_GET(*row, false);
  }
  const RevokedWalk &walk = ctx.t.revoked;
  switch (row->slot) {
    case kCrlVersion:
      if (ctx.t.versionSet) {
        *value = ctx.t.version;
      }
      break;
    case kCrlThisUpdate:
      *value = ctx.t.thisUpdate.value;
      break;
    case kCrlNextUpdate:
      if (ctx.t.nextUpdateSet) {
        *value = ctx.t.nextUpdate.value;
      }
      break;
    case kCrlRevocationDate:
      if (walk.onEntry()) {
        *value = walk.date();
      }
      break;
    default:
      return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
  if (logOn) {
    RY_LOG("======>", "RyCert_GetCrlAttributeInt End");
  }
  return Status::Ok;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t RyCert_CreateCrlEncodeCtx(CrlCtx **ctx) {
  return RY_C_BOUNDARY({ return createCtx(ctx); });
}

RYCERT_API uint32_t RyCert_CreateCrlDecodeCtx(CrlCtx **ctx) {
  return RY_C_BOUNDARY({ return createCtx(ctx); });
}

RYCERT_API uint32_t RyCert_DestroyCrlEncodeCtx(CrlCtx *ctx) {
  return RY_C_BOUNDARY({ return destroyCtx(ctx); });
}

RYCERT_API uint32_t RyCert_DestroyCrlDecodeCtx(CrlCtx *ctx) {
  return RY_C_BOUNDARY({ return destroyCtx(ctx); });
}

RYCERT_API uint32_t RyCert_DecodeCrl(CrlCtx *ctx, const uint8_t *der, uint32_t derLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, der);
    return decodeCrl(*ctx, der, derLen);
  });
}

RYCERT_API uint32_t Hx_CRL_DecodeTBS(CrlCtx *ctx, const AnyBuf *tbs) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, tbs);
    return decodeTbsAlone(*ctx, tbs);
  });
}

RYCERT_API uint32_t Hx_CRL_DecodeRevokedCerts(const AnyBuf *revoked, CrlCtx *ctx) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(revoked, ctx);
    return decodeRevokedAlone(*ctx, revoked);
  });
}

RYCERT_API uint32_t RyCert_GetCrlAttributeChar(CrlCtx *ctx, uint32_t id, uint8_t *buffer,
                                               uint32_t *length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    return getChar(*ctx, id, buffer, length);
  });
}

RYCERT_API uint32_t RyCert_GetCrlAttributeInt(CrlCtx *ctx, uint32_t id, uint32_t *value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, value);
    return getInt(*ctx, id, value);
  });
}

}  // extern "C"
