// RSA key records to PKCS#1 DER and back, the wrapping for key import, and
// subjectPublicKeyInfo decoding; checked against libcrypto (keys it
// generates, certificates of the corpus) and the openssl command.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "x509_peer.h"

namespace {

using rytest::Bytes;
using rytest::cat;
using rytest::ExactBlock;
using rytest::hex;
using rytest::liveBlocks;
using rytest::Rec;
using rytest::tlv;
using rytest::toHex;

const char kRsaOidElement[] = "06092A864886F70D010101";

// ------------------------------------------------------ records

// A key record between two guard areas, so a write outside the record
// shows. The record itself starts filled with 0x5A.
template <class Key>
struct Guarded {
  static constexpr uint8_t kGuard = 0xA5;
  uint8_t before[64];
  Key key;
  uint8_t after[64];
  Guarded() {
    std::memset(before, kGuard, sizeof before);
    std::memset(&key, 0x5A, sizeof key);
    std::memset(after, kGuard, sizeof after);
  }
  bool guardsIntact() const {
    return std::all_of(std::begin(before), std::end(before),
                       [](uint8_t b) { return b == kGuard; }) &&
           std::all_of(std::begin(after), std::end(after), [](uint8_t b) { return b == kGuard; });
  }
};

// Puts a magnitude right-aligned into a field, zeros in front.
template <size_t N>
void put(uint8_t (&field)[N], const Bytes &mag) {
  ASSERT_LE(mag.size(), N);
  std::memset(field, 0, N);
  if (!mag.empty()) {
    std::memcpy(field + N - mag.size(), mag.data(), mag.size());
  }
}

template <size_t N>
Bytes fieldBytes(const uint8_t (&field)[N]) {
  return Bytes(field, field + N);
}

// The fields of a private key record in order, as spans.
std::vector<std::pair<uint8_t *, size_t>> fieldsOf(RyRsaPrivateKey &k) {
  return {{k.modulus, 256},   {k.publicExponent, 256}, {k.privateExponent, 256},
          {k.prime1, 128},    {k.prime2, 128},         {k.exponent1, 128},
          {k.exponent2, 128}, {k.coefficient, 128}};
}

RyRsaPublicKey publicKey(const Bytes &n, const Bytes &e) {
  RyRsaPublicKey k;
  put(k.modulus, n);
  put(k.publicExponent, e);
  return k;
}

Bytes pattern(size_t n, uint8_t first, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = uint8_t(seed + 37 * i);
  }
  b[0] = first;
  return b;
}

struct Encoded {
  uint32_t rc;
  Bytes der;
};

// The two-call way: the length with a NULL buffer, then the bytes into a
// block of exactly that length.
template <class Key>
Encoded encodeKey(uint32_t (*fn)(const Key *, uint8_t *, uint32_t *), const Key &key) {
  uint32_t len = 0xDEADBEEF;
  const uint32_t rc = fn(&key, nullptr, &len);
  if (rc != RYCERT_OK) {
    EXPECT_EQ(len, 0xDEADBEEFu) << "length written on failure";
    return {rc, {}};
  }
  ExactBlock out(Bytes(len, 0xEE));
  uint32_t len2 = 0;
  EXPECT_EQ(fn(&key, out.data(), &len2), RYCERT_OK);
  EXPECT_EQ(len2, len);
  return {rc, Bytes(out.data(), out.data() + len)};
}
Encoded encode(const RyRsaPublicKey &k) { return encodeKey(Ry_Encode_PublicKey, k); }
Encoded encode(const RyRsaPrivateKey &k) { return encodeKey(Ry_Encode_PrivateKey, k); }

template <class Key>
struct Decoded {
  uint32_t rc;
  Guarded<Key> g;
};

// Decodes from an exact-size block into a guarded record.
template <class Key>
std::unique_ptr<Decoded<Key>> decodeKey(uint32_t (*fn)(Key *, const uint8_t *, int32_t),
                                        const Bytes &der) {
  auto d = std::make_unique<Decoded<Key>>();
  ExactBlock in(der);
  d->rc = fn(&d->g.key, in.data(), int32_t(der.size()));
  EXPECT_TRUE(d->g.guardsIntact()) << "written outside the record";
  return d;
}
auto decodePublic(const Bytes &der) { return decodeKey(Ry_Decode_PublicKey, der); }
auto decodePrivate(const Bytes &der) { return decodeKey(Ry_Decode_PrivateKey, der); }

Bytes integer(const Bytes &content) { return tlv(0x02, content); }

