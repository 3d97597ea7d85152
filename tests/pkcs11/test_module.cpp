// The module's general behaviour: listing, the order of its checks, the two-call pattern,
// session objects, key import and its store, and concurrent use.
#include <openssl/x509.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "p11_fixture.h"
#include "x509_peer.h"

namespace p11test {
namespace {

TEST(Module, RefusesCallsBeforeInitialiseAndTwiceInitialise) {
  setenv("RYPKCS11_STORE", "/nonexistent/rypkcs11-test", 1);  // never the user's own store
  CK_FUNCTION_LIST* f = module();
  ASSERT_NE(f, nullptr);
  CK_ULONG n = 0;
  EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(f->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
  CK_C_INITIALIZE_ARGS bad{};
  bad.pReserved = &n;
  EXPECT_EQ(f->C_Initialize(&bad), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(f->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(f->C_Finalize(&n), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK);
}

using Listing = Token;

// The slot and mechanism lists follow the two-call pattern, and every listed mechanism has
// its info (the listing and the info come from one table).
TEST_F(Listing, TwoCallListsAndMechanismInfo) {
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_GetSlotList(CK_FALSE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 2u);
  n = 1;
  EXPECT_EQ(f->C_GetSlotList(CK_FALSE, slots, &n), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 2u);

  ASSERT_EQ(f->C_GetMechanismList(slots[1], nullptr, &n), CKR_OK);
  std::vector<CK_MECHANISM_TYPE> mechs(n);
  CK_ULONG small = n - 1;
  EXPECT_EQ(f->C_GetMechanismList(slots[1], mechs.data(), &small), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, n);
  ASSERT_EQ(f->C_GetMechanismList(slots[1], mechs.data(), &n), CKR_OK);

  struct Want {
    CK_MECHANISM_TYPE type;
    CK_FLAGS flags;
  };
  const Want kWanted[] = {
      {CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR},
      {CKM_RSA_PKCS, CKF_SIGN | CKF_VERIFY | CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_RSA_X_509, CKF_SIGN | CKF_VERIFY | CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_MD2_RSA_PKCS, CKF_SIGN | CKF_VERIFY},
      {CKM_MD5_RSA_PKCS, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA1_RSA_PKCS, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA256_RSA_PKCS, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA384_RSA_PKCS, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA512_RSA_PKCS, CKF_SIGN | CKF_VERIFY},
      {CKM_DES_KEY_GEN, CKF_GENERATE},
      {CKM_DES_ECB, CKF_ENCRYPT | CKF_DECRYPT | CKF_UNWRAP},
      {CKM_DES_MAC_GENERAL, CKF_SIGN | CKF_VERIFY},
      {CKM_DES_CBC_PAD, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_DES3_KEY_GEN, CKF_GENERATE},
      {CKM_DES3_CBC_PAD, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_IDEA_KEY_GEN, CKF_GENERATE},
      {CKM_IDEA_CBC_PAD, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_PBE_MD2_DES_CBC, CKF_GENERATE},
      {CKM_PBE_MD5_DES_CBC, CKF_GENERATE},
  };
  EXPECT_EQ(mechs.size(), std::size(kWanted));
  for (const Want& w : kWanted) {
    SCOPED_TRACE(w.type);
    EXPECT_NE(std::find(mechs.begin(), mechs.end(), w.type), mechs.end());
    CK_MECHANISM_INFO info{};
    ASSERT_EQ(f->C_GetMechanismInfo(slots[0], w.type, &info), CKR_OK);
    EXPECT_EQ(info.flags & w.flags, w.flags);
  }
  CK_MECHANISM_INFO info{};
  EXPECT_EQ(f->C_GetMechanismInfo(slots[0], CKM_AES_CBC, &info), CKR_MECHANISM_INVALID);
  EXPECT_EQ(f->C_GetMechanismInfo(99, CKM_RSA_PKCS, &info), CKR_SLOT_ID_INVALID);

  CK_TOKEN_INFO ti{};
  ASSERT_EQ(f->C_GetTokenInfo(slots[1], &ti), CKR_OK);
  EXPECT_TRUE(ti.flags & CKF_TOKEN_INITIALIZED);
  EXPECT_FALSE(ti.flags & CKF_LOGIN_REQUIRED);
  EXPECT_EQ(f->C_GetTokenInfo(slots[1], nullptr), CKR_ARGUMENTS_BAD);
}

using CheckOrder = Token;

// C_SignInit reports its checks in a fixed order: each row breaks one more check than the
// row below it, so each must report its own code.
TEST_F(CheckOrder, SignInitWalksItsChecksInOrder) {
  CK_SESSION_HANDLE s = open();
  CK_OBJECT_HANDLE priv = create(s, rsaPrivateTemplate(opensslKey(1024)));
  CK_OBJECT_HANDLE pub = create(s, rsaPublicTemplate(opensslKey(1024)));
  CK_MECHANISM good{CKM_SHA1_RSA_PKCS, nullptr, 0};
  CK_MECHANISM unknown{CKM_AES_CBC, nullptr, 0};
  CK_MECHANISM badParam{CKM_SHA1_RSA_PKCS, &good, 3};
  CK_ULONG macLen = 8;
  CK_MECHANISM desMech{CKM_DES_MAC_GENERAL, &macLen, sizeof macLen};

  struct Case {
    const char* name;
    CK_SESSION_HANDLE session;
    CK_MECHANISM* mech;
    CK_OBJECT_HANDLE key;
    CK_RV want;
  };
  const Case kCases[] = {
      {"no mechanism pointer", 9999, nullptr, 9999, CKR_ARGUMENTS_BAD},
      {"unknown session", 9999, &unknown, 9999, CKR_SESSION_HANDLE_INVALID},
      {"unknown key", s, &unknown, 9999, CKR_KEY_HANDLE_INVALID},
      {"public key cannot sign", s, &unknown, pub, CKR_KEY_FUNCTION_NOT_PERMITTED},
      {"unknown mechanism", s, &unknown, priv, CKR_MECHANISM_INVALID},
      {"bad parameter", s, &badParam, priv, CKR_MECHANISM_PARAM_INVALID},
      {"DES mechanism, RSA key", s, &desMech, priv, CKR_KEY_TYPE_INCONSISTENT},
      {"all good", s, &good, priv, CKR_OK},
      {"second init while active", s, &good, priv, CKR_OPERATION_ACTIVE},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(f->C_SignInit(c.session, c.mech, c.key), c.want);
  }
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(f->C_SignInit(s, nullptr, priv), CKR_CRYPTOKI_NOT_INITIALIZED);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
}

// Key type against mechanism, after the mechanism is known.
TEST_F(CheckOrder, KeyTypeAndSizeAfterMechanism) {
  CK_SESSION_HANDLE s = open();
  CK_OBJECT_HANDLE des = secret(s, CKK_DES, Bytes(8, 0x13));
  CK_OBJECT_HANDLE pub = create(s, rsaPublicTemplate(opensslKey(1024)));
  Bytes iv(8, 0);
  CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
  CK_MECHANISM cbc{CKM_DES3_CBC_PAD, iv.data(), 8};
  CK_MECHANISM noIv{CKM_DES_CBC_PAD, nullptr, 0};
  EXPECT_EQ(f->C_EncryptInit(s, &rsa, des), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(f->C_EncryptInit(s, &cbc, des), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(f->C_EncryptInit(s, &noIv, des), CKR_MECHANISM_PARAM_INVALID);
  EXPECT_EQ(f->C_EncryptInit(s, &cbc, pub), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(f->C_Encrypt(s, iv.data(), 8, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  CK_ULONG n = 0;
  EXPECT_EQ(f->C_Encrypt(s, iv.data(), 8, nullptr, &n), CKR_OPERATION_NOT_INITIALIZED);
}

using TwoCall = Token;

// NULL output reports the length, a short buffer gets CKR_BUFFER_TOO_SMALL with the length;
// both leave the operation active. Delivering ends it.
TEST_F(TwoCall, SizeQueriesKeepTheOperation) {
  CK_SESSION_HANDLE s = open();
  CK_OBJECT_HANDLE priv = create(s, rsaPrivateTemplate(opensslKey(2048)));
  CK_MECHANISM m{CKM_SHA256_RSA_PKCS, nullptr, 0};
  Bytes data = str("two calls");
  ASSERT_EQ(f->C_SignInit(s, &m, priv), CKR_OK);
  CK_ULONG n = 0;
  ASSERT_EQ(f->C_Sign(s, data.data(), data.size(), nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 256u);
  Bytes sig(n);
  CK_ULONG small = 255;
  EXPECT_EQ(f->C_Sign(s, data.data(), data.size(), sig.data(), &small), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, 256u);
  ASSERT_EQ(f->C_Sign(s, data.data(), data.size(), sig.data(), &n), CKR_OK);
  EXPECT_EQ(f->C_Sign(s, data.data(), data.size(), sig.data(), &n), CKR_OPERATION_NOT_INITIALIZED);

  // Decryption reports the exact plaintext length.
  CK_OBJECT_HANDLE des = secret(s, CKK_DES, Bytes(8, 0x2c));
  Bytes iv(8, 7);
  CK_MECHANISM cbc{CKM_DES_CBC_PAD, iv.data(), 8};
  Bytes ct;
  ASSERT_EQ(crypt(true, s, cbc, des, Bytes(13, 0xaa), ct), CKR_OK);
  EXPECT_EQ(ct.size(), 16u);
  ASSERT_EQ(f->C_DecryptInit(s, &cbc, des), CKR_OK);
  ASSERT_EQ(f->C_Decrypt(s, ct.data(), ct.size(), nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 13u);
  Bytes pt(12);
  n = pt.size();
  EXPECT_EQ(f->C_Decrypt(s, ct.data(), ct.size(), pt.data(), &n), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 13u);
  pt.resize(n);
  EXPECT_EQ(f->C_Decrypt(s, ct.data(), ct.size(), pt.data(), &n), CKR_OK);
  EXPECT_EQ(pt, Bytes(13, 0xaa));

  // Attribute sizes: NULL value pointer reports, a short buffer is marked unavailable.
  CK_ATTRIBUTE a{CKA_MODULUS, nullptr, 0};
  ASSERT_EQ(f->C_GetAttributeValue(s, priv, &a, 1), CKR_OK);
  EXPECT_EQ(a.ulValueLen, 256u);
  Bytes buf(10);
  a = {CKA_MODULUS, buf.data(), buf.size()};
  EXPECT_EQ(f->C_GetAttributeValue(s, priv, &a, 1), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(a.ulValueLen, CK_UNAVAILABLE_INFORMATION);
}

using Objects = Token;

// Session objects vanish with their session; handles of one slot work in the other's
// sessions; the search covers only the session's own token.
TEST_F(Objects, SessionObjectsAndCrossSlotHandles) {
  CK_SESSION_HANDLE s1 = open(0);
  CK_SESSION_HANDLE s2 = open(1);
  Template t = rsaPublicTemplate(opensslKey(1024));
  t.bytes(CKA_LABEL, str("visitor"));
  CK_OBJECT_HANDLE pub = create(s2, t);
  EXPECT_EQ(findLabel(s2, "visitor").size(), 1u);
  EXPECT_TRUE(findLabel(s1, "visitor").empty());
  EXPECT_EQ(attribute(s1, pub, CKA_MODULUS), bnParam(opensslKey(1024), OSSL_PKEY_PARAM_RSA_N));
  CK_ATTRIBUTE bits{CKA_MODULUS_BITS, nullptr, 0};
  EXPECT_EQ(f->C_GetAttributeValue(s1, pub, &bits, 1), CKR_OK);

  ASSERT_EQ(f->C_CloseSession(s2), CKR_OK);
  CK_ATTRIBUTE a{CKA_MODULUS, nullptr, 0};
  EXPECT_EQ(f->C_GetAttributeValue(s1, pub, &a, 1), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(f->C_CloseSession(s2), CKR_SESSION_HANDLE_INVALID);

  // A sensitive key hides its value; a missing attribute is reported as such.
  Template sens;
  sens.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_DES).bytes(CKA_VALUE, Bytes(8, 1));
  sens.boolean(CKA_SENSITIVE, true);
  CK_OBJECT_HANDLE k = create(s1, sens);
  CK_ATTRIBUTE two[] = {{CKA_VALUE, nullptr, 0}, {CKA_MODULUS, nullptr, 0}};
  EXPECT_EQ(f->C_GetAttributeValue(s1, k, two, 2), CKR_ATTRIBUTE_SENSITIVE);
  EXPECT_EQ(two[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(two[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);

  // A token object needs a read/write session.
  Template tok = rsaPublicTemplate(opensslKey(1024));
  tok.boolean(CKA_TOKEN, true);
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(f->C_CreateObject(s1, tok.data(), tok.size(), &h), CKR_SESSION_READ_ONLY);
  ASSERT_EQ(f->C_DestroyObject(s1, k), CKR_OK);
  EXPECT_EQ(f->C_DestroyObject(s1, k), CKR_OBJECT_HANDLE_INVALID);
}

struct TemplateCase {
  const char* name;
  Template tmpl;
  CK_RV want;
};

TEST_F(Objects, CreateObjectRefusesBadTemplates) {
  CK_SESSION_HANDLE s = open();
  auto secretOf = [](CK_KEY_TYPE type, size_t len) {
    Template t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, type).bytes(CKA_VALUE, Bytes(len, 5));
    return t;
  };
  Template noClass;
  noClass.ulong(CKA_KEY_TYPE, CKK_DES).bytes(CKA_VALUE, Bytes(8, 5));
  Template badBool = secretOf(CKK_DES, 8);
  badBool.bytes(CKA_SENSITIVE, Bytes(4, 0));
  Template unknownAttr = secretOf(CKK_DES, 8);
  unknownAttr.ulong(0x7fff0000UL, 1);
  Template rsaNoExp;
  rsaNoExp.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
  rsaNoExp.bytes(CKA_MODULUS, Bytes(128, 0xc3));
  Template pubWithPrivate = rsaPublicTemplate(opensslKey(1024));
  pubWithPrivate.bytes(CKA_PRIVATE_EXPONENT, Bytes(8, 1));
  TemplateCase kCases[] = {
      {"DES key of 7 bytes", secretOf(CKK_DES, 7), CKR_ATTRIBUTE_VALUE_INVALID},
      {"DES3 key of 16 bytes", secretOf(CKK_DES3, 16), CKR_ATTRIBUTE_VALUE_INVALID},
      {"IDEA key of 16 bytes", secretOf(CKK_IDEA, 16), CKR_OK},
      {"no class", noClass, CKR_TEMPLATE_INCOMPLETE},
      {"boolean of 4 bytes", badBool, CKR_ATTRIBUTE_VALUE_INVALID},
      {"unknown attribute", unknownAttr, CKR_ATTRIBUTE_TYPE_INVALID},
      {"RSA public key without exponent", rsaNoExp, CKR_TEMPLATE_INCOMPLETE},
      {"public key with a private part", pubWithPrivate, CKR_TEMPLATE_INCONSISTENT},
  };
  for (TemplateCase& c : kCases) {
    SCOPED_TRACE(c.name);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(f->C_CreateObject(s, c.tmpl.data(), c.tmpl.size(), &h), c.want);
  }
}

// The PKCS#8 form of an OpenSSL key, as the library hands it to C_UnwrapKey.
Bytes pkcs8Of(EVP_PKEY* k) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(k);
  Bytes out = rytest::i2dBytes(i2d_PKCS8_PRIV_KEY_INFO, p8);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return out;
}

// The certificate library's import form: SEQUENCE { INTEGER version, OID rsaEncryption,
// OCTET STRING RSAPrivateKey }, the OID bare rather than in an AlgorithmIdentifier.
Bytes importFormOf(EVP_PKEY* k, uint8_t version = 1) {
  const Bytes head = {0x02, 0x01, version, 0x06, 0x09, 0x2a, 0x86,
                      0x48, 0x86, 0xf7,    0x0d, 0x01, 0x01, 0x01};
  return rytest::tlv(0x30, rytest::cat({head, rytest::tlv(0x04, rytest::i2dBytes(i2d_PrivateKey, k))}));
}

using Import = Token;

// C_UnwrapKey without an unwrapping key imports an RSA key (the library's import form or
// PKCS#8) into the session's token, as a token object (read-only session and all), with its
// public key beside it. The pair survives C_Finalize, and importing under the same label
// replaces it.
TEST_F(Import, ImportedKeyServesBothSlotsAndOutlivesTheModule) {
  CK_SESSION_HANDLE s2 = open(1);
  Bytes p8 = importFormOf(opensslKey(1024));
  Bytes label = str("RY_QLM_RSA_PRIKEY7");
  CK_ATTRIBUTE tmpl{CKA_LABEL, label.data(), label.size()};
  CK_MECHANISM ecb{CKM_DES_ECB, nullptr, 0};
  CK_OBJECT_HANDLE key = 0;
  ASSERT_EQ(f->C_UnwrapKey(s2, &ecb, 0, p8.data(), p8.size(), &tmpl, 1, &key), CKR_OK);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    CK_SESSION_HANDLE s1 = open(0);
    s2 = open(1);
    auto priv = findLabel(s2, "RY_QLM_RSA_PRIKEY7");
    auto pub = findLabel(s2, "RY_QLM_RSA_PUBKEY7");
    ASSERT_EQ(priv.size(), 1u);
    ASSERT_EQ(pub.size(), 1u);
    EXPECT_TRUE(findLabel(s1, "RY_QLM_RSA_PRIKEY7").empty());
    EXPECT_EQ(attribute(s2, priv[0], CKA_TOKEN), Bytes{CK_TRUE});
    Bytes data = str("signed with an imported key");
    Bytes sig;
    CK_MECHANISM m{CKM_SHA1_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(sign(s2, m, priv[0], data, sig), CKR_OK);
    // The public key found through the second slot verifies in a session of the first.
    EXPECT_EQ(verify(s1, m, pub[0], data, sig), CKR_OK);
    ASSERT_EQ(f->C_CloseAllSessions(slots[1]), CKR_OK);
    ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  }

  namespace fs = std::filesystem;
  const fs::path dir = fs::path(store_) / "store" / "slot2";
  EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    ++files;
    EXPECT_EQ(e.path().extension(), ".obj");
    EXPECT_EQ(e.status().permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(files, 2u);

  // Importing another key under the label replaces the pair; the files follow.
  s2 = open(1);
  Bytes other = pkcs8Of(opensslKey(2048));
  ASSERT_EQ(f->C_UnwrapKey(s2, &ecb, 0, other.data(), other.size(), &tmpl, 1, &key), CKR_OK);
  auto priv = findLabel(s2, "RY_QLM_RSA_PRIKEY7");
  ASSERT_EQ(priv.size(), 1u);
  EXPECT_EQ(attribute(s2, priv[0], CKA_MODULUS).size(), 256u);
  EXPECT_EQ(findLabel(s2, "RY_QLM_RSA_PUBKEY7").size(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

  // A damaged file is skipped at the next start; the rest still loads.
  std::ofstream(dir / "broken.obj") << "not an object";
  ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
  s2 = open(1);
  EXPECT_EQ(findLabel(s2, "RY_QLM_RSA_PRIKEY7").size(), 1u);
}

TEST_F(Import, RefusesWhatIsNotAnRsaKey) {
  CK_SESSION_HANDLE s = open(1);
  Bytes junk = str("certainly not DER");
  Bytes p8 = pkcs8Of(opensslKey(1024));
  Bytes trailing = p8;
  trailing.push_back(0);
  Bytes version2 = importFormOf(opensslKey(1024), 2);
  CK_MECHANISM ecb{CKM_DES_ECB, nullptr, 0};
  CK_MECHANISM cbc{CKM_DES_CBC_PAD, nullptr, 0};
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(f->C_UnwrapKey(s, &ecb, 0, junk.data(), junk.size(), nullptr, 0, &h),
            CKR_WRAPPED_KEY_INVALID);
  EXPECT_EQ(f->C_UnwrapKey(s, &ecb, 0, trailing.data(), trailing.size(), nullptr, 0, &h),
            CKR_WRAPPED_KEY_INVALID);
  EXPECT_EQ(f->C_UnwrapKey(s, &ecb, 0, version2.data(), version2.size(), nullptr, 0, &h),
            CKR_WRAPPED_KEY_INVALID);
  EXPECT_EQ(f->C_UnwrapKey(s, &cbc, 0, p8.data(), p8.size(), nullptr, 0, &h),
            CKR_MECHANISM_INVALID);
  EXPECT_EQ(f->C_UnwrapKey(s, &ecb, 4242, p8.data(), p8.size(), nullptr, 0, &h),
            CKR_UNWRAPPING_KEY_HANDLE_INVALID);
  EXPECT_EQ(f->C_UnwrapKey(s, &ecb, 0, p8.data(), p8.size(), nullptr, 0, nullptr),
            CKR_ARGUMENTS_BAD);
}

// With a DES key, C_UnwrapKey decrypts (DES-ECB) and makes a session object per template.
TEST_F(Import, UnwrapsWithADesKey) {
  CK_SESSION_HANDLE s = open(0);
  Bytes key = {0x0e, 0x32, 0x92, 0x32, 0xea, 0x6d, 0x0d, 0x73};
  CK_OBJECT_HANDLE kek = secret(s, CKK_DES, key);
  Bytes plain = pkcs8Of(opensslKey(1024));
  plain.resize((plain.size() + 7) / 8 * 8, 0);
  EVP_CIPHER* ecb = EVP_CIPHER_fetch(osslCtx(), "DES-ECB", nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes wrapped(plain.size());
  int n = 0;
  ASSERT_EQ(EVP_EncryptInit_ex2(ctx, ecb, key.data(), nullptr, nullptr), 1);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  ASSERT_EQ(EVP_EncryptUpdate(ctx, wrapped.data(), &n, plain.data(), int(plain.size())), 1);
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(ecb);

  CK_MECHANISM m{CKM_DES_ECB, nullptr, 0};
  CK_OBJECT_HANDLE h = 0;
  ASSERT_EQ(f->C_UnwrapKey(s, &m, kek, wrapped.data(), wrapped.size(), nullptr, 0, &h), CKR_OK);
  EXPECT_EQ(attribute(s, h, CKA_MODULUS), bnParam(opensslKey(1024), OSSL_PKEY_PARAM_RSA_N));
  EXPECT_EQ(attribute(s, h, CKA_TOKEN), Bytes{CK_FALSE});
  EXPECT_EQ(f->C_UnwrapKey(s, &m, kek, wrapped.data(), wrapped.size() - 1, nullptr, 0, &h),
            CKR_WRAPPED_KEY_LEN_RANGE);
}

using Threads = Token;

// Several threads, each with its own sessions and keys, sign at once; every signature
// verifies with OpenSSL.
TEST_F(Threads, ConcurrentSigningInOwnSessions) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<std::vector<Bytes>> sigs(kThreads);
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      CK_SESSION_HANDLE s = 0;
      if (f->C_OpenSession(slots[t % 2], CKF_SERIAL_SESSION, nullptr, nullptr, &s) != CKR_OK) {
        return;
      }
      Template tmpl = rsaPrivateTemplate(opensslKey(1024));
      CK_OBJECT_HANDLE k = 0;
      if (f->C_CreateObject(s, tmpl.data(), tmpl.size(), &k) != CKR_OK) {
        return;
      }
      for (int i = 0; i < kRounds; ++i) {
        Bytes data = str("thread " + std::to_string(t) + " round " + std::to_string(i));
        CK_MECHANISM m{CKM_SHA256_RSA_PKCS, nullptr, 0};
        Bytes sig(128);
        CK_ULONG n = sig.size();
        if (f->C_SignInit(s, &m, k) != CKR_OK ||
            f->C_Sign(s, data.data(), data.size(), sig.data(), &n) != CKR_OK) {
          return;
        }
        sigs[t].push_back(sig);
      }
      f->C_CloseSession(s);
    });
  }
  for (auto& w : workers) {
    w.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(sigs[t].size(), size_t{kRounds}) << "thread " << t;
    for (int i = 0; i < kRounds; ++i) {
      Bytes data = str("thread " + std::to_string(t) + " round " + std::to_string(i));
      EXPECT_TRUE(peerVerify(opensslKey(1024), EVP_sha256(), data, sigs[t][i]));
    }
  }
}

}  // namespace
}  // namespace p11test
