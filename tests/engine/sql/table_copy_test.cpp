// Row copies between cursors and tables, and importing a result into a new table.
#include "table_test_support.h"

#include "engine/sql/ABSStatementExecution.h"
#include "engine/sql/ABSTableCopy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace kova {
namespace {

using tabletest::AppendRow;
using tabletest::ColumnTexts;
using tabletest::CurrentText;
using tabletest::Int;
using tabletest::Real;
using tabletest::Text;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A result held in memory, as query execution would hand one over.
class RowsCursor final : public TABSLocalCursor {
public:
    explicit RowsCursor(std::vector<TABSCursorColumn> columns) : columns_(std::move(columns)) {}
    void Add(std::vector<TABSVariant> row) { rows_.push_back(std::move(row)); }

    std::size_t ColumnCount() const override { return columns_.size(); }
    const TABSCursorColumn& Column(std::size_t index) const override { return columns_[index]; }
    std::int64_t RecordCount() override { return static_cast<std::int64_t>(rows_.size()); }
    bool IsLive() const override { return false; }
    bool First() override { return Move(1); }
    bool Last() override { return Move(static_cast<std::int64_t>(rows_.size())); }
    bool Next() override { return Move(pos_ + 1); }
    bool Prior() override { return Move(pos_ - 1); }
    bool Bof() const override { return pos_ == 0; }
    bool Eof() const override { return pos_ > static_cast<std::int64_t>(rows_.size()); }
    std::int64_t RecNo() const override { return Bof() || Eof() ? 0 : pos_; }
    bool SetRecNo(std::int64_t recNo) override {
        if (recNo < 1 || recNo > static_cast<std::int64_t>(rows_.size())) return false;
        pos_ = recNo;
        return true;
    }
    void GetValue(std::size_t index, TABSVariant& value) override { value = rows_[pos_ - 1][index]; }

private:
    bool Move(std::int64_t to) {
        const auto n = static_cast<std::int64_t>(rows_.size());
        pos_ = std::clamp<std::int64_t>(to, 0, n + 1);
        return pos_ >= 1 && pos_ <= n;
    }
    std::vector<TABSCursorColumn> columns_;
    std::vector<std::vector<TABSVariant>> rows_;
    std::int64_t pos_ = 0;
};

TABSTableDefinition Definition(std::vector<TABSFieldDef> fields, std::vector<TABSIndexDef> indexes = {}) {
    TABSTableDefinition definition;
    for (auto& field : fields) definition.Fields.Add(std::move(field));
    for (auto& index : indexes) definition.Indexes.Add(std::move(index));
    return definition;
}

class CopyRowsTest : public ::testing::Test {
protected:
    // A source table with `rows` rows (ID 1 … rows) and an empty destination of the same shape.
    void MakeTables(int rows) {
        source_ = tables_.Open(tables_.Create("Source", Definition({TABSFieldDef("ID", TABSColumnType::actInteger)})));
        for (int i = 1; i <= rows; ++i) AppendRow(*source_, {Int(i)});
        destinationName_ = tables_.Create("Dest", Definition({TABSFieldDef("ID", TABSColumnType::actInteger)}));
        destination_ = tables_.Open(destinationName_);
    }

    tabletest::MemoryTables tables_;
    std::unique_ptr<TABSTableCursor> source_;
    TABSTableName destinationName_;
    std::unique_ptr<TABSTableCursor> destination_;
};

TEST_F(CopyRowsTest, ReportsProgressEveryNthRowWithRoundedPositions) {
    MakeTables(1000);
    std::vector<std::pair<std::int64_t, int>> reports;  // rows copied so far, position
    TABSCopyRowsOptions options;
    options.Progress = [&](int position, bool&) { reports.emplace_back(destination_->RecordCount(), position); };
    bool continueCopy = true;
    std::string log;
    EXPECT_TRUE(CopyRows(*source_, *destination_, options, continueCopy, log));
    EXPECT_EQ(log, "");
    EXPECT_EQ(destination_->RecordCount(), 1000);

    // N = 1000 / 100 + 1 = 11: after rows 1, 12, 23, … 991.
    ASSERT_EQ(reports.size(), 91u);
    EXPECT_EQ(reports[0], std::make_pair(std::int64_t{1}, 0));
    EXPECT_EQ(reports[1], std::make_pair(std::int64_t{12}, 1));
    EXPECT_EQ(reports[2], std::make_pair(std::int64_t{23}, 2));
    EXPECT_EQ(reports[4], std::make_pair(std::int64_t{45}, 4)) << "4.5 rounds to the even neighbour";
    EXPECT_EQ(reports[5], std::make_pair(std::int64_t{56}, 6));
    EXPECT_EQ(reports[90], std::make_pair(std::int64_t{991}, 99));
}

TEST_F(CopyRowsTest, ProgressRangeWithMinimumAndEqualBounds) {
    struct Case {
        int min, max;
        std::vector<int> positions;
    };
    // 5 rows: 10..20 gives N = 5 / 10 + 1 = 1, each row reports; 7..7 reports every row at 7.
    const std::vector<Case> cases = {{10, 20, {12, 14, 16, 18, 20}}, {7, 7, {7, 7, 7, 7, 7}}};
    MakeTables(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.min);
        std::vector<int> positions;
        TABSCopyRowsOptions options;
        options.ProgressMin = c.min;
        options.ProgressMax = c.max;
        options.Progress = [&](int position, bool&) { positions.push_back(position); };
        bool continueCopy = true;
        std::string log;
        EXPECT_TRUE(CopyRows(*source_, *destination_, options, continueCopy, log));
        EXPECT_EQ(positions, c.positions);
    }
}

