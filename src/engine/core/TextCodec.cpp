#include "engine/core/TextCodec.h"

#include "engine/core/ABSExcept.h"

#include <array>
#include <cstdint>

namespace kova {

namespace {

// Code points of the bytes 0x80 … 0x9F; the others equal their byte value.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::optional<std::uint8_t> CodePointToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<std::uint8_t>(cp);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == cp) return static_cast<std::uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

// Decodes one UTF-8 sequence at `pos`; returns false on malformed input.
bool DecodeUtf8(std::string_view s, std::size_t& pos, char32_t& cp) {
    const auto b0 = static_cast<std::uint8_t>(s[pos]);
    int extra;
    if (b0 < 0x80) { cp = b0; ++pos; return true; }
    if ((b0 & 0xE0) == 0xC0) { cp = b0 & 0x1F; extra = 1; }
    else if ((b0 & 0xF0) == 0xE0) { cp = b0 & 0x0F; extra = 2; }
    else if ((b0 & 0xF8) == 0xF0) { cp = b0 & 0x07; extra = 3; }
    else return false;
    if (pos + static_cast<std::size_t>(extra) >= s.size()) return false;
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<std::uint8_t>(s[pos + i]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    pos += static_cast<std::size_t>(extra) + 1;
    return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

[[noreturn]] void RaiseUnrepresentable(std::string_view text) {
    RaiseError(kUnrepresentableTextError,
               "Text cannot be stored in the 8-bit character set: '%s'", {std::string(text)});
}

[[noreturn]] void RaiseInvalidUtf8() {
    RaiseError(kUnrepresentableTextError, "Text is not valid UTF-8");
}

} // namespace

std::optional<std::string> TryUtf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto b = static_cast<std::uint8_t>(utf8[pos]);
        if (b < 0x80) {  // the common case: plain ASCII
            out += static_cast<char>(b);
            ++pos;
            continue;
        }
        char32_t cp;
        if (!DecodeUtf8(utf8, pos, cp)) return std::nullopt;
        const auto byte = CodePointToCp1252(cp);
        if (!byte) return std::nullopt;
        out += static_cast<char>(*byte);
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        if (!DecodeUtf8(utf8, pos, cp)) RaiseInvalidUtf8();
    }
    auto converted = TryUtf8ToCp1252(utf8);
    if (!converted) RaiseUnrepresentable(utf8);
    return std::move(*converted);
}

bool IsCp1252Representable(std::string_view utf8) {
    return TryUtf8ToCp1252(utf8).has_value();
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size() + cp1252.size() / 8);
    for (const char c : cp1252) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80) {
            out += c;
        } else if (b < 0xA0) {
            AppendUtf8(out, kHighControls[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        if (!DecodeUtf8(utf8, pos, cp)) RaiseInvalidUtf8();
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate cannot be written as UTF-8
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::size_t Utf8Length(std::string_view utf8) noexcept {
    std::size_t count = 0;
    for (const char c : utf8) {
        if ((static_cast<std::uint8_t>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string_view Utf8Prefix(std::string_view utf8, std::size_t count) noexcept {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<std::uint8_t>(utf8[i]) & 0xC0) != 0x80) {
            if (seen == count) return utf8.substr(0, i);
            ++seen;
        }
    }
    return utf8;
}

} // namespace kova
