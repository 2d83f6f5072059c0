#include "engine/core/ABSConverts.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/core/FormatSettings.h"
#include "engine/core/TextCodec.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

namespace kova {

namespace {

using B = TABSBaseType;

// ---- Table of common types ----------------------------------------------------------------------

// Rows and columns in this order; the label of each row repeats its left operand. A cell "X/Y"
// gives X for comparisons and Y for arithmetic; "-" means incompatible. Blob, Bytes and VarBytes
// have no row or column: they are incompatible with everything.
constexpr std::array<B, 21> kTableTypes{
    B::bftChar,    B::bftWideChar, B::bftString,   B::bftWideString, B::bftShortInt, B::bftSmallInt, B::bftInteger,
    B::bftLargeInt, B::bftByte,    B::bftWord,     B::bftCardinal,   B::bftSingle,   B::bftDouble,   B::bftExtended,
    B::bftDate,    B::bftTime,     B::bftDateTime, B::bftMemo,       B::bftWideMemo, B::bftLogical,  B::bftCurrency};

constexpr const char* kCommonTypeRows[21] = {
    "Chr       Chr       WChr      Str       WStr      Chr       Chr       Chr       Chr       Chr       Chr       Chr       Chr       Chr       Chr       Date/Chr  Time/Chr  DT/Chr    Chr       WChr      Chr       Chr",
    "WChr      WChr      WChr      WChr      WStr      WChr      WChr      WChr      WChr      WChr      WChr      WChr      WChr      WChr      WChr      Date/WChr Time/WChr DT/WChr   WChr      WChr      WChr      WChr",
    "Str       Str       WChr      Str       WStr      Str       Str       Str       Str       Str       Str       Str       Str       Str       Str       Date/Str  Time/Str  DT/Str    Str       WStr      Str       Str",
    "WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      WStr      Date/WStr Time/WStr DT/WStr   WStr      WStr      WStr      WStr",
    "I8        Chr       WChr      Str       WStr      I8        I16       I32       I64       I16       U16       U32       Sgl       Dbl       Ext       Date      Time      DT        -         -         I8        Cur",
    "I16       Chr       WChr      Str       WStr      I16       I16       I32       I64       I16       U16       U32       Sgl       Dbl       Ext       Date      Time      DT        -         -         I16       Cur",
    "I32       Chr       WChr      Str       WStr      I32       I32       I32       I64       I32       I32       I64       Sgl       Dbl       Ext       Date      Time      DT        -         -         I32       Cur",
    "I64       Chr       WChr      Str       WStr      I64       I64       I64       I64       I64       I64       I64       Sgl       Dbl       Ext       Date      Time      DT        -         -         I64       Cur",
    "U8        Chr       WChr      Str       WStr      I16       I16       I32       I64       U8        U16       U32       Sgl       Dbl       Ext       Date      Time      DT        -         -         U8        Cur",
    "U16       Chr       WChr      Str       WStr      I32       I32       I32       I64       U16       U16       U32       Sgl       Dbl       Ext       Date      Time      DT        -         -         U16       Cur",
    "U32       Chr       WChr      Str       WStr      I64       I64       I64       I64       U32       U32       U32       Sgl       Dbl       Ext       Date      Time      DT        -         -         U32       Cur",
    "Sgl       Chr       WChr      Str       WStr      Sgl       Sgl       Sgl       Sgl       Sgl       Sgl       Sgl       Sgl       Dbl       Ext       Date      Time      DT        -         -         Sgl       Cur",
    "Dbl       Chr       WChr      Str       WStr      Dbl       Dbl       Dbl       Dbl       Dbl       Dbl       Dbl       Dbl       Dbl       Ext       Date      Time      DT        -         -         Dbl       Cur",
    "Ext       Chr       WChr      Str       WStr      Ext       Ext       Ext       Ext       Ext       Ext       Ext       Ext       Ext       Ext       Date      Time      DT        -         -         Ext       Cur",
    "Date      Date/Chr  Date/WChr Date/Str  Date/WStr Date      Date      Date      Date      Date      Date      Date      Date      Date      Date      Date      DT        DT        -         -         -         -",
    "Time      Time/Chr  Time/WChr Time/Str  Time/WStr Time      Time      Time      Time      Time      Time      Time      Time      Time      Time      DT        Time      DT        -         -         -         -",
    "DT        DT/Chr    DT/WChr   DT/Str    DT/WStr   DT        DT        DT        DT        DT        DT        DT        DT        DT        DT        DT        DT        DT        -         -         -         -",
    "Memo      Chr       WChr      Str       WStr      -         -         -         -         -         -         -         -         -         -         -         -         -         Chr       WChr      -         -",
    "WMemo     WChr      WChr      WStr      WStr      -         -         -         -         -         -         -         -         -         -         -         -         -         WChr      WChr      -         -",
    "Bool      Chr       WChr      Str       WStr      I8        I16       I32       I64       U8        U16       U32       Sgl       Dbl       Ext       -         -         -         -         -         Bool      -",
    "Cur       Chr       WChr      Str       WStr      Cur       Cur       Cur       Cur       Cur       Cur       Cur       Sgl       Dbl       Ext       -         -         -         -         -         -         Cur",
};

B TypeOfAbbreviation(const std::string& word) {
    static constexpr std::array<std::string_view, 21> kNames{"Chr", "WChr", "Str",  "WStr", "I8",    "I16",  "I32",
                                                             "I64", "U8",   "U16",  "U32",  "Sgl",   "Dbl",  "Ext",
                                                             "Date", "Time", "DT",  "Memo", "WMemo", "Bool", "Cur"};
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == word) return kTableTypes[i];
    }
    return B::bftUnknown;
}

