// Digital envelopes: a fresh secret key encrypts the data (CBC with
// padding), the recipient's RSA key encrypts the secret key (PKCS#1 v1.5).
//
//   envelope = RSA block (modulus length) || ciphertext of the data
//   RSA block = PKCS#1 v1.5 encryption of: algorithm code (1 byte) ||
//                                          secret key value (CKA_VALUE)
//
// The envelope carries no IV: both sides use the same fixed one, which is
// sound only because every envelope has a key of its own.
#include <cstring>

#include "ry_enc.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_enc_env";

struct EnvAlgRow {
  uint32_t code;
  CK_MECHANISM_TYPE keyGen;
  CK_KEY_TYPE keyType;
  CK_MECHANISM_TYPE cipher;
};
constexpr EnvAlgRow kEnvAlgs[] = {
    {ENVALG_IDEA, CKM_IDEA_KEY_GEN, CKK_IDEA, CKM_IDEA_CBC_PAD},
    {ENVALG_DES, CKM_DES_KEY_GEN, CKK_DES, CKM_DES_CBC_PAD},
    {ENVALG_DES3, CKM_DES3_KEY_GEN, CKK_DES3, CKM_DES3_CBC_PAD},
};
const EnvAlgRow *envAlg(uint32_t c) {
  for (const EnvAlgRow &r : kEnvAlgs) {
    if (r.code == c) {
      return &r;
    }
  }
  return nullptr;
}

// The data part's IV, the same for sealing and opening.
constexpr CK_BYTE kEnvelopeIv[8] = {0x52, 0x59, 0x45, 0x4E, 0x56, 0x4C, 0x50, 0x31};

// The plain RSA block: 1 code byte and up to 1023 key bytes.
constexpr size_t kBlockRoom = 1024;
// The longest RSA block: a 4096-bit modulus.
constexpr CK_ULONG kMaxRsaBlock = 512;

Status refuse(const char *why) { return RY_TOK_FAILED(Status::InvalidLength, why); }

Status encodeEnvelope(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                      const uint8_t *data, uint32_t dataLen, uint8_t *envelope,
                      uint32_t *envelopeLen, uint32_t algorithm) {
  const EnvAlgRow *alg = envAlg(algorithm);
  if (alg == nullptr) {
    alg = &kEnvAlgs[0];  // any other code seals with IDEA
  }
  TokenSessions ts;
  if (Status st = ts.open(Second::Always); st != Status::Ok) {
    return st;
  }
  const CK_SESSION_HANDLE first = ts.first();

  // C_GenerateKey: a secret key of the algorithm's type, a session object.
  CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
  CK_KEY_TYPE type = alg->keyType;
  CK_ATTRIBUTE secretTmpl[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_KEY_TYPE, &type, sizeof type}};
  CK_MECHANISM genMech = {alg->keyGen, nullptr, 0};
  CK_OBJECT_HANDLE h = 0;
  if (Status st = RY_P11(C_GenerateKey(first, &genMech, secretTmpl, 2, &h), "C_GenerateKey ");
      st != Status::Ok) {
    return st;
  }
  SessionObject secret;
  secret.adopt(first, h);
  CK_MECHANISM dataMech = {alg->cipher, const_cast<CK_BYTE *>(kEnvelopeIv), sizeof kEnvelopeIv};
  if (Status st = RY_P11(C_EncryptInit(first, &dataMech, h), "C_EncryptInit "); st != Status::Ok) {
    return st;
  }

  SessionObject created;
  KeyRef recipient;
  if (Status st = publicKeyFor(ts, keyIndex, keyDer, keyDerLen, created, recipient);
      st != Status::Ok) {
    return st;
  }
  const CK_ULONG blockLen = recipient.modulusLen;
  if (blockLen == 0 || blockLen > kMaxRsaBlock) {
    return refuse("RSA block length");
  }

  if (envelope == nullptr) {
    // C_Encrypt with a NULL output reports the data part's length.
    CK_ULONG len = 0;
    if (Status st =
            RY_P11(C_Encrypt(first, inBytes(data), ul(dataLen), nullptr, &len), "C_Encrypt Len");
        st != Status::Ok) {
      return st;
    }
    if (Status st = RY_DESTROY(secret); st != Status::Ok) {
      return st;
    }
    if (Status st = destroyAndClose(ts, created, keyIndex == 0); st != Status::Ok) {
      return st;
    }
    return reportLength(len + blockLen, *envelopeLen, Status::InvalidLength,
                        "envelope over 32 bits");
  }

  if (*envelopeLen < blockLen) {
    return refuse("envelope capacity below the RSA block");
  }
  CK_ULONG len = *envelopeLen - blockLen;
  if (Status st = RY_P11(C_Encrypt(first, inBytes(data), ul(dataLen), envelope + blockLen, &len),
                         "C_Encrypt ");
      st != Status::Ok) {
    return st;
  }

  CK_BYTE plain[kBlockRoom];
  Wipe wipePlain(plain, sizeof plain);
  plain[0] = CK_BYTE(alg->code);
  CK_ATTRIBUTE value = {CKA_VALUE, plain + 1, kBlockRoom - 1};
  if (Status st = RY_P11(C_GetAttributeValue(first, h, &value, 1), "C_GetAttributeValue ");
      st != Status::Ok) {
    return st;
  }
  if (value.ulValueLen == CK_UNAVAILABLE_INFORMATION || value.ulValueLen > kBlockRoom - 1) {
    return RY_TOK_FAILED(tokStatus(CKR_ATTRIBUTE_SENSITIVE), "C_GetAttributeValue ");
  }
  if (Status st = RY_DESTROY(secret); st != Status::Ok) {
    return st;
  }

  // CKM_RSA_PKCS takes no parameter (PKCS#11 v2.40 2.1.6).
  CK_MECHANISM rsaMech = {CKM_RSA_PKCS, nullptr, 0};
  if (Status st =
          RY_P11(C_EncryptInit(recipient.session, &rsaMech, recipient.handle), "C_EncryptInit ");
      st != Status::Ok) {
    return st;
  }
  CK_ULONG rsaLen = blockLen;
  if (Status st =
          RY_P11(C_Encrypt(recipient.session, plain, value.ulValueLen + 1, envelope, &rsaLen),
                 "C_Encrypt ");
      st != Status::Ok) {
    return st;
  }
  if (rsaLen != blockLen) {
    // The receiver splits the envelope at its modulus length.
    return RY_TOK_FAILED(tokStatus(CKR_ENCRYPTED_DATA_LEN_RANGE), "C_Encrypt ");
  }
  if (Status st = destroyAndClose(ts, created, keyIndex == 0); st != Status::Ok) {
    return st;
  }
  return reportLength(len + blockLen, *envelopeLen, Status::InvalidLength, "envelope over 32 bits");
}