TEST_F(CopyRowsTest, StopByTheCallbackEndsWithFalseAndALogLine) {
    MakeTables(100);
    int calls = 0;
    TABSCopyRowsOptions options;
    options.ProgressMax = 10;  // N = 11
    options.Progress = [&](int, bool& continueCopy) {
        if (++calls == 3) continueCopy = false;
    };
    bool continueCopy = true;
    std::string log = "before\r\n";
    EXPECT_FALSE(CopyRows(*source_, *destination_, options, continueCopy, log));
    EXPECT_FALSE(continueCopy);
    EXPECT_EQ(log, "before\r\nTerminated by User.\r\n");
    EXPECT_EQ(destination_->RecordCount(), 23);
}

TEST_F(CopyRowsTest, SourceEndsWhereItStood) {
    MakeTables(10);
    ASSERT_TRUE(source_->SetRecNo(7));
    TABSCopyRowsOptions options;
    bool continueCopy = true;
    std::string log;
    ASSERT_TRUE(CopyRows(*source_, *destination_, options, continueCopy, log));
    EXPECT_EQ(source_->RecNo(), 7);
    EXPECT_EQ(CurrentText(*source_, 0), "7");

    // Also when an error passes on.
    RowsCursor bad({{"ID", TABSBaseType::bftString, TFieldType::ftString, 5}});
    bad.Add({Text("1")});
    bad.Add({Text("x")});
    bad.Add({Text("3")});
    ASSERT_TRUE(bad.SetRecNo(3));
    options.IgnoreErrors = false;
    EXPECT_THROW(CopyRows(bad, *destination_, options, continueCopy, log), EABSException);
    EXPECT_EQ(bad.RecNo(), 3);
    EXPECT_EQ(log, "");
}

TEST(CopyRowsErrors, UnconvertibleValueArrivesAsNullWithALogLine) {
    tabletest::MemoryTables tables;
    const TABSTableName name = tables.Create(
        "Target", Definition({TABSFieldDef("Name", TABSColumnType::actString, 10),
                              TABSFieldDef("Val", TABSColumnType::actInteger)}));
    auto destination = tables.Open(name);
    RowsCursor source({{"Val", TABSBaseType::bftString, TFieldType::ftString, 10},
                       {"Name", TABSBaseType::bftString, TFieldType::ftString, 10},
                       {"Extra", TABSBaseType::bftInteger, TFieldType::ftInteger, 0}});
    source.Add({Text("1"), Text("one"), Int(9)});
    source.Add({Text("abc"), Text("two"), Int(9)});
    source.Add({TABSVariant(), Text("three"), Int(9)});

    TABSCopyRowsOptions options;
    options.TableName = "Target";
    bool continueCopy = true;
    std::string log;
    EXPECT_FALSE(CopyRows(source, *destination, options, continueCopy, log));

    EXPECT_THAT(log, StartsWith("Error copying table \"Target\". Record #2, field 'Val' was copied with Null "
                                "value due to error: "));
    EXPECT_THAT(log, HasSubstr("Native error: 30051"));
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << "one message, for the one bad value";
    // Matched by name, in the destination's own column order; the unconvertible value and the
    // source null both arrive as null, and the column without a destination is left out.
    EXPECT_THAT(ColumnTexts(*destination, 1), ElementsAre("1", "<null>", "<null>"));
    EXPECT_THAT(ColumnTexts(*destination, 0), ElementsAre("one", "two", "three"));
}

