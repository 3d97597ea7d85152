// Mechanisms: one table that C_GetMechanismList/C_GetMechanismInfo list and every *Init call
// dispatches through, and the operations built from it.
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

#include "p11_internal.h"

namespace rypkcs11 {
namespace {

constexpr CK_FLAGS kRsaCipher = CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY;
constexpr CK_ULONG kRsaMin = 512;
constexpr CK_ULONG kRsaMax = 4096;

constexpr MechRow kMechanisms[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, MechKind::RsaKeyPairGen, kRsaMin, kRsaMax, CKF_GENERATE_KEY_PAIR,
     CKK_RSA, DigestAlg::None, CipherAlg::None},
    {CKM_RSA_PKCS, MechKind::RsaPkcs, kRsaMin, kRsaMax, kRsaCipher, CKK_RSA, DigestAlg::None,
     CipherAlg::None},
    {CKM_RSA_X_509, MechKind::RsaRaw, kRsaMin, kRsaMax, kRsaCipher, CKK_RSA, DigestAlg::None,
     CipherAlg::None},
    {CKM_MD2_RSA_PKCS, MechKind::RsaHash, kRsaMin, kRsaMax, CKF_SIGN | CKF_VERIFY, CKK_RSA,
     DigestAlg::Md2, CipherAlg::None},
    {CKM_MD5_RSA_PKCS, MechKind::RsaHash, kRsaMin, kRsaMax, CKF_SIGN | CKF_VERIFY, CKK_RSA,
     DigestAlg::Md5, CipherAlg::None},
    {CKM_SHA1_RSA_PKCS, MechKind::RsaHash, kRsaMin, kRsaMax, CKF_SIGN | CKF_VERIFY, CKK_RSA,
     DigestAlg::Sha1, CipherAlg::None},
    {CKM_DES_KEY_GEN, MechKind::KeyGen, 8, 8, CKF_GENERATE, CKK_DES, DigestAlg::None,
     CipherAlg::Des},
    {CKM_DES_ECB, MechKind::DesEcb, 8, 8, CKF_ENCRYPT | CKF_DECRYPT | CKF_UNWRAP, CKK_DES,
     DigestAlg::None, CipherAlg::Des},
    {CKM_DES_MAC_GENERAL, MechKind::DesMac, 8, 8, CKF_SIGN | CKF_VERIFY, CKK_DES, DigestAlg::None,
     CipherAlg::Des},
    {CKM_DES_CBC_PAD, MechKind::CbcPad, 8, 8, CKF_ENCRYPT | CKF_DECRYPT, CKK_DES, DigestAlg::None,
     CipherAlg::Des},
    {CKM_DES3_KEY_GEN, MechKind::KeyGen, 24, 24, CKF_GENERATE, CKK_DES3, DigestAlg::None,
     CipherAlg::Des3},
    {CKM_DES3_CBC_PAD, MechKind::CbcPad, 24, 24, CKF_ENCRYPT | CKF_DECRYPT, CKK_DES3,
     DigestAlg::None, CipherAlg::Des3},
    {CKM_SHA256_RSA_PKCS, MechKind::RsaHash, kRsaMin, kRsaMax, CKF_SIGN | CKF_VERIFY, CKK_RSA,
     DigestAlg::Sha256, CipherAlg::None},
    {CKM_SHA384_RSA_PKCS, MechKind::RsaHash, kRsaMin, kRsaMax, CKF_SIGN | CKF_VERIFY, CKK_RSA,
     DigestAlg::Sha384, CipherAlg::None},
    {CKM_SHA512_RSA_PKCS, MechKind::RsaHash, kRsaMin, kRsaMax, CKF_SIGN | CKF_VERIFY, CKK_RSA,
     DigestAlg::Sha512, CipherAlg::None},
    {CKM_IDEA_KEY_GEN, MechKind::KeyGen, 16, 16, CKF_GENERATE, CKK_IDEA, DigestAlg::None,
     CipherAlg::Idea},
    {CKM_IDEA_CBC_PAD, MechKind::CbcPad, 16, 16, CKF_ENCRYPT | CKF_DECRYPT, CKK_IDEA,
     DigestAlg::None, CipherAlg::Idea},
    {CKM_PBE_MD2_DES_CBC, MechKind::Pbe, 8, 8, CKF_GENERATE, CKK_DES, DigestAlg::Md2,
     CipherAlg::Des},
    {CKM_PBE_MD5_DES_CBC, MechKind::Pbe, 8, 8, CKF_GENERATE, CKK_DES, DigestAlg::Md5,
     CipherAlg::Des},
};

ByteView paramBytes(const CK_MECHANISM& m) {
  return {static_cast<const uint8_t*>(m.pParameter), m.pParameter ? m.ulParameterLen : 0};
}

bool noParam(const CK_MECHANISM& m) { return m.pParameter == nullptr && m.ulParameterLen == 0; }

// Checks the parameter of a mechanism used for a key operation (not key generation).
CK_RV checkParam(const MechRow& row, const CK_MECHANISM& m) {
  switch (row.kind) {
    case MechKind::RsaPkcs:
      // An 8-byte parameter is accepted and ignored: callers pass their IV block along.
      return noParam(m) || (m.pParameter != nullptr && m.ulParameterLen == 8)
                 ? CKR_OK
                 : CKR_MECHANISM_PARAM_INVALID;
    case MechKind::CbcPad:
      return m.pParameter != nullptr && m.ulParameterLen == 8 ? CKR_OK
                                                              : CKR_MECHANISM_PARAM_INVALID;
    case MechKind::DesMac: {
      if (m.pParameter == nullptr || m.ulParameterLen != sizeof(MacGeneralParams)) {
        return CKR_MECHANISM_PARAM_INVALID;
      }
      MacGeneralParams len = 0;
      std::memcpy(&len, m.pParameter, sizeof len);
      return len >= 1 && len <= 8 ? CKR_OK : CKR_MECHANISM_PARAM_INVALID;
    }
    default:
      return noParam(m) ? CKR_OK : CKR_MECHANISM_PARAM_INVALID;
  }
}

// The mechanism checks shared by every key operation, in the order the *Init calls report
// them: mechanism known and able to do `use`, parameter, key type and class, key size.
CK_RV checkMechanism(const CK_MECHANISM& mech, const Object& key, CK_FLAGS use,
                     const MechRow*& rowOut) {
  const MechRow* row = findMechanism(mech.mechanism);
  if (row == nullptr || (row->flags & use) == 0) {
    return CKR_MECHANISM_INVALID;
  }
  if (CK_RV rv = checkParam(*row, mech); rv != CKR_OK) {
    return rv;
  }
  if (key.keyType != row->keyType) {
    return CKR_KEY_TYPE_INCONSISTENT;
  }
  if (row->keyType == CKK_RSA) {
    const bool needPrivate = (use & (CKF_SIGN | CKF_DECRYPT | CKF_UNWRAP)) != 0;
    if (key.cls != (needPrivate ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY)) {
      return CKR_KEY_TYPE_INCONSISTENT;
    }
    const size_t bits = rsaModulusBytes(key.rsa.get()) * 8;
    if (bits < row->minKey || bits > row->maxKey) {
      return CKR_KEY_SIZE_RANGE;
    }
  }
  rowOut = row;
  return CKR_OK;
}

// RSA signatures. Hashing mechanisms stream the data into the digest; the bare mechanisms
// collect it, since they sign what they are given.
class RsaSignOp final : public SignOp {
 public:
  RsaSignOp(const MechRow& row, ObjectPtr key) : row_(row), key_(std::move(key)) {
    if (row_.kind == MechKind::RsaHash) {
      digest_ = newDigest(row_.digest);
    }
  }
  bool ready() const { return row_.kind != MechKind::RsaHash || digest_ != nullptr; }

