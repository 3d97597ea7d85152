// UTCTime and GeneralizedTime: fixed vectors both ways, field and form
// refusals, a round trip across the whole integer range checked against
// gmtime, and the same results whatever the host's time zone.
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "asn2_util.h"

namespace {

using asn2test::element;
using rytest::Bytes;
using rytest::Chain;
using rytest::LogCapture;
using rytest::Rec;

constexpr uint32_t kLastUtcTime = 3155759999u;  // 2069-12-31T23:59:59Z

std::string textOf(const AnyBuf *enc) {
  if (enc == nullptr || enc->length < 2) {
    return {};
  }
  return std::string(reinterpret_cast<const char *>(enc->data) + 2, enc->length - 2);
}

struct WriteCase {
  const char *name;
  uint32_t t;
  uint32_t utcStatus;
  const char *utc;
  const char *generalized;
};

const WriteCase kWrites[] = {
    {"the epoch", 0, RYCERT_OK, "700101000000Z", "19700101000000Z"},
    {"last second of 1999", 946684799, RYCERT_OK, "991231235959Z", "19991231235959Z"},
    {"2000 written as 00", 946684800, RYCERT_OK, "000101000000Z", "20000101000000Z"},
    {"leap day 2000", 951782400, RYCERT_OK, "000229000000Z", "20000229000000Z"},
    {"largest signed 32-bit second", 2147483647, RYCERT_OK, "380119031407Z", "20380119031407Z"},
    {"one second past signed 32 bits", 2147483648u, RYCERT_OK, "380119031408Z", "20380119031408Z"},
    {"last UTCTime second", kLastUtcTime, RYCERT_OK, "691231235959Z", "20691231235959Z"},
    {"2070 needs GeneralizedTime", kLastUtcTime + 1, RYCERT_InvalidTimeErr, "", "20700101000000Z"},
    {"largest integer time", 0xFFFFFFFFu, RYCERT_InvalidTimeErr, "", "21060207062815Z"},
};

void checkWrites() {
  for (const auto &c : kWrites) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    AnyBuf *raw = nullptr;
    ASSERT_EQ(RyAsn1_WriteUtcTime(&c.t, &raw), c.utcStatus);
    Chain utc(raw);
    if (c.utcStatus == RYCERT_OK) {
      EXPECT_EQ(rytest::bytesOf(utc.get()), element(0x17, c.utc));
      asn2test::expectCodecRecord(utc.get(), 23);
    } else {
      EXPECT_EQ(raw, nullptr);
      EXPECT_TRUE(log.contains("------>invalid Time"));
    }

    raw = nullptr;
    ASSERT_EQ(RyAsn1_WriteGeneralizedTime(&c.t, &raw), RYCERT_OK);
    Chain gen(raw);
    EXPECT_EQ(rytest::bytesOf(gen.get()), element(0x18, c.generalized));
    asn2test::expectCodecRecord(gen.get(), 24);

    uint8_t *text = nullptr;
    uint32_t *len = nullptr;
    ASSERT_EQ(RyAsn1_Low_ItoCTime(c.t, &text, &len), c.utcStatus);
    if (c.utcStatus == RYCERT_OK) {
      EXPECT_EQ(*len, 13u);
      EXPECT_EQ(std::string(reinterpret_cast<char *>(text), *len), c.utc);
      MOSK_Free(text);
      MOSK_Free(len);
    }
  }
}

TEST(TimeWrite, UtcAndGeneralizedVectors) { checkWrites(); }

constexpr uint8_t kU = 0x17;
constexpr uint8_t kG = 0x18;

struct ReadCase {
  const char *name;
  uint8_t id;
  const char *text;
  uint32_t status;
  uint32_t t;
};

