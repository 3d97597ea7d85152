// Certificate decoding and extension decoding.
//
// The context keeps one copy of the certificate; every decoded field is a
// view into it. Decoding walks the DER once with DerReader and allocates
// only the copy and the arrays of private extensions and distribution
// points (amortised, so cost stays linear in the input).
#include "ry_cert.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_cert";

// Logs the failing step's own line (when named) and returns the status.
Status fail(Status st, const char *name) {
  if (name != nullptr) {
    RY_FAILED(st, name);
  }
  return st;
}

// The next field of a SEQUENCE that must hold it: 109 when it ends early
// (each field after the first must be present).
Status nextField(DerReader &r, Tlv &t, const char *as) {
  if (r.atEnd()) {
    return RY_FAILED(Status::CertNotEnd, "RYCERT_CertNotEndErr");
  }
  const char *fn = nullptr;
  if (Status st = r.next(t, fn); st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, as);
  }
  return Status::Ok;
}

// Elements that are not read must still be well-formed, as a SEQUENCE
// reader that splits all children would find them.
Status skipRest(DerReader &r, const char *as) {
  const char *fn = nullptr;
  while (!r.atEnd()) {
    Tlv t;
    if (Status st = r.next(t, fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return RY_FAILED(st, as);
    }
  }
  return Status::Ok;
}

// The element a span must hold exactly (as a record handed to a reader):
// 102 when it holds more or less.
Status openExactly(ByteSpan bytes, Tlv &t, const char *as) {
  const AnyBuf view{
      const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()), 0, 2, 0, nullptr, nullptr};
  const char *fn = nullptr;
  if (Status st = openRecord(&view, t, fn); st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, as);
  }
  return Status::Ok;
}

// INTEGER content as RyAsn1_ReadIntegerArray gives it: a leading 00 that
// only marks a positive number is dropped. X.690 8.3.1: at least one octet.
Status integerMagnitude(const Tlv &t, ByteSpan &out, const char *as) {
  if (t.id != kIdInteger) {
    return RY_FAILED(Status::TagNotMatch, as);
  }
  if (t.content.empty()) {
    return RY_FAILED(Status::InvalidLength, as);
  }
  ByteSpan c = t.content;
  if (c.size() >= 2 && c[0] == 0x00 && (c[1] & 0x80) != 0) {
    c = c.subspan(1);
  }
  out = c;
  return Status::Ok;
}

// BIT STRING content: the unused-bits octet (0..7) and the bits after it.
Status bitStringParts(const Tlv &t, ByteSpan &bits, const char *as) {
  if (t.id != kIdBitString) {
    return RY_FAILED(Status::TagNotMatch, as);
  }
  if (t.content.empty() || t.content[0] > 7) {
    return RY_FAILED(Status::InvalidLength, as);
  }
  bits = t.content.subspan(1);
  return Status::Ok;
}

//   Time ::= CHOICE { utcTime UTCTime, generalTime GeneralizedTime }
// Decoding tries the GeneralizedTime reader first and the UTCTime reader
// after it, and reports the UTCTime reader's status: a malformed
// GeneralizedTime therefore fails with that reader's 106 (wrong type).
Status readCertTime(const Tlv &t, CertTime &out) {
  uint32_t v = 0;
  bool utc = false;
  const char *fn = nullptr;
  if (Status st = readTime(t, v, utc, fn); st != Status::Ok) {
    return RY_FAILED(t.id == kIdGeneralizedTime ? Status::TagNotMatch : st, "RyAsn1_ReadUtcTime");
  }
  out = CertTime{v, utc};
  return Status::Ok;
}

//   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
//                                       subjectPublicKey BIT STRING }
// (RFC 5280 4.1.2.7) The checks of Hx_DecodePubKey: the algorithm
// OID element and the key bits are kept, parameters must be well-formed.
Status decodeSpki(CertCtx &ctx, const Tlv &spki) {
  if (spki.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  const char *fn = nullptr;
  DerReader parts(spki.content);
  Tlv alg, bits;
  if (Status st = RY_STEP(parts.expect(kIdSequence, alg, fn), fn, "RyAsn1_ReadSequence");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.expect(kIdBitString, bits, fn), fn, "RyAsn1_ReadBitString");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_STEP(parts.finish(fn), fn, nullptr); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_ReadSequence");
  }
  DerReader algParts(alg.content);
  Tlv oidElem;
  if (Status st = RY_STEP(algParts.expect(kIdOid, oidElem, fn), fn, "RyAsn1_ReadObjectId");
      st != Status::Ok) {
    return st;
  }
  if (oidElem.content.empty()) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadObjectId");
  }
  if (Status st = skipRest(algParts, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (bits.content.empty() || bits.content[0] > 7) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadBitString");
  }
  setView(ctx.publicKeyAlgorithm, oidElem.whole);
  ctx.publicKeyAlgorithmIsElement = true;
  setView(ctx.publicKey, bits.content.subspan(1));
  return Status::Ok;
}

