// CRLs against peers: every CRL of the test data read by libcrypto and by
// us, field by field; CRLs we build read and verified by the openssl tool
// and by Python cryptography. The issuing CA certificate is made with
// libcrypto (same key as the signing callback).
#include <openssl/x509v3.h>

#include "sign_util.h"

namespace {

using namespace rytest;

struct Ctx {
  CrlCtx *c = nullptr;
  Ctx() { EXPECT_EQ(RyCert_CreateCrlDecodeCtx(&c), RYCERT_OK); }
  ~Ctx() { RyCert_DestroyCrlDecodeCtx(c); }
  std::optional<Bytes> get(uint32_t id) {
    uint32_t len = 0xDEAD;
    EXPECT_EQ(RyCert_GetCrlAttributeChar(c, id, nullptr, &len), RYCERT_OK);
    if (len == 0xDEAD) {
      return std::nullopt;
    }
    Bytes out(len);
    EXPECT_EQ(RyCert_GetCrlAttributeChar(c, id, out.data(), &len), RYCERT_OK);
    return out;
  }
  std::optional<uint32_t> getInt(uint32_t id) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(RyCert_GetCrlAttributeInt(c, id, &v), RYCERT_OK);
    return v == 0xDEADBEEF ? std::nullopt : std::optional<uint32_t>(v);
  }
};

Bytes oidContent(const ASN1_OBJECT *o) {
  const unsigned char *p = OBJ_get0_data(o);
  return Bytes(p, p + OBJ_length(o));
}

std::optional<Bytes> issuerText(X509_NAME *n, int nid) {
  const int i = X509_NAME_get_index_by_NID(n, nid, -1);
  if (i < 0) {
    return std::nullopt;
  }
  const ASN1_STRING *s = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(n, i));
  return Bytes(ASN1_STRING_get0_data(s), ASN1_STRING_get0_data(s) + ASN1_STRING_length(s));
}

// Compares what libcrypto reads with what our queries answer.
void compare(const std::string &where, const Bytes &der, X509_CRL *crl) {
  SCOPED_TRACE(where);
  Ctx ctx;
  ASSERT_EQ(RyCert_DecodeCrl(ctx.c, der.data(), uint32_t(der.size())), RYCERT_OK);
  const long version = X509_CRL_get_version(crl);
  EXPECT_EQ(ctx.getInt(CRL_VERSION), version == 0 ? std::nullopt : std::optional(uint32_t(version)));
  const X509_ALGOR *outer = nullptr;
  const ASN1_BIT_STRING *sig = nullptr;
  X509_CRL_get0_signature(crl, &sig, &outer);
  const ASN1_OBJECT *outerOid = nullptr;
  X509_ALGOR_get0(&outerOid, nullptr, nullptr, outer);
  EXPECT_EQ(ctx.get(CRL_OUTER_SIGNATUREALGORITHM), oidContent(outerOid));
  // libcrypto refuses a CRL whose two algorithms differ.
  EXPECT_EQ(ctx.get(CRL_INNER_SIGNATUREALGORITHM), oidContent(outerOid));
  EXPECT_EQ(ctx.get(CRL_CA_SIGNATURE),
            Bytes(ASN1_STRING_get0_data(sig), ASN1_STRING_get0_data(sig) + ASN1_STRING_length(sig)));
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
    EXPECT_EQ(ctx.get(id), issuerText(issuer, nid)) << id;
  }
  EXPECT_EQ(ctx.getInt(CRL_THISUPDATE), timeOf(X509_CRL_get0_lastUpdate(crl)));
  const ASN1_TIME *next = X509_CRL_get0_nextUpdate(crl);
  EXPECT_EQ(ctx.getInt(CRL_NEXTUPDATE), next ? std::optional(timeOf(next)) : std::nullopt);
  STACK_OF(X509_REVOKED) *revoked = X509_CRL_get_REVOKED(crl);
  for (int i = 0; i < sk_X509_REVOKED_num(revoked); ++i) {
    X509_REVOKED *r = sk_X509_REVOKED_value(revoked, i);
    EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), magnitudeOf(X509_REVOKED_get0_serialNumber(r)))
        << "entry " << i;
    EXPECT_EQ(ctx.getInt(CRL_CERT_REVOCATIONDATE), timeOf(X509_REVOKED_get0_revocationDate(r)));
    int crit = 0;
    auto *reason = static_cast<ASN1_ENUMERATED *>(
        X509_REVOKED_get_ext_d2i(r, NID_crl_reason, &crit, nullptr));
    EXPECT_EQ(ctx.get(CRLEX_CRLREASON),
              reason ? std::optional(Bytes{uint8_t(ASN1_ENUMERATED_get(reason))}) : std::nullopt);
    ASN1_ENUMERATED_free(reason);
    EXPECT_EQ(RyCert_GetCrlAttributeChar(ctx.c, CRL_CERT_NEXT, nullptr, nullptr), RYCERT_OK);
  }
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), Bytes{});
}

