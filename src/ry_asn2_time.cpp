// DER codec: UTCTime and GeneralizedTime (X.690 11.7, 11.8; RFC 5280
// 4.1.2.5). Integer times are unsigned 32-bit seconds since
// 1970-01-01T00:00:00Z; all conversions are in UTC, independent of the
// host's time zone.
#include <cstring>

#include "ry_asn2.h"

namespace rycert2 {
namespace {
constexpr char kSrcFile[] = "ry_asn2";

constexpr int64_t kSecondsPerDay = 86400;
constexpr uint32_t kLastUtcYear = 2069;  // YY 00..69 read as 2000..2069

struct Civil {
  int64_t year;
  unsigned month;  // 1..12
  unsigned day;    // 1..31
};

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil).
constexpr int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

constexpr Civil civilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}
static_assert(daysFromCivil(1970, 1, 1) == 0);
static_assert(daysFromCivil(2000, 3, 1) == 11017);

constexpr bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr unsigned daysInMonth(int64_t y, unsigned m) {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

inline void twoDigits(unsigned v, uint8_t *out) {
  out[0] = uint8_t('0' + v / 10);
  out[1] = uint8_t('0' + v % 10);
}

// Whether all eight octets of `w` are ASCII digits: an octet below '0'
// borrows into its bit 7 when '0' is taken off, one above '9' carries into
// it when 0x46 is added, and a non-ASCII octet has it set already. An
// octet that borrows or carries has failed itself, so what that does to
// its neighbour does not matter.
inline bool allDigits8(uint64_t w) {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  return ((w | (w - 0x3030303030303030ull) | (w + 0x4646464646464646ull)) & kHigh) == 0;
}

// Whether the `n` (8 to 16) octets at `p` are all ASCII digits: two
// fixed-size loads, overlapping when n < 16.
inline bool allDigits(const uint8_t *p, size_t n) {
  uint64_t a;
  uint64_t b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + n - 8, 8);
  return allDigits8(a) && allDigits8(b);
}

inline unsigned pairAt(const uint8_t *p) {
  return unsigned(p[0] - '0') * 10 + unsigned(p[1] - '0');
}

inline bool digitPair(const uint8_t *p, unsigned &v) {
  if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') {
    return false;
  }
  v = unsigned(p[0] - '0') * 10 + unsigned(p[1] - '0');
  return true;
}

}  // namespace

Status timeToText(uint32_t t, bool generalized, uint8_t *out, const char *&failName) {
  const int64_t days = int64_t(t) / kSecondsPerDay;
  const unsigned secs = unsigned(int64_t(t) % kSecondsPerDay);
  const Civil c = civilFromDays(days);
  uint8_t *p = out;
  if (generalized) {
    twoDigits(unsigned(c.year / 100), p);
    p += 2;
  } else if (c.year > kLastUtcYear) {
    // A two-digit year past 2069 would read back a century early.
    failName = "invalid Time";
    return Status::InvalidTime;
  }
  twoDigits(unsigned(c.year % 100), p);
  twoDigits(c.month, p + 2);
  twoDigits(c.day, p + 4);
  twoDigits(secs / 3600, p + 6);
  twoDigits(secs / 60 % 60, p + 8);
  twoDigits(secs % 60, p + 10);
  p[12] = 'Z';
  return Status::Ok;
}

