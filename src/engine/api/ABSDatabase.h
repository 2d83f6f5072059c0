// A database connection component: the alias by which datasets name a database file, the
// properties its connection is made from, and the connection itself.
//
//   disconnected ──Connected := true / first dataset that needs it──> connected
//        ^                                                               │
//        └── Close, Connected := false, a new DatabaseFileName, its ─────┘
//            session deactivated, or (KeepConnection off) its last dataset closing
//
// Disconnecting closes every dataset registered on the database first. While connected the
// database counts the datasets that use it (the reference count) and keeps them registered.
//
// Temporary databases are the ones a session makes on its own for a dataset whose
// DatabaseName no TABSDatabase provides; they are SilentMode, take KeepConnection from the
// session, and are destroyed instead of disconnected when their last dataset closes.
//
// Names in the file: a database without DatabaseFileName uses its DatabaseName as the file
// name, so a dataset can name a file directly. "MEMORY" and "TEMP" are the pseudo databases.
#pragma once

#include "engine/api/ABSComponent.h"
#include "engine/api/ABSDatabaseDataList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kova {

class TABSDataSet;
class TABSSession;
class TABSSessionList;

class TABSDatabase;
using TABSDatabaseNotifyEvent = std::function<void(TABSDatabase&)>;
// A progress event: percentage 0..100 and the continue flag (true on entry).
using TABSDatabaseProgressEvent = std::function<void(TABSDatabase&, int percent, bool& continueFlag)>;

struct TABSDatabaseEvents {
    // A wrong password: set `retry` to try again (after changing Password).
    std::function<void(TABSDatabase&, bool& retry)> OnPassword;
    // The file needs a repair: set `repair` to rebuild it.
    std::function<void(TABSDatabase&, bool& repair)> OnNeedRepair;
    TABSDatabaseNotifyEvent BeforeRepair;
    TABSDatabaseProgressEvent OnRepairProgress;
    TABSDatabaseNotifyEvent AfterRepair;
    TABSDatabaseNotifyEvent BeforeCompact;
    TABSDatabaseProgressEvent OnCompactProgress;
    TABSDatabaseNotifyEvent AfterCompact;
    TABSDatabaseNotifyEvent BeforeChangePassword;
    TABSDatabaseProgressEvent OnChangePasswordProgress;
    TABSDatabaseNotifyEvent AfterChangePassword;
    TABSDatabaseNotifyEvent BeforeChangeDatabaseSettings;
    TABSDatabaseProgressEvent OnChangeDatabaseSettingsProgress;
    TABSDatabaseNotifyEvent AfterChangeDatabaseSettings;
};

// Rebuilds a database file into `newFileName`. Called on the disconnected database with prompts
// suppressed; returns whether the rebuild succeeded and fills `log` with the problems met (or the
// reason of the failure).
using TABSDatabaseRebuilder = std::function<bool(TABSDatabase& database, const std::string& newFileName, std::string& log)>;
// Installs the process-wide rebuilder that connecting uses for a file that needs repair; returns
// the one installed before. The process starts with TABSDatabase::RepairDatabase; an empty
// function leaves connecting without a rebuild (it then fails with 20238).
TABSDatabaseRebuilder SetDatabaseRebuilder(TABSDatabaseRebuilder rebuilder);
// The rebuilder the process starts with: `database.RepairDatabase(newFileName, log)`.
[[nodiscard]] TABSDatabaseRebuilder DefaultDatabaseRebuilder();

class TABSDatabase : public TABSComponent {
public:
    // The engine's version as the component reports it.
    static constexpr std::string_view kCurrentVersion = "5.14 ";

    explicit TABSDatabase(TABSComponentOwner* owner = nullptr);
    ~TABSDatabase() override;

    // ---- Connection ----
    [[nodiscard]] bool Connected() const noexcept { return connection_ != nullptr; }
    // true connects (the errors of connecting pass; the database stays disconnected); false closes.
    void SetConnected(bool connected);
    void Open() { SetConnected(true); }
    // Closes every registered dataset (queries first, closed and unprepared), drops the
    // connection and sets the reference count to 0. Nothing happens when not connected.
    void Close();
    // Requires a connection ("Cannot perform this operation on a closed database"); commits
    // pending pages and makes the system write the file to disk (30379 on failure).
    void FlushBuffers();
    // Creates the database file with Password, MaxConnections and the given layout (an existing
    // file is replaced). Requires a disconnected database and a file name.
    void CreateDatabase(std::uint8_t cipher = 0, std::uint16_t pageSize = FileHeader::kDefaultPageSize,
                        std::uint16_t pageCountInExtent = FileHeader::kDefaultPageCountInExtent);
    // Rebuilds this database's file into `newFileName` (an existing file of that name is
    // replaced): every table is mended in repair mode and copied with its indexes into a new file
    // with the same password, cipher, page size, pages per extent and MaxConnections. The old file
    // is held exclusively and left unchanged. Requires a name ("Database name missing") and a
    // disconnected database ("Cannot perform this operation on an open database"). Progress goes
    // to BeforeRepair / OnRepairProgress / AfterRepair, or to the host's wait window ("Repairing
    // Database...") when BeforeRepair is not set and SilentMode is off. `log` is emptied and then
    // receives one line per problem (records, values and tables that could not be read, rows that
    // could not be copied). Returns false when the progress asked to stop ("Terminated by User."
    // ends the log then); errors that make the rebuild impossible pass on. Swapping the files is
    // the caller's (connecting does it; see ReplaceFileDurably in ABSRepair.h).
    [[nodiscard]] bool RepairDatabase(const std::string& newFileName, std::string& log);

