// Certificates against real peers.
//
// Decoding: every certificate of the system CA bundle and of the corpus is
// read by libcrypto (d2i_X509 and its getters) and by RyCert_DecodeCert and
// the queries, and the two must agree field by field. A certificate we
// refuse must be one libcrypto refuses too, or one of kNamedRefusals.
//
// Encoding: certificates built here (a CA certificate signed by itself, a
// leaf signed by it, with each extension the setters produce, alone and all
// together) must be parsed by `openssl x509`, accepted by `openssl verify`,
// loaded by Python's cryptography package (a strict DER parser) with every
// extension read back as set, and read back by our decoder as libcrypto
// reads them.
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>

#include "cert_util.h"

namespace {

using namespace rytest;

// The CRL distribution point iterator, to its end.
std::vector<Bytes> distributionPoints(CertCtx *ctx) {
  std::vector<Bytes> out;
  for (Bytes b; out.size() < 1000 && !(b = getChar(ctx, CERTEX_CRLDIST_FULLNAME)).empty();) {
    out.push_back(b);
  }
  return out;
}

// ------------------------------------------------- field-by-field comparison

// Name components by query offset (country .. telephone) and libcrypto
// NID; the decoder gives codes only to the first seven, so postal address,
// postal code and telephone number read empty from a decoded certificate.
struct NameField {
  int32_t offset;  // from CERT_ISSUER_COUNTRYNAME / CERT_SUBJECT_COUNTRYNAME
  int nid;
  const char *label;  // in the DN text; nullptr when not shown
  bool decoded;
};
const NameField kNameFields[] = {
    {0, NID_countryName, "C", true},
    {1, NID_stateOrProvinceName, "S", true},
    {2, NID_localityName, "L", true},
    {3, NID_organizationName, "O", true},
    {4, NID_organizationalUnitName, "OU", true},
    {5, NID_commonName, "CN", true},
    {6, NID_pkcs9_emailAddress, "E", true},
    {7, NID_postalAddress, nullptr, false},
    {8, NID_postalCode, nullptr, false},
    {9, NID_telephoneNumber, nullptr, false},
};
const char *const kDnOrder[] = {"C", "O", "OU", "CN", "E", "S", "L"};

void compareName(CertCtx *ctx, const X509_NAME *name, int32_t firstId, int32_t dnId) {
  // One node per RDN: its first attribute.
  std::vector<const X509_NAME_ENTRY *> rdnFirst;
  for (int i = 0, lastSet = -1; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY *e = X509_NAME_get_entry(name, i);
    if (X509_NAME_ENTRY_set(e) != lastSet) {
      rdnFirst.push_back(e);
      lastSet = X509_NAME_ENTRY_set(e);
    }
  }
  std::map<std::string, Bytes> lastOf;
  for (const NameField &f : kNameFields) {
    Bytes first;
    bool found = false;
    for (const X509_NAME_ENTRY *e : rdnFirst) {
      if (OBJ_obj2nid(X509_NAME_ENTRY_get_object(e)) == f.nid) {
        if (!found) {
          first = strBytes(X509_NAME_ENTRY_get_data(e));
          found = true;
        }
        if (f.label != nullptr) {
          lastOf[f.label] = strBytes(X509_NAME_ENTRY_get_data(e));
        }
      }
    }
    EXPECT_EQ(toHex(getChar(ctx, firstId + f.offset)), f.decoded ? toHex(first) : "")
        << "name component " << f.nid;
  }
  std::string text;
  for (const char *label : kDnOrder) {
    if (auto it = lastOf.find(label); it != lastOf.end()) {
      text += (text.empty() ? "" : ",") + std::string(label) + "=" +
              std::string(it->second.begin(), it->second.end());
    }
  }
  const Bytes dn = getChar(ctx, dnId);
  EXPECT_EQ(std::string(dn.begin(), dn.end()), text);
}

// The extended key usage purposes and their flags in the 4-byte field.
struct Purpose {
  int nid;
  size_t byte;
  uint8_t flag;
};
const Purpose kPurposes[] = {
    {NID_server_auth, 0, 0x40},   {NID_client_auth, 0, 0x80},    {NID_code_sign, 1, 0x01},
    {NID_email_protect, 1, 0x02}, {NID_ipsecEndSystem, 1, 0x04}, {NID_ipsecTunnel, 1, 0x08},
    {NID_ipsecUser, 1, 0x10},     {NID_time_stamp, 1, 0x20},
};

// The criticality byte of a query (length 1) says what libcrypto says.
void expectCritical(CertCtx *ctx, int32_t id, X509_EXTENSION *e) {
  const Bytes b = getChar(ctx, id);
  ASSERT_EQ(b.size(), 1u) << "id " << id;
  EXPECT_EQ(b[0] != 0, X509_EXTENSION_get_critical(e) != 0) << "id " << id;
}

void compareExtensions(CertCtx *ctx, const X509 *x) {
  std::map<int, X509_EXTENSION *> decoded;  // first occurrence of the six
  std::vector<Priv> others;  // the private ones, criticality as 0 or 1
  for (int i = 0; i < X509_get_ext_count(x); ++i) {
    X509_EXTENSION *e = X509_get_ext(x, i);
    const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(e));
    switch (nid) {
      case NID_basic_constraints:
      case NID_authority_key_identifier:
      case NID_subject_key_identifier:
      case NID_key_usage:
      case NID_ext_key_usage:
      case NID_crl_distribution_points:
        decoded.emplace(nid, e);  // a repeated one is neither decoded nor kept
        break;
      default:
        others.push_back({objContent(X509_EXTENSION_get_object(e)),
                            X509_EXTENSION_get_critical(e) != 0,
                            strBytes(X509_EXTENSION_get_data(e))});
    }
  }
  const auto has = [&](int nid) { return decoded.count(nid) != 0; };
  const auto value = [&](int nid) { return X509V3_EXT_d2i(decoded.at(nid)); };

