// Random bytes written over pages of a copy of an enciphered database (as the application's files
// are) give a clear engine error on access, never a crash or a hang, and the repair recovers every
// record whose record page is undamaged.
//
// Access and repair run in a forked child with a time limit, so that a crash or a hang shows as
// such instead of taking the test program down. The child reports over a pipe; the parent then
// reads the repaired copy and holds it against the rows it stored.
#include "crash_test_support.h"

#include "engine/storage/ABSBlobPages.h"
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>

namespace kova::testing {
namespace {

constexpr const char* kPassword = "geheim";
constexpr int kRowCount = 240;
constexpr std::int64_t kFirstPageOffset = 380;
constexpr std::int64_t kPageSize = FileHeader::kDefaultPageSize;
constexpr int kCrcError = 30446;             // "Decrypt page error. Check CRC failed. PageNo: %d"
constexpr int kPageTypeError = 20153;        // "Invalid page type. Possibly data is corrupted. …"
constexpr int kRecordForIndexError = 20170;  // "Cannot retreive record for index"

// Where each row lives: its record page and the pages of its note.
struct RowPlace {
    TABSPageNo RecordPage = kNoPage;
    std::set<TABSPageNo> NotePages;
};

std::map<std::int32_t, RowPlace> BuildSource(const std::string& path) {
    TableDatabase db(path, true, false, nullptr, kPassword);
    db.Tables().CreateTable(kRowsTable, RowsDefinition());
    TABSTableHandle table = db.Open(kRowsTable);
    for (std::int32_t id = 1; id <= kRowCount; ++id) {
        std::vector<std::uint8_t> record = table->NewRecordBuffer();
        PutImage(*table, db.Session(), record, ImageOf(id, 1));
        (void)table->InsertRecord(db.Session(), record);
        table->ReleaseRecordBuffer(record, true);
    }
    std::map<std::int32_t, RowPlace> places;
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    TABSDiskPageManager& pages = db.Database().PageManager();
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        std::vector<std::uint8_t> record = ReadBack(table, id);
        RowPlace& place = places[ValueOf(*table, record, "ID").GetAsInteger()];
        place.RecordPage = id.PageNo;
        const TABSBlobFieldInfo& note = disk.DiskBlobManager()->Field(kNoteFieldNo);
        const TABSBlobReference reference = note.Reference(record);
        if (!note.IsNull(record) && reference.NamesValue()) {
            if (reference.IsLarge()) {
                const TABSLargeBlob::Layout layout = TABSLargeBlob::ReadLayout(pages, db.Session(), reference.PageNo);
                place.NotePages.insert(layout.DataPages.begin(), layout.DataPages.end());
                place.NotePages.insert(layout.ListPages.begin(), layout.ListPages.end());
            } else {
                place.NotePages.insert(reference.PageNo);
            }
        }
    }
    return places;
}

// The page numbers of a given type, read from the headers (which are never enciphered).
std::vector<TABSPageNo> PagesOfType(const std::vector<std::uint8_t>& file, TABSPageType type) {
    std::vector<TABSPageNo> found;
    for (std::int64_t offset = kFirstPageOffset; offset + kPageSize <= static_cast<std::int64_t>(file.size());
         offset += kPageSize) {
        const std::uint8_t* page = file.data() + offset;
        if (std::memcmp(page, "ABSP", 4) != 0 || ReadI32(page + 4) == 0x7FFFFFFF) continue;
        if (ReadU16(page + 8) == static_cast<std::uint16_t>(type))
            found.push_back(static_cast<TABSPageNo>((offset - kFirstPageOffset) / kPageSize));
    }
    return found;
}

enum class Damage { DataBytes, PageType };

struct CorruptionCase {
    const char* Label;
    TABSPageType Target;
    Damage Kind;
    int Pages;            // how many pages of that type are damaged
    int Bytes;            // random bytes per page (DataBytes)
    std::set<int> ExpectedErrors;  // native errors access may raise (one of them it must)
    bool RepairPossible;  // false when the table's own definition is what was damaged
};

// What the child saw: the native error of the access, and the repair's outcome.
struct ChildReport {
    int AccessError = 0;        // 0: access raised nothing
    std::string AccessMessage;
    bool Repaired = false;
    std::string RepairMessage;  // an error the repair raised
    bool Crashed = false;
    bool Hung = false;
};

void Send(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Everything a reader does with the table: open, every row with its note, every index.
void ReadEverything(const std::string& path) {
    TableDatabase db(path, false, false, nullptr, kPassword);
    TABSTableHandle table = db.Open(kRowsTable);
    const auto rows = ReadAllRows(table);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
    auto& indexes = static_cast<TABSDiskTableData&>(table.Table()).IndexManager();
    for (std::size_t i = 0; i < indexes.Count(); ++i) {
        TABSKeyPath path;
        for (bool more = indexes.At(i).First(db.Session(), path); more; more = indexes.At(i).Next(db.Session(), path))
            (void)indexes.At(i).RecordAt(db.Session(), path);
    }
}

// Runs the access and then the repair of `path` in a child; a child that outlives `limit` is
// killed and reported as hung.
ChildReport AccessAndRepairInChild(const std::string& path, std::chrono::seconds limit) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        try {
            ReadEverything(path);
            Send(fds[1], "A 0\n");
        } catch (const EABSException& e) {
            Send(fds[1], "A " + std::to_string(e.NativeError()) + " " + e.Message() + "\n");
        } catch (const std::exception& e) {
            Send(fds[1], std::string("A -1 ") + e.what() + "\n");
        }
        try {
            TableDatabase db(path, false, false, nullptr, kPassword);
            (void)db.Tables().RepairTable(db.Session(), kRowsTable);
            Send(fds[1], "R\n");
        } catch (const std::exception& e) {
            Send(fds[1], std::string("F ") + e.what() + "\n");
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildReport report;
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            report.Hung = true;
            ::kill(child, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[1024];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    (void)::waitpid(child, &status, 0);
    report.Crashed = !report.Hung && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("A ", 0) == 0) {
            std::istringstream in(line.substr(2));
            in >> report.AccessError;
            std::getline(in, report.AccessMessage);
        } else if (line == "R") {
            report.Repaired = true;
        } else if (line.rfind("F ", 0) == 0) {
            report.RepairMessage = line.substr(2);
        }
    }
    return report;
}

class CorruptionTest : public ::testing::TestWithParam<CorruptionCase> {
protected:
    static void SetUpTestSuite() {
        source_ = std::make_unique<ScratchDirectory>();
        places_ = BuildSource(source_->File("source.abs"));
    }
    static void TearDownTestSuite() { source_.reset(); }

