// Running a query: the live view on a base table, or the operator tree, read under the read locks
// of its tables, whose root rows become a read-only result held in memory.
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSRelationalAlgebra.h"
#include "engine/sql/ABSSQLModifyExec.h"
#include "engine/sql/ABSStatementExecution.h"
#include "engine/sql/ABSTableCursor.h"
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"
#include "engine/storage/ABSTableLocks.h"

#include <algorithm>

namespace kova {

namespace {

// The rows of a result, held in memory in their final order, without the hidden sort columns.
// The operators already sorted and deduplicated them, so storing them into a temporary table and
// indexing them again would only repeat that work; what the stored table did besides, giving
// each value its column's type and text form, is done once here when the rows arrive.
class MemoryResultCursor final : public TABSLocalCursor {
public:
    MemoryResultCursor(std::vector<TABSCursorColumn> columns, std::vector<TABSAORow> rows, std::size_t visible)
        : columns_(std::move(columns)), rows_(std::move(rows)), visible_(visible) {}

    [[nodiscard]] std::size_t ColumnCount() const override { return visible_; }
    [[nodiscard]] const TABSCursorColumn& Column(std::size_t index) const override { return columns_[index]; }
    [[nodiscard]] std::int64_t RecordCount() override { return Count(); }
    [[nodiscard]] bool IsLive() const override { return false; }
    bool First() override { return MoveTo(Count() > 0 ? 1 : kAfterLast); }
    bool Last() override { return MoveTo(Count() > 0 ? Count() : kBeforeFirst); }
    bool Next() override {
        if (position_ == kAfterLast) return false;
        return MoveTo(position_ + 1 > Count() ? kAfterLast : position_ + 1);
    }
    bool Prior() override {
        if (position_ == kBeforeFirst) return false;
        if (position_ == kAfterLast) return MoveTo(Count() > 0 ? Count() : kBeforeFirst);
        return MoveTo(position_ - 1 < 1 ? kBeforeFirst : position_ - 1);
    }
    [[nodiscard]] bool Bof() const override { return position_ == kBeforeFirst; }
    [[nodiscard]] bool Eof() const override { return position_ == kAfterLast; }
    [[nodiscard]] std::int64_t RecNo() const override { return OnRow() ? position_ : 0; }
    bool SetRecNo(std::int64_t recNo) override {
        if (recNo < 1 || recNo > Count()) return false;
        position_ = recNo;
        return true;
    }
    void GetValue(std::size_t index, TABSVariant& value) override {
        value = rows_[static_cast<std::size_t>(position_ - 1)][index];
    }

private:
    // The two cracks around the rows; rows are numbered from 1.
    static constexpr std::int64_t kBeforeFirst = 0;
    static constexpr std::int64_t kAfterLast = -1;

    [[nodiscard]] std::int64_t Count() const noexcept { return static_cast<std::int64_t>(rows_.size()); }
    [[nodiscard]] bool OnRow() const noexcept { return position_ >= 1; }
    bool MoveTo(std::int64_t position) noexcept {
        position_ = position;
        return OnRow();
    }

    std::vector<TABSCursorColumn> columns_;
    std::vector<TABSAORow> rows_;
    std::size_t visible_;
    std::int64_t position_ = kBeforeFirst;
};

// Whether a value already is what the column's storage gives back for it, so that it can be
// kept as it is: same type, and for 8-bit text plain ASCII that is not empty (an empty text is
// stored as null, and other characters must survive the file's code page or fail as a stored
// table would fail).
[[nodiscard]] bool KeepsItsForm(const TABSVariant& value, TABSBaseType storage) noexcept {
    if (value.BaseType() != storage) return false;
    if (IsWideTextType(storage) || storage == TABSBaseType::bftBytes || storage == TABSBaseType::bftVarBytes) {
        return false;
    }
    if (!IsAnsiTextType(storage)) return true;
    const std::string& text = value.TextData();
    if (text.empty()) return false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0 || byte >= 0x80) return false;
    }
    return true;
}

// Gives every value of the rows the form it would have after a trip through a result table of
// these fields: typed nulls, the column's type, text in the column's code page.
void NormalizeRows(const TABSFieldDefs& fields, std::vector<TABSAORow>& rows) {
    std::vector<std::uint8_t> scratch = fields.NewRecord();
    for (TABSAORow& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            TABSVariant& value = row[i];
            const TABSFieldDef& field = fields[i];
            if (value.IsNull()) {
                if (value.BaseType() != field.StorageType) value = TABSVariant(field.StorageType);
                continue;
            }
            if (KeepsItsForm(value, field.StorageType)) continue;
            if (field.IsBlob()) {
                if (value.BaseType() != field.StorageType) value.ConvertTo(field.StorageType);
                continue;
            }
            fields.SetValue(scratch, i, value);
            value = fields.GetValue(scratch, i);
        }
    }
}

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
        // A text has no more characters than bytes: most texts fit the declared size uncounted.
        if (IsAnsiTextType(value.BaseType()) && static_cast<std::int64_t>(value.TextData().size()) <= size) continue;
        const std::int64_t length = IsTextType(value.BaseType()) ? value.TextLength()
                                                                 : static_cast<std::int64_t>(value.DataSize());
        size = std::max(size, length);
    }
    return static_cast<std::int32_t>(size);
}

