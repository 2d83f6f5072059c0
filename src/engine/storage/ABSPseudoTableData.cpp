// Tables of the MEMORY and TEMP pseudo databases.
#include "engine/storage/ABSPseudoTableData.h"

#include <algorithm>

#include "engine/core/ABSExcept.h"

namespace kova {

namespace {

// Pseudo databases have one page set: every connection to them is session 0, and every change
// completes it at once.
constexpr TABSSessionID kPseudoSession = 0;

} // namespace

std::vector<TABSBlobFieldInfo> BlobFieldInfos(const TABSFieldDefs& fields) {
    std::vector<TABSBlobFieldInfo> infos;
    for (const TABSFieldDef& field : fields) {
        if (!field.IsBlob())
            continue;
        TABSBlobFieldInfo info;
        info.FieldNo = field.FieldNo;
        info.MemoryOffset = field.MemoryOffset;
        info.CompressionAlgorithm = field.BlobCompressionAlgorithm;
        info.CompressionMode = field.BlobCompressionMode;
        info.BlockSize = field.BlobBlockSize;
        info.Name = field.Name;
        infos.push_back(std::move(info));
    }
    return infos;
}

// The table's records as the index manager reads them.
class TABSPseudoTableData::RecordSource final : public TABSIndexRecordSource {
public:
    explicit RecordSource(TABSPseudoTableData& table) : table_(table) {}

    bool ReadRecord(TABSSessionID session, const TABSRecordID& id, std::vector<std::uint8_t>& record) override {
        record.resize(table_.fields_.MemoryRecordSize());
        return table_.records_->ReadRecord(session, id, record);
    }

