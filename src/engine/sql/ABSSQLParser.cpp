// Token reader helpers shared by the statement and expression parsers.
#include "engine/sql/ABSSQLParser.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSSQLErrors.h"

namespace kova {

bool TABSSQLParser::AcceptKw(TABSKeyword k) noexcept {
    if (!IsKw(k)) return false;
    Next();
    return true;
}

bool TABSSQLParser::AcceptSymbol(std::string_view s) noexcept {
    if (!IsSymbol(s)) return false;
    Next();
    return true;
}

bool TABSSQLParser::AcceptKind(TokenKind k) noexcept {
    if (!IsKind(k)) return false;
    Next();
    return true;
}

void TABSSQLParser::ExpectKw(TABSKeyword k) {
    if (!AcceptKw(k)) FailTokenExpected(KeywordText(k));
}

void TABSSQLParser::ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) FailTokenExpected(s);
}

void TABSSQLParser::ExpectKind(TokenKind k, std::string_view what) {
    if (!AcceptKind(k)) FailTokenExpected(what);
}

void TABSSQLParser::FailTokenExpected(std::string_view what) const {
    const TABSToken* t = Cur();
    if (!t) FailEnd();
    RaiseError(sqlerr::kTokenExpected, sqlerr::kTokenExpectedMsg, {what, t->text, t->line, t->column});
}

void TABSSQLParser::Fail(int code, std::string_view format) const {
    const TABSToken* t = Cur();
    if (!t) FailEnd();
    RaiseError(code, format, {t->text, t->line, t->column});
}

void TABSSQLParser::FailAt(int code, std::string_view format) const {
    const TABSToken* t = Cur();
    if (!t) RaiseError(code, format, {tokens_.EndLine(), tokens_.EndColumn()});
    RaiseError(code, format, {t->line, t->column});
}

void TABSSQLParser::FailEnd(int code) const {
    RaiseError(code == 0 ? sqlerr::kUnexpectedEnd : code, sqlerr::kUnexpectedEndMsg,
               {tokens_.EndLine(), tokens_.EndColumn()});
}

bool TABSSQLParser::IsName(unsigned forms) const noexcept {
    const TABSToken* t = Cur();
    if (!t) return false;
    switch (t->kind) {
    case TokenKind::Word:
        // Operators are words too but never names.
        if (!t->quoted && (t->text == "=" || t->text == "<>" || t->text == "<" || t->text == ">" ||
                           t->text == "<=" || t->text == ">=" || t->text == "+" || t->text == "-" ||
                           t->text == "*" || t->text == "/" || t->text == "||" || t->text == "|")) {
            return false;
        }
        return (forms & nfWord) != 0;
    case TokenKind::String: return (forms & nfString) != 0;
    case TokenKind::BracketName: return (forms & nfBracket) != 0;
    case TokenKind::Keyword: return (forms & nfKeyword) != 0;
    case TokenKind::Parameter: return (forms & nfParameter) != 0 && ParamOf(*t) != nullptr;
    default: return false;
    }
}

std::optional<std::string> TABSSQLParser::AcceptName(unsigned forms) {
    if (!IsName(forms)) return std::nullopt;
    const TABSToken& t = *Cur();
    std::string name = t.kind == TokenKind::Parameter ? ParamOf(t)->GetAsString() : std::string(t.text);
    Next();
    return name;
}

std::string TABSSQLParser::ExpectName(unsigned forms, int code, std::string_view format) {
    auto name = AcceptName(forms);
    if (!name) Fail(code, format);
    return std::move(*name);
}

const TABSSQLParam* TABSSQLParser::ParamOf(const TABSToken& token) const noexcept {
    if (token.kind != TokenKind::Parameter || token.paramIndex < 0) return nullptr;
    const auto index = static_cast<std::size_t>(token.paramIndex);
    return index < params_.size() ? &params_[index] : nullptr;
}

void TABSSQLParser::ExpectEnd() const {
    if (const TABSToken* t = Cur()) {
        RaiseError(sqlerr::kEndExpected, sqlerr::kEndExpectedMsg, {t->text, t->line, t->column});
    }
}

} // namespace kova
