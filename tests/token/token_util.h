// Helpers of the token tests: RSA keys from libcrypto as PKCS#1 DER, the
// peer's signatures and checks, and direct calls into the PKCS#11 module
// the library is linked with (to count sessions and to ask it the same
// question the library asked).
#pragma once

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

#include <map>
#include <string>

#include "rsa_peer.h"
#include "test_support.h"

// RYTEST_SOFTHSM: the library is linked against SoftHSM2's module, which
// refuses what needs a login or mechanisms it lacks.
#ifndef RYTEST_SOFTHSM
#define RYTEST_SOFTHSM 0
#endif

namespace rytest {

inline constexpr bool kSoftHsm = RYTEST_SOFTHSM != 0;

struct RsaKey {
  RsaKey() = default;
  RsaKey(const RsaKey &) = delete;
  RsaKey &operator=(const RsaKey &) = delete;
  ~RsaKey() { EVP_PKEY_free(pkey); }
  EVP_PKEY *pkey = nullptr;
  Bytes priv;  // RSAPrivateKey DER
  Bytes pub;   // RSAPublicKey DER
  size_t modulusBytes = 0;
};

// One key per size for the whole test program (generation is slow).
inline const RsaKey &rsaKey(int bits) {
  static std::map<int, RsaKey> keys;
  RsaKey &k = keys[bits];
  if (k.pkey == nullptr) {
    k.pkey = EVP_RSA_gen(unsigned(bits));
    unsigned char *p = nullptr;
    int n = i2d_PrivateKey(k.pkey, &p);
    k.priv.assign(p, p + n);
    OPENSSL_free(p);
    p = nullptr;
    n = i2d_PublicKey(k.pkey, &p);
    k.pub.assign(p, p + n);
    OPENSSL_free(p);
    k.modulusBytes = size_t(EVP_PKEY_get_size(k.pkey));
  }
  return k;
}

inline EVP_PKEY *publicFromDer(const Bytes &der) {
  const unsigned char *p = der.data();
  return d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, long(der.size()));
}
inline EVP_PKEY *privateFromDer(const Bytes &der) {
  const unsigned char *p = der.data();
  return d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, long(der.size()));
}

inline Bytes peerDecrypt(EVP_PKEY *key, int padding, const Bytes &in) {
  return peerRsa(key, PeerOp::Decrypt, padding, in);
}
inline Bytes peerEncrypt(EVP_PKEY *key, int padding, const Bytes &in) {
  return peerRsa(key, PeerOp::Encrypt, padding, in);
}

// The slots with a token, as the module lists them.
inline std::vector<CK_SLOT_ID> tokenSlots() {
  std::vector<CK_SLOT_ID> ids(8);
  CK_ULONG n = CK_ULONG(ids.size());
  if (C_GetSlotList(CK_TRUE, ids.data(), &n) != CKR_OK) {
    n = 0;
  }
  ids.resize(n);
  return ids;
}

// Sessions open on all tokens, when the module counts them (-1 otherwise).
inline long openSessions() {
  long total = 0;
  for (CK_SLOT_ID s : tokenSlots()) {
    CK_TOKEN_INFO info;
    if (C_GetTokenInfo(s, &info) != CKR_OK || info.ulSessionCount == CK_UNAVAILABLE_INFORMATION) {
      return -1;
    }
    total += long(info.ulSessionCount);
  }
  return total;
}

// The module's answer to one call made directly in a fresh session of
// the first token slot.
template <class F>
CK_RV directly(F &&call) {
  CK_SESSION_HANDLE s = 0;
  CK_RV rv = C_OpenSession(tokenSlots().at(0), CKF_SERIAL_SESSION, nullptr, nullptr, &s);
  if (rv == CKR_OK) {
    rv = call(s);
    C_CloseSession(s);
  }
  return rv;
}

inline void expectNoSessionLeft() {
  const long n = openSessions();
  if (n >= 0) {
    EXPECT_EQ(n, 0) << "sessions left open";
  }
}

// The two-call pattern: `call(NULL, &len)` for the length, then into a block of that size
// (`exact`: the length written must be the one the query gave).
template <class F>
uint32_t twoCall(F &&call, Bytes &out, bool exact = false) {
  uint32_t len = 0;
  uint32_t st = call(nullptr, &len);
  if (st == 0) {
    const uint32_t queried = len;
    out.assign(len, 0);
    st = call(out.data(), &len);
    EXPECT_TRUE(!exact || st != 0 || len == queried) << "query " << queried << ", wrote " << len;
  }
  out.resize(st == 0 ? len : 0);
  return st;
}

// Ry_Initialize for the whole test program, Ry_Finalize at its end.
class TokenEnvironment : public testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(Ry_Initialize(), 0u); }
  void TearDown() override { EXPECT_EQ(Ry_Finalize(), 0u); }
};

}  // namespace rytest
