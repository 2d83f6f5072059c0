// Token reader shared by the statement and expression parsers: keyword tests, "expected"
// failures with the dialect's messages, and the name forms the grammar accepts.
//
// Every failure raised here names the offending token's text, line and column; when the
// statement has run out of tokens, the failure is "Unexpected end of SQL command" at the
// position of the statement's last token.
#pragma once

#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSLexer.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kova {

// Which token kinds a name may be written as.
enum TABSNameForm : unsigned {
    nfWord = 1u << 0,
    nfString = 1u << 1,
    nfBracket = 1u << 2,
    nfKeyword = 1u << 3,
    nfParameter = 1u << 4,  // a parameter whose value is the name
    nfAnyName = nfWord | nfString | nfBracket | nfKeyword | nfParameter,
};

class TABSSQLParser {
public:
    // `params` gives the values of parameter tokens (their paramIndex); it may be empty.
    TABSSQLParser(TABSTokenList& tokens, std::span<const TABSSQLParam> params)
        : tokens_(tokens), params_(params) {}

    [[nodiscard]] TABSTokenList& Tokens() noexcept { return tokens_; }
    [[nodiscard]] std::span<const TABSSQLParam> Params() const noexcept { return params_; }

    [[nodiscard]] const TABSToken* Cur() const noexcept { return tokens_.Current(); }
    const TABSToken* Next() noexcept { return tokens_.Next(); }
    [[nodiscard]] const TABSToken* Peek(std::size_t ahead = 1) const noexcept { return tokens_.Peek(ahead); }
    [[nodiscard]] bool AtEnd() const noexcept { return tokens_.AtEnd(); }
    [[nodiscard]] std::size_t Pos() const noexcept { return tokens_.Pos(); }
    void SetPos(std::size_t pos) noexcept { tokens_.SetPos(pos); }

    [[nodiscard]] bool IsKw(TABSKeyword k) const noexcept { return Cur() && Cur()->IsKeyword(k); }
    [[nodiscard]] bool IsSymbol(std::string_view s) const noexcept { return Cur() && Cur()->IsSymbol(s); }
    [[nodiscard]] bool IsKind(TokenKind k) const noexcept { return Cur() && Cur()->kind == k; }

    // Advances past the keyword / symbol / kind when it is current.
    bool AcceptKw(TABSKeyword k) noexcept;
    bool AcceptSymbol(std::string_view s) noexcept;
    bool AcceptKind(TokenKind k) noexcept;

    // Requires the keyword (or symbol, or token kind) and advances past it; otherwise raises
    // "Token '<what>' expected, but '%s' found" or "Unexpected end of SQL command".
    void ExpectKw(TABSKeyword k);
    void ExpectSymbol(std::string_view s);
    void ExpectKind(TokenKind k, std::string_view what);
    // "Token '<what>' expected ..." naming any text (e.g. "YEAR or MONTH or ...").
    [[noreturn]] void FailTokenExpected(std::string_view what) const;

    // Raises `format` (which takes the token text, line and column) for the current token, or
    // "Unexpected end of SQL command" when there is none.
    [[noreturn]] void Fail(int code, std::string_view format) const;
    // Raises a format that takes only line and column, at the current token (or the end).
    [[noreturn]] void FailAt(int code, std::string_view format) const;
    [[noreturn]] void FailEnd(int code = 0) const;

    // Reads a name in one of the allowed forms and advances; nothing (and no move) otherwise.
    [[nodiscard]] std::optional<std::string> AcceptName(unsigned forms);
    // Like AcceptName but raises `format` (token text, line, column) when there is none.
    [[nodiscard]] std::string ExpectName(unsigned forms, int code, std::string_view format);
    // Whether the current token can be read as a name of one of the forms.
    [[nodiscard]] bool IsName(unsigned forms) const noexcept;

    // The value of a parameter token (nullptr when the list does not hold it).
    [[nodiscard]] const TABSSQLParam* ParamOf(const TABSToken& token) const noexcept;

    // Requires that the statement has no tokens left ("End of SQL command expected ...").
    void ExpectEnd() const;

private:
    TABSTokenList& tokens_;
    std::span<const TABSSQLParam> params_;
};

// Line and column of a token for messages.
struct TABSSourcePos {
    std::uint32_t line = 1;
    std::uint32_t column = 1;
};

} // namespace kova
