// CRLs: decoding ladders from one template, the entry cursor, queries and
// their log lines, building and encoding, the signing protocol, allocation
// failures.
#include "crl_util.h"

namespace {

using namespace rytest;

// ------------------------------------------------------------ template

Bytes utc(const char *t) { return tlv(0x17, str(t)); }
Bytes gen(const char *t) { return tlv(0x18, str(t)); }
Bytes seq(std::initializer_list<Bytes> parts) { return tlv(0x30, cat(parts)); }
Bytes alg() { return seq({tlv(0x06, kSha256Rsa), hex("0500")}); }
Bytes rdn(const char *oidHex, const char *v) {
  return tlv(0x31, seq({tlv(0x06, hex(oidHex)), tlv(0x13, str(v))}));
}
Bytes reasonExt(uint8_t reason, bool critical = false) {
  return seq({seq({tlv(0x06, hex("551D15")), critical ? hex("0101FF") : Bytes{},
                   tlv(0x04, tlv(0x0A, {reason}))})});
}

constexpr uint32_t kThis = 1704067200;     // 2024-01-01T00:00:00Z
constexpr uint32_t kNext = 1706745600;     // 2024-02-01T00:00:00Z
constexpr uint32_t kRevoked = 1702636200;  // 2023-12-15T10:30:00Z

const Bytes kEntry1 = seq({hex("02020123"), utc("231215103000Z")});
const Bytes kEntry2 = seq({hex("020200FF"), utc("231215103000Z"), reasonExt(1)});

// Every field of a v2 CRL: the TBSCertList's, then the CertificateList's
// after it.
enum { kVersion, kInnerAlg, kIssuer, kThisUpdate, kNextUpdate, kRevokedList, kCrlExts };
struct CrlParts {
  std::vector<Bytes> fields = {
      hex("020101"),
      alg(),
      seq({rdn("550406", "DE"), rdn("550403", "Test CA")}),
      utc("240101000000Z"),
      utc("240201000000Z"),
      seq({kEntry1, kEntry2}),
      tlv(0xA0, seq({seq({hex("0603551D14"), tlv(0x04, hex("020105"))})}))};
  std::vector<Bytes> outer = {alg(), hex("030300AABB")};  // signatureAlgorithm, signatureValue

