// The C_* entry points. Each export is a catch-all shim around one implementation function;
// each implementation checks in one order: initialised -> argument pointers -> session ->
// object -> key usage -> mechanism.
//
// Token behaviour the certificate library relies on, beyond the standard:
// - Object handles are unique across both slots, and a key of either slot may be used through
//   a session of the other (C_*Init and C_GetAttributeValue). C_FindObjects searches only the
//   session's own token.
// - C_UnwrapKey with no unwrapping key (handle 0) and CKM_DES_ECB imports a PKCS#8 RSA private
//   key in the clear, as a token object of the session's slot, even from a read-only session;
//   its public key is stored beside it (see unwrapKey).
#pragma GCC visibility push(default)
#include <p11-kit/pkcs11.h>
#pragma GCC visibility pop

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "p11_internal.h"

namespace rypkcs11 {
namespace {

struct Module {
  // OpenSSL is started before the managers exist, so its exit handler is registered first
  // and runs last: keys still held at exit are freed while libcrypto is alive.
  Module() { libCtx(); }

  std::mutex initMu;  // serialises C_Initialize and C_Finalize only
  std::atomic<bool> initialised{false};
  SessionManager sessions;
  ObjectManager objects;
};

Module& mod() {
  static Module m;
  return m;
}

constexpr std::string_view kManufacturer = "rycert2";
constexpr std::string_view kImportLabelPrefix = "RY_QLM_RSA_PRIKEY";
constexpr std::string_view kPublicLabelPrefix = "RY_QLM_RSA_PUBKEY";

template <typename F>
CK_RV shim(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

// Blank-padded fixed-width text fields of the info records.
void padded(CK_UTF8CHAR* field, size_t width, std::string_view text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

CK_RV initialised() { return mod().initialised.load() ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED; }

CK_RV session(CK_SESSION_HANDLE h, SessionPtr& out) {
  out = mod().sessions.get(h);
  return out ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
}

bool badBuffer(const void* p, CK_ULONG len) { return p == nullptr && len != 0; }

// The checks a slot function starts with, in the module's order: initialised, argument
// pointers (`argsBad` gives CKR_ARGUMENTS_BAD), slot. The caller's argument test reads
// only its own arguments, so it may be evaluated first.
CK_RV slotChecks(CK_SLOT_ID slotID, bool argsBad) {
  if (CK_RV rv = initialised(); rv != CKR_OK) {
    return rv;
  }
  if (argsBad) {
    return CKR_ARGUMENTS_BAD;
  }
  return validSlot(slotID) ? CKR_OK : CKR_SLOT_ID_INVALID;
}

// The same for a session function: initialised, argument pointers, then the session `h`
// (found into `s`).
CK_RV sessionChecks(CK_SESSION_HANDLE h, bool argsBad, SessionPtr& s) {
  if (CK_RV rv = initialised(); rv != CKR_OK) {
    return rv;
  }
  if (argsBad) {
    return CKR_ARGUMENTS_BAD;
  }
  return session(h, s);
}

ByteView view(const CK_BYTE* p, CK_ULONG len) {
  return p == nullptr ? ByteView{} : ByteView(p, len);
}

// The two-call output protocol: NULL buffer -> length and CKR_OK; short buffer -> length and
// CKR_BUFFER_TOO_SMALL; both leave the operation active. Returns true when the bytes were
// delivered, which ends the operation.
bool deliver(const Bytes& out, CK_BYTE_PTR buf, CK_ULONG_PTR len, CK_RV& rv) {
  if (buf == nullptr) {
    *len = out.size();
    rv = CKR_OK;
    return false;
  }
  if (*len < out.size()) {
    *len = out.size();
    rv = CKR_BUFFER_TOO_SMALL;
    return false;
  }
  std::copy(out.begin(), out.end(), buf);
  *len = out.size();
  rv = CKR_OK;
  return true;
}

std::string newStoreName() {
  uint8_t r[12];
  if (randomBytes(r, sizeof r) != CKR_OK) {
    throw std::bad_alloc();  // reported as a failure by the shim; never expected
  }
  char hex[2 * sizeof r + 1];
  for (size_t i = 0; i < sizeof r; ++i) {
    std::snprintf(hex + 2 * i, 3, "%02x", r[i]);
  }
  return hex;
}

// Sets the storage fields of a new object from its CKA_TOKEN and the creating session.
CK_RV placeObject(Object& obj, const Session& s) {
  obj.slot = s.slot;
  if (obj.flag(CKA_TOKEN)) {
    if (!s.readWrite()) {
      return CKR_SESSION_READ_ONLY;
    }
    obj.owner = 0;
    obj.storeName = newStoreName();
  } else {
    obj.owner = s.handle;
  }
  return CKR_OK;
}

// ---------------------------------------------------------------------------------------------
// General purpose, slots and tokens
// ---------------------------------------------------------------------------------------------

CK_RV initialize(CK_VOID_PTR pInitArgs) {
  Module& m = mod();
  std::lock_guard lock(m.initMu);
  if (m.initialised.load()) {
    return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  }
  if (pInitArgs != nullptr) {
    // C_Initialize: the mutex callbacks come all or none; without CKF_OS_LOCKING_OK the
    // caller's own callbacks would have to be used, which this token does not do.
    const auto* a = static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
    const int given = (a->CreateMutex != nullptr) + (a->DestroyMutex != nullptr) +
                      (a->LockMutex != nullptr) + (a->UnlockMutex != nullptr);
    if (a->pReserved != nullptr || (given != 0 && given != 4)) {
      return CKR_ARGUMENTS_BAD;
    }
    if (given == 4 && (a->flags & CKF_OS_LOCKING_OK) == 0) {
      return CKR_CANT_LOCK;
    }
  }
  if (libCtx() == nullptr) {
    return CKR_GENERAL_ERROR;
  }
  m.objects.load(storeDirectory());
  m.initialised.store(true);
  return CKR_OK;
}

CK_RV finalize(CK_VOID_PTR pReserved) {
  Module& m = mod();
  std::lock_guard lock(m.initMu);
  if (!m.initialised.load()) {
    return CKR_CRYPTOKI_NOT_INITIALIZED;
  }
  if (pReserved != nullptr) {
    return CKR_ARGUMENTS_BAD;
  }
  m.initialised.store(false);
  m.sessions.clear();
  m.objects.clear();
  rsaKeyCacheClear();
  return CKR_OK;
}

CK_RV getInfo(CK_INFO_PTR pInfo) {
  if (CK_RV rv = initialised(); rv != CKR_OK) {
    return rv;
  }
  if (pInfo == nullptr) {
    return CKR_ARGUMENTS_BAD;
  }
  *pInfo = CK_INFO{};
  pInfo->cryptokiVersion = {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR};
  padded(pInfo->manufacturerID, sizeof pInfo->manufacturerID, kManufacturer);
  padded(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "rycert2 soft token");
  pInfo->libraryVersion = {1, 0};
  return CKR_OK;
}

CK_RV getSlotList(CK_BBOOL /*tokenPresent: both slots always hold a token*/,
                  CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
  if (CK_RV rv = initialised(); rv != CKR_OK) {
    return rv;
  }
  if (pulCount == nullptr) {
    return CKR_ARGUMENTS_BAD;
  }
  if (pSlotList == nullptr) {
    *pulCount = kSlotCount;
    return CKR_OK;
  }
  if (*pulCount < kSlotCount) {
    *pulCount = kSlotCount;
    return CKR_BUFFER_TOO_SMALL;
  }
  for (CK_ULONG i = 0; i < kSlotCount; ++i) {
    pSlotList[i] = kFirstSlot + i;
  }
  *pulCount = kSlotCount;
  return CKR_OK;
}

CK_RV getSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
  if (CK_RV rv = slotChecks(slotID, pInfo == nullptr); rv != CKR_OK) {
    return rv;
  }
  *pInfo = CK_SLOT_INFO{};
  padded(pInfo->slotDescription, sizeof pInfo->slotDescription,
         "rycert2 soft slot " + std::to_string(slotID));
  padded(pInfo->manufacturerID, sizeof pInfo->manufacturerID, kManufacturer);
  pInfo->flags = CKF_TOKEN_PRESENT;
  pInfo->hardwareVersion = {1, 0};
  pInfo->firmwareVersion = {1, 0};
  return CKR_OK;
}

CK_RV getTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
  if (CK_RV rv = slotChecks(slotID, pInfo == nullptr); rv != CKR_OK) {
    return rv;
  }
  *pInfo = CK_TOKEN_INFO{};
  padded(pInfo->label, sizeof pInfo->label, "rycert2 token " + std::to_string(slotID));
  padded(pInfo->manufacturerID, sizeof pInfo->manufacturerID, kManufacturer);
  padded(pInfo->model, sizeof pInfo->model, "soft token");
  char serial[17];
  std::snprintf(serial, sizeof serial, "%016lu", slotID);
  padded(pInfo->serialNumber, sizeof pInfo->serialNumber, serial);
  // No login exists: every object is usable in any session.
  pInfo->flags = CKF_RNG | CKF_TOKEN_INITIALIZED;
  pInfo->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
  pInfo->ulSessionCount = mod().sessions.count(slotID, false);
  pInfo->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
  pInfo->ulRwSessionCount = mod().sessions.count(slotID, true);
  pInfo->ulMaxPinLen = 0;
  pInfo->ulMinPinLen = 0;
  pInfo->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
  pInfo->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
  pInfo->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
  pInfo->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
  pInfo->hardwareVersion = {1, 0};
  pInfo->firmwareVersion = {1, 0};
  padded(pInfo->utcTime, sizeof pInfo->utcTime, "");
  return CKR_OK;
}

CK_RV getMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pList, CK_ULONG_PTR pulCount) {
  if (CK_RV rv = slotChecks(slotID, pulCount == nullptr); rv != CKR_OK) {
    return rv;
  }
  const auto rows = mechanisms();
  if (pList == nullptr) {
    *pulCount = rows.size();
    return CKR_OK;
  }
  if (*pulCount < rows.size()) {
    *pulCount = rows.size();
    return CKR_BUFFER_TOO_SMALL;
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    pList[i] = rows[i].type;
  }
  *pulCount = rows.size();
  return CKR_OK;
}

CK_RV getMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
  if (CK_RV rv = slotChecks(slotID, pInfo == nullptr); rv != CKR_OK) {
    return rv;
  }
  const MechRow* row = findMechanism(type);
  if (row == nullptr) {
    return CKR_MECHANISM_INVALID;
  }
  pInfo->ulMinKeySize = row->minKey;
  pInfo->ulMaxKeySize = row->maxKey;
  pInfo->flags = row->flags;
  return CKR_OK;
}

