// CRLs against peers: every CRL of the test data read by libcrypto and by
// us, field by field; CRLs we build read and verified by the openssl tool
// and by Python cryptography. The issuing CA certificate is made with
// libcrypto (same key as the signing callback).
#include "crl_util.h"

namespace {

using namespace rytest;

// Compares what libcrypto reads with what our queries answer.
void compare(const std::string &where, const Bytes &der, X509_CRL *crl) {
  SCOPED_TRACE(where);
  Ctx ctx;
  ASSERT_EQ(ctx.decode(der), RYCERT_OK);
  const long version = X509_CRL_get_version(crl);
  EXPECT_EQ(ctx.getInt(CRL_VERSION), version == 0 ? std::nullopt : std::optional(uint32_t(version)));
  const X509_ALGOR *outer = nullptr;
  const ASN1_BIT_STRING *sig = nullptr;
  X509_CRL_get0_signature(crl, &sig, &outer);
  const ASN1_OBJECT *outerOid = nullptr;
  X509_ALGOR_get0(&outerOid, nullptr, nullptr, outer);
  EXPECT_EQ(ctx.get(CRL_OUTER_SIGNATUREALGORITHM), objContent(outerOid));
  // libcrypto refuses a CRL whose two algorithms differ.
  EXPECT_EQ(ctx.get(CRL_INNER_SIGNATUREALGORITHM), objContent(outerOid));
  EXPECT_EQ(ctx.get(CRL_CA_SIGNATURE), strBytes(sig));
  EXPECT_EQ(ctx.get(CRL_TBS_CERTLIST), firstChild(der));
  X509_NAME *issuer = X509_CRL_get_issuer(crl);
  const std::pair<uint32_t, int> components[] = {
      {CRL_ISSUER_COUNTRYNAME, NID_countryName},
      {CRL_ISSUER_STATEORPROVINCENAME, NID_stateOrProvinceName},
      {CRL_ISSUER_LOCALITYNAME, NID_localityName},
      {CRL_ISSUER_ORGANIZATIONNAME, NID_organizationName},
      {CRL_ISSUER_ORGANIZATIONALUNITNAME, NID_organizationalUnitName},
      {CRL_ISSUER_COMMONNAME, NID_commonName},
      {CRL_ISSUER_EMAIL, NID_pkcs9_emailAddress}};
  for (auto [id, nid] : components) {
    EXPECT_EQ(ctx.get(id), firstText(issuer, nid)) << id;
  }
  EXPECT_EQ(ctx.getInt(CRL_THISUPDATE), integerTime(X509_CRL_get0_lastUpdate(crl)));
  const ASN1_TIME *next = X509_CRL_get0_nextUpdate(crl);
  EXPECT_EQ(ctx.getInt(CRL_NEXTUPDATE), next ? integerTime(next) : std::nullopt);
  STACK_OF(X509_REVOKED) *revoked = X509_CRL_get_REVOKED(crl);
  for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i) {
    X509_REVOKED *r = sk_X509_REVOKED_value(revoked, i);
    EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), integerContent(X509_REVOKED_get0_serialNumber(r)))
        << "entry " << i;
    EXPECT_EQ(ctx.getInt(CRL_CERT_REVOCATIONDATE),
              integerTime(X509_REVOKED_get0_revocationDate(r)));
    int crit = 0;
    auto *reason = static_cast<ASN1_ENUMERATED *>(
        X509_REVOKED_get_ext_d2i(r, NID_crl_reason, &crit, nullptr));
    EXPECT_EQ(ctx.get(CRLEX_CRLREASON),
              reason ? std::optional(Bytes{uint8_t(ASN1_ENUMERATED_get(reason))}) : std::nullopt);
    ASN1_ENUMERATED_free(reason);
    ctx.next();
  }
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), Bytes{});
}

TEST(CrlCorpus, EveryCrlReadsAsLibcryptoReadsIt) {
  int compared = 0;
  for (const auto &[where, der] : corpusObjects("crl", {"X509 CRL"})) {
    const unsigned char *p = der.data();
    X509_CRL *crl = d2i_X509_CRL(nullptr, &p, long(der.size()));
    ERR_clear_error();
    if (crl == nullptr) {
      // What libcrypto refuses we need not read; we must not crash on it.
      Ctx().decode(der);
      continue;
    }
    compare(where, der, crl);
    ++compared;
    X509_CRL_free(crl);
  }
  EXPECT_GE(compared, 30);
}

// ------------------------------------------------------------ peers read ours

struct Built {
  Bytes der;
  std::string caPem;
};

// A v2 CRL signed by the test CA: three entries, reasons on two of them.
Built buildCrl() {
  Builder c;
  const uint32_t now = uint32_t(time(nullptr));
  c.basics(1, "DE", "Peer Test CA", now - 3600, now + 86400 * 30);
  c.entry(hex("01"), now - 7200, 1);
  c.entry(hex("00ABCDEF0123456789"), now - 7200);
  c.entry(hex("7F"), 2524608000u, 5);  // 2050
  EXPECT_EQ(RyCert_SetCrlSignFunc(c.c, signSha256, nullptr, 0), RYCERT_OK);
  Built b;
  EXPECT_EQ(c.encode(b.der), RYCERT_OK);
  X509 *ca = makeCaCert("DE", "Peer Test CA");
  b.caPem = pemFile("crl_ca.pem", ca);
  X509_free(ca);
  return b;
}

TEST(CrlPeers, OpensslAndPythonReadAndVerifyWhatWeBuild) {
  const Built b = buildCrl();
  const std::string crl = writeTemp("ours.crl", b.der);
  int status = 0;
  std::string out = runCommand("openssl crl -inform DER -in " + crl + " -noout -text 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("ABCDEF0123456789"), std::string::npos) << out;
  EXPECT_NE(out.find("Key Compromise"), std::string::npos) << out;
  EXPECT_NE(out.find("Cessation Of Operation"), std::string::npos) << out;
  out = runCommand(
      "openssl crl -inform DER -in " + crl + " -noout -verify -CAfile " + b.caPem + " 2>&1",
      status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
  // And libcrypto's own comparison, entry by entry.
  const unsigned char *p = b.der.data();
  X509_CRL *x = d2i_X509_CRL(nullptr, &p, long(b.der.size()));
  ASSERT_NE(x, nullptr);
  compare("built", b.der, x);
  EXPECT_EQ(X509_CRL_verify(x, testKey()), 1);
  X509_CRL_free(x);

  const std::string python = pythonWithCryptography();
  if (python.empty()) {
    GTEST_SKIP() << "no python3 with the cryptography package";
  }
  const std::string script =
      "import sys\n"
      "from cryptography import x509\n"
      "crl = x509.load_der_x509_crl(open(sys.argv[1],'rb').read())\n"
      "ca = x509.load_pem_x509_certificate(open(sys.argv[2],'rb').read())\n"
      "print('valid', crl.is_signature_valid(ca.public_key()))\n"
      "for r in crl:\n"
      "    try:\n"
      "        reason = r.extensions.get_extension_for_class(x509.CRLReason).value.reason.name\n"
      "    except x509.ExtensionNotFound:\n"
      "        reason = '-'\n"
      "    print(hex(r.serial_number), reason)\n";
  out = runCommand(python + " " + writeTemp("crl_check.py", str(script)) + " " + crl + " " +
                       b.caPem + " 2>&1",
                   status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "valid True\n0x1 key_compromise\n0xabcdef0123456789 -\n0x7f cessation_of_operation\n");
}

}  // namespace
