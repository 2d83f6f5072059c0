// INSERT, UPDATE and DELETE.
//
// UPDATE and DELETE first collect the record ids of the rows their WHERE selects and only then
// change them: a row whose change makes it match again (or a change that moves it further down
// the scan) is still changed exactly once.
#include "engine/core/ABSExcept.h"
#include "engine/core/ABSTypes.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSRelationalAlgebra.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLModifyExec.h"
#include "engine/sql/ABSStatementExecution.h"
#include "engine/storage/ABSDiskTableData.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kova {

namespace {

// A memory record of a table that gives its cached BLOB values back when it goes.
class RecordBuffer {
public:
    explicit RecordBuffer(TABSTableData& table) : table_(table), bytes_(table.NewRecordBuffer()) {}
    ~RecordBuffer() { table_.ReleaseRecordBuffer(bytes_, true); }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    [[nodiscard]] std::span<std::uint8_t> Span() noexcept { return bytes_; }
    // Drops the BLOB values cached for the record it held, before it is read over.
    [[nodiscard]] std::span<std::uint8_t> Fresh() {
        table_.ReleaseRecordBuffer(bytes_, true);
        return bytes_;
    }
    // Starts over with every field null (and the cached BLOB values of the last record dropped).
    void Reset() {
        table_.ReleaseRecordBuffer(bytes_, true);
        bytes_ = table_.NewRecordBuffer();
    }

private:
    TABSTableData& table_;
    std::vector<std::uint8_t> bytes_;
};

// The field of a column list entry; raises the storage layer's "Field '%s' not found".
std::size_t FieldNumber(const TABSTableData& table, const std::string& column) {
    return static_cast<std::size_t>(table.FieldDefs().FieldByName(column).FieldNo);
}

// Where the i-th value of a row goes: the i-th listed column, or the table's i-th field.
std::vector<std::size_t> TargetFields(const TABSTableData& table, const std::vector<std::string>& columns,
                                      std::size_t valueCount) {
    std::vector<std::size_t> fields;
    fields.reserve(valueCount);
    for (std::size_t i = 0; i < valueCount; ++i) {
        if (i < columns.size()) {
            fields.push_back(FieldNumber(table, columns[i]));
        } else {
            fields.push_back(static_cast<std::size_t>(table.FieldDefs().FieldByNo(static_cast<int>(i)).FieldNo));
        }
    }
    return fields;
}

// An evaluated value for a column; an expression that gives no value at all (not even a typed
// null) is a parameter nobody set.
void RequireValue(const TABSVariant& value, const TABSFieldDef& field) {
    if (value.BaseType() == TABSBaseType::bftUnknown) {
        RaiseError(kParameterValueUndefinedError, "Parameter Value undefined (FieldName='%s', Type='%s')",
                   {field.Name, std::string(ColumnTypeName(field.ColumnType))});
    }
}

// The conjuncts of a condition.
void SplitConjuncts(TABSExprNode* node, std::vector<TABSExprNode*>& parts) {
    if (node->NodeClass() == TABSExprNodeClass::Boolean && node->Op() == opAND) {
        for (auto& child : node->Children()) SplitConjuncts(child.get(), parts);
    } else {
        parts.push_back(node);
    }
}

// The table's fields as the scan helpers of query execution see columns.
std::vector<TABSAOColumn> ScanColumns(const TABSTableData& table, const std::string& alias) {
    std::vector<TABSAOColumn> columns;
    for (const TABSFieldDef& field : table.FieldDefs()) {
        TABSAOColumn column;
        column.Name = field.Name;
        column.TableName = table.TableName();
        column.Alias = alias;
        column.BaseType = field.StorageType;
        column.ColumnType = field.ColumnType;
        column.Size = field.Size;
        columns.push_back(std::move(column));
    }
    return columns;
}

// The records of `table` (in physical order) for which `where` holds (all without WHERE). The
// condition must be bound to `rows`. Like a query's scan, an index of a file's table narrows
// the records read when it serves a part of the condition.
std::vector<TABSRecordID> SelectRecords(TABSTableHandle& handle, TABSRecordRowSource& rows, TABSExpression* where,
                                        const std::string& alias) {
    TABSTableData& table = handle.Table();
    const TABSSessionID session = handle.Session();
    std::vector<TABSRecordID> ids;
    if (where == nullptr) {
        for (auto id = table.FirstRecord(session); id; id = table.NextRecord(session, *id)) ids.push_back(*id);
        return ids;
    }
    std::vector<TABSExprNode*> parts;
    SplitConjuncts(where->Root(), parts);
    const std::vector<TABSAOColumn> columns = ScanColumns(table, alias);
    const std::vector<TABSAOTextEquality> equalities = TextEqualities(parts, columns);
    std::optional<std::vector<TABSRecordID>> candidates;
    if (dynamic_cast<TABSDiskTableData*>(&table) != nullptr) {
        candidates = IndexedCandidates(table, session, parts, columns);
        // A file's physical order is page by page, slot by slot.
        if (candidates) {
            std::sort(candidates->begin(), candidates->end(), [](const TABSRecordID& a, const TABSRecordID& b) {
                return a.PageNo != b.PageNo ? a.PageNo < b.PageNo : a.Slot < b.Slot;
            });
        }
    }
    RecordBuffer record(table);
    const auto test = [&](const TABSRecordID& id) {
        table.ReadRecord(session, id, record.Fresh());
        if (RefutedByText(equalities, table.FieldDefs(), record.Span())) return;
        rows.SetRecord(record.Span());
        if (where->IsTrue()) ids.push_back(id);
    };
    if (candidates) {
        for (const TABSRecordID& id : *candidates) test(id);
    } else {
        for (auto id = table.FirstRecord(session); id; id = table.NextRecord(session, *id)) test(*id);
    }
    return ids;
}

// The first row of a subquery, one value per column (nulls when it has no row).
std::vector<TABSVariant> FirstRowOf(TABSExprEnvironment* environment, const TABSQueryExpr& query,
                                    std::size_t columns) {
    std::vector<TABSVariant> values(columns);
    if (environment == nullptr) {
        RaiseError(sqlerr::kNotAvailable, sqlerr::kNotAvailableMsg, {"SELECT"});
    }
    std::unique_ptr<TABSSubqueryRows> rows = environment->RunSubquery(query);
    if (rows && rows->Next()) {
        for (std::size_t i = 0; i < columns && i < rows->ColumnCount(); ++i) values[i] = rows->Value(i);
    }
    return values;
}

constexpr const char* kInsertCopyPrefix = "TmpTableForInsert";

// Drops the temporary copy of INSERT ... SELECT in every case.
class TemporaryTableGuard {
public:
    TemporaryTableGuard(const TABSTableAccess& access, std::string name) : access_(access), name_(std::move(name)) {}
    ~TemporaryTableGuard() { access_.DropTemporaryTable(name_); }
    TemporaryTableGuard(const TemporaryTableGuard&) = delete;
    TemporaryTableGuard& operator=(const TemporaryTableGuard&) = delete;

private:
    const TABSTableAccess& access_;
    std::string name_;
};

std::int64_t InsertValues(const TABSExecutionContext& context, TABSSQLInsert& statement) {
    const TABSTableAccess access(context);
    TABSTableHandle handle = access.OpenTable(statement.Table());
    TABSTableData& table = handle.Table();
    const TABSSessionID session = handle.Session();
    std::unique_ptr<TABSExprEnvironment> environment = MakeExpressionEnvironment(context);

    std::int64_t posted = 0;
    RecordBuffer record(table);
    for (const auto& row : statement.Rows()) {
        const std::vector<std::size_t> fields = TargetFields(table, statement.Columns(), row.size());
        record.Reset();
        table.ApplyDefaults(record.Span());
        for (std::size_t i = 0; i < row.size(); ++i) {
            TABSExpression& expression = *row[i];
            expression.Bind(nullptr, environment.get());
            const TABSVariant& value = expression.Evaluate();
            RequireValue(value, table.FieldDefs()[fields[i]]);
            WriteColumnValue(table, session, record.Span(), fields[i], value);
        }
        // Outside a transaction every posted row is committed at once, so the rows before a
        // failing one stay.
        (void)table.InsertRecord(session, record.Span());
        ++posted;
    }
    return posted;
}

std::int64_t InsertSelect(const TABSExecutionContext& context, TABSSQLInsert& statement) {
    const TABSTableAccess access(context);
    // The query's rows go into a table of their own first, so that the target may be read by
    // the query it is filled from.
    std::string name;
    do {
        name = kInsertCopyPrefix + std::to_string(TABSTableAccess::Random(1000000));
    } while (access.TableExists(TABSTableAccess::TemporaryTableName(name)));
    std::optional<TemporaryTableGuard> dropCopy;
    {
        std::unique_ptr<TABSLocalCursor> rows = ExecuteQuery(context, *statement.Query(), false);
        dropCopy.emplace(access, name);
        std::string log;
        // Rows that could not be copied are left out, as the import leaves them; the rest go in.
        (void)ImportTable(access, TABSTableAccess::TemporaryTableName(name), *rows, nullptr, log);
    }
    TABSTableHandle copy = access.OpenTemporaryTable(name);
    TABSTableHandle handle = access.OpenTable(statement.Table());
    TABSTableData& table = handle.Table();
    const TABSSessionID session = handle.Session();
    const std::vector<std::size_t> fields = TargetFields(table, statement.Columns(), copy->FieldDefs().Count());

    TABSStatementWriteLock lock(context, table, kTableLockedForInsertSelectError);
    TABSStatementBatch batch(access, handle);
    std::int64_t posted = 0;
    RecordBuffer source(copy.Table());
    RecordBuffer record(table);
    for (auto id = copy->FirstRecord(copy.Session()); id; id = copy->NextRecord(copy.Session(), *id)) {
        copy->ReadRecord(copy.Session(), *id, source.Fresh());
        record.Reset();
        table.ApplyDefaults(record.Span());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            WriteColumnValue(table, session, record.Span(), fields[i],
                             ReadFieldValue(copy.Table(), copy.Session(), source.Span(), i));
        }
        batch.Inserted(table.InsertRecord(session, record.Span()));
        ++posted;
    }
    batch.Commit();
    return posted;
}

