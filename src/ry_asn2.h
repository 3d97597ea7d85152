// The DER layer beneath the exported codec: a bounds-checked reader over
// spans, sizing and header writing, and record construction. Everything
// that parses input bytes goes through parseHeader / DerReader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ry_core.h"

namespace rycert2 {

// Identifier octets (X.690 8.1.2, single-octet form).
inline constexpr uint8_t kIdBoolean = 0x01;
inline constexpr uint8_t kIdInteger = 0x02;
inline constexpr uint8_t kIdBitString = 0x03;
inline constexpr uint8_t kIdOctetString = 0x04;
inline constexpr uint8_t kIdNull = 0x05;
inline constexpr uint8_t kIdOid = 0x06;
inline constexpr uint8_t kIdEnumerated = 0x0A;
inline constexpr uint8_t kIdUtf8String = 0x0C;
inline constexpr uint8_t kIdSequence = 0x30;
inline constexpr uint8_t kIdSet = 0x31;
inline constexpr uint8_t kIdPrintableString = 0x13;
inline constexpr uint8_t kIdIa5String = 0x16;
inline constexpr uint8_t kIdUtcTime = 0x17;
inline constexpr uint8_t kIdGeneralizedTime = 0x18;
inline constexpr uint8_t kIdBmpString = 0x1E;
inline constexpr uint8_t kIdContext = 0x80;
inline constexpr uint8_t kIdConstructed = 0x20;

// The record's `tag` for an identifier octet: the whole octet for
// context-specific and private class, the low five bits otherwise.
constexpr uint32_t tagOf(uint8_t id) { return (id & 0x80) ? id : (id & 0x1Fu); }

enum class HeaderFault : uint8_t {
  None,
  Truncated,     // the input ends inside the identifier or length octets
  MultiOctetId,  // tag number 31 or more (X.690 8.1.2.4): not handled
  BadLength,     // indefinite form (0x80), more than four or needless length octets
};

struct Header {
  uint8_t id = 0;
  size_t headerLen = 0;   // identifier + length octets
  size_t contentLen = 0;  // as declared; not yet checked against the input
};

// Reads identifier and length octets at the start of `in`. Never reads
// past `in`, whatever the octets claim.
HeaderFault parseHeader(std::span<const uint8_t> in, Header &h);

// One element taken from checked input.
struct Tlv {
  uint8_t id = 0;
  size_t headerLen = 0;
  std::span<const uint8_t> content;
  std::span<const uint8_t> whole;
  uint32_t tag() const { return tagOf(id); }
  bool constructed() const { return (id & kIdConstructed) != 0; }
};

// Reads consecutive elements of a content span. A child that runs past
// the span is refused before any byte of it is taken.
class DerReader {
 public:
  explicit DerReader(std::span<const uint8_t> in) : rest_(in) {}
  // On failure `failName` names the log line's subject.
  Status next(Tlv &out, const char *&failName);
  bool atEnd() const { return rest_.empty(); }
  std::span<const uint8_t> rest() const { return rest_; }

 private:
  std::span<const uint8_t> rest_;
};

// Opens the element held by an encoded record; the record must hold exactly
// that element (102 otherwise). `failName` as for DerReader::next.
Status openRecord(const AnyBuf *rec, Tlv &out, const char *&failName);

// The two above for callers that stand for a named reader: on failure the
// failure's own line is logged, then `as`, in the caller's source file.
inline Status nextLogged(DerReader &r, Tlv &out, const char *src, int line, const char *as) {
  const char *failName = nullptr;
  const Status st = r.next(out, failName);
  if (st != Status::Ok) {
    failed(st, src, line, failName);
    failed(st, src, line, as);
  }
  return st;
}
inline Status openLogged(const AnyBuf *rec, Tlv &out, const char *src, int line, const char *as) {
  const char *failName = nullptr;
  const Status st = openRecord(rec, out, failName);
  if (st != Status::Ok) {
    failed(st, src, line, failName);
    failed(st, src, line, as);
  }
  return st;
}
#define RY_NEXT(reader, tlv, as) ::rycert2::nextLogged((reader), (tlv), kSrcFile, __LINE__, (as))
#define RY_OPEN(rec, tlv, as) ::rycert2::openLogged((rec), (tlv), kSrcFile, __LINE__, (as))

// ------------------------------------------------------------- writing

// Number of length octets, the first included: 1 to 5 (X.690 8.1.3).
constexpr size_t lengthOctets(uint64_t contentLen) {
  return contentLen < 0x80 ? 1 : contentLen <= 0xFF ? 2 : contentLen <= 0xFFFF ? 3
                              : contentLen <= 0xFFFFFF ? 4 : 5;
}
constexpr uint64_t elementSize(uint64_t contentLen) {
  return 1 + lengthOctets(contentLen) + contentLen;
}
// A written element must fit a record, whose length is 32 bits.
constexpr bool fitsRecord(uint64_t contentLen) { return elementSize(contentLen) <= 0xFFFFFFFFu; }

// Writes the identifier and definite length in the fewest octets and
// returns the position after them.
uint8_t *putHeader(uint8_t *p, uint8_t id, size_t contentLen);

// A new stand-alone record of `size` bytes (reserved 2, tag as given,
// other fields 0). `size` 0 gives data NULL. 100 when memory runs out.
Status newRecord(size_t size, uint32_t tag, AnyBuf *&out);
// A new record holding a copy of `bytes`.
Status newRecordCopy(std::span<const uint8_t> bytes, uint32_t tag, AnyBuf *&out);
// A new encoded record with its identifier and length written; `content`
// is where its contentLen content octets go. 101 when the element would not
// fit a record, 100 when memory runs out; nothing is logged.
Status beginElement(uint8_t id, uint64_t contentLen, AnyBuf *&out, uint8_t *&content);
// A new encoded record: identifier, length, then the pieces in order.
Status newElement(uint8_t id, std::span<const uint8_t> content, AnyBuf *&out);

// Splits a content span into a chain of encoded child records.
Status splitChildren(std::span<const uint8_t> content, AnyBuf *&first, const char *&failName);

// Joins the encoded records from `first` under identifier `id`.
Status joinChain(uint8_t id, const AnyBuf *first, AnyBuf *&out);

// Time text <-> integer time (UTC). `generalized` selects YYYYMMDDhhmmssZ
// over YYMMDDhhmmssZ.
inline constexpr size_t kUtcTextLen = 13;
inline constexpr size_t kGeneralizedTextLen = 15;
Status timeToText(uint32_t t, bool generalized, uint8_t *out, const char *&failName);
Status textToTime(std::span<const uint8_t> text, uint32_t &t, const char *&failName);

}  // namespace rycert2
