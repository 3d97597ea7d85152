// base64_decode on arbitrary text: no overread of the zero-terminated
// input, no write past 3 bytes per four input characters, a count only on
// success, and for a successful decode of a text that is nothing but
// unpadded alphabet characters in whole groups, re-encoding gives the text
// back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rycert2.h"

namespace {

bool plainWholeGroups(const char *text, size_t n) {
  if (n % 4 != 0) {
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '+' || c == '/';
    if (!alpha) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A zero-terminated copy; an embedded zero simply ends the text early.
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const size_t textLen = std::strlen(text.data());

  // Exact-size output: 3 bytes for every four characters, plus 3.
  std::vector<uint8_t> out(size / 4 * 3 + 3);
  uint32_t n = 0xA5A5A5A5u;
  const uint32_t rc = base64_decode(text.data(), out.data(), &n);
  if (rc != 0) {
    if (rc != RYCERT_TEXT_FAILED || n != 0xA5A5A5A5u) {
      abort();  // failures leave the count alone
    }
    return 0;
  }
  if (n > textLen / 4 * 3) {
    abort();
  }
  if (plainWholeGroups(text.data(), textLen)) {
    if (n != textLen / 4 * 3) {
      abort();
    }
    std::vector<char> again(textLen + 1);
    if (base64_encode(out.data(), n, again.data()) != 0 ||
        std::memcmp(again.data(), text.data(), textLen + 1) != 0) {
      abort();
    }
  }
  return 0;
}
