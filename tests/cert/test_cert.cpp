// Certificates : the decoder's
// field ladder and every prefix, each entry point's checks in order, setter
// and query round trips through encode -> decode for every identifier, the
// once-only rules, the signing step's protocol and cache, allocation-failure
// sweeps, log lines, and linear cost on large inputs.
#include <ctime>
#include <map>
#include <optional>

#include "x509_peer.h"

namespace {

using namespace rytest;

// ----------------------------------------------------------------- helpers

// A context released at scope exit.
struct Ctx {
  CertCtx *p = nullptr;
  Ctx() { EXPECT_EQ(RyCert_CreateCertEncodeCtx(&p), RYCERT_OK); }
  ~Ctx() { RyCert_DestroyCertEncodeCtx(p); }
  operator CertCtx *() const { return p; }
};

Bytes getChar(CertCtx *c, int32_t id, uint32_t *rcOut = nullptr) {
  uint32_t len = 0xDEAD;
  uint32_t rc = RyCert_GetCertAttributeChar(c, id, nullptr, &len);
  Bytes out;
  if (rc == RYCERT_OK) {
    out.resize(len);
    uint32_t len2 = 0;
    rc = RyCert_GetCertAttributeChar(c, id, out.data(), &len2);
    EXPECT_EQ(len2, len) << "id " << id;
  }
  if (rcOut != nullptr) {
    *rcOut = rc;
  }
  return out;
}
uint32_t getInt(CertCtx *c, int32_t id) {
  uint32_t v = 0xDEADBEEF;
  EXPECT_EQ(RyCert_GetCertAttributeInt(c, id, &v), RYCERT_OK) << "id " << id;
  return v;
}
uint32_t setChar(CertCtx *c, uint32_t id, const Bytes &v) {
  return RyCert_SetCertAttributeChar(c, id, v.data(), int32_t(v.size()));
}

// The private extension number i (1-based): OID, critical, value.
struct Priv {
  Bytes oid;
  uint32_t critical = 0;
  Bytes value;
  bool operator==(const Priv &) const = default;
};
std::vector<Priv> privates(CertCtx *c) {
  uint32_t n = 0, oidLen = 0, crit = 0, valLen = 0;
  EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &n, nullptr, &oidLen, &crit, nullptr, &valLen),
            RYCERT_OK);
  std::vector<Priv> out;
  for (uint32_t i = 1; i <= n; ++i) {
    uint32_t idx = i;
    EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &idx, nullptr, &oidLen, &crit, nullptr, &valLen),
              RYCERT_OK);
    Priv p{Bytes(oidLen), 0, Bytes(valLen)};
    EXPECT_EQ(RyCert_GetCertAttributePrivate(c, &idx, p.oid.data(), &oidLen, &p.critical,
                                             p.value.data(), &valLen),
              RYCERT_OK);
    EXPECT_EQ(idx, i) << "index kept";
    out.push_back(p);
  }
  return out;
}

// Decodes `der` from an exact-size block into a fresh context.
uint32_t decode(CertCtx *c, const Bytes &der) {
  ExactBlock block(der);
  return RyCert_DecodeCert(c, block.data(), uint32_t(block.size()));
}

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

uint32_t encode(CertCtx *c, Bytes &out) {
  uint32_t len = 0;
  uint32_t rc = RyCert_EncodeCert(c, nullptr, &len);
  if (rc != RYCERT_OK) {
    return rc;
  }
  out.assign(len, 0);
  uint32_t len2 = 0;
  rc = RyCert_EncodeCert(c, out.data(), &len2);
  EXPECT_EQ(len2, len);
  return rc;
}

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

// The template certificate: a v3 certificate with every recognised
// extension, two distribution points and a private one.
struct Template {
  Bytes version = hex("A003020102");
  Bytes serial = hex("020A008FE1A2B3C4D5E6F701");  // leading 00 marks a positive number
  Bytes alg = algId(kSha256Rsa);
  Bytes issuer = tlv(
      0x30, cat({rdn("550406", "DE"), rdn("55040A", "Issuer Org"), rdn("550403", "Issuer CA")}));
  Bytes validity =
      tlv(0x30, cat({tlv(0x17, str("200102030405Z")), tlv(0x18, str("20510102030405Z"))}));
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
  Bytes extensions() const {
    Bytes all;
    for (const Bytes &e : exts) {
      all = cat({all, e});
    }
    return tlv(0xA3, tlv(0x30, all));
  }
  std::vector<Bytes> tbsFields() const {
    return {version, serial, alg, issuer, validity, subject, spki, extensions()};
  }
  static Bytes tbsOf(const std::vector<Bytes> &fields) {
    Bytes c;
    for (const Bytes &f : fields) {
      c = cat({c, f});
    }
    return tlv(0x30, c);
  }
  Bytes tbs() const { return tbsOf(tbsFields()); }
  Bytes cert(const Bytes &tbsDer) const { return tlv(0x30, cat({tbsDer, sigAlg, sig})); }
  Bytes cert() const { return cert(tbs()); }
};

// ============================================================ decoding

