// The compressed stream: block layout in the underlying bytes, appending, cutting, growing,
// reading across blocks, damaged and short underlying streams, and failing underlying streams.
#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSCompressedStream.h"
#include "engine/storage/ABSStream.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kZlib = 1;
constexpr std::uint8_t kBZip = 2;

// Compressible but not constant, so every block has its own bytes and CRC.
Bytes Value(std::size_t length, unsigned seed = 1) {
    std::mt19937 generator(seed);
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = (i % 64 < 48) ? static_cast<std::uint8_t>('a' + (i / 64) % 26)
                                 : static_cast<std::uint8_t>(generator() % 16);
    }
    return bytes;
}

TABSStreamDescriptor NewStream(std::uint8_t algorithm, std::uint8_t mode, std::int32_t blockSize,
                               std::int64_t start = 0) {
    TABSStreamDescriptor d;
    d.BlockSize = blockSize;
    d.CompressionAlgorithm = algorithm;
    d.CompressionMode = mode;
    d.StartPosition = start;
    return d;
}

struct BlockHeader {
    std::int64_t position;
    std::int32_t compressedSize;
    std::int32_t uncompressedSize;
    std::uint32_t crc;
    std::int64_t distance;
};

// Walks the headers in the underlying bytes, the way a reader without our class would.
std::vector<BlockHeader> Headers(const Bytes& underlying, std::size_t start = 0) {
    std::vector<BlockHeader> headers;
    std::size_t at = start;
    while (at + kCompressedBlockHeaderSize <= underlying.size()) {
        const std::uint8_t* p = underlying.data() + at;
        headers.push_back({static_cast<std::int64_t>(at), ReadI32(p), ReadI32(p + 4), ReadU32(p + 8), ReadI64(p + 12)});
        if (headers.back().distance <= 0) break;
        at += static_cast<std::size_t>(headers.back().distance);
    }
    EXPECT_EQ(at, underlying.size()) << "blocks do not end where the underlying stream ends";
    return headers;
}

Bytes ReadAll(TABSStream& stream) {
    Bytes out(static_cast<std::size_t>(stream.Size()));
    EXPECT_TRUE(stream.Seek(0));
    EXPECT_EQ(stream.Read(out.data(), out.size()), out.size());
    return out;
}

Bytes WrittenAtOnce(const TABSStreamDescriptor& d, const Bytes& value) {
    TABSMemoryStream underlying;
    TABSCompressedBLOBStream stream(underlying, d, true);
    EXPECT_EQ(stream.Write(value.data(), value.size()), value.size());
    return underlying.Bytes();
}

TABSStreamDescriptor Reopened(const TABSStreamDescriptor& d, std::int64_t blockCount) {
    TABSStreamDescriptor r = d;
    r.BlockCount = blockCount;
    return r;
}

template <typename Call>
void ExpectError(Call call, int code, const std::string& message = {}) {
    try {
        call();
        ADD_FAILURE() << "nothing raised, expected " << code;
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), code) << e.what();
        if (!message.empty()) {
            EXPECT_EQ(e.Message(), message);
        }
    }
}

class CompressedStreamTest : public ::testing::TestWithParam<std::uint8_t> {
protected:
    std::uint8_t Algorithm() const { return GetParam(); }
    TABSStreamDescriptor Descriptor() const { return NewStream(Algorithm(), 1, 102400); }
    const Bytes value_ = Value(250000);
};

TEST_P(CompressedStreamTest, QuarterMillionBytesMakeThreeBlocks) {
    TABSMemoryStream underlying;
    TABSCompressedBLOBStream stream(underlying, Descriptor(), true);
    ASSERT_EQ(stream.Write(value_.data(), value_.size()), value_.size());
    EXPECT_EQ(stream.Size(), 250000);
    EXPECT_EQ(stream.BlockCount(), 3);

    const auto headers = Headers(underlying.Bytes());
    ASSERT_EQ(headers.size(), 3u);
    const std::int32_t expectedSizes[] = {102400, 102400, 45200};
    std::size_t plainOffset = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(headers[i].uncompressedSize, expectedSizes[i]);
        EXPECT_EQ(headers[i].distance, 20 + headers[i].compressedSize);
        EXPECT_LT(headers[i].compressedSize, headers[i].uncompressedSize);
        EXPECT_EQ(headers[i].crc, EngineCrc32(value_.data() + plainOffset, static_cast<std::size_t>(expectedSizes[i])));
        plainOffset += static_cast<std::size_t>(expectedSizes[i]);
    }
    EXPECT_EQ(stream.StoredSize(), underlying.Size());
    const TABSStreamDescriptor now = stream.Descriptor();
    EXPECT_EQ(now.BlockCount, 3);
    EXPECT_EQ(now.UncompressedSize, 250000);

    TABSCompressedBLOBStream reader(underlying, now, false);
    EXPECT_EQ(reader.Size(), 250000);
    EXPECT_EQ(ReadAll(reader), value_);
}

