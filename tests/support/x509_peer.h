// Helpers of the tests that compare us with peers: DER by hand, corpus
// certificates, files and commands. The including test links OpenSSL::Crypto.
#pragma once

#include <dirent.h>
#include <algorithm>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace rytest {

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto &p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

// One element, its length in the fewest octets.
inline Bytes tlv(uint8_t id, const Bytes &content) {
  Bytes len;
  for (size_t v = content.size(); content.size() >= 0x80 && v != 0; v >>= 8) {
    len.insert(len.begin(), uint8_t(v));
  }
  return cat({{id, uint8_t(len.empty() ? content.size() : 0x80 | len.size())}, len, content});
}

// The DER a libcrypto i2d_* function writes for `obj`.
template <class F, class T>
Bytes i2dBytes(F i2d, T *obj) {
  unsigned char *p = nullptr;
  const int n = i2d(obj, &p);
  Bytes out(p, p + (n > 0 ? n : 0));
  OPENSSL_free(p);
  return out;
}

// Writes `b` to a scratch file of this test binary (named after its path); returns the path.
inline std::string writeTemp(const std::string &name, const Bytes &b) {
  const std::string path =
      testing::TempDir() + std::to_string(std::hash<std::string>{}(program_invocation_name)) + name;
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
  EXPECT_TRUE(f.good()) << path;
  return path;
}

// Runs a shell command; its standard output, and its exit status in `status`.
inline std::string runCommand(const std::string &cmd, int &status) {
  std::string out;
  char buf[512];
  FILE *p = popen(cmd.c_str(), "r");
  for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;) {
    out.append(buf, n);
  }
  status = p == nullptr ? -1 : pclose(p);
  return out;
}

// Calls `visit` with every certificate of the system CA bundle
// (/etc/ssl/certs/*.pem, Debian's ca-certificates); returns how many.
inline int forEachSystemCaCert(const std::function<void(const std::string &where, X509 *)> &visit) {
  const std::string dir = "/etc/ssl/certs";
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    for (dirent *e; (e = readdir(d)) != nullptr;) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pem") == 0) {
        names.push_back(n);
      }
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  int count = 0;
  for (const std::string &n : names) {
    BIO *bio = BIO_new_file((dir + "/" + n).c_str(), "r");
    for (X509 *x; bio != nullptr && (x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) != nullptr;) {
      visit(n, x);
      X509_free(x);
      ++count;
    }
    BIO_free(bio);
    ERR_clear_error();
  }
  return count;
}

// Calls `visit` with every certificate libcrypto reads from the corpus files of
// kind x509: each PEM object of a file, else the file as one DER certificate.
inline void forEachCorpusCert(const std::function<void(const std::string &where, X509 *)> &visit) {
  const std::string corpus = RYTEST_DATA;
  std::ifstream m(corpus + "/MANIFEST.tsv");
  EXPECT_TRUE(m.good()) << "corpus manifest";
  for (std::string line; std::getline(m, line);) {
    std::stringstream ss(line);
    std::string col[7];
    for (auto &c : col) {
      std::getline(ss, c, '\t');
    }
    if (col[6] != "x509") {
      continue;  // also skips the line of column names
    }
    std::ifstream f(corpus + "/" + col[0], std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(f), {}};
    BIO *bio = BIO_new_mem_buf(file.data(), int(file.size()));
    int n = 0;
    for (X509 *x; (x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) != nullptr; ++n) {
      visit(col[0] + " #" + std::to_string(n), x);
      X509_free(x);
    }
    BIO_free(bio);
    const unsigned char *p = file.data();
    if (X509 *x = n == 0 ? d2i_X509(nullptr, &p, long(file.size())) : nullptr) {
      visit(col[0], x);
      X509_free(x);
    }
    ERR_clear_error();
  }
}

// The first python3 that has the cryptography package: the system's (where
// the setup script installs Debian's python3-cryptography), else the one on
// PATH; "" when none.
inline std::string pythonWithCryptography() {
  int status = 1;
  for (const char *candidate : {"/usr/bin/python3", "python3"}) {
    runCommand(std::string(candidate) + " -c 'import cryptography' 2>&1", status);
    if (status == 0) {
      return candidate;
    }
  }
  return "";
}

// One certificate as a file holds it: where it came from and its DER.
struct CertBytes {
  std::string where;
  Bytes der;
};

