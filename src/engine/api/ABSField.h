// A field object: one result column of an open dataset, read in the dataset's current row.
//
// Fields are made when the dataset opens and destroyed when it closes; a reference to one is
// valid only while its dataset stays open. Reading converts the column's value:
//
//   column type        AsString                 AsInteger            AsFloat         AsDateTime
//   text               the text as stored       decimal integer      decimal number  date/time text
//   integer            decimal digits           the value            the value       –
//   float, currency    shortest form, ≤15 dig.  halves to even       the value       –
//   date, time, both   process formats          –                    day fraction    day fraction
//   logical            "True" / "False"         –                    –               –
//
// "–" fails with "Cannot access field '%s' as type %s"; unreadable text fails with the
// conversion texts of ABSApiErrors.h (component errors without a prefix: a field object has no
// component name). A null value reads as "", 0 and 0.0. Texts use the process's format settings
// (FormatSettings.h) at the time of the call. Date-times travel as day fractions: days since
// 30 December 1899 with the time of day as the fraction.
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSCursor.h"

#include <cstdint>
#include <string>

namespace kova {

class TABSDataSet;

class TABSField {
public:
    TABSField(TABSDataSet& dataSet, std::size_t index, const TABSCursorColumn& column);
    TABSField(const TABSField&) = delete;
    TABSField& operator=(const TABSField&) = delete;

    [[nodiscard]] const std::string& FieldName() const noexcept { return name_; }
    // 1-based position among the dataset's fields.
    [[nodiscard]] std::size_t FieldNo() const noexcept { return index_ + 1; }
    [[nodiscard]] TFieldType DataType() const noexcept { return fieldType_; }
    [[nodiscard]] TABSBaseType BaseType() const noexcept { return baseType_; }
    [[nodiscard]] int Size() const noexcept { return size_; }
    [[nodiscard]] TABSDataSet& DataSet() const noexcept { return dataSet_; }

    // The value in the current row (null on an empty result).
    [[nodiscard]] TABSVariant Value() const;
    [[nodiscard]] bool IsNull() const { return Value().IsNull(); }

    [[nodiscard]] std::string AsString() const;
    [[nodiscard]] std::int32_t AsInteger() const;
    [[nodiscard]] double AsFloat() const;
    [[nodiscard]] double AsDateTime() const;

    // Setters for the row being edited (the dataset in edit or insert state, else "Dataset not
    // in edit or insert mode"); the value is converted to the column's type by the engine's
    // conversions. A date-time is a day fraction as above.
    void SetValue(const TABSVariant& value);
    void SetAsString(std::string_view text);
    void SetAsInteger(std::int32_t value);
    void SetAsFloat(double value);
    void SetAsDateTime(double dayFraction);
    void Clear();

private:
    [[noreturn]] void AccessError(const char* typeName) const;

    TABSDataSet& dataSet_;
    std::size_t index_;
    std::string name_;
    TFieldType fieldType_;
    TABSBaseType baseType_;
    int size_;
};

// Rounds to the nearest integer, halves to the even neighbour (2.5 → 2, 3.5 → 4, -2.5 → -2).
[[nodiscard]] long double RoundHalfEven(long double value) noexcept;

} // namespace kova
