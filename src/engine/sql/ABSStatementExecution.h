// How a parsed statement is carried out: the entry points of query execution, data
// modification, data definition and table import, as the statement executor dispatches to them.
//
//   query execution (ABSRelationalAlgebra*)   ExecuteQuery, MakeExpressionEnvironment
//   data modification (ABSSQLModifyExec*)     ExecuteInsert, ExecuteUpdate, ExecuteDelete
//   data definition (ABSSQLDDLExec*)          ExecuteDefinition
//   table import (ABSTableCopy*)              ImportTable
//
// Each runs in the connection of its execution context and raises EABSException on failure.
// Statements are the processor's own objects and run one at a time, so execution may bind the
// expressions they hold.
#pragma once

#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSExprNode.h"
#include "engine/sql/ABSSQLDDL.h"
#include "engine/sql/ABSSQLModify.h"
#include "engine/sql/ABSSQLSelect.h"
#include "engine/sql/ABSTableAccess.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kova {

// Builds and opens the operator tree of a query and returns a cursor on its result, positioned
// before the first row. `requestLive`: the result may be a live view on the base table when the
// query allows it. SELECT ... INTO copies the result into its table and still returns the
// result. The cursor keeps the query's temporary tables until it is destroyed.
[[nodiscard]] std::unique_ptr<TABSLocalCursor> ExecuteQuery(const TABSExecutionContext& context,
                                                            TABSQueryExpr& query, bool requestLive);

// What expressions outside a query's own rows need (INSERT values, UPDATE assignments): running
// subqueries in the connection (correlated ones see the rows bound to the expression),
// LASTAUTOINC and the row number.
[[nodiscard]] std::unique_ptr<TABSExprEnvironment> MakeExpressionEnvironment(const TABSExecutionContext& context);

// Data modification; each returns the number of rows it affected.
[[nodiscard]] std::int64_t ExecuteInsert(const TABSExecutionContext& context, TABSSQLInsert& statement);
[[nodiscard]] std::int64_t ExecuteUpdate(const TABSExecutionContext& context, TABSSQLUpdate& statement);
[[nodiscard]] std::int64_t ExecuteDelete(const TABSExecutionContext& context, TABSSQLDelete& statement);

// CREATE / DROP / ALTER / RENAME / TRUNCATE, CREATE / DROP INDEX, START TRANSACTION, COMMIT,
// ROLLBACK; returns 0.
[[nodiscard]] std::int64_t ExecuteDefinition(const TABSExecutionContext& context, TABSSQLStatement& statement);

// Makes `target` a new table with the columns of `source` (and the given index definitions, or
// none) and copies every row of `source` into it, columns matched by name, errors ignored: each
// problem appends its message to `log`. True exactly when `log` did not grow. `source` keeps its
// position.
bool ImportTable(const TABSTableAccess& access, const TABSTableName& target, TABSLocalCursor& source,
                 const TABSIndexDefs* indexes, std::string& log);

// The executor that carries every statement kind out in `context` (queries, modification,
// definition); what MakeExecutor gives while no other factory is installed.
[[nodiscard]] std::unique_ptr<TABSResultExecutor> MakeStatementExecutor(const TABSExecutionContext& context);

} // namespace kova
