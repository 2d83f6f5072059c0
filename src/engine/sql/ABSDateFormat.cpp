// TODATE / TOSTRING format handling.
#include "engine/sql/ABSDateFormat.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/FormatSettings.h"
#include "engine/core/TextCodec.h"
#include "engine/sql/ABSSQLErrors.h"

#include <array>
#include <cstdio>

namespace kova {
namespace {

using Word = TDateFormater::Word;

struct WordEntry {
    std::string_view text;
    Word word;
};

// Table order; the scanner picks the longest entry that matches.
constexpr std::array<WordEntry, 26> kWords{{
    {"YYYY", Word::YYYY}, {"YEAR", Word::YEAR}, {"YY", Word::YY},     {"Q", Word::Q},
    {"MONTH", Word::MONTH}, {"MON", Word::MON}, {"MM", Word::MM},     {"M", Word::M},
    {"RM", Word::RM},     {"DDD", Word::DDD},   {"DD", Word::DD},     {"DAY", Word::DAY},
    {"DY", Word::DY},     {"DW", Word::DW},     {"D", Word::D},       {"HH12", Word::HH12},
    {"HH", Word::HH},     {"HH24", Word::HH24}, {"H12", Word::H12},   {"H", Word::H},
    {"H24", Word::H24},   {"NN", Word::NN},     {"N", Word::N},       {"SS", Word::SS},
    {"S", Word::S},       {"AMPM", Word::AMPM},
}};

[[nodiscard]] bool IsDateWord(Word w) noexcept { return w <= Word::D; }
[[nodiscard]] bool IsTimeWord(Word w) noexcept { return w >= Word::HH12 && w <= Word::AMPM; }

[[nodiscard]] char Upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The longest format word at `pos` of the format, comparing upper-cased; nullptr when none.
const WordEntry* MatchWord(std::string_view format, std::size_t pos) noexcept {
    const WordEntry* best = nullptr;
    for (const auto& entry : kWords) {
        if (pos + entry.text.size() > format.size()) continue;
        if (best && entry.text.size() <= best->text.size()) continue;
        bool equal = true;
        for (std::size_t k = 0; k < entry.text.size(); ++k) {
            if (Upper(format[pos + k]) != entry.text[k]) {
                equal = false;
                break;
            }
        }
        if (equal) best = &entry;
    }
    return best;
}

std::string Digits(int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return buffer;
}

constexpr std::array<std::string_view, 12> kRoman{"I", "II", "III", "IV", "V", "VI",
                                                  "VII", "VIII", "IX", "X", "XI", "XII"};

// Reads digits for TODATE from a UTF-8 text at a character position.
class TDateReader {
public:
    explicit TDateReader(std::string_view text) : text_(text) {}

    // Exactly `count` characters (fewer at the end), read as a decimal integer.
    int Fixed(std::size_t count) { return ToInt(Take(count)); }
    // Two characters when the second one is a digit, else one.
    int OneOrTwo() {
        const std::size_t second = NextCharEnd(pos_);
        const bool two = second < text_.size() && text_[second] >= '0' && text_[second] <= '9';
        return ToInt(Take(two ? 2 : 1));
    }
    void Skip(std::size_t characters) { (void)Take(characters); }
    std::string_view Take(std::size_t characters) {
        const std::size_t start = pos_;
        for (std::size_t k = 0; k < characters && pos_ < text_.size(); ++k) pos_ = NextCharEnd(pos_);
        return text_.substr(start, pos_ - start);
    }

private:
    [[nodiscard]] std::size_t NextCharEnd(std::size_t at) const noexcept {
        if (at >= text_.size()) return text_.size();
        std::size_t end = at + 1;
        while (end < text_.size() && (static_cast<unsigned char>(text_[end]) & 0xC0u) == 0x80u) ++end;
        return end;
    }

