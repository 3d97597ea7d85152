// RSA key pairs: generated in the token and handed back as PKCS#1 DER
// (C_GenerateKeyPair, C_GetAttributeValue), or a caller's private key
// handed to the token under a key index (C_UnwrapKey).
#include <cstdio>
#include <cstring>

#include "ry_enc.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_enc_key";

// The room offered for each component when a generated pair is read
// back: a 2048-bit key has a 256-byte modulus and private exponent and
// 128-byte primes, prime exponents and coefficient.
constexpr size_t kWideRoom = 256;
constexpr size_t kHalfRoom = 128;

// The import buffer: the wrapped private key as C_UnwrapKey receives it.
constexpr size_t kImportRoom = 2048;

// Copies a component right-aligned into its zero-filled record field.
void putRight(std::span<uint8_t> field, const uint8_t *value, CK_ULONG len) {
  std::memset(field.data(), 0, field.size());
  std::memcpy(field.data() + field.size() - len, value, len);
}

Status genKeypair(uint32_t slotChoice, uint32_t modulusBits, uint8_t *publicKeyDer,
                  uint32_t *publicKeyDerLen, uint8_t *privateKeyDer, uint32_t *privateKeyDerLen) {
  TokenSessions ts;
  if (Status st = ts.open(Second::Always); st != Status::Ok) {
    return st;
  }
  const CK_SESSION_HANDLE s = slotChoice == 0 ? ts.first() : ts.second();

  // C_GenerateKeyPair with CKM_RSA_PKCS_KEY_PAIR_GEN. No template sets
  // CKA_TOKEN, CKA_SENSITIVE or CKA_EXTRACTABLE: session objects whose
  // components the module lets us read.
  CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY;
  CK_OBJECT_CLASS privClass = CKO_PRIVATE_KEY;
  CK_KEY_TYPE type = CKK_RSA;
  CK_ULONG bits = modulusBits;
  CK_BYTE exponent[] = {0x01, 0x00, 0x01};
  CK_ATTRIBUTE pubTmpl[] = {{CKA_CLASS, &pubClass, sizeof pubClass},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_MODULUS_BITS, &bits, sizeof bits},
                            {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
  CK_ATTRIBUTE privTmpl[] = {{CKA_CLASS, &privClass, sizeof privClass},
                             {CKA_KEY_TYPE, &type, sizeof type}};
  CK_MECHANISM mech = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_OBJECT_HANDLE pubHandle = 0;
  CK_OBJECT_HANDLE privHandle = 0;
  if (Status st =
          RY_P11(C_GenerateKeyPair(s, &mech, pubTmpl, 4, privTmpl, 2, &pubHandle, &privHandle),
                 "C_GenerateKeyPair ");
      st != Status::Ok) {
    return st;
  }
  SessionObject pubKey;
  SessionObject privKey;
  pubKey.adopt(s, pubHandle);
  privKey.adopt(s, privHandle);

  // Read back in the session that generated the pair: its handles belong
  // to that token.
  struct Components {
    uint8_t n[kWideRoom], e[kHalfRoom], d[kWideRoom], p[kHalfRoom], q[kHalfRoom];
    uint8_t dp[kHalfRoom], dq[kHalfRoom], qinv[kHalfRoom];
  } c;
  Wipe wipeComponents(&c, sizeof c);
  CK_ATTRIBUTE readBack[] = {
      {CKA_MODULUS, c.n, sizeof c.n},          {CKA_PUBLIC_EXPONENT, c.e, sizeof c.e},
      {CKA_PRIVATE_EXPONENT, c.d, sizeof c.d}, {CKA_PRIME_1, c.p, sizeof c.p},
      {CKA_PRIME_2, c.q, sizeof c.q},          {CKA_EXPONENT_1, c.dp, sizeof c.dp},
      {CKA_EXPONENT_2, c.dq, sizeof c.dq},     {CKA_COEFFICIENT, c.qinv, sizeof c.qinv}};
  CK_ULONG room[8];
  for (size_t i = 0; i < 8; ++i) {
    room[i] = readBack[i].ulValueLen;
  }
  if (Status st = RY_P11(C_GetAttributeValue(s, privHandle, readBack, 8), "C_GetAttributeValue ");
      st != Status::Ok) {
    return st;
  }
  for (size_t i = 0; i < 8; ++i) {
    // A value the module could not give (CK_UNAVAILABLE_INFORMATION), or
    // one beyond the room offered, is no key component.
    const CK_ULONG len = readBack[i].ulValueLen;
    if (len == CK_UNAVAILABLE_INFORMATION || len == 0 || len > room[i]) {
      return RY_TOK_FAILED(tokStatus(CKR_ATTRIBUTE_SENSITIVE), "C_GetAttributeValue ");
    }
  }
  if (Status st = RY_DESTROY(privKey); st != Status::Ok) {
    return st;
  }
  if (Status st = RY_DESTROY(pubKey); st != Status::Ok) {
    return st;
  }
  if (Status st = ts.close(); st != Status::Ok) {
    return st;
  }

  RyRsaPublicKey pub;
  RyRsaPrivateKey priv;
  Wipe wipePriv(&priv, sizeof priv);
  putRight(pub.modulus, c.n, readBack[0].ulValueLen);
  putRight(pub.publicExponent, c.e, readBack[1].ulValueLen);
  const std::span<uint8_t> fields[] = {priv.modulus,   priv.publicExponent, priv.privateExponent,
                                       priv.prime1,    priv.prime2,         priv.exponent1,
                                       priv.exponent2, priv.coefficient};
  for (size_t i = 0; i < 8; ++i) {
    putRight(fields[i], static_cast<const uint8_t *>(readBack[i].pValue), readBack[i].ulValueLen);
  }

  // Both lengths first, so that nothing is written unless both encode.
  uint32_t pubLen = 0;
  uint32_t privLen = 0;
  if (Status st = static_cast<Status>(Ry_Encode_PublicKey(&pub, nullptr, &pubLen));
      st != Status::Ok) {
    return RY_TOK_FAILED(st, "Ry_Encode_PublicKey ");
  }
  if (Status st = static_cast<Status>(Ry_Encode_PrivateKey(&priv, nullptr, &privLen));
      st != Status::Ok) {
    return RY_TOK_FAILED(st, "Ry_Encode_PrivateKey ");
  }
  if (publicKeyDer != nullptr) {
    Ry_Encode_PublicKey(&pub, publicKeyDer, &pubLen);
  }
  if (privateKeyDer != nullptr) {
    Ry_Encode_PrivateKey(&priv, privateKeyDer, &privLen);
  }
  *publicKeyDerLen = pubLen;
  *privateKeyDerLen = privLen;
  return Status::Ok;
}

Status putKeypair(int32_t keyIndex, uint32_t keyFormat, const uint8_t *privateKey,
                  uint32_t privateKeyLen) {
  if (keyIndex < 1 || keyIndex > 100) {
    return Status::KeyIndexRange;
  }
  char label[32];
  const int labelLen = std::snprintf(label, sizeof label, kPrivateLabel, int(keyIndex));
  // The label goes to the module with the key (count 1), so that the
  // imported key is found under it afterwards.
  CK_ATTRIBUTE tmpl[] = {{CKA_LABEL, label, CK_ULONG(labelLen)}};

  uint8_t wrapped[kImportRoom];
  Wipe wipeWrapped(wrapped, sizeof wrapped);
  uint32_t wrappedLen = 0;
  if (keyFormat != 1) {
    if (Status st =
            static_cast<Status>(Hx_PKCS1to8KEY(privateKey, privateKeyLen, nullptr, &wrappedLen));
        st != Status::Ok) {
      return RY_TOK_FAILED(st, "Ry_PKCS1to8KEY");
    }
    if (wrappedLen > kImportRoom) {
      return RY_TOK_FAILED(Status::InvalidLength, "Ry_PKCS1to8KEY");
    }
    Hx_PKCS1to8KEY(privateKey, privateKeyLen, wrapped, &wrappedLen);
  } else {
    if (privateKeyLen > kImportRoom) {
      return Status::InvalidLength;
    }
    std::memcpy(wrapped, privateKey, privateKeyLen);
    wrappedLen = privateKeyLen;
  }

  // The key is imported through the second slot alone.
  TokenSessions ts;
  if (Status st = ts.open(false, Second::Always, true); st != Status::Ok) {
    return st;
  }
  // C_UnwrapKey without an unwrapping key (handle 0): the token takes the
  // wrapped form in the clear and keeps the key as a token object.
  CK_MECHANISM mech = {CKM_DES_ECB, nullptr, 0};
  CK_OBJECT_HANDLE key = 0;
  if (Status st = RY_P11(C_UnwrapKey(ts.second(), &mech, 0, wrapped, wrappedLen, tmpl, 1, &key),
                         "CI_UnwrapKey");
      st != Status::Ok) {
    return st;
  }
  return ts.close();
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_GenKeypair(uint32_t slotChoice, uint32_t modulusBits, uint32_t reserved,
                                  uint8_t *publicKeyDer, uint32_t *publicKeyDerLen,
                                  uint8_t *privateKeyDer, uint32_t *privateKeyDerLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(publicKeyDerLen, privateKeyDerLen);
    return genKeypair(slotChoice, modulusBits, publicKeyDer, publicKeyDerLen, privateKeyDer,
                      privateKeyDerLen);
  });
}

RYCERT_API uint32_t Ry_PutKeypair(int32_t keyIndex, uint32_t keyFormat, uint32_t reserved1,
                                  uint32_t reserved2, const uint8_t *privateKey,
                                  uint32_t privateKeyLen) {
  return RY_C_BOUNDARY({
    if (keyIndex < 1 || keyIndex > 100) {
      return Status::KeyIndexRange;  // before anything else, without a log line
    }
    RY_REQUIRE(privateKey);
    return putKeypair(keyIndex, keyFormat, privateKey, privateKeyLen);
  });
}

}  // extern "C"
