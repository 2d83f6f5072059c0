#include "engine/sql/ABSCollationKeys.h"

#include "engine/core/Collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <memory>

namespace kova {

namespace {

struct CollatorCloser {
    void operator()(UCollator* c) const noexcept { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

// Opened as the comparison of text values opens its collators: tertiary strength, or secondary
// when case is ignored; blanks and punctuation significant; canonical equivalents equal.
[[nodiscard]] CollatorPtr OpenCollator(const std::string& locale, bool ignoreCase) {
    UErrorCode status = U_ZERO_ERROR;
    CollatorPtr collator(ucol_open(locale.c_str(), &status));
    if (U_FAILURE(status) || !collator) return nullptr;
    ucol_setStrength(collator.get(), ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY);
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    if (U_FAILURE(status)) return nullptr;
    return collator;
}

// The collators of one thread for the locale they were opened for; reopened when it changes.
class ThreadCollators {
public:
    [[nodiscard]] const UCollator* For(bool ignoreCase) {
        std::string locale = CollationLocale();
        if (locale != locale_ || !opened_) {
            caseSensitive_ = OpenCollator(locale, false);
            ignoreCase_ = OpenCollator(locale, true);
            locale_ = std::move(locale);
            opened_ = true;
        }
        return ignoreCase ? ignoreCase_.get() : caseSensitive_.get();
    }

private:
    std::string locale_;
    bool opened_ = false;
    CollatorPtr caseSensitive_;
    CollatorPtr ignoreCase_;
};

} // namespace

std::optional<TABSCollationKeys> TABSCollationKeys::Make(const std::vector<std::string_view>& texts,
                                                         bool ignoreCase) {
    thread_local ThreadCollators collators;
    const UCollator* collator = collators.For(ignoreCase);
    if (collator == nullptr) return std::nullopt;

    TABSCollationKeys keys;
    keys.offsets_.reserve(texts.size() + 1);
    keys.offsets_.push_back(0);
    keys.bytes_.reserve(texts.size() * 16);
    std::u16string wide;
    std::string key(64, '\0');
    for (const std::string_view text : texts) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t units = 0;
        wide.resize(text.size());
        u_strFromUTF8(reinterpret_cast<UChar*>(wide.data()), static_cast<int32_t>(wide.size()), &units, text.data(),
                      static_cast<int32_t>(text.size()), &status);
        if (U_FAILURE(status)) return std::nullopt;
        int32_t length = ucol_getSortKey(collator, reinterpret_cast<const UChar*>(wide.data()), units,
                                         reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
        if (length <= 0) return std::nullopt;
        if (static_cast<std::size_t>(length) > key.size()) {
            key.resize(static_cast<std::size_t>(length));
            length = ucol_getSortKey(collator, reinterpret_cast<const UChar*>(wide.data()), units,
                                     reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
            if (length <= 0 || static_cast<std::size_t>(length) > key.size()) return std::nullopt;
        }
        // The key ends in a zero byte, which every key has and which orders nothing.
        keys.bytes_.append(key.data(), static_cast<std::size_t>(length) - 1);
        keys.offsets_.push_back(keys.bytes_.size());
    }
    return keys;
}

} // namespace kova
