// Running a query: the live view on a base table, or the operator tree whose rows are stored in a
// temporary table of TEMP and browsed read-only through a cursor that owns that table.
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSRelationalAlgebra.h"
#include "engine/sql/ABSStatementExecution.h"
#include "engine/sql/ABSTableCursor.h"

#include <algorithm>

namespace kova {

namespace {

// The rows of a result table without its hidden sort columns; drops the table when it goes.
class ResultCursor final : public TABSLocalCursor {
public:
    ResultCursor(const TABSExecutionContext& context, std::unique_ptr<TABSTableCursor> table, std::string tableName,
                 std::size_t visible)
        : context_(context), table_(std::move(table)), tableName_(std::move(tableName)), visible_(visible) {}
    ~ResultCursor() override {
        table_.reset();
        TABSTableAccess(context_).DropTemporaryTable(tableName_);
    }

    [[nodiscard]] std::size_t ColumnCount() const override { return visible_; }
    [[nodiscard]] const TABSCursorColumn& Column(std::size_t index) const override { return table_->Column(index); }
    [[nodiscard]] std::int64_t RecordCount() override { return table_->RecordCount(); }
    [[nodiscard]] bool IsLive() const override { return false; }
    bool First() override { return table_->First(); }
    bool Last() override { return table_->Last(); }
    bool Next() override { return table_->Next(); }
    bool Prior() override { return table_->Prior(); }
    [[nodiscard]] bool Bof() const override { return table_->Bof(); }
    [[nodiscard]] bool Eof() const override { return table_->Eof(); }
    [[nodiscard]] std::int64_t RecNo() const override { return table_->RecNo(); }
    bool SetRecNo(std::int64_t recNo) override { return table_->SetRecNo(recNo); }
    void GetValue(std::size_t index, TABSVariant& value) override { table_->GetValue(index, value); }
    [[nodiscard]] bool Locate(std::span<const std::size_t> columns, std::span<const TABSVariant> values,
                              bool ignoreCase, bool partialKey) override {
        return table_->Locate(columns, values, ignoreCase, partialKey);
    }

private:
    TABSExecutionContext context_;  // a copy: the cursor may outlive the statement's executor
    std::unique_ptr<TABSTableCursor> table_;
    std::string tableName_;
    std::size_t visible_;
};

[[nodiscard]] TABSColumnType StoredColumnType(const TABSAOColumn& column, const std::vector<TABSAORow>& rows,
                                              std::size_t index) {
    using C = TABSColumnType;
    switch (column.ColumnType) {
        case C::actAutoInc:
        case C::actAutoIncInteger: return C::actInteger;
        case C::actAutoIncShortInt: return C::actShortInt;
        case C::actAutoIncSmallInt: return C::actSmallInt;
        case C::actAutoIncLargeInt: return C::actLargeInt;
        case C::actAutoIncByte: return C::actByte;
        case C::actAutoIncWord: return C::actWord;
        case C::actAutoIncCardinal: return C::actCardinal;
        case C::actUnknown: break;
        default: return column.ColumnType;
    }
    TABSBaseType type = column.BaseType;
    if (type == TABSBaseType::bftUnknown) {
        // An expression whose type shows only in its values (a scalar subquery, a null literal).
        for (const TABSAORow& row : rows) {
            if (!row[index].IsNull()) {
                type = row[index].BaseType();
                break;
            }
        }
    }
    return ResultColumnType(type);
}

// Text and byte columns are made wide enough for every value of the result.
[[nodiscard]] std::int32_t StoredSize(TABSColumnType type, int declared, const std::vector<TABSAORow>& rows,
                                      std::size_t index) {
    if (!ColumnTypeTakesSize(type)) return 0;
    std::int64_t size = std::max(declared, 1);
    for (const TABSAORow& row : rows) {
        const TABSVariant& value = row[index];
        if (value.IsNull()) continue;
        const std::int64_t length = IsTextType(value.BaseType()) ? value.TextLength()
                                                                 : static_cast<std::int64_t>(value.DataSize());
        size = std::max(size, length);
    }
    return static_cast<std::int32_t>(size);
}

[[nodiscard]] std::unique_ptr<TABSLocalCursor> StoreResult(const TABSTableAccess& access, TABSAO& root) {
    const std::vector<TABSAOColumn>& columns = root.Columns();
    const std::vector<TABSAORow>& rows = root.Rows();
    TABSTableDefinition definition;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TABSColumnType type = StoredColumnType(columns[i], rows, i);
        definition.Fields.Add(TABSFieldDef(columns[i].Name, type, StoredSize(type, columns[i].Size, rows, i)));
    }
    const std::string name = access.CreateTemporaryTable(std::move(definition));
    try {
        auto cursor = std::make_unique<TABSTableCursor>(access.OpenTemporaryTable(name), true);
        for (const TABSAORow& row : rows) {
            cursor->Append();
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (!row[i].IsNull()) cursor->SetValue(i, row[i]);
            }
            cursor->Post();
        }
        cursor->SetLive(false);
        if (!root.Sort().empty()) {
            std::vector<TABSIndexColumn> order;
            for (const TABSAOSortColumn& key : root.Sort()) {
                TABSIndexColumn column;
                column.FieldName = columns[key.Column].Name;
                column.Descending = key.Descending;
                column.CaseInsensitive = key.CaseInsensitive;
                order.push_back(std::move(column));
            }
            cursor->SetColumnOrder(std::move(order));
        } else {
            cursor->SetPhysicalOrder();
        }
        return std::make_unique<ResultCursor>(access.Context(), std::move(cursor), name, root.VisibleColumnCount());
    } catch (...) {
        access.DropTemporaryTable(name);
        throw;
    }
}

