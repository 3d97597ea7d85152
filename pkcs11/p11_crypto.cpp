// The crypto backend. Every primitive comes from a library: OpenSSL libcrypto for RSA, DES,
// triple DES, MD5 and SHA-1/2; Crypto++ for MD2 and IDEA, which the system's OpenSSL lacks,
// and for PKCS#5 PBKDF1 (one template over MD2 and MD5).
// OpenSSL runs in a library context of its own, so loading the legacy provider (single DES)
// does not change the host application's defaults.
// DES_random_key is the one deprecated low-level call used here.
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/filters.h>
#include <cryptopp/idea.h>
#include <cryptopp/md2.h>
#include <cryptopp/md5.h>
#include <cryptopp/modes.h>
#include <cryptopp/pwdbased.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "p11_internal.h"

namespace rypkcs11 {
namespace {

template <typename T, void (*F)(T*)>
struct Deleter {
  void operator()(T* p) const { F(p); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;
using Cipher = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER, EVP_CIPHER_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Md = std::unique_ptr<EVP_MD, Deleter<EVP_MD, EVP_MD_free>>;
using Bn = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_clear_free>>;
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using P8Info =
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>>;

// The components of an RSA key: the attribute, OpenSSL's parameter name, private only.
struct RsaComponent {
  CK_ATTRIBUTE_TYPE attr;
  const char* param;
  bool privateOnly;
};
constexpr RsaComponent kRsaComponents[] = {
    {CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N, false},
    {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E, false},
    {CKA_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D, true},
    {CKA_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1, true},
    {CKA_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2, true},
    {CKA_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1, true},
    {CKA_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2, true},
    {CKA_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, true},
};

const char* digestName(DigestAlg alg) {
  switch (alg) {
    case DigestAlg::Md5:
      return "MD5";
    case DigestAlg::Sha1:
      return "SHA1";
    case DigestAlg::Sha256:
      return "SHA256";
    case DigestAlg::Sha384:
      return "SHA384";
    case DigestAlg::Sha512:
      return "SHA512";
    default:
      return nullptr;
  }
}

class EvpDigest final : public Digest {
 public:
  explicit EvpDigest(MdCtx ctx) : ctx_(std::move(ctx)) {}
  bool update(ByteView data) override {
    return EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) == 1;
  }
  bool final(Bytes& out) override {
    unsigned int len = 0;
    out.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(ctx_.get(), out.data(), &len) != 1) {
      return false;
    }
    out.resize(len);
    return true;
  }

 private:
  MdCtx ctx_;
};

class Md2Digest final : public Digest {
 public:
  bool update(ByteView data) override {
    md_.Update(data.data(), data.size());
    return true;
  }
  bool final(Bytes& out) override {
    out.resize(md_.DigestSize());
    md_.Final(out.data());
    return true;
  }

 private:
  CryptoPP::Weak::MD2 md_;
};

Bn toBn(ByteView v) { return Bn(BN_bin2bn(v.data(), static_cast<int>(v.size()), nullptr)); }

Bytes fromBn(const BIGNUM* bn) {
  Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  return out;
}

PkeyCtx keyCtx(EVP_PKEY* key) {
  return PkeyCtx(EVP_PKEY_CTX_new_from_pkey(libCtx(), key, nullptr));
}

// Left-pads raw RSA input to the modulus length, as the raw mechanism defines its input.
bool padRaw(ByteView in, size_t k, Bytes& out) {
  if (in.size() > k) {
    return false;
  }
  out.assign(k - in.size(), 0);
  out.insert(out.end(), in.begin(), in.end());
  return true;
}

const EVP_CIPHER* fetchCipher(const char* name) {
  // Fetched once per name; a fetched cipher is immutable and may be shared by threads.
  struct Cached {
    const char* name;
    Cipher cipher;
  };
  static Cached cache[] = {{"DES-CBC", nullptr}, {"DES-EDE3-CBC", nullptr}, {"DES-ECB", nullptr}};
  static std::once_flag once;
  std::call_once(once, [] {
    for (auto& c : cache) {
      c.cipher.reset(EVP_CIPHER_fetch(libCtx(), c.name, nullptr));
    }
  });
  for (auto& c : cache) {
    if (std::strcmp(c.name, name) == 0) {
      return c.cipher.get();
    }
  }
  return nullptr;
}

// Fetched once per algorithm, like the ciphers: a fetch searches libcrypto's method store.
const EVP_MD* fetchDigest(DigestAlg alg) {
  static Md cache[7];
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < 7; ++i) {
      if (const char* name = digestName(static_cast<DigestAlg>(i)); name != nullptr) {
        cache[i].reset(EVP_MD_fetch(libCtx(), name, nullptr));
      }
    }
  });
  const auto i = static_cast<size_t>(alg);
  return i < 7 ? cache[i].get() : nullptr;
}