TEST_P(CompressedStreamTest, ReadsAnywhereAndAcrossBlocks) {
    TABSMemoryStream underlying(WrittenAtOnce(Descriptor(), value_));
    TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), false);
    struct Case {
        std::int64_t position;
        std::size_t asked;
        std::size_t got;
    };
    for (const Case& c : {Case{0, 10, 10}, Case{102395, 10, 10}, Case{204799, 2, 2}, Case{100, 204800, 204800},
                          Case{249990, 100, 10}, Case{250000, 5, 0}, Case{300000, 1, 0}, Case{5, 0, 0}}) {
        SCOPED_TRACE(c.position);
        ASSERT_TRUE(stream.Seek(c.position));
        Bytes out(c.asked);
        ASSERT_EQ(stream.Read(out.data(), out.size()), c.got);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(c.got),
                               value_.begin() + std::min<std::int64_t>(c.position, 250000)));
        EXPECT_EQ(stream.Position(), c.position + static_cast<std::int64_t>(c.got));
    }
    EXPECT_FALSE(stream.Seek(-1));
}

TEST_P(CompressedStreamTest, AppendingInPiecesEqualsWritingAtOnce) {
    const Bytes expected = WrittenAtOnce(Descriptor(), value_);
    // Piece sizes that end inside a block, exactly at its end, and one past it.
    const std::vector<std::vector<std::size_t>> plans{
        {102399, 1, 102400, 45200},
        {102401, 102399, 45200},
        {7, 60000, 42393, 102400, 45000, 200},
        {250000},
    };
    for (const auto& plan : plans) {
        SCOPED_TRACE(plan.size());
        ASSERT_EQ(std::accumulate(plan.begin(), plan.end(), std::size_t{0}), value_.size());
        TABSMemoryStream underlying;
        TABSCompressedBLOBStream stream(underlying, Descriptor(), true);
        std::size_t offset = 0;
        for (std::size_t piece : plan) {
            ASSERT_EQ(stream.Write(value_.data() + offset, piece), piece);
            offset += piece;
        }
        EXPECT_EQ(underlying.Bytes(), expected);
        EXPECT_EQ(ReadAll(stream), value_);
    }
}

TEST_P(CompressedStreamTest, AppendsAfterReopeningForWriting) {
    TABSMemoryStream underlying(WrittenAtOnce(Descriptor(), Bytes(value_.begin(), value_.begin() + 150000)));
    TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 2), true);
    ASSERT_EQ(stream.Size(), 150000);
    ASSERT_TRUE(stream.Seek(150000));
    ASSERT_EQ(stream.Write(value_.data() + 150000, 100000), 100000u);
    EXPECT_EQ(underlying.Bytes(), WrittenAtOnce(Descriptor(), value_));
}

TEST_P(CompressedStreamTest, WriteBeforeTheEndWritesNothing) {
    TABSMemoryStream underlying(WrittenAtOnce(Descriptor(), value_));
    const Bytes before = underlying.Bytes();
    TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), true);
    for (std::int64_t position : {0, 102400, 249999}) {
        ASSERT_TRUE(stream.Seek(position));
        EXPECT_EQ(stream.Write("x", 1), 0u);
        EXPECT_EQ(stream.Position(), position);
    }
    EXPECT_EQ(underlying.Bytes(), before);
    EXPECT_EQ(stream.Size(), 250000);
}

TEST_P(CompressedStreamTest, WriteAfterTheEndFillsTheGapWithZeros) {
    TABSMemoryStream underlying;
    TABSCompressedBLOBStream stream(underlying, Descriptor(), true);
    ASSERT_TRUE(stream.Seek(204795));
    ASSERT_EQ(stream.Write(value_.data(), 45205), 45205u);
    Bytes expected(204795, 0);
    expected.insert(expected.end(), value_.begin(), value_.begin() + 45205);
    EXPECT_EQ(ReadAll(stream), expected);
    EXPECT_EQ(underlying.Bytes(), WrittenAtOnce(Descriptor(), expected));
}