    static int ToInt(std::string_view digits) {
        const auto value = TryStrToInt32(digits);
        // Only plain decimal digits count; the integer reader would also take a sign or "$".
        bool plain = !digits.empty();
        for (const char c : digits) plain = plain && c >= '0' && c <= '9';
        if (!value || !plain) RaiseError(sqlerr::kConvertError, sqlerr::kInvalidIntegerMsg, {digits});
        return static_cast<int>(*value);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

std::string_view TDateFormater::WordText(Word word) noexcept {
    for (const auto& entry : kWords) {
        if (entry.word == word) return entry.text;
    }
    return {};
}

TDateFormater::TDateFormater(std::string_view format) {
    std::string literal;
    auto flushLiteral = [&] {
        if (!literal.empty()) {
            tokens_.push_back(Token{Word::Literal, std::move(literal)});
            literal.clear();
        }
    };
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c == '\'' || c == '"') {
            // Quoted literal text; an unclosed quote makes the rest literal.
            const std::size_t close = format.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? format.size() : close;
            literal.append(format.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? format.size() : close + 1;
            continue;
        }
        if (const WordEntry* entry = MatchWord(format, i)) {
            flushLiteral();
            tokens_.push_back(Token{entry->word, {}});
            i += entry->text.size();
            continue;
        }
        literal.push_back(c);
        ++i;
    }
    flushLiteral();
}

std::string TDateFormater::Format(TABSDateTime value) const {
    const auto settings = GetFormatSettings();
    const TDateParts date = DecodeDate(value.date);
    const TTimeParts time = DecodeTime(value.time);
    const int hour12 = time.hour % 12;
    std::string out;
    for (const auto& token : tokens_) {
        switch (token.word) {
        case Word::YYYY:
        case Word::YEAR: out += Digits(date.year, 4); break;
        case Word::YY: out += Digits(date.year % 100, 2); break;
        case Word::Q: out += std::to_string((date.month - 1) / 3 + 1); break;
        case Word::MONTH: out += settings->LongMonthNames.at(static_cast<std::size_t>(date.month - 1)); break;
        case Word::MON: out += settings->ShortMonthNames.at(static_cast<std::size_t>(date.month - 1)); break;
        case Word::MM: out += Digits(date.month, 2); break;
        case Word::M: out += std::to_string(date.month); break;
        case Word::RM: out += kRoman.at(static_cast<std::size_t>(date.month - 1)); break;
        case Word::DDD:
            out += settings->ShortDayNames.at(static_cast<std::size_t>(DayOfWeekSundayFirst(value.date)));
            break;
        case Word::DAY:
            out += settings->LongDayNames.at(static_cast<std::size_t>(DayOfWeekSundayFirst(value.date)));
            break;
        case Word::DD: out += Digits(date.day, 2); break;
        case Word::D: out += std::to_string(date.day); break;
        case Word::DY: out += std::to_string(DayOfYear(value.date)); break;
        case Word::DW: {
            const int sundayFirst = DayOfWeekSundayFirst(value.date);
            out += std::to_string(sundayFirst == 0 ? 7 : sundayFirst);
            break;
        }
        case Word::HH12:
        case Word::HH: out += Digits(hour12, 2); break;
        case Word::HH24: out += Digits(time.hour, 2); break;
        case Word::H12:
        case Word::H: out += std::to_string(hour12); break;
        case Word::H24: out += std::to_string(time.hour); break;
        case Word::NN: out += Digits(time.minute, 2); break;
        case Word::N: out += std::to_string(time.minute); break;
        case Word::SS: out += Digits(time.second, 2); break;
        case Word::S: out += std::to_string(time.second); break;
        case Word::AMPM: out += time.hour < 12 ? "AM" : "PM"; break;
        case Word::Literal: out += token.literal; break;
        }
    }
    return out;
}

TABSDateTime TDateFormater::Parse(std::string_view text) const {
    TDateReader reader(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    for (const auto& token : tokens_) {
        switch (token.word) {
        case Word::YYYY:
        case Word::YEAR: year = reader.Fixed(4); break;
        case Word::YY: {
            const int yy = reader.Fixed(2);
            year = yy < 30 ? 2000 + yy : 1900 + yy;
            break;
        }
        case Word::Q: month = 3 * reader.Fixed(1) - 2; break;
        case Word::MM: month = reader.Fixed(2); break;
        case Word::M: month = reader.OneOrTwo(); break;
        case Word::DD: day = reader.Fixed(2); break;
        case Word::D: day = reader.OneOrTwo(); break;
        case Word::HH12:
        case Word::HH: hour = reader.OneOrTwo(); break;
        case Word::HH24: hour = reader.Fixed(2); break;
        case Word::H24: hour = reader.OneOrTwo(); break;
        case Word::NN: minute = reader.Fixed(2); break;
        case Word::N: minute = reader.OneOrTwo(); break;
        case Word::SS: second = reader.Fixed(2); break;
        case Word::S: second = reader.OneOrTwo(); break;
        case Word::AMPM: {
            const std::string_view marker = reader.Take(2);
            const std::string upper{Upper(marker.empty() ? ' ' : marker[0]),
                                    Upper(marker.size() < 2 ? ' ' : marker[1])};
            if (marker.size() == 2 && upper == "PM") {
                hour += 12;
            } else if (!(marker.size() == 2 && upper == "AM")) {
                RaiseError(sqlerr::kAmPmExpected, sqlerr::kAmPmExpectedMsg, {marker});
            }
            break;
        }
        case Word::MONTH: case Word::MON: case Word::RM: case Word::DDD: case Word::DAY:
        case Word::DY: case Word::DW: case Word::H12: case Word::H:
            // Names and derived numbers are not read back: skip as many characters as the
            // format word has.
            reader.Skip(WordText(token.word).size());
            break;
        case Word::Literal: reader.Skip(Utf8Length(token.literal)); break;
        }
    }
    TABSDateTime result;
    if (year == 0 || month == 0 || day == 0) {
        result.date = kDayFractionEpoch;
    } else {
        const auto date = TryEncodeDate(year, month, day);
        if (!date) RaiseError(sqlerr::kConvertError, sqlerr::kInvalidDateMsg, {text});
        result.date = *date;
    }
    const auto time = TryEncodeTime(hour, minute, second, 0);
    if (!time) RaiseError(sqlerr::kConvertError, sqlerr::kInvalidTimeMsg, {text});
    result.time = *time;
    return result;
}

TABSBaseType TDateFormater::ParseResultType() const noexcept {
    bool hasDate = false;
    bool hasTime = false;
    for (const auto& token : tokens_) {
        hasDate = hasDate || IsDateWord(token.word);
        hasTime = hasTime || IsTimeWord(token.word);
    }
    if (hasDate && !hasTime) return TABSBaseType::bftDate;
    if (hasTime && !hasDate) return TABSBaseType::bftTime;
    return TABSBaseType::bftDateTime;
}

int TDateFormater::FormatColumnSize() const noexcept {
    int size = 0;
    for (const auto& token : tokens_) {
        switch (token.word) {
        case Word::YYYY: case Word::YEAR: case Word::RM: size += 4; break;
        case Word::Q: size += 1; break;
        case Word::MONTH: size += 9; break;
        case Word::MON: case Word::DDD: size += 3; break;
        case Word::DAY: size += 12; break;
        case Word::Literal: size += static_cast<int>(Utf8Length(token.literal)); break;
        default: size += 2; break;
        }
    }
    return size;
}

} // namespace kova
