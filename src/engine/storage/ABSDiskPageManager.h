// The page manager of a database file: file header, page input/output with encipherment, the
// free-space maps, the locks between processes and the commit protocol.
//
// File layout, relative to the base offset B (0 for files the engine creates; a database may be
// appended to another file, then B is found by scanning for the header):
//
//   offset size                        content
//   0      76                          main header
//   76     280                         encryption block (layout in ABSSecurity.h)
//   356    L (int16 at 356, L = 20)    lock area: byte 3 tables lock, byte 4 database lock
//   356+L  4                           object counter (NextObjectID), int32
//   360+L  PageSize × TotalPageCount   pages 0, 1, 2, …
//
// Main header (76 bytes):
//   0  16  signature "EMBEDDEDDATABASE"     30  int32   TotalPageCount
//   16 2   header size = 76                 34  int32   LastUsedPageNo (-1: empty)
//   18 8   format version float64 = 5.14    38  int32   commit counter
//   26 2   PageSize (uint16)                42  uint8   state: 2 consistent, 1 commit in progress
//   28 2   PageCountInExtent (uint16)       43  uint8   encrypted: 0xFF with a password, else 0
//                                           44  32      reserved, zero
//
// Commit protocol: under the database lock the header is re-read and written with state 1, the
// given-back pages are freed, the dirty pages written, the commit counter increased and the
// header written with state 2. Every byte a commit overwrites is saved in the commit journal
// first (ABSCommitJournal.h); a commit that fails is rolled back from it at once, and one cut by
// a dying process is rolled back by the next holder of the database lock. A file found with
// state 1 and no journal (written by a program without one, or damaged otherwise) opens with the
// needs-repair flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/storage/ABSCommitJournal.h"
#include "engine/storage/ABSPage.h"
#include "engine/storage/ABSSecurity.h"

namespace kova {

class TABSDatabaseFile;
class TABSFileSystem;
class TABSDatabaseFreeSpaceManager;

namespace FileHeader {
inline constexpr char kSignature[] = "EMBEDDEDDATABASE";
inline constexpr std::size_t kSignatureSize = 16;
inline constexpr std::size_t kHeaderSizeOffset = 16;
inline constexpr std::size_t kFormatVersionOffset = 18;
inline constexpr std::size_t kPageSizeOffset = 26;
inline constexpr std::size_t kPageCountInExtentOffset = 28;
inline constexpr std::size_t kTotalPageCountOffset = 30;
inline constexpr std::size_t kLastUsedPageNoOffset = 34;
inline constexpr std::size_t kCommitCounterOffset = 38;
inline constexpr std::size_t kStateOffset = 42;
inline constexpr std::size_t kEncryptedOffset = 43;
inline constexpr std::size_t kReservedOffset = 44;
inline constexpr std::size_t kReservedSize = 32;
inline constexpr std::size_t kSize = 76;
inline constexpr std::int16_t kHeaderSizeValue = 76;
inline constexpr double kFormatVersion = 5.14;
// Files older than this need a rebuild.
inline constexpr double kMinimumFormatVersion = 2.99;
inline constexpr std::uint8_t kStateConsistent = 2;
inline constexpr std::uint8_t kStateCommitting = 1;
inline constexpr std::uint8_t kEncryptedMark = 0xFF;

inline constexpr std::size_t kEncryptionBlockOffset = kSize;  // 76
inline constexpr std::size_t kLockAreaOffset = 356;
inline constexpr std::int16_t kLockAreaSize = 20;
inline constexpr std::size_t kTablesLockByte = 3;
inline constexpr std::size_t kDatabaseLockByte = 4;
inline constexpr std::size_t kObjectCounterSize = 4;
// Page 0 of a file this engine creates starts here.
inline constexpr std::size_t kFirstPageOffset = kLockAreaOffset + kLockAreaSize + kObjectCounterSize;

inline constexpr std::uint16_t kDefaultPageSize = 4096;
inline constexpr std::uint16_t kDefaultPageCountInExtent = 8;

static_assert(sizeof(kSignature) - 1 == kSignatureSize);
static_assert(kReservedOffset + kReservedSize == kSize);
static_assert(kLockAreaOffset == kEncryptionBlockOffset + 280);
static_assert(kFirstPageOffset == 380);
} // namespace FileHeader

// The main header as read from the file.
struct TABSDatabaseFileHeader {
    std::string Signature;  // the 16 bytes found at the signature's place
    std::int16_t HeaderSize = FileHeader::kHeaderSizeValue;
    double FormatVersion = FileHeader::kFormatVersion;
    std::uint16_t PageSize = FileHeader::kDefaultPageSize;
    std::uint16_t PageCountInExtent = FileHeader::kDefaultPageCountInExtent;
    std::int32_t TotalPageCount = 0;
    std::int32_t LastUsedPageNo = kNoPage;
    std::int32_t CommitCounter = 0;
    std::uint8_t State = FileHeader::kStateConsistent;
    std::uint8_t Encrypted = 0;

