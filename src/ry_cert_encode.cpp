// Certificate extension encoding, assembly and signing. The whole
// TBSCertificate is written in one pass by one DerWriter
// (sized from the context, grown if needed); the signing step of
// ry_x509.h signs it where it stands and wraps it.
//
// What is written is DER (X.690 11) that strict parsers accept: a v1
// certificate has no [0] version (DEFAULT), BOOLEAN TRUE is FF, cA FALSE is
// left out of basicConstraints (DEFAULT), INTEGERs are minimal, validity
// times from 2050 are GeneralizedTime (RFC 5280 4.1.2.5), and an extension
// list that would be empty, or an extended key usage without a purpose
// (SIZE (1..MAX)), is not written.
#include "ry_cert.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_cert";

// The caller's purpose bytes right-aligned in the 4-byte field; a value
// longer than 4 bytes leaves it zero.
void purposeField(ByteSpan v, uint8_t field[4]) {
  std::memset(field, 0, 4);
  if (v.size() <= 4 && !v.empty()) {
    std::memcpy(field + (4 - v.size()), v.data(), v.size());
  }
}

//   Extension ::= SEQUENCE { extnID OBJECT IDENTIFIER,
//                            critical BOOLEAN DEFAULT FALSE,
//                            extnValue OCTET STRING }
// `value(w)` writes the extension's own DER inside the OCTET STRING.
template <class Value>
void writeExtension(DerWriter &w, ByteSpan extOid, uint8_t critical, Value &&value) {
  const DerWriter::Mark ext = w.open(kIdSequence);
  w.oid(extOid);
  if (critical != 0) {
    w.boolean(true);  // DER: TRUE is FF, FALSE (the DEFAULT) is left out
  }
  const DerWriter::Mark octets = w.open(kIdOctetString);
  value(w);
  w.close(octets);
  w.close(ext);
}

//   AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0] KeyIdentifier OPTIONAL, ... }
void writeAki(DerWriter &w, const CertExtensions &x) {
  writeExtension(w, oid::kAuthorityKeyIdentifier, x.akiCritical, [&](DerWriter &v) {
    const DerWriter::Mark seq = v.open(kIdSequence);
    if (x.akiKeyIdPresent) {
      v.element(kIdContext | 0, x.akiKeyId.view());
    }
    v.close(seq);
  });
}

//   SubjectKeyIdentifier ::= KeyIdentifier ::= OCTET STRING
void writeSki(DerWriter &w, const CertExtensions &x) {
  writeExtension(w, oid::kSubjectKeyIdentifier, x.skiCritical,
                 [&](DerWriter &v) { v.element(kIdOctetString, x.skiValue.view()); });
}

//   certificatePolicies ::= SEQUENCE SIZE (1..MAX) OF PolicyInformation
//   PolicyInformation ::= SEQUENCE { policyIdentifier CertPolicyId,
//       policyQualifiers SEQUENCE SIZE (1..MAX) OF PolicyQualifierInfo OPTIONAL }
//   PolicyQualifierInfo ::= SEQUENCE { policyQualifierId id-qt-cps,
//                                      qualifier CPSuri (IA5String) }
Status writePolicies(DerWriter &w, const CertExtensions &x) {
  if (x.policyQualifiers.empty()) {
    return RY_FAILED(Status::ExtensionContent, "NO CPS INFO");
  }
  writeExtension(w, oid::kCertificatePolicies, x.policiesCritical, [&](DerWriter &v) {
    const DerWriter::Mark policies = v.open(kIdSequence);
    const DerWriter::Mark info = v.open(kIdSequence);
    v.oid(x.policyOid.view());
    const DerWriter::Mark qualifiers = v.open(kIdSequence);
    for (const PolicyQualifier &q : x.policyQualifiers) {
      const DerWriter::Mark pq = v.open(kIdSequence);
      v.oid(oid::kIdQtCps);
      v.element(kIdIa5String, q.text.view());
      v.close(pq);
    }
    v.close(qualifiers);
    v.close(info);
    v.close(policies);
  });
  return Status::Ok;
}