TEST(Decode, TemplateAnswersEveryQuery) {
  Template t;
  Ctx c;
  ASSERT_EQ(decode(c, t.cert()), RYCERT_OK);
  EXPECT_EQ(getChar(c, CERT_TBS_CERTIFICATE), t.tbs());
  EXPECT_EQ(getChar(c, CERT_OUTER_SIGNATUREALGORITHM), kSha256Rsa);
  EXPECT_EQ(getChar(c, CERT_CA_SIGNATURE), hex("11223344")) << "without the unused-bits octet";
  EXPECT_EQ(getInt(c, CERT_VERSION), 2u);
  EXPECT_EQ(getChar(c, CERT_SERIALNUMBER), hex("8FE1A2B3C4D5E6F701")) << "sign octet dropped";
  EXPECT_EQ(getChar(c, CERT_INNER_SIGNATUREALGORITHM), kSha256Rsa);
  EXPECT_EQ(getChar(c, CERT_ISSUER_DN), str("C=DE,O=Issuer Org,CN=Issuer CA"));
  EXPECT_EQ(getChar(c, CERT_ISSUER_COUNTRYNAME), str("DE"));
  EXPECT_EQ(getChar(c, CERT_ISSUER_ORGANIZATIONNAME), str("Issuer Org"));
  EXPECT_EQ(getChar(c, CERT_ISSUER_COMMONNAME), str("Issuer CA"));
  EXPECT_EQ(getChar(c, CERT_ISSUER_EMAIL), Bytes{});
  EXPECT_EQ(getInt(c, CERT_VALIDFROM), 1577934245u);  // 2020-01-02T03:04:05Z
  EXPECT_EQ(getInt(c, CERT_VALIDTO), 2556241445u);    // 2051-01-02T03:04:05Z
  EXPECT_EQ(getChar(c, CERT_SUBJECT_DN),
            str("C=FR,O=Subject Org,OU=Unit Two,CN=leaf.example,E=a@b.example,S=Bretagne,L=Rennes"))
      << "the DN text shows the last OU";
  EXPECT_EQ(getChar(c, CERT_SUBJECT_ORGANIZATIONALUNITNAME), str("Unit One")) << "first OU";
  EXPECT_EQ(getChar(c, CERT_SUBJECT_STATEORPROVINCENAME), str("Bretagne"));
  EXPECT_EQ(getChar(c, CERT_SUBJECT_LOCALITYNAME), str("Rennes"));
  EXPECT_EQ(getChar(c, CERT_SUBJECT_EMAIL), str("a@b.example"));
  EXPECT_EQ(getChar(c, CERT_SUBJECT_POSTALCODE), Bytes{});
  EXPECT_EQ(getChar(c, CERT_PUBLICKEY_ALGORITHM), oidE(kRsaEnc)) << "the whole OID element";
  EXPECT_EQ(getChar(c, CERT_SUBJECTPUBLICKEYINFO), t.key);
  EXPECT_EQ(getChar(c, CERTEX_AUTHORITYKEYIDENTIFIER), hex("A1B2C3D4"));
  EXPECT_EQ(getChar(c, CERTEX_SUBJECTKEYIDENTIFIER), hex("010203"));
  EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE_CRITICAL), hex("FF"));
  EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE), hex("05A0")) << "unused-bits octet first";
  EXPECT_EQ(getChar(c, CERTEX_BASICCONSTRAINTS_CRITICAL), hex("FF"));
  EXPECT_EQ(getChar(c, CERTEX_AUTHORITY), hex("FF"));
  EXPECT_EQ(getChar(c, CERTEX_PATHLENCONSTRAINT), hex("00"));
  EXPECT_EQ(getChar(c, CERTEX_EXTKEY_USAGE), hex("40200000")) << "serverAuth, timeStamping";
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), cat({{0x86, 10}, str("http://a/1")}));
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), cat({{0x86, 10}, str("http://b/2")}));
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), Bytes{}) << "past the last point";
  EXPECT_EQ(privates(c),
            (std::vector<Priv>{{hex("551D11"), 0, hex("300D820B6C6561662E6578616D706C65")}}));
  Bytes again;
  ASSERT_EQ(encode(c, again), RYCERT_OK) << "a decoded context encodes to its own bytes";
  EXPECT_EQ(again, t.cert());
}

// One row per TBSCertificate field: what removing it, giving it another
// identifier, or ending the input inside it does.
struct LadderRow {
  const char *field;
  uint32_t missing;    // the field left out
  uint32_t mistagged;  // its identifier replaced by 04 (OCTET STRING)
};
const LadderRow kTbsLadder[] = {
    // A TBSCertificate without [0] is a v1 certificate (version DEFAULT v1).
    {"version", RYCERT_OK, RYCERT_TagNotMatchErr},
    {"serialNumber", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr},
    {"signature", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr},
    {"issuer", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr},
    {"validity", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr},
    {"subject", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr},
    {"subjectPublicKeyInfo", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr},
    // The element after the key is the extensions field whatever
    // its identifier.
    {"extensions", RYCERT_OK, RYCERT_OK},
};

TEST(Decode, TbsFieldLadder) {
  const Template t;
  const auto fields = t.tbsFields();
  ASSERT_EQ(fields.size(), std::size(kTbsLadder));
  for (size_t i = 0; i < fields.size(); ++i) {
    SCOPED_TRACE(kTbsLadder[i].field);
    auto missing = fields;
    missing.erase(missing.begin() + long(i));
    auto mistagged = fields;
    mistagged[i][0] = 0x04;
    // Input ends inside the field: its length claims more than is left.
    std::vector<Bytes> truncated(fields.begin(), fields.begin() + long(i) + 1);
    truncated.back().pop_back();
    // The TBSCertificate stops before the field.
    std::vector<Bytes> stopped(fields.begin(), fields.begin() + long(i));
    Ctx a, b, d, e;
    EXPECT_EQ(decode(a, t.cert(Template::tbsOf(missing))), kTbsLadder[i].missing) << "missing";
    EXPECT_EQ(decode(b, t.cert(Template::tbsOf(mistagged))), kTbsLadder[i].mistagged)
        << "mistagged";
    EXPECT_EQ(decode(d, t.cert(Template::tbsOf(truncated))), RYCERT_InvalidLengthErr)
        << "truncated";
    const uint32_t stoppedWant = i == 0   ? RYCERT_OK             // empty TBS: nothing filled
                                 : i <= 6 ? RYCERT_CertNotEndErr  // before subjectPublicKeyInfo
                                          : RYCERT_OK;            // extensions are optional
    EXPECT_EQ(decode(e, t.cert(Template::tbsOf(stopped))), stoppedWant) << "stopped";
  }
}

