// Table locks between connections: one lock file per table and the process's lock manager.
//
// A table's lock file is a direct internal file of TableLocks pages, N × 12 bytes for N
// connection slots. With s = a session's slot:
//   byte t × N + s        session s's lock target for lock kind t (t = 0 … 4)
//   byte 5 × N + s        its record-lock target (lock kind 5)
//   bytes 6 × N + 6 × s   the 6-byte id of the record it has locked
// Lock kind 6 (exclusive) takes no byte: its holder keeps the file lock (the first byte of the
// file's first page), so nobody else can take any lock on the table meanwhile.
//
// Which kinds may be held together (row: kind another session holds, column: kind requested;
// 1 = compatible):
//
//        0  1  2  3  4  5  6
//     0  1  1  1  1  1  1  0
//     1  1  1  1  1  0  1  0
//     2  1  1  1  0  1  1  0
//     3  1  1  0  0  0  1  0
//     4  1  0  1  0  0  1  0
//     5  1  1  1  1  1  1  0
//     6  0  0  0  0  0  0  0
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <tuple>

#include "engine/storage/ABSInternalFiles.h"

namespace kova {

inline constexpr int kTableLockKindCount = 7;
// The kinds the engine names: a cursor has the table open, a commit writes the table, a record
// lock, exclusive use.
inline constexpr int kTableLockOpen = 0;
inline constexpr int kTableLockWrite = 2;
inline constexpr int kTableLockRecord = 5;
inline constexpr int kTableLockExclusive = 6;

// Tries of a table lock request and the base b of the random pause (b/2 … b-1 ms) between tries.
inline constexpr int kTableLockAttemptsAtOpen = 50;
inline constexpr int kTableLockAttemptsAtCommit = 900;
inline constexpr int kTableLockBasePauseMilliseconds = 100;

inline constexpr int kTableLockSlotError = 20200;

class TABSTableLocksFile {
public:
    static constexpr std::int32_t kBytesPerSlot = 12;
    static constexpr std::int32_t kRecordIdSize = 6;

    explicit TABSTableLocksFile(TABSDiskPageManager& pageManager) noexcept;

    // Makes a lock file for `maxConnections` slots in `session`.
    void Create(TABSSessionID session, std::int32_t maxConnections);
    void Open(TABSPageNo firstPageNo);
    void Close() noexcept { file_.CloseFile(); }
    void Delete(TABSSessionID session) { file_.DeleteFile(session); }
    [[nodiscard]] bool IsOpen() const noexcept { return file_.IsOpen(); }
    [[nodiscard]] TABSPageNo FirstPageNo() const noexcept { return file_.FirstPageNo(); }

    [[nodiscard]] std::int32_t SlotCount() const { return file_.GetSize() / kBytesPerSlot; }

    [[nodiscard]] bool LockFile() { return file_.LockFile(); }
    [[nodiscard]] bool UnlockFile() { return file_.UnlockFile(); }

    // Lock targets of kinds 0 … 5. REQUIRES: 0 <= kind <= 5, 0 <= slot < SlotCount().
    [[nodiscard]] bool LockKind(int kind, std::int32_t slot);
    [[nodiscard]] bool UnlockKind(int kind, std::int32_t slot);
    // Whether a session other than `slot` (of any process, this one included) holds `kind`.
    [[nodiscard]] bool IsKindHeldByOthers(int kind, std::int32_t slot);

    void WriteLockedRecordId(std::int32_t slot, std::span<const std::uint8_t, kRecordIdSize> recordId);
    [[nodiscard]] std::array<std::uint8_t, kRecordIdSize> ReadLockedRecordId(std::int32_t slot);

private:
    [[nodiscard]] std::int32_t KindByte(int kind, std::int32_t slot) const { return kind * SlotCount() + slot; }

    TABSInternalDBDirectAccessFile file_;
};

// The table locks of all sessions of this process on one database. In single-user mode every
// request succeeds at once (the process has the file to itself, or reads it only).
class TABSDatabaseTableLockManager {
public:
    using Sleeper = std::function<void(int milliseconds)>;

    // `sleeper` waits between tries (a real sleep when empty); tests count the pauses through it.
    explicit TABSDatabaseTableLockManager(bool multiUser, Sleeper sleeper = {});

    [[nodiscard]] static bool IsCompatible(int heldKind, int requestedKind) noexcept;

    // Takes lock `kind` on the table for `session` (its slot), trying up to `attempts` times with
    // a random pause of b/2 … b-1 ms between tries. A request for kind 3 ignores another
    // session's kind 2 when `ignoreWriteLock` is set. A lock the session holds already is counted
    // again. Raises 20200 when the slot is outside the file's slots; false when the tries ran out.
    [[nodiscard]] bool LockTable(TABSTableLocksFile& file, std::int32_t tableId, TABSSessionID session, int kind,
                                 int attempts, bool ignoreWriteLock = false);
    // Gives one count of the lock back; the byte (or for kind 6 the file lock) is released with
    // the last. False when the session did not hold it or the release failed.
    [[nodiscard]] bool UnlockTable(TABSTableLocksFile& file, std::int32_t tableId, TABSSessionID session, int kind);

    // How often `session` holds `kind` on the table (0: not at all).
    [[nodiscard]] int HeldCount(std::int32_t tableId, TABSSessionID session, int kind) const;
    // Releases every lock of `session` (disconnect).
    void ReleaseSession(TABSSessionID session) noexcept;
    // Releases every lock on the table (the table is dropped); its lock file must still be open.
    void ReleaseTable(std::int32_t tableId) noexcept;

    [[nodiscard]] bool IsMultiUser() const noexcept { return multiUser_; }
    void SetBasePause(int milliseconds) noexcept { basePause_ = milliseconds; }

private:
    using Key = std::tuple<std::int32_t, TABSSessionID, int>;  // table id, session, kind
    struct Held {
        TABSTableLocksFile* File = nullptr;
        int Count = 0;
    };

    [[nodiscard]] bool TryLock(TABSTableLocksFile& file, std::int32_t slot, int kind, bool ignoreWriteLock);
    [[nodiscard]] static bool ReleaseHeld(TABSTableLocksFile& file, std::int32_t slot, int kind);
    // A random pause of b/2 … b-1 ms (drawn under the lock), and the wait itself (outside it).
    [[nodiscard]] int NextPause();
    void Sleep(int milliseconds);

    bool multiUser_;
    Sleeper sleeper_;
    int basePause_ = kTableLockBasePauseMilliseconds;
    std::mt19937 random_;
    mutable std::mutex mutex_;
    std::map<Key, Held> held_;
};

} // namespace kova
