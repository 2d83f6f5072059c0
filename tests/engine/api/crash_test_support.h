// Rows that carry a checksum of their own content, for the tests that kill a writer or damage a
// file: a table with a primary key, two secondary indexes (one over a long string, whose keys are
// truncated and compared through the records) and a memo whose values range from empty through
// shared BLOB pages to values of several pages.
//
// A row is fully determined by (ID, Version): its name, value and note are made from the pair (the
// note changes only with every second version, so some updates leave the stored value alone), and
// its Check column is the CRC of everything else, so a row read back is either a version the
// writer stored or garbled, whichever file it comes from.
#pragma once

#include "engine/core/Crc32.h"
#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSBTreeRecordIndex.h"
#include "engine/storage/ABSDiskBlobManager.h"
#include "engine/storage/table_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kova::testing {

inline constexpr const char* kRowsTable = "Rows";
inline constexpr int kNoteFieldNo = 5;  // position of "Note" in RowsDefinition()

inline TABSTableDefinition RowsDefinition() {
    using C = TABSColumnType;
    return Definition({Field("ID", C::actInteger), Field("Version", C::actInteger), Field("Name", C::actString, 40),
                       Field("Val", C::actInteger), Field("Seq", C::actAutoInc), Field("Note", C::actMemo),
                       Field("Check", C::actInteger)},
                      {Index("PK", {"ID"}, true, true), Index("ByName", {"Name"}), Index("ByVal", {"Val", "Version"})});
}

// The content of one version of one row.
struct RowImage {
    std::int32_t Id = 0;
    std::int32_t Version = 0;
    std::string Name;
    std::int32_t Val = 0;
    std::string Note;  // empty: the field is null

    friend bool operator==(const RowImage&, const RowImage&) = default;
};

// A small deterministic generator (splitmix64), so that images do not depend on the library's
// distributions.
inline std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Note sizes cover the BLOB layouts: none, small values sharing pages, values close to a page,
// both sides of the size at which a value gets pages of its own (4031 / 4032 stored bytes with
// 4096-byte pages), and values of several pages.
inline std::size_t NoteSize(std::uint64_t h) {
    switch (h % 12) {
    case 0: return 0;
    case 1: case 2: case 3: case 4: return 1 + (h >> 8) % 300;
    case 5: case 6: return 300 + (h >> 8) % 1500;
    case 7: return 2500 + (h >> 8) % 1500;
    case 8: return 4031;
    case 9: return 4032;
    case 10: return 4033 + (h >> 8) % 4100;
    default: return 8200 + (h >> 8) % 9000;
    }
}

inline RowImage ImageOf(std::int32_t id, std::int32_t version) {
    const std::uint64_t h = Mix((static_cast<std::uint64_t>(static_cast<std::uint32_t>(id)) << 32) ^
                                static_cast<std::uint32_t>(version));
    RowImage row;
    row.Id = id;
    row.Version = version;
    // Names share their first 20 characters in groups, so truncated keys must be settled by records.
    row.Name = "Athlet-" + std::to_string(100000 + id % 37) + "-Gruppe-" + std::to_string(h % 5) + "/" +
               std::to_string(id) + "." + std::to_string(version);
    row.Val = static_cast<std::int32_t>((h >> 16) % 50);
    const std::uint64_t noteSeed = Mix((static_cast<std::uint64_t>(static_cast<std::uint32_t>(id)) << 32) ^
                                       static_cast<std::uint32_t>(version / 2) ^ 0x5A5A0000ull);
    std::string note(NoteSize(noteSeed), '\0');
    std::uint64_t s = noteSeed;
    for (char& c : note) {
        s = Mix(s);
        c = static_cast<char>('A' + s % 58);  // printable, no terminator inside
    }
    row.Note = std::move(note);
    return row;
}

