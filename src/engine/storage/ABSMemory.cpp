// The engine's memory manager.
#include "engine/storage/ABSMemory.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <utility>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

namespace kova {

namespace L = MemoryBlockLayout;

namespace {

[[nodiscard]] std::uint8_t* FrontOf(const void* block) noexcept {
    return const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(block)) - L::kFrontHeaderSize;
}

[[nodiscard]] bool FrontGuardValid(const void* block) noexcept {
    return ReadU32(FrontOf(block) + L::kFrontGuardOffset) == L::kFrontGuard;
}

} // namespace

std::uint64_t SystemAvailableMemory() noexcept {
    try {
        std::ifstream meminfo("/proc/meminfo");
        std::string line;
        while (std::getline(meminfo, line)) {
            if (line.rfind("MemAvailable:", 0) != 0)
                continue;
            std::istringstream fields(line.substr(13));
            std::uint64_t kib = 0;
            if (fields >> kib)
                return kib * 1024;
        }
    } catch (...) {
        // Fall through to sysinfo.
    }
    struct sysinfo info {};
    if (::sysinfo(&info) != 0)
        return 0;
    return (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
}

void* TABSMemoryManager::Allocate(std::size_t size) {
    if (size == 0)
        RaiseError(kZeroAllocationError, "Cannot allocate 0 bytes");
    const std::size_t maxRequest = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) -
                                   L::kFrontHeaderSize - L::kTrailingGuardSize;
    if (size > maxRequest)
        RaiseError(kGetMemError, "GetMem error: %s", {"block too large"});
    {
        std::lock_guard lock(mutex_);
        if (limit_ != 0 && total_ + static_cast<std::int64_t>(size) > limit_)
            RaiseError(kMemoryLimitExceededError, "Memory limit exceeded (Limit = %d bytes)", {limit_});
        total_ += static_cast<std::int64_t>(size);
    }
    auto* raw = static_cast<std::uint8_t*>(std::malloc(size + L::kFrontHeaderSize + L::kTrailingGuardSize));
    if (raw == nullptr) {
        std::lock_guard lock(mutex_);
        total_ -= static_cast<std::int64_t>(size);
        RaiseError(kGetMemError, "GetMem error: %s", {"out of memory"});
    }
    WriteI32(raw + L::kSizeOffset, static_cast<std::int32_t>(size));
    raw[L::kMethodOffset] = L::kSystemAllocator;
    WriteU32(raw + L::kFrontGuardOffset, L::kFrontGuard);
    WriteU32(raw + L::kFrontHeaderSize + size, L::kTrailingGuard);
    return raw + L::kFrontHeaderSize;
}

void* TABSMemoryManager::AllocateZeroed(std::size_t size) {
    void* block = Allocate(size);
    std::memset(block, 0, size);
    return block;
}

std::size_t TABSMemoryManager::BlockSize(const void* block) const {
    if (block == nullptr || !FrontGuardValid(block))
        RaiseError(kInvalidPointerError, "Invalid pointer");
    return static_cast<std::size_t>(ReadI32(FrontOf(block) + L::kSizeOffset));
}

void TABSMemoryManager::Reallocate(void*& block, std::size_t newSize, bool zeroRest) {
    try {
        void* fresh = Allocate(newSize);
        if (block != nullptr) {
            const std::size_t oldSize = BlockSize(block);
            const std::size_t kept = std::min(oldSize, newSize);
            std::memcpy(fresh, block, kept);
            if (zeroRest && newSize > kept)
                std::memset(static_cast<std::uint8_t*>(fresh) + kept, 0, newSize - kept);
            try {
                FreeAndNil(block);
            } catch (...) {
                void* undo = fresh;
                FreeAndNil(undo);
                throw;
            }
        } else if (zeroRest) {
            std::memset(fresh, 0, newSize);
        }
        block = fresh;
    } catch (const EABSException& error) {
        RaiseError(kReallocMemError, "ReallocMem error: %s", {error.Message()});
    }
}

void TABSMemoryManager::FreeAndNil(void*& block) {
    if (block == nullptr)
        return;
    if (!FrontGuardValid(block))
        RaiseError(kInvalidPointerOnFreeError, "Invalid pointer");
    std::uint8_t* front = FrontOf(block);
    const auto size = static_cast<std::size_t>(ReadI32(front + L::kSizeOffset));
    const bool overrun = ReadU32(front + L::kFrontHeaderSize + size) != L::kTrailingGuard;
    // The guard is wiped so that freeing the same address twice is caught as a foreign pointer
    // as long as the memory has not been reused.
    WriteU32(front + L::kFrontGuardOffset, 0);
    std::free(front);
    block = nullptr;
    {
        std::lock_guard lock(mutex_);
        total_ -= static_cast<std::int64_t>(size);
    }
    if (overrun)
        RaiseError(kMemoryOverrunError, "Memory overrun detected");
}

void TABSMemoryManager::SetMemoryLimit(std::int64_t limit) {
    std::lock_guard lock(mutex_);
    limit_ = std::max<std::int64_t>(limit, 0);
}

std::int64_t TABSMemoryManager::MemoryLimit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

std::int64_t TABSMemoryManager::AllocatedTotal() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::uint64_t TABSMemoryManager::AvailableMemory() const {
    const std::uint64_t system = SystemAvailableMemory();
    const std::int64_t limit = MemoryLimit();
    if (limit == 0)
        return system;
    return std::min(system, static_cast<std::uint64_t>(limit));
}

TABSMemoryManager& MemoryManager() noexcept {
    static TABSMemoryManager manager;
    return manager;
}

// ---------------------------------------------------------------------------------------------
// TABSMemoryBlock

TABSMemoryBlock::TABSMemoryBlock(TABSMemoryManager& manager, std::size_t size) : manager_(&manager) {
    if (size > 0) {
        block_ = manager.AllocateZeroed(size);
        size_ = size;
    }
}

TABSMemoryBlock::TABSMemoryBlock(TABSMemoryBlock&& other) noexcept
    : manager_(other.manager_), block_(std::exchange(other.block_, nullptr)), size_(std::exchange(other.size_, 0)) {}

TABSMemoryBlock& TABSMemoryBlock::operator=(TABSMemoryBlock&& other) noexcept {
    if (this != &other) {
        Reset();
        manager_ = other.manager_;
        block_ = std::exchange(other.block_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

TABSMemoryBlock::~TABSMemoryBlock() { Reset(); }

void TABSMemoryBlock::Resize(std::size_t newSize) {
    if (newSize == size_)
        return;
    if (manager_ == nullptr)
        manager_ = &MemoryManager();
    if (newSize == 0) {
        Reset();
        return;
    }
    manager_->Reallocate(block_, newSize, true);
    size_ = newSize;
}

void TABSMemoryBlock::Reset() noexcept {
    if (block_ != nullptr) {
        try {
            manager_->FreeAndNil(block_);
        } catch (...) {
            // An overrun was detected; the block is freed all the same. Destruction cannot raise.
        }
    }
    block_ = nullptr;
    size_ = 0;
}

} // namespace kova
