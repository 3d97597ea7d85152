// DER2PEM_data_format and PEM2DER_data_format on their own: line layout,
// header and footer handling, the bare-Base64 form, refusals, and a round
// trip over many lengths.
#include <random>

#include "base64_model.h"
#include "test_support.h"

namespace {

using rytest::Bytes;
using rytest::ExactBlock;
using rytest::str;
using namespace std::string_literals;

constexpr uint32_t kFailed = RYCERT_TEXT_FAILED;

// The documented buffer size for DER2PEM_data_format, terminator included.
size_t pemBufferSize(size_t derLen, const std::string &header, const std::string &footer) {
  const size_t b = (derLen + 2) / 3 * 4;
  return (header.empty() ? 0 : header.size() + 2) + b + 2 * ((b + 63) / 64) +
         (footer.empty() ? 0 : footer.size() + 2) + 1;
}

// Armours `der` into an exact-size block of the documented size.
std::string armour(const Bytes &der, const std::string &header, const std::string &footer) {
  ExactBlock in(der);
  const size_t size = der.empty() ? 1 : pemBufferSize(der.size(), header, footer);
  ExactBlock out(Bytes(size, 0xAA));
  uint32_t n = 0xDEADBEEF;
  EXPECT_EQ(
      DER2PEM_data_format(in.data(), uint32_t(der.size()), reinterpret_cast<char *>(out.data()), &n,
                          header.c_str(), footer.c_str()),
      0u);
  if (der.empty()) {
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(out.data()[0], 0xAA) << "pem must stay untouched";
    return {};
  }
  EXPECT_EQ(n + 1, size) << "the documented size is exact";
  EXPECT_EQ(out.data()[n], 0) << "terminator";
  return std::string(reinterpret_cast<const char *>(out.data()), n);
}

struct Unarmoured {
  uint32_t rc;
  Bytes der;
};

// Takes the armour off a text held in an exact-size block with no
// terminator; der is sized 3 bytes per four alphabet characters.
Unarmoured unarmour(const std::string &pem) {
  ExactBlock in(str(pem));
  size_t alphabet = 0;
  for (unsigned char c : pem) {
    alphabet += (std::isalnum(c) != 0 && c < 0x80) || c == '+' || c == '/' || c == '=';
  }
  ExactBlock out(Bytes(alphabet / 4 * 3));
  uint32_t n = 0xDEADBEEF;
  const uint32_t rc = PEM2DER_data_format(reinterpret_cast<const char *>(in.data()),
                                          uint32_t(pem.size()), out.data(), &n);
  if (rc != 0) {
    EXPECT_EQ(n, 0xDEADBEEFu) << "length written on failure";
    return {rc, {}};
  }
  EXPECT_LE(n, out.size());
  return {rc, Bytes(out.data(), out.data() + std::min<size_t>(n, out.size()))};
}

Bytes counting(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = uint8_t(i * 7 + 1);
  }
  return b;
}

std::string b64(const Bytes &b) {
  std::string s((b.size() + 2) / 3 * 4 + 1, '\0');
  base64_encode(b.data(), uint32_t(b.size()), s.data());
  s.pop_back();
  return s;
}

// ---------------------------------------------------------------- DER2PEM

struct LayoutCase {
  const char *name;
  size_t derLen;
  std::string header, footer;
  std::vector<size_t> bodyLines;  // lengths of the Base64 lines
};

const LayoutCase kLayout[] = {
    {"one byte", 1, "-----BEGIN X-----", "-----END X-----", {4}},
    {"48 bytes fill exactly one line, no empty line after it",
     48,
     "-----BEGIN X-----",
     "-----END X-----",
     {64}},
    {"49 bytes give a second line of 4", 49, "-----BEGIN X-----", "-----END X-----", {64, 4}},
    {"96 bytes fill two lines", 96, "-----BEGIN X-----", "-----END X-----", {64, 64}},
    {"empty header and footer leave only the Base64 lines", 50, "", "", {64, 4}},
    {"header only", 3, "head", "", {4}},
    {"footer only", 3, "", "foot", {4}},
};

TEST(Der2Pem, LinesOf64WithCrLf) {
  for (const auto &c : kLayout) {
    SCOPED_TRACE(c.name);
    const Bytes der = counting(c.derLen);
    std::string expected;
    if (!c.header.empty()) {
      expected += c.header + "\r\n";
    }
    const std::string text = b64(der);
    size_t at = 0;
    for (size_t len : c.bodyLines) {
      expected += text.substr(at, len) + "\r\n";
      at += len;
    }
    EXPECT_EQ(at, text.size());
    if (!c.footer.empty()) {
      expected += c.footer + "\r\n";
    }
    EXPECT_EQ(armour(der, c.header, c.footer), expected);
  }
}

