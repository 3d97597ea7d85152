// Password-based encryption and MACs (PKCS#5 v1 key derivation done by
// the module: CKM_PBE_MD2_DES_CBC, CKM_PBE_MD5_DES_CBC). The derived key
// is a session object of the first session, destroyed at the end.
#include <algorithm>

#include "ry_enc.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_enc_pbe";

// The MAC's data reaches the module in place, this much at a time.
constexpr uint32_t kMacPiece = 4096;

CK_MECHANISM_TYPE pbeMechanism(uint32_t algorithm) {
  return algorithm == PBEALG_MD5_DES ? CKM_PBE_MD5_DES_CBC : CKM_PBE_MD2_DES_CBC;
}

// C_GenerateKey with a PBE mechanism: the key, and the IV in `iv`.
Status deriveKey(CK_SESSION_HANDLE s, CK_MECHANISM_TYPE type, const uint8_t *password,
                 uint32_t passwordLen, const uint8_t *salt, uint32_t saltLen, uint32_t iterations,
                 CK_BYTE (&iv)[8], SessionObject &key) {
  PbeParams params = {iv,          inBytes(password), ul(passwordLen), inBytes(salt),
                      ul(saltLen), ul(iterations)};
  CK_MECHANISM mech = {type, &params, sizeof params};
  CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
  CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &cls, sizeof cls}};
  CK_OBJECT_HANDLE h = 0;
  if (Status st = RY_P11(C_GenerateKey(s, &mech, tmpl, 1, &h), "C_GenerateKey ");
      st != Status::Ok) {
    return st;
  }
  key.adopt(s, h);
  return Status::Ok;
}

Status pbe(bool encrypt, const uint8_t *password, uint32_t passwordLen, const uint8_t *salt,
           uint32_t saltLen, uint32_t iterations, const uint8_t *input, uint32_t inputLen,
           uint8_t *output, uint32_t *outputLen, uint32_t algorithm) {
  // The argument checks of Ry_EncodePBE and Ry_DecodePBE.
  RY_REQUIRE(outputLen);
  RY_REQUIRE_BYTES(password, passwordLen);
  RY_REQUIRE_BYTES(salt, saltLen);
  RY_REQUIRE_BYTES(input, inputLen);
  TokenSessions ts;
  if (Status st = ts.open(Second::Always); st != Status::Ok) {
    return st;
  }
  const CK_SESSION_HANDLE s = ts.first();
  CK_BYTE iv[8] = {};
  SessionObject key;
  if (Status st = deriveKey(s, pbeMechanism(algorithm), password, passwordLen, salt, saltLen,
                            iterations, iv, key);
      st != Status::Ok) {
    return st;
  }
  CK_MECHANISM mech = {CKM_DES_CBC_PAD, iv, sizeof iv};
  if (encrypt) {
    if (Status st = RY_P11(C_EncryptInit(s, &mech, key.handle()), "C_EncryptInit ");
        st != Status::Ok) {
      return st;
    }
  } else {
    if (Status st = RY_P11(C_DecryptInit(s, &mech, key.handle()), "C_DecryptInit ");
        st != Status::Ok) {
      return st;
    }
  }
  CK_ULONG len = ul(*outputLen);
  uint8_t *in = inBytes(input);
  if (encrypt) {
    if (Status st = RY_P11(C_Encrypt(s, in, ul(inputLen), output, &len), "C_Encrypt Len");
        st != Status::Ok) {
      return st;
    }
  } else {
    if (Status st = RY_P11(C_Decrypt(s, in, ul(inputLen), output, &len), "C_Decrypt  Len");
        st != Status::Ok) {
      return st;
    }
  }
  if (Status st = destroyAndClose(ts, key); st != Status::Ok) {
    return st;
  }
  return reportLength(len, *outputLen, Status::InvalidLength, "output over 32 bits");
}

