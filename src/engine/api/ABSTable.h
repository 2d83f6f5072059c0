// The table dataset: one stored table by name, browsed and edited row by row.
//
// Opening finds the database like every dataset, opens the table (exclusively when asked) and
// browses it in physical order, in the order of a named index (IndexName), or in the order of a
// temporary index over some columns (IndexFieldNames, "A;B"). The result is live unless the
// dataset or its database is read-only. FieldDefs / IndexDefs describe the table: they are read
// when it opens, used by CreateTable, and replaced by ImportTable.
//
// ImportTable makes this (closed) table a new table with the structure and rows of another open
// dataset. Progress goes to BeforeImport / OnImportProgress / AfterImport; without a BeforeImport
// handler the host's wait window shows "Import Table...", unless the database is in SilentMode or
// the table is a temporary one (database "TEMP").
#pragma once

#include "engine/api/ABSDataSet.h"
#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSIndexDefs.h"

#include <functional>
#include <memory>
#include <string>

namespace kova {

class TABSTable;
using TABSTableNotifyEvent = std::function<void(TABSTable&)>;
// Position 0..100 and the continue flag (true on entry).
using TABSTableProgressEvent = std::function<void(TABSTable&, int position, bool& continueFlag)>;

struct TABSTableEvents {
    TABSTableNotifyEvent BeforeImport;
    TABSTableProgressEvent OnImportProgress;
    TABSTableNotifyEvent AfterImport;
};

class TABSTable : public TABSDataSet {
public:
    explicit TABSTable(TABSComponentOwner* owner = nullptr);
    ~TABSTable() override;

    // ---- Properties ----
    [[nodiscard]] const std::string& TableName() const noexcept { return tableName_; }
    // A different name closes the dataset first.
    void SetTableName(const std::string& name);
    [[nodiscard]] const std::string& IndexName() const noexcept { return indexName_; }
    // Clears IndexFieldNames; reorders an open table (which then stands on its first row).
    void SetIndexName(const std::string& name);
    [[nodiscard]] const std::string& IndexFieldNames() const noexcept { return indexFieldNames_; }
    // Field names separated by ";"; clears IndexName; reorders an open table.
    void SetIndexFieldNames(const std::string& names);
    [[nodiscard]] bool Exclusive() const noexcept { return exclusive_; }
    // A different value closes the dataset first.
    void SetExclusive(bool exclusive);

    [[nodiscard]] TABSFieldDefs& FieldDefs() noexcept { return fieldDefs_; }
    [[nodiscard]] TABSIndexDefs& IndexDefs() noexcept { return indexDefs_; }
    [[nodiscard]] TABSTableEvents& TableEvents() noexcept { return tableEvents_; }

    // ---- The table itself (the database is found and connected as for Open) ----
    [[nodiscard]] bool Exists();
    // Creates the table from FieldDefs and IndexDefs (a closed dataset).
    void CreateTable();
    // Drops the table (a closed dataset).
    void DeleteTable();
    // Removes every row.
    void EmptyTable();

    // Makes this closed table a new table with the columns of the open dataset `source` (a table
    // dataset's field definitions and, when `indexes` is null, its index definitions are taken
    // over whole) and copies its rows; `indexes` as given otherwise. Problems go to `log`; true
    // exactly when the log did not grow. FieldDefs and IndexDefs describe the new table afterwards.
    bool ImportTable(TABSDataSet& source, std::string& log, const TABSIndexDefs* indexes = nullptr);

protected:
    [[nodiscard]] std::unique_ptr<TABSLocalCursor> OpenCursor(TABSDatabase& database) override;

private:
    [[nodiscard]] TABSTableName QualifiedName() const;
    void RequireClosed() const;
    void RequireTableName() const;
    // Applies IndexName / IndexFieldNames to a table cursor.
    void ApplyOrder(class TABSTableCursor& cursor) const;
    void Reorder();
    // Runs `action` with the database found and referenced, and gives the reference back.
    void WithDatabase(const std::function<void(const TABSTableAccess&, TABSDatabase&)>& action);

    std::string tableName_;
    std::string indexName_;
    std::string indexFieldNames_;
    bool exclusive_ = false;
    TABSFieldDefs fieldDefs_;
    TABSIndexDefs indexDefs_;
    TABSTableEvents tableEvents_;
};

// The execution context of a database's connection (REQUIRES: connected).
[[nodiscard]] TABSExecutionContext ExecutionContextOf(TABSDatabase& database, bool inMemory);

} // namespace kova
