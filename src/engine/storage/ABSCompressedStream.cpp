#include "engine/storage/ABSCompressedStream.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSCompression.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace kova {

namespace {

constexpr auto kHeaderSize = static_cast<std::int64_t>(kCompressedBlockHeaderSize);
static_assert(kCompressedBlockHeaderSize == 4 + 4 + 4 + 8, "block header: two int32, uint32, int64");

} // namespace

std::int32_t DefaultBlockSizeForMode(std::uint8_t mode) noexcept {
    if (mode == 0) return 102400;
    if (mode <= 3) return 524288;
    if (mode <= 6) return 1048576;
    return 1572864;
}

TABSCompressedBLOBStream::TABSCompressedBLOBStream(TABSStream& underlying, const TABSStreamDescriptor& descriptor,
                                                   bool forWriting)
    : underlying_(underlying), startPosition_(std::max<std::int64_t>(descriptor.StartPosition, 0)),
      algorithm_(descriptor.CompressionAlgorithm), mode_(descriptor.CompressionMode),
      blockSize_(descriptor.BlockSize > 0 ? descriptor.BlockSize : DefaultBlockSizeForMode(descriptor.CompressionMode)),
      end_(startPosition_) {
    if (!Stored()) ReadHeaders(descriptor.BlockCount, forWriting);
}

void TABSCompressedBLOBStream::ReadHeaders(std::int64_t blockCount, bool forWriting) {
    std::int64_t headerPosition = startPosition_;
    std::int64_t start = 0;
    for (std::int64_t i = 0; i < blockCount; ++i) {
        const std::int64_t size = underlying_.Size();
        if (size - headerPosition < kHeaderSize) {
            if (forWriting) break;
            RaiseError(kErrorStreamTooSmall, "Stream size = %d too small. Should be at least = %d",
                       {size, headerPosition + kHeaderSize});
        }
        std::array<std::uint8_t, kCompressedBlockHeaderSize> header;
        SeekUnderlying(headerPosition);
        const std::size_t got = underlying_.Read(header.data(), header.size());
        if (got != header.size()) {
            RaiseError(kErrorStreamRead,
                       "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                       {headerPosition, size, kCompressedBlockHeaderSize, got});
        }
        Block block{headerPosition, start, ReadI32(header.data()), ReadI32(header.data() + 4),
                    ReadU32(header.data() + 8)};
        const std::int64_t distance = ReadI64(header.data() + 12);
        // The bytes come from the file: a header that points backwards or overlaps itself
        // would make the walk loop or read garbage.
        if (block.compressedSize < 0 || block.uncompressedSize < 0 || distance < kHeaderSize + block.compressedSize) {
            RaiseError(kErrorInvalidBlockHeader,
                       "Invalid compressed block header. Position = %d, CompSize = %d, UncompSize = %d, Offset = %d",
                       {headerPosition, block.compressedSize, block.uncompressedSize, distance});
        }
        blocks_.push_back(block);
        start += block.uncompressedSize;
        headerPosition += distance;
    }
    end_ = headerPosition;
}

void TABSCompressedBLOBStream::SeekUnderlying(std::int64_t position) {
    if (!underlying_.Seek(position) || underlying_.Position() != position) {
        RaiseError(kErrorStreamSeek, "Cannot set stream position to %d. Position = %d, Size = %d",
                   {position, underlying_.Position(), underlying_.Size()});
    }
}

void TABSCompressedBLOBStream::WriteUnderlying(const std::uint8_t* data, std::size_t count) {
    const std::int64_t position = underlying_.Position();
    const std::size_t written = underlying_.Write(data, count);
    if (written != count) {
        RaiseError(kErrorStreamWrite,
                   "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                   {position, underlying_.Size(), count, written});
    }
}

std::int64_t TABSCompressedBLOBStream::Size() const {
    if (Stored()) return std::max<std::int64_t>(underlying_.Size() - startPosition_, 0);
    if (blocks_.empty()) return 0;
    return blocks_.back().start + blocks_.back().uncompressedSize;
}

std::int64_t TABSCompressedBLOBStream::StoredSize() const {
    if (Stored()) return Size();
    return end_ - startPosition_;
}

double TABSCompressedBLOBStream::CompressionRate() const {
    const std::int64_t size = Size();
    if (Stored() || size == 0) return 0.0;
    return (1.0 - static_cast<double>(StoredSize()) / static_cast<double>(size)) * 100.0;
}

TABSStreamDescriptor TABSCompressedBLOBStream::Descriptor() const {
    return {blockSize_, BlockCount(), Size(), startPosition_, algorithm_, mode_};
}

bool TABSCompressedBLOBStream::Seek(std::int64_t position) {
    if (position < 0) return false;
    position_ = position;
    return true;
}

std::size_t TABSCompressedBLOBStream::BlockAt(std::int64_t position) const {
    // The last block that starts at or before the position.
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), position,
                                        [](std::int64_t p, const Block& b) { return p < b.start; });
    return static_cast<std::size_t>(after - blocks_.begin()) - 1;
}

