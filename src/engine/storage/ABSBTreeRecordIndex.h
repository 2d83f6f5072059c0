// The index of a table: a B+ tree of record keys whose leaf values are record identifiers.
//
// Each entry is (stored key of a record, its identifier). Entries with equal keys are ordered by
// identifier, so every entry is unique and a record's entry can be found exactly. The tree lives
// in the pages of the page manager it was made with: the database file for persistent indexes,
// the table's temporary page manager for temporary ones.
//
// The index reads records only through TABSIndexRecordSource (the table data implements it): to
// fill a new tree, and to settle comparisons of truncated key parts.
#pragma once

#include "engine/storage/ABSBTree.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSPage.h"
#include "engine/storage/ABSRecordID.h"
#include "engine/storage/ABSRecordKey.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kova {

inline constexpr int kIndexEntryNotFoundError = 20250;       // "Index error: cannot delete entry. Entry not found"
inline constexpr int kRecordPositionNotFoundError = 20047;   // "Cannot find record position in index %d, RecordID = %d %d"
inline constexpr int kInvalidGetRecordModeError = 20079;     // "Invalid get record mode for index: grmCurrent"

// What a cursor asks of its order when it moves.
enum class TABSGetRecordMode : std::uint8_t { grmCurrent, grmNext, grmPrior };

// What an index needs from its table.
class TABSIndexRecordSource {
public:
    using RecordVisitor = std::function<void(const TABSRecordID& id, std::span<const std::uint8_t> memoryRecord)>;

    virtual ~TABSIndexRecordSource() = default;
    // Reads the memory record of `id` as `session` sees it; false when there is no such record.
    [[nodiscard]] virtual bool ReadRecord(TABSSessionID session, const TABSRecordID& id,
                                          std::vector<std::uint8_t>& memoryRecord) = 0;
    // Visits every record of the table (any order).
    virtual void ForEachRecord(TABSSessionID session, const RecordVisitor& visit) = 0;
};

// An index of a table, by definition.
class TABSIndex {
public:
    explicit TABSIndex(TABSIndexDef definition) : definition_(std::move(definition)) {}
    virtual ~TABSIndex() = default;
    TABSIndex(const TABSIndex&) = delete;
    TABSIndex& operator=(const TABSIndex&) = delete;

    [[nodiscard]] const TABSIndexDef& Definition() const noexcept { return definition_; }
    [[nodiscard]] const std::string& Name() const noexcept { return definition_.Name; }
    [[nodiscard]] std::int32_t ObjectID() const noexcept { return definition_.ObjectID; }
    [[nodiscard]] bool IsTemporary() const noexcept { return definition_.Temporary; }

protected:
    TABSIndexDef definition_;
};

class TABSBTreeRecordIndex final : public TABSIndex {
public:
    // REQUIRES: `pages` and `records` outlive the index. The tree's root is the definition's.
    TABSBTreeRecordIndex(TABSIndexDef definition, std::vector<TABSKeyColumnLayout> layout, TABSPageManager& pages,
                         TABSIndexRecordSource& records);

    [[nodiscard]] TABSPageNo RootPageNo() const noexcept { return tree_.RootPageNo(); }
    [[nodiscard]] const TABSRecordKeyRef& KeyRef() const noexcept { return keyRef_; }
    [[nodiscard]] TABSPageManager& Pages() const noexcept { return tree_.Pages(); }
    // Size of a leaf entry (key and identifier), for cost estimates.
    [[nodiscard]] std::size_t LeafEntrySize() const noexcept { return keyRef_.KeySize() + TABSRecordID::kEncodedSize; }

    // Makes the root and fills the tree from all records of the table.
    void Create(TABSSessionID session);
    // Gives every page back (the index has no tree afterwards).
    void Drop(TABSSessionID session);
    // Removes every entry; the root keeps its page number.
    void Empty(TABSSessionID session);

    // Entry maintenance. `record` is the record's memory record.
    void InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record, const TABSRecordID& id);
    // Raises 20250 "Index error: cannot delete entry. Entry not found" when the entry is missing.
    void DeleteRecord(TABSSessionID session, std::span<const std::uint8_t> record, const TABSRecordID& id);
    // Moves the record's entry when its full key changed; returns whether it did. Works whether or
    // not the record page holds the new record already.
    bool UpdateRecord(TABSSessionID session, std::span<const std::uint8_t> oldRecord,
                      std::span<const std::uint8_t> newRecord, const TABSRecordID& id);

    // Stepping in index order.
    [[nodiscard]] bool First(TABSSessionID session, TABSKeyPath& path);
    [[nodiscard]] bool Last(TABSSessionID session, TABSKeyPath& path);
    [[nodiscard]] bool Next(TABSSessionID session, TABSKeyPath& path);
    [[nodiscard]] bool Prior(TABSSessionID session, TABSKeyPath& path);
    [[nodiscard]] TABSRecordID RecordAt(TABSSessionID session, const TABSKeyPath& path);
    // A cursor's step in index order: grmNext / grmPrior move the path (false at the end); an index
    // has no "current" step of its own: grmCurrent raises 20079 "Invalid get record mode for index:
    // grmCurrent".
    [[nodiscard]] bool Step(TABSSessionID session, TABSKeyPath& path, TABSGetRecordMode mode);

    // Looks a key up (see TABSFindMode); keys come from KeyRef().ValueSearchKey or RecordSearchKey.
    [[nodiscard]] bool FindKey(TABSSessionID session, const TABSBTreeSearchKey& key, TABSFindMode mode,
                               TABSKeyPath& path);
    // The path of a record's entry; false when it is not in the index.
    [[nodiscard]] bool FindRecord(TABSSessionID session, std::span<const std::uint8_t> record, const TABSRecordID& id,
                                  TABSKeyPath& path);

    // 0-based position of a record in index order. Raises 20047 "Cannot find record position in
    // index %d, RecordID = %d %d" when its entry is missing.
    [[nodiscard]] std::uint64_t PositionOfRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                                 const TABSRecordID& id);
    // The record at a 0-based position. 20074 on an empty index, 20075 beyond the last entry.
    [[nodiscard]] TABSRecordID RecordAtPosition(TABSSessionID session, std::uint64_t position);
    [[nodiscard]] std::uint64_t EntryCount(TABSSessionID session);

    // Whether another record (not `exclude`) has a key equal to the record's full key.
    [[nodiscard]] bool KeyExists(TABSSessionID session, std::span<const std::uint8_t> record,
                                 const TABSRecordID* exclude = nullptr);

    void CheckIntegrity(TABSSessionID session);

    // The tree, for tests and the scan code's position estimates.
    [[nodiscard]] TABSBTree& Tree() noexcept { return tree_; }

private:
    // Points the key reference's record reads at `session`; while `overlay` is set, reads of its
    // identifier give its record instead of the page's.
    void Prepare(TABSSessionID session);
    void DeleteEntry(TABSSessionID session, std::span<const std::uint8_t> record, const TABSRecordID& id);

    TABSIndexRecordSource* records_;
    TABSRecordKeyRef keyRef_;
    TABSBTree tree_;
    TABSSessionID session_ = kInvalidSessionID;
    TABSRecordID overlayId_;
    std::span<const std::uint8_t> overlayRecord_;
};

} // namespace kova
