#include "model/HexBin.h"

#include <QString>

#include <array>

namespace kova::app {
namespace {

[[nodiscard]] bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

struct TUmlaut {
    unsigned char oem;
    unsigned char ansi;
    char plain;
};

constexpr std::array<TUmlaut, 8> kUmlauts{{
    {0x81, 0xFC, 'u'},  // ü
    {0x82, 0xE9, 'e'},  // é
    {0x84, 0xE4, 'a'},  // ä
    {0x8E, 0xC4, 'A'},  // Ä
    {0x94, 0xF6, 'o'},  // ö
    {0x99, 0xD6, 'O'},  // Ö
    {0x9A, 0xDC, 'U'},  // Ü
    {0xE1, 0xDF, 's'},  // ß
}};

} // namespace

std::string THexBin::TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    std::size_t end = text.size();
    while (end > begin && IsBlank(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string THexBin::SplitFirst(std::string_view separator, bool upperCase, std::string& rest) {
    if (rest.empty() || separator.empty()) return {};
    std::string head;
    const std::size_t at = rest.find(separator);
    if (at == std::string::npos) {
        head = rest;
        rest.clear();
    } else {
        head = rest.substr(0, at);
        rest.erase(0, at + separator.size());
    }
    head = TrimBlanks(head);
    rest = TrimBlanks(rest);
    if (upperCase) head = QString::fromStdString(head).toUpper().toStdString();
    return head;
}

void THexBin::ConvertUmlauts(int mode, std::string& bytes) {
    if (mode < 0 || mode > 2) return;
    for (char& c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        for (const TUmlaut& u : kUmlauts) {
            if (mode == 0 && b == u.oem) {
                c = static_cast<char>(u.ansi);
            } else if (mode == 1 && b == u.ansi) {
                c = static_cast<char>(u.oem);
            } else if (mode == 2 && (b == u.oem || b == u.ansi)) {
                c = u.plain;
            } else {
                continue;
            }
            break;
        }
    }
}

} // namespace kova::app
