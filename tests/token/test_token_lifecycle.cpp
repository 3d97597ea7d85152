// Start-up and shut-down: what the operations answer before Ry_Initialize,
// after it, after Ry_Finalize, and when either is called twice. One
// program, as the module's state is process-wide.
#include "token_util.h"

using namespace rytest;

namespace {

uint32_t verifySomething() {
  const RsaKey &k = rsaKey(1024);
  const Bytes data = {1, 2, 3};
  const Bytes sig = peerSign(k.pkey, EVP_sha1(), data);
  return Ry_VerifyData(0, k.pub.data(), uint32_t(k.pub.size()), data.data(), 3, sig.data(),
                       uint32_t(sig.size()), SIGALG_SHA1_RSA);
}

TEST(Lifecycle, StatusesAcrossStartAndStop) {
  // Before Ry_Initialize no slot is listed: no session is opened, and the
  // module's answer to session handle 0 comes back.
  {
    LogCapture log;
    EXPECT_EQ(verifySomething(), CKR_CRYPTOKI_NOT_INITIALIZED);
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().back(), "---->C_CreateObject ");
  }
  uint32_t macLen = 8;
  uint8_t mac[8];
  EXPECT_EQ(Ry_GenerateMac(reinterpret_cast<const uint8_t *>("pw"), 2, mac, 0, mac, &macLen, 0),
            CKR_CRYPTOKI_NOT_INITIALIZED);

  ASSERT_EQ(Ry_Initialize(), 0u);
  EXPECT_EQ(verifySomething(), 0u);
  {
    LogCapture log;
    EXPECT_EQ(Ry_Initialize(), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"---->C_Initialize"});
  }
  EXPECT_EQ(verifySomething(), 0u) << "a refused second start changes nothing";

  ASSERT_EQ(Ry_Finalize(), 0u);
  {
    LogCapture log;
    EXPECT_EQ(Ry_Finalize(), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"---->C_Finalize"});
  }
  // The slots found before are still used, and the module refuses them.
  {
    LogCapture log;
    EXPECT_EQ(verifySomething(), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(log.lines().back(), "---->C_OpenSession");
  }
  // Started again, everything works as before.
  ASSERT_EQ(Ry_Initialize(), 0u);
  EXPECT_EQ(verifySomething(), 0u);
  EXPECT_EQ(Ry_Finalize(), 0u);
}

}  // namespace
