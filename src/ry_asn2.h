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
// Reads length octets at the start of `in` (X.690 8.1.3, DER's fewest
// octets, at most four after the first): the one decoder of lengths.
HeaderFault parseLength(std::span<const uint8_t> in, size_t &contentLen, size_t &octets);

// The status and log name of a header fault. Callers differ only in how
// they read input that ends inside the header: `truncated`, `truncName`.
Status headerStatus(HeaderFault f, Status truncated, const char *truncName,
                    const char *&failName);

// The constant's name of a status ("RYCERT_CertNotEndErr"), for log lines.
const char *statusName(Status st);

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
  // The common case (single-octet identifier, short-form length that fits)
  // is taken inline; anything else goes through the full header reader.
  Status next(Tlv &out, const char *&failName) {
    if (rest_.size() >= 2 && (rest_[0] & 0x1F) != 0x1F && rest_[1] < 0x80 &&
        rest_[1] <= rest_.size() - 2) {
      const size_t total = 2 + size_t(rest_[1]);
      out.id = rest_[0];
      out.headerLen = 2;
      out.whole = rest_.first(total);
      out.content = out.whole.subspan(2);
      rest_ = rest_.subspan(total);
      return Status::Ok;
    }
    return nextSlow(out, failName);
  }
  bool atEnd() const { return rest_.empty(); }

  // Steps that read a structure as its ASN.1 definition does. Each returns
  // the status and, on failure, the name of what failed in `failName`.
  //
  // kAnyId in place of an identifier: any element (an ANY field).
  static constexpr uint8_t kAnyId = 0xFF;  // never a single-octet identifier
  // expect: the next element, which must be there (`missing` otherwise,
  // named after that status) and carry identifier `id` (TagNotMatch,
  // `failName` NULL: the caller names what it expected).
  Status expect(uint8_t id, Tlv &out, const char *&failName,
                Status missing = Status::InvalidLength);
  // optional: the next element when it carries identifier `id` (an
  // OPTIONAL or DEFAULT field); `present` false, nothing taken, when the
  // reader is at its end or the next identifier differs.
  Status optional(uint8_t id, Tlv &out, bool &present, const char *&failName);
  // finish: the reader must be at its end (`extra` otherwise).
  Status finish(const char *&failName, Status extra = Status::InvalidLength) const;
  std::span<const uint8_t> rest() const { return rest_; }

 private:
  Status nextSlow(Tlv &out, const char *&failName);
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

// A reader step's failure logged as its own line, then `as` (when not
// NULL), in the caller's source file.
// A failure that is named after its own status (a missing element, a
// surplus one) stands alone; a tag mismatch is named by `as` only.
inline Status stepLogged(Status st, const char *failName, const char *src, int line,
                         const char *as) {
  if (st == Status::Ok) {
    return st;
  }
  const bool ownName = failName != nullptr && std::string_view(failName) == statusName(st);
  if (failName != nullptr) {
    failed(st, src, line, failName);
  }
  if (as != nullptr && !ownName) {
    failed(st, src, line, as);
  }
  return st;
}
// The step runs first; `failName` and `as` are read after it.
#define RY_STEP(call, failName, as)                                                    \
  [&]() {                                                                              \
    const ::rycert2::Status stepStatus = (call);                                       \
    return ::rycert2::stepLogged(stepStatus, (failName), kSrcFile, __LINE__, (as));    \
  }()

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

// ------------------------------------------------------ composable writer

// A DER writer in the manner of a growable byte builder: open a
// constructed element, write its children, close it; each length is fixed
// when its element closes (X.690 8.1.3, fewest octets), moving the content
// when the length needs more than the one octet reserved at open.
//
// Three modes: growing (one block from the runtime allocator, doubled as
// needed, or sized once by reserve()); fixed (the caller's span: nothing is
// allocated, and a span too small is not an error: size() still counts
// what would be needed and fits() turns false); measuring (a fixed writer
// over no bytes). The first failure sticks: later calls do nothing and
// status()/failName() report it.
class DerWriter {
 public:
  DerWriter() = default;
  explicit DerWriter(std::span<uint8_t> fixed)
      : buf_(fixed.data()), cap_(fixed.size()), fixed_(true) {}
  static DerWriter measuring() { return DerWriter(std::span<uint8_t>{}); }
  DerWriter(DerWriter &&o) noexcept;
  DerWriter(const DerWriter &) = delete;
  DerWriter &operator=(const DerWriter &) = delete;
  DerWriter &operator=(DerWriter &&) = delete;
  ~DerWriter();