struct CommonTypeTables {
    B comparison[21][21]{};
    B arithmetic[21][21]{};
};

CommonTypeTables BuildTables() {
    CommonTypeTables tables;
    for (std::size_t row = 0; row < 21; ++row) {
        std::istringstream cells(kCommonTypeRows[row]);
        std::string label;
        cells >> label;
        for (std::size_t col = 0; col < 21; ++col) {
            std::string cell;
            cells >> cell;
            const auto slash = cell.find('/');
            const std::string first = slash == std::string::npos ? cell : cell.substr(0, slash);
            const std::string second = slash == std::string::npos ? cell : cell.substr(slash + 1);
            tables.comparison[row][col] = TypeOfAbbreviation(first);
            tables.arithmetic[row][col] = TypeOfAbbreviation(second);
        }
    }
    return tables;
}

const CommonTypeTables& Tables() {
    static const CommonTypeTables tables = BuildTables();
    return tables;
}

// Row or column of each base type code (-1: none), so that the lookup on every comparison is
// one array access.
constexpr std::array<int, kBaseTypeCount + 1> BuildTableIndex() {
    std::array<int, kBaseTypeCount + 1> index{};
    for (int& i : index) i = -1;
    for (std::size_t i = 0; i < kTableTypes.size(); ++i) index[static_cast<std::size_t>(kTableTypes[i])] = static_cast<int>(i);
    return index;
}
constexpr std::array<int, kBaseTypeCount + 1> kTableIndex = BuildTableIndex();

int TableIndex(B type) noexcept {
    const auto code = static_cast<std::size_t>(type);
    return code < kTableIndex.size() ? kTableIndex[code] : -1;
}

// ---- Conversion ---------------------------------------------------------------------------------

enum class Kind { None, Ansi, Wide, Int, Float, Currency, Date, Time, DateTime, Logical, Blob, Bytes };

Kind KindOf(B t) noexcept {
    if (IsAnsiTextType(t) || t == B::bftMemo) return Kind::Ansi;
    if (IsWideTextType(t) || t == B::bftWideMemo) return Kind::Wide;
    if (IsIntegerType(t)) return Kind::Int;
    if (IsFloatType(t)) return Kind::Float;
    switch (t) {
    case B::bftCurrency: return Kind::Currency;
    case B::bftDate: return Kind::Date;
    case B::bftTime: return Kind::Time;
    case B::bftDateTime: return Kind::DateTime;
    case B::bftLogical: return Kind::Logical;
    case B::bftBlob: return Kind::Blob;
    case B::bftBytes:
    case B::bftVarBytes: return Kind::Bytes;
    default: return Kind::None;
    }
}

[[noreturn]] void CastFailed(B from, B to) {
    RaiseError(kCastFailedError, "Cannot cast from '%s' to '%s'", {BaseTypeName(from), BaseTypeName(to)});
}

[[noreturn]] void NoCastRule(B from, B to) {
    RaiseError(kNoCastRuleError, "Cannot cast from '%s' to '%s'", {BaseTypeName(from), BaseTypeName(to)});
}

