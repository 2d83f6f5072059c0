// Keeps a commit whole when the process dies half-way through it.
//
// A commit overwrites pages, free-space maps and the header in place, one write after another,
// and pages do not start on the system's page boundaries (the first lies 380 bytes into the
// file), so a SIGKILL between two writes, or inside one, can leave a page half old and half new.
// Before the commit overwrites bytes of the database file, the journal saves them as they were
// in a file beside it ("<database>.journal"): each piece with its position and a checksum, each
// piece on disk before the bytes it saves are touched. Once the header says the commit is
// complete the journal is removed. A journal found later belonged to a writer that died: if the
// header still says a commit is in progress, the saved pieces are written back (the latest
// first, so the oldest bytes win where pieces overlap) and the file is exactly as it was before
// that commit; otherwise the commit had finished and the journal is only removed.
//
// Only the database lock's holder writes or recovers a journal, so a journal seen under that
// lock is never one a live writer is still filling.
//
// Journal layout: "KOVAJRN1" (8 bytes), salt (uint32), CRC of the two (uint32); then pieces of
// position (int64), count (uint32), CRC (uint32), count bytes. Every CRC is the engine's CRC
// started from the salt, so a zero-filled tail never passes. Reading stops at the first piece
// that is short or fails its CRC: the write that piece protected never began.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/storage/ABSDatabaseFile.h"

namespace kova {

class TABSCommitJournal {
public:
    explicit TABSCommitJournal(TABSFileSystem& fileSystem) : journal_(fileSystem), fileSystem_(fileSystem) {}

    [[nodiscard]] static std::string NameFor(const std::string& databaseFileName) {
        return databaseFileName + ".journal";
    }

    // Starts the journal of one commit on `database` (an empty journal file, created anew).
    void Begin(TABSDatabaseFile& database);
    [[nodiscard]] bool Active() const noexcept { return database_ != nullptr; }

    // Saves the bytes [position, position + count) as the database file holds them now, unless
    // this commit saved them already. Bytes beyond the file's end at Begin are not saved: nothing
    // committed lies there.
    void SaveBefore(std::int64_t position, std::size_t count);

    // The commit is complete on disk: the journal goes.
    void Finish();

    // The commit failed: the saved bytes go back into the database file and the journal goes.
    // When that fails too the journal stays for the next opening; the error is raised.
    void RollBack();

    // Recovers a journal left behind by a writer that died, if there is one: with `interrupted`
    // (the header still says a commit is in progress) its bytes are written back into `database`
    // and flushed; then the journal is removed. Returns whether bytes were written back.
    [[nodiscard]] static bool RecoverLeftOver(TABSFileSystem& fileSystem, TABSDatabaseFile& database,
                                              bool interrupted);
    // Whether a journal lies beside the database file.
    [[nodiscard]] static bool IsLeftOver(TABSFileSystem& fileSystem, const std::string& databaseFileName) {
        return fileSystem.Exists(NameFor(databaseFileName));
    }

private:
    struct Piece {
        std::int64_t Position = 0;
        std::vector<std::uint8_t> Bytes;
    };

    [[nodiscard]] bool Covered(std::int64_t position, std::int64_t end) const;
    void Close() noexcept;
    static std::vector<Piece> ReadPieces(TABSDatabaseFile& journal);
    static void WriteBack(TABSDatabaseFile& database, const std::vector<Piece>& pieces);

    TABSDatabaseFile journal_;
    TABSFileSystem& fileSystem_;
    TABSDatabaseFile* database_ = nullptr;
    std::int64_t databaseSize_ = 0;
    std::int64_t journalSize_ = 0;
    std::uint32_t salt_ = 0;
    std::map<std::int64_t, std::int64_t> saved_;  // start -> end of the ranges saved by this commit
    std::vector<std::uint8_t> buffer_;            // one piece as written, reused
};

} // namespace kova
