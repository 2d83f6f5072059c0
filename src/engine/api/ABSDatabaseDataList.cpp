#include "engine/api/ABSDatabaseDataList.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSComponent.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/TextCodec.h"
#include "engine/storage/ABSPseudoDatabases.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kova {

namespace {

constexpr std::string_view kMemoryName = "MEMORY";
constexpr std::string_view kTempName = "TEMP";

// The storage layer knows passwords as Windows-1252 text; the API speaks UTF-8.
[[nodiscard]] TABSPassword StoragePassword(const std::string& password) {
    TABSPassword result;
    result.Password = Utf8ToCp1252(password);
    return result;
}

// Makes the system write the file's buffers. The file's own handle sits inside the storage
// layer; on Linux any descriptor of the file reaches the same cached data, and a read-only one
// takes part in none of the storage layer's byte-range locks (those are bound to their own open
// file description), so opening and closing it here disturbs nothing.
void FlushFileToDisk(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (::fdatasync(fd) != 0) error = errno;
        ::close(fd);
    }
    if (error != 0) {
        RaiseError(apierr::kFlushFailed, apierr::kFlushFailedMsg, {fileName, error, std::strerror(error)});
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSLocalSession

TABSLocalSession::TABSLocalSession(TABSDatabaseDataList& list, TABSConnectRequest request,
                                   std::shared_ptr<TABSDatabaseData> data, TABSDiskDatabaseData* disk,
                                   std::shared_ptr<TABSDiskDatabaseTables> tables, TABSConnection connection)
    : list_(list), request_(std::move(request)), data_(std::move(data)), disk_(disk), tables_(std::move(tables)),
      sessionId_(connection.SessionID), readOnly_(connection.ReadOnly || request_.ReadOnly) {}

TABSLocalSession::~TABSLocalSession() { list_.Disconnect(*this); }

void TABSLocalSession::FlushBuffers() {
    if (!disk_) return;
    disk_->Commit(sessionId_, /*flushFileBuffers=*/true);
    FlushFileToDisk(disk_->FileName());
}

// ---------------------------------------------------------------------------------------------
// TABSDatabaseDataList

// The pseudo databases live for the whole process; the list only points at them.
TABSDatabaseDataList::TABSDatabaseDataList()
    : memory_(std::shared_ptr<TABSDatabaseData>(std::shared_ptr<TABSDatabaseData>(), &MemoryDatabase())),
      temp_(std::shared_ptr<TABSDatabaseData>(std::shared_ptr<TABSDatabaseData>(), &TemporaryDatabase())) {}

TABSDatabaseDataList& TABSDatabaseDataList::Instance() {
    // Never destroyed: connections of objects that outlive main (a static query, the default
    // session's databases) must still find the list when they go.
    static TABSDatabaseDataList* list = new TABSDatabaseDataList;
    return *list;
}

bool TABSDatabaseDataList::IsPseudoDatabaseName(std::string_view fileName) {
    return SameName(fileName, kMemoryName) || SameName(fileName, kTempName);
}

std::shared_ptr<TABSDatabaseData> TABSDatabaseDataList::PseudoDatabase(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return SameName(name, kMemoryName) ? memory_ : temp_;
}

void TABSDatabaseDataList::SetPseudoDatabase(std::string_view name, std::shared_ptr<TABSDatabaseData> data) {
    std::lock_guard lock(mutex_);
    (SameName(name, kMemoryName) ? memory_ : temp_) = std::move(data);
}

std::string TABSDatabaseDataList::NormalFileName(const std::string& fileName) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(fileName, error);
    if (error) return fileName;
    return path.lexically_normal().string();
}

TABSDatabaseDataList::Entry* TABSDatabaseDataList::Find(const std::string& fileName, const std::string& sessionName,
                                                        bool multiUser) const {
    for (const auto& entry : entries_) {
        if (!SameName(entry->fileName, fileName)) continue;
        if (multiUser ? SameName(entry->sessionName, sessionName) : entry->sessionName.empty()) return entry.get();
    }
    return nullptr;
}

std::unique_ptr<TABSLocalSession> TABSDatabaseDataList::Connect(const TABSConnectRequest& request) {
    std::lock_guard lock(mutex_);
    TABSConnectRequest kept = request;
    if (!request.MultiUser) kept.SessionName.clear();

    if (IsPseudoDatabaseName(request.FileName)) {
        TABSConnection connection;
        connection.SessionID = 0;
        return std::unique_ptr<TABSLocalSession>(
            new TABSLocalSession(*this, std::move(kept), PseudoDatabase(request.FileName), nullptr, nullptr, connection));
    }

    TABSConnectOptions options;
    options.Password = StoragePassword(request.Password);
    options.MultiUser = request.MultiUser;
    options.Exclusive = request.Exclusive;
    options.ReadOnly = request.ReadOnly;

    const std::string normal = NormalFileName(request.FileName);
    Entry* entry = Find(normal, kept.SessionName, request.MultiUser);
    if (entry) {
        // The file is open with the key of its first connection; a second connection must know
        // the same password, even for a file without encryption.
        if (entry->password != request.Password) RaiseError(apierr::kPasswordDiffers, apierr::kPasswordDiffersMsg);
        const TABSConnection connection = entry->data->ConnectSession(options);
        ++entry->connections;
        return std::unique_ptr<TABSLocalSession>(
            new TABSLocalSession(*this, std::move(kept), entry->data, entry->data.get(), entry->tables, connection));
    }

    auto data = std::make_shared<TABSDiskDatabaseData>(normal);
    const TABSConnection connection = data->ConnectSession(options);  // opens the file
    std::shared_ptr<TABSDiskDatabaseTables> tables;
    try {
        tables = std::make_shared<TABSDiskDatabaseTables>(*data);
    } catch (...) {
        try {
            data->DisconnectSession(connection.SessionID);
        } catch (const EABSError&) {
            // closing anyway
        }
        throw;
    }
    auto added = std::make_unique<Entry>();
    added->fileName = normal;
    added->sessionName = kept.SessionName;
    added->password = request.Password;
    added->data = data;
    added->tables = tables;
    added->connections = 1;
    entries_.push_back(std::move(added));
    TABSDiskDatabaseData* disk = data.get();
    return std::unique_ptr<TABSLocalSession>(
        new TABSLocalSession(*this, std::move(kept), std::move(data), disk, std::move(tables), connection));
}

void TABSDatabaseDataList::Disconnect(TABSLocalSession& session) noexcept {
    if (!session.disk_) return;
    std::lock_guard lock(mutex_);
    Entry* entry = nullptr;
    for (const auto& candidate : entries_) {
        if (candidate->data.get() == session.disk_) entry = candidate.get();
    }
    try {
        // A transaction the connection left open ends with it: nothing uncommitted survives.
        if (session.tables_ && session.tables_->InTransaction(session.sessionId_)) {
            session.tables_->Rollback(session.sessionId_);
        }
    } catch (const EABSError&) {
        // the session's pages go with its disconnection below
    }
    session.tables_.reset();
    // The open tables of the file are let go while the file is still open.
    if (entry && entry->connections <= 1) entry->tables.reset();
    try {
        session.disk_->DisconnectSession(session.sessionId_);
    } catch (const EABSError&) {
        // The slot could not be released cleanly (the storage layer has dropped the connection
        // anyway); a connection that is going away has nobody to report to.
    }
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if ((*it)->data.get() != session.disk_) continue;
        if (--(*it)->connections <= 0) entries_.erase(it);  // the last one closes the file
        break;
    }
}

void TABSDatabaseDataList::CreateDatabase(const std::string& fileName, const std::string& password,
                                          const TABSCreateDatabaseOptions& options) {
    std::lock_guard lock(mutex_);
    const std::string normal = NormalFileName(fileName);
    for (const auto& entry : entries_) {
        if (SameName(entry->fileName, normal)) RaiseError(apierr::kFileInUse, apierr::kFileInUseMsg, {fileName});
    }
    TABSCreateDatabaseOptions create = options;
    create.Password.Password = Utf8ToCp1252(password);
    TABSDiskDatabaseData(normal).CreateDatabase(create);
}

std::size_t TABSDatabaseDataList::OpenFileCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

int TABSDatabaseDataList::ConnectionCount(const std::string& fileName) const {
    std::lock_guard lock(mutex_);
    const std::string normal = NormalFileName(fileName);
    int count = 0;
    for (const auto& entry : entries_) {
        if (SameName(entry->fileName, normal)) count += entry->connections;
    }
    return count;
}

} // namespace kova
