// The commit journal: bytes saved before a commit overwrites them, written back after a crash.
#include "engine/storage/ABSCommitJournal.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"

namespace kova {

namespace {

constexpr char kMagic[] = "KOVAJRN1";
constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kJournalHeaderSize = kMagicSize + 8;
constexpr std::size_t kPieceHeaderSize = 16;
constexpr int kJournalReadError = 10464;
constexpr int kJournalWriteError = 10475;
constexpr int kDatabaseReadError = 10474;

std::uint32_t NewSalt() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uint32_t salt = 0;
    while (salt == 0) salt = static_cast<std::uint32_t>(generator());
    return salt;
}

std::uint32_t PieceCrc(std::uint32_t salt, const std::uint8_t* pieceHeader, const std::uint8_t* bytes, std::size_t count) {
    // The CRC field itself (bytes 12..15) is left out.
    const std::uint32_t crc = EngineCrc32(pieceHeader, 12, salt);
    return EngineCrc32(bytes, count, crc);
}

} // namespace

void TABSCommitJournal::Begin(TABSDatabaseFile& database) {
    Close();
    const std::string name = NameFor(database.FileName());
    journal_.CreateFile(name);
    database_ = &database;
    saved_.clear();
    try {
        databaseSize_ = database.GetSize();
        salt_ = NewSalt();
        std::uint8_t header[kJournalHeaderSize];
        std::memcpy(header, kMagic, kMagicSize);
        WriteU32(header + kMagicSize, salt_);
        WriteU32(header + kMagicSize + 4, EngineCrc32(header, kMagicSize + 4, salt_));
        journal_.WriteAt(0, header, sizeof header, kJournalWriteError);
        journalSize_ = static_cast<std::int64_t>(sizeof header);
    } catch (...) {
        Close();
        (void)fileSystem_.Remove(name);
        throw;
    }
}

bool TABSCommitJournal::Covered(std::int64_t position, std::int64_t end) const {
    auto it = saved_.upper_bound(position);
    if (it == saved_.begin())
        return false;
    --it;
    return it->second >= end;
}

void TABSCommitJournal::SaveBefore(std::int64_t position, std::size_t count) {
    if (!Active() || count == 0)
        return;
    const std::int64_t end = std::min(position + static_cast<std::int64_t>(count), databaseSize_);
    if (end <= position || Covered(position, end))
        return;
    const auto size = static_cast<std::size_t>(end - position);
    buffer_.resize(kPieceHeaderSize + size);
    database_->ReadAt(position, buffer_.data() + kPieceHeaderSize, size, kDatabaseReadError);
    WriteI64(buffer_.data(), position);
    WriteU32(buffer_.data() + 8, static_cast<std::uint32_t>(size));
    WriteU32(buffer_.data() + 12, PieceCrc(salt_, buffer_.data(), buffer_.data() + kPieceHeaderSize, size));
    journal_.WriteAt(journalSize_, buffer_.data(), buffer_.size(), kJournalWriteError);
    journalSize_ += static_cast<std::int64_t>(buffer_.size());
    auto [it, inserted] = saved_.emplace(position, end);
    if (!inserted)
        it->second = std::max(it->second, end);
}

void TABSCommitJournal::Close() noexcept {
    if (journal_.IsOpen()) {
        try {
            journal_.CloseFile();
        } catch (...) {
            // The handle is gone either way; the file is removed or recovered by name.
        }
    }
    database_ = nullptr;
    saved_.clear();
}

void TABSCommitJournal::Finish() {
    if (!Active())
        return;
    const std::string name = journal_.FileName();
    Close();
    // A journal that cannot be removed is harmless: the header says the commit is complete,
    // so the next opening only removes it.
    (void)fileSystem_.Remove(name);
}

void TABSCommitJournal::RollBack() {
    if (!Active())
        return;
    TABSDatabaseFile& database = *database_;
    const std::string name = journal_.FileName();
    std::vector<Piece> pieces;
    try {
        pieces = ReadPieces(journal_);
    } catch (...) {
        Close();
        throw;
    }
    Close();
    WriteBack(database, pieces);
    (void)fileSystem_.Remove(name);
}

bool TABSCommitJournal::RecoverLeftOver(TABSFileSystem& fileSystem, TABSDatabaseFile& database, bool interrupted) {
    const std::string name = NameFor(database.FileName());
    if (!fileSystem.Exists(name))
        return false;
    bool restored = false;
    if (interrupted) {
        TABSDatabaseFile journal(fileSystem);
        journal.OpenFile(name, 0, 1);
        const std::vector<Piece> pieces = ReadPieces(journal);
        journal.CloseFile();
        WriteBack(database, pieces);
        // The journal goes only once the restored bytes are on disk.
        database.FlushFileBuffers();
        restored = !pieces.empty();
    }
    if (int error = fileSystem.Remove(name); error != 0 && error != ENOENT)
        RaiseError(30361, "Cannot delete file: '%s' Error code: %d. ErrorMessage: %s",
                   {name, error, fileSystem.ErrorMessage(error)});
    return restored;
}

std::vector<TABSCommitJournal::Piece> TABSCommitJournal::ReadPieces(TABSDatabaseFile& journal) {
    std::vector<Piece> pieces;
    const std::int64_t size = journal.GetSize();
    if (size < static_cast<std::int64_t>(kJournalHeaderSize))
        return pieces;
    std::uint8_t header[kJournalHeaderSize];
    journal.ReadAt(0, header, sizeof header, kJournalReadError);
    const std::uint32_t salt = ReadU32(header + kMagicSize);
    if (std::memcmp(header, kMagic, kMagicSize) != 0 ||
        ReadU32(header + kMagicSize + 4) != EngineCrc32(header, kMagicSize + 4, salt))
        return pieces;
    std::int64_t at = static_cast<std::int64_t>(kJournalHeaderSize);
    while (at + static_cast<std::int64_t>(kPieceHeaderSize) <= size) {
        std::uint8_t pieceHeader[kPieceHeaderSize];
        journal.ReadAt(at, pieceHeader, sizeof pieceHeader, kJournalReadError);
        const std::int64_t position = ReadI64(pieceHeader);
        const std::uint32_t count = ReadU32(pieceHeader + 8);
        if (position < 0 || count == 0 || at + static_cast<std::int64_t>(kPieceHeaderSize) + count > size)
            break;
        Piece piece;
        piece.Position = position;
        piece.Bytes.resize(count);
        journal.ReadAt(at + static_cast<std::int64_t>(kPieceHeaderSize), piece.Bytes.data(), count, kJournalReadError);
        if (PieceCrc(salt, pieceHeader, piece.Bytes.data(), count) != ReadU32(pieceHeader + 12))
            break;
        pieces.push_back(std::move(piece));
        at += static_cast<std::int64_t>(kPieceHeaderSize) + count;
    }
    return pieces;
}

void TABSCommitJournal::WriteBack(TABSDatabaseFile& database, const std::vector<Piece>& pieces) {
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it)
        database.WriteAt(it->Position, it->Bytes.data(), it->Bytes.size(), kJournalWriteError);
}

} // namespace kova
