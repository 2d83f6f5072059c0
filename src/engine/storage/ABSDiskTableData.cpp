#include "engine/storage/ABSDiskTableData.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSCompression.h"
#include "engine/storage/ABSDiskBlobManager.h"
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSTempEngine.h"

#include <chrono>
#include <random>
#include <thread>

namespace kova {

namespace {

// Definitions are small and read on every first open: the fastest zlib level suits them.
constexpr std::uint8_t kDefinitionCompressionMode = 1;

std::vector<TABSBlobFieldInfo> BlobFieldInfos(const TABSFieldDefs& fields) {
    std::vector<TABSBlobFieldInfo> infos;
    for (const TABSFieldDef& f : fields) {
        if (!f.IsBlob()) continue;
        TABSBlobFieldInfo info;
        info.FieldNo = f.FieldNo;
        info.MemoryOffset = f.MemoryOffset;
        info.CompressionAlgorithm = f.BlobCompressionAlgorithm;
        info.CompressionMode = f.BlobCompressionMode;
        info.BlockSize = f.BlobBlockSize;
        info.Name = f.Name;
        infos.push_back(std::move(info));
    }
    return infos;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSDiskTablePagesCacheManager

std::optional<TABSDiskTablePagesCacheManager::CachedState> TABSDiskTablePagesCacheManager::Find(
    TABSSessionID session, std::int32_t tableId) const {
    std::lock_guard lock(mutex_);
    const auto found = states_.find({session, tableId});
    if (found == states_.end()) return std::nullopt;
    return found->second;
}

void TABSDiskTablePagesCacheManager::Store(TABSSessionID session, std::int32_t tableId, CachedState state) {
    std::lock_guard lock(mutex_);
    states_[{session, tableId}] = std::move(state);
}

void TABSDiskTablePagesCacheManager::Invalidate(TABSSessionID session, std::int32_t tableId) {
    std::lock_guard lock(mutex_);
    states_.erase({session, tableId});
}

void TABSDiskTablePagesCacheManager::InvalidateSession(TABSSessionID session) {
    std::lock_guard lock(mutex_);
    std::erase_if(states_, [&](const auto& item) { return item.first.first == session; });
}

void TABSDiskTablePagesCacheManager::InvalidateTable(std::int32_t tableId) {
    std::lock_guard lock(mutex_);
    std::erase_if(states_, [&](const auto& item) { return item.first.second == tableId; });
}

std::size_t TABSDiskTablePagesCacheManager::Size() const {
    std::lock_guard lock(mutex_);
    return states_.size();
}

// ---------------------------------------------------------------------------------------------
// TABSDiskTableData: record access for the indexes

class TABSDiskTableData::RecordSource final : public TABSIndexRecordSource {
public:
    explicit RecordSource(TABSDiskTableData& table) noexcept : table_(table) {}

    bool ReadRecord(TABSSessionID session, const TABSRecordID& id, std::vector<std::uint8_t>& memoryRecord) override {
        memoryRecord.resize(table_.fields_.MemoryRecordSize());
        return table_.records_->ReadRecord(session, id, memoryRecord);
    }

    void ForEachRecord(TABSSessionID session, const RecordVisitor& visit) override {
        std::vector<std::uint8_t> record(table_.fields_.MemoryRecordSize());
        for (auto id = table_.records_->FirstRecord(session); id; id = table_.records_->NextRecord(session, *id)) {
            if (table_.records_->ReadRecord(session, *id, record)) visit(*id, record);
        }
    }

private:
    TABSDiskTableData& table_;
};

// ---------------------------------------------------------------------------------------------
// TABSDiskTableData: one read or change of the table

// Holds the table's lock and, in multi-user mode, table lock kind 1 (and for a change the write
// intent), and brings the session's view of the table state up to date.
class TABSDiskTableData::Access {
public:
    Access(TABSDiskTableData& table, TABSSessionID session, bool write)
        : table_(table), session_(session), lock_(table.Mutex()) {
        table_.owner_.LockTableForAccess(session, table.tableId_, kTableLockAccess,
                                         write ? kTableLockedOnWriteError : kTableLockedOnReadError);
        try {
            if (write) table_.owner_.BeginWrite(session, table.tableId_);
            table_.EnsureState(session);
        } catch (...) {
            table_.owner_.UnlockTableForAccess(session_, table_.tableId_, kTableLockAccess);
            throw;
        }
    }
    ~Access() { table_.owner_.UnlockTableForAccess(session_, table_.tableId_, kTableLockAccess); }
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;

private:
    TABSDiskTableData& table_;
    TABSSessionID session_;
    std::lock_guard<std::recursive_mutex> lock_;
};

// ---------------------------------------------------------------------------------------------
// TABSDiskTableData: life cycle

TABSDiskTableData::TABSDiskTableData(TABSDiskDatabaseTables& owner, const TABSTableEntry& entry, TABSSessionID session)
    : TABSTableData(entry.Name, entry.TableId), owner_(owner), database_(owner.Database()),
      pages_(owner.Database().PageManager()), entry_(entry),
      definitionFile_(owner.Database().PageManager(), TABSPageType::TableMetaData),
      stateFile_(owner.Database().PageManager(), TABSPageType::TableMostUpdated), pageIndex_(pages_),
      recordSource_(std::make_unique<RecordSource>(*this)) {
    definitionFile_.OpenFile(entry.MetaDataPageNo);
    stateFile_.OpenFile(entry.MostUpdatedPageNo);
    TABSTableDefinition definition = TABSTableDefinition::Decode(definitionFile_.ReadFile(session));
    fields_ = std::move(definition.Fields);
    indexes_ = std::move(definition.Indexes);
    constraints_ = std::move(definition.Constraints);
    pageIndex_.SetRootPageNo(definition.RecordPageIndexRoot);
    state_ = TABSTableState::Initial(fields_);
    BuildManagers();
    if (blobs_) blobs_->SetIndexRoot(definition.BlobPageIndexRoot);
}

TABSDiskTableData::~TABSDiskTableData() = default;

void TABSDiskTableData::BuildManagers() {
    fields_.ComputeLayout();
    geometry_ = std::make_unique<TABSRecordPageGeometry>(fields_.DiskRecordSize(), pages_.PageSize() - PageHeader::kSize);
    // Files written before format 2.99 did not mark their record pages with the table id.
    const bool checkOwnership = database_.FileInfo().FormatVersion >= FileHeader::kMinimumFormatVersion;
    records_ = std::make_unique<TABSDiskRecordManager>(pages_, fields_, tableId_, *geometry_, pageIndex_, state_,
                                                       checkOwnership);
    const TABSPageNo blobRoot = blobs_ ? blobs_->IndexRoot() : kNoPage;
    blobs_.reset();
    if (fields_.HasBlobFields()) blobs_ = std::make_unique<TABSDiskBlobManager>(pages_, BlobFieldInfos(fields_), blobRoot);
    indexManager_ = std::make_unique<TABSBaseIndexManager>(pages_, fields_, *recordSource_);
    // Temporary indexes keep their pages out of the database file.
    temporaryPages_ = std::make_unique<TABSTemporaryPageManager>(false);
    indexManager_->SetTemporaryPageManager(temporaryPages_.get());
    LoadIndexes();
}

void TABSDiskTableData::LoadIndexes() {
    TABSIndexDefs persistent;
    for (const TABSIndexDef& def : indexes_) {
        if (!def.Temporary) persistent.Add(def);
    }
    indexManager_->LoadDefinitions(persistent);
    indexes_ = indexManager_->PersistentDefinitions();
}

TABSTableDefinition TABSDiskTableData::Definition() const {
    TABSTableDefinition definition;
    definition.Fields = fields_;
    definition.Indexes = indexManager_->PersistentDefinitions();
    definition.Constraints = constraints_;
    definition.RecordPageIndexRoot = pageIndex_.RootPageNo();
    definition.BlobPageIndexRoot = blobs_ ? blobs_->IndexRoot() : kNoPage;
    return definition;
}

void TABSDiskTableData::WriteDefinition(TABSSessionID session) {
    const std::vector<std::uint8_t> content = Definition().Encode();
    definitionFile_.WriteFile(session, content, kCompressionZlib, kDefinitionCompressionMode);
}

void TABSDiskTableData::CloseCursor(TABSSessionID session, bool exclusive) noexcept {
    const std::size_t left = UnregisterCursor(exclusive);
    try {
        database_.UnlockTableForOpen(session, tableId_, exclusive);
    } catch (const EABSError&) {
        // The table's lock file is gone (dropped meanwhile): nothing is held any more.
    }
    owner_.TableClosed(name_, session, exclusive, left == 0);
}

TABSBaseBlobManager* TABSDiskTableData::BlobManager() noexcept { return blobs_.get(); }

std::unique_ptr<TABSBlobStream> TABSDiskTableData::OpenBlobStream(TABSSessionID session,
                                                                 std::span<std::uint8_t> record, int fieldNo,
                                                                 TABSBlobOpenMode mode) {
    Access access(*this, session, false);
    return TABSTableData::OpenBlobStream(session, record, fieldNo, mode);
}

TABSRawBlob TABSDiskTableData::GetBlobRaw(TABSSessionID session, std::span<std::uint8_t> record, int fieldNo) {
    Access access(*this, session, false);
    return TABSTableData::GetBlobRaw(session, record, fieldNo);
}

// ---------------------------------------------------------------------------------------------
// TABSDiskTableData: state

void TABSDiskTableData::EnsureState(TABSSessionID session) {
    std::int32_t counter = 0;
    bool ownChange = false;
    {
        TABSPageHandle page = pages_.GetPage(session, entry_.MostUpdatedPageNo,
                                             static_cast<std::uint16_t>(TABSPageType::TableMostUpdated));
        counter = page.ModificationCounter();
        ownChange = page.IsDirty();
    }
    TABSDiskTablePagesCacheManager& cache = owner_.StateCache();
    // A page the session changed itself carries the state it stored last; a clean page is current
    // while its counter is the one seen when the state was cached.
    if (const auto cached = cache.Find(session, tableId_); cached && (ownChange || cached->StatePageCounter == counter)) {
        state_ = cached->State;
        return;
    }
    state_ = TABSTableState::Decode(stateFile_.ReadFile(session), fields_.Count());
    cache.Store(session, tableId_, {counter, state_});
}

void TABSDiskTableData::StoreState(TABSSessionID session) {
    stateFile_.WriteFile(session, state_.Encode());
    std::int32_t counter = 0;
    {
        TABSPageHandle page = pages_.GetPage(session, entry_.MostUpdatedPageNo);
        counter = page.ModificationCounter();
    }
    owner_.StateCache().Store(session, tableId_, {counter, state_});
    database_.MarkTableModified(session, tableId_);
}

TABSTableState TABSDiskTableData::State(TABSSessionID session) {
    Access access(*this, session, false);
    return state_;
}

void TABSDiskTableData::RunChange(TABSSessionID session, const std::function<void()>& change) {
    Access access(*this, session, true);
    const TABSTableState before = state_;
    try {
        change();
        StoreState(session);
        // A temporary index shows the table as it was when it was made.
        indexManager_->DropOutdatedTemporaryIndexes(state_.ChangeCounter);
    } catch (...) {
        state_ = before;
        owner_.StateCache().Invalidate(session, tableId_);
        owner_.EndWrite(session, true);
        throw;
    }
    owner_.EndWrite(session, false);
}

// ---------------------------------------------------------------------------------------------
// TABSDiskTableData: records

void TABSDiskTableData::FillAutoincFields(std::span<std::uint8_t> record) {
    for (std::size_t i = 0; i < fields_.Count(); ++i) {
        const TABSFieldDef& f = fields_[i];
        if (!f.IsAutoInc() || !fields_.IsNull(record, i)) continue;
        const std::int64_t next = AdvanceAutoinc(f, state_.AutoincValues[i]);
        TABSVariant value;
        value.SetAsLargeInt(next);
        fields_.SetValue(record, i, value);
        state_.AutoincValues[i] = next;
    }
}

void TABSDiskTableData::RaiseRecordNotFound(const TABSRecordID& id) {
    (void)id;
    RaiseError(kRecordNotFoundError, "Record not found");
}

TABSRecordID TABSDiskTableData::InsertRecord(TABSSessionID session, std::span<std::uint8_t> record) {
    const std::vector<std::uint8_t> original(record.begin(), record.end());
    TABSRecordID id;
    try {
        RunChange(session, [&] {
            FillAutoincFields(record);
            CheckValueConstraints(record, false);
            indexManager_->CheckUniqueness(session, constraints_, record, nullptr);
            if (blobs_) blobs_->PostRecord(session, record, {});
            id = records_->InsertRecord(session, record);
            indexManager_->InsertRecord(session, record, id);
        });
    } catch (...) {
        // The caller's buffer goes back to what it gave, auto-increment values included.
        std::copy(original.begin(), original.end(), record.begin());
        throw;
    }
    return id;
}

void TABSDiskTableData::UpdateRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) {
    RunChange(session, [&] {
        std::vector<std::uint8_t> old(fields_.MemoryRecordSize());
        if (!records_->ReadRecord(session, id, old)) RaiseRecordNotFound(id);
        CheckValueConstraints(record, true);
        indexManager_->CheckUniqueness(session, constraints_, record, &id);
        if (blobs_) blobs_->PostRecord(session, record, old);
        (void)records_->UpdateRecord(session, id, record);
        indexManager_->UpdateRecord(session, old, record, id);
    });
}

void TABSDiskTableData::DeleteRecord(TABSSessionID session, const TABSRecordID& id) {
    RunChange(session, [&] {
        std::vector<std::uint8_t> old(fields_.MemoryRecordSize());
        if (!records_->ReadRecord(session, id, old)) RaiseRecordNotFound(id);
        indexManager_->DeleteRecord(session, old, id);
        if (blobs_) blobs_->DeleteRecord(session, old);
        (void)records_->DeleteRecord(session, id);
    });
}

void TABSDiskTableData::ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) {
    Access access(*this, session, false);
    if (!records_->ReadRecord(session, id, record)) RaiseRecordNotFound(id);
}

std::optional<TABSRecordID> TABSDiskTableData::FirstRecord(TABSSessionID session) {
    Access access(*this, session, false);
    return records_->FirstRecord(session);
}

std::optional<TABSRecordID> TABSDiskTableData::LastRecord(TABSSessionID session) {
    Access access(*this, session, false);
    return records_->LastRecord(session);
}

std::optional<TABSRecordID> TABSDiskTableData::NextRecord(TABSSessionID session, const TABSRecordID& id) {
    Access access(*this, session, false);
    return records_->NextRecord(session, id);
}

std::optional<TABSRecordID> TABSDiskTableData::PriorRecord(TABSSessionID session, const TABSRecordID& id) {
    Access access(*this, session, false);
    return records_->PriorRecord(session, id);
}

std::uint64_t TABSDiskTableData::RecordCount(TABSSessionID session) {
    Access access(*this, session, false);
    return records_->RecordCount(session);
}

TABSRecordID TABSDiskTableData::RecordAtNumber(TABSSessionID session, std::uint64_t recNo) {
    Access access(*this, session, false);
    const auto id = recNo <= records_->RecordCount(session) ? records_->RecordAtNumber(session, recNo) : std::nullopt;
    if (!id) RaiseError(kRecNoBeyondCountError, "Cannot set RecNo greater than RecordCount");
    return *id;
}

std::uint64_t TABSDiskTableData::RecordNumberOf(TABSSessionID session, const TABSRecordID& id) {
    Access access(*this, session, false);
    return records_->RecordNumberOf(session, id);
}

std::int32_t TABSDiskTableData::ChangeCounter(TABSSessionID session) {
    Access access(*this, session, false);
    return state_.ChangeCounter;
}

std::int64_t TABSDiskTableData::NextAutoincValue(TABSSessionID session, int fieldNo) {
    const TABSFieldDef& field = fields_.FieldByNo(fieldNo);
    Access access(*this, session, false);
    if (!field.IsAutoInc()) return 0;
    return AdvanceAutoinc(field, state_.AutoincValues[static_cast<std::size_t>(fieldNo)]);
}

TABSForEachRecord TABSDiskTableData::RecordWalker(TABSSessionID session) {
    return [this, session](const TABSRecordVisitor& visit) {
        std::vector<std::uint8_t> record(fields_.MemoryRecordSize());
        for (auto id = records_->FirstRecord(session); id; id = records_->NextRecord(session, *id)) {
            if (records_->ReadRecord(session, *id, record)) visit(record);
        }
    };
}

void TABSDiskTableData::EmptyTable(TABSSessionID session) {
    RunChange(session, [&] {
        if (blobs_) blobs_->Empty(session, RecordWalker(session));
        indexManager_->EmptyAll(session);
        records_->Empty(session);
    });
}

void TABSDiskTableData::CheckIntegrity(TABSSessionID session) {
    Access access(*this, session, false);
    pageIndex_.CheckIntegrity(session);
    indexManager_->CheckIntegrity(session);
    if (blobs_) blobs_->CheckPageIndex(session);
}

// ---------------------------------------------------------------------------------------------
// TABSDiskDatabaseTables

TABSDiskDatabaseTables::TABSDiskDatabaseTables(TABSDiskDatabaseData& database) : database_(database) {}

TABSDiskDatabaseTables::~TABSDiskDatabaseTables() = default;

std::string TABSDiskDatabaseTables::Key(const std::string& name) { return ObjectNameKey(name); }

void TABSDiskDatabaseTables::SetSleeper(Sleeper sleeper) {
    std::lock_guard lock(transactionMutex_);
    sleeper_ = std::move(sleeper);
}

void TABSDiskDatabaseTables::Sleep(int milliseconds) {
    Sleeper sleeper;
    {
        std::lock_guard lock(transactionMutex_);
        sleeper = sleeper_;
    }
    if (sleeper) {
        sleeper(milliseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

void TABSDiskDatabaseTables::LockTableForAccess(TABSSessionID session, std::int32_t tableId, int kind, int errorCode) {
    if (!database_.IsMultiUser()) return;
    static thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 1; attempt <= kTableAccessAttempts; ++attempt) {
        if (database_.LockTable(session, tableId, kind, 1)) return;
        if (attempt < kTableAccessAttempts) Sleep(std::uniform_int_distribution<int>(20, 39)(random));
    }
    RaiseError(errorCode, "Table is locked");
}

void TABSDiskDatabaseTables::UnlockTableForAccess(TABSSessionID session, std::int32_t tableId, int kind) noexcept {
    if (!database_.IsMultiUser()) return;
    try {
        (void)database_.UnlockTable(session, tableId, kind);
    } catch (const EABSError&) {
        // The table went away with its lock file; the lock went with it.
    }
}

void TABSDiskDatabaseTables::BeginWrite(TABSSessionID session, std::int32_t tableId) {
    if (!database_.IsMultiUser()) return;
    {
        std::lock_guard lock(transactionMutex_);
        if (writeLocks_[session].contains(tableId)) return;
    }
    LockTableForAccess(session, tableId, kTableLockWriteIntent, kTableLockedOnWriteError);
    std::lock_guard lock(transactionMutex_);
    writeLocks_[session].insert(tableId);
}

void TABSDiskDatabaseTables::ReleaseWriteLocks(TABSSessionID session) noexcept {
    std::set<std::int32_t> tables;
    {
        std::lock_guard lock(transactionMutex_);
        const auto found = writeLocks_.find(session);
        if (found == writeLocks_.end()) return;
        tables = std::move(found->second);
        writeLocks_.erase(found);
    }
    for (const std::int32_t tableId : tables) UnlockTableForAccess(session, tableId, kTableLockWriteIntent);
}

void TABSDiskDatabaseTables::EndWrite(TABSSessionID session, bool failed) {
    if (InTransaction(session)) return;  // the transaction's commit or rollback decides
    if (failed) {
        try {
            database_.Rollback(session);
        } catch (const EABSError&) {
            // Rolling back drops pages only; a failure here leaves nothing that a retry could mend.
        }
        stateCache_.InvalidateSession(session);
        ReleaseWriteLocks(session);
        return;
    }
    try {
        database_.Commit(session);
    } catch (...) {
        try {
            database_.Rollback(session);
        } catch (const EABSError&) {
        }
        stateCache_.InvalidateSession(session);
        ReleaseWriteLocks(session);
        throw;
    }
    ReleaseWriteLocks(session);
}

void TABSDiskDatabaseTables::StartTransaction(TABSSessionID session) {
    std::lock_guard lock(transactionMutex_);
    transactions_.insert(session);
}

bool TABSDiskDatabaseTables::InTransaction(TABSSessionID session) const {
    std::lock_guard lock(transactionMutex_);
    return transactions_.contains(session);
}

void TABSDiskDatabaseTables::Commit(TABSSessionID session, bool flushFileBuffers) {
    database_.Commit(session, flushFileBuffers);
    {
        std::lock_guard lock(transactionMutex_);
        transactions_.erase(session);
    }
    ReleaseWriteLocks(session);
}

void TABSDiskDatabaseTables::Rollback(TABSSessionID session) {
    {
        std::lock_guard lock(transactionMutex_);
        transactions_.erase(session);
    }
    database_.Rollback(session);
    stateCache_.InvalidateSession(session);
    ReleaseWriteLocks(session);
}

bool TABSDiskDatabaseTables::IsTableOpen(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const auto found = openTables_.find(Key(name));
    return found != openTables_.end() && found->second->CursorCount() > 0;
}

std::vector<std::string> TABSDiskDatabaseTables::TableNames() { return database_.TableNames(); }

void TABSDiskDatabaseTables::TableClosed(const std::string& name, TABSSessionID session, bool exclusive,
                                         bool last) noexcept {
    (void)session;
    (void)exclusive;
    if (!last) return;
    std::lock_guard lock(mutex_);
    const auto found = openTables_.find(Key(name));
    // Another cursor may have opened the table between its last close and this point.
    if (found != openTables_.end() && found->second->CursorCount() == 0) openTables_.erase(found);
}

TABSTableHandle TABSDiskDatabaseTables::OpenTable(TABSSessionID session, const std::string& name, bool exclusive) {
    std::lock_guard lock(mutex_);
    const std::string key = Key(name);
    std::shared_ptr<TABSDiskTableData> table;
    if (const auto found = openTables_.find(key); found != openTables_.end()) {
        table = found->second;
        if (exclusive ? table->CursorCount() > 0 : table->IsOpenExclusively()) {
            RaiseError(kTableExclusiveInProcessError,
                       "Cannot access table '%s' in exclusive mode. Probably the table is open by another cursors",
                       {table->TableName()});
        }
    } else {
        database_.LockTables();
        try {
            const TABSTableEntry entry = database_.GetTable(name);
            table = std::make_shared<TABSDiskTableData>(*this, entry, session);
        } catch (...) {
            database_.UnlockTables();
            throw;
        }
        database_.UnlockTables();
    }
    database_.LockTableForOpen(session, table->TableID(), exclusive);
    table->RegisterCursor(exclusive);
    openTables_[key] = table;
    return TABSTableHandle(table, session, exclusive);
}

} // namespace kova
