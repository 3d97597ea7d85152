// Shared helpers of the test suites: hex, exact-size blocks, allocation
// faults, captured log lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mosk_test.h"
#include "rycert2.h"

namespace rytest {

using Bytes = std::vector<uint8_t>;

// "30 03 02 01 05" or "3003020105" -> bytes. Aborts the test on bad hex.
Bytes hex(const std::string &text);
std::string toHex(const uint8_t *p, size_t n);
inline std::string toHex(const Bytes &b) { return toHex(b.data(), b.size()); }
Bytes bytesOf(const AnyBuf *b);
inline Bytes str(const std::string &s) { return Bytes(s.begin(), s.end()); }

// A heap block of exactly the bytes given, so that ASan catches any read
// past the end.
class ExactBlock {
 public:
  explicit ExactBlock(const Bytes &b);
  uint8_t *data() { return p_.get(); }
  size_t size() const { return n_; }

 private:
  std::unique_ptr<uint8_t[]> p_;
  size_t n_;
};

// An encoded record over an exact-size copy of `b`, as the codec would
// hand it out (tag derived from the first octet, reserved 2). Released by
// the destructor unless taken.
class Rec {
 public:
  explicit Rec(const Bytes &b);
  ~Rec();
  Rec(const Rec &) = delete;
  Rec &operator=(const Rec &) = delete;
  AnyBuf *get() { return &buf_; }
  AnyBuf *operator->() { return &buf_; }

 private:
  AnyBuf buf_{};
};

// Owns a chain returned by the library.
struct ChainDeleter {
  void operator()(AnyBuf *p) const { Hx_FreeAnybuf(p); }
};
using Chain = std::unique_ptr<AnyBuf, ChainDeleter>;

// Captures the library's log lines for the lifetime of the object.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::vector<std::string> lines() const;
  bool contains(const std::string &line) const;
};

// Runs `scenario` with the n-th allocation failing, for n = 0, 1, ... until
// a run completes without meeting the fault. Each run must return `ok` or
// `onFault` (or a status that `accept` allows) and leave no block live.
// Runs both transient (one failure) and persistent faults. Returns the
// number of allocations the scenario made.
int sweepAllocationFailures(const std::function<uint32_t()> &scenario,
                            uint32_t onFault = RYCERT_MemoryErr, uint32_t ok = RYCERT_OK);

int64_t liveBlocks();

}  // namespace rytest