bool IsMemoType(B t) noexcept { return t == B::bftMemo || t == B::bftWideMemo; }

// A number or date written as text into a text target of either width.
void SetText(TABSVariant& v, const std::string& utf8, B target) {
    if (KindOf(target) == Kind::Wide) {
        v.SetAsWideString(Utf8ToUtf16(utf8), target);
    } else {
        v.SetAsString(utf8, target);
    }
}

std::string IntegerText(std::int64_t value) { return std::to_string(value); }

bool FitsFloatType(long double value, B target) noexcept {
    if (!std::isfinite(value)) return true;
    switch (target) {
    case B::bftSingle:
        return std::fabs(value) <= FLT_MAX;
    case B::bftDouble:
    case B::bftCurrency:
        return std::fabs(value) <= DBL_MAX;
    default:
        return true;
    }
}

std::optional<std::int64_t> TruncToInt64(long double value) noexcept {
    constexpr long double kLimit = 9223372036854775808.0L;  // 2^63
    if (std::isnan(value) || value >= kLimit || value < -kLimit) return std::nullopt;
    return static_cast<std::int64_t>(value);  // truncates toward zero
}

void SetFloatChecked(TABSVariant& v, long double value, B source, B target) {
    if (!FitsFloatType(value, target)) CastFailed(source, target);
    v.SetFloatValue(target, value);
}

// Number (integer or float) into a date, time or date-time target: the number counts days (date,
// date-time) or milliseconds (time).
void SetDateFromNumber(TABSVariant& v, long double value, B source, B target) {
    const auto whole = TruncToInt64(value);
    if (!whole || *whole < std::numeric_limits<std::int32_t>::min() || *whole > std::numeric_limits<std::int32_t>::max()) {
        CastFailed(source, target);
    }
    const auto number = static_cast<std::int32_t>(*whole);
    switch (target) {
    case B::bftDate:
        v.SetAsDate(number);
        break;
    case B::bftTime:
        v.SetAsTime(number);
        break;
    default: {
        const long double fraction = value - static_cast<long double>(*whole);
        v.SetAsDateTime(NormalizeDateTime(number, std::llround(fraction * kMillisecondsPerDay)));
        break;
    }
    }
}

void FromText(TABSVariant& v, B source, B target) {
    const bool wideSource = KindOf(source) == Kind::Wide;
    // Copy first: the setters below overwrite the value's text.
    const std::string text = wideSource ? Utf16ToUtf8(v.WideData()) : v.TextData();
    switch (KindOf(target)) {
    case Kind::Ansi:
        v.SetAsString(text, target);
        return;
    case Kind::Wide:
        v.SetAsWideString(wideSource ? std::u16string(v.WideData()) : Utf8ToUtf16(text), target);
        return;
    case Kind::Int: {
        const auto parsed = target == B::bftLargeInt ? TryStrToInt64(text)
                                                     : TryStrToInt32(text, target == B::bftCardinal);
        if (!parsed) CastFailed(source, target);
        v.SetIntegerValue(target, *parsed);
        return;
    }
    case Kind::Float: {
        // Always "." here, whatever the locale: SQL text writes numbers that way. Each type is
        // read in its own precision so that the value is rounded once.
        if (target == B::bftSingle) {
            const auto parsed = TryTextToSingle(text);
            if (!parsed) CastFailed(source, target);
            v.SetAsSingle(*parsed);
        } else if (target == B::bftDouble) {
            const auto parsed = TryTextToDouble(text);
            if (!parsed) CastFailed(source, target);
            v.SetAsDouble(*parsed);
        } else {
            const auto parsed = TryTextToFloat(text);
            if (!parsed) CastFailed(source, target);
            v.SetAsExtended(*parsed);
        }
        return;
    }
    case Kind::Currency: {
        const auto parsed = TryTextToDouble(text, GetFormatSettings()->DecimalSeparator);
        if (!parsed) CastFailed(source, target);
        v.SetAsCurrency(*parsed);
        return;
    }
    case Kind::Date: {
        const auto fs = GetFormatSettings();
        std::optional<std::int32_t> date;
        if (!wideSource) {
            if (const auto full = TryParseIsoDateTime(text)) {
                date = full->date;
            } else {
                date = TryParseIsoDate(text);
            }
        }
        if (!date) date = TryStrToDate(text, *fs);
        if (!date) CastFailed(source, target);
        v.SetAsDate(*date);
        return;
    }
    case Kind::Time: {
        std::optional<std::int32_t> time;
        if (!wideSource) time = TryParseIsoTime(text);
        if (!time) time = TryStrToTime(text, *GetFormatSettings());
        if (!time) CastFailed(source, target);
        v.SetAsTime(*time);
        return;
    }
    case Kind::DateTime: {
        std::optional<TABSDateTime> value;
        if (!wideSource) {
            value = TryParseIsoDateTime(text);
            if (!value) {
                if (const auto date = TryParseIsoDate(text)) value = TABSDateTime{*date, 0};
            }
        }
        if (!value) value = TryStrToDateTime(text, *GetFormatSettings());
        if (!value) CastFailed(source, target);
        v.SetAsDateTime(*value);
        return;
    }
    case Kind::Logical: {
        std::string upper = text;
        for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        v.SetAsBoolean(upper == "1" || upper == "TRUE");
        return;
    }
    case Kind::Blob:
        if (wideSource) {
            const std::u16string& wide = v.WideData();
            std::string bytes(wide.size() * 2, '\0');
            std::memcpy(bytes.data(), wide.data(), bytes.size());  // UTF-16LE: the host order
            v.SetAsBlob(bytes);
        } else {
            v.SetAsBlob(text);
        }
        return;
    default:
        NoCastRule(source, target);
    }
}

