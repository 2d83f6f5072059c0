// Query execution: the relational operators a SELECT (or a set operation of SELECTs) is built
// from, the expression environment that runs subqueries, and the cursor over a query's result.
//
//   TABSAO                 an operator: its output columns and, once opened, its rows. Sources
//                          are opened first; each operator keeps its rows in memory while the
//                          statement runs (the results of the application's queries are small),
//                          and the root's rows, already in their final order, are handed to
//                          the read-only result cursor as they are.
//   TABSAOTable            one base table: its rows that pass the conditions pushed into it
//   TABSAOJoin             cross / inner / left / right / full join of two sources
//   TABSAOTableExpr        the select list computed per row (projection)
//   TABSAOGroupBy          groups, aggregates and HAVING
//   TABSAOUnion            UNION / EXCEPT / INTERSECT [ALL] [CORRESPONDING [BY]]
//   TABSAOSQLTopRowCount   TOP count [, start] over its (sorted) source
//
// Column lookup follows the expression layer: a qualifier matches the table name or the alias of
// the column's table, names compare ignoring case, the first match wins. A row source can have an
// outer row source (the row of the enclosing query), which correlated subqueries read through.
#pragma once

#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSExprNode.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSSQLSelect.h"
#include "engine/sql/ABSTableAccess.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kova {

// Native errors of query execution.
inline constexpr int kJoinListsLengthError = 30280;     // "Error - different lists length. L1 = %d, L2 = %d"
inline constexpr int kJoinInvalidFieldError = 30281;    // "Invalid field for join operation. ..."
inline constexpr int kJoinSameTableError = 30282;       // "Both join fields are from the same table. ..."
inline constexpr int kJoinCompareError = 30283;         // "Cannot compare values for fields: %s, %s. Error: %s"
inline constexpr int kGroupByInvalidFieldError = 30284; // "Invalid field for GROUP BY. ..."
inline constexpr int kGroupByMissingFieldError = 30285; // "Field is not included in GROUP BY list. ..."
inline constexpr int kGroupByExpressionError = 30288;   // "Expression (Name=...) cannot be used with GROUP BY. ..."
inline constexpr int kSearchConditionError = 30144;     // "Search condition is not applicable"
inline constexpr int kOnConditionError = 20270;         // "ON condition for JOIN is not applicable"
inline constexpr int kHavingConditionError = 20244;     // "Having condition is not applicable"
inline constexpr int kOrderByNumberError = 20243;       // "Invalid field number in ORDER BY clause: %d"
inline constexpr int kOrderByColumnError = 30195;       // "Column '%s' from ORDER BY clause not found"
inline constexpr int kSetOperationColumnsError = 30287; // "Queries of a set operation have different column counts: %d, %d"
inline constexpr int kImportIntoError = 10403;          // "Error importing table. Cannot copy data due to error: %s\r\n"
inline constexpr int kReadLockError = 20225;            // "Table is locked"

// How long a query waits for a table that another connection is changing (about 4 seconds,
// like opening a table).
inline constexpr int kReadLockAttempts = 50;
inline constexpr int kReadLockPauseMilliseconds = 75;

using TABSAORow = std::vector<TABSVariant>;

// One output column of an operator.
struct TABSAOColumn {
    std::string Name;         // output name (after the naming rules at the root)
    std::string TableName;    // base table the column comes from (empty for computed columns)
    std::string Alias;        // alias of that table reference
    TABSBaseType BaseType = TABSBaseType::bftUnknown;
    TABSColumnType ColumnType = TABSColumnType::actUnknown;  // unknown: derived from BaseType
    int Size = 0;             // declared size of text columns
    bool Hidden = false;      // carried only for sorting
    int TableRef = -1;        // which FROM reference of the SELECT it comes from (-1: computed)

    [[nodiscard]] bool MatchesQualifier(std::string_view qualifier) const;
};

// A sort key of an operator's rows.
struct TABSAOSortColumn {
    std::size_t Column = 0;
    bool Descending = false;
    bool CaseInsensitive = false;
};

class TABSAORowSource;
class TABSQueryEnvironment;

