// Allocation failures in every allocating operation of the codec and the
// record helpers: each run gives RYCERT_MemoryErr (or succeeds when the
// fault came after the last allocation) and leaves no block live.
#include <functional>

#include "asn2_util.h"

namespace {

using asn2test::ValueRec;
using rytest::Bytes;
using rytest::hex;
using rytest::Rec;

// Inputs are built once, outside the sweeps, so that only the operation
// under test meets the faults.
struct Inputs {
  Rec sequence{hex("300A 020105 31030101FF 0500")};
  Rec set{hex("3106 0101FF 020105")};
  Rec octets{hex("0402ABCD")};
  Rec bits{hex("030203A8")};
  Rec integer{hex("02020080")};
  Rec oid{hex("0603550403")};
  Rec explicitTag{hex("A003020105")};
  Rec implicitPrim{hex("8002ABCD")};
  Rec implicitCons{hex("A1060201050101FF")};
  ValueRec value{hex("80ABCD")};
  Bytes text = rytest::str("20240229120000Z");
  OidBuf algorithm{};
  Inputs() {
    algorithm.id = 201;
    algorithm.oid = *value.get();
  }
};

using asn2test::runAndRelease;

// Releases two blocks handed out by a low-level operation.
uint32_t release(uint32_t st, void *a, void *b = nullptr) {
  MOSK_Free(a);
  MOSK_Free(b);
  return st;
}

struct Scenario {
  const char *name;
  std::function<uint32_t(Inputs &)> run;
};

const Scenario kScenarios[] = {
    {"WriteIntegerArray",
     [](Inputs &in) { return runAndRelease<RyAsn1_WriteIntegerArray>(in.value.get()); }},
    {"WriteBitString",
     [](Inputs &in) { return runAndRelease<RyAsn1_WriteBitString>(in.value.get()); }},
    {"WritePrintableString",
     [](Inputs &in) { return runAndRelease<RyAsn1_WritePrintableString>(in.value.get()); }},
    {"ReadBitString",
     [](Inputs &in) { return runAndRelease<RyAsn1_ReadBitString>(in.bits.get()); }},
    {"ReadOctetString",
     [](Inputs &in) { return runAndRelease<RyAsn1_ReadOctetString>(in.octets.get()); }},
    {"WriteSequence",
     [](Inputs &in) { return runAndRelease<RyAsn1_WriteSequence>(in.octets.get()); }},
    {"WriteSet", [](Inputs &in) { return runAndRelease<RyAsn1_WriteSet>(in.octets.get()); }},
    {"ReadSequence of three children",
     [](Inputs &in) { return runAndRelease<RyAsn1_ReadSequence>(in.sequence.get()); }},
    {"ReadSet of two children",
     [](Inputs &in) { return runAndRelease<RyAsn1_ReadSet>(in.set.get()); }},
    {"WriteObjectId",
     [](Inputs &in) {
       AnyBuf *o = nullptr;
       const uint32_t st = RyAsn1_WriteObjectId(&in.algorithm, &o);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"ReadObjectId",
     [](Inputs &in) {
       OidBuf *o = nullptr;
       const uint32_t st = RyAsn1_ReadObjectId(in.oid.get(), &o);
       if (o != nullptr) {
         Hx_ClearAnybuf(&o->oid);
         MOSK_Free(o);
       }
       return st;
     }},
    {"ReadIntegerArray",
     [](Inputs &in) {
       AnyBuf o{};
       const uint32_t st = RyAsn1_ReadIntegerArray(in.integer.get(), &o);
       Hx_ClearAnybuf(&o);
       return st;
     }},
    {"WriteInteger, WriteBoolean, WriteNull",
     [](Inputs &) {
       const uint8_t yes = 0xFF;
       AnyBuf *a = nullptr, *b = nullptr, *c = nullptr;
       uint32_t st = RyAsn1_WriteInteger(0x80000000u, &a);
       if (st == RYCERT_OK) {
         st = RyAsn1_WriteBoolean(&yes, &b);
       }
       if (st == RYCERT_OK) {
         st = RyAsn1_WriteNull(&c);
       }
       Hx_FreeAnybuf(a);
       Hx_FreeAnybuf(b);
       Hx_FreeAnybuf(c);
       return st;
     }},
    {"WriteUtcTime, WriteGeneralizedTime, Low_WriteLongTime",
     [](Inputs &) {
       const uint32_t t = 1709208000;
       AnyBuf *a = nullptr, *b = nullptr, *c = nullptr;
       uint32_t st = RyAsn1_WriteUtcTime(&t, &a);
       if (st == RYCERT_OK) {
         st = RyAsn1_WriteGeneralizedTime(&t, &b);
       }
       if (st == RYCERT_OK) {
         st = RyAsn1_Low_WriteLongTime(t, 0x18, &c);
       }
       Hx_FreeAnybuf(a);
       Hx_FreeAnybuf(b);
       Hx_FreeAnybuf(c);
       return st;
     }},
    {"WriteExplicit",
     [](Inputs &in) {
       AnyBuf *o = nullptr;
       const uint32_t st = RyAsn1_WriteExplicit(in.octets.get(), 3, &o);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"WriteImplicit",
     [](Inputs &in) {
       AnyBuf *o = nullptr;
       const uint32_t st = RyAsn1_WriteImplicit(in.set.get(), 1, &o);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"ReadExplicit",
     [](Inputs &in) {
       AnyBuf *o = nullptr;
       uint32_t id = 0;
       const uint32_t st = RyAsn1_ReadExplicit(in.explicitTag.get(), &o, &id);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"ReadImplicit, primitive and constructed",
     [](Inputs &in) {
       AnyBuf *a = nullptr, *b = nullptr;
       uint32_t n = 0;
       uint32_t st = RyAsn1_ReadImplicit(in.implicitPrim.get(), &a, &n);
       if (st == RYCERT_OK) {
         st = RyAsn1_ReadImplicit(in.implicitCons.get(), &b, &n);
       }
       Hx_FreeAnybuf(a);
       Hx_FreeAnybuf(b);
       return st;
     }},
    {"CreateAnyBuf",
     [](Inputs &) {
       AnyBuf *o = nullptr;
       const uint32_t st = RyAsn1_Low_CreateAnyBuf(&o);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"Low_WriteTagAndLength",
     [](Inputs &in) {
       AnyBuf *o = nullptr;
       uint8_t *p = nullptr;
       const uint32_t st = RyAsn1_Low_WriteTagAndLength(in.value.get(), 0x02, &o, &p);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"Low_ReadTagAndLength",
     [](Inputs &in) {
       uint8_t *cursor = in.octets->data, *c = nullptr;
       AnyBuf *o = nullptr;
       const uint32_t st = RyAsn1_Low_ReadTagAndLength(in.octets.get(), &cursor, &o, &c);
       Hx_FreeAnybuf(o);
       return st;
     }},
    {"Low_GetTagInfo",
     [](Inputs &in) {
       uint8_t *cursor = in.octets->data;
       uint32_t *a = nullptr, *b = nullptr;
       const uint32_t st = RyAsn1_Low_GetTagInfo(&cursor, &a, &b);
       return release(st, a, b);
     }},
    {"Low_GetLengthInfo",
     [](Inputs &in) {
       uint8_t *cursor = in.octets->data + 1;
       uint32_t *a = nullptr, *b = nullptr;
       const uint32_t st = RyAsn1_Low_GetLengthInfo(&cursor, &a, &b);
       return release(st, a, b);
     }},
    {"Low_IntToChar",
     [](Inputs &) {
       uint8_t *a = nullptr;
       uint32_t *b = nullptr;
       const uint32_t st = RyAsn1_Low_IntToChar(0x12345678, &a, &b);
       return release(st, a, b);
     }},
    {"Low_CharToInt",
     [](Inputs &in) {
       uint32_t *v = nullptr;
       const uint32_t st = RyAsn1_Low_CharToInt(in.value.get()->data, in.value.get()->length, &v);
       return release(st, v);
     }},
    {"Low_ItoCTime",
     [](Inputs &) {
       uint8_t *a = nullptr;
       uint32_t *b = nullptr;
       const uint32_t st = RyAsn1_Low_ItoCTime(946684800, &a, &b);
       return release(st, a, b);
     }},
    {"Low_CtoITime",
     [](Inputs &in) {
       uint32_t *v = nullptr;
       const uint32_t st = RyAsn1_Low_CtoITime(in.text.data(), uint32_t(in.text.size()), &v);
       return release(st, v);
     }},
    {"CopyAnybuf",
     [](Inputs &in) {
       AnyBuf o{};
       const uint32_t st = Hx_CopyAnybuf(&o, in.value.get());
       return release(st, o.data);
     }},
    {"CopyAlgorithm",
     [](Inputs &in) {
       OidBuf o{};
       const uint32_t st = Hx_CopyAlgorithm(&o, &in.algorithm);
       return release(st, o.oid.data);
     }},
    {"SetAttributeCharValue",
     [](Inputs &in) {
       AnyBuf o{};
       const uint32_t st = Hx_SetAttributeCharValue(&o, in.text.data(), 4);
       return release(st, o.data);
     }},
};

TEST(AllocationFailures, EveryAllocatingOperation) {
  Inputs in;
  for (const auto &s : kScenarios) {
    SCOPED_TRACE(s.name);
    const int allocations = rytest::sweepAllocationFailures([&] { return s.run(in); });
    EXPECT_GT(allocations, 0) << "the scenario allocated nothing";
  }
}

TEST(AllocationFailures, LoggedAsMosk_Malloc) {
  Inputs in;
  rytest::LogCapture log;
  MOSK_TestFailAllocation(2, 0);  // the second child's record
  AnyBuf *o = nullptr;
  EXPECT_EQ(RyAsn1_ReadSequence(in.sequence.get(), &o), RYCERT_MemoryErr);
  MOSK_TestClearFault();
  EXPECT_EQ(o, nullptr);
  EXPECT_TRUE(log.contains("------>MOSK_Malloc"));
}

}  // namespace
