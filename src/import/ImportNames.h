// Taking athletes over from an earlier registration database: the list window's two import
// commands (current scheme, and files of 2009 and earlier) ask, show the take-over window and
// write the checked athletes into the working database.
//
// An athlete keeps the ID it had, so taking the same athlete over twice adds it once; an ID the
// working database already holds is skipped and its row left as it is. Athletes come without
// disciplines, with old class codes mapped to the current ones, and afterwards every listed
// registration whose class no longer fits its year of birth loses its class.
#pragma once

#include <QString>

#include <string>
#include <string_view>

class QTreeWidget;

namespace kova::app {

class TFormDatabase;

// The year of birth as it goes unquoted into the statement: the whole number it stands for, or
// NULL (no year) for an empty or other text, which must neither break the statement after the
// athlete's row was inserted nor become part of it.
[[nodiscard]] std::string YearOfBirthLiteral(const QString& year);

// Whether an ID can stand between double quotes in a statement as it is. One that cannot (empty,
// or holding a double quote, backslash or NUL) is no ID this application ever made.
[[nodiscard]] bool IsQuotableId(std::string_view id) noexcept;

// The take-over after the window closed with OK: maps old class codes in the checklist, adds
// every checked athlete the working database does not hold yet, shows the list on the last
// checked one and clears the class of every listed registration whose year no longer fits.
// Engine errors pass to the caller; what was written until then stays written.
void TakeOverNames(TFormDatabase& list, QTreeWidget& checklist);

// Both import commands: `older` selects files of 2009 and earlier.
void RunImport(TFormDatabase& list, bool older);

} // namespace kova::app
