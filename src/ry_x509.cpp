// Shared X.509 pieces of the certificate, CRL and request contexts (see
// ry_x509.h): byte fields, names kept as DER plus appended nodes, attribute
// tables and their log lines, time and AlgorithmIdentifier, and the one
// signing step.
#include "ry_x509.h"

#include <cstring>
#include <utility>

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_x509";
}  // namespace

// ------------------------------------------------------------ byte fields

Status setCopy(ByteField &f, ByteSpan bytes) {
  uint8_t *block = nullptr;
  if (!bytes.empty()) {
    block = RY_ALLOC(bytes.size());
    if (block == nullptr) {
      return RY_NO_MEMORY();
    }
    std::memcpy(block, bytes.data(), bytes.size());
  }
  clearField(f);
  f.data = block;
  f.length = uint32_t(bytes.size());
  f.owned = block != nullptr;
  return Status::Ok;
}

void setView(ByteField &f, ByteSpan bytes) {
  clearField(f);
  f.data = bytes.data();
  f.length = uint32_t(bytes.size());
}

void clearField(ByteField &f) {
  if (f.owned) {
    MOSK_Free(const_cast<uint8_t *>(f.data));
  }
  f = ByteField{};
}

// ------------------------------------------------------------------ names

void initName(NameField &n) {
  n.der = {};
  n.head = nullptr;
  n.tail = &n.head;
  n.indexed = nullptr;
  for (NameField::Seen &s : n.seen) {
    s = NameField::Seen{};
  }
}

void swapNames(NameField &a, NameField &b) {
  std::swap(a.der, b.der);
  std::swap(a.head, b.head);
  std::swap(a.tail, b.tail);
  std::swap(a.indexed, b.indexed);
  std::swap(a.seen, b.seen);
  // An empty chain's tail points at its own head.
  if (a.head == nullptr) {
    a.tail = &a.head;
  }
  if (b.head == nullptr) {
    b.tail = &b.head;
  }
}

void clearName(NameField &n) {
  Hx_FreeName(n.head);
  initName(n);
}

Status appendComponent(NameField &n, const NameComponent &c, ByteSpan value) {
  auto *node = reinterpret_cast<RyNameNode *>(RY_ALLOC(sizeof(RyNameNode)));
  if (node == nullptr) {
    return RY_NO_MEMORY();
  }
  *node = RyNameNode{};
  node->type.id = c.code;
  node->type.oid.tag = kIdOid;
  node->value.tag = 19;  // PrintableString; the Name writer picks a type that holds it
  if (Hx_SetAttributeCharValue(&node->type.oid, c.oid.data(), uint32_t(c.oid.size())) !=
          RYCERT_OK ||
      Hx_SetAttributeCharValue(&node->value, value.data(), uint32_t(value.size())) != RYCERT_OK) {
    Hx_FreeName(node);
    return Status::Memory;  // logged by Hx_SetAttributeCharValue
  }
  *n.tail = node;
  n.tail = &node->next;
  return Status::Ok;
}

