// A deliberately plain model of the decoding rules, one character at a
// time with no fast path, to check the real decoder against on noisy text.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace pemtest {

inline int modelValue(unsigned char c) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (c == '=') {
    return 64;
  }
  const size_t i = kAlphabet.find(static_cast<char>(c));
  return c != 0 && i != std::string::npos ? int(i) : -1;
}

// base64_decode's rules on a text that ends at its first zero byte:
// nullopt for a text that ends inside a begun group.
inline std::optional<std::vector<uint8_t>> modelDecode(const std::string &text) {
  const size_t len = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
  std::vector<uint8_t> out;
  size_t p = 0;
  while (p + 4 <= len) {
    int s[4];
    int have = 0, pads = 0;
    while (have < 4) {
      if (p == len) {
        return std::nullopt;
      }
      const int v = modelValue(static_cast<unsigned char>(text[p++]));
      if (v < 0) {
        continue;
      }
      pads += v == 64;
      s[have++] = v == 64 ? 0 : v;
    }
    const uint8_t b[3] = {uint8_t(s[0] << 2 | s[1] >> 4), uint8_t(s[1] << 4 | s[2] >> 2),
                          uint8_t(s[2] << 6 | s[3])};
    const int keep[5] = {3, 2, 1, 0, 0};
    out.insert(out.end(), b, b + keep[pads]);
    if (pads != 0) {
      break;
    }
  }
  return out;
}

// Noisy Base64-like text: mostly alphabet characters, with line breaks,
// blanks, '=', zero and high bytes mixed in at a rate that varies from
// text to text (from none to often).
inline std::string noisyText(std::mt19937 &rng, size_t len) {
  static const std::string kPlain =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static const std::string kNoise = std::string("\r\n \t=-:.\x80\xff", 10);
  const unsigned rate = rng() % 4 == 0 ? 0 : 1 + rng() % 40;  // percent
  std::string s(len, 'A');
  for (auto &c : s) {
    c = rng() % 100 < rate ? kNoise[rng() % kNoise.size()] : kPlain[rng() % kPlain.size()];
  }
  return s;
}

}  // namespace pemtest
