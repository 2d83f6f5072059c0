// Storage of in-memory tables: index pages, records and BLOB values in process memory.
#include "engine/storage/ABSMemEngine.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSStream.h"

namespace kova {

namespace {

[[noreturn]] void RaiseStreamRead(const TABSStream& stream, std::int64_t position, std::int64_t wanted,
                                  std::int64_t got) {
    RaiseError(10142, "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
               {position, stream.Size(), wanted, got});
}

[[noreturn]] void RaiseStreamWrite(const TABSStream& stream, std::int64_t position, std::int64_t wanted,
                                   std::int64_t got) {
    RaiseError(10145, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
               {position, stream.Size(), wanted, got});
}

void WriteAll(TABSStream& stream, const void* data, std::size_t count) {
    const std::int64_t position = stream.Position();
    const std::size_t written = count == 0 ? 0 : stream.Write(data, count);
    if (written != count)
        RaiseStreamWrite(stream, position, static_cast<std::int64_t>(count), static_cast<std::int64_t>(written));
}

void ReadAll(TABSStream& stream, void* data, std::size_t count) {
    const std::int64_t position = stream.Position();
    const std::size_t read = count == 0 ? 0 : stream.Read(data, count);
    if (read != count)
        RaiseStreamRead(stream, position, static_cast<std::int64_t>(count), static_cast<std::int64_t>(read));
}

// Number of zero bits of every byte value: record numbers are sums of these over the deleted map.
constexpr std::array<std::uint8_t, 256> MakeZeroBitTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value)
        table[value] = static_cast<std::uint8_t>(8 - std::popcount(value));
    return table;
}
constexpr std::array<std::uint8_t, 256> kZeroBits = MakeZeroBitTable();

} // namespace

// =============================================================================================
// TABSMemoryPageManager

TABSMemoryPageManager::TABSMemoryPageManager(TABSMemoryManager& memory) : memory_(memory) {
    // Storage is memory itself: a small cache only avoids copying the hottest pages twice.
    SetCacheCapacity(16);
}

TABSMemoryPageManager::~TABSMemoryPageManager() { ClearAllPages(); }

bool TABSMemoryPageManager::IsUsed(TABSPageNo pageNo) const noexcept {
    return pageNo >= 0 && pageNo < used_.BitCount() && used_.Get(pageNo);
}

void TABSMemoryPageManager::EnsureBuffers(TABSPageNo pageNo) {
    const auto needed = static_cast<std::size_t>(pageNo) + 1;
    if (buffers_.size() >= needed)
        return;
    const std::size_t target = std::max(needed, buffers_.size() + static_cast<std::size_t>(kGrowthStep));
    buffers_.reserve(target);
    while (buffers_.size() < target)
        buffers_.emplace_back(memory_, kMemoryPageSize);
}

TABSPageNo TABSMemoryPageManager::AllocateStoragePage() {
    std::lock_guard lock(Mutex());
    TABSPageNo pageNo = used_.FindFirst(false);
    if (pageNo < 0 || pageNo >= capacity_) {
        pageNo = capacity_ == 0 ? 0 : highest_ + 1;
        if (pageNo >= capacity_) {
            capacity_ += kGrowthStep;
            used_.Resize(capacity_);
        }
    }
    if (used_.Get(pageNo))
        RaiseError(kNotReleasedPageAllocatedError, "Not released page is allocated");
    EnsureBuffers(pageNo);
    used_.Set(pageNo);
    ++usedCount_;
    highest_ = std::max(highest_, pageNo);
    return pageNo;
}

void TABSMemoryPageManager::ReleaseStoragePage(TABSPageNo pageNo) {
    std::lock_guard lock(Mutex());
    if (!IsUsed(pageNo))
        return;
    used_.Clear(pageNo);
    --usedCount_;
}

void TABSMemoryPageManager::ReadStoragePage(TABSPageNo pageNo, std::span<std::uint8_t> out) const {
    std::lock_guard lock(Mutex());
    if (!IsUsed(pageNo))
        RaiseError(kMemoryPageReadError, "Not released page is allocated");
    std::memcpy(out.data(), buffers_[static_cast<std::size_t>(pageNo)].Data(), std::min(out.size(), kMemoryPageSize));
}