  if (has(NID_basic_constraints)) {
    expectCritical(ctx, CERTEX_BASICCONSTRAINTS_CRITICAL, decoded.at(NID_basic_constraints));
    auto *bc = static_cast<BASIC_CONSTRAINTS *>(value(NID_basic_constraints));
    ASSERT_NE(bc, nullptr) << "libcrypto cannot read basicConstraints";
    const Bytes ca = getChar(ctx, CERTEX_AUTHORITY);
    ASSERT_EQ(ca.size(), 1u);
    EXPECT_EQ(ca[0] != 0, bc->ca != 0);
    EXPECT_EQ(toHex(getChar(ctx, CERTEX_PATHLENCONSTRAINT)),
              bc->pathlen != nullptr ? toHex(integerContent(bc->pathlen)) : "");
    BASIC_CONSTRAINTS_free(bc);
  } else {
    for (int32_t id :
         {CERTEX_BASICCONSTRAINTS_CRITICAL, CERTEX_AUTHORITY, CERTEX_PATHLENCONSTRAINT}) {
      EXPECT_TRUE(getChar(ctx, id).empty()) << "id " << id;
    }
  }

  Bytes akiKeyId;
  if (has(NID_authority_key_identifier)) {
    auto *aki = static_cast<AUTHORITY_KEYID *>(value(NID_authority_key_identifier));
    ASSERT_NE(aki, nullptr) << "libcrypto cannot read authorityKeyIdentifier";
    akiKeyId = aki->keyid != nullptr ? strBytes(aki->keyid) : Bytes{};
    AUTHORITY_KEYID_free(aki);
  }
  EXPECT_EQ(toHex(getChar(ctx, CERTEX_AUTHORITYKEYIDENTIFIER)), toHex(akiKeyId));

  Bytes ski;
  if (has(NID_subject_key_identifier)) {
    auto *s = static_cast<ASN1_OCTET_STRING *>(value(NID_subject_key_identifier));
    ASSERT_NE(s, nullptr) << "libcrypto cannot read subjectKeyIdentifier";
    ski = strBytes(s);
    ASN1_OCTET_STRING_free(s);
  }
  EXPECT_EQ(toHex(getChar(ctx, CERTEX_SUBJECTKEYIDENTIFIER)), toHex(ski));

  if (has(NID_key_usage)) {
    expectCritical(ctx, CERTEX_KEYUSAGE_CRITICAL, decoded.at(NID_key_usage));
    // The BIT STRING's whole content, unused-bits octet first.
    const auto bits = elementOf(strBytes(X509_EXTENSION_get_data(decoded.at(NID_key_usage))));
    ASSERT_TRUE(bits.has_value());
    const Bytes ours = getChar(ctx, CERTEX_KEYUSAGE);
    EXPECT_EQ(toHex(ours), toHex(bits->content));
    auto *ku = static_cast<ASN1_BIT_STRING *>(value(NID_key_usage));
    ASSERT_NE(ku, nullptr) << "libcrypto cannot read keyUsage";
    for (int bit = 0; bit < 9; ++bit) {
      const size_t byte = 1 + size_t(bit) / 8;
      const bool set = byte < ours.size() && (ours[byte] & (0x80 >> (bit % 8))) != 0;
      EXPECT_EQ(set, ASN1_BIT_STRING_get_bit(ku, bit) != 0) << "key usage bit " << bit;
    }
    ASN1_BIT_STRING_free(ku);
  } else {
    EXPECT_TRUE(getChar(ctx, CERTEX_KEYUSAGE).empty());
    EXPECT_TRUE(getChar(ctx, CERTEX_KEYUSAGE_CRITICAL).empty());
  }

  if (has(NID_ext_key_usage)) {
    auto *eku = static_cast<EXTENDED_KEY_USAGE *>(value(NID_ext_key_usage));
    ASSERT_NE(eku, nullptr) << "libcrypto cannot read extKeyUsage";
    Bytes field(4, 0);
    for (int i = 0; i < sk_ASN1_OBJECT_num(eku); ++i) {
      const int nid = OBJ_obj2nid(sk_ASN1_OBJECT_value(eku, i));
      for (const Purpose &p : kPurposes) {
        if (p.nid == nid) {
          field[p.byte] |= p.flag;
        }
      }
    }
    EXTENDED_KEY_USAGE_free(eku);
    EXPECT_EQ(toHex(getChar(ctx, CERTEX_EXTKEY_USAGE)), toHex(field));
  } else {
    EXPECT_TRUE(getChar(ctx, CERTEX_EXTKEY_USAGE).empty());
  }

  // Each point's first name, as encoded, until a point without a name.
  std::vector<Bytes> points;
  if (has(NID_crl_distribution_points)) {
    auto *dps = static_cast<CRL_DIST_POINTS *>(value(NID_crl_distribution_points));
    ASSERT_NE(dps, nullptr) << "libcrypto cannot read cRLDistributionPoints";
    for (int i = 0; i < sk_DIST_POINT_num(dps); ++i) {
      const DIST_POINT_NAME *name = sk_DIST_POINT_value(dps, i)->distpoint;
      if (name == nullptr) {
        break;
      }
      points.push_back(
          name->type == 0
              ? i2dBytes(i2d_GENERAL_NAME, sk_GENERAL_NAME_value(name->name.fullname, 0))
              : i2dBytes(i2d_X509_NAME_ENTRY,
                         sk_X509_NAME_ENTRY_value(name->name.relativename, 0)));
    }
    CRL_DIST_POINTS_free(dps);
  }
  EXPECT_EQ(distributionPoints(ctx), points);

