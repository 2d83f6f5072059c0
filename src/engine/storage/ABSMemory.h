// The engine's memory manager: guarded blocks, a process-wide allocation total, an optional
// memory limit, and the notion of available memory that sizes page caches and temporary tables.
//
// Block layout (the caller gets the address behind the front header):
//
//   offset      size  field
//   0           4     int32  requested size n
//   4           1     uint8  allocation method (1: system allocator)
//   5           4     uint32 front guard 0xACCACCAC
//   9           n     the caller's bytes
//   9 + n       4     uint32 trailing guard 0xACCEACCE
//
// A wrong front guard means the address is not one of ours; a wrong trailing guard means the
// caller wrote past its bytes. Both are reported instead of freeing a foreign block silently.
//
// Thread-safe: the total is kept under the manager's lock. One manager serves the process
// (MemoryManager()); tests may make their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace kova {

inline constexpr int kInvalidPointerOnFreeError = 30001;
inline constexpr int kMemoryLimitExceededError = 30004;
inline constexpr int kInvalidPointerError = 30005;
inline constexpr int kReallocMemError = 30014;
inline constexpr int kGetMemError = 30015;
inline constexpr int kMemoryOverrunError = 30137;
inline constexpr int kFreeMemError = 30138;
inline constexpr int kZeroAllocationError = 30286;

namespace MemoryBlockLayout {
inline constexpr std::size_t kSizeOffset = 0;
inline constexpr std::size_t kMethodOffset = 4;
inline constexpr std::size_t kFrontGuardOffset = 5;
inline constexpr std::size_t kFrontHeaderSize = 9;
inline constexpr std::size_t kTrailingGuardSize = 4;
inline constexpr std::uint32_t kFrontGuard = 0xACCACCACU;
inline constexpr std::uint32_t kTrailingGuard = 0xACCEACCEU;
inline constexpr std::uint8_t kSystemAllocator = 1;
static_assert(kFrontHeaderSize == kFrontGuardOffset + 4);
} // namespace MemoryBlockLayout

// The operating system's available physical memory in bytes (MemAvailable of /proc/meminfo,
// else free and buffer memory from sysinfo); 0 when neither can be read.
[[nodiscard]] std::uint64_t SystemAvailableMemory() noexcept;

class TABSMemoryManager {
public:
    TABSMemoryManager() = default;
    TABSMemoryManager(const TABSMemoryManager&) = delete;
    TABSMemoryManager& operator=(const TABSMemoryManager&) = delete;

    // A new block of `size` bytes (contents undefined). Raises 30286 "Cannot allocate 0 bytes"
    // for 0, 30004 "Memory limit exceeded (Limit = %d bytes)" when a limit is set and the total
    // would pass it, 30015 "GetMem error: %s" when the system has no memory.
    [[nodiscard]] void* Allocate(std::size_t size);
    // The same, zero-filled.
    [[nodiscard]] void* AllocateZeroed(std::size_t size);
    // The requested size of a block; 30005 "Invalid pointer" when the front guard is wrong.
    [[nodiscard]] std::size_t BlockSize(const void* block) const;
    // A new block of `newSize` with min(old, new) bytes copied, the rest zeroed when asked, and
    // the old block freed; `block` then points to the new one. A null `block` allocates. Raises
    // 30014 "ReallocMem error: %s" (wrapping the allocation or free error).
    void Reallocate(void*& block, std::size_t newSize, bool zeroRest = false);
    // Frees the block and sets `block` to null (nothing for null). Raises 30001 "Invalid pointer"
    // for a wrong front guard (nothing is freed then); frees first and then raises 30137 "Memory
    // overrun detected" for a wrong trailing guard.
    void FreeAndNil(void*& block);

    // 0: no limit.
    void SetMemoryLimit(std::int64_t limit);
    [[nodiscard]] std::int64_t MemoryLimit() const;
    // Bytes in live blocks (requested sizes).
    [[nodiscard]] std::int64_t AllocatedTotal() const;
    // The system's available memory, or the smaller of it and the limit when one is set.
    [[nodiscard]] std::uint64_t AvailableMemory() const;

private:
    mutable std::mutex mutex_;
    std::int64_t limit_ = 0;
    std::int64_t total_ = 0;
};

// The process's memory manager.
[[nodiscard]] TABSMemoryManager& MemoryManager() noexcept;

// A block of the memory manager owned by one object: freed when the owner goes.
class TABSMemoryBlock {
public:
    TABSMemoryBlock() noexcept = default;
    // Allocates `size` zeroed bytes (0 bytes: an empty block without allocation).
    TABSMemoryBlock(TABSMemoryManager& manager, std::size_t size);
    TABSMemoryBlock(TABSMemoryBlock&& other) noexcept;
    TABSMemoryBlock& operator=(TABSMemoryBlock&& other) noexcept;
    TABSMemoryBlock(const TABSMemoryBlock&) = delete;
    TABSMemoryBlock& operator=(const TABSMemoryBlock&) = delete;
    ~TABSMemoryBlock();

    [[nodiscard]] std::uint8_t* Data() noexcept { return static_cast<std::uint8_t*>(block_); }
    [[nodiscard]] const std::uint8_t* Data() const noexcept { return static_cast<const std::uint8_t*>(block_); }
    [[nodiscard]] std::size_t Size() const noexcept { return size_; }
    [[nodiscard]] bool Empty() const noexcept { return size_ == 0; }
    // Grows or shrinks, keeping the first min(old, new) bytes and zeroing the rest.
    void Resize(std::size_t newSize);
    void Reset() noexcept;

private:
    TABSMemoryManager* manager_ = nullptr;
    void* block_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace kova
