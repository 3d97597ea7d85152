// Table rows run through adapters: each makes one kind of call on the row's
// input and writes what a caller observes as text ("-" when not written).
#pragma once

#include <span>

#include "test_support.h"

namespace asn2test {

using rytest::Bytes;
using rytest::hex;

// An input record over an exact-size new[] block, out of the faults' reach;
// tag from the first octet, 3 unused bits, which only a BIT STRING passes on.
struct In {
  explicit In(const std::string &h) : block(hex(h)) {
    buf.data = block.size() != 0 ? block.data() : nullptr;
    buf.length = uint32_t(block.size());
    buf.tag = buf.data == nullptr ? 0 : (buf.data[0] & 0x80) ? buf.data[0] : buf.data[0] & 0x1Fu;
    buf.unusedBits = 3;
    buf.reserved = 2;
  }
  operator AnyBuf *() { return &buf; }
  rytest::ExactBlock block;
  AnyBuf buf{};
};

inline AnyBuf gUntouched;
inline AnyBuf *const kUntouched = &gUntouched;  // out-parameter sentinel

// "tag:HEX", then "/unusedBits" and " r<reserved>" unless 0 and 2.
inline std::string describe(const AnyBuf &b) {
  std::string s = std::to_string(b.tag) + ":" + rytest::toHex(rytest::bytesOf(&b));
  s += b.unusedBits != 0 ? "/" + std::to_string(b.unusedBits) : "";
  return s + (b.reserved != 2 ? " r" + std::to_string(b.reserved) : "");
}

// A returned chain ("null" for none), back links checked, then released;
// `r` is read after the call that fills it.
inline uint32_t shown(uint32_t st, AnyBuf *const &r, std::string &out) {
  out = r == kUntouched ? "-" : r == nullptr ? "null" : "";
  for (const AnyBuf *p = r, *prev = nullptr; r != kUntouched && p != nullptr;
       prev = p, p = p->next) {
    EXPECT_EQ(p->prev, prev);
    out += (prev != nullptr ? " " : "") + describe(*p);
  }
  Hx_FreeAnybuf(r == kUntouched ? nullptr : r);
  return st;
}

// Readers of a number: "-" when not written.
template <class T, uint32_t (*Fn)(const AnyBuf *, T *)>
uint32_t number(const std::string &in, std::string &out) {
  In v(in);
  T x = T(0xA5A5A5A5);
  const uint32_t st = Fn(v, &x);
  out = x == T(0xA5A5A5A5) ? "-" : std::to_string(x);
  return st;
}

using Op = uint32_t (*)(const std::string &in, std::string &out);

struct Row {
  const char *name;
  Op op;
  const char *in;
  uint32_t status;
  const char *out, *log = nullptr;  // log: a line logged; "" when none may be
};

// Each row runs with a fault on each allocation in turn (100, "------>MOSK_Malloc"
// logged, nothing written, nothing left live), then once without.
inline void expectRows(std::span<const Row> rows) {
  for (const Row &c : rows) {
    SCOPED_TRACE(c.name);
    std::string out;
    const auto faulted = [&] {
      rytest::LogCapture log;
      const uint32_t st = c.op(c.in, out);
      if (MOSK_TestFaultFired()) {
        EXPECT_TRUE(log.contains("------>MOSK_Malloc"));
        EXPECT_EQ(out.substr(0, 1), "-") << out;
      }
      return st;
    };
    rytest::sweepAllocationFailures(faulted, RYCERT_MemoryErr, c.status);
    rytest::LogCapture log;
    EXPECT_EQ(c.op(c.in, out), c.status);
    EXPECT_EQ(out, c.out);
    if (c.log != nullptr) {
      EXPECT_TRUE(*c.log != 0 ? log.contains(c.log) : log.lines().empty()) << c.log;
    }
  }
}

// Every prefix of a valid element and the element plus one byte, in
// exact-size blocks: only the element itself is accepted; nothing leaks.
inline void expectOnlyWhole(const char *name, Op op, const std::string &validHex) {
  SCOPED_TRACE(name);
  const int64_t live = rytest::liveBlocks();
  std::string out;
  const Bytes valid = hex(validHex + "00");
  for (size_t n = 0; n <= valid.size(); ++n) {
    const uint32_t st = op(rytest::toHex(valid.data(), n), out);
    EXPECT_EQ(st == RYCERT_OK, n + 1 == valid.size()) << n << " bytes: " << st;
  }
  EXPECT_EQ(rytest::liveBlocks(), live);
}

}  // namespace asn2test
