// The competition's rules without the form: age computation and year folding, the duplicate
// test, storable names, and the class and discipline tests on a database.
#include "meldung_fixture.h"

#include "model/CompetitionRules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kova::app::test {
namespace {

TEST(MeldungAge, FoldsYearsIntoZeroToHundred) {
    struct Case {
        const char* year;
        int competitionYear;
        int age;
    };
    const Case cases[] = {
        {"1995", 2010, 15},  {"95", 2010, 15},    {"05", 2010, 5},   {"5", 2010, 5},      {"2010", 2010, 0},
        {"1910", 2010, 100}, {"1909", 2010, 1},   {"2011", 2010, 99}, {"2110", 2010, 0},  {"-5", 2010, 15},
        {"+95", 2010, 15},   {"", 2010, 100},     {"abc", 2010, 100}, {"19a5", 2010, 100}, {"-", 2010, 100},
        {" 1995", 2010, 100}, {"99999999999", 2010, 100},
        // Far out of range: whole centuries at once, same result as folding step by step.
        {"2000000000", 2010, 10}, {"-2000000000", 2010, 10},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetAlter(c.year, c.competitionYear), c.age) << '"' << c.year << "\" in " << c.competitionYear;
    }
}

TEST(MeldungAge, YearFieldFoldsAgainstTheCalendarYear) {
    struct Case {
        const char* typed;
        std::int64_t stored;
    };
    const Case cases[] = {{"95", 1995}, {"26", 1926}, {"25", 2025}, {"", 1926},   {"-", 1926},
                          {"0", 2000},  {"1995", 1995}, {"2027", 1927}, {"1926", 1926}, {"1925", 2025}};
    for (const Case& c : cases) EXPECT_EQ(FoldYearOfBirth(c.typed, 2026), c.stored) << '"' << c.typed << '"';
}

