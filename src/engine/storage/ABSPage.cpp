// Page buffers, the sorted page list and the page cache with its per-session page sets.
#include "engine/storage/ABSPage.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <random>
#include <utility>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

namespace kova {

namespace {

constexpr const char* kPageTypeNames[kMaxPageType + 1] = {
    "Unknown Page",
    "Empty Page",
    "EAM Page",
    "PFS Page",
    "FileSystemDirectory Page",
    "ActiveSessionList Page",
    "TableList Page",
    "TableLocks Page",
    "TableMetaData Page",
    "TableMostUpdated Page",
    "TableRecord Page",
    "TableBlob Page",
    "TableIndex Page",
};

} // namespace

std::int32_t RandomModificationCounter() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::int32_t> distribution(0, kMaxInitialModificationCounter);
    return distribution(generator);
}

const char* PageTypeName(std::uint16_t pageType) {
    if (pageType > kMaxPageType)
        RaiseError(30382, "Unknown Page Type: (%d)", {static_cast<int>(pageType)});
    return kPageTypeNames[pageType];
}

TABSPageHeaderFields DecodePageHeader(std::span<const std::uint8_t> bytes) {
    assert(bytes.size() >= PageHeader::kSize);
    TABSPageHeaderFields fields;
    const std::uint8_t* p = bytes.data();
    fields.SignatureValid = std::memcmp(p + PageHeader::kSignatureOffset, PageHeader::kSignature,
                                        PageHeader::kSignatureSize) == 0;
    fields.ModificationCounter = ReadI32(p + PageHeader::kModificationCounterOffset);
    fields.PageType = ReadU16(p + PageHeader::kPageTypeOffset);
    fields.NextPageNo = ReadI32(p + PageHeader::kNextPageOffset);
    fields.DataCrc = ReadU32(p + PageHeader::kDataCrcOffset);
    fields.CipherId = p[PageHeader::kCipherIdOffset];
    return fields;
}

void InitializePageBytes(std::span<std::uint8_t> bytes, std::uint16_t pageType, std::int32_t modificationCounter) {
    assert(bytes.size() >= PageHeader::kSize);
    std::uint8_t* p = bytes.data();
    std::memset(p, 0, bytes.size());
    std::memcpy(p + PageHeader::kSignatureOffset, PageHeader::kSignature, PageHeader::kSignatureSize);
    WriteI32(p + PageHeader::kModificationCounterOffset, modificationCounter);
    WriteU16(p + PageHeader::kPageTypeOffset, pageType);
    WriteI32(p + PageHeader::kNextPageOffset, kNoPage);
    WriteI32(p + PageHeader::kOwnerInt22Offset, -1);
    WriteI32(p + PageHeader::kOwnerInt26Offset, -1);
}

// ---------------------------------------------------------------------------------------------
// TABSPage

TABSPage::TABSPage(TABSPageNo pageNo, std::size_t pageSize)
    : pageNo_(pageNo), pageSize_(pageSize), buffer_(new std::uint8_t[pageSize]()) {}

std::int32_t TABSPage::ModificationCounter() const noexcept {
    return ReadI32(buffer_.get() + PageHeader::kModificationCounterOffset);
}
void TABSPage::SetModificationCounter(std::int32_t counter) noexcept {
    WriteI32(buffer_.get() + PageHeader::kModificationCounterOffset, counter);
}
std::uint16_t TABSPage::PageType() const noexcept { return ReadU16(buffer_.get() + PageHeader::kPageTypeOffset); }
void TABSPage::SetPageType(std::uint16_t pageType) noexcept {
    WriteU16(buffer_.get() + PageHeader::kPageTypeOffset, pageType);
}
TABSPageNo TABSPage::NextPageNo() const noexcept { return ReadI32(buffer_.get() + PageHeader::kNextPageOffset); }
void TABSPage::SetNextPageNo(TABSPageNo next) noexcept {
    WriteI32(buffer_.get() + PageHeader::kNextPageOffset, next);
}

// ---------------------------------------------------------------------------------------------
// TABSSortedPageList

std::size_t TABSSortedPageList::LowerBound(TABSPageNo pageNo) const noexcept {
    auto it = std::lower_bound(pages_.begin(), pages_.end(), pageNo,
                               [](const std::unique_ptr<TABSPage>& page, TABSPageNo no) { return page->PageNo() < no; });
    return static_cast<std::size_t>(it - pages_.begin());
}