CK_RV evpCipher(const char* name, bool encrypt, bool pad, ByteView key, ByteView iv, ByteView in,
                Bytes& out) {
  const EVP_CIPHER* cipher = fetchCipher(name);
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (cipher == nullptr || !ctx) {
    return CKR_DEVICE_ERROR;
  }
  if (EVP_CipherInit_ex2(ctx.get(), cipher, key.data(), iv.empty() ? nullptr : iv.data(),
                         encrypt ? 1 : 0, nullptr) != 1) {
    return CKR_DEVICE_ERROR;
  }
  EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0);
  out.resize(in.size() + 16);
  int n1 = 0;
  int n2 = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &n1, in.data(), static_cast<int>(in.size())) != 1) {
    return CKR_DEVICE_ERROR;
  }
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1) {
    return encrypt ? CKR_DEVICE_ERROR : CKR_ENCRYPTED_DATA_INVALID;
  }
  out.resize(static_cast<size_t>(n1 + n2));
  return CKR_OK;
}

CK_RV ideaCbcPad(bool encrypt, ByteView key, ByteView iv, ByteView in, Bytes& out) {
  try {
    std::string sink;
    if (encrypt) {
      CryptoPP::CBC_Mode<CryptoPP::IDEA>::Encryption enc(key.data(), key.size(), iv.data());
      CryptoPP::StringSource src(
          in.data(), in.size(), true,
          new CryptoPP::StreamTransformationFilter(enc, new CryptoPP::StringSink(sink),
                                                   CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING));
    } else {
      CryptoPP::CBC_Mode<CryptoPP::IDEA>::Decryption dec(key.data(), key.size(), iv.data());
      CryptoPP::StringSource src(
          in.data(), in.size(), true,
          new CryptoPP::StreamTransformationFilter(dec, new CryptoPP::StringSink(sink),
                                                   CryptoPP::BlockPaddingSchemeDef::PKCS_PADDING));
    }
    out.assign(sink.begin(), sink.end());
    return CKR_OK;
  } catch (const CryptoPP::Exception&) {
    return encrypt ? CKR_DEVICE_ERROR : CKR_ENCRYPTED_DATA_INVALID;
  }
}

}  // namespace

void PkeyFree::operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }

OSSL_LIB_CTX* libCtx() {
  // Created once per process and kept: objects of one C_Initialize may still hold keys of it
  // while another thread initialises again.
  static OSSL_LIB_CTX* ctx = [] {
    OSSL_LIB_CTX* c = OSSL_LIB_CTX_new();
    if (c == nullptr || OSSL_PROVIDER_load(c, "default") == nullptr ||
        OSSL_PROVIDER_load(c, "legacy") == nullptr) {
      return static_cast<OSSL_LIB_CTX*>(nullptr);
    }
    return c;
  }();
  return ctx;
}

