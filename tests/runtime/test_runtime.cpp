// The runtime services: allocation accounting, fault injection, the debug
// log file and log capture.
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

#include "test_support.h"

using namespace rytest;

namespace {

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

TEST(Allocator, CountsLiveBlocksAcrossThreads) {
  const int64_t base = liveBlocks();
  std::vector<std::thread> pool;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    pool.emplace_back([&] {
      std::vector<void *> blocks;
      for (int i = 0; i < 2000; ++i) {
        void *p = MOSK_Malloc("test", __LINE__, size_t(i % 97));
        if (p == nullptr) {
          ++failures;
        }
        blocks.push_back(p);
        if (i % 3 == 0) {
          MOSK_Free(blocks.back());
          blocks.pop_back();
        }
      }
      for (void *p : blocks) {
        MOSK_Free(p);
      }
    });
  }
  for (auto &th : pool) {
    th.join();
  }
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(liveBlocks(), base);
  EXPECT_EQ(MOSK_Free(nullptr), 0);
}

TEST(Allocator, FailsTheNthAllocationOnceOrFromThenOn) {
  MOSK_TestFailAllocation(2, 0);
  void *a = MOSK_Malloc("t", 1, 8);
  void *b = MOSK_Malloc("t", 1, 8);
  EXPECT_FALSE(MOSK_TestFaultFired());
  void *c = MOSK_Malloc("t", 1, 8);
  void *d = MOSK_Malloc("t", 1, 8);
  EXPECT_TRUE(MOSK_TestFaultFired());
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr) << "the third allocation fails";
  EXPECT_NE(d, nullptr) << "a transient fault fails one allocation only";
  MOSK_TestClearFault();
  for (void *p : {a, b, d}) {
    MOSK_Free(p);
  }

  MOSK_TestFailAllocation(0, 1);
  EXPECT_EQ(MOSK_Malloc("t", 1, 8), nullptr);
  EXPECT_EQ(MOSK_Malloc("t", 1, 8), nullptr) << "a persistent fault keeps failing";
  MOSK_TestClearFault();
  void *e = MOSK_Malloc("t", 1, 8);
  EXPECT_NE(e, nullptr);
  MOSK_Free(e);
}

TEST(DebugLog, DisabledLogWritesNothingAndAllocatesNothing) {
  if (std::getenv("MOSK_DEBUG_LOG") != nullptr) {
    GTEST_SKIP() << "a log file is configured for this run";
  }
  if (underSanitizer()) {
    GTEST_SKIP() << "heap statistics are the sanitizer's";
  }
  MOSK_DebugMessage("x", "warm", 1, "warm up");
  const auto before = mallinfo2();
  for (int i = 0; i < 1000; ++i) {
    MOSK_DebugMessage("c:\\ry_ev11\\rycert.log", "ry_asn2", i, "------>MOSK_Malloc");
  }
  const auto after = mallinfo2();
  EXPECT_EQ(before.uordblks, after.uordblks);
  EXPECT_EQ(before.hblks, after.hblks);
}

TEST(DebugLog, CaptureKeepsTheLibrarysTextExactly) {
  LogCapture log;
  AnyBuf *out = nullptr;
  Rec rec(hex("3100"));
  EXPECT_EQ(RyAsn1_ReadSequence(rec.get(), &out), RYCERT_TagNotMatchErr);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"------>TAG != RY_DER_ID_SEQUENCE"});
}

TEST(DebugLog, FileGetsOneWholeLinePerMessageFromManyThreads) {
  char path[] = "/tmp/mosk_log_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string cmd = std::string("MOSK_DEBUG_LOG=") + path + " " + LOG_WRITER;
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  std::ifstream in(path);
  std::string line;
  int messages = 0;
  int failures = 0;
  const std::regex shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\S+):(\d+) (.*)$)");
  while (std::getline(in, line)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    if (m[1] == "writer") {
      EXPECT_EQ(m[2], "42");
      EXPECT_TRUE(std::regex_match(m[3].str(), std::regex(R"(thread \d message \d+)"))) << line;
      ++messages;
    } else {
      EXPECT_EQ(m[1], "ry_asn2");
      EXPECT_EQ(m[3], "------>TAG != RY_DER_ID_SEQUENCE");
      ++failures;
    }
  }
  EXPECT_EQ(messages, 1000);
  EXPECT_EQ(failures, 1);
  std::remove(path);
}

TEST(DebugLog, UnwritableLogPathChangesNothing) {
  const std::string cmd =
      std::string("MOSK_DEBUG_LOG=/nonexistent-dir/rycert.log ") + LOG_WRITER;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace
