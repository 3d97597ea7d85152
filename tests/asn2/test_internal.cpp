// The composable DER writer and the reader steps, checked through the
// library's internal interface. Expected bytes are written out by hand
// and, for the long forms, checked against libcrypto's header reader
// where a hand-written vector would be unreadable.
#include <string_view>

#include "ry_asn2.h"
#include "test_support.h"

using namespace rytest;
using rycert2::DerReader;
using rycert2::DerWriter;
using rycert2::Status;
using rycert2::Tlv;

namespace {

// SEQUENCE { OCTET STRING of n bytes } written through the writer, with
// the lengths fixed at close.
void octetsInSequence(DerWriter &w, size_t n) {
  const Bytes body(n, 0xAB);
  const DerWriter::Mark seq = w.open(0x30);
  const DerWriter::Mark inner = w.open(0x04);
  w.raw(body);
  w.close(inner);
  w.close(seq);
}

Bytes written(const DerWriter &w) { return Bytes(w.bytes().begin(), w.bytes().end()); }

// Header of an element in the expected, DER-minimal form.
std::string header(uint8_t id, size_t len) {
  Bytes h{id};
  if (len < 0x80) {
    h.push_back(uint8_t(len));
  } else {
    Bytes be;
    for (size_t v = len; v != 0; v >>= 8) {
      be.insert(be.begin(), uint8_t(v));
    }
    h.push_back(uint8_t(0x80 | be.size()));
    h.insert(h.end(), be.begin(), be.end());
  }
  return toHex(h);
}

}  // namespace

TEST(DerWriter, LengthsAreFixedAtCloseInTheFewestOctets) {
  // Each size crosses a boundary of the length form; the inner element's
  // growth must move the content and grow the outer length with it.
  for (size_t n : {size_t(0), size_t(1), size_t(125), size_t(126), size_t(127), size_t(128),
                   size_t(255), size_t(256), size_t(65535), size_t(65536), size_t(1) << 24}) {
    SCOPED_TRACE(n);
    DerWriter w;
    octetsInSequence(w, n);
    ASSERT_TRUE(w.fits());
    const Bytes out = written(w);
    const std::string innerHeader = header(0x04, n);
    const size_t innerSize = innerHeader.size() / 2 + n;
    const std::string expectHead = header(0x30, innerSize) + innerHeader;
    ASSERT_EQ(out.size(), expectHead.size() / 2 + n);
    EXPECT_EQ(toHex(out.data(), expectHead.size() / 2), expectHead);
    EXPECT_TRUE(std::all_of(out.end() - long(n), out.end(), [](uint8_t b) { return b == 0xAB; }));
  }
}

TEST(DerWriter, GrowingFixedAndMeasuringAgree) {
  auto fill = [](DerWriter &w) {
    const DerWriter::Mark top = w.open(0x30);
    w.integer(0);
    w.integer(128);
    w.integer(0xFFFFFFFFu);
    w.boolean(true);
    w.null();
    const DerWriter::Mark tag = w.open(0xA3);
    octetsInSequence(w, 300);
    w.close(tag);
    w.bitString(3, Bytes{0xF8});
    w.close(top);
  };
  DerWriter grown;
  fill(grown);
  DerWriter measure = DerWriter::measuring();
  fill(measure);
  ASSERT_TRUE(grown.fits());
  ASSERT_TRUE(measure.ok());
  EXPECT_EQ(measure.size(), grown.size());
  EXPECT_TRUE(measure.bytes().empty());

  // Exactly the measured size: the same bytes, in a block ASan watches.
  ExactBlock exact(Bytes(measure.size(), 0));
  DerWriter fixed(std::span<uint8_t>(exact.data(), exact.size()));
  fill(fixed);
  EXPECT_TRUE(fixed.fits());
  EXPECT_EQ(toHex(exact.data(), exact.size()), toHex(written(grown)));
  // 30 82 LL LL, then the small values in order.
  EXPECT_EQ(toHex(written(grown)).substr(8, 38), toHex(hex("020100 02020080 020500FFFFFFFF 0101FF 0500")));

  // One byte short: nothing written past the span, the size still known.
  ExactBlock small(Bytes(measure.size() - 1, 0));
  DerWriter tooSmall(std::span<uint8_t>(small.data(), small.size()));
  fill(tooSmall);
  EXPECT_TRUE(tooSmall.ok());
  EXPECT_FALSE(tooSmall.fits());
  EXPECT_EQ(tooSmall.size(), measure.size());
}