std::unique_ptr<Digest> newDigest(DigestAlg alg) {
  if (alg == DigestAlg::Md2) {
    return std::make_unique<Md2Digest>();
  }
  const char* name = digestName(alg);
  if (name == nullptr) {
    return nullptr;
  }
  const EVP_MD* md = fetchDigest(alg);
  MdCtx ctx(EVP_MD_CTX_new());
  if (md == nullptr || !ctx || EVP_DigestInit_ex2(ctx.get(), md, nullptr) != 1) {
    return nullptr;
  }
  return std::make_unique<EvpDigest>(std::move(ctx));
}

// DigestInfo headers, RFC 8017 section 9.2 note 1: the DER of
//   DigestInfo ::= SEQUENCE { digestAlgorithm AlgorithmIdentifier, digest OCTET STRING }
// up to the digest octets.
ByteView digestInfoPrefix(DigestAlg alg) {
  static const uint8_t kMd2[] = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                 0x86, 0xf7, 0x0d, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10};
  static const uint8_t kMd5[] = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                 0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
  static const uint8_t kSha1[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                  0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
  static const uint8_t kSha256[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  static const uint8_t kSha384[] = {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
  static const uint8_t kSha512[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};
  switch (alg) {
    case DigestAlg::Md2:
      return kMd2;
    case DigestAlg::Md5:
      return kMd5;
    case DigestAlg::Sha1:
      return kSha1;
    case DigestAlg::Sha256:
      return kSha256;
    case DigestAlg::Sha384:
      return kSha384;
    case DigestAlg::Sha512:
      return kSha512;
    default:
      return {};
  }
}

namespace {

// Built RSA keys by content. Building an EVP_PKEY from components (and its first use: Montgomery
// contexts, blinding) costs more than a signature, and callers that hand the same key over in a
// fresh object for every C_SignInit/C_VerifyInit would pay it each time. Objects whose
// components are byte for byte the same share one built key.
//
// The cache holds a reference to each key; objects hold their own, so evicting a key (least
// recently used beyond kCapacity) or clearing the cache at C_Finalize never frees a key an
// object or a running operation still uses. The recorded components are cleansed as their
// entry goes.
class RsaKeyCache {
 public:
  static constexpr size_t kCapacity = 64;

  RsaKeyCache() {
    libCtx();  // libcrypto's exit handler then runs after this cache is gone
    entries_.reserve(kCapacity);
  }

  Pkey find(uint64_t hash, ByteView content) {
    std::lock_guard lock(mu_);
    for (auto& e : entries_) {
      if (e->matches(hash, content)) {
        e->used = ++tick_;
        return e->key;
      }
    }
    return nullptr;
  }

  // Records a freshly built key; when another thread recorded the same content meanwhile, its
  // key is returned instead, so that all objects share one.
  Pkey insert(uint64_t hash, ByteView content, Pkey key) {
    auto fresh = std::make_unique<Entry>(hash, content, key);
    std::unique_ptr<Entry> evicted;  // released after the lock
    std::lock_guard lock(mu_);
    for (auto& e : entries_) {
      if (e->matches(hash, content)) {
        e->used = ++tick_;
        return e->key;
      }
    }
    fresh->used = ++tick_;
    if (entries_.size() < kCapacity) {
      entries_.push_back(std::move(fresh));
    } else {
      auto oldest = std::ranges::min_element(entries_, {}, [](const auto& e) { return e->used; });
      evicted = std::exchange(*oldest, std::move(fresh));
    }
    return key;
  }

  void clear() {
    std::vector<std::unique_ptr<Entry>> gone;
    {
      std::lock_guard lock(mu_);
      gone.swap(entries_);
      entries_.reserve(kCapacity);
    }
  }

 private:
  struct Entry {
    Entry(uint64_t h, ByteView c, Pkey k)
        : hash(h), content(c.begin(), c.end()), key(std::move(k)) {}
    ~Entry() { OPENSSL_cleanse(content.data(), content.size()); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    bool matches(uint64_t h, ByteView c) const {
      return hash == h && content.size() == c.size() &&
             CRYPTO_memcmp(content.data(), c.data(), c.size()) == 0;
    }

    uint64_t hash;
    Bytes content;
    Pkey key;
    uint64_t used = 0;
  };

  std::mutex mu_;
  uint64_t tick_ = 0;
  std::vector<std::unique_ptr<Entry>> entries_;
};

RsaKeyCache& keyCache() {
  static RsaKeyCache cache;
  return cache;
}

// 64-bit multiply-xorshift over whole words; the cache compares the full content after a match.
uint64_t contentHash(ByteView v) {
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ULL;
  uint64_t h = v.size() * kMul;
  size_t i = 0;
  for (; i + 8 <= v.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, v.data() + i, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, v.data() + i, v.size() - i);
  h = (h ^ tail) * kMul;
  return h ^ (h >> 32);
}

// Cleanses a buffer of key components when it goes.
struct WipedBytes {
  Bytes b;
  ~WipedBytes() { OPENSSL_cleanse(b.data(), b.size()); }
};

void appendComponent(Bytes& out, const Bytes* v) {
  const uint32_t len = v == nullptr ? 0xffffffffu : static_cast<uint32_t>(v->size());
  const uint8_t head[4] = {static_cast<uint8_t>(len >> 24), static_cast<uint8_t>(len >> 16),
                           static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
  out.insert(out.end(), head, head + 4);
  if (v != nullptr) {
    out.insert(out.end(), v->begin(), v->end());
  }
}

CK_RV buildRsaKey(const AttrMap& attrs, bool isPrivate, Pkey& out) {
  ParamBld bld(OSSL_PARAM_BLD_new());
  if (!bld) {
    return CKR_HOST_MEMORY;
  }
  std::vector<Bn> held;
  for (const RsaComponent& c : kRsaComponents) {
    if (c.privateOnly && !isPrivate) {
      continue;
    }
    const Bytes* v = attrFind(attrs, c.attr);
    if (v == nullptr) {
      continue;
    }
    held.push_back(toBn(*v));
    if (!held.back() || OSSL_PARAM_BLD_push_BN(bld.get(), c.param, held.back().get()) != 1) {
      return CKR_HOST_MEMORY;
    }
  }
  Params params(OSSL_PARAM_BLD_to_param(bld.get()));
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(libCtx(), "RSA", nullptr));
  EVP_PKEY* key = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &key, isPrivate ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY,
                        params.get()) != 1) {
    return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  out = Pkey(key, PkeyFree{});
  return CKR_OK;
}

}  // namespace

CK_RV rsaKeyFromAttrs(const AttrMap& attrs, bool isPrivate, Pkey& out) {
  // The content that identifies the key: its kind and every component it is built from, each
  // with its length (or marked absent).
  WipedBytes content;
  content.b.reserve(1 + 8 * 4 + 2048);
  content.b.push_back(isPrivate ? 1 : 0);
  size_t crtCount = 0;
  for (const RsaComponent& c : kRsaComponents) {
    if (c.privateOnly && !isPrivate) {
      continue;
    }
    const Bytes* v = attrFind(attrs, c.attr);
    if (v != nullptr && c.attr != CKA_PRIVATE_EXPONENT && c.privateOnly) {
      ++crtCount;
    }
    appendComponent(content.b, v);
  }
  // Either all five CRT values or none; OpenSSL signs without them, only slower.
  if (crtCount != 0 && crtCount != 5) {
    return CKR_TEMPLATE_INCOMPLETE;
  }
  const uint64_t hash = contentHash(content.b);
  if (Pkey hit = keyCache().find(hash, content.b)) {
    out = std::move(hit);
    return CKR_OK;
  }
  Pkey built;
  if (CK_RV rv = buildRsaKey(attrs, isPrivate, built); rv != CKR_OK) {
    return rv;
  }
  out = keyCache().insert(hash, content.b, std::move(built));
  return CKR_OK;
}

void rsaKeyCacheClear() { keyCache().clear(); }

size_t rsaModulusBytes(EVP_PKEY* key) { return static_cast<size_t>(EVP_PKEY_get_size(key)); }

CK_RV rsaGenerate(CK_ULONG bits, ByteView exponent, AttrMap& pub, AttrMap& priv) {
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(libCtx(), "RSA", nullptr));
  Bn e = toBn(exponent);
  if (!ctx || !e || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1 ||
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) != 1) {
    return CKR_TEMPLATE_INCONSISTENT;
  }
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &raw) != 1) {
    return CKR_FUNCTION_FAILED;
  }
  Pkey key(raw, PkeyFree{});
  for (const RsaComponent& c : kRsaComponents) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), c.param, &bn) != 1) {
      return CKR_FUNCTION_FAILED;
    }
    Bn holder(bn);
    priv[c.attr] = fromBn(bn);
    if (!c.privateOnly) {
      pub[c.attr] = priv[c.attr];
    }
  }
  return CKR_OK;
}

