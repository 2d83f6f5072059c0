// The page manager of a database file: header, pages, locks and the commit protocol.
#include "engine/storage/ABSDiskPageManager.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSDatabaseFile.h"
#include "engine/storage/ABSFreeSpace.h"

namespace kova {

namespace {

// Error codes of the file operations, by what is read or written.
constexpr int kHeaderReadError = 10464;
constexpr int kHeaderWriteError = 10462;
constexpr int kPageReadError = 10474;
constexpr int kPageWriteError = 10475;

// How many bytes are read at offset 0 to recognise a header that starts the file.
constexpr std::size_t kHeaderProbeSize = 92;
// Header scan: window size and overlap of consecutive windows.
constexpr std::int64_t kScanWindow = 10000;
constexpr std::int64_t kScanOverlap = 16;

bool IsHeaderAt(const std::uint8_t* bytes) {
    return std::memcmp(bytes, FileHeader::kSignature, FileHeader::kSignatureSize) == 0 &&
           ReadI16(bytes + FileHeader::kHeaderSizeOffset) == FileHeader::kHeaderSizeValue;
}

std::int32_t RandomBelow(std::int32_t bound) {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::int32_t>(0, bound - 1)(generator);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSDatabaseFileHeader

TABSDatabaseFileHeader TABSDatabaseFileHeader::Decode(std::span<const std::uint8_t, FileHeader::kSize> bytes) {
    const std::uint8_t* p = bytes.data();
    TABSDatabaseFileHeader header;
    const char* signature = reinterpret_cast<const char*>(p);
    header.Signature.assign(signature, std::find(signature, signature + FileHeader::kSignatureSize, '\0'));
    header.HeaderSize = ReadI16(p + FileHeader::kHeaderSizeOffset);
    header.FormatVersion = ReadF64(p + FileHeader::kFormatVersionOffset);
    header.PageSize = ReadU16(p + FileHeader::kPageSizeOffset);
    header.PageCountInExtent = ReadU16(p + FileHeader::kPageCountInExtentOffset);
    header.TotalPageCount = ReadI32(p + FileHeader::kTotalPageCountOffset);
    header.LastUsedPageNo = ReadI32(p + FileHeader::kLastUsedPageNoOffset);
    header.CommitCounter = ReadI32(p + FileHeader::kCommitCounterOffset);
    header.State = p[FileHeader::kStateOffset];
    header.Encrypted = p[FileHeader::kEncryptedOffset];
    return header;
}

void TABSDatabaseFileHeader::Encode(std::span<std::uint8_t, FileHeader::kSize> bytes) const {
    std::uint8_t* p = bytes.data();
    std::memset(p, 0, FileHeader::kSize);
    std::memcpy(p, FileHeader::kSignature, FileHeader::kSignatureSize);
    WriteI16(p + FileHeader::kHeaderSizeOffset, FileHeader::kHeaderSizeValue);
    WriteF64(p + FileHeader::kFormatVersionOffset, FormatVersion);
    WriteU16(p + FileHeader::kPageSizeOffset, PageSize);
    WriteU16(p + FileHeader::kPageCountInExtentOffset, PageCountInExtent);
    WriteI32(p + FileHeader::kTotalPageCountOffset, TotalPageCount);
    WriteI32(p + FileHeader::kLastUsedPageNoOffset, LastUsedPageNo);
    WriteI32(p + FileHeader::kCommitCounterOffset, CommitCounter);
    p[FileHeader::kStateOffset] = State;
    p[FileHeader::kEncryptedOffset] = Encrypted;
}

// ---------------------------------------------------------------------------------------------
// Helpers of the manager

// Map pages for the free-space manager: plain pages read and written at once.
class TABSDiskPageManager::MapStore final : public TABSFreeSpaceStorage {
public:
    explicit MapStore(TABSDiskPageManager& owner) : owner_(owner) {}
    void ReadMapPage(TABSPageNo pageNo, std::span<std::uint8_t> page) override { owner_.ReadRawPage(pageNo, page.data()); }
    void WriteMapPage(TABSPageNo pageNo, std::span<std::uint8_t> page) override {
        WriteI32(page.data() + PageHeader::kModificationCounterOffset,
                 NextModificationCounter(ReadI32(page.data() + PageHeader::kModificationCounterOffset)));
        owner_.WriteRawPage(pageNo, page.data());
        owner_.InvalidateCachedPage(pageNo);
    }
    void ResizeToPages(std::int32_t totalPageCount) override {
        const std::int64_t size = owner_.PageOffset(totalPageCount);
        // Inside a commit the file does not shrink before the header says the commit is
        // complete: a rollback must find the pages it gives back where they were.
        if (owner_.journal_.Active() && size < owner_.file_->GetSize()) {
            owner_.deferredFileSize_ = size;
            return;
        }
        owner_.file_->SetSize(size);
    }

private:
    TABSDiskPageManager& owner_;
};

class TABSDiskPageManager::DatabaseLockGuard {
public:
    DatabaseLockGuard(TABSDiskPageManager& owner, int errorCode) : owner_(owner) { owner_.LockDatabase(errorCode); }
    ~DatabaseLockGuard() { owner_.UnlockDatabase(); }
    DatabaseLockGuard(const DatabaseLockGuard&) = delete;
    DatabaseLockGuard& operator=(const DatabaseLockGuard&) = delete;

private:
    TABSDiskPageManager& owner_;
};

// ---------------------------------------------------------------------------------------------
// Construction, create, open, close

TABSDiskPageManager::TABSDiskPageManager() : TABSDiskPageManager(TABSFileSystem::Default()) {}

TABSDiskPageManager::TABSDiskPageManager(TABSFileSystem& fileSystem) : fileSystem_(fileSystem) {
    SetCacheCapacity(DefaultCacheCapacity(fileSystem_.AvailablePhysicalMemory()));
}

TABSDiskPageManager::~TABSDiskPageManager() {
    try {
        CloseDatabaseFile();
    } catch (...) {
        // Closing in a destructor must not throw; the handle is gone either way.
    }
}

bool TABSDiskPageManager::IsOpen() const noexcept { return file_ && file_->IsOpen(); }

bool TABSDiskPageManager::IsEncrypted() const noexcept { return header_.Encrypted != 0; }

std::size_t TABSDiskPageManager::PageSize() const { return header_.PageSize; }

void TABSDiskPageManager::RequireOpen(int errorCode) const {
    if (!IsOpen())
        RaiseError(errorCode, "Error - database file is not opened.");
}

std::int64_t TABSDiskPageManager::PageOffset(TABSPageNo pageNo) const noexcept {
    return base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset) + lockAreaSize_ +
           static_cast<std::int64_t>(FileHeader::kObjectCounterSize) +
           static_cast<std::int64_t>(pageNo) * static_cast<std::int64_t>(header_.PageSize);
}

void TABSDiskPageManager::CreateDatabaseFile(const std::string& fileName, const TABSPassword& password,
                                             std::uint16_t pageCountInExtent, std::uint16_t pageSize) {
    std::lock_guard lock(Mutex());
    if (IsOpen())
        RaiseError(10461, "Error - database file %s is in use.", {fileName_});
    if (pageSize <= PageHeader::kSize || pageCountInExtent == 0)
        RaiseError(20237, "Invalid database format");

    file_ = std::make_unique<TABSDatabaseFile>(fileSystem_);
    try {
        file_->CreateFile(fileName);
        // A journal of an earlier file of that name must never be written into this one.
        (void)fileSystem_.Remove(TABSCommitJournal::NameFor(fileName));
        fileName_ = fileName;
        base_ = 0;
        lockAreaSize_ = FileHeader::kLockAreaSize;
        header_ = TABSDatabaseFileHeader{};
        header_.Signature = FileHeader::kSignature;
        header_.PageSize = pageSize;
        header_.PageCountInExtent = pageCountInExtent;
        header_.Encrypted = password.Password.empty() ? 0 : FileHeader::kEncryptedMark;
        password_ = password;
        encryptionBlock_.assign(kEncryptionBlockSize, 0);
        WriteI16(encryptionBlock_.data(), static_cast<std::int16_t>(kEncryptionBlockSize));
        if (IsEncrypted())
            MakePasswordCheckBlock(encryptionBlock_.data(), password_);
        else
            password_.Cipher = 0;

        // Header, encryption block, lock area and object counter go out in one write.
        std::vector<std::uint8_t> front(FileHeader::kFirstPageOffset, 0);
        header_.Encode(std::span<std::uint8_t, FileHeader::kSize>(front.data(), FileHeader::kSize));
        std::memcpy(front.data() + FileHeader::kEncryptionBlockOffset, encryptionBlock_.data(), kEncryptionBlockSize);
        WriteI16(front.data() + FileHeader::kLockAreaOffset, FileHeader::kLockAreaSize);
        WriteI32(front.data() + FileHeader::kLockAreaOffset + FileHeader::kLockAreaSize, 0);
        file_->WriteAt(0, front.data(), front.size(), kHeaderWriteError);

        readOnly_ = false;
        multiUser_ = false;
        exclusive_ = false;
        needsRepair_ = false;
        scratch_.assign(pageSize, 0);
        mapStore_ = std::make_unique<MapStore>(*this);
        freeSpace_ = std::make_unique<TABSDatabaseFreeSpaceManager>(*mapStore_, pageSize, pageCountInExtent);
        freeSpace_->Load(header_.TotalPageCount, header_.LastUsedPageNo, true);
    } catch (...) {
        freeSpace_.reset();
        mapStore_.reset();
        if (file_->IsOpen())
            (void)fileSystem_.Remove(fileName);
        file_.reset();
        throw;
    }
}

std::int64_t TABSDiskPageManager::LocateHeader() {
    const std::int64_t fileSize = file_->GetSize();
    std::uint8_t probe[kHeaderProbeSize] = {};
    std::size_t probeSize = static_cast<std::size_t>(std::min<std::int64_t>(fileSize, kHeaderProbeSize));
    if (probeSize > 0)
        file_->ReadAt(0, probe, probeSize, kHeaderReadError);
    if (probeSize >= FileHeader::kHeaderSizeOffset + 2 && IsHeaderAt(probe))
        return 0;

    // The database may be appended to other data: look for the signature followed by the header size.
    std::vector<std::uint8_t> window(static_cast<std::size_t>(kScanWindow));
    for (std::int64_t start = 0; start < fileSize;) {
        const std::int64_t length = std::min<std::int64_t>(kScanWindow, fileSize - start);
        file_->ReadAt(start, window.data(), static_cast<std::size_t>(length), kHeaderReadError);
        for (std::int64_t at = 0; at + static_cast<std::int64_t>(FileHeader::kSignatureSize) <= length; ++at) {
            const std::uint8_t* candidate = window.data() + at;
            if (std::memcmp(candidate, FileHeader::kSignature, FileHeader::kSignatureSize) != 0)
                continue;
            std::uint8_t sizeField[2];
            if (at + static_cast<std::int64_t>(FileHeader::kSignatureSize) + 2 <= length) {
                std::memcpy(sizeField, candidate + FileHeader::kHeaderSizeOffset, 2);
            } else {
                // The size field lies past this window (the overlap only covers the signature).
                const std::int64_t fieldAt = start + at + static_cast<std::int64_t>(FileHeader::kHeaderSizeOffset);
                if (fieldAt + 2 > fileSize)
                    continue;
                file_->ReadAt(fieldAt, sizeField, 2, kHeaderReadError);
            }
            if (ReadI16(sizeField) == FileHeader::kHeaderSizeValue)
                return start + at;
        }
        if (start + length >= fileSize)
            break;
        start += length - kScanOverlap;
    }
    return 0;
}

void TABSDiskPageManager::ReadHeader() {
    std::uint8_t bytes[FileHeader::kSize];
    file_->ReadAt(base_, bytes, FileHeader::kSize, kHeaderReadError);
    header_ = TABSDatabaseFileHeader::Decode(std::span<const std::uint8_t, FileHeader::kSize>(bytes));
}

void TABSDiskPageManager::WriteHeader() {
    std::uint8_t bytes[FileHeader::kSize];
    header_.Encode(std::span<std::uint8_t, FileHeader::kSize>(bytes));
    WriteFileAt(base_, bytes, FileHeader::kSize, kHeaderWriteError);
}

void TABSDiskPageManager::WriteFileAt(std::int64_t position, const void* buffer, std::size_t count, int errorCode) {
    journal_.SaveBefore(position, count);
    file_->WriteAt(position, buffer, count, errorCode);
}

TABSOpenResult TABSDiskPageManager::OpenDatabaseFile(const std::string& fileName, const TABSPassword& password,
                                                     const TABSOpenOptions& options) {
    std::lock_guard lock(Mutex());
    if (IsOpen())
        RaiseError(10461, "Error - database file %s is in use.", {fileName_});
    TABSOpenResult result;
    try {
        OpenSteps(fileName, password, options, result);
    } catch (...) {
        // A failed open releases everything opened so far.
        databaseLockCount_ = 0;
        tablesLockCount_ = 0;
        freeSpace_.reset();
        mapStore_.reset();
        file_.reset();
        throw;
    }
    return result;
}

void TABSDiskPageManager::OpenSteps(const std::string& fileName, const TABSPassword& password,
                                    const TABSOpenOptions& options, TABSOpenResult& result) {
    bool readOnly = options.ReadOnly;
    bool multiUser = options.MultiUser;
    const bool exclusive = options.Exclusive;

    // Writability: the attribute, an open for writing with the mode we would share, and one byte
    // written back where it was read.
    if (!readOnly) {
        if (fileSystem_.HasReadOnlyAttribute(fileName)) {
            readOnly = true;
            multiUser = false;
        } else {
            TABSDatabaseFile probe(fileSystem_);
            try {
                probe.OpenFile(fileName, 1, multiUser ? 1 : 2);
                std::uint8_t first = 0;
                probe.ReadAt(0, &first, 1, kHeaderReadError);
                probe.WriteAt(0, &first, 1, kHeaderWriteError);
                probe.CloseFile();
            } catch (const EABSException&) {
                readOnly = true;
            }
        }
    }

    file_ = std::make_unique<TABSDatabaseFile>(fileSystem_);
    if (readOnly) {
        file_->OpenFile(fileName, 0, 1);
    } else {
        file_->OpenFile(fileName, 1, exclusive ? 0 : 1);
        if (exclusive)
            multiUser = false;
    }
    fileName_ = fileName;
    readOnly_ = readOnly;
    multiUser_ = multiUser;
    exclusive_ = exclusive && !readOnly;
    databaseLockCount_ = 0;
    tablesLockCount_ = 0;
    lockAreaSize_ = FileHeader::kLockAreaSize;
    lookForJournal_ = !readOnly;
    rolledBackCutCommit_ = false;

    // The lock bytes lie behind the header, so the header is found before it is locked (taking
    // the lock rolls back a commit a dead writer left cut).
    base_ = LocateHeader();
    {
        DatabaseLockGuard guard(*this, 20230);
        ReadHeader();
    }
    needsRepair_ = header_.State != FileHeader::kStateConsistent || header_.FormatVersion < FileHeader::kMinimumFormatVersion;

    if (header_.Signature != FileHeader::kSignature)
        RaiseError(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
                   {header_.Signature, FileHeader::kSignature});
    if (header_.PageSize <= PageHeader::kSize || header_.PageCountInExtent == 0 || header_.TotalPageCount < 0 ||
        header_.LastUsedPageNo < kNoPage)
        RaiseError(20237, "Invalid database format");

    encryptionBlock_.assign(kEncryptionBlockSize, 0);
    file_->ReadAt(base_ + static_cast<std::int64_t>(FileHeader::kEncryptionBlockOffset), encryptionBlock_.data(),
                  kEncryptionBlockSize, kHeaderReadError);
    password_ = password;
    if (IsEncrypted()) {
        password_.Cipher = encryptionBlock_[2];
        if (!CheckPassword(encryptionBlock_.data(), password_.Password))
            RaiseError(30445, "Cannot open database because incorrect password");
    }
    if (ReadI16(encryptionBlock_.data()) != static_cast<std::int16_t>(kEncryptionBlockSize))
        RaiseError(20237, "Invalid database format");

    std::uint8_t lockAreaSize[2];
    file_->ReadAt(base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset), lockAreaSize, 2, kHeaderReadError);
    lockAreaSize_ = ReadI16(lockAreaSize);
    if (lockAreaSize_ <= static_cast<std::int16_t>(FileHeader::kDatabaseLockByte))
        RaiseError(20237, "Invalid database format");

