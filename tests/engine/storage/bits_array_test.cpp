// The bits array: bit order in the bytes, the running count, growing and shrinking, searches,
// counts before a bit, the stream form and its damage checks.
#include "pages_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSBitsArray.h"
#include "engine/storage/ABSStream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;

TEST(BitsArrayTest, BitsAreLeastSignificantFirstWithinTheirByte) {
    struct Case {
        std::int32_t bit;
        std::size_t byte;
        std::uint8_t value;
    };
    const Case cases[] = {{0, 0, 0x01}, {7, 0, 0x80}, {8, 1, 0x01}, {13, 1, 0x20}, {19, 2, 0x08}};
    for (const Case& c : cases) {
        TABSBitsArray bits(20);
        bits.Set(c.bit);
        ASSERT_EQ(bits.Bytes().size(), 3U);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(bits.Bytes()[i], i == c.byte ? c.value : 0) << "bit " << c.bit << " byte " << i;
        EXPECT_TRUE(bits.Get(c.bit));
        EXPECT_EQ(bits.SetBitCount(), 1);
    }
}

TEST(BitsArrayTest, TheCountFollowsEveryChangeButNotRepeatedOnes) {
    TABSBitsArray bits(100);
    bits.Set(5);
    bits.Set(5);
    bits.Set(99);
    EXPECT_EQ(bits.SetBitCount(), 2);
    bits.Clear(5);
    bits.Clear(5);
    EXPECT_EQ(bits.SetBitCount(), 1);
    EXPECT_EQ(bits.ClearBitCount(), 99);
    bits.Fill(true);
    EXPECT_EQ(bits.SetBitCount(), 100);
    EXPECT_EQ(bits.Bytes().back(), 0x0F) << "bits beyond the count stay 0";
    bits.Fill(false);
    EXPECT_EQ(bits.SetBitCount(), 0);
}

TEST(BitsArrayTest, BitsAtOrBeyondTheCountAreRefused) {
    TABSBitsArray bits(10);
    for (std::int32_t bit : {10, 11, 1000, -1}) {
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { bits.Set(bit); }, &message), kInvalidBitNoError) << bit;
        EXPECT_EQ(message, "Invalid bit no = " + std::to_string(bit) + ", number of bits = 10");
        EXPECT_EQ(NativeErrorOf([&] { (void)bits.Get(bit); }), kInvalidBitNoError);
    }
}

TEST(BitsArrayTest, GrowingKeepsTheOldBitsAndShrinkingRecounts) {
    TABSBitsArray bits(9);
    bits.Set(0);
    bits.Set(8);
    bits.Resize(50);
    EXPECT_TRUE(bits.Get(0));
    EXPECT_TRUE(bits.Get(8));
    EXPECT_FALSE(bits.Get(49));
    EXPECT_EQ(bits.SetBitCount(), 2);
    bits.Set(40);
    bits.Resize(8);
    EXPECT_EQ(bits.BitCount(), 8);
    EXPECT_EQ(bits.SetBitCount(), 1);
    bits.Resize(41);
    EXPECT_FALSE(bits.Get(40)) << "a bit dropped by shrinking does not come back";
    EXPECT_FALSE(bits.Get(8));
}

TEST(BitsArrayTest, SearchesAndCountsAgreeWithAPlainModel) {
    std::mt19937 generator(5);
    for (std::int32_t size : {1, 7, 8, 9, 64, 200, 1001}) {
        TABSBitsArray bits(size);
        std::vector<bool> model(static_cast<std::size_t>(size));
        for (std::int32_t i = 0; i < size; ++i) {
            // Runs of equal bits so that whole-byte skips are taken.
            const bool value = (generator() % 8) < static_cast<unsigned>((i / 16) % 2 == 0 ? 1 : 7);
            model[static_cast<std::size_t>(i)] = value;
            bits.Set(i, value);
        }
        for (bool value : {false, true}) {
            for (std::int32_t from = -2; from <= size + 1; ++from) {
                std::int32_t next = -1;
                for (std::int32_t i = std::max(from, 0); i < size; ++i)
                    if (model[static_cast<std::size_t>(i)] == value) {
                        next = i;
                        break;
                    }
                std::int32_t prior = -1;
                for (std::int32_t i = std::min(from, size - 1); i >= 0; --i)
                    if (model[static_cast<std::size_t>(i)] == value) {
                        prior = i;
                        break;
                    }
                std::int32_t before = 0;
                for (std::int32_t i = 0; i < std::clamp(from, 0, size); ++i)
                    before += model[static_cast<std::size_t>(i)] == value;
                ASSERT_EQ(bits.FindNext(value, from), next) << size << " " << value << " " << from;
                ASSERT_EQ(bits.FindPrior(value, from), prior) << size << " " << value << " " << from;
                ASSERT_EQ(bits.CountBefore(value, from), before) << size << " " << value << " " << from;
            }
        }
    }
}

TEST(BitsArrayTest, TheStreamFormIsTheTwoCountsAndTheBytes) {
    TABSBitsArray bits(12);
    bits.Set(1);
    bits.Set(11);
    TABSMemoryStream stream;
    bits.SaveToStream(stream);
    const std::vector<std::uint8_t> expected{12, 0, 0, 0, 2, 0, 0, 0, 0x02, 0x08};
    EXPECT_EQ(stream.Bytes(), expected);

    ASSERT_TRUE(stream.Seek(0));
    TABSBitsArray loaded;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded, bits);
    EXPECT_EQ(stream.Position(), 10);
}

TEST(BitsArrayTest, DamagedStreamsAreRefusedAndLeaveTheArrayAsItWas) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        int code;
    };
    const std::vector<Case> cases = {
        {"short counts", {12, 0, 0}, 10142},
        {"short bytes", {12, 0, 0, 0, 1, 0, 0, 0, 0x02}, 10142},
        {"count disagrees with the bits", {12, 0, 0, 0, 3, 0, 0, 0, 0x02, 0x08}, 10398},
        {"bits beyond the count", {12, 0, 0, 0, 2, 0, 0, 0, 0x02, 0x18}, 10398},
        {"negative bit count", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 10398},
        {"more set bits than bits", {4, 0, 0, 0, 5, 0, 0, 0, 0x0F}, 10398},
    };
    for (const Case& c : cases) {
        TABSBitsArray bits(3);
        bits.Set(2);
        const TABSBitsArray before = bits;
        TABSMemoryStream stream(c.bytes);
        EXPECT_EQ(NativeErrorOf([&] { bits.LoadFromStream(stream); }), c.code) << c.what;
        EXPECT_EQ(bits, before) << c.what;
    }
}

} // namespace
} // namespace kova