    void ForEachRecord(TABSSessionID session, const RecordVisitor& visit) override {
        std::vector<std::uint8_t> record(table_.fields_.MemoryRecordSize());
        for (auto id = table_.records_->FirstRecord(session); id; id = table_.records_->NextRecord(session, *id)) {
            if (table_.records_->ReadRecord(session, *id, record))
                visit(*id, record);
        }
    }

private:
    TABSPseudoTableData& table_;
};

// =============================================================================================
// TABSPseudoTableData

TABSPseudoTableData::TABSPseudoTableData(std::string name, std::int32_t tableId, Parts parts, int recordErrorCode)
    : TABSTableData(std::move(name), tableId), pages_(std::move(parts.Pages)), records_(std::move(parts.Records)),
      blobs_(std::move(parts.Blobs)), recordErrorCode_(recordErrorCode) {
    TABSTableDefinition& definition = parts.Definition;
    fields_ = std::move(definition.Fields);
    fields_.ComputeLayout();
    constraints_ = std::move(definition.Constraints);
    recordSource_ = std::make_unique<RecordSource>(*this);
    indexManager_ = std::make_unique<TABSBaseIndexManager>(*pages_, fields_, *recordSource_);
    indexManager_->SetTemporaryPageManager(pages_.get());
    TABSIndexDefs persistent;
    for (TABSIndexDef index : definition.Indexes) {
        if (index.Temporary)
            continue;
        index.RootPageNo = kNoPage;
        persistent.Add(std::move(index));
    }
    try {
        indexManager_->LoadDefinitions(persistent);
        indexManager_->CreatePersistentTrees(kPseudoSession);
        pages_->CommitSession(kPseudoSession);
    } catch (...) {
        pages_->RollbackSession(kPseudoSession);
        throw;
    }
    indexes_ = indexManager_->PersistentDefinitions();
    autoincValues_ = TABSTableState::Initial(fields_).AutoincValues;
}

TABSPseudoTableData::~TABSPseudoTableData() {
    // The index manager refers to the record source and the page manager: it goes first.
    indexManager_.reset();
}

void TABSPseudoTableData::SetTableName(const std::string& name) {
    std::lock_guard lock(Mutex());
    name_ = name;
    constraints_.RenameTable(name);
}

void TABSPseudoTableData::RunChange(TABSSessionID session, const std::function<void()>& change) {
    try {
        change();
        pages_->CommitSession(session);
    } catch (...) {
        pages_->RollbackSession(session);
        throw;
    }
    // Temporary indexes describe the table as it was.
    indexManager_->DropOutdatedTemporaryIndexes(records_->ChangeCounter(session));
}

void TABSPseudoTableData::FillAutoincFields(std::span<std::uint8_t> record, std::vector<std::int64_t>& counters) const {
    for (std::size_t i = 0; i < fields_.Count(); ++i) {
        const TABSFieldDef& field = fields_[i];
        if (!field.IsAutoInc() || !fields_.IsNull(record, i))
            continue;
        const std::int64_t next = AdvanceAutoinc(field, counters[i]);
        TABSVariant value;
        value.SetAsLargeInt(next);
        fields_.SetValue(record, i, value);
        counters[i] = next;
    }
}

TABSRecordID TABSPseudoTableData::InsertRecord(TABSSessionID session, std::span<std::uint8_t> record) {
    std::lock_guard lock(Mutex());
    const std::vector<std::uint8_t> original(record.begin(), record.end());
    std::vector<std::int64_t> counters = autoincValues_;
    TABSRecordID id;
    bool posted = false;
    bool stored = false;
    try {
        RunChange(session, [&] {
            FillAutoincFields(record, counters);
            CheckValueConstraints(record, false);
            indexManager_->CheckUniqueness(session, constraints_, record, nullptr);
            if (blobs_) {
                blobs_->PostRecord(session, record, {});
                posted = true;
            }
            id = records_->InsertRecord(session, record);
            stored = true;
            indexManager_->InsertRecord(session, record, id);
        });
    } catch (...) {
        // Nothing of the insert stays, and the caller's buffer is what it gave, with its unposted
        // values intact, so that it can post again.
        if (stored)
            UndoInsert(session, id);
        if (posted)
            blobs_->AbortPost();
        std::copy(original.begin(), original.end(), record.begin());
        throw;
    }
    autoincValues_ = std::move(counters);
    return id;
}

void TABSPseudoTableData::UpdateRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) {
    std::lock_guard lock(Mutex());
    const std::vector<std::uint8_t> original(record.begin(), record.end());
    bool posted = false;
    try {
        RunChange(session, [&] {
            std::vector<std::uint8_t> old(fields_.MemoryRecordSize());
            if (!records_->ReadRecord(session, id, old))
                RaiseError(recordErrorCode_, "Error retreiving record");
            CheckValueConstraints(record, true);
            indexManager_->CheckUniqueness(session, constraints_, record, &id);
            // Index entries first: their pages roll back with the session; BLOB values and the
            // record itself then change without a way to fail.
            indexManager_->UpdateRecord(session, old, record, id);
            if (blobs_) {
                blobs_->PostRecord(session, record, old);
                posted = true;
            }
            (void)records_->UpdateRecord(session, id, record);
        });
    } catch (...) {
        if (posted)
            blobs_->AbortPost();
        std::copy(original.begin(), original.end(), record.begin());
        throw;
    }
}

void TABSPseudoTableData::DeleteRecord(TABSSessionID session, const TABSRecordID& id) {
    std::lock_guard lock(Mutex());
    RunChange(session, [&] {
        std::vector<std::uint8_t> old(fields_.MemoryRecordSize());
        if (!records_->ReadRecord(session, id, old))
            RaiseError(recordErrorCode_, "Error retreiving record");
        indexManager_->DeleteRecord(session, old, id);
        if (blobs_)
            blobs_->DeleteRecord(session, old);
        (void)records_->DeleteRecord(session, id);
    });
}

void TABSPseudoTableData::ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) {
    std::lock_guard lock(Mutex());
    if (!records_->ReadRecord(session, id, record))
        RaiseError(recordErrorCode_, "Error retreiving record");
}

std::optional<TABSRecordID> TABSPseudoTableData::FirstRecord(TABSSessionID session) {
    std::lock_guard lock(Mutex());
    return records_->FirstRecord(session);
}

