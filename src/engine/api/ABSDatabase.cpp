#include "engine/api/ABSDatabase.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDataSet.h"
#include "engine/api/ABSHostHooks.h"
#include "engine/api/ABSRepair.h"
#include "engine/api/ABSSession.h"

#include <exception>
#include <filesystem>

namespace kova {

namespace {

std::mutex& RebuilderMutex() {
    static std::mutex mutex;
    return mutex;
}

TABSDatabaseRebuilder& InstalledRebuilder() {
    static TABSDatabaseRebuilder rebuilder = DefaultDatabaseRebuilder();
    return rebuilder;
}

[[nodiscard]] TABSDatabaseRebuilder CurrentRebuilder() {
    std::lock_guard lock(RebuilderMutex());
    return InstalledRebuilder();
}

[[nodiscard]] bool FileExists(const std::string& fileName) {
    std::error_code error;
    const auto status = std::filesystem::status(fileName, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

} // namespace

TABSDatabaseRebuilder DefaultDatabaseRebuilder() {
    return [](TABSDatabase& database, const std::string& newFileName, std::string& log) {
        return database.RepairDatabase(newFileName, log);
    };
}

TABSDatabaseRebuilder SetDatabaseRebuilder(TABSDatabaseRebuilder rebuilder) {
    std::lock_guard lock(RebuilderMutex());
    TABSDatabaseRebuilder previous = std::move(InstalledRebuilder());
    InstalledRebuilder() = std::move(rebuilder);
    return previous;
}

// ---------------------------------------------------------------------------------------------
// Life

TABSDatabase::TABSDatabase(TABSComponentOwner* owner) : TABSComponent(owner), list_(TABSSessionList::Instance()) {
    if (owner) {
        if (TABSSession* session = owner->AutoNamedSession()) sessionName_ = session->SessionName();
    }
    list_.AddDatabase(*this);
}

TABSDatabase::TABSDatabase(TemporaryTag, TABSSession& session, const std::string& databaseName)
    : TABSComponent(nullptr), list_(TABSSessionList::Instance()), databaseName_(databaseName),
      sessionName_(session.SessionName()), keepConnection_(session.KeepConnections()), silentMode_(true),
      temporary_(true), session_(&session) {
    list_.AddDatabase(*this);
}

TABSDatabase::~TABSDatabase() {
    try {
        Close();
    } catch (const EABSError&) {
        // A dataset's close handler failed; the datasets still holding this database let go
        // of it without their handlers.
        const std::vector<TABSDataSet*> remaining = dataSets_;
        for (TABSDataSet* dataSet : remaining) dataSet->CloseSilently();
    }
    DropConnection();
    list_.RemoveDatabase(*this);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TABSDatabase::SetDatabaseFileName(const std::string& fileName) {
    if (fileName == databaseFileName_) return;
    Close();
    databaseFileName_ = fileName;
}

void TABSDatabase::SetDatabaseName(const std::string& name) {
    if (name == databaseName_) return;
    Close();
    databaseName_ = name;
}

void TABSDatabase::SetSessionName(const std::string& name) {
    if (name == sessionName_) return;
    Close();
    sessionName_ = name;
}

void TABSDatabase::OwnerSessionNameChanged(const std::string& sessionName) { SetSessionName(sessionName); }

void TABSDatabase::SetKeepConnection(bool keep) {
    keepConnection_ = keep;
    if (!keep && refCount_ == 0) Close();
}

bool TABSDatabase::IsPseudoDatabase() const { return TABSDatabaseDataList::IsPseudoDatabaseName(EffectiveFileName()); }

// ---------------------------------------------------------------------------------------------
// Connecting

void TABSDatabase::SetConnected(bool connected) {
    if (connected) {
        Connect();
    } else {
        Close();
    }
}

void TABSDatabase::Connect() {
    if (Connected()) return;
    if (!temporary_ && databaseName_.empty()) ComponentError(apierr::kDatabaseNameMissing);
    TABSSession& session = AttachSession();
    if (handleShared_ && BorrowSharedConnection(session)) return;

    const bool pseudo = IsPseudoDatabase();
    if (!pseudo) {
        std::lock_guard lock(EngineLock());
        if (!FileExists(EffectiveFileName())) ComponentError(apierr::kFileMissing, {EffectiveFileName()});
    }
    bool rebuilt = false;
    for (;;) {
        std::shared_ptr<TABSLocalSession> connection = ConnectWithPasswordRetry(session);
        // After one rebuild the file is taken as it is: a second round could only loop.
        if (!pseudo && !rebuilt && WantsRepair(*connection)) {
            connection.reset();
            Rebuild();
            rebuilt = true;
            continue;
        }
        readOnly_ = connection->ReadOnly();
        if (TABSDiskDatabaseData* disk = connection->DiskData()) {
            maxConnections_ = disk->MaxConnections();
            fileSettings_ = disk->FileInfo();
        } else {
            fileSettings_.reset();
        }
        session_ = &session;
        connection_ = std::move(connection);
        return;
    }
}

TABSSession& TABSDatabase::AttachSession() {
    std::lock_guard lock(EngineLock());
    TABSSession& session = temporary_ ? *session_ : list_.GetSession(sessionName_);
    session.SetActive(true);
    for (TABSDatabase* other : session.Databases()) {
        if (other == this || !SameName(other->DatabaseName(), databaseName_)) continue;
        if (handleShared_ && other->HandleShared()) continue;
        if (other->Temporary() && other->ReferenceCount() == 0) {
            session.DestroyTemporary(*other);
            continue;
        }
        ComponentError(apierr::kDuplicateDatabaseName, {databaseName_});
    }
    return session;
}

bool TABSDatabase::BorrowSharedConnection(TABSSession& session) {
    std::lock_guard lock(EngineLock());
    for (TABSDatabase* other : session.Databases()) {
        if (other == this || !other->Connected() || !other->HandleShared() ||
            !SameName(other->DatabaseName(), databaseName_)) {
            continue;
        }
        connection_ = other->connection_;
        fileSettings_ = other->fileSettings_;
        readOnly_ = connection_->ReadOnly();
        session_ = &session;
        return true;
    }
    return false;
}

std::shared_ptr<TABSLocalSession> TABSDatabase::ConnectWithPasswordRetry(TABSSession& session) {
    for (;;) {
        TABSConnectRequest request;
        request.DatabaseName = databaseName_;
        request.FileName = EffectiveFileName();
        request.Password = password_;
        request.SessionName = session.SessionName();
        request.MaxConnections = maxConnections_;
        request.ReadOnly = readOnly_;
        request.Exclusive = exclusive_;
        request.MultiUser = multiUser_;
        try {
            return TABSDatabaseDataList::Instance().Connect(request);
        } catch (const EABSException& error) {
            if (error.NativeError() != apierr::kWrongPassword || !AskForPassword()) throw;
        }
    }
}

bool TABSDatabase::AskForPassword() {
    if (events_.OnPassword) {
        bool retry = false;
        events_.OnPassword(*this, retry);
        return retry;
    }
    if (silentMode_) return false;
    const TABSHostHooks hooks = HostHooks();
    if (!hooks.AskPassword) return false;
    const std::optional<std::string> typed = hooks.AskPassword(*this);
    if (!typed) return false;
    password_ = *typed;
    return true;
}

bool TABSDatabase::WantsRepair(const TABSLocalSession& connection) {
    TABSDiskDatabaseData* disk = connection.DiskData();
    if (!disk || !disk->NeedsRepair()) return false;
    if (silentMode_ || OpenPromptsSuppressed()) return false;
    const TABSHostHooks hooks = HostHooks();
    if (disk->FileInfo().FormatVersion >= FileHeader::kMinimumFormatVersion) {
        if (events_.OnNeedRepair) {
            // Nothing destructive unless the handler asks for it.
            bool repair = false;
            events_.OnNeedRepair(*this, repair);
            return repair;
        }
        return hooks.AskYesNo && hooks.AskYesNo(std::string(apierr::kRepairQuestion));
    }
    // An old file cannot be used as it is: the user is told, not asked.
    if (!hooks.ShowMessage) return false;
    hooks.ShowMessage(TABSMessageKind::Information, std::string(apierr::kOldFormatMessage));
    return true;
}

void TABSDatabase::Rebuild() {
    const std::string fileName = EffectiveFileName();
    const TABSDatabaseRebuilder rebuilder = CurrentRebuilder();
    if (!rebuilder) RaiseError(apierr::kCannotConvert, apierr::kCannotConvertMsg, {fileName, apierr::kNoRebuildAvailable});

    const std::string newFileName = fileName + ".tmp";
    std::string report;
    bool ok = false;
    {
        TABSQuietOpenScope quiet;
        try {
            ok = rebuilder(*this, newFileName, report);
        } catch (const std::exception& error) {
            // Whatever stopped the rebuild (also a failure of the file system or of memory) is
            // its report; the old file is still there to connect to after the error.
            ok = false;
            report = error.what();
        }
    }
    // The rebuild connects this database to the old file; the file must be closed before it is
    // replaced.
    Close();
    if (ok && !FileExists(newFileName)) {
        ok = false;
        report = FormatMessage(apierr::kFileMissing, {newFileName});
    }
    if (ok) {
        // The old file goes only when the new one is complete on disk, and in one step: at no
        // moment is there no database file, or a half-written one, under the old name.
        if (std::string failure = ReplaceFileDurably(newFileName, fileName); !failure.empty()) {
            ok = false;
            report = std::move(failure);
        }
    }
    if (!ok) {
        std::error_code ignored;
        std::filesystem::remove(newFileName, ignored);
        if (report.empty()) report = apierr::kUnknownError;
    }
    if (!report.empty()) {
        if (const TABSHostHooks hooks = HostHooks(); hooks.ShowMessage) hooks.ShowMessage(TABSMessageKind::Warning, report);
    }
    if (!ok) RaiseError(apierr::kCannotConvert, apierr::kCannotConvertMsg, {fileName, report});
}

// ---------------------------------------------------------------------------------------------
// Closing, references, flushing

void TABSDatabase::Close() {
    if (!Connected()) return;
    {
        closingDataSets_ = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{closingDataSets_};
        const std::vector<TABSDataSet*> dataSets = dataSets_;
        for (TABSDataSet* dataSet : dataSets) {
            if (dataSet->IsQuery()) dataSet->CloseForDatabase();
        }
        for (TABSDataSet* dataSet : dataSets) {
            if (!dataSet->IsQuery()) dataSet->CloseForDatabase();
        }
    }
    dataSets_.clear();
    refCount_ = 0;
    DropConnection();
}

void TABSDatabase::DropConnection() noexcept {
    connection_.reset();  // the last connection to the file closes it
    fileSettings_.reset();
    if (!temporary_) session_ = nullptr;
}

void TABSDatabase::AddReference(TABSDataSet& dataSet) {
    ++refCount_;
    dataSets_.push_back(&dataSet);
}

void TABSDatabase::ReleaseReference(TABSDataSet& dataSet) {
    std::erase(dataSets_, &dataSet);
    if (refCount_ > 0) --refCount_;
    if (closingDataSets_ || refCount_ > 0 || keepConnection_) return;
    if (temporary_) {
        session_->DestroyTemporary(*this);  // `this` is gone afterwards
        return;
    }
    Close();
}

void TABSDatabase::FlushBuffers() {
    if (!Connected()) ComponentError(apierr::kDatabaseClosed);
    connection_->FlushBuffers();
}

bool TABSDatabase::RepairDatabase(const std::string& newFileName, std::string& log) {
    if (databaseName_.empty()) ComponentError(apierr::kDatabaseNameMissing);
    TABSSession& session = AttachSession();
    if (Connected()) ComponentError(apierr::kDatabaseOpen);
    TABSRepairProgress progress(*this);
    log.clear();
    TABSDatabaseRepair repair(*this, session, progress);
    const bool ok = repair.Run(newFileName, log);
    progress.Finish();
    return ok;
}

void TABSDatabase::CreateDatabase(std::uint8_t cipher, std::uint16_t pageSize, std::uint16_t pageCountInExtent) {
    if (Connected()) ComponentError(apierr::kDatabaseOpen);
    if (EffectiveFileName().empty()) ComponentError(apierr::kDatabaseNameMissing);
    TABSCreateDatabaseOptions options;
    options.Password.Cipher = cipher;
    options.PageSize = pageSize;
    options.PageCountInExtent = pageCountInExtent;
    options.MaxConnections = maxConnections_;
    TABSDatabaseDataList::Instance().CreateDatabase(EffectiveFileName(), password_, options);
}

} // namespace kova
