// The index manager (maintenance, unique and primary checks, temporary indexes) and scan
// conditions: which index serves which part, how conditions merge, which range is chosen, and
// that searches find exactly the records a plain evaluation finds.
#include "btree_test_support.h"

#include "engine/core/Collation.h"
#include "engine/storage/ABSIndexManager.h"
#include "engine/storage/ABSIntegerArray.h"
#include "engine/storage/ABSScanCondition.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace kova {
namespace {

using testing::ErrorCodeOf;
using testing::FakeTable;
using testing::Int;
using testing::MemoryPageManager;
using testing::Str;

constexpr TABSSessionID kSession = 0;
using Op = TABSScanOperator;

// Indexes of the fixture table.
constexpr std::int32_t kPrimaryID = 10;
constexpr std::int32_t kAgeID = 11;      // AGE descending
constexpr std::int32_t kNameID = 12;     // NAME case-insensitive
constexpr std::int32_t kCityID = 13;     // CITY, NAME
constexpr std::int32_t kAgeAscID = 14;   // AGE ascending

class ScanTest : public ::testing::Test {
protected:
    MemoryPageManager pages;
    MemoryPageManager temporaryPages;
    FakeTable table;
    std::unique_ptr<TABSBaseIndexManager> indexes;
    TABSConstraintDefs constraints;
    std::string savedLocale;

    void SetUp() override {
        savedLocale = CollationLocale();
        SetCollationLocale("de_DE");
        table.AddField("ID", TABSColumnType::actInteger);
        table.AddField("NAME", TABSColumnType::actString, 20);
        table.AddField("CITY", TABSColumnType::actString, 30);
        table.AddField("AGE", TABSColumnType::actInteger);
        indexes = std::make_unique<TABSBaseIndexManager>(pages, table.Fields, table);
        indexes->SetTemporaryPageManager(&temporaryPages);
        TABSIndexDefs defs;
        defs.Add(TABSIndexDef("PK", kPrimaryID, {{"ID"}}, /*unique*/ true, /*primary*/ true));
        TABSIndexColumn ageDesc{"AGE"};
        ageDesc.Descending = true;
        defs.Add(TABSIndexDef("IX_AGE", kAgeID, {ageDesc}));
        TABSIndexColumn name{"NAME"};
        name.CaseInsensitive = true;
        defs.Add(TABSIndexDef("IX_NAME", kNameID, {name}));
        defs.Add(TABSIndexDef("IX_CITY", kCityID, {{"CITY"}, {"NAME"}}));
        defs.Add(TABSIndexDef("IX_AGE_ASC", kAgeAscID, {{"AGE"}}));
        indexes->LoadDefinitions(defs);
        indexes->CreatePersistentTrees(kSession);

        auto primary = std::make_unique<TABSConstraintDefPrimary>();
        primary->Name = "PK_PERSON";
        primary->SetIndexName("PK");
        constraints.AddLoaded(std::move(primary));
    }
    void TearDown() override {
        indexes.reset();
        SetCollationLocale(savedLocale);
    }