// The MAC key: derived with CKM_PBE_MD2_DES_CBC, no salt, one iteration;
// the derived IV is not used. The MAC: CKM_DES_MAC_GENERAL for 8 bytes.
Status mac(bool sign, const uint8_t *password, uint32_t passwordLen, const uint8_t *data,
           uint32_t dataLen, uint8_t *macOut, uint32_t *macOutLen, const uint8_t *macIn,
           uint32_t macInLen) {
  TokenSessions ts;
  if (Status st = ts.open(Second::Always); st != Status::Ok) {
    return st;
  }
  const CK_SESSION_HANDLE s = ts.first();
  CK_BYTE iv[8] = {};
  SessionObject key;
  if (Status st = deriveKey(s, CKM_PBE_MD2_DES_CBC, password, passwordLen, nullptr, 0, 1, iv, key);
      st != Status::Ok) {
    return st;
  }
  MacGeneralParams macLength = 8;
  CK_MECHANISM mech = {CKM_DES_MAC_GENERAL, &macLength, sizeof macLength};
  if (sign) {
    if (Status st = RY_P11(C_SignInit(s, &mech, key.handle()), "C_SignInit "); st != Status::Ok) {
      return st;
    }
  } else {
    if (Status st = RY_P11(C_VerifyInit(s, &mech, key.handle()), "C_VerifyInit ");
        st != Status::Ok) {
      return st;
    }
  }
  for (uint32_t off = 0; off < dataLen;) {
    const uint32_t piece = std::min(dataLen - off, kMacPiece);
    uint8_t *p = inBytes(data) + off;
    if (sign) {
      if (Status st = RY_P11(C_SignUpdate(s, p, piece), "C_SignUpdate "); st != Status::Ok) {
        return st;
      }
    } else {
      if (Status st = RY_P11(C_VerifyUpdate(s, p, piece), "C_VerifyUpdate "); st != Status::Ok) {
        return st;
      }
    }
    off += piece;
  }
  CK_ULONG len = 0;
  if (sign) {
    len = ul(*macOutLen);
    if (Status st = RY_P11(C_SignFinal(s, macOut, &len), "SignFinal "); st != Status::Ok) {
      return st;
    }
  } else {
    if (Status st =
            RY_P11(C_VerifyFinal(s, const_cast<uint8_t *>(macIn), ul(macInLen)), "C_VerifyFinal");
        st != Status::Ok) {
      return st;
    }
  }
  if (Status st = destroyAndClose(ts, key); st != Status::Ok) {
    return st;
  }
  return sign ? reportLength(len, *macOutLen, Status::InvalidLength, "MAC over 32 bits")
              : Status::Ok;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_EncodePBE(const uint8_t *password, uint32_t passwordLen, const uint8_t *salt,
                                 uint32_t saltLen, uint32_t iterations, const uint8_t *input,
                                 uint32_t inputLen, uint8_t *output, uint32_t *outputLen,
                                 uint32_t algorithm) {
  return RY_C_BOUNDARY({
    return pbe(true, password, passwordLen, salt, saltLen, iterations, input, inputLen, output,
               outputLen, algorithm);
  });
}

RYCERT_API uint32_t Ry_DecodePBE(const uint8_t *password, uint32_t passwordLen, const uint8_t *salt,
                                 uint32_t saltLen, uint32_t iterations, const uint8_t *input,
                                 uint32_t inputLen, uint8_t *output, uint32_t *outputLen,
                                 uint32_t algorithm) {
  return RY_C_BOUNDARY({
    return pbe(false, password, passwordLen, salt, saltLen, iterations, input, inputLen, output,
               outputLen, algorithm);
  });
}

RYCERT_API uint32_t Ry_GenerateMac(const uint8_t *password, uint32_t passwordLen,
                                   const uint8_t *data, uint32_t dataLen, uint8_t *macOut,
                                   uint32_t *macLen, uint32_t reserved) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(macLen);
    RY_REQUIRE_BYTES(password, passwordLen);
    RY_REQUIRE_BYTES(data, dataLen);
    return mac(true, password, passwordLen, data, dataLen, macOut, macLen, nullptr, 0);
  });
}

RYCERT_API uint32_t Ry_VerifyMac(const uint8_t *password, uint32_t passwordLen, const uint8_t *data,
                                 uint32_t dataLen, const uint8_t *macIn, uint32_t macLen) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(macIn);
    RY_REQUIRE_BYTES(password, passwordLen);
    RY_REQUIRE_BYTES(data, dataLen);
    return mac(false, password, passwordLen, data, dataLen, nullptr, nullptr, macIn, macLen);
  });
}

}  // extern "C"
