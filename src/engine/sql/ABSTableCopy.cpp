#include "engine/sql/ABSTableCopy.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSStatementExecution.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace kova {

namespace {

constexpr int kDefaultImportedSize = 255;

std::string ErrorText(const std::exception& e) { return e.what(); }

// Puts the source back where it stood before the copy, however the copy ends.
class SourcePositionGuard {
public:
    explicit SourcePositionGuard(TABSLocalCursor& source)
        : source_(source), tableSource_(dynamic_cast<TABSTableCursor*>(&source)), bof_(source.Bof()),
          eof_(source.Eof()), recNo_(bof_ || eof_ ? 0 : source.RecNo()) {
        if (tableSource_ != nullptr) {
            tableSource_->Cancel();
            id_ = tableSource_->CurrentRecordID();
        }
    }
    ~SourcePositionGuard() {
        try {
            Restore();
        } catch (...) {
            // The copy's own outcome matters more than where the source ends up.
        }
    }
    SourcePositionGuard(const SourcePositionGuard&) = delete;
    SourcePositionGuard& operator=(const SourcePositionGuard&) = delete;

private:
    void Restore() {
        if (id_ && tableSource_->GotoRecord(*id_)) return;
        if (recNo_ > 0 && source_.SetRecNo(recNo_)) return;
        if (eof_) {
            source_.Last();
            source_.Next();
            return;
        }
        source_.First();
        source_.Prior();
    }

    TABSLocalCursor& source_;
    TABSTableCursor* tableSource_;
    bool bof_;
    bool eof_;
    std::int64_t recNo_;
    std::optional<TABSRecordID> id_;
};

// Destination column of every source column (nullopt: not copied).
std::vector<std::optional<std::size_t>> MatchColumns(TABSLocalCursor& source, TABSTableCursor& destination,
                                                     bool byFieldId) {
    std::vector<std::optional<std::size_t>> targets(source.ColumnCount());
    auto* tableSource = byFieldId ? dynamic_cast<TABSTableCursor*>(&source) : nullptr;
    const TABSFieldDefs& destinationFields = destination.Table().FieldDefs();
    for (std::size_t i = 0; i < source.ColumnCount(); ++i) {
        if (tableSource != nullptr) {
            const TABSFieldDef& field = tableSource->Table().FieldDefs()[i];
            if (const TABSFieldDef* match = destinationFields.FindByID(field.ObjectID)) {
                targets[i] = static_cast<std::size_t>(match->FieldNo);
            }
            continue;
        }
        targets[i] = destination.FindColumn(source.Column(i).Name);
    }
    return targets;
}

// Rounds halves to the even neighbour, as the engine's other roundings do.
int RoundPosition(double value) { return static_cast<int>(std::nearbyint(value)); }

} // namespace

bool CopyRows(TABSLocalCursor& source, TABSTableCursor& destination, const TABSCopyRowsOptions& options,
              bool& continueCopy, std::string& log) {
    SourcePositionGuard guard(source);
    bool result = true;

    const std::int64_t rowCount = source.RecordCount();
    const int range = options.ProgressMax - options.ProgressMin;
    const std::int64_t step = range == 0 ? 1 : rowCount / range + 1;
    const std::vector<std::optional<std::size_t>> targets =
        MatchColumns(source, destination, options.MatchByFieldID);

    TABSVariant value;
    std::int64_t rowNo = 0;
    for (bool onRow = source.First(); onRow; onRow = source.Next()) {
        ++rowNo;
        destination.Append();
        for (std::size_t i = 0; i < source.ColumnCount(); ++i) {
            const TABSCursorColumn& column = source.Column(i);
            if (column.BaseType == TABSBaseType::bftUnknown) {
                // A source column without a storable type has nothing a table could hold.
                if (!options.IgnoreErrors) {
                    RaiseError(kCopyFieldTypeNotSupportedError,
                               "Error copying table \"%s\". Type of field '%s' is not supported",
                               {options.TableName, column.Name});
                }
                log += FormatMessage("Error copying table \"%s\". Type of field '%s' is not supported\r\n",
                                     {options.TableName, column.Name});
                result = false;
                continue;
            }
            if (!targets[i]) continue;
            try {
                source.GetValue(i, value);
                destination.SetValue(*targets[i], value);
            } catch (const std::exception& e) {
                if (!options.IgnoreErrors) throw;
                log += FormatMessage(
                    "Error copying table \"%s\". Record #%d, field '%s' was copied with Null value due to error: %s\r\n",
                    {options.TableName, rowNo, column.Name, ErrorText(e)});
                destination.SetValue(*targets[i], TABSVariant());
                result = false;
            }
        }
        try {
            destination.Post();
        } catch (const std::exception& e) {
            if (!options.IgnoreErrors) throw;
            log += FormatMessage("Error copying table \"%s\". Record #%d was not imported due to error: %s\r\n\r\n",
                                 {options.TableName, rowNo, ErrorText(e)});
            destination.Cancel();
            result = false;
        }
        if ((rowNo - 1) % step == 0 && options.Progress) {
            const int position =
                options.ProgressMin +
                (rowCount == 0 ? 0 : RoundPosition(static_cast<double>(rowNo) * range / static_cast<double>(rowCount)));
            options.Progress(position, continueCopy);
            if (!continueCopy) {
                log += "Terminated by User.\r\n";
                return false;
            }
        }
    }
    return result;
}

