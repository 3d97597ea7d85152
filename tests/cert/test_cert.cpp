// Certificates : the decoder's
// field ladder and every prefix, each entry point's checks in order, setter
// and query round trips through encode -> decode for every identifier, the
// once-only rules, the signing step's protocol and cache, allocation-failure
// sweeps, log lines, and linear cost on large inputs.
#include <ctime>
#include <map>
#include <optional>

#include "cert_util.h"

namespace {

using namespace rytest;

// ------------------------------------------------------ signing callback

// What the test callback answers and what it saw.
struct SignScript {
  uint32_t firstRc = 0;
  std::optional<uint32_t> firstLen;  // default: the signature's size
  uint32_t secondRc = 0;
  std::optional<uint32_t> secondLen;  // default: the signature's size
  Bytes signature = hex("5A A5 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E");
  // seen
  int calls = 0;
  std::vector<bool> bufferNull;
  std::vector<uint32_t> capacity;
  std::vector<bool> paramNull;
  Bytes param;
  Bytes tbs;
};
SignScript *gScript = nullptr;

uint32_t scriptedSign(const uint8_t *data, uint32_t dataLen, uint8_t *sig, uint32_t *sigLen,
                      const uint8_t *param) {
  SignScript &s = *gScript;
  ++s.calls;
  s.bufferNull.push_back(sig == nullptr);
  s.capacity.push_back(*sigLen);
  s.paramNull.push_back(param == nullptr);
  s.tbs.assign(data, data + dataLen);
  if (sig == nullptr) {
    if (s.firstRc != 0) {
      return s.firstRc;
    }
    *sigLen = s.firstLen.value_or(uint32_t(s.signature.size()));
    return 0;
  }
  if (param != nullptr) {
    s.param.assign(param, param + 4);  // the test passes 4 bytes
  }
  if (s.secondRc != 0) {
    return s.secondRc;
  }
  const uint32_t n = std::min<uint32_t>(*sigLen, uint32_t(s.signature.size()));
  std::memcpy(sig, s.signature.data(), n);
  *sigLen = s.secondLen.value_or(uint32_t(s.signature.size()));
  return 0;
}

struct ScriptScope {
  SignScript script;
  ScriptScope() { gScript = &script; }
  ~ScriptScope() { gScript = nullptr; }
};

// ------------------------------------------------------ DER by hand

const Bytes kSha256Rsa = hex("2A864886F70D01010B");
const Bytes kRsaEnc = hex("2A864886F70D010101");
Bytes oidE(const Bytes &o) { return tlv(0x06, o); }
Bytes algId(const Bytes &o) { return tlv(0x30, cat({oidE(o), hex("0500")})); }
Bytes rdn(const char *oidHex, const std::string &v, uint8_t strId = 0x13) {
  return tlv(0x31, tlv(0x30, cat({oidE(hex(oidHex)), tlv(strId, str(v))})));
}
Bytes ext(const char *oidHex, const Bytes &value, std::optional<uint8_t> critical = {}) {
  Bytes crit = critical ? tlv(0x01, {*critical}) : Bytes{};
  return tlv(0x30, cat({oidE(hex(oidHex)), crit, tlv(0x04, value)}));
}
Bytes utc(const char *t) { return tlv(0x17, str(t)); }
Bytes gen(const char *t) { return tlv(0x18, str(t)); }
Bytes validityOf(const Bytes &from, const Bytes &to) { return tlv(0x30, cat({from, to})); }

// The template certificate: a v3 certificate with every recognised
// extension, two distribution points and a private one.
struct Template {
  Bytes version = hex("A003020102");
  Bytes serial = hex("020A008FE1A2B3C4D5E6F701");  // leading 00 marks a positive number
  Bytes alg = algId(kSha256Rsa);
  Bytes issuer = tlv(
      0x30, cat({rdn("550406", "DE"), rdn("55040A", "Issuer Org"), rdn("550403", "Issuer CA")}));
  Bytes validity = validityOf(utc("200102030405Z"), gen("20510102030405Z"));
  Bytes subject = tlv(
      0x30, cat({rdn("550406", "FR"), rdn("550408", "Bretagne"), rdn("550407", "Rennes"),
                 rdn("55040A", "Subject Org"), rdn("55040B", "Unit One"), rdn("55040B", "Unit Two"),
                 rdn("550403", "leaf.example"), rdn("2A864886F70D010901", "a@b.example", 0x16)}));
  Bytes key = hex("3009020201AB0203010001");
  Bytes spki = tlv(0x30, cat({algId(kRsaEnc), tlv(0x03, cat({{0x00}, key}))}));
  std::vector<Bytes> exts = {
      ext("551D13", hex("30060101FF020100"), 0xFF),                        // basicConstraints
      ext("551D23", hex("30068004A1B2C3D4")),                              // authorityKeyIdentifier
      ext("551D0E", hex("0403010203")),                                    // subjectKeyIdentifier
      ext("551D0F", hex("030205A0"), 0xFF),                                // keyUsage
      ext("551D25", hex("301406082B0601050507030106082B06010505070308")),  // EKU
      Bytes{},                                                             // CRL DPs, set below
      ext("551D11", hex("300D820B6C6561662E6578616D706C65")),  // subjectAltName: private
  };
  Bytes sigAlg = algId(kSha256Rsa);
  Bytes sig = tlv(0x03, hex("00 11 22 33 44"));

  Template() {
    // Two distribution points: http://a/1 and http://b/2.
    const Bytes dp1 = tlv(0x30, tlv(0xA0, tlv(0xA0, tlv(0x86, str("http://a/1")))));
    const Bytes dp2 = tlv(0x30, tlv(0xA0, tlv(0xA0, tlv(0x86, str("http://b/2")))));
    exts[5] = ext("551D1F", tlv(0x30, cat({dp1, dp2})));
  }
  Bytes extensions() const { return tlv(0xA3, seqOf(exts)); }
  std::vector<Bytes> tbsFields() const {
    return {version, serial, alg, issuer, validity, subject, spki, extensions()};
  }
  Bytes tbs() const { return seqOf(tbsFields()); }
  Bytes cert(const Bytes &tbsDer) const { return tlv(0x30, cat({tbsDer, sigAlg, sig})); }
  Bytes cert() const { return cert(tbs()); }
};

// ============================================================ decoding

// What the decoder reads is compared with libcrypto's reading, field by
// field, in test_cert_peers; here the distribution point cursor: a length
// query does not move it, a read does.
TEST(Decode, DistributionPointCursor) {
  Ctx c;
  ASSERT_EQ(decode(c, Template().cert()), RYCERT_OK);
  uint32_t len = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(RyCert_GetCertAttributeChar(c, CERTEX_CRLDIST_FULLNAME, nullptr, &len), RYCERT_OK);
    EXPECT_EQ(len, 12u) << "a length query does not move";
  }
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), cat({{0x86, 10}, str("http://a/1")}));
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), cat({{0x86, 10}, str("http://b/2")}));
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), Bytes{}) << "past the last point";
}

// One row per field: what leaving it out, giving it another identifier,
// ending the input inside it, or stopping the list before it does.
constexpr uint32_t kShort = RYCERT_InvalidLengthErr;  // a length claims more than is left

TEST(Decode, TbsFieldLadder) {
  const Template t;
  expectLadder(
      {
          // A TBSCertificate without [0] is a v1 certificate (version
          // DEFAULT v1); an empty one fills nothing.
          {"version", RYCERT_OK, RYCERT_TagNotMatchErr, kShort, RYCERT_OK},
          {"serialNumber", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort,
           RYCERT_CertNotEndErr},
          {"signature", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CertNotEndErr},
          {"issuer", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CertNotEndErr},
          {"validity", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CertNotEndErr},
          {"subject", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CertNotEndErr},
          {"subjectPublicKeyInfo", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort,
           RYCERT_CertNotEndErr},
          // The element after the key is the extensions field whatever its
          // identifier; the extensions are optional.
          {"extensions", RYCERT_OK, RYCERT_OK, kShort, RYCERT_OK},
      },
      t.tbsFields(), [&](const std::vector<Bytes> &f) { return decode(Ctx(), t.cert(seqOf(f))); });
}

