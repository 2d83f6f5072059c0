// Record identifiers made from the time a record was created.
//
// An identifier is a prefix, eight upper-case hexadecimal digits and a suffix. The digits are two
// fields of four: the day number (days since 1 January 0001, that day counting as 1, less 730000,
// so 3 September 1999 is 0000) and the two-second slot of the day (milliseconds since midnight
// divided by 2000, 0000 … A8BF). An identifier therefore tells when its record was made, to two
// seconds, and the next free identifier after a clash is simply the next slot.
#pragma once

#include "engine/core/ABSDateTime.h"

#include <functional>
#include <string>
#include <string_view>

namespace kova::app {

class TGenSerials {
public:
    // The current local date and time; tests put a fixed clock in its place.
    using Clock = std::function<TABSDateTime()>;

    TGenSerials();
    explicit TGenSerials(Clock clock);

    // The day number of the eight digits' first field is the engine day number less this.
    static constexpr std::int32_t kDayOffset = 730000;
    static constexpr std::int32_t kSlotMilliseconds = 2000;

    // prefix + the eight digits of the clock's current time + suffix.
    [[nodiscard]] std::string NewSerial(std::string_view prefix, std::string_view suffix) const;
    // The eight digits (or more, once the day field passes FFFF) of a point in time.
    [[nodiscard]] static std::string SerialDigits(TABSDateTime when);

    // The identifier whose digits, read as one 32-bit hexadecimal number, are one more
    // (FFFFFFFF wraps to 00000000); "???" when the digits cannot be read. `prefixLength`
    // characters at the start are kept as they are, as is anything after the eighth digit.
    [[nodiscard]] static std::string IncSerial(std::string_view serial, int prefixLength);

    // The creation time of an identifier as text: the short date, a blank and the long time
    // (the time left out at midnight), in the process's formats; "???" when unreadable.
    [[nodiscard]] static std::string SerialToDateTime(std::string_view serial, int prefixLength);

    // The local date and time now, to the millisecond.
    [[nodiscard]] static TABSDateTime LocalNow();

private:
    Clock clock_;
};

} // namespace kova::app
