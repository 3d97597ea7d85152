// The module's cryptography checked against independent implementations: OpenSSL for RSA,
// DES, triple DES, MD5 and SHA; Crypto++ for MD2 and IDEA.
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/filters.h>
#include <cryptopp/idea.h>
#include <cryptopp/md2.h>
#include <cryptopp/modes.h>
#include <openssl/param_build.h>

#include "p11_fixture.h"

namespace p11test {
namespace {

Bytes opensslCipher(const char* name, bool encrypt, bool pad, const Bytes& key, const Bytes& iv,
                    const Bytes& in) {
  EVP_CIPHER* c = EVP_CIPHER_fetch(osslCtx(), name, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n1 = 0;
  int n2 = 0;
  EXPECT_EQ(
      EVP_CipherInit_ex2(ctx, c, key.data(), iv.empty() ? nullptr : iv.data(), encrypt, nullptr),
      1);
  EVP_CIPHER_CTX_set_padding(ctx, pad);
  EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())), 1);
  EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + n1, &n2), 1);
  out.resize(static_cast<size_t>(n1 + n2));
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(c);
  return out;
}

Bytes opensslRsa(EVP_PKEY* k, PeerOp op, int padding, const Bytes& in) {
  Bytes out = peerRsa(k, op, padding, in);
  EXPECT_FALSE(out.empty() && !in.empty()) << "libcrypto refuses";
  return out;
}

Bytes md2(const Bytes& in) {
  Bytes out(16);
  CryptoPP::Weak::MD2().CalculateDigest(out.data(), in.data(), in.size());
  return out;
}

struct SignCase {
  const char* name;
  CK_MECHANISM_TYPE mech;
  const char* digest;  // OpenSSL's name; nullptr for MD2
};
const SignCase kHashSign[] = {
    {"MD2", CKM_MD2_RSA_PKCS, nullptr},         {"MD5", CKM_MD5_RSA_PKCS, "MD5"},
    {"SHA-1", CKM_SHA1_RSA_PKCS, "SHA1"},       {"SHA-256", CKM_SHA256_RSA_PKCS, "SHA256"},
    {"SHA-384", CKM_SHA384_RSA_PKCS, "SHA384"}, {"SHA-512", CKM_SHA512_RSA_PKCS, "SHA512"},
};

using Rsa = Token;

// Signatures of the module verify with OpenSSL and the reverse; one changed byte fails;
// signing in pieces gives the same bytes as in one call.
TEST_F(Rsa, HashSignaturesInteroperateWithOpenSSL) {
  CK_SESSION_HANDLE s = open();
  EVP_PKEY* k = opensslKey(2048);
  CK_OBJECT_HANDLE priv = create(s, rsaPrivateTemplate(k));
  CK_OBJECT_HANDLE pub = create(s, rsaPublicTemplate(k));
  Bytes data(3000);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(i * 7);
  }
  for (const SignCase& c : kHashSign) {
    SCOPED_TRACE(c.name);
    CK_MECHANISM m{c.mech, nullptr, 0};
    Bytes sig;
    ASSERT_EQ(sign(s, m, priv, data, sig), CKR_OK);
    ASSERT_EQ(sig.size(), 256u);
    if (c.digest != nullptr) {
      const EVP_MD* md = EVP_get_digestbyname(c.digest);
      EXPECT_TRUE(peerVerify(k, md, data, sig));
      EXPECT_EQ(verify(s, m, pub, data, peerSign(k, md, data)), CKR_OK);
    } else {
      // MD2: the signature carries the DigestInfo of Crypto++'s MD2 digest.
      Bytes info = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                    0x86, 0xf7, 0x0d, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10};
      const Bytes d = md2(data);
      info.insert(info.end(), d.begin(), d.end());
      EXPECT_TRUE(peerVerify(k, nullptr, info, sig));
    }
    EXPECT_EQ(verify(s, m, pub, data, sig), CKR_OK);
    Bytes changed = data;
    changed[100] ^= 1;
    EXPECT_EQ(verify(s, m, pub, changed, sig), CKR_SIGNATURE_INVALID);
    Bytes shortSig(sig.begin(), sig.end() - 1);
    EXPECT_EQ(verify(s, m, pub, data, shortSig), CKR_SIGNATURE_LEN_RANGE);

    ASSERT_EQ(f->C_SignInit(s, &m, priv), CKR_OK);
    for (size_t off = 0; off < data.size(); off += 1000) {
      ASSERT_EQ(f->C_SignUpdate(s, data.data() + off, 1000), CKR_OK);
    }
    Bytes multi(256);
    CK_ULONG n = multi.size();
    ASSERT_EQ(f->C_SignFinal(s, multi.data(), &n), CKR_OK);
    EXPECT_EQ(multi, sig);
    ASSERT_EQ(f->C_VerifyInit(s, &m, pub), CKR_OK);
    ASSERT_EQ(f->C_VerifyUpdate(s, data.data(), 1500), CKR_OK);
    ASSERT_EQ(f->C_VerifyUpdate(s, data.data() + 1500, 1500), CKR_OK);
    EXPECT_EQ(f->C_VerifyFinal(s, sig.data(), sig.size()), CKR_OK);
  }
}