TABSPage* TABSSortedPageList::Find(TABSPageNo pageNo) const noexcept {
    std::size_t index = LowerBound(pageNo);
    if (index < pages_.size() && pages_[index]->PageNo() == pageNo)
        return pages_[index].get();
    return nullptr;
}

TABSPage* TABSSortedPageList::Insert(std::unique_ptr<TABSPage> page) {
    std::size_t index = LowerBound(page->PageNo());
    assert(index == pages_.size() || pages_[index]->PageNo() != page->PageNo());
    TABSPage* raw = page.get();
    pages_.insert(pages_.begin() + static_cast<std::ptrdiff_t>(index), std::move(page));
    return raw;
}

std::unique_ptr<TABSPage> TABSSortedPageList::Extract(TABSPageNo pageNo) {
    std::size_t index = LowerBound(pageNo);
    if (index < pages_.size() && pages_[index]->PageNo() == pageNo)
        return ExtractAt(index);
    return nullptr;
}

std::unique_ptr<TABSPage> TABSSortedPageList::ExtractAt(std::size_t index) {
    std::unique_ptr<TABSPage> page = std::move(pages_[index]);
    pages_.erase(pages_.begin() + static_cast<std::ptrdiff_t>(index));
    return page;
}

std::size_t TABSSortedPageList::DropUnused(std::size_t count) {
    std::size_t dropped = 0;
    auto keep = pages_.begin();
    for (auto it = pages_.begin(); it != pages_.end(); ++it) {
        if (dropped < count && (*it)->UseCount == 0) {
            it->reset();
            ++dropped;
            continue;
        }
        if (keep != it)
            *keep = std::move(*it);
        ++keep;
    }
    pages_.erase(keep, pages_.end());
    return dropped;
}

// ---------------------------------------------------------------------------------------------
// TABSPageHandle

TABSPageHandle::TABSPageHandle(TABSPageHandle&& other) noexcept
    : manager_(std::exchange(other.manager_, nullptr)),
      page_(std::exchange(other.page_, nullptr)),
      session_(std::exchange(other.session_, kInvalidSessionID)) {}

TABSPageHandle& TABSPageHandle::operator=(TABSPageHandle&& other) noexcept {
    if (this != &other) {
        Release();
        manager_ = std::exchange(other.manager_, nullptr);
        page_ = std::exchange(other.page_, nullptr);
        session_ = std::exchange(other.session_, kInvalidSessionID);
    }
    return *this;
}

TABSPageHandle::~TABSPageHandle() { Release(); }

void TABSPageHandle::Release() noexcept {
    if (page_ != nullptr)
        manager_->Unpin(page_);
    manager_ = nullptr;
    page_ = nullptr;
    session_ = kInvalidSessionID;
}

TABSPageNo TABSPageHandle::PageNo() const noexcept { return page_->PageNo(); }
std::size_t TABSPageHandle::PageSize() const noexcept { return page_->PageSize(); }
std::span<const std::uint8_t> TABSPageHandle::Bytes() const noexcept { return page_->Bytes(); }
std::span<const std::uint8_t> TABSPageHandle::Data() const noexcept { return page_->Bytes().subspan(PageHeader::kSize); }
std::uint16_t TABSPageHandle::PageType() const noexcept { return page_->PageType(); }
TABSPageNo TABSPageHandle::NextPageNo() const noexcept { return page_->NextPageNo(); }
std::int32_t TABSPageHandle::ModificationCounter() const noexcept { return page_->ModificationCounter(); }
bool TABSPageHandle::IsDirty() const noexcept { return page_->Dirty; }

std::span<std::uint8_t> TABSPageHandle::MutableBytes() {
    MarkDirty();
    return page_->Bytes();
}

std::span<std::uint8_t> TABSPageHandle::MutableData() { return MutableBytes().subspan(PageHeader::kSize); }

void TABSPageHandle::SetNextPageNo(TABSPageNo next) {
    MarkDirty();
    page_->SetNextPageNo(next);
}

void TABSPageHandle::MarkDirty() {
    assert(page_ != nullptr);
    if (!page_->Dirty)
        manager_->MakeDirty(*this);
}

// ---------------------------------------------------------------------------------------------
// TABSPageManager

TABSPageManager::TABSPageManager() : cacheCapacity_(DefaultCacheCapacity(0)) {}

TABSPageManager::~TABSPageManager() = default;

