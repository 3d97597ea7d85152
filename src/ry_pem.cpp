// Base64 and PEM armour: base64_encode, base64_decode, DER2PEM_data_format,
// PEM2DER_data_format.
//
// These four converters return 0 or RYCERT_TEXT_FAILED (not a status code),
// write no log lines and allocate nothing: the encoder writes straight into
// the caller's buffer, and the armour remover filters and decodes in one
// pass. Both directions are table-driven; the decoder takes whole groups of
// plain alphabet characters at a time (32 characters with AVX2 where the
// processor has it, else four groups or one from 32-bit tables) and drops
// to a careful one-character-at-a-time path for skipped bytes and padding.
// The encoder likewise uses AVX2 blocks or a 12-bit pair table.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ry_core.h"
#include "rycert2.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define RY_PEM_AVX2 1
#endif

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_pem";

constexpr uint32_t kTextFailed = RYCERT_TEXT_FAILED;

// RFC 4648 section 4: the character at position i encodes the 6-bit value i.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

// ------------------------------------------------------------------ tables

// Per-byte classification for the careful path: 0..63 for an alphabet
// character, kPadValue for '=', kSkip for every other byte (bytes from 0x80
// up included, since they are outside the alphabet).
constexpr uint8_t kPadValue = 64;
constexpr uint8_t kSkip = 0xFF;

