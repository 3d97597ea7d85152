// Ry_GenerateDN and Ry_ParseDN, each called the two-call way (lengths
// first, then exact-size heap buffers of those lengths).
#include <array>
#include <optional>
#include <tuple>

#include "test_support.h"

namespace {

using rytest::Bytes;
using rytest::ExactBlock;
using Values = std::array<std::string, 10>;            // C, O, OU, CN, E, S, L, PA, PC, Phone
using Lengths = std::vector<std::pair<int, int32_t>>;  // overrides: slot, length passed
const std::string kX(1000, 'x'), kY24(24, 'y');
const Values kTen = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
const std::string kTenText = "C=0,O=1,OU=2,CN=3,E=4,S=5,L=6,PA=7,PC=8,Phone=9";

const char *chars(const uint8_t *p) { return reinterpret_cast<const char *>(p); }

// Values in exact-size blocks (empty ones as NULL), their sizes the lengths unless overridden.
std::optional<std::string> generate(const Values &values, const Lengths &lengths) {
  std::array<std::unique_ptr<ExactBlock>, 10> blocks;
  std::array<const uint8_t *, 10> v{};
  std::array<int32_t, 10> l{};
  for (size_t i = 0; i < 10; ++i) {
    blocks[i] = std::make_unique<ExactBlock>(rytest::str(values[i]));
    v[i] = values[i].empty() ? nullptr : blocks[i]->data();
    l[i] = int32_t(values[i].size());
  }
  for (const auto &[i, length] : lengths) {
    l[i] = length;
  }
  auto call = [&](uint8_t *out, uint32_t *n) {
    return Ry_GenerateDN(v[0], l[0], v[1], l[1], v[2], l[2], v[3], l[3], v[4], l[4], v[5], l[5],
                         v[6], l[6], v[7], l[7], v[8], l[8], v[9], l[9], out, n);
  };
  uint32_t n = 0xDEADBEEF;
  if (call(nullptr, &n) != 0) {
    EXPECT_EQ(n, 0xDEADBEEF) << "length written on failure";
    return std::nullopt;
  }
  ExactBlock out{Bytes(n)};
  EXPECT_EQ(call(out.data(), &n), 0u);
  return std::string(chars(out.data()), n);
}

// nullopt when refused, after checking that every length was set to 0.
std::optional<Values> parse(const std::string &text, int32_t textLen) {
  ExactBlock dn(rytest::str(text));
  std::array<uint32_t, 10> n;
  std::array<std::unique_ptr<ExactBlock>, 10> b;
  auto call = [&](std::array<uint32_t, 10> &len) {
    auto p = [&](int i) { return b[i] ? b[i]->data() : nullptr; };
    return Ry_ParseDN(p(0), &len[0], p(1), &len[1], p(2), &len[2], p(3), &len[3], p(4), &len[4],
                      p(5), &len[5], p(6), &len[6], p(7), &len[7], p(8), &len[8], p(9), &len[9],
                      dn.data(), textLen);
  };
  n.fill(0xDEADBEEF);
  if (call(n) != 0) {
    EXPECT_EQ(n, decltype(n){}) << "every length cleared";
    return std::nullopt;
  }
  for (int i = 0; i < 10; ++i) {
    b[i] = std::make_unique<ExactBlock>(Bytes(n[i]));
  }
  EXPECT_EQ(call(n), 0u);
  Values out;
  for (int i = 0; i < 10; ++i) {
    out[i].assign(chars(b[i]->data()), n[i]);
  }
  return out;
}

TEST(GenerateDn, JoinsPresentComponentsInOrder) {
  const std::tuple<const char *, Values, Lengths, std::optional<std::string>> cases[] = {
      {"C, O and CN", {"CN", "Org", "", "Alpha"}, {}, "C=CN,O=Org,CN=Alpha"},
      {"telephone only: no comma", {"", "", "", "", "", "", "", "", "", "+1"}, {}, "Phone=+1"},
      {"all ten in order", kTen, {}, kTenText},
      {"lengths of 0 and below are left out", {"DE", "Org", "", "N"}, {{1, 0}, {3, -5}}, "C=DE"},
      {"1024 value bytes", {kY24, "", "", kX}, {}, "C=" + kY24 + ",CN=" + kX},
      {"1025 value bytes", {kY24 + "y", "", "", kX}, {}, std::nullopt},
      {"a negative length hides no excess", {"", "", "", kX + kX}, {{1, -1500}}, std::nullopt},
      {"a present value may not be NULL", {}, {{0, 2}}, std::nullopt},
  };
  for (const auto &[name, values, lengths, text] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(generate(values, lengths), text);
  }
}

TEST(ParseDn, FindsKeysAfterCommas) {
  const std::tuple<const char *, std::string, std::optional<Values>> cases[] = {
      {"C, O and CN", "C=CN,O=Org,CN=Alpha", Values{"CN", "Org", "", "Alpha"}},
      {"telephone only", "Phone=+1", Values{"", "", "", "", "", "", "", "", "", "+1"}},
      {"all ten", kTenText, kTen},
      {"a key found twice: the later, shorter value", "CN=a longer first value,O=x,CN=B",
       Values{"", "x", "", "B"}},
      {"a blank after the comma hides the key", "CN=A, O=B", Values{"", "", "", "A"}},
      {"1024 bytes", "CN=" + std::string(1021, 'x'), Values{"", "", "", std::string(1021, 'x')}},
      {"1025 bytes", "CN=" + std::string(1022, 'x'), std::nullopt},
  };
  for (const auto &[name, text, values] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(parse(text, int32_t(text.size())), values);
  }
  EXPECT_EQ(parse("CN=a", -2), std::nullopt) << "negative length";
}

}  // namespace