// One raw RSA operation on `in` with the key's context: `init` and the padding (PKCS#1 v1.5
// or none), then `run` into a k-byte output; its failure is `runFailed`.
using RsaInit = int (*)(EVP_PKEY_CTX*);
using RsaOp = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);
CK_RV rsaRun(EVP_PKEY* key, bool pkcs, RsaInit init, RsaOp run, CK_RV runFailed, size_t k,
             ByteView in, Bytes& out) {
  PkeyCtx ctx = keyCtx(key);
  if (!ctx) {
    return CKR_HOST_MEMORY;
  }
  const int padding = pkcs ? RSA_PKCS1_PADDING : RSA_NO_PADDING;
  out.resize(k);
  size_t len = k;
  if (init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1) {
    return CKR_DEVICE_ERROR;
  }
  if (run(ctx.get(), out.data(), &len, in.data(), in.size()) != 1) {
    return runFailed;
  }
  out.resize(len);
  return CKR_OK;
}

CK_RV rsaPrivate(EVP_PKEY* key, bool pkcs, bool decrypt, ByteView in, Bytes& out) {
  const size_t k = rsaModulusBytes(key);
  Bytes padded;
  if (!pkcs) {
    if (!padRaw(in, k, padded)) {
      return decrypt ? CKR_ENCRYPTED_DATA_LEN_RANGE : CKR_DATA_LEN_RANGE;
    }
    in = padded;
  } else if (decrypt ? in.size() != k : in.size() + 11 > k) {
    return decrypt ? CKR_ENCRYPTED_DATA_LEN_RANGE : CKR_DATA_LEN_RANGE;
  }
  if (decrypt) {
    return rsaRun(key, pkcs, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, CKR_ENCRYPTED_DATA_INVALID, k,
                  in, out);
  }
  return rsaRun(key, pkcs, EVP_PKEY_sign_init, EVP_PKEY_sign,
                pkcs ? CKR_FUNCTION_FAILED : CKR_DATA_INVALID, k, in, out);
}

