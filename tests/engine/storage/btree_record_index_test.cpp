// Record indexes over the B+ tree: page layout and splits, key order (truncated text parts, equal
// keys by record identifier), merges and root collapse on delete, the five find modes, positions,
// the integrity check, and a randomized comparison with std::multimap.
#include "btree_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/core/Collation.h"
#include "engine/storage/ABSBTreePage.h"
#include "engine/storage/ABSBTreeRecordIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace kova {
namespace {

using testing::ErrorCodeOf;
using testing::FakeTable;
using testing::Int;
using testing::MemoryPageManager;
using testing::Str;

constexpr TABSSessionID kSession = 0;

class RecordIndexTest : public ::testing::Test {
protected:
    MemoryPageManager pages;
    FakeTable table;
    std::unique_ptr<TABSBTreeRecordIndex> index;
    std::string savedLocale;

    void SetUp() override {
        savedLocale = CollationLocale();
        SetCollationLocale("de_DE");
    }
    void TearDown() override {
        index.reset();
        SetCollationLocale(savedLocale);
    }

    void MakeIndex(std::vector<TABSIndexColumn> columns) {
        TABSIndexDef def("IX", 1, std::move(columns));
        index = std::make_unique<TABSBTreeRecordIndex>(def, BuildKeyLayout(def, table.Fields), pages, table);
        index->Create(kSession);
    }
    TABSRecordID Add(const std::vector<TABSVariant>& values, TABSRecordID id) {
        std::vector<std::uint8_t> record = table.MakeRecord(values);
        table.Records[id] = record;
        index->InsertRecord(kSession, record, id);
        return id;
    }
    void Remove(TABSRecordID id) {
        index->DeleteRecord(kSession, table.Records.at(id), id);
        table.Records.erase(id);
    }
    std::vector<TABSRecordID> IndexOrder() {
        std::vector<TABSRecordID> ids;
        TABSKeyPath path;
        for (bool ok = index->First(kSession, path); ok; ok = index->Next(kSession, path))
            ids.push_back(index->RecordAt(kSession, path));
        return ids;
    }
    TABSBTreePageHeader Header(TABSPageNo pageNo) {
        TABSPageHandle h = pages.GetPage(kSession, pageNo);
        return TABSBTreePageHeader::Decode(h.Data());
    }
    TABSPageNo Child(TABSPageNo pageNo, std::size_t entry, std::size_t keySize) {
        TABSPageHandle h = pages.GetPage(kSession, pageNo);
        return ReadI32(h.Data().data() + BTreePageHeader::kSize + entry * (keySize + 4) + keySize);
    }
    static TABSRecordID Rid(int n) { return {100 + n / 68, static_cast<std::uint16_t>(n % 68)}; }
};

// ---- Layout and splits ----

TEST_F(RecordIndexTest, IntegerLeafHolds367EntriesAndThe368thSplitsItInto184And184UnderANewRoot) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    EXPECT_EQ(index->KeyRef().KeySize(), 5u);
    EXPECT_EQ(index->LeafEntrySize(), 11u);
    const TABSPageNo root = index->RootPageNo();
    for (int i = 0; i < 367; ++i)
        Add({Int(i * 3)}, Rid(i));
    EXPECT_TRUE(Header(root).IsLeaf);
    EXPECT_EQ(Header(root).EntryCount, 367);

    Add({Int(1)}, Rid(367));
    EXPECT_EQ(index->RootPageNo(), root);
    const TABSBTreePageHeader top = Header(root);
    EXPECT_FALSE(top.IsLeaf);
    EXPECT_TRUE(top.IsRoot);
    EXPECT_TRUE(top.MadeAsRoot);
    ASSERT_EQ(top.EntryCount, 2);
    const TABSPageNo left = Child(root, 0, 5);
    const TABSPageNo right = Child(root, 1, 5);
    const TABSBTreePageHeader l = Header(left);
    const TABSBTreePageHeader r = Header(right);
    EXPECT_EQ(l.EntryCount, 184);
    EXPECT_EQ(r.EntryCount, 184);
    EXPECT_TRUE(l.IsLeaf && r.IsLeaf);
    EXPECT_FALSE(l.IsRoot || r.IsRoot || l.MadeAsRoot || r.MadeAsRoot);
    EXPECT_EQ(l.NextPageNo, right);
    EXPECT_EQ(r.PrevPageNo, left);
    EXPECT_EQ(l.PrevPageNo, -1);
    EXPECT_EQ(r.NextPageNo, -1);
    index->CheckIntegrity(kSession);
    EXPECT_EQ(index->EntryCount(kSession), 368u);
}

// ---- Key order ----