Status textToTime(std::span<const uint8_t> text, uint32_t &t, const char *&failName) {
  const bool generalized = text.size() == kGeneralizedTextLen;
  if (!generalized && text.size() != kUtcTextLen) {
    // Shorter forms (no seconds), fractions and offsets are not DER.
    failName = "RYCERT_InvalidTimeEndErr";
    return Status::InvalidTimeEnd;
  }
  const uint8_t *p = text.data();
  unsigned f[7];  // century, year, month, day, hour, minute, second
  const size_t start = generalized ? 0 : 1;
  if (allDigits(p, text.size() - 1)) {
    // The common case, checked in two words: only the fields remain.
    const uint8_t *q = p;
    if (generalized) {
      f[0] = pairAt(q);
      q += 2;
    }
    f[1] = pairAt(q);
    f[2] = pairAt(q + 2);
    f[3] = pairAt(q + 4);
    f[4] = pairAt(q + 6);
    f[5] = pairAt(q + 8);
    f[6] = pairAt(q + 10);
  } else {
    for (size_t i = start; i < 7; ++i) {
      if (!digitPair(p + 2 * (i - start), f[i])) {
        failName = "RyAsn1_Low_TimeCharToInt";
        return Status::InvalidTimeField;
      }
    }
  }
  if (p[text.size() - 1] != 'Z') {
    failName = "RYCERT_InvalidTimeEndErr";
    return Status::InvalidTimeEnd;
  }
  const int64_t year = generalized ? int64_t(f[0]) * 100 + f[1] : (f[1] < 70 ? 2000 : 1900) + f[1];
  const unsigned month = f[2];
  const unsigned day = f[3];
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || f[4] > 23 ||
      f[5] > 59 || f[6] > 59) {
    failName = "RyAsn1_Low_TimeCharToInt";
    return Status::InvalidTimeField;
  }
  const int64_t secs =
      daysFromCivil(year, month, day) * kSecondsPerDay + f[4] * 3600 + f[5] * 60 + f[6];
  // Outside the integer range: clamp, so "no expiry" (99991231235959Z)
  // reads as the last representable second.
  t = secs < 0 ? 0u : secs > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(secs);
  return Status::Ok;
}

namespace {

Status writeLongTime(uint32_t t, uint8_t id, AnyBuf *&out) {
  if ((id & 0x1F) == 0x1F) {
    return RY_FAILED(Status::TagNotMatch, "RYCERT_TagNotMatchErr");
  }
  const bool generalized = id == kIdGeneralizedTime;
  const size_t len = generalized ? kGeneralizedTextLen : kUtcTextLen;
  uint8_t text[kGeneralizedTextLen];
  const char *failName = nullptr;
  if (Status st = timeToText(t, generalized, text, failName); st != Status::Ok) {
    RY_FAILED(st, failName);
    return RY_FAILED(st, "RyAsn1_Low_ItoCTime");
  }
  if (newElement(id, {text, len}, out) != Status::Ok) {
    return RY_NO_MEMORY();
  }
  return Status::Ok;
}

Status readLongTime(const AnyBuf *enc, uint32_t &t) {
  const char *failName = nullptr;
  Tlv tlv;
  if (Status st = RY_OPEN(enc, tlv, "RyAsn1_Low_GetLengthInfo"); st != Status::Ok) {
    return st;
  }
  // Each identifier has its one text form: a four-digit year under the
  // UTCTime identifier (or the reverse) is refused like any other length.
  const size_t want = tlv.id == kIdUtcTime           ? kUtcTextLen
                      : tlv.id == kIdGeneralizedTime ? kGeneralizedTextLen
                                                     : tlv.content.size();
  if (tlv.content.size() != want) {
    RY_FAILED(Status::InvalidTimeEnd, "RYCERT_InvalidTimeEndErr");
    return RY_FAILED(Status::InvalidTimeEnd, "RyAsn1_Low_CtoITime");
  }
  if (Status st = textToTime(tlv.content, t, failName); st != Status::Ok) {
    RY_FAILED(st, failName);
    return RY_FAILED(st, "RyAsn1_Low_CtoITime");
  }
  return Status::Ok;
}

Status writeTime(const uint32_t *t, uint8_t id, AnyBuf **out) {
  RY_REQUIRE(t, out);
  AnyBuf *rec = nullptr;
  if (Status st = writeLongTime(*t, id, rec); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_Low_WriteLongTime");
  }
  *out = rec;
  return Status::Ok;
}

Status readTime(const AnyBuf *enc, uint32_t tag, uint32_t *t) {
  RY_REQUIRE(enc, t);
  if (enc->tag != tag) {
    return Status::TagNotMatch;  // no log line for a mistagged time
  }
  // The identifier octet must agree with the record's tag as well.
  if (enc->length == 0 || enc->data == nullptr || enc->data[0] != uint8_t(tag)) {
    return Status::TagNotMatch;
  }
  uint32_t v = 0;
  if (Status st = readLongTime(enc, v); st != Status::Ok) {
    return RY_FAILED(st, "RyAsn1_Low_ReadLongTime");
  }
  *t = v;
  return Status::Ok;
}

}  // namespace
}  // namespace rycert2