TEST(Decode, CertificateFieldLadder) {
  const Template t;
  const Bytes tbs = t.tbs();
  expectLadder(
      {
          // Each field left off the end reads as absent.
          {"tbsCertificate", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_OK},
          {"signatureAlgorithm", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_OK},
          {"signatureValue", RYCERT_OK, RYCERT_TagNotMatchErr, kShort, RYCERT_OK},
      },
      {tbs, t.sigAlg, t.sig}, [](const std::vector<Bytes> &f) { return decode(Ctx(), seqOf(f)); });
  for (const auto &[why, der, want] : {
           std::tuple{"outer is a SET", tlv(0x31, cat({tbs, t.sigAlg, t.sig})), RYCERT_TagNotMatchErr},
           std::tuple{"signatureAlgorithm without OID", tlv(0x30, cat({tbs, hex("3000"), t.sig})),
                      RYCERT_InvalidLengthErr},
           std::tuple{"signatureValue without unused-bits octet",
                      tlv(0x30, cat({tbs, t.sigAlg, hex("0300")})), RYCERT_InvalidLengthErr},
           std::tuple{"malformed element after the signature",
                      tlv(0x30, cat({tbs, t.sigAlg, t.sig, hex("05")})), RYCERT_InvalidLengthErr},
       }) {
    EXPECT_EQ(decode(Ctx(), der), want) << why;
  }
  Ctx c;
  ASSERT_EQ(decode(c, tlv(0x30, tbs)), RYCERT_OK);
  EXPECT_EQ(getChar(c, CERT_OUTER_SIGNATUREALGORITHM), Bytes{});
  EXPECT_EQ(getChar(c, CERT_CA_SIGNATURE), Bytes{});
  EXPECT_EQ(getInt(c, CERT_VERSION), 2u);
}

// Every prefix of a valid certificate is refused without reading past it;
// the whole certificate with one more byte decodes, the byte ignored.
void everyPrefix(const Bytes &der) {
  expectEveryPrefixRefused(
      der, [](const uint8_t *p, uint32_t n) { return RyCert_DecodeCert(Ctx(), p, n); });
  Ctx c;
  ASSERT_EQ(decode(c, cat({der, hex("00")})), RYCERT_OK);
  Bytes again;
  ASSERT_EQ(encode(c, again), RYCERT_OK);
  EXPECT_EQ(again, der) << "the trailing byte is not part of the certificate";
}

// The DER of a corpus certificate (its file holds PEM with text around it).
Bytes corpusCert(const std::string &name) {
  return certObjects(name, readFile(std::string(RYTEST_DATA) + "/" + name)).at(0).der;
}

TEST(Decode, EveryPrefixIsRefusedAndATrailingByteIgnored) {
  everyPrefix(Template().cert());
  everyPrefix(corpusCert("certs/complex-cert.der"));
  everyPrefix(corpusCert("certs/aki-cert.der"));
}

TEST(Decode, WhatRfc5280Allows) {
  const Template t;
  auto bothIds = t.tbsFields(), subjectId = t.tbsFields(), mixedTimes = t.tbsFields();
  bothIds.insert(bothIds.begin() + 7, {hex("8102 0011"), hex("8203 00AABB")});
  subjectId.insert(subjectId.begin() + 7, hex("8202 00FF"));
  mixedTimes[4] = validityOf(gen("19991231235959Z"), utc("491231235959Z"));
  for (const auto &fields : {bothIds, subjectId, mixedTimes}) {
    Ctx c;
    ASSERT_EQ(decode(c, t.cert(seqOf(fields))), RYCERT_OK);
    EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE), hex("05A0")) << "the unique IDs are skipped";
    EXPECT_EQ(getChar(c, CERTEX_SUBJECTKEYIDENTIFIER), hex("010203"));
  }
  Ctx c;
  ASSERT_EQ(decode(c, t.cert(seqOf(mixedTimes))), RYCERT_OK);
  EXPECT_EQ(getInt(c, CERT_VALIDFROM), 946684799u) << "GeneralizedTime before 2050";
  EXPECT_EQ(getInt(c, CERT_VALIDTO), 2524607999u);
}

TEST(Decode, ValidityFaults) {
  const Template t;
  const Bytes ok = utc("200102030405Z");
  const struct {
    const char *name;
    Bytes validity;
    uint32_t want;
  } rows[] = {
      {"one time", tlv(0x30, ok), RYCERT_CertNotEndErr},
      {"empty", hex("3000"), RYCERT_CertNotEndErr},
      {"UTCTime without Z", validityOf(utc("2001020304050"), ok), RYCERT_InvalidTimeEndErr},
      {"UTCTime month 13", validityOf(utc("201302030405Z"), ok), RYCERT_InvalidTimeFieldErr},
      // GeneralizedTime is tried first, then UTCTime, whose status counts.
      {"bad GeneralizedTime", validityOf(gen("20201302030405Z"), ok), RYCERT_TagNotMatchErr},
      {"not a time", validityOf(tlv(0x02, hex("01")), ok), RYCERT_TagNotMatchErr},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    auto f = t.tbsFields();
    f[4] = r.validity;
    Ctx c;
    EXPECT_EQ(decode(c, t.cert(seqOf(f))), r.want);
  }
}

// Extensions: each type's decoding, by the extension list given in place
// of the template's.
TEST(Decode, ExtensionsTheDecoderRefuses) {
  const struct {
    const char *name;
    Bytes ext;
    uint32_t want;
  } rows[] = {
      {"basicConstraints not a SEQUENCE", ext("551D13", hex("0500")), RYCERT_TagNotMatchErr},
      {"basicConstraints empty value", ext("551D13", {}), RYCERT_CertNotEndErr},
      {"AKI empty value", ext("551D23", {}), RYCERT_CertNotEndErr},
      {"SKI not an OCTET STRING", ext("551D0E", hex("0301 00")), RYCERT_TagNotMatchErr},
      {"SKI with bytes after it", ext("551D0E", hex("040101 00")), RYCERT_LengthNotEqualErr},
      {"keyUsage not a BIT STRING", ext("551D0F", hex("040186")), RYCERT_TagNotMatchErr},
      {"EKU element not an OID", ext("551D25", hex("3003020101")), RYCERT_TagNotMatchErr},
      {"Extension without extnValue", tlv(0x30, oidE(hex("551D0F"))), RYCERT_CertNotEndErr},
      {"Extension without extnValue after BOOLEAN",
       tlv(0x30, cat({oidE(hex("2A03")), hex("0101FF")})), RYCERT_CertNotEndErr},
      {"Extension with a two-byte BOOLEAN", tlv(0x30, cat({oidE(hex("2A03")), hex("010200FF 0400")})),
       RYCERT_InvalidLengthErr},
      {"Extension without OID", hex("3000"), RYCERT_CertNotEndErr},
      {"Extension OID mistagged", tlv(0x30, cat({tlv(0x04, hex("551D0F")), hex("0400")})),
       RYCERT_TagNotMatchErr},
      {"Extension is not a SEQUENCE", hex("3100"), RYCERT_TagNotMatchErr},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    Template t;
    t.exts = {r.ext};
    Ctx c;
    EXPECT_EQ(decode(c, t.cert()), r.want);
  }
}

// The cases the corpus comparison in test_cert_peers lacks.
TEST(Decode, ExtensionsTheDecoderReads) {
  const Bytes san = ext("551D11", hex("300D820B6C6561662E6578616D706C65"));
  const Bytes policies = ext("551D20", hex("300730050603290101"));
  const Bytes unknown = ext("2A0304", hex("0500"));
  const struct {
    const char *name;
    std::vector<Bytes> exts;
    std::map<int32_t, Bytes> answers;  // query -> bytes
    size_t privateCount = 0;
  } rows[] = {
      {"a second keyUsage is neither decoded nor kept",
       {ext("551D0F", hex("03020186"), 0xFF), ext("551D0F", hex("03020520"))},
       {{CERTEX_KEYUSAGE, hex("0186")}, {CERTEX_KEYUSAGE_CRITICAL, hex("FF")}}},
      {"basicConstraints with only a path length (cA FALSE left out)",
       {ext("551D13", hex("3003020105"))},
       {{CERTEX_AUTHORITY, hex("00")}, {CERTEX_PATHLENCONSTRAINT, hex("05")}}},
      {"basicConstraints path length 128 keeps its magnitude",
       {ext("551D13", hex("30070101FF02020080"))},
       {{CERTEX_AUTHORITY, hex("FF")}, {CERTEX_PATHLENCONSTRAINT, hex("80")}}},
      {"EKU unknown purpose ignored", {ext("551D25", hex("300B06092B0601050507030199"))},
       {{CERTEX_EXTKEY_USAGE, hex("00000000")}}},
      {"EKU all purposes",
       {ext("551D25", hex("305006082B0601050507030106082B0601050507030206082B06010505070303"
                          "06082B0601050507030406082B0601050507030506082B06010505070306"
                          "06082B0601050507030706082B06010505070308"))},
       {{CERTEX_EXTKEY_USAGE, hex("C03F0000")}}},
      {"CRL DP with reasons and cRLIssuer skipped",
       {ext("551D1F", hex("30183016810205 60A00AA0088606687474703A2FA2048602782F"))},
       {{CERTEX_CRLDIST_FULLNAME, hex("8606687474703A2F")}}},
      {"CRL DP without a name", {ext("551D1F", hex("3006300480020560"))},
       {{CERTEX_CRLDIST_FULLNAME, {}}}},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    Template t;
    t.exts = r.exts;
    Ctx c;
    ASSERT_EQ(decode(c, t.cert()), RYCERT_OK);
    for (const auto &[id, bytes] : r.answers) {
      EXPECT_EQ(getChar(c, id), bytes) << "id " << id;
    }
    EXPECT_EQ(privates(c).size(), r.privateCount);
  }
  // The private ones in order, the criticality byte as it stands.
  Template t;
  t.exts = {san, policies, unknown, ext("2A0304", hex("0500"), 0xFF)};
  Ctx c;
  ASSERT_EQ(decode(c, t.cert()), RYCERT_OK);
  EXPECT_EQ(privates(c), (std::vector<Priv>{{hex("551D11"), 0, hex("300D820B6C6561662E6578616D706C65")},
                                            {hex("551D20"), 0, hex("300730050603290101")},
                                            {hex("2A0304"), 0, hex("0500")},
                                            {hex("2A0304"), 0xFF, hex("0500")}}));
}