// ---------------------------------------------------------- extensions

struct ExtInfo {
  CertExt type;
  oid::Octets oid;
  uint8_t CertExtensions::*present;
  const char *decoderName;
};
// Recognised in this order.
const ExtInfo kExtInfo[] = {
    {CertExt::BasicConstraints, oid::kBasicConstraints, &CertExtensions::basicConstraintsPresent,
     "Hx_Cert_DecodeExtension_BasicConstraint"},
    {CertExt::AuthorityKeyId, oid::kAuthorityKeyIdentifier, &CertExtensions::akiPresent,
     "Hx_Cert_DecodeExtension_AuthorityKeyIdentifyer"},
    {CertExt::SubjectKeyId, oid::kSubjectKeyIdentifier, &CertExtensions::skiPresent,
     "Hx_Cert_DecodeExtension_SubjectKeyIdentifier"},
    {CertExt::KeyUsage, oid::kKeyUsage, &CertExtensions::keyUsagePresent,
     "Hx_Cert_DecodeExtension_KeyUsage"},
    {CertExt::ExtKeyUsage, oid::kExtKeyUsage, &CertExtensions::extKeyUsagePresent,
     "Hx_Cert_DecodeExtension_ExtKeyUsage"},
    {CertExt::CrlDistPoints, oid::kCrlDistributionPoints, &CertExtensions::crlDistPointsPresent,
     "Hx_Cert_DecodeExtension_CrlDistributionPoint"},
};

const ExtInfo *extInfo(CertExt type) {
  for (const ExtInfo &e : kExtInfo) {
    if (e.type == type) {
      return &e;
    }
  }
  return nullptr;
}

// The parts every Extension has:
//   Extension ::= SEQUENCE { extnID OBJECT IDENTIFIER,
//                            critical BOOLEAN DEFAULT FALSE,
//                            extnValue OCTET STRING }
struct ExtParts {
  ByteSpan oid;
  uint8_t critical = 0;
  ByteSpan value;
};

Status readOid(DerReader &r, ByteSpan &oidOut) {
  Tlv o;
  if (r.atEnd()) {
    return RY_FAILED(Status::CertNotEnd, "RYCERT_CertNotEndErr");
  }
  const char *fn = nullptr;
  if (Status st = r.next(o, fn); st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, "RyAsn1_ReadSequence");
  }
  if (o.id != kIdOid) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadObjectId");
  }
  if (o.content.empty()) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadObjectId");
  }
  oidOut = o.content;
  return Status::Ok;
}

Status readExtParts(const Tlv &ext, ExtParts &p) {
  if (ext.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader r(ext.content);
  if (Status st = readOid(r, p.oid); st != Status::Ok) {
    return st;
  }
  // A BOOLEAN next (first octet 01) is the criticality, kept as its byte.
  const char *fn = nullptr;
  if (!r.atEnd() && r.rest()[0] == kIdBoolean) {
    Tlv b;
    if (Status st = r.next(b, fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return RY_FAILED(st, "RyAsn1_ReadBoolean");
    }
    if (b.content.size() != 1) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadBoolean");
    }
    p.critical = b.content[0];
  }
  Tlv v;
  if (Status st = nextField(r, v, "RyAsn1_ReadOctetString"); st != Status::Ok) {
    return st;
  }
  if (v.id != kIdOctetString) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadOctetString");
  }
  p.value = v.content;
  return skipRest(r, "RyAsn1_ReadSequence");
}

