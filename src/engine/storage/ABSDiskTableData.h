// Tables of a database file: the open-table catalogue of one database (TABSDiskDatabaseTables),
// the table data shared by the cursors of one table (TABSDiskTableData), and the per-session
// cache of table states (TABSDiskTablePagesCacheManager).
//
// A table consists of its table list entry, a definition file (page type 8, ZLIB level 1), a
// state file (page type 9), a lock file (page type 7), its record pages with the record page
// index, its index trees and its BLOB pages. Formats: ABSTableDefinition.h, ABSRecordPage.h.
//
// Changes. Every insert, update and delete writes the state file in the session's page set and,
// unless the session is inside an explicit transaction (StartTransaction), commits the session at
// once. A failed change outside a transaction rolls the session back, so nothing of it stays.
//
// Multi-user mode. Every read or change of a table first takes table lock kind 1 (up to 2250
// tries, 20 … 39 ms apart; "Table is locked", 20214 / 20215), re-reads the state file unless the
// session's cached copy is still current, and releases the lock afterwards. A change also takes
// kind 3, which keeps a second writer out until the first has committed: without it two
// processes could fill the same free slot from the same stale page and one row would be lost.
// Inside a transaction kind 3 is held until the transaction ends.
//
// Lock order: the catalogue's lock, then a table's lock, then the database's critical section.
#pragma once

#include "engine/storage/ABSBTreePageIndex.h"
#include "engine/storage/ABSBTreeRecordIndex.h"
#include "engine/storage/ABSIndexManager.h"
#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSDiskRecordManager.h"
#include "engine/storage/ABSInternalFiles.h"
#include "engine/storage/ABSRecordPage.h"
#include "engine/storage/ABSTableDefinition.h"
#include "engine/storage/ABSTableList.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kova {

class TABSDiskDatabaseData;
class TABSDiskBlobManager;
class TABSDiskDatabaseTables;

inline constexpr int kTableOpenOnDropError = 20017;       // "Cannot delete table '%s'. Table is open by another dataset"
inline constexpr int kTableOpenOnRenameError = 20018;     // "Cannot rename table '%s'. Table is open by another dataset"
inline constexpr int kTableExclusiveInProcessError = 20242;
inline constexpr int kTableLockedOnReadError = 20214;     // "Table is locked"
inline constexpr int kTableLockedOnWriteError = 20215;    // "Table is locked"

// Table access locks of multi-user mode.
inline constexpr int kTableLockAccess = 1;
inline constexpr int kTableLockWriteIntent = 3;
inline constexpr int kTableAccessAttempts = 2250;

// Table states as each session last saw them, with the modification counter of the state file's
// first page at that time: while the page is unchanged (or changed only by the session itself),
// the cached state is current.
class TABSDiskTablePagesCacheManager {
public:
    struct CachedState {
        std::int32_t StatePageCounter = 0;
        TABSTableState State;
    };

    [[nodiscard]] std::optional<CachedState> Find(TABSSessionID session, std::int32_t tableId) const;
    void Store(TABSSessionID session, std::int32_t tableId, CachedState state);
    void Invalidate(TABSSessionID session, std::int32_t tableId);
    void InvalidateSession(TABSSessionID session);
    void InvalidateTable(std::int32_t tableId);
    [[nodiscard]] std::size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<TABSSessionID, std::int32_t>, CachedState> states_;
};

// What opening a table in repair mode found and mended.
struct TABSTableRepairReport {
    std::string TableName;
    std::uint64_t RecordPagesFound = 0;   // record pages of the table found by scanning the file
    std::uint64_t RecordsKept = 0;
    std::uint64_t RecordsDropped = 0;     // unreadable records (and duplicates of unique keys)
    std::uint64_t PagesDropped = 0;       // pages listed for the table that could not be read
    std::uint64_t BlobValuesDropped = 0;  // unreadable BLOB values (the fields became null)
    std::uint64_t BlobPagesFound = 0;     // shared BLOB pages the remaining records name
    std::vector<std::string> Messages;    // one line per problem, in the order found

    [[nodiscard]] bool Clean() const noexcept { return Messages.empty(); }
};

// One table of a database file, shared by all cursors of the process that have it open.
class TABSDiskTableData final : public TABSTableData {
public:
    // Loads the definition of the table `entry` as `session` sees it (no state yet). Raises 20164
    // for a definition that does not decode.
    TABSDiskTableData(TABSDiskDatabaseTables& owner, const TABSTableEntry& entry, TABSSessionID session);
    ~TABSDiskTableData() override;

    [[nodiscard]] TABSRecordID InsertRecord(TABSSessionID session, std::span<std::uint8_t> record) override;
    void UpdateRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;
    void DeleteRecord(TABSSessionID session, const TABSRecordID& id) override;
    void ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;