TEST(Decode, CertificateFieldLadder) {
  const Template t;
  const Bytes tbs = t.tbs();
  struct Row {
    const char *name;
    Bytes der;
    uint32_t want;
  } rows[] = {
      {"empty SEQUENCE", hex("3000"), RYCERT_OK},
      {"only the TBSCertificate", tlv(0x30, tbs), RYCERT_OK},
      {"no signature value", tlv(0x30, cat({tbs, t.sigAlg})), RYCERT_OK},
      {"outer is a SET", tlv(0x31, cat({tbs, t.sigAlg, t.sig})), RYCERT_TagNotMatchErr},
      {"TBS mistagged",
       tlv(0x30, cat({Bytes{0x31}, Bytes(tbs.begin() + 1, tbs.end()), t.sigAlg, t.sig})),
       RYCERT_TagNotMatchErr},
      {"signatureAlgorithm mistagged", tlv(0x30, cat({tbs, tlv(0x31, oidE(kSha256Rsa)), t.sig})),
       RYCERT_TagNotMatchErr},
      {"signatureAlgorithm without OID", tlv(0x30, cat({tbs, hex("3000"), t.sig})),
       RYCERT_InvalidLengthErr},
      {"signatureValue mistagged", tlv(0x30, cat({tbs, t.sigAlg, tlv(0x04, hex("0011"))})),
       RYCERT_TagNotMatchErr},
      {"signatureValue without unused-bits octet", tlv(0x30, cat({tbs, t.sigAlg, hex("0300")})),
       RYCERT_InvalidLengthErr},
      {"malformed element after the signature",
       cat({tlv(0x30, cat({tbs, t.sigAlg, t.sig, hex("05")}))}), RYCERT_InvalidLengthErr},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    Ctx c;
    EXPECT_EQ(decode(c, r.der), r.want);
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
  for (size_t n = 0; n < der.size(); ++n) {
    Ctx c;
    ExactBlock block(Bytes(der.begin(), der.begin() + long(n)));
    const uint32_t rc = RyCert_DecodeCert(c, n == 0 ? der.data() : block.data(), uint32_t(n));
    EXPECT_NE(rc, RYCERT_OK) << "prefix of " << n << " bytes";
  }
  Ctx c;
  ASSERT_EQ(decode(c, cat({der, hex("00")})), RYCERT_OK);
  Bytes again;
  ASSERT_EQ(encode(c, again), RYCERT_OK);
  EXPECT_EQ(again, der) << "the trailing byte is not part of the certificate";
}

// The DER of a corpus certificate (its file may hold PEM with text around it).
Bytes corpusCert(const std::string &name) {
  std::ifstream f(std::string(RYTEST_DATA) + "/" + name, std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(f), {}};
  BIO *bio = BIO_new_mem_buf(file.data(), int(file.size()));
  X509 *x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (x == nullptr) {
    ERR_clear_error();
    return file;
  }
  const Bytes der = i2dBytes(i2d_X509, x);
  X509_free(x);
  return der;
}

TEST(Decode, EveryPrefixIsRefusedAndATrailingByteIgnored) {
  everyPrefix(Template().cert());
  everyPrefix(corpusCert("certs/complex-cert.der"));
  everyPrefix(corpusCert("certs/aki-cert.der"));
}

TEST(Decode, WhatRfc5280Allows) {
  const Template t;
  auto fields = t.tbsFields();
  {
    SCOPED_TRACE("v1 without version");
    fields.erase(fields.begin());
    fields.pop_back();
    Ctx c;
    ASSERT_EQ(decode(c, t.cert(Template::tbsOf(fields))), RYCERT_OK);
    EXPECT_EQ(getInt(c, CERT_VERSION), 0u);
    EXPECT_EQ(getChar(c, CERT_SERIALNUMBER), hex("8FE1A2B3C4D5E6F701"));
  }
  {
    SCOPED_TRACE("issuerUniqueID and subjectUniqueID skipped");
    auto f = t.tbsFields();
    f.insert(f.begin() + 7, {hex("8102 0011"), hex("8203 00AABB")});
    Ctx c;
    ASSERT_EQ(decode(c, t.cert(Template::tbsOf(f))), RYCERT_OK);
    EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE), hex("05A0"));
  }
  {
    SCOPED_TRACE("only subjectUniqueID");
    auto f = t.tbsFields();
    f.insert(f.begin() + 7, hex("8202 00FF"));
    Ctx c;
    ASSERT_EQ(decode(c, t.cert(Template::tbsOf(f))), RYCERT_OK);
    EXPECT_EQ(getChar(c, CERTEX_SUBJECTKEYIDENTIFIER), hex("010203"));
  }
  {
    SCOPED_TRACE("mixed validity forms, GeneralizedTime before 2050");
    auto f = t.tbsFields();
    f[4] = tlv(0x30, cat({tlv(0x18, str("19991231235959Z")), tlv(0x17, str("491231235959Z"))}));
    Ctx c;
    ASSERT_EQ(decode(c, t.cert(Template::tbsOf(f))), RYCERT_OK);
    EXPECT_EQ(getInt(c, CERT_VALIDFROM), 946684799u);
    EXPECT_EQ(getInt(c, CERT_VALIDTO), 2524607999u);
  }
}

TEST(Decode, ValidityFaults) {
  const Template t;
  struct Row {
    const char *name;
    Bytes validity;
    uint32_t want;
  } rows[] = {
      {"one time", tlv(0x30, tlv(0x17, str("200102030405Z"))), RYCERT_CertNotEndErr},
      {"empty", hex("3000"), RYCERT_CertNotEndErr},
      {"UTCTime without Z",
       tlv(0x30, cat({tlv(0x17, str("2001020304050")), tlv(0x17, str("200102030405Z"))})),
       RYCERT_InvalidTimeEndErr},
      {"UTCTime month 13",
       tlv(0x30, cat({tlv(0x17, str("201302030405Z")), tlv(0x17, str("200102030405Z"))})),
       RYCERT_InvalidTimeFieldErr},
      // GeneralizedTime is tried first, then UTCTime, whose status counts.
      {"bad GeneralizedTime",
       tlv(0x30, cat({tlv(0x18, str("20201302030405Z")), tlv(0x17, str("200102030405Z"))})),
       RYCERT_TagNotMatchErr},
      {"not a time", tlv(0x30, cat({tlv(0x02, hex("01")), tlv(0x17, str("200102030405Z"))})),
       RYCERT_TagNotMatchErr},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    auto f = t.tbsFields();
    f[4] = r.validity;
    Ctx c;
    EXPECT_EQ(decode(c, t.cert(Template::tbsOf(f))), r.want);
  }
}

// Extensions: each type's decoding, by the extension list given.
struct ExtRow {
  const char *name;
  std::vector<Bytes> exts;
  uint32_t want;
  std::map<int32_t, Bytes> answers;  // query -> bytes
  size_t privateCount = 0;
};