    TABSRecordID Insert(int id, const std::string& name, const std::string& city, std::optional<int> age) {
        const TABSRecordID rid{100 + id / 50, static_cast<std::uint16_t>(id % 50)};
        auto record = table.MakeRecord({Int(id), Str(name), Str(city), age ? Int(*age) : TABSVariant()});
        indexes->CheckUniqueness(kSession, constraints, record, nullptr);
        table.Records[rid] = record;
        indexes->InsertRecord(kSession, record, rid);
        return rid;
    }
    static TABSScanConditionPart Part(const std::string& field, Op op, TABSVariant constant = {}) {
        TABSScanConditionPart part;
        part.FieldName = field;
        part.Operator = op;
        part.Constant = std::move(constant);
        return part;
    }
    TABSScanSearchConditionArray Build(const std::vector<TABSScanConditionPart>& parts,
                                       TABSSessionID session = kSession) {
        return TABSScanSearchConditionArray::Build(parts, *indexes, table.Fields, session);
    }
    // The index conditions of one index.
    static std::vector<TABSScanSearchCondition> On(const TABSScanSearchConditionArray& array, std::int32_t id) {
        std::vector<TABSScanSearchCondition> found;
        for (const auto& c : array.Conditions())
            if (c.IsIndexCondition() && c.IndexID == id)
                found.push_back(c);
        return found;
    }
};

// ---- Index manager ----

TEST_F(ScanTest, DuplicatePrimaryKeyOrUniqueKeyIsRefusedButARecordDoesNotCollideWithItself) {
    const TABSRecordID first = Insert(1, "Anna", "Bern", 30);
    Insert(2, "Bert", "Chur", 40);
    TABSIndexColumn city{"CITY"};
    TABSIndexDef uniqueCity("UQ_CITY", 20, {city}, /*unique*/ true);
    indexes->AddIndex(kSession, uniqueCity);
    auto unique = std::make_unique<TABSConstraintDefUnique>();
    unique->Name = "UQ_CITY_C";
    unique->SetIndexName("UQ_CITY");
    constraints.AddLoaded(std::move(unique));

    struct Case {
        const char* what;
        std::vector<TABSVariant> values;
        const TABSRecordID* self;
        int code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"duplicate id", {Int(2), Str("X"), Str("Genf"), Int(1)}, nullptr, 30319,
         "Primary Key constraint 'PK_PERSON' violated. Duplicate found."},
        {"duplicate city", {Int(3), Str("X"), Str("Bern"), Int(1)}, nullptr, 30320,
         "Constraint unique 'UQ_CITY_C' violated. Duplicate found."},
        {"the record itself changed", {Int(1), Str("Anna"), Str("Bern"), Int(31)}, &first, 0, ""},
        {"new key", {Int(3), Str("X"), Str("Genf"), Int(1)}, nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        std::string message;
        const auto record = table.MakeRecord(c.values);
        EXPECT_EQ(ErrorCodeOf([&] { indexes->CheckUniqueness(kSession, constraints, record, c.self); }, &message),
                  c.code)
            << c.what;
        EXPECT_EQ(message, c.message) << c.what;
    }
    EXPECT_EQ(indexes->IndexByName("PK").EntryCount(kSession), 2u) << "a refused record changes no index";
}

TEST_F(ScanTest, MaintenanceFollowsInsertUpdateAndDelete) {
    const TABSRecordID rid = Insert(1, "Anna", "Bern", 30);
    Insert(2, "Bert", "Bern", 40);
    const auto oldRecord = table.Records.at(rid);
    const auto newRecord = table.MakeRecord({Int(1), Str("Zora"), Str("Bern"), Int(30)});
    table.Records[rid] = newRecord;
    indexes->UpdateRecord(kSession, oldRecord, newRecord, rid);
    TABSBTreeRecordIndex& byName = indexes->IndexByID(kNameID);
    TABSKeyPath path;
    ASSERT_TRUE(byName.Last(kSession, path));
    EXPECT_EQ(byName.RecordAt(kSession, path), rid);
    indexes->DeleteRecord(kSession, newRecord, rid);
    table.Records.erase(rid);
    for (std::size_t i = 0; i < indexes->Count(); ++i)
        EXPECT_EQ(indexes->At(i).EntryCount(kSession), 1u) << indexes->At(i).Name();
    indexes->CheckIntegrity(kSession);

    const TABSIndexDefs stored = indexes->PersistentDefinitions();
    ASSERT_EQ(stored.Count(), 5u);
    for (const TABSIndexDef& def : stored)
        EXPECT_EQ(def.RootPageNo, indexes->IndexByName(def.Name).RootPageNo()) << def.Name;

    const std::vector<TABSPageNo> roots = [&] {
        std::vector<TABSPageNo> r;
        for (std::size_t i = 0; i < indexes->Count(); ++i) r.push_back(indexes->At(i).RootPageNo());
        return r;
    }();
    indexes->EmptyAll(kSession);
    for (std::size_t i = 0; i < indexes->Count(); ++i) {
        EXPECT_EQ(indexes->At(i).RootPageNo(), roots[i]);
        EXPECT_EQ(indexes->At(i).EntryCount(kSession), 0u);
    }
}

TEST_F(ScanTest, LookupsByIdAndNameReportMissingIndexes) {
    EXPECT_EQ(indexes->IndexByID(kAgeID).Name(), "IX_AGE");
    EXPECT_EQ(indexes->IndexByName("ix_city").ObjectID(), kCityID) << "names ignore case";
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { (void)indexes->IndexByID(99); }, &message), 20045);
    EXPECT_EQ(message, "Cannot find index by ID = 99");
    EXPECT_EQ(ErrorCodeOf([&] { (void)indexes->IndexByName("NOPE"); }, &message), 20046);
    EXPECT_EQ(message, "Index not found");
    EXPECT_EQ(ErrorCodeOf([&] { indexes->AddIndex(kSession, TABSIndexDef("PK", 30, {{"AGE"}})); }), 20048);
}

