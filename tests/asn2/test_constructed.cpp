// Constructed values: SEQUENCE and SET joined and split, children linked
// both ways, overrun and size refusals that leave no list, and the two
// context-specific taggings.
#include "asn2_util.h"

namespace {

using asn2test::expectCodecRecord;
using rytest::Bytes;
using rytest::Chain;
using rytest::hex;
using rytest::LogCapture;
using rytest::Rec;

// A list of encoded records built from hex, linked through next and prev.
class List {
 public:
  explicit List(const std::vector<const char *> &items) {
    for (const char *h : items) {
      recs_.push_back(std::make_unique<Rec>(hex(h)));
    }
    for (size_t i = 0; i < recs_.size(); ++i) {
      recs_[i]->get()->next = i + 1 < recs_.size() ? recs_[i + 1]->get() : nullptr;
      recs_[i]->get()->prev = i > 0 ? recs_[i - 1]->get() : nullptr;
    }
  }
  const AnyBuf *first() { return recs_.empty() ? nullptr : recs_[0]->get(); }

 private:
  std::vector<std::unique_ptr<Rec>> recs_;
};

struct JoinCase {
  const char *name;
  bool set;
  std::vector<const char *> children;
  const char *encoded;
};

const JoinCase kJoins[] = {
    {"empty SEQUENCE", false, {}, "3000"},
    {"empty SET", true, {}, "3100"},
    {"two children in order", false, {"020105", "0101FF"}, "3006020105 0101FF"},
    {"SET keeps list order, unsorted", true, {"0101FF", "020105"}, "3106 0101FF 020105"},
    {"nested SEQUENCE copied whole", false, {"3003020105"}, "3005 3003020105"},
};

TEST(ConstructedWrite, JoinsTheListInOrder) {
  for (const auto &c : kJoins) {
    SCOPED_TRACE(c.name);
    List children(c.children);
    AnyBuf *raw = nullptr;
    ASSERT_EQ((c.set ? RyAsn1_WriteSet : RyAsn1_WriteSequence)(children.first(), &raw), RYCERT_OK);
    Chain out(raw);
    EXPECT_EQ(rytest::bytesOf(out.get()), hex(c.encoded));
    expectCodecRecord(out.get(), c.set ? 17 : 16);
  }
}

struct SplitCase {
  const char *name;
  bool set;
  const char *encoded;
  uint32_t status;
  std::vector<const char *> children;
  std::vector<uint32_t> tags;
  const char *log;
};

// clang-format off
const SplitCase kSplits[] = {
    {"empty SEQUENCE gives no list", false, "3000", RYCERT_OK, {}, {}, nullptr},
    {"two children", false, "3006 020105 0101FF", RYCERT_OK, {"020105", "0101FF"}, {2, 1},
     nullptr},
    {"SET children", true, "3106 0101FF 020105", RYCERT_OK, {"0101FF", "020105"}, {1, 2},
     nullptr},
    {"nested constructed child kept whole", false, "3007 3005 3103 020105", RYCERT_OK,
     {"30053103020105"}, {16}, nullptr},
    {"context children keep the whole octet", false, "3006 8000 A302 0500", RYCERT_OK,
     {"8000", "A3020500"}, {128, 163}, nullptr},
    {"SET is not a SEQUENCE", false, "3100", RYCERT_TagNotMatchErr, {}, {},
     "------>TAG != RY_DER_ID_SEQUENCE"},
    {"SEQUENCE is not a SET", true, "3000", RYCERT_TagNotMatchErr, {}, {},
     "------>TAG != RY_DER_ID_SET"},
    {"context tag is not a SEQUENCE", false, "A000", RYCERT_TagNotMatchErr, {}, {},
     "------>TAG != RY_DER_ID_SEQUENCE"},
    {"record longer than its element", false, "3003 020105 00", RYCERT_LengthNotEqualErr, {}, {},
     "------>RYCERT_LengthNotEqualErr"},
    {"record shorter than its element", false, "3004 020105", RYCERT_LengthNotEqualErr, {}, {},
     "------>RYCERT_LengthNotEqualErr"},
    {"child claims more than the parent holds", false, "3004 020501 02", RYCERT_InvalidLengthErr,
     {}, {}, "------>lTotalLength != 0"},
    {"second child overruns after a good first", false, "3005 020105 0205",
     RYCERT_InvalidLengthErr, {}, {}, "------>lTotalLength != 0"},
    {"child header cut short", false, "3001 02", RYCERT_InvalidLengthErr, {}, {},
     "------>lTotalLength != 0"},
    {"child with indefinite length", false, "3004 3080 0000", RYCERT_InvalidLengthErr, {}, {},
     "------>RyAsn1_Low_GetLengthInfo"},
    {"child with a multi-octet identifier", false, "3003 1F0100", RYCERT_TagNotMatchErr, {}, {},
     "------>RyAsn1_Low_GetTagInfo"},
    {"parent with indefinite length", false, "3080 020105 0000", RYCERT_InvalidLengthErr, {}, {},
     nullptr},
    {"parent with a needless long form", false, "308103 020105", RYCERT_InvalidLengthErr, {}, {},
     nullptr},
};
// clang-format on

void expectChildren(const AnyBuf *first, const std::vector<const char *> &want,
                    const std::vector<uint32_t> &tags) {
  const AnyBuf *prev = nullptr;
  size_t i = 0;
  for (const AnyBuf *p = first; p != nullptr; prev = p, p = p->next, ++i) {
    ASSERT_LT(i, want.size()) << "more children than expected";
    EXPECT_EQ(rytest::bytesOf(p), hex(want[i])) << "child " << i;
    EXPECT_EQ(p->length, hex(want[i]).size());
    EXPECT_EQ(p->tag, tags[i]) << "child " << i;
    EXPECT_EQ(p->prev, prev) << "child " << i;
    EXPECT_EQ(p->reserved, 2);
    EXPECT_EQ(p->unusedBits, 0u);
  }
  EXPECT_EQ(i, want.size());
}

TEST(ConstructedRead, SplitsOrRefuses) {
  for (const auto &c : kSplits) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    const int64_t live = rytest::liveBlocks();
    LogCapture log;
    AnyBuf *raw = reinterpret_cast<AnyBuf *>(&log);  // sentinel
    ASSERT_EQ((c.set ? RyAsn1_ReadSet : RyAsn1_ReadSequence)(rec.get(), &raw), c.status);
    if (c.log != nullptr) {
      EXPECT_TRUE(log.contains(c.log));
    }
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(raw, reinterpret_cast<AnyBuf *>(&log));
      EXPECT_EQ(rytest::liveBlocks(), live) << "a failed read left a list behind";
      continue;
    }
    Chain children(raw);
    expectChildren(children.get(), c.children, c.tags);
    // Joined again, the children give the same bytes.
    AnyBuf *again = nullptr;
    ASSERT_EQ((c.set ? RyAsn1_WriteSet : RyAsn1_WriteSequence)(children.get(), &again), RYCERT_OK);
    Chain rejoined(again);
    EXPECT_EQ(rytest::bytesOf(rejoined.get()), hex(c.encoded));
  }
}

