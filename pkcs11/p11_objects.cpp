// Objects: the attribute table, template checks, and the object manager that hands out
// integer handles for session and token objects.
#include <algorithm>
#include <cstring>

#include "p11_internal.h"

namespace rypkcs11 {
namespace {

enum class AttrKind : uint8_t { Ulong, Bool, Bytes };

// The attributes the token knows. `sensitive`: a key component whose reading CKA_SENSITIVE
// and CKA_EXTRACTABLE govern. `settable`: may appear in a caller's template.
struct AttrRow {
  CK_ATTRIBUTE_TYPE type;
  AttrKind kind;
  bool sensitive;
  bool settable;
};
constexpr AttrRow kAttrs[] = {
    {CKA_CLASS, AttrKind::Ulong, false, true},
    {CKA_TOKEN, AttrKind::Bool, false, true},
    {CKA_PRIVATE, AttrKind::Bool, false, true},
    {CKA_LABEL, AttrKind::Bytes, false, true},
    {CKA_VALUE, AttrKind::Bytes, true, true},
    {CKA_KEY_TYPE, AttrKind::Ulong, false, true},
    {CKA_SUBJECT, AttrKind::Bytes, false, true},
    {CKA_ID, AttrKind::Bytes, false, true},
    {CKA_SENSITIVE, AttrKind::Bool, false, true},
    {CKA_ENCRYPT, AttrKind::Bool, false, true},
    {CKA_DECRYPT, AttrKind::Bool, false, true},
    {CKA_WRAP, AttrKind::Bool, false, true},
    {CKA_UNWRAP, AttrKind::Bool, false, true},
    {CKA_SIGN, AttrKind::Bool, false, true},
    {CKA_SIGN_RECOVER, AttrKind::Bool, false, true},
    {CKA_VERIFY, AttrKind::Bool, false, true},
    {CKA_VERIFY_RECOVER, AttrKind::Bool, false, true},
    {CKA_DERIVE, AttrKind::Bool, false, true},
    {CKA_MODULUS, AttrKind::Bytes, false, true},
    {CKA_MODULUS_BITS, AttrKind::Ulong, false, true},
    {CKA_PUBLIC_EXPONENT, AttrKind::Bytes, false, true},
    {CKA_PRIVATE_EXPONENT, AttrKind::Bytes, true, true},
    {CKA_PRIME_1, AttrKind::Bytes, true, true},
    {CKA_PRIME_2, AttrKind::Bytes, true, true},
    {CKA_EXPONENT_1, AttrKind::Bytes, true, true},
    {CKA_EXPONENT_2, AttrKind::Bytes, true, true},
    {CKA_COEFFICIENT, AttrKind::Bytes, true, true},
    {CKA_VALUE_LEN, AttrKind::Ulong, false, true},
    {CKA_EXTRACTABLE, AttrKind::Bool, false, true},
    {CKA_LOCAL, AttrKind::Bool, false, false},
    {CKA_NEVER_EXTRACTABLE, AttrKind::Bool, false, false},
    {CKA_ALWAYS_SENSITIVE, AttrKind::Bool, false, false},
    {CKA_MODIFIABLE, AttrKind::Bool, false, true},
    {CKA_ALWAYS_AUTHENTICATE, AttrKind::Bool, false, true},
};

const AttrRow* findAttr(CK_ATTRIBUTE_TYPE t) {
  for (const AttrRow& r : kAttrs) {
    if (r.type == t) {
      return &r;
    }
  }
  return nullptr;
}

// Usage flags and their defaults by class: a key does what its class can do unless the
// template says otherwise.
struct UsageDefault {
  CK_OBJECT_CLASS cls;
  CK_ATTRIBUTE_TYPE attr;
  bool value;
};
constexpr UsageDefault kUsage[] = {
    {CKO_PRIVATE_KEY, CKA_SIGN, true},
    {CKO_PRIVATE_KEY, CKA_DECRYPT, true},
    {CKO_PRIVATE_KEY, CKA_UNWRAP, true},
    {CKO_PRIVATE_KEY, CKA_SIGN_RECOVER, false},
    {CKO_PRIVATE_KEY, CKA_DERIVE, false},
    {CKO_PUBLIC_KEY, CKA_VERIFY, true},
    {CKO_PUBLIC_KEY, CKA_ENCRYPT, true},
    {CKO_PUBLIC_KEY, CKA_WRAP, true},
    {CKO_PUBLIC_KEY, CKA_VERIFY_RECOVER, false},
    {CKO_PUBLIC_KEY, CKA_DERIVE, false},
    {CKO_SECRET_KEY, CKA_ENCRYPT, true},
    {CKO_SECRET_KEY, CKA_DECRYPT, true},
    {CKO_SECRET_KEY, CKA_SIGN, true},
    {CKO_SECRET_KEY, CKA_VERIFY, true},
    {CKO_SECRET_KEY, CKA_WRAP, true},
    {CKO_SECRET_KEY, CKA_UNWRAP, true},
    {CKO_SECRET_KEY, CKA_DERIVE, false},
};

// Which attributes a class may carry beyond the common ones.
bool allowedFor(CK_OBJECT_CLASS cls, CK_ATTRIBUTE_TYPE t) {
  switch (t) {
    case CKA_CLASS:
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_LABEL:
    case CKA_MODIFIABLE:
    case CKA_KEY_TYPE:
    case CKA_ID:
    case CKA_DERIVE:
    case CKA_LOCAL:
      return true;
    case CKA_MODULUS:
    case CKA_PUBLIC_EXPONENT:
    case CKA_SUBJECT:
      return cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY;
    case CKA_MODULUS_BITS:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
      return cls == CKO_PUBLIC_KEY || (t == CKA_VERIFY && cls == CKO_SECRET_KEY);
    case CKA_ENCRYPT:
    case CKA_WRAP:
      return cls == CKO_PUBLIC_KEY || cls == CKO_SECRET_KEY;
    case CKA_PRIVATE_EXPONENT:
    case CKA_PRIME_1:
    case CKA_PRIME_2:
    case CKA_EXPONENT_1:
    case CKA_EXPONENT_2:
    case CKA_COEFFICIENT:
    case CKA_SIGN_RECOVER:
    case CKA_ALWAYS_AUTHENTICATE:
      return cls == CKO_PRIVATE_KEY;
    case CKA_SIGN:
    case CKA_DECRYPT:
    case CKA_UNWRAP:
    case CKA_SENSITIVE:
    case CKA_EXTRACTABLE:
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
      return cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY;
    case CKA_VALUE:
    case CKA_VALUE_LEN:
      return cls == CKO_SECRET_KEY;
    default:
      return false;
  }
}

CipherAlg cipherOf(CK_KEY_TYPE kt) {
  switch (kt) {
    case CKK_DES:
      return CipherAlg::Des;
    case CKK_DES3:
      return CipherAlg::Des3;
    case CKK_IDEA:
      return CipherAlg::Idea;
    default:
      return CipherAlg::None;
  }
}

CK_RV checkRsa(Object& obj, Origin origin) {
  const bool priv = obj.cls == CKO_PRIVATE_KEY;
  if (attrFind(obj.attrs, CKA_MODULUS) == nullptr ||
      attrFind(obj.attrs, CKA_PUBLIC_EXPONENT) == nullptr ||
      (priv && attrFind(obj.attrs, CKA_PRIVATE_EXPONENT) == nullptr)) {
    return CKR_TEMPLATE_INCOMPLETE;
  }
  if (origin == Origin::Created && !priv && attrFind(obj.attrs, CKA_MODULUS_BITS) != nullptr) {
    return CKR_TEMPLATE_INCONSISTENT;  // C_CreateObject: the modulus fixes its size
  }
  if (CK_RV rv = rsaKeyFromAttrs(obj.attrs, priv, obj.rsa); rv != CKR_OK) {
    return rv;
  }
  if (!priv) {
    obj.attrs[CKA_MODULUS_BITS] = ulongBytes(rsaModulusBytes(obj.rsa.get()) * 8);
  }
  return CKR_OK;
}

}  // namespace

Bytes ulongBytes(CK_ULONG v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

Bytes boolBytes(bool v) { return Bytes{static_cast<uint8_t>(v ? CK_TRUE : CK_FALSE)}; }

const Bytes* attrFind(const AttrMap& m, CK_ATTRIBUTE_TYPE t) {
  auto it = m.find(t);
  return it == m.end() ? nullptr : &it->second;
}

bool attrUlong(const AttrMap& m, CK_ATTRIBUTE_TYPE t, CK_ULONG& out) {
  const Bytes* b = attrFind(m, t);
  if (b == nullptr || b->size() != sizeof(CK_ULONG)) {
    return false;
  }
  std::memcpy(&out, b->data(), sizeof out);
  return true;
}

bool attrBool(const AttrMap& m, CK_ATTRIBUTE_TYPE t, bool dflt) {
  const Bytes* b = attrFind(m, t);
  return (b == nullptr || b->size() != 1) ? dflt : (*b)[0] != CK_FALSE;
}

bool isSensitiveAttr(CK_ATTRIBUTE_TYPE t) {
  const AttrRow* r = findAttr(t);
  return r != nullptr && r->sensitive;
}

ByteView Object::value(CK_ATTRIBUTE_TYPE t) const {
  const Bytes* b = attrFind(attrs, t);
  return b == nullptr ? ByteView{} : ByteView{*b};
}

CK_RV parseTemplate(const CK_ATTRIBUTE* tmpl, CK_ULONG count, AttrMap& out) {
  out.clear();
  for (CK_ULONG i = 0; i < count; ++i) {
    const CK_ATTRIBUTE& a = tmpl[i];
    const AttrRow* row = findAttr(a.type);
    if (row == nullptr) {
      return CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (!row->settable) {
      return CKR_ATTRIBUTE_READ_ONLY;
    }
    if ((a.pValue == nullptr && a.ulValueLen != 0) ||
        (row->kind == AttrKind::Ulong && a.ulValueLen != sizeof(CK_ULONG)) ||
        (row->kind == AttrKind::Bool && a.ulValueLen != 1)) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    const auto* p = static_cast<const uint8_t*>(a.pValue);
    if (!out.emplace(a.type, Bytes(p, p + a.ulValueLen)).second) {
      return CKR_TEMPLATE_INCONSISTENT;
    }
  }
  return CKR_OK;
}

CK_RV completeObject(Object& obj, Origin origin) {
  AttrMap& a = obj.attrs;
  CK_ULONG cls = 0;
  CK_ULONG kt = 0;
  if (!attrUlong(a, CKA_CLASS, cls) || !attrUlong(a, CKA_KEY_TYPE, kt)) {
    return CKR_TEMPLATE_INCOMPLETE;
  }
  if (cls != CKO_PRIVATE_KEY && cls != CKO_PUBLIC_KEY && cls != CKO_SECRET_KEY) {
    return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  for (const auto& [type, value] : a) {
    if (!allowedFor(cls, type)) {
      return CKR_TEMPLATE_INCONSISTENT;
    }
  }
  obj.cls = cls;
  obj.keyType = kt;
  if (cls == CKO_SECRET_KEY) {
    const size_t need = cipherKeyLength(cipherOf(kt));
    const Bytes* v = attrFind(a, CKA_VALUE);
    if (need == 0) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    if (v == nullptr) {
      return CKR_TEMPLATE_INCOMPLETE;
    }
    CK_ULONG len = 0;
    if (v->size() != need || (attrUlong(a, CKA_VALUE_LEN, len) && len != need)) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    a.erase(CKA_VALUE_LEN);  // fixed-length key types do not carry it
  } else {
    if (kt != CKK_RSA) {
      return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    if (CK_RV rv = checkRsa(obj, origin); rv != CKR_OK) {
      return rv;
    }
  }
  // Defaults of the storage and key classes; the caller's template wins where it speaks.
  a.try_emplace(CKA_TOKEN, boolBytes(false));
  a.try_emplace(CKA_PRIVATE, boolBytes(false));
  a.try_emplace(CKA_MODIFIABLE, boolBytes(true));
  a.try_emplace(CKA_LABEL);
  a.try_emplace(CKA_ID);
  // A stored object keeps what was recorded about its origin.
  const bool keepOrigin = origin == Origin::Stored;
  auto setOrigin = [&](CK_ATTRIBUTE_TYPE t, bool v) {
    if (keepOrigin) {
      a.try_emplace(t, boolBytes(v));
    } else {
      a[t] = boolBytes(v);
    }
  };
  setOrigin(CKA_LOCAL, origin == Origin::Generated);
  for (const UsageDefault& u : kUsage) {
    if (u.cls == cls) {
      a.try_emplace(u.attr, boolBytes(u.value));
    }
  }
  if (cls != CKO_PUBLIC_KEY) {
    // Key components stay readable unless the template asks otherwise: the library reads
    // generated keys back.
    a.try_emplace(CKA_SENSITIVE, boolBytes(false));
    a.try_emplace(CKA_EXTRACTABLE, boolBytes(true));
    setOrigin(CKA_ALWAYS_SENSITIVE, origin == Origin::Generated && obj.flag(CKA_SENSITIVE));
    setOrigin(CKA_NEVER_EXTRACTABLE, origin == Origin::Generated && !obj.flag(CKA_EXTRACTABLE));
  }
  if (cls == CKO_PRIVATE_KEY) {
    a.try_emplace(CKA_ALWAYS_AUTHENTICATE, boolBytes(false));
  }
  if (cls == CKO_PUBLIC_KEY) {
    a.try_emplace(CKA_SUBJECT);
  }
  return CKR_OK;
}

// ---------------------------------------------------------------------------------------------
// ObjectManager
// ---------------------------------------------------------------------------------------------

CK_RV ObjectManager::load(const std::string& dir) {
  std::vector<std::shared_ptr<Object>> loaded;
  storeLoad(dir, loaded);
  std::lock_guard lock(mu_);
  dir_ = dir;
  for (auto& obj : loaded) {
    if (completeObject(*obj, Origin::Stored) == CKR_OK) {
      insert(std::move(obj));
    }
  }
  return CKR_OK;
}

void ObjectManager::clear() {
  std::lock_guard lock(mu_);
  objects_.clear();
}

CK_OBJECT_HANDLE ObjectManager::insert(std::shared_ptr<Object> obj) {
  const CK_OBJECT_HANDLE h = next_++;
  obj->handle = h;
  objects_.emplace(h, std::move(obj));
  return h;
}

CK_RV ObjectManager::add(std::shared_ptr<Object> obj, CK_OBJECT_HANDLE& handle) {
  std::lock_guard lock(mu_);
  if (obj->isToken()) {
    if (CK_RV rv = storeWrite(dir_, *obj); rv != CKR_OK) {
      return rv;
    }
  }
  handle = insert(std::move(obj));
  return CKR_OK;
}

CK_RV ObjectManager::replaceTokenPair(std::shared_ptr<Object> priv, std::shared_ptr<Object> pub,
                                      CK_OBJECT_HANDLE& privHandle) {
  std::lock_guard lock(mu_);
  // Write both new files before removing anything, so a failure leaves the old pair in place.
  if (CK_RV rv = storeWrite(dir_, *priv); rv != CKR_OK) {
    return rv;
  }
  if (CK_RV rv = storeWrite(dir_, *pub); rv != CKR_OK) {
    storeRemove(dir_, *priv);
    return rv;
  }
  const ByteView privLabel = priv->value(CKA_LABEL);
  const ByteView pubLabel = pub->value(CKA_LABEL);
  for (auto it = objects_.begin(); it != objects_.end();) {
    const Object& o = *it->second;
    const ByteView label = o.value(CKA_LABEL);
    const bool sameLabel = (o.cls == CKO_PRIVATE_KEY && std::ranges::equal(label, privLabel)) ||
                           (o.cls == CKO_PUBLIC_KEY && std::ranges::equal(label, pubLabel));
    if (o.isToken() && o.slot == priv->slot && !privLabel.empty() && sameLabel) {
      storeRemove(dir_, o);
      it = objects_.erase(it);
    } else {
      ++it;
    }
  }
  privHandle = insert(std::move(priv));
  insert(std::move(pub));
  return CKR_OK;
}

ObjectPtr ObjectManager::get(CK_OBJECT_HANDLE h) const {
  std::lock_guard lock(mu_);
  auto it = objects_.find(h);
  return it == objects_.end() ? nullptr : it->second;
}

CK_RV ObjectManager::destroy(CK_OBJECT_HANDLE h) {
  std::lock_guard lock(mu_);
  auto it = objects_.find(h);
  if (it == objects_.end()) {
    return CKR_OBJECT_HANDLE_INVALID;
  }
  if (it->second->isToken()) {
    storeRemove(dir_, *it->second);
  }
  objects_.erase(it);
  return CKR_OK;
}

void ObjectManager::destroySessionObjects(CK_SESSION_HANDLE s) {
  std::lock_guard lock(mu_);
  std::erase_if(objects_, [s](const auto& kv) { return kv.second->owner == s; });
}

std::vector<CK_OBJECT_HANDLE> ObjectManager::match(CK_SLOT_ID slot, const AttrMap& tmpl) const {
  std::lock_guard lock(mu_);
  std::vector<CK_OBJECT_HANDLE> out;
  for (const auto& [h, obj] : objects_) {
    if (obj->slot != slot) {
      continue;
    }
    bool all = true;
    for (const auto& [type, value] : tmpl) {
      const Bytes* have = attrFind(obj->attrs, type);
      all = all && have != nullptr && *have == value;
    }
    if (all) {
      out.push_back(h);
    }
  }
  return out;
}

}  // namespace rypkcs11
