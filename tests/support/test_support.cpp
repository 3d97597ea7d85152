#include "test_support.h"

#include <cctype>
#include <cstdlib>

namespace rytest {

namespace {
// Accounting is switched on before main runs, so every block of a test is
// counted from its allocation to its release.
struct TrackAll {
  TrackAll() { MOSK_TestTrackAllocations(1); }
} gTrackAll;
}  // namespace

Bytes hex(const std::string &text) {
  Bytes out;
  int hi = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      ADD_FAILURE() << "bad hex: " << text;
      return {};
    }
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(uint8_t(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) {
    ADD_FAILURE() << "odd hex: " << text;
  }
  return out;
}

std::string toHex(const uint8_t *p, size_t n) {
  static const char *k = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += k[p[i] >> 4];
    s += k[p[i] & 15];
  }
  return s;
}

Bytes bytesOf(const AnyBuf *b) {
  if (b == nullptr || b->data == nullptr) {
    return {};
  }
  return Bytes(b->data, b->data + b->length);
}

ExactBlock::ExactBlock(const Bytes &b) : p_(new uint8_t[b.empty() ? 1 : b.size()]), n_(b.size()) {
  if (!b.empty()) {
    std::memcpy(p_.get(), b.data(), b.size());
  }
}

Rec::Rec(const Bytes &b) {
  buf_.length = uint32_t(b.size());
  buf_.reserved = 2;
  if (!b.empty()) {
    buf_.data = static_cast<uint8_t *>(MOSK_Malloc("test", __LINE__, b.size()));
    std::memcpy(buf_.data, b.data(), b.size());
    const uint8_t id = b[0];
    buf_.tag = (id & 0x80) ? id : (id & 0x1F);
  }
}

Rec::~Rec() { MOSK_Free(buf_.data); }

LogCapture::LogCapture() {
  MOSK_TestLogClear();
  MOSK_TestCaptureLog(1);
}
LogCapture::~LogCapture() {
  MOSK_TestCaptureLog(0);
  MOSK_TestLogClear();
}
std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> out;
  const uint32_t n = MOSK_TestLogCount();
  for (uint32_t i = 0; i < n; ++i) {
    out.emplace_back(MOSK_TestLogLine(i));
  }
  return out;
}
bool LogCapture::contains(const std::string &line) const {
  for (const auto &l : lines()) {
    if (l == line) {
      return true;
    }
  }
  return false;
}

int64_t liveBlocks() { return MOSK_TestLiveBlocks(); }

int sweepAllocationFailures(const std::function<uint32_t()> &scenario, uint32_t onFault,
                            uint32_t ok) {
  const int64_t base = liveBlocks();
  int allocations = 0;
  for (int persistent = 0; persistent < 2; ++persistent) {
    for (uint64_t n = 0;; ++n) {
      MOSK_TestFailAllocation(n, persistent);
      const uint32_t st = scenario();
      const bool fired = MOSK_TestFaultFired() != 0;
      MOSK_TestClearFault();
      EXPECT_EQ(liveBlocks(), base) << "blocks left live, fault at allocation " << n
                                    << (persistent ? " (persistent)" : " (transient)");
      if (!fired) {
        EXPECT_EQ(st, ok) << "run without fault, n=" << n;
        allocations = int(n);
        break;
      }
      EXPECT_TRUE(st == onFault) << "status " << st << " with fault at allocation " << n
                                 << (persistent ? " (persistent)" : " (transient)");
      if (n > 100000) {
        ADD_FAILURE() << "sweep does not end";
        break;
      }
    }
  }
  return allocations;
}

}  // namespace rytest