TEST_P(CompressedStreamTest, CuttingKeepsThePrefixAsIfWrittenAlone) {
    for (std::int64_t newSize : {0, 1, 102399, 102400, 102401, 204800, 249999}) {
        SCOPED_TRACE(newSize);
        TABSMemoryStream underlying(WrittenAtOnce(Descriptor(), value_));
        TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), true);
        ASSERT_TRUE(stream.Seek(250000));
        stream.SetSize(newSize);
        EXPECT_EQ(stream.Size(), newSize);
        EXPECT_EQ(stream.Position(), newSize);
        const Bytes prefix(value_.begin(), value_.begin() + newSize);
        EXPECT_EQ(underlying.Bytes(), WrittenAtOnce(Descriptor(), prefix));
        EXPECT_EQ(ReadAll(stream), prefix);
    }
}

TEST_P(CompressedStreamTest, GrowingAppendsZeros) {
    TABSMemoryStream underlying(WrittenAtOnce(Descriptor(), value_));
    TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), true);
    stream.SetSize(250000);  // the same size changes nothing
    EXPECT_EQ(stream.BlockCount(), 3);
    stream.SetSize(400000);
    Bytes expected = value_;
    expected.resize(400000, 0);
    EXPECT_EQ(underlying.Bytes(), WrittenAtOnce(Descriptor(), expected));
    EXPECT_EQ(stream.BlockCount(), 4);

    ExpectError([&] { stream.Extend(400000); }, 10098,
                "Invalid extension size. NewSize = 400000, UncompressedSize = 400000, ExtensionSize = 0");
    ExpectError([&] { stream.Extend(10); }, 10098,
                "Invalid extension size. NewSize = 10, UncompressedSize = 400000, ExtensionSize = -399990");
}

// Damage done to the underlying bytes of a three-block stream, and what reading the third
// block then raises. Reading the first block stays possible unless the damage is in the headers.
struct Damage {
    const char* name;
    std::function<void(Bytes&, const std::vector<BlockHeader>&)> apply;
    int code;
    bool atOpen;
};

TEST_P(CompressedStreamTest, DamagedBlocksAreReportedWithTheirCause) {
    const std::vector<Damage> cases{
        {"crc field", [](Bytes& b, const auto& h) { b[static_cast<std::size_t>(h[2].position) + 8] ^= 0x01; }, 10089, false},
        {"compressed byte",
         [](Bytes& b, const auto& h) { b[static_cast<std::size_t>(h[2].position + 20 + h[2].compressedSize / 2)] ^= 0x40; },
         10087, false},
        {"header too small",
         [](Bytes& b, const auto& h) { WriteI32(b.data() + h[2].position + 4, h[2].uncompressedSize - 1); }, 10087, false},
        {"header too large",
         [](Bytes& b, const auto& h) { WriteI32(b.data() + h[2].position + 4, h[2].uncompressedSize + 1); }, 10088, false},
        {"data cut short", [](Bytes& b, const auto& h) { b.resize(static_cast<std::size_t>(h[2].position + 30)); }, 10086, false},
        {"header cut short", [](Bytes& b, const auto& h) { b.resize(static_cast<std::size_t>(h[2].position + 19)); }, 10082, true},
        {"distance backwards", [](Bytes& b, const auto& h) { WriteI64(b.data() + h[1].position + 12, 4); }, 10093, true},
        {"negative size", [](Bytes& b, const auto& h) { WriteI32(b.data() + h[1].position, -5); }, 10093, true},
    };
    const Bytes good = WrittenAtOnce(Descriptor(), value_);
    const auto headers = Headers(good);
    ASSERT_EQ(headers.size(), 3u);
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.name);
        Bytes bytes = good;
        d.apply(bytes, headers);
        TABSMemoryStream underlying(bytes);
        if (d.atOpen) {
            ExpectError([&] { TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), false); }, d.code);
            continue;
        }
        TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), false);
        Bytes first(100);
        EXPECT_EQ(stream.Read(first.data(), first.size()), first.size());
        EXPECT_TRUE(std::equal(first.begin(), first.end(), value_.begin()));
        ASSERT_TRUE(stream.Seek(204800));
        ExpectError([&] { (void)stream.Read(first.data(), first.size()); }, d.code);
    }
}

