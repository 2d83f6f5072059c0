// The B+ tree shared by record indexes and page indexes: search, insert with splits, delete with
// merges and root collapse, stepping, positions and the integrity check.
//
// Shape. All leaves are on one level and chained through their previous/next links in key order;
// every inner level is chained the same way. Inner-node entry i leads to the keys from its own key
// up to the key of entry i + 1; entry 0 leads to everything below entry 1's key and its key is never
// compared. This implementation keeps one invariant on top of the page format: an inner entry's key
// is always the first key of its child's subtree. Splits set it, and whenever the first entry of a
// page changes the separators above are refreshed. With it, an entry can be found exactly (key and
// value) even when equal keys are spread over several leaves.
//
// The root page keeps its page number for the life of the tree: a root split moves the root's
// entries into two new pages, and a collapse copies the only child back into the root.
//
// Sessions. Every operation runs in one session's page set; changes commit or roll back with it.
// A key path is valid until the tree changes.
#pragma once

#include "engine/storage/ABSBTreeKey.h"
#include "engine/storage/ABSBTreePage.h"
#include "engine/storage/ABSPage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kova {

inline constexpr int kInvalidKeyPathError = 20051;       // "Invalid index key path" (other tree)
inline constexpr int kInvalidKeyPathDepthError = 20052;  // "Invalid index key path" (other depth)
inline constexpr int kEmptyIndexPositionError = 20074;   // "Cannot retreive record from empty index"
inline constexpr int kPositionBeyondCountError = 20075;  // "Cannot set RecNo greater than RecordCount"

// The five ways of looking a key up. The numbers are the ones scan conditions store.
enum class TABSFindMode : std::uint8_t {
    FirstEqual = 1,      // first entry equal to the key
    LastBelow = 2,       // last entry below the key
    FirstAbove = 3,      // first entry above the key
    LastAtOrBelow = 4,   // last entry at or below the key
    FirstAtOrAbove = 5,  // first entry at or above the key
};

// The path from the root to one entry: per level the page, the entry index and the page's entry
// count. At most 32 levels.
class TABSKeyPath {
public:
    static constexpr std::size_t kMaxDepth = 32;

    struct Level {
        TABSPageNo PageNo = kNoPage;
        std::size_t EntryNo = 0;
        std::size_t Count = 0;
    };

    [[nodiscard]] std::size_t Depth() const noexcept { return depth_; }
    [[nodiscard]] bool Empty() const noexcept { return depth_ == 0; }
    void Clear() noexcept { depth_ = 0; }
    // Raises 20028 when the tree is deeper than 32 levels (a looping tree).
    void Push(TABSPageNo pageNo, std::size_t entryNo, std::size_t count);
    void Pop() noexcept {
        if (depth_ > 0) --depth_;
    }
    void Truncate(std::size_t depth) noexcept {
        if (depth < depth_) depth_ = depth;
    }
    // REQUIRES: level < Depth().
    [[nodiscard]] const Level& At(std::size_t level) const noexcept { return levels_[level]; }
    [[nodiscard]] Level& At(std::size_t level) noexcept { return levels_[level]; }
    [[nodiscard]] const Level& Leaf() const noexcept { return levels_[depth_ - 1]; }
    [[nodiscard]] Level& Leaf() noexcept { return levels_[depth_ - 1]; }

    // Orders two positions of one tree level by level by entry index: < 0, 0, > 0. Raises 20051
    // "Invalid index key path" for paths that start at different roots and 20052 for paths of
    // different depth.
    [[nodiscard]] static int Compare(const TABSKeyPath& a, const TABSKeyPath& b);

    // Where the path lies in its tree, from 0 (first entry) towards 1: the sum over the levels,
    // from the root down, of the entry index divided by the product of the entry counts of that
    // level and all levels above it.
    [[nodiscard]] double RelativePosition() const noexcept;

private:
    std::array<Level, kMaxDepth> levels_{};
    std::size_t depth_ = 0;
};

class TABSBTree {
public:
    // REQUIRES: `pages` and `keyRef` outlive the tree.
    TABSBTree(TABSPageManager& pages, const TABSBTreeKeyRef& keyRef, TABSPageNo rootPageNo = kNoPage) noexcept
        : pages_(&pages), keyRef_(&keyRef), root_(rootPageNo) {}

    [[nodiscard]] TABSPageNo RootPageNo() const noexcept { return root_; }
    void SetRootPageNo(TABSPageNo pageNo) noexcept { root_ = pageNo; }
    [[nodiscard]] const TABSBTreeKeyRef& KeyRef() const noexcept { return *keyRef_; }
    [[nodiscard]] TABSPageManager& Pages() const noexcept { return *pages_; }

    // Makes an empty root leaf and returns its page number.
    TABSPageNo CreateRoot(TABSSessionID session);
    // Gives every page of the tree back; the tree has no root afterwards.
    void Drop(TABSSessionID session);
    // Gives every page but the root back and makes the root an empty leaf again (same number).
    void Clear(TABSSessionID session);
    // Every page of the tree, level by level from the root (repair). Raises like the walks of
    // Drop for looping links, 20100 without a root.
    [[nodiscard]] std::vector<TABSPageNo> PageNumbers(TABSSessionID session) const;

