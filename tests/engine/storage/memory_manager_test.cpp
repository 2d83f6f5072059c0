// The memory manager: block layout with its guards, the allocation total and the limit, the
// errors for foreign pointers and overruns, reallocation, available memory.
#include "pages_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSMemory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kova {
namespace {

using testing::NativeErrorOf;
namespace L = MemoryBlockLayout;

const std::uint8_t* Front(const void* block) { return static_cast<const std::uint8_t*>(block) - L::kFrontHeaderSize; }

TEST(MemoryManagerTest, ABlockCarriesItsSizeAndBothGuards) {
    TABSMemoryManager memory;
    for (std::size_t size : {1U, 7U, 4096U, 100000U}) {
        void* block = memory.Allocate(size);
        EXPECT_EQ(ReadI32(Front(block) + L::kSizeOffset), static_cast<std::int32_t>(size));
        EXPECT_EQ(ReadU32(Front(block) + L::kFrontGuardOffset), 0xACCACCACU);
        EXPECT_EQ(ReadU32(static_cast<const std::uint8_t*>(block) + size), 0xACCEACCEU);
        EXPECT_EQ(memory.BlockSize(block), size);
        memory.FreeAndNil(block);
        EXPECT_EQ(block, nullptr);
    }
}

TEST(MemoryManagerTest, TheTotalCountsLiveBlocksAndTheLimitRefusesWhatWouldPassIt) {
    TABSMemoryManager memory;
    memory.SetMemoryLimit(1000);
    void* a = memory.Allocate(600);
    EXPECT_EQ(memory.AllocatedTotal(), 600);
    void* b = memory.Allocate(400);  // exactly at the limit
    EXPECT_EQ(memory.AllocatedTotal(), 1000);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)memory.Allocate(1); }, &message), kMemoryLimitExceededError);
    EXPECT_EQ(message, "Memory limit exceeded (Limit = 1000 bytes)");
    EXPECT_EQ(memory.AllocatedTotal(), 1000) << "a refused allocation counts nothing";
    memory.FreeAndNil(a);
    EXPECT_EQ(memory.AllocatedTotal(), 400);
    void* c = memory.Allocate(600);
    memory.FreeAndNil(b);
    memory.FreeAndNil(c);
    EXPECT_EQ(memory.AllocatedTotal(), 0);
    memory.SetMemoryLimit(0);
    void* big = memory.Allocate(5000);
    memory.FreeAndNil(big);
}

TEST(MemoryManagerTest, ZeroBytesAreRefused) {
    TABSMemoryManager memory;
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)memory.Allocate(0); }, &message), kZeroAllocationError);
    EXPECT_EQ(message, "Cannot allocate 0 bytes");
}

TEST(MemoryManagerTest, AWrongFrontGuardIsAForeignPointer) {
    TABSMemoryManager memory;
    std::uint8_t foreign[64] = {};
    void* pointer = foreign + 16;
    EXPECT_EQ(NativeErrorOf([&] { (void)memory.BlockSize(pointer); }), kInvalidPointerError);
    EXPECT_EQ(NativeErrorOf([&] { memory.FreeAndNil(pointer); }), kInvalidPointerOnFreeError);
    EXPECT_EQ(pointer, foreign + 16) << "nothing was freed";
    void* null = nullptr;
    memory.FreeAndNil(null);
}

TEST(MemoryManagerTest, AnOverwrittenTrailingGuardIsReportedAfterTheBlockIsFreed) {
    TABSMemoryManager memory;
    void* block = memory.Allocate(32);
    std::memset(block, 0x55, 33);  // one byte too many
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { memory.FreeAndNil(block); }, &message), kMemoryOverrunError);
    EXPECT_EQ(message, "Memory overrun detected");
    EXPECT_EQ(block, nullptr) << "the block was freed before the error";
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

TEST(MemoryManagerTest, ReallocationKeepsTheCommonBytesAndZeroesTheRestWhenAsked) {
    TABSMemoryManager memory;
    struct Case {
        std::size_t from, to;
        bool zero;
    };
    const Case cases[] = {{10, 20, true}, {20, 10, true}, {10, 10, false}, {1, 1000, true}};
    for (const Case& c : cases) {
        void* block = memory.Allocate(c.from);
        std::memset(block, 0xAB, c.from);
        memory.Reallocate(block, c.to, c.zero);
        ASSERT_EQ(memory.BlockSize(block), c.to);
        const auto* bytes = static_cast<const std::uint8_t*>(block);
        for (std::size_t i = 0; i < std::min(c.from, c.to); ++i)
            ASSERT_EQ(bytes[i], 0xAB) << c.from << "→" << c.to;
        if (c.zero) {
            for (std::size_t i = c.from; i < c.to; ++i)
                ASSERT_EQ(bytes[i], 0) << c.from << "→" << c.to;
        }
        EXPECT_EQ(memory.AllocatedTotal(), static_cast<std::int64_t>(c.to));
        memory.FreeAndNil(block);
    }
    void* none = nullptr;
    memory.Reallocate(none, 8, true);
    EXPECT_EQ(memory.BlockSize(none), 8U);
    memory.FreeAndNil(none);
}

TEST(MemoryManagerTest, ReallocationFailuresAreReportedAsReallocErrors) {
    TABSMemoryManager memory;
    memory.SetMemoryLimit(100);
    void* block = memory.Allocate(60);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { memory.Reallocate(block, 80); }, &message), kReallocMemError);
    EXPECT_EQ(message, "ReallocMem error: Memory limit exceeded (Limit = 100 bytes)");
    EXPECT_EQ(memory.BlockSize(block), 60U) << "the old block stays";
    memory.FreeAndNil(block);
}

TEST(MemoryManagerTest, AvailableMemoryIsTheSmallerOfTheSystemsAndTheLimit) {
    TABSMemoryManager memory;
    const std::uint64_t system = SystemAvailableMemory();
    ASSERT_GT(system, 0U) << "the system reports its available memory";
    memory.SetMemoryLimit(12345);
    EXPECT_EQ(memory.AvailableMemory(), 12345U);
    memory.SetMemoryLimit(static_cast<std::int64_t>(system) * 4);
    EXPECT_LE(memory.AvailableMemory(), system * 2) << "a limit above the system's memory does not raise it";
}

TEST(MemoryBlockTest, OwnsItsBlockAndFreesItWhenItGoes) {
    TABSMemoryManager memory;
    {
        TABSMemoryBlock block(memory, 100);
        EXPECT_EQ(memory.AllocatedTotal(), 100);
        EXPECT_TRUE(std::all_of(block.Data(), block.Data() + 100, [](std::uint8_t b) { return b == 0; }));
        block.Data()[99] = 7;
        block.Resize(300);
        EXPECT_EQ(block.Data()[99], 7);
        EXPECT_EQ(block.Data()[299], 0);
        TABSMemoryBlock moved = std::move(block);
        EXPECT_TRUE(block.Empty());
        EXPECT_EQ(moved.Size(), 300U);
        EXPECT_EQ(memory.AllocatedTotal(), 300);
    }
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

} // namespace
} // namespace kova