void FromInteger(TABSVariant& v, std::int64_t value, B source, B target) {
    switch (KindOf(target)) {
    case Kind::Ansi:
    case Kind::Wide:
        if (IsMemoType(target)) NoCastRule(source, target);
        SetText(v, IntegerText(value), target);
        return;
    case Kind::Int:
        v.SetIntegerValue(target, value);
        return;
    case Kind::Float:
    case Kind::Currency:
        v.SetFloatValue(target, static_cast<long double>(value));
        return;
    case Kind::Date:
        v.SetAsDate(static_cast<std::int32_t>(value));
        return;
    case Kind::Time:
        v.SetAsTime(static_cast<std::int32_t>(value));
        return;
    case Kind::DateTime:
        v.SetAsDateTime(TABSDateTime{static_cast<std::int32_t>(value), 0});
        return;
    case Kind::Logical:
        v.SetAsBoolean(value != 0);
        return;
    default:
        NoCastRule(source, target);
    }
}

void FromFloat(TABSVariant& v, long double value, B source, B target) {
    switch (KindOf(target)) {
    case Kind::Ansi:
    case Kind::Wide:
        if (IsMemoType(target)) NoCastRule(source, target);
        SetText(v, FloatToStr(value, *GetFormatSettings()), target);
        return;
    case Kind::Int: {
        const auto whole = TruncToInt64(value);
        if (!whole) CastFailed(source, target);
        v.SetIntegerValue(target, *whole);
        return;
    }
    case Kind::Float:
    case Kind::Currency:
        SetFloatChecked(v, value, source, target);
        return;
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime:
        SetDateFromNumber(v, value, source, target);
        return;
    case Kind::Logical:
        v.SetAsBoolean(value != 0);
        return;
    default:
        NoCastRule(source, target);
    }
}

void FromDateKind(TABSVariant& v, B source, B target) {
    const TABSDateTime dt = v.RawDateTime();
    const Kind sourceKind = KindOf(source);
    // The numbers the value stands for: days for dates, milliseconds for times.
    const std::int64_t number = sourceKind == Kind::Time ? dt.time : dt.date;
    switch (KindOf(target)) {
    case Kind::Ansi:
    case Kind::Wide: {
        if (IsMemoType(target)) NoCastRule(source, target);
        const auto fs = GetFormatSettings();
        const std::string text = sourceKind == Kind::Date   ? DateToStr(dt.date, *fs)
                                 : sourceKind == Kind::Time ? TimeToStr(dt.time, *fs)
                                                            : DateTimeToStr(dt, *fs);
        SetText(v, text, target);
        return;
    }
    case Kind::Int:
        v.SetIntegerValue(target, number);
        return;
    case Kind::Float:
    case Kind::Currency: {
        long double value = static_cast<long double>(number);
        if (sourceKind == Kind::DateTime) value += static_cast<long double>(dt.time) / kMillisecondsPerDay;
        v.SetFloatValue(target, value);
        return;
    }
    case Kind::Date:
        // A time has no day: its date is day 0.
        v.SetAsDate(sourceKind == Kind::Time ? 0 : dt.date);
        return;
    case Kind::Time:
        v.SetAsTime(sourceKind == Kind::Date ? 0 : dt.time);
        return;
    case Kind::DateTime:
        // Day 0 for a time, so that a date plus a time is that date at that time.
        v.SetAsDateTime(TABSDateTime{sourceKind == Kind::Time ? 0 : dt.date, sourceKind == Kind::Date ? 0 : dt.time});
        return;
    default:
        NoCastRule(source, target);
    }
}

