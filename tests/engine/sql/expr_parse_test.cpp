// Expression grammar: precedence, the order in which alternatives are tried, the parser's
// rewrites (empty literal, LIKE prefix, partial keys, the per-comparison choice of SQL null
// semantics) and the expression parse errors.
#include "engine/sql/ABSSQLErrors.h"
#include "sql_test_util.h"

#include <gtest/gtest.h>

namespace kova {
namespace {

using sqltest::Condition;
using sqltest::ErrorOf;
using sqltest::Render;
using sqltest::Value;

struct ParseCase {
    const char* text;
    const char* tree;
};

class ValueTrees : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ValueTrees, ParseWithPrecedence) {
    auto e = Value(GetParam().text);
    ASSERT_TRUE(e);
    EXPECT_EQ(Render(*e), GetParam().tree) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueTrees,
    ::testing::Values(ParseCase{"1 + 2 * 3", "(+ 1 (* 2 3))"},
                      ParseCase{"-2 * 3", "(* (neg 2) 3)"},
                      ParseCase{"1 - 2 - 3", "(+ 1 (neg 2) (neg 3))"},
                      ParseCase{"(1 + 2) * 3", "(* (+ 1 2) 3)"},
                      ParseCase{"8 / 4 / 2", "(/ (/ 8 4) 2)"},
                      ParseCase{"a * -b", "(* a (neg b))"},
                      // Text constants are refused by arithmetic; the text rule takes them.
                      ParseCase{"'a' || 'b' || NULL", "(|| 'a' 'b' null)"},
                      ParseCase{"Name + 'x'", "(|| Name 'x')"},
                      ParseCase{"'x' + 1", "(|| 'x' 1)"},
                      // An additive expression followed by "||" is not additive.
                      ParseCase{"1 + 2 || 'x'", "(|| 1 2 'x')"},
                      ParseCase{"Vorname + Name", "(+ Vorname Name)"},
                      ParseCase{"UPPER(VarName)", "(op26 VarName)"},
                      ParseCase{"Length(Name)", "(op31 Name)"},
                      ParseCase{"n.ID", "n.ID"},
                      ParseCase{"[Mein Feld]", "Mein Feld"},
                      ParseCase{"ROUND(2.675, 2, HALFUP)", "(f61 2.675 2)"},
                      ParseCase{"CASE a WHEN 1 THEN 'x' ELSE 'y' END", "(case a 1 'x' 'y')"},
                      ParseCase{"COALESCE(a, b, 'c')", "(case a b 'c')"},
                      ParseCase{"CAST(a AS Integer)", "(cast a)"},
                      ParseCase{"NULL", "null"},
                      ParseCase{"TRUE", "true"},
                      ParseCase{"''", "null"},
                      ParseCase{"2147483646", "2147483646"},
                      ParseCase{"2147483647", "2147483647"}));

TEST(ValueTypes, IntegerLiteralsUpTo2147483646AreIntegersLargerOnesLargeInt) {
    EXPECT_EQ(Value("2147483646")->Evaluate().BaseType(), TABSBaseType::bftInteger);
    EXPECT_EQ(Value("2147483647")->Evaluate().BaseType(), TABSBaseType::bftLargeInt);
    EXPECT_EQ(Value("1.5E+3")->Evaluate().BaseType(), TABSBaseType::bftDouble);
    EXPECT_EQ(Value("''")->Evaluate().BaseType(), TABSBaseType::bftString);
    EXPECT_EQ(Value("NULL")->Evaluate().BaseType(), TABSBaseType::bftInteger);
}

class ConditionTrees : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ConditionTrees, ParseWithRewrites) {
    auto e = Condition(GetParam().text);
    EXPECT_EQ(Render(*e), GetParam().tree) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConditionTrees,
    ::testing::Values(
        ParseCase{"a = 1 OR b = 2 AND c = 3", "(OR (= a 1) (AND (= b 2) (= c 3)))"},
        ParseCase{"a = 1 OR b = 2 OR c = 3", "(OR (OR (= a 1) (= b 2)) (= c 3))"},
        ParseCase{"a = 1 AND b = 2 AND c = 3", "(AND (= a 1) (= b 2) (= c 3))"},
        ParseCase{"NOT a = 1 AND b = 2", "(AND (NOT (= a 1)) (= b 2))"},
        ParseCase{"(Kuerzel=\"WK3m\" AND AlterVon<=12 AND AlterBis>=12)",
                  "(AND (=/n Kuerzel 'WK3m') (<= AlterVon 12) (>= AlterBis 12))"},
        ParseCase{"((a = 1))", "(= a 1)"},
        ParseCase{"(a) = 1", "(= a 1)"},
        ParseCase{"(a + 1) * 2 > b", "(> (* (+ a 1) 2) b)"},
        ParseCase{"(a = 1 OR b = 2) AND c = 3", "(AND (OR (= a 1) (= b 2)) (= c 3))"},
        // Null semantics decided per comparison.
        ParseCase{"Name <> 'x'", "(<>/n Name 'x')"},
        ParseCase{"'x' <> Name", "(<>/n 'x' Name)"},
        ParseCase{"Jahrgang <> 5", "(<> Jahrgang 5)"},
        ParseCase{"v.ID = n.VereinId", "(= v.ID n.VereinId)"},
        ParseCase{"UPPER(VarName) = 'X'", "(= (op26 VarName) 'X')"},
        ParseCase{"a = NULL", "(=/n a null)"},
        ParseCase{"d < DATE '2011-03-24'", "(</n d 2011-03-24)"},
        // The empty literal (a null text constant) becomes IS NULL / IS NOT NULL.
        ParseCase{"AK = ''", "(IS NULL AK)"},
        ParseCase{"AK=\"\"", "(IS NULL AK)"},
        ParseCase{"'' <> AK", "(IS NOT NULL AK)"},
        ParseCase{"AK < ''", "(</n AK null)"},
        ParseCase{"1 = ''", "(= 1 null)"},
        // LIKE with a plain prefix pattern against a column is a prefix comparison.
        ParseCase{"AK LIKE 'WK%'", "(=/p/n AK 'WK')"},
        ParseCase{"AK NOT LIKE 'WK%'", "(<>/p/n AK 'WK')"},
        ParseCase{"AK LIKE 'W%'", "(=/p/n AK 'W')"},
        ParseCase{"AK LIKE '%'", "(LIKE AK '%')"},
        ParseCase{"AK LIKE 'W_3%'", "(LIKE AK 'W_3%')"},
        ParseCase{"AK LIKE 'W%3%'", "(LIKE AK 'W%3%')"},
        ParseCase{"AK LIKE '%3m'", "(LIKE AK '%3m')"},
        ParseCase{"AK LIKE 'WK%' ESCAPE '!'", "(LIKE AK 'WK%' '!')"},
        ParseCase{"'WK3m' LIKE 'WK%'", "(LIKE 'WK3m' 'WK%')"},
        ParseCase{"AK LIKE UPPER('wk%')", "(LIKE AK (op26 'wk%'))"},
        // Predicates.
        ParseCase{"a BETWEEN 1 AND 5 AND b = 2", "(AND (BETWEEN a 1 5) (= b 2))"},
        ParseCase{"a NOT BETWEEN 1 AND 5", "(NOT BETWEEN a 1 5)"},
        ParseCase{"a IN (1, 2, 3)", "(IN a 1 2 3)"},
        ParseCase{"a NOT IN ('x')", "(NOT IN a 'x')"},
        ParseCase{"a IS NULL", "(IS NULL a)"},
        ParseCase{"a IS NOT NULL OR b IS NULL", "(OR (IS NOT NULL a) (IS NULL b))"},
        ParseCase{"a = 1 IS TRUE", "(= a 1)"},
        ParseCase{"a = 1 IS NOT FALSE", "(= a 1)"},
        ParseCase{"a = 1 IS FALSE", "(NOT (= a 1))"},
        ParseCase{"(a = 1) IS NOT TRUE", "(NOT (= a 1))"},
        ParseCase{"a = 1 IS UNKNOWN", "(IS NULL (= a 1))"},
        ParseCase{"a = 1 IS NOT UNKNOWN", "(IS NOT NULL (= a 1))"},
        ParseCase{"EXISTS (SELECT * FROM t)", "(EXISTS (subquery))"},
        ParseCase{"EXISTS ((SELECT * FROM t))", "(EXISTS (subquery))"},
        ParseCase{"NOT EXISTS (SELECT * FROM t WHERE t.a = b)", "(NOT (EXISTS (subquery)))"},
        ParseCase{"a = ANY (SELECT b FROM t)", "(= ANY a (subquery))"},
        ParseCase{"a > ALL (SELECT b FROM t)", "(> ALL a (subquery))"},
        ParseCase{"a IN (SELECT b FROM t)", "(IN a (subquery))"},
        ParseCase{"a = (SELECT MAX(b) FROM t)", "(= a (subquery))"},
        ParseCase{"TRUE", "true"},
        ParseCase{"flag AND a = 1", "(AND flag (= a 1))"}));

