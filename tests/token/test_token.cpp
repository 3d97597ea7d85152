// Token operations against the PKCS#11 module the library is linked with:
// signatures and raw RSA checked by libcrypto both ways, key pairs that
// libcrypto accepts, envelopes, password-based encryption and MACs, key
// indexes, and the statuses and log lines of their failures. Every case
// also checks that no session is left open.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>

#include "token_util.h"

using namespace rytest;

namespace {

const testing::Environment *const kEnv = testing::AddGlobalTestEnvironment(new TokenEnvironment);

Bytes pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = uint8_t(seed + i * 7 + (i >> 8));
  }
  return b;
}

uint32_t sign(int32_t index, const Bytes &priv, const Bytes &data, Bytes &sig, uint32_t alg) {
  return twoCall(
      [&](uint8_t *out, uint32_t *len) {
        return Ry_SignData(index, priv.data(), uint32_t(priv.size()), data.data(),
                           uint32_t(data.size()), out, len, alg);
      },
      sig, true);
}
uint32_t verify(int32_t index, const Bytes &pub, const Bytes &data, const Bytes &sig,
                uint32_t alg) {
  return Ry_VerifyData(index, pub.data(), uint32_t(pub.size()), data.data(), uint32_t(data.size()),
                       sig.data(), uint32_t(sig.size()), alg);
}

// The module's own answer to creating the private key of `der` as a
// session object, the first thing Ry_SignData asks of it.
CK_RV directCreatePrivate(const Bytes &der) {
  RyRsaPrivateKey k;
  EXPECT_EQ(Ry_Decode_PrivateKey(&k, der.data(), int32_t(der.size())), 0u);
  CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
  CK_KEY_TYPE type = CKK_RSA;
  std::vector<CK_ATTRIBUTE> t = {{CKA_CLASS, &cls, sizeof cls}, {CKA_KEY_TYPE, &type, sizeof type}};
  auto add = [&](CK_ATTRIBUTE_TYPE a, uint8_t *f, size_t n) {
    size_t skip = 0;
    while (skip < n && f[skip] == 0) {
      ++skip;
    }
    t.push_back({a, f + skip, CK_ULONG(n - skip)});
  };
  add(CKA_MODULUS, k.modulus, 256);
  add(CKA_PUBLIC_EXPONENT, k.publicExponent, 256);
  add(CKA_PRIVATE_EXPONENT, k.privateExponent, 256);
  add(CKA_PRIME_1, k.prime1, 128);
  add(CKA_PRIME_2, k.prime2, 128);
  add(CKA_EXPONENT_1, k.exponent1, 128);
  add(CKA_EXPONENT_2, k.exponent2, 128);
  add(CKA_COEFFICIENT, k.coefficient, 128);
  return directly([&](CK_SESSION_HANDLE s) {
    CK_OBJECT_HANDLE h = 0;
    CK_RV rv = C_CreateObject(s, t.data(), CK_ULONG(t.size()), &h);
    if (rv == CKR_OK) {
      C_DestroyObject(s, h);
    }
    return rv;
  });
}

// The module's own answer to a secret key generation (with a key type
// when `keyType` is not ~0).
CK_RV directGenerate(CK_MECHANISM_TYPE type, void *param, CK_ULONG paramLen,
                     CK_KEY_TYPE keyType = ~CK_KEY_TYPE(0)) {
  return directly([&](CK_SESSION_HANDLE s) {
    CK_MECHANISM m = {type, param, paramLen};
    CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_KEY_TYPE, &keyType, sizeof keyType}};
    CK_OBJECT_HANDLE h = 0;
    CK_RV rv = C_GenerateKey(s, &m, t, keyType == ~CK_KEY_TYPE(0) ? 1 : 2, &h);
    if (rv == CKR_OK) {
      C_DestroyObject(s, h);
    }
    return rv;
  });
}

// The module's own answer to a PBE key derivation (CK_PBE_PARAMS).
CK_RV directPbe(CK_MECHANISM_TYPE type, const std::string &pw, Bytes salt, CK_ULONG iterations) {
  CK_BYTE iv[8];
  const CK_ULONG saltLen = salt.size();
  salt.push_back(0);  // never a NULL salt pointer
  struct {
    CK_BYTE_PTR iv;
    const char *pw;
    CK_ULONG pwLen;
    const uint8_t *salt;
    CK_ULONG saltLen, iterations;
  } params = {iv, pw.data(), pw.size(), salt.data(), saltLen, iterations};
  return directGenerate(type, &params, sizeof params);
}

