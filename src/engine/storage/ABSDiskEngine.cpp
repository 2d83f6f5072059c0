#include "engine/storage/ABSDiskEngine.h"

#include <chrono>
#include <thread>

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSDatabaseFile.h"

namespace kova {

TABSDiskDatabaseData::TABSDiskDatabaseData(std::string fileName)
    : TABSDiskDatabaseData(std::move(fileName), TABSFileSystem::Default()) {}

TABSDiskDatabaseData::TABSDiskDatabaseData(std::string fileName, TABSFileSystem& fileSystem)
    : TABSDatabaseData(std::move(fileName)),
      pageManager_(std::make_unique<TABSDiskPageManager>(fileSystem)),
      systemDirectory_(*pageManager_),
      sessionsFile_(*pageManager_),
      tableList_(*pageManager_) {}

TABSDiskDatabaseData::~TABSDiskDatabaseData() { CloseInternal(); }

void TABSDiskDatabaseData::SetSleeper(Sleeper sleeper) {
    std::lock_guard lock(CriticalSection());
    sleeper_ = std::move(sleeper);
}

void TABSDiskDatabaseData::Sleep(int milliseconds) {
    if (sleeper_) {
        sleeper_(milliseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

void TABSDiskDatabaseData::RequireOpen() const {
    if (!pageManager_->IsOpen()) RaiseError(10459, "Error - database file is not opened.");
}

// ---------------------------------------------------------------------------------------------
// Creating and opening

void TABSDiskDatabaseData::CreateDatabase(const TABSCreateDatabaseOptions& options) {
    std::lock_guard lock(CriticalSection());
    if (pageManager_->IsOpen()) RaiseError(10461, "Error - database file %s is in use.", {FileName()});
    pageManager_->CreateDatabaseFile(FileName(), options.Password, options.PageCountInExtent, options.PageSize);
    try {
        // The order fixes the layout of a new file: directory page 2, sessions file page 3,
        // table list page 4.
        systemDirectory_.Create(kSystemSessionID);
        sessionsFile_.Create(kSystemSessionID, std::max<std::int32_t>(options.MaxConnections, 1));
        tableList_.Create(kSystemSessionID);
        systemDirectory_.SetEntry(kSystemSessionID, TABSSystemDirectory::kTableListEntry, tableList_.FirstPageNo());
        systemDirectory_.SetEntry(kSystemSessionID, TABSSystemDirectory::kSessionsFileEntry, sessionsFile_.FirstPageNo());
        pageManager_->CommitSession(kSystemSessionID, /*flushFileBuffers=*/true);
    } catch (...) {
        pageManager_->RollbackSession(kSystemSessionID);
        CloseInternal();
        throw;
    }
    CloseInternal();
}

void TABSDiskDatabaseData::OpenInternalFiles() {
    systemDirectory_.Open();
    const TABSPageNo tableListPage = systemDirectory_.FindEntry(kSystemSessionID, TABSSystemDirectory::kTableListEntry);
    const TABSPageNo sessionsPage = systemDirectory_.FindEntry(kSystemSessionID, TABSSystemDirectory::kSessionsFileEntry);
    if (tableListPage == kNoPage || sessionsPage == kNoPage) RaiseError(kInvalidDatabaseError, "Invalid database format");
    sessionsFile_.Open(sessionsPage);
    tableList_.Open(tableListPage);
    tableList_.Load(kSystemSessionID);
}

void TABSDiskDatabaseData::CloseInternal() noexcept {
    if (lockManager_) {
        for (const TABSSessionID session : connections_) lockManager_->ReleaseSession(session);
    }
    lockManager_.reset();
    locksFiles_.clear();
    tableList_.Close();
    sessionsFile_.Close();
    systemDirectory_.Close();
    connections_.clear();
    modifiedTables_.clear();
    tableListChangedBy_.clear();
    multiUser_ = readOnly_ = exclusiveOwner_ = needsRepair_ = false;
    try {
        pageManager_->CloseDatabaseFile();
    } catch (const EABSError&) {
        // Closing drops the handle in any case; there is nobody left to tell.
    }
}

// ---------------------------------------------------------------------------------------------
// Sessions

bool TABSDiskDatabaseData::LockSessionsFile() {
    const TABSLockRetryPolicy& retry = pageManager_->LockRetryPolicy();
    for (int attempt = 1; attempt <= retry.Attempts; ++attempt) {
        if (sessionsFile_.LockFile()) return true;
        if (attempt < retry.Attempts) Sleep(retry.PauseMilliseconds);
    }
    return false;
}

TABSSessionID TABSDiskDatabaseData::ConnectMultiUser() {
    if (!LockSessionsFile()) {
        RaiseError(kTooManyConnectionsError,
                   "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
    }
    const std::optional<std::int32_t> slot = sessionsFile_.LockFirstFreeSlot();
    const bool unlocked = sessionsFile_.UnlockFile();
    if (!unlocked) {
        if (slot) (void)sessionsFile_.UnlockSlot(*slot);
        RaiseError(kSessionsFileUnlockError, "Cannot unlock sessions file");
    }
    if (!slot) {
        RaiseError(kTooManyConnectionsError,
                   "Cannot connect session. Maximum connections quantity exceeded or database is open in single-user mode");
    }
    return *slot;
}

void TABSDiskDatabaseData::ConnectSingleUser(TABSConnection& connection) {
    connection.SessionID = 0;
    if (!connections_.empty()) return;  // the first connection decided for the process
    if (!readOnly_ && !sessionsFile_.IsAnySlotLocked() && sessionsFile_.LockAllSlots()) {
        exclusiveOwner_ = true;
    } else {
        readOnly_ = true;
    }
}

TABSConnection TABSDiskDatabaseData::ConnectSession(const TABSConnectOptions& options) {
    std::lock_guard lock(CriticalSection());
    const bool first = connections_.empty();
    if (!first && options.MultiUser != requestedMultiUser_) {
        RaiseError(kMixedModesError, "Cannot open database in multi-user and signle-user mode at the same time");
    }
    if (first) {
        try {
            TABSOpenOptions open;
            open.MultiUser = options.MultiUser;
            open.Exclusive = options.Exclusive;
            open.ReadOnly = options.ReadOnly;
            const TABSOpenResult result = pageManager_->OpenDatabaseFile(FileName(), options.Password, open);
            multiUser_ = result.MultiUser;
            readOnly_ = result.ReadOnly;
            needsRepair_ = result.NeedsRepair;
            requestedMultiUser_ = options.MultiUser;
            OpenInternalFiles();
            lockManager_ = std::make_unique<TABSDatabaseTableLockManager>(
                multiUser_, [this](int milliseconds) { Sleep(milliseconds); });
        } catch (...) {
            CloseInternal();
            throw;
        }
    }
    TABSConnection connection;
    try {
        if (multiUser_) {
            connection.SessionID = ConnectMultiUser();
        } else {
            ConnectSingleUser(connection);
        }
    } catch (...) {
        if (first) CloseInternal();
        throw;
    }
    connection.ReadOnly = readOnly_;
    connections_.insert(connection.SessionID);
    return connection;
}

void TABSDiskDatabaseData::DisconnectSession(TABSSessionID session) {
    std::lock_guard lock(CriticalSection());
    const auto found = connections_.find(session);
    if (found == connections_.end()) RaiseError(kDisconnectError, "Cannot disconnect session");
    connections_.erase(found);
    bool released = true;
    // In single-user mode all connections share session 0: its pages and locks stay until the last goes.
    if (connections_.count(session) == 0) {
        lockManager_->ReleaseSession(session);
        modifiedTables_.erase(session);
        if (pageManager_->SessionHasChanges(session)) Rollback(session);
        if (multiUser_) {
            released = sessionsFile_.UnlockSlot(session);
        } else if (exclusiveOwner_) {
            released = sessionsFile_.UnlockAllSlots();
            exclusiveOwner_ = false;
        }
    }
    if (connections_.empty()) CloseInternal();
    if (!released) RaiseError(kDisconnectError, "Cannot disconnect session");
}

bool TABSDiskDatabaseData::IsOpen() const {
    std::lock_guard lock(CriticalSection());
    return pageManager_->IsOpen();
}

int TABSDiskDatabaseData::ConnectionCount() const {
    std::lock_guard lock(CriticalSection());
    return static_cast<int>(connections_.size());
}

bool TABSDiskDatabaseData::IsMultiUser() const {
    std::lock_guard lock(CriticalSection());
    return multiUser_;
}

bool TABSDiskDatabaseData::IsReadOnly() const {
    std::lock_guard lock(CriticalSection());
    return readOnly_;
}

bool TABSDiskDatabaseData::IsExclusiveOwner() const {
    std::lock_guard lock(CriticalSection());
    return exclusiveOwner_;
}

bool TABSDiskDatabaseData::NeedsRepair() const {
    std::lock_guard lock(CriticalSection());
    return needsRepair_;
}

bool TABSDiskDatabaseData::IsEncrypted() const {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    return pageManager_->IsEncrypted();
}

std::int32_t TABSDiskDatabaseData::MaxConnections() const {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    return sessionsFile_.SlotCount();
}

TABSDatabaseFileInfo TABSDiskDatabaseData::FileInfo() const {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    return pageManager_->FileInfo();
}

// ---------------------------------------------------------------------------------------------
// Tables

void TABSDiskDatabaseData::ReloadTableList() {
    tableList_.Load(kSystemSessionID);
}

std::optional<TABSTableEntry> TABSDiskDatabaseData::FindTable(const std::string& name) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    std::optional<TABSTableEntry> entry = tableList_.Find(name);
    // Another process may have made the table since the list was read.
    if (!entry && multiUser_) {
        ReloadTableList();
        entry = tableList_.Find(name);
    }
    return entry;
}

TABSTableEntry TABSDiskDatabaseData::GetTable(const std::string& name) {
    std::optional<TABSTableEntry> entry = FindTable(name);
    if (!entry) RaiseError(kTableNotFoundError, "Table '%s' not exists.", {name});
    return *entry;
}

std::vector<std::string> TABSDiskDatabaseData::TableNames() {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (multiUser_) ReloadTableList();
    return tableList_.Names();
}

std::size_t TABSDiskDatabaseData::TableCount() {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (multiUser_) ReloadTableList();
    return tableList_.Entries().size();
}

void TABSDiskDatabaseData::AddTableEntry(TABSSessionID session, const TABSTableEntry& entry) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    tableListChangedBy_.insert(session);
    tableList_.Add(session, entry);
}

void TABSDiskDatabaseData::RenameTableEntry(TABSSessionID session, const std::string& oldName,
                                            const std::string& newName) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    tableListChangedBy_.insert(session);
    tableList_.Rename(session, oldName, newName);
}

void TABSDiskDatabaseData::DeleteTableEntry(TABSSessionID session, const std::string& name) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    const std::optional<TABSTableEntry> entry = tableList_.Find(name);
    tableListChangedBy_.insert(session);
    tableList_.Remove(session, name);
    if (entry) {
        if (const auto found = locksFiles_.find(entry->TableId); found != locksFiles_.end()) {
            lockManager_->ReleaseTable(entry->TableId);
            locksFiles_.erase(found);
        }
        for (auto& [owner, tables] : modifiedTables_) tables.erase(entry->TableId);
    }
}

TABSPageNo TABSDiskDatabaseData::CreateTableLocksFile(TABSSessionID session) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    TABSTableLocksFile file(*pageManager_);
    file.Create(session, sessionsFile_.SlotCount());
    return file.FirstPageNo();
}