  std::vector<Priv> ours = privates(ctx);
  for (Priv &p : ours) {
    p.critical = p.critical != 0;
  }
  EXPECT_EQ(ours, others);
}

// Every field of our reading `c` against libcrypto's `x` of the same DER.
void compareFields(CertCtx *c, const X509 *x, const Bytes &der) {
  // libcrypto reports a negative version as it is (x509-with-zero-version
  // has -1, content FF); the decoder reads the content octet as an
  // unsigned number, 255.
  const long version = X509_get_version(x);
  EXPECT_EQ(getInt(c, CERT_VERSION), version >= 0 ? uint32_t(version) : uint32_t(version & 0xFF));
  EXPECT_EQ(toHex(getChar(c, CERT_SERIALNUMBER)), toHex(integerContent(X509_get0_serialNumber(x))));
  const X509_ALGOR *outer = nullptr;
  const ASN1_BIT_STRING *sig = nullptr;
  X509_get0_signature(&sig, &outer, x);
  EXPECT_EQ(toHex(getChar(c, CERT_OUTER_SIGNATUREALGORITHM)), toHex(objContent(outer->algorithm)));
  EXPECT_EQ(toHex(getChar(c, CERT_INNER_SIGNATUREALGORITHM)),
            toHex(objContent(X509_get0_tbs_sigalg(x)->algorithm)));
  EXPECT_EQ(toHex(getChar(c, CERT_CA_SIGNATURE)), toHex(strBytes(sig)));

  // The TBSCertificate: the first element inside the Certificate, as given.
  EXPECT_EQ(getChar(c, CERT_TBS_CERTIFICATE), firstChild(der));

  compareName(c, X509_get_issuer_name(x), CERT_ISSUER_COUNTRYNAME, CERT_ISSUER_DN);
  compareName(c, X509_get_subject_name(x), CERT_SUBJECT_COUNTRYNAME, CERT_SUBJECT_DN);

  const auto from = integerTime(X509_get0_notBefore(x)), to = integerTime(X509_get0_notAfter(x));
  EXPECT_TRUE(from && to) << "libcrypto cannot read the validity";
  EXPECT_EQ(getInt(c, CERT_VALIDFROM), from.value_or(0));
  EXPECT_EQ(getInt(c, CERT_VALIDTO), to.value_or(0));

  // The key: the algorithm as a whole OID element, the BIT STRING's bytes.
  const ASN1_OBJECT *keyAlg = nullptr;
  const unsigned char *keyBits = nullptr;
  int keyLen = 0;
  X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT **>(&keyAlg), &keyBits, &keyLen, nullptr,
                         X509_get_X509_PUBKEY(x));
  EXPECT_EQ(toHex(getChar(c, CERT_PUBLICKEY_ALGORITHM)), toHex(tlv(0x06, objContent(keyAlg))));
  EXPECT_EQ(toHex(getChar(c, CERT_SUBJECTPUBLICKEYINFO)), toHex(Bytes(keyBits, keyBits + keyLen)));

  compareExtensions(c, x);
}

// Decodes `der` with both and, when both accept, compares every field.
// Returns our status; `peerAccepts` tells whether libcrypto accepted.
uint32_t compareWithOpenssl(const Bytes &der, bool *peerAccepts = nullptr) {
  const unsigned char *p = der.data();
  std::unique_ptr<X509, decltype(&X509_free)> peer(d2i_X509(nullptr, &p, long(der.size())),
                                                   X509_free);
  ERR_clear_error();
  Ctx ctx;
  const uint32_t st = decode(ctx, der);
  if (peerAccepts != nullptr) {
    *peerAccepts = peer != nullptr;
  }
  if (st == RYCERT_OK && peer != nullptr) {
    compareFields(ctx, peer.get(), der);
  }
  return st;
}

// ------------------------------------------------------- real certificates

// Certificates we refuse although libcrypto reads them (d2i_X509 does not
// look inside the time texts), each with the reason. Matched against the
// certificate's origin.
struct NamedRefusal {
  const char *where;
  uint32_t status;
  const char *reason;
};
const NamedRefusal kNamedRefusals[] = {
    // RFC 5280 4.1.2.5: YYYYMMDDHHMMSSZ with valid fields. The decoder tries
    // GeneralizedTime, then UTCTime, and reports the second reader's status:
    // the element is not a UTCTime.
    {"certs/invalid-date-day.der", RYCERT_TagNotMatchErr, "GeneralizedTime day 91"},
    {"certs/invalid-date-hour.der", RYCERT_TagNotMatchErr, "GeneralizedTime hour 24"},
    {"certs/invalid-date-mins.der", RYCERT_TagNotMatchErr, "GeneralizedTime minute 60"},
    {"certs/invalid-date-month.der", RYCERT_TagNotMatchErr, "GeneralizedTime month 13"},
    {"certs/invalid-date-secs.der", RYCERT_TagNotMatchErr, "GeneralizedTime second 60"},
    {"certs/x509-v3-with-fractional-time.pem", RYCERT_TagNotMatchErr,
     "GeneralizedTime with fractional seconds (20080801103026.6Z), which RFC 5280 forbids"},
    {"certs/cert-with-non-digits-time.pem", RYCERT_InvalidTimeFieldErr,
     "UTCTime with non-digits ( #0101010I00Z)"},
    {"certs/openssl-invalid-time-format.pem", RYCERT_InvalidTimeEndErr,
     "UTCTime with a zone offset (140616221105+0000) instead of Z"},
};

