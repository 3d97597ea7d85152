// Names: records to DER and back, string types, DN text, corpus names, and peers reading ours.
#include <map>
#include <optional>

#include "x509_peer.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // designated initializers

namespace {

using namespace rytest;
using namespace std::string_view_literals;

// clang-format off
enum : uint32_t { E = RY_DN_EMAIL, CN = RY_DN_COMMONNAME, C = RY_DN_COUNTRY, L = RY_DN_LOCALITY,
                  S = RY_DN_STATEORPROVINCE, O = RY_DN_ORGANIZATION, OU = RY_DN_ORGUNIT,
                  PA = RY_DN_POSTALADDRESS, PC = RY_DN_POSTALCODE, TEL = RY_DN_TELEPHONE };

// Code -> OID content, dotted OID. 0 is serialNumber, unknown to us; PA, PC, TEL decode as 0.
const std::map<uint32_t, std::pair<const char *, const char *>> kTypes = {
    {0, {"550405", "2.5.4.5"}}, {E, {"2A864886F70D010901", "1.2.840.113549.1.9.1"}},
    {CN, {"550403", "2.5.4.3"}}, {C, {"550406", "2.5.4.6"}}, {L, {"550407", "2.5.4.7"}},
    {S, {"550408", "2.5.4.8"}}, {O, {"55040A", "2.5.4.10"}}, {OU, {"55040B", "2.5.4.11"}},
    {PA, {"550410", "2.5.4.16"}}, {PC, {"550411", "2.5.4.17"}}, {TEL, {"550414", "2.5.4.20"}}};
// clang-format on

constexpr uint8_t kPrintable = 0x13, kUtf8 = 0x0C, kIa5 = 0x16, kBmp = 0x1E;

struct Attr {
  uint32_t code = 0;
  Bytes oid;
  uint32_t tag = 0;
  Bytes value;
  bool operator==(const Attr &) const = default;
};
Attr A(uint32_t code, std::string_view v, uint32_t tag = kPrintable) {
  return {code, hex(kTypes.at(code).first), tag, Bytes(v.begin(), v.end())};
}

using Name = std::unique_ptr<RyNameNode, decltype(&Hx_FreeName)>;  // built as setters do
Name build(const std::vector<Attr> &attrs) {
  Name first(nullptr, Hx_FreeName);
  for (auto a = attrs.rbegin(); a != attrs.rend(); ++a) {
    auto *n = static_cast<RyNameNode *>(MOSK_Malloc("test", __LINE__, sizeof(RyNameNode)));
    *n = {.next = first.release(), .type = {a->code, {.tag = 6}}, .value = {.tag = a->tag}};
    first.reset(n);
    Hx_SetAttributeCharValue(&n->type.oid, a->oid.data(), uint32_t(a->oid.size()));
    Hx_SetAttributeCharValue(&n->value, a->value.data(), uint32_t(a->value.size()));
  }
  return first;
}

struct Result {
  uint32_t rc;
  Bytes der;
  std::vector<Attr> attrs;          // the chain, also what is linked on failure
  std::optional<std::string> text;  // nullopt: out-parameter untouched
};

Result encode(RyNameNode *first) {
  AnyBuf *out = reinterpret_cast<AnyBuf *>(&out);  // must be replaced
  const uint32_t rc = Hx_EncodeIssuerSuject(&first, &out);
  EXPECT_EQ(rc == RYCERT_OK, out != nullptr) << "out-parameter is set only on success";
  Chain owned(rc == RYCERT_OK ? out : nullptr);
  return {.rc = rc, .der = bytesOf(owned.get())};
}
Result encode(const std::vector<Attr> &attrs) { return encode(build(attrs).get()); }

Result decode(const AnyBuf *rec) {
  RyNameNode *first = nullptr;
  Result r{.rc = Hx_DecodeIssuerSubject(rec, &first)};
  for (const RyNameNode *n = first; n != nullptr; n = n->next) {
    r.attrs.push_back({n->type.id, bytesOf(&n->type.oid), n->value.tag, bytesOf(&n->value)});
  }
  Hx_FreeName(first);
  return r;
}
Result decode(const Bytes &der) { return decode(Rec(der).get()); }  // exact size

Result text(RyNameNode *first) {
  AnyBuf out{};
  Result r{.rc = Hx_GetDN(&out, &first)};
  using Text = std::optional<std::string>;
  r.text = out.data || out.length ? Text(std::in_place, out.data, out.data + out.length) : Text();
  MOSK_Free(out.data);
  return r;
}

Bytes rdn(std::initializer_list<Attr> attrs) {
  Bytes content;
  for (const Attr &a : attrs) {
    content = cat({content, tlv(0x30, cat({tlv(0x06, a.oid), tlv(uint8_t(a.tag), a.value)}))});
  }
  return tlv(0x31, content);
}
Bytes nameOf(std::initializer_list<Bytes> rdns) { return tlv(0x30, cat(rdns)); }

struct ChoiceCase {
  const char *name;
  uint32_t code, tag;  // attribute code, the value's tag in the record
  std::string_view value;
  uint8_t written;  // string type written; 0: refused
};
const ChoiceCase kStringChoice[] = {
    {"printable text", CN, kPrintable, "Alpha Beta", kPrintable},
    {"all punctuation of the alphabet", CN, kPrintable, "'()+,-./:=? ", kPrintable},
    {"'@' is not printable", CN, kPrintable, "a@b", kUtf8},
    {"'_' is not printable", OU, kPrintable, "a_b", kUtf8},
    {"UTF-8 bytes", L, kPrintable, "Z\xC3\xBCrich", kUtf8},
    {"e-mail address is IA5String", E, kPrintable, "a_b@example.com", kIa5},
    {"printable e-mail is IA5String too", E, kPrintable, "abc", kIa5},
    {"8-bit e-mail is UTF8String", E, kPrintable, "j\xC3\xB6rg@x.org", kUtf8},
    {"BMPString is kept", CN, kBmp, "\x00\x41\x03\xA9"sv, kBmp},
    {"odd-length BMPString is refused", CN, kBmp, "\x00\x41\x03"sv, 0},
    {"UTF8String is kept though printable", O, kUtf8, "plain", kUtf8},
    {"7-bit IA5String is kept", S, kIa5, "a_b", kIa5},
    {"8-bit IA5String becomes UTF8String", CN, kIa5, "\xC3\xA9", kUtf8}};

TEST(NameEncode, WritesEachValueAsATypeThatHoldsIt) {
  for (const auto &c : kStringChoice) {
    SCOPED_TRACE(c.name);
    const Result e = encode({A(c.code, c.value, c.tag)});
    const std::vector<Attr> written = {A(c.code, c.value, c.written)};
    EXPECT_EQ(e.rc, c.written != 0 ? RYCERT_OK : RYCERT_InvalidLengthErr);
    EXPECT_EQ(toHex(e.der), c.written != 0 ? toHex(nameOf({rdn({written[0]})})) : "");
    EXPECT_EQ(decode(e.der).attrs, c.written != 0 ? written : std::vector<Attr>{});
  }
}

const Bytes kMixed =
    nameOf({rdn({A(CN, "a"), A(O, "b")}), rdn({A(E, "a@b", kIa5)}),
            rdn({A(CN, "\x03\xA9\x00m"sv, kBmp)}), rdn({A(L, "\xC3\xA9", kUtf8)})});

TEST(NameDecode, ReadsFirstAttributeOfEachRdnAndRefusesEveryPrefix) {
  const Attr serial = A(0, "42"), postal = A(PC, "12345"), cn = A(CN, "x"), c = A(C, "CN");
  const Attr odd = {0, hex("55040300"), kPrintable, cn.value}, big = A(CN, std::string(300, 'x'));
  struct Case {
    const char *name;
    Bytes der;
    uint32_t rc;
    std::vector<Attr> attrs;  // on failure: the nodes linked before it
  };
  // clang-format off
  const Case cases[] = {
      {"C=CN,O=Org,CN=Alpha", hex("302B 310B3009 0603550406 1302434E 310C300A 060355040A 13034F7267"
                                  "     310E300C 0603550403 1305416C706861"),
       RYCERT_OK, {c, A(O, "Org"), A(CN, "Alpha")}},
      {"empty Name", hex("3000"), RYCERT_OK, {}},
      {"unknown types keep their OID under code 0",
       nameOf({rdn({serial}), rdn({postal}), rdn({odd})}), RYCERT_OK,
       {serial, {0, postal.oid, kPrintable, postal.value}, odd}},
      {"first attribute of an RDN, string tags kept", kMixed, RYCERT_OK,
       {A(CN, "a"), A(E, "a@b", kIa5), A(CN, "\x03\xA9\x00m"sv, kBmp), A(L, "\xC3\xA9", kUtf8)}},
      {"long value", nameOf({rdn({big}), rdn({c})}), RYCERT_OK, {big, c}},
      {"third RDN broken", nameOf({rdn({c}), rdn({cn}), hex("3104 3002 0400")}),
       RYCERT_InvalidLengthErr, {c, cn}},
      {"empty RDN", hex("3002 3100"), RYCERT_InvalidLengthErr},
      {"third element", hex("300B 3109 3007 060155 1300 0500"), RYCERT_InvalidLengthErr},
      {"empty OID", hex("3008 3106 3004 0600 1300"), RYCERT_TagNotMatchErr},
      {"2nd value overruns", hex("300D310B 3007060155 13024142 3001"), RYCERT_InvalidLengthErr}};
  // clang-format on
  const int64_t base = liveBlocks();
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    Result d = decode(k.der);  // releases what was linked with Hx_FreeName
    EXPECT_EQ(d.rc, k.rc);
    d.attrs.resize(k.rc == RYCERT_OK ? d.attrs.size() : std::min(d.attrs.size(), k.attrs.size()));
    EXPECT_EQ(d.attrs, k.attrs);
    for (size_t n = 0; k.rc == RYCERT_OK && n <= k.der.size(); ++n) {
      const Bytes cut =
          n < k.der.size() ? Bytes(k.der.begin(), k.der.begin() + n) : cat({k.der, {0}});
      EXPECT_NE(decode(cut).rc, RYCERT_OK) << "prefix " << n << " or one byte more";
    }
    EXPECT_EQ(liveBlocks(), base);
  }
  for (const Case &k : {cases[0], cases[1], cases[2]}) {  // written back byte for byte
    EXPECT_EQ(toHex(encode(k.attrs).der), toHex(k.der)) << k.name;
  }
}

