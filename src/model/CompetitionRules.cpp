#include "model/CompetitionRules.h"

#include "engine/api/ABSQuery.h"
#include "engine/core/TextCodec.h"
#include "model/TalmirMySQLTools.h"

#include <charconv>
#include <chrono>
#include <ctime>
#include <limits>

namespace kova::app {

int CurrentCalendarYear() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    (void)localtime_r(&now, &local);
    return local.tm_year + 1900;
}

std::optional<std::int32_t> ParseWholeNumber(std::string_view text) noexcept {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // from_chars takes a minus sign but no plus sign.
    const std::string_view number = text.front() == '+' ? digits : text;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value;
}

std::int64_t FoldYearOfBirth(std::string_view yearText, int referenceYear) noexcept {
    const std::int64_t reference = referenceYear;
    const std::optional<std::int32_t> parsed = ParseWholeNumber(yearText);
    std::int64_t year = parsed ? *parsed : reference - 100;
    // Whole centuries at once: the stepwise folding would loop for millions of rounds on a year
    // such as 2000000000 that an import could hand over.
    std::int64_t age = reference - year;
    if (age < 0) {
        const std::int64_t centuries = (-age + 99) / 100;
        year -= 100 * centuries;
        age += 100 * centuries;
    }
    if (age > 100) {
        const std::int64_t centuries = (age - 100 + 99) / 100;
        year += 100 * centuries;
    }
    return year;
}

int GetAlter(std::string_view yearText, int competitionYear) noexcept {
    return static_cast<int>(competitionYear - FoldYearOfBirth(yearText, competitionYear));
}

bool IsNoDiscipline(std::string_view text) noexcept {
    return text.empty() || text.find('-') != std::string_view::npos;
}

bool IsDiszMultiple(std::string_view tested, std::string_view other1, std::string_view other2,
                    std::string_view other3) noexcept {
    if (IsNoDiscipline(tested)) return true;
    for (const std::string_view other : {other1, other2, other3}) {
        if (!IsNoDiscipline(other) && other == tested) return false;
    }
    return true;
}

std::optional<std::string> FirstUnstorableCharacter(std::string_view utf8) {
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = start + 1;
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
        const std::string_view character = utf8.substr(start, end - start);
        if (!IsCp1252Representable(character)) return std::string(character);
        start = end;
    }
    return std::nullopt;
}

std::string QuoteLiteral(std::string_view value) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    for (const char c : value) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    return quoted;
}

TCompetitionRules::TCompetitionRules(const TTalmirMySQLTools& tools, TABSQuery& classLookup,
                                     TABSQuery& disciplineLookup, TABSQuery& check, YearSource calendarYear)
    : tools_(tools),
      classLookup_(classLookup),
      disciplineLookup_(disciplineLookup),
      check_(check),
      calendarYear_(std::move(calendarYear)) {}

std::string TCompetitionRules::Lookup(TABSQuery& query, const char* table, const char* nameColumn,
                                      std::string_view name) const {
    const std::string statement = std::string("SELECT * FROM ") + table + " WHERE " + nameColumn + "=\"" +
                                  QuoteLiteral(name) + "\";";
    if (tools_.RunSQL(query, TTalmirMySQLTools::kOpen, statement)) return query.FieldByName("Kuerzel").AsString();
    return std::string(name);
}

std::string TCompetitionRules::GetAKKuerzel(std::string_view className) const {
    return Lookup(classLookup_, "Klassen", "Klasse", className);
}

std::string TCompetitionRules::GetDisziplinKuerzel(std::string_view disciplineName) const {
    return Lookup(disciplineLookup_, "Disziplinen", "Disziplin", disciplineName);
}

int TCompetitionRules::CompetitionYear() const {
    if (tools_.RunSQL(check_, TTalmirMySQLTools::kOpen, "SELECT WkJahr FROM Wettkampf;")) {
        const TABSField& year = check_.FieldByName("WkJahr");
        // A competition row without a year would make every age relative to the year 0.
        if (!year.IsNull()) return year.AsInteger();
    }
    return calendarYear_();
}

bool TCompetitionRules::IsAKAllowedForYear(std::string_view className, std::string_view yearText) const {
    const int age = GetAlter(yearText, CompetitionYear());
    const std::string code = GetAKKuerzel(className);
    const std::string a = std::to_string(age);
    return tools_.RunSQL(check_, TTalmirMySQLTools::kOpen,
                         "SELECT * FROM Klassen WHERE (Kuerzel=\"" + QuoteLiteral(code) + "\" AND AlterVon<=" + a +
                             " AND AlterBis>=" + a + ");");
}

bool TCompetitionRules::IsDiszAllowedForClass(std::string_view className, std::string_view discipline) const {
    const std::string classCode = GetAKKuerzel(className);
    const std::string disciplineCode = GetDisziplinKuerzel(discipline);
    return tools_.RunSQL(check_, TTalmirMySQLTools::kOpen,
                         "SELECT * FROM KlasseDiszplin WHERE (KlKuerzel=\"" + QuoteLiteral(classCode) +
                             "\" AND DzKuerzel=\"" + QuoteLiteral(disciplineCode) + "\");");
}

} // namespace kova::app
