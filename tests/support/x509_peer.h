// Helpers of the tests that compare us with peers: DER by hand, corpus
// certificates, files and commands. The including test links OpenSSL::Crypto.
#pragma once

#include <dirent.h>
#include <algorithm>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
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

}  // namespace rytest