    static inline std::unique_ptr<ScratchDirectory> source_;
    static inline std::map<std::int32_t, RowPlace> places_;
    ScratchDirectory dir_;
};

TEST_P(CorruptionTest, AccessFailsClearlyAndRepairKeepsTheUndamagedRecords) {
    const CorruptionCase& c = GetParam();
    std::vector<std::uint8_t> file = ReadWholeFile(source_->File("source.abs"));
    std::vector<TABSPageNo> candidates = PagesOfType(file, c.Target);
    ASSERT_GE(candidates.size(), static_cast<std::size_t>(c.Pages)) << "the source has too few pages of that type";
    std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(c.Label)));
    std::shuffle(candidates.begin(), candidates.end(), random);
    const std::set<TABSPageNo> damaged(candidates.begin(), candidates.begin() + c.Pages);
    for (const TABSPageNo pageNo : damaged) {
        std::uint8_t* page = file.data() + kFirstPageOffset + pageNo * kPageSize;
        if (c.Kind == Damage::PageType) {
            // Any other known type, so that the reader's expectation cannot match by chance.
            const std::uint16_t was = ReadU16(page + 8);
            WriteU16(page + 8, static_cast<std::uint16_t>(1 + (was + random() % 11) % 12));
            continue;
        }
        for (int i = 0; i < c.Bytes; ++i) {
            const std::size_t at = PageHeader::kSize + random() % (kPageSize - PageHeader::kSize);
            page[at] = static_cast<std::uint8_t>(page[at] ^ (1 + random() % 255));
        }
    }
    const std::string copy = dir_.File("damaged.abs");
    WriteWholeFile(copy, file);

    const ChildReport report = AccessAndRepairInChild(copy, std::chrono::seconds(60));
    ASSERT_FALSE(report.Hung) << "access or repair did not finish";
    ASSERT_FALSE(report.Crashed) << "access or repair crashed";
    EXPECT_TRUE(c.ExpectedErrors.contains(report.AccessError))
        << "access gave " << report.AccessError << " " << report.AccessMessage;
    if (!c.RepairPossible) {
        EXPECT_FALSE(report.Repaired) << "a table whose definition is damaged cannot be repaired";
        return;
    }
    ASSERT_TRUE(report.Repaired) << report.RepairMessage;

    // The repaired copy: every row whose record page is undamaged is there; its note is intact or,
    // when a page of the note was damaged, null; nothing is garbled.
    TableDatabase db(copy, false, false, nullptr, kPassword);
    TABSTableHandle table = db.Open(kRowsTable);
    const std::map<std::int32_t, StoredRow> rows = ReadAllRows(table);
    int lost = 0;
    for (const auto& [id, place] : places_) {
        const auto row = rows.find(id);
        if (row == rows.end()) {
            EXPECT_TRUE(damaged.contains(place.RecordPage)) << "row " << id << " of an undamaged page was lost";
            ++lost;
            continue;
        }
        const RowImage image = ImageOf(id, 1);
        const bool notePageDamaged =
            std::any_of(place.NotePages.begin(), place.NotePages.end(), [&](TABSPageNo p) { return damaged.contains(p); });
        if (notePageDamaged && row->second.Image.Note.empty()) {
            RowImage withoutNote = image;
            withoutNote.Note.clear();
            EXPECT_EQ(row->second.Image, withoutNote) << "row " << id;
            continue;
        }
        EXPECT_TRUE(row->second.Intact()) << "row " << id << " is garbled";
        EXPECT_EQ(row->second.Image, image) << "row " << id;
    }
    EXPECT_EQ(rows.size() + static_cast<std::size_t>(lost), places_.size()) << "rows appeared that were never stored";
    ExpectSoundIndexes(table, rows);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CorruptionTest,
    ::testing::Values(
        CorruptionCase{"RecordPage", TABSPageType::TableRecord, Damage::DataBytes, 1, 1, {kCrcError}, true},
        CorruptionCase{"ThreeRecordPages", TABSPageType::TableRecord, Damage::DataBytes, 3, 40, {kCrcError}, true},
        CorruptionCase{"IndexPage", TABSPageType::TableIndex, Damage::DataBytes, 1, 8, {kCrcError}, true},
        CorruptionCase{"BlobPages", TABSPageType::TableBlob, Damage::DataBytes, 4, 16, {kCrcError}, true},
        CorruptionCase{"StateFile", TABSPageType::TableMostUpdated, Damage::DataBytes, 1, 4, {kCrcError}, true},
        CorruptionCase{"Definition", TABSPageType::TableMetaData, Damage::DataBytes, 1, 4, {kCrcError}, false},
        // A record page of another type is skipped by the physical order (it may be a page the table
        // gave back); the indexes still name its records, and reading one for a key fails.
        CorruptionCase{"RecordPageType", TABSPageType::TableRecord, Damage::PageType, 1, 0, {kPageTypeError, kRecordForIndexError}, true},
        CorruptionCase{"IndexPageType", TABSPageType::TableIndex, Damage::PageType, 2, 0, {kPageTypeError}, true},
        CorruptionCase{"BlobPageType", TABSPageType::TableBlob, Damage::PageType, 2, 0, {kPageTypeError}, true}),
    [](const auto& info) { return std::string(info.param.Label); });

} // namespace
} // namespace kova::testing
