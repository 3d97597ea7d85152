// Certificate contexts: creation and release, attribute
// setters and queries, all driven by kCertAttrs.
#include "ry_cert.h"

#include <new>

CertCtx::CertCtx() = default;

namespace {
// Release for the destructor: owners are freed, nothing is reset (the
// record goes away), and empty owners cost no call into the runtime.
inline void releaseField(rycert2::ByteField &f) {
  if (f.owned) {
    MOSK_Free(const_cast<uint8_t *>(f.data));
  }
}
inline void releaseName(rycert2::NameField &n) {
  if (n.head != nullptr) {
    Hx_FreeName(n.head);
  }
}
inline void releaseRecord(AnyBuf &b) {
  if (b.data != nullptr || b.next != nullptr) {
    Hx_ClearAnybuf(&b);
  }
}
}  // namespace

CertCtx::~CertCtx() {
  using namespace rycert2;
  // Every owner below is independent, so the order only matters for
  // readability.
  clearSigner(signer);
  releaseRecord(certificateDer);
  for (uint8_t *block : adopted) {
    MOSK_Free(block);
  }
  releaseRecord(issuerDnText);
  releaseRecord(subjectDnText);
  CertExtensions &x = extensions;
  releaseField(x.akiKeyId);
  releaseField(x.policyOid);
  for (PolicyQualifier &q : x.policyQualifiers) {
    releaseField(q.text);
  }
  for (DistPoint &d : x.distPoints) {
    releaseField(d.fullName);
  }
  releaseField(x.extKeyUsage);
  releaseName(x.issuerAltDirName);
  releaseName(x.subjectAltDirName);
  releaseField(x.skiValue);
  for (PrivateExtension &p : x.privateExtensions) {
    releasePrivate(p);
  }
  releaseField(innerAlgorithm);
  releaseField(outerAlgorithm);
  releaseField(serialNumber);
  releaseField(signature);
  releaseField(publicKeyAlgorithm);
  releaseField(publicKey);
  releaseField(tbsDer);
  releaseName(issuer);
  releaseName(subject);
  releaseField(x.keyUsageBits);
  releaseField(x.pathLen);
  // The arrays' own blocks go with their destructors.
}

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_cert";

Status notSupported(const char *prefix) {
  RY_LOG("------>", prefix);
  return Status::AttributeNotSupport;
}

// The presence flag that a once-only row tests and sets.
uint8_t *presenceOf(CertCtx &ctx, CertSlot slot) {
  CertExtensions &x = ctx.extensions;
  switch (slot) {
    case kSlotAki:
      return &x.akiPresent;
    case kSlotSki:
      return &x.skiPresent;
    case kSlotKeyUsage:
      return &x.keyUsagePresent;
    case kSlotBcCritical:
    case kSlotBcAuthority:
      return &x.basicConstraintsPresent;
    case kSlotEku:
      return &x.extKeyUsagePresent;
    default:
      return nullptr;
  }
}

// The byte field behind a Bytes row (NULL for the rows that answer one
// flag byte).
ByteField *fieldOf(CertCtx &ctx, CertSlot slot) {
  CertExtensions &x = ctx.extensions;
  switch (slot) {
    case kSlotTbs:
      return &ctx.tbsDer;
    case kSlotOuterAlg:
      return &ctx.outerAlgorithm;
    case kSlotSignature:
      return &ctx.signature;
    case kSlotSerial:
      return &ctx.serialNumber;
    case kSlotInnerAlg:
      return &ctx.innerAlgorithm;
    case kSlotPubKeyAlg:
      return &ctx.publicKeyAlgorithm;
    case kSlotPubKey:
      return &ctx.publicKey;
    case kSlotAki:
      return &x.akiKeyId;
    case kSlotSki:
      return &x.skiValue;
    case kSlotKeyUsage:
      return &x.keyUsageBits;
    case kSlotPathLen:
      return &x.pathLen;
    case kSlotEku:
      return &x.extKeyUsage;
    default:
      return nullptr;
  }
}