// ---------------------------------------------------------------------------------------------
// Sessions
// ---------------------------------------------------------------------------------------------

CK_RV openSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE_PTR phSession) {
  if (CK_RV rv = slotChecks(slotID, phSession == nullptr); rv != CKR_OK) {
    return rv;
  }
  if ((flags & CKF_SERIAL_SESSION) == 0) {
    return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
  }
  *phSession = mod().sessions.open(slotID, flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION));
  return CKR_OK;
}

// C_CloseSession: the session's objects go with it.
CK_RV closeSession(CK_SESSION_HANDLE h) {
  if (CK_RV rv = initialised(); rv != CKR_OK) {
    return rv;
  }
  if (!mod().sessions.close(h)) {
    return CKR_SESSION_HANDLE_INVALID;
  }
  mod().objects.destroySessionObjects(h);
  return CKR_OK;
}

CK_RV closeAllSessions(CK_SLOT_ID slotID) {
  if (CK_RV rv = slotChecks(slotID, false); rv != CKR_OK) {
    return rv;
  }
  for (CK_SESSION_HANDLE h : mod().sessions.handlesOf(slotID)) {
    if (mod().sessions.close(h)) {
      mod().objects.destroySessionObjects(h);
    }
  }
  return CKR_OK;
}

CK_RV getSessionInfo(CK_SESSION_HANDLE h, CK_SESSION_INFO_PTR pInfo) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, pInfo == nullptr, s); rv != CKR_OK) {
    return rv;
  }
  pInfo->slotID = s->slot;
  pInfo->state = s->readWrite() ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
  pInfo->flags = s->flags;
  pInfo->ulDeviceError = 0;
  return CKR_OK;
}

