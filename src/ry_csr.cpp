// Request contexts: creation and release, decoding of a CertificationRequest
// into views of the context's one copy of the DER, and the queries.
#include <new>
#include <utility>

#include "ry_csr.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_csr";

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
  swapNames(a.subject, b.subject);
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
  if (Status st = readSpki(spki, Status::CsrNotEnd, algorithm, key); st != Status::Ok) {
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
  AnyBuf copy{};
  EmbeddedGuard copyGuard(copy);
  ByteSpan content;
  if (Status st = openSignedCopy(der, derLen, copy, content); st != Status::Ok) {
    return st;
  }
  DerReader r(content);
  CsrInfo info;
  Tlv cri;
  const char *fn = nullptr;
  if (Status st = RY_STEP(r.expect(DerReader::kAnyId, cri, fn, Status::CsrNotEnd), fn,
                          "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = decodeInfo(cri, info); st != Status::Ok) {
    return RY_FAILED(st, "Hx_CSR_DecodeTBS");
  }
  ByteSpan algOid;
  ByteSpan sig;
  if (Status st = readSignatureFields(r, Status::CsrNotEnd, algOid, sig); st != Status::Ok) {
    return st;
  }
  // Commit: the old state goes with `info` and `copy`.
  swapInfo(ctx.info, info);
  std::swap(ctx.csrDer, copy);
  clearField(ctx.outerAlg);
  setView(ctx.outerAlg, algOid);
  clearField(ctx.signature);
  setView(ctx.signature, sig);
  RY_LOG("======>", "RyCert_DecodeCsr End");
  return Status::Ok;
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

Status createCtx(CsrCtx **out) { return newContext(out, kSrcFile, "RyCert_CreateCsrEncodeCtx"); }

Status destroyCtx(CsrCtx *ctx) {
  return deleteContext(ctx, kSrcFile, "RyCert_DestroyCsrEncodeCtx");
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
