// Multi-user access to one table from two processes.
#include "table_test_support.h"

#include "engine/core/ABSExcept.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>

namespace kova::testing {
namespace {

using C = TABSColumnType;

constexpr int kRowsPerProcess = 150;

// Inserts rows (writer, 0 … n-1) through a connection of its own in multi-user mode.
int InsertAsWriter(const std::string& path, int writer) {
    TableDatabase db(path, false, true);
    auto table = db.Open("T");
    for (int i = 0; i < kRowsPerProcess; ++i) {
        RecordBuilder r(*table);
        r.Int("Writer", writer).Int("N", i).Text("Text", "w" + std::to_string(writer) + "/" + std::to_string(i));
        (void)table->InsertRecord(db.Session(), r.Bytes());
    }
    return 0;
}

TEST(TableMultiUser, TwoProcessesInsertingIntoOneTableLoseNoRow) {
    ScratchDirectory dir;
    const std::string path = dir.File("shared.abs");
    {
        TableDatabase db(path);
        db.Tables().CreateTable("T", Definition({Field("ID", C::actAutoInc), Field("Writer", C::actInteger),
                                                 Field("N", C::actInteger), Field("Text", C::actString, 20)},
                                                {Index("PK", {"ID"}, true, true), Index("ByText", {"Text"})}));
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int code = 99;
        try {
            code = InsertAsWriter(path, 2);
        } catch (...) {
            code = 98;
        }
        ::_exit(code);
    }
    int parentResult = -1;
    std::string parentError;
    try {
        parentResult = InsertAsWriter(path, 1);
    } catch (const std::exception& e) {
        parentError = e.what();
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process failed";
    EXPECT_EQ(parentResult, 0) << parentError;

    TableDatabase db(path, false);
    auto table = db.Open("T");
    EXPECT_EQ(table->RecordCount(db.Session()), 2u * kRowsPerProcess);
    std::set<std::pair<int, int>> rows;
    std::set<int> ids;
    for (const TABSRecordID& id : PhysicalOrder(table)) {
        const auto record = ReadBack(table, id);
        rows.emplace(ValueOf(*table, record, "Writer").GetAsInteger(), ValueOf(*table, record, "N").GetAsInteger());
        ids.insert(ValueOf(*table, record, "ID").GetAsInteger());
    }
    EXPECT_EQ(rows.size(), 2u * kRowsPerProcess) << "every (writer, n) pair is there once";
    EXPECT_EQ(ids.size(), 2u * kRowsPerProcess) << "auto-increment values were not handed out twice";
    EXPECT_EQ(*ids.rbegin(), 2 * kRowsPerProcess);
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    disk.CheckIntegrity(db.Session());
    for (const auto& [name, count] : IndexEntryCounts(table)) EXPECT_EQ(count, 2u * kRowsPerProcess) << name;
}

TEST(TableMultiUser, ReaderSeesAnotherProcessCommitThroughTheStateCache) {
    ScratchDirectory dir;
    const std::string path = dir.File("reader.abs");
    {
        TableDatabase db(path);
        db.Tables().CreateTable("T", Definition({Field("Writer", C::actInteger), Field("N", C::actInteger),
                                                 Field("Text", C::actString, 20)}));
    }
    TableDatabase reader(path, false, true);
    auto table = reader.Open("T");
    EXPECT_EQ(table->RecordCount(reader.Session()), 0u);
    ASSERT_EQ(RunInChildProcess([&] { return InsertAsWriter(path, 3); }), 0);
    EXPECT_EQ(table->RecordCount(reader.Session()), static_cast<std::uint64_t>(kRowsPerProcess));
    EXPECT_EQ(PhysicalOrder(table).size(), static_cast<std::size_t>(kRowsPerProcess));
}

} // namespace
} // namespace kova::testing
