// Token operations against libcrypto on the same keys: RSA signing and
// verification with DER keys (each call of ours makes its sessions and its
// key object), and envelopes (a fresh DES3 key sealed with RSA) against
// EVP_SealInit/EVP_OpenInit. Pairs BM_<what>/ours/... and
// BM_<what>/openssl/... as in the other benchmarks.
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "rycert2.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void die(const char *what, uint32_t st = 0) {
  std::fprintf(stderr, "bench_token: %s (%u)\n", what, st);
  std::abort();
}

struct Key {
  EVP_PKEY *pkey = nullptr;
  RSA *rsa = nullptr;  // the same key, for RSA_sign / RSA_verify
  Bytes priv;          // RSAPrivateKey DER
  Bytes pub;           // RSAPublicKey DER
};

// The token starts once, with the first key asked for.
const Key &key(int bits) {
  static std::map<int, Key> keys;
  static const bool started = [] {
    if (uint32_t st = Ry_Initialize(); st != 0) {
      die("Ry_Initialize", st);
    }
    return true;
  }();
  (void)started;
  Key &k = keys[bits];
  if (k.pkey == nullptr) {
    k.pkey = EVP_RSA_gen(unsigned(bits));
    k.rsa = EVP_PKEY_get1_RSA(k.pkey);
    unsigned char *p = nullptr;
    int n = i2d_PrivateKey(k.pkey, &p);
    k.priv.assign(p, p + n);
    OPENSSL_free(p);
    p = nullptr;
    n = i2d_PublicKey(k.pkey, &p);
    k.pub.assign(p, p + n);
    OPENSSL_free(p);
  }
  return k;
}

// The signed data: about a TBSCertificate's size.
const Bytes &message() {
  static const Bytes m(1024, 0x5A);
  return m;
}

struct SigArgs {
  int bits;
  bool sha256;
};
SigArgs sigArgs(const benchmark::State &state) {
  return {int(state.range(0)), state.range(1) == 256};
}

void oursSign(benchmark::State &state) {
  const SigArgs a = sigArgs(state);
  const Key &k = key(a.bits);
  const Bytes &m = message();
  Bytes sig(512);
  const uint32_t alg = a.sha256 ? SIGALG_SHA256_RSA : SIGALG_SHA1_RSA;
  for (auto _ : state) {
    uint32_t len = uint32_t(sig.size());
    if (uint32_t st = Ry_SignData(0, k.priv.data(), uint32_t(k.priv.size()), m.data(),
                                  uint32_t(m.size()), sig.data(), &len, alg);
        st != 0) {
      die("Ry_SignData", st);
    }
    benchmark::DoNotOptimize(sig.data());
  }
}

// The peer hashes too: Ry_SignData's module does.
void opensslSign(benchmark::State &state) {
  const SigArgs a = sigArgs(state);
  const Key &k = key(a.bits);
  const Bytes &m = message();
  Bytes sig(512);
  unsigned char md[SHA256_DIGEST_LENGTH];
  for (auto _ : state) {
    unsigned int len = 0;
    if (a.sha256) {
      SHA256(m.data(), m.size(), md);
    } else {
      SHA1(m.data(), m.size(), md);
    }
    if (RSA_sign(a.sha256 ? NID_sha256 : NID_sha1, md,
                 a.sha256 ? SHA256_DIGEST_LENGTH : SHA_DIGEST_LENGTH, sig.data(), &len,
                 k.rsa) != 1) {
      die("RSA_sign");
    }
    benchmark::DoNotOptimize(sig.data());
  }
}

Bytes signature(const Key &k, bool sha256) {
  Bytes sig(512);
  uint32_t len = uint32_t(sig.size());
  const Bytes &m = message();
  if (uint32_t st =
          Ry_SignData(0, k.priv.data(), uint32_t(k.priv.size()), m.data(), uint32_t(m.size()),
                      sig.data(), &len, sha256 ? SIGALG_SHA256_RSA : SIGALG_SHA1_RSA);
      st != 0) {
    die("Ry_SignData", st);
  }
  sig.resize(len);
  return sig;
}

void oursVerify(benchmark::State &state) {
  const SigArgs a = sigArgs(state);
  const Key &k = key(a.bits);
  const Bytes &m = message();
  const Bytes sig = signature(k, a.sha256);
  const uint32_t alg = a.sha256 ? SIGALG_SHA256_RSA : SIGALG_SHA1_RSA;
  for (auto _ : state) {
    if (uint32_t st = Ry_VerifyData(0, k.pub.data(), uint32_t(k.pub.size()), m.data(),
                                    uint32_t(m.size()), sig.data(), uint32_t(sig.size()), alg);
        st != 0) {
      die("Ry_VerifyData", st);
    }
  }
}

void opensslVerify(benchmark::State &state) {
  const SigArgs a = sigArgs(state);
  const Key &k = key(a.bits);
  const Bytes &m = message();
  const Bytes sig = signature(k, a.sha256);
  unsigned char md[SHA256_DIGEST_LENGTH];
  for (auto _ : state) {
    if (a.sha256) {
      SHA256(m.data(), m.size(), md);
    } else {
      SHA1(m.data(), m.size(), md);
    }
    if (RSA_verify(a.sha256 ? NID_sha256 : NID_sha1, md,
                   a.sha256 ? SHA256_DIGEST_LENGTH : SHA_DIGEST_LENGTH, sig.data(),
                   unsigned(sig.size()), k.rsa) != 1) {
      die("RSA_verify");
    }
  }
}

const Bytes &payload(size_t n) {
  static std::map<size_t, Bytes> p;
  Bytes &b = p[n];
  if (b.size() != n) {
    b.assign(n, 0xA5);
  }
  return b;
}

