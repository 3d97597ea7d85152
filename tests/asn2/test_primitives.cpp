// Primitive values: the writer/reader family over the tag/length layer,
// INTEGER as a number and as a magnitude, BOOLEAN, NULL, OBJECT IDENTIFIER
// and the integer content converters.
#include "asn2_util.h"

namespace {

using asn2test::expectCodecRecord;
using asn2test::ValueRec;
using rytest::Bytes;
using rytest::Chain;
using rytest::hex;
using rytest::LogCapture;
using rytest::Rec;
using rytest::str;

using Writer = uint32_t (*)(const AnyBuf *, AnyBuf **);
using Reader = uint32_t (*)(const AnyBuf *, AnyBuf **);

struct WriteCase {
  const char *name;
  Writer write;
  Bytes value;
  uint32_t valueTag;
  uint32_t unusedBits;
  const char *encoded;
};

const WriteCase kWrites[] = {
    {"magnitude with high bit gets a sign octet", RyAsn1_WriteIntegerArray, hex("80"), 0, 0,
     "02020080"},
    {"magnitude without high bit", RyAsn1_WriteIntegerArray, hex("7F"), 0, 0, "02017F"},
    {"magnitude already carrying its sign octet", RyAsn1_WriteIntegerArray, hex("0080"), 0, 0,
     "02020080"},
    {"octets", RyAsn1_WriteOctetString, hex("ABCD"), 0, 0, "0402ABCD"},
    {"empty octets", RyAsn1_WriteOctetString, {}, 0, 0, "0400"},
    {"bits with unused count", RyAsn1_WriteBitString, hex("A8"), 0, 3, "030203A8"},
    {"empty BIT STRING keeps its count octet", RyAsn1_WriteBitString, {}, 0, 0, "030100"},
    {"enumerated content as given", RyAsn1_WriteEnumerated, hex("01"), 0, 0, "0A0101"},
    {"PrintableString", RyAsn1_WriteCharString, str("AB"), 0, 0, "13024142"},
    {"IA5String", RyAsn1_WriteIa5String, str("a@b"), 0, 0, "1603614062"},
    {"BMPString bytes as given", RyAsn1_WriteBmpString, hex("0041"), 0, 0, "1E020041"},
    {"value tag 30 selects BMPString", RyAsn1_WritePrintableString, hex("0041"), 30, 0, "1E020041"},
    {"value tag 19 selects PrintableString", RyAsn1_WritePrintableString, str("AB"), 19, 0,
     "13024142"},
    {"any other tag selects PrintableString", RyAsn1_WritePrintableString, str("AB"), 22, 0,
     "13024142"},
};

TEST(PrimitiveWriters, EncodeTheValueRecord) {
  for (const auto &c : kWrites) {
    SCOPED_TRACE(c.name);
    ValueRec value(c.value, c.valueTag, c.unusedBits);
    AnyBuf *raw = nullptr;
    ASSERT_EQ(c.write(value.get(), &raw), RYCERT_OK);
    Chain out(raw);
    const Bytes want = hex(c.encoded);
    EXPECT_EQ(rytest::toHex(rytest::bytesOf(out.get())), rytest::toHex(want));
    expectCodecRecord(out.get(), want[0]);
    EXPECT_EQ(out->unusedBits, c.unusedBits);
  }
}

struct ReadCase {
  const char *name;
  Reader read;
  const char *encoded;
  uint32_t recordUnusedBits;
  uint32_t status;
  const char *value;
  uint32_t tag;
  const char *log;
};

const ReadCase kReads[] = {
    {"octets", RyAsn1_ReadOctetString, "0402ABCD", 0, RYCERT_OK, "ABCD", 4, nullptr},
    {"empty octets", RyAsn1_ReadOctetString, "0400", 0, RYCERT_OK, "", 4, nullptr},
    {"readers do not check the type", RyAsn1_ReadOctetString, "020105", 0, RYCERT_OK, "05", 2,
     nullptr},
    {"child-list BIT STRING reads unusedBits 0", RyAsn1_ReadBitString, "03020780", 0, RYCERT_OK,
     "80", 3, nullptr},
    {"written BIT STRING gives its unusedBits back", RyAsn1_ReadBitString, "030203A8", 3, RYCERT_OK,
     "A8", 3, nullptr},
    {"enumerated", RyAsn1_ReadEnumerated, "0A0102", 0, RYCERT_OK, "02", 10, nullptr},
    {"PrintableString", RyAsn1_ReadCharString, "13024142", 0, RYCERT_OK, "4142", 19, nullptr},
    {"IA5String", RyAsn1_ReadIa5String, "160141", 0, RYCERT_OK, "41", 22, nullptr},
    {"BMPString", RyAsn1_ReadBmpString, "1E020041", 0, RYCERT_OK, "0041", 30, nullptr},
    {"any string type: IA5String", RyAsn1_ReadPrintableString, "16024142", 0, RYCERT_OK, "4142", 22,
     nullptr},
    {"any string type: UTF8String", RyAsn1_ReadPrintableString, "0C02C3A9", 0, RYCERT_OK, "C3A9",
     12, nullptr},
    {"record longer than its element", RyAsn1_ReadOctetString, "0401AB00", 0,
     RYCERT_LengthNotEqualErr, "", 0, "------>RyAsn1_Low_ReadTagAndLength"},
    {"indefinite length", RyAsn1_ReadCharString, "13800000", 0, RYCERT_InvalidLengthErr, "", 0,
     "------>RyAsn1_Low_ReadTagAndLength"},
    {"BIT STRING without count octet", RyAsn1_ReadBitString, "0300", 0, RYCERT_InvalidLengthErr, "",
     0, "------>RyAsn1_Low_ReadTagAndLength"},
};

TEST(PrimitiveReaders, GiveTheContent) {
  for (const auto &c : kReads) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    rec->unusedBits = c.recordUnusedBits;
    LogCapture log;
    AnyBuf *raw = reinterpret_cast<AnyBuf *>(&log);  // sentinel: untouched on failure
    ASSERT_EQ(c.read(rec.get(), &raw), c.status);
    if (c.log != nullptr) {
      EXPECT_TRUE(log.contains(c.log));
    }
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(raw, reinterpret_cast<AnyBuf *>(&log));
      continue;
    }
    Chain out(raw);
    EXPECT_EQ(rytest::toHex(rytest::bytesOf(out.get())), c.value);
    EXPECT_EQ(out->length, hex(c.value).size());
    expectCodecRecord(out.get(), c.tag);
    EXPECT_EQ(out->unusedBits, c.recordUnusedBits);
  }
}

