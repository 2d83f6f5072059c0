// The SQL helper through which the application runs every statement.
//
// Statements are plain text built by concatenation, with string literals in double quotes; text
// typed by the user is cleaned with SanitizeQuotes before it goes between quotes. RunSQL sets the
// text on a query split into lines before the clauses FROM, WHERE, AND and ORDER BY (outside
// quoted literals only, so a stored value such as a school name containing " and " is kept as
// typed) and opens or executes it. Engine errors pass to the caller.
#pragma once

#include "model/GenSerials.h"

#include <string>
#include <string_view>
#include <vector>

class QComboBox;
class QString;

namespace kova {
class TABSQuery;
}

namespace kova::app {

class TTalmirMySQLTools {
public:
    // How RunSQL runs the statement.
    static constexpr int kOpen = 0;
    static constexpr int kExecute = 1;

    TTalmirMySQLTools() = default;
    // With the clock of the private identifier generator (tests).
    explicit TTalmirMySQLTools(TGenSerials::Clock clock) : serials_(std::move(clock)) {}

    // Closes the query, sets the statement (with `replaceEmpty`, every "" first becomes NULL)
    // and runs it: mode 0 opens it and answers whether it returned a row (the query then stands
    // on its first row), mode 1 executes it and answers true, any other mode runs nothing and
    // answers false.
    [[nodiscard]] bool RunSQL(TABSQuery& query, int mode, std::string_view text, bool replaceEmpty = false) const;

    // The statement as the lines a query holds: a new line begins at the first " FROM ", the
    // first " WHERE " after it, each " AND " after that and the first " ORDER BY " after those
    // (keywords in any letter case, only outside quoted literals); the blank before each keyword
    // becomes the line break.
    static void SplitSQL(std::vector<std::string>& lines, std::string_view text);

    // Every pair of consecutive double quotes becomes the word NULL, left to right.
    [[nodiscard]] static std::string NullifyEmptyStrings(std::string_view text);

    // Inserts a row holding only a new identifier into `table` and returns the identifier (see
    // the .cpp for the rounds). A prefix longer than 8 characters is itself the identifier; the
    // result is empty when a row with it exists. With a lock owner the row also gets LockedBy.
    [[nodiscard]] std::string InsertNewRecord(TABSQuery& query, std::string_view table, std::string_view prefix,
                                              std::string_view suffix, std::string_view lockOwner) const;

    // Drops NUL characters and backslashes and turns each double quote into an apostrophe, so
    // the text can stand between double quotes in a statement.
    [[nodiscard]] static std::string SanitizeQuotes(std::string_view text);

    // Clears the selection, then selects the first item whose text equals `text` ignoring case.
    static void SelectComboItem(QComboBox& comboBox, const QString& text);

private:
    TGenSerials serials_;
};

} // namespace kova::app