TEST(ConstructedRead, NestingWalkedLevelByLevel) {
  // SEQUENCE { SET { SEQUENCE { INTEGER 5 } }, NULL } built and walked down.
  AnyBuf *raw = nullptr;
  ASSERT_EQ(RyAsn1_WriteInteger(5, &raw), RYCERT_OK);
  Chain level(raw);
  for (auto join : {RyAsn1_WriteSequence, RyAsn1_WriteSet}) {
    ASSERT_EQ(join(level.get(), &raw), RYCERT_OK);
    level.reset(raw);
  }
  AnyBuf *null = nullptr;
  ASSERT_EQ(RyAsn1_WriteNull(&null), RYCERT_OK);
  level->next = null;
  ASSERT_EQ(RyAsn1_WriteSequence(level.get(), &raw), RYCERT_OK);
  Chain outer(raw);
  EXPECT_EQ(rytest::bytesOf(outer.get()), hex("3009 3105 3003 020105 0500"));

  ASSERT_EQ(RyAsn1_ReadSequence(outer.get(), &raw), RYCERT_OK);
  Chain top(raw);
  ASSERT_NE(top->next, nullptr);
  EXPECT_EQ(top->next->tag, 5u);
  EXPECT_EQ(top->next->prev, top.get());
  ASSERT_EQ(RyAsn1_ReadSet(top.get(), &raw), RYCERT_OK);
  Chain set(raw);
  ASSERT_EQ(RyAsn1_ReadSequence(set.get(), &raw), RYCERT_OK);
  Chain inner(raw);
  uint32_t v = 0;
  ASSERT_EQ(RyAsn1_ReadInteger(inner.get(), &v), RYCERT_OK);
  EXPECT_EQ(v, 5u);
}

