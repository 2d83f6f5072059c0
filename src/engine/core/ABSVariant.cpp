#include "engine/core/ABSVariant.h"

#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/TextCodec.h"

#include <cstring>
#include <new>

namespace kova {

namespace {

using B = TABSBaseType;

// Keeps the low bits of `value` that fit the integer type, sign- or zero-extended back.
std::int64_t NarrowInteger(B type, std::int64_t value) noexcept {
    switch (type) {
    case B::bftShortInt:
        return static_cast<std::int8_t>(value);
    case B::bftSmallInt:
        return static_cast<std::int16_t>(value);
    case B::bftInteger:
        return static_cast<std::int32_t>(value);
    case B::bftByte:
        return static_cast<std::uint8_t>(value);
    case B::bftWord:
        return static_cast<std::uint16_t>(value);
    case B::bftCardinal:
        return static_cast<std::uint32_t>(value);
    case B::bftLogical:
        return static_cast<std::int16_t>(value);
    default:
        return value;
    }
}

std::size_t FixedSize(B type) noexcept {
    switch (type) {
    case B::bftShortInt:
    case B::bftByte:
        return 1;
    case B::bftSmallInt:
    case B::bftWord:
    case B::bftLogical:
        return 2;
    case B::bftInteger:
    case B::bftCardinal:
    case B::bftSingle:
    case B::bftDate:
    case B::bftTime:
        return 4;
    case B::bftLargeInt:
    case B::bftDouble:
    case B::bftDateTime:
    case B::bftCurrency:
        return 8;
    case B::bftExtended:
        return 10;
    default:
        return 0;
    }
}

std::size_t CodePointsOf(std::u16string_view text) noexcept {
    std::size_t count = 0;
    for (char16_t unit : text) {
        if (unit < 0xDC00 || unit > 0xDFFF) ++count;  // low surrogates finish a pair
    }
    return count;
}

[[noreturn]] void RaiseBufferTooSmall() { RaiseError(kBufferSizeExceededError, "Buffer size exceeded"); }

} // namespace

// ---- Type and null ----

void TABSVariant::SetType(TABSBaseType type) noexcept {
    type_ = type;
    SetNull();
}

void TABSVariant::SetNull() noexcept {
    null_ = true;
    num_.i = 0;
    text_.clear();
    wide_.clear();
}

void TABSVariant::Assign(const TABSVariant& other) {
    try {
        *this = other;
    } catch (const std::bad_alloc&) {
        RaiseError(kCannotCopyDataError, "Cannot copy data into new memory");
    }
}

// ---- Setters ----

void TABSVariant::SetIntegerValue(TABSBaseType type, std::int64_t value) noexcept {
    if (!text_.empty()) text_.clear();
    if (!wide_.empty()) wide_.clear();
    type_ = type;
    null_ = false;
    num_.i = NarrowInteger(type, value);
}

void TABSVariant::SetFloatValue(TABSBaseType type, long double value) noexcept {
    switch (type) {
    case B::bftSingle:
        SetAsSingle(static_cast<float>(value));
        break;
    case B::bftExtended:
        SetAsExtended(value);
        break;
    case B::bftCurrency:
        SetAsCurrency(static_cast<double>(value));
        break;
    default:
        SetAsDouble(static_cast<double>(value));
        break;
    }
}

void TABSVariant::SetAsString(std::string_view text, TABSBaseType type) {
    type_ = IsAnsiTextType(type) || type == B::bftMemo ? type : B::bftString;
    wide_.clear();
    num_.i = 0;
    text_.assign(text);
    null_ = text_.empty();
}

void TABSVariant::SetAsWideString(std::u16string_view text, TABSBaseType type) {
    type_ = IsWideTextType(type) || type == B::bftWideMemo ? type : B::bftWideString;
    text_.clear();
    num_.i = 0;
    wide_.assign(text);
    null_ = wide_.empty();
}

void TABSVariant::SetAsSingle(float v) noexcept {
    SetIntegerValue(B::bftSingle, 0);
    num_.f = v;
}

void TABSVariant::SetAsDouble(double v) noexcept {
    SetIntegerValue(B::bftDouble, 0);
    num_.d = v;
}

void TABSVariant::SetAsExtended(long double v) noexcept {
    SetIntegerValue(B::bftExtended, 0);
    num_.e = v;
}

void TABSVariant::SetAsCurrency(double v) noexcept {
    SetIntegerValue(B::bftCurrency, 0);
    num_.d = v;
}

void TABSVariant::SetAsDate(std::int32_t dayNumber) noexcept {
    SetIntegerValue(B::bftDate, 0);
    num_.dt = TABSDateTime{dayNumber, 0};
}

void TABSVariant::SetAsTime(std::int32_t milliseconds) noexcept {
    SetIntegerValue(B::bftTime, 0);
    num_.dt = TABSDateTime{0, milliseconds};
}

void TABSVariant::SetAsDateTime(TABSDateTime value) noexcept {
    SetIntegerValue(B::bftDateTime, 0);
    num_.dt = value;
}

void TABSVariant::SetAsBoolean(bool v) noexcept { SetIntegerValue(B::bftLogical, v ? -1 : 0); }

void TABSVariant::SetAsBlob(std::string_view bytes) {
    type_ = B::bftBlob;
    wide_.clear();
    num_.i = 0;
    text_.assign(bytes);
    null_ = text_.empty();
}

void TABSVariant::SetAsBytes(std::string_view bytes, TABSBaseType type) {
    SetAsBlob(bytes);
    type_ = type == B::bftVarBytes ? B::bftVarBytes : B::bftBytes;
}

// ---- Getters ----

void TABSVariant::RequireValue() const {
    if (null_) RaiseError(kValueIsNullError, "Value is Null");
}

TABSVariant TABSVariant::ConvertedCopy(TABSBaseType target) const {
    TABSVariant copy(*this);
    ConvertValue(copy, target);
    copy.RequireValue();
    return copy;
}

long double TABSVariant::RawFloat() const noexcept {
    switch (type_) {
    case B::bftSingle:
        return num_.f;
    case B::bftExtended:
        return num_.e;
    default:
        return num_.d;
    }
}

namespace {

// Reads an integer of `type` from a value, converting a copy when the type differs.
template <typename T>
T IntegerOf(const TABSVariant& v, TABSBaseType type) {
    if (v.BaseType() == type && !v.IsNull()) return static_cast<T>(v.RawInteger());
    TABSVariant copy(v);
    ConvertValue(copy, type);
    if (copy.IsNull()) RaiseError(kValueIsNullError, "Value is Null");
    return static_cast<T>(copy.RawInteger());
}

} // namespace

std::int8_t TABSVariant::GetAsShortInt() const { return IntegerOf<std::int8_t>(*this, B::bftShortInt); }
std::int16_t TABSVariant::GetAsSmallInt() const { return IntegerOf<std::int16_t>(*this, B::bftSmallInt); }
std::int32_t TABSVariant::GetAsInteger() const { return IntegerOf<std::int32_t>(*this, B::bftInteger); }
std::int64_t TABSVariant::GetAsLargeInt() const { return IntegerOf<std::int64_t>(*this, B::bftLargeInt); }
std::uint8_t TABSVariant::GetAsByte() const { return IntegerOf<std::uint8_t>(*this, B::bftByte); }
std::uint16_t TABSVariant::GetAsWord() const { return IntegerOf<std::uint16_t>(*this, B::bftWord); }
std::uint32_t TABSVariant::GetAsCardinal() const { return IntegerOf<std::uint32_t>(*this, B::bftCardinal); }

std::string TABSVariant::GetAsString() const {
    if (null_) return {};
    if (IsAnsiTextType(type_) || type_ == B::bftMemo) return text_;
    TABSVariant copy(*this);
    ConvertValue(copy, B::bftString);
    return copy.text_;
}

std::u16string TABSVariant::GetAsWideString() const {
    if (null_) return {};
    if (IsWideTextType(type_) || type_ == B::bftWideMemo) return wide_;
    TABSVariant copy(*this);
    ConvertValue(copy, B::bftWideString);
    return copy.wide_;
}

float TABSVariant::GetAsSingle() const {
    if (type_ == B::bftSingle && !null_) return num_.f;
    return ConvertedCopy(B::bftSingle).num_.f;
}

double TABSVariant::GetAsDouble() const {
    if (type_ == B::bftDouble && !null_) return num_.d;
    return ConvertedCopy(B::bftDouble).num_.d;
}

long double TABSVariant::GetAsExtended() const {
    if (type_ == B::bftExtended && !null_) return num_.e;
    return ConvertedCopy(B::bftExtended).num_.e;
}

std::int32_t TABSVariant::GetAsDate() const {
    if (type_ == B::bftDate && !null_) return num_.dt.date;
    return ConvertedCopy(B::bftDate).num_.dt.date;
}

std::int32_t TABSVariant::GetAsTime() const {
    if (type_ == B::bftTime && !null_) return num_.dt.time;
    return ConvertedCopy(B::bftTime).num_.dt.time;
}

TABSDateTime TABSVariant::GetAsDateTime() const {
    if (type_ == B::bftDateTime && !null_) return num_.dt;
    return ConvertedCopy(B::bftDateTime).num_.dt;
}

bool TABSVariant::GetAsBoolean() const {
    if (type_ == B::bftLogical && !null_) return num_.i != 0;
    return ConvertedCopy(B::bftLogical).num_.i != 0;
}

double TABSVariant::GetAsCurrency() const {
    if (type_ == B::bftCurrency && !null_) return num_.d;
    return ConvertedCopy(B::bftCurrency).num_.d;
}

std::string TABSVariant::GetAsBlob() const {
    if (null_) return {};
    if (type_ == B::bftBlob) return text_;
    TABSVariant copy(*this);
    ConvertValue(copy, B::bftBlob);
    return copy.text_;
}

std::string TABSVariant::GetAsBytes() const {
    if (null_) return {};
    if (type_ == B::bftBytes || type_ == B::bftVarBytes) return text_;
    TABSVariant copy(*this);
    ConvertValue(copy, B::bftBytes);
    return copy.text_;
}

// ---- Dataset values ----

void TABSVariant::SetFromDatasetVariant(const TDatasetVariant& value) {
    struct Visitor {
        TABSVariant& v;
        void operator()(std::monostate) const { v.SetNull(); }
        void operator()(bool b) const { v.SetAsBoolean(b); }
        void operator()(std::int32_t i) const { v.SetAsInteger(i); }
        void operator()(std::int64_t i) const { v.SetAsLargeInt(i); }
        void operator()(double d) const { v.SetAsDouble(d); }
        void operator()(const std::string& s) const { v.SetAsString(s); }
        void operator()(const std::u16string& s) const { v.SetAsWideString(s); }
        void operator()(const TDatasetDateTime& dt) const { v.SetAsDateTime(DayFractionToDateTime(dt.dayFraction)); }
        void operator()(const TDatasetBytes& b) const { v.SetAsBlob(b.bytes); }
    };
    std::visit(Visitor{*this}, value);
}

TDatasetVariant TABSVariant::GetAsDatasetVariant() const {
    if (null_) return std::monostate{};
    switch (type_) {
    case B::bftShortInt:
    case B::bftSmallInt:
    case B::bftInteger:
    case B::bftByte:
    case B::bftWord:
        return static_cast<std::int32_t>(num_.i);
    case B::bftLargeInt:
    case B::bftCardinal:
        return num_.i;
    case B::bftSingle:
    case B::bftDouble:
    case B::bftExtended:
    case B::bftCurrency:
        return static_cast<double>(RawFloat());
    case B::bftDate:
    case B::bftTime:
    case B::bftDateTime:
        return TDatasetDateTime{DateTimeToDayFraction(GetAsDateTime())};
    case B::bftLogical:
        return num_.i != 0;
    case B::bftChar:
    case B::bftString:
    case B::bftMemo:
        return text_;
    case B::bftWideChar:
    case B::bftWideString:
    case B::bftWideMemo:
        return wide_;
    case B::bftBlob:
    case B::bftBytes:
    case B::bftVarBytes:
        return TDatasetBytes{text_};
    case B::bftUnknown:
        break;
    }
    return std::monostate{};
}

// ---- Sizes ----

void TABSVariant::TruncateText(std::size_t maxCharacters) {
    if (null_) return;
    if (IsAnsiTextType(type_) || type_ == B::bftMemo) {
        const std::size_t bytes = Utf8Prefix(text_, maxCharacters).size();
        text_.resize(bytes);
        null_ = text_.empty();
    } else if (IsWideTextType(type_) || type_ == B::bftWideMemo) {
        std::size_t units = 0;
        for (std::size_t chars = 0; units < wide_.size() && chars < maxCharacters; ++chars) {
            const char16_t unit = wide_[units++];
            if (unit >= 0xD800 && unit <= 0xDBFF && units < wide_.size()) ++units;  // the pair's second half
        }
        wide_.resize(units);
        null_ = wide_.empty();
    }
}

int TABSVariant::TextLength() const noexcept {
    if (null_) return -1;
    if (IsAnsiTextType(type_) || type_ == B::bftMemo) return static_cast<int>(Utf8Length(text_));
    if (IsWideTextType(type_) || type_ == B::bftWideMemo) return static_cast<int>(CodePointsOf(wide_));
    return -1;
}

std::size_t TABSVariant::DataSize() const noexcept {
    if (null_) return 0;
    if (IsAnsiTextType(type_) || type_ == B::bftMemo) return text_.size() + 1;
    if (IsWideTextType(type_) || type_ == B::bftWideMemo) return 2 * (wide_.size() + 1);
    if (IsBinaryType(type_)) return text_.size();
    return FixedSize(type_);
}

// ---- Rules ----

void TABSVariant::ConvertTo(TABSBaseType target) { ConvertValue(*this, target); }
void TABSVariant::Add(const TABSVariant& right) { AddValues(*this, right); }
void TABSVariant::Subtract(const TABSVariant& right) { SubtractValues(*this, right); }
void TABSVariant::Multiply(const TABSVariant& right) { MultiplyValues(*this, right); }
void TABSVariant::Divide(const TABSVariant& right) { DivideValues(*this, right); }
void TABSVariant::Negate() { NegateValue(*this); }

TABSCompareResult TABSVariant::Compare(const TABSVariant& right, bool ignoreCase, bool partial) const {
    return CompareValues(*this, right, ignoreCase, partial);
}

// ---- Record buffers ----

void TABSVariant::WriteToBuffer(std::span<std::uint8_t> buffer) const {
    if (type_ == B::bftBlob || type_ == B::bftMemo || type_ == B::bftWideMemo || type_ == B::bftUnknown) {
        RaiseError(kUnknownCompareTypeError, "Unknown DataType: '%s'", {BaseTypeName(type_)});
    }
    std::uint8_t* p = buffer.data();
    if (IsAnsiTextType(type_)) {
        const std::string bytes = null_ ? std::string() : Utf8ToCp1252(text_);
        if (bytes.size() + 1 > buffer.size()) RaiseBufferTooSmall();
        std::memcpy(p, bytes.data(), bytes.size());
        std::memset(p + bytes.size(), 0, buffer.size() - bytes.size());
        return;
    }
    if (IsWideTextType(type_)) {
        const std::size_t bytes = 2 * wide_.size();
        if (bytes + 2 > buffer.size()) RaiseBufferTooSmall();
        for (std::size_t i = 0; i < wide_.size(); ++i) WriteU16(p + 2 * i, static_cast<std::uint16_t>(wide_[i]));
        std::memset(p + bytes, 0, buffer.size() - bytes);
        return;
    }
    if (type_ == B::bftBytes || type_ == B::bftVarBytes) {
        if (text_.size() > buffer.size()) RaiseBufferTooSmall();
        std::memcpy(p, text_.data(), text_.size());
        std::memset(p + text_.size(), 0, buffer.size() - text_.size());
        return;
    }
    const std::size_t size = FixedSize(type_);
    if (size > buffer.size()) RaiseBufferTooSmall();
    std::memset(p, 0, buffer.size());
    if (null_) return;
    switch (type_) {
    case B::bftShortInt:
    case B::bftByte:
        p[0] = static_cast<std::uint8_t>(num_.i);
        break;
    case B::bftSmallInt:
    case B::bftWord:
    case B::bftLogical:
        WriteU16(p, static_cast<std::uint16_t>(num_.i));
        break;
    case B::bftInteger:
    case B::bftCardinal:
        WriteU32(p, static_cast<std::uint32_t>(num_.i));
        break;
    case B::bftLargeInt:
        WriteI64(p, num_.i);
        break;
    case B::bftSingle:
        WriteLE(p, num_.f);
        break;
    case B::bftDouble:
    case B::bftCurrency:
        WriteF64(p, num_.d);
        break;
    case B::bftExtended:
        // The x87 format is the first 10 bytes of long double on x86-64.
        static_assert(sizeof(long double) >= 10);
        std::memcpy(p, &num_.e, 10);
        break;
    case B::bftDate:
        WriteI32(p, num_.dt.date);
        break;
    case B::bftTime:
        WriteI32(p, num_.dt.time);
        break;
    case B::bftDateTime:
        WriteI32(p, num_.dt.date);
        WriteI32(p + 4, num_.dt.time);
        break;
    default:
        break;
    }
}

void TABSVariant::ReadFromBuffer(TABSBaseType type, std::span<const std::uint8_t> buffer) {
    const std::uint8_t* p = buffer.data();
    if (IsAnsiTextType(type)) {
        std::size_t length = 0;
        while (length < buffer.size() && p[length] != 0) ++length;
        SetAsString(Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(p), length)), type);
        return;
    }
    if (IsWideTextType(type)) {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
            const auto unit = static_cast<char16_t>(ReadU16(p + i));
            if (unit == 0) break;
            text += unit;
        }
        SetAsWideString(text, type);
        return;
    }
    if (type == B::bftBytes || type == B::bftVarBytes) {
        SetAsBytes(std::string_view(reinterpret_cast<const char*>(p), buffer.size()), type);
        return;
    }
    const std::size_t size = FixedSize(type);
    if (size == 0) RaiseError(kUnknownCompareTypeError, "Unknown DataType: '%s'", {BaseTypeName(type)});
    if (size > buffer.size()) RaiseBufferTooSmall();
    switch (type) {
    case B::bftShortInt:
    case B::bftByte:
        SetIntegerValue(type, static_cast<std::int8_t>(p[0]));
        break;
    case B::bftSmallInt:
    case B::bftWord:
    case B::bftLogical:
        SetIntegerValue(type, ReadI16(p));
        break;
    case B::bftInteger:
    case B::bftCardinal:
        SetIntegerValue(type, ReadI32(p));
        break;
    case B::bftLargeInt:
        SetIntegerValue(type, ReadI64(p));
        break;
    case B::bftSingle:
        SetAsSingle(ReadLE<float>(p));
        break;
    case B::bftDouble:
        SetAsDouble(ReadF64(p));
        break;
    case B::bftCurrency:
        SetAsCurrency(ReadF64(p));
        break;
    case B::bftExtended: {
        long double value = 0;
        std::memcpy(&value, p, 10);
        SetAsExtended(value);
        break;
    }
    case B::bftDate:
        SetAsDate(ReadI32(p));
        break;
    case B::bftTime:
        SetAsTime(ReadI32(p));
        break;
    case B::bftDateTime:
        SetAsDateTime(TABSDateTime{ReadI32(p), ReadI32(p + 4)});
        break;
    default:
        break;
    }
}

} // namespace kova