TEST(DerWriter, IntegersAreMinimalAndNonNegative) {
  struct Case {
    const char *name;
    Bytes magnitude;
    const char *der;
  } const cases[] = {
      {"empty is zero", {}, "020100"},
      {"zero", {0x00}, "020100"},
      {"redundant zeros dropped", {0x00, 0x00, 0x7F}, "02017F"},
      {"high bit gets a 00", {0x80}, "02020080"},
      {"needed 00 kept once", {0x00, 0x00, 0x80}, "02020080"},
      {"two octets", {0x01, 0x00}, "02020100"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    DerWriter w;
    w.unsignedInteger(c.magnitude);
    EXPECT_EQ(toHex(written(w)), toHex(hex(c.der)));
  }
  DerWriter w;
  w.integer(127);
  w.integer(256);
  EXPECT_EQ(toHex(written(w)), toHex(hex("02017F 02020100")));
}

TEST(DerWriter, FirstFailureSticksAndNothingLeaks) {
  DerWriter w;
  w.bitString(8, Bytes{0x00});  // 8 unused bits is not a BIT STRING
  EXPECT_EQ(w.status(), Status::InvalidLength);
  w.integer(5);
  EXPECT_EQ(w.size(), 0u);
  AnyBuf *rec = nullptr;
  EXPECT_EQ(w.toRecord(rec), Status::InvalidLength);
  EXPECT_EQ(rec, nullptr);

  // Each allocation failing in turn: the writer reports memory, the record
  // is whole otherwise, and no block stays live.
  const int allocations = sweepAllocationFailures(
      [] {
        DerWriter g;
        octetsInSequence(g, 5000);
        AnyBuf *out = nullptr;
        if (Status st = g.toRecord(out); st != Status::Ok) {
          return uint32_t(st);
        }
        const bool whole = out->length == 5008 && out->tag == 16 && out->data[0] == 0x30;
        Hx_FreeAnybuf(out);
        return whole ? RYCERT_OK : 1u;
      },
      RYCERT_MemoryErr);
  EXPECT_GT(allocations, 1);
}

TEST(DerReaderSteps, ReadAStructureAsItsDefinitionDoes) {
  //   T ::= SEQUENCE { version [0] EXPLICIT INTEGER DEFAULT 0, serial INTEGER,
  //                    flag BOOLEAN OPTIONAL }
  struct Outcome {
    uint32_t version;
    bool flag;
    Status st;
    const char *failName;  // "" for none
  };
  auto read = [](const Bytes &der) -> Outcome {
    ExactBlock in(der);
    Outcome o{0, false, Status::Ok, ""};
    const char *fn = nullptr;
    auto fail = [&](Status st) {
      o.st = st;
      o.failName = fn == nullptr ? "" : fn;
      return o;
    };
    DerReader r({in.data(), in.size()});
    Tlv t;
    bool present = false;
    if (Status st = r.optional(0xA0, t, present, fn); st != Status::Ok) {
      return fail(st);
    }
    if (present) {
      o.version = t.content.size() == 3 ? t.content[2] : 99;
    }
    if (Status st = r.expect(0x02, t, fn, Status::CertNotEnd); st != Status::Ok) {
      return fail(st);
    }
    if (Status st = r.optional(0x01, t, present, fn); st != Status::Ok) {
      return fail(st);
    }
    o.flag = present;
    if (Status st = r.finish(fn); st != Status::Ok) {
      return fail(st);
    }
    return o;
  };
  struct Case {
    const char *name;
    const char *der;
    Outcome want;
  } const cases[] = {
      {"every field", "A003020102 020105 0101FF", {2, true, Status::Ok, ""}},
      {"DEFAULT and OPTIONAL left out", "020105", {0, false, Status::Ok, ""}},
      {"required field missing", "A003020102", {2, false, Status::CertNotEnd, "RYCERT_CertNotEndErr"}},
      {"required field mistagged", "040105", {0, false, Status::TagNotMatch, ""}},
      {"surplus element", "020105 0101FF 0500", {0, true, Status::InvalidLength,
                                                  "RYCERT_InvalidLengthErr"}},
      {"optional element overruns", "020105 0102FF", {0, false, Status::InvalidLength,
                                                      "lTotalLength != 0"}},
      {"indefinite length", "0280", {0, false, Status::InvalidLength, "RyAsn1_Low_GetLengthInfo"}},
      {"multi-octet identifier", "1F0100", {0, false, Status::TagNotMatch,
                                            "RyAsn1_Low_GetTagInfo"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome got = read(hex(c.der));
    EXPECT_EQ(got.st, c.want.st);
    EXPECT_STREQ(got.failName, c.want.failName);
    if (c.want.st == Status::Ok) {
      EXPECT_EQ(got.version, c.want.version);
      EXPECT_EQ(got.flag, c.want.flag);
    }
  }
}
