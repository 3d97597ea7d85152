// Internal declarations of the soft token module: slots -> sessions -> objects -> mechanisms,
// one manager each. Nothing here is exported; only the C_* entry points in p11_module.cpp are.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

using EVP_PKEY = struct evp_pkey_st;
using OSSL_LIB_CTX = struct ossl_lib_ctx_st;

namespace rypkcs11 {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;
using AttrMap = std::map<CK_ATTRIBUTE_TYPE, Bytes>;

// The p11-kit header leaves out the PBE and MAC parameter records; these follow the standard's
// layout (CK_PBE_PARAMS, CK_MAC_GENERAL_PARAMS), so callers pass sizeof of the same records.
struct PbeParams {
  CK_BYTE_PTR pInitVector;
  CK_UTF8CHAR_PTR pPassword;
  CK_ULONG ulPasswordLen;
  CK_BYTE_PTR pSalt;
  CK_ULONG ulSaltLen;
  CK_ULONG ulIteration;
};
using MacGeneralParams = CK_ULONG;

inline constexpr CK_SLOT_ID kFirstSlot = 1;
inline constexpr CK_SLOT_ID kSlotCount = 2;
inline bool validSlot(CK_SLOT_ID id) { return id >= kFirstSlot && id < kFirstSlot + kSlotCount; }

// ---------------------------------------------------------------------------------------------
// Attributes
// ---------------------------------------------------------------------------------------------
Bytes ulongBytes(CK_ULONG v);
Bytes boolBytes(bool v);
bool attrUlong(const AttrMap& m, CK_ATTRIBUTE_TYPE t, CK_ULONG& out);
bool attrBool(const AttrMap& m, CK_ATTRIBUTE_TYPE t, bool dflt);
const Bytes* attrFind(const AttrMap& m, CK_ATTRIBUTE_TYPE t);

// Copies a caller template into a map: unknown types, malformed fixed-size values and
// duplicates are refused with the standard's codes.
CK_RV parseTemplate(const CK_ATTRIBUTE* tmpl, CK_ULONG count, AttrMap& out);

// True when an attribute is one of the key components whose reading CKA_SENSITIVE and
// CKA_EXTRACTABLE govern.
bool isSensitiveAttr(CK_ATTRIBUTE_TYPE t);

// ---------------------------------------------------------------------------------------------
// Crypto backend (OpenSSL libcrypto in a private library context, Crypto++ for MD2 and IDEA)
// ---------------------------------------------------------------------------------------------
enum class DigestAlg : uint8_t { None, Md2, Md5, Sha1, Sha256, Sha384, Sha512 };
enum class CipherAlg : uint8_t { None, Des, Des3, Idea };

OSSL_LIB_CTX* libCtx();  // nullptr when the providers could not be loaded

struct PkeyFree {
  void operator()(EVP_PKEY* k) const;
};
using Pkey = std::shared_ptr<EVP_PKEY>;

class Digest {
 public:
  virtual ~Digest() = default;
  virtual bool update(ByteView data) = 0;
  virtual bool final(Bytes& out) = 0;
};
std::unique_ptr<Digest> newDigest(DigestAlg alg);
ByteView digestInfoPrefix(DigestAlg alg);

// RSA keys are built once from the object's components and shared by every operation on it;
// objects with the same components share one built key through a bounded cache.
CK_RV rsaKeyFromAttrs(const AttrMap& attrs, bool isPrivate, Pkey& out);
// C_Finalize: drops the cache's references (keys still held by objects stay alive).
void rsaKeyCacheClear();
size_t rsaModulusBytes(EVP_PKEY* key);
CK_RV rsaGenerate(CK_ULONG bits, ByteView exponent, AttrMap& pub, AttrMap& priv);
// PKCS#1 v1.5 block type 1 over `in` (pkcs) or the raw private operation (raw).
CK_RV rsaPrivate(EVP_PKEY* key, bool pkcs, bool decrypt, ByteView in, Bytes& out);
CK_RV rsaPublic(EVP_PKEY* key, bool pkcs, bool verify, ByteView in, Bytes& out);

CK_RV cbcPad(CipherAlg alg, bool encrypt, ByteView key, ByteView iv, ByteView in, Bytes& out);
CK_RV desEcb(bool encrypt, ByteView key, ByteView in, Bytes& out);
// DES-CBC without padding over whole blocks, chained from `iv`; the last cipher block.
CK_RV desCbcMac(ByteView key, ByteView iv, ByteView blocks, Bytes& lastBlock);
CK_RV randomBytes(uint8_t* out, size_t len);
CK_RV randomSecretKey(CipherAlg alg, Bytes& out);
CK_RV pbkdf1(DigestAlg alg, ByteView password, ByteView salt, CK_ULONG iterations, uint8_t out[16]);
size_t cipherKeyLength(CipherAlg alg);
// A PKCS#8 PrivateKeyInfo holding an RSA key; `blockPadded` allows up to 7 bytes after it
// (what a block cipher left behind when unwrapping).
CK_RV parsePkcs8Rsa(ByteView der, bool blockPadded, AttrMap& priv);

// ---------------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------------
struct Object {
  CK_OBJECT_HANDLE handle = 0;
  CK_SLOT_ID slot = 0;
  CK_SESSION_HANDLE owner = 0;  // creating session of a session object, 0 for token objects
  std::string storeName;        // file name in the store, token objects only
  AttrMap attrs;
  CK_OBJECT_CLASS cls = 0;
  CK_KEY_TYPE keyType = 0;
  Pkey rsa;  // built at creation for RSA keys