NameField *nameOf(CertCtx &ctx, CertSlot slot) {
  switch (slot) {
    case kSlotIssuer:
      return &ctx.issuer;
    case kSlotSubject:
      return &ctx.subject;
    case kSlotSubjectAlt:
      return &ctx.extensions.subjectAltDirName;
    case kSlotIssuerAlt:
      return &ctx.extensions.issuerAltDirName;
    default:
      return nullptr;
  }
}

// ---------------------------------------------------------------- setters

// Effects of the Bytes rows beyond storing the copy.
void markBytesSet(CertCtx &ctx, CertSlot slot) {
  CertExtensions &x = ctx.extensions;
  switch (slot) {
    case kSlotPubKeyAlg:
      ctx.publicKeyAlgorithmIsElement = false;
      break;
    case kSlotAki:
      x.akiCritical = 0;
      x.akiPresent = 1;
      x.akiKeyIdPresent = 1;
      break;
    case kSlotSki:
      x.skiCritical = 0;
      x.skiPresent = 1;
      break;
    case kSlotKeyUsage:
      x.keyUsageCritical = 1;
      x.keyUsagePresent = 1;
      break;
    case kSlotPathLen:
      x.pathLenPresent = 1;
      x.basicConstraintsPresent = 1;
      break;
    case kSlotEku:
      x.extKeyUsagePresent = 1;
      break;
    default:
      break;
  }
}

Status setSpecial(CertCtx &ctx, CertSlot slot, ByteSpan v) {
  CertExtensions &x = ctx.extensions;
  switch (slot) {
    case kSlotBcCritical:
      x.basicConstraintsCritical = 1;
      x.basicConstraintsPresent = 1;
      return Status::Ok;
    case kSlotBcAuthority:
      x.cA = 1;
      x.basicConstraintsPresent = 1;
      return Status::Ok;
    case kSlotPolicyId:
      // Only the first call creates the policy; later ones change nothing.
      if (x.policiesPresent == 0) {
        if (Status st = setCopy(x.policyOid, v); st != Status::Ok) {
          return RY_FAILED(st, "Hx_SetAttributeCharValue");
        }
        x.policiesPresent = 1;
      }
      return Status::Ok;
    case kSlotPolicyCps: {
      if (x.policiesPresent == 0) {
        return Status::Ok;  // no policy to qualify: nothing happens
      }
      PolicyQualifier q{};
      if (Status st = setCopy(q.text, v); st != Status::Ok) {
        return RY_FAILED(st, "Hx_SetAttributeCharValue");
      }
      if (x.policyQualifiers.push(q) != Status::Ok) {
        clearField(q.text);
        return RY_NO_MEMORY();
      }
      return Status::Ok;
    }
    case kSlotCrlDist: {
      DistPoint d{};
      if (Status st = setCopy(d.fullName, v); st != Status::Ok) {
        return st;
      }
      d.present = d.hasName = d.hasFullName = 1;
      if (x.distPoints.push(d) != Status::Ok) {
        clearField(d.fullName);
        return RY_NO_MEMORY();
      }
      x.crlDistPointsPresent = 1;
      return Status::Ok;
    }
    default:
      return Status::AttributeNotSupport;
  }
}

Status setChar(CertCtx &ctx, uint32_t id, ByteSpan v) {
  const AttrRow *row = certRow(id);
  if (row == nullptr || (row->flags & kAttrSet) == 0 || row->kind == AttrKind::Int) {
    return notSupported("Set RYCERT_AttributeNotSupportErr");
  }
  const auto slot = CertSlot(row->slot);
  if ((row->flags & kAttrOnceOnly) != 0) {
    if (const uint8_t *present = presenceOf(ctx, slot); present != nullptr && *present != 0) {
      return RY_FAILED(Status::AttributeAlreadySet, "RYCERT_AttributeAlreadySet");
    }
  }
  Status st = Status::Ok;
  if (row->kind == AttrKind::Name) {
    st = appendComponent(*nameOf(ctx, slot), *rowComponent(*row), v);
    if (st == Status::Ok && slot == kSlotSubjectAlt) {
      ctx.extensions.subjectAltNamePresent = ctx.extensions.subjectAltDirNamePresent = 1;
    } else if (st == Status::Ok && slot == kSlotIssuerAlt) {
      ctx.extensions.issuerAltNamePresent = ctx.extensions.issuerAltDirNamePresent = 1;
    }
  } else if (ByteField *f = fieldOf(ctx, slot); f != nullptr && row->kind == AttrKind::Bytes) {
    st = setCopy(*f, v);
    if (st == Status::Ok) {
      markBytesSet(ctx, slot);
    }
  } else {
    st = setSpecial(ctx, slot, v);
  }
  if (st != Status::Ok) {
    return st;
  }
  if ((row->flags & kAttrMarksExtensions) != 0) {
    ctx.hasExtensions = 1;
  }
  RY_LOG_SET(*row);
  return Status::Ok;
}

