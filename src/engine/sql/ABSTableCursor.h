// A cursor over one stored table: a base table of a database file, or a table of the MEMORY or
// TEMP pseudo databases (temporary result tables included).
//
// Its columns are the table's fields, in field order. Its rows are the table's records in one of
// three orders:
//   physical      the order the records are stored in;
//   an index      an existing index of the table, by name;
//   columns       a temporary index over the given columns (descending / case-insensitive per
//                 column). The storage drops temporary indexes whenever the table changes, so the
//                 cursor makes its index again before the next move after a change.
// An optional filter condition hides the records it does not hold for; RecordCount, RecNo and
// SetRecNo count the visible rows only.
//
// Editing (when the cursor is live): Append starts a new record with the fields' defaults, Edit
// takes the current row, SetValue changes the edit buffer, Post stores it and leaves the cursor on
// the stored row, Cancel drops it, Delete removes the current row and moves on to the next one.
//
// The cursor keeps one record buffer for stepping and one for editing and reuses them, so moving
// through the rows does not allocate.
#pragma once

#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSBTreeRecordIndex.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSRecordID.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

class TABSBaseIndexManager;

inline constexpr int kCursorNotLiveError = 30412;       // "Cannot modify a read-only dataset"
inline constexpr int kCursorNotOnRowError = 30413;      // "Cannot perform this operation on an empty dataset"
inline constexpr int kCursorNotEditingError = 30414;    // "Dataset not in edit or insert mode"

// What the cursor's edit buffer holds.
enum class TABSTableCursorState : std::uint8_t { Browse, Edit, Insert };

// The dataset's view of stored fields: names, base and dataset types, declared sizes.
[[nodiscard]] std::vector<TABSCursorColumn> CursorColumnsOf(const TABSFieldDefs& fields);

class TABSTableCursor final : public TABSLocalCursor {
public:
    // REQUIRES: a non-empty handle. `alias` qualifies the columns for filter expressions (the table
    // name when empty). A new cursor is in physical order, without filter, before the first row.
    explicit TABSTableCursor(TABSTableHandle table, bool live = true, std::string alias = {});
    ~TABSTableCursor() override;

    [[nodiscard]] TABSTableData& Table() const noexcept { return handle_.Table(); }
    [[nodiscard]] TABSSessionID Session() const noexcept { return handle_.Session(); }
    // The row source filters and other expressions over this cursor's current row bind to.
    [[nodiscard]] TABSRecordRowSource& RowSource() noexcept { return rowSource_; }

    // ---- Order (each leaves the cursor before the first row) ----
    void SetPhysicalOrder();
    // Raises 20046 "Index not found" when the table has no index of that name.
    void SetIndexOrder(std::string_view indexName);
    // A temporary index over the columns; raises 20043 for a column that names no field.
    // An empty list means physical order.
    void SetColumnOrder(std::vector<TABSIndexColumn> columns);
    [[nodiscard]] bool IsPhysicalOrder() const noexcept { return orderKind_ == OrderKind::Physical; }

    // ---- Filter ----
    // Rows for which `condition` does not hold are skipped. The condition is bound here to
    // RowSource() (and to `environment`, which may be null and must outlive the cursor). nullptr
    // removes the filter. Leaves the cursor before the first row.
    void SetFilter(std::unique_ptr<TABSExpression> condition, TABSExprEnvironment* environment = nullptr);
    [[nodiscard]] bool Filtered() const noexcept { return filter_ != nullptr || viewFilter_ != nullptr; }
    // A second condition a row must also hold, kept apart from the one above: the dataset's own
    // filter over a result whose cursor already filters for its query. Bound like SetFilter.
    void SetViewFilter(std::unique_ptr<TABSExpression> condition);
    [[nodiscard]] bool HasViewFilter() const noexcept { return viewFilter_ != nullptr; }

    void SetLive(bool live) noexcept { live_ = live; }

    // ---- TABSLocalCursor ----
    [[nodiscard]] std::size_t ColumnCount() const override { return columns_.size(); }
    [[nodiscard]] const TABSCursorColumn& Column(std::size_t index) const override { return columns_[index]; }
    [[nodiscard]] std::int64_t RecordCount() override;
    [[nodiscard]] bool IsLive() const override { return live_; }
    bool First() override;
    bool Last() override;
    bool Next() override;
    bool Prior() override;
    [[nodiscard]] bool Bof() const override { return where_ == Where::BeforeFirst; }
    [[nodiscard]] bool Eof() const override { return where_ == Where::AfterLast; }
    [[nodiscard]] std::int64_t RecNo() const override;
    bool SetRecNo(std::int64_t recNo) override;
    // While editing, the edit buffer's values; otherwise the current row's.
    void GetValue(std::size_t index, TABSVariant& value) override;
    [[nodiscard]] bool Locate(std::span<const std::size_t> columns, std::span<const TABSVariant> values,
                              bool ignoreCase, bool partialKey) override;