class TABSAO {
public:
    virtual ~TABSAO();
    TABSAO(const TABSAO&) = delete;
    TABSAO& operator=(const TABSAO&) = delete;

    // Opens the sources, then produces this operator's rows (deduplicated when distinct, sorted
    // when a sort order is set).
    void Open();

    [[nodiscard]] const std::vector<TABSAOColumn>& Columns() const noexcept { return columns_; }
    [[nodiscard]] std::vector<TABSAOColumn>& Columns() noexcept { return columns_; }
    [[nodiscard]] const std::vector<TABSAORow>& Rows() const noexcept { return rows_; }
    [[nodiscard]] std::vector<TABSAORow>& Rows() noexcept { return rows_; }

    void SetDistinct(bool distinct) noexcept { distinct_ = distinct; }
    [[nodiscard]] bool Distinct() const noexcept { return distinct_; }
    void SetSort(std::vector<TABSAOSortColumn> sort) { sort_ = std::move(sort); }
    [[nodiscard]] const std::vector<TABSAOSortColumn>& Sort() const noexcept { return sort_; }
    [[nodiscard]] std::size_t VisibleColumnCount() const noexcept;

    // The first column that matches (see the header comment); nothing when none does.
    [[nodiscard]] std::optional<std::size_t> FindColumn(std::string_view qualifier, std::string_view name) const;

protected:
    TABSAO() = default;
    virtual void OpenSources() {}
    virtual void Produce() = 0;

    std::vector<TABSAOColumn> columns_;
    std::vector<TABSAORow> rows_;

private:
    void RemoveDuplicates();
    void SortRows();

    bool distinct_ = false;
    std::vector<TABSAOSortColumn> sort_;
};

// Expressions over an operator's columns and one row of it; with an outer row source for the
// columns of an enclosing query (correlated subqueries).
// Values of a row that are read only when an expression asks for them: a scan tests its
// conditions on the few columns they name before it decodes the rest of a record.
class TABSAOColumnLoader {
public:
    virtual ~TABSAOColumnLoader() = default;
    [[nodiscard]] virtual const TABSVariant& Load(std::size_t index) = 0;

protected:
    TABSAOColumnLoader() = default;
    TABSAOColumnLoader(const TABSAOColumnLoader&) = default;
    TABSAOColumnLoader& operator=(const TABSAOColumnLoader&) = default;
};

class TABSAORowSource final : public TABSRowSource {
public:
    TABSAORowSource(const std::vector<TABSAOColumn>& columns, const TABSRowSource* outer)
        : columns_(&columns), outer_(outer) {}

    void SetRow(const TABSAORow* row) noexcept {
        row_ = row;
        loader_ = nullptr;
    }
    // The row's values come from `loader` (until the next SetRow).
    void SetLoader(TABSAOColumnLoader* loader) noexcept {
        loader_ = loader;
        row_ = nullptr;
    }
    [[nodiscard]] std::optional<TABSColumnInfo> FindColumn(std::string_view qualifier,
                                                           std::string_view name) const override;
    [[nodiscard]] const TABSVariant& ColumnValue(std::size_t index) const override;
    // Whether a lookup was answered by the outer row source.
    [[nodiscard]] bool UsedOuter() const noexcept { return usedOuter_; }
    [[nodiscard]] const TABSRowSource* Outer() const noexcept { return outer_; }

private:
    const std::vector<TABSAOColumn>* columns_;
    const TABSRowSource* outer_;
    const TABSAORow* row_ = nullptr;
    TABSAOColumnLoader* loader_ = nullptr;
    mutable bool usedOuter_ = false;
    TABSVariant null_;
};

// Runs subqueries in the connection for expressions bound to one row source.
class TABSQueryEnvironment final : public TABSExprEnvironment {
public:
    TABSQueryEnvironment(const TABSExecutionContext& context, const TABSRowSource* rows)
        : context_(&context), rows_(rows) {}

