// Certificate, CRL and request verification against libcrypto: objects
// it issues verify, the corpus's self-signed RSA roots verify against
// themselves exactly when libcrypto says so, and each check (issuer name,
// validity, algorithm, signature) refuses with its own status.
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "token_util.h"
#include "x509_peer.h"

using namespace rytest;

namespace {

const testing::Environment *const kEnv = testing::AddGlobalTestEnvironment(new TokenEnvironment);

constexpr time_t kStart = 1700000000;  // 2023-11-14
constexpr time_t kYear = 365 * 86400;

X509_NAME *name(const char *cn) {
  X509_NAME *n = X509_NAME_new();
  X509_NAME_add_entry_by_txt(n, "C", MBSTRING_ASC, reinterpret_cast<const uint8_t *>("DE"), -1, -1,
                             0);
  X509_NAME_add_entry_by_txt(n, "O", MBSTRING_ASC, reinterpret_cast<const uint8_t *>("Rycert Test"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, reinterpret_cast<const uint8_t *>(cn), -1, -1,
                             0);
  return n;
}

struct CertSpec {
  const char *subject;
  const char *issuer;
  time_t from, to;
  EVP_PKEY *key;     // subject's
  EVP_PKEY *signer;  // issuer's
  const EVP_MD *md;
};

Bytes makeCert(const CertSpec &s) {
  X509 *x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
  X509_NAME *sub = name(s.subject);
  X509_NAME *iss = name(s.issuer);
  X509_set_subject_name(x, sub);
  X509_set_issuer_name(x, iss);
  X509_NAME_free(sub);
  X509_NAME_free(iss);
  ASN1_TIME_set(X509_getm_notBefore(x), s.from);
  ASN1_TIME_set(X509_getm_notAfter(x), s.to);
  X509_set_pubkey(x, s.key);
  EXPECT_GT(X509_sign(x, s.signer, s.md), 0);
  const Bytes der = i2dBytes(i2d_X509, x);
  X509_free(x);
  return der;
}

struct Pki {
  EVP_PKEY *caKey;
  EVP_PKEY *leafKey;
  Bytes ca;
  Bytes leaf;
};
const Pki &pki() {
  static Pki p = [] {
    Pki q;
    q.caKey = rsaKey(2048).pkey;
    q.leafKey = rsaKey(1024).pkey;
    q.ca = makeCert(
        {"Test CA", "Test CA", kStart, kStart + 10 * kYear, q.caKey, q.caKey, EVP_sha256()});
    q.leaf =
        makeCert({"Leaf", "Test CA", kStart + 1, kStart + kYear, q.leafKey, q.caKey, EVP_sha256()});
    return q;
  }();
  return p;
}

uint32_t verifyCert(const Bytes &issuer, const Bytes &cert) {
  return Ry_VerifyCert(issuer.data(), uint32_t(issuer.size()), cert.data(), uint32_t(cert.size()));
}

// The Certificate (or CRL, request) with its outer signatureAlgorithm
// replaced: SEQUENCE { signed part, AlgorithmIdentifier, BIT STRING }.
Bytes withOuterOid(const Bytes &der, const Bytes &oid) {
  const unsigned char *p = der.data();
  long len = 0;
  int tag = 0;
  int cls = 0;
  ASN1_get_object(&p, &len, &tag, &cls, long(der.size()));
  std::vector<Bytes> parts;
  const unsigned char *end = p + len;
  while (p < end) {
    const unsigned char *start = p;
    long l = 0;
    ASN1_get_object(&p, &l, &tag, &cls, end - p);
    p += l;
    parts.emplace_back(start, p);
  }
  EXPECT_EQ(parts.size(), 3u);
  return tlv(0x30, cat({parts[0], tlv(0x30, cat({tlv(0x06, oid), hex("0500")})), parts[2]}));
}

// ------------------------------------------------------------ certificates

TEST(VerifyCert, EachCheckRefusesWithItsStatus) {
  const Pki &p = pki();
  const time_t caFrom = kStart;
  const time_t caTo = kStart + 10 * kYear;
  Bytes badSig = p.leaf;
  badSig[badSig.size() - 5] ^= 0x40;
  auto signedWith = [&](const EVP_MD *md) {
    return makeCert({"Leaf", "Test CA", kStart, kStart + kYear, p.leafKey, p.caKey, md});
  };
  const struct {
    const char *name;
    Bytes cert;
    uint32_t status;
    const char *line;  // the failure's log line
  } cases[] = {
      {"issued with MD5", signedWith(EVP_md5()), 0, nullptr},
      {"issued with SHA-1", signedWith(EVP_sha1()), 0, nullptr},
      {"issued with SHA-384", signedWith(EVP_sha384()), 0, nullptr},
      {"issued with SHA-512", signedWith(EVP_sha512()), 0, nullptr},
      {"the self-signed CA", p.ca, 0, nullptr},
      {"validity exactly the issuer's",
       makeCert({"Leaf", "Test CA", caFrom, caTo, p.leafKey, p.caKey, EVP_sha256()}), 0, nullptr},
      {"starts a second before the issuer",
       makeCert({"Leaf", "Test CA", caFrom - 1, caTo, p.leafKey, p.caKey, EVP_sha256()}),
       RYCERT_TimeOutRangeErr, "------>RYCERT_TimeOutRangeErr"},
      {"ends a second after the issuer",
       makeCert({"Leaf", "Test CA", caFrom, caTo + 1, p.leafKey, p.caKey, EVP_sha256()}),
       RYCERT_TimeOutRangeErr, "------>RYCERT_TimeOutRangeErr"},
      {"issuer name differs in letter case",
       makeCert({"Leaf", "Test ca", kStart + 1, kStart + 2, p.leafKey, p.caKey, EVP_sha256()}),
       RYCERT_DnNotEqualErr, "------>RYCERT_DnNotEqualErr"},
      {"md4WithRSAEncryption", withOuterOid(p.leaf, hex("2a864886f70d010103")),
       RYCERT_InvalidSignatureAlgErr, "------>RYCERT_InvalidSignatureAlgErr"},
      {"RSASSA-PSS", withOuterOid(p.leaf, hex("2a864886f70d01010a")), RYCERT_InvalidSignatureAlgErr,
       "------>RYCERT_InvalidSignatureAlgErr"},
      {"an OID that goes on after sha1WithRSAEncryption",
       withOuterOid(p.leaf, hex("2a864886f70d01010501")), RYCERT_InvalidSignatureAlgErr,
       "------>RYCERT_InvalidSignatureAlgErr"},
      {"outer algorithm says SHA-1, signed with SHA-256",
       withOuterOid(p.leaf, hex("2a864886f70d010105")), CKR_SIGNATURE_INVALID,
       "------>Ry_VerifyData"},
      {"signature changed", badSig, CKR_SIGNATURE_INVALID, "------>Ry_VerifyData"},
      {"signed by another key",
       makeCert({"Leaf", "Test CA", kStart + 1, kStart + 2, p.leafKey, p.leafKey, EVP_sha256()}),
       CKR_SIGNATURE_LEN_RANGE, "------>Ry_VerifyData"},
      {"not a certificate", hex("3003020101"), RYCERT_TagNotMatchErr, "------>RyCert_DecodeCert"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    const uint32_t st = verifyCert(p.ca, c.cert);
    if (c.status == RYCERT_TagNotMatchErr) {
      EXPECT_NE(st, 0u);  // whichever reader status the decoder gives
    } else {
      EXPECT_EQ(st, c.status);
    }
    if (c.line != nullptr) {
      EXPECT_TRUE(log.contains(c.line));
    }
  }
  // Required inputs: 109 without a log line.
  LogCapture log;
  EXPECT_EQ(Ry_VerifyCert(nullptr, 0, p.leaf.data(), uint32_t(p.leaf.size())),
            RYCERT_CertNotEndErr);
  EXPECT_EQ(Ry_VerifyCert(p.ca.data(), uint32_t(p.ca.size()), nullptr, 0), RYCERT_CertNotEndErr);
  EXPECT_EQ(Ry_VerifyCsr(nullptr, 0), RYCERT_CertNotEndErr);
  EXPECT_TRUE(log.lines().empty());
}

// Every self-signed RSA root of the corpus and of the system CA bundle
// that fits the key records verifies against itself exactly when
// libcrypto's signature check agrees.
TEST(VerifyCert, SelfSignedRootsAgreeWithLibcrypto) {
  for (const bool system : {false, true}) {
    SCOPED_TRACE(system ? "system CA bundle" : "corpus");
    int checked = 0;
    const auto visit = [&](const std::string &where, X509 *x) {
      EVP_PKEY *key = X509_get0_pubkey(x);
      const int nid = X509_get_signature_nid(x);
      const bool known = nid == NID_md5WithRSAEncryption || nid == NID_sha1WithRSAEncryption ||
                         nid == NID_sha256WithRSAEncryption || nid == NID_sha384WithRSAEncryption ||
                         nid == NID_sha512WithRSAEncryption;
      if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || !known ||
          EVP_PKEY_get_bits(key) > 2048 ||
          X509_NAME_cmp(X509_get_subject_name(x), X509_get_issuer_name(x)) != 0) {
        return;
      }
      SCOPED_TRACE(where);
      const Bytes der = i2dBytes(i2d_X509, x);
      const bool peer = X509_verify(x, key) == 1;
      const uint32_t st = verifyCert(der, der);
      if (st == 0 || st == CKR_SIGNATURE_INVALID) {
        EXPECT_EQ(st == 0, peer);
        ++checked;
      }
      ERR_clear_error();
    };
    if (system) {
      ASSERT_GT(forEachSystemCaCert(visit), 0)
          << "no /etc/ssl/certs/*.pem: install ca-certificates";
    } else {
      forEachCorpusCert(visit);
    }
    EXPECT_GT(checked, system ? 0 : 3);
  }
}

// An issuer key longer than the 512 bytes kept for it (RSA-4096:
// RSAPublicKey DER of 526 bytes) is refused before anything is copied.
// Only the size matters here, so the 4096-bit "key" is a bare public one
// (an odd modulus, not a product of primes) certified by the test CA.
TEST(VerifyCert, IssuerKeyOverItsArea) {
  const Pki &p = pki();
  Bytes n(512, 0x9B);
  n[0] = 0xC1;
  BIGNUM *bn = BN_bin2bn(n.data(), int(n.size()), nullptr);
  BIGNUM *e = BN_new();
  BN_set_word(e, 65537);
  OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
  OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
  OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY *big = nullptr;
  ASSERT_EQ(EVP_PKEY_fromdata_init(ctx), 1);
  ASSERT_EQ(EVP_PKEY_fromdata(ctx, &big, EVP_PKEY_PUBLIC_KEY, params), 1);
  const Bytes ca =
      makeCert({"Big CA", "Test CA", kStart, kStart + kYear, big, p.caKey, EVP_sha256()});
  const Bytes leaf =
      makeCert({"Leaf", "Big CA", kStart, kStart + kYear, p.leafKey, p.caKey, EVP_sha256()});
  LogCapture log;
  EXPECT_EQ(verifyCert(ca, leaf), RYCERT_InvalidLengthErr);
  EXPECT_TRUE(log.contains("------>value longer than its area"));
  EVP_PKEY_free(big);
  EVP_PKEY_CTX_free(ctx);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(bld);
  BN_free(e);
  BN_free(bn);
}

TEST(VerifySignatureByCert, DataSignedWithTheCertifiedKey) {
  const Pki &p = pki();
  const Bytes data = str("signed by the leaf");
  const Bytes sig = peerSign(p.leafKey, EVP_sha256(), data);
  EXPECT_EQ(Ry_VerifySignatureByCert(p.leaf.data(), uint32_t(p.leaf.size()), data.data(),
                                     uint32_t(data.size()), sig.data(), uint32_t(sig.size()),
                                     SIGALG_SHA256_RSA),
            0u);
  EXPECT_EQ(Ry_VerifySignatureByCert(p.ca.data(), uint32_t(p.ca.size()), data.data(),
                                     uint32_t(data.size()), sig.data(), uint32_t(sig.size()),
                                     SIGALG_SHA256_RSA),
            CKR_SIGNATURE_LEN_RANGE)
      << "a 1024-bit signature under the 2048-bit CA key";
}

// ------------------------------------------------------------ CRLs, requests

Bytes makeCrl(const char *issuer, EVP_PKEY *signer) {
  X509_CRL *crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_NAME *n = name(issuer);
  X509_CRL_set_issuer_name(crl, n);
  X509_NAME_free(n);
  ASN1_TIME *t = ASN1_TIME_set(nullptr, kStart + 100);
  X509_CRL_set1_lastUpdate(crl, t);
  ASN1_TIME_set(t, kStart + 100 + 86400);
  X509_CRL_set1_nextUpdate(crl, t);
  X509_REVOKED *r = X509_REVOKED_new();
  ASN1_INTEGER *serial = ASN1_INTEGER_new();
  ASN1_INTEGER_set(serial, 12345);
  X509_REVOKED_set_serialNumber(r, serial);
  X509_REVOKED_set_revocationDate(r, t);
  X509_CRL_add0_revoked(crl, r);
  ASN1_INTEGER_free(serial);
  ASN1_TIME_free(t);
  EXPECT_GT(X509_CRL_sign(crl, signer, EVP_sha256()), 0);
  const Bytes der = i2dBytes(i2d_X509_CRL, crl);
  X509_CRL_free(crl);
  return der;
}

TEST(VerifyCrl, IssuerNameAndSignature) {
  const Pki &p = pki();
  const Bytes crl = makeCrl("Test CA", p.caKey);
  Bytes badSig = crl;
  badSig[badSig.size() - 3] ^= 0x01;
  const struct {
    const char *name;
    Bytes crl;
    uint32_t status;
  } cases[] = {
      {"issued by the CA", crl, 0},
      {"signature changed", badSig, CKR_SIGNATURE_INVALID},
      {"another issuer name", makeCrl("Other CA", p.caKey), RYCERT_DnNotEqualErr},
      {"signed by another key", makeCrl("Test CA", p.leafKey), CKR_SIGNATURE_LEN_RANGE},
      {"md4WithRSAEncryption", withOuterOid(crl, hex("2a864886f70d010103")),
       RYCERT_InvalidSignatureAlgErr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(
        Ry_VerifyCrl(p.ca.data(), uint32_t(p.ca.size()), c.crl.data(), uint32_t(c.crl.size())),
        c.status);
  }
}

Bytes makeCsr(EVP_PKEY *key, EVP_PKEY *signer, const EVP_MD *md) {
  X509_REQ *req = X509_REQ_new();
  X509_REQ_set_version(req, 0);
  X509_NAME *n = name("Requester");
  X509_REQ_set_subject_name(req, n);
  X509_NAME_free(n);
  X509_REQ_set_pubkey(req, key);
  EXPECT_GT(X509_REQ_sign(req, signer, md), 0);
  const Bytes der = i2dBytes(i2d_X509_REQ, req);
  X509_REQ_free(req);
  return der;
}

TEST(VerifyCsr, OwnKeyOnly) {
  const Pki &p = pki();
  const Bytes csr = makeCsr(p.leafKey, p.leafKey, EVP_sha1());
  Bytes badSig = csr;
  badSig[badSig.size() - 3] ^= 0x01;
  const struct {
    const char *name;
    Bytes csr;
    uint32_t status;
  } cases[] = {
      {"self-signed, SHA-1", csr, 0},
      {"self-signed, SHA-512", makeCsr(p.caKey, p.caKey, EVP_sha512()), 0},
      {"signature changed", badSig, CKR_SIGNATURE_INVALID},
      {"signed by a key other than its own", makeCsr(p.leafKey, p.caKey, EVP_sha256()),
       CKR_SIGNATURE_LEN_RANGE},
      {"unknown algorithm", withOuterOid(csr, hex("2a864886f70d010103")),
       RYCERT_InvalidSignatureAlgErr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Ry_VerifyCsr(c.csr.data(), uint32_t(c.csr.size())), c.status);
  }
}

// ------------------------------------------------------------ sweeps

// Every allocation made during the checks fails in turn, once and for
// good. Whatever fails, nothing stays live and no session stays open. The
// decoders answer a DN text they cannot render as empty (their benign
// case), so besides RYCERT_MemoryErr a fault can surface as
// RYCERT_DnNotEqualErr, or pass unnoticed when both texts come back
// empty; the signature is checked either way.
TEST(AllocationFailure, VerificationsReleaseEverything) {
  const Pki &p = pki();
  const Bytes crl = makeCrl("Test CA", p.caKey);
  const Bytes csr = makeCsr(p.leafKey, p.leafKey, EVP_sha256());
  auto scenario = [&] {
    uint32_t st = verifyCert(p.ca, p.leaf);
    if (st == 0) {
      st = Ry_VerifyCrl(p.ca.data(), uint32_t(p.ca.size()), crl.data(), uint32_t(crl.size()));
    }
    if (st == 0) {
      st = Ry_VerifyCsr(csr.data(), uint32_t(csr.size()));
    }
    return st;
  };
  MOSK_TestTrackAllocations(1);
  ASSERT_EQ(scenario(), 0u);
  const int64_t base = liveBlocks();
  int faults = 0;
  for (int persistent = 0; persistent < 2; ++persistent) {
    for (uint64_t n = 0; n < 10000; ++n) {
      MOSK_TestFailAllocation(n, persistent);
      const uint32_t st = scenario();
      const bool fired = MOSK_TestFaultFired() != 0;
      MOSK_TestClearFault();
      SCOPED_TRACE(testing::Message() << "fault at allocation " << n
                                      << (persistent ? " (persistent)" : " (transient)"));
      EXPECT_EQ(liveBlocks(), base);
      if (!fired) {
        EXPECT_EQ(st, 0u);
        break;
      }
      ++faults;
      EXPECT_TRUE(st == 0 || st == RYCERT_MemoryErr || st == RYCERT_DnNotEqualErr) << st;
    }
  }
  EXPECT_GT(faults, 6) << "the decoders allocate";
  expectNoSessionLeft();
}

}  // namespace