namespace {

// componentByOid without a search: the recognised X.520 types are 55 04 n,
// looked up by n; the e-mail address is the one longer OID. Built from
// kNameComponents, so the table stays the one source.
inline constexpr uint8_t kX520Prefix[] = {0x55, 0x04};
inline constexpr auto kX520ByLastOctet = [] {
  std::array<int8_t, 32> at{};
  for (auto &a : at) {
    a = -1;
  }
  for (size_t k = 0; k < std::size(kNameComponents); ++k) {
    const auto &c = kNameComponents[k];
    if (c.textSlot >= 0 && c.oid.size() == 3 && c.oid[0] == kX520Prefix[0] &&
        c.oid[1] == kX520Prefix[1] && c.oid[2] < 32) {
      at[c.oid[2]] = int8_t(k);
    }
  }
  return at;
}();

const NameComponent *recognised(ByteSpan type) {
  if (type.size() == 3 && type[0] == kX520Prefix[0] && type[1] == kX520Prefix[1]) {
    const int8_t k = type[2] < 32 ? kX520ByLastOctet[type[2]] : int8_t(-1);
    return k >= 0 ? &kNameComponents[k] : nullptr;
  }
  return type.size() == 3 ? nullptr : componentByOid(type);
}

// The first AttributeTypeAndValue of one RDN, from checked DER:
//   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
//   AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }
struct Atv {
  ByteSpan type;
  ByteSpan value;
};

// Walks the RDNs of a checked Name; `fn(const Atv&)` for each first ATV.
template <class Fn>
void forEachAtv(ByteSpan rdns, Fn &&fn) {
  const char *fn_ = nullptr;
  DerReader r(rdns);
  while (!r.atEnd()) {
    Tlv rdn, atv, type, value;
    if (r.next(rdn, fn_) != Status::Ok) {
      return;  // checked by checkName; cannot happen
    }
    DerReader set(rdn.content);
    if (set.next(atv, fn_) != Status::Ok) {
      return;
    }
    DerReader parts(atv.content);
    if (parts.next(type, fn_) != Status::Ok || parts.next(value, fn_) != Status::Ok) {
      return;
    }
    fn(Atv{type.content, value.content});
  }
}

}  // namespace