void TABSMemoryPageManager::WriteStoragePage(TABSPageNo pageNo, std::span<const std::uint8_t> in) {
    std::lock_guard lock(Mutex());
    if (!IsUsed(pageNo))
        RaiseError(kMemoryPageWriteError, "Not released page is allocated");
    std::memcpy(buffers_[static_cast<std::size_t>(pageNo)].Data(), in.data(), std::min(in.size(), kMemoryPageSize));
}

void TABSMemoryPageManager::ReadPageFromStorage(TABSPage& page, bool) { ReadStoragePage(page.PageNo(), page.Bytes()); }

void TABSMemoryPageManager::WritePageToStorage(TABSPage& page) { WriteStoragePage(page.PageNo(), page.Bytes()); }

void TABSMemoryPageManager::FreePageNos(const std::vector<TABSPageNo>& pageNos) {
    for (TABSPageNo pageNo : pageNos)
        ReleaseStoragePage(pageNo);
}

void TABSMemoryPageManager::SaveToStream(TABSStream& stream) const {
    std::lock_guard lock(Mutex());
    std::uint8_t head[20];
    WriteI32(head, capacity_);
    WriteI32(head + 4, highest_);
    WriteI32(head + 8, kGrowthStep);
    WriteU16(head + 12, static_cast<std::uint16_t>(kMemoryPageSize));
    WriteU16(head + 14, static_cast<std::uint16_t>(PageHeader::kSize));
    WriteI32(head + 16, usedCount_);
    WriteAll(stream, head, sizeof head);
    used_.SaveToStream(stream);
    static const std::array<std::uint8_t, kMemoryPageSize> kZeroPage{};
    for (std::int32_t pageNo = 0; pageNo < capacity_; ++pageNo) {
        const auto index = static_cast<std::size_t>(pageNo);
        WriteAll(stream, index < buffers_.size() ? buffers_[index].Data() : kZeroPage.data(), kMemoryPageSize);
    }
}

void TABSMemoryPageManager::LoadFromStream(TABSStream& stream) {
    std::lock_guard lock(Mutex());
    std::uint8_t head[20];
    ReadAll(stream, head, sizeof head);
    const std::int32_t capacity = ReadI32(head);
    const std::int32_t highest = ReadI32(head + 4);
    const std::uint16_t pageSize = ReadU16(head + 12);
    const std::uint16_t headerSize = ReadU16(head + 14);
    const std::int32_t usedCount = ReadI32(head + 16);
    TABSBitsArray used;
    used.LoadFromStream(stream);
    if (capacity < 0 || pageSize != kMemoryPageSize || headerSize != PageHeader::kSize ||
        used.BitCount() != capacity || used.SetBitCount() != usedCount || highest >= capacity ||
        (used.FindLast(true) > highest))
        RaiseError(kMemoryPageStreamError, "Invalid page manager stream");
    std::vector<TABSMemoryBlock> buffers;
    buffers.reserve(static_cast<std::size_t>(capacity));
    for (std::int32_t pageNo = 0; pageNo < capacity; ++pageNo) {
        buffers.emplace_back(memory_, kMemoryPageSize);
        ReadAll(stream, buffers.back().Data(), kMemoryPageSize);
    }
    ClearAllPages();
    capacity_ = capacity;
    highest_ = highest;
    usedCount_ = usedCount;
    used_ = std::move(used);
    buffers_ = std::move(buffers);
}

// =============================================================================================
// TABSMemoryRecordManager

TABSMemoryRecordManager::TABSMemoryRecordManager(std::size_t recordSize, TABSMemoryManager& memory)
    : recordSize_(recordSize), memory_(memory), records_(), deleted_() {
    assert(recordSize > 0);
}

std::uint8_t* TABSMemoryRecordManager::SlotBytes(std::int64_t slot) noexcept {
    return records_.Data() + static_cast<std::size_t>(slot) * recordSize_;
}

bool TABSMemoryRecordManager::IsStored(std::int64_t slot) const noexcept {
    if (count_ == 0 || slot < lowest_ || slot > highest_)
        return false;
    return ((deleted_.Data()[slot / 8] >> (slot % 8)) & 1U) == 0;
}