struct IntegerArrayCase {
  const char *name;
  const char *encoded;
  uint32_t status;
  const char *magnitude;
};

const IntegerArrayCase kIntegerArrays[] = {
    {"sign octet before a high bit dropped", "02020080", RYCERT_OK, "80"},
    {"zero before a clear high bit kept", "0202007F", RYCERT_OK, "007F"},
    {"only one zero dropped at most", "0203000080", RYCERT_OK, "000080"},
    {"lone zero", "020100", RYCERT_OK, "00"},
    {"long magnitude", "020900FFEEDDCCBBAA9988", RYCERT_OK, "FFEEDDCCBBAA9988"},
    {"record shorter than its element", "0203AABB", RYCERT_LengthNotEqualErr, ""},
};

TEST(ReadIntegerArray, FillsTheCallersRecord) {
  for (const auto &c : kIntegerArrays) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    AnyBuf out;
    std::memset(&out, 0xA5, sizeof out);
    const AnyBuf before = out;
    ASSERT_EQ(RyAsn1_ReadIntegerArray(rec.get(), &out), c.status);
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << "record changed on failure";
      continue;
    }
    EXPECT_EQ(rytest::toHex(rytest::bytesOf(&out)), c.magnitude);
    EXPECT_EQ(out.tag, 2u);
    EXPECT_EQ(out.reserved, 2);
    EXPECT_EQ(out.next, nullptr);
    EXPECT_EQ(out.prev, nullptr);
    Hx_ClearAnybuf(&out);
  }
}

struct NumberCase {
  const char *name;
  uint32_t value;
  const char *content;  // INTEGER content octets
};

const NumberCase kNumbers[] = {
    {"zero", 0, "00"},
    {"127", 127, "7F"},
    {"128 needs a sign octet", 128, "0080"},
    {"255", 255, "00FF"},
    {"256", 256, "0100"},
    {"65535", 65535, "00FFFF"},
    {"0x7FFFFF", 0x7FFFFF, "7FFFFF"},
    {"0x800000", 0x800000, "00800000"},
    {"0x7FFFFFFF", 0x7FFFFFFF, "7FFFFFFF"},
    {"0x80000000 takes five octets", 0x80000000u, "0080000000"},
    {"0xFFFFFFFF", 0xFFFFFFFFu, "00FFFFFFFF"},
};

TEST(IntegerNumber, ShortestNonNegativeFormBothWays) {
  for (const auto &c : kNumbers) {
    SCOPED_TRACE(c.name);
    const Bytes content = hex(c.content);
    Bytes encoded{0x02, uint8_t(content.size())};
    encoded.insert(encoded.end(), content.begin(), content.end());

    AnyBuf *raw = nullptr;
    ASSERT_EQ(RyAsn1_WriteInteger(c.value, &raw), RYCERT_OK);
    Chain out(raw);
    EXPECT_EQ(rytest::bytesOf(out.get()), encoded);
    expectCodecRecord(out.get(), 2);

    uint32_t back = 0;
    ASSERT_EQ(RyAsn1_ReadInteger(out.get(), &back), RYCERT_OK);
    EXPECT_EQ(back, c.value);

    uint8_t *octets = nullptr;
    uint32_t *count = nullptr;
    ASSERT_EQ(RyAsn1_Low_IntToChar(c.value, &octets, &count), RYCERT_OK);
    EXPECT_EQ(Bytes(octets, octets + *count), content);
    MOSK_Free(octets);
    MOSK_Free(count);

    uint32_t *folded = nullptr;
    ASSERT_EQ(RyAsn1_Low_CharToInt(content.data(), uint32_t(content.size()), &folded), RYCERT_OK);
    EXPECT_EQ(*folded, c.value);
    MOSK_Free(folded);
  }
}

