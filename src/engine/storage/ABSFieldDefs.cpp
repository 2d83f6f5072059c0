#include "engine/storage/ABSFieldDefs.h"

#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/TextCodec.h"
#include "engine/storage/ABSTableList.h"

#include <algorithm>
#include <cstring>

namespace kova {

namespace {

using B = TABSBaseType;

// VarBytes keep their length through a marker: the value's bytes, one 0x80 byte, zeros. The last
// non-zero byte of the field is therefore always the marker, and a value may end in zero bytes.
constexpr std::uint8_t kVarBytesMarker = 0x80;

// Upper-cased Windows-1252 form of a UTF-8 name; names 1252 cannot hold fall back to ASCII case
// folding of the UTF-8 bytes, so the comparison never raises.
std::string NameKey(std::string_view name) {
    if (auto cp = TryUtf8ToCp1252(name)) return UpperCaseCp1252(*cp);
    std::string key(name);
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    }
    return "\x01" + key;  // cannot collide with a representable name's key
}

void WriteBinary(const TABSFieldDef& field, const TABSVariant& value, std::span<std::uint8_t> out) {
    const std::string& bytes = value.TextData();
    const std::size_t capacity = static_cast<std::size_t>(field.Size);
    if (bytes.size() > capacity) RaiseError(kBufferSizeExceededError, "Buffer size exceeded");
    std::memset(out.data(), 0, out.size());
    std::memcpy(out.data(), bytes.data(), bytes.size());
    if (field.StorageType == B::bftVarBytes) out[bytes.size()] = kVarBytesMarker;
}

void ReadBinary(const TABSFieldDef& field, std::span<const std::uint8_t> in, TABSVariant& value) {
    const auto* p = reinterpret_cast<const char*>(in.data());
    const std::size_t capacity = std::min(static_cast<std::size_t>(field.Size), in.size());
    if (field.StorageType == B::bftBytes) {
        value.SetAsBytes(std::string_view(p, capacity), B::bftBytes);
        return;
    }
    std::size_t end = in.size();
    while (end > 0 && in[end - 1] == 0) --end;
    // A field written by this codec ends in the marker; anything else is taken as it stands.
    const std::size_t length = (end > 0 && in[end - 1] == kVarBytesMarker) ? end - 1 : std::min(end, capacity);
    value.SetAsBytes(std::string_view(p, length), B::bftVarBytes);
}

[[noreturn]] void RaiseBlobValueAccess(const TABSFieldDef& field) {
    RaiseError(kUnknownCompareTypeError, "Unknown DataType: '%s'", {BaseTypeName(field.StorageType)});
}

} // namespace

std::string ObjectNameKey(std::string_view name) { return NameKey(name); }

bool SameObjectName(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin())) return true;
    return NameKey(a) == NameKey(b);
}

// ---- TABSFieldDef ----

TABSFieldDef::TABSFieldDef(std::string name, TABSColumnType columnType, std::int32_t size)
    : TABSMetaObjectDef(std::move(name), 0), StorageType(BaseTypeOfColumnType(columnType)), ColumnType(columnType),
      Size(ColumnTypeTakesSize(columnType) ? size : 0) {
    // A GUID is fixed text of 38 characters ("{…}"); it has no declared size in SQL.
    if (columnType == TABSColumnType::actGuid) Size = kGuidFieldSize;
}

std::size_t TABSFieldDef::ComputeMemorySize() const {
    return BaseTypeValueSize(StorageType, static_cast<std::size_t>(std::max(Size, 0)));
}

std::size_t TABSFieldDef::ComputeDiskSize() const {
    return IsBlob() ? kBlobDiskFieldSize : ComputeMemorySize();
}

std::int64_t TABSFieldDef::StorageMinValue() const noexcept {
    switch (StorageType) {
    case B::bftShortInt: return std::numeric_limits<std::int8_t>::min();
    case B::bftSmallInt: return std::numeric_limits<std::int16_t>::min();
    case B::bftInteger: return std::numeric_limits<std::int32_t>::min();
    case B::bftByte:
    case B::bftWord:
    case B::bftCardinal: return 0;
    default: return std::numeric_limits<std::int64_t>::min();
    }
}

