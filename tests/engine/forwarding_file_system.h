// File systems over the system's files that let a test decide what becomes of each change of a
// file: a write, a size change, a removal. A crash test kills the process before one; a power-loss
// test lets the changes from one on report success without reaching the file.
#pragma once

#include "engine/storage/ABSDatabaseFile.h"

#include <memory>
#include <string>
#include <utility>

namespace kova::testing {

// Forwards everything; a derived file system is asked before each change whether it reaches the
// file. A change that does not is reported as done.
class ForwardingFileSystem : public TABSFileSystem {
public:
    class File final : public TABSOSFile {
    public:
        File(ForwardingFileSystem& owner, std::unique_ptr<TABSOSFile> real) : owner_(owner), real_(std::move(real)) {}
        TABSOsResult Read(std::int64_t position, void* buffer, std::size_t count) override {
            return real_->Read(position, buffer, count);
        }
        TABSOsResult Write(std::int64_t position, const void* buffer, std::size_t count) override {
            if (!owner_.WriteReachesFile()) return {0, static_cast<std::int64_t>(count)};
            return real_->Write(position, buffer, count);
        }
        TABSOsResult Size() override { return real_->Size(); }
        int Truncate(std::int64_t size) override { return owner_.SizeChangeReachesFile() ? real_->Truncate(size) : 0; }
        int Flush() override { return real_->Flush(); }
        int Lock(std::int64_t position, std::int64_t length) override { return real_->Lock(position, length); }
        int Unlock(std::int64_t position, std::int64_t length) override { return real_->Unlock(position, length); }
        int TestLock(std::int64_t position, std::int64_t length) override { return real_->TestLock(position, length); }
        int Close() override { return real_->Close(); }

    private:
        ForwardingFileSystem& owner_;
        std::unique_ptr<TABSOSFile> real_;
    };

    std::pair<std::unique_ptr<TABSOSFile>, int> Open(const std::string& path, TABSFileAccess access, TABSFileShare share,
                                                     bool create) override {
        auto [file, error] = real_.Open(path, access, share, create);
        if (!file) return {nullptr, error};
        return {std::make_unique<File>(*this, std::move(file)), 0};
    }
    int Remove(const std::string& path) override { return RemovalReachesFile() ? real_.Remove(path) : 0; }
    bool Exists(const std::string& path) override { return real_.Exists(path); }
    bool HasReadOnlyAttribute(const std::string& path) override { return real_.HasReadOnlyAttribute(path); }
    void Sleep(int milliseconds) override { real_.Sleep(milliseconds); }

protected:
    virtual bool WriteReachesFile() { return true; }
    virtual bool SizeChangeReachesFile() { return true; }
    virtual bool RemovalReachesFile() { return true; }

private:
    TABSFileSystem& real_ = TABSFileSystem::Default();
};

// Loses every write from a chosen one on, as a machine that loses power does: the lost writes
// report success, and the file keeps what the writes before them left. Size changes and removals
// after the loss are lost too, so a commit's journal stays where it was.
class PowerLossFileSystem final : public ForwardingFileSystem {
public:
    int Writes = 0;
    int LoseWritesFrom = 0;  // 1-based number of the first lost write; 0 = none
    // False lets removals through after the loss: the file then stands for one that lost its
    // journal (copied without it), which only a repair can mend.
    bool LoseRemovals = true;

protected:
    bool WriteReachesFile() override {
        ++Writes;
        return !Lost();
    }
    bool SizeChangeReachesFile() override { return !Lost(); }
    bool RemovalReachesFile() override { return !LoseRemovals || !Lost(); }

private:
    [[nodiscard]] bool Lost() const { return LoseWritesFrom != 0 && Writes >= LoseWritesFrom; }
};

} // namespace kova::testing
