// Ry_Decode_PublicKey and Ry_Decode_PrivateKey on arbitrary bytes, each into
// a record between guard areas, and Hx_DecodePubKey on the bytes in an
// exact-size record. Invariants:
//   - the decoders write nothing outside the record and read nothing
//     outside the input (ASan);
//   - an accepted key with no zero field encodes, and its encoding decodes
//     to the same record; an accepted key with a zero field is refused by
//     the encoder with 100;
//   - the encoders write exactly the length they report;
//   - Hx_DecodePubKey fills algorithm and key exactly when it succeeds, and
//     nothing leaks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"

namespace {

void check(bool ok) { FUZZ_CHECK(ok); }

template <class Key>
struct Guarded {
  uint8_t before[32];
  Key key;
  uint8_t after[32];
  Guarded() {
    std::memset(before, 0xA5, sizeof before);
    std::memset(&key, 0x5A, sizeof key);
    std::memset(after, 0xA5, sizeof after);
  }
  bool intact() const {
    const auto guard = [](uint8_t b) { return b == 0xA5; };
    return std::all_of(before, before + sizeof before, guard) &&
           std::all_of(after, after + sizeof after, guard);
  }
};

bool anyZeroField(const RyRsaPublicKey &k) {
  const auto zero = [](const uint8_t *p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
  };
  return zero(k.modulus, 256) || zero(k.publicExponent, 256);
}

bool anyZeroField(const RyRsaPrivateKey &k) {
  const auto zero = [](const uint8_t *p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
  };
  return zero(k.modulus, 256) || zero(k.publicExponent, 256) || zero(k.privateExponent, 256) ||
         zero(k.prime1, 128) || zero(k.prime2, 128) || zero(k.exponent1, 128) ||
         zero(k.exponent2, 128) || zero(k.coefficient, 128);
}

template <class Key>
void decodeAndReencode(uint32_t (*decode)(Key *, const uint8_t *, int32_t),
                       uint32_t (*encode)(const Key *, uint8_t *, uint32_t *), const uint8_t *data,
                       size_t size) {
  auto g = std::make_unique<Guarded<Key>>();
  const uint32_t rc = decode(&g->key, data, int32_t(size));
  check(g->intact());
  check(size != 0 || rc == RYCERT_InvalidLengthErr);
  if (rc != RYCERT_OK) {
    return;
  }
  uint32_t len = 0;
  const uint32_t enc = encode(&g->key, nullptr, &len);
  if (anyZeroField(g->key)) {
    check(enc == RYCERT_MemoryErr);
    return;
  }
  check(enc == RYCERT_OK && len >= 2);
  // The encoding lands in a buffer with a marked tail that must survive.
  std::unique_ptr<uint8_t[]> der(new uint8_t[len + 16]);
  std::memset(der.get(), 0xEE, len + 16);
  uint32_t len2 = 0;
  check(encode(&g->key, der.get(), &len2) == RYCERT_OK && len2 == len);
  check(std::all_of(der.get() + len, der.get() + len + 16, [](uint8_t b) { return b == 0xEE; }));
  auto back = std::make_unique<Guarded<Key>>();
  check(decode(&back->key, der.get(), int32_t(len)) == RYCERT_OK);
  check(back->intact() && std::memcmp(&back->key, &g->key, sizeof(Key)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) {
    return 0;
  }
  const int64_t base = MOSK_TestLiveBlocks();
  decodeAndReencode(Ry_Decode_PublicKey, Ry_Encode_PublicKey, data, size);
  decodeAndReencode(Ry_Decode_PrivateKey, Ry_Encode_PrivateKey, data, size);

  AnyBuf rec = fuzzRecord(data, size);
  PubKeyInfo info{};
  const uint32_t rc = Hx_DecodePubKey(&rec, &info);
  Hx_ClearAnybuf(&rec);
  if (rc == RYCERT_OK) {
    check(info.algorithm.data != nullptr && info.algorithm.data[0] == 0x06);
    // The key bits of an RSA key are an RSAPublicKey: read them too.
    if (info.key.length != 0) {
      decodeAndReencode(Ry_Decode_PublicKey, Ry_Encode_PublicKey, info.key.data, info.key.length);
    }
  } else {
    check(info.algorithm.data == nullptr && info.key.data == nullptr);
  }
  MOSK_Free(info.algorithm.data);
  MOSK_Free(info.key.data);
  check(MOSK_TestLiveBlocks() == base);
  return 0;
}
