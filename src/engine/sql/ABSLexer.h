// Tokenizer of the SQL dialect: turns a statement text into statements, each a list of
// tokens with their line and column.
//
// The lexer runs for every statement the application issues, so it works without allocating
// per character: a token's text is a view into the lexer's copy of the source, and only tokens
// whose text differs from the source (doubled quotes, backslash escapes, a comment inside a word,
// parameter names made up by the lexer) get their decoded text stored in the lexer's arena.
// Token views stay valid as long as the lexer lives; the lexer is therefore neither copyable
// nor movable.
#pragma once

#include "engine/sql/ABSKeywords.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

// Token kinds; the numbers are the dialect's own and appear in diagnostics.
enum class TokenKind : std::uint8_t {
    Word = 1,         // identifier, operator ("=", "<=", "||" ...) or backquoted name
    String = 2,       // string literal, single or double quotes
    BracketName = 3,  // [name]
    Integer = 4,
    Float = 5,
    Keyword = 6,
    Parameter = 7,    // :name, :"name", :[name] or ?
    OpenParen = 8,
    CloseParen = 9,
    Comma = 10,
    Dot = 11,
};

struct TABSToken {
    TokenKind kind = TokenKind::Word;
    TABSKeyword keyword = kwNone;  // the keyword number for kind Keyword, else kwNone (292)
    bool quoted = false;           // a backquoted word: always a name, never an operator
    std::int32_t paramIndex = -1;  // kind Parameter: index into the query's parameter list
    std::uint32_t line = 1;        // position of the token's first character, both 1-based
    std::uint32_t column = 1;
    std::string_view text;         // literal: the decoded text between the quotes;
                                   // parameter: its name without ":"

    [[nodiscard]] bool IsKeyword(TABSKeyword k) const noexcept {
        return kind == TokenKind::Keyword && keyword == k;
    }
    // An unquoted word with exactly this text (operators: "=", "<>", "*", "||" ...).
    [[nodiscard]] bool IsSymbol(std::string_view symbol) const noexcept {
        return kind == TokenKind::Word && !quoted && text == symbol;
    }
};

// One statement's tokens with a read position. Parsers walk it with Current/Next/Peek and go
// back to a saved position when an alternative fails.
class TABSTokenList {
public:
    TABSTokenList() = default;
    explicit TABSTokenList(std::vector<TABSToken> tokens) : tokens_(std::move(tokens)) {}

    [[nodiscard]] std::size_t Size() const noexcept { return tokens_.size(); }
    [[nodiscard]] bool Empty() const noexcept { return tokens_.empty(); }
    [[nodiscard]] const TABSToken& At(std::size_t i) const { return tokens_.at(i); }
    [[nodiscard]] const std::vector<TABSToken>& Tokens() const noexcept { return tokens_; }

    // The token at the read position, or nullptr past the end.
    [[nodiscard]] const TABSToken* Current() const noexcept {
        return pos_ < tokens_.size() ? &tokens_[pos_] : nullptr;
    }
    // Advances and returns the new current token (nullptr past the end).
    const TABSToken* Next() noexcept {
        if (pos_ < tokens_.size()) ++pos_;
        return Current();
    }
    // The token after the current one, without moving.
    [[nodiscard]] const TABSToken* Peek(std::size_t ahead = 1) const noexcept {
        return pos_ + ahead < tokens_.size() ? &tokens_[pos_ + ahead] : nullptr;
    }
    [[nodiscard]] bool AtEnd() const noexcept { return pos_ >= tokens_.size(); }
    [[nodiscard]] std::size_t Pos() const noexcept { return pos_; }
    void SetPos(std::size_t pos) noexcept { pos_ = pos < tokens_.size() ? pos : tokens_.size(); }

    void Append(const TABSToken& token) { tokens_.push_back(token); }
    void Reserve(std::size_t n) { tokens_.reserve(n); }

    // Line and column used for "unexpected end" messages: those of the last token (1, 1 when
    // there is none).
    [[nodiscard]] std::uint32_t EndLine() const noexcept { return tokens_.empty() ? 1 : tokens_.back().line; }
    [[nodiscard]] std::uint32_t EndColumn() const noexcept {
        return tokens_.empty() ? 1 : tokens_.back().column;
    }

private:
    std::vector<TABSToken> tokens_;
    std::size_t pos_ = 0;
};

class TABSLexer {
public:
    // Tokenizes the whole text at once. `paramNames` is the query's parameter list in order
    // (":name" finds a name ignoring case, each "?" takes the next one).
    // Raises EABSException 30059/30060 (parenthesis balance), 30061 (unterminated literal),
    // 30062 (invalid character in a number) and 30358 (unknown parameter).
    explicit TABSLexer(std::string_view sql, std::span<const std::string> paramNames = {});

    TABSLexer(const TABSLexer&) = delete;
    TABSLexer& operator=(const TABSLexer&) = delete;

    [[nodiscard]] std::size_t StatementCount() const noexcept { return statements_.size(); }

    // Moves to the next statement; false (and no move) after the last one.
    bool NextStatement() noexcept;
    [[nodiscard]] std::size_t CurrentStatementIndex() const noexcept { return current_; }

    // The current statement's tokens (with their read position). REQUIRES: StatementCount() > 0.
    [[nodiscard]] TABSTokenList& Statement() { return statements_.at(current_); }
    [[nodiscard]] TABSTokenList& Statement(std::size_t index) { return statements_.at(index); }

    // Convenience forwards to the current statement.
    [[nodiscard]] const TABSToken* Current() { return Statement().Current(); }
    const TABSToken* Next() { return Statement().Next(); }
    [[nodiscard]] const TABSToken* Peek() { return Statement().Peek(); }
    [[nodiscard]] std::size_t Pos() { return Statement().Pos(); }
    void SetPos(std::size_t pos) { Statement().SetPos(pos); }

    // Appends an empty statement and makes it current.
    void AppendStatement();
    // Appends a token to the current statement; its text is copied into the lexer's arena.
    void AppendToken(const TABSToken& token);

    // Stores a text so that token views can refer to it for the lexer's lifetime.
    [[nodiscard]] std::string_view Keep(std::string text);

private:
    class Scanner;

    std::string source_;
    std::deque<std::string> arena_;
    std::vector<TABSTokenList> statements_;
    std::size_t current_ = 0;
};

} // namespace kova
