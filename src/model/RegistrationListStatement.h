// The statement of the registration list: every registration with its school, in the order of
// the given sort clause. The list window shows it; the check and the console tool walk it.
#pragma once

#include <string>
#include <string_view>

namespace kova::app {

// The sort clause every showing of the list window starts with.
inline constexpr std::string_view kDefaultListOrder = "Name, Vorname";

[[nodiscard]] std::string RegistrationListStatement(std::string_view sortClause);

} // namespace kova::app
