// Pages of a database file and the page cache with its per-session page sets.
//
// A page is PageSize bytes: a 40-byte header followed by the data area that belongs to the page's
// owner (system directory, table list, records, indexes, BLOBs …). All header fields are
// little-endian and decoded with explicit reads:
//
//   offset size  field                 value when a page is made
//   0      4     signature             "ABSP"
//   4      4     modification counter  random in 0 … 0x3FFFFFFE; +1 on every write (see below)
//   8      2     page type             TABSPageType
//   10     4     next page             -1; next page of the same internal file or chain
//   14     4     data CRC              0; CRC of the plain data area of an enciphered page
//   18     1     (owner byte)          0
//   19     1     (owner byte)          0
//   20     1     page cipher id        0; cipher the data area was enciphered with
//   21     1     (owner byte)          0
//   22     4     (owner int32)         -1
//   26     4     (owner int32)         -1
//   30     2     (owner int16)         0
//   32     8     (owner bytes)         0
//
// The modification counter runs through 0 … 0x7FFFFFFC and wraps to 0. 0x7FFFFFFF written on disk
// marks a page that was given back; in memory it marks a page whose read failed.
//
// Page life cycle inside one page manager:
//
//            AddPage(s)                      CommitSession(s)
//   free ───────────────> added+dirty(s) ───────────────────> clean (cache / disk)
//    ^                        │ RollbackSession(s)              │  ^      │ MutableBytes() in s
//    └────────────────────────┘                                 │  │      v
//    ^        CommitSession(s)                                  │  └── dirty(s)
//    └──────────────────────── given back(s) <── RemovePage(s) ─┘   (RollbackSession drops the
//                                                                     private copy)
//
// A page in a session's set belongs to that session until it commits or rolls back; the clean
// cache holds committed pages shared by every session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <vector>

namespace kova {

using TABSPageNo = std::int32_t;
using TABSSessionID = std::int32_t;

inline constexpr TABSPageNo kNoPage = -1;
inline constexpr TABSSessionID kInvalidSessionID = -1;
// The session in which the database's own files are made when a file is created.
inline constexpr TABSSessionID kSystemSessionID = -2;

// Page header layout (see the table above).
namespace PageHeader {
inline constexpr std::size_t kSignatureOffset = 0;
inline constexpr std::size_t kSignatureSize = 4;
inline constexpr std::size_t kModificationCounterOffset = 4;
inline constexpr std::size_t kPageTypeOffset = 8;
inline constexpr std::size_t kNextPageOffset = 10;
inline constexpr std::size_t kDataCrcOffset = 14;
inline constexpr std::size_t kOwnerByte18Offset = 18;
inline constexpr std::size_t kOwnerByte19Offset = 19;
inline constexpr std::size_t kCipherIdOffset = 20;
inline constexpr std::size_t kOwnerByte21Offset = 21;
inline constexpr std::size_t kOwnerInt22Offset = 22;
inline constexpr std::size_t kOwnerInt26Offset = 26;
inline constexpr std::size_t kOwnerInt16At30Offset = 30;
inline constexpr std::size_t kOwnerBytes32Offset = 32;
inline constexpr std::size_t kOwnerBytes32Size = 8;
inline constexpr std::size_t kSize = 40;
inline constexpr char kSignature[kSignatureSize + 1] = "ABSP";

static_assert(kModificationCounterOffset == kSignatureOffset + kSignatureSize);
static_assert(kPageTypeOffset == kModificationCounterOffset + 4);
static_assert(kNextPageOffset == kPageTypeOffset + 2);
static_assert(kDataCrcOffset == kNextPageOffset + 4);
static_assert(kOwnerByte18Offset == kDataCrcOffset + 4);
static_assert(kCipherIdOffset == kOwnerByte19Offset + 1);
static_assert(kOwnerInt22Offset == kOwnerByte21Offset + 1);
static_assert(kOwnerInt16At30Offset == kOwnerInt26Offset + 4);
static_assert(kOwnerBytes32Offset == kOwnerInt16At30Offset + 2);
static_assert(kSize == kOwnerBytes32Offset + kOwnerBytes32Size);
} // namespace PageHeader

// Modification counter values.
inline constexpr std::int32_t kMaxWrittenModificationCounter = 0x7FFFFFFC;
inline constexpr std::int32_t kMaxInitialModificationCounter = 0x3FFFFFFE;
// On disk: the page was given back. In memory: the page's read failed.
inline constexpr std::int32_t kGivenBackModificationCounter = 0x7FFFFFFF;

// The counter a page carries after one more write: +1, wrapping from 0x7FFFFFFC to 0. Values that
// a written page never carries (negative ones, 0x7FFFFFFD … 0x7FFFFFFF) also continue at 0.
[[nodiscard]] constexpr std::int32_t NextModificationCounter(std::int32_t counter) noexcept {
    return (counter < 0 || counter >= kMaxWrittenModificationCounter) ? 0 : counter + 1;
}

// A random counter for a new page, in 0 … 0x3FFFFFFE.
[[nodiscard]] std::int32_t RandomModificationCounter();

enum class TABSPageType : std::uint16_t {
    Unknown = 0,
    Empty = 1,
    EAM = 2,                  // free-space manager: extent allocation map
    PFS = 3,                  // free-space manager: page free space map
    FileSystemDirectory = 4,  // system directory
    ActiveSessionList = 5,    // sessions file
    TableList = 6,
    TableLocks = 7,
    TableMetaData = 8,
    TableMostUpdated = 9,
    TableRecord = 10,
    TableBlob = 11,
    TableIndex = 12,
};
inline constexpr std::uint16_t kMaxPageType = 12;
// A reader that accepts any page type asks for this one.
inline constexpr std::uint16_t kAnyPageType = 255;

// The name messages print for a page type ("Unknown Page" … "TableIndex Page").
// Raises 30382 "Unknown Page Type: (%d)" for a type above 12.
[[nodiscard]] const char* PageTypeName(std::uint16_t pageType);

// Header fields of a page, decoded from its first 40 bytes (`bytes` must hold at least 40).
struct TABSPageHeaderFields {
    std::int32_t ModificationCounter = 0;
    std::uint16_t PageType = 0;
    TABSPageNo NextPageNo = kNoPage;
    std::uint32_t DataCrc = 0;
    std::uint8_t CipherId = 0;
    bool SignatureValid = false;
};
[[nodiscard]] TABSPageHeaderFields DecodePageHeader(std::span<const std::uint8_t> bytes);

// Fills `bytes` (a whole page) as a new page of `pageType`: zeros, then the header's initial values
// with the given modification counter.
void InitializePageBytes(std::span<std::uint8_t> bytes, std::uint16_t pageType, std::int32_t modificationCounter);

// One page in memory: number, buffer (header and data area) and its bookkeeping. Pages are owned
// by the page manager's lists; everyone else reaches them through TABSPageHandle.
class TABSPage {
public:
    TABSPage(TABSPageNo pageNo, std::size_t pageSize);
    TABSPage(const TABSPage&) = delete;
    TABSPage& operator=(const TABSPage&) = delete;