std::int64_t TABSFieldDef::StorageMaxValue() const noexcept {
    switch (StorageType) {
    case B::bftShortInt: return std::numeric_limits<std::int8_t>::max();
    case B::bftSmallInt: return std::numeric_limits<std::int16_t>::max();
    case B::bftInteger: return std::numeric_limits<std::int32_t>::max();
    case B::bftByte: return std::numeric_limits<std::uint8_t>::max();
    case B::bftWord: return std::numeric_limits<std::uint16_t>::max();
    case B::bftCardinal: return std::numeric_limits<std::uint32_t>::max();
    default: return std::numeric_limits<std::int64_t>::max();
    }
}

// ---- TABSFieldDefs: definitions ----

TABSFieldDef& TABSFieldDefs::Add(TABSFieldDef def) {
    fields_.push_back(std::move(def));
    ComputeLayout();
    return fields_.back();
}

void TABSFieldDefs::Clear() noexcept {
    fields_.clear();
    memoryRecordSize_ = 0;
    diskRecordSize_ = 0;
}

const TABSFieldDef& TABSFieldDefs::FieldByNo(int fieldNo) const {
    if (fieldNo < 0 || static_cast<std::size_t>(fieldNo) >= fields_.size()) {
        RaiseError(kFieldNoNotFoundError, "Field #%d not found", {fieldNo});
    }
    return fields_[static_cast<std::size_t>(fieldNo)];
}

int TABSFieldDefs::IndexOf(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (SameObjectName(fields_[i].Name, name)) return static_cast<int>(i);
    }
    return -1;
}

const TABSFieldDef* TABSFieldDefs::Find(std::string_view name) const noexcept {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &fields_[static_cast<std::size_t>(i)];
}

const TABSFieldDef* TABSFieldDefs::FindByID(std::int32_t objectId) const noexcept {
    for (const TABSFieldDef& f : fields_) {
        if (f.ObjectID == objectId) return &f;
    }
    return nullptr;
}

const TABSFieldDef& TABSFieldDefs::FieldByName(std::string_view name) const {
    const TABSFieldDef* f = Find(name);
    if (f == nullptr) RaiseError(kFieldNameNotFoundError, "Field '%s' not found", {name});
    return *f;
}

void TABSFieldDefs::RenameField(std::string_view oldName, std::string newName) {
    const int from = IndexOf(oldName);
    if (from < 0) RaiseError(kFieldNameNotFoundError, "Field '%s' not found", {oldName});
    const int clash = IndexOf(newName);
    if (clash >= 0 && clash != from) {
        RaiseError(kDuplicateFieldNameError, "Cannot rename field '%s'. Field '%s' already exists", {oldName, newName});
    }
    fields_[static_cast<std::size_t>(from)].Name = std::move(newName);
}

void TABSFieldDefs::ComputeLayout() {
    std::size_t memory = NullBitmapSize();
    std::size_t disk = memory;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        TABSFieldDef& f = fields_[i];
        f.FieldNo = static_cast<int>(i);
        f.MemorySize = f.ComputeMemorySize();
        f.DiskSize = f.ComputeDiskSize();
        f.MemoryOffset = memory;
        f.DiskOffset = disk;
        memory += f.MemorySize;
        disk += f.DiskSize;
    }
    memoryRecordSize_ = memory;
    diskRecordSize_ = disk;
}

bool TABSFieldDefs::HasBlobFields() const noexcept {
    return std::any_of(fields_.begin(), fields_.end(), [](const TABSFieldDef& f) { return f.IsBlob(); });
}

bool TABSFieldDefs::HasAutoIncFields() const noexcept {
    return std::any_of(fields_.begin(), fields_.end(), [](const TABSFieldDef& f) { return f.IsAutoInc(); });
}

// ---- TABSFieldDefs: record buffers ----

bool TABSFieldDefs::IsNull(std::span<const std::uint8_t> record, std::size_t fieldNo) const noexcept {
    return (record[fieldNo / 8] >> (fieldNo % 8)) & 1U;
}

void TABSFieldDefs::SetNullFlag(std::span<std::uint8_t> record, std::size_t fieldNo, bool isNull) const noexcept {
    const auto mask = static_cast<std::uint8_t>(1U << (fieldNo % 8));
    if (isNull) {
        record[fieldNo / 8] |= mask;
    } else {
        record[fieldNo / 8] &= static_cast<std::uint8_t>(~mask);
    }
}