TABSColumnType ColumnTypeForResultColumn(const TABSCursorColumn& column) {
    if (column.FieldType == TFieldType::ftGuid) return TABSColumnType::actGuid;
    switch (column.BaseType) {
        case TABSBaseType::bftChar: return TABSColumnType::actChar;
        case TABSBaseType::bftWideChar: return TABSColumnType::actWideChar;
        case TABSBaseType::bftString: return TABSColumnType::actString;
        case TABSBaseType::bftWideString: return TABSColumnType::actWideString;
        case TABSBaseType::bftShortInt: return TABSColumnType::actShortInt;
        case TABSBaseType::bftSmallInt: return TABSColumnType::actSmallInt;
        case TABSBaseType::bftInteger: return TABSColumnType::actInteger;
        case TABSBaseType::bftLargeInt: return TABSColumnType::actLargeInt;
        case TABSBaseType::bftByte: return TABSColumnType::actByte;
        case TABSBaseType::bftWord: return TABSColumnType::actWord;
        case TABSBaseType::bftCardinal: return TABSColumnType::actCardinal;
        case TABSBaseType::bftSingle: return TABSColumnType::actSingle;
        case TABSBaseType::bftDouble: return TABSColumnType::actDouble;
        case TABSBaseType::bftExtended: return TABSColumnType::actExtended;
        case TABSBaseType::bftDate: return TABSColumnType::actDate;
        case TABSBaseType::bftTime: return TABSColumnType::actTime;
        case TABSBaseType::bftDateTime: return TABSColumnType::actDateTime;
        case TABSBaseType::bftBlob: return TABSColumnType::actBlob;
        case TABSBaseType::bftMemo: return TABSColumnType::actMemo;
        case TABSBaseType::bftWideMemo: return TABSColumnType::actWideMemo;
        case TABSBaseType::bftLogical: return TABSColumnType::actBoolean;
        case TABSBaseType::bftCurrency: return TABSColumnType::actCurrency;
        case TABSBaseType::bftBytes: return TABSColumnType::actBytes;
        case TABSBaseType::bftVarBytes: return TABSColumnType::actVarBytes;
        case TABSBaseType::bftUnknown: break;
    }
    return TABSColumnType::actUnknown;
}

TABSFieldDefs FieldDefsForImport(TABSLocalCursor& source) {
    TABSFieldDefs fields;
    if (auto* table = dynamic_cast<TABSTableCursor*>(&source)) {
        for (const TABSFieldDef& field : table->Table().FieldDefs()) {
            TABSFieldDef copy = field;
            copy.ObjectID = 0;  // the new table numbers its own fields
            copy.FieldNo = -1;
            fields.Add(std::move(copy));
        }
        return fields;
    }
    for (std::size_t i = 0; i < source.ColumnCount(); ++i) {
        const TABSCursorColumn& column = source.Column(i);
        const TABSColumnType type = ColumnTypeForResultColumn(column);
        int size = 0;
        if (ColumnTypeTakesSize(type)) size = column.Size > 0 ? column.Size : kDefaultImportedSize;
        fields.Add(TABSFieldDef(column.Name, type, size));
    }
    return fields;
}