TEST_F(RecordIndexTest, LongStringsSharingTheirFirst20CharactersOrderByTheirFullValues) {
    table.AddField("S", TABSColumnType::actString, 45);
    MakeIndex({{"S"}});
    EXPECT_EQ(index->KeyRef().KeySize(), 23u) << "null byte, 20 characters, two zero bytes";

    const std::string p = "abcdefghijklmnopqrs";  // 19 characters
    // Differences that only the part after the 20 stored characters settles, including ones where
    // the stored prefixes disagree at the case or accent level with the full values.
    const std::vector<std::string> values = {
        p + "T" + "a",          p + "t" + "z",     p + "t",            p + "t" + "b",
        p + "e" + "zzz",        p + "\xC3\xA9" + "aaa",  // é
        p + "t" + "\xC3\xA4" + "x", p + "t" + "ae",  p + "u",
        "B" + p,                 "a" + p + "x",
    };
    std::vector<int> order(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        order[i] = static_cast<int>(i);
    std::mt19937 random(3);
    std::shuffle(order.begin(), order.end(), random);
    for (int i : order)
        Add({Str(values[static_cast<std::size_t>(i)])}, Rid(i));

    std::vector<int> expected(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        expected[i] = static_cast<int>(i);
    std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
        return CompareText(values[static_cast<std::size_t>(a)], values[static_cast<std::size_t>(b)]) < 0;
    });
    std::vector<TABSRecordID> expectedIds;
    for (int i : expected)
        expectedIds.push_back(Rid(i));
    EXPECT_EQ(IndexOrder(), expectedIds);
    EXPECT_GT(table.Reads, 0) << "equal prefixes are settled by reading the records";
    index->CheckIntegrity(kSession);
}

TEST_F(RecordIndexTest, PrefixesThatDifferInALetterNeedNoRecordReads) {
    table.AddField("S", TABSColumnType::actString, 45);
    MakeIndex({{"S"}});
    for (int i = 0; i < 26; ++i)
        Add({Str(std::string(1, static_cast<char>('a' + (i * 7) % 26)) + std::string(30, 'x'))}, Rid(i));
    EXPECT_EQ(table.Reads, 0);
    index->CheckIntegrity(kSession);
}

TEST_F(RecordIndexTest, EqualKeysAreOrderedByPageNumberThenSlot) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    const std::vector<TABSRecordID> ids = {{3, 2}, {1, 5}, {3, 0}, {2, 9}, {1, 0}, {-5, 1}};
    for (const TABSRecordID& id : ids)
        Add({Int(7)}, id);
    Add({Int(6)}, {9, 9});
    Add({Int(8)}, {0, 0});
    const std::vector<TABSRecordID> expected = {{9, 9}, {-5, 1}, {1, 0}, {1, 5}, {2, 9}, {3, 0}, {3, 2}, {0, 0}};
    EXPECT_EQ(IndexOrder(), expected);
    EXPECT_EQ(ErrorCodeOf([&] { index->InsertRecord(kSession, table.Records.at({1, 5}), {1, 5}); }), 20099)
        << "the same entry twice";
}

TEST_F(RecordIndexTest, DescendingAndCaseInsensitiveColumns) {
    table.AddField("A", TABSColumnType::actInteger);
    table.AddField("S", TABSColumnType::actString, 10);
    TABSIndexColumn a{"A"};
    a.Descending = true;
    TABSIndexColumn s{"S"};
    s.CaseInsensitive = true;
    MakeIndex({a, s});
    Add({Int(1), Str("b")}, {1, 0});
    Add({Int(2), Str("a")}, {1, 1});
    Add({Int(1), Str("A")}, {1, 2});
    Add({Int(1), Str("a")}, {1, 3});
    Add({TABSVariant(), Str("z")}, {1, 4});
    // A descending: 2, 1, 1, 1, null (nulls first ascending, so last descending); "a" = "A".
    const std::vector<TABSRecordID> expected = {{1, 1}, {1, 2}, {1, 3}, {1, 0}, {1, 4}};
    EXPECT_EQ(IndexOrder(), expected);
}