TEST_P(CompressedStreamTest, CrcMismatchNamesBothChecksums) {
    Bytes bytes = WrittenAtOnce(Descriptor(), value_);
    const auto headers = Headers(bytes);
    WriteU32(bytes.data() + headers[0].position + 8, 12345);
    TABSMemoryStream underlying(bytes);
    TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), false);
    Bytes out(10);
    const std::string expected = "Decompress buffer failed. CheckSum = " +
                                 std::to_string(EngineCrc32(value_.data(), 102400)) + ", Header.Crc32 = 12345";
    ExpectError([&] { (void)stream.Read(out.data(), out.size()); }, 10089, expected);
}

TEST_P(CompressedStreamTest, ShortStreamOpenedForWritingIsExtendedFromItsLastWholeHeader) {
    Bytes bytes = WrittenAtOnce(Descriptor(), value_);
    const auto headers = Headers(bytes);
    bytes.resize(static_cast<std::size_t>(headers[2].position + 10));
    TABSMemoryStream underlying(bytes);
    ExpectError([&] { TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), false); }, 10082,
                "Stream size = " + std::to_string(bytes.size()) +
                    " too small. Should be at least = " + std::to_string(headers[2].position + 20));

    TABSCompressedBLOBStream stream(underlying, Reopened(Descriptor(), 3), true);
    EXPECT_EQ(stream.BlockCount(), 2);
    EXPECT_EQ(stream.Size(), 204800);
    ASSERT_TRUE(stream.Seek(204800));
    ASSERT_EQ(stream.Write(value_.data() + 204800, 45200), 45200u);
    EXPECT_EQ(underlying.Bytes(), WrittenAtOnce(Descriptor(), value_));
}

TEST_P(CompressedStreamTest, StartPositionLeavesTheBytesBeforeItAlone) {
    const std::string prefix = "prefix!";
    TABSMemoryStream underlying(Bytes(prefix.begin(), prefix.end()));
    const TABSStreamDescriptor d = NewStream(Algorithm(), 1, 102400, 7);
    {
        TABSCompressedBLOBStream stream(underlying, d, true);
        ASSERT_EQ(stream.Write(value_.data(), value_.size()), value_.size());
        stream.SetSize(150000);
        EXPECT_EQ(stream.StoredSize(), underlying.Size() - 7);
    }
    EXPECT_EQ(std::string(underlying.Bytes().begin(), underlying.Bytes().begin() + 7), prefix);
    EXPECT_EQ(Headers(underlying.Bytes(), 7).size(), 2u);
    TABSCompressedBLOBStream reader(underlying, Reopened(d, 2), false);
    EXPECT_EQ(ReadAll(reader), Bytes(value_.begin(), value_.begin() + 150000));
}

TEST_P(CompressedStreamTest, CompressionRateComparesStoredWithPlainBytes) {
    TABSMemoryStream underlying;
    TABSCompressedBLOBStream stream(underlying, Descriptor(), true);
    EXPECT_EQ(stream.CompressionRate(), 0.0);
    const Bytes zeros(250000, 0);
    ASSERT_EQ(stream.Write(zeros.data(), zeros.size()), zeros.size());
    EXPECT_GT(stream.CompressionRate(), 90.0);
    EXPECT_DOUBLE_EQ(stream.CompressionRate(), (1.0 - static_cast<double>(underlying.Size()) / 250000.0) * 100.0);
}

INSTANTIATE_TEST_SUITE_P(BothAlgorithms, CompressedStreamTest, ::testing::Values(kZlib, kBZip),
                         [](const auto& info) { return info.param == kZlib ? "Zlib" : "BZip"; });

TEST(CompressedStreamBlockSize, ZeroFollowsTheMode) {
    struct Case {
        std::uint8_t mode;
        std::int32_t blockSize;
    };
    for (const Case& c : {Case{0, 102400}, Case{1, 524288}, Case{3, 524288}, Case{4, 1048576}, Case{6, 1048576},
                          Case{7, 1572864}, Case{9, 1572864}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        TABSMemoryStream underlying;
        TABSCompressedBLOBStream stream(underlying, NewStream(kZlib, c.mode, 0), true);
        EXPECT_EQ(stream.BlockSize(), c.blockSize);
    }
    TABSMemoryStream underlying;
    TABSCompressedBLOBStream stream(underlying, NewStream(kZlib, 1, 0), true);
    const Bytes value = Value(250000);
    ASSERT_EQ(stream.Write(value.data(), value.size()), value.size());
    const auto headers = Headers(underlying.Bytes());
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].uncompressedSize, 250000);
}

