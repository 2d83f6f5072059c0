// The sessions file: one byte per allowed connection, a direct internal file of
// ActiveSessionList pages. The bytes are never written; a connection holds a byte-range lock on
// its byte for as long as it is connected, so the locks themselves are the list of sessions
// of every process that has the database open.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/storage/ABSInternalFiles.h"

namespace kova {

class TABSActiveSessionsFile {
public:
    explicit TABSActiveSessionsFile(TABSDiskPageManager& pageManager) noexcept;

    // Makes a file of `maxConnections` bytes in `session`.
    void Create(TABSSessionID session, std::int32_t maxConnections);
    void Open(TABSPageNo firstPageNo);
    void Close() noexcept { file_.CloseFile(); }
    [[nodiscard]] bool IsOpen() const noexcept { return file_.IsOpen(); }
    [[nodiscard]] TABSPageNo FirstPageNo() const noexcept { return file_.FirstPageNo(); }

    // Usable connection slots: the smaller of the header's size and the bytes of the chain.
    [[nodiscard]] std::int32_t SlotCount() const { return file_.GetSize(); }

    // The file lock (first byte of the first page) serialises the search for a free slot.
    [[nodiscard]] bool LockFile() { return file_.LockFile(); }
    [[nodiscard]] bool UnlockFile() { return file_.UnlockFile(); }

    [[nodiscard]] bool LockSlot(std::int32_t slot) { return file_.LockByte(slot); }
    [[nodiscard]] bool UnlockSlot(std::int32_t slot) { return file_.UnlockByte(slot); }
    [[nodiscard]] bool IsSlotLocked(std::int32_t slot) { return file_.IsByteLocked(slot); }

    // Locks the lowest slot nobody holds (this process included) and returns it; nothing when
    // every slot is held. REQUIRES: the file lock is held.
    [[nodiscard]] std::optional<std::int32_t> LockFirstFreeSlot();

    // Single-user mode works on all slots at once.
    [[nodiscard]] bool IsAnySlotLocked() { return file_.IsRegionLocked(0, SlotCount()); }
    [[nodiscard]] bool LockAllSlots() { return file_.LockRegion(0, SlotCount()); }
    [[nodiscard]] bool UnlockAllSlots() { return file_.UnlockRegion(0, SlotCount()); }

private:
    TABSInternalDBDirectAccessFile file_;
};

} // namespace kova
