// DER codec: identifier and length octets, primitive values and
// constructed values (X.690 DER: single-octet identifiers, definite lengths
// in the fewest octets, at most four after the first).
#include "ry_asn2.h"

#include <cstring>

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_asn2";
}  // namespace

// ------------------------------------------------------------ reading

HeaderFault parseLength(std::span<const uint8_t> in, size_t &contentLen, size_t &octets) {
  if (in.empty()) {
    return HeaderFault::Truncated;
  }
  const uint8_t first = in[0];
  if (first < 0x80) {
    contentLen = first;
    octets = 1;
    return HeaderFault::None;
  }
  // X.690 8.1.3.5; 0x80 alone is the indefinite form (8.1.3.6), not DER.
  const size_t n = first & 0x7F;
  if (n == 0 || n > 4) {
    return HeaderFault::BadLength;
  }
  if (in.size() < 1 + n) {
    return HeaderFault::Truncated;
  }
  size_t len = 0;
  for (size_t i = 1; i <= n; ++i) {
    len = (len << 8) | in[i];
  }
  // X.690 10.1: DER takes the fewest length octets. A longer form would not
  // re-encode to the same bytes, so it is refused like any other non-DER.
  if ((n == 1 && len < 0x80) || (n > 1 && in[1] == 0)) {
    return HeaderFault::BadLength;
  }
  contentLen = len;
  octets = 1 + n;
  return HeaderFault::None;
}

HeaderFault parseHeader(std::span<const uint8_t> in, Header &h) {
  if (in.empty()) {
    return HeaderFault::Truncated;
  }
  const uint8_t id = in[0];
  // X.690 8.1.2.4: low five bits all set announce a multi-octet tag number.
  if ((id & 0x1F) == 0x1F) {
    return HeaderFault::MultiOctetId;
  }
  size_t len = 0;
  size_t octets = 0;
  if (HeaderFault f = parseLength(in.subspan(1), len, octets); f != HeaderFault::None) {
    return f;
  }
  h.id = id;
  h.headerLen = 1 + octets;
  h.contentLen = len;
  return HeaderFault::None;
}

Status headerStatus(HeaderFault f, Status truncated, const char *truncName,
                    const char *&failName) {
  switch (f) {
    case HeaderFault::None:
      return Status::Ok;
    case HeaderFault::Truncated:
      failName = truncName;
      return truncated;
    case HeaderFault::MultiOctetId:
      failName = "RyAsn1_Low_GetTagInfo";
      return Status::TagNotMatch;
    case HeaderFault::BadLength:
      break;
  }
  failName = "RyAsn1_Low_GetLengthInfo";
  return Status::InvalidLength;
}

const char *statusName(Status st) {
  switch (st) {
    case Status::Ok: return "RYCERT_OK";
    case Status::Memory: return "RYCERT_MemoryErr";
    case Status::InvalidLength: return "RYCERT_InvalidLengthErr";
    case Status::LengthNotEqual: return "RYCERT_LengthNotEqualErr";
    case Status::InvalidTimeField: return "RYCERT_InvalidTimeFieldErr";
    case Status::InvalidTimeEnd: return "RYCERT_InvalidTimeEndErr";
    case Status::TagNotMatch: return "RYCERT_TagNotMatchErr";
    case Status::InvalidSignatureLen: return "RYCERT_InvalidSignatureLenErr";
    case Status::ExtensionContent: return "RYCERT_ExtensionContentErr";
    case Status::CertNotEnd: return "RYCERT_CertNotEndErr";
    case Status::AttributeNotSupport: return "RYCERT_AttributeNotSupportErr";
    case Status::CrlNotEnd: return "RYCERT_CrlNotEndErr";
    case Status::CsrNotEnd: return "RYCERT_CsrNotEndErr";
    case Status::KeyElementMissing: return "RYCERT_KeyElementMissingErr";
    case Status::AttributeAlreadySet: return "RYCERT_AttributeAlreadySet";
    case Status::InvalidTime: return "RYCERT_InvalidTimeErr";
    case Status::DnNotEqual: return "RYCERT_DnNotEqualErr";
    case Status::TimeOutRange: return "RYCERT_TimeOutRangeErr";
    case Status::InvalidSignatureAlg: return "RYCERT_InvalidSignatureAlgErr";
    case Status::KeyIndexRange: return "RYCERT_KeyIndexRangeErr";
  }
  return "RYCERT_UnknownErr";
}