// The root's rows as the query's result. They are in their final order already: each operator
// sorts its own rows, and TOP cuts rows its source has sorted.
[[nodiscard]] std::unique_ptr<TABSLocalCursor> StoreResult(TABSAO& root) {
    const std::vector<TABSAOColumn>& columns = root.Columns();
    std::vector<TABSAORow>& rows = root.Rows();
    TABSFieldDefs fields;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TABSColumnType type = StoredColumnType(columns[i], rows, i);
        fields.Add(TABSFieldDef(columns[i].Name, type, StoredSize(type, columns[i].Size, rows, i)));
    }
    NormalizeRows(fields, rows);
    return std::make_unique<MemoryResultCursor>(CursorColumnsOf(fields), std::move(rows), root.VisibleColumnCount());
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

// A query's read lock is kind 2: other readers take it alongside, and it and a writer's
// write intent (kind 3, held while an UPDATE, DELETE or INSERT runs) exclude each other.
constexpr int kTableLockRead = kTableLockWrite;

// The base tables of a tree, sources first.
void CollectTables(TABSAO& op, std::vector<TABSAOTable*>& tables) {
    if (auto* table = dynamic_cast<TABSAOTable*>(&op)) {
        tables.push_back(table);
    } else if (auto* join = dynamic_cast<TABSAOJoin*>(&op)) {
        CollectTables(join->Left(), tables);
        CollectTables(join->Right(), tables);
    } else if (auto* setOp = dynamic_cast<TABSAOUnion*>(&op)) {
        CollectTables(setOp->Left(), tables);
        CollectTables(setOp->Right(), tables);
    } else if (auto* projection = dynamic_cast<TABSAOTableExpr*>(&op)) {
        CollectTables(projection->Source(), tables);
    } else if (auto* grouping = dynamic_cast<TABSAOGroupBy*>(&op)) {
        CollectTables(grouping->Source(), tables);
    } else if (auto* top = dynamic_cast<TABSAOSQLTopRowCount*>(&op)) {
        CollectTables(top->Source(), tables);
    }
}

} // namespace

// ---- TABSStatementReadLocks ----

TABSStatementReadLocks::~TABSStatementReadLocks() { Release(); }

void TABSStatementReadLocks::Lock(TABSAO& root) {
    // Single-user files and the pseudo databases have nobody to keep out.
    if (context_->Tables == nullptr || !context_->Tables->Database().IsMultiUser()) return;
    std::vector<TABSAOTable*> tables;
    CollectTables(root, tables);
    try {
        for (TABSAOTable* table : tables) {
            TABSTableData* data = table->TableData();
            if (data == nullptr || dynamic_cast<TABSDiskTableData*>(data) == nullptr) continue;
            LockTable(data->TableID());
        }
    } catch (...) {
        Release();
        throw;
    }
}

void TABSStatementReadLocks::LockTable(std::int32_t tableId) {
    TABSDiskDatabaseData& database = context_->Tables->Database();
    for (int attempt = 1; attempt <= kReadLockAttempts; ++attempt) {
        if (database.LockTable(context_->SessionID, tableId, kTableLockRead, 1)) {
            held_.push_back(tableId);
            return;
        }
        // Someone is changing the table: what this session cached of it is stale.
        context_->Tables->StateCache().Invalidate(context_->SessionID, tableId);
        if (attempt < kReadLockAttempts) ModifySleep(kReadLockPauseMilliseconds);
    }
    RaiseError(kReadLockError, "Table is locked");
}

void TABSStatementReadLocks::Release() noexcept {
    if (held_.empty()) return;
    TABSDiskDatabaseData& database = context_->Tables->Database();
    for (const std::int32_t tableId : held_) {
        try {
            (void)database.UnlockTable(context_->SessionID, tableId, kTableLockRead);
        } catch (...) {
            // A lock that cannot be given back goes with the connection.
        }
    }
    held_.clear();
}

std::unique_ptr<TABSLocalCursor> ExecuteQuery(const TABSExecutionContext& context, TABSQueryExpr& query,
                                              bool requestLive) {
    TABSTableAccess access(context);
    if (requestLive && CanBeLive(query)) return OpenLive(access, *query.select);

    TABSEnvironmentPool pool(context);
    std::unique_ptr<TABSAO> root = BuildQueryTree(query, access, nullptr, pool);
    std::unique_ptr<TABSLocalCursor> cursor;
    {
        // The rows are all read when the tree is open, so the locks end there.
        TABSStatementReadLocks locks(context);
        locks.Lock(*root);
        root->Open();
    }
    cursor = StoreResult(*root);

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