Status setInt(CertCtx &ctx, int32_t id, uint32_t value) {
  const AttrRow *row = certRow(id);
  if (row == nullptr || (row->flags & kAttrSet) == 0 || row->kind != AttrKind::Int) {
    return notSupported("Set RYCERT_AttributeNotSupportErr");
  }
  switch (CertSlot(row->slot)) {
    case kSlotVersion:
      ctx.version = value;
      ctx.versionSet = 1;
      break;
    case kSlotValidFrom:
      ctx.notBefore = CertTime{value, true};
      break;
    default:  // kSlotValidTo
      ctx.notAfter = CertTime{value, true};
      break;
  }
  RY_LOG_SET(*row);
  return Status::Ok;
}

Status setPrivate(CertCtx &ctx, ByteSpan oid, uint8_t critical, ByteSpan value) {
  // One block holds OID and value: `oid` owns it, `value` views its tail.
  Block block(RY_ALLOC(oid.size() + value.size()));
  if (!block) {
    return RY_NO_MEMORY();
  }
  std::memcpy(block.get(), oid.data(), oid.size());
  std::memcpy(block.get() + oid.size(), value.data(), value.size());
  PrivateExtension p{};
  p.oid = ByteField{block.get(), uint32_t(oid.size()), true};
  p.value = ByteField{block.get() + oid.size(), uint32_t(value.size()), false};
  p.critical = critical;
  if (ctx.extensions.privateExtensions.push(p) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  block.release();
  ctx.extensions.privatePresent = 1;
  ctx.hasExtensions = 1;
  RY_LOG_TEXT("======>RyCert_SetCertAttributePrivate End");
  return Status::Ok;
}

// ---------------------------------------------------------------- queries

// DN text: rendered on the first query and kept.
[[gnu::noinline]] ByteSpan dnText(CertCtx &ctx, CertSlot slot) {
  AnyBuf &cache = slot == kSlotIssuerDn ? ctx.issuerDnText : ctx.subjectDnText;
  if (cache.length == 0) {
    if (renderDn(slot == kSlotIssuerDn ? ctx.issuer : ctx.subject, cache) != Status::Ok) {
      // Benign by design: a DN that cannot be rendered is an empty answer.
      RY_LOG("======>Get ", "Hx_GetDN Len");
      return {};
    }
  }
  return bytesOf(cache);
}

// An iterator over the distribution points: a query with a buffer moves
// on, a length query does not; it stops for good at a point without a
// distributionPoint name.
[[gnu::noinline]] ByteSpan distPointAnswer(CertExtensions &x, bool advance) {
  const bool answers = x.crlDistPointsPresent && x.distCursorSet &&
                       x.distCursor < x.distPoints.size() && x.distPoints[x.distCursor].present &&
                       x.distPoints[x.distCursor].hasName;
  if (!answers) {
    return {};
  }
  const ByteSpan value = x.distPoints[x.distCursor].fullName.view();
  if (advance) {
    ++x.distCursor;
  }
  return value;
}

// The first value of a name row's component: from the index that decoding
// built when it is usable and has one, else by the general lookup.
inline ByteSpan nameAnswer(const NameField &n, const AttrRow &row) {
  const NameComponent &c = *rowComponent(row);
  if (!n.der.empty() && n.indexed == n.der.data()) {
    const NameField::Seen &s = n.seen[&c - kNameComponents];
    if (s.firstAt != NameField::kNoValue) {
      return n.der.subspan(s.firstAt, s.firstLen);
    }
    if (n.head == nullptr) {
      return {};  // not decoded, nothing appended
    }
  }
  return firstComponent(n, c);
}

// One byte of a flag, answered only while its extension is present.
inline ByteSpan flagAnswer(bool present, const uint8_t &flag) {
  return present ? ByteSpan{&flag, 1} : ByteSpan{};
}

// The char query: every case reads its field in place (no second lookup),
// and only the DN text and the iterator leave this function.
Status getChar(CertCtx &ctx, int32_t id, uint8_t *buffer, uint32_t *outLen) {
  *outLen = 0;
  const AttrRow *row = certCharQueryRow(id);
  if (row == nullptr) {
    return notSupported("Get RYCERT_AttributeNotSupportErr");
  }
  CertExtensions &x = ctx.extensions;
  const auto slot = CertSlot(row->slot);
  ByteSpan value;
  switch (slot) {
    case kSlotTbs:
      value = ctx.tbsDer.view();
      break;
    case kSlotOuterAlg:
      value = ctx.outerAlgorithm.view();
      break;
    case kSlotSignature:
      value = ctx.signature.view();
      break;
    case kSlotSerial:
      value = ctx.serialNumber.view();
      break;
    case kSlotInnerAlg:
      value = ctx.innerAlgorithm.view();
      break;
    case kSlotPubKeyAlg:
      value = ctx.publicKeyAlgorithm.view();
      break;
    case kSlotPubKey:
      value = ctx.publicKey.view();
      break;
    case kSlotIssuerDn:
    case kSlotSubjectDn:
      value = dnText(ctx, slot);
      break;
    case kSlotIssuer:
      value = nameAnswer(ctx.issuer, *row);
      break;
    case kSlotSubject:
      value = nameAnswer(ctx.subject, *row);
      break;
    case kSlotAki:
      value = x.akiPresent && x.akiKeyIdPresent ? x.akiKeyId.view() : ByteSpan{};
      break;
    case kSlotSki:
      value = x.skiPresent ? x.skiValue.view() : ByteSpan{};
      break;
    case kSlotKeyUsage:
      value = x.keyUsagePresent ? x.keyUsageBits.view() : ByteSpan{};
      break;
    case kSlotPathLen:
      value = x.pathLenPresent ? x.pathLen.view() : ByteSpan{};
      break;
    case kSlotEku:
      value = x.extKeyUsagePresent ? x.extKeyUsage.view() : ByteSpan{};
      break;
    case kSlotKeyUsageCritical:
      value = flagAnswer(x.keyUsagePresent, x.keyUsageCritical);
      break;
    case kSlotBcCritical:
      value = flagAnswer(x.basicConstraintsPresent, x.basicConstraintsCritical);
      break;
    case kSlotBcAuthority:
      value = flagAnswer(x.basicConstraintsPresent, x.cA);
      break;
    case kSlotCrlDist:
      value = distPointAnswer(x, buffer != nullptr);
      break;
    default:  // no other slot has a char query row
      break;
  }
  answerBytes(value, buffer, outLen);
  RY_LOG_TEXT(certGetLine(*row, buffer == nullptr));
  return Status::Ok;
}

Status getInt(CertCtx &ctx, int32_t id, uint32_t *value) {
  const AttrRow *row = certRow(id);
  if (row == nullptr || (row->flags & kAttrGet) == 0 || row->kind != AttrKind::Int) {
    return notSupported("Get RYCERT_AttributeNotSupportErr");
  }
  switch (CertSlot(row->slot)) {
    case kSlotVersion:
      *value = ctx.versionSet ? ctx.version : 0;
      break;
    case kSlotValidFrom:
      *value = ctx.notBefore.time;
      break;
    default:
      *value = ctx.notAfter.time;
      break;  // kSlotValidTo
  }
  RY_LOG_TEXT(certGetLine(*row, false));
  return Status::Ok;
}

void getPrivate(const CertCtx &ctx, uint32_t *index, uint8_t *oid, uint32_t *oidLen,
                uint32_t *critical, uint8_t *value, uint32_t *valueLen) {
  const auto &list = ctx.extensions.privateExtensions;
  if (*index == 0 || *index > list.size()) {
    *index = uint32_t(list.size());
    return;
  }
  const PrivateExtension &p = list[*index - 1];
  answerBytes(p.oid.view(), oid, oidLen);
  answerBytes(p.value.view(), value, valueLen);
  *critical = p.critical;
}

}  // namespace