// The DER of every certificate object of a file's bytes: the body of each
// PEM CERTIFICATE block (whether or not libcrypto can parse it), else the
// whole file as one DER certificate.
inline std::vector<CertBytes> certObjects(const std::string &where, const Bytes &file) {
  std::vector<CertBytes> out;
  BIO *bio = BIO_new_mem_buf(file.data(), int(file.size()));
  char *name = nullptr, *header = nullptr;
  unsigned char *data = nullptr;
  long len = 0;
  for (int n = 0; PEM_read_bio(bio, &name, &header, &data, &len) == 1; ++n) {
    const std::string kind = name;
    if (kind == "CERTIFICATE" || kind == "X509 CERTIFICATE" || kind == "TRUSTED CERTIFICATE") {
      out.push_back({where + " #" + std::to_string(n), Bytes(data, data + len)});
    }
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
  }
  BIO_free(bio);
  ERR_clear_error();
  if (out.empty() && !file.empty() && file[0] == 0x30) {
    out.push_back({where, file});
  }
  return out;
}

inline Bytes readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(f), {}};
}

// Every certificate object of the corpus files of kind x509, one manifest
// line at a time (a file listed twice is read twice).
inline std::vector<CertBytes> corpusCertBytes() {
  std::vector<CertBytes> out;
  const std::string corpus = RYTEST_DATA;
  std::ifstream m(corpus + "/MANIFEST.tsv");
  EXPECT_TRUE(m.good()) << "corpus manifest";
  for (std::string line; std::getline(m, line);) {
    std::stringstream ss(line);
    std::string col[7];
    for (auto &c : col) {
      std::getline(ss, c, '\t');
    }
    if (col[6] == "x509") {
      for (auto &c : certObjects(col[0], readFile(corpus + "/" + col[0]))) {
        out.push_back(std::move(c));
      }
    }
  }
  return out;
}

// ------------------------------------------ DER by hand and libcrypto's views
// (certificate, CRL and request tests)

// One DER element: identifier, content and the whole element.
struct DerElement {
  uint8_t id = 0;
  Bytes content;
  Bytes whole;
};

// Takes the next element off [p, end) (definite lengths of at most four
// octets); nullopt when the bytes do not hold one.
inline std::optional<DerElement> takeElement(const uint8_t *&p, const uint8_t *end) {
  if (end - p < 2) {
    return std::nullopt;
  }
  size_t len = p[1], head = 2;
  if (len & 0x80) {
    const size_t k = len & 0x7F;
    if (k == 0 || k > 4 || size_t(end - p) < 2 + k) {
      return std::nullopt;
    }
    len = 0;
    for (size_t i = 0; i < k; ++i) {
      len = len << 8 | p[2 + i];
    }
    head += k;
  }
  if (len > size_t(end - p) - head) {
    return std::nullopt;
  }
  DerElement e{p[0], Bytes(p + head, p + head + len), Bytes(p, p + head + len)};
  p += head + len;
  return e;
}

inline std::optional<DerElement> elementOf(const Bytes &b) {
  const uint8_t *p = b.data();
  return takeElement(p, p + b.size());
}

// The elements of a constructed element's content, up to the first that
// does not parse.
inline std::vector<DerElement> childrenOf(const Bytes &content) {
  std::vector<DerElement> out;
  const uint8_t *p = content.data(), *end = p + content.size();
  for (std::optional<DerElement> e; p < end && (e = takeElement(p, end));) {
    out.push_back(std::move(*e));
  }
  return out;
}

// The first element inside the outer one (a signed object's TBS); empty
// when there is none.
inline Bytes firstChild(const Bytes &der) {
  const auto outer = elementOf(der);
  const auto kids = outer ? childrenOf(outer->content) : std::vector<DerElement>{};
  return kids.empty() ? Bytes{} : kids[0].whole;
}

inline Bytes objContent(const ASN1_OBJECT *o) {
  const unsigned char *p = OBJ_get0_data(o);
  return Bytes(p, p + OBJ_length(o));
}

inline Bytes strBytes(const ASN1_STRING *s) {
  const unsigned char *p = ASN1_STRING_get0_data(s);
  return Bytes(p, p + ASN1_STRING_length(s));
}

// The content octets of an INTEGER as libcrypto writes it, without an
// octet that only marks the sign.
inline Bytes integerContent(const ASN1_INTEGER *i) {
  const auto e = elementOf(i2dBytes(i2d_ASN1_INTEGER, const_cast<ASN1_INTEGER *>(i)));
  Bytes c = e ? e->content : Bytes{};
  if (c.size() > 1 && c[0] == 0x00 && (c[1] & 0x80)) {
    c.erase(c.begin());
  }
  return c;
}

