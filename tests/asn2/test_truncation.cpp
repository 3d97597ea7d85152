// Every reader against every prefix of a valid element and the element with
// one byte too many, each in an exact-size heap block: only the element
// itself is accepted, nothing is read past the block, nothing leaks.
#include "asn2_util.h"

namespace {

using rytest::Bytes;
using rytest::hex;
using rytest::Rec;

// Runs one reader on an encoded record and releases whatever it returned.
using Reader = uint32_t (*)(AnyBuf *);

template <uint32_t (*Fn)(const AnyBuf *, AnyBuf **)>
uint32_t readRecord(AnyBuf *in) {
  return asn2test::runAndRelease<Fn>(in);
}

uint32_t readExplicit(AnyBuf *in) {
  AnyBuf *out = nullptr;
  uint32_t id = 0;
  const uint32_t st = RyAsn1_ReadExplicit(in, &out, &id);
  Hx_FreeAnybuf(out);
  return st;
}

uint32_t readImplicit(AnyBuf *in) {
  AnyBuf *out = nullptr;
  uint32_t n = 0;
  const uint32_t st = RyAsn1_ReadImplicit(in, &out, &n);
  Hx_FreeAnybuf(out);
  return st;
}

uint32_t readIntegerArray(AnyBuf *in) {
  AnyBuf out{};
  const uint32_t st = RyAsn1_ReadIntegerArray(in, &out);
  Hx_ClearAnybuf(&out);
  return st;
}

uint32_t readInteger(AnyBuf *in) {
  uint32_t v = 0;
  return RyAsn1_ReadInteger(in, &v);
}

uint32_t readBoolean(AnyBuf *in) {
  uint8_t v = 0;
  return RyAsn1_ReadBoolean(in, &v);
}

uint32_t readObjectId(AnyBuf *in) {
  OidBuf *oid = nullptr;
  const uint32_t st = RyAsn1_ReadObjectId(in, &oid);
  if (oid != nullptr) {
    Hx_ClearAnybuf(&oid->oid);
    MOSK_Free(oid);
  }
  return st;
}

template <uint32_t (*Fn)(const AnyBuf *, uint32_t *)>
uint32_t readTime(AnyBuf *in) {
  uint32_t t = 0;
  return Fn(in, &t);
}

uint32_t lowReadTagAndLength(AnyBuf *in) {
  uint8_t *cursor = in->data;
  AnyBuf *out = nullptr;
  uint8_t *content = nullptr;
  const uint32_t st = RyAsn1_Low_ReadTagAndLength(in, &cursor, &out, &content);
  if (st == RYCERT_OK && out->length != 0) {
    std::memcpy(content, cursor, out->length);
  }
  Hx_FreeAnybuf(out);
  return st;
}

struct ReaderCase {
  const char *name;
  Reader read;
  Bytes valid;
};

Bytes longOctets() {
  Bytes b = hex("048180");
  b.resize(3 + 128, 0x33);
  return b;
}

const ReaderCase kReaders[] = {
    {"SEQUENCE", readRecord<RyAsn1_ReadSequence>, hex("3008 020105 3003 0101FF")},
    {"SET", readRecord<RyAsn1_ReadSet>, hex("3106 0101FF 020105")},
    {"explicit", readExplicit, hex("A1053003020105")},
    {"implicit primitive", readImplicit, hex("8002ABCD")},
    {"implicit constructed", readImplicit, hex("A205 020105 0500")},
    {"OCTET STRING", readRecord<RyAsn1_ReadOctetString>, hex("0402ABCD")},
    {"OCTET STRING, long form", readRecord<RyAsn1_ReadOctetString>, longOctets()},
    {"BIT STRING", readRecord<RyAsn1_ReadBitString>, hex("030203A8")},
    {"ENUMERATED", readRecord<RyAsn1_ReadEnumerated>, hex("0A0101")},
    {"PrintableString", readRecord<RyAsn1_ReadCharString>, hex("13024142")},
    {"IA5String", readRecord<RyAsn1_ReadIa5String>, hex("1603616263")},
    {"BMPString", readRecord<RyAsn1_ReadBmpString>, hex("1E020041")},
    {"any string", readRecord<RyAsn1_ReadPrintableString>, hex("0C02C3A9")},
    {"INTEGER magnitude", readIntegerArray, hex("02020080")},
    {"INTEGER number", readInteger, hex("02050102030405")},
    {"BOOLEAN", readBoolean, hex("0101FF")},
    {"OBJECT IDENTIFIER", readObjectId, hex("0603550403")},
    {"UTCTime", readTime<RyAsn1_ReadUtcTime>, asn2test::element(0x17, "240229120000Z")},
    {"GeneralizedTime", readTime<RyAsn1_ReadGeneralizedTime>,
     asn2test::element(0x18, "20240229120000Z")},
    {"low time reader", readTime<RyAsn1_Low_ReadLongTime>,
     asn2test::element(0x17, "240229120000Z")},
    {"low tag and length reader", lowReadTagAndLength, hex("0402ABCD")},
};

TEST(Truncation, OnlyTheWholeElementIsAccepted) {
  for (const auto &c : kReaders) {
    SCOPED_TRACE(c.name);
    const int64_t live = rytest::liveBlocks();
    {
      Rec whole(c.valid);
      EXPECT_EQ(c.read(whole.get()), RYCERT_OK);
    }
    for (size_t n = 0; n < c.valid.size(); ++n) {
      Rec prefix(Bytes(c.valid.begin(), c.valid.begin() + n));
      EXPECT_NE(c.read(prefix.get()), RYCERT_OK) << "prefix of " << n << " bytes";
    }
    Bytes longer = c.valid;
    longer.push_back(0x00);
    Rec trailing(longer);
    EXPECT_NE(c.read(trailing.get()), RYCERT_OK) << "one trailing byte";
    EXPECT_EQ(rytest::liveBlocks(), live + 1) << "blocks left live";  // `trailing` itself
  }
}

}  // namespace
