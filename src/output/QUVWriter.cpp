#include "output/QUVWriter.h"

#include "engine/api/ABSQuery.h"
#include "engine/core/TextCodec.h"
#include "model/HexBin.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace kova::app {
namespace {

// ConvertUmlauts: from the Windows code page to the DOS code page, and back.
constexpr int kAnsiToOem = 1;
constexpr int kOemToAnsi = 0;

[[nodiscard]] std::string Blanks(std::size_t count) { return std::string(count, ' '); }

[[nodiscard]] std::string PadRight(std::string bytes, std::size_t width, char fill = ' ') {
    bytes.resize(width, fill);  // cuts a longer value to its first `width` bytes
    return bytes;
}

[[nodiscard]] char AsciiUpper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

[[nodiscard]] std::string AsciiUpper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return AsciiUpper(c); });
    return text;
}

// A literal for a statement in double quotes: a double quote inside is written twice.
[[nodiscard]] std::string QuotedLiteral(std::string_view value) {
    std::string literal = "\"";
    for (char c : value) {
        literal += c;
        if (c == '"') literal += '"';
    }
    literal += '"';
    return literal;
}

// Closes a query when the walk ends, also when an engine error ends it.
class TCloseOnExit {
public:
    explicit TCloseOnExit(TABSQuery& query) : query_(query) {}
    ~TCloseOnExit() {
        try {
            query_.Close();
        } catch (...) {
            // The error that ended the walk is the one the caller sees.
        }
    }
    TCloseOnExit(const TCloseOnExit&) = delete;
    TCloseOnExit& operator=(const TCloseOnExit&) = delete;

private:
    TABSQuery& query_;
};

} // namespace

// ---- TQUVLine ----------------------------------------------------------------------------------

std::string TQUVLine::ToLineBytes(std::string_view utf8) {
    std::optional<std::string> bytes = TryUtf8ToCp1252(utf8);
    if (!bytes) {
        // Only texts of wide columns can get here; each character on its own keeps the widths.
        bytes.emplace();
        while (!utf8.empty()) {
            std::string_view character = Utf8Prefix(utf8, 1);
            if (character.empty()) character = utf8.substr(0, 1);
            const std::optional<std::string> single = TryUtf8ToCp1252(character);
            *bytes += single ? *single : std::string("?");
            utf8.remove_prefix(character.size());
        }
    }
    THexBin::ConvertUmlauts(kAnsiToOem, *bytes);
    return std::move(*bytes);
}

std::string TQUVLine::LineBytesToUtf8(std::string_view bytes) {
    std::string ansi(bytes);
    THexBin::ConvertUmlauts(kOemToAnsi, ansi);
    return Cp1252ToUtf8(ansi);
}

std::string TQUVLine::TextField(std::string_view utf8, std::size_t width) {
    return PadRight(ToLineBytes(utf8), width);
}

std::string TQUVLine::CodeField(std::string_view utf8, std::size_t width) {
    std::string bytes = ToLineBytes(utf8);
    if (bytes.find('-') != std::string::npos) bytes.clear();  // "-" stands for no discipline
    return PadRight(std::move(bytes), width);
}

std::string TQUVLine::ClassField(std::string_view utf8) {
    // Conversion maps one character to one byte, so choosing the characters before or after
    // it gives the same bytes; the upper-casing must see the letter, so it comes first.
    std::optional<std::string> ansi = TryUtf8ToCp1252(utf8);
    std::string code = ansi ? std::move(*ansi) : ToLineBytes(utf8);
    if (code.size() > 3) code = std::string{AsciiUpper(code[3]), code[2]};
    THexBin::ConvertUmlauts(kAnsiToOem, code);
    return PadRight(std::move(code), 3);
}

std::string TQUVLine::YearField(std::string_view utf8) {
    std::string bytes = ToLineBytes(utf8);
    if (bytes.size() > 4) bytes.resize(4);
    return std::string(4 - bytes.size(), '-') + bytes;
}

std::string TQUVLine::SexField(const std::optional<std::string>& classSex) {
    if (!classSex) return "M";
    return TextField(AsciiUpper(*classSex), 1);
}

