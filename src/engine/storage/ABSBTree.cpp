#include "engine/storage/ABSBTree.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_set>

namespace kova {

namespace {

[[noreturn]] void RaiseIntegrity(TABSPageNo pageNo, std::int64_t entryNo) {
    RaiseError(kIndexIntegrityError, "Index integrity violated. PageNo=%d EntryNo=%d",
               {static_cast<long long>(pageNo), static_cast<long long>(entryNo)});
}

[[noreturn]] void RaiseCircular(TABSPageNo pageNo, std::int64_t entryNo) {
    RaiseError(kIndexIntegrityError, "Index integrity violated. Circular links. PageNo=%d EntryNo=%d",
               {static_cast<long long>(pageNo), static_cast<long long>(entryNo)});
}

[[noreturn]] void RaiseLeafLink(TABSPageNo pageNo, std::int64_t entryNo) {
    RaiseError(kIndexIntegrityError, "Index integrity violated. Invlaid leaf link. PageNo=%d EntryNo=%d",
               {static_cast<long long>(pageNo), static_cast<long long>(entryNo)});
}

std::vector<std::uint8_t> ChildValue(TABSPageNo child) {
    std::vector<std::uint8_t> bytes(kNodeValueSize);
    WriteI32(bytes.data(), child);
    return bytes;
}

// A tree deeper than this, or a chain longer than the file could hold, is looping.
constexpr std::size_t kMaxChainSteps = 0x7FFFFFFF;

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSKeyPath

void TABSKeyPath::Push(TABSPageNo pageNo, std::size_t entryNo, std::size_t count) {
    if (depth_ >= kMaxDepth)
        RaiseCircular(pageNo, static_cast<std::int64_t>(entryNo));
    levels_[depth_++] = {pageNo, entryNo, count};
}

int TABSKeyPath::Compare(const TABSKeyPath& a, const TABSKeyPath& b) {
    if (a.depth_ == 0 || b.depth_ == 0 || a.levels_[0].PageNo != b.levels_[0].PageNo)
        RaiseError(kInvalidKeyPathError, "Invalid index key path");
    if (a.depth_ != b.depth_)
        RaiseError(kInvalidKeyPathDepthError, "Invalid index key path");
    for (std::size_t i = 0; i < a.depth_; ++i) {
        if (a.levels_[i].EntryNo != b.levels_[i].EntryNo)
            return a.levels_[i].EntryNo < b.levels_[i].EntryNo ? -1 : 1;
    }
    return 0;
}

double TABSKeyPath::RelativePosition() const noexcept {
    double position = 0;
    double scale = 1;
    for (std::size_t i = 0; i < depth_; ++i) {
        if (levels_[i].Count == 0)
            break;
        scale *= static_cast<double>(levels_[i].Count);
        position += static_cast<double>(levels_[i].EntryNo) / scale;
    }
    return position;
}

// ---------------------------------------------------------------------------------------------
// Value of an inner entry: the value of the first leaf entry under its child, read on demand.

class TABSBTree::InnerValueSource final : public TABSEntryValueSource {
public:
    InnerValueSource(const TABSBTree& tree, TABSSessionID session, TABSPageNo child) noexcept
        : tree_(tree), session_(session), child_(child) {}

