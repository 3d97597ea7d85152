// base64_encode and base64_decode: RFC 4648 vectors, the skipping and
// padding rules of the decoder, its refusal of a text that ends inside a
// group, and a round trip checked against libcrypto's block codec.
#include <openssl/evp.h>

#include <random>

#include "base64_model.h"
#include "test_support.h"

namespace {

using rytest::Bytes;
using rytest::ExactBlock;
using rytest::str;

constexpr uint32_t kFailed = RYCERT_TEXT_FAILED;

std::string encode(const Bytes &in) {
  // Exactly 4 * ceil(n / 3) characters and the terminator, so that ASan
  // reports a write past them.
  const size_t outLen = (in.size() + 2) / 3 * 4;
  ExactBlock src(in);
  ExactBlock out(Bytes(outLen + 1, 0xAA));
  EXPECT_EQ(base64_encode(in.empty() ? nullptr : src.data(), uint32_t(in.size()),
                          reinterpret_cast<char *>(out.data())),
            0u);
  EXPECT_EQ(out.data()[outLen], 0) << "terminator";
  return std::string(reinterpret_cast<const char *>(out.data()), outLen);
}

struct Decoded {
  uint32_t rc;
  Bytes bytes;  // what the count covers (on success)
};

// Decodes `text` from an exact-size, zero-terminated heap block into an
// output block sized by the documented rule (3 bytes per four alphabet
// characters) and checks that a failure leaves the count alone.
Decoded decode(const std::string &text) {
  Bytes terminated = str(text);
  terminated.push_back(0);
  ExactBlock in(terminated);
  size_t alphabet = 0;
  for (unsigned char c : text) {
    alphabet += (std::isalnum(c) != 0 && c < 0x80) || c == '+' || c == '/' || c == '=';
  }
  ExactBlock out(Bytes(alphabet / 4 * 3));
  uint32_t n = 0xDEADBEEF;
  const uint32_t rc = base64_decode(reinterpret_cast<const char *>(in.data()), out.data(), &n);
  if (rc != 0) {
    EXPECT_EQ(n, 0xDEADBEEFu) << "count written on failure";
    return {rc, {}};
  }
  EXPECT_LE(n, out.size());
  return {rc, Bytes(out.data(), out.data() + std::min<size_t>(n, out.size()))};
}

struct EncodeCase {
  const char *name;
  std::string in;  // hex
  const char *text;
};

const EncodeCase kEncode[] = {
    {"empty input gives the empty text", "", ""},
    {"one byte: two characters and ==", "61", "YQ=="},
    {"two bytes: three characters and =", "6162", "YWI="},
    {"three bytes: no padding", "616263", "YWJj"},
    {"RFC 4648 foobar", "666f6f626172", "Zm9vYmFy"},
    {"RFC 4648 fooba", "666f6f6261", "Zm9vYmE="},
    {"all-ones bytes use the last two characters", "ffffff", "////"},
    {"values 0, 1, 2, 3 of each position", "00108310", "ABCDEA=="},
    {"high bits of the partial group", "fbff", "+/8="},
    {"twelve bytes take the unrolled loop", "000102030405060708090a0b", "AAECAwQFBgcICQoL"},
    {"thirteen bytes: unrolled loop then a padded tail", "000102030405060708090a0b0c",
     "AAECAwQFBgcICQoLDA=="},
};

TEST(Base64Encode, Vectors) {
  for (const auto &c : kEncode) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(rytest::hex(c.in)), c.text);
  }
}

struct DecodeCase {
  const char *name;
  std::string text;
  uint32_t rc;
  std::string out;  // hex
};

const DecodeCase kDecode[] = {
    // Grouping and the tail.
    {"empty text", "", 0, ""},
    {"fewer than four characters are ignored", "YWJ", 0, ""},
    {"one group", "YWJj", 0, "616263"},
    {"line break between groups is skipped", "YWJj\r\nYWJj", 0, "616263616263"},
    {"two characters left over: second group not begun", "YWJjYW", 0, "616263"},
    {"second group begun over blanks, then the text ends", "YWJjYW  ", kFailed, ""},
    {"three leftover characters after a blank", "YWJj YQ", 0, "616263"},
    {"blanks inside a group do not take a place", " Y W J j", 0, "616263"},
    {"bytes from 0x80 up are skipped", "YW\x80J\xffj", 0, "616263"},
    {"only skipped characters", "\r\n\r\n\t  ", kFailed, ""},
    {"skipped characters shorter than a group", "\r\n ", 0, ""},

    // Padding ends the decoding.
    {"== keeps one byte", "YQ==", 0, "61"},
    {"= keeps two bytes", "YWI=", 0, "6162"},
    {"a padded group ends the decoding", "YQ==YWJj", 0, "61"},
    {"three '=' give nothing", "Y===", 0, ""},
    {"four '=' give nothing", "====YWJj", 0, ""},
    {"padding after fast-path groups", "YWJjYWJjYWJjYWI=", 0, "6162636162636162636162"},
    {"padding after sixteen plain characters", "YWJjYWJjYWJjYWJjYQ==", 0,
     "61626361626361626361626361"},
    {"padded group split by a line break", "YWJjYW\r\nI=", 0, "6162636162"},
    {"missing padding characters: text ends inside the group", "YWJjYQ=\r\n", kFailed, ""},

    // Malformed padding: a '=' before an alphabet character counts as the
    // value 0 at its position.
    {"'=' first in a group counts as 0", "=WJj", 0, "0162"},
    {"'=' in the third place counts as 0", "YW=j", 0, "6160"},
    {"two '=' between characters", "Y=Q=", 0, "60"},
};