using namespace rycert2;

extern "C" {

RYCERT_API uint32_t RyAsn1_WriteUtcTime(const uint32_t *time, AnyBuf **out) {
  return RY_C_BOUNDARY({
    return writeTime(time, kIdUtcTime, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadUtcTime(const AnyBuf *encoded, uint32_t *time) {
  return RY_C_BOUNDARY({
    return readTime(encoded, 23, time);
  });
}

RYCERT_API uint32_t RyAsn1_WriteGeneralizedTime(const uint32_t *time, AnyBuf **out) {
  return RY_C_BOUNDARY({
    return writeTime(time, kIdGeneralizedTime, out);
  });
}

RYCERT_API uint32_t RyAsn1_ReadGeneralizedTime(const AnyBuf *encoded, uint32_t *time) {
  return RY_C_BOUNDARY({
    return readTime(encoded, 24, time);
  });
}

RYCERT_API uint32_t RyAsn1_Low_WriteLongTime(uint32_t time, uint8_t id, AnyBuf **out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out);
    AnyBuf *rec = nullptr;
    if (Status st = writeLongTime(time, id, rec); st != Status::Ok) {
      return st;
    }
    *out = rec;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_ReadLongTime(const AnyBuf *encoded, uint32_t *time) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(time);
    uint32_t v = 0;
    if (Status st = readLongTime(encoded, v); st != Status::Ok) {
      return st;
    }
    *time = v;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_ItoCTime(uint32_t time, uint8_t **text, uint32_t **length) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(text, length);
    uint8_t tmp[kUtcTextLen];
    const char *failName = nullptr;
    if (Status st = timeToText(time, false, tmp, failName); st != Status::Ok) {
      return RY_FAILED(st, failName);
    }
    Block block(RY_ALLOC(kUtcTextLen));
    Block len(RY_ALLOC(sizeof(uint32_t)));
    if (!block || !len) {
      return RY_NO_MEMORY();
    }
    std::memcpy(block.get(), tmp, kUtcTextLen);
    const uint32_t n = kUtcTextLen;
    std::memcpy(len.get(), &n, sizeof n);
    *text = block.release();
    *length = reinterpret_cast<uint32_t *>(len.release());
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_CtoITime(const uint8_t *text, uint32_t length, uint32_t **time) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(text, time);
    uint32_t v = 0;
    const char *failName = nullptr;
    if (Status st = textToTime({text, length}, v, failName); st != Status::Ok) {
      return RY_FAILED(st, failName);
    }
    auto *p = reinterpret_cast<uint32_t *>(RY_ALLOC(sizeof(uint32_t)));
    if (p == nullptr) {
      return RY_NO_MEMORY();
    }
    *p = v;
    *time = p;
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_TimeIntToChar(uint32_t value, uint8_t *out) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(out);
    if (value > 99) {
      return Status::InvalidTimeField;
    }
    twoDigits(value, out);
    return Status::Ok;
  });
}

RYCERT_API uint32_t RyAsn1_Low_TimeCharToInt(const uint8_t *text, uint32_t *value) {
  return RY_C_BOUNDARY({
    RY_REQUIRE(text, value);
    unsigned v = 0;
    if (!digitPair(text, v)) {
      return Status::InvalidTimeField;
    }
    *value = v;
    return Status::Ok;
  });
}

}  // extern "C"