// ========================================================== encoding

TEST(KeyEncode, PublicKeyOf2048Bits) {
  const Bytes n = pattern(256, 0xC3, 11);
  const RyRsaPublicKey k = publicKey(n, hex("010001"));
  const Encoded e = encode(k);
  ASSERT_EQ(e.rc, RYCERT_OK);
  EXPECT_EQ(e.der.size(), 270u);
  EXPECT_EQ(toHex(e.der), toHex(cat({hex("3082010A 02820101 00"), n, hex("0203010001")})));

  const auto d = decodePublic(e.der);
  ASSERT_EQ(d->rc, RYCERT_OK);
  EXPECT_EQ(std::memcmp(&d->g.key, &k, sizeof k), 0);
}

TEST(KeyEncode, PrivateKeyOf1024Bits) {
  RyRsaPrivateKey k;
  put(k.modulus, pattern(128, 0xC5, 1));
  put(k.publicExponent, hex("010001"));
  put(k.privateExponent, pattern(128, 0x3F, 2));
  put(k.prime1, pattern(64, 0xE1, 3));
  put(k.prime2, pattern(64, 0xD3, 4));
  put(k.exponent1, pattern(64, 0x41, 5));
  put(k.exponent2, pattern(64, 0x42, 6));
  put(k.coefficient, pattern(64, 0x43, 7));
  const Encoded e = encode(k);
  ASSERT_EQ(e.rc, RYCERT_OK);
  // 3 + 132 + 5 + 131 + 2 * 67 + 3 * 66 content octets.
  EXPECT_EQ(toHex(Bytes(e.der.begin(), e.der.begin() + 11)), "3082025B02010002818100");
  EXPECT_EQ(e.der.size(), 607u);

  const auto d = decodePrivate(e.der);
  ASSERT_EQ(d->rc, RYCERT_OK);
  EXPECT_EQ(std::memcmp(&d->g.key, &k, sizeof k), 0);
}

TEST(KeyEncode, IntegerForms) {
  struct Case {
    const char *name;
    Bytes n, e;
    Bytes der;
  };
  const Bytes full = cat({hex("7F"), Bytes(255, 0x11)});
  const Bytes fullTop = cat({hex("80"), Bytes(255, 0x22)});
  const Case cases[] = {
      {"one-octet numbers", hex("05"), hex("03"), hex("3006 020105 020103")},
      {"top bit set gets a sign octet", hex("80"), hex("01"), hex("3007 02020080 020101")},
      {"0x7F needs no sign octet", hex("7F"), hex("FF"), hex("3007 02017F 020200FF")},
      {"zeros in front are not written", hex("00001234"), hex("0003"), hex("3007 02021234 020103")},
      {"full field, top bit clear", full, hex("03"),
       cat({hex("30820107 02820100"), full, hex("020103")})},
      {"full exponent field, top bit set", hex("05"), fullTop,
       cat({hex("30820108 020105 0282010100"), fullTop})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Encoded e = encode(publicKey(c.n, c.e));
    ASSERT_EQ(e.rc, RYCERT_OK);
    EXPECT_EQ(toHex(e.der), toHex(c.der));
  }
}

TEST(KeyEncode, RefusesZeroFieldsAndNullPointers) {
  const RyRsaPublicKey zeroN = publicKey({}, hex("03"));
  const RyRsaPublicKey zeroE = publicKey(hex("05"), {});
  EXPECT_EQ(encode(zeroN).rc, RYCERT_MemoryErr);
  EXPECT_EQ(encode(zeroE).rc, RYCERT_MemoryErr);
  RyRsaPrivateKey k;
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE("private key field " + std::to_string(i) + " all zeros");
    auto fields = fieldsOf(k);
    for (auto [p, n] : fields) {
      std::memset(p, 0, n);
      p[n - 1] = 0x07;
    }
    std::memset(fields[i].first, 0, fields[i].second);
    EXPECT_EQ(encode(k).rc, RYCERT_MemoryErr);
  }
  uint32_t len = 0;
  uint8_t buf[8];
  EXPECT_EQ(Ry_Encode_PublicKey(nullptr, buf, &len), RYCERT_MemoryErr);
  EXPECT_EQ(Ry_Encode_PrivateKey(nullptr, nullptr, &len), RYCERT_MemoryErr);
  EXPECT_EQ(Ry_Encode_PublicKey(&zeroN, nullptr, nullptr), RYCERT_MemoryErr);
}

// ========================================================== decoding

