// libcrypto as the RSA peer: PKCS#1 v1.5 signatures and their check (md NULL:
// the data is signed as given), and one RSA operation with a chosen padding.
#pragma once

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <vector>

namespace rytest {

using Bytes = std::vector<uint8_t>;

inline Bytes peerDigest(const EVP_MD *md, const Bytes &data) {
  if (md == nullptr) {
    return data;
  }
  Bytes d(EVP_MAX_MD_SIZE);
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), d.data(), &n, md, nullptr);
  d.resize(n);
  return d;
}

enum class PeerOp { Sign, Verify, Encrypt, Decrypt, Recover };

// One operation of `key`; for Verify `in` is the signature and `digest` what it covers.
// Returns the output (empty on failure; for Verify, {1} when it holds).
inline Bytes peerRsa(EVP_PKEY *key, PeerOp op, int padding, const Bytes &in,
                     const EVP_MD *md = nullptr, const Bytes &digest = {}) {
  EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
  const int init = op == PeerOp::Sign      ? EVP_PKEY_sign_init(ctx)
                   : op == PeerOp::Verify  ? EVP_PKEY_verify_init(ctx)
                   : op == PeerOp::Encrypt ? EVP_PKEY_encrypt_init(ctx)
                   : op == PeerOp::Decrypt ? EVP_PKEY_decrypt_init(ctx)
                                           : EVP_PKEY_verify_recover_init(ctx);
  Bytes out(size_t(EVP_PKEY_get_size(key)));
  size_t len = out.size();
  bool ok = init == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1 &&
            (md == nullptr || EVP_PKEY_CTX_set_signature_md(ctx, md) == 1);
  if (ok) {
    const auto *p = in.data();
    switch (op) {
      case PeerOp::Sign: ok = EVP_PKEY_sign(ctx, out.data(), &len, p, in.size()) == 1; break;
      case PeerOp::Verify:
        ok = EVP_PKEY_verify(ctx, p, in.size(), digest.data(), digest.size()) == 1;
        len = 1;
        break;
      case PeerOp::Encrypt: ok = EVP_PKEY_encrypt(ctx, out.data(), &len, p, in.size()) == 1; break;
      case PeerOp::Decrypt: ok = EVP_PKEY_decrypt(ctx, out.data(), &len, p, in.size()) == 1; break;
      case PeerOp::Recover:
        ok = EVP_PKEY_verify_recover(ctx, out.data(), &len, p, in.size()) == 1;
        break;
    }
  }
  EVP_PKEY_CTX_free(ctx);
  out.resize(ok ? len : 0);
  return out;
}

inline Bytes peerSign(EVP_PKEY *key, const EVP_MD *md, const Bytes &data) {
  return peerRsa(key, PeerOp::Sign, RSA_PKCS1_PADDING, peerDigest(md, data), md);
}
inline bool peerVerify(EVP_PKEY *key, const EVP_MD *md, const Bytes &data, const Bytes &sig) {
  return !peerRsa(key, PeerOp::Verify, RSA_PKCS1_PADDING, sig, md, peerDigest(md, data)).empty();
}

}  // namespace rytest
