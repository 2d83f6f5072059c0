// The operating-system file under a database, behind a small interface of our own.
//
// TABSFileSystem / TABSOSFile are the only places that call the operating system, so tests can put
// a file system in their place that fails its N-th write or flush. TABSDatabaseFile adds what the
// engine expects of a file on top: access and share modes, the error messages with their codes,
// recovery of a lost handle, and byte-range locks that never wait.
//
// Locks. Byte-range locks are open-file-description locks (fcntl F_OFD_SETLK): they belong to one
// open file, so two TABSDatabaseFile objects in one process conflict exactly like two processes.
// A request never waits; a held range fails at once and the callers' retry loops decide how long
// to wait. Inside one file object a range it already holds cannot be locked again (the engine's
// sessions of one process share one file object and must see each other's locks), and the
// "is locked" tests report ranges held by this object too.
//
// Share modes. Linux has no mandatory sharing; the modes are kept among our own processes with
// read locks on four bytes far beyond any data (see TABSPosixFileSystem): every open holds
// "I read", "I write", "I deny reading", "I deny writing" marks as its modes say, and an open fails
// (with EBUSY) when its access is denied by another open or its share mode denies an access
// another open has. Programs that do not follow this protocol are not kept out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>

namespace kova {

enum class TABSFileAccess : int { ReadOnly = 0, ReadWrite = 1 };
// None: nobody else may open the file; ReadWrite: others may read and write; Read: others may only read.
enum class TABSFileShare : int { None = 0, ReadWrite = 1, Read = 2 };

// Result of an operating-system call: Error is 0 or an errno value; Value the call's result.
struct TABSOsResult {
    int Error = 0;
    std::int64_t Value = 0;
    [[nodiscard]] bool Ok() const noexcept { return Error == 0; }
};

// One open file (one open file description). All positions are absolute.
class TABSOSFile {
public:
    virtual ~TABSOSFile() = default;
    // Reads up to `count` bytes at `position`; Value = bytes read (less at the end of the file).
    [[nodiscard]] virtual TABSOsResult Read(std::int64_t position, void* buffer, std::size_t count) = 0;
    // Writes `count` bytes at `position`; Value = bytes written.
    [[nodiscard]] virtual TABSOsResult Write(std::int64_t position, const void* buffer, std::size_t count) = 0;
    [[nodiscard]] virtual TABSOsResult Size() = 0;
    [[nodiscard]] virtual int Truncate(std::int64_t size) = 0;
    [[nodiscard]] virtual int Flush() = 0;
    // Exclusive lock of [position, position + length) that never waits: 0 when granted, EAGAIN
    // when another open file holds part of it, another errno when locking is unavailable.
    [[nodiscard]] virtual int Lock(std::int64_t position, std::int64_t length) = 0;
    [[nodiscard]] virtual int Unlock(std::int64_t position, std::int64_t length) = 0;
    // 0 when no other open file holds part of the range, EAGAIN when one does, another errno on failure.
    [[nodiscard]] virtual int TestLock(std::int64_t position, std::int64_t length) = 0;
    [[nodiscard]] virtual int Close() = 0;
};

class TABSFileSystem {
public:
    virtual ~TABSFileSystem() = default;
    // Opens (or with `create`, creates or truncates) `path`. On failure the pointer is null and
    // the int holds the errno value.
    [[nodiscard]] virtual std::pair<std::unique_ptr<TABSOSFile>, int> Open(const std::string& path, TABSFileAccess access,
                                                                           TABSFileShare share, bool create) = 0;
    // 0 or an errno value (ENOENT when there was nothing to remove).
    [[nodiscard]] virtual int Remove(const std::string& path) = 0;
    [[nodiscard]] virtual bool Exists(const std::string& path) = 0;
    // The file counts as carrying the read-only attribute: it has no owner write permission or
    // this process may not write it.
    [[nodiscard]] virtual bool HasReadOnlyAttribute(const std::string& path) = 0;
    virtual void Sleep(int milliseconds) = 0;
    // The system's message text for an errno value.
    [[nodiscard]] virtual std::string ErrorMessage(int error);
    // Bytes of physical memory available now (sizes the page cache).
    [[nodiscard]] virtual std::uint64_t AvailablePhysicalMemory();

