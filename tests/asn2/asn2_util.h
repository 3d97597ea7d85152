// Small helpers of the DER codec tests: value records over exact-size
// blocks and encoded records built from hex.
#pragma once

#include "test_support.h"

namespace asn2test {

using rytest::Bytes;
using rytest::Chain;

// A value record over an exact-size block the test owns, so that ASan
// reports a writer that reads past `length`.
class ValueRec {
 public:
  explicit ValueRec(const Bytes &b, uint32_t tag = 0, uint32_t unusedBits = 0) : block_(b) {
    buf_.data = b.empty() ? nullptr : block_.data();
    buf_.length = uint32_t(b.size());
    buf_.tag = tag;
    buf_.unusedBits = unusedBits;
  }
  const AnyBuf *get() const { return &buf_; }

 private:
  rytest::ExactBlock block_;
  AnyBuf buf_{};
};

// Checks the fields every record made by the codec carries.
inline void expectCodecRecord(const AnyBuf *r, uint32_t tag) {
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->tag, tag);
  EXPECT_EQ(r->reserved, 2);
  EXPECT_EQ(r->next, nullptr);
  EXPECT_EQ(r->prev, nullptr);
}

// An encoded record of identifier `id` around `text` (single length octet).
inline Bytes element(uint8_t id, const std::string &text) {
  Bytes b(2 + text.size());
  b[0] = id;
  b[1] = uint8_t(text.size());
  std::copy(text.begin(), text.end(), b.begin() + 2);
  return b;
}

// Runs a reader or writer of the record family and releases its result.
template <uint32_t (*Fn)(const AnyBuf *, AnyBuf **)>
uint32_t runAndRelease(const AnyBuf *in) {
  AnyBuf *out = nullptr;
  const uint32_t st = Fn(in, &out);
  Hx_FreeAnybuf(out);
  return st;
}

}  // namespace asn2test
