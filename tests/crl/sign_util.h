// What the CRL and request tests share: a libcrypto RSA key behind a
// signing callback, an issuing CA certificate made with libcrypto, the
// objects of a PEM or DER file, and the peers' command lines.
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
  EVP_PKEY *key = testKey();
  if (sig == nullptr) {
    *sigLen = uint32_t(EVP_PKEY_get_size(key));
    return 0;
  }
  EVP_MD_CTX *c = EVP_MD_CTX_new();
  size_t n = *sigLen;
  const bool ok = EVP_DigestSignInit(c, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                  EVP_DigestSign(c, sig, &n, data, len) == 1;
  EVP_MD_CTX_free(c);
  if (!ok) {
    return 999;
  }
  *sigLen = uint32_t(n);
  return 0;
}

// sha256WithRSAEncryption and rsaEncryption, content octets.
inline const Bytes kSha256Rsa = hex("2A864886F70D01010B");
inline const Bytes kRsaEncryption = hex("2A864886F70D010101");

// The test key's RSAPublicKey DER (PKCS#1).
inline Bytes testPublicKey() {
  unsigned char *p = nullptr;
  const int n = i2d_PublicKey(testKey(), &p);
  Bytes out(p, p + (n > 0 ? n : 0));
  OPENSSL_free(p);
  return out;
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

// Corpus files of one kind (column 7 of MANIFEST.tsv), one per manifest line.
inline std::vector<std::string> corpusFiles(const std::string &kind) {
  std::vector<std::string> out;
  std::ifstream m(std::string(RYTEST_DATA) + "/MANIFEST.tsv");
  for (std::string line; std::getline(m, line);) {
    std::stringstream ss(line);
    std::string col[7];
    for (auto &c : col) {
      std::getline(ss, c, '\t');
    }
    if (col[6] == kind) {
      out.push_back(col[0]);
    }
  }
  return out;
}

inline Bytes fileBytes(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(f), {}};
}

// A python3 with the cryptography package, or "".
inline std::string cryptographyPython() {
  int status = 1;
  for (const char *candidate : {"python3", "/usr/bin/python3"}) {
    runCommand(std::string(candidate) + " -c 'import cryptography' 2>&1", status);
    if (status == 0) {
      return candidate;
    }
  }
  return "";
}

// The first element inside the outer one (a signed object's TBS), by hand.
inline Bytes firstChild(const Bytes &der) {
  auto headerLen = [&](size_t at, size_t &len) {
    const uint8_t l = der.at(at + 1);
    if (l < 0x80) {
      len = l;
      return size_t(2);
    }
    len = 0;
    for (size_t i = 0; i < (l & 0x7F); ++i) {
      len = (len << 8) | der.at(at + 2 + i);
    }
    return size_t(2 + (l & 0x7F));
  };
  size_t len = 0;
  const size_t at = headerLen(0, len);
  const size_t h = headerLen(at, len);
  return Bytes(der.begin() + long(at), der.begin() + long(at + h + len));
}

// ASN1_TIME as integer time.
inline uint32_t timeOf(const ASN1_TIME *t) {
  struct tm tm {};
  ASN1_TIME_to_tm(t, &tm);
  // The library clamps times beyond the 32-bit range to its last second.
  const int64_t s = int64_t(timegm(&tm));
  return s < 0 ? 0u : s > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(s);
}

// An ASN1_INTEGER's magnitude (big-endian, no pad octet).
inline Bytes magnitudeOf(const ASN1_INTEGER *i) {
  const unsigned char *p = ASN1_STRING_get0_data(i);
  return Bytes(p, p + ASN1_STRING_length(i));
}

}  // namespace rytest
