// BLOB references and headers, field accessors, the cursor's BLOB stream and the common part of
// every table kind's BLOB manager.
#include "engine/storage/ABSBlob.h"

#include <algorithm>
#include <cassert>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSTempStream.h"

namespace kova {

// ---------------------------------------------------------------------------------------------
// Reference and header

TABSBlobReference TABSBlobReference::Decode(std::span<const std::uint8_t> bytes) noexcept {
    assert(bytes.size() >= kSize);
    return {ReadI32(bytes.data()), ReadI16(bytes.data() + 4)};
}

void TABSBlobReference::Encode(std::span<std::uint8_t> bytes) const noexcept {
    assert(bytes.size() >= kSize);
    WriteI32(bytes.data(), PageNo);
    WriteI16(bytes.data() + 4, BlobID);
}

TABSBlobHeader TABSBlobHeader::Decode(std::span<const std::uint8_t> bytes) noexcept {
    assert(bytes.size() >= kSize);
    const std::uint8_t* p = bytes.data();
    return {ReadI16(p), ReadI32(p + 2), ReadI64(p + 6), ReadI64(p + 14)};
}

void TABSBlobHeader::Encode(std::span<std::uint8_t> bytes) const noexcept {
    assert(bytes.size() >= kSize);
    std::uint8_t* p = bytes.data();
    WriteI16(p, BlobID);
    WriteI32(p + 2, BlockCount);
    WriteI64(p + 6, StoredSize);
    WriteI64(p + 14, UncompressedSize);
}

// ---------------------------------------------------------------------------------------------
// TABSBlobFieldInfo

bool TABSBlobFieldInfo::IsNull(std::span<const std::uint8_t> record) const noexcept {
    assert(static_cast<std::size_t>(FieldNo / 8) < record.size());
    return (record[static_cast<std::size_t>(FieldNo) / 8] >> (FieldNo % 8)) & 1U;
}

void TABSBlobFieldInfo::SetNull(std::span<std::uint8_t> record, bool null) const noexcept {
    assert(static_cast<std::size_t>(FieldNo / 8) < record.size());
    std::uint8_t& byte = record[static_cast<std::size_t>(FieldNo) / 8];
    const auto mask = static_cast<std::uint8_t>(1U << (FieldNo % 8));
    byte = static_cast<std::uint8_t>(null ? (byte | mask) : (byte & ~mask));
}

std::span<std::uint8_t> TABSBlobFieldInfo::Bytes(std::span<std::uint8_t> record) const noexcept {
    assert(MemoryOffset + kBlobMemoryFieldSize <= record.size());
    return record.subspan(MemoryOffset, kBlobMemoryFieldSize);
}

std::span<const std::uint8_t> TABSBlobFieldInfo::Bytes(std::span<const std::uint8_t> record) const noexcept {
    assert(MemoryOffset + kBlobMemoryFieldSize <= record.size());
    return record.subspan(MemoryOffset, kBlobMemoryFieldSize);
}

TABSBlobReference TABSBlobFieldInfo::Reference(std::span<const std::uint8_t> record) const noexcept {
    return TABSBlobReference::Decode(Bytes(record));
}

void TABSBlobFieldInfo::SetReference(std::span<std::uint8_t> record, const TABSBlobReference& reference) const noexcept {
    reference.Encode(Bytes(record));
}

std::uint32_t TABSBlobFieldInfo::CacheHandle(std::span<const std::uint8_t> record) const noexcept {
    return ReadU32(Bytes(record).data() + kBlobDiskFieldSize);
}

void TABSBlobFieldInfo::SetCacheHandle(std::span<std::uint8_t> record, std::uint32_t handle) const noexcept {
    WriteU32(Bytes(record).data() + kBlobDiskFieldSize, handle);
}

// ---------------------------------------------------------------------------------------------
// TABSBlobStream

TABSBlobStream::TABSBlobStream(std::int32_t fieldNo, std::unique_ptr<TABSStream> storage,
                               const TABSStreamDescriptor& descriptor, bool forWriting)
    : fieldNo_(fieldNo), storage_(std::move(storage)),
      compressed_(std::make_unique<TABSCompressedBLOBStream>(*storage_, descriptor, forWriting)) {}

// The compressed stream refers to the storage: it goes first.
TABSBlobStream::~TABSBlobStream() { compressed_.reset(); }

std::size_t TABSBlobStream::Read(void* buffer, std::size_t count) { return compressed_->Read(buffer, count); }

std::size_t TABSBlobStream::Write(const void* buffer, std::size_t count) {
    const std::size_t written = compressed_->Write(buffer, count);
    if (written > 0)
        modified_ = true;
    return written;
}

std::int64_t TABSBlobStream::Position() const { return compressed_->Position(); }
bool TABSBlobStream::Seek(std::int64_t position) { return compressed_->Seek(position); }
std::int64_t TABSBlobStream::Size() const { return compressed_->Size(); }

void TABSBlobStream::SetSize(std::int64_t newSize) {
    if (newSize != compressed_->Size()) {
        compressed_->SetSize(newSize);
        modified_ = true;
    }
}

std::int32_t TABSBlobStream::BlockCount() const { return static_cast<std::int32_t>(compressed_->BlockCount()); }

std::int64_t TABSBlobStream::StoredSize() const { return compressed_->StoredSize(); }

std::vector<std::uint8_t> TABSBlobStream::StoredBytes() const {
    const std::int64_t size = StoredSize();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (bytes.empty())
        return bytes;
    // The compressed stream positions its storage before every access, so borrowing the position
    // here is safe; it is put back all the same.
    const std::int64_t saved = storage_->Position();
    std::size_t got = 0;
    if (storage_->Seek(0))
        got = storage_->Read(bytes.data(), bytes.size());
    (void)storage_->Seek(saved);
    if (got != bytes.size())
        RaiseError(10117, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                   {std::int64_t{0}, storage_->Size(), size, static_cast<std::int64_t>(got)});
    return bytes;
}

TABSRawBlob TABSBlobStream::ToRaw() const {
    TABSRawBlob raw;
    raw.BlockCount = BlockCount();
    raw.UncompressedSize = UncompressedSize();
    raw.StoredBytes = StoredBytes();
    return raw;
}

// ---------------------------------------------------------------------------------------------
// TABSBaseBlobManager

TABSBaseBlobManager::TABSBaseBlobManager(std::vector<TABSBlobFieldInfo> fields) : fields_(std::move(fields)) {}

TABSBaseBlobManager::~TABSBaseBlobManager() = default;

const TABSBlobFieldInfo& TABSBaseBlobManager::Field(std::int32_t fieldNo) const {
    auto it = std::find_if(fields_.begin(), fields_.end(),
                           [fieldNo](const TABSBlobFieldInfo& field) { return field.FieldNo == fieldNo; });
    if (it == fields_.end())
        RaiseError(kBlobNotABlobFieldError, "Field %d is not a BLOB field", {fieldNo});
    return *it;
}

void TABSBaseBlobManager::ReleaseFieldCache(std::span<std::uint8_t>, const TABSBlobFieldInfo&, bool) {}

std::unique_ptr<TABSStream> TABSBaseBlobManager::MakeScratchStream() const {
    return std::make_unique<TABSTemporaryStream>();
}

std::unique_ptr<TABSBlobStream> TABSBaseBlobManager::OpenBlobStream(TABSSessionID session,
                                                                    std::span<std::uint8_t> record,
                                                                    std::int32_t fieldNo, TABSBlobOpenMode mode) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    if (field.BlockSize == 0)
        RaiseError(BlockSizeZeroError(), "Stream block size = 0 is not allowed");