struct ReadIntegerCase {
  const char *name;
  const char *encoded;
  uint32_t status;
  uint32_t value;
};

const ReadIntegerCase kReadIntegers[] = {
    {"sign octet dropped", "02020080", RYCERT_OK, 128},
    {"no sign extension", "0201FF", RYCERT_OK, 255},
    {"only the last four octets count", "02050102030405", RYCERT_OK, 0x02030405},
    {"non-minimal zero padding folds away", "0203000005", RYCERT_OK, 5},
    {"empty content", "0200", RYCERT_InvalidLengthErr, 0},
    {"record longer than its element", "02010500", RYCERT_LengthNotEqualErr, 0},
    {"indefinite length", "0280050000", RYCERT_InvalidLengthErr, 0},
};

TEST(IntegerNumber, ReadFoldsOrRefuses) {
  for (const auto &c : kReadIntegers) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    uint32_t v = 0xDEADBEEF;
    EXPECT_EQ(RyAsn1_ReadInteger(rec.get(), &v), c.status);
    EXPECT_EQ(v, c.status == RYCERT_OK ? c.value : 0xDEADBEEF);
  }
}

struct BooleanCase {
  const char *name;
  const char *encoded;
  uint32_t status;
  uint8_t value;
};

const BooleanCase kBooleans[] = {
    {"TRUE", "0101FF", RYCERT_OK, 0xFF},
    {"FALSE", "010100", RYCERT_OK, 0x00},
    {"non-canonical true byte kept", "010101", RYCERT_OK, 0x01},
    {"empty content", "0100", RYCERT_InvalidLengthErr, 0},
    {"two content octets", "0102FFFF", RYCERT_InvalidLengthErr, 0},
    {"record longer than its element", "0101FF00", RYCERT_LengthNotEqualErr, 0},
};

TEST(Boolean, ReadTheOneContentOctet) {
  for (const auto &c : kBooleans) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    uint8_t v = 0x5A;
    EXPECT_EQ(RyAsn1_ReadBoolean(rec.get(), &v), c.status);
    EXPECT_EQ(v, c.status == RYCERT_OK ? c.value : 0x5A);
  }
}

TEST(Boolean, WrittenByteAsGiven) {
  for (uint8_t b : {0x00, 0x01, 0xFF}) {
    SCOPED_TRACE(int(b));
    AnyBuf *raw = nullptr;
    ASSERT_EQ(RyAsn1_WriteBoolean(&b, &raw), RYCERT_OK);
    Chain out(raw);
    EXPECT_EQ(rytest::bytesOf(out.get()), (Bytes{0x01, 0x01, b}));
    expectCodecRecord(out.get(), 1);
  }
}

TEST(ObjectId, ContentOctetsBothWays) {
  OidBuf cn{};
  const Bytes oid = hex("550403");  // 2.5.4.3 commonName
  ValueRec v(oid);
  cn.oid = *v.get();
  cn.id = 22;
  AnyBuf *raw = nullptr;
  ASSERT_EQ(RyAsn1_WriteObjectId(&cn, &raw), RYCERT_OK);
  Chain enc(raw);
  EXPECT_EQ(rytest::bytesOf(enc.get()), hex("0603550403"));
  expectCodecRecord(enc.get(), 6);

  OidBuf *read = nullptr;
  ASSERT_EQ(RyAsn1_ReadObjectId(enc.get(), &read), RYCERT_OK);
  EXPECT_EQ(read->id, 0u);
  EXPECT_EQ(rytest::bytesOf(&read->oid), oid);
  EXPECT_EQ(read->oid.tag, 6u);
  Hx_ClearAnybuf(&read->oid);
  MOSK_Free(read);
}

TEST(ObjectId, RefusesEmptyOrMismeasured) {
  for (const char *bad : {"0600", "0602550403", "060355040300"}) {
    SCOPED_TRACE(bad);
    Rec rec(hex(bad));
    OidBuf *read = reinterpret_cast<OidBuf *>(&rec);
    EXPECT_NE(RyAsn1_ReadObjectId(rec.get(), &read), RYCERT_OK);
    EXPECT_EQ(read, reinterpret_cast<OidBuf *>(&rec));
  }
}

}  // namespace