TEST(FilterRewrites, PartialKeyConstantLosesItsStarAndComparesAsPrefix) {
    TABSExprOptions options;
    options.partialKey = true;
    EXPECT_EQ(Render(*Condition("Name = 'Mai*'", options)), "(=/p/n Name 'Mai')");
    EXPECT_EQ(Render(*Condition("'Mai*' < Name", options)), "(>/p/n Name 'Mai')");
    EXPECT_EQ(Render(*Condition("Name = 'Mai'", options)), "(=/n Name 'Mai')");
    // Without the option the star is an ordinary character.
    EXPECT_EQ(Render(*Condition("Name = 'Mai*'")), "(=/n Name 'Mai*')");
}

TEST(FilterRewrites, LocateConditionsNeverUseSqlNullSemantics) {
    TABSExprOptions options;
    options.sqlNullSemantics = false;
    EXPECT_EQ(Render(*Condition("Jahrgang = 5 AND v.ID = n.ID", options)), "(AND (=/n Jahrgang 5) (=/n v.ID n.ID))");
    std::vector<std::string> columns{"ID", "AK"};
    std::vector<TABSVariant> values(2);
    values[0].SetAsString("N1");
    values[1].SetAsString("W4");
    auto locate = TABSExpression::MakeLocateCondition(columns, values, false, true);
    EXPECT_EQ(Render(*locate), "(AND (=/p/n ID 'N1') (=/p/n AK 'W4'))");
}