constexpr std::array<uint8_t, 256> makeValueTable() {
  std::array<uint8_t, 256> t{};
  for (auto &v : t) {
    v = kSkip;
  }
  for (int i = 0; i < 64; ++i) {
    t[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
  }
  t[static_cast<uint8_t>(kPad)] = kPadValue;
  return t;
}
constexpr std::array<uint8_t, 256> kValue = makeValueTable();

// Fast-path tables: kQuad[k][c] is the value of character c placed at
// position k of a group, already shifted into the 24-bit result; any byte
// that is not a plain alphabet character ('=' included) sets bit 24, so
// one OR of four lookups both decodes a group and tells whether it may
// take the fast path.
constexpr uint32_t kNotPlain = 0x01000000;

constexpr std::array<std::array<uint32_t, 256>, 4> makeQuadTables() {
  std::array<std::array<uint32_t, 256>, 4> t{};
  for (int k = 0; k < 4; ++k) {
    for (int c = 0; c < 256; ++c) {
      const uint8_t v = kValue[c];
      t[k][c] = v < 64 ? static_cast<uint32_t>(v) << (18 - 6 * k) : kNotPlain;
    }
  }
  return t;
}
constexpr auto kQuad = makeQuadTables();

// Encoder pair table: the two characters for every 12-bit value.
constexpr std::array<std::array<char, 2>, 4096> makePairTable() {
  std::array<std::array<char, 2>, 4096> t{};
  for (int v = 0; v < 4096; ++v) {
    t[v][0] = kAlphabet[v >> 6];
    t[v][1] = kAlphabet[v & 63];
  }
  return t;
}
constexpr auto kPair = makePairTable();

// ------------------------------------------------------------------ encoding

// Length of the Base64 text of n bytes: 4 * ceil(n / 3).
constexpr uint64_t encodedLength(uint64_t n) { return (n + 2) / 3 * 4; }

inline void encodeTriple(const uint8_t *in, char *out) {
  const uint32_t v = uint32_t{in[0]} << 16 | uint32_t{in[1]} << 8 | in[2];
  std::memcpy(out, kPair[v >> 12].data(), 2);
  std::memcpy(out + 2, kPair[v & 0xFFF].data(), 2);
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// The pair table read as 16-bit words: first character in the low byte.
constexpr std::array<uint16_t, 4096> makePairWords() {
  std::array<uint16_t, 4096> t{};
  for (int v = 0; v < 4096; ++v) {
    t[v] = static_cast<uint16_t>(static_cast<uint8_t>(kPair[v][0]) |
                                 static_cast<uint8_t>(kPair[v][1]) << 8);
  }
  return t;
}
constexpr auto kPairWord = makePairWords();

// Six bytes to eight characters with one 8-byte load and one 8-byte store;
// reads two bytes past the six, so the caller keeps 8 bytes readable.
inline void encodeSix(const uint8_t *in, char *out) {
  uint64_t w;
  std::memcpy(&w, in, 8);
  w = __builtin_bswap64(w);  // in[0] in the top byte
  const uint64_t r =
      uint64_t{kPairWord[(w >> 52) & 0xFFF]} | uint64_t{kPairWord[(w >> 40) & 0xFFF]} << 16 |
      uint64_t{kPairWord[(w >> 28) & 0xFFF]} << 32 | uint64_t{kPairWord[(w >> 16) & 0xFFF]} << 48;
  std::memcpy(out, &r, 8);
}
#define RY_PEM_WIDE_ENCODE 1
#endif

#ifdef RY_PEM_AVX2
bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2") != 0;
  return have;
}

// Encodes 24 bytes to 32 characters per block while i + 28 <= n, starting
// at i >= 4: each block loads the 32 bytes from 4 before its first byte, so
// that both 128-bit lanes find their four triples in place. Returns the
// first byte not taken, with out advanced past 32 characters per block.
__attribute__((target("avx2"))) size_t encodeBlocksAvx2(const uint8_t *in, size_t i, size_t n,
                                                        char *&out) {
  // Each 32-bit lane gets one triple b0 b1 b2 as the bytes b1 b0 b2 b1.
  const __m256i spread = _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1, 14, 15,
                                         13, 14, 11, 12, 10, 11, 8, 9, 7, 8, 5, 6, 4, 5);
  // Character = value + offset, the offset chosen by the value's range
  // (A-Z, a-z, 0-9, '+', '/').
  const __m256i offsets =
      _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0, 65, 71, -4,
                       -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  while (i + 28 <= n) {
    const __m256i src = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i - 4));
    const __m256i x = _mm256_shuffle_epi8(src, spread);
    // Move the four 6-bit fields of each lane into the four bytes.
    const __m256i t0 = _mm256_and_si256(x, _mm256_set1_epi32(0x0FC0FC00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(x, _mm256_set1_epi32(0x003F03F0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    const __m256i v = _mm256_or_si256(t1, t3);
    // Range index: 0 for A-Z, 1 for a-z, 2..11 for 0-9, 12 '+', 13 '/'.
    __m256i idx = _mm256_subs_epu8(v, _mm256_set1_epi8(51));
    idx = _mm256_sub_epi8(idx, _mm256_cmpgt_epi8(v, _mm256_set1_epi8(25)));
    const __m256i chars = _mm256_add_epi8(v, _mm256_shuffle_epi8(offsets, idx));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), chars);
    out += 32;
    i += 24;
  }
  return i;
}
#endif

// Encodes n bytes (with '=' padding for a last partial group) to out, which
// receives exactly encodedLength(n) characters; no terminator.
void encodeInto(const uint8_t *in, size_t n, char *out) {
  size_t i = 0;
#ifdef RY_PEM_AVX2
  if (n >= 34 && haveAvx2()) {
    // Two groups first, so that the blocks may look 4 bytes back.
    encodeTriple(in, out);
    encodeTriple(in + 3, out + 4);
    out += 8;
    i = encodeBlocksAvx2(in, 6, n, out);
  }
#endif
#ifdef RY_PEM_WIDE_ENCODE
  for (; i + 20 <= n; i += 18, out += 24) {
    encodeSix(in + i, out);
    encodeSix(in + i + 6, out + 8);
    encodeSix(in + i + 12, out + 16);
  }
#endif
  for (; i + 12 <= n; i += 12, out += 16) {
    encodeTriple(in + i, out);
    encodeTriple(in + i + 3, out + 4);
    encodeTriple(in + i + 6, out + 8);
    encodeTriple(in + i + 9, out + 12);
  }
  for (; i + 3 <= n; i += 3, out += 4) {
    encodeTriple(in + i, out);
  }
  const size_t rest = n - i;
  if (rest != 0) {
    // The missing bytes count as zero; only the characters that carry
    // input bits are kept, the rest is padding.
    const uint8_t tail[3] = {in[i], rest == 2 ? in[i + 1] : uint8_t{0}, 0};
    char quad[4];
    encodeTriple(tail, quad);
    out[0] = quad[0];
    out[1] = quad[1];
    out[2] = rest == 2 ? quad[2] : kPad;
    out[3] = kPad;
  }
}