CK_RV rsaPublic(EVP_PKEY* key, bool pkcs, bool verify, ByteView in, Bytes& out) {
  const size_t k = rsaModulusBytes(key);
  Bytes padded;
  if (verify) {
    if (in.size() != k) {
      return CKR_SIGNATURE_LEN_RANGE;
    }
  } else if (!pkcs) {
    if (!padRaw(in, k, padded)) {
      return CKR_DATA_LEN_RANGE;
    }
    in = padded;
  } else if (in.size() + 11 > k) {
    return CKR_DATA_LEN_RANGE;
  }
  if (verify) {
    // Recovers what was signed: the padded-off block (PKCS#1) or the whole integer (raw).
    return rsaRun(key, pkcs, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover,
                  CKR_SIGNATURE_INVALID, k, in, out);
  }
  return rsaRun(key, pkcs, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, CKR_DATA_INVALID, k, in, out);
}

size_t cipherKeyLength(CipherAlg alg) {
  switch (alg) {
    case CipherAlg::Des:
      return 8;
    case CipherAlg::Des3:
      return 24;
    case CipherAlg::Idea:
      return 16;
    default:
      return 0;
  }
}

CK_RV cbcPad(CipherAlg alg, bool encrypt, ByteView key, ByteView iv, ByteView in, Bytes& out) {
  if (!encrypt && (in.empty() || in.size() % 8 != 0)) {
    return CKR_ENCRYPTED_DATA_LEN_RANGE;
  }
  switch (alg) {
    case CipherAlg::Des:
      return evpCipher("DES-CBC", encrypt, true, key, iv, in, out);
    case CipherAlg::Des3:
      return evpCipher("DES-EDE3-CBC", encrypt, true, key, iv, in, out);
    case CipherAlg::Idea:
      return ideaCbcPad(encrypt, key, iv, in, out);
    default:
      return CKR_MECHANISM_INVALID;
  }
}