    [[nodiscard]] static TABSDatabaseFileHeader Decode(std::span<const std::uint8_t, FileHeader::kSize> bytes);
    void Encode(std::span<std::uint8_t, FileHeader::kSize> bytes) const;
};

// What `kova-sql --info` and diagnostics show about an open file.
struct TABSDatabaseFileInfo {
    std::string Signature;
    double FormatVersion = 0;
    std::uint16_t PageSize = 0;
    std::uint16_t PageCountInExtent = 0;
    std::int32_t TotalPageCount = 0;
    std::int32_t LastUsedPageNo = kNoPage;
    std::int32_t CommitCounter = 0;
    std::uint8_t State = 0;
    bool Encrypted = false;
    std::uint8_t Cipher = 0;  // meaningful when Encrypted
    std::int64_t BaseOffset = 0;
};

struct TABSOpenOptions {
    bool MultiUser = false;
    bool Exclusive = false;  // share none; clears MultiUser
    bool ReadOnly = false;   // the caller asks for read-only access
};

struct TABSOpenResult {
    bool NeedsRepair = false;  // state 1 (interrupted commit) or format version below 2.99
    bool MultiUser = false;    // the mode in effect (cleared for read-only-attribute and exclusive)
    bool ReadOnly = false;     // the file was opened read-only
};

// How long lock requests on the database lock, the tables lock and the object counter retry.
struct TABSLockRetryPolicy {
    int Attempts = 4500;
    int PauseMilliseconds = 20;
};

class TABSDiskPageManager : public TABSPageManager {
public:
    // Uses the operating system's files.
    TABSDiskPageManager();
    // Uses `fileSystem` (tests inject failures through it); it must outlive the manager.
    explicit TABSDiskPageManager(TABSFileSystem& fileSystem);
    ~TABSDiskPageManager() override;

    // Creates the file (an existing one is deleted first) and writes main header, encryption
    // block, lock area and object counter 0. The file stays open for reading and writing in
    // single-user mode; the caller makes the system directory, sessions file and table list in
    // session kSystemSessionID and commits it. An empty password makes an unenciphered file.
    // Raises 10461 when already open, 30374/30361 on file errors.
    void CreateDatabaseFile(const std::string& fileName, const TABSPassword& password,
                            std::uint16_t pageCountInExtent = FileHeader::kDefaultPageCountInExtent,
                            std::uint16_t pageSize = FileHeader::kDefaultPageSize);

    // Opens an existing file. Raises 10461 (already open), 20230 (database lock), 10470 (wrong
    // signature), 30445 (wrong password), 20237 (invalid format), 30364 (open failed). A failed
    // open leaves the manager closed. The password's cipher id is replaced by the file's.
    [[nodiscard]] TABSOpenResult OpenDatabaseFile(const std::string& fileName, const TABSPassword& password,
                                                  const TABSOpenOptions& options);

    // Closes the file and drops every cached page and session set. Harmless when closed.
    void CloseDatabaseFile();

