// Ry_ParseDN on arbitrary text, then Ry_GenerateDN of the parts it found.
// Every buffer is an exact-size heap block: the parse writes no more than
// the lengths it reports, and the joined text fits the length Ry_GenerateDN
// reports (at most 1061 bytes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "rycert2.h"

namespace {

constexpr int kParts = 10;

struct Heap {
  std::unique_ptr<uint8_t[]> p;
  explicit Heap(size_t n) : p(new uint8_t[n == 0 ? 1 : n]) {}
  uint8_t *get() { return p.get(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) {
    return 0;
  }
  Heap dn(size);
  std::memcpy(dn.get(), data, size);
  const int32_t dnLen = static_cast<int32_t>(size);

  uint32_t n[kParts];
  const uint32_t rc = Ry_ParseDN(nullptr, &n[0], nullptr, &n[1], nullptr, &n[2], nullptr, &n[3],
                                 nullptr, &n[4], nullptr, &n[5], nullptr, &n[6], nullptr, &n[7],
                                 nullptr, &n[8], nullptr, &n[9], dn.get(), dnLen);
  if (rc != 0) {
    if (size <= 1024) {
      abort();
    }
    for (uint32_t v : n) {
      if (v != 0) {
        abort();
      }
    }
    return 0;
  }

  std::vector<Heap> parts;
  for (int i = 0; i < kParts; ++i) {
    parts.emplace_back(n[i]);
  }
  uint32_t m[kParts];
  if (Ry_ParseDN(parts[0].get(), &m[0], parts[1].get(), &m[1], parts[2].get(), &m[2],
                 parts[3].get(), &m[3], parts[4].get(), &m[4], parts[5].get(), &m[5],
                 parts[6].get(), &m[6], parts[7].get(), &m[7], parts[8].get(), &m[8],
                 parts[9].get(), &m[9], dn.get(), dnLen) != 0 ||
      std::memcmp(m, n, sizeof n) != 0) {
    abort();
  }

  int32_t len[kParts];
  for (int i = 0; i < kParts; ++i) {
    len[i] = static_cast<int32_t>(n[i]);
  }
#define RY_JOIN(out, outLen)                                                            \
  Ry_GenerateDN(parts[0].get(), len[0], parts[1].get(), len[1], parts[2].get(), len[2], \
                parts[3].get(), len[3], parts[4].get(), len[4], parts[5].get(), len[5], \
                parts[6].get(), len[6], parts[7].get(), len[7], parts[8].get(), len[8], \
                parts[9].get(), len[9], (out), (outLen))
  uint32_t joinedLen = 0;
  if (RY_JOIN(nullptr, &joinedLen) != 0) {
    // The parts come from at most 1024 bytes of text, so they fit the limit.
    abort();
  }
  if (joinedLen > 1061) {
    abort();
  }
  Heap joined(joinedLen);
  uint32_t joinedLen2 = 0;
  if (RY_JOIN(joined.get(), &joinedLen2) != 0 || joinedLen2 != joinedLen) {
    abort();
  }
#undef RY_JOIN

  // Every value ended at a comma, so none holds one and the joined text
  // parses to the same lengths, unless its keys take it over the text limit.
  uint32_t k[kParts];
  const uint32_t again =
      Ry_ParseDN(nullptr, &k[0], nullptr, &k[1], nullptr, &k[2], nullptr, &k[3], nullptr, &k[4],
                 nullptr, &k[5], nullptr, &k[6], nullptr, &k[7], nullptr, &k[8], nullptr, &k[9],
                 joined.get(), static_cast<int32_t>(joinedLen));
  if (joinedLen <= 1024 ? (again != 0 || std::memcmp(k, n, sizeof n) != 0)
                        : again != RYCERT_TEXT_FAILED) {
    abort();
  }
  return 0;
}