TEST_F(RecordIndexTest, EveryIndexableTypeOrdersItsValuesAndFindsThemByValue) {
    auto v = [](auto set) {
        TABSVariant value;
        set(value);
        return value;
    };
    struct Case {
        const char* what;
        TABSColumnType type;
        std::int32_t size;
        std::vector<TABSVariant> ascending;  // distinct values in their order
    };
    const std::vector<Case> cases = {
        {"ShortInt", TABSColumnType::actShortInt, 0,
         {v([](auto& x) { x.SetAsShortInt(-100); }), v([](auto& x) { x.SetAsShortInt(-1); }), v([](auto& x) { x.SetAsShortInt(90); })}},
        {"SmallInt", TABSColumnType::actSmallInt, 0,
         {v([](auto& x) { x.SetAsSmallInt(-30000); }), v([](auto& x) { x.SetAsSmallInt(0); }), v([](auto& x) { x.SetAsSmallInt(300); })}},
        {"LargeInt", TABSColumnType::actLargeInt, 0,
         {v([](auto& x) { x.SetAsLargeInt(-(1LL << 40)); }), v([](auto& x) { x.SetAsLargeInt(5); }), v([](auto& x) { x.SetAsLargeInt(1LL << 50); })}},
        {"Byte", TABSColumnType::actByte, 0,
         {v([](auto& x) { x.SetAsByte(1); }), v([](auto& x) { x.SetAsByte(128); }), v([](auto& x) { x.SetAsByte(255); })}},
        {"Word", TABSColumnType::actWord, 0,
         {v([](auto& x) { x.SetAsWord(2); }), v([](auto& x) { x.SetAsWord(40000); }), v([](auto& x) { x.SetAsWord(65535); })}},
        {"Cardinal", TABSColumnType::actCardinal, 0,
         {v([](auto& x) { x.SetAsCardinal(7); }), v([](auto& x) { x.SetAsCardinal(0x80000000u); }), v([](auto& x) { x.SetAsCardinal(0xFFFFFFFFu); })}},
        {"Single", TABSColumnType::actSingle, 0,
         {v([](auto& x) { x.SetAsSingle(-2.5f); }), v([](auto& x) { x.SetAsSingle(0.25f); }), v([](auto& x) { x.SetAsSingle(1e20f); })}},
        {"Double", TABSColumnType::actDouble, 0,
         {v([](auto& x) { x.SetAsDouble(-1e300); }), v([](auto& x) { x.SetAsDouble(-0.5); }), v([](auto& x) { x.SetAsDouble(3.25); })}},
        {"Extended", TABSColumnType::actExtended, 0,
         {v([](auto& x) { x.SetAsExtended(-7.0L); }), v([](auto& x) { x.SetAsExtended(2.5L); }), v([](auto& x) { x.SetAsExtended(1e400L); })}},
        {"Currency", TABSColumnType::actCurrency, 0,
         {v([](auto& x) { x.SetAsCurrency(-3.5); }), v([](auto& x) { x.SetAsCurrency(0.01); }), v([](auto& x) { x.SetAsCurrency(99.99); })}},
        {"Date", TABSColumnType::actDate, 0,
         {v([](auto& x) { x.SetAsDate(1); }), v([](auto& x) { x.SetAsDate(693594); }), v([](auto& x) { x.SetAsDate(739000); })}},
        {"Time", TABSColumnType::actTime, 0,
         {v([](auto& x) { x.SetAsTime(0); }), v([](auto& x) { x.SetAsTime(43200000); }), v([](auto& x) { x.SetAsTime(86399999); })}},
        {"DateTime", TABSColumnType::actDateTime, 0,
         {v([](auto& x) { x.SetAsDateTime({693594, 86399999}); }), v([](auto& x) { x.SetAsDateTime({693595, 0}); }),
          v([](auto& x) { x.SetAsDateTime({693595, 1}); })}},
        {"Boolean", TABSColumnType::actBoolean, 0,
         {v([](auto& x) { x.SetAsBoolean(false); }), v([](auto& x) { x.SetAsBoolean(true); })}},
        {"Char", TABSColumnType::actChar, 10, {Str("Apfel"), Str("\xC3\x84pfel"), Str("Birne")}},
        {"WideString", TABSColumnType::actWideString, 30,
         {v([](auto& x) { x.SetAsWideString(u"\u00DFalt" u"aaaaaaaaaaaaaaaaaaaaaaa"); }),
          v([](auto& x) { x.SetAsWideString(u"\u00DFalt" u"aaaaaaaaaaaaaaaaaaaaaab"); }),
          v([](auto& x) { x.SetAsWideString(u"Zebra"); })}},
        {"Bytes", TABSColumnType::actBytes, 4,
         {v([](auto& x) { x.SetAsBytes(std::string("\x01\x00\x00\x00", 4)); }), v([](auto& x) { x.SetAsBytes(std::string("\x01\x02\x00\x00", 4)); }),
          v([](auto& x) { x.SetAsBytes(std::string("\xFF\x00\x00\x00", 4)); })}},
        {"VarBytes", TABSColumnType::actVarBytes, 30,
         {v([](auto& x) { x.SetAsBytes("ab", TABSBaseType::bftVarBytes); }), v([](auto& x) { x.SetAsBytes(std::string(25, 'b') + "a", TABSBaseType::bftVarBytes); }),
          v([](auto& x) { x.SetAsBytes(std::string(25, 'b') + "c", TABSBaseType::bftVarBytes); })}},
    };
    for (const Case& c : cases) {
        MemoryPageManager casePages;
        FakeTable caseTable;
        caseTable.AddField("F", c.type, c.size);
        TABSIndexDef def("IX", 1, {{"F"}});
        TABSBTreeRecordIndex ix(def, BuildKeyLayout(def, caseTable.Fields), casePages, caseTable);
        ix.Create(kSession);
        // Insert in reverse, then expect ascending order and exact lookups.
        for (std::size_t i = c.ascending.size(); i-- > 0;) {
            const TABSRecordID id{1, static_cast<std::uint16_t>(i)};
            caseTable.Records[id] = caseTable.MakeRecord({c.ascending[i]});
            ix.InsertRecord(kSession, caseTable.Records[id], id);
        }
        std::vector<TABSRecordID> order;
        TABSKeyPath path;
        for (bool ok = ix.First(kSession, path); ok; ok = ix.Next(kSession, path))
            order.push_back(ix.RecordAt(kSession, path));
        std::vector<TABSRecordID> expected;
        for (std::size_t i = 0; i < c.ascending.size(); ++i)
            expected.push_back({1, static_cast<std::uint16_t>(i)});
        EXPECT_EQ(order, expected) << c.what;
        for (std::size_t i = 0; i < c.ascending.size(); ++i) {
            TABSKeyPath found;
            ASSERT_TRUE(ix.FindKey(kSession, ix.KeyRef().ValueSearchKey({c.ascending[i]}), TABSFindMode::FirstEqual, found))
                << c.what << " value " << i;
            EXPECT_EQ(ix.RecordAt(kSession, found), expected[i]) << c.what << " value " << i;
        }
        ix.CheckIntegrity(kSession);
    }
}

