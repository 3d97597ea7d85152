/* cert_demo: issues a CA certificate and a server certificate signed by it,
 * writes both as PEM files, then decodes them again and prints what they
 * hold.
 *
 *   cert_demo <output directory>
 *
 * The library never holds a signing key: it hands the TBSCertificate to a
 * callback. Here the callback signs with libcrypto (RSA 2048, SHA-256);
 * keys live in this program only. */
#include <errno.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "rycert2.h"

/* ---------------------------------------------------------------- signing */

/* The key the callback signs with: the issuer's, set before each encode. */
static EVP_PKEY *signingKey;

/* RyCertSignFunc: first call (signature NULL) answers the length, the
 * second writes sha256WithRSAEncryption over the TBSCertificate. */
static uint32_t signWithLibcrypto(const uint8_t *tbs, uint32_t tbsLen, uint8_t *signature,
                                  uint32_t *signatureLen, const uint8_t *param) {
  (void)param;
  size_t n = (size_t)EVP_PKEY_get_size(signingKey);
  if (signature == NULL) {
    *signatureLen = (uint32_t)n;
    return 0;
  }
  EVP_MD_CTX *md = EVP_MD_CTX_new();
  n = *signatureLen;
  int ok = md != NULL && EVP_DigestSignInit(md, NULL, EVP_sha256(), NULL, signingKey) == 1 &&
           EVP_DigestSign(md, signature, &n, tbs, tbsLen) == 1;
  EVP_MD_CTX_free(md);
  if (!ok) {
    return 1;
  }
  *signatureLen = (uint32_t)n;
  return 0;
}

/* ---------------------------------------------------------------- building */

struct Text {
  uint32_t id;
  const char *value;
};

static uint32_t setBytes(CertCtx *ctx, uint32_t id, const uint8_t *p, size_t n) {
  return RyCert_SetCertAttributeChar(ctx, id, p, (int32_t)n);
}

static uint32_t setTexts(CertCtx *ctx, const struct Text *t, size_t n) {
  uint32_t st = RYCERT_OK;
  for (size_t i = 0; i < n && st == RYCERT_OK; ++i) {
    st = setBytes(ctx, t[i].id, (const uint8_t *)t[i].value, strlen(t[i].value));
  }
  return st;
}

/* The subjectPublicKey bits of an RSA key (the RSAPublicKey DER) and its
 * key identifier: the SHA-1 of those bits (RFC 5280, 4.2.1.2, method 1). */
struct Key {
  EVP_PKEY *pkey;
  uint8_t *rsaPublicKey;
  int rsaPublicKeyLen;
  uint8_t keyId[20];
};

static int makeKey(struct Key *k) {
  unsigned int idLen = 0;
  k->pkey = EVP_RSA_gen(2048);
  k->rsaPublicKey = NULL;
  k->rsaPublicKeyLen = k->pkey != NULL ? i2d_PublicKey(k->pkey, &k->rsaPublicKey) : 0;
  return k->rsaPublicKeyLen > 0 && EVP_Digest(k->rsaPublicKey, (size_t)k->rsaPublicKeyLen, k->keyId,
                                              &idLen, EVP_sha1(), NULL) == 1;
}

static void freeKey(struct Key *k) {
  OPENSSL_free(k->rsaPublicKey);
  EVP_PKEY_free(k->pkey);
}

/* The fields both certificates share: version 3, a random positive serial,
 * sha256WithRSAEncryption, validity, the subject key and both key ids. */