const NamedRefusal *namedRefusal(const std::string &where) {
  for (const NamedRefusal &r : kNamedRefusals) {
    if (where.rfind(r.where, 0) == 0) {
      return &r;
    }
  }
  return nullptr;
}

// Compares each certificate; refusals must be mutual or named. Returns the
// number compared field by field.
size_t compareAll(const std::vector<CertBytes> &certs) {
  size_t compared = 0;
  for (const CertBytes &c : certs) {
    SCOPED_TRACE(c.where);
    bool peerAccepts = false;
    const uint32_t st = compareWithOpenssl(c.der, &peerAccepts);
    if (st == RYCERT_OK && peerAccepts) {
      ++compared;
    } else if (st != RYCERT_OK && peerAccepts) {
      const NamedRefusal *named = namedRefusal(c.where);
      if (named == nullptr) {
        ADD_FAILURE() << "we refuse with " << st << " what libcrypto reads";
      } else {
        EXPECT_EQ(st, named->status) << named->reason;
      }
    } else if (st == RYCERT_OK) {
      std::cout << "  [info] " << c.where << ": libcrypto refuses, we decode\n";
    }
  }
  return compared;
}

TEST(CertPeers, SystemCaBundleDecodesAsLibcryptoReadsIt) {
  std::set<std::string> files;  // the .pem files of /etc/ssl/certs
  forEachSystemCaCert([&](const std::string &file, X509 *) { files.insert(file); });
  ASSERT_FALSE(files.empty()) << "no /etc/ssl/certs/*.pem: install ca-certificates (scripts/setup.sh)";
  std::vector<CertBytes> certs;
  for (const std::string &f : files) {
    for (auto &c : certObjects(f, readFile("/etc/ssl/certs/" + f))) {
      certs.push_back(std::move(c));
    }
  }
  EXPECT_EQ(compareAll(certs), certs.size());
}

TEST(CertPeers, CorpusCertificatesDecodeAsLibcryptoReadsThem) {
  const std::vector<CertBytes> certs = corpusCertBytes();
  ASSERT_GT(certs.size(), 50u);
  const size_t compared = compareAll(certs);
  EXPECT_GT(compared, certs.size() * 3 / 4);
  std::cout << "  [info] " << compared << " of " << certs.size()
            << " corpus certificates compared field by field\n";
}

// ------------------------------------------------------ built certificates

// A signing key and its identifier (SHA-1 of the subjectPublicKey bits,
// RFC 5280 4.2.1.2 method 1).
struct Key {
  EVP_PKEY *pkey = nullptr;
  Bytes rsaPublicKey;
  Bytes keyId;
};

Key makeKey() {
  Key k;
  k.pkey = EVP_RSA_gen(2048);
  EXPECT_NE(k.pkey, nullptr);
  k.rsaPublicKey = i2dBytes(i2d_PublicKey, k.pkey);
  k.keyId.resize(20);
  unsigned n = 0;
  EXPECT_EQ(EVP_Digest(k.rsaPublicKey.data(), k.rsaPublicKey.size(), k.keyId.data(), &n, EVP_sha1(),
                       nullptr),
            1);
  return k;
}

const char kSigAlgDotted[] = "1.2.840.113549.1.1.11";  // sha256WithRSAEncryption

// The key the callback signs with; the callback's parameter carries no key.
EVP_PKEY *gSigner = nullptr;

uint32_t signWithLibcrypto(const uint8_t *tbs, uint32_t tbsLen, uint8_t *sig, uint32_t *sigLen,
                           const uint8_t *) {
  return signSha256With(gSigner, tbs, tbsLen, sig, sigLen);
}

Bytes oidOf(const char *dotted) {
  ASN1_OBJECT *o = OBJ_txt2obj(dotted, 1);
  Bytes b = objContent(o);
  ASN1_OBJECT_free(o);
  return b;
}

// One setter call: a char attribute, a private extension (oid set), or an
// integer attribute (isInt).
struct Set {
  int32_t id;
  Bytes value;
  Bytes privateOid = {};
  uint8_t critical = 0;
  bool isInt = false;
  uint32_t intValue = 0;
};
Set text(int32_t id, const std::string &s) { return {id, str(s)}; }
Set integer(int32_t id, uint32_t v) { return {id, {}, {}, 0, true, v}; }
Set privateExt(const char *oid, const std::string &valueHex, uint8_t critical) {
  return {0, hex(valueHex), oidOf(oid), critical};
}

constexpr uint32_t kNotBefore = 1704067200u;   // 2024-01-01T00:00:00Z
constexpr uint32_t kNotAfter = 2524607999u;    // 2049-12-31T23:59:59Z, the last UTCTime second
constexpr uint32_t kCaNotAfter = 2840140800u;  // 2060-01-01T00:00:00Z, a GeneralizedTime

// Issuer and subject of the root, and the leaf's issuer.
std::vector<Set> rootName(bool asIssuer) {
  const int32_t base = asIssuer ? CERT_ISSUER_COUNTRYNAME : CERT_SUBJECT_COUNTRYNAME;
  return {text(base + 0, "DE"), text(base + 3, "Rycert Test"), text(base + 5, "Rycert Test Root")};
}
const char kRootPy[] = "2.5.4.6=DE,2.5.4.10=Rycert Test,2.5.4.3=Rycert Test Root";

