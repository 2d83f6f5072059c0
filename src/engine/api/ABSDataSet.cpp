#include "engine/api/ABSDataSet.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSSession.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSTableCursor.h"

#include <optional>

namespace kova {

namespace {

constexpr std::string_view kMemoryDatabase = "MEMORY";

[[nodiscard]] std::string_view TrimBlanks(std::string_view text) noexcept {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// "ID;Name" → {"ID", "Name"}; blanks around a name do not count.
[[nodiscard]] std::vector<std::string_view> SplitFieldNames(std::string_view names) {
    std::vector<std::string_view> result;
    for (;;) {
        const std::size_t semicolon = names.find(';');
        result.push_back(TrimBlanks(names.substr(0, semicolon)));
        if (semicolon == std::string_view::npos) break;
        names.remove_prefix(semicolon + 1);
    }
    return result;
}

} // namespace

TABSDataSet::TABSDataSet(TABSComponentOwner* owner) : TABSComponent(owner) {
    if (owner) {
        if (TABSSession* session = owner->AutoNamedSession()) sessionName_ = session->SessionName();
    }
}

TABSDataSet::~TABSDataSet() { CloseSilently(); }

// ---------------------------------------------------------------------------------------------
// Properties

void TABSDataSet::SetDatabaseName(const std::string& name) {
    if (name == databaseName_) return;
    Close();
    databaseName_ = name;
}

void TABSDataSet::SetSessionName(const std::string& name) {
    if (name == sessionName_) return;
    Close();
    sessionName_ = name;
}

void TABSDataSet::OwnerSessionNameChanged(const std::string& sessionName) { SetSessionName(sessionName); }

bool TABSDataSet::InMemory() const { return SameName(databaseName_, kMemoryDatabase); }

void TABSDataSet::SetInMemory(bool inMemory) {
    if (inMemory) {
        SetDatabaseName(std::string(kMemoryDatabase));
    } else if (InMemory()) {
        SetDatabaseName({});
    }
}

void TABSDataSet::SetActive(bool active) {
    if (active) {
        Open();
    } else {
        Close();
    }
}

void TABSDataSet::Fire(const TABSDataSetNotifyEvent& event) {
    if (event) event(*this);
}

// ---------------------------------------------------------------------------------------------
// The database

TABSDatabase& TABSDataSet::AcquireDatabase() {
    if (databaseName_.empty()) ComponentError(apierr::kDatabaseNameBlank);
    TABSSession& session = TABSSessionList::Instance().GetSession(sessionName_);
    TABSDatabase* database = nullptr;
    bool made = false;
    {
        std::lock_guard lock(EngineLock());
        const std::vector<TABSDatabase*> databases = session.Databases();
        for (TABSDatabase* candidate : databases) {
            if (candidate->HandleShared() && candidate->Owner() == Owner() &&
                SameName(candidate->DatabaseName(), databaseName_)) {
                database = candidate;
                break;
            }
        }
        for (auto it = databases.begin(); !database && it != databases.end(); ++it) {
            if (SameName((*it)->DatabaseName(), databaseName_)) database = *it;
        }
        if (!database) {
            database = &session.MakeTemporaryDatabase(databaseName_);
            made = true;
        }
    }
    try {
        if (!database->Connected()) database->Connect();
    } catch (...) {
        if (made) session.DestroyTemporary(*database);
        throw;
    }
    database->AddReference(*this);
    database_ = database;
    return *database;
}

void TABSDataSet::ReleaseDatabase() {
    if (!database_) return;
    TABSDatabase* database = database_;
    database_ = nullptr;
    database->ReleaseReference(*this);
}

void TABSDataSet::CloseSilently() noexcept {
    cursor_.reset();
    CloseCursor();
    fields_.clear();
    active_ = false;
    bof_ = eof_ = true;
    try {
        ReleaseDatabase();
    } catch (const EABSError&) {
        // Giving the reference back closed the database and another dataset's handler failed;
        // this dataset is closed either way and the error that brought us here matters more.
    }
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TABSDataSet::Open() {
    if (active_) return;
    Fire(events_.BeforeOpen);
    TABSDatabase& database = AcquireDatabase();
    try {
        cursor_ = OpenCursor(database);
        resultReadOnly_ = !cursor_->IsLive() || database.ReadOnly();
        for (std::size_t i = 0; i < cursor_->ColumnCount(); ++i) {
            fields_.push_back(std::make_unique<TABSField>(*this, i, cursor_->Column(i)));
        }
        ApplyFilter();
        eof_ = !cursor_->First();
        bof_ = true;
    } catch (...) {
        CloseSilently();
        throw;
    }
    active_ = true;
    Fire(events_.AfterOpen);
    Fire(events_.AfterScroll);
}

void TABSDataSet::Close() {
    if (!active_) return;
    // Closing drops a pending change rather than failing on it.
    Cancel();
    Fire(events_.BeforeClose);
    cursor_.reset();
    CloseCursor();
    fields_.clear();
    active_ = false;
    bof_ = eof_ = true;
    ReleaseDatabase();
    Fire(events_.AfterClose);
}

// ---------------------------------------------------------------------------------------------
// Browsing

void TABSDataSet::RequireActive() const {
    if (!active_) ComponentError(apierr::kDataSetClosed);
}

bool TABSDataSet::IsEmpty() { return !active_ || cursor_->RecordCount() == 0; }

void TABSDataSet::First() {
    RequireActive();
    CheckBrowseMode();
    Fire(events_.BeforeScroll);
    eof_ = !cursor_->First();
    bof_ = true;
    Fire(events_.AfterScroll);
}

void TABSDataSet::Last() {
    RequireActive();
    CheckBrowseMode();
    Fire(events_.BeforeScroll);
    bof_ = !cursor_->Last();
    eof_ = true;
    Fire(events_.AfterScroll);
}

void TABSDataSet::Next() {
    RequireActive();
    CheckBrowseMode();
    if (eof_) return;
    Fire(events_.BeforeScroll);
    if (cursor_->Next()) {
        bof_ = false;
    } else {
        // The last row stays current; only the flag tells that there is no further one.
        eof_ = true;
        (void)cursor_->Last();
    }
    Fire(events_.AfterScroll);
}

void TABSDataSet::Prior() {
    RequireActive();
    CheckBrowseMode();
    if (bof_) return;
    Fire(events_.BeforeScroll);
    if (cursor_->Prior()) {
        eof_ = false;
    } else {
        bof_ = true;
        (void)cursor_->First();
    }
    Fire(events_.AfterScroll);
}

std::int64_t TABSDataSet::RecordCount() { return active_ ? cursor_->RecordCount() : 0; }

std::int64_t TABSDataSet::RecNo() const { return active_ ? cursor_->RecNo() : 0; }

// ---------------------------------------------------------------------------------------------
// Fields

TABSField* TABSDataSet::FindField(std::string_view name) const {
    for (const auto& field : fields_) {
        if (SameName(field->FieldName(), name)) return field.get();
    }
    return nullptr;
}

TABSField& TABSDataSet::FieldByName(std::string_view name) const {
    TABSField* field = FindField(name);
    if (!field) ComponentError(apierr::kFieldNotFound, {name});
    return *field;
}

void TABSDataSet::ReadValue(std::size_t index, TABSVariant& value) const {
    // A row being inserted has values even where the cursor stands on no row.
    const bool inserting = State() == TDataSetState::dsInsert;
    if (!cursor_ || (!inserting && (cursor_->Bof() || cursor_->Eof()))) {
        value.SetType(fields_.at(index)->BaseType());
        return;
    }
    cursor_->GetValue(index, value);
}

// ---------------------------------------------------------------------------------------------
// Locate

bool TABSDataSet::Locate(std::string_view keyFields, std::span<const TDatasetVariant> keyValues,
                         TLocateOptions options) {
    if (!active_) RaiseError(apierr::kLocateClosed, apierr::kLocateClosedMsg);
    const std::vector<std::string_view> names = SplitFieldNames(keyFields);
    if (names.size() != keyValues.size()) {
        RaiseError(apierr::kLocateCounts, apierr::kLocateCountsMsg, {names.size(), keyValues.size()});
    }
    std::vector<std::size_t> columns;
    std::vector<TABSVariant> values(keyValues.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        columns.push_back(FieldByName(names[i]).FieldNo() - 1);
        values[i].SetFromDatasetVariant(keyValues[i]);
    }
    CheckBrowseMode();
    Fire(events_.BeforeScroll);
    if (!cursor_->Locate(columns, values, options.CaseInsensitive, options.PartialKey)) return false;
    bof_ = eof_ = false;
    Fire(events_.AfterScroll);
    return true;
}

bool TABSDataSet::Locate(std::string_view keyFields, const TDatasetVariant& keyValue, TLocateOptions options) {
    return Locate(keyFields, std::span<const TDatasetVariant>(&keyValue, 1), options);
}

// ---------------------------------------------------------------------------------------------
// Filter

void TABSDataSet::SetFilter(const std::string& filter) {
    if (filter == filter_) return;
    filter_ = filter;
    if (active_ && filtered_) {
        CheckBrowseMode();
        ApplyFilter();
        First();
    }
}

void TABSDataSet::SetFiltered(bool filtered) {
    if (filtered == filtered_) return;
    filtered_ = filtered;
    if (active_) {
        CheckBrowseMode();
        ApplyFilter();
        First();
    }
}

void TABSDataSet::SetFilterOptions(TFilterOptions options) {
    filterOptions_ = options;
    if (active_ && filtered_) {
        CheckBrowseMode();
        ApplyFilter();
        First();
    }
}

void TABSDataSet::ApplyFilter() {
    auto* table = dynamic_cast<TABSTableCursor*>(cursor_.get());
    const bool wanted = filtered_ && !TrimBlanks(filter_).empty();
    if (table == nullptr) {
        // Only rows of a stored table can be filtered; other results show every row.
        return;
    }
    // The dataset's filter comes on top of whatever the result's own cursor filters for.
    if (!wanted) {
        if (table->HasViewFilter()) table->SetViewFilter(nullptr);
        return;
    }
    TABSExprOptions options;
    options.ignoreCase = filterOptions_.CaseInsensitive;
    options.partialKey = !filterOptions_.NoPartialCompare;
    table->SetViewFilter(TABSExpression::ParseFilter(filter_, {}, options));
}

// ---------------------------------------------------------------------------------------------
// Editing

TDataSetState TABSDataSet::State() const noexcept {
    if (!active_) return TDataSetState::dsInactive;
    if (auto* table = dynamic_cast<TABSTableCursor*>(cursor_.get())) {
        switch (table->State()) {
            case TABSTableCursorState::Edit: return TDataSetState::dsEdit;
            case TABSTableCursorState::Insert: return TDataSetState::dsInsert;
            case TABSTableCursorState::Browse: break;
        }
    }
    return TDataSetState::dsBrowse;
}

TABSTableCursor& TABSDataSet::EditableCursor() {
    RequireActive();
    auto* table = dynamic_cast<TABSTableCursor*>(cursor_.get());
    if (table == nullptr || ReadOnly() || !table->IsLive()) ComponentError(apierr::kDataSetReadOnly);
    return *table;
}

void TABSDataSet::SyncFlags() {
    const bool onRow = !cursor_->Bof() && !cursor_->Eof();
    if (onRow) {
        bof_ = eof_ = false;
        return;
    }
    // Stand on a row whenever there is one, as after Open.
    eof_ = !cursor_->First();
    bof_ = true;
}

void TABSDataSet::CheckBrowseMode() {
    if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) Post();
}

void TABSDataSet::Append() {
    TABSTableCursor& table = EditableCursor();
    CheckBrowseMode();
    Fire(events_.BeforeInsert);
    table.Append();
    Fire(events_.OnNewRecord);
    Fire(events_.AfterInsert);
}

bool TABSDataSet::WithErrorAction(const TABSDataSetErrorEvent& handler, const std::function<void()>& operation) {
    for (;;) {
        try {
            operation();
            return true;
        } catch (const EABSError& error) {
            if (!handler) throw;
            TDataAction action = TDataAction::daFail;
            handler(*this, error, action);
            if (action == TDataAction::daFail) throw;
            if (action == TDataAction::daAbort) return false;
        }
    }
}

void TABSDataSet::Edit() {
    TABSTableCursor& table = EditableCursor();
    if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) return;
    if (table.Bof() || table.Eof()) ComponentError(apierr::kDataSetEmpty);
    Fire(events_.BeforeEdit);
    if (!WithErrorAction(events_.OnEditError, [&] { table.Edit(); })) return;
    Fire(events_.AfterEdit);
}

void TABSDataSet::Post() {
    RequireActive();
    if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) ComponentError(apierr::kNotEditing);
    auto& table = static_cast<TABSTableCursor&>(*cursor_);
    Fire(events_.BeforePost);
    if (!WithErrorAction(events_.OnPostError, [&] { table.Post(); })) return;
    SyncFlags();
    Fire(events_.AfterPost);
}