// The wrapped (PKCS#8) form the library makes of an RSAPrivateKey DER.
Bytes wrappedForm(const Bytes &priv) {
  Bytes out;
  EXPECT_EQ(twoCall([&](uint8_t *o, uint32_t *n) {
              return Hx_PKCS1to8KEY(priv.data(), uint32_t(priv.size()), o, n);
            }, out),
            0u);
  return out;
}

// ------------------------------------------------------------ signatures

struct SigCase {
  const char *name;
  uint32_t alg;
  const EVP_MD *(*md)();  // the peer's digest; NULL: the data is signed as given
  int bits;
};
const EVP_MD *noDigest() { return nullptr; }
const SigCase kSigCases[] = {
    {"raw PKCS#1 over a DigestInfo, 1024", SIGALG_RSA, noDigest, 1024},
    {"MD5, 1024", SIGALG_MD5_RSA, EVP_md5, 1024},
    {"SHA-1, 1024", SIGALG_SHA1_RSA, EVP_sha1, 1024},
    {"SHA-1, 2048", SIGALG_SHA1_RSA, EVP_sha1, 2048},
    {"SHA-256, 2048", SIGALG_SHA256_RSA, EVP_sha256, 2048},
    {"SHA-384, 2048", SIGALG_SHA384_RSA, EVP_sha384, 2048},
    {"SHA-512, 1024", SIGALG_SHA512_RSA, EVP_sha512, 1024},
};

// SHA-256 DigestInfo of `data` (RFC 8017 9.2), for the raw code.
Bytes sha256DigestInfo(const Bytes &data) {
  Bytes out = hex("3031300d060960864801650304020105000420");
  unsigned char md[32];
  EVP_Digest(data.data(), data.size(), md, nullptr, EVP_sha256(), nullptr);
  out.insert(out.end(), md, md + 32);
  return out;
}

TEST(SignVerify, AgreesWithLibcryptoBothWays) {
  for (const SigCase &c : kSigCases) {
    SCOPED_TRACE(c.name);
    const RsaKey &k = rsaKey(c.bits);
    const Bytes data = c.alg == SIGALG_RSA ? sha256DigestInfo(pattern(300)) : pattern(1000);
    Bytes sig;
    const uint32_t st = sign(0, k.priv, data, sig, c.alg);
    if (kSoftHsm) {
      // No login: the module refuses the private key object, and its own
      // code comes back.
      EXPECT_NE(st, 0u);
      EXPECT_EQ(st, directCreatePrivate(k.priv));
    } else {
      ASSERT_EQ(st, 0u);
      EXPECT_EQ(sig.size(), k.modulusBytes);
      EXPECT_TRUE(peerVerify(k.pkey, c.md(), data, sig)) << "libcrypto rejects our signature";
    }
    const Bytes peerSig = peerSign(k.pkey, c.md(), data);
    ASSERT_FALSE(peerSig.empty());
    EXPECT_EQ(verify(0, k.pub, data, peerSig, c.alg), 0u) << "we reject libcrypto's signature";
    Bytes bad = peerSig;
    bad[bad.size() / 2] ^= 0x01;
    EXPECT_EQ(verify(0, k.pub, data, bad, c.alg), CKR_SIGNATURE_INVALID);
    Bytes otherData = data;
    otherData[0] ^= 0x80;
    EXPECT_EQ(verify(0, k.pub, otherData, peerSig, c.alg), CKR_SIGNATURE_INVALID);
    expectNoSessionLeft();
  }
}

TEST(SignVerify, Md2RoundTrip) {
  if (kSoftHsm) {
    GTEST_SKIP() << "the module has no MD2";
  }
  const RsaKey &k = rsaKey(1024);
  const Bytes data = pattern(77);
  Bytes sig;
  ASSERT_EQ(sign(0, k.priv, data, sig, SIGALG_MD2_RSA), 0u);
  EXPECT_EQ(verify(0, k.pub, data, sig, SIGALG_MD2_RSA), 0u);
  // The DigestInfo names MD2 (RFC 8017 9.2 note 1): with any other code
  // the signature does not verify.
  EXPECT_EQ(verify(0, k.pub, data, sig, SIGALG_MD5_RSA), CKR_SIGNATURE_INVALID);
}

TEST(SignVerify, ShortCapacity) {
  if (kSoftHsm) {
    GTEST_SKIP() << "signing needs a login there";
  }
  const RsaKey &k = rsaKey(2048);
  const Bytes data = pattern(10);
  Bytes sig(255);
  uint32_t len = 255;
  EXPECT_EQ(Ry_SignData(0, k.priv.data(), uint32_t(k.priv.size()), data.data(), 10, sig.data(),
                        &len, SIGALG_SHA256_RSA),
            CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 255u) << "length written on failure";
  expectNoSessionLeft();
}

