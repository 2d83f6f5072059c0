// The tokenizer: one pass over the UTF-8 text with a small state machine.
//
// Columns count characters, not bytes: UTF-8 continuation bytes do not advance the column, and
// a carriage return does not either (texts arrive with CR LF or LF line ends and must report
// the same positions).
#include "engine/sql/ABSLexer.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSSQLErrors.h"

#include <string>

namespace kova {
namespace {

[[nodiscard]] bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
[[nodiscard]] bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
[[nodiscard]] bool IsContinuationByte(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

// Characters that end a word and start a token of their own ("+" and "-" too).
[[nodiscard]] bool EndsWord(char c) noexcept {
    switch (c) {
    case '(': case ')': case ',': case '=': case '<': case '>': case '/': case '*':
    case ':': case '?': case '|': case '.': case '+': case '-':
        return true;
    default:
        return false;
    }
}

// Characters that end a number without being part of it ("+"/"-" are decided separately).
[[nodiscard]] bool EndsNumber(char c) noexcept {
    switch (c) {
    case '(': case ')': case ',': case '=': case '<': case '>': case '/': case '*':
    case ':': case '?': case '|':
        return true;
    default:
        return false;
    }
}

[[nodiscard]] bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

} // namespace

// The state machine. It appends finished tokens to the lexer's statements.
class TABSLexer::Scanner {
public:
    Scanner(TABSLexer& lexer, std::span<const std::string> paramNames)
        : lexer_(lexer), text_(lexer.source_), paramNames_(paramNames) {}

    void Run() {
        current_.Reserve(text_.size() / 4 + 4);
        while (i_ < text_.size()) {
            const char c = text_[i_];
            if (c == '-' && At(i_ + 1) == '-') {
                SkipLineComment();
                continue;
            }
            if (c == '/' && At(i_ + 1) == '*') {
                SkipBlockComment();
                continue;
            }
            if (c == ';') {
                FinishToken();
                Advance();
                EndStatement();
                continue;
            }
            if (IsBlank(c)) {
                FinishToken();
                Advance();
                continue;
            }
            switch (building_) {
            case Building::Word:
                if (EndsWord(c)) {
                    FinishToken();
                    StartToken();
                } else {
                    Take();
                }
                break;
            case Building::Number:
                ContinueNumber(c);
                break;
            case Building::None:
                StartToken();
                break;
            }
        }
        FinishToken();
        EndStatement();
    }

private:
    enum class Building { None, Word, Number };

    [[nodiscard]] char At(std::size_t i) const noexcept { return i < text_.size() ? text_[i] : '\0'; }

