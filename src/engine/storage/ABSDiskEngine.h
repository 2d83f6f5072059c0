// One open database file as the sessions of this process share it: the page manager, the
// system directory, the sessions file, the table list, the table lock files and the table lock
// manager.
//
// Life cycle:
//
//   closed ──ConnectSession (first)──> open, 1 connection ──ConnectSession──> open, n connections
//     ^  │                                     │                                   │
//     │  └─CreateDatabase (makes the file, commits, closes again)                  │
//     └──────────DisconnectSession (last)──────┴──────DisconnectSession────────────┘
//
// Connection modes. Multi-user: every connection locks its own byte of the sessions file; that
// byte's index is its session id. Single-user: every connection has session id 0; the first one
// locks all bytes when nobody holds any (the database is then the process's alone) and
// otherwise uses the database read-only. A process cannot mix the two modes.
//
// Every public operation runs under the critical section of TABSDatabaseData.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/storage/ABSActiveSessions.h"
#include "engine/storage/ABSDiskPageManager.h"
#include "engine/storage/ABSSystemDirectory.h"
#include "engine/storage/ABSTableList.h"
#include "engine/storage/ABSTableLocks.h"

namespace kova {

class TABSFileSystem;

inline constexpr std::int32_t kDefaultMaxConnections = 500;

// Native errors of connecting, table locks and commits.
inline constexpr int kTooManyConnectionsError = 20094;
inline constexpr int kSessionsFileUnlockError = 20093;
inline constexpr int kDisconnectError = 20095;
inline constexpr int kMixedModesError = 20235;
inline constexpr int kTablesLockedError = 20210;
inline constexpr int kTablesUnlockError = 20211;
inline constexpr int kTableLockedAtOpenError = 20209;
inline constexpr int kTableExclusiveError = 20208;
inline constexpr int kCommitLocksError = 20233;
inline constexpr int kReadOnlyCommitError = 20236;
inline constexpr int kInvalidDatabaseError = 20237;

// The data of one database shared by the sessions of a process: the file name and the
// critical section that serialises its operations.
class TABSDatabaseData {
public:
    explicit TABSDatabaseData(std::string fileName) : fileName_(std::move(fileName)) {}
    virtual ~TABSDatabaseData() = default;
    TABSDatabaseData(const TABSDatabaseData&) = delete;
    TABSDatabaseData& operator=(const TABSDatabaseData&) = delete;

    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
    // Held by every operation; callers may hold it around a sequence of operations.
    [[nodiscard]] std::recursive_mutex& CriticalSection() const noexcept { return criticalSection_; }

private:
    std::string fileName_;
    mutable std::recursive_mutex criticalSection_;
};

struct TABSCreateDatabaseOptions {
    TABSPassword Password;  // empty text: not enciphered
    std::uint16_t PageSize = FileHeader::kDefaultPageSize;
    std::uint16_t PageCountInExtent = FileHeader::kDefaultPageCountInExtent;
    std::int32_t MaxConnections = kDefaultMaxConnections;
};

struct TABSConnectOptions {
    TABSPassword Password;
    bool MultiUser = false;
    bool Exclusive = false;
    bool ReadOnly = false;
};

struct TABSConnection {
    TABSSessionID SessionID = kInvalidSessionID;
    bool ReadOnly = false;  // the file is read-only, or single-user mode found it in use
};

class TABSDiskDatabaseData : public TABSDatabaseData {
public:
    using Sleeper = std::function<void(int milliseconds)>;

    // Uses the operating system's files.
    explicit TABSDiskDatabaseData(std::string fileName);
    // Uses `fileSystem` (it must outlive this object).
    TABSDiskDatabaseData(std::string fileName, TABSFileSystem& fileSystem);
    ~TABSDiskDatabaseData() override;

    // Creates the database file (an existing file of that name is replaced): header, system
    // directory (page 2, else 30392), sessions file, empty table list, committed in the system
    // session; the file is closed again. Raises 10461 while connections are open.
    void CreateDatabase(const TABSCreateDatabaseOptions& options);

    // Connects a session, opening the file with the first connection. Raises the open errors
    // (10470, 30445, 20237, …), 20235 for a second connection that asks for the other mode,
    // 20094 when no slot is free in multi-user mode.
    [[nodiscard]] TABSConnection ConnectSession(const TABSConnectOptions& options);
    // Disconnects: releases the session's table locks and slot; the last connection closes the
    // file. Raises 20095 for an unknown session or when its slot cannot be released.
    void DisconnectSession(TABSSessionID session);

