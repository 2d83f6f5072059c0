// The table-data interface between storage and the SQL layer, free of SQL.
//
//   TABSBaseRecordManager  the records of one table: insert, update, delete, read, physical order,
//                          record numbers and positions. Disk tables (ABSDiskTableData.h), in-memory
//                          and temporary tables each have their own.
//   TABSTableData          a table open in a process, shared by every cursor on it: definitions,
//                          record operations with everything that follows a record change
//                          (auto-increment, defaults, constraints, indexes, BLOB values), the
//                          table's lock. Record buffers are memory records (ABSFieldDefs.h).
//   TABSTableHandle        one cursor's hold on an open table; closing it (or destroying it)
//                          closes the cursor, and the last cursor drops the table's objects.
//
// Every operation names the session whose page set receives the changes. Failures raise
// EABSException; nothing a failed operation began stays in the table.
#pragma once

#include "engine/storage/ABSConstraintDefs.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSPage.h"
#include "engine/storage/ABSRecordID.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kova {

class TABSBaseBlobManager;
class TABSBaseIndexManager;

inline constexpr int kNoFieldsError = 20128;              // "Error creating table - no fields were specified"
inline constexpr int kAutoincMaxExceededError = 20160;    // "Autoinc max value exceeded for field '%s'"
inline constexpr int kRecNoBeyondCountError = 20075;      // "Cannot set RecNo greater than RecordCount"
inline constexpr int kBlobBlockSizeError = 10421;         // "BLOB block size should be > 0 for field %s"

// The records of one table. Record buffers are memory records of the table's field definitions.
// Record numbers are 1-based positions in physical order; record positions (0 … PositionCount-1)
// index filter bitmaps and need not be dense.
class TABSBaseRecordManager {
public:
    virtual ~TABSBaseRecordManager() = default;

    [[nodiscard]] virtual std::uint64_t RecordCount(TABSSessionID session) = 0;
    [[nodiscard]] virtual std::int32_t ChangeCounter(TABSSessionID session) = 0;

    // Stores the record and returns its identifier.
    [[nodiscard]] virtual TABSRecordID InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record) = 0;
    // Overwrite / remove a stored record. False when the kind of table does not take the change
    // (temporary tables); raises when the record is missing.
    [[nodiscard]] virtual bool UpdateRecord(TABSSessionID session, const TABSRecordID& id,
                                            std::span<const std::uint8_t> record) = 0;
    [[nodiscard]] virtual bool DeleteRecord(TABSSessionID session, const TABSRecordID& id) = 0;
    // Copies a stored record into `record`; false when no record is there.
    [[nodiscard]] virtual bool ReadRecord(TABSSessionID session, const TABSRecordID& id,
                                          std::span<std::uint8_t> record) = 0;

    // Physical order; nothing at the end. Next/Prior step from `id`, which need not exist anymore.
    [[nodiscard]] virtual std::optional<TABSRecordID> FirstRecord(TABSSessionID session) = 0;
    [[nodiscard]] virtual std::optional<TABSRecordID> LastRecord(TABSSessionID session) = 0;
    [[nodiscard]] virtual std::optional<TABSRecordID> NextRecord(TABSSessionID session, const TABSRecordID& id) = 0;
    [[nodiscard]] virtual std::optional<TABSRecordID> PriorRecord(TABSSessionID session, const TABSRecordID& id) = 0;

    // 1-based record numbers: the record at `recNo` (nothing beyond the record count) and the number
    // of a stored record (0 when it is not stored).
    [[nodiscard]] virtual std::optional<TABSRecordID> RecordAtNumber(TABSSessionID session, std::uint64_t recNo) = 0;
    [[nodiscard]] virtual std::uint64_t RecordNumberOf(TABSSessionID session, const TABSRecordID& id) = 0;

    [[nodiscard]] virtual std::uint64_t RecordPosition(const TABSRecordID& id) const = 0;
    [[nodiscard]] virtual TABSRecordID RecordIDAtPosition(std::uint64_t position) const = 0;
    [[nodiscard]] virtual std::uint64_t PositionCount(TABSSessionID session) = 0;
    // The number of records an index search may take as already passed (index choice): half the
    // records unless a kind knows better.
    [[nodiscard]] virtual std::uint64_t PassedRecordsEstimate(TABSSessionID session) { return RecordCount(session) / 2; }

    // Removes every record.
    virtual void Empty(TABSSessionID session) = 0;
};

