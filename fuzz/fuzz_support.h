// Pieces every fuzz target of the record API shares: the invariant check,
// the input as an exact-size record, and allocation tracking.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mosk_test.h"
#include "rycert2.h"

#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

// The input as the codec would hand it out: an exact-size MOSK block, so
// the sanitizers see any read past its end. Release with Hx_ClearAnybuf.
inline AnyBuf fuzzRecord(const uint8_t *data, size_t size) {
  AnyBuf rec{};
  rec.reserved = 2;
  rec.length = uint32_t(size);
  if (size != 0) {
    rec.data = static_cast<uint8_t *>(MOSK_Malloc("fuzz", __LINE__, size));
    FUZZ_CHECK(rec.data != nullptr);
    std::memcpy(rec.data, data, size);
    rec.tag = (data[0] & 0x80) ? data[0] : (data[0] & 0x1Fu);
  }
  return rec;
}

// Counts allocations from the start, so each run can check for leaks.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  MOSK_TestTrackAllocations(1);
  return 0;
}
