#include "engine/sql/ABSSQLAlterExec.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSSQLDDLExec.h"
#include "engine/sql/ABSTableCopy.h"
#include "engine/storage/ABSPseudoTableData.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace kova {

namespace {

[[nodiscard]] bool IsValueConstraintOf(const TABSConstraintDef& constraint, std::string_view fieldName) {
    if (constraint.Kind() != TABSConstraintKind::NotNull && constraint.Kind() != TABSConstraintKind::Check) {
        return false;
    }
    return SameObjectName(static_cast<const TABSConstraintDefNotNull&>(constraint).FieldName(), fieldName);
}

// `constraints` without the not-null and check constraints of one field.
TABSConstraintDefs WithoutValueConstraints(const TABSConstraintDefs& constraints, std::string_view fieldName) {
    TABSConstraintDefs kept;
    for (std::size_t i = 0; i < constraints.Count(); ++i) {
        if (!IsValueConstraintOf(constraints[i], fieldName)) (void)kept.AddLoaded(constraints[i].Clone());
    }
    return kept;
}

[[nodiscard]] bool IndexUsesField(const TABSIndexDef& index, std::string_view fieldName) {
    return std::any_of(index.Columns.begin(), index.Columns.end(),
                       [&](const TABSIndexColumn& column) { return SameObjectName(column.FieldName, fieldName); });
}

// The fields with `fieldNo` taken out.
TABSFieldDefs WithoutField(const TABSFieldDefs& fields, std::size_t fieldNo) {
    TABSFieldDefs kept;
    for (std::size_t i = 0; i < fields.Count(); ++i) {
        if (i != fieldNo) kept.Add(fields[i]);
    }
    return kept;
}

void AddColumns(TABSTableDefinition& definition, const std::string& tableName, const TABSDDLAlterTable& statement) {
    for (const TSQLFieldDef& column : statement.Fields()) {
        if (definition.Fields.Find(column.name) != nullptr) {
            if (column.ifNotExists) continue;
            RaiseError(kFieldExistsError, "Field by name '%s' already exists", {column.name});
        }
        definition.Fields.Add(MakeFieldDef(column));
        AddColumnConstraints(definition.Constraints, column, tableName);
    }
}

void DropColumns(TABSTableDefinition& definition, const TABSDDLAlterTable& statement) {
    for (const std::string& name : statement.DropColumns()) {
        const int fieldNo = definition.Fields.IndexOf(name);
        if (fieldNo < 0) continue;
        const std::string stored = definition.Fields[static_cast<std::size_t>(fieldNo)].Name;
        definition.Fields = WithoutField(definition.Fields, static_cast<std::size_t>(fieldNo));
        // An index over the column has nothing left to order by; its constraint goes with it.
        TABSIndexDefs indexes;
        for (const TABSIndexDef& index : definition.Indexes) {
            if (!IndexUsesField(index, stored)) indexes.Add(index);
        }
        definition.Indexes = std::move(indexes);
        definition.Constraints = WithoutValueConstraints(definition.Constraints, stored);
    }
}

void ModifyColumns(TABSTableDefinition& definition, const std::string& tableName, const TABSDDLAlterTable& statement) {
    for (const TSQLFieldDef& column : statement.Fields()) {
        const int fieldNo = definition.Fields.IndexOf(column.name);
        if (fieldNo < 0) RaiseError(kAlterFieldNotFoundError, "Field '%s' not found", {column.name});
        TABSFieldDef& field = definition.Fields[static_cast<std::size_t>(fieldNo)];
        const std::string stored = field.Name;
        TABSFieldDef replacement = MakeFieldDef(column);
        // The id ties the field to its old values: the rebuild converts them to the new type.
        replacement.ObjectID = field.ObjectID;
        field = std::move(replacement);
        definition.Constraints = WithoutValueConstraints(definition.Constraints, stored);
        AddColumnConstraints(definition.Constraints, column, tableName);
    }
    definition.Fields.ComputeLayout();
}

// Rebuilds the table with `definition`; a false result becomes 30347 with the rebuild's log.
void Rebuild(const TABSTableAccess& access, const TABSTableName& table, TABSTableDefinition definition) {
    std::string log;
    if (!RestructureStoredTable(access, table, std::move(definition), {}, log)) {
        RaiseError(kRestructureFailedError, "Restructure table error: '%s'", {log});
    }
}

// Tables of the pseudo databases keep their definitions only in memory; a renamed column there
// is a rebuild that keeps every field's id.
void RenameColumn(const TABSTableAccess& access, const TABSDDLAlterTable& statement) {
    bool inMemory = false;
    {
        TABSTableHandle handle = access.OpenTable(statement.Table());
        inMemory = dynamic_cast<TABSPseudoTableData*>(&handle.Table()) != nullptr;
    }
    if (!inMemory) {
        access.RenameField(statement.Table(), statement.OldName(), statement.NewName());
        return;
    }
    TABSTableDefinition definition = StoredDefinition(access, statement.Table());
    const std::string stored = definition.Fields.FieldByName(statement.OldName()).Name;
    definition.Fields.RenameField(statement.OldName(), statement.NewName());
    definition.Indexes.RenameField(stored, statement.NewName());
    definition.Constraints.RenameField(stored, statement.NewName());
    Rebuild(access, statement.Table(), std::move(definition));
}

} // namespace

TABSTableDefinition StoredDefinition(const TABSTableAccess& access, const TABSTableName& table) {
    TABSTableHandle handle = access.OpenTable(table);
    TABSTableDefinition definition;
    definition.Fields = handle->FieldDefs();
    for (const TABSIndexDef& index : handle->IndexDefs()) {
        if (!index.Temporary) definition.Indexes.Add(index);
    }
    definition.Constraints = handle->ConstraintDefs();
    return definition;
}

TABSTableDefinition AlteredDefinition(const TABSTableDefinition& current, const std::string& tableName,
                                      const TABSDDLAlterTable& statement) {
    TABSTableDefinition definition;
    definition.Fields = current.Fields;
    definition.Indexes = current.Indexes;
    definition.Constraints = current.Constraints;
    switch (statement.GetAction()) {
        case TABSDDLAlterTable::Action::Add:
            AddColumns(definition, tableName, statement);
            break;
        case TABSDDLAlterTable::Action::Drop:
            DropColumns(definition, statement);
            break;
        case TABSDDLAlterTable::Action::Modify:
            ModifyColumns(definition, tableName, statement);
            break;
        case TABSDDLAlterTable::Action::RenameColumn:
        case TABSDDLAlterTable::Action::RenameTable:
            break;
    }
    return definition;
}

void ExecuteAlterTable(const TABSTableAccess& access, const TABSDDLAlterTable& statement) {
    try {
        switch (statement.GetAction()) {
            case TABSDDLAlterTable::Action::RenameColumn:
                RenameColumn(access, statement);
                return;
            case TABSDDLAlterTable::Action::RenameTable:
                access.RenameTable(statement.Table(), statement.NewName());
                return;
            case TABSDDLAlterTable::Action::Add:
            case TABSDDLAlterTable::Action::Drop:
            case TABSDDLAlterTable::Action::Modify: {
                const TABSTableDefinition current = StoredDefinition(access, statement.Table());
                Rebuild(access, statement.Table(), AlteredDefinition(current, statement.Table().name, statement));
                return;
            }
        }
    } catch (const EABSError& e) {
        RaiseError(kAlterTableError, "Error altering table: '%s'", {std::string(e.what())});
    }
}

} // namespace kova