    // The column of a field name (ignoring case).
    [[nodiscard]] std::optional<std::size_t> FindColumn(std::string_view name) const noexcept;
    // The record the cursor stands on; nothing on a crack.
    [[nodiscard]] std::optional<TABSRecordID> CurrentRecordID() const noexcept;
    // Moves onto a stored record, if it is visible in this cursor (else no move, false).
    bool GotoRecord(const TABSRecordID& id);
    // The memory record of the current row (valid until the next move).
    [[nodiscard]] std::span<std::uint8_t> CurrentRecord() noexcept { return record_; }

    // ---- Editing (raise 30412 unless live) ----
    [[nodiscard]] TABSTableCursorState State() const noexcept { return state_; }
    // A new record: every field null, then the fields' defaults.
    void Append();
    // The current row into the edit buffer (30413 when not on a row).
    void Edit();
    // Converts and stores a value in the edit buffer (30414 when not editing). Conversion errors
    // leave the buffer unchanged.
    void SetValue(std::size_t column, const TABSVariant& value);
    // The edit buffer itself, for callers that fill memory records directly.
    [[nodiscard]] std::span<std::uint8_t> EditRecord() noexcept { return editRecord_; }
    // Stores the edit buffer (insert or update). On success the cursor stands on the stored row
    // (even when the filter would hide it, until the next move) and is back in Browse; on failure
    // it stays in its edit state with the buffer as it was.
    void Post();
    void Cancel() noexcept;
    // Deletes the current row (30413 when not on a row); the cursor moves to the following row, or
    // to the row before when it was the last, or onto the crack when no row is left.
    void Delete();

private:
    enum class OrderKind : std::uint8_t { Physical, Index, Temporary };
    enum class Where : std::uint8_t { BeforeFirst, OnRow, AfterLast };
    struct SavedPosition {
        Where where;
        TABSRecordID id;
        bool ghost;
        std::optional<std::int64_t> recNo;
    };

    [[nodiscard]] TABSBaseIndexManager* IndexManager() const noexcept;
    // The index of the current order (nullptr in physical order); remakes an outdated temporary
    // index first.
    [[nodiscard]] TABSBTreeRecordIndex* OrderIndex();
    // Raw stepping over all records in the order, regardless of the filter: each loads record_
    // and id_ and returns whether there was a record.
    bool RawFirst();
    bool RawLast();
    bool RawStep(bool forward);
    // Reads record `id` into record_ and makes it current (no filter test).
    void Load(const TABSRecordID& id);
    [[nodiscard]] bool Passes();
    // Steps from a loaded record until one passes the filter.
    bool SkipHidden(bool forward, bool found);
    // Re-finds the current record's place in the order after the table changed.
    void Resync();
    void ResetPosition() noexcept;
    [[nodiscard]] SavedPosition Save() const noexcept;
    void Restore(const SavedPosition& saved);
    [[nodiscard]] std::int64_t ComputeRecNo();
    void RequireLive() const;
    [[nodiscard]] std::int32_t ChangeCounter();

    TABSTableHandle handle_;
    bool live_;
    std::vector<TABSCursorColumn> columns_;
    TABSRecordRowSource rowSource_;

    OrderKind orderKind_ = OrderKind::Physical;
    std::string indexName_;
    std::vector<TABSIndexColumn> orderColumns_;
    TABSBTreeRecordIndex* index_ = nullptr;  // the current order's index while still valid
    std::int32_t indexId_ = 0;               // object id of a named index
    std::int32_t indexCounter_ = 0;          // change counter the temporary index was made at
    TABSKeyPath path_;
    bool pathValid_ = false;

    std::unique_ptr<TABSExpression> filter_;
    std::unique_ptr<TABSExpression> viewFilter_;
    std::optional<std::int64_t> filteredCount_;
    std::int32_t filteredCountCounter_ = 0;

    Where where_ = Where::BeforeFirst;
    TABSRecordID id_;
    // The row we stood on was deleted by someone else: path_ points at the entry that followed it.
    bool ghost_ = false;
    std::optional<std::int64_t> recNo_;  // known number of the current row, kept while stepping
    std::vector<std::uint8_t> record_;
    std::int32_t positionCounter_ = 0;  // change counter when the position was last valid

    TABSTableCursorState state_ = TABSTableCursorState::Browse;
    std::vector<std::uint8_t> editRecord_;
};

} // namespace kova