// ---------------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------------

CK_RV createObject(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG count,
                   CK_OBJECT_HANDLE_PTR phObject) {
  const bool argsBad = badBuffer(pTemplate, count) || phObject == nullptr;
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, argsBad, s); rv != CKR_OK) {
    return rv;
  }
  auto obj = std::make_shared<Object>();
  if (CK_RV rv = parseTemplate(pTemplate, count, obj->attrs); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = completeObject(*obj, Origin::Created); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = placeObject(*obj, *s); rv != CKR_OK) {
    return rv;
  }
  return mod().objects.add(std::move(obj), *phObject);
}

CK_RV destroyObject(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE hObject) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, false, s); rv != CKR_OK) {
    return rv;
  }
  ObjectPtr obj = mod().objects.get(hObject);
  if (!obj) {
    return CKR_OBJECT_HANDLE_INVALID;
  }
  if (obj->isToken() && !s->readWrite()) {
    return CKR_SESSION_READ_ONLY;
  }
  return mod().objects.destroy(hObject);
}

// C_GetAttributeValue: every entry is answered; the status is the first failure met.
CK_RV getAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                        CK_ULONG count) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, badBuffer(pTemplate, count), s); rv != CKR_OK) {
    return rv;
  }
  ObjectPtr obj = mod().objects.get(hObject);
  if (!obj) {
    return CKR_OBJECT_HANDLE_INVALID;
  }
  const bool hidden = obj->flag(CKA_SENSITIVE) || !attrBool(obj->attrs, CKA_EXTRACTABLE, true);
  CK_RV result = CKR_OK;
  auto fail = [&](CK_ATTRIBUTE& a, CK_RV rv) {
    a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
    if (result == CKR_OK) {
      result = rv;
    }
  };
  for (CK_ULONG i = 0; i < count; ++i) {
    CK_ATTRIBUTE& a = pTemplate[i];
    const Bytes* v = attrFind(obj->attrs, a.type);
    if (v != nullptr && hidden && isSensitiveAttr(a.type)) {
      fail(a, CKR_ATTRIBUTE_SENSITIVE);
    } else if (v == nullptr) {
      fail(a, CKR_ATTRIBUTE_TYPE_INVALID);
    } else if (a.pValue == nullptr) {
      a.ulValueLen = v->size();
    } else if (a.ulValueLen < v->size()) {
      fail(a, CKR_BUFFER_TOO_SMALL);
    } else {
      std::copy(v->begin(), v->end(), static_cast<uint8_t*>(a.pValue));
      a.ulValueLen = v->size();
    }
  }
  return result;
}

