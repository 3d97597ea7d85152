// UTCTime and GeneralizedTime: fixed vectors both ways, a round trip across
// the whole integer range against gmtime, and the same results whatever the
// host's time zone (this binary also runs under TZ=Asia/Shanghai).
#include <time.h>

#include <cstdlib>

#include "asn2_util.h"

namespace {

using namespace asn2test;

constexpr uint32_t kLastUtc = 3155759999u;  // 2069-12-31T23:59:59Z

std::string element(uint8_t id, const std::string &text) {
  return rytest::toHex(Bytes{id, uint8_t(text.size())}) + rytest::toHex(rytest::str(text));
}

// The writers of a decimal time: "tag:text", the length octet checked.
template <uint32_t (*Fn)(const uint32_t *, AnyBuf **)>
uint32_t write(const std::string &in, std::string &out) {
  const uint32_t t = uint32_t(std::stoul(in));
  AnyBuf *r = kUntouched;
  const uint32_t st = Fn(&t, &r);
  out = r == kUntouched ? "-" : std::to_string(r->tag) + ":";
  out += r == kUntouched ? "" : std::string(r->data + 2, r->data + r->length);
  EXPECT_TRUE(r == kUntouched || r->data[1] + 2u == r->length);
  Hx_FreeAnybuf(r == kUntouched ? nullptr : r);
  return st;
}
template <uint8_t Id>
uint32_t lowWrite(const uint32_t *t, AnyBuf **out) {
  return RyAsn1_Low_WriteLongTime(*t, Id, out);
}

// The readers of a text under identifier Id.
template <uint32_t (*Fn)(const AnyBuf *, uint32_t *), uint8_t Id>
uint32_t read(const std::string &in, std::string &out) {
  return number<uint32_t, Fn>(element(Id, in), out);
}

uint32_t itoc(const std::string &in, std::string &out) {
  uint8_t *s = nullptr;
  uint32_t *n = nullptr;
  const uint32_t st = RyAsn1_Low_ItoCTime(uint32_t(std::stoul(in)), &s, &n);
  out = s == nullptr ? "-" : std::string(s, s + *n);
  MOSK_Free(s);
  MOSK_Free(n);
  return st;
}
uint32_t ctoi(const std::string &in, std::string &out) {
  uint32_t *t = nullptr;
  const uint32_t st = RyAsn1_Low_CtoITime(rytest::str(in).data(), in.size(), &t);
  out = t == nullptr ? "-" : std::to_string(*t);
  MOSK_Free(t);
  return st;
}
// A number as two digits, which must read back as the number.
uint32_t digits(const std::string &in, std::string &out) {
  uint8_t two[2] = {'-', '-'};
  uint32_t st = RyAsn1_Low_TimeIntToChar(uint32_t(std::stoul(in)), two), back = 0;
  st = st != RYCERT_OK ? st : RyAsn1_Low_TimeCharToInt(two, &back);
  out = std::string(two, two + 2) + (st == RYCERT_OK ? " " + std::to_string(back) : "");
  return st;
}

constexpr auto kUtc = write<RyAsn1_WriteUtcTime>;
constexpr auto kGen = write<RyAsn1_WriteGeneralizedTime>;
constexpr auto kReadUtc = read<RyAsn1_ReadUtcTime, 0x17>;
constexpr auto kReadGen = read<RyAsn1_ReadGeneralizedTime, 0x18>;

const Row kTimes[] = {
    {"the epoch", kUtc, "0", 0, "23:700101000000Z"},
    {"2000 as 00", kUtc, "946684800", 0, "23:000101000000Z"},
    {"largest signed 32-bit second", kUtc, "2147483647", 0, "23:380119031407Z"},
    {"after 2038", kGen, "2147483648", 0, "24:20380119031408Z"},
    {"last UTCTime second", kUtc, "3155759999", 0, "23:691231235959Z"},
    {"2070 is no UTCTime", kUtc, "3155760000", 115, "-", "------>invalid Time"},
    {"largest time is no UTCTime", kUtc, "4294967295", 115, "-"},
    {"largest time, generalized", kGen, "4294967295", 0, "24:21060207062815Z"},
    {"low writer, id 0x18", write<lowWrite<0x18>>, "946684800", 0, "24:20000101000000Z"},
    {"low writer, id 4", write<lowWrite<0x04>>, "946684800", 0, "4:000101000000Z"},
    {"low text writer", itoc, "951782400", 0, "000229000000Z"},
    {"leap day 2024", kReadUtc, "240229120000Z", 0, "1709208000"},
    {"Feb 29 of a common year", kReadUtc, "230229000000Z", 103, "-"},
    {"2000 is a leap year", kReadGen, "20000229000000Z", 0, "951782400"},
    {"2100 is not", kReadGen, "21000229000000Z", 103, "-"},
    {"month 00", kReadUtc, "240001000000Z", 103, "-"},
    {"month 13", kReadUtc, "241301000000Z", 103, "-"},
    {"day 00", kReadUtc, "240100000000Z", 103, "-"},
    {"April 31", kReadUtc, "240431000000Z", 103, "-"},
    {"hour 24", kReadUtc, "240101240000Z", 103, "-"},
    {"minute 60", kReadUtc, "240101006000Z", 103, "-"},
    {"second 60", kReadUtc, "240101000060Z", 103, "-"},
    {"letter for a digit", kReadUtc, "24010100a000Z", 103, "-"},
    {"'+' in place of Z", kReadUtc, "240101000000+", 104, "-"},
    {"no seconds", kReadUtc, "2401010000Z", 104, "-"},
    {"fraction of a second", kReadGen, "20240101000000.5Z", 104, "-"},
    {"four-digit year under UTCTime", kReadUtc, "20240101000000Z", 104, "-"},
    {"two-digit year under GeneralizedTime", kReadGen, "240101000000Z", 104, "-"},
    {"last integer second", kReadGen, "21060207062815Z", 0, "4294967295"},
    {"one second later clamps", kReadGen, "21060207062816Z", 0, "4294967295"},
    {"no-expiry date clamps", kReadGen, "99991231235959Z", 0, "4294967295"},
    {"before 1970 clamps", kReadGen, "19691231235959Z", 0, "0"},
    {"mistagged GeneralizedTime", read<RyAsn1_ReadUtcTime, 0x18>, "20240101000000Z", 106, "-", ""},
    {"mistagged UTCTime", read<RyAsn1_ReadGeneralizedTime, 0x17>, "240101000000Z", 106, "-", ""},
    {"low reader", read<RyAsn1_Low_ReadLongTime, 0x18>, "20000101000000Z", 0, "946684800"},
    {"low text reader", ctoi, "000101000000Z", 0, "946684800"},
    {"7 as two digits and back", digits, "7", 0, "07 7"},
    {"100 is no two digits", digits, "100", 103, "--"},
};

TEST(Time, Vectors) { expectRows(kTimes); }

TEST(Time, EveryPrefixAndOneTrailingByteRefused) {
  expectOnlyWhole("UTCTime", number<uint32_t, RyAsn1_ReadUtcTime>, element(0x17, "240229120000Z"));
  expectOnlyWhole("GeneralizedTime", number<uint32_t, RyAsn1_ReadGeneralizedTime>,
                  element(0x18, "20240229120000Z"));
}

// Written and read back, both forms, every 999983 s (a prime, so every
// field value comes round), checked against gmtime's text.
TEST(Time, RoundTripAcrossTheWholeRangeAgainstGmtime) {
  static_assert(sizeof(time_t) == 8, "the reference needs a 64-bit time_t");
  for (uint64_t t = 0; t <= 0xFFFFFFFFu; t += 999983) {
    const time_t tt = time_t(t);
    struct tm tm {};
    gmtime_r(&tt, &tm);
    for (const bool gen : {false, true}) {
      char want[32];
      strftime(want, sizeof want, gen ? "24:%Y%m%d%H%M%SZ" : "23:%y%m%d%H%M%SZ", &tm);
      std::string out;
      const uint32_t st = (gen ? kGen : kUtc)(std::to_string(t), out);
      ASSERT_EQ(st, !gen && t > kLastUtc ? RYCERT_InvalidTimeErr : RYCERT_OK) << t;
      if (st == RYCERT_OK) {
        ASSERT_EQ(out, want);
        ASSERT_EQ((gen ? kReadGen : kReadUtc)(out.substr(3), out), RYCERT_OK) << want;
        ASSERT_EQ(out, std::to_string(t));
      }
    }
  }
}

// The zone is switched inside the process too, since glibc would quietly
// fall back to UTC if the second registration's zone were missing. It is
// left in force: no result may depend on it.
TEST(Time, HostZoneDoesNotChangeResults) {
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  const time_t epoch = 0;
  struct tm local {};
  localtime_r(&epoch, &local);
  EXPECT_EQ(local.tm_hour, 8) << "the zone is not in force";
  expectRows(kTimes);
}

}  // namespace