void TABSMemoryRecordManager::Grow() {
    const std::int64_t capacity = capacity_ + kGrowthStep;
    TABSMemoryBlock records(memory_, static_cast<std::size_t>(capacity) * recordSize_);
    TABSMemoryBlock deleted(memory_, static_cast<std::size_t>((capacity + 7) / 8));
    if (!records_.Empty())
        std::memcpy(records.Data(), records_.Data(), records_.Size());
    if (!deleted_.Empty())
        std::memcpy(deleted.Data(), deleted_.Data(), deleted_.Size());
    // Slots that were never used count as empty.
    for (std::int64_t slot = capacity_; slot < capacity; ++slot)
        deleted.Data()[slot / 8] = static_cast<std::uint8_t>(deleted.Data()[slot / 8] | (1U << (slot % 8)));
    records_ = std::move(records);
    deleted_ = std::move(deleted);
    capacity_ = capacity;
}

TABSRecordID TABSMemoryRecordManager::InsertRecord(TABSSessionID, std::span<const std::uint8_t> record) {
    assert(record.size() >= recordSize_);
    const std::int64_t slot = count_ == 0 ? 0 : highest_ + 1;
    if (slot > std::numeric_limits<std::int32_t>::max())
        RaiseError(kMemoryRecordNotFoundError, "Error retreiving record");
    if (slot >= capacity_)
        Grow();
    std::memcpy(SlotBytes(slot), record.data(), recordSize_);
    deleted_.Data()[slot / 8] = static_cast<std::uint8_t>(deleted_.Data()[slot / 8] & ~(1U << (slot % 8)));
    if (count_ == 0) {
        lowest_ = slot;
        highest_ = slot;
    } else {
        lowest_ = std::min(lowest_, slot);
        highest_ = std::max(highest_, slot);
    }
    ++count_;
    ++changeCounter_;
    return IDOf(slot);
}

bool TABSMemoryRecordManager::UpdateRecord(TABSSessionID, const TABSRecordID& id, std::span<const std::uint8_t> record) {
    const std::int64_t slot = SlotOf(id);
    if (!IsStored(slot))
        RaiseError(kMemoryRecordNotFoundError, "Error retreiving record");
    std::memcpy(SlotBytes(slot), record.data(), recordSize_);
    ++changeCounter_;
    return true;
}

bool TABSMemoryRecordManager::DeleteRecord(TABSSessionID, const TABSRecordID& id) {
    const std::int64_t slot = SlotOf(id);
    if (!IsStored(slot))
        RaiseError(kMemoryRecordNotFoundError, "Error retreiving record");
    deleted_.Data()[slot / 8] = static_cast<std::uint8_t>(deleted_.Data()[slot / 8] | (1U << (slot % 8)));
    --count_;
    if (count_ == 0) {
        lowest_ = 0;
        highest_ = 0;
    } else {
        if (slot == lowest_) {
            while (!IsStored(lowest_))
                ++lowest_;
        }
        if (slot == highest_) {
            while (highest_ > lowest_ && ((deleted_.Data()[highest_ / 8] >> (highest_ % 8)) & 1U) != 0)
                --highest_;
        }
    }
    neverDeleted_ = false;
    ++changeCounter_;
    return true;
}

bool TABSMemoryRecordManager::ReadRecord(TABSSessionID, const TABSRecordID& id, std::span<std::uint8_t> record) {
    const std::int64_t slot = SlotOf(id);
    if (!IsStored(slot))
        return false;
    if (record.size() < recordSize_)
        RaiseError(kMemoryRecordNotFoundError, "Error retreiving record");
    std::memcpy(record.data(), SlotBytes(slot), recordSize_);
    return true;
}

std::optional<TABSRecordID> TABSMemoryRecordManager::FirstRecord(TABSSessionID) {
    if (count_ == 0)
        return std::nullopt;
    return IDOf(lowest_);
}

std::optional<TABSRecordID> TABSMemoryRecordManager::LastRecord(TABSSessionID) {
    if (count_ == 0)
        return std::nullopt;
    return IDOf(highest_);
}