// CKM_RSA_PKCS pads and signs the bytes given (a DigestInfo gives the standard signature);
// an 8-byte parameter is accepted and ignored; CKM_RSA_X_509 is the bare private operation.
TEST_F(Rsa, BareMechanismsSignWhatTheyAreGiven) {
  CK_SESSION_HANDLE s = open();
  EVP_PKEY* k = opensslKey(1024);
  CK_OBJECT_HANDLE priv = create(s, rsaPrivateTemplate(k));
  CK_OBJECT_HANDLE pub = create(s, rsaPublicTemplate(k));
  Bytes data = str("bare mechanisms");
  Bytes expectSig;
  CK_MECHANISM sha1{CKM_SHA1_RSA_PKCS, nullptr, 0};
  ASSERT_EQ(sign(s, sha1, priv, data, expectSig), CKR_OK);

  Bytes info = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
  Bytes digest(20);
  EVP_Digest(data.data(), data.size(), digest.data(), nullptr, EVP_sha1(), nullptr);
  info.insert(info.end(), digest.begin(), digest.end());
  Bytes iv(8, 0x11);
  CK_MECHANISM bare{CKM_RSA_PKCS, nullptr, 0};
  CK_MECHANISM withIv{CKM_RSA_PKCS, iv.data(), 8};
  CK_MECHANISM badParam{CKM_RSA_PKCS, iv.data(), 7};
  for (CK_MECHANISM m : {bare, withIv}) {
    Bytes sig;
    ASSERT_EQ(sign(s, m, priv, info, sig), CKR_OK);
    EXPECT_EQ(sig, expectSig);
    EXPECT_EQ(verify(s, m, pub, info, sig), CKR_OK);
  }
  EXPECT_EQ(f->C_SignInit(s, &badParam, priv), CKR_MECHANISM_PARAM_INVALID);
  Bytes sig;
  EXPECT_EQ(sign(s, bare, priv, Bytes(128 - 10, 1), sig), CKR_DATA_LEN_RANGE);

  CK_MECHANISM raw{CKM_RSA_X_509, nullptr, 0};
  Bytes block(128, 0);
  block[2] = 0x42;
  block[127] = 0x99;
  Bytes shortBlock(block.begin() + 2, block.end());  // the leading zeros may be left out
  ASSERT_EQ(sign(s, raw, priv, shortBlock, sig), CKR_OK);
  EXPECT_EQ(opensslRsa(k, PeerOp::Recover, RSA_NO_PADDING, sig), block);
  EXPECT_EQ(verify(s, raw, pub, shortBlock, sig), CKR_OK);
}