static uint32_t setCommon(CertCtx *ctx, const struct Key *subject, const struct Key *issuer,
                          uint32_t notBefore, uint32_t notAfter) {
  static const uint8_t sha256Rsa[] = RY_OID_SHA256_WITH_RSA;
  static const uint8_t rsa[] = RY_OID_RSA_ENCRYPTION;
  uint8_t serial[16];
  uint32_t st;
  if (RAND_bytes(serial, sizeof serial) != 1) {
    return 1;
  }
  serial[0] = (uint8_t)((serial[0] & 0x7F) | 0x10);
  if ((st = RyCert_SetCertAttributeInt(ctx, CERT_VERSION, 2)) != RYCERT_OK ||
      (st = RyCert_SetCertAttributeInt(ctx, CERT_VALIDFROM, notBefore)) != RYCERT_OK ||
      (st = RyCert_SetCertAttributeInt(ctx, CERT_VALIDTO, notAfter)) != RYCERT_OK ||
      (st = setBytes(ctx, CERT_SERIALNUMBER, serial, sizeof serial)) != RYCERT_OK ||
      (st = setBytes(ctx, CERT_INNER_SIGNATUREALGORITHM, sha256Rsa, sizeof sha256Rsa - 1)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERT_OUTER_SIGNATUREALGORITHM, sha256Rsa, sizeof sha256Rsa - 1)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERT_PUBLICKEY_ALGORITHM, rsa, sizeof rsa - 1)) != RYCERT_OK ||
      (st = setBytes(ctx, CERT_SUBJECTPUBLICKEYINFO, subject->rsaPublicKey,
                     (size_t)subject->rsaPublicKeyLen)) != RYCERT_OK ||
      (st = setBytes(ctx, CERTEX_SUBJECTKEYIDENTIFIER, subject->keyId, sizeof subject->keyId)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERTEX_AUTHORITYKEYIDENTIFIER, issuer->keyId, sizeof issuer->keyId)) !=
          RYCERT_OK) {
    return st;
  }
  return RYCERT_OK;
}

/* Encodes the context, signed with the issuer's key, into a fresh block. */
static uint32_t encode(CertCtx *ctx, const struct Key *issuer, uint8_t **der, uint32_t *derLen) {
  uint32_t n = 0, st;
  signingKey = issuer->pkey;
  if ((st = RyCert_SetCertSignFunc(ctx, signWithLibcrypto, NULL, 0)) != RYCERT_OK ||
      (st = RyCert_EncodeCert(ctx, NULL, &n)) != RYCERT_OK) {
    return st;
  }
  *der = malloc(n);
  if (*der == NULL) {
    return RYCERT_MemoryErr;
  }
  if ((st = RyCert_EncodeCert(ctx, *der, &n)) != RYCERT_OK) {
    free(*der);
    return st;
  }
  *derLen = n;
  return RYCERT_OK;
}

static const struct Text kCaName[] = {
    {CERT_ISSUER_COUNTRYNAME, "DE"},
    {CERT_ISSUER_ORGANIZATIONNAME, "Rycert Demo"},
    {CERT_ISSUER_COMMONNAME, "Rycert Demo Root CA"},
    {CERT_SUBJECT_COUNTRYNAME, "DE"},
    {CERT_SUBJECT_ORGANIZATIONNAME, "Rycert Demo"},
    {CERT_SUBJECT_COMMONNAME, "Rycert Demo Root CA"},
};

static const struct Text kLeafName[] = {
    {CERT_ISSUER_COUNTRYNAME, "DE"},
    {CERT_ISSUER_ORGANIZATIONNAME, "Rycert Demo"},
    {CERT_ISSUER_COMMONNAME, "Rycert Demo Root CA"},
    {CERT_SUBJECT_COUNTRYNAME, "DE"},
    {CERT_SUBJECT_STATEORPROVINCENAME, "Berlin"},
    {CERT_SUBJECT_LOCALITYNAME, "Berlin"},
    {CERT_SUBJECT_ORGANIZATIONNAME, "Rycert Demo"},
    {CERT_SUBJECT_ORGANIZATIONALUNITNAME, "Web Services"},
    {CERT_SUBJECT_COMMONNAME, "www.example.test"},
    {CERT_SUBJECT_EMAIL, "hostmaster@example.test"},
    {CERT_SUBJECT_ALT_ORGANIZATIONNAME, "Rycert Demo"},
    {CERT_SUBJECT_ALT_COMMONNAME, "shop.example.test"},
    {CERTEX_CRLDIST_FULLNAME, "http://crl.example.test/root.crl"},
    {CERTEX_CERTPOLICY_CPS, "https://pki.example.test/cps"},
};

/* The root: self-signed, cA TRUE with path length 0, keyCertSign and
 * cRLSign. */