Status decodeEnvelope(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                      const uint8_t *envelope, uint32_t envelopeLen, uint8_t *data,
                      uint32_t *dataLen) {
  TokenSessions ts;
  if (Status st = ts.open(Second::Always); st != Status::Ok) {
    return st;
  }
  const CK_SESSION_HANDLE first = ts.first();
  SessionObject created;
  KeyRef recipient;
  // The RSA block is as long as the key's modulus, whatever its size.
  if (Status st = privateKeyFor(ts, keyIndex, keyDer, keyDerLen, created, recipient, true);
      st != Status::Ok) {
    return st;
  }
  const CK_ULONG blockLen = recipient.modulusLen;
  if (blockLen == 0 || envelopeLen < blockLen) {
    return refuse("envelope shorter than its RSA block");
  }

  CK_MECHANISM rsaMech = {CKM_RSA_PKCS, nullptr, 0};
  if (Status st =
          RY_P11(C_DecryptInit(recipient.session, &rsaMech, recipient.handle), "C_DecryptInit ");
      st != Status::Ok) {
    return st;
  }
  CK_BYTE plain[kBlockRoom];
  Wipe wipePlain(plain, sizeof plain);
  CK_ULONG plainLen = sizeof plain;
  if (Status st = RY_P11(
          C_Decrypt(recipient.session, const_cast<uint8_t *>(envelope), blockLen, plain, &plainLen),
          "C_Decrypt ");
      st != Status::Ok) {
    return st;
  }
  if (keyIndex == 0) {
    if (Status st = RY_DESTROY(created); st != Status::Ok) {
      return st;
    }
  }
  const EnvAlgRow *alg = plainLen == 0 || plainLen > kBlockRoom ? nullptr : envAlg(plain[0]);
  if (alg == nullptr) {
    return Status::CsrNotEnd;  // no envelope algorithm: 112, no log line
  }

  CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
  CK_KEY_TYPE type = alg->keyType;
  CK_ATTRIBUTE secretTmpl[] = {{CKA_CLASS, &cls, sizeof cls},
                               {CKA_KEY_TYPE, &type, sizeof type},
                               {CKA_VALUE, plain + 1, plainLen - 1}};
  CK_OBJECT_HANDLE h = 0;
  if (Status st = RY_P11(C_CreateObject(first, secretTmpl, 3, &h), "C_CreateObject ");
      st != Status::Ok) {
    return st;
  }
  SessionObject secret;
  secret.adopt(first, h);
  CK_MECHANISM dataMech = {alg->cipher, const_cast<CK_BYTE *>(kEnvelopeIv), sizeof kEnvelopeIv};
  if (Status st = RY_P11(C_DecryptInit(first, &dataMech, h), "C_DecryptInit "); st != Status::Ok) {
    return st;
  }
  CK_ULONG len = data == nullptr ? 0 : ul(*dataLen);
  if (Status st = RY_P11(C_Decrypt(first, const_cast<uint8_t *>(envelope) + blockLen,
                                   envelopeLen - blockLen, data, &len),
                         data == nullptr ? "C_Decrypt  Len" : "C_Decrypt ");
      st != Status::Ok) {
    return st;
  }
  if (Status st = destroyAndClose(ts, secret); st != Status::Ok) {
    return st;
  }
  return reportLength(len, *dataLen, Status::InvalidLength, "data over 32 bits");
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_EncodeEnvelope(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                      const uint8_t *data, uint32_t dataLen, uint8_t *envelope,
                                      uint32_t *envelopeLen, uint32_t algorithm) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(envelopeLen);
    RY_REQUIRE_BYTES(data, dataLen);
    if (keyIndex == 0) {
      RY_REQUIRE(keyDer);
    }
    return encodeEnvelope(keyIndex, keyDer, keyDerLen, data, dataLen, envelope, envelopeLen,
                          algorithm);
  });
}

RYCERT_API uint32_t Ry_DecodeEnvelop(int32_t keyIndex, const uint8_t *keyDer, uint32_t keyDerLen,
                                     const uint8_t *envelope, uint32_t envelopeLen, uint8_t *data,
                                     uint32_t *dataLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(envelope, dataLen);
    if (keyIndex == 0) {
      RY_REQUIRE(keyDer);
    }
    return decodeEnvelope(keyIndex, keyDer, keyDerLen, envelope, envelopeLen, data, dataLen);
  });
}

}  // extern "C"
