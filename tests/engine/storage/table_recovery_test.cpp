// A commit cut by a power loss: with its journal the file goes back to the last complete commit;
// without it the table is rebuilt from its record pages in repair mode and keeps every record
// committed before; damaged pages and records are dropped and reported.
#include "table_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSDiskBlobManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace kova::testing {
namespace {

using C = TABSColumnType;

constexpr int kCommitted = 150;

constexpr int kNoteField = 3;

TABSTableDefinition RecoveryDefinition() {
    return Definition({Field("ID", C::actInteger), Field("Name", C::actString, 30), Field("Seq", C::actAutoInc),
                       Field("Note", C::actMemo)},
                      {Index("PK", {"ID"}, true, true), Index("ByName", {"Name"})});
}

// Row i's note: every fifth one large, the others sharing BLOB pages.
std::string NoteOf(int i) {
    const std::size_t size = i % 5 == 0 ? 4500 + static_cast<std::size_t>(i) : 20 + static_cast<std::size_t>(i) % 400;
    std::string note(size, static_cast<char>('a' + i % 26));
    note.replace(0, std::min(size, std::to_string(i).size()), std::to_string(i));
    return note;
}

void InsertRows(TABSTableHandle& table, int from, int to) {
    for (int i = from; i < to; ++i) {
        RecordBuilder r(*table);
        r.Int("ID", i).Text("Name", "Name " + std::to_string(i));
        const std::string note = NoteOf(i);
        table->SetBlobRaw(table.Session(), r.Bytes(), kNoteField,
                          TABSRawBlob{0, static_cast<std::int64_t>(note.size()),
                                      std::vector<std::uint8_t>(note.begin(), note.end())});
        (void)table->InsertRecord(table.Session(), r.Bytes());
    }
}

struct Row {
    std::string Name;
    std::string Note;  // empty when the value was dropped
    friend bool operator==(const Row&, const Row&) = default;
};

// Every record of the table by ID, after checking that each reads back consistently.
std::map<int, Row> Contents(TABSTableHandle& table) {
    std::map<int, Row> rows;
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        auto record = ReadBack(table, id);
        const std::vector<std::uint8_t> note = table->GetBlobRaw(table.Session(), record, kNoteField).StoredBytes;
        rows[ValueOf(*table, record, "ID").GetAsInteger()] = {ValueOf(*table, record, "Name").GetAsString(),
                                                              std::string(note.begin(), note.end())};
        table->ReleaseRecordBuffer(record, true);
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
    // A commit starts its journal, saves the header in it and marks the header "commit in
    // progress"; at least these land.
    if (commitWrites > 0) fs.LoseWritesFrom = before + 1 + std::max(3, commitWrites * keepPercent / 100);
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
    std::map<int, Row> committed;
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

    // With its journal the file goes back to where the last complete commit left it.
    const std::string journal = TABSCommitJournal::NameFor(path_);
    ASSERT_TRUE(std::filesystem::exists(journal)) << "the journal outlives the power loss";
    const std::string withJournal = dir_.File("with-journal.abs");
    WriteWholeFile(withJournal, ReadWholeFile(path_));
    WriteWholeFile(TABSCommitJournal::NameFor(withJournal), ReadWholeFile(journal));
    {
        TableDatabase db(withJournal, false, false, nullptr, c.Password);
        EXPECT_FALSE(db.Database().NeedsRepair());
        EXPECT_TRUE(db.Database().PageManager().RolledBackCutCommit());
        EXPECT_FALSE(std::filesystem::exists(TABSCommitJournal::NameFor(withJournal)));
        EXPECT_TRUE(db.Tables().RepairTable(db.Session(), "T").Clean()) << "nothing is left to mend";
        auto table = db.Open("T");
        EXPECT_EQ(Contents(table), committed);
        static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
        for (const auto& [name, count] : IndexEntryCounts(table)) EXPECT_EQ(count, committed.size()) << name;
    }

    // Without it (a copy of the file taken without its journal) the header still says a commit
    // was being written, and the repair keeps every record committed before.
    std::filesystem::remove(journal);
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
        std::uint64_t notesLost = 0;
        for (const auto& [id, row] : committed) {
            const auto found = rows.find(id);
            // Rows the cut transaction deleted may be gone or not, and so may their notes; every
            // other row must be there with its note.
            if (id % 7 == 0 && found == rows.end()) continue;
            ASSERT_NE(found, rows.end()) << "committed record " << id << " was lost";
            EXPECT_EQ(found->second.Name, row.Name);
            if (id % 7 == 0 && found->second.Note.empty()) continue;
            EXPECT_EQ(found->second.Note, row.Note) << "note of committed record " << id;
        }
        for (const auto& [id, row] : rows) {
            EXPECT_EQ(row.Name, "Name " + std::to_string(id));
            // A note either reads back whole or was dropped by the repair.
            if (row.Note.empty()) {
                ++notesLost;
            } else {
                EXPECT_EQ(row.Note, NoteOf(id)) << id;
            }
        }
        EXPECT_EQ(report.BlobValuesDropped, notesLost);
        auto& disk = static_cast<TABSDiskTableData&>(table.Table());
        disk.CheckIntegrity(db.Session());
        for (const auto& [name, count] : IndexEntryCounts(table)) EXPECT_EQ(count, rows.size()) << name;
        // The mended BLOB storage takes new values and gives deleted ones back.
        int deleted = 0;
        for (const TABSRecordID& id : PhysicalOrder(table)) {
            if (++deleted % 3 == 0) table->DeleteRecord(db.Session(), id);
        }
        InsertRows(table, 200000, 200040);
        disk.CheckIntegrity(db.Session());
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
                                           CutCase{"HalfEnciphered", "geheim", 50},
                                           CutCase{"ThreeQuartersEnciphered", "geheim", 75}),
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

// ---- The BLOB page index ----

constexpr int kBlobRows = 120;
constexpr int kDataField = 1;

TABSTableDefinition BlobDefinition() {
    return Definition({Field("ID", C::actInteger), Field("Data", C::actBlob)}, {Index("PK", {"ID"}, true, true)});
}

// Small values of 1 to 1200 bytes that share pages, and every ninth a large one with pages of its own.
std::vector<std::uint8_t> BlobValue(int i) {
    const std::size_t size = i % 9 == 0 ? 6000 + static_cast<std::size_t>(i) : 1 + static_cast<std::size_t>(i * 97) % 1200;
    std::vector<std::uint8_t> value(size);
    for (std::size_t k = 0; k < size; ++k) value[k] = static_cast<std::uint8_t>(i * 31 + k * 7);
    return value;
}

TABSRecordID InsertBlobRow(TABSTableHandle& table, int i, const std::vector<std::uint8_t>& value) {
    RecordBuilder r(*table);
    r.Int("ID", i);
    table->SetBlobRaw(table.Session(), r.Bytes(), kDataField,
                      TABSRawBlob{0, static_cast<std::int64_t>(value.size()), value});
    return table->InsertRecord(table.Session(), r.Bytes());
}

std::map<int, std::vector<std::uint8_t>> BlobContents(TABSTableHandle& table) {
    std::map<int, std::vector<std::uint8_t>> rows;
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        auto record = ReadBack(table, id);
        rows[ValueOf(*table, record, "ID").GetAsInteger()] = table->GetBlobRaw(table.Session(), record, kDataField).StoredBytes;
        table->ReleaseRecordBuffer(record, true);
    }
    return rows;
}