  // An open element: where its identifier stands.
  struct Mark {
    size_t at = 0;
  };
  Mark open(uint8_t id);
  void close(Mark m);

  void element(uint8_t id, std::span<const uint8_t> content);
  // Bytes that are already DER (a whole element or several).
  void raw(std::span<const uint8_t> bytes);
  // INTEGER of a 32-bit value, shortest form.
  void integer(uint32_t v);
  // Non-negative INTEGER of a big-endian magnitude: redundant leading 00
  // octets dropped, one 00 put in front when bit 7 of the first is set
  // (X.690 8.3.2); an empty or all-zero magnitude is the INTEGER 0.
  void unsignedInteger(std::span<const uint8_t> magnitude);
  // BOOLEAN; DER's TRUE is FF (X.690 11.1).
  void boolean(bool v);
  void bitString(uint8_t unusedBits, std::span<const uint8_t> bits);
  void null();
  void oid(std::span<const uint8_t> content) { element(kIdOid, content); }

  // n bytes at the tail for the caller to fill; nullptr when the writer
  // has failed, measures, or has run past its fixed span (the n bytes are
  // still counted).
  uint8_t *extend(size_t n);
  // Room for n more bytes in one block (growing mode).
  void reserve(size_t n);
  void fail(Status st, const char *name);

  bool ok() const { return st_ == Status::Ok; }
  bool fits() const { return ok() && !overflow_; }
  Status status() const { return st_; }
  const char *failName() const { return failName_; }
  // Bytes written, or needed when measuring or past a fixed span.
  size_t size() const { return len_; }
  std::span<const uint8_t> bytes() const { return {buf_, fits() ? len_ : 0}; }

  // Hands what was written to a new stand-alone record (tag from its first
  // identifier) or to an empty embedded record; growing mode only. The
  // writer is empty afterwards. Failures of the writer come back here,
  // unlogged.
  Status toRecord(AnyBuf *&out);
  Status toEmbedded(AnyBuf &out);

 private:
  bool room(size_t n);  // false: failed, or nothing is to be stored

  uint8_t *buf_ = nullptr;
  size_t len_ = 0;
  size_t cap_ = 0;
  Status st_ = Status::Ok;
  const char *failName_ = nullptr;
  bool fixed_ = false;
  bool overflow_ = false;
};

// Logs a failed writer's own line, then `as`; returns its status.
inline Status writerFailed(const DerWriter &w, const char *src, int line, const char *as) {
  failed(w.status(), src, line, w.failName());
  if (as != nullptr) {
    failed(w.status(), src, line, as);
  }
  return w.status();
}
// The two-call form over a fill function `fill(DerWriter&)`: measures,
// then, when `out` is not NULL, writes into it (it must hold the measured
// size); `*outLen` gets the size either way. Writers that report into a
// caller's buffer of known capacity use a fixed DerWriter directly and
// read fits() and size().
template <class Fill>
Status writeTwoCall(Fill &&fill, uint8_t *out, uint32_t &outLen, const char *&failName) {
  DerWriter measure = DerWriter::measuring();
  if (Status st = fill(measure); st != Status::Ok) {
    failName = nullptr;
    return st;
  }
  if (!measure.ok()) {
    failName = measure.failName();
    return measure.status();
  }
  if (out != nullptr) {
    DerWriter w(std::span<uint8_t>(out, measure.size()));
    fill(w);
  }
  outLen = uint32_t(measure.size());
  return Status::Ok;
}

#define RY_WRITER_FAILED(w, as) ::rycert2::writerFailed((w), kSrcFile, __LINE__, (as))

}  // namespace rycert2