// The column fields and bound expressions of UPDATE's assignments.
struct BoundAssignments {
    std::vector<std::size_t> fields;
    std::vector<TABSExpression*> values;  // one per field; empty for the (columns) = (query) form
};

// One pass over the selected rows: every row is edited and posted, or the first failure passes.
std::int64_t UpdateRows(TABSTableHandle& handle, TABSRecordRowSource& rows, const BoundAssignments& assignments,
                        TABSSQLUpdate& statement, TABSExprEnvironment* environment,
                        const std::vector<TABSRecordID>& ids, TABSStatementBatch* batch) {
    TABSTableData& table = handle.Table();
    const TABSSessionID session = handle.Session();
    RecordBuffer current(table);
    RecordBuffer edited(table);
    std::int64_t posted = 0;
    for (const TABSRecordID& id : ids) {
        // Two reads rather than a copy: each buffer keeps BLOB values cached for itself.
        table.ReadRecord(session, id, current.Fresh());
        rows.SetRecord(current.Span());
        table.ReadRecord(session, id, edited.Fresh());
        // Every new value reads the row as it was before the statement touched it.
        if (!assignments.values.empty()) {
            for (std::size_t i = 0; i < assignments.fields.size(); ++i) {
                const TABSVariant& value = assignments.values[i]->Evaluate();
                RequireValue(value, table.FieldDefs()[assignments.fields[i]]);
                WriteColumnValue(table, session, edited.Span(), assignments.fields[i], value);
            }
        } else {
            const std::vector<TABSVariant> values =
                FirstRowOf(environment, *statement.ValuesQuery(), assignments.fields.size());
            for (std::size_t i = 0; i < assignments.fields.size(); ++i) {
                WriteColumnValue(table, session, edited.Span(), assignments.fields[i], values[i]);
            }
        }
        if (batch != nullptr) batch->Updating(id, current.Span());
        table.UpdateRecord(session, id, edited.Span());
        ++posted;
    }
    return posted;
}

