// RSA key objects with the same components share one built key inside the module. What must
// hold whatever the sharing: each object answers for its own components, destroying one object
// leaves the others working, keys pushed out of the module's cache by many others keep working
// in the operations and objects that hold them, and every signature verifies with OpenSSL.
#include <atomic>
#include <thread>

#include "p11_fixture.h"

namespace p11test {
namespace {

const CK_MECHANISM kSha256Rsa{CKM_SHA256_RSA_PKCS, nullptr, 0};

bool opensslVerifies(EVP_PKEY* k, const Bytes& data, const Bytes& sig) {
  return peerVerify(k, EVP_sha256(), data, sig);
}

Bytes message(int i) {
  Bytes m(600);
  for (size_t j = 0; j < m.size(); ++j) {
    m[j] = static_cast<uint8_t>(i * 31 + j);
  }
  return m;
}

using KeySharing = Token;

// Objects that differ in one component are different keys, in whichever order they are made:
// public keys with the right modulus and another exponent refuse the signature, the right one
// accepts it; a private key without its CRT values signs the same bytes as with them.
TEST_F(KeySharing, EachObjectAnswersForItsOwnComponents) {
  CK_SESSION_HANDLE s = open();
  EVP_PKEY* k = opensslKey(1024);
  const Bytes data = message(1);
  Bytes sig;
  ASSERT_EQ(sign(s, kSha256Rsa, create(s, rsaPrivateTemplate(k)), data, sig), CKR_OK);
  ASSERT_TRUE(opensslVerifies(k, data, sig));

  CK_OBJECT_HANDLE wrongFirst = create(s, rsaPublicTemplate(k, 3));
  CK_OBJECT_HANDLE right = create(s, rsaPublicTemplate(k));
  CK_OBJECT_HANDLE wrongAfter = create(s, rsaPublicTemplate(k, 65539));
  EXPECT_EQ(verify(s, kSha256Rsa, wrongFirst, data, sig), CKR_SIGNATURE_INVALID);
  EXPECT_EQ(verify(s, kSha256Rsa, right, data, sig), CKR_OK);
  EXPECT_EQ(verify(s, kSha256Rsa, wrongAfter, data, sig), CKR_SIGNATURE_INVALID);

  Template noCrt;
  noCrt.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
  noCrt.bytes(CKA_MODULUS, bnParam(k, OSSL_PKEY_PARAM_RSA_N));
  noCrt.bytes(CKA_PUBLIC_EXPONENT, bnParam(k, OSSL_PKEY_PARAM_RSA_E));
  noCrt.bytes(CKA_PRIVATE_EXPONENT, bnParam(k, OSSL_PKEY_PARAM_RSA_D));
  Bytes sig2;
  ASSERT_EQ(sign(s, kSha256Rsa, create(s, noCrt), data, sig2), CKR_OK);
  EXPECT_EQ(sig2, sig);

  // A template with some CRT values only is still refused, also once the full key is known.
  Template partial = noCrt;
  partial.bytes(CKA_PRIME_1, bnParam(k, OSSL_PKEY_PARAM_RSA_FACTOR1));
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(f->C_CreateObject(s, partial.data(), partial.size(), &h), CKR_TEMPLATE_INCOMPLETE);
}

// Two objects with the same components, each signed with from several threads (one session
// per thread) while another thread destroys one of them: signing with the destroyed object
// ends with CKR_KEY_HANDLE_INVALID, never with a wrong signature, and the other object keeps
// signing correctly, also after its twin's session is gone.
TEST_F(KeySharing, DestroyingOneTwinLeavesTheOtherWorking) {
  EVP_PKEY* k = opensslKey(1024);
  CK_SESSION_HANDLE owner = open();
  CK_SESSION_HANDLE twinOwner = open();
  const CK_OBJECT_HANDLE keep = create(owner, rsaPrivateTemplate(k));
  const CK_OBJECT_HANDLE twin = create(twinOwner, rsaPrivateTemplate(k));
  constexpr int kThreads = 4;
  constexpr int kRounds = 12;
  std::atomic<int> bad{0};
  std::atomic<int> signedWithTwin{0};
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CK_SESSION_HANDLE s = 0;
      if (f->C_OpenSession(slots[t % 2], CKF_SERIAL_SESSION, nullptr, nullptr, &s) != CKR_OK) {
        ++bad;
        return;
      }
      ++started;
      for (int i = 0; i < kRounds; ++i) {
        const Bytes data = message(t * 100 + i);
        const bool useTwin = (i + t) % 2 == 0;
        Bytes sig;
        CK_RV rv = sign(s, kSha256Rsa, useTwin ? twin : keep, data, sig);
        if (rv == CKR_OK) {
          signedWithTwin += useTwin ? 1 : 0;
          bad += opensslVerifies(k, data, sig) ? 0 : 1;
        } else if (!(useTwin && rv == CKR_KEY_HANDLE_INVALID)) {
          ++bad;
        }
      }
      f->C_CloseSession(s);
    });
  }
  threads.emplace_back([&] {
    while (started.load() < kThreads) {
      std::this_thread::yield();
    }
    bad += f->C_DestroyObject(twinOwner, twin) == CKR_OK ? 0 : 1;
  });
  for (auto& th : threads) {
    th.join();
  }
  EXPECT_EQ(bad.load(), 0);
  ASSERT_EQ(f->C_CloseSession(twinOwner), CKR_OK);
  const Bytes data = message(7);
  Bytes sig;
  ASSERT_EQ(sign(owner, kSha256Rsa, keep, data, sig), CKR_OK);
  EXPECT_TRUE(opensslVerifies(k, data, sig));
  Bytes none;
  EXPECT_EQ(sign(owner, kSha256Rsa, twin, data, none), CKR_KEY_HANDLE_INVALID);
}