TEST_F(ScanTest, TemporaryIndexesLiveInTheTemporaryPagesUntilTheTableChanges) {
    for (int i = 0; i < 40; ++i)
        Insert(i, "N" + std::to_string(i), "C" + std::to_string(i % 3), i % 7);
    const std::size_t mainPages = pages.UsedPageCount();
    std::vector<std::uint32_t> draws = {42, 42, 7};
    std::size_t next = 0;
    indexes->SetRandomSource([&] { return draws[next++ % draws.size()]; });

    TABSBTreeRecordIndex& first = indexes->MakeTemporaryIndex(kSession, {{"CITY"}}, /*changeCounter*/ 5);
    EXPECT_EQ(first.Name(), "TEMPORARY_INDEX_42");
    EXPECT_TRUE(first.IsTemporary());
    EXPECT_LT(first.ObjectID(), 0);
    EXPECT_EQ(first.EntryCount(kSession), 40u);
    TABSBTreeRecordIndex& second = indexes->MakeTemporaryIndex(kSession, {{"AGE"}, {"NAME"}}, 5);
    EXPECT_EQ(second.Name(), "TEMPORARY_INDEX_7") << "a taken name is drawn again";
    EXPECT_EQ(pages.UsedPageCount(), mainPages) << "temporary trees stay out of the database pages";
    EXPECT_GT(temporaryPages.UsedPageCount(), 0u);
    EXPECT_EQ(indexes->FindTemporaryIndex(kSession, {{"CITY"}}, 5), &first);
    EXPECT_EQ(indexes->FindTemporaryIndex(kSession, {{"CITY"}}, 6), nullptr);
    EXPECT_EQ(indexes->FindTemporaryIndex(1, {{"CITY"}}, 5), nullptr);
    EXPECT_EQ(indexes->PersistentDefinitions().Count(), 5u) << "never written to the definition file";

    indexes->DropOutdatedTemporaryIndexes(5);
    EXPECT_NE(indexes->FindIndex("TEMPORARY_INDEX_42"), nullptr);
    Insert(100, "New", "C1", 3);
    EXPECT_EQ(indexes->FindIndex("TEMPORARY_INDEX_42"), nullptr) << "a change drops temporary indexes";
    EXPECT_EQ(indexes->FindIndex("TEMPORARY_INDEX_7"), nullptr);
    EXPECT_EQ(temporaryPages.UsedPageCount(), 0u);

    TABSBaseIndexManager withoutTemporaryPages(pages, table.Fields, table);
    EXPECT_EQ(ErrorCodeOf([&] { (void)withoutTemporaryPages.MakeTemporaryIndex(kSession, {{"AGE"}}, 0); }), 20077);
}

// ---- Serving and find modes ----

TEST_F(ScanTest, FindModeDependsOnTheOperatorAndTheColumnDirection) {
    struct Case {
        Op op;
        TABSFindMode ascending;
        TABSFindMode descending;
    };
    const std::vector<Case> cases = {
        {Op::Equal, TABSFindMode::FirstEqual, TABSFindMode::FirstEqual},
        {Op::IsNull, TABSFindMode::FirstEqual, TABSFindMode::FirstEqual},
        {Op::Greater, TABSFindMode::FirstAbove, TABSFindMode::LastBelow},
        {Op::IsNotNull, TABSFindMode::FirstAbove, TABSFindMode::LastBelow},
        {Op::Less, TABSFindMode::LastBelow, TABSFindMode::FirstAbove},
        {Op::GreaterOrEqual, TABSFindMode::FirstAtOrAbove, TABSFindMode::LastAtOrBelow},
        {Op::LessOrEqual, TABSFindMode::LastAtOrBelow, TABSFindMode::FirstAtOrAbove},
    };
    for (const Case& c : cases) {
        const auto array = Build({Part("AGE", c.op, Int(30))});
        const auto asc = On(array, kAgeAscID);
        const auto desc = On(array, kAgeID);
        ASSERT_EQ(asc.size(), 1u) << int(c.op);
        ASSERT_EQ(desc.size(), 1u) << int(c.op);
        EXPECT_EQ(asc[0].Mode, c.ascending) << int(c.op);
        EXPECT_EQ(desc[0].Mode, c.descending) << int(c.op);
        EXPECT_EQ(array.RecordCondition(), nullptr);
    }
}

