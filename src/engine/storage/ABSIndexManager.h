// The indexes of one open table: their definitions, their trees, temporary indexes, and the
// maintenance that keeps every index in step with the table's records.
//
// Persistent indexes keep their trees in the table's page manager (the database file) and their
// definitions in the table's definition file, which the table data writes from
// PersistentDefinitions(). Temporary indexes ("TEMPORARY_INDEX_n") are made when a search needs an
// order no index gives; their pages live in the table's temporary page manager, they are never
// written to the definition file, and they are dropped as soon as the table changes (their
// definition remembers the session that made them and the table's change counter then).
#pragma once

#include "engine/storage/ABSBTreeRecordIndex.h"
#include "engine/storage/ABSConstraintDefs.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSPage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

inline constexpr int kIndexByIdNotFoundError = 20045;    // "Cannot find index by ID = %d"
inline constexpr int kIndexByNameNotFoundError = 20046;  // "Index not found"
inline constexpr int kIndexNameTakenError = 20048;       // "Index '%s' already exists"

inline constexpr std::string_view kTemporaryIndexPrefix = "TEMPORARY_INDEX_";

class TABSBaseIndexManager {
public:
    // REQUIRES: `pages`, `fields` and `records` outlive the manager.
    TABSBaseIndexManager(TABSPageManager& pages, const TABSFieldDefs& fields, TABSIndexRecordSource& records);
    ~TABSBaseIndexManager();
    TABSBaseIndexManager(const TABSBaseIndexManager&) = delete;
    TABSBaseIndexManager& operator=(const TABSBaseIndexManager&) = delete;

    // Where temporary indexes keep their pages (the table's temporary page manager). Without one,
    // MakeTemporaryIndex raises 20077 "Pointer is nil".
    void SetTemporaryPageManager(TABSPageManager* pages) noexcept { temporaryPages_ = pages; }

    // ---- Definitions ----
    // Replaces every index by the given definitions (as read from the definition file), over their
    // stored roots. Raises 20043 / 20295 for a column that names no field or a BLOB field.
    void LoadDefinitions(const TABSIndexDefs& definitions);
    // The persistent indexes' definitions with their current roots (what the definition file stores).
    [[nodiscard]] TABSIndexDefs PersistentDefinitions() const;

    [[nodiscard]] std::size_t Count() const noexcept { return indexes_.size(); }
    // REQUIRES: i < Count().
    [[nodiscard]] TABSBTreeRecordIndex& At(std::size_t i) noexcept { return *indexes_[i]; }

    // ---- Trees ----
    // Every persistent index without a tree gets one, filled from the table's records.
    void CreatePersistentTrees(TABSSessionID session);
    // Adds a persistent index and builds its tree from the records. Raises 20048 "Index '%s' already
    // exists" when the name is taken, 20043 / 20295 for bad columns.
    TABSBTreeRecordIndex& AddIndex(TABSSessionID session, TABSIndexDef definition);
    // Drops an index and its tree. Raises 20046 "Index not found".
    void DropIndex(TABSSessionID session, std::string_view name);
    // Makes a temporary index over `columns`, filled from all records, remembering `session` and
    // the table's `changeCounter`. Its object id is negative (persistent ids are positive).
    TABSBTreeRecordIndex& MakeTemporaryIndex(TABSSessionID session, std::vector<TABSIndexColumn> columns,
                                             std::int32_t changeCounter);
    // A temporary index of `session` over exactly these columns made at `changeCounter`; nullptr
    // when there is none.
    [[nodiscard]] TABSBTreeRecordIndex* FindTemporaryIndex(TABSSessionID session,
                                                           const std::vector<TABSIndexColumn>& columns,
                                                           std::int32_t changeCounter) noexcept;
    // Drops every temporary index (the table changed or closes).
    void DropTemporaryIndexes();
    // Drops the temporary indexes made at another change counter than `changeCounter`.
    void DropOutdatedTemporaryIndexes(std::int32_t changeCounter);

    // ---- Lookups ----
    // Raise 20045 "Cannot find index by ID = %d" / 20046 "Index not found".
    [[nodiscard]] TABSBTreeRecordIndex& IndexByID(std::int32_t objectId);
    [[nodiscard]] TABSBTreeRecordIndex& IndexByName(std::string_view name);
    // Names compared without regard to case; nullptr when missing.
    [[nodiscard]] TABSBTreeRecordIndex* FindIndex(std::string_view name) noexcept;
    [[nodiscard]] TABSBTreeRecordIndex* FindIndexByID(std::int32_t objectId) noexcept;

    // ---- Maintenance (memory records) ----
    // Looks the record's key up in the index of every primary key and unique constraint (and of
    // every unique index without a constraint), leaving the record `self` out. Raises 30319
    // "Primary Key constraint '%s' violated. Duplicate found." or 30320 "Constraint unique '%s'
    // violated. Duplicate found.".
    void CheckUniqueness(TABSSessionID session, const TABSConstraintDefs& constraints,
                         std::span<const std::uint8_t> record, const TABSRecordID* self);
    // After a record was inserted: every persistent index gets its entry.
    void InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record, const TABSRecordID& id);
    // After a record changed: entries move where the full key changed.
    void UpdateRecord(TABSSessionID session, std::span<const std::uint8_t> oldRecord,
                      std::span<const std::uint8_t> newRecord, const TABSRecordID& id);
    // Before a record is deleted: every persistent index loses its entry (20250 when missing).
    void DeleteRecord(TABSSessionID session, std::span<const std::uint8_t> record, const TABSRecordID& id);
    // Emptying the table: every tree becomes an empty root (same page numbers).
    void EmptyAll(TABSSessionID session);
    // Dropping the table: every tree's pages go back.
    void DropAll(TABSSessionID session);
    void CheckIntegrity(TABSSessionID session);

    // The random numbers of temporary index names (tests fix them).
    void SetRandomSource(std::function<std::uint32_t()> random) { random_ = std::move(random); }

private:
    [[nodiscard]] std::unique_ptr<TABSBTreeRecordIndex> MakeIndex(TABSIndexDef definition, TABSPageManager& pages);
    void DropTemporary(TABSBTreeRecordIndex& index);
    void DropTemporaryWhere(const std::function<bool(const TABSIndexDef&)>& outdated);

    TABSPageManager* pages_;
    TABSPageManager* temporaryPages_ = nullptr;
    const TABSFieldDefs* fields_;
    TABSIndexRecordSource* records_;
    std::vector<std::unique_ptr<TABSBTreeRecordIndex>> indexes_;
    std::int32_t nextTemporaryId_ = -1;
    std::function<std::uint32_t()> random_;
};

} // namespace kova