struct PublicReadCase {
  const char *name;
  Bytes der;
  uint32_t status;
  Bytes n = {}, e = {};  // significant bytes on success
};

TEST(KeyDecode, PublicKeyElements) {
  const Bytes big = cat({hex("01"), Bytes(256, 0x33)});  // 257 octets: one too many
  const PublicReadCase cases[] = {
      {"small numbers", hex("3006 020105 020103"), RYCERT_OK, hex("05"), hex("03")},
      {"sign octet dropped", hex("3007 02020080 020101"), RYCERT_OK, hex("80"), hex("01")},
      {"elements after the exponent are ignored", hex("3009 020105 020103 020107"), RYCERT_OK,
       hex("05"), hex("03")},
      {"zero INTEGER leaves the field zero", hex("3006 020100 020103"), RYCERT_OK, {}, hex("03")},
      {"modulus of 256 octets after its sign octet",
       cat({hex("3082010A 02820101 00"), Bytes(256, 0x99), hex("0203010001")}), RYCERT_OK,
       Bytes(256, 0x99), hex("010001")},
      {"modulus only", hex("3003 020105"), RYCERT_KeyElementMissingErr},
      {"empty SEQUENCE", hex("3000"), RYCERT_KeyElementMissingErr},
      {"exponent is an OCTET STRING", hex("3006 020105 040103"), RYCERT_TagNotMatchErr},
      {"modulus is a SEQUENCE", hex("3008 3003020105 020103"), RYCERT_TagNotMatchErr},
      {"empty INTEGER", hex("3005 0200 020103"), RYCERT_InvalidLengthErr},
      {"modulus longer than its field", tlv(0x30, cat({integer(big), integer(hex("03"))})),
       RYCERT_InvalidLengthErr},
      {"exponent longer than its field", tlv(0x30, cat({integer(hex("05")), integer(big)})),
       RYCERT_InvalidLengthErr},
      {"SET instead of SEQUENCE", hex("3106 020105 020103"), RYCERT_TagNotMatchErr},
      {"byte after the SEQUENCE", hex("3006 020105 020103 00"), RYCERT_LengthNotEqualErr},
      {"element overruns the SEQUENCE", hex("3006 020105 020203"), RYCERT_InvalidLengthErr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const auto d = decodePublic(c.der);
    EXPECT_EQ(d->rc, c.status);
    if (c.status == RYCERT_OK) {
      EXPECT_EQ(toHex(fieldBytes(d->g.key.modulus)), toHex(publicKey(c.n, c.e).modulus, 256));
      EXPECT_EQ(toHex(fieldBytes(d->g.key.publicExponent)),
                toHex(publicKey(c.n, c.e).publicExponent, 256));
    }
  }
}

TEST(KeyDecode, PrivateKeyElements) {
  const Bytes two = hex("020102");
  const auto seqOf = [](int count, const Bytes &last) {
    Bytes content = hex("020100");  // version
    for (int i = 1; i < count; ++i) {
      content = cat({content, integer(hex("0B"))});
    }
    return tlv(0x30, cat({content, last}));
  };
  struct Case {
    const char *name;
    Bytes der;
    uint32_t status;
    const char *fields;  // per field: 'B' holds 0x0B, 'C' holds 0x0C, '0' all zeros
  };
  const Case cases[] = {
      {"version and all eight fields", seqOf(8, integer(hex("0C"))), RYCERT_OK, "BBBBBBBC"},
      {"further elements are ignored", seqOf(8, cat({integer(hex("0C")), two, two})), RYCERT_OK,
       "BBBBBBBC"},
      {"SEQUENCE { 0, n, e }", seqOf(2, integer(hex("0C"))), RYCERT_KeyElementMissingErr,
       "BC000000"},
      {"version only", hex("3003 020100"), RYCERT_KeyElementMissingErr, "00000000"},
      {"empty SEQUENCE", hex("3000"), RYCERT_KeyElementMissingErr, "00000000"},
      {"prime1 is a NULL", seqOf(4, hex("0500")), RYCERT_TagNotMatchErr, "BBB00000"},
      {"prime1 longer than its 128 octets", seqOf(4, integer(Bytes(129, 0x44))),
       RYCERT_InvalidLengthErr, "BBB00000"},
      {"coefficient longer than its 128 octets", seqOf(8, integer(Bytes(129, 0x44))),
       RYCERT_InvalidLengthErr, "BBBBBBB0"},
      {"private exponent longer than its 256 octets", seqOf(3, integer(Bytes(257, 0x44))),
       RYCERT_InvalidLengthErr, "BB000000"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto d = decodePrivate(c.der);
    EXPECT_EQ(d->rc, c.status);
    // Fields up to the failing one are filled, the rest are zero.
    const auto fields = fieldsOf(d->g.key);
    for (size_t i = 0; i < fields.size(); ++i) {
      const auto [p, n] = fields[i];
      const uint8_t last = c.fields[i] == 'B' ? 0x0B : c.fields[i] == 'C' ? 0x0C : 0x00;
      EXPECT_EQ(p[n - 1], last) << "field " << i;
      EXPECT_TRUE(std::all_of(p, p + n - 1, [](uint8_t b) { return b == 0; })) << "field " << i;
    }
  }
}

TEST(KeyDecode, RefusesLengthsAndPointersBeforeTouchingTheRecord) {
  const Bytes der = hex("3006 020105 020103");
  for (int32_t len : {0, -1, INT32_MIN}) {
    SCOPED_TRACE(len);
    Guarded<RyRsaPublicKey> pub;
    Guarded<RyRsaPrivateKey> priv;
    EXPECT_EQ(Ry_Decode_PublicKey(&pub.key, der.data(), len), RYCERT_InvalidLengthErr);
    EXPECT_EQ(Ry_Decode_PrivateKey(&priv.key, der.data(), len), RYCERT_InvalidLengthErr);
    EXPECT_EQ(pub.key.modulus[0], 0x5A);
    EXPECT_EQ(priv.key.coefficient[127], 0x5A);
  }
  RyRsaPublicKey pub;
  RyRsaPrivateKey priv;
  EXPECT_EQ(Ry_Decode_PublicKey(nullptr, der.data(), int32_t(der.size())), RYCERT_MemoryErr);
  EXPECT_EQ(Ry_Decode_PublicKey(&pub, nullptr, 8), RYCERT_MemoryErr);
  EXPECT_EQ(Ry_Decode_PrivateKey(nullptr, der.data(), int32_t(der.size())), RYCERT_MemoryErr);
  EXPECT_EQ(Ry_Decode_PrivateKey(&priv, nullptr, 8), RYCERT_MemoryErr);
}

// ========================================================== log lines

TEST(KeyLog, EntryAndNullPointerLines) {
  const RyRsaPublicKey pub = publicKey(hex("05"), hex("03"));
  RyRsaPublicKey pubOut;
  RyRsaPrivateKey priv;
  for (auto [p, n] : fieldsOf(priv)) {
    std::memset(p, 0, n);
    p[n - 1] = 3;
  }
  const Bytes der = hex("3006 020105 020103");
  uint32_t len = 0;
  struct Case {
    const char *name;
    std::function<uint32_t()> call;
    uint32_t status;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"public key encoding",
       [&] { return Ry_Encode_PublicKey(&pub, nullptr, &len); },
       RYCERT_OK,
       {"======>Ry_Encode_PublicKey"}},
      {"private key encoding",
       [&] { return Ry_Encode_PrivateKey(&priv, nullptr, &len); },
       RYCERT_OK,
       {"======>Ry_Encode_PrivateKey"}},
      {"public key decoding",
       [&] { return Ry_Decode_PublicKey(&pubOut, der.data(), int32_t(der.size())); },
       RYCERT_OK,
       {"======>Ry_Decode_PublicKey"}},
      {"private key decoding",
       [&] { return Ry_Decode_PrivateKey(&priv, der.data(), int32_t(der.size())); },
       RYCERT_KeyElementMissingErr,
       {"======>Decode PrivateKey;"}},
      {"import wrapping",
       [&] { return Hx_PKCS1to8KEY(der.data(), 8, nullptr, &len); },
       RYCERT_OK,
       {"======>Ry_PKCS1to8KEY"}},
      {"NULL public key record",
       [&] { return Ry_Encode_PublicKey(nullptr, nullptr, &len); },
       RYCERT_MemoryErr,
       {"======>Ry_Encode_PublicKey", "------>Pointer is NULL"}},
      {"NULL private key record",
       [&] { return Ry_Encode_PrivateKey(nullptr, nullptr, &len); },
       RYCERT_MemoryErr,
       {"======>Ry_Encode_PrivateKey", "------>Pointer is NULL"}},
      {"NULL public key DER",
       [&] { return Ry_Decode_PublicKey(&pubOut, nullptr, 8); },
       RYCERT_MemoryErr,
       {"======>Ry_Decode_PublicKey", "------>Pointer is NULL"}},
      {"NULL private key DER",
       [&] { return Ry_Decode_PrivateKey(&priv, nullptr, 8); },
       RYCERT_MemoryErr,
       {"======>Decode PrivateKey;", "------>Pointer is NULL"}},
      {"NULL DER to wrap",
       [&] { return Hx_PKCS1to8KEY(nullptr, 8, nullptr, &len); },
       RYCERT_MemoryErr,
       {"======>Ry_PKCS1to8KEY", "------>Pointer is NULL"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    rytest::LogCapture log;
    EXPECT_EQ(c.call(), c.status);
    auto lines = log.lines();
    if (c.status == RYCERT_OK || c.lines.size() == 2) {
      EXPECT_EQ(lines, c.lines);
    } else {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), c.lines.front());
    }
  }
}

// ========================================================== import wrapping

TEST(KeyWrap, WrapsAnyLengthForImport) {
  struct Case {
    const char *name;
    size_t size;
    const char *head;
  };
  const Case cases[] = {
      {"600 octets", 600, "3082026A 020101 06092A864886F70D010101 04820258"},
      {"one octet", 1, "3011 020101 06092A864886F70D010101 0401"},
      {"short form at its limit", 111, "307F 020101 06092A864886F70D010101 046F"},
      {"128 octets", 128, "308191 020101 06092A864886F70D010101 048180"},
      {"70000 octets", 70000, "3083011183 020101 06092A864886F70D010101 0483011170"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes key = pattern(c.size, 0x30, 9);
    ExactBlock in(key);
    uint32_t len = 0xDEADBEEF;
    ASSERT_EQ(Hx_PKCS1to8KEY(in.data(), uint32_t(key.size()), nullptr, &len), RYCERT_OK);
    const Bytes expected = cat({hex(c.head), key});
    ASSERT_EQ(len, expected.size());
    ExactBlock out(Bytes(len, 0xEE));
    uint32_t len2 = 0;
    ASSERT_EQ(Hx_PKCS1to8KEY(in.data(), uint32_t(key.size()), out.data(), &len2), RYCERT_OK);
    EXPECT_EQ(len2, len);
    EXPECT_TRUE(Bytes(out.data(), out.data() + len) == expected);
  }
  uint32_t len = 0xDEADBEEF;
  const Bytes key = hex("3000");
  EXPECT_EQ(Hx_PKCS1to8KEY(key.data(), 0, nullptr, &len), RYCERT_InvalidLengthErr);
  EXPECT_EQ(Hx_PKCS1to8KEY(key.data(), 2, nullptr, nullptr), RYCERT_MemoryErr);
  EXPECT_EQ(len, 0xDEADBEEFu);
}

// ========================================================== subjectPublicKeyInfo

struct Spki {
  uint32_t rc;
  Bytes algorithm;
  Bytes key;
  bool untouched;  // kind and parameters as they were
};

Spki decodeSpki(const Bytes &der) {
  Rec rec(der);
  PubKeyInfo info{};
  uint8_t marker = 0;
  info.kind = 0x5EED;
  info.parameters.data = &marker;
  info.parameters.length = 1;
  const uint32_t rc = Hx_DecodePubKey(rec.get(), &info);
  Spki s{rc, rytest::bytesOf(&info.algorithm), rytest::bytesOf(&info.key),
         info.kind == 0x5EED && info.parameters.data == &marker && info.parameters.length == 1};
  if (rc == RYCERT_OK) {
    EXPECT_EQ(info.algorithm.next, nullptr);
    EXPECT_EQ(info.algorithm.prev, nullptr);
  } else {
    EXPECT_EQ(info.algorithm.data, nullptr) << "algorithm written on failure";
    EXPECT_EQ(info.key.data, nullptr) << "key written on failure";
  }
  MOSK_Free(info.algorithm.data);
  MOSK_Free(info.key.data);
  return s;
}

TEST(KeyInfo, TakesSubjectPublicKeyInfoApart) {
  struct Case {
    const char *name;
    const char *der;
    uint32_t status;
    const char *algorithm = nullptr;
    const char *key = nullptr;
  };
  const Case cases[] = {
      {"RSA with NULL parameters", "3015 300D 06092A864886F70D010101 0500 0304 00 300100",
       RYCERT_OK, kRsaOidElement, "300100"},
      {"no parameters", "3009 3004 06022A03 0301 00", RYCERT_OK, "06022A03", ""},
      {"parameters are not kept", "300E 3009 06022A03 3003020101 0301 00", RYCERT_OK, "06022A03",
       ""},
      {"SET instead of SEQUENCE", "3109 3004 06022A03 0301 00", RYCERT_TagNotMatchErr},
      {"key missing", "3006 3004 06022A03", RYCERT_InvalidLengthErr},
      {"third element", "300B 3004 06022A03 0301 00 0500", RYCERT_InvalidLengthErr},
      {"algorithm is an OID", "3007 06022A03 0301 00", RYCERT_TagNotMatchErr},
      {"algorithm begins with a NULL", "3007 3002 0500 0301 00", RYCERT_TagNotMatchErr},
      {"broken parameters", "300B 3006 06022A03 0501 0301 00", RYCERT_InvalidLengthErr},
      {"key is an OCTET STRING", "3009 3004 06022A03 0401 00", RYCERT_TagNotMatchErr},
      {"empty BIT STRING", "3008 3004 06022A03 0300", RYCERT_TagNotMatchErr},
      {"eight unused bits", "300A 3004 06022A03 0302 0800", RYCERT_TagNotMatchErr},
      {"byte after the element", "3009 3004 06022A03 0301 00 00", RYCERT_LengthNotEqualErr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Spki s = decodeSpki(hex(c.der));
    EXPECT_EQ(s.rc, c.status);
    EXPECT_TRUE(s.untouched);
    if (c.status == RYCERT_OK) {
      EXPECT_EQ(toHex(s.algorithm), toHex(hex(c.algorithm)));
      EXPECT_EQ(toHex(s.key), toHex(hex(c.key)));
    }
  }
  PubKeyInfo info{};
  EXPECT_EQ(Hx_DecodePubKey(nullptr, &info), RYCERT_MemoryErr);
  Rec rec(hex("3009 3004 06022A03 0301 00"));
  EXPECT_EQ(Hx_DecodePubKey(rec.get(), nullptr), RYCERT_MemoryErr);
}

// ========================================================== prefixes and allocation

// Valid inputs of each decoder, with 2048-bit sizes among them.
Bytes publicVector() {
  return cat({hex("3082010A 02820101 00"), pattern(256, 0xC3, 1), hex("0203010001")});
}
Bytes privateVector() {
  RyRsaPrivateKey k;
  int seed = 0;
  for (auto [p, n] : fieldsOf(k)) {
    const Bytes b = pattern(n, uint8_t(0x81 + seed), uint8_t(seed));
    std::memcpy(p, b.data(), n);
    ++seed;
  }
  return encode(k).der;
}
Bytes spkiVector() {
  return tlv(0x30, cat({hex("300D 06092A864886F70D010101 0500"),
                        tlv(0x03, cat({hex("00"), publicVector()}))}));
}

TEST(KeyPrefixes, EveryPrefixAndAnExtraByteAreRefused) {
  const int64_t base = liveBlocks();
  struct Case {
    const char *name;
    Bytes der;
    std::function<uint32_t(const Bytes &)> decode;
  };
  const Case cases[] = {
      {"RSAPublicKey", publicVector(), [](const Bytes &b) { return decodePublic(b)->rc; }},
      {"RSAPrivateKey", privateVector(), [](const Bytes &b) { return decodePrivate(b)->rc; }},
      {"subjectPublicKeyInfo", spkiVector(), [](const Bytes &b) { return decodeSpki(b).rc; }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.decode(c.der), RYCERT_OK);
    for (size_t n = 0; n < c.der.size(); ++n) {
      ASSERT_NE(c.decode(Bytes(c.der.begin(), c.der.begin() + n)), RYCERT_OK) << "prefix " << n;
    }
    Bytes longer = c.der;
    longer.push_back(0);
    EXPECT_EQ(c.decode(longer), RYCERT_LengthNotEqualErr);
    EXPECT_EQ(liveBlocks(), base);
  }
}

TEST(KeyAllocation, DecodePubKeyReportsEveryFailure) {
  Rec rec(spkiVector());
  const int allocations = rytest::sweepAllocationFailures([&] {
    PubKeyInfo info{};
    const uint32_t rc = Hx_DecodePubKey(rec.get(), &info);
    MOSK_Free(info.algorithm.data);
    MOSK_Free(info.key.data);
    return rc;
  });
  EXPECT_EQ(allocations, 2) << "one copy of the OID element and one of the key";
}

// ========================================================== OpenSSL keys

struct PkeyDeleter {
  void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
struct BnDeleter {
  void operator()(BIGNUM *b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn param(const EVP_PKEY *k, const char *name) {
  BIGNUM *b = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(k, name, &b), 1) << name;
  return Bn(b);
}

const char *const kParamNames[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                                   OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                                   OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                                   OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};

Pkey generate(int bits, unsigned long exponent) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY *k = nullptr;
  BIGNUM *e = BN_new();
  BN_set_word(e, exponent);
  EXPECT_EQ(EVP_PKEY_keygen_init(ctx), 1);
  EXPECT_EQ(EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, bits), 1);
  EXPECT_EQ(EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, e), 1);
  EXPECT_EQ(EVP_PKEY_generate(ctx, &k), 1);
  BN_free(e);
  EVP_PKEY_CTX_free(ctx);
  return Pkey(k);
}

RyRsaPrivateKey privateRecordOf(const EVP_PKEY *k) {
  RyRsaPrivateKey r;
  auto fields = fieldsOf(r);
  for (size_t i = 0; i < fields.size(); ++i) {
    const Bn b = param(k, kParamNames[i]);
    EXPECT_EQ(BN_bn2binpad(b.get(), fields[i].first, int(fields[i].second)), int(fields[i].second));
  }
  return r;
}

RyRsaPublicKey publicRecordOf(const RyRsaPrivateKey &priv) {
  RyRsaPublicKey r;
  std::memcpy(r.modulus, priv.modulus, 256);
  std::memcpy(r.publicExponent, priv.publicExponent, 256);
  return r;
}

Bytes i2dPublic(const EVP_PKEY *k) {
  unsigned char *p = nullptr;
  const int n = i2d_PublicKey(k, &p);
  Bytes out(p, p + std::max(n, 0));
  OPENSSL_free(p);
  return out;
}
Bytes i2dPrivate(const EVP_PKEY *k) {
  unsigned char *p = nullptr;
  const int n = i2d_PrivateKey(k, &p);
  Bytes out(p, p + std::max(n, 0));
  OPENSSL_free(p);
  return out;
}

struct GeneratedKey {
  int bits;
  unsigned long exponent;
};
const GeneratedKey kGenerated[] = {{512, 65537},  {1024, 65537}, {1024, 65537}, {1024, 3},
                                   {1024, 65537}, {2048, 65537}, {2048, 65537}, {2048, 17}};

TEST(KeyInterop, OurDerEqualsLibcryptoDerBothWays) {
  for (const auto &g : kGenerated) {
    SCOPED_TRACE(std::to_string(g.bits) + " bits, e=" + std::to_string(g.exponent));
    const Pkey k = generate(g.bits, g.exponent);
    ASSERT_TRUE(k);
    const RyRsaPrivateKey priv = privateRecordOf(k.get());
    const RyRsaPublicKey pub = publicRecordOf(priv);

    // Ours, byte for byte as libcrypto writes PKCS#1.
    const Encoded ePub = encode(pub);
    const Encoded ePriv = encode(priv);
    ASSERT_EQ(ePub.rc, RYCERT_OK);
    ASSERT_EQ(ePriv.rc, RYCERT_OK);
    EXPECT_EQ(toHex(ePub.der), toHex(i2dPublic(k.get())));
    EXPECT_EQ(toHex(ePriv.der), toHex(i2dPrivate(k.get())));

    // libcrypto reads the same numbers from ours.
    const unsigned char *p = ePriv.der.data();
    Pkey back(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, long(ePriv.der.size())));
    ASSERT_TRUE(back);
    for (const char *name : kParamNames) {
      EXPECT_EQ(BN_cmp(param(back.get(), name).get(), param(k.get(), name).get()), 0) << name;
    }
    p = ePub.der.data();
    Pkey backPub(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, long(ePub.der.size())));
    ASSERT_TRUE(backPub);
    EXPECT_EQ(EVP_PKEY_eq(backPub.get(), k.get()), 1);

    // Ours reads libcrypto's DER into the same records.
    const auto dPub = decodePublic(i2dPublic(k.get()));
    const auto dPriv = decodePrivate(i2dPrivate(k.get()));
    ASSERT_EQ(dPub->rc, RYCERT_OK);
    ASSERT_EQ(dPriv->rc, RYCERT_OK);
    EXPECT_EQ(std::memcmp(&dPub->g.key, &pub, sizeof pub), 0);
    EXPECT_EQ(std::memcmp(&dPriv->g.key, &priv, sizeof priv), 0);
  }
}

