// The system directory: the database's table of contents, a transacted internal file of
// FileSystemDirectory pages whose first page is always page 2.
//
// Content: a sequence of 5-byte entries {uint8 entry id, int32 first page}.
//   entry 1  the table list
//   entry 2  the sessions file
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/ABSInternalFiles.h"

namespace kova {

class TABSSystemDirectory {
public:
    static constexpr TABSPageNo kFirstPageNo = 2;
    static constexpr std::uint8_t kTableListEntry = 1;
    static constexpr std::uint8_t kSessionsFileEntry = 2;
    static constexpr std::size_t kEntrySize = 5;

    struct Entry {
        std::uint8_t Id = 0;
        TABSPageNo FirstPageNo = kNoPage;
    };

    explicit TABSSystemDirectory(TABSPageManager& pageManager) noexcept;

    // Makes the directory's first page in `session`; it must come out as page 2 (30392 otherwise,
    // which means the file was not empty).
    void Create(TABSSessionID session);
    // Opens the directory at page 2.
    void Open();
    void Close() noexcept { file_.CloseFile(); }
    [[nodiscard]] bool IsOpen() const noexcept { return file_.IsOpen(); }

    [[nodiscard]] std::vector<Entry> ReadEntries(TABSSessionID session);
    // The first page stored under `id`, kNoPage when there is none.
    [[nodiscard]] TABSPageNo FindEntry(TABSSessionID session, std::uint8_t id);
    // Stores `firstPageNo` under `id`, replacing an entry of that id or appending one.
    void SetEntry(TABSSessionID session, std::uint8_t id, TABSPageNo firstPageNo);

private:
    TABSInternalDBTransactedAccessFile file_;
};

} // namespace kova
