// Collation keys order texts exactly as the comparison of text values does, in every locale a
// file may be sorted in and with or without case.
#include "engine/core/Collation.h"
#include "engine/sql/ABSCollationKeys.h"

#include "table_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kova {
namespace {

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Texts on which a collator opened differently would disagree: case, umlauts and their
// spellings, sharp s, blanks and punctuation as characters, digits, a combining umlaut, a
// contraction of the Czech locale ("ch" after "h"), and texts equal but for case.
const std::vector<std::string> kTexts = {
    "a",      "A",       "ab",      "a b",     "a-b",       "Ab",     "Müller", "MÜLLER",     "Muller",
    "Mueller", "Mu\xCC\x88ller", "Straße", "Strasse", "Zander", "Äpfel", "10",  "9",     "N11670001",
    "N1167000A", "n1167000a", "chata", "hrad",  "cesta",     "x",      "  x",    "x  ",        "Éclair",
    "eclair",   "Ölung",  "Oel",    "z",       "ß",         "ss",     "SS",     "Maier Eva",  "Maier, Eva",
};

TEST(CollationKeys, OrderEveryPairAsTheTextComparisonDoes) {
    for (const char* locale : {"de_DE", "", "cs_CZ", "sv_SE"}) {
        const tabletest::CollationScope scope(locale);
        for (const bool ignoreCase : {false, true}) {
            SCOPED_TRACE(std::string("locale '") + locale + (ignoreCase ? "', ignoring case" : "'"));
            const std::vector<std::string_view> views(kTexts.begin(), kTexts.end());
            const auto keys = TABSCollationKeys::Make(views, ignoreCase);
            ASSERT_TRUE(keys.has_value());
            ASSERT_EQ(keys->Count(), kTexts.size());
            int equalPairs = 0;
            for (std::size_t a = 0; a < kTexts.size(); ++a) {
                for (std::size_t b = 0; b < kTexts.size(); ++b) {
                    const int expected = Sign(CompareText(kTexts[a], kTexts[b], ignoreCase));
                    const int byKey = Sign(keys->Key(a).compare(keys->Key(b)));
                    EXPECT_EQ(byKey, expected) << kTexts[a] << " vs " << kTexts[b];
                    if (a != b && expected == 0) ++equalPairs;
                }
            }
            // The table holds texts the collation finds equal (the two umlaut spellings always).
            EXPECT_GT(equalPairs, 0);
        }
    }
}

TEST(CollationKeys, TextThatIsNotUtf8GivesNoKeys) {
    const std::vector<std::string_view> texts = {"a", "\xFF\xFE"};
    EXPECT_FALSE(TABSCollationKeys::Make(texts, false).has_value());
    const std::vector<std::string_view> none;
    const auto empty = TABSCollationKeys::Make(none, false);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->Count(), 0u);
}

} // namespace
} // namespace kova
