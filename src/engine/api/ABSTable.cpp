#include "engine/api/ABSTable.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSHostHooks.h"
#include "engine/api/ABSSession.h"
#include "engine/sql/ABSTableCopy.h"
#include "engine/sql/ABSTableCursor.h"

#include <optional>

namespace kova {

namespace {

constexpr std::string_view kTemporaryDatabase = "TEMP";
constexpr std::string_view kImportMessage = "Import Table...";

std::string_view Trim(std::string_view text) noexcept {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// "A;B" → index columns over A and B, ascending, case-sensitive.
std::vector<TABSIndexColumn> OrderColumns(std::string_view names) {
    std::vector<TABSIndexColumn> columns;
    while (!names.empty()) {
        const std::size_t semicolon = names.find(';');
        const std::string_view name = Trim(names.substr(0, semicolon));
        if (!name.empty()) columns.push_back(TABSIndexColumn{std::string(name)});
        if (semicolon == std::string_view::npos) break;
        names.remove_prefix(semicolon + 1);
    }
    return columns;
}

// The persistent index definitions of a table (what a copy of its structure takes over).
TABSIndexDefs PersistentIndexes(const TABSIndexDefs& indexes) {
    TABSIndexDefs result;
    for (const TABSIndexDef& index : indexes) {
        if (!index.Temporary) result.Add(index);
    }
    return result;
}

} // namespace

TABSExecutionContext ExecutionContextOf(TABSDatabase& database, bool inMemory) {
    const TABSLocalSession& connection = *database.Connection();
    TABSExecutionContext context;
    context.Data = &connection.Data();
    context.Tables = connection.Tables();
    context.SessionID = connection.SessionID();
    context.SessionName = database.Session() ? database.Session()->SessionName() : std::string();
    context.DatabaseName = database.DatabaseName();
    context.DatabaseFileName = database.EffectiveFileName();
    context.ReadOnly = connection.ReadOnly();
    context.InMemory = inMemory;
    return context;
}

TABSTable::TABSTable(TABSComponentOwner* owner) : TABSDataSet(owner) {}

TABSTable::~TABSTable() { CloseSilently(); }

// ---------------------------------------------------------------------------------------------
// Properties

void TABSTable::SetTableName(const std::string& name) {
    if (name == tableName_) return;
    Close();
    tableName_ = name;
}

void TABSTable::SetIndexName(const std::string& name) {
    indexName_ = name;
    indexFieldNames_.clear();
    Reorder();
}

void TABSTable::SetIndexFieldNames(const std::string& names) {
    indexFieldNames_ = names;
    indexName_.clear();
    Reorder();
}

void TABSTable::SetExclusive(bool exclusive) {
    if (exclusive == exclusive_) return;
    Close();
    exclusive_ = exclusive;
}

void TABSTable::ApplyOrder(TABSTableCursor& cursor) const {
    if (!indexName_.empty()) {
        cursor.SetIndexOrder(indexName_);
    } else {
        cursor.SetColumnOrder(OrderColumns(indexFieldNames_));
    }
}

void TABSTable::Reorder() {
    if (!Active()) return;
    auto* cursor = dynamic_cast<TABSTableCursor*>(Cursor());
    if (cursor == nullptr) return;
    if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Post();
    ApplyOrder(*cursor);
    First();
}

// ---------------------------------------------------------------------------------------------
// Opening

TABSTableName TABSTable::QualifiedName() const {
    TABSTableName name;
    name.name = tableName_;
    return name;
}

void TABSTable::RequireTableName() const {
    if (tableName_.empty()) ComponentError(apierr::kTableNameMissing);
}

void TABSTable::RequireClosed() const {
    if (Active()) ComponentError(apierr::kDataSetOpen);
}

std::unique_ptr<TABSLocalCursor> TABSTable::OpenCursor(TABSDatabase& database) {
    RequireTableName();
    const TABSExecutionContext context = ExecutionContextOf(database, InMemory());
    const TABSTableAccess access(context);
    const bool live = !TABSDataSet::ReadOnly() && !database.ReadOnly() && !context.ReadOnly;
    auto cursor = std::make_unique<TABSTableCursor>(access.OpenTable(QualifiedName(), exclusive_), live);
    ApplyOrder(*cursor);
    fieldDefs_ = cursor->Table().FieldDefs();
    indexDefs_ = PersistentIndexes(cursor->Table().IndexDefs());
    return cursor;
}

void TABSTable::WithDatabase(const std::function<void(const TABSTableAccess&, TABSDatabase&)>& action) {
    if (Active()) {
        const TABSExecutionContext context = ExecutionContextOf(*Database(), InMemory());
        action(TABSTableAccess(context), *Database());
        return;
    }
    TABSDatabase& database = AcquireDatabase();
    try {
        const TABSExecutionContext context = ExecutionContextOf(database, InMemory());
        action(TABSTableAccess(context), database);
    } catch (...) {
        ReleaseDatabase();
        throw;
    }
    ReleaseDatabase();
}

// ---------------------------------------------------------------------------------------------
// The table itself

bool TABSTable::Exists() {
    if (Active()) return true;
    RequireTableName();
    bool exists = false;
    WithDatabase([&](const TABSTableAccess& access, TABSDatabase&) { exists = access.TableExists(QualifiedName()); });
    return exists;
}

void TABSTable::CreateTable() {
    RequireClosed();
    RequireTableName();
    WithDatabase([&](const TABSTableAccess& access, TABSDatabase&) {
        TABSTableDefinition definition;
        for (const TABSFieldDef& field : fieldDefs_) {
            TABSFieldDef copy = field;
            copy.FieldNo = -1;
            definition.Fields.Add(std::move(copy));
        }
        definition.Indexes = PersistentIndexes(indexDefs_);
        access.CreateTable(QualifiedName(), std::move(definition));
    });
}

void TABSTable::DeleteTable() {
    RequireClosed();
    RequireTableName();
    WithDatabase([&](const TABSTableAccess& access, TABSDatabase&) { access.DropTable(QualifiedName()); });
}

void TABSTable::EmptyTable() {
    RequireTableName();
    if (Active()) Cancel();
    WithDatabase([&](const TABSTableAccess& access, TABSDatabase&) { access.EmptyTable(QualifiedName()); });
    if (Active()) First();
}

bool TABSTable::ImportTable(TABSDataSet& source, std::string& log, const TABSIndexDefs* indexes) {
    RequireClosed();
    RequireTableName();
    TABSLocalCursor* rows = source.Cursor();
    if (rows == nullptr) ComponentError(apierr::kDataSetClosed);
    source.Cancel();

    // A table dataset hands over its own indexes when the caller names none.
    std::optional<TABSIndexDefs> sourceIndexes;
    if (indexes == nullptr) {
        if (auto* table = dynamic_cast<TABSTableCursor*>(rows); table && dynamic_cast<TABSTable*>(&source)) {
            sourceIndexes = PersistentIndexes(table->Table().IndexDefs());
            indexes = &*sourceIndexes;
        }
    }

    bool result = false;
    WithDatabase([&](const TABSTableAccess& access, TABSDatabase& database) {
        const bool quiet = database.SilentMode() || SameName(DatabaseName(), kTemporaryDatabase);
        std::optional<TABSWaitScope> wait;
        TABSImportHooks hooks;
        hooks.Before = [&] {
            if (tableEvents_.BeforeImport) {
                tableEvents_.BeforeImport(*this);
            } else if (!quiet) {
                wait.emplace(std::string(kImportMessage));
                (void)wait->Progress(0);
            }
        };
        hooks.Progress = [&](int position, bool& continueCopy) {
            if (tableEvents_.OnImportProgress) {
                tableEvents_.OnImportProgress(*this, position, continueCopy);
            } else if (wait) {
                continueCopy = wait->Progress(position);
            }
        };
        hooks.After = [&] {
            if (tableEvents_.AfterImport) {
                tableEvents_.AfterImport(*this);
            } else {
                wait.reset();
            }
        };
        result = ImportTableRows(access, QualifiedName(), *rows, indexes, log, hooks);
        // The new table's structure, whatever the copy did.
        if (access.TableExists(QualifiedName())) {
            TABSTableHandle handle = access.OpenTable(QualifiedName());
            fieldDefs_ = handle->FieldDefs();
            indexDefs_ = PersistentIndexes(handle->IndexDefs());
        }
    });
    return result;
}

} // namespace kova
