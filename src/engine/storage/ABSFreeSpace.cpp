// Free-space maps: page allocation, release, growth and shrinking of the file.
#include "engine/storage/ABSFreeSpace.h"

#include <algorithm>
#include <cassert>
#include <optional>

#include "engine/core/ABSExcept.h"

namespace kova {

namespace {

constexpr std::uint8_t kExtentFull = 3;
constexpr std::uint8_t kExtentHasFree = 1;

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSFreeSpaceGeometry

TABSFreeSpaceGeometry::TABSFreeSpaceGeometry(std::uint16_t pageSize, std::uint16_t pageCountInExtent) noexcept
    : d_(static_cast<std::int64_t>(pageSize) - static_cast<std::int64_t>(PageHeader::kSize)),
      p_(d_ * 8),
      g_(d_ * 4 * pageCountInExtent),
      e_(pageCountInExtent) {
    assert(d_ > 0 && e_ > 0);
}

bool TABSFreeSpaceGeometry::IsEamPage(std::int64_t pageNo) const noexcept {
    if (pageNo % g_ == 0)
        return pageNo % p_ != 0;
    // The EAM page moves one page up where the PFS page of its group takes h·G.
    return pageNo >= 1 && (pageNo - 1) % p_ == 0 && (pageNo - 1) % g_ == 0;
}

std::int64_t TABSFreeSpaceGeometry::EamPageOfGroup(std::int64_t group) const noexcept {
    std::int64_t first = group * g_;
    return first % p_ == 0 ? first + 1 : first;
}

std::int32_t TABSFreeSpaceGeometry::GrowthStep(std::int32_t totalPageCount) const noexcept {
    if (totalPageCount <= 0)
        return 6;
    return static_cast<std::int32_t>(std::max<std::int64_t>(totalPageCount / 10, e_));
}

// ---------------------------------------------------------------------------------------------
// TABSDatabaseFreeSpaceManager

TABSDatabaseFreeSpaceManager::TABSDatabaseFreeSpaceManager(TABSFreeSpaceStorage& storage, std::uint16_t pageSize,
                                                           std::uint16_t pageCountInExtent)
    : storage_(storage), geometry_(pageSize, pageCountInExtent), pageSize_(pageSize) {}

void TABSDatabaseFreeSpaceManager::Load(std::int32_t totalPageCount, std::int32_t lastUsedPageNo, bool keepCachedMaps) {
    total_ = totalPageCount;
    lastUsed_ = lastUsedPageNo;
    if (!keepCachedMaps)
        maps_.clear();
}

void TABSDatabaseFreeSpaceManager::CheckAddressable(std::int64_t pageNo, int errorCode) const {
    if (pageNo < 0 || pageNo >= total_)
        RaiseError(errorCode, "Page: %d cannot be addressed. TotalPageCount=%d",
                   {static_cast<long long>(pageNo), static_cast<int>(total_)});
}

std::vector<std::uint8_t>& TABSDatabaseFreeSpaceManager::MapPage(std::int64_t pageNo, std::uint16_t expectedType) {
    auto it = maps_.find(pageNo);
    if (it == maps_.end()) {
        std::vector<std::uint8_t> bytes(pageSize_);
        storage_.ReadMapPage(static_cast<TABSPageNo>(pageNo), bytes);
        it = maps_.emplace(pageNo, std::move(bytes)).first;
    }
    std::uint16_t found = DecodePageHeader(it->second).PageType;
    if (found != expectedType) {
        std::string foundName = found <= kMaxPageType ? PageTypeName(found) : "Unknown Page";
        maps_.erase(it);
        RaiseError(30428, "Wrong page type. Found '%s', but wanted: '%s'", {foundName, PageTypeName(expectedType)});
    }
    return it->second;
}

void TABSDatabaseFreeSpaceManager::WriteMap(std::int64_t pageNo) {
    auto it = maps_.find(pageNo);
    assert(it != maps_.end());
    try {
        storage_.WriteMapPage(static_cast<TABSPageNo>(pageNo), it->second);
    } catch (...) {
        maps_.clear();  // memory and file may differ now: read again next time
        throw;
    }
}

void TABSDatabaseFreeSpaceManager::MakeMapPage(std::int64_t pageNo, std::uint16_t pageType) {
    std::vector<std::uint8_t> bytes(pageSize_);
    InitializePageBytes(bytes, pageType, RandomModificationCounter());
    bytes[PageHeader::kSize] = 1;
    maps_[pageNo] = std::move(bytes);
}

bool TABSDatabaseFreeSpaceManager::IsPageUsed(TABSPageNo pageNo) {
    CheckAddressable(pageNo, 30430);
    std::int64_t offset = pageNo % geometry_.PfsSpan();
    const auto& pfs = MapPage(geometry_.PfsPageOf(pageNo), static_cast<std::uint16_t>(TABSPageType::PFS));
    return (pfs[PageHeader::kSize + static_cast<std::size_t>(offset / 8)] >> (offset % 8)) & 1;
}

void TABSDatabaseFreeSpaceManager::SetPfsBit(std::int64_t pageNo, bool used, int alreadyErrorCode) {
    std::int64_t pfsPage = geometry_.PfsPageOf(pageNo);
    std::int64_t offset = pageNo % geometry_.PfsSpan();
    auto& pfs = MapPage(pfsPage, static_cast<std::uint16_t>(TABSPageType::PFS));
    std::uint8_t& byte = pfs[PageHeader::kSize + static_cast<std::size_t>(offset / 8)];
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (offset % 8));
    if (((byte & mask) != 0) == used) {
        if (used)
            RaiseError(alreadyErrorCode, "Page: %d already used", {static_cast<long long>(pageNo)});
        RaiseError(alreadyErrorCode, "Page: %d already free", {static_cast<long long>(pageNo)});
    }
    byte = used ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
    WriteMap(pfsPage);
}

void TABSDatabaseFreeSpaceManager::RefreshExtent(std::int64_t extent) {
    const std::int64_t e = geometry_.ExtentSize();
    const std::int64_t first = extent * e;
    const std::int64_t last = first + e - 1;
    bool full = true;
    for (std::int64_t page = first; page <= last && full; ++page) {
        if (page >= total_) {
            full = false;  // pages beyond the file are free
            break;
        }
        std::int64_t offset = page % geometry_.PfsSpan();
        const auto& pfs = MapPage(geometry_.PfsPageOf(page), static_cast<std::uint16_t>(TABSPageType::PFS));
        full = ((pfs[PageHeader::kSize + static_cast<std::size_t>(offset / 8)] >> (offset % 8)) & 1) != 0;
    }
    const std::int64_t extentsPerEam = geometry_.DataSize() * 4;
    std::int64_t eamPage = geometry_.EamPageOfGroup(extent / extentsPerEam);
    auto& eam = MapPage(eamPage, static_cast<std::uint16_t>(TABSPageType::EAM));
    std::int64_t slot = extent % extentsPerEam;
    std::uint8_t& byte = eam[PageHeader::kSize + static_cast<std::size_t>(slot / 4)];
    const int shift = static_cast<int>(2 * (slot % 4));
    const std::uint8_t value = full ? kExtentFull : kExtentHasFree;
    const std::uint8_t updated = static_cast<std::uint8_t>((byte & ~(3u << shift)) | (value << shift));
    if (updated != byte) {
        byte = updated;
        WriteMap(eamPage);
    }
}

bool TABSDatabaseFreeSpaceManager::SearchEamGroup(std::int64_t group, TABSPageNo& found) {
    const std::int64_t eamPage = geometry_.EamPageOfGroup(group);
    if (eamPage >= total_)
        return false;
    const auto& eam = MapPage(eamPage, static_cast<std::uint16_t>(TABSPageType::EAM));
    const std::int64_t d = geometry_.DataSize();
    std::optional<std::int64_t> extent;
    for (std::int64_t i = 0; i < d && !extent; ++i) {
        std::uint8_t byte = eam[PageHeader::kSize + static_cast<std::size_t>(i)];
        if (byte == 0xFF)
            continue;
        for (int pair = 0; pair < 4; ++pair) {
            if (((byte >> (2 * pair)) & 2) == 0) {
                extent = group * d * 4 + i * 4 + pair;
                break;
            }
        }
    }
    if (!extent)
        return false;
    const std::int64_t firstPage = *extent * geometry_.ExtentSize();
    const std::int64_t lastPage = firstPage + geometry_.ExtentSize() - 1;
    const std::int64_t p = geometry_.PfsSpan();
    for (std::int64_t pfsPage = geometry_.PfsPageOf(firstPage); pfsPage <= lastPage && pfsPage < total_; pfsPage += p) {
        const auto& pfs = MapPage(pfsPage, static_cast<std::uint16_t>(TABSPageType::PFS));
        for (std::int64_t i = 0; i < d; ++i) {
            std::uint8_t byte = pfs[PageHeader::kSize + static_cast<std::size_t>(i)];
            if (byte == 0xFF)
                continue;
            int bit = 0;
            while ((byte >> bit) & 1)
                ++bit;
            std::int64_t page = pfsPage + i * 8 + bit;
            if (page < total_ && !geometry_.IsMapPage(page)) {
                found = static_cast<TABSPageNo>(page);
                return true;
            }
            break;  // the first free bit lies beyond the file: nothing in this map page
        }
    }
    return false;
}

bool TABSDatabaseFreeSpaceManager::FindFreePage(TABSPageNo& found) {
    if (lastUsed_ == kNoPage || total_ <= 0)
        return false;
    const std::int64_t lastGroup = (static_cast<std::int64_t>(total_) - 1) / geometry_.EamSpan();
    if (SearchEamGroup(lastGroup, found))
        return true;
    for (std::int64_t group = 0; group < lastGroup; ++group)
        if (SearchEamGroup(group, found))
            return true;
    return false;
}

TABSPageNo TABSDatabaseFreeSpaceManager::Grow() {
    std::int64_t newPage = static_cast<std::int64_t>(lastUsed_) + 1;
    while (geometry_.IsMapPage(newPage))
        ++newPage;
    const std::int64_t oldTotal = total_;
    std::int64_t step = geometry_.GrowthStep(total_);
    if (newPage >= oldTotal + step)
        step = newPage - oldTotal + 1;
    while (geometry_.IsMapPage(oldTotal + step - 1))
        ++step;
    const std::int64_t newTotal = oldTotal + step;
    if (newTotal > 0x7FFFFFFF)
        RaiseError(30430, "Page: %d cannot be addressed. TotalPageCount=%d",
                   {static_cast<long long>(newPage), static_cast<int>(total_)});

    storage_.ResizeToPages(static_cast<std::int32_t>(newTotal));
    total_ = static_cast<std::int32_t>(newTotal);

    // Map pages of every group the growth opened.
    std::vector<std::int64_t> newPfs;
    std::vector<std::int64_t> newEam;
    const std::int64_t p = geometry_.PfsSpan();
    const std::int64_t g = geometry_.EamSpan();
    for (std::int64_t pfs = (oldTotal + p - 1) / p * p; pfs < newTotal; pfs += p)
        newPfs.push_back(pfs);
    for (std::int64_t group = oldTotal / g; group * g < newTotal; ++group) {
        std::int64_t eam = geometry_.EamPageOfGroup(group);
        if (eam >= oldTotal && eam < newTotal)
            newEam.push_back(eam);
    }
    for (std::int64_t pfs : newPfs)
        MakeMapPage(pfs, static_cast<std::uint16_t>(TABSPageType::PFS));
    for (std::int64_t eam : newEam)
        MakeMapPage(eam, static_cast<std::uint16_t>(TABSPageType::EAM));
    for (std::int64_t pfs : newPfs)
        WriteMap(pfs);
    for (std::int64_t eam : newEam)
        WriteMap(eam);
    for (std::int64_t eam : newEam) {
        std::int64_t offset = eam % p;
        auto& pfs = MapPage(geometry_.PfsPageOf(eam), static_cast<std::uint16_t>(TABSPageType::PFS));
        pfs[PageHeader::kSize + static_cast<std::size_t>(offset / 8)] |= static_cast<std::uint8_t>(1u << (offset % 8));
        WriteMap(geometry_.PfsPageOf(eam));
    }
    for (std::int64_t pfs : newPfs)
        RefreshExtent(pfs / geometry_.ExtentSize());
    for (std::int64_t eam : newEam)
        RefreshExtent(eam / geometry_.ExtentSize());
    return static_cast<TABSPageNo>(newPage);
}

TABSPageNo TABSDatabaseFreeSpaceManager::AllocatePage() {
    TABSPageNo page = kNoPage;
    if (!FindFreePage(page))
        page = Grow();
    // The maps are written before the header: a process killed in between leaves LastUsedPageNo
    // (and TotalPageCount) behind pages the maps mark used, and growing from there would hand out
    // such a page again. The maps decide; the pages they mark stay used.
    while (IsPageUsed(page)) {
        lastUsed_ = std::max(lastUsed_, page);
        if (!FindFreePage(page))
            page = Grow();
    }
    CheckAddressable(page, 30430);
    SetPfsBit(page, true, 30425);
    RefreshExtent(page / geometry_.ExtentSize());
    lastUsed_ = std::max(lastUsed_, page);
    return page;
}

void TABSDatabaseFreeSpaceManager::ReleasePage(TABSPageNo pageNo) {
    if (geometry_.IsMapPage(pageNo))
        RaiseError(30434, "Cannot delete PFS or EAM page. PageNo=%d", {static_cast<int>(pageNo)});
    CheckAddressable(pageNo, 30431);
    SetPfsBit(pageNo, false, 30427);
    RefreshExtent(pageNo / geometry_.ExtentSize());
    RecomputeLastUsed();
    CutFreeTail();
}

void TABSDatabaseFreeSpaceManager::GiveBackFreeTail() {
    RecomputeLastUsed();
    CutFreeTail();
}

void TABSDatabaseFreeSpaceManager::RecomputeLastUsed() {
    const std::int64_t p = geometry_.PfsSpan();
    const std::int64_t d = geometry_.DataSize();
    if (total_ <= 0) {
        lastUsed_ = kNoPage;
        return;
    }
    for (std::int64_t pfsPage = geometry_.PfsPageOf(total_ - 1); pfsPage >= 0; pfsPage -= p) {
        const auto& pfs = MapPage(pfsPage, static_cast<std::uint16_t>(TABSPageType::PFS));
        for (std::int64_t i = d - 1; i >= 0; --i) {
            std::uint8_t byte = pfs[PageHeader::kSize + static_cast<std::size_t>(i)];
            if (byte == 0)
                continue;
            for (int bit = 7; bit >= 0; --bit) {
                std::int64_t page = pfsPage + i * 8 + bit;
                if (((byte >> bit) & 1) && page < total_ && !geometry_.IsMapPage(page)) {
                    lastUsed_ = static_cast<TABSPageNo>(page);
                    return;
                }
            }
        }
    }
    lastUsed_ = kNoPage;
}

void TABSDatabaseFreeSpaceManager::CutFreeTail() {
    const std::int32_t step = geometry_.GrowthStep(total_);
    const std::int32_t freeTail = total_ - lastUsed_ - 1;
    if (freeTail < step)
        return;
    const std::int32_t cut = freeTail / step * step;
    const std::int32_t newTotal = total_ - cut;
    storage_.ResizeToPages(newTotal);
    total_ = newTotal;
    // Map pages that were cut off are made afresh when the file grows again.
    for (auto it = maps_.begin(); it != maps_.end();)
        it = it->first >= newTotal ? maps_.erase(it) : std::next(it);
}

} // namespace kova
