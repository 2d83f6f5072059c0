// Storage of temporary tables: memory up to a budget, temporary files beyond it.
#include "engine/storage/ABSTempEngine.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

namespace kova {

namespace {

[[nodiscard]] std::int64_t ClampBudget(std::uint64_t budget) noexcept {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(budget, static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())));
}

} // namespace

// =============================================================================================
// TABSTemporaryPageManager

TABSTemporaryPageManager::TABSTemporaryPageManager(bool memoryOnly, std::optional<std::uint64_t> availableMemory)
    : memoryOnly_(memoryOnly),
      memoryLimit_(ClampBudget(
          TemporaryBudget(availableMemory.value_or(MemoryManager().AvailableMemory()), kMemoryPageSize))) {
    SetCacheCapacity(16);
}

TABSTemporaryPageManager::~TABSTemporaryPageManager() { ClearAllPages(); }

bool TABSTemporaryPageManager::IsUsed(TABSPageNo pageNo) const noexcept {
    return pageNo >= 0 && pageNo < used_.BitCount() && used_.Get(pageNo);
}

TABSPageNo TABSTemporaryPageManager::AllocateStoragePage() {
    std::lock_guard lock(Mutex());
    TABSPageNo pageNo = kNoPage;
    if (memoryOnly_ || nextPageNo_ < memoryLimit_) {
        pageNo = inner_.AllocateStoragePage();
        nextPageNo_ = std::max(nextPageNo_, pageNo + 1);
    } else {
        pageNo = nextPageNo_++;
        if (!file_)
            file_ = TABSFileStream::CreateTemporary();
        const std::int64_t needed = static_cast<std::int64_t>(nextPageNo_) * static_cast<std::int64_t>(kMemoryPageSize);
        // Growing by half at a time keeps the number of size changes small.
        if (file_->Size() < needed)
            file_->SetSize(needed + needed / 2);
    }
    if (pageNo >= used_.BitCount())
        used_.Resize(std::max(pageNo + 1, used_.BitCount() + TABSMemoryPageManager::kGrowthStep));
    used_.Set(pageNo);
    ++usedCount_;
    return pageNo;
}

void TABSTemporaryPageManager::ReleaseStoragePage(TABSPageNo pageNo) {
    std::lock_guard lock(Mutex());
    if (!IsUsed(pageNo))
        return;
    used_.Clear(pageNo);
    --usedCount_;
    if (InMemory(pageNo))
        inner_.ReleaseStoragePage(pageNo);
}

void TABSTemporaryPageManager::ReadStoragePage(TABSPageNo pageNo, std::span<std::uint8_t> out) {
    std::lock_guard lock(Mutex());
    if (!IsUsed(pageNo))
        RaiseError(kTempPageReadError, "Not released page is allocated");
    if (InMemory(pageNo)) {
        inner_.ReadStoragePage(pageNo, out);
        return;
    }
    const std::int64_t offset = static_cast<std::int64_t>(pageNo) * static_cast<std::int64_t>(kMemoryPageSize);
    const std::size_t count = std::min(out.size(), kMemoryPageSize);
    if (!file_->Seek(offset))
        RaiseError(kTempSeekError, "Cannot set stream position to %d. Position = %d, Size = %d",
                   {offset, file_->Position(), file_->Size()});
    const std::size_t read = file_->Read(out.data(), count);
    if (read != count)
        RaiseError(kTempReadError,
                   "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                   {offset, file_->Size(), count, read});
}

void TABSTemporaryPageManager::WriteStoragePage(TABSPageNo pageNo, std::span<const std::uint8_t> in) {
    std::lock_guard lock(Mutex());
    if (!IsUsed(pageNo))
        RaiseError(kTempPageWriteError, "Not released page is allocated");
    if (InMemory(pageNo)) {
        inner_.WriteStoragePage(pageNo, in);
        return;
    }
    const std::int64_t offset = static_cast<std::int64_t>(pageNo) * static_cast<std::int64_t>(kMemoryPageSize);
    const std::size_t count = std::min(in.size(), kMemoryPageSize);
    if (!file_->Seek(offset))
        RaiseError(kTempSeekError, "Cannot set stream position to %d. Position = %d, Size = %d",
                   {offset, file_->Position(), file_->Size()});
    const std::size_t written = file_->Write(in.data(), count);
    if (written != count)
        RaiseError(10145, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                   {offset, file_->Size(), count, written});
}

void TABSTemporaryPageManager::FreePageNos(const std::vector<TABSPageNo>& pageNos) {
    for (TABSPageNo pageNo : pageNos)
        ReleaseStoragePage(pageNo);
}

// =============================================================================================
// TABSTemporaryRecordManager

TABSTemporaryRecordManager::TABSTemporaryRecordManager(std::size_t recordSize, bool memoryOnly,
                                                       std::optional<std::uint64_t> availableMemory,
                                                       TABSMemoryManager& memory)
    : recordSize_(recordSize), memoryOnly_(memoryOnly), memoryLimit_(0), memory_(memory) {
    if (recordSize == 0)
        RaiseError(kInvalidRecordSizeError, "Invalid record size = 0");
    memoryLimit_ = static_cast<std::int64_t>(
        TemporaryBudget(availableMemory.value_or(memory.AvailableMemory()), recordSize));
    writeBuffer_.resize(static_cast<std::size_t>(kWriteBufferRecords) * recordSize_);
}

std::uint64_t TABSTemporaryRecordManager::Number(const TABSRecordID& id) noexcept {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(id.PageNo)) |
           (static_cast<std::uint64_t>(id.Slot) << 32);
}