    scratch_.assign(header_.PageSize, 0);
    mapStore_ = std::make_unique<MapStore>(*this);
    freeSpace_ = std::make_unique<TABSDatabaseFreeSpaceManager>(*mapStore_, header_.PageSize, header_.PageCountInExtent);
    freeSpace_->Load(header_.TotalPageCount, header_.LastUsedPageNo, false);

    result.NeedsRepair = needsRepair_;
    result.MultiUser = multiUser_;
    result.ReadOnly = readOnly_;
}

void TABSDiskPageManager::CloseDatabaseFile() {
    std::lock_guard lock(Mutex());
    ClearAllPages();
    freeSpace_.reset();
    mapStore_.reset();
    databaseLockCount_ = 0;
    tablesLockCount_ = 0;
    if (file_) {
        std::unique_ptr<TABSDatabaseFile> file = std::move(file_);
        if (file->IsOpen())
            file->CloseFile();
    }
}

TABSDatabaseFileInfo TABSDiskPageManager::FileInfo() const {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    TABSDatabaseFileInfo info;
    info.Signature = header_.Signature;
    info.FormatVersion = header_.FormatVersion;
    info.PageSize = header_.PageSize;
    info.PageCountInExtent = header_.PageCountInExtent;
    info.TotalPageCount = header_.TotalPageCount;
    info.LastUsedPageNo = header_.LastUsedPageNo;
    info.CommitCounter = header_.CommitCounter;
    info.State = header_.State;
    info.Encrypted = IsEncrypted();
    info.Cipher = IsEncrypted() ? password_.Cipher : 0;
    info.BaseOffset = base_;
    return info;
}

TABSDatabaseFileInfo TABSDiskPageManager::ReadFileInfo() {
    std::lock_guard lock(Mutex());
    RequireOpen(10460);
    {
        DatabaseLockGuard guard(*this, 20230);
        ReadHeader();
    }
    return FileInfo();
}

bool TABSDiskPageManager::IsMapPage(TABSPageNo pageNo) const {
    std::lock_guard lock(Mutex());
    RequireOpen(30436);
    return freeSpace_->Geometry().IsMapPage(pageNo);
}

// ---------------------------------------------------------------------------------------------
// Locks

bool TABSDiskPageManager::RetryLock(std::int64_t position) {
    for (int attempt = 0; attempt < retry_.Attempts; ++attempt) {
        if (attempt > 0)
            fileSystem_.Sleep(retry_.PauseMilliseconds);
        if (file_->LockByte(position))
            return true;
    }
    return false;
}

void TABSDiskPageManager::LockDatabase(int errorCode) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    if (databaseLockCount_ > 0) {
        ++databaseLockCount_;
        return;
    }
    const std::int64_t lockByte = base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset + FileHeader::kDatabaseLockByte);
    if (!RetryLock(lockByte))
        RaiseError(errorCode, "Database is locked");
    databaseLockCount_ = 1;
    if (!readOnly_ && (multiUser_ || lookForJournal_)) {
        try {
            RecoverCutCommit();
        } catch (...) {
            databaseLockCount_ = 0;
            (void)file_->UnlockByte(lockByte);
            throw;
        }
    }
}

