// Certificates against Mbed TLS and OpenSSL, in the same run.
//
// BM_CertDecodeAll/<side>: one certificate of the system CA bundle per
// iteration (the bundle in turn), decoded and every field read back: both
// names as text and as components, serial, both signature algorithms,
// validity as integer times, the public key, the signature and every
// extension. The time per iteration is the time per certificate.
//
// BM_CertEncodeLeaf/<side>: a typical leaf certificate (names, key, every
// extension the setters produce) built from nothing and encoded, with a
// signing step that hands back a fixed signature, so no side pays for RSA.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <mbedtls/oid.h>
#include <mbedtls/pk.h>
#include <mbedtls/x509.h>
#include <mbedtls/x509_crt.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "rycert2.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void die(const char *what) {
  std::fprintf(stderr, "bench_cert: %s\n", what);
  std::abort();
}

// Seconds since 1970 of a UTC civil date (days_from_civil), so that every
// side turns its validity into the same integer time the library returns.
int64_t epochSeconds(int y, int mon, int d, int h, int mi, int s) {
  y -= mon <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (mon + (mon > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return (era * 146097 + doe - 719468) * 86400 + h * 3600 + mi * 60 + s;
}

// ------------------------------------------------------------------ inputs

bool oursDecodes(const Bytes &der);

// Every certificate of the system CA bundle (/etc/ssl/certs/*.pem) that all
// three sides decode, as DER.
const std::vector<Bytes> &bundle() {
  static const std::vector<Bytes> certs = [] {
    std::vector<Bytes> out;
    const std::string dir = "/etc/ssl/certs";
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
      die("no /etc/ssl/certs (install ca-certificates)");
    }
    std::vector<std::string> names;
    for (dirent *e; (e = readdir(d)) != nullptr;) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pem") == 0) {
        names.push_back(n);
      }
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    size_t refused = 0;
    for (const std::string &n : names) {
      FILE *f = std::fopen((dir + "/" + n).c_str(), "r");
      X509 *x = f != nullptr ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
      if (f != nullptr) {
        std::fclose(f);
      }
      if (x == nullptr) {
        ++refused;
        continue;
      }
      unsigned char *p = nullptr;
      const int len = i2d_X509(x, &p);
      Bytes der(p, p + std::max(len, 0));
      OPENSSL_free(p);
      X509_free(x);
      mbedtls_x509_crt crt;
      mbedtls_x509_crt_init(&crt);
      const bool mbedOk = mbedtls_x509_crt_parse_der(&crt, der.data(), der.size()) == 0;
      mbedtls_x509_crt_free(&crt);
      if (!mbedOk || !oursDecodes(der)) {
        ++refused;
        continue;
      }
      out.push_back(std::move(der));
    }
    if (out.empty()) {
      die("no certificate in /etc/ssl/certs that every side decodes");
    }
    if (refused != 0) {
      std::fprintf(stderr,
                   "bench_cert: %zu of %zu bundle certificates left out (a side refuses them)\n",
                   refused, names.size());
    }
    return out;
  }();
  return certs;
}

// Picks the bundle's certificates in turn, one per iteration.
class Cycle {
 public:
  Cycle() : certs_(bundle()) {}
  const Bytes &next() {
    const Bytes &c = certs_[i_];
    i_ = i_ + 1 == certs_.size() ? 0 : i_ + 1;
    return c;
  }

 private:
  const std::vector<Bytes> &certs_;
  size_t i_ = 0;
};

void finish(benchmark::State &state, int64_t bytes) {
  state.SetBytesProcessed(bytes);
  state.counters["certs"] = static_cast<double>(bundle().size());
}

// ------------------------------------------------------------------ decode

