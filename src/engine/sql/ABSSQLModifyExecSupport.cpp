#include "engine/sql/ABSSQLModifyExec.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/FormatSettings.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace kova {

namespace {

std::mutex& SleeperMutex() {
    static std::mutex mutex;
    return mutex;
}

TABSModifySleeper& InstalledSleeper() {
    static TABSModifySleeper sleeper;
    return sleeper;
}

// The first `count` characters of a UTF-8 text (a character is a lead byte with its
// continuation bytes), so that a cut never splits one.
std::string FirstCharacters(const std::string& text, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            if (characters == count) return text.substr(0, i);
            ++characters;
        }
    }
    return text;
}

[[nodiscard]] bool TakesValueAsInteger(TABSColumnType type) noexcept {
    return type == TABSColumnType::actInteger || type == TABSColumnType::actAutoInc ||
           type == TABSColumnType::actAutoIncInteger;
}

[[nodiscard]] bool TakesValueAsDateTime(TABSColumnType type) noexcept {
    return type == TABSColumnType::actDate || type == TABSColumnType::actTime ||
           type == TABSColumnType::actDateTime || type == TABSColumnType::actTimeStamp;
}

// A text read as a float the way a dataset field reads it: with the process's decimal separator
// (unlike CAST and comparisons, which always read ".").
long double TextToFloat(const std::string& text) {
    const char separator = GetFormatSettings()->DecimalSeparator;
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    std::size_t first = 0;
    while (first < trimmed.size() && trimmed[first] == ' ') ++first;
    trimmed.erase(0, first);
    const std::optional<long double> value = TryTextToFloat(trimmed, separator);
    if (!value) RaiseError(sqlerr::kConvertError, sqlerr::kInvalidFloatMsg, {text});
    return *value;
}

} // namespace

TABSModifySleeper SetModifySleeper(TABSModifySleeper sleeper) {
    std::lock_guard lock(SleeperMutex());
    TABSModifySleeper previous = std::move(InstalledSleeper());
    InstalledSleeper() = std::move(sleeper);
    return previous;
}