void TABSDiskPageManager::RecoverCutCommit() {
    if (journal_.Active() || !TABSCommitJournal::IsLeftOver(fileSystem_, fileName_)) {
        lookForJournal_ = false;
        return;
    }
    std::uint8_t bytes[FileHeader::kSize];
    file_->ReadAt(base_, bytes, FileHeader::kSize, kHeaderReadError);
    const TABSDatabaseFileHeader onDisk =
        TABSDatabaseFileHeader::Decode(std::span<const std::uint8_t, FileHeader::kSize>(bytes));
    if (onDisk.Signature != FileHeader::kSignature)
        return;  // not a database: its opening fails, and nothing is written into it
    if (TABSCommitJournal::RecoverLeftOver(fileSystem_, *file_, onDisk.State == FileHeader::kStateCommitting)) {
        rolledBackCutCommit_ = true;
        ClearCleanPages();
        if (freeSpace_)
            freeSpace_->DropCachedMaps();
    }
    lookForJournal_ = false;
}

void TABSDiskPageManager::UnlockDatabase() noexcept {
    std::lock_guard lock(Mutex());
    if (databaseLockCount_ == 0 || !IsOpen())
        return;
    if (--databaseLockCount_ == 0)
        (void)file_->UnlockByte(base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset + FileHeader::kDatabaseLockByte));
}

