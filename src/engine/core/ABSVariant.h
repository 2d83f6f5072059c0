// TABSVariant: the engine's typed value with a null flag.
//
// Every column value read from a record, every constant and parameter, and every intermediate
// result of an expression is a TABSVariant. It carries a base type (ABSTypes.h) and, unless it is
// null, one value of that type:
//   8-bit text (Char, String, Memo)   UTF-8 in a std::string (the record encoder turns it into
//                                     Windows-1252; TextCodec.h is the one place that converts)
//   wide text (WideChar, WideString,  UTF-16 in a std::u16string
//   WideMemo)
//   integers, Logical                 a 64-bit integer, sign- or zero-extended from the type's
//                                     width (Logical: 0 false, any other value true)
//   Single, Double, Extended          float, double, long double (x87 80-bit)
//   Currency                          double holding the amount
//   Date, Time, DateTime              day number / milliseconds / both (ABSDateTime.h)
//   Blob, Bytes, VarBytes             the bytes in a std::string
// Numbers live in a small union, so numeric values never touch the heap; this object sits on the
// hot path of every record decode and expression evaluation.
//
// An empty text is not a value: setting "" (8-bit or wide) leaves the value null, which is how ""
// turns into NULL everywhere in the engine. A getter of another type converts a copy by the
// conversion rules (ABSConverts.h); a numeric, date or boolean getter on a null value raises
// 30016 "Value is Null", the text getters return "".
#pragma once

#include "engine/core/ABSDateTime.h"
#include "engine/core/ABSTypes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kova {

// Native error codes of value handling.
inline constexpr int kValueIsNullError = 30016;
inline constexpr int kBufferSizeExceededError = 20056;
inline constexpr int kCannotCopyDataError = 30054;

// Outcome of comparing two values: an order, or one of three null cases that the caller
// interprets (SQL conditions: never true; sorting and Locate: NullsFirstOrder).
enum class TABSCompareResult : std::int8_t {
    Less = -1,
    Equal = 0,
    Greater = 1,
    BothNull = 2,
    LeftNull = 3,
    RightNull = 4,
};

[[nodiscard]] constexpr bool IsNullResult(TABSCompareResult r) noexcept {
    return r == TABSCompareResult::BothNull || r == TABSCompareResult::LeftNull || r == TABSCompareResult::RightNull;
}

// Order for sorting, grouping, DISTINCT and Locate: two nulls are equal, a null is less than any
// value (nulls sort first in ascending order).
[[nodiscard]] constexpr int NullsFirstOrder(TABSCompareResult r) noexcept {
    switch (r) {
    case TABSCompareResult::Less:
    case TABSCompareResult::LeftNull:
        return -1;
    case TABSCompareResult::Greater:
    case TABSCompareResult::RightNull:
        return 1;
    default:
        return 0;
    }
}

// Values as a dataset hands them over (parameters, Locate keys, field values): null, the natural
// C++ value, a date-time in the day-fraction form, or bytes.
struct TDatasetDateTime {
    double dayFraction = 0;
    friend bool operator==(const TDatasetDateTime&, const TDatasetDateTime&) = default;
};
struct TDatasetBytes {
    std::string bytes;
    friend bool operator==(const TDatasetBytes&, const TDatasetBytes&) = default;
};
using TDatasetVariant = std::variant<std::monostate, bool, std::int32_t, std::int64_t, double, std::string,
                                     std::u16string, TDatasetDateTime, TDatasetBytes>;

class TABSVariant {
public:
    // Empty: no type, null.
    TABSVariant() noexcept = default;
    // Null of the given type.
    explicit TABSVariant(TABSBaseType type) noexcept : type_(type) {}

    // ---- Type and null ----
    [[nodiscard]] TABSBaseType BaseType() const noexcept { return type_; }
    // Becomes null of that type.
    void SetType(TABSBaseType type) noexcept;
    // Becomes null, keeping the type.
    void SetNull() noexcept;
    [[nodiscard]] bool IsNull() const noexcept { return null_; }
    // Copies another value; an allocation failure raises 30054 "Cannot copy data into new memory".
    void Assign(const TABSVariant& other);

    // ---- Typed setters; each sets the base type ----
    void SetAsShortInt(std::int8_t v) noexcept { SetIntegerValue(TABSBaseType::bftShortInt, v); }
    void SetAsSmallInt(std::int16_t v) noexcept { SetIntegerValue(TABSBaseType::bftSmallInt, v); }
    void SetAsInteger(std::int32_t v) noexcept { SetIntegerValue(TABSBaseType::bftInteger, v); }
    void SetAsLargeInt(std::int64_t v) noexcept { SetIntegerValue(TABSBaseType::bftLargeInt, v); }
    void SetAsByte(std::uint8_t v) noexcept { SetIntegerValue(TABSBaseType::bftByte, v); }
    void SetAsWord(std::uint16_t v) noexcept { SetIntegerValue(TABSBaseType::bftWord, v); }
    void SetAsCardinal(std::uint32_t v) noexcept { SetIntegerValue(TABSBaseType::bftCardinal, v); }
    // 8-bit text (UTF-8); `type` is Char, String (default) or Memo. "" gives null.
    void SetAsString(std::string_view text, TABSBaseType type = TABSBaseType::bftString);
    // Wide text; `type` is WideChar, WideString (default) or WideMemo. An empty text gives null.
    void SetAsWideString(std::u16string_view text, TABSBaseType type = TABSBaseType::bftWideString);
    void SetAsSingle(float v) noexcept;
    void SetAsDouble(double v) noexcept;
    void SetAsExtended(long double v) noexcept;
    void SetAsDate(std::int32_t dayNumber) noexcept;
    void SetAsTime(std::int32_t milliseconds) noexcept;
    void SetAsDateTime(TABSDateTime value) noexcept;
    void SetAsBoolean(bool v) noexcept;
    void SetAsCurrency(double v) noexcept;
    // Bytes of a Blob (no bytes give null).
    void SetAsBlob(std::string_view bytes);
    // Bytes of a Bytes (default) or VarBytes value.
    void SetAsBytes(std::string_view bytes, TABSBaseType type = TABSBaseType::bftBytes);