// ==================================================== entry-point checks

// A certificate context filled with the minimum that encodes.
void fillMinimal(CertCtx *c) {
  ASSERT_EQ(setChar(c, CERT_SERIALNUMBER, hex("01")), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERT_INNER_SIGNATUREALGORITHM, kSha256Rsa), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERT_OUTER_SIGNATUREALGORITHM, kSha256Rsa), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERT_PUBLICKEY_ALGORITHM, kRsaEnc), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERT_SUBJECTPUBLICKEYINFO, hex("3009020201AB0203010001")), RYCERT_OK);
}

using Sets = std::vector<std::pair<uint32_t, Bytes>>;  // identifier, value

// A value for every extension setter.
const Sets kExtensionSets = {{CERTEX_AUTHORITYKEYIDENTIFIER, hex("01")},
                             {CERTEX_SUBJECTKEYIDENTIFIER, hex("02")},
                             {CERTEX_CERTPOLICYID, hex("2A03")},
                             {CERTEX_CERTPOLICY_CPS, str("u")},
                             {CERT_ISSUER_ALT_COMMONNAME, str("a")},
                             {CERT_SUBJECT_ALT_EMAIL, str("b@c")},
                             {CERTEX_AUTHORITY, hex("01")},
                             {CERTEX_PATHLENCONSTRAINT, hex("02")},
                             {CERTEX_KEYUSAGE, hex("86")},
                             {CERTEX_EXTKEY_USAGE, hex("C0000000")},
                             {CERTEX_CRLDIST_FULLNAME, str("http://x")}};

// The single-extension encoders, in the order the collector writes them.
using EncodeFn = uint32_t (*)(CertCtx *, AnyBuf **);
const EncodeFn kExtensionEncoders[] = {
    Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer, Hx_Cert_EncodeExtension_SubjectKeyIdentifier,
    Hx_Cert_EncodeExtension_CertificatePolicies,    Hx_Cert_EncodeExtension_IssuerAltName,
    Hx_Cert_EncodeExtension_SubjectAltName,         Hx_Cert_EncodeExtension_BasicConstraint,
    Hx_Cert_EncodeExtension_KeyUsage,               Hx_Cert_EncodeExtension_ExtKeyUsage,
    Hx_Cert_EncodeExtension_CrlDistributePoint,     Hx_Cert_EncodeExtension_Private};

TEST(EntryPoints, CreateAndDestroy) {
  EXPECT_EQ(RyCert_CreateCertEncodeCtx(nullptr), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_CreateCertDecodeCtx(nullptr), RYCERT_MemoryErr);
  CertCtx *c = reinterpret_cast<CertCtx *>(&c);
  MOSK_TestFailAllocation(0, 0);
  EXPECT_EQ(RyCert_CreateCertDecodeCtx(&c), RYCERT_MemoryErr);
  MOSK_TestClearFault();
  EXPECT_EQ(c, nullptr) << "the handle is NULL after a failed creation";
  ASSERT_EQ(RyCert_CreateCertDecodeCtx(&c), RYCERT_OK);
  EXPECT_EQ(RyCert_DestroyCertDecodeCtx(c), RYCERT_OK);
  EXPECT_EQ(RyCert_DestroyCertDecodeCtx(nullptr), RYCERT_OK);
  EXPECT_EQ(RyCert_DestroyCertEncodeCtx(nullptr), RYCERT_OK);
}

TEST(EntryPoints, DecodeCert) {
  const Bytes der = Template().cert();
  {
    Ctx c;
    EXPECT_EQ(RyCert_DecodeCert(nullptr, der.data(), uint32_t(der.size())), RYCERT_MemoryErr);
    EXPECT_EQ(RyCert_DecodeCert(c, nullptr, uint32_t(der.size())), RYCERT_MemoryErr);
    EXPECT_EQ(RyCert_DecodeCert(c, der.data(), 0), RYCERT_InvalidLengthErr) << "no header";
    EXPECT_EQ(RyCert_DecodeCert(c, der.data(), 3), RYCERT_InvalidLengthErr)
        << "shorter than announced";
  }
  for (const auto &[why, in, want] :
       {std::tuple{"multi-octet identifier", hex("3F 00"), RYCERT_TagNotMatchErr},
        std::tuple{"indefinite length", hex("3080 0000"), RYCERT_InvalidLengthErr},
        std::tuple{"not a SEQUENCE", hex("3100"), RYCERT_TagNotMatchErr}}) {
    Ctx c;
    EXPECT_EQ(decode(c, in), want) << why;
  }
  Ctx c;
  ASSERT_EQ(decode(c, der), RYCERT_OK);
  EXPECT_EQ(decode(c, der), RYCERT_AttributeAlreadySet) << "one certificate per context";
  EXPECT_EQ(getChar(c, CERT_TBS_CERTIFICATE), Template().tbs()) << "the first stays";
}

TEST(EntryPoints, DecodeTbsAndExtensions) {
  const Template t;
  Ctx c;
  EXPECT_EQ(Hx_Cert_DecodeTBS(nullptr, Rec(t.tbs()).get()), RYCERT_MemoryErr);
  EXPECT_EQ(Hx_Cert_DecodeTBS(c, nullptr), RYCERT_MemoryErr);
  {
    Rec shortRec(t.tbs());
    shortRec->length -= 1;
    EXPECT_EQ(Hx_Cert_DecodeTBS(c, shortRec.get()), RYCERT_LengthNotEqualErr);
  }
  EXPECT_EQ(Hx_Cert_DecodeTBS(c, Rec(seqOf({t.version, t.serial, t.alg})).get()),
            RYCERT_CertNotEndErr);
  // The records handed to the Hx_ decoders may be released at once.
  Ctx d;
  EXPECT_EQ(Hx_Cert_DecodeTBS(d, Rec(t.tbs()).get()), RYCERT_OK);
  EXPECT_EQ(getChar(d, CERT_TBS_CERTIFICATE), t.tbs());
  EXPECT_EQ(getChar(d, CERT_SUBJECT_COMMONNAME), str("leaf.example"));
  EXPECT_EQ(getChar(d, CERTEX_KEYUSAGE), hex("05A0"));
  EXPECT_EQ(Hx_Cert_DecodeTBS(d, Rec(t.tbs()).get()), RYCERT_AttributeAlreadySet)
      << "one TBS per context";

  Ctx e;
  EXPECT_EQ(Hx_Cert_DecodeExtensions(Rec(t.extensions()).get(), nullptr), RYCERT_MemoryErr);
  EXPECT_EQ(Hx_Cert_DecodeExtensions(nullptr, e), RYCERT_MemoryErr);
  EXPECT_EQ(Hx_Cert_DecodeExtensions(Rec(tlv(0xA3, cat({hex("3000"), hex("3000")}))).get(), e),
            RYCERT_InvalidLengthErr)
      << "the explicit tag holds one element";
  EXPECT_EQ(Hx_Cert_DecodeExtensions(Rec(hex("A300")).get(), e), RYCERT_OK) << "empty";
  EXPECT_EQ(Hx_Cert_DecodeExtensions(Rec(t.extensions()).get(), e), RYCERT_OK);
  EXPECT_EQ(getChar(e, CERTEX_SUBJECTKEYIDENTIFIER), hex("010203"));
}