  CK_RV update(ByteView data) override {
    if (digest_) {
      return digest_->update(data) ? CKR_OK : CKR_DEVICE_ERROR;
    }
    data_.insert(data_.end(), data.begin(), data.end());
    return CKR_OK;
  }
  size_t signatureLength() const override { return rsaModulusBytes(key_->rsa.get()); }

  CK_RV sign(Bytes& out) override {
    Bytes block;
    if (CK_RV rv = message(block); rv != CKR_OK) {
      return rv;
    }
    return rsaPrivate(key_->rsa.get(), row_.kind != MechKind::RsaRaw, false, block, out);
  }

  CK_RV verify(ByteView signature) override {
    Bytes block;
    if (CK_RV rv = message(block); rv != CKR_OK) {
      return rv;
    }
    Bytes recovered;
    if (CK_RV rv =
            rsaPublic(key_->rsa.get(), row_.kind != MechKind::RsaRaw, true, signature, recovered);
        rv != CKR_OK) {
      return rv;
    }
    if (row_.kind == MechKind::RsaRaw) {
      // The raw mechanism compares integers: the data as given, left-padded with zeros.
      Bytes padded(recovered.size() > block.size() ? recovered.size() - block.size() : 0, 0);
      padded.insert(padded.end(), block.begin(), block.end());
      block.swap(padded);
    }
    if (recovered.size() != block.size() ||
        CRYPTO_memcmp(recovered.data(), block.data(), block.size()) != 0) {
      return CKR_SIGNATURE_INVALID;
    }
    return CKR_OK;
  }