    // Integer of any integer type or Logical, truncated to the type's width (low bits kept).
    void SetIntegerValue(TABSBaseType type, std::int64_t value) noexcept;
    // Value of a float type or Currency. The caller has checked the range of narrower types.
    void SetFloatValue(TABSBaseType type, long double value) noexcept;

    // ---- Typed getters; another type converts a copy (may raise 30051/30052) ----
    [[nodiscard]] std::int8_t GetAsShortInt() const;
    [[nodiscard]] std::int16_t GetAsSmallInt() const;
    [[nodiscard]] std::int32_t GetAsInteger() const;
    [[nodiscard]] std::int64_t GetAsLargeInt() const;
    [[nodiscard]] std::uint8_t GetAsByte() const;
    [[nodiscard]] std::uint16_t GetAsWord() const;
    [[nodiscard]] std::uint32_t GetAsCardinal() const;
    // "" for null.
    [[nodiscard]] std::string GetAsString() const;
    [[nodiscard]] std::u16string GetAsWideString() const;
    [[nodiscard]] float GetAsSingle() const;
    [[nodiscard]] double GetAsDouble() const;
    [[nodiscard]] long double GetAsExtended() const;
    [[nodiscard]] std::int32_t GetAsDate() const;
    [[nodiscard]] std::int32_t GetAsTime() const;
    [[nodiscard]] TABSDateTime GetAsDateTime() const;
    [[nodiscard]] bool GetAsBoolean() const;
    [[nodiscard]] double GetAsCurrency() const;
    // "" for null.
    [[nodiscard]] std::string GetAsBlob() const;
    [[nodiscard]] std::string GetAsBytes() const;

    // ---- Direct access to the stored value, for the conversion rules and hot paths ----
    // REQUIRES: not null and the type is of the named class. No conversion happens.
    [[nodiscard]] std::int64_t RawInteger() const noexcept { return num_.i; }            // integers, Logical
    [[nodiscard]] long double RawFloat() const noexcept;                                 // floats, Currency
    [[nodiscard]] TABSDateTime RawDateTime() const noexcept { return num_.dt; }          // Date, Time, DateTime
    [[nodiscard]] const std::string& TextData() const noexcept { return text_; }         // 8-bit text, binary
    [[nodiscard]] const std::u16string& WideData() const noexcept { return wide_; }      // wide text

    // ---- Dataset values ----
    // Null keeps the current type; otherwise the type follows the value (bool → Logical, int32 →
    // Integer, int64 → LargeInt, double → Double, text → String / WideString, date-time →
    // DateTime, bytes → Blob).
    void SetFromDatasetVariant(const TDatasetVariant& value);
    [[nodiscard]] TDatasetVariant GetAsDatasetVariant() const;

    // Keeps the first `maxCharacters` characters of a text value (a Char(n) or String(n) field
    // takes no more); other types are left alone.
    void TruncateText(std::size_t maxCharacters);

    // Characters of a text value; -1 for other types and for null.
    [[nodiscard]] int TextLength() const noexcept;
    // Bytes the value occupies in the engine's representation (0 when null): the fixed size of a
    // number, a text's bytes plus its terminator, a binary value's bytes.
    [[nodiscard]] std::size_t DataSize() const noexcept;

    // ---- Rules (ABSConverts.h) ----
    // Converts in place; null stays null of the new type.
    void ConvertTo(TABSBaseType target);
    // Arithmetic with this value as the left operand and the result.
    void Add(const TABSVariant& right);
    void Subtract(const TABSVariant& right);
    void Multiply(const TABSVariant& right);
    void Divide(const TABSVariant& right);
    void Negate();
    [[nodiscard]] TABSCompareResult Compare(const TABSVariant& right, bool ignoreCase = false,
                                            bool partial = false) const;

    // ---- Record buffers ----
    // Writes the value in its record form (little-endian numbers, Windows-1252 or UTF-16LE text
    // with terminator, zero bytes after it; a null value writes zeros). Raises 20056 "Buffer size
    // exceeded" when the buffer is smaller than the value, 30053 for 8-bit text that Windows-1252
    // cannot hold, and 30047 for the BLOB types, whose record form is a reference the BLOB store
    // owns.
    void WriteToBuffer(std::span<std::uint8_t> buffer) const;
    // Reads a value of `type` from its record form (an empty text reads as null).
    void ReadFromBuffer(TABSBaseType type, std::span<const std::uint8_t> buffer);

private:
    [[nodiscard]] TABSVariant ConvertedCopy(TABSBaseType target) const;
    void RequireValue() const;

    TABSBaseType type_ = TABSBaseType::bftUnknown;
    bool null_ = true;
    union Number {
        std::int64_t i;
        float f;
        double d;
        long double e;
        TABSDateTime dt;
    } num_{0};
    std::string text_;
    std::u16string wide_;
};

// A statement parameter: a value with a name.
class TABSSQLParam : public TABSVariant {
public:
    TABSSQLParam() = default;
    explicit TABSSQLParam(std::string name) : name_(std::move(name)) {}

    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

private:
    std::string name_;
};

} // namespace kova
