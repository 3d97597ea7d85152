// The session procedure and the order of module calls, pinned down with a
// scripted PKCS#11 module: this program links the library's objects with
// the C_* functions below instead of a real module. Each call is recorded;
// any one of them can be made to fail with a chosen CK_RV.
#include <p11-kit/pkcs11.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

using namespace rytest;

namespace {

struct Script {
  std::vector<CK_SLOT_ID> slots = {11, 22};
  std::vector<std::string> calls;
  std::string failCall;  // the call that fails ("" none), at its failNth-th use
  int failNth = 0;
  CK_RV failRv = CKR_OK;
  CK_ULONG found = 1;  // objects C_FindObjects reports
  CK_SESSION_HANDLE nextSession = 100;
  CK_OBJECT_HANDLE nextObject = 500;
  CK_ULONG lastTemplateCount = 0;
  std::string lastLabel;
};
Script g;

CK_RV step(const std::string &call) {
  g.calls.push_back(call);
  const std::string name = call.substr(0, call.find('('));
  if (name == g.failCall && g.failNth-- == 0) {
    return g.failRv;
  }
  return CKR_OK;
}
std::string h(CK_ULONG v) { return std::to_string(v); }

}  // namespace

extern "C" {
// clang-format off
CK_RV C_Initialize(void *) { return step("C_Initialize"); }
CK_RV C_Finalize(void *) { return step("C_Finalize"); }
CK_RV C_GetSlotList(CK_BBOOL, CK_SLOT_ID *list, CK_ULONG *count) {
  if (CK_RV rv = step("C_GetSlotList"); rv != CKR_OK) { return rv; }
  const CK_ULONG room = *count;
  *count = g.slots.size();
  if (room < g.slots.size()) { return CKR_BUFFER_TOO_SMALL; }
  std::copy(g.slots.begin(), g.slots.end(), list);
  return CKR_OK;
}
CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, void *, CK_NOTIFY, CK_SESSION_HANDLE *s) {
  if (CK_RV rv = step("C_OpenSession(" + h(slot) + ")"); rv != CKR_OK) { return rv; }
  EXPECT_EQ(flags, CKF_SERIAL_SESSION);
  *s = g.nextSession++;
  return CKR_OK;
}
CK_RV C_CloseSession(CK_SESSION_HANDLE s) { return step("C_CloseSession(" + h(s) + ")"); }
CK_RV C_CreateObject(CK_SESSION_HANDLE s, CK_ATTRIBUTE *t, CK_ULONG n, CK_OBJECT_HANDLE *o) {
  g.lastTemplateCount = n;
  if (CK_RV rv = step("C_CreateObject(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  *o = g.nextObject++;
  return s == 0 ? CKR_SESSION_HANDLE_INVALID : CKR_OK;
}
CK_RV C_DestroyObject(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o) {
  return step("C_DestroyObject(" + h(s) + "," + h(o) + ")");
}
CK_RV C_GetAttributeValue(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE *t, CK_ULONG n) {
  if (CK_RV rv = step("C_GetAttributeValue(" + h(s) + "," + h(o) + ")"); rv != CKR_OK) { return rv; }
  for (CK_ULONG i = 0; i < n; ++i) {
    if (t[i].pValue == nullptr) { t[i].ulValueLen = 256; continue; }
    const CK_ULONG len = t[i].type == CKA_VALUE ? 24 : std::min<CK_ULONG>(t[i].ulValueLen, 3);
    std::memset(t[i].pValue, 0x41, len);
    t[i].ulValueLen = len;
  }
  return CKR_OK;
}
CK_RV C_FindObjectsInit(CK_SESSION_HANDLE s, CK_ATTRIBUTE *t, CK_ULONG n) {
  g.lastTemplateCount = n;
  g.lastLabel.assign(static_cast<char *>(t[0].pValue), t[0].ulValueLen);
  if (CK_RV rv = step("C_FindObjectsInit(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  return s == 0 ? CKR_SESSION_HANDLE_INVALID : CKR_OK;
}
CK_RV C_FindObjects(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE *o, CK_ULONG max, CK_ULONG *count) {
  if (CK_RV rv = step("C_FindObjects(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  EXPECT_EQ(max, 1u);
  *count = g.found;
  *o = 900;
  return CKR_OK;
}
CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE s) { return step("C_FindObjectsFinal(" + h(s) + ")"); }
CK_RV C_GenerateKey(CK_SESSION_HANDLE s, CK_MECHANISM *, CK_ATTRIBUTE *, CK_ULONG, CK_OBJECT_HANDLE *o) {
  if (CK_RV rv = step("C_GenerateKey(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  *o = g.nextObject++;
  return CKR_OK;
}
CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE s, CK_MECHANISM *, CK_ATTRIBUTE *, CK_ULONG, CK_ATTRIBUTE *,
                        CK_ULONG, CK_OBJECT_HANDLE *pub, CK_OBJECT_HANDLE *priv) {
  if (CK_RV rv = step("C_GenerateKeyPair(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  *pub = g.nextObject++;
  *priv = g.nextObject++;
  return CKR_OK;
}
CK_RV C_UnwrapKey(CK_SESSION_HANDLE s, CK_MECHANISM *m, CK_OBJECT_HANDLE k, CK_BYTE *, CK_ULONG,
                  CK_ATTRIBUTE *t, CK_ULONG n, CK_OBJECT_HANDLE *o) {
  g.lastTemplateCount = n;
  g.lastLabel.assign(static_cast<char *>(t[0].pValue), t[0].ulValueLen);
  EXPECT_EQ(m->mechanism, CKM_DES_ECB);
  EXPECT_EQ(k, 0u);
  if (CK_RV rv = step("C_UnwrapKey(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  *o = g.nextObject++;
  return CKR_OK;
}
static CK_RV out(const char *name, CK_SESSION_HANDLE s, CK_BYTE *buf, CK_ULONG *len, CK_ULONG need) {
  if (CK_RV rv = step(std::string(name) + "(" + h(s) + ")"); rv != CKR_OK) { return rv; }
  if (buf != nullptr) {
    if (*len < need) { return CKR_BUFFER_TOO_SMALL; }
    std::memset(buf, 1, need);
  }
  *len = need;
  return CKR_OK;
}
CK_RV C_EncryptInit(CK_SESSION_HANDLE s, CK_MECHANISM *, CK_OBJECT_HANDLE o) {
  return step("C_EncryptInit(" + h(s) + "," + h(o) + ")");
}
CK_RV C_Encrypt(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG n, CK_BYTE *b, CK_ULONG *len) {
  return out("C_Encrypt", s, b, len, n < 200 ? 256 : (n / 8 + 1) * 8);
}
CK_RV C_DecryptInit(CK_SESSION_HANDLE s, CK_MECHANISM *, CK_OBJECT_HANDLE o) {
  return step("C_DecryptInit(" + h(s) + "," + h(o) + ")");
}
CK_RV C_Decrypt(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG n, CK_BYTE *b, CK_ULONG *len) {
  // The RSA block decrypts to code 3 (DES3) and a 24-byte key.
  if (CK_RV rv = out("C_Decrypt", s, b, len, n == 256 ? 25 : n); rv != CKR_OK) { return rv; }
  if (b != nullptr && n == 256) { b[0] = 3; }
  return CKR_OK;
}
CK_RV C_SignInit(CK_SESSION_HANDLE s, CK_MECHANISM *, CK_OBJECT_HANDLE o) {
  return step("C_SignInit(" + h(s) + "," + h(o) + ")");
}
CK_RV C_Sign(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG, CK_BYTE *b, CK_ULONG *len) {
  return out("C_Sign", s, b, len, 256);
}
CK_RV C_SignUpdate(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG n) { return step("C_SignUpdate(" + h(n) + ")"); }
CK_RV C_SignFinal(CK_SESSION_HANDLE s, CK_BYTE *b, CK_ULONG *len) { return out("C_SignFinal", s, b, len, 8); }
CK_RV C_VerifyInit(CK_SESSION_HANDLE s, CK_MECHANISM *, CK_OBJECT_HANDLE o) {
  return step("C_VerifyInit(" + h(s) + "," + h(o) + ")");
}
CK_RV C_Verify(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG, CK_BYTE *, CK_ULONG) { return step("C_Verify(" + h(s) + ")"); }
CK_RV C_VerifyUpdate(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG n) { return step("C_VerifyUpdate(" + h(n) + ")"); }
CK_RV C_VerifyFinal(CK_SESSION_HANDLE s, CK_BYTE *, CK_ULONG) { return step("C_VerifyFinal(" + h(s) + ")"); }
// clang-format on
}  // extern "C"

namespace {

// DER of a 1024-bit-shaped RSAPrivateKey: only the key decoder sees it.
Bytes derLength(size_t n) {
  if (n < 0x80) {
    return {uint8_t(n)};
  }
  return n <= 0xFF ? Bytes{0x81, uint8_t(n)} : Bytes{0x82, uint8_t(n >> 8), uint8_t(n)};
}
Bytes element(uint8_t id, const Bytes &content) {
  Bytes out = {id};
  const Bytes len = derLength(content.size());
  out.insert(out.end(), len.begin(), len.end());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Bytes privDer() {
  Bytes body = element(0x02, {0x00});
  for (int i = 0; i < 8; ++i) {
    Bytes v = i == 1 ? Bytes{0x01, 0x00, 0x01} : Bytes(i == 0 || i == 2 ? 128 : 64, 0x45);
    const Bytes f = element(0x02, v);
    body.insert(body.end(), f.begin(), f.end());
  }
  return element(0x30, body);
}
const Bytes kPriv = privDer();

void reset(size_t slots) {
  g = Script{};
  g.slots.resize(slots);
  for (size_t i = 0; i < slots; ++i) {
    g.slots[i] = 11 * (i + 1);
  }
  ASSERT_EQ(Ry_Initialize(), 0u);
  g.calls.clear();
}
void failAt(const std::string &call, int nth, CK_RV rv) {
  g.failCall = call;
  g.failNth = nth;
  g.failRv = rv;
}

uint32_t signWith(int32_t index) {
  uint8_t sig[256];
  uint32_t len = sizeof sig;
  const uint8_t data[3] = {1, 2, 3};
  return Ry_SignData(index, kPriv.data(), uint32_t(kPriv.size()), data, 3, sig, &len,
                     SIGALG_SHA1_RSA);
}

using Calls = std::vector<std::string>;

TEST(Procedure, SessionsAndOrderOfCalls) {
  const uint8_t data[3] = {1, 2, 3};
  uint8_t buf[512];
  uint32_t len = 0;
  const struct {
    const char *name;
    size_t slots;
    std::function<uint32_t()> call;
    uint32_t status;
    Calls calls;
  } cases[] = {
      {"sign with a DER key: first session only",
       2,
       [] { return signWith(0); },
       0,
       {"C_OpenSession(11)", "C_CreateObject(100)", "C_SignInit(100,500)", "C_Sign(100)",
        "C_DestroyObject(100,500)", "C_CloseSession(100)"}},
      {"sign with a token key: found and used in the second session",
       2,
       [] { return signWith(3); },
       0,
       {"C_OpenSession(11)", "C_OpenSession(22)", "C_FindObjectsInit(101)", "C_FindObjects(101)",
        "C_FindObjectsFinal(101)", "C_SignInit(101,900)", "C_Sign(101)", "C_CloseSession(100)",
        "C_CloseSession(101)"}},
      {"token key with one slot: the module's answer to handle 0",
       1,
       [] { return signWith(3); },
       CKR_SESSION_HANDLE_INVALID,
       {"C_OpenSession(11)", "C_FindObjectsInit(0)", "C_CloseSession(100)"}},
      {"no slot: no session, handle 0",
       0,
       [] { return signWith(0); },
       CKR_SESSION_HANDLE_INVALID,
       {"C_CreateObject(0)"}},
      {"verify with a token key: modulus size asked, verified where it lives",
       2,
       [&] { return Ry_VerifyData(4, nullptr, 0, data, 3, buf, 256, SIGALG_SHA256_RSA); },
       0,
       {"C_OpenSession(11)", "C_OpenSession(22)", "C_FindObjectsInit(101)", "C_FindObjects(101)",
        "C_FindObjectsFinal(101)", "C_GetAttributeValue(101,900)", "C_VerifyInit(101,900)",
        "C_Verify(101)", "C_CloseSession(100)", "C_CloseSession(101)"}},
      {"MAC of 4097 bytes: pieces of 4096 and 1",
       2,
       [&] {
         static uint8_t big[4097];
         len = 8;
         return Ry_GenerateMac(data, 3, big, sizeof big, buf, &len, 0);
       },
       0,
       {"C_OpenSession(11)", "C_OpenSession(22)", "C_GenerateKey(100)", "C_SignInit(100,500)",
        "C_SignUpdate(4096)", "C_SignUpdate(1)", "C_SignFinal(100)", "C_DestroyObject(100,500)",
        "C_CloseSession(100)", "C_CloseSession(101)"}},
      {"MAC of nothing: no update",
       1,
       [&] {
         len = 8;
         return Ry_VerifyMac(data, 3, nullptr, 0, buf, 8);
       },
       0,
       {"C_OpenSession(11)", "C_GenerateKey(100)", "C_VerifyInit(100,500)", "C_VerifyFinal(100)",
        "C_DestroyObject(100,500)", "C_CloseSession(100)"}},
      {"import: second session only, label template of one attribute",
       2,
       [] { return Ry_PutKeypair(7, 0, 0, 0, kPriv.data(), uint32_t(kPriv.size())); },
       0,
       {"C_OpenSession(22)", "C_UnwrapKey(100)", "C_CloseSession(100)"}},
      {"envelope opened with a token key: RSA block as long as its modulus",
       2,
       [&] {
         static uint8_t env[256 + 16];
         len = sizeof buf;
         return Ry_DecodeEnvelop(9, nullptr, 0, env, sizeof env, buf, &len);
       },
       0,
       {"C_OpenSession(11)", "C_OpenSession(22)", "C_FindObjectsInit(101)", "C_FindObjects(101)",
        "C_FindObjectsFinal(101)", "C_GetAttributeValue(101,900)", "C_DecryptInit(101,900)",
        "C_Decrypt(101)", "C_CreateObject(100)", "C_DecryptInit(100,500)", "C_Decrypt(100)",
        "C_DestroyObject(100,500)", "C_CloseSession(100)", "C_CloseSession(101)"}},
      {"generated pair read back where it was generated",
       2,
       [&] {
         uint32_t a = 0;
         uint32_t b = 0;
         return Ry_GenKeypair(1, 1024, 0, nullptr, &a, nullptr, &b);
       },
       0,
       {"C_OpenSession(11)", "C_OpenSession(22)", "C_GenerateKeyPair(101)",
        "C_GetAttributeValue(101,501)", "C_DestroyObject(101,501)", "C_DestroyObject(101,500)",
        "C_CloseSession(100)", "C_CloseSession(101)"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    reset(c.slots);
    EXPECT_EQ(c.call(), c.status);
    EXPECT_EQ(g.calls, c.calls);
  }
  reset(2);
  ASSERT_EQ(Ry_PutKeypair(7, 0, 0, 0, kPriv.data(), uint32_t(kPriv.size())), 0u);
  EXPECT_EQ(g.lastTemplateCount, 1u);
  EXPECT_EQ(g.lastLabel, "RY_QLM_RSA_PRIKEY7");
}

// Ry_SignData with a DER key, failing at each module call in turn: the
// module's code comes back unchanged with its one log line, and every
// session opened is closed.
TEST(Procedure, EachFailingStepOfSigning) {
  const struct {
    const char *call;
    int nth;
    const char *line;
  } steps[] = {
      {"C_OpenSession", 0, "---->C_OpenSession"},
      {"C_OpenSession", 1, "---->C_OpenSession"},  // the second session
      {"C_FindObjectsInit", 0, "---->C_FindObjectsInit "},
      {"C_FindObjects", 0, "---->C_FindObjects "},
      {"C_FindObjectsFinal", 0, "---->C_FindObjectsFinal"},
      {"C_SignInit", 0, "---->C_SignInit "},
      {"C_Sign", 0, "---->C_Sign "},
      {"C_CloseSession", 0, "---->C_CloseSession"},
      {"C_CloseSession", 1, "---->C_CloseSession hard"},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(testing::Message() << s.call << " #" << s.nth);
    reset(2);
    failAt(s.call, s.nth, CKR_DEVICE_ERROR);
    LogCapture log;
    EXPECT_EQ(signWith(5), CKR_DEVICE_ERROR);
    EXPECT_EQ(log.lines().back(), s.line);
    size_t closed = 0;
    for (const auto &c : g.calls) {
      closed += c.rfind("C_CloseSession", 0) == 0 ? 1 : 0;
    }
    if (std::string(s.call) == "C_OpenSession") {
      EXPECT_EQ(closed, size_t(s.nth)) << "the sessions opened before are closed";
    } else {
      EXPECT_EQ(closed, 2u) << "a failed close still closes the other session";
    }
    if (std::string(s.call) == "C_FindObjects") {
      EXPECT_EQ(g.calls.at(g.calls.size() - 3), "C_FindObjectsFinal(101)") << "search ended";
    }
  }
  // Nothing found: the search is ended, and the status names the key.
  reset(2);
  g.found = 0;
  EXPECT_EQ(signWith(5), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(g.calls, (Calls{"C_OpenSession(11)", "C_OpenSession(22)", "C_FindObjectsInit(101)",
                            "C_FindObjects(101)", "C_FindObjectsFinal(101)", "C_CloseSession(100)",
                            "C_CloseSession(101)"}));
  // A key object created from DER is destroyed when a later step fails.
  reset(2);
  failAt("C_Sign", 0, CKR_DEVICE_ERROR);
  EXPECT_EQ(signWith(0), CKR_DEVICE_ERROR);
  EXPECT_EQ(g.calls, (Calls{"C_OpenSession(11)", "C_CreateObject(100)", "C_SignInit(100,500)",
                            "C_Sign(100)", "C_DestroyObject(100,500)", "C_CloseSession(100)"}));
}

TEST(Procedure, StartUp) {
  g = Script{};
  g.slots = {1, 2, 3, 4, 5};
  LogCapture log;
  EXPECT_EQ(Ry_Initialize(), CKR_BUFFER_TOO_SMALL) << "room for four slots";
  EXPECT_EQ(log.lines().back(), "---->C_GetSlotList");
  g = Script{};
  failAt("C_Initialize", 0, CKR_CANT_LOCK);
  EXPECT_EQ(Ry_Initialize(), CKR_CANT_LOCK);
  EXPECT_EQ(log.lines().back(), "---->C_Initialize");
  g.slots = {1, 2, 3, 4};
  EXPECT_EQ(Ry_Initialize(), 0u);
  // A vendor code beyond 32 bits cannot pass as a status, and must not
  // truncate to success.
  failAt("C_Finalize", 0, CK_RV(0x100000000ULL));
  EXPECT_EQ(Ry_Finalize(), CKR_GENERAL_ERROR);
}

}  // namespace