    [[nodiscard]] bool IsOpen() const noexcept;
    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
    [[nodiscard]] bool IsReadOnly() const noexcept { return readOnly_; }
    [[nodiscard]] bool IsMultiUser() const noexcept { return multiUser_; }
    [[nodiscard]] bool IsExclusive() const noexcept { return exclusive_; }
    [[nodiscard]] bool NeedsRepair() const noexcept { return needsRepair_; }
    // Whether this manager wrote back the journal of a commit another writer left cut, since it
    // opened the file.
    [[nodiscard]] bool RolledBackCutCommit() const noexcept { return rolledBackCutCommit_; }
    [[nodiscard]] bool IsEncrypted() const noexcept;
    [[nodiscard]] const TABSPassword& Password() const noexcept { return password_; }
    [[nodiscard]] std::size_t PageSize() const override;
    [[nodiscard]] std::uint16_t PageCountInExtent() const noexcept { return header_.PageCountInExtent; }
    [[nodiscard]] std::int64_t BaseOffset() const noexcept { return base_; }
    // Header fields as last read or written. REQUIRES: open (else 10459).
    [[nodiscard]] TABSDatabaseFileInfo FileInfo() const;
    // Re-reads the main header from the file first (takes the database lock).
    [[nodiscard]] TABSDatabaseFileInfo ReadFileInfo();

    // Direct access to bytes of one page, bypassing the cache, the sessions and encipherment
    // (direct internal files). `offset` counts from the page's first byte (header included);
    // offset + count must not exceed PageSize: 10476 (read) / 10477 (write) "Error - invalid page
    // offset = %d, page size = %d". A clean cached copy of the page is dropped on write.
    void DirectReadPage(TABSPageNo pageNo, std::int32_t offset, std::span<std::uint8_t> out);
    void DirectWritePage(TABSPageNo pageNo, std::int32_t offset, std::span<const std::uint8_t> in);

    // Byte-range locks inside a page (sessions file, table lock files). Each tries once and never
    // waits: false when someone else (another process, or another lock of this file object)
    // holds any byte of the range. IsPageRegionLocked is true when any byte is held by anyone,
    // including this file object.
    [[nodiscard]] bool LockPageRegion(TABSPageNo pageNo, std::int32_t offset, std::int32_t count);
    [[nodiscard]] bool UnlockPageRegion(TABSPageNo pageNo, std::int32_t offset, std::int32_t count);
    [[nodiscard]] bool IsPageRegionLocked(TABSPageNo pageNo, std::int32_t offset, std::int32_t count);
    [[nodiscard]] bool LockPageByte(TABSPageNo pageNo, std::int32_t offset) { return LockPageRegion(pageNo, offset, 1); }
    [[nodiscard]] bool UnlockPageByte(TABSPageNo pageNo, std::int32_t offset) { return UnlockPageRegion(pageNo, offset, 1); }
    [[nodiscard]] bool IsPageByteLocked(TABSPageNo pageNo, std::int32_t offset) { return IsPageRegionLocked(pageNo, offset, 1); }

    // The database lock (lock-area byte 4), re-entrant inside this manager through a count;
    // retried per the retry policy. LockDatabase raises `errorCode` "Database is locked" when the
    // retries run out (20230 at open, 20231 allocation, 20213 commit are the callers' codes).
    void LockDatabase(int errorCode = 20230);
    void UnlockDatabase() noexcept;
    [[nodiscard]] int DatabaseLockCount() const noexcept { return databaseLockCount_; }

    // The tables lock (lock-area byte 3), re-entrant through a count; retried per the retry
    // policy. Returns false when the retries ran out (the caller raises 20210) / the unlock failed.
    [[nodiscard]] bool LockTables();
    [[nodiscard]] bool UnlockTables();

    // The next object id (table ids): under a lock on the object counter's first byte (30401 when
    // it stays locked) read, add 1, write back and return it; a read-only file returns it plus a
    // random number in 0 … 9999 without writing.
    [[nodiscard]] std::int32_t NextObjectID();

    // Gives back the free tail of the file (in multiples of the growth step).
    void GiveBackFreeTail();

    // Asks the system to put the file's written bytes on disk (30379 on failure).
    void FlushFileBuffers();

    void SetLockRetryPolicy(const TABSLockRetryPolicy& policy) noexcept { retry_ = policy; }
    [[nodiscard]] const TABSLockRetryPolicy& LockRetryPolicy() const noexcept { return retry_; }