TEST(RecordKeyLayoutTest, RejectsBlobFieldsAndUnknownFields) {
    FakeTable table;
    table.AddField("N", TABSColumnType::actInteger);
    table.AddField("M", TABSColumnType::actMemo);
    struct Case {
        const char* column;
        int code;
    };
    for (const Case& c : std::vector<Case>{{"M", 20295}, {"X", 20043}}) {
        TABSIndexDef def("IX", 1, {{c.column}});
        EXPECT_EQ(ErrorCodeOf([&] { (void)BuildKeyLayout(def, table.Fields); }), c.code) << c.column;
    }
}

// ---- Delete: merges, collapse, emptying ----

TEST_F(RecordIndexTest, UnderfullLeafMergesIntoItsLeftNeighbourOrElseItsRightOne) {
    struct Case {
        const char* what;
        int deleteKey;          // taken from the first or the second leaf
        std::size_t survivor;   // root entry index of the leaf that keeps the entries
    };
    for (const Case& c : std::vector<Case>{{"second leaf into the first", 200, 0}, {"first leaf into the second", 5, 0}}) {
        MemoryPageManager casePages;
        FakeTable caseTable;
        caseTable.AddField("N", TABSColumnType::actInteger);
        TABSIndexDef def("IX", 1, {{"N"}});
        TABSBTreeRecordIndex ix(def, BuildKeyLayout(def, caseTable.Fields), casePages, caseTable);
        ix.Create(kSession);
        // 368 ascending keys: leaves of 184 and 184; then 200 more make a third leaf.
        for (int i = 1; i <= 568; ++i) {
            caseTable.Records[Rid(i)] = caseTable.MakeRecord({Int(i)});
            ix.InsertRecord(kSession, caseTable.Records[Rid(i)], Rid(i));
        }
        const TABSPageNo root = ix.RootPageNo();
        auto header = [&](TABSPageNo p) {
            TABSPageHandle h = casePages.GetPage(kSession, p);
            return TABSBTreePageHeader::Decode(h.Data());
        };
        auto child = [&](std::size_t e) {
            TABSPageHandle h = casePages.GetPage(kSession, root);
            return ReadI32(h.Data().data() + BTreePageHeader::kSize + e * 9 + 5);
        };
        ASSERT_EQ(header(root).EntryCount, 3) << c.what;
        const TABSPageNo first = child(0);
        const TABSPageNo second = child(1);
        const TABSPageNo third = child(2);
        ASSERT_EQ(header(first).EntryCount, 184);
        ASSERT_EQ(header(second).EntryCount, 184);

        const TABSRecordID victim = Rid(c.deleteKey);
        ix.DeleteRecord(kSession, caseTable.Records.at(victim), victim);
        caseTable.Records.erase(victim);

        EXPECT_EQ(header(root).EntryCount, 2) << c.what;
        const TABSPageNo kept = child(c.survivor);
        const TABSPageNo gone = c.deleteKey < 185 ? first : second;
        EXPECT_EQ(kept, c.deleteKey < 185 ? second : first) << c.what;
        EXPECT_EQ(header(kept).EntryCount, 367) << c.what;
        EXPECT_EQ(header(kept).NextPageNo, third) << c.what;
        EXPECT_EQ(header(third).PrevPageNo, kept) << c.what;
        ix.CheckIntegrity(kSession);
        casePages.CommitSession(kSession);
        EXPECT_FALSE(casePages.IsUsed(gone)) << c.what << ": the merged page is given back";
        EXPECT_EQ(ix.EntryCount(kSession), 567u);
    }
}

