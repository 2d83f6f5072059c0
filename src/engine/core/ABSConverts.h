// The rules that combine values: conversion between base types, the common type of two operands,
// comparison and arithmetic. TABSVariant's methods of the same names call these.
//
// Conversion failures raise 30051 "Cannot cast from '%s' to '%s'" (a text that is no number or
// date, an overflow) or 30052 (a pair of types without a rule), naming the two base types.
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"

namespace kova {

inline constexpr int kCastFailedError = 30051;
inline constexpr int kNoCastRuleError = 30052;
inline constexpr int kIncompatibleCompareError = 30044;
inline constexpr int kUnknownCompareTypeError = 30047;
inline constexpr int kCompareNullError = 30140;
inline constexpr int kCannotInvertError = 30123;
inline constexpr int kNotNumericPlusError = 30124;
inline constexpr int kNotNumericMinusError = 30125;
inline constexpr int kNotNumericMultiplyError = 30126;
inline constexpr int kNotNumericDivideError = 30127;
inline constexpr int kDivisionError = 30128;

// What the common type is for: comparisons turn a text met by a date, time or date-time into
// that type; arithmetic keeps it text (so "+" concatenates).
enum class TCommonTypeUse : std::uint8_t { Comparison, Arithmetic };

// The type both operands are converted to; bftUnknown when they are incompatible. Not symmetric:
// the left operand picks the row.
[[nodiscard]] TABSBaseType CommonType(TABSBaseType left, TABSBaseType right, TCommonTypeUse use) noexcept;

// Converts a value in place (null stays null of the new type).
void ConvertValue(TABSVariant& value, TABSBaseType target);

// Compares two values. Null cases come first; otherwise both go to their common type (30044 when
// there is none) and compare by it: text through the locale collation (ignore case and partial
// as asked), numbers numerically, dates by day then millisecond, false before true.
[[nodiscard]] TABSCompareResult CompareValues(const TABSVariant& left, const TABSVariant& right,
                                              bool ignoreCase = false, bool partial = false);

// Arithmetic; `left` is the operand and the result. A null right operand makes the result null
// of the left type unless the left is text (which stays); a null left operand gives a copy of the
// right when either side is text, else null. Integer results wrap in their type. Division by zero
// raises 30128 "Division error: Division by zero".
void AddValues(TABSVariant& left, const TABSVariant& right);
void SubtractValues(TABSVariant& left, const TABSVariant& right);
void MultiplyValues(TABSVariant& left, const TABSVariant& right);
void DivideValues(TABSVariant& left, const TABSVariant& right);
// Numbers change sign (an unsigned value becomes the next wider signed type, so that subtracting
// an unsigned value works), Logical is negated; other types raise 30123.
void NegateValue(TABSVariant& value);

} // namespace kova
