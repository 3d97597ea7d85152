// RSA signatures and raw RSA encryption in the token: C_SignInit/C_Sign,
// C_VerifyInit/C_Verify and C_EncryptInit/C_Encrypt with CKM_RSA_X_509,
// single-part. The module hashes and pads; the library neither does.
#include "ry_enc.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_enc_sign";

Status unknownAlgorithm() {
  return RY_TOK_FAILED(Status::InvalidSignatureAlg, "RYCERT_InvalidSignatureAlgErr");
}

// Lengths the module reports go back into the caller's 32-bit lengths.
Status reportOut(CK_ULONG len, uint32_t &out) {
  return reportLength(len, out, tokStatus(CKR_GENERAL_ERROR), "length over 32 bits");
}

// The module's single-part calls that take input and give output
// (C_SignInit/C_Sign, C_EncryptInit/C_Encrypt): one shape each.
using InitFn = CK_RV (*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);
using OneShotFn = CK_RV (*)(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR);
struct OneShot {
  InitFn init;
  const char *initName;
  OneShotFn run;
  const char *runName;
};

// The operation with `key` (made from the caller's DER when `created`
// holds it): init, the call (a NULL output reports the length only,
// PKCS#11 v2.40 5.2; the unfinished operation ends with the session), the
// key object destroyed, the sessions closed, and the length reported.
Status runOneShot(const OneShot &op, CK_MECHANISM_TYPE type, TokenSessions &ts,
                  SessionObject &created, bool keyCreated, const KeyRef &key, const uint8_t *data,
                  uint32_t dataLen, uint8_t *out, uint32_t *outLen) {
  CK_MECHANISM mech = {type, nullptr, 0};
  if (Status st = RY_P11(op.init(key.session, &mech, key.handle), op.initName); st != Status::Ok) {
    return st;
  }
  CK_ULONG len = ul(*outLen);
  if (Status st = RY_P11(op.run(key.session, inBytes(data), ul(dataLen), out, &len), op.runName);
      st != Status::Ok) {
    return st;
  }
  if (Status st = destroyAndClose(ts, created, keyCreated); st != Status::Ok) {
    return st;
  }
  return reportOut(len, *outLen);
}

Status signData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen, const uint8_t *data,
                uint32_t dataLen, uint8_t *signature, uint32_t *signatureLen, uint32_t algorithm) {
  // An unknown code is refused before the module is called: signing with
  // one mechanism and verifying with another could never agree.
  const SigAlgRow *alg = sigAlgByCode(algorithm);
  if (alg == nullptr) {
    return unknownAlgorithm();
  }
  TokenSessions ts;
  if (Status st = ts.open(Second::IfKeyIndex, keyIndex != 0); st != Status::Ok) {
    return st;
  }
  SessionObject created;
  KeyRef key;
  if (Status st = privateKeyFor(ts, keyIndex, keyDer, keyDerLen, created, key, false);
      st != Status::Ok) {
    return st;
  }
  static constexpr OneShot kSign = {C_SignInit, "C_SignInit ", C_Sign, "C_Sign "};
  return runOneShot(kSign, alg->mechanism, ts, created, keyIndex == 0, key, data, dataLen,
                    signature, signatureLen);
}

Status verifyData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen, const uint8_t *data,
                  uint32_t dataLen, const uint8_t *signature, uint32_t signatureLen,
                  uint32_t algorithm) {
  const SigAlgRow *alg = sigAlgByCode(algorithm);
  if (alg == nullptr) {
    return unknownAlgorithm();
  }
  TokenSessions ts;
  if (Status st = ts.open(Second::IfKeyIndex, keyIndex != 0); st != Status::Ok) {
    return st;
  }
  SessionObject created;
  KeyRef key;
  if (Status st = publicKeyFor(ts, keyIndex, keyDer, keyDerLen, created, key); st != Status::Ok) {
    return st;
  }
  CK_MECHANISM mech = {alg->mechanism, nullptr, 0};
  if (Status st = RY_P11(C_VerifyInit(key.session, &mech, key.handle), "C_VerifyInit ");
      st != Status::Ok) {
    return st;
  }
  if (Status st = RY_P11(C_Verify(key.session, inBytes(data), ul(dataLen),
                                  const_cast<uint8_t *>(signature), ul(signatureLen)),
                         "C_Verify ");
      st != Status::Ok) {
    return st;
  }
  return destroyAndClose(ts, created, keyIndex == 0);
}

Status encData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen, const uint8_t *data,
               uint32_t dataLen, uint8_t *encrypted, uint32_t *encryptedLen) {
  TokenSessions ts;
  if (Status st = ts.open(Second::IfKeyIndex, keyIndex != 0); st != Status::Ok) {
    return st;
  }
  SessionObject created;
  KeyRef key;
  if (Status st = publicKeyFor(ts, keyIndex, keyDer, keyDerLen, created, key); st != Status::Ok) {
    return st;
  }
  static constexpr OneShot kEncrypt = {C_EncryptInit, "C_EncryptInit ", C_Encrypt, "C_Encrypt "};
  return runOneShot(kEncrypt, CKM_RSA_X_509, ts, created, keyIndex == 0, key, data, dataLen,
                    encrypted, encryptedLen);
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_SignData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                const uint8_t *data, uint32_t dataLen, uint8_t *signature,
                                uint32_t *signatureLen, uint32_t algorithm) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(signatureLen);
    RY_REQUIRE_BYTES(data, dataLen);
    if (keyIndex == 0) {
      RY_REQUIRE(keyDer);
    }
    return signData(keyIndex, keyDer, keyDerLen, data, dataLen, signature, signatureLen, algorithm);
  });
}

RYCERT_API uint32_t Ry_VerifyData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                  const uint8_t *data, uint32_t dataLen, const uint8_t *signature,
                                  uint32_t signatureLen, uint32_t algorithm) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(signature);
    RY_REQUIRE_BYTES(data, dataLen);
    if (keyIndex == 0) {
      RY_REQUIRE(keyDer);
    }
    return verifyData(keyIndex, keyDer, keyDerLen, data, dataLen, signature, signatureLen,
                      algorithm);
  });
}

RYCERT_API uint32_t Ry_EncData(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                               const uint8_t *data, uint32_t dataLen, uint8_t *encrypted,
                               uint32_t *encryptedLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(encryptedLen);
    RY_REQUIRE_BYTES(data, dataLen);
    if (keyIndex == 0) {
      RY_REQUIRE(keyDer);
    }
    return encData(keyIndex, keyDer, keyDerLen, data, dataLen, encrypted, encryptedLen);
  });
}

}  // extern "C"
