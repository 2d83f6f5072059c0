// What a query dataset browses, and how the statement processor hands it over.
//
//   TABSLocalCursor      the rows of one result: its columns, its row count, a position in it
//                        and the values of the current row. Query execution implements it (a
//                        cursor over a temporary result table, or a live cursor over a base
//                        table); the dataset layer only reads through this interface.
//   TABSResultExecutor   a TABSSQLExecutor that also keeps the result of the statement it ran
//                        last. The processor runs a whole text through it; what is left
//                        afterwards is the result of the text's last statement, or nothing when
//                        that statement gives no rows (INSERT, UPDATE, CREATE ...).
//   TABSExecutionContext the connection a query runs in, and the process-wide factory that
//                        makes an executor for it. Until query execution installs its factory,
//                        every statement fails with "Execution of '%s' statements is not
//                        available".
//
// Cursor positions. A cursor is either on a row or on one of the two cracks around the rows:
//
//      before first (Bof)  ──Next──>  row 1  ──Next──>  …  row n  ──Next──>  after last (Eof)
//                          <─Prior──         <─Prior──              <─Prior──
//
// A new cursor stands before the first row. First / Last jump to the first / last row (on an
// empty result they land on a crack and report false). Moving past an end stops on the crack
// there and reports false; another move from a crack steps back onto the rows.
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSSQLProcessor.h"
#include "engine/storage/ABSPage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kova {

class TABSDatabaseData;
class TABSDiskDatabaseTables;

// One column of a result as the dataset sees it.
struct TABSCursorColumn {
    std::string Name;                                 // result column name (UTF-8), unique ignoring case
    TABSBaseType BaseType = TABSBaseType::bftUnknown; // type of the values GetValue delivers
    TFieldType FieldType = TFieldType::ftUnknown;     // kind of field object the dataset makes
    int Size = 0;                                     // dataset field size: characters of text columns, else 0
};

class TABSLocalCursor {
public:
    virtual ~TABSLocalCursor() = default;
    TABSLocalCursor(const TABSLocalCursor&) = delete;
    TABSLocalCursor& operator=(const TABSLocalCursor&) = delete;

    // ---- Shape ----
    [[nodiscard]] virtual std::size_t ColumnCount() const = 0;
    // REQUIRES: index < ColumnCount().
    [[nodiscard]] virtual const TABSCursorColumn& Column(std::size_t index) const = 0;
    // Rows of the result (for a live result with a filter: the rows that pass it).
    [[nodiscard]] virtual std::int64_t RecordCount() = 0;
    // Whether the dataset may edit the rows through this cursor (a live view on a base table).
    [[nodiscard]] virtual bool IsLive() const = 0;

    // ---- Position (see the diagram above) ----
    // Each returns whether the cursor now stands on a row.
    virtual bool First() = 0;
    virtual bool Last() = 0;
    virtual bool Next() = 0;
    virtual bool Prior() = 0;
    [[nodiscard]] virtual bool Bof() const = 0;
    [[nodiscard]] virtual bool Eof() const = 0;
    // 1-based number of the current row in the current order; 0 on a crack.
    [[nodiscard]] virtual std::int64_t RecNo() const = 0;
    // Moves onto row `recNo`; false (and no move) when there is no such row.
    virtual bool SetRecNo(std::int64_t recNo) = 0;

    // ---- Values ----
    // Value of column `index` in the current row. REQUIRES: on a row, index < ColumnCount().
    virtual void GetValue(std::size_t index, TABSVariant& value) = 0;

    // Finds the first row, from the first in the current order, whose key columns equal the
    // values (one per column; two nulls are equal; `ignoreCase` / `partialKey` as Locate asks).
    // On a match the cursor stands on that row and the result is true; otherwise the cursor is
    // back where it was and the result is false. The default scans the rows with the engine's
    // comparison; an implementation with a usable index may do better.
    // REQUIRES: columns.size() == values.size(), every column < ColumnCount().
    [[nodiscard]] virtual bool Locate(std::span<const std::size_t> columns, std::span<const TABSVariant> values,
                                      bool ignoreCase, bool partialKey);

protected:
    TABSLocalCursor() = default;
};

// The outcome of executing one statement.
struct TABSStatementResult {
    std::unique_ptr<TABSLocalCursor> Cursor;  // nullptr: the statement gives no rows
    std::int64_t RowsAffected = 0;
};

// An executor that keeps the result of the statement it executed last; each statement's result
// replaces the one before (and releases it first, so a statement never runs while the previous
// statement's result still holds its tables).
class TABSResultExecutor : public TABSSQLExecutor {
public:
    std::int64_t Execute(TABSSQLStatement& statement) final;

    // Hands the result of the last statement over (nullptr when it gave none).
    [[nodiscard]] std::unique_ptr<TABSLocalCursor> TakeResult() noexcept { return std::move(result_); }

protected:
    [[nodiscard]] virtual TABSStatementResult ExecuteStatement(TABSSQLStatement& statement) = 0;

private:
    std::unique_ptr<TABSLocalCursor> result_;
};

// Runs a processor's whole text through `executor`: the sum of affected rows and the result of
// the last statement. Errors of tokenizing, parsing and executing pass unchanged; statements
// before the failing one keep their effects.
struct TABSRunResult {
    std::unique_ptr<TABSLocalCursor> Cursor;
    std::int64_t RowsAffected = 0;
};
[[nodiscard]] TABSRunResult RunStatements(TABSSQLProcessor& processor, TABSResultExecutor& executor);

// The connection a statement runs in.
struct TABSExecutionContext {
    TABSDatabaseData* Data = nullptr;           // the shared data of the open file or pseudo database
    TABSDiskDatabaseTables* Tables = nullptr;   // the file's tables; nullptr for MEMORY / TEMP
    TABSSessionID SessionID = kInvalidSessionID;  // the connection's session in that data
    std::string SessionName;                    // the engine session (component) name
    std::string DatabaseName;                   // alias the query named
    std::string DatabaseFileName;               // file of the database ("MEMORY" / "TEMP" for the pseudo ones)
    bool ReadOnly = false;                      // the connection may not change the file
    bool RequestLive = false;                   // the query's flags
    bool InMemory = false;
};

// Makes the executor for one run of a query's text.
using TABSExecutorFactory = std::function<std::unique_ptr<TABSResultExecutor>(const TABSExecutionContext&)>;

// Installs the process-wide factory (an empty function restores the default: the engine's own
// statement executor). Returns the factory that was installed before.
TABSExecutorFactory SetExecutorFactory(TABSExecutorFactory factory);
// An executor from the installed factory.
[[nodiscard]] std::unique_ptr<TABSResultExecutor> MakeExecutor(const TABSExecutionContext& context);
// An executor that fails every statement with 30093 "Execution of '%s' statements is not
// available" (for installing as the factory where execution must not happen).
[[nodiscard]] std::unique_ptr<TABSResultExecutor> MakeUnavailableExecutor();

} // namespace kova
