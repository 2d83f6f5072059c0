// Expression evaluation on a fake row: three-valued logic and the null semantics of each
// comparison kind, LIKE, arithmetic and concatenation, text, numeric (ROUND with its modes and
// tolerance), date and conversion functions, CASE / COALESCE, MIMETOBIN and aggregates.
#include "engine/core/ABSDateTime.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSSQLErrors.h"
#include "sql_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace kova {
namespace {

using sqltest::Condition;
using sqltest::ErrorOf;
using sqltest::FakeRows;

// Locale-independent rendering of a result.
std::string Show(const TABSVariant& v) {
    if (v.IsNull()) return "null";
    const TABSBaseType t = v.BaseType();
    if (IsTextType(t)) return "'" + v.GetAsString() + "'";
    if (t == TABSBaseType::bftLogical) return v.GetAsBoolean() ? "true" : "false";
    if (IsIntegerType(t)) return std::to_string(v.GetAsLargeInt());
    if (IsFloatType(t)) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", v.GetAsDouble());
        return buffer;
    }
    if (t == TABSBaseType::bftTime) {
        const TTimeParts h = DecodeTime(v.GetAsTime());
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "time %02d:%02d:%02d", h.hour, h.minute, h.second);
        return buffer;
    }
    if (t == TABSBaseType::bftDate || t == TABSBaseType::bftDateTime) {
        const TABSDateTime dt = v.GetAsDateTime();
        const TDateParts d = DecodeDate(dt.date);
        const TTimeParts h = DecodeTime(dt.time);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%s %04d-%02d-%02d %02d:%02d:%02d",
                      t == TABSBaseType::bftDate ? "date" : "datetime", d.year, d.month, d.day, h.hour, h.minute,
                      h.second);
        return buffer;
    }
    return "?";
}

// A registration row: Name, Vorname, AK, Jahrgang, VereinId of n, ID of v, and a date.
class RegistrationRow : public ::testing::Test {
protected:
    void SetUp() override {
        SetCollationLocale("de_DE");
        name = rows.Add("n", "Name", TABSBaseType::bftString);
        ak = rows.Add("n", "AK", TABSBaseType::bftString);
        jahrgang = rows.Add("n", "Jahrgang", TABSBaseType::bftInteger);
        vereinId = rows.Add("n", "VereinId", TABSBaseType::bftString);
        schoolId = rows.Add("v", "ID", TABSBaseType::bftString);
        varName = rows.Add("s", "VarName", TABSBaseType::bftChar);
        datum = rows.Add("w", "Datum", TABSBaseType::bftDate);
        rows.SetText(name, "Maier");
        rows.SetText(ak, "WK3m");
        rows.SetInt(jahrgang, 2001);
        rows.SetText(vereinId, "V00000001");
        rows.SetText(schoolId, "V00000001");
        rows.SetText(varName, "MaxEinzelDiszPerName");
        rows.Value(datum).SetAsDate(*TryEncodeDate(2011, 3, 24));
    }

    std::string Cond(std::string_view text) {
        auto e = Condition(text);
        e->Bind(&rows);
        return Show(e->Evaluate());
    }
    std::string Val(std::string_view text) {
        auto e = sqltest::Value(text);
        e->Bind(&rows);
        return Show(e->Evaluate());
    }

    FakeRows rows;
    std::size_t name = 0, ak = 0, jahrgang = 0, vereinId = 0, schoolId = 0, varName = 0, datum = 0;
};

struct EvalCase {
    const char* text;
    const char* expected;
};