std::size_t TABSPageManager::DefaultCacheCapacity(std::uint64_t availablePhysicalMemory,
                                                  std::uint64_t memoryLimit) noexcept {
    std::uint64_t available = availablePhysicalMemory;
    if (memoryLimit != 0 && (available == 0 || memoryLimit < available))
        available = memoryLimit;
    std::uint64_t pages = std::min<std::uint64_t>(available / 65536, 65536);
    return static_cast<std::size_t>(std::max<std::uint64_t>(pages, 1));
}

void TABSPageManager::SetCacheCapacity(std::size_t pages) {
    std::lock_guard lock(mutex_);
    cacheCapacity_ = std::max<std::size_t>(pages, 1);
    TrimCache();
}

std::size_t TABSPageManager::CacheCapacity() const {
    std::lock_guard lock(mutex_);
    return cacheCapacity_;
}

void TABSPageManager::CheckSession(TABSSessionID session) {
    if (session == kInvalidSessionID)
        RaiseError(20186, "Invalid Session ID");
}

TABSSessionID TABSPageManager::AddedBySession(TABSPageNo pageNo) const noexcept {
    for (const auto& [id, pages] : sessions_)
        if (pages.Added.contains(pageNo))
            return id;
    return kInvalidSessionID;
}

TABSPageHandle TABSPageManager::AddPage(TABSSessionID session, TABSPageType pageType, bool encipher) {
    CheckSession(session);
    std::lock_guard lock(mutex_);
    TABSPageNo pageNo = AllocatePageNo();
    auto page = std::make_unique<TABSPage>(pageNo, PageSize());
    InitializePageBytes(page->Bytes(), static_cast<std::uint16_t>(pageType), RandomModificationCounter());
    page->SessionID = session;
    page->Dirty = true;
    page->Encipher = encipher;
    page->UseCount = 1;
    SessionPages& pages = sessions_[session];
    // A number that was given back earlier may be handed out again; the stale entries go.
    if (std::unique_ptr<TABSPage> stale = clean_.Extract(pageNo))
        Detach(std::move(stale));
    pages.GivenBack.erase(pageNo);
    TABSPage* raw = pages.Dirty.Insert(std::move(page));
    pages.Added.insert(pageNo);
    return TABSPageHandle(this, raw, session);
}

TABSPageHandle TABSPageManager::RenewPage(TABSSessionID session, TABSPageNo pageNo, TABSPageType pageType) {
    CheckSession(session);
    std::lock_guard lock(mutex_);
    const TABSSessionID owner = AddedBySession(pageNo);
    if (owner != kInvalidSessionID && owner != session)
        RaiseError(20090, "Page is used by other session");
    SessionPages& pages = sessions_[session];
    if (TABSPage* own = pages.Dirty.Find(pageNo)) {
        if (own->UseCount > 0)
            RaiseError(20088, "Cannot remove used page");
        (void)pages.Dirty.Extract(pageNo);
    }
    if (std::unique_ptr<TABSPage> stale = clean_.Extract(pageNo))
        Detach(std::move(stale));
    auto page = std::make_unique<TABSPage>(pageNo, PageSize());
    InitializePageBytes(page->Bytes(), static_cast<std::uint16_t>(pageType), RandomModificationCounter());
    page->SessionID = session;
    page->Dirty = true;
    page->UseCount = 1;
    TABSPage* raw = pages.Dirty.Insert(std::move(page));
    return TABSPageHandle(this, raw, session);
}

TABSPageHandle TABSPageManager::GetPage(TABSSessionID session, TABSPageNo pageNo, std::uint16_t expectedType,
                                        bool enciphered) {
    CheckSession(session);
    std::lock_guard lock(mutex_);
    auto checkType = [&](const TABSPage& page) {
        if (expectedType != kAnyPageType && page.PageType() != expectedType)
            RaiseError(20153, "Invalid page type. Possibly data is corrupted. Expected type %d, but found %d",
                       {static_cast<int>(expectedType), static_cast<int>(page.PageType())});
    };

    if (auto it = sessions_.find(session); it != sessions_.end()) {
        if (TABSPage* own = it->second.Dirty.Find(pageNo)) {
            checkType(*own);
            ++own->UseCount;
            return TABSPageHandle(this, own, session);
        }
    }
    TABSSessionID owner = AddedBySession(pageNo);
    if (owner != kInvalidSessionID && owner != session)
        RaiseError(20090, "Page is used by other session");

    TABSPage* cached = clean_.Find(pageNo);
    if (cached != nullptr && !IsCachedPageCurrent(*cached)) {
        Detach(clean_.Extract(pageNo));
        cached = nullptr;
    }
    if (cached == nullptr) {
        auto page = std::make_unique<TABSPage>(pageNo, PageSize());
        page->Encipher = enciphered;
        ReadPageFromStorage(*page, enciphered);
        page->ReadFromDisk = true;
        checkType(*page);
        cached = clean_.Insert(std::move(page));
        ++cached->UseCount;
        TrimCache();
        return TABSPageHandle(this, cached, session);
    }
    checkType(*cached);
    ++cached->UseCount;
    return TABSPageHandle(this, cached, session);
}