TEST(KeyInterop, OpensslCommandAcceptsOurDer) {
  const Pkey k = generate(2048, 65537);
  ASSERT_TRUE(k);
  const RyRsaPrivateKey priv = privateRecordOf(k.get());
  const Encoded ePub = encode(publicRecordOf(priv));
  const Encoded ePriv = encode(priv);
  ASSERT_EQ(ePub.rc, RYCERT_OK);
  ASSERT_EQ(ePriv.rc, RYCERT_OK);
  const std::string pubPath = testing::TempDir() + "rycert_keys_pub.der";
  const std::string privPath = testing::TempDir() + "rycert_keys_priv.der";
  rytest::writeFile(pubPath, ePub.der);
  rytest::writeFile(privPath, ePriv.der);

  int status = 0;
  const std::string modulus = rytest::runCommand(
      "openssl rsa -RSAPublicKey_in -inform DER -noout -modulus -in " + pubPath + " 2>&1", status);
  EXPECT_EQ(status, 0) << modulus;
  char *nHex = BN_bn2hex(param(k.get(), OSSL_PKEY_PARAM_RSA_N).get());
  EXPECT_EQ(modulus, std::string("Modulus=") + nHex + "\n");
  OPENSSL_free(nHex);

  const std::string check =
      rytest::runCommand("openssl rsa -inform DER -check -noout -in " + privPath + " 2>&1", status);
  EXPECT_EQ(status, 0) << check;
  EXPECT_EQ(check, "RSA key ok\n");
}