// The table, alias and WHERE of a DELETE whose query reads one table; nothing for other forms.
struct DeleteTarget {
    const TABSTableRef* table = nullptr;
    TABSExpression* where = nullptr;
};

std::optional<DeleteTarget> SimpleDeleteTarget(TABSSQLDelete& statement) {
    TABSQueryExpr& query = statement.RowQuery();
    if (!query.IsSelect() || !query.orderBy.empty()) return std::nullopt;
    TABSSelectClauses& select = *query.select;
    if (select.from.size() != 1 || !select.from.front().joins.empty() ||
        select.from.front().first.kind != TABSTableRef::Kind::Table || !select.groupBy.empty() || select.having ||
        select.top.given || select.distinct || select.into.given) {
        return std::nullopt;
    }
    return DeleteTarget{&select.from.front().first, select.where.get()};
}

// Whether a DELETE's query joins its target with other tables in a way whose rows can be traced
// back to the target: a plain SELECT whose first FROM reference is the target table itself.
[[nodiscard]] bool IsJoinedDelete(TABSSQLDelete& statement) {
    TABSQueryExpr& query = statement.RowQuery();
    if (!query.IsSelect()) return false;
    const TABSSelectClauses& select = *query.select;
    return !select.from.empty() && select.from.front().first.kind == TABSTableRef::Kind::Table &&
           select.groupBy.empty() && !select.having && !select.into.given;
}

