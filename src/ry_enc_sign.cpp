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
Status reportLength(CK_ULONG len, uint32_t &out) {
  if (!fits32(len)) {
    return RY_TOK_FAILED(tokStatus(CKR_GENERAL_ERROR), "length over 32 bits");
  }
  out = uint32_t(len);
  return Status::Ok;
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
  if (keyIndex == 0) {
    if (Status st = createPrivateKey(ts.first(), keyDer, keyDerLen, created, key.modulusLen);
        st != Status::Ok) {
      return st;
    }
    key.session = ts.first();
    key.handle = created.handle();
  } else {
    if (Status st = findByLabel(ts.second(), kPrivateLabel, keyIndex, key.handle);
        st != Status::Ok) {
      return st;
    }
    key.session = ts.second();
  }
  CK_MECHANISM mech = {alg->mechanism, nullptr, 0};
  if (Status st = RY_P11(C_SignInit(key.session, &mech, key.handle), "C_SignInit ");
      st != Status::Ok) {
    return st;
  }
  // C_Sign with a NULL signature reports the length only (PKCS#11 v2.40
  // 5.2); the unfinished operation ends with the session.
  CK_ULONG len = ul(*signatureLen);
  if (Status st =
          RY_P11(C_Sign(key.session, inBytes(data), ul(dataLen), signature, &len), "C_Sign ");
      st != Status::Ok) {
    return st;
  }
  if (keyIndex == 0) {
    if (Status st = RY_DESTROY(created); st != Status::Ok) {
      return st;
    }
  }
  if (Status st = ts.close(); st != Status::Ok) {
    return st;
  }
  return reportLength(len, *signatureLen);
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
  if (keyIndex == 0) {
    if (Status st = RY_DESTROY(created); st != Status::Ok) {
      return st;
    }
  }
  return ts.close();
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
  CK_MECHANISM mech = {CKM_RSA_X_509, nullptr, 0};
  if (Status st = RY_P11(C_EncryptInit(key.session, &mech, key.handle), "C_EncryptInit ");
      st != Status::Ok) {
    return st;
  }
  CK_ULONG len = ul(*encryptedLen);
  if (Status st =
          RY_P11(C_Encrypt(key.session, inBytes(data), ul(dataLen), encrypted, &len), "C_Encrypt ");
      st != Status::Ok) {
    return st;
  }
  if (keyIndex == 0) {
    if (Status st = RY_DESTROY(created); st != Status::Ok) {
      return st;
    }
  }
  if (Status st = ts.close(); st != Status::Ok) {
    return st;
  }
  return reportLength(len, *encryptedLen);
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