struct RefusalCase {
  const char *name;
  std::function<uint32_t()> call;
  uint32_t status;
  const char *lastLine;  // NULL: no log line at all
};

TEST(Arguments, RefusedBeforeTheModule) {
  const RsaKey &k = rsaKey(1024);
  const Bytes data = pattern(20);
  Bytes sig(128);
  uint32_t len = 128;
  const Bytes noExponent = hex("3003020105");
  const Bytes shortKey(k.priv.begin(), k.priv.end() - 1);
  auto signWith = [&](const uint8_t *key, uint32_t keyLen, uint32_t *lenPtr, uint32_t alg) {
    return Ry_SignData(0, key, keyLen, data.data(), 20, sig.data(), lenPtr, alg);
  };
  auto verifyWith = [&](const Bytes &key, uint32_t keyLen, const uint8_t *s, uint32_t alg) {
    return Ry_VerifyData(0, key.data(), keyLen, data.data(), 20, s, 128, alg);
  };
  const uint32_t privLen = uint32_t(k.priv.size());
  const uint32_t pubLen = uint32_t(k.pub.size());
  const RefusalCase cases[] = {
      {"sign: unknown algorithm 199", [&] { return signWith(k.priv.data(), privLen, &len, 199); },
       RYCERT_InvalidSignatureAlgErr, "---->RYCERT_InvalidSignatureAlgErr"},
      {"verify: unknown algorithm 207", [&] { return verifyWith(k.pub, pubLen, sig.data(), 207); },
       RYCERT_InvalidSignatureAlgErr, "---->RYCERT_InvalidSignatureAlgErr"},
      {"sign: NULL length", [&] { return signWith(k.priv.data(), 1, nullptr, SIGALG_SHA1_RSA); },
       RYCERT_MemoryErr, "------>Pointer is NULL"},
      {"sign: NULL key DER with key index 0",
       [&] { return signWith(nullptr, 0, &len, SIGALG_SHA1_RSA); }, RYCERT_MemoryErr,
       "------>Pointer is NULL"},
      {"verify: NULL signature", [&] { return verifyWith(k.pub, 1, nullptr, SIGALG_SHA1_RSA); },
       RYCERT_MemoryErr, "------>Pointer is NULL"},
      {"sign: truncated key DER",
       [&] { return signWith(shortKey.data(), privLen - 1, &len, SIGALG_SHA1_RSA); },
       RYCERT_InvalidLengthErr, "---->Ry_Decode_PrivateKey "},
      {"verify: public key DER without its exponent",
       [&] { return verifyWith(noExponent, 5, sig.data(), SIGALG_SHA1_RSA); },
       RYCERT_KeyElementMissingErr, "---->Ry_Decode_PublicKey "},
      {"envelope: NULL length",
       [&] {
         return Ry_EncodeEnvelope(0, k.pub.data(), uint32_t(k.pub.size()), data.data(), 20,
                                  sig.data(), nullptr, ENVALG_DES3);
       },
       RYCERT_MemoryErr, "------>Pointer is NULL"},
      {"mac: NULL password",
       [&] { return Ry_GenerateMac(nullptr, 3, data.data(), 20, sig.data(), &len, 0); },
       RYCERT_MemoryErr, "------>Pointer is NULL"},
      {"put: key index 0", [&] { return Ry_PutKeypair(0, 0, 0, 0, k.priv.data(), 10); },
       RYCERT_KeyIndexRangeErr, nullptr},
      {"put: key index 101", [&] { return Ry_PutKeypair(101, 0, 0, 0, nullptr, 10); },
       RYCERT_KeyIndexRangeErr, nullptr},
      {"put: key index -1", [&] { return Ry_PutKeypair(-1, 1, 0, 0, k.priv.data(), 10); },
       RYCERT_KeyIndexRangeErr, nullptr},
      {"put: wrapped form of 2049 bytes",
       [&] {
         Bytes big(2049, 0x30);
         return Ry_PutKeypair(1, 1, 0, 0, big.data(), uint32_t(big.size()));
       },
       RYCERT_InvalidLengthErr, nullptr},
      {"put: key that wraps to more than 2048 bytes",
       [&] {
         Bytes big(2030, 0x30);
         return Ry_PutKeypair(1, 0, 0, 0, big.data(), uint32_t(big.size()));
       },
       RYCERT_InvalidLengthErr, "---->Ry_PKCS1to8KEY"},
  };
  for (const RefusalCase &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    len = 128;
    EXPECT_EQ(c.call(), c.status);
    EXPECT_EQ(len, 128u) << "length written on failure";
    const auto lines = log.lines();
    if (c.lastLine == nullptr) {
      EXPECT_TRUE(lines.empty()) << lines.front();
    } else {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), c.lastLine);
    }
    expectNoSessionLeft();
  }
}