static uint32_t buildCa(const struct Key *ca, uint32_t now, uint8_t **der, uint32_t *derLen) {
  static const uint8_t keyUsage[] = {0x06}; /* keyCertSign (5), cRLSign (6) */
  static const uint8_t pathLen[] = {0};
  static const uint8_t yes[] = {1};
  CertCtx *ctx = NULL;
  uint32_t st = RyCert_CreateCertEncodeCtx(&ctx);
  if (st == RYCERT_OK) {
    if ((st = setCommon(ctx, ca, ca, now - 60, now + 10u * 365 * 86400)) == RYCERT_OK &&
        (st = setTexts(ctx, kCaName, sizeof kCaName / sizeof kCaName[0])) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_AUTHORITY, yes, 1)) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_PATHLENCONSTRAINT, pathLen, 1)) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_KEYUSAGE, keyUsage, 1)) == RYCERT_OK) {
      st = encode(ctx, ca, der, derLen);
    }
    RyCert_DestroyCertEncodeCtx(ctx);
  }
  return st;
}

/* The server certificate: every extension the library writes. */
static uint32_t buildLeaf(const struct Key *leaf, const struct Key *ca, uint32_t now, uint8_t **der,
                          uint32_t *derLen) {
  static const uint8_t keyUsage[] = {0xA0}; /* digitalSignature (0), keyEncipherment (2) */
  static const uint8_t extKeyUsage[] = {RY_EKU1_SERVERAUTH | RY_EKU1_CLIENTAUTH, 0, 0, 0};
  static const uint8_t policy[] = {0x67, 0x81, 0x0C, 0x01, 0x02, 0x02}; /* 2.23.140.1.2.2 */
  static const uint8_t yes[] = {1};
  CertCtx *ctx = NULL;
  uint32_t st = RyCert_CreateCertEncodeCtx(&ctx);
  if (st == RYCERT_OK) {
    if ((st = setCommon(ctx, leaf, ca, now - 60, now + 365u * 86400)) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_CERTPOLICYID, policy, sizeof policy)) == RYCERT_OK &&
        (st = setTexts(ctx, kLeafName, sizeof kLeafName / sizeof kLeafName[0])) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_BASICCONSTRAINTS_CRITICAL, yes, 1)) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_KEYUSAGE, keyUsage, 1)) == RYCERT_OK &&
        (st = setBytes(ctx, CERTEX_EXTKEY_USAGE, extKeyUsage, sizeof extKeyUsage)) == RYCERT_OK) {
      st = encode(ctx, ca, der, derLen);
    }
    RyCert_DestroyCertEncodeCtx(ctx);
  }
  return st;
}

/* ---------------------------------------------------------------- files */

static int writePem(const char *path, const uint8_t *der, uint32_t derLen) {
  uint32_t b = (derLen + 2) / 3 * 4;
  size_t cap = 64 + b + 2 * ((b + 63) / 64) + 1;
  char *pem = malloc(cap);
  uint32_t pemLen = 0;
  FILE *f;
  int ok = pem != NULL &&
           DER2PEM_data_format(der, derLen, pem, &pemLen, "-----BEGIN CERTIFICATE-----",
                               "-----END CERTIFICATE-----") == 0 &&
           (f = fopen(path, "wb")) != NULL;
  if (ok) {
    ok = fwrite(pem, 1, pemLen, f) == pemLen;
    ok = fclose(f) == 0 && ok;
  }
  free(pem);
  return ok;
}

/* The certificate of a PEM file, as DER in a fresh block. */
static uint8_t *readPem(const char *path, uint32_t *derLen) {
  FILE *f = fopen(path, "rb");
  char text[8192];
  size_t n = f != NULL ? fread(text, 1, sizeof text, f) : 0;
  uint8_t *der = n > 0 ? malloc(n) : NULL;
  if (f != NULL) {
    fclose(f);
  }
  if (der != NULL && PEM2DER_data_format(text, (uint32_t)n, der, derLen) != 0) {
    free(der);
    der = NULL;
  }
  return der;
}

/* ---------------------------------------------------------------- printing */

