#include "engine/core/Collation.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/FormatSettings.h"
#include "engine/core/TextCodec.h"

#include <unicode/ucasemap.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace kova {

namespace {

struct CollatorCloser {
    void operator()(UCollator* c) const noexcept { ucol_close(c); }
};
struct CaseMapCloser {
    void operator()(UCaseMap* m) const noexcept { ucasemap_close(m); }
};

std::mutex gLocaleMutex;
std::string gLocale;
bool gLocaleSet = false;
// Bumped on every locale change; 0 is never a valid generation so fresh caches always reload.
std::atomic<std::uint64_t> gGeneration{1};

std::string CurrentLocaleLocked() {
    if (!gLocaleSet) {
        gLocale = EnvironmentLocale("LC_COLLATE");
        gLocaleSet = true;
    }
    return gLocale;
}

[[noreturn]] void RaiseUnavailable() {
    RaiseError(kCollationUnavailableError, "Unicode is not supported by the system");
}

std::unique_ptr<UCollator, CollatorCloser> OpenCollator(const std::string& locale, UCollationStrength strength) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollator, CollatorCloser> collator(ucol_open(locale.c_str(), &status));
    if (U_FAILURE(status) || !collator) RaiseUnavailable();
    ucol_setStrength(collator.get(), strength);
    // String-sort mode: blanks and punctuation count as characters.
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    // Canonically equivalent spellings (precomposed or combining umlaut) compare equal.
    ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    if (U_FAILURE(status)) RaiseUnavailable();
    return collator;
}

// The collators and case map of one thread, for one generation of the locale.
class ThreadCache {
public:
    void Refresh() {
        const std::uint64_t generation = gGeneration.load(std::memory_order_acquire);
        if (generation == generation_) return;
        std::string locale;
        {
            std::lock_guard lock(gLocaleMutex);
            locale = CurrentLocaleLocked();
        }
        // Reset first: if opening fails, the next call retries instead of using stale objects.
        generation_ = 0;
        caseSensitive_ = OpenCollator(locale, UCOL_TERTIARY);
        ignoreCase_ = OpenCollator(locale, UCOL_SECONDARY);
        UErrorCode status = U_ZERO_ERROR;
        caseMap_.reset(ucasemap_open(locale.c_str(), 0, &status));
        if (U_FAILURE(status) || !caseMap_) RaiseUnavailable();
        locale_ = std::move(locale);
        generation_ = generation;
    }

    [[nodiscard]] const UCollator* Collator(bool ignoreCase) const {
        return ignoreCase ? ignoreCase_.get() : caseSensitive_.get();
    }
    [[nodiscard]] const UCaseMap* CaseMap() const { return caseMap_.get(); }
    [[nodiscard]] const std::string& Locale() const { return locale_; }

private:
    std::uint64_t generation_ = 0;
    std::unique_ptr<UCollator, CollatorCloser> caseSensitive_;
    std::unique_ptr<UCollator, CollatorCloser> ignoreCase_;
    std::unique_ptr<UCaseMap, CaseMapCloser> caseMap_;
    std::string locale_;
};

ThreadCache& Cache() {
    thread_local ThreadCache cache;
    cache.Refresh();
    return cache;
}

int MapResult(UCollationResult result) {
    switch (result) {
    case UCOL_LESS:
        return -1;
    case UCOL_EQUAL:
        return 0;
    case UCOL_GREATER:
        return 1;
    }
    RaiseError(kCollationResultError, "Unknown return code: %d", {static_cast<int>(result)});
}

// The first `count` code points of a UTF-16 text.
std::u16string_view WidePrefix(std::u16string_view text, std::size_t count) {
    std::size_t i = 0;
    const auto length = static_cast<int32_t>(text.size());
    auto pos = static_cast<int32_t>(0);
    while (i < count && pos < length) {
        U16_FWD_1(text.data(), pos, length);
        ++i;
    }
    return text.substr(0, static_cast<std::size_t>(pos));
}