TABSRecordID TABSTemporaryRecordManager::IDOf(std::uint64_t number) noexcept {
    return {static_cast<TABSPageNo>(static_cast<std::uint32_t>(number & 0xFFFFFFFFU)),
            static_cast<std::uint16_t>((number >> 32) & 0xFFFFU)};
}

void TABSTemporaryRecordManager::FlushWriteBuffer() {
    if (buffered_ == 0)
        return;
    if (buffered_ > kWriteBufferRecords)
        RaiseError(kInvalidRecordCountError, "Invalid record count = %d. Limit is %d",
                   {buffered_, kWriteBufferRecords});
    if (!file_)
        file_ = TABSFileStream::CreateTemporary();
    const std::int64_t offset = (count_ - memoryLimit_ - buffered_) * static_cast<std::int64_t>(recordSize_);
    const std::size_t bytes = static_cast<std::size_t>(buffered_) * recordSize_;
    if (!file_->Seek(offset) || file_->Write(writeBuffer_.data(), bytes) != bytes)
        RaiseError(kTempWriteError, "Error writing to stream");
    buffered_ = 0;
}

TABSRecordID TABSTemporaryRecordManager::InsertRecord(TABSSessionID, std::span<const std::uint8_t> record) {
    assert(record.size() >= recordSize_);
    const std::int64_t number = count_;
    if (memoryOnly_ || count_ < memoryLimit_) {
        if (count_ >= capacity_) {
            std::int64_t capacity = capacity_ + kGrowthStep;
            if (!memoryOnly_)
                capacity = std::min(capacity, memoryLimit_);
            array_.Resize(static_cast<std::size_t>(capacity) * recordSize_);
            capacity_ = capacity;
        }
        std::memcpy(array_.Data() + static_cast<std::size_t>(count_) * recordSize_, record.data(), recordSize_);
    } else {
        if (buffered_ == kWriteBufferRecords)
            FlushWriteBuffer();
        std::memcpy(writeBuffer_.data() + static_cast<std::size_t>(buffered_) * recordSize_, record.data(),
                    recordSize_);
        ++buffered_;
    }
    ++count_;
    ++changeCounter_;
    return IDOf(static_cast<std::uint64_t>(number));
}

