// The POSIX file system and the engine's database file on top of it.
#include "engine/storage/ABSDatabaseFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/core/ABSExcept.h"

namespace kova {

namespace {

// The share-mode marks: four bytes at the far end of the lock space, where no data lock reaches.
constexpr std::int64_t kShareMarkBase = 0x7FFFFFFFFFFF0000LL;
constexpr std::int64_t kMarkReads = kShareMarkBase + 0;
constexpr std::int64_t kMarkWrites = kShareMarkBase + 1;
constexpr std::int64_t kMarkDeniesRead = kShareMarkBase + 2;
constexpr std::int64_t kMarkDeniesWrite = kShareMarkBase + 3;

int OfdLock(int fd, int command, short type, std::int64_t position, std::int64_t length, short* foundType = nullptr) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(position);
    lock.l_len = static_cast<off_t>(length);
    lock.l_pid = 0;  // required for open-file-description locks
    if (::fcntl(fd, command, &lock) == -1)
        return errno;
    if (foundType != nullptr)
        *foundType = lock.l_type;
    return 0;
}

// Whether another open file holds a lock on the range (any lock conflicts with a write lock).
int OfdTest(int fd, std::int64_t position, std::int64_t length) {
    short found = F_UNLCK;
    if (int error = OfdLock(fd, F_OFD_GETLK, F_WRLCK, position, length, &found))
        return error;
    return found == F_UNLCK ? 0 : EAGAIN;
}

class TABSPosixFile final : public TABSOSFile {
public:
    TABSPosixFile(int fd, bool writableDescriptor) : fd_(fd), writableDescriptor_(writableDescriptor) {}
    ~TABSPosixFile() override {
        if (fd_ >= 0)
            ::close(fd_);
    }

    TABSOsResult Read(std::int64_t position, void* buffer, std::size_t count) override {
        std::size_t done = 0;
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (done < count) {
            ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(position + static_cast<std::int64_t>(done)));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return {errno, static_cast<std::int64_t>(done)};
            }
            if (n == 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return {0, static_cast<std::int64_t>(done)};
    }

    TABSOsResult Write(std::int64_t position, const void* buffer, std::size_t count) override {
        std::size_t done = 0;
        const auto* in = static_cast<const std::uint8_t*>(buffer);
        while (done < count) {
            ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(position + static_cast<std::int64_t>(done)));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return {errno, static_cast<std::int64_t>(done)};
            }
            done += static_cast<std::size_t>(n);
        }
        return {0, static_cast<std::int64_t>(done)};
    }

    TABSOsResult Size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return {errno, 0};
        return {0, static_cast<std::int64_t>(st.st_size)};
    }

    int Truncate(std::int64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? 0 : errno; }
    int Flush() override { return ::fdatasync(fd_) == 0 ? 0 : errno; }

    int Lock(std::int64_t position, std::int64_t length) override {
        if (writableDescriptor_)
            return OfdLock(fd_, F_OFD_SETLK, F_WRLCK, position, length);
        // A descriptor opened only for reading cannot take write locks. A read lock still keeps
        // every writer out; other readers are kept out by testing for them first.
        if (int error = OfdTest(fd_, position, length))
            return error;
        return OfdLock(fd_, F_OFD_SETLK, F_RDLCK, position, length);
    }

    int Unlock(std::int64_t position, std::int64_t length) override {
        return OfdLock(fd_, F_OFD_SETLK, F_UNLCK, position, length);
    }

    int TestLock(std::int64_t position, std::int64_t length) override { return OfdTest(fd_, position, length); }

    int Close() override {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

    // Keeps the share-mode protocol (see ABSDatabaseFile.h). EBUSY when another open forbids this one.
    int ApplyShareMode(TABSFileAccess access, TABSFileShare share) {
        const bool writes = access == TABSFileAccess::ReadWrite;
        const bool deniesRead = share == TABSFileShare::None;
        const bool deniesWrite = share != TABSFileShare::ReadWrite;
        struct Check {
            bool applies;
            std::int64_t mark;
        };
        const Check checks[] = {
            {true, kMarkDeniesRead},          // we read: nobody may deny reading
            {writes, kMarkDeniesWrite},       // we write: nobody may deny writing
            {deniesRead, kMarkReads},         // we deny reading: nobody may read
            {deniesWrite, kMarkWrites},       // we deny writing: nobody may write
        };
        for (const Check& check : checks) {
            if (!check.applies)
                continue;
            int result = OfdTest(fd_, check.mark, 1);
            if (result == EAGAIN)
                return EBUSY;
            if (result != 0)
                return 0;  // no locking on this file system: sharing cannot be kept
        }
        const Check marks[] = {
            {true, kMarkReads}, {writes, kMarkWrites}, {deniesRead, kMarkDeniesRead}, {deniesWrite, kMarkDeniesWrite}};
        for (const Check& mark : marks)
            if (mark.applies)
                (void)OfdLock(fd_, F_OFD_SETLK, F_RDLCK, mark.mark, 1);
        return 0;
    }

private:
    int fd_;
    bool writableDescriptor_;
};

