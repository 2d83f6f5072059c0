#include "engine/sql/ABSTableCursor.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ABSTypes.h"
#include "engine/storage/ABSDiskTableData.h"
#include "engine/storage/ABSIndexManager.h"
#include "engine/storage/ABSPseudoTableData.h"

#include <mutex>
#include <utility>

namespace kova {

std::vector<TABSCursorColumn> CursorColumnsOf(const TABSFieldDefs& fields) {
    std::vector<TABSCursorColumn> columns;
    columns.reserve(fields.Count());
    for (const TABSFieldDef& field : fields) {
        TABSCursorColumn column;
        column.Name = field.Name;
        column.BaseType = field.StorageType;
        column.FieldType = FieldTypeOfColumnType(field.ColumnType);
        column.Size = ColumnTypeTakesSize(field.ColumnType) || field.ColumnType == TABSColumnType::actGuid
                          ? DatasetFieldSize(field.ColumnType, field.Size)
                          : 0;
        columns.push_back(std::move(column));
    }
    return columns;
}

TABSTableCursor::TABSTableCursor(TABSTableHandle table, bool live, std::string alias)
    : handle_(std::move(table)), live_(live), columns_(CursorColumnsOf(handle_->FieldDefs())),
      rowSource_(handle_.Table(), handle_.Session(), std::move(alias)), record_(handle_->NewRecordBuffer()),
      editRecord_(handle_->NewRecordBuffer()) {
    rowSource_.SetRecord(record_);
}

TABSTableCursor::~TABSTableCursor() {
    if (!handle_) return;
    if (Table().FieldDefs().HasBlobFields()) {
        Table().ReleaseRecordBuffer(record_, false);
        Table().ReleaseRecordBuffer(editRecord_, true);
    }
}

// ---- Order ----

TABSBaseIndexManager* TABSTableCursor::IndexManager() const noexcept {
    TABSTableData& table = Table();
    if (auto* disk = dynamic_cast<TABSDiskTableData*>(&table)) return &disk->IndexManager();
    if (auto* pseudo = dynamic_cast<TABSPseudoTableData*>(&table)) return &pseudo->IndexManager();
    return nullptr;
}

std::int32_t TABSTableCursor::ChangeCounter() { return Table().ChangeCounter(Session()); }

void TABSTableCursor::ResetPosition() noexcept {
    where_ = Where::BeforeFirst;
    pathValid_ = false;
    ghost_ = false;
    recNo_.reset();
}

void TABSTableCursor::SetPhysicalOrder() {
    Cancel();
    orderKind_ = OrderKind::Physical;
    index_ = nullptr;
    indexId_ = 0;
    orderColumns_.clear();
    ResetPosition();
}

void TABSTableCursor::SetIndexOrder(std::string_view indexName) {
    TABSBaseIndexManager* manager = IndexManager();
    if (manager == nullptr) RaiseError(kIndexByNameNotFoundError, "Index not found", {});
    std::lock_guard lock(Table().Mutex());
    TABSBTreeRecordIndex& index = manager->IndexByName(indexName);
    Cancel();
    orderKind_ = OrderKind::Index;
    index_ = &index;
    indexId_ = index.ObjectID();
    orderColumns_.clear();
    ResetPosition();
}

void TABSTableCursor::SetColumnOrder(std::vector<TABSIndexColumn> columns) {
    if (columns.empty()) {
        SetPhysicalOrder();
        return;
    }
    Cancel();
    orderKind_ = OrderKind::Temporary;
    orderColumns_ = std::move(columns);
    index_ = nullptr;
    ResetPosition();
    (void)OrderIndex();  // makes the index now, so that bad columns fail here
}

TABSBTreeRecordIndex* TABSTableCursor::OrderIndex() {
    if (orderKind_ == OrderKind::Physical) return nullptr;
    TABSBaseIndexManager* manager = IndexManager();
    if (manager == nullptr) RaiseError(kIndexByNameNotFoundError, "Index not found", {});
    std::lock_guard lock(Table().Mutex());
    if (orderKind_ == OrderKind::Index) {
        // The index may have been dropped and another made since; look it up by its id.
        index_ = manager->FindIndexByID(indexId_);
        if (index_ == nullptr) RaiseError(kIndexByIdNotFoundError, "Cannot find index by ID = %d", {indexId_});
        return index_;
    }
    const std::int32_t counter = ChangeCounter();
    if (index_ != nullptr && counter == indexCounter_) return index_;
    // The storage drops a temporary index as soon as the table changes: make it again.
    index_ = manager->FindTemporaryIndex(Session(), orderColumns_, counter);
    if (index_ == nullptr) index_ = &manager->MakeTemporaryIndex(Session(), orderColumns_, counter);
    indexCounter_ = counter;
    pathValid_ = false;
    return index_;
}

// ---- Filter ----

void TABSTableCursor::SetFilter(std::unique_ptr<TABSExpression> condition, TABSExprEnvironment* environment) {
    Cancel();
    if (condition != nullptr && !condition->IsEmpty()) condition->Bind(&rowSource_, environment);
    filter_ = condition != nullptr && !condition->IsEmpty() ? std::move(condition) : nullptr;
    filteredCount_.reset();
    ResetPosition();
}

void TABSTableCursor::SetViewFilter(std::unique_ptr<TABSExpression> condition) {
    Cancel();
    if (condition != nullptr && !condition->IsEmpty()) condition->Bind(&rowSource_, nullptr);
    viewFilter_ = condition != nullptr && !condition->IsEmpty() ? std::move(condition) : nullptr;
    filteredCount_.reset();
    ResetPosition();
}

bool TABSTableCursor::Passes() {
    if (filter_ == nullptr && viewFilter_ == nullptr) return true;
    rowSource_.SetRecord(record_);
    if (filter_ != nullptr && !filter_->IsTrue()) return false;
    return viewFilter_ == nullptr || viewFilter_->IsTrue();
}

// ---- Raw stepping ----

void TABSTableCursor::Load(const TABSRecordID& id) {
    TABSTableData& table = Table();
    // Cached BLOB values of the row we leave belong to this buffer only.
    if (table.FieldDefs().HasBlobFields()) table.ReleaseRecordBuffer(record_, false);
    table.ReadRecord(Session(), id, record_);
    rowSource_.SetRecord(record_);
    id_ = id;
    where_ = Where::OnRow;
    ghost_ = false;
}

bool TABSTableCursor::RawFirst() {
    TABSBTreeRecordIndex* index = OrderIndex();
    positionCounter_ = ChangeCounter();
    if (index == nullptr) {
        const std::optional<TABSRecordID> id = Table().FirstRecord(Session());
        if (!id) return false;
        Load(*id);
        return true;
    }
    std::lock_guard lock(Table().Mutex());
    pathValid_ = index->First(Session(), path_);
    if (!pathValid_) return false;
    Load(index->RecordAt(Session(), path_));
    return true;
}

bool TABSTableCursor::RawLast() {
    TABSBTreeRecordIndex* index = OrderIndex();
    positionCounter_ = ChangeCounter();
    if (index == nullptr) {
        const std::optional<TABSRecordID> id = Table().LastRecord(Session());
        if (!id) return false;
        Load(*id);
        return true;
    }
    std::lock_guard lock(Table().Mutex());
    pathValid_ = index->Last(Session(), path_);
    if (!pathValid_) return false;
    Load(index->RecordAt(Session(), path_));
    return true;
}

// REQUIRES: where_ == OnRow and the position is in step with the table (Resync).
bool TABSTableCursor::RawStep(bool forward) {
    TABSBTreeRecordIndex* index = OrderIndex();
    if (index == nullptr) {
        const std::optional<TABSRecordID> id =
            forward ? Table().NextRecord(Session(), id_) : Table().PriorRecord(Session(), id_);
        if (!id) return false;
        Load(*id);
        return true;
    }
    std::lock_guard lock(Table().Mutex());
    if (ghost_) {
        // The row we stood on is gone; path_ already points at the entry after it (if any).
        ghost_ = false;
        if (forward) {
            if (!pathValid_) return false;
            Load(index->RecordAt(Session(), path_));
            return true;
        }
        if (!pathValid_) {
            pathValid_ = index->Last(Session(), path_);
            if (!pathValid_) return false;
            Load(index->RecordAt(Session(), path_));
            return true;
        }
    }
    if (!pathValid_) return false;
    const bool moved = forward ? index->Next(Session(), path_) : index->Prior(Session(), path_);
    if (!moved) return false;
    Load(index->RecordAt(Session(), path_));
    return true;
}

void TABSTableCursor::Resync() {
    const std::int32_t counter = ChangeCounter();
    if (counter == positionCounter_ && (orderKind_ != OrderKind::Temporary || index_ != nullptr)) return;
    positionCounter_ = counter;
    recNo_.reset();
    filteredCount_.reset();
    if (where_ != Where::OnRow) return;
    TABSBTreeRecordIndex* index = OrderIndex();
    bool exists = true;
    try {
        if (Table().FieldDefs().HasBlobFields()) Table().ReleaseRecordBuffer(record_, false);
        Table().ReadRecord(Session(), id_, record_);
    } catch (const EABSException&) {
        exists = false;
    }
    rowSource_.SetRecord(record_);
    if (index == nullptr) {
        // Physical stepping works from an identifier that no longer holds a record.
        ghost_ = false;
        return;
    }
    std::lock_guard lock(Table().Mutex());
    if (exists) {
        pathValid_ = index->FindRecord(Session(), record_, id_, path_);
        ghost_ = !pathValid_;
        if (ghost_) pathValid_ = index->FindKey(Session(), index->KeyRef().RecordSearchKey(record_, &id_),
                                                TABSFindMode::FirstAtOrAbove, path_);
        return;
    }
    // The row was deleted elsewhere: remember where it stood, from its last known contents.
    ghost_ = true;
    pathValid_ = index->FindKey(Session(), index->KeyRef().RecordSearchKey(record_, &id_),
                                TABSFindMode::FirstAtOrAbove, path_);
}

bool TABSTableCursor::SkipHidden(bool forward, bool found) {
    while (found && !Passes()) found = RawStep(forward);
    return found;
}

// ---- Moves ----

bool TABSTableCursor::First() {
    Cancel();
    recNo_.reset();
    const bool found = SkipHidden(true, RawFirst());
    where_ = found ? Where::OnRow : Where::BeforeFirst;
    if (found) recNo_ = 1;
    else ghost_ = false;
    return found;
}

bool TABSTableCursor::Last() {
    Cancel();
    recNo_.reset();
    const bool found = SkipHidden(false, RawLast());
    where_ = found ? Where::OnRow : Where::AfterLast;
    if (!found) ghost_ = false;
    return found;
}

bool TABSTableCursor::Next() {
    Cancel();
    if (where_ == Where::AfterLast) return false;
    if (where_ == Where::BeforeFirst) return First();
    Resync();
    if (where_ != Where::OnRow) return First();
    const bool wasGhost = ghost_;
    const bool found = SkipHidden(true, RawStep(true));
    if (found) {
        if (recNo_ && !wasGhost) ++*recNo_;
        else recNo_.reset();
        return true;
    }
    where_ = Where::AfterLast;
    ghost_ = false;
    recNo_.reset();
    return false;
}

bool TABSTableCursor::Prior() {
    Cancel();
    if (where_ == Where::BeforeFirst) return false;
    if (where_ == Where::AfterLast) return Last();
    Resync();
    if (where_ != Where::OnRow) return Last();
    const bool found = SkipHidden(false, RawStep(false));
    if (found) {
        if (recNo_ && !ghost_ && *recNo_ > 1) --*recNo_;
        else recNo_.reset();
        return true;
    }
    where_ = Where::BeforeFirst;
    ghost_ = false;
    recNo_.reset();
    return false;
}

std::int64_t TABSTableCursor::RecordCount() {
    if (!Filtered()) return static_cast<std::int64_t>(Table().RecordCount(Session()));
    const std::int32_t counter = ChangeCounter();
    if (filteredCount_ && filteredCountCounter_ == counter) return *filteredCount_;
    // Count on a second pass over the rows; the current row is restored afterwards.
    std::int64_t count = 0;
    SavedPosition saved = Save();
    for (bool found = RawFirst(); found; found = RawStep(true))
        if (Passes()) ++count;
    Restore(saved);
    filteredCount_ = count;
    filteredCountCounter_ = counter;
    return count;
}

TABSTableCursor::SavedPosition TABSTableCursor::Save() const noexcept {
    return SavedPosition{where_, id_, ghost_, recNo_};
}

void TABSTableCursor::Restore(const SavedPosition& saved) {
    where_ = saved.where;
    recNo_ = saved.recNo;
    if (saved.where != Where::OnRow) {
        pathValid_ = false;
        ghost_ = false;
        return;
    }
    id_ = saved.id;
    positionCounter_ = ChangeCounter() - 1;  // forces Resync to re-read the row and re-find it
    Resync();
    recNo_ = saved.recNo;
}

std::int64_t TABSTableCursor::RecNo() const {
    if (where_ != Where::OnRow) return 0;
    return const_cast<TABSTableCursor*>(this)->ComputeRecNo();
}

std::int64_t TABSTableCursor::ComputeRecNo() {
    Resync();
    if (where_ != Where::OnRow) return 0;
    if (ghost_) return 0;
    if (recNo_) return *recNo_;
    std::int64_t recNo = 0;
    if (!Filtered()) {
        TABSBTreeRecordIndex* index = OrderIndex();
        if (index == nullptr) {
            recNo = static_cast<std::int64_t>(Table().RecordNumberOf(Session(), id_));
        } else {
            std::lock_guard lock(Table().Mutex());
            recNo = static_cast<std::int64_t>(index->PositionOfRecord(Session(), record_, id_)) + 1;
        }
    } else {
        const TABSRecordID target = id_;
        SavedPosition saved = Save();
        for (bool found = RawFirst(); found; found = RawStep(true)) {
            if (!Passes()) continue;
            ++recNo;
            if (id_ == target) break;
        }
        Restore(saved);
    }
    recNo_ = recNo;
    return recNo;
}

bool TABSTableCursor::SetRecNo(std::int64_t recNo) {
    if (recNo < 1) return false;
    Cancel();
    if (!Filtered()) {
        if (recNo > static_cast<std::int64_t>(Table().RecordCount(Session()))) return false;
        TABSBTreeRecordIndex* index = OrderIndex();
        positionCounter_ = ChangeCounter();
        if (index == nullptr) {
            Load(Table().RecordAtNumber(Session(), static_cast<std::uint64_t>(recNo)));
        } else {
            std::lock_guard lock(Table().Mutex());
            Load(index->RecordAtPosition(Session(), static_cast<std::uint64_t>(recNo - 1)));
            pathValid_ = index->FindRecord(Session(), record_, id_, path_);
        }
        recNo_ = recNo;
        return true;
    }
    SavedPosition saved = Save();
    std::int64_t passed = 0;
    for (bool found = RawFirst(); found; found = RawStep(true)) {
        if (Passes() && ++passed == recNo) {
            recNo_ = recNo;
            return true;
        }
    }
    Restore(saved);
    return false;
}

void TABSTableCursor::GetValue(std::size_t index, TABSVariant& value) {
    if (state_ != TABSTableCursorState::Browse) {
        value = ReadFieldValue(Table(), Session(), editRecord_, index);
        return;
    }
    value = ReadFieldValue(Table(), Session(), record_, index);
}

bool TABSTableCursor::Locate(std::span<const std::size_t> columns, std::span<const TABSVariant> values,
                             bool ignoreCase, bool partialKey) {
    Cancel();
    return TABSLocalCursor::Locate(columns, values, ignoreCase, partialKey);
}

std::optional<std::size_t> TABSTableCursor::FindColumn(std::string_view name) const noexcept {
    const int index = Table().FieldDefs().IndexOf(name);
    if (index < 0) return std::nullopt;
    return static_cast<std::size_t>(index);
}

std::optional<TABSRecordID> TABSTableCursor::CurrentRecordID() const noexcept {
    if (where_ != Where::OnRow || ghost_) return std::nullopt;
    return id_;
}

bool TABSTableCursor::GotoRecord(const TABSRecordID& id) {
    Cancel();
    SavedPosition saved = Save();
    try {
        Load(id);
    } catch (const EABSException&) {
        Restore(saved);
        return false;
    }
    if (!Passes()) {
        Restore(saved);
        return false;
    }
    positionCounter_ = ChangeCounter();
    recNo_.reset();
    if (TABSBTreeRecordIndex* index = OrderIndex()) {
        std::lock_guard lock(Table().Mutex());
        pathValid_ = index->FindRecord(Session(), record_, id_, path_);
    }
    return true;
}

// ---- Editing ----

void TABSTableCursor::RequireLive() const {
    if (!live_) RaiseError(kCursorNotLiveError, "Cannot modify a read-only dataset", {});
}

void TABSTableCursor::Append() {
    RequireLive();
    Cancel();
    TABSTableData& table = Table();
    editRecord_ = table.NewRecordBuffer();
    table.ApplyDefaults(editRecord_);
    state_ = TABSTableCursorState::Insert;
}

void TABSTableCursor::Edit() {
    RequireLive();
    Cancel();
    Resync();
    if (where_ != Where::OnRow || ghost_)
        RaiseError(kCursorNotOnRowError, "Cannot perform this operation on an empty dataset", {});
    TABSTableData& table = Table();
    // The copy must not share cached BLOB values with the browse buffer.
    if (table.FieldDefs().HasBlobFields()) table.ReleaseRecordBuffer(record_, false);
    std::copy(record_.begin(), record_.end(), editRecord_.begin());
    state_ = TABSTableCursorState::Edit;
}

void TABSTableCursor::SetValue(std::size_t column, const TABSVariant& value) {
    if (state_ == TABSTableCursorState::Browse)
        RaiseError(kCursorNotEditingError, "Dataset not in edit or insert mode", {});
    WriteFieldValue(Table(), Session(), editRecord_, column, value);
}

void TABSTableCursor::Post() {
    if (state_ == TABSTableCursorState::Browse)
        RaiseError(kCursorNotEditingError, "Dataset not in edit or insert mode", {});
    TABSTableData& table = Table();
    TABSRecordID id;
    if (state_ == TABSTableCursorState::Insert) {
        id = table.InsertRecord(Session(), editRecord_);
    } else {
        id = id_;
        table.UpdateRecord(Session(), id, editRecord_);
    }
    if (table.FieldDefs().HasBlobFields()) table.ReleaseRecordBuffer(editRecord_, false);
    state_ = TABSTableCursorState::Browse;
    // Stand on the stored row, wherever the order puts it now.
    Load(id);
    positionCounter_ = ChangeCounter();
    recNo_.reset();
    filteredCount_.reset();
    if (TABSBTreeRecordIndex* index = OrderIndex()) {
        std::lock_guard lock(table.Mutex());
        pathValid_ = index->FindRecord(Session(), record_, id_, path_);
    }
}

void TABSTableCursor::Cancel() noexcept {
    if (state_ == TABSTableCursorState::Browse) return;
    TABSTableData& table = Table();
    try {
        if (table.FieldDefs().HasBlobFields()) table.ReleaseRecordBuffer(editRecord_, true);
    } catch (...) {
        // Releasing cached values only frees memory; nothing to undo.
    }
    state_ = TABSTableCursorState::Browse;
}

void TABSTableCursor::Delete() {
    RequireLive();
    Cancel();
    Resync();
    if (where_ != Where::OnRow || ghost_)
        RaiseError(kCursorNotOnRowError, "Cannot perform this operation on an empty dataset", {});
    const TABSRecordID victim = id_;
    // Find the row to stand on afterwards before the order changes under us.
    std::optional<TABSRecordID> following;
    {
        SavedPosition saved = Save();
        if (SkipHidden(true, RawStep(true))) {
            following = id_;
        } else {
            Restore(saved);
            if (SkipHidden(false, RawStep(false))) following = id_;
        }
        Restore(saved);
    }
    Table().DeleteRecord(Session(), victim);
    filteredCount_.reset();
    recNo_.reset();
    positionCounter_ = ChangeCounter();
    if (!following) {
        where_ = Where::BeforeFirst;
        pathValid_ = false;
        ghost_ = false;
        return;
    }
    Load(*following);
    if (TABSBTreeRecordIndex* index = OrderIndex()) {
        std::lock_guard lock(Table().Mutex());
        pathValid_ = index->FindRecord(Session(), record_, id_, path_);
    }
}

} // namespace kova
