// Token start-up and shut-down, and what every token operation shares:
// the session procedure, session objects, RSA keys from DER and the label
// lookup (PKCS#11 v2.40: C_Initialize, C_GetSlotList, C_OpenSession,
// C_CreateObject, C_FindObjects*).
#include "ry_enc.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "ry_oids.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_enc";

// The slots that held a token at the last successful Ry_Initialize, in the
// module's order. Only Ry_Initialize writes them; operations read them.
constexpr size_t kMaxSlots = 4;
std::atomic<uint32_t> gSlotCount{0};
std::atomic<CK_SLOT_ID> gSlots[kMaxSlots];

using Field = std::span<const uint8_t>;

// The significant bytes of a right-aligned big-endian field: the module
// gets every key component without its leading zero bytes.
Field significant(Field f) {
  size_t skip = 0;
  while (skip < f.size() && f[skip] == 0) {
    ++skip;
  }
  return f.subspan(skip);
}

CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE t, const void *p, size_t n) {
  return {t, const_cast<void *>(p), CK_ULONG(n)};
}
CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE t, Field f) { return attr(t, f.data(), f.size()); }

// The key decoders take a signed length.
Status derLength(uint32_t len, int32_t &out) {
  if (len > 0x7FFFFFFFu) {
    return RY_TOK_FAILED(Status::InvalidLength, "key DER too long");
  }
  out = int32_t(len);
  return Status::Ok;
}

constexpr SigAlgRow kSigAlgs[] = {
    {SIGALG_RSA, CKM_RSA_PKCS, oid::kRsaEncryption},
    {SIGALG_MD2_RSA, CKM_MD2_RSA_PKCS, oid::kMd2WithRsaEncryption},
    {SIGALG_MD5_RSA, CKM_MD5_RSA_PKCS, oid::kMd5WithRsaEncryption},
    {SIGALG_SHA1_RSA, CKM_SHA1_RSA_PKCS, oid::kSha1WithRsaEncryption},
    {SIGALG_SHA256_RSA, CKM_SHA256_RSA_PKCS, oid::kSha256WithRsaEncryption},
    {SIGALG_SHA384_RSA, CKM_SHA384_RSA_PKCS, oid::kSha384WithRsaEncryption},
    {SIGALG_SHA512_RSA, CKM_SHA512_RSA_PKCS, oid::kSha512WithRsaEncryption},
};

}  // namespace

const SigAlgRow *sigAlgByCode(uint32_t c) {
  for (const SigAlgRow &r : kSigAlgs) {
    if (r.code == c) {
      return &r;
    }
  }
  return nullptr;
}

// The whole OID must match: an OID that merely begins with a known one
// (1.2.840.113549.1.1.5.1) names another algorithm.
const SigAlgRow *sigAlgByOid(std::span<const uint8_t> o) {
  for (const SigAlgRow &r : kSigAlgs) {
    if (oid::equal(r.oid, o)) {
      return &r;
    }
  }
  return nullptr;
}

Wipe::~Wipe() { explicit_bzero(p_, n_); }

// ------------------------------------------------------------- sessions

TokenSessions::~TokenSessions() {
  // Failure path: both closed, results ignored.
  if (first_ != 0) {
    C_CloseSession(first_);
  }
  if (second_ != 0) {
    C_CloseSession(second_);
  }
}

Status TokenSessions::open(bool wantFirst, Second second, bool keyIndexGiven) {
  const uint32_t count = gSlotCount.load(std::memory_order_acquire);
  // C_OpenSession: CKF_SERIAL_SESSION alone, a read-only session without
  // a notification callback.
  if (count >= 1 && wantFirst) {
    if (Status st = RY_P11(C_OpenSession(gSlots[0].load(std::memory_order_relaxed),
                                         CKF_SERIAL_SESSION, nullptr, nullptr, &first_),
                           "C_OpenSession");
        st != Status::Ok) {
      first_ = 0;
      return st;
    }
  }
  const bool wantSecond =
      second == Second::Always || (second == Second::IfKeyIndex && keyIndexGiven);
  if (count >= 2 && wantSecond) {
    if (Status st = RY_P11(C_OpenSession(gSlots[1].load(std::memory_order_relaxed),
                                         CKF_SERIAL_SESSION, nullptr, nullptr, &second_),
                           "C_OpenSession");
        st != Status::Ok) {
      second_ = 0;
      return st;  // the destructor closes the first
    }
  }
  return Status::Ok;
}

Status TokenSessions::close() {
  const CK_SESSION_HANDLE first = first_;
  const CK_SESSION_HANDLE second = second_;
  first_ = second_ = 0;
  if (first != 0) {
    if (Status st = RY_P11(C_CloseSession(first), "C_CloseSession"); st != Status::Ok) {
      if (second != 0) {
        C_CloseSession(second);
      }
      return st;
    }
  }
  if (second != 0) {
    return RY_P11(C_CloseSession(second), "C_CloseSession hard");
  }
  return Status::Ok;
}