TEST(Decode, Extensions) {
  const Template t;
  const Bytes san = ext("551D11", hex("300D820B6C6561662E6578616D706C65"));
  const Bytes policies = ext("551D20", hex("300730050603290101"));
  const Bytes unknown = ext("2A0304", hex("0500"));
  const ExtRow rows[] = {
      {"SAN, policies and an unknown one are private, in order",
       {san, policies, unknown},
       RYCERT_OK,
       {{CERTEX_KEYUSAGE, {}}},
       3},
      {"a second keyUsage is neither decoded nor kept",
       {ext("551D0F", hex("03020186"), 0xFF), ext("551D0F", hex("03020520"))},
       RYCERT_OK,
       {{CERTEX_KEYUSAGE, hex("0186")}, {CERTEX_KEYUSAGE_CRITICAL, hex("FF")}},
       0},
      {"non-critical without BOOLEAN",
       {ext("551D0F", hex("03020186"))},
       RYCERT_OK,
       {{CERTEX_KEYUSAGE_CRITICAL, hex("00")}},
       0},
      {"basicConstraints 30 00",
       {ext("551D13", hex("3000"))},
       RYCERT_OK,
       {{CERTEX_AUTHORITY, hex("00")},
        {CERTEX_BASICCONSTRAINTS_CRITICAL, hex("00")},
        {CERTEX_PATHLENCONSTRAINT, {}}},
       0},
      {"basicConstraints with only a path length (cA FALSE left out)",
       {ext("551D13", hex("3003020105"))},
       RYCERT_OK,
       {{CERTEX_AUTHORITY, hex("00")}, {CERTEX_PATHLENCONSTRAINT, hex("05")}},
       0},
      {"basicConstraints path length 128 keeps its magnitude",
       {ext("551D13", hex("30070101FF02020080"))},
       RYCERT_OK,
       {{CERTEX_AUTHORITY, hex("FF")}, {CERTEX_PATHLENCONSTRAINT, hex("80")}},
       0},
      {"basicConstraints not a SEQUENCE",
       {ext("551D13", hex("0500"))},
       RYCERT_TagNotMatchErr,
       {},
       0},
      {"basicConstraints empty value", {ext("551D13", {})}, RYCERT_CertNotEndErr, {}, 0},
      {"AKI with issuer and serial",
       {ext("551D23", hex("300EA1043002300082020102800201AB"))},
       RYCERT_OK,
       {{CERTEX_AUTHORITYKEYIDENTIFIER, hex("01AB")}},
       0},
      {"AKI without keyIdentifier",
       {ext("551D23", hex("3004820201AB"))},
       RYCERT_OK,
       {{CERTEX_AUTHORITYKEYIDENTIFIER, {}}},
       0},
      {"AKI empty value", {ext("551D23", {})}, RYCERT_CertNotEndErr, {}, 0},
      {"SKI not an OCTET STRING", {ext("551D0E", hex("0301 00"))}, RYCERT_TagNotMatchErr, {}, 0},
      {"SKI with bytes after it",
       {ext("551D0E", hex("040101 00"))},
       RYCERT_LengthNotEqualErr,
       {},
       0},
      {"keyUsage not a BIT STRING", {ext("551D0F", hex("040186"))}, RYCERT_TagNotMatchErr, {}, 0},
      {"EKU unknown purpose ignored",
       {ext("551D25", hex("300B06092B0601050507030199"))},
       RYCERT_OK,
       {{CERTEX_EXTKEY_USAGE, hex("00000000")}},
       0},
      {"EKU all purposes",
       {ext("551D25", hex("305006082B0601050507030106082B0601050507030206082B06010505070303"
                          "06082B0601050507030406082B0601050507030506082B06010505070306"
                          "06082B0601050507030706082B06010505070308"))},
       RYCERT_OK,
       {{CERTEX_EXTKEY_USAGE, hex("C03F0000")}},
       0},
      {"EKU element not an OID", {ext("551D25", hex("3003020101"))}, RYCERT_TagNotMatchErr, {}, 0},
      {"CRL DP with reasons and cRLIssuer skipped",
       {ext("551D1F", hex("30183016810205 60A00AA0088606687474703A2FA2048602782F"))},
       RYCERT_OK,
       {{CERTEX_CRLDIST_FULLNAME, hex("8606687474703A2F")}},
       0},
      {"CRL DP without a name",
       {ext("551D1F", hex("3006300480020560"))},
       RYCERT_OK,
       {{CERTEX_CRLDIST_FULLNAME, {}}},
       0},
      {"Extension without extnValue",
       {tlv(0x30, oidE(hex("551D0F")))},
       RYCERT_CertNotEndErr,
       {},
       0},
      {"Extension without extnValue after BOOLEAN",
       {tlv(0x30, cat({oidE(hex("2A03")), hex("0101FF")}))},
       RYCERT_CertNotEndErr,
       {},
       0},
      {"Extension with a two-byte BOOLEAN",
       {tlv(0x30, cat({oidE(hex("2A03")), hex("010200FF 0400")}))},
       RYCERT_InvalidLengthErr,
       {},
       0},
      {"Extension without OID", {hex("3000")}, RYCERT_CertNotEndErr, {}, 0},
      {"Extension OID mistagged",
       {tlv(0x30, cat({tlv(0x04, hex("551D0F")), hex("0400")}))},
       RYCERT_TagNotMatchErr,
       {},
       0},
      {"Extension is not a SEQUENCE", {hex("3100")}, RYCERT_TagNotMatchErr, {}, 0},
      {"private, critical FF", {ext("2A0304", hex("0500"), 0xFF)}, RYCERT_OK, {}, 1},
  };
  for (const ExtRow &r : rows) {
    SCOPED_TRACE(r.name);
    Template tt;
    tt.exts = r.exts;
    Ctx c;
    ASSERT_EQ(decode(c, tt.cert()), r.want);
    if (r.want != RYCERT_OK) {
      continue;
    }
    for (const auto &[id, bytes] : r.answers) {
      EXPECT_EQ(getChar(c, id), bytes) << "id " << id;
    }
    EXPECT_EQ(privates(c).size(), r.privateCount);
  }
  Template tt;
  tt.exts = {san, policies, unknown, ext("2A0304", hex("0500"), 0xFF)};
  Ctx c;
  ASSERT_EQ(decode(c, tt.cert()), RYCERT_OK);
  const auto p = privates(c);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].oid, hex("551D11"));
  EXPECT_EQ(p[1].oid, hex("551D20"));
  EXPECT_EQ(p[1].value, hex("300730050603290101"));
  EXPECT_EQ(p[2].oid, hex("2A0304"));
  EXPECT_EQ(p[3].critical, 0xFFu) << "the BOOLEAN's byte as it stands";
}

TEST(Decode, CrlDistributionPointIterator) {
  Template t;
  Ctx c;
  ASSERT_EQ(decode(c, t.cert()), RYCERT_OK);
  uint32_t len = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(RyCert_GetCertAttributeChar(c, CERTEX_CRLDIST_FULLNAME, nullptr, &len), RYCERT_OK);
    EXPECT_EQ(len, 12u) << "a length query does not move";
  }
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), cat({{0x86, 10}, str("http://a/1")}));
  EXPECT_EQ(getChar(c, CERTEX_CRLDIST_FULLNAME), cat({{0x86, 10}, str("http://b/2")}));
  ASSERT_EQ(RyCert_GetCertAttributeChar(c, CERTEX_CRLDIST_FULLNAME, nullptr, &len), RYCERT_OK);
  EXPECT_EQ(len, 0u);
}

TEST(Decode, ExportedInternalsCopyTheirInput) {
  // The records handed to the Hx_ decoders may be released at once.
  const Template t;
  Ctx c;
  {
    Rec tbs(t.tbs());
    ASSERT_EQ(Hx_Cert_DecodeTBS(c, tbs.get()), RYCERT_OK);
  }
  EXPECT_EQ(getChar(c, CERT_TBS_CERTIFICATE), t.tbs());
  EXPECT_EQ(getChar(c, CERT_SUBJECT_COMMONNAME), str("leaf.example"));
  EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE), hex("05A0"));
  {
    Rec tbs(t.tbs());
    EXPECT_EQ(Hx_Cert_DecodeTBS(c, tbs.get()), RYCERT_AttributeAlreadySet) << "one TBS per context";
  }
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
  {
    Ctx c;
    const Bytes multi = hex("3F 00");
    EXPECT_EQ(decode(c, multi), RYCERT_TagNotMatchErr) << "multi-octet identifier";
  }
  {
    Ctx c;
    EXPECT_EQ(decode(c, hex("3080 0000")), RYCERT_InvalidLengthErr) << "indefinite length";
  }
  {
    Ctx c;
    EXPECT_EQ(decode(c, tlv(0x31, {})), RYCERT_TagNotMatchErr) << "not a SEQUENCE";
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
  EXPECT_EQ(Hx_Cert_DecodeTBS(c, Rec(t.tbsOf({t.version, t.serial, t.alg})).get()),
            RYCERT_CertNotEndErr);
  Ctx d;
  EXPECT_EQ(Hx_Cert_DecodeTBS(d, Rec(t.tbs()).get()), RYCERT_OK);

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
  {
    Ctx c;
    fillMinimal(c);
    ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
    ASSERT_EQ(setChar(c, CERTEX_EXTKEY_USAGE, hex("C000")), RYCERT_OK);
    EXPECT_EQ(RyCert_EncodeCert(c, nullptr, &len), RYCERT_ExtensionContentErr)
        << "an extended key usage without a purpose";
  }
  {
    Ctx c;
    fillMinimal(c);
    ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
    Ctx empty;
    ASSERT_EQ(RyCert_SetCertSignFunc(empty, scriptedSign, nullptr, 0), RYCERT_OK);
    EXPECT_EQ(RyCert_EncodeCert(empty, nullptr, &len), RYCERT_InvalidLengthErr)
        << "no algorithm OIDs: 06 00 is no OID";
  }
}