void FromLogical(TABSVariant& v, bool value, B source, B target) {
    switch (KindOf(target)) {
    case Kind::Ansi:
    case Kind::Wide:
        if (IsMemoType(target)) NoCastRule(source, target);
        SetText(v, value ? "True" : "False", target);
        return;
    case Kind::Int:
    case Kind::Float:
    case Kind::Currency:
        FromInteger(v, value ? 1 : 0, source, target);
        return;
    default:
        NoCastRule(source, target);
    }
}

[[noreturn]] void RaiseValueIsNull() { RaiseError(kCompareNullError, "Value is Null"); }

// Points at `original` when it already has the representation of `target`, else converts a copy
// held in `storage`. Texts of the same width share a representation, so a Char column compared
// with a String constant is not copied for every row.
const TABSVariant& InType(const TABSVariant& original, B target, TABSVariant& storage) {
    const B type = original.BaseType();
    if (type == target) return original;
    const Kind kind = KindOf(type);
    if ((kind == Kind::Ansi || kind == Kind::Wide) && kind == KindOf(target)) return original;
    storage = original;
    ConvertValue(storage, target);
    return storage;
}

template <typename T>
TABSCompareResult Order(T a, T b) noexcept {
    if (a < b) return TABSCompareResult::Less;
    if (b < a) return TABSCompareResult::Greater;
    return TABSCompareResult::Equal;
}

TABSCompareResult FromInt(int c) noexcept {
    return c < 0 ? TABSCompareResult::Less : c > 0 ? TABSCompareResult::Greater : TABSCompareResult::Equal;
}

// ---- Arithmetic ---------------------------------------------------------------------------------

enum class Op { Add, Subtract, Multiply, Divide };

char OperatorChar(Op op) noexcept {
    switch (op) {
    case Op::Add: return '+';
    case Op::Subtract: return '-';
    case Op::Multiply: return '*';
    case Op::Divide: return '/';
    }
    return '?';
}

int NotNumericCode(Op op) noexcept {
    switch (op) {
    case Op::Add: return kNotNumericPlusError;
    case Op::Subtract: return kNotNumericMinusError;
    case Op::Multiply: return kNotNumericMultiplyError;
    case Op::Divide: return kNotNumericDivideError;
    }
    return kNotNumericPlusError;
}

[[noreturn]] void NotNumeric(Op op) {
    const char name[2] = {OperatorChar(op), '\0'};
    RaiseError(NotNumericCode(op), "Not numeric argument in numeric operator '%s'", {name});
}

[[noreturn]] void DivisionByZero() { RaiseError(kDivisionError, "Division error: %s", {"Division by zero"}); }

std::int64_t WrapAdd(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
std::int64_t WrapMultiply(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}
std::int64_t WrapDivide(std::int64_t a, std::int64_t b) {
    if (b == 0) DivisionByZero();
    if (b == -1) return static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(a));  // INT64_MIN / -1 wraps
    return a / b;
}

template <typename F>
long double FloatOp(B type, long double a, long double b, F f) {
    // Each float type computes in its own precision.
    switch (type) {
    case B::bftSingle:
        return f(static_cast<float>(a), static_cast<float>(b));
    case B::bftExtended:
        return f(a, b);
    default:
        return f(static_cast<double>(a), static_cast<double>(b));
    }
}