void TABSDataSet::Refresh() {
    RequireActive();
    CheckBrowseMode();
    Fire(events_.BeforeRefresh);
    auto* table = dynamic_cast<TABSTableCursor*>(cursor_.get());
    const std::optional<TABSRecordID> current = table ? table->CurrentRecordID() : std::nullopt;
    if (!current || !table->GotoRecord(*current)) {
        eof_ = !cursor_->First();
        bof_ = true;
    } else {
        bof_ = eof_ = false;
    }
    Fire(events_.AfterRefresh);
    Fire(events_.AfterScroll);
}

void TABSDataSet::Cancel() {
    if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) return;
    Fire(events_.BeforeCancel);
    static_cast<TABSTableCursor&>(*cursor_).Cancel();
    SyncFlags();
    Fire(events_.AfterCancel);
}

void TABSDataSet::Delete() {
    TABSTableCursor& table = EditableCursor();
    if (State() == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (State() == TDataSetState::dsEdit) table.Cancel();
    if (table.Bof() || table.Eof()) ComponentError(apierr::kDataSetEmpty);
    Fire(events_.BeforeDelete);
    if (!WithErrorAction(events_.OnDeleteError, [&] { table.Delete(); })) return;
    SyncFlags();
    Fire(events_.AfterDelete);
    Fire(events_.AfterScroll);
}

void TABSDataSet::WriteValue(std::size_t index, const TABSVariant& value) {
    RequireActive();
    if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) ComponentError(apierr::kNotEditing);
    static_cast<TABSTableCursor&>(*cursor_).SetValue(index, value);
}

} // namespace kova
