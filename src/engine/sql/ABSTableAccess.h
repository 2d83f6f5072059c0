// The tables a statement reaches from its connection, in one place for query execution, data
// modification and table copies.
//
// A statement names a table as [MEMORY] [database "."] name. Without MEMORY the table lives in the
// connection's database: a database file (its TABSDiskDatabaseTables) or, when the connection
// itself is to "MEMORY" / "TEMP", that pseudo database. MEMORY always means the process's
// in-memory database. Temporary result tables are made in "TEMP" under fresh random names.
//
// TABSTableAccess is a cheap value over the execution context; it holds nothing open itself.
// Everything it opens comes back as a TABSTableHandle that the caller owns.
#pragma once

#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSExprNode.h"
#include "engine/sql/ABSSQLStatement.h"
#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSTableDefinition.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kova {

class TABSPseudoDatabaseData;

inline constexpr int kOtherDatabaseNotSupportedError = 30410;  // "Database '%s' is not available to this statement"
inline constexpr int kBlobReadError = 30411;                   // "Cannot read BLOB field '%s'" / "Cannot write …"

class TABSTableAccess {
public:
    explicit TABSTableAccess(const TABSExecutionContext& context) noexcept : context_(&context) {}

    [[nodiscard]] const TABSExecutionContext& Context() const noexcept { return *context_; }
    // The session id changes go to in the database that holds `table`.
    [[nodiscard]] TABSSessionID SessionFor(const TABSTableName& table) const noexcept;

    // ---- Tables by name (names compare ignoring case) ----
    [[nodiscard]] bool TableExists(const TABSTableName& table) const;
    // Raises the storage layer's errors (30396 "Table '%s' not exists.", 20242, 20208/20209).
    [[nodiscard]] TABSTableHandle OpenTable(const TABSTableName& table, bool exclusive = false) const;
    // Creates the table (committed at once in a database file). Raises 30395 when the name is
    // taken and the storage layer's definition errors.
    void CreateTable(const TABSTableName& table, TABSTableDefinition definition) const;
    void DropTable(const TABSTableName& table) const;
    void RenameTable(const TABSTableName& table, const std::string& newName) const;
    void RenameField(const TABSTableName& table, const std::string& oldName, const std::string& newName) const;
    void AddIndex(const TABSTableName& table, TABSIndexDef index) const;
    void DropIndex(const TABSTableName& table, const std::string& indexName) const;
    // Removes every record of the table.
    void EmptyTable(const TABSTableName& table) const;

    // ---- Transactions of the connection (a database file only; the pseudo databases have none) ----
    [[nodiscard]] bool InTransaction() const;
    void StartTransaction() const;
    void Commit(bool flushFileBuffers) const;
    void Rollback() const;

    // ---- Temporary result tables in "TEMP" ----
    // Creates a table named `prefix` followed by a random number below 1 000 000 that no table
    // of "TEMP" has yet ("TEMPORARY_TABLE_" when no prefix is given) and returns its name.
    [[nodiscard]] std::string CreateTemporaryTable(TABSTableDefinition definition,
                                                   const std::string& prefix = "TEMPORARY_TABLE_") const;
    [[nodiscard]] TABSTableHandle OpenTemporaryTable(const std::string& name) const;
    // Drops the table even when cursors still hold it; never raises.
    void DropTemporaryTable(const std::string& name) const noexcept;

    // The table name of a temporary table, for the calls above.
    [[nodiscard]] static TABSTableName TemporaryTableName(const std::string& name);

    // Random numbers for generated names (tests fix them). Process-wide.
    static void SetRandomSource(std::function<std::uint32_t()> random);
    [[nodiscard]] static std::uint32_t Random(std::uint32_t below);

private:
    // Where the table lives: the file's tables, or a pseudo database.
    struct Place {
        TABSDiskDatabaseTables* disk = nullptr;
        TABSPseudoDatabaseData* pseudo = nullptr;
        TABSSessionID session = kInvalidSessionID;
    };
    [[nodiscard]] Place Locate(const TABSTableName& table) const;
    [[nodiscard]] TABSDiskDatabaseTables& RequireDisk() const;

    const TABSExecutionContext* context_;
};

// A row source over the memory record of a table: the columns of its field definitions, named
// by field name and qualified by the table's name or alias (either matches). Expressions bound
// to it read the record that was last set; values are decoded on first use per record.
class TABSRecordRowSource final : public TABSRowSource {
public:
    // REQUIRES: `table` outlives this object.
    TABSRecordRowSource(TABSTableData& table, TABSSessionID session, std::string alias);

    // Makes `record` the current row (the span must stay valid until the next call).
    void SetRecord(std::span<std::uint8_t> record);

    [[nodiscard]] std::optional<TABSColumnInfo> FindColumn(std::string_view qualifier,
                                                           std::string_view name) const override;
    [[nodiscard]] const TABSVariant& ColumnValue(std::size_t index) const override;

private:
    TABSTableData* table_;
    TABSSessionID session_;
    std::string alias_;
    std::span<std::uint8_t> record_;
    mutable std::vector<TABSVariant> values_;
    mutable std::vector<bool> decoded_;
};

} // namespace kova

namespace kova {

// Field values of a table's memory record, BLOB fields included (their contents are read
// through, or stored into, the table's BLOB store: Blob as bytes, Memo as UTF-8 text from the
// stored Windows-1252, WideMemo from the stored UTF-16LE).
[[nodiscard]] TABSVariant ReadFieldValue(TABSTableData& table, TABSSessionID session,
                                         std::span<std::uint8_t> record, std::size_t fieldNo);
// Converts `value` to the field's type and writes it; a null value clears the field. Conversion
// errors leave the record unchanged.
void WriteFieldValue(TABSTableData& table, TABSSessionID session, std::span<std::uint8_t> record,
                     std::size_t fieldNo, const TABSVariant& value);

} // namespace kova