void releasePrivate(PrivateExtension &p) {
  clearField(p.oid);
  clearField(p.value);
}

}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t RyCert_CreateCertEncodeCtx(CertCtx **ctx) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    RY_LOG_TEXT("======>RyCert_CreateCertEncodeCtx Begin");
    *ctx = nullptr;
    void *block = RY_ALLOC(sizeof(CertCtx));
    if (block == nullptr) {
      return RY_NO_MEMORY();
    }
    *ctx = new (block) CertCtx();
    RY_LOG_TEXT("======>RyCert_CreateCertEncodeCtx End");
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyCert_CreateCertDecodeCtx(CertCtx **ctx) {
  return RyCert_CreateCertEncodeCtx(ctx);
}

RYCERT_API uint32_t RyCert_DestroyCertEncodeCtx(CertCtx *ctx) {
  if (ctx == nullptr) {
    return RYCERT_OK;
  }
  RY_LOG_TEXT("======>RyCert_DestroyCertEncodeCtx Begin");
  ctx->~CertCtx();
  MOSK_Free(ctx);
  RY_LOG_TEXT("======>RyCert_DestroyCertEncodeCtx End");
  return RYCERT_OK;
}

RYCERT_API uint32_t RyCert_DestroyCertDecodeCtx(CertCtx *ctx) {
  return RyCert_DestroyCertEncodeCtx(ctx);
}