std::optional<TABSRecordID> TABSMemoryRecordManager::NextRecord(TABSSessionID, const TABSRecordID& id) {
    if (count_ == 0)
        return std::nullopt;
    for (std::int64_t slot = std::max(SlotOf(id) + 1, lowest_); slot <= highest_; ++slot)
        if (IsStored(slot))
            return IDOf(slot);
    return std::nullopt;
}

std::optional<TABSRecordID> TABSMemoryRecordManager::PriorRecord(TABSSessionID, const TABSRecordID& id) {
    if (count_ == 0)
        return std::nullopt;
    for (std::int64_t slot = std::min(SlotOf(id) - 1, highest_); slot >= lowest_; --slot)
        if (IsStored(slot))
            return IDOf(slot);
    return std::nullopt;
}

std::uint64_t TABSMemoryRecordManager::RecordNumberOf(TABSSessionID, const TABSRecordID& id) {
    const std::int64_t slot = SlotOf(id);
    if (!IsStored(slot))
        return 0;
    if (neverDeleted_)
        return static_cast<std::uint64_t>(slot) + 1;
    std::uint64_t number = 0;
    const std::uint8_t* bits = deleted_.Data();
    for (std::int64_t byte = 0; byte < slot / 8; ++byte)
        number += kZeroBits[bits[byte]];
    for (std::int64_t bit = 0; bit <= slot % 8; ++bit)
        if (((bits[slot / 8] >> bit) & 1U) == 0)
            ++number;
    return number;
}

std::optional<TABSRecordID> TABSMemoryRecordManager::RecordAtNumber(TABSSessionID, std::uint64_t recNo) {
    if (recNo == 0 || recNo > static_cast<std::uint64_t>(count_))
        return std::nullopt;
    if (neverDeleted_)
        return IDOf(static_cast<std::int64_t>(recNo) - 1);
    // Sum the stored slots byte by byte until the byte that holds the wanted one, then find it
    // inside that byte: the record has exactly recNo - 1 stored slots below it.
    const std::uint8_t* bits = deleted_.Data();
    const std::int64_t bytes = (highest_ + 8) / 8;
    std::uint64_t below = 0;
    for (std::int64_t byte = 0; byte < bytes; ++byte) {
        const std::uint64_t here = kZeroBits[bits[byte]];
        if (below + here >= recNo) {
            for (int bit = 0; bit < 8; ++bit) {
                if (((bits[byte] >> bit) & 1U) != 0)
                    continue;
                if (++below == recNo)
                    return IDOf(byte * 8 + bit);
            }
        }
        below += here;
    }
    return std::nullopt;
}

std::uint64_t TABSMemoryRecordManager::RecordPosition(const TABSRecordID& id) const {
    return static_cast<std::uint64_t>(std::max<std::int64_t>(SlotOf(id), 0));
}

TABSRecordID TABSMemoryRecordManager::RecordIDAtPosition(std::uint64_t position) const {
    return IDOf(static_cast<std::int64_t>(position));
}

std::uint64_t TABSMemoryRecordManager::PositionCount(TABSSessionID) {
    return count_ == 0 ? 0 : static_cast<std::uint64_t>(highest_) + 1;
}

void TABSMemoryRecordManager::Empty(TABSSessionID) {
    records_.Reset();
    deleted_.Reset();
    capacity_ = 0;
    count_ = 0;
    lowest_ = 0;
    highest_ = 0;
    neverDeleted_ = true;
    ++changeCounter_;
}

void TABSMemoryRecordManager::ForEachRecord(const std::function<void(std::span<std::uint8_t> record)>& visit) {
    if (count_ == 0)
        return;
    for (std::int64_t slot = lowest_; slot <= highest_; ++slot)
        if (IsStored(slot))
            visit({SlotBytes(slot), recordSize_});
}

// =============================================================================================
// TABSMemoryBlobManager

TABSMemoryBlobManager::TABSMemoryBlobManager(std::vector<TABSBlobFieldInfo> fields, TABSMemoryManager& memory)
    : TABSBaseBlobManager(std::move(fields)), memory_(memory) {}

TABSMemoryBlobManager::~TABSMemoryBlobManager() = default;