TEST_F(RecordIndexTest, RootCollapsesWhenOnlyOneChildIsLeft) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    const TABSPageNo root = index->RootPageNo();
    for (int i = 0; i < 368; ++i)
        Add({Int(i)}, Rid(i));
    ASSERT_FALSE(Header(root).IsLeaf);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedPageCount(), 3u);
    Remove(Rid(300));
    EXPECT_EQ(index->RootPageNo(), root);
    const TABSBTreePageHeader top = Header(root);
    EXPECT_TRUE(top.IsLeaf);
    EXPECT_TRUE(top.IsRoot);
    EXPECT_EQ(top.EntryCount, 367);
    EXPECT_EQ(top.PrevPageNo, -1);
    EXPECT_EQ(top.NextPageNo, -1);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedPageCount(), 1u);
    index->CheckIntegrity(kSession);
}

TEST_F(RecordIndexTest, DeletingEverythingLeavesAnEmptyRootLeafWithTheSameNumber) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    const TABSPageNo root = index->RootPageNo();
    for (int i = 0; i < 2000; ++i)
        Add({Int(i % 97)}, Rid(i));
    std::vector<TABSRecordID> all;
    for (const auto& [id, record] : table.Records)
        all.push_back(id);
    std::mt19937 random(11);
    std::shuffle(all.begin(), all.end(), random);
    for (const TABSRecordID& id : all)
        Remove(id);
    EXPECT_EQ(index->RootPageNo(), root);
    EXPECT_TRUE(Header(root).IsLeaf);
    EXPECT_EQ(index->EntryCount(kSession), 0u);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedPageCount(), 1u);
}

TEST_F(RecordIndexTest, EmptyingKeepsTheRootPageNumberAndTheTreeUsable) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    const TABSPageNo root = index->RootPageNo();
    for (int i = 0; i < 1500; ++i)
        Add({Int(i)}, Rid(i));
    table.Records.clear();
    index->Empty(kSession);
    EXPECT_EQ(index->RootPageNo(), root);
    EXPECT_EQ(index->EntryCount(kSession), 0u);
    TABSKeyPath path;
    EXPECT_FALSE(index->First(kSession, path));
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedPageCount(), 1u);
    Add({Int(5)}, Rid(1));
    EXPECT_EQ(IndexOrder(), (std::vector<TABSRecordID>{Rid(1)}));
}

TEST_F(RecordIndexTest, DeletingAMissingEntryFailsWith20250) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    Add({Int(1)}, Rid(1));
    const auto other = table.MakeRecord({Int(2)});
    EXPECT_EQ(ErrorCodeOf([&] { index->DeleteRecord(kSession, other, Rid(1)); }), 20250) << "other key";
    EXPECT_EQ(ErrorCodeOf([&] { index->DeleteRecord(kSession, table.Records.at(Rid(1)), Rid(2)); }), 20250)
        << "other record";
    EXPECT_EQ(index->EntryCount(kSession), 1u);
}

// ---- Find modes ----

TEST_F(RecordIndexTest, FiveFindModesOnDuplicates) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    Add({Int(10)}, {1, 0});
    Add({Int(20)}, {2, 1});
    Add({Int(20)}, {1, 7});
    Add({Int(20)}, {2, 0});
    Add({Int(30)}, {1, 1});
    // Enough other keys to spread the duplicates over several leaves.
    for (int i = 0; i < 800; ++i)
        Add({Int(i < 400 ? -i - 1 : 1000 + i)}, {50, static_cast<std::uint16_t>(i)});
    struct Case {
        TABSFindMode mode;
        int key;
        std::optional<TABSRecordID> expected;
    };
    const std::vector<Case> cases = {
        {TABSFindMode::FirstEqual, 20, TABSRecordID{1, 7}},   {TABSFindMode::FirstEqual, 25, std::nullopt},
        {TABSFindMode::LastBelow, 20, TABSRecordID{1, 0}},    {TABSFindMode::LastBelow, -400, std::nullopt},
        {TABSFindMode::FirstAbove, 20, TABSRecordID{1, 1}},   {TABSFindMode::FirstAbove, 1799, std::nullopt},
        {TABSFindMode::LastAtOrBelow, 20, TABSRecordID{2, 1}}, {TABSFindMode::LastAtOrBelow, 25, TABSRecordID{2, 1}},
        {TABSFindMode::LastAtOrBelow, -401, std::nullopt},    {TABSFindMode::FirstAtOrAbove, 20, TABSRecordID{1, 7}},
        {TABSFindMode::FirstAtOrAbove, 25, TABSRecordID{1, 1}}, {TABSFindMode::FirstAtOrAbove, 1800, std::nullopt},
    };
    for (const Case& c : cases) {
        TABSKeyPath path;
        const bool found = index->FindKey(kSession, index->KeyRef().ValueSearchKey({Int(c.key)}), c.mode, path);
        ASSERT_EQ(found, c.expected.has_value()) << "mode " << int(c.mode) << " key " << c.key;
        if (found) {
            EXPECT_EQ(index->RecordAt(kSession, path), *c.expected) << "mode " << int(c.mode) << " key " << c.key;
        }
    }
}