 private:
  // The bytes that go under the padding: DigestInfo for the hashing mechanisms.
  CK_RV message(Bytes& out) {
    if (!digest_) {
      out = data_;
      return CKR_OK;
    }
    Bytes hash;
    if (!digest_->final(hash)) {
      return CKR_DEVICE_ERROR;
    }
    ByteView prefix = digestInfoPrefix(row_.digest);
    out.assign(prefix.begin(), prefix.end());
    out.insert(out.end(), hash.begin(), hash.end());
    return CKR_OK;
  }

  const MechRow& row_;
  ObjectPtr key_;
  std::unique_ptr<Digest> digest_;
  Bytes data_;
};

// General-length DES-MAC (FIPS 113 CBC-MAC): zero IV, the data padded with zero bytes to a
// whole number of blocks (empty data to one zero block), the first macLen bytes of the last
// cipher block.
class DesMacOp final : public SignOp {
 public:
  DesMacOp(ObjectPtr key, size_t macLen) : key_(std::move(key)), macLen_(macLen) {}

  CK_RV update(ByteView data) override {
    // Whole blocks are folded into the chain as they arrive; only a partial block waits.
    pending_.insert(pending_.end(), data.begin(), data.end());
    const size_t whole = pending_.size() / 8 * 8;
    if (whole == 0) {
      return CKR_OK;
    }
    if (CK_RV rv = fold(ByteView(pending_).first(whole)); rv != CKR_OK) {
      return rv;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(whole));
    return CKR_OK;
  }
  size_t signatureLength() const override { return macLen_; }

  CK_RV sign(Bytes& out) override {
    if (!pending_.empty() || !started_) {
      pending_.resize(8, 0);
      if (CK_RV rv = fold(pending_); rv != CKR_OK) {
        return rv;
      }
    }
    out.assign(chain_.begin(), chain_.begin() + static_cast<ptrdiff_t>(macLen_));
    return CKR_OK;
  }

  CK_RV verify(ByteView signature) override {
    if (signature.size() != macLen_) {
      return CKR_SIGNATURE_LEN_RANGE;
    }
    Bytes mac;
    if (CK_RV rv = sign(mac); rv != CKR_OK) {
      return rv;
    }
    return CRYPTO_memcmp(mac.data(), signature.data(), macLen_) == 0 ? CKR_OK
                                                                     : CKR_SIGNATURE_INVALID;
  }

 private:
  // Continues the CBC chain from the last cipher block (zero IV at the start).
  CK_RV fold(ByteView blocks) {
    if (!started_) {
      chain_.assign(8, 0);
      started_ = true;
    }
    Bytes last;
    if (CK_RV rv = desCbcMac(key_->value(CKA_VALUE), chain_, blocks, last); rv != CKR_OK) {
      return rv;
    }
    chain_.swap(last);
    return CKR_OK;
  }

