// Data definition and transaction statements: CREATE / DROP / RENAME / TRUNCATE TABLE,
// CREATE / DROP INDEX, START TRANSACTION, COMMIT and ROLLBACK (ALTER TABLE: ABSSQLAlterExec).
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLAlterExec.h"
#include "engine/sql/ABSSQLDDLExec.h"
#include "engine/sql/ABSStatementExecution.h"
#include "engine/storage/ABSConstraintDefs.h"

#include <memory>
#include <string>
#include <utility>

namespace kova {

namespace {

// Raises `code` with `format` carrying the message of the failure being handled.
template <typename Action>
void Wrapped(int code, std::string_view format, Action&& action) {
    try {
        action();
    } catch (const EABSError& e) {
        RaiseError(code, format, {std::string(e.what())});
    }
}

TABSIndexDef MakeIndexDef(const TSQLIndexDef& index) {
    std::vector<TABSIndexColumn> columns;
    columns.reserve(index.columns.size());
    for (const TSQLIndexColumn& column : index.columns) {
        TABSIndexColumn indexColumn;
        indexColumn.FieldName = column.name;
        indexColumn.Descending = column.descending;
        indexColumn.CaseInsensitive = column.caseInsensitive;
        columns.push_back(std::move(indexColumn));
    }
    return TABSIndexDef(index.name.empty() ? EngineIndexName(index) : index.name, 0, std::move(columns), index.unique,
                        index.primary);
}

TABSTableDefinition MakeTableDefinition(const TABSDDLCreateTable& statement) {
    TABSTableDefinition definition;
    const std::string& tableName = statement.Table().name;
    for (const TSQLFieldDef& column : statement.Fields()) {
        definition.Fields.Add(MakeFieldDef(column));
        AddColumnConstraints(definition.Constraints, column, tableName);
    }
    for (const TSQLIndexDef& index : statement.Indexes()) definition.Indexes.Add(MakeIndexDef(index));
    return definition;
}

void CreateTable(const TABSTableAccess& access, const TABSDDLCreateTable& statement) {
    if (access.TableExists(statement.Table())) {
        if (statement.IfNotExists()) return;
        RaiseError(kTableAlreadyExistsError, "Cannot create table. Table '%s' already exists", {statement.Table().name});
    }
    Wrapped(kCreateTableError, "Error creating table: '%s'", [&] {
        if (access.InTransaction()) {
            RaiseError(kOperationInTransactionError, "Cannot perform '%s' operation on a database in transaction",
                       {"CreateTable"});
        }
        // The storage layer creates the table in one step and leaves nothing of it on failure.
        access.CreateTable(statement.Table(), MakeTableDefinition(statement));
    });
}

void DropTable(const TABSTableAccess& access, const TABSDDLDropTable& statement) {
    if (statement.IfExists() && !access.TableExists(statement.Table())) return;
    Wrapped(kDropTableError, "Error dropping table: '%s'", [&] { access.DropTable(statement.Table()); });
}

void RequireTransaction(const TABSTableAccess& access) {
    if (!access.InTransaction()) {
        RaiseError(kNotInTransactionError, "Database is not in transaction. Cannot perform operation");
    }
}

} // namespace

TABSFieldDef MakeFieldDef(const TSQLFieldDef& column) {
    TABSFieldDef field(column.name, column.type, column.size);
    if (column.defaultIsNow) {
        // A date or time field fills in the moment the record is made.
        field.DefaultValue.SetAsString("NOW");
    } else if (column.hasDefault) {
        field.DefaultValue = column.defaultValue;
    }
    if (field.IsBlob()) {
        if (column.hasBlobBlockSize) field.BlobBlockSize = static_cast<std::int32_t>(column.blobBlockSize);
        if (column.hasBlobCompressionMode) field.BlobCompressionMode = static_cast<std::uint8_t>(column.blobCompressionMode);
        if (column.hasBlobCompressionAlgorithm) {
            field.BlobCompressionAlgorithm = static_cast<std::uint8_t>(column.blobCompressionAlgorithmId);
        }
    }
    if (field.IsAutoInc()) {
        if (column.hasIncrement) field.AutoincIncrement = column.increment;
        if (column.hasAutoIncMin) field.AutoincMinValue = column.autoIncMin;
        if (column.hasAutoIncMax) field.AutoincMaxValue = column.autoIncMax;
        if (column.hasInitialValue) field.AutoincInitialValue = column.initialValue;
        if (column.hasCycled) field.AutoincCycled = column.cycled;
    }
    return field;
}

void AddColumnConstraints(TABSConstraintDefs& constraints, const TSQLFieldDef& column, const std::string& tableName) {
    if (column.required) {
        auto notNull = std::make_unique<TABSConstraintDefNotNull>();
        notNull->SetFieldName(column.name);
        constraints.Add(std::move(notNull), tableName);
    }
    if ((column.hasMinValue && !column.minValue.IsNull()) || (column.hasMaxValue && !column.maxValue.IsNull())) {
        auto check = std::make_unique<TABSConstraintDefCheck>();
        check->SetFieldName(column.name);
        if (column.hasMinValue) check->MinValue = column.minValue;
        if (column.hasMaxValue) check->MaxValue = column.maxValue;
        constraints.Add(std::move(check), tableName);
    }
}

std::int64_t ExecuteDefinition(const TABSExecutionContext& context, TABSSQLStatement& statement) {
    const TABSTableAccess access(context);
    switch (statement.Kind()) {
        case TABSStatementKind::CreateTable:
            CreateTable(access, static_cast<const TABSDDLCreateTable&>(statement));
            break;
        case TABSStatementKind::DropTable:
            DropTable(access, static_cast<const TABSDDLDropTable&>(statement));
            break;
        case TABSStatementKind::TruncateTable: {
            const auto& truncate = static_cast<const TABSDDLTruncateTable&>(statement);
            Wrapped(kTruncateTableError, "Error truncating table: '%s'", [&] { access.EmptyTable(truncate.Table()); });
            break;
        }
        case TABSStatementKind::CreateIndex: {
            const auto& create = static_cast<const TABSDDLCreateIndex&>(statement);
            access.AddIndex(create.Table(), MakeIndexDef(create.Index()));
            break;
        }
        case TABSStatementKind::DropIndex: {
            const auto& drop = static_cast<const TABSDDLDropIndex&>(statement);
            access.DropIndex(drop.Table(), drop.IndexName());
            break;
        }
        case TABSStatementKind::RenameTable: {
            const auto& rename = static_cast<const TABSDDLRenameTable&>(statement);
            access.RenameTable(rename.Table(), rename.NewName());
            break;
        }
        case TABSStatementKind::AlterTable:
            ExecuteAlterTable(access, static_cast<const TABSDDLAlterTable&>(statement));
            break;
        case TABSStatementKind::StartTransaction:
            if (access.InTransaction()) RaiseError(kAlreadyInTransactionError, "Database already in transaction");
            access.StartTransaction();
            break;
        case TABSStatementKind::Commit:
            RequireTransaction(access);
            access.Commit(static_cast<const TABSSQLCommit&>(statement).Flush());
            break;
        case TABSStatementKind::Rollback:
            RequireTransaction(access);
            access.Rollback();
            break;
        case TABSStatementKind::Query:
        case TABSStatementKind::Insert:
        case TABSStatementKind::Update:
        case TABSStatementKind::Delete:
            RaiseError(sqlerr::kNotAvailable, sqlerr::kNotAvailableMsg, {StatementKindName(statement.Kind())});
    }
    return 0;
}

} // namespace kova