    // Moves past the character at i_, keeping line and column.
    void Advance() noexcept {
        const char c = text_[i_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if (c != '\r' && !IsContinuationByte(c)) {
            ++column_;
        }
    }

    // Consumes the character at i_ as part of the token being built.
    void Take() {
        if (fragmented_) scratch_.push_back(text_[i_]);
        Advance();
    }

    void SkipLineComment() {
        // A line comment always ends the token before it: the comment runs to the line feed,
        // which is white space.
        FinishToken();
        while (i_ < text_.size() && text_[i_] != '\n') Advance();
    }

    void SkipBlockComment() {
        // A comment inside a word or number does not end it; the token's text then no longer
        // lies in one piece of the source and is collected in the scratch buffer.
        if (building_ != Building::None && !fragmented_) {
            fragmented_ = true;
            scratch_.assign(text_.substr(tokenStart_, i_ - tokenStart_));
        }
        Advance();
        Advance();
        while (i_ < text_.size()) {
            if (text_[i_] == '*' && At(i_ + 1) == '/') {
                Advance();
                Advance();
                return;
            }
            Advance();
        }
    }

    void Begin(Building what) {
        building_ = what;
        tokenStart_ = i_;
        tokenLine_ = line_;
        tokenColumn_ = column_;
        fragmented_ = false;
    }

    // Emits a token whose text is the source range [start, i_).
    void EmitRange(TokenKind kind, std::size_t start, std::uint32_t line, std::uint32_t column) {
        TABSToken token;
        token.kind = kind;
        token.line = line;
        token.column = column;
        token.text = text_.substr(start, i_ - start);
        current_.Append(token);
    }

    void EmitSymbol(TokenKind kind, std::size_t length) {
        const std::size_t start = i_;
        const std::uint32_t line = line_;
        const std::uint32_t column = column_;
        for (std::size_t k = 0; k < length; ++k) Advance();
        EmitRange(kind, start, line, column);
    }

    void StartToken() {
        const char c = text_[i_];
        if (IsDigit(c)) {
            Begin(Building::Number);
            Take();
            return;
        }
        switch (c) {
        case '.':
            if (IsDigit(At(i_ + 1))) {
                Begin(Building::Number);
                Take();
            } else {
                EmitSymbol(TokenKind::Dot, 1);
            }
            return;
        case '(':
            lastOpenLine_ = line_;
            lastOpenColumn_ = column_;
            ++depth_;
            EmitSymbol(TokenKind::OpenParen, 1);
            return;
        case ')':
            lastCloseLine_ = line_;
            lastCloseColumn_ = column_;
            --depth_;
            EmitSymbol(TokenKind::CloseParen, 1);
            return;
        case ',':
            EmitSymbol(TokenKind::Comma, 1);
            return;
        case '-': case '+': case '*': case '/': case '=':
            EmitSymbol(TokenKind::Word, 1);
            return;
        case '<':
            EmitSymbol(TokenKind::Word, (At(i_ + 1) == '=' || At(i_ + 1) == '>') ? 2 : 1);
            return;
        case '>':
            EmitSymbol(TokenKind::Word, At(i_ + 1) == '=' ? 2 : 1);
            return;
        case '|':
            EmitSymbol(TokenKind::Word, At(i_ + 1) == '|' ? 2 : 1);
            return;
        case '\'': case '"':
            ReadQuoted(c, TokenKind::String, false);
            return;
        case '[':
            ReadQuoted(']', TokenKind::BracketName, false);
            return;
        case '`':
            ReadQuoted('`', TokenKind::Word, true);
            return;
        case ':':
            if (const char q = At(i_ + 1); q == '\'' || q == '"' || q == '[') {
                ReadQuotedParameter(q);
                return;
            }
            Begin(Building::Word);
            Take();
            return;
        default:
            Begin(Building::Word);
            Take();
            return;
        }
    }

    void ContinueNumber(char c) {
        if (IsDigit(c) || c == '.' || c == 'E' || c == 'e') {
            Take();
            return;
        }
        if (c == '+' || c == '-') {
            const char before = fragmented_ ? (scratch_.empty() ? '\0' : scratch_.back()) : text_[i_ - 1];
            if (before == 'E' || before == 'e') {
                Take();
            } else {
                FinishToken();
                StartToken();
            }
            return;
        }
        if (EndsNumber(c)) {
            FinishToken();
            StartToken();
            return;
        }
        // Any other character (a letter, a quote ...) cannot follow a number.
        std::size_t end = i_ + 1;
        while (end < text_.size() && IsContinuationByte(text_[end])) ++end;
        RaiseError(sqlerr::kInvalidNumericSymbol, sqlerr::kInvalidNumericSymbolMsg,
                   {text_.substr(i_, end - i_), line_, column_});
    }

    // Reads a literal or quoted name from the opening character at i_ to its closing one.
    // For literals (open == close, not backquote) a doubled closing character stands for
    // itself; for backquoted names a backslash takes the next character as it is.
    void ReadQuoted(char close, TokenKind kind, bool backquote) {
        const std::uint32_t line = line_;
        const std::uint32_t column = column_;
        std::string_view text = ReadQuotedText(close, backquote, line, column);
        TABSToken token;
        token.kind = kind;
        token.quoted = backquote;
        token.line = line;
        token.column = column;
        token.text = text;
        current_.Append(token);
    }

    std::string_view ReadQuotedText(char close, bool backquote, std::uint32_t line, std::uint32_t column) {
        Advance();  // the opening character
        const std::size_t start = i_;
        bool decoded = false;
        std::string buffer;
        const bool doubling = !backquote && close != ']';
        while (true) {
            if (i_ >= text_.size()) {
                RaiseError(sqlerr::kUnterminatedString, sqlerr::kUnterminatedStringMsg, {line, column});
            }
            const char c = text_[i_];
            if (backquote && c == '\\' && i_ + 1 < text_.size()) {
                if (!decoded) {
                    decoded = true;
                    buffer.assign(text_.substr(start, i_ - start));
                }
                Advance();
                buffer.push_back(text_[i_]);
                Advance();
                continue;
            }
            if (c == close) {
                if (doubling && At(i_ + 1) == close) {
                    if (!decoded) {
                        decoded = true;
                        buffer.assign(text_.substr(start, i_ - start));
                    }
                    buffer.push_back(close);
                    Advance();
                    Advance();
                    continue;
                }
                const std::string_view raw = text_.substr(start, i_ - start);
                Advance();  // the closing character
                return decoded ? lexer_.Keep(std::move(buffer)) : raw;
            }
            if (decoded) buffer.push_back(c);
            Advance();
        }
    }

    void ReadQuotedParameter(char quote) {
        const std::uint32_t line = line_;
        const std::uint32_t column = column_;
        Advance();  // ":"
        const char close = quote == '[' ? ']' : quote;
        const std::string_view name = ReadQuotedText(close, false, line, column);
        EmitParameter(name, line, column);
    }

    void EmitParameter(std::string_view name, std::uint32_t line, std::uint32_t column) {
        TABSToken token;
        token.kind = TokenKind::Parameter;
        token.line = line;
        token.column = column;
        token.text = name;
        for (std::size_t k = 0; k < paramNames_.size(); ++k) {
            if (EqualsIgnoreAsciiCase(paramNames_[k], name)) {
                token.paramIndex = static_cast<std::int32_t>(k);
                break;
            }
        }
        if (token.paramIndex < 0) RaiseError(sqlerr::kParamNotFound, sqlerr::kParamNotFoundMsg, {name});
        current_.Append(token);
    }

    void EmitPositionalParameter(std::uint32_t line, std::uint32_t column) {
        const std::size_t index = positional_++;
        TABSToken token;
        token.kind = TokenKind::Parameter;
        token.line = line;
        token.column = column;
        token.text = lexer_.Keep("Param" + std::to_string(index + 1));
        if (index >= paramNames_.size()) RaiseError(sqlerr::kParamNotFound, sqlerr::kParamNotFoundMsg, {token.text});
        token.paramIndex = static_cast<std::int32_t>(index);
        current_.Append(token);
    }

    void FinishToken() {
        if (building_ == Building::None) return;
        const Building what = building_;
        building_ = Building::None;
        std::string_view text = fragmented_ ? lexer_.Keep(std::move(scratch_))
                                            : text_.substr(tokenStart_, i_ - tokenStart_);
        fragmented_ = false;
        scratch_.clear();
        if (what == Building::Number) {
            const bool floating = text.find_first_of(".eE") != std::string_view::npos;
            TABSToken token;
            token.kind = floating ? TokenKind::Float : TokenKind::Integer;
            token.line = tokenLine_;
            token.column = tokenColumn_;
            token.text = text;
            current_.Append(token);
            return;
        }
        if (text.front() == ':') {
            EmitParameter(text.substr(1), tokenLine_, tokenColumn_);
            return;
        }
        if (text.front() == '?') {
            EmitPositionalParameter(tokenLine_, tokenColumn_);
            return;
        }
        TABSToken token;
        token.line = tokenLine_;
        token.column = tokenColumn_;
        token.text = text;
        token.keyword = FindKeyword(text);
        token.kind = token.keyword == kwNone ? TokenKind::Word : TokenKind::Keyword;
        current_.Append(token);
    }

    void EndStatement() {
        if (depth_ > 0) {
            RaiseError(sqlerr::kMissingParen, sqlerr::kMissingParenMsg, {lastOpenLine_, lastOpenColumn_});
        }
        if (depth_ < 0) {
            RaiseError(sqlerr::kUnexpectedParen, sqlerr::kUnexpectedParenMsg, {lastCloseLine_, lastCloseColumn_});
        }
        if (!current_.Empty()) {
            lexer_.statements_.push_back(std::move(current_));
            current_ = TABSTokenList();
        }
    }

    TABSLexer& lexer_;
    std::string_view text_;
    std::span<const std::string> paramNames_;
    TABSTokenList current_;
    std::size_t i_ = 0;
    std::uint32_t line_ = 1;
    std::uint32_t column_ = 1;
    int depth_ = 0;
    std::uint32_t lastOpenLine_ = 1, lastOpenColumn_ = 1;
    std::uint32_t lastCloseLine_ = 1, lastCloseColumn_ = 1;
    Building building_ = Building::None;
    std::size_t tokenStart_ = 0;
    std::uint32_t tokenLine_ = 1, tokenColumn_ = 1;
    bool fragmented_ = false;
    std::string scratch_;
    std::size_t positional_ = 0;
};

TABSLexer::TABSLexer(std::string_view sql, std::span<const std::string> paramNames) : source_(sql) {
    Scanner(*this, paramNames).Run();
}

bool TABSLexer::NextStatement() noexcept {
    if (current_ + 1 >= statements_.size()) return false;
    ++current_;
    return true;
}

void TABSLexer::AppendStatement() {
    statements_.emplace_back();
    current_ = statements_.size() - 1;
}

void TABSLexer::AppendToken(const TABSToken& token) {
    TABSToken copy = token;
    copy.text = Keep(std::string(token.text));
    Statement().Append(copy);
}

std::string_view TABSLexer::Keep(std::string text) {
    arena_.push_back(std::move(text));
    return arena_.back();
}

} // namespace kova