struct ErrorCase {
    const char* text;
    const char* expected;
};

class ExpressionErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ExpressionErrors, FailWithCodeMessageAndPosition) {
    EXPECT_EQ(ErrorOf([&] { (void)Condition(GetParam().text); }), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpressionErrors,
    ::testing::Values(
        ErrorCase{"", "30145: Blank SQL command"},
        ErrorCase{"a + 1", "30066: Boolean expression expected, but 'a' found at line 1, column 1"},
        ErrorCase{"'x'", "30066: Boolean expression expected, but 'x' found at line 1, column 1"},
        ErrorCase{"a = 1 OR", "30080: Unexpected end of SQL command found at line 1, column 7"},
        ErrorCase{"a = 1 AND )", "30060: Unexpected symbol ')' found at line 1, column 11"},
        ErrorCase{"a = 1 AND * b", "30066: Boolean expression expected, but '*' found at line 1, column 11"},
        ErrorCase{"a = 1 b", "20260: End of SQL command expected, but 'b' found at line 1, column 7"},
        ErrorCase{"a IS MAYBE", "30063: Token 'TRUE, FALSE or UNKNOWN' expected, but 'MAYBE' found at line 1, column 6"},
        ErrorCase{"UPPER() = 'A'", "30084: Argument expected for function 'UPPER' at line 1, column 7"},
        ErrorCase{"UPPER(TRUE) = 'A'",
                  "30083: String argument expected for function 'UPPER', but 'TRUE' found at line 1, column 7"},
        ErrorCase{"LENGTH() > 1", "30084: Argument expected for function 'LENGTH' at line 1, column 8"},
        ErrorCase{"ABS(,) > 1", "30084: Argument expected for function 'ABS' at line 1, column 5"},
        ErrorCase{"TODATE(a, b) = 1", "30085: Const DateFormat string expected, but 'b' found at line 1, column 11"},
        ErrorCase{"TOSTRING(a, 5) = 1", "30085: Const DateFormat string expected, but '5' found at line 1, column 13"},
        ErrorCase{"COALESCE() = 1", "30086: COALESCE arguments are missed at line 1, column 10"},
        ErrorCase{"CASE = 1 END = 1",
                  "30087: Input expression for CASE function expected, but '=' found at line 1, column 6"},
        ErrorCase{"CASE WHEN 1 THEN 2 END = 2",
                  "30088: Search Condition for CASE function expected, but '1' found at line 1, column 11"},
        ErrorCase{"CASE a WHEN 1 'x' END = 1", "30063: Token 'THEN' expected, but 'x' found at line 1, column 15"},
        ErrorCase{"CASE a WHEN 1 THEN 'x' = 1", "30063: Token 'END' expected, but '=' found at line 1, column 24"},
        ErrorCase{"CAST(a AS TEXT) = 1", "30089: Cannot convert an expression to specified type: 'TEXT'"},
        ErrorCase{"EXTRACT(WEEK FROM d) = 1", "30063: Token 'YEAR or MONTH or DAY or HOUR or MINUTE or SECOND' "
                                             "expected, but 'WEEK' found at line 1, column 9"},
        ErrorCase{"SUM a > 1", "30063: Token '(' expected, but 'a' found at line 1, column 5"},
        ErrorCase{"COUNT(* > 1", "30059: Missing symbol ')' at line 1, column 6"},
        ErrorCase{"d = DATE '24.03.2011'",
                  "30063: Token 'YYYY-MM-DD' expected, but '24.03.2011' found at line 1, column 10"},
        ErrorCase{"a LIKE 'x' ESCAPE 'ab'",
                  "20294: Invalid escape character length (should be a single character) at line 1, column 19"},
        ErrorCase{"a LIKE", "30080: Unexpected end of SQL command found at line 1, column 3"},
        ErrorCase{"a BETWEEN 1 5", "30063: Token 'AND' expected, but '5' found at line 1, column 13"},
        ErrorCase{"a IN 1", "30063: Token '(' expected, but '1' found at line 1, column 6"},
        ErrorCase{"ROUND(a, 1, HALF) = 1",
                  "30063: Token 'HALFEVEN or HALFPOS or HALFNEG or HALFDOWN or HALFUP or RNDNEG or RNDPOS or RNDDOWN or "
                  "RNDUP' expected, but 'HALF' found at line 1, column 13"},
        ErrorCase{"a = 99999999999999999999", "30092: '99999999999999999999' is not a valid integer value"}));

TEST(ExpressionBinding, UnknownColumnFails) {
    sqltest::FakeRows rows;
    rows.Add("", "Name", TABSBaseType::bftString);
    auto e = Condition("Foo = 1");
    EXPECT_EQ(ErrorOf([&] { e->Bind(&rows); }), "30090: Field 'Foo' not found");
    auto qualified = Condition("x.Name = 'a'");
    EXPECT_EQ(ErrorOf([&] { qualified->Bind(&rows); }), "30090: Field 'x.Name' not found");
}

TEST(ExpressionShape, ConstantSingleColumnAndAggregates) {
    EXPECT_TRUE(Value("1 + 2 * 3")->IsConstant());
    EXPECT_FALSE(Value("a + 1")->IsConstant());
    EXPECT_FALSE(Value("NOW")->IsConstant());
    EXPECT_FALSE(Value("COUNT(*)")->IsConstant());
    auto column = Value("n.ID");
    ASSERT_NE(column->SingleColumn(), nullptr);
    EXPECT_EQ(column->SingleColumn()->Qualifier(), "n");
    EXPECT_EQ(Value("a + 1")->SingleColumn(), nullptr);
    auto aggregate = Value("SUM(a) + COUNT(*) * 2");
    EXPECT_TRUE(aggregate->HasAggregates());
    EXPECT_EQ(aggregate->Aggregates().size(), 2u);
    EXPECT_EQ(aggregate->Fields().size(), 1u);
}

} // namespace
} // namespace kova