// Seconds since 1970 of an ASN1_TIME, clamped to what an integer time
// holds (before 1970 reads 0, after 2106 0xFFFFFFFF); nullopt when
// libcrypto cannot read it.
inline std::optional<uint32_t> integerTime(const ASN1_TIME *t) {
  tm when{};
  if (ASN1_TIME_to_tm(t, &when) != 1) {
    return std::nullopt;
  }
  int y = when.tm_year + 1900;
  const int m = when.tm_mon + 1;
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + when.tm_mday - 1;
  const int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  const int64_t s = days * 86400 + when.tm_hour * 3600 + when.tm_min * 60 + when.tm_sec;
  return uint32_t(std::clamp<int64_t>(s, 0, 0xFFFFFFFF));
}

// The body of a signing callback (RyCertSignFunc): the size of `key`'s
// signature when `sig` is NULL, else sha256WithRSAEncryption of the data.
inline uint32_t signSha256With(EVP_PKEY *key, const uint8_t *data, uint32_t len, uint8_t *sig,
                               uint32_t *sigLen) {
  if (sig == nullptr) {
    *sigLen = uint32_t(EVP_PKEY_get_size(key));
    return 0;
  }
  EVP_MD_CTX *md = EVP_MD_CTX_new();
  size_t n = *sigLen;
  const bool ok = EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                  EVP_DigestSign(md, sig, &n, data, len) == 1;
  EVP_MD_CTX_free(md);
  *sigLen = uint32_t(n);
  return ok ? 0 : 999;
}

// The elements one after another, in a SEQUENCE.
inline Bytes seqOf(const std::vector<Bytes> &elements) {
  Bytes all;
  for (const Bytes &e : elements) {
    all.insert(all.end(), e.begin(), e.end());
  }
  return tlv(0x30, all);
}

// The inputs of a field-by-field ladder at field i of `fields`: the field
// left out, its identifier replaced by 04 (OCTET STRING), the input ending
// inside it (the fields up to it, its last octet dropped) and the list
// stopping before it.
struct LadderStep {
  std::vector<Bytes> missing, mistagged, truncated, stopped;
};
inline LadderStep ladderStep(const std::vector<Bytes> &fields, size_t i) {
  LadderStep s{fields, fields, {fields.begin(), fields.begin() + long(i) + 1},
               {fields.begin(), fields.begin() + long(i)}};
  s.missing.erase(s.missing.begin() + long(i));
  s.mistagged[i][0] = 0x04;
  s.truncated.back().pop_back();
  return s;
}

// One row of a field-by-field ladder: the statuses of ladderStep's inputs.
struct LadderRow {
  const char *field;
  uint32_t missing, mistagged, truncated, stopped;
};

// Walks `rows` down `fields`, one row a field; `decode` gives the status of
// a decoder fed with a list of fields.
inline void expectLadder(const std::vector<LadderRow> &rows, const std::vector<Bytes> &fields,
                         const std::function<uint32_t(const std::vector<Bytes> &)> &decode) {
  ASSERT_EQ(rows.size(), fields.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].field);
    const LadderStep s = ladderStep(fields, i);
    EXPECT_EQ(decode(s.missing), rows[i].missing) << "missing";
    EXPECT_EQ(decode(s.mistagged), rows[i].mistagged) << "mistagged";
    EXPECT_EQ(decode(s.truncated), rows[i].truncated) << "truncated";
    EXPECT_EQ(decode(s.stopped), rows[i].stopped) << "stopped";
  }
}

// Every proper prefix of `der`, each in a block of exactly its size (the
// empty one at `der`'s start), is refused by `decode` and left as it was.
inline void expectEveryPrefixRefused(
    const Bytes &der, const std::function<uint32_t(const uint8_t *, uint32_t)> &decode) {
  for (size_t n = 0; n < der.size(); ++n) {
    const Bytes prefix(der.begin(), der.begin() + long(n));
    ExactBlock b(prefix);
    EXPECT_NE(decode(n == 0 ? der.data() : b.data(), uint32_t(n)), RYCERT_OK) << "prefix " << n;
    EXPECT_EQ(Bytes(b.data(), b.data() + n), prefix) << "the input is only read";
  }
}

}  // namespace rytest