    [[nodiscard]] TABSPageNo PageNo() const noexcept { return pageNo_; }
    [[nodiscard]] std::size_t PageSize() const noexcept { return pageSize_; }
    [[nodiscard]] std::uint8_t* Buffer() noexcept { return buffer_.get(); }
    [[nodiscard]] const std::uint8_t* Buffer() const noexcept { return buffer_.get(); }
    [[nodiscard]] std::span<std::uint8_t> Bytes() noexcept { return {buffer_.get(), pageSize_}; }
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept { return {buffer_.get(), pageSize_}; }

    // Header fields, read from and written to the buffer.
    [[nodiscard]] std::int32_t ModificationCounter() const noexcept;
    void SetModificationCounter(std::int32_t counter) noexcept;
    [[nodiscard]] std::uint16_t PageType() const noexcept;
    void SetPageType(std::uint16_t pageType) noexcept;
    [[nodiscard]] TABSPageNo NextPageNo() const noexcept;
    void SetNextPageNo(TABSPageNo next) noexcept;

    // Bookkeeping of the page manager.
    TABSSessionID SessionID = kInvalidSessionID;  // owning session of a dirty page
    bool Dirty = false;
    int UseCount = 0;           // number of live handles
    bool ReadFromDisk = false;  // buffer holds what was read from the file
    bool Encipher = true;       // encipher the data area when written (false for direct files)
    bool Detached = false;      // no longer in any list: freed when the last handle goes

private:
    TABSPageNo pageNo_;
    std::size_t pageSize_;
    std::unique_ptr<std::uint8_t[]> buffer_;
};

// Pages sorted by page number; lookups by binary search. Owns its pages.
class TABSSortedPageList {
public:
    [[nodiscard]] TABSPage* Find(TABSPageNo pageNo) const noexcept;
    // Inserts a page whose number is not in the list yet (precondition).
    TABSPage* Insert(std::unique_ptr<TABSPage> page);
    // Removes and returns the page with that number; null when absent.
    [[nodiscard]] std::unique_ptr<TABSPage> Extract(TABSPageNo pageNo);
    [[nodiscard]] std::size_t Size() const noexcept { return pages_.size(); }
    [[nodiscard]] bool Empty() const noexcept { return pages_.empty(); }
    [[nodiscard]] TABSPage* At(std::size_t index) const noexcept { return pages_[index].get(); }
    // Removes the page at `index` and returns it.
    [[nodiscard]] std::unique_ptr<TABSPage> ExtractAt(std::size_t index);
    // Frees up to `count` pages that nobody uses (UseCount 0), the lowest numbers first, in one
    // pass. Returns how many were freed.
    std::size_t DropUnused(std::size_t count);
    void Clear() noexcept { pages_.clear(); }

private:
    [[nodiscard]] std::size_t LowerBound(TABSPageNo pageNo) const noexcept;
    std::vector<std::unique_ptr<TABSPage>> pages_;
};

class TABSPageManager;

// A pinned page: the only way to touch page bytes. Move-only; the pin is released when the handle
// is destroyed, reset or moved from. A handle must not outlive its page manager. While pinned, a page stays in memory and a commit or rollback
// that would write or drop it fails (20086, 20088).
//
// Reading (Bytes, Data, header getters) shows the page as the handle's session sees it. The
// mutable accessors make the page dirty in the handle's session first: a page shared in the clean
// cache is copied privately for the session (or taken over when this handle is its only user), so
// other sessions keep seeing the committed bytes. Spans obtained before a mutable access may point
// to the shared copy; take them again afterwards.
class TABSPageHandle {
public:
    TABSPageHandle() noexcept = default;
    TABSPageHandle(TABSPageHandle&& other) noexcept;
    TABSPageHandle& operator=(TABSPageHandle&& other) noexcept;
    TABSPageHandle(const TABSPageHandle&) = delete;
    TABSPageHandle& operator=(const TABSPageHandle&) = delete;
    ~TABSPageHandle();

