// Building a CRL: the setters, the entry encoder and the CertificateList
// encoder, which signs through the shared signing step and caches the
// result in the context.
#include "ry_crl.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_crl";

// The set-side log name where it differs from the identifier's name.
std::string_view setLogName(const AttrRow &row) {
  return row.slot == kCrlRevocationDate ? std::string_view("CRL_REVOCATIONDATE") : row.logName;
}

void logSetLine(const AttrRow &row) { RY_LOG("======>Set ", setLogName(row)); }

// ENUMERATED content as DER has it: an octet 00 that does not keep the
// value non-negative is redundant (X.690 8.4, 8.3.2).
ByteSpan minimalEnumerated(ByteSpan c) {
  while (c.size() >= 2 && c[0] == 0x00 && (c[1] & 0x80) == 0) {
    c = c.subspan(1);
  }
  return c;
}

// Appends `bytes` to the builder's store and gives their offset; 100 (logged)
// when memory runs out, the store then unchanged.
Status storeBytes(CrlCtx &ctx, ByteSpan bytes, uint32_t &at) {
  if (uint64_t(ctx.builtBytes.size()) + bytes.size() > 0xFFFFFFFFu) {
    return RY_FAILED(Status::InvalidLength, "RYCERT_InvalidLengthErr");
  }
  if (ctx.builtBytes.reserve(bytes.size()) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  at = uint32_t(ctx.builtBytes.size());
  for (uint8_t b : bytes) {
    ctx.builtBytes.push(b);  // room reserved: cannot fail
  }
  return Status::Ok;
}

// CRL_CERT_SERIALNUMBER: a new entry at the tail.
Status addEntry(CrlCtx &ctx, ByteSpan serial) {
  if (ctx.built.reserve(1) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  BuiltEntry e{};
  if (Status st = storeBytes(ctx, serial, e.serialAt); st != Status::Ok) {
    return st;
  }
  e.serialLen = uint32_t(serial.size());
  ctx.built.push(e);  // room reserved: cannot fail
  ctx.hasRevoked = true;
  return Status::Ok;
}

Status setInt(CrlCtx &ctx, uint32_t id, uint32_t value) {
  RY_LOG("======>", "RyCert_SetCrlAttributeInt Begin");
  const AttrRow *row = crlRow(id, true, kAttrSet);
  // The date acts on the last entry: without one there is nothing to set.
  if (row == nullptr || (row->slot == kCrlRevocationDate && ctx.built.empty())) {
    return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
  }
  switch (row->slot) {
    case kCrlVersion:
      ctx.t.version = value;
      ctx.t.versionSet = true;
      break;
    case kCrlThisUpdate:
      ctx.t.thisUpdate = CrlTime{value, true};
      break;
    case kCrlNextUpdate:
      ctx.t.nextUpdate = CrlTime{value, true};
      ctx.t.nextUpdateSet = true;
      break;
    case kCrlRevocationDate:
      ctx.built.back().date = value;
      ctx.built.back().form = 1;
      break;
    default:
      return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
  }
  logSetLine(*row);
  RY_LOG("======>", "RyCert_SetCrlAttributeInt\tEnd");
  return Status::Ok;
}

Status setChar(CrlCtx &ctx, uint32_t id, ByteSpan value) {
  const AttrRow *row = crlRow(id, false, kAttrSet);
  if (row == nullptr || (row->slot == kCrlReason && ctx.built.empty())) {
    return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
  }
  if (row->kind == AttrKind::Name) {
    const NameComponent *c = rowComponent(*row);
    if (c == nullptr) {
      return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
    }
    if (Status st = appendComponent(ctx.t.issuer, *c, value); st != Status::Ok) {
      return st;
    }
    // The issuer text is rendered again on its next query.
    Hx_ClearAnybuf(&ctx.issuerDnText);
    logSetLine(*row);
    return Status::Ok;
  }
  Status st = Status::Ok;
  switch (row->slot) {
    case kCrlOuterAlg:
      st = setCopy(ctx.outerAlg, value);
      break;
    case kCrlSignature:
      st = setCopy(ctx.signature, value);
      break;
    case kCrlInnerAlg:
      st = setCopy(ctx.t.innerAlg, value);
      break;
    case kCrlSerial:
      st = addEntry(ctx, value);
      break;
    case kCrlReason: {
      uint32_t at = 0;
      st = storeBytes(ctx, value, at);
      if (st == Status::Ok) {
        ctx.built.back().reasonAt = at;
        ctx.built.back().reasonLen = uint32_t(value.size());
        ctx.built.back().hasReason = 1;
      }
      break;
    }
    default:
      return RY_FAILED(Status::AttributeNotSupport, "Set RYCERT_AttributeNotSupportErr");
  }
  if (st != Status::Ok) {
    return st;
  }
  logSetLine(*row);
  return Status::Ok;
}

//   TBSCertList ::= SEQUENCE { version Version OPTIONAL, signature
//        AlgorithmIdentifier, issuer Name, thisUpdate Time, nextUpdate Time,
//        revokedCertificates SEQUENCE OF ... }                 (RFC 5280 5.1)
// Written into `w` after the outer SEQUENCE was opened there.
Status writeTbs(DerWriter &w, const CrlCtx &ctx) {
  const DerWriter::Mark tbs = w.open(kIdSequence);
  // Version ::= INTEGER { v1(0), v2(1) }: v1 is the absent field (a DEFAULT
  // value is not encoded, X.690 11.5).
  if (ctx.t.version != 0) {
    w.integer(ctx.t.version);
  }
  writeAlgorithm(w, ctx.t.innerAlg.view(), false);
  if (Status st = writeNameField(w, ctx.t.issuer); st != Status::Ok) {
    return RY_FAILED(st, "Hx_EncodeIssuerSuject");
  }
  writeTime(w, ctx.t.thisUpdate.value, ctx.t.thisUpdate.utcForm);
  writeTime(w, ctx.t.nextUpdate.value, ctx.t.nextUpdate.utcForm);
  writeRevoked(w, ctx);
  RY_LOG("======>", "Hx_CRL_EncodeRevokedCRL");
  w.close(tbs);
  return Status::Ok;
}

Status encodeCrl(CrlCtx &ctx, uint8_t *buffer, uint32_t *length) {
  RY_LOG("======>", "RyCert_EncodeCrl Begin");
  bool done = false;
  answerCached(ctx.crlDer, buffer, length, done);
  if (done) {
    RY_LOG("======>", "RyCert_EncodeCrl End");
    return Status::Ok;
  }
  DerWriter w;
  // About what the entries take, so that the block seldom grows.
  w.reserve(256 + ctx.builtBytes.size() + ctx.built.size() * 40);
  w.open(kIdSequence);
  if (Status st = writeTbs(w, ctx); st != Status::Ok) {
    return st;
  }
  if (!w.ok()) {
    return RY_WRITER_FAILED(w, "RyAsn1_WriteSequence");
  }
  const SignSpec spec{ctx.outerAlg.view(), false, "RyCert_SetCrlAttributeChar",
                      "CRL_CA_SIGNATURE"};
  AnyBuf der{};
  SignedParts parts;
  if (Status st = signAndWrapWriter(ctx.signer, w, spec, der, parts); st != Status::Ok) {
    return st;
  }
  Hx_ClearAnybuf(&ctx.crlDer);
  ctx.crlDer = der;
  clearField(ctx.t.tbs);
  setView(ctx.t.tbs, parts.tbs);
  clearField(ctx.signature);
  setView(ctx.signature, parts.signature);
  answerBytes(bytesOf(ctx.crlDer), buffer, length);
  RY_LOG("======>", "RyCert_EncodeCrl End");
  return Status::Ok;
}

Status toRecordOut(DerWriter &w, AnyBuf **out) {
  AnyBuf *rec = nullptr;
  if (w.toRecord(rec) != Status::Ok) {
    return RY_WRITER_FAILED(w, nullptr);
  }
  *out = rec;
  return Status::Ok;
}

}  // namespace

//   SEQUENCE { userCertificate CertificateSerialNumber, revocationDate Time,
//              crlEntryExtensions Extensions OPTIONAL }        (RFC 5280 5.1)
void writeEntry(DerWriter &w, const RevokedEntry &e) {
  const DerWriter::Mark m = w.open(kIdSequence);
  w.unsignedInteger(e.serial);
  writeTime(w, e.date.value, e.date.utcForm);
  if (e.hasEntryExtensions && e.hasReason) {
    writeEntryExtensions(w, e);
  }
  w.close(m);
}

void writeEntryExtensions(DerWriter &w, const RevokedEntry &e) {
  const DerWriter::Mark exts = w.open(kIdSequence);
  const DerWriter::Mark ext = w.open(kIdSequence);
  w.oid(oid::kCrlReason);
  // Not critical: the DEFAULT FALSE is left out (X.690 11.5).
  const DerWriter::Mark value = w.open(kIdOctetString);
  w.element(kIdEnumerated, minimalEnumerated(e.reason));
  w.close(value);
  w.close(ext);
  w.close(exts);
}

RevokedEntry builtEntry(const CrlCtx &ctx, size_t i) {
  const BuiltEntry &b = ctx.built[i];
  const uint8_t *store = ctx.builtBytes.begin();
  RevokedEntry e;
  e.serial = ByteSpan(store + b.serialAt, b.serialLen);
  // A date never set is GeneralizedTime of 0, as an unset update time.
  e.date = CrlTime{b.date, b.form == 1};
  e.hasReason = b.hasReason != 0;
  e.hasEntryExtensions = e.hasReason;
  if (e.hasReason) {
    e.reason = ByteSpan(store + b.reasonAt, b.reasonLen);
  }
  return e;
}

void writeRevoked(DerWriter &w, const CrlCtx &ctx) {
  const DerWriter::Mark list = w.open(kIdSequence);
  for (size_t i = 0; i < ctx.built.size() && w.ok(); ++i) {
    writeEntry(w, builtEntry(ctx, i));
  }
  w.close(list);
}

}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t RyCert_SetCrlAttributeInt(CrlCtx *ctx, uint32_t id, uint32_t value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    return setInt(*ctx, id, value);
  });
}