TEST_F(Rsa, EncryptionInteroperatesWithOpenSSL) {
  CK_SESSION_HANDLE s = open();
  EVP_PKEY* k = opensslKey(1024);
  CK_OBJECT_HANDLE priv = create(s, rsaPrivateTemplate(k));
  CK_OBJECT_HANDLE pub = create(s, rsaPublicTemplate(k));
  Bytes iv(8, 3);
  CK_MECHANISM pkcs{CKM_RSA_PKCS, nullptr, 0};
  CK_MECHANISM pkcsIv{CKM_RSA_PKCS, iv.data(), 8};
  CK_MECHANISM raw{CKM_RSA_X_509, nullptr, 0};
  Bytes msg = str("\x01key block for an envelope");

  Bytes ct;
  ASSERT_EQ(crypt(true, s, pkcsIv, pub, msg, ct), CKR_OK);
  EXPECT_EQ(ct.size(), 128u);
  EXPECT_EQ(opensslRsa(k, PeerOp::Decrypt, RSA_PKCS1_PADDING, ct), msg);
  Bytes pt;
  ASSERT_EQ(crypt(false, s, pkcs, priv, opensslRsa(k, PeerOp::Encrypt, RSA_PKCS1_PADDING, msg), pt), CKR_OK);
  EXPECT_EQ(pt, msg);
  EXPECT_EQ(crypt(true, s, pkcs, pub, Bytes(118, 1), ct), CKR_DATA_LEN_RANGE);
  EXPECT_EQ(crypt(false, s, pkcs, priv, Bytes(127, 1), pt), CKR_ENCRYPTED_DATA_LEN_RANGE);

  // Raw: the input is an integer below the modulus, left-padded to its length.
  Bytes block(128, 0);
  block[5] = 0x77;
  ASSERT_EQ(crypt(true, s, raw, pub, Bytes(block.begin() + 5, block.end()), ct), CKR_OK);
  EXPECT_EQ(ct, opensslRsa(k, PeerOp::Encrypt, RSA_NO_PADDING, block));
  ASSERT_EQ(crypt(false, s, raw, priv, ct, pt), CKR_OK);
  EXPECT_EQ(pt, block);
  EXPECT_EQ(crypt(true, s, raw, pub, Bytes(129, 0), ct), CKR_DATA_LEN_RANGE);
}