CK_RV findObjectsInit(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG count) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, badBuffer(pTemplate, count), s); rv != CKR_OK) {
    return rv;
  }
  AttrMap tmpl;
  for (CK_ULONG i = 0; i < count; ++i) {
    if (badBuffer(pTemplate[i].pValue, pTemplate[i].ulValueLen)) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    const auto* p = static_cast<const uint8_t*>(pTemplate[i].pValue);
    tmpl[pTemplate[i].type] = Bytes(p, p + (p == nullptr ? 0 : pTemplate[i].ulValueLen));
  }
  std::lock_guard lock(s->mu);
  if (s->finding) {
    return CKR_OPERATION_ACTIVE;
  }
  s->found = mod().objects.match(s->slot, tmpl);
  s->foundPos = 0;
  s->finding = true;
  return CKR_OK;
}

CK_RV findObjects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG max,
                  CK_ULONG_PTR pulCount) {
  const bool argsBad = (phObject == nullptr && max != 0) || pulCount == nullptr;
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, argsBad, s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  if (!s->finding) {
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  CK_ULONG n = 0;
  while (n < max && s->foundPos < s->found.size()) {
    const CK_OBJECT_HANDLE o = s->found[s->foundPos++];
    if (mod().objects.get(o)) {  // skip objects destroyed since the search began
      phObject[n++] = o;
    }
  }
  *pulCount = n;
  return CKR_OK;
}

CK_RV findObjectsFinal(CK_SESSION_HANDLE h) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, false, s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  if (!s->finding) {
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  s->finding = false;
  s->found.clear();
  return CKR_OK;
}

// ---------------------------------------------------------------------------------------------
// Cryptographic operations
// ---------------------------------------------------------------------------------------------

enum class OpKind : uint8_t { Encrypt, Decrypt, Sign, Verify };

constexpr CK_ATTRIBUTE_TYPE usageOf(OpKind k) {
  switch (k) {
    case OpKind::Encrypt:
      return CKA_ENCRYPT;
    case OpKind::Decrypt:
      return CKA_DECRYPT;
    case OpKind::Sign:
      return CKA_SIGN;
    default:
      return CKA_VERIFY;
  }
}

// C_EncryptInit, C_DecryptInit, C_SignInit, C_VerifyInit.
CK_RV operationInit(OpKind kind, CK_SESSION_HANDLE h, CK_MECHANISM_PTR pMechanism,
                    CK_OBJECT_HANDLE hKey) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, pMechanism == nullptr, s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  const bool active = kind == OpKind::Encrypt   ? s->encryptOp != nullptr
                      : kind == OpKind::Decrypt ? s->decryptOp != nullptr
                      : kind == OpKind::Sign    ? s->signOp != nullptr
                                                : s->verifyOp != nullptr;
  if (active) {
    return CKR_OPERATION_ACTIVE;
  }
  ObjectPtr key = mod().objects.get(hKey);
  if (!key) {
    return CKR_KEY_HANDLE_INVALID;
  }
  if (!key->flag(usageOf(kind))) {
    return CKR_KEY_FUNCTION_NOT_PERMITTED;
  }
  switch (kind) {
    case OpKind::Encrypt:
      return makeCipherOp(*pMechanism, key, true, s->encryptOp);
    case OpKind::Decrypt:
      return makeCipherOp(*pMechanism, key, false, s->decryptOp);
    case OpKind::Sign:
      return makeSignOp(*pMechanism, key, true, s->signOp);
    default:
      return makeSignOp(*pMechanism, key, false, s->verifyOp);
  }
}

// C_Encrypt and C_Decrypt, single part.
CK_RV cipher(bool encrypt, CK_SESSION_HANDLE h, CK_BYTE_PTR pIn, CK_ULONG inLen, CK_BYTE_PTR pOut,
             CK_ULONG_PTR pulOutLen) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, badBuffer(pIn, inLen) || pulOutLen == nullptr, s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  std::unique_ptr<CipherOp>& op = encrypt ? s->encryptOp : s->decryptOp;
  if (!op) {
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  // The result is computed for a length query too, so the reported length is exact.
  Bytes out;
  CK_RV rv = op->run(view(pIn, inLen), out);
  if (rv != CKR_OK || deliver(out, pOut, pulOutLen, rv)) {
    op.reset();
  }
  return rv;
}

CK_RV signUpdate(bool sign, CK_SESSION_HANDLE h, CK_BYTE_PTR pPart, CK_ULONG len) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, badBuffer(pPart, len), s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  std::unique_ptr<SignOp>& op = sign ? s->signOp : s->verifyOp;
  if (!op) {
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  CK_RV rv = op->update(view(pPart, len));
  if (rv != CKR_OK) {
    op.reset();
  }
  return rv;
}