SessionObject::~SessionObject() {
  if (handle_ != 0) {
    C_DestroyObject(session_, handle_);
  }
}

Status SessionObject::destroy(const char *src, int line) {
  const CK_OBJECT_HANDLE h = handle_;
  handle_ = 0;
  return p11Step(C_DestroyObject(session_, h), src, line, "C_DestroyObject ");
}

// ----------------------------------------------------------- keys

// Public key template: CKA_CLASS, CKA_KEY_TYPE, CKA_MODULUS,
// CKA_PUBLIC_EXPONENT; a session object (no CKA_TOKEN).
Status createPublicKey(CK_SESSION_HANDLE s, const uint8_t *der, uint32_t derLen, SessionObject &key,
                       CK_ULONG &modulusLen) {
  int32_t len = 0;
  if (Status st = derLength(derLen, len); st != Status::Ok) {
    return st;
  }
  RyRsaPublicKey rec;
  if (Status st = static_cast<Status>(Ry_Decode_PublicKey(&rec, der, len)); st != Status::Ok) {
    return RY_TOK_FAILED(st, "Ry_Decode_PublicKey ");
  }
  const Field n = significant(rec.modulus);
  const Field e = significant(rec.publicExponent);
  CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
  CK_KEY_TYPE type = CKK_RSA;
  CK_ATTRIBUTE tmpl[] = {attr(CKA_CLASS, &cls, sizeof cls), attr(CKA_KEY_TYPE, &type, sizeof type),
                         attr(CKA_MODULUS, n), attr(CKA_PUBLIC_EXPONENT, e)};
  CK_OBJECT_HANDLE h = 0;
  if (Status st = RY_P11(C_CreateObject(s, tmpl, 4, &h), "C_CreateObject "); st != Status::Ok) {
    return st;
  }
  key.adopt(s, h);
  modulusLen = n.size();
  return Status::Ok;
}

// Private key template: CKA_CLASS, CKA_KEY_TYPE and the eight components
// in RSAPrivateKey order (RFC 8017 A.1.2).
Status createPrivateKey(CK_SESSION_HANDLE s, const uint8_t *der, uint32_t derLen,
                        SessionObject &key, CK_ULONG &modulusLen) {
  int32_t len = 0;
  if (Status st = derLength(derLen, len); st != Status::Ok) {
    return st;
  }
  RyRsaPrivateKey rec;
  Wipe wipe(&rec, sizeof rec);
  if (Status st = static_cast<Status>(Ry_Decode_PrivateKey(&rec, der, len)); st != Status::Ok) {
    return RY_TOK_FAILED(st, "Ry_Decode_PrivateKey ");
  }
  const Field n = significant(rec.modulus);
  const Field e = significant(rec.publicExponent);
  // Public exponents are small in practice (65537); a longer one is
  // refused as the working copies have always held four bytes.
  if (e.size() > 4) {
    return RY_TOK_FAILED(Status::InvalidLength, "public exponent over 4 bytes");
  }
  CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
  CK_KEY_TYPE type = CKK_RSA;
  CK_ATTRIBUTE tmpl[] = {attr(CKA_CLASS, &cls, sizeof cls),
                         attr(CKA_KEY_TYPE, &type, sizeof type),
                         attr(CKA_MODULUS, n),
                         attr(CKA_PUBLIC_EXPONENT, e),
                         attr(CKA_PRIVATE_EXPONENT, significant(rec.privateExponent)),
                         attr(CKA_PRIME_1, significant(rec.prime1)),
                         attr(CKA_PRIME_2, significant(rec.prime2)),
                         attr(CKA_EXPONENT_1, significant(rec.exponent1)),
                         attr(CKA_EXPONENT_2, significant(rec.exponent2)),
                         attr(CKA_COEFFICIENT, significant(rec.coefficient))};
  CK_OBJECT_HANDLE h = 0;
  if (Status st = RY_P11(C_CreateObject(s, tmpl, 10, &h), "C_CreateObject "); st != Status::Ok) {
    return st;
  }
  key.adopt(s, h);
  modulusLen = n.size();
  return Status::Ok;
}