bool TABSDiskPageManager::LockTables() {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    if (tablesLockCount_ > 0) {
        ++tablesLockCount_;
        return true;
    }
    if (!RetryLock(base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset + FileHeader::kTablesLockByte)))
        return false;
    tablesLockCount_ = 1;
    return true;
}

bool TABSDiskPageManager::UnlockTables() {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    if (tablesLockCount_ == 0)
        return false;
    if (--tablesLockCount_ > 0)
        return true;
    return file_->UnlockByte(base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset + FileHeader::kTablesLockByte));
}

std::int64_t TABSDiskPageManager::PageBytePosition(TABSPageNo pageNo, std::int32_t offset, std::int32_t count) const {
    if (pageNo < 0)
        RaiseError(10471, "Invalid PageNo = %d", {static_cast<int>(pageNo)});
    if (offset < 0 || count < 0 || static_cast<std::int64_t>(offset) + count > header_.PageSize)
        RaiseError(10476, "Error - invalid page offset = %d, page size = %d",
                   {static_cast<int>(offset), static_cast<int>(header_.PageSize)});
    return PageOffset(pageNo) + offset;
}

bool TABSDiskPageManager::LockPageRegion(TABSPageNo pageNo, std::int32_t offset, std::int32_t count) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    return file_->LockRegion(PageBytePosition(pageNo, offset, count), count);
}

