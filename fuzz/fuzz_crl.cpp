// RyCert_DecodeCrl on arbitrary bytes held in an exact-size block, then
// every query, the whole entry walk and the encoder. Invariants:
//   - nothing leaks and nothing is read outside the input;
//   - a refused input leaves a fresh context empty (TBS length 0);
//   - an accepted input answers every query; the entry walk ends (each
//     step moves forward) with a serial-number length of 0;
//   - encoding a decoded context returns exactly the input's CRL.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const int64_t live = MOSK_TestLiveBlocks();
  AnyBuf in = fuzzRecord(data, size);
  CrlCtx *ctx = nullptr;
  FUZZ_CHECK(RyCert_CreateCrlDecodeCtx(&ctx) == RYCERT_OK);
  const uint32_t rc = RyCert_DecodeCrl(ctx, in.data, in.length);
  uint32_t len = 0;
  if (rc != RYCERT_OK) {
    FUZZ_CHECK(RyCert_GetCrlAttributeChar(ctx, CRL_TBS_CERTLIST, nullptr, &len) == RYCERT_OK);
    FUZZ_CHECK(len == 0);
  } else {
    std::vector<uint8_t> buf;
    for (uint32_t id = 1000; id <= 1064; ++id) {
      if (id == CRL_CERT_NEXT) {
        continue;
      }
      len = 0;
      const uint32_t st = RyCert_GetCrlAttributeChar(ctx, id, nullptr, &len);
      if (st == RYCERT_OK) {
        buf.assign(len + 1, 0);
        FUZZ_CHECK(RyCert_GetCrlAttributeChar(ctx, id, buf.data(), &len) == RYCERT_OK);
      } else {
        uint32_t v = 0;
        FUZZ_CHECK(st == RYCERT_AttributeNotSupportErr);
        const uint32_t si = RyCert_GetCrlAttributeInt(ctx, id, &v);
        FUZZ_CHECK(si == RYCERT_OK || si == RYCERT_AttributeNotSupportErr);
      }
    }
    for (size_t steps = 0;; ++steps) {
      FUZZ_CHECK(steps <= size);
      len = 0;
      FUZZ_CHECK(RyCert_GetCrlAttributeChar(ctx, CRL_CERT_SERIALNUMBER, nullptr, &len) == 0);
      if (len == 0) {
        break;
      }
      uint32_t date = 0;
      FUZZ_CHECK(RyCert_GetCrlAttributeInt(ctx, CRL_CERT_REVOCATIONDATE, &date) == 0);
      FUZZ_CHECK(RyCert_GetCrlAttributeChar(ctx, CRL_CERT_NEXT, nullptr, nullptr) == 0);
    }
    uint32_t total = 0;
    FUZZ_CHECK(RyAsn1_GetCertLength(in.data, &total) == RYCERT_OK);
    FUZZ_CHECK(RyCert_EncodeCrl(ctx, nullptr, &len) == RYCERT_OK && len == total);
    buf.assign(len, 0);
    FUZZ_CHECK(RyCert_EncodeCrl(ctx, buf.data(), &len) == RYCERT_OK);
    FUZZ_CHECK(std::equal(buf.begin(), buf.end(), in.data));
  }
  RyCert_DestroyCrlDecodeCtx(ctx);
  Hx_ClearAnybuf(&in);
  FUZZ_CHECK(MOSK_TestLiveBlocks() == live);
  return 0;
}
