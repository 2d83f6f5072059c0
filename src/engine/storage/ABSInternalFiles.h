// Internal files: byte sequences the engine keeps for itself in chains of pages of one type.
//
// The pages of a chain are linked through the page header's next-page field (-1 ends the chain).
// The file's bytes fill the data areas (D = PageSize - 40 bytes each) of the chain in order, and
// the first 10 bytes of the first page's data area are the file header:
//
//   offset size  field
//   0      1     header length = 10
//   1      4     stored size (int32): bytes that follow the header
//   5      4     unpacked size (int32): size of the content after decompression
//   9      1     compression algorithm id (0 = stored as is)
//
// Stored byte o therefore lies in chain page floor((o + 10) / D) at data offset (o + 10) mod D,
// and a file of stored size s needs ceil((s + 10) / D) pages.
//
// Two kinds:
//   TABSInternalDBDirectAccessFile     fixed size, all pages made at once; read and written
//                                      directly in the file, bypassing cache and sessions; never
//                                      enciphered; its bytes are byte-range lock targets.
//   TABSInternalDBTransactedAccessFile read and written through a session's page set and
//                                      committed with it; optionally compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/storage/ABSPage.h"

namespace kova {

class TABSDiskPageManager;

namespace InternalFileHeader {
inline constexpr std::size_t kHeaderLengthOffset = 0;
inline constexpr std::size_t kStoredSizeOffset = 1;
inline constexpr std::size_t kUnpackedSizeOffset = 5;
inline constexpr std::size_t kAlgorithmOffset = 9;
inline constexpr std::size_t kSize = 10;
inline constexpr std::uint8_t kHeaderLengthValue = 10;
static_assert(kUnpackedSizeOffset == kStoredSizeOffset + 4);
static_assert(kAlgorithmOffset == kUnpackedSizeOffset + 4);
static_assert(kSize == kAlgorithmOffset + 1);
} // namespace InternalFileHeader

// Where stored byte `offset` of an internal file lies: chain page index and data-area offset.
struct TABSInternalFilePosition {
    std::int64_t PageIndex = 0;
    std::int64_t DataOffset = 0;
    friend bool operator==(const TABSInternalFilePosition&, const TABSInternalFilePosition&) = default;
};

// The header occupies the first 10 bytes of the chain, so byte o sits at chain byte o + 10.
// (A file whose o + 10 is a multiple of D has that byte at offset 0 of the next page.)
[[nodiscard]] constexpr TABSInternalFilePosition InternalFilePosition(std::int64_t offset,
                                                                      std::int64_t dataSize) noexcept {
    const std::int64_t chainByte = offset + static_cast<std::int64_t>(InternalFileHeader::kSize);
    return {chainByte / dataSize, chainByte % dataSize};
}

// Pages a chain needs for `storedSize` bytes: ceil((storedSize + 10) / D).
[[nodiscard]] constexpr std::int64_t InternalFileChainLength(std::int64_t storedSize, std::int64_t dataSize) noexcept {
    return (storedSize + static_cast<std::int64_t>(InternalFileHeader::kSize) + dataSize - 1) / dataSize;
}

// The decoded file header.
struct TABSInternalFileHeaderFields {
    std::uint8_t HeaderLength = InternalFileHeader::kHeaderLengthValue;
    std::int32_t StoredSize = 0;
    std::int32_t UnpackedSize = 0;
    std::uint8_t Algorithm = 0;

    [[nodiscard]] static TABSInternalFileHeaderFields Decode(std::span<const std::uint8_t> bytes);
    void Encode(std::span<std::uint8_t> bytes) const;
};

// A fixed-size internal file accessed directly in the database file (sessions file, table lock
// files). Its pages are made in a session (and reach the file when that session commits); from
// then on every read, write and lock goes straight to the file. Offsets below are file offsets
// (after the 10-byte header).
//
// Errors: 20156 "Cannot perform this operation (%s) on closed internal file"; 20157 creating an
// open file; 20155 a chain page of the wrong type; 20159 / 20158 access beyond the end.
class TABSInternalDBDirectAccessFile {
public:
    TABSInternalDBDirectAccessFile(TABSDiskPageManager& pageManager, TABSPageType pageType) noexcept;
    TABSInternalDBDirectAccessFile(const TABSInternalDBDirectAccessFile&) = delete;
    TABSInternalDBDirectAccessFile& operator=(const TABSInternalDBDirectAccessFile&) = delete;

    // Makes all pages of a file of `size` bytes (zero-filled) in `session`, never enciphered, and
    // leaves the file open. Its bytes can be accessed once the session has committed.
    void CreateFile(TABSSessionID session, std::int32_t size);
    // Opens the file whose chain starts at `firstPageNo`, reading the chain from the file.
    void OpenFile(TABSPageNo firstPageNo);
    void CloseFile() noexcept;
    // Gives every page of the file back in `session` and closes it.
    void DeleteFile(TABSSessionID session);

    [[nodiscard]] bool IsOpen() const noexcept { return !pages_.empty(); }
    [[nodiscard]] TABSPageNo FirstPageNo() const noexcept { return pages_.empty() ? kNoPage : pages_.front(); }
    [[nodiscard]] const std::vector<TABSPageNo>& ChainPages() const noexcept { return pages_; }
    // Usable size: the smaller of the header's stored size and the bytes the chain can hold.
    [[nodiscard]] std::int32_t GetSize() const;

    void DirectReadBuffer(std::int32_t position, std::span<std::uint8_t> out);
    void DirectWriteBuffer(std::int32_t position, std::span<const std::uint8_t> in);

