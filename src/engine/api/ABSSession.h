// Sessions: named groups of database connections, and the process-wide list that finds them.
//
// Every session of the process is in TABSSessionList from construction to destruction; names
// are unique in the process and compared ignoring case. The list starts with the session
// "Default", which a dataset or database with an empty SessionName uses and which is activated
// before any other session becomes active.
//
// A session's databases are the TABSDatabase objects whose SessionName names it (the list keeps
// all databases of the process), plus the temporary databases it makes itself when a dataset
// names a database that no TABSDatabase provides. Those it owns and destroys.
//
//   inactive ──Active := true / first use by a database──> active
//      ^                                                      │
//      └──── Active := false (its databases close) ───────────┘
//
// The engine lock (EngineLock) guards the session list, session activation and the databases
// of the sessions. It is recursive; callbacks into the host never run while the list's own
// bookkeeping is half done.
#pragma once

#include "engine/api/ABSComponent.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kova {

class TABSDatabase;
class TABSSessionList;

// The engine-wide lock.
[[nodiscard]] std::recursive_mutex& EngineLock();

class TABSSession : public TABSComponent {
public:
    using StartupEvent = std::function<void(TABSSession&)>;

    explicit TABSSession(TABSComponentOwner* owner = nullptr);
    ~TABSSession() override;

    [[nodiscard]] const std::string& SessionName() const noexcept { return sessionName_; }
    // Fails with "Duplicate session name '%s'" when another session has the name, and while
    // AutoSessionName is on. A new name closes the session first (its databases name the old one).
    void SetSessionName(const std::string& name);

    [[nodiscard]] bool Active() const noexcept { return active_; }
    // true: "Session name missing" without a name; activates the default session first, then
    // runs OnStartup. false: closes every database of the session (temporary ones are destroyed).
    void SetActive(bool active);

    // Copied into every database the session makes on its own. Default true.
    [[nodiscard]] bool KeepConnections() const noexcept { return keepConnections_; }
    void SetKeepConnections(bool keep) noexcept { keepConnections_ = keep; }

    // On: the session is named "<component name>_<n>" (n one more than the lowest free slot of
    // the process) and the databases and datasets of the same owner take that name.
    [[nodiscard]] bool AutoSessionName() const noexcept { return autoSessionName_; }
    void SetAutoSessionName(bool on);

    // Called with the session just before it becomes active.
    void SetOnStartup(StartupEvent handler) { onStartup_ = std::move(handler); }

    [[nodiscard]] bool IsDefault() const noexcept { return isDefault_; }

    // The databases of this session, explicit ones first, in creation order.
    [[nodiscard]] std::vector<TABSDatabase*> Databases() const;
    // The first database of this session with that DatabaseName (ignoring case), or nullptr.
    [[nodiscard]] TABSDatabase* FindDatabase(const std::string& databaseName) const;
    [[nodiscard]] std::size_t TemporaryDatabaseCount() const noexcept { return temporaries_.size(); }

protected:
    void NameChanged() override;

private:
    friend class TABSSessionList;
    friend class TABSDatabase;
    friend class TABSDataSet;

    struct DefaultTag {};
    TABSSession(DefaultTag, TABSSessionList& list);

    void CloseDatabases();
    void ApplyAutoName();
    // A database made for a dataset that names no existing database.
    [[nodiscard]] TABSDatabase& MakeTemporaryDatabase(const std::string& databaseName);
    // Destroys a temporary database of this session (closing it first).
    void DestroyTemporary(TABSDatabase& database) noexcept;
    [[nodiscard]] bool OwnsTemporary(const TABSDatabase& database) const noexcept;

    TABSSessionList& list_;
    std::string sessionName_;
    bool active_ = false;
    bool keepConnections_ = true;
    bool autoSessionName_ = false;
    bool isDefault_ = false;
    int autoSlot_ = -1;
    StartupEvent onStartup_;
    std::vector<std::unique_ptr<TABSDatabase>> temporaries_;
};

class TABSSessionList {
public:
    // The process's list; made with the "Default" session on first use, never destroyed.
    [[nodiscard]] static TABSSessionList& Instance();

    [[nodiscard]] TABSSession& DefaultSession() noexcept { return *default_; }
    // The session of that name (ignoring case); the default session for an empty name; nullptr
    // when there is none.
    [[nodiscard]] TABSSession* FindSession(std::string_view name) const;
    // The same, failing with 20002 "Invalid session name '%s'".
    [[nodiscard]] TABSSession& GetSession(std::string_view name) const;
    [[nodiscard]] std::vector<TABSSession*> Sessions() const;

    // Every TABSDatabase of the process (explicit and temporary).
    [[nodiscard]] std::vector<TABSDatabase*> AllDatabases() const;

private:
    friend class TABSSession;
    friend class TABSDatabase;

    TABSSessionList() = default;

    void AddSession(TABSSession& session);
    void RemoveSession(TABSSession& session) noexcept;
    void AddDatabase(TABSDatabase& database);
    void RemoveDatabase(TABSDatabase& database) noexcept;
    // Lowest free slot of the automatic session names, taken.
    [[nodiscard]] int TakeAutoSlot();
    void ReleaseAutoSlot(int slot) noexcept;

    std::vector<TABSSession*> sessions_;
    std::vector<TABSDatabase*> databases_;
    std::vector<bool> autoSlots_;
    TABSSession* default_ = nullptr;
};

} // namespace kova