TEST(EntryPoints, SingleExtensionDecoders) {
  using Fn = uint32_t (*)(const AnyBuf *, CertCtx *);
  const Bytes other = ext("2A0304", hex("0500"));
  struct Row {
    const char *name;
    Fn fn;
    Bytes good;
    int32_t query;
    Bytes answer;
    uint32_t otherType;  // given an Extension of another type
  } rows[] = {
      {"BasicConstraint", Hx_Cert_DecodeExtension_BasicConstraint, ext("551D13", hex("30030101FF")),
       CERTEX_AUTHORITY, hex("FF"), RYCERT_ExtensionContentErr},
      {"AuthorityKeyIdentifyer", Hx_Cert_DecodeExtension_AuthorityKeyIdentifyer,
       ext("551D23", hex("3003800107")), CERTEX_AUTHORITYKEYIDENTIFIER, hex("07"), RYCERT_OK},
      {"SubjectKeyIdentifier", Hx_Cert_DecodeExtension_SubjectKeyIdentifier,
       ext("551D0E", hex("040108")), CERTEX_SUBJECTKEYIDENTIFIER, hex("08"), RYCERT_OK},
      {"KeyUsage", Hx_Cert_DecodeExtension_KeyUsage, ext("551D0F", hex("03020780"), 0xFF),
       CERTEX_KEYUSAGE, hex("0780"), RYCERT_OK},
      {"ExtKeyUsage", Hx_Cert_DecodeExtension_ExtKeyUsage,
       ext("551D25", hex("300A06082B06010505070302")), CERTEX_EXTKEY_USAGE, hex("80000000"),
       RYCERT_OK},
      {"CrlDistributionPoint", Hx_Cert_DecodeExtension_CrlDistributionPoint,
       ext("551D1F", hex("300A3008A006A00486027879")), CERTEX_CRLDIST_FULLNAME, hex("86027879"),
       RYCERT_OK},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    Ctx c;
    EXPECT_EQ(r.fn(Rec(r.good).get(), nullptr), RYCERT_MemoryErr);
    EXPECT_EQ(r.fn(nullptr, c), RYCERT_MemoryErr);
    EXPECT_EQ(r.fn(Rec(tlv(0x30, oidE(hex("551D0F")))).get(), c), RYCERT_CertNotEndErr)
        << "no extnValue";
    EXPECT_EQ(r.fn(Rec(other).get(), c), r.otherType);
    EXPECT_EQ(getChar(c, r.query), Bytes{}) << "another type marks nothing";
    EXPECT_EQ(r.fn(Rec(r.good).get(), c), RYCERT_OK);
    EXPECT_EQ(getChar(c, r.query), r.answer);
  }
  Ctx c;
  EXPECT_EQ(Hx_Cert_DecodeExtension_Private(nullptr, c), RYCERT_MemoryErr);
  EXPECT_EQ(Hx_Cert_DecodeExtension_Private(Rec(ext("551D0F", hex("03020780"), 0x01)).get(), c),
            RYCERT_OK);
  EXPECT_EQ(privates(c), (std::vector<Priv>{{hex("551D0F"), 1, hex("03020780")}}))
      << "any Extension is kept as a private one";
}

TEST(EntryPoints, Queries) {
  Ctx c;
  uint32_t len = 7, v = 7;
  EXPECT_EQ(RyCert_GetCertAttributeChar(nullptr, CERT_VERSION, nullptr, &len), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_GetCertAttributeChar(c, CERT_SERIALNUMBER, nullptr, nullptr), RYCERT_MemoryErr);
  for (int32_t id : {0, 4, 18, 28, 90, 99, 130, -1}) {
    len = 7;
    EXPECT_EQ(RyCert_GetCertAttributeChar(c, id, nullptr, &len), RYCERT_AttributeNotSupportErr)
        << id;
    EXPECT_EQ(len, 0u) << "the length is set to 0 first";
  }
  EXPECT_EQ(RyCert_GetCertAttributeChar(c, CERT_SERIALNUMBER, nullptr, &len), RYCERT_OK);
  EXPECT_EQ(len, 0u) << "absent: status 0, length 0";

  EXPECT_EQ(RyCert_GetCertAttributeInt(nullptr, CERT_VERSION, &v), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_GetCertAttributeInt(c, CERT_VERSION, nullptr), RYCERT_MemoryErr);
  for (int32_t id : {0, 1, 5, 30}) {
    v = 7;
    EXPECT_EQ(RyCert_GetCertAttributeInt(c, id, &v), RYCERT_AttributeNotSupportErr) << id;
    EXPECT_EQ(v, 7u) << "nothing written";
  }
  EXPECT_EQ(RyCert_GetCertAttributeInt(c, CERT_VERSION, &v), RYCERT_OK);
  EXPECT_EQ(v, 0u) << "a fresh context answers version 0";

  uint32_t idx = 0, oidLen = 9, crit = 9, valLen = 9;
  EXPECT_EQ(
      RyCert_GetCertAttributePrivate(nullptr, &idx, nullptr, &oidLen, &crit, nullptr, &valLen),
      RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_GetCertAttributePrivate(c, nullptr, nullptr, &oidLen, &crit, nullptr, &valLen),
            RYCERT_MemoryErr);
  idx = 5;
  EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &idx, nullptr, &oidLen, &crit, nullptr, &valLen),
            RYCERT_OK);
  EXPECT_EQ(idx, 0u) << "past the end: the count";
  EXPECT_EQ(oidLen, 9u) << "other outputs untouched";
}

TEST(EntryPoints, Setters) {
  Ctx c;
  const Bytes v = str("x");
  EXPECT_EQ(RyCert_SetCertAttributeInt(nullptr, CERT_VERSION, 2), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_SetCertAttributeInt(c, CERT_SERIALNUMBER, 2), RYCERT_AttributeNotSupportErr);
  EXPECT_EQ(RyCert_SetCertAttributeInt(c, 200, 2), RYCERT_AttributeNotSupportErr);
  EXPECT_EQ(RyCert_SetCertAttributeInt(c, CERT_VERSION, 2), RYCERT_OK);

  EXPECT_EQ(RyCert_SetCertAttributeChar(nullptr, CERT_SERIALNUMBER, v.data(), 1), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_SetCertAttributeChar(c, 200, v.data(), 0), RYCERT_InvalidLengthErr)
      << "the length is checked before the identifier";
  EXPECT_EQ(RyCert_SetCertAttributeChar(c, CERT_SERIALNUMBER, v.data(), -1),
            RYCERT_InvalidLengthErr);
  EXPECT_EQ(RyCert_SetCertAttributeChar(c, CERT_SERIALNUMBER, nullptr, 1), RYCERT_MemoryErr);
  for (uint32_t id : {0u, 1u, 4u, 7u, 18u, 28u, 30u, 84u, 106u, 130u, 200u}) {
    EXPECT_EQ(RyCert_SetCertAttributeChar(c, id, v.data(), 1), RYCERT_AttributeNotSupportErr) << id;
  }
  EXPECT_EQ(RyCert_SetCertAttributeChar(c, CERTEX_KEYUSAGE, v.data(), 1), RYCERT_OK);
  EXPECT_EQ(RyCert_SetCertAttributeChar(c, CERTEX_KEYUSAGE, v.data(), 1),
            RYCERT_AttributeAlreadySet);

  const Bytes oid = hex("2A03");
  EXPECT_EQ(RyCert_SetCertAttributePrivate(nullptr, oid.data(), 2, 0, v.data(), 1),
            RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_SetCertAttributePrivate(c, oid.data(), 0, 0, v.data(), 1),
            RYCERT_InvalidLengthErr);
  EXPECT_EQ(RyCert_SetCertAttributePrivate(c, oid.data(), 2, 0, v.data(), 0),
            RYCERT_InvalidLengthErr);
  EXPECT_EQ(RyCert_SetCertAttributePrivate(c, nullptr, 2, 0, v.data(), 1), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_SetCertAttributePrivate(c, oid.data(), 2, 0, v.data(), 1), RYCERT_OK);

  EXPECT_EQ(RyCert_SetCertSignFunc(nullptr, scriptedSign, nullptr, 0), RYCERT_MemoryErr);
  const Bytes param = hex("01020304");
  MOSK_TestFailAllocation(0, 0);
  EXPECT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, param.data(), 4), RYCERT_MemoryErr);
  MOSK_TestClearFault();
  EXPECT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, param.data(), 4), RYCERT_OK);
  EXPECT_EQ(RyCert_SetCertSignFunc(c, nullptr, nullptr, 0), RYCERT_OK) << "a NULL callback too";
}