TEST_F(ScanTest, WhichPartsAnIndexServes) {
    auto withCase = [](TABSScanConditionPart p, bool ignoreCase, TABSCaseWrap wrap) {
        p.IgnoreCase = ignoreCase;
        p.Wrap = wrap;
        return p;
    };
    TABSScanConditionPart partial = Part("NAME", Op::Equal, Str("An"));
    partial.IgnoreCase = true;
    partial.Partial = true;
    TABSVariant fraction;
    fraction.SetAsDouble(2.5);
    TABSVariant wholeDouble;
    wholeDouble.SetAsDouble(30.0);
    struct Case {
        const char* what;
        TABSScanConditionPart part;
        std::int32_t index;
        bool served;
    };
    const std::vector<Case> cases = {
        {"ignore-case option on a case-insensitive column", withCase(Part("NAME", Op::Equal, Str("anna")), true, TABSCaseWrap::None), kNameID, true},
        {"case-sensitive comparison, case-insensitive column", Part("NAME", Op::Equal, Str("anna")), kNameID, false},
        {"UPPER with an upper-case constant", withCase(Part("NAME", Op::Equal, Str("ANNA")), false, TABSCaseWrap::Upper), kNameID, true},
        {"UPPER with a mixed-case constant", withCase(Part("NAME", Op::Equal, Str("Anna")), false, TABSCaseWrap::Upper), kNameID, false},
        {"LOWER with a lower-case constant", withCase(Part("NAME", Op::Equal, Str("anna")), false, TABSCaseWrap::Lower), kNameID, true},
        {"case-sensitive first column", Part("CITY", Op::Equal, Str("Bern")), kCityID, true},
        {"constant shorter than the field", withCase(Part("NAME", Op::Equal, Str(std::string(19, 'a'))), true, TABSCaseWrap::None), kNameID, true},
        {"constant as long as the field", withCase(Part("NAME", Op::Equal, Str(std::string(20, 'a'))), true, TABSCaseWrap::None), kNameID, false},
        {"not equal", withCase(Part("NAME", Op::NotEqual, Str("a")), true, TABSCaseWrap::None), kNameID, false},
        {"partial comparison", partial, kNameID, false},
        {"fraction against an Integer field", Part("AGE", Op::Greater, fraction), kAgeAscID, false},
        {"whole double against an Integer field", Part("AGE", Op::Greater, wholeDouble), kAgeAscID, true},
        {"text against an Integer field compares as text", Part("AGE", Op::Equal, Str("30")), kAgeAscID, false},
        {"second column alone", Part("NAME", Op::Equal, Str("Anna")), kCityID, false},
        {"IS NULL", Part("AGE", Op::IsNull), kAgeID, true},
    };
    for (const Case& c : cases) {
        const auto array = Build({c.part});
        EXPECT_EQ(On(array, c.index).size(), c.served ? 1u : 0u) << c.what;
        EXPECT_EQ(array.RecordCondition() == nullptr, !On(array, kNameID).empty() || !On(array, kCityID).empty() ||
                                                          !On(array, kAgeID).empty() || !On(array, kAgeAscID).empty())
            << c.what << ": a part no index serves is evaluated per record";
    }
}

TEST_F(ScanTest, TemporaryIndexOfAnotherSessionDoesNotServe) {
    Insert(1, "A", "B", 1);
    TABSBTreeRecordIndex& temp = indexes->MakeTemporaryIndex(kSession, {{"ID"}, {"AGE"}}, 0);
    EXPECT_EQ(On(Build({Part("ID", Op::Equal, Int(1))}, kSession), temp.ObjectID()).size(), 1u);
    EXPECT_EQ(On(Build({Part("ID", Op::Equal, Int(1))}, 7), temp.ObjectID()).size(), 0u);
}

// ---- Merging ----

