// The table dataset: one stored table by name, browsed and edited row by row.
//
// Opening finds the database like every dataset, opens the table (exclusively when asked) and
// browses it in physical order, in the order of a named index (IndexName), or in the order of a
// temporary index over some columns (IndexFieldNames, "A;B"). The result is live unless the
// dataset or its database is read-only. FieldDefs / IndexDefs describe the table: they are read
// when it opens, used by CreateTable, and replaced by ImportTable.
//
// Whole-table operations, each reporting progress through its trio of events (Before…, On…Progress,
// After…); without the Before… handler the host's wait window shows the operation's message,
// unless the database is in SilentMode or the table is a temporary one (database "TEMP"):
//   ImportTable       this (closed) table becomes a new table with the structure and rows of
//                     another open dataset ("Import Table...").
//   CopyTable         this table, structure and rows, under a new name into this database, into
//                     MEMORY or into another database file ("Copy Table...").
//   RestructureTable  this (closed) table takes the FieldDefs / IndexDefs set on the object and
//                     keeps its rows, matched by field id ("Restructure Table...").
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
    TABSTableNotifyEvent BeforeCopy;
    TABSTableProgressEvent OnCopyProgress;
    TABSTableNotifyEvent AfterCopy;
    TABSTableNotifyEvent BeforeRestructure;
    TABSTableProgressEvent OnRestructureProgress;
    TABSTableNotifyEvent AfterRestructure;
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

    // Copies this table, its rows and (with `copyIndexes`) its indexes, under `newTableName`:
    // into `destinationFileName` (connected for the copy with `destinationPassword` through a
    // temporary database "TempDb<n>" of this table's session), into MEMORY when that is "MEMORY",
    // or into this table's own database when it is empty. Progress runs from `progressMin` to
    // `progressMax` through OnCopyProgress (or the wait window); `continueCopy` is the flag the
    // progress handler clears to stop.
    // Raises 30447 for a copy onto this very table, 20297 for a field without field object,
    // 30448 (10515 in MEMORY) for an existing table without `overwrite`, 30450 for a failed
    // creation and the errors of connecting the destination; with `ignoreErrors` those go to
    // `log` and the result is false. Rows that fail are logged or raised as CopyRows does. The
    // result is false too when the copy was stopped. An open table is closed for the copy and
    // opened again on its row afterwards.
    bool CopyTable(const std::string& newTableName, std::string& log, int progressMax, int progressMin,
                   bool copyIndexes, bool overwrite, bool ignoreErrors, const std::string& destinationFileName,
                   const std::string& destinationPassword, bool& continueCopy);

    // Gives the stored table the FieldDefs and IndexDefs of this (closed) object, keeping the rows:
    // a field definition that keeps the ObjectID of a field keeps its values (converted when its
    // type changed), one with ObjectID 0 is new and stays empty, a field left out is dropped.
    // Not-null and check constraints stay with their fields. Returns false with the reason in
    // `log` when the table could not be rebuilt; the table is then as it was. Raises 20180 inside
    // a transaction. FieldDefs / IndexDefs describe the stored table afterwards.
    bool RestructureTable(std::string& log);

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
    // Loads FieldDefs / IndexDefs from the stored table (when it exists).
    void ReadDefinitions(const TABSTableAccess& access);
    // Whole-table operations show no wait window for this table.
    [[nodiscard]] bool QuietProgress(const TABSDatabase& database) const;

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
