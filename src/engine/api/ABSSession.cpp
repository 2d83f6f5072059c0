#include "engine/api/ABSSession.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"

#include <algorithm>

namespace kova {

std::recursive_mutex& EngineLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

// ---------------------------------------------------------------------------------------------
// TABSSessionList

TABSSessionList& TABSSessionList::Instance() {
    // Never destroyed: sessions, databases and datasets that are static objects of the host
    // deregister themselves after main, in an order nobody controls.
    static TABSSessionList* list = [] {
        auto* made = new TABSSessionList;
        made->default_ = new TABSSession(TABSSession::DefaultTag{}, *made);
        return made;
    }();
    return *list;
}

TABSSession* TABSSessionList::FindSession(std::string_view name) const {
    std::lock_guard lock(EngineLock());
    if (name.empty()) return default_;
    for (TABSSession* session : sessions_) {
        if (!session->SessionName().empty() && SameName(session->SessionName(), name)) return session;
    }
    return nullptr;
}

TABSSession& TABSSessionList::GetSession(std::string_view name) const {
    TABSSession* session = FindSession(name);
    if (!session) RaiseError(apierr::kInvalidSessionName, apierr::kInvalidSessionNameMsg, {name});
    return *session;
}

std::vector<TABSSession*> TABSSessionList::Sessions() const {
    std::lock_guard lock(EngineLock());
    return sessions_;
}

std::vector<TABSDatabase*> TABSSessionList::AllDatabases() const {
    std::lock_guard lock(EngineLock());
    return databases_;
}

void TABSSessionList::AddSession(TABSSession& session) {
    std::lock_guard lock(EngineLock());
    sessions_.push_back(&session);
}

void TABSSessionList::RemoveSession(TABSSession& session) noexcept {
    std::lock_guard lock(EngineLock());
    std::erase(sessions_, &session);
}

void TABSSessionList::AddDatabase(TABSDatabase& database) {
    std::lock_guard lock(EngineLock());
    databases_.push_back(&database);
}

void TABSSessionList::RemoveDatabase(TABSDatabase& database) noexcept {
    std::lock_guard lock(EngineLock());
    std::erase(databases_, &database);
}

int TABSSessionList::TakeAutoSlot() {
    std::lock_guard lock(EngineLock());
    const auto free = std::find(autoSlots_.begin(), autoSlots_.end(), false);
    const auto slot = static_cast<int>(free - autoSlots_.begin());
    if (free == autoSlots_.end()) {
        autoSlots_.push_back(true);
    } else {
        *free = true;
    }
    return slot;
}

void TABSSessionList::ReleaseAutoSlot(int slot) noexcept {
    std::lock_guard lock(EngineLock());
    if (slot >= 0 && static_cast<std::size_t>(slot) < autoSlots_.size()) autoSlots_[static_cast<std::size_t>(slot)] = false;
}

// ---------------------------------------------------------------------------------------------
// TABSSession

TABSSession::TABSSession(TABSComponentOwner* owner) : TABSComponent(owner), list_(TABSSessionList::Instance()) {
    list_.AddSession(*this);
}

TABSSession::TABSSession(DefaultTag, TABSSessionList& list)
    : TABSComponent(nullptr), list_(list), sessionName_("Default"), isDefault_(true) {
    list_.sessions_.push_back(this);
}

TABSSession::~TABSSession() {
    try {
        CloseDatabases();
    } catch (const EABSError&) {
        // A dataset's close handler failed while the session goes away; the databases are
        // disconnected regardless by what follows.
    }
    temporaries_.clear();
    if (autoSlot_ >= 0) list_.ReleaseAutoSlot(autoSlot_);
    list_.RemoveSession(*this);
}

void TABSSession::SetSessionName(const std::string& name) {
    if (name == sessionName_) return;
    if (autoSessionName_) ComponentError(apierr::kAutoSessionActive);
    std::lock_guard lock(EngineLock());
    if (TABSSession* other = list_.FindSession(name); !name.empty() && other && other != this) {
        ComponentError(apierr::kDuplicateSessionName, {name});
    }
    // Its databases name the old name: they leave with it.
    SetActive(false);
    sessionName_ = name;
}

void TABSSession::SetActive(bool active) {
    if (!active) {
        CloseDatabases();
        active_ = false;
        return;
    }
    if (active_) return;
    if (sessionName_.empty()) ComponentError(apierr::kSessionNameMissing);
    if (!isDefault_) list_.DefaultSession().SetActive(true);
    if (onStartup_) onStartup_(*this);
    active_ = true;
}

void TABSSession::SetAutoSessionName(bool on) {
    if (on == autoSessionName_) return;
    autoSessionName_ = on;
    // The generated name stays when the switch goes off, and so does its slot, so that no other
    // session can be given the same name.
    if (on) ApplyAutoName();
}

void TABSSession::NameChanged() {
    if (autoSessionName_) ApplyAutoName();
}

void TABSSession::ApplyAutoName() {
    std::lock_guard lock(EngineLock());
    if (autoSlot_ < 0) autoSlot_ = list_.TakeAutoSlot();
    const std::string name = FormatMessage("%s_%d", {Name(), autoSlot_ + 1});
    if (name != sessionName_) {
        if (TABSSession* other = list_.FindSession(name); other && other != this) {
            ComponentError(apierr::kDuplicateSessionName, {name});
        }
        SetActive(false);
        sessionName_ = name;
    }
    if (Owner()) Owner()->ApplySessionName(sessionName_);
}

std::vector<TABSDatabase*> TABSSession::Databases() const {
    std::lock_guard lock(EngineLock());
    std::vector<TABSDatabase*> result;
    for (TABSDatabase* database : list_.AllDatabases()) {
        if (!database->Temporary() && list_.FindSession(database->SessionName()) == this) result.push_back(database);
    }
    for (const auto& temporary : temporaries_) result.push_back(temporary.get());
    return result;
}

TABSDatabase* TABSSession::FindDatabase(const std::string& databaseName) const {
    std::lock_guard lock(EngineLock());
    for (TABSDatabase* database : Databases()) {
        if (SameName(database->DatabaseName(), databaseName)) return database;
    }
    return nullptr;
}

void TABSSession::CloseDatabases() {
    std::lock_guard lock(EngineLock());
    for (TABSDatabase* database : Databases()) {
        if (database->Temporary()) continue;
        database->Close();
    }
    while (!temporaries_.empty()) DestroyTemporary(*temporaries_.back());
}

TABSDatabase& TABSSession::MakeTemporaryDatabase(const std::string& databaseName) {
    std::lock_guard lock(EngineLock());
    temporaries_.push_back(std::unique_ptr<TABSDatabase>(new TABSDatabase(TABSDatabase::TemporaryTag{}, *this, databaseName)));
    return *temporaries_.back();
}

bool TABSSession::OwnsTemporary(const TABSDatabase& database) const noexcept {
    return std::any_of(temporaries_.begin(), temporaries_.end(),
                       [&](const auto& temporary) { return temporary.get() == &database; });
}

void TABSSession::DestroyTemporary(TABSDatabase& database) noexcept {
    std::lock_guard lock(EngineLock());
    const auto found = std::find_if(temporaries_.begin(), temporaries_.end(),
                                    [&](const auto& temporary) { return temporary.get() == &database; });
    if (found == temporaries_.end()) return;
    // Out of the list first: closing runs dataset handlers, which must not find it again.
    std::unique_ptr<TABSDatabase> doomed = std::move(*found);
    temporaries_.erase(found);
    try {
        doomed->Close();
    } catch (const EABSError&) {
        // A dataset's close handler failed; the database goes regardless (its destructor drops
        // the connection).
    }
}

} // namespace kova