// Applies the setters, signs with `signer` and returns the DER.
Bytes build(const std::vector<Set> &sets, const Key &subject, const Key &signer) {
  Ctx ctx;
  const Bytes alg = oidOf(kSigAlgDotted), rsa = oidOf("1.2.840.113549.1.1.1");
  std::vector<Set> all = {
      {CERT_SERIALNUMBER, hex("7A0102030405060708090A0B0C0D0E0F")},
      {CERT_INNER_SIGNATUREALGORITHM, alg},
      {CERT_OUTER_SIGNATUREALGORITHM, alg},
      {CERT_PUBLICKEY_ALGORITHM, rsa},
      {CERT_SUBJECTPUBLICKEYINFO, subject.rsaPublicKey},
  };
  all.insert(all.end(), sets.begin(), sets.end());
  for (const Set &s : all) {
    const uint32_t rc =
        s.isInt ? RyCert_SetCertAttributeInt(ctx, s.id, s.intValue)
        : s.privateOid.empty()
            ? setChar(ctx, uint32_t(s.id), s.value)
            : RyCert_SetCertAttributePrivate(ctx, s.privateOid.data(), int32_t(s.privateOid.size()),
                                             s.critical, s.value.data(), int32_t(s.value.size()));
    EXPECT_EQ(rc, RYCERT_OK) << "id " << s.id;
  }
  gSigner = signer.pkey;
  EXPECT_EQ(RyCert_SetCertSignFunc(ctx, signWithLibcrypto, nullptr, 0), RYCERT_OK);
  Bytes der;
  EXPECT_EQ(encode(ctx, der), RYCERT_OK);
  return der;
}

std::string pem(const Bytes &der) {
  std::string out(der.size() * 2 + 128, '\0');
  uint32_t n = 0;
  EXPECT_EQ(DER2PEM_data_format(der.data(), uint32_t(der.size()), out.data(), &n,
                                "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----"),
            0u);
  out.resize(n);
  return out;
}

// What Python's cryptography reads from a certificate: the fields, every
// extension, and whether the issuer's key verifies the signature.
const char kPythonReader[] = R"PY(
import calendar, sys, warnings
from cryptography import x509
from cryptography.hazmat.primitives.asymmetric import padding

def name(n):
    return ",".join(a.oid.dotted_string + "=" + a.value for a in n)

def general(g):
    if isinstance(g, x509.DirectoryName):
        return "dirName:" + name(g.value)
    if isinstance(g, x509.UniformResourceIdentifier):
        return "URI:" + g.value
    return type(g).__name__ + ":" + str(g.value)

def show(v):
    if isinstance(v, x509.BasicConstraints):
        return "ca=%s pathlen=%s" % (v.ca, v.path_length)
    if isinstance(v, x509.KeyUsage):
        bits = ["digital_signature", "content_commitment", "key_encipherment",
                "data_encipherment", "key_agreement", "key_cert_sign", "crl_sign"]
        out = [b for b in bits if getattr(v, b)]
        if v.key_agreement:
            out += [b for b in ("encipher_only", "decipher_only") if getattr(v, b)]
        return " ".join(out)
    if isinstance(v, x509.ExtendedKeyUsage):
        return " ".join(o.dotted_string for o in v)
    if isinstance(v, x509.SubjectKeyIdentifier):
        return v.digest.hex().upper()
    if isinstance(v, x509.AuthorityKeyIdentifier):
        return "keyid=%s issuer=%s serial=%s" % (
            v.key_identifier.hex().upper(), v.authority_cert_issuer,
            v.authority_cert_serial_number)
    if isinstance(v, x509.CertificatePolicies):
        return " ".join(p.policy_identifier.dotted_string + "[" +
                        ",".join(str(q) for q in (p.policy_qualifiers or [])) + "]" for p in v)
    if isinstance(v, (x509.SubjectAlternativeName, x509.IssuerAlternativeName)):
        return " ".join(general(g) for g in v)
    if isinstance(v, x509.CRLDistributionPoints):
        return " ".join(",".join(general(g) for g in p.full_name) for p in v)
    if isinstance(v, x509.UnrecognizedExtension):
        return v.value.hex().upper()
    return repr(v)

cert = x509.load_der_x509_certificate(open(sys.argv[1], "rb").read())
issuer = x509.load_der_x509_certificate(open(sys.argv[2], "rb").read())
print("version", cert.version.name)
print("serial", format(cert.serial_number, "X"))
print("signature", cert.signature_algorithm_oid.dotted_string)
print("issuer", name(cert.issuer))
print("subject", name(cert.subject))
warnings.simplefilter("ignore")  # newer releases deprecate the naive datetimes
print("validity", calendar.timegm(cert.not_valid_before.utctimetuple()),
      calendar.timegm(cert.not_valid_after.utctimetuple()))
print("key", cert.public_key().key_size)
for e in cert.extensions:
    print("ext", e.oid.dotted_string, e.critical, show(e.value))
issuer.public_key().verify(cert.signature, cert.tbs_certificate_bytes, padding.PKCS1v15(),
                           cert.signature_hash_algorithm)
print("signature verified")
)PY";

// The root: self-signed, cA TRUE with path length 1, keyCertSign and
// cRLSign, its key identifier as subject and authority key identifier.
struct Root {
  Key key;
  Bytes der;
  std::string derPath, pemPath;
};

