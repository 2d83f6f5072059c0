// Copying rows between datasets, and making a new table from another dataset's rows.
//
//   CopyRows         every row of a source cursor into a destination table cursor: fields matched
//                    by name (or by field id between two stored tables), values converted to the
//                    destination's types, problems collected in a text log or raised, progress
//                    reported every N-th row. The source ends where it stood.
//   ImportTableRows  ImportTable with the progress hooks the dataset layer needs: the structure of
//                    the source becomes a new table, then CopyRows fills it.
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

// Hooks around the copy of ImportTableRows: `before` runs after the table was created and opened,
// `after` when the copy ended (also after an error); either may be empty.
struct TABSImportHooks {
    std::function<void()> Before;
    TABSCopyProgress Progress;
    std::function<void()> After;
};

// ImportTable (ABSStatementExecution.h) with progress hooks.
bool ImportTableRows(const TABSTableAccess& access, const TABSTableName& target, TABSLocalCursor& source,
                     const TABSIndexDefs* indexes, std::string& log, const TABSImportHooks& hooks);

} // namespace kova