TEST_F(ScanTest, ConditionsOnOneIndexMerge) {
    struct Case {
        const char* what;
        std::vector<TABSScanConditionPart> parts;
        bool empty;
        std::vector<std::pair<TABSFindMode, int>> expected;  // on the ascending AGE index
    };
    const std::vector<Case> cases = {
        {"contradiction", {Part("AGE", Op::Greater, Int(30)), Part("AGE", Op::Less, Int(20))}, true, {}},
        {">= and <= on one key become =", {Part("AGE", Op::GreaterOrEqual, Int(30)), Part("AGE", Op::LessOrEqual, Int(30))}, false,
         {{TABSFindMode::FirstEqual, 30}}},
        {"> and <= on one key contradict", {Part("AGE", Op::Greater, Int(30)), Part("AGE", Op::LessOrEqual, Int(30))}, true, {}},
        {"tighter lower bound", {Part("AGE", Op::Greater, Int(10)), Part("AGE", Op::Greater, Int(20))}, false,
         {{TABSFindMode::FirstAbove, 20}}},
        {"exclusive bound is tighter at one key", {Part("AGE", Op::GreaterOrEqual, Int(20)), Part("AGE", Op::Greater, Int(20))}, false,
         {{TABSFindMode::FirstAbove, 20}}},
        {"tighter upper bound", {Part("AGE", Op::Less, Int(50)), Part("AGE", Op::LessOrEqual, Int(40))}, false,
         {{TABSFindMode::LastAtOrBelow, 40}}},
        {"identical dropped", {Part("AGE", Op::Equal, Int(5)), Part("AGE", Op::Equal, Int(5))}, false,
         {{TABSFindMode::FirstEqual, 5}}},
        {"two different equalities", {Part("AGE", Op::Equal, Int(5)), Part("AGE", Op::Equal, Int(6))}, true, {}},
        {"equality inside a bound absorbs it", {Part("AGE", Op::Equal, Int(25)), Part("AGE", Op::Greater, Int(20))}, false,
         {{TABSFindMode::FirstEqual, 25}}},
        {"equality outside a bound", {Part("AGE", Op::Equal, Int(15)), Part("AGE", Op::Greater, Int(20))}, true, {}},
        {"a range keeps both bounds", {Part("AGE", Op::Greater, Int(10)), Part("AGE", Op::Less, Int(50))}, false,
         {{TABSFindMode::FirstAbove, 10}, {TABSFindMode::LastBelow, 50}}},
        {"comparison with NULL", {Part("AGE", Op::Greater, TABSVariant())}, true, {}},
    };
    for (const Case& c : cases) {
        const auto array = Build(c.parts);
        EXPECT_EQ(array.IsEmptyResult(), c.empty) << c.what;
        if (c.empty)
            continue;
        const auto on = On(array, kAgeAscID);
        ASSERT_EQ(on.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < on.size(); ++i) {
            EXPECT_EQ(on[i].Mode, c.expected[i].first) << c.what;
            EXPECT_EQ(on[i].Key.at(0).GetAsInteger(), c.expected[i].second) << c.what;
        }
    }
}

TEST_F(ScanTest, EqualityOnAMultiColumnIndexTakesTheNextColumnsAlong) {
    const auto array = Build({Part("NAME", Op::Equal, Str("Anna")), Part("CITY", Op::Equal, Str("Bern")),
                              Part("CITY", Op::Greater, Str("A"))});
    const auto on = On(array, kCityID);
    ASSERT_EQ(on.size(), 1u) << "the wider equality absorbs the one-column bound";
    EXPECT_EQ(on[0].Mode, TABSFindMode::FirstEqual);
    ASSERT_EQ(on[0].Key.size(), 2u);
    EXPECT_EQ(on[0].Key[0].GetAsString(), "Bern");
    EXPECT_EQ(on[0].Key[1].GetAsString(), "Anna");
}

// ---- Choosing the range ----