bool TABSTemporaryRecordManager::ReadRecord(TABSSessionID, const TABSRecordID& id, std::span<std::uint8_t> record) {
    const auto number = static_cast<std::int64_t>(Number(id));
    if (number >= count_)
        return false;
    if (record.size() < recordSize_)
        RaiseError(kTempRecordNotFoundError, "Error retreiving record");
    if (memoryOnly_ || number < memoryLimit_) {
        std::memcpy(record.data(), array_.Data() + static_cast<std::size_t>(number) * recordSize_, recordSize_);
        return true;
    }
    FlushWriteBuffer();
    const std::int64_t offset = (number - memoryLimit_) * static_cast<std::int64_t>(recordSize_);
    if (!file_ || !file_->Seek(offset))
        RaiseError(kTempSeekError, "Cannot set stream position to %d. Position = %d, Size = %d",
                   {offset, file_ ? file_->Position() : 0, file_ ? file_->Size() : 0});
    const std::size_t read = file_->Read(record.data(), recordSize_);
    if (read != recordSize_)
        RaiseError(kTempReadError,
                   "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                   {offset, file_->Size(), recordSize_, read});
    return true;
}

std::optional<TABSRecordID> TABSTemporaryRecordManager::FirstRecord(TABSSessionID) {
    if (count_ == 0)
        return std::nullopt;
    return IDOf(0);
}

std::optional<TABSRecordID> TABSTemporaryRecordManager::LastRecord(TABSSessionID) {
    if (count_ == 0)
        return std::nullopt;
    return IDOf(static_cast<std::uint64_t>(count_ - 1));
}

std::optional<TABSRecordID> TABSTemporaryRecordManager::NextRecord(TABSSessionID, const TABSRecordID& id) {
    const std::uint64_t next = Number(id) + 1;
    if (next >= static_cast<std::uint64_t>(count_))
        return std::nullopt;
    return IDOf(next);
}

std::optional<TABSRecordID> TABSTemporaryRecordManager::PriorRecord(TABSSessionID, const TABSRecordID& id) {
    const std::uint64_t number = Number(id);
    if (number == 0 || count_ == 0)
        return std::nullopt;
    return IDOf(std::min(number - 1, static_cast<std::uint64_t>(count_ - 1)));
}

std::optional<TABSRecordID> TABSTemporaryRecordManager::RecordAtNumber(TABSSessionID, std::uint64_t recNo) {
    if (count_ == 0 || recNo > static_cast<std::uint64_t>(count_))
        return std::nullopt;
    return IDOf(recNo < 2 ? 0 : recNo - 1);
}

std::uint64_t TABSTemporaryRecordManager::RecordNumberOf(TABSSessionID, const TABSRecordID& id) {
    const std::uint64_t number = Number(id);
    return number < static_cast<std::uint64_t>(count_) ? number + 1 : 0;
}

void TABSTemporaryRecordManager::UndoLastInsert() {
    if (count_ == 0)
        return;
    // The record is in the write buffer, in the array, or already written to the file; in the
    // last case its bytes stay behind the end and are overwritten by the next spilled record.
    if (buffered_ > 0)
        --buffered_;
    else if (!memoryOnly_ && count_ > memoryLimit_ && file_)
        file_->SetSize((count_ - 1 - memoryLimit_) * static_cast<std::int64_t>(recordSize_));
    --count_;
    ++changeCounter_;
}

void TABSTemporaryRecordManager::Empty(TABSSessionID) {
    array_.Reset();
    capacity_ = 0;
    buffered_ = 0;
    file_.reset();
    count_ = 0;
    ++changeCounter_;
}

// =============================================================================================
// TABSTemporaryBlobManager

namespace {

constexpr int kStoreSeekError = 10422;
constexpr int kStoreWriteError = 10145;
constexpr int kOpenSeekError = 10141;
constexpr int kOpenReadError = 10142;
constexpr int kRawGetSeekError = 10507;
constexpr int kRawGetReadError = 10508;
constexpr int kRawSetSeekError = 10509;
constexpr int kRawSetWriteError = 10510;

} // namespace

TABSTemporaryBlobManager::TABSTemporaryBlobManager(std::vector<TABSBlobFieldInfo> fields, bool memoryOnly)
    : TABSBaseBlobManager(std::move(fields)) {
    if (memoryOnly) {
        auto stream = std::make_unique<TABSMemoryStream>();
        stream->Bytes().reserve(static_cast<std::size_t>(kTemporaryStreamMemoryLimit));
        stream_ = std::move(stream);
    } else {
        stream_ = std::make_unique<TABSTemporaryStream>();
    }
}

TABSTemporaryBlobManager::~TABSTemporaryBlobManager() = default;

std::int64_t TABSTemporaryBlobManager::ValuePosition(std::span<const std::uint8_t> record, std::int32_t fieldNo) const {
    return ReadI64(Field(fieldNo).Bytes(record).data());
}

void TABSTemporaryBlobManager::Append(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                                      const TABSRawBlob& value, int seekError, int writeError) {
    const std::int64_t position = stream_->Size();
    if (!stream_->Seek(position) || stream_->Position() != position)
        RaiseError(seekError, "Cannot set stream position to %d. Position = %d, Size = %d",
                   {position, stream_->Position(), stream_->Size()});
    std::uint8_t header[kValueHeaderSize];
    WriteI32(header, value.BlockCount);
    WriteI64(header + 4, value.UncompressedSize);
    WriteI64(header + 12, value.StoredSize());
    auto write = [&](const std::uint8_t* data, std::size_t count) {
        const std::int64_t at = stream_->Position();
        const std::size_t written = count == 0 ? 0 : stream_->Write(data, count);
        if (written != count) {
            // A half-written value must not stay behind the next one's position.
            stream_->SetSize(position);
            RaiseError(writeError,
                       "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                       {at, stream_->Size(), count, written});
        }
    };
    write(header, sizeof header);
    write(value.StoredBytes.data(), value.StoredBytes.size());
    std::span<std::uint8_t> bytes = field.Bytes(record);
    std::fill(bytes.begin(), bytes.end(), 0);
    WriteI64(bytes.data(), position);
    field.SetNull(record, false);
}

TABSRawBlob TABSTemporaryBlobManager::ReadAt(std::int64_t position, Codes codes) {
    if (position < 0 || !stream_->Seek(position) || stream_->Position() != position)
        RaiseError(codes.Seek, "Cannot set stream position to %d. Position = %d, Size = %d",
                   {position, stream_->Position(), stream_->Size()});
    auto read = [&](std::uint8_t* data, std::size_t count) {
        const std::int64_t at = stream_->Position();
        const std::size_t got = count == 0 ? 0 : stream_->Read(data, count);
        if (got != count)
            RaiseError(codes.Read,
                       "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                       {at, stream_->Size(), count, got});
    };
    std::uint8_t header[kValueHeaderSize];
    read(header, sizeof header);
    TABSRawBlob value;
    value.BlockCount = ReadI32(header);
    value.UncompressedSize = ReadI64(header + 4);
    const std::int64_t stored = ReadI64(header + 12);
    // The size comes from the stream: it must lie inside it before anything is allocated.
    if (stored < 0 || stored > stream_->Size() - stream_->Position())
        RaiseError(codes.Read, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                   {stream_->Position(), stream_->Size(), stored, std::int64_t{0}});
    value.StoredBytes.resize(static_cast<std::size_t>(stored));
    read(value.StoredBytes.data(), value.StoredBytes.size());
    return value;
}

TABSBaseBlobManager::ValueInfo TABSTemporaryBlobManager::ReadValue(TABSSessionID, std::span<std::uint8_t> record,
                                                                   const TABSBlobFieldInfo& field, TABSStream& out) {
    if (field.IsNull(record))
        return {};
    const TABSRawBlob value = ReadAt(ReadI64(field.Bytes(record).data()), {kOpenSeekError, kOpenReadError});
    const std::size_t size = value.StoredBytes.size();
    if (size > 0 && out.Write(value.StoredBytes.data(), size) != size)
        RaiseError(10145, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                   {out.Position(), out.Size(), size, out.Position()});
    return {value.BlockCount, value.UncompressedSize};
}

void TABSTemporaryBlobManager::StoreBlobStream(TABSSessionID, std::span<std::uint8_t> record, TABSBlobStream& stream) {
    if (!stream.Modified())
        return;
    const TABSBlobFieldInfo& field = Field(stream.FieldNo());
    if (stream.Size() == 0) {
        field.SetNull(record, true);
    } else {
        Append(record, field, stream.ToRaw(), kStoreSeekError, kStoreWriteError);
    }
    stream.SetModified(false);
}

TABSRawBlob TABSTemporaryBlobManager::GetRaw(TABSSessionID, std::span<std::uint8_t> record, std::int32_t fieldNo) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    if (field.IsNull(record))
        return {};
    return ReadAt(ReadI64(field.Bytes(record).data()), {kRawGetSeekError, kRawGetReadError});
}

void TABSTemporaryBlobManager::SetRaw(TABSSessionID, std::span<std::uint8_t> record, std::int32_t fieldNo,
                                      const TABSRawBlob& raw) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    if (raw.StoredSize() == 0) {
        field.SetNull(record, true);
        return;
    }
    Append(record, field, raw, kRawSetSeekError, kRawSetWriteError);
}

void TABSTemporaryBlobManager::Empty(TABSSessionID, const TABSForEachRecord&) { stream_->SetSize(0); }

void TABSTemporaryBlobManager::Drop(TABSSessionID, const TABSForEachRecord&) { stream_->SetSize(0); }

} // namespace kova
