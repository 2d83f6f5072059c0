// Free-space maps of a database file: which pages are in use and which extents have room.
//
// With D = PageSize - 40 (data area) and E = pages per extent:
//   PFS page  one bit per page for P = D × 8 pages. Page n is bit (n mod P) mod 8 (from the least
//             significant bit) of data byte (n mod P) div 8 of the PFS page of its group, which is
//             page (n div P) × P. 1 = in use.
//   EAM page  two bits per extent for D × 4 extents, i.e. G = D × 4 × E pages. Extent x (pages
//             x·E … x·E + E - 1) is the bit pair at shift 2 × (x mod 4) of data byte
//             (x mod (D × 4)) div 4. 3 = every page used; 1 (or 0) = at least one free page.
//             The EAM page of group h is page h·G, or h·G + 1 when h·G is a PFS page.
// A new map page has data byte 0 = 1 (a PFS page thereby marks itself used) and the rest 0.
// Map pages are never handed out, never enciphered and never given back.
//
// The manager works on a snapshot of TotalPageCount and LastUsedPageNo that its owner loads
// (under the database lock, from the file header) before every operation and stores afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "engine/storage/ABSPage.h"

namespace kova {

// Page-number arithmetic of the maps.
class TABSFreeSpaceGeometry {
public:
    // REQUIRES: pageSize > 40, pageCountInExtent >= 1.
    TABSFreeSpaceGeometry(std::uint16_t pageSize, std::uint16_t pageCountInExtent) noexcept;

    [[nodiscard]] std::int64_t DataSize() const noexcept { return d_; }        // D
    [[nodiscard]] std::int64_t PfsSpan() const noexcept { return p_; }         // P
    [[nodiscard]] std::int64_t EamSpan() const noexcept { return g_; }         // G
    [[nodiscard]] std::int64_t ExtentSize() const noexcept { return e_; }      // E

    [[nodiscard]] bool IsPfsPage(std::int64_t pageNo) const noexcept { return pageNo % p_ == 0; }
    [[nodiscard]] bool IsEamPage(std::int64_t pageNo) const noexcept;
    [[nodiscard]] bool IsMapPage(std::int64_t pageNo) const noexcept { return IsPfsPage(pageNo) || IsEamPage(pageNo); }
    [[nodiscard]] std::int64_t PfsPageOf(std::int64_t pageNo) const noexcept { return pageNo / p_ * p_; }
    [[nodiscard]] std::int64_t EamPageOfGroup(std::int64_t group) const noexcept;
    [[nodiscard]] std::int64_t EamPageOf(std::int64_t pageNo) const noexcept { return EamPageOfGroup(pageNo / g_); }
    // Growth step of a file with `totalPageCount` pages: max(total div 10, E), 6 for an empty file.
    [[nodiscard]] std::int32_t GrowthStep(std::int32_t totalPageCount) const noexcept;

private:
    std::int64_t d_;
    std::int64_t p_;
    std::int64_t g_;
    std::int64_t e_;
};

// Where the map pages live. Map pages are read and written at once, outside any session.
class TABSFreeSpaceStorage {
public:
    virtual ~TABSFreeSpaceStorage() = default;
    // Reads a whole map page into `page`.
    virtual void ReadMapPage(TABSPageNo pageNo, std::span<std::uint8_t> page) = 0;
    // Writes a whole map page (increasing its modification counter in `page`).
    virtual void WriteMapPage(TABSPageNo pageNo, std::span<std::uint8_t> page) = 0;
    // Sets the file's size to hold exactly `totalPageCount` pages.
    virtual void ResizeToPages(std::int32_t totalPageCount) = 0;
};

class TABSDatabaseFreeSpaceManager {
public:
    // `storage` must outlive the manager.
    TABSDatabaseFreeSpaceManager(TABSFreeSpaceStorage& storage, std::uint16_t pageSize,
                                 std::uint16_t pageCountInExtent);

    // Takes the counts of the file header. With `keepCachedMaps` false, map pages are read again
    // from storage (another process may have changed them); true when only this manager writes.
    void Load(std::int32_t totalPageCount, std::int32_t lastUsedPageNo, bool keepCachedMaps);

    // Finds a free page (or grows the file), marks it used and returns it.
    // Raises 30425 "Page: %d already used" when the maps disagree with themselves.
    [[nodiscard]] TABSPageNo AllocatePage();
    // Marks `pageNo` free, recomputes LastUsedPageNo and cuts the free tail by multiples of the
    // growth step. Raises 30434 for a map page, 30427 "Page: %d already free", 30431 out of range.
    void ReleasePage(TABSPageNo pageNo);
    // Cuts the free tail of the file when it is at least one growth step long.
    void GiveBackFreeTail();

    [[nodiscard]] bool IsPageUsed(TABSPageNo pageNo);
    [[nodiscard]] std::int32_t TotalPageCount() const noexcept { return total_; }
    [[nodiscard]] std::int32_t LastUsedPageNo() const noexcept { return lastUsed_; }
    [[nodiscard]] const TABSFreeSpaceGeometry& Geometry() const noexcept { return geometry_; }
    // Drops cached map pages (after a failure or when storage changed behind the manager).
    void DropCachedMaps() noexcept { maps_.clear(); }

private:
    [[nodiscard]] std::vector<std::uint8_t>& MapPage(std::int64_t pageNo, std::uint16_t expectedType);
    void WriteMap(std::int64_t pageNo);
    void MakeMapPage(std::int64_t pageNo, std::uint16_t pageType);
    [[nodiscard]] bool FindFreePage(TABSPageNo& found);
    [[nodiscard]] bool SearchEamGroup(std::int64_t group, TABSPageNo& found);
    [[nodiscard]] TABSPageNo Grow();
    void SetPfsBit(std::int64_t pageNo, bool used, int alreadyErrorCode);
    void RefreshExtent(std::int64_t extent);
    void RecomputeLastUsed();
    void CutFreeTail();
    void CheckAddressable(std::int64_t pageNo, int errorCode) const;

    TABSFreeSpaceStorage& storage_;
    TABSFreeSpaceGeometry geometry_;
    std::int32_t total_ = 0;
    std::int32_t lastUsed_ = kNoPage;
    std::uint16_t pageSize_;
    std::map<std::int64_t, std::vector<std::uint8_t>> maps_;  // map pages read in this or earlier operations
};

} // namespace kova