bool TABSDiskPageManager::UnlockPageRegion(TABSPageNo pageNo, std::int32_t offset, std::int32_t count) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    return file_->UnlockRegion(PageBytePosition(pageNo, offset, count), count);
}

bool TABSDiskPageManager::IsPageRegionLocked(TABSPageNo pageNo, std::int32_t offset, std::int32_t count) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    return file_->IsRegionLocked(PageBytePosition(pageNo, offset, count), count);
}

std::int32_t TABSDiskPageManager::NextObjectID() {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    const std::int64_t position = base_ + static_cast<std::int64_t>(FileHeader::kLockAreaOffset) + lockAreaSize_;
    if (!RetryLock(position))
        RaiseError(30401, "Cannot get NextObjectID. File area is Locked.");
    std::int32_t id = 0;
    try {
        std::uint8_t bytes[4];
        file_->ReadAt(position, bytes, sizeof bytes, kHeaderReadError);
        id = ReadI32(bytes) + 1;
        if (!readOnly_) {
            WriteI32(bytes, id);
            WriteFileAt(position, bytes, sizeof bytes, kHeaderWriteError);
        } else {
            // Nothing may be written: a random offset keeps ids of readers apart.
            id += RandomBelow(10000);
        }
    } catch (...) {
        (void)file_->UnlockByte(position);
        throw;
    }
    (void)file_->UnlockByte(position);
    return id;
}

