// Repair mode: a table whose last commit reached the file only in part is rebuilt from its record
// pages and keeps every record committed before; damaged pages and records are dropped and
// reported.
#include "table_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace kova::testing {
namespace {

using C = TABSColumnType;

constexpr int kCommitted = 150;

TABSTableDefinition RecoveryDefinition() {
    return Definition({Field("ID", C::actInteger), Field("Name", C::actString, 30), Field("Seq", C::actAutoInc)},
                      {Index("PK", {"ID"}, true, true), Index("ByName", {"Name"})});
}

void InsertRows(TABSTableHandle& table, int from, int to) {
    for (int i = from; i < to; ++i) {
        RecordBuilder r(*table);
        (void)table->InsertRecord(table.Session(), r.Int("ID", i).Text("Name", "Name " + std::to_string(i)).Bytes());
    }
}

// Every record of the table by ID, after checking that each reads back consistently.
std::map<int, std::string> Contents(TABSTableHandle& table) {
    std::map<int, std::string> rows;
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        const auto record = ReadBack(table, id);
        rows[ValueOf(*table, record, "ID").GetAsInteger()] = ValueOf(*table, record, "Name").GetAsString();
    }
    return rows;
}

struct CutCase {
    const char* Label;
    const char* Password;
    int KeepPercent;  // share of the commit's writes that reach the file
};

class PartialCommitTest : public ::testing::TestWithParam<CutCase> {
protected:
    ScratchDirectory dir_;
    std::string path_ = dir_.File("cut.abs");
};

// Runs the big transaction whose commit is cut; returns the number of writes the commit makes.
int RunCutCommit(const std::string& path, const std::string& password, int keepPercent, int commitWrites) {
    PowerLossFileSystem fs;
    TableDatabase db(path, false, false, &fs, password);
    auto table = db.Open("T");
    db.Tables().StartTransaction(db.Session());
    InsertRows(table, kCommitted, kCommitted + 700);
    // Deleting committed rows inside the cut transaction must not lose them either.
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        if (ValueOf(*table, ReadBack(table, id), "ID").GetAsInteger() % 7 == 0) table->DeleteRecord(db.Session(), id);
    }
    const int before = fs.Writes;
    // The first write of a commit marks the header "commit in progress"; at least that one lands.
    if (commitWrites > 0) fs.LoseWritesFrom = before + 1 + std::max(1, commitWrites * keepPercent / 100);
    try {
        db.Tables().Commit(db.Session());
    } catch (const EABSError&) {
        // A lost write may surface as a failure later in the commit; the file is what counts.
    }
    const int made = fs.Writes - before;
    fs.LoseWritesFrom = 1;  // the machine is off: nothing more reaches the file
    return made;
}

TEST_P(PartialCommitTest, RepairKeepsEveryRecordCommittedBefore) {
    const CutCase& c = GetParam();
    std::map<int, std::string> committed;
    {
        TableDatabase db(path_, true, false, nullptr, c.Password);
        db.Tables().CreateTable("T", RecoveryDefinition());
        auto table = db.Open("T");
        InsertRows(table, 0, kCommitted);
        committed = Contents(table);
    }
    // A dry run on a copy tells how many writes the commit makes.
    const std::string probe = dir_.File("probe.abs");
    WriteWholeFile(probe, ReadWholeFile(path_));
    const int commitWrites = RunCutCommit(probe, c.Password, 100, 0);
    ASSERT_GT(commitWrites, 10);
    RunCutCommit(path_, c.Password, c.KeepPercent, commitWrites);

    {
        TableDatabase db(path_, false, false, nullptr, c.Password);
        EXPECT_TRUE(db.Database().NeedsRepair()) << "the header still says a commit was being written";
        const TABSTableRepairReport report = db.Tables().RepairTable(db.Session(), "T");
        EXPECT_EQ(report.TableName, "T");
        EXPECT_GE(report.RecordPagesFound, 1u);
        auto table = db.Open("T");
        const auto rows = Contents(table);
        EXPECT_EQ(report.RecordsKept, rows.size());
        EXPECT_EQ(table->RecordCount(db.Session()), rows.size());
        for (const auto& [id, name] : committed) {
            const auto found = rows.find(id);
            // Rows the cut transaction deleted may be gone or not; every other one must be there.
            if (id % 7 == 0 && found == rows.end()) continue;
            ASSERT_NE(found, rows.end()) << "committed record " << id << " was lost";
            EXPECT_EQ(found->second, name);
        }
        for (const auto& [id, name] : rows) EXPECT_EQ(name, "Name " + std::to_string(id));
        auto& disk = static_cast<TABSDiskTableData&>(table.Table());
        disk.CheckIntegrity(db.Session());
        for (const auto& [name, count] : IndexEntryCounts(table)) EXPECT_EQ(count, rows.size()) << name;
        // Auto-increment values stay unique after the repair.
        std::set<std::int64_t> seqs;
        for (const TABSRecordID& id : PhysicalOrder(table)) seqs.insert(ValueOf(*table, ReadBack(table, id), "Seq").GetAsLargeInt());
        auto fresh = table->NewRecordBuffer();
        RecordBuilder r(*table);
        const TABSRecordID added = table->InsertRecord(db.Session(), r.Int("ID", 100000).Bytes());
        EXPECT_FALSE(seqs.contains(ValueOf(*table, ReadBack(table, added), "Seq").GetAsLargeInt()));
    }
    // The mended table opens normally afterwards and a second repair finds nothing to mend.
    TableDatabase db(path_, false, false, nullptr, c.Password);
    const TABSTableRepairReport again = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_TRUE(again.Clean()) << (again.Messages.empty() ? "" : again.Messages.front());
    auto table = db.Open("T");
    EXPECT_EQ(Contents(table).size(), table->RecordCount(db.Session()));
}

