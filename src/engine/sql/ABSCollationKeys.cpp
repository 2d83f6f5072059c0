#include "engine/sql/ABSCollationKeys.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"

namespace kova {

std::optional<TABSCollationKeys> TABSCollationKeys::Make(const std::vector<std::string_view>& texts,
                                                         bool ignoreCase) {
    TABSCollationKeys keys;
    keys.offsets_.reserve(texts.size() + 1);
    keys.offsets_.push_back(0);
    keys.bytes_.reserve(texts.size() * 16);
    try {
        for (const std::string_view text : texts) {
            if (!AppendSortKey(text, ignoreCase, keys.bytes_)) return std::nullopt;
            keys.offsets_.push_back(keys.bytes_.size());
        }
    } catch (const EABSException&) {
        return std::nullopt;  // no collator: the caller compares the texts themselves
    }
    return keys;
}

} // namespace kova
