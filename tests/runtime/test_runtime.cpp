// The runtime services: allocation accounting, fault injection, the debug
// log file and log capture.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <thread>

#include "test_support.h"

namespace {

using namespace rytest;

// Four threads allocate and release at once; no count may be lost.
TEST(Allocator, CountsLiveBlocksAcrossThreads) {
  const int64_t base = liveBlocks();
  std::vector<std::vector<void *>> kept(4);
  {
    std::vector<std::jthread> pool;
    for (auto &blocks : kept) {
      pool.emplace_back([&blocks] {
        for (int i = 0; i < 30000; ++i) {
          blocks.push_back(MOSK_Malloc("test", __LINE__, size_t(i % 97)));
          if (i % 3 == 0) {
            MOSK_Free(blocks.back());
            blocks.pop_back();
          }
        }
      });
    }
  }
  EXPECT_EQ(liveBlocks(), base + 4 * 20000);
  for (auto &blocks : kept) {
    std::for_each(blocks.begin(), blocks.end(), MOSK_Free);
  }
  EXPECT_EQ(liveBlocks(), base);
}

// The third allocation from now fails, and with a persistent fault every
// one after it, until the fault is cleared.
TEST(Allocator, FailsTheNthAllocationOnceOrFromThenOn) {
  for (const int persistent : {0, 1}) {
    MOSK_TestFailAllocation(2, persistent);
    void *got[4];
    for (void *&p : got) {
      p = MOSK_Malloc("t", 1, 8);
    }
    EXPECT_TRUE(got[0] != nullptr && got[1] != nullptr && got[2] == nullptr) << persistent;
    EXPECT_EQ(got[3] == nullptr, persistent == 1);
    MOSK_TestClearFault();
    got[2] = MOSK_Malloc("t", 1, 8);
    EXPECT_NE(got[2], nullptr);
    std::for_each(got, got + 4, MOSK_Free);
  }
}

TEST(DebugLog, DisabledLogAllocatesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "heap statistics are the sanitizer's";
#endif
  ASSERT_EQ(std::getenv("MOSK_DEBUG_LOG"), nullptr);
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

// The text MOSK_TestLogLine gives stays put while thousands more lines are
// captured: a short one (kept inside its string) and a long one. Under ASan
// a moved text is a heap-use-after-free.
TEST(DebugLog, CapturedTextStaysValidUntilClear) {
  LogCapture log;
  const std::string shortText = "------>x", longText(300, 'y');
  MOSK_DebugMessage(nullptr, "t", 1, shortText.c_str());
  MOSK_DebugMessage(nullptr, "t", 2, longText.c_str());
  const char *kept[2] = {MOSK_TestLogLine(0), MOSK_TestLogLine(1)};
  for (int i = 0; i < 5000; ++i) {
    MOSK_DebugMessage(nullptr, "t", i, i % 2 == 0 ? "z" : longText.c_str());
  }
  ASSERT_EQ(MOSK_TestLogCount(), 5002u);
  EXPECT_STREQ(kept[0], shortText.c_str());
  EXPECT_STREQ(kept[1], longText.c_str());
  EXPECT_EQ(MOSK_TestLogLine(5002), nullptr);
}

// Run by the next test (as its shell's /proc/$PPID/exe) with a log file:
// messages from four threads, then one failure logged by the library.
TEST(DebugLog, WriterChild) {
  if (std::getenv("MOSK_DEBUG_LOG") == nullptr) {
    GTEST_SKIP() << "the log file test runs this in a child process";
  }
  {
    std::vector<std::jthread> pool;
    for (int t = 0; t < 4; ++t) {
      pool.emplace_back([t] {
        for (int i = 0; i < 250; ++i) {
          const std::string text = "thread " + std::to_string(t) + " message " + std::to_string(i);
          MOSK_DebugMessage("c:\\ry_ev11\\rycert.log", "writer", 42, text.c_str());
        }
      });
    }
  }
  Rec rec(hex("3100"));
  AnyBuf *out = nullptr;
  EXPECT_EQ(RyAsn1_ReadSequence(rec.get(), &out), RYCERT_TagNotMatchErr);
}

// "<UTC time stamp> <source>:<line> <text>", one whole line per message.
TEST(DebugLog, FileGetsOneWholeLinePerMessageFromManyThreads) {
  char path[] = "/tmp/mosk_log_XXXXXX";
  ASSERT_EQ(close(mkstemp(path)), 0);
  const std::string child = " /proc/$PPID/exe --gtest_filter=DebugLog.WriterChild >/dev/null";
  ASSERT_EQ(std::system(("MOSK_DEBUG_LOG=" + std::string(path) + child).c_str()), 0);
  std::ifstream in(path);
  const std::regex shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\S+):(\d+) (.*)$)");
  const std::regex message(R"(thread \d message \d+)");
  int messages = 0, failures = 0;
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    if (m[1] == "writer" && m[2] == "42") {
      EXPECT_TRUE(std::regex_match(m[3].str(), message)) << line;
      ++messages;
    } else {
      EXPECT_EQ(m[1].str() + " " + m[3].str(), "ry_asn2 ------>TAG != RY_DER_ID_SEQUENCE");
      ++failures;
    }
  }
  std::remove(path);
  EXPECT_EQ(messages, 1000);
  EXPECT_EQ(failures, 1);
}

}  // namespace