    // ---- Properties ----
    [[nodiscard]] std::string_view CurrentVersion() const noexcept { return kCurrentVersion; }
    [[nodiscard]] const std::string& DatabaseFileName() const noexcept { return databaseFileName_; }
    // A different text (exact comparison) disconnects first.
    void SetDatabaseFileName(const std::string& fileName);
    [[nodiscard]] const std::string& DatabaseName() const noexcept { return databaseName_; }
    // A different name disconnects first.
    void SetDatabaseName(const std::string& name);
    [[nodiscard]] const std::string& SessionName() const noexcept { return sessionName_; }
    // A different name disconnects first.
    void SetSessionName(const std::string& name);
    [[nodiscard]] const std::string& Password() const noexcept { return password_; }
    void SetPassword(const std::string& password) { password_ = password; }
    [[nodiscard]] bool Exclusive() const noexcept { return exclusive_; }
    void SetExclusive(bool exclusive) noexcept { exclusive_ = exclusive; }
    [[nodiscard]] bool ReadOnly() const noexcept { return readOnly_; }
    void SetReadOnly(bool readOnly) noexcept { readOnly_ = readOnly; }
    [[nodiscard]] bool HandleShared() const noexcept { return handleShared_; }
    void SetHandleShared(bool handleShared) noexcept { handleShared_ = handleShared; }
    [[nodiscard]] bool KeepConnection() const noexcept { return keepConnection_; }
    // Off while no dataset uses the database disconnects it.
    void SetKeepConnection(bool keep);
    [[nodiscard]] std::int32_t MaxConnections() const noexcept { return maxConnections_; }
    void SetMaxConnections(std::int32_t maxConnections) noexcept { maxConnections_ = maxConnections; }
    [[nodiscard]] bool MultiUser() const noexcept { return multiUser_; }
    void SetMultiUser(bool multiUser) noexcept { multiUser_ = multiUser; }
    [[nodiscard]] bool SilentMode() const noexcept { return silentMode_; }
    void SetSilentMode(bool silent) noexcept { silentMode_ = silent; }
    [[nodiscard]] bool DisableTempFiles() const noexcept { return disableTempFiles_; }
    void SetDisableTempFiles(bool disable) noexcept { disableTempFiles_ = disable; }

    [[nodiscard]] TABSDatabaseEvents& Events() noexcept { return events_; }

    // ---- State ----
    // Made by a session for a dataset (see above).
    [[nodiscard]] bool Temporary() const noexcept { return temporary_; }
    // Datasets currently using the database.
    [[nodiscard]] int ReferenceCount() const noexcept { return refCount_; }
    [[nodiscard]] const std::vector<TABSDataSet*>& DataSets() const noexcept { return dataSets_; }
    // The session the database attached itself to when it connected; nullptr while disconnected.
    [[nodiscard]] TABSSession* Session() const noexcept { return connection_ ? session_ : nullptr; }
    // The connection; nullptr while disconnected.
    [[nodiscard]] TABSLocalSession* Connection() const noexcept { return connection_.get(); }
    // The file this database connects to: DatabaseFileName, or DatabaseName when that is empty.
    [[nodiscard]] const std::string& EffectiveFileName() const noexcept {
        return databaseFileName_.empty() ? databaseName_ : databaseFileName_;
    }
    [[nodiscard]] bool IsPseudoDatabase() const;
    // Layout of the open file as found at connect time (nothing for the pseudo databases).
    [[nodiscard]] const std::optional<TABSDatabaseFileInfo>& FileSettings() const noexcept { return fileSettings_; }

protected:
    void OwnerSessionNameChanged(const std::string& sessionName) override;

private:
    friend class TABSSession;
    friend class TABSDataSet;

    struct TemporaryTag {};
    TABSDatabase(TemporaryTag, TABSSession& session, const std::string& databaseName);

    void Connect();
    // Steps of connecting.
    [[nodiscard]] TABSSession& AttachSession();
    [[nodiscard]] bool BorrowSharedConnection(TABSSession& session);
    [[nodiscard]] std::shared_ptr<TABSLocalSession> ConnectWithPasswordRetry(TABSSession& session);
    [[nodiscard]] bool AskForPassword();
    [[nodiscard]] bool WantsRepair(const TABSLocalSession& connection);
    void Rebuild();
    void DropConnection() noexcept;

    // A dataset starts / stops using the database.
    void AddReference(TABSDataSet& dataSet);
    void ReleaseReference(TABSDataSet& dataSet);

    TABSSessionList& list_;
    std::string databaseFileName_;
    std::string databaseName_;
    std::string sessionName_;
    std::string password_;
    bool exclusive_ = false;
    bool readOnly_ = false;
    bool handleShared_ = false;
    bool keepConnection_ = true;
    std::int32_t maxConnections_ = kDefaultMaxConnections;
    bool multiUser_ = false;
    bool silentMode_ = false;
    bool disableTempFiles_ = false;
    TABSDatabaseEvents events_;

    bool temporary_ = false;
    TABSSession* session_ = nullptr;
    std::shared_ptr<TABSLocalSession> connection_;
    std::optional<TABSDatabaseFileInfo> fileSettings_;
    int refCount_ = 0;
    std::vector<TABSDataSet*> dataSets_;
    bool closingDataSets_ = false;
};

} // namespace kova