class TABSPosixFileSystem final : public TABSFileSystem {
public:
    std::pair<std::unique_ptr<TABSOSFile>, int> Open(const std::string& path, TABSFileAccess access,
                                                     TABSFileShare share, bool create) override {
        int flags = O_CLOEXEC;
        if (create)
            flags |= O_RDWR | O_CREAT | O_TRUNC;
        else
            flags |= O_RDWR;
        int fd = ::open(path.c_str(), flags, 0666);
        bool writable = fd >= 0;
        // Read-only access still prefers a writable descriptor because only such a descriptor can
        // take exclusive locks; a file we may not write is opened for reading.
        if (fd < 0 && !create && access == TABSFileAccess::ReadOnly && (errno == EACCES || errno == EROFS || errno == EPERM))
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return {nullptr, errno};
        auto file = std::make_unique<TABSPosixFile>(fd, writable);
        if (int error = file->ApplyShareMode(access, share))
            return {nullptr, error};
        return {std::move(file), 0};
    }

    int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

    bool Exists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    bool HasReadOnlyAttribute(const std::string& path) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return false;
        return (st.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0;
    }

    void Sleep(int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

} // namespace

std::string TABSFileSystem::ErrorMessage(int error) {
    if (error == 0)
        return "Unexpected end of file";
    return std::strerror(error);
}

std::uint64_t TABSFileSystem::AvailablePhysicalMemory() {
    long pages = ::sysconf(_SC_AVPHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

TABSFileSystem& TABSFileSystem::Default() {
    static TABSPosixFileSystem fileSystem;
    return fileSystem;
}

// ---------------------------------------------------------------------------------------------
// TABSDatabaseFile

TABSDatabaseFile::TABSDatabaseFile(TABSFileSystem& fileSystem) : fileSystem_(fileSystem) {}

TABSDatabaseFile::~TABSDatabaseFile() {
    if (os_)
        (void)os_->Close();
}

void TABSDatabaseFile::RequireOpen(const char* operation) const {
    if (!os_)
        RaiseError(30376, "Cannot perform this operation (%s) on a closed file", {operation});
}

void TABSDatabaseFile::RequireClosed(const char* operation) const {
    if (os_)
        RaiseError(30377, "Cannot perform this operation (%s) on a opened file", {operation});
}

std::string TABSDatabaseFile::ErrorText(int error) const { return fileSystem_.ErrorMessage(error); }

void TABSDatabaseFile::CreateFile(const std::string& fileName) {
    RequireClosed("CreateFile");
    if (fileName.find_first_not_of(" \t") == std::string::npos)
        RaiseError(30374, "Cannot create file with blank FileName");
    if (fileSystem_.Exists(fileName)) {
        if (int error = fileSystem_.Remove(fileName); error != 0 && error != ENOENT)
            RaiseError(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
                       {fileName, error, ErrorText(error)});
    }
    auto [file, error] = fileSystem_.Open(fileName, TABSFileAccess::ReadWrite, TABSFileShare::ReadWrite, true);
    if (!file)
        RaiseError(30361, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s", {fileName, error, ErrorText(error)});
    os_ = std::move(file);
    fileName_ = fileName;
    access_ = TABSFileAccess::ReadWrite;
    share_ = TABSFileShare::ReadWrite;
    position_ = 0;
    locksUnavailable_ = false;
    ownLocks_.clear();
}

void TABSDatabaseFile::OpenFile(const std::string& fileName, int accessMode, int shareMode) {
    RequireClosed("OpenFile");
    if (accessMode < 0 || accessMode > 1)
        RaiseError(30366, "Unknown Access mode: '%d'", {accessMode});
    if (shareMode < 0 || shareMode > 2)
        RaiseError(30367, "Unknown Share mode: '%d'", {shareMode});
    auto access = static_cast<TABSFileAccess>(accessMode);
    auto share = static_cast<TABSFileShare>(shareMode);
    auto [file, error] = fileSystem_.Open(fileName, access, share, false);
    if (!file)
        RaiseError(30364, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s", {fileName, error, ErrorText(error)});
    os_ = std::move(file);
    fileName_ = fileName;
    access_ = access;
    share_ = share;
    position_ = 0;
    locksUnavailable_ = false;
    ownLocks_.clear();
}

void TABSDatabaseFile::CloseFile() {
    RequireOpen("CloseFile");
    std::unique_ptr<TABSOSFile> file = std::move(os_);
    ownLocks_.clear();
    locksUnavailable_ = false;
    if (int error = file->Close())
        RaiseError(30365, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s", {fileName_, error, ErrorText(error)});
}

bool TABSDatabaseFile::RecoverHandle() {
    if (os_->Size().Ok())
        return false;  // the handle answers: the failure was the operation's own
    (void)os_->Close();
    os_.reset();
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        if (attempt > 0)
            fileSystem_.Sleep(kReopenPauseMilliseconds);
        auto [file, error] = fileSystem_.Open(fileName_, access_, share_, false);
        if (file) {
            os_ = std::move(file);
            // The old handle's locks died with it.
            ownLocks_.clear();
            locksUnavailable_ = false;
            return true;
        }
    }
    // The file stays closed; every later operation reports it.
    ownLocks_.clear();
    return false;
}

std::int64_t TABSDatabaseFile::Seek(std::int64_t offset, SeekOrigin origin) {
    RequireOpen("Seek");
    std::int64_t base = 0;
    if (origin == SeekOrigin::Current)
        base = position_;
    else if (origin == SeekOrigin::End)
        base = GetSize();
    std::int64_t target = base + offset;
    if (target < 0)
        RaiseError(30372, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                   {static_cast<long long>(target), fileName_, static_cast<long long>(position_),
                    static_cast<long long>(GetSize())});
    position_ = target;
    return position_;
}

void TABSDatabaseFile::SetPosition(std::int64_t position) {
    RequireOpen("SetPosition");
    if (position < 0)
        RaiseError(30372, "Cannot Set File Position to %d. FileName='%s'. FilePosition = %d, FileSize = %d",
                   {static_cast<long long>(position), fileName_, static_cast<long long>(position_),
                    static_cast<long long>(GetSize())});
    position_ = position;
}

std::int64_t TABSDatabaseFile::GetPosition() {
    RequireOpen("GetPosition");
    // Positions are kept by this object (reads and writes are positioned), so asking cannot fail.
    return position_;
}

std::int64_t TABSDatabaseFile::GetSize() {
    RequireOpen("GetSize");
    TABSOsResult result = os_->Size();
    if (!result.Ok() && RecoverHandle())
        result = os_->Size();
    if (!result.Ok())
        RaiseError(30371, "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                   {fileName_, result.Error, ErrorText(result.Error)});
    return result.Value;
}

void TABSDatabaseFile::SetSize(std::int64_t size) {
    RequireOpen("SetSize");
    int error = size < 0 ? EINVAL : os_->Truncate(size);
    if (error != 0 && size >= 0 && RecoverHandle())
        error = os_->Truncate(size);
    if (error != 0)
        RaiseError(30370, "Cannot Truncate File '%s' to %d bytes. ErrorCode:%d. ErrorMessage: %s",
                   {fileName_, static_cast<long long>(size), error, ErrorText(error)});
}

void TABSDatabaseFile::RaiseReadWrite(int errorCode, const char* verb, std::int64_t position, std::size_t count,
                                      int error) {
    long long fileSize = -1;
    if (os_) {
        TABSOsResult size = os_->Size();
        if (size.Ok())
            fileSize = size.Value;
    }
    std::string format = std::string("Cannot ") + verb +
                         " file: '%s' Position = %d, Count = %d, FilePosition = %d, FileSize = %d, ErrorCode:%d. "
                         "ErrorMessage: %s";
    RaiseError(errorCode, format,
               {fileName_, static_cast<long long>(position), static_cast<unsigned long long>(count),
                static_cast<long long>(position_), fileSize, error, ErrorText(error)});
}

void TABSDatabaseFile::ReadBuffer(void* buffer, std::size_t count, int errorCode) {
    RequireOpen("ReadBuffer");
    TABSOsResult result = os_->Read(position_, buffer, count);
    if (!result.Ok() && RecoverHandle())
        result = os_->Read(position_, buffer, count);
    if (!result.Ok() || static_cast<std::size_t>(result.Value) != count)
        RaiseReadWrite(errorCode, "Read from", position_, count, result.Error);
    position_ += static_cast<std::int64_t>(count);
}

void TABSDatabaseFile::WriteBuffer(const void* buffer, std::size_t count, int errorCode) {
    RequireOpen("WriteBuffer");
    TABSOsResult result;
    if (access_ != TABSFileAccess::ReadWrite) {
        result.Error = EBADF;  // opened for reading: the descriptor may be writable for locking only
    } else {
        result = os_->Write(position_, buffer, count);
        if (!result.Ok() && RecoverHandle())
            result = os_->Write(position_, buffer, count);
    }
    if (!result.Ok() || static_cast<std::size_t>(result.Value) != count)
        RaiseReadWrite(errorCode, "Write to", position_, count, result.Error);
    position_ += static_cast<std::int64_t>(count);
}

void TABSDatabaseFile::ReadAt(std::int64_t position, void* buffer, std::size_t count, int errorCode) {
    SetPosition(position);
    ReadBuffer(buffer, count, errorCode);
}

void TABSDatabaseFile::WriteAt(std::int64_t position, const void* buffer, std::size_t count, int errorCode) {
    SetPosition(position);
    WriteBuffer(buffer, count, errorCode);
}

void TABSDatabaseFile::FlushFileBuffers() {
    RequireOpen("FlushFileBuffers");
    int error = os_->Flush();
    if (error != 0 && RecoverHandle())
        error = os_->Flush();
    if (error != 0)
        RaiseError(30379, "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
                   {fileName_, error, ErrorText(error)});
}

bool TABSDatabaseFile::IsHolderError(int error) noexcept { return error == EAGAIN || error == EACCES; }

bool TABSDatabaseFile::OverlapsOwnLock(std::int64_t position, std::int64_t length) const {
    // Ranges are few (a handful of bytes per session); a scan is cheap.
    for (const auto& [start, len] : ownLocks_)
        if (start < position + length && position < start + len)
            return true;
    return false;
}

bool TABSDatabaseFile::LockRegion(std::int64_t position, std::int64_t length) {
    RequireOpen("LockByte");
    if (OverlapsOwnLock(position, length))
        return false;
    if (!locksUnavailable_) {
        int error = os_->Lock(position, length);
        if (error != 0 && !IsHolderError(error) && RecoverHandle())
            error = os_->Lock(position, length);
        if (IsHolderError(error))
            return false;
        if (error != 0)
            locksUnavailable_ = true;  // the system cannot lock: count every lock as granted
    }
    ownLocks_.insert({position, length});
    return true;
}

bool TABSDatabaseFile::UnlockRegion(std::int64_t position, std::int64_t length) {
    RequireOpen("UnlockByte");
    auto it = ownLocks_.find({position, length});
    if (it == ownLocks_.end())
        return false;
    ownLocks_.erase(it);
    if (locksUnavailable_)
        return true;
    int error = os_->Unlock(position, length);
    if (error != 0 && RecoverHandle())
        return true;  // the reopened file holds no locks at all
    return error == 0;
}

bool TABSDatabaseFile::IsRegionLocked(std::int64_t position, std::int64_t length) {
    RequireOpen(length == 1 ? "IsByteLocked" : "IsRegionLocked");
    if (OverlapsOwnLock(position, length))
        return true;
    if (locksUnavailable_)
        return false;
    int error = os_->TestLock(position, length);
    if (error != 0 && !IsHolderError(error) && RecoverHandle())
        error = os_->TestLock(position, length);
    return IsHolderError(error);
}

} // namespace kova