TEST_F(RecordIndexTest, FindModesWithFewerColumnsAndPartialStrings) {
    table.AddField("N", TABSColumnType::actInteger);
    table.AddField("S", TABSColumnType::actString, 30);
    MakeIndex({{"N"}, {"S"}});
    Add({Int(20), Str("b")}, {1, 0});
    Add({Int(20), Str("a")}, {1, 1});
    Add({Int(30), Str("x")}, {1, 2});
    Add({Int(40), Str("Meyer")}, {2, 0});
    Add({Int(40), Str("Mai")}, {2, 1});
    Add({Int(40), Str("M\xC3\xBCller")}, {2, 2});
    Add({Int(40), Str("Meier")}, {2, 3});
    struct Case {
        std::vector<TABSVariant> key;
        bool partial;
        TABSFindMode mode;
        std::optional<TABSRecordID> expected;
    };
    const std::vector<Case> cases = {
        {{Int(20)}, false, TABSFindMode::FirstEqual, TABSRecordID{1, 1}},
        {{Int(20)}, false, TABSFindMode::LastAtOrBelow, TABSRecordID{1, 0}},
        {{Int(20)}, false, TABSFindMode::FirstAbove, TABSRecordID{1, 2}},
        {{Int(40), Str("Me")}, true, TABSFindMode::FirstEqual, TABSRecordID{2, 3}},
        {{Int(40), Str("Me")}, true, TABSFindMode::LastAtOrBelow, TABSRecordID{2, 0}},
        {{Int(40), Str("Me")}, true, TABSFindMode::FirstAbove, TABSRecordID{2, 2}},
        {{Int(40), Str("Me")}, true, TABSFindMode::LastBelow, TABSRecordID{2, 1}},
        {{Int(40), Str("Me")}, false, TABSFindMode::FirstEqual, std::nullopt},
        {{Int(40), Str("Mo")}, true, TABSFindMode::FirstEqual, std::nullopt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        TABSKeyPath path;
        const bool found = index->FindKey(kSession, index->KeyRef().ValueSearchKey(c.key, c.partial), c.mode, path);
        ASSERT_EQ(found, c.expected.has_value()) << "case " << i;
        if (found) {
            EXPECT_EQ(index->RecordAt(kSession, path), *c.expected) << "case " << i;
        }
    }
}

// ---- Positions ----

TEST_F(RecordIndexTest, PositionsWalkTheLeavesBothWays) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    EXPECT_EQ(ErrorCodeOf([&] { (void)index->RecordAtPosition(kSession, 0); }), 20074);
    for (int i = 0; i < 1000; ++i)
        Add({Int(999 - i)}, Rid(i));
    for (std::uint64_t position : {0u, 1u, 366u, 367u, 500u, 999u}) {
        const TABSRecordID id = index->RecordAtPosition(kSession, position);
        EXPECT_EQ(id, Rid(static_cast<int>(999 - position)));
        EXPECT_EQ(index->PositionOfRecord(kSession, table.Records.at(id), id), position);
    }
    EXPECT_EQ(ErrorCodeOf([&] { (void)index->RecordAtPosition(kSession, 1000); }), 20075);
    const auto stranger = table.MakeRecord({Int(5)});
    EXPECT_EQ(ErrorCodeOf([&] { (void)index->PositionOfRecord(kSession, stranger, Rid(3)); }), 20047);
}

TEST_F(RecordIndexTest, CursorStepsFollowIndexOrderAndRefuseCurrent) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    for (int i = 0; i < 3; ++i)
        Add({Int(10 - i)}, Rid(i));
    TABSKeyPath path;
    ASSERT_TRUE(index->First(kSession, path));
    EXPECT_EQ(index->RecordAt(kSession, path), Rid(2));
    ASSERT_TRUE(index->Step(kSession, path, TABSGetRecordMode::grmNext));
    EXPECT_EQ(index->RecordAt(kSession, path), Rid(1));
    ASSERT_TRUE(index->Step(kSession, path, TABSGetRecordMode::grmPrior));
    EXPECT_EQ(index->RecordAt(kSession, path), Rid(2));
    EXPECT_FALSE(index->Step(kSession, path, TABSGetRecordMode::grmPrior));
    EXPECT_EQ(index->RecordAt(kSession, path), Rid(2)) << "a failed step leaves the path";
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { (void)index->Step(kSession, path, TABSGetRecordMode::grmCurrent); }, &message), 20079);
    EXPECT_EQ(message, "Invalid get record mode for index: grmCurrent");
}