TEST(EntryPoints, ExportedEncoders) {
  Ctx c;
  AnyBuf *out = reinterpret_cast<AnyBuf *>(&out);
  using Fn = uint32_t (*)(CertCtx *, AnyBuf **);
  for (Fn fn : {Hx_Cert_EncodeValidity, Hx_Cert_EncodeExtensions,
                Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer,
                Hx_Cert_EncodeExtension_SubjectKeyIdentifier,
                Hx_Cert_EncodeExtension_CertificatePolicies, Hx_Cert_EncodeExtension_IssuerAltName,
                Hx_Cert_EncodeExtension_SubjectAltName, Hx_Cert_EncodeExtension_BasicConstraint,
                Hx_Cert_EncodeExtension_KeyUsage, Hx_Cert_EncodeExtension_ExtKeyUsage,
                Hx_Cert_EncodeExtension_CrlDistributePoint, Hx_Cert_EncodeExtension_Private}) {
    EXPECT_EQ(fn(nullptr, &out), RYCERT_MemoryErr);
    EXPECT_EQ(fn(c, nullptr), RYCERT_MemoryErr);
  }
  // Without extension attributes: OK and *out untouched.
  EXPECT_EQ(Hx_Cert_EncodeExtensions(c, &out), RYCERT_OK);
  EXPECT_EQ(out, reinterpret_cast<AnyBuf *>(&out));
  out = nullptr;
  ASSERT_EQ(Hx_Cert_EncodeValidity(c, &out), RYCERT_OK);
  EXPECT_EQ(bytesOf(out),
            tlv(0x30, cat({tlv(0x18, str("19700101000000Z")), tlv(0x18, str("19700101000000Z"))})))
      << "never-set validity: two GeneralizedTime values of time 0";
  Hx_FreeAnybuf(out);
  out = nullptr;
  EXPECT_EQ(Hx_Cert_EncodeExtension_Private(c, &out), RYCERT_OK);
  EXPECT_EQ(out, nullptr) << "no private extension";
}

// ============================================== encoder: what is written

// The Extension elements that setters give, one by one (with the strict-DER
// rules of the encoders).
struct EncRow {
  const char *name;
  std::vector<std::pair<uint32_t, Bytes>> sets;  // identifier, value
  Bytes extensions;                              // the [3] field's Extension elements
  uint32_t want = RYCERT_OK;
};