// A private key whose public exponent does not fit four bytes is refused
// before it reaches the module.
TEST(Arguments, PublicExponentOverFourBytes) {
  EVP_PKEY *pkey = nullptr;
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  BIGNUM *e = BN_new();
  BN_set_word(e, 0x10000000001ULL);  // 2^40 + 1, five bytes
  ASSERT_EQ(EVP_PKEY_keygen_init(ctx), 1);
  EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 1024);
  EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, e);
  ASSERT_EQ(EVP_PKEY_keygen(ctx, &pkey), 1);
  unsigned char *p = nullptr;
  const int n = i2d_PrivateKey(pkey, &p);
  const Bytes der(p, p + n);
  OPENSSL_free(p);
  EVP_PKEY_free(pkey);
  EVP_PKEY_CTX_free(ctx);
  BN_free(e);
  const Bytes data = pattern(5);
  Bytes sig;
  LogCapture log;
  EXPECT_EQ(sign(0, der, data, sig, SIGALG_SHA1_RSA), RYCERT_InvalidLengthErr);
  EXPECT_TRUE(log.contains("---->public exponent over 4 bytes"));
  expectNoSessionLeft();
}

// ------------------------------------------------------------ raw RSA

TEST(EncData, RawRsaThatLibcryptoUndoes) {
  for (int bits : {1024, 2048}) {
    SCOPED_TRACE(bits);
    const RsaKey &k = rsaKey(bits);
    Bytes block = pattern(k.modulusBytes, 3);
    block[0] = 0x00;  // below the modulus
    Bytes out(k.modulusBytes);
    uint32_t len = uint32_t(out.size());
    ASSERT_EQ(Ry_EncData(0, k.pub.data(), uint32_t(k.pub.size()), block.data(),
                         uint32_t(block.size()), out.data(), &len),
              0u);
    EXPECT_EQ(len, k.modulusBytes);
    EXPECT_EQ(peerDecrypt(k.pkey, RSA_NO_PADDING, out), block);
    expectNoSessionLeft();
  }
}

// ------------------------------------------------------------ key pairs

TEST(GenKeypair, PairsThatLibcryptoAccepts) {
  if (kSoftHsm) {
    // The private key of a pair is a private object there, which needs a
    // login: the module's answer to the same generation comes back.
    uint32_t a = 0;
    uint32_t b = 0;
    const CK_RV direct = directly([](CK_SESSION_HANDLE s) {
      CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY;
      CK_OBJECT_CLASS privClass = CKO_PRIVATE_KEY;
      CK_KEY_TYPE type = CKK_RSA;
      CK_ULONG bits = 1024;
      CK_BYTE e[] = {1, 0, 1};
      CK_ATTRIBUTE pubT[] = {{CKA_CLASS, &pubClass, sizeof pubClass},
                             {CKA_KEY_TYPE, &type, sizeof type},
                             {CKA_MODULUS_BITS, &bits, sizeof bits},
                             {CKA_PUBLIC_EXPONENT, e, 3}};
      CK_ATTRIBUTE privT[] = {{CKA_CLASS, &privClass, sizeof privClass},
                              {CKA_KEY_TYPE, &type, sizeof type}};
      CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
      CK_OBJECT_HANDLE pub = 0;
      CK_OBJECT_HANDLE priv = 0;
      return C_GenerateKeyPair(s, &m, pubT, 4, privT, 2, &pub, &priv);
    });
    EXPECT_NE(direct, CKR_OK);
    EXPECT_EQ(Ry_GenKeypair(0, 1024, 0, nullptr, &a, nullptr, &b), direct);
    expectNoSessionLeft();
    return;
  }
  struct {
    uint32_t slotChoice, bits;
  } const cases[] = {{0, 512}, {1, 1024}, {0, 2048}, {1, 2048}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, slot choice " << c.slotChoice);
    uint32_t pubLen = 0;
    uint32_t privLen = 0;
    ASSERT_EQ(Ry_GenKeypair(c.slotChoice, c.bits, 0, nullptr, &pubLen, nullptr, &privLen), 0u);
    Bytes pub(pubLen + 8);
    Bytes priv(privLen + 8);
    pubLen = privLen = 0;
    ASSERT_EQ(Ry_GenKeypair(c.slotChoice, c.bits, 0, pub.data(), &pubLen, priv.data(), &privLen),
              0u);
    pub.resize(pubLen);
    priv.resize(privLen);
    EVP_PKEY *pk = publicFromDer(pub);
    EVP_PKEY *sk = privateFromDer(priv);
    ASSERT_NE(pk, nullptr);
    ASSERT_NE(sk, nullptr);
    EXPECT_EQ(EVP_PKEY_get_bits(pk), int(c.bits));
    EXPECT_EQ(EVP_PKEY_eq(pk, sk), 1) << "public key is not the private key's";
    EVP_PKEY_CTX *check = EVP_PKEY_CTX_new(sk, nullptr);
    EXPECT_EQ(EVP_PKEY_private_check(check), 1);
    EXPECT_EQ(EVP_PKEY_pairwise_check(check), 1);
    EVP_PKEY_CTX_free(check);
    const Bytes data = pattern(33);
    Bytes sig;
    ASSERT_EQ(sign(0, priv, data, sig, SIGALG_SHA256_RSA), 0u);
    EXPECT_TRUE(peerVerify(pk, EVP_sha256(), data, sig));
    EVP_PKEY_free(pk);
    EVP_PKEY_free(sk);
    expectNoSessionLeft();
  }
}