TEST_F(RegistrationRow, ConditionsOnAFilledRow) {
    for (const EvalCase c : {
             EvalCase{"Length(Name) > 1", "true"},
             EvalCase{"UPPER(VarName) = 'MAXEINZELDISZPERNAME'", "true"},
             EvalCase{"VarName = 'maxeinzeldiszpername'", "false"},
             EvalCase{"VarName = 'MaxEinzelDiszPerName'", "true"},
             EvalCase{"v.ID = n.VereinId", "true"},
             EvalCase{"AK = ''", "false"},
             EvalCase{"AK <> ''", "true"},
             EvalCase{"Jahrgang = 2001 AND (AK = 'WK3m' OR AK = 'x')", "true"},
             EvalCase{"Jahrgang BETWEEN 2000 AND 2005", "true"},
             EvalCase{"Jahrgang NOT BETWEEN 2002 AND 2005", "true"},
             EvalCase{"AK IN ('W41', 'WK3m')", "true"},
             EvalCase{"AK NOT IN ('W41', 'WK3m')", "false"},
             // An integer compared with a text compares as text.
             EvalCase{"Jahrgang = '2001'", "true"},
             EvalCase{"Jahrgang < '3'", "true"},
             EvalCase{"Datum = DATE '2011-03-24'", "true"},
             EvalCase{"Datum > '2011-01-01'", "true"},
             // LIKE: "_" one character, "%" any sequence, case-sensitive.
             EvalCase{"AK LIKE 'W_3%'", "true"},
             EvalCase{"AK LIKE 'wk%'", "false"},
             EvalCase{"AK LIKE 'WK%'", "true"},
             EvalCase{"AK LIKE '%3m'", "true"},
             EvalCase{"AK LIKE '%K%m'", "true"},
             EvalCase{"AK LIKE 'WK_'", "false"},
             EvalCase{"AK LIKE 'WK3m_'", "false"},
             EvalCase{"AK NOT LIKE 'W_3%'", "false"},
             EvalCase{"Name LIKE 'M%er'", "true"},
             EvalCase{"'W%x' LIKE 'W!%%' ESCAPE '!'", "true"},
             EvalCase{"'Wax' LIKE 'W!%%' ESCAPE '!'", "false"},
             EvalCase{"'a_b' LIKE 'a\\_b' ESCAPE '\\'", "true"},
             EvalCase{"'Größe' LIKE 'Gr_ße'", "true"},
             EvalCase{"'x' LIKE NULL", "null"},
             EvalCase{"Jahrgang LIKE '20%'", "true"},
             EvalCase{"1 = 1 IS TRUE", "true"},
             EvalCase{"1 = 2 IS FALSE", "true"},
             EvalCase{"NOT (1 = 2)", "true"},
         }) {
        EXPECT_EQ(Cond(c.text), c.expected) << c.text;
    }
}

TEST_F(RegistrationRow, NullColumnsFollowTheComparisonKind) {
    rows.SetNull(name);
    rows.SetNull(ak);
    rows.SetNull(jahrgang);
    rows.SetNull(vereinId);
    for (const EvalCase c : {
             EvalCase{"Length(Name) > 1", "false"},
             EvalCase{"Length(Name) = 0", "true"},
             EvalCase{"AK = ''", "true"},
             EvalCase{"AK <> ''", "false"},
             EvalCase{"AK IS NULL", "true"},
             // No SQL null semantics between a column and a text constant ...
             EvalCase{"Name <> 'x'", "true"},
             EvalCase{"Name = 'x'", "false"},
             EvalCase{"Name < 'x'", "true"},
             EvalCase{"'x' > Name", "true"},
             EvalCase{"AK = NULL", "true"},
             // ... but with it between a column and a number and between two columns.
             EvalCase{"Jahrgang <> 5", "null"},
             EvalCase{"Jahrgang = 5", "null"},
             EvalCase{"v.ID = n.VereinId", "null"},
             EvalCase{"NOT (Jahrgang = 1)", "null"},
             EvalCase{"Jahrgang = 1 OR 1 = 1", "true"},
             EvalCase{"Jahrgang = 1 AND 1 = 2", "false"},
             EvalCase{"Jahrgang = 1 AND 1 = 1", "null"},
             EvalCase{"Jahrgang IN (1, 2)", "null"},
             EvalCase{"Jahrgang NOT IN (1, 2)", "null"},
             EvalCase{"Jahrgang BETWEEN 1 AND 5", "null"},
             EvalCase{"Jahrgang = 1 IS UNKNOWN", "true"},
             // The prefix form of LIKE compares without SQL null semantics; a full LIKE gives null.
             EvalCase{"AK NOT LIKE 'WK%'", "true"},
             EvalCase{"AK LIKE 'WK%'", "false"},
             EvalCase{"AK LIKE 'W_%'", "null"},
         }) {
        EXPECT_EQ(Cond(c.text), c.expected) << c.text;
    }
    // A condition that yields null does not take the row.
    auto e = Condition("Jahrgang <> 5");
    e->Bind(&rows);
    EXPECT_FALSE(e->IsTrue());
}