std::optional<TABSRecordID> TABSPseudoTableData::LastRecord(TABSSessionID session) {
    std::lock_guard lock(Mutex());
    return records_->LastRecord(session);
}

std::optional<TABSRecordID> TABSPseudoTableData::NextRecord(TABSSessionID session, const TABSRecordID& id) {
    std::lock_guard lock(Mutex());
    return records_->NextRecord(session, id);
}

std::optional<TABSRecordID> TABSPseudoTableData::PriorRecord(TABSSessionID session, const TABSRecordID& id) {
    std::lock_guard lock(Mutex());
    return records_->PriorRecord(session, id);
}

std::uint64_t TABSPseudoTableData::RecordCount(TABSSessionID session) {
    std::lock_guard lock(Mutex());
    return records_->RecordCount(session);
}

TABSRecordID TABSPseudoTableData::RecordAtNumber(TABSSessionID session, std::uint64_t recNo) {
    std::lock_guard lock(Mutex());
    const auto id = recNo <= records_->RecordCount(session) ? records_->RecordAtNumber(session, recNo) : std::nullopt;
    if (!id)
        RaiseError(kRecNoBeyondCountError, "Cannot set RecNo greater than RecordCount");
    return *id;
}

std::uint64_t TABSPseudoTableData::RecordNumberOf(TABSSessionID session, const TABSRecordID& id) {
    std::lock_guard lock(Mutex());
    return records_->RecordNumberOf(session, id);
}

std::int32_t TABSPseudoTableData::ChangeCounter(TABSSessionID session) {
    std::lock_guard lock(Mutex());
    return records_->ChangeCounter(session);
}

std::int64_t TABSPseudoTableData::NextAutoincValue(TABSSessionID, int fieldNo) {
    std::lock_guard lock(Mutex());
    const TABSFieldDef& field = fields_.FieldByNo(fieldNo);
    return AdvanceAutoinc(field, autoincValues_[static_cast<std::size_t>(fieldNo)]);
}

TABSForEachRecord TABSPseudoTableData::RecordWalker(TABSSessionID session) {
    return [this, session](const TABSRecordVisitor& visit) {
        std::vector<std::uint8_t> record(fields_.MemoryRecordSize());
        for (auto id = records_->FirstRecord(session); id; id = records_->NextRecord(session, *id))
            if (records_->ReadRecord(session, *id, record))
                visit(record);
    };
}

void TABSPseudoTableData::EmptyTable(TABSSessionID session) {
    std::lock_guard lock(Mutex());
    RunChange(session, [&] {
        if (blobs_)
            blobs_->Empty(session, RecordWalker(session));
        indexManager_->EmptyAll(session);
        records_->Empty(session);
    });
}

void TABSPseudoTableData::DropStorage() {
    std::lock_guard lock(Mutex());
    RunChange(kPseudoSession, [&] {
        if (blobs_)
            blobs_->Drop(kPseudoSession, RecordWalker(kPseudoSession));
        indexManager_->DropTemporaryIndexes();
        indexManager_->DropAll(kPseudoSession);
        records_->Empty(kPseudoSession);
    });
}

void TABSPseudoTableData::CloseCursor(TABSSessionID, bool exclusive) noexcept {
    std::lock_guard lock(Mutex());
    if (UnregisterCursor(exclusive) > 0)
        return;
    // The table itself stays (until it is dropped); what the cursors made for their searches goes.
    try {
        indexManager_->DropTemporaryIndexes();
        pages_->CommitSession(kPseudoSession);
    } catch (...) {
        pages_->RollbackSession(kPseudoSession);
    }
}

// =============================================================================================
// TABSMemoryTableData and TABSTemporaryTableData

namespace {

void CheckFields(TABSFieldDefs& fields, int noFieldsError) {
    if (fields.Empty())
        RaiseError(noFieldsError, "Error creating table - no fields were specified");
    fields.ComputeLayout();
    for (const TABSFieldDef& field : fields)
        if (field.IsBlob() && field.BlobBlockSize <= 0)
            RaiseError(kBlobBlockSizeError, "BLOB block size should be > 0 for field %s", {field.Name});
}

} // namespace