    [[nodiscard]] std::optional<TABSRecordID> FirstRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> LastRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> NextRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::optional<TABSRecordID> PriorRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::uint64_t RecordCount(TABSSessionID session) override;
    [[nodiscard]] TABSRecordID RecordAtNumber(TABSSessionID session, std::uint64_t recNo) override;
    [[nodiscard]] std::uint64_t RecordNumberOf(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::int32_t ChangeCounter(TABSSessionID session) override;
    [[nodiscard]] std::int64_t NextAutoincValue(TABSSessionID session, int fieldNo) override;
    void EmptyTable(TABSSessionID session) override;

    [[nodiscard]] TABSBaseBlobManager* BlobManager() noexcept override;
    // BLOB reads take the table access of multi-user mode like record reads.
    [[nodiscard]] std::unique_ptr<TABSBlobStream> OpenBlobStream(TABSSessionID session, std::span<std::uint8_t> record,
                                                                 int fieldNo, TABSBlobOpenMode mode) override;
    [[nodiscard]] TABSRawBlob GetBlobRaw(TABSSessionID session, std::span<std::uint8_t> record, int fieldNo) override;
    [[nodiscard]] TABSBaseRecordManager& RecordManager() noexcept override { return *records_; }
    // The table's indexes: persistent ones in definition order, then temporary ones. Searches
    // (scan conditions) go through it; calls on it must hold the table's lock.
    [[nodiscard]] TABSBaseIndexManager& IndexManager() noexcept { return *indexManager_; }
    [[nodiscard]] TABSDiskBlobManager* DiskBlobManager() noexcept { return blobs_.get(); }

    [[nodiscard]] const TABSTableEntry& Entry() const noexcept { return entry_; }
    [[nodiscard]] const TABSRecordPageGeometry& Geometry() const noexcept { return *geometry_; }
    [[nodiscard]] TABSBTreeRecordPageIndex& RecordPageIndex() noexcept { return pageIndex_; }
    // The table's state as `session` sees it (reads the state file when the cache is stale).
    [[nodiscard]] TABSTableState State(TABSSessionID session);

    // Walks every index tree, the record page index and the BLOB page index (with the bytes its
    // pages use) and raises on the first fault.
    void CheckIntegrity(TABSSessionID session);

    // Checks and mends the table (see TABSDiskDatabaseTables::RepairTable). Changes go into
    // `session`'s page set; the caller commits.
    [[nodiscard]] TABSTableRepairReport Repair(TABSSessionID session);

protected:
    void CloseCursor(TABSSessionID session, bool exclusive) noexcept override;

private:
    friend class TABSDiskDatabaseTables;
    class Access;
    class RecordSource;

    void BuildManagers();
    // Loads indexes_ into the index manager (after the definitions changed).
    void LoadIndexes();
    void EnsureState(TABSSessionID session);
    void StoreState(TABSSessionID session);
    void WriteDefinition(TABSSessionID session);
    [[nodiscard]] TABSTableDefinition Definition() const;
    void FillAutoincFields(std::span<std::uint8_t> record);
    // Runs `change` as one change of the table; on failure restores the state (and, outside a
    // transaction, rolls the session back) before the error passes on.
    void RunChange(TABSSessionID session, const std::function<void()>& change);
    [[nodiscard]] TABSForEachRecord RecordWalker(TABSSessionID session);
    [[noreturn]] void RaiseRecordNotFound(const TABSRecordID& id);

    TABSDiskDatabaseTables& owner_;
    TABSDiskDatabaseData& database_;
    TABSPageManager& pages_;
    TABSTableEntry entry_;
    TABSInternalDBTransactedAccessFile definitionFile_;
    TABSInternalDBTransactedAccessFile stateFile_;
    std::unique_ptr<TABSRecordPageGeometry> geometry_;
    TABSBTreeRecordPageIndex pageIndex_;
    TABSTableState state_;
    std::unique_ptr<TABSDiskRecordManager> records_;
    std::unique_ptr<TABSDiskBlobManager> blobs_;
    std::unique_ptr<TABSIndexRecordSource> recordSource_;
    std::unique_ptr<TABSPageManager> temporaryPages_;  // pages of temporary indexes
    std::unique_ptr<TABSBaseIndexManager> indexManager_;
};

// The tables of one open database file as this process uses them: creating, opening, dropping
// and renaming tables, the tables open by cursors, transactions of sessions, and the state cache.
class TABSDiskDatabaseTables {
public:
    using Sleeper = std::function<void(int milliseconds)>;

    // REQUIRES: `database` is connected and outlives this object.
    explicit TABSDiskDatabaseTables(TABSDiskDatabaseData& database);
    ~TABSDiskDatabaseTables();
    TABSDiskDatabaseTables(const TABSDiskDatabaseTables&) = delete;
    TABSDiskDatabaseTables& operator=(const TABSDiskDatabaseTables&) = delete;