INSTANTIATE_TEST_SUITE_P(Cuts, PartialCommitTest,
                         ::testing::Values(CutCase{"StateMarkOnly", "", 0}, CutCase{"Tenth", "", 10},
                                           CutCase{"Half", "", 50}, CutCase{"AllButHeader", "", 97},
                                           CutCase{"HalfEnciphered", "geheim", 50}),
                         [](const auto& info) { return std::string(info.param.Label); });

class RepairTest : public ::testing::Test {
protected:
    ScratchDirectory dir_;
    std::string path_ = dir_.File("repair.abs");
};

TEST_F(RepairTest, CleanTableIsLeftAsItWas) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", RecoveryDefinition());
    {
        auto table = db.Open("T");
        InsertRows(table, 0, 200);
    }
    const TABSTableRepairReport report = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_TRUE(report.Clean());
    EXPECT_EQ(report.RecordsKept, 200u);
    EXPECT_EQ(report.RecordsDropped, 0u);
    auto table = db.Open("T");
    EXPECT_EQ(Contents(table).size(), 200u);
    EXPECT_EQ(NativeErrorOf([&] { (void)db.Tables().RepairTable(db.Session(), "T"); }), kTableExclusiveInProcessError)
        << "repair needs the table to itself";
}

TEST_F(RepairTest, DamagedRecordAndWrongCountAreMendedAndReported) {
    std::size_t slot3 = 0;
    std::size_t nameOffset = 0;
    std::size_t nameSize = 0;
    {
        TableDatabase db(path_);
        db.Tables().CreateTable("T", RecoveryDefinition());
        auto table = db.Open("T");
        InsertRows(table, 0, 100);
        const TABSPageNo recordPage = table->FirstRecord(db.Session())->PageNo;
        const auto& geometry = static_cast<TABSDiskTableData&>(table.Table()).Geometry();
        slot3 = 380 + static_cast<std::size_t>(recordPage) * db.Database().PageManager().PageSize() +
                PageHeader::kSize + geometry.SlotOffset(3);
        nameOffset = table->FieldDefs()[1].DiskOffset;
        nameSize = table->FieldDefs()[1].DiskSize;
    }
    // Slot 3 of the first page loses its text terminator; the state claims 5 records more.
    std::vector<std::uint8_t> bytes = ReadWholeFile(path_);
    std::fill(bytes.begin() + slot3 + nameOffset, bytes.begin() + slot3 + nameOffset + nameSize, 'x');
    WriteWholeFile(path_, bytes);
    {
        TableDatabase db(path_, false);
        const TABSTableEntry entry = db.Database().GetTable("T");
        TABSInternalDBTransactedAccessFile state(db.Database().PageManager(), TABSPageType::TableMostUpdated);
        state.OpenFile(entry.MostUpdatedPageNo);
        auto content = state.ReadFile(db.Session());
        WriteI32(content.data() + content.size() - 4, 105);
        state.WriteFile(db.Session(), content);
        db.Database().Commit(db.Session());
    }
    TableDatabase db(path_, false);
    const TABSTableRepairReport report = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_EQ(report.RecordsDropped, 1u);
    EXPECT_EQ(report.RecordsKept, 99u);
    ASSERT_GE(report.Messages.size(), 2u);
    bool countReported = false;
    for (const auto& m : report.Messages) {
        countReported |= m == "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=100, "
                              "MostUpdated.RecordCount=105";
    }
    EXPECT_TRUE(countReported);
    auto table = db.Open("T");
    const auto rows = Contents(table);
    EXPECT_EQ(rows.size(), 99u);
    EXPECT_FALSE(rows.contains(3));
    EXPECT_EQ(table->RecordCount(db.Session()), 99u);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
}

TEST_F(RepairTest, DestroyedRecordPageIndexIsRebuiltFromTheRecordPages) {
    TABSPageNo root = kNoPage;
    std::size_t pageSize = 0;
    std::uint64_t pagesUsed = 0;
    {
        TableDatabase db(path_);
        db.Tables().CreateTable("T", RecoveryDefinition());
        auto table = db.Open("T");
        InsertRows(table, 0, 400);
        auto& disk = static_cast<TABSDiskTableData&>(table.Table());
        root = disk.RecordPageIndex().RootPageNo();
        pageSize = db.Database().PageManager().PageSize();
        pagesUsed = disk.RecordPageIndex().PageCount(db.Session());
    }
    ASSERT_GT(pagesUsed, 2u);
    // The index root page turns into garbage: its tree header and entries are gone.
    std::vector<std::uint8_t> bytes = ReadWholeFile(path_);
    const std::size_t page = 380 + static_cast<std::size_t>(root) * pageSize;
    std::fill(bytes.begin() + page + PageHeader::kSize, bytes.begin() + page + pageSize, 0xA5);
    WriteWholeFile(path_, bytes);

    TableDatabase db(path_, false);
    const TABSTableRepairReport report = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_FALSE(report.Clean());
    EXPECT_EQ(report.RecordsKept, 400u);
    EXPECT_EQ(report.RecordPagesFound, pagesUsed);
    auto table = db.Open("T");
    EXPECT_EQ(Contents(table).size(), 400u);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
}

} // namespace
} // namespace kova::testing