TEST(EntryPoints, EncodeCert) {
  ScriptScope s;
  uint32_t len = 0;
  {
    Ctx c;
    fillMinimal(c);
    EXPECT_EQ(RyCert_EncodeCert(nullptr, nullptr, &len), RYCERT_MemoryErr);
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, nullptr), RYCERT_MemoryErr);
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_MemoryErr) << "no callback";
    EXPECT_EQ(s.script.calls, 0);
    ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
    s.script.firstRc = 0x1234;
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), 0x1234u) << "the callback's own value";
    s.script.firstRc = 0;
    s.script.firstLen = 10240;
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_InvalidSignatureLenErr);
    s.script.firstLen.reset();
    s.script.secondRc = 0x77;
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), 0x77u);
    s.script.secondRc = 0;
    s.script.secondLen = 0;
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_InvalidLengthErr) << "0 bytes";
    s.script.secondLen = uint32_t(s.script.signature.size() + 1);
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_InvalidSignatureLenErr)
        << "more than the capacity";
    s.script.secondLen.reset();
    ASSERT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_OK) << "a failed encode can be retried";
  }
  {
    Ctx c;
    fillMinimal(c);
    ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
    ASSERT_EQ(setChar(c, CERTEX_CERTPOLICYID, hex("2A0304")), RYCERT_OK);
    const int calls = s.script.calls;
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_ExtensionContentErr)
        << "a policy without a CPS qualifier";
    EXPECT_EQ(s.script.calls, calls) << "refused before signing";
  }
  Ctx empty;
  ASSERT_EQ(RyCert_SetCertSignFunc(empty, scriptedSign, nullptr, 0), RYCERT_OK);
  EXPECT_EQ(RyCert_EncodeCert(empty, nullptr, &len), RYCERT_InvalidLengthErr)
      << "no algorithm OIDs: 06 00 is no OID";
}

TEST(EntryPoints, ExportedEncoders) {
  Ctx c;
  AnyBuf *out = reinterpret_cast<AnyBuf *>(&out);
  std::vector<EncodeFn> all = {Hx_Cert_EncodeValidity, Hx_Cert_EncodeExtensions};
  all.insert(all.end(), std::begin(kExtensionEncoders), std::end(kExtensionEncoders));
  for (EncodeFn fn : all) {
    EXPECT_EQ(fn(nullptr, &out), RYCERT_MemoryErr);
    EXPECT_EQ(fn(c, nullptr), RYCERT_MemoryErr);
  }
  // Without extension attributes: OK and *out untouched.
  EXPECT_EQ(Hx_Cert_EncodeExtensions(c, &out), RYCERT_OK);
  EXPECT_EQ(out, reinterpret_cast<AnyBuf *>(&out));
  out = nullptr;
  ASSERT_EQ(Hx_Cert_EncodeValidity(c, &out), RYCERT_OK);
  EXPECT_EQ(bytesOf(out), validityOf(gen("19700101000000Z"), gen("19700101000000Z")))
      << "never-set validity: two GeneralizedTime values of time 0";
  Hx_FreeAnybuf(out);
  out = nullptr;
  EXPECT_EQ(Hx_Cert_EncodeExtension_Private(c, &out), RYCERT_OK);
  EXPECT_EQ(out, nullptr) << "no private extension";
}

// The single encoders give exactly the Extension elements that the
// collector writes, in its order.
TEST(EntryPoints, SingleEncodersAgreeWithTheCollector) {
  Ctx c;
  for (const auto &[id, v] : kExtensionSets) {
    ASSERT_EQ(setChar(c, id, v), RYCERT_OK) << id;
  }
  const Bytes o = hex("2A03");
  ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o.data(), 2, 0, o.data(), 2), RYCERT_OK);
  ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o.data(), 2, 1, o.data(), 2), RYCERT_OK);
  Bytes joined;
  for (EncodeFn fn : kExtensionEncoders) {
    AnyBuf *out = nullptr;
    ASSERT_EQ(fn(c, &out), RYCERT_OK);
    for (const AnyBuf *p = out; p != nullptr; p = p->next) {
      joined = cat({joined, bytesOf(p)});  // the private ones come as a chain
    }
    Hx_FreeAnybuf(out);
  }
  AnyBuf *all = nullptr;
  LogCapture log;
  ASSERT_EQ(Hx_Cert_EncodeExtensions(c, &all), RYCERT_OK);
  EXPECT_EQ(bytesOf(all), tlv(0xA3, tlv(0x30, joined)));
  EXPECT_TRUE(log.contains("======>Hx_Cert_EncodeExtensions"));
  Hx_FreeAnybuf(all);
}

// ============================================== encoder: what is written

// Builds a certificate through setters (private extensions first) and
// returns its DER.
struct Built {
  uint32_t rc;
  Bytes der;
};
Built build(const Sets &sets, const std::vector<std::pair<int32_t, uint32_t>> &ints = {},
            const std::vector<Priv> &privs = {}) {
  ScriptScope s;
  Ctx c;
  fillMinimal(c);
  for (const auto &[id, v] : ints) {
    EXPECT_EQ(RyCert_SetCertAttributeInt(c, id, v), RYCERT_OK) << id;
  }
  for (const Priv &p : privs) {
    EXPECT_EQ(RyCert_SetCertAttributePrivate(c, p.oid.data(), int32_t(p.oid.size()), p.critical,
                                             p.value.data(), int32_t(p.value.size())),
              RYCERT_OK);
  }
  for (const auto &[id, v] : sets) {
    EXPECT_EQ(setChar(c, id, v), RYCERT_OK) << id;
  }
  EXPECT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
  Built b{};
  b.rc = encode(c, b.der);
  return b;
}

// The fields of a certificate's TBSCertificate.
std::vector<DerElement> tbsFieldsOf(const Bytes &cert) {
  const auto tbs = elementOf(firstChild(cert));
  return tbs ? childrenOf(tbs->content) : std::vector<DerElement>{};
}

// The content of the [3] field's SEQUENCE in a certificate, or nullopt.
std::optional<Bytes> extensionsOf(const Bytes &cert) {
  for (const DerElement &f : tbsFieldsOf(cert)) {
    if (const auto seq = f.id == 0xA3 ? elementOf(f.content) : std::nullopt) {
      return seq->content;
    }
  }
  return std::nullopt;
}

// The Extension elements that setters give, one by one (with the strict-DER
// rules of the encoders), where test_cert_peers, which has Python and
// libcrypto read each extension, does not pin them.
TEST(Encode, EachExtensionAsWritten) {
  const struct {
    const char *name;
    Sets sets;
    Bytes extensions;  // the [3] field's Extension elements
    uint32_t want = RYCERT_OK;
    std::vector<Priv> privs = {};
  } rows[] = {
      {"key usage 86", {{CERTEX_KEYUSAGE, hex("86")}}, hex("300E0603551D0F0101FF040403020086")},
      {"path length 00", {{CERTEX_AUTHORITY, hex("01")}, {CERTEX_PATHLENCONSTRAINT, hex("00")}},
       hex("300F0603551D13040830060101FF020100")},
      {"path length 00 05 is minimal",
       {{CERTEX_AUTHORITY, hex("01")}, {CERTEX_PATHLENCONSTRAINT, hex("0005")}},
       hex("300F0603551D13040830060101FF020105")},
      {"path length without cA", {{CERTEX_PATHLENCONSTRAINT, hex("05")}}, {},
       RYCERT_ExtensionContentErr},
      {"EKU C0 00 00 00", {{CERTEX_EXTKEY_USAGE, hex("C0000000")}},
       hex("301D0603551D250416301406082B0601050507030106082B06010505070302")},
      {"EKU 3-byte value fills bytes 2 to 4", {{CERTEX_EXTKEY_USAGE, hex("200000")}},
       hex("30130603551D25040C300A06082B06010505070308")},
      {"EKU without purpose", {{CERTEX_EXTKEY_USAGE, hex("C000")}}, {}, RYCERT_ExtensionContentErr},
      {"EKU longer than 4 bytes", {{CERTEX_EXTKEY_USAGE, hex("C000000000")}}, {},
       RYCERT_ExtensionContentErr},
      {"policy without CPS", {{CERTEX_CERTPOLICYID, hex("2A03")}}, {}, RYCERT_ExtensionContentErr},
      {"CPS before any policy adds nothing", {{CERTEX_CERTPOLICY_CPS, str("a")}}, {}},
      {"second policy OID keeps the first",
       {{CERTEX_CERTPOLICYID, hex("2A03")},
        {CERTEX_CERTPOLICYID, hex("2A04")},
        {CERTEX_CERTPOLICY_CPS, str("a")}},
       hex("30200603551D2004193017301506022A03300F300D06082B06010505070201160161")},
      {"private extensions set first follow the standard ones; critical 7 is TRUE (FF)",
       {{CERTEX_KEYUSAGE, hex("86")}},
       hex("300E0603551D0F0101FF040403020086 300C06032A03010101FF04020500 300906032A030204020500"),
       RYCERT_OK,
       {{hex("2A0301"), 7, hex("0500")}, {hex("2A0302"), 0, hex("0500")}}},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    const Built b = build(r.sets, {}, r.privs);
    ASSERT_EQ(b.rc, r.want);
    if (r.want != RYCERT_OK) {
      continue;
    }
    const auto exts = extensionsOf(b.der);
    if (r.extensions.empty()) {
      EXPECT_FALSE(exts.has_value()) << "no [3] field";
    } else {
      ASSERT_TRUE(exts.has_value());
      EXPECT_EQ(toHex(*exts), toHex(r.extensions));
    }
  }
}