    [[nodiscard]] TABSDiskDatabaseData& Database() noexcept { return database_; }
    [[nodiscard]] TABSDiskTablePagesCacheManager& StateCache() noexcept { return stateCache_; }

    // Creates a table (under the tables lock, in the system session, committed at once; on failure
    // nothing remains). Raises 20128 without fields, 30395 when the name is taken, 20174 for a
    // record too large for a page, 10421 for a BLOB field with block size 0, 20043 / 20295 for
    // impossible index columns, 30040 / 30038 for unsupported or unnamed constraints.
    // Field object ids of 0 are numbered; a unique or primary index without a constraint gets one.
    void CreateTable(const std::string& name, TABSTableDefinition definition);

    // Opens a table for a cursor of `session`. The first cursor loads the table; later ones share
    // it. Raises 30396 "Table '%s' not exists.", 20242 when exclusive use meets another cursor of
    // this process, 20208 / 20209 when another process holds it.
    [[nodiscard]] TABSTableHandle OpenTable(TABSSessionID session, const std::string& name, bool exclusive = false);

    // Opens the table once in repair mode and closes it again: keeps every readable record and
    // BLOB value, rebuilds the record page index (from the record pages found by scanning the
    // whole file for pages of type 10 carrying the table's id and marked used), the record count,
    // the auto-increment counters, the BLOB page index (from the shared BLOB pages the records
    // name) and every index, and reports what it dropped. The table must not be open. Commits the
    // system session.
    [[nodiscard]] TABSTableRepairReport RepairTable(TABSSessionID session, const std::string& name);

    // Raise 20017 / 20018 when a cursor has the table open.
    void DropTable(TABSSessionID session, const std::string& name);
    void RenameTable(TABSSessionID session, const std::string& oldName, const std::string& newName);
    // Raises 30404 "Field '%s' not found", 30406 "Cannot rename field '%s'. Field '%s' already
    // exists", 20018 when the table is open.
    void RenameField(TABSSessionID session, const std::string& tableName, const std::string& oldName,
                     const std::string& newName);

    // Adds a persistent index and fills it from the table's records; a unique or primary index
    // gets its constraint and fails with 30320 / 30319 when the records already repeat a key
    // (nothing is left of it then). Raises 20043 / 20295 for impossible columns and 20048 "Index
    // '%s' already exists" for a name in use. Dropping an unknown index: 20046 "Index not found".
    void AddIndex(TABSSessionID session, const std::string& tableName, TABSIndexDef index);
    void DropIndex(TABSSessionID session, const std::string& tableName, const std::string& indexName);

    [[nodiscard]] bool IsTableOpen(const std::string& name) const;
    [[nodiscard]] std::vector<std::string> TableNames();

    // Transactions. Outside one, every change commits at once.
    void StartTransaction(TABSSessionID session);
    [[nodiscard]] bool InTransaction(TABSSessionID session) const;
    void Commit(TABSSessionID session, bool flushFileBuffers = false);
    void Rollback(TABSSessionID session);

    // Tests shorten the pauses between table lock tries.
    void SetSleeper(Sleeper sleeper);

private:
    friend class TABSDiskTableData;

    [[nodiscard]] static std::string Key(const std::string& name);
    // Takes `kind` on the table, retrying 2250 times 20 … 39 ms apart; raises `errorCode`.
    void LockTableForAccess(TABSSessionID session, std::int32_t tableId, int kind, int errorCode);
    void UnlockTableForAccess(TABSSessionID session, std::int32_t tableId, int kind) noexcept;
    // A change of `tableId` in `session` is about to start: takes the write-intent lock unless held.
    void BeginWrite(TABSSessionID session, std::int32_t tableId);
    // The change is complete: commits unless the session is in a transaction.
    void EndWrite(TABSSessionID session, bool failed);
    void ReleaseWriteLocks(TABSSessionID session) noexcept;
    void TableClosed(const std::string& name, TABSSessionID session, bool exclusive, bool last) noexcept;
    // Runs `change` on the table's definitions in the system session and writes the definition
    // file; an open table changes in memory too and gets its old definitions back on failure.
    void ChangeDefinition(const std::string& tableName, const std::function<void(TABSDiskTableData&, TABSSessionID)>& change);
    void Sleep(int milliseconds);

    TABSDiskDatabaseData& database_;
    TABSDiskTablePagesCacheManager stateCache_;
    std::recursive_mutex ddlMutex_;  // work in the system session
    mutable std::mutex mutex_;  // open tables
    std::map<std::string, std::shared_ptr<TABSDiskTableData>> openTables_;
    mutable std::mutex transactionMutex_;  // transactions and write locks
    std::set<TABSSessionID> transactions_;
    std::map<TABSSessionID, std::set<std::int32_t>> writeLocks_;
    Sleeper sleeper_;
};

} // namespace kova
