// Identifier and length octets: the fewest-octet length forms at every
// boundary, the header readers (bounded and unbounded), and the record-size
// check of the tag/length reader.
#include "asn2_util.h"

namespace {

using asn2test::ValueRec;
using rytest::Bytes;
using rytest::Chain;
using rytest::ExactBlock;
using rytest::hex;
using rytest::LogCapture;
using rytest::Rec;

struct LengthForm {
  const char *name;
  uint32_t contentLen;
  const char *header;
};

const LengthForm kLengthForms[] = {
    {"empty content", 0, "0400"},
    {"127: largest short form", 127, "047F"},
    {"128: first long form", 128, "048180"},
    {"255: largest one-octet long form", 255, "0481FF"},
    {"256: two octets", 256, "04820100"},
    {"65535: largest two-octet form", 65535, "0482FFFF"},
    {"65536: three octets", 65536, "0483010000"},
    {"0xFFFFFF: largest three-octet form", 0xFFFFFF, "0483FFFFFF"},
    {"0x1000000: four octets", 0x1000000, "048401000000"},
};

TEST(LengthOctets, FewestOctetsWrittenAndReadBack) {
  for (const auto &c : kLengthForms) {
    SCOPED_TRACE(c.name);
    const Bytes header = hex(c.header);
    Bytes content(c.contentLen);
    for (size_t i = 0; i < content.size(); ++i) {
      content[i] = uint8_t(i * 7 + 1);
    }
    ValueRec value(content);
    AnyBuf *raw = nullptr;
    uint8_t *pos = nullptr;
    ASSERT_EQ(RyAsn1_Low_WriteTagAndLength(value.get(), 0x04, &raw, &pos), RYCERT_OK);
    Chain rec(raw);
    ASSERT_EQ(rec->length, header.size() + c.contentLen);
    EXPECT_EQ(pos - rec->data, ptrdiff_t(header.size()));
    EXPECT_EQ(Bytes(rec->data, rec->data + header.size()), header);
    if (!content.empty()) {
      std::memcpy(pos, content.data(), content.size());
    }

    uint32_t total = 0;
    ASSERT_EQ(RyAsn1_GetCertLength(rec->data, &total), RYCERT_OK);
    EXPECT_EQ(total, rec->length);
    AnyBuf *readRaw = nullptr;
    ASSERT_EQ(RyAsn1_ReadOctetString(rec.get(), &readRaw), RYCERT_OK);
    Chain read(readRaw);
    EXPECT_EQ(read->length, c.contentLen);
    EXPECT_TRUE(rytest::bytesOf(read.get()) == content);
  }
}

constexpr uint32_t kNoTag = 0xFFFFFFFF;  // identifier refused

struct HeaderCase {
  const char *name;
  const char *hex;  // exactly the header: the readers must stop there
  uint32_t tag;
  uint32_t status;
  uint32_t contentLen;
  uint32_t lengthOctets;
};

const HeaderCase kHeaders[] = {
    {"short form", "0201", 2, RYCERT_OK, 1, 1},
    {"largest short form", "047F", 4, RYCERT_OK, 127, 1},
    {"one long octet", "308180", 16, RYCERT_OK, 128, 2},
    {"certificate-sized SEQUENCE", "3082010A", 16, RYCERT_OK, 266, 3},
    {"three octets", "31830100FF", 17, RYCERT_OK, 0x100FF, 4},
    {"four octets", "048401000000", 4, RYCERT_OK, 0x1000000, 5},
    {"context tag keeps the whole octet", "A303", 163, RYCERT_OK, 3, 1},
    {"application class keeps the low bits", "6300", 3, RYCERT_OK, 0, 1},
    {"context primitive", "8000", 128, RYCERT_OK, 0, 1},
    {"indefinite form", "3080", 16, RYCERT_InvalidLengthErr, 0, 0},
    {"five length octets", "3085", 16, RYCERT_InvalidLengthErr, 0, 0},
    {"length octet 0xFF", "30FF", 16, RYCERT_InvalidLengthErr, 0, 0},
    {"long form for a short length", "308105", 16, RYCERT_InvalidLengthErr, 0, 0},
    {"leading zero length octet", "308200FF", 16, RYCERT_InvalidLengthErr, 0, 0},
    {"multi-octet identifier", "1F01", kNoTag, RYCERT_TagNotMatchErr, 0, 0},
    {"context multi-octet identifier", "BF01", kNoTag, RYCERT_TagNotMatchErr, 0, 0},
};

TEST(HeaderReaders, MeasureOrRefuse) {
  for (const auto &c : kHeaders) {
    SCOPED_TRACE(c.name);
    ExactBlock in(hex(c.hex));
    uint32_t total = 0xDEAD;
    EXPECT_EQ(RyAsn1_GetCertLength(in.data(), &total), c.status);
    EXPECT_EQ(total, c.status == RYCERT_OK ? 1 + c.lengthOctets + c.contentLen : 0xDEAD);

    uint32_t len = 0xDEAD, octets = 0xDEAD;
    EXPECT_EQ(RyAsn1_GetLengthInfo(in.data(), &len, &octets), c.status);
    EXPECT_EQ(len, c.status == RYCERT_OK ? c.contentLen : 0xDEAD);
    EXPECT_EQ(octets, c.status == RYCERT_OK ? c.lengthOctets : 0xDEAD);

    // The low readers, one field at a time with a moving cursor.
    uint8_t *cursor = in.data();
    uint32_t *tag = nullptr, *tagSize = nullptr;
    const uint32_t tagSt = RyAsn1_Low_GetTagInfo(&cursor, &tag, &tagSize);
    if (c.tag == kNoTag) {
      EXPECT_EQ(tagSt, RYCERT_TagNotMatchErr);
      EXPECT_EQ(cursor, in.data());
      continue;
    }
    ASSERT_EQ(tagSt, RYCERT_OK);
    EXPECT_EQ(*tag, c.tag);
    EXPECT_EQ(*tagSize, 1u);
    EXPECT_EQ(cursor, in.data() + 1);
    MOSK_Free(tag);
    MOSK_Free(tagSize);

    LogCapture log;
    uint32_t *length = nullptr, *lengthSize = nullptr;
    EXPECT_EQ(RyAsn1_Low_GetLengthInfo(&cursor, &length, &lengthSize), c.status);
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(cursor, in.data() + 1);
      EXPECT_EQ(length, nullptr);
      EXPECT_TRUE(log.contains("------>RyAsn1_Low_GetLengthInfo"));
      continue;
    }
    EXPECT_EQ(*length, c.contentLen);
    EXPECT_EQ(*lengthSize, c.lengthOctets);
    EXPECT_EQ(cursor, in.data() + 1 + c.lengthOctets);
    MOSK_Free(length);
    MOSK_Free(lengthSize);
  }
}

