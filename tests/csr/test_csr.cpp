// Certification requests: decoding ladder from one template, prefixes, the
// attribute query, building (strict DER, SET OF order), the signing
// protocol, allocation failures; corpus requests against libcrypto, and
// openssl req -verify and Python cryptography on what we build.
#include "sign_util.h"

namespace {

using namespace rytest;

Bytes seq(std::initializer_list<Bytes> parts) { return tlv(0x30, cat(parts)); }
Bytes rdn(const char *oidHex, const char *v) {
  return tlv(0x31, seq({tlv(0x06, hex(oidHex)), tlv(0x13, str(v))}));
}
const Bytes kChallenge = hex("2A864886F70D010907");
Bytes attribute(const Bytes &type, std::initializer_list<Bytes> values) {
  return seq({tlv(0x06, type), tlv(0x31, cat(values))});
}

// Every field of a request: the CertificationRequestInfo's, then the
// CertificationRequest's after it.
enum { kVersion, kSubject, kSpki, kAttributes };
struct CsrParts {
  std::vector<Bytes> fields = {
      hex("020100"), seq({rdn("550406", "DE"), rdn("550403", "Applicant")}),
      seq({seq({tlv(0x06, kRsaEncryption), hex("0500")}),
           tlv(0x03, cat({{0x00}, seq({hex("020300C001"), hex("0203010001")})}))}),
      tlv(0xA0, attribute(kChallenge, {tlv(0x13, str("secret")), tlv(0x13, str("x"))}))};
  std::vector<Bytes> outer = {seq({tlv(0x06, kSha256Rsa), hex("0500")}), hex("030300AABB")};