  bool isToken() const { return owner == 0; }
  bool flag(CK_ATTRIBUTE_TYPE t) const { return attrBool(attrs, t, false); }
  ByteView value(CK_ATTRIBUTE_TYPE t) const;
};
using ObjectPtr = std::shared_ptr<const Object>;

// How an object came to be; fixes CKA_LOCAL and the attributes a template may carry.
enum class Origin : uint8_t { Created, Generated, Unwrapped, Stored };

// Fills in the class defaults, checks the template against the class and key type and builds
// the RSA key. `obj.attrs` holds the template on entry.
CK_RV completeObject(Object& obj, Origin origin);

class ObjectManager {
 public:
  CK_RV load(const std::string& dir);  // C_Initialize: read every token object of the store
  void clear();

  // Assigns a handle; a token object is written to the store first.
  CK_RV add(std::shared_ptr<Object> obj, CK_OBJECT_HANDLE& handle);
  // Imports a key pair as token objects, replacing those with the same labels on the slot.
  CK_RV replaceTokenPair(std::shared_ptr<Object> priv, std::shared_ptr<Object> pub,
                         CK_OBJECT_HANDLE& privHandle);
  ObjectPtr get(CK_OBJECT_HANDLE h) const;
  CK_RV destroy(CK_OBJECT_HANDLE h);
  void destroySessionObjects(CK_SESSION_HANDLE s);
  std::vector<CK_OBJECT_HANDLE> match(CK_SLOT_ID slot, const AttrMap& tmpl) const;

 private:
  CK_RV persist(Object& obj);
  void unpersist(const Object& obj);
  CK_OBJECT_HANDLE insert(std::shared_ptr<Object> obj);

  mutable std::mutex mu_;
  std::string dir_;
  CK_OBJECT_HANDLE next_ = 1;
  std::map<CK_OBJECT_HANDLE, std::shared_ptr<Object>> objects_;
};

// Store files: one file per token object, <dir>/slot<N>/<name>.obj.
std::string storeDirectory();
CK_RV storeWrite(const std::string& dir, const Object& obj);
void storeRemove(const std::string& dir, const Object& obj);
void storeLoad(const std::string& dir, std::vector<std::shared_ptr<Object>>& out);

// ---------------------------------------------------------------------------------------------
// Mechanisms
// ---------------------------------------------------------------------------------------------
enum class MechKind : uint8_t {
  RsaKeyPairGen,
  RsaPkcs,
  RsaRaw,
  RsaHash,
  KeyGen,
  DesEcb,
  CbcPad,
  DesMac,
  Pbe
};

struct MechRow {
  CK_MECHANISM_TYPE type;
  MechKind kind;
  CK_ULONG minKey, maxKey;  // bits for RSA, bytes for the secret-key ciphers
  CK_FLAGS flags;
  CK_KEY_TYPE keyType;
  DigestAlg digest;
  CipherAlg cipher;
};
std::span<const MechRow> mechanisms();
const MechRow* findMechanism(CK_MECHANISM_TYPE type);

// A sign or verify operation: data goes in through update, then sign or verify ends it.
class SignOp {
 public:
  virtual ~SignOp() = default;
  virtual CK_RV update(ByteView data) = 0;
  virtual size_t signatureLength() const = 0;
  virtual CK_RV sign(Bytes& out) = 0;
  virtual CK_RV verify(ByteView signature) = 0;
};

// A single-part encrypt or decrypt operation.
class CipherOp {
 public:
  virtual ~CipherOp() = default;
  virtual CK_RV run(ByteView in, Bytes& out) = 0;
};

// Each checks the mechanism against the key (CKR_MECHANISM_INVALID, CKR_MECHANISM_PARAM_INVALID,
// CKR_KEY_TYPE_INCONSISTENT, CKR_KEY_SIZE_RANGE) and builds the operation.
CK_RV makeSignOp(const CK_MECHANISM& mech, const ObjectPtr& key, bool sign,
                 std::unique_ptr<SignOp>& out);
CK_RV makeCipherOp(const CK_MECHANISM& mech, const ObjectPtr& key, bool encrypt,
                   std::unique_ptr<CipherOp>& out);
// C_GenerateKey: the template on entry, the complete secret key's attributes on success.
CK_RV generateSecretKey(const CK_MECHANISM& mech, AttrMap& attrs);
CK_RV generateRsaPair(const CK_MECHANISM& mech, AttrMap& pub, AttrMap& priv);

// ---------------------------------------------------------------------------------------------
// Sessions
// ---------------------------------------------------------------------------------------------
struct Session {
  CK_SESSION_HANDLE handle = 0;
  CK_SLOT_ID slot = 0;
  CK_FLAGS flags = 0;
  std::mutex mu;  // guards the operation state below
  std::unique_ptr<SignOp> signOp, verifyOp;
  std::unique_ptr<CipherOp> encryptOp, decryptOp;
  bool finding = false;
  std::vector<CK_OBJECT_HANDLE> found;
  size_t foundPos = 0;

  bool readWrite() const { return (flags & CKF_RW_SESSION) != 0; }
};
using SessionPtr = std::shared_ptr<Session>;

class SessionManager {
 public:
  CK_SESSION_HANDLE open(CK_SLOT_ID slot, CK_FLAGS flags);
  SessionPtr get(CK_SESSION_HANDLE h) const;
  bool close(CK_SESSION_HANDLE h);
  std::vector<CK_SESSION_HANDLE> handlesOf(CK_SLOT_ID slot) const;
  size_t count(CK_SLOT_ID slot, bool rwOnly) const;
  void clear();

 private:
  mutable std::mutex mu_;
  CK_SESSION_HANDLE next_ = 1;
  std::map<CK_SESSION_HANDLE, SessionPtr> sessions_;
};

}  // namespace rypkcs11
