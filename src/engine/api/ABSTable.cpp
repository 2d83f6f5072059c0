#include "engine/api/ABSTable.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSHostHooks.h"
#include "engine/api/ABSSession.h"
#include "engine/sql/ABSTableCopy.h"
#include "engine/sql/ABSTableCursor.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace kova {

namespace {

constexpr std::string_view kTemporaryDatabase = "TEMP";
constexpr std::string_view kImportMessage = "Import Table...";
constexpr std::string_view kCopyMessage = "Copy Table...";
constexpr std::string_view kRestructureMessage = "Restructure Table...";
constexpr std::string_view kCopyDatabasePrefix = "TempDb";
constexpr std::uint32_t kCopyDatabaseNumbers = 1000000;

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

// The progress of one whole-table operation: the table's own events when its Before… handler is
// set, else the host's wait window with the operation's message (not for a quiet table: its
// database is in SilentMode, or it is a temporary table). The hooks refer to this object.
class TableProgress {
public:
    TableProgress(TABSTable& table, const TABSTableNotifyEvent& before, const TABSTableProgressEvent& progress,
                  const TABSTableNotifyEvent& after, std::string_view message, bool quiet)
        : table_(table), before_(before), progress_(progress), after_(after), message_(message), quiet_(quiet) {}
    TableProgress(const TableProgress&) = delete;
    TableProgress& operator=(const TableProgress&) = delete;

    [[nodiscard]] TABSCopyHooks Hooks() {
        TABSCopyHooks hooks;
        hooks.Before = [this] {
            if (before_) {
                before_(table_);
            } else if (!quiet_) {
                wait_.emplace(message_);
                (void)wait_->Progress(0);
            }
        };
        hooks.Progress = [this](int position, bool& continueCopy) {
            if (progress_) {
                progress_(table_, position, continueCopy);
            } else if (wait_) {
                continueCopy = wait_->Progress(position);
            }
        };
        hooks.After = [this] {
            if (after_) {
                after_(table_);
            } else {
                wait_.reset();
            }
        };
        return hooks;
    }

private:
    TABSTable& table_;
    const TABSTableNotifyEvent& before_;
    const TABSTableProgressEvent& progress_;
    const TABSTableNotifyEvent& after_;
    std::string message_;
    bool quiet_;
    std::optional<TABSWaitScope> wait_;
};

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
        TableProgress progress(*this, tableEvents_.BeforeImport, tableEvents_.OnImportProgress,
                               tableEvents_.AfterImport, kImportMessage, QuietProgress(database));
        const TABSCopyHooks hooks = progress.Hooks();
        result = ImportTableRows(access, QualifiedName(), *rows, indexes, log, hooks);
        // The new table's structure, whatever the copy did.
        ReadDefinitions(access);
    });
    return result;
}

void TABSTable::ReadDefinitions(const TABSTableAccess& access) {
    if (!access.TableExists(QualifiedName())) return;
    TABSTableHandle handle = access.OpenTable(QualifiedName());
    fieldDefs_ = handle->FieldDefs();
    indexDefs_ = PersistentIndexes(handle->IndexDefs());
}

bool TABSTable::QuietProgress(const TABSDatabase& database) const {
    return database.SilentMode() || SameName(DatabaseName(), kTemporaryDatabase);
}

// ---------------------------------------------------------------------------------------------
// Copy and restructure