//   GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName
//   GeneralName ::= CHOICE { ..., directoryName [4] Name, ... }
// (RFC 5280 4.2.1.6; [4] is EXPLICIT because Name is a CHOICE.)
Status writeAltName(DerWriter &w, ByteSpan extOid, uint8_t critical, const NameField &name) {
  Status st = Status::Ok;
  writeExtension(w, extOid, critical, [&](DerWriter &v) {
    const DerWriter::Mark names = v.open(kIdSequence);
    const DerWriter::Mark dir = v.open(kIdContext | kIdConstructed | 4);
    st = writeNameField(v, name);
    v.close(dir);
    v.close(names);
  });
  return st;
}

//   BasicConstraints ::= SEQUENCE { cA BOOLEAN DEFAULT FALSE,
//                                   pathLenConstraint INTEGER (0..MAX) OPTIONAL }
// A path length only means something for a CA (RFC 5280 4.2.1.9: CAs MUST
// NOT include pathLenConstraint unless cA is TRUE), and strict parsers
// refuse it otherwise: refused here like an empty extended key usage.
Status writeBasicConstraints(DerWriter &w, const CertExtensions &x) {
  if (x.pathLenPresent && x.cA == 0) {
    return RY_FAILED(Status::ExtensionContent, "PATHLEN WITHOUT CA");
  }
  writeExtension(w, oid::kBasicConstraints, x.basicConstraintsCritical, [&](DerWriter &v) {
    const DerWriter::Mark seq = v.open(kIdSequence);
    if (x.cA != 0) {
      v.boolean(true);
    }
    if (x.pathLenPresent) {
      v.unsignedInteger(x.pathLen.view());
    }
    v.close(seq);
  });
  return Status::Ok;
}

//   KeyUsage ::= BIT STRING (bit 0, digitalSignature, is the first byte's top bit)
void writeKeyUsage(DerWriter &w, const CertExtensions &x) {
  writeExtension(w, oid::kKeyUsage, x.keyUsageCritical,
                 [&](DerWriter &v) { v.bitString(0, x.keyUsageBits.view()); });
}

//   ExtKeyUsageSyntax ::= SEQUENCE SIZE (1..MAX) OF KeyPurposeId
Status writeEku(DerWriter &w, const CertExtensions &x) {
  uint8_t field[4];
  purposeField(x.extKeyUsage.view(), field);
  bool any = false;
  for (const Purpose &p : kPurposes) {
    any = any || (field[p.byte] & p.flag) != 0;
  }
  if (!any) {
    return RY_FAILED(Status::ExtensionContent, "NO EXTKEYUSAGE PURPOSE");
  }
  writeExtension(w, oid::kExtKeyUsage, x.extKeyUsageCritical, [&](DerWriter &v) {
    const DerWriter::Mark seq = v.open(kIdSequence);
    for (const Purpose &p : kPurposes) {
      if ((field[p.byte] & p.flag) != 0) {
        v.oid(p.oid);
      }
    }
    v.close(seq);
  });
  return Status::Ok;
}

//   CRLDistributionPoints ::= SEQUENCE SIZE (1..MAX) OF DistributionPoint
//   DistributionPoint ::= SEQUENCE { distributionPoint [0] DistributionPointName OPTIONAL, ... }
//   DistributionPointName ::= CHOICE { fullName [0] GeneralNames, ... }
//   GeneralName ::= CHOICE { ..., uniformResourceIdentifier [6] IA5String, ... }
void writeCrlDp(DerWriter &w, const CertExtensions &x) {
  writeExtension(w, oid::kCrlDistributionPoints, x.crlDistPointsCritical, [&](DerWriter &v) {
    const DerWriter::Mark points = v.open(kIdSequence);
    for (const DistPoint &d : x.distPoints) {
      if (!d.present) {
        continue;
      }
      const DerWriter::Mark dp = v.open(kIdSequence);
      if (d.hasName) {
        const DerWriter::Mark dpName = v.open(kIdContext | kIdConstructed | 0);
        if (d.hasFullName) {
          const DerWriter::Mark full = v.open(kIdContext | kIdConstructed | 0);
          if (d.nameIsElement) {
            v.raw(d.fullName.view());  // a decoded GeneralName, as it stood
          } else {
            v.element(kIdContext | 6, d.fullName.view());
          }
          v.close(full);
        }
        v.close(dpName);
      }
      v.close(dp);
    }
    v.close(points);
  });
}