    [[nodiscard]] std::unique_ptr<TABSSubqueryRows> RunSubquery(const TABSQueryExpr& query) override;
    [[nodiscard]] std::int64_t RowNumber() const override { return rowNumber_; }
    [[nodiscard]] std::int64_t LastAutoInc(std::string_view table, std::string_view column) override;
    void SetRowNumber(std::int64_t rowNumber) noexcept { rowNumber_ = rowNumber; }
    [[nodiscard]] const TABSRowSource* RowsFor() const noexcept { return rows_; }

private:
    struct CachedRows {
        std::vector<TABSAORow> rows;
        std::size_t columns = 0;
    };
    const TABSExecutionContext* context_;
    const TABSRowSource* rows_;
    std::int64_t rowNumber_ = 0;
    // Results of subqueries that do not read the outer row: run once per statement.
    std::map<const TABSQueryExpr*, std::shared_ptr<CachedRows>> cache_;
};

// Keeps the environments of one query alive as long as its expressions may run.
class TABSEnvironmentPool {
public:
    explicit TABSEnvironmentPool(const TABSExecutionContext& context) : context_(&context) {}
    [[nodiscard]] TABSQueryEnvironment* For(const TABSRowSource* rows);
    [[nodiscard]] const TABSExecutionContext& Context() const noexcept { return *context_; }

private:
    const TABSExecutionContext* context_;
    std::vector<std::unique_ptr<TABSQueryEnvironment>> environments_;
};

// Whether a bound condition holds for the current row (null counts as false).
[[nodiscard]] bool ConditionHolds(TABSExprNode& condition);
// Binds a condition (or value) node to a row source and its environment.
void BindNode(TABSExprNode& node, const TABSRowSource* rows, TABSExprEnvironment* environment);

// ---- Operators ----

class TABSAOTable final : public TABSAO {
public:
    // Opens the table at once (its columns are needed while the tree is built). `tableRef`: the
    // FROM position of the reference, for placing conditions.
    TABSAOTable(const TABSTableAccess& access, TABSTableName table, std::string alias, int tableRef);
    ~TABSAOTable() override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] const std::string& Alias() const noexcept { return alias_; }
    // The table's storage while the operator holds it open (from construction until its scan).
    [[nodiscard]] TABSTableData* TableData() const noexcept { return handle_ ? &handle_.Table() : nullptr; }
    // The row of the enclosing query, for conditions of a subquery. Call before AddCondition.
    void SetOuterRows(const TABSRowSource* outer, TABSEnvironmentPool* pool);
    // Binds a condition to this table's rows; the scan keeps only the rows it holds for.
    void AddCondition(TABSExprNode* condition);
    [[nodiscard]] TABSAORowSource& RowSource() noexcept { return *rowSource_; }

protected:
    void Produce() override;

private:
    TABSTableAccess access_;
    TABSTableName table_;
    std::string alias_;
    TABSTableHandle handle_;
    std::unique_ptr<TABSAORowSource> rowSource_;
    std::vector<TABSExprNode*> conditions_;
    TABSEnvironmentPool* pool_ = nullptr;
};

class TABSAOJoin final : public TABSAO {
public:
    // The output columns are those of `left` followed by those of `right`.
    TABSAOJoin(TABSJoinKind kind, std::unique_ptr<TABSAO> left, std::unique_ptr<TABSAO> right,
               const TABSRowSource* outer, TABSEnvironmentPool& pool);

    [[nodiscard]] TABSJoinKind Kind() const noexcept { return kind_; }
    [[nodiscard]] TABSAO& Left() noexcept { return *left_; }
    [[nodiscard]] TABSAO& Right() noexcept { return *right_; }
    [[nodiscard]] std::size_t LeftColumnCount() const noexcept { return leftCount_; }
    // A pair of rows (left column, right column in this operator's numbering) compared for
    // equality; a null key matches nothing. Keys only narrow the pairs a match condition sees.
    // `equality`: the match condition the key was taken from, when it compares exactly as the key
    // does (no case or partial flag, SQL null semantics); the pairs the keys found hold it
    // already, so it is not evaluated again for them.
    void AddKey(std::size_t leftColumn, std::size_t rightColumn, const TABSExprNode* equality = nullptr);
    [[nodiscard]] std::size_t KeyCount() const noexcept { return leftKeys_.size(); }
    // Conditions are bound here to RowSource().
    // A pair of rows matches when every match condition holds (outer joins: the ON condition).
    void AddMatchCondition(TABSExprNode* condition);
    // Applied to the joined rows after the unmatched rows of outer joins were added.
    void AddFilter(TABSExprNode* condition);
    [[nodiscard]] TABSAORowSource& RowSource() noexcept { return rowSource_; }

protected:
    void OpenSources() override;
    void Produce() override;

private:
    [[nodiscard]] bool AllHold(const std::vector<TABSExprNode*>& conditions, const TABSAORow& row);
    void NullRow(TABSAORow& row, std::size_t from, std::size_t to) const;