TEST(Base64Decode, SkipsPadsAndRefusesBrokenGroups) {
  for (const auto &c : kDecode) {
    SCOPED_TRACE(c.name);
    const Decoded d = decode(c.text);
    EXPECT_EQ(d.rc, c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(rytest::toHex(d.bytes), rytest::toHex(rytest::hex(c.out)));
    }
  }
}

TEST(Base64Decode, EveryPrefixOfAValidText) {
  // A prefix ends either on a group boundary (all of its groups decoded) or
  // with fewer than four characters left over, which are ignored.
  const std::string text = "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu";  // "Many hands make light work."
  const Bytes full = decode(text).bytes;
  for (size_t k = 0; k <= text.size(); ++k) {
    SCOPED_TRACE(k);
    const Decoded d = decode(text.substr(0, k));
    ASSERT_EQ(d.rc, 0u);
    EXPECT_EQ(d.bytes, Bytes(full.begin(), full.begin() + k / 4 * 3));
  }
}

TEST(Base64Decode, AgreesWithAPlainModelOnNoisyText) {
  // The fast paths take 32, 16 and 4 characters at a time; noise at every
  // offset of those blocks must give what the one-at-a-time rules give.
  std::mt19937 rng(99);
  for (int round = 0; round < 4000; ++round) {
    const std::string text = pemtest::noisyText(rng, rng() % 300);
    SCOPED_TRACE(rytest::toHex(str(text)));
    const auto want = pemtest::modelDecode(text);
    const Decoded got = decode(text);
    ASSERT_EQ(got.rc, want ? 0u : kFailed);
    if (want) {
      ASSERT_EQ(got.bytes, *want);
    }
  }
}

TEST(Base64, NullArgumentsAreRefused) {
  uint8_t out[8];
  uint32_t n = 0;
  char text[8];
  const uint8_t in[3] = {1, 2, 3};
  EXPECT_EQ(base64_decode(nullptr, out, &n), kFailed);
  EXPECT_EQ(base64_decode("YWJj", nullptr, &n), kFailed);
  EXPECT_EQ(base64_decode("YWJj", out, nullptr), kFailed);
  EXPECT_EQ(base64_encode(in, 3, nullptr), kFailed);
  EXPECT_EQ(base64_encode(nullptr, 3, text), kFailed);
  EXPECT_EQ(base64_encode(nullptr, 0, text), 0u) << "no input bytes need no pointer";
  EXPECT_STREQ(text, "");
}

TEST(Base64, RoundTripAndAgreementWithLibcrypto) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 600; ++round) {
    const size_t len = round <= 200 ? size_t(round) : rng() % 1001;
    SCOPED_TRACE(len);
    Bytes data(len);
    for (auto &b : data) {
      b = uint8_t(rng());
    }
    const std::string text = encode(data);

    std::string peer(text.size() + 1, '\0');
    const int peerLen =
        EVP_EncodeBlock(reinterpret_cast<unsigned char *>(peer.data()), data.data(), int(len));
    ASSERT_EQ(text, peer.substr(0, size_t(peerLen)));

    const Decoded d = decode(text);
    ASSERT_EQ(d.rc, 0u);
    ASSERT_EQ(d.bytes, data);

    // The same text broken into lines of 64 characters with CR LF, as
    // files carry it, decodes to the same bytes.
    std::string lined;
    for (size_t i = 0; i < text.size(); i += 64) {
      lined += text.substr(i, 64) + "\r\n";
    }
    const Decoded l = decode(lined);
    ASSERT_EQ(l.rc, 0u);
    ASSERT_EQ(l.bytes, data);
  }
}

}  // namespace
