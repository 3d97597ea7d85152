// Helpers of the tests that compare us with peers: DER built by hand, the
// corpus certificates as libcrypto reads them, and running a command.
// Header-only; the including test links OpenSSL::Crypto.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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
  Bytes out{id};
  if (content.size() < 0x80) {
    out.push_back(uint8_t(content.size()));
  } else {
    Bytes len;
    for (size_t v = content.size(); v != 0; v >>= 8) {
      len.insert(len.begin(), uint8_t(v));
    }
    out.push_back(uint8_t(0x80 | len.size()));
    out.insert(out.end(), len.begin(), len.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

inline Bytes readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

inline void writeFile(const std::string &path, const Bytes &b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
  EXPECT_TRUE(f.good()) << path;
}

// Runs a shell command; its standard output, and its exit status in `status`.
inline std::string runCommand(const std::string &cmd, int &status) {
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return out;
  }
  char buf[512];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) {
    out.append(buf, n);
  }
  status = pclose(p);
  return out;
}

struct X509Deleter {
  void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

// A corpus certificate as libcrypto reads it.
struct CorpusCert {
  std::string where;  // file and index, for traces
  X509Ptr cert;
};

// Every certificate libcrypto reads from the corpus files of kind x509:
// each PEM object of a file (text around them is skipped), else the file
// as one DER certificate.
inline std::vector<CorpusCert> corpusCertificates() {
  const std::string corpus = RYTEST_CORPUS;
  std::ifstream m(corpus + "/MANIFEST.tsv");
  EXPECT_TRUE(m.good()) << "corpus manifest";
  std::vector<CorpusCert> out;
  std::string line;
  std::getline(m, line);  // column names
  while (std::getline(m, line)) {
    std::vector<std::string> col;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) {
      col.push_back(c);
    }
    if (col.size() < 7 || col[6] != "x509") {
      continue;
    }
    const Bytes file = readFile(corpus + "/" + col[0]);
    const size_t before = out.size();
    BIO *bio = BIO_new_mem_buf(file.data(), int(file.size()));
    while (X509 *x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
      out.push_back({col[0] + " #" + std::to_string(out.size() - before), X509Ptr(x)});
    }
    BIO_free(bio);
    const unsigned char *p = file.data();
    if (out.size() == before) {
      if (X509 *x = d2i_X509(nullptr, &p, long(file.size()))) {
        out.push_back({col[0], X509Ptr(x)});
      }
    }
    ERR_clear_error();
  }
  return out;
}

}  // namespace rytest