// Each row: the TBSCertificate field at `field` as written.
TEST(Encode, VersionValidityAndIntegers) {
  const struct {
    const char *name;
    std::vector<std::pair<int32_t, uint32_t>> ints;
    Sets sets;
    size_t field;
    Bytes want;
  } rows[] = {
      {"v1 (never set) has no [0]", {}, {}, 0, hex("020101")},
      {"v1 set has no [0]", {{CERT_VERSION, 0}}, {}, 0, hex("020101")},
      {"v3", {{CERT_VERSION, 2}}, {}, 0, hex("A003020102")},
      {"serial 00 00 81 is minimal", {}, {{CERT_SERIALNUMBER, hex("000081")}}, 0, hex("02020081")},
      {"UTCTime to 2049, GeneralizedTime from 2050",
       {{CERT_VALIDFROM, 2524607999u}, {CERT_VALIDTO, 2524608000u}}, {}, 3,
       validityOf(utc("491231235959Z"), gen("20500101000000Z"))},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    const Built b = build(r.sets, r.ints);
    ASSERT_EQ(b.rc, RYCERT_OK);
    const auto fields = tbsFieldsOf(b.der);
    ASSERT_GT(fields.size(), r.field);
    EXPECT_EQ(toHex(fields[r.field].whole), toHex(r.want));
  }
}

// ==================================== setter -> encode -> decode -> query

// Each char value set reads back from the decoded certificate as the first
// value set for its identifier, unless `differs` says otherwise; each
// integer reads back as set. (The extensions are read back, as libcrypto
// and Python read them, in test_cert_peers.)
struct RoundTrip {
  const char *name;
  Sets sets;
  std::vector<std::pair<int32_t, uint32_t>> ints = {};
  std::map<int32_t, Bytes> differs = {};
};

// Every component of a name (the OU twice) from `first`, the country.
RoundTrip names(const char *name, int32_t first, int32_t dnId) {
  const char *values[] = {"DE", "Bayern", "Passau", "Org", "U1", "CA_1", "ca@x.example",
                          "Street 1", "94032", "+49 851"};
  Sets sets;
  for (int32_t i = 0; i < 10; ++i) {
    sets.push_back({first + i, str(values[i])});
  }
  sets.push_back({first + 4, str("U2")});
  // The Name decoder does not recognise postal address, postal code and
  // telephone; the DN text shows the last OU.
  return {name, sets, {},
          {{first + 7, {}}, {first + 8, {}}, {first + 9, {}},
           {dnId, str("C=DE,O=Org,OU=U2,CN=CA_1,E=ca@x.example,S=Bayern,L=Passau")}}};
}

TEST(RoundTrip, EveryIdentifier) {
  const RoundTrip rows[] = {
      {"algorithms, serial, key",
       {{CERT_OUTER_SIGNATUREALGORITHM, hex("2A864886F70D010105")},
        {CERT_INNER_SIGNATUREALGORITHM, hex("2A864886F70D01010D")},
        {CERT_SERIALNUMBER, hex("00FF01")},
        {CERT_PUBLICKEY_ALGORITHM, hex("2A864886F70D010101")},
        {CERT_SUBJECTPUBLICKEYINFO, hex("3006020101020103")}},
       {},
       {{CERT_SERIALNUMBER, hex("FF01")},
        {CERT_PUBLICKEY_ALGORITHM, hex("06092A864886F70D010101")},
        {CERT_CA_SIGNATURE, hex("5AA5010203040506 0708090A0B0C0D0E")}}},
      {"version and validity",
       {},
       {{CERT_VERSION, 2}, {CERT_VALIDFROM, 1000000000}, {CERT_VALIDTO, 4000000000u}}},
      names("issuer components", CERT_ISSUER_COUNTRYNAME, CERT_ISSUER_DN),
      names("subject components", CERT_SUBJECT_COUNTRYNAME, CERT_SUBJECT_DN),
  };
  for (const RoundTrip &r : rows) {
    SCOPED_TRACE(r.name);
    const Built b = build(r.sets, r.ints);
    ASSERT_EQ(b.rc, RYCERT_OK);
    // An independent parser accepts what was written and writes it back the same.
    const unsigned char *p = b.der.data();
    X509 *x = d2i_X509(nullptr, &p, long(b.der.size()));
    ASSERT_NE(x, nullptr) << "libcrypto refuses " << toHex(b.der);
    EXPECT_EQ(i2dBytes(i2d_X509, x), b.der);
    X509_free(x);
    Ctx c;
    ASSERT_EQ(decode(c, b.der), RYCERT_OK);
    std::map<int32_t, Bytes> want = r.differs;
    for (const auto &[id, v] : r.sets) {
      want.emplace(int32_t(id), v);  // the first value set, unless it differs
    }
    for (const auto &[id, bytes] : want) {
      EXPECT_EQ(toHex(getChar(c, id)), toHex(bytes)) << "id " << id;
    }
    for (const auto &[id, v] : r.ints) {
      EXPECT_EQ(getInt(c, id), v) << "id " << id;
    }
    EXPECT_EQ(privates(c), std::vector<Priv>{});
  }
}

TEST(RoundTrip, EncodeContextAnswersWhatWasSet) {
  ScriptScope s;
  Ctx c;
  fillMinimal(c);
  ASSERT_EQ(setChar(c, CERT_SUBJECT_POSTALCODE, str("12345")), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERT_SUBJECT_ORGANIZATIONALUNITNAME, str("first")), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERT_SUBJECT_ORGANIZATIONALUNITNAME, str("second")), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERTEX_KEYUSAGE, hex("86")), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERTEX_CRLDIST_FULLNAME, str("http://x")), RYCERT_OK);
  EXPECT_EQ(getChar(c, CERT_SUBJECT_POSTALCODE), str("12345")) << "what the setter stored";
  EXPECT_EQ(getChar(c, CERT_SUBJECT_ORGANIZATIONALUNITNAME), str("first"));
  EXPECT_EQ(getChar(c, CERT_SUBJECT_DN), str("OU=second"));
  EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE), hex("86"));
  EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE_CRITICAL), hex("01"));
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), Bytes{}) << "only decoding sets the cursor";
  EXPECT_EQ(getChar(c, CERT_TBS_CERTIFICATE), Bytes{});
  EXPECT_EQ(getChar(c, CERT_CA_SIGNATURE), Bytes{});
  ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
  Bytes der;
  ASSERT_EQ(encode(c, der), RYCERT_OK);
  EXPECT_EQ(getChar(c, CERT_TBS_CERTIFICATE), Bytes{}) << "encoding keeps no TBSCertificate";
  EXPECT_EQ(getChar(c, CERT_CA_SIGNATURE), s.script.signature);
}

// ============================================================ once only