// C_Sign (withData) and C_SignFinal. The signature length is known before signing, so a length
// query signs nothing.
CK_RV signFinish(bool withData, CK_SESSION_HANDLE h, CK_BYTE_PTR pData, CK_ULONG dataLen,
                 CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
  const bool argsBad = badBuffer(pData, dataLen) || pulSignatureLen == nullptr;
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, argsBad, s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  if (!s->signOp) {
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  const size_t need = s->signOp->signatureLength();
  if (pSignature == nullptr) {
    *pulSignatureLen = need;
    return CKR_OK;
  }
  if (*pulSignatureLen < need) {
    *pulSignatureLen = need;
    return CKR_BUFFER_TOO_SMALL;
  }
  std::unique_ptr<SignOp> op = std::move(s->signOp);
  Bytes sig;
  CK_RV rv = withData ? op->update(view(pData, dataLen)) : CKR_OK;
  if (rv == CKR_OK) {
    rv = op->sign(sig);
  }
  if (rv == CKR_OK) {
    deliver(sig, pSignature, pulSignatureLen, rv);
  }
  return rv;
}

// C_Verify (withData) and C_VerifyFinal.
CK_RV verifyFinish(bool withData, CK_SESSION_HANDLE h, CK_BYTE_PTR pData, CK_ULONG dataLen,
                   CK_BYTE_PTR pSignature, CK_ULONG sigLen) {
  const bool argsBad = badBuffer(pData, dataLen) || badBuffer(pSignature, sigLen);
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, argsBad, s); rv != CKR_OK) {
    return rv;
  }
  std::lock_guard lock(s->mu);
  if (!s->verifyOp) {
    return CKR_OPERATION_NOT_INITIALIZED;
  }
  std::unique_ptr<SignOp> op = std::move(s->verifyOp);
  CK_RV rv = withData ? op->update(view(pData, dataLen)) : CKR_OK;
  return rv == CKR_OK ? op->verify(view(pSignature, sigLen)) : rv;
}

// ---------------------------------------------------------------------------------------------
// Key management
// ---------------------------------------------------------------------------------------------

CK_RV generateKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                  CK_ULONG count, CK_OBJECT_HANDLE_PTR phKey) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(
          h, pMechanism == nullptr || badBuffer(pTemplate, count) || phKey == nullptr, s);
      rv != CKR_OK) {
    return rv;
  }
  auto obj = std::make_shared<Object>();
  if (CK_RV rv = parseTemplate(pTemplate, count, obj->attrs); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = generateSecretKey(*pMechanism, obj->attrs); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = completeObject(*obj, Origin::Generated); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = placeObject(*obj, *s); rv != CKR_OK) {
    return rv;
  }
  return mod().objects.add(std::move(obj), *phKey);
}

CK_RV generateKeyPair(CK_SESSION_HANDLE h, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPubTmpl,
                      CK_ULONG pubCount, CK_ATTRIBUTE_PTR pPrivTmpl, CK_ULONG privCount,
                      CK_OBJECT_HANDLE_PTR phPub, CK_OBJECT_HANDLE_PTR phPriv) {
  const bool argsBad = pMechanism == nullptr || badBuffer(pPubTmpl, pubCount) ||
                       badBuffer(pPrivTmpl, privCount) || phPub == nullptr || phPriv == nullptr;
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, argsBad, s); rv != CKR_OK) {
    return rv;
  }
  auto pub = std::make_shared<Object>();
  auto priv = std::make_shared<Object>();
  if (CK_RV rv = parseTemplate(pPubTmpl, pubCount, pub->attrs); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = parseTemplate(pPrivTmpl, privCount, priv->attrs); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = generateRsaPair(*pMechanism, pub->attrs, priv->attrs); rv != CKR_OK) {
    return rv;
  }
  for (Object* o : {pub.get(), priv.get()}) {
    if (CK_RV rv = completeObject(*o, Origin::Generated); rv != CKR_OK) {
      return rv;
    }
    if (CK_RV rv = placeObject(*o, *s); rv != CKR_OK) {
      return rv;
    }
  }
  CK_OBJECT_HANDLE hp = 0;
  if (CK_RV rv = mod().objects.add(std::move(pub), hp); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = mod().objects.add(std::move(priv), *phPriv); rv != CKR_OK) {
    mod().objects.destroy(hp);
    return rv;
  }
  *phPub = hp;
  return CKR_OK;
}

// The public label stored beside an imported private key: the library's key-index labels
// pair "RY_QLM_RSA_PRIKEY<n>" with "RY_QLM_RSA_PUBKEY<n>"; any other label is shared.
Bytes publicLabelFor(const Bytes& label) {
  const std::string_view text(reinterpret_cast<const char*>(label.data()), label.size());
  if (!text.starts_with(kImportLabelPrefix)) {
    return label;
  }
  Bytes out(kPublicLabelPrefix.begin(), kPublicLabelPrefix.end());
  out.insert(out.end(), label.begin() + static_cast<ptrdiff_t>(kImportLabelPrefix.size()),
             label.end());
  return out;
}