TABSDiskBlobManager& BlobsOf(TABSTableHandle& table) {
    return *static_cast<TABSDiskTableData&>(table.Table()).DiskBlobManager();
}

// The file offset of a field's bytes in a record slot.
std::size_t FieldOffsetInFile(TableDatabase& db, TABSTableHandle& table, const TABSRecordID& id, int fieldNo) {
    const auto& geometry = static_cast<TABSDiskTableData&>(table.Table()).Geometry();
    return 380 + static_cast<std::size_t>(id.PageNo) * db.Database().PageManager().PageSize() + PageHeader::kSize +
           geometry.SlotOffset(id.Slot) + table->FieldDefs()[static_cast<std::size_t>(fieldNo)].DiskOffset;
}

struct BlobDamageCase {
    const char* Label;
    int IntegrityError;    // what the integrity check reports before the repair; an orphan value
                           // is counted correctly, so only the repair finds it (0)
    bool GarbleIndexRoot;         // the root page's data area turns into garbage in the file
    // Damages the committed table through the open database (may be empty).
    std::function<void(TableDatabase&, TABSTableHandle&)> Damage;
};

class BlobPageIndexRepairTest : public ::testing::TestWithParam<BlobDamageCase> {
protected:
    ScratchDirectory dir_;
    std::string path_ = dir_.File("blobs.abs");
};

