// Request contexts: creation and release, decoding of a CertificationRequest
// into views of the context's one copy of the DER, and the queries.
#include <new>
#include <utility>

#include "ry_csr.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_csr";

void swapName(NameField &a, NameField &b) {
  std::swap(a.der, b.der);
  std::swap(a.head, b.head);
  std::swap(a.tail, b.tail);
  // An empty chain's tail points at its own head.
  if (a.head == nullptr) {
    a.tail = &a.head;
  }
  if (b.head == nullptr) {
    b.tail = &b.head;
  }
}

Status ownCopy(ByteSpan bytes, AnyBuf &own) {
  AnyBuf view{const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()), 0, 2,
              bytes.empty() ? 0u : tagOf(bytes[0]), nullptr, nullptr};
  return copyInto(own, view);
}

// An AlgorithmIdentifier's OID; one without any element lacks its OID.
Status readAlgorithmOf(const Tlv &alg, ByteSpan &oid) {
  if (alg.id == kIdSequence && alg.content.empty()) {
    RY_FAILED(Status::CsrNotEnd, "RYCERT_CsrNotEndErr");
    return RY_FAILED(Status::CsrNotEnd, "RyAsn1_ReadObjectId");
  }
  const char *fn = nullptr;
  if (Status st = readAlgorithm(alg, oid, fn); st != Status::Ok) {
    return RY_FAILED(st, fn);
  }
  return Status::Ok;
}

Status readVersion(const Tlv &v, uint32_t &out) {
  ByteSpan c = v.content;
  if (c.size() >= 2 && c[0] == 0x00) {
    c = c.subspan(1);
  }
  if (c.empty() || c.size() > 4) {  // X.690 8.3.1; no version needs more than 32 bits
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadInteger");
  }
  uint32_t n = 0;
  for (uint8_t b : c) {
    n = (n << 8) | b;
  }
  out = n;
  return Status::Ok;
}