    TABSJoinKind kind_;
    std::unique_ptr<TABSAO> left_;
    std::unique_ptr<TABSAO> right_;
    std::size_t leftCount_;
    TABSAORowSource rowSource_;
    TABSEnvironmentPool* pool_;
    std::vector<std::size_t> leftKeys_;
    std::vector<std::size_t> rightKeys_;
    std::vector<TABSExprNode*> match_;
    std::vector<TABSExprNode*> filters_;
};

// One computed output column: an expression, or a source column copied as it is.
struct TABSAOOutputItem {
    TABSExpression* Expression = nullptr;  // null: copy SourceColumn
    std::size_t SourceColumn = 0;
};

class TABSAOTableExpr final : public TABSAO {
public:
    TABSAOTableExpr(std::unique_ptr<TABSAO> source, const TABSRowSource* outer, TABSEnvironmentPool& pool);

    [[nodiscard]] TABSAO& Source() noexcept { return *source_; }
    [[nodiscard]] TABSAORowSource& SourceRows() noexcept { return sourceRows_; }
    // Adds an output column (its expression already bound to SourceRows()).
    void AddOutput(TABSAOColumn column, TABSAOOutputItem item);
    // Filters applied to the source rows before the projection (WHERE parts placed here).
    void AddFilter(TABSExprNode* condition) { filters_.push_back(condition); }

protected:
    void OpenSources() override { source_->Open(); }
    void Produce() override;

private:
    std::unique_ptr<TABSAO> source_;
    TABSAORowSource sourceRows_;
    TABSEnvironmentPool* pool_;
    std::vector<TABSAOOutputItem> items_;
    std::vector<TABSExprNode*> filters_;
};

class TABSAOGroupBy final : public TABSAO {
public:
    TABSAOGroupBy(std::unique_ptr<TABSAO> source, const TABSRowSource* outer, TABSEnvironmentPool& pool);

    [[nodiscard]] TABSAO& Source() noexcept { return *source_; }
    [[nodiscard]] TABSAORowSource& SourceRows() noexcept { return sourceRows_; }
    void AddGroupColumn(std::size_t sourceColumn) { groupColumns_.push_back(sourceColumn); }
    [[nodiscard]] const std::vector<std::size_t>& GroupColumns() const noexcept { return groupColumns_; }
    void AddOutput(TABSAOColumn column, TABSAOOutputItem item);
    void AddFilter(TABSExprNode* condition) { filters_.push_back(condition); }
    void SetHaving(TABSExpression* having) noexcept { having_ = having; }

protected:
    void OpenSources() override { source_->Open(); }
    void Produce() override;

private:
    std::unique_ptr<TABSAO> source_;
    TABSAORowSource sourceRows_;
    TABSEnvironmentPool* pool_;
    std::vector<std::size_t> groupColumns_;
    std::vector<TABSAOOutputItem> items_;
    std::vector<TABSExprNode*> filters_;
    TABSExpression* having_ = nullptr;
};

