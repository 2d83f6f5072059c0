// Queries: SELECT with its clauses, joined tables, subqueries and the set operations UNION,
// EXCEPT / MINUS and INTERSECT (the statement object TABSSQLUnion).
//
// The parsed form is a tree: a TABSQueryExpr is either one SELECT (TABSSelectClauses) or a set
// operation of two query expressions. INTERSECT binds tighter than UNION, EXCEPT and MINUS;
// equal operators group from the left. An ORDER BY written after the last SELECT of a set
// operation belongs to the whole operation and is kept there.
#pragma once

#include "engine/sql/ABSSQLStatement.h"

#include <memory>
#include <string>
#include <vector>

namespace kova {

class TABSExpression;
struct TABSJoinedTable;
struct TABSQueryExpr;

enum class TABSJoinKind : std::uint8_t { Cross, Inner, Left, Right, Full };

// One entry of FROM: a table, a subquery "(" SELECT ... ")" or a parenthesised joined table.
struct TABSTableRef {
    enum class Kind : std::uint8_t { Table, Subquery, Nested };
    Kind kind = Kind::Table;
    TABSTableName table;                       // Kind::Table
    std::string alias;                         // empty when none was given
    std::unique_ptr<TABSQueryExpr> subquery;   // Kind::Subquery
    std::unique_ptr<TABSJoinedTable> nested;   // Kind::Nested
    TABSSourcePos pos;

    TABSTableRef();
    TABSTableRef(TABSTableRef&&) noexcept;
    TABSTableRef& operator=(TABSTableRef&&) noexcept;
    ~TABSTableRef();

    // The name by which columns of this reference are qualified: the alias, else the table name.
    [[nodiscard]] const std::string& QualifierName() const noexcept { return alias.empty() ? table.name : alias; }
};

struct TABSJoin {
    TABSJoinKind kind = TABSJoinKind::Inner;
    bool natural = false;
    TABSTableRef right;
    std::unique_ptr<TABSExpression> on;     // ON condition, when given
    std::vector<std::string> usingColumns;  // USING (...), when given

    TABSJoin();
    TABSJoin(TABSJoin&&) noexcept;
    TABSJoin& operator=(TABSJoin&&) noexcept;
    ~TABSJoin();
};

// table reference { join }
struct TABSJoinedTable {
    TABSTableRef first;
    std::vector<TABSJoin> joins;
};

struct TABSSelectListItem {
    std::unique_ptr<TABSExpression> expression;  // null for "*" and "t.*"
    std::string tableName;   // qualifier of a plain column reference, or t of "t.*"
    std::string columnName;  // name of a plain column reference
    std::string alias;
    bool allColumns = false;  // "*" (tableName empty) or "t.*"
    bool aggregate = false;   // the expression holds an aggregate
    TABSSourcePos pos;

    TABSSelectListItem();
    TABSSelectListItem(TABSSelectListItem&&) noexcept;
    TABSSelectListItem& operator=(TABSSelectListItem&&) noexcept;
    ~TABSSelectListItem();
};

// A sort item: a column (optionally qualified) or the 1-based number of a result column.
struct TABSSortItem {
    std::string qualifier;
    std::string name;
    int position = 0;  // > 0 when written as a number
    bool descending = false;
    TABSSourcePos pos;
};

struct TABSGroupItem {
    std::string qualifier;
    std::string name;
    TABSSourcePos pos;
};

struct TABSTopClause {
    bool given = false;
    std::int64_t count = 0;
    std::int64_t first = 1;  // 1-based first row
};

struct TABSIntoClause {
    bool given = false;
    bool memory = false;
    bool immediate = false;
    std::string database;
    std::string name;
    TABSSourcePos pos;
};

struct TABSSelectClauses {
    bool distinct = false;
    TABSTopClause top;
    std::vector<TABSSelectListItem> items;
    TABSIntoClause into;
    std::vector<TABSJoinedTable> from;  // comma-separated entries
    std::unique_ptr<TABSExpression> where;
    std::vector<TABSGroupItem> groupBy;
    std::unique_ptr<TABSExpression> having;
    std::vector<TABSSortItem> orderBy;
    TABSSourcePos pos;  // of SELECT

    TABSSelectClauses();
    ~TABSSelectClauses();
};

enum class TABSSetOp : std::uint8_t { Union, Except, Intersect };  // MINUS is Except

struct TABSQueryExpr {
    // A SELECT when `select` is set; otherwise `op` applied to `left` and `right`.
    std::unique_ptr<TABSSelectClauses> select;
    TABSSetOp op = TABSSetOp::Union;
    bool all = false;
    bool corresponding = false;
    std::vector<std::string> correspondingBy;
    std::unique_ptr<TABSQueryExpr> left;
    std::unique_ptr<TABSQueryExpr> right;
    std::vector<TABSSortItem> orderBy;  // ORDER BY of a whole set operation
    bool parenthesized = false;         // written as "(" query ")"

    [[nodiscard]] bool IsSelect() const noexcept { return select != nullptr; }
    // The SELECTs of the tree from left to right.
    void CollectSelects(std::vector<const TABSSelectClauses*>& out) const;
};

class TABSSQLUnion final : public TABSSQLStatement {
public:
    TABSSQLUnion() = default;
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::Query; }
    void Parse(TABSSQLParser& parser) override;

    // REQUIRES: Parse succeeded.
    [[nodiscard]] const TABSQueryExpr& Query() const noexcept { return *query_; }
    [[nodiscard]] TABSQueryExpr& Query() noexcept { return *query_; }

private:
    std::unique_ptr<TABSQueryExpr> query_;
};

namespace sqlgrammar {

// Parses a query (SELECT or set operation, with its ORDER BY) from the current token and stops
// after it, leaving any further token to the caller. Raises "Token 'SELECT' expected" when the
// query does not begin with SELECT or "(" and 20272 when a part of a set operation has INTO.
[[nodiscard]] std::unique_ptr<TABSQueryExpr> ParseQuery(TABSSQLParser& parser);

// Whether the current token starts a query: SELECT, or one or more "(" followed by SELECT.
[[nodiscard]] bool StartsQuery(const TABSSQLParser& parser) noexcept;

} // namespace sqlgrammar

} // namespace kova