bool ImportTableRows(const TABSTableAccess& access, const TABSTableName& target, TABSLocalCursor& source,
                     const TABSIndexDefs* indexes, std::string& log, const TABSCopyHooks& hooks) {
    const std::size_t logSizeBefore = log.size();

    TABSTableDefinition definition;
    try {
        definition.Fields = FieldDefsForImport(source);
    } catch (const std::exception& e) {
        log += FormatMessage("Error importing table. Cannot create table due to error: %s\r\n", {ErrorText(e)});
        return false;
    }
    if (indexes != nullptr) {
        bool primaryNamed = false;
        for (const TABSIndexDef& index : *indexes) {
            if (index.Columns.empty()) {
                log += FormatMessage("Cannot import index '%s'. Index type is not supported, index skipped\r\n",
                                     {index.Name});
                continue;
            }
            TABSIndexDef copy = index;
            copy.ObjectID = 0;
            copy.RootPageNo = kNoPage;
            copy.Temporary = false;
            if (copy.Name.empty() && !primaryNamed) {
                copy.Name = "idxPrimaryKey";
                primaryNamed = true;
            }
            definition.Indexes.Add(std::move(copy));
        }
    }

    try {
        access.CreateTable(target, std::move(definition));
    } catch (const std::exception& e) {
        log += FormatMessage("Error importing table. Cannot create table due to error: %s\r\n", {ErrorText(e)});
        return false;
    }

    {
        TABSTableCursor destination(access.OpenTable(target), true);
        if (hooks.Before) hooks.Before();
        try {
            TABSCopyRowsOptions options;
            options.TableName = target.name;
            options.Progress = hooks.Progress;
            options.IgnoreErrors = true;
            bool continueCopy = true;
            (void)CopyRows(source, destination, options, continueCopy, log);
        } catch (const std::exception& e) {
            log += FormatMessage("Error importing table. Cannot copy data due to error: %s\r\n", {ErrorText(e)});
        }
        if (hooks.After) hooks.After();
    }
    return log.size() == logSizeBefore;
}

bool ImportTable(const TABSTableAccess& access, const TABSTableName& target, TABSLocalCursor& source,
                 const TABSIndexDefs* indexes, std::string& log) {
    return ImportTableRows(access, target, source, indexes, log, {});
}

// ---------------------------------------------------------------------------------------------
// Table copies and restructuring

