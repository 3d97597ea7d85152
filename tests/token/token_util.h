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

// PKCS#1 v1.5 signatures by the peer; md NULL signs the data as given.
inline Bytes peerSign(EVP_PKEY *key, const EVP_MD *md, const Bytes &data) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
  Bytes digest = data;
  if (md != nullptr) {
    unsigned int n = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    EVP_Digest(data.data(), data.size(), digest.data(), &n, md, nullptr);
    digest.resize(n);
  }
  size_t len = 0;
  Bytes sig;
  if (EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
      (md == nullptr || EVP_PKEY_CTX_set_signature_md(ctx, md) == 1) &&
      EVP_PKEY_sign(ctx, nullptr, &len, digest.data(), digest.size()) == 1) {
    sig.resize(len);
    if (EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()) != 1) {
      sig.clear();
    }
  }
  EVP_PKEY_CTX_free(ctx);
  return sig;
}
inline bool peerVerify(EVP_PKEY *key, const EVP_MD *md, const Bytes &data, const Bytes &sig) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
  Bytes digest = data;
  if (md != nullptr) {
    unsigned int n = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    EVP_Digest(data.data(), data.size(), digest.data(), &n, md, nullptr);
    digest.resize(n);
  }
  const bool ok = EVP_PKEY_verify_init(ctx) == 1 &&
                  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
                  (md == nullptr || EVP_PKEY_CTX_set_signature_md(ctx, md) == 1) &&
                  EVP_PKEY_verify(ctx, sig.data(), sig.size(), digest.data(), digest.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  return ok;
}
// RSA with the private key and the given padding (RSA_NO_PADDING: raw).
inline Bytes peerDecrypt(EVP_PKEY *key, int padding, const Bytes &in) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
  size_t len = 0;
  Bytes out;
  if (EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
      EVP_PKEY_decrypt(ctx, nullptr, &len, in.data(), in.size()) == 1) {
    out.resize(len);
    if (EVP_PKEY_decrypt(ctx, out.data(), &len, in.data(), in.size()) == 1) {
      out.resize(len);
    } else {
      out.clear();
    }
  }
  EVP_PKEY_CTX_free(ctx);
  return out;
}
inline Bytes peerEncrypt(EVP_PKEY *key, int padding, const Bytes &in) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
  size_t len = 0;
  Bytes out;
  if (EVP_PKEY_encrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
      EVP_PKEY_encrypt(ctx, nullptr, &len, in.data(), in.size()) == 1) {
    out.resize(len);
    if (EVP_PKEY_encrypt(ctx, out.data(), &len, in.data(), in.size()) == 1) {
      out.resize(len);
    } else {
      out.clear();
    }
  }
  EVP_PKEY_CTX_free(ctx);
  return out;
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

// Ry_Initialize for the whole test program, Ry_Finalize at its end.
class TokenEnvironment : public testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(Ry_Initialize(), 0u); }
  void TearDown() override { EXPECT_EQ(Ry_Finalize(), 0u); }
};

}  // namespace rytest
