/* cert_demo: a small CA run entirely through the token. It issues a CA
 * certificate and a server certificate signed by it, a certification
 * request (PKCS#10) for the server key and a CRL of the CA, writes them
 * as PEM files, decodes them again, prints what they hold and checks
 * every signature.
 *
 *   cert_demo <output directory>
 *
 * The library never holds a signing key: each encoder hands the signed
 * part to a callback. Here the callback signs with Ry_SignData, so the
 * keys never leave the PKCS#11 token: the token generates each RSA-2048
 * key pair, the private half is imported back into the token under a key
 * index, and signing goes by that index. The soft token keeps imported
 * keys in the folder named by RYPKCS11_STORE. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>

#include "rycert2.h"

/* ---------------------------------------------------------------- keys */

/* Token key indexes of the two keys (1..100). */
enum { CA_KEY = 1, LEAF_KEY = 2 };

/* A key held by the token: its index, the public half as RSAPublicKey
 * DER (the subjectPublicKey bits) and its key identifier. */
struct Key {
  int32_t index;
  uint8_t publicKey[600];
  uint32_t publicKeyLen;
  uint8_t keyId[20];
};

/* The key identifier: the SHA-1 of the RSAPublicKey DER (RFC 5280,
 * 4.2.1.2, method 1), computed by the token. A sha1WithRSAEncryption
 * signature, opened again with the public key (raw RSA), is the PKCS#1
 * block 00 01 FF .. FF 00 DigestInfo, and the DigestInfo ends with the
 * 20 bytes of the hash. */
static uint32_t keyIdentifier(struct Key *k) {
  static const uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                            0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
  uint8_t signature[256], block[256];
  uint32_t signatureLen = sizeof signature, blockLen = sizeof block, st;
  if ((st = Ry_SignData(k->index, NULL, 0, k->publicKey, k->publicKeyLen, signature, &signatureLen,
                        SIGALG_SHA1_RSA)) != 0 ||
      (st = Ry_EncData(k->index, NULL, 0, signature, signatureLen, block, &blockLen)) != 0) {
    return st;
  }
  if (blockLen < 35 || memcmp(block + blockLen - 35, kSha1DigestInfo, 15) != 0) {
    return RYCERT_InvalidLengthErr;
  }
  memcpy(k->keyId, block + blockLen - 20, 20);
  return 0;
}

/* Has the token generate an RSA-2048 key pair and imports the private
 * half under `index`; only the public half stays in this program. */
static uint32_t makeKey(struct Key *k, int32_t index) {
  /* The encoders take no capacity: a 2048-bit key needs at most 270 bytes
   * public and 1200 private, the buffers have room to spare. */
  uint8_t privateKey[2048];
  uint32_t privateKeyLen = sizeof privateKey, st;
  k->index = index;
  k->publicKeyLen = sizeof k->publicKey;
  st = Ry_GenKeypair(0, 2048, 0, k->publicKey, &k->publicKeyLen, privateKey, &privateKeyLen);
  if (st == 0) {
    st = Ry_PutKeypair(index, 0, 0, 0, privateKey, privateKeyLen);
  }
  memset(privateKey, 0, sizeof privateKey);
  return st != 0 ? st : keyIdentifier(k);
}

/* ---------------------------------------------------------------- signing */

/* RyCertSignFunc for all three encoders: sha256WithRSAEncryption by the
 * token key whose index is the one parameter byte given to
 * RyCert_Set*SignFunc. The first call (signature NULL) only asks for the
 * length: every key here is RSA-2048, so 256 bytes. */
static uint32_t signWithToken(const uint8_t *tbs, uint32_t tbsLen, uint8_t *signature,
                              uint32_t *signatureLen, const uint8_t *param) {
  if (signature == NULL) {
    *signatureLen = 256;
    return 0;
  }
  return Ry_SignData(param[0], NULL, 0, tbs, tbsLen, signature, signatureLen, SIGALG_SHA256_RSA);
}

static const uint8_t kSha256Rsa[] = RY_OID_SHA256_WITH_RSA;
static const uint8_t kRsaEncryption[] = RY_OID_RSA_ENCRYPTION;

