// RyCert_DecodeCsr on arbitrary bytes held in an exact-size block, then
// every query, every request attribute and the encoder. Invariants:
//   - nothing leaks and nothing is read outside the input, which is only read;
//   - an accepted input answers every query and attribute; encoding the
//     decoded context returns exactly the input's request.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const int64_t live = MOSK_TestLiveBlocks();
  AnyBuf in = fuzzRecord(data, size);
  CsrCtx *ctx = nullptr;
  FUZZ_CHECK(RyCert_CreateCsrDecodeCtx(&ctx) == RYCERT_OK);
  const uint32_t rc = RyCert_DecodeCsr(ctx, in.data, in.length);
  FUZZ_CHECK(size == 0 || std::equal(data, data + size, in.data));
  if (rc == RYCERT_OK) {
    std::vector<uint8_t> buf;
    uint32_t len = 0;
    for (uint32_t id = 2000; id <= 2028; ++id) {
      len = 0;
      const uint32_t st = RyCert_GetCsrAttributeChar(ctx, id, nullptr, &len);
      if (st == RYCERT_OK) {
        buf.assign(len + 1, 0);
        FUZZ_CHECK(RyCert_GetCsrAttributeChar(ctx, id, buf.data(), &len) == RYCERT_OK);
      } else {
        FUZZ_CHECK(st == RYCERT_AttributeNotSupportErr);
      }
    }
    uint32_t count = 0;
    FUZZ_CHECK(RyCert_GetCsrAttributePrivate(ctx, &count, nullptr, nullptr, nullptr, nullptr) == 0);
    for (uint32_t i = 1; i <= count; ++i) {
      uint32_t index = i;
      uint32_t tl = 0;
      uint32_t vl = 0;
      FUZZ_CHECK(RyCert_GetCsrAttributePrivate(ctx, &index, nullptr, &tl, nullptr, &vl) == 0);
      std::vector<uint8_t> t(tl + 1), v(vl + 1);
      FUZZ_CHECK(RyCert_GetCsrAttributePrivate(ctx, &index, t.data(), &tl, v.data(), &vl) == 0);
      FUZZ_CHECK(index == i && tl != 0 && vl != 0);
    }
    uint32_t total = 0;
    FUZZ_CHECK(RyAsn1_GetCertLength(in.data, &total) == RYCERT_OK);
    FUZZ_CHECK(RyCert_EncodeCsr(ctx, nullptr, &len) == RYCERT_OK && len == total);
    buf.assign(len, 0);
    FUZZ_CHECK(RyCert_EncodeCsr(ctx, buf.data(), &len) == RYCERT_OK);
    FUZZ_CHECK(std::equal(buf.begin(), buf.end(), in.data));
  }
  RyCert_DestroyCsrDecodeCtx(ctx);
  Hx_ClearAnybuf(&in);
  FUZZ_CHECK(MOSK_TestLiveBlocks() == live);
  return 0;
}