namespace {

constexpr std::uint32_t kTemporaryNameRange = 1000000;

// A failure of a whole-table step: raised, or with errors ignored one line of the log.
bool FailStep(bool ignoreErrors, int code, std::string_view format, std::initializer_list<FormatArg> args,
              std::string& log) {
    if (!ignoreErrors) RaiseError(code, format, args);
    log += FormatMessage(format, args);
    log += "\r\n";
    return false;
}

[[nodiscard]] bool IsValueConstraint(const TABSConstraintDef& constraint) noexcept {
    return constraint.Kind() == TABSConstraintKind::NotNull || constraint.Kind() == TABSConstraintKind::Check;
}

// A copied table starts its auto-increment counters where the original stands, so that the next
// row it numbers does not repeat a value the copied rows already carry. The counter lives in the
// table's state, which a new table takes from the fields' initial values.
void CarryAutoincCounters(TABSTableData& table, TABSSessionID session, TABSFieldDefs& fields) {
    for (TABSFieldDef& field : fields) {
        if (!field.IsAutoInc()) continue;
        const TABSFieldDef* original = table.FieldDefs().FindByID(field.ObjectID);
        if (original == nullptr || !original->IsAutoInc()) continue;
        try {
            const std::int64_t step = original->AutoincIncrement == 0 ? 1 : original->AutoincIncrement;
            const std::int64_t current = table.NextAutoincValue(session, original->FieldNo) - step;
            field.AutoincInitialValue = std::max(field.AutoincInitialValue, current);
        } catch (const EABSError&) {
            // A counter at its end has no next value; the copy keeps the definition as it is.
        }
    }
}

// What a table definition must look like before it is created anew: persistent indexes only and
// without pages or ids of the old table; unique and primary constraints are made from the indexes.
void PrepareForCreation(TABSTableDefinition& definition) {
    TABSIndexDefs indexes;
    for (const TABSIndexDef& index : definition.Indexes) {
        if (index.Temporary) continue;
        TABSIndexDef copy = index;
        copy.ObjectID = 0;
        copy.RootPageNo = kNoPage;
        indexes.Add(std::move(copy));
    }
    definition.Indexes = std::move(indexes);
    TABSConstraintDefs constraints;
    for (std::size_t i = 0; i < definition.Constraints.Count(); ++i) {
        if (!IsValueConstraint(definition.Constraints[i])) continue;
        std::unique_ptr<TABSConstraintDef> copy = definition.Constraints[i].Clone();
        copy->ObjectID = 0;
        (void)constraints.AddLoaded(std::move(copy));
    }
    definition.Constraints = std::move(constraints);
    for (TABSFieldDef& field : definition.Fields) field.FieldNo = -1;
    definition.RecordPageIndexRoot = kNoPage;
    definition.BlobPageIndexRoot = kNoPage;
}

// New fields (id 0) get ids above every id of the old and the new fields, so that none of them
// takes the values of an old field that happens to be dropped at the same time.
void NumberNewFields(TABSFieldDefs& fields, const TABSFieldDefs& oldFields) {
    std::int32_t next = 1;
    for (const TABSFieldDef& field : oldFields) next = std::max(next, field.ObjectID + 1);
    for (const TABSFieldDef& field : fields) next = std::max(next, field.ObjectID + 1);
    for (TABSFieldDef& field : fields) {
        if (field.ObjectID == 0) field.ObjectID = next++;
    }
}

// Copies the rows of the table moved aside into the new one, by field id. Raises what the copy
// raises; false when the progress handler stopped it.
bool CopyRowsByFieldID(const TABSTableAccess& access, const TABSTableName& newTable, const TABSTableName& oldTable,
                       const TABSCopyHooks& hooks, std::string& log) {
    TABSTableCursor destination(access.OpenTable(newTable), true);
    TABSTableCursor source(access.OpenTable(oldTable), false);
    if (hooks.Before) hooks.Before();
    bool copied = false;
    try {
        TABSCopyRowsOptions options;
        options.TableName = newTable.name;
        options.ProgressMin = 0;
        options.ProgressMax = 99;
        options.Progress = hooks.Progress;
        options.MatchByFieldID = true;
        options.IgnoreErrors = false;
        bool continueCopy = true;
        copied = CopyRows(source, destination, options, continueCopy, log);
    } catch (...) {
        if (hooks.After) hooks.After();
        throw;
    }
    if (hooks.After) hooks.After();
    return copied;
}

} // namespace

TABSTableDefinition CopyDefinitionOf(const TABSTableData& table, bool withIndexes) {
    TABSTableDefinition definition;
    for (const TABSFieldDef& field : table.FieldDefs()) definition.Fields.Add(field);
    definition.Constraints = table.ConstraintDefs();
    if (withIndexes) definition.Indexes = table.IndexDefs();
    PrepareForCreation(definition);
    return definition;
}

bool CopyTableInto(TABSTableCursor& source, const std::string& sourceFileName, const TABSCopyDestination& destination,
                   const TABSCopyTableOptions& options, const TABSCopyHooks& hooks, bool& continueCopy,
                   std::string& log) {
    const std::string sourceName = source.Table().TableName();
    const TABSTableName& target = destination.Table;
    const bool ignore = options.IgnoreErrors;
    if (SameObjectName(destination.FileName, sourceFileName) && SameObjectName(target.name, sourceName)) {
        return FailStep(ignore, kCopyIntoItselfError, "Cannot copy table '%s.%s' into it self",
                        {sourceFileName, sourceName}, log);
    }
    TABSTableDefinition definition = CopyDefinitionOf(source.Table(), options.CopyIndexes);
    CarryAutoincCounters(source.Table(), source.Session(), definition.Fields);

    if (hooks.Before) hooks.Before();
    bool result = false;
    try {
        result = [&]() -> bool {
            const auto createFailed = [&](const std::string& reason) {
                return FailStep(ignore, kCopyCreateTableError, "Create table '%s.%s' error: '%s'",
                                {destination.FileName, target.name, reason}, log);
            };
            if (destination.Access == nullptr) return createFailed(destination.ConnectError);
            const TABSTableAccess& access = *destination.Access;
            if (access.TableExists(target)) {
                if (!options.Overwrite) {
                    const bool memory = target.memory || SameObjectName(destination.FileName, kCopyToMemory);
                    return FailStep(ignore, memory ? kCopyMemoryTargetExistsError : kCopyTargetExistsError,
                                    "Table '%s.%s' already exists", {destination.FileName, target.name}, log);
                }
                try {
                    access.DropTable(target);
                } catch (const EABSError& e) {
                    // The old table stays in the way of the new one: that is why the creation fails.
                    return createFailed(e.what());
                }
            }
            try {
                access.CreateTable(target, std::move(definition));
            } catch (const EABSError& e) {
                return createFailed(e.what());
            }
            TABSTableCursor rows(access.OpenTable(target), true);
            TABSCopyRowsOptions rowOptions;
            rowOptions.TableName = sourceName;
            rowOptions.ProgressMax = options.ProgressMax;
            rowOptions.ProgressMin = options.ProgressMin;
            rowOptions.Progress = hooks.Progress;
            rowOptions.IgnoreErrors = ignore;
            const bool copied = CopyRows(source, rows, rowOptions, continueCopy, log);
            // Rows lost to ignored errors are in the log; only a stop makes the copy a failure.
            return copied || continueCopy;
        }();
    } catch (...) {
        if (hooks.After) hooks.After();
        throw;
    }
    if (hooks.After) hooks.After();
    return result;
}

