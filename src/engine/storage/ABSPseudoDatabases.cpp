// The MEMORY and TEMP pseudo databases.
#include "engine/storage/ABSPseudoDatabases.h"

#include <algorithm>
#include <cctype>

#include "engine/core/ABSExcept.h"

namespace kova {

TABSPseudoDatabaseData::~TABSPseudoDatabaseData() { DropAllTables(); }

std::string TABSPseudoDatabaseData::Key(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

std::int32_t TABSPseudoDatabaseData::NextObjectID() {
    std::lock_guard lock(mutex_);
    return ++counter_;
}

bool TABSPseudoDatabaseData::TableExists(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return tables_.contains(Key(name));
}

std::vector<std::string> TABSPseudoDatabaseData::TableNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [key, table] : tables_)
        names.push_back(table->TableName());
    return names;
}

std::shared_ptr<TABSPseudoTableData> TABSPseudoDatabaseData::FindTable(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = tables_.find(Key(name));
    return it == tables_.end() ? nullptr : it->second;
}

void TABSPseudoDatabaseData::CheckNewName(const std::string& name) const {
    if (TableExists(name))
        RaiseError(kPseudoTableExistsError, "Cannot create table. Table '%s' already exists", {name});
}

void TABSPseudoDatabaseData::AddTable(std::shared_ptr<TABSPseudoTableData> table) {
    std::lock_guard lock(mutex_);
    const std::string key = Key(table->TableName());
    if (tables_.contains(key))
        RaiseError(kPseudoTableExistsError, "Cannot create table. Table '%s' already exists", {table->TableName()});
    tables_.emplace(key, std::move(table));
}

void TABSPseudoDatabaseData::PrepareDefinition(const std::string& tableName, TABSTableDefinition& definition) {
    TABSFieldDefs& fields = definition.Fields;
    fields.ComputeLayout();
    std::int32_t nextFieldId = 1;
    for (const TABSFieldDef& field : fields)
        nextFieldId = std::max(nextFieldId, field.ObjectID + 1);
    for (TABSFieldDef& field : fields)
        if (field.ObjectID == 0)
            field.ObjectID = nextFieldId++;

    TABSConstraintDefs constraints;
    for (std::size_t i = 0; i < definition.Constraints.Count(); ++i) {
        std::unique_ptr<TABSConstraintDef> constraint = definition.Constraints[i].Clone();
        if (constraint->ObjectID == 0)
            constraint->ObjectID = NextObjectID();
        constraints.Add(std::move(constraint), tableName);
    }
    for (TABSIndexDef& index : definition.Indexes) {
        if (index.ObjectID == 0)
            index.ObjectID = NextObjectID();
        // Every unique or primary index is enforced by a constraint of that kind naming it.
        if (index.Temporary || (!index.Unique && !index.Primary) || constraints.FindByIndexName(index.Name))
            continue;
        std::unique_ptr<TABSConstraintDefUnique> constraint;
        if (index.Primary)
            constraint = std::make_unique<TABSConstraintDefPrimary>();
        else
            constraint = std::make_unique<TABSConstraintDefUnique>();
        constraint->Name = index.Name;
        constraint->ObjectID = NextObjectID();
        constraint->SetIndexName(index.Name);
        for (const TABSIndexColumn& column : index.Columns) {
            const TABSFieldDef& field = fields.FieldByName(column.FieldName);
            constraint->Columns.push_back({field.ObjectID, field.Name});
        }
        constraints.Add(std::move(constraint), tableName);
    }
    definition.Constraints = std::move(constraints);
}

TABSTableHandle TABSPseudoDatabaseData::OpenTable(TABSSessionID session, const std::string& name, bool exclusive) {
    std::shared_ptr<TABSPseudoTableData> table = FindTable(name);
    if (!table)
        RaiseError(kPseudoTableMissingError, "Table '%s' not exists.", {name});
    std::lock_guard lock(table->Mutex());
    if ((exclusive && table->CursorCount() > 0) || table->IsOpenExclusively())
        RaiseError(kPseudoTableExclusiveError,
                   "Cannot access table '%s' in exclusive mode. Probably the table is open by another cursors", {name});
    table->AttachCursor(exclusive);
    return TABSTableHandle(std::move(table), session, exclusive);
}