TEST(GenKeypair, TooLargeForTheRecordsWritesNothing) {
  uint32_t pubLen = 7;
  uint32_t privLen = 7;
  EXPECT_NE(Ry_GenKeypair(0, 4096, 0, nullptr, &pubLen, nullptr, &privLen), 0u);
  EXPECT_EQ(pubLen, 7u);
  EXPECT_EQ(privLen, 7u);
  expectNoSessionLeft();
}

// ------------------------------------------------------------ envelopes

uint32_t seal(int32_t index, const Bytes &pub, const Bytes &data, uint32_t alg, Bytes &env) {
  return twoCall(
      [&](uint8_t *out, uint32_t *len) {
        return Ry_EncodeEnvelope(index, pub.data(), uint32_t(pub.size()), data.data(),
                                 uint32_t(data.size()), out, len, alg);
      },
      env, true);
}
uint32_t open(int32_t index, const Bytes &priv, const Bytes &env, Bytes &data) {
  return twoCall(
      [&](uint8_t *out, uint32_t *len) {
        return Ry_DecodeEnvelop(index, priv.data(), uint32_t(priv.size()), env.data(),
                                uint32_t(env.size()), out, len);
      },
      data);
}

struct EnvCase {
  const char *name;
  uint32_t alg;
  size_t size;
  uint8_t code;   // the algorithm byte inside the RSA block
  size_t keyLen;  // the secret key after it
  int bits;
};
const EnvCase kEnvCases[] = {
    {"IDEA, 1 KiB", ENVALG_IDEA, 1024, 1, 16, 1024},
    {"DES, one byte", ENVALG_DES, 1, 2, 8, 1024},
    {"DES3, empty", ENVALG_DES3, 0, 3, 24, 2048},
    {"DES3, 1 MiB", ENVALG_DES3, 1 << 20, 3, 24, 2048},
    {"unknown code 7 seals with IDEA", 7, 100, 1, 16, 1024},
};

TEST(Envelope, RoundTripAndLayout) {
  for (const EnvCase &c : kEnvCases) {
    SCOPED_TRACE(c.name);
    const RsaKey &k = rsaKey(c.bits);
    const Bytes data = pattern(c.size);
    Bytes env;
    const uint32_t st = seal(0, k.pub, data, c.alg, env);
    if (kSoftHsm) {
      // No IDEA there, and secret keys are private objects that need a
      // login: the module's answer to the key generation comes back.
      const CK_MECHANISM_TYPE gen = c.code == 1   ? CKM_IDEA_KEY_GEN
                                    : c.code == 2 ? CKM_DES_KEY_GEN
                                                  : CKM_DES3_KEY_GEN;
      const CK_KEY_TYPE type = c.code == 1 ? CKK_IDEA : c.code == 2 ? CKK_DES : CKK_DES3;
      const CK_RV direct = directGenerate(gen, nullptr, 0, type);
      EXPECT_NE(direct, CKR_OK);
      EXPECT_EQ(st, direct);
      expectNoSessionLeft();
      continue;
    }
    ASSERT_EQ(st, 0u);
    // RSA block as long as the modulus, then whole cipher blocks.
    ASSERT_GT(env.size(), k.modulusBytes);
    EXPECT_EQ((env.size() - k.modulusBytes) % 8, 0u);
    EXPECT_GT(env.size() - k.modulusBytes, c.size);
    const Bytes block = peerDecrypt(k.pkey, RSA_PKCS1_PADDING,
                                    Bytes(env.begin(), env.begin() + long(k.modulusBytes)));
    ASSERT_EQ(block.size(), 1 + c.keyLen);
    EXPECT_EQ(block[0], c.code);
    Bytes back;
    ASSERT_EQ(open(0, k.priv, env, back), 0u);
    EXPECT_EQ(back, data);
    // A fresh secret key every time: another RSA block and another body.
    Bytes again;
    ASSERT_EQ(seal(0, k.pub, data, c.alg, again), 0u);
    const auto body = env.begin() + long(k.modulusBytes);
    EXPECT_FALSE(std::equal(env.begin(), body, again.begin()));
    EXPECT_FALSE(std::equal(body, env.end(), again.begin() + long(k.modulusBytes)));
    expectNoSessionLeft();
  }
}

