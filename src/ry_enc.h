// Token operations: the pieces every operation shares. The session
// procedure, session objects that are destroyed on every path, RSA keys
// from DER as session objects, the label lookup of token keys, and the
// "---->" log line that passes the module's CK_RV on unchanged.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <span>

#include "ry_core.h"

namespace rycert2 {

// ------------------------------------------------------------- statuses

// A CK_RV as the library's status. Every standard code fits 32 bits; a
// vendor code that does not is reported as CKR_GENERAL_ERROR rather than
// truncated (which could turn it into 0).
inline Status tokStatus(CK_RV rv) {
  return static_cast<Status>(rv <= 0xFFFFFFFFu ? uint32_t(rv) : uint32_t(CKR_GENERAL_ERROR));
}
inline Status tokFailed(Status st, const char *src, int line, std::string_view name) {
  logLine(src, line, "---->", name);
  return st;
}
// One module call: CKR_OK gives Ok; anything else logs "---->" + name and
// comes back as the status.
inline Status p11Step(CK_RV rv, const char *src, int line, std::string_view name) {
  return rv == CKR_OK ? Status::Ok : tokFailed(tokStatus(rv), src, line, name);
}
#define RY_P11(call, name) ::rycert2::p11Step((call), kSrcFile, __LINE__, (name))
#define RY_TOK_FAILED(st, name) ::rycert2::tokFailed((st), kSrcFile, __LINE__, (name))

// What a label lookup that finds nothing answers, in every operation.
inline constexpr CK_RV kNoSuchKey = CKR_KEY_HANDLE_INVALID;

// ------------------------------------------------------------- sessions

// When an operation opens its second session (C_OpenSession on the second
// listed slot).
enum class Second : uint8_t {
  Never,
  IfKeyIndex,  // only for a token key (key index other than 0)
  Always,      // whenever two slots are listed
};

// The sessions of one operation. open() follows the procedure: the first
// session on the first listed slot, the second on the second slot when
// asked for; a session that is not opened keeps handle 0, and the
// module's answer to handle 0 ends the operation. close() is the success
// path; without it the destructor closes both, results ignored.
class TokenSessions {
 public:
  TokenSessions() = default;
  TokenSessions(const TokenSessions &) = delete;
  TokenSessions &operator=(const TokenSessions &) = delete;
  ~TokenSessions();

  Status open(bool wantFirst, Second second, bool keyIndexGiven);
  Status open(Second second, bool keyIndexGiven = false) {
    return open(true, second, keyIndexGiven);
  }
  Status close();

  CK_SESSION_HANDLE first() const { return first_; }
  CK_SESSION_HANDLE second() const { return second_; }

 private:
  CK_SESSION_HANDLE first_ = 0;
  CK_SESSION_HANDLE second_ = 0;
};

// An object the operation created or generated: C_DestroyObject on scope
// exit unless destroyed (checked) or released before.
class SessionObject {
 public:
  SessionObject() = default;
  SessionObject(const SessionObject &) = delete;
  SessionObject &operator=(const SessionObject &) = delete;
  ~SessionObject();

  // Takes charge of `h`, which lives in session `s`.
  void adopt(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h) {
    session_ = s;
    handle_ = h;
  }
  CK_OBJECT_HANDLE handle() const { return handle_; }
  CK_SESSION_HANDLE session() const { return session_; }
  // C_DestroyObject now; a failure is logged as "---->C_DestroyObject ".
  Status destroy(const char *src, int line);

