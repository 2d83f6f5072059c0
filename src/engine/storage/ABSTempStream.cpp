// Scratch streams over anonymous temporary files, and the temporary stream that moves from
// memory to such a file past 1 MiB.
#include "engine/storage/ABSTempStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/core/ABSExcept.h"

namespace kova {

namespace {

[[nodiscard]] std::string TemporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && *dir != '\0')
        return dir;
    return "/tmp";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSFileStream

std::unique_ptr<TABSFileStream> TABSFileStream::CreateTemporary() {
    const std::string dir = TemporaryDirectory();
    int fd = -1;
#ifdef O_TMPFILE
    // A file without a name: nothing can be left behind, not even after a crash.
    fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0)
        return std::unique_ptr<TABSFileStream>(new TABSFileStream(fd, {}));
#endif
    // File systems without unnamed files: a unique name, unlinked at once.
    std::string pattern = dir + "/ABSXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = ::mkstemp(name.data());
    if (fd < 0)
        RaiseError(kCannotCreateFileError, "Cannot create file. FileName = %s", {pattern});
    ::unlink(name.data());
    return std::unique_ptr<TABSFileStream>(new TABSFileStream(fd, std::string(name.data())));
}

std::unique_ptr<TABSFileStream> TABSFileStream::Open(const std::string& fileName, int mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case 0: flags |= O_RDONLY; break;
    case 1: flags |= O_RDWR; break;
    case 2: flags |= O_RDWR | O_CREAT; break;
    default: RaiseError(kCannotOpenFileError, "Cannot open file. FileName = %s, Mode = %d", {fileName, mode});
    }
    const int fd = ::open(fileName.c_str(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        RaiseError(kCannotOpenFileError, "Cannot open file. FileName = %s, Mode = %d", {fileName, mode});
    return std::unique_ptr<TABSFileStream>(new TABSFileStream(fd, fileName));
}

TABSFileStream::~TABSFileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::size_t TABSFileStream::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(position_));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
        position_ += n;
    }
    return done;
}

std::size_t TABSFileStream::Write(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(position_));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
        position_ += n;
    }
    return done;
}

bool TABSFileStream::Seek(std::int64_t position) {
    if (position < 0)
        return false;
    position_ = position;
    return true;
}

std::int64_t TABSFileStream::Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        return 0;
    return static_cast<std::int64_t>(info.st_size);
}

void TABSFileStream::SetSize(std::int64_t newSize) {
    assert(newSize >= 0);
    if (newSize < 0 || ::ftruncate(fd_, static_cast<off_t>(newSize)) != 0)
        RaiseError(10106, "Cannot set file size. Size = %d", {newSize});
    position_ = std::min(position_, newSize);
}

// ---------------------------------------------------------------------------------------------
// TABSTemporaryStream

TABSStream& TABSTemporaryStream::Current() noexcept {
    if (file_)
        return *file_;
    return memory_;
}

const TABSStream& TABSTemporaryStream::Current() const noexcept {
    if (file_)
        return *file_;
    return memory_;
}

void TABSTemporaryStream::PrepareFor(std::int64_t newSize) {
    if (file_ || memoryOnly_ || newSize <= memoryLimit_)
        return;
    std::unique_ptr<TABSFileStream> file = TABSFileStream::CreateTemporary();
    const std::vector<std::uint8_t>& bytes = memory_.Bytes();
    if (!bytes.empty() && file->Write(bytes.data(), bytes.size()) != bytes.size())
        RaiseError(10145, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                   {std::int64_t{0}, file->Size(), static_cast<std::int64_t>(bytes.size()), file->Position()});
    (void)file->Seek(memory_.Position());
    file_ = std::move(file);
    // The memory copy is not needed any more; give it back.
    memory_.Bytes().clear();
    memory_.Bytes().shrink_to_fit();
    (void)memory_.Seek(0);
}

std::size_t TABSTemporaryStream::Read(void* buffer, std::size_t count) { return Current().Read(buffer, count); }

std::size_t TABSTemporaryStream::Write(const void* buffer, std::size_t count) {
    if (count == 0)
        return 0;
    const std::int64_t end = Current().Position() + static_cast<std::int64_t>(count);
    PrepareFor(std::max(end, Current().Size()));
    return Current().Write(buffer, count);
}

std::int64_t TABSTemporaryStream::Position() const { return Current().Position(); }
bool TABSTemporaryStream::Seek(std::int64_t position) { return Current().Seek(position); }
std::int64_t TABSTemporaryStream::Size() const { return Current().Size(); }

void TABSTemporaryStream::SetSize(std::int64_t newSize) {
    PrepareFor(newSize);
    Current().SetSize(newSize);
}

} // namespace kova
