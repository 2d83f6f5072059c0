// A compressed stream: large values are stored as a sequence of independently compressed
// blocks so that a read decompresses only the blocks it reaches. The stream is read, written,
// positioned and resized in uncompressed positions over an underlying stream that holds the
// blocks from a start position to its end.
//
// Block layout in the underlying stream, one after the other:
//   offset 0   int32   compressed size C (bytes after this header)
//   offset 4   int32   uncompressed size U
//   offset 8   uint32  engine CRC of the U plain bytes
//   offset 12  int64   distance to the next header = 20 + C
//   offset 20  C bytes compressed with the stream's algorithm and mode
// Every block but the last holds exactly the block size of plain bytes; the last holds the rest.
//
// With algorithm 0 the stream is the underlying bytes themselves, read and written in place.
//
// Errors (EABSException): 10082 underlying stream shorter than its block headers, 10083
// positioning of the underlying stream failed, 10084 short write, 10085 compressor failed,
// 10086 short read of a block, 10087 decompressor failed, 10088 block of the wrong length,
// 10089 block CRC mismatch, 10093 impossible block header, 10098 extension to a size that is
// not larger.
#pragma once

#include "engine/storage/ABSStream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kova {

inline constexpr std::size_t kCompressedBlockHeaderSize = 20;

inline constexpr int kErrorStreamTooSmall = 10082;
inline constexpr int kErrorStreamSeek = 10083;
inline constexpr int kErrorStreamWrite = 10084;
inline constexpr int kErrorCompressFailed = 10085;
inline constexpr int kErrorStreamRead = 10086;
inline constexpr int kErrorDecompressFailed = 10087;
inline constexpr int kErrorDecompressSize = 10088;
inline constexpr int kErrorDecompressCrc = 10089;
inline constexpr int kErrorInvalidBlockHeader = 10093;
inline constexpr int kErrorInvalidExtension = 10098;

// What the owner of a stored value knows about its compressed stream.
struct TABSStreamDescriptor {
    std::int32_t BlockSize = 0;          // plain bytes per block; 0 follows the mode
    std::int64_t BlockCount = 0;         // blocks stored in the underlying stream
    std::int64_t UncompressedSize = 0;   // informational; the block headers are what counts
    std::int64_t StartPosition = 0;      // where the first block header is
    std::uint8_t CompressionAlgorithm = 0;
    std::uint8_t CompressionMode = 0;
};

// The block size that a new stream takes when it is given 0: 102 400 bytes for mode 0,
// 524 288 for modes 1-3, 1 048 576 for 4-6, 1 572 864 for 7-9 (and above).
[[nodiscard]] std::int32_t DefaultBlockSizeForMode(std::uint8_t mode) noexcept;

class TABSCompressedBLOBStream : public TABSStream {
public:
    // Reads the headers of descriptor.BlockCount blocks from descriptor.StartPosition. When
    // fewer than 20 bytes remain where a header should be, a stream opened for writing stops
    // there (and is extended from there) and a stream opened for reading fails with 10082.
    // The underlying stream must outlive this object; nothing else may change it meanwhile.
    TABSCompressedBLOBStream(TABSStream& underlying, const TABSStreamDescriptor& descriptor, bool forWriting);

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;

    // Writes only at or after the end: a write that starts before the end writes nothing and
    // returns 0; one that starts after the end first grows the stream with zero bytes.
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;

    [[nodiscard]] std::int64_t Position() const override { return position_; }
    [[nodiscard]] bool Seek(std::int64_t position) override;
    [[nodiscard]] std::int64_t Size() const override;

    // Cuts (rewriting the block that holds the new end) or grows with zero bytes; the same size
    // changes nothing.
    void SetSize(std::int64_t newSize) override;

    // Grows the stream with zero bytes to `newSize`; 10098 when `newSize` is not larger.
    void Extend(std::int64_t newSize);

    [[nodiscard]] std::int32_t BlockSize() const noexcept { return blockSize_; }
    [[nodiscard]] std::int64_t BlockCount() const noexcept { return static_cast<std::int64_t>(blocks_.size()); }
    [[nodiscard]] std::uint8_t CompressionAlgorithm() const noexcept { return algorithm_; }
    [[nodiscard]] std::uint8_t CompressionMode() const noexcept { return mode_; }

    // Bytes of the underlying stream that the blocks take, headers included.
    [[nodiscard]] std::int64_t StoredSize() const;

    // (1 - stored size / uncompressed size) × 100; 0 for an empty stream and for algorithm 0.
    [[nodiscard]] double CompressionRate() const;

    // The descriptor as it stands now, to be kept by the owner of the value.
    [[nodiscard]] TABSStreamDescriptor Descriptor() const;

private:
    struct Block {
        std::int64_t headerPosition;  // in the underlying stream
        std::int64_t start;           // uncompressed position of the first plain byte
        std::int32_t compressedSize;
        std::int32_t uncompressedSize;
        std::uint32_t crc;
    };

    [[nodiscard]] bool Stored() const noexcept { return algorithm_ == 0; }
    void ReadHeaders(std::int64_t blockCount, bool forWriting);
    void SeekUnderlying(std::int64_t position);
    void WriteUnderlying(const std::uint8_t* data, std::size_t count);

    [[nodiscard]] std::size_t BlockAt(std::int64_t position) const;
    const std::vector<std::uint8_t>& LoadBlock(std::size_t index);
    [[nodiscard]] std::vector<std::uint8_t> TakeBlock(std::size_t index);
    void CutAt(std::size_t index);
    void WriteBlock(std::vector<std::uint8_t> plain);
    void Append(const std::uint8_t* data, std::size_t count);
    void AppendZeros(std::int64_t count);
    void Truncate(std::int64_t newSize);

    TABSStream& underlying_;
    std::int64_t startPosition_;
    std::uint8_t algorithm_;
    std::uint8_t mode_;
    std::int32_t blockSize_;
    std::vector<Block> blocks_;
    std::int64_t end_;             // underlying position after the last block
    std::int64_t position_ = 0;    // uncompressed
    // The plain bytes of the block read or written last: sequential reads and appends to a
    // partial last block then need no second decompression.
    std::vector<std::uint8_t> cache_;
    std::size_t cachedBlock_ = kNoBlock;

    static constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);
};

// The name under which the rest of the storage layer knows the class.
using TABSCompressedStream = TABSCompressedBLOBStream;

} // namespace kova
