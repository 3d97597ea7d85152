// Allocation failures in every allocating operation of the codec and the
// record helpers. Each scenario runs one family of operations in a row and
// stops at the first failure, so the sweep puts the fault on every
// allocation of every member: each run must give RYCERT_MemoryErr (or
// succeed when the fault came after the last allocation) and leave no
// block live.
#include <functional>

#include "asn2_util.h"

namespace {

using asn2test::runAndRelease;
using asn2test::ValueRec;
using rytest::Bytes;
using rytest::hex;
using rytest::Rec;

// Inputs are built once, outside the sweeps, so that only the operations
// under test meet the faults.
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

// Runs the steps in order until one fails; returns the last status.
uint32_t inTurn(std::initializer_list<std::function<uint32_t()>> steps) {
  for (const auto &step : steps) {
    if (const uint32_t st = step(); st != RYCERT_OK) {
      return st;
    }
  }
  return RYCERT_OK;
}

// Releases blocks handed out by a low-level operation. The pointers are
// taken by reference so that they are read after the call has filled them,
// whatever the order in which the arguments are evaluated.
template <class A>
uint32_t release(uint32_t st, A *const &a) {
  MOSK_Free(a);
  return st;
}
template <class A, class B>
uint32_t release(uint32_t st, A *const &a, B *const &b) {
  MOSK_Free(b);
  return release(st, a);
}

struct Scenario {
  const char *name;
  std::function<uint32_t(Inputs &)> run;
};

const Scenario kScenarios[] = {
    {"primitive writers",
     [](Inputs &in) {
       return inTurn({
           [&] { return runAndRelease<RyAsn1_WriteIntegerArray>(in.value.get()); },
           [&] { return runAndRelease<RyAsn1_WriteBitString>(in.value.get()); },
           [&] { return runAndRelease<RyAsn1_WritePrintableString>(in.value.get()); },
           [&] {
             AnyBuf *o = nullptr;
             const uint32_t st = RyAsn1_WriteObjectId(&in.algorithm, &o);
             Hx_FreeAnybuf(o);
             return st;
           },
           [&] {
             AnyBuf *o = nullptr;
             const uint32_t st = RyAsn1_WriteInteger(0x80000000u, &o);
             Hx_FreeAnybuf(o);
             return st;
           },
           [&] {
             const uint8_t yes = 0xFF;
             AnyBuf *o = nullptr;
             const uint32_t st = RyAsn1_WriteBoolean(&yes, &o);
             Hx_FreeAnybuf(o);
             return st;
           },
           [&] {
             AnyBuf *o = nullptr;
             const uint32_t st = RyAsn1_WriteNull(&o);
             Hx_FreeAnybuf(o);
             return st;
           },
       });
     }},
    {"primitive readers",
     [](Inputs &in) {
       return inTurn({
           [&] { return runAndRelease<RyAsn1_ReadBitString>(in.bits.get()); },
           [&] { return runAndRelease<RyAsn1_ReadOctetString>(in.octets.get()); },
           [&] {
             AnyBuf o{};
             const uint32_t st = RyAsn1_ReadIntegerArray(in.integer.get(), &o);
             Hx_ClearAnybuf(&o);
             return st;
           },
           [&] {
             OidBuf *o = nullptr;
             const uint32_t st = RyAsn1_ReadObjectId(in.oid.get(), &o);
             if (o != nullptr) {
               Hx_ClearAnybuf(&o->oid);
               MOSK_Free(o);
             }
             return st;
           },
       });
     }},
    {"time writers and converters",
     [](Inputs &in) {
       const uint32_t t = 1709208000;
       return inTurn({
           [&] {
             AnyBuf *a = nullptr, *b = nullptr, *c = nullptr;
             uint32_t st = RyAsn1_WriteUtcTime(&t, &a);
             st = st != RYCERT_OK ? st : RyAsn1_WriteGeneralizedTime(&t, &b);
             st = st != RYCERT_OK ? st : RyAsn1_Low_WriteLongTime(t, 0x18, &c);
             Hx_FreeAnybuf(a);
             Hx_FreeAnybuf(b);
             Hx_FreeAnybuf(c);
             return st;
           },
           [&] {
             uint8_t *text = nullptr;
             uint32_t *len = nullptr;
             const uint32_t st = RyAsn1_Low_ItoCTime(t, &text, &len);
             return release(st, text, len);
           },
           [&] {
             uint32_t *v = nullptr;
             const uint32_t st = RyAsn1_Low_CtoITime(in.text.data(), uint32_t(in.text.size()), &v);
             return release(st, v);
           },
       });
     }},
    {"constructed values",
     [](Inputs &in) {
       return inTurn({
           [&] { return runAndRelease<RyAsn1_WriteSequence>(in.octets.get()); },
           [&] { return runAndRelease<RyAsn1_WriteSet>(in.octets.get()); },
           [&] { return runAndRelease<RyAsn1_ReadSequence>(in.sequence.get()); },
           [&] { return runAndRelease<RyAsn1_ReadSet>(in.set.get()); },
           [&] {
             AnyBuf *a = nullptr, *b = nullptr;
             uint32_t st = RyAsn1_WriteExplicit(in.octets.get(), 3, &a);
             st = st != RYCERT_OK ? st : RyAsn1_WriteImplicit(in.set.get(), 1, &b);
             Hx_FreeAnybuf(a);
             Hx_FreeAnybuf(b);
             return st;
           },
           [&] {
             AnyBuf *a = nullptr, *b = nullptr, *c = nullptr;
             uint32_t id = 0, n = 0;
             uint32_t st = RyAsn1_ReadExplicit(in.explicitTag.get(), &a, &id);
             st = st != RYCERT_OK ? st : RyAsn1_ReadImplicit(in.implicitPrim.get(), &b, &n);
             st = st != RYCERT_OK ? st : RyAsn1_ReadImplicit(in.implicitCons.get(), &c, &n);
             Hx_FreeAnybuf(a);
             Hx_FreeAnybuf(b);
             Hx_FreeAnybuf(c);
             return st;
           },
       });
     }},
    {"tag and length layer",
     [](Inputs &in) {
       return inTurn({
           [&] {
             AnyBuf *o = nullptr;
             const uint32_t st = RyAsn1_Low_CreateAnyBuf(&o);
             Hx_FreeAnybuf(o);
             return st;
           },
           [&] {
             AnyBuf *o = nullptr;
             uint8_t *p = nullptr;
             const uint32_t st = RyAsn1_Low_WriteTagAndLength(in.value.get(), 0x02, &o, &p);
             Hx_FreeAnybuf(o);
             return st;
           },
           [&] {
             uint8_t *cursor = in.octets->data;
             uint8_t *content = nullptr;
             AnyBuf *o = nullptr;
             const uint32_t st =
                 RyAsn1_Low_ReadTagAndLength(in.octets.get(), &cursor, &o, &content);
             Hx_FreeAnybuf(o);
             return st;
           },
           [&] {
             uint8_t *cursor = in.octets->data;
             uint32_t *a = nullptr, *b = nullptr;
             return release(RyAsn1_Low_GetTagInfo(&cursor, &a, &b), a, b);
           },
           [&] {
             uint8_t *cursor = in.octets->data + 1;
             uint32_t *a = nullptr, *b = nullptr;
             return release(RyAsn1_Low_GetLengthInfo(&cursor, &a, &b), a, b);
           },
           [&] {
             uint8_t *octets = nullptr;
             uint32_t *count = nullptr;
             return release(RyAsn1_Low_IntToChar(0x12345678, &octets, &count), octets, count);
           },
           [&] {
             uint32_t *v = nullptr;
             return release(RyAsn1_Low_CharToInt(in.text.data(), 4, &v), v);
           },
       });
     }},
    {"record helpers",
     [](Inputs &in) {
       return inTurn({
           [&] {
             AnyBuf o{};
             return release(Hx_CopyAnybuf(&o, in.value.get()), o.data);
           },
           [&] {
             OidBuf o{};
             return release(Hx_CopyAlgorithm(&o, &in.algorithm), o.oid.data);
           },
           [&] {
             AnyBuf o{};
             return release(Hx_SetAttributeCharValue(&o, in.text.data(), 4), o.data);
           },
       });
     }},
};

TEST(AllocationFailures, EveryAllocatingOperation) {
  Inputs in;
  for (const auto &s : kScenarios) {
    SCOPED_TRACE(s.name);
    const int allocations = rytest::sweepAllocationFailures([&] { return s.run(in); });
    EXPECT_GE(allocations, 3) << "the scenario allocated less than its members do";
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