    [[nodiscard]] std::span<const std::uint8_t> EntryValue() override {
        if (!loaded_) {
            TABSPageNo pageNo = child_;
            for (std::size_t depth = 0;; ++depth) {
                if (depth >= TABSKeyPath::kMaxDepth)
                    RaiseCircular(pageNo, 0);
                TABSBTreePage page = tree_.OpenPage(session_, pageNo);
                if (page.Count() == 0)
                    RaiseIntegrity(pageNo, 0);
                if (page.IsLeaf()) {
                    auto value = page.Value(0);
                    value_.assign(value.begin(), value.end());
                    break;
                }
                pageNo = page.ChildPageNo(0);
            }
            loaded_ = true;
        }
        return value_;
    }

private:
    const TABSBTree& tree_;
    TABSSessionID session_;
    TABSPageNo child_;
    bool loaded_ = false;
    std::vector<std::uint8_t> value_;
};

// ---------------------------------------------------------------------------------------------
// Pages

TABSBTreePage TABSBTree::OpenPage(TABSSessionID session, TABSPageNo pageNo) const {
    return TABSBTreePage::Open(*pages_, session, pageNo, keyRef_->KeySize(), keyRef_->LeafValueSize());
}

void TABSBTree::RequireRoot() const {
    if (root_ < 0)
        RaiseError(kIndexInvalidPageNumberError, "Index error: invalid page number");
}

TABSBTreePage TABSBTree::OpenRoot(TABSSessionID session) const {
    RequireRoot();
    return OpenPage(session, root_);
}

TABSPageNo TABSBTree::CreateRoot(TABSSessionID session) {
    TABSBTreePage root = TABSBTreePage::Create(*pages_, session, keyRef_->KeySize(), keyRef_->LeafValueSize(),
                                               /*leaf*/ true, /*root*/ true, /*madeAsRoot*/ true);
    root_ = root.PageNo();
    return root_;
}

std::vector<TABSPageNo> TABSBTree::SubtreePages(TABSSessionID session, TABSPageNo pageNo) const {
    // Breadth-first by levels so that a damaged tree cannot recurse without end.
    std::vector<TABSPageNo> pages;
    std::vector<TABSPageNo> level{pageNo};
    std::unordered_set<TABSPageNo> seen{pageNo};
    for (std::size_t depth = 0; !level.empty(); ++depth) {
        if (depth >= TABSKeyPath::kMaxDepth)
            RaiseCircular(pageNo, 0);
        std::vector<TABSPageNo> next;
        for (TABSPageNo current : level) {
            TABSBTreePage page = OpenPage(session, current);
            if (!page.IsLeaf()) {
                for (std::size_t i = 0; i < page.Count(); ++i) {
                    TABSPageNo child = page.ChildPageNo(i);
                    if (!seen.insert(child).second)
                        RaiseCircular(current, static_cast<std::int64_t>(i));
                    next.push_back(child);
                }
            }
            pages.push_back(current);
        }
        level = std::move(next);
    }
    return pages;
}

std::vector<TABSPageNo> TABSBTree::PageNumbers(TABSSessionID session) const {
    RequireRoot();
    return SubtreePages(session, root_);
}

void TABSBTree::FreeSubtree(TABSSessionID session, TABSPageNo pageNo, bool keepThisPage) {
    for (TABSPageNo current : SubtreePages(session, pageNo)) {
        if (!(keepThisPage && current == pageNo))
            pages_->RemovePage(session, current);
    }
}

void TABSBTree::Drop(TABSSessionID session) {
    if (root_ < 0)
        return;
    FreeSubtree(session, root_, /*keepThisPage*/ false);
    root_ = kNoPage;
}

void TABSBTree::Clear(TABSSessionID session) {
    RequireRoot();
    FreeSubtree(session, root_, /*keepThisPage*/ true);
    TABSBTreePage root = OpenRoot(session);
    root.SetLeaf(true);
    root.ReplaceEntries({}, 0);
    root.SetPrevPageNo(kNoPage);
    root.SetNextPageNo(kNoPage);
    root.SetRoot(true, /*madeAsRoot*/ true);
}

// ---------------------------------------------------------------------------------------------
// Search

int TABSBTree::CompareAt(TABSSessionID session, const TABSBTreeSearchKey& key, const TABSBTreePage& page,
                         std::size_t index) const {
    if (page.IsLeaf()) {
        TABSFixedEntryValue value(page.Value(index));
        return keyRef_->CompareSearch(key, page.Key(index), value);
    }
    InnerValueSource value(*this, session, page.ChildPageNo(index));
    return keyRef_->CompareSearch(key, page.Key(index), value);
}

std::size_t TABSBTree::LowerBoundInPage(TABSSessionID session, const TABSBTreeSearchKey& key,
                                        const TABSBTreePage& page, bool upper) const {
    // Binary search for the first entry that is not below the key (upper: that is above it).
    // Inner nodes never compare entry 0.
    std::size_t lo = page.IsLeaf() ? 0 : 1;
    std::size_t hi = page.Count();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const int c = CompareAt(session, key, page, mid);
        const bool entryQualifies = upper ? c < 0 : c <= 0;
        if (entryQualifies)
            hi = mid;
        else
            lo = mid + 1;
    }
    return std::max(lo, page.IsLeaf() ? std::size_t{0} : std::size_t{1});
}

void TABSBTree::DescendBound(TABSSessionID session, const TABSBTreeSearchKey& key, bool upper, TABSKeyPath& path) {
    path.Clear();
    TABSPageNo pageNo = root_;
    RequireRoot();
    for (;;) {
        TABSBTreePage page = OpenPage(session, pageNo);
        const std::size_t bound = LowerBoundInPage(session, key, page, upper);
        if (page.IsLeaf()) {
            path.Push(pageNo, bound, page.Count());
            return;
        }
        if (page.Count() == 0)
            RaiseIntegrity(pageNo, 0);
        // The child whose range holds the bound: the last entry below (upper: at or below) the key.
        const std::size_t child = bound - 1;
        path.Push(pageNo, child, page.Count());
        pageNo = page.ChildPageNo(child);
    }
}

void TABSBTree::DescendEdge(TABSSessionID session, TABSPageNo pageNo, bool last, TABSKeyPath& path) {
    for (;;) {
        TABSBTreePage page = OpenPage(session, pageNo);
        const std::size_t count = page.Count();
        const std::size_t index = (last && count > 0) ? count - 1 : 0;
        path.Push(pageNo, index, count);
        if (page.IsLeaf())
            return;
        if (count == 0)
            RaiseIntegrity(pageNo, 0);
        pageNo = page.ChildPageNo(index);
    }
}

namespace {

// Moves the path to entry 0 (forward) or the last entry (backward) of the neighbouring leaf.
template <typename OpenFn, typename DescendFn>
bool StepLeaf(TABSKeyPath& path, bool forward, OpenFn&& open, DescendFn&& descend) {
    if (path.Depth() < 2)
        return false;
    for (std::size_t l = path.Depth() - 1; l-- > 0;) {
        TABSKeyPath::Level& level = path.At(l);
        const bool canMove = forward ? level.EntryNo + 1 < level.Count : level.EntryNo > 0;
        if (!canMove)
            continue;
        level.EntryNo = forward ? level.EntryNo + 1 : level.EntryNo - 1;
        const TABSPageNo child = open(level.PageNo).ChildPageNo(level.EntryNo);
        path.Truncate(l + 1);
        descend(child, !forward);
        return true;
    }
    return false;
}

} // namespace

bool TABSBTree::NormalizeForward(TABSSessionID session, TABSKeyPath& path) {
    auto open = [&](TABSPageNo p) { return OpenPage(session, p); };
    auto descend = [&](TABSPageNo p, bool last) { DescendEdge(session, p, last, path); };
    std::size_t steps = 0;
    while (path.Leaf().EntryNo >= path.Leaf().Count) {
        if (!StepLeaf(path, /*forward*/ true, open, descend))
            return false;
        if (++steps > kMaxChainSteps)
            RaiseCircular(path.Leaf().PageNo, 0);
    }
    return true;
}

bool TABSBTree::First(TABSSessionID session, TABSKeyPath& path) {
    RequireRoot();
    path.Clear();
    DescendEdge(session, root_, /*last*/ false, path);
    return NormalizeForward(session, path);
}

bool TABSBTree::Last(TABSSessionID session, TABSKeyPath& path) {
    RequireRoot();
    path.Clear();
    DescendEdge(session, root_, /*last*/ true, path);
    if (path.Leaf().Count > 0)
        return true;
    // An empty last leaf (only an empty root in trees this code writes): look further left.
    path.Leaf().EntryNo = 0;
    return Prior(session, path);
}

bool TABSBTree::Next(TABSSessionID session, TABSKeyPath& path) {
    if (path.Empty())
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    if (path.Leaf().EntryNo + 1 < path.Leaf().Count) {
        ++path.Leaf().EntryNo;
        return true;
    }
    TABSKeyPath moved = path;
    moved.Leaf().EntryNo = moved.Leaf().Count;
    if (!NormalizeForward(session, moved))
        return false;
    path = moved;
    return true;
}

bool TABSBTree::Prior(TABSSessionID session, TABSKeyPath& path) {
    if (path.Empty())
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    if (path.Leaf().EntryNo > 0 && path.Leaf().Count > 0) {
        path.Leaf().EntryNo = std::min(path.Leaf().EntryNo, path.Leaf().Count) - 1;
        return true;
    }
    TABSKeyPath moved = path;
    auto open = [&](TABSPageNo p) { return OpenPage(session, p); };
    auto descend = [&](TABSPageNo p, bool last) { DescendEdge(session, p, last, moved); };
    std::size_t steps = 0;
    do {
        if (!StepLeaf(moved, /*forward*/ false, open, descend))
            return false;
        if (++steps > kMaxChainSteps)
            RaiseCircular(moved.Leaf().PageNo, 0);
    } while (moved.Leaf().Count == 0);
    path = moved;
    return true;
}

bool TABSBTree::Find(TABSSessionID session, const TABSBTreeSearchKey& key, TABSFindMode mode, TABSKeyPath& path) {
    RequireRoot();
    switch (mode) {
    case TABSFindMode::FirstEqual: {
        TABSKeyPath found;
        DescendBound(session, key, /*upper*/ false, found);
        if (!NormalizeForward(session, found))
            return false;
        TABSBTreePage leaf = OpenPage(session, found.Leaf().PageNo);
        if (CompareAt(session, key, leaf, found.Leaf().EntryNo) != 0)
            return false;
        path = found;
        return true;
    }
    case TABSFindMode::FirstAtOrAbove:
    case TABSFindMode::FirstAbove: {
        TABSKeyPath found;
        DescendBound(session, key, mode == TABSFindMode::FirstAbove, found);
        if (!NormalizeForward(session, found))
            return false;
        path = found;
        return true;
    }
    case TABSFindMode::LastBelow:
    case TABSFindMode::LastAtOrBelow: {
        TABSKeyPath found;
        DescendBound(session, key, mode == TABSFindMode::LastAtOrBelow, found);
        // The bound is the first entry not below (not at or below) the key; the one before it is
        // the answer.
        if (found.Leaf().EntryNo > 0) {
            --found.Leaf().EntryNo;
            path = found;
            return true;
        }
        if (!Prior(session, found))
            return false;
        path = found;
        return true;
    }
    }
    RaiseError(kIndexInvalidParamsError, "Index error: invalid params");
}

std::vector<std::uint8_t> TABSBTree::KeyAt(TABSSessionID session, const TABSKeyPath& path) {
    if (path.Empty())
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    TABSBTreePage leaf = OpenPage(session, path.Leaf().PageNo);
    if (path.Leaf().EntryNo >= leaf.Count())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    auto key = leaf.Key(path.Leaf().EntryNo);
    return {key.begin(), key.end()};
}

std::vector<std::uint8_t> TABSBTree::ValueAt(TABSSessionID session, const TABSKeyPath& path) {
    if (path.Empty())
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    TABSBTreePage leaf = OpenPage(session, path.Leaf().PageNo);
    if (path.Leaf().EntryNo >= leaf.Count() || !leaf.IsLeaf())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    auto value = leaf.Value(path.Leaf().EntryNo);
    return {value.begin(), value.end()};
}

void TABSBTree::SetValueAt(TABSSessionID session, const TABSKeyPath& path, std::span<const std::uint8_t> value) {
    if (path.Empty())
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    TABSBTreePage leaf = OpenPage(session, path.Leaf().PageNo);
    if (path.Leaf().EntryNo >= leaf.Count() || !leaf.IsLeaf())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    leaf.SetValue(path.Leaf().EntryNo, value);
}

// ---------------------------------------------------------------------------------------------
// Insert

void TABSBTree::Insert(TABSSessionID session, std::span<const std::uint8_t> key, std::span<const std::uint8_t> value) {
    TABSBTreeSearchKey position;
    position.Key.assign(key.begin(), key.end());
    position.Value.assign(value.begin(), value.end());
    Insert(session, position, key, value);
}

void TABSBTree::Insert(TABSSessionID session, const TABSBTreeSearchKey& position, std::span<const std::uint8_t> key,
                       std::span<const std::uint8_t> value) {
    RequireRoot();
    if (key.size() != keyRef_->KeySize() || value.size() != keyRef_->LeafValueSize())
        RaiseError(kIndexInvalidParamsError, "Index error: invalid params");

    TABSKeyPath path;
    DescendBound(session, position, /*upper*/ false, path);
    {
        // An equal entry lies at the bound, which may be the first entry of the next leaf.
        TABSKeyPath probe = path;
        if (NormalizeForward(session, probe)) {
            TABSBTreePage leaf = OpenPage(session, probe.Leaf().PageNo);
            if (CompareAt(session, position, leaf, probe.Leaf().EntryNo) == 0)
                RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
        }
    }
    // At the end of a leaf the entry stays in that leaf: the next leaf's first key, which its
    // separator repeats, does not change.
    InsertIntoLevel(session, path, path.Depth() - 1, path.Leaf().EntryNo, key, value);
}

void TABSBTree::InsertIntoLevel(TABSSessionID session, TABSKeyPath& path, std::size_t level, std::size_t index,
                                std::span<const std::uint8_t> key, std::span<const std::uint8_t> value) {
    std::vector<std::uint8_t> separator;  // first key of a page split off, for the parent
    TABSPageNo newPageNo = kNoPage;
    {
        TABSBTreePage page = OpenPage(session, path.At(level).PageNo);
        const std::size_t count = page.Count();
        if (index > count)
            RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
        if (page.Geometry().HasRoomForAnother(count)) {
            page.InsertEntry(index, key, value);
            if (index == 0 && level > 0) {
                std::vector<std::uint8_t> first(key.begin(), key.end());
                page.Release();
                RefreshSeparators(session, path, level, first);
            }
            return;
        }

        // The page would overflow: insert in a buffer one entry larger than the page, then split.
        const std::size_t entrySize = page.EntrySize();
        std::vector<std::uint8_t> entries = page.CopyEntries(0, count);
        std::vector<std::uint8_t> entry(entrySize, 0);
        std::memcpy(entry.data(), key.data(), key.size());
        std::memcpy(entry.data() + key.size(), value.data(), std::min(value.size(), entrySize - key.size()));
        entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(index * entrySize), entry.begin(), entry.end());
        const std::size_t total = count + 1;

        if (page.IsRoot()) {
            SplitRoot(session, page, std::move(entries), total);
            return;
        }

        // Entries from total div 2 onward move to a new page linked after this one.
        const std::size_t keep = total / 2;
        TABSBTreePage right = TABSBTreePage::Create(*pages_, session, keyRef_->KeySize(), keyRef_->LeafValueSize(),
                                                    page.IsLeaf(), /*root*/ false, /*madeAsRoot*/ false);
        right.ReplaceEntries(std::span(entries).subspan(keep * entrySize), total - keep);
        right.SetPrevPageNo(page.PageNo());
        right.SetNextPageNo(page.Header().NextPageNo);
        const TABSPageNo oldNext = page.Header().NextPageNo;
        page.ReplaceEntries(std::span(entries).first(keep * entrySize), keep);
        page.SetNextPageNo(right.PageNo());
        if (oldNext != kNoPage) {
            TABSBTreePage after = OpenPage(session, oldNext);
            after.SetPrevPageNo(right.PageNo());
        }
        newPageNo = right.PageNo();
        auto rightFirst = right.Key(0);
        separator.assign(rightFirst.begin(), rightFirst.end());
        if (index == 0) {
            auto first = page.Key(0);
            std::vector<std::uint8_t> firstKey(first.begin(), first.end());
            page.Release();
            right.Release();
            RefreshSeparators(session, path, level, firstKey);
        }
    }
    const std::size_t parentIndex = path.At(level - 1).EntryNo + 1;
    InsertIntoLevel(session, path, level - 1, parentIndex, separator, ChildValue(newPageNo));
}

