// The one place where text changes its encoding.
//
// The engine's public API and its values speak UTF-8. Inside the file, 8-bit text columns and
// every name (tables, fields, indexes) are single-byte Windows-1252, wide text is UTF-16LE.
// Text that Windows-1252 cannot represent is refused, never replaced by '?'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kova {

// Native error raised for text the 8-bit character set cannot hold.
inline constexpr int kUnrepresentableTextError = 30053;

// UTF-8 → Windows-1252. Raises EABSException 30053 when a character has no single-byte form
// or the input is not valid UTF-8.
[[nodiscard]] std::string Utf8ToCp1252(std::string_view utf8);

// Like Utf8ToCp1252, but returns nothing instead of raising.
[[nodiscard]] std::optional<std::string> TryUtf8ToCp1252(std::string_view utf8);

// Whether every character of the UTF-8 text has a Windows-1252 form.
[[nodiscard]] bool IsCp1252Representable(std::string_view utf8);

// Windows-1252 → UTF-8. Every byte has a meaning (the five unassigned bytes map to the
// C1 control characters of the same number, as the platform's converter does).
[[nodiscard]] std::string Cp1252ToUtf8(std::string_view cp1252);

// UTF-8 ↔ UTF-16 (host order; the file stores it little-endian, which is the host order).
// Invalid UTF-8 raises EABSException 30053.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view utf8);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view utf16);

// Number of characters (code points) of a UTF-8 text.
[[nodiscard]] std::size_t Utf8Length(std::string_view utf8) noexcept;

// The first `count` characters of a UTF-8 text (all of it when shorter).
[[nodiscard]] std::string_view Utf8Prefix(std::string_view utf8, std::size_t count) noexcept;

} // namespace kova
