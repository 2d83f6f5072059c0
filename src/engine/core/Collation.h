// Locale-aware comparison and case mapping of text values.
//
// Text values compare by the collation of one process-wide locale (by default the user's, from
// LC_ALL / LC_COLLATE / LANG; the application and tests may set another). The collation runs in
// string-sort mode: blanks and punctuation are significant characters, not ignorable ones.
// Case-sensitive comparison uses tertiary strength; ignoring case drops to secondary strength,
// which still tells accents apart ("a" = "A", but "a" ≠ "ä").
//
// Collators are cached per thread: a locale change is noticed through a generation counter and
// each thread reopens its collators on its next comparison, so comparing never takes a lock.
#pragma once

#include <string>
#include <string_view>

namespace kova {

// Native error codes of collation failures.
inline constexpr int kCollationResultError = 30045;
inline constexpr int kCollationUnavailableError = 30046;

// Sets the locale of every later comparison and case mapping ("de_DE", "en_US", "" = root).
void SetCollationLocale(std::string_view localeName);
// The locale in use (the environment's until SetCollationLocale is called).
[[nodiscard]] std::string CollationLocale();

// Compares two UTF-8 texts; < 0, 0 or > 0. With `partial` only as many characters of `left` take
// part as `right` has (a prefix test when the result is 0). Raises 30046 when no collator can be
// opened and 30045 for a result the collator should never give.
[[nodiscard]] int CompareText(std::string_view left, std::string_view right, bool ignoreCase = false,
                              bool partial = false);
// The same for UTF-16 text.
[[nodiscard]] int CompareWideText(std::u16string_view left, std::u16string_view right, bool ignoreCase = false,
                                  bool partial = false);

// Appends the binary sort key of the UTF-8 `text` to `key`: keys compare as unsigned bytes in the
// order CompareText gives (without `partial`), so a sort can key each text once. The key's closing
// zero byte is left out. False when `text` is not valid UTF-8 or no key comes of it; raises 30046
// like CompareText.
[[nodiscard]] bool AppendSortKey(std::string_view text, bool ignoreCase, std::string& key);

// Case mapping with the collation locale's rules (full mapping: "ß" upper-cases to "SS").
[[nodiscard]] std::string UpperCaseText(std::string_view text);
[[nodiscard]] std::string LowerCaseText(std::string_view text);
[[nodiscard]] std::u16string UpperCaseWideText(std::u16string_view text);
[[nodiscard]] std::u16string LowerCaseWideText(std::u16string_view text);

} // namespace kova