// Many distinct keys push earlier ones out of the module's cache. A signature begun before,
// an object made before and a new object with the same components made after all still sign
// correctly; meanwhile other threads churn through distinct keys and sign with the first one.
TEST_F(KeySharing, KeysPushedOutOfTheCacheKeepWorking) {
  EVP_PKEY* k = opensslKey(1024);
  CK_SESSION_HANDLE s = open();
  const CK_OBJECT_HANDLE first = create(s, rsaPrivateTemplate(k));
  const Bytes data = message(3);
  ASSERT_EQ(f->C_SignInit(s, const_cast<CK_MECHANISM*>(&kSha256Rsa), first), CKR_OK);
  ASSERT_EQ(f->C_SignUpdate(s, const_cast<uint8_t*>(data.data()), 300), CKR_OK);
  // The object that began the operation goes too: the operation holds the key.
  CK_SESSION_HANDLE other = open();
  const CK_OBJECT_HANDLE doomed = create(other, rsaPrivateTemplate(k));
  Bytes pending;
  CK_SESSION_HANDLE pendingSession = open();
  ASSERT_EQ(f->C_SignInit(pendingSession, const_cast<CK_MECHANISM*>(&kSha256Rsa), doomed), CKR_OK);
  ASSERT_EQ(f->C_DestroyObject(other, doomed), CKR_OK);

  std::atomic<int> bad{0};
  auto churn = [&](int base, int count) {
    CK_SESSION_HANDLE t = 0;
    if (f->C_OpenSession(slots[1], CKF_SERIAL_SESSION, nullptr, nullptr, &t) != CKR_OK) {
      ++bad;
      return;
    }
    for (int i = 0; i < count; ++i) {
      // Distinct public keys (exponents 5, 7, ...) and the signing key with padded moduli.
      Template pub = rsaPublicTemplate(k, uint32_t(2 * (base + i) + 5));
      CK_OBJECT_HANDLE h = 0;
      bad += f->C_CreateObject(t, pub.data(), pub.size(), &h) == CKR_OK ? 0 : 1;
      bad += f->C_DestroyObject(t, h) == CKR_OK ? 0 : 1;
      if (i % 8 == 0) {
        CK_OBJECT_HANDLE p = create(t, rsaPrivateTemplate(k, size_t(1 + (base + i) % 40)));
        const Bytes m = message(base + i);
        Bytes sig;
        bad += sign(t, kSha256Rsa, p, m, sig) == CKR_OK && opensslVerifies(k, m, sig) ? 0 : 1;
        bad += sign(t, kSha256Rsa, first, m, sig) == CKR_OK && opensslVerifies(k, m, sig) ? 0 : 1;
      }
    }
    f->C_CloseSession(t);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back(churn, t * 1000, 100);
  }
  for (auto& th : threads) {
    th.join();
  }
  EXPECT_EQ(bad.load(), 0);

  ASSERT_EQ(f->C_SignUpdate(s, const_cast<uint8_t*>(data.data()) + 300, data.size() - 300), CKR_OK);
  Bytes sig(128);
  CK_ULONG n = sig.size();
  ASSERT_EQ(f->C_SignFinal(s, sig.data(), &n), CKR_OK);
  EXPECT_TRUE(opensslVerifies(k, data, sig));
  n = sig.size();
  ASSERT_EQ(
      f->C_Sign(pendingSession, const_cast<uint8_t*>(data.data()), data.size(), sig.data(), &n),
      CKR_OK);
  EXPECT_TRUE(opensslVerifies(k, data, sig));

  ASSERT_EQ(sign(s, kSha256Rsa, first, data, sig), CKR_OK);
  EXPECT_TRUE(opensslVerifies(k, data, sig));
  ASSERT_EQ(sign(s, kSha256Rsa, create(s, rsaPrivateTemplate(k)), data, sig), CKR_OK);
  EXPECT_TRUE(opensslVerifies(k, data, sig));
}

// C_Finalize drops the module's keys; after a new C_Initialize the same components build a
// working key again.
TEST_F(KeySharing, KeysWorkAgainAfterReinitialisation) {
  EVP_PKEY* k = opensslKey(1024);
  const Bytes data = message(5);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    CK_SESSION_HANDLE s = open();
    Bytes sig;
    ASSERT_EQ(sign(s, kSha256Rsa, create(s, rsaPrivateTemplate(k)), data, sig), CKR_OK);
    EXPECT_TRUE(opensslVerifies(k, data, sig));
    EXPECT_EQ(verify(s, kSha256Rsa, create(s, rsaPublicTemplate(k)), data, sig), CKR_OK);
    ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  }
}

}  // namespace
}  // namespace p11test
