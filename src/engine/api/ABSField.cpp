#include "engine/api/ABSField.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDataSet.h"
#include "engine/core/FormatSettings.h"

#include <cmath>
#include <limits>

namespace kova {

namespace {

[[nodiscard]] bool IsFloatLike(TABSBaseType type) noexcept {
    return IsFloatType(type) || type == TABSBaseType::bftCurrency;
}

// Day fraction of a date, time or date-time value.
[[nodiscard]] double DayFractionOf(const TABSVariant& value) {
    const TABSDateTime raw = value.RawDateTime();
    switch (value.BaseType()) {
    case TABSBaseType::bftDate: return DateTimeToDayFraction({raw.date, 0});
    case TABSBaseType::bftTime: return static_cast<double>(raw.time) / kMillisecondsPerDay;
    default: return DateTimeToDayFraction(raw);
    }
}

// A decimal integer and nothing else (leading and trailing blanks allowed); the hexadecimal
// forms the general integer reader knows are no decimal integers.
[[nodiscard]] std::optional<std::int32_t> ParseDecimalInteger(std::string_view text) {
    if (text.find_first_of("$xX") != std::string_view::npos) return std::nullopt;
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const std::optional<std::int64_t> parsed = TryStrToInt32(text);
    if (!parsed) return std::nullopt;
    return static_cast<std::int32_t>(*parsed);
}

} // namespace

long double RoundHalfEven(long double value) noexcept {
    const long double lower = std::floor(value);
    const long double fraction = value - lower;
    if (fraction > 0.5L) return lower + 1;
    if (fraction < 0.5L) return lower;
    return std::fmod(lower, 2.0L) == 0 ? lower : lower + 1;
}

TABSField::TABSField(TABSDataSet& dataSet, std::size_t index, const TABSCursorColumn& column)
    : dataSet_(dataSet), index_(index), name_(column.Name), fieldType_(column.FieldType), baseType_(column.BaseType),
      size_(column.Size) {}

void TABSField::AccessError(const char* typeName) const {
    throw EDatabaseError(FormatMessage(apierr::kFieldAccess, {name_, typeName}));
}

TABSVariant TABSField::Value() const {
    TABSVariant value;
    dataSet_.ReadValue(index_, value);
    return value;
}

std::string TABSField::AsString() const {
    const TABSVariant value = Value();
    if (value.IsNull()) return {};
    const TABSBaseType type = value.BaseType();
    const std::shared_ptr<const TFormatSettings> fs = GetFormatSettings();
    if (IsIntegerType(type)) {
        return IsUnsignedIntegerType(type) ? std::to_string(static_cast<std::uint64_t>(value.RawInteger()))
                                           : std::to_string(value.RawInteger());
    }
    if (IsFloatLike(type)) return FloatToStr(value.RawFloat(), *fs);
    switch (type) {
    case TABSBaseType::bftDate: return DateToStr(value.RawDateTime().date, *fs);
    case TABSBaseType::bftTime: return TimeToStr(value.RawDateTime().time, *fs);
    case TABSBaseType::bftDateTime: return DateTimeToStr(value.RawDateTime(), *fs);
    case TABSBaseType::bftLogical: return value.RawInteger() != 0 ? "True" : "False";
    default: return value.GetAsString();  // texts as stored, binary values as their bytes
    }
}

std::int32_t TABSField::AsInteger() const {
    const TABSVariant value = Value();
    if (value.IsNull()) return 0;
    const TABSBaseType type = value.BaseType();
    if (IsTextType(type)) {
        const std::string text = value.GetAsString();
        const std::optional<std::int32_t> parsed = ParseDecimalInteger(text);
        if (!parsed) throw EDatabaseError(FormatMessage(apierr::kNotAnInteger, {text}));
        return *parsed;
    }
    long double number = 0;
    if (IsIntegerType(type)) {
        number = IsUnsignedIntegerType(type) ? static_cast<long double>(static_cast<std::uint64_t>(value.RawInteger()))
                                             : static_cast<long double>(value.RawInteger());
    } else if (IsFloatLike(type)) {
        number = RoundHalfEven(value.RawFloat());
    } else {
        AccessError("Integer");
    }
    if (!(number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())) {
        throw EDatabaseError(FormatMessage(apierr::kNotAnInteger, {FloatToStr(number, '.')}));
    }
    return static_cast<std::int32_t>(number);
}

double TABSField::AsFloat() const {
    const TABSVariant value = Value();
    if (value.IsNull()) return 0.0;
    const TABSBaseType type = value.BaseType();
    if (IsTextType(type)) {
        const std::string text = value.GetAsString();
        const std::optional<double> parsed = TryTextToDouble(text, GetFormatSettings()->DecimalSeparator);
        if (!parsed) throw EDatabaseError(FormatMessage(apierr::kNotAFloat, {text}));
        return *parsed;
    }
    if (IsSignedIntegerType(type)) return static_cast<double>(value.RawInteger());
    if (IsUnsignedIntegerType(type)) return static_cast<double>(static_cast<std::uint64_t>(value.RawInteger()));
    if (IsFloatLike(type)) return static_cast<double>(value.RawFloat());
    if (IsDateTimeKind(type)) return DayFractionOf(value);
    AccessError("Float");
}

double TABSField::AsDateTime() const {
    const TABSVariant value = Value();
    if (value.IsNull()) return 0.0;
    const TABSBaseType type = value.BaseType();
    if (IsDateTimeKind(type)) return DayFractionOf(value);
    if (IsTextType(type)) {
        const std::string text = value.GetAsString();
        const std::shared_ptr<const TFormatSettings> fs = GetFormatSettings();
        if (const std::optional<TABSDateTime> parsed = TryStrToDateTime(text, *fs)) return DateTimeToDayFraction(*parsed);
        // A time alone is a time on day 0.
        if (const std::optional<std::int32_t> time = TryStrToTime(text, *fs)) {
            return static_cast<double>(*time) / kMillisecondsPerDay;
        }
        throw EDatabaseError(FormatMessage(apierr::kNotADateTime, {text}));
    }
    AccessError("DateTime");
}

void TABSField::SetValue(const TABSVariant& value) { dataSet_.WriteValue(index_, value); }

void TABSField::SetAsString(std::string_view text) {
    TABSVariant value;
    value.SetAsString(text);
    SetValue(value);
}

void TABSField::SetAsInteger(std::int32_t number) {
    TABSVariant value;
    value.SetAsInteger(number);
    SetValue(value);
}

void TABSField::SetAsFloat(double number) {
    TABSVariant value;
    value.SetAsDouble(number);
    SetValue(value);
}

void TABSField::SetAsDateTime(double dayFraction) {
    TABSVariant value;
    value.SetFromDatasetVariant(TDatasetDateTime{dayFraction});
    SetValue(value);
}

void TABSField::Clear() { SetValue(TABSVariant()); }

} // namespace kova