TEST(Explicit, WrapsTheWholeInnerElement) {
  const struct {
    const char *name;
    const char *inner;
    uint32_t n;
    uint32_t status;
    const char *encoded;
  } cases[] = {
      {"[0] around an INTEGER", "020105", 0, RYCERT_OK, "A003020105"},
      {"[3] around a SEQUENCE", "3000", 3, RYCERT_OK, "A3023000"},
      {"[30] is the last single-octet tag", "0500", 30, RYCERT_OK, "BE020500"},
      {"[31] needs a multi-octet identifier", "0500", 31, RYCERT_TagNotMatchErr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Rec inner(hex(c.inner));
    AnyBuf *raw = nullptr;
    ASSERT_EQ(RyAsn1_WriteExplicit(inner.get(), c.n, &raw), c.status);
    if (c.status != RYCERT_OK) {
      continue;
    }
    Chain out(raw);
    EXPECT_EQ(rytest::bytesOf(out.get()), hex(c.encoded));
    expectCodecRecord(out.get(), 0xA0 | c.n);
  }
}

TEST(Explicit, ReadGivesInnerElementAndOuterOctet) {
  const struct {
    const char *name;
    const char *encoded;
    uint32_t status;
    const char *inner;
  } cases[] = {
      {"[0] INTEGER", "A003020105", RYCERT_OK, "020105"},
      {"[2] constructed inner", "A2053003020105", RYCERT_OK, "3003020105"},
      {"empty explicit", "A000", RYCERT_InvalidLengthErr, ""},
      {"two inner elements", "A005 020105 0500", RYCERT_InvalidLengthErr, ""},
      {"inner overruns", "A003020205", RYCERT_InvalidLengthErr, ""},
      {"record longer than its element", "A00302010500", RYCERT_LengthNotEqualErr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    LogCapture log;
    AnyBuf *raw = nullptr;
    uint32_t id = 0xDEAD;
    ASSERT_EQ(RyAsn1_ReadExplicit(rec.get(), &raw, &id), c.status);
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(raw, nullptr);
      EXPECT_EQ(id, 0xDEADu);
      continue;
    }
    Chain out(raw);
    EXPECT_EQ(rytest::bytesOf(out.get()), hex(c.inner));
    EXPECT_EQ(id, rec->data[0]);
    expectCodecRecord(out.get(), rec->data[0]);
  }
  Rec mismatch(hex("A00302010500"));
  LogCapture log;
  AnyBuf *raw = nullptr;
  uint32_t id = 0;
  EXPECT_EQ(RyAsn1_ReadExplicit(mismatch.get(), &raw, &id), RYCERT_LengthNotEqualErr);
  EXPECT_TRUE(log.contains("------>RyAsn1_Low_ReadTagAndLength"));
}

TEST(Implicit, WriteKeepsTheFormAndReplacesTheIdentifier) {
  const struct {
    const char *name;
    const char *inner;
    uint32_t n;
    uint32_t status;
    const char *encoded;
  } cases[] = {
      {"OCTET STRING becomes [0] primitive", "0402ABCD", 0, RYCERT_OK, "8002ABCD"},
      {"INTEGER becomes [2] primitive", "020105", 2, RYCERT_OK, "820105"},
      {"SET becomes [0] constructed", "3103020105", 0, RYCERT_OK, "A003020105"},
      {"empty SEQUENCE becomes [5] constructed", "3000", 5, RYCERT_OK, "A500"},
      {"[31] refused", "0500", 31, RYCERT_TagNotMatchErr, ""},
      {"inner record longer than its element", "0401AB00", 0, RYCERT_LengthNotEqualErr, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Rec inner(hex(c.inner));
    AnyBuf *raw = nullptr;
    ASSERT_EQ(RyAsn1_WriteImplicit(inner.get(), c.n, &raw), c.status);
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(raw, nullptr);
      continue;
    }
    Chain out(raw);
    const Bytes want = hex(c.encoded);
    EXPECT_EQ(rytest::bytesOf(out.get()), want);
    expectCodecRecord(out.get(), want[0]);
  }
}

TEST(Implicit, ReadGivesValueOrChildren) {
  const struct {
    const char *name;
    const char *encoded;
    uint32_t status;
    uint32_t n;
    std::vector<const char *> records;
    std::vector<uint32_t> tags;
  } cases[] = {
      {"primitive: one value record", "8002ABCD", RYCERT_OK, 0, {"ABCD"}, {128}},
      {"primitive [30], empty content", "9E00", RYCERT_OK, 30, {""}, {0x9E}},
      {"constructed: the children", "A103020105", RYCERT_OK, 1, {"020105"}, {2}},
      {"constructed, two children", "A4060201050101FF", RYCERT_OK, 4, {"020105", "0101FF"}, {2, 1}},
      {"empty constructed: no list", "A200", RYCERT_OK, 2, {}, {}},
      {"child overruns", "A0030205 01", RYCERT_InvalidLengthErr, 0, {}, {}},
      {"record longer than its element", "8001AB00", RYCERT_LengthNotEqualErr, 0, {}, {}},
      {"indefinite length", "A0800000", RYCERT_InvalidLengthErr, 0, {}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Rec rec(hex(c.encoded));
    const int64_t live = rytest::liveBlocks();
    LogCapture log;
    AnyBuf *raw = reinterpret_cast<AnyBuf *>(&log);
    uint32_t n = 0xDEAD;
    ASSERT_EQ(RyAsn1_ReadImplicit(rec.get(), &raw, &n), c.status);
    if (c.status != RYCERT_OK) {
      EXPECT_EQ(raw, reinterpret_cast<AnyBuf *>(&log));
      EXPECT_EQ(n, 0xDEADu);
      EXPECT_EQ(rytest::liveBlocks(), live);
      if (c.status == RYCERT_LengthNotEqualErr) {
        EXPECT_TRUE(log.contains("------>RYCERT_LengthNotEqualErr"));
      }
      continue;
    }
    Chain out(raw);
    EXPECT_EQ(n, c.n);
    if ((rec->data[0] & 0x20) != 0) {
      expectChildren(out.get(), c.records, c.tags);
      continue;
    }
    ASSERT_NE(out.get(), nullptr);
    EXPECT_EQ(rytest::bytesOf(out.get()), hex(c.records[0]));
    expectCodecRecord(out.get(), c.tags[0]);
  }
}

}  // namespace