void writePrivate(DerWriter &w, const PrivateExtension &p) {
  writeExtension(w, p.oid.view(), p.critical, [&](DerWriter &v) { v.raw(p.value.view()); });
}

bool anyExtension(const CertExtensions &x) {
  return x.akiPresent || x.skiPresent || x.policiesPresent || x.issuerAltNamePresent ||
         x.subjectAltNamePresent || x.basicConstraintsPresent || x.keyUsagePresent ||
         x.extKeyUsagePresent || x.crlDistPointsPresent ||
         (x.privatePresent && !x.privateExtensions.empty());
}

// Room the TBSCertificate will take, near enough that the writer grows
// rarely: field sizes plus a few header octets per element.
size_t estimateSize(const CertCtx &ctx) {
  size_t n = 512;
  for (const ByteField *f :
       {&ctx.serialNumber, &ctx.innerAlgorithm, &ctx.outerAlgorithm, &ctx.publicKeyAlgorithm,
        &ctx.publicKey, &ctx.extensions.akiKeyId, &ctx.extensions.skiValue,
        &ctx.extensions.keyUsageBits, &ctx.extensions.policyOid, &ctx.extensions.pathLen}) {
    n += f->length + 8;
  }
  for (const NameField *name : {&ctx.issuer, &ctx.subject, &ctx.extensions.subjectAltDirName,
                                &ctx.extensions.issuerAltDirName}) {
    n += name->der.size();
    for (const RyNameNode *p = name->head; p != nullptr; p = p->next) {
      n += p->value.length + p->type.oid.length + 16;
    }
  }
  for (const PolicyQualifier &q : ctx.extensions.policyQualifiers) {
    n += q.text.length + 20;
  }
  for (const DistPoint &d : ctx.extensions.distPoints) {
    n += d.fullName.length + 16;
  }
  for (const PrivateExtension &p : ctx.extensions.privateExtensions) {
    n += p.oid.length + p.value.length + 16;
  }
  return n;
}

// A single extension written by `fill` into a new encoded record.
template <class Fill>
Status extensionRecord(Fill &&fill, AnyBuf **out) {
  DerWriter w;
  if (Status st = fill(w); st != Status::Ok) {
    return st;
  }
  AnyBuf *rec = nullptr;
  if (Status st = w.toRecord(rec); st != Status::Ok) {
    return RY_WRITER_FAILED(w, "RyAsn1_WriteSequence");
  }
  *out = rec;
  return Status::Ok;
}

}  // namespace

// Hx_Cert_EncodeExtensions: [3] EXPLICIT Extensions, in a fixed order.
Status writeExtensions(DerWriter &w, const CertCtx &ctx) {
  const CertExtensions &x = ctx.extensions;
  if (!ctx.hasExtensions || !anyExtension(x)) {
    return Status::Ok;
  }
  const DerWriter::Mark tagged = w.open(kIdContext | kIdConstructed | 3);
  const DerWriter::Mark list = w.open(kIdSequence);
  if (x.akiPresent) {
    writeAki(w, x);
  }
  if (x.skiPresent) {
    writeSki(w, x);
  }
  if (x.policiesPresent) {
    if (Status st = writePolicies(w, x); st != Status::Ok) {
      return st;
    }
  }
  if (x.issuerAltNamePresent) {
    if (Status st =
            writeAltName(w, oid::kIssuerAltName, x.issuerAltNameCritical, x.issuerAltDirName);
        st != Status::Ok) {
      return st;
    }
  }
  if (x.subjectAltNamePresent) {
    if (Status st =
            writeAltName(w, oid::kSubjectAltName, x.subjectAltNameCritical, x.subjectAltDirName);
        st != Status::Ok) {
      return st;
    }
  }
  if (x.basicConstraintsPresent) {
    if (Status st = writeBasicConstraints(w, x); st != Status::Ok) {
      return st;
    }
  }
  if (x.keyUsagePresent) {
    writeKeyUsage(w, x);
  }
  if (x.extKeyUsagePresent) {
    if (Status st = writeEku(w, x); st != Status::Ok) {
      return st;
    }
  }
  if (x.crlDistPointsPresent) {
    writeCrlDp(w, x);
  }
  if (x.privatePresent) {
    for (const PrivateExtension &p : x.privateExtensions) {
      writePrivate(w, p);
    }
  }
  w.close(list);
  w.close(tagged);
  return Status::Ok;
}