// ========================================================== corpus certificates

TEST(KeyCorpus, CertificateKeysDecodeAsLibcryptoReadsThem) {
  int decoded = 0, rsaInRecord = 0, rsaTooLarge = 0, identicalDer = 0;
  const int64_t base = liveBlocks();
  for (const auto &c : rytest::corpusCertificates()) {
    SCOPED_TRACE(c.where);
    X509_PUBKEY *xpk = X509_get_X509_PUBKEY(c.cert.get());
    unsigned char *p = nullptr;
    const int n = i2d_X509_PUBKEY(xpk, &p);
    ASSERT_GT(n, 0);
    const Bytes spki(p, p + n);
    OPENSSL_free(p);

    ASN1_OBJECT *alg = nullptr;
    const unsigned char *keyBits = nullptr;
    int keyLen = 0;
    ASSERT_EQ(X509_PUBKEY_get0_param(&alg, &keyBits, &keyLen, nullptr, xpk), 1);
    unsigned char *q = nullptr;
    const int oidLen = i2d_ASN1_OBJECT(alg, &q);
    const Bytes oidElement(q, q + std::max(oidLen, 0));
    OPENSSL_free(q);

    const Spki s = decodeSpki(spki);
    ASSERT_EQ(s.rc, RYCERT_OK);
    EXPECT_EQ(toHex(s.algorithm), toHex(oidElement));
    EXPECT_EQ(toHex(s.key), toHex(keyBits, size_t(keyLen)));
    ++decoded;

    if (OBJ_obj2nid(alg) != NID_rsaEncryption) {
      continue;
    }
    EXPECT_EQ(toHex(s.algorithm), kRsaOidElement);
    EVP_PKEY *pk = X509_get0_pubkey(c.cert.get());
    ASSERT_NE(pk, nullptr);
    const auto d = decodePublic(s.key);
    if (EVP_PKEY_get_bits(pk) > 2048) {
      EXPECT_EQ(d->rc, RYCERT_InvalidLengthErr) << "modulus larger than its field";
      ++rsaTooLarge;
      continue;
    }
    ASSERT_EQ(d->rc, RYCERT_OK);
    RyRsaPublicKey expected;
    EXPECT_GT(BN_bn2binpad(param(pk, OSSL_PKEY_PARAM_RSA_N).get(), expected.modulus, 256), 0);
    EXPECT_GT(BN_bn2binpad(param(pk, OSSL_PKEY_PARAM_RSA_E).get(), expected.publicExponent, 256),
              0);
    EXPECT_EQ(std::memcmp(&d->g.key, &expected, sizeof expected), 0);
    // A few corpus keys write the modulus without its sign octet; both
    // readers take the magnitude, and both writers put the octet back.
    EXPECT_EQ(toHex(encode(d->g.key).der), toHex(i2dPublic(pk)));
    identicalDer += s.key == i2dPublic(pk);
    ++rsaInRecord;
  }
  EXPECT_EQ(liveBlocks(), base);
  EXPECT_GE(decoded, 280);
  EXPECT_GE(rsaInRecord, 190);
  EXPECT_GE(identicalDer, 190);
  EXPECT_GE(rsaTooLarge, 55);
}

}  // namespace