CK_RV desEcb(bool encrypt, ByteView key, ByteView in, Bytes& out) {
  if (in.size() % 8 != 0) {
    return encrypt ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE;
  }
  return evpCipher("DES-ECB", encrypt, false, key, {}, in, out);
}

CK_RV desCbcMac(ByteView key, ByteView iv, ByteView blocks, Bytes& lastBlock) {
  Bytes out;
  if (CK_RV rv = evpCipher("DES-CBC", true, false, key, iv, blocks, out); rv != CKR_OK) {
    return rv;
  }
  if (out.size() < 8) {
    return CKR_DEVICE_ERROR;
  }
  lastBlock.assign(out.end() - 8, out.end());
  return CKR_OK;
}

CK_RV randomBytes(uint8_t* out, size_t len) {
  return RAND_bytes_ex(libCtx(), out, len, 0) == 1 ? CKR_OK : CKR_DEVICE_ERROR;
}

CK_RV randomSecretKey(CipherAlg alg, Bytes& out) {
  out.assign(cipherKeyLength(alg), 0);
  if (CK_RV rv = randomBytes(out.data(), out.size()); rv != CKR_OK) {
    return rv;
  }
  if (alg == CipherAlg::Idea) {
    return CKR_OK;
  }
  // DES keys: odd parity and no weak keys, as libcrypto's DES key generator makes them.
  for (size_t off = 0; off < out.size(); off += 8) {
    DES_cblock block;
    if (DES_random_key(&block) != 1) {
      return CKR_DEVICE_ERROR;
    }
    std::memcpy(out.data() + off, block, 8);
    OPENSSL_cleanse(block, sizeof block);
  }
  return CKR_OK;
}

// PKCS#5 v1.5 PBKDF1: T = Hash^c(P || S); the DES key is T[0..7], the IV T[8..15].
CK_RV pbkdf1(DigestAlg alg, ByteView password, ByteView salt, CK_ULONG iterations,
             uint8_t out[16]) {
  static const uint8_t kEmpty[1] = {0};
  const uint8_t* pw = password.empty() ? kEmpty : password.data();
  const uint8_t* sa = salt.empty() ? kEmpty : salt.data();
  if (iterations == 0 || iterations > 0xffffffffUL) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  try {
    const auto it = static_cast<unsigned int>(iterations);
    if (alg == DigestAlg::Md2) {
      CryptoPP::PKCS5_PBKDF1<CryptoPP::Weak::MD2> kdf;
      kdf.DeriveKey(out, 16, 0, pw, password.size(), sa, salt.size(), it);
    } else {
      CryptoPP::PKCS5_PBKDF1<CryptoPP::Weak::MD5> kdf;
      kdf.DeriveKey(out, 16, 0, pw, password.size(), sa, salt.size(), it);
    }
  } catch (const CryptoPP::Exception&) {
    return CKR_FUNCTION_FAILED;
  }
  return CKR_OK;
}

