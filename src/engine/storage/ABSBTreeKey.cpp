#include "engine/storage/ABSBTreeKey.h"

#include "engine/core/ByteOrder.h"

namespace kova {

namespace {
int CompareInts(std::int32_t a, std::int32_t b) noexcept { return a < b ? -1 : (a > b ? 1 : 0); }
} // namespace

int TABSPageKeyRef::CompareSearch(const TABSBTreeSearchKey& search, std::span<const std::uint8_t> entryKey,
                                  TABSEntryValueSource&) const {
    // Page numbers are unique in a page index, so the value never takes part.
    return CompareInts(DecodeKey(search.Key), DecodeKey(entryKey));
}

int TABSPageKeyRef::CompareEntries(std::span<const std::uint8_t> key1, TABSEntryValueSource&,
                                   std::span<const std::uint8_t> key2, TABSEntryValueSource&) const {
    return CompareInts(DecodeKey(key1), DecodeKey(key2));
}

TABSBTreeSearchKey TABSPageKeyRef::SearchKey(std::int32_t pageNo) {
    TABSBTreeSearchKey key;
    key.Key = EncodeKey(pageNo);
    return key;
}

std::vector<std::uint8_t> TABSPageKeyRef::EncodeKey(std::int32_t pageNo) {
    std::vector<std::uint8_t> bytes(kKeySize);
    WriteI32(bytes.data(), pageNo);
    return bytes;
}

std::int32_t TABSPageKeyRef::DecodeKey(std::span<const std::uint8_t> key) noexcept {
    return key.size() >= kKeySize ? ReadI32(key.data()) : 0;
}

} // namespace kova