const Root &root() {
  static const Root r = [] {
    Root out;
    out.key = makeKey();
    std::vector<Set> sets = rootName(true);
    for (const Set &s : rootName(false)) {
      sets.push_back(s);
    }
    for (const Set &s : std::vector<Set>{integer(CERT_VERSION, 2),
                                         integer(CERT_VALIDFROM, kNotBefore),
                                         integer(CERT_VALIDTO, kCaNotAfter),
                                         {CERTEX_AUTHORITY, hex("01")},
                                         {CERTEX_PATHLENCONSTRAINT, hex("01")},
                                         {CERTEX_KEYUSAGE, hex("06")},
                                         {CERTEX_SUBJECTKEYIDENTIFIER, out.key.keyId},
                                         {CERTEX_AUTHORITYKEYIDENTIFIER, out.key.keyId}}) {
      sets.push_back(s);
    }
    out.der = build(sets, out.key, out.key);
    out.derPath = writeTemp("peers-root.der", out.der);
    const std::string p = pem(out.der);
    out.pemPath = writeTemp("peers-root.pem", Bytes(p.begin(), p.end()));
    return out;
  }();
  return r;
}

const Key &leafKey() {
  static const Key k = makeKey();
  return k;
}

// The lines the Python reader prints for a certificate of ours.
std::string expectedPython(const std::string &version, const std::string &subject,
                           uint32_t notBefore, uint32_t notAfter,
                           const std::vector<std::string> &extensions) {
  std::string s = "version " + version + "\nserial 7A0102030405060708090A0B0C0D0E0F\nsignature " +
                  kSigAlgDotted + "\nissuer " + kRootPy + "\nsubject " + subject + "\nvalidity " +
                  std::to_string(notBefore) + " " + std::to_string(notAfter) + "\nkey 2048\n";
  for (const std::string &e : extensions) {
    s += "ext " + e + "\n";
  }
  return s + "signature verified\n";
}

// Runs every peer on `der` (signed by the root); `verifyError` is empty
// when openssl verify must accept the chain, else what it must report.
void checkWithPeers(const std::string &tag, const Bytes &der, const std::string &pythonExpected,
                    const std::string &verifyError = "") {
  const Root &r = root();
  const std::string derPath = writeTemp("peers-" + tag + ".der", der);
  const std::string p = pem(der);
  const std::string pemPath = writeTemp("peers-" + tag + ".pem", Bytes(p.begin(), p.end()));
  int status = -1;

  const std::string text =
      runCommand("openssl x509 -inform DER -noout -text -in " + derPath + " 2>&1", status);
  EXPECT_EQ(status, 0) << text;

  const std::string verify =
      runCommand("openssl verify -CAfile " + r.pemPath + " " + pemPath + " 2>&1", status);
  if (verifyError.empty()) {
    EXPECT_EQ(status, 0) << verify;
    EXPECT_EQ(verify, pemPath + ": OK\n");
  } else {
    EXPECT_NE(status, 0) << verify;
    EXPECT_NE(verify.find(verifyError), std::string::npos) << verify;
  }

  const std::string python = pythonWithCryptography();
  if (python.empty()) {
    ADD_FAILURE() << "no python3 with the cryptography package (scripts/setup.sh installs it)";
  } else {
    const std::string script = writeTemp(
        "peers-reader.py", Bytes(kPythonReader, kPythonReader + sizeof kPythonReader - 1));
    EXPECT_EQ(runCommand(python + " " + script + " " + derPath + " " + r.derPath + " 2>&1", status),
              pythonExpected);
    EXPECT_EQ(status, 0);
  }

  // Our decoder reads it back as libcrypto does.
  EXPECT_EQ(compareWithOpenssl(der), RYCERT_OK);
}

TEST(CertBuiltPeers, RootIsSelfSignedAndAcceptedByEveryPeer) {
  const Root &r = root();
  const std::string id = toHex(r.key.keyId);
  checkWithPeers("root", r.der,
                 expectedPython("v3", kRootPy, kNotBefore, kCaNotAfter,
                                {"2.5.29.35 False keyid=" + id + " issuer=None serial=None",
                                 "2.5.29.14 False " + id, "2.5.29.19 False ca=True pathlen=1",
                                 "2.5.29.15 True key_cert_sign crl_sign"}));
}

// The leaf's extensions, one case per extension the setters produce, then
// all of them together. Expected lines are what Python reads; {root} and
// {leaf} stand for the two key identifiers.
const char kLeafPy[] = "2.5.4.6=DE,2.5.4.10=Rycert Test,2.5.4.3=leaf.example.test";

struct LeafCase {
  const char *name;
  std::vector<Set> sets = {};
  std::vector<std::string> python = {};
  const char *verifyError = "";
  // Outside the extensions: the subject's setters (none: the leaf's C, O and
  // CN) and its Python text, the version, notAfter.
  std::vector<Set> subject = {};
  const char *subjectPy = kLeafPy;
  const char *version = "v3";
  uint32_t notAfter = kNotAfter;
};
const char kCps1[] = "https://cps.example.test/one";
const char kCps2[] = "https://cps.example.test/two";
const char kCrl1[] = "http://crl.example.test/root.crl";
const char kCrl2[] = "ldap://ldap.example.test/cn=Root?certificateRevocationList";
const char kAltPy[] =
    "dirName:2.5.4.6=DE,2.5.4.8=Bayern,2.5.4.7=Muenchen,2.5.4.10=Rycert Test,2.5.4.11=Web,"
    "2.5.4.3=www.example.test,1.2.840.113549.1.9.1=web@example.test";

