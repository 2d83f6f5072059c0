// The physical address of a record: the record page it lives on and its slot there.
//
// On disk (leaf values of record indexes) the identifier takes 6 bytes, little-endian:
//
//   offset size  field
//   0      4     page number (signed; -1 = none)
//   4      2     slot (unsigned)
//
// Identifiers order by page number as a signed integer, then by slot; record indexes use that order
// to keep entries with equal keys unique and in a stable sequence.
#pragma once

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSPage.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kova {

struct TABSRecordID {
    TABSPageNo PageNo = kNoPage;
    std::uint16_t Slot = 0;

    static constexpr std::size_t kEncodedSize = 6;

    [[nodiscard]] bool IsValid() const noexcept { return PageNo != kNoPage; }

    // REQUIRES: `bytes` holds at least 6 bytes.
    [[nodiscard]] static TABSRecordID Decode(std::span<const std::uint8_t> bytes) noexcept {
        return {ReadI32(bytes.data()), ReadU16(bytes.data() + 4)};
    }
    // REQUIRES: `bytes` holds at least 6 bytes.
    void Encode(std::span<std::uint8_t> bytes) const noexcept {
        WriteI32(bytes.data(), PageNo);
        WriteU16(bytes.data() + 4, Slot);
    }

    friend constexpr bool operator==(const TABSRecordID&, const TABSRecordID&) = default;
    friend constexpr std::strong_ordering operator<=>(const TABSRecordID& a, const TABSRecordID& b) noexcept {
        if (auto c = a.PageNo <=> b.PageNo; c != 0)
            return c;
        return a.Slot <=> b.Slot;
    }
};

} // namespace kova