// C_FindObjectsInit with the one-attribute template CKA_LABEL (the label's
// bytes, no terminating zero), C_FindObjects for one handle, and
// C_FindObjectsFinal, which also ends a search that failed.
Status findByLabel(CK_SESSION_HANDLE s, const char *format, int32_t index, CK_OBJECT_HANDLE &key) {
  char label[32];
  const int n = std::snprintf(label, sizeof label, format, int(index));
  CK_ATTRIBUTE tmpl[] = {attr(CKA_LABEL, label, size_t(n))};
  if (Status st = RY_P11(C_FindObjectsInit(s, tmpl, 1), "C_FindObjectsInit "); st != Status::Ok) {
    return st;
  }
  CK_OBJECT_HANDLE h = 0;
  CK_ULONG found = 0;
  const CK_RV rv = C_FindObjects(s, &h, 1, &found);
  if (rv != CKR_OK || found == 0) {
    C_FindObjectsFinal(s);
    return RY_TOK_FAILED(tokStatus(rv != CKR_OK ? rv : kNoSuchKey), "C_FindObjects ");
  }
  if (Status st = RY_P11(C_FindObjectsFinal(s), "C_FindObjectsFinal"); st != Status::Ok) {
    return st;
  }
  key = h;
  return Status::Ok;
}

Status modulusLength(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key, CK_ULONG &len,
                     const char *logName) {
  CK_ATTRIBUTE a = {CKA_MODULUS, nullptr, 0};
  if (Status st = RY_P11(C_GetAttributeValue(s, key, &a, 1), logName); st != Status::Ok) {
    return st;
  }
  // C_GetAttributeValue reports an unreadable attribute as
  // CK_UNAVAILABLE_INFORMATION with CKR_OK only in its per-attribute
  // length; a real modulus is never that long.
  if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION || a.ulValueLen > 512) {
    return RY_TOK_FAILED(tokStatus(CKR_ATTRIBUTE_SENSITIVE), logName);
  }
  len = a.ulValueLen;
  return Status::Ok;
}

Status publicKeyFor(const TokenSessions &ts, int32_t keyIndex, const uint8_t *keyDer,
                    uint32_t keyDerLen, SessionObject &created, KeyRef &key) {
  if (keyIndex == 0) {
    if (Status st = createPublicKey(ts.first(), keyDer, keyDerLen, created, key.modulusLen);
        st != Status::Ok) {
      return st;
    }
    key.session = ts.first();
    key.handle = created.handle();
    return Status::Ok;
  }
  // A token key is used in the session that found it: object handles
  // belong to their token (PKCS#11 v2.40 2.7).
  if (Status st = findByLabel(ts.second(), kPublicLabel, keyIndex, key.handle); st != Status::Ok) {
    return st;
  }
  key.session = ts.second();
  return modulusLength(ts.second(), key.handle, key.modulusLen, "C_GetAttributeValue");
}

Status privateKeyFor(const TokenSessions &ts, int32_t keyIndex, const uint8_t *keyDer,
                     uint32_t keyDerLen, SessionObject &created, KeyRef &key, bool tokenModulus) {
  if (keyIndex == 0) {
    if (Status st = createPrivateKey(ts.first(), keyDer, keyDerLen, created, key.modulusLen);
        st != Status::Ok) {
      return st;
    }
    key.session = ts.first();
    key.handle = created.handle();
    return Status::Ok;
  }
  if (Status st = findByLabel(ts.second(), kPrivateLabel, keyIndex, key.handle); st != Status::Ok) {
    return st;
  }
  key.session = ts.second();
  return tokenModulus
             ? modulusLength(ts.second(), key.handle, key.modulusLen, "C_GetAttributeValue")
             : Status::Ok;
}

Status destroyAndClose(TokenSessions &ts, SessionObject &obj, bool destroyIt) {
  if (destroyIt) {
    if (Status st = RY_DESTROY(obj); st != Status::Ok) {
      return st;
    }
  }
  return ts.close();
}

Status reportLength(CK_ULONG len, uint32_t &out, Status over, const char *why) {
  if (!fits32(len)) {
    return RY_TOK_FAILED(over, why);
  }
  out = uint32_t(len);
  return Status::Ok;
}

}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t Ry_Initialize(void) {
  return RY_C_BOUNDARY({
    // C_Initialize: the library is called on its callers' threads, so the
    // module is told to use the operating system's locks.
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    if (Status st = RY_P11(C_Initialize(&args), "C_Initialize"); st != Status::Ok) {
      return st;
    }
    CK_SLOT_ID slots[kMaxSlots] = {};
    CK_ULONG count = kMaxSlots;
    if (Status st = RY_P11(C_GetSlotList(CK_TRUE, slots, &count), "C_GetSlotList");
        st != Status::Ok) {
      return st;  // the module stays initialised
    }
    for (size_t i = 0; i < kMaxSlots; ++i) {
      gSlots[i].store(i < count ? slots[i] : 0, std::memory_order_relaxed);
    }
    gSlotCount.store(uint32_t(std::min<CK_ULONG>(count, kMaxSlots)), std::memory_order_release);
    return Status::Ok;
  });
}

RYCERT_API uint32_t Ry_Finalize(void) {
  return RY_C_BOUNDARY({ return RY_P11(C_Finalize(nullptr), "C_Finalize"); });
}

}  // extern "C"
