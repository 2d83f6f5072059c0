#include "engine/api/ABSDataSet.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSSession.h"

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
    Fire(events_.BeforeScroll);
    eof_ = !cursor_->First();
    bof_ = true;
    Fire(events_.AfterScroll);
}

void TABSDataSet::Last() {
    RequireActive();
    Fire(events_.BeforeScroll);
    bof_ = !cursor_->Last();
    eof_ = true;
    Fire(events_.AfterScroll);
}

void TABSDataSet::Next() {
    RequireActive();
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
    if (!cursor_ || cursor_->RecNo() == 0) {
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
    Fire(events_.BeforeScroll);
    if (!cursor_->Locate(columns, values, options.CaseInsensitive, options.PartialKey)) return false;
    bof_ = eof_ = false;
    Fire(events_.AfterScroll);
    return true;
}

bool TABSDataSet::Locate(std::string_view keyFields, const TDatasetVariant& keyValue, TLocateOptions options) {
    return Locate(keyFields, std::span<const TDatasetVariant>(&keyValue, 1), options);
}

} // namespace kova
