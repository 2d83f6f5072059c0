// Native error codes and message formats of the SQL layer (lexer, statement parsers,
// expressions, date formats).
//
// Messages are used byte for byte: callers and tests refer to these constants instead of
// repeating the texts. Formats take "%s" for a token text and "%d" for numbers; the position
// formats end in "at line %d, column %d" with the 1-based line and column of the token.
#pragma once

#include <string_view>

namespace kova::sqlerr {

// --- Lexer -------------------------------------------------------------------------------
inline constexpr int kMissingParen = 30059;
inline constexpr std::string_view kMissingParenMsg = "Missing symbol ')' at line %d, column %d";
inline constexpr int kUnexpectedParen = 30060;
inline constexpr std::string_view kUnexpectedParenMsg =
    "Unexpected symbol ')' found at line %d, column %d";
inline constexpr int kUnterminatedString = 30061;
inline constexpr std::string_view kUnterminatedStringMsg = "Unterminated string at line %d, column %d";
inline constexpr int kInvalidNumericSymbol = 30062;
inline constexpr std::string_view kInvalidNumericSymbolMsg =
    "Invalid numeric symbol '%s' at line %d, column %d";
inline constexpr int kParamNotFound = 30358;
inline constexpr std::string_view kParamNotFoundMsg = "Value for parameter '%s' not found";

// --- Statement processor -----------------------------------------------------------------
inline constexpr int kBlankCommand = 30145;
inline constexpr std::string_view kBlankCommandMsg = "Blank SQL command";
inline constexpr int kSqlTokenExpectedKeyword = 30153;
inline constexpr int kSqlTokenExpectedOther = 30154;
inline constexpr std::string_view kSqlTokenExpectedMsg =
    "SQL token expected, but '%s' found at line %d, column %d";
inline constexpr std::string_view kObjectTypeExpectedMsg =
    "Object type keyword expected, but '%s' found at line %d, column %d";
inline constexpr int kCreateObjectExpected = 30147;
inline constexpr int kCreateUnexpectedEnd = 30148;
inline constexpr int kDropObjectExpected = 30149;
inline constexpr int kDropUnexpectedEnd = 30150;
inline constexpr int kAlterObjectExpected = 30151;
inline constexpr int kAlterUnexpectedEnd = 30152;
inline constexpr std::string_view kUnexpectedEndMsg =
    "Unexpected end of SQL command found at line %d, column %d";
inline constexpr int kUnexpectedEnd = 30080;  // the same text for the other statements
inline constexpr int kEndExpected = 20260;
inline constexpr std::string_view kEndExpectedMsg =
    "End of SQL command expected, but '%s' found at line %d, column %d";
inline constexpr int kNotAvailable = 30093;
inline constexpr std::string_view kNotAvailableMsg = "Execution of '%s' statements is not available";

// --- Statement grammar -------------------------------------------------------------------
inline constexpr int kTokenExpected = 30063;
inline constexpr std::string_view kTokenExpectedMsg =
    "Token '%s' expected, but '%s' found at line %d, column %d";
inline constexpr int kUnexpectedToken = 30246;
inline constexpr std::string_view kUnexpectedTokenMsg = "Unexpected token '%s' found at line %d, column %d";
inline constexpr int kQuotedPasswordExpected = 30064;
inline constexpr std::string_view kQuotedPasswordExpectedMsg =
    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d";
inline constexpr int kIntegerExpected = 30065;
inline constexpr std::string_view kIntegerExpectedMsg = "Integer expected, but '%s' found at line %d, column %d";
inline constexpr int kExpressionExpected = 30067;
inline constexpr std::string_view kExpressionExpectedMsg =
    "Expression expected, but '%s' found at line %d, column %d";
inline constexpr int kPseudonymExpected = 30068;
inline constexpr std::string_view kPseudonymExpectedMsg =
    "Field pseudonym expected, but '%s' found at line %d, column %d";
inline constexpr int kFieldListExpected = 30069;
inline constexpr std::string_view kFieldListExpectedMsg =
    "Field list expected, but '%s' found at line %d, column %d";
inline constexpr int kFieldNameExpected = 30070;
inline constexpr std::string_view kFieldNameExpectedMsg =
    "Field name expected, but '%s' found at line %d, column %d";
inline constexpr int kTableNameExpected = 30071;
inline constexpr std::string_view kTableNameExpectedMsg =
    "Table name expected, but '%s' found at line %d, column %d";
inline constexpr int kSortSpecExpected = 30072;
inline constexpr std::string_view kSortSpecExpectedMsg =
    "Sort specification expected, but '%s' found at line %d, column %d";
inline constexpr int kParenOrCommaExpected = 30073;
inline constexpr std::string_view kParenOrCommaExpectedMsg =
    "')' or ',' symbol expected, but '%s' found at line %d, column %d";
inline constexpr int kOpenParenExpected = 30074;
inline constexpr std::string_view kOpenParenExpectedMsg = "'(' symbol expected, but '%s' found at line %d, column %d";
inline constexpr int kIndexKeywordExpected = 30075;
inline constexpr std::string_view kIndexKeywordExpectedMsg =
    "'INDEX' keyword expected, but '%s' found at line %d, column %d";
inline constexpr int kIndexNameExpected = 30076;
inline constexpr std::string_view kIndexNameExpectedMsg =
    "index name expected, but '%s' found at line %d, column %d";
inline constexpr int kFieldTypeExpected = 30077;
inline constexpr std::string_view kFieldTypeExpectedMsg =
    "Field type expected, but '%s' found at line %d, column %d";
inline constexpr int kUnknownFieldType = 30232;
inline constexpr std::string_view kUnknownFieldTypeMsg = "Unknown field type '%s' at line %d, column %d";
inline constexpr int kAlterActionExpected = 30078;
inline constexpr std::string_view kAlterActionExpectedMsg =
    "ADD, DROP or MODIFY keyword expected, but '%s' found at line %d, column %d";
inline constexpr int kOnKeywordExpected = 30079;
inline constexpr std::string_view kOnKeywordExpectedMsg =
    "'ON' keyword expected, but '%s' found at line %d, column %d";
inline constexpr int kDecimalExpected = 30081;
inline constexpr std::string_view kDecimalExpectedMsg =
    "Decimal constant expected, but '%s' found at line %d, column %d";
inline constexpr int kUnsupportedAutoinc = 30082;
inline constexpr std::string_view kUnsupportedAutoincMsg =
    "Unsupported Autoinc DataType (%s) found at line %d, column %d";
inline constexpr int kUnionInto = 20272;
inline constexpr std::string_view kUnionIntoMsg =
    "UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM (select ... union select ...) instead";
inline constexpr int kFieldValueCount = 20259;
inline constexpr std::string_view kFieldValueCountMsg =
    "Number of field names doesn't equal to the number of field values: %d <> %d. Found at line %d, column %d";
inline constexpr int kErrorParsingParam = 30357;
inline constexpr std::string_view kErrorParsingParamMsg = "Error parsing parameter '%s' at line %d, column %d";

// --- Expressions -------------------------------------------------------------------------
inline constexpr int kBooleanExpected = 30066;
inline constexpr std::string_view kBooleanExpectedMsg =
    "Boolean expression expected, but '%s' found at line %d, column %d";
inline constexpr int kEscapeLength = 20294;
inline constexpr std::string_view kEscapeLengthMsg =
    "Invalid escape character length (should be a single character) at line %d, column %d";
inline constexpr int kStringArgExpected = 30083;
inline constexpr std::string_view kStringArgExpectedMsg =
    "String argument expected for function '%s', but '%s' found at line %d, column %d";
inline constexpr int kArgumentExpected = 30084;
inline constexpr std::string_view kArgumentExpectedMsg = "Argument expected for function '%s' at line %d, column %d";
inline constexpr int kConstDateFormatExpected = 30085;
inline constexpr std::string_view kConstDateFormatExpectedMsg =
    "Const DateFormat string expected, but '%s' found at line %d, column %d";
inline constexpr int kCoalesceArgs = 30086;
inline constexpr std::string_view kCoalesceArgsMsg = "COALESCE arguments are missed at line %d, column %d";
inline constexpr int kCaseInputExpected = 30087;
inline constexpr std::string_view kCaseInputExpectedMsg =
    "Input expression for CASE function expected, but '%s' found at line %d, column %d";
inline constexpr int kCaseConditionExpected = 30088;
inline constexpr std::string_view kCaseConditionExpectedMsg =
    "Search Condition for CASE function expected, but '%s' found at line %d, column %d";
inline constexpr int kCannotConvertExpr = 30089;
inline constexpr std::string_view kCannotConvertExprMsg = "Cannot convert an expression to specified type: '%s'";
inline constexpr int kFieldNotFound = 30090;
inline constexpr std::string_view kFieldNotFoundMsg = "Field '%s' not found";
inline constexpr int kNotStringArgument = 30120;
inline constexpr std::string_view kNotStringArgumentMsg = "Not string argument in function '%s'";
inline constexpr int kNotNumericAggregate = 30124;
inline constexpr std::string_view kNotNumericAggregateMsg = "Not numeric argument in numeric operator '%s'";
inline constexpr std::string_view kUnknownOperatorMsg = "Unknown operator: '%s'";
inline constexpr int kUnknownComparisonOperator = 30116;
inline constexpr int kUnknownBooleanOperator = 30117;
inline constexpr int kUnknownArithmeticOperator = 30121;
inline constexpr int kUnknownFunctionOperator = 30131;
// Conversions that the date formatter and the literal rules make themselves (digits, dates).
inline constexpr int kConvertError = 30092;
inline constexpr std::string_view kInvalidIntegerMsg = "'%s' is not a valid integer value";
inline constexpr std::string_view kInvalidDateMsg = "'%s' is not a valid date";
inline constexpr std::string_view kInvalidTimeMsg = "'%s' is not a valid time";
inline constexpr std::string_view kInvalidFloatMsg = "'%s' is not a valid floating point value";

// --- Date formats ------------------------------------------------------------------------
inline constexpr int kAmPmExpected = 30129;
inline constexpr std::string_view kAmPmExpectedMsg = "AM/PM word expected, but '%s' found";

} // namespace kova::sqlerr
