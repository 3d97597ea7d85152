// The token module under test, reached only through its function list: the built module is
// loaded with dlopen, as any application would load it. Each test gets a fresh store folder.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <p11-kit/pkcs11.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "rsa_peer.h"

namespace p11test {

using rytest::peerRsa;
using rytest::PeerOp;
using rytest::peerSign;
using rytest::peerVerify;

using Bytes = std::vector<uint8_t>;

inline Bytes str(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline CK_FUNCTION_LIST* module() {
  static CK_FUNCTION_LIST* list = [] {
    void* h = dlopen(RYTEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
      ADD_FAILURE() << dlerror();
      return static_cast<CK_FUNCTION_LIST*>(nullptr);
    }
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList"));
    CK_FUNCTION_LIST* l = nullptr;
    if (get == nullptr || get(&l) != CKR_OK) {
      ADD_FAILURE() << "C_GetFunctionList";
    }
    return l;
  }();
  return list;
}

// OpenSSL in the tests: a library context with the legacy provider, for single DES.
inline OSSL_LIB_CTX* osslCtx() {
  static OSSL_LIB_CTX* ctx = [] {
    OSSL_LIB_CTX* c = OSSL_LIB_CTX_new();
    OSSL_PROVIDER_load(c, "default");
    OSSL_PROVIDER_load(c, "legacy");
    return c;
  }();
  return ctx;
}

struct PkeyDeleter {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// RSA keys made by OpenSSL once per process and shared by the tests.
inline EVP_PKEY* opensslKey(unsigned bits) {
  static Pkey k1024(EVP_PKEY_Q_keygen(osslCtx(), nullptr, "RSA", size_t{1024}));
  static Pkey k2048(EVP_PKEY_Q_keygen(osslCtx(), nullptr, "RSA", size_t{2048}));
  return bits == 1024 ? k1024.get() : k2048.get();
}

inline Bytes bnParam(EVP_PKEY* k, const char* name) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(k, name, &bn), 1) << name;
  Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

// A template whose values live as long as the object.
class Template {
 public:
  Template& ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return bytes(t, b);
  }
  Template& boolean(CK_ATTRIBUTE_TYPE t, bool v) { return bytes(t, Bytes{CK_BBOOL(v)}); }
  Template& bytes(CK_ATTRIBUTE_TYPE t, const Bytes& v) {
    values_.push_back(v);
    types_.push_back(t);
    return *this;
  }
  CK_ATTRIBUTE* data() {
    attrs_.clear();
    for (size_t i = 0; i < types_.size(); ++i) {
      attrs_.push_back({types_[i], values_[i].data(), values_[i].size()});
    }
    return attrs_.data();
  }
  CK_ULONG size() const { return types_.size(); }

 private:
  std::vector<CK_ATTRIBUTE_TYPE> types_;
  std::vector<Bytes> values_;
  std::vector<CK_ATTRIBUTE> attrs_;
};

// `zeros` leading zero bytes on the modulus: the same key in other bytes.
inline Template rsaPrivateTemplate(EVP_PKEY* k, size_t zeros = 0) {
  Template t;
  Bytes n(zeros, 0);
  const Bytes raw = bnParam(k, OSSL_PKEY_PARAM_RSA_N);
  n.insert(n.end(), raw.begin(), raw.end());
  t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
  t.bytes(CKA_MODULUS, n);
  t.bytes(CKA_PUBLIC_EXPONENT, bnParam(k, OSSL_PKEY_PARAM_RSA_E));
  t.bytes(CKA_PRIVATE_EXPONENT, bnParam(k, OSSL_PKEY_PARAM_RSA_D));
  t.bytes(CKA_PRIME_1, bnParam(k, OSSL_PKEY_PARAM_RSA_FACTOR1));
  t.bytes(CKA_PRIME_2, bnParam(k, OSSL_PKEY_PARAM_RSA_FACTOR2));
  t.bytes(CKA_EXPONENT_1, bnParam(k, OSSL_PKEY_PARAM_RSA_EXPONENT1));
  t.bytes(CKA_EXPONENT_2, bnParam(k, OSSL_PKEY_PARAM_RSA_EXPONENT2));
  t.bytes(CKA_COEFFICIENT, bnParam(k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1));
  return t;
}

// `e` non-zero: the key's modulus with that public exponent instead (another key).
inline Template rsaPublicTemplate(EVP_PKEY* k, uint32_t e = 0) {
  Template t;
  t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
  t.bytes(CKA_MODULUS, bnParam(k, OSSL_PKEY_PARAM_RSA_N));
  t.bytes(CKA_PUBLIC_EXPONENT,
          e == 0 ? bnParam(k, OSSL_PKEY_PARAM_RSA_E)
                 : Bytes{uint8_t(e >> 24), uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)});
  return t;
}