void TABSBTree::SplitRoot(TABSSessionID session, TABSBTreePage& root, std::vector<std::uint8_t> entries,
                          std::size_t count) {
    // The root keeps its number: its entries move into two new pages and it becomes the inner node
    // above them.
    const std::size_t entrySize = root.EntrySize();
    const std::size_t half = count / 2;
    const bool leaf = root.IsLeaf();
    TABSBTreePage left = TABSBTreePage::Create(*pages_, session, keyRef_->KeySize(), keyRef_->LeafValueSize(), leaf,
                                               /*root*/ false, /*madeAsRoot*/ false);
    TABSBTreePage right = TABSBTreePage::Create(*pages_, session, keyRef_->KeySize(), keyRef_->LeafValueSize(), leaf,
                                                /*root*/ false, /*madeAsRoot*/ false);
    left.ReplaceEntries(std::span(entries).first(half * entrySize), half);
    right.ReplaceEntries(std::span(entries).subspan(half * entrySize), count - half);
    left.SetNextPageNo(right.PageNo());
    right.SetPrevPageNo(left.PageNo());

    const std::size_t keySize = keyRef_->KeySize();
    std::vector<std::uint8_t> node(2 * (keySize + kNodeValueSize), 0);
    std::memcpy(node.data(), left.Key(0).data(), keySize);
    WriteI32(node.data() + keySize, left.PageNo());
    std::memcpy(node.data() + keySize + kNodeValueSize, right.Key(0).data(), keySize);
    WriteI32(node.data() + 2 * keySize + kNodeValueSize, right.PageNo());
    root.SetLeaf(false);
    root.ReplaceEntries(node, 2);
}

