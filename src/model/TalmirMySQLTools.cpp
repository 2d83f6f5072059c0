#include "model/TalmirMySQLTools.h"

#include "engine/api/ABSQuery.h"

#include <QComboBox>
#include <QString>

#include <cctype>

namespace kova::app {
namespace {

[[nodiscard]] char AsciiUpper(char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Position of the first `keyword` (upper case, with its blanks) in `text` that stands outside
// quoted literals, compared ignoring ASCII case; npos when there is none. The scan starts outside
// any literal, which holds for every text SplitSQL hands it: a whole statement, or a rest that
// begins with a keyword found outside literals.
[[nodiscard]] std::size_t FindOutsideLiterals(std::string_view text, std::string_view keyword) {
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;  // a doubled quote closes and reopens: still correct
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        if (text.size() - i < keyword.size()) return std::string_view::npos;
        bool match = true;
        for (std::size_t k = 0; k < keyword.size() && match; ++k) match = AsciiUpper(text[i + k]) == keyword[k];
        if (match) return i;
    }
    return std::string_view::npos;
}

// Moves what stands before the keyword's blank into `lines`; the rest keeps the keyword.
[[nodiscard]] bool SplitAt(std::vector<std::string>& lines, std::string_view& rest, std::string_view keyword) {
    const std::size_t at = FindOutsideLiterals(rest, keyword);
    if (at == std::string_view::npos) return false;
    lines.emplace_back(rest.substr(0, at));
    rest.remove_prefix(at + 1);
    return true;
}

[[nodiscard]] std::string Quoted(std::string_view value) {
    std::string text = "\"";
    text += value;
    text += '"';
    return text;
}

} // namespace

bool TTalmirMySQLTools::RunSQL(TABSQuery& query, int mode, std::string_view text, bool replaceEmpty) const {
    query.Close();
    const std::string statement = replaceEmpty ? NullifyEmptyStrings(text) : std::string(text);
    std::vector<std::string> lines;
    SplitSQL(lines, statement);
    query.SetSQL(std::move(lines));
    switch (mode) {
    case kOpen:
        query.Open();
        if (query.IsEmpty()) return false;
        query.First();
        return true;
    case kExecute:
        query.ExecSQL();
        return true;
    default:
        return false;
    }
}

void TTalmirMySQLTools::SplitSQL(std::vector<std::string>& lines, std::string_view text) {
    lines.clear();
    std::string_view rest = text;
    (void)SplitAt(lines, rest, " FROM ");
    (void)SplitAt(lines, rest, " WHERE ");
    while (SplitAt(lines, rest, " AND ")) {
    }
    (void)SplitAt(lines, rest, " ORDER BY ");
    if (!rest.empty()) lines.emplace_back(rest);
}

std::string TTalmirMySQLTools::NullifyEmptyStrings(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            result += "NULL";
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// Rounds of finding a free identifier: the identifier of the current time, moved on by one
// two-second slot for every row that already has it. With a lock owner the inserted row is read
// back by identifier and owner; when another process took the identifier in between, the next
// round finds it taken and moves on.
std::string TTalmirMySQLTools::InsertNewRecord(TABSQuery& query, std::string_view table, std::string_view prefix,
                                               std::string_view suffix, std::string_view lockOwner) const {
    const std::string tableName(table);
    auto exists = [&](const std::string& id) {
        return RunSQL(query, kOpen, "SELECT ID from " + tableName + " where ID=" + Quoted(id));
    };

    if (prefix.size() > 8) {
        const std::string id(prefix);
        if (exists(id)) return {};
        (void)RunSQL(query, kExecute, "INSERT INTO " + tableName + " (ID) VALUES(" + Quoted(id) + ")");
        return id;
    }

    std::string id = serials_.NewSerial(prefix, suffix);
    for (;;) {
        if (exists(id)) {
            id = TGenSerials::IncSerial(id, static_cast<int>(prefix.size()));
            continue;
        }
        if (lockOwner.empty()) {
            (void)RunSQL(query, kExecute, "INSERT INTO " + tableName + " (ID) VALUES(" + Quoted(id) + ")");
            return id;
        }
        (void)RunSQL(query, kExecute,
                     "INSERT INTO " + tableName + " (ID, LockedBy) VALUES(" + Quoted(id) + ", " + Quoted(lockOwner) + ")");
        if (RunSQL(query, kOpen,
                   "SELECT ID, LockedBy FROM " + tableName + " WHERE ID=" + Quoted(id) + " AND LockedBy=" +
                       Quoted(lockOwner))) {
            return id;
        }
    }
}

std::string TTalmirMySQLTools::SanitizeQuotes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c == '\0' || c == '\\') continue;
        result += (c == '"') ? '\'' : c;
    }
    return result;
}

void TTalmirMySQLTools::SelectComboItem(QComboBox& comboBox, const QString& text) {
    comboBox.setCurrentIndex(-1);
    for (int i = 0; i < comboBox.count(); ++i) {
        if (comboBox.itemText(i).compare(text, Qt::CaseInsensitive) == 0) {
            comboBox.setCurrentIndex(i);
            return;
        }
    }
}

} // namespace kova::app