    [[nodiscard]] bool IsOpen() const;
    [[nodiscard]] int ConnectionCount() const;
    [[nodiscard]] bool IsMultiUser() const;
    [[nodiscard]] bool IsReadOnly() const;
    // The process holds every sessions-file byte (single-user mode, first comer).
    [[nodiscard]] bool IsExclusiveOwner() const;
    [[nodiscard]] bool NeedsRepair() const;
    [[nodiscard]] bool IsEncrypted() const;
    // Connection slots of the sessions file (MaxConnections of the file).
    [[nodiscard]] std::int32_t MaxConnections() const;
    // REQUIRES: open.
    [[nodiscard]] TABSDatabaseFileInfo FileInfo() const;
    [[nodiscard]] TABSDiskPageManager& PageManager() noexcept { return *pageManager_; }

    // Tables. Names are UTF-8 and compared without regard to case.
    [[nodiscard]] std::optional<TABSTableEntry> FindTable(const std::string& name);
    // 30396 "Table '%s' not exists." when missing.
    [[nodiscard]] TABSTableEntry GetTable(const std::string& name);
    [[nodiscard]] std::vector<std::string> TableNames();
    [[nodiscard]] std::size_t TableCount();
    // Entry changes go into `session`'s page set (normally kSystemSessionID under the tables
    // lock) and reach the file with its commit; a rollback of that session restores the list.
    // 30395 name taken; 30397 / 30405 name missing.
    void AddTableEntry(TABSSessionID session, const TABSTableEntry& entry);
    void RenameTableEntry(TABSSessionID session, const std::string& oldName, const std::string& newName);
    // Removes the entry and releases the table's locks in this process.
    void DeleteTableEntry(TABSSessionID session, const std::string& name);
    // Makes a table lock file for MaxConnections slots in `session`; returns its first page.
    [[nodiscard]] TABSPageNo CreateTableLocksFile(TABSSessionID session);
    // Gives the pages of a table's lock file back in `session`.
    void DeleteTableLocksFile(TABSSessionID session, TABSPageNo firstPageNo);

    // The tables lock (around creating a table and the first opening of a table); retried.
    // 20210 / 20211. In multi-user mode taking it re-reads the table list.
    void LockTables();
    void UnlockTables();

    // Table locks (multi-user only; single-user requests succeed at once).
    [[nodiscard]] bool LockTable(TABSSessionID session, std::int32_t tableId, int kind, int attempts,
                                 bool ignoreWriteLock = false);
    [[nodiscard]] bool UnlockTable(TABSSessionID session, std::int32_t tableId, int kind);
    // A cursor opens a table: kind 0, or kind 6 when exclusive (50 tries). 20209 / 20208.
    void LockTableForOpen(TABSSessionID session, std::int32_t tableId, bool exclusive);
    void UnlockTableForOpen(TABSSessionID session, std::int32_t tableId, bool exclusive);
    [[nodiscard]] TABSDatabaseTableLockManager& TableLockManager();

    // Records that `session` changed the table; its commit locks the table for writing.
    void MarkTableModified(TABSSessionID session, std::int32_t tableId);
    // Commits the session's pages, flushing the file buffers when asked. In multi-user mode the
    // tables the session changed are locked for writing first (900 tries; 20233) and released
    // afterwards. A read-only connection cannot commit changes (20236).
    void Commit(TABSSessionID session, bool flushFileBuffers = false);
    void Rollback(TABSSessionID session);

    [[nodiscard]] std::int32_t NextObjectID();

    // Tests shorten the waits: the sessions-file lock retries and the table lock pauses.
    void SetSleeper(Sleeper sleeper);

private:
    void RequireOpen() const;
    void OpenInternalFiles();
    void CloseInternal() noexcept;
    [[nodiscard]] TABSSessionID ConnectMultiUser();
    void ConnectSingleUser(TABSConnection& connection);
    [[nodiscard]] bool LockSessionsFile();
    [[nodiscard]] TABSTableLocksFile& LocksFileOf(std::int32_t tableId);
    [[nodiscard]] TABSTableEntry EntryById(std::int32_t tableId);
    void Sleep(int milliseconds);
    void ReloadTableList();

    std::unique_ptr<TABSDiskPageManager> pageManager_;
    TABSSystemDirectory systemDirectory_;
    TABSActiveSessionsFile sessionsFile_;
    TABSTableListFile tableList_;
    std::unique_ptr<TABSDatabaseTableLockManager> lockManager_;
    std::map<std::int32_t, std::unique_ptr<TABSTableLocksFile>> locksFiles_;  // by table id
    std::multiset<TABSSessionID> connections_;
    std::map<TABSSessionID, std::set<std::int32_t>> modifiedTables_;
    std::set<TABSSessionID> tableListChangedBy_;
    Sleeper sleeper_;
    bool requestedMultiUser_ = false;
    bool multiUser_ = false;
    bool readOnly_ = false;
    bool exclusiveOwner_ = false;
    bool needsRepair_ = false;
};

} // namespace kova
