// Buffer compression: names, both algorithms with their parameters, and the failures that
// callers turn into their own errors.
#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSCompression.h"

#include <bzlib.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(length);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

// Text-like input that compresses well but not trivially.
Bytes Registrations(std::size_t length) {
    const std::string names[] = {"Schröder;Jürgen;2011;M12;50m;Weit;", "Weiß;Anna;2012;W11;Ball;800m;",
                                 "O'Neill;Kim;2010;M13;Hoch;4x50;"};
    Bytes bytes;
    for (std::size_t i = 0; bytes.size() < length; ++i) {
        const std::string line = names[i % 3] + std::to_string(i) + "\n";
        bytes.insert(bytes.end(), line.begin(), line.end());
    }
    bytes.resize(length);
    return bytes;
}

TEST(CompressionNames, LookUpUpperCasedAndUnknownGivesNone) {
    struct Case {
        const char* name;
        std::uint8_t id;
    };
    for (const Case& c : {Case{"NONE", 0}, Case{"ZLIB", 1}, Case{"zlib", 1}, Case{"ZLib", 1}, Case{"BZIP", 2},
                          Case{"bzip", 2}, Case{"PPM", 3}, Case{"ppm", 3}, Case{"BZIP2", 0}, Case{"gzip", 0},
                          Case{"", 0}, Case{" ZLIB", 0}, Case{"ZLIBZLIBZLIB", 0}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CompressionAlgorithmByName(c.name), c.id);
    }
    EXPECT_STREQ(CompressionAlgorithmName(0), "NONE");
    EXPECT_STREQ(CompressionAlgorithmName(1), "ZLIB");
    EXPECT_STREQ(CompressionAlgorithmName(2), "BZIP");
    EXPECT_STREQ(CompressionAlgorithmName(3), "PPM");
    EXPECT_STREQ(CompressionAlgorithmName(4), "NONE");
}

struct RoundTripCase {
    std::uint8_t algorithm;
    std::uint8_t mode;
    Bytes input;
    bool shrinks;
};

class CompressionRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CompressionRoundTrip, GivesTheInputBack) {
    const RoundTripCase& c = GetParam();
    const auto compressed = CompressBuffer(c.algorithm, c.mode, c.input.data(), c.input.size());
    ASSERT_TRUE(compressed.has_value());
    ASSERT_FALSE(compressed->empty());
    if (c.shrinks) {
        EXPECT_LT(compressed->size(), c.input.size() / 2);
    }
    const auto plain = DecompressBuffer(c.algorithm, compressed->data(), compressed->size(), c.input.size());
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(*plain, c.input);
}

INSTANTIATE_TEST_SUITE_P(
    BothAlgorithms, CompressionRoundTrip,
    ::testing::Values(RoundTripCase{1, 1, Bytes{42}, false}, RoundTripCase{1, 1, Registrations(100000), true},
                      RoundTripCase{1, 9, Registrations(100000), true}, RoundTripCase{1, 5, RandomBytes(10000, 1), false},
                      RoundTripCase{1, 0, Registrations(5000), false}, RoundTripCase{1, 12, Registrations(5000), true},
                      RoundTripCase{2, 1, Bytes{42}, false}, RoundTripCase{2, 1, Registrations(100000), true},
                      RoundTripCase{2, 9, Registrations(300000), true}, RoundTripCase{2, 5, RandomBytes(10000, 2), false},
                      RoundTripCase{2, 0, Registrations(5000), true}, RoundTripCase{2, 12, Registrations(5000), true}));