namespace {

void freeAnySeq(ASN1_SEQUENCE_ANY* s) { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
using AnySeq = std::unique_ptr<ASN1_SEQUENCE_ANY, Deleter<ASN1_SEQUENCE_ANY, freeAnySeq>>;

// Bytes left after the first DER element may only be block padding, and only when allowed.
bool tailOk(ByteView der, const unsigned char* end, bool blockPadded) {
  const auto rest = static_cast<size_t>(der.data() + der.size() - end);
  return rest <= (blockPadded ? 7u : 0u);
}

// PKCS#8 (RFC 5208):
//   PrivateKeyInfo ::= SEQUENCE { version INTEGER, privateKeyAlgorithm AlgorithmIdentifier,
//                                 privateKey OCTET STRING, attributes [0] IMPLICIT ... OPTIONAL }
EVP_PKEY* fromPkcs8(ByteView der, bool blockPadded) {
  const unsigned char* p = der.data();
  P8Info info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
  if (!info || !tailOk(der, p, blockPadded)) {
    return nullptr;
  }
  return EVP_PKCS82PKEY_ex(info.get(), libCtx(), nullptr);
}

// The certificate library's import form:
//   SEQUENCE { version INTEGER (1), algorithm OBJECT IDENTIFIER (rsaEncryption),
//              privateKey OCTET STRING (RSAPrivateKey DER) }
// The OID stands bare in the SEQUENCE, without an AlgorithmIdentifier around it.
EVP_PKEY* fromImportForm(ByteView der, bool blockPadded) {
  const unsigned char* p = der.data();
  AnySeq seq(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, static_cast<long>(der.size())));
  if (!seq || !tailOk(der, p, blockPadded) || sk_ASN1_TYPE_num(seq.get()) != 3) {
    return nullptr;
  }
  const ASN1_TYPE* version = sk_ASN1_TYPE_value(seq.get(), 0);
  const ASN1_TYPE* alg = sk_ASN1_TYPE_value(seq.get(), 1);
  const ASN1_TYPE* key = sk_ASN1_TYPE_value(seq.get(), 2);
  int64_t v = -1;
  if (version->type != V_ASN1_INTEGER || ASN1_INTEGER_get_int64(&v, version->value.integer) != 1 ||
      (v != 0 && v != 1) || alg->type != V_ASN1_OBJECT ||
      OBJ_obj2nid(alg->value.object) != NID_rsaEncryption || key->type != V_ASN1_OCTET_STRING) {
    return nullptr;
  }
  const ASN1_OCTET_STRING* os = key->value.octet_string;
  const unsigned char* q = ASN1_STRING_get0_data(os);
  const unsigned char* end = q + ASN1_STRING_length(os);
  EVP_PKEY* pkey =
      d2i_PrivateKey_ex(EVP_PKEY_RSA, nullptr, &q, ASN1_STRING_length(os), libCtx(), nullptr);
  if (pkey != nullptr && q != end) {
    EVP_PKEY_free(pkey);
    return nullptr;
  }
  return pkey;
}

}  // namespace

// Reads a wrapped RSA private key (PKCS#8 or the library's import form) into its eight
// components.
CK_RV parsePkcs8Rsa(ByteView der, bool blockPadded, AttrMap& priv) {
  EVP_PKEY* raw = fromPkcs8(der, blockPadded);
  if (raw == nullptr) {
    raw = fromImportForm(der, blockPadded);
  }
  if (raw == nullptr) {
    return CKR_WRAPPED_KEY_INVALID;
  }
  Pkey key(raw, PkeyFree{});
  if (EVP_PKEY_get_base_id(raw) != EVP_PKEY_RSA) {
    return CKR_WRAPPED_KEY_INVALID;
  }
  for (const RsaComponent& c : kRsaComponents) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(raw, c.param, &bn) != 1) {
      return CKR_WRAPPED_KEY_INVALID;
    }
    Bn holder(bn);
    priv[c.attr] = fromBn(bn);
  }
  return CKR_OK;
}

}  // namespace rypkcs11