static uint8_t *query(CertCtx *ctx, int32_t id, uint32_t *len) {
  static uint8_t buf[8192];
  *len = 0;
  if (RyCert_GetCertAttributeChar(ctx, id, NULL, len) != RYCERT_OK || *len > sizeof buf ||
      RyCert_GetCertAttributeChar(ctx, id, buf, len) != RYCERT_OK) {
    *len = 0;
  }
  return buf;
}

static void printHex(const uint8_t *p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    printf("%s%02X", i == 0 ? "" : ":", p[i]);
  }
}

static void printTime(const char *label, uint32_t t) {
  time_t tt = (time_t)t;
  struct tm tm;
  char text[32];
  gmtime_r(&tt, &tm);
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  printf("  %-22s %s\n", label, text);
}

/* The dotted form of OID content octets (X.690, 8.19). */
static void printOid(const uint8_t *p, uint32_t n) {
  unsigned long v = 0;
  int first = 1;
  for (uint32_t i = 0; i < n; ++i) {
    v = v << 7 | (p[i] & 0x7F);
    if (p[i] & 0x80) {
      continue;
    }
    if (first) {
      unsigned long arc = v < 80 ? v / 40 : 2;
      printf("%lu.%lu", arc, v - 40 * arc);
      first = 0;
    } else {
      printf(".%lu", v);
    }
    v = 0;
  }
}

/* Bits of the modulus of an RSAPublicKey. */
static int modulusBits(const uint8_t *der, uint32_t n) {
  RyRsaPublicKey key;
  if (n == 0 || Ry_Decode_PublicKey(&key, der, (int32_t)n) != RYCERT_OK) {
    return 0;
  }
  for (int i = 0; i < (int)sizeof key.modulus; ++i) {
    if (key.modulus[i] != 0) {
      int bits = 8 * ((int)sizeof key.modulus - i);
      for (uint8_t top = key.modulus[i]; (top & 0x80) == 0; top <<= 1) {
        --bits;
      }
      return bits;
    }
  }
  return 0;
}

static void printText(CertCtx *ctx, const char *label, int32_t id) {
  uint32_t n;
  const uint8_t *p = query(ctx, id, &n);
  printf("  %-22s %.*s\n", label, (int)n, (const char *)p);
}

static void printKeyUsage(CertCtx *ctx) {
  static const char *const kBits[] = {"digitalSignature", "nonRepudiation", "keyEncipherment",
                                      "dataEncipherment", "keyAgreement",   "keyCertSign",
                                      "cRLSign",          "encipherOnly",   "decipherOnly"};
  uint32_t n, critical;
  const uint8_t *p = query(ctx, CERTEX_KEYUSAGE_CRITICAL, &critical);
  critical = critical == 1 && p[0] != 0;
  p = query(ctx, CERTEX_KEYUSAGE, &n);
  if (n < 2) {
    return;
  }
  /* The BIT STRING content: the unused-bits octet, then the bits. */
  printf("  %-22s%s", "keyUsage", critical ? " (critical)" : "");
  for (uint32_t bit = 0; bit < 9 && bit < 8 * (n - 1); ++bit) {
    if (p[1 + bit / 8] & (0x80 >> (bit % 8))) {
      printf(" %s", kBits[bit]);
    }
  }
  printf("\n");
}

static void printBasicConstraints(CertCtx *ctx) {
  /* Both answer one byte when the extension is present, nothing else. */
  uint32_t n, present, caLen;
  uint8_t critical = *query(ctx, CERTEX_BASICCONSTRAINTS_CRITICAL, &present);
  if (present == 0) {
    return;
  }
  uint8_t ca = *query(ctx, CERTEX_AUTHORITY, &caLen);
  printf("  %-22s%s cA %s", "basicConstraints", critical ? " (critical)" : "",
         caLen == 1 && ca ? "TRUE" : "FALSE");
  const uint8_t *p = query(ctx, CERTEX_PATHLENCONSTRAINT, &n);
  if (n > 0) {
    unsigned long v = 0;
    for (uint32_t i = 0; i < n; ++i) {
      v = v << 8 | p[i];
    }
    printf(", pathLenConstraint %lu", v);
  }
  printf("\n");
}