    // The process-wide POSIX file system.
    [[nodiscard]] static TABSFileSystem& Default();
};

// The engine's file: create/open/close, positioned reads and writes, size, flush and locks, each
// failure raised with the engine's code and message.
class TABSDatabaseFile {
public:
    explicit TABSDatabaseFile(TABSFileSystem& fileSystem = TABSFileSystem::Default());
    ~TABSDatabaseFile();
    TABSDatabaseFile(const TABSDatabaseFile&) = delete;
    TABSDatabaseFile& operator=(const TABSDatabaseFile&) = delete;

    // Deletes an existing file of that name, then creates it for reading and writing (others may
    // read and write). Raises 30374 for a blank name, 30377 when open, 30361 on failure.
    void CreateFile(const std::string& fileName);
    // accessMode 0 read only, 1 read and write; shareMode 0 none, 1 others may read and write,
    // 2 others may read. Raises 30366 / 30367 for other values, 30377 when open, 30364 on failure.
    void OpenFile(const std::string& fileName, int accessMode, int shareMode);
    // Raises 30376 when closed, 30365 when the system fails to close.
    void CloseFile();

    [[nodiscard]] bool IsOpen() const noexcept { return os_ != nullptr; }
    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }
    [[nodiscard]] TABSFileAccess Access() const noexcept { return access_; }
    [[nodiscard]] TABSFileShare Share() const noexcept { return share_; }

    enum class SeekOrigin { Begin, Current, End };
    // Returns the new position. Raises 30372 for a negative result.
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin);
    void SetPosition(std::int64_t position);
    [[nodiscard]] std::int64_t GetPosition();
    [[nodiscard]] std::int64_t GetSize();                 // 30371
    void SetSize(std::int64_t size);                      // 30370

    // Reads / writes exactly `count` bytes at the current position and advances it. Failure and
    // short reads raise `errorCode` with the "Cannot Read from file" / "Cannot Write to file" text.
    void ReadBuffer(void* buffer, std::size_t count, int errorCode);
    void WriteBuffer(const void* buffer, std::size_t count, int errorCode);
    // The same at an explicit position (sets the position first).
    void ReadAt(std::int64_t position, void* buffer, std::size_t count, int errorCode);
    void WriteAt(std::int64_t position, const void* buffer, std::size_t count, int errorCode);
    void FlushFileBuffers();                              // 30379

    // Locks that never wait. False when the range (or part of it) is held by another open file or
    // by this object already. A lock the system cannot provide at all (device or network errors,
    // no lock support) counts as granted, and from then on every lock is granted until the file
    // is reopened.
    [[nodiscard]] bool LockByte(std::int64_t position) { return LockRegion(position, 1); }
    [[nodiscard]] bool LockRegion(std::int64_t position, std::int64_t length);
    [[nodiscard]] bool UnlockByte(std::int64_t position) { return UnlockRegion(position, 1); }
    [[nodiscard]] bool UnlockRegion(std::int64_t position, std::int64_t length);
    // Whether someone, this object included, holds a byte of the range.
    [[nodiscard]] bool IsByteLocked(std::int64_t position) { return IsRegionLocked(position, 1); }
    [[nodiscard]] bool IsRegionLocked(std::int64_t position, std::int64_t length);
    // True after a lock failed for another reason than a holder (all locks granted until reopen).
    [[nodiscard]] bool LocksUnavailable() const noexcept { return locksUnavailable_; }

    // Recovery pauses and attempts (tests shorten them).
    static constexpr int kReopenAttempts = 3;
    static constexpr int kReopenPauseMilliseconds = 1000;

private:
    void RequireOpen(const char* operation) const;
    void RequireClosed(const char* operation) const;
    // When an operation failed: true if the handle was found dead and the file reopened (the
    // caller repeats the operation once).
    [[nodiscard]] bool RecoverHandle();
    [[nodiscard]] std::string ErrorText(int error) const;
    [[noreturn]] void RaiseReadWrite(int errorCode, const char* verb, std::int64_t position, std::size_t count,
                                     int error);
    [[nodiscard]] bool OverlapsOwnLock(std::int64_t position, std::int64_t length) const;
    [[nodiscard]] static bool IsHolderError(int error) noexcept;

    TABSFileSystem& fileSystem_;
    std::unique_ptr<TABSOSFile> os_;
    std::string fileName_;
    TABSFileAccess access_ = TABSFileAccess::ReadOnly;
    TABSFileShare share_ = TABSFileShare::ReadWrite;
    std::int64_t position_ = 0;
    bool locksUnavailable_ = false;
    std::set<std::pair<std::int64_t, std::int64_t>> ownLocks_;  // {position, length}
};

} // namespace kova
