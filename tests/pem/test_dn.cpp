// Ry_GenerateDN and Ry_ParseDN: the joined text, absent components, the
// 1024-byte limit, key matching, and buffers that hold exactly what the
// reported lengths say.
#include <array>
#include <optional>

#include "test_support.h"

namespace {

using rytest::Bytes;
using rytest::ExactBlock;
using rytest::str;

constexpr uint32_t kFailed = RYCERT_TEXT_FAILED;
constexpr int kParts = 10;
const char *const kKeys[kParts] = {"C", "O", "OU", "CN", "E", "S", "L", "PA", "PC", "Phone"};

// One component for Ry_GenerateDN: its bytes and the length passed (which
// may differ from the bytes' size to test absent components).
struct Part {
  std::string value;
  int32_t length;
};
using Parts = std::array<Part, kParts>;

Parts present(std::initializer_list<std::pair<int, std::string>> values) {
  Parts p{};
  for (const auto &[i, v] : values) {
    p[i] = {v, int32_t(v.size())};
  }
  return p;
}

struct Generated {
  uint32_t rc;
  std::string text;
};

// Calls Ry_GenerateDN twice: for the length, then into a block of exactly
// that length. Every value sits in a block of exactly its bytes.
Generated generate(const Parts &parts) {
  std::vector<std::unique_ptr<ExactBlock>> in;
  const uint8_t *v[kParts];
  for (int i = 0; i < kParts; ++i) {
    in.push_back(std::make_unique<ExactBlock>(str(parts[i].value)));
    v[i] = in.back()->data();
  }
#define RY_PARTS(p)                                                                              \
  v[0], p[0].length, v[1], p[1].length, v[2], p[2].length, v[3], p[3].length, v[4], p[4].length, \
      v[5], p[5].length, v[6], p[6].length, v[7], p[7].length, v[8], p[8].length, v[9],          \
      p[9].length
  uint32_t len = 0xDEADBEEF;
  const uint32_t rc = Ry_GenerateDN(RY_PARTS(parts), nullptr, &len);
  if (rc != 0) {
    EXPECT_EQ(len, 0xDEADBEEFu) << "length written on failure";
    return {rc, {}};
  }
  ExactBlock out{Bytes(len)};
  uint32_t len2 = 0;
  EXPECT_EQ(Ry_GenerateDN(RY_PARTS(parts), out.data(), &len2), 0u);
  EXPECT_EQ(len2, len);
#undef RY_PARTS
  return {rc, std::string(reinterpret_cast<const char *>(out.data()), len)};
}

using Components = std::array<std::optional<std::string>, kParts>;

struct Parsed {
  uint32_t rc;
  std::array<uint32_t, kParts> lengths;
  Components values;  // set where the length is not 0
};

// Calls Ry_ParseDN twice, the two-call way: NULL buffers for the lengths,
// then exact-size buffers of those lengths. The text is an exact-size block.
Parsed parse(const std::string &text, int32_t textLen) {
  ExactBlock dn(str(text));
  std::array<uint32_t, kParts> n;
  n.fill(0xDEADBEEF);
  Parsed r{};
  r.rc = Ry_ParseDN(nullptr, &n[0], nullptr, &n[1], nullptr, &n[2], nullptr, &n[3], nullptr, &n[4],
                    nullptr, &n[5], nullptr, &n[6], nullptr, &n[7], nullptr, &n[8], nullptr, &n[9],
                    dn.data(), textLen);
  r.lengths = n;
  if (r.rc != 0) {
    return r;
  }
  std::vector<std::unique_ptr<ExactBlock>> out;
  for (int i = 0; i < kParts; ++i) {
    out.push_back(std::make_unique<ExactBlock>(Bytes(n[i])));
  }
  auto b = [&](int i) { return n[i] == 0 ? nullptr : out[i]->data(); };
  std::array<uint32_t, kParts> m;
  EXPECT_EQ(Ry_ParseDN(b(0), &m[0], b(1), &m[1], b(2), &m[2], b(3), &m[3], b(4), &m[4], b(5), &m[5],
                       b(6), &m[6], b(7), &m[7], b(8), &m[8], b(9), &m[9], dn.data(), textLen),
            0u);
  EXPECT_EQ(m, n);
  for (int i = 0; i < kParts; ++i) {
    if (n[i] != 0) {
      r.values[i] = std::string(reinterpret_cast<const char *>(out[i]->data()), n[i]);
    }
  }
  return r;
}
Parsed parse(const std::string &text) { return parse(text, int32_t(text.size())); }

// ---------------------------------------------------------------- joining

struct GenerateCase {
  const char *name;
  Parts parts;
  uint32_t rc;
  std::string text;
};

const GenerateCase kGenerate[] = {
    {"country, organization, common name", present({{0, "CN"}, {1, "Org"}, {3, "Alpha"}}), 0,
     "C=CN,O=Org,CN=Alpha"},
    {"only a telephone: no comma at all", present({{9, "+1 555 0100"}}), 0, "Phone=+1 555 0100"},
    {"all ten in table order",
     present({{9, "9"},
              {8, "8"},
              {7, "7"},
              {6, "6"},
              {5, "5"},
              {4, "4"},
              {3, "3"},
              {2, "2"},
              {1, "1"},
              {0, "0"}}),
     0, "C=0,O=1,OU=2,CN=3,E=4,S=5,L=6,PA=7,PC=8,Phone=9"},
    {"nothing present: empty text", present({}), 0, ""},
    {"zero and negative lengths are left out",
     [] {
       Parts p = present({{0, "DE"}, {1, "Org"}, {3, "Name"}});
       p[1].length = 0;
       p[3].length = -5;
       return p;
     }(),
     0, "C=DE"},
    {"values are copied byte for byte, commas included", present({{3, "a,b=c"}}), 0, "CN=a,b=c"},
    {"values adding up to 1024 are accepted",
     present({{3, std::string(1000, 'x')}, {0, std::string(24, 'y')}}), 0,
     "C=" + std::string(24, 'y') + ",CN=" + std::string(1000, 'x')},
    {"values adding up to 1025 are refused",
     present({{3, std::string(1000, 'x')}, {9, std::string(25, 'y')}}), kFailed, ""},
    {"a negative length does not offset an oversized one",
     [] {
       Parts p = present({{3, std::string(2000, 'x')}});
       p[1] = {"", -1500};
       return p;
     }(),
     kFailed, ""},
    {"INT32_MIN does not offset an oversized one",
     [] {
       Parts p = present({{3, std::string(1100, 'x')}});
       p[4] = {"", INT32_MIN};
       return p;
     }(),
     kFailed, ""},
};

TEST(GenerateDn, JoinsPresentComponentsInTableOrder) {
  for (const auto &c : kGenerate) {
    SCOPED_TRACE(c.name);
    const Generated g = generate(c.parts);
    EXPECT_EQ(g.rc, c.rc);
    EXPECT_EQ(g.text, c.text);
  }
}

TEST(GenerateDn, LongestTextFitsTheDocumentedBuffer) {
  Parts p{};
  for (int i = 0; i < kParts; ++i) {
    const std::string v(i < 4 ? 103 : 102, 'v');  // 4 * 103 + 6 * 102 = 1024
    p[i] = {v, int32_t(v.size())};
  }
  const Generated g = generate(p);
  ASSERT_EQ(g.rc, 0u);
  EXPECT_EQ(g.text.size(), 1061u);
}

TEST(GenerateDn, NullArguments) {
  const uint8_t v[] = {'D', 'E'};
  uint32_t n = 3;
  uint8_t out[16];
  // A present component needs its bytes; an absent one may be NULL.
  EXPECT_EQ(Ry_GenerateDN(nullptr, 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                          nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, out, &n),
            kFailed);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Ry_GenerateDN(v, 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                          0, nullptr, 0, nullptr, 0, nullptr, 0, out, nullptr),
            kFailed);
  EXPECT_EQ(Ry_GenerateDN(v, 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr,
                          0, nullptr, -1, nullptr, 0, nullptr, 0, out, &n),
            0u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), "C=DE");
}