    // Inserts an entry; `position` orders it among the others (for record keys the full key with
    // the record identifier as value). Raises 20100 without a root and 20099 "Index error: invalid
    // position" when an equal entry (key and, for record keys, value) is there already.
    void Insert(TABSSessionID session, const TABSBTreeSearchKey& position, std::span<const std::uint8_t> key,
                std::span<const std::uint8_t> value);
    // The same for key references whose search keys have the stored key's layout (page keys).
    void Insert(TABSSessionID session, std::span<const std::uint8_t> key, std::span<const std::uint8_t> value);
    // Deletes the entry that `exact` finds with mode FirstEqual (normally a search key with a
    // value). Returns false when there is none.
    [[nodiscard]] bool Delete(TABSSessionID session, const TABSBTreeSearchKey& exact);
    // Deletes the entry at `path` (from a search without changes since).
    void DeleteAt(TABSSessionID session, const TABSKeyPath& path);

    // Finds an entry by mode and fills `path`; false when none qualifies.
    [[nodiscard]] bool Find(TABSSessionID session, const TABSBTreeSearchKey& key, TABSFindMode mode, TABSKeyPath& path);
    [[nodiscard]] bool First(TABSSessionID session, TABSKeyPath& path);
    [[nodiscard]] bool Last(TABSSessionID session, TABSKeyPath& path);
    // Steps to the next / prior entry; false (path unchanged) at the end.
    [[nodiscard]] bool Next(TABSSessionID session, TABSKeyPath& path);
    [[nodiscard]] bool Prior(TABSSessionID session, TABSKeyPath& path);

    // The entry at a path.
    [[nodiscard]] std::vector<std::uint8_t> KeyAt(TABSSessionID session, const TABSKeyPath& path);
    [[nodiscard]] std::vector<std::uint8_t> ValueAt(TABSSessionID session, const TABSKeyPath& path);
    void SetValueAt(TABSSessionID session, const TABSKeyPath& path, std::span<const std::uint8_t> value);

    // Number of entries (walks the leaf chain).
    [[nodiscard]] std::uint64_t EntryCount(TABSSessionID session);
    // The path of the entry at 0-based position `position` in key order. Raises 20074 on an
    // empty tree and 20075 for a position at or beyond the entry count.
    [[nodiscard]] TABSKeyPath PathAtPosition(TABSSessionID session, std::uint64_t position);
    // 0-based position of the entry at `path`.
    [[nodiscard]] std::uint64_t PositionOf(TABSSessionID session, const TABSKeyPath& path);

    // Visits the entries of one leaf, forwards or backwards, until `visit` returns false.
    using EntryVisitor = std::function<bool(std::span<const std::uint8_t> key, std::span<const std::uint8_t> value)>;
    void VisitLeafEntries(TABSSessionID session, TABSPageNo leafPageNo, bool backwards, const EntryVisitor& visit);
    // Visits every entry in key order along the leaf chain until `visit` returns false.
    void VisitAll(TABSSessionID session, const EntryVisitor& visit);
    // Page numbers of the first and last leaf.
    [[nodiscard]] TABSPageNo FirstLeafPageNo(TABSSessionID session);
    [[nodiscard]] TABSPageNo LastLeafPageNo(TABSSessionID session);

    // Walks the whole tree and raises on the first fault: 20028 "Index integrity violated.
    // PageNo=%d EntryNo=%d" for entries out of order, a separator that is not its child's first
    // key, or broken sibling links; "… Circular links. …" for a child link that loops; "… Invlaid
    // leaf link. …" for a child that is not a leaf where a leaf is expected (or the reverse).
    void CheckIntegrity(TABSSessionID session);

private:
    class InnerValueSource;

    [[nodiscard]] TABSBTreePage OpenPage(TABSSessionID session, TABSPageNo pageNo) const;
    [[nodiscard]] TABSBTreePage OpenRoot(TABSSessionID session) const;
    void RequireRoot() const;
    [[nodiscard]] int CompareAt(TABSSessionID session, const TABSBTreeSearchKey& key, const TABSBTreePage& page,
                                std::size_t index) const;
    // First entry index of `page` whose entry is not below (`strict` false) / above (`strict` true)
    // the key; inner nodes start at entry 1.
    [[nodiscard]] std::size_t LowerBoundInPage(TABSSessionID session, const TABSBTreeSearchKey& key,
                                               const TABSBTreePage& page, bool upper) const;
    // Descends to the leaf where the first entry not below (upper: above) the key lies.
    void DescendBound(TABSSessionID session, const TABSBTreeSearchKey& key, bool upper, TABSKeyPath& path);
    void DescendEdge(TABSSessionID session, TABSPageNo pageNo, bool last, TABSKeyPath& path);
    [[nodiscard]] bool NormalizeForward(TABSSessionID session, TABSKeyPath& path);

    void InsertIntoLevel(TABSSessionID session, TABSKeyPath& path, std::size_t level, std::size_t index,
                         std::span<const std::uint8_t> key, std::span<const std::uint8_t> value);
    void SplitRoot(TABSSessionID session, TABSBTreePage& root, std::vector<std::uint8_t> entries, std::size_t count);
    void RemoveFromLevel(TABSSessionID session, TABSKeyPath& path, std::size_t level);
    void RefreshSeparators(TABSSessionID session, const TABSKeyPath& path, std::size_t level,
                           std::span<const std::uint8_t> firstKey);
    void CollapseRoot(TABSSessionID session);
    [[nodiscard]] std::vector<TABSPageNo> SubtreePages(TABSSessionID session, TABSPageNo pageNo) const;
    void FreeSubtree(TABSSessionID session, TABSPageNo pageNo, bool keepThisPage);
    struct IntegrityState;
    void CheckSubtree(TABSSessionID session, TABSPageNo pageNo, TABSPageNo parentNo, std::size_t parentEntry,
                      std::size_t depth, IntegrityState& state);

    TABSPageManager* pages_;
    const TABSBTreeKeyRef* keyRef_;
    TABSPageNo root_;
};

} // namespace kova