const ReadCase kReads[] = {
    {"the epoch", kU, "700101000000Z", RYCERT_OK, 0},
    {"00 is 2000", kU, "000101000000Z", RYCERT_OK, 946684800},
    {"99 is 1999", kU, "991231235959Z", RYCERT_OK, 946684799},
    {"69 is 2069", kU, "691231235959Z", RYCERT_OK, kLastUtcTime},
    {"after 2038", kU, "380119031408Z", RYCERT_OK, 2147483648u},
    {"leap day 2000", kU, "000229000000Z", RYCERT_OK, 951782400},
    {"leap day 2024", kU, "240229120000Z", RYCERT_OK, 1709208000},
    {"Feb 29 in a common year", kU, "230229000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"month 13", kU, "241301000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"month 00", kU, "240001000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"day 32", kU, "240132000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"day 00", kU, "240100000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"April 31", kU, "240431000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"hour 24", kU, "240101240000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"minute 60", kU, "240101006000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"second 60", kU, "240101000060Z", RYCERT_InvalidTimeFieldErr, 0},
    {"letter for a digit", kU, "24010100a000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"space for a digit", kU, " 40101000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"'+' in place of Z", kU, "240101000000+", RYCERT_InvalidTimeEndErr, 0},
    {"lower-case z", kU, "240101000000z", RYCERT_InvalidTimeEndErr, 0},
    {"no seconds", kU, "2401010000Z", RYCERT_InvalidTimeEndErr, 0},
    {"fraction of a second", kU, "240101000000.5Z", RYCERT_InvalidTimeEndErr, 0},
    {"offset", kU, "240101000000+0800", RYCERT_InvalidTimeEndErr, 0},
    {"four-digit year under UTCTime", kU, "20240101000000Z", RYCERT_InvalidTimeEndErr, 0},
    {"empty text", kU, "", RYCERT_InvalidTimeEndErr, 0},
    {"generalized leap day 2000", kG, "20000229000000Z", RYCERT_OK, 951782400},
    {"generalized 2100 is not leap", kG, "21000229000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"generalized last integer second", kG, "21060207062815Z", RYCERT_OK, 0xFFFFFFFFu},
    {"generalized one second later clamps", kG, "21060207062816Z", RYCERT_OK, 0xFFFFFFFFu},
    {"generalized no-expiry date clamps", kG, "99991231235959Z", RYCERT_OK, 0xFFFFFFFFu},
    {"generalized before 1970 clamps", kG, "19691231235959Z", RYCERT_OK, 0},
    {"generalized year 0000", kG, "00000101000000Z", RYCERT_OK, 0},
    {"generalized month 13", kG, "20241301000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"generalized letter in the century", kG, "2X240101000000Z", RYCERT_InvalidTimeFieldErr, 0},
    {"generalized fraction", kG, "20240101000000.123Z", RYCERT_InvalidTimeEndErr, 0},
    {"generalized offset", kG, "20240101000000+0800", RYCERT_InvalidTimeEndErr, 0},
    {"generalized two-digit year", kG, "240101000000Z", RYCERT_InvalidTimeEndErr, 0},
};

void checkReads() {
  for (const auto &c : kReads) {
    SCOPED_TRACE(c.name);
    Rec rec(element(c.id, c.text));
    LogCapture log;
    uint32_t t = 0xDEADBEEF;
    const uint32_t st =
        c.id == kU ? RyAsn1_ReadUtcTime(rec.get(), &t) : RyAsn1_ReadGeneralizedTime(rec.get(), &t);
    EXPECT_EQ(st, c.status);
    EXPECT_EQ(t, c.status == RYCERT_OK ? c.t : 0xDEADBEEF);
    if (c.status == RYCERT_InvalidTimeEndErr) {
      EXPECT_TRUE(log.contains("------>RYCERT_InvalidTimeEndErr"));
    }
    if (c.status != RYCERT_OK) {
      EXPECT_TRUE(log.contains("------>RyAsn1_Low_ReadLongTime"));
    }
  }
}

TEST(TimeRead, UtcAndGeneralizedVectors) { checkReads(); }

TEST(TimeRead, MistaggedRecordRefusedWithoutLogLine) {
  const struct {
    const char *name;
    Bytes encoded;
    uint32_t tag;
    bool utcReader;
  } cases[] = {
      {"UTCTime reader, record tag 24", element(kG, "20240101000000Z"), 24, true},
      {"GeneralizedTime reader, record tag 23", element(kU, "240101000000Z"), 23, false},
      {"UTCTime reader, tag 23 over a GeneralizedTime octet", element(kG, "240101000000Z"), 23,
       true},
      {"UTCTime reader, tag 23 over an OCTET STRING", element(0x04, "240101000000Z"), 23, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Rec rec(c.encoded);
    rec->tag = c.tag;
    LogCapture log;
    uint32_t t = 7;
    EXPECT_EQ(
        c.utcReader ? RyAsn1_ReadUtcTime(rec.get(), &t) : RyAsn1_ReadGeneralizedTime(rec.get(), &t),
        RYCERT_TagNotMatchErr);
    EXPECT_EQ(t, 7u);
    EXPECT_TRUE(log.lines().empty());
  }
}

TEST(TimeLow, LongTimeAndTextConverters) {
  // The low writer picks the text by identifier; the low reader takes
  // each identifier's own form.
  AnyBuf *raw = nullptr;
  ASSERT_EQ(RyAsn1_Low_WriteLongTime(946684800, 0x18, &raw), RYCERT_OK);
  Chain gen(raw);
  EXPECT_EQ(textOf(gen.get()), "20000101000000Z");
  ASSERT_EQ(RyAsn1_Low_WriteLongTime(946684800, 0x17, &raw), RYCERT_OK);
  Chain utc(raw);
  EXPECT_EQ(textOf(utc.get()), "000101000000Z");
  EXPECT_EQ(utc->length, 15u);
  for (AnyBuf *rec : {gen.get(), utc.get()}) {
    uint32_t t = 0;
    EXPECT_EQ(RyAsn1_Low_ReadLongTime(rec, &t), RYCERT_OK);
    EXPECT_EQ(t, 946684800u);
  }

  const struct {
    const char *text;
    uint32_t status;
    uint32_t t;
  } texts[] = {{"000101000000Z", RYCERT_OK, 946684800},
               {"20000101000000Z", RYCERT_OK, 946684800},
               {"0001010000000", RYCERT_InvalidTimeEndErr, 0},
               {"000101000000", RYCERT_InvalidTimeEndErr, 0},
               {"0001010000:0Z", RYCERT_InvalidTimeFieldErr, 0}};
  for (const auto &c : texts) {
    SCOPED_TRACE(c.text);
    const Bytes b = rytest::str(c.text);
    rytest::ExactBlock in(b);
    uint32_t *t = nullptr;
    ASSERT_EQ(RyAsn1_Low_CtoITime(in.data(), uint32_t(b.size()), &t), c.status);
    if (c.status == RYCERT_OK) {
      EXPECT_EQ(*t, c.t);
      MOSK_Free(t);
    }
  }

  uint8_t two[2] = {'x', 'x'};
  EXPECT_EQ(RyAsn1_Low_TimeIntToChar(7, two), RYCERT_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(two), 2), "07");
  EXPECT_EQ(RyAsn1_Low_TimeIntToChar(100, two), RYCERT_InvalidTimeFieldErr);
  uint32_t v = 0;
  EXPECT_EQ(RyAsn1_Low_TimeCharToInt(reinterpret_cast<const uint8_t *>("59"), &v), RYCERT_OK);
  EXPECT_EQ(v, 59u);
  EXPECT_EQ(RyAsn1_Low_TimeCharToInt(reinterpret_cast<const uint8_t *>("5/"), &v),
            RYCERT_InvalidTimeFieldErr);
}

// gmtime's text for t: the independent reference of the round trip.
std::string reference(uint32_t t, bool generalized) {
  const time_t tt = time_t(t);
  struct tm tm {};
  gmtime_r(&tt, &tm);
  char buf[32];
  strftime(buf, sizeof buf, generalized ? "%Y%m%d%H%M%SZ" : "%y%m%d%H%M%SZ", &tm);
  return buf;
}

TEST(TimeRoundTrip, AcrossTheWholeRange) {
  static_assert(sizeof(time_t) == 8, "the reference needs a 64-bit time_t");
  constexpr uint64_t kStep = 999983;  // a prime: every field value comes round
  std::vector<uint32_t> times{kLastUtcTime, kLastUtcTime + 1, 0xFFFFFFFFu};
  for (uint64_t t = 0; t <= 0xFFFFFFFFu; t += kStep) {
    times.push_back(uint32_t(t));
  }
  int checked = 0;
  for (const uint32_t t : times) {
    for (bool generalized : {false, true}) {
      AnyBuf *raw = nullptr;
      const uint32_t st =
          generalized ? RyAsn1_WriteGeneralizedTime(&t, &raw) : RyAsn1_WriteUtcTime(&t, &raw);
      if (!generalized && t > kLastUtcTime) {
        ASSERT_EQ(st, RYCERT_InvalidTimeErr) << t;
        continue;
      }
      ASSERT_EQ(st, RYCERT_OK) << t;
      Chain enc(raw);
      ASSERT_EQ(textOf(enc.get()), reference(t, generalized)) << t;
      uint32_t back = 0;
      ASSERT_EQ(generalized ? RyAsn1_ReadGeneralizedTime(enc.get(), &back)
                            : RyAsn1_ReadUtcTime(enc.get(), &back),
                RYCERT_OK)
          << t;
      ASSERT_EQ(back, t);
      ++checked;
    }
  }
  EXPECT_GT(checked, 7000);
}

// The whole suite is also registered with TZ=Asia/Shanghai. Without the
// zone file glibc would quietly fall back to UTC, so this test switches
// the zone inside the process and shows that it is in force before it
// repeats the vectors.
TEST(TimeZone, HostZoneDoesNotChangeResults) {
  const char *old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", "Asia/Shanghai", 1);
  tzset();
  if (access("/usr/share/zoneinfo/Asia/Shanghai", R_OK) == 0) {
    const time_t epoch = 0;
    struct tm local {
    }, utc{};
    localtime_r(&epoch, &local);
    gmtime_r(&epoch, &utc);
    EXPECT_EQ(local.tm_hour, 8);
    EXPECT_NE(local.tm_hour, utc.tm_hour);
  } else {
    GTEST_LOG_(WARNING) << "no zone file for Asia/Shanghai: the zone is not in force";
  }
  checkWrites();
  checkReads();
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