// ---------------------------------------------------------------- splitting

Components comps(std::initializer_list<std::pair<int, std::string>> values) {
  Components c{};
  for (const auto &[i, v] : values) {
    c[i] = v;
  }
  return c;
}

struct ParseCase {
  const char *name;
  std::string text;
  Components expected;
};

const ParseCase kParse[] = {
    {"country, organization, common name", "C=CN,O=Org,CN=Alpha",
     comps({{0, "CN"}, {1, "Org"}, {3, "Alpha"}})},
    {"telephone alone", "Phone=+1 555", comps({{9, "+1 555"}})},
    {"all ten", "C=0,O=1,OU=2,CN=3,E=4,S=5,L=6,PA=7,PC=8,Phone=9",
     comps({{0, "0"},
            {1, "1"},
            {2, "2"},
            {3, "3"},
            {4, "4"},
            {5, "5"},
            {6, "6"},
            {7, "7"},
            {8, "8"},
            {9, "9"}})},
    {"any order", "Phone=9,CN=3,C=0", comps({{0, "0"}, {3, "3"}, {9, "9"}})},
    {"a key found twice gives the later value", "CN=First,O=x,CN=Second",
     comps({{1, "x"}, {3, "Second"}})},
    {"a blank after the comma hides the key", "CN=A, O=B", comps({{3, "A"}})},
    {"keys are case-sensitive", "cn=a,Cn=b,CN=c", comps({{3, "c"}})},
    {"no blank before '='", "CN =a", comps({})},
    {"O= is not OU= and P is not PA, PC or Phone", "OU=u,O=o,P=p,PA=a,PC=c",
     comps({{1, "o"}, {2, "u"}, {7, "a"}, {8, "c"}})},
    {"a key inside a value is not at a comma", "CN=xC=DE", comps({{3, "xC=DE"}})},
    {"'=' inside a value", "CN=a=b", comps({{3, "a=b"}})},
    {"unknown leading component is ignored", "DC=com,X=1,C=DE", comps({{0, "DE"}})},
    {"trailing and doubled commas", ",,C=DE,,", comps({{0, "DE"}})},
    {"empty value has length 0", "C=,O=x", comps({{1, "x"}})},
    {"a later empty value wins over an earlier one", "C=DE,C=", comps({})},
    {"key at the very end", "O=x,CN=", comps({{1, "x"}})},
    {"empty text", "", comps({})},
    {"bytes are copied as they are", "CN=\xC3\xA9t\xC3\xA9", comps({{3, "\xC3\xA9t\xC3\xA9"}})},
};

