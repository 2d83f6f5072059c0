// Scratch streams: a stream over an anonymous temporary file, and the temporary stream that keeps
// its bytes in memory until they pass 1 MiB and then moves them to such a file.
//
// Temporary files live in the system's temporary directory ($TMPDIR, else /tmp). They are made
// without a name where the file system allows it (O_TMPFILE); otherwise with a unique name that
// starts with "ABS", unlinked at once. Either way the operating system removes the file when the
// stream closes it, also when the process dies.
//
// Errors (EABSException): 10104 "Cannot create file. FileName = %s" when no temporary file can be
// made; 10105 "Cannot open file. FileName = %s, Mode = %d" when a named file cannot be opened.
#pragma once

#include "engine/storage/ABSStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kova {

inline constexpr int kCannotCreateFileError = 10104;
inline constexpr int kCannotOpenFileError = 10105;

// The size up to which a temporary stream stays in memory (inclusive).
inline constexpr std::int64_t kTemporaryStreamMemoryLimit = 1048576;

// A stream over an operating-system file. Reads and writes use positioned I/O, so the stream's
// position is its own and not the descriptor's.
class TABSFileStream final : public TABSStream {
public:
    // Makes an anonymous temporary file (see above). Raises 10104.
    [[nodiscard]] static std::unique_ptr<TABSFileStream> CreateTemporary();
    // Opens a named file: mode 0 read only, 1 read and write, 2 read and write, created when
    // missing. Raises 10105.
    [[nodiscard]] static std::unique_ptr<TABSFileStream> Open(const std::string& fileName, int mode);

    ~TABSFileStream() override;

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    [[nodiscard]] std::int64_t Position() const override { return position_; }
    [[nodiscard]] bool Seek(std::int64_t position) override;
    [[nodiscard]] std::int64_t Size() const override;
    // Raises 10106 "Cannot set file size. Size = %d" when the file system refuses.
    void SetSize(std::int64_t newSize) override;

    // The name the file was made or opened with ("" for an anonymous temporary file).
    [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }

private:
    TABSFileStream(int fd, std::string fileName) noexcept : fd_(fd), fileName_(std::move(fileName)) {}

    int fd_;
    std::string fileName_;
    std::int64_t position_ = 0;
};

// A stream in memory that moves to an anonymous temporary file when a write would make it larger
// than 1 MiB (exactly 1 MiB stays in memory). The move copies the bytes and keeps the position;
// afterwards the stream stays on the file. A stream made memory-only never moves.
class TABSTemporaryStream final : public TABSStream {
public:
    explicit TABSTemporaryStream(bool memoryOnly = false,
                                 std::int64_t memoryLimit = kTemporaryStreamMemoryLimit) noexcept
        : memoryOnly_(memoryOnly), memoryLimit_(memoryLimit) {}

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    // Raises 10104 when the move to a file is due and no file can be made.
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    [[nodiscard]] std::int64_t Position() const override;
    [[nodiscard]] bool Seek(std::int64_t position) override;
    [[nodiscard]] std::int64_t Size() const override;
    void SetSize(std::int64_t newSize) override;

    [[nodiscard]] bool InFile() const noexcept { return file_ != nullptr; }
    [[nodiscard]] bool MemoryOnly() const noexcept { return memoryOnly_; }

private:
    [[nodiscard]] TABSStream& Current() noexcept;
    [[nodiscard]] const TABSStream& Current() const noexcept;
    // Moves to a file when a size of `newSize` would pass the limit.
    void PrepareFor(std::int64_t newSize);

    bool memoryOnly_;
    std::int64_t memoryLimit_;
    TABSMemoryStream memory_;
    std::unique_ptr<TABSFileStream> file_;
};

} // namespace kova