Status DerReader::nextSlow(Tlv &out, const char *&failName) {
  Header h;
  if (Status st = headerStatus(parseHeader(rest_, h), Status::InvalidLength,
                               "lTotalLength != 0", failName);
      st != Status::Ok) {
    return st;
  }
  // The declared content is compared with what is left before it is taken.
  if (h.contentLen > rest_.size() - h.headerLen) {
    failName = "lTotalLength != 0";
    return Status::InvalidLength;
  }
  const size_t total = h.headerLen + h.contentLen;
  out.id = h.id;
  out.headerLen = h.headerLen;
  out.whole = rest_.first(total);
  out.content = out.whole.subspan(h.headerLen);
  rest_ = rest_.subspan(total);
  return Status::Ok;
}

Status DerReader::expect(uint8_t id, Tlv &out, const char *&failName, Status missing) {
  if (atEnd()) {
    failName = statusName(missing);
    return missing;
  }
  Tlv t;
  if (Status st = next(t, failName); st != Status::Ok) {
    return st;
  }
  if (id != kAnyId && t.id != id) {
    failName = nullptr;
    return Status::TagNotMatch;
  }
  out = t;
  return Status::Ok;
}

Status DerReader::optional(uint8_t id, Tlv &out, bool &present, const char *&failName) {
  present = false;
  if (atEnd() || rest_[0] != id) {
    return Status::Ok;
  }
  if (Status st = next(out, failName); st != Status::Ok) {
    return st;
  }
  present = true;
  return Status::Ok;
}

Status DerReader::finish(const char *&failName, Status extra) const {
  if (atEnd()) {
    return Status::Ok;
  }
  failName = statusName(extra);
  return extra;
}

namespace {

// Reads the header of the element in a record; header faults only.
Status openHeader(const AnyBuf *rec, Header &h, const char *&failName) {
  if (!recordUsable(rec)) {
    failName = "Pointer is NULL";
    return Status::Memory;
  }
  return headerStatus(parseHeader(bytesOf(*rec), h), Status::LengthNotEqual, "Length not Equal",
                      failName);
}

// The record must hold exactly the element its header announces.
Status wholeRecord(const AnyBuf *rec, const Header &h, Tlv &out, const char *&failName) {
  if (uint64_t(h.headerLen) + h.contentLen != rec->length) {
    failName = "Length not Equal";
    return Status::LengthNotEqual;
  }
  out.id = h.id;
  out.headerLen = h.headerLen;
  out.whole = bytesOf(*rec);
  out.content = out.whole.subspan(h.headerLen);
  return Status::Ok;
}

}  // namespace

Status openRecord(const AnyBuf *rec, Tlv &out, const char *&failName) {
  Header h;
  if (Status st = openHeader(rec, h, failName); st != Status::Ok) {
    return st;
  }
  return wholeRecord(rec, h, out, failName);
}

// ------------------------------------------------------------ writing

uint8_t *putHeader(uint8_t *p, uint8_t id, size_t contentLen) {
  *p++ = id;
  const size_t n = lengthOctets(contentLen);
  if (n == 1) {
    *p++ = uint8_t(contentLen);
    return p;
  }
  *p++ = uint8_t(0x80 | (n - 1));
  for (size_t i = n - 1; i > 0; --i) {
    *p++ = uint8_t(contentLen >> (8 * (i - 1)));
  }
  return p;
}

Status newRecord(size_t size, uint32_t tag, AnyBuf *&out) {
  auto *rec = reinterpret_cast<AnyBuf *>(RY_ALLOC(sizeof(AnyBuf)));
  if (rec == nullptr) {
    return Status::Memory;
  }
  *rec = AnyBuf{};
  rec->reserved = 2;
  rec->tag = tag;
  if (size != 0) {
    rec->data = RY_ALLOC(size);
    if (rec->data == nullptr) {
      MOSK_Free(rec);
      return Status::Memory;
    }
    rec->length = uint32_t(size);
  }
  out = rec;
  return Status::Ok;
}

