#include "engine/storage/ABSRecordKey.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Collation.h"
#include "engine/core/TextCodec.h"

#include <unicode/ucol.h>
#include <unicode/ucoleitr.h>
#include <unicode/utf16.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

namespace kova {

namespace {

template <typename T>
int Order(T a, T b) noexcept {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Floats: NaN first, so that the order stays total.
template <typename T>
int FloatOrder(T a, T b) noexcept {
    const bool na = std::isnan(a);
    const bool nb = std::isnan(b);
    if (na || nb)
        return na == nb ? 0 : (na ? -1 : 1);
    return Order(a, b);
}

template <typename T>
T Load(const std::uint8_t* p) noexcept {
    return ReadLE<T>(p);
}

long double LoadExtended(const std::uint8_t* p) noexcept {
    long double value = 0;
    static_assert(sizeof(long double) >= 10);
    std::memcpy(&value, p, 10);
    return value;
}

std::string_view AnsiText(const std::uint8_t* p, std::size_t size) noexcept {
    const auto* chars = reinterpret_cast<const char*>(p);
    return {chars, ::strnlen(chars, size)};
}

std::u16string WideText(const std::uint8_t* p, std::size_t size) {
    std::u16string text;
    for (std::size_t i = 0; i + 2 <= size; i += 2) {
        const auto unit = static_cast<char16_t>(ReadU16(p + i));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

[[nodiscard]] bool IsAnsi(TABSBaseType t) noexcept { return t == TABSBaseType::bftChar || t == TABSBaseType::bftString; }
[[nodiscard]] bool IsWide(TABSBaseType t) noexcept {
    return t == TABSBaseType::bftWideChar || t == TABSBaseType::bftWideString;
}
[[nodiscard]] bool IsByteString(TABSBaseType t) noexcept {
    return t == TABSBaseType::bftBytes || t == TABSBaseType::bftVarBytes;
}

// ---- Primary collation weights ----------------------------------------------------------------

struct CollatorCloser {
    void operator()(UCollator* c) const noexcept { ucol_close(c); }
};
struct ElementsCloser {
    void operator()(UCollationElements* e) const noexcept { ucol_closeElements(e); }
};

// A primary-strength collator of the collation locale, per thread.
const UCollator* PrimaryCollator() {
    thread_local std::string locale;
    thread_local std::unique_ptr<UCollator, CollatorCloser> collator;
    std::string current = CollationLocale();
    if (!collator || current != locale) {
        UErrorCode status = U_ZERO_ERROR;
        collator.reset(ucol_open(current.c_str(), &status));
        if (U_FAILURE(status) || !collator)
            RaiseError(kCollationUnavailableError, "Unicode is not supported by the system");
        ucol_setStrength(collator.get(), UCOL_PRIMARY);
        ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
        ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        if (U_FAILURE(status))
            RaiseError(kCollationUnavailableError, "Unicode is not supported by the system");
        locale = std::move(current);
    }
    return collator.get();
}

std::vector<std::int32_t> PrimaryWeights(std::u16string_view text) {
    std::vector<std::int32_t> weights;
    if (text.empty())
        return weights;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCollationElements, ElementsCloser> elements(
        ucol_openElements(PrimaryCollator(), reinterpret_cast<const UChar*>(text.data()),
                          static_cast<int32_t>(text.size()), &status));
    if (U_FAILURE(status) || !elements)
        RaiseError(kCollationUnavailableError, "Unicode is not supported by the system");
    for (;;) {
        const int32_t element = ucol_next(elements.get(), &status);
        if (U_FAILURE(status))
            RaiseError(kCollationUnavailableError, "Unicode is not supported by the system");
        if (element == UCOL_NULLORDER)
            break;
        const int32_t primary = ucol_primaryOrder(element);
        if (primary != 0)
            weights.push_back(primary);
    }
    return weights;
}

// The text without its last character (a truncated prefix may have cut into it).
std::u16string_view WithoutLastCharacter(std::u16string_view text) noexcept {
    if (text.empty())
        return text;
    auto length = static_cast<int32_t>(text.size());
    U16_BACK_1(text.data(), 0, length);
    return text.substr(0, static_cast<std::size_t>(length));
}

// Whether the order of two texts, of which a truncated one is only a prefix of its value, is
// the order of the full values: there is a primary difference inside both, or the shorter one
// is complete.
bool PrimaryDifferenceSettles(std::u16string_view a, bool aTruncated, std::u16string_view b, bool bTruncated) {
    if (aTruncated)
        a = WithoutLastCharacter(a);
    if (bTruncated)
        b = WithoutLastCharacter(b);
    const std::vector<std::int32_t> wa = PrimaryWeights(a);
    const std::vector<std::int32_t> wb = PrimaryWeights(b);
    std::size_t i = 0;
    while (i < wa.size() && i < wb.size() && wa[i] == wb[i])
        ++i;
    if (i < wa.size() && i < wb.size())
        return true;
    if (i == wa.size() && i == wb.size())
        return false;
    return i == wa.size() ? !aTruncated : !bTruncated;
}

// ---- One key part ------------------------------------------------------------------------------

// A key part as one side of a comparison: the null byte's verdict and the value bytes, which are
// the whole value (full) or its first P bytes (truncated part).
struct PartView {
    const std::uint8_t* Part = nullptr;  // null byte, then the value bytes
    bool Whole = true;                    // the value bytes are all M bytes

    [[nodiscard]] bool IsNull() const noexcept { return Part[0] != 0; }
    [[nodiscard]] const std::uint8_t* Value() const noexcept { return Part + 1; }
};

// Orders two parts; nothing when truncated prefixes cannot settle it. `a` is the search side
// when `partial` is set.
std::optional<int> ComparePart(const TABSKeyColumnLayout& column, PartView a, PartView b, bool partial) {
    const bool aNull = a.IsNull();
    const bool bNull = b.IsNull();
    if (aNull || bNull)
        return aNull == bNull ? 0 : (aNull ? -1 : 1);
    const std::size_t m = column.MemorySize;
    const TABSBaseType type = column.StorageType;
    const bool text = IsAnsi(type) || IsWide(type);
    if (a.Whole && b.Whole) {
        // A partial search compares only as many characters of the entry (b) as the search value
        // (a) has.
        if (partial && text)
            return -CompareStoredValues(type, b.Value(), a.Value(), m, column.CaseInsensitive, true);
        return CompareStoredValues(type, a.Value(), b.Value(), m, column.CaseInsensitive, false);
    }

    const auto p = static_cast<std::size_t>(column.Parameter);
    const std::size_t aSize = a.Whole ? m : p;
    const std::size_t bSize = b.Whole ? m : p;
    if (text) {
        std::u16string aText;
        std::u16string bText;
        bool aCut = false;
        bool bCut = false;
        std::size_t prefixChars = 0;  // characters a truncated prefix holds at least
        if (IsAnsi(type)) {
            const std::string_view av = AnsiText(a.Value(), aSize);
            const std::string_view bv = AnsiText(b.Value(), bSize);
            aCut = !a.Whole && av.size() == aSize;
            bCut = !b.Whole && bv.size() == bSize;
            aText = Utf8ToUtf16(Cp1252ToUtf8(av));
            bText = Utf8ToUtf16(Cp1252ToUtf8(bv));
            prefixChars = p;
        } else {
            aText = WideText(a.Value(), aSize);
            bText = WideText(b.Value(), bSize);
            aCut = !a.Whole && aText.size() == aSize / 2;
            bCut = !b.Whole && bText.size() == bSize / 2;
            prefixChars = p / 2 > 0 ? p / 2 - 1 : 0;  // a surrogate pair may be cut at the end
        }
        const bool ci = column.CaseInsensitive;
        if (partial) {
            if (aCut || (bCut && aText.size() > prefixChars))
                return std::nullopt;
            return -CompareWideText(bText, aText, ci, /*partial*/ true);
        }
        const int r = CompareWideText(aText, bText, ci, false);
        if (!aCut && !bCut)
            return r;
        if (r != 0 && PrimaryDifferenceSettles(aText, aCut, bText, bCut))
            return r;
        return std::nullopt;
    }
    if (IsByteString(type)) {
        // Bytewise order: a difference inside the common prefix settles it.
        const std::size_t common = std::min(aSize, bSize);
        const int r = std::memcmp(a.Value(), b.Value(), common);
        if (r != 0)
            return r < 0 ? -1 : 1;
        return std::nullopt;
    }
    // A number cut short cannot be compared by its first bytes.
    return std::nullopt;
}

[[noreturn]] void RaiseCannotRetrieve() { RaiseError(kCannotRetrieveRecordError, "Cannot retreive record for index"); }

} // namespace

// ---------------------------------------------------------------------------------------------

int CompareStoredValues(TABSBaseType type, const std::uint8_t* a, const std::uint8_t* b, std::size_t size,
                        bool ignoreCase, bool partial) {
    switch (type) {
    case TABSBaseType::bftChar:
    case TABSBaseType::bftString:
        return CompareText(Cp1252ToUtf8(AnsiText(a, size)), Cp1252ToUtf8(AnsiText(b, size)), ignoreCase, partial);
    case TABSBaseType::bftWideChar:
    case TABSBaseType::bftWideString:
        return CompareWideText(WideText(a, size), WideText(b, size), ignoreCase, partial);
    case TABSBaseType::bftShortInt:
        return Order(Load<std::int8_t>(a), Load<std::int8_t>(b));
    case TABSBaseType::bftSmallInt:
        return Order(Load<std::int16_t>(a), Load<std::int16_t>(b));
    case TABSBaseType::bftInteger:
    case TABSBaseType::bftDate:
    case TABSBaseType::bftTime:
        return Order(Load<std::int32_t>(a), Load<std::int32_t>(b));
    case TABSBaseType::bftLargeInt:
        return Order(Load<std::int64_t>(a), Load<std::int64_t>(b));
    case TABSBaseType::bftByte:
        return Order(Load<std::uint8_t>(a), Load<std::uint8_t>(b));
    case TABSBaseType::bftWord:
        return Order(Load<std::uint16_t>(a), Load<std::uint16_t>(b));
    case TABSBaseType::bftCardinal:
        return Order(Load<std::uint32_t>(a), Load<std::uint32_t>(b));
    case TABSBaseType::bftSingle:
        return FloatOrder(Load<float>(a), Load<float>(b));
    case TABSBaseType::bftDouble:
    case TABSBaseType::bftCurrency:
        return FloatOrder(Load<double>(a), Load<double>(b));
    case TABSBaseType::bftExtended:
        return FloatOrder(LoadExtended(a), LoadExtended(b));
    case TABSBaseType::bftDateTime: {
        if (int r = Order(Load<std::int32_t>(a), Load<std::int32_t>(b)); r != 0)
            return r;
        return Order(Load<std::int32_t>(a + 4), Load<std::int32_t>(b + 4));
    }
    case TABSBaseType::bftLogical:
        return Order(Load<std::int16_t>(a) != 0, Load<std::int16_t>(b) != 0);
    case TABSBaseType::bftBytes:
    case TABSBaseType::bftVarBytes: {
        const int r = std::memcmp(a, b, size);
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    default:
        RaiseError(30047, "Unknown DataType: '%s'", {BaseTypeName(type)});
    }
}

std::vector<TABSKeyColumnLayout> BuildKeyLayout(const TABSIndexDef& index, const TABSFieldDefs& fields) {
    std::vector<TABSKeyColumnLayout> layout;
    for (const TABSIndexColumn& column : index.Columns) {
        const TABSFieldDef* field = fields.Find(column.FieldName);
        if (field == nullptr)
            RaiseError(kIndexFieldNotFoundError, "Cannot find index field '%s'", {column.FieldName});
        if (field->IsBlob())
            RaiseError(kCannotIndexBlobError,
                       "Cannot index BLOB field '%s'. Direct indexing of BLOB fields is not supported yet, please use "
                       "CAST(blob_field, string) function to convert BLOB field to a string expression before "
                       "indexing.",
                       {field->Name});
        TABSKeyColumnLayout c;
        c.FieldName = field->Name;
        c.FieldNo = static_cast<std::size_t>(field->FieldNo);
        c.StorageType = field->StorageType;
        c.MemoryOffset = field->MemoryOffset;
        c.MemorySize = field->MemorySize;
        c.Parameter = column.Parameter;
        c.Descending = column.Descending;
        c.CaseInsensitive = column.CaseInsensitive;
        c.AutoInc = field->IsAutoInc();
        layout.push_back(std::move(c));
    }
    return layout;
}

TABSRecordKeyRef::TABSRecordKeyRef(std::vector<TABSKeyColumnLayout> columns) : columns_(std::move(columns)) {
    if (columns_.empty())
        RaiseError(kIndexInvalidParamsError, "Index error: invalid params");
    for (const TABSKeyColumnLayout& c : columns_) {
        storedOffsets_.push_back(keySize_);
        fullOffsets_.push_back(fullKeySize_);
        keySize_ += c.StoredPartSize();
        fullKeySize_ += c.FullPartSize();
    }
}

bool TABSRecordKeyRef::HasTruncatedColumns() const noexcept {
    for (const TABSKeyColumnLayout& c : columns_)
        if (c.IsTruncated())
            return true;
    return false;
}

namespace {
bool FieldIsNull(std::span<const std::uint8_t> record, std::size_t fieldNo) noexcept {
    const std::size_t byte = fieldNo / 8;
    return byte < record.size() && (record[byte] & (1u << (fieldNo % 8))) != 0;
}
} // namespace

std::vector<std::uint8_t> TABSRecordKeyRef::StoredKey(std::span<const std::uint8_t> record) const {
    std::vector<std::uint8_t> key(keySize_, 0);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const TABSKeyColumnLayout& c = columns_[i];
        std::uint8_t* part = key.data() + storedOffsets_[i];
        if (FieldIsNull(record, c.FieldNo) || c.MemoryOffset + c.MemorySize > record.size()) {
            part[0] = 1;
            continue;
        }
        const std::size_t bytes = c.IsTruncated() ? static_cast<std::size_t>(c.Parameter) : c.MemorySize;
        std::memcpy(part + 1, record.data() + c.MemoryOffset, bytes);
    }
    return key;
}

std::vector<std::uint8_t> TABSRecordKeyRef::FullKey(std::span<const std::uint8_t> record) const {
    std::vector<std::uint8_t> key(fullKeySize_, 0);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const TABSKeyColumnLayout& c = columns_[i];
        std::uint8_t* part = key.data() + fullOffsets_[i];
        if (FieldIsNull(record, c.FieldNo) || c.MemoryOffset + c.MemorySize > record.size()) {
            part[0] = 1;
            continue;
        }
        std::memcpy(part + 1, record.data() + c.MemoryOffset, c.MemorySize);
    }
    return key;
}

TABSBTreeSearchKey TABSRecordKeyRef::RecordSearchKey(std::span<const std::uint8_t> record,
                                                     const TABSRecordID* id) const {
    TABSBTreeSearchKey search;
    search.Key = FullKey(record);
    search.ColumnCount = columns_.size();
    if (id != nullptr) {
        search.Value.resize(TABSRecordID::kEncodedSize);
        id->Encode(search.Value);
    }
    return search;
}

TABSBTreeSearchKey TABSRecordKeyRef::ValueSearchKey(const std::vector<TABSVariant>& values, bool partial) const {
    if (values.empty() || values.size() > columns_.size())
        RaiseError(kIndexInvalidParamsError, "Index error: invalid params");
    TABSBTreeSearchKey search;
    search.Key.assign(fullKeySize_, 0);
    search.ColumnCount = values.size();
    search.Partial = partial;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const TABSKeyColumnLayout& c = columns_[i];
        std::uint8_t* part = search.Key.data() + fullOffsets_[i];
        TABSVariant value;
        value.Assign(values[i]);
        if (!value.IsNull() && value.BaseType() != c.StorageType)
            value.ConvertTo(c.StorageType);
        if (value.IsNull()) {
            part[0] = 1;
            continue;
        }
        // A text longer than the field keeps what the field can hold.
        if (IsAnsi(c.StorageType) && c.MemorySize > 0) {
            value.TruncateText(c.MemorySize - 1);
            // Windows-1252 takes one byte per character, UTF-8 may take more: truncate by bytes.
            std::string encoded = Utf8ToCp1252(value.GetAsString());
            if (encoded.size() > c.MemorySize - 1)
                encoded.resize(c.MemorySize - 1);
            std::memcpy(part + 1, encoded.data(), encoded.size());
            continue;
        }
        if (IsWide(c.StorageType) && c.MemorySize >= 2) {
            std::u16string text = value.GetAsWideString();
            const std::size_t units = c.MemorySize / 2 - 1;
            if (text.size() > units)
                text.resize(units);
            for (std::size_t u = 0; u < text.size(); ++u)
                WriteU16(part + 1 + 2 * u, static_cast<std::uint16_t>(text[u]));
            continue;
        }
        if (IsByteString(c.StorageType)) {
            // Byte strings as the record layout keeps them: the bytes, zero-filled; a VarBytes
            // value ends in a 0x80 marker so that trailing zero bytes keep their length.
            const std::string& bytes = value.TextData();
            const std::size_t room = c.MemorySize > 0 ? c.MemorySize - 1 : 0;
            const std::size_t length = std::min(bytes.size(), room);
            std::memcpy(part + 1, bytes.data(), length);
            if (c.StorageType == TABSBaseType::bftVarBytes)
                part[1 + length] = 0x80;
            continue;
        }
        value.WriteToBuffer(std::span<std::uint8_t>(part + 1, c.MemorySize));
    }
    return search;
}

int TABSRecordKeyRef::CompareFullKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                                      std::size_t columnCount) const {
    if (a.size() < fullKeySize_ || b.size() < fullKeySize_)
        RaiseError(kIndexInvalidParamsError, "Index error: invalid params");
    const std::size_t count = columnCount == 0 ? columns_.size() : std::min(columnCount, columns_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const TABSKeyColumnLayout& c = columns_[i];
        const int r = *ComparePart(c, {a.data() + fullOffsets_[i], true}, {b.data() + fullOffsets_[i], true}, false);
        if (r != 0)
            return c.Descending ? -r : r;
    }
    return 0;
}

std::vector<std::uint8_t> TABSRecordKeyRef::FetchFullKey(TABSEntryValueSource& value) const {
    auto bytes = value.EntryValue();
    if (bytes.size() < TABSRecordID::kEncodedSize || !fetcher_)
        RaiseCannotRetrieve();
    std::vector<std::uint8_t> record;
    if (!fetcher_(TABSRecordID::Decode(bytes), record))
        RaiseCannotRetrieve();
    return FullKey(record);
}

int TABSRecordKeyRef::CompareSearch(const TABSBTreeSearchKey& search, std::span<const std::uint8_t> entryKey,
                                    TABSEntryValueSource& entryValue) const {
    const std::size_t count = search.ColumnCount == 0 ? columns_.size() : std::min(search.ColumnCount, columns_.size());
    if (search.Key.size() < fullOffsets_[count - 1] + columns_[count - 1].FullPartSize() ||
        entryKey.size() < keySize_)
        RaiseError(kIndexInvalidParamsError, "Index error: invalid params");
    std::vector<std::uint8_t> entryFull;  // read once, when a truncated part needs it
    for (std::size_t i = 0; i < count; ++i) {
        const TABSKeyColumnLayout& c = columns_[i];
        const PartView searchPart{search.Key.data() + fullOffsets_[i], true};
        std::optional<int> r =
            ComparePart(c, searchPart, {entryKey.data() + storedOffsets_[i], !c.IsTruncated()}, search.Partial);
        if (!r) {
            if (entryFull.empty())
                entryFull = FetchFullKey(entryValue);
            r = ComparePart(c, searchPart, {entryFull.data() + fullOffsets_[i], true}, search.Partial);
        }
        if (*r != 0)
            return c.Descending ? -*r : *r;
    }
    if (search.Value.size() >= TABSRecordID::kEncodedSize) {
        const TABSRecordID mine = TABSRecordID::Decode(search.Value);
        const TABSRecordID theirs = TABSRecordID::Decode(entryValue.EntryValue());
        return mine < theirs ? -1 : (mine == theirs ? 0 : 1);
    }
    return 0;
}

int TABSRecordKeyRef::CompareEntries(std::span<const std::uint8_t> key1, TABSEntryValueSource& value1,
                                     std::span<const std::uint8_t> key2, TABSEntryValueSource& value2) const {
    if (key1.size() < keySize_ || key2.size() < keySize_)
        RaiseError(kIndexInvalidParamsError, "Index error: invalid params");
    std::vector<std::uint8_t> full1;
    std::vector<std::uint8_t> full2;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const TABSKeyColumnLayout& c = columns_[i];
        const bool whole = !c.IsTruncated();
        std::optional<int> r =
            ComparePart(c, {key1.data() + storedOffsets_[i], whole}, {key2.data() + storedOffsets_[i], whole}, false);
        if (!r) {
            if (full1.empty())
                full1 = FetchFullKey(value1);
            if (full2.empty())
                full2 = FetchFullKey(value2);
            r = ComparePart(c, {full1.data() + fullOffsets_[i], true}, {full2.data() + fullOffsets_[i], true}, false);
        }
        if (*r != 0)
            return c.Descending ? -*r : *r;
    }
    const TABSRecordID id1 = TABSRecordID::Decode(value1.EntryValue());
    const TABSRecordID id2 = TABSRecordID::Decode(value2.EntryValue());
    return id1 < id2 ? -1 : (id1 == id2 ? 0 : 1);
}

} // namespace kova