Bytes envelope(const Key &k, const Bytes &data) {
  uint32_t len = 0;
  if (uint32_t st = Ry_EncodeEnvelope(0, k.pub.data(), uint32_t(k.pub.size()), data.data(),
                                      uint32_t(data.size()), nullptr, &len, ENVALG_DES3);
      st != 0) {
    die("Ry_EncodeEnvelope", st);
  }
  Bytes env(len);
  if (uint32_t st = Ry_EncodeEnvelope(0, k.pub.data(), uint32_t(k.pub.size()), data.data(),
                                      uint32_t(data.size()), env.data(), &len, ENVALG_DES3);
      st != 0) {
    die("Ry_EncodeEnvelope", st);
  }
  env.resize(len);
  return env;
}

void oursSeal(benchmark::State &state) {
  const Key &k = key(2048);
  const Bytes &data = payload(size_t(state.range(0)));
  Bytes env(data.size() + 8 + 256);
  for (auto _ : state) {
    uint32_t len = uint32_t(env.size());
    if (uint32_t st = Ry_EncodeEnvelope(0, k.pub.data(), uint32_t(k.pub.size()), data.data(),
                                        uint32_t(data.size()), env.data(), &len, ENVALG_DES3);
        st != 0) {
      die("Ry_EncodeEnvelope", st);
    }
    benchmark::DoNotOptimize(env.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void oursOpen(benchmark::State &state) {
  const Key &k = key(2048);
  const Bytes &data = payload(size_t(state.range(0)));
  const Bytes env = envelope(k, data);
  Bytes out(env.size());
  for (auto _ : state) {
    uint32_t len = uint32_t(out.size());
    if (uint32_t st = Ry_DecodeEnvelop(0, k.priv.data(), uint32_t(k.priv.size()), env.data(),
                                       uint32_t(env.size()), out.data(), &len);
        st != 0) {
      die("Ry_DecodeEnvelop", st);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

// The peer's envelope: EVP_SealInit makes a fresh DES3 key and IV and
// encrypts the key with RSA (PKCS#1 v1.5), the same work as ours.
void opensslSeal(benchmark::State &state) {
  const Key &k = key(2048);
  const Bytes &data = payload(size_t(state.range(0)));
  Bytes ek(256);
  Bytes out(data.size() + 16);
  unsigned char iv[8];
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    unsigned char *eks[] = {ek.data()};
    int ekl = 0;
    int n1 = 0;
    int n2 = 0;
    EVP_PKEY *pk = k.pkey;
    if (EVP_SealInit(ctx, EVP_des_ede3_cbc(), eks, &ekl, iv, &pk, 1) != 1 ||
        EVP_SealUpdate(ctx, out.data(), &n1, data.data(), int(data.size())) != 1 ||
        EVP_SealFinal(ctx, out.data() + n1, &n2) != 1) {
      die("EVP_Seal");
    }
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void opensslOpen(benchmark::State &state) {
  const Key &k = key(2048);
  const Bytes &data = payload(size_t(state.range(0)));
  Bytes ek(256);
  Bytes sealed(data.size() + 16);
  unsigned char iv[8];
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  unsigned char *eks[] = {ek.data()};
  int ekl = 0;
  int n1 = 0;
  int n2 = 0;
  EVP_PKEY *pk = k.pkey;
  if (EVP_SealInit(ctx, EVP_des_ede3_cbc(), eks, &ekl, iv, &pk, 1) != 1 ||
      EVP_SealUpdate(ctx, sealed.data(), &n1, data.data(), int(data.size())) != 1 ||
      EVP_SealFinal(ctx, sealed.data() + n1, &n2) != 1) {
    die("EVP_Seal");
  }
  sealed.resize(size_t(n1 + n2));
  Bytes out(sealed.size());
  for (auto _ : state) {
    int m1 = 0;
    int m2 = 0;
    if (EVP_OpenInit(ctx, EVP_des_ede3_cbc(), ek.data(), ekl, iv, k.pkey) != 1 ||
        EVP_OpenUpdate(ctx, out.data(), &m1, sealed.data(), int(sealed.size())) != 1 ||
        EVP_OpenFinal(ctx, out.data() + m1, &m2) != 1) {
      die("EVP_Open");
    }
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

const bool kRegistered = [] {
  using Fn = void (*)(benchmark::State &);
  struct Pair {
    const char *what;
    Fn ours;
    Fn peer;
  };
  const Pair sigPairs[] = {{"BM_TokenSign", oursSign, opensslSign},
                           {"BM_TokenVerify", oursVerify, opensslVerify}};
  for (const Pair &p : sigPairs) {
    for (const auto &[side, fn] : {std::pair{"ours", p.ours}, std::pair{"openssl", p.peer}}) {
      benchmark::RegisterBenchmark((std::string(p.what) + "/" + side).c_str(), fn)
          ->ArgsProduct({{1024, 2048}, {1, 256}})
          ->Unit(benchmark::kMicrosecond);
    }
  }
  const Pair envPairs[] = {{"BM_EnvelopeSeal", oursSeal, opensslSeal},
                           {"BM_EnvelopeOpen", oursOpen, opensslOpen}};
  for (const Pair &p : envPairs) {
    for (const auto &[side, fn] : {std::pair{"ours", p.ours}, std::pair{"openssl", p.peer}}) {
      benchmark::RegisterBenchmark((std::string(p.what) + "/" + side).c_str(), fn)
          ->Arg(1024)
          ->Arg(1 << 20)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  return true;
}();

}  // namespace