const std::vector<std::uint8_t>& TABSCompressedBLOBStream::LoadBlock(std::size_t index) {
    if (cachedBlock_ == index) return cache_;
    const Block& block = blocks_[index];
    const std::int64_t dataPosition = block.headerPosition + kHeaderSize;
    SeekUnderlying(dataPosition);
    std::vector<std::uint8_t> compressed(static_cast<std::size_t>(block.compressedSize));
    const std::size_t got = underlying_.Read(compressed.data(), compressed.size());
    if (got != compressed.size()) {
        RaiseError(kErrorStreamRead,
                   "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                   {dataPosition, underlying_.Size(), compressed.size(), got});
    }
    auto plain = DecompressBuffer(algorithm_, compressed.data(), compressed.size(),
                                  static_cast<std::size_t>(block.uncompressedSize));
    if (!plain) {
        RaiseError(kErrorDecompressFailed, "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                   {algorithm_, block.compressedSize, block.uncompressedSize});
    }
    if (plain->size() != static_cast<std::size_t>(block.uncompressedSize)) {
        RaiseError(kErrorDecompressSize, "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                   {plain->size(), block.uncompressedSize});
    }
    const std::uint32_t crc = EngineCrc32(plain->data(), plain->size());
    if (crc != block.crc) {
        RaiseError(kErrorDecompressCrc, "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d",
                   {crc, block.crc});
    }
    cache_ = std::move(*plain);
    cachedBlock_ = index;
    return cache_;
}

std::vector<std::uint8_t> TABSCompressedBLOBStream::TakeBlock(std::size_t index) {
    LoadBlock(index);
    cachedBlock_ = kNoBlock;
    return std::move(cache_);
}

void TABSCompressedBLOBStream::CutAt(std::size_t index) {
    end_ = blocks_[index].headerPosition;
    blocks_.resize(index);
    if (cachedBlock_ != kNoBlock && cachedBlock_ >= index) cachedBlock_ = kNoBlock;
    underlying_.SetSize(end_);
}

void TABSCompressedBLOBStream::WriteBlock(std::vector<std::uint8_t> plain) {
    const std::uint32_t crc = EngineCrc32(plain.data(), plain.size());
    auto compressed = CompressBuffer(algorithm_, mode_, plain.data(), plain.size());
    if (!compressed || compressed->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        RaiseError(kErrorCompressFailed, "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
                   {algorithm_, mode_, plain.size(), compressed ? compressed->size() : 0});
    }
    const auto compressedSize = static_cast<std::int32_t>(compressed->size());
    std::vector<std::uint8_t> record(kCompressedBlockHeaderSize + compressed->size());
    WriteI32(record.data(), compressedSize);
    WriteI32(record.data() + 4, static_cast<std::int32_t>(plain.size()));
    WriteU32(record.data() + 8, crc);
    WriteI64(record.data() + 12, kHeaderSize + compressedSize);
    std::memcpy(record.data() + kCompressedBlockHeaderSize, compressed->data(), compressed->size());

    // The blocks run to the end of the underlying stream; bytes left behind a block that was
    // cut or never completed must not stay after the new one.
    if (underlying_.Size() > end_) underlying_.SetSize(end_);
    SeekUnderlying(end_);
    WriteUnderlying(record.data(), record.size());

    const std::int64_t start = Size();
    blocks_.push_back({end_, start, compressedSize, static_cast<std::int32_t>(plain.size()), crc});
    end_ += static_cast<std::int64_t>(record.size());
    cache_ = std::move(plain);
    cachedBlock_ = blocks_.size() - 1;
}

void TABSCompressedBLOBStream::Append(const std::uint8_t* data, std::size_t count) {
    const auto blockSize = static_cast<std::size_t>(blockSize_);
    while (count > 0) {
        std::size_t take = 0;
        if (!blocks_.empty() && static_cast<std::size_t>(blocks_.back().uncompressedSize) < blockSize) {
            // Fill the partial last block up to the block size and write it again in its place.
            const std::size_t last = blocks_.size() - 1;
            std::vector<std::uint8_t> plain = TakeBlock(last);
            take = std::min(count, blockSize - plain.size());
            plain.insert(plain.end(), data, data + take);
            CutAt(last);
            WriteBlock(std::move(plain));
        } else {
            take = std::min(count, blockSize);
            WriteBlock(std::vector<std::uint8_t>(data, data + take));
        }
        data += take;
        count -= take;
    }
}

void TABSCompressedBLOBStream::AppendZeros(std::int64_t count) {
    if (count <= 0) return;
    const std::vector<std::uint8_t> zeros(
        static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(blockSize_))));
    while (count > 0) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(zeros.size())));
        Append(zeros.data(), take);
        count -= static_cast<std::int64_t>(take);
    }
}

