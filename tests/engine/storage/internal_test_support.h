// Helpers for the tests of the open database: making databases and table entries, connecting
// without real waits, and running code in a child process.
#pragma once

#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSInternalFiles.h"
#include "pages_test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

namespace kova::testing {

inline TABSCreateDatabaseOptions CreateOptions(std::int32_t maxConnections = kDefaultMaxConnections,
                                               const std::string& password = {}) {
    TABSCreateDatabaseOptions options;
    options.Password.Password = password;
    options.MaxConnections = maxConnections;
    return options;
}

inline TABSConnectOptions ConnectOptions(bool multiUser, const std::string& password = {}) {
    TABSConnectOptions options;
    options.MultiUser = multiUser;
    options.Password.Password = password;
    return options;
}

// A database object whose lock retries do not really wait: the sessions-file retries and table
// lock pauses go to a counter, the page manager's lock retries are cut to a few quick tries.
inline std::unique_ptr<TABSDiskDatabaseData> QuickDatabase(const std::string& path, int* pauses = nullptr) {
    auto database = std::make_unique<TABSDiskDatabaseData>(path);
    database->SetSleeper([pauses](int) {
        if (pauses != nullptr) ++*pauses;
    });
    database->PageManager().SetLockRetryPolicy({3, 1});
    return database;
}

// Adds a table entry with its lock file, definition file and state file, committed in the
// system session under the tables lock, as the table layer does when it creates a table.
inline TABSTableEntry AddTable(TABSDiskDatabaseData& database, const std::string& name) {
    database.LockTables();
    TABSTableEntry entry;
    entry.Name = name;
    entry.TableId = database.NextObjectID();
    entry.LocksPageNo = database.CreateTableLocksFile(kSystemSessionID);
    TABSInternalDBTransactedAccessFile definition(database.PageManager(), TABSPageType::TableMetaData);
    definition.CreateFile(kSystemSessionID);
    TABSInternalDBTransactedAccessFile state(database.PageManager(), TABSPageType::TableMostUpdated);
    state.CreateFile(kSystemSessionID);
    entry.MetaDataPageNo = definition.FirstPageNo();
    entry.MostUpdatedPageNo = state.FirstPageNo();
    database.AddTableEntry(kSystemSessionID, entry);
    database.Commit(kSystemSessionID, true);
    database.UnlockTables();
    return entry;
}

// Runs `body` in a forked child and returns its exit code: the body's result, 99 when it threw.
// The child opens its own files, so its locks conflict with the parent's like another program's.
inline int RunInChildProcess(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
            code = 99;
        }
        ::_exit(code);
    }
    if (child < 0) return -1;
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kova::testing