void TABSDiskDatabaseData::DeleteTableLocksFile(TABSSessionID session, TABSPageNo firstPageNo) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    for (auto it = locksFiles_.begin(); it != locksFiles_.end(); ++it) {
        if (it->second->FirstPageNo() == firstPageNo) {
            lockManager_->ReleaseTable(it->first);
            locksFiles_.erase(it);
            break;
        }
    }
    TABSTableLocksFile file(*pageManager_);
    file.Open(firstPageNo);
    file.Delete(session);
}

void TABSDiskDatabaseData::LockTables() {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (!pageManager_->LockTables()) RaiseError(kTablesLockedError, "Database tables are locked");
    // Other processes change the table list only under this lock: now the list is current.
    if (multiUser_) {
        try {
            ReloadTableList();
        } catch (...) {
            (void)pageManager_->UnlockTables();
            throw;
        }
    }
}

void TABSDiskDatabaseData::UnlockTables() {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (!pageManager_->UnlockTables()) RaiseError(kTablesUnlockError, "Cannot unlock database tables");
}

TABSTableEntry TABSDiskDatabaseData::EntryById(std::int32_t tableId) {
    std::optional<TABSTableEntry> entry = tableList_.FindById(tableId);
    if (!entry && multiUser_) {
        ReloadTableList();
        entry = tableList_.FindById(tableId);
    }
    if (!entry) RaiseError(kTableNotFoundError, "Table '%s' not exists.", {tableId});
    return *entry;
}