std::vector<Set> altName(int32_t first) {
  return {text(first + 0, "DE"),
          text(first + 1, "Bayern"),
          text(first + 2, "Muenchen"),
          text(first + 3, "Rycert Test"),
          text(first + 4, "Web"),
          text(first + 5, "www.example.test"),
          text(first + 6, "web@example.test")};
}

std::vector<Set> join(std::initializer_list<std::vector<Set>> parts) {
  std::vector<Set> out;
  for (const auto &p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

const std::vector<LeafCase> &leafCases() {
  static const std::vector<LeafCase> cases = {
      {"no extensions", {}, {}},
      {"authority key identifier",
       {{CERTEX_AUTHORITYKEYIDENTIFIER, {}}},
       {"2.5.29.35 False keyid={root} issuer=None serial=None"}},
      {"subject key identifier", {{CERTEX_SUBJECTKEYIDENTIFIER, {}}}, {"2.5.29.14 False {leaf}"}},
      {"certificate policy with one CPS",
       {{CERTEX_CERTPOLICYID, oidOf("2.23.140.1.2.2")}, text(CERTEX_CERTPOLICY_CPS, kCps1)},
       {std::string("2.5.29.32 False 2.23.140.1.2.2[") + kCps1 + "]"}},
      {"certificate policy with two CPS",
       {{CERTEX_CERTPOLICYID, oidOf("1.3.6.1.4.1.55555.7.1")},
        text(CERTEX_CERTPOLICY_CPS, kCps1),
        text(CERTEX_CERTPOLICY_CPS, kCps2)},
       {std::string("2.5.29.32 False 1.3.6.1.4.1.55555.7.1[") + kCps1 + "," + kCps2 + "]"}},
      {"issuer alternative name",
       altName(CERT_ISSUER_ALT_COUNTRYNAME),
       {std::string("2.5.29.18 False ") + kAltPy}},
      {"subject alternative name",
       altName(CERT_SUBJECT_ALT_COUNTRYNAME),
       {std::string("2.5.29.17 False ") + kAltPy}},
      {"basic constraints, critical",
       {text(CERTEX_BASICCONSTRAINTS_CRITICAL, "x")},
       {"2.5.29.19 True ca=False pathlen=None"}},
      {"basic constraints, cA",
       {text(CERTEX_AUTHORITY, "x")},
       {"2.5.29.19 False ca=True pathlen=None"}},
      {"basic constraints, cA and path length 0",
       {text(CERTEX_AUTHORITY, "x"), {CERTEX_PATHLENCONSTRAINT, hex("00")}},
       {"2.5.29.19 False ca=True pathlen=0"}},
      {"basic constraints, cA and path length 200",
       {text(CERTEX_AUTHORITY, "x"), {CERTEX_PATHLENCONSTRAINT, hex("C8")}},
       {"2.5.29.19 False ca=True pathlen=200"}},
      {"key usage, one byte",
       {{CERTEX_KEYUSAGE, hex("A0")}},
       {"2.5.29.15 True digital_signature key_encipherment"}},
      {"key usage, decipherOnly in the second byte",
       {{CERTEX_KEYUSAGE, hex("0880")}},
       {"2.5.29.15 True key_agreement decipher_only"}},
      {"extended key usage, serverAuth",
       {{CERTEX_EXTKEY_USAGE, hex("40000000")}},
       {"2.5.29.37 False 1.3.6.1.5.5.7.3.1"}},
      {"extended key usage, every purpose",
       {{CERTEX_EXTKEY_USAGE, hex("C03F0000")}},
       {"2.5.29.37 False 1.3.6.1.5.5.7.3.1 1.3.6.1.5.5.7.3.2 1.3.6.1.5.5.7.3.3 "
        "1.3.6.1.5.5.7.3.4 1.3.6.1.5.5.7.3.5 1.3.6.1.5.5.7.3.6 1.3.6.1.5.5.7.3.7 "
        "1.3.6.1.5.5.7.3.8"}},
      {"CRL distribution point",
       {text(CERTEX_CRLDIST_FULLNAME, kCrl1)},
       {std::string("2.5.29.31 False URI:") + kCrl1}},
      {"two CRL distribution points",
       {text(CERTEX_CRLDIST_FULLNAME, kCrl1), text(CERTEX_CRLDIST_FULLNAME, kCrl2)},
       {std::string("2.5.29.31 False URI:") + kCrl1 + " URI:" + kCrl2}},
      {"private extension",
       {privateExt("1.3.6.1.4.1.55555.1", "0C0568656C6C6F", 0)},
       {"1.3.6.1.4.1.55555.1 False 0C0568656C6C6F"}},
      {"critical private extension",
       {privateExt("1.3.6.1.4.1.55555.2", "0500", 1)},
       {"1.3.6.1.4.1.55555.2 True 0500"},
       "unhandled critical extension"},
      {"every extension together",
       join({{{CERTEX_AUTHORITYKEYIDENTIFIER, {}},
              {CERTEX_SUBJECTKEYIDENTIFIER, {}},
              {CERTEX_CERTPOLICYID, oidOf("2.23.140.1.2.2")},
              text(CERTEX_CERTPOLICY_CPS, kCps1)},
             altName(CERT_ISSUER_ALT_COUNTRYNAME),
             altName(CERT_SUBJECT_ALT_COUNTRYNAME),
             {text(CERTEX_BASICCONSTRAINTS_CRITICAL, "x"),
              {CERTEX_KEYUSAGE, hex("A0")},
              {CERTEX_EXTKEY_USAGE, hex("C0000000")},
              text(CERTEX_CRLDIST_FULLNAME, kCrl1),
              text(CERTEX_CRLDIST_FULLNAME, kCrl2),
              privateExt("1.3.6.1.4.1.55555.1", "0C0568656C6C6F", 0),
              privateExt("1.3.6.1.4.1.55555.3", "300302012A", 0)}}),
       {"2.5.29.35 False keyid={root} issuer=None serial=None", "2.5.29.14 False {leaf}",
        std::string("2.5.29.32 False 2.23.140.1.2.2[") + kCps1 + "]",
        std::string("2.5.29.18 False ") + kAltPy, std::string("2.5.29.17 False ") + kAltPy,
        "2.5.29.19 True ca=False pathlen=None", "2.5.29.15 True digital_signature key_encipherment",
        "2.5.29.37 False 1.3.6.1.5.5.7.3.1 1.3.6.1.5.5.7.3.2",
        std::string("2.5.29.31 False URI:") + kCrl1 + " URI:" + kCrl2,
        "1.3.6.1.4.1.55555.1 False 0C0568656C6C6F", "1.3.6.1.4.1.55555.3 False 300302012A"}},
      // Fields outside the extensions that the writer has to get right for
      // strict parsers.
      {.name = "version never set: a v1 certificate without the [0] field", .version = "v1"},
      {.name = "notAfter in 2060 is a GeneralizedTime", .notAfter = kCaNotAfter},
      {.name = "serial given as 00 00 7A 01 ..: written as the INTEGER 7A01..",
       .sets = {{CERT_SERIALNUMBER, hex("00007A0102030405060708090A0B0C0D0E0F")}}},
      {.name = "every subject component, in call order",
       .subject = {text(CERT_SUBJECT_COUNTRYNAME, "DE"),
                   text(CERT_SUBJECT_STATEORPROVINCENAME, "Bayern"),
                   text(CERT_SUBJECT_LOCALITYNAME, "Muenchen"),
                   text(CERT_SUBJECT_ORGANIZATIONNAME, "Rycert Test"),
                   text(CERT_SUBJECT_ORGANIZATIONALUNITNAME, "Web"),
                   text(CERT_SUBJECT_COMMONNAME, "leaf.example.test"),
                   text(CERT_SUBJECT_EMAIL, "leaf@example.test"),
                   text(CERT_SUBJECT_POSTALADDRESS, "Hauptstrasse 1"),
                   text(CERT_SUBJECT_POSTALCODE, "80331"),
                   text(CERT_SUBJECT_TELEPHONE, "+49 89 1234567"),
                   text(CERT_SUBJECT_ORGANIZATIONALUNITNAME, "Second Unit")},
       .subjectPy = "2.5.4.6=DE,2.5.4.8=Bayern,2.5.4.7=Muenchen,2.5.4.10=Rycert Test,"
                    "2.5.4.11=Web,2.5.4.3=leaf.example.test,1.2.840.113549.1.9.1=leaf@example.test,"
                    "2.5.4.16=Hauptstrasse 1,2.5.4.17=80331,2.5.4.20=+49 89 1234567,"
                    "2.5.4.11=Second Unit"},
  };
  return cases;
}

std::string substituteKeyIds(std::string s) {
  for (const auto &[tag, id] : {std::pair{std::string("{root}"), toHex(root().key.keyId)},
                                std::pair{std::string("{leaf}"), toHex(leafKey().keyId)}}) {
    for (size_t at; (at = s.find(tag)) != std::string::npos;) {
      s.replace(at, tag.size(), id);
    }
  }
  return s;
}

// The leaf's own fields, then the case's setters; empty key identifier
// values stand for the real ones.
std::vector<Set> leafSets(const LeafCase &c) {
  std::vector<Set> sets = join(
      {rootName(true),
       c.subject.empty() ? std::vector<Set>{text(CERT_SUBJECT_COUNTRYNAME, "DE"),
                                            text(CERT_SUBJECT_ORGANIZATIONNAME, "Rycert Test"),
                                            text(CERT_SUBJECT_COMMONNAME, "leaf.example.test")}
                         : c.subject,
       {integer(CERT_VALIDFROM, kNotBefore), integer(CERT_VALIDTO, c.notAfter)}});
  if (std::string(c.version) == "v3") {
    sets.push_back(integer(CERT_VERSION, 2));
  }
  for (Set s : c.sets) {
    if (s.id == CERTEX_AUTHORITYKEYIDENTIFIER && s.value.empty()) {
      s.value = root().key.keyId;
    } else if (s.id == CERTEX_SUBJECTKEYIDENTIFIER && s.value.empty()) {
      s.value = leafKey().keyId;
    }
    sets.push_back(s);
  }
  return sets;
}

// Each case's certificate, signed by the root, through every peer.
TEST(CertBuiltPeers, LeafWithEachExtensionAloneAndAllTogetherAndOtherFields) {
  int n = 0;
  for (const LeafCase &c : leafCases()) {
    SCOPED_TRACE(c.name);
    const Bytes der = build(leafSets(c), leafKey(), root().key);
    std::vector<std::string> lines;
    for (const std::string &l : c.python) {
      lines.push_back(substituteKeyIds(l));
    }
    checkWithPeers("leaf" + std::to_string(n++), der,
                   expectedPython(c.version, c.subjectPy, kNotBefore, c.notAfter, lines),
                   c.verifyError);
  }
}

}  // namespace
