// The two pseudo databases that exist from engine start-up until the process ends:
//
//   "MEMORY"  TABSMemoryDatabaseData     in-memory tables, shared by every connection of the
//                                        process, living until dropped
//   "TEMP"    TABSTemporaryDatabaseData  temporary result tables that query execution makes and
//                                        drops
//
// Every connection to either of them has session id 0. Each numbers its tables (and the indexes
// and constraints it makes) with its own counter, taken under the database's lock. When the
// engine shuts down, both drop all their tables (ShutdownPseudoDatabases).
#pragma once

#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSPseudoTableData.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kova {

inline constexpr int kPseudoTableExistsError = 30395;   // "Cannot create table. Table '%s' already exists"
inline constexpr int kPseudoTableMissingError = 30396;  // "Table '%s' not exists."
inline constexpr int kPseudoTableOpenOnDropError = 20017;
inline constexpr int kPseudoTableOpenOnRenameError = 20018;
inline constexpr int kPseudoTableExclusiveError = 20242;

inline constexpr char kMemoryDatabaseName[] = "MEMORY";
inline constexpr char kTemporaryDatabaseName[] = "TEMP";

class TABSPseudoDatabaseData : public TABSDatabaseData {
public:
    explicit TABSPseudoDatabaseData(std::string name) : TABSDatabaseData(std::move(name)) {}
    ~TABSPseudoDatabaseData() override;

    // Every connection is session 0 and may write.
    [[nodiscard]] TABSConnection ConnectSession() noexcept { return {0, false}; }

    // The next id: the counter plus 1.
    [[nodiscard]] std::int32_t NextObjectID();

    // Names compared without regard to case.
    [[nodiscard]] bool TableExists(const std::string& name) const;
    [[nodiscard]] std::vector<std::string> TableNames() const;
    [[nodiscard]] std::shared_ptr<TABSPseudoTableData> FindTable(const std::string& name) const;

    // A cursor's hold on a table. Raises 30396 "Table '%s' not exists.", 20242 "Cannot access
    // table '%s' in exclusive mode. Probably the table is open by another cursors" when the
    // table is open and exclusive use is asked (or it is open exclusively).
    [[nodiscard]] TABSTableHandle OpenTable(TABSSessionID session, const std::string& name, bool exclusive = false);

    // Frees the table and all its storage. Raises 30396 for an unknown table and 20017 "Cannot
    // delete table '%s'. Table is open by another dataset" while cursors have it open, unless
    // `force` (cursors that still hold it then see an empty table).
    void DropTable(const std::string& name, bool force = false);
    // Raises 30396, 30395 when the new name is taken, 20018 while cursors have it open.
    void RenameTable(const std::string& oldName, const std::string& newName);
    // Drops every table (engine shut-down).
    void DropAllTables() noexcept;

protected:
    // Numbers the definition's fields, indexes and constraints, adds a constraint for every
    // unique or primary index that has none, and names unnamed not-null and check constraints.
    void PrepareDefinition(const std::string& tableName, TABSTableDefinition& definition);
    // Raises 30395 when a table of that name exists.
    void CheckNewName(const std::string& name) const;
    void AddTable(std::shared_ptr<TABSPseudoTableData> table);

private:
    [[nodiscard]] static std::string Key(const std::string& name);

    mutable std::mutex mutex_;
    std::int32_t counter_ = 0;
    std::map<std::string, std::shared_ptr<TABSPseudoTableData>> tables_;
};

class TABSMemoryDatabaseData final : public TABSPseudoDatabaseData {
public:
    explicit TABSMemoryDatabaseData(TABSMemoryManager& memory = MemoryManager())
        : TABSPseudoDatabaseData(kMemoryDatabaseName), memory_(memory) {}

    // Raises 30395 for a name in use, 10025 without fields, 30040 for constraints of another kind
    // than primary key, unique, not null and check, 10421 for a BLOB field with block size 0.
    std::shared_ptr<TABSMemoryTableData> CreateTable(const std::string& name, TABSTableDefinition definition);

private:
    TABSMemoryManager& memory_;
};

class TABSTemporaryDatabaseData final : public TABSPseudoDatabaseData {
public:
    TABSTemporaryDatabaseData() : TABSPseudoDatabaseData(kTemporaryDatabaseName) {}

    // A result table; memory-only when the query that makes it has its in-memory flag set. An
    // empty name is replaced by a unique one. Raises 30395 for a name in use, 10132 without
    // fields, 10421 for a BLOB field with block size 0.
    std::shared_ptr<TABSTemporaryTableData> CreateTable(const std::string& name, TABSTableDefinition definition,
                                                        bool memoryOnly,
                                                        std::optional<std::uint64_t> availableMemory = std::nullopt);
};

// The process's pseudo databases.
[[nodiscard]] TABSMemoryDatabaseData& MemoryDatabase();
[[nodiscard]] TABSTemporaryDatabaseData& TemporaryDatabase();
// Drops every table of both (the engine shuts down).
void ShutdownPseudoDatabases() noexcept;

} // namespace kova