// Every byte-string attribute a decoded certificate answers, each read as a
// caller does: length first, then the bytes.
const int32_t kCharIds[] = {
    CERT_TBS_CERTIFICATE,
    CERT_OUTER_SIGNATUREALGORITHM,
    CERT_CA_SIGNATURE,
    CERT_SERIALNUMBER,
    CERT_INNER_SIGNATUREALGORITHM,
    CERT_ISSUER_DN,
    CERT_ISSUER_COUNTRYNAME,
    CERT_ISSUER_STATEORPROVINCENAME,
    CERT_ISSUER_LOCALITYNAME,
    CERT_ISSUER_ORGANIZATIONNAME,
    CERT_ISSUER_ORGANIZATIONALUNITNAME,
    CERT_ISSUER_COMMONNAME,
    CERT_ISSUER_EMAIL,
    CERT_ISSUER_POSTALADDRESS,
    CERT_ISSUER_POSTALCODE,
    CERT_ISSUER_TELEPHONE,
    CERT_SUBJECT_DN,
    CERT_SUBJECT_COUNTRYNAME,
    CERT_SUBJECT_STATEORPROVINCENAME,
    CERT_SUBJECT_LOCALITYNAME,
    CERT_SUBJECT_ORGANIZATIONNAME,
    CERT_SUBJECT_ORGANIZATIONALUNITNAME,
    CERT_SUBJECT_COMMONNAME,
    CERT_SUBJECT_EMAIL,
    CERT_SUBJECT_POSTALADDRESS,
    CERT_SUBJECT_POSTALCODE,
    CERT_SUBJECT_TELEPHONE,
    CERT_PUBLICKEY_ALGORITHM,
    CERT_SUBJECTPUBLICKEYINFO,
    CERTEX_AUTHORITYKEYIDENTIFIER,
    CERTEX_SUBJECTKEYIDENTIFIER,
    CERTEX_KEYUSAGE_CRITICAL,
    CERTEX_KEYUSAGE,
    CERTEX_BASICCONSTRAINTS_CRITICAL,
    CERTEX_AUTHORITY,
    CERTEX_PATHLENCONSTRAINT,
    CERTEX_EXTKEY_USAGE,
};

// Decodes `der` and reads every attribute; false when any step fails.
// `sink` receives the bytes read, so nothing is optimised away.
bool oursDecodeAndRead(const Bytes &der, uint8_t *sink, uint64_t &total) {
  CertCtx *ctx = nullptr;
  if (RyCert_CreateCertDecodeCtx(&ctx) != RYCERT_OK) {
    return false;
  }
  bool ok = RyCert_DecodeCert(ctx, der.data(), static_cast<uint32_t>(der.size())) == RYCERT_OK;
  for (const int32_t id : kCharIds) {
    uint32_t n = 0;
    ok = ok && RyCert_GetCertAttributeChar(ctx, id, nullptr, &n) == RYCERT_OK &&
         RyCert_GetCertAttributeChar(ctx, id, sink, &n) == RYCERT_OK;
    total += n;
  }
  for (const int32_t id : {CERT_VERSION, CERT_VALIDFROM, CERT_VALIDTO}) {
    uint32_t v = 0;
    ok = ok && RyCert_GetCertAttributeInt(ctx, id, &v) == RYCERT_OK;
    total += v;
  }
  // The CRL distribution points, until the iterator ends.
  for (uint32_t n = 1; ok && n != 0;) {
    ok = RyCert_GetCertAttributeChar(ctx, CERTEX_CRLDIST_FULLNAME, nullptr, &n) == RYCERT_OK &&
         (n == 0 ||
          RyCert_GetCertAttributeChar(ctx, CERTEX_CRLDIST_FULLNAME, sink, &n) == RYCERT_OK);
    total += n;
  }
  // The private extensions: the count, then each one's OID and value.
  uint32_t count = 0, oidLen = 0, critical = 0, valueLen = 0;
  ok = ok && RyCert_GetCertAttributePrivate(ctx, &count, nullptr, &oidLen, &critical, nullptr,
                                            &valueLen) == RYCERT_OK;
  for (uint32_t i = 1; ok && i <= count; ++i) {
    uint32_t index = i;
    ok = RyCert_GetCertAttributePrivate(ctx, &index, nullptr, &oidLen, &critical, nullptr,
                                        &valueLen) == RYCERT_OK &&
         RyCert_GetCertAttributePrivate(ctx, &index, sink, &oidLen, &critical, sink + oidLen,
                                        &valueLen) == RYCERT_OK;
    total += oidLen + valueLen + critical;
  }
  RyCert_DestroyCertDecodeCtx(ctx);
  return ok;
}

// A sink as large as any certificate (an attribute is part of it).
Bytes &sinkFor(size_t n) {
  static Bytes sink;
  if (sink.size() < 2 * n) {
    sink.resize(2 * n);
  }
  return sink;
}

bool oursDecodes(const Bytes &der) {
  uint64_t total = 0;
  return oursDecodeAndRead(der, sinkFor(der.size()).data(), total);
}