void TABSPageManager::MakeDirty(TABSPageHandle& handle) {
    std::lock_guard lock(mutex_);
    TABSPage* page = handle.page_;
    if (page->Dirty)
        return;
    TABSSessionID session = handle.session_;
    CheckSession(session);
    TABSSessionID owner = AddedBySession(page->PageNo());
    if (owner != kInvalidSessionID && owner != session)
        RaiseError(20090, "Page is used by other session");
    SessionPages& pages = sessions_[session];
    assert(pages.Dirty.Find(page->PageNo()) == nullptr);

    if (page->UseCount == 1 && !page->Detached && clean_.Find(page->PageNo()) == page) {
        // This handle is the page's only user: the session takes the cached page over.
        std::unique_ptr<TABSPage> own = clean_.Extract(page->PageNo());
        own->SessionID = session;
        own->Dirty = true;
        pages.Dirty.Insert(std::move(own));
        return;
    }
    // Others still read the committed bytes: the session works on a private copy.
    auto copy = std::make_unique<TABSPage>(page->PageNo(), page->PageSize());
    std::memcpy(copy->Buffer(), page->Buffer(), page->PageSize());
    copy->Encipher = page->Encipher;
    copy->ReadFromDisk = page->ReadFromDisk;
    copy->SessionID = session;
    copy->Dirty = true;
    copy->UseCount = 1;
    TABSPage* raw = pages.Dirty.Insert(std::move(copy));
    Unpin(page);
    handle.page_ = raw;
}

void TABSPageManager::Unpin(TABSPage* page) noexcept {
    std::lock_guard lock(mutex_);
    assert(page->UseCount > 0);
    --page->UseCount;
    if (page->UseCount > 0)
        return;
    if (page->Detached) {
        auto it = std::find_if(detached_.begin(), detached_.end(),
                               [page](const std::unique_ptr<TABSPage>& p) { return p.get() == page; });
        if (it != detached_.end())
            detached_.erase(it);
        return;
    }
    if (!page->Dirty)
        TrimCache();
}

void TABSPageManager::RemovePage(TABSSessionID session, TABSPageNo pageNo) {
    CheckSession(session);
    std::lock_guard lock(mutex_);
    TABSSessionID owner = AddedBySession(pageNo);
    if (owner != kInvalidSessionID && owner != session)
        RaiseError(20090, "Page is used by other session");
    SessionPages& pages = sessions_[session];
    if (TABSPage* own = pages.Dirty.Find(pageNo)) {
        if (own->UseCount > 0)
            RaiseError(20088, "Cannot remove used page");
        (void)pages.Dirty.Extract(pageNo);
    }
    pages.GivenBack.insert(pageNo);
}

void TABSPageManager::PutIntoCleanCache(std::unique_ptr<TABSPage> page) {
    page->Dirty = false;
    page->SessionID = kInvalidSessionID;
    if (std::unique_ptr<TABSPage> old = clean_.Extract(page->PageNo()))
        Detach(std::move(old));
    clean_.Insert(std::move(page));
}

void TABSPageManager::Detach(std::unique_ptr<TABSPage> page) noexcept {
    if (!page || page->UseCount == 0)
        return;  // nobody holds it: freed here
    page->Detached = true;
    detached_.push_back(std::move(page));
}

void TABSPageManager::TrimCache() noexcept {
    if (clean_.Size() <= cacheCapacity_)
        return;
    // Pages nobody uses leave from the front of the sorted list. A full cache sheds a little more
    // than it must, so that reads of new pages do not compact the list one page at a time.
    const std::size_t slack = cacheCapacity_ / 16;
    clean_.DropUnused(clean_.Size() - cacheCapacity_ + slack);
}