TEST(ParseDn, FindsKeysAfterCommas) {
  for (const auto &c : kParse) {
    SCOPED_TRACE(c.name);
    const Parsed p = parse(c.text);
    ASSERT_EQ(p.rc, 0u);
    for (int i = 0; i < kParts; ++i) {
      SCOPED_TRACE(kKeys[i]);
      EXPECT_EQ(p.values[i], c.expected[i]);
    }
  }
}

TEST(ParseDn, LimitsAndRefusals) {
  const std::string full = "CN=" + std::string(1021, 'x');
  const Parsed ok = parse(full);
  ASSERT_EQ(ok.rc, 0u);
  EXPECT_EQ(ok.lengths[3], 1021u);

  struct Refused {
    const char *name;
    std::string text;
    int32_t length;
  };
  const Refused refused[] = {
      {"1025 bytes", full + "x", 1025},
      {"negative length", "CN=a", -1},
      {"INT32_MIN", "CN=a", INT32_MIN},
  };
  for (const auto &r : refused) {
    SCOPED_TRACE(r.name);
    const Parsed p = parse(r.text, r.length);
    EXPECT_EQ(p.rc, kFailed);
    for (uint32_t n : p.lengths) {
      EXPECT_EQ(n, 0u) << "every length is cleared";
    }
  }
}

TEST(ParseDn, EarlierLongerValueDoesNotOverflowTheBuffer) {
  // The length reported for a repeated key is the later value's; a buffer
  // of that size must not receive the earlier, longer value.
  const Parsed p = parse("CN=a much longer first value,CN=B");
  ASSERT_EQ(p.rc, 0u);
  EXPECT_EQ(p.values[3], "B");
}

TEST(ParseDn, NullPointers) {
  uint32_t cn = 9;
  uint8_t buf[8];
  const uint8_t text[] = {'C', 'N', '=', 'a', 'b'};
  // NULL length pointers skip their component; the others still work.
  EXPECT_EQ(Ry_ParseDN(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, buf, &cn, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, text, 5),
            0u);
  EXPECT_EQ(cn, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 2), "ab");
  cn = 9;
  EXPECT_EQ(Ry_ParseDN(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, buf, &cn, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, 5),
            kFailed);
  EXPECT_EQ(cn, 0u);
  EXPECT_EQ(Ry_ParseDN(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, buf, &cn, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, 0),
            0u);
}

}  // namespace