// ------------------------------------------------------------------ decoding

// How a text that ends inside a group of four alphabet characters is
// treated.
enum class Tail {
  // base64_decode: a group is begun only while four characters (of any
  // kind) remain; a begun group that runs out of text is a failure.
  Strict,
  // PEM body: the body is decoded as if its alphabet characters had been
  // filtered out first, so at most three of them are left over at the end
  // and they are ignored.
  Lenient,
};

enum class DecodeResult { Ok, EndsInsideGroup };

#ifdef RY_PEM_AVX2
// Decodes 32 characters at a time while all of them are plain alphabet
// characters ('=' and every skipped byte stop it); returns the position of
// the first block it did not take, with out advanced past 24 bytes per
// block taken. The classification and translation use two nibble lookups
// and a per-range offset; the packing multiplies the 6-bit values into
// place (c0 << 18 | c1 << 12 | c2 << 6 | c3 per group of four) and gathers
// the three low bytes of each 32-bit lane in big-endian order.
__attribute__((target("avx2"))) size_t decodeBlocksAvx2(const uint8_t *text, size_t p, size_t len,
                                                        uint8_t *&out) {
  // A byte is plain when lutLo[low nibble] & lutHi[high nibble] == 0.
  const __m256i lutLo =
      _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                       0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                       0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i lutHi =
      _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // Offset from character to value by high nibble ('/' gets its own slot).
  const __m256i lutRoll =
      _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                       -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i mask2F = _mm256_set1_epi8(0x2F);
  const __m256i mergePairs = _mm256_set1_epi32(0x01400140);
  const __m256i mergeQuads = _mm256_set1_epi32(0x00011000);
  const __m256i gather = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                          1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i packLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);

  while (p + 32 <= len) {
    __m256i str = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + p));
    const __m256i hiNibbles = _mm256_and_si256(_mm256_srli_epi32(str, 4), mask2F);
    const __m256i loNibbles = _mm256_and_si256(str, mask2F);
    const __m256i hi = _mm256_shuffle_epi8(lutHi, hiNibbles);
    const __m256i lo = _mm256_shuffle_epi8(lutLo, loNibbles);
    if (!_mm256_testz_si256(lo, hi)) {
      break;
    }
    const __m256i eq2F = _mm256_cmpeq_epi8(str, mask2F);
    const __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(eq2F, hiNibbles));
    str = _mm256_add_epi8(str, roll);
    __m256i v = _mm256_madd_epi16(_mm256_maddubs_epi16(str, mergePairs), mergeQuads);
    v = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, gather), packLanes);
    // Exactly 24 bytes: the caller's buffer need not hold more.
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), _mm256_extracti128_si256(v, 1));
    out += 24;
    p += 32;
  }
  return p;
}
#endif