class TABSTableData;

// One cursor's hold on an open table. Move-only; destroying it closes the cursor.
class TABSTableHandle {
public:
    TABSTableHandle() noexcept = default;
    TABSTableHandle(std::shared_ptr<TABSTableData> table, TABSSessionID session, bool exclusive) noexcept;
    TABSTableHandle(TABSTableHandle&& other) noexcept;
    TABSTableHandle& operator=(TABSTableHandle&& other) noexcept;
    TABSTableHandle(const TABSTableHandle&) = delete;
    TABSTableHandle& operator=(const TABSTableHandle&) = delete;
    ~TABSTableHandle();

    [[nodiscard]] explicit operator bool() const noexcept { return table_ != nullptr; }
    // REQUIRES: a non-empty handle.
    [[nodiscard]] TABSTableData& Table() const noexcept { return *table_; }
    [[nodiscard]] TABSTableData* operator->() const noexcept { return table_.get(); }
    [[nodiscard]] TABSTableData& operator*() const noexcept { return *table_; }
    [[nodiscard]] TABSSessionID Session() const noexcept { return session_; }
    [[nodiscard]] bool Exclusive() const noexcept { return exclusive_; }
    // Closes the cursor now; the handle becomes empty.
    void Close() noexcept;

private:
    std::shared_ptr<TABSTableData> table_;
    TABSSessionID session_ = kInvalidSessionID;
    bool exclusive_ = false;
};

class TABSTableData : public std::enable_shared_from_this<TABSTableData> {
public:
    TABSTableData(std::string name, std::int32_t tableId);
    virtual ~TABSTableData();
    TABSTableData(const TABSTableData&) = delete;
    TABSTableData& operator=(const TABSTableData&) = delete;

    [[nodiscard]] const std::string& TableName() const noexcept { return name_; }
    [[nodiscard]] std::int32_t TableID() const noexcept { return tableId_; }
    [[nodiscard]] const TABSFieldDefs& FieldDefs() const noexcept { return fields_; }
    [[nodiscard]] const TABSIndexDefs& IndexDefs() const noexcept { return indexes_; }
    [[nodiscard]] const TABSConstraintDefs& ConstraintDefs() const noexcept { return constraints_; }
    // Bytes of a memory record buffer, and a new one with every field null.
    [[nodiscard]] std::size_t RecordBufferSize() const noexcept { return fields_.MemoryRecordSize(); }
    [[nodiscard]] std::vector<std::uint8_t> NewRecordBuffer() const { return fields_.NewRecord(); }

    // The table's own lock; every operation below holds it, callers may hold it around several.
    [[nodiscard]] std::recursive_mutex& Mutex() const noexcept { return mutex_; }