    [[nodiscard]] explicit operator bool() const noexcept { return page_ != nullptr; }
    // Unpins the page now; the handle becomes empty.
    void Release() noexcept;

    // REQUIRES: a non-empty handle (all accessors below).
    [[nodiscard]] TABSPageNo PageNo() const noexcept;
    [[nodiscard]] TABSSessionID SessionID() const noexcept { return session_; }
    [[nodiscard]] std::size_t PageSize() const noexcept;
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept;  // whole page
    [[nodiscard]] std::span<const std::uint8_t> Data() const noexcept;   // data area (after 40 bytes)
    [[nodiscard]] std::uint16_t PageType() const noexcept;
    [[nodiscard]] TABSPageNo NextPageNo() const noexcept;
    [[nodiscard]] std::int32_t ModificationCounter() const noexcept;
    [[nodiscard]] bool IsDirty() const noexcept;

    // Make the page dirty in the handle's session (copy-on-write) and give write access.
    [[nodiscard]] std::span<std::uint8_t> MutableBytes();
    [[nodiscard]] std::span<std::uint8_t> MutableData();
    void SetNextPageNo(TABSPageNo next);
    // Marks the page dirty without touching bytes (same copy-on-write as MutableBytes).
    void MarkDirty();

private:
    friend class TABSPageManager;
    TABSPageHandle(TABSPageManager* manager, TABSPage* page, TABSSessionID session) noexcept
        : manager_(manager), page_(page), session_(session) {}

    TABSPageManager* manager_ = nullptr;
    TABSPage* page_ = nullptr;
    TABSSessionID session_ = kInvalidSessionID;
};

// The page cache and the per-session page sets. Storage (file or memory) is supplied by a derived
// class through the protected hooks. Thread-safe: one recursive lock guards the cache, the sets
// and the hooks' calls.
//
// Errors raised here: 20186 "Invalid Session ID" (session -1), 20090 "Page is used by other
// session" (a page another session added and has not committed yet), 20153 wrong page type,
// 20085 "Invalid dirty page", 20086 "Cannot write used page", 20088 "Cannot remove used page".
class TABSPageManager {
public:
    TABSPageManager();
    virtual ~TABSPageManager();
    TABSPageManager(const TABSPageManager&) = delete;
    TABSPageManager& operator=(const TABSPageManager&) = delete;

    // Makes a new page for `session`: allocates a page number, fills a zeroed buffer with the
    // header of `pageType` and a random counter, and puts it into the session's dirty and added
    // sets. `encipher` false marks pages of direct files, which are never enciphered.
    [[nodiscard]] TABSPageHandle AddPage(TABSSessionID session, TABSPageType pageType, bool encipher = true);

    // Makes page `pageNo`, which the caller owns but whose bytes are lost (they no longer decipher or
    // check out), a fresh page of `pageType` in `session` without reading it, as AddPage would make
    // it; the session's commit writes it. Repair uses it for pages whose numbers others keep.
    [[nodiscard]] TABSPageHandle RenewPage(TABSSessionID session, TABSPageNo pageNo, TABSPageType pageType);

