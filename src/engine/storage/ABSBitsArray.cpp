// A growable array of bits with a running count of the set ones.
#include "engine/storage/ABSBitsArray.h"

#include <algorithm>
#include <bit>
#include <cassert>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSStream.h"

namespace kova {

namespace {

[[nodiscard]] std::size_t ByteCount(std::int32_t bits) noexcept {
    return static_cast<std::size_t>((static_cast<std::int64_t>(bits) + 7) / 8);
}

} // namespace

TABSBitsArray::TABSBitsArray(std::int32_t bitCount) { Resize(bitCount); }

void TABSBitsArray::Resize(std::int32_t bitCount) {
    assert(bitCount >= 0);
    bitCount = std::max(bitCount, 0);
    const bool shrinking = bitCount < bitCount_;
    bitCount_ = bitCount;
    bytes_.resize(ByteCount(bitCount), 0);
    if (shrinking) {
        ClearTail();
        setCount_ = Recount();
    }
}

void TABSBitsArray::CheckBitNo(std::int32_t bitNo) const {
    if (bitNo < 0 || bitNo >= bitCount_)
        RaiseError(kInvalidBitNoError, "Invalid bit no = %d, number of bits = %d", {bitNo, bitCount_});
}

bool TABSBitsArray::Get(std::int32_t bitNo) const {
    CheckBitNo(bitNo);
    return (bytes_[static_cast<std::size_t>(bitNo) / 8] >> (bitNo % 8)) & 1U;
}

void TABSBitsArray::Set(std::int32_t bitNo, bool value) {
    CheckBitNo(bitNo);
    std::uint8_t& byte = bytes_[static_cast<std::size_t>(bitNo) / 8];
    const auto mask = static_cast<std::uint8_t>(1U << (bitNo % 8));
    const bool old = (byte & mask) != 0;
    if (old == value)
        return;
    if (value) {
        byte = static_cast<std::uint8_t>(byte | mask);
        ++setCount_;
    } else {
        byte = static_cast<std::uint8_t>(byte & ~mask);
        --setCount_;
    }
}

void TABSBitsArray::Fill(bool value) noexcept {
    std::fill(bytes_.begin(), bytes_.end(), value ? 0xFF : 0x00);
    ClearTail();
    setCount_ = value ? bitCount_ : 0;
}

void TABSBitsArray::ClearTail() noexcept {
    if (bitCount_ % 8 != 0 && !bytes_.empty())
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() & ((1U << (bitCount_ % 8)) - 1U));
}

std::int32_t TABSBitsArray::Recount() const noexcept {
    std::int32_t count = 0;
    for (std::uint8_t byte : bytes_)
        count += std::popcount(byte);
    return count;
}

std::int32_t TABSBitsArray::FindNext(bool value, std::int32_t from) const noexcept {
    from = std::max(from, 0);
    if (from >= bitCount_)
        return -1;
    // Whole bytes that cannot hold the bit are skipped at once.
    const std::uint8_t skip = value ? 0x00 : 0xFF;
    std::int32_t bit = from;
    while (bit < bitCount_) {
        const std::uint8_t byte = bytes_[static_cast<std::size_t>(bit) / 8];
        if (bit % 8 == 0 && byte == skip) {
            bit += 8;
            continue;
        }
        if ((((byte >> (bit % 8)) & 1U) != 0) == value)
            return bit;
        ++bit;
    }
    return -1;
}

std::int32_t TABSBitsArray::FindPrior(bool value, std::int32_t from) const noexcept {
    from = std::min(from, bitCount_ - 1);
    if (from < 0)
        return -1;
    const std::uint8_t skip = value ? 0x00 : 0xFF;
    std::int32_t bit = from;
    while (bit >= 0) {
        const std::uint8_t byte = bytes_[static_cast<std::size_t>(bit) / 8];
        // A full byte only when all of it lies inside the bit count.
        if (bit % 8 == 7 && byte == skip) {
            bit -= 8;
            continue;
        }
        if ((((byte >> (bit % 8)) & 1U) != 0) == value)
            return bit;
        --bit;
    }
    return -1;
}

std::int32_t TABSBitsArray::CountBefore(bool value, std::int32_t bitNo) const noexcept {
    bitNo = std::clamp(bitNo, 0, bitCount_);
    std::int32_t ones = 0;
    const auto wholeBytes = static_cast<std::size_t>(bitNo / 8);
    for (std::size_t i = 0; i < wholeBytes; ++i)
        ones += std::popcount(bytes_[i]);
    if (bitNo % 8 != 0)
        ones += std::popcount(static_cast<std::uint8_t>(bytes_[wholeBytes] & ((1U << (bitNo % 8)) - 1U)));
    return value ? ones : bitNo - ones;
}

void TABSBitsArray::SaveToStream(TABSStream& stream) const {
    std::uint8_t counts[8];
    WriteI32(counts, bitCount_);
    WriteI32(counts + 4, setCount_);
    const std::int64_t position = stream.Position();
    std::size_t written = stream.Write(counts, sizeof counts);
    if (written == sizeof counts && !bytes_.empty())
        written += stream.Write(bytes_.data(), bytes_.size());
    if (written != sizeof counts + bytes_.size())
        RaiseError(10145, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                   {position, stream.Size(), static_cast<std::int64_t>(sizeof counts + bytes_.size()),
                    static_cast<std::int64_t>(written)});
}

void TABSBitsArray::LoadFromStream(TABSStream& stream) {
    std::uint8_t counts[8];
    const std::int64_t position = stream.Position();
    std::size_t read = stream.Read(counts, sizeof counts);
    if (read != sizeof counts)
        RaiseError(10142, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                   {position, stream.Size(), static_cast<int>(sizeof counts), static_cast<std::int64_t>(read)});
    const std::int32_t bitCount = ReadI32(counts);
    const std::int32_t setCount = ReadI32(counts + 4);
    if (bitCount < 0 || setCount < 0 || setCount > bitCount)
        RaiseError(10398, "Invalid bits array");
    std::vector<std::uint8_t> bytes(ByteCount(bitCount));
    if (!bytes.empty()) {
        read = stream.Read(bytes.data(), bytes.size());
        if (read != bytes.size())
            RaiseError(10142,
                       "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                       {position, stream.Size(), static_cast<std::int64_t>(bytes.size() + sizeof counts),
                        static_cast<std::int64_t>(read + sizeof counts)});
    }
    TABSBitsArray loaded;
    loaded.bitCount_ = bitCount;
    loaded.bytes_ = std::move(bytes);
    loaded.setCount_ = loaded.Recount();
    // Bits in the tail of the last byte, or a count that disagrees with the bits, are damage.
    const std::uint8_t tail = loaded.bytes_.empty() ? 0 : loaded.bytes_.back();
    loaded.ClearTail();
    if (loaded.setCount_ != setCount || (!loaded.bytes_.empty() && tail != loaded.bytes_.back()))
        RaiseError(10398, "Invalid bits array");
    *this = std::move(loaded);
}

} // namespace kova