TEST(KeyPathTest, ComparesLevelByLevelAndRefusesPathsOfOtherTrees) {
    TABSKeyPath a;
    a.Push(7, 1, 4);
    a.Push(9, 3, 10);
    TABSKeyPath b;
    b.Push(7, 1, 4);
    b.Push(12, 0, 10);
    EXPECT_GT(TABSKeyPath::Compare(a, b), 0);
    EXPECT_LT(TABSKeyPath::Compare(b, a), 0);
    EXPECT_EQ(TABSKeyPath::Compare(a, a), 0);
    EXPECT_DOUBLE_EQ(a.RelativePosition(), 1.0 / 4 + 3.0 / 40);
    TABSKeyPath other;
    other.Push(8, 0, 1);
    other.Push(9, 0, 1);
    EXPECT_EQ(ErrorCodeOf([&] { (void)TABSKeyPath::Compare(a, other); }), 20051);
    TABSKeyPath shallow;
    shallow.Push(7, 0, 4);
    EXPECT_EQ(ErrorCodeOf([&] { (void)TABSKeyPath::Compare(a, shallow); }), 20052);
    TABSKeyPath deep;
    for (int i = 0; i < 32; ++i)
        deep.Push(i, 0, 1);
    EXPECT_EQ(ErrorCodeOf([&] { deep.Push(33, 0, 1); }), 20028);
}

// ---- Updates and unique lookups ----

TEST_F(RecordIndexTest, UpdateMovesTheEntryEvenWhenTheRecordPageHoldsTheNewValueAlready) {
    table.AddField("S", TABSColumnType::actString, 45);
    MakeIndex({{"S"}});
    const std::string prefix(25, 'k');
    Add({Str(prefix + "b")}, Rid(1));
    Add({Str(prefix + "d")}, Rid(2));
    const auto oldRecord = table.Records.at(Rid(1));
    const auto newRecord = table.MakeRecord({Str(prefix + "z")});
    table.Records[Rid(1)] = newRecord;  // the record page is written before the indexes follow
    EXPECT_TRUE(index->UpdateRecord(kSession, oldRecord, newRecord, Rid(1)));
    EXPECT_EQ(IndexOrder(), (std::vector<TABSRecordID>{Rid(2), Rid(1)}));
    EXPECT_FALSE(index->UpdateRecord(kSession, newRecord, table.MakeRecord({Str(prefix + "z")}), Rid(1)))
        << "an unchanged key leaves the entry where it is";
    index->CheckIntegrity(kSession);
}

TEST_F(RecordIndexTest, KeyExistsLeavesTheRecordItselfOut) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    Add({Int(4)}, Rid(1));
    Add({Int(5)}, Rid(2));
    Add({Int(5)}, Rid(3));
    const auto four = table.MakeRecord({Int(4)});
    const auto five = table.MakeRecord({Int(5)});
    const auto six = table.MakeRecord({Int(6)});
    struct Case {
        const std::vector<std::uint8_t>* record;
        std::optional<TABSRecordID> self;
        bool expected;
    };
    const std::vector<Case> cases = {
        {&four, std::nullopt, true}, {&four, Rid(1), false}, {&five, Rid(2), true},
        {&five, Rid(3), true},       {&six, std::nullopt, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const TABSRecordID* self = c.self ? &*c.self : nullptr;
        EXPECT_EQ(index->KeyExists(kSession, *c.record, self), c.expected) << "case " << i;
    }
}

// ---- Integrity ----

TEST_F(RecordIndexTest, IntegrityCheckFindsDamagedPages) {
    table.AddField("N", TABSColumnType::actInteger);
    MakeIndex({{"N"}});
    for (int i = 0; i < 1000; ++i)
        Add({Int(i)}, Rid(i));
    pages.CommitSession(kSession);
    index->CheckIntegrity(kSession);
    const TABSPageNo root = index->RootPageNo();
    const TABSPageNo leaf = Child(root, 1, 5);
    auto entryOffset = [](std::size_t i, std::size_t size) {
        return PageHeader::kSize + BTreePageHeader::kSize + i * size;
    };
    struct Case {
        const char* what;
        TABSPageNo page;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"two keys swapped", leaf,
         [&](std::vector<std::uint8_t>& b) {
             std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(entryOffset(3, 11)),
                              b.begin() + static_cast<std::ptrdiff_t>(entryOffset(3, 11) + 5),
                              b.begin() + static_cast<std::ptrdiff_t>(entryOffset(4, 11)));
         },
         "Index integrity violated. PageNo=" + std::to_string(leaf) + " EntryNo=4"},
        {"a child pointing back at the root", root,
         [&](std::vector<std::uint8_t>& b) { WriteI32(b.data() + entryOffset(1, 9) + 5, root); },
         "Index integrity violated. Circular links. PageNo=" + std::to_string(root) + " EntryNo=1"},
        {"a leaf that claims to be an inner node", leaf,
         [&](std::vector<std::uint8_t>& b) { b[PageHeader::kSize + BTreePageHeader::kLeafFlagOffset] = 0; },
         "Index integrity violated. Invlaid leaf link. PageNo=" + std::to_string(root) + " EntryNo=1"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> saved;
        pages.PatchStoredPage(c.page, [&](std::vector<std::uint8_t>& b) {
            saved = b;
            c.damage(b);
        });
        std::string message;
        EXPECT_EQ(ErrorCodeOf([&] { index->CheckIntegrity(kSession); }, &message), 20028) << c.what;
        EXPECT_EQ(message, c.message) << c.what;
        pages.PatchStoredPage(c.page, [&](std::vector<std::uint8_t>& b) { b = saved; });
        index->CheckIntegrity(kSession);
    }
}