static void printExtKeyUsage(CertCtx *ctx) {
  static const struct {
    int byte;
    uint8_t flag;
    const char *name;
  } kPurposes[] = {
      {0, RY_EKU1_SERVERAUTH, "serverAuth"},
      {0, RY_EKU1_CLIENTAUTH, "clientAuth"},
      {1, RY_EKU2_CODESIGNING, "codeSigning"},
      {1, RY_EKU2_EMAILPROTECTION, "emailProtection"},
      {1, RY_EKU2_IPSECENDSYSTEM, "ipsecEndSystem"},
      {1, RY_EKU2_IPSECTUNNEL, "ipsecTunnel"},
      {1, RY_EKU2_IPSECUSER, "ipsecUser"},
      {1, RY_EKU2_TIMESTAMPING, "timeStamping"},
  };
  uint32_t n;
  const uint8_t *p = query(ctx, CERTEX_EXTKEY_USAGE, &n);
  if (n != 4) {
    return;
  }
  printf("  %-22s", "extKeyUsage");
  for (size_t i = 0; i < sizeof kPurposes / sizeof kPurposes[0]; ++i) {
    if (p[kPurposes[i].byte] & kPurposes[i].flag) {
      printf(" %s", kPurposes[i].name);
    }
  }
  printf("\n");
}

static void printDistributionPoints(CertCtx *ctx) {
  for (;;) {
    uint32_t n;
    const uint8_t *p = query(ctx, CERTEX_CRLDIST_FULLNAME, &n); /* moves to the next */
    if (n < 2) {
      return;
    }
    /* One GeneralName as encoded: 86 = uniformResourceIdentifier. */
    uint32_t head = (p[1] & 0x80) ? 2u + (p[1] & 0x7Fu) : 2u;
    if (p[0] == 0x86 && head <= n) {
      printf("  %-22s URI %.*s\n", "cRLDistributionPoint", (int)(n - head), (const char *)p + head);
    } else {
      printf("  %-22s ", "cRLDistributionPoint");
      printHex(p, n);
      printf("\n");
    }
  }
}

/* An encoded record over bytes the caller keeps (the readers copy what
 * they return). */
static AnyBuf record(const uint8_t *p, uint32_t n) {
  AnyBuf r;
  memset(&r, 0, sizeof r);
  r.data = (uint8_t *)p;
  r.length = n;
  r.reserved = 2;
  r.tag = n == 0 ? 0 : (p[0] & 0x80) ? p[0] : (p[0] & 0x1Fu);
  return r;
}

/* OBJECT IDENTIFIER element (06, short length, content) in dotted form. */
static void printOidElement(const AnyBuf *e) {
  if (e->length >= 2 && e->data[0] == 0x06 && e->data[1] < 0x80) {
    printOid(e->data + 2, e->length - 2);
  }
}

/*   certificatePolicies ::= SEQUENCE OF PolicyInformation
 *   PolicyInformation ::= SEQUENCE { policyIdentifier, policyQualifiers
 *     SEQUENCE OF SEQUENCE { policyQualifierId, qualifier } OPTIONAL }
 * (RFC 5280, 4.2.1.4), read with the library's DER codec. */
static int printPolicies(const uint8_t *value, uint32_t n) {
  AnyBuf rec = record(value, n);
  AnyBuf *infos = NULL;
  if (RyAsn1_ReadSequence(&rec, &infos) != RYCERT_OK) {
    return 0;
  }
  for (AnyBuf *info = infos; info != NULL; info = info->next) {
    AnyBuf *parts = NULL, *qualifiers = NULL;
    if (RyAsn1_ReadSequence(info, &parts) == RYCERT_OK && parts != NULL) {
      printf(" ");
      printOidElement(parts);
      if (parts->next != NULL && RyAsn1_ReadSequence(parts->next, &qualifiers) == RYCERT_OK) {
        for (AnyBuf *q = qualifiers; q != NULL; q = q->next) {
          AnyBuf *qp = NULL, *text = NULL;
          if (RyAsn1_ReadSequence(q, &qp) == RYCERT_OK && qp != NULL && qp->next != NULL &&
              RyAsn1_ReadIa5String(qp->next, &text) == RYCERT_OK) {
            printf(" CPS %.*s", (int)text->length, (const char *)text->data);
          }
          Hx_FreeAnybuf(text);
          Hx_FreeAnybuf(qp);
        }
      }
    }
    Hx_FreeAnybuf(qualifiers);
    Hx_FreeAnybuf(parts);
  }
  Hx_FreeAnybuf(infos);
  return 1;
}

