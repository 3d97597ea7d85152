// Interop of the PEM armour with OpenSSL, both ways: PEM that we write is
// read by libcrypto (PEM_read_bio) and by the openssl command, and PEM written by OpenSSL
// (the corpus files, openssl x509 and openssl genrsa output) is read back
// byte for byte.
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_support.h"

namespace {

using rytest::Bytes;
using rytest::ExactBlock;

const std::string kCorpus = RYTEST_CORPUS;
constexpr char kBeginCert[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEndCert[] = "-----END CERTIFICATE-----";

Bytes readFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string &path, const void *p, size_t n) {
  std::ofstream f(path, std::ios::binary);
  f.write(static_cast<const char *>(p), std::streamsize(n));
  ASSERT_TRUE(f.good()) << path;
}

struct CorpusFile {
  std::string path, format, kind;
};

std::vector<CorpusFile> corpusFiles() {
  std::ifstream m(kCorpus + "/MANIFEST.tsv");
  EXPECT_TRUE(m.good()) << "corpus manifest";
  std::vector<CorpusFile> out;
  std::string line;
  std::getline(m, line);  // column names
  while (std::getline(m, line)) {
    std::vector<std::string> col;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) {
      col.push_back(c);
    }
    if (col.size() >= 8) {
      out.push_back({col[0], col[5], col[6]});
    }
  }
  return out;
}

