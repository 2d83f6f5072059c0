// Creating, dropping and renaming tables of a database file. All of it runs under the tables lock
// in the system session, which is committed at the end and rolled back on any failure, so a
// failed operation leaves the file as it was.
#include "engine/storage/ABSDiskTableData.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSCompression.h"
#include "engine/storage/ABSDiskBlobManager.h"
#include "engine/storage/ABSDiskEngine.h"

#include <algorithm>
#include <optional>

namespace kova {

namespace {

constexpr std::uint8_t kDefinitionCompressionMode = 1;

// The records of a table that does not exist yet: none.
class NoRecords final : public TABSIndexRecordSource {
public:
    bool ReadRecord(TABSSessionID, const TABSRecordID&, std::vector<std::uint8_t>&) override { return false; }
    void ForEachRecord(TABSSessionID, const RecordVisitor&) override {}
};

// Runs `work` in the system session under the tables lock; commits it, or rolls it back and
// passes the error on.
template <typename Work>
void InSystemSession(TABSDiskDatabaseData& database, Work&& work) {
    database.LockTables();
    try {
        work(kSystemSessionID);
        database.Commit(kSystemSessionID);
    } catch (...) {
        try {
            database.Rollback(kSystemSessionID);
        } catch (const EABSError&) {
            // The rollback only drops pages; the original error is the one to report.
        }
        database.UnlockTables();
        throw;
    }
    database.UnlockTables();
}

// Every index that is unique or primary is enforced by a constraint of that kind naming it.
void AddIndexConstraints(TABSDiskDatabaseData& database, const TABSFieldDefs& fields, const TABSIndexDefs& indexes,
                         TABSConstraintDefs& constraints, const std::string& tableName) {
    for (const TABSIndexDef& index : indexes) {
        if (index.Temporary || (!index.Unique && !index.Primary)) continue;
        if (constraints.FindByIndexName(index.Name) != nullptr) continue;
        std::unique_ptr<TABSConstraintDefUnique> constraint;
        if (index.Primary) {
            constraint = std::make_unique<TABSConstraintDefPrimary>();
        } else {
            constraint = std::make_unique<TABSConstraintDefUnique>();
        }
        constraint->Name = index.Name;
        constraint->ObjectID = database.NextObjectID();
        constraint->SetIndexName(index.Name);
        for (const TABSIndexColumn& column : index.Columns) {
            const TABSFieldDef& field = fields.FieldByName(column.FieldName);
            constraint->Columns.push_back({field.ObjectID, field.Name});
        }
        constraints.Add(std::move(constraint), tableName);
    }
}

} // namespace

void TABSDiskDatabaseTables::CreateTable(const std::string& name, TABSTableDefinition definition) {
    TABSFieldDefs& fields = definition.Fields;
    if (fields.Empty()) RaiseError(kNoFieldsError, "Error creating table - no fields were specified");
    fields.ComputeLayout();
    std::int32_t nextFieldId = 1;
    for (const TABSFieldDef& f : fields) nextFieldId = std::max(nextFieldId, f.ObjectID + 1);
    for (TABSFieldDef& f : fields) {
        if (f.ObjectID == 0) f.ObjectID = nextFieldId++;
        if (f.IsBlob() && f.BlobBlockSize <= 0) {
            RaiseError(kBlobBlockSizeError, "BLOB block size should be > 0 for field %s", {f.Name});
        }
    }
    TABSPageManager& pages = database_.PageManager();
    const TABSRecordPageGeometry geometry(fields.DiskRecordSize(), pages.PageSize() - PageHeader::kSize);
    (void)geometry;
    for (const TABSIndexDef& index : definition.Indexes) (void)BuildKeyLayout(index, fields);
    TABSConstraintDefs constraints;
    for (std::size_t i = 0; i < definition.Constraints.Count(); ++i) {
        constraints.Add(definition.Constraints[i].Clone(), name);
    }

    std::lock_guard ddl(ddlMutex_);
    InSystemSession(database_, [&](TABSSessionID session) {
        if (database_.FindTable(name)) {
            RaiseError(kTableExistsError, "Cannot create table. Table '%s' already exists", {name});
        }
        for (TABSIndexDef& index : definition.Indexes) {
            if (index.ObjectID == 0) index.ObjectID = database_.NextObjectID();
        }
        AddIndexConstraints(database_, fields, definition.Indexes, constraints, name);
        definition.Constraints = std::move(constraints);

        TABSTableEntry entry;
        entry.Name = name;
        entry.TableId = database_.NextObjectID();
        entry.LocksPageNo = database_.CreateTableLocksFile(session);
        TABSInternalDBTransactedAccessFile definitionFile(pages, TABSPageType::TableMetaData);
        TABSInternalDBTransactedAccessFile stateFile(pages, TABSPageType::TableMostUpdated);
        definitionFile.CreateFile(session);
        stateFile.CreateFile(session);
        entry.MetaDataPageNo = definitionFile.FirstPageNo();
        entry.MostUpdatedPageNo = stateFile.FirstPageNo();

        TABSBTreeRecordPageIndex pageIndex(pages);
        definition.RecordPageIndexRoot = pageIndex.CreateRoot(session);
        definition.BlobPageIndexRoot = kNoPage;
        if (fields.HasBlobFields()) {
            TABSBTreeBlobPageIndex blobIndex(pages);
            definition.BlobPageIndexRoot = blobIndex.CreateRoot(session);
        }
        NoRecords none;
        TABSIndexDefs persistent;
        for (TABSIndexDef index : definition.Indexes) {
            if (index.Temporary) continue;
            index.RootPageNo = kNoPage;
            persistent.Add(std::move(index));
        }
        TABSBaseIndexManager indexes(pages, fields, none);
        indexes.LoadDefinitions(persistent);
        indexes.CreatePersistentTrees(session);
        definition.Indexes = indexes.PersistentDefinitions();
        definitionFile.WriteFile(session, definition.Encode(), kCompressionZlib, kDefinitionCompressionMode);
        stateFile.WriteFile(session, TABSTableState::Initial(fields).Encode());
        database_.AddTableEntry(session, entry);
    });
}

void TABSDiskDatabaseTables::DropTable(TABSSessionID session, const std::string& name) {
    if (IsTableOpen(name)) {
        RaiseError(kTableOpenOnDropError, "Cannot delete table '%s'. Table is open by another dataset", {name});
    }
    std::lock_guard ddl(ddlMutex_);
    const TABSTableEntry entry = database_.GetTable(name);
    database_.LockTableForOpen(session, entry.TableId, true);
    try {
        InSystemSession(database_, [&](TABSSessionID system) {
            TABSDiskTableData table(*this, entry, system);
            table.state_ = TABSTableState::Initial(table.fields_);
            if (table.blobs_) table.blobs_->Drop(system, table.RecordWalker(system));
            table.indexManager_->DropAll(system);
            table.records_->Drop(system);
            table.definitionFile_.DeleteFile(system);
            table.stateFile_.DeleteFile(system);
            // The entry goes first: removing it releases the table's locks while its lock file is open.
            database_.DeleteTableEntry(system, name);
            database_.DeleteTableLocksFile(system, entry.LocksPageNo);
        });
    } catch (...) {
        database_.UnlockTableForOpen(session, entry.TableId, true);
        throw;
    }
    stateCache_.InvalidateTable(entry.TableId);
}

void TABSDiskDatabaseTables::RenameTable(TABSSessionID session, const std::string& oldName, const std::string& newName) {
    (void)session;
    if (IsTableOpen(oldName)) {
        RaiseError(kTableOpenOnRenameError, "Cannot rename table '%s'. Table is open by another dataset", {oldName});
    }
    std::lock_guard ddl(ddlMutex_);
    InSystemSession(database_, [&](TABSSessionID system) {
        const TABSTableEntry entry = database_.GetTable(oldName);
        database_.RenameTableEntry(system, oldName, newName);
        // Constraints name their table; keep them in step with the list.
        TABSDiskTableData table(*this, entry, system);
        table.constraints_.RenameTable(newName);
        table.WriteDefinition(system);
    });
}

void TABSDiskDatabaseTables::ChangeDefinition(
    const std::string& tableName, const std::function<void(TABSDiskTableData&, TABSSessionID)>& change) {
    std::lock_guard ddl(ddlMutex_);
    std::shared_ptr<TABSDiskTableData> open;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = openTables_.find(Key(tableName)); found != openTables_.end()) open = found->second;
    }
    std::unique_ptr<TABSDiskTableData> loaded;
    TABSDiskTableData* table = open.get();
    std::unique_lock<std::recursive_mutex> tableLock;
    if (table != nullptr) tableLock = std::unique_lock(table->Mutex());
    // An open table changes in memory too; it gets its old definitions back if the file is not
    // written.
    std::optional<TABSTableDefinition> saved;
    try {
        InSystemSession(database_, [&](TABSSessionID system) {
            if (table == nullptr) {
                loaded = std::make_unique<TABSDiskTableData>(*this, database_.GetTable(tableName), system);
                table = loaded.get();
            }
            saved = table->Definition();
            change(*table, system);
            table->WriteDefinition(system);
        });
    } catch (...) {
        if (open && saved) {
            open->fields_ = std::move(saved->Fields);
            open->indexes_ = std::move(saved->Indexes);
            open->constraints_ = std::move(saved->Constraints);
            open->LoadIndexes();  // the saved definitions carry the roots
        }
        throw;
    }
}

