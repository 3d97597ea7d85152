// Names and RSA keys against OpenSSL, on the subject name and key of a
// corpus certificate. Pairs as in bench_pem.cpp: BM_<what>/ours and
// BM_<what>/openssl.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rycert2.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "bench_der: %s\n", what);
  std::abort();
}

template <class T, class F>
Bytes i2dBytes(F i2d, T *obj) {
  const int n = i2d(obj, nullptr);
  if (n <= 0) {
    die("i2d failed");
  }
  Bytes out(static_cast<size_t>(n));
  unsigned char *p = out.data();
  i2d(obj, &p);
  return out;
}

struct Inputs {
  Bytes name;     // subject Name of the certificate
  Bytes rsaPub;   // its RSAPublicKey
  Bytes rsaPriv;  // an RSAPrivateKey of 2048 bits
};

const Inputs &inputs() {
  static const Inputs in = [] {
    Inputs r;
    FILE *f = std::fopen((std::string(RYBENCH_DATA) + "/certs/template-test.pem").c_str(), "r");
    if (f == nullptr) {
      die("corpus certificate missing");
    }
    X509 *cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    if (cert == nullptr) {
      die("libcrypto cannot read the corpus certificate");
    }
    r.name = i2dBytes(i2d_X509_NAME, X509_get_subject_name(cert));
    EVP_PKEY *pub = X509_get0_pubkey(cert);
    if (pub == nullptr || EVP_PKEY_get_base_id(pub) != EVP_PKEY_RSA) {
      die("corpus certificate has no RSA key");
    }
    r.rsaPub = i2dBytes(i2d_PublicKey, pub);
    EVP_PKEY *priv = EVP_RSA_gen(2048);
    r.rsaPriv = i2dBytes(i2d_PrivateKey, priv);
    EVP_PKEY_free(priv);
    X509_free(cert);
    return r;
  }();
  return in;
}

void oursNameDecode(benchmark::State &state) {
  const Inputs &in = inputs();
  Bytes copy = in.name;
  AnyBuf rec{copy.data(), static_cast<uint32_t>(copy.size()), 0, 2, 16, nullptr, nullptr};
  for (auto _ : state) {
    RyNameNode *name = nullptr;
    if (Hx_DecodeIssuerSubject(&rec, &name) != RYCERT_OK) {
      die("Hx_DecodeIssuerSubject failed");
    }
    benchmark::DoNotOptimize(name);
    Hx_FreeName(name);
  }
}

void opensslNameDecode(benchmark::State &state) {
  const Inputs &in = inputs();
  for (auto _ : state) {
    const unsigned char *p = in.name.data();
    X509_NAME *name = d2i_X509_NAME(nullptr, &p, static_cast<long>(in.name.size()));
    if (name == nullptr) {
      die("d2i_X509_NAME failed");
    }
    benchmark::DoNotOptimize(name);
    X509_NAME_free(name);
  }
}

void oursPubKeyDecode(benchmark::State &state) {
  const Inputs &in = inputs();
  RyRsaPublicKey key;
  for (auto _ : state) {
    if (Ry_Decode_PublicKey(&key, in.rsaPub.data(), static_cast<int32_t>(in.rsaPub.size())) !=
        RYCERT_OK) {
      die("Ry_Decode_PublicKey failed");
    }
    benchmark::DoNotOptimize(key.modulus);
  }
}

void opensslPubKeyDecode(benchmark::State &state) {
  const Inputs &in = inputs();
  for (auto _ : state) {
    const unsigned char *p = in.rsaPub.data();
    EVP_PKEY *key = d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(in.rsaPub.size()));
    if (key == nullptr) {
      die("d2i_PublicKey failed");
    }
    benchmark::DoNotOptimize(key);
    EVP_PKEY_free(key);
  }
}

// Encoding a private key from its numbers: our record against libcrypto's
// key object, each already holding the numbers.
void oursPrivKeyEncode(benchmark::State &state) {
  const Inputs &in = inputs();
  RyRsaPrivateKey key;
  if (Ry_Decode_PrivateKey(&key, in.rsaPriv.data(), static_cast<int32_t>(in.rsaPriv.size())) !=
      RYCERT_OK) {
    die("Ry_Decode_PrivateKey failed");
  }
  Bytes out(in.rsaPriv.size() + 16);
  uint32_t n = 0;
  for (auto _ : state) {
    if (Ry_Encode_PrivateKey(&key, out.data(), &n) != RYCERT_OK) {
      die("Ry_Encode_PrivateKey failed");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (Bytes(out.begin(), out.begin() + n) != in.rsaPriv) {
    die("Ry_Encode_PrivateKey gave other bytes than libcrypto");
  }
}

void opensslPrivKeyEncode(benchmark::State &state) {
  const Inputs &in = inputs();
  const unsigned char *p = in.rsaPriv.data();
  EVP_PKEY *key = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(in.rsaPriv.size()));
  if (key == nullptr) {
    die("d2i_PrivateKey failed");
  }
  Bytes out(in.rsaPriv.size() + 16);
  for (auto _ : state) {
    unsigned char *w = out.data();
    if (i2d_PrivateKey(key, &w) <= 0) {
      die("i2d_PrivateKey failed");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  EVP_PKEY_free(key);
}

const bool kRegistered = [] {
  struct Pair {
    const char *what;
    void (*ours)(benchmark::State &);
    void (*peer)(benchmark::State &);
  };
  const Pair pairs[] = {
      {"BM_NameDecode", oursNameDecode, opensslNameDecode},
      {"BM_RsaPublicKeyDecode", oursPubKeyDecode, opensslPubKeyDecode},
      {"BM_RsaPrivateKeyEncode", oursPrivKeyEncode, opensslPrivKeyEncode},
  };
  for (const Pair &p : pairs) {
    for (const auto &[side, fn] : {std::pair{"ours", p.ours}, std::pair{"openssl", p.peer}}) {
      benchmark::RegisterBenchmark((std::string(p.what) + "/" + side).c_str(), fn)
          ->Unit(benchmark::kNanosecond);
    }
  }
  return true;
}();

}  // namespace