TEST_F(RegistrationRow, ValuesAndFunctions) {
    for (const EvalCase c : {
             EvalCase{"1 + 2 * 3", "7"},
             EvalCase{"-2 * 3", "-6"},
             EvalCase{"10 - 2 - 3", "5"},
             EvalCase{"7 / 2", "3"},
             EvalCase{"7.0 / 2", "3.5"},
             EvalCase{"Jahrgang + 1", "2002"},
             EvalCase{"'a' || 'b' || NULL", "'ab'"},
             EvalCase{"'a' || 1 || 2.5", "'a12.5'"},
             EvalCase{"Name + ', ' + AK", "'Maier, WK3m'"},
             EvalCase{"NULL + 5", "null"},
             EvalCase{"'abc' + NULL", "'abc'"},
             EvalCase{"UPPER('straße')", "'STRASSE'"},
             EvalCase{"LOWER('ÄÖÜ')", "'äöü'"},
             EvalCase{"UPPER(Name)", "'MAIER'"},
             EvalCase{"TRIM('  a b \t')", "'a b'"},
             EvalCase{"LTRIM('  a ')", "'a '"},
             EvalCase{"RTRIM('  a ')", "'  a'"},
             EvalCase{"LENGTH('Grüße')", "5"},
             EvalCase{"LENGTH('')", "0"},
             EvalCase{"LENGTH(Jahrgang)", "4"},
             EvalCase{"POS('b', 'abc')", "2"},
             EvalCase{"POS('ü', 'aüb')", "2"},
             EvalCase{"POSITION('x' IN 'abc')", "0"},
             EvalCase{"SUBSTRING('Hallo', 2, 3)", "'all'"},
             EvalCase{"SUBSTRING('Hallo' FROM 4)", "'lo'"},
             EvalCase{"SUBSTRING('Grüße' FROM 3 FOR 2)", "'üß'"},
             EvalCase{"SUBSTRING('Hallo', 9)", "null"},
             EvalCase{"ABS(-3)", "3"},
             EvalCase{"ABS(-2.5)", "2.5"},
             EvalCase{"SIGN(-2.5)", "-1"},
             EvalCase{"SIGN(0)", "0"},
             EvalCase{"CEIL(2.1)", "3"},
             EvalCase{"FLOOR(-2.1)", "-3"},
             EvalCase{"SQR(3)", "9"},
             EvalCase{"SQRT(16)", "4"},
             EvalCase{"POWER(2, 10)", "1024"},
             EvalCase{"EXP(0)", "1"},
             EvalCase{"LOG(1)", "0"},
             EvalCase{"RAND(1)", "0"},
             EvalCase{"ROUND(2.5)", "2"},
             EvalCase{"ROUND(3.5)", "4"},
             EvalCase{"ROUND(2.675, 2, HALFUP)", "2.68"},
             EvalCase{"ROUND(1.0000000000000002, 0, RNDPOS)", "1"},
             EvalCase{"ROUND(1234.5, -2)", "1200"},
             EvalCase{"ROUND(NULL, 2)", "null"},
             EvalCase{"COALESCE(NULL, '', 'x')", "'x'"},
             EvalCase{"COALESCE(NULL, NULL)", "null"},
             EvalCase{"CASE 2 WHEN 1 THEN 'a' WHEN 2 THEN 'b' ELSE 'c' END", "'b'"},
             EvalCase{"CASE 9 WHEN 1 THEN 'a' ELSE 'c' END", "'c'"},
             EvalCase{"CASE WHEN Jahrgang > 2000 THEN 'jung' ELSE 'alt' END", "'jung'"},
             EvalCase{"CASE WHEN 1 = 2 THEN 'a' END", "null"},
             EvalCase{"CAST('2.5' AS EXTENDED)", "2.5"},
             EvalCase{"CAST(7.9 AS INTEGER)", "7"},
             EvalCase{"CAST(-7.9 AS INTEGER)", "-7"},
             EvalCase{"CAST('abcdef' AS CHAR(3))", "'abc'"},
             EvalCase{"MIMETOBIN('SGFsbG8=')", "'Hallo'"},
             EvalCase{"MIMETOBIN('SGF sbG8')", "'Hallo'"},
             EvalCase{"MIMETOBIN('SGFsbA')", "'Hall'"},
             EvalCase{"TOSTRING(TIMESTAMP '2011-03-24 14:05:00', 'DD.MM.YYYY HH24:NN')", "'24.03.2011 14:05'"},
             EvalCase{"TOSTRING(TIMESTAMP '2011-03-24 12:30:00', 'HH12:NN AMPM')", "'00:30 PM'"},
             EvalCase{"TOSTRING(Datum, 'YYYY')", "'2011'"},
             EvalCase{"TODATE('24.03.2011', 'DD.MM.YYYY')", "date 2011-03-24 00:00:00"},
             EvalCase{"TODATE('14:05', 'HH24:NN')", "time 14:05:00"},
             EvalCase{"TODATE('24.03.2011 14:05', 'DD.MM.YYYY HH24:NN')", "datetime 2011-03-24 14:05:00"},
             EvalCase{"TODATE(NULL, 'DD.MM.YYYY')", "null"},
             EvalCase{"EXTRACT(YEAR FROM Datum)", "2011"},
             EvalCase{"EXTRACT(MONTH FROM DATE '2011-03-24')", "3"},
             EvalCase{"EXTRACT(MINUTE FROM TIME '14:05:09')", "5"},
             EvalCase{"DATE '2011-03-24' + 1", "date 2011-03-25 00:00:00"},
         }) {
        EXPECT_EQ(Val(c.text), c.expected) << c.text;
    }
}