  ObjectPtr key_;
  size_t macLen_;
  bool started_ = false;
  Bytes chain_;
  Bytes pending_;
};

class RsaCipherOp final : public CipherOp {
 public:
  RsaCipherOp(bool pkcs, bool encrypt, ObjectPtr key)
      : pkcs_(pkcs), encrypt_(encrypt), key_(std::move(key)) {}
  CK_RV run(ByteView in, Bytes& out) override {
    return encrypt_ ? rsaPublic(key_->rsa.get(), pkcs_, false, in, out)
                    : rsaPrivate(key_->rsa.get(), pkcs_, true, in, out);
  }

 private:
  bool pkcs_;
  bool encrypt_;
  ObjectPtr key_;
};

class SecretCipherOp final : public CipherOp {
 public:
  SecretCipherOp(const MechRow& row, bool encrypt, ObjectPtr key, ByteView iv)
      : row_(row), encrypt_(encrypt), key_(std::move(key)), iv_(iv.begin(), iv.end()) {}
  CK_RV run(ByteView in, Bytes& out) override {
    if (row_.kind == MechKind::DesEcb) {
      return desEcb(encrypt_, key_->value(CKA_VALUE), in, out);
    }
    return cbcPad(row_.cipher, encrypt_, key_->value(CKA_VALUE), iv_, in, out);
  }

 private:
  const MechRow& row_;
  bool encrypt_;
  ObjectPtr key_;
  Bytes iv_;
};

}  // namespace

std::span<const MechRow> mechanisms() { return kMechanisms; }

const MechRow* findMechanism(CK_MECHANISM_TYPE type) {
  auto it = std::ranges::find(kMechanisms, type, &MechRow::type);
  return it == std::end(kMechanisms) ? nullptr : &*it;
}

CK_RV makeSignOp(const CK_MECHANISM& mech, const ObjectPtr& key, bool sign,
                 std::unique_ptr<SignOp>& out) {
  const MechRow* row = nullptr;
  if (CK_RV rv = checkMechanism(mech, *key, sign ? CKF_SIGN : CKF_VERIFY, row); rv != CKR_OK) {
    return rv;
  }
  if (row->kind == MechKind::DesMac) {
    MacGeneralParams len = 0;
    std::memcpy(&len, mech.pParameter, sizeof len);
    out = std::make_unique<DesMacOp>(key, len);
    return CKR_OK;
  }
  auto op = std::make_unique<RsaSignOp>(*row, key);
  if (!op->ready()) {
    return CKR_DEVICE_ERROR;
  }
  out = std::move(op);
  return CKR_OK;
}

CK_RV makeCipherOp(const CK_MECHANISM& mech, const ObjectPtr& key, bool encrypt,
                   std::unique_ptr<CipherOp>& out) {
  const MechRow* row = nullptr;
  if (CK_RV rv = checkMechanism(mech, *key, encrypt ? CKF_ENCRYPT : CKF_DECRYPT, row);
      rv != CKR_OK) {
    return rv;
  }
  switch (row->kind) {
    case MechKind::RsaPkcs:
    case MechKind::RsaRaw:
      out = std::make_unique<RsaCipherOp>(row->kind == MechKind::RsaPkcs, encrypt, key);
      return CKR_OK;
    case MechKind::DesEcb:
    case MechKind::CbcPad:
      out = std::make_unique<SecretCipherOp>(*row, encrypt, key, paramBytes(mech));
      return CKR_OK;
    default:
      return CKR_MECHANISM_INVALID;
  }
}

