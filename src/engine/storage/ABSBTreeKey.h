// Keys of a B+ tree: what a search looks for, and the key reference that knows a tree's key layout
// and how keys compare.
//
// The tree itself never interprets key bytes. It hands a search key and a stored entry to its key
// reference, which answers "before, equal or after". Stored entries of inner nodes carry no value
// (their value part is a child page number), so a comparison that needs the entry's value (the
// record identifier of a record index) asks a TABSEntryValueSource, which the tree answers by
// descending to the first leaf entry under that child: an inner node's key is always the first key
// of its subtree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kova {

inline constexpr int kIndexPointerNilError = 20077;     // "Pointer is nil"
inline constexpr int kIndexInvalidParamsError = 20078;  // "Index error: invalid params"

// A key to look for. The layout of `Key` belongs to the tree's key reference (TABSPageKeyRef: the
// page number; TABSRecordKeyRef: the full key of the first ColumnCount columns).
struct TABSBTreeSearchKey {
    std::vector<std::uint8_t> Key;
    // Record keys: the number of leading columns that take part; 0 = all.
    std::size_t ColumnCount = 0;
    // Record keys: text parts compare only as many characters as the search value has.
    bool Partial = false;
    // When not empty, entries whose keys equal the search key are further ordered by their value
    // against this one (exact lookups of one record's entry).
    std::vector<std::uint8_t> Value;
};

// Gives the value (leaf value bytes) that belongs to a stored entry, fetched only when asked.
class TABSEntryValueSource {
public:
    virtual ~TABSEntryValueSource() = default;
    [[nodiscard]] virtual std::span<const std::uint8_t> EntryValue() = 0;
};

// A value that is at hand already (leaf entries).
class TABSFixedEntryValue final : public TABSEntryValueSource {
public:
    explicit TABSFixedEntryValue(std::span<const std::uint8_t> value) noexcept : value_(value) {}
    [[nodiscard]] std::span<const std::uint8_t> EntryValue() override { return value_; }

private:
    std::span<const std::uint8_t> value_;
};

// Key layout and comparison of one tree.
class TABSBTreeKeyRef {
public:
    virtual ~TABSBTreeKeyRef() = default;

    // K: bytes of a stored key.
    [[nodiscard]] virtual std::size_t KeySize() const noexcept = 0;
    // V: bytes of a leaf value.
    [[nodiscard]] virtual std::size_t LeafValueSize() const noexcept = 0;

    // Orders `search` against a stored entry: < 0 when the search key sorts before it, 0 when
    // equal, > 0 after. When `search.Value` is set and the keys are equal, the values decide.
    [[nodiscard]] virtual int CompareSearch(const TABSBTreeSearchKey& search, std::span<const std::uint8_t> entryKey,
                                            TABSEntryValueSource& entryValue) const = 0;

    // Orders two stored entries by key and then by value (the integrity check).
    [[nodiscard]] virtual int CompareEntries(std::span<const std::uint8_t> key1, TABSEntryValueSource& value1,
                                             std::span<const std::uint8_t> key2,
                                             TABSEntryValueSource& value2) const = 0;
};

// Keys of the page indexes: a page number (int32, compared signed) with a uint16 value.
class TABSPageKeyRef final : public TABSBTreeKeyRef {
public:
    static constexpr std::size_t kKeySize = 4;
    static constexpr std::size_t kValueSize = 2;

    [[nodiscard]] std::size_t KeySize() const noexcept override { return kKeySize; }
    [[nodiscard]] std::size_t LeafValueSize() const noexcept override { return kValueSize; }
    [[nodiscard]] int CompareSearch(const TABSBTreeSearchKey& search, std::span<const std::uint8_t> entryKey,
                                    TABSEntryValueSource& entryValue) const override;
    [[nodiscard]] int CompareEntries(std::span<const std::uint8_t> key1, TABSEntryValueSource& value1,
                                     std::span<const std::uint8_t> key2,
                                     TABSEntryValueSource& value2) const override;

    [[nodiscard]] static TABSBTreeSearchKey SearchKey(std::int32_t pageNo);
    [[nodiscard]] static std::vector<std::uint8_t> EncodeKey(std::int32_t pageNo);
    [[nodiscard]] static std::int32_t DecodeKey(std::span<const std::uint8_t> key) noexcept;
};

} // namespace kova