// Values of a row compared for equality as the engine compares them (two nulls are equal).
struct ValuesLess {
    bool operator()(const std::vector<TABSVariant>& a, const std::vector<TABSVariant>& b) const {
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            const int order = NullsFirstOrder(a[i].Compare(b[i]));
            if (order != 0) return order < 0;
        }
        return a.size() < b.size();
    }
};

// The records of the target of a DELETE with joined tables that take part in its query's
// result. The query selects "*" with the target first in FROM, so each result row begins with
// the values of a target record; a record takes part when its values begin some result row.
// Records that agree in every value cannot be told apart and go together.
std::vector<TABSRecordID> SelectJoinedRecords(const TABSExecutionContext& context, TABSSQLDelete& statement,
                                              TABSTableHandle& handle) {
    TABSTableData& table = handle.Table();
    const TABSSessionID session = handle.Session();
    const std::size_t width = table.FieldDefs().Count();
    std::set<std::vector<TABSVariant>, ValuesLess> selected;
    {
        std::unique_ptr<TABSLocalCursor> rows = ExecuteQuery(context, statement.RowQuery(), false);
        for (bool onRow = rows->First(); onRow; onRow = rows->Next()) {
            std::vector<TABSVariant> values(width);
            for (std::size_t i = 0; i < width; ++i) rows->GetValue(i, values[i]);
            selected.insert(std::move(values));
        }
    }
    std::vector<TABSRecordID> ids;
    if (selected.empty()) return ids;
    RecordBuffer record(table);
    for (auto id = table.FirstRecord(session); id; id = table.NextRecord(session, *id)) {
        table.ReadRecord(session, *id, record.Fresh());
        if (selected.count(ReadRecordValues(table, session, record.Span())) != 0) ids.push_back(*id);
    }
    return ids;
}

} // namespace