// Decodes text[0, len) to out; *written receives the number of bytes
// (64-bit, checked against the 32-bit count by the caller). Groups are
// read four alphabet characters at a time, skipping every other byte; a
// group that holds '=' is the last one decoded. A '=' that stands before
// an alphabet character of the same group counts as the value 0 there
// (a malformed padding; this gives it one defined result).
DecodeResult decodeText(const uint8_t *text, size_t len, Tail tail, uint8_t *out,
                        uint64_t *written) {
  const uint8_t *const start = out;
#ifdef RY_PEM_AVX2
  const bool avx2 = haveAvx2();
#endif
  size_t p = 0;
  for (;;) {
    // Fast path: groups of four plain alphabet characters, 32 characters
    // at a time where the processor allows, then four groups, then one.
#ifdef RY_PEM_AVX2
    if (avx2) {
      p = decodeBlocksAvx2(text, p, len, out);
    }
#endif
    while (p + 16 <= len) {
      const uint8_t *s = text + p;
      const uint32_t a = kQuad[0][s[0]] | kQuad[1][s[1]] | kQuad[2][s[2]] | kQuad[3][s[3]];
      const uint32_t b = kQuad[0][s[4]] | kQuad[1][s[5]] | kQuad[2][s[6]] | kQuad[3][s[7]];
      const uint32_t c = kQuad[0][s[8]] | kQuad[1][s[9]] | kQuad[2][s[10]] | kQuad[3][s[11]];
      const uint32_t d = kQuad[0][s[12]] | kQuad[1][s[13]] | kQuad[2][s[14]] | kQuad[3][s[15]];
      if (((a | b | c | d) & kNotPlain) != 0) {
        break;
      }
      out[0] = static_cast<uint8_t>(a >> 16);
      out[1] = static_cast<uint8_t>(a >> 8);
      out[2] = static_cast<uint8_t>(a);
      out[3] = static_cast<uint8_t>(b >> 16);
      out[4] = static_cast<uint8_t>(b >> 8);
      out[5] = static_cast<uint8_t>(b);
      out[6] = static_cast<uint8_t>(c >> 16);
      out[7] = static_cast<uint8_t>(c >> 8);
      out[8] = static_cast<uint8_t>(c);
      out[9] = static_cast<uint8_t>(d >> 16);
      out[10] = static_cast<uint8_t>(d >> 8);
      out[11] = static_cast<uint8_t>(d);
      out += 12;
      p += 16;
    }
    while (p + 4 <= len) {
      const uint8_t *s = text + p;
      const uint32_t a = kQuad[0][s[0]] | kQuad[1][s[1]] | kQuad[2][s[2]] | kQuad[3][s[3]];
      if ((a & kNotPlain) != 0) {
        break;
      }
      out[0] = static_cast<uint8_t>(a >> 16);
      out[1] = static_cast<uint8_t>(a >> 8);
      out[2] = static_cast<uint8_t>(a);
      out += 3;
      p += 4;
    }

    // Careful path: one group, character by character.
    if (tail == Tail::Strict && p + 4 > len) {
      break;  // fewer than four characters left: not begun, ignored
    }
    if (p < len && kValue[text[p]] == kSkip) {
      // Skipped bytes at the start of a group (a line break, say). When
      // four characters still follow them, the group may as well begin
      // after them, and the fast path can take it; otherwise the group
      // begun here is collected below (and, strictly, runs out of text).
      while (p < len && kValue[text[p]] == kSkip) {
        ++p;
      }
      if (p + 4 <= len) {
        continue;
      }
    }
    uint32_t values[4];
    int have = 0;
    int pads = 0;
    while (have < 4 && p < len) {
      const uint8_t v = kValue[text[p++]];
      if (v == kSkip) {
        continue;
      }
      if (v == kPadValue) {
        ++pads;
        values[have++] = 0;
      } else {
        values[have++] = v;
      }
    }
    if (have < 4) {
      if (tail == Tail::Strict) {
        return DecodeResult::EndsInsideGroup;
      }
      break;
    }
    const uint32_t v = values[0] << 18 | values[1] << 12 | values[2] << 6 | values[3];
    const uint8_t bytes[3] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v)};
    // '=' count: none, three bytes and go on; one, two bytes; two, one
    // byte; three or four, nothing. A padded group ends the decoding.
    const int keep = pads == 0 ? 3 : pads == 1 ? 2 : pads == 2 ? 1 : 0;
    std::memcpy(out, bytes, static_cast<size_t>(keep));
    out += keep;
    if (pads != 0) {
      break;
    }
  }
  *written = static_cast<uint64_t>(out - start);
  return DecodeResult::Ok;
}

// ------------------------------------------------------------------ armour

constexpr char kCrLf[2] = {'\r', '\n'};
constexpr size_t kLineChars = 64;
constexpr size_t kLineBytes = kLineChars / 4 * 3;  // 48 input bytes per full line