TEST_F(ScanTest, IndexChoice) {
    for (int i = 0; i < 3000; ++i)
        Insert(i, "N" + std::to_string(i % 500), "C" + std::to_string(i % 10), i % 100);
    TABSScanCostInputs inputs;
    inputs.RecordCount = 3000;
    inputs.RecordSize = 4 + 21 + 31 + 4 + 1;
    inputs.PassedRecords = 1500;
    struct Case {
        const char* what;
        std::vector<TABSScanConditionPart> parts;
        std::optional<std::int32_t> currentOrder;
        std::optional<std::int32_t> chosen;
    };
    const std::vector<Case> cases = {
        {"unique equality at once", {Part("AGE", Op::Greater, Int(5)), Part("ID", Op::Equal, Int(7))}, kAgeAscID, kPrimaryID},
        {"only condition on the current order", {Part("CITY", Op::Greater, Str("A"))}, kCityID, kCityID},
        {"a narrow range beats the scan", {Part("AGE", Op::Equal, Int(3))}, std::nullopt, kAgeID},
        {"a wide range loses against the scan", {Part("AGE", Op::GreaterOrEqual, Int(1))}, std::nullopt, std::nullopt},
        {"no index condition", {Part("NAME", Op::NotEqual, Str("x"))}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        TABSScanSearch search(Build(c.parts), *indexes, table.Fields, table);
        inputs.CurrentOrderIndexID = c.currentOrder;
        search.ChooseRange(kSession, inputs);
        if (c.chosen) {
            ASSERT_TRUE(search.ChosenRange().has_value()) << c.what;
            EXPECT_EQ(search.ChosenRange()->IndexID, *c.chosen) << c.what;
        } else {
            EXPECT_FALSE(search.ChosenRange().has_value()) << c.what;
        }
    }
}

TEST_F(ScanTest, RangeCostFollowsTheEstimatedEntryCount) {
    // 300 entries stay in the root leaf, where relative positions are exact: AGE < 10 holds the
    // entries 0 … 29, so n = round(29 / 300 × 300) = 29.
    for (int i = 0; i < 300; ++i)
        Insert(i, "N", "C", i % 100);
    TABSScanSearch search(Build({Part("AGE", Op::Less, Int(10))}), *indexes, table.Fields, table);
    TABSIndexRange range;
    range.IndexID = kAgeAscID;
    range.Upper = On(search.Conditions(), kAgeAscID).at(0);
    constexpr double D = 4056;
    struct Case {
        const char* what;
        std::optional<std::int32_t> order;
        double expected;
    };
    const std::vector<Case> cases = {
        {"physical order: entries and records", std::nullopt, 29 * (11 + 61) / D},
        {"in the index's own order: entries only", kAgeAscID, 29 * 11 / D},
        {"another index order: entries, records and a second pass", kNameID, 29 * (11 + 61 + 11) / D},
    };
    for (const Case& c : cases) {
        TABSScanCostInputs inputs;
        inputs.RecordCount = 300;
        inputs.RecordSize = 61;
        inputs.CurrentOrderIndexID = c.order;
        EXPECT_DOUBLE_EQ(search.EstimateRangeCost(kSession, range, inputs), c.expected) << c.what;
    }
    search.SetRecordFilter([](std::span<const std::uint8_t>) { return true; });
    TABSScanCostInputs inputs;
    inputs.RecordCount = 300;
    inputs.RecordSize = 61;
    inputs.CurrentOrderIndexID = kAgeAscID;
    EXPECT_DOUBLE_EQ(search.EstimateRangeCost(kSession, range, inputs), 29 * (11 + 61) / D)
        << "a record filter needs the records even in index order";
}

// ---- Searching ----

TEST_F(ScanTest, SearchesFindWhatAPlainEvaluationFinds) {
    std::mt19937 random(5);
    for (int i = 0; i < 600; ++i) {
        const int age = static_cast<int>(random() % 60);
        Insert(i, (random() % 2 ? "anna" : "ANNA") + std::to_string(random() % 20), "C" + std::to_string(random() % 8),
               random() % 10 == 0 ? std::optional<int>() : std::optional<int>(age));
    }
    TABSScanConditionPart upperName = Part("NAME", Op::GreaterOrEqual, Str("ANNA1"));
    upperName.Wrap = TABSCaseWrap::Upper;
    const std::vector<std::vector<TABSScanConditionPart>> searches = {
        {Part("AGE", Op::Less, Int(20))},
        {Part("AGE", Op::Greater, Int(10)), Part("AGE", Op::LessOrEqual, Int(12))},
        {Part("AGE", Op::IsNull)},
        {Part("AGE", Op::IsNotNull), Part("CITY", Op::Equal, Str("C3"))},
        {Part("ID", Op::Equal, Int(77))},
        {Part("CITY", Op::Equal, Str("C2")), Part("AGE", Op::GreaterOrEqual, Int(30))},
        {upperName, Part("AGE", Op::Less, Int(5))},
        {Part("AGE", Op::Greater, Int(50)), Part("AGE", Op::Less, Int(40))},
    };
    auto position = [](const TABSRecordID& id) { return static_cast<std::uint64_t>(id.PageNo) * 50 + id.Slot; };
    for (std::size_t s = 0; s < searches.size(); ++s) {
        std::set<TABSRecordID> expected;
        for (const auto& [id, record] : table.Records) {
            bool all = true;
            for (const auto& part : searches[s])
                all = all && EvaluateConditionPart(part, table.Fields, record);
            if (all)
                expected.insert(id);
        }
        for (const std::optional<std::int32_t> order : {std::optional<std::int32_t>(), std::optional<std::int32_t>(kAgeID)}) {
            TABSScanSearch search(Build(searches[s]), *indexes, table.Fields, table);
            TABSScanCostInputs inputs;
            inputs.RecordCount = table.Records.size();
            inputs.RecordSize = 61;
            inputs.CurrentOrderIndexID = order;
            search.ChooseRange(kSession, inputs);
            TABSRecordBitmap bitmap(0, 1);
            const int readsBefore = table.Reads;
            search.MarkAll(kSession, bitmap, position);
            std::set<TABSRecordID> marked;
            for (const auto& [id, record] : table.Records)
                if (position(id) < bitmap.PositionCount() && bitmap.IsMarked(position(id)))
                    marked.insert(id);
            EXPECT_EQ(marked, expected) << "search " << s;
            EXPECT_EQ(bitmap.MarkedCount(), expected.size()) << "search " << s;
            if (search.Conditions().IsEmptyResult()) {
                EXPECT_EQ(table.Reads, readsBefore) << "an empty search reads no record";
            }

            if (search.ChosenRange()) {
                // Nearest matches in physical order, both ways, from a record in the middle.
                const TABSRecordID middle{105, 25};
                std::optional<TABSRecordID> after;
                std::optional<TABSRecordID> before;
                for (const TABSRecordID& id : expected) {
                    if (id > middle && !after) after = id;
                    if (id < middle) before = id;
                }
                EXPECT_EQ(search.FindNearest(kSession, &middle, true), after) << "search " << s;
                EXPECT_EQ(search.FindNearest(kSession, &middle, false), before) << "search " << s;
                EXPECT_EQ(search.FindNearest(kSession, nullptr, true),
                          expected.empty() ? std::nullopt : std::optional<TABSRecordID>(*expected.begin()))
                    << "search " << s;
            }
        }
    }
}

TEST(RecordBitmapTest, MarksPositionsAndKnowsItsChangeCounter) {
    TABSRecordBitmap bitmap(100, 7);
    EXPECT_TRUE(bitmap.IsCurrent(7));
    EXPECT_FALSE(bitmap.IsCurrent(8));
    for (std::uint64_t p : {3u, 40u, 99u})
        bitmap.Mark(p);
    EXPECT_EQ(bitmap.MarkedCount(), 3u);
    EXPECT_EQ(bitmap.NextMarked(4), std::optional<std::uint64_t>(40));
    EXPECT_EQ(bitmap.PriorMarked(39), std::optional<std::uint64_t>(3));
    EXPECT_EQ(bitmap.MarkedBefore(41), 2u);
    EXPECT_FALSE(bitmap.NextMarked(100).has_value());
    EXPECT_EQ(ErrorCodeOf([&] { bitmap.Mark(100); }), 10395);
    bitmap.Cover(200);
    bitmap.Mark(150);
    EXPECT_TRUE(bitmap.IsMarked(150));
    EXPECT_TRUE(bitmap.IsMarked(99)) << "growing keeps the marks";
}

TEST(IntegerArrayTest, GrowsAndRefusesPositionsOutside) {
    TABSIntegerArray pagesList;
    for (std::int32_t p : {7, 3, 9})
        pagesList.Append(p);
    pagesList.Insert(1, 5);
    EXPECT_EQ(pagesList, TABSIntegerArray({7, 5, 3, 9}));
    pagesList.Delete(0);
    EXPECT_EQ(pagesList.IndexOf(9), 2);
    EXPECT_EQ(pagesList.IndexOf(7), -1);
    pagesList.Sort();
    EXPECT_EQ(pagesList, TABSIntegerArray({3, 5, 9}));
    EXPECT_EQ(ErrorCodeOf([&] { (void)pagesList.At(3); }), 20099);
    EXPECT_EQ(ErrorCodeOf([&] { pagesList.Insert(5, 1); }), 20099);
}

} // namespace
} // namespace kova
