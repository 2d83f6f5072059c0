// ALTER TABLE: adding, dropping and changing columns rebuild the table with its rows (a column
// that stays keeps its values, converted when its type changes); renaming a column or the table
// changes the stored definitions in place.
#pragma once

#include "engine/sql/ABSSQLDDL.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/storage/ABSTableDefinition.h"

#include <string>

namespace kova {

inline constexpr int kFieldExistsError = 30351;         // "Field by name '%s' already exists"
inline constexpr int kAlterFieldNotFoundError = 30259;  // "Field '%s' not found"
inline constexpr int kRestructureFailedError = 30347;   // "Restructure table error: '%s'"

// The definition of a table as it is stored now (fields with their ids, persistent indexes,
// constraints); raises the storage layer's error when the table does not exist.
[[nodiscard]] TABSTableDefinition StoredDefinition(const TABSTableAccess& access, const TABSTableName& table);

// What ADD, DROP or MODIFY make of `current`, the definition of the table `tableName`:
//   ADD     appends the columns as new fields (30351 for a name the table has, unless written
//           with IF NOT EXISTS, which skips the column);
//   DROP    removes the named fields with the indexes and constraints that use them; a name
//           that is no field is ignored;
//   MODIFY  replaces each named field's definition, keeping its place and id (30259 when there
//           is no such field); its not-null and check constraints follow the new definition.
// REQUIRES: an ADD, DROP or MODIFY statement.
[[nodiscard]] TABSTableDefinition AlteredDefinition(const TABSTableDefinition& current, const std::string& tableName,
                                                    const TABSDDLAlterTable& statement);

// Carries the statement out in the connection of `access`. Every failure is raised as 30265
// "Error altering table: '%s'" carrying the inner message; a rebuild that fails (30347 with its
// log inside) leaves the table as it was.
void ExecuteAlterTable(const TABSTableAccess& access, const TABSDDLAlterTable& statement);

} // namespace kova