Status newRecordCopy(std::span<const uint8_t> bytes, uint32_t tag, AnyBuf *&out) {
  AnyBuf *rec = nullptr;
  if (Status st = newRecord(bytes.size(), tag, rec); st != Status::Ok) {
    return st;
  }
  if (!bytes.empty()) {
    std::memcpy(rec->data, bytes.data(), bytes.size());
  }
  out = rec;
  return Status::Ok;
}

Status beginElement(uint8_t id, uint64_t contentLen, AnyBuf *&out, uint8_t *&content) {
  if (!fitsRecord(contentLen)) {
    return Status::InvalidLength;
  }
  AnyBuf *rec = nullptr;
  if (Status st = newRecord(elementSize(contentLen), tagOf(id), rec); st != Status::Ok) {
    return st;
  }
  content = putHeader(rec->data, id, contentLen);
  out = rec;
  return Status::Ok;
}

Status newElement(uint8_t id, std::span<const uint8_t> content, AnyBuf *&out) {
  AnyBuf *rec = nullptr;
  uint8_t *p = nullptr;
  if (Status st = beginElement(id, content.size(), rec, p); st != Status::Ok) {
    return st;
  }
  if (!content.empty()) {
    std::memcpy(p, content.data(), content.size());
  }
  out = rec;
  return Status::Ok;
}

Status splitChildren(std::span<const uint8_t> content, AnyBuf *&first, const char *&failName) {
  RecordChain children;
  DerReader reader(content);
  while (!reader.atEnd()) {
    Tlv child;
    if (Status st = reader.next(child, failName); st != Status::Ok) {
      return st;
    }
    AnyBuf *rec = nullptr;
    if (Status st = newRecordCopy(child.whole, child.tag(), rec); st != Status::Ok) {
      failName = "MOSK_Malloc";
      return st;
    }
    children.append(rec);
  }
  first = children.release();
  return Status::Ok;
}

Status joinChain(uint8_t id, const AnyBuf *first, AnyBuf *&out) {
  // Measure first (checked sum), allocate once, then fill.
  uint64_t content = 0;
  for (const AnyBuf *p = first; p != nullptr; p = p->next) {
    if (!recordUsable(p)) {
      return RY_FAILED(Status::Memory, "Pointer is NULL");
    }
    content += p->length;
    if (!fitsRecord(content)) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_Low_Count_LengthOfSize");
    }
  }
  AnyBuf *rec = nullptr;
  uint8_t *p = nullptr;
  if (beginElement(id, content, rec, p) != Status::Ok) {
    return RY_NO_MEMORY();  // the size was checked above
  }
  for (const AnyBuf *c = first; c != nullptr; c = c->next) {
    if (c->length != 0) {
      std::memcpy(p, c->data, c->length);
      p += c->length;
    }
  }
  out = rec;
  return Status::Ok;
}