TEST(CompressedStreamWithoutCompression, IsTheUnderlyingBytesInPlace) {
    const std::string prefix = "ab";
    TABSMemoryStream underlying(Bytes(prefix.begin(), prefix.end()));
    TABSCompressedBLOBStream stream(underlying, NewStream(0, 0, 102400, 2), true);
    ASSERT_EQ(stream.Write("hello world", 11), 11u);
    ASSERT_TRUE(stream.Seek(6));
    ASSERT_EQ(stream.Write("there", 5), 5u);  // in place, not only at the end
    EXPECT_EQ(std::string(underlying.Bytes().begin(), underlying.Bytes().end()), "abhello there");
    EXPECT_EQ(stream.Size(), 11);
    stream.SetSize(5);
    EXPECT_EQ(std::string(underlying.Bytes().begin(), underlying.Bytes().end()), "abhello");
    stream.SetSize(7);
    EXPECT_EQ(underlying.Size(), 9);
    EXPECT_EQ(stream.CompressionRate(), 0.0);
    EXPECT_EQ(stream.BlockCount(), 0);
}

TEST(CompressedStreamWithPPM, RefusesToWrite) {
    TABSMemoryStream underlying;
    TABSCompressedBLOBStream stream(underlying, NewStream(3, 5, 1000), true);
    ExpectError([&] { (void)stream.Write("abc", 3); }, 10090);
}

// An underlying stream that fails on request: it accepts only a limited number of bytes, or
// refuses to be positioned.
class FaultyStream : public TABSMemoryStream {
public:
    std::size_t writeBudget = static_cast<std::size_t>(-1);
    bool refuseSeek = false;

    std::size_t Write(const void* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, writeBudget);
        writeBudget -= n;
        return n == 0 ? 0 : TABSMemoryStream::Write(buffer, n);
    }
    bool Seek(std::int64_t position) override { return !refuseSeek && TABSMemoryStream::Seek(position); }
};

TEST(CompressedStreamUnderlyingFailures, ShortWriteAndFailedSeekRaise) {
    const Bytes value = Value(1000);
    {
        FaultyStream underlying;
        underlying.writeBudget = 15;
        TABSCompressedBLOBStream stream(underlying, NewStream(kZlib, 1, 102400), true);
        try {
            (void)stream.Write(value.data(), value.size());
            FAIL() << "nothing raised";
        } catch (const EABSException& e) {
            EXPECT_EQ(e.NativeError(), 10084);
            EXPECT_EQ(e.Message().rfind("Cannot write to stream. Position = 0, Stream size = 15, Block size = ", 0), 0u)
                << e.Message();
            EXPECT_NE(e.Message().find("Bytes Write = 15"), std::string::npos) << e.Message();
        }
    }
    {
        FaultyStream underlying;
        underlying.refuseSeek = true;
        TABSCompressedBLOBStream stream(underlying, NewStream(kZlib, 1, 102400), true);
        ExpectError([&] { (void)stream.Write(value.data(), value.size()); }, 10083,
                    "Cannot set stream position to 0. Position = 0, Size = 0");
    }
}

TEST(MemoryStream, ReadsWritesSeeksAndResizes) {
    TABSMemoryStream stream;
    EXPECT_EQ(stream.Write("abcdef", 6), 6u);
    EXPECT_EQ(stream.Position(), 6);
    ASSERT_TRUE(stream.Seek(8));
    EXPECT_EQ(stream.Write("xy", 2), 2u);
    EXPECT_EQ(stream.Bytes(), (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 'x', 'y'}));
    ASSERT_TRUE(stream.Seek(7));
    char out[8] = {};
    EXPECT_EQ(stream.Read(out, sizeof out), 3u);
    EXPECT_EQ(stream.Read(out, sizeof out), 0u);
    EXPECT_FALSE(stream.Seek(-1));
    EXPECT_EQ(stream.Position(), 10);
    stream.SetSize(4);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_EQ(stream.Size(), 4);
    stream.SetSize(6);
    EXPECT_EQ(stream.Bytes(), (Bytes{'a', 'b', 'c', 'd', 0, 0}));
}

} // namespace
} // namespace kova