  Bytes info() const { return seqOf(fields); }
  Bytes der() const { return seq({info(), outer[0], outer[1]}); }
};

struct Ctx {
  CsrCtx *c = nullptr;
  Ctx() { EXPECT_EQ(RyCert_CreateCsrDecodeCtx(&c), RYCERT_OK); }
  ~Ctx() { RyCert_DestroyCsrDecodeCtx(c); }
  uint32_t decode(const Bytes &der) {
    ExactBlock b(der);
    return RyCert_DecodeCsr(c, b.data(), uint32_t(b.size()));
  }
  std::optional<Bytes> get(uint32_t id) { return getTwoCalls(RyCert_GetCsrAttributeChar, c, id); }
  uint32_t count() {
    uint32_t index = 0;
    EXPECT_EQ(RyCert_GetCsrAttributePrivate(c, &index, nullptr, nullptr, nullptr, nullptr), 0u);
    return index;
  }
  std::pair<Bytes, Bytes> attr(uint32_t index) {
    uint32_t tl = 0;
    uint32_t vl = 0;
    EXPECT_EQ(RyCert_GetCsrAttributePrivate(c, &index, nullptr, &tl, nullptr, &vl), 0u);
    Bytes t(tl);
    Bytes v(vl);
    EXPECT_EQ(RyCert_GetCsrAttributePrivate(c, &index, t.data(), &tl, v.data(), &vl), 0u);
    return {t, v};
  }
};

// One row per field: what leaving it out, giving it another identifier,
// ending the input inside it, or stopping the list before it does.
constexpr uint32_t kShort = RYCERT_InvalidLengthErr;  // a length that claims more than is left

TEST(CsrDecode, InfoFieldLadder) {
  expectLadder(
      {
          {"version", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CsrNotEndErr},
          {"subject", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CsrNotEndErr},
          {"subjectPKInfo", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort,
           RYCERT_CsrNotEndErr},
          {"attributes", RYCERT_OK, RYCERT_TagNotMatchErr, kShort, RYCERT_OK},
      },
      CsrParts().fields, [](const std::vector<Bytes> &f) {
        CsrParts p;
        p.fields = f;
        return Ctx().decode(p.der());
      });
}

TEST(CsrDecode, CertificationRequestFieldLadder) {
  const CsrParts t;
  expectLadder(
      {
          {"certificationRequestInfo", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort,
           RYCERT_CsrNotEndErr},
          {"signatureAlgorithm", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort,
           RYCERT_CsrNotEndErr},
          {"signature", RYCERT_CsrNotEndErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CsrNotEndErr},
      },
      {t.info(), t.outer[0], t.outer[1]},
      [](const std::vector<Bytes> &f) { return Ctx().decode(seqOf(f)); });
}

// What each field's content may and may not be: the field replaced.
TEST(CsrDecode, FieldContents) {
  constexpr int kSigAlg = 100;  // the outer signatureAlgorithm
  const struct {
    const char *name;
    int field;
    Bytes value;
    uint32_t status;
  } rows[] = {
      {"empty attributes", kAttributes, hex("A000"), RYCERT_OK},
      {"algorithm without OID", kSigAlg, hex("3000"), RYCERT_CsrNotEndErr},
      {"subjectPKInfo without key bits", kSpki, seq({seq({tlv(0x06, kRsaEncryption)})}),
       RYCERT_CsrNotEndErr},
      {"subjectPKInfo algorithm without OID", kSpki, seq({hex("3000"), hex("030100")}),
       RYCERT_CsrNotEndErr},
      {"attribute without values", kAttributes, tlv(0xA0, seq({tlv(0x06, kChallenge)})),
       RYCERT_CsrNotEndErr},
      {"attribute with an empty SET", kAttributes, tlv(0xA0, seq({tlv(0x06, kChallenge), hex("3100")})),
       RYCERT_CsrNotEndErr},
      {"attribute without type", kAttributes, tlv(0xA0, hex("3000")), RYCERT_CsrNotEndErr},
      {"attribute type mistagged", kAttributes, tlv(0xA0, seq({hex("0401AA"), hex("3100")})),
       RYCERT_TagNotMatchErr},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    CsrParts p;
    (r.field == kSigAlg ? p.outer[0] : p.fields[r.field]) = r.value;
    EXPECT_EQ(Ctx().decode(p.der()), r.status);
  }
}

TEST(CsrDecode, EveryPrefixFailsTrailingBytesAreIgnoredAndTheInputIsOnlyRead) {
  const Bytes der = CsrParts{}.der();
  expectEveryPrefixRefused(
      der, [](const uint8_t *p, uint32_t n) { return RyCert_DecodeCsr(Ctx().c, p, n); });
  EXPECT_EQ(Ctx().decode(cat({der, hex("00")})), RYCERT_OK);
}

// The fields are compared with libcrypto's reading in CsrCorpus; here the
// attribute query and the identifiers the queries refuse.
TEST(CsrDecode, AttributesAndRefusedQueries) {
  CsrParts p;
  Ctx ctx;
  ASSERT_EQ(ctx.decode(p.der()), RYCERT_OK);
  EXPECT_EQ(ctx.count(), 1u);
  EXPECT_EQ(ctx.attr(1), std::make_pair(kChallenge, tlv(0x13, str("secret"))))
      << "only the first value of the SET";
  uint32_t index = 5, v = 9;
  EXPECT_EQ(RyCert_GetCsrAttributePrivate(ctx.c, &index, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(index, 1u) << "past the end: the count";
  for (uint32_t id : {2000u, 2005u, 2016u, 2025u, 2028u, CSR_VERSION}) {
    EXPECT_EQ(RyCert_GetCsrAttributeChar(ctx.c, id, nullptr, &v), RYCERT_AttributeNotSupportErr);
  }
  for (uint32_t id : {2005u, CSR_TBS_CSR, CSR_SUBJECT_COMMONNAME}) {
    EXPECT_EQ(RyCert_GetCsrAttributeInt(ctx.c, id, &v), RYCERT_AttributeNotSupportErr);
  }
  p.fields.pop_back();
  Ctx none;
  ASSERT_EQ(none.decode(p.der()), RYCERT_OK);
  EXPECT_EQ(none.count(), 0u);
}

TEST(CsrDecode, InfoAndAttributesOnTheirOwn) {
  CsrParts p;
  Ctx ctx;
  Rec info(p.info());
  ASSERT_EQ(Hx_CSR_DecodeTBS(ctx.c, info.get()), RYCERT_OK);
  EXPECT_EQ(ctx.get(CSR_SUBJECT_COMMONNAME), str("Applicant"));
  Rec attrs(tlv(0xA0, cat({attribute(hex("550403"), {tlv(0x13, str("a"))}),
                           attribute(kChallenge, {tlv(0x13, str("b"))})})));
  ASSERT_EQ(Hx_CSR_DecodeAttributes(attrs.get(), ctx.c), RYCERT_OK);
  EXPECT_EQ(ctx.count(), 2u);
  EXPECT_EQ(ctx.attr(2).second, tlv(0x13, str("b")));
  Rec bad(hex("A0023000"));
  EXPECT_EQ(Hx_CSR_DecodeAttributes(bad.get(), ctx.c), RYCERT_CsrNotEndErr);
  EXPECT_EQ(ctx.count(), 2u);
}

// ------------------------------------------------------------ building

struct Builder {
  CsrCtx *c = nullptr;
  Builder() { EXPECT_EQ(RyCert_CreateCsrEncodeCtx(&c), RYCERT_OK); }
  ~Builder() { RyCert_DestroyCsrEncodeCtx(c); }
  uint32_t set(uint32_t id, const Bytes &v) {
    return RyCert_SetCsrAttributeChar(c, id, v.data(), int32_t(v.size()));
  }
  uint32_t addAttr(const Bytes &type, const Bytes &value) {
    return RyCert_SetCsrAttributePrivate(c, type.data(), int32_t(type.size()), value.data(),
                                         int32_t(value.size()));
  }
  uint32_t encode(Bytes &out) {
    uint32_t len = 0;
    if (uint32_t rc = RyCert_EncodeCsr(c, nullptr, &len); rc != RYCERT_OK) {
      return rc;
    }
    out.assign(len, 0);
    return RyCert_EncodeCsr(c, out.data(), &len);
  }
  void basics() {
    set(CSR_SUBJECT_COUNTRYNAME, str("DE"));
    set(CSR_SUBJECT_COMMONNAME, str("Applicant"));
    set(CSR_PUBLICKEY_ALGORITHM, kRsaEncryption);
    set(CSR_SUBJECTPUBLICKEYINFO, testPublicKey());
    set(CSR_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
    RyCert_SetCsrSignFunc(c, signSha256, nullptr, 0);
  }
};

TEST(CsrBuild, EveryIdentifierRoundTrips) {
  Builder b;
  EXPECT_EQ(RyCert_SetCsrAttributeInt(b.c, CSR_VERSION, 0), RYCERT_OK);
  const std::pair<uint32_t, const char *> names[] = {
      {CSR_SUBJECT_COUNTRYNAME, "DE"},          {CSR_SUBJECT_STATEORPROVINCENAME, "Bayern"},
      {CSR_SUBJECT_LOCALITYNAME, "Munich"},     {CSR_SUBJECT_ORGANIZATIONNAME, "Example AG"},
      {CSR_SUBJECT_ORGANIZATIONALUNITNAME, "PKI"}, {CSR_SUBJECT_COMMONNAME, "Applicant"},
      {CSR_SUBJECT_EMAIL, "a_b@example.org"},   {CSR_SUBJECT_POSTALADDRESS, "Street 1"},
      {CSR_SUBJECT_POSTALCODE, "80331"},        {CSR_SUBJECT_TELEPHONE, "+49 89 1"}};
  for (auto [id, v] : names) {
    ASSERT_EQ(b.set(id, str(v)), RYCERT_OK) << id;
  }
  b.set(CSR_PUBLICKEY_ALGORITHM, kRsaEncryption);
  b.set(CSR_SUBJECTPUBLICKEYINFO, testPublicKey());
  b.set(CSR_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
  const Bytes second = tlv(0x0C, str("zz"));
  ASSERT_EQ(b.addAttr(kChallenge, tlv(0x13, str("pw"))), RYCERT_OK);
  ASSERT_EQ(b.addAttr(hex("550403"), second), RYCERT_OK);
  RyCert_SetCsrSignFunc(b.c, signSha256, nullptr, 0);
  Bytes der;
  ASSERT_EQ(b.encode(der), RYCERT_OK);
  Ctx back;
  ASSERT_EQ(back.decode(der), RYCERT_OK);
  for (auto [id, v] : names) {
    const bool known = id != CSR_SUBJECT_POSTALADDRESS && id != CSR_SUBJECT_POSTALCODE &&
                       id != CSR_SUBJECT_TELEPHONE;
    EXPECT_EQ(back.get(id), known ? std::optional(str(v)) : std::nullopt) << id;
  }
  // DER SET OF order: the commonName attribute (06 03 ...) sorts first.
  ASSERT_EQ(back.count(), 2u);
  EXPECT_EQ(back.attr(1), std::make_pair(hex("550403"), second));
  EXPECT_EQ(back.attr(2), std::make_pair(kChallenge, tlv(0x13, str("pw"))));
  // The encoded context answers its own TBS. (Key, algorithm and signature
  // are verified by openssl and Python in CsrPeers.)
  EXPECT_EQ(getTwoCalls(RyCert_GetCsrAttributeChar, b.c, CSR_TBS_CSR), firstChild(der));
}

TEST(CsrBuild, AttributesFieldIsAlwaysThere) {
  Builder b;
  AnyBuf *rec = nullptr;
  ASSERT_EQ(Hx_Csr_EncodeAttributes(b.c, &rec), RYCERT_OK);
  EXPECT_EQ(toHex(bytesOf(rec)), "A000");
  Hx_FreeAnybuf(rec);
  const Bytes pw = tlv(0x13, str("secret"));
  ASSERT_EQ(b.addAttr(kChallenge, pw), RYCERT_OK);
  ASSERT_EQ(Hx_Csr_EncodeAttributes(b.c, &rec), RYCERT_OK);
  // A0 15+v, 30 13+v (decimal), OID, 31 v, value.
  EXPECT_EQ(toHex(bytesOf(rec)), toHex(cat({hex("A017301506092A864886F70D010907"),
                                            hex("3108"), pw})));
  Hx_FreeAnybuf(rec);
  b.basics();
  Bytes der;
  ASSERT_EQ(b.encode(der), RYCERT_OK);
  Builder none;
  none.basics();
  ASSERT_EQ(none.encode(der), RYCERT_OK);
  const Bytes a0 = hex("A000");
  EXPECT_NE(std::search(der.begin(), der.end(), a0.begin(), a0.end()), der.end());
  // Both AlgorithmIdentifiers carry NULL parameters.
  const Bytes spkiAlg = seq({tlv(0x06, kRsaEncryption), hex("0500")});
  const Bytes sigAlg = seq({tlv(0x06, kSha256Rsa), hex("0500")});
  EXPECT_NE(std::search(der.begin(), der.end(), spkiAlg.begin(), spkiAlg.end()), der.end());
  EXPECT_NE(std::search(der.begin(), der.end(), sigAlg.begin(), sigAlg.end()), der.end());
}

TEST(CsrBuild, SetterRefusalsAndLogLines) {
  Builder b;
  LogCapture log;
  const Bytes one = hex("01");
  EXPECT_EQ(RyCert_SetCsrAttributeChar(b.c, CSR_SUBJECT_COMMONNAME, one.data(), 0),
            RYCERT_MemoryErr);
  EXPECT_TRUE(log.lines().empty());
  for (uint32_t id : {CSR_TBS_CSR, CSR_VERSION, 2005u, 2016u, 2028u}) {
    EXPECT_EQ(b.set(id, one), RYCERT_AttributeNotSupportErr) << id;
  }
  EXPECT_EQ(RyCert_SetCsrAttributeInt(b.c, CSR_TBS_CSR, 0), RYCERT_AttributeNotSupportErr);
  EXPECT_EQ(RyCert_SetCsrAttributePrivate(b.c, kChallenge.data(), 9, one.data(), 0),
            RYCERT_InvalidLengthErr);
  EXPECT_EQ(b.addAttr(kChallenge, hex("1302AA")), RYCERT_InvalidLengthErr);  // short element
  EXPECT_EQ(b.addAttr(kChallenge, hex("1301AA00")), RYCERT_InvalidLengthErr);  // two things
  EXPECT_EQ(b.addAttr(hex("2A86"), hex("1301AA")), RYCERT_InvalidLengthErr);  // unended OID
  uint32_t index = 0;
  RyCert_GetCsrAttributePrivate(b.c, &index, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(index, 0u);
  log.lines();
  LogCapture fresh;
  b.set(CSR_SUBJECT_TELEPHONE, str("1"));
  b.set(CSR_SUBJECT_EMAIL, str("a@b"));
  RyCert_SetCsrAttributeInt(b.c, CSR_VERSION, 0);
  b.addAttr(kChallenge, hex("1301AA"));
  EXPECT_EQ(fresh.lines(),
            (std::vector<std::string>{
                "======>Set  CSR_SUBJECT_TELEPHONE", "======>Set CSR_SUBJECT_EMAIL",
                "======>RyCert_SetCsrAttributeInt Begin", "======>Set CSR_VERSION",
                "======>RyCert_SetCsrAttributeInt End", "======>RyCert_SetCsrAttributePrivate Begin",
                "======>RyCsr_SetCertAttributePrivate End"}));
}

// The signing step's protocol is the certificates' (test_cert); here what
// the request encoder adds: no callback, nothing called; the cache.
TEST(CsrSign, NoCallbackAndTheCache) {
  Builder b;
  b.basics();
  RyCert_SetCsrSignFunc(b.c, nullptr, nullptr, 0);
  Bytes der;
  EXPECT_EQ(b.encode(der), RYCERT_MemoryErr);
  RyCert_SetCsrSignFunc(b.c, signSha256, nullptr, 0);
  gSignCalls = 0;
  Bytes first;
  Bytes second;
  ASSERT_EQ(b.encode(first), RYCERT_OK);
  b.set(CSR_SUBJECT_ORGANIZATIONNAME, str("Later"));
  ASSERT_EQ(b.encode(second), RYCERT_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(gSignCalls, 2);
}

TEST(CsrMemory, DecodeSettersAndEncode) {
  const Bytes der = CsrParts{}.der();
  sweepAllocationFailures([&] {
    CsrCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCsrDecodeCtx(&c);
    if (rc == RYCERT_OK) {
      rc = RyCert_DecodeCsr(c, der.data(), uint32_t(der.size()));
    }
    RyCert_DestroyCsrDecodeCtx(c);
    return rc;
  });
  const Bytes key = testPublicKey();
  sweepAllocationFailures([&] {
    CsrCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCsrEncodeCtx(&c);
    const auto chr = [&](uint32_t id, const Bytes &v) {
      if (rc == RYCERT_OK) {
        rc = RyCert_SetCsrAttributeChar(c, id, v.data(), int32_t(v.size()));
      }
    };
    chr(CSR_SUBJECT_COMMONNAME, str("A"));
    chr(CSR_PUBLICKEY_ALGORITHM, kRsaEncryption);
    chr(CSR_SUBJECTPUBLICKEYINFO, key);
    chr(CSR_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
    for (const Bytes &t : {kChallenge, hex("550403")}) {
      const Bytes v = hex("1301AA");
      if (rc == RYCERT_OK) {
        rc = RyCert_SetCsrAttributePrivate(c, t.data(), int32_t(t.size()), v.data(), 3);
      }
    }
    if (rc == RYCERT_OK) {
      rc = RyCert_SetCsrSignFunc(c, signSha256, key.data(), 4);
    }
    uint32_t len = 0;
    if (rc == RYCERT_OK) {
      rc = RyCert_EncodeCsr(c, nullptr, &len);
    }
    AnyBuf *rec = nullptr;
    if (rc == RYCERT_OK && (rc = Hx_Csr_EncodeAttributes(c, &rec)) == RYCERT_OK) {
      Hx_FreeAnybuf(rec);
    }
    RyCert_DestroyCsrEncodeCtx(c);
    return rc;
  });
}

// ------------------------------------------------------------ peers

TEST(CsrCorpus, EveryRequestReadsAsLibcryptoReadsIt) {
  int compared = 0;
  for (const auto &[where, der] :
       corpusObjects("req", {"CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST"})) {
    SCOPED_TRACE(where);
    const unsigned char *p = der.data();
    X509_REQ *req = d2i_X509_REQ(nullptr, &p, long(der.size()));
    ERR_clear_error();
    Ctx ctx;
    const uint32_t rc = ctx.decode(der);
    if (req == nullptr) {
      continue;  // libcrypto refuses it; we must only not crash
    }
    ASSERT_EQ(rc, RYCERT_OK);
    EXPECT_EQ(ctx.get(CSR_TBS_CSR), firstChild(der));
    uint32_t v = 99;
    RyCert_GetCsrAttributeInt(ctx.c, CSR_VERSION, &v);
    EXPECT_EQ(v, uint32_t(X509_REQ_get_version(req)));
    const X509_ALGOR *alg = nullptr;
    const ASN1_BIT_STRING *sig = nullptr;
    X509_REQ_get0_signature(req, &sig, &alg);
    const ASN1_OBJECT *o = nullptr;
    X509_ALGOR_get0(&o, nullptr, nullptr, alg);
    EXPECT_EQ(ctx.get(CSR_OUTER_SIGNATUREALGORITHM), objContent(o));
    EXPECT_EQ(ctx.get(CSR_SELF_SIGNATURE), strBytes(sig));
    const unsigned char *keyBytes = nullptr;
    int keyLen = 0;
    X509_ALGOR *keyAlg = nullptr;
    X509_PUBKEY_get0_param(nullptr, &keyBytes, &keyLen, &keyAlg, X509_REQ_get_X509_PUBKEY(req));
    X509_ALGOR_get0(&o, nullptr, nullptr, keyAlg);
    EXPECT_EQ(ctx.get(CSR_PUBLICKEY_ALGORITHM), tlv(0x06, objContent(o)));
    EXPECT_EQ(ctx.get(CSR_SUBJECTPUBLICKEYINFO), Bytes(keyBytes, keyBytes + keyLen));
    for (auto [id, nid] : {std::pair{CSR_SUBJECT_COUNTRYNAME, NID_countryName},
                           std::pair{CSR_SUBJECT_ORGANIZATIONNAME, NID_organizationName},
                           std::pair{CSR_SUBJECT_COMMONNAME, NID_commonName}}) {
      EXPECT_EQ(ctx.get(id), firstText(X509_REQ_get_subject_name(req), nid)) << id;
    }
    EXPECT_EQ(ctx.count(), uint32_t(X509_REQ_get_attr_count(req)));
    ++compared;
    X509_REQ_free(req);
  }
  EXPECT_GE(compared, 20);
}

Bytes buildRequest() {
  Builder b;
  b.basics();
  b.set(CSR_SUBJECT_EMAIL, str("applicant@example.org"));
  b.addAttr(kChallenge, tlv(0x13, str("secret")));
  Bytes der;
  EXPECT_EQ(b.encode(der), RYCERT_OK);
  return der;
}

TEST(CsrPeers, OpensslAndPythonVerifyWhatWeBuild) {
  const std::string path = writeTemp("ours.csr", buildRequest());
  int status = 0;
  std::string out =
      runCommand("openssl req -inform DER -in " + path + " -noout -verify -text 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
  EXPECT_NE(out.find("challengePassword"), std::string::npos) << out;
  const std::string python = pythonWithCryptography();
  if (python.empty()) {
    GTEST_SKIP() << "no python3 with the cryptography package";
  }
  const std::string script =
      "import sys\n"
      "from cryptography import x509\n"
      "r = x509.load_der_x509_csr(open(sys.argv[1],'rb').read())\n"
      "print(r.is_signature_valid, r.subject.rfc4514_string())\n"
      "print(r.attributes.get_attribute_for_oid(x509.oid.AttributeOID.CHALLENGE_PASSWORD).value)\n";
  out = runCommand(python + " " + writeTemp("csr_check.py", str(script)) + " " + path + " 2>&1",
                   status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "True 1.2.840.113549.1.9.1=applicant@example.org,CN=Applicant,C=DE\nb'secret'\n");
}

}  // namespace