TABSTableLocksFile& TABSDiskDatabaseData::LocksFileOf(std::int32_t tableId) {
    if (const auto found = locksFiles_.find(tableId); found != locksFiles_.end()) return *found->second;
    const TABSTableEntry entry = EntryById(tableId);
    auto file = std::make_unique<TABSTableLocksFile>(*pageManager_);
    file->Open(entry.LocksPageNo);
    return *locksFiles_.emplace(tableId, std::move(file)).first->second;
}

TABSDatabaseTableLockManager& TABSDiskDatabaseData::TableLockManager() {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    return *lockManager_;
}

bool TABSDiskDatabaseData::LockTable(TABSSessionID session, std::int32_t tableId, int kind, int attempts,
                                     bool ignoreWriteLock) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (!multiUser_) return true;
    return lockManager_->LockTable(LocksFileOf(tableId), tableId, session, kind, attempts, ignoreWriteLock);
}

bool TABSDiskDatabaseData::UnlockTable(TABSSessionID session, std::int32_t tableId, int kind) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (!multiUser_) return true;
    return lockManager_->UnlockTable(LocksFileOf(tableId), tableId, session, kind);
}

void TABSDiskDatabaseData::LockTableForOpen(TABSSessionID session, std::int32_t tableId, bool exclusive) {
    std::lock_guard lock(CriticalSection());
    const int kind = exclusive ? kTableLockExclusive : kTableLockOpen;
    if (LockTable(session, tableId, kind, kTableLockAttemptsAtOpen)) return;
    const std::string name = EntryById(tableId).Name;
    if (exclusive) {
        RaiseError(kTableExclusiveError,
                   "Cannot access table '%s' in exclusive mode. Probably the table is open by another user", {name});
    }
    RaiseError(kTableLockedAtOpenError, "Cannot open table '%s'. Table is locked", {name});
}