// Runs an openssl command line; true when it exits with 0.
bool openssl(const std::string &args) {
  const std::string cmd = "(openssl " + args + ") >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

std::string tempPath(const std::string &name) { return testing::TempDir() + "rycert_pem_" + name; }

std::string armourCert(const Bytes &der) {
  const size_t b = (der.size() + 2) / 3 * 4;
  std::string pem(sizeof kBeginCert + 1 + b + 2 * ((b + 63) / 64) + sizeof kEndCert + 1 + 1, '\0');
  uint32_t n = 0;
  EXPECT_EQ(
      DER2PEM_data_format(der.data(), uint32_t(der.size()), pem.data(), &n, kBeginCert, kEndCert),
      0u);
  pem.resize(n);
  return pem;
}

// Our reading of a PEM text held in an exact-size block.
bool ourDer(const Bytes &pem, Bytes &der) {
  ExactBlock in(pem);
  der.assign(pem.size() / 4 * 3 + 3, 0);
  uint32_t n = 0;
  if (PEM2DER_data_format(reinterpret_cast<const char *>(in.data()), uint32_t(pem.size()),
                          der.data(), &n) != 0) {
    return false;
  }
  der.resize(n);
  return true;
}

// libcrypto's reading of the first PEM object of a text (armour only, no
// parse of the contents).
bool peerDer(const Bytes &pem, Bytes &der, std::string &label) {
  BIO *bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
  char *name = nullptr;
  char *header = nullptr;
  unsigned char *data = nullptr;
  long len = 0;
  const bool ok = PEM_read_bio(bio, &name, &header, &data, &len) == 1;
  if (ok) {
    der.assign(data, data + len);
    label = name;
    EXPECT_STREQ(header, "") << "encapsulated header fields are not part of our format";
  }
  OPENSSL_free(name);
  OPENSSL_free(header);
  OPENSSL_free(data);
  BIO_free(bio);
  return ok;
}

// The corpus's DER certificates that the openssl command accepts (several
// are deliberately broken and are no fair test of the armour).
std::vector<std::string> derCertificates() {
  std::vector<std::string> out;
  for (const auto &f : corpusFiles()) {
    const std::string path = kCorpus + "/" + f.path;
    if (f.format == "der" && f.kind == "x509" &&
        openssl("x509 -inform DER -in " + path + " -noout")) {
      out.push_back(path);
    }
  }
  return out;
}

// ------------------------------------------------ our PEM, read by OpenSSL

TEST(PemInterop, OurArmourIsReadByLibcrypto) {
  // Every DER file of the corpus, whatever it holds: the armour does not
  // look inside.
  int armoured = 0;
  for (const auto &f : corpusFiles()) {
    if (f.format != "der") {
      continue;
    }
    SCOPED_TRACE(f.path);
    const Bytes der = readFile(kCorpus + "/" + f.path);
    const std::string pem = armourCert(der);
    Bytes back;
    std::string label;
    ASSERT_TRUE(peerDer(Bytes(pem.begin(), pem.end()), back, label));
    EXPECT_EQ(label, "CERTIFICATE");
    EXPECT_EQ(back, der);
    ++armoured;
  }
  EXPECT_GE(armoured, 60);
}

TEST(PemInterop, OurArmourIsReadByTheOpensslCommand) {
  const auto certs = derCertificates();
  ASSERT_FALSE(certs.empty());
  int read = 0;
  for (const auto &path : certs) {
    SCOPED_TRACE(path);
    const Bytes der = readFile(path);
    const std::string pem = armourCert(der);
    const std::string pemPath = tempPath("ours.pem");
    const std::string outPath = tempPath("theirs.der");
    writeFile(pemPath, pem.data(), pem.size());
    ASSERT_TRUE(openssl("x509 -inform PEM -outform DER -in " + pemPath + " -out " + outPath));
    EXPECT_EQ(readFile(outPath), der);
    ++read;
  }
  EXPECT_GE(read, 5);
}

// ------------------------------------------------ OpenSSL's PEM, read by us

TEST(PemInterop, CorpusPemFilesMatchLibcrypto) {
  // Every PEM file of the corpus (certificates, CRLs, requests, keys): our
  // reading of the first object equals libcrypto's. Files that libcrypto
  // refuses (broken Base64 among them) need only not upset us.
  int compared = 0, refusedByPeer = 0;
  for (const auto &f : corpusFiles()) {
    if (f.format != "pem") {
      continue;
    }
    SCOPED_TRACE(f.path);
    const Bytes pem = readFile(kCorpus + "/" + f.path);
    Bytes theirs, ours;
    std::string label;
    const bool ourOk = ourDer(pem, ours);
    if (!peerDer(pem, theirs, label)) {
      ++refusedByPeer;
      continue;
    }
    ASSERT_TRUE(ourOk);
    EXPECT_EQ(rytest::toHex(ours), rytest::toHex(theirs));
    ++compared;
  }
  EXPECT_GE(compared, 130);
  EXPECT_LE(refusedByPeer, 10);
}

TEST(PemInterop, OpensslCommandOutputIsReadBack) {
  struct Case {
    const char *name;
    std::string makePem;  // writes pem.txt
    std::string makeDer;  // writes the reference der.bin
  };
  const std::string pem = tempPath("peer.pem");
  const std::string der = tempPath("peer.der");
  const std::string key = tempPath("peer.key");
  const auto certs = derCertificates();
  ASSERT_FALSE(certs.empty());
  const std::string cert = certs.front();
  const Case cases[] = {
      {"openssl x509 -outform PEM of a corpus certificate",
       "x509 -inform DER -in " + cert + " -outform PEM -out " + pem,
       "x509 -inform DER -in " + cert + " -outform DER -out " + der},
      {"openssl genrsa (PKCS#8 PRIVATE KEY)", "genrsa -out " + pem + " 2048",
       "pkcs8 -topk8 -nocrypt -in " + pem + " -outform DER -out " + der},
      {"openssl rsa -traditional (RSA PRIVATE KEY)",
       "genrsa -out " + key + " 1024 && openssl rsa -traditional -in " + key + " -out " + pem,
       "rsa -traditional -in " + key + " -outform DER -out " + der},
      {"openssl rsa -pubout (PUBLIC KEY)",
       "genrsa -out " + key + " 1024 && openssl rsa -in " + key + " -pubout -out " + pem,
       "rsa -in " + key + " -pubout -outform DER -out " + der},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(pem.c_str());
    std::remove(der.c_str());
    ASSERT_TRUE(openssl(c.makePem));
    ASSERT_TRUE(openssl(c.makeDer));
    Bytes ours;
    ASSERT_TRUE(ourDer(readFile(pem), ours));
    const Bytes theirs = readFile(der);
    EXPECT_FALSE(theirs.empty());
    EXPECT_EQ(rytest::toHex(ours), rytest::toHex(theirs));
  }
}

}  // namespace