TEST(CopyRowsErrors, RowThatCannotBePostedIsLoggedAndSkipped) {
    tabletest::MemoryTables tables;
    const TABSTableName name = tables.Create(
        "Keyed", Definition({TABSFieldDef("ID", TABSColumnType::actInteger)},
                            {TABSIndexDef("pk", 0, {TABSIndexColumn{"ID"}}, true, true)}));
    auto destination = tables.Open(name);
    RowsCursor source({{"ID", TABSBaseType::bftInteger, TFieldType::ftInteger, 0}});
    for (int id : {1, 2, 1, 3}) source.Add({Int(id)});

    TABSCopyRowsOptions options;
    options.TableName = "Keyed";
    bool continueCopy = true;
    std::string log;
    EXPECT_FALSE(CopyRows(source, *destination, options, continueCopy, log));
    EXPECT_THAT(log, StartsWith("Error copying table \"Keyed\". Record #3 was not imported due to error: "));
    EXPECT_EQ(log.substr(log.size() - 4), "\r\n\r\n");
    EXPECT_THAT(ColumnTexts(*destination, 0), ElementsAre("1", "2", "3"));
    EXPECT_EQ(destination->State(), TABSTableCursorState::Browse);

    options.IgnoreErrors = false;
    std::string strictLog;
    EXPECT_THROW(CopyRows(source, *destination, options, continueCopy, strictLog), EABSException);
    EXPECT_EQ(strictLog, "");
}

TEST(ImportTable, MakesTheTableFromTheResultColumnsAndCopiesTheRows) {
    tabletest::MemoryTables tables;
    RowsCursor source({{"Name", TABSBaseType::bftString, TFieldType::ftString, 12},
                       {"Score", TABSBaseType::bftDouble, TFieldType::ftFloat, 0},
                       {"Notes", TABSBaseType::bftMemo, TFieldType::ftMemo, 0},
                       {"Computed", TABSBaseType::bftString, TFieldType::ftString, 0}});
    source.Add({Text("Ann"), Real(1.5), Text(std::string(3000, 'n')), Text("c1")});
    source.Add({Text("Bob"), Real(2.5), TABSVariant(), Text("c2")});
    ASSERT_TRUE(source.SetRecNo(2));

    const TABSTableName target = tables.NewName("Imported");
    std::string log;
    ASSERT_TRUE(ImportTable(tables.Access(), target, source, nullptr, log)) << log;
    EXPECT_EQ(log, "");
    EXPECT_EQ(source.RecNo(), 2);

    auto imported = tables.Open(target);
    const TABSFieldDefs& fields = imported->Table().FieldDefs();
    ASSERT_EQ(fields.Count(), 4u);
    EXPECT_EQ(fields[0].ColumnType, TABSColumnType::actString);
    EXPECT_EQ(fields[0].Size, 12);
    EXPECT_EQ(fields[1].ColumnType, TABSColumnType::actDouble);
    EXPECT_EQ(fields[2].ColumnType, TABSColumnType::actMemo);
    EXPECT_EQ(fields[3].Size, 255) << "a text column of unknown width";
    EXPECT_THAT(ColumnTexts(*imported, 0), ElementsAre("Ann", "Bob"));
    EXPECT_THAT(ColumnTexts(*imported, 1), ElementsAre("1.5", "2.5"));
    EXPECT_THAT(ColumnTexts(*imported, 2), ElementsAre(std::string(3000, 'n'), "<null>"));
}

TEST(ImportTable, IndexesAsGivenAndProblemsInTheLog) {
    tabletest::MemoryTables tables;
    RowsCursor source({{"ID", TABSBaseType::bftInteger, TFieldType::ftInteger, 0},
                       {"Name", TABSBaseType::bftString, TFieldType::ftString, 8}});
    for (int id : {3, 1, 3}) source.Add({Int(id), Text("n" + std::to_string(id))});

    TABSIndexDefs indexes;
    indexes.Add(TABSIndexDef("", 0, {TABSIndexColumn{"ID"}}, true, true));
    indexes.Add(TABSIndexDef("byName", 0, {TABSIndexColumn{"Name", true, false}}));
    indexes.Add(TABSIndexDef("odd", 0, {}));

    const TABSTableName target = tables.NewName("WithIndexes");
    std::string log;
    EXPECT_FALSE(ImportTableRows(tables.Access(), target, source, &indexes, log, {}));
    EXPECT_THAT(log, StartsWith("Cannot import index 'odd'. Index type is not supported, index skipped\r\n"));
    EXPECT_THAT(log, HasSubstr("Record #3 was not imported due to error: "));

    auto imported = tables.Open(target);
    ASSERT_NE(imported->Table().IndexDefs().Find("idxPrimaryKey"), nullptr);
    imported->SetIndexOrder("byName");
    EXPECT_THAT(ColumnTexts(*imported, 0), ElementsAre("3", "1")) << "descending names";
}

TEST(ImportTable, ExistingTargetIsACreateError) {
    tabletest::MemoryTables tables;
    const TABSTableName target =
        tables.Create("Taken", Definition({TABSFieldDef("ID", TABSColumnType::actInteger)}));
    RowsCursor source({{"ID", TABSBaseType::bftInteger, TFieldType::ftInteger, 0}});
    std::string log = "x";
    EXPECT_FALSE(ImportTableRows(tables.Access(), target, source, nullptr, log, {}));
    EXPECT_THAT(log, StartsWith("xError importing table. Cannot create table due to error: "));
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

} // namespace
} // namespace kova
