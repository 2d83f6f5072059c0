// Date format strings of TODATE and TOSTRING.
//
// A format is split once into tokens: quoted parts are literal text; elsewhere the longest
// format word that matches the upper-cased text at the position is taken ("MONTH" over "MON",
// "HH24" over "HH" and "H"); other characters collect into literal text. Formatting writes the
// words and copies the literals; parsing reads the words and skips literals by their length.
// Month and day names come from the process's format settings.
#pragma once

#include "engine/core/ABSDateTime.h"
#include "engine/core/ABSTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

class TDateFormater {
public:
    // Format words, in table order: YYYY up to D are date words, HH12 up to AMPM time words.
    enum class Word : std::uint8_t {
        YYYY, YEAR, YY, Q, MONTH, MON, MM, M, RM, DDD, DD, DAY, DY, DW, D,
        HH12, HH, HH24, H12, H, H24, NN, N, SS, S, AMPM,
        Literal,
    };

    struct Token {
        Word word = Word::Literal;
        std::string literal;  // Word::Literal only
    };

    explicit TDateFormater(std::string_view format);

    [[nodiscard]] const std::vector<Token>& Tokens() const noexcept { return tokens_; }

    // TOSTRING: writes a date-time.
    [[nodiscard]] std::string Format(TABSDateTime value) const;

    // TODATE: reads a date-time. Raises 30129 "AM/PM word expected, but '%s' found" and the
    // conversion error 30092 for digits that are no number and for impossible dates or times.
    [[nodiscard]] TABSDateTime Parse(std::string_view text) const;

    // Column type of TODATE with this format: Date with only date words, Time with only time
    // words, else DateTime.
    [[nodiscard]] TABSBaseType ParseResultType() const noexcept;

    // Column size of TOSTRING with this format.
    [[nodiscard]] int FormatColumnSize() const noexcept;

    // The text of a format word ("HH24").
    [[nodiscard]] static std::string_view WordText(Word word) noexcept;

private:
    std::vector<Token> tokens_;
};

} // namespace kova
