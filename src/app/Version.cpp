#include "app/Version.h"

namespace kova::app {

std::string KeywordValue(std::string_view keyword, std::string_view fallback) {
    std::string value;
    const std::size_t colon = keyword.find(':');
    // An unexpanded keyword has no colon, or nothing between the colon and its closing " $".
    if (colon != std::string_view::npos && keyword.size() >= 2 && colon + 1 <= keyword.size() - 2) {
        for (const char c : keyword.substr(colon + 1, keyword.size() - 2 - (colon + 1))) {
            if (static_cast<unsigned char>(c) > ' ' && c != 0x7F) value.push_back(c);
        }
    }
    return value.empty() ? std::string(fallback) : value;
}

std::string VersionText(std::string_view version, std::string_view date, std::string_view time) {
    return KeywordValue(version, "00.00.00") + " (" + KeywordValue(date, "0000-Jan-00") + "; " +
           KeywordValue(time, "00:00") + ")";
}

std::string ProgramVersion() {
    return VersionText(kVersionKeyword, kVersionDateKeyword, kVersionTimeKeyword);
}

} // namespace kova::app
