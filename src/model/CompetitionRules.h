// The competition's rules for one registration: does the age class fit the year of birth, is a
// discipline allowed in a class, is a discipline chosen twice. The entry form asks them on every
// validation run; the full check and the import ask them for stored registrations.
//
// Nothing here needs widgets: the rules run SQL through the queries they are given and compare
// plain UTF-8 texts. Nothing is cached, so a rule always sees the database as it is now.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kova {
class TABSQuery;
}

namespace kova::app {

class TTalmirMySQLTools;

// The current calendar year of the local clock.
[[nodiscard]] int CurrentCalendarYear();

// The whole number a year text stands for: optional sign and decimal digits, nothing else, in
// the range of a 32-bit integer. Nothing for any other text (empty, blanks, letters, "-").
[[nodiscard]] std::optional<std::int32_t> ParseWholeNumber(std::string_view text) noexcept;

// The year of birth `yearText` folded to within 100 years before `referenceYear`: a text that
// is no whole number counts as `referenceYear` − 100; while the year lies after the reference
// year it moves back by a century, while it lies more than 100 years before it moves forward by
// one. So two-digit years work ("95" → 1995 and "05" → 2005 for 2010).
[[nodiscard]] std::int64_t FoldYearOfBirth(std::string_view yearText, int referenceYear) noexcept;

// The athlete's age in the competition year `competitionYear`, in 0..100 (100 itself kept).
[[nodiscard]] int GetAlter(std::string_view yearText, int competitionYear) noexcept;

// "Is discipline `tested` used only once?" Empty texts and texts containing "-" stand for no
// discipline and are never duplicates; otherwise the answer is no when one of the other three
// texts is the same discipline (exact, case-sensitive comparison of the displayed names).
[[nodiscard]] bool IsDiszMultiple(std::string_view tested, std::string_view other1, std::string_view other2,
                                  std::string_view other3) noexcept;

// Whether a text stands for no discipline (empty, or containing "-").
[[nodiscard]] bool IsNoDiscipline(std::string_view text) noexcept;

// The first character of a UTF-8 text that the database's 8-bit character set cannot hold, as
// UTF-8; nothing when the whole text can be stored.
[[nodiscard]] std::optional<std::string> FirstUnstorableCharacter(std::string_view utf8);

// The text between double quotes in a statement: each double quote doubled, so that a value
// taken from the database itself (a class or discipline name) is compared as it is.
[[nodiscard]] std::string QuoteLiteral(std::string_view value);

// The rule tests on one database. Class and discipline lookups run on their own queries (the
// entry form passes ABSQAK and ABSQDisz), the tests on a third one (ABSQCheck).
class TCompetitionRules {
public:
    using YearSource = std::function<int()>;

    TCompetitionRules(const TTalmirMySQLTools& tools, TABSQuery& classLookup, TABSQuery& disciplineLookup,
                      TABSQuery& check, YearSource calendarYear = CurrentCalendarYear);

    // Class code of a class name; the argument itself when no class has that name, so a code
    // (or an empty text) passes through.
    [[nodiscard]] std::string GetAKKuerzel(std::string_view className) const;
    // Discipline code of a discipline name; the argument itself when no discipline has it.
    [[nodiscard]] std::string GetDisziplinKuerzel(std::string_view disciplineName) const;

    // The year ages refer to: WkJahr of the competition row, or the calendar year when the
    // database holds no competition year.
    [[nodiscard]] int CompetitionYear() const;

    // Whether the class (name or code) admits the age that `yearText` gives in the competition
    // year.
    [[nodiscard]] bool IsAKAllowedForYear(std::string_view className, std::string_view yearText) const;
    // Whether the pair of class (name or code) and discipline (name or code) is allowed.
    [[nodiscard]] bool IsDiszAllowedForClass(std::string_view className, std::string_view discipline) const;

private:
    [[nodiscard]] std::string Lookup(TABSQuery& query, const char* table, const char* nameColumn,
                                     std::string_view name) const;

    const TTalmirMySQLTools& tools_;
    TABSQuery& classLookup_;
    TABSQuery& disciplineLookup_;
    TABSQuery& check_;
    YearSource calendarYear_;
};

} // namespace kova::app