TEST(OnceOnly, SecondSetIsRefusedAndChangesNothing) {
  struct Row {
    uint32_t first, second;
    uint32_t want;
  } rows[] = {
      {CERTEX_AUTHORITYKEYIDENTIFIER, CERTEX_AUTHORITYKEYIDENTIFIER, RYCERT_AttributeAlreadySet},
      {CERTEX_SUBJECTKEYIDENTIFIER, CERTEX_SUBJECTKEYIDENTIFIER, RYCERT_AttributeAlreadySet},
      {CERTEX_KEYUSAGE, CERTEX_KEYUSAGE, RYCERT_AttributeAlreadySet},
      {CERTEX_EXTKEY_USAGE, CERTEX_EXTKEY_USAGE, RYCERT_AttributeAlreadySet},
      {CERTEX_BASICCONSTRAINTS_CRITICAL, CERTEX_AUTHORITY, RYCERT_AttributeAlreadySet},
      {CERTEX_AUTHORITY, CERTEX_BASICCONSTRAINTS_CRITICAL, RYCERT_AttributeAlreadySet},
      {CERTEX_AUTHORITY, CERTEX_AUTHORITY, RYCERT_AttributeAlreadySet},
      {CERTEX_PATHLENCONSTRAINT, CERTEX_AUTHORITY, RYCERT_AttributeAlreadySet},
      {CERTEX_AUTHORITY, CERTEX_PATHLENCONSTRAINT, RYCERT_OK},
      {CERTEX_BASICCONSTRAINTS_CRITICAL, CERTEX_PATHLENCONSTRAINT, RYCERT_OK},
      {CERTEX_PATHLENCONSTRAINT, CERTEX_PATHLENCONSTRAINT, RYCERT_OK},
      {CERTEX_CRLDIST_FULLNAME, CERTEX_CRLDIST_FULLNAME, RYCERT_OK},
      {CERTEX_CERTPOLICYID, CERTEX_CERTPOLICYID, RYCERT_OK},
      {CERT_SERIALNUMBER, CERT_SERIALNUMBER, RYCERT_OK},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(std::to_string(r.first) + " then " + std::to_string(r.second));
    Ctx c;
    ASSERT_EQ(setChar(c, r.first, hex("01")), RYCERT_OK);
    uint32_t rc = 0;  // some identifiers have no query
    const Bytes before = getChar(c, int32_t(r.second), &rc);
    LogCapture log;
    EXPECT_EQ(setChar(c, r.second, hex("02")), r.want);
    if (r.want == RYCERT_AttributeAlreadySet) {
      EXPECT_EQ(getChar(c, int32_t(r.second)), before) << "unchanged";
      EXPECT_TRUE(log.contains("------>RYCERT_AttributeAlreadySet"));
    }
  }
}

// ======================================================= signing step

TEST(Signing, ProtocolAndCache) {
  ScriptScope s;
  s.script.signature = Bytes(600, 0x42);  // longer than the Parts' fixed 512 bytes
  Ctx c;
  fillMinimal(c);
  const Bytes param = hex("DEADBEEF");
  ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, param.data(), 4), RYCERT_OK);
  uint32_t len = 0;
  ASSERT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_OK);
  ASSERT_EQ(s.script.calls, 2);
  EXPECT_EQ(s.script.bufferNull, (std::vector<bool>{true, false}));
  EXPECT_EQ(s.script.paramNull, (std::vector<bool>{true, false}));
  EXPECT_EQ(s.script.capacity[1], 600u) << "the buffer is sized from the first answer";
  EXPECT_EQ(s.script.param, param) << "the library's copy of the parameter";
  Bytes der(len);
  uint32_t len2 = 0;
  ASSERT_EQ(RyCert_EncodeCert(c, der.data(), &len2), RYCERT_OK);
  EXPECT_EQ(s.script.calls, 2) << "the second encode does not sign again";
  EXPECT_EQ(len2, len);
  // A setter between changes the context, not the cached certificate.
  ASSERT_EQ(setChar(c, CERT_SUBJECT_COMMONNAME, str("later")), RYCERT_OK);
  Bytes again;
  ASSERT_EQ(encode(c, again), RYCERT_OK);
  EXPECT_EQ(again, der);
  EXPECT_EQ(s.script.calls, 2);
  // The callback saw the TBSCertificate that the certificate carries.
  Ctx d;
  ASSERT_EQ(decode(d, der), RYCERT_OK);
  EXPECT_EQ(getChar(d, CERT_TBS_CERTIFICATE), s.script.tbs);
  EXPECT_EQ(getChar(d, CERT_CA_SIGNATURE), s.script.signature);
}

TEST(Signing, LengthLimits) {
  for (uint32_t first : {0u, 1u, 10239u, 10240u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(first);
    ScriptScope s;
    s.script.firstLen = first;
    s.script.secondLen = first == 0 ? 0 : 1;
    Ctx c;
    fillMinimal(c);
    ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
    uint32_t len = 0;
    const uint32_t rc = RyCert_EncodeCert(c, nullptr, &len);
    if (first >= 10240) {
      EXPECT_EQ(rc, RYCERT_InvalidSignatureLenErr);
      EXPECT_EQ(s.script.calls, 1) << "no second call";
    } else if (first == 0) {
      EXPECT_EQ(rc, RYCERT_InvalidLengthErr);
    } else {
      EXPECT_EQ(rc, RYCERT_OK);
      EXPECT_EQ(s.script.capacity[1], first);
    }
  }
}

// ============================================================ log lines

TEST(Log, LinesOfAFewPaths) {
  ScriptScope s;
  LogCapture log;
  Ctx c;
  fillMinimal(c);
  ASSERT_EQ(setChar(c, CERT_SUBJECT_COMMONNAME, str("x")), RYCERT_OK);
  uint32_t len = 0;
  RyCert_GetCertAttributeChar(c, CERT_SUBJECT_COMMONNAME, nullptr, &len);
  RyCert_GetCertAttributeChar(c, CERT_SERIALNUMBER, nullptr, &len);
  RyCert_GetCertAttributeChar(c, 18, nullptr, &len);
  RyCert_SetCertAttributeChar(c, 200, hex("01").data(), 1);
  RyCert_SetCertAttributeChar(c, CERT_SERIALNUMBER, hex("01").data(), 0);
  ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
  s.script.firstRc = 5;
  RyCert_EncodeCert(c, nullptr, &len);
  s.script.firstRc = 0;
  RyCert_EncodeCert(c, nullptr, &len);
  const Bytes o = hex("2A03");
  RyCert_SetCertAttributePrivate(c, o.data(), 2, 0, o.data(), 2);
  Ctx d;
  decode(d, Template().cert());
  const std::vector<std::string> want = {
      "======>RyCert_CreateCertEncodeCtx Begin",
      "======>RyCert_CreateCertEncodeCtx End",
      "======>Set CERT_SERIALNUMBER",
      "======>Set CERT_INNER_SIGNATUREALGORITHM",
      "======>Set CERT_OUTER_SIGNATUREALGORITHM",
      "======>Set CERT_PUBLICKEY_ALGORITHM",
      "======>Set CERT_SUBJECTPUBLICKEYINFO",
      "======>Set CERT_SUBJECT_COMMONNAME",
      "======>Get CERT_SUBJECT_COMMONNAME Len",
      "======>Get CERT_SERIALNUMBER LEN",
      "------>Get RYCERT_AttributeNotSupportErr",
      "------>Set RYCERT_AttributeNotSupportErr",
      "======>RyCert_SetCertSignFunc Begin",
      "======>RyCert_SetCertSignFunc End",
      "======>RyCert_EncodeCert Begin",
      "------>RyCertSignFunc",
      "======>RyCert_EncodeCert Begin",
      "======>Set CERT_CA_SIGNATURE",
      "======>RyCert_EncodeCert End",
      "======>RyCert_SetCertAttributePrivate End",
      "======>RyCert_CreateCertEncodeCtx Begin",
      "======>RyCert_CreateCertEncodeCtx End",
      "======>RyCert_DecodeCert Begin",
      "======>Hx_Cert_DecodeExtensions",
      "======>Hx_Cert_DecodeTBS",
      "======>RyCert_DecodeCert End",
  };
  EXPECT_EQ(log.lines(), want);
}

TEST(Log, DecodeFailureNamesItsSteps) {
  Template t;
  auto f = t.tbsFields();
  f[3] = tlv(0x30, tlv(0x30, {}));  // an RDN that is not a SET
  LogCapture log;
  Ctx c;
  EXPECT_EQ(decode(c, t.cert(seqOf(f))), RYCERT_TagNotMatchErr);
  const auto lines = log.lines();
  const std::vector<std::string> tail(lines.end() - 3, lines.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"------>RyAsn1_ReadSet", "------>Hx_DecodeIssuerSubject",
                                      "------>Hx_Cert_DecodeTBS"}));
}

// ================================================ allocation failures