TEST(CrlCorpus, EveryCrlReadsAsLibcryptoReadsIt) {
  int compared = 0;
  for (const auto &file : corpusFiles("crl")) {
    const Bytes bytes = fileBytes(std::string(RYTEST_DATA) + "/" + file);
    for (const auto &[where, der] : fileObjects(file, bytes, {"X509 CRL"})) {
      const unsigned char *p = der.data();
      X509_CRL *crl = d2i_X509_CRL(nullptr, &p, long(der.size()));
      ERR_clear_error();
      if (crl == nullptr) {
        // What libcrypto refuses we need not read; we must not crash on it.
        Ctx ctx;
        ExactBlock b(der);
        RyCert_DecodeCrl(ctx.c, b.data(), uint32_t(b.size()));
        continue;
      }
      compare(where, der, crl);
      ++compared;
      X509_CRL_free(crl);
    }
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
  CrlCtx *c = nullptr;
  EXPECT_EQ(RyCert_CreateCrlEncodeCtx(&c), RYCERT_OK);
  const auto chr = [&](uint32_t id, const Bytes &v) {
    EXPECT_EQ(RyCert_SetCrlAttributeChar(c, id, v.data(), int32_t(v.size())), RYCERT_OK) << id;
  };
  RyCert_SetCrlAttributeInt(c, CRL_VERSION, 1);
  chr(CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa);
  chr(CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
  chr(CRL_ISSUER_COUNTRYNAME, str("DE"));
  chr(CRL_ISSUER_COMMONNAME, str("Peer Test CA"));
  const uint32_t now = uint32_t(time(nullptr));
  RyCert_SetCrlAttributeInt(c, CRL_THISUPDATE, now - 3600);
  RyCert_SetCrlAttributeInt(c, CRL_NEXTUPDATE, now + 86400 * 30);
  chr(CRL_CERT_SERIALNUMBER, hex("01"));
  RyCert_SetCrlAttributeInt(c, CRL_CERT_REVOCATIONDATE, now - 7200);
  chr(CRLEX_CRLREASON, hex("01"));
  chr(CRL_CERT_SERIALNUMBER, hex("00ABCDEF0123456789"));
  RyCert_SetCrlAttributeInt(c, CRL_CERT_REVOCATIONDATE, now - 7200);
  chr(CRL_CERT_SERIALNUMBER, hex("7F"));
  RyCert_SetCrlAttributeInt(c, CRL_CERT_REVOCATIONDATE, 2524608000u);  // 2050
  chr(CRLEX_CRLREASON, hex("05"));
  RyCert_SetCrlSignFunc(c, signSha256, nullptr, 0);
  Built b;
  uint32_t len = 0;
  EXPECT_EQ(RyCert_EncodeCrl(c, nullptr, &len), RYCERT_OK);
  b.der.resize(len);
  EXPECT_EQ(RyCert_EncodeCrl(c, b.der.data(), &len), RYCERT_OK);
  RyCert_DestroyCrlEncodeCtx(c);
  X509 *ca = makeCaCert("DE", "Peer Test CA");
  b.caPem = pemFile("crl_ca.pem", ca);
  X509_free(ca);
  return b;
}

TEST(CrlPeers, OpensslReadsAndVerifiesWhatWeBuild) {
  const Built b = buildCrl();
  const std::string crl = writeTemp("ours.crl", b.der);
  int status = 0;
  const std::string text =
      runCommand("openssl crl -inform DER -in " + crl + " -noout -text 2>&1", status);
  EXPECT_EQ(status, 0) << text;
  EXPECT_NE(text.find("ABCDEF0123456789"), std::string::npos) << text;
  EXPECT_NE(text.find("Key Compromise"), std::string::npos) << text;
  EXPECT_NE(text.find("Cessation Of Operation"), std::string::npos) << text;
  const std::string verify = runCommand(
      "openssl crl -inform DER -in " + crl + " -noout -verify -CAfile " + b.caPem + " 2>&1",
      status);
  EXPECT_EQ(status, 0) << verify;
  EXPECT_NE(verify.find("verify OK"), std::string::npos) << verify;
  // And libcrypto's own comparison, entry by entry.
  const unsigned char *p = b.der.data();
  X509_CRL *x = d2i_X509_CRL(nullptr, &p, long(b.der.size()));
  ASSERT_NE(x, nullptr);
  compare("built", b.der, x);
  EXPECT_EQ(X509_CRL_verify(x, testKey()), 1);
  X509_CRL_free(x);
}

TEST(CrlPeers, PythonCryptographyLoadsEntriesReasonsAndSignature) {
  const std::string python = cryptographyPython();
  if (python.empty()) {
    GTEST_SKIP() << "no python3 with the cryptography package";
  }
  const Built b = buildCrl();
  const std::string crl = writeTemp("ours_py.crl", b.der);
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
  const std::string scriptPath = writeTemp("crl_check.py", str(script));
  int status = 0;
  const std::string out =
      runCommand(python + " " + scriptPath + " " + crl + " " + b.caPem + " 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out,
            "valid True\n0x1 key_compromise\n0xabcdef0123456789 -\n0x7f cessation_of_operation\n");
}

}  // namespace
