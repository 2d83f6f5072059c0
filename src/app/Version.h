// The program's version text, made from the three version-control keywords of the release.
#pragma once

#include <string>
#include <string_view>

namespace kova::app {

// The keyword strings as the version control system expands them in the release's source.
inline constexpr std::string_view kVersionKeyword = "$Version: 02.03 $";
inline constexpr std::string_view kVersionDateKeyword = "$VersDate: 2011-NOV-14 $";
inline constexpr std::string_view kVersionTimeKeyword = "$VersTime: 19:24 $";

// The value of one keyword: what stands after its first colon, without its last two characters
// (" $") and without blanks and control characters; `fallback` when that leaves nothing.
[[nodiscard]] std::string KeywordValue(std::string_view keyword, std::string_view fallback);

// "version (date; time)" from the three keywords, each with its default when it yields nothing.
[[nodiscard]] std::string VersionText(std::string_view version, std::string_view date, std::string_view time);

// The release's version text: "02.03 (2011-NOV-14; 19:24)".
[[nodiscard]] std::string ProgramVersion();

} // namespace kova::app