inline std::uint32_t RowCrc(const RowImage& row) {
    std::string bytes = std::to_string(row.Id) + "|" + std::to_string(row.Version) + "|" + row.Name + "|" +
                        std::to_string(row.Val) + "|";
    bytes += row.Note;
    return EngineCrc32(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Fills a memory record with an image; the note is set (as a raw value of the record buffer) unless
// `keepNote` says the record holds it already.
inline void PutImage(TABSTableData& table, TABSSessionID session, std::vector<std::uint8_t>& record,
                     const RowImage& row, bool keepNote = false) {
    RecordBuilder builder(table);
    builder.Bytes() = record;
    builder.Int("ID", row.Id).Int("Version", row.Version).Text("Name", row.Name).Int("Val", row.Val);
    builder.Int("Check", static_cast<std::int32_t>(RowCrc(row)));
    record = builder.Bytes();
    if (keepNote) return;
    table.SetBlobRaw(session, record, kNoteFieldNo,
                     TABSRawBlob{0, static_cast<std::int64_t>(row.Note.size()),
                                 std::vector<std::uint8_t>(row.Note.begin(), row.Note.end())});
}

// A row as read back.
struct StoredRow {
    RowImage Image;
    std::uint32_t Check = 0;
    std::int64_t Seq = 0;
    TABSRecordID Where;

    [[nodiscard]] bool Intact() const { return Check == RowCrc(Image); }
};

inline StoredRow ReadRow(TABSTableHandle& table, const TABSRecordID& id) {
    std::vector<std::uint8_t> record = ReadBack(table, id);
    StoredRow row;
    row.Where = id;
    row.Image.Id = ValueOf(*table, record, "ID").GetAsInteger();
    row.Image.Version = ValueOf(*table, record, "Version").GetAsInteger();
    row.Image.Name = ValueOf(*table, record, "Name").GetAsString();
    row.Image.Val = ValueOf(*table, record, "Val").GetAsInteger();
    row.Seq = ValueOf(*table, record, "Seq").GetAsLargeInt();
    row.Check = static_cast<std::uint32_t>(ValueOf(*table, record, "Check").GetAsInteger());
    try {
        const std::vector<std::uint8_t> note = table->GetBlobRaw(table.Session(), record, kNoteFieldNo).StoredBytes;
        row.Image.Note.assign(note.begin(), note.end());
    } catch (...) {
        table->ReleaseRecordBuffer(record, true);
        throw;
    }
    table->ReleaseRecordBuffer(record, true);
    return row;
}

// Every row of the table by ID, in physical order; a repeated ID fails the test.
inline std::map<std::int32_t, StoredRow> ReadAllRows(TABSTableHandle& table) {
    std::map<std::int32_t, StoredRow> rows;
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        StoredRow row = ReadRow(table, id);
        const std::int32_t key = row.Image.Id;
        EXPECT_TRUE(rows.emplace(key, std::move(row)).second) << "ID " << key << " is stored twice";
    }
    return rows;
}

// The integrity check of every tree of the table, and then the contents of every index: each
// index lists each record exactly once, and each record's own key finds its entry.
inline void ExpectSoundIndexes(TABSTableHandle& table, const std::map<std::int32_t, StoredRow>& rows) {
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    disk.CheckIntegrity(table.Session());
    std::set<TABSRecordID> records;
    for (const auto& [key, row] : rows) records.insert(row.Where);
    std::lock_guard lock(disk.Mutex());
    auto& indexes = disk.IndexManager();
    for (std::size_t i = 0; i < indexes.Count(); ++i) {
        TABSBTreeRecordIndex& index = indexes.At(i);
        std::multiset<TABSRecordID> listed;
        TABSKeyPath path;
        for (bool more = index.First(table.Session(), path); more; more = index.Next(table.Session(), path))
            listed.insert(index.RecordAt(table.Session(), path));
        EXPECT_EQ(listed, std::multiset<TABSRecordID>(records.begin(), records.end()))
            << "index " << index.Name() << " does not list the table's records";
    }
    for (const TABSRecordID& id : records) {
        std::vector<std::uint8_t> record = ReadBack(table, id);
        for (std::size_t i = 0; i < indexes.Count(); ++i) {
            TABSKeyPath found;
            EXPECT_TRUE(indexes.At(i).FindRecord(table.Session(), record, id, found))
                << "index " << indexes.At(i).Name() << " has no entry for the key of record " << id.PageNo << "/"
                << id.Slot;
        }
        table->ReleaseRecordBuffer(record, true);
    }
}

} // namespace kova::testing
