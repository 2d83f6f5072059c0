// The SQL helper's text functions, the text helpers and the key filter.
#include "model/HexBin.h"
#include "model/TalmirMySQLTools.h"
#include "model/TalmirTools.h"

#include <gtest/gtest.h>

#include <QComboBox>

#include <string>
#include <vector>

namespace kova::app {
namespace {

using Lines = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string text;
    Lines lines;
};

TEST(SplitSQL, BreaksBeforeTheClausesOutsideLiterals) {
    const SplitCase cases[] = {
        {"all four clauses", R"(SELECT * FROM Namen WHERE ID="N1" AND AK="W41" ORDER BY Name)",
         {"SELECT *", "FROM Namen", "WHERE ID=\"N1\"", "AND AK=\"W41\"", "ORDER BY Name"}},
        {"no clause", R"(INSERT INTO Namen (ID) VALUES("N11678868"))", {R"(INSERT INTO Namen (ID) VALUES("N11678868"))"}},
        {"lower-case keywords", R"(SELECT ID from Namen where ID="X")", {"SELECT ID", "from Namen", "where ID=\"X\""}},
        {"every AND", "SELECT * FROM K WHERE a=1 AND b=2 and c=3", {"SELECT *", "FROM K", "WHERE a=1", "AND b=2", "and c=3"}},
        {"WHERE without FROM", R"(UPDATE Settings SET VarValue="3" WHERE UPPER(VarName) = "X";)",
         {R"(UPDATE Settings SET VarValue="3")", R"(WHERE UPPER(VarName) = "X";)"}},
        {"a school name with a keyword stays whole",
         R"(UPDATE Verein SET Schule="Schule Berg and Tal from Ort" WHERE ID="V00000001";)",
         {R"(UPDATE Verein SET Schule="Schule Berg and Tal from Ort")", R"(WHERE ID="V00000001";)"}},
        {"a keyword in an apostrophe literal stays too", "SELECT * FROM T WHERE N='x and y' AND M=1",
         {"SELECT *", "FROM T", "WHERE N='x and y'", "AND M=1"}},
        {"an escaped quote does not end the literal", R"(SELECT * FROM T WHERE N="a "" AND b" AND M=1)",
         {"SELECT *", "FROM T", R"(WHERE N="a "" AND b")", "AND M=1"}},
        {"an apostrophe inside double quotes is plain text", R"(SELECT * FROM T WHERE N="O'Neil" AND M=1)",
         {"SELECT *", "FROM T", R"(WHERE N="O'Neil")", "AND M=1"}},
        {"ORDER BY once, after the ANDs", "SELECT a FROM t ORDER BY a ORDER BY b", {"SELECT a", "FROM t", "ORDER BY a ORDER BY b"}},
        {"keyword needs blanks on both sides", "SELECT FROMAGE FROM\tT", {"SELECT FROMAGE FROM\tT"}},
        {"empty text", "", {}},
    };
    for (const SplitCase& c : cases) {
        Lines lines{"left over"};
        TTalmirMySQLTools::SplitSQL(lines, c.text);
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST(SqlText, NullifyEmptyStringsPairsLeftToRight) {
    EXPECT_EQ(TTalmirMySQLTools::NullifyEmptyStrings(R"(VALUES("", "x", ""))"), R"(VALUES(NULL, "x", NULL))");
    EXPECT_EQ(TTalmirMySQLTools::NullifyEmptyStrings(R"(""")"), R"(NULL")");
    EXPECT_EQ(TTalmirMySQLTools::NullifyEmptyStrings(R"("""")"), "NULLNULL");
    EXPECT_EQ(TTalmirMySQLTools::NullifyEmptyStrings("no quotes"), "no quotes");
}

TEST(SqlText, SanitizeQuotesMakesTextSafeBetweenDoubleQuotes) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {R"(Peter "Pit")", "Peter 'Pit'"},
        {R"(C:\Schule\)", "C:Schule"},
        {std::string("a\0b", 3), "ab"},
        {"Müller-Lüdenscheidt", "Müller-Lüdenscheidt"},
        {"O'Neil", "O'Neil"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(TTalmirMySQLTools::SanitizeQuotes(c.in), c.out) << c.in;
}

TEST(HexBin, TrimBlanksRemovesBlanksAndTabsAtBothEnds) {
    EXPECT_EQ(THexBin::TrimBlanks(" \t Anna \t"), "Anna");
    EXPECT_EQ(THexBin::TrimBlanks("Anna Lena"), "Anna Lena");
    EXPECT_EQ(THexBin::TrimBlanks(" \t "), "");
    EXPECT_EQ(THexBin::TrimBlanks("\nAnna\n"), "\nAnna\n");  // only blanks and tabs
}

TEST(HexBin, SplitFirstCutsTheHeadOffTheRest) {
    struct Case {
        const char* separator;
        bool upper;
        std::string rest;
        std::string head;
        std::string restAfter;
    };
    const Case cases[] = {
        {"-", false, "10:00-16:00", "10:00", "16:00"},
        {"-", false, "16:00", "16:00", ""},
        {"-", false, " 10:00 - 16:00 ", "10:00", "16:00"},
        {"-", true, "abc-def", "ABC", "def"},
        {"-", true, "süd-nord", "SÜD", "nord"},
        {"", false, "a-b", "", "a-b"},
        {"-", false, "", "", ""},
        {"::", false, "a::b::c", "a", "b::c"},
    };
    for (const Case& c : cases) {
        std::string rest = c.rest;
        EXPECT_EQ(THexBin::SplitFirst(c.separator, c.upper, rest), c.head) << c.rest;
        EXPECT_EQ(rest, c.restAfter) << c.rest;
    }
}

TEST(HexBin, ConvertUmlautsBetweenCodePages) {
    const std::string oem = "\x81\x82\x84\x8E\x94\x99\x9A\xE1";
    const std::string ansi = "\xFC\xE9\xE4\xC4\xF6\xD6\xDC\xDF";
    struct Case {
        int mode;
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {0, oem + "x", ansi + "x"},
        {1, ansi + "x", oem + "x"},
        {2, oem, "ueaAoOUs"},
        {2, ansi, "ueaAoOUs"},
        {0, ansi, ansi},   // mode 0 leaves Windows bytes alone…
        {1, oem.substr(0, 7), oem.substr(0, 7)},  // …and mode 1 DOS bytes (0xE1 is á in Windows-1252)
        {3, oem, oem},
        {-1, ansi, ansi},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        THexBin::ConvertUmlauts(c.mode, text);
        EXPECT_EQ(text, c.out) << "mode " << c.mode;
    }
    std::string roundTrip = ansi;
    THexBin::ConvertUmlauts(1, roundTrip);
    THexBin::ConvertUmlauts(0, roundTrip);
    EXPECT_EQ(roundTrip, ansi);
}

TEST(TalmirTools, FilterYearKeyLetsOnlyYearKeysThrough) {
    struct Case {
        char16_t key;
        bool passes;
    };
    const Case cases[] = {
        {u'2', true}, {u'0', true}, {u'9', true}, {u'-', true}, {u'\b', true}, {u'\t', true},
        {u'a', false}, {u'.', false}, {u' ', false}, {u'+', false}, {u'\r', false}, {u'²', false},
    };
    for (const Case& c : cases) {
        QChar key(c.key);
        TTalmirTools::FilterYearKey(key);
        EXPECT_EQ(key, c.passes ? QChar(c.key) : QChar(u'\0')) << static_cast<int>(c.key);
    }
}

TEST(SqlText, SelectComboItemFindsTextIgnoringCase) {
    QComboBox box;
    box.addItems({"Weitsprung", "Ballwurf", "ballwurf", "Sprint"});
    box.setCurrentIndex(3);
    TTalmirMySQLTools::SelectComboItem(box, "BALLWURF");
    EXPECT_EQ(box.currentIndex(), 1);  // the first match
    TTalmirMySQLTools::SelectComboItem(box, "Hochsprung");
    EXPECT_EQ(box.currentIndex(), -1);  // no match: no selection
}

} // namespace
} // namespace kova::app
