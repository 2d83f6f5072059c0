// The export list for the results program: one fixed-width line of 185 single-byte characters
// per registration, German letters in the DOS code page, lines ended by CR LF.
//
// This is the part of the export that knows no window: it reads the registrations through the
// engine's queries, formats the lines as bytes and writes the file. The preview window and the
// console program both build on it, so both write the same bytes.
//
// Texts from the engine are UTF-8; a line holds the values' Windows-1252 bytes with the eight
// German letters moved to their DOS code page positions (see THexBin::ConvertUmlauts, mode 1).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kova {
class TABSQuery;
}

namespace kova::app {

inline constexpr std::size_t kQUVLineLength = 185;
inline constexpr std::string_view kQUVExtension = ".QUV";
inline constexpr std::string_view kQUVSourceStatement = "SELECT * FROM Namen ORDER BY AK, Name, Vorname, Jahrgang";

// One registration with what its two lookups found (texts UTF-8, as the engine gives them).
struct TQUVRegistration {
    std::string ak;
    std::string staffel;
    std::string disziplin1;
    std::string disziplin2;
    std::string disziplin3;
    std::string name;
    std::string vorname;
    std::string jahrgang;
    std::optional<std::string> classSex;  // SEX of the class row; nothing when the class is unknown
    std::optional<std::string> school;    // Schule of the school row; nothing when it is unknown
};

// The line's field rules, each returning bytes of exactly the field's width.
class TQUVLine {
public:
    // The whole line: always kQUVLineLength bytes, apostrophes turned into double quotes.
    [[nodiscard]] static std::string Build(const TQUVRegistration& registration);

    // UTF-8 → the line's single bytes (Windows-1252 with the DOS umlauts). A character that has
    // no single byte becomes "?": the line keeps its width whatever the database holds.
    [[nodiscard]] static std::string ToLineBytes(std::string_view utf8);
    // The reverse for showing a line: DOS umlauts back to letters, every byte as one character.
    [[nodiscard]] static std::string LineBytesToUtf8(std::string_view bytes);

    // Converted, cut to `width` or padded with blanks on the right.
    [[nodiscard]] static std::string TextField(std::string_view utf8, std::size_t width);
    // A discipline or relay code: a value holding "-" means none and becomes blanks.
    [[nodiscard]] static std::string CodeField(std::string_view utf8, std::size_t width = 4);
    // The class code in three columns: a longer code such as "WK4w" becomes "W4".
    [[nodiscard]] static std::string ClassField(std::string_view utf8);
    // The year of birth in four columns, padded with "-" on the left.
    [[nodiscard]] static std::string YearField(std::string_view utf8);
    // "M" for an unknown class, else the class's sex in upper case, in one column.
    [[nodiscard]] static std::string SexField(const std::optional<std::string>& classSex);
};

// Reads every registration of the database the queries name and builds its line.
class TQUVWriter {
public:
    // Runs a SELECT on a query (closing it first) and answers whether it returned a row; the
    // query then stands on its first row. The application passes its RunSQL here.
    using TOpenStatement = std::function<bool(TABSQuery& query, const std::string& statement)>;

    // `source` walks the registrations, `lookup` finds the class and the school of each; both
    // must name the same database. Not owned.
    TQUVWriter(TABSQuery& source, TABSQuery& lookup, TOpenStatement open);

    // The lines of all registrations in the order class code, name, first name, year of birth.
    // Engine errors pass to the caller. Both queries are closed afterwards.
    [[nodiscard]] std::vector<std::string> BuildLines();

    // The two lookup statements. A double quote inside a stored code is doubled, so the code is
    // looked up as it is stored instead of ending the literal.
    [[nodiscard]] static std::string ClassStatement(std::string_view code);
    [[nodiscard]] static std::string SchoolStatement(std::string_view id);

private:
    [[nodiscard]] std::optional<std::string> LookUp(const std::string& statement, const char* column);

    TABSQuery& source_;
    TABSQuery& lookup_;
    TOpenStatement open_;
};

// The chosen file name with its extension replaced by ".QUV" (added when it has none); only the
// last path component counts, so a dot in a folder name is no extension.
[[nodiscard]] std::string QUVFileName(std::string_view chosen);

// Writes the lines, each followed by CR LF, replacing the file. Raises std::runtime_error with
// a German message when the file cannot be written.
void WriteQUVFile(const std::string& fileName, const std::vector<std::string>& lines);

} // namespace kova::app