std::string TQUVLine::Build(const TQUVRegistration& r) {
    std::string line;
    line.reserve(kQUVLineLength);
    line += ClassField(r.ak);                          //   1–3
    line += Blanks(2);                                 //   4–5
    line += CodeField(r.staffel);                      //   6–9
    line += Blanks(14);                                //  10–23
    line += CodeField("KVB");                          //  24–27
    line += Blanks(14);                                //  28–41
    line += CodeField(r.disziplin1);                   //  42–45
    line += Blanks(14);                                //  46–59
    line += CodeField(r.disziplin2);                   //  60–63
    line += Blanks(14);                                //  64–77
    line += CodeField(r.disziplin3);                   //  78–81
    line += Blanks(19);                                //  82–100
    line += "0000000";                                 // 101–107
    line += TextField(r.name + ", " + r.vorname, 28);  // 108–135
    line += SexField(r.classSex);                      // 136
    line += "----";                                    // 137–140
    line += YearField(r.jahrgang);                     // 141–144
    line += Blanks(5);                                 // 145–149
    line += TextField(r.school.value_or(""), 30);      // 150–179
    line += Blanks(6);                                 // 180–185
    // Typed double quotes are stored as apostrophes; the results program gets them back.
    std::replace(line.begin(), line.end(), '\'', '"');
    return line;
}

// ---- TQUVWriter --------------------------------------------------------------------------------

TQUVWriter::TQUVWriter(TABSQuery& source, TABSQuery& lookup, TOpenStatement open)
    : source_(source), lookup_(lookup), open_(std::move(open)) {}

std::string TQUVWriter::ClassStatement(std::string_view code) {
    return "SELECT * FROM Klassen WHERE Kuerzel=" + QuotedLiteral(code);
}

std::string TQUVWriter::SchoolStatement(std::string_view id) {
    return "SELECT * FROM Verein WHERE ID=" + QuotedLiteral(id);
}

std::optional<std::string> TQUVWriter::LookUp(const std::string& statement, const char* column) {
    TCloseOnExit closeLookup(lookup_);
    if (!open_(lookup_, statement)) return std::nullopt;
    return lookup_.FieldByName(column).AsString();
}

std::vector<std::string> TQUVWriter::BuildLines() {
    std::vector<std::string> lines;
    TCloseOnExit closeSource(source_);
    if (!open_(source_, std::string(kQUVSourceStatement))) return lines;
    while (!source_.Eof()) {
        TQUVRegistration r;
        r.ak = source_.FieldByName("AK").AsString();
        r.staffel = source_.FieldByName("Staffel").AsString();
        r.disziplin1 = source_.FieldByName("Disziplin1").AsString();
        r.disziplin2 = source_.FieldByName("Disziplin2").AsString();
        r.disziplin3 = source_.FieldByName("Disziplin3").AsString();
        r.name = source_.FieldByName("Name").AsString();
        r.vorname = source_.FieldByName("Vorname").AsString();
        r.jahrgang = source_.FieldByName("Jahrgang").AsString();
        r.classSex = LookUp(ClassStatement(r.ak), "SEX");
        r.school = LookUp(SchoolStatement(source_.FieldByName("VereinID").AsString()), "Schule");
        lines.push_back(TQUVLine::Build(r));
        source_.Next();
    }
    return lines;
}

// ---- The file ----------------------------------------------------------------------------------

std::string QUVFileName(std::string_view chosen) {
    const std::size_t nameStart = chosen.rfind('/') == std::string_view::npos ? 0 : chosen.rfind('/') + 1;
    const std::size_t dot = chosen.rfind('.');
    const std::size_t stemEnd = (dot != std::string_view::npos && dot >= nameStart) ? dot : chosen.size();
    return std::string(chosen.substr(0, stemEnd)) + std::string(kQUVExtension);
}

void WriteQUVFile(const std::string& fileName, const std::vector<std::string>& lines) {
    std::string bytes;
    bytes.reserve(lines.size() * (kQUVLineLength + 2));
    for (const std::string& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (file) file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file) file.close();
    if (!file) throw std::runtime_error("Die Datei \"" + fileName + "\" kann nicht geschrieben werden.");
}

} // namespace kova::app
