// The certificate context behind the opaque CertCtx handle, its attribute
// table, and the pieces the certificate sources share.
//
// A decoded context keeps ONE copy of the certificate (`certificateDer`)
// and views into it; nothing is copied or built per element until a query
// asks (DN texts) or a setter stores. An encode context holds the setters'
// copies. Both are the same record, so every query works on either.
#pragma once

#include <array>

#include "ry_x509.h"

namespace rycert2 {

// One Validity time: integer time and the form it is (to be) written in.
struct CertTime {
  uint32_t time = 0;
  bool utc = false;  // form 1 = UTCTime, 0 = GeneralizedTime
};

// A CPS qualifier of the certificate policy.
struct PolicyQualifier {
  ByteField text;
};

// A CRL distribution point.
struct DistPoint {
  ByteField fullName;  // setter: URI characters; decoded: the first GeneralName element
  uint8_t present = 0;
  uint8_t hasName = 0;        // a distributionPoint name is present
  uint8_t hasFullName = 0;    // the name is a fullName
  uint8_t nameIsElement = 0;  // fullName holds a whole GeneralName (decoded)
};

// A private extension. Setters store OID and
// value in one owned block (`oid` owns it, `value` views into it).
struct PrivateExtension {
  ByteField oid;
  ByteField value;
  uint8_t critical = 0;
};

// CertExtensions.
struct CertExtensions {
  uint8_t akiPresent = 0, skiPresent = 0, keyUsagePresent = 0, policiesPresent = 0;
  uint8_t subjectAltNamePresent = 0, issuerAltNamePresent = 0, basicConstraintsPresent = 0;
  uint8_t extKeyUsagePresent = 0, crlDistPointsPresent = 0, privatePresent = 0;

  uint8_t akiKeyIdPresent = 0, akiCritical = 0;
  ByteField akiKeyId;
  uint8_t skiCritical = 0;
  ByteField skiValue;
  uint8_t keyUsageCritical = 0;
  ByteField keyUsageBits;

  uint8_t policiesCritical = 0;
  ByteField policyOid;
  PodArray<PolicyQualifier> policyQualifiers;

  uint8_t subjectAltNameCritical = 0, subjectAltDirNamePresent = 0;
  NameField subjectAltDirName;
  uint8_t issuerAltNameCritical = 0, issuerAltDirNamePresent = 0;
  NameField issuerAltDirName;

  uint8_t pathLenPresent = 0, basicConstraintsCritical = 0, cA = 0;
  ByteField pathLen;

  uint8_t extKeyUsageCritical = 0;
  ByteField extKeyUsage;
  uint8_t ekuDecoded[4] = {};  // the purpose field decoding builds; extKeyUsage views it

  uint8_t crlDistPointsCritical = 0;
  PodArray<DistPoint> distPoints;
  size_t distCursor = 0;       // index of the next point CERTEX_CRLDIST_FULLNAME returns
  bool distCursorSet = false;  // decoding sets the cursor; setters do not

  PodArray<PrivateExtension> privateExtensions;
};

}  // namespace rycert2

// CertCtx. Created by RyCert_Create*Ctx (MOSK_Malloc, constructed
// in place) and destroyed by RyCert_Destroy*Ctx, whose destructor releases
// everything the context owns.
struct CertCtx {
  CertCtx();
  ~CertCtx();
  CertCtx(const CertCtx &) = delete;
  CertCtx &operator=(const CertCtx &) = delete;