// Both operands are non-null and of type `type`.
void Combine(TABSVariant& left, const TABSVariant& right, B type, Op op) {
    switch (KindOf(type)) {
    case Kind::Ansi:
        // Only "+" joins texts; a subtraction reaching here would glue on the negated number.
        if (op != Op::Add) NotNumeric(op);
        left.SetAsString(left.TextData() + right.TextData(), type);
        return;
    case Kind::Wide:
        if (op != Op::Add) NotNumeric(op);
        left.SetAsWideString(left.WideData() + right.WideData(), type);
        return;
    case Kind::Int: {
        const std::int64_t a = left.RawInteger();
        const std::int64_t b = right.RawInteger();
        switch (op) {
        case Op::Add:
        case Op::Subtract:
            left.SetIntegerValue(type, WrapAdd(a, b));
            return;
        case Op::Multiply:
            left.SetIntegerValue(type, WrapMultiply(a, b));
            return;
        case Op::Divide:
            left.SetIntegerValue(type, WrapDivide(a, b));
            return;
        }
        return;
    }
    case Kind::Float:
    case Kind::Currency: {
        const long double a = left.RawFloat();
        const long double b = right.RawFloat();
        switch (op) {
        case Op::Add:
        case Op::Subtract:
            left.SetFloatValue(type, FloatOp(type, a, b, [](auto x, auto y) { return x + y; }));
            return;
        case Op::Multiply:
            left.SetFloatValue(type, FloatOp(type, a, b, [](auto x, auto y) { return x * y; }));
            return;
        case Op::Divide:
            if (b == 0) DivisionByZero();
            left.SetFloatValue(type, FloatOp(type, a, b, [](auto x, auto y) { return x / y; }));
            return;
        }
        return;
    }
    case Kind::Date:
    case Kind::Time: {
        if (op != Op::Add && op != Op::Subtract) NotNumeric(op);
        const TABSDateTime a = left.RawDateTime();
        const TABSDateTime b = right.RawDateTime();
        if (type == B::bftDate) {
            left.SetAsDate(static_cast<std::int32_t>(WrapAdd(a.date, b.date)));
        } else {
            left.SetAsTime(static_cast<std::int32_t>(WrapAdd(a.time, b.time)));
        }
        return;
    }
    case Kind::DateTime: {
        const TABSDateTime a = left.RawDateTime();
        const TABSDateTime b = right.RawDateTime();
        switch (op) {
        case Op::Add:
        case Op::Subtract:
            left.SetAsDateTime(NormalizeDateTime(static_cast<std::int64_t>(a.date) + b.date,
                                                 static_cast<std::int64_t>(a.time) + b.time));
            return;
        case Op::Divide:
            if (b.date == 0 || b.time == 0) DivisionByZero();
            left.SetAsDateTime(NormalizeDateTime(WrapDivide(a.date, b.date), WrapDivide(a.time, b.time)));
            return;
        case Op::Multiply:
            NotNumeric(op);
        }
        return;
    }
    case Kind::Logical: {
        const bool a = left.RawInteger() != 0;
        const bool b = right.RawInteger() != 0;
        // Multiplication is AND; addition and, oddly but by design, division are OR.
        left.SetAsBoolean(op == Op::Multiply ? (a && b) : (a || b));
        return;
    }
    default:
        NotNumeric(op);
    }
}

void Arithmetic(TABSVariant& left, const TABSVariant& right, Op op) {
    const B leftType = left.BaseType();
    if (right.IsNull()) {
        if (!IsTextType(leftType)) left.SetNull();
        return;
    }
    if (left.IsNull()) {
        // NULL + 'abc' gives 'abc': the NULL literal is a null Integer, so the right operand's
        // text-ness counts as well as the left's.
        if (IsTextType(leftType) || IsTextType(right.BaseType())) {
            left = right;
        } else {
            left.SetNull();
        }
        return;
    }
    const B type = CommonType(leftType, right.BaseType(), TCommonTypeUse::Arithmetic);
    if (type == B::bftUnknown) NotNumeric(op);
    ConvertValue(left, type);
    TABSVariant storage;
    const TABSVariant& converted = InType(right, type, storage);
    if (left.IsNull() || converted.IsNull()) RaiseValueIsNull();
    Combine(left, converted, type, op);
}

} // namespace

// ---- Public functions ---------------------------------------------------------------------------

TABSBaseType CommonType(TABSBaseType left, TABSBaseType right, TCommonTypeUse use) noexcept {
    const int row = TableIndex(left);
    const int col = TableIndex(right);
    if (row < 0 || col < 0) return B::bftUnknown;
    const CommonTypeTables& tables = Tables();
    return use == TCommonTypeUse::Comparison ? tables.comparison[row][col] : tables.arithmetic[row][col];
}

