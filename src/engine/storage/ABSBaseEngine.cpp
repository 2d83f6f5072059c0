#include "engine/storage/ABSBaseEngine.h"

#include "engine/core/ABSDateTime.h"
#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSBlob.h"

#include <chrono>
#include <ctime>

namespace kova {

namespace {

// The current local date and time as an engine date-time.
TABSDateTime LocalNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    TABSDateTime value;
    value.date = TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).value_or(0);
    value.time = TryEncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), static_cast<int>(ms)).value_or(0);
    return value;
}

bool IsNowText(const TABSVariant& value) {
    if (!IsTextType(value.BaseType()) || value.IsNull()) return false;
    std::string text = value.GetAsString();
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    }
    return text == "NOW";
}

} // namespace

// ---- TABSTableHandle ----

TABSTableHandle::TABSTableHandle(std::shared_ptr<TABSTableData> table, TABSSessionID session, bool exclusive) noexcept
    : table_(std::move(table)), session_(session), exclusive_(exclusive) {}

TABSTableHandle::TABSTableHandle(TABSTableHandle&& other) noexcept
    : table_(std::move(other.table_)), session_(other.session_), exclusive_(other.exclusive_) {}

TABSTableHandle& TABSTableHandle::operator=(TABSTableHandle&& other) noexcept {
    if (this != &other) {
        Close();
        table_ = std::move(other.table_);
        session_ = other.session_;
        exclusive_ = other.exclusive_;
    }
    return *this;
}

TABSTableHandle::~TABSTableHandle() { Close(); }

void TABSTableHandle::Close() noexcept {
    if (!table_) return;
    std::shared_ptr<TABSTableData> table = std::move(table_);
    table->CloseCursor(session_, exclusive_);
}

// ---- TABSTableData ----

TABSTableData::TABSTableData(std::string name, std::int32_t tableId) : name_(std::move(name)), tableId_(tableId) {}

TABSTableData::~TABSTableData() = default;

std::size_t TABSTableData::CursorCount() const {
    std::lock_guard lock(mutex_);
    return cursors_;
}

bool TABSTableData::IsOpenExclusively() const {
    std::lock_guard lock(mutex_);
    return exclusiveCursors_ > 0;
}

void TABSTableData::RegisterCursor(bool exclusive) {
    std::lock_guard lock(mutex_);
    ++cursors_;
    if (exclusive) ++exclusiveCursors_;
}

std::size_t TABSTableData::UnregisterCursor(bool exclusive) noexcept {
    std::lock_guard lock(mutex_);
    if (cursors_ > 0) --cursors_;
    if (exclusive && exclusiveCursors_ > 0) --exclusiveCursors_;
    return cursors_;
}

void TABSTableData::ApplyDefaults(std::span<std::uint8_t> record) const {
    for (std::size_t i = 0; i < fields_.Count(); ++i) {
        const TABSFieldDef& f = fields_[i];
        if (!f.HasDefault() || f.IsBlob() || !fields_.IsNull(record, i)) continue;
        if (IsDateTimeKind(f.StorageType) && IsNowText(f.DefaultValue)) {
            TABSVariant now;
            now.SetAsDateTime(LocalNow());
            fields_.SetValue(record, i, now);
            continue;
        }
        fields_.SetValue(record, i, f.DefaultValue);
    }
}

void TABSTableData::ReleaseRecordBuffer(std::span<std::uint8_t> record, bool force) {
    std::lock_guard lock(mutex_);
    if (TABSBaseBlobManager* blobs = BlobManager()) blobs->ReleaseRecordCache(record, force);
}

TABSBaseBlobManager& TABSTableData::RequireBlobManager(int fieldNo) {
    TABSBaseBlobManager* blobs = BlobManager();
    if (blobs == nullptr) RaiseError(kBlobNotABlobFieldError, "Field %d is not a BLOB field", {fieldNo});
    return *blobs;
}

