// The composable DER writer: elements opened, filled and closed in one
// pass, lengths fixed at close.
#include <cstring>
#include <utility>

#include "ry_asn2.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_asn2";

// Largest length the reserved octet at open() can grow to: five octets in
// all, the first included (X.690 8.1.3.5, at most four after it).
constexpr size_t kMaxLengthOctets = 5;
}  // namespace

DerWriter::DerWriter(DerWriter &&o) noexcept
    : buf_(std::exchange(o.buf_, nullptr)),
      len_(std::exchange(o.len_, 0)),
      cap_(std::exchange(o.cap_, 0)),
      st_(o.st_),
      failName_(o.failName_),
      fixed_(o.fixed_),
      overflow_(o.overflow_) {}

DerWriter::~DerWriter() {
  if (!fixed_) {
    MOSK_Free(buf_);
  }
}

void DerWriter::fail(Status st, const char *name) {
  if (st_ == Status::Ok) {
    st_ = st;
    failName_ = name;
  }
}

bool DerWriter::room(size_t n) {
  if (!ok()) {
    return false;
  }
  // Sizes stay within what a record's 32-bit length can carry, so sums
  // below never wrap.
  if (n > 0xFFFFFFFFu || len_ + n > 0xFFFFFFFFu) {
    fail(Status::InvalidLength, "RyAsn1_Low_Count_LengthOfSize");
    return false;
  }
  if (fixed_) {
    if (overflow_ || len_ + n > cap_) {
      overflow_ = true;
      return false;
    }
    return true;
  }
  if (len_ + n > cap_) {
    reserve(n);
  }
  return ok();
}

void DerWriter::reserve(size_t n) {
  if (!ok() || fixed_ || len_ + n <= cap_) {
    return;
  }
  if (n > 0xFFFFFFFFu || len_ + n > 0xFFFFFFFFu) {
    fail(Status::InvalidLength, "RyAsn1_Low_Count_LengthOfSize");
    return;
  }
  size_t want = std::max<size_t>(len_ + n, cap_ < 64 ? 64 : cap_ * 2);
  want = std::min<size_t>(want, std::max<size_t>(len_ + n, 0xFFFFFFFFu));
  auto *p = static_cast<uint8_t *>(MOSK_Malloc(kSrcFile, __LINE__, want));
  if (p == nullptr) {
    fail(Status::Memory, "MOSK_Malloc");
    return;
  }
  if (len_ != 0) {
    std::memcpy(p, buf_, len_);
  }
  MOSK_Free(buf_);
  buf_ = p;
  cap_ = want;
}

uint8_t *DerWriter::extend(size_t n) {
  const bool store = room(n);
  if (!ok()) {
    return nullptr;
  }
  uint8_t *p = store ? buf_ + len_ : nullptr;
  len_ += n;
  return p;
}

DerWriter::Mark DerWriter::open(uint8_t id) {
  const Mark m{len_};
  if (uint8_t *p = extend(2)) {
    p[0] = id;
    p[1] = 0;
  }
  return m;
}

void DerWriter::close(Mark m) {
  if (!ok()) {
    return;
  }
  const size_t content = len_ - m.at - 2;
  const size_t n = lengthOctets(content);
  if (!fitsRecord(content)) {
    fail(Status::InvalidLength, "RyAsn1_Low_Count_LengthOfSize");
    return;
  }
  const size_t start = len_ - content;
  const bool stored = fits();
  if (n > 1) {
    // The length needs more octets than the one reserved: the content
    // moves up by the difference.
    const bool stillStored = room(n - 1);
    if (!ok()) {
      return;
    }
    if (stored && stillStored) {
      std::memmove(buf_ + start + (n - 1), buf_ + start, content);
    }
    len_ += n - 1;
  }
  if (fits()) {
    putHeader(buf_ + m.at, buf_[m.at], content);
  }
}

void DerWriter::element(uint8_t id, std::span<const uint8_t> content) {
  const size_t headerLen = 1 + lengthOctets(content.size());
  if (!fitsRecord(content.size())) {
    fail(Status::InvalidLength, "RyAsn1_Low_Count_LengthOfSize");
    return;
  }
  if (uint8_t *p = extend(headerLen + content.size())) {
    p = putHeader(p, id, content.size());
    if (!content.empty()) {
      std::memcpy(p, content.data(), content.size());
    }
  }
}

void DerWriter::raw(std::span<const uint8_t> bytes) {
  if (uint8_t *p = extend(bytes.size()); p != nullptr && !bytes.empty()) {
    std::memcpy(p, bytes.data(), bytes.size());
  }
}

void DerWriter::integer(uint32_t v) {
  const uint8_t be[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  unsignedInteger(be);
}

void DerWriter::unsignedInteger(std::span<const uint8_t> magnitude) {
  size_t skip = 0;
  while (skip < magnitude.size() && magnitude[skip] == 0) {
    ++skip;
  }
  magnitude = magnitude.subspan(skip);
  const bool pad = magnitude.empty() || (magnitude[0] & 0x80) != 0;
  const size_t content = magnitude.size() + (pad ? 1 : 0);
  if (!fitsRecord(content)) {
    fail(Status::InvalidLength, "RyAsn1_Low_Count_LengthOfSize");
    return;
  }
  if (uint8_t *p = extend(1 + lengthOctets(content) + content)) {
    p = putHeader(p, kIdInteger, content);
    if (pad) {
      *p++ = 0x00;
    }
    if (!magnitude.empty()) {
      std::memcpy(p, magnitude.data(), magnitude.size());
    }
  }
}

void DerWriter::boolean(bool v) {
  const uint8_t octet = v ? 0xFF : 0x00;
  element(kIdBoolean, {&octet, 1});
}

void DerWriter::bitString(uint8_t unusedBits, std::span<const uint8_t> bits) {
  if (unusedBits > 7 || (bits.empty() && unusedBits != 0)) {
    fail(Status::InvalidLength, "unusedBits > 7");
    return;
  }
  const Mark m = open(kIdBitString);
  if (uint8_t *p = extend(1)) {
    *p = unusedBits;
  }
  raw(bits);
  close(m);
}

void DerWriter::null() { element(kIdNull, {}); }

Status DerWriter::toEmbedded(AnyBuf &out) {
  if (!ok()) {
    return st_;
  }
  if (fixed_) {
    fail(Status::Memory, "DerWriter");
    return st_;
  }
  out = AnyBuf{};
  out.reserved = 2;
  out.tag = len_ != 0 ? tagOf(buf_[0]) : 0;
  if (len_ != 0) {
    out.data = buf_;
    out.length = uint32_t(len_);
  } else {
    MOSK_Free(buf_);
  }
  buf_ = nullptr;
  len_ = cap_ = 0;
  return Status::Ok;
}

Status DerWriter::toRecord(AnyBuf *&out) {
  if (!ok()) {
    return st_;
  }
  auto *rec = reinterpret_cast<AnyBuf *>(MOSK_Malloc(kSrcFile, __LINE__, sizeof(AnyBuf)));
  if (rec == nullptr) {
    fail(Status::Memory, "MOSK_Malloc");
    return st_;
  }
  if (Status st = toEmbedded(*rec); st != Status::Ok) {
    MOSK_Free(rec);
    return st;
  }
  out = rec;
  return Status::Ok;
}

}  // namespace rycert2