    // ---- Records ----
    // Inserts a record: fills auto-increment fields whose value is null (the buffer receives the
    // values), checks constraints and unique indexes, posts BLOB values (the buffer receives their
    // references), stores the record and its index entries. Returns its identifier.
    [[nodiscard]] virtual TABSRecordID InsertRecord(TABSSessionID session, std::span<std::uint8_t> record) = 0;
    // Replaces a stored record (constraints checked, index entries and BLOB values follow).
    virtual void UpdateRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) = 0;
    // Deletes a stored record with its index entries and BLOB values.
    virtual void DeleteRecord(TABSSessionID session, const TABSRecordID& id) = 0;
    // Reads a stored record; raises 20143/20144 "Record not found" when it is not there.
    virtual void ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) = 0;

    [[nodiscard]] virtual std::optional<TABSRecordID> FirstRecord(TABSSessionID session) = 0;
    [[nodiscard]] virtual std::optional<TABSRecordID> LastRecord(TABSSessionID session) = 0;
    [[nodiscard]] virtual std::optional<TABSRecordID> NextRecord(TABSSessionID session, const TABSRecordID& id) = 0;
    [[nodiscard]] virtual std::optional<TABSRecordID> PriorRecord(TABSSessionID session, const TABSRecordID& id) = 0;
    [[nodiscard]] virtual std::uint64_t RecordCount(TABSSessionID session) = 0;
    // 1-based; raises 20075 "Cannot set RecNo greater than RecordCount" beyond the count.
    [[nodiscard]] virtual TABSRecordID RecordAtNumber(TABSSessionID session, std::uint64_t recNo) = 0;
    [[nodiscard]] virtual std::uint64_t RecordNumberOf(TABSSessionID session, const TABSRecordID& id) = 0;
    [[nodiscard]] virtual std::int32_t ChangeCounter(TABSSessionID session) = 0;

    // The value the next insert gives an auto-increment field (nothing is consumed).
    [[nodiscard]] virtual std::int64_t NextAutoincValue(TABSSessionID session, int fieldNo) = 0;
    // Sets every null field that has a default to its default (a text "NOW" default of a date,
    // time or date-time field to the current time).
    void ApplyDefaults(std::span<std::uint8_t> record) const;

    // Removes every record, index entry and BLOB value.
    virtual void EmptyTable(TABSSessionID session) = 0;

    // BLOB values of the table (nullptr when it has no BLOB field) and its indexes.
    [[nodiscard]] virtual TABSBaseBlobManager* BlobManager() noexcept = 0;
    [[nodiscard]] virtual TABSBaseRecordManager& RecordManager() noexcept = 0;
    // A cursor drops its record buffer: frees cached BLOB values (unposted ones only with `force`).
    void ReleaseRecordBuffer(std::span<std::uint8_t> record, bool force);

    // ---- BLOB values of a record buffer, under the table's lock (ABSBlob.h) ----
    // Raise 20292 "Field %d is not a BLOB field" for other fields.
    [[nodiscard]] virtual std::unique_ptr<TABSBlobStream> OpenBlobStream(TABSSessionID session,
                                                                         std::span<std::uint8_t> record, int fieldNo,
                                                                         TABSBlobOpenMode mode);
    virtual void StoreBlobStream(TABSSessionID session, std::span<std::uint8_t> record, TABSBlobStream& stream);
    [[nodiscard]] virtual TABSRawBlob GetBlobRaw(TABSSessionID session, std::span<std::uint8_t> record, int fieldNo);
    virtual void SetBlobRaw(TABSSessionID session, std::span<std::uint8_t> record, int fieldNo, const TABSRawBlob& raw);

    // ---- Cursors ----
    [[nodiscard]] std::size_t CursorCount() const;
    [[nodiscard]] bool IsOpenExclusively() const;

protected:
    friend class TABSTableHandle;
    // Called by a handle going away; kinds release their locks and drop their objects when the
    // last cursor closes.
    virtual void CloseCursor(TABSSessionID session, bool exclusive) noexcept = 0;
    void RegisterCursor(bool exclusive);
    // Returns the number of cursors left.
    std::size_t UnregisterCursor(bool exclusive) noexcept;

    // The BLOB manager for a call on `fieldNo`; 20292 when the table has none.
    [[nodiscard]] TABSBaseBlobManager& RequireBlobManager(int fieldNo);

    // Helpers shared by every kind of table.
    // The value an auto-increment field gets after `current`: current + step (1 for step 0);
    // past the field's maximum (or its storage type's range) it restarts at the minimum when the
    // field cycles, else raises 20160.
    [[nodiscard]] static std::int64_t AdvanceAutoinc(const TABSFieldDef& field, std::int64_t current);
    // Not-null and check constraints (unique ones need the indexes). `updating` picks the not-null
    // error code (30026 instead of 30330).
    void CheckValueConstraints(std::span<const std::uint8_t> record, bool updating) const;

    std::string name_;
    std::int32_t tableId_;
    TABSFieldDefs fields_;
    TABSIndexDefs indexes_;
    TABSConstraintDefs constraints_;

private:
    mutable std::recursive_mutex mutex_;
    std::size_t cursors_ = 0;
    std::size_t exclusiveCursors_ = 0;
};

} // namespace kova
