// What the CRL and request tests share: a libcrypto RSA key behind a
// signing callback, an issuing CA certificate made with libcrypto, the
// objects of a PEM or DER file, the two-call queries and names as libcrypto
// reads them.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>
#include <vector>

#include "x509_peer.h"

namespace rytest {

// One RSA-2048 key per test binary.
inline EVP_PKEY *testKey() {
  static EVP_PKEY *key = EVP_RSA_gen(2048);
  return key;
}

// Callback counters, for the tests of the signing protocol.
inline int gSignCalls = 0;

// RyCertSignFunc: sha256WithRSAEncryption of the TBS with the test key.
inline uint32_t signSha256(const uint8_t *data, uint32_t len, uint8_t *sig, uint32_t *sigLen,
                           const uint8_t *) {
  ++gSignCalls;
  return signSha256With(testKey(), data, len, sig, sigLen);
}

// sha256WithRSAEncryption and rsaEncryption, content octets.
inline const Bytes kSha256Rsa = hex("2A864886F70D01010B");
inline const Bytes kRsaEncryption = hex("2A864886F70D010101");

// The test key's RSAPublicKey DER (PKCS#1).
inline Bytes testPublicKey() { return i2dBytes(i2d_PublicKey, testKey()); }

// A char attribute in two calls (RyCert_GetCrlAttributeChar,
// RyCert_GetCsrAttributeChar): the length, nullopt when the query leaves it
// untouched; then the bytes, which must not go past the length given.
template <class C>
std::optional<Bytes> getTwoCalls(uint32_t (*get)(C *, uint32_t, uint8_t *, uint32_t *), C *c,
                                 uint32_t id) {
  uint32_t len = 0xDEAD;
  EXPECT_EQ(get(c, id, nullptr, &len), RYCERT_OK) << id;
  if (len == 0xDEAD) {
    return std::nullopt;
  }
  Bytes out(len + 1, 0xEE);
  EXPECT_EQ(get(c, id, out.data(), &len), RYCERT_OK) << id;
  EXPECT_EQ(out.at(len), 0xEE) << "copied past the reported length, id " << id;
  out.resize(len);
  return out;
}

// The text of a name's first `nid` attribute, nullopt when it has none.
inline std::optional<Bytes> firstText(const X509_NAME *n, int nid) {
  const int i = X509_NAME_get_index_by_NID(n, nid, -1);
  return i < 0 ? std::nullopt
               : std::optional(strBytes(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(n, i))));
}

// A self-signed CA certificate of the test key, subject C=<c>, CN=<cn>
// (PrintableString, as the library writes these values).
inline X509 *makeCaCert(const char *c, const char *cn) {
  X509 *x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), -86400L * 365 * 30);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365 * 30);
  X509_NAME *name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "C", V_ASN1_PRINTABLESTRING,
                             reinterpret_cast<const unsigned char *>(c), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", V_ASN1_PRINTABLESTRING,
                             reinterpret_cast<const unsigned char *>(cn), -1, -1, 0);
  X509_set_issuer_name(x, name);
  X509_set_pubkey(x, testKey());
  X509V3_CTX v3;
  X509V3_set_ctx(&v3, x, x, nullptr, nullptr, 0);
  for (auto [n, v] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                      std::pair{NID_key_usage, "critical,keyCertSign,cRLSign"}}) {
    X509_EXTENSION *e = X509V3_EXT_conf_nid(nullptr, &v3, n, v);
    X509_add_ext(x, e, -1);
    X509_EXTENSION_free(e);
  }
  X509_sign(x, testKey(), EVP_sha256());
  return x;
}

inline std::string pemFile(const std::string &name, X509 *x) {
  BIO *b = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(b, x);
  char *p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  const std::string path = writeTemp(name, Bytes(p, p + n));
  BIO_free(b);
  return path;
}

// The DER of each object of a file: the bodies of its PEM blocks whose
// label is one of `labels` (parsable or not), else the whole file when it
// starts like DER.
inline std::vector<std::pair<std::string, Bytes>> fileObjects(
    const std::string &where, const Bytes &file, std::initializer_list<std::string> labels) {
  std::vector<std::pair<std::string, Bytes>> out;
  BIO *bio = BIO_new_mem_buf(file.data(), int(file.size()));
  char *name = nullptr;
  char *header = nullptr;
  unsigned char *data = nullptr;
  long len = 0;
  for (int n = 0; PEM_read_bio(bio, &name, &header, &data, &len) == 1; ++n) {
    for (const auto &l : labels) {
      if (l == name) {
        out.emplace_back(where + " #" + std::to_string(n), Bytes(data, data + len));
      }
    }
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
  }
  BIO_free(bio);
  ERR_clear_error();
  if (out.empty() && !file.empty() && file[0] == 0x30) {
    out.emplace_back(where, file);
  }
  return out;
}

// The objects of the corpus files of one kind (column 7 of MANIFEST.tsv),
// one file per manifest line.
inline std::vector<std::pair<std::string, Bytes>> corpusObjects(
    const std::string &kind, std::initializer_list<std::string> labels) {
  std::vector<std::pair<std::string, Bytes>> out;
  std::ifstream m(std::string(RYTEST_DATA) + "/MANIFEST.tsv");
  for (std::string line; std::getline(m, line);) {
    std::stringstream ss(line);
    std::string col[7];
    for (auto &c : col) {
      std::getline(ss, c, '\t');
    }
    if (col[6] == kind) {
      for (auto &o : fileObjects(col[0], readFile(std::string(RYTEST_DATA) + "/" + col[0]), labels)) {
        out.push_back(std::move(o));
      }
    }
  }
  return out;
}

}  // namespace rytest