  Bytes tbs() const { return seqOf(fields); }
  Bytes der() const { return seq({tbs(), outer[0], outer[1]}); }
};

void basics(Builder &b, uint32_t version = 1) { b.basics(version, "DE", "Test CA", kThis, kNext); }

// ------------------------------------------------------------ decoding

// One row per field: what leaving it out, giving it another identifier,
// ending the input inside it, or stopping the list before it does.
constexpr uint32_t kShort = RYCERT_InvalidLengthErr;  // a length that claims more than is left

TEST(CrlDecode, TbsFieldLadder) {
  expectLadder(
      {
          // version DEFAULT v1; nextUpdate, the entries and the extensions
          // are optional, and an element of another type in their place is
          // not read.
          {"version", RYCERT_OK, RYCERT_TagNotMatchErr, kShort, RYCERT_CrlNotEndErr},
          {"signature", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CrlNotEndErr},
          {"issuer", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CrlNotEndErr},
          // Without thisUpdate, nextUpdate is read as thisUpdate.
          {"thisUpdate", RYCERT_OK, RYCERT_TagNotMatchErr, kShort, RYCERT_CrlNotEndErr},
          {"nextUpdate", RYCERT_OK, RYCERT_OK, kShort, RYCERT_OK},
          {"revokedCertificates", RYCERT_OK, RYCERT_OK, kShort, RYCERT_OK},
          {"crlExtensions", RYCERT_OK, RYCERT_OK, kShort, RYCERT_OK},
      },
      CrlParts().fields, [](const std::vector<Bytes> &f) {
        CrlParts p;
        p.fields = f;
        return Ctx().decode(p.der());
      });
}

TEST(CrlDecode, CertificateListFieldLadder) {
  const CrlParts t;
  expectLadder(
      {
          {"tbsCertList", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CrlNotEndErr},
          {"signatureAlgorithm", RYCERT_TagNotMatchErr, RYCERT_TagNotMatchErr, kShort,
           RYCERT_CrlNotEndErr},
          {"signatureValue", RYCERT_CrlNotEndErr, RYCERT_TagNotMatchErr, kShort, RYCERT_CrlNotEndErr},
      },
      {t.tbs(), t.outer[0], t.outer[1]},
      [](const std::vector<Bytes> &f) { return Ctx().decode(seqOf(f)); });
}

// What each field's content may and may not be: the field replaced.
TEST(CrlDecode, FieldContents) {
  const auto first = [](const Bytes &e) { return seq({e, kEntry2}); };
  const auto second = [](const Bytes &e) { return seq({kEntry1, e}); };
  const Bytes date = utc("231215103000Z");
  constexpr int kSigAlg = 100, kSigValue = 101;  // the outer fields
  const struct {
    const char *name;
    int field;
    Bytes value;
    uint32_t status;
  } rows[] = {
      {"GeneralizedTime nextUpdate", kNextUpdate, gen("20240201000000Z"), RYCERT_OK},
      {"signatureValue unused bits 8", kSigValue, hex("030208AA"), RYCERT_InvalidLengthErr},
      {"outer algorithm without OID", kSigAlg, hex("3000"), RYCERT_CrlNotEndErr},
      {"inner algorithm without OID", kInnerAlg, hex("3000"), RYCERT_CrlNotEndErr},
      {"inner algorithm OID mistagged", kInnerAlg, hex("30020500"), RYCERT_TagNotMatchErr},
      {"version a BOOLEAN", kVersion, hex("0101FF"), RYCERT_TagNotMatchErr},
      {"version longer than 32 bits", kVersion, hex("02050100000000"), RYCERT_InvalidLengthErr},
      {"issuer RDN without value", kIssuer, seq({tlv(0x31, seq({hex("0603550403")}))}),
       RYCERT_InvalidLengthErr},
      {"thisUpdate short text", kThisUpdate, utc("2401010000Z"), RYCERT_InvalidTimeEndErr},
      {"nextUpdate bad month", kNextUpdate, utc("241301000000Z"), RYCERT_InvalidTimeFieldErr},
      // An unknown element in its place is not read.
      {"revoked list as a SET", kRevokedList, tlv(0x31, kEntry1), RYCERT_OK},
      {"entry empty", kRevokedList, first(hex("3000")), RYCERT_CrlNotEndErr},
      {"entry without date", kRevokedList, first(seq({hex("02020123")})), RYCERT_CrlNotEndErr},
      {"entry serial mistagged", kRevokedList, first(seq({hex("04020123"), date})),
       RYCERT_TagNotMatchErr},
      {"entry serial empty", kRevokedList, first(seq({hex("0200"), date})), RYCERT_InvalidLengthErr},
      {"entry not a SEQUENCE", kRevokedList, first(tlv(0x31, hex("02020123"))),
       RYCERT_TagNotMatchErr},
      {"entry date mistagged", kRevokedList, first(seq({hex("02020123"), hex("0500")})),
       RYCERT_TagNotMatchErr},
      {"entry extensions not a SEQUENCE", kRevokedList,
       second(seq({hex("020200FF"), date, hex("0500")})), RYCERT_TagNotMatchErr},
      {"reason extension without extnValue", kRevokedList,
       second(seq({hex("020200FF"), date, seq({seq({hex("0603551D15")})})})), RYCERT_CrlNotEndErr},
      {"extension without OID", kRevokedList, second(seq({hex("020200FF"), date, seq({hex("3000")})})),
       RYCERT_CrlNotEndErr},
      {"reason value not ENUMERATED", kRevokedList,
       second(seq({hex("020200FF"), date, seq({seq({hex("0603551D15"), tlv(0x04, hex("020101"))})})})),
       RYCERT_TagNotMatchErr},
      {"reason ENUMERATED empty", kRevokedList,
       second(seq({hex("020200FF"), date, seq({seq({hex("0603551D15"), tlv(0x04, hex("0A00"))})})})),
       RYCERT_InvalidLengthErr},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    CrlParts p;
    (r.field == kSigAlg ? p.outer[0] : r.field == kSigValue ? p.outer[1] : p.fields[r.field]) = r.value;
    EXPECT_EQ(Ctx().decode(p.der()), r.status);
  }
}

TEST(CrlDecode, EveryPrefixFailsAndTrailingBytesAreIgnored) {
  const Bytes der = CrlParts{}.der();
  expectEveryPrefixRefused(
      der, [](const uint8_t *p, uint32_t n) { return RyCert_DecodeCrl(Ctx().c, p, n); });
  Ctx ctx;
  EXPECT_EQ(ctx.decode(cat({der, hex("00")})), RYCERT_OK);
  EXPECT_EQ(ctx.get(CRL_TBS_CERTLIST), CrlParts{}.tbs());
}

// The fields are compared with libcrypto's reading in test_crl_peers; here
// the issuer's text and the entry cursor up to and past the end.
TEST(CrlDecode, IssuerTextAndTheEntryWalk) {
  Ctx ctx;
  ASSERT_EQ(ctx.decode(CrlParts{}.der()), RYCERT_OK);
  EXPECT_EQ(ctx.get(CRL_ISSUER_DN), str("C=DE,CN=Test CA"));
  EXPECT_EQ(ctx.get(CRL_ISSUER_DN), str("C=DE,CN=Test CA")) << "rendered again";
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), hex("0123"));
  EXPECT_EQ(ctx.getInt(CRL_CERT_REVOCATIONDATE), kRevoked);
  EXPECT_EQ(ctx.get(CRLEX_CRLREASON), std::nullopt) << "the first entry has no reason";
  ctx.next();
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), hex("FF")) << "the pad octet is not part of it";
  EXPECT_EQ(ctx.get(CRLEX_CRLREASON), hex("01"));
  ctx.next();
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), Bytes{}) << "the end";
  EXPECT_EQ(ctx.getInt(CRL_CERT_REVOCATIONDATE), std::nullopt);
  EXPECT_EQ(ctx.get(CRLEX_CRLREASON), std::nullopt);
  ctx.next();
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), Bytes{}) << "past the end nothing moves";
}

