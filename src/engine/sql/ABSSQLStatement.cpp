// Pieces of grammar that several statements share.
#include "engine/sql/ABSSQLStatement.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSSQLErrors.h"

#include <charconv>

namespace kova {

std::string_view StatementKindName(TABSStatementKind kind) noexcept {
    switch (kind) {
    case TABSStatementKind::Query: return "SELECT";
    case TABSStatementKind::Insert: return "INSERT";
    case TABSStatementKind::Update: return "UPDATE";
    case TABSStatementKind::Delete: return "DELETE";
    case TABSStatementKind::CreateTable: return "CREATE TABLE";
    case TABSStatementKind::CreateIndex: return "CREATE INDEX";
    case TABSStatementKind::DropTable: return "DROP TABLE";
    case TABSStatementKind::DropIndex: return "DROP INDEX";
    case TABSStatementKind::AlterTable: return "ALTER TABLE";
    case TABSStatementKind::RenameTable: return "RENAME TABLE";
    case TABSStatementKind::TruncateTable: return "TRUNCATE TABLE";
    case TABSStatementKind::StartTransaction: return "START TRANSACTION";
    case TABSStatementKind::Commit: return "COMMIT";
    case TABSStatementKind::Rollback: return "ROLLBACK";
    }
    return "";
}

namespace sqlgrammar {

TABSTablePassword ReadPassword(TABSSQLParser& parser) {
    const TABSToken* t = parser.Cur();
    TABSTablePassword password;
    if (t && t->kind == TokenKind::String) {
        password.given = true;
        password.text = std::string(t->text);
        parser.Next();
        return password;
    }
    if (t && t->kind == TokenKind::Parameter) {
        if (const TABSSQLParam* param = parser.ParamOf(*t)) {
            password.given = true;
            password.text = param->GetAsString();
            parser.Next();
            return password;
        }
    }
    parser.Fail(sqlerr::kQuotedPasswordExpected, sqlerr::kQuotedPasswordExpectedMsg);
}

TABSTableName ReadTableName(TABSSQLParser& parser, bool allowPassword) {
    TABSTableName table;
    if (const TABSToken* t = parser.Cur()) table.pos = TABSSourcePos{t->line, t->column};
    if (parser.IsKw(kwMEMORY)) {
        const TABSToken* next = parser.Peek();
        if (next && next->kind != TokenKind::Dot && next->kind != TokenKind::OpenParen &&
            next->kind != TokenKind::Comma && next->kind != TokenKind::CloseParen) {
            table.memory = true;
            parser.Next();
        }
    }
    table.name = parser.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
    if (parser.AcceptKind(TokenKind::Dot)) {
        table.database = std::move(table.name);
        table.name = parser.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
    }
    if (allowPassword && parser.AcceptKw(kwPASSWORD)) table.password = ReadPassword(parser);
    return table;
}

std::int64_t ReadInteger(TABSSQLParser& parser, int code, std::string_view format) {
    const TABSToken* t = parser.Cur();
    if (!t) parser.FailEnd();
    if (t->kind == TokenKind::Parameter) {
        const TABSSQLParam* param = parser.ParamOf(*t);
        if (param && !param->IsNull() && IsIntegerType(param->BaseType())) {
            parser.Next();
            return param->GetAsLargeInt();
        }
        parser.Fail(code, format);
    }
    bool negative = false;
    if (t->IsSymbol("-") && parser.Peek() && parser.Peek()->kind == TokenKind::Integer) {
        negative = true;
        parser.Next();
        t = parser.Cur();
    }
    if (t->kind != TokenKind::Integer) parser.Fail(code, format);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(t->text.data(), t->text.data() + t->text.size(), value);
    if (ec != std::errc() || end != t->text.data() + t->text.size()) parser.Fail(code, format);
    parser.Next();
    return negative ? -value : value;
}

} // namespace sqlgrammar
} // namespace kova