void TABSPageManager::CommitSession(TABSSessionID session, bool flushFileBuffers) {
    CheckSession(session);
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(session);
    if (it == sessions_.end() || it->second.Empty()) {
        if (it != sessions_.end())
            sessions_.erase(it);
        return;
    }
    SessionPages& pages = it->second;
    // Check everything before the file changes: a failed check leaves the session as it was.
    for (std::size_t i = 0; i < pages.Dirty.Size(); ++i) {
        const TABSPage* page = pages.Dirty.At(i);
        if (page->UseCount > 0)
            RaiseError(20086, "Cannot write used page");
        if (!page->Dirty)
            RaiseError(20085, "Invalid dirty page");
    }

    BeginCommit();
    try {
        // The order keeps a commit cut short (the process killed) as close to the state before
        // it as the file allows: new pages first, since no written page names them yet; then
        // the pages that were there before; pages given back last, once no written page names
        // them any more. Given back first, a record whose page was not written yet would name
        // pages that are free (and lose its BLOB value to the repair).
        for (const bool added : {true, false}) {
            for (std::size_t i = 0; i < pages.Dirty.Size(); ++i) {
                TABSPage& page = *pages.Dirty.At(i);
                if (pages.Added.contains(page.PageNo()) == added)
                    WritePageToStorage(page);
            }
        }
        for (TABSPageNo pageNo : pages.GivenBack) {
            FreePageNo(pageNo);
            if (std::unique_ptr<TABSPage> cached = clean_.Extract(pageNo))
                Detach(std::move(cached));
        }
        EndCommit(flushFileBuffers);
    } catch (...) {
        AbortCommit();
        throw;
    }

    while (!pages.Dirty.Empty()) {
        std::unique_ptr<TABSPage> page = pages.Dirty.ExtractAt(pages.Dirty.Size() - 1);
        page->ReadFromDisk = false;
        PutIntoCleanCache(std::move(page));
    }
    sessions_.erase(it);
    TrimCache();
}

void TABSPageManager::RollbackSession(TABSSessionID session) {
    CheckSession(session);
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(session);
    if (it == sessions_.end())
        return;
    SessionPages& pages = it->second;
    for (std::size_t i = 0; i < pages.Dirty.Size(); ++i)
        if (pages.Dirty.At(i)->UseCount > 0)
            RaiseError(20088, "Cannot remove used page");
    std::vector<TABSPageNo> added(pages.Added.begin(), pages.Added.end());
    pages.Dirty.Clear();
    sessions_.erase(it);
    if (!added.empty())
        FreePageNos(added);
}

std::vector<std::uint8_t> TABSPageManager::ReadCommittedData(TABSPageNo pageNo) {
    std::lock_guard lock(mutex_);
    if (AddedBySession(pageNo) != kInvalidSessionID)
        return {};
    const TABSPage* cached = clean_.Find(pageNo);
    std::unique_ptr<TABSPage> read;
    if (cached == nullptr || !IsCachedPageCurrent(*cached)) {
        read = std::make_unique<TABSPage>(pageNo, PageSize());
        ReadPageFromStorage(*read, true);
        cached = read.get();
    }
    const std::span<const std::uint8_t> bytes = cached->Bytes().subspan(PageHeader::kSize);
    return {bytes.begin(), bytes.end()};
}

bool TABSPageManager::SessionHasChanges(TABSSessionID session) const {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(session);
    return it != sessions_.end() && !it->second.Empty();
}

std::size_t TABSPageManager::CachedPageCount() const {
    std::lock_guard lock(mutex_);
    return clean_.Size();
}

std::size_t TABSPageManager::DirtyPageCount(TABSSessionID session) const {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find(session);
    return it == sessions_.end() ? 0 : it->second.Dirty.Size();
}

void TABSPageManager::ClearAllPages() noexcept {
    std::lock_guard lock(mutex_);
    ClearCleanPages();
    for (auto& [id, pages] : sessions_)
        while (!pages.Dirty.Empty())
            Detach(pages.Dirty.ExtractAt(pages.Dirty.Size() - 1));
    sessions_.clear();
}

void TABSPageManager::ClearCleanPages() noexcept {
    std::lock_guard lock(mutex_);
    while (!clean_.Empty())
        Detach(clean_.ExtractAt(clean_.Size() - 1));
}

void TABSPageManager::InvalidateCachedPage(TABSPageNo pageNo) noexcept {
    std::lock_guard lock(mutex_);
    if (std::unique_ptr<TABSPage> cached = clean_.Extract(pageNo))
        Detach(std::move(cached));
}

} // namespace kova