std::uint32_t TABSMemoryBlobManager::HandleOf(std::span<const std::uint8_t> record, const TABSBlobFieldInfo& field) {
    return ReadU32(field.Bytes(record).data());
}

void TABSMemoryBlobManager::SetHandle(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                                      std::uint32_t handle) {
    std::span<std::uint8_t> bytes = field.Bytes(record);
    std::fill(bytes.begin(), bytes.end(), 0);
    WriteU32(bytes.data(), handle);
}

std::uint32_t TABSMemoryBlobManager::BlockHandle(std::span<const std::uint8_t> record, std::int32_t fieldNo) const {
    return HandleOf(record, Field(fieldNo));
}

const TABSMemoryBlobManager::Block& TABSMemoryBlobManager::BlockOf(std::span<const std::uint8_t> record,
                                                                   const TABSBlobFieldInfo& field) const {
    auto it = blocks_.find(HandleOf(record, field));
    if (it == blocks_.end())
        RaiseError(kNilPointerError, "Nil pointer occured");
    return it->second;
}

std::uint32_t TABSMemoryBlobManager::AddBlock(const TABSRawBlob& value) {
    Block block{TABSMemoryBlock(memory_, kBlockHeaderSize + value.StoredBytes.size()), false};
    WriteI32(block.Bytes.Data(), value.BlockCount);
    WriteI64(block.Bytes.Data() + 4, value.UncompressedSize);
    if (!value.StoredBytes.empty())
        std::memcpy(block.Bytes.Data() + kBlockHeaderSize, value.StoredBytes.data(), value.StoredBytes.size());
    while (nextHandle_ == 0 || blocks_.contains(nextHandle_))
        ++nextHandle_;
    const std::uint32_t handle = nextHandle_++;
    blocks_.emplace(handle, std::move(block));
    return handle;
}

std::uint32_t TABSMemoryBlobManager::CopyBlock(std::uint32_t handle) {
    const Block& source = blocks_.at(handle);
    Block copy{TABSMemoryBlock(memory_, source.Bytes.Size()), false};
    std::memcpy(copy.Bytes.Data(), source.Bytes.Data(), source.Bytes.Size());
    while (nextHandle_ == 0 || blocks_.contains(nextHandle_))
        ++nextHandle_;
    const std::uint32_t copyHandle = nextHandle_++;
    blocks_.emplace(copyHandle, std::move(copy));
    return copyHandle;
}

void TABSMemoryBlobManager::SetValue(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                                     const TABSRawBlob& value) {
    // A posted block still belongs to the stored record until this buffer is posted.
    ReleaseFieldCache(record, field, true);
    SetHandle(record, field, 0);
    field.SetNull(record, true);
    if (value.UncompressedSize <= 0 && value.StoredBytes.empty())
        return;
    SetHandle(record, field, AddBlock(value));
    field.SetNull(record, false);
}

TABSBaseBlobManager::ValueInfo TABSMemoryBlobManager::ReadValue(TABSSessionID, std::span<std::uint8_t> record,
                                                                const TABSBlobFieldInfo& field, TABSStream& out) {
    if (field.IsNull(record))
        return {};
    const Block& block = BlockOf(record, field);
    const std::uint8_t* data = block.Bytes.Data();
    WriteAll(out, data + kBlockHeaderSize, block.Bytes.Size() - kBlockHeaderSize);
    return {ReadI32(data), ReadI64(data + 4)};
}

void TABSMemoryBlobManager::StoreBlobStream(TABSSessionID, std::span<std::uint8_t> record, TABSBlobStream& stream) {
    if (!stream.Modified())
        return;
    const TABSBlobFieldInfo& field = Field(stream.FieldNo());
    if (stream.Size() == 0)
        SetValue(record, field, {});
    else
        SetValue(record, field, stream.ToRaw());
    stream.SetModified(false);
}

TABSRawBlob TABSMemoryBlobManager::GetRaw(TABSSessionID, std::span<std::uint8_t> record, std::int32_t fieldNo) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    if (field.IsNull(record))
        return {};
    const Block& block = BlockOf(record, field);
    const std::uint8_t* data = block.Bytes.Data();
    TABSRawBlob raw;
    raw.BlockCount = ReadI32(data);
    raw.UncompressedSize = ReadI64(data + 4);
    raw.StoredBytes.assign(data + kBlockHeaderSize, data + block.Bytes.Size());
    return raw;
}