// C_UnwrapKey. With a DES key (CKM_DES_ECB) it decrypts a PKCS#8 RSA private key and makes an
// object as the template says. With no unwrapping key (handle 0) the wrapped bytes are the
// PKCS#8 key in the clear and the call imports it: the private key becomes a token object of
// the session's slot (whatever the template's CKA_TOKEN, and in a read-only session too),
// with a public key object beside it labelled as publicLabelFor says and sharing its CKA_ID
// (SHA-1 of the modulus unless the template gives one). Token keys of that slot that carry
// either label are replaced, so one label always names one key.
CK_RV unwrapKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                CK_BYTE_PTR pWrapped, CK_ULONG wrappedLen, CK_ATTRIBUTE_PTR pTemplate,
                CK_ULONG count, CK_OBJECT_HANDLE_PTR phKey) {
  const bool argsBad = pMechanism == nullptr || pWrapped == nullptr ||
                       badBuffer(pTemplate, count) || phKey == nullptr;
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, argsBad, s); rv != CKR_OK) {
    return rv;
  }
  const bool import = hUnwrappingKey == CK_INVALID_HANDLE;
  ObjectPtr wrapKey;
  if (!import) {
    wrapKey = mod().objects.get(hUnwrappingKey);
    if (!wrapKey) {
      return CKR_UNWRAPPING_KEY_HANDLE_INVALID;
    }
    if (!wrapKey->flag(CKA_UNWRAP)) {
      return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
  }
  const MechRow* row = findMechanism(pMechanism->mechanism);
  if (row == nullptr || (row->flags & CKF_UNWRAP) == 0) {
    return CKR_MECHANISM_INVALID;
  }
  if (pMechanism->pParameter != nullptr || pMechanism->ulParameterLen != 0) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  if (!import && wrapKey->keyType != row->keyType) {
    return CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT;
  }
  auto priv = std::make_shared<Object>();
  if (CK_RV rv = parseTemplate(pTemplate, count, priv->attrs); rv != CKR_OK) {
    return rv;
  }
  CK_ULONG v = 0;
  if ((attrUlong(priv->attrs, CKA_CLASS, v) && v != CKO_PRIVATE_KEY) ||
      (attrUlong(priv->attrs, CKA_KEY_TYPE, v) && v != CKK_RSA)) {
    return CKR_TEMPLATE_INCONSISTENT;
  }
  ByteView der(pWrapped, wrappedLen);
  Bytes plain;
  if (!import) {
    if (CK_RV rv = desEcb(false, wrapKey->value(CKA_VALUE), der, plain); rv != CKR_OK) {
      return rv == CKR_ENCRYPTED_DATA_LEN_RANGE ? CKR_WRAPPED_KEY_LEN_RANGE : rv;
    }
    der = plain;
  }
  AttrMap components;
  if (CK_RV rv = parsePkcs8Rsa(der, !import, components); rv != CKR_OK) {
    return rv;
  }
  for (const auto& [type, value] : components) {
    if (attrFind(priv->attrs, type) != nullptr) {
      return CKR_TEMPLATE_INCONSISTENT;  // the key material comes from the wrapped bytes only
    }
  }
  priv->attrs.merge(components);
  priv->attrs[CKA_CLASS] = ulongBytes(CKO_PRIVATE_KEY);
  priv->attrs[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
  if (!import) {
    if (CK_RV rv = completeObject(*priv, Origin::Unwrapped); rv != CKR_OK) {
      return rv;
    }
    if (CK_RV rv = placeObject(*priv, *s); rv != CKR_OK) {
      return rv;
    }
    return mod().objects.add(std::move(priv), *phKey);
  }

  priv->attrs[CKA_TOKEN] = boolBytes(true);
  if (attrFind(priv->attrs, CKA_ID) == nullptr) {
    auto sha1 = newDigest(DigestAlg::Sha1);
    Bytes id;
    if (!sha1 || !sha1->update(priv->value(CKA_MODULUS)) || !sha1->final(id)) {
      return CKR_DEVICE_ERROR;
    }
    priv->attrs[CKA_ID] = id;
  }
  if (CK_RV rv = completeObject(*priv, Origin::Unwrapped); rv != CKR_OK) {
    return rv;
  }
  auto pub = std::make_shared<Object>();
  pub->attrs[CKA_CLASS] = ulongBytes(CKO_PUBLIC_KEY);
  pub->attrs[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
  pub->attrs[CKA_TOKEN] = boolBytes(true);
  pub->attrs[CKA_LABEL] = publicLabelFor(*attrFind(priv->attrs, CKA_LABEL));
  pub->attrs[CKA_ID] = *attrFind(priv->attrs, CKA_ID);
  pub->attrs[CKA_MODULUS] = *attrFind(priv->attrs, CKA_MODULUS);
  pub->attrs[CKA_PUBLIC_EXPONENT] = *attrFind(priv->attrs, CKA_PUBLIC_EXPONENT);
  if (CK_RV rv = completeObject(*pub, Origin::Unwrapped); rv != CKR_OK) {
    return rv;
  }
  for (Object* o : {priv.get(), pub.get()}) {
    o->slot = s->slot;
    o->owner = 0;
    o->storeName = newStoreName();
  }
  return mod().objects.replaceTokenPair(std::move(priv), std::move(pub), *phKey);
}

CK_RV generateRandom(CK_SESSION_HANDLE h, CK_BYTE_PTR pRandom, CK_ULONG len) {
  SessionPtr s;
  if (CK_RV rv = sessionChecks(h, badBuffer(pRandom, len), s); rv != CKR_OK) {
    return rv;
  }
  return len == 0 ? CKR_OK : randomBytes(pRandom, len);
}

CK_RV notSupported() { return CKR_FUNCTION_NOT_SUPPORTED; }

}  // namespace
}  // namespace rypkcs11