/*   GeneralNames ::= SEQUENCE OF GeneralName (RFC 5280, 4.2.1.6); a
 * directoryName [4] is shown as DN text, any other choice as its tag. */
static int printGeneralNames(const uint8_t *value, uint32_t n) {
  AnyBuf rec = record(value, n);
  AnyBuf *names = NULL;
  if (RyAsn1_ReadSequence(&rec, &names) != RYCERT_OK) {
    return 0;
  }
  for (AnyBuf *g = names; g != NULL; g = g->next) {
    AnyBuf *inner = NULL, text;
    RyNameNode *first = NULL;
    uint32_t id = 0;
    memset(&text, 0, sizeof text);
    if (g->data[0] == 0xA4 && RyAsn1_ReadExplicit(g, &inner, &id) == RYCERT_OK &&
        Hx_DecodeIssuerSubject(inner, &first) == RYCERT_OK &&
        Hx_GetDN(&text, &first) == RYCERT_OK) {
      printf(" dirName %.*s", (int)text.length, (const char *)text.data);
    } else {
      printf(" [%u]", g->data[0] & 0x1Fu);
    }
    Hx_ClearAnybuf(&text);
    Hx_FreeName(first);
    Hx_FreeAnybuf(inner);
  }
  Hx_FreeAnybuf(names);
  return 1;
}

/* The extensions the decoder keeps whole: certificatePolicies and the
 * alternative names are read here with the DER codec, anything else is
 * shown as hex. */
static void printPrivateExtensions(CertCtx *ctx) {
  static const uint8_t kPolicies[] = {0x55, 0x1D, 0x20};   /* 2.5.29.32 */
  static const uint8_t kSubjectAlt[] = {0x55, 0x1D, 0x11}; /* 2.5.29.17 */
  static const uint8_t kIssuerAlt[] = {0x55, 0x1D, 0x12};  /* 2.5.29.18 */
  uint32_t count = 0, oidLen, critical, valueLen;
  uint8_t oid[256], value[4096];
  RyCert_GetCertAttributePrivate(ctx, &count, NULL, &oidLen, &critical, NULL, &valueLen);
  for (uint32_t i = 1; i <= count; ++i) {
    uint32_t index = i;
    if (RyCert_GetCertAttributePrivate(ctx, &index, NULL, &oidLen, &critical, NULL, &valueLen) !=
            RYCERT_OK ||
        oidLen > sizeof oid || valueLen > sizeof value ||
        RyCert_GetCertAttributePrivate(ctx, &index, oid, &oidLen, &critical, value, &valueLen) !=
            RYCERT_OK) {
      continue;
    }
    const int is3 = oidLen == 3;
    const char *label = is3 && memcmp(oid, kPolicies, 3) == 0     ? "certificatePolicies"
                        : is3 && memcmp(oid, kSubjectAlt, 3) == 0 ? "subjectAltName"
                        : is3 && memcmp(oid, kIssuerAlt, 3) == 0  ? "issuerAltName"
                                                                  : NULL;
    if (label != NULL) {
      printf("  %-22s%s", label, critical ? " (critical)" : "");
      int shown =
          label[0] == 'c' ? printPolicies(value, valueLen) : printGeneralNames(value, valueLen);
      if (!shown) {
        printf(" ");
        printHex(value, valueLen);
      }
      printf("\n");
      continue;
    }
    printf("  extension ");
    printOid(oid, oidLen);
    printf("%s, %u bytes: ", critical ? " (critical)" : "", valueLen);
    printHex(value, valueLen);
    printf("\n");
  }
}