RYCERT_API uint32_t RyCert_SetCertAttributeInt(CertCtx *ctx, int32_t id, uint32_t value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    return setInt(*ctx, id, value);
  });
}

RYCERT_API uint32_t RyCert_SetCertAttributeChar(CertCtx *ctx, uint32_t id, const uint8_t *value,
                                                int32_t length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    if (length < 1) {
      return Status::InvalidLength;  // before the identifier is looked at; no log
    }
    RY_REQUIRE(value);
    return setChar(*ctx, id, {value, size_t(length)});
  });
}

RYCERT_API uint32_t RyCert_SetCertAttributePrivate(CertCtx *ctx, const uint8_t *oid, int32_t oidLen,
                                                   uint8_t critical, const uint8_t *value,
                                                   int32_t valueLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    if (oidLen < 1 || valueLen < 1) {
      return Status::InvalidLength;  // no log
    }
    RY_REQUIRE(oid, value);
    return setPrivate(*ctx, {oid, size_t(oidLen)}, critical, {value, size_t(valueLen)});
  });
}

RYCERT_API uint32_t RyCert_GetCertAttributeChar(CertCtx *ctx, int32_t id, uint8_t *buffer,
                                                uint32_t *outLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, outLen);
    return getChar(*ctx, id, buffer, outLen);
  });
}

RYCERT_API uint32_t RyCert_GetCertAttributeInt(CertCtx *ctx, int32_t id, uint32_t *value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, value);
    return getInt(*ctx, id, value);
  });
}

RYCERT_API uint32_t RyCert_GetCertAttributePrivate(CertCtx *ctx, uint32_t *index, uint8_t *oid,
                                                   uint32_t *oidLen, uint32_t *critical,
                                                   uint8_t *value, uint32_t *valueLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, index, oidLen, critical, valueLen);
    getPrivate(*ctx, index, oid, oidLen, critical, value, valueLen);
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyCert_SetCertSignFunc(CertCtx *ctx, RyCertSignFunc fn, const uint8_t *param,
                                           int32_t paramLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    RY_LOG_TEXT("======>RyCert_SetCertSignFunc Begin");
    if (Status st = setSigner(ctx->signer, fn, param, paramLen); st != Status::Ok) {
      return st;
    }
    RY_LOG_TEXT("======>RyCert_SetCertSignFunc End");
    return Status::Ok;
  });
}

}  // extern "C"