TEST(NameText, ShowsSevenComponentsInFixedOrderLastOneWins) {
  const std::string big(10000, 'x'), o(3000, 'o');
  struct Case {
    const char *name;
    std::vector<Attr> attrs;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"seven in reverse, other types left out, no escaping",
       {A(L, "l"), A(S, "s"), A(PA, "p"), A(E, "e@x"), A(CN, "a,b=\"c\"\\"), A(0, "9"), A(OU, "ou"),
        A(TEL, "t"), A(O, ""), A(C, "c")},
       "C=c,O=,OU=ou,CN=a,b=\"c\"\\,E=e@x,S=s,L=l"},
      {"last occurrence wins", {A(CN, "1"), A(C, "AA"), A(CN, "2"), A(C, "BB")}, "C=BB,CN=2"},
      {"postal code alone gives no text", {A(PC, "12345")}, std::nullopt},
      {"very long values", {A(CN, big), A(O, o)}, "O=" + o + ",CN=" + big}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Result t = text(build(c.attrs).get());
    EXPECT_EQ(t.rc, RYCERT_OK);
    EXPECT_EQ(t.text, c.text);
  }
}

TEST(NameAllocation, EveryFailureIsReportedAndNothingLeaks) {
  Name name = build({A(C, "CN"), A(E, "a@b"), A(CN, "x")});
  Rec rec(kMixed);
  const std::pair<const char *, std::function<uint32_t()>> cases[] = {
      {"encode", [&] { return encode(name.get()).rc; }},
      {"decode", [&] { return decode(rec.get()).rc; }},
      {"text", [&] { return text(name.get()).rc; }}};
  for (const auto &[what, run] : cases) {
    SCOPED_TRACE(what);
    EXPECT_GT(sweepAllocationFailures(run), 0);
  }
}

