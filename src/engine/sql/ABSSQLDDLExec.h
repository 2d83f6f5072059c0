// Native errors of the definition and transaction statements, and the making of field
// definitions from the column definitions of CREATE and ALTER TABLE.
#pragma once

#include "engine/sql/ABSSQLDDL.h"
#include "engine/storage/ABSConstraintDefs.h"
#include "engine/storage/ABSFieldDefs.h"

#include <string>

namespace kova {

inline constexpr int kTableAlreadyExistsError = 30247;      // "Cannot create table. Table '%s' already exists"
inline constexpr int kCreateTableError = 30248;             // "Error creating table: '%s'"
inline constexpr int kDropTableError = 30249;               // "Error dropping table: '%s'"
inline constexpr int kTruncateTableError = 30250;           // "Error truncating table: '%s'"
inline constexpr int kAlterTableError = 30265;              // "Error altering table: '%s'"
inline constexpr int kOperationInTransactionError = 20182;  // "Cannot perform '%s' operation on a database in transaction"
inline constexpr int kAlreadyInTransactionError = 20228;    // "Database already in transaction"
inline constexpr int kNotInTransactionError = 20229;        // "Database is not in transaction. Cannot perform operation"


// The field a column definition describes (type, size, default, BLOB and auto-increment
// settings); its id is 0, to be given when the table is made.
[[nodiscard]] TABSFieldDef MakeFieldDef(const TSQLFieldDef& column);
// The not-null and check constraints a column definition asks for, added to `constraints` of the
// table `tableName`.
void AddColumnConstraints(TABSConstraintDefs& constraints, const TSQLFieldDef& column, const std::string& tableName);

} // namespace kova