std::size_t WideLength(std::u16string_view text) {
    return static_cast<std::size_t>(u_countChar32(reinterpret_cast<const UChar*>(text.data()),
                                                  static_cast<int32_t>(text.size())));
}

std::string MapUtf8(std::string_view text, bool upper) {
    if (text.empty()) return {};
    const UCaseMap* map = Cache().CaseMap();
    auto fn = upper ? ucasemap_utf8ToUpper : ucasemap_utf8ToLower;
    std::string out(text.size() + 8, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = fn(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                  static_cast<int32_t>(text.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        if (U_FAILURE(status)) RaiseUnavailable();
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
    RaiseUnavailable();
}

std::u16string MapUtf16(std::u16string_view text, bool upper) {
    if (text.empty()) return {};
    const std::string& locale = Cache().Locale();
    auto fn = upper ? u_strToUpper : u_strToLower;
    std::u16string out(text.size() + 8, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = fn(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                                  reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()),
                                  locale.c_str(), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        if (U_FAILURE(status)) RaiseUnavailable();
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
    RaiseUnavailable();
}

} // namespace

void SetCollationLocale(std::string_view localeName) {
    std::string locale(localeName);
    if (locale == "C" || locale == "POSIX") locale.clear();
    std::lock_guard lock(gLocaleMutex);
    gLocale = std::move(locale);
    gLocaleSet = true;
    gGeneration.fetch_add(1, std::memory_order_acq_rel);
}

std::string CollationLocale() {
    std::lock_guard lock(gLocaleMutex);
    return CurrentLocaleLocked();
}

int CompareText(std::string_view left, std::string_view right, bool ignoreCase, bool partial) {
    if (partial) left = Utf8Prefix(left, Utf8Length(right));
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        ucol_strcollUTF8(Cache().Collator(ignoreCase), left.data(), static_cast<int32_t>(left.size()), right.data(),
                         static_cast<int32_t>(right.size()), &status);
    if (U_FAILURE(status)) RaiseUnavailable();
    return MapResult(result);
}

int CompareWideText(std::u16string_view left, std::u16string_view right, bool ignoreCase, bool partial) {
    if (partial) left = WidePrefix(left, WideLength(right));
    const UCollationResult result =
        ucol_strcoll(Cache().Collator(ignoreCase), reinterpret_cast<const UChar*>(left.data()),
                     static_cast<int32_t>(left.size()), reinterpret_cast<const UChar*>(right.data()),
                     static_cast<int32_t>(right.size()));
    return MapResult(result);
}

bool AppendSortKey(std::string_view text, bool ignoreCase, std::string& key) {
    const UCollator* collator = Cache().Collator(ignoreCase);
    thread_local std::u16string wide;
    thread_local std::string buffer(64, '\0');
    UErrorCode status = U_ZERO_ERROR;
    std::int32_t units = 0;
    wide.resize(text.size());
    u_strFromUTF8(reinterpret_cast<UChar*>(wide.data()), static_cast<std::int32_t>(wide.size()), &units, text.data(),
                  static_cast<std::int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return false;
    const auto sortKey = [&] {
        return ucol_getSortKey(collator, reinterpret_cast<const UChar*>(wide.data()), units,
                               reinterpret_cast<std::uint8_t*>(buffer.data()), static_cast<std::int32_t>(buffer.size()));
    };
    std::int32_t length = sortKey();
    if (length > static_cast<std::int32_t>(buffer.size())) {
        buffer.resize(static_cast<std::size_t>(length));
        length = sortKey();
    }
    if (length <= 0 || length > static_cast<std::int32_t>(buffer.size())) return false;
    key.append(buffer.data(), static_cast<std::size_t>(length) - 1);
    return true;
}

std::string UpperCaseText(std::string_view text) { return MapUtf8(text, true); }
std::string LowerCaseText(std::string_view text) { return MapUtf8(text, false); }
std::u16string UpperCaseWideText(std::u16string_view text) { return MapUtf16(text, true); }
std::u16string LowerCaseWideText(std::u16string_view text) { return MapUtf16(text, false); }

} // namespace kova