// C_GenerateKey for the key generation and PBE mechanisms. The template may name the class
// and key type, which must agree with the mechanism; the value comes from the mechanism.
CK_RV generateSecretKey(const CK_MECHANISM& mech, AttrMap& attrs) {
  const MechRow* row = findMechanism(mech.mechanism);
  if (row == nullptr || (row->flags & CKF_GENERATE) == 0) {
    return CKR_MECHANISM_INVALID;
  }
  CK_ULONG v = 0;
  if ((attrUlong(attrs, CKA_CLASS, v) && v != CKO_SECRET_KEY) ||
      (attrUlong(attrs, CKA_KEY_TYPE, v) && v != row->keyType) ||
      attrFind(attrs, CKA_VALUE) != nullptr) {
    return CKR_TEMPLATE_INCONSISTENT;
  }
  Bytes value;
  if (row->kind == MechKind::Pbe) {
    if (mech.pParameter == nullptr || mech.ulParameterLen != sizeof(PbeParams)) {
      return CKR_MECHANISM_PARAM_INVALID;
    }
    PbeParams p{};
    std::memcpy(&p, mech.pParameter, sizeof p);
    if ((p.pPassword == nullptr && p.ulPasswordLen != 0) ||
        (p.pSalt == nullptr && p.ulSaltLen != 0)) {
      return CKR_MECHANISM_PARAM_INVALID;
    }
    uint8_t derived[16];
    if (CK_RV rv = pbkdf1(row->digest, ByteView(p.pPassword, p.ulPasswordLen),
                          ByteView(p.pSalt, p.ulSaltLen), p.ulIteration, derived);
        rv != CKR_OK) {
      return rv;
    }
    value.assign(derived, derived + 8);
    // C_GenerateKey with a PBE mechanism: the IV goes back through pInitVector.
    if (p.pInitVector != nullptr) {
      std::memcpy(p.pInitVector, derived + 8, 8);
    }
    OPENSSL_cleanse(derived, sizeof derived);
  } else {
    if (!noParam(mech)) {
      return CKR_MECHANISM_PARAM_INVALID;
    }
    if (CK_RV rv = randomSecretKey(row->cipher, value); rv != CKR_OK) {
      return rv;
    }
  }
  attrs[CKA_CLASS] = ulongBytes(CKO_SECRET_KEY);
  attrs[CKA_KEY_TYPE] = ulongBytes(row->keyType);
  attrs[CKA_VALUE] = std::move(value);
  return CKR_OK;
}

// C_GenerateKeyPair with CKM_RSA_PKCS_KEY_PAIR_GEN: CKA_MODULUS_BITS from the public template
// (required), CKA_PUBLIC_EXPONENT from it when given, else 65537.
CK_RV generateRsaPair(const CK_MECHANISM& mech, AttrMap& pub, AttrMap& priv) {
  const MechRow* row = findMechanism(mech.mechanism);
  if (row == nullptr || (row->flags & CKF_GENERATE_KEY_PAIR) == 0) {
    return CKR_MECHANISM_INVALID;
  }
  if (!noParam(mech)) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  CK_ULONG v = 0;
  if ((attrUlong(pub, CKA_CLASS, v) && v != CKO_PUBLIC_KEY) ||
      (attrUlong(priv, CKA_CLASS, v) && v != CKO_PRIVATE_KEY) ||
      (attrUlong(pub, CKA_KEY_TYPE, v) && v != CKK_RSA) ||
      (attrUlong(priv, CKA_KEY_TYPE, v) && v != CKK_RSA) || attrFind(pub, CKA_MODULUS) != nullptr ||
      attrFind(priv, CKA_MODULUS) != nullptr) {
    return CKR_TEMPLATE_INCONSISTENT;
  }
  CK_ULONG bits = 0;
  if (!attrUlong(pub, CKA_MODULUS_BITS, bits)) {
    return CKR_TEMPLATE_INCOMPLETE;
  }
  if (bits < row->minKey || bits > row->maxKey) {
    return CKR_KEY_SIZE_RANGE;
  }
  static const uint8_t kF4[] = {0x01, 0x00, 0x01};
  const Bytes* e = attrFind(pub, CKA_PUBLIC_EXPONENT);
  const ByteView exponent = e != nullptr ? ByteView(*e) : ByteView(kF4);
  AttrMap genPub;
  AttrMap genPriv;
  if (CK_RV rv = rsaGenerate(bits, exponent, genPub, genPriv); rv != CKR_OK) {
    return rv;
  }
  pub.erase(CKA_MODULUS_BITS);  // derived from the modulus again when the object is built
  for (auto& [t, value] : genPub) {
    pub[t] = value;
  }
  for (auto& [t, value] : genPriv) {
    priv[t] = std::move(value);
  }
  pub[CKA_CLASS] = ulongBytes(CKO_PUBLIC_KEY);
  priv[CKA_CLASS] = ulongBytes(CKO_PRIVATE_KEY);
  pub[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
  priv[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
  return CKR_OK;
}

}  // namespace rypkcs11
