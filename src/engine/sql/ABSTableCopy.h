// Copying rows between datasets, and making a new table from another dataset's rows.
//
//   CopyRows         every row of a source cursor into a destination table cursor: fields matched
//                    by name (or by field id between two stored tables), values converted to the
//                    destination's types, problems collected in a text log or raised, progress
//                    reported every N-th row. The source ends where it stood.
//   ImportTableRows  ImportTable with the progress hooks the dataset layer needs: the structure of
//                    the source becomes a new table, then CopyRows fills it.
//   CopyTableInto    a stored table, structure and rows, under a name in the same database, the
//                    in-memory database or another database file (the caller connects that one).
//   RestructureStoredTable
//                    a stored table gets a new definition and keeps its rows: the old table moves
//                    aside under a temporary name, the new one is made under the old name, rows are
//                    copied by field id (a field that keeps its id keeps its values, whatever its
//                    new name or type), and only then is the old table dropped. Any failure puts
//                    the old table back as it was.
//
// The log is plain text; each problem appends one message ending in "\r\n".
#pragma once

#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/sql/ABSTableCursor.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSTableDefinition.h"

#include <functional>
#include <string>
#include <string_view>

namespace kova {

inline constexpr int kCopyFieldTypeNotSupportedError = 10499;

// Receives a position between the progress minimum and maximum; setting `continueCopy` to false
// stops the copy.
using TABSCopyProgress = std::function<void(int position, bool& continueCopy)>;

struct TABSCopyRowsOptions {
    std::string TableName = "unknown";  // the owner table, as messages name it
    int ProgressMax = 100;
    int ProgressMin = 0;
    TABSCopyProgress Progress;          // may be empty
    bool MatchByFieldID = false;        // only between two table cursors; else by name
    bool IgnoreErrors = true;
};

// Copies every row of `source` into `destination`. `continueCopy` is the in/out continue flag of
// the progress callback; `log` receives the messages of ignored errors and of a stop by the user.
// Returns true when every row and field was copied and nobody stopped the copy. Errors that are
// not ignored pass on; the source's position is restored in every case.
bool CopyRows(TABSLocalCursor& source, TABSTableCursor& destination, const TABSCopyRowsOptions& options,
              bool& continueCopy, std::string& log);

// The column type a new table gets for a result column (text and byte columns without a size
// get 255).
[[nodiscard]] TABSColumnType ColumnTypeForResultColumn(const TABSCursorColumn& column);
// The field definitions of a new table with the columns of `source` (a table cursor's own field
// definitions are taken over whole).
[[nodiscard]] TABSFieldDefs FieldDefsForImport(TABSLocalCursor& source);

// Hooks around the row copy of a whole-table operation: `Before` runs once the operation is about
// to copy, `After` when it ended (also after an error, whenever `Before` ran); any may be empty.
struct TABSCopyHooks {
    std::function<void()> Before;
    TABSCopyProgress Progress;
    std::function<void()> After;
};

// ImportTable (ABSStatementExecution.h) with progress hooks.
bool ImportTableRows(const TABSTableAccess& access, const TABSTableName& target, TABSLocalCursor& source,
                     const TABSIndexDefs* indexes, std::string& log, const TABSCopyHooks& hooks);

// ---- Table copies ----

inline constexpr int kCopyFieldObjectMissingError = 20297;  // "Cannot copy table \"%s\". Field object for field \"%s\" is not created."
inline constexpr int kCopyIntoItselfError = 30447;          // "Cannot copy table '%s.%s' into it self"
inline constexpr int kCopyTargetExistsError = 30448;        // "Table '%s.%s' already exists"
inline constexpr int kCopyMemoryTargetExistsError = 10515;  // the same, for a copy into MEMORY
inline constexpr int kCopyCreateTableError = 30450;         // "Create table '%s.%s' error: '%s'"

// The pseudo database a copy names instead of a file.
inline constexpr std::string_view kCopyToMemory = "MEMORY";

// Where CopyTableInto puts the copy.
struct TABSCopyDestination {
    // The database that receives the table; nullptr when it could not be connected (then
    // ConnectError holds the reason and the creation of the table fails with it).
    const TABSTableAccess* Access = nullptr;
    TABSTableName Table;       // the new table's name there (memory set for MEMORY)
    std::string FileName;      // the destination as messages name it: its file name, or "MEMORY"
    std::string ConnectError;
};

struct TABSCopyTableOptions {
    int ProgressMax = 100;
    int ProgressMin = 0;
    bool CopyIndexes = true;
    bool Overwrite = false;
    bool IgnoreErrors = false;
};

// The definition a copy of `table` gets: its fields with their ids, their not-null and check
// constraints, and (when asked) its persistent indexes with the unique and primary constraints
// that go with them. Page roots and object ids of indexes and constraints are left for the new
// table to make.
[[nodiscard]] TABSTableDefinition CopyDefinitionOf(const TABSTableData& table, bool withIndexes);

// Copies the table of `source` under destination.Table: every row `source` shows (its order and
// filter apply), matched by name. `sourceFileName` is the file of the source's database, for the
// messages and for telling a copy into the table itself (same file and same name, ignoring case),
// which fails with 30447. An existing destination table is dropped first with `Overwrite`, else the
// copy fails with 30448 (10515 in MEMORY); a failed creation raises 30450. With `IgnoreErrors`
// these three add their message to `log` instead and the result is false; row and field errors
// go to the log as CopyRows puts them. Returns false when the copy failed or was stopped through
// `continueCopy` (then "Terminated by User." is in the log), else true. `hooks.Before` runs after
// the self check, `hooks.After` in every case after it. The source cursor ends where it stood.
bool CopyTableInto(TABSTableCursor& source, const std::string& sourceFileName, const TABSCopyDestination& destination,
                   const TABSCopyTableOptions& options, const TABSCopyHooks& hooks, bool& continueCopy,
                   std::string& log);

// ---- Restructuring ----

inline constexpr int kRestructureInTransactionError = 20180;  // "Cannot perform '%s' operation on a database in transaction"

// The not-null and check constraints of `oldFields` that still apply to `newFields`: a field is
// followed by its id, so a constraint of a renamed field names the new name and one of a dropped
// field is left out.
[[nodiscard]] TABSConstraintDefs CarriedValueConstraints(const TABSFieldDefs& oldFields,
                                                         const TABSConstraintDefs& constraints,
                                                         const TABSFieldDefs& newFields);

// Gives the stored table `table` (no cursor may hold it) the fields, indexes and constraints of
// `definition` and keeps its rows. Fields are matched to the old ones by ObjectID: a field with
// the id of an old field receives its values, converted to its type; a field with id 0 is new,
// gets an id no old field had, and stays empty (or takes its default). Unique and primary
// constraints follow from the indexes. The copy goes through `hooks` with progress 0..99, errors
// not ignored.
//
// Returns true on success. On failure the log tells why ("Error restructuring table. ..."), the
// new table is gone and the old one is back under its name with its rows. Raises 20180 inside a
// transaction and passes on an error of moving the old table aside (the table is unchanged then).
bool RestructureStoredTable(const TABSTableAccess& access, const TABSTableName& table, TABSTableDefinition definition,
                            const TABSCopyHooks& hooks, std::string& log);

} // namespace kova