TEST(CrlDecode, OptionalFieldsAbsentGeneralizedTimesAndACriticalReason) {
  {
    CrlParts p;
    p.fields.erase(p.fields.begin() + kNextUpdate, p.fields.begin() + kRevokedList + 1);
    p.fields.erase(p.fields.begin() + kVersion);
    Ctx ctx;
    ASSERT_EQ(ctx.decode(p.der()), RYCERT_OK);
    EXPECT_EQ(ctx.getInt(CRL_VERSION), std::nullopt);
    EXPECT_EQ(ctx.getInt(CRL_NEXTUPDATE), std::nullopt);
    EXPECT_EQ(ctx.getInt(CRL_THISUPDATE), kThis);
    EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), Bytes{});
  }
  CrlParts p;
  p.fields[kThisUpdate] = gen("20240101000000Z");
  p.fields[kRevokedList] = seq({seq({hex("02020123"), gen("20501215103000Z")}),
                                seq({hex("020200FF"), utc("231215103000Z"), reasonExt(6, true)})});
  Ctx ctx;
  ASSERT_EQ(ctx.decode(p.der()), RYCERT_OK);
  EXPECT_EQ(ctx.getInt(CRL_THISUPDATE), kThis);
  EXPECT_EQ(ctx.getInt(CRL_CERT_REVOCATIONDATE), 2554713000u);  // 2050-12-15T10:30:00Z
  ctx.next();
  EXPECT_EQ(ctx.get(CRLEX_CRLREASON), hex("06"));
}