// ---- Randomized against std::multimap ----

TEST_F(RecordIndexTest, RandomInsertsAndDeletesMatchAMultimap) {
    table.AddField("N", TABSColumnType::actInteger);
    table.AddField("S", TABSColumnType::actString, 45);
    TABSIndexDef byNumber("BYN", 1, {{"N"}});
    TABSIndexDef byText("BYS", 2, {{"S"}, {"N"}});
    TABSBTreeRecordIndex numbers(byNumber, BuildKeyLayout(byNumber, table.Fields), pages, table);
    TABSBTreeRecordIndex texts(byText, BuildKeyLayout(byText, table.Fields), pages, table);
    numbers.Create(kSession);
    texts.Create(kSession);

    std::multimap<int, TABSRecordID> model;
    std::map<TABSRecordID, std::pair<int, std::string>> values;
    std::mt19937 random(2024);
    const std::string shared = "Leichtathletik-Kreis-";  // 21 characters: beyond the stored prefix
    int nextRecord = 0;
    auto walk = [&](TABSBTreeRecordIndex& ix) {
        std::vector<TABSRecordID> ids;
        TABSKeyPath path;
        for (bool ok = ix.First(kSession, path); ok; ok = ix.Next(kSession, path))
            ids.push_back(ix.RecordAt(kSession, path));
        return ids;
    };
    for (int batch = 0; batch < 25; ++batch) {
        const bool growing = batch < 15;
        for (int op = 0; op < 250; ++op) {
            const bool insert = values.empty() || (random() % 100) < (growing ? 70u : 35u);
            if (insert) {
                const TABSRecordID id{static_cast<TABSPageNo>(random() % 60) - 5,
                                      static_cast<std::uint16_t>(nextRecord++ % 1000)};
                if (values.contains(id))
                    continue;
                const int n = static_cast<int>(random() % 50);
                std::string s = (random() % 3 == 0 ? std::string("B") : shared) + std::to_string(random() % 40);
                if (random() % 4 == 0)
                    s[static_cast<std::size_t>(random() % s.size())] = 'a';
                const auto record = table.MakeRecord({Int(n), Str(s)});
                table.Records[id] = record;
                numbers.InsertRecord(kSession, record, id);
                texts.InsertRecord(kSession, record, id);
                model.emplace(n, id);
                values[id] = {n, s};
            } else {
                auto it = values.begin();
                std::advance(it, static_cast<std::ptrdiff_t>(random() % values.size()));
                const TABSRecordID id = it->first;
                numbers.DeleteRecord(kSession, table.Records.at(id), id);
                texts.DeleteRecord(kSession, table.Records.at(id), id);
                auto range = model.equal_range(it->second.first);
                for (auto m = range.first; m != range.second; ++m)
                    if (m->second == id) {
                        model.erase(m);
                        break;
                    }
                table.Records.erase(id);
                values.erase(it);
            }
        }
        numbers.CheckIntegrity(kSession);
        texts.CheckIntegrity(kSession);

        std::vector<std::pair<int, TABSRecordID>> expected(model.begin(), model.end());
        std::sort(expected.begin(), expected.end());  // equal keys by record identifier
        std::vector<TABSRecordID> expectedNumbers;
        for (const auto& [n, id] : expected)
            expectedNumbers.push_back(id);
        ASSERT_EQ(walk(numbers), expectedNumbers) << "batch " << batch;

        std::vector<TABSRecordID> expectedTexts;
        for (const auto& [id, v] : values)
            expectedTexts.push_back(id);
        std::sort(expectedTexts.begin(), expectedTexts.end(), [&](const TABSRecordID& a, const TABSRecordID& b) {
            const auto& va = values.at(a);
            const auto& vb = values.at(b);
            if (int c = CompareText(va.second, vb.second); c != 0)
                return c < 0;
            if (va.first != vb.first)
                return va.first < vb.first;
            return a < b;
        });
        ASSERT_EQ(walk(texts), expectedTexts) << "batch " << batch;
        if (batch % 4 == 3)
            pages.CommitSession(kSession);
    }
}

} // namespace
} // namespace kova