TABSConstraintDefs CarriedValueConstraints(const TABSFieldDefs& oldFields, const TABSConstraintDefs& constraints,
                                           const TABSFieldDefs& newFields) {
    TABSConstraintDefs carried;
    for (std::size_t i = 0; i < constraints.Count(); ++i) {
        if (!IsValueConstraint(constraints[i])) continue;
        const auto& valueConstraint = static_cast<const TABSConstraintDefNotNull&>(constraints[i]);
        const TABSFieldDef* oldField = oldFields.Find(valueConstraint.FieldName());
        if (oldField == nullptr) continue;
        const TABSFieldDef* newField = newFields.FindByID(oldField->ObjectID);
        if (newField == nullptr) continue;
        std::unique_ptr<TABSConstraintDef> copy = valueConstraint.Clone();
        static_cast<TABSConstraintDefNotNull&>(*copy).SetFieldName(newField->Name);
        (void)carried.AddLoaded(std::move(copy));
    }
    return carried;
}

bool RestructureStoredTable(const TABSTableAccess& access, const TABSTableName& table, TABSTableDefinition definition,
                            const TABSCopyHooks& hooks, std::string& log) {
    // Creating a table cannot be part of a transaction, and the rebuild is not undone by one.
    if (access.InTransaction()) {
        RaiseError(kRestructureInTransactionError, "Cannot perform '%s' operation on a database in transaction",
                   {"RestructureTable"});
    }
    TABSTableName former = table;
    {
        TABSTableHandle handle = access.OpenTable(table);
        former.name = handle->TableName();  // the stored spelling comes back after the rebuild
        NumberNewFields(definition.Fields, handle->FieldDefs());
        CarryAutoincCounters(*handle, handle.Session(), definition.Fields);
    }
    PrepareForCreation(definition);

    TABSTableName aside = former;
    do {
        aside.name = "OLD_" + former.name + "_" + std::to_string(TABSTableAccess::Random(kTemporaryNameRange));
    } while (access.TableExists(aside));
    access.RenameTable(former, aside.name);

    // The old table back under its name; whatever was made under that name goes first.
    const auto putBack = [&] {
        if (access.TableExists(former)) access.DropTable(former);
        access.RenameTable(aside, former.name);
    };

    try {
        access.CreateTable(former, std::move(definition));
    } catch (const EABSError& e) {
        log += FormatMessage("Error restructuring table. Cannot create table due to error: %s\r\n", {e.what()});
        putBack();
        return false;
    }

    bool copied = false;
    try {
        copied = CopyRowsByFieldID(access, former, aside, hooks, log);
    } catch (const EABSError& e) {
        log += FormatMessage("Error restructuring table. Cannot copy data due to error: %s\r\n", {e.what()});
    } catch (...) {
        putBack();
        throw;
    }
    if (!copied) {
        putBack();
        return false;
    }

    try {
        access.DropTable(aside);
    } catch (const EABSError& e) {
        log += FormatMessage("Error restructuring table. Cannot delete table due to error: %s\r\n", {e.what()});
        return false;
    }
    return true;
}

} // namespace kova