//   BasicConstraints ::= SEQUENCE { cA BOOLEAN DEFAULT FALSE,
//                                   pathLenConstraint INTEGER (0..MAX) OPTIONAL }
// A DER encoder leaves cA FALSE out (X.690 11.5), so the first element is
// cA only when it is a BOOLEAN.
Status decodeBasicConstraints(CertExtensions &x, const ExtParts &p) {
  clearField(x.pathLen);
  x.pathLenPresent = 0;
  if (p.value.empty()) {
    return RY_FAILED(Status::CertNotEnd, "RYCERT_CertNotEndErr");
  }
  Tlv seq;
  if (Status st = openExactly(p.value, seq, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (seq.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader r(seq.content);
  const char *fn = nullptr;
  Tlv t;
  bool present = false;
  if (Status st = RY_STEP(r.optional(kIdBoolean, t, present, fn), fn, "RyAsn1_ReadBoolean");
      st != Status::Ok) {
    return st;
  }
  if (present) {
    if (t.content.size() != 1) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadBoolean");
    }
    x.cA = t.content[0];
  }
  if (Status st = RY_STEP(r.optional(kIdInteger, t, present, fn), fn, "RyAsn1_ReadIntegerArray");
      st != Status::Ok) {
    return st;
  }
  if (present) {
    ByteSpan mag;
    if (Status st = integerMagnitude(t, mag, "RyAsn1_ReadIntegerArray"); st != Status::Ok) {
      return st;
    }
    setView(x.pathLen, mag);
    x.pathLenPresent = 1;
  }
  if (!r.atEnd()) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  return Status::Ok;
}

//   AuthorityKeyIdentifier ::= SEQUENCE {
//     keyIdentifier             [0] KeyIdentifier           OPTIONAL,
//     authorityCertIssuer       [1] GeneralNames            OPTIONAL,
//     authorityCertSerialNumber [2] CertificateSerialNumber OPTIONAL }
Status decodeAki(CertExtensions &x, const ExtParts &p) {
  if (p.value.empty()) {
    return RY_FAILED(Status::CertNotEnd, "RYCERT_CertNotEndErr");
  }
  Tlv seq;
  if (Status st = openExactly(p.value, seq, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (seq.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader r(seq.content);
  const char *fn = nullptr;
  while (!r.atEnd()) {
    Tlv t;
    if (Status st = r.next(t, fn); st != Status::Ok) {
      RY_FAILED(st, fn);
      return RY_FAILED(st, "RyAsn1_ReadImplicit");
    }
    if (t.id == (kIdContext | 0)) {
      setView(x.akiKeyId, t.content);
      x.akiKeyIdPresent = 1;
    }
  }
  return Status::Ok;
}

//   SubjectKeyIdentifier ::= KeyIdentifier ::= OCTET STRING
Status decodeSki(CertExtensions &x, const ExtParts &p) {
  Tlv t;
  if (Status st = openExactly(p.value, t, "RyAsn1_ReadOctetString"); st != Status::Ok) {
    return st;
  }
  if (t.id != kIdOctetString) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadOctetString");
  }
  setView(x.skiValue, t.content);
  return Status::Ok;
}

//   KeyUsage ::= BIT STRING
// Kept whole: the BIT STRING's whole content, the
// unused-bits octet first.
Status decodeKeyUsage(CertExtensions &x, const ExtParts &p) {
  Tlv t;
  if (Status st = openExactly(p.value, t, "RyAsn1_ReadBitString"); st != Status::Ok) {
    return st;
  }
  ByteSpan bits;
  if (Status st = bitStringParts(t, bits, "RyAsn1_ReadBitString"); st != Status::Ok) {
    return st;
  }
  setView(x.keyUsageBits, t.content);
  return Status::Ok;
}

//   ExtKeyUsageSyntax ::= SEQUENCE SIZE (1..MAX) OF KeyPurposeId
//   KeyPurposeId ::= OBJECT IDENTIFIER
Status decodeEku(CertExtensions &x, const ExtParts &p) {
  Tlv seq;
  if (Status st = openExactly(p.value, seq, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (seq.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  uint8_t field[4] = {};
  DerReader r(seq.content);
  while (!r.atEnd()) {
    ByteSpan purpose;
    if (Status st = readOid(r, purpose); st != Status::Ok) {
      return st;
    }
    for (const Purpose &k : kPurposes) {
      if (oid::equal(k.oid, purpose)) {
        field[k.byte] |= k.flag;
      }
    }
  }
  std::memcpy(x.ekuDecoded, field, sizeof field);
  setView(x.extKeyUsage, {x.ekuDecoded, sizeof x.ekuDecoded});
  return Status::Ok;
}

//   CRLDistributionPoints ::= SEQUENCE SIZE (1..MAX) OF DistributionPoint
//   DistributionPoint ::= SEQUENCE {
//     distributionPoint [0] DistributionPointName OPTIONAL,
//     reasons           [1] ReasonFlags OPTIONAL,
//     cRLIssuer         [2] GeneralNames OPTIONAL }
//   DistributionPointName ::= CHOICE {
//     fullName                [0] GeneralNames,
//     nameRelativeToCRLIssuer [1] RelativeDistinguishedName }
Status decodeCrlDp(CertExtensions &x, const ExtParts &p) {
  Tlv seq;
  if (Status st = openExactly(p.value, seq, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (seq.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  const char *fn = nullptr;
  DerReader points(seq.content);
  while (!points.atEnd()) {
    Tlv dp;
    if (Status st = RY_STEP(points.next(dp, fn), fn, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
    if (dp.id != kIdSequence) {
      return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
    }
    DistPoint d{};
    d.present = 1;
    DerReader fields(dp.content);
    while (!fields.atEnd()) {
      Tlv f;
      if (Status st = RY_STEP(fields.next(f, fn), fn, "RyAsn1_ReadExplicit"); st != Status::Ok) {
        return st;
      }
      if (f.id != (kIdContext | kIdConstructed | 0)) {
        continue;  // reasons, cRLIssuer: not kept
      }
      // [0] wraps exactly one DistributionPointName.
      DerReader inner(f.content);
      Tlv name;
      if (Status st = RY_STEP(inner.next(name, fn), fn, "RyAsn1_ReadExplicit"); st != Status::Ok) {
        return st;
      }
      if (!inner.atEnd()) {
        return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadExplicit");
      }
      d.hasName = 1;
      d.hasFullName = 1;
      // The first GeneralName, complete with identifier and length octets.
      if (name.constructed()) {
        DerReader names(name.content);
        Tlv first;
        if (!names.atEnd()) {
          if (Status st = RY_STEP(names.next(first, fn), fn, "RyAsn1_ReadImplicit");
              st != Status::Ok) {
            return st;
          }
          setView(d.fullName, first.whole);
          d.nameIsElement = 1;
        }
      }
    }
    if (x.distPoints.push(d) != Status::Ok) {
      return RY_NO_MEMORY();
    }
    if (!x.distCursorSet) {
      x.distCursorSet = true;
      x.distCursor = x.distPoints.size() - 1;
    }
  }
  return Status::Ok;
}

Status decodePrivate(CertExtensions &x, const ExtParts &p) {
  PrivateExtension e{};
  setView(e.oid, p.oid);
  setView(e.value, p.value);
  e.critical = p.critical;
  if (x.privateExtensions.push(e) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  x.privatePresent = 1;
  return Status::Ok;
}

const ExtInfo *classify(ByteSpan extOid) {
  if (extOid.size() != 3) {
    return nullptr;
  }
  for (const ExtInfo &e : kExtInfo) {
    if (oid::equal(e.oid, extOid)) {
      return &e;
    }
  }
  return nullptr;
}

}  // namespace

Status decodeExtension(CertCtx &ctx, const Tlv &ext, CertExt type, bool checkType) {
  CertExtensions &x = ctx.extensions;
  const ExtInfo *info = extInfo(type);
  const char *as = info != nullptr ? info->decoderName : "Hx_Cert_DecodeExtension_Private";
  ExtParts p;
  if (Status st = readExtParts(ext, p); st != Status::Ok) {
    return RY_FAILED(st, as);
  }
  if (checkType && info != nullptr && !oid::equal(info->oid, p.oid)) {
    // Called with another type, the basic-constraints decoder
    // refuses it and the others ignore it.
    return type == CertExt::BasicConstraints
               ? RY_FAILED(Status::ExtensionContent, "RYCERT_ExtensionContentErr")
               : Status::Ok;
  }
  Status st = Status::Ok;
  switch (type) {
    case CertExt::BasicConstraints:
      x.basicConstraintsCritical = p.critical;
      st = decodeBasicConstraints(x, p);
      break;
    case CertExt::AuthorityKeyId:
      x.akiCritical = p.critical;
      st = decodeAki(x, p);
      break;
    case CertExt::SubjectKeyId:
      x.skiCritical = p.critical;
      st = decodeSki(x, p);
      break;
    case CertExt::KeyUsage:
      x.keyUsageCritical = p.critical;
      st = decodeKeyUsage(x, p);
      break;
    case CertExt::ExtKeyUsage:
      x.extKeyUsageCritical = p.critical;
      st = decodeEku(x, p);
      break;
    case CertExt::CrlDistPoints:
      x.crlDistPointsCritical = p.critical;
      st = decodeCrlDp(x, p);
      break;
    case CertExt::Private:
      st = decodePrivate(x, p);
      break;
  }
  if (info != nullptr) {
    x.*(info->present) = 1;  // set in step 1 of the common steps, kept on failure
  }
  return st == Status::Ok ? st : RY_FAILED(st, as);
}

//   extensions [3] EXPLICIT Extensions
//   Extensions ::= SEQUENCE SIZE (1..MAX) OF Extension
Status decodeExtensions(CertCtx &ctx, const Tlv &ext) {
  const char *fn = nullptr;
  DerReader outer(ext.content);
  if (outer.atEnd()) {
    RY_LOG_TEXT("======>Hx_Cert_DecodeExtensions");
    return Status::Ok;  // an empty explicit tag: nothing to read
  }
  Tlv seq;
  if (Status st = RY_STEP(outer.next(seq, fn), fn, "RyAsn1_ReadExplicit"); st != Status::Ok) {
    return st;
  }
  if (!outer.atEnd()) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadExplicit");
  }
  if (seq.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader list(seq.content);
  while (!list.atEnd()) {
    Tlv e;
    if (Status st = RY_STEP(list.next(e, fn), fn, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
    if (e.id != kIdSequence) {
      return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
    }
    DerReader peek(e.content);
    ByteSpan extOid;
    if (Status st = readOid(peek, extOid); st != Status::Ok) {
      return st;
    }
    const ExtInfo *info = classify(extOid);
    if (info != nullptr && ctx.extensions.*(info->present) != 0) {
      continue;  // a repeated recognised extension is skipped, not kept
    }
    if (Status st = decodeExtension(ctx, e, info != nullptr ? info->type : CertExt::Private, false);
        st != Status::Ok) {
      return st;
    }
  }
  RY_LOG_TEXT("======>Hx_Cert_DecodeExtensions");
  return Status::Ok;
}

//   TBSCertificate ::= SEQUENCE {
//     version         [0] EXPLICIT Version DEFAULT v1,
//     serialNumber        CertificateSerialNumber,
//     signature           AlgorithmIdentifier,
//     issuer              Name,
//     validity            Validity,
//     subject             Name,
//     subjectPublicKeyInfo SubjectPublicKeyInfo,
//     issuerUniqueID  [1] IMPLICIT UniqueIdentifier OPTIONAL,
//     subjectUniqueID [2] IMPLICIT UniqueIdentifier OPTIONAL,
//     extensions      [3] EXPLICIT Extensions OPTIONAL }
Status decodeTbs(CertCtx &ctx, const Tlv &tbs) {
  setView(ctx.tbsDer, tbs.whole);
  if (tbs.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader r(tbs.content);
  if (r.atEnd()) {
    return Status::Ok;  // an empty SEQUENCE fills nothing more
  }
  Tlv t;
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  // version: DEFAULT v1, so a v1 certificate may leave it out (RFC 5280 4.1).
  if (t.id == (kIdContext | kIdConstructed | 0)) {
    DerReader v(t.content);
    Tlv i;
    if (Status st = nextField(v, i, "RyAsn1_ReadExplicit"); st != Status::Ok) {
      return st;
    }
    if (!v.atEnd()) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_ReadExplicit");
    }
    ByteSpan mag;
    if (Status st = integerMagnitude(i, mag, "RyAsn1_ReadInteger"); st != Status::Ok) {
      return st;
    }
    uint32_t version = 0;
    for (uint8_t b : mag) {
      version = (version << 8) | b;  // as RyAsn1_ReadInteger folds it
    }
    ctx.version = version;
    if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
      ctx.versionSet = 1;
      return st;
    }
  } else {
    ctx.version = 0;
  }
  ctx.versionSet = 1;
  // serialNumber
  ByteSpan serial;
  if (Status st = integerMagnitude(t, serial, "RyAsn1_ReadIntegerArray"); st != Status::Ok) {
    return st;
  }
  setView(ctx.serialNumber, serial);
  // signature
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  const char *fn = nullptr;
  ByteSpan algOid;
  if (Status st = readAlgorithm(t, algOid, fn); st != Status::Ok) {
    return fail(st, fn);
  }
  setView(ctx.innerAlgorithm, algOid);
  // issuer
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = checkName(t, ctx.issuer, "Hx_DecodeIssuerSubject"); st != Status::Ok) {
    return st;
  }
  //   Validity ::= SEQUENCE { notBefore Time, notAfter Time }
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (t.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader validity(t.content);
  Tlv time;
  if (Status st = nextField(validity, time, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = readCertTime(time, ctx.notBefore); st != Status::Ok) {
    return st;
  }
  if (Status st = nextField(validity, time, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = readCertTime(time, ctx.notAfter); st != Status::Ok) {
    return st;
  }
  if (Status st = skipRest(validity, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  // subject
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = checkName(t, ctx.subject, "Hx_DecodeIssuerSubject"); st != Status::Ok) {
    return st;
  }
  // subjectPublicKeyInfo
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = decodeSpki(ctx, t); st != Status::Ok) {
    return RY_FAILED(st, "Hx_DecodePubKey");
  }
  // issuerUniqueID and subjectUniqueID are skipped (primitive in DER, the
  // constructed form accepted too); the next element is the extensions.
  while (!r.atEnd()) {
    if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
    const uint8_t number = t.id & 0x1F;
    const bool context = (t.id & 0xC0) == kIdContext;
    if (context && (number == 1 || number == 2)) {
      continue;
    }
    ctx.hasExtensions = 1;
    if (Status st = decodeExtensions(ctx, t); st != Status::Ok) {
      return RY_FAILED(st, "Hx_Cert_DecodeExtensions");
    }
    break;  // whatever follows is not read, but must be well-formed
  }
  if (Status st = skipRest(r, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  RY_LOG_TEXT("======>Hx_Cert_DecodeTBS");
  return Status::Ok;
}

Status adoptRecord(CertCtx &ctx, const AnyBuf *rec, Tlv &out, const char *as) {
  const char *fn = nullptr;
  Tlv t;
  if (Status st = openRecord(rec, t, fn); st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, as);
  }
  if (Status st = ctx.adopted.reserve(1); st != Status::Ok) {
    return RY_NO_MEMORY();
  }
  uint8_t *copy = RY_ALLOC(t.whole.size());
  if (copy == nullptr) {
    return RY_NO_MEMORY();
  }
  std::memcpy(copy, t.whole.data(), t.whole.size());
  ctx.adopted.push(copy);  // room reserved above
  const char *ignored = nullptr;
  DerReader r({copy, t.whole.size()});
  r.next(out, ignored);  // the same bytes that opened above
  return Status::Ok;
}

namespace {

// RyCert_DecodeCert:
//   Certificate ::= SEQUENCE { tbsCertificate TBSCertificate,
//                              signatureAlgorithm AlgorithmIdentifier,
//                              signatureValue BIT STRING }
Status decodeCert(CertCtx &ctx, const uint8_t *der, uint32_t length) {
  if (ctx.certificateDer.length != 0 || !ctx.tbsDer.empty()) {
    // One certificate per context: the views of the first stay valid.
    return RY_FAILED(Status::AttributeAlreadySet, "RYCERT_AttributeAlreadySet");
  }
  // The element's own length counts; an input shorter than it announces
  // is refused (101) before any byte beyond the header is read.
  Header h;
  const char *fn = nullptr;
  if (Status st = headerStatus(parseHeader({der, length}, h), Status::InvalidLength,
                               "RyAsn1_GetCertLength", fn);
      st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, "RyAsn1_GetCertLength");
  }
  if (h.contentLen > length - h.headerLen) {
    return RY_FAILED(Status::InvalidLength, "RyAsn1_GetCertLength");
  }
  const size_t total = h.headerLen + h.contentLen;
  uint8_t *copy = RY_ALLOC(total);
  if (copy == nullptr) {
    return RY_NO_MEMORY();
  }
  std::memcpy(copy, der, total);
  ctx.certificateDer = AnyBuf{copy, uint32_t(total), 0, 2, tagOf(h.id), nullptr, nullptr};
  const ByteSpan all{copy, total};
  if (h.id != kIdSequence) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_ReadSequence");
  }
  DerReader r(all.subspan(h.headerLen));
  if (r.atEnd()) {
    return Status::Ok;  // an empty SEQUENCE: nothing else filled
  }
  Tlv t;
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  if (Status st = decodeTbs(ctx, t); st != Status::Ok) {
    return RY_FAILED(st, "Hx_Cert_DecodeTBS");
  }
  if (r.atEnd()) {
    return Status::Ok;
  }
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  ByteSpan algOid;
  if (Status st = readAlgorithm(t, algOid, fn); st != Status::Ok) {
    RY_FAILED(st, fn);
    return RY_FAILED(st, "Hx_CopyAlgorithm");
  }
  setView(ctx.outerAlgorithm, algOid);
  if (r.atEnd()) {
    return Status::Ok;
  }
  if (Status st = nextField(r, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
    return st;
  }
  ByteSpan sig;
  if (Status st = bitStringParts(t, sig, "RyAsn1_ReadBitString"); st != Status::Ok) {
    return st;
  }
  setView(ctx.signature, sig);
  return skipRest(r, "RyAsn1_ReadSequence");
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

namespace {

// The exported single-extension decoders share one shape.
uint32_t decodeOneExtension(const AnyBuf *extension, CertCtx *ctx, CertExt type) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    Tlv t;
    if (Status st = adoptRecord(*ctx, extension, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
    return decodeExtension(*ctx, t, type, true);
  });
}

}  // namespace

extern "C" {

RYCERT_API uint32_t RyCert_DecodeCert(CertCtx *ctx, const uint8_t *der, uint32_t length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx, der);
    RY_LOG_TEXT("======>RyCert_DecodeCert Begin");
    if (Status st = decodeCert(*ctx, der, length); st != Status::Ok) {
      return st;
    }
    RY_LOG_TEXT("======>RyCert_DecodeCert End");
    return Status::Ok;
  });
}

RYCERT_API uint32_t Hx_Cert_DecodeTBS(CertCtx *ctx, const AnyBuf *tbs) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    if (!ctx->tbsDer.empty()) {
      return RY_FAILED(Status::AttributeAlreadySet, "RYCERT_AttributeAlreadySet");
    }
    Tlv t;
    if (Status st = adoptRecord(*ctx, tbs, t, "RyAsn1_ReadSequence"); st != Status::Ok) {
      return st;
    }
    return decodeTbs(*ctx, t);
  });
}

RYCERT_API uint32_t Hx_Cert_DecodeExtensions(const AnyBuf *extensions, CertCtx *ctx) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(ctx);
    Tlv t;
    if (Status st = adoptRecord(*ctx, extensions, t, "RyAsn1_ReadExplicit"); st != Status::Ok) {
      return st;
    }
    return decodeExtensions(*ctx, t);
  });
}

RYCERT_API uint32_t Hx_Cert_DecodeExtension_BasicConstraint(const AnyBuf *extension, CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::BasicConstraints);
}
RYCERT_API uint32_t Hx_Cert_DecodeExtension_AuthorityKeyIdentifyer(const AnyBuf *extension,
                                                                   CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::AuthorityKeyId);
}
RYCERT_API uint32_t Hx_Cert_DecodeExtension_SubjectKeyIdentifier(const AnyBuf *extension,
                                                                 CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::SubjectKeyId);
}
RYCERT_API uint32_t Hx_Cert_DecodeExtension_KeyUsage(const AnyBuf *extension, CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::KeyUsage);
}
RYCERT_API uint32_t Hx_Cert_DecodeExtension_ExtKeyUsage(const AnyBuf *extension, CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::ExtKeyUsage);
}
RYCERT_API uint32_t Hx_Cert_DecodeExtension_CrlDistributionPoint(const AnyBuf *extension,
                                                                 CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::CrlDistPoints);
}
RYCERT_API uint32_t Hx_Cert_DecodeExtension_Private(const AnyBuf *extension, CertCtx *ctx) {
  return decodeOneExtension(extension, ctx, CertExt::Private);
}

}  // extern "C"