// The output is the standard format with the stated parameters, so other readers of the file
// (and the libraries' own one-shot calls) understand it.
TEST(CompressionFormat, ZlibHeaderCarriesTheLevelAndWindow) {
    struct Case {
        std::uint8_t mode;
        std::uint8_t flags;  // second header byte: FLEVEL in its top two bits
    };
    const Bytes input = Registrations(20000);
    for (const Case& c : {Case{1, 0x01}, Case{2, 0x5E}, Case{6, 0x9C}, Case{9, 0xDA}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        const auto compressed = CompressBuffer(1, c.mode, input.data(), input.size());
        ASSERT_TRUE(compressed.has_value());
        EXPECT_EQ((*compressed)[0], 0x78);  // deflate, 32 KB window
        EXPECT_EQ((*compressed)[1], c.flags);

        Bytes viaZlib(input.size());
        uLongf length = static_cast<uLongf>(viaZlib.size());
        ASSERT_EQ(uncompress(viaZlib.data(), &length, compressed->data(), static_cast<uLong>(compressed->size())), Z_OK);
        EXPECT_EQ(length, input.size());
        EXPECT_EQ(viaZlib, input);
    }
}

TEST(CompressionFormat, BZipHeaderCarriesTheBlockSize) {
    const Bytes input = Registrations(20000);
    for (std::uint8_t mode : {std::uint8_t{1}, std::uint8_t{4}, std::uint8_t{9}}) {
        SCOPED_TRACE(static_cast<int>(mode));
        const auto compressed = CompressBuffer(2, mode, input.data(), input.size());
        ASSERT_TRUE(compressed.has_value());
        EXPECT_EQ(std::string(compressed->begin(), compressed->begin() + 4), "BZh" + std::to_string(mode));

        Bytes viaLibrary(input.size());
        unsigned length = static_cast<unsigned>(viaLibrary.size());
        ASSERT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(viaLibrary.data()), &length,
                                             const_cast<char*>(reinterpret_cast<const char*>(compressed->data())),
                                             static_cast<unsigned>(compressed->size()), 0, 0),
                  BZ_OK);
        EXPECT_EQ(viaLibrary, input);
    }
}

TEST(CompressionFailures, NoAlgorithmUnknownAlgorithmAndEmptyInputGiveNothing) {
    const Bytes input = Registrations(1000);
    for (std::uint8_t algorithm : {std::uint8_t{0}, std::uint8_t{4}, std::uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(algorithm));
        EXPECT_FALSE(CompressBuffer(algorithm, 1, input.data(), input.size()).has_value());
        EXPECT_FALSE(DecompressBuffer(algorithm, input.data(), input.size(), 1000).has_value());
    }
    for (std::uint8_t algorithm : {std::uint8_t{1}, std::uint8_t{2}}) {
        SCOPED_TRACE(static_cast<int>(algorithm));
        EXPECT_FALSE(CompressBuffer(algorithm, 1, input.data(), 0).has_value());
        EXPECT_FALSE(CompressBuffer(algorithm, 1, nullptr, 10).has_value());
        EXPECT_FALSE(DecompressBuffer(algorithm, input.data(), 0, 1000).has_value());
    }
}

TEST(CompressionFailures, CorruptTruncatedOrTooLongDataGivesNothing) {
    const Bytes input = Registrations(50000);
    for (std::uint8_t algorithm : {std::uint8_t{1}, std::uint8_t{2}}) {
        SCOPED_TRACE(static_cast<int>(algorithm));
        const Bytes good = *CompressBuffer(algorithm, 6, input.data(), input.size());

        Bytes corrupt = good;
        corrupt[corrupt.size() / 2] ^= 0x5A;
        EXPECT_FALSE(DecompressBuffer(algorithm, corrupt.data(), corrupt.size(), input.size()).has_value());

        EXPECT_FALSE(DecompressBuffer(algorithm, good.data(), good.size() / 2, input.size()).has_value());

        const Bytes garbage = RandomBytes(1000, 5);
        EXPECT_FALSE(DecompressBuffer(algorithm, garbage.data(), garbage.size(), input.size()).has_value());

        // More plain bytes than the caller expects is a failure, never an overrun.
        EXPECT_FALSE(DecompressBuffer(algorithm, good.data(), good.size(), input.size() - 1).has_value());
        EXPECT_FALSE(DecompressBuffer(algorithm, good.data(), good.size(), 0).has_value());

        // Fewer plain bytes than expected: the real length comes back for the caller to check.
        const auto shorter = DecompressBuffer(algorithm, good.data(), good.size(), input.size() + 100);
        ASSERT_TRUE(shorter.has_value());
        EXPECT_EQ(shorter->size(), input.size());
    }
}

TEST(CompressionFailures, PPMIsRefusedWithItsOwnError) {
    const Bytes input = Registrations(100);
    auto expectRefused = [](auto call) {
        try {
            call();
            FAIL() << "nothing raised";
        } catch (const EABSException& e) {
            EXPECT_EQ(e.NativeError(), 10090);
            EXPECT_EQ(e.Message(), "Compression algorithm PPM is not supported");
        }
    };
    expectRefused([&] { (void)CompressBuffer(3, 5, input.data(), input.size()); });
    expectRefused([&] { (void)DecompressBuffer(3, input.data(), input.size(), 500); });
}

} // namespace
} // namespace kova