std::unique_ptr<TABSBlobStream> TABSTableData::OpenBlobStream(TABSSessionID session, std::span<std::uint8_t> record,
                                                             int fieldNo, TABSBlobOpenMode mode) {
    std::lock_guard lock(mutex_);
    return RequireBlobManager(fieldNo).OpenBlobStream(session, record, fieldNo, mode);
}

void TABSTableData::StoreBlobStream(TABSSessionID session, std::span<std::uint8_t> record, TABSBlobStream& stream) {
    std::lock_guard lock(mutex_);
    RequireBlobManager(stream.FieldNo()).StoreBlobStream(session, record, stream);
}

TABSRawBlob TABSTableData::GetBlobRaw(TABSSessionID session, std::span<std::uint8_t> record, int fieldNo) {
    std::lock_guard lock(mutex_);
    return RequireBlobManager(fieldNo).GetRaw(session, record, fieldNo);
}

void TABSTableData::SetBlobRaw(TABSSessionID session, std::span<std::uint8_t> record, int fieldNo,
                               const TABSRawBlob& raw) {
    std::lock_guard lock(mutex_);
    RequireBlobManager(fieldNo).SetRaw(session, record, fieldNo, raw);
}

std::int64_t TABSTableData::AdvanceAutoinc(const TABSFieldDef& field, std::int64_t current) {
    const std::int64_t step = field.AutoincIncrement == 0 ? 1 : field.AutoincIncrement;
    // The field's own maximum (0: none) and the range its storage type can hold both limit it.
    std::int64_t maximum = field.StorageMaxValue();
    if (field.AutoincMaxValue != 0) maximum = std::min(maximum, field.AutoincMaxValue);
    const std::int64_t minimum = field.StorageMinValue();
    std::int64_t next = 0;
    const bool overflow = __builtin_add_overflow(current, step, &next);
    if (!overflow && next <= maximum && next >= minimum) return next;
    if (field.AutoincCycled) return std::clamp(field.AutoincMinValue, minimum, maximum);
    RaiseError(kAutoincMaxExceededError, "Autoinc max value exceeded for field '%s'", {field.Name});
}

void TABSTableData::CheckValueConstraints(std::span<const std::uint8_t> record, bool updating) const {
    for (std::size_t c = 0; c < constraints_.Count(); ++c) {
        const TABSConstraintDef& def = constraints_[c];
        const TABSConstraintKind kind = def.Kind();
        if (kind != TABSConstraintKind::NotNull && kind != TABSConstraintKind::Check) continue;
        const auto& fieldConstraint = static_cast<const TABSConstraintDefNotNull&>(def);
        const int fieldNo = fields_.IndexOf(fieldConstraint.FieldName());
        if (fieldNo < 0) continue;  // a constraint on a dropped field constrains nothing
        const TABSFieldDef& field = fields_[static_cast<std::size_t>(fieldNo)];
        const bool isNull = fields_.IsNull(record, static_cast<std::size_t>(fieldNo));
        if (kind == TABSConstraintKind::NotNull) {
            if (isNull) {
                RaiseError(updating ? kNotNullOnUpdateViolationError : kNotNullOnInsertViolationError,
                           "Constraint '%s' violated. Value in field '%s' cannot be null", {def.Name, field.Name});
            }
            continue;
        }
        if (isNull || field.IsBlob()) continue;
        const auto& check = static_cast<const TABSConstraintDefCheck&>(def);
        const TABSVariant value = fields_.GetValue(record, static_cast<std::size_t>(fieldNo));
        if (!check.MinValue.IsNull() && value.Compare(check.MinValue) == TABSCompareResult::Less) {
            RaiseError(kCheckViolationError, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                       {def.Name, field.Name, check.MinValue.GetAsString()});
        }
        if (!check.MaxValue.IsNull() && value.Compare(check.MaxValue) == TABSCompareResult::Greater) {
            RaiseError(kCheckViolationError,
                       "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                       {def.Name, field.Name, check.MaxValue.GetAsString()});
        }
    }
}

} // namespace kova