// Generated pairs: the components read back make a key OpenSSL accepts, and the module's
// signature with it verifies in OpenSSL.
TEST_F(Rsa, GeneratedPairsAreUsableByOpenSSL) {
  CK_SESSION_HANDLE s = open(1);
  CK_MECHANISM gen{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  for (CK_ULONG bits : {CK_ULONG{1024}, CK_ULONG{2048}}) {
    SCOPED_TRACE(bits);
    Template pubT;
    pubT.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
    pubT.ulong(CKA_MODULUS_BITS, bits).bytes(CKA_PUBLIC_EXPONENT, {1, 0, 1});
    Template privT;
    privT.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
    CK_OBJECT_HANDLE pub = 0;
    CK_OBJECT_HANDLE priv = 0;
    ASSERT_EQ(f->C_GenerateKeyPair(s, &gen, pubT.data(), pubT.size(), privT.data(), privT.size(),
                                   &pub, &priv),
              CKR_OK);
    // The first slot's session reads what the second generated.
    CK_SESSION_HANDLE s1 = open(0);
    struct Part {
      CK_ATTRIBUTE_TYPE attr;
      const char* param;
    };
    const Part kParts[] = {{CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N},
                           {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E},
                           {CKA_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D},
                           {CKA_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1},
                           {CKA_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2},
                           {CKA_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1},
                           {CKA_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2},
                           {CKA_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}};
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    std::vector<BIGNUM*> bns;
    for (const Part& p : kParts) {
      Bytes v = attribute(s1, priv, p.attr);
      bns.push_back(BN_bin2bn(v.data(), static_cast<int>(v.size()), nullptr));
      OSSL_PARAM_BLD_push_BN(bld, p.param, bns.back());
    }
    EXPECT_EQ(attribute(s1, pub, CKA_MODULUS), attribute(s1, priv, CKA_MODULUS));
    EXPECT_EQ(attribute(s1, priv, CKA_MODULUS).size(), bits / 8);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* fctx = EVP_PKEY_CTX_new_from_name(osslCtx(), "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    ASSERT_EQ(EVP_PKEY_fromdata_init(fctx), 1);
    ASSERT_EQ(EVP_PKEY_fromdata(fctx, &key, EVP_PKEY_KEYPAIR, params), 1);
    EVP_PKEY_CTX* check = EVP_PKEY_CTX_new_from_pkey(osslCtx(), key, nullptr);
    EXPECT_EQ(EVP_PKEY_check(check), 1);

    Bytes data = str("generated");
    Bytes sig;
    CK_MECHANISM m{CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(sign(s1, m, priv, data, sig), CKR_OK);
    EXPECT_TRUE(peerVerify(key, EVP_sha256(), data, sig));
    EVP_PKEY_CTX_free(check);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(fctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    for (BIGNUM* b : bns) {
      BN_free(b);
    }
  }
  Template tooSmall;
  tooSmall.ulong(CKA_MODULUS_BITS, 256);
  Template noBits;
  noBits.ulong(CKA_CLASS, CKO_PUBLIC_KEY);
  CK_OBJECT_HANDLE a = 0;
  CK_OBJECT_HANDLE b = 0;
  EXPECT_EQ(f->C_GenerateKeyPair(s, &gen, tooSmall.data(), 1, nullptr, 0, &a, &b),
            CKR_KEY_SIZE_RANGE);
  EXPECT_EQ(f->C_GenerateKeyPair(s, &gen, noBits.data(), 1, nullptr, 0, &a, &b),
            CKR_TEMPLATE_INCOMPLETE);
}

struct CipherCase {
  const char* name;
  CK_MECHANISM_TYPE gen;
  CK_MECHANISM_TYPE cbc;
  size_t keyLen;
  const char* openssl;  // nullptr: IDEA, checked with Crypto++
};
const CipherCase kCiphers[] = {
    {"DES", CKM_DES_KEY_GEN, CKM_DES_CBC_PAD, 8, "DES-CBC"},
    {"DES3", CKM_DES3_KEY_GEN, CKM_DES3_CBC_PAD, 24, "DES-EDE3-CBC"},
    {"IDEA", CKM_IDEA_KEY_GEN, CKM_IDEA_CBC_PAD, 16, nullptr},
};

Bytes ideaCbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& ct) {
  CryptoPP::CBC_Mode<CryptoPP::IDEA>::Decryption dec(key.data(), key.size(), iv.data());
  std::string out;
  CryptoPP::StringSource src(
      ct.data(), ct.size(), true,
      new CryptoPP::StreamTransformationFilter(dec, new CryptoPP::StringSink(out),
                                               CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING));
  return Bytes(out.begin(), out.end());
}

using Secret = Token;

// Generated keys have the right length (DES keys odd parity), and CBC-PAD ciphertext of the
// module decrypts elsewhere for every padding length.
TEST_F(Secret, GeneratedKeysAndCbcPadInteroperate) {
  CK_SESSION_HANDLE s = open();
  Bytes iv = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const CipherCase& c : kCiphers) {
    SCOPED_TRACE(c.name);
    CK_MECHANISM gen{c.gen, nullptr, 0};
    Template t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY);
    CK_OBJECT_HANDLE k = 0;
    ASSERT_EQ(f->C_GenerateKey(s, &gen, t.data(), t.size(), &k), CKR_OK);
    Bytes value = attribute(s, k, CKA_VALUE);
    ASSERT_EQ(value.size(), c.keyLen);
    if (c.openssl != nullptr) {
      for (uint8_t b : value) {
        EXPECT_EQ(__builtin_popcount(b) % 2, 1) << "parity";
      }
    }
    for (size_t len : {0, 7, 8, 17}) {
      SCOPED_TRACE(len);
      Bytes msg(len, static_cast<uint8_t>(len + 1));
      CK_MECHANISM m{c.cbc, iv.data(), 8};
      Bytes ct;
      ASSERT_EQ(crypt(true, s, m, k, msg, ct), CKR_OK);
      EXPECT_EQ(ct.size(), (len / 8 + 1) * 8);
      Bytes theirs = c.openssl != nullptr ? opensslCipher(c.openssl, false, true, value, iv, ct)
                                          : ideaCbcDecrypt(value, iv, ct);
      EXPECT_EQ(theirs, msg);
      Bytes back;
      ASSERT_EQ(crypt(false, s, m, k, ct, back), CKR_OK);
      EXPECT_EQ(back, msg);
    }
    CK_MECHANISM m{c.cbc, iv.data(), 8};
    Bytes out;
    EXPECT_EQ(crypt(false, s, m, k, Bytes(12, 0), out), CKR_ENCRYPTED_DATA_LEN_RANGE);
  }
  // A wrong key meets bad padding (almost surely) and says so.
  CK_OBJECT_HANDLE a = secret(s, CKK_DES, Bytes(8, 0x31));
  CK_OBJECT_HANDLE b = secret(s, CKK_DES, Bytes(8, 0x4f));
  CK_MECHANISM m{CKM_DES_CBC_PAD, iv.data(), 8};
  Bytes ct;
  Bytes out;
  ASSERT_EQ(crypt(true, s, m, a, Bytes(20, 9), ct), CKR_OK);
  EXPECT_EQ(crypt(false, s, m, b, ct, out), CKR_ENCRYPTED_DATA_INVALID);

  CK_MECHANISM ecb{CKM_DES_ECB, nullptr, 0};
  Bytes block = str("8bytes!!16bytes!");
  ASSERT_EQ(crypt(true, s, ecb, a, block, ct), CKR_OK);
  EXPECT_EQ(ct, opensslCipher("DES-ECB", true, false, Bytes(8, 0x31), {}, block));
  EXPECT_EQ(crypt(true, s, ecb, a, Bytes(9, 0), ct), CKR_DATA_LEN_RANGE);
}

// General-length DES-MAC: CBC-MAC with a zero IV over the data padded with zero bytes (empty
// data: one zero block), truncated to the requested length.
TEST_F(Secret, DesMacMatchesCbcMacAcrossPieces) {
  CK_SESSION_HANDLE s = open();
  Bytes key = {0x13, 0x34, 0x57, 0x79, 0x9b, 0xbc, 0xdf, 0xf1};
  CK_OBJECT_HANDLE k = secret(s, CKK_DES, key);
  for (size_t len : {0, 5, 8, 4096, 4097, 9000}) {
    SCOPED_TRACE(len);
    Bytes data(len);
    for (size_t i = 0; i < len; ++i) {
      data[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
    Bytes padded = data;
    padded.resize(std::max<size_t>(8, (len + 7) / 8 * 8), 0);
    Bytes cbc = opensslCipher("DES-CBC", true, false, key, Bytes(8, 0), padded);
    Bytes expect(cbc.end() - 8, cbc.end());
    for (CK_ULONG macLen : {CK_ULONG{8}, CK_ULONG{4}}) {
      CK_MECHANISM m{CKM_DES_MAC_GENERAL, &macLen, sizeof macLen};
      ASSERT_EQ(f->C_SignInit(s, &m, k), CKR_OK);
      for (size_t off = 0; off < len; off += 4096) {
        ASSERT_EQ(f->C_SignUpdate(s, data.data() + off, std::min<size_t>(4096, len - off)), CKR_OK);
      }
      Bytes mac(8);
      CK_ULONG n = mac.size();
      ASSERT_EQ(f->C_SignFinal(s, mac.data(), &n), CKR_OK);
      mac.resize(n);
      EXPECT_EQ(mac, Bytes(expect.begin(), expect.begin() + macLen));
      EXPECT_EQ(verify(s, m, k, data, mac), CKR_OK);
      mac[0] ^= 0x80;
      EXPECT_EQ(verify(s, m, k, data, mac), CKR_SIGNATURE_INVALID);
    }
  }
  CK_ULONG tooLong = 9;
  CK_MECHANISM bad{CKM_DES_MAC_GENERAL, &tooLong, sizeof tooLong};
  EXPECT_EQ(f->C_SignInit(s, &bad, k), CKR_MECHANISM_PARAM_INVALID);
}

// PKCS#5 v1.5 PBKDF1 reference: T = H^c(P || S), key T[0..7], IV T[8..15].
Bytes pbkdf1Reference(bool useMd2, const Bytes& pw, const Bytes& salt, unsigned iterations) {
  Bytes t = pw;
  t.insert(t.end(), salt.begin(), salt.end());
  for (unsigned i = 0; i < iterations; ++i) {
    if (useMd2) {
      t = md2(t);
    } else {
      Bytes d(16);
      EVP_Digest(t.data(), t.size(), d.data(), nullptr, EVP_md5(), nullptr);
      t = d;
    }
  }
  return t;
}

TEST_F(Secret, PbeDerivesThePkcs5KeyAndIv) {
  CK_SESSION_HANDLE s = open();
  struct Case {
    const char* name;
    CK_MECHANISM_TYPE mech;
    bool md2;
    std::string password, salt;
    unsigned iterations;
  };
  const Case kCases[] = {
      {"MD5, salted", CKM_PBE_MD5_DES_CBC, false, "secret", "saltsalt", 1000},
      {"MD2, salted", CKM_PBE_MD2_DES_CBC, true, "secret", "NaCl1234", 17},
      {"MD2, no salt, one round", CKM_PBE_MD2_DES_CBC, true, "mac password", "", 1},
      {"MD5, empty password", CKM_PBE_MD5_DES_CBC, false, "", "s", 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Bytes pw = str(c.password);
    Bytes salt = str(c.salt);
    Bytes iv(8, 0xee);
    PbeParams p{iv.data(), pw.data(), pw.size(), salt.data(), salt.size(), c.iterations};
    CK_MECHANISM m{c.mech, &p, sizeof p};
    Template t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY);
    CK_OBJECT_HANDLE k = 0;
    ASSERT_EQ(f->C_GenerateKey(s, &m, t.data(), t.size(), &k), CKR_OK);
    Bytes ref = pbkdf1Reference(c.md2, pw, salt, c.iterations);
    EXPECT_EQ(attribute(s, k, CKA_VALUE), Bytes(ref.begin(), ref.begin() + 8));
    EXPECT_EQ(iv, Bytes(ref.begin() + 8, ref.end()));
    EXPECT_EQ(attribute(s, k, CKA_KEY_TYPE),
              attribute(s, secret(s, CKK_DES, Bytes(8, 1)), CKA_KEY_TYPE));

    Bytes msg = str("password-based ciphertext");
    CK_MECHANISM cbc{CKM_DES_CBC_PAD, iv.data(), 8};
    Bytes ct;
    ASSERT_EQ(crypt(true, s, cbc, k, msg, ct), CKR_OK);
    EXPECT_EQ(ct,
              opensslCipher("DES-CBC", true, true, Bytes(ref.begin(), ref.begin() + 8), iv, msg));
  }
  Bytes pw = str("pw");
  PbeParams zeroIter{nullptr, pw.data(), pw.size(), nullptr, 0, 0};
  CK_MECHANISM m{CKM_PBE_MD5_DES_CBC, &zeroIter, sizeof zeroIter};
  CK_OBJECT_HANDLE k = 0;
  EXPECT_EQ(f->C_GenerateKey(s, &m, nullptr, 0, &k), CKR_MECHANISM_PARAM_INVALID);
  m.ulParameterLen = 24;  // a 32-bit record size is not this platform's CK_PBE_PARAMS
  EXPECT_EQ(f->C_GenerateKey(s, &m, nullptr, 0, &k), CKR_MECHANISM_PARAM_INVALID);
}

}  // namespace
}  // namespace p11test