RYCERT_API uint32_t RyCert_SetCrlAttributeChar(CrlCtx *ctx, uint32_t id, const uint8_t *value,
                                               int32_t length) {
  return RY_C_BOUNDARY({
    if (length < 1) {
      return Status::InvalidLength;  // no log line
    }
    RY_REQUIRE(ctx, value);
    return setChar(*ctx, id, ByteSpan(value, size_t(length)));
  });
}

RYCERT_API uint32_t RyCert_SetCrlSignFunc(CrlCtx *ctx, RyCertSignFunc fn, const uint8_t *param,
                                          int32_t paramLen) {
  return RY_C_BOUNDARY({
    RY_LOG("======>", "RyCert_SetCrlSignFunc Begin");
    RY_REQUIRE(ctx);
    if (Status st = setSigner(ctx->signer, fn, param, paramLen); st != Status::Ok) {
      return st;
    }
    RY_LOG("======>", "RyCert_SetCrlSignFunc End");
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyCert_EncodeCrl(CrlCtx *ctx, uint8_t *buffer, uint32_t *length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, length);
    return encodeCrl(*ctx, buffer, length);
  });
}

RYCERT_API uint32_t Hx_CRL_EncodeRevokedCRL(CrlCtx *ctx, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, out);
    DerWriter w;
    writeRevoked(w, *ctx);
    if (Status st = toRecordOut(w, out); st != Status::Ok) {
      return RY_FAILED(st, "Hx_CRL_EncodeRevokedCRL");
    }
    RY_LOG("======>", "Hx_CRL_EncodeRevokedCRL");
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_CRL_WriteEntryExtension(const RevokedEntry *entry, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(entry, out);
    // Only the reason code is written: an entry without one has no extension.
    if (!entry->hasReason || entry->reason.empty()) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_WriteEnumerated");
    }
    DerWriter w;
    writeEntryExtensions(w, *entry);
    if (Status st = toRecordOut(w, out); st != Status::Ok) {
      return RY_FAILED(st, "Hx_CRL_WriteEntryExtension");
    }
    RY_LOG("======>", "Hx_CRL_WriteEntryExtension");
    return Status::Ok;
  });
}

}  // extern "C"
