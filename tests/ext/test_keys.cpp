// RSA keys: PKCS#1 DER both ways, import wrapping, subjectPublicKeyInfo; peers and corpus.
#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <span>

#include "x509_peer.h"

namespace {

using namespace rytest;
using Pub = RyRsaPublicKey;
using Priv = RyRsaPrivateKey;

std::vector<std::span<uint8_t>> fieldsOf(Priv &k) {
  return {k.modulus, k.publicExponent, k.privateExponent, k.prime1,
          k.prime2,  k.exponent1,      k.exponent2,       k.coefficient};
}
void put(std::span<uint8_t> field, const Bytes &mag) {  // right-aligned, zeros in front
  std::fill(field.begin(), field.end(), 0);
  std::copy(mag.begin(), mag.end(), field.end() - mag.size());
}
Bytes pattern(size_t n, uint8_t first) {
  Bytes b(n, first);
  std::generate(b.begin() + 1, b.end(), [v = first]() mutable { return v += 37; });
  return b;
}
Pub publicOf(const Priv &k) {
  Pub p;
  std::memcpy(&p, &k, sizeof p);  // modulus and publicExponent lead both records
  return p;
}

// The library's functions by record type; the import wrapping takes the DER as its record.
uint32_t encodeTo(const Pub *k, uint8_t *o, uint32_t *n) { return Ry_Encode_PublicKey(k, o, n); }
uint32_t encodeTo(const Priv *k, uint8_t *o, uint32_t *n) { return Ry_Encode_PrivateKey(k, o, n); }
uint32_t encodeTo(const ExactBlock *der, uint8_t *o, uint32_t *n) {
  return Hx_PKCS1to8KEY(const_cast<ExactBlock *>(der)->data(), uint32_t(der->size()), o, n);
}
uint32_t decodeTo(Pub *k, const uint8_t *d, int32_t n) { return Ry_Decode_PublicKey(k, d, n); }
uint32_t decodeTo(Priv *k, const uint8_t *d, int32_t n) { return Ry_Decode_PrivateKey(k, d, n); }

// Two calls: the length with a NULL buffer, then the bytes into a block of exactly that length.
template <class Key>
Bytes encode(const Key &k) {
  uint32_t len = 0, len2 = 0;
  EXPECT_EQ(encodeTo(&k, nullptr, &len), RYCERT_OK);
  ExactBlock out(Bytes(len, 0xEE));
  EXPECT_EQ(encodeTo(&k, out.data(), &len2), RYCERT_OK);
  EXPECT_EQ(len2, len);
  return Bytes(out.data(), out.data() + len);
}

// Decodes from an exact-size block into a record between two guard areas.
template <class Key>
uint32_t decode(const Bytes &der, Key *out) {
  Bytes g(sizeof(Key) + 128, 0xA5);
  ExactBlock in(der);
  const uint32_t rc = decodeTo(reinterpret_cast<Key *>(&g[64]), in.data(), int32_t(der.size()));
  std::memcpy(out, &g[64], sizeof(Key));
  const auto guard = [&g](size_t at) { return std::count(&g[at], &g[at] + 64, 0xA5); };
  EXPECT_EQ(guard(0) + guard(64 + sizeof(Key)), 128) << "written outside the record";
  return rc;
}

template <class Key>
Bytes roundTrip(const Key &k) {
  Key back;
  const Bytes der = encode(k);
  EXPECT_EQ(decode(der, &back), RYCERT_OK);
  EXPECT_EQ(std::memcmp(&back, &k, sizeof k), 0);
  return der;
}

Priv privateKey1024() {
  Priv k;
  for (auto f : fieldsOf(k)) {
    put(f, pattern(f.size() == 256 ? 128 : 64, uint8_t(0xC1 + f.size())));
  }
  put(k.publicExponent, hex("010001"));
  return k;
}

TEST(KeyEncode, VectorsOfEachWriter) {
  const Bytes n = pattern(256, 0xC3);
  Pub pub;
  put(pub.modulus, n);
  put(pub.publicExponent, hex("010001"));
  const Bytes der = roundTrip(pub);
  EXPECT_EQ(der.size(), 270u);
  EXPECT_EQ(toHex(der), toHex(cat({hex("3082010A 02820101 00"), n, hex("0203010001")})));
  const Bytes privDer = roundTrip(privateKey1024());
  EXPECT_EQ(privDer.size(), 606u);  // 3 + 2 * 132 + 5 + 5 * 66 content octets
  EXPECT_EQ(toHex(Bytes(privDer.begin(), privDer.begin() + 11)), "3082025A02010002818100");
  const Bytes key = pattern(600, 0x30);  // wrapped for import
  EXPECT_EQ(toHex(encode(ExactBlock(key))),
            toHex(cat({hex("3082026A 020101 06092A864886F70D010101 04820258"), key})));
}

// Hx_DecodePubKey's status and, in hex, the algorithm element and the key bits.
std::pair<uint32_t, std::string> decodeSpki(const Bytes &der) {
  Rec rec(der);
  PubKeyInfo info{};
  const uint32_t rc = Hx_DecodePubKey(rec.get(), &info);
  EXPECT_TRUE(rc == RYCERT_OK || (!info.algorithm.data && !info.key.data)) << "written on failure";
  const std::string parts = toHex(bytesOf(&info.algorithm)) + " " + toHex(bytesOf(&info.key));
  MOSK_Free(info.algorithm.data);
  MOSK_Free(info.key.data);
  return {rc, parts};
}

TEST(KeyErrors, StatusAndLogLinesOfEachRefusal) {
  Pub zeroE{}, pub;
  zeroE.modulus[255] = 5;
  Priv priv;
  const Bytes big = cat({hex("01"), Bytes(256, 0x33)});  // one octet more than any field
  const auto seq = [](std::initializer_list<Bytes> elems) { return tlv(0x30, cat(elems)); };
  const Bytes i5 = hex("020105"), i0 = hex("020100");
  uint32_t len = 0;
  struct Case {
    const char *name;
    std::function<uint32_t()> call;
    uint32_t status;
    std::vector<std::string> lines = {};  // the first lines logged
  };
  // clang-format off
  const Case cases[] = {
      {"zero exponent", [&] { return Ry_Encode_PublicKey(&zeroE, nullptr, &len); },
       RYCERT_MemoryErr, {"======>Ry_Encode_PublicKey"}},
      {"NULL public key", [&] { return Ry_Encode_PublicKey(nullptr, nullptr, &len); },
       RYCERT_MemoryErr, {"======>Ry_Encode_PublicKey", "------>Pointer is NULL"}},
      {"NULL private key DER", [&] { return Ry_Decode_PrivateKey(&priv, nullptr, 8); },
       RYCERT_MemoryErr, {"======>Decode PrivateKey;", "------>Pointer is NULL"}},
      {"derLen 0", [&] { return Ry_Decode_PublicKey(&pub, i5.data(), 0); },
       RYCERT_InvalidLengthErr, {"======>Ry_Decode_PublicKey"}},
      {"derLen negative", [&] { return Ry_Decode_PrivateKey(&priv, i5.data(), INT32_MIN); },
       RYCERT_InvalidLengthErr, {"======>Decode PrivateKey;"}},
      {"modulus longer than its field", [&] { return decode(seq({tlv(2, big), i5}), &pub); },
       RYCERT_InvalidLengthErr},
      {"prime1 longer than its field", [&] { return decode(seq({i0, i5, i5, i5, tlv(2, big), i5,
       i5, i5, i5}), &priv); }, RYCERT_InvalidLengthErr},
      {"SEQUENCE {0, n, e}", [&] { return decode(seq({i0, i5, i5}), &priv); },
       RYCERT_KeyElementMissingErr},
      {"exponent is an OCTET STRING", [&] { return decode(seq({i5, hex("040103")}), &pub); },
       RYCERT_TagNotMatchErr},
      {"private key version is an OCTET STRING", [&] { return decode(seq({hex("040100"), i5, i5,
       i5, i5, i5, i5, i5, i5}), &priv); }, RYCERT_TagNotMatchErr},
      {"private key without its version", [&] { return decode(seq({}), &priv); },
       RYCERT_KeyElementMissingErr},
      {"8 unused key bits", [] { return decodeSpki(hex("300A 3004 06022A03 03020800")).first; },
       RYCERT_TagNotMatchErr}};
  // clang-format on
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    EXPECT_EQ(c.call(), c.status);
    std::vector<std::string> lines = log.lines();
    lines.resize(std::min(lines.size(), c.lines.size()));
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(KeyPrefixes, EveryPrefixAndAnExtraByteAreRefusedWithoutLeaks) {
  Pub pub;
  Priv priv;
  const Bytes pubDer = encode(publicOf(privateKey1024()));
  const Bytes spki = tlv(
      0x30, cat({hex("300D 06092A864886F70D010101 0500"), tlv(0x03, cat({hex("00"), pubDer}))}));
  const std::pair<Bytes, std::function<uint32_t(const Bytes &)>> cases[] = {
      {pubDer, [&](const Bytes &b) { return decode(b, &pub); }},
      {encode(privateKey1024()), [&](const Bytes &b) { return decode(b, &priv); }},
      {spki, [](const Bytes &b) { return decodeSpki(b).first; }}};
  const int64_t base = liveBlocks();
  for (const auto &[der, decoder] : cases) {
    SCOPED_TRACE(toHex(der).substr(0, 16));
    ASSERT_EQ(decoder(der), RYCERT_OK);
    for (size_t n = 0; n < der.size(); ++n) {
      ASSERT_NE(decoder(Bytes(der.begin(), der.begin() + n)), RYCERT_OK) << "prefix " << n;
    }
    EXPECT_EQ(decoder(cat({der, {0}})), RYCERT_LengthNotEqualErr);
    EXPECT_EQ(liveBlocks(), base);
  }
}

using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
Bn param(const EVP_PKEY *k, const char *name) {
  BIGNUM *b = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(k, name, &b), 1) << name;
  return Bn(b, BN_free);
}
const char *const kParams[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                               OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                               OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                               OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};

// For RSA, i2d_PublicKey and i2d_PrivateKey write PKCS#1 as i2d_RSA{Public,Private}Key do.
TEST(KeyInterop, OurDerEqualsLibcryptoDerBothWays) {
  for (const unsigned bits : {1024u, 2048u}) {
    SCOPED_TRACE(bits);
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> k(EVP_RSA_gen(bits), EVP_PKEY_free);
    ASSERT_TRUE(k);
    Priv priv;
    for (size_t i = 0; i < 8; ++i) {
      const auto f = fieldsOf(priv)[i];
      BN_bn2binpad(param(k.get(), kParams[i]).get(), f.data(), int(f.size()));
    }
    EXPECT_EQ(toHex(roundTrip(publicOf(priv))), toHex(i2dBytes(i2d_PublicKey, k.get())));
    EXPECT_EQ(toHex(roundTrip(priv)), toHex(i2dBytes(i2d_PrivateKey, k.get())));
    if (bits == 2048) {  // one run of each openssl command on our DER
      char *n = BN_bn2hex(param(k.get(), OSSL_PKEY_PARAM_RSA_N).get());
      const std::string modulus = n, rsa = "openssl rsa -inform DER -noout -in ";
      OPENSSL_free(n);
      int status = 0;
      const std::string pubPath = writeTemp("pub.der", encode(publicOf(priv)));
      EXPECT_EQ(runCommand(rsa + pubPath + " -RSAPublicKey_in -modulus", status),
                "Modulus=" + modulus + "\n");
      EXPECT_EQ(runCommand(rsa + writeTemp("priv.der", encode(priv)) + " -check", status),
                "RSA key ok\n");
    }
  }
}

TEST(KeyCorpus, CertificateKeysDecodeAsLibcryptoReadsThem) {
  int decoded = 0, rsa = 0, tooLarge = 0;
  forEachCorpusCert([&](const std::string &where, X509 *cert) {
    SCOPED_TRACE(where);
    X509_PUBKEY *xpk = X509_get_X509_PUBKEY(cert);
    ASN1_OBJECT *alg = nullptr;
    const unsigned char *bits = nullptr;
    int bitsLen = 0;
    ASSERT_EQ(X509_PUBKEY_get0_param(&alg, &bits, &bitsLen, nullptr, xpk), 1);
    const Bytes key(bits, bits + bitsLen);
    const auto [rc, parts] = decodeSpki(i2dBytes(i2d_X509_PUBKEY, xpk));
    ASSERT_EQ(rc, RYCERT_OK);
    EXPECT_EQ(parts, toHex(i2dBytes(i2d_ASN1_OBJECT, alg)) + " " + toHex(key));
    ++decoded;
    EVP_PKEY *pk = X509_get0_pubkey(cert);
    if (OBJ_obj2nid(alg) != NID_rsaEncryption || pk == nullptr) {
      return;
    }
    // Above 2048 bits the modulus does not fit; else ours writes what we read as libcrypto does.
    Pub got;
    const bool fits = EVP_PKEY_get_bits(pk) <= 2048;
    ASSERT_EQ(decode(key, &got), fits ? RYCERT_OK : RYCERT_InvalidLengthErr);
    EXPECT_EQ(fits ? toHex(encode(got)) : "", fits ? toHex(i2dBytes(i2d_PublicKey, pk)) : "");
    ++(fits ? rsa : tooLarge);
  });
  std::printf("corpus: %d keys, %d RSA keys read, %d above 2048 bits\n", decoded, rsa, tooLarge);
  EXPECT_TRUE(decoded >= 280 && rsa >= 190 && tooLarge >= 55);
}

}  // namespace