namespace {

// ------------------------------------------- the tag/length layer proper

// Allocates the encoded record for `value` under `id` with the header and
// the extra leading content octet written; `content` is where the value's
// bytes go.
Status lowWriteTagAndLength(const AnyBuf *value, uint8_t id, AnyBuf *&out, uint8_t *&content) {
  if (!recordUsable(value)) {
    return RY_FAILED(Status::Memory, "Pointer is NULL");
  }
  if ((id & 0x1F) == 0x1F) {
    return RY_FAILED(Status::TagNotMatch, "RYCERT_TagNotMatchErr");
  }
  const bool bitString = id == kIdBitString;
  if (bitString && value->unusedBits > 7) {
    return RY_FAILED(Status::InvalidLength, "unusedBits > 7");
  }
  // An INTEGER whose first octet has bit 7 set gets a 0x00 so that it
  // stays non-negative (X.690 8.3.2).
  const bool pad = id == kIdInteger && value->length != 0 && (value->data[0] & 0x80) != 0;
  const uint64_t contentLen = uint64_t(value->length) + (bitString ? 1 : 0) + (pad ? 1 : 0);
  AnyBuf *rec = nullptr;
  uint8_t *p = nullptr;
  if (Status st = beginElement(id, contentLen, rec, p); st != Status::Ok) {
    return st == Status::Memory ? RY_NO_MEMORY()
                                : RY_FAILED(st, "RyAsn1_Low_Count_LengthOfSize");
  }
  if (bitString) {
    rec->unusedBits = value->unusedBits;
    *p++ = uint8_t(value->unusedBits);
  }
  if (pad) {
    *p++ = 0x00;
  }
  out = rec;
  content = p;
  return Status::Ok;
}

// Reads the element of `enc` into a new value record with an unfilled
// block; `src` is what belongs in it.
Status lowReadTagAndLength(const AnyBuf *enc, AnyBuf *&out, std::span<const uint8_t> &src) {
  const char *failName = nullptr;
  Tlv tlv;
  if (Status st = openRecord(enc, tlv, failName); st != Status::Ok) {
    return RY_FAILED(st, failName);
  }
  std::span<const uint8_t> content = tlv.content;
  uint32_t unusedBits = 0;
  if (enc->tag == 3) {
    // BIT STRING: the unused-bits octet is not part of the value; the
    // count travels in the record.
    if (content.empty()) {
      return RY_FAILED(Status::InvalidLength, "RYCERT_InvalidLengthErr");
    }
    unusedBits = enc->unusedBits;
    content = content.subspan(1);
  }
  if (tlv.tag() == 2 && content.size() >= 2 && content[0] == 0x00 && (content[1] & 0x80) != 0) {
    content = content.subspan(1);
  }
  AnyBuf *rec = nullptr;
  if (newRecord(content.size(), tlv.tag(), rec) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  rec->unusedBits = unusedBits;
  out = rec;
  src = content;
  return Status::Ok;
}

// One primitive writer: header, then the value's bytes.
Status writePrimitive(uint8_t id, const AnyBuf *value, AnyBuf **out) {
  RY_REQUIRE(out);
  AnyBuf *rec = nullptr;
  uint8_t *p = nullptr;
  if (Status st = lowWriteTagAndLength(value, id, rec, p); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_Low_WriteTagAndLength");
  }
  if (value->length != 0) {
    std::memcpy(p, value->data, value->length);
  }
  *out = rec;
  return Status::Ok;
}

// One primitive reader: a value record of the content.
Status readPrimitive(const AnyBuf *enc, AnyBuf *&out) {
  AnyBuf *rec = nullptr;
  std::span<const uint8_t> src;
  if (Status st = lowReadTagAndLength(enc, rec, src); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_Low_ReadTagAndLength");
  }
  if (!src.empty()) {
    std::memcpy(rec->data, src.data(), src.size());
  }
  out = rec;
  return Status::Ok;
}

Status readPrimitiveOut(const AnyBuf *enc, AnyBuf **out) {
  RY_REQUIRE(out);
  AnyBuf *rec = nullptr;
  if (Status st = readPrimitive(enc, rec); st != Status::Ok) {
    return st;
  }
  *out = rec;
  return Status::Ok;
}

// Shortest non-negative INTEGER content of v (X.690 8.3.2): 1 to 5 octets.
size_t intContent(uint32_t v, uint8_t out[5]) {
  uint8_t be[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  size_t skip = 0;
  while (skip < 3 && be[skip] == 0) {
    ++skip;
  }
  size_t n = 0;
  if (be[skip] & 0x80) {
    out[n++] = 0x00;
  }
  for (size_t i = skip; i < 4; ++i) {
    out[n++] = be[i];
  }
  return n;
}

// INTEGER content folded big-endian into 32 bits; a sign-only 0x00 dropped.
uint32_t foldInt(std::span<const uint8_t> content) {
  if (content.size() >= 2 && content[0] == 0x00) {
    content = content.subspan(1);
  }
  uint32_t v = 0;
  for (uint8_t b : content) {
    v = (v << 8) | b;
  }
  return v;
}

Status allocU32(uint32_t value, uint32_t **out) {
  auto *p = reinterpret_cast<uint32_t *>(RY_ALLOC(sizeof(uint32_t)));
  if (p == nullptr) {
    return Status::Memory;
  }
  *p = value;
  *out = p;
  return Status::Ok;
}

// Two result words in two blocks; the first is released when the second
// cannot be had.
Status allocPair(uint32_t a, uint32_t b, uint32_t **outA, uint32_t **outB) {
  uint32_t *pa = nullptr;
  uint32_t *pb = nullptr;
  if (allocU32(a, &pa) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  if (allocU32(b, &pb) != Status::Ok) {
    MOSK_Free(pa);
    return RY_NO_MEMORY();
  }
  *outA = pa;
  *outB = pb;
  return Status::Ok;
}

// Reads a SEQUENCE or SET record into its children.
Status readConstructed(const AnyBuf *enc, uint8_t expect, const char *tagFail, AnyBuf **first) {
  RY_REQUIRE(first);
  const char *failName = nullptr;
  Header h;
  if (Status st = openHeader(enc, h, failName); st != Status::Ok) {
    return RY_FAILED(st, st == Status::LengthNotEqual ? "RYCERT_LengthNotEqualErr" : failName);
  }
  if (h.id != expect) {
    return RY_FAILED(Status::TagNotMatch, tagFail);
  }
  Tlv tlv;
  if (Status st = wholeRecord(enc, h, tlv, failName); st != Status::Ok) {
    return RY_FAILED(st, "RYCERT_LengthNotEqualErr");
  }
  AnyBuf *children = nullptr;
  if (Status st = splitChildren(tlv.content, children, failName); st != Status::Ok) {
    return RY_FAILED(st, failName);
  }
  *first = children;
  return Status::Ok;
}

Status writeConstructed(uint8_t id, const AnyBuf *first, AnyBuf **out) {
  RY_REQUIRE(out);
  AnyBuf *rec = nullptr;
  if (Status st = joinChain(id, first, rec); st != Status::Ok) {
    return st;
  }
  *out = rec;
  return Status::Ok;
}

// The content of the element a record holds; failures logged.
Status recordContent(const AnyBuf *enc, std::span<const uint8_t> &content) {
  const char *failName = nullptr;
  Tlv tlv;
  if (Status st = openRecord(enc, tlv, failName); st != Status::Ok) {
    return RY_FAILED(st, failName);
  }
  content = tlv.content;
  return Status::Ok;
}

// A new element of the given content for an out-parameter.
Status writeElement(uint8_t id, std::span<const uint8_t> content, AnyBuf **out) {
  RY_REQUIRE(out);
  AnyBuf *rec = nullptr;
  if (newElement(id, content, rec) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  *out = rec;
  return Status::Ok;
}

// Context tag [n] of the given form around `content`: the explicit and
// implicit writers.
Status writeTagged(uint8_t form, uint32_t n, std::span<const uint8_t> content, AnyBuf **out) {
  if (n > 30) {
    return RY_FAILED(Status::TagNotMatch, "RyAsn1_Low_WriteTagAndLength");
  }
  AnyBuf *rec = nullptr;
  if (Status st = newElement(uint8_t(form | n), content, rec); st != Status::Ok) {
    if (st == Status::Memory) {
      RY_NO_MEMORY();
    }
    return RY_FAILED(st, "RyAsn1_Low_WriteTagAndLength");
  }
  *out = rec;
  return Status::Ok;
}

// The header of an element in a caller's buffer of unstated size.
// parseHeader reads octet by octet and stops as soon as it knows the
// answer: at most six octets of the caller's element.
Status headerAt(const uint8_t *p, Header &h) {
  const char *failName = nullptr;
  if (Status st = headerStatus(parseHeader(std::span<const uint8_t>(p, 6), h),
                               Status::InvalidLength, "RyAsn1_Low_GetLengthInfo", failName);
      st != Status::Ok) {
    return RY_FAILED(st, failName);
  }
  return Status::Ok;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

// ------------------------------------------------- tag and length layer

RYCERT_API uint32_t RyAsn1_Low_CreateAnyBuf(AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out);
    AnyBuf *rec = nullptr;
    if (newRecord(0, 0, rec) != Status::Ok) {
      return RY_NO_MEMORY();
    }
    *out = rec;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_WriteTagAndLength(const AnyBuf *value, uint8_t id, AnyBuf **out,
                                                 uint8_t **content) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out, content);
    AnyBuf *rec = nullptr;
    uint8_t *p = nullptr;
    if (Status st = lowWriteTagAndLength(value, id, rec, p); st != Status::Ok) {
      return st;
    }
    *out = rec;
    *content = p;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_ReadTagAndLength(const AnyBuf *encoded, uint8_t **cursor,
                                                AnyBuf **out, uint8_t **content) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(cursor, out, content);
    // The element starts where the record does; any other cursor cannot
    // describe a record-sized element.
    if (encoded != nullptr && *cursor != encoded->data) {
      return RY_FAILED(Status::LengthNotEqual, "Length not Equal");
    }
    AnyBuf *rec = nullptr;
    std::span<const uint8_t> src;
    if (Status st = lowReadTagAndLength(encoded, rec, src); st != Status::Ok) {
      return st;
    }
    *cursor = const_cast<uint8_t *>(src.data() != nullptr ? src.data() : encoded->data);
    *out = rec;
    *content = rec->data;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_GetTagInfo(uint8_t **cursor, uint32_t **tag, uint32_t **tagSize) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(cursor, *cursor, tag, tagSize);
    const uint8_t id = **cursor;
    if ((id & 0x1F) == 0x1F) {
      return RY_FAILED(Status::TagNotMatch, "RYCERT_TagNotMatchErr");
    }
    if (Status st = allocPair(tagOf(id), 1, tag, tagSize); st != Status::Ok) {
      return st;
    }
    *cursor += 1;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_GetLengthInfo(uint8_t **cursor, uint32_t **length,
                                             uint32_t **lengthSize) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(cursor, *cursor, length, lengthSize);
    // The cursor's buffer is of unstated size; parseLength stops as soon as
    // it knows the answer, at most five octets in.
    size_t len = 0;
    size_t size = 0;
    const char *failName = nullptr;
    if (Status st = headerStatus(parseLength(std::span<const uint8_t>(*cursor, 5), len, size),
                                 Status::InvalidLength, "RyAsn1_Low_GetLengthInfo", failName);
        st != Status::Ok) {
      return RY_FAILED(st, failName);
    }
    if (Status st = allocPair(uint32_t(len), uint32_t(size), length, lengthSize); st != Status::Ok) {
      return st;
    }
    *cursor += size;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_GetCertLength(const uint8_t *der, uint32_t *totalLength) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(der, totalLength);
    Header h;
    if (Status st = headerAt(der, h); st != Status::Ok) {
      return st;
    }
    const uint64_t total = uint64_t(h.headerLen) + h.contentLen;
    if (total > 0xFFFFFFFFu) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_Low_GetLengthInfo");
    }
    *totalLength = uint32_t(total);
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_GetLengthInfo(const uint8_t *cursor, uint32_t *length,
                                         uint32_t *lengthSize) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(cursor, length, lengthSize);
    Header h;
    if (Status st = headerAt(cursor, h); st != Status::Ok) {
      return st;
    }
    *length = uint32_t(h.contentLen);
    *lengthSize = uint32_t(h.headerLen - 1);
    return Status::Ok;
  });
}

// ------------------------------------------------------ primitive values

#define RY_PRIMITIVE_PAIR(Name, id)                                               \
  RYCERT_API uint32_t RyAsn1_Write##Name(const AnyBuf *value, AnyBuf **out) {    \
    return RY_C_BOUNDARY({ return writePrimitive((id), value, out); });           \
  }                                                                               \
  RYCERT_API uint32_t RyAsn1_Read##Name(const AnyBuf *encoded, AnyBuf **out) {   \
    return RY_C_BOUNDARY({ return readPrimitiveOut(encoded, out); });             \
  }