void TABSMemoryBlobManager::SetRaw(TABSSessionID, std::span<std::uint8_t> record, std::int32_t fieldNo,
                                   const TABSRawBlob& raw) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    if (raw.StoredSize() == 0)
        SetValue(record, field, {});
    else
        SetValue(record, field, raw);
}

void TABSMemoryBlobManager::PostRecord(TABSSessionID, std::span<std::uint8_t> record,
                                       std::span<const std::uint8_t> oldRecord) {
    journal_ = {};
    try {
        for (const TABSBlobFieldInfo& field : Fields()) {
            const std::uint32_t handle = HandleOf(record, field);
            const std::uint32_t oldHandle = oldRecord.empty() ? 0 : HandleOf(oldRecord, field);
            auto it = blocks_.find(handle);
            if (field.IsNull(record)) {
                // Made NULL without a new value: an unposted block of this buffer goes too.
                if (it != blocks_.end() && !it->second.Posted) {
                    journal_.Freed.emplace(handle, std::move(it->second));
                    blocks_.erase(it);
                }
                SetHandle(record, field, 0);
            } else if (it == blocks_.end()) {
                // No block (a stale handle of a value that is gone): the field is NULL.
                SetHandle(record, field, 0);
                field.SetNull(record, true);
            } else if (it->second.Posted && handle != oldHandle) {
                // Another record's value: this record gets its own copy.
                const std::uint32_t copy = CopyBlock(handle);
                journal_.Copies.push_back(copy);
                blocks_.at(copy).Posted = true;
                SetHandle(record, field, copy);
            } else if (!it->second.Posted) {
                it->second.Posted = true;
                journal_.Posted.push_back(handle);
            }
        }
    } catch (...) {
        AbortPost();
        throw;
    }
    // Giving the replaced values back cannot fail; they are kept aside until the next post.
    for (const TABSBlobFieldInfo& field : Fields()) {
        const std::uint32_t oldHandle = oldRecord.empty() ? 0 : HandleOf(oldRecord, field);
        if (oldHandle == 0 || oldHandle == HandleOf(record, field))
            continue;
        if (auto it = blocks_.find(oldHandle); it != blocks_.end()) {
            journal_.Freed.emplace(oldHandle, std::move(it->second));
            blocks_.erase(it);
        }
    }
}

void TABSMemoryBlobManager::AbortPost() {
    for (std::uint32_t handle : journal_.Posted)
        if (auto it = blocks_.find(handle); it != blocks_.end())
            it->second.Posted = false;
    for (std::uint32_t handle : journal_.Copies)
        blocks_.erase(handle);
    for (auto& [handle, block] : journal_.Freed)
        blocks_.insert_or_assign(handle, std::move(block));
    journal_ = {};
}

void TABSMemoryBlobManager::DeleteRecord(TABSSessionID, std::span<std::uint8_t> record) {
    journal_ = {};
    for (const TABSBlobFieldInfo& field : Fields()) {
        blocks_.erase(HandleOf(record, field));
        SetHandle(record, field, 0);
        field.SetNull(record, true);
    }
}

void TABSMemoryBlobManager::ReleaseFieldCache(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                                              bool force) {
    auto it = blocks_.find(HandleOf(record, field));
    if (it != blocks_.end() && !it->second.Posted && force) {
        blocks_.erase(it);
        SetHandle(record, field, 0);
    }
}

void TABSMemoryBlobManager::ReleaseRecordCache(std::span<std::uint8_t> record, bool force) {
    for (const TABSBlobFieldInfo& field : Fields())
        ReleaseFieldCache(record, field, force);
}

void TABSMemoryBlobManager::Empty(TABSSessionID, const TABSForEachRecord&) {
    blocks_.clear();
    journal_ = {};
}

void TABSMemoryBlobManager::Drop(TABSSessionID, const TABSForEachRecord&) {
    blocks_.clear();
    journal_ = {};
}

} // namespace kova