TEST(NameCorpus, NamesDecodeAndReencodeIdentically) {
  int names = 0, identical = 0, multiValued = 0;
  forEachCorpusCert([&](const std::string &where, X509 *cert) {
    for (const X509_NAME *xn : {X509_get_issuer_name(cert), X509_get_subject_name(cert)}) {
      SCOPED_TRACE(where);
      const Bytes der = i2dBytes(i2d_X509_NAME, xn);
      const Result d = decode(der), again = encode(d.attrs);
      ASSERT_EQ(d.rc, RYCERT_OK);
      EXPECT_EQ(again.rc, RYCERT_OK);
      ++names;
      if (int(d.attrs.size()) != X509_NAME_entry_count(xn)) {
        ++multiValued;  // only the first attribute of an RDN is kept
      } else if (decode(again.der).attrs == d.attrs) {  // every string type kept
        EXPECT_EQ(toHex(again.der), toHex(der));
        identical += again.der == der;
      }
    }
  });
  std::printf("corpus: %d names, %d identical, %d multi-valued\n", names, identical, multiValued);
  EXPECT_TRUE(names >= 550 && identical >= 540 && multiValued >= 2);
}

// Every accepted value of kStringChoice in one Name, and the lines Python prints for it.
std::pair<Bytes, std::string> peerName() {
  std::vector<Attr> in;
  std::string lines;
  for (const auto &c : kStringChoice) {
    if (c.written != 0) {
      in.push_back(A(c.code, c.value, c.tag));
      lines += std::string(kTypes.at(c.code).second) + " " + std::to_string(c.written) + " " +
               toHex(in.back().value) + "\n";
    }
  }
  return {encode(in).der, lines};
}