TEST(MeldungAge, WholeNumbersOnly) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {{"1995", 1995},       {"-5", -5},          {"+7", 7},           {"0042", 42},
                          {"", std::nullopt},   {"-", std::nullopt}, {"+", std::nullopt}, {"12-4", std::nullopt},
                          {"1e3", std::nullopt}, {" 12", std::nullopt}, {"12 ", std::nullopt},
                          {"2147483647", 2147483647}, {"2147483648", std::nullopt}, {"--1", std::nullopt}};
    for (const Case& c : cases) EXPECT_EQ(ParseWholeNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(MeldungDuplicates, OnlyRealDisciplinesCount) {
    struct Case {
        const char* tested;
        const char* o1;
        const char* o2;
        const char* o3;
        bool usedOnce;
    };
    const Case cases[] = {
        {"Ballwurf", "Sprint", "", "Staffel", true},
        {"Ballwurf", "Sprint", "Ballwurf", "", false},
        {"Ballwurf", "", "", "Ballwurf", false},
        {"Ballwurf", "BALLWURF", "ballwurf", "", true},  // case-sensitive comparison
        {"- keine -", "- keine -", "- keine -", "- keine -", true},
        {"", "", "", "", true},
        {"Lauf-Sprung", "Lauf-Sprung", "", "", true},  // a "-" anywhere means no discipline
        {"Ballwurf", "Ballwurf ", "", "", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDiszMultiple(c.tested, c.o1, c.o2, c.o3), c.usedOnce) << c.tested << " / " << c.o1 << " / " << c.o2
                                                                          << " / " << c.o3;
    }
}

TEST(MeldungNames, FirstCharacterTheFileCannotHold) {
    struct Case {
        const char* text;
        std::optional<std::string> bad;
    };
    const Case cases[] = {
        {"Müller-Lüdenscheidt", std::nullopt},
        {"Straße \"x\" \\ €", std::nullopt},
        {"", std::nullopt},
        {"Łukasz", std::string("Ł")},
        {"Ana Ćorić", std::string("Ć")},
        {"Emma \xF0\x9F\x98\x80", std::string("\xF0\x9F\x98\x80")},
    };
    for (const Case& c : cases) EXPECT_EQ(FirstUnstorableCharacter(c.text), c.bad) << c.text;
}

TEST(MeldungNames, LiteralsDoubleTheirQuotes) {
    EXPECT_EQ(QuoteLiteral("Ballwurf"), "Ballwurf");
    EXPECT_EQ(QuoteLiteral("Hoch \"Sprung\""), "Hoch \"\"Sprung\"\"");
    EXPECT_EQ(QuoteLiteral("\""), "\"\"");
}

class MeldungRules : public MeldungDatabase {
protected:
    TCompetitionRules Rules(int calendarYear = 2026) {
        return TCompetitionRules(dm_->TalmirMySQLTools(), dm_->ABSQAK(), dm_->ABSQDisz(), dm_->ABSQCheck(),
                                 [calendarYear] { return calendarYear; });
    }
};

TEST_F(MeldungRules, LookupsPassUnknownValuesThrough) {
    const TCompetitionRules rules = Rules();
    EXPECT_EQ(rules.GetAKKuerzel("Mädchen 14/15"), "W31");
    EXPECT_EQ(rules.GetAKKuerzel("W31"), "W31");
    EXPECT_EQ(rules.GetAKKuerzel("mädchen 14/15"), "mädchen 14/15");
    EXPECT_EQ(rules.GetAKKuerzel(""), "");
    EXPECT_EQ(rules.GetDisziplinKuerzel("Ballwurf"), "BAL");
    EXPECT_EQ(rules.GetDisziplinKuerzel("BALLWURF"), "BAU");
    EXPECT_EQ(rules.GetDisziplinKuerzel("Hoch \"Sprung\""), "HOC");
    EXPECT_EQ(rules.GetDisziplinKuerzel("x\" OR Kuerzel<>\""), "x\" OR Kuerzel<>\"");
}

TEST_F(MeldungRules, ClassFitsTheAgeInTheCompetitionYear) {
    struct Case {
        const char* className;
        const char* year;
        bool allowed;
    };
    const Case cases[] = {
        {"Mädchen 14/15", "1995", true},  {"Mädchen 14/15", "1996", true},  {"Mädchen 14/15", "1994", false},
        {"Mädchen 14/15", "1997", false}, {"Mädchen 14/15", "95", true},    {"W31", "1995", true},
        {"Mädchen 10/11", "2000", true},  {"Mädchen 10/11", "1995", false}, {"Lehrer", "", true},
        {"Lehrer", "1910", true},         {"Lehrer", "1985", false},        {"Mädchen 14/15", "", false},
        {"unbekannt", "1995", false},     {"", "1995", false},
        {"x\" OR Kuerzel<>\"", "1995", false},
    };
    const TCompetitionRules rules = Rules();
    EXPECT_EQ(rules.CompetitionYear(), 2010);
    for (const Case& c : cases) {
        EXPECT_EQ(rules.IsAKAllowedForYear(c.className, c.year), c.allowed) << c.className << " / " << c.year;
    }
}

TEST_F(MeldungRules, WithoutACompetitionRowAgesReferToTheCalendarYear) {
    Execute("DELETE FROM Wettkampf");
    const TCompetitionRules rules = Rules(2026);
    EXPECT_EQ(rules.CompetitionYear(), 2026);
    EXPECT_TRUE(rules.IsAKAllowedForYear("Mädchen 14/15", "2011"));
    EXPECT_FALSE(rules.IsAKAllowedForYear("Mädchen 14/15", "1995"));
    EXPECT_EQ(Rules(2030).CompetitionYear(), 2030);
}

TEST_F(MeldungRules, CompetitionRowWithoutAYearFallsBackToTheCalendarYear) {
    Execute("UPDATE Wettkampf SET WkJahr=NULL");
    EXPECT_EQ(Rules(2026).CompetitionYear(), 2026);
}

TEST_F(MeldungRules, DisciplineAllowedExactlyWhenThePairExists) {
    struct Case {
        const char* className;
        const char* discipline;
        bool allowed;
    };
    const Case cases[] = {
        {"Mädchen 14/15", "Ballwurf", true},
        {"W31", "BAL", true},
        {"Mädchen 14/15", "Hoch \"Sprung\"", true},
        {"Mädchen 14/15", "Geheim", true},  // allowed by its pair, whether listed or not
        {"Mädchen 10/11", "Ballwurf", false},
        {"Mädchen 10/11", "- keine -", true},
        {"Jungen 10/11", "- keine -", false},  // "no discipline" needs its pair too
        {"", "Sprint 50 m", false},
        {"Mädchen 14/15", "", false},
        {"Mädchen 14/15", "ballwurf", false},
        {"W31\" OR KlKuerzel<>\"", "BAL", false},
    };
    const TCompetitionRules rules = Rules();
    for (const Case& c : cases) {
        EXPECT_EQ(rules.IsDiszAllowedForClass(c.className, c.discipline), c.allowed) << c.className << " / "
                                                                                    << c.discipline;
    }
}

TEST_F(MeldungRules, RulesSeeChangesOfTheDatabaseAtOnce) {
    const TCompetitionRules rules = Rules();
    EXPECT_FALSE(rules.IsDiszAllowedForClass("Jungen 14/15", "Weitsprung"));
    Execute("INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"M31\", \"WEI\")");
    EXPECT_TRUE(rules.IsDiszAllowedForClass("Jungen 14/15", "Weitsprung"));
    Execute("UPDATE Klassen SET AlterBis=16 WHERE Kuerzel=\"M31\"");
    EXPECT_TRUE(rules.IsAKAllowedForYear("Jungen 14/15", "1994"));
}

} // namespace
} // namespace kova::app::test
