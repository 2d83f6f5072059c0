#include "engine/storage/ABSTableLocks.h"

#include <chrono>
#include <thread>

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSDiskPageManager.h"

namespace kova {

namespace {

// Row: kind another session holds; column: kind requested.
constexpr int kCompatibility[kTableLockKindCount][kTableLockKindCount] = {
    {1, 1, 1, 1, 1, 1, 0},
    {1, 1, 1, 1, 0, 1, 0},
    {1, 1, 1, 0, 1, 1, 0},
    {1, 1, 0, 0, 0, 1, 0},
    {1, 0, 1, 0, 0, 1, 0},
    {1, 1, 1, 1, 1, 1, 0},
    {0, 0, 0, 0, 0, 0, 0},
};

[[nodiscard]] bool IsByteKind(int kind) noexcept { return kind >= 0 && kind < kTableLockExclusive; }

} // namespace

// ---------------------------------------------------------------------------------------------
// Lock file

TABSTableLocksFile::TABSTableLocksFile(TABSDiskPageManager& pageManager) noexcept
    : file_(pageManager, TABSPageType::TableLocks) {}

void TABSTableLocksFile::Create(TABSSessionID session, std::int32_t maxConnections) {
    file_.CreateFile(session, maxConnections * kBytesPerSlot);
}

void TABSTableLocksFile::Open(TABSPageNo firstPageNo) { file_.OpenFile(firstPageNo); }

bool TABSTableLocksFile::LockKind(int kind, std::int32_t slot) { return file_.LockByte(KindByte(kind, slot)); }

bool TABSTableLocksFile::UnlockKind(int kind, std::int32_t slot) { return file_.UnlockByte(KindByte(kind, slot)); }

bool TABSTableLocksFile::IsKindHeldByOthers(int kind, std::int32_t slot) {
    const std::int32_t slots = SlotCount();
    const std::int32_t first = kind * slots;
    // The slots below and above the caller's own byte.
    if (slot > 0 && file_.IsRegionLocked(first, slot)) return true;
    return slot + 1 < slots && file_.IsRegionLocked(first + slot + 1, slots - slot - 1);
}

void TABSTableLocksFile::WriteLockedRecordId(std::int32_t slot, std::span<const std::uint8_t, kRecordIdSize> recordId) {
    file_.DirectWriteBuffer(6 * SlotCount() + kRecordIdSize * slot, recordId);
}

std::array<std::uint8_t, TABSTableLocksFile::kRecordIdSize> TABSTableLocksFile::ReadLockedRecordId(std::int32_t slot) {
    std::array<std::uint8_t, kRecordIdSize> recordId{};
    file_.DirectReadBuffer(6 * SlotCount() + kRecordIdSize * slot, recordId);
    return recordId;
}

// ---------------------------------------------------------------------------------------------
// Lock manager

TABSDatabaseTableLockManager::TABSDatabaseTableLockManager(bool multiUser, Sleeper sleeper)
    : multiUser_(multiUser), sleeper_(std::move(sleeper)), random_(std::random_device{}()) {}

bool TABSDatabaseTableLockManager::IsCompatible(int heldKind, int requestedKind) noexcept {
    if (heldKind < 0 || heldKind >= kTableLockKindCount || requestedKind < 0 || requestedKind >= kTableLockKindCount) {
        return false;
    }
    return kCompatibility[heldKind][requestedKind] != 0;
}

int TABSDatabaseTableLockManager::NextPause() {
    std::uniform_int_distribution<int> pause(basePause_ / 2, std::max(basePause_ / 2, basePause_ - 1));
    return pause(random_);
}

void TABSDatabaseTableLockManager::Sleep(int milliseconds) {
    if (sleeper_) {
        sleeper_(milliseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

bool TABSDatabaseTableLockManager::TryLock(TABSTableLocksFile& file, std::int32_t slot, int kind, bool ignoreWriteLock) {
    if (!file.LockFile()) return false;
    bool blocked = false;
    for (int held = 0; held < kTableLockExclusive && !blocked; ++held) {
        if (IsCompatible(held, kind)) continue;
        if (ignoreWriteLock && kind == 3 && held == kTableLockWrite) continue;
        blocked = file.IsKindHeldByOthers(held, slot);
    }
    if (!blocked && IsByteKind(kind)) blocked = !file.LockKind(kind, slot);
    // The exclusive holder keeps the file lock: it is what keeps everybody else out.
    if (blocked || kind != kTableLockExclusive) (void)file.UnlockFile();
    return !blocked;
}

bool TABSDatabaseTableLockManager::LockTable(TABSTableLocksFile& file, std::int32_t tableId, TABSSessionID session,
                                             int kind, int attempts, bool ignoreWriteLock) {
    if (!multiUser_) return true;
    if (session < 0 || session >= file.SlotCount()) {
        RaiseError(kTableLockSlotError,
                   "Cannot set table lock. Try to repair database or to increase number of allowed connections");
    }
    std::unique_lock lock(mutex_);
    const Key key{tableId, session, kind};
    if (auto found = held_.find(key); found != held_.end()) {
        ++found->second.Count;
        return true;
    }
    // The session's own exclusive lock keeps everybody else out and holds the file lock the
    // protocol would ask for: its own byte can be taken directly.
    if (held_.contains(Key{tableId, session, kTableLockExclusive})) {
        if (!file.LockKind(kind, session)) return false;
        held_[key] = {&file, 1};
        return true;
    }
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (TryLock(file, session, kind, ignoreWriteLock)) {
            held_[key] = {&file, 1};
            return true;
        }
        if (attempt < attempts) {
            // Other threads of the process may take and give back locks meanwhile.
            const int milliseconds = NextPause();
            lock.unlock();
            Sleep(milliseconds);
            lock.lock();
        }
    }
    return false;
}

bool TABSDatabaseTableLockManager::ReleaseHeld(TABSTableLocksFile& file, std::int32_t slot, int kind) {
    return kind == kTableLockExclusive ? file.UnlockFile() : file.UnlockKind(kind, slot);
}

bool TABSDatabaseTableLockManager::UnlockTable(TABSTableLocksFile& file, std::int32_t tableId, TABSSessionID session,
                                               int kind) {
    if (!multiUser_) return true;
    std::lock_guard lock(mutex_);
    const auto found = held_.find(Key{tableId, session, kind});
    if (found == held_.end()) return false;
    if (--found->second.Count > 0) return true;
    held_.erase(found);
    return ReleaseHeld(file, session, kind);
}

int TABSDatabaseTableLockManager::HeldCount(std::int32_t tableId, TABSSessionID session, int kind) const {
    std::lock_guard lock(mutex_);
    const auto found = held_.find(Key{tableId, session, kind});
    return found == held_.end() ? 0 : found->second.Count;
}

void TABSDatabaseTableLockManager::ReleaseSession(TABSSessionID session) noexcept {
    std::lock_guard lock(mutex_);
    for (auto it = held_.begin(); it != held_.end();) {
        if (std::get<1>(it->first) == session) {
            try {
                (void)ReleaseHeld(*it->second.File, session, std::get<2>(it->first));
            } catch (const EABSError&) {
                // The file went away under the lock; the operating system drops its locks anyway.
            }
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
}

void TABSDatabaseTableLockManager::ReleaseTable(std::int32_t tableId) noexcept {
    std::lock_guard lock(mutex_);
    for (auto it = held_.begin(); it != held_.end();) {
        if (std::get<0>(it->first) == tableId) {
            try {
                (void)ReleaseHeld(*it->second.File, std::get<1>(it->first), std::get<2>(it->first));
            } catch (const EABSError&) {
            }
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace kova