TEST(CrlDecode, FailedDecodeLeavesTheContextAsItWas) {
  Ctx ctx;
  ASSERT_EQ(ctx.decode(CrlParts{}.der()), RYCERT_OK);
  CrlParts bad;
  bad.fields[kIssuer] = bad.fields[kThisUpdate] = hex("3100");
  EXPECT_EQ(ctx.decode(bad.der()), RYCERT_TagNotMatchErr);
  EXPECT_EQ(ctx.get(CRL_ISSUER_DN), str("C=DE,CN=Test CA"));
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), hex("0123"));
}

TEST(CrlDecode, LengthGivenShorterThanTheHeaderSaysIsRefused) {
  const Bytes der = CrlParts{}.der();
  Ctx ctx;
  ExactBlock b(der);
  EXPECT_EQ(RyCert_DecodeCrl(ctx.c, b.data(), uint32_t(der.size() - 1)), RYCERT_InvalidLengthErr);
  EXPECT_EQ(RyCert_DecodeCrl(ctx.c, b.data(), 3), RYCERT_InvalidLengthErr);
  EXPECT_EQ(RyCert_DecodeCrl(nullptr, b.data(), 3), RYCERT_MemoryErr);
  EXPECT_EQ(RyCert_DecodeCrl(ctx.c, nullptr, 3), RYCERT_MemoryErr);
}

TEST(CrlDecode, TbsAndRevokedListOnTheirOwn) {
  CrlParts p;
  Ctx ctx;
  {
    Rec tbs(p.tbs());
    ASSERT_EQ(Hx_CRL_DecodeTBS(ctx.c, tbs.get()), RYCERT_OK);
  }
  EXPECT_EQ(ctx.get(CRL_TBS_CERTLIST), p.tbs());
  EXPECT_EQ(ctx.get(CRL_ISSUER_COMMONNAME), str("Test CA"));
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), hex("0123"));
  {
    Rec revoked(tlv(0x30, kEntry2));
    ASSERT_EQ(Hx_CRL_DecodeRevokedCerts(revoked.get(), ctx.c), RYCERT_OK);
  }
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), hex("FF"));
  EXPECT_EQ(ctx.get(CRLEX_CRLREASON), hex("01"));
  Rec bad(hex("3103020101"));
  EXPECT_EQ(Hx_CRL_DecodeRevokedCerts(bad.get(), ctx.c), RYCERT_TagNotMatchErr);
  EXPECT_EQ(ctx.get(CRL_CERT_SERIALNUMBER), hex("FF"));
}

// ------------------------------------------------------------ queries

TEST(CrlQuery, RefusedIdentifiersAndLogLines) {
  Ctx ctx;
  ASSERT_EQ(ctx.decode(CrlParts{}.der()), RYCERT_OK);
  uint32_t v = 7;
  LogCapture log;
  for (uint32_t id : {1000u, 1017u, 1020u, 1026u, 1032u, 1062u, 1064u, CRL_VERSION, CRL_THISUPDATE,
                      CRL_CERT_REVOCATIONDATE}) {
    EXPECT_EQ(RyCert_GetCrlAttributeChar(ctx.c, id, nullptr, &v), RYCERT_AttributeNotSupportErr)
        << id;
  }
  for (uint32_t id : {CRL_TBS_CERTLIST, CRL_ISSUER_DN, CRL_CERT_SERIALNUMBER, CRL_CERT_NEXT, 1017u}) {
    EXPECT_EQ(RyCert_GetCrlAttributeInt(ctx.c, id, &v), RYCERT_AttributeNotSupportErr) << id;
  }
  EXPECT_EQ(v, 7u);
  EXPECT_TRUE(log.contains("------>Get RYCERT_AttributeNotSupportErr"));
  ctx.get(CRL_TBS_CERTLIST);
  EXPECT_TRUE(log.contains("======>Get CRL_TBS_CERTLIST Len"));
  EXPECT_TRUE(log.contains("======>Get CRL_TBS_CERTLIST"));
  ctx.getInt(CRL_THISUPDATE);
  const auto lines = log.lines();
  const std::vector<std::string> intLines(lines.end() - 3, lines.end());
  EXPECT_EQ(intLines, (std::vector<std::string>{"======>RyCert_GetCrlAttributeInt Begin",
                                                "======>Get CRL_THISUPDATE",
                                                "======>RyCert_GetCrlAttributeInt End"}));
  ctx.next();
  EXPECT_TRUE(log.contains("======>Get CRL_CERT_NEXT"));
  ctx.next();
  ctx.get(CRL_CERT_SERIALNUMBER);
  EXPECT_EQ(log.lines().back(), "======>Get CRL_CERT_SERIALNUMBER");
}