//   Validity ::= SEQUENCE { notBefore Time, notAfter Time }
void writeValidity(DerWriter &w, const CertCtx &ctx) {
  const DerWriter::Mark v = w.open(kIdSequence);
  writeTime(w, ctx.notBefore.time, ctx.notBefore.utc);
  writeTime(w, ctx.notAfter.time, ctx.notAfter.utc);
  w.close(v);
}

//   TBSCertificate ::= SEQUENCE {
//     version         [0] EXPLICIT Version DEFAULT v1,
//     serialNumber        CertificateSerialNumber,
//     signature           AlgorithmIdentifier,
//     issuer              Name,
//     validity            Validity,
//     subject             Name,
//     subjectPublicKeyInfo SubjectPublicKeyInfo,
//     extensions      [3] EXPLICIT Extensions OPTIONAL }
Status writeTbs(DerWriter &w, const CertCtx &ctx) {
  const DerWriter::Mark tbs = w.open(kIdSequence);
  if (ctx.versionSet && ctx.version != 0) {  // DER leaves the DEFAULT v1 out
    const DerWriter::Mark version = w.open(kIdContext | kIdConstructed | 0);
    w.integer(ctx.version);
    w.close(version);
  }
  w.unsignedInteger(ctx.serialNumber.view());
  writeAlgorithm(w, ctx.innerAlgorithm.view(), true);
  if (Status st = writeNameField(w, ctx.issuer); st != Status::Ok) {
    return RY_FAILED(st, "Hx_EncodeIssuerSuject");
  }
  writeValidity(w, ctx);
  if (Status st = writeNameField(w, ctx.subject); st != Status::Ok) {
    return RY_FAILED(st, "Hx_EncodeIssuerSuject");
  }
  //   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
  //                                       subjectPublicKey BIT STRING }
  const DerWriter::Mark spki = w.open(kIdSequence);
  if (ctx.publicKeyAlgorithmIsElement) {
    const DerWriter::Mark alg = w.open(kIdSequence);
    w.raw(ctx.publicKeyAlgorithm.view());  // a decoded OID element
    w.null();
    w.close(alg);
  } else {
    writeAlgorithm(w, ctx.publicKeyAlgorithm.view(), true);
  }
  w.bitString(0, ctx.publicKey.view());
  w.close(spki);
  if (Status st = writeExtensions(w, ctx); st != Status::Ok) {
    return RY_FAILED(st, "Hx_Cert_EncodeExtensions");
  }
  w.close(tbs);
  return Status::Ok;
}

namespace {

// RyCert_EncodeCert.
//   Certificate ::= SEQUENCE { tbsCertificate TBSCertificate,
//                              signatureAlgorithm AlgorithmIdentifier,
//                              signatureValue BIT STRING }
Status encodeCert(CertCtx &ctx, uint8_t *out, uint32_t *outLen) {
  bool cached = false;
  answerCached(ctx.certificateDer, out, outLen, cached);
  if (cached) {
    return Status::Ok;  // nothing rebuilt, the callback not called
  }
  if (ctx.signer.fn == nullptr) {
    return RY_FAILED(kNoSignFunc, "RyCertSignFunc is NULL");
  }
  DerWriter w;
  w.reserve(estimateSize(ctx));
  w.open(kIdSequence);  // the Certificate; the signing step closes it
  if (Status st = writeTbs(w, ctx); st != Status::Ok) {
    return st;
  }
  if (!w.ok()) {
    return RY_WRITER_FAILED(w, "RyAsn1_WriteSequence");
  }
  const SignSpec spec{ctx.outerAlgorithm.view(), true, "RyCert_SetCertAttributeChar",
                      "CERT_CA_SIGNATURE"};
  AnyBuf der{};
  SignedParts parts;
  if (Status st = signAndWrapWriter(ctx.signer, w, spec, der, parts); st != Status::Ok) {
    return st;
  }
  ctx.certificateDer = der;
  setView(ctx.signature, parts.signature);
  answerBytes(bytesOf(der), out, outLen);
  return Status::Ok;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

namespace {

// The exported single-extension encoders share one shape: `write(w, x)`
// returns a status or nothing.
template <class Write>
uint32_t encodeOne(CertCtx *ctx, AnyBuf **out, Write &&write) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, out);
    return extensionRecord(
        [&](DerWriter &w) -> Status {
          if constexpr (std::is_same_v<decltype(write(w, ctx->extensions)), Status>) {
            return write(w, ctx->extensions);
          } else {
            write(w, ctx->extensions);
            return Status::Ok;
          }
        },
        out);
  });
}

}  // namespace