// libcrypto reads every attribute and, given each as its own RDN, writes what we wrote.
TEST(NameInterop, LibcryptoReadsOurNames) {
  const Bytes der = peerName().first;
  const unsigned char *p = der.data();
  using NamePtr = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;
  NamePtr xn(d2i_X509_NAME(nullptr, &p, long(der.size())), X509_NAME_free);
  NamePtr again(X509_NAME_new(), X509_NAME_free);
  ASSERT_TRUE(xn);
  EXPECT_EQ(p, der.data() + der.size()) << "all read";
  for (int k = 0; k < X509_NAME_entry_count(xn.get()); ++k) {
    X509_NAME_add_entry(again.get(), X509_NAME_get_entry(xn.get(), k), -1, 0);
  }
  EXPECT_EQ(toHex(i2dBytes(i2d_X509_NAME, again.get())), toHex(der));
}

TEST(NameInterop, PythonCryptographyReadsOurNamesStrictly) {
  // The first interpreter that has the package: the one on PATH, else the
  // system's (where the setup script installs it).
  int status = 1;
  std::string python;
  for (const char *candidate : {"python3", "/usr/bin/python3"}) {
    runCommand(std::string(candidate) + " -c 'import cryptography' 2>&1", status);
    if (status == 0) {
      python = candidate;
      break;
    }
  }
  if (python.empty()) {
    GTEST_SKIP() << "no python3 with the cryptography package";
  }
  const auto [der, expected] = peerName();
  // Our Name as issuer of a CRL: the parser checks structure, not the signature.
  const Bytes alg = hex("300A 06082A8648CE3D040302"), time = hex("170D 3230303130313030303030305A");
  const Bytes crl = tlv(0x30, cat({tlv(0x30, cat({alg, der, time})), alg, hex("030100")}));
  const std::string script =
      python + " -c \"import sys; from cryptography import x509; [print(a.oid.dotted_string, "
      "a._type.value, a.value.encode('utf_16_be' if a._type.value == 30 else 'utf8').hex().upper())"
      " for a in x509.load_der_x509_crl(open(sys.argv[1], 'rb').read()).issuer]\" ";
  EXPECT_EQ(runCommand(script + writeTemp("name.crl", crl) + " 2>&1", status), expected);
  EXPECT_EQ(status, 0);
}

}  // namespace