TEST_F(RegistrationRow, CurrentDateAndTimeHaveTheirTypes) {
    auto now = sqltest::Value("NOW");
    now->Bind(&rows);
    EXPECT_EQ(now->Evaluate().BaseType(), TABSBaseType::bftDateTime);
    auto today = sqltest::Value("CURRENT_DATE");
    today->Bind(&rows);
    EXPECT_EQ(today->Evaluate().BaseType(), TABSBaseType::bftDate);
    EXPECT_EQ(today->Evaluate().GetAsDate(), now->Evaluate().GetAsDateTime().date);
    auto rand = sqltest::Value("RAND(10)");
    for (int i = 0; i < 50; ++i) {
        const auto v = rand->Evaluate().GetAsInteger();
        EXPECT_GE(v, 0);
        EXPECT_LT(v, 10);
    }
}

TEST_F(RegistrationRow, EvaluationErrors) {
    EXPECT_EQ(ErrorOf([&] { (void)Val("1 / 0"); }), "30128: Division error: Division by zero");
    EXPECT_EQ(ErrorOf([&] { (void)Val("CAST('2,5' AS EXTENDED)"); }), "30051: Cannot cast from 'STRING' to 'EXTENDED'");
    EXPECT_EQ(ErrorOf([&] { (void)Cond("Datum LIKE '2011_'"); }), "30120: Not string argument in function 'LIKE'");
    EXPECT_EQ(ErrorOf([&] { (void)Cond("'x' LIKE 'y' ESCAPE UPPER('ab')"); }),
              "20294: Invalid escape character length (should be a single character) at line 1, column 21");
    EXPECT_EQ(ErrorOf([&] { (void)Val("TODATE('24.xx.2011', 'DD.MM.YYYY')"); }),
              "30092: 'xx' is not a valid integer value");
    EXPECT_EQ(ErrorOf([&] { (void)Cond("EXISTS (SELECT * FROM t)"); }),
              "30093: Execution of 'subquery' statements is not available");
}