TABSPseudoTableData::Parts TABSMemoryTableData::MakeParts(TABSTableDefinition definition, TABSMemoryManager& memory) {
    CheckFields(definition.Fields, kMemoryTableNoFieldsError);
    for (std::size_t i = 0; i < definition.Constraints.Count(); ++i) {
        const auto kind = definition.Constraints[i].Kind();
        if (kind != TABSConstraintKind::PrimaryKey && kind != TABSConstraintKind::Unique &&
            kind != TABSConstraintKind::NotNull && kind != TABSConstraintKind::Check)
            RaiseError(kUnsupportedConstraintError, "Not implemented yet");
    }
    Parts parts;
    parts.Pages = std::make_unique<TABSMemoryPageManager>(memory);
    parts.Records = std::make_unique<TABSMemoryRecordManager>(definition.Fields.MemoryRecordSize(), memory);
    if (definition.Fields.HasBlobFields())
        parts.Blobs = std::make_unique<TABSMemoryBlobManager>(BlobFieldInfos(definition.Fields), memory);
    parts.Definition = std::move(definition);
    return parts;
}

TABSMemoryTableData::TABSMemoryTableData(std::string name, std::int32_t tableId, TABSTableDefinition definition,
                                         TABSMemoryManager& memory)
    : TABSPseudoTableData(std::move(name), tableId, MakeParts(std::move(definition), memory), kMemoryTableRecordError) {}

TABSMemoryRecordManager& TABSMemoryTableData::MemoryRecords() noexcept {
    return static_cast<TABSMemoryRecordManager&>(RecordManager());
}

void TABSMemoryTableData::UndoInsert(TABSSessionID session, const TABSRecordID& id) noexcept {
    try {
        (void)MemoryRecords().DeleteRecord(session, id);
    } catch (...) {
        // The record was stored a moment ago; it cannot be missing.
    }
}

TABSPseudoTableData::Parts TABSTemporaryTableData::MakeParts(TABSTableDefinition definition, bool memoryOnly,
                                                             std::optional<std::uint64_t> availableMemory) {
    CheckFields(definition.Fields, kTemporaryTableNoFieldsError);
    Parts parts;
    parts.Pages = std::make_unique<TABSTemporaryPageManager>(memoryOnly, availableMemory);
    parts.Records = std::make_unique<TABSTemporaryRecordManager>(definition.Fields.MemoryRecordSize(), memoryOnly,
                                                                 availableMemory);
    if (definition.Fields.HasBlobFields())
        parts.Blobs = std::make_unique<TABSTemporaryBlobManager>(BlobFieldInfos(definition.Fields), memoryOnly);
    parts.Definition = std::move(definition);
    return parts;
}

TABSTemporaryTableData::TABSTemporaryTableData(std::string name, std::int32_t tableId, TABSTableDefinition definition,
                                               bool memoryOnly, std::optional<std::uint64_t> availableMemory)
    : TABSPseudoTableData(std::move(name), tableId, MakeParts(std::move(definition), memoryOnly, availableMemory),
                          kTempRecordNotFoundError),
      memoryOnly_(memoryOnly) {}

TABSTemporaryRecordManager& TABSTemporaryTableData::TemporaryRecords() noexcept {
    return static_cast<TABSTemporaryRecordManager&>(RecordManager());
}

void TABSTemporaryTableData::UndoInsert(TABSSessionID, const TABSRecordID&) noexcept {
    TemporaryRecords().UndoLastInsert();
}

void TABSTemporaryTableData::UpdateRecord(TABSSessionID, const TABSRecordID&, std::span<std::uint8_t>) {
    throw EABSEngineError(-9);
}

void TABSTemporaryTableData::DeleteRecord(TABSSessionID, const TABSRecordID&) {
    throw EABSEngineError(-10);
}

} // namespace kova
