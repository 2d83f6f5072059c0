// A growable array of 32-bit integers: lists of page numbers (a large BLOB's pages, pages to give
// back) and similar lists that grow one entry at a time.
#pragma once

#include "engine/core/ABSExcept.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kova {

// 20099 "Index error: invalid position" for an index outside the array.
inline constexpr int kIntegerArrayPositionError = 20099;

class TABSIntegerArray {
public:
    TABSIntegerArray() = default;
    explicit TABSIntegerArray(std::vector<std::int32_t> values) : values_(std::move(values)) {}

    [[nodiscard]] std::size_t Count() const noexcept { return values_.size(); }
    [[nodiscard]] bool Empty() const noexcept { return values_.empty(); }
    [[nodiscard]] std::span<const std::int32_t> Values() const noexcept { return values_; }

    // Raise 20099 for an index at or beyond Count().
    [[nodiscard]] std::int32_t At(std::size_t index) const {
        Check(index);
        return values_[index];
    }
    void Set(std::size_t index, std::int32_t value) {
        Check(index);
        values_[index] = value;
    }

    void Append(std::int32_t value) { values_.push_back(value); }
    // Inserts before `index` (index == Count() appends); 20099 beyond that.
    void Insert(std::size_t index, std::int32_t value) {
        if (index > values_.size())
            RaiseError(kIntegerArrayPositionError, "Index error: invalid position");
        values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(index), value);
    }
    void Delete(std::size_t index) {
        Check(index);
        values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void Clear() noexcept { values_.clear(); }
    // Reserves room for `count` values without changing the contents.
    void Reserve(std::size_t count) { values_.reserve(count); }

    // Index of the first occurrence of `value`; -1 when absent.
    [[nodiscard]] std::ptrdiff_t IndexOf(std::int32_t value) const noexcept {
        auto it = std::find(values_.begin(), values_.end(), value);
        return it == values_.end() ? -1 : it - values_.begin();
    }
    [[nodiscard]] bool Contains(std::int32_t value) const noexcept { return IndexOf(value) >= 0; }
    void Sort() { std::sort(values_.begin(), values_.end()); }

    friend bool operator==(const TABSIntegerArray&, const TABSIntegerArray&) = default;

private:
    void Check(std::size_t index) const {
        if (index >= values_.size())
            RaiseError(kIntegerArrayPositionError, "Index error: invalid position");
    }

    std::vector<std::int32_t> values_;
};

} // namespace kova