void TABSPseudoDatabaseData::DropTable(const std::string& name, bool force) {
    std::shared_ptr<TABSPseudoTableData> table;
    {
        std::lock_guard lock(mutex_);
        auto it = tables_.find(Key(name));
        if (it == tables_.end())
            RaiseError(kPseudoTableMissingError, "Table '%s' not exists.", {name});
        if (!force && it->second->CursorCount() > 0)
            RaiseError(kPseudoTableOpenOnDropError, "Cannot delete table '%s'. Table is open by another dataset",
                       {it->second->TableName()});
        table = std::move(it->second);
        tables_.erase(it);
    }
    table->DropStorage();
}

void TABSPseudoDatabaseData::RenameTable(const std::string& oldName, const std::string& newName) {
    std::lock_guard lock(mutex_);
    auto it = tables_.find(Key(oldName));
    if (it == tables_.end())
        RaiseError(kPseudoTableMissingError, "Table '%s' not exists.", {oldName});
    if (Key(oldName) != Key(newName) && tables_.contains(Key(newName)))
        RaiseError(kPseudoTableExistsError, "Cannot create table. Table '%s' already exists", {newName});
    if (it->second->CursorCount() > 0)
        RaiseError(kPseudoTableOpenOnRenameError, "Cannot rename table '%s'. Table is open by another dataset",
                   {it->second->TableName()});
    std::shared_ptr<TABSPseudoTableData> table = std::move(it->second);
    tables_.erase(it);
    table->SetTableName(newName);
    tables_.emplace(Key(newName), std::move(table));
}

void TABSPseudoDatabaseData::DropAllTables() noexcept {
    std::map<std::string, std::shared_ptr<TABSPseudoTableData>> tables;
    {
        std::lock_guard lock(mutex_);
        tables.swap(tables_);
    }
    for (auto& [key, table] : tables) {
        try {
            table->DropStorage();
        } catch (...) {
            // Shutting down: the storage goes with the table object in any case.
        }
    }
}

std::shared_ptr<TABSMemoryTableData> TABSMemoryDatabaseData::CreateTable(const std::string& name,
                                                                         TABSTableDefinition definition) {
    CheckNewName(name);
    if (definition.Fields.Empty())
        RaiseError(kMemoryTableNoFieldsError, "Error creating table - no fields were specified");
    PrepareDefinition(name, definition);
    auto table = std::make_shared<TABSMemoryTableData>(name, NextObjectID(), std::move(definition), memory_);
    AddTable(table);
    return table;
}

std::shared_ptr<TABSTemporaryTableData> TABSTemporaryDatabaseData::CreateTable(const std::string& name,
                                                                               TABSTableDefinition definition,
                                                                               bool memoryOnly,
                                                                               std::optional<std::uint64_t> availableMemory) {
    if (definition.Fields.Empty())
        RaiseError(kTemporaryTableNoFieldsError, "Error creating table - no fields were specified");
    const std::int32_t tableId = NextObjectID();
    const std::string tableName = name.empty() ? "TEMP_TABLE_" + std::to_string(tableId) : name;
    CheckNewName(tableName);
    PrepareDefinition(tableName, definition);
    auto table = std::make_shared<TABSTemporaryTableData>(tableName, tableId, std::move(definition), memoryOnly,
                                                          availableMemory);
    AddTable(table);
    return table;
}

TABSMemoryDatabaseData& MemoryDatabase() {
    static TABSMemoryDatabaseData database;
    return database;
}

TABSTemporaryDatabaseData& TemporaryDatabase() {
    static TABSTemporaryDatabaseData database;
    return database;
}

void ShutdownPseudoDatabases() noexcept {
    MemoryDatabase().DropAllTables();
    TemporaryDatabase().DropAllTables();
}

} // namespace kova
