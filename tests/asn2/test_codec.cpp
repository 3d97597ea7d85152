// Identifier and length octets, primitive and constructed values, record
// helpers (rows of asn2_util.h), and every reader on cut or long elements.
#include "asn2_util.h"

namespace {

using namespace asn2test;
using rytest::toHex;

template <uint32_t (*Fn)(const AnyBuf *, AnyBuf **)>
uint32_t rec(const std::string &in, std::string &out) {
  In v(in);
  AnyBuf *r = kUntouched;
  return shown(Fn(v, &r), r, out);
}

// Children read, then written again.
template <uint32_t (*Read)(const AnyBuf *, AnyBuf **), uint32_t (*Write)(const AnyBuf *, AnyBuf **)>
uint32_t rejoined(const std::string &in, std::string &out) {
  In v(in);
  AnyBuf *children = nullptr, *r = kUntouched;
  const uint32_t st = Read(v, &children);
  const rytest::Chain owner(children);
  return shown(st != RYCERT_OK ? st : Write(children, &r), r, out);
}

template <uint32_t (*Fn)(const AnyBuf *, uint32_t, AnyBuf **), uint32_t N>
uint32_t tagged(const std::string &in, std::string &out) {
  In v(in);
  AnyBuf *r = kUntouched;
  return shown(Fn(v, N, &r), r, out);
}

// The explicit and implicit readers: the result, " n", the id or number.
template <uint32_t (*Fn)(const AnyBuf *, AnyBuf **, uint32_t *)>
uint32_t untagged(const std::string &in, std::string &out) {
  In v(in);
  AnyBuf *r = kUntouched;
  uint32_t n = 99;
  const uint32_t st = shown(Fn(v, &r, &n), r, out);
  out += " n" + std::to_string(n);
  return st;
}

// WriteInteger; Low_IntToChar must give its content, Low_CharToInt the number.
uint32_t integer(const std::string &in, std::string &out) {
  const uint32_t value = uint32_t(std::stoul(in, nullptr, 0));
  AnyBuf *r = kUntouched;
  uint8_t *octets = nullptr;
  uint32_t *count = nullptr, *folded = nullptr;
  uint32_t st = RyAsn1_Low_IntToChar(value, &octets, &count);
  st = st != RYCERT_OK ? st : RyAsn1_Low_CharToInt(octets, *count, &folded);
  st = st != RYCERT_OK ? st : RyAsn1_WriteInteger(value, &r);
  if (st == RYCERT_OK) {
    EXPECT_EQ(*folded, value);
    EXPECT_EQ(toHex(octets, *count), toHex(r->data + 2, r->length - 2));
  }
  MOSK_Free(octets);
  MOSK_Free(count);
  MOSK_Free(folded);
  return shown(st, r, out);
}

uint32_t create(const AnyBuf *, AnyBuf **r) { return RyAsn1_Low_CreateAnyBuf(r); }
uint32_t null(const AnyBuf *, AnyBuf **r) { return RyAsn1_WriteNull(r); }
uint32_t boolean(const AnyBuf *v, AnyBuf **r) { return RyAsn1_WriteBoolean(v->data, r); }
uint32_t oidWrite(const AnyBuf *v, AnyBuf **r) {
  const OidBuf oid{22, *v};
  return RyAsn1_WriteObjectId(&oid, r);
}
uint32_t oidRead(const std::string &in, std::string &out) {
  In v(in);
  OidBuf *oid = nullptr;
  const uint32_t st = RyAsn1_ReadObjectId(v, &oid);
  out = oid == nullptr ? "-" : std::to_string(oid->id) + " " + describe(oid->oid);
  Hx_ClearAnybuf(oid == nullptr ? nullptr : &oid->oid);
  MOSK_Free(oid);
  return st;
}

// A caller's record of tag 30 filled in place: "-" while its links are not
// written, " linked" when it has the input's. Its block is then released.
template <uint32_t (*Fn)(AnyBuf *, const AnyBuf *)>
uint32_t filled(const std::string &in, std::string &out) {
  In v(in);
  v.buf.next = v.buf.prev = &v.buf;
  AnyBuf dst{nullptr, 0, 9, 9, 30, kUntouched, kUntouched};
  const uint32_t st = Fn(&dst, v);
  out = dst.next == kUntouched || dst.prev == kUntouched ? "-" : describe(dst);
  out += dst.next == &v.buf && dst.prev == &v.buf ? " linked" : "";
  MOSK_Free(out == "-" ? nullptr : dst.data);
  return st;
}
uint32_t integerArray(AnyBuf *dst, const AnyBuf *in) { return RyAsn1_ReadIntegerArray(in, dst); }
uint32_t setValue(AnyBuf *dst, const AnyBuf *in) {
  return Hx_SetAttributeCharValue(dst, in->data, in->length);
}
uint32_t copyAlgorithm(AnyBuf *dst, const AnyBuf *in) {
  OidBuf to{7, *dst};
  const OidBuf from{201, *in};
  const uint32_t st = Hx_CopyAlgorithm(&to, &from);
  *dst = to.oid;
  EXPECT_EQ(to.id, st == RYCERT_OK ? 201u : 7u);
  return st;
}

// GetCertLength's total, then GetLengthInfo's "length/octets".
uint32_t measure(const std::string &in, std::string &out) {
  In v(in);
  uint32_t total = 0, len = 0, size = 0;
  const uint32_t st = RyAsn1_GetCertLength(v.buf.data, &total);
  out = st == RYCERT_OK ? std::to_string(total) : "-";
  const bool info = RyAsn1_GetLengthInfo(v.buf.data, &len, &size) == RYCERT_OK;
  out += info ? " " + std::to_string(len) + "/" + std::to_string(size) : "";
  return st;
}
// The low header readers from octet Skip: "value/size+cursor advance".
template <uint32_t (*Fn)(uint8_t **, uint32_t **, uint32_t **), size_t Skip>
uint32_t low(const std::string &in, std::string &out) {
  In v(in);
  uint8_t *at = v.buf.data + Skip;
  uint32_t *a = nullptr, *b = nullptr;
  const uint32_t st = Fn(&at, &a, &b);
  out = a == nullptr ? "-" : std::to_string(*a) + "/" + std::to_string(*b) + "+";
  out += a == nullptr ? "" : std::to_string(at - v.buf.data - Skip);
  MOSK_Free(a);
  MOSK_Free(b);
  return st;
}
uint32_t lowRead(const std::string &in, std::string &out) {
  In v(in);
  uint8_t *at = v.buf.data, *content = nullptr;
  AnyBuf *r = kUntouched;
  const uint32_t st = RyAsn1_Low_ReadTagAndLength(v, &at, &r, &content);
  if (st == RYCERT_OK && r->length != 0) {
    EXPECT_EQ(content, r->data);
    EXPECT_EQ(at + r->length, v.buf.data + v.buf.length) << "the content ends the element";
    std::memcpy(content, at, r->length);
  }
  return shown(st, r, out);
}

constexpr auto kLowLength = low<RyAsn1_Low_GetLengthInfo, 1>;
constexpr auto kOctets = rec<RyAsn1_ReadOctetString>;

const Row kHeaders[] = {
    {"two length octets", measure, "3082010A", 0, "270 266/3"},
    {"a total beyond 32 bits", measure, "0484FFFFFFFA", 101, "- 4294967290/5"},
    {"indefinite length", measure, "3080", 101, "-"},
    {"five length octets", kOctets, "0485000000000100", 101, "-"},
    {"long form for a short length", kOctets, "0481050102030405", 101, "-"},
    {"leading zero length octet", measure, "048200FF", 101, "-"},
    {"multi-octet identifier", kOctets, "1F0100", 106, "-"},
    {"record longer than its element", lowRead, "0401AB00", 102, "-", "------>Length not Equal"},
    {"low reader drops a sign-only 0x00", lowRead, "02020080", 0, "2:80"},
    {"low tag: context class keeps the octet", low<RyAsn1_Low_GetTagInfo, 0>, "A303", 0, "163/1+1"},
    {"low tag: multi-octet identifier", low<RyAsn1_Low_GetTagInfo, 0>, "1F01", 106, "-"},
    {"low length: four octets", kLowLength, "048401000000", 0, "16777216/5+5"},
    {"low length: indefinite", kLowLength, "3080", 101, "-", "------>RyAsn1_Low_GetLengthInfo"},
    {"low length: five octets", kLowLength, "3085", 101, "-"},
    {"low length: long form for a short length", kLowLength, "308105", 101, "-"},
    {"low length: leading zero octet", kLowLength, "308200FF", 101, "-"},
    {"low record maker", rec<create>, "", 0, "0:"},
};
TEST(Codec, IdentifierAndLengthOctets) { expectRows(kHeaders); }

// Each boundary length written in the fewest octets and read back.
TEST(Codec, LengthBoundariesWrittenAndReadBack) {
  for (const std::string header : {"047F", "048180", "0481FF", "04820100", "0482FFFF", "0483010000",
                                   "0483FFFFFF", "048401000000"}) {
    SCOPED_TRACE(header);
    const size_t size = std::stoul(header.substr(header.size() == 4 ? 2 : 4), nullptr, 16);
    In value(std::string(2 * size, '5'));
    AnyBuf *raw = nullptr;
    uint8_t *at = nullptr;
    ASSERT_EQ(RyAsn1_Low_WriteTagAndLength(value, 0x04, &raw, &at), RYCERT_OK);
    rytest::Chain enc(raw);
    EXPECT_EQ(toHex(enc->data, at - enc->data), header);
    std::memcpy(at, value.buf.data, size);
    ASSERT_EQ(RyAsn1_ReadOctetString(enc.get(), &raw), RYCERT_OK);
    rytest::Chain back(raw);
    EXPECT_TRUE(rytest::bytesOf(back.get()) == Bytes(size, 0x55));
  }
}

constexpr auto kReadInteger = number<uint32_t, RyAsn1_ReadInteger>;
constexpr auto kReadBoolean = number<uint8_t, RyAsn1_ReadBoolean>;
constexpr auto kIntegerArray = filled<integerArray>;

const Row kPrimitives[] = {
    {"magnitude with bit 7 set gets 0x00", rec<RyAsn1_WriteIntegerArray>, "80", 0, "2:02020080"},
    {"magnitude with bit 7 clear", rec<RyAsn1_WriteIntegerArray>, "7F", 0, "2:02017F"},
    {"sign-only 0x00 dropped", kIntegerArray, "02020080", 0, "2:80"},
    {"needed 0x00 kept", kIntegerArray, "0202007F", 0, "2:007F"},
    {"one 0x00 dropped at most", kIntegerArray, "0203000080", 0, "2:000080"},
    {"INTEGER 0", integer, "0", 0, "2:020100"},
    {"INTEGER 127", integer, "127", 0, "2:02017F"},
    {"INTEGER 128 needs 0x00", integer, "128", 0, "2:02020080"},
    {"INTEGER 256", integer, "256", 0, "2:02020100"},
    {"INTEGER 0xFFFFFFFF", integer, "0xFFFFFFFF", 0, "2:020500FFFFFFFF"},
    {"number: last four octets count", kReadInteger, "02050102030405", 0, "33752069"},
    {"number: empty content", kReadInteger, "0200", 101, "-"},
    {"BOOLEAN byte as given", rec<boolean>, "01", 0, "1:010101"},
    {"BOOLEAN read", kReadBoolean, "0101FF", 0, "255"},
    {"BOOLEAN of two octets", kReadBoolean, "0102FFFF", 101, "-"},
    {"NULL", rec<null>, "", 0, "5:0500"},
    {"OID written", rec<oidWrite>, "550403", 0, "6:0603550403"},
    {"OID read, id 0", oidRead, "0603550403", 0, "0 6:550403"},
    {"empty OID", oidRead, "0600", 101, "-"},
    {"BIT STRING count octet from unusedBits", rec<RyAsn1_WriteBitString>, "A8", 0, "3:030203A8/3"},
    {"unusedBits from the record", rec<RyAsn1_ReadBitString>, "03020780", 0, "3:80/3"},
    {"no count octet", rec<RyAsn1_ReadBitString>, "0300", 101, "-",
     "------>RyAsn1_Low_ReadTagAndLength"},
    {"OCTET STRING", rec<RyAsn1_WriteOctetString>, "ABCD", 0, "4:0402ABCD"},
    {"ENUMERATED", rec<RyAsn1_WriteEnumerated>, "01", 0, "10:0A0101"},
    {"PrintableString", rec<RyAsn1_WriteCharString>, "4142", 0, "19:13024142"},
    {"IA5String", rec<RyAsn1_WriteIa5String>, "614062", 0, "22:1603614062"},
    {"BMPString", rec<RyAsn1_WriteBmpString>, "0041", 0, "30:1E020041"},
    {"value tag 30 selects BMPString", rec<RyAsn1_WritePrintableString>, "1E41", 0, "30:1E021E41"},
    {"other tags: PrintableString", rec<RyAsn1_WritePrintableString>, "4142", 0, "19:13024142"},
    {"any string type is read", rec<RyAsn1_ReadPrintableString>, "0C02C3A9", 0, "12:C3A9"},
};
TEST(Codec, PrimitiveValues) { expectRows(kPrimitives); }

constexpr auto kReadSeq = rec<RyAsn1_ReadSequence>;
constexpr auto kSeqAgain = rejoined<RyAsn1_ReadSequence, RyAsn1_WriteSequence>;
constexpr auto kSetAgain = rejoined<RyAsn1_ReadSet, RyAsn1_WriteSet>;
constexpr auto kReadExplicit = untagged<RyAsn1_ReadExplicit>;
constexpr auto kReadImplicit = untagged<RyAsn1_ReadImplicit>;

const Row kConstructed[] = {
    {"SEQUENCE of the list in order", kSeqAgain, "3006 020105 0101FF", 0, "16:30060201050101FF"},
    {"SET keeps list order", kSetAgain, "3106 0101FF 020105", 0, "17:31060101FF020105"},
    {"empty SEQUENCE", kSeqAgain, "3000", 0, "16:3000"},
    {"children linked both ways", kReadSeq, "3006 020105 0101FF", 0, "2:020105 1:0101FF"},
    {"empty SEQUENCE gives no list", kReadSeq, "3000", 0, "null"},
    {"nested, context kept", kReadSeq, "3009 3103020105 A3020500", 0, "17:3103020105 163:A3020500"},
    {"SET is not a SEQUENCE", kReadSeq, "3100", 106, "-", "------>TAG != RY_DER_ID_SEQUENCE"},
    {"SEQUENCE is not a SET", rec<RyAsn1_ReadSet>, "3000", 106, "-"},
    {"record longer than its element", kReadSeq, "3003 020105 00", 102, "-"},
    {"child overruns: no list", kReadSeq, "3005 020105 0205", 101, "-", "------>lTotalLength != 0"},
    {"child with indefinite length", kReadSeq, "3004 3080 0000", 101, "-"},
    {"[3] EXPLICIT", tagged<RyAsn1_WriteExplicit, 3>, "3000", 0, "163:A3023000"},
    {"[31] EXPLICIT refused", tagged<RyAsn1_WriteExplicit, 31>, "0500", 106, "-"},
    {"EXPLICIT read", kReadExplicit, "A2053003020105", 0, "162:3003020105 n162"},
    {"EXPLICIT around two elements", kReadExplicit, "A005 020105 0500", 101, "- n99"},
    {"IMPLICIT primitive", tagged<RyAsn1_WriteImplicit, 0>, "0402ABCD", 0, "128:8002ABCD"},
    {"IMPLICIT SET", tagged<RyAsn1_WriteImplicit, 30>, "3103020105", 0, "190:BE03020105"},
    {"IMPLICIT read: primitive value", kReadImplicit, "8002ABCD", 0, "128:ABCD n0"},
    {"IMPLICIT read: children", kReadImplicit, "A4060201050101FF", 0, "2:020105 1:0101FF n4"},
    {"IMPLICIT read: empty constructed", kReadImplicit, "A200", 0, "null n2"},
    {"IMPLICIT read: child overruns", kReadImplicit, "A003020501", 101, "- n99"},
};
TEST(Codec, ConstructedValues) { expectRows(kConstructed); }

const Row kHelpers[] = {
    {"copy: fields, data of its own", filled<Hx_CopyAnybuf>, "0402ABCD", 0, "4:0402ABCD/3 linked"},
    {"copy of an empty record", filled<Hx_CopyAnybuf>, "", 0, "0:/3 linked"},
    {"set: bytes copied, tag kept, rest reset", filled<setValue>, "00410042", 0, "30:00410042 r0"},
    {"copy algorithm: id and OID", filled<copyAlgorithm>, "550403", 0, "21:550403/3 linked"},
};

// Clear releases the data and every record after it and zeroes the head;
// Free releases a whole chain.
TEST(Codec, RecordHelpers) {
  expectRows(kHelpers);
  const int64_t live = rytest::liveBlocks();
  AnyBuf head{}, *chain = nullptr;
  ASSERT_EQ(Hx_SetAttributeCharValue(&head, hex("0102").data(), 2), RYCERT_OK);
  ASSERT_EQ(RyAsn1_WriteNull(&head.next), RYCERT_OK);
  ASSERT_EQ(RyAsn1_WriteNull(&chain), RYCERT_OK);
  ASSERT_EQ(RyAsn1_WriteNull(&chain->next), RYCERT_OK);
  Hx_ClearAnybuf(&head);
  Hx_FreeAnybuf(chain);
  EXPECT_EQ(rytest::liveBlocks(), live);
  const AnyBuf zero{};
  EXPECT_EQ(std::memcmp(&head, &zero, sizeof head), 0);
}

TEST(Codec, OnlyWholeElementsRead) {
  expectOnlyWhole("SEQUENCE", kReadSeq, "3008 020105 3003 0101FF");
  expectOnlyWhole("SET", rec<RyAsn1_ReadSet>, "3106 0101FF 020105");
  expectOnlyWhole("EXPLICIT", kReadExplicit, "A1053003020105");
  expectOnlyWhole("IMPLICIT", kReadImplicit, "A205 020105 0500");
  expectOnlyWhole("OCTET STRING, long form", kOctets, "048180" + std::string(256, '3'));
  expectOnlyWhole("BIT STRING", rec<RyAsn1_ReadBitString>, "030203A8");
  expectOnlyWhole("INTEGER array", kIntegerArray, "02020080");
  expectOnlyWhole("INTEGER number", kReadInteger, "02050102030405");
  expectOnlyWhole("BOOLEAN", kReadBoolean, "0101FF");
  expectOnlyWhole("OBJECT IDENTIFIER", oidRead, "0603550403");
  expectOnlyWhole("low tag and length reader", lowRead, "0402ABCD");
}

}  // namespace
