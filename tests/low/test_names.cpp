// Distinguished names: Name records to DER and back, the string type each
// value is written as, the one-line DN text, and names exchanged with
// OpenSSL and Python's cryptography package in both directions.
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "x509_peer.h"

namespace {

using namespace std::string_view_literals;
using rytest::Bytes;
using rytest::cat;
using rytest::hex;
using rytest::liveBlocks;
using rytest::Rec;
using rytest::tlv;
using rytest::toHex;

// The attribute types of a Name record: code, OID content octets, dotted
// form and whether decoding gives the code back.
struct Component {
  uint32_t code;
  const char *oidHex;
  const char *dotted;
  bool decodesToCode;
};
const Component kComponents[] = {
    {RY_DN_EMAIL, "2A864886F70D010901", "1.2.840.113549.1.9.1", true},
    {RY_DN_COMMONNAME, "550403", "2.5.4.3", true},
    {RY_DN_COUNTRY, "550406", "2.5.4.6", true},
    {RY_DN_LOCALITY, "550407", "2.5.4.7", true},
    {RY_DN_STATEORPROVINCE, "550408", "2.5.4.8", true},
    {RY_DN_ORGANIZATION, "55040A", "2.5.4.10", true},
    {RY_DN_ORGUNIT, "55040B", "2.5.4.11", true},
    {RY_DN_POSTALADDRESS, "550410", "2.5.4.16", false},
    {RY_DN_POSTALCODE, "550411", "2.5.4.17", false},
    {RY_DN_TELEPHONE, "550414", "2.5.4.20", false},
};
constexpr const char *kSerialNumberOid = "550405";  // 2.5.4.5, not in the table

const Component &component(uint32_t code) {
  for (const auto &c : kComponents) {
    if (c.code == code) {
      return c;
    }
  }
  ADD_FAILURE() << "no component " << code;
  return kComponents[0];
}

// String identifier octets.
constexpr uint8_t kPrintable = 0x13, kUtf8 = 0x0C, kIa5 = 0x16, kBmp = 0x1E, kT61 = 0x14;

// One attribute as the tests see it.
struct Attr {
  uint32_t code = 0;
  Bytes oid;
  uint32_t tag = 0;
  Bytes value;
  bool operator==(const Attr &) const = default;
};

Attr A(uint32_t code, std::string_view value, uint32_t tag = kPrintable) {
  return {code, hex(component(code).oidHex), tag, Bytes(value.begin(), value.end())};
}
Attr unknownAttr(std::string_view value) {
  return {0, hex(kSerialNumberOid), kPrintable, Bytes(value.begin(), value.end())};
}

// Failure messages show code/OID/tag/value.
void PrintTo(const Attr &a, std::ostream *os) {
  *os << a.code << "/" << toHex(a.oid) << "/" << a.tag << "/" << toHex(a.value);
}

// ------------------------------------------------------ name records

struct NameDeleter {
  void operator()(RyNameNode *n) const { Hx_FreeName(n); }
};
using Name = std::unique_ptr<RyNameNode, NameDeleter>;

uint8_t *moskCopy(const Bytes &b) {
  if (b.empty()) {
    return nullptr;
  }
  auto *p = static_cast<uint8_t *>(MOSK_Malloc("test", __LINE__, b.size()));
  std::memcpy(p, b.data(), b.size());
  return p;
}

// A chain of nodes allocated as the setters would, released by Hx_FreeName.
Name build(const std::vector<Attr> &attrs) {
  RyNameNode *first = nullptr;
  RyNameNode **tail = &first;
  for (const auto &a : attrs) {
    auto *n = static_cast<RyNameNode *>(MOSK_Malloc("test", __LINE__, sizeof(RyNameNode)));
    *n = RyNameNode{};
    n->type.id = a.code;
    n->type.oid = {moskCopy(a.oid), uint32_t(a.oid.size()), 0, 0, 6, nullptr, nullptr};
    n->value = {moskCopy(a.value), uint32_t(a.value.size()), 0, 0, a.tag, nullptr, nullptr};
    *tail = n;
    tail = &n->next;
  }
  return Name(first);
}

std::vector<Attr> attrsOf(const RyNameNode *n) {
  std::vector<Attr> out;
  for (; n != nullptr; n = n->next) {
    out.push_back(
        {n->type.id, rytest::bytesOf(&n->type.oid), n->value.tag, rytest::bytesOf(&n->value)});
  }
  return out;
}

struct Encoded {
  uint32_t rc;
  Bytes der;
};

Encoded encode(RyNameNode *first) {
  AnyBuf *out = reinterpret_cast<AnyBuf *>(&out);  // must be replaced
  const uint32_t rc = Hx_EncodeIssuerSuject(&first, &out);
  if (rc != RYCERT_OK) {
    EXPECT_EQ(out, nullptr) << "out-parameter not cleared on failure";
    return {rc, {}};
  }
  rytest::Chain owned(out);
  EXPECT_EQ(out->next, nullptr);
  EXPECT_EQ(out->tag, 16u);
  return {rc, rytest::bytesOf(out)};
}
Encoded encode(const std::vector<Attr> &attrs) { return encode(build(attrs).get()); }

struct Decoded {
  uint32_t rc;
  std::vector<Attr> attrs;
};

// Decodes from an exact-size record; the chain is released afterwards.
Decoded decode(const Bytes &der) {
  Rec rec(der);
  RyNameNode *first = nullptr;
  const uint32_t rc = Hx_DecodeIssuerSubject(rec.get(), &first);
  Name owned(first);
  return {rc, attrsOf(first)};
}

struct Text {
  uint32_t rc;
  bool written;
  Bytes text;
};

// Hx_GetDN into a record holding a sentinel, to see whether it is written.
Text dnText(RyNameNode *first) {
  uint8_t sentinel = 0;
  AnyBuf out{&sentinel, 7777, 0, 0, 0, nullptr, nullptr};
  const uint32_t rc = Hx_GetDN(&out, &first);
  if (out.data == &sentinel) {
    EXPECT_EQ(out.length, 7777u) << "length written without text";
    return {rc, false, {}};
  }
  Text t{rc, true, rytest::bytesOf(&out)};
  MOSK_Free(out.data);
  return t;
}
Text dnText(const std::vector<Attr> &attrs) { return dnText(build(attrs).get()); }

// ------------------------------------------------------ DER by hand

Bytes atv(const Bytes &oid, uint8_t stringId, const Bytes &value) {
  return tlv(0x30, cat({tlv(0x06, oid), tlv(stringId, value)}));
}
Bytes rdn(const Bytes &oid, uint8_t stringId, const Bytes &value) {
  return tlv(0x31, atv(oid, stringId, value));
}
Bytes nameOf(const std::vector<Bytes> &rdns) {
  Bytes content;
  for (const auto &r : rdns) {
    content.insert(content.end(), r.begin(), r.end());
  }
  return tlv(0x30, content);
}

const char kExampleHex[] =
    "302B"
    "310B 3009 0603550406 1302434E"
    "310C 300A 060355040A 13034F7267"
    "310E 300C 0603550403 1305416C706861";
const std::vector<Attr> kExample = {A(RY_DN_COUNTRY, "CN"), A(RY_DN_ORGANIZATION, "Org"),
                                    A(RY_DN_COMMONNAME, "Alpha")};

// ========================================================== encoding

TEST(NameEncode, WritesOneSetPerNodeInChainOrder) {
  const Encoded e = encode(kExample);
  ASSERT_EQ(e.rc, RYCERT_OK);
  EXPECT_EQ(toHex(e.der), toHex(hex(kExampleHex)));

  const Encoded empty = encode(std::vector<Attr>{});
  ASSERT_EQ(empty.rc, RYCERT_OK);
  EXPECT_EQ(toHex(empty.der), "3000");
}

struct ChoiceCase {
  const char *name;
  uint32_t code;
  uint32_t tag;  // the value's tag in the record
  std::string_view value;
  uint8_t written;  // identifier of the string type written
};
const ChoiceCase kStringChoice[] = {
    {"printable text", RY_DN_COMMONNAME, kPrintable, "Alpha Beta", kPrintable},
    {"every punctuation mark of the alphabet", RY_DN_COMMONNAME, kPrintable, "a'()+,-./:=? z",
     kPrintable},
    {"'@' is not printable", RY_DN_COMMONNAME, kPrintable, "a@b", kUtf8},
    {"'_' is not printable", RY_DN_ORGUNIT, kPrintable, "a_b", kUtf8},
    {"'*' is not printable", RY_DN_COMMONNAME, kPrintable, "*.example.com", kUtf8},
    {"UTF-8 bytes", RY_DN_LOCALITY, kPrintable, "Z\xC3\xBCrich", kUtf8},
    {"a record without a string tag", RY_DN_COUNTRY, 0, "CN", kPrintable},
    {"a T61String record", RY_DN_COMMONNAME, kT61, "plain", kPrintable},
    {"UTF8String is kept though printable", RY_DN_COMMONNAME, kUtf8, "plain", kUtf8},
    {"BMPString is kept", RY_DN_COMMONNAME, kBmp, "\x00\x41\x03\xA9"sv, kBmp},
    {"IA5String is kept when 7-bit", RY_DN_COMMONNAME, kIa5, "a_b", kIa5},
    {"IA5String of 8-bit bytes becomes UTF8String", RY_DN_COMMONNAME, kIa5, "\xC3\xA9t\xC3\xA9",
     kUtf8},
    {"e-mail address is IA5String", RY_DN_EMAIL, kPrintable, "a_b@example.com", kIa5},
    {"e-mail of printable characters is IA5String too", RY_DN_EMAIL, kPrintable, "abc", kIa5},
    {"8-bit e-mail address is UTF8String", RY_DN_EMAIL, kPrintable, "j\xC3\xB6rg@example.com",
     kUtf8},
    {"telephone number with '#'", RY_DN_TELEPHONE, kPrintable, "+1 555#1", kUtf8},
    {"unknown code with '@'", 0, kPrintable, "x@y", kUtf8},
    {"NUL byte", RY_DN_COMMONNAME, kPrintable, "a\0b"sv, kUtf8},
};

TEST(NameEncode, WritesEachValueAsATypeThatHoldsIt) {
  for (const auto &c : kStringChoice) {
    SCOPED_TRACE(c.name);
    const Bytes value(c.value.begin(), c.value.end());
    Attr a{c.code, hex(c.code == 0 ? kSerialNumberOid : component(c.code).oidHex), c.tag, value};
    const Encoded e = encode({a});
    ASSERT_EQ(e.rc, RYCERT_OK);
    EXPECT_EQ(toHex(e.der), toHex(nameOf({rdn(a.oid, c.written, value)})));
    // Read back, the value carries the tag of the type written.
    const Decoded d = decode(e.der);
    ASSERT_EQ(d.rc, RYCERT_OK);
    ASSERT_EQ(d.attrs.size(), 1u);
    EXPECT_EQ(d.attrs[0].tag, c.written);
    EXPECT_EQ(d.attrs[0].value, value);
  }
}

TEST(NameEncode, LengthsTakeAsManyOctetsAsNeeded) {
  // Values around each length-octet boundary, at every nesting level.
  for (size_t n : {0x7Bu, 0x7Cu, 0x7Fu, 0x80u, 0xF6u, 0xFFu, 0x100u, 0xFFF6u, 0x10000u}) {
    SCOPED_TRACE(n);
    const std::string value(n, 'v');
    const Encoded e = encode({A(RY_DN_COMMONNAME, value), A(RY_DN_COUNTRY, "CN")});
    ASSERT_EQ(e.rc, RYCERT_OK);
    const Bytes expected = nameOf({rdn(hex("550403"), kPrintable, rytest::str(value)),
                                   rdn(hex("550406"), kPrintable, rytest::str("CN"))});
    EXPECT_EQ(e.der.size(), expected.size());
    EXPECT_TRUE(e.der == expected);
  }
}

struct BadNodeCase {
  const char *name;
  void (*spoil)(RyNameNode &);
  uint32_t status;
};
const BadNodeCase kBadNodes[] = {
    {"BMPString of odd length",
     [](RyNameNode &n) {
       n.value.tag = kBmp;
       n.value.length = 3;
     },
     RYCERT_InvalidLengthErr},
    {"empty type OID",
     [](RyNameNode &n) {
       MOSK_Free(n.type.oid.data);
       n.type.oid.data = nullptr;
       n.type.oid.length = 0;
     },
     RYCERT_InvalidLengthErr},
    {"value length without a block",
     [](RyNameNode &n) {
       MOSK_Free(n.value.data);
       n.value.data = nullptr;
     },
     RYCERT_MemoryErr},
};

TEST(NameEncode, RefusesNodesItCannotWrite) {
  const int64_t base = liveBlocks();
  for (const auto &c : kBadNodes) {
    SCOPED_TRACE(c.name);
    {
      Name name = build(
          {A(RY_DN_COUNTRY, "CN"), A(RY_DN_COMMONNAME, "Alpha"), A(RY_DN_ORGANIZATION, "Org")});
      c.spoil(*name->next);
      EXPECT_EQ(encode(name.get()).rc, c.status);
    }
    EXPECT_EQ(liveBlocks(), base);
  }
  RyNameNode *first = nullptr;
  AnyBuf *out = nullptr;
  EXPECT_EQ(Hx_EncodeIssuerSuject(nullptr, &out), RYCERT_MemoryErr);
  EXPECT_EQ(Hx_EncodeIssuerSuject(&first, nullptr), RYCERT_MemoryErr);
}

// ========================================================== decoding

TEST(NameDecode, ReadsTheNodesInOrder) {
  const Decoded d = decode(hex(kExampleHex));
  ASSERT_EQ(d.rc, RYCERT_OK);
  EXPECT_EQ(d.attrs, kExample);
}

struct ReadCase {
  const char *name;
  Bytes der;
  std::vector<Attr> attrs;
};

TEST(NameDecode, KeepsTypeValueAndStringTag) {
  const Bytes cn = hex("550403"), email = hex(component(RY_DN_EMAIL).oidHex);
  const ReadCase cases[] = {
      {"empty Name", hex("3000"), {}},
      {"unknown type keeps its OID under code 0",
       nameOf({rdn(hex(kSerialNumberOid), kPrintable, rytest::str("42")),
               rdn(cn, kPrintable, rytest::str("x"))}),
       {unknownAttr("42"), A(RY_DN_COMMONNAME, "x")}},
      {"postal code is not recognised",
       nameOf({rdn(hex("550411"), kPrintable, rytest::str("12345"))}),
       {{0, hex("550411"), kPrintable, rytest::str("12345")}}},
      {"multi-valued RDN gives its first attribute",
       nameOf({tlv(0x31, cat({atv(cn, kPrintable, rytest::str("first")),
                              atv(email, kIa5, rytest::str("a@b"))})),
               rdn(hex("550406"), kPrintable, rytest::str("CN"))}),
       {A(RY_DN_COMMONNAME, "first"), A(RY_DN_COUNTRY, "CN")}},
      {"e-mail, BMP, UTF-8 and T61 tags",
       nameOf({rdn(email, kIa5, rytest::str("a@b")), rdn(cn, kBmp, hex("00410042")),
               rdn(cn, kUtf8, rytest::str("\xC3\xA9")), rdn(cn, kT61, rytest::str("t"))}),
       {A(RY_DN_EMAIL, "a@b", kIa5), A(RY_DN_COMMONNAME, "\x00\x41\x00\x42"sv, kBmp),
        A(RY_DN_COMMONNAME, "\xC3\xA9", kUtf8), A(RY_DN_COMMONNAME, "t", kT61)}},
      {"empty value", nameOf({rdn(cn, kPrintable, {})}), {A(RY_DN_COMMONNAME, "")}},
      {"OID that only starts like a known one",
       nameOf({rdn(hex("55040300"), kPrintable, rytest::str("x"))}),
       {{0, hex("55040300"), kPrintable, rytest::str("x")}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = decode(c.der);
    ASSERT_EQ(d.rc, RYCERT_OK);
    EXPECT_EQ(d.attrs, c.attrs);
  }
}

struct RefuseCase {
  const char *name;
  const char *der;
  uint32_t status;
};
const RefuseCase kRefused[] = {
    {"empty record", "", RYCERT_LengthNotEqualErr},
    {"SET instead of SEQUENCE", "3100", RYCERT_TagNotMatchErr},
    {"byte after the Name", "300000", RYCERT_LengthNotEqualErr},
    {"indefinite length", "30800000", RYCERT_InvalidLengthErr},
    {"RDN is a SEQUENCE", "3004 3002 0600", RYCERT_TagNotMatchErr},
    {"empty RDN", "3002 3100", RYCERT_InvalidLengthErr},
    {"RDN overruns the Name", "3004 3103 3001", RYCERT_InvalidLengthErr},
    {"attribute is a SET", "3009 3107 3105 0601 55 1300", RYCERT_TagNotMatchErr},
    {"attribute without value", "3007 3105 3003 060155", RYCERT_InvalidLengthErr},
    {"attribute with a third element", "300B 3109 3007 060155 1300 0500", RYCERT_InvalidLengthErr},
    {"type is not an OID", "3008 3106 3004 0400 1300", RYCERT_TagNotMatchErr},
    {"empty OID", "3008 3106 3004 0600 1300", RYCERT_TagNotMatchErr},
    {"value overruns its attribute", "3009 3107 3005 060155 1301", RYCERT_InvalidLengthErr},
    {"second value of an RDN overruns", "300D 310B 3007 060155 13024142 3001",
     RYCERT_InvalidLengthErr},
    {"multi-octet identifier", "3009 3107 3005 060155 1F00", RYCERT_TagNotMatchErr},
    {"five length octets", "3085 0000000002 3100", RYCERT_InvalidLengthErr},
};

TEST(NameDecode, RefusesMalformedNames) {
  const int64_t base = liveBlocks();
  for (const auto &c : kRefused) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(hex(c.der)).rc, c.status);
    EXPECT_EQ(liveBlocks(), base);
  }
  RyNameNode *first = nullptr;
  EXPECT_EQ(Hx_DecodeIssuerSubject(nullptr, &first), RYCERT_MemoryErr);
  EXPECT_EQ(first, nullptr);
  Rec rec(hex(kExampleHex));
  EXPECT_EQ(Hx_DecodeIssuerSubject(rec.get(), nullptr), RYCERT_MemoryErr);
}

TEST(NameDecode, FailureLeavesTheLinkedNodesToTheCaller) {
  // Two good RDNs, then a broken one: the good nodes stay in the chain and
  // Hx_FreeName releases everything that was linked.
  const int64_t base = liveBlocks();
  const Bytes der = nameOf({rdn(hex("550406"), kPrintable, rytest::str("CN")),
                            rdn(hex("550403"), kPrintable, rytest::str("Alpha")),
                            tlv(0x31, tlv(0x30, tlv(0x04, {})))});
  Rec rec(der);
  RyNameNode *first = nullptr;
  EXPECT_EQ(Hx_DecodeIssuerSubject(rec.get(), &first), RYCERT_InvalidLengthErr);
  const auto attrs = attrsOf(first);
  ASSERT_GE(attrs.size(), 2u);
  EXPECT_EQ(attrs[0], A(RY_DN_COUNTRY, "CN"));
  EXPECT_EQ(attrs[1], A(RY_DN_COMMONNAME, "Alpha"));
  Hx_FreeName(first);
  EXPECT_EQ(liveBlocks(), base + 1) << "only the input record is left";
}

TEST(NameDecode, AppendsBehindNodesAlreadyInTheChain) {
  Name name = build({A(RY_DN_LOCALITY, "Here")});
  RyNameNode *first = name.release();
  Rec rec(hex(kExampleHex));
  ASSERT_EQ(Hx_DecodeIssuerSubject(rec.get(), &first), RYCERT_OK);
  Name owned(first);
  std::vector<Attr> expected = {A(RY_DN_LOCALITY, "Here")};
  expected.insert(expected.end(), kExample.begin(), kExample.end());
  EXPECT_EQ(attrsOf(first), expected);
}

// Valid Names used by the prefix and allocation tests.
std::vector<Bytes> validNames() {
  const Bytes cn = hex("550403");
  return {
      hex(kExampleHex),
      nameOf({tlv(0x31,
                  cat({atv(cn, kPrintable, rytest::str("a")), atv(cn, kUtf8, rytest::str("b"))})),
              rdn(hex(component(RY_DN_EMAIL).oidHex), kIa5, rytest::str("a@b.c")),
              rdn(cn, kBmp, hex("03A9006D")),
              rdn(hex(kSerialNumberOid), kPrintable, rytest::str("7"))}),
      nameOf({rdn(cn, kPrintable, Bytes(300, 'x')),
              rdn(hex("550406"), kPrintable, rytest::str("CN"))}),
  };
}

TEST(NameDecode, EveryPrefixAndAnExtraByteAreRefused) {
  const int64_t base = liveBlocks();
  for (const Bytes &valid : validNames()) {
    SCOPED_TRACE(toHex(valid).substr(0, 40));
    ASSERT_EQ(decode(valid).rc, RYCERT_OK);
    for (size_t n = 0; n < valid.size(); ++n) {
      EXPECT_NE(decode(Bytes(valid.begin(), valid.begin() + n)).rc, RYCERT_OK) << "prefix " << n;
      ASSERT_EQ(liveBlocks(), base) << "prefix " << n;
    }
    Bytes longer = valid;
    longer.push_back(0x00);
    EXPECT_EQ(decode(longer).rc, RYCERT_LengthNotEqualErr);
    EXPECT_EQ(liveBlocks(), base);
  }
}

// ========================================================== round trip

TEST(NameRoundTrip, DecodeOfEncodeGivesTheRecordBack) {
  // Values already of the type they are written as; the decoded record
  // also writes the same bytes again.
  const std::vector<Attr> cases[] = {
      {A(RY_DN_COUNTRY, "DE"), A(RY_DN_ORGANIZATION, "Org"), A(RY_DN_ORGUNIT, "Unit"),
       A(RY_DN_COMMONNAME, "Name"), A(RY_DN_EMAIL, "n@example.org", kIa5),
       A(RY_DN_STATEORPROVINCE, "Bayern"), A(RY_DN_LOCALITY, "M\xC3\xBCnchen", kUtf8)},
      {A(RY_DN_COMMONNAME, "\x03\xA9\x00m"sv, kBmp), A(RY_DN_COMMONNAME, "plain", kUtf8),
       A(RY_DN_ORGUNIT, "a_b", kIa5), unknownAttr("1234")},
      {A(RY_DN_COMMONNAME, std::string(5000, 'c')), A(RY_DN_ORGANIZATION, std::string(200, 'o'))},
  };
  for (const auto &attrs : cases) {
    SCOPED_TRACE(::testing::PrintToString(attrs[0]));
    const Encoded e = encode(attrs);
    ASSERT_EQ(e.rc, RYCERT_OK);
    const Decoded d = decode(e.der);
    ASSERT_EQ(d.rc, RYCERT_OK);
    EXPECT_EQ(d.attrs, attrs);
    EXPECT_TRUE(encode(d.attrs).der == e.der);
  }
}

// ========================================================== text form

struct TextCase {
  const char *name;
  std::vector<Attr> attrs;
  const char *text;  // nullptr: no text, output untouched
};

TEST(NameText, ShowsSevenComponentsInFixedOrder) {
  const TextCase cases[] = {
      {"fixed order, not node order",
       {A(RY_DN_COMMONNAME, "Alpha"), A(RY_DN_ORGUNIT, "Unit"), A(RY_DN_COUNTRY, "CN")},
       "C=CN,OU=Unit,CN=Alpha"},
      {"all seven, given in reverse",
       {A(RY_DN_LOCALITY, "l"), A(RY_DN_STATEORPROVINCE, "s"), A(RY_DN_EMAIL, "e@x"),
        A(RY_DN_COMMONNAME, "cn"), A(RY_DN_ORGUNIT, "ou"), A(RY_DN_ORGANIZATION, "o"),
        A(RY_DN_COUNTRY, "c")},
       "C=c,O=o,OU=ou,CN=cn,E=e@x,S=s,L=l"},
      {"last occurrence wins",
       {A(RY_DN_COMMONNAME, "First"), A(RY_DN_COUNTRY, "AA"), A(RY_DN_COMMONNAME, "Second"),
        A(RY_DN_COUNTRY, "BB")},
       "C=BB,CN=Second"},
      {"postal code alone gives no text", {A(RY_DN_POSTALCODE, "12345")}, nullptr},
      {"empty chain gives no text", {}, nullptr},
      {"postal, telephone and unknown types are left out",
       {A(RY_DN_POSTALADDRESS, "p"), unknownAttr("9"), A(RY_DN_TELEPHONE, "t"),
        A(RY_DN_ORGANIZATION, "Org")},
       "O=Org"},
      {"values are neither escaped nor quoted",
       {A(RY_DN_COMMONNAME, "a,b=c+\"d\"\\")},
       "CN=a,b=c+\"d\"\\"},
      {"empty value keeps its label",
       {A(RY_DN_ORGANIZATION, ""), A(RY_DN_LOCALITY, "x")},
       "O=,L=x"},
      {"UTF-8 bytes as they stand",
       {A(RY_DN_COMMONNAME, "Z\xC3\xBCrich", kUtf8)},
       "CN=Z\xC3\xBCrich"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Text t = dnText(c.attrs);
    EXPECT_EQ(t.rc, RYCERT_OK);
    EXPECT_EQ(t.written, c.text != nullptr);
    if (c.text != nullptr) {
      EXPECT_EQ(std::string(t.text.begin(), t.text.end()), c.text);
    }
  }
  // A BMP value's two-octet characters are copied, NULs included.
  const Text bmp = dnText({A(RY_DN_COMMONNAME, "\x00\x41"sv, kBmp)});
  EXPECT_EQ(toHex(bmp.text), toHex(rytest::str("CN=")) + "0041");
}

TEST(NameText, HasNoLengthLimit) {
  const std::string big(10000, 'x');
  const Text t = dnText({A(RY_DN_COMMONNAME, big), A(RY_DN_ORGANIZATION, std::string(3000, 'o'))});
  ASSERT_EQ(t.rc, RYCERT_OK);
  EXPECT_EQ(std::string(t.text.begin(), t.text.end()),
            "O=" + std::string(3000, 'o') + ",CN=" + big);

  // Many nodes: the text holds the last of each.
  std::vector<Attr> many;
  for (int i = 0; i < 5000; ++i) {
    many.push_back(A(i % 2 ? RY_DN_COMMONNAME : RY_DN_ORGUNIT, std::to_string(i)));
  }
  const Text m = dnText(many);
  ASSERT_EQ(m.rc, RYCERT_OK);
  EXPECT_EQ(std::string(m.text.begin(), m.text.end()), "OU=4998,CN=4999");

  uint8_t *none = nullptr;
  RyNameNode *first = nullptr;
  AnyBuf out{};
  EXPECT_EQ(Hx_GetDN(nullptr, &first), RYCERT_MemoryErr);
  EXPECT_EQ(Hx_GetDN(&out, nullptr), RYCERT_MemoryErr);
  EXPECT_EQ(out.data, none);
}

// ========================================================== allocation failures

TEST(NameAllocation, EveryFailureIsReportedAndNothingLeaks) {
  const Bytes der = validNames()[1];
  Name name = build({A(RY_DN_COUNTRY, "CN"), A(RY_DN_EMAIL, "a@b"), A(RY_DN_COMMONNAME, "x")});
  Rec rec(der);
  {
    SCOPED_TRACE("encode");
    rytest::sweepAllocationFailures([&] {
      RyNameNode *first = name.get();
      AnyBuf *out = nullptr;
      const uint32_t rc = Hx_EncodeIssuerSuject(&first, &out);
      Hx_FreeAnybuf(out);
      return rc;
    });
  }
  {
    SCOPED_TRACE("decode");
    const int allocations = rytest::sweepAllocationFailures([&] {
      RyNameNode *first = nullptr;
      const uint32_t rc = Hx_DecodeIssuerSubject(rec.get(), &first);
      Hx_FreeName(first);
      return rc;
    });
    EXPECT_GE(allocations, 4) << "a node and its two blocks per RDN";
  }
  {
    SCOPED_TRACE("text");
    rytest::sweepAllocationFailures([&] {
      RyNameNode *first = name.get();
      AnyBuf out{};
      const uint32_t rc = Hx_GetDN(&out, &first);
      MOSK_Free(out.data);
      return rc;
    });
  }
}

// ========================================================== corpus certificates

Bytes nameDer(const X509_NAME *name) {
  unsigned char *p = nullptr;
  const int n = i2d_X509_NAME(name, &p);
  Bytes out(p, p + std::max(n, 0));
  OPENSSL_free(p);
  return out;
}

Attr attrOf(const X509_NAME_ENTRY *e) {
  const ASN1_OBJECT *o = X509_NAME_ENTRY_get_object(e);
  const ASN1_STRING *v = X509_NAME_ENTRY_get_data(e);
  const uint8_t *d = ASN1_STRING_get0_data(v);
  Attr a;
  a.oid = Bytes(OBJ_get0_data(o), OBJ_get0_data(o) + OBJ_length(o));
  a.tag = uint32_t(ASN1_STRING_type(v));
  a.value = Bytes(d, d + ASN1_STRING_length(v));
  for (const auto &c : kComponents) {
    if (c.decodesToCode && hex(c.oidHex) == a.oid) {
      a.code = c.code;
    }
  }
  return a;
}

// Whether our encoder writes this value with the type it was read as.
bool keepsType(const Attr &a) {
  const auto ascii = [](uint8_t c) { return c < 0x80; };
  const auto printable = [](uint8_t c) {
    return std::isalnum(c) || std::string_view(" '()+,-./:=?").find(char(c)) != std::string::npos;
  };
  switch (a.tag) {
    case kBmp:
      return a.value.size() % 2 == 0;
    case kUtf8:
      return true;
    case kIa5:
      return std::all_of(a.value.begin(), a.value.end(), ascii);
    case kPrintable:
      return a.code != RY_DN_EMAIL && std::all_of(a.value.begin(), a.value.end(), printable);
    default:
      return false;
  }
}

TEST(NameCorpus, CertificateNamesDecodeAsOpenSslReadsThemAndReencode) {
  int names = 0, identical = 0, multiValued = 0;
  const int64_t base = liveBlocks();
  for (const auto &c : rytest::corpusCertificates()) {
    for (const X509_NAME *xn :
         {X509_get_issuer_name(c.cert.get()), X509_get_subject_name(c.cert.get())}) {
      SCOPED_TRACE(c.where);
      const Bytes der = nameDer(xn);
      ASSERT_FALSE(der.empty());
      // OpenSSL's view: the first attribute of each RDN.
      std::vector<Attr> expected;
      int lastSet = -1;
      bool single = true;
      for (int k = 0; k < X509_NAME_entry_count(xn); ++k) {
        const X509_NAME_ENTRY *e = X509_NAME_get_entry(xn, k);
        if (X509_NAME_ENTRY_set(e) == lastSet) {
          single = false;
          continue;
        }
        lastSet = X509_NAME_ENTRY_set(e);
        expected.push_back(attrOf(e));
      }
      const Decoded d = decode(der);
      ASSERT_EQ(d.rc, RYCERT_OK);
      EXPECT_EQ(d.attrs, expected);
      ++names;
      multiValued += single ? 0 : 1;

      const Encoded again = encode(d.attrs);
      ASSERT_EQ(again.rc, RYCERT_OK);
      if (single && std::all_of(expected.begin(), expected.end(), keepsType)) {
        EXPECT_EQ(toHex(again.der), toHex(der));
        identical += again.der == der;
      } else {
        // Types and values survive even where the string type changes.
        const Decoded back = decode(again.der);
        ASSERT_EQ(back.rc, RYCERT_OK);
        ASSERT_EQ(back.attrs.size(), d.attrs.size());
        for (size_t k = 0; k < d.attrs.size(); ++k) {
          EXPECT_EQ(back.attrs[k].oid, d.attrs[k].oid);
          EXPECT_EQ(back.attrs[k].value, d.attrs[k].value);
        }
      }
    }
  }
  EXPECT_EQ(liveBlocks(), base);
  EXPECT_GE(names, 550);
  EXPECT_GE(identical, 540);
  EXPECT_GE(multiValued, 2);
}

// ========================================================== peers read our names

// A name to write, with what a peer should read: per attribute the string
// type written and the value as UTF-8.
struct PeerCase {
  const char *name;
  std::vector<Attr> attrs;
  std::vector<uint8_t> ids;
  std::vector<std::string> utf8;
};

std::vector<PeerCase> peerCases() {
  return {
      {"printable values and an e-mail address with '_'",
       {A(RY_DN_COUNTRY, "CN"), A(RY_DN_ORGANIZATION, "Org"), A(RY_DN_COMMONNAME, "Alpha"),
        A(RY_DN_EMAIL, "a_b@example.com")},
       {kPrintable, kPrintable, kPrintable, kIa5},
       {"CN", "Org", "Alpha", "a_b@example.com"}},
      {"characters outside PrintableString",
       {A(RY_DN_COMMONNAME, "*.example.com"), A(RY_DN_ORGUNIT, "R&D_1"),
        A(RY_DN_LOCALITY, "Z\xC3\xBCrich"), A(RY_DN_STATEORPROVINCE, "x@y", kIa5)},
       {kUtf8, kUtf8, kUtf8, kIa5},
       {"*.example.com", "R&D_1", "Z\xC3\xBCrich", "x@y"}},
      {"BMP and UTF-8 string records",
       {A(RY_DN_COMMONNAME, "\x03\xA9\x00m\x00\x65\x00g\x00\x61"sv, kBmp),
        A(RY_DN_ORGANIZATION, "plain", kUtf8), A(RY_DN_EMAIL, "j\xC3\xB6rg@example.com")},
       {kBmp, kUtf8, kUtf8},
       {"\xCE\xA9mega", "plain", "j\xC3\xB6rg@example.com"}},
      {"types the decoder does not recognise",
       {A(RY_DN_POSTALADDRESS, "Main St. 1"), A(RY_DN_POSTALCODE, "12345"),
        A(RY_DN_TELEPHONE, "+1 555 0100"), unknownAttr("A-1")},
       {kPrintable, kPrintable, kPrintable, kPrintable},
       {"Main St. 1", "12345", "+1 555 0100", "A-1"}},
  };
}

struct X509NameDeleter {
  void operator()(X509_NAME *n) const { X509_NAME_free(n); }
};
using X509NamePtr = std::unique_ptr<X509_NAME, X509NameDeleter>;

X509NamePtr parseName(const Bytes &der) {
  const unsigned char *p = der.data();
  X509NamePtr n(d2i_X509_NAME(nullptr, &p, long(der.size())));
  EXPECT_EQ(p, der.data() + der.size()) << "libcrypto left bytes unread";
  return n;
}

TEST(NameInterop, LibcryptoReadsOurNames) {
  for (const auto &c : peerCases()) {
    SCOPED_TRACE(c.name);
    const Encoded e = encode(c.attrs);
    ASSERT_EQ(e.rc, RYCERT_OK);
    X509NamePtr xn = parseName(e.der);
    ASSERT_TRUE(xn);
    ASSERT_EQ(X509_NAME_entry_count(xn.get()), int(c.attrs.size()));
    for (size_t k = 0; k < c.attrs.size(); ++k) {
      const X509_NAME_ENTRY *entry = X509_NAME_get_entry(xn.get(), int(k));
      EXPECT_EQ(X509_NAME_ENTRY_set(entry), int(k)) << "one attribute per RDN";
      const Attr a = attrOf(entry);
      EXPECT_EQ(a.oid, c.attrs[k].oid);
      EXPECT_EQ(a.tag, c.ids[k]);
      EXPECT_EQ(a.value, c.attrs[k].value);
    }
    EXPECT_EQ(nameDer(xn.get()), e.der);
  }
  const Encoded e = encode(peerCases()[0].attrs);
  X509NamePtr xn = parseName(e.der);
  ASSERT_TRUE(xn);
  char line[256];
  EXPECT_STREQ(X509_NAME_oneline(xn.get(), line, sizeof line),
               "/C=CN/O=Org/CN=Alpha/emailAddress=a_b@example.com");
}

// A throwaway self-signed certificate whose issuer and subject are `der`.
Bytes certificateWithName(const Bytes &der) {
  X509NamePtr xn = parseName(der);
  EXPECT_TRUE(xn);
  if (!xn) {
    return {};
  }
  EVP_PKEY *key = EVP_EC_gen("P-256");
  X509 *x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_set_issuer_name(x, xn.get());
  X509_set_subject_name(x, xn.get());
  X509_gmtime_adj(X509_getm_notBefore(x), 0);
  X509_gmtime_adj(X509_getm_notAfter(x), 3600);
  X509_set_pubkey(x, key);
  EXPECT_GT(X509_sign(x, key, EVP_sha256()), 0);
  unsigned char *p = nullptr;
  const int n = i2d_X509(x, &p);
  Bytes cert(p, p + std::max(n, 0));
  OPENSSL_free(p);
  X509_free(x);
  EVP_PKEY_free(key);
  return cert;
}

// The attribute as cryptography prints it below: dotted OID, ASN.1 type
// name and the value's UTF-8 bytes in hex.
std::string pythonLine(const Attr &a, uint8_t id, const std::string &utf8) {
  const char *type = id == kPrintable ? "PrintableString"
                     : id == kUtf8    ? "UTF8String"
                     : id == kIa5     ? "IA5String"
                                      : "BMPString";
  const char *dotted = a.code == 0 ? "2.5.4.5" : component(a.code).dotted;
  return std::string(dotted) + " " + type + " " + toHex(rytest::str(utf8)) + "\n";
}

TEST(NameInterop, PythonCryptographyReadsOurNames) {
  int status = 0;
  rytest::runCommand("python3 -c 'import cryptography' 2>/dev/null", status);
  if (status != 0) {
    GTEST_SKIP() << "python3 with the cryptography package is not available";
  }
  const std::string script = testing::TempDir() + "rycert_names_read.py";
  {
    std::ofstream s(script);
    s << "import sys\n"
         "from cryptography import x509\n"
         "c = x509.load_der_x509_certificate(open(sys.argv[1], 'rb').read())\n"
         "assert c.issuer == c.subject\n"
         "for a in c.subject:\n"
         "    t = getattr(a, '_type', None)\n"
         "    print(a.oid.dotted_string, t.name if t else '?', "
         "a.value.encode('utf-8').hex().upper())\n";
  }
  const std::string certPath = testing::TempDir() + "rycert_names_cert.der";
  for (const auto &c : peerCases()) {
    SCOPED_TRACE(c.name);
    const Encoded e = encode(c.attrs);
    ASSERT_EQ(e.rc, RYCERT_OK);
    const Bytes cert = certificateWithName(e.der);
    ASSERT_NE(std::search(cert.begin(), cert.end(), e.der.begin(), e.der.end()), cert.end())
        << "the certificate carries our bytes unchanged";
    rytest::writeFile(certPath, cert);
    std::string expected;
    for (size_t k = 0; k < c.attrs.size(); ++k) {
      expected += pythonLine(c.attrs[k], c.ids[k], c.utf8[k]);
    }
    const std::string got =
        rytest::runCommand("python3 " + script + " " + certPath + " 2>&1", status);
    EXPECT_EQ(status, 0) << got;
    EXPECT_EQ(got, expected);
  }
}

}  // namespace