TEST(Der2Pem, EmptyInputLeavesPemUntouched) {
  char pem[4] = {'x', 'y', 'z', 'w'};
  uint32_t n = 99;
  EXPECT_EQ(DER2PEM_data_format(nullptr, 0, pem, &n, "-----BEGIN X-----", "-----END X-----"), 0u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(std::string(pem, 4), "xyzw");
}

TEST(Der2Pem, RefusesNullArgumentsAndOversizedOutput) {
  const uint8_t der[3] = {1, 2, 3};
  char pem[64];
  uint32_t n = 77;
  EXPECT_EQ(DER2PEM_data_format(der, 3, pem, nullptr, "", ""), kFailed);
  EXPECT_EQ(DER2PEM_data_format(der, 3, pem, &n, nullptr, ""), kFailed);
  EXPECT_EQ(DER2PEM_data_format(der, 3, pem, &n, "", nullptr), kFailed);
  EXPECT_EQ(DER2PEM_data_format(nullptr, 3, pem, &n, "", ""), kFailed);
  EXPECT_EQ(DER2PEM_data_format(der, 3, nullptr, &n, "", ""), kFailed);
  EXPECT_EQ(n, 77u);

  // The armoured length must fit the 32-bit count. Find the largest input
  // whose text still fits; one byte more is refused before anything is read
  // or written (the input pointer covers only three bytes).
  auto textLen = [](uint64_t d) {
    const uint64_t b = (d + 2) / 3 * 4;
    return b + 2 * ((b + 63) / 64);
  };
  uint64_t lo = 0, hi = UINT32_MAX;
  while (lo < hi) {
    const uint64_t mid = (lo + hi + 1) / 2;
    if (textLen(mid) <= UINT32_MAX) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  ASSERT_LT(lo, uint64_t{UINT32_MAX});
  pem[0] = 'q';
  EXPECT_EQ(DER2PEM_data_format(der, uint32_t(lo + 1), pem, &n, "", ""), kFailed);
  EXPECT_EQ(DER2PEM_data_format(der, UINT32_MAX, pem, &n, "-----BEGIN X-----", ""), kFailed);
  EXPECT_EQ(n, 77u);
  EXPECT_EQ(pem[0], 'q');
}

// ---------------------------------------------------------------- PEM2DER

struct UnarmourCase {
  const char *name;
  std::string pem;
  uint32_t rc;
  std::string der;  // hex
};

const UnarmourCase kUnarmour[] = {
    // Accepted forms.
    {"bare Base64 without any '-'", "YWJj\r\nYWJj\r\n", 0, "616263616263"},
    {"armoured", "-----BEGIN X-----\r\nYWJj\r\n-----END X-----\r\n", 0, "616263"},
    {"text before the header is ignored",
     "Subject: CN=abc\r\n-----BEGIN CERTIFICATE-----\r\nYWJj\r\n-----END CERTIFICATE-----\r\n", 0,
     "616263"},
    {"any label in the header", "-----BEGIN SOMETHING ELSE ENTIRELY-----\nYWJj\n-----END-----", 0,
     "616263"},
    {"LF only, blanks and tabs in the body", "-----BEGIN X-----\n YW Jj\tYW\nJj \n-----END X-----",
     0, "616263616263"},
    {"the footer line is not examined", "-----BEGIN X-----\r\nYWJj\r\n-", 0, "616263"},
    {"zero and high bytes in the body are skipped",
     "-----BEGIN X-----\r\nYW\0J\xC3j\r\n-----END X-----"s, 0, "616263"},
    {"incomplete last group of the body is ignored", "-----BEGIN X-----\r\nYWJjYW\r\n-----END X", 0,
     "616263"},
    {"a padded group ends the body", "-----BEGIN X-----\r\nYQ==YWJj\r\n-----END X-----", 0, "61"},
    {"empty body", "-----BEGIN X----------END X-----", 0, ""},
    {"only the first object of several",
     "-----BEGIN A-----\nYWJj\n-----END A-----\n-----BEGIN B-----\nYQ==\n-----END B-----\n", 0,
     "616263"},

    // Refused forms.
    {"header line not closed", "-----BEGIN CERTIFICATE", kFailed, ""},
    {"a lone dash", "-", kFailed, ""},
    {"header but no footer", "-----BEGIN X-----\r\nYWJj\r\n", kFailed, ""},
    {"header ends the text", "-----BEGIN X-----", kFailed, ""},
};

TEST(Pem2Der, BodyBetweenHeaderAndFooter) {
  for (const auto &c : kUnarmour) {
    SCOPED_TRACE(c.name);
    const Unarmoured u = unarmour(c.pem);
    EXPECT_EQ(u.rc, c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(rytest::toHex(u.der), rytest::toHex(rytest::hex(c.der)));
    }
  }
}

TEST(Pem2Der, EveryPrefixOfAnArmouredText) {
  // Until the footer's first '-' is inside the prefix the body is not
  // closed and the text is refused; from then on the whole DER comes back.
  const Bytes der = counting(100);
  const std::string pem = armour(der, "-----BEGIN X-----", "-----END X-----");
  const size_t footerDash = pem.find("-----END");
  for (size_t k = 0; k <= pem.size(); ++k) {
    SCOPED_TRACE(k);
    const Unarmoured u = unarmour(pem.substr(0, k));
    if (k == 0) {
      EXPECT_EQ(u.rc, 0u);
      EXPECT_TRUE(u.der.empty());
    } else if (k <= footerDash) {
      EXPECT_EQ(u.rc, kFailed);
    } else {
      EXPECT_EQ(u.rc, 0u);
      EXPECT_EQ(u.der, der);
    }
  }
}

TEST(Pem2Der, BodyDecodesLikeItsFilteredAlphabetCharacters) {
  // The body is decoded as if its alphabet characters had been copied out
  // first and the copy decoded; noise at any place must not change that.
  std::mt19937 rng(5);
  for (int round = 0; round < 3000; ++round) {
    std::string body = pemtest::noisyText(rng, rng() % 300);
    for (auto &c : body) {
      c = c == '-' ? '.' : c;  // a '-' would end the body
    }
    std::string filtered;
    for (char c : body) {
      if (pemtest::modelValue(static_cast<unsigned char>(c)) >= 0) {
        filtered += c;
      }
    }
    const auto want = pemtest::modelDecode(filtered);
    ASSERT_TRUE(want.has_value()) << "alphabet-only text never ends inside a group";
    const std::string pem = "-----BEGIN X-----\r\n" + body + "\r\n-----END X-----\r\n";
    SCOPED_TRACE(rytest::toHex(str(pem)));
    const Unarmoured bare = unarmour(body + "\r\n");
    const Unarmoured armoured = unarmour(pem);
    ASSERT_EQ(armoured.rc, 0u);
    ASSERT_EQ(armoured.der, *want);
    ASSERT_EQ(bare.rc, 0u);
    ASSERT_EQ(bare.der, *want);
  }
}

TEST(Pem2Der, EmptyTextAndNullArguments) {
  uint32_t n = 5;
  EXPECT_EQ(PEM2DER_data_format(nullptr, 0, nullptr, &n), 0u);
  EXPECT_EQ(n, 0u);
  uint8_t der[8];
  n = 5;
  EXPECT_EQ(PEM2DER_data_format("YWJj", 4, der, nullptr), kFailed);
  EXPECT_EQ(PEM2DER_data_format(nullptr, 4, der, &n), kFailed);
  EXPECT_EQ(PEM2DER_data_format("YWJj", 4, nullptr, &n), kFailed);
  EXPECT_EQ(n, 5u);
}

// ---------------------------------------------------------------- round trip

TEST(PemRoundTrip, ManyLengthsWithAndWithoutArmour) {
  std::mt19937 rng(7);
  const std::pair<std::string, std::string> frames[] = {
      {"-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----"},
      {"", ""},
  };
  for (int round = 0; round < 500; ++round) {
    const size_t len = round <= 150 ? size_t(round) : rng() % 1001;
    Bytes der(len);
    for (auto &b : der) {
      b = uint8_t(rng());
    }
    for (const auto &[header, footer] : frames) {
      SCOPED_TRACE("len " + std::to_string(len) + (header.empty() ? " bare" : " armoured"));
      const std::string pem = armour(der, header, footer);
      if (der.empty()) {
        EXPECT_TRUE(pem.empty());
        continue;
      }
      // Every line ends in CR LF; Base64 lines hold 64 characters but the
      // last, which is shorter and never empty.
      size_t at = 0;
      std::vector<std::string> lines;
      while (at < pem.size()) {
        const size_t end = pem.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(pem.substr(at, end - at));
        at = end + 2;
      }
      const size_t first = header.empty() ? 0 : 1;
      const size_t last = lines.size() - (footer.empty() ? 0 : 1);
      for (size_t i = first; i < last; ++i) {
        if (i + 1 < last) {
          EXPECT_EQ(lines[i].size(), 64u);
        } else {
          EXPECT_TRUE(!lines[i].empty() && lines[i].size() <= 64);
        }
      }
      const Unarmoured u = unarmour(pem);
      ASSERT_EQ(u.rc, 0u);
      ASSERT_EQ(u.der, der);
    }
  }
}

}  // namespace