void ConvertValue(TABSVariant& value, TABSBaseType target) {
    const B source = value.BaseType();
    if (source == target) return;
    if (value.IsNull()) {
        value.SetType(target);
        return;
    }
    switch (KindOf(source)) {
    case Kind::Ansi:
    case Kind::Wide:
        FromText(value, source, target);
        return;
    case Kind::Int:
        FromInteger(value, value.RawInteger(), source, target);
        return;
    case Kind::Float:
    case Kind::Currency:
        FromFloat(value, value.RawFloat(), source, target);
        return;
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime:
        FromDateKind(value, source, target);
        return;
    case Kind::Logical:
        FromLogical(value, value.RawInteger() != 0, source, target);
        return;
    default:
        // Blob, Bytes and VarBytes convert to nothing but themselves.
        NoCastRule(source, target);
    }
}

TABSCompareResult CompareValues(const TABSVariant& left, const TABSVariant& right, bool ignoreCase, bool partial) {
    if (left.IsNull()) return right.IsNull() ? TABSCompareResult::BothNull : TABSCompareResult::LeftNull;
    if (right.IsNull()) return TABSCompareResult::RightNull;
    const B type = CommonType(left.BaseType(), right.BaseType(), TCommonTypeUse::Comparison);
    if (type == B::bftUnknown) {
        RaiseError(kIncompatibleCompareError, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                   {BaseTypeName(left.BaseType()), BaseTypeName(right.BaseType())});
    }
    TABSVariant leftStorage;
    TABSVariant rightStorage;
    const TABSVariant& a = InType(left, type, leftStorage);
    const TABSVariant& b = InType(right, type, rightStorage);
    if (a.IsNull() || b.IsNull()) RaiseValueIsNull();
    switch (KindOf(type)) {
    case Kind::Ansi:
        return FromInt(CompareText(a.TextData(), b.TextData(), ignoreCase, partial));
    case Kind::Wide:
        return FromInt(CompareWideText(a.WideData(), b.WideData(), ignoreCase, partial));
    case Kind::Int:
        return Order(a.RawInteger(), b.RawInteger());
    case Kind::Float:
    case Kind::Currency:
        return Order(a.RawFloat(), b.RawFloat());
    case Kind::Date:
        return Order(a.RawDateTime().date, b.RawDateTime().date);
    case Kind::Time:
        return Order(a.RawDateTime().time, b.RawDateTime().time);
    case Kind::DateTime: {
        const TABSCompareResult days = Order(a.RawDateTime().date, b.RawDateTime().date);
        return days != TABSCompareResult::Equal ? days : Order(a.RawDateTime().time, b.RawDateTime().time);
    }
    case Kind::Logical:
        return Order(a.RawInteger() != 0, b.RawInteger() != 0);
    default:
        RaiseError(kUnknownCompareTypeError, "Unknown DataType: '%s'", {BaseTypeName(type)});
    }
}

void AddValues(TABSVariant& left, const TABSVariant& right) { Arithmetic(left, right, Op::Add); }

void SubtractValues(TABSVariant& left, const TABSVariant& right) {
    if (right.IsNull()) {
        Arithmetic(left, right, Op::Subtract);
        return;
    }
    TABSVariant negated(right);
    NegateValue(negated);
    Arithmetic(left, negated, Op::Subtract);
}

void MultiplyValues(TABSVariant& left, const TABSVariant& right) { Arithmetic(left, right, Op::Multiply); }

void DivideValues(TABSVariant& left, const TABSVariant& right) { Arithmetic(left, right, Op::Divide); }

void NegateValue(TABSVariant& value) {
    const B type = value.BaseType();
    if (value.IsNull()) return;
    switch (KindOf(type)) {
    case Kind::Int: {
        const std::int64_t negated = WrapMultiply(value.RawInteger(), -1);
        switch (type) {
        case B::bftByte:
            value.SetIntegerValue(B::bftSmallInt, negated);
            return;
        case B::bftWord:
            value.SetIntegerValue(B::bftInteger, negated);
            return;
        case B::bftCardinal:
            value.SetIntegerValue(B::bftLargeInt, negated);
            return;
        default:
            value.SetIntegerValue(type, negated);
            return;
        }
    }
    case Kind::Float:
    case Kind::Currency:
        value.SetFloatValue(type, -value.RawFloat());
        return;
    case Kind::Logical:
        value.SetAsBoolean(value.RawInteger() == 0);
        return;
    default:
        RaiseError(kCannotInvertError, "Cannot invert value with not numeric type '%s'", {BaseTypeName(type)});
    }
}

} // namespace kova