    // Pins page `pageNo` as `session` sees it: the session's own dirty copy, else the clean cache,
    // else the file. `expectedType` kAnyPageType accepts any type; another type fails with 20153
    // "Invalid page type. Possibly data is corrupted. Expected type %d, but found %d".
    // `enciphered` false reads a page of a direct file (never deciphered).
    [[nodiscard]] TABSPageHandle GetPage(TABSSessionID session, TABSPageNo pageNo,
                                         std::uint16_t expectedType = kAnyPageType, bool enciphered = true);

    // Gives page `pageNo` back in `session`; it is freed when the session commits (or at once
    // dropped from the session's dirty set). Fails with 20088 when the page is pinned.
    void RemovePage(TABSSessionID session, TABSPageNo pageNo);

    // Writes the session's pages (see the derived class for the file protocol) and moves them to
    // the clean cache. Does nothing when the session has no dirty, added or given-back page.
    void CommitSession(TABSSessionID session, bool flushFileBuffers = false);
    // Drops the session's dirty pages and frees the pages it added.
    void RollbackSession(TABSSessionID session);

    // The data area of page `pageNo` as the last commit left it (the clean cache's copy, else the
    // file's), whatever sessions changed since; empty for a page a session added and has not
    // committed. Lets an owner keep clear of what committed pages still name while it reuses room.
    [[nodiscard]] std::vector<std::uint8_t> ReadCommittedData(TABSPageNo pageNo);

    [[nodiscard]] bool SessionHasChanges(TABSSessionID session) const;
    // Counts for tests and diagnostics.
    [[nodiscard]] std::size_t CachedPageCount() const;
    [[nodiscard]] std::size_t DirtyPageCount(TABSSessionID session) const;

    // Clean-cache capacity in pages. Default: DefaultCacheCapacity of the machine.
    void SetCacheCapacity(std::size_t pages);
    [[nodiscard]] std::size_t CacheCapacity() const;
    // min(available ÷ 65536, 65536) pages, where available is the smaller of the available
    // physical memory and a non-zero memory limit; at least 1.
    [[nodiscard]] static std::size_t DefaultCacheCapacity(std::uint64_t availablePhysicalMemory,
                                                           std::uint64_t memoryLimit = 0) noexcept;

    [[nodiscard]] virtual std::size_t PageSize() const = 0;

protected:
    // Storage hooks, called with the manager's lock held.
    [[nodiscard]] virtual TABSPageNo AllocatePageNo() = 0;
    // Fills `page` from storage; decipher when `enciphered` and the storage enciphers.
    virtual void ReadPageFromStorage(TABSPage& page, bool enciphered) = 0;
    // Whether a clean cached page still equals storage (multi-user validation).
    [[nodiscard]] virtual bool IsCachedPageCurrent(const TABSPage& page) = 0;
    // Commit protocol: Begin, then FreePageNo for given-back pages, WritePageToStorage for
    // dirty pages, then End (or Abort when anything failed after Begin).
    virtual void BeginCommit() = 0;
    virtual void FreePageNo(TABSPageNo pageNo) = 0;
    virtual void WritePageToStorage(TABSPage& page) = 0;
    virtual void EndCommit(bool flushFileBuffers) = 0;
    virtual void AbortCommit() noexcept = 0;
    // Frees pages outside a commit (rollback of added pages).
    virtual void FreePageNos(const std::vector<TABSPageNo>& pageNos) = 0;

    // Drops every cached page and session set (used when storage closes). Pinned pages are
    // detached and freed when their last handle goes.
    void ClearAllPages() noexcept;
    // Drops every clean cached page (after storage went back to an earlier state); session sets stay.
    void ClearCleanPages() noexcept;
    // Drops the clean cached copy of `pageNo` (after its bytes changed behind the cache).
    void InvalidateCachedPage(TABSPageNo pageNo) noexcept;

    std::recursive_mutex& Mutex() const noexcept { return mutex_; }

private:
    friend class TABSPageHandle;

    struct SessionPages {
        TABSSortedPageList Dirty;
        std::set<TABSPageNo> Added;
        std::set<TABSPageNo> GivenBack;
        [[nodiscard]] bool Empty() const noexcept { return Dirty.Empty() && Added.empty() && GivenBack.empty(); }
    };

    static void CheckSession(TABSSessionID session);
    [[nodiscard]] TABSSessionID AddedBySession(TABSPageNo pageNo) const noexcept;
    void Unpin(TABSPage* page) noexcept;
    // Makes the handle's page dirty in its session; may replace handle.page_ with a private copy.
    void MakeDirty(TABSPageHandle& handle);
    void PutIntoCleanCache(std::unique_ptr<TABSPage> page);
    void Detach(std::unique_ptr<TABSPage> page) noexcept;
    void TrimCache() noexcept;

    mutable std::recursive_mutex mutex_;
    TABSSortedPageList clean_;
    std::map<TABSSessionID, SessionPages> sessions_;
    std::vector<std::unique_ptr<TABSPage>> detached_;
    std::size_t cacheCapacity_;
};

} // namespace kova