TEST_P(BlobPageIndexRepairTest, IndexIsRebuiltFromTheNamedPagesAndEveryValueStaysReadable) {
    const BlobDamageCase& c = GetParam();
    std::map<int, std::vector<std::uint8_t>> expected;
    std::size_t sharedPages = 0;
    TABSPageNo root = kNoPage;
    std::size_t pageSize = 0;
    {
        TableDatabase db(path_);
        db.Tables().CreateTable("T", BlobDefinition());
        auto table = db.Open("T");
        for (int i = 0; i < kBlobRows; ++i) expected[i] = BlobValue(i);
        for (const auto& [i, value] : expected) (void)InsertBlobRow(table, i, value);
        sharedPages = BlobsOf(table).PageIndex().Entries(db.Session()).size();
        ASSERT_GT(sharedPages, 3u);
        root = BlobsOf(table).IndexRoot();
        pageSize = db.Database().PageManager().PageSize();
        if (c.Damage) c.Damage(db, table);
    }
    if (c.GarbleIndexRoot) {
        std::vector<std::uint8_t> bytes = ReadWholeFile(path_);
        const std::size_t page = 380 + static_cast<std::size_t>(root) * pageSize;
        std::fill(bytes.begin() + page + PageHeader::kSize, bytes.begin() + page + pageSize, 0xA5);
        WriteWholeFile(path_, bytes);
    }
    TableDatabase db(path_, false);
    {
        auto table = db.Open("T");
        auto& disk = static_cast<TABSDiskTableData&>(table.Table());
        EXPECT_EQ(NativeErrorOf([&] { disk.CheckIntegrity(db.Session()); }), c.IntegrityError);
    }
    const TABSTableRepairReport report = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_FALSE(report.Clean());
    EXPECT_EQ(report.RecordsKept, static_cast<std::uint64_t>(kBlobRows));
    EXPECT_EQ(report.BlobValuesDropped, 0u);
    EXPECT_EQ(report.BlobPagesFound, sharedPages);
    {
        auto table = db.Open("T");
        EXPECT_EQ(BlobContents(table), expected);
        auto& disk = static_cast<TABSDiskTableData&>(table.Table());
        disk.CheckIntegrity(db.Session());
        // The rebuilt index finds room and gives it back: half the rows go, new ones come.
        for (const TABSRecordID& id : PhysicalOrder(table)) {
            const int key = ValueOf(*table, ReadBack(table, id), "ID").GetAsInteger();
            if (key % 2 == 0) {
                table->DeleteRecord(db.Session(), id);
                expected.erase(key);
            }
        }
        for (int i = 1000; i < 1040; ++i) {
            expected[i] = BlobValue(i);
            (void)InsertBlobRow(table, i, expected[i]);
        }
        disk.CheckIntegrity(db.Session());
        EXPECT_EQ(BlobContents(table), expected);
    }
    const TABSTableRepairReport again = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_TRUE(again.Clean()) << (again.Messages.empty() ? "" : again.Messages.front());
    auto table = db.Open("T");
    for (const TABSRecordID& id : PhysicalOrder(table)) table->DeleteRecord(db.Session(), id);
    EXPECT_TRUE(BlobsOf(table).PageIndex().Entries(db.Session()).empty()) << "every shared page was given back";
}

INSTANTIATE_TEST_SUITE_P(
    Damages, BlobPageIndexRepairTest,
    ::testing::Values(
        BlobDamageCase{"GarbageRoot", kIndexIntegrityError, true, {}},
        BlobDamageCase{"WrongUsedBytes", kBlobPageIndexMismatchError, false,
                       [](TableDatabase& db, TABSTableHandle& table) {
                           auto& index = BlobsOf(table).PageIndex();
                           const auto first = index.Entries(db.Session()).front();
                           index.SetPageCount(db.Session(), first.PageNo, static_cast<std::uint16_t>(first.Count - 100));
                           db.Database().Commit(db.Session());
                       }},
        BlobDamageCase{"OrphanValue", 0, false,
                       [](TableDatabase& db, TABSTableHandle& table) {
                           // A value stored without the record that was to name it.
                           (void)BlobsOf(table).StoreValue(db.Session(), TABSRawBlob{0, 40, std::vector<std::uint8_t>(40, 7)});
                           db.Database().Commit(db.Session());
                       }}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(RepairTest, TwoRecordsNamingOneBlobValueGetOneEach) {
    std::size_t secondReference = 0;
    std::vector<std::uint8_t> firstReference(kBlobDiskFieldSize);
    {
        TableDatabase db(path_);
        db.Tables().CreateTable("T", BlobDefinition());
        auto table = db.Open("T");
        const TABSRecordID a = InsertBlobRow(table, 1, BlobValue(1));
        const TABSRecordID b = InsertBlobRow(table, 2, BlobValue(2));
        (void)InsertBlobRow(table, 3, BlobValue(3));
        const std::vector<std::uint8_t> bytes = ReadWholeFile(path_);
        const std::size_t first = FieldOffsetInFile(db, table, a, kDataField);
        std::copy(bytes.begin() + first, bytes.begin() + first + kBlobDiskFieldSize, firstReference.begin());
        secondReference = FieldOffsetInFile(db, table, b, kDataField);
    }
    // The second record's reference is overwritten with the first one's; its own value is left
    // without a record.
    std::vector<std::uint8_t> bytes = ReadWholeFile(path_);
    std::copy(firstReference.begin(), firstReference.end(), bytes.begin() + secondReference);
    WriteWholeFile(path_, bytes);

    TableDatabase db(path_, false);
    const TABSTableRepairReport report = db.Tables().RepairTable(db.Session(), "T");
    EXPECT_EQ(report.RecordsKept, 3u);
    EXPECT_EQ(report.BlobValuesDropped, 0u);
    EXPECT_EQ(report.Messages.size(), 2u) << "one value got a copy, one orphan went";
    auto table = db.Open("T");
    const std::map<int, std::vector<std::uint8_t>> expected{{1, BlobValue(1)}, {2, BlobValue(1)}, {3, BlobValue(3)}};
    EXPECT_EQ(BlobContents(table), expected);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
    // Deleting the first record must not take the second one's value with it.
    table->DeleteRecord(db.Session(), *table->FirstRecord(db.Session()));
    const std::map<int, std::vector<std::uint8_t>> left{{2, BlobValue(1)}, {3, BlobValue(3)}};
    EXPECT_EQ(BlobContents(table), left);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
}

} // namespace
} // namespace kova::testing