using namespace rypkcs11;

// ---------------------------------------------------------------------------------------------
// Exported shims
// ---------------------------------------------------------------------------------------------
extern "C" {

CK_RV C_Initialize(CK_VOID_PTR p) {
  return shim([&] { return initialize(p); });
}
CK_RV C_Finalize(CK_VOID_PTR p) {
  return shim([&] { return finalize(p); });
}
CK_RV C_GetInfo(CK_INFO_PTR p) {
  return shim([&] { return getInfo(p); });
}
CK_RV C_GetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
  return shim([&] { return getSlotList(present, list, count); });
}
CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR p) {
  return shim([&] { return getSlotInfo(slot, p); });
}
CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR p) {
  return shim([&] { return getTokenInfo(slot, p); });
}
CK_RV C_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
  return shim([&] { return getMechanismList(slot, list, count); });
}
CK_RV C_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR p) {
  return shim([&] { return getMechanismInfo(slot, type, p); });
}
CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                    CK_SESSION_HANDLE_PTR ph) {
  return shim([&] { return openSession(slot, flags, ph); });
}
CK_RV C_CloseSession(CK_SESSION_HANDLE h) {
  return shim([&] { return closeSession(h); });
}
CK_RV C_CloseAllSessions(CK_SLOT_ID slot) {
  return shim([&] { return closeAllSessions(slot); });
}
CK_RV C_GetSessionInfo(CK_SESSION_HANDLE h, CK_SESSION_INFO_PTR p) {
  return shim([&] { return getSessionInfo(h, p); });
}
CK_RV C_CreateObject(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR t, CK_ULONG n, CK_OBJECT_HANDLE_PTR o) {
  return shim([&] { return createObject(h, t, n, o); });
}
CK_RV C_DestroyObject(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE o) {
  return shim([&] { return destroyObject(h, o); });
}
CK_RV C_GetAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
  return shim([&] { return getAttributeValue(h, o, t, n); });
}
CK_RV C_FindObjectsInit(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
  return shim([&] { return findObjectsInit(h, t, n); });
}
CK_RV C_FindObjects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE_PTR o, CK_ULONG max, CK_ULONG_PTR n) {
  return shim([&] { return findObjects(h, o, max, n); });
}
CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE h) {
  return shim([&] { return findObjectsFinal(h); });
}
CK_RV C_EncryptInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE k) {
  return shim([&] { return operationInit(OpKind::Encrypt, h, m, k); });
}
CK_RV C_Encrypt(CK_SESSION_HANDLE h, CK_BYTE_PTR in, CK_ULONG inLen, CK_BYTE_PTR out,
                CK_ULONG_PTR outLen) {
  return shim([&] { return cipher(true, h, in, inLen, out, outLen); });
}
CK_RV C_DecryptInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE k) {
  return shim([&] { return operationInit(OpKind::Decrypt, h, m, k); });
}
CK_RV C_Decrypt(CK_SESSION_HANDLE h, CK_BYTE_PTR in, CK_ULONG inLen, CK_BYTE_PTR out,
                CK_ULONG_PTR outLen) {
  return shim([&] { return cipher(false, h, in, inLen, out, outLen); });
}
CK_RV C_SignInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE k) {
  return shim([&] { return operationInit(OpKind::Sign, h, m, k); });
}
CK_RV C_Sign(CK_SESSION_HANDLE h, CK_BYTE_PTR d, CK_ULONG dLen, CK_BYTE_PTR sig,
             CK_ULONG_PTR sigLen) {
  return shim([&] { return signFinish(true, h, d, dLen, sig, sigLen); });
}
CK_RV C_SignUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR p, CK_ULONG n) {
  return shim([&] { return signUpdate(true, h, p, n); });
}
CK_RV C_SignFinal(CK_SESSION_HANDLE h, CK_BYTE_PTR sig, CK_ULONG_PTR sigLen) {
  return shim([&] { return signFinish(false, h, nullptr, 0, sig, sigLen); });
}
CK_RV C_VerifyInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE k) {
  return shim([&] { return operationInit(OpKind::Verify, h, m, k); });
}
CK_RV C_Verify(CK_SESSION_HANDLE h, CK_BYTE_PTR d, CK_ULONG dLen, CK_BYTE_PTR sig,
               CK_ULONG sigLen) {
  return shim([&] { return verifyFinish(true, h, d, dLen, sig, sigLen); });
}
CK_RV C_VerifyUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR p, CK_ULONG n) {
  return shim([&] { return signUpdate(false, h, p, n); });
}
CK_RV C_VerifyFinal(CK_SESSION_HANDLE h, CK_BYTE_PTR sig, CK_ULONG sigLen) {
  return shim([&] { return verifyFinish(false, h, nullptr, 0, sig, sigLen); });
}
CK_RV C_GenerateKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_ATTRIBUTE_PTR t, CK_ULONG n,
                    CK_OBJECT_HANDLE_PTR k) {
  return shim([&] { return generateKey(h, m, t, n, k); });
}
CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_ATTRIBUTE_PTR pt, CK_ULONG pn,
                        CK_ATTRIBUTE_PTR st, CK_ULONG sn, CK_OBJECT_HANDLE_PTR pk,
                        CK_OBJECT_HANDLE_PTR sk) {
  return shim([&] { return generateKeyPair(h, m, pt, pn, st, sn, pk, sk); });
}
CK_RV C_UnwrapKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR m, CK_OBJECT_HANDLE uk, CK_BYTE_PTR w,
                  CK_ULONG wLen, CK_ATTRIBUTE_PTR t, CK_ULONG n, CK_OBJECT_HANDLE_PTR k) {
  return shim([&] { return unwrapKey(h, m, uk, w, wLen, t, n, k); });
}
CK_RV C_GenerateRandom(CK_SESSION_HANDLE h, CK_BYTE_PTR p, CK_ULONG n) {
  return shim([&] { return generateRandom(h, p, n); });
}

