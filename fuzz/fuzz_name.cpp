// Hx_DecodeIssuerSubject on arbitrary bytes held in an exact-size record,
// then Hx_GetDN and Hx_EncodeIssuerSuject of the nodes it read, then
// Hx_FreeName. Invariants:
//   - nothing leaks, whether the input is accepted or refused;
//   - an accepted Name always gets its text, and always re-encodes unless
//     it holds a BMPString of odd length (refused with 101);
//   - the re-encoding decodes to the same types and values;
//   - when the input already has the form the encoder writes (one
//     attribute per RDN, lengths in the fewest octets, each value of a
//     string type the encoder keeps), the re-encoding is the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"

namespace {

// A view of DER bytes, read independently of the library.
struct Span {
  const uint8_t *p;
  size_t n;
};

// Takes one element whose length octets are in the fewest octets (X.690
// 10.1); false for anything else.
bool take(Span &in, uint8_t &id, Span &content) {
  if (in.n < 2) {
    return false;
  }
  id = in.p[0];
  size_t len = in.p[1];
  size_t head = 2;
  if (len & 0x80) {
    const size_t k = len & 0x7F;
    if (k == 0 || k > 4 || in.n < 2 + k || in.p[2] == 0) {
      return false;
    }
    len = 0;
    for (size_t i = 0; i < k; ++i) {
      len = len << 8 | in.p[2 + i];
    }
    if (len < 0x80) {
      return false;
    }
    head += k;
  }
  if (len > in.n - head) {
    return false;
  }
  content = {in.p + head, len};
  in = {in.p + head + len, in.n - head - len};
  return true;
}

bool printable(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         (c != 0 && std::strchr(" '()+,-./:=?", c) != nullptr);
}

// Whether the encoder writes this value under the identifier it has.
bool keptAsIs(uint8_t id, Span v, bool email) {
  const uint8_t *end = v.p + v.n;
  switch (id) {
    case 0x1E:  // BMPString
      return v.n % 2 == 0;
    case 0x0C:  // UTF8String
      return true;
    case 0x16:  // IA5String
      return std::all_of(v.p, end, [](uint8_t c) { return c < 0x80; });
    case 0x13:  // PrintableString
      return !email && std::all_of(v.p, end, printable);
    default:
      return false;
  }
}

// Whether the Name is exactly in the form the encoder writes.
bool encoderForm(const uint8_t *data, size_t size) {
  static const uint8_t kEmail[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
  Span in{data, size}, name, set, atv, oid, value;
  uint8_t id;
  if (!take(in, id, name) || id != 0x30 || in.n != 0) {
    return false;
  }
  while (name.n != 0) {
    if (!take(name, id, set) || id != 0x31 || !take(set, id, atv) || id != 0x30 || set.n != 0 ||
        !take(atv, id, oid) || id != 0x06 || !take(atv, id, value) || atv.n != 0) {
      return false;
    }
    const bool email = oid.n == sizeof kEmail && std::memcmp(oid.p, kEmail, oid.n) == 0;
    if (!keptAsIs(id, value, email)) {
      return false;
    }
  }
  return true;
}

bool sameBytes(const AnyBuf &a, const AnyBuf &b) {
  return a.length == b.length && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
}

// An encoded record over an exact-size copy of the bytes.
void check(bool ok) { FUZZ_CHECK(ok); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 1 << 16) {
    return 0;
  }
  const int64_t base = MOSK_TestLiveBlocks();
  AnyBuf rec = fuzzRecord(data, size);
  RyNameNode *first = nullptr;
  const uint32_t rc = Hx_DecodeIssuerSubject(&rec, &first);
  Hx_ClearAnybuf(&rec);
  if (rc != RYCERT_OK) {
    Hx_FreeName(first);
    check(MOSK_TestLiveBlocks() == base);
    return 0;
  }

  bool oddBmp = false;
  for (const RyNameNode *n = first; n != nullptr; n = n->next) {
    oddBmp |= n->value.tag == 30 && n->value.length % 2 != 0;
  }

  AnyBuf text{};
  check(Hx_GetDN(&text, &first) == RYCERT_OK);
  check((text.data == nullptr) == (text.length == 0));
  MOSK_Free(text.data);

  AnyBuf *out = nullptr;
  const uint32_t enc = Hx_EncodeIssuerSuject(&first, &out);
  if (enc != RYCERT_OK) {
    check(oddBmp && enc == RYCERT_InvalidLengthErr && out == nullptr);
  } else {
    check(!oddBmp);
    if (encoderForm(data, size)) {
      check(out->length == size && std::memcmp(out->data, data, size) == 0);
    }
    RyNameNode *again = nullptr;
    check(Hx_DecodeIssuerSubject(out, &again) == RYCERT_OK);
    const RyNameNode *a = first;
    const RyNameNode *b = again;
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
      check(a->type.id == b->type.id && sameBytes(a->type.oid, b->type.oid) &&
            sameBytes(a->value, b->value));
    }
    check(a == nullptr && b == nullptr);
    Hx_FreeName(again);
    Hx_FreeAnybuf(out);
  }
  Hx_FreeName(first);
  check(MOSK_TestLiveBlocks() == base);
  return 0;
}