    // Current free-space state (header copy, refreshed under the database lock).
    [[nodiscard]] std::int32_t TotalPageCount() const noexcept { return header_.TotalPageCount; }
    [[nodiscard]] std::int32_t LastUsedPageNo() const noexcept { return header_.LastUsedPageNo; }
    // Whether `pageNo` is a PFS or EAM page of this file's geometry.
    [[nodiscard]] bool IsMapPage(TABSPageNo pageNo) const;
    // Whether the free-space map marks `pageNo` as used, read under the database lock. Repair asks
    // this: after a commit that reached the file in part, stale pages may still name a page that
    // the commit gave back. Pages outside the file count as not used.
    [[nodiscard]] bool IsPageInUse(TABSPageNo pageNo);

protected:
    [[nodiscard]] TABSPageNo AllocatePageNo() override;
    void ReadPageFromStorage(TABSPage& page, bool enciphered) override;
    [[nodiscard]] bool IsCachedPageCurrent(const TABSPage& page) override;
    void BeginCommit() override;
    void FreePageNo(TABSPageNo pageNo) override;
    void WritePageToStorage(TABSPage& page) override;
    void EndCommit(bool flushFileBuffers) override;
    void AbortCommit() noexcept override;
    void FreePageNos(const std::vector<TABSPageNo>& pageNos) override;

private:
    class MapStore;
    class DatabaseLockGuard;

    void RequireOpen(int errorCode) const;
    [[nodiscard]] std::int64_t PageOffset(TABSPageNo pageNo) const noexcept;
    [[nodiscard]] std::int64_t LocateHeader();
    void ReadHeader();
    void WriteHeader();
    void LoadFreeSpace();
    void StoreFreeSpaceChanges(std::int32_t oldTotal, std::int32_t oldLast);
    void FreePageUnderLock(TABSPageNo pageNo);
    void ReadRawPage(TABSPageNo pageNo, std::uint8_t* buffer);
    void WriteRawPage(TABSPageNo pageNo, const std::uint8_t* buffer);
    // Every write of the file that may overwrite committed bytes goes through here, so that a
    // commit saves them in its journal first.
    void WriteFileAt(std::int64_t position, const void* buffer, std::size_t count, int errorCode);
    // Under the database lock: rolls back a commit whose writer died, if a journal says so.
    void RecoverCutCommit();
    [[nodiscard]] bool RetryLock(std::int64_t position);
    [[nodiscard]] std::int64_t PageBytePosition(TABSPageNo pageNo, std::int32_t offset, std::int32_t count) const;
    void OpenSteps(const std::string& fileName, const TABSPassword& password, const TABSOpenOptions& options,
                   TABSOpenResult& result);

    TABSFileSystem& fileSystem_;
    std::unique_ptr<TABSDatabaseFile> file_;
    TABSCommitJournal journal_{fileSystem_};
    std::unique_ptr<MapStore> mapStore_;
    std::unique_ptr<TABSDatabaseFreeSpaceManager> freeSpace_;
    std::string fileName_;
    TABSDatabaseFileHeader header_;
    std::vector<std::uint8_t> encryptionBlock_;
    std::int16_t lockAreaSize_ = FileHeader::kLockAreaSize;
    std::int64_t base_ = 0;
    TABSPassword password_;
    bool multiUser_ = false;
    bool exclusive_ = false;
    bool readOnly_ = false;
    bool needsRepair_ = false;
    // A journal may lie beside the file: after opening, and after a rollback that failed. In a
    // multi-user file another process may die in a commit at any time, so there every first
    // database lock looks.
    bool lookForJournal_ = false;
    bool rolledBackCutCommit_ = false;
    std::optional<std::int64_t> deferredFileSize_;  // the free tail a commit gives back, cut at its end
    int databaseLockCount_ = 0;
    int tablesLockCount_ = 0;
    TABSLockRetryPolicy retry_;
    std::vector<std::uint8_t> scratch_;  // enciphered copy of a page being written
};

} // namespace kova