// The single encoders give exactly the Extension elements that the
// collector writes, in its order.
TEST(EntryPoints, SingleEncodersAgreeWithTheCollector) {
  Ctx c;
  const std::vector<std::pair<uint32_t, Bytes>> sets = {{CERTEX_AUTHORITYKEYIDENTIFIER, hex("01")},
                                                        {CERTEX_SUBJECTKEYIDENTIFIER, hex("02")},
                                                        {CERTEX_CERTPOLICYID, hex("2A03")},
                                                        {CERTEX_CERTPOLICY_CPS, str("u")},
                                                        {CERT_ISSUER_ALT_COMMONNAME, str("a")},
                                                        {CERT_SUBJECT_ALT_EMAIL, str("b@c")},
                                                        {CERTEX_AUTHORITY, hex("01")},
                                                        {CERTEX_PATHLENCONSTRAINT, hex("02")},
                                                        {CERTEX_KEYUSAGE, hex("86")},
                                                        {CERTEX_EXTKEY_USAGE, hex("40000000")},
                                                        {CERTEX_CRLDIST_FULLNAME, str("http://x")}};
  for (const auto &[id, v] : sets) {
    ASSERT_EQ(setChar(c, id, v), RYCERT_OK) << id;
  }
  const Bytes o = hex("2A03");
  ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o.data(), 2, 0, o.data(), 2), RYCERT_OK);
  ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o.data(), 2, 1, o.data(), 2), RYCERT_OK);
  using Fn = uint32_t (*)(CertCtx *, AnyBuf **);
  Bytes joined;
  for (Fn fn : {Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer,
                Hx_Cert_EncodeExtension_SubjectKeyIdentifier,
                Hx_Cert_EncodeExtension_CertificatePolicies, Hx_Cert_EncodeExtension_IssuerAltName,
                Hx_Cert_EncodeExtension_SubjectAltName, Hx_Cert_EncodeExtension_BasicConstraint,
                Hx_Cert_EncodeExtension_KeyUsage, Hx_Cert_EncodeExtension_ExtKeyUsage,
                Hx_Cert_EncodeExtension_CrlDistributePoint, Hx_Cert_EncodeExtension_Private}) {
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

// Builds a certificate through setters and returns its DER.
struct Built {
  uint32_t rc;
  Bytes der;
};
Built build(const std::vector<std::pair<uint32_t, Bytes>> &sets,
            const std::vector<std::pair<int32_t, uint32_t>> &ints = {}) {
  ScriptScope s;
  Ctx c;
  fillMinimal(c);
  for (const auto &[id, v] : ints) {
    EXPECT_EQ(RyCert_SetCertAttributeInt(c, id, v), RYCERT_OK) << id;
  }
  for (const auto &[id, v] : sets) {
    EXPECT_EQ(setChar(c, id, v), RYCERT_OK) << id;
  }
  EXPECT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
  Built b{};
  b.rc = encode(c, b.der);
  return b;
}

// Skips an element's identifier and length octets at p; its content length in len.
uint8_t header(const uint8_t *&p, size_t &len) {
  const uint8_t id = *p++;
  len = *p++;
  if (len & 0x80) {
    const size_t k = len & 0x7F;
    len = 0;
    for (size_t i = 0; i < k; ++i) {
      len = len << 8 | *p++;
    }
  }
  return id;
}

// The content octets of a certificate's TBSCertificate.
Bytes tbsContent(const Bytes &cert) {
  const uint8_t *p = cert.data();
  size_t len = 0;
  header(p, len);
  header(p, len);
  return Bytes(p, p + len);
}

// The content of the [3] field's SEQUENCE in a certificate, or nullopt.
std::optional<Bytes> extensionsOf(const Bytes &cert) {
  // Certificate -> TBSCertificate -> last field.
  const uint8_t *p = cert.data();
  auto hdr = [](const uint8_t *&q, size_t &len) {
    const uint8_t id = *q++;
    len = *q++;
    if (len & 0x80) {
      const size_t k = len & 0x7F;
      len = 0;
      for (size_t i = 0; i < k; ++i) {
        len = len << 8 | *q++;
      }
    }
    return id;
  };
  size_t len = 0;
  hdr(p, len);  // Certificate
  hdr(p, len);  // TBSCertificate
  const uint8_t *end = p + len;
  std::optional<Bytes> last;
  while (p < end) {
    const uint8_t *start = p;
    const uint8_t id = hdr(p, len);
    if (id == 0xA3) {
      const uint8_t *q = p;
      size_t inner = 0;
      hdr(q, inner);
      last = Bytes(q, q + inner);
    }
    p += len;
    (void)start;
  }
  return last;
}

TEST(Encode, EachExtensionAsWritten) {
  const EncRow rows[] = {
      {"key usage 86", {{CERTEX_KEYUSAGE, hex("86")}}, hex("300E0603551D0F0101FF040403020086")},
      {"cA TRUE, non-critical, BOOLEAN FF",
       {{CERTEX_AUTHORITY, hex("00")}},
       hex("300C0603551D13040530030101FF")},
      {"critical, cA FALSE left out",
       {{CERTEX_BASICCONSTRAINTS_CRITICAL, hex("01")}},
       hex("300C0603551D130101FF04023000")},
      {"path length 00",
       {{CERTEX_AUTHORITY, hex("01")}, {CERTEX_PATHLENCONSTRAINT, hex("00")}},
       hex("300F0603551D13040830060101FF020100")},
      {"path length 00 05 is minimal",
       {{CERTEX_AUTHORITY, hex("01")}, {CERTEX_PATHLENCONSTRAINT, hex("0005")}},
       hex("300F0603551D13040830060101FF020105")},
      {"path length without cA", {{CERTEX_PATHLENCONSTRAINT, hex("05")}}, {},
       RYCERT_ExtensionContentErr},
      {"EKU C0 00 00 00",
       {{CERTEX_EXTKEY_USAGE, hex("C0000000")}},
       hex("301D0603551D250416301406082B0601050507030106082B06010505070302")},
      {"EKU 3-byte value fills bytes 2 to 4",
       {{CERTEX_EXTKEY_USAGE, hex("200000")}},
       hex("30130603551D25040C300A06082B06010505070308")},
      {"EKU without purpose", {{CERTEX_EXTKEY_USAGE, hex("C000")}}, {}, RYCERT_ExtensionContentErr},
      {"EKU longer than 4 bytes",
       {{CERTEX_EXTKEY_USAGE, hex("C000000000")}},
       {},
       RYCERT_ExtensionContentErr},
      {"AKI",
       {{CERTEX_AUTHORITYKEYIDENTIFIER, hex("0102")}},
       hex("300D0603551D230406300480020102")},
      {"SKI", {{CERTEX_SUBJECTKEYIDENTIFIER, hex("0102")}}, hex("300B0603551D0E040404020102")},
      {"policy with two CPS",
       {{CERTEX_CERTPOLICYID, hex("2A03")},
        {CERTEX_CERTPOLICY_CPS, str("a")},
        {CERTEX_CERTPOLICY_CPS, str("bc")}},
       hex("30300603551D2004293027302506022A03301F300D06082B06010505070201160161300E06082B"
           "0601050507020116026263")},
      {"policy without CPS", {{CERTEX_CERTPOLICYID, hex("2A03")}}, {}, RYCERT_ExtensionContentErr},
      {"CPS before any policy adds nothing", {{CERTEX_CERTPOLICY_CPS, str("a")}}, {}},
      {"second policy OID keeps the first",
       {{CERTEX_CERTPOLICYID, hex("2A03")},
        {CERTEX_CERTPOLICYID, hex("2A04")},
        {CERTEX_CERTPOLICY_CPS, str("a")}},
       hex("30200603551D2004193017301506022A03300F300D06082B06010505070201160161")},
      {"subject alternative name only",
       {{CERT_SUBJECT_ALT_COMMONNAME, str("alt")}},
       hex("301B0603551D1104143012A410300E310C300A06035504031303616C74")},
      {"issuer alternative name",
       {{CERT_ISSUER_ALT_COUNTRYNAME, str("DE")}, {CERT_ISSUER_ALT_EMAIL, str("a@b")}},
       hex("302E0603551D1204273025A4233021310B30090603550406130244453112301006092A864886F7"
           "0D0109011603614062")},
      {"two distribution points in call order",
       {{CERTEX_CRLDIST_FULLNAME, str("http://a")}, {CERTEX_CRLDIST_FULLNAME, str("http://b")}},
       hex("30290603551D1F04223020300EA00CA00A8608687474703A2F2F61300EA00CA00A8608687474703A"
           "2F2F62")},
  };
  for (const EncRow &r : rows) {
    SCOPED_TRACE(r.name);
    const Built b = build(r.sets);
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

TEST(Encode, PrivateExtensionsFollowTheStandardOnes) {
  ScriptScope s;
  Ctx c;
  fillMinimal(c);
  const Bytes o1 = hex("2A0301"), o2 = hex("2A0302"), v = hex("0500");
  ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o1.data(), 3, 7, v.data(), 2), RYCERT_OK);
  ASSERT_EQ(setChar(c, CERTEX_KEYUSAGE, hex("86")), RYCERT_OK);
  ASSERT_EQ(RyCert_SetCertAttributePrivate(c, o2.data(), 3, 0, v.data(), 2), RYCERT_OK);
  ASSERT_EQ(RyCert_SetCertSignFunc(c, scriptedSign, nullptr, 0), RYCERT_OK);
  Bytes der;
  ASSERT_EQ(encode(c, der), RYCERT_OK);
  EXPECT_EQ(toHex(*extensionsOf(der)),
            toHex(hex("300E0603551D0F0101FF040403020086"
                      "300C06032A03010101FF04020500"  // critical 7 is written as TRUE (FF)
                      "300906032A030204020500")));
}

TEST(Encode, VersionValidityAndIntegers) {
  struct Row {
    const char *name;
    std::vector<std::pair<int32_t, uint32_t>> ints;
    std::vector<std::pair<uint32_t, Bytes>> sets;
    Bytes tbsStart;  // the TBSCertificate's first bytes after its header
  } rows[] = {
      {"v1 (never set) has no [0]", {}, {}, hex("020101")},
      {"v1 set has no [0]", {{CERT_VERSION, 0}}, {}, hex("020101")},
      {"v3", {{CERT_VERSION, 2}}, {}, hex("A003020102020101")},
      {"serial 00 00 81 is minimal", {}, {{CERT_SERIALNUMBER, hex("000081")}}, hex("02020081")},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    const Built b = build(r.sets, r.ints);
    ASSERT_EQ(b.rc, RYCERT_OK);
    const Bytes tbs = tbsContent(b.der);
    const Bytes body(tbs.begin(), tbs.begin() + long(r.tbsStart.size()));
    EXPECT_EQ(toHex(body), toHex(r.tbsStart));
  }
  // UTCTime where the setter chose it, GeneralizedTime from 2050 on.
  const Built b = build({}, {{CERT_VALIDFROM, 2524607999u}, {CERT_VALIDTO, 2524608000u}});
  ASSERT_EQ(b.rc, RYCERT_OK);
  const Bytes validity =
      tlv(0x30, cat({tlv(0x17, str("491231235959Z")), tlv(0x18, str("20500101000000Z"))}));
  EXPECT_NE(std::search(b.der.begin(), b.der.end(), validity.begin(), validity.end()), b.der.end());
}

// ==================================== setter -> encode -> decode -> query

struct RoundTrip {
  const char *name;
  std::vector<std::pair<uint32_t, Bytes>> sets;
  std::vector<std::pair<int32_t, uint32_t>> ints;
  std::map<int32_t, Bytes> charAnswers;  // on the decoded certificate
  std::map<int32_t, uint32_t> intAnswers;
  std::vector<Priv> privates;
};

TEST(RoundTrip, EveryIdentifier) {
  const RoundTrip rows[] = {
      {"algorithms, serial, key",
       {{CERT_OUTER_SIGNATUREALGORITHM, hex("2A864886F70D010105")},
        {CERT_INNER_SIGNATUREALGORITHM, hex("2A864886F70D01010D")},
        {CERT_SERIALNUMBER, hex("00FF01")},
        {CERT_PUBLICKEY_ALGORITHM, hex("2A864886F70D010101")},
        {CERT_SUBJECTPUBLICKEYINFO, hex("3006020101020103")}},
       {},
       {{CERT_OUTER_SIGNATUREALGORITHM, hex("2A864886F70D010105")},
        {CERT_INNER_SIGNATUREALGORITHM, hex("2A864886F70D01010D")},
        {CERT_SERIALNUMBER, hex("FF01")},
        {CERT_PUBLICKEY_ALGORITHM, hex("06092A864886F70D010101")},
        {CERT_CA_SIGNATURE, hex("5AA5010203040506 0708090A0B0C0D0E")}},
       {},
       {}},
      {"version and validity",
       {},
       {{CERT_VERSION, 2}, {CERT_VALIDFROM, 1000000000}, {CERT_VALIDTO, 4000000000u}},
       {},
       {{CERT_VERSION, 2}, {CERT_VALIDFROM, 1000000000}, {CERT_VALIDTO, 4000000000u}},
       {}},
      {"issuer components",
       {{CERT_ISSUER_COUNTRYNAME, str("DE")},
        {CERT_ISSUER_STATEORPROVINCENAME, str("Bayern")},
        {CERT_ISSUER_LOCALITYNAME, str("Passau")},
        {CERT_ISSUER_ORGANIZATIONNAME, str("Org")},
        {CERT_ISSUER_ORGANIZATIONALUNITNAME, str("U1")},
        {CERT_ISSUER_ORGANIZATIONALUNITNAME, str("U2")},
        {CERT_ISSUER_COMMONNAME, str("CA_1")},
        {CERT_ISSUER_EMAIL, str("ca@x.example")},
        {CERT_ISSUER_POSTALADDRESS, str("Street 1")},
        {CERT_ISSUER_POSTALCODE, str("94032")},
        {CERT_ISSUER_TELEPHONE, str("+49 851")}},
       {},
       {{CERT_ISSUER_COUNTRYNAME, str("DE")},
        {CERT_ISSUER_STATEORPROVINCENAME, str("Bayern")},
        {CERT_ISSUER_LOCALITYNAME, str("Passau")},
        {CERT_ISSUER_ORGANIZATIONNAME, str("Org")},
        {CERT_ISSUER_ORGANIZATIONALUNITNAME, str("U1")},
        {CERT_ISSUER_COMMONNAME, str("CA_1")},
        {CERT_ISSUER_EMAIL, str("ca@x.example")},
        // The Name decoder does not recognise these three.
        {CERT_ISSUER_POSTALADDRESS, {}},
        {CERT_ISSUER_POSTALCODE, {}},
        {CERT_ISSUER_TELEPHONE, {}},
        {CERT_ISSUER_DN, str("C=DE,O=Org,OU=U2,CN=CA_1,E=ca@x.example,S=Bayern,L=Passau")}},
       {},
       {}},
      {"subject components",
       {{CERT_SUBJECT_COUNTRYNAME, str("FR")},
        {CERT_SUBJECT_STATEORPROVINCENAME, str("S")},
        {CERT_SUBJECT_LOCALITYNAME, str("L")},
        {CERT_SUBJECT_ORGANIZATIONNAME, str("O")},
        {CERT_SUBJECT_ORGANIZATIONALUNITNAME, str("OU")},
        {CERT_SUBJECT_COMMONNAME, str("cn")},
        {CERT_SUBJECT_EMAIL, str("e@x")},
        {CERT_SUBJECT_POSTALADDRESS, str("pa")},
        {CERT_SUBJECT_POSTALCODE, str("pc")},
        {CERT_SUBJECT_TELEPHONE, str("1")}},
       {},
       {{CERT_SUBJECT_COUNTRYNAME, str("FR")},
        {CERT_SUBJECT_STATEORPROVINCENAME, str("S")},
        {CERT_SUBJECT_LOCALITYNAME, str("L")},
        {CERT_SUBJECT_ORGANIZATIONNAME, str("O")},
        {CERT_SUBJECT_ORGANIZATIONALUNITNAME, str("OU")},
        {CERT_SUBJECT_COMMONNAME, str("cn")},
        {CERT_SUBJECT_EMAIL, str("e@x")},
        {CERT_SUBJECT_POSTALADDRESS, {}},
        {CERT_SUBJECT_POSTALCODE, {}},
        {CERT_SUBJECT_TELEPHONE, {}},
        {CERT_SUBJECT_DN, str("C=FR,O=O,OU=OU,CN=cn,E=e@x,S=S,L=L")}},
       {},
       {}},
      {"key identifiers and key usage",
       {{CERTEX_AUTHORITYKEYIDENTIFIER, hex("A1A2")},
        {CERTEX_SUBJECTKEYIDENTIFIER, hex("B1B2B3")},
        {CERTEX_KEYUSAGE, hex("86")}},
       {},
       {{CERTEX_AUTHORITYKEYIDENTIFIER, hex("A1A2")},
        {CERTEX_SUBJECTKEYIDENTIFIER, hex("B1B2B3")},
        {CERTEX_KEYUSAGE, hex("0086")},
        {CERTEX_KEYUSAGE_CRITICAL, hex("FF")}},
       {},
       {}},
      {"basic constraints, critical",
       {{CERTEX_BASICCONSTRAINTS_CRITICAL, hex("01")}},
       {},
       {{CERTEX_BASICCONSTRAINTS_CRITICAL, hex("FF")},
        {CERTEX_AUTHORITY, hex("00")},
        {CERTEX_PATHLENCONSTRAINT, {}}},
       {},
       {}},
      {"basic constraints, CA with path length",
       {{CERTEX_AUTHORITY, hex("01")}, {CERTEX_PATHLENCONSTRAINT, hex("0003")}},
       {},
       {{CERTEX_BASICCONSTRAINTS_CRITICAL, hex("00")},
        {CERTEX_AUTHORITY, hex("FF")},
        {CERTEX_PATHLENCONSTRAINT, hex("03")}},
       {},
       {}},
      {"extended key usage",
       {{CERTEX_EXTKEY_USAGE, hex("403F0000")}},
       {},
       {{CERTEX_EXTKEY_USAGE, hex("403F0000")}},
       {},
       {}},
      {"distribution points",
       {{CERTEX_CRLDIST_FULLNAME, str("http://c/1.crl")}},
       {},
       {{CERTEX_CRLDIST_FULLNAME, cat({{0x86, 14}, str("http://c/1.crl")})}},
       {},
       {}},
      {"policies and alternative names are private on decoding",
       {{CERTEX_CERTPOLICYID, hex("2A03")},
        {CERTEX_CERTPOLICY_CPS, str("u")},
        {CERT_SUBJECT_ALT_COUNTRYNAME, str("AT")},
        {CERT_SUBJECT_ALT_STATEORPROVINCENAME, str("W")},
        {CERT_SUBJECT_ALT_LOCALITYNAME, str("Wien")},
        {CERT_SUBJECT_ALT_ORGANIZATIONNAME, str("O")},
        {CERT_SUBJECT_ALT_ORGANIZATIONALUNITNAME, str("U")},
        {CERT_SUBJECT_ALT_COMMONNAME, str("C")},
        {CERT_SUBJECT_ALT_EMAIL, str("m@x")},
        {CERT_ISSUER_ALT_COUNTRYNAME, str("CH")},
        {CERT_ISSUER_ALT_STATEORPROVINCENAME, str("ZH")},
        {CERT_ISSUER_ALT_LOCALITYNAME, str("Z")},
        {CERT_ISSUER_ALT_ORGANIZATIONNAME, str("I")},
        {CERT_ISSUER_ALT_ORGANIZATIONALUNITNAME, str("J")},
        {CERT_ISSUER_ALT_COMMONNAME, str("K")},
        {CERT_ISSUER_ALT_EMAIL, str("k@x")}},
       {},
       {},
       {},
       {{hex("551D20"), 0, hex("3017301506022A03300F300D06082B06010505070201160175")},
        {hex("551D12"), 0,
         hex("3062A460305E310B3009060355040613024348310B3009060355040813025A48310A300806"
             "0355040713015A310A3008060355040A130149310A3008060355040B13014A310A30080603"
             "55040313014B3112301006092A864886F70D01090116036B4078")},
        {hex("551D11"), 0,
         hex("3064A4623060310B3009060355040613024154310A30080603550408130157310D300B0603"
             "55040713045769656E310A3008060355040A13014F310A3008060355040B130155310A3008"
             "06035504031301433112301006092A864886F70D01090116036D4078")}}},
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
    for (const auto &[id, bytes] : r.charAnswers) {
      EXPECT_EQ(toHex(getChar(c, id)), toHex(bytes)) << "id " << id;
    }
    for (const auto &[id, v] : r.intAnswers) {
      EXPECT_EQ(getInt(c, id), v) << "id " << id;
    }
    EXPECT_EQ(privates(c), r.privates);
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
    const Bytes before = getChar(c, int32_t(r.second));
    LogCapture log;
    EXPECT_EQ(setChar(c, r.second, hex("02")), r.want);
    if (r.want == RYCERT_AttributeAlreadySet) {
      EXPECT_EQ(getChar(c, int32_t(r.second)), before) << "unchanged";
      EXPECT_TRUE(log.contains("------>RYCERT_AttributeAlreadySet"));
    }
  }
  Ctx c;
  ASSERT_EQ(setChar(c, CERTEX_KEYUSAGE, hex("86")), RYCERT_OK);
  EXPECT_EQ(setChar(c, CERTEX_KEYUSAGE, hex("01")), RYCERT_AttributeAlreadySet);
  EXPECT_EQ(getChar(c, CERTEX_KEYUSAGE), hex("86")) << "the first value stays";
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

TEST(Signing, DecodedContextReturnsItsBytesWithoutCallback) {
  const Bytes der = Template().cert();
  Ctx c;
  ASSERT_EQ(decode(c, der), RYCERT_OK);
  Bytes out;
  ASSERT_EQ(encode(c, out), RYCERT_OK) << "no callback needed for cached bytes";
  EXPECT_EQ(out, der);
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
  EXPECT_EQ(decode(c, t.cert(Template::tbsOf(f))), RYCERT_TagNotMatchErr);
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
    SignScript script;
    gScript = &script;
    CertCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCertEncodeCtx(&c);
    const std::vector<std::pair<uint32_t, Bytes>> sets = {
        {CERT_SERIALNUMBER, hex("01")},
        {CERT_INNER_SIGNATUREALGORITHM, kSha256Rsa},
        {CERT_OUTER_SIGNATUREALGORITHM, kSha256Rsa},
        {CERT_PUBLICKEY_ALGORITHM, kRsaEnc},
        {CERT_SUBJECTPUBLICKEYINFO, hex("3006020101020103")},
        {CERT_ISSUER_COMMONNAME, str("i")},
        {CERT_SUBJECT_COMMONNAME, str("s")},
        {CERTEX_AUTHORITYKEYIDENTIFIER, hex("01")},
        {CERTEX_SUBJECTKEYIDENTIFIER, hex("02")},
        {CERTEX_CERTPOLICYID, hex("2A03")},
        {CERTEX_CERTPOLICY_CPS, str("u")},
        {CERT_ISSUER_ALT_COMMONNAME, str("a")},
        {CERT_SUBJECT_ALT_COMMONNAME, str("b")},
        {CERTEX_AUTHORITY, hex("01")},
        {CERTEX_PATHLENCONSTRAINT, hex("01")},
        {CERTEX_KEYUSAGE, hex("86")},
        {CERTEX_EXTKEY_USAGE, hex("C0000000")},
        {CERTEX_CRLDIST_FULLNAME, str("http://x")}};
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
    using Fn = uint32_t (*)(CertCtx *, AnyBuf **);
    for (Fn fn :
         {Hx_Cert_EncodeValidity, Hx_Cert_EncodeExtensions,
          Hx_Cert_EncodeExtension_AuthorityKeyIdentifyer,
          Hx_Cert_EncodeExtension_SubjectKeyIdentifier, Hx_Cert_EncodeExtension_CertificatePolicies,
          Hx_Cert_EncodeExtension_IssuerAltName, Hx_Cert_EncodeExtension_SubjectAltName,
          Hx_Cert_EncodeExtension_BasicConstraint, Hx_Cert_EncodeExtension_KeyUsage,
          Hx_Cert_EncodeExtension_ExtKeyUsage, Hx_Cert_EncodeExtension_CrlDistributePoint,
          Hx_Cert_EncodeExtension_Private}) {
      AnyBuf *out = nullptr;
      if (rc == RYCERT_OK) {
        rc = fn(c, &out);
        Hx_FreeAnybuf(out);
      }
    }
    RyCert_DestroyCertEncodeCtx(c);
    gScript = nullptr;
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
