#include "engine/api/ABSRepair.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSSession.h"
#include "engine/api/ABSTable.h"
#include "engine/core/ABSExcept.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

namespace kova {

namespace {

// A table that repair mode or a normal open cannot get through is left out of the new file; the
// report says so, since its rows are the ones the rebuild loses.
constexpr std::string_view kTableLostMsg = "Error repairing table \"%s\". The table was not copied due to error: %s\r\n";
constexpr std::string_view kNoFileMsg = "an in-memory database has no file to rebuild";
constexpr int kCannotCreateFile = 30361;
constexpr std::string_view kCannotCreateFileMsg = "Cannot create file: '%s' Error code: %d. ErrorMessage: %s";

// A name for a database object of the rebuild that no database of the session has yet.
std::string UnusedDatabaseName(const TABSSession& session, std::string_view prefix) {
    static std::mutex mutex;
    static std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> belowMillion(0, 999999);
    for (;;) {
        int number = 0;
        {
            std::lock_guard lock(mutex);
            number = belowMillion(random);
        }
        std::string name = std::string(prefix) + std::to_string(number);
        if (session.FindDatabase(name) == nullptr) return name;
    }
}

// Restores the properties of the repaired database that the rebuild changes for itself, and
// disconnects it, whichever way the rebuild ends.
class ConnectionOverride {
public:
    explicit ConnectionOverride(TABSDatabase& database)
        : database_(database), exclusive_(database.Exclusive()), silent_(database.SilentMode()),
          handleShared_(database.HandleShared()) {}
    ~ConnectionOverride() {
        try {
            database_.Close();
        } catch (const EABSError&) {
            // Nothing uses the connection but the rebuild; there is nothing left to close.
        }
        database_.SetExclusive(exclusive_);
        database_.SetSilentMode(silent_);
        database_.SetHandleShared(handleShared_);
    }
    ConnectionOverride(const ConnectionOverride&) = delete;
    ConnectionOverride& operator=(const ConnectionOverride&) = delete;

private:
    TABSDatabase& database_;
    bool exclusive_;
    bool silent_;
    bool handleShared_;
};

// Removes a file when it goes out of scope.
class FileRemover {
public:
    explicit FileRemover(std::string fileName) : fileName_(std::move(fileName)) {}
    ~FileRemover() {
        std::error_code ignored;
        std::filesystem::remove(fileName_, ignored);
    }
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;

private:
    std::string fileName_;
};

// Forces what the system holds of `path` (a file or a folder) to disk. Returns "" or the error.
std::string SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return path + ": " + std::strerror(errno);
    std::string error;
    if (::fsync(fd) != 0) error = path + ": " + std::strerror(errno);
    ::close(fd);
    return error;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Progress

TABSRepairProgress::TABSRepairProgress(TABSDatabase& database) : database_(database) {
    if (database_.Events().BeforeRepair) {
        database_.Events().BeforeRepair(database_);
    } else if (!database_.SilentMode()) {
        wait_ = std::make_unique<TABSWaitScope>(std::string(apierr::kRepairingMessage));
        (void)wait_->Progress(0);
    }
}

TABSRepairProgress::~TABSRepairProgress() {
    if (finished_) return;
    try {
        Finish();
    } catch (...) {
        // The rebuild failed already; that error is the one the caller gets.
    }
}

bool TABSRepairProgress::Report(int percent) {
    if (database_.Events().OnRepairProgress) {
        bool continueFlag = true;
        database_.Events().OnRepairProgress(database_, percent, continueFlag);
        return continueFlag;
    }
    return wait_ == nullptr || wait_->Progress(percent);
}

void TABSRepairProgress::Finish() {
    if (finished_) return;
    finished_ = true;
    if (wait_) {
        wait_.reset();
        return;
    }
    if (database_.Events().AfterRepair) database_.Events().AfterRepair(database_);
}

// ---------------------------------------------------------------------------------------------
// The rebuild

TABSDatabaseRepair::TABSDatabaseRepair(TABSDatabase& database, TABSSession& session, TABSRepairProgress& progress)
    : database_(database), session_(session), progress_(progress) {}

bool TABSDatabaseRepair::Run(const std::string& newFileName, std::string& log) {
    const std::string oldFileName = database_.EffectiveFileName();
    const std::string sourceCopy = newFileName + std::string(kSourceCopySuffix);
    // Prompts of nested opens (the copy of a file that needs repair needs it too) must not reach
    // the user: the question was asked once already.
    TABSQuietOpenScope quiet;

    // The damaged file, held exclusively so that no other connection changes it until the new
    // file has taken its place; it is not written.
    ConnectionOverride restore(database_);
    database_.SetHandleShared(false);
    database_.SetExclusive(true);
    database_.SetSilentMode(true);
    database_.SetConnected(true);
    if (!database_.FileSettings()) {
        RaiseError(apierr::kCannotConvert, apierr::kCannotConvertMsg, {oldFileName, std::string(kNoFileMsg)});
    }
    const TABSDatabaseFileInfo info = *database_.FileSettings();

    FileRemover removeCopy(sourceCopy);
    std::error_code copyError;
    std::filesystem::copy_file(oldFileName, sourceCopy, std::filesystem::copy_options::overwrite_existing, copyError);
    if (copyError) RaiseError(kCannotCreateFile, kCannotCreateFileMsg, {sourceCopy, copyError.value(), copyError.message()});

    TABSDatabase target;
    target.SetSessionName(session_.SessionName());
    target.SetDatabaseName(UnusedDatabaseName(session_, kTargetDatabasePrefix));
    target.SetDatabaseFileName(newFileName);
    target.SetPassword(database_.Password());
    target.SetMaxConnections(database_.MaxConnections());
    target.SetSilentMode(true);
    target.CreateDatabase(info.Encrypted ? info.Cipher : std::uint8_t{0}, info.PageSize, info.PageCountInExtent);
    target.SetConnected(true);

    TABSDatabase source;
    source.SetSessionName(session_.SessionName());
    source.SetDatabaseName(UnusedDatabaseName(session_, kSourceDatabasePrefix));
    source.SetDatabaseFileName(sourceCopy);
    source.SetPassword(database_.Password());
    source.SetExclusive(true);
    source.SetSilentMode(true);
    source.SetConnected(true);

    const std::vector<std::string> tables = source.Connection()->Tables()->TableNames();
    const int count = static_cast<int>(tables.size());
    for (int i = 0; i < count; ++i) {
        const int from = i * 100 / count;
        const int to = (i + 1) * 100 / count;
        if (!RebuildTable(source, tables[static_cast<std::size_t>(i)], newFileName, from, to, log)) return false;
    }
    source.Close();
    // 100 is the end whatever the handler answers: everything is copied.
    (void)progress_.Report(100);
    target.FlushBuffers();
    target.Close();
    return true;
}

bool TABSDatabaseRepair::RebuildTable(TABSDatabase& source, const std::string& tableName,
                                      const std::string& newFileName, int progressFrom, int progressTo,
                                      std::string& log) {
    // Repair mode: the storage layer finds the table's records by scanning the pages and rebuilds
    // its page index, counts and indexes from what it can read.
    try {
        TABSLocalSession& connection = *source.Connection();
        const TABSTableRepairReport report = connection.Tables()->RepairTable(connection.SessionID(), tableName);
        for (const std::string& message : report.Messages) log += message + "\r\n";
    } catch (const EABSError& error) {
        log += FormatMessage(kTableLostMsg, {tableName, std::string(error.what())});
        return true;
    }

    TABSTable table;
    table.SetSessionName(session_.SessionName());
    table.SetDatabaseName(source.DatabaseName());
    table.SetTableName(tableName);
    try {
        table.Open();
        table.Close();
    } catch (const EABSError& error) {
        log += FormatMessage(kTableLostMsg, {tableName, std::string(error.what())});
        return true;
    }

    // The table's progress is the rebuild's progress: no wait window of its own.
    table.TableEvents().BeforeCopy = [](TABSTable&) {};
    table.TableEvents().OnCopyProgress = [this](TABSTable&, int position, bool& continueCopy) {
        continueCopy = progress_.Report(position);
    };
    table.TableEvents().AfterCopy = [](TABSTable&) {};
    bool continueCopy = true;
    try {
        (void)table.CopyTable(tableName, log, progressTo, progressFrom, true, false, true, newFileName,
                              database_.Password(), continueCopy);
    } catch (const EABSError& error) {
        // Errors are ignored in the copy, so what still escapes it cost the whole table.
        log += FormatMessage(kTableLostMsg, {tableName, std::string(error.what())});
    }
    return continueCopy;
}

// ---------------------------------------------------------------------------------------------
// The swap

std::string ReplaceFileDurably(const std::string& newFile, const std::string& target) {
    if (std::string error = SyncPath(newFile, O_RDONLY); !error.empty()) return error;
    if (::rename(newFile.c_str(), target.c_str()) != 0) return target + ": " + std::strerror(errno);
    // The rename is durable only once the folder's entry is on disk. Its failure is not reported:
    // the new file has its name already, and calling the rebuild failed now would only lead the
    // caller to clean up a file that is in place.
    const std::filesystem::path folder = std::filesystem::absolute(std::filesystem::path(target)).parent_path();
    (void)SyncPath(folder.string(), O_RDONLY | O_DIRECTORY);
    return {};
}

} // namespace kova