// ---------------------------------------------------------------------------------------------
// Direct page access

void TABSDiskPageManager::DirectReadPage(TABSPageNo pageNo, std::int32_t offset, std::span<std::uint8_t> out) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    if (pageNo < 0)
        RaiseError(10471, "Invalid PageNo = %d", {static_cast<int>(pageNo)});
    if (offset < 0 || static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(out.size()) > header_.PageSize)
        RaiseError(10476, "Error - invalid page offset = %d, page size = %d",
                   {static_cast<int>(offset), static_cast<int>(header_.PageSize)});
    if (!out.empty())
        file_->ReadAt(PageOffset(pageNo) + offset, out.data(), out.size(), kPageReadError);
}

void TABSDiskPageManager::DirectWritePage(TABSPageNo pageNo, std::int32_t offset, std::span<const std::uint8_t> in) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    if (pageNo < 0)
        RaiseError(10471, "Invalid PageNo = %d", {static_cast<int>(pageNo)});
    if (offset < 0 || static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(in.size()) > header_.PageSize)
        RaiseError(10477, "Error - invalid page offset = %d, page size = %d",
                   {static_cast<int>(offset), static_cast<int>(header_.PageSize)});
    if (!in.empty())
        WriteFileAt(PageOffset(pageNo) + offset, in.data(), in.size(), kPageWriteError);
    InvalidateCachedPage(pageNo);
}

// ---------------------------------------------------------------------------------------------
// Page input and output

void TABSDiskPageManager::ReadRawPage(TABSPageNo pageNo, std::uint8_t* buffer) {
    if (pageNo < 0)
        RaiseError(10471, "Invalid PageNo = %d", {static_cast<int>(pageNo)});
    file_->ReadAt(PageOffset(pageNo), buffer, header_.PageSize, kPageReadError);
}

void TABSDiskPageManager::WriteRawPage(TABSPageNo pageNo, const std::uint8_t* buffer) {
    if (pageNo < 0)
        RaiseError(10471, "Invalid PageNo = %d", {static_cast<int>(pageNo)});
    WriteFileAt(PageOffset(pageNo), buffer, header_.PageSize, kPageWriteError);
}

