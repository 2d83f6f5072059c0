// The statement objects made by the statement processor: one class per statement kind, each
// parsing its full form into plain data that execution consumes.
//
// A statement is created for the tokens of one statement, parses them at once (Parse) and then
// stays an immutable description. Execution lives elsewhere: the processor hands each parsed
// statement to a TABSSQLExecutor, which switches on Kind().
#pragma once

#include "engine/sql/ABSSQLParser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kova {

enum class TABSStatementKind : std::uint8_t {
    Query,             // TABSSQLUnion
    Insert,            // TABSSQLInsert
    Update,            // TABSSQLUpdate
    Delete,            // TABSSQLDelete
    CreateTable,       // TABSDDLCreateTable
    CreateIndex,       // TABSDDLCreateIndex
    DropTable,         // TABSDDLDropTable
    DropIndex,         // TABSDDLDropIndex
    AlterTable,        // TABSDDLAlterTable
    RenameTable,       // TABSDDLRenameTable
    TruncateTable,     // TABSDDLTruncateTable
    StartTransaction,  // TABSSQLStartTransaction
    Commit,            // TABSSQLCommit
    Rollback,          // TABSSQLRollback
};

// Name of a statement kind for messages ("SELECT", "INSERT", "CREATE TABLE" ...).
[[nodiscard]] std::string_view StatementKindName(TABSStatementKind kind) noexcept;

// A password given with PASSWORD: a string literal or a parameter's text.
struct TABSTablePassword {
    bool given = false;
    std::string text;
};

// The table a statement names: [MEMORY] [database "."] name [PASSWORD password].
struct TABSTableName {
    bool memory = false;
    std::string database;  // empty: the query's database
    std::string name;
    TABSTablePassword password;
    TABSSourcePos pos;
};

class TABSSQLStatement {
public:
    virtual ~TABSSQLStatement() = default;
    TABSSQLStatement(const TABSSQLStatement&) = delete;
    TABSSQLStatement& operator=(const TABSSQLStatement&) = delete;

    [[nodiscard]] virtual TABSStatementKind Kind() const noexcept = 0;

    // Reads the statement from the parser's tokens, starting at its first token, and requires
    // that nothing follows. Raises the dialect's parse errors.
    virtual void Parse(TABSSQLParser& parser) = 0;

protected:
    TABSSQLStatement() = default;
};

// Shared pieces of the statement grammars.
namespace sqlgrammar {

// PASSWORD password, with the current token just after PASSWORD.
[[nodiscard]] TABSTablePassword ReadPassword(TABSSQLParser& parser);

// [MEMORY] [database "."] name [PASSWORD password]; `allowPassword` false leaves PASSWORD for
// the caller. Raises "Table name expected" when no name follows.
[[nodiscard]] TABSTableName ReadTableName(TABSSQLParser& parser, bool allowPassword = true);

// Reads an integer literal (optionally negative) or an integer parameter; `code`/`format` are
// raised for anything else.
[[nodiscard]] std::int64_t ReadInteger(TABSSQLParser& parser, int code, std::string_view format);

} // namespace sqlgrammar

} // namespace kova