// The sort of the root, wherever it sits below TOP.
[[nodiscard]] const std::vector<TABSAOSortColumn>& RootSort(TABSAO& root) {
    if (auto* top = dynamic_cast<TABSAOSQLTopRowCount*>(&root)) return top->Source().Sort();
    return root.Sort();
}

// A query that can be a live view: one base table, all its columns, no grouping, DISTINCT, TOP
// or INTO, and a WHERE without subqueries.
[[nodiscard]] bool CanBeLive(const TABSQueryExpr& query) {
    if (!query.IsSelect()) return false;
    const TABSSelectClauses& select = *query.select;
    if (select.distinct || select.top.given || select.into.given || !select.groupBy.empty() || select.having) return false;
    if (select.from.size() != 1 || !select.from[0].joins.empty()) return false;
    if (select.from[0].first.kind != TABSTableRef::Kind::Table) return false;
    if (select.items.size() != 1 || !select.items[0].allColumns) return false;
    if (select.where) {
        std::vector<const TABSExprNode*> pending{select.where->Root()};
        while (!pending.empty()) {
            const TABSExprNode* node = pending.back();
            pending.pop_back();
            if (node->NodeClass() == TABSExprNodeClass::Subquery || node->NodeClass() == TABSExprNodeClass::Aggregated ||
                node->NodeClass() == TABSExprNodeClass::System) {
                return false;
            }
            for (const auto& child : node->Children()) pending.push_back(child.get());
        }
    }
    return true;
}

[[nodiscard]] std::unique_ptr<TABSLocalCursor> OpenLive(const TABSTableAccess& access, TABSSelectClauses& select) {
    const TABSTableRef& ref = select.from[0].first;
    auto cursor = std::make_unique<TABSTableCursor>(access.OpenTable(ref.table), true, ref.alias);
    if (!select.orderBy.empty()) {
        std::vector<TABSIndexColumn> order;
        for (const TABSSortItem& item : select.orderBy) {
            TABSIndexColumn column;
            if (item.position > 0) {
                if (static_cast<std::size_t>(item.position) > cursor->ColumnCount()) {
                    RaiseError(kOrderByNumberError, "Invalid field number in ORDER BY clause: %d", {item.position});
                }
                column.FieldName = cursor->Column(static_cast<std::size_t>(item.position - 1)).Name;
            } else {
                const auto found = cursor->FindColumn(item.name);
                if (!found) RaiseError(kOrderByColumnError, "Column '%s' from ORDER BY clause not found", {item.name});
                column.FieldName = cursor->Column(*found).Name;
            }
            column.Descending = item.descending;
            order.push_back(std::move(column));
        }
        cursor->SetColumnOrder(std::move(order));
    }
    if (select.where) {
        try {
            cursor->SetFilter(std::move(select.where));
        } catch (const EABSException& e) {
            if (e.NativeError() == 30090) RaiseError(kSearchConditionError, "Search condition is not applicable");
            throw;
        }
    }
    return cursor;
}

} // namespace

std::unique_ptr<TABSLocalCursor> ExecuteQuery(const TABSExecutionContext& context, TABSQueryExpr& query,
                                              bool requestLive) {
    TABSTableAccess access(context);
    if (requestLive && CanBeLive(query)) return OpenLive(access, *query.select);

    TABSEnvironmentPool pool(context);
    std::unique_ptr<TABSAO> root = BuildQueryTree(query, access, nullptr, pool);
    root->Open();
    // The sort set below TOP orders the cut rows too.
    if (root->Sort().empty() && !RootSort(*root).empty()) root->SetSort(RootSort(*root));
    std::unique_ptr<TABSLocalCursor> cursor = StoreResult(access, *root);

    if (query.IsSelect() && query.select->into.given) {
        const TABSIntoClause& into = query.select->into;
        TABSTableName target;
        target.memory = into.memory;
        target.database = into.database;
        target.name = into.name;
        target.pos = into.pos;
        std::string log;
        if (!ImportTable(access, target, *cursor, nullptr, log)) {
            RaiseError(kImportIntoError, "Error importing table. Cannot copy data due to error: %s\r\n", {log});
        }
    }
    return cursor;
}

std::unique_ptr<TABSExprEnvironment> MakeExpressionEnvironment(const TABSExecutionContext& context) {
    return std::make_unique<TABSQueryEnvironment>(context, nullptr);
}

} // namespace kova
