// Every DER reader of the codec on one encoded record made from the input
// (an exact-size block), and recursively on the children it yields.
//
// Invariants, each checked with abort():
//  - a status of 0 exactly when the out-parameters were written (outputs
//    are pre-filled with sentinels; scalar outputs are read twice with two
//    different sentinels);
//  - acceptance agrees with a small independent DER header reader, and a
//    primitive reader's value is the element's content;
//  - an accepted SEQUENCE, SET, explicit or implicit value re-encodes from
//    what was read to the same bytes;
//  - a time read and written again in the same form gives the same text
//    unless the read was clamped to 0 or 0xFFFFFFFF;
//  - no block is left live.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"

namespace {

#define CHECK(cond) FUZZ_CHECK(cond)

constexpr int kMaxDepth = 3;

AnyBuf gSentinel;
AnyBuf *const kSentinel = &gSentinel;

using Bytes = std::vector<uint8_t>;

uint32_t tagOf(uint8_t id) { return (id & 0x80) ? id : (id & 0x1Fu); }

Bytes bytesOf(const AnyBuf *b) {
  return b->data == nullptr ? Bytes{} : Bytes(b->data, b->data + b->length);
}

// ------------------------------------------------ the reference reader

struct Tlv {
  uint8_t id = 0;
  size_t head = 0;
  size_t len = 0;
};

// A header as DER has it: one identifier octet (tag number below 31), a
// definite length in the fewest octets, at most four after the first.
bool parseHeader(const uint8_t *p, size_t n, Tlv &t) {
  if (n < 2 || (p[0] & 0x1F) == 0x1F) {
    return false;
  }
  size_t head = 2;
  size_t len = p[1];
  if (p[1] & 0x80) {
    const size_t k = p[1] & 0x7F;
    if (k == 0 || k > 4 || n < 2 + k) {
      return false;
    }
    len = 0;
    for (size_t i = 0; i < k; ++i) {
      len = (len << 8) | p[2 + i];
    }
    if ((k == 1 && len < 0x80) || (k > 1 && p[2] == 0)) {
      return false;
    }
    head = 2 + k;
  }
  t = {p[0], head, len};
  return true;
}

bool parseElement(const uint8_t *p, size_t n, Tlv &t) {
  return parseHeader(p, n, t) && t.len <= n - t.head;
}

// The record holds exactly one element.
bool wholeRecord(const AnyBuf *r, Tlv &t) {
  return r->data != nullptr && parseElement(r->data, r->length, t) && t.head + t.len == r->length;
}

// Number of consecutive elements filling [p, p+n), or -1.
int countElements(const uint8_t *p, size_t n) {
  int count = 0;
  for (size_t off = 0; off < n; ++count) {
    Tlv t;
    if (!parseElement(p + off, n - off, t)) {
      return -1;
    }
    off += t.head + t.len;
  }
  return count;
}

// The value the primitive readers give: the content, without the
// unused-bits octet of a record tagged 3 and without a sign-only 0x00.
bool primitiveValue(const AnyBuf *r, Bytes &v) {
  Tlv t;
  if (!wholeRecord(r, t)) {
    return false;
  }
  const uint8_t *c = r->data + t.head;
  size_t n = t.len;
  if (r->tag == 3) {
    if (n == 0) {
      return false;
    }
    ++c;
    --n;
  }
  if (tagOf(t.id) == 2 && n >= 2 && c[0] == 0x00 && (c[1] & 0x80) != 0) {
    ++c;
    --n;
  }
  v.assign(c, c + n);
  return true;
}

// ------------------------------------------------------ output checks

// Runs `call` twice with two sentinels in the scalar output: on failure
// both stay, on success both are overwritten with the same value.
template <class T, class F>
uint32_t readScalar(F call, T &value) {
  T a = T(0xA5A5A5A5u);
  T b = T(0x5A5A5A5Au);
  const uint32_t st = call(&a);
  CHECK(call(&b) == st);
  if (st != RYCERT_OK) {
    CHECK(a == T(0xA5A5A5A5u) && b == T(0x5A5A5A5Au));
  } else {
    CHECK(a == b);
  }
  value = a;
  return st;
}

void checkCodecRecord(const AnyBuf *r) {
  CHECK(r != nullptr);
  CHECK(r->reserved == 2);
  CHECK(r->data != nullptr || r->length == 0);
}

void checkChildren(const AnyBuf *first, int expected) {
  int n = 0;
  const AnyBuf *prev = nullptr;
  for (const AnyBuf *c = first; c != nullptr; prev = c, c = c->next, ++n) {
    checkCodecRecord(c);
    CHECK(c->prev == prev);
    CHECK(c->length >= 2 && c->tag == tagOf(c->data[0]));
  }
  CHECK(n == expected);
}

void exercise(AnyBuf *rec, int depth);

void exerciseChain(AnyBuf *first, int depth) {
  if (depth >= kMaxDepth) {
    return;
  }
  for (AnyBuf *c = first; c != nullptr; c = c->next) {
    exercise(c, depth + 1);
  }
}

// ---------------------------------------------------------- the readers

void primitiveReaders(AnyBuf *rec) {
  using Reader = uint32_t (*)(const AnyBuf *, AnyBuf **);
  static const Reader kReaders[] = {RyAsn1_ReadOctetString,    RyAsn1_ReadBitString,
                                    RyAsn1_ReadEnumerated,     RyAsn1_ReadCharString,
                                    RyAsn1_ReadIa5String,      RyAsn1_ReadBmpString,
                                    RyAsn1_ReadPrintableString};
  Bytes want;
  const bool ok = primitiveValue(rec, want);
  for (Reader read : kReaders) {
    AnyBuf *out = kSentinel;
    const uint32_t st = read(rec, &out);
    CHECK((st == RYCERT_OK) == ok);
    if (st != RYCERT_OK) {
      CHECK(out == kSentinel);
      continue;
    }
    checkCodecRecord(out);
    CHECK(out->next == nullptr && out->prev == nullptr);
    CHECK(bytesOf(out) == want);
    CHECK(out->tag == tagOf(rec->data[0]));
    CHECK(out->unusedBits == (rec->tag == 3 ? rec->unusedBits : 0));
    Hx_FreeAnybuf(out);
  }

  AnyBuf filled;
  std::memset(&filled, 0xA5, sizeof filled);
  const AnyBuf before = filled;
  const uint32_t st = RyAsn1_ReadIntegerArray(rec, &filled);
  CHECK((st == RYCERT_OK) == ok);
  if (st != RYCERT_OK) {
    CHECK(std::memcmp(&filled, &before, sizeof filled) == 0);
  } else {
    CHECK(bytesOf(&filled) == want);
    Hx_ClearAnybuf(&filled);
  }

  OidBuf *oid = reinterpret_cast<OidBuf *>(kSentinel);
  if (RyAsn1_ReadObjectId(rec, &oid) != RYCERT_OK) {
    CHECK(oid == reinterpret_cast<OidBuf *>(kSentinel));
    CHECK(!ok || want.empty());
  } else {
    CHECK(ok && !want.empty() && bytesOf(&oid->oid) == want && oid->id == 0);
    Hx_ClearAnybuf(&oid->oid);
    MOSK_Free(oid);
  }

  // Low_ReadTagAndLength hands the copy to the caller.
  uint8_t *cursor = rec->data;
  AnyBuf *out = kSentinel;
  uint8_t *content = nullptr;
  if (RyAsn1_Low_ReadTagAndLength(rec, &cursor, &out, &content) != RYCERT_OK) {
    CHECK(out == kSentinel && cursor == rec->data);
  } else {
    CHECK(ok && out->length == want.size() && content == out->data);
    CHECK(cursor + out->length == rec->data + rec->length);
    if (out->length != 0) {
      std::memcpy(content, cursor, out->length);
    }
    CHECK(bytesOf(out) == want);
    Hx_FreeAnybuf(out);
  }
}

void scalarReaders(AnyBuf *rec) {
  Tlv t;
  const bool whole = wholeRecord(rec, t);
  const uint8_t *c = whole ? rec->data + t.head : nullptr;

  uint32_t v = 0;
  if (readScalar([&](uint32_t *o) { return RyAsn1_ReadInteger(rec, o); }, v) == RYCERT_OK) {
    CHECK(whole && t.len >= 1);
    uint32_t folded = 0;
    for (size_t i = 0; i < t.len; ++i) {
      folded = (folded << 8) | c[i];
    }
    CHECK(v == folded);
  } else {
    CHECK(!whole || t.len == 0);
  }

  uint8_t b = 0;
  if (readScalar([&](uint8_t *o) { return RyAsn1_ReadBoolean(rec, o); }, b) == RYCERT_OK) {
    CHECK(whole && t.len == 1 && b == c[0]);
  } else {
    CHECK(!whole || t.len != 1);
  }
}

void constructedReaders(AnyBuf *rec, int depth) {
  Tlv t;
  const bool whole = wholeRecord(rec, t);
  const int children = whole ? countElements(rec->data + t.head, t.len) : -1;

  using Split = uint32_t (*)(const AnyBuf *, AnyBuf **);
  using Join = uint32_t (*)(const AnyBuf *, AnyBuf **);
  const struct {
    Split split;
    Join join;
    uint8_t id;
  } kinds[] = {{RyAsn1_ReadSequence, RyAsn1_WriteSequence, 0x30},
               {RyAsn1_ReadSet, RyAsn1_WriteSet, 0x31}};
  for (const auto &k : kinds) {
    AnyBuf *first = kSentinel;
    const uint32_t st = k.split(rec, &first);
    CHECK((st == RYCERT_OK) == (whole && t.id == k.id && children >= 0));
    if (st != RYCERT_OK) {
      CHECK(first == kSentinel);
      continue;
    }
    checkChildren(first, children);
    AnyBuf *again = nullptr;
    CHECK(k.join(first, &again) == RYCERT_OK);
    CHECK(bytesOf(again) == bytesOf(rec));
    Hx_FreeAnybuf(again);
    exerciseChain(first, depth);
    Hx_FreeAnybuf(first);
  }

  AnyBuf *inner = kSentinel;
  uint32_t id = 0xA5A5A5A5u;
  if (RyAsn1_ReadExplicit(rec, &inner, &id) != RYCERT_OK) {
    CHECK(inner == kSentinel && id == 0xA5A5A5A5u);
    CHECK(children != 1);
  } else {
    CHECK(whole && children == 1);
    checkCodecRecord(inner);
    CHECK(id == rec->data[0] && inner->tag == id);
    CHECK(bytesOf(inner) == Bytes(rec->data + t.head, rec->data + rec->length));
    if ((id & 0xE0) == 0xA0) {
      AnyBuf *again = nullptr;
      CHECK(RyAsn1_WriteExplicit(inner, id & 0x1F, &again) == RYCERT_OK);
      CHECK(bytesOf(again) == bytesOf(rec));
      Hx_FreeAnybuf(again);
    }
    if (depth < kMaxDepth) {
      // The inner element as its own encoded record.
      AnyBuf copy = *inner;
      copy.tag = tagOf(copy.data[0]);
      exercise(&copy, depth + 1);
    }
    Hx_FreeAnybuf(inner);
  }

  AnyBuf *out = kSentinel;
  uint32_t n = 0xA5A5A5A5u;
  const bool constructed = whole && (t.id & 0x20) != 0;
  const uint32_t st = RyAsn1_ReadImplicit(rec, &out, &n);
  CHECK((st == RYCERT_OK) == (whole && (!constructed || children >= 0)));
  if (st != RYCERT_OK) {
    CHECK(out == kSentinel && n == 0xA5A5A5A5u);
    return;
  }
  CHECK(n == (t.id & 0x1Fu));
  // Encoded again: the value or the children under [n] IMPLICIT.
  AnyBuf *underlying = nullptr;
  if (constructed) {
    checkChildren(out, children);
    CHECK(RyAsn1_WriteSequence(out, &underlying) == RYCERT_OK);
  } else {
    checkCodecRecord(out);
    CHECK(out->tag == t.id);
    CHECK(bytesOf(out) == Bytes(rec->data + t.head, rec->data + rec->length));
    CHECK(RyAsn1_WriteOctetString(out, &underlying) == RYCERT_OK);
  }
  AnyBuf *again = nullptr;
  CHECK(RyAsn1_WriteImplicit(underlying, n, &again) == RYCERT_OK);
  if ((t.id & 0xE0) == (constructed ? 0xA0 : 0x80)) {
    CHECK(bytesOf(again) == bytesOf(rec));
  }
  Hx_FreeAnybuf(again);
  Hx_FreeAnybuf(underlying);
  if (constructed) {
    exerciseChain(out, depth);
  }
  Hx_FreeAnybuf(out);
}

void timeReaders(AnyBuf *rec) {
  const struct {
    uint32_t tag;
    uint32_t (*read)(const AnyBuf *, uint32_t *);
    uint32_t (*write)(const uint32_t *, AnyBuf **);
  } forms[] = {{23, RyAsn1_ReadUtcTime, RyAsn1_WriteUtcTime},
               {24, RyAsn1_ReadGeneralizedTime, RyAsn1_WriteGeneralizedTime}};
  for (const auto &f : forms) {
    AnyBuf tagged = *rec;
    tagged.tag = f.tag;
    uint32_t t = 0;
    if (readScalar([&](uint32_t *o) { return f.read(&tagged, o); }, t) != RYCERT_OK) {
      continue;
    }
    AnyBuf *again = nullptr;
    CHECK(f.write(&t, &again) == RYCERT_OK);
    const bool clamped = f.tag == 24 && (t == 0 || t == 0xFFFFFFFFu);
    if (!clamped) {
      CHECK(bytesOf(again) == bytesOf(rec));
    }
    Hx_FreeAnybuf(again);
  }

  uint32_t t = 0;
  if (readScalar([&](uint32_t *o) { return RyAsn1_Low_ReadLongTime(rec, o); }, t) == RYCERT_OK &&
      (rec->data[0] == 0x17 || rec->data[0] == 0x18) && t != 0 && t != 0xFFFFFFFFu) {
    AnyBuf *again = nullptr;
    CHECK(RyAsn1_Low_WriteLongTime(t, rec->data[0], &again) == RYCERT_OK);
    CHECK(bytesOf(again) == bytesOf(rec));
    Hx_FreeAnybuf(again);
  }

  uint32_t *value = nullptr;
  if (rec->data != nullptr && RyAsn1_Low_CtoITime(rec->data, rec->length, &value) == RYCERT_OK) {
    CHECK(rec->length == 13 || rec->length == 15);
    MOSK_Free(value);
  }
}

// The readers of a header at an unbounded pointer: only with six bytes.
void headerReaders(AnyBuf *rec) {
  if (rec->length < 6) {
    return;
  }
  Tlv t;
  const bool ok = parseHeader(rec->data, rec->length, t);
  uint32_t total = 0xA5A5A5A5u;
  if (RyAsn1_GetCertLength(rec->data, &total) == RYCERT_OK) {
    CHECK(ok && total == t.head + t.len);
  } else {
    CHECK(total == 0xA5A5A5A5u && (!ok || t.head + t.len > 0xFFFFFFFFu));
  }
  uint32_t len = 0xA5A5A5A5u;
  uint32_t octets = 0xA5A5A5A5u;
  if (RyAsn1_GetLengthInfo(rec->data, &len, &octets) == RYCERT_OK) {
    CHECK(ok && len == t.len && octets == t.head - 1);
  } else {
    CHECK(!ok && len == 0xA5A5A5A5u && octets == 0xA5A5A5A5u);
  }

  uint8_t *cursor = rec->data;
  uint32_t *tag = nullptr;
  uint32_t *tagSize = nullptr;
  if (RyAsn1_Low_GetTagInfo(&cursor, &tag, &tagSize) != RYCERT_OK) {
    CHECK(cursor == rec->data && (rec->data[0] & 0x1F) == 0x1F);
    return;
  }
  CHECK(*tag == tagOf(rec->data[0]) && *tagSize == 1 && cursor == rec->data + 1);
  MOSK_Free(tag);
  MOSK_Free(tagSize);
  uint32_t *length = nullptr;
  uint32_t *lengthSize = nullptr;
  if (RyAsn1_Low_GetLengthInfo(&cursor, &length, &lengthSize) != RYCERT_OK) {
    CHECK(!ok && cursor == rec->data + 1);
    return;
  }
  CHECK(ok && *length == t.len && *lengthSize == t.head - 1);
  CHECK(cursor == rec->data + t.head);
  MOSK_Free(length);
  MOSK_Free(lengthSize);
}

void exercise(AnyBuf *rec, int depth) {
  primitiveReaders(rec);
  scalarReaders(rec);
  timeReaders(rec);
  headerReaders(rec);
  constructedReaders(rec, depth);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const int64_t live = MOSK_TestLiveBlocks();
  {
    AnyBuf rec = fuzzRecord(data, size);
    exercise(&rec, 0);
    Hx_ClearAnybuf(&rec);
  }
  CHECK(MOSK_TestLiveBlocks() == live);
  return 0;
}
