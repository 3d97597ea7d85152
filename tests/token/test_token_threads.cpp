// Eight threads sign, verify and seal at once, each operation with its own
// sessions. Built also with ThreadSanitizer, where it must run clean.
#include <atomic>
#include <thread>

#include "token_util.h"

using namespace rytest;

namespace {

const testing::Environment *const kEnv = testing::AddGlobalTestEnvironment(new TokenEnvironment);

TEST(Threads, EightAtOnce) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 6;
  const RsaKey &k1 = rsaKey(1024);
  const RsaKey &k2 = rsaKey(2048);
  std::atomic<int> failures{0};
  std::atomic<uint32_t> firstFailure{0};
  auto fail = [&](uint32_t st) {
    if (failures.fetch_add(1) == 0) {
      firstFailure.store(st);
    }
  };
  auto work = [&](int t) {
    const RsaKey &k = (t % 2) == 0 ? k1 : k2;
    for (int r = 0; r < kRounds; ++r) {
      Bytes data(100 + size_t(t) * 37 + size_t(r), uint8_t(t * 16 + r));
      Bytes sig(k.modulusBytes);
      uint32_t len = uint32_t(sig.size());
      if (!kSoftHsm) {
        const uint32_t st = Ry_SignData(0, k.priv.data(), uint32_t(k.priv.size()), data.data(),
                                        uint32_t(data.size()), sig.data(), &len, SIGALG_SHA256_RSA);
        if (st != 0) {
          fail(st);
          continue;
        }
      } else {
        sig = peerSign(k.pkey, EVP_sha256(), data);
      }
      uint32_t st =
          Ry_VerifyData(0, k.pub.data(), uint32_t(k.pub.size()), data.data(), uint32_t(data.size()),
                        sig.data(), uint32_t(sig.size()), SIGALG_SHA256_RSA);
      if (st != 0) {
        fail(st);
      }
      if (kSoftHsm) {
        continue;
      }
      Bytes env(data.size() + 16 + k.modulusBytes);
      uint32_t envLen = uint32_t(env.size());
      st = Ry_EncodeEnvelope(0, k.pub.data(), uint32_t(k.pub.size()), data.data(),
                             uint32_t(data.size()), env.data(), &envLen, ENVALG_DES3);
      if (st != 0) {
        fail(st);
        continue;
      }
      Bytes back(envLen);
      uint32_t backLen = uint32_t(back.size());
      st = Ry_DecodeEnvelop(0, k.priv.data(), uint32_t(k.priv.size()), env.data(), envLen,
                            back.data(), &backLen);
      back.resize(backLen);
      if (st != 0 || back != data) {
        fail(st == 0 ? 1u : st);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(work, t);
  }
  for (auto &th : threads) {
    th.join();
  }
  EXPECT_EQ(failures.load(), 0) << "first failure status " << firstFailure.load();
  expectNoSessionLeft();
}

}  // namespace
