// Faults the kill test found in the storage layer, each shown on its own in a small fixture.
#include "crash_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSDiskBlobManager.h"

#include <gtest/gtest.h>

namespace kova::testing {
namespace {

class StorageFaultTest : public ::testing::Test {
protected:
    ScratchDirectory dir_;
    std::string path_ = dir_.File("faults.abs");

    static TABSRecordID Insert(TABSTableHandle& table, const RowImage& image) {
        std::vector<std::uint8_t> record = table->NewRecordBuffer();
        PutImage(*table, table.Session(), record, image);
        const TABSRecordID id = table->InsertRecord(table.Session(), record);
        table->ReleaseRecordBuffer(record, true);
        return id;
    }
    static TABSBlobReference NoteReference(TABSTableHandle& table, const TABSRecordID& id) {
        const std::vector<std::uint8_t> record = ReadBack(table, id);
        return static_cast<TABSDiskTableData&>(table.Table()).DiskBlobManager()->Field(kNoteFieldNo).Reference(record);
    }
    // Inserts rows from `first` on until one has a note that shares a page.
    static std::pair<std::int32_t, TABSRecordID> InsertWithSmallNote(TABSTableHandle& table, std::int32_t first) {
        for (std::int32_t id = first;; ++id) {
            const RowImage image = ImageOf(id, 1);
            if (image.Note.empty() || image.Note.size() > 1000) continue;
            return {id, Insert(table, image)};
        }
    }
};

// A value deleted and a value stored on the same shared page in one transaction must not share an
// id: until the commit is written whole, the deleted row's record on disk still names the old id
// and would read the new value as its own.
TEST_F(StorageFaultTest, NewBlobValueNeverTakesAnIdTheCommittedPageStillHas) {
    TableDatabase db(path_);
    db.Tables().CreateTable(kRowsTable, RowsDefinition());
    TABSTableHandle table = db.Open(kRowsTable);
    std::vector<std::pair<std::int32_t, TABSRecordID>> rows;
    std::int32_t next = 1;
    for (int i = 0; i < 3; ++i) {
        rows.push_back(InsertWithSmallNote(table, next));
        next = rows.back().first + 1;
    }
    const TABSBlobReference last = NoteReference(table, rows.back().second);
    ASSERT_EQ(last.PageNo, NoteReference(table, rows.front().second).PageNo) << "the notes should share a page";

    db.Tables().StartTransaction(db.Session());
    table->DeleteRecord(db.Session(), rows.back().second);
    const auto added = InsertWithSmallNote(table, next);
    const TABSBlobReference fresh = NoteReference(table, added.second);
    db.Tables().Commit(db.Session());

    EXPECT_FALSE(fresh.PageNo == last.PageNo && fresh.BlobID == last.BlobID)
        << "the new value took id " << fresh.BlobID << " of the deleted one on page " << fresh.PageNo;
    EXPECT_EQ(ReadRow(table, added.second).Image, ImageOf(added.first, 1));
}

// Pages are marked in the free-space maps before the header records the new LastUsedPageNo; a
// process killed in between leaves the header behind the maps. Growing the file from the stale
// number must not hand out a page that is in use.
TEST_F(StorageFaultTest, StaleLastUsedPageNoInTheHeaderDoesNotHandOutUsedPages) {
    // Rows until the file has no free page left, so that the next page must come from growing.
    std::int32_t lastUsed = 0;
    std::int32_t stored = 0;
    {
        TableDatabase db(path_);
        db.Tables().CreateTable(kRowsTable, RowsDefinition());
        TABSTableHandle table = db.Open(kRowsTable);
        for (std::int32_t id = 1; id <= 400; ++id) {
            (void)Insert(table, ImageOf(id, 1));
            ++stored;
            const TABSDatabaseFileInfo info = db.Database().FileInfo();
            lastUsed = info.LastUsedPageNo;
            if (stored >= 40 && lastUsed == info.TotalPageCount - 1) break;
        }
        ASSERT_EQ(lastUsed, db.Database().FileInfo().TotalPageCount - 1) << "the file never filled up";
    }
    // The header as a kill before its write would have left it: one page behind the maps.
    std::vector<std::uint8_t> file = ReadWholeFile(path_);
    WriteI32(file.data() + FileHeader::kLastUsedPageNoOffset, lastUsed - 1);
    WriteWholeFile(path_, file);

    TableDatabase db(path_, false);
    TABSTableHandle table = db.Open(kRowsTable);
    // Notes of several pages each make the file grow.
    std::int32_t added = 0;
    for (std::int32_t id = 1000; added < 25; ++id) {
        const RowImage image = ImageOf(id, 1);
        if (image.Note.size() < 8200) continue;
        (void)Insert(table, image);
        ++added;
    }
    const auto rows = ReadAllRows(table);
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(stored + added));
    for (const auto& [id, row] : rows) EXPECT_TRUE(row.Intact()) << "row " << id;
    ExpectSoundIndexes(table, rows);
}

} // namespace
} // namespace kova::testing