void ModifySleep(int milliseconds) {
    TABSModifySleeper sleeper;
    {
        std::lock_guard lock(SleeperMutex());
        sleeper = InstalledSleeper();
    }
    if (sleeper) {
        sleeper(milliseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

// ---------------------------------------------------------------------------------------------
// Column values

void WriteColumnValue(TABSTableData& table, TABSSessionID session, std::span<std::uint8_t> record,
                      std::size_t fieldNo, const TABSVariant& value) {
    const TABSFieldDef& field = table.FieldDefs()[fieldNo];
    if (value.IsNull() || field.IsBlob()) {
        WriteFieldValue(table, session, record, fieldNo, value.IsNull() ? TABSVariant(field.StorageType) : value);
        return;
    }
    TABSVariant converted;
    if (TakesValueAsInteger(field.ColumnType)) {
        converted.SetAsInteger(value.GetAsInteger());
    } else if (field.ColumnType == TABSColumnType::actLargeInt) {
        converted.SetAsLargeInt(value.GetAsLargeInt());
    } else if (TakesValueAsDateTime(field.ColumnType)) {
        converted.SetAsDateTime(value.GetAsDateTime());
    } else if (IsFloatType(field.StorageType) && IsTextType(value.BaseType())) {
        converted.SetAsExtended(TextToFloat(value.GetAsString()));
    } else if (IsAnsiTextType(field.StorageType) && field.Size > 0) {
        converted.SetAsString(FirstCharacters(value.GetAsString(), static_cast<std::size_t>(field.Size)),
                              TABSBaseType::bftString);
    } else if (IsWideTextType(field.StorageType) && field.Size > 0) {
        std::u16string text = value.GetAsWideString();
        if (text.size() > static_cast<std::size_t>(field.Size)) text.resize(static_cast<std::size_t>(field.Size));
        converted.SetAsWideString(text, TABSBaseType::bftWideString);
    } else {
        converted = value;
    }
    WriteFieldValue(table, session, record, fieldNo, converted);
}

std::vector<TABSVariant> ReadRecordValues(TABSTableData& table, TABSSessionID session, std::span<std::uint8_t> record) {
    std::vector<TABSVariant> values;
    values.reserve(table.FieldDefs().Count());
    for (std::size_t i = 0; i < table.FieldDefs().Count(); ++i) values.push_back(ReadFieldValue(table, session, record, i));
    return values;
}

// ---------------------------------------------------------------------------------------------
// TABSStatementWriteLock

TABSStatementWriteLock::TABSStatementWriteLock(const TABSExecutionContext& context, TABSTableData& table,
                                               int errorCode) {
    auto* disk = dynamic_cast<TABSDiskTableData*>(&table);
    if (disk == nullptr || context.Tables == nullptr || !context.Tables->Database().IsMultiUser()) return;
    TABSDiskDatabaseData& database = context.Tables->Database();
    for (int attempt = 1; attempt <= kWriteLockAttempts; ++attempt) {
        if (database.LockTable(context.SessionID, table.TableID(), kTableLockWriteIntent, 1)) {
            tables_ = context.Tables;
            session_ = context.SessionID;
            tableId_ = table.TableID();
            return;
        }
        // Whoever holds the table is changing it: what this session cached of it is stale.
        context.Tables->StateCache().Invalidate(context.SessionID, table.TableID());
        ModifySleep(kWriteLockPauseMilliseconds);
    }
    RaiseError(errorCode, "Table is locked");
}

TABSStatementWriteLock::~TABSStatementWriteLock() {
    if (tables_ != nullptr) (void)tables_->Database().UnlockTable(session_, tableId_, kTableLockWriteIntent);
}

// ---------------------------------------------------------------------------------------------
// TABSStatementBatch

TABSStatementBatch::TABSStatementBatch(const TABSTableAccess& access, TABSTableHandle& table)
    : access_(&access), table_(&table) {
    if (dynamic_cast<TABSDiskTableData*>(&table.Table()) != nullptr) {
        if (!access.InTransaction()) {
            access.StartTransaction();
            ownTransaction_ = true;
        }
    } else {
        journaling_ = true;
    }
}

TABSStatementBatch::~TABSStatementBatch() {
    if (open_) Undo();
}

void TABSStatementBatch::Inserted(const TABSRecordID& id) {
    if (journaling_) journal_.push_back(JournalEntry{JournalEntry::Kind::Insert, id, {}});
}

void TABSStatementBatch::Updating(const TABSRecordID& id, std::span<std::uint8_t> oldRecord) {
    if (journaling_) {
        journal_.push_back(JournalEntry{JournalEntry::Kind::Update, id,
                                        ReadRecordValues(table_->Table(), table_->Session(), oldRecord)});
    }
}

void TABSStatementBatch::Deleting(std::span<std::uint8_t> oldRecord) {
    if (journaling_) {
        journal_.push_back(JournalEntry{JournalEntry::Kind::Delete, TABSRecordID{},
                                        ReadRecordValues(table_->Table(), table_->Session(), oldRecord)});
    }
}

void TABSStatementBatch::Commit() {
    if (!open_) return;
    open_ = false;
    journal_.clear();
    if (ownTransaction_) {
        try {
            access_->Commit(false);
        } catch (...) {
            // A commit that fails leaves the pages uncommitted: take them back before reporting.
            try {
                access_->Rollback();
            } catch (...) {
            }
            throw;
        }
    }
}

void TABSStatementBatch::Undo() noexcept {
    if (!open_) return;
    open_ = false;
    if (ownTransaction_) {
        try {
            access_->Rollback();
        } catch (...) {
            // nothing left to try: the session's pages stay as the storage left them
        }
        return;
    }
    TABSTableData& table = table_->Table();
    const TABSSessionID session = table_->Session();
    for (auto entry = journal_.rbegin(); entry != journal_.rend(); ++entry) {
        // Each step is taken back on its own, so one that fails does not keep the others.
        try {
            std::vector<std::uint8_t> record = table.NewRecordBuffer();
            switch (entry->kind) {
                case JournalEntry::Kind::Insert:
                    table.DeleteRecord(session, entry->id);
                    break;
                case JournalEntry::Kind::Update:
                    table.ReadRecord(session, entry->id, record);
                    for (std::size_t i = 0; i < entry->values.size(); ++i) {
                        WriteFieldValue(table, session, record, i, entry->values[i]);
                    }
                    table.UpdateRecord(session, entry->id, record);
                    break;
                case JournalEntry::Kind::Delete:
                    for (std::size_t i = 0; i < entry->values.size(); ++i) {
                        WriteFieldValue(table, session, record, i, entry->values[i]);
                    }
                    (void)table.InsertRecord(session, record);
                    break;
            }
            table.ReleaseRecordBuffer(record, true);
        } catch (...) {
        }
    }
    journal_.clear();
}

} // namespace kova