void oursDecodeAll(benchmark::State &state) {
  Cycle certs;
  size_t largest = 0;
  for (const Bytes &c : bundle()) {
    largest = std::max(largest, c.size());
  }
  uint8_t *sink = sinkFor(largest).data();
  int64_t bytes = 0;
  uint64_t total = 0;
  for (auto _ : state) {
    const Bytes &der = certs.next();
    if (!oursDecodeAndRead(der, sink, total)) {
      die("RyCert_DecodeCert or a query failed on a bundle certificate");
    }
    bytes += static_cast<int64_t>(der.size());
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  finish(state, bytes);
}

void mbedtlsDecodeAll(benchmark::State &state) {
  Cycle certs;
  int64_t bytes = 0;
  uint64_t total = 0;
  char text[1024];
  for (auto _ : state) {
    const Bytes &der = certs.next();
    mbedtls_x509_crt crt;
    mbedtls_x509_crt_init(&crt);
    if (mbedtls_x509_crt_parse_der(&crt, der.data(), der.size()) != 0) {
      die("mbedtls_x509_crt_parse_der failed");
    }
    // Both names as text, and each component.
    total += static_cast<uint64_t>(mbedtls_x509_dn_gets(text, sizeof text, &crt.issuer));
    total += static_cast<uint64_t>(mbedtls_x509_dn_gets(text, sizeof text, &crt.subject));
    for (const mbedtls_x509_name *n : {&crt.issuer, &crt.subject}) {
      for (; n != nullptr; n = n->next) {
        total += n->oid.len + n->val.len;
      }
    }
    total += static_cast<uint64_t>(crt.version) + crt.serial.len + crt.sig_oid.len + crt.sig.len +
             crt.tbs.len;
    total += static_cast<uint64_t>(
        epochSeconds(crt.valid_from.year, crt.valid_from.mon, crt.valid_from.day,
                     crt.valid_from.hour, crt.valid_from.min, crt.valid_from.sec) +
        epochSeconds(crt.valid_to.year, crt.valid_to.mon, crt.valid_to.day, crt.valid_to.hour,
                     crt.valid_to.min, crt.valid_to.sec));
    total += mbedtls_pk_get_bitlen(&crt.pk) + static_cast<uint64_t>(mbedtls_pk_get_type(&crt.pk)) +
             crt.pk_raw.len;
    // Extensions: what the parse filled in.
    total += static_cast<uint64_t>(crt.ext_types) + static_cast<uint64_t>(crt.ca_istrue) +
             static_cast<uint64_t>(crt.max_pathlen) + crt.key_usage + crt.ns_cert_type;
    for (const mbedtls_x509_sequence *s :
         {&crt.ext_key_usage, &crt.subject_alt_names, &crt.certificate_policies}) {
      for (; s != nullptr; s = s->next) {
        total += s->buf.len;
      }
    }
    bytes += static_cast<int64_t>(der.size());
    mbedtls_x509_crt_free(&crt);
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  finish(state, bytes);
}

void opensslDecodeAll(benchmark::State &state) {
  Cycle certs;
  int64_t bytes = 0;
  uint64_t total = 0;
  char text[1024];
  for (auto _ : state) {
    const Bytes &der = certs.next();
    const unsigned char *p = der.data();
    X509 *x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (x == nullptr) {
      die("d2i_X509 failed");
    }
    // Both names as text, and each component.
    for (const X509_NAME *name : {X509_get_issuer_name(x), X509_get_subject_name(x)}) {
      X509_NAME_oneline(name, text, sizeof text);
      total += std::strlen(text);
      for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY *e = X509_NAME_get_entry(name, i);
        total += static_cast<uint64_t>(OBJ_obj2nid(X509_NAME_ENTRY_get_object(e))) +
                 static_cast<uint64_t>(ASN1_STRING_length(X509_NAME_ENTRY_get_data(e)));
      }
    }
    total += static_cast<uint64_t>(X509_get_version(x)) +
             static_cast<uint64_t>(ASN1_STRING_length(X509_get0_serialNumber(x))) +
             static_cast<uint64_t>(X509_get_signature_nid(x)) +
             static_cast<uint64_t>(OBJ_obj2nid(X509_get0_tbs_sigalg(x)->algorithm));
    for (const ASN1_TIME *t : {X509_get0_notBefore(x), X509_get0_notAfter(x)}) {
      tm when{};
      if (ASN1_TIME_to_tm(t, &when) != 1) {
        die("ASN1_TIME_to_tm failed");
      }
      total +=
          static_cast<uint64_t>(epochSeconds(when.tm_year + 1900, when.tm_mon + 1, when.tm_mday,
                                             when.tm_hour, when.tm_min, when.tm_sec));
    }
    const ASN1_BIT_STRING *sig = nullptr;
    X509_get0_signature(&sig, nullptr, x);
    total += static_cast<uint64_t>(ASN1_STRING_length(sig));
    const EVP_PKEY *key = X509_get0_pubkey(x);
    total += key == nullptr ? 0 : static_cast<uint64_t>(EVP_PKEY_get_bits(key));
    // Every extension: OID, criticality and value; the six the library
    // decodes into fields are decoded here too.
    for (int i = 0; i < X509_get_ext_count(x); ++i) {
      X509_EXTENSION *e = X509_get_ext(x, i);
      total += static_cast<uint64_t>(OBJ_obj2nid(X509_EXTENSION_get_object(e))) +
               static_cast<uint64_t>(X509_EXTENSION_get_critical(e)) +
               static_cast<uint64_t>(ASN1_STRING_length(X509_EXTENSION_get_data(e)));
    }
    if (auto *bc = static_cast<BASIC_CONSTRAINTS *>(
            X509_get_ext_d2i(x, NID_basic_constraints, nullptr, nullptr))) {
      total += static_cast<uint64_t>(bc->ca) + (bc->pathlen != nullptr);
      BASIC_CONSTRAINTS_free(bc);
    }
    if (auto *aki = static_cast<AUTHORITY_KEYID *>(
            X509_get_ext_d2i(x, NID_authority_key_identifier, nullptr, nullptr))) {
      total += aki->keyid != nullptr ? static_cast<uint64_t>(ASN1_STRING_length(aki->keyid)) : 0;
      AUTHORITY_KEYID_free(aki);
    }
    if (auto *ski = static_cast<ASN1_OCTET_STRING *>(
            X509_get_ext_d2i(x, NID_subject_key_identifier, nullptr, nullptr))) {
      total += static_cast<uint64_t>(ASN1_STRING_length(ski));
      ASN1_OCTET_STRING_free(ski);
    }
    if (auto *ku =
            static_cast<ASN1_BIT_STRING *>(X509_get_ext_d2i(x, NID_key_usage, nullptr, nullptr))) {
      total += static_cast<uint64_t>(ASN1_STRING_length(ku));
      ASN1_BIT_STRING_free(ku);
    }
    if (auto *eku = static_cast<EXTENDED_KEY_USAGE *>(
            X509_get_ext_d2i(x, NID_ext_key_usage, nullptr, nullptr))) {
      total += static_cast<uint64_t>(sk_ASN1_OBJECT_num(eku));
      EXTENDED_KEY_USAGE_free(eku);
    }
    if (auto *dps = static_cast<CRL_DIST_POINTS *>(
            X509_get_ext_d2i(x, NID_crl_distribution_points, nullptr, nullptr))) {
      total += static_cast<uint64_t>(sk_DIST_POINT_num(dps));
      CRL_DIST_POINTS_free(dps);
    }
    bytes += static_cast<int64_t>(der.size());
    X509_free(x);
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  finish(state, bytes);
}

// ------------------------------------------------------------------ encode

// The leaf: a 2048-bit RSA key, a 16-byte serial, sha256WithRSAEncryption,
// issuer C/O/CN, subject C/ST/L/O/OU/CN/E, and every extension the setters
// produce (authority and subject key identifiers, key usage, a policy with
// a CPS pointer, subject and issuer alternative directory names, basic
// constraints, extended key usage, two CRL distribution points, one private
// extension).
struct Leaf {
  Bytes spkiKey;  // RSAPublicKey DER (the subjectPublicKey bits)
  EVP_PKEY *pkey = nullptr;
  Bytes serial = Bytes(16, 0x5A);
  Bytes keyId = Bytes(20, 0x11);
  Bytes issuerKeyId = Bytes(20, 0x22);
  Bytes signature = Bytes(256, 0xA5);
};

const Leaf &leaf() {
  static const Leaf l = [] {
    Leaf r;
    r.pkey = EVP_RSA_gen(2048);
    if (r.pkey == nullptr) {
      die("EVP_RSA_gen failed");
    }
    unsigned char *p = nullptr;
    const int n = i2d_PublicKey(r.pkey, &p);
    if (n <= 0) {
      die("i2d_PublicKey failed");
    }
    r.spkiKey.assign(p, p + n);
    OPENSSL_free(p);
    return r;
  }();
  return l;
}

// OID content octets, from the dotted text (libcrypto does the arithmetic).
Bytes oidOctets(const char *dotted) {
  ASN1_OBJECT *o = OBJ_txt2obj(dotted, 1);
  if (o == nullptr) {
    die("OBJ_txt2obj failed");
  }
  const unsigned char *p = OBJ_get0_data(o);
  Bytes b(p, p + OBJ_length(o));
  ASN1_OBJECT_free(o);
  return b;
}

struct LeafOids {
  Bytes sha256Rsa = oidOctets("1.2.840.113549.1.1.11");
  Bytes rsa = oidOctets("1.2.840.113549.1.1.1");
  Bytes policy = oidOctets("2.23.140.1.2.2");
  Bytes privateExt = oidOctets("1.3.6.1.4.1.11129.2.4.2");
};

const LeafOids &leafOids() {
  static const LeafOids o;
  return o;
}

constexpr uint32_t kNotBefore = 1767225600u;  // 2026-01-01T00:00:00Z
constexpr uint32_t kNotAfter = 1798761599u;   // 2026-12-31T23:59:59Z
const char kCps[] = "https://pki.example.com/cps";
const char kCrl1[] = "http://crl.example.com/ca.crl";
const char kCrl2[] = "http://crl2.example.com/ca.crl";
const uint8_t kKeyUsage[] = {0xA0};                       // digitalSignature, keyEncipherment
const uint8_t kExtKeyUsage[] = {0xC0, 0x00, 0x00, 0x00};  // serverAuth, clientAuth
const uint8_t kPrivateValue[] = {0x04, 0x02, 0x05, 0x00};

struct Text {
  int32_t id;
  const char *value;
};
const Text kLeafTexts[] = {
    {CERT_ISSUER_COUNTRYNAME, "DE"},
    {CERT_ISSUER_ORGANIZATIONNAME, "Example Trust Services"},
    {CERT_ISSUER_COMMONNAME, "Example Issuing CA 1"},
    {CERT_SUBJECT_COUNTRYNAME, "DE"},
    {CERT_SUBJECT_STATEORPROVINCENAME, "Bayern"},
    {CERT_SUBJECT_LOCALITYNAME, "Muenchen"},
    {CERT_SUBJECT_ORGANIZATIONNAME, "Example Shop GmbH"},
    {CERT_SUBJECT_ORGANIZATIONALUNITNAME, "Web Services"},
    {CERT_SUBJECT_COMMONNAME, "www.example.com"},
    {CERT_SUBJECT_EMAIL, "hostmaster@example.com"},
    {CERT_SUBJECT_ALT_ORGANIZATIONNAME, "Example Shop GmbH"},
    {CERT_SUBJECT_ALT_COMMONNAME, "shop.example.com"},
    {CERT_ISSUER_ALT_COMMONNAME, "Example Issuing CA 1"},
    {CERTEX_CERTPOLICY_CPS, kCps},
    {CERTEX_CRLDIST_FULLNAME, kCrl1},
    {CERTEX_CRLDIST_FULLNAME, kCrl2},
};

uint32_t fixedSignature(const uint8_t *, uint32_t, uint8_t *sig, uint32_t *sigLen,
                        const uint8_t *) {
  const Bytes &s = leaf().signature;
  if (sig != nullptr) {
    if (*sigLen < s.size()) {
      return 1;
    }
    std::memcpy(sig, s.data(), s.size());
  }
  *sigLen = static_cast<uint32_t>(s.size());
  return 0;
}

bool setChar(CertCtx *ctx, int32_t id, const Bytes &b) {
  return RyCert_SetCertAttributeChar(ctx, static_cast<uint32_t>(id), b.data(),
                                     static_cast<int32_t>(b.size())) == RYCERT_OK;
}

bool setText(CertCtx *ctx, int32_t id, const char *s) {
  return RyCert_SetCertAttributeChar(ctx, static_cast<uint32_t>(id),
                                     reinterpret_cast<const uint8_t *>(s),
                                     static_cast<int32_t>(std::strlen(s))) == RYCERT_OK;
}

// Builds and encodes the leaf into `out`; its length, or 0 on failure.
uint32_t oursBuildLeaf(Bytes &out) {
  const Leaf &l = leaf();
  const LeafOids &o = leafOids();
  CertCtx *ctx = nullptr;
  if (RyCert_CreateCertEncodeCtx(&ctx) != RYCERT_OK) {
    return 0;
  }
  const uint8_t unused[] = {0};
  bool ok =
      RyCert_SetCertAttributeInt(ctx, CERT_VERSION, 2) == RYCERT_OK &&
      RyCert_SetCertAttributeInt(ctx, CERT_VALIDFROM, kNotBefore) == RYCERT_OK &&
      RyCert_SetCertAttributeInt(ctx, CERT_VALIDTO, kNotAfter) == RYCERT_OK &&
      setChar(ctx, CERT_SERIALNUMBER, l.serial) &&
      setChar(ctx, CERT_INNER_SIGNATUREALGORITHM, o.sha256Rsa) &&
      setChar(ctx, CERT_OUTER_SIGNATUREALGORITHM, o.sha256Rsa) &&
      setChar(ctx, CERT_PUBLICKEY_ALGORITHM, o.rsa) &&
      setChar(ctx, CERT_SUBJECTPUBLICKEYINFO, l.spkiKey) &&
      setChar(ctx, CERTEX_AUTHORITYKEYIDENTIFIER, l.issuerKeyId) &&
      setChar(ctx, CERTEX_SUBJECTKEYIDENTIFIER, l.keyId) &&
      setChar(ctx, CERTEX_KEYUSAGE, Bytes(std::begin(kKeyUsage), std::end(kKeyUsage))) &&
      setChar(ctx, CERTEX_EXTKEY_USAGE, Bytes(std::begin(kExtKeyUsage), std::end(kExtKeyUsage))) &&
      setChar(ctx, CERTEX_CERTPOLICYID, o.policy) &&
      RyCert_SetCertAttributeChar(ctx, CERTEX_BASICCONSTRAINTS_CRITICAL, unused, 1) == RYCERT_OK &&
      RyCert_SetCertAttributePrivate(ctx, o.privateExt.data(),
                                     static_cast<int32_t>(o.privateExt.size()), 0, kPrivateValue,
                                     sizeof kPrivateValue) == RYCERT_OK &&
      RyCert_SetCertSignFunc(ctx, fixedSignature, nullptr, 0) == RYCERT_OK;
  for (const Text &t : kLeafTexts) {
    ok = ok && setText(ctx, t.id, t.value);
  }
  uint32_t n = 0;
  ok = ok && RyCert_EncodeCert(ctx, nullptr, &n) == RYCERT_OK;
  if (ok && out.size() < n) {
    out.resize(n);
  }
  ok = ok && RyCert_EncodeCert(ctx, out.data(), &n) == RYCERT_OK;
  RyCert_DestroyCertEncodeCtx(ctx);
  return ok ? n : 0;
}

// The same leaf with libcrypto's objects. The signing step is replaced as
// on our side: the TBSCertificate is encoded (what a signer gets), then the
// fixed signature and both algorithm identifiers are put in place.
uint32_t opensslBuildLeaf(Bytes &out) {
  const Leaf &l = leaf();
  X509 *x = X509_new();
  bool ok = x != nullptr && X509_set_version(x, 2) == 1;
  ASN1_INTEGER *serial = ASN1_INTEGER_new();
  ok = ok && serial != nullptr &&
       ASN1_STRING_set(serial, l.serial.data(), static_cast<int>(l.serial.size())) == 1 &&
       X509_set_serialNumber(x, serial) == 1;
  ASN1_INTEGER_free(serial);

  X509_NAME *issuer = X509_get_issuer_name(x), *subject = X509_get_subject_name(x);
  X509_NAME *subjectAlt = X509_NAME_new(), *issuerAlt = X509_NAME_new();
  struct Entry {
    X509_NAME *name;
    const char *field;
    int type;
    const char *value;
  };
  const Entry entries[] = {
      {issuer, "C", MBSTRING_ASC, "DE"},
      {issuer, "O", MBSTRING_ASC, "Example Trust Services"},
      {issuer, "CN", MBSTRING_ASC, "Example Issuing CA 1"},
      {subject, "C", MBSTRING_ASC, "DE"},
      {subject, "ST", MBSTRING_ASC, "Bayern"},
      {subject, "L", MBSTRING_ASC, "Muenchen"},
      {subject, "O", MBSTRING_ASC, "Example Shop GmbH"},
      {subject, "OU", MBSTRING_ASC, "Web Services"},
      {subject, "CN", MBSTRING_ASC, "www.example.com"},
      {subject, "emailAddress", MBSTRING_ASC, "hostmaster@example.com"},
      {subjectAlt, "O", MBSTRING_ASC, "Example Shop GmbH"},
      {subjectAlt, "CN", MBSTRING_ASC, "shop.example.com"},
      {issuerAlt, "CN", MBSTRING_ASC, "Example Issuing CA 1"},
  };
  for (const Entry &e : entries) {
    ok = ok && X509_NAME_add_entry_by_txt(e.name, e.field, e.type,
                                          reinterpret_cast<const unsigned char *>(e.value), -1, -1,
                                          0) == 1;
  }
  ok = ok && ASN1_TIME_set(X509_getm_notBefore(x), kNotBefore) != nullptr &&
       ASN1_TIME_set(X509_getm_notAfter(x), kNotAfter) != nullptr &&
       X509_set_pubkey(x, l.pkey) == 1;

  // authorityKeyIdentifier, subjectKeyIdentifier
  AUTHORITY_KEYID *aki = AUTHORITY_KEYID_new();
  ok = ok && aki != nullptr && (aki->keyid = ASN1_OCTET_STRING_new()) != nullptr &&
       ASN1_OCTET_STRING_set(aki->keyid, l.issuerKeyId.data(),
                             static_cast<int>(l.issuerKeyId.size())) == 1 &&
       X509_add1_ext_i2d(x, NID_authority_key_identifier, aki, 0, X509V3_ADD_APPEND) == 1;
  AUTHORITY_KEYID_free(aki);
  ASN1_OCTET_STRING *ski = ASN1_OCTET_STRING_new();
  ok = ok && ski != nullptr &&
       ASN1_OCTET_STRING_set(ski, l.keyId.data(), static_cast<int>(l.keyId.size())) == 1 &&
       X509_add1_ext_i2d(x, NID_subject_key_identifier, ski, 0, X509V3_ADD_APPEND) == 1;
  ASN1_OCTET_STRING_free(ski);

  // certificatePolicies: one policy with a CPS pointer
  CERTIFICATEPOLICIES *policies = CERTIFICATEPOLICIES_new();
  POLICYINFO *pi = POLICYINFO_new();
  POLICYQUALINFO *q = POLICYQUALINFO_new();
  ok = ok && policies != nullptr && pi != nullptr && q != nullptr;
  if (ok) {
    pi->policyid = OBJ_txt2obj("2.23.140.1.2.2", 1);
    q->pqualid = OBJ_nid2obj(NID_id_qt_cps);
    q->d.cpsuri = ASN1_IA5STRING_new();
    ok = ASN1_STRING_set(q->d.cpsuri, kCps, -1) == 1 &&
         (pi->qualifiers = sk_POLICYQUALINFO_new_null()) != nullptr &&
         sk_POLICYQUALINFO_push(pi->qualifiers, q) > 0;
    q = nullptr;
    ok = ok && sk_POLICYINFO_push(policies, pi) > 0;
    pi = nullptr;
    ok = ok && X509_add1_ext_i2d(x, NID_certificate_policies, policies, 0, X509V3_ADD_APPEND) == 1;
  }
  POLICYQUALINFO_free(q);
  POLICYINFO_free(pi);
  CERTIFICATEPOLICIES_free(policies);

  // issuerAltName, subjectAltName: one directoryName each
  for (const auto &[nid, name] :
       {std::pair{NID_issuer_alt_name, issuerAlt}, std::pair{NID_subject_alt_name, subjectAlt}}) {
    GENERAL_NAMES *names = GENERAL_NAMES_new();
    GENERAL_NAME *gn = GENERAL_NAME_new();
    ok = ok && names != nullptr && gn != nullptr;
    if (ok) {
      GENERAL_NAME_set0_value(gn, GEN_DIRNAME, X509_NAME_dup(name));
      ok = sk_GENERAL_NAME_push(names, gn) > 0;
      gn = nullptr;
      ok = ok && X509_add1_ext_i2d(x, nid, names, 0, X509V3_ADD_APPEND) == 1;
    }
    GENERAL_NAME_free(gn);
    GENERAL_NAMES_free(names);
  }

  // basicConstraints (critical, cA FALSE), keyUsage (critical), extKeyUsage
  BASIC_CONSTRAINTS *bc = BASIC_CONSTRAINTS_new();
  ok = ok && bc != nullptr &&
       X509_add1_ext_i2d(x, NID_basic_constraints, bc, 1, X509V3_ADD_APPEND) == 1;
  BASIC_CONSTRAINTS_free(bc);
  ASN1_BIT_STRING *ku = ASN1_BIT_STRING_new();
  ok = ok && ku != nullptr && ASN1_BIT_STRING_set_bit(ku, 0, 1) == 1 &&
       ASN1_BIT_STRING_set_bit(ku, 2, 1) == 1 &&
       X509_add1_ext_i2d(x, NID_key_usage, ku, 1, X509V3_ADD_APPEND) == 1;
  ASN1_BIT_STRING_free(ku);
  EXTENDED_KEY_USAGE *eku = sk_ASN1_OBJECT_new_null();
  ok = ok && eku != nullptr && sk_ASN1_OBJECT_push(eku, OBJ_nid2obj(NID_server_auth)) > 0 &&
       sk_ASN1_OBJECT_push(eku, OBJ_nid2obj(NID_client_auth)) > 0 &&
       X509_add1_ext_i2d(x, NID_ext_key_usage, eku, 0, X509V3_ADD_APPEND) == 1;
  sk_ASN1_OBJECT_free(eku);  // the objects are static

  // cRLDistributionPoints: two URIs
  CRL_DIST_POINTS *dps = sk_DIST_POINT_new_null();
  ok = ok && dps != nullptr;
  for (const char *uri : {kCrl1, kCrl2}) {
    DIST_POINT *dp = DIST_POINT_new();
    GENERAL_NAME *gn = GENERAL_NAME_new();
    ASN1_IA5STRING *s = ASN1_IA5STRING_new();
    ok = ok && dp != nullptr && gn != nullptr && s != nullptr && ASN1_STRING_set(s, uri, -1) == 1 &&
         (dp->distpoint = DIST_POINT_NAME_new()) != nullptr &&
         (dp->distpoint->name.fullname = GENERAL_NAMES_new()) != nullptr;
    if (ok) {
      dp->distpoint->type = 0;
      GENERAL_NAME_set0_value(gn, GEN_URI, s);
      s = nullptr;
      ok = sk_GENERAL_NAME_push(dp->distpoint->name.fullname, gn) > 0;
      gn = nullptr;
      ok = ok && sk_DIST_POINT_push(dps, dp) > 0;
      dp = nullptr;
    }
    ASN1_IA5STRING_free(s);
    GENERAL_NAME_free(gn);
    DIST_POINT_free(dp);
  }
  ok = ok && X509_add1_ext_i2d(x, NID_crl_distribution_points, dps, 0, X509V3_ADD_APPEND) == 1;
  CRL_DIST_POINTS_free(dps);

  // one private extension, its value as given
  ASN1_OBJECT *privOid = OBJ_txt2obj("1.3.6.1.4.1.11129.2.4.2", 1);
  ASN1_OCTET_STRING *privValue = ASN1_OCTET_STRING_new();
  ok = ok && privOid != nullptr && privValue != nullptr &&
       ASN1_OCTET_STRING_set(privValue, kPrivateValue, sizeof kPrivateValue) == 1;
  X509_EXTENSION *priv =
      ok ? X509_EXTENSION_create_by_OBJ(nullptr, privOid, 0, privValue) : nullptr;
  ok = ok && priv != nullptr && X509_add_ext(x, priv, -1) == 1;
  X509_EXTENSION_free(priv);
  ASN1_OCTET_STRING_free(privValue);
  ASN1_OBJECT_free(privOid);

  // The signing step without the RSA operation: both algorithm identifiers,
  // the TBSCertificate a signer would get, then the fixed signature.
  if (ok) {
    const X509_ALGOR *tbsAlg = X509_get0_tbs_sigalg(x);
    const X509_ALGOR *outerAlg = nullptr;
    const ASN1_BIT_STRING *sig = nullptr;
    X509_get0_signature(&sig, &outerAlg, x);
    ok = X509_ALGOR_set0(const_cast<X509_ALGOR *>(tbsAlg), OBJ_nid2obj(NID_sha256WithRSAEncryption),
                         V_ASN1_NULL, nullptr) == 1 &&
         X509_ALGOR_set0(const_cast<X509_ALGOR *>(outerAlg),
                         OBJ_nid2obj(NID_sha256WithRSAEncryption), V_ASN1_NULL, nullptr) == 1;
    unsigned char *tbs = nullptr;
    const int tbsLen = ok ? i2d_re_X509_tbs(x, &tbs) : 0;
    ok = ok && tbsLen > 0 &&
         ASN1_BIT_STRING_set(const_cast<ASN1_BIT_STRING *>(sig),
                             const_cast<unsigned char *>(l.signature.data()),
                             static_cast<int>(l.signature.size())) == 1;
    OPENSSL_free(tbs);
  }
  int n = 0;
  if (ok) {
    n = i2d_X509(x, nullptr);
    if (n > 0 && out.size() < static_cast<size_t>(n)) {
      out.resize(static_cast<size_t>(n));
    }
    unsigned char *w = out.data();
    ok = n > 0 && i2d_X509(x, &w) == n;
  }
  X509_NAME_free(subjectAlt);
  X509_NAME_free(issuerAlt);
  X509_free(x);
  return ok ? static_cast<uint32_t>(n) : 0;
}

template <uint32_t (*Build)(Bytes &)>
void encodeLeaf(benchmark::State &state) {
  leaf();  // the key and OIDs are made before the clock runs
  leafOids();
  Bytes out(4096);
  uint32_t n = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    n = Build(out);
    if (n == 0) {
      die("building the leaf certificate failed");
    }
    bytes += n;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  // Both sides must have built a certificate libcrypto reads.
  const unsigned char *p = out.data();
  X509 *x = d2i_X509(nullptr, &p, static_cast<long>(n));
  if (x == nullptr || X509_get_ext_count(x) != 10) {
    die("the leaf built is not the certificate expected");
  }
  X509_free(x);
  state.SetBytesProcessed(bytes);
}

const bool kRegistered = [] {
  struct Side {
    const char *what;
    const char *side;
    void (*fn)(benchmark::State &);
  };
  const Side sides[] = {
      {"BM_CertDecodeAll", "ours", oursDecodeAll},
      {"BM_CertDecodeAll", "mbedtls", mbedtlsDecodeAll},
      {"BM_CertDecodeAll", "openssl", opensslDecodeAll},
      {"BM_CertEncodeLeaf", "ours", encodeLeaf<oursBuildLeaf>},
      {"BM_CertEncodeLeaf", "openssl", encodeLeaf<opensslBuildLeaf>},
  };
  for (const Side &s : sides) {
    benchmark::RegisterBenchmark((std::string(s.what) + "/" + s.side).c_str(), s.fn)
        ->Unit(benchmark::kNanosecond);
  }
  return true;
}();

}  // namespace