 private:
  CK_SESSION_HANDLE session_ = 0;
  CK_OBJECT_HANDLE handle_ = 0;
};
#define RY_DESTROY(obj) (obj).destroy(kSrcFile, __LINE__)

// A key to use: where it lives and its handle. Caller keys (DER) are
// session objects of the first session; token keys are found in the
// second and used there.
struct KeyRef {
  CK_SESSION_HANDLE session = 0;
  CK_OBJECT_HANDLE handle = 0;
  CK_ULONG modulusLen = 0;  // bytes, 0 when not asked for
};

// Creates the public key of PKCS#1 RSAPublicKey DER as a session object
// (C_CreateObject with class, key type, modulus and exponent, leading
// zeros stripped). `modulusLen` gets the significant modulus length.
Status createPublicKey(CK_SESSION_HANDLE s, const uint8_t *der, uint32_t derLen, SessionObject &key,
                       CK_ULONG &modulusLen);
// The same for an RSAPrivateKey DER (all eight components).
Status createPrivateKey(CK_SESSION_HANDLE s, const uint8_t *der, uint32_t derLen,
                        SessionObject &key, CK_ULONG &modulusLen);

// Label templates of token keys.
inline constexpr char kPrivateLabel[] = "RY_QLM_RSA_PRIKEY%d";
inline constexpr char kPublicLabel[] = "RY_QLM_RSA_PUBKEY%d";

// Finds the object labelled `format` with `index` in session `s`
// (C_FindObjectsInit / C_FindObjects for one handle / C_FindObjectsFinal).
// Nothing found: kNoSuchKey.
Status findByLabel(CK_SESSION_HANDLE s, const char *format, int32_t index, CK_OBJECT_HANDLE &key);

// The modulus length of a token key in bytes (C_GetAttributeValue with a
// NULL value); `logName` is the failure's log text.
Status modulusLength(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key, CK_ULONG &len, const char *logName);

// The recipient or verifier key: a session object from `keyDer` in the
// first session (key index 0) or the token key labelled `publicLabel`
// found in the second (with its modulus length asked for).
Status publicKeyFor(const TokenSessions &ts, int32_t keyIndex, const uint8_t *keyDer,
                    uint32_t keyDerLen, SessionObject &created, KeyRef &key);

// The signing or decrypting key: a session object from the RSAPrivateKey
// `keyDer` in the first session (key index 0) or the token key labelled
// kPrivateLabel found in the second, whose modulus length is asked for when
// `tokenModulus`.
Status privateKeyFor(const TokenSessions &ts, int32_t keyIndex, const uint8_t *keyDer,
                     uint32_t keyDerLen, SessionObject &created, KeyRef &key, bool tokenModulus);

// The end of an operation's success path: `obj` destroyed when `destroyIt`
// (checked, "---->C_DestroyObject "), then the sessions closed.
Status destroyAndClose(TokenSessions &ts, SessionObject &obj, bool destroyIt = true);

// A length the module reports back into a caller's 32-bit length; a longer
// one is refused with `over` and the line "---->" + `why`.
Status reportLength(CK_ULONG len, uint32_t &out, Status over, const char *why);

// ----------------------------------------------------------- algorithms

// Signature algorithm codes and their mechanisms, one table for signing,
// verifying and recognising a certificate's algorithm.
struct SigAlgRow {
  uint32_t code;
  CK_MECHANISM_TYPE mechanism;
  std::span<const uint8_t> oid;  // signatureAlgorithm OID content octets
};
const SigAlgRow *sigAlgByCode(uint32_t code);
const SigAlgRow *sigAlgByOid(std::span<const uint8_t> oid);

// Mechanism parameters the p11-kit header leaves out, in the standard's
// layout (PKCS#11 v2.40 2.22, 2.9).
struct PbeParams {  // CK_PBE_PARAMS
  CK_BYTE_PTR pInitVector;
  CK_UTF8CHAR_PTR pPassword;
  CK_ULONG ulPasswordLen;
  CK_BYTE_PTR pSalt;
  CK_ULONG ulSaltLen;
  CK_ULONG ulIteration;
};
using MacGeneralParams = CK_ULONG;  // CK_MAC_GENERAL_PARAMS

// Zeroes private key material on scope exit.
class Wipe {
 public:
  Wipe(void *p, size_t n) : p_(p), n_(n) {}
  Wipe(const Wipe &) = delete;
  Wipe &operator=(const Wipe &) = delete;
  ~Wipe();

 private:
  void *p_;
  size_t n_;
};

// Byte arguments may be NULL when they hold no bytes; the module gets a
// valid pointer either way.
inline bool bytesMissing(const void *p, uint32_t len) { return p == nullptr && len != 0; }
inline CK_BYTE_PTR inBytes(const uint8_t *p) {
  static const uint8_t kNone[1] = {0};
  return const_cast<CK_BYTE_PTR>(p != nullptr ? p : kNone);
}
#define RY_REQUIRE_BYTES(p, len)                                      \
  do {                                                                \
    if (::rycert2::bytesMissing((p), (len))) {                        \
      return RY_FAILED(::rycert2::Status::Memory, "Pointer is NULL"); \
    }                                                                 \
  } while (0)

// A caller's 32-bit length as the module's.
inline CK_ULONG ul(uint32_t v) { return CK_ULONG(v); }
// Module lengths reported back: refused when they cannot be a 32-bit length.
inline bool fits32(CK_ULONG v) { return v <= 0xFFFFFFFFu; }

}  // namespace rycert2