/* A positive serial number of 16 random bytes. */
static int randomSerial(uint8_t serial[16]) {
  if (getrandom(serial, 16, 0) != 16) {
    return 0;
  }
  serial[0] = (uint8_t)((serial[0] & 0x7F) | 0x10);
  return 1;
}

/* ---------------------------------------------------------------- certificates */

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

/* The fields both certificates share: version 3, a random positive serial,
 * sha256WithRSAEncryption, validity, the subject key and both key ids. */
static uint32_t setCommon(CertCtx *ctx, const struct Key *subject, const struct Key *issuer,
                          uint32_t notBefore, uint32_t notAfter) {
  uint8_t serial[16];
  uint32_t st;
  if (!randomSerial(serial)) {
    return 1;
  }
  if ((st = RyCert_SetCertAttributeInt(ctx, CERT_VERSION, 2)) != RYCERT_OK ||
      (st = RyCert_SetCertAttributeInt(ctx, CERT_VALIDFROM, notBefore)) != RYCERT_OK ||
      (st = RyCert_SetCertAttributeInt(ctx, CERT_VALIDTO, notAfter)) != RYCERT_OK ||
      (st = setBytes(ctx, CERT_SERIALNUMBER, serial, sizeof serial)) != RYCERT_OK ||
      (st = setBytes(ctx, CERT_INNER_SIGNATUREALGORITHM, kSha256Rsa, RY_OID_RSA_LEN)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERT_OUTER_SIGNATUREALGORITHM, kSha256Rsa, RY_OID_RSA_LEN)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERT_PUBLICKEY_ALGORITHM, kRsaEncryption, RY_OID_RSA_LEN)) != RYCERT_OK ||
      (st = setBytes(ctx, CERT_SUBJECTPUBLICKEYINFO, subject->publicKey, subject->publicKeyLen)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERTEX_SUBJECTKEYIDENTIFIER, subject->keyId, sizeof subject->keyId)) !=
          RYCERT_OK ||
      (st = setBytes(ctx, CERTEX_AUTHORITYKEYIDENTIFIER, issuer->keyId, sizeof issuer->keyId)) !=
          RYCERT_OK) {
    return st;
  }
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

/* Signs the certificate with the issuer's token key and hands out its
 * DER in a fresh block. Like every encoder, RyCert_EncodeCert signs on
 * the first call (which answers the length) and keeps the result. */
static uint32_t encodeCert(CertCtx *ctx, const struct Key *issuer, uint8_t **der,
                           uint32_t *derLen) {
  const uint8_t keyIndex = (uint8_t)issuer->index;
  uint32_t st = RyCert_SetCertSignFunc(ctx, signWithToken, &keyIndex, 1);
  if (st == RYCERT_OK) {
    st = RyCert_EncodeCert(ctx, NULL, derLen);
  }
  if (st == RYCERT_OK && (*der = malloc(*derLen)) == NULL) {
    st = RYCERT_MemoryErr;
  }
  return st == RYCERT_OK ? RyCert_EncodeCert(ctx, *der, derLen) : st;
}

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
      st = encodeCert(ctx, ca, der, derLen);
    }
    RyCert_DestroyCertEncodeCtx(ctx);
  }
  return st;
}

/* The server certificate: every extension the library writes. Its
 * validity lies within the CA's, as Ry_VerifyCert requires. */
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
      st = encodeCert(ctx, ca, der, derLen);
    }
    RyCert_DestroyCertEncodeCtx(ctx);
  }
  return st;
}

/* ---------------------------------------------------------------- request */

/* The server's request: its subject, its public key, two attributes, and
 * a signature by its own key (PKCS#10 requests are self-signed). */
