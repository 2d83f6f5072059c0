// Small text helpers: trimming, splitting at a separator, and the single-byte umlaut conversion
// between the DOS and the Windows code page that the export list for the results program needs.
#pragma once

#include <string>
#include <string_view>

namespace kova::app {

class THexBin {
public:
    // Removes blanks and tab characters at the start, then at the end.
    [[nodiscard]] static std::string TrimBlanks(std::string_view text);

    // Cuts the text before the first `separator` off `rest` and returns it; the separator goes
    // too. Head and rest are trimmed with TrimBlanks; with `upperCase` the head is upper-cased.
    // No separator in the rest: the head is the whole rest, which becomes empty. An empty rest or
    // separator gives an empty head and leaves the rest alone.
    [[nodiscard]] static std::string SplitFirst(std::string_view separator, bool upperCase, std::string& rest);

    // Single-byte umlaut conversion in place: mode 0 DOS (code page 437) bytes to Windows-1252
    // bytes, mode 1 Windows-1252 to DOS, mode 2 both to plain letters (ß to s). Other modes and
    // all other bytes are left alone. `bytes` is 8-bit text, not UTF-8.
    static void ConvertUmlauts(int mode, std::string& bytes);
};

} // namespace kova::app
