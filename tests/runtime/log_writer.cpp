// Writes debug messages from several threads, then makes the library log
// one failure, for the log file test.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "mosk.h"
#include "rycert2.h"

int main(int argc, char **argv) {
  const int threads = 4, perThread = 250;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([t] {
      for (int i = 0; i < perThread; ++i) {
        const std::string text = "thread " + std::to_string(t) + " message " + std::to_string(i);
        MOSK_DebugMessage("c:\\ry_ev11\\rycert.log", "writer", 42, text.c_str());
      }
    });
  }
  for (auto &th : pool) {
    th.join();
  }
  AnyBuf bad = {};
  static uint8_t bytes[] = {0x31, 0x00};
  bad.data = bytes;
  bad.length = 2;
  AnyBuf *out = nullptr;
  return RyAsn1_ReadSequence(&bad, &out) == RYCERT_TagNotMatchErr ? 0 : 1;
}