static uint32_t buildRequest(const struct Key *leaf, uint8_t **der, uint32_t *derLen) {
  static const struct {
    uint32_t id;
    const char *value;
  } kSubject[] = {
      {CSR_SUBJECT_COUNTRYNAME, "DE"},
      {CSR_SUBJECT_STATEORPROVINCENAME, "Berlin"},
      {CSR_SUBJECT_LOCALITYNAME, "Berlin"},
      {CSR_SUBJECT_ORGANIZATIONNAME, "Rycert Demo"},
      {CSR_SUBJECT_ORGANIZATIONALUNITNAME, "Web Services"},
      {CSR_SUBJECT_COMMONNAME, "www.example.test"},
      {CSR_SUBJECT_EMAIL, "hostmaster@example.test"},
  };
  /* Attribute types (OID content octets) and values (one DER element). */
  static const uint8_t kChallengePassword[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                               0x0D, 0x01, 0x09, 0x07}; /* 1.2.840.113549.1.9.7 */
  static const uint8_t kUnstructuredName[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                              0x0D, 0x01, 0x09, 0x02}; /* 1.2.840.113549.1.9.2 */
  static const uint8_t kPassword[] = "\x0C\x0Eopen sesame 42";         /* UTF8String */
  static const uint8_t kWebShop[] = "\x0C\x08Web shop";                /* UTF8String */
  const uint8_t keyIndex = (uint8_t)leaf->index;
  CsrCtx *ctx = NULL;
  uint32_t st = RyCert_CreateCsrEncodeCtx(&ctx);
  if (st != RYCERT_OK) {
    return st;
  }
  st = RyCert_SetCsrAttributeInt(ctx, CSR_VERSION, 0);
  for (size_t i = 0; i < sizeof kSubject / sizeof kSubject[0] && st == RYCERT_OK; ++i) {
    st = RyCert_SetCsrAttributeChar(ctx, kSubject[i].id, (const uint8_t *)kSubject[i].value,
                                    (int32_t)strlen(kSubject[i].value));
  }
  if (st == RYCERT_OK &&
      (st = RyCert_SetCsrAttributeChar(ctx, CSR_PUBLICKEY_ALGORITHM, kRsaEncryption,
                                       RY_OID_RSA_LEN)) == RYCERT_OK &&
      (st = RyCert_SetCsrAttributeChar(ctx, CSR_SUBJECTPUBLICKEYINFO, leaf->publicKey,
                                       (int32_t)leaf->publicKeyLen)) == RYCERT_OK &&
      (st = RyCert_SetCsrAttributeChar(ctx, CSR_OUTER_SIGNATUREALGORITHM, kSha256Rsa,
                                       RY_OID_RSA_LEN)) == RYCERT_OK &&
      (st = RyCert_SetCsrAttributePrivate(ctx, kChallengePassword, sizeof kChallengePassword,
                                          kPassword, sizeof kPassword - 1)) == RYCERT_OK &&
      (st = RyCert_SetCsrAttributePrivate(ctx, kUnstructuredName, sizeof kUnstructuredName,
                                          kWebShop, sizeof kWebShop - 1)) == RYCERT_OK &&
      (st = RyCert_SetCsrSignFunc(ctx, signWithToken, &keyIndex, 1)) == RYCERT_OK &&
      (st = RyCert_EncodeCsr(ctx, NULL, derLen)) == RYCERT_OK) {
    *der = malloc(*derLen);
    st = *der == NULL ? RYCERT_MemoryErr : RyCert_EncodeCsr(ctx, *der, derLen);
  }
  RyCert_DestroyCsrEncodeCtx(ctx);
  return st;
}

/* ---------------------------------------------------------------- CRL */

/* The CA's CRL (version 2), valid for a week: it revokes one earlier
 * certificate, whose key was compromised a day ago. The issuer name is
 * the CA's subject, component by component. */
