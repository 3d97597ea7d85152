// Base64 and PEM armour against OpenSSL. Benchmarks come in pairs named
// BM_<what>/ours/<arg> and BM_<what>/openssl/<arg>; "bytes processed" is the
// binary size on both sides, so the MB/s figures of a pair compare directly.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "rycert2.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "bench_pem: %s\n", what);
  std::abort();
}

Bytes randomBytes(size_t n) {
  std::mt19937_64 rng(n);
  Bytes b(n);
  for (auto &x : b) {
    x = static_cast<uint8_t>(rng());
  }
  return b;
}

// The Base64 text of `data` without line breaks (OpenSSL's block encoder,
// so the input does not come from the code under test).
std::string unlined(const Bytes &data) {
  std::string s((data.size() + 2) / 3 * 4 + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(s.data()), data.data(),
                                static_cast<int>(data.size()));
  s.resize(static_cast<size_t>(n));
  return s;
}

// The same text in lines of 64 characters, each ended by CR LF, as PEM
// files carry it.
std::string lined(const std::string &text) {
  std::string s;
  s.reserve(text.size() + text.size() / 32 + 2);
  for (size_t i = 0; i < text.size(); i += 64) {
    s.append(text, i, 64);
    s += "\r\n";
  }
  return s;
}

struct Fixture {
  Bytes data;
  std::string flat;   // no line breaks
  std::string lines;  // 64 columns, CR LF
};

const Fixture &fixture(size_t n) {
  static Fixture small, large;
  Fixture &f = n <= (1u << 20) ? small : large;
  if (f.data.size() != n) {
    f.data = randomBytes(n);
    f.flat = unlined(f.data);
    f.lines = lined(f.flat);
  }
  return f;
}

void checkSame(const uint8_t *p, size_t n, const Bytes &want, const char *what) {
  if (n != want.size() || std::memcmp(p, want.data(), n) != 0) {
    die(what);
  }
}

// ---------------------------------------------------------------- decode