static int show(const char *path) {
  uint32_t derLen = 0, n, t;
  uint8_t *der = readPem(path, &derLen);
  CertCtx *ctx = NULL;
  if (der == NULL || RyCert_CreateCertDecodeCtx(&ctx) != RYCERT_OK) {
    free(der);
    fprintf(stderr, "cert_demo: cannot read %s\n", path);
    return 0;
  }
  uint32_t st = RyCert_DecodeCert(ctx, der, derLen);
  free(der);
  if (st != RYCERT_OK) {
    fprintf(stderr, "cert_demo: RyCert_DecodeCert(%s) failed: %u\n", path, st);
    RyCert_DestroyCertDecodeCtx(ctx);
    return 0;
  }
  printf("%s\n", path);
  printText(ctx, "subject", CERT_SUBJECT_DN);
  printText(ctx, "issuer", CERT_ISSUER_DN);
  const uint8_t *p = query(ctx, CERT_SERIALNUMBER, &n);
  printf("  %-22s ", "serial");
  printHex(p, n);
  printf("\n");
  if (RyCert_GetCertAttributeInt(ctx, CERT_VALIDFROM, &t) == RYCERT_OK) {
    printTime("notBefore", t);
  }
  if (RyCert_GetCertAttributeInt(ctx, CERT_VALIDTO, &t) == RYCERT_OK) {
    printTime("notAfter", t);
  }
  p = query(ctx, CERT_SUBJECTPUBLICKEYINFO, &n);
  printf("  %-22s RSA %d bits\n", "public key", modulusBits(p, n));
  p = query(ctx, CERTEX_SUBJECTKEYIDENTIFIER, &n);
  if (n > 0) {
    printf("  %-22s ", "subjectKeyIdentifier");
    printHex(p, n);
    printf("\n");
  }
  p = query(ctx, CERTEX_AUTHORITYKEYIDENTIFIER, &n);
  if (n > 0) {
    printf("  %-22s ", "authorityKeyIdentifier");
    printHex(p, n);
    printf("\n");
  }
  printBasicConstraints(ctx);
  printKeyUsage(ctx);
  printExtKeyUsage(ctx);
  printDistributionPoints(ctx);
  printPrivateExtensions(ctx);
  RyCert_DestroyCertDecodeCtx(ctx);
  return 1;
}

/* ---------------------------------------------------------------- main */

int main(int argc, char **argv) {
  const char *dir = argc > 1 ? argv[1] : "cert-demo";
  char caPath[4096], leafPath[4096];
  struct Key ca = {0}, leaf = {0};
  uint8_t *caDer = NULL, *leafDer = NULL;
  uint32_t caLen = 0, leafLen = 0, st;
  uint32_t now = (uint32_t)time(NULL);
  int ok = 0;

  if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "cert_demo: cannot create %s\n", dir);
    return 1;
  }
  snprintf(caPath, sizeof caPath, "%s/ca.pem", dir);
  snprintf(leafPath, sizeof leafPath, "%s/leaf.pem", dir);
  if (!makeKey(&ca) || !makeKey(&leaf)) {
    fprintf(stderr, "cert_demo: key generation failed\n");
  } else if ((st = buildCa(&ca, now, &caDer, &caLen)) != RYCERT_OK) {
    fprintf(stderr, "cert_demo: building the CA certificate failed: %u\n", st);
  } else if ((st = buildLeaf(&leaf, &ca, now, &leafDer, &leafLen)) != RYCERT_OK) {
    fprintf(stderr, "cert_demo: building the server certificate failed: %u\n", st);
  } else if (!writePem(caPath, caDer, caLen) || !writePem(leafPath, leafDer, leafLen)) {
    fprintf(stderr, "cert_demo: cannot write the PEM files in %s\n", dir);
  } else {
    printf("cert_demo: wrote %s (%u bytes DER) and %s (%u bytes DER) in %s\n\n", "ca.pem", caLen,
           "leaf.pem", leafLen, dir);
    ok = show(caPath);
    printf("\n");
    ok = show(leafPath) && ok;
  }
  free(caDer);
  free(leafDer);
  freeKey(&ca);
  freeKey(&leaf);
  return ok ? 0 : 1;
}
