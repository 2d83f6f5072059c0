// Tables of the two pseudo databases: in-memory tables (MEMORY) and temporary result tables
// (TEMP). They share the table machinery of database files (field, index and constraint
// definitions, the record layout, the B+ trees) but keep records, index pages and BLOB values in
// memory or temporary files (ABSMemEngine.h, ABSTempEngine.h), and have no definition or state
// file, no encryption and no locks between processes.
//
//   TABSPseudoTableData     what both kinds share: auto-increment counters, constraints, unique
//                           checks, index maintenance, BLOB posting; every change completes the
//                           page manager's session at once (there are no transactions).
//   TABSMemoryTableData     an in-memory table; takes every change.
//   TABSTemporaryTableData  a temporary table; takes inserts only (updates and deletes raise
//                           the record-level errors -9 and -10 and change nothing).
//
// Every operation holds the table's lock.
#pragma once

#include "engine/storage/ABSBTreeRecordIndex.h"
#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSIndexManager.h"
#include "engine/storage/ABSMemEngine.h"
#include "engine/storage/ABSTableDefinition.h"
#include "engine/storage/ABSTempEngine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kova {

inline constexpr int kMemoryTableNoFieldsError = 10025;     // "Error creating table - no fields were specified"
inline constexpr int kTemporaryTableNoFieldsError = 10132;  // "Error creating table - no fields were specified"
inline constexpr int kUnsupportedConstraintError = 30040;   // "Not implemented yet"
inline constexpr int kMemoryTableRecordError = 10019;       // "Error retreiving record"

// The BLOB fields of a field list, as BLOB storage sees them.
[[nodiscard]] std::vector<TABSBlobFieldInfo> BlobFieldInfos(const TABSFieldDefs& fields);

class TABSPseudoTableData : public TABSTableData {
public:
    ~TABSPseudoTableData() override;

    [[nodiscard]] TABSRecordID InsertRecord(TABSSessionID session, std::span<std::uint8_t> record) override;
    void UpdateRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;
    void DeleteRecord(TABSSessionID session, const TABSRecordID& id) override;
    // Raises 10019 (in-memory) / 10127 (temporary) "Error retreiving record" when `id` holds none.
    void ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;

    [[nodiscard]] std::optional<TABSRecordID> FirstRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> LastRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> NextRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::optional<TABSRecordID> PriorRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::uint64_t RecordCount(TABSSessionID session) override;
    [[nodiscard]] TABSRecordID RecordAtNumber(TABSSessionID session, std::uint64_t recNo) override;
    [[nodiscard]] std::uint64_t RecordNumberOf(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::int32_t ChangeCounter(TABSSessionID session) override;
    [[nodiscard]] std::int64_t NextAutoincValue(TABSSessionID session, int fieldNo) override;
    // Removes every record, index entry and BLOB value; auto-increment counters go on.
    void EmptyTable(TABSSessionID session) override;

    [[nodiscard]] TABSBaseBlobManager* BlobManager() noexcept override { return blobs_.get(); }
    [[nodiscard]] TABSBaseRecordManager& RecordManager() noexcept override { return *records_; }
    [[nodiscard]] TABSBaseIndexManager& IndexManager() noexcept { return *indexManager_; }
    [[nodiscard]] TABSPageManager& PageManager() noexcept { return *pages_; }

    // Frees every record, index page and BLOB value (the table is dropped).
    void DropStorage();

protected:
    // The storage of one table: `Pages` keeps the index trees (temporary indexes too), `Records`
    // and `Blobs` (null without BLOB fields) the rest.
    struct Parts {
        TABSTableDefinition Definition;
        std::unique_ptr<TABSPageManager> Pages;
        std::unique_ptr<TABSBaseRecordManager> Records;
        std::unique_ptr<TABSBaseBlobManager> Blobs;
    };

    // The definition's indexes get their trees here. Raises what the index manager raises for
    // impossible index columns.
    TABSPseudoTableData(std::string name, std::int32_t tableId, Parts parts, int recordErrorCode);

    void CloseCursor(TABSSessionID session, bool exclusive) noexcept override;
    // Takes back the record of an insert that failed after it was stored.
    virtual void UndoInsert(TABSSessionID session, const TABSRecordID& id) noexcept = 0;

private:
    friend class TABSPseudoDatabaseData;
    class RecordSource;

    // The database's side of opening and renaming.
    void AttachCursor(bool exclusive) { RegisterCursor(exclusive); }
    void SetTableName(const std::string& name);

    // Runs one change; on failure the page manager's session is rolled back before the error
    // passes on, so no half-made index change stays.
    void RunChange(TABSSessionID session, const std::function<void()>& change);
    void FillAutoincFields(std::span<std::uint8_t> record, std::vector<std::int64_t>& counters) const;
    [[nodiscard]] TABSForEachRecord RecordWalker(TABSSessionID session);

    std::unique_ptr<TABSPageManager> pages_;
    std::unique_ptr<TABSBaseRecordManager> records_;
    std::unique_ptr<TABSBaseBlobManager> blobs_;
    std::unique_ptr<RecordSource> recordSource_;
    std::unique_ptr<TABSBaseIndexManager> indexManager_;
    std::vector<std::int64_t> autoincValues_;
    int recordErrorCode_;
};

// A table of the MEMORY pseudo database. It lives until it is dropped or the process ends.
class TABSMemoryTableData final : public TABSPseudoTableData {
public:
    // Raises 10025 without fields, 30040 "Not implemented yet" for a constraint kind other than
    // primary key, unique, not null and check, 10421 for a BLOB field with block size 0.
    TABSMemoryTableData(std::string name, std::int32_t tableId, TABSTableDefinition definition,
                        TABSMemoryManager& memory = MemoryManager());

    [[nodiscard]] TABSMemoryRecordManager& MemoryRecords() noexcept;

protected:
    [[nodiscard]] static Parts MakeParts(TABSTableDefinition definition, TABSMemoryManager& memory);
    void UndoInsert(TABSSessionID session, const TABSRecordID& id) noexcept override;
};

// A temporary result table of the TEMP pseudo database. Memory-only when the query that made it
// asked to stay in memory; otherwise records and index pages beyond a tenth of the available
// memory go to temporary files.
class TABSTemporaryTableData final : public TABSPseudoTableData {
public:
    // Raises 10132 without fields, 10421 for a BLOB field with block size 0.
    // `availableMemory` defaults to the memory manager's available memory.
    TABSTemporaryTableData(std::string name, std::int32_t tableId, TABSTableDefinition definition, bool memoryOnly,
                           std::optional<std::uint64_t> availableMemory = std::nullopt);

    // Raise EABSEngineError -9 "Cannot update record in temporary mode" / -10 "Cannot delete
    // record in temporary mode"; the table is unchanged.
    void UpdateRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;
    void DeleteRecord(TABSSessionID session, const TABSRecordID& id) override;

    [[nodiscard]] bool MemoryOnly() const noexcept { return memoryOnly_; }
    [[nodiscard]] TABSTemporaryRecordManager& TemporaryRecords() noexcept;

protected:
    [[nodiscard]] static Parts MakeParts(TABSTableDefinition definition, bool memoryOnly,
                                         std::optional<std::uint64_t> availableMemory);
    void UndoInsert(TABSSessionID session, const TABSRecordID& id) noexcept override;

private:
    bool memoryOnly_;
};

} // namespace kova