struct RoundCase {
    double value;
    int digits;
    TABSRoundMode mode;
    double expected;
};

class RoundModes : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundModes, RoundAsWrittenInDecimal) {
    const auto& c = GetParam();
    EXPECT_EQ(RoundValue(c.value, c.digits, c.mode), c.expected)
        << c.value << " digits " << c.digits << " mode " << static_cast<int>(c.mode);
}

using M = TABSRoundMode;
INSTANTIATE_TEST_SUITE_P(
    Cases, RoundModes,
    ::testing::Values(
        RoundCase{2.5, 0, M::HalfEven, 2}, RoundCase{3.5, 0, M::HalfEven, 4}, RoundCase{-2.5, 0, M::HalfEven, -2},
        RoundCase{0.125, 2, M::HalfEven, 0.12}, RoundCase{2.5, 0, M::HalfPos, 3}, RoundCase{-2.5, 0, M::HalfPos, -2},
        RoundCase{2.5, 0, M::HalfNeg, 2}, RoundCase{-2.5, 0, M::HalfNeg, -3}, RoundCase{2.5, 0, M::HalfDown, 2},
        RoundCase{-2.5, 0, M::HalfDown, -2}, RoundCase{2.5, 0, M::HalfUp, 3}, RoundCase{-2.5, 0, M::HalfUp, -3},
        RoundCase{2.4, 0, M::HalfUp, 2}, RoundCase{2.6, 0, M::HalfDown, 3}, RoundCase{2.675, 2, M::HalfUp, 2.68},
        RoundCase{1.005, 2, M::HalfUp, 1.01}, RoundCase{-1.005, 2, M::HalfUp, -1.01},
        RoundCase{2.675, 2, M::HalfDown, 2.67}, RoundCase{2.1, 0, M::RndNeg, 2}, RoundCase{-2.1, 0, M::RndNeg, -3},
        RoundCase{2.1, 0, M::RndPos, 3}, RoundCase{-2.9, 0, M::RndPos, -2}, RoundCase{2.9, 0, M::RndDown, 2},
        RoundCase{-2.9, 0, M::RndDown, -2}, RoundCase{2.1, 0, M::RndUp, 3}, RoundCase{-2.1, 0, M::RndUp, -3},
        RoundCase{1.0000000000000002, 0, M::RndPos, 1}, RoundCase{0.9999999999999999, 0, M::RndNeg, 1},
        RoundCase{3.0, 0, M::RndUp, 3}, RoundCase{1234.5, -2, M::HalfEven, 1200},
        RoundCase{1250, -2, M::HalfEven, 1200}, RoundCase{1350, -2, M::HalfEven, 1400},
        RoundCase{1250, -2, M::HalfUp, 1300}, RoundCase{0.285, 2, M::HalfUp, 0.29}));

TEST(RoundSpecialValues, InfinityAndNanComeBackUnchanged) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(RoundValue(inf, 2, TABSRoundMode::HalfUp), inf);
    EXPECT_TRUE(std::isnan(RoundValue(std::nan(""), 0, TABSRoundMode::HalfEven)));
}