// The rest of the interface: CKR_FUNCTION_NOT_SUPPORTED.
CK_RV C_InitToken(CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR) { return notSupported(); }
CK_RV C_InitPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG) { return notSupported(); }
CK_RV C_SetPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG) {
  return notSupported();
}
CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return notSupported(); }
CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE,
                          CK_OBJECT_HANDLE) {
  return notSupported();
}
CK_RV C_Login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG) { return notSupported(); }
CK_RV C_Logout(CK_SESSION_HANDLE) { return notSupported(); }
CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                   CK_OBJECT_HANDLE_PTR) {
  return notSupported();
}
CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR) { return notSupported(); }
CK_RV C_SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) {
  return notSupported();
}
CK_RV C_EncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_EncryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return notSupported(); }
CK_RV C_DecryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_DecryptFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return notSupported(); }
CK_RV C_DigestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR) { return notSupported(); }
CK_RV C_Digest(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_DigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return notSupported(); }
CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return notSupported(); }
CK_RV C_DigestFinal(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return notSupported(); }
CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return notSupported();
}
CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return notSupported();
}
CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE,
                CK_BYTE_PTR, CK_ULONG_PTR) {
  return notSupported();
}
CK_RV C_DeriveKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                  CK_OBJECT_HANDLE_PTR) {
  return notSupported();
}
CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return notSupported(); }
CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_PARALLEL; }
CK_RV C_CancelFunction(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_PARALLEL; }
CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) { return notSupported(); }

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppList);

}  // extern "C"

namespace {

CK_FUNCTION_LIST kFunctionList = {{CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR},
                                  C_Initialize,
                                  C_Finalize,
                                  C_GetInfo,
                                  C_GetFunctionList,
                                  C_GetSlotList,
                                  C_GetSlotInfo,
                                  C_GetTokenInfo,
                                  C_GetMechanismList,
                                  C_GetMechanismInfo,
                                  C_InitToken,
                                  C_InitPIN,
                                  C_SetPIN,
                                  C_OpenSession,
                                  C_CloseSession,
                                  C_CloseAllSessions,
                                  C_GetSessionInfo,
                                  C_GetOperationState,
                                  C_SetOperationState,
                                  C_Login,
                                  C_Logout,
                                  C_CreateObject,
                                  C_CopyObject,
                                  C_DestroyObject,
                                  C_GetObjectSize,
                                  C_GetAttributeValue,
                                  C_SetAttributeValue,
                                  C_FindObjectsInit,
                                  C_FindObjects,
                                  C_FindObjectsFinal,
                                  C_EncryptInit,
                                  C_Encrypt,
                                  C_EncryptUpdate,
                                  C_EncryptFinal,
                                  C_DecryptInit,
                                  C_Decrypt,
                                  C_DecryptUpdate,
                                  C_DecryptFinal,
                                  C_DigestInit,
                                  C_Digest,
                                  C_DigestUpdate,
                                  C_DigestKey,
                                  C_DigestFinal,
                                  C_SignInit,
                                  C_Sign,
                                  C_SignUpdate,
                                  C_SignFinal,
                                  C_SignRecoverInit,
                                  C_SignRecover,
                                  C_VerifyInit,
                                  C_Verify,
                                  C_VerifyUpdate,
                                  C_VerifyFinal,
                                  C_VerifyRecoverInit,
                                  C_VerifyRecover,
                                  C_DigestEncryptUpdate,
                                  C_DecryptDigestUpdate,
                                  C_SignEncryptUpdate,
                                  C_DecryptVerifyUpdate,
                                  C_GenerateKey,
                                  C_GenerateKeyPair,
                                  C_WrapKey,
                                  C_UnwrapKey,
                                  C_DeriveKey,
                                  C_SeedRandom,
                                  C_GenerateRandom,
                                  C_GetFunctionStatus,
                                  C_CancelFunction,
                                  C_WaitForSlotEvent};

}  // namespace

// C_GetFunctionList: works before C_Initialize, as the standard requires.
extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppList) {
  if (ppList == nullptr) {
    return CKR_ARGUMENTS_BAD;
  }
  *ppList = &kFunctionList;
  return CKR_OK;
}