// Mirrors the node decoder (readName), check for check and log
// line for log line, without building nodes.
Status checkName(const Tlv &name, NameField &n, const char *as) {
  const auto fail = [&](Status st, const char *what) {
    RY_FAILED(st, what);
    return as != nullptr ? RY_FAILED(st, as) : st;
  };
  if (name.id != kIdSequence) {
    RY_FAILED(Status::TagNotMatch, "TAG != RY_DER_ID_SEQUENCE");
    return fail(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  const char *fn = nullptr;
  NameField::Seen seen[std::size(kNameComponents)];
  DerReader rdns(name.content);
  while (!rdns.atEnd()) {
    Tlv rdn;
    if (Status st = rdns.next(rdn, fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return fail(st, "RyAsn1_ReadSequence");
    }
    if (rdn.id != kIdSet) {
      return fail(Status::TagNotMatch, "RyAsn1_ReadSet");
    }
    DerReader attrs(rdn.content);
    if (attrs.atEnd()) {
      return fail(Status::InvalidLength, "RyAsn1_ReadSet");  // SET SIZE (1..MAX)
    }
    Tlv atv;
    bool firstAtv = true;
    while (!attrs.atEnd()) {
      Tlv more;
      if (Status st = attrs.next(more, fn); st != Status::Ok) {
        RY_FAILED(st, fn);
        return fail(st, "RyAsn1_ReadSet");
      }
      if (firstAtv) {
        atv = more;
        firstAtv = false;
      }
    }
    if (atv.id != kIdSequence) {
      return fail(Status::TagNotMatch, "RyAsn1_ReadSequence");
    }
    DerReader parts(atv.content);
    Tlv type, value;
    if (Status st = parts.expect(DerReader::kAnyId, type, fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return fail(st, "RyAsn1_ReadSequence");
    }
    if (Status st = parts.expect(DerReader::kAnyId, value, fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return fail(st, "RyAsn1_ReadSequence");
    }
    if (Status st = parts.finish(fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return fail(st, "RyAsn1_ReadSequence");
    }
    if (type.id != kIdOid || type.content.empty()) {
      return fail(Status::TagNotMatch, "RyAsn1_ReadObjectId");
    }
    if (const NameComponent *c = recognised(type.content); c != nullptr) {
      NameField::Seen &s = seen[c - kNameComponents];
      const auto at = uint32_t(value.content.data() - name.content.data());
      const auto len = uint32_t(value.content.size());
      if (s.firstAt == NameField::kNoValue) {
        s.firstAt = at;
        s.firstLen = len;
      }
      s.lastAt = at;
      s.lastLen = len;
    }
  }
  n.der = name.content;
  n.indexed = name.content.data();
  std::copy(std::begin(seen), std::end(seen), std::begin(n.seen));
  return Status::Ok;
}

namespace {
bool indexUsable(const NameField &n) { return !n.der.empty() && n.indexed == n.der.data(); }
ByteSpan seenValue(const NameField &n, uint32_t at, uint32_t len) {
  return at == NameField::kNoValue ? ByteSpan{} : n.der.subspan(at, len);
}
}  // namespace

ByteSpan firstComponent(const NameField &n, const NameComponent &c) {
  if (indexUsable(n)) {
    const NameField::Seen &s = n.seen[&c - kNameComponents];
    if (s.firstAt != NameField::kNoValue) {
      return seenValue(n, s.firstAt, s.firstLen);
    }
    for (const RyNameNode *p = n.head; p != nullptr; p = p->next) {
      if (p->type.id == c.code) {
        return bytesOf(p->value);
      }
    }
    return {};
  }
  return firstComponent(n, c.code);
}

ByteSpan firstComponent(const NameField &n, uint32_t code) {
  const NameComponent *comp = componentByCode(code);
  if (indexUsable(n) && comp != nullptr) {
    const NameField::Seen &s = n.seen[comp - kNameComponents];
    if (s.firstAt != NameField::kNoValue) {
      return seenValue(n, s.firstAt, s.firstLen);
    }
  }
  ByteSpan found;
  bool have = false;
  forEachAtv(indexUsable(n) ? ByteSpan{} : n.der, [&](const Atv &a) {
    if (have) {
      return;
    }
    const NameComponent *c = recognised(a.type);
    if (c != nullptr && c->code == code) {
      found = a.value;
      have = true;
    }
  });
  if (have) {
    return found;
  }
  for (const RyNameNode *p = n.head; p != nullptr; p = p->next) {
    if (p->type.id == code) {
      return bytesOf(p->value);
    }
  }
  return {};
}

Status renderDn(const NameField &n, AnyBuf &out) {
  // Last occurrence of each shown component wins (Hx_GetDN).
  ByteSpan slot[kTextSlots] = {};
  bool present[kTextSlots] = {};
  const auto take = [&](const NameComponent *c, ByteSpan v) {
    if (c != nullptr && c->textSlot >= 0) {
      slot[c->textSlot] = v;
      present[c->textSlot] = true;
    }
  };
  if (indexUsable(n)) {
    for (size_t i = 0; i < std::size(kNameComponents); ++i) {
      const NameField::Seen &s = n.seen[i];
      if (s.lastAt != NameField::kNoValue) {
        take(&kNameComponents[i], seenValue(n, s.lastAt, s.lastLen));
      }
    }
  } else {
    forEachAtv(n.der, [&](const Atv &a) { take(recognised(a.type), a.value); });
  }
  for (const RyNameNode *p = n.head; p != nullptr; p = p->next) {
    take(componentByCode(p->type.id), bytesOf(p->value));
  }
  uint64_t size = 0;
  for (size_t i = 0; i < kTextSlots; ++i) {
    if (present[i]) {
      size += componentAtTextSlot(i).key.size() + 2 + slot[i].size();  // "K=" value ","
    }
  }
  if (size == 0) {
    return Status::Ok;
  }
  size -= 1;  // no "," after the last component
  if (size > 0xFFFFFFFFu) {
    return RY_FAILED(Status::InvalidLength, "Hx_GetDN");
  }
  uint8_t *text = RY_ALLOC(size_t(size));
  if (text == nullptr) {
    return RY_NO_MEMORY();
  }
  uint8_t *p = text;
  bool first = true;
  for (size_t i = 0; i < kTextSlots; ++i) {
    if (!present[i]) {
      continue;
    }
    if (!first) {
      *p++ = ',';
    }
    first = false;
    const std::string_view key = componentAtTextSlot(i).key;
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '=';
    if (!slot[i].empty()) {
      std::memcpy(p, slot[i].data(), slot[i].size());
      p += slot[i].size();
    }
  }
  out.data = text;
  out.length = uint32_t(size);
  return Status::Ok;
}

Status writeNameField(DerWriter &w, const NameField &n) {
  if (n.der.empty()) {
    return writeName(w, n.head);
  }
  const DerWriter::Mark name = w.open(kIdSequence);
  w.raw(n.der);
  if (n.head != nullptr) {
    // Decoded RDNs followed by appended nodes: the nodes' Name is written
    // on its own and its RDNs taken over without the outer header.
    DerWriter nodes;
    if (Status st = writeName(nodes, n.head); st != Status::Ok) {
      return st;
    }
    if (!nodes.ok()) {
      w.fail(nodes.status(), nodes.failName());
      return Status::Ok;
    }
    Header h;
    if (parseHeader(nodes.bytes(), h) == HeaderFault::None) {
      w.raw(nodes.bytes().subspan(h.headerLen));
    }
  }
  w.close(name);
  return Status::Ok;
}

const NameComponent *componentAtOffset(int64_t id, int64_t firstId) {
  const int64_t i = id - firstId;
  if (i < 0 || i >= int64_t(std::size(kNameIdOrder))) {
    return nullptr;
  }
  return componentByCode(kNameIdOrder[i]);
}

// ------------------------------------------------------- attribute tables

const AttrRow *findAttr(std::span<const AttrRow> rows, int64_t id) {
  size_t lo = 0;
  size_t hi = rows.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (rows[mid].id < id) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < rows.size() && rows[lo].id == id ? &rows[lo] : nullptr;
}

void logSet(const char *src, int line, const AttrRow &row) {
  logLine(src, line, "======>Set ", row.logName);
}

void logGet(const char *src, int line, const AttrRow &row, bool lengthQuery) {
  std::string_view suffix;
  if (lengthQuery) {
    suffix = (row.flags & kAttrUpperLen) != 0 ? " LEN" : " Len";
  }
  logLine(src, line, "======>Get ", row.logName, suffix);
}

void logText(const char *src, int line, const char *text) {
  MOSK_DebugMessage(kLogFile, src, line, text);
}

// ------------------------------------------------------------------- time

void writeTime(DerWriter &w, uint32_t t, bool utcForm) {
  // RFC 5280 4.1.2.5: UTCTime through 2049, GeneralizedTime from 2050.
  const bool generalized = !utcForm || t >= kGeneralizedTimeFrom;
  uint8_t text[kGeneralizedTextLen];
  const char *failName = nullptr;
  if (timeToText(t, generalized, text, failName) != Status::Ok) {
    w.fail(Status::InvalidTime,
           generalized ? "RyAsn1_WriteGeneralizedTime" : "RyAsn1_WriteUtcTime");
    return;
  }
  w.element(generalized ? kIdGeneralizedTime : kIdUtcTime,
            {text, generalized ? kGeneralizedTextLen : kUtcTextLen});
}

//   Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }
Status readTime(const Tlv &t, uint32_t &time, bool &utcForm, const char *&failName) {
  const bool utc = t.id == kIdUtcTime;
  if (!utc && t.id != kIdGeneralizedTime) {
    failName = "RyAsn1_ReadUtcTime";
    return Status::TagNotMatch;
  }
  // X.690 11.7 / 11.8: each identifier has its one text length.
  if (t.content.size() != (utc ? kUtcTextLen : kGeneralizedTextLen)) {
    failName = utc ? "RyAsn1_ReadUtcTime" : "RyAsn1_ReadGeneralizedTime";
    return Status::InvalidTimeEnd;
  }
  uint32_t v = 0;
  const char *inner = nullptr;
  if (Status st = textToTime(t.content, v, inner); st != Status::Ok) {
    failName = utc ? "RyAsn1_ReadUtcTime" : "RyAsn1_ReadGeneralizedTime";
    return st;
  }
  time = v;
  utcForm = utc;
  return Status::Ok;
}

// ---------------------------------------------------- AlgorithmIdentifier

void writeAlgorithm(DerWriter &w, ByteSpan oid, bool nullParams) {
  if (oid.empty()) {
    w.fail(Status::InvalidLength, "RyAsn1_WriteObjectId");  // 06 00 is no OID
    return;
  }
  const DerWriter::Mark alg = w.open(kIdSequence);
  w.oid(oid);
  if (nullParams) {
    w.null();
  }
  w.close(alg);
}

Status readAlgorithm(const Tlv &alg, ByteSpan &oid, const char *&failName) {
  if (alg.id != kIdSequence) {
    failName = "RyAsn1_ReadSequence";
    return Status::TagNotMatch;
  }
  DerReader parts(alg.content);
  Tlv o;
  const char *fn = nullptr;
  if (parts.atEnd()) {
    failName = "RyAsn1_ReadObjectId";
    return Status::InvalidLength;
  }
  if (Status st = parts.next(o, fn); st != Status::Ok) {
    failName = "RyAsn1_ReadSequence";
    return st;
  }
  if (o.id != kIdOid) {
    failName = "RyAsn1_ReadObjectId";
    return Status::TagNotMatch;
  }
  if (o.content.empty()) {
    failName = "RyAsn1_ReadObjectId";
    return Status::InvalidLength;
  }
  // Parameters are not kept; they must still be well-formed elements.
  while (!parts.atEnd()) {
    Tlv param;
    if (Status st = parts.next(param, fn); st != Status::Ok) {
      failName = "RyAsn1_ReadSequence";
      return st;
    }
  }
  oid = o.content;
  return Status::Ok;
}

// ------------------------------------------------------ the signing step

Status setSigner(Signer &s, RyCertSignFunc fn, const uint8_t *param, int32_t paramLen) {
  if (param != nullptr && paramLen >= 1) {
    if (Status st = setCopy(s.param, {param, size_t(paramLen)}); st != Status::Ok) {
      return st;
    }
  }
  s.fn = fn;
  return Status::Ok;
}

void clearSigner(Signer &s) {
  clearField(s.param);
  s.fn = nullptr;
}

void answerCached(const AnyBuf &cache, uint8_t *buffer, uint32_t *outLen, bool &done) {
  done = cache.data != nullptr && cache.length != 0;
  if (done) {
    answerBytes(bytesOf(cache), buffer, outLen);
  }
}

namespace {

// Steps 1 to 5 of the protocol: the signature value in a block of its own.
Status callSigner(const Signer &signer, ByteSpan tbs, const SignSpec &spec, Block &sig,
                  uint32_t &sigLen) {
  if (signer.fn == nullptr) {
    return RY_FAILED(kNoSignFunc, "RyCertSignFunc is NULL");
  }
  if (spec.algorithmOid.empty()) {
    // Refused before the callback is asked: 06 00 is no OID.
    return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteObjectId");
  }
  if (tbs.size() > 0xFFFFFFFFu) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteSequence");
  }
  const uint32_t tbsLen = uint32_t(tbs.size());
  uint32_t need = 0;
  if (uint32_t rc = signer.fn(tbs.data(), tbsLen, nullptr, &need, nullptr); rc != RYCERT_OK) {
    RY_LOG("------>", "RyCertSignFunc");
    return Status(rc);  // the callback's own value, unchanged
  }
  if (need >= kMaxSignatureLen) {
    return RY_FAILED(Status::InvalidSignatureLen, "RYCERT_InvalidSignatureLenErr");
  }
  // At least one byte, so that the buffer is never NULL on the second call.
  Block buf(RY_ALLOC(need == 0 ? 1 : need));
  if (!buf) {
    return RY_NO_MEMORY();
  }
  uint32_t got = need;
  if (uint32_t rc = signer.fn(tbs.data(), tbsLen, buf.get(), &got, signer.param.data);
      rc != RYCERT_OK) {
    RY_LOG("------>", "RyCertSignFunc");
    return Status(rc);
  }
  if (got > need) {
    return RY_FAILED(Status::InvalidSignatureLen, "RYCERT_InvalidSignatureLenErr");
  }
  if (got == 0) {
    return RY_FAILED(Status::InvalidLength, spec.setterName);
  }
  logLine(kSrcFile, __LINE__, "======>Set ", spec.signatureAttr);
  sig = std::move(buf);
  sigLen = got;
  return Status::Ok;
}

// Where the signature value stands in the finished DER: after the BIT
// STRING's header and unused-bits octet, at the end.
SignedParts locate(ByteSpan der, size_t tbsAt, size_t tbsLen, uint32_t sigLen) {
  return SignedParts{der.subspan(tbsAt, tbsLen), der.subspan(der.size() - sigLen, sigLen)};
}

}  // namespace

Status signAndWrapWriter(const Signer &signer, DerWriter &w, const SignSpec &spec, AnyBuf &der,
                         SignedParts &parts) {
  DerWriter mine(std::move(w));
  if (!mine.ok()) {
    return RY_WRITER_FAILED(mine, "RyAsn1_WriteSequence");
  }
  // The outer SEQUENCE was opened at 0 with one length octet reserved.
  const size_t tbsAt = 2;
  const ByteSpan tbs = mine.bytes().subspan(tbsAt);
  Block sig;
  uint32_t sigLen = 0;
  if (Status st = callSigner(signer, tbs, spec, sig, sigLen); st != Status::Ok) {
    return st;
  }
  const size_t tbsLen = tbs.size();
  writeAlgorithm(mine, spec.algorithmOid, spec.nullParams);
  mine.bitString(0, {sig.get(), sigLen});
  mine.close(DerWriter::Mark{0});
  AnyBuf out{};
  if (Status st = mine.toEmbedded(out); st != Status::Ok) {
    return RY_WRITER_FAILED(mine, "RyAsn1_WriteSequence");
  }
  Header h;
  parseHeader(bytesOf(out), h);
  parts = locate(bytesOf(out), h.headerLen, tbsLen, sigLen);
  der = out;
  return Status::Ok;
}

Status signAndWrap(const Signer &signer, ByteSpan tbs, const SignSpec &spec, AnyBuf &der,
                   SignedParts &parts) {
  DerWriter w;
  w.reserve(tbs.size() + 64);
  w.open(kIdSequence);
  w.raw(tbs);
  return signAndWrapWriter(signer, w, spec, der, parts);
}

}  // namespace rycert2

// ------------------------------------- decoding shared by CRLs and requests

namespace rycert2 {

Status ownCopy(ByteSpan bytes, AnyBuf &own) {
  AnyBuf view{const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()), 0, 2,
              bytes.empty() ? 0u : tagOf(bytes[0]), nullptr, nullptr};
  return copyInto(own, view);
}

Status openOwnCopy(const AnyBuf *rec, AnyBuf &own, Tlv &out, const char *as) {
  Tlv given;
  if (Status st = RY_OPEN(rec, given, as); st != Status::Ok) {
    return st;
  }
  if (Status st = ownCopy(given.whole, own); st != Status::Ok) {
    return st;
  }
  const char *fn = nullptr;
  return openRecord(&own, out, fn);  // the same bytes: cannot fail
}

Status readVersion(const Tlv &v, uint32_t &out) {
  ByteSpan c = v.content;
  if (c.size() >= 2 && c[0] == 0x00) {
    c = c.subspan(1);
  }
  if (c.empty() || c.size() > 4) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadInteger");
  }
  uint32_t n = 0;
  for (uint8_t b : c) {
    n = (n << 8) | b;
  }
  out = n;
  return Status::Ok;
}

Status readAlgorithmOf(const Tlv &alg, Status missing, ByteSpan &oid) {
  if (alg.id == kIdSequence && alg.content.empty()) {
    RY_FAILED(missing, statusName(missing));
    return RY_FAILED(missing, "RyAsn1_ReadObjectId");
  }
  const char *fn = nullptr;
  if (Status st = readAlgorithm(alg, oid, fn); st != Status::Ok) {
    return RY_FAILED(st, fn);
  }
  return Status::Ok;
}

Status readSpki(const Tlv &spki, Status missing, ByteSpan &algorithm, ByteSpan &key) {
  if (spki.id != kIdSequence) {
    RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
    return RY_FAILED(Status::TagNotMatch, "Hx_DecodePubKey");
  }
  const char *fn = nullptr;
  DerReader parts(spki.content);
  Tlv alg;
  Tlv bits;
  Status st = RY_STEP(parts.expect(kIdSequence, alg, fn, missing), fn, "RyAsn1_ReadSequence");
  if (st == Status::Ok) {
    st = RY_STEP(parts.expect(kIdBitString, bits, fn, missing), fn, "RyAsn1_ReadBitString");
  }
  if (st == Status::Ok) {
    st = RY_STEP(parts.finish(fn), fn, "RyAsn1_ReadSequence");
  }
  DerReader algParts(alg.content);
  Tlv oidElem;
  if (st == Status::Ok) {
    st = RY_STEP(algParts.expect(kIdOid, oidElem, fn, missing), fn, "RyAsn1_ReadObjectId");
  }
  if (st == Status::Ok && oidElem.content.empty()) {
    st = RY_FAILED(Status::InvalidLength, "RyAsn1_ReadObjectId");
  }
  while (st == Status::Ok && !algParts.atEnd()) {
    Tlv param;
    st = RY_NEXT(algParts, param, "RyAsn1_ReadSequence");
  }
  if (st == Status::Ok && (bits.content.empty() || bits.content[0] > 7)) {
    st = RY_FAILED(Status::InvalidLength, "RyAsn1_ReadBitString");
  }
  if (st != Status::Ok) {
    return RY_FAILED(st, "Hx_DecodePubKey");
  }
  algorithm = oidElem.whole;
  key = bits.content.subspan(1);
  return Status::Ok;
}

Status openSignedCopy(const uint8_t *der, uint32_t derLen, AnyBuf &copy, ByteSpan &content) {
  // The outer header gives the length; a caller's length shorter than it
  // is refused rather than read past.
  Header h;
  const char *fn = nullptr;
  if (Status st = headerStatus(parseHeader({der, derLen}, h), Status::InvalidLength,
                               "RYCERT_InvalidLengthErr", fn);
      st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, "RyAsn1_GetCertLength");
  }
  if (uint64_t(h.headerLen) + h.contentLen > derLen) {
    RY_FAILED(Status::InvalidLength, "RYCERT_InvalidLengthErr");
    return RY_FAILED(Status::InvalidLength, "RyAsn1_GetCertLength");
  }
  if (h.id != kIdSequence) {
    RY_FAILED(Status::TagNotMatch, "TAG != RY_DER_ID_SEQUENCE");
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  if (Status st = ownCopy({der, h.headerLen + h.contentLen}, copy); st != Status::Ok) {
    return st;
  }
  content = bytesOf(copy).subspan(h.headerLen);
  return Status::Ok;
}

Status readSignatureFields(DerReader &r, Status missing, ByteSpan &algOid, ByteSpan &signature) {
  const char *fn = nullptr;
  Tlv alg;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, alg, fn, missing), fn,
                          "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = readAlgorithmOf(alg, missing, algOid); st != Status::Ok) {
    return st;
  }
  Tlv sig;
  if (Status st = RY_STEP(r.expect(kIdBitString, sig, fn, missing), fn, "RyAsn1_ReadBitString");
      st != Status::Ok) {
    return st;
  }
  // X.690 8.6.2: the initial octet counts the unused bits, 0 to 7.
  if (sig.content.empty() || sig.content[0] > 7) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadBitString");
  }
  // Later elements are not read, but must be elements.
  while (!r.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(r, more, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
  }
  signature = sig.content.subspan(1);
  return Status::Ok;
}

}  // namespace rycert2