void TABSDiskDatabaseData::UnlockTableForOpen(TABSSessionID session, std::int32_t tableId, bool exclusive) {
    (void)UnlockTable(session, tableId, exclusive ? kTableLockExclusive : kTableLockOpen);
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TABSDiskDatabaseData::MarkTableModified(TABSSessionID session, std::int32_t tableId) {
    std::lock_guard lock(CriticalSection());
    modifiedTables_[session].insert(tableId);
}

void TABSDiskDatabaseData::Commit(TABSSessionID session, bool flushFileBuffers) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    if (readOnly_ && pageManager_->SessionHasChanges(session)) {
        RaiseError(kReadOnlyCommitError, "Cannot commit changes. Database is open read-only");
    }
    std::vector<std::int32_t> locked;
    const auto unlockAll = [&]() noexcept {
        for (const std::int32_t tableId : locked) {
            try {
                (void)lockManager_->UnlockTable(LocksFileOf(tableId), tableId, session, kTableLockWrite);
            } catch (const EABSError&) {
                // The lock file is gone with its table; the lock went with it.
            }
        }
    };
    if (multiUser_) {
        if (const auto found = modifiedTables_.find(session); found != modifiedTables_.end()) {
            for (const std::int32_t tableId : found->second) {
                bool ok = false;
                try {
                    ok = lockManager_->LockTable(LocksFileOf(tableId), tableId, session, kTableLockWrite,
                                                 kTableLockAttemptsAtCommit);
                } catch (...) {
                    unlockAll();
                    throw;
                }
                if (!ok) {
                    unlockAll();
                    RaiseError(kCommitLocksError, "Cannot commit changes. Locks of modified tables failed");
                }
                locked.push_back(tableId);
            }
        }
    }
    try {
        pageManager_->CommitSession(session, flushFileBuffers);
    } catch (...) {
        unlockAll();
        throw;
    }
    unlockAll();
    modifiedTables_.erase(session);
    tableListChangedBy_.erase(session);
}

void TABSDiskDatabaseData::Rollback(TABSSessionID session) {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    pageManager_->RollbackSession(session);
    modifiedTables_.erase(session);
    // The in-memory list showed the session's changes; read back what the file holds.
    if (tableListChangedBy_.erase(session) > 0) ReloadTableList();
}

std::int32_t TABSDiskDatabaseData::NextObjectID() {
    std::lock_guard lock(CriticalSection());
    RequireOpen();
    return pageManager_->NextObjectID();
}

} // namespace kova
