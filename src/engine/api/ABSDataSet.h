// The dataset base: finding the database a dataset names, browsing the result cursor that a
// derived class opens, field objects, Locate, and the open / close / scroll events.
//
//   closed ──Open──> open (cursor on the first row; fields made) ──Close──> closed
//
// Opening finds the database (the dataset's session, then the session's databases by
// DatabaseName, else a temporary one), connects it when needed and takes a reference on it; the
// derived class then opens its cursor. Closing releases the cursor, the fields and the database
// reference; the database may disconnect (or, when temporary, go away) with its last reference.
//
// Moving: Next on the last row and Prior on the first row do not leave the row; they set Eof /
// Bof. An empty result is Eof and Bof at once, and its fields read null.
//
// Editing works on results that are live views of a stored table (a table dataset, a query with
// RequestLive whose result allows it): Append / Insert start a new row, Edit the current one,
// the fields' setters change it, Post stores it and Cancel drops it. A move or another Append
// posts a pending change first; Close drops it. Filter / Filtered hide rows of such results too.
#pragma once

#include "engine/api/ABSComponent.h"
#include "engine/api/ABSField.h"
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSCursor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kova {

class TABSDatabase;
class TABSTableCursor;

class TABSDataSet;
using TABSDataSetNotifyEvent = std::function<void(TABSDataSet&)>;

// What a failed Post / Edit / Delete does after its error handler ran: raise the error (the
// default), end the operation quietly, or try again (after the handler fixed the cause).
enum class TDataAction : std::uint8_t { daFail, daAbort, daRetry };
using TABSDataSetErrorEvent = std::function<void(TABSDataSet&, const EABSError& error, TDataAction& action)>;

struct TABSDataSetEvents {
    TABSDataSetNotifyEvent BeforeOpen;
    TABSDataSetNotifyEvent AfterOpen;
    TABSDataSetNotifyEvent BeforeClose;
    TABSDataSetNotifyEvent AfterClose;
    TABSDataSetNotifyEvent BeforeScroll;
    // After every move of the current row: Open, First, Last, Next, Prior, a successful Locate.
    TABSDataSetNotifyEvent AfterScroll;
    TABSDataSetNotifyEvent BeforeInsert;
    TABSDataSetNotifyEvent AfterInsert;
    TABSDataSetNotifyEvent BeforeEdit;
    TABSDataSetNotifyEvent AfterEdit;
    TABSDataSetNotifyEvent BeforePost;
    TABSDataSetNotifyEvent AfterPost;
    TABSDataSetNotifyEvent BeforeCancel;
    TABSDataSetNotifyEvent AfterCancel;
    TABSDataSetNotifyEvent BeforeDelete;
    TABSDataSetNotifyEvent AfterDelete;
    // A new row was started; handlers may give fields their initial values.
    TABSDataSetNotifyEvent OnNewRecord;
    TABSDataSetNotifyEvent BeforeRefresh;
    TABSDataSetNotifyEvent AfterRefresh;
    TABSDataSetErrorEvent OnPostError;
    TABSDataSetErrorEvent OnEditError;
    TABSDataSetErrorEvent OnDeleteError;
};

enum class TDataSetState : std::uint8_t { dsInactive, dsBrowse, dsEdit, dsInsert };

struct TFilterOptions {
    bool CaseInsensitive = false;    // texts compare ignoring case
    bool NoPartialCompare = false;   // off: a text constant ending in "*" matches as a prefix
};

struct TLocateOptions {
    bool CaseInsensitive = false;  // texts compare ignoring case
    bool PartialKey = false;       // texts compare only as many characters as the key has
};

class TABSDataSet : public TABSComponent {
public:
    static constexpr std::string_view kCurrentVersion = "5.14 ";

    ~TABSDataSet() override;

    // ---- Properties ----
    [[nodiscard]] const std::string& DatabaseName() const noexcept { return databaseName_; }
    // A different name closes the dataset first.
    void SetDatabaseName(const std::string& name);
    [[nodiscard]] const std::string& SessionName() const noexcept { return sessionName_; }
    // A different name closes the dataset first.
    void SetSessionName(const std::string& name);
    // True exactly when DatabaseName is "MEMORY"; true sets that name, false clears it.
    [[nodiscard]] bool InMemory() const;
    void SetInMemory(bool inMemory);
    // Asked for, or because the open result cannot be edited.
    [[nodiscard]] bool ReadOnly() const noexcept { return readOnly_ || (active_ && resultReadOnly_); }
    void SetReadOnly(bool readOnly) noexcept { readOnly_ = readOnly; }
    // Kept for hosts that set it; results have no calculated fields.
    [[nodiscard]] bool AutoCalcFields() const noexcept { return autoCalcFields_; }
    void SetAutoCalcFields(bool autoCalc) noexcept { autoCalcFields_ = autoCalc; }
    [[nodiscard]] bool Active() const noexcept { return active_; }
    void SetActive(bool active);
    [[nodiscard]] std::string_view CurrentVersion() const noexcept { return kCurrentVersion; }
    [[nodiscard]] TABSDataSetEvents& Events() noexcept { return events_; }

    // ---- Filter (applied when the dataset opens, and at once while it is open) ----
    [[nodiscard]] const std::string& Filter() const noexcept { return filter_; }
    void SetFilter(const std::string& filter);
    [[nodiscard]] bool Filtered() const noexcept { return filtered_; }
    void SetFiltered(bool filtered);
    [[nodiscard]] const TFilterOptions& FilterOptions() const noexcept { return filterOptions_; }
    void SetFilterOptions(TFilterOptions options);

    // ---- Opening ----
    void Open();
    void Close();
    // The database this dataset holds a reference on (while open or executing), else nullptr.
    [[nodiscard]] TABSDatabase* Database() const noexcept { return database_; }

    // ---- Browsing (an open dataset; a closed one fails with "Cannot perform this operation
    // on a closed dataset", except the state queries, which report an empty dataset) ----
    [[nodiscard]] bool IsEmpty();
    void First();
    void Last();
    void Next();
    void Prior();
    [[nodiscard]] bool Eof() const noexcept { return !active_ || eof_; }
    [[nodiscard]] bool Bof() const noexcept { return !active_ || bof_; }
    // Rows of the open result; 0 when closed.
    [[nodiscard]] std::int64_t RecordCount();
    // 1-based number of the current row; 0 when closed or empty.
    [[nodiscard]] std::int64_t RecNo() const;

    // ---- Editing ----
    [[nodiscard]] TDataSetState State() const noexcept;
    // Fail with "Cannot modify a read-only dataset" unless the result can be edited.
    void Append();
    void Insert() { Append(); }
    // Fails on an empty result with "Cannot perform this operation on an empty dataset".
    void Edit();
    // Fails with "Dataset not in edit or insert mode" in browse state; engine errors of storing
    // the row (constraints, conversions) pass and leave the dataset in its edit state.
    void Post();
    void Cancel();
    // Deletes the current row; the following row (or, after the last, the one before) becomes
    // current.
    void Delete();
    // Reads the rows again (changes made elsewhere become visible), staying on the current row
    // while it still exists, else going to the first.
    void Refresh();

    // The cursor of the open result (nullptr when closed), for table copies and tools.
    [[nodiscard]] TABSLocalCursor* Cursor() const noexcept { return cursor_.get(); }

    // ---- Fields ----
    [[nodiscard]] std::size_t FieldCount() const noexcept { return fields_.size(); }
    [[nodiscard]] TABSField& Field(std::size_t index) const { return *fields_.at(index); }
    // First field of that name ignoring case, or nullptr.
    [[nodiscard]] TABSField* FindField(std::string_view name) const;
    // The same, failing with "Das Feld '%s' wurde nicht gefunden".
    [[nodiscard]] TABSField& FieldByName(std::string_view name) const;

    // Finds the first row (in result order) whose key columns equal the values: `keyFields` are
    // field names separated by ";", one value per name. On a match the row becomes current and
    // AfterScroll runs; otherwise the current row stays. Fails with 10271 on a closed dataset and
    // 30112 when the counts differ.
    [[nodiscard]] bool Locate(std::string_view keyFields, std::span<const TDatasetVariant> keyValues,
                              TLocateOptions options = {});
    [[nodiscard]] bool Locate(std::string_view keyFields, const TDatasetVariant& keyValue, TLocateOptions options = {});

protected:
    explicit TABSDataSet(TABSComponentOwner* owner);

    // Opens the result on `database` (connected, referenced). Raises when there is none.
    [[nodiscard]] virtual std::unique_ptr<TABSLocalCursor> OpenCursor(TABSDatabase& database) = 0;
    // Drops what OpenCursor made, after the cursor itself is gone.
    virtual void CloseCursor() noexcept {}
    // The database disconnects: close (a query also unprepares).
    virtual void CloseForDatabase() { Close(); }
    [[nodiscard]] virtual bool IsQuery() const noexcept { return false; }

    // Finding the database (open and execute): the session by SessionName, the database by
    // DatabaseName, connected, with a reference taken. Component error "DatabaseName property
    // is blank", 20002, and the errors of connecting.
    TABSDatabase& AcquireDatabase();
    // Gives the reference back (the database may disconnect or go away).
    void ReleaseDatabase();
    // Closes without events, for destructors: the cursor goes, the reference is given back.
    void CloseSilently() noexcept;

    void OwnerSessionNameChanged(const std::string& sessionName) override;

private:
    friend class TABSDatabase;
    friend class TABSField;

    void RequireActive() const;
    void Fire(const TABSDataSetNotifyEvent& event);
    // Reads column `index` of the current row (null when there is none).
    void ReadValue(std::size_t index, TABSVariant& value) const;
    // Writes column `index` of the row being edited.
    void WriteValue(std::size_t index, const TABSVariant& value);
    // The editable cursor of the result, or the read-only error.
    [[nodiscard]] TABSTableCursor& EditableCursor();
    // Posts a pending change (before a move or Close).
    void CheckBrowseMode();
    // Bof / Eof after the cursor moved by itself (post, delete, a new filter).
    void SyncFlags();
    void ApplyFilter();
    // Runs `operation`; an engine error goes to `handler`, whose action decides: raise, end
    // quietly (false), or run again.
    bool WithErrorAction(const TABSDataSetErrorEvent& handler, const std::function<void()>& operation);

    std::string databaseName_;
    std::string sessionName_;
    bool readOnly_ = false;
    bool autoCalcFields_ = true;
    TABSDataSetEvents events_;
    std::string filter_;
    bool filtered_ = false;
    TFilterOptions filterOptions_;

    bool active_ = false;
    bool resultReadOnly_ = false;
    bool bof_ = true;
    bool eof_ = true;
    TABSDatabase* database_ = nullptr;
    std::unique_ptr<TABSLocalCursor> cursor_;
    std::vector<std::unique_ptr<TABSField>> fields_;
};

} // namespace kova