void TABSDiskDatabaseTables::RenameField(TABSSessionID session, const std::string& tableName,
                                         const std::string& oldName, const std::string& newName) {
    (void)session;
    ChangeDefinition(tableName, [&](TABSDiskTableData& table, TABSSessionID) {
        const std::string oldStored = table.fields_.FieldByName(oldName).Name;
        table.fields_.RenameField(oldName, newName);
        table.indexes_ = table.indexManager_->PersistentDefinitions();
        table.indexes_.RenameField(oldStored, newName);
        table.constraints_.RenameField(oldStored, newName);
        table.LoadIndexes();
    });
}

void TABSDiskDatabaseTables::AddIndex(TABSSessionID session, const std::string& tableName, TABSIndexDef index) {
    (void)session;
    ChangeDefinition(tableName, [&](TABSDiskTableData& table, TABSSessionID system) {
        if (index.ObjectID == 0) index.ObjectID = database_.NextObjectID();
        index.Temporary = false;
        index.RootPageNo = kNoPage;
        // The tree is filled from the records as the system session sees them.
        TABSBTreeRecordIndex& tree = table.indexManager_->AddIndex(system, index);
        if (index.Unique || index.Primary) {
            std::vector<std::uint8_t> record(table.fields_.MemoryRecordSize());
            auto& records = *table.records_;
            for (auto id = records.FirstRecord(system); id; id = records.NextRecord(system, *id)) {
                if (!records.ReadRecord(system, *id, record) || !tree.KeyExists(system, record, &*id)) continue;
                if (index.Primary) {
                    RaiseError(kPrimaryKeyViolationError, "Primary Key constraint '%s' violated. Duplicate found.",
                               {index.Name});
                }
                RaiseError(kUniqueViolationError, "Constraint unique '%s' violated. Duplicate found.", {index.Name});
            }
        }
        table.indexes_ = table.indexManager_->PersistentDefinitions();
        TABSIndexDefs added;
        added.Add(index);
        AddIndexConstraints(database_, table.fields_, added, table.constraints_, table.name_);
    });
}

void TABSDiskDatabaseTables::DropIndex(TABSSessionID session, const std::string& tableName,
                                       const std::string& indexName) {
    (void)session;
    ChangeDefinition(tableName, [&](TABSDiskTableData& table, TABSSessionID system) {
        const std::string name = table.indexManager_->IndexByName(indexName).Name();
        table.indexManager_->DropIndex(system, name);
        table.indexes_ = table.indexManager_->PersistentDefinitions();
        table.constraints_.RemoveByIndexName(name);
    });
}

TABSTableRepairReport TABSDiskDatabaseTables::RepairTable(TABSSessionID session, const std::string& name) {
    TABSTableHandle handle = OpenTable(session, name, true);
    auto& table = static_cast<TABSDiskTableData&>(handle.Table());
    TABSTableRepairReport report;
    try {
        report = table.Repair(session);
        database_.Commit(session);
    } catch (...) {
        try {
            database_.Rollback(session);
        } catch (const EABSError&) {
        }
        stateCache_.InvalidateTable(table.TableID());
        throw;
    }
    stateCache_.InvalidateTable(table.TableID());
    return report;
}

} // namespace kova
