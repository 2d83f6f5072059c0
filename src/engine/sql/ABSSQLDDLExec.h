// Native errors of the definition and transaction statements.
#pragma once

namespace kova {

inline constexpr int kTableAlreadyExistsError = 30247;      // "Cannot create table. Table '%s' already exists"
inline constexpr int kCreateTableError = 30248;             // "Error creating table: '%s'"
inline constexpr int kDropTableError = 30249;               // "Error dropping table: '%s'"
inline constexpr int kTruncateTableError = 30250;           // "Error truncating table: '%s'"
inline constexpr int kAlterTableError = 30265;              // "Error altering table: '%s'"
inline constexpr int kOperationInTransactionError = 20182;  // "Cannot perform '%s' operation on a database in transaction"
inline constexpr int kAlreadyInTransactionError = 20228;    // "Database already in transaction"
inline constexpr int kNotInTransactionError = 20229;        // "Database is not in transaction. Cannot perform operation"

} // namespace kova