RY_PRIMITIVE_PAIR(OctetString, kIdOctetString)
RY_PRIMITIVE_PAIR(BitString, kIdBitString)
RY_PRIMITIVE_PAIR(Enumerated, kIdEnumerated)
RY_PRIMITIVE_PAIR(CharString, kIdPrintableString)
RY_PRIMITIVE_PAIR(Ia5String, kIdIa5String)
RY_PRIMITIVE_PAIR(BmpString, kIdBmpString)
#undef RY_PRIMITIVE_PAIR

RYCERT_API uint32_t RyAsn1_WriteIntegerArray(const AnyBuf *value, AnyBuf **out) {
  return RY_C_BOUNDARY({
    return writePrimitive(kIdInteger, value, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadIntegerArray(const AnyBuf *encoded, AnyBuf *out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out);
    AnyBuf *rec = nullptr;
    if (Status st = readPrimitive(encoded, rec); st != Status::Ok) {
      return st;
    }
    // The caller's record takes the fields of the record read and its block.
    *out = *rec;
    rec->data = nullptr;
    MOSK_Free(rec);
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_WritePrintableString(const AnyBuf *value, AnyBuf **out) {
  return RY_C_BOUNDARY({
    if (value != nullptr && value->tag == 30) {
      if (Status st = writePrimitive(kIdBmpString, value, out); st != Status::Ok) {
        return RY_FAILED(st, "RyAsn1_WriteBmpString");
      }
      return Status::Ok;
    }
    if (Status st = writePrimitive(kIdPrintableString, value, out); st != Status::Ok) {
      return RY_FAILED(st, "RyAsn1_WriteCharString");
    }
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_ReadPrintableString(const AnyBuf *encoded, AnyBuf **out) {
  return RY_C_BOUNDARY({
    return readPrimitiveOut(encoded, out);
  });
}

RYCERT_API uint32_t RyAsn1_Low_IntToChar(uint32_t value, uint8_t **octets, uint32_t **count) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(octets, count);
    uint8_t tmp[5];
    const size_t n = intContent(value, tmp);
    Block block(RY_ALLOC(n));
    if (!block) {
      return RY_NO_MEMORY();
    }
    std::memcpy(block.get(), tmp, n);
    uint32_t *cnt = nullptr;
    if (allocU32(uint32_t(n), &cnt) != Status::Ok) {
      return RY_NO_MEMORY();
    }
    *octets = block.release();
    *count = cnt;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_CharToInt(const uint8_t *content, uint32_t length,
                                         uint32_t **value) {
  return RY_C_BOUNDARY({
    if (value == nullptr || (content == nullptr && length != 0)) {
      return RY_FAILED(Status::Memory, "Pointer is NULL");
    }
    const uint32_t v = foldInt({content, length});
    if (allocU32(v, value) != Status::Ok) {
      return RY_NO_MEMORY();
    }
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_WriteInteger(uint32_t value, AnyBuf **out) {
  return RY_C_BOUNDARY({
    uint8_t tmp[5];
    const size_t n = intContent(value, tmp);
    if (Status st = writeElement(kIdInteger, {tmp, n}, out); st != Status::Ok) {
      return RY_FAILED(st, "RyAsn1_Low_IntToChar");
    }
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_ReadInteger(const AnyBuf *encoded, uint32_t *value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(value);
    std::span<const uint8_t> content;
    if (Status st = recordContent(encoded, content); st != Status::Ok) {
      return st;
    }
    // X.690 8.3.1: an INTEGER has at least one content octet.
    if (content.empty()) {
      return RY_FAILED(Status::InvalidLength, "RyAsn1_Low_CharToInt");
    }
    *value = foldInt(content);
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_WriteBoolean(const uint8_t *value, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(value);
    return writeElement(kIdBoolean, {value, 1}, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadBoolean(const AnyBuf *encoded, uint8_t *value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(value);
    std::span<const uint8_t> content;
    if (Status st = recordContent(encoded, content); st != Status::Ok) {
      return st;
    }
    // X.690 8.2.1: exactly one content octet.
    if (content.size() != 1) {
      return RY_FAILED(Status::InvalidLength, "RYCERT_InvalidLengthErr");
    }
    *value = content[0];
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_WriteNull(AnyBuf **out) {
  return RY_C_BOUNDARY({
    return writeElement(kIdNull, {}, out);
  });
}

RYCERT_API uint32_t RyAsn1_WriteObjectId(const OidBuf *oid, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(oid);
    return writePrimitive(kIdOid, &oid->oid, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadObjectId(const AnyBuf *encoded, OidBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out);
    std::unique_ptr<OidBuf, MoskDeleter> oid(reinterpret_cast<OidBuf *>(RY_ALLOC(sizeof(OidBuf))));
    if (!oid) {
      return RY_NO_MEMORY();
    }
    AnyBuf *rec = nullptr;
    if (Status st = readPrimitive(encoded, rec); st != Status::Ok) {
      return st;
    }
    // X.690 8.19.2: an OBJECT IDENTIFIER has at least one subidentifier.
    if (rec->length == 0) {
      freeChain(rec);
      return RY_FAILED(Status::InvalidLength, "RyAsn1_Low_ReadTagAndLength");
    }
    oid->id = 0;
    oid->oid = *rec;
    MOSK_Free(rec);
    *out = oid.release();
    return Status::Ok;
  });
}

// ---------------------------------------------------- constructed values

RYCERT_API uint32_t RyAsn1_WriteSequence(const AnyBuf *first, AnyBuf **out) {
  return RY_C_BOUNDARY({
    return writeConstructed(kIdSequence, first, out);
  });
}

RYCERT_API uint32_t RyAsn1_WriteSet(const AnyBuf *first, AnyBuf **out) {
  return RY_C_BOUNDARY({
    return writeConstructed(kIdSet, first, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadSequence(const AnyBuf *encoded, AnyBuf **first) {
  return RY_C_BOUNDARY({
    return readConstructed(encoded, kIdSequence, "TAG != RY_DER_ID_SEQUENCE", first);
  });
}

RYCERT_API uint32_t RyAsn1_ReadSet(const AnyBuf *encoded, AnyBuf **first) {
  return RY_C_BOUNDARY({
    return readConstructed(encoded, kIdSet, "TAG != RY_DER_ID_SET", first);
  });
}

RYCERT_API uint32_t RyAsn1_WriteExplicit(const AnyBuf *inner, uint32_t n, AnyBuf **out) {
  return RY_C_BOUNDARY({
    if (out == nullptr || !recordUsable(inner)) {
      return RY_FAILED(Status::Memory, "Pointer is NULL");
    }
    return writeTagged(0xA0, n, bytesOf(*inner), out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadExplicit(const AnyBuf *encoded, AnyBuf **out, uint32_t *id) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out, id);
    const char *failName = nullptr;
    Tlv tlv;
    if (Status st = RY_OPEN(encoded, tlv, "RyAsn1_Low_ReadTagAndLength"); st != Status::Ok) {
      return st;
    }
    // An explicit tag wraps exactly one complete element (X.690 8.14.2).
    DerReader inner(tlv.content);
    Tlv one;
    if (Status st = inner.next(one, failName); st != Status::Ok || !inner.atEnd()) {
      return RY_FAILED(st != Status::Ok ? st : Status::InvalidLength,
                       st != Status::Ok ? failName : "lTotalLength != 0");
    }
    AnyBuf *rec = nullptr;
    if (newRecordCopy(one.whole, tlv.id, rec) != Status::Ok) {
      RY_NO_MEMORY();
      return RY_FAILED(Status::Memory, "RyAsn1_Low_ReadTagAndLength");
    }
    *out = rec;
    *id = tlv.id;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_WriteImplicit(const AnyBuf *inner, uint32_t n, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out);
    Tlv tlv;
    if (Status st = RY_OPEN(inner, tlv, "RyAsn1_Low_ReadTagAndLength"); st != Status::Ok) {
      return st;
    }
    // The new identifier keeps the underlying encoding's form (X.690 8.14.3):
    // constructed for SEQUENCE, SET and other constructed values.
    return writeTagged(tlv.constructed() ? 0xA0 : 0x80, n, tlv.content, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadImplicit(const AnyBuf *encoded, AnyBuf **out, uint32_t *n) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out, n);
    const char *failName = nullptr;
    Tlv tlv;
    if (Status st = openRecord(encoded, tlv, failName); st != Status::Ok) {
      return RY_FAILED(st, st == Status::LengthNotEqual ? "RYCERT_LengthNotEqualErr" : failName);
    }
    AnyBuf *result = nullptr;
    if (!tlv.constructed()) {
      if (newRecordCopy(tlv.content, tlv.id, result) != Status::Ok) {
        return RY_NO_MEMORY();
      }
    } else if (Status st = splitChildren(tlv.content, result, failName); st != Status::Ok) {
      return RY_FAILED(st, failName);
    }
    *out = result;
    *n = tlv.id & 0x1Fu;
    return Status::Ok;
  });
}

}  // extern "C"
