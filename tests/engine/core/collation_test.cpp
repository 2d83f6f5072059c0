// Locale collation of text values and locale case mapping.
#include "engine/core/Collation.h"

#include "ValueTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace kova {
namespace {

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

class CollationTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = CollationLocale();
        SetCollationLocale("de_DE");
    }
    void TearDown() override { SetCollationLocale(saved_); }

private:
    std::string saved_;
};

struct TextCase {
    const char* left;
    const char* right;
    bool ignoreCase;
    bool partial;
    int expected;
};

TEST_F(CollationTest, ComparesByLinguisticOrder) {
    const TextCase cases[] = {
        {"a", "A", false, false, -1},  // lower case first at tertiary strength
        {"A", "a", false, false, 1},
        {"a", "A", true, false, 0},
        {"Müller", "MÜLLER", true, false, 0},
        {"Müller", "Muller", true, false, 1},  // accents still count when case does not
        {"Mueller", "Müller", false, false, -1},
        {"Zander", "Äpfel", false, false, 1},  // bytes would put Ä after Z
        {"Straße", "Strasse", false, false, 1},
        {"ab", "a-b", false, false, 1},  // punctuation is a character, not ignorable
        {"a b", "ab", false, false, -1},
        {"MaxStaffelPerName", "MaxStaffelPerName", false, false, 0},
        {"Mu\xCC\x88ller", "Müller", false, false, 0},  // combining umlaut equals the precomposed one
        {"", "a", false, false, -1},
        {"10", "9", false, false, -1},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(Sign(CompareText(c.left, c.right, c.ignoreCase, c.partial)), c.expected)
            << c.left << " vs " << c.right << (c.ignoreCase ? " (ignore case)" : "");
    }
}

TEST_F(CollationTest, PartialComparesOnlyAsManyCharactersAsTheRightHas) {
    const TextCase cases[] = {
        {"Schmidt", "Schm", false, true, 0},
        {"Schmidt", "Schm", false, false, 1},
        {"Sch", "Schm", false, true, -1},
        {"Schmidt", "SCHM", false, true, -1},
        {"Schmidt", "SCHM", true, true, 0},
        {"Jörg", "Jö", false, true, 0},  // characters, not bytes
        {"Jörg", "", false, true, 0},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(Sign(CompareText(c.left, c.right, c.ignoreCase, c.partial)), c.expected)
            << c.left << " vs " << c.right;
    }
}

TEST_F(CollationTest, WideTextComparesTheSameWay) {
    EXPECT_LT(CompareWideText(u"a", u"A"), 0);
    EXPECT_EQ(CompareWideText(u"a", u"A", true), 0);
    EXPECT_GT(CompareWideText(u"Zander", u"Äpfel"), 0);
    EXPECT_EQ(CompareWideText(u"Schmidt", u"Schm", false, true), 0);
    // A character outside the basic plane counts as one character in a partial compare.
    EXPECT_EQ(CompareWideText(u"\U0001F600x", u"\U0001F600", false, true), 0);
}

TEST_F(CollationTest, GermanNamesSortWithUmlautsBesideTheirBaseLetters) {
    std::vector<std::string> names = {"Zander", "Öztürk", "Ofen", "Ober", "Äpfel", "Apfel", "Übel", "Ubbo"};
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    const std::vector<std::string> expected = {"Apfel", "Äpfel", "Ober", "Ofen", "Öztürk", "Ubbo", "Übel", "Zander"};
    EXPECT_EQ(names, expected);
}

TEST_F(CollationTest, TheLocaleDecides) {
    // Swedish puts Ö after Z; German sorts it with O.
    EXPECT_LT(CompareText("Öl", "Zander"), 0);
    SetCollationLocale("sv_SE");
    EXPECT_EQ(CollationLocale(), "sv_SE");
    EXPECT_GT(CompareText("Öl", "Zander"), 0);
    EXPECT_GT(CompareWideText(u"Öl", u"Zander"), 0);
}

TEST_F(CollationTest, OtherThreadsSeeALocaleChange) {
    int before = 0;
    int after = 0;
    std::thread([&] { before = CompareText("Öl", "Zander"); }).join();
    SetCollationLocale("sv_SE");
    std::thread([&] { after = CompareText("Öl", "Zander"); }).join();
    EXPECT_LT(before, 0);
    EXPECT_GT(after, 0);
}

TEST_F(CollationTest, ConcurrentComparisonsAgree) {
    std::vector<int> results(4, 99);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&results, t] {
            int sum = 0;
            for (int i = 0; i < 2000; ++i) sum += Sign(CompareText("Müller", "Mueller", i % 2 == 0));
            results[t] = sum;
        });
    }
    for (std::thread& th : threads) th.join();
    for (int r : results) EXPECT_EQ(r, 2000);
}

TEST_F(CollationTest, CaseMappingFollowsTheLocale) {
    struct Case {
        const char* text;
        const char* upper;
        const char* lower;
    };
    const Case cases[] = {
        {"Müller", "MÜLLER", "müller"},
        {"Straße", "STRASSE", "straße"},
        {"MaxStaffelPerName", "MAXSTAFFELPERNAME", "maxstaffelpername"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UpperCaseText(c.text), c.upper);
        EXPECT_EQ(LowerCaseText(c.text), c.lower);
    }
    EXPECT_EQ(UpperCaseWideText(u"Jörg"), u"JÖRG");
    EXPECT_EQ(LowerCaseWideText(u"ÄÖÜ"), u"äöü");
    // Locale-specific rules apply: Turkish upper-cases i to the dotted capital I.
    SetCollationLocale("tr_TR");
    EXPECT_EQ(UpperCaseText("i"), "\xC4\xB0");
}

} // namespace
} // namespace kova