bool TABSTable::CopyTable(const std::string& newTableName, std::string& log, int progressMax, int progressMin,
                          bool copyIndexes, bool overwrite, bool ignoreErrors, const std::string& destinationFileName,
                          const std::string& destinationPassword, bool& continueCopy) {
    RequireTableName();
    // The copy reads the table through a fresh cursor; an open table comes back on its row.
    const bool wasOpen = Active();
    std::optional<TABSRecordID> position;
    if (wasOpen) {
        Cancel();
        if (auto* cursor = dynamic_cast<TABSTableCursor*>(Cursor())) position = cursor->CurrentRecordID();
        Close();
    }
    Open();
    const auto restore = [&] {
        if (!wasOpen) {
            Close();
            return;
        }
        auto* cursor = dynamic_cast<TABSTableCursor*>(Cursor());
        if (cursor != nullptr && position && cursor->GotoRecord(*position)) Refresh();
    };

    bool result = false;
    try {
        TABSDatabase& database = *Database();
        const TABSExecutionContext context = ExecutionContextOf(database, InMemory());
        const TABSTableAccess access(context);

        TABSCopyDestination destination;
        destination.Table.name = newTableName;
        std::unique_ptr<TABSDatabase> otherDatabase;
        std::optional<TABSExecutionContext> otherContext;
        std::optional<TABSTableAccess> otherAccess;
        if (destinationFileName.empty()) {
            destination.Access = &access;
            destination.FileName = context.DatabaseFileName;
        } else if (SameName(destinationFileName, kCopyToMemory)) {
            destination.Access = &access;
            destination.Table.memory = true;
            destination.FileName = std::string(kCopyToMemory);
        } else {
            destination.FileName = destinationFileName;
            otherDatabase = std::make_unique<TABSDatabase>();
            otherDatabase->SetSessionName(SessionName());
            otherDatabase->SetDatabaseName(std::string(kCopyDatabasePrefix) +
                                           std::to_string(TABSTableAccess::Random(kCopyDatabaseNumbers)));
            otherDatabase->SetDatabaseFileName(destinationFileName);
            otherDatabase->SetPassword(destinationPassword);
            otherDatabase->SetSilentMode(database.SilentMode());
            try {
                otherDatabase->Open();
                otherContext = ExecutionContextOf(*otherDatabase, false);
                otherAccess.emplace(*otherContext);
                destination.Access = &*otherAccess;
            } catch (const EABSError& e) {
                if (!ignoreErrors) throw;
                destination.ConnectError = e.what();
            }
        }

        for (const TABSFieldDef& field : fieldDefs_) {
            if (FindField(field.Name) == nullptr) {
                RaiseError(kCopyFieldObjectMissingError,
                           "Cannot copy table \"%s\". Field object for field \"%s\" is not created.",
                           {tableName_, field.Name});
            }
        }

        TableProgress progress(*this, tableEvents_.BeforeCopy, tableEvents_.OnCopyProgress, tableEvents_.AfterCopy,
                               kCopyMessage, QuietProgress(database));
        TABSCopyTableOptions options;
        options.ProgressMax = progressMax;
        options.ProgressMin = progressMin;
        options.CopyIndexes = copyIndexes;
        options.Overwrite = overwrite;
        options.IgnoreErrors = ignoreErrors;
        auto& rows = dynamic_cast<TABSTableCursor&>(*Cursor());
        result = CopyTableInto(rows, context.DatabaseFileName, destination, options, progress.Hooks(), continueCopy,
                               log);
    } catch (...) {
        try {
            restore();
        } catch (const EABSError&) {
            // The copy's own error is the one to report.
        }
        throw;
    }
    restore();
    return result;
}

bool TABSTable::RestructureTable(std::string& log) {
    RequireClosed();
    RequireTableName();
    bool result = false;
    WithDatabase([&](const TABSTableAccess& access, TABSDatabase& database) {
        TABSTableDefinition definition;
        for (const TABSFieldDef& field : fieldDefs_) definition.Fields.Add(field);
        definition.Indexes = PersistentIndexes(indexDefs_);
        {
            TABSTableHandle handle = access.OpenTable(QualifiedName());
            definition.Constraints =
                CarriedValueConstraints(handle->FieldDefs(), handle->ConstraintDefs(), definition.Fields);
        }
        TableProgress progress(*this, tableEvents_.BeforeRestructure, tableEvents_.OnRestructureProgress,
                               tableEvents_.AfterRestructure, kRestructureMessage, QuietProgress(database));
        result = RestructureStoredTable(access, QualifiedName(), std::move(definition), progress.Hooks(), log);
        ReadDefinitions(access);
    });
    return result;
}

} // namespace kova
