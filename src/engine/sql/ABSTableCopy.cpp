#include "engine/sql/ABSTableCopy.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSStatementExecution.h"

#include <cmath>
#include <exception>
#include <optional>
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
                     const TABSIndexDefs* indexes, std::string& log, const TABSImportHooks& hooks) {
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

} // namespace kova
