#include "model/GenSerials.h"

#include "engine/core/FormatSettings.h"

#include <QDateTime>

#include <cstdint>
#include <cstdio>
#include <optional>

namespace kova::app {
namespace {

constexpr std::string_view kUnreadable = "???";

[[nodiscard]] bool IsUpperHexDigit(char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Eight characters are worked on only after every character outside 0-9 / A-F is dropped; the
// caller then insists on exactly eight remaining, so a lower-case digit makes the text unreadable.
[[nodiscard]] std::string KeepUpperHexDigits(std::string_view text) {
    std::string kept;
    for (char c : text) {
        if (IsUpperHexDigit(c)) kept.push_back(c);
    }
    return kept;
}

[[nodiscard]] std::uint32_t ParseHex(std::string_view digits) noexcept {
    std::uint32_t value = 0;
    for (char c : digits) {
        const std::uint32_t nibble = (c <= '9') ? static_cast<std::uint32_t>(c - '0') : static_cast<std::uint32_t>(c - 'A' + 10);
        value = (value << 4) | nibble;
    }
    return value;
}

[[nodiscard]] std::string Hex(std::uint32_t value, int minDigits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", minDigits, static_cast<unsigned>(value));
    return buffer;
}

// Drops `prefixLength` characters (all of them when the text is shorter).
[[nodiscard]] std::string_view DropPrefix(std::string_view text, int prefixLength) noexcept {
    if (prefixLength <= 0) return text;
    const auto n = static_cast<std::size_t>(prefixLength);
    return n >= text.size() ? std::string_view{} : text.substr(n);
}

} // namespace

TGenSerials::TGenSerials() : clock_(&TGenSerials::LocalNow) {}

TGenSerials::TGenSerials(Clock clock) : clock_(clock ? std::move(clock) : Clock(&TGenSerials::LocalNow)) {}

TABSDateTime TGenSerials::LocalNow() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    const auto date = TryEncodeDate(d.year(), d.month(), d.day());
    return TABSDateTime{date.value_or(0), t.msecsSinceStartOfDay()};
}

std::string TGenSerials::SerialDigits(TABSDateTime when) {
    // Days before 3 September 1999 would give a negative field; they wrap as unsigned 32-bit
    // values, which keeps the text hexadecimal (such dates do not occur on a working clock).
    const auto day = static_cast<std::uint32_t>(when.date - kDayOffset);
    const auto slot = static_cast<std::uint32_t>(when.time / kSlotMilliseconds);
    return Hex(day, 4) + Hex(slot, 4);
}

std::string TGenSerials::NewSerial(std::string_view prefix, std::string_view suffix) const {
    std::string serial(prefix);
    serial += SerialDigits(clock_());
    serial += suffix;
    return serial;
}

std::string TGenSerials::IncSerial(std::string_view serial, int prefixLength) {
    const std::string_view prefix = serial.substr(0, serial.size() - DropPrefix(serial, prefixLength).size());
    std::string_view rest = DropPrefix(serial, prefixLength);
    std::string_view suffix;
    if (rest.size() > 8) {
        suffix = rest.substr(8);
        rest = rest.substr(0, 8);
    }
    std::string digits(rest);
    if (digits.size() == 8) digits = KeepUpperHexDigits(digits);
    if (digits.size() != 8) return std::string(kUnreadable);

    const std::uint32_t next = ParseHex(digits) + 1U;  // unsigned arithmetic: FFFFFFFF wraps to 0
    std::string result(prefix);
    result += Hex(next, 8);
    result += suffix;
    return result;
}

std::string TGenSerials::SerialToDateTime(std::string_view serial, int prefixLength) {
    std::string_view rest = DropPrefix(serial, prefixLength);
    if (rest.size() > 8) rest = rest.substr(0, 8);
    std::string digits(rest);
    if (digits.size() == 8) digits = KeepUpperHexDigits(digits);
    if (digits.size() != 8) return std::string(kUnreadable);

    const std::int64_t day = static_cast<std::int64_t>(ParseHex(std::string_view(digits).substr(0, 4))) + kDayOffset;
    const std::int64_t slot = ParseHex(std::string_view(digits).substr(4, 4));
    // A slot above A8BF lies beyond midnight: the normalisation carries it into the next day.
    const TABSDateTime when = NormalizeDateTime(day, slot * kSlotMilliseconds);
    return DateTimeToStr(when, *GetFormatSettings());
}

} // namespace kova::app