    TABSStreamDescriptor descriptor;
    descriptor.BlockSize = field.BlockSize;
    descriptor.CompressionAlgorithm = field.CompressionAlgorithm;
    descriptor.CompressionMode = field.CompressionMode;
    descriptor.StartPosition = 0;

    std::unique_ptr<TABSStream> scratch = MakeScratchStream();
    if (mode == TABSBlobOpenMode::Write || record.empty() || field.IsNull(record)) {
        auto stream = std::make_unique<TABSBlobStream>(fieldNo, std::move(scratch), descriptor, true);
        // Opening for a rewrite replaces the value even when nothing gets written.
        stream->SetModified(mode == TABSBlobOpenMode::Write);
        return stream;
    }
    try {
        const ValueInfo info = ReadValue(session, record, field, *scratch);
        if (info.UncompressedSize < 0)
            RaiseError(kBlobInvalidSizeError, "Invalid blob field size");
        if (!scratch->Seek(0))
            RaiseError(10083, "Cannot set stream position to %d. Position = %d, Size = %d",
                       {0, scratch->Position(), scratch->Size()});
        descriptor.BlockCount = info.BlockCount;
        descriptor.UncompressedSize = info.UncompressedSize;
        return std::make_unique<TABSBlobStream>(fieldNo, std::move(scratch), descriptor,
                                                mode != TABSBlobOpenMode::Read);
    } catch (...) {
        ReleaseFieldCache(record, field, true);
        throw;
    }
}

} // namespace kova
