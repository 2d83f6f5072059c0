// Parsing of INSERT, UPDATE and DELETE.
#include "engine/sql/ABSSQLModify.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSSQLErrors.h"

namespace kova {
namespace {

TABSSourcePos PosOf(const TABSToken* t) noexcept {
    return t ? TABSSourcePos{t->line, t->column} : TABSSourcePos{};
}

// A token made by a statement for its row query, placed at `at`.
TABSToken MadeToken(TokenKind kind, TABSKeyword keyword, std::string_view text, const TABSToken& at) {
    TABSToken token;
    token.kind = kind;
    token.keyword = keyword;
    token.text = text;
    token.line = at.line;
    token.column = at.column;
    return token;
}

constexpr unsigned kColumnNameForms = nfWord | nfString | nfBracket | nfKeyword;

} // namespace

// ---- INSERT ----------------------------------------------------------------------------------

TABSSQLInsert::TABSSQLInsert() = default;
TABSSQLInsert::~TABSSQLInsert() = default;

void TABSSQLInsert::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwINSERT);
    p.ExpectKw(kwINTO);
    table_ = sqlgrammar::ReadTableName(p, true);
    if (p.IsKind(TokenKind::OpenParen) && !sqlgrammar::StartsQuery(p)) {
        p.Next();
        do {
            columns_.push_back(p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg));
        } while (p.AcceptKind(TokenKind::Comma));
        if (!p.AcceptKind(TokenKind::CloseParen)) p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
    }
    if (p.AcceptKw(kwVALUES)) {
        do {
            const TABSToken* open = p.Cur();
            if (!p.AcceptKind(TokenKind::OpenParen)) p.Fail(sqlerr::kOpenParenExpected, sqlerr::kOpenParenExpectedMsg);
            std::vector<std::unique_ptr<TABSExpression>> row;
            do {
                auto value = TABSExpression::ParseValue(p);
                if (!value) p.Fail(sqlerr::kErrorParsingParam, sqlerr::kErrorParsingParamMsg);
                row.push_back(std::move(value));
            } while (p.AcceptKind(TokenKind::Comma));
            if (!p.AcceptKind(TokenKind::CloseParen)) {
                p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
            }
            if (!columns_.empty() && row.size() != columns_.size()) {
                RaiseError(sqlerr::kFieldValueCount, sqlerr::kFieldValueCountMsg,
                           {columns_.size(), row.size(), open->line, open->column});
            }
            rows_.push_back(std::move(row));
        } while (p.AcceptKind(TokenKind::Comma));
    } else {
        query_ = sqlgrammar::ParseQuery(p);
    }
    p.ExpectEnd();
}

// ---- UPDATE ----------------------------------------------------------------------------------

TABSAssignment::TABSAssignment() = default;
TABSAssignment::TABSAssignment(TABSAssignment&&) noexcept = default;
TABSAssignment& TABSAssignment::operator=(TABSAssignment&&) noexcept = default;
TABSAssignment::~TABSAssignment() = default;

TABSSQLUpdate::TABSSQLUpdate() = default;
TABSSQLUpdate::~TABSSQLUpdate() = default;

void TABSSQLUpdate::Parse(TABSSQLParser& p) {
    const TABSToken& updateToken = *p.Cur();
    p.ExpectKw(kwUPDATE);
    const std::size_t tableStart = p.Pos();
    table_ = sqlgrammar::ReadTableName(p, false);
    if (auto alias = p.AcceptName(nfWord | nfBracket)) alias_ = std::move(*alias);
    if (p.AcceptKw(kwPASSWORD)) table_.password = sqlgrammar::ReadPassword(p);
    const std::size_t tableEnd = p.Pos();
    p.ExpectKw(kwSET);

    if (p.AcceptKind(TokenKind::OpenParen)) {
        do {
            queryColumns_.push_back(
                p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg));
        } while (p.AcceptKind(TokenKind::Comma));
        p.ExpectKind(TokenKind::CloseParen, ")");
        p.ExpectSymbol("=");
        p.ExpectKind(TokenKind::OpenParen, "(");
        valuesQuery_ = sqlgrammar::ParseQuery(p);
        p.ExpectKind(TokenKind::CloseParen, ")");
    } else {
        do {
            TABSAssignment assignment;
            assignment.pos = PosOf(p.Cur());
            assignment.column = p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
            p.ExpectSymbol("=");
            assignment.value = TABSExpression::ParseValue(p);
            if (!assignment.value) p.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
            assignments_.push_back(std::move(assignment));
        } while (p.AcceptKind(TokenKind::Comma));
    }

    const std::size_t whereStart = p.Pos();
    if (p.AcceptKw(kwWHERE)) where_ = TABSExpression::ParseCondition(p);
    p.ExpectEnd();

    // The rows to change: "select * from" + table, alias and password + WHERE ... to the end.
    const auto& tokens = p.Tokens().Tokens();
    rowQueryTokens_.Reserve(3 + (tableEnd - tableStart) + (tokens.size() - whereStart));
    rowQueryTokens_.Append(MadeToken(TokenKind::Keyword, kwSELECT, "select", updateToken));
    rowQueryTokens_.Append(MadeToken(TokenKind::Word, kwNone, "*", updateToken));
    rowQueryTokens_.Append(MadeToken(TokenKind::Keyword, kwFROM, "from", updateToken));
    for (std::size_t i = tableStart; i < tableEnd; ++i) rowQueryTokens_.Append(tokens[i]);
    for (std::size_t i = whereStart; i < tokens.size(); ++i) rowQueryTokens_.Append(tokens[i]);
    TABSSQLParser rowParser(rowQueryTokens_, p.Params());
    rowQuery_ = sqlgrammar::ParseQuery(rowParser);
    rowParser.ExpectEnd();
}

// ---- DELETE ----------------------------------------------------------------------------------

TABSSQLDelete::TABSSQLDelete() = default;
TABSSQLDelete::~TABSSQLDelete() = default;

void TABSSQLDelete::Parse(TABSSQLParser& p) {
    const TABSToken& deleteToken = *p.Cur();
    if (!deleteToken.IsKeyword(kwDELETE)) p.FailTokenExpected("DELETE");
    // Read as the query that results from replacing DELETE by SELECT "*".
    const auto& tokens = p.Tokens().Tokens();
    rowQueryTokens_.Reserve(tokens.size() + 1);
    rowQueryTokens_.Append(MadeToken(TokenKind::Keyword, kwSELECT, "SELECT", deleteToken));
    rowQueryTokens_.Append(MadeToken(TokenKind::Word, kwNone, "*", deleteToken));
    for (std::size_t i = p.Pos() + 1; i < tokens.size(); ++i) rowQueryTokens_.Append(tokens[i]);
    TABSSQLParser rowParser(rowQueryTokens_, p.Params());
    rowQuery_ = sqlgrammar::ParseQuery(rowParser);
    rowParser.ExpectEnd();
    p.SetPos(tokens.size());
}

const TABSTableRef& TABSSQLDelete::Target() const {
    // A parsed query always has a SELECT with at least one FROM entry at its far left.
    const TABSQueryExpr* query = rowQuery_.get();
    while (!query->IsSelect()) query = query->left.get();
    return query->select->from.front().first;
}

} // namespace kova