class TABSAOUnion final : public TABSAO {
public:
    // `leftColumns` / `rightColumns`: the matched columns of both parts (same length).
    TABSAOUnion(TABSSetOp op, bool all, std::unique_ptr<TABSAO> left, std::unique_ptr<TABSAO> right,
                std::vector<std::size_t> leftColumns, std::vector<std::size_t> rightColumns);
    [[nodiscard]] TABSAO& Left() noexcept { return *left_; }
    [[nodiscard]] TABSAO& Right() noexcept { return *right_; }

protected:
    void OpenSources() override;
    void Produce() override;

private:
    TABSSetOp op_;
    bool all_;
    std::unique_ptr<TABSAO> left_;
    std::unique_ptr<TABSAO> right_;
    std::vector<std::size_t> leftColumns_;
    std::vector<std::size_t> rightColumns_;
};

class TABSAOSQLTopRowCount final : public TABSAO {
public:
    TABSAOSQLTopRowCount(std::unique_ptr<TABSAO> source, std::int64_t count, std::int64_t first);
    [[nodiscard]] TABSAO& Source() noexcept { return *source_; }

protected:
    void OpenSources() override { source_->Open(); }
    void Produce() override;

private:
    std::unique_ptr<TABSAO> source_;
    std::int64_t count_;
    std::int64_t first_;
};

// The records of `table` that an index range holds for the simple parts of `conditions` (field
// compared with a constant, null tests), in index order; nothing when no index serves them and
// the table must be scanned. The caller still evaluates every condition on each record.
[[nodiscard]] std::optional<std::vector<TABSRecordID>> IndexedCandidates(TABSTableData& table, TABSSessionID session,
                                                                         const std::vector<TABSExprNode*>& conditions,
                                                                         const std::vector<TABSAOColumn>& columns);

// An equality of an 8-bit text column with a constant of printable ASCII text, which a row
// whose value differs in its bytes (and is printable ASCII too) cannot satisfy: such rows are
// turned down before the condition itself runs through the collation.
struct TABSAOTextEquality {
    std::size_t Column = 0;
    std::string Text;
};
[[nodiscard]] std::vector<TABSAOTextEquality> TextEqualities(const std::vector<TABSExprNode*>& conditions,
                                                             const std::vector<TABSAOColumn>& columns);
// Whether one of the equalities certainly fails for a record of `fields` (its memory form); the
// columns of the equalities are the record's field numbers. A false answer decides nothing.
[[nodiscard]] bool RefutedByText(const std::vector<TABSAOTextEquality>& equalities, const TABSFieldDefs& fields,
                                 std::span<const std::uint8_t> record);

// ---- Read locks ----

// The read locks of one run of a query: every base table of the file that the tree reads is
// locked for reading in the connection until the object goes, so that no other connection
// changes it meanwhile. Only multi-user files lock; elsewhere nothing is done.
class TABSStatementReadLocks {
public:
    explicit TABSStatementReadLocks(const TABSExecutionContext& context) noexcept : context_(&context) {}
    ~TABSStatementReadLocks();
    TABSStatementReadLocks(const TABSStatementReadLocks&) = delete;
    TABSStatementReadLocks& operator=(const TABSStatementReadLocks&) = delete;

    // Locks the tables of the tree, waiting while another connection changes one; raises 20225
    // "Table is locked" when every try failed (the locks taken so far are released).
    void Lock(TABSAO& root);
    // Gives the locks back now.
    void Release() noexcept;

private:
    void LockTable(std::int32_t tableId);

    const TABSExecutionContext* context_;
    std::vector<std::int32_t> held_;
};

// ---- Building ----

// Builds the operator tree of a query. `outer`: the row of the enclosing query (subqueries), or
// nullptr. The tree refers to the query's expressions, which must outlive it.
[[nodiscard]] std::unique_ptr<TABSAO> BuildQueryTree(TABSQueryExpr& query, const TABSTableAccess& access,
                                                     const TABSRowSource* outer, TABSEnvironmentPool& pool);

// Makes output names unique as a result needs them (aliases, "Expr" + random, "%s_%d", "_1").
// `plain[i]`: the column is a plain column reference without alias; `given[i]`: the name it has.
[[nodiscard]] std::vector<std::string> MakeResultColumnNames(const std::vector<std::string>& given,
                                                             const std::vector<bool>& plain);

// The column type a result column of this base type is stored as.
[[nodiscard]] TABSColumnType ResultColumnType(TABSBaseType type) noexcept;

} // namespace kova