// Finds the first '-' in [from, len); len when there is none.
size_t findDash(const uint8_t *text, size_t from, size_t len) {
  if (from >= len) {
    return len;
  }
  const void *hit = std::memchr(text + from, '-', len - from);
  return hit == nullptr ? len : static_cast<size_t>(static_cast<const uint8_t *>(hit) - text);
}

constexpr size_t kDashRun = 5;  // the dashes that open and close a boundary line

// Finds the five dashes that close the header line opened at `from`: the first
// run of five after the opening five, so a label may contain '-' of its own.
// len when the line ends (CR or LF) or the text ends before them.
size_t findHeaderClose(const uint8_t *text, size_t from, size_t len) {
  for (size_t i = from + kDashRun; i + kDashRun <= len; ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      return len;
    }
    if (std::memcmp(text + i, "-----", kDashRun) == 0) {
      return i;
    }
  }
  return len;
}

// True when the first non-blank line after the header line (whose closing
// dashes end just before `from`) carries an RFC 1421 header field such as
// "Proc-Type: 4,ENCRYPTED" or "DEK-Info: ...": a line with a ':' that is not
// a boundary line. Such text has an encrypted body, or one described by the
// fields, so it is refused rather than decoded to bytes that are not the
// object. Base64 lines have no ':'.
bool hasHeaderFields(const uint8_t *text, size_t from, size_t len) {
  const void *eol = from < len ? std::memchr(text + from, '\n', len - from) : nullptr;
  size_t line =
      eol == nullptr ? len : static_cast<size_t>(static_cast<const uint8_t *>(eol) - text) + 1;
  while (line < len) {
    const void *nl = std::memchr(text + line, '\n', len - line);
    const size_t end =
        nl == nullptr ? len : static_cast<size_t>(static_cast<const uint8_t *>(nl) - text);
    size_t first = line;
    while (first < end && (text[first] == ' ' || text[first] == '\t' || text[first] == '\r')) {
      ++first;
    }
    if (first < end) {
      return text[first] != '-' && std::memchr(text + first, ':', end - first) != nullptr;
    }
    line = end + 1;
  }
  return false;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

// base64_encode: RFC 4648 Base64 of in[0, inLen) with '=' padding, then a
// terminating zero. in may be NULL only when inLen is 0.
RYCERT_API uint32_t base64_encode(const uint8_t *in, uint32_t inLen, char *out) {
  return cBoundary(kSrcFile, __LINE__, 0xFFFFFFFFu, [&]() -> uint32_t {
    if (out == nullptr || (in == nullptr && inLen != 0)) {
      return kTextFailed;
    }
    encodeInto(in, inLen, out);
    out[encodedLength(inLen)] = '\0';
    return 0;
  });
}

// base64_decode: the zero-terminated text is decoded group by group; the
// count is stored only on success. A count that would not fit in 32 bits
// (a text of more than about 5.7 GB) is refused as well, with the bytes
// written so far left in out.
RYCERT_API uint32_t base64_decode(const char *in, uint8_t *out, uint32_t *outLen) {
  return cBoundary(kSrcFile, __LINE__, 0xFFFFFFFFu, [&]() -> uint32_t {
    if (in == nullptr || out == nullptr || outLen == nullptr) {
      return kTextFailed;
    }
    const auto *text = reinterpret_cast<const uint8_t *>(in);
    uint64_t n = 0;
    if (decodeText(text, std::strlen(in), Tail::Strict, out, &n) != DecodeResult::Ok ||
        n > UINT32_MAX) {
      return kTextFailed;
    }
    *outLen = static_cast<uint32_t>(n);
    return 0;
  });
}

// DER2PEM_data_format: header line, the Base64 text in lines of 64
// characters, footer line, each followed by CR LF, then a zero. The total
// is measured in 64 bits first; a text whose length would not fit in the
// 32-bit *pemLen is refused before anything is written.
RYCERT_API uint32_t DER2PEM_data_format(const uint8_t *der, uint32_t derLen, char *pem,
                                        uint32_t *pemLen, const char *header, const char *footer) {
  return cBoundary(kSrcFile, __LINE__, 0xFFFFFFFFu, [&]() -> uint32_t {
    if (pemLen == nullptr || header == nullptr || footer == nullptr) {
      return kTextFailed;
    }
    if (derLen == 0) {
      *pemLen = 0;  // pem is left untouched, not even a terminator
      return 0;
    }
    if (der == nullptr || pem == nullptr) {
      return kTextFailed;
    }
    const uint64_t headerLen = std::strlen(header);
    const uint64_t footerLen = std::strlen(footer);
    const uint64_t b64Len = encodedLength(derLen);
    const uint64_t lines = (b64Len + kLineChars - 1) / kLineChars;
    const uint64_t total = (headerLen != 0 ? headerLen + 2 : 0) + b64Len + 2 * lines +
                           (footerLen != 0 ? footerLen + 2 : 0);
    if (total > UINT32_MAX) {
      return kTextFailed;
    }

    char *w = pem;
    if (headerLen != 0) {
      std::memcpy(w, header, headerLen);
      w += headerLen;
      std::memcpy(w, kCrLf, 2);
      w += 2;
    }
    // 48 input bytes make exactly one 64-character line, so breaking the
    // input into 48-byte pieces breaks the text at the same places.
    size_t i = 0;
    for (; i + kLineBytes <= derLen; i += kLineBytes) {
      encodeInto(der + i, kLineBytes, w);
      w += kLineChars;
      std::memcpy(w, kCrLf, 2);
      w += 2;
    }
    if (i < derLen) {
      const size_t rest = derLen - i;
      encodeInto(der + i, rest, w);
      w += encodedLength(rest);
      std::memcpy(w, kCrLf, 2);
      w += 2;
    }
    if (footerLen != 0) {
      std::memcpy(w, footer, footerLen);
      w += footerLen;
      std::memcpy(w, kCrLf, 2);
      w += 2;
    }
    *w = '\0';
    *pemLen = static_cast<uint32_t>(w - pem);
    return 0;
  });
}

// PEM2DER_data_format: with no '-' in the text the whole text is the body;
// otherwise the header line opens at the first '-' and ends at the next run
// of five dashes on that line (so a label such as "X-Y" is read whole), and
// the body runs from there to the next '-' (the footer line, which is not
// examined). Header fields after the header line (RFC 1421: Proc-Type,
// DEK-Info) are refused. Only the body's alphabet characters are decoded,
// so line breaks, blanks and a last incomplete group are ignored; the text
// need not be zero-terminated.
RYCERT_API uint32_t PEM2DER_data_format(const char *pem, uint32_t pemLen, uint8_t *der,
                                        uint32_t *derLen) {
  return cBoundary(kSrcFile, __LINE__, 0xFFFFFFFFu, [&]() -> uint32_t {
    if (derLen == nullptr) {
      return kTextFailed;
    }
    if (pemLen == 0) {
      *derLen = 0;
      return 0;
    }
    if (pem == nullptr || der == nullptr) {
      return kTextFailed;
    }
    const auto *text = reinterpret_cast<const uint8_t *>(pem);
    const size_t len = pemLen;
    size_t bodyStart = 0;
    size_t bodyEnd = len;
    const size_t firstDash = findDash(text, 0, len);
    if (firstDash != len) {
      // Skip the opening "-----" and the label up to the closing dashes.
      const size_t closing = findHeaderClose(text, firstDash, len);
      if (closing == len) {
        return kTextFailed;
      }
      bodyStart = closing + kDashRun;
      if (hasHeaderFields(text, bodyStart, len)) {
        return kTextFailed;
      }
      bodyEnd = findDash(text, bodyStart, len);
      if (bodyEnd == len) {
        return kTextFailed;
      }
    }
    uint64_t n = 0;
    // The lenient tail never fails, and a body of at most 2^32 - 1 bytes
    // decodes to fewer than 2^32 bytes.
    decodeText(text + bodyStart, bodyEnd - bodyStart, Tail::Lenient, der, &n);
    *derLen = static_cast<uint32_t>(n);
    return 0;
  });
}

}  // extern "C"
