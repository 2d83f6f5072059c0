// Binary sort keys of texts in the collation that text values compare with.
//
// Sorting many distinct texts by the collation costs one collation comparison per step of the
// sort; a key computed once per text turns every later step into a byte comparison. The keys come
// from the collator CompareText uses. Their order is only a proposal: callers confirm it with
// CompareText on neighbours, which is also how ties are found, so a key that disagreed with
// CompareText could never change a result.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

class TABSCollationKeys {
public:
    // The keys of `texts` (UTF-8), in the same order; nothing when no collator could be opened
    // or a text is not valid UTF-8 (the caller then compares the texts themselves).
    [[nodiscard]] static std::optional<TABSCollationKeys> Make(const std::vector<std::string_view>& texts,
                                                               bool ignoreCase);

    [[nodiscard]] std::size_t Count() const noexcept { return offsets_.size() - 1; }
    // Keys compare as unsigned bytes.
    [[nodiscard]] std::string_view Key(std::size_t index) const noexcept {
        return std::string_view(bytes_).substr(offsets_[index], offsets_[index + 1] - offsets_[index]);
    }

private:
    TABSCollationKeys() = default;

    std::string bytes_;                // every key, one after the other
    std::vector<std::size_t> offsets_; // where each key starts; one more entry for the end
};

} // namespace kova