extern "C" {

RYCERT_API uint32_t RyCert_EncodeCert(CertCtx *ctx, uint8_t *out, uint32_t *outLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, outLen);
    RY_LOG_TEXT("======>RyCert_EncodeCert Begin");
    if (Status st = encodeCert(*ctx, out, outLen); st != Status::Ok) {
      return st;
    }
    RY_LOG_TEXT("======>RyCert_EncodeCert End");
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_Cert_EncodeValidity(CertCtx *ctx, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, out);
    DerWriter w;
    writeValidity(w, *ctx);
    AnyBuf *rec = nullptr;
    if (w.toRecord(rec) != Status::Ok) {
      return RY_WRITER_FAILED(w, "Hx_Cert_EncodeValidity");
    }
    *out = rec;
    RY_LOG_TEXT("======>Hx_Cert_EncodeValidity");
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_Cert_EncodeExtensions(CertCtx *ctx, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, out);
    DerWriter w;
    if (Status st = writeExtensions(w, *ctx); st != Status::Ok) {
      return st;
    }
    if (w.ok() && w.size() == 0) {
      return Status::Ok;  // no extensions: *out untouched
    }
    AnyBuf *rec = nullptr;
    if (w.toRecord(rec) != Status::Ok) {
      return RY_WRITER_FAILED(w, "RyAsn1_WriteExplicit");
    }
    *out = rec;
    RY_LOG_TEXT("======>Hx_Cert_EncodeExtensions");
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) { writeAki(w, x); });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_SubjectKeyIdentifier(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) { writeSki(w, x); });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_CertificatePolicies(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out,
                   [](DerWriter &w, const CertExtensions &x) { return writePolicies(w, x); });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_IssuerAltName(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) {
    return writeAltName(w, oid::kIssuerAltName, x.issuerAltNameCritical, x.issuerAltDirName);
  });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_SubjectAltName(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) {
    return writeAltName(w, oid::kSubjectAltName, x.subjectAltNameCritical, x.subjectAltDirName);
  });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_BasicConstraint(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out,
                   [](DerWriter &w, const CertExtensions &x) { return writeBasicConstraints(w, x); });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_KeyUsage(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) { writeKeyUsage(w, x); });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_ExtKeyUsage(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) { return writeEku(w, x); });
}
RYCERT_API uint32_t Hx_Cert_EncodeExtension_CrlDistributePoint(CertCtx *ctx, AnyBuf **out) {
  return encodeOne(ctx, out, [](DerWriter &w, const CertExtensions &x) { writeCrlDp(w, x); });
}

RYCERT_API uint32_t Hx_Cert_EncodeExtension_Private(CertCtx *ctx, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, out);
    RecordChain chain;
    for (const PrivateExtension &p : ctx->extensions.privateExtensions) {
      AnyBuf *rec = nullptr;
      if (Status st = extensionRecord(
              [&](DerWriter &w) {
                writePrivate(w, p);
                return Status::Ok;
              },
              &rec);
          st != Status::Ok) {
        return st;
      }
      chain.append(rec);
    }
    *out = chain.release();
    return Status::Ok;
  });
}

}  // extern "C"
