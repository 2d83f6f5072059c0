// Damaged database files for the repair tests: a registrations table filled through the dataset
// layer, a commit cut off part-way as a power loss leaves it, records made unreadable on purpose,
// and readers that tell what a file holds and whether its indexes agree with its records.
#pragma once

#include "../forwarding_file_system.h"
#include "api_test_support.h"

#include "engine/api/ABSMain.h"
#include "engine/storage/ABSDatabaseFile.h"
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kova::apitest {

// The application's password: its files are enciphered, so a damaged byte costs a whole page.
// The tests that damage single records use files without a password.
inline constexpr char kAppPassword[] = "quorbel";

// One registration: row i has the ID "N" + eight digits, a name, a year and a note that is large
// (pages of its own) for every fifth row and small (shared BLOB pages) for the others.
struct Registration {
    std::string Name;
    int Year = 0;
    std::string Note;
    friend bool operator==(const Registration&, const Registration&) = default;
};

inline std::string RegistrationID(int i) {
    std::string digits = std::to_string(i);
    return "N" + std::string(8 - std::min<std::size_t>(8, digits.size()), '0') + digits;
}

inline Registration RegistrationOf(int i) {
    const std::size_t size = i % 5 == 0 ? 3000 + static_cast<std::size_t>(i) : 10 + static_cast<std::size_t>(i) % 90;
    return {"Name " + std::to_string(i), 2000 + i % 12, std::string(size, static_cast<char>('a' + i % 26))};
}

// The rows [from, to) as the table must hold them.
inline std::map<std::string, Registration> RegistrationsBetween(int from, int to) {
    std::map<std::string, Registration> rows;
    for (int i = from; i < to; ++i) rows[RegistrationID(i)] = RegistrationOf(i);
    return rows;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Header bytes: format version (float64) at 18, state at 42.
inline void PatchFile(const std::string& path, std::size_t offset, const void* bytes, std::size_t count) {
    std::fstream stream(path, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(static_cast<std::streamoff>(offset));
    stream.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
}
inline void SetHeaderState(const std::string& path, std::uint8_t state) { PatchFile(path, 42, &state, 1); }
inline void SetFormatVersion(const std::string& path, double version) { PatchFile(path, 18, &version, sizeof version); }
inline std::uint8_t HeaderState(const std::string& path) {
    return static_cast<std::uint8_t>(ReadWholeFile(path).at(42));
}
inline double FormatVersion(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    double version = 0;
    std::copy_n(bytes.data() + 18, sizeof version, reinterpret_cast<char*>(&version));
    return version;
}

// A database object of the default session for `file`.
inline void Configure(TABSDatabase& db, const std::string& alias, const std::string& file,
                      const std::string& password = {}) {
    db.SetDatabaseName(alias);
    db.SetDatabaseFileName(file);
    db.SetPassword(password);
}

// Creates `file` with `table` (ID String(9) primary key, Name String(30) with a non-unique index,
// Jahr Integer, Note Memo) holding the registrations [0, rows).
inline void MakeRegistrationsFile(const std::string& file, int rows, const std::string& table = "Namen",
                                  const std::string& password = {}) {
    if (!std::filesystem::exists(file)) MakeDatabaseFile(file, password);
    TABSDatabase db;
    Configure(db, "RepairFixture", file, password);
    db.SetSilentMode(true);
    TABSTable names;
    names.SetDatabaseName("RepairFixture");
    names.SetTableName(table);
    names.FieldDefs().Add(TABSFieldDef("ID", TABSColumnType::actString, 9));
    names.FieldDefs().Add(TABSFieldDef("Name", TABSColumnType::actString, 30));
    names.FieldDefs().Add(TABSFieldDef("Jahr", TABSColumnType::actInteger));
    names.FieldDefs().Add(TABSFieldDef("Note", TABSColumnType::actMemo));
    names.IndexDefs().Add(TABSIndexDef("PK", 0, {TABSIndexColumn{"ID"}}, true, true));
    names.IndexDefs().Add(TABSIndexDef("ByName", 0, {TABSIndexColumn{"Name"}}));
    names.CreateTable();
    names.Open();
    for (int i = 0; i < rows; ++i) {
        const Registration r = RegistrationOf(i);
        names.Append();
        names.FieldByName("ID").SetAsString(RegistrationID(i));
        names.FieldByName("Name").SetAsString(r.Name);
        names.FieldByName("Jahr").SetAsInteger(r.Year);
        names.FieldByName("Note").SetAsString(r.Note);
        names.Post();
    }
    names.Close();
    db.Close();
}

// The storage layer's view of a file, for changing it below the dataset layer.
class StoredFile {
public:
    StoredFile(const std::string& file, TABSFileSystem& fileSystem, const std::string& password = {})
        : data_(file, fileSystem) {
        TABSConnectOptions options;
        options.Password.Password = password;
        session_ = data_.ConnectSession(options).SessionID;
        tables_ = std::make_unique<TABSDiskDatabaseTables>(data_);
    }
    explicit StoredFile(const std::string& file, const std::string& password = {})
        : StoredFile(file, TABSFileSystem::Default(), password) {}
    ~StoredFile() {
        tables_.reset();
        if (data_.IsOpen()) data_.DisconnectSession(session_);
    }
    StoredFile(const StoredFile&) = delete;
    StoredFile& operator=(const StoredFile&) = delete;

    [[nodiscard]] TABSDiskDatabaseData& Data() { return data_; }
    [[nodiscard]] TABSDiskDatabaseTables& Tables() { return *tables_; }
    [[nodiscard]] TABSSessionID Session() const { return session_; }

    // Inserts the registrations [from, to) into `table` in the session's page set.
    void Insert(const std::string& table, int from, int to) {
        TABSTableHandle handle = tables_->OpenTable(session_, table);
        const TABSFieldDefs& fields = handle->FieldDefs();
        for (int i = from; i < to; ++i) {
            const Registration r = RegistrationOf(i);
            std::vector<std::uint8_t> record = handle->NewRecordBuffer();
            TABSVariant value;
            value.SetAsString(RegistrationID(i));
            fields.SetValue(record, static_cast<std::size_t>(fields.IndexOf("ID")), value);
            value.SetAsString(r.Name);
            fields.SetValue(record, static_cast<std::size_t>(fields.IndexOf("Name")), value);
            value.SetAsInteger(r.Year);
            fields.SetValue(record, static_cast<std::size_t>(fields.IndexOf("Jahr")), value);
            handle->SetBlobRaw(session_, record, fields.IndexOf("Note"),
                               TABSRawBlob{0, static_cast<std::int64_t>(r.Note.size()),
                                           std::vector<std::uint8_t>(r.Note.begin(), r.Note.end())});
            (void)handle->InsertRecord(session_, record);
        }
    }

    // Deletes the records whose ID number is a multiple of `step`.
    void DeleteEvery(const std::string& table, int step) {
        TABSTableHandle handle = tables_->OpenTable(session_, table);
        const TABSFieldDefs& fields = handle->FieldDefs();
        std::vector<TABSRecordID> doomed;
        for (auto id = handle->FirstRecord(session_); id; id = handle->NextRecord(session_, *id)) {
            std::vector<std::uint8_t> record(handle->RecordBufferSize());
            handle->ReadRecord(session_, *id, record);
            const std::string key = fields.GetValue(record, static_cast<std::size_t>(fields.IndexOf("ID"))).GetAsString();
            handle->ReleaseRecordBuffer(record, true);
            if (std::stoi(key.substr(1)) % step == 0) doomed.push_back(*id);
        }
        for (const TABSRecordID& id : doomed) handle->DeleteRecord(session_, id);
    }

    // The first record page of `table` (found through its record page index).
    [[nodiscard]] TABSPageNo FirstRecordPage(const std::string& table) {
        TABSTableHandle handle = tables_->OpenTable(session_, table);
        const auto first = handle->FirstRecord(session_);
        return first ? first->PageNo : kNoPage;
    }

    // Raises when an index, the record page index or the BLOB page index of `table` is damaged.
    void CheckIntegrity(const std::string& table) {
        TABSTableHandle handle = tables_->OpenTable(session_, table);
        static_cast<TABSDiskTableData&>(handle.Table()).CheckIntegrity(session_);
    }

private:
    TABSDiskDatabaseData data_;
    TABSSessionID session_ = kInvalidSessionID;
    std::unique_ptr<TABSDiskDatabaseTables> tables_;
};

// Runs a transaction on `file` that inserts the registrations [from, to) and deletes every
// seventh committed one, and lets only `keepPercent` of its commit's writes reach the file (those
// up to the header marked "commit in progress" always do). The commit's journal is removed all
// the same (LoseRemovals off): the file stands for one whose journal was lost.
// Returns the number of writes the whole commit makes.
inline int CutCommit(const std::string& file, int from, int to, int keepPercent, const std::string& table = "Namen",
                     const std::string& password = {}) {
    // A dry run on a copy tells how many writes the commit makes.
    const std::string probe = file + ".probe";
    WriteWholeFile(probe, ReadWholeFile(file));
    int commitWrites = 0;
    for (const std::string& target : {probe, file}) {
        testing::PowerLossFileSystem fs;
        fs.LoseRemovals = false;
        StoredFile stored(target, fs, password);
        stored.Tables().StartTransaction(stored.Session());
        stored.Insert(table, from, to);
        stored.DeleteEvery(table, 7);
        const int before = fs.Writes;
        // The journal's start, the header saved in it and the header marked are the first three.
        if (target == file) fs.LoseWritesFrom = before + 1 + std::max(3, commitWrites * keepPercent / 100);
        try {
            stored.Tables().Commit(stored.Session());
        } catch (const EABSError&) {
            // A lost write may surface as a failure later in the commit; the file is what counts.
        }
        if (target == probe) commitWrites = fs.Writes - before;
        fs.LoseWritesFrom = 1;  // the machine is off: nothing more reaches the file
    }
    std::filesystem::remove(probe);
    return commitWrites;
}

// Writes `count` bytes of 0xFF into the data area of `page` from `offset` on. In a file without a
// password the records there no longer read as values of their fields; in an enciphered file the
// whole page fails its check.
inline void SpoilRecordPage(const std::string& file, TABSPageNo page, std::size_t offset, std::size_t count) {
    const std::size_t pageSize = FileHeader::kDefaultPageSize;
    const std::string bytes(count, '\xFF');
    PatchFile(file, 380 + static_cast<std::size_t>(page) * pageSize + 40 + offset, bytes.data(), bytes.size());
}

// The registrations of `table` read through the dataset layer, in the order of `indexName`
// (physical order when empty).
inline std::map<std::string, Registration> ReadRegistrations(const std::string& databaseName, const std::string& table,
                                                             const std::string& indexName = {},
                                                             std::vector<std::string>* order = nullptr) {
    TABSTable names;
    names.SetDatabaseName(databaseName);
    names.SetTableName(table);
    if (!indexName.empty()) names.SetIndexName(indexName);
    names.Open();
    std::map<std::string, Registration> rows;
    for (names.First(); !names.Eof(); names.Next()) {
        const std::string id = names.FieldByName("ID").AsString();
        rows[id] = {names.FieldByName("Name").AsString(), names.FieldByName("Jahr").AsInteger(),
                    names.FieldByName("Note").AsString()};
        if (order) order->push_back(id);
    }
    names.Close();
    return rows;
}

// Whether `inner` is contained in `outer` with equal values.
inline bool Contains(const std::map<std::string, Registration>& outer, const std::map<std::string, Registration>& inner) {
    return std::all_of(inner.begin(), inner.end(), [&](const auto& row) {
        const auto found = outer.find(row.first);
        return found != outer.end() && found->second == row.second;
    });
}

// The files a rebuild works with next to `file`; none may be left when it is over.
inline std::vector<std::string> LeftoversOf(const std::string& file) {
    std::vector<std::string> found;
    for (const char* suffix : {".tmp", ".tmp.src"}) {
        if (std::filesystem::exists(file + suffix)) found.push_back(file + suffix);
    }
    return found;
}

} // namespace kova::apitest
