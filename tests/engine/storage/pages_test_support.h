// Test helpers for the file, page and free-space tests: a scratch directory, a file system that
// fails on demand, and a matcher for the engine's native error codes.
#pragma once

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSDatabaseFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace kova::testing {

// A fresh directory under /tmp, removed with everything in it at the end of the test.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kova-pages-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = buffer.data();
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs `action` and returns the native error code of the EABSException it raises (0 if none).
inline int NativeErrorOf(const std::function<void()>& action, std::string* message = nullptr) {
    try {
        action();
    } catch (const EABSException& e) {
        if (message != nullptr)
            *message = e.Message();
        return e.NativeError();
    }
    return 0;
}

// A file system over the real one that fails the N-th write, flush or lock on request, can make
// size queries fail (a lost handle) and records pauses instead of sleeping.
class FaultyFileSystem final : public TABSFileSystem {
public:
    // Counters start at 0 and count every call on every file opened through this file system.
    int Writes = 0;
    int Flushes = 0;
    int Opens = 0;
    int FailWriteNumber = 0;   // 1-based number of the write that fails; 0 = none
    int FailFlushNumber = 0;
    int WriteError = EIO;
    int LockError = 0;          // when non-zero every Lock/TestLock fails with it
    int SizeFailuresLeft = 0;   // so many size queries fail (the handle looks dead)
    int FailOpensLeft = 0;      // so many opens fail with EIO
    std::vector<int> Pauses;

    class File final : public TABSOSFile {
    public:
        File(FaultyFileSystem& owner, std::unique_ptr<TABSOSFile> real) : owner_(owner), real_(std::move(real)) {}
        TABSOsResult Read(std::int64_t position, void* buffer, std::size_t count) override {
            return real_->Read(position, buffer, count);
        }
        TABSOsResult Write(std::int64_t position, const void* buffer, std::size_t count) override {
            if (++owner_.Writes == owner_.FailWriteNumber)
                return {owner_.WriteError, 0};
            return real_->Write(position, buffer, count);
        }
        TABSOsResult Size() override {
            if (owner_.SizeFailuresLeft > 0) {
                --owner_.SizeFailuresLeft;
                return {EBADF, 0};
            }
            return real_->Size();
        }
        int Truncate(std::int64_t size) override { return real_->Truncate(size); }
        int Flush() override {
            if (++owner_.Flushes == owner_.FailFlushNumber)
                return EIO;
            return real_->Flush();
        }
        int Lock(std::int64_t position, std::int64_t length) override {
            return owner_.LockError != 0 ? owner_.LockError : real_->Lock(position, length);
        }
        int Unlock(std::int64_t position, std::int64_t length) override { return real_->Unlock(position, length); }
        int TestLock(std::int64_t position, std::int64_t length) override {
            return owner_.LockError != 0 ? owner_.LockError : real_->TestLock(position, length);
        }
        int Close() override { return real_->Close(); }

    private:
        FaultyFileSystem& owner_;
        std::unique_ptr<TABSOSFile> real_;
    };

    std::pair<std::unique_ptr<TABSOSFile>, int> Open(const std::string& path, TABSFileAccess access, TABSFileShare share,
                                                     bool create) override {
        ++Opens;
        if (FailOpensLeft > 0) {
            --FailOpensLeft;
            return {nullptr, EIO};
        }
        auto [file, error] = real_.Open(path, access, share, create);
        if (!file)
            return {nullptr, error};
        return {std::make_unique<File>(*this, std::move(file)), 0};
    }
    int Remove(const std::string& path) override { return real_.Remove(path); }
    bool Exists(const std::string& path) override { return real_.Exists(path); }
    bool HasReadOnlyAttribute(const std::string& path) override { return real_.HasReadOnlyAttribute(path); }
    void Sleep(int milliseconds) override { Pauses.push_back(milliseconds); }

private:
    TABSFileSystem& real_ = TABSFileSystem::Default();
};

} // namespace kova::testing