// ------------------------------------------------------------ building

// Callback answering with a fixed signature of `gSigLen` bytes.
uint32_t gSigLen = 4;
uint32_t gSigResult = 0;
uint32_t fixedSign(const uint8_t *, uint32_t, uint8_t *sig, uint32_t *len, const uint8_t *) {
  ++gSignCalls;
  if (sig == nullptr) {
    *len = gSigLen;
    return gSigResult;
  }
  EXPECT_EQ(*len, gSigLen) << "capacity given on the second call";
  for (uint32_t i = 0; i < gSigLen; ++i) {
    sig[i] = uint8_t(0xA0 + i);
  }
  return gSigResult;
}

TEST(CrlBuild, V2CrlWithoutEntriesIsTheExpectedDer) {
  Builder b;
  basics(b);
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  gSigLen = 4;
  Bytes der;
  ASSERT_EQ(b.encode(der), RYCERT_OK);
  const Bytes tbs = seq({hex("020101"), seq({tlv(0x06, kSha256Rsa)}),
                         seq({rdn("550406", "DE"), rdn("550403", "Test CA")}),
                         utc("240101000000Z"), utc("240201000000Z"), hex("3000")});
  EXPECT_EQ(toHex(der),
            toHex(seq({tbs, seq({tlv(0x06, kSha256Rsa)}), hex("030500A0A1A2A3")})));
}

TEST(CrlBuild, VersionTimesAndSerialsAreWrittenAsStrictParsersWantThem) {
  Builder b;
  basics(b, 0);  // v1: no version field
  b.setInt(CRL_NEXTUPDATE, 2524608000u);  // 2050: GeneralizedTime
  b.set(CRL_CERT_SERIALNUMBER, hex("000080"));  // redundant 00 dropped, pad kept
  b.setInt(CRL_CERT_REVOCATIONDATE, 2524607999u);  // 2049: UTCTime
  b.set(CRLEX_CRLREASON, hex("01"));
  b.set(CRL_CERT_SERIALNUMBER, hex("05"));  // date never set: GeneralizedTime of 0
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  Bytes der;
  ASSERT_EQ(b.encode(der), RYCERT_OK);
  const Bytes revoked =
      seq({seq({hex("02020080"), utc("491231235959Z"), hex("300C300A0603551D1504030A0101")}),
           seq({hex("020105"), gen("19700101000000Z")})});
  const Bytes tbs = seq({seq({tlv(0x06, kSha256Rsa)}),
                         seq({rdn("550406", "DE"), rdn("550403", "Test CA")}),
                         utc("240101000000Z"), gen("20500101000000Z"), revoked});
  AnyBuf *rec = nullptr;
  ASSERT_EQ(Hx_CRL_EncodeRevokedCRL(b.c, &rec), RYCERT_OK);
  EXPECT_EQ(toHex(bytesOf(rec)), toHex(revoked));
  Hx_FreeAnybuf(rec);
  Ctx back;
  ASSERT_EQ(back.decode(der), RYCERT_OK);
  EXPECT_EQ(back.get(CRL_TBS_CERTLIST), tbs);
  EXPECT_EQ(back.getInt(CRL_VERSION), std::nullopt);
}

