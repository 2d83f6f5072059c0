#include "engine/storage/ABSActiveSessions.h"

#include "engine/storage/ABSDiskPageManager.h"

namespace kova {

TABSActiveSessionsFile::TABSActiveSessionsFile(TABSDiskPageManager& pageManager) noexcept
    : file_(pageManager, TABSPageType::ActiveSessionList) {}

void TABSActiveSessionsFile::Create(TABSSessionID session, std::int32_t maxConnections) {
    file_.CreateFile(session, maxConnections);
}

void TABSActiveSessionsFile::Open(TABSPageNo firstPageNo) { file_.OpenFile(firstPageNo); }

std::optional<std::int32_t> TABSActiveSessionsFile::LockFirstFreeSlot() {
    const std::int32_t slots = SlotCount();
    for (std::int32_t slot = 0; slot < slots; ++slot) {
        // A lock request fails at once when anybody (this process too) holds the byte.
        if (file_.LockByte(slot)) return slot;
    }
    return std::nullopt;
}

} // namespace kova