// Reads a subjectPublicKeyInfo into views (RFC 5280 4.1.2.7):
//   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
//                                       subjectPublicKey BIT STRING }
// `algorithm` is the whole OID element, `key` the bits after the
// unused-bits octet. Failures are logged, the last line naming
// Hx_DecodePubKey.
Status readSpki(const Tlv &spki, ByteSpan &algorithm, ByteSpan &key) {
  const char *fn = nullptr;
  if (spki.id != kIdSequence) {
    RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
    return RY_FAILED(Status::TagNotMatch, "Hx_DecodePubKey");
  }
  DerReader parts(spki.content);
  Tlv alg;
  Tlv bits;
  Status st = RY_STEP(parts.expect(kIdSequence, alg, fn, Status::CsrNotEnd), fn,
                      "RyAsn1_ReadSequence");
  if (st == Status::Ok) {
    st = RY_STEP(parts.expect(kIdBitString, bits, fn, Status::CsrNotEnd), fn,
                 "RyAsn1_ReadBitString");
  }
  if (st == Status::Ok) {
    st = RY_STEP(parts.finish(fn), fn, "RyAsn1_ReadSequence");
  }
  DerReader algParts(alg.content);
  Tlv oidElem;
  if (st == Status::Ok) {
    st = RY_STEP(algParts.expect(kIdOid, oidElem, fn, Status::CsrNotEnd), fn,
                 "RyAsn1_ReadObjectId");
  }
  if (st == Status::Ok && oidElem.content.empty()) {
    st = RY_FAILED(Status::InvalidLength, "RyAsn1_ReadObjectId");
  }
  // Parameters, when present, must be well-formed elements.
  while (st == Status::Ok && !algParts.atEnd()) {
    Tlv param;
    st = RY_NEXT(algParts, param, "RyAsn1_ReadSequence");
  }
  // X.690 8.6.2: the initial octet counts the unused bits, 0 to 7.
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

//   Attribute ::= SEQUENCE { type OBJECT IDENTIFIER,
//                            values SET SIZE(1..MAX) OF AttributeValue }
// Only the first value is kept.
Status readAttribute(const Tlv &attr, CsrAttr &out) {
  const char *fn = nullptr;
  if (attr.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader parts(attr.content);
  Tlv type;
  Tlv values;
  if (Status st = RY_STEP(parts.expect(kIdOid, type, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadObjectId");
      st != Status::Ok) {
    return st;
  }
  if (type.content.empty()) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadObjectId");
  }
  if (Status st = RY_STEP(parts.expect(kIdSet, values, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadSet");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.finish(fn), fn, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  DerReader list(values.content);
  Tlv first;
  if (Status st = RY_STEP(list.expect(DerReader::kAnyId, first, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadSet");
      st != Status::Ok) {
    return st;
  }
  while (!list.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(list, more, "RyAsn1_ReadSet"); st != Status::Ok) {
      return st;
    }
  }
  out = CsrAttr{};
  setView(out.type, type.content);
  setView(out.value, first.whole);
  return Status::Ok;
}

}  // namespace

CsrAttrList::~CsrAttrList() {
  for (CsrAttr &a : items) {
    clearField(a.type);
    clearField(a.value);
  }
  items.clear();
  Hx_ClearAnybuf(&own);
}

Status newAttrList(CsrAttrList *&out) {
  void *block = RY_ALLOC(sizeof(CsrAttrList));
  if (block == nullptr) {
    return RY_NO_MEMORY();
  }
  out = new (block) CsrAttrList();
  return Status::Ok;
}

void freeAttrList(CsrAttrList *list) {
  if (list != nullptr) {
    list->~CsrAttrList();
    MOSK_Free(list);
  }
}

CsrInfo::CsrInfo() { initName(subject); }

CsrInfo::~CsrInfo() {
  Hx_ClearAnybuf(&own);
  clearField(tbs);
  clearName(subject);
  clearField(keyAlgorithm);
  clearField(key);
  freeAttrList(attrs);
}

void swapInfo(CsrInfo &a, CsrInfo &b) {
  std::swap(a.own, b.own);
  std::swap(a.tbs, b.tbs);
  std::swap(a.version, b.version);
  swapName(a.subject, b.subject);
  std::swap(a.keyAlgorithm, b.keyAlgorithm);
  std::swap(a.keyAlgorithmIsElement, b.keyAlgorithmIsElement);
  std::swap(a.key, b.key);
  std::swap(a.attrs, b.attrs);
}

namespace {

//   [0] IMPLICIT SET OF Attribute                               (RFC 2986 4.1)
// Any context-specific constructed identifier is taken as the [0].
Status decodeAttributes(const Tlv &attrs, CsrAttrList &out) {
  if ((attrs.id & 0xE0) != (kIdContext | kIdConstructed)) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadImplicit");
  }
  DerReader r(attrs.content);
  while (!r.atEnd()) {
    Tlv attr;
    if (Status st = RY_NEXT(r, attr, "RyAsn1_ReadImplicit"); st != Status::Ok) {
      return st;
    }
    CsrAttr a;
    if (Status st = readAttribute(attr, a); st != Status::Ok) {
      return st;
    }
    if (out.items.push(a) != Status::Ok) {
      return RY_NO_MEMORY();
    }
  }
  RY_LOG("======>", "Hx_CSR_DecodeAttributes");
  return Status::Ok;
}

//   CertificationRequestInfo ::= SEQUENCE {
//        version       INTEGER { v1(0) },
//        subject       Name,
//        subjectPKInfo SubjectPublicKeyInfo,
//        attributes    [0] Attributes }                           (RFC 2986 4.1)
// The attributes field, though not OPTIONAL there, is read when present.
Status decodeInfo(const Tlv &cri, CsrInfo &out) {
  if (cri.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  setView(out.tbs, cri.whole);
  const char *fn = nullptr;
  DerReader r(cri.content);
  Tlv version;
  if (Status st = RY_STEP(r.expect(kIdInteger, version, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadInteger");
      st != Status::Ok) {
    return st;
  }
  if (Status st = readVersion(version, out.version); st != Status::Ok) {
    return st;
  }
  Tlv subject;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, subject, fn, Status::CsrNotEnd), fn,
                          "Hx_DecodeIssuerSubject");
      st != Status::Ok) {
    return st;
  }
  if (Status st = checkName(subject, out.subject, "Hx_DecodeIssuerSubject"); st != Status::Ok) {
    return st;
  }
  Tlv spki;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, spki, fn, Status::CsrNotEnd), fn,
                          "Hx_DecodePubKey");
      st != Status::Ok) {
    return st;
  }
  ByteSpan algorithm;
  ByteSpan key;
  if (Status st = readSpki(spki, algorithm, key); st != Status::Ok) {
    return st;
  }
  setView(out.keyAlgorithm, algorithm);
  out.keyAlgorithmIsElement = true;
  setView(out.key, key);
  if (!r.atEnd()) {
    Tlv attrs;
    if (Status st = RY_NEXT(r, attrs, "Hx_CSR_DecodeAttribute"); st != Status::Ok) {
      return st;
    }
    CsrAttrList *list = nullptr;
    if (Status st = newAttrList(list); st != Status::Ok) {
      return st;
    }
    out.attrs = list;  // released with `out`
    if (Status st = decodeAttributes(attrs, *list); st != Status::Ok) {
      return RY_FAILED(st, "Hx_CSR_DecodeAttribute");
    }
  }
  // Later elements are not read, but must be elements.
  while (!r.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(r, more, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
  }
  return Status::Ok;
}

Status decodeCsr(CsrCtx &ctx, const uint8_t *der, uint32_t derLen) {
  RY_LOG("======>", "RyCert_DecodeCsr Begin");
  // The outer header gives the length; a caller's length shorter than it is
  // refused rather than read past.
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
  AnyBuf copy{};
  EmbeddedGuard copyGuard(copy);
  if (Status st = ownCopy({der, h.headerLen + h.contentLen}, copy); st != Status::Ok) {
    return st;
  }
  DerReader r(bytesOf(copy).subspan(h.headerLen));
  CsrInfo info;
  Tlv cri;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, cri, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = decodeInfo(cri, info); st != Status::Ok) {
    return RY_FAILED(st, "Hx_CSR_DecodeTBS");
  }
  Tlv alg;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, alg, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  ByteSpan algOid;
  if (Status st = readAlgorithmOf(alg, algOid); st != Status::Ok) {
    return st;
  }
  Tlv sig;
  if (Status st = RY_STEP(r.expect(kIdBitString, sig, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadBitString");
      st != Status::Ok) {
    return st;
  }
  if (sig.content.empty() || sig.content[0] > 7) {  // X.690 8.6.2
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadBitString");
  }
  while (!r.atEnd()) {
    Tlv more;
    if (Status st = RY_NEXT(r, more, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
  }
  // Commit: the old state goes with `info` and `copy`.
  swapInfo(ctx.info, info);
  std::swap(ctx.csrDer, copy);
  clearField(ctx.outerAlg);
  setView(ctx.outerAlg, algOid);
  clearField(ctx.signature);
  setView(ctx.signature, sig.content.subspan(1));
  RY_LOG("======>", "RyCert_DecodeCsr End");
  return Status::Ok;
}

// An element given on its own: copied into `own`, then read from there.
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

Status decodeInfoAlone(CsrCtx &ctx, const AnyBuf *rec) {
  CsrInfo info;
  Tlv cri;
  if (Status st = openOwnCopy(rec, info.own, cri, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = decodeInfo(cri, info); st != Status::Ok) {
    return st;
  }
  swapInfo(ctx.info, info);
  return Status::Ok;
}

Status decodeAttributesAlone(CsrCtx &ctx, const AnyBuf *rec) {
  CsrAttrList *list = nullptr;
  if (Status st = newAttrList(list); st != Status::Ok) {
    return st;
  }
  Tlv attrs;
  Status st = openOwnCopy(rec, list->own, attrs, "RyAsn1_ReadImplicit");
  if (st == Status::Ok) {
    st = decodeAttributes(attrs, *list);
  }
  if (st != Status::Ok) {
    freeAttrList(list);
    return st;
  }
  std::swap(ctx.info.attrs, list);
  freeAttrList(list);
  return Status::Ok;
}

// ------------------------------------------------------------- queries

Status answer(const AttrRow &row, ByteSpan value, uint8_t *buffer, uint32_t *length) {
  RY_LOG_GET(row, buffer == nullptr);
  answerBytes(value, buffer, length);
  return Status::Ok;
}

Status getChar(CsrCtx &ctx, uint32_t id, uint8_t *buffer, uint32_t *length) {
  const AttrRow *row = csrRow(id, false, kAttrGet);
  if (row == nullptr) {
    return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
  if (row->kind == AttrKind::Name) {
    // Absent: nothing written, nothing logged (the caller preset the length).
    const NameComponent *c = rowComponent(*row);
    const ByteSpan value = c != nullptr ? firstComponent(ctx.info.subject, c->code) : ByteSpan{};
    return value.empty() ? Status::Ok : answer(*row, value, buffer, length);
  }
  switch (row->slot) {
    case kCsrTbs:
      return answer(*row, ctx.info.tbs.view(), buffer, length);
    case kCsrOuterAlg:
      return answer(*row, ctx.outerAlg.view(), buffer, length);
    case kCsrSignature:
      return answer(*row, ctx.signature.view(), buffer, length);
    case kCsrKeyAlgorithm:
      return answer(*row, ctx.info.keyAlgorithm.view(), buffer, length);
    case kCsrKey:
      return answer(*row, ctx.info.key.view(), buffer, length);
    default:
      return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
}

Status getInt(CsrCtx &ctx, uint32_t id, uint32_t *value) {
  RY_LOG("======>", "RyCert_GetCsrAttributeInt Begin");
  const AttrRow *row = csrRow(id, true, kAttrGet);
  if (row == nullptr) {
    return RY_FAILED(Status::AttributeNotSupport, "Get RYCERT_AttributeNotSupportErr");
  }
  RY_LOG_GET(*row, false);
  *value = ctx.info.version;
  RY_LOG("======>", "RyCert_GetCsrAttributeInt End");
  return Status::Ok;
}

Status getPrivate(CsrCtx &ctx, uint32_t *index, uint8_t *typeBuffer, uint32_t *typeLength,
                  uint8_t *valueBuffer, uint32_t *valueLength) {
  RY_LOG("======>", "RyCert_GetCsrAttributePrivate Begin");
  const size_t count = ctx.info.attrs != nullptr ? ctx.info.attrs->items.size() : 0;
  if (*index == 0 || *index > count) {
    *index = uint32_t(count);
    return Status::Ok;
  }
  RY_REQUIRE(typeLength, valueLength);
  const CsrAttr &a = ctx.info.attrs->items[*index - 1];
  answerBytes(a.type.view(), typeBuffer, typeLength);
  answerBytes(a.value.view(), valueBuffer, valueLength);
  return Status::Ok;
}

Status createCtx(CsrCtx **out) {
  RY_LOG("======>", "RyCert_CreateCsrEncodeCtx Begin");
  RY_REQUIRE(out);
  void *block = RY_ALLOC(sizeof(CsrCtx));
  if (block == nullptr) {
    return RY_NO_MEMORY();
  }
  *out = new (block) CsrCtx();
  RY_LOG("======>", "RyCert_CreateCsrEncodeCtx End");
  return Status::Ok;
}

Status destroyCtx(CsrCtx *ctx) {
  RY_LOG("======>", "RyCert_DestroyCsrEncodeCtx Begin");
  if (ctx == nullptr) {
    return Status::Ok;
  }
  ctx->~CsrCtx();
  MOSK_Free(ctx);
  RY_LOG("======>", "RyCert_DestroyCsrEncodeCtx End");
  return Status::Ok;
}

}  // namespace
}  // namespace rycert2

CsrCtx::~CsrCtx() {
  using namespace rycert2;
  Hx_ClearAnybuf(&csrDer);
  clearField(outerAlg);
  clearField(signature);
  clearSigner(signer);
}

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t RyCert_CreateCsrEncodeCtx(CsrCtx **ctx) {
  return RY_C_BOUNDARY({ return createCtx(ctx); });
}

RYCERT_API uint32_t RyCert_CreateCsrDecodeCtx(CsrCtx **ctx) {
  return RY_C_BOUNDARY({ return createCtx(ctx); });
}

RYCERT_API uint32_t RyCert_DestroyCsrEncodeCtx(CsrCtx *ctx) {
  return RY_C_BOUNDARY({ return destroyCtx(ctx); });
}

RYCERT_API uint32_t RyCert_DestroyCsrDecodeCtx(CsrCtx *ctx) {
  return RY_C_BOUNDARY({ return destroyCtx(ctx); });
}

RYCERT_API uint32_t RyCert_DecodeCsr(CsrCtx *ctx, const uint8_t *der, uint32_t derLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, der);
    return decodeCsr(*ctx, der, derLen);
  });
}

RYCERT_API uint32_t Hx_CSR_DecodeTBS(CsrCtx *ctx, const AnyBuf *tbs) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, tbs);
    return decodeInfoAlone(*ctx, tbs);
  });
}

RYCERT_API uint32_t Hx_CSR_DecodeAttributes(const AnyBuf *attrs, CsrCtx *ctx) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(attrs, ctx);
    return decodeAttributesAlone(*ctx, attrs);
  });
}

RYCERT_API uint32_t RyCert_GetCsrAttributeChar(CsrCtx *ctx, uint32_t id, uint8_t *buffer,
                                               uint32_t *length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, length);
    return getChar(*ctx, id, buffer, length);
  });
}

RYCERT_API uint32_t RyCert_GetCsrAttributeInt(CsrCtx *ctx, uint32_t id, uint32_t *value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, value);
    return getInt(*ctx, id, value);
  });
}

RYCERT_API uint32_t RyCert_GetCsrAttributePrivate(CsrCtx *ctx, uint32_t *index,
                                                  uint8_t *typeBuffer, uint32_t *typeLength,
                                                  uint8_t *valueBuffer, uint32_t *valueLength) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, index);
    return getPrivate(*ctx, index, typeBuffer, typeLength, valueBuffer, valueLength);
  });
}

}  // extern "C"