std::size_t TABSCompressedBLOBStream::Read(void* buffer, std::size_t count) {
    if (count == 0) return 0;
    if (Stored()) {
        SeekUnderlying(startPosition_ + position_);
        const std::size_t got = underlying_.Read(buffer, count);
        position_ += static_cast<std::int64_t>(got);
        return got;
    }
    const std::int64_t size = Size();
    if (position_ >= size) return 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(size - position_, static_cast<std::int64_t>(count)));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < wanted) {
        const std::size_t index = BlockAt(position_);
        const Block& block = blocks_[index];
        const std::vector<std::uint8_t>& plain = LoadBlock(index);
        const auto offset = static_cast<std::size_t>(position_ - block.start);
        const std::size_t take = std::min(wanted - done, plain.size() - offset);
        std::memcpy(out + done, plain.data() + offset, take);
        done += take;
        position_ += static_cast<std::int64_t>(take);
    }
    return done;
}

std::size_t TABSCompressedBLOBStream::Write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    if (Stored()) {
        SeekUnderlying(startPosition_ + position_);
        WriteUnderlying(data, count);
        position_ += static_cast<std::int64_t>(count);
        return count;
    }
    const std::int64_t size = Size();
    if (position_ < size) return 0;
    AppendZeros(position_ - size);
    Append(data, count);
    position_ += static_cast<std::int64_t>(count);
    return count;
}

void TABSCompressedBLOBStream::SetSize(std::int64_t newSize) {
    const std::int64_t size = Size();
    if (newSize < 0) {
        RaiseError(kErrorInvalidExtension, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
                   {newSize, size, newSize - size});
    }
    if (newSize < size) {
        Truncate(newSize);
    } else if (newSize > size) {
        Extend(newSize);
    }
    position_ = std::min(position_, newSize);
}

void TABSCompressedBLOBStream::Extend(std::int64_t newSize) {
    const std::int64_t size = Size();
    if (newSize <= size) {
        RaiseError(kErrorInvalidExtension, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
                   {newSize, size, newSize - size});
    }
    if (Stored()) {
        underlying_.SetSize(startPosition_ + newSize);
    } else {
        AppendZeros(newSize - size);
    }
}

void TABSCompressedBLOBStream::Truncate(std::int64_t newSize) {
    if (Stored()) {
        underlying_.SetSize(startPosition_ + newSize);
        return;
    }
    const std::size_t index = BlockAt(newSize);
    const auto keep = static_cast<std::size_t>(newSize - blocks_[index].start);
    std::vector<std::uint8_t> plain;
    if (keep > 0) {
        plain = TakeBlock(index);
        plain.resize(keep);
    }
    CutAt(index);
    if (keep > 0) WriteBlock(std::move(plain));
}

} // namespace kova