    // The file lock: the first byte of the first page (its page header, not a file byte), which
    // serialises the lock protocols built on the file's bytes. Never waits.
    [[nodiscard]] bool LockFile();
    [[nodiscard]] bool UnlockFile();

    // Byte-range locks on file bytes; they never wait. A region may span pages; a region lock
    // that fails halfway releases what it took.
    [[nodiscard]] bool LockByte(std::int32_t position);
    [[nodiscard]] bool UnlockByte(std::int32_t position);
    [[nodiscard]] bool IsByteLocked(std::int32_t position);
    [[nodiscard]] bool LockRegion(std::int32_t position, std::int32_t count);
    [[nodiscard]] bool UnlockRegion(std::int32_t position, std::int32_t count);
    // Whether anybody (this process included) holds a byte of the region.
    [[nodiscard]] bool IsRegionLocked(std::int32_t position, std::int32_t count);

private:
    void RequireOpen(const char* operation) const;
    void CheckRange(std::int32_t position, std::int32_t count, bool writing) const;
    // Calls `piece(pageNo, pageOffset, bufferOffset, length)` for each page piece of the region.
    template <typename Piece>
    bool ForEachPiece(std::int32_t position, std::int32_t count, Piece&& piece) const;

    TABSDiskPageManager& pageManager_;
    TABSPageType pageType_;
    std::vector<TABSPageNo> pages_;
    std::int32_t storedSize_ = 0;
};

// An internal file read and written through a session's page set. Its content is replaced as a
// whole (optionally compressed) or, when stored as is, changed in place at an offset. Content
// offsets and sizes below are those of the unpacked content.
//
// Errors: 30389 "Cannot perform this operation (%s) on closed internal file"; 30383 creating an
// open file; 20155 a chain page of the wrong type; 30387 reading beyond the content; 30388 a
// chain that ends before the stored size; 20187 / 20189 compression and decompression failures.
class TABSInternalDBTransactedAccessFile {
public:
    TABSInternalDBTransactedAccessFile(TABSPageManager& pageManager, TABSPageType pageType) noexcept;
    TABSInternalDBTransactedAccessFile(const TABSInternalDBTransactedAccessFile&) = delete;
    TABSInternalDBTransactedAccessFile& operator=(const TABSInternalDBTransactedAccessFile&) = delete;

    // Makes the first page (an empty file) in `session` and leaves the file open.
    void CreateFile(TABSSessionID session);
    void OpenFile(TABSPageNo firstPageNo);
    void CloseFile() noexcept;
    // Makes the file empty again without reading it, for a file whose first page is lost: the
    // first page becomes a fresh one (same number) holding an empty file; the rest of the old
    // chain, if any, stays behind unread.
    void ResetFile(TABSSessionID session);
    // Gives every page of the chain back in `session` and closes the file.
    void DeleteFile(TABSSessionID session);

    [[nodiscard]] bool IsOpen() const noexcept { return firstPage_ != kNoPage; }
    [[nodiscard]] TABSPageNo FirstPageNo() const noexcept { return firstPage_; }

    [[nodiscard]] TABSInternalFileHeaderFields ReadHeader(TABSSessionID session);
    // Size of the unpacked content.
    [[nodiscard]] std::int32_t GetSize(TABSSessionID session);
    // The whole unpacked content.
    [[nodiscard]] std::vector<std::uint8_t> ReadFile(TABSSessionID session);
    // Content bytes [offset, offset + out.size()); 30387 when that passes the end.
    void ReadFile(TABSSessionID session, std::int32_t offset, std::span<std::uint8_t> out);

    // Replaces the content. With an algorithm other than 0 the bytes are compressed first (an
    // empty content is stored as is). The chain grows or is cut to ceil((stored + 10) / D) pages.
    void WriteFile(TABSSessionID session, std::span<const std::uint8_t> content, std::uint8_t algorithm = 0,
                   std::uint8_t mode = 0);
    // Writes `bytes` at content offset `offset`, growing the file (with zero bytes up to `offset`)
    // when it ends earlier. A compressed file is unpacked, patched and stored again.
    void WriteFile(TABSSessionID session, std::int32_t offset, std::span<const std::uint8_t> bytes);
    // Cuts or grows (with zero bytes) the content.
    void SetSize(TABSSessionID session, std::int32_t size);

private:
    void RequireOpen(const char* operation) const;
    [[nodiscard]] std::size_t DataSize() const;
    [[nodiscard]] TABSPageHandle GetChainPage(TABSSessionID session, TABSPageNo pageNo);
    // Reads `out.size()` stored bytes at stored offset `offset`; `storedSize` names the file's
    // size in the 30388 message.
    void ReadStored(TABSSessionID session, std::int64_t offset, std::span<std::uint8_t> out, std::int32_t storedSize);
    // Makes the chain exactly `pageCount` pages long (growing or cutting it).
    void ResizeChain(TABSSessionID session, std::int64_t pageCount);
    // Writes chain bytes (header included: chain byte = stored byte + 10).
    void WriteChainBytes(TABSSessionID session, std::int64_t chainOffset, std::span<const std::uint8_t> bytes);
    void StoreContent(TABSSessionID session, std::span<const std::uint8_t> stored, std::int32_t unpackedSize,
                      std::uint8_t algorithm);

    TABSPageManager& pageManager_;
    TABSPageType pageType_;
    TABSPageNo firstPage_ = kNoPage;
    // The header keeps no compression level; a partial write of a compressed file repacks it
    // with the level of the last whole write (1, the level of table definitions, until then).
    std::uint8_t compressionMode_ = 1;
};

} // namespace kova