std::int64_t ExecuteInsert(const TABSExecutionContext& context, TABSSQLInsert& statement) {
    if (statement.Query() != nullptr) return InsertSelect(context, statement);
    return InsertValues(context, statement);
}

std::int64_t ExecuteUpdate(const TABSExecutionContext& context, TABSSQLUpdate& statement) {
    const TABSTableAccess access(context);
    TABSTableHandle handle = access.OpenTable(statement.Table());
    TABSTableData& table = handle.Table();
    TABSRecordRowSource rows(table, handle.Session(), statement.Alias());
    // Subqueries of the WHERE and of the new values see the row being changed.
    auto environment = std::make_unique<TABSQueryEnvironment>(context, &rows);

    BoundAssignments assignments;
    if (statement.Assignments().empty()) {
        for (const std::string& column : statement.QueryColumns()) assignments.fields.push_back(FieldNumber(table, column));
    } else {
        for (const TABSAssignment& assignment : statement.Assignments()) {
            assignments.fields.push_back(FieldNumber(table, assignment.column));
            assignment.value->Bind(&rows, environment.get());
            assignments.values.push_back(assignment.value.get());
        }
    }
    TABSExpression* where = statement.Where();
    if (where != nullptr) where->Bind(&rows, environment.get());
    const std::vector<TABSRecordID> ids = SelectRecords(handle, rows, where, statement.Alias());

    // Inside an explicit transaction the rows change directly: its commit or rollback decides.
    if (access.InTransaction()) {
        return UpdateRows(handle, rows, assignments, statement, environment.get(), ids, nullptr);
    }
    for (int attempt = 1;; ++attempt) {
        try {
            TABSStatementWriteLock lock(context, table, kTableLockedForChangeError);
            TABSStatementBatch batch(access, handle);
            const std::int64_t posted =
                UpdateRows(handle, rows, assignments, statement, environment.get(), ids, &batch);
            batch.Commit();
            return posted;
        } catch (const EABSError&) {
            // The batch was undone and the lock released on the way out; another connection may
            // have been in the way, so the whole pass is tried again after a pause.
            if (attempt >= kUpdateAttempts) throw;
        }
        ModifySleep(kUpdateRetryPauseMilliseconds);
    }
}

std::int64_t ExecuteDelete(const TABSExecutionContext& context, TABSSQLDelete& statement) {
    const std::optional<DeleteTarget> target = SimpleDeleteTarget(statement);
    if (!target && !IsJoinedDelete(statement)) {
        RaiseError(sqlerr::kNotAvailable, sqlerr::kNotAvailableMsg, {"DELETE with grouped or combined rows"});
    }
    const TABSTableRef& targetRef = target ? *target->table : statement.Target();
    const TABSTableAccess access(context);
    TABSTableHandle handle = access.OpenTable(targetRef.table);
    TABSTableData& table = handle.Table();
    const TABSSessionID session = handle.Session();
    std::vector<TABSRecordID> ids;
    if (target) {
        TABSRecordRowSource rows(table, session, target->table->alias);
        // A subquery of the WHERE sees the row it is asked about.
        TABSQueryEnvironment environment(context, &rows);
        if (target->where != nullptr) target->where->Bind(&rows, &environment);
        ids = SelectRecords(handle, rows, target->where, target->table->alias);
    } else {
        ids = SelectJoinedRecords(context, statement, handle);
    }

    const bool direct = access.InTransaction();
    std::optional<TABSStatementWriteLock> lock;
    std::optional<TABSStatementBatch> batch;
    if (!direct) {
        lock.emplace(context, table, kTableLockedForChangeError);
        batch.emplace(access, handle);
    }
    RecordBuffer record(table);
    std::int64_t deleted = 0;
    for (const TABSRecordID& id : ids) {
        if (batch) {
            table.ReadRecord(session, id, record.Fresh());
            batch->Deleting(record.Span());
        }
        table.DeleteRecord(session, id);
        ++deleted;
    }
    if (batch) batch->Commit();
    return deleted;
}

} // namespace kova