void TABSBTree::RefreshSeparators(TABSSessionID session, const TABSKeyPath& path, std::size_t level,
                                  std::span<const std::uint8_t> firstKey) {
    // The first key of the page at `level` changed: every ancestor entry that leads to it as the
    // first key of its subtree takes the new key.
    for (std::size_t l = level; l > 0; --l) {
        const TABSKeyPath::Level& parentLevel = path.At(l - 1);
        TABSBTreePage parent = OpenPage(session, parentLevel.PageNo);
        parent.SetKey(parentLevel.EntryNo, firstKey);
        if (parentLevel.EntryNo != 0)
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Delete

bool TABSBTree::Delete(TABSSessionID session, const TABSBTreeSearchKey& exact) {
    TABSKeyPath path;
    if (!Find(session, exact, TABSFindMode::FirstEqual, path))
        return false;
    DeleteAt(session, path);
    return true;
}

void TABSBTree::DeleteAt(TABSSessionID session, const TABSKeyPath& path) {
    RequireRoot();
    if (path.Empty() || path.At(0).PageNo != root_)
        RaiseError(kInvalidKeyPathError, "Invalid index key path");
    TABSKeyPath work = path;
    RemoveFromLevel(session, work, work.Depth() - 1);
    CollapseRoot(session);
}

void TABSBTree::RemoveFromLevel(TABSSessionID session, TABSKeyPath& path, std::size_t level) {
    const TABSPageNo pageNo = path.At(level).PageNo;
    const std::size_t index = path.At(level).EntryNo;
    std::size_t count = 0;
    std::vector<std::uint8_t> firstKey;
    bool underfull = false;
    TABSBTreePageGeometry geometry;
    {
        TABSBTreePage page = OpenPage(session, pageNo);
        page.RemoveEntry(index);
        count = page.Count();
        if (level == 0)
            return;  // the root: a collapse is decided after the whole removal
        if (count > 0) {
            auto first = page.Key(0);
            firstKey.assign(first.begin(), first.end());
        }
        geometry = page.Geometry();
        underfull = geometry.IsUnderfull(count);
    }
    if (count > 0 && index == 0)
        RefreshSeparators(session, path, level, firstKey);
    if (!underfull)
        return;

    // Merge with a sibling under the same parent: into the previous page, else into the next one.
    TABSKeyPath::Level& parentLevel = path.At(level - 1);
    const std::size_t parentEntry = parentLevel.EntryNo;
    TABSPageNo prevSibling = kNoPage;
    TABSPageNo nextSibling = kNoPage;
    {
        TABSBTreePage parent = OpenPage(session, parentLevel.PageNo);
        if (parentEntry > 0)
            prevSibling = parent.ChildPageNo(parentEntry - 1);
        if (parentEntry + 1 < parent.Count())
            nextSibling = parent.ChildPageNo(parentEntry + 1);
    }

    // Unlinks the page from its level's chain.
    auto unlink = [&](TABSPageNo before, TABSPageNo after) {
        if (before != kNoPage) {
            TABSBTreePage p = OpenPage(session, before);
            p.SetNextPageNo(after);
        }
        if (after != kNoPage) {
            TABSBTreePage p = OpenPage(session, after);
            p.SetPrevPageNo(before);
        }
    };

    bool merged = false;
    TABSPageNo chainPrev = kNoPage;
    TABSPageNo chainNext = kNoPage;
    std::vector<std::uint8_t> entries;
    {
        TABSBTreePage page = OpenPage(session, pageNo);
        chainPrev = page.Header().PrevPageNo;
        chainNext = page.Header().NextPageNo;
        entries = page.CopyEntries(0, count);
    }
    if (prevSibling != kNoPage) {
        TABSBTreePage prev = OpenPage(session, prevSibling);
        if (geometry.CanMerge(prev.Count(), count) || count == 0) {
            if (count > 0) {
                std::vector<std::uint8_t> all = prev.CopyEntries(0, prev.Count());
                all.insert(all.end(), entries.begin(), entries.end());
                prev.ReplaceEntries(all, prev.Count() + count);
            }
            merged = true;
        }
    }
    if (!merged && nextSibling != kNoPage) {
        TABSBTreePage next = OpenPage(session, nextSibling);
        if (geometry.CanMerge(count, next.Count()) || count == 0) {
            if (count > 0) {
                std::vector<std::uint8_t> all = entries;
                std::vector<std::uint8_t> rest = next.CopyEntries(0, next.Count());
                all.insert(all.end(), rest.begin(), rest.end());
                next.ReplaceEntries(all, count + next.Count());
                next.Release();
                // The next page now starts with this page's first key.
                TABSBTreePage parent = OpenPage(session, parentLevel.PageNo);
                parent.SetKey(parentEntry + 1, firstKey);
            }
            merged = true;
        }
    }
    if (!merged && count == 0) {
        // An empty only child: it goes, and its parent loses the entry (and may go in turn).
        merged = true;
    }
    if (!merged)
        return;

    unlink(chainPrev, chainNext);
    pages_->RemovePage(session, pageNo);
    path.Truncate(level);
    RemoveFromLevel(session, path, level - 1);
}

void TABSBTree::CollapseRoot(TABSSessionID session) {
    for (std::size_t depth = 0; depth < TABSKeyPath::kMaxDepth; ++depth) {
        TABSPageNo childNo = kNoPage;
        {
            TABSBTreePage root = OpenRoot(session);
            if (root.IsLeaf())
                return;
            if (root.Count() == 0) {
                root.SetLeaf(true);
                root.ReplaceEntries({}, 0);
                return;
            }
            if (root.Count() > 1)
                return;
            childNo = root.ChildPageNo(0);
            std::vector<std::uint8_t> entries;
            bool leaf = false;
            std::size_t count = 0;
            {
                TABSBTreePage child = OpenPage(session, childNo);
                leaf = child.IsLeaf();
                count = child.Count();
                entries = child.CopyEntries(0, count);
            }
            root.SetLeaf(leaf);
            root.ReplaceEntries(entries, count);
            root.SetPrevPageNo(kNoPage);
            root.SetNextPageNo(kNoPage);
            root.SetRoot(true, root.Header().MadeAsRoot);
        }
        pages_->RemovePage(session, childNo);
    }
}

// ---------------------------------------------------------------------------------------------
// Counting and positions

TABSPageNo TABSBTree::FirstLeafPageNo(TABSSessionID session) {
    RequireRoot();
    TABSKeyPath path;
    DescendEdge(session, root_, /*last*/ false, path);
    return path.Leaf().PageNo;
}

TABSPageNo TABSBTree::LastLeafPageNo(TABSSessionID session) {
    RequireRoot();
    TABSKeyPath path;
    DescendEdge(session, root_, /*last*/ true, path);
    return path.Leaf().PageNo;
}

std::uint64_t TABSBTree::EntryCount(TABSSessionID session) {
    std::uint64_t total = 0;
    std::unordered_set<TABSPageNo> seen;
    for (TABSPageNo pageNo = FirstLeafPageNo(session); pageNo != kNoPage;) {
        if (!seen.insert(pageNo).second)
            RaiseCircular(pageNo, 0);
        TABSBTreePage leaf = OpenPage(session, pageNo);
        total += leaf.Count();
        pageNo = leaf.Header().NextPageNo;
    }
    return total;
}

TABSKeyPath TABSBTree::PathAtPosition(TABSSessionID session, std::uint64_t position) {
    TABSKeyPath path;
    if (!First(session, path))
        RaiseError(kEmptyIndexPositionError, "Cannot retreive record from empty index");
    std::uint64_t before = 0;
    auto open = [&](TABSPageNo p) { return OpenPage(session, p); };
    auto descend = [&](TABSPageNo p, bool last) { DescendEdge(session, p, last, path); };
    for (;;) {
        const std::size_t count = path.Leaf().Count;
        if (position < before + count) {
            path.Leaf().EntryNo = static_cast<std::size_t>(position - before);
            return path;
        }
        before += count;
        if (!StepLeaf(path, /*forward*/ true, open, descend))
            RaiseError(kPositionBeyondCountError, "Cannot set RecNo greater than RecordCount");
    }
}

std::uint64_t TABSBTree::PositionOf(TABSSessionID session, const TABSKeyPath& path) {
    if (path.Empty())
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    std::uint64_t before = 0;
    std::unordered_set<TABSPageNo> seen;
    for (TABSPageNo pageNo = FirstLeafPageNo(session); pageNo != kNoPage;) {
        if (pageNo == path.Leaf().PageNo)
            return before + path.Leaf().EntryNo;
        if (!seen.insert(pageNo).second)
            RaiseCircular(pageNo, 0);
        TABSBTreePage leaf = OpenPage(session, pageNo);
        before += leaf.Count();
        pageNo = leaf.Header().NextPageNo;
    }
    RaiseError(kInvalidKeyPathError, "Invalid index key path");
}

void TABSBTree::VisitLeafEntries(TABSSessionID session, TABSPageNo leafPageNo, bool backwards,
                                 const EntryVisitor& visit) {
    TABSBTreePage leaf = OpenPage(session, leafPageNo);
    if (!leaf.IsLeaf())
        RaiseError(kInternalIndexNodeError, "Internal index error");
    const std::size_t count = leaf.Count();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t index = backwards ? count - 1 - i : i;
        if (!visit(leaf.Key(index), leaf.Value(index)))
            return;
    }
}

void TABSBTree::VisitAll(TABSSessionID session, const EntryVisitor& visit) {
    std::unordered_set<TABSPageNo> seen;
    for (TABSPageNo pageNo = FirstLeafPageNo(session); pageNo != kNoPage;) {
        if (!seen.insert(pageNo).second)
            RaiseCircular(pageNo, 0);
        TABSBTreePage leaf = OpenPage(session, pageNo);
        for (std::size_t i = 0; i < leaf.Count(); ++i)
            if (!visit(leaf.Key(i), leaf.Value(i)))
                return;
        pageNo = leaf.Header().NextPageNo;
    }
}

// ---------------------------------------------------------------------------------------------
// Integrity

struct TABSBTree::IntegrityState {
    std::unordered_set<TABSPageNo> seen;
    std::optional<std::size_t> leafDepth;
    std::vector<TABSPageNo> leaves;
    std::vector<std::vector<TABSPageNo>> levels;
};

void TABSBTree::CheckIntegrity(TABSSessionID session) {
    RequireRoot();
    IntegrityState state;
    state.seen.insert(root_);
    CheckSubtree(session, root_, kNoPage, 0, 0, state);

    // Each level's chain runs through its pages in tree order.
    for (const std::vector<TABSPageNo>& level : state.levels) {
        for (std::size_t i = 0; i < level.size(); ++i) {
            TABSBTreePage page = OpenPage(session, level[i]);
            const TABSPageNo expectedPrev = i == 0 ? kNoPage : level[i - 1];
            const TABSPageNo expectedNext = i + 1 == level.size() ? kNoPage : level[i + 1];
            if (page.Header().PrevPageNo != expectedPrev || page.Header().NextPageNo != expectedNext)
                RaiseIntegrity(level[i], -1);
        }
    }
    // Keys rise across leaf boundaries too.
    const std::vector<TABSPageNo>& leaves = state.leaves;
    for (std::size_t i = 1; i < leaves.size(); ++i) {
        TABSBTreePage before = OpenPage(session, leaves[i - 1]);
        TABSBTreePage after = OpenPage(session, leaves[i]);
        if (before.Count() == 0 || after.Count() == 0)
            continue;
        TABSFixedEntryValue v1(before.Value(before.Count() - 1));
        TABSFixedEntryValue v2(after.Value(0));
        if (keyRef_->CompareEntries(before.Key(before.Count() - 1), v1, after.Key(0), v2) >= 0)
            RaiseIntegrity(leaves[i], 0);
    }
}

void TABSBTree::CheckSubtree(TABSSessionID session, TABSPageNo pageNo, TABSPageNo parentNo, std::size_t parentEntry,
                             std::size_t depth, IntegrityState& state) {
    if (depth >= TABSKeyPath::kMaxDepth)
        RaiseCircular(parentNo, static_cast<std::int64_t>(parentEntry));
    if (state.levels.size() <= depth)
        state.levels.resize(depth + 1);
    state.levels[depth].push_back(pageNo);

    TABSBTreePage page = OpenPage(session, pageNo);
    if (depth > 0 && page.IsRoot())
        RaiseIntegrity(pageNo, -1);
    // All leaves lie on one level: the level of the first leaf met.
    const bool leafLevel = state.leafDepth.has_value() && *state.leafDepth == depth;
    if (page.IsLeaf()) {
        if (state.leafDepth.has_value() && !leafLevel)
            RaiseLeafLink(parentNo, static_cast<std::int64_t>(parentEntry));
        state.leafDepth = depth;
    } else if (leafLevel) {
        RaiseLeafLink(parentNo, static_cast<std::int64_t>(parentEntry));
    }

    const std::size_t count = page.Count();
    if (page.IsLeaf()) {
        for (std::size_t i = 1; i < count; ++i) {
            TABSFixedEntryValue v1(page.Value(i - 1));
            TABSFixedEntryValue v2(page.Value(i));
            if (keyRef_->CompareEntries(page.Key(i - 1), v1, page.Key(i), v2) >= 0)
                RaiseIntegrity(pageNo, static_cast<std::int64_t>(i));
        }
        state.leaves.push_back(pageNo);
        return;
    }
    if (count == 0)
        RaiseIntegrity(pageNo, 0);
    std::vector<TABSPageNo> children(count);
    for (std::size_t i = 0; i < count; ++i) {
        children[i] = page.ChildPageNo(i);
        // A child met before (an ancestor, or a page reached twice) makes the tree a loop.
        if (!state.seen.insert(children[i]).second)
            RaiseCircular(pageNo, static_cast<std::int64_t>(i));
    }
    for (std::size_t i = 2; i < count; ++i) {
        InnerValueSource v1(*this, session, children[i - 1]);
        InnerValueSource v2(*this, session, children[i]);
        if (keyRef_->CompareEntries(page.Key(i - 1), v1, page.Key(i), v2) >= 0)
            RaiseIntegrity(pageNo, static_cast<std::int64_t>(i));
    }
    for (std::size_t i = 0; i < count; ++i) {
        {
            // Every separator is the first key of its child.
            TABSBTreePage child = OpenPage(session, children[i]);
            if (i > 0 && (child.Count() == 0 ||
                          std::memcmp(child.Key(0).data(), page.Key(i).data(), page.KeySize()) != 0))
                RaiseIntegrity(pageNo, static_cast<std::int64_t>(i));
        }
        CheckSubtree(session, children[i], pageNo, i, depth + 1, state);
    }
}

} // namespace kova