static uint32_t buildCrl(const struct Key *ca, uint32_t now, uint8_t **der, uint32_t *derLen) {
  static const struct {
    uint32_t id;
    const char *value;
  } kIssuer[] = {
      {CRL_ISSUER_COUNTRYNAME, "DE"},
      {CRL_ISSUER_ORGANIZATIONNAME, "Rycert Demo"},
      {CRL_ISSUER_COMMONNAME, "Rycert Demo Root CA"},
  };
  static const uint8_t kRevokedSerial[] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  static const uint8_t kKeyCompromise[] = {1}; /* CRLReason keyCompromise */
  const uint8_t keyIndex = (uint8_t)ca->index;
  CrlCtx *ctx = NULL;
  uint32_t st = RyCert_CreateCrlEncodeCtx(&ctx);
  if (st != RYCERT_OK) {
    return st;
  }
  st = RyCert_SetCrlAttributeInt(ctx, CRL_VERSION, 1);
  for (size_t i = 0; i < sizeof kIssuer / sizeof kIssuer[0] && st == RYCERT_OK; ++i) {
    st = RyCert_SetCrlAttributeChar(ctx, kIssuer[i].id, (const uint8_t *)kIssuer[i].value,
                                    (int32_t)strlen(kIssuer[i].value));
  }
  /* An entry: its serial number first, then its date and reason. */
  if (st == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeChar(ctx, CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa,
                                       RY_OID_RSA_LEN)) == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeChar(ctx, CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa,
                                       RY_OID_RSA_LEN)) == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeInt(ctx, CRL_THISUPDATE, now)) == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeInt(ctx, CRL_NEXTUPDATE, now + 7u * 86400)) == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeChar(ctx, CRL_CERT_SERIALNUMBER, kRevokedSerial,
                                       sizeof kRevokedSerial)) == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeInt(ctx, CRL_CERT_REVOCATIONDATE, now - 86400)) == RYCERT_OK &&
      (st = RyCert_SetCrlAttributeChar(ctx, CRLEX_CRLREASON, kKeyCompromise,
                                       sizeof kKeyCompromise)) == RYCERT_OK &&
      (st = RyCert_SetCrlSignFunc(ctx, signWithToken, &keyIndex, 1)) == RYCERT_OK &&
      (st = RyCert_EncodeCrl(ctx, NULL, derLen)) == RYCERT_OK) {
    *der = malloc(*derLen);
    st = *der == NULL ? RYCERT_MemoryErr : RyCert_EncodeCrl(ctx, *der, derLen);
  }
  RyCert_DestroyCrlEncodeCtx(ctx);
  return st;
}

/* ---------------------------------------------------------------- files */

static int writePem(const char *path, const char *label, const uint8_t *der, uint32_t derLen) {
  char begin[64], end[64];
  uint32_t b = (derLen + 2) / 3 * 4;
  size_t cap = 128 + b + 2 * ((b + 63) / 64) + 1;
  char *pem = malloc(cap);
  uint32_t pemLen = 0;
  FILE *f;
  snprintf(begin, sizeof begin, "-----BEGIN %s-----", label);
  snprintf(end, sizeof end, "-----END %s-----", label);
  int ok = pem != NULL && DER2PEM_data_format(der, derLen, pem, &pemLen, begin, end) == 0 &&
           (f = fopen(path, "wb")) != NULL;
  if (ok) {
    ok = fwrite(pem, 1, pemLen, f) == pemLen;
    ok = fclose(f) == 0 && ok;
  }
  free(pem);
  return ok;
}

/* The object of a PEM file, as DER in a fresh block. */
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