// The standard's CK_PBE_PARAMS, which the p11-kit header leaves out.
struct PbeParams {
  CK_BYTE_PTR pInitVector;
  CK_UTF8CHAR_PTR pPassword;
  CK_ULONG ulPasswordLen;
  CK_BYTE_PTR pSalt;
  CK_ULONG ulSaltLen;
  CK_ULONG ulIteration;
};

// Initialises the module over an empty store folder and finalises it afterwards.
class Token : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/rypkcs11-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    store_ = tmpl;
    setenv("RYPKCS11_STORE", (store_ + "/store").c_str(), 1);
    f = module();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    CK_ULONG n = 4;
    ASSERT_EQ(f->C_GetSlotList(CK_TRUE, slots, &n), CKR_OK);
    ASSERT_EQ(n, 2u);
  }
  void TearDown() override {
    if (f != nullptr) {
      f->C_Finalize(nullptr);
    }
    std::filesystem::remove_all(store_);
  }

  CK_SESSION_HANDLE open(int slotIndex = 0, CK_FLAGS flags = CKF_SERIAL_SESSION) {
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(f->C_OpenSession(slots[slotIndex], flags, nullptr, nullptr, &h), CKR_OK);
    return h;
  }
  CK_OBJECT_HANDLE create(CK_SESSION_HANDLE s, Template t) {
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(f->C_CreateObject(s, t.data(), t.size(), &h), CKR_OK);
    return h;
  }
  CK_OBJECT_HANDLE secret(CK_SESSION_HANDLE s, CK_KEY_TYPE type, const Bytes& value) {
    Template t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, type).bytes(CKA_VALUE, value);
    return create(s, t);
  }
  Bytes attribute(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE a{type, nullptr, 0};
    EXPECT_EQ(f->C_GetAttributeValue(s, o, &a, 1), CKR_OK);
    Bytes out(a.ulValueLen);
    a.pValue = out.data();
    EXPECT_EQ(f->C_GetAttributeValue(s, o, &a, 1), CKR_OK);
    return out;
  }
  std::vector<CK_OBJECT_HANDLE> findLabel(CK_SESSION_HANDLE s, const std::string& label) {
    Bytes l = str(label);
    CK_ATTRIBUTE a{CKA_LABEL, l.data(), l.size()};
    EXPECT_EQ(f->C_FindObjectsInit(s, &a, 1), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> out(8);
    CK_ULONG n = 0;
    EXPECT_EQ(f->C_FindObjects(s, out.data(), out.size(), &n), CKR_OK);
    EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
    out.resize(n);
    return out;
  }
  // Single-part sign or encrypt/decrypt through the two-call pattern.
  CK_RV sign(CK_SESSION_HANDLE s, CK_MECHANISM m, CK_OBJECT_HANDLE k, const Bytes& data,
             Bytes& out) {
    if (CK_RV rv = f->C_SignInit(s, &m, k); rv != CKR_OK) {
      return rv;
    }
    CK_ULONG n = 0;
    if (CK_RV rv = f->C_Sign(s, const_cast<uint8_t*>(data.data()), data.size(), nullptr, &n);
        rv != CKR_OK) {
      return rv;
    }
    out.resize(n);
    CK_RV rv = f->C_Sign(s, const_cast<uint8_t*>(data.data()), data.size(), out.data(), &n);
    out.resize(n);
    return rv;
  }
  CK_RV verify(CK_SESSION_HANDLE s, CK_MECHANISM m, CK_OBJECT_HANDLE k, const Bytes& data,
               const Bytes& sig) {
    if (CK_RV rv = f->C_VerifyInit(s, &m, k); rv != CKR_OK) {
      return rv;
    }
    return f->C_Verify(s, const_cast<uint8_t*>(data.data()), data.size(),
                       const_cast<uint8_t*>(sig.data()), sig.size());
  }
  CK_RV crypt(bool encrypt, CK_SESSION_HANDLE s, CK_MECHANISM m, CK_OBJECT_HANDLE k,
              const Bytes& in, Bytes& out) {
    auto init = encrypt ? f->C_EncryptInit : f->C_DecryptInit;
    auto run = encrypt ? f->C_Encrypt : f->C_Decrypt;
    if (CK_RV rv = init(s, &m, k); rv != CKR_OK) {
      return rv;
    }
    CK_ULONG n = 0;
    auto* p = const_cast<uint8_t*>(in.data());
    if (CK_RV rv = run(s, p, in.size(), nullptr, &n); rv != CKR_OK) {
      return rv;
    }
    out.resize(std::max<CK_ULONG>(n, 1));  // a NULL buffer would be another length query
    CK_RV rv = run(s, p, in.size(), out.data(), &n);
    out.resize(n);
    return rv;
  }

  CK_FUNCTION_LIST* f = nullptr;
  CK_SLOT_ID slots[4] = {};
  std::string store_;
};

}  // namespace p11test