void TABSDiskPageManager::ReadPageFromStorage(TABSPage& page, bool enciphered) {
    RequireOpen(10459);
    try {
        ReadRawPage(page.PageNo(), page.Buffer());
    } catch (...) {
        page.SetModificationCounter(kGivenBackModificationCounter);
        throw;
    }
    if (!enciphered || !IsEncrypted() || freeSpace_->Geometry().IsMapPage(page.PageNo()))
        return;
    std::uint8_t* data = page.Buffer() + PageHeader::kSize;
    const std::size_t dataSize = header_.PageSize - PageHeader::kSize;
    const std::uint8_t cipher = page.Buffer()[PageHeader::kCipherIdOffset];
    if (!DecipherBuffer(cipher, data, dataSize, password_.Password) ||
        EngineCrc32(data, dataSize) != ReadU32(page.Buffer() + PageHeader::kDataCrcOffset))
        RaiseError(30446, "Decrypt page error. Check CRC failed. PageNo: %d", {static_cast<int>(page.PageNo())});
}

void TABSDiskPageManager::WritePageToStorage(TABSPage& page) {
    RequireOpen(10459);
    page.SetModificationCounter(NextModificationCounter(page.ModificationCounter()));
    if (!page.Encipher || !IsEncrypted() || freeSpace_->Geometry().IsMapPage(page.PageNo())) {
        WriteRawPage(page.PageNo(), page.Buffer());
        return;
    }
    std::uint8_t* plain = page.Buffer();
    const std::size_t dataSize = header_.PageSize - PageHeader::kSize;
    plain[PageHeader::kCipherIdOffset] = password_.Cipher;
    WriteU32(plain + PageHeader::kDataCrcOffset, EngineCrc32(plain + PageHeader::kSize, dataSize));
    // Enciphering a copy leaves the cached page plain without deciphering it again.
    std::memcpy(scratch_.data(), plain, header_.PageSize);
    if (!EncipherBuffer(password_.Cipher, scratch_.data() + PageHeader::kSize, dataSize, password_.Password))
        RaiseError(30447, "Encrypt page error. PageNo: %d", {static_cast<int>(page.PageNo())});
    WriteRawPage(page.PageNo(), scratch_.data());
}

bool TABSDiskPageManager::IsCachedPageCurrent(const TABSPage& page) {
    if (!multiUser_)
        return true;
    std::uint8_t counter[4];
    file_->ReadAt(PageOffset(page.PageNo()) + static_cast<std::int64_t>(PageHeader::kModificationCounterOffset), counter,
                  sizeof counter, kPageReadError);
    return ReadI32(counter) == page.ModificationCounter();
}

// ---------------------------------------------------------------------------------------------
// Free space

void TABSDiskPageManager::LoadFreeSpace() {
    ReadHeader();
    // Only a multi-user file has other writers whose map changes must be read again.
    freeSpace_->Load(header_.TotalPageCount, header_.LastUsedPageNo, !multiUser_);
}

void TABSDiskPageManager::StoreFreeSpaceChanges(std::int32_t oldTotal, std::int32_t oldLast) {
    header_.TotalPageCount = freeSpace_->TotalPageCount();
    header_.LastUsedPageNo = freeSpace_->LastUsedPageNo();
    if (header_.TotalPageCount != oldTotal || header_.LastUsedPageNo != oldLast)
        WriteHeader();
}

TABSPageNo TABSDiskPageManager::AllocatePageNo() {
    RequireOpen(10459);
    DatabaseLockGuard guard(*this, 20231);
    try {
        LoadFreeSpace();
        const std::int32_t oldTotal = header_.TotalPageCount;
        const std::int32_t oldLast = header_.LastUsedPageNo;
        TABSPageNo pageNo = freeSpace_->AllocatePage();
        StoreFreeSpaceChanges(oldTotal, oldLast);
        return pageNo;
    } catch (...) {
        freeSpace_->DropCachedMaps();
        throw;
    }
}