std::span<const std::uint8_t> TABSFieldDefs::FieldBytes(std::span<const std::uint8_t> record,
                                                        std::size_t fieldNo) const noexcept {
    const TABSFieldDef& f = fields_[fieldNo];
    return record.subspan(f.MemoryOffset, f.MemorySize);
}

std::span<std::uint8_t> TABSFieldDefs::FieldBytes(std::span<std::uint8_t> record, std::size_t fieldNo) const noexcept {
    const TABSFieldDef& f = fields_[fieldNo];
    return record.subspan(f.MemoryOffset, f.MemorySize);
}

TABSVariant TABSFieldDefs::GetValue(std::span<const std::uint8_t> record, std::size_t fieldNo) const {
    const TABSFieldDef& f = FieldByNo(static_cast<int>(fieldNo));
    if (f.IsBlob()) RaiseBlobValueAccess(f);
    TABSVariant value(f.StorageType);
    if (IsNull(record, fieldNo)) return value;
    const auto bytes = FieldBytes(record, fieldNo);
    if (f.StorageType == B::bftBytes || f.StorageType == B::bftVarBytes) {
        ReadBinary(f, bytes, value);
    } else {
        value.ReadFromBuffer(f.StorageType, bytes);
    }
    return value;
}

void TABSFieldDefs::SetValue(std::span<std::uint8_t> record, std::size_t fieldNo, const TABSVariant& value) const {
    if (fieldNo >= fields_.size()) {
        RaiseError(kFieldNoNotFoundOnWriteError, "Field #%d not found", {static_cast<int>(fieldNo)});
    }
    const TABSFieldDef& f = fields_[fieldNo];
    if (f.IsBlob()) RaiseBlobValueAccess(f);
    const auto bytes = FieldBytes(record, fieldNo);
    if (value.IsNull()) {
        std::memset(bytes.data(), 0, bytes.size());
        SetNullFlag(record, fieldNo, true);
        return;
    }
    // Encode into scratch first: a value that cannot be stored leaves the record as it was.
    TABSVariant converted(value);
    if (converted.BaseType() != f.StorageType) converted.ConvertTo(f.StorageType);
    std::vector<std::uint8_t> scratch(bytes.size());
    bool isNull = converted.IsNull();
    if (!isNull) {
        if (f.StorageType == B::bftBytes || f.StorageType == B::bftVarBytes) {
            WriteBinary(f, converted, scratch);
        } else {
            converted.WriteToBuffer(scratch);
            // An empty text is stored as null: a text whose first character is the terminator.
            if (IsAnsiTextType(f.StorageType)) isNull = scratch[0] == 0;
            if (IsWideTextType(f.StorageType)) isNull = scratch[0] == 0 && scratch[1] == 0;
        }
    }
    if (isNull) std::fill(scratch.begin(), scratch.end(), std::uint8_t{0});
    std::memcpy(bytes.data(), scratch.data(), scratch.size());
    SetNullFlag(record, fieldNo, isNull);
}

std::vector<std::uint8_t> TABSFieldDefs::NewRecord() const {
    std::vector<std::uint8_t> record(memoryRecordSize_, 0);
    for (std::size_t i = 0; i < fields_.size(); ++i) SetNullFlag(record, i, true);
    return record;
}

void TABSFieldDefs::MemoryToDisk(std::span<const std::uint8_t> memory, std::span<std::uint8_t> disk) const noexcept {
    const std::size_t bitmap = NullBitmapSize();
    std::memcpy(disk.data(), memory.data(), bitmap);
    for (const TABSFieldDef& f : fields_) {
        std::memcpy(disk.data() + f.DiskOffset, memory.data() + f.MemoryOffset, f.DiskSize);
    }
}

void TABSFieldDefs::DiskToMemory(std::span<const std::uint8_t> disk, std::span<std::uint8_t> memory) const noexcept {
    const std::size_t bitmap = NullBitmapSize();
    std::memcpy(memory.data(), disk.data(), bitmap);
    for (const TABSFieldDef& f : fields_) {
        std::memcpy(memory.data() + f.MemoryOffset, disk.data() + f.DiskOffset, f.DiskSize);
        // The memory-only tail of a BLOB field (its cache handle) starts empty.
        if (f.MemorySize > f.DiskSize) {
            std::memset(memory.data() + f.MemoryOffset + f.DiskSize, 0, f.MemorySize - f.DiskSize);
        }
    }
}

} // namespace kova