// Version, times, entries and reasons are read back by libcrypto and Python
// in test_crl_peers; here every issuer component, and the TBSCertList the
// encoding context answers.
TEST(CrlBuild, EveryIssuerComponentRoundTrips) {
  Builder b;
  b.set(CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa);
  b.set(CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
  const std::pair<uint32_t, const char *> names[] = {
      {CRL_ISSUER_COUNTRYNAME, "DE"},          {CRL_ISSUER_STATEORPROVINCENAME, "Bayern"},
      {CRL_ISSUER_LOCALITYNAME, "Munich"},     {CRL_ISSUER_ORGANIZATIONNAME, "Example AG"},
      {CRL_ISSUER_ORGANIZATIONALUNITNAME, "PKI"}, {CRL_ISSUER_COMMONNAME, "Example CA"},
      {CRL_ISSUER_POSTALADDRESS, "Street 1"}, {CRL_ISSUER_POSTALCODE, "80331"},
      {CRL_ISSUER_TELEPHONE, "+49 89 1"}};
  for (auto [id, v] : names) {
    ASSERT_EQ(b.set(id, v), RYCERT_OK) << id;
  }
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  Bytes der;
  ASSERT_EQ(b.encode(der), RYCERT_OK);
  Ctx back;
  ASSERT_EQ(back.decode(der), RYCERT_OK);
  // Postal address, postal code and telephone are written, but the Name
  // decoder does not recognise their types.
  for (auto [id, v] : names) {
    const bool known = id != CRL_ISSUER_POSTALADDRESS && id != CRL_ISSUER_POSTALCODE &&
                       id != CRL_ISSUER_TELEPHONE;
    EXPECT_EQ(back.get(id), known ? std::optional(str(v)) : std::nullopt) << id;
  }
  EXPECT_EQ(back.get(CRL_ISSUER_DN),
            str("C=DE,O=Example AG,OU=PKI,CN=Example CA,S=Bayern,L=Munich"));
  EXPECT_EQ(getTwoCalls(RyCert_GetCrlAttributeChar, b.c, CRL_TBS_CERTLIST), firstChild(der));
  EXPECT_EQ(back.get(CRL_TBS_CERTLIST), firstChild(der));
}

TEST(CrlBuild, SetterRefusals) {
  Builder b;
  LogCapture log;
  const Bytes one = hex("01");
  EXPECT_EQ(RyCert_SetCrlAttributeChar(b.c, CRL_ISSUER_COMMONNAME, one.data(), 0),
            RYCERT_InvalidLengthErr);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(RyCert_SetCrlAttributeChar(b.c, CRL_ISSUER_COMMONNAME, one.data(), -1),
            RYCERT_InvalidLengthErr);
  for (uint32_t id : {CRL_TBS_CERTLIST, CRL_ISSUER_DN, CRL_ISSUER_EMAIL, CRL_VERSION,
                      CRL_CERT_NEXT, 1017u, 1064u}) {
    EXPECT_EQ(b.set(id, one), RYCERT_AttributeNotSupportErr) << id;
  }
  for (uint32_t id : {CRL_TBS_CERTLIST, CRL_CERT_SERIALNUMBER, 1017u}) {
    EXPECT_EQ(b.setInt(id, 1), RYCERT_AttributeNotSupportErr) << id;
  }
  // Date and reason act on the last entry: with none they change nothing.
  EXPECT_EQ(b.setInt(CRL_CERT_REVOCATIONDATE, kRevoked), RYCERT_AttributeNotSupportErr);
  EXPECT_EQ(b.set(CRLEX_CRLREASON, one), RYCERT_AttributeNotSupportErr);
  EXPECT_TRUE(log.contains("------>Set RYCERT_AttributeNotSupportErr"));
  AnyBuf *rec = nullptr;
  ASSERT_EQ(Hx_CRL_EncodeRevokedCRL(b.c, &rec), RYCERT_OK);
  EXPECT_EQ(toHex(bytesOf(rec)), "3000");
  Hx_FreeAnybuf(rec);
  EXPECT_EQ(Hx_CRL_WriteEntryExtension(nullptr, &rec), RYCERT_MemoryErr);
}

TEST(CrlBuild, SetterLogLines) {
  Builder b;
  LogCapture log;
  b.setInt(CRL_VERSION, 1);
  b.set(CRL_CERT_SERIALNUMBER, "\x01");
  b.setInt(CRL_CERT_REVOCATIONDATE, kRevoked);
  b.set(CRL_ISSUER_COMMONNAME, "CA");
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{
                "======>RyCert_SetCrlAttributeInt Begin", "======>Set CRL_VERSION",
                "======>RyCert_SetCrlAttributeInt\tEnd", "======>Set CRL_CERT_SERIALNUMBER",
                "======>RyCert_SetCrlAttributeInt Begin", "======>Set CRL_REVOCATIONDATE",
                "======>RyCert_SetCrlAttributeInt\tEnd", "======>Set CRL_ISSUER_COMMONNAME",
                "======>RyCert_SetCrlSignFunc Begin", "======>RyCert_SetCrlSignFunc End"}));
}