TEST(LikeMatching, PatternTable) {
    SetCollationLocale("de_DE");
    struct Case {
        const char* text;
        const char* pattern;
        char32_t escape;
        bool ignoreCase;
        bool matches;
    };
    for (const Case c : {Case{"WK3m", "W_3%", 0, false, true}, Case{"WK3m", "wk%", 0, false, false},
                         Case{"WK3m", "wk%", 0, true, true}, Case{"", "%", 0, false, true},
                         Case{"", "_", 0, false, false}, Case{"abc", "a%%c", 0, false, true},
                         Case{"abcbc", "a%bc", 0, false, true}, Case{"abcbd", "a%bc", 0, false, false},
                         Case{"Ärger", "ä%", 0, true, true}, Case{"Ärger", "ä%", 0, false, false},
                         Case{"100%", "100!%", U'!', false, true}, Case{"1000", "100!%", U'!', false, false},
                         Case{"a_c", "a#_c", U'#', false, true}, Case{"abc", "a#_c", U'#', false, false}}) {
        EXPECT_EQ(MatchLikePattern(c.text, c.pattern, c.escape, c.ignoreCase), c.matches)
            << c.text << " LIKE " << c.pattern;
    }
}

TEST(Aggregates, AccumulatePerGroupAndReset) {
    FakeRows rows;
    const auto name = rows.Add("", "Name", TABSBaseType::bftString);
    const auto year = rows.Add("", "Jahrgang", TABSBaseType::bftInteger);
    const auto weight = rows.Add("", "Gewicht", TABSBaseType::bftDouble);
    auto e = sqltest::Value("COUNT(*) + 0");
    auto count = sqltest::Value("COUNT(Name)");
    auto distinct = sqltest::Value("COUNT(DISTINCT Jahrgang)");
    auto sum = sqltest::Value("SUM(Jahrgang)");
    auto avg = sqltest::Value("AVG(Jahrgang)");
    auto sumWeight = sqltest::Value("SUM(Gewicht)");
    auto min = sqltest::Value("MIN(Name)");
    auto max = sqltest::Value("MAX(Name)");
    std::vector<TABSExpression*> all{e.get(), count.get(), distinct.get(), sum.get(), avg.get(),
                                     sumWeight.get(), min.get(), max.get()};
    for (auto* x : all) {
        x->Bind(&rows);
        x->ResetAggregates();
    }
    struct Row {
        const char* name;
        int year;
        double weight;
    };
    for (const Row r : {Row{"maier", 2001, 30.5}, Row{"", 2003, 28}, Row{"Adler", 2001, 0}, Row{"MAIER", 2002, 1.5}}) {
        rows.SetText(name, r.name);
        rows.SetInt(year, r.year);
        rows.Value(weight).SetAsDouble(r.weight);
        for (auto* x : all) x->AccumulateAggregates();
    }
    EXPECT_EQ(Show(e->Evaluate()), "4");
    EXPECT_EQ(Show(count->Evaluate()), "3");  // the empty name is null
    EXPECT_EQ(Show(distinct->Evaluate()), "3");
    EXPECT_EQ(Show(sum->Evaluate()), "8007");
    EXPECT_EQ(sum->ResultType(), TABSBaseType::bftLargeInt);
    EXPECT_EQ(Show(avg->Evaluate()), "2001.75");
    EXPECT_EQ(Show(sumWeight->Evaluate()), "60");
    EXPECT_EQ(Show(min->Evaluate()), "'Adler'");
    EXPECT_EQ(Show(max->Evaluate()), "'maier'");  // ignoring case, the first of equal values stays

    for (auto* x : all) x->ResetAggregates();
    EXPECT_EQ(Show(e->Evaluate()), "0");
    EXPECT_EQ(Show(sum->Evaluate()), "null");
    EXPECT_EQ(Show(avg->Evaluate()), "null");
    EXPECT_EQ(Show(min->Evaluate()), "null");

    auto textSum = sqltest::Value("SUM(Name)");
    textSum->Bind(&rows);
    textSum->ResetAggregates();
    rows.SetText(name, "x");
    EXPECT_EQ(ErrorOf([&] { textSum->AccumulateAggregates(); }), "30124: Not numeric argument in numeric operator 'SUM'");
}

} // namespace
} // namespace kova