  uint8_t versionSet = 0;
  uint8_t hasExtensions = 0;
  AnyBuf certificateDer{};  // the whole certificate: decoded input, or the first encode's result
  // Copies of the records handed to the exported Hx_Cert_Decode* routines,
  // which the decoded fields view.
  rycert2::PodArray<uint8_t *> adopted;
  rycert2::ByteField tbsDer;          // decoded: the TBSCertificate element (view)
  rycert2::ByteField outerAlgorithm;  // OID content octets
  rycert2::ByteField signature;       // BIT STRING content without the unused-bits octet
  AnyBuf issuerDnText{};
  AnyBuf subjectDnText{};
  rycert2::Signer signer;
  uint32_t version = 0;
  rycert2::ByteField serialNumber;    // INTEGER content octets
  rycert2::ByteField innerAlgorithm;  // OID content octets
  rycert2::NameField issuer;
  rycert2::CertTime notBefore;
  rycert2::CertTime notAfter;
  rycert2::NameField subject;
  rycert2::ByteField publicKeyAlgorithm;  // decoded: whole OID element; set: content octets
  bool publicKeyAlgorithmIsElement = false;
  rycert2::ByteField publicKey;  // subjectPublicKey BIT STRING content
  rycert2::CertExtensions extensions;
};

namespace rycert2 {

// Field selectors of the certificate attribute rows (AttrRow::slot).
enum CertSlot : uint8_t {
  kSlotTbs,
  kSlotOuterAlg,
  kSlotSignature,
  kSlotVersion,
  kSlotSerial,
  kSlotInnerAlg,
  kSlotIssuerDn,
  kSlotIssuer,
  kSlotValidFrom,
  kSlotValidTo,
  kSlotSubjectDn,
  kSlotSubject,
  kSlotPubKeyAlg,
  kSlotPubKey,
  kSlotAki,
  kSlotSki,
  kSlotKeyUsageCritical,
  kSlotKeyUsage,
  kSlotPolicyId,
  kSlotPolicyCps,
  kSlotSubjectAlt,
  kSlotIssuerAlt,
  kSlotBcCritical,
  kSlotBcAuthority,
  kSlotPathLen,
  kSlotEku,
  kSlotCrlDist,
};

// First identifiers of the name families (offsets into kNameIdOrder).
inline constexpr int32_t kCertIssuerFirst = CERT_ISSUER_COUNTRYNAME;
inline constexpr int32_t kCertSubjectFirst = CERT_SUBJECT_COUNTRYNAME;
inline constexpr int32_t kCertSubjectAltFirst = CERT_SUBJECT_ALT_COUNTRYNAME;
inline constexpr int32_t kCertIssuerAltFirst = CERT_ISSUER_ALT_COUNTRYNAME;

inline constexpr uint16_t kG = kAttrGet;
inline constexpr uint16_t kS = kAttrSet;
inline constexpr uint16_t kGS = kAttrGet | kAttrSet;
inline constexpr uint16_t kX = kAttrMarksExtensions;
inline constexpr uint16_t kOnce = kAttrOnceOnly;
inline constexpr uint16_t kLEN = kAttrUpperLen;

// The one table of certificate attributes: the setter,
// the query and the log lines all find their identifier here.
// clang-format off
inline constexpr AttrRow kCertAttrs[] = {
    {CERT_TBS_CERTIFICATE, "CERT_TBS_CERTIFICATE", AttrKind::Bytes, kSlotTbs, 0, kG | kLEN},
    {CERT_OUTER_SIGNATUREALGORITHM, "CERT_OUTER_SIGNATUREALGORITHM", AttrKind::Bytes, kSlotOuterAlg, 0, kGS},
    {CERT_CA_SIGNATURE, "CERT_CA_SIGNATURE", AttrKind::Bytes, kSlotSignature, 0, kGS | kLEN},
    {CERT_VERSION, "CERT_VERSION", AttrKind::Int, kSlotVersion, 0, kGS},
    {CERT_SERIALNUMBER, "CERT_SERIALNUMBER", AttrKind::Bytes, kSlotSerial, 0, kGS | kLEN},
    {CERT_INNER_SIGNATUREALGORITHM, "CERT_INNER_SIGNATUREALGORITHM", AttrKind::Bytes, kSlotInnerAlg, 0, kGS},
    {CERT_ISSUER_DN, "CERT_ISSUER_DN", AttrKind::DnText, kSlotIssuerDn, 0, kG},
    nameRow(CERT_ISSUER_COUNTRYNAME, "CERT_ISSUER_COUNTRYNAME", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_STATEORPROVINCENAME, "CERT_ISSUER_STATEORPROVINCENAME", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_LOCALITYNAME, "CERT_ISSUER_LOCALITYNAME", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_ORGANIZATIONNAME, "CERT_ISSUER_ORGANIZATIONNAME", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_ORGANIZATIONALUNITNAME, "CERT_ISSUER_ORGANIZATIONALUNITNAME", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_COMMONNAME, "CERT_ISSUER_COMMONNAME", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_EMAIL, "CERT_ISSUER_EMAIL", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_POSTALADDRESS, "CERT_ISSUER_POSTALADDRESS", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_POSTALCODE, "CERT_ISSUER_POSTALCODE", kSlotIssuer, kCertIssuerFirst, kGS),
    nameRow(CERT_ISSUER_TELEPHONE, "CERT_ISSUER_TELEPHONE", kSlotIssuer, kCertIssuerFirst, kGS),
    {CERT_VALIDFROM, "CERT_VALIDFROM", AttrKind::Int, kSlotValidFrom, 0, kGS},
    {CERT_VALIDTO, "CERT_VALIDTO", AttrKind::Int, kSlotValidTo, 0, kGS},
    {CERT_SUBJECT_DN, "CERT_SUBJECT_DN", AttrKind::DnText, kSlotSubjectDn, 0, kG},
    nameRow(CERT_SUBJECT_COUNTRYNAME, "CERT_SUBJECT_COUNTRYNAME", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_STATEORPROVINCENAME, "CERT_SUBJECT_STATEORPROVINCENAME", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_LOCALITYNAME, "CERT_SUBJECT_LOCALITYNAME", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_ORGANIZATIONNAME, "CERT_SUBJECT_ORGANIZATIONNAME", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_ORGANIZATIONALUNITNAME, "CERT_SUBJECT_ORGANIZATIONALUNITNAME", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_COMMONNAME, "CERT_SUBJECT_COMMONNAME", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_EMAIL, "CERT_SUBJECT_EMAIL", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_POSTALADDRESS, "CERT_SUBJECT_POSTALADDRESS", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_POSTALCODE, "CERT_SUBJECT_POSTALCODE", kSlotSubject, kCertSubjectFirst, kGS),
    nameRow(CERT_SUBJECT_TELEPHONE, "CERT_SUBJECT_TELEPHONE", kSlotSubject, kCertSubjectFirst, kGS),
    {CERT_PUBLICKEY_ALGORITHM, "CERT_PUBLICKEY_ALGORITHM", AttrKind::Bytes, kSlotPubKeyAlg, 0, kGS},
    {CERT_SUBJECTPUBLICKEYINFO, "CERT_SUBJECTPUBLICKEYINFO", AttrKind::Bytes, kSlotPubKey, 0, kGS},
    {CERTEX_AUTHORITYKEYIDENTIFIER, "CERTEX_AUTHORITYKEYIDENTIFIER", AttrKind::Bytes, kSlotAki, 0, kGS | kX | kOnce},
    {CERTEX_SUBJECTKEYIDENTIFIER, "CERTEX_SUBJECTKEYIDENTIFIER", AttrKind::Bytes, kSlotSki, 0, kGS | kX | kOnce},
    {CERTEX_KEYUSAGE_CRITICAL, "CERTEX_KEYUSAGE_CRITICAL", AttrKind::Bytes, kSlotKeyUsageCritical, 0, kG},
    {CERTEX_KEYUSAGE, "CERTEX_KEYUSAGE", AttrKind::Bytes, kSlotKeyUsage, 0, kGS | kX | kOnce},
    {CERTEX_CERTPOLICYID, "CERTEX_CERTPOLICYID", AttrKind::Special, kSlotPolicyId, 0, kS | kX},
    {CERTEX_CERTPOLICY_CPS, "CERTEX_CERTPOLICY_CPS", AttrKind::Special, kSlotPolicyCps, 0, kS | kX},
    nameRow(CERT_SUBJECT_ALT_COUNTRYNAME, "CERT_SUBJECT_ALT_COUNTRYNAME", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_SUBJECT_ALT_STATEORPROVINCENAME, "CERT_SUBJECT_ALT_STATEORPROVINCENAME", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_SUBJECT_ALT_LOCALITYNAME, "CERT_SUBJECT_ALT_LOCALITYNAME", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_SUBJECT_ALT_ORGANIZATIONNAME, "CERT_SUBJECT_ALT_ORGANIZATIONNAME", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_SUBJECT_ALT_ORGANIZATIONALUNITNAME, "CERT_SUBJECT_ALT_ORGANIZATIONALUNITNAME", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_SUBJECT_ALT_COMMONNAME, "CERT_SUBJECT_ALT_COMMONNAME", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_SUBJECT_ALT_EMAIL, "CERT_SUBJECT_ALT_EMAIL", kSlotSubjectAlt, kCertSubjectAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_COUNTRYNAME, "CERT_ISSUER_ALT_COUNTRYNAME", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_STATEORPROVINCENAME, "CERT_ISSUER_ALT_STATEORPROVINCENAME", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_LOCALITYNAME, "CERT_ISSUER_ALT_LOCALITYNAME", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_ORGANIZATIONNAME, "CERT_ISSUER_ALT_ORGANIZATIONNAME", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_ORGANIZATIONALUNITNAME, "CERT_ISSUER_ALT_ORGANIZATIONALUNITNAME", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_COMMONNAME, "CERT_ISSUER_ALT_COMMONNAME", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    nameRow(CERT_ISSUER_ALT_EMAIL, "CERT_ISSUER_ALT_EMAIL", kSlotIssuerAlt, kCertIssuerAltFirst, kS | kX),
    {CERTEX_BASICCONSTRAINTS_CRITICAL, "CERTEX_BASICCONSTRAINTS_CRITICAL", AttrKind::Bytes, kSlotBcCritical, 0, kGS | kX | kOnce},
    {CERTEX_AUTHORITY, "CERTEX_AUTHORITY", AttrKind::Bytes, kSlotBcAuthority, 0, kGS | kX | kOnce},
    {CERTEX_PATHLENCONSTRAINT, "CERTEX_PATHLENCONSTRAINT", AttrKind::Bytes, kSlotPathLen, 0, kGS | kX},
    {CERTEX_EXTKEY_USAGE, "CERTEX_EXTKEY_USAGE", AttrKind::Bytes, kSlotEku, 0, kGS | kX | kOnce},
    {CERTEX_CRLDIST_FULLNAME, "CERTEX_CRLDIST_FULLNAME", AttrKind::Special, kSlotCrlDist, 0, kGS | kX},
};
// clang-format on
static_assert(sortedUnique(kCertAttrs));

// The row of each identifier 0..129 (-1: none): a lookup is one load.
inline constexpr int32_t kCertLastId = CERTEX_CRLDIST_FULLNAME;
inline constexpr auto kCertAttrAt = [] {
  std::array<int8_t, kCertLastId + 1> at{};
  for (auto &a : at) {
    a = -1;
  }
  for (size_t i = 0; i < std::size(kCertAttrs); ++i) {
    at[size_t(kCertAttrs[i].id)] = int8_t(i);
  }
  return at;
}();
inline constexpr auto kCertGetLines = composeGetLines(kCertAttrs);
// The precomposed query line of a row of kCertAttrs.
inline const char *certGetLine(const AttrRow &row, bool lengthQuery) {
  const size_t i = size_t(&row - kCertAttrs);
  return lengthQuery ? kCertGetLines.getLen[i] : kCertGetLines.get[i];
}
// The row of an identifier that the char query answers (kAttrGet, not an
// Int row), or -1: the query's whole row check is one load.
inline constexpr auto kCertCharQueryAt = [] {
  std::array<int8_t, kCertLastId + 1> at{};
  for (size_t id = 0; id < at.size(); ++id) {
    const int8_t i = kCertAttrAt[id];
    at[id] = i >= 0 && (kCertAttrs[size_t(i)].flags & kAttrGet) != 0 &&
                     kCertAttrs[size_t(i)].kind != AttrKind::Int
                 ? i
                 : int8_t(-1);
  }
  return at;
}();
inline const AttrRow *certCharQueryRow(int64_t id) {
  return id >= 0 && id <= kCertLastId && kCertCharQueryAt[size_t(id)] >= 0
             ? &kCertAttrs[kCertCharQueryAt[size_t(id)]]
             : nullptr;
}
inline const AttrRow *certRow(int64_t id) {
  return id >= 0 && id <= kCertLastId && kCertAttrAt[size_t(id)] >= 0
             ? &kCertAttrs[kCertAttrAt[size_t(id)]]
             : nullptr;
}

// --------------------------------------- shared by the certificate sources
// Extended key usage purposes in the order they are written, with their
// flag in the 4-byte purpose field: the one list for encoding and decoding.
struct Purpose {
  oid::Octets oid;
  uint8_t byte;  // 0-based index into the field
  uint8_t flag;
};
inline constexpr Purpose kPurposes[] = {
    {oid::kServerAuth, 0, RY_EKU1_SERVERAUTH},
    {oid::kClientAuth, 0, RY_EKU1_CLIENTAUTH},
    {oid::kCodeSigning, 1, RY_EKU2_CODESIGNING},
    {oid::kEmailProtection, 1, RY_EKU2_EMAILPROTECTION},
    {oid::kIpsecEndSystem, 1, RY_EKU2_IPSECENDSYSTEM},
    {oid::kIpsecTunnel, 1, RY_EKU2_IPSECTUNNEL},
    {oid::kIpsecUser, 1, RY_EKU2_IPSECUSER},
    {oid::kTimeStamping, 1, RY_EKU2_TIMESTAMPING},
};


// Extension OIDs and types in the order they are recognised.
enum class CertExt : uint8_t {
  BasicConstraints,
  AuthorityKeyId,
  SubjectKeyId,
  KeyUsage,
  ExtKeyUsage,
  CrlDistPoints,
  Private,
};

// Decodes the TBSCertificate element `tbs`, whose bytes the context owns.
Status decodeTbs(CertCtx &ctx, const Tlv &tbs);
// Decodes the extensions element (the [3] EXPLICIT wrapper) into the context.
Status decodeExtensions(CertCtx &ctx, const Tlv &ext);
// Decodes one Extension element of type `type` (Private: any type). With
// `checkType` the OID must be that type's (exported decoders).
Status decodeExtension(CertCtx &ctx, const Tlv &ext, CertExt type, bool checkType);

// Releases everything a private extension owns.
void releasePrivate(PrivateExtension &p);
// Copies the element held by a caller's record into a block the context
// keeps (the decoded fields view it) and opens it. Failures logged.
Status adoptRecord(CertCtx &ctx, const AnyBuf *rec, Tlv &out, const char *as);

// Writes the TBSCertificate; faults are logged
// and returned, writer faults stay in `w`.
Status writeTbs(DerWriter &w, const CertCtx &ctx);
// Writes the Validity SEQUENCE.
void writeValidity(DerWriter &w, const CertCtx &ctx);
// Writes the [3] Extensions field (nothing when there is no extension).
Status writeExtensions(DerWriter &w, const CertCtx &ctx);

}  // namespace rycert2
