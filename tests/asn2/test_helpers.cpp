// Record helpers: what Init, Clear and Free release and reset, what the
// copies share and what they duplicate, and what a failed copy leaves.
#include "asn2_util.h"

namespace {

using rytest::Bytes;
using rytest::hex;
using rytest::LogCapture;

// A stand-alone record as the codec hands them out.
AnyBuf *standAlone(const char *h) {
  AnyBuf *rec = nullptr;
  EXPECT_EQ(RyAsn1_Low_CreateAnyBuf(&rec), RYCERT_OK);
  const Bytes b = hex(h);
  EXPECT_EQ(Hx_SetAttributeCharValue(rec, b.data(), uint32_t(b.size())), RYCERT_OK);
  return rec;
}

bool allZero(const AnyBuf &b) {
  static const AnyBuf kZero{};
  return std::memcmp(&b, &kZero, sizeof b) == 0;
}

TEST(InitAnybuf, ZeroesEveryFieldAndReleasesNothing) {
  uint8_t block[4];
  AnyBuf b;
  std::memset(&b, 0xA5, sizeof b);
  b.data = block;  // not ours to release: Init must leave it alone
  Hx_InitAnybuf(&b);
  EXPECT_TRUE(allZero(b));
  Hx_InitAnybuf(nullptr);
}

TEST(ClearAnybuf, ReleasesDataAndTheRestOfTheChain) {
  const int64_t live = rytest::liveBlocks();
  const struct {
    const char *name;
    int following;
    bool data;
  } cases[] = {
      {"lone record with data", 0, true},
      {"embedded head of a chain of two", 2, true},
      {"empty head of a chain of one", 1, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    AnyBuf head{};
    if (c.data) {
      ASSERT_EQ(Hx_SetAttributeCharValue(&head, hex("0102").data(), 2), RYCERT_OK);
    }
    head.tag = 4;
    head.reserved = 2;
    AnyBuf *tail = &head;
    for (int i = 0; i < c.following; ++i) {
      tail->next = standAlone("0500");
      tail->next->prev = tail;
      tail = tail->next;
    }
    Hx_ClearAnybuf(&head);
    EXPECT_TRUE(allZero(head));
    EXPECT_EQ(rytest::liveBlocks(), live);
  }
  Hx_ClearAnybuf(nullptr);
}

TEST(FreeAnybuf, ReleasesEveryRecordOfTheChain) {
  const int64_t live = rytest::liveBlocks();
  AnyBuf *first = standAlone("020105");
  first->next = standAlone("");  // a record without data
  first->next->next = standAlone("0101FF");
  EXPECT_EQ(rytest::liveBlocks(), live + 5);
  Hx_FreeAnybuf(first);
  EXPECT_EQ(rytest::liveBlocks(), live);
  Hx_FreeAnybuf(nullptr);
}

TEST(CopyAnybuf, DuplicatesDataAndSharesLinks) {
  AnyBuf *src = standAlone("0402ABCD");
  AnyBuf *neighbour = standAlone("0500");
  src->next = neighbour;
  src->prev = neighbour;
  src->tag = 4;
  src->unusedBits = 3;
  src->reserved = 2;

  AnyBuf dst{};
  ASSERT_EQ(Hx_CopyAnybuf(&dst, src), RYCERT_OK);
  EXPECT_NE(dst.data, src->data);
  src->data[0] = 0xFF;
  EXPECT_EQ(rytest::bytesOf(&dst), hex("0402ABCD"));
  EXPECT_EQ(dst.length, 4u);
  EXPECT_EQ(dst.tag, 4u);
  EXPECT_EQ(dst.unusedBits, 3u);
  EXPECT_EQ(dst.reserved, 2);
  EXPECT_EQ(dst.next, neighbour);
  EXPECT_EQ(dst.prev, neighbour);
  MOSK_Free(dst.data);  // the neighbour is the source's

  AnyBuf *empty = standAlone("");
  AnyBuf copy;
  std::memset(&copy, 0xA5, sizeof copy);
  ASSERT_EQ(Hx_CopyAnybuf(&copy, empty), RYCERT_OK);
  EXPECT_EQ(copy.data, nullptr);
  EXPECT_EQ(copy.length, 0u);

  src->prev = nullptr;
  Hx_FreeAnybuf(src);
  Hx_FreeAnybuf(empty);
}

TEST(CopyAnybuf, RefusesMissingSourceAndKeepsDestinationOnFailure) {
  AnyBuf dst{};
  EXPECT_EQ(Hx_CopyAnybuf(&dst, nullptr), RYCERT_MemoryErr);
  AnyBuf broken{};
  broken.length = 3;  // claims bytes it has no block for
  EXPECT_EQ(Hx_CopyAnybuf(&dst, &broken), RYCERT_MemoryErr);

  AnyBuf *src = standAlone("ABCD");
  AnyBuf kept;
  std::memset(&kept, 0xA5, sizeof kept);
  const AnyBuf before = kept;
  LogCapture log;
  MOSK_TestFailAllocation(0, 0);
  EXPECT_EQ(Hx_CopyAnybuf(&kept, src), RYCERT_MemoryErr);
  MOSK_TestClearFault();
  EXPECT_EQ(std::memcmp(&kept, &before, sizeof kept), 0);
  EXPECT_TRUE(log.contains("------>MOSK_Malloc"));
  Hx_FreeAnybuf(src);
}

TEST(CopyAlgorithm, CopiesIdAndOid) {
  const Bytes sha256 = hex("608648016503040201");  // 2.16.840.1.101.3.4.2.1
  OidBuf src{};
  src.id = 201;
  ASSERT_EQ(Hx_SetAttributeCharValue(&src.oid, sha256.data(), uint32_t(sha256.size())), RYCERT_OK);
  src.oid.tag = 6;
  OidBuf dst{};
  ASSERT_EQ(Hx_CopyAlgorithm(&dst, &src), RYCERT_OK);
  EXPECT_EQ(dst.id, 201u);
  EXPECT_EQ(rytest::bytesOf(&dst.oid), sha256);
  EXPECT_EQ(dst.oid.tag, 6u);
  EXPECT_NE(dst.oid.data, src.oid.data);

  OidBuf untouched{};
  untouched.id = 7;
  MOSK_TestFailAllocation(0, 0);
  EXPECT_EQ(Hx_CopyAlgorithm(&untouched, &src), RYCERT_MemoryErr);
  MOSK_TestClearFault();
  EXPECT_EQ(untouched.id, 7u);
  EXPECT_EQ(untouched.oid.data, nullptr);
  EXPECT_EQ(Hx_CopyAlgorithm(&untouched, nullptr), RYCERT_MemoryErr);

  Hx_ClearAnybuf(&src.oid);
  Hx_ClearAnybuf(&dst.oid);
}

TEST(SetAttributeCharValue, CopiesBytesKeepsTagResetsTheRest) {
  AnyBuf b;
  std::memset(&b, 0xA5, sizeof b);
  b.tag = 30;
  const Bytes text = hex("00410042");  // BMP "AB", no terminator added
  ASSERT_EQ(Hx_SetAttributeCharValue(&b, text.data(), uint32_t(text.size())), RYCERT_OK);
  EXPECT_EQ(rytest::bytesOf(&b), text);
  EXPECT_EQ(b.tag, 30u);
  EXPECT_EQ(b.unusedBits, 0u);
  EXPECT_EQ(b.reserved, 0);
  EXPECT_EQ(b.next, nullptr);
  EXPECT_EQ(b.prev, nullptr);
  Hx_ClearAnybuf(&b);

  AnyBuf empty{};
  ASSERT_EQ(Hx_SetAttributeCharValue(&empty, nullptr, 0), RYCERT_OK);
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.length, 0u);

  AnyBuf kept{};
  kept.tag = 19;
  MOSK_TestFailAllocation(0, 0);
  EXPECT_EQ(Hx_SetAttributeCharValue(&kept, text.data(), 4), RYCERT_MemoryErr);
  MOSK_TestClearFault();
  EXPECT_EQ(kept.tag, 19u);
  EXPECT_EQ(kept.data, nullptr);
}

}  // namespace