TEST(HeaderReaders, TotalBeyond32BitsIsRefused) {
  ExactBlock in(hex("0484FFFFFFFA"));
  uint32_t total = 0;
  EXPECT_EQ(RyAsn1_GetCertLength(in.data(), &total), RYCERT_InvalidLengthErr);
  ExactBlock fits(hex("0484FFFFFFF9"));
  EXPECT_EQ(RyAsn1_GetCertLength(fits.data(), &total), RYCERT_OK);
  EXPECT_EQ(total, 0xFFFFFFFFu);
}

struct ReadTlCase {
  const char *name;
  const char *hex;
  uint32_t recordUnusedBits;
  uint32_t status;
  const char *content;
  const char *log;
};

const ReadTlCase kReadTl[] = {
    {"content of an OCTET STRING", "0402ABCD", 0, RYCERT_OK, "ABCD", nullptr},
    {"sign octet dropped before a high bit", "02020080", 0, RYCERT_OK, "80", nullptr},
    {"zero kept before a clear high bit", "0202007F", 0, RYCERT_OK, "007F", nullptr},
    {"lone zero kept", "020100", 0, RYCERT_OK, "00", nullptr},
    {"zero in a context tag is content", "82020080", 0, RYCERT_OK, "0080", nullptr},
    {"unused-bits octet skipped, count from the record", "030203A8", 5, RYCERT_OK, "A8", nullptr},
    {"BIT STRING without its unused-bits octet", "0300", 0, RYCERT_InvalidLengthErr, "", nullptr},
    {"record one byte longer than its element", "0401AB00", 0, RYCERT_LengthNotEqualErr, "",
     "------>Length not Equal"},
    {"record shorter than its element", "0403ABCD", 0, RYCERT_LengthNotEqualErr, "",
     "------>Length not Equal"},
    {"header cut short", "04", 0, RYCERT_LengthNotEqualErr, "", nullptr},
    {"empty record", "", 0, RYCERT_LengthNotEqualErr, "", nullptr},
    {"indefinite length", "04800000", 0, RYCERT_InvalidLengthErr, "",
     "------>RyAsn1_Low_GetLengthInfo"},
    {"length octet 0x85", "0485000000000100", 0, RYCERT_InvalidLengthErr, "", nullptr},
    {"multi-octet identifier", "1F0100", 0, RYCERT_TagNotMatchErr, "", nullptr},
};

TEST(LowReadTagAndLength, LeavesCursorOnTheContent) {
  for (const auto &c : kReadTl) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.hex));
    rec->unusedBits = c.recordUnusedBits;
    LogCapture log;
    uint8_t *cursor = rec->data;
    AnyBuf *raw = nullptr;
    uint8_t *content = nullptr;
    ASSERT_EQ(RyAsn1_Low_ReadTagAndLength(rec.get(), &cursor, &raw, &content), c.status);
    if (c.log != nullptr) {
      EXPECT_TRUE(log.contains(c.log));
    }
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(raw, nullptr);
      EXPECT_EQ(cursor, rec->data);
      continue;
    }
    Chain out(raw);
    const Bytes want = hex(c.content);
    ASSERT_EQ(out->length, want.size());
    EXPECT_EQ(content, out->data);
    // The content runs from the cursor to the end of the element.
    EXPECT_EQ(cursor + out->length, rec->data + rec->length);
    std::memcpy(content, cursor, out->length);
    EXPECT_EQ(rytest::bytesOf(out.get()), want);
    EXPECT_EQ(out->unusedBits, c.recordUnusedBits);
    EXPECT_EQ(out->tag, uint32_t(rec->data[0] & 0x80 ? rec->data[0] : rec->data[0] & 0x1F));
  }
}

TEST(LowReadTagAndLength, CursorMustStartAtTheRecord) {
  Rec rec(hex("0402ABCD"));
  uint8_t *cursor = rec->data + 1;
  AnyBuf *out = nullptr;
  uint8_t *content = nullptr;
  EXPECT_EQ(RyAsn1_Low_ReadTagAndLength(rec.get(), &cursor, &out, &content),
            RYCERT_LengthNotEqualErr);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
