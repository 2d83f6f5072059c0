// The pieces INSERT, UPDATE and DELETE share: writing a statement's value into a column, the
// write lock a statement holds on its table, and the storage batch that makes a statement's
// changes all-or-nothing.
//
//   WriteColumnValue        a value into a record the way a dataset field takes it: by the
//                           column's kind, texts cut to the column's size, floats read with the
//                           process's decimal separator.
//   TABSStatementWriteLock  keeps other connections from changing the table while a statement
//                           runs (multi-user files only; 1125 tries 80 ms apart).
//   TABSStatementBatch      one unit of change: the connection's transaction on a database file
//                           (unless one is already open, which then decides), an undo journal on
//                           the MEMORY / TEMP tables, which have no transactions.
//
// Waiting goes through one process-wide sleeper so that tests can count and skip the pauses.
#pragma once

#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/storage/ABSBaseEngine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kova {

inline constexpr int kParameterValueUndefinedError = 30356;   // "Parameter Value undefined (FieldName='%s', Type='%s')"
inline constexpr int kTableLockedForChangeError = 20223;      // "Table is locked" (UPDATE, DELETE)
inline constexpr int kTableLockedForInsertSelectError = 20224;  // "Table is locked" (INSERT ... SELECT)

inline constexpr int kWriteLockAttempts = 1125;
inline constexpr int kWriteLockPauseMilliseconds = 80;
inline constexpr int kUpdateAttempts = 15;
inline constexpr int kUpdateRetryPauseMilliseconds = 100;

using TABSModifySleeper = std::function<void(int milliseconds)>;
// Installs the sleeper of data modification (empty: a real sleep); returns the one before.
TABSModifySleeper SetModifySleeper(TABSModifySleeper sleeper);
void ModifySleep(int milliseconds);

// Writes `value` into field `fieldNo` of a memory record of `table`, as INSERT and UPDATE do:
// null (and the empty text) clears the field; Integer columns take the value as a 32-bit
// integer, LargeInt columns as a 64-bit one, date and time columns as a date-time, BLOB columns
// as their contents; float columns read a text with the process's decimal separator; text
// columns keep at most their declared number of characters; the rest converts as the value's
// type says. Conversion errors leave the record unchanged.
void WriteColumnValue(TABSTableData& table, TABSSessionID session, std::span<std::uint8_t> record,
                      std::size_t fieldNo, const TABSVariant& value);

// Every field value of a stored record (BLOB contents included).
[[nodiscard]] std::vector<TABSVariant> ReadRecordValues(TABSTableData& table, TABSSessionID session,
                                                        std::span<std::uint8_t> record);

class TABSStatementWriteLock {
public:
    // Takes the lock or raises `errorCode` "Table is locked" when every try failed. Tables of
    // the pseudo databases and single-user files need no lock.
    TABSStatementWriteLock(const TABSExecutionContext& context, TABSTableData& table, int errorCode);
    ~TABSStatementWriteLock();
    TABSStatementWriteLock(const TABSStatementWriteLock&) = delete;
    TABSStatementWriteLock& operator=(const TABSStatementWriteLock&) = delete;

private:
    TABSDiskDatabaseTables* tables_ = nullptr;
    TABSSessionID session_ = kInvalidSessionID;
    std::int32_t tableId_ = 0;
};

class TABSStatementBatch {
public:
    // Begins the batch for changes of `table` (opened through `access`).
    TABSStatementBatch(const TABSTableAccess& access, TABSTableHandle& table);
    // Undoes whatever was not committed.
    ~TABSStatementBatch();
    TABSStatementBatch(const TABSStatementBatch&) = delete;
    TABSStatementBatch& operator=(const TABSStatementBatch&) = delete;

    // What the journal needs before each change (ignored where a transaction does the work).
    void Inserted(const TABSRecordID& id);
    void Updating(const TABSRecordID& id, std::span<std::uint8_t> oldRecord);
    void Deleting(std::span<std::uint8_t> oldRecord);

    void Commit();
    // Takes back every change of the batch; never raises.
    void Undo() noexcept;

private:
    struct JournalEntry {
        enum class Kind : std::uint8_t { Insert, Update, Delete } kind;
        TABSRecordID id;
        std::vector<TABSVariant> values;
    };

    const TABSTableAccess* access_;
    TABSTableHandle* table_;
    bool ownTransaction_ = false;  // the batch is the connection's transaction
    bool journaling_ = false;      // the batch keeps an undo journal
    bool open_ = true;
    std::vector<JournalEntry> journal_;
};

} // namespace kova