void TABSDiskPageManager::FreePageUnderLock(TABSPageNo pageNo) {
    if (freeSpace_->Geometry().IsMapPage(pageNo))
        RaiseError(30434, "Cannot delete PFS or EAM page. PageNo=%d", {static_cast<int>(pageNo)});
    if (pageNo >= 0 && pageNo < freeSpace_->TotalPageCount()) {
        std::uint8_t marker[4];
        WriteI32(marker, kGivenBackModificationCounter);
        WriteFileAt(PageOffset(pageNo) + static_cast<std::int64_t>(PageHeader::kModificationCounterOffset), marker,
                    sizeof marker, kPageWriteError);
    }
    freeSpace_->ReleasePage(pageNo);
    InvalidateCachedPage(pageNo);
}

void TABSDiskPageManager::FreePageNos(const std::vector<TABSPageNo>& pageNos) {
    RequireOpen(10459);
    DatabaseLockGuard guard(*this, 20231);
    try {
        LoadFreeSpace();
        const std::int32_t oldTotal = header_.TotalPageCount;
        const std::int32_t oldLast = header_.LastUsedPageNo;
        try {
            for (TABSPageNo pageNo : pageNos)
                FreePageUnderLock(pageNo);
        } catch (...) {
            StoreFreeSpaceChanges(oldTotal, oldLast);  // keep the header in step with the maps written so far
            throw;
        }
        StoreFreeSpaceChanges(oldTotal, oldLast);
    } catch (...) {
        freeSpace_->DropCachedMaps();
        throw;
    }
}

void TABSDiskPageManager::GiveBackFreeTail() {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    DatabaseLockGuard guard(*this, 20231);
    try {
        LoadFreeSpace();
        const std::int32_t oldTotal = header_.TotalPageCount;
        const std::int32_t oldLast = header_.LastUsedPageNo;
        freeSpace_->GiveBackFreeTail();
        StoreFreeSpaceChanges(oldTotal, oldLast);
    } catch (...) {
        freeSpace_->DropCachedMaps();
        throw;
    }
}

bool TABSDiskPageManager::IsPageInUse(TABSPageNo pageNo) {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    DatabaseLockGuard guard(*this, 20231);
    try {
        LoadFreeSpace();
        return pageNo >= 0 && pageNo < freeSpace_->TotalPageCount() && freeSpace_->IsPageUsed(pageNo);
    } catch (...) {
        freeSpace_->DropCachedMaps();
        throw;
    }
}

void TABSDiskPageManager::FlushFileBuffers() {
    std::lock_guard lock(Mutex());
    RequireOpen(10459);
    file_->FlushFileBuffers();
}

// ---------------------------------------------------------------------------------------------
// Commit

void TABSDiskPageManager::BeginCommit() {
    RequireOpen(10459);
    LockDatabase(20213);
    try {
        LoadFreeSpace();
        try {
            journal_.Begin(*file_);
        } catch (const EABSException&) {
            // No journal can be made beside the file (a folder we may not create files in): the
            // commit goes on as it would without one, and a crash in it leaves the file to the
            // repair instead of costing every commit.
        }
        header_.State = FileHeader::kStateCommitting;
        WriteHeader();
    } catch (...) {
        AbortCommit();
        throw;
    }
}

void TABSDiskPageManager::FreePageNo(TABSPageNo pageNo) { FreePageUnderLock(pageNo); }

void TABSDiskPageManager::EndCommit(bool flushFileBuffers) {
    header_.TotalPageCount = freeSpace_->TotalPageCount();
    header_.LastUsedPageNo = freeSpace_->LastUsedPageNo();
    ++header_.CommitCounter;
    header_.State = FileHeader::kStateConsistent;
    WriteHeader();
    if (flushFileBuffers)
        file_->FlushFileBuffers();
    journal_.Finish();
    if (deferredFileSize_) {
        const std::int64_t size = *deferredFileSize_;
        deferredFileSize_.reset();
        try {
            file_->SetSize(size);
        } catch (const EABSException&) {
            // The commit is complete; a file longer than its pages only holds free room.
        }
    }
    UnlockDatabase();
}

void TABSDiskPageManager::AbortCommit() noexcept {
    // The bytes the commit wrote go back; the file is as before the commit. Should that fail
    // too, the header keeps state 1 and the journal stays for whoever takes the lock next.
    deferredFileSize_.reset();
    if (journal_.Active()) {
        try {
            journal_.RollBack();
            ReadHeader();
        } catch (...) {
            lookForJournal_ = true;
        }
    }
    if (freeSpace_)
        freeSpace_->DropCachedMaps();
    UnlockDatabase();
}

} // namespace kova
