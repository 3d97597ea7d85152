// Runtime services: allocator with cheap test accounting, and the debug log.
#include "mosk.h"
#include "mosk_test.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

namespace {

// Accounting is off unless a test switches it on; when on it costs two
// relaxed atomic operations per call. No lock is taken on this path.
std::atomic<bool> gTracking{false};
std::atomic<int64_t> gLive{0};
std::atomic<uint64_t> gCount{0};

std::atomic<bool> gArmed{false};
std::atomic<bool> gPersistent{false};
std::atomic<bool> gFired{false};
std::atomic<int64_t> gRemaining{-1};

bool faultNow() {
  if (!gArmed.load(std::memory_order_relaxed)) {
    return false;
  }
  const int64_t r = gRemaining.fetch_sub(1, std::memory_order_relaxed);
  if (r == 0) {
    gFired.store(true, std::memory_order_relaxed);
    if (!gPersistent.load(std::memory_order_relaxed)) {
      gArmed.store(false, std::memory_order_relaxed);
    }
    return true;
  }
  return r < 0 && gPersistent.load(std::memory_order_relaxed);
}

// What MOSK_DebugFlag points at: nonzero until the log file has been
// looked for, then nonzero exactly when a line would be captured or
// written. Written only with atomic stores (bit 0: not yet known, bit 1:
// a log file, bit 2: capture).
constexpr int kFlagUnknown = 1;
constexpr int kFlagFile = 2;
constexpr int kFlagCapture = 4;
volatile int gDebugFlag = kFlagUnknown;
std::mutex gFlagMutex;  // orders the read-modify-writes of gDebugFlag

void updateFlag(int clear, int set) {
  std::lock_guard<std::mutex> lock(gFlagMutex);
  const int v = __atomic_load_n(&gDebugFlag, __ATOMIC_RELAXED);
  __atomic_store_n(&gDebugFlag, (v & ~clear) | set, __ATOMIC_RELAXED);
}

// The log file is opened once, on the first message, from MOSK_DEBUG_LOG.
int logFd() {
  static const int fd = [] {
    const char *path = std::getenv("MOSK_DEBUG_LOG");
    if (path == nullptr || *path == '\0') {
      return -1;
    }
    return ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }();
  static const bool flagged = [] {
    try {
      updateFlag(kFlagUnknown, fd >= 0 ? kFlagFile : 0);
    } catch (...) {
      // A lock that fails leaves the flag "not yet known": callers then
      // ask MOSK_DebugEnabled, which stays exact.
    }
    return true;
  }();
  (void)flagged;
  return fd;
}

std::atomic<bool> gCapture{false};

std::mutex gCaptureMutex;
// A deque never moves its elements when it grows at the end, so the text of
// a captured line (short strings keep it inside the element) stays where
// MOSK_TestLogLine showed it until the next clear.
std::deque<std::string> &captured() {
  static std::deque<std::string> lines;
  return lines;
}

// Keeps one line; a line that cannot be kept (no memory, a lock failure) is
// dropped, as nothing may be thrown out of the C functions.
void captureLine(const char *text) noexcept {
  try {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    captured().emplace_back(text);
  } catch (...) {
  }
}

}  // namespace

extern "C" {

void *MOSK_Malloc(const char * /*sourceFile*/, int /*line*/, size_t size) {
  if (faultNow()) {
    return nullptr;
  }
  void *p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr && gTracking.load(std::memory_order_relaxed)) {
    gLive.fetch_add(1, std::memory_order_relaxed);
    gCount.fetch_add(1, std::memory_order_relaxed);
  }
  return p;
}

int MOSK_Free(void *block) {
  if (block == nullptr) {
    return 0;
  }
  if (gTracking.load(std::memory_order_relaxed)) {
    gLive.fetch_sub(1, std::memory_order_relaxed);
  }
  std::free(block);
  return 0;
}

int MOSK_DebugEnabled(void) { return (gCapture.load(std::memory_order_relaxed) || logFd() >= 0) ? 1 : 0; }

const volatile int *MOSK_DebugFlag(void) { return &gDebugFlag; }

int MOSK_DebugMessage(const char * /*logFile*/, const char *sourceFile, int line,
                      const char *text) {
  if (text == nullptr) {
    return 0;
  }
  if (gCapture.load(std::memory_order_relaxed)) {
    captureLine(text);
  }
  const int fd = logFd();
  if (fd < 0) {
    return 0;
  }
  // One writev per line: appends of a single call are not interleaved.
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  gmtime_r(&ts.tv_sec, &tm);
  char prefix[160];
  const int n = std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ %s:%d ",
                              tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec, ts.tv_nsec / 1000000L,
                              sourceFile != nullptr ? sourceFile : "?", line);
  struct iovec iov[3];
  iov[0].iov_base = prefix;
  iov[0].iov_len = n > 0 ? (size_t(n) < sizeof prefix ? size_t(n) : sizeof prefix - 1) : 0;
  iov[1].iov_base = const_cast<char *>(text);
  iov[1].iov_len = std::strlen(text);
  iov[2].iov_base = const_cast<char *>("\n");
  iov[2].iov_len = 1;
  (void)::writev(fd, iov, 3);
  return 0;
}

void MOSK_TestTrackAllocations(int on) { gTracking.store(on != 0); }
int64_t MOSK_TestLiveBlocks(void) { return gLive.load(); }
uint64_t MOSK_TestAllocationCount(void) { return gCount.load(); }

void MOSK_TestFailAllocation(uint64_t n, int persistent) {
  gArmed.store(false);
  gFired.store(false);
  gPersistent.store(persistent != 0);
  gRemaining.store(int64_t(n));
  gArmed.store(true);
}

void MOSK_TestClearFault(void) {
  gArmed.store(false);
  gRemaining.store(-1);
}

int MOSK_TestFaultFired(void) { return gFired.load() ? 1 : 0; }

void MOSK_TestCaptureLog(int on) {
  gCapture.store(on != 0);
  try {
    updateFlag(kFlagCapture, on != 0 ? kFlagCapture : 0);
  } catch (...) {
    // The flag keeps its value; with capture switched on and the flag
    // still clear, lines would be skipped, so fall back to "not yet known".
    __atomic_store_n(&gDebugFlag, kFlagUnknown, __ATOMIC_RELAXED);
  }
}

// The queries lock too; a lock that fails answers as an empty capture.
uint32_t MOSK_TestLogCount(void) {
  try {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    return uint32_t(captured().size());
  } catch (...) {
    return 0;
  }
}

const char *MOSK_TestLogLine(uint32_t i) {
  try {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    return i < captured().size() ? captured()[i].c_str() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

void MOSK_TestLogClear(void) {
  try {
    std::lock_guard<std::mutex> lock(gCaptureMutex);
    captured().clear();
  } catch (...) {
  }
}

}  // extern "C"