void oursDecodeLined(benchmark::State &state) {
  const Fixture &f = fixture(static_cast<size_t>(state.range(0)));
  Bytes out(f.lines.size() / 4 * 3 + 3);
  uint32_t n = 0;
  for (auto _ : state) {
    if (base64_decode(f.lines.c_str(), out.data(), &n) != 0) {
      die("base64_decode refused the lined text");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  checkSame(out.data(), n, f.data, "base64_decode gave other bytes");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void opensslDecodeLined(benchmark::State &state) {
  const Fixture &f = fixture(static_cast<size_t>(state.range(0)));
  Bytes out(f.lines.size() / 4 * 3 + 3);
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  int total = 0;
  for (auto _ : state) {
    EVP_DecodeInit(ctx);
    int n = 0;
    if (EVP_DecodeUpdate(ctx, out.data(), &n,
                         reinterpret_cast<const unsigned char *>(f.lines.data()),
                         static_cast<int>(f.lines.size())) < 0) {
      die("EVP_DecodeUpdate refused the lined text");
    }
    int m = 0;
    if (EVP_DecodeFinal(ctx, out.data() + n, &m) != 1) {
      die("EVP_DecodeFinal failed");
    }
    total = n + m;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  EVP_ENCODE_CTX_free(ctx);
  checkSame(out.data(), static_cast<size_t>(total), f.data, "EVP_DecodeUpdate gave other bytes");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void oursDecodeFlat(benchmark::State &state) {
  const Fixture &f = fixture(static_cast<size_t>(state.range(0)));
  Bytes out(f.flat.size() / 4 * 3 + 3);
  uint32_t n = 0;
  for (auto _ : state) {
    if (base64_decode(f.flat.c_str(), out.data(), &n) != 0) {
      die("base64_decode refused the text");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  checkSame(out.data(), n, f.data, "base64_decode gave other bytes");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void opensslDecodeFlat(benchmark::State &state) {
  const Fixture &f = fixture(static_cast<size_t>(state.range(0)));
  Bytes out(f.flat.size() / 4 * 3 + 3);
  int n = 0;
  for (auto _ : state) {
    n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(f.flat.data()),
                        static_cast<int>(f.flat.size()));
    if (n < 0) {
      die("EVP_DecodeBlock refused the text");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  // EVP_DecodeBlock counts the padding as zero bytes: trim them.
  const size_t pad = f.data.size() % 3 == 0 ? 0 : 3 - f.data.size() % 3;
  checkSame(out.data(), static_cast<size_t>(n) - pad, f.data, "EVP_DecodeBlock gave other bytes");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// ---------------------------------------------------------------- encode

void oursEncode(benchmark::State &state) {
  const Fixture &f = fixture(static_cast<size_t>(state.range(0)));
  std::string out(f.flat.size() + 1, '\0');
  for (auto _ : state) {
    base64_encode(f.data.data(), static_cast<uint32_t>(f.data.size()), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (std::strcmp(out.c_str(), f.flat.c_str()) != 0) {
    die("base64_encode gave another text");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void opensslEncode(benchmark::State &state) {
  const Fixture &f = fixture(static_cast<size_t>(state.range(0)));
  std::string out(f.flat.size() + 1, '\0');
  for (auto _ : state) {
    EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), f.data.data(),
                    static_cast<int>(f.data.size()));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// ---------------------------------------------------------------- PEM armour

// A typical single RSA certificate of the corpus, as its PEM file and as
// the DER that libcrypto reads from it.
struct CertFixture {
  std::string pem;
  Bytes der;
};

const CertFixture &cert() {
  static const CertFixture c = [] {
    CertFixture r;
    std::ifstream in(std::string(RYBENCH_DATA) + "/certs/template-test.pem", std::ios::binary);
    r.pem.assign(std::istreambuf_iterator<char>(in), {});
    if (r.pem.empty()) {
      die("corpus certificate missing");
    }
    BIO *bio = BIO_new_mem_buf(r.pem.data(), static_cast<int>(r.pem.size()));
    char *name = nullptr;
    char *header = nullptr;
    unsigned char *data = nullptr;
    long len = 0;
    if (PEM_read_bio(bio, &name, &header, &data, &len) != 1) {
      die("libcrypto cannot read the corpus certificate");
    }
    r.der.assign(data, data + len);
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    BIO_free(bio);
    return r;
  }();
  return c;
}

constexpr char kBegin[] = "-----BEGIN CERTIFICATE-----";
constexpr char kEnd[] = "-----END CERTIFICATE-----";

void oursPem2Der(benchmark::State &state) {
  const CertFixture &c = cert();
  Bytes out(c.pem.size() / 4 * 3 + 3);
  uint32_t n = 0;
  for (auto _ : state) {
    if (PEM2DER_data_format(c.pem.data(), static_cast<uint32_t>(c.pem.size()), out.data(), &n) !=
        0) {
      die("PEM2DER_data_format refused the certificate");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  checkSame(out.data(), n, c.der, "PEM2DER_data_format gave other bytes");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.der.size()));
}

// PEM_read_bio_X509 minus the X.509 parse: the armour work alone.
void opensslPem2Der(benchmark::State &state) {
  const CertFixture &c = cert();
  for (auto _ : state) {
    BIO *bio = BIO_new_mem_buf(c.pem.data(), static_cast<int>(c.pem.size()));
    char *name = nullptr;
    char *header = nullptr;
    unsigned char *data = nullptr;
    long len = 0;
    if (PEM_read_bio(bio, &name, &header, &data, &len) != 1) {
      die("PEM_read_bio failed");
    }
    benchmark::DoNotOptimize(data);
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    BIO_free(bio);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.der.size()));
}

void oursDer2Pem(benchmark::State &state) {
  const CertFixture &c = cert();
  std::string out(c.der.size() * 2 + 128, '\0');
  uint32_t n = 0;
  for (auto _ : state) {
    if (DER2PEM_data_format(c.der.data(), static_cast<uint32_t>(c.der.size()), out.data(), &n,
                            kBegin, kEnd) != 0) {
      die("DER2PEM_data_format failed");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.der.size()));
}

// PEM_write_bio_X509 minus the X.509 encode: the armour work alone, into a
// memory BIO that is emptied between iterations.
void opensslDer2Pem(benchmark::State &state) {
  const CertFixture &c = cert();
  BIO *bio = BIO_new(BIO_s_mem());
  for (auto _ : state) {
    (void)BIO_reset(bio);
    if (PEM_write_bio(bio, "CERTIFICATE", "", c.der.data(), static_cast<long>(c.der.size())) <= 0) {
      die("PEM_write_bio failed");
    }
    benchmark::ClobberMemory();
  }
  BIO_free(bio);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.der.size()));
}

constexpr int64_t kMiB = 1 << 20;

// Registered by hand so that the pair shares one name apart from the side.
const bool kRegistered = [] {
  struct Pair {
    const char *what;
    void (*ours)(benchmark::State &);
    void (*peer)(benchmark::State &);
    bool sized;
  };
  const Pair pairs[] = {
      {"BM_Base64DecodeLined", oursDecodeLined, opensslDecodeLined, true},
      {"BM_Base64DecodeFlat", oursDecodeFlat, opensslDecodeFlat, true},
      {"BM_Base64Encode", oursEncode, opensslEncode, true},
      {"BM_Pem2DerCert", oursPem2Der, opensslPem2Der, false},
      {"BM_Der2PemCert", oursDer2Pem, opensslDer2Pem, false},
  };
  for (const Pair &p : pairs) {
    for (const auto &[side, fn] : {std::pair{"ours", p.ours}, std::pair{"openssl", p.peer}}) {
      auto *b = benchmark::RegisterBenchmark((std::string(p.what) + "/" + side).c_str(), fn);
      if (p.sized) {
        b->Arg(kMiB)->Arg(16 * kMiB)->Unit(benchmark::kMicrosecond);
      } else {
        b->Unit(benchmark::kNanosecond);
      }
    }
  }
  return true;
}();

}  // namespace
