// The tokenizer reports where each token starts (line and column, columns counting characters);
// the statement's text is cut from there to the ";" behind its last token. Finding that ";"
// needs a small scan of its own: the last token may be a literal holding a ";", and comments
// may stand between the token and the separator.
#include "StatementSplitter.h"

#include "engine/api/ABSQuery.h"
#include "engine/sql/ABSLexer.h"
#include "engine/sql/ABSSQLParser.h"
#include "engine/sql/ABSSQLProcessor.h"

#include <exception>

namespace kova::shell {
namespace {

[[nodiscard]] bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
[[nodiscard]] bool IsContinuationByte(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

// Turns the tokenizer's (line, column) back into byte offsets, counting columns the way the
// tokenizer does: a carriage return and UTF-8 continuation bytes take no column.
class SourcePositions {
public:
    explicit SourcePositions(std::string_view text) : text_(text) {
        lineStarts_.push_back(0);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') lineStarts_.push_back(i + 1);
        }
    }

    [[nodiscard]] std::size_t Offset(std::uint32_t line, std::uint32_t column) const {
        if (line == 0 || line > lineStarts_.size()) return text_.size();
        std::uint32_t current = 1;
        for (std::size_t i = lineStarts_[line - 1]; i < text_.size() && text_[i] != '\n'; ++i) {
            const char c = text_[i];
            if (c == '\r' || IsContinuationByte(c)) continue;
            if (current == column) return i;
            ++current;
        }
        return text_.size();
    }

private:
    std::string_view text_;
    std::vector<std::size_t> lineStarts_;
};

// Offset just past a quoted token starting at `open` (its opening character). Literals double
// the closing quote to contain it; backquoted names escape with a backslash; bracket names
// have neither.
[[nodiscard]] std::size_t SkipQuoted(std::string_view text, std::size_t open, char close) {
    const bool backquote = close == '`';
    const bool doubling = !backquote && close != ']';
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (backquote && text[i] == '\\') {
            ++i;
            continue;
        }
        if (text[i] != close) continue;
        if (doubling && i + 1 < text.size() && text[i + 1] == close) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return text.size();
}

// Offset past the raw source of a token starting at `start`, as far as a ";" could hide in it.
// Unquoted tokens never contain one, so they end where they start.
[[nodiscard]] std::size_t SkipQuotedToken(std::string_view text, std::size_t start) {
    if (start >= text.size()) return start;
    std::size_t open = start;
    if (text[open] == ':' && open + 1 < text.size()) ++open;  // a quoted parameter name
    switch (text[open]) {
    case '\'': return SkipQuoted(text, open, '\'');
    case '"': return SkipQuoted(text, open, '"');
    case '[': return SkipQuoted(text, open, ']');
    case '`': return SkipQuoted(text, open, '`');
    default: return start;
    }
}

// The offset of the ";" that ends a statement whose last token starts at `lastToken`, or `limit`
// when none comes before it. Only comments, blanks and the rest of an unquoted token lie there.
[[nodiscard]] std::size_t FindSeparator(std::string_view text, std::size_t lastToken, std::size_t limit) {
    std::size_t i = SkipQuotedToken(text, lastToken);
    while (i < limit) {
        if (text[i] == ';') return i;
        if (text[i] == '-' && i + 1 < limit && text[i + 1] == '-') {
            while (i < limit && text[i] != '\n') ++i;
            continue;
        }
        if (text[i] == '/' && i + 1 < limit && text[i + 1] == '*') {
            const std::size_t close = text.find("*/", i + 2);
            i = close == std::string_view::npos ? limit : close + 2;
            continue;
        }
        ++i;
    }
    return limit;
}

[[nodiscard]] bool IsQuery(TABSTokenList& tokens) {
    try {
        TABSSQLParser parser(tokens, {});
        return TABSSQLProcessor::CreateStatement(parser)->Kind() == TABSStatementKind::Query;
    } catch (const std::exception&) {
        return false;  // running it will raise the same error for this statement alone
    }
}

} // namespace

std::vector<ShellStatement> SplitStatements(std::string_view text) {
    // Parameter names must be known to the tokenizer; a query collects them the same way.
    const std::vector<std::string> paramNames = TABSQuery::ParseParamNames(text);
    TABSLexer lexer(text, paramNames);
    const SourcePositions positions(text);

    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < lexer.StatementCount(); ++i) {
        const TABSToken& first = lexer.Statement(i).At(0);
        starts.push_back(positions.Offset(first.line, first.column));
    }

    std::vector<ShellStatement> statements;
    for (std::size_t i = 0; i < lexer.StatementCount(); ++i) {
        TABSTokenList& tokens = lexer.Statement(i);
        const TABSToken& last = tokens.At(tokens.Size() - 1);
        const std::size_t limit = i + 1 < starts.size() ? starts[i + 1] : text.size();
        std::size_t end = FindSeparator(text, positions.Offset(last.line, last.column), limit);
        while (end > starts[i] && IsBlank(text[end - 1])) --end;
        ShellStatement statement;
        statement.Text = std::string(text.substr(starts[i], end - starts[i]));
        statement.GivesRows = IsQuery(tokens);
        statements.push_back(std::move(statement));
    }
    return statements;
}

std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            line += ' ';
        } else if (text[i] == '\n') {
            line += ' ';
        } else {
            line += text[i];
        }
    }
    return line;
}

} // namespace kova::shell