TEST(AllocationFailures, Decoding) {
  for (const Bytes &der : {Template().cert(), corpusCert("certs/complex-cert.der")}) {
    sweepAllocationFailures([&] {
      CertCtx *c = nullptr;
      uint32_t rc = RyCert_CreateCertDecodeCtx(&c);
      if (rc == RYCERT_OK) {
        rc = decode(c, der);
      }
      const bool faultBefore = MOSK_TestFaultFired() != 0;
      // Every query after it. Only the DN texts allocate; one that cannot
      // be rendered is an empty answer with status 0 (benign).
      for (int32_t id = 1; rc == RYCERT_OK && id <= 129; ++id) {
        uint32_t len = 0;
        const bool notYet = MOSK_TestFaultFired() == 0;
        RyCert_GetCertAttributeChar(c, id, nullptr, &len);
        if (notYet && MOSK_TestFaultFired() != 0) {
          EXPECT_TRUE(id == CERT_ISSUER_DN || id == CERT_SUBJECT_DN) << id;
          EXPECT_EQ(len, 0u) << "benign: an empty DN text";
        }
      }
      RyCert_DestroyCertDecodeCtx(c);
      // The benign path is counted as the fault it met.
      return !faultBefore && MOSK_TestFaultFired() != 0 ? RYCERT_MemoryErr : rc;
    });
  }
}

// What a caller can see of a context: every char query and the private
// extensions, and the extensions an encoder would write.
std::vector<Bytes> snapshot(CertCtx *c) {
  std::vector<Bytes> out;
  for (int32_t id = 1; id <= 129; ++id) {
    uint32_t rc = 0;
    out.push_back(getChar(c, id, &rc));
  }
  for (const Priv &p : privates(c)) {
    out.push_back(cat({p.oid, p.value}));
  }
  AnyBuf *ext = nullptr;
  if (Hx_Cert_EncodeExtensions(c, &ext) == RYCERT_OK) {
    out.push_back(bytesOf(ext));
  }
  Hx_FreeAnybuf(ext);
  return out;
}

const std::vector<uint32_t> kCharSetters = {
    2,   3,   5,   6,   8,   9,   10,  11,  12,  13,  14,  15,  16,  17,  31,  32,  33,
    34,  35,  36,  37,  38,  39,  40,  51,  52,  63,  83,  85,  90,  91,  99,  100, 101,
    102, 103, 104, 105, 107, 108, 109, 110, 111, 112, 113, 117, 118, 119, 127, 129};

TEST(AllocationFailures, EverySetter) {
  for (uint32_t id : kCharSetters) {
    SCOPED_TRACE(id);
    sweepAllocationFailures([&] {
      CertCtx *c = nullptr;
      uint32_t rc = RyCert_CreateCertEncodeCtx(&c);
      if (rc == RYCERT_OK) {
        rc = setChar(c, CERTEX_CERTPOLICYID, hex("2A03"));  // so that 91 stores a qualifier
      }
      if (rc == RYCERT_OK) {
        rc = setChar(c, id, str("value"));
      }
      RyCert_DestroyCertEncodeCtx(c);
      return rc;
    });
  }
  sweepAllocationFailures([&] {
    CertCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCertEncodeCtx(&c);
    const Bytes o = hex("2A03");
    if (rc == RYCERT_OK) {
      rc = RyCert_SetCertAttributePrivate(c, o.data(), 2, 1, o.data(), 2);
    }
    if (rc == RYCERT_OK) {
      rc = RyCert_SetCertSignFunc(c, scriptedSign, o.data(), 2);
    }
    RyCert_DestroyCertEncodeCtx(c);
    return rc;
  });
}

TEST(AllocationFailures, AFailedSetterLeavesTheContextAsItWas) {
  const Bytes o = hex("2A03");
  for (uint32_t id : kCharSetters) {
    SCOPED_TRACE(id);
    for (uint64_t n = 0;; ++n) {
      Ctx c;
      ASSERT_EQ(setChar(c, CERTEX_CERTPOLICYID, hex("2A03")), RYCERT_OK);
      ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o.data(), 2, 1, o.data(), 2), RYCERT_OK);
      if (id != CERTEX_KEYUSAGE && id != CERTEX_EXTKEY_USAGE) {
        setChar(c, id, str("first"));  // once-only ones keep the fault path for the first set
      }
      const auto before = snapshot(c);
      MOSK_TestFailAllocation(n, 0);
      const uint32_t rc = setChar(c, id, str("second"));
      const bool fired = MOSK_TestFaultFired() != 0;
      MOSK_TestClearFault();
      if (!fired) {
        break;
      }
      EXPECT_EQ(rc, RYCERT_MemoryErr) << "fault at allocation " << n;
      EXPECT_EQ(snapshot(c), before) << "fault at allocation " << n;
    }
  }
}

TEST(AllocationFailures, Encoding) {
  sweepAllocationFailures([&] {
    ScriptScope s;
    CertCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCertEncodeCtx(&c);
    Sets sets = {{CERT_SERIALNUMBER, hex("01")},
                 {CERT_INNER_SIGNATUREALGORITHM, kSha256Rsa},
                 {CERT_OUTER_SIGNATUREALGORITHM, kSha256Rsa},
                 {CERT_PUBLICKEY_ALGORITHM, kRsaEnc},
                 {CERT_SUBJECTPUBLICKEYINFO, hex("3006020101020103")},
                 {CERT_ISSUER_COMMONNAME, str("i")},
                 {CERT_SUBJECT_COMMONNAME, str("s")}};
    sets.insert(sets.end(), kExtensionSets.begin(), kExtensionSets.end());
    for (const auto &[id, v] : sets) {
      if (rc == RYCERT_OK) {
        rc = setChar(c, id, v);
      }
    }
    const Bytes o = hex("2A03");
    if (rc == RYCERT_OK) {
      rc = RyCert_SetCertAttributePrivate(c, o.data(), 2, 1, o.data(), 2);
    }
    if (rc == RYCERT_OK) {
      rc = RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0);
    }
    Bytes der;
    if (rc == RYCERT_OK) {
      rc = encode(c, der);
    }
    // The exported single encoders too.
    std::vector<EncodeFn> all = {Hx_Cert_EncodeValidity, Hx_Cert_EncodeExtensions};
    all.insert(all.end(), std::begin(kExtensionEncoders), std::end(kExtensionEncoders));
    for (EncodeFn fn : all) {
      AnyBuf *out = nullptr;
      if (rc == RYCERT_OK) {
        rc = fn(c, &out);
        Hx_FreeAnybuf(out);
      }
    }
    RyCert_DestroyCertEncodeCtx(c);
    return rc;
  });
}

// ==================================================== linear cost

// Processor seconds for the best of three runs of `fn` (processor time, so
// that other work on the machine counts less).
template <class Fn>
double bestOf3(Fn &&fn) {
  const auto cpu = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  };
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    const double t0 = cpu();
    fn();
    best = std::min(best, cpu() - t0);
  }
  return best;
}

// Builds, encodes, decodes and reads back n private extensions or n name
// components.
void bigRoundTrip(size_t n, bool names) {
  ScriptScope s;
  Ctx c;
  fillMinimal(c);
  const Bytes o = hex("2A0304"), v = hex("0500");
  for (size_t i = 0; i < n; ++i) {
    if (names) {
      ASSERT_EQ(setChar(c, CERT_SUBJECT_ORGANIZATIONALUNITNAME, str("unit")), RYCERT_OK);
    } else {
      ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o.data(), 3, 0, v.data(), 2), RYCERT_OK);
    }
  }
  ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
  Bytes der;
  ASSERT_EQ(encode(c, der), RYCERT_OK);
  Ctx d;
  ASSERT_EQ(decode(d, der), RYCERT_OK);
  if (names) {
    EXPECT_EQ(getChar(d, CERT_SUBJECT_DN), str("OU=unit"));
  } else {
    uint32_t count = 0, len = 0, crit = 0;
    ASSERT_EQ(RyCert_GetCertAttributePrivate(d, &count, nullptr, &len, &crit, nullptr, &len),
              RYCERT_OK);
    EXPECT_EQ(count, n);
    for (uint32_t i = 1; i <= count; ++i) {
      uint32_t idx = i;
      RyCert_GetCertAttributePrivate(d, &idx, nullptr, &len, &crit, nullptr, &len);
    }
  }
}

TEST(LinearCost, TenThousandPrivateExtensionsAndNameComponents) {
  for (bool names : {false, true}) {
    SCOPED_TRACE(names ? "name components" : "private extensions");
    const double t1 = bestOf3([&] { bigRoundTrip(10000, names); });
    const double t8 = bestOf3([&] { bigRoundTrip(80000, names); });
    // Linear: eight times the input takes about eight times as long;
    // quadratic would take sixty-four. The margin absorbs a busy machine.
    EXPECT_LT(t8 / t1, 24.0) << t1 << " s for 10000, " << t8 << " s for 80000";
  }
}

}  // namespace