TEST(Envelope, Refusals) {
  if (kSoftHsm) {
    GTEST_SKIP();
  }
  const RsaKey &k = rsaKey(1024);
  const RsaKey &other = rsaKey(2048);
  const Bytes data = pattern(40);
  Bytes env;
  ASSERT_EQ(seal(0, k.pub, data, ENVALG_DES, env), 0u);
  // RSA blocks naming no algorithm, made by the peer with the recipient key.
  auto forged = [&](uint8_t code) {
    Bytes plain = {code, 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes e = peerEncrypt(k.pkey, RSA_PKCS1_PADDING, plain);
    e.insert(e.end(), env.begin() + 128, env.end());
    return e;
  };
  const struct {
    const char *name;
    Bytes envelope;
    const Bytes *priv;
    uint32_t status;
  } cases[] = {
      {"shorter than the RSA block", Bytes(env.begin(), env.begin() + 127), &k.priv,
       RYCERT_InvalidLengthErr},
      {"algorithm byte 0", forged(0), &k.priv, RYCERT_CsrNotEndErr},
      {"algorithm byte 4", forged(4), &k.priv, RYCERT_CsrNotEndErr},
      {"shorter than the other key's RSA block", env, &other.priv, RYCERT_InvalidLengthErr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(100);
    uint32_t len = 100;
    LogCapture log;
    EXPECT_EQ(Ry_DecodeEnvelop(0, c.priv->data(), uint32_t(c.priv->size()), c.envelope.data(),
                               uint32_t(c.envelope.size()), out.data(), &len),
              c.status);
    EXPECT_EQ(len, 100u);
    if (c.status == RYCERT_CsrNotEndErr) {
      for (const auto &l : log.lines()) {
        EXPECT_EQ(l.rfind("---->", 0), std::string::npos) << l;
      }
    }
    expectNoSessionLeft();
  }
  // Capacity below the RSA block.
  Bytes small(127);
  uint32_t len = 127;
  EXPECT_EQ(Ry_EncodeEnvelope(0, k.pub.data(), uint32_t(k.pub.size()), data.data(), 40,
                              small.data(), &len, ENVALG_DES),
            RYCERT_InvalidLengthErr);
  EXPECT_EQ(len, 127u);
  expectNoSessionLeft();
}

// ------------------------------------------------------------ key indexes

TEST(KeyIndex, ImportedKeySignsVerifiesAndSeals) {
  const RsaKey &k = rsaKey(2048);
  const uint32_t put = Ry_PutKeypair(5, 0, 0, 0, k.priv.data(), uint32_t(k.priv.size()));
  if (kSoftHsm) {
    // No clear-text import there: the module's answer to C_UnwrapKey.
    Bytes wrapped = wrappedForm(k.priv);
    const CK_RV direct = directly([&](CK_SESSION_HANDLE s) {
      CK_MECHANISM m = {CKM_DES_ECB, nullptr, 0};
      char label[] = "RY_QLM_RSA_PRIKEY5";
      CK_ATTRIBUTE t[] = {{CKA_LABEL, label, 18}};
      CK_OBJECT_HANDLE h = 0;
      return C_UnwrapKey(s, &m, 0, wrapped.data(), CK_ULONG(wrapped.size()), t, 1, &h);
    });
    EXPECT_NE(put, 0u);
    EXPECT_EQ(put, direct);
    expectNoSessionLeft();
    return;
  }
  ASSERT_EQ(put, 0u);
  const Bytes data = pattern(500);
  Bytes sig;
  ASSERT_EQ(sign(5, {}, data, sig, SIGALG_SHA256_RSA), 0u);
  EXPECT_TRUE(peerVerify(k.pkey, EVP_sha256(), data, sig));
  EXPECT_EQ(verify(5, {}, data, sig, SIGALG_SHA256_RSA), 0u);
  EXPECT_EQ(verify(0, k.pub, data, sig, SIGALG_SHA256_RSA), 0u);

  Bytes block = pattern(256, 9);
  block[0] = 0;
  Bytes raw(256);
  uint32_t rawLen = 256;
  ASSERT_EQ(Ry_EncData(5, nullptr, 0, block.data(), 256, raw.data(), &rawLen), 0u);
  EXPECT_EQ(peerDecrypt(k.pkey, RSA_NO_PADDING, raw), block);

  // A 2048-bit token key: its RSA block is 256 bytes, not 128.
  Bytes env;
  Bytes back;
  ASSERT_EQ(seal(5, {}, data, ENVALG_DES3, env), 0u);
  ASSERT_EQ(open(0, k.priv, env, back), 0u);
  EXPECT_EQ(back, data);
  ASSERT_EQ(seal(0, k.pub, data, ENVALG_DES, env), 0u);
  ASSERT_EQ(open(5, {}, env, back), 0u);
  EXPECT_EQ(back, data);

  // Already wrapped (key format 1), under another index.
  const Bytes wrapped = wrappedForm(k.priv);
  ASSERT_EQ(Ry_PutKeypair(100, 1, 0, 0, wrapped.data(), uint32_t(wrapped.size())), 0u);
  ASSERT_EQ(sign(100, {}, data, sig, SIGALG_SHA1_RSA), 0u);
  EXPECT_TRUE(peerVerify(k.pkey, EVP_sha1(), data, sig));
  expectNoSessionLeft();
}

TEST(KeyIndex, UnknownIndexEndsTheSearch) {
  const Bytes data = pattern(8);
  Bytes sig(256);
  uint32_t len = 256;
  LogCapture log;
  EXPECT_EQ(Ry_SignData(77, nullptr, 0, data.data(), 8, sig.data(), &len, SIGALG_SHA1_RSA),
            CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(log.lines().back(), "---->C_FindObjects ");
  EXPECT_EQ(Ry_VerifyData(77, nullptr, 0, data.data(), 8, sig.data(), 256, SIGALG_SHA1_RSA),
            CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(Ry_EncData(77, nullptr, 0, data.data(), 8, sig.data(), &len), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(Ry_DecodeEnvelop(77, nullptr, 0, sig.data(), 256, nullptr, &len),
            CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(len, 256u);
  expectNoSessionLeft();
}

// ------------------------------------------------------------ PBE and MACs

uint32_t pbe(bool enc, const std::string &pw, const Bytes &salt, uint32_t iter, const Bytes &in,
             uint32_t alg, Bytes &out) {
  auto *f = enc ? Ry_EncodePBE : Ry_DecodePBE;
  const auto *p = reinterpret_cast<const uint8_t *>(pw.data());
  return twoCall(
      [&](uint8_t *o, uint32_t *len) {
        return f(p, uint32_t(pw.size()), salt.data(), uint32_t(salt.size()), iter, in.data(),
                 uint32_t(in.size()), o, len, alg);
      },
      out);
}

// PKCS#5 v1.5 PBES1 with MD5 and DES-CBC (RFC 8018 6.1), computed by
// libcrypto (its legacy provider holds DES).
Bytes peerPbeMd5Des(const std::string &pw, const Bytes &salt, int iter, const Bytes &in) {
  static OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER *dflt = OSSL_PROVIDER_load(nullptr, "default");
  if (legacy == nullptr || dflt == nullptr) {
    return {};
  }
  Bytes dk(pw.begin(), pw.end());
  dk.insert(dk.end(), salt.begin(), salt.end());
  for (int i = 0; i < iter; ++i) {
    unsigned char md[16];
    EVP_Digest(dk.data(), dk.size(), md, nullptr, EVP_md5(), nullptr);
    dk.assign(md, md + 16);
  }
  EVP_CIPHER *des = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 8);
  int n1 = 0;
  int n2 = 0;
  const bool ok = des != nullptr &&
                  EVP_EncryptInit_ex(ctx, des, nullptr, dk.data(), dk.data() + 8) &&
                  EVP_EncryptUpdate(ctx, out.data(), &n1, in.data(), int(in.size())) &&
                  EVP_EncryptFinal_ex(ctx, out.data() + n1, &n2);
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(des);
  out.resize(ok ? size_t(n1 + n2) : 0);
  return out;
}

TEST(Pbe, RoundTripsAndMatchesPbes1) {
  const Bytes salt = hex("0102030405060708");
  const Bytes data = pattern(1000);
  const std::string pw = "correct horse";
  if (kSoftHsm) {
    Bytes out;
    const uint32_t st = pbe(true, pw, salt, 5, data, PBEALG_MD5_DES, out);
    EXPECT_NE(st, 0u);
    EXPECT_EQ(st, directPbe(CKM_PBE_MD5_DES_CBC, pw, salt, 5));
    expectNoSessionLeft();
    return;
  }
  Bytes md2;
  Bytes dflt;
  Bytes md5;
  ASSERT_EQ(pbe(true, pw, salt, 5, data, PBEALG_MD2_DES, md2), 0u);
  ASSERT_EQ(pbe(true, pw, salt, 5, data, 0, dflt), 0u);
  ASSERT_EQ(pbe(true, pw, salt, 5, data, PBEALG_MD5_DES, md5), 0u);
  EXPECT_EQ(md2, dflt) << "any other code derives with MD2";
  EXPECT_NE(md2, md5);
  EXPECT_EQ(md2.size(), 1008u);
  const Bytes peer = peerPbeMd5Des(pw, salt, 5, data);
  if (!peer.empty()) {
    EXPECT_EQ(md5, peer) << "not PBES1 with MD5 and DES-CBC";
  }
  for (uint32_t alg : {PBEALG_MD2_DES, PBEALG_MD5_DES}) {
    SCOPED_TRACE(alg);
    Bytes back;
    ASSERT_EQ(pbe(false, pw, salt, 5, alg == PBEALG_MD2_DES ? md2 : md5, alg, back), 0u);
    EXPECT_EQ(back, data);
  }
  Bytes wrong;
  EXPECT_NE(pbe(false, pw, salt, 6, md5, PBEALG_MD5_DES, wrong), 0u) << "other iteration count";
  expectNoSessionLeft();
}

uint32_t makeMac(const std::string &pw, const Bytes &data, Bytes &mac) {
  mac.assign(8, 0);
  uint32_t len = 8;
  const uint32_t st =
      Ry_GenerateMac(reinterpret_cast<const uint8_t *>(pw.data()), uint32_t(pw.size()), data.data(),
                     uint32_t(data.size()), mac.data(), &len, 0);
  mac.resize(st == 0 ? len : 0);
  return st;
}
uint32_t checkMac(const std::string &pw, const Bytes &data, const Bytes &mac) {
  return Ry_VerifyMac(reinterpret_cast<const uint8_t *>(pw.data()), uint32_t(pw.size()),
                      data.data(), uint32_t(data.size()), mac.data(), uint32_t(mac.size()));
}

TEST(Mac, GeneratesAndVerifiesAcrossPieces) {
  const std::string pw = "mac password";
  if (kSoftHsm) {
    // No PBE mechanisms there.
    Bytes mac;
    const uint32_t st = makeMac(pw, pattern(10), mac);
    EXPECT_NE(st, 0u);
    EXPECT_EQ(st, directPbe(CKM_PBE_MD2_DES_CBC, pw, {}, 1));
    expectNoSessionLeft();
    return;
  }
  Bytes previous;
  for (size_t n : {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(10000)}) {
    SCOPED_TRACE(n);
    const Bytes data = pattern(n);
    Bytes mac;
    ASSERT_EQ(makeMac(pw, data, mac), 0u);
    ASSERT_EQ(mac.size(), 8u);
    EXPECT_NE(mac, previous) << "a longer prefix has a MAC of its own";
    EXPECT_EQ(checkMac(pw, data, mac), 0u);
    EXPECT_EQ(checkMac("mac passwore", data, mac), CKR_SIGNATURE_INVALID);
    if (n > 0) {
      Bytes changed = data;
      changed[n - 1] ^= 0x01;
      EXPECT_EQ(checkMac(pw, changed, mac), CKR_SIGNATURE_INVALID);
    }
    previous = mac;
  }
  expectNoSessionLeft();
}

// ------------------------------------------------------------ sweeps

// The token operations allocate from the runtime only through the codec;
// whatever they allocate is released on every path.
TEST(AllocationFailure, TokenOperationsLeaveNothingLive) {
  MOSK_TestTrackAllocations(1);
  const RsaKey &k = rsaKey(1024);
  const Bytes data = pattern(100);
  sweepAllocationFailures([&] {
    Bytes env;
    Bytes sig = peerSign(k.pkey, EVP_sha1(), data);
    uint32_t st = verify(0, k.pub, data, sig, SIGALG_SHA1_RSA);
    if (st == 0 && !kSoftHsm) {
      st = sign(0, k.priv, data, sig, SIGALG_SHA1_RSA);
    }
    if (st == 0 && !kSoftHsm) {
      st = seal(0, k.pub, data, ENVALG_DES3, env);
    }
    if (st == 0 && !kSoftHsm) {
      Bytes back;
      st = open(0, k.priv, env, back);
    }
    return st;
  });
  expectNoSessionLeft();
}

}  // namespace