TEST(CrlBuild, IssuerComponentsKeepCallOrderAndTheTextFollowsSetters) {
  Builder b;
  b.set(CRL_ISSUER_COMMONNAME, "CA");
  uint32_t len = 0;
  ASSERT_EQ(RyCert_GetCrlAttributeChar(b.c, CRL_ISSUER_DN, nullptr, &len), RYCERT_OK);
  EXPECT_EQ(len, 5u);  // CN=CA
  b.set(CRL_ISSUER_ORGANIZATIONNAME, "Org");
  b.set(CRL_ISSUER_COUNTRYNAME, "DE");
  ASSERT_EQ(RyCert_GetCrlAttributeChar(b.c, CRL_ISSUER_DN, nullptr, &len), RYCERT_OK);
  EXPECT_EQ(len, std::string("C=DE,O=Org,CN=CA").size());
  b.set(CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa);
  b.set(CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  Bytes der;
  ASSERT_EQ(b.encode(der), RYCERT_OK);
  const Bytes issuer = seq({rdn("550403", "CA"), rdn("55040A", "Org"), rdn("550406", "DE")});
  EXPECT_NE(std::search(der.begin(), der.end(), issuer.begin(), issuer.end()), der.end());
}

// ------------------------------------------------------------ signing

struct SignCase {
  const char *name;
  uint32_t sigLen;
  uint32_t result;
  bool callback;
  uint32_t status;
  int calls;
};

const SignCase kSignCases[] = {
    {"no callback fails before any call", 4, 0, false, RYCERT_MemoryErr, 0},
    {"callback failure returned unchanged", 4, 0x1234, true, 0x1234, 1},
    {"10240 bytes refused without a second call", 10240, 0, true, RYCERT_InvalidSignatureLenErr, 1},
    {"10239 bytes get a buffer of that size", 10239, 0, true, RYCERT_OK, 2},
    {"zero bytes refused", 0, 0, true, RYCERT_InvalidLengthErr, 2},
};

TEST(CrlSign, CallbackProtocol) {
  for (const auto &c : kSignCases) {
    SCOPED_TRACE(c.name);
    Builder b;
    basics(b);
    if (c.callback) {
      RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
    }
    gSigLen = c.sigLen;
    gSigResult = c.result;
    gSignCalls = 0;
    Bytes der;
    EXPECT_EQ(b.encode(der), c.status);
    EXPECT_EQ(gSignCalls, c.callback ? c.calls : 0);
    gSigResult = 0;
    gSigLen = 4;
    if (c.status != RYCERT_OK) {
      // A failed encode keeps nothing: the next one builds and signs.
      RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
      EXPECT_EQ(b.encode(der), RYCERT_OK);
    }
  }
}

// The parameter's way to the callback is the certificates' (test_cert).
TEST(CrlSign, SecondEncodeAnswersFromTheCache) {
  Builder b;
  basics(b);
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  gSignCalls = 0;
  Bytes first;
  Bytes second;
  ASSERT_EQ(b.encode(first), RYCERT_OK);
  b.set(CRL_ISSUER_ORGANIZATIONNAME, "Later");
  ASSERT_EQ(b.encode(second), RYCERT_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(gSignCalls, 2);
  // A decoded context answers with its own DER.
  Ctx dec;
  ASSERT_EQ(dec.decode(CrlParts{}.der()), RYCERT_OK);
  uint32_t len = 0;
  ASSERT_EQ(RyCert_EncodeCrl(dec.c, nullptr, &len), RYCERT_OK);
  EXPECT_EQ(len, CrlParts{}.der().size());
}

// ------------------------------------------------------------ allocation failures

TEST(CrlMemory, DecodeAndWalk) {
  const Bytes der = CrlParts{}.der();
  sweepAllocationFailures([&] {
    CrlCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCrlDecodeCtx(&c);
    if (rc == RYCERT_OK) {
      rc = RyCert_DecodeCrl(c, der.data(), uint32_t(der.size()));
    }
    uint32_t len = 0xDEAD;
    if (rc == RYCERT_OK) {
      rc = RyCert_GetCrlAttributeChar(c, CRL_ISSUER_DN, nullptr, &len);
      // Benign: the text cannot be rendered this time; the query answers 0
      // and leaves the length untouched.
      if (rc == RYCERT_OK && len == 0xDEAD) {
        rc = RYCERT_MemoryErr;
      }
    }
    for (uint32_t id : {CRL_CERT_SERIALNUMBER, CRL_CERT_NEXT, CRLEX_CRLREASON}) {
      if (rc == RYCERT_OK) {
        rc = RyCert_GetCrlAttributeChar(c, id, nullptr, &len);
      }
    }
    RyCert_DestroyCrlDecodeCtx(c);
    return rc;
  });
}

TEST(CrlMemory, SettersAndEncode) {
  sweepAllocationFailures([&] {
    CrlCtx *c = nullptr;
    uint32_t rc = RyCert_CreateCrlEncodeCtx(&c);
    const Bytes one = hex("01");
    const auto chr = [&](uint32_t id, const Bytes &v) {
      if (rc == RYCERT_OK) {
        rc = RyCert_SetCrlAttributeChar(c, id, v.data(), int32_t(v.size()));
      }
    };
    chr(CRL_INNER_SIGNATUREALGORITHM, kSha256Rsa);
    chr(CRL_OUTER_SIGNATUREALGORITHM, kSha256Rsa);
    chr(CRL_ISSUER_COMMONNAME, str("CA"));
    chr(CRL_CERT_SERIALNUMBER, one);
    chr(CRLEX_CRLREASON, one);
    chr(CRL_CERT_SERIALNUMBER, hex("0203"));
    if (rc == RYCERT_OK) {
      rc = RyCert_SetCrlSignFunc(c, fixedSign, one.data(), 1);
    }
    uint32_t len = 0;
    if (rc == RYCERT_OK) {
      rc = RyCert_EncodeCrl(c, nullptr, &len);
    }
    if (rc == RYCERT_OK) {
      Bytes out(len);
      rc = RyCert_EncodeCrl(c, out.data(), &len);
    }
    AnyBuf *rec = nullptr;
    if (rc == RYCERT_OK && (rc = Hx_CRL_EncodeRevokedCRL(c, &rec)) == RYCERT_OK) {
      Hx_FreeAnybuf(rec);
    }
    RyCert_DestroyCrlEncodeCtx(c);
    return rc;
  });
}

TEST(CrlMemory, FailedSetterLeavesTheContextAsItWas) {
  Builder b;
  basics(b);
  b.set(CRL_CERT_SERIALNUMBER, hex("01"));
  RyCert_SetCrlSignFunc(b.c, fixedSign, nullptr, 0);
  MOSK_TestFailAllocation(0, 1);
  const uint32_t rc = b.set(CRL_CERT_SERIALNUMBER, hex("0203040506070809"));
  MOSK_TestClearFault();
  EXPECT_EQ(rc, RYCERT_MemoryErr);
  AnyBuf *rec = nullptr;
  ASSERT_EQ(Hx_CRL_EncodeRevokedCRL(b.c, &rec), RYCERT_OK);
  EXPECT_EQ(toHex(bytesOf(rec)), toHex(seq({seq({hex("020101"), gen("19700101000000Z")})})));
  Hx_FreeAnybuf(rec);
}

}  // namespace