static int showCert(const char *path) {
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

/* The subject of a request as DN text: the request has no text query, so
 * the Name is taken from the CertificationRequestInfo with the DER codec
 *   SEQUENCE { version, subject Name, subjectPKInfo, attributes [0] }. */
static void printRequestSubject(CsrCtx *ctx) {
  static uint8_t info[8192];
  uint32_t n = 0;
  AnyBuf *fields = NULL, text;
  RyNameNode *first = NULL;
  memset(&text, 0, sizeof text);
  if (RyCert_GetCsrAttributeChar(ctx, CSR_TBS_CSR, NULL, &n) == RYCERT_OK && n <= sizeof info &&
      RyCert_GetCsrAttributeChar(ctx, CSR_TBS_CSR, info, &n) == RYCERT_OK) {
    AnyBuf rec = record(info, n);
    if (RyAsn1_ReadSequence(&rec, &fields) == RYCERT_OK && fields != NULL && fields->next != NULL &&
        Hx_DecodeIssuerSubject(fields->next, &first) == RYCERT_OK &&
        Hx_GetDN(&text, &first) == RYCERT_OK) {
      printf("  %-22s %.*s\n", "subject", (int)text.length, (const char *)text.data);
    }
  }
  Hx_ClearAnybuf(&text);
  Hx_FreeName(first);
  Hx_FreeAnybuf(fields);
}

/* One request attribute: its type, and its value as text when it is a
 * character string (tags 0C UTF8String, 13 PrintableString, 16
 * IA5String) of short length, else as hex. */
static void printRequestAttribute(const uint8_t *type, uint32_t typeLen, const uint8_t *value,
                                  uint32_t valueLen) {
  static const uint8_t kPkcs9[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09};
  const char *name = NULL;
  if (typeLen == 9 && memcmp(type, kPkcs9, 8) == 0) {
    name = type[8] == 7 ? "challengePassword" : type[8] == 2 ? "unstructuredName" : NULL;
  }
  printf("  %-22s ", "attribute");
  if (name != NULL) {
    printf("%s", name);
  } else {
    printOid(type, typeLen);
  }
  const int text = valueLen >= 2 && (value[0] == 0x0C || value[0] == 0x13 || value[0] == 0x16) &&
                   value[1] < 0x80 && value[1] + 2u == valueLen;
  if (text) {
    printf(" \"%.*s\"\n", (int)value[1], (const char *)value + 2);
  } else {
    printf(" ");
    printHex(value, valueLen);
    printf("\n");
  }
}

static int showRequest(const char *path) {
  uint32_t derLen = 0, n = 0, count = 0, version = 0;
  uint8_t *der = readPem(path, &derLen);
  CsrCtx *ctx = NULL;
  if (der == NULL || RyCert_CreateCsrDecodeCtx(&ctx) != RYCERT_OK) {
    free(der);
    fprintf(stderr, "cert_demo: cannot read %s\n", path);
    return 0;
  }
  uint32_t st = RyCert_DecodeCsr(ctx, der, derLen);
  free(der);
  if (st != RYCERT_OK) {
    fprintf(stderr, "cert_demo: RyCert_DecodeCsr(%s) failed: %u\n", path, st);
    RyCert_DestroyCsrDecodeCtx(ctx);
    return 0;
  }
  printf("%s\n", path);
  if (RyCert_GetCsrAttributeInt(ctx, CSR_VERSION, &version) == RYCERT_OK) {
    printf("  %-22s %u (PKCS#10 v1)\n", "version", version);
  }
  printRequestSubject(ctx);
  static uint8_t key[1024];
  if (RyCert_GetCsrAttributeChar(ctx, CSR_SUBJECTPUBLICKEYINFO, NULL, &n) == RYCERT_OK &&
      n <= sizeof key && RyCert_GetCsrAttributeChar(ctx, CSR_SUBJECTPUBLICKEYINFO, key, &n) == 0) {
    printf("  %-22s RSA %d bits\n", "public key", modulusBits(key, n));
  }
  /* Index 0 answers the number of attributes; then each by its index. */
  RyCert_GetCsrAttributePrivate(ctx, &count, NULL, NULL, NULL, NULL);
  for (uint32_t i = 1; i <= count; ++i) {
    uint8_t type[128], value[1024];
    uint32_t index = i, typeLen = 0, valueLen = 0;
    if (RyCert_GetCsrAttributePrivate(ctx, &index, NULL, &typeLen, NULL, &valueLen) == RYCERT_OK &&
        typeLen <= sizeof type && valueLen <= sizeof value &&
        RyCert_GetCsrAttributePrivate(ctx, &index, type, &typeLen, value, &valueLen) == RYCERT_OK) {
      printRequestAttribute(type, typeLen, value, valueLen);
    }
  }
  RyCert_DestroyCsrDecodeCtx(ctx);
  return 1;
}

static const char *reasonName(uint8_t code) {
  static const char *const kReasons[] = {
      "unspecified",   "keyCompromise",        "cACompromise",    "affiliationChanged",
      "superseded",    "cessationOfOperation", "certificateHold", "(7)",
      "removeFromCRL", "privilegeWithdrawn",   "aACompromise"};
  return code < sizeof kReasons / sizeof kReasons[0] ? kReasons[code] : "(unknown)";
}

static int showCrl(const char *path) {
  uint32_t derLen = 0, t, version = 0;
  uint8_t *der = readPem(path, &derLen);
  CrlCtx *ctx = NULL;
  if (der == NULL || RyCert_CreateCrlDecodeCtx(&ctx) != RYCERT_OK) {
    free(der);
    fprintf(stderr, "cert_demo: cannot read %s\n", path);
    return 0;
  }
  uint32_t st = RyCert_DecodeCrl(ctx, der, derLen);
  free(der);
  if (st != RYCERT_OK) {
    fprintf(stderr, "cert_demo: RyCert_DecodeCrl(%s) failed: %u\n", path, st);
    RyCert_DestroyCrlDecodeCtx(ctx);
    return 0;
  }
  printf("%s\n", path);
  /* A v1 CRL has no version field: the query then leaves the value as it
   * was, so preset it. */
  if (RyCert_GetCrlAttributeInt(ctx, CRL_VERSION, &version) == RYCERT_OK) {
    printf("  %-22s v%u\n", "version", version + 1);
  }
  uint8_t text[1024];
  uint32_t n = 0;
  if (RyCert_GetCrlAttributeChar(ctx, CRL_ISSUER_DN, NULL, &n) == RYCERT_OK && n <= sizeof text &&
      RyCert_GetCrlAttributeChar(ctx, CRL_ISSUER_DN, text, &n) == RYCERT_OK) {
    printf("  %-22s %.*s\n", "issuer", (int)n, (const char *)text);
  }
  if (RyCert_GetCrlAttributeInt(ctx, CRL_THISUPDATE, &t) == RYCERT_OK) {
    printTime("thisUpdate", t);
  }
  t = 0;
  if (RyCert_GetCrlAttributeInt(ctx, CRL_NEXTUPDATE, &t) == RYCERT_OK && t != 0) {
    printTime("nextUpdate", t);
  }
  /* The revoked entries, through the cursor: the entry queries read the
   * entry under it, CRL_CERT_NEXT moves it on, and past the last one the
   * serial number has length 0. */
  for (;;) {
    uint8_t serial[64], reason[4];
    uint32_t serialLen = 0, reasonLen = 0, date = 0;
    if (RyCert_GetCrlAttributeChar(ctx, CRL_CERT_SERIALNUMBER, NULL, &serialLen) != RYCERT_OK ||
        serialLen == 0 || serialLen > sizeof serial ||
        RyCert_GetCrlAttributeChar(ctx, CRL_CERT_SERIALNUMBER, serial, &serialLen) != RYCERT_OK) {
      break;
    }
    printf("  %-22s ", "revoked serial");
    printHex(serial, serialLen);
    printf("\n");
    if (RyCert_GetCrlAttributeInt(ctx, CRL_CERT_REVOCATIONDATE, &date) == RYCERT_OK) {
      printTime("  revocationDate", date);
    }
    /* An entry without a reason leaves the length at 0. */
    if (RyCert_GetCrlAttributeChar(ctx, CRLEX_CRLREASON, NULL, &reasonLen) == RYCERT_OK &&
        reasonLen == 1 &&
        RyCert_GetCrlAttributeChar(ctx, CRLEX_CRLREASON, reason, &reasonLen) == RYCERT_OK) {
      printf("  %-22s %s (%u)\n", "  reason", reasonName(reason[0]), reason[0]);
    }
    RyCert_GetCrlAttributeChar(ctx, CRL_CERT_NEXT, NULL, &serialLen);
  }
  RyCert_DestroyCrlDecodeCtx(ctx);
  return 1;
}

/* ---------------------------------------------------------------- checks */

/* Prints one verification result; 1 when it passed. */
static int report(const char *what, uint32_t st) {
  if (st == 0) {
    printf("  %-44s ok\n", what);
  } else {
    printf("  %-44s FAILED, status %u (0x%X)\n", what, st, st);
  }
  return st == 0;
}

/* ---------------------------------------------------------------- main */

struct Output {
  const char *file;  /* name in the output directory */
  const char *label; /* PEM label */
  uint8_t *der;
  uint32_t derLen;
  char path[4096];
};

int main(int argc, char **argv) {
  const char *dir = argc > 1 ? argv[1] : "cert-demo";
  struct Output ca = {"ca.pem", "CERTIFICATE", NULL, 0, ""};
  struct Output leaf = {"leaf.pem", "CERTIFICATE", NULL, 0, ""};
  struct Output req = {"leaf-req.pem", "CERTIFICATE REQUEST", NULL, 0, ""};
  struct Output crl = {"ca.crl.pem", "X509 CRL", NULL, 0, ""};
  struct Output *outputs[] = {&ca, &leaf, &req, &crl};
  struct Key caKey, leafKey;
  uint32_t now = (uint32_t)time(NULL), st;
  int ok = 0;

  if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "cert_demo: cannot create %s\n", dir);
    return 1;
  }
  if ((st = Ry_Initialize()) != 0) {
    fprintf(stderr, "cert_demo: Ry_Initialize failed: 0x%X\n", st);
    return 1;
  }
  if ((st = makeKey(&caKey, CA_KEY)) != 0 || (st = makeKey(&leafKey, LEAF_KEY)) != 0) {
    fprintf(stderr, "cert_demo: making a token key failed: 0x%X\n", st);
  } else if ((st = buildCa(&caKey, now, &ca.der, &ca.derLen)) != RYCERT_OK) {
    fprintf(stderr, "cert_demo: building the CA certificate failed: %u\n", st);
  } else if ((st = buildLeaf(&leafKey, &caKey, now, &leaf.der, &leaf.derLen)) != RYCERT_OK) {
    fprintf(stderr, "cert_demo: building the server certificate failed: %u\n", st);
  } else if ((st = buildRequest(&leafKey, &req.der, &req.derLen)) != RYCERT_OK) {
    fprintf(stderr, "cert_demo: building the request failed: %u\n", st);
  } else if ((st = buildCrl(&caKey, now, &crl.der, &crl.derLen)) != RYCERT_OK) {
    fprintf(stderr, "cert_demo: building the CRL failed: %u\n", st);
  } else {
    ok = 1;
    printf("cert_demo: token keys %d (CA) and %d (server), RSA 2048; wrote in %s:\n", CA_KEY,
           LEAF_KEY, dir);
    for (size_t i = 0; i < 4 && ok; ++i) {
      struct Output *o = outputs[i];
      snprintf(o->path, sizeof o->path, "%s/%s", dir, o->file);
      ok = writePem(o->path, o->label, o->der, o->derLen);
      printf("  %-14s %-20s %u bytes DER\n", o->file, o->label, o->derLen);
      if (!ok) {
        fprintf(stderr, "cert_demo: cannot write %s\n", o->path);
      }
    }
  }
  if (ok) {
    printf("\n");
    ok = showCert(ca.path);
    printf("\n");
    ok = showCert(leaf.path) && ok;
    printf("\n");
    ok = showRequest(req.path) && ok;
    printf("\n");
    ok = showCrl(crl.path) && ok;

    printf("\nsignatures, checked through the token:\n");
    ok = report("Ry_VerifyCert(ca.pem, leaf.pem)",
                Ry_VerifyCert(ca.der, ca.derLen, leaf.der, leaf.derLen)) &&
         ok;
    ok = report("Ry_VerifyCert(ca.pem, ca.pem)",
                Ry_VerifyCert(ca.der, ca.derLen, ca.der, ca.derLen)) &&
         ok;
    ok = report("Ry_VerifyCsr(leaf-req.pem)", Ry_VerifyCsr(req.der, req.derLen)) && ok;
    ok = report("Ry_VerifyCrl(ca.pem, ca.crl.pem)",
                Ry_VerifyCrl(ca.der, ca.derLen, crl.der, crl.derLen)) &&
         ok;
  }
  for (size_t i = 0; i < 4; ++i) {
    free(outputs[i]->der);
  }
  Ry_Finalize();
  return ok ? 0 : 1;
}
