#include "engine/storage/ABSInternalFiles.h"

#include <algorithm>
#include <limits>
#include <set>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSCompression.h"
#include "engine/storage/ABSDiskPageManager.h"

namespace kova {

namespace {

constexpr std::int64_t kHeaderSize = static_cast<std::int64_t>(InternalFileHeader::kSize);

// Error codes of the two kinds of internal file.
constexpr int kDirectClosedError = 20156;
constexpr int kDirectExistsError = 20157;
constexpr int kTransactedClosedError = 30389;
constexpr int kTransactedExistsError = 30383;
constexpr int kWrongPageTypeError = 20155;
constexpr int kSeekBeyondEndError = 20159;
constexpr int kWriteBeyondEndError = 20158;
constexpr int kReadBeyondEndError = 30387;
constexpr int kChainEndsEarlyError = 30388;
constexpr int kCompressionError = 20187;
constexpr int kDecompressionError = 20189;

constexpr const char* kClosedMessage = "Cannot perform this operation (%s) on closed internal file";
constexpr const char* kExistsMessage = "Cannot create Internal file. File already exists. StartPageNo=%d";
constexpr const char* kWrongPageTypeMessage = "Invalid PageType found: %d but wanted: %d";

[[noreturn]] void RaiseChainEndsEarly(std::int64_t fileSize, std::int64_t bytesRead, std::int64_t count) {
    RaiseError(kChainEndsEarlyError,
               "Cannot Read internal file. Page chain ends early. FileSize=%d. ReadBytes=%d. Count=%d",
               {static_cast<long long>(fileSize), static_cast<long long>(bytesRead), static_cast<long long>(count)});
}

[[nodiscard]] std::int32_t CheckedSize(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - kHeaderSize)) {
        RaiseError(kWriteBeyondEndError, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                   {std::numeric_limits<std::int32_t>::max(), 0, static_cast<unsigned long long>(size)});
    }
    return static_cast<std::int32_t>(size);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Header

TABSInternalFileHeaderFields TABSInternalFileHeaderFields::Decode(std::span<const std::uint8_t> bytes) {
    TABSInternalFileHeaderFields fields;
    if (bytes.size() < InternalFileHeader::kSize) {
        RaiseError(kChainEndsEarlyError, "Internal file header does not fit its page. DataSize=%d",
                   {static_cast<unsigned long long>(bytes.size())});
    }
    fields.HeaderLength = bytes[InternalFileHeader::kHeaderLengthOffset];
    fields.StoredSize = ReadI32(bytes.data() + InternalFileHeader::kStoredSizeOffset);
    fields.UnpackedSize = ReadI32(bytes.data() + InternalFileHeader::kUnpackedSizeOffset);
    fields.Algorithm = bytes[InternalFileHeader::kAlgorithmOffset];
    return fields;
}

void TABSInternalFileHeaderFields::Encode(std::span<std::uint8_t> bytes) const {
    bytes[InternalFileHeader::kHeaderLengthOffset] = HeaderLength;
    WriteI32(bytes.data() + InternalFileHeader::kStoredSizeOffset, StoredSize);
    WriteI32(bytes.data() + InternalFileHeader::kUnpackedSizeOffset, UnpackedSize);
    bytes[InternalFileHeader::kAlgorithmOffset] = Algorithm;
}

// ---------------------------------------------------------------------------------------------
// Direct files

TABSInternalDBDirectAccessFile::TABSInternalDBDirectAccessFile(TABSDiskPageManager& pageManager,
                                                               TABSPageType pageType) noexcept
    : pageManager_(pageManager), pageType_(pageType) {}

void TABSInternalDBDirectAccessFile::RequireOpen(const char* operation) const {
    if (!IsOpen()) RaiseError(kDirectClosedError, kClosedMessage, {operation});
}

void TABSInternalDBDirectAccessFile::CreateFile(TABSSessionID session, std::int32_t size) {
    if (IsOpen()) RaiseError(kDirectExistsError, kExistsMessage, {FirstPageNo()});
    if (size < 0) size = 0;
    const auto dataSize = static_cast<std::int64_t>(pageManager_.PageSize() - PageHeader::kSize);
    const std::int64_t pageCount = InternalFileChainLength(size, dataSize);

    std::vector<TABSPageNo> pages;
    TABSPageHandle previous;
    for (std::int64_t i = 0; i < pageCount; ++i) {
        TABSPageHandle page = pageManager_.AddPage(session, pageType_, /*encipher=*/false);
        if (previous) previous.SetNextPageNo(page.PageNo());
        pages.push_back(page.PageNo());
        if (i == 0) {
            // The unpacked-size and algorithm fields mean nothing for a direct file.
            TABSInternalFileHeaderFields header;
            header.StoredSize = size;
            header.Encode(page.MutableData().first(InternalFileHeader::kSize));
        }
        previous = std::move(page);
    }
    pages_ = std::move(pages);
    storedSize_ = size;
}

void TABSInternalDBDirectAccessFile::OpenFile(TABSPageNo firstPageNo) {
    if (IsOpen()) RaiseError(kDirectExistsError, kExistsMessage, {FirstPageNo()});
    std::vector<TABSPageNo> pages;
    std::set<TABSPageNo> seen;
    std::uint8_t header[PageHeader::kSize];
    for (TABSPageNo pageNo = firstPageNo; pageNo != kNoPage;) {
        if (!seen.insert(pageNo).second) {
            RaiseError(kChainEndsEarlyError, "Internal file page chain is circular. StartPageNo=%d. PageNo=%d",
                       {firstPageNo, pageNo});
        }
        pageManager_.DirectReadPage(pageNo, 0, header);
        const TABSPageHeaderFields fields = DecodePageHeader(header);
        if (fields.PageType != static_cast<std::uint16_t>(pageType_)) {
            RaiseError(kWrongPageTypeError, kWrongPageTypeMessage,
                       {static_cast<int>(fields.PageType), static_cast<int>(pageType_)});
        }
        pages.push_back(pageNo);
        pageNo = fields.NextPageNo;
    }
    if (pages.empty()) RaiseError(kDirectClosedError, kClosedMessage, {"OpenFile"});
    std::uint8_t fileHeader[InternalFileHeader::kSize];
    pageManager_.DirectReadPage(pages.front(), static_cast<std::int32_t>(PageHeader::kSize), fileHeader);
    const auto fields = TABSInternalFileHeaderFields::Decode(fileHeader);
    pages_ = std::move(pages);
    storedSize_ = std::max<std::int32_t>(fields.StoredSize, 0);
}

void TABSInternalDBDirectAccessFile::CloseFile() noexcept {
    pages_.clear();
    storedSize_ = 0;
}

void TABSInternalDBDirectAccessFile::DeleteFile(TABSSessionID session) {
    RequireOpen("DeleteFile");
    for (TABSPageNo pageNo : pages_) pageManager_.RemovePage(session, pageNo);
    CloseFile();
}

std::int32_t TABSInternalDBDirectAccessFile::GetSize() const {
    RequireOpen("GetSize");
    const auto dataSize = static_cast<std::int64_t>(pageManager_.PageSize() - PageHeader::kSize);
    const std::int64_t capacity = static_cast<std::int64_t>(pages_.size()) * dataSize - kHeaderSize;
    return static_cast<std::int32_t>(std::min<std::int64_t>(storedSize_, capacity));
}

void TABSInternalDBDirectAccessFile::CheckRange(std::int32_t position, std::int32_t count, bool writing) const {
    const std::int32_t size = GetSize();
    if (position < 0 || position > size) {
        RaiseError(kSeekBeyondEndError, "Seek position bigger then file size. FileSize=%d. Position=%d", {size, position});
    }
    if (count < 0 || static_cast<std::int64_t>(position) + count > size) {
        if (writing) {
            RaiseError(kWriteBeyondEndError, "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d",
                       {size, position, count});
        }
        RaiseError(kSeekBeyondEndError, "Seek position bigger then file size. FileSize=%d. Position=%d",
                   {size, static_cast<long long>(position) + count});
    }
}

template <typename Piece>
bool TABSInternalDBDirectAccessFile::ForEachPiece(std::int32_t position, std::int32_t count, Piece&& piece) const {
    const auto dataSize = static_cast<std::int64_t>(pageManager_.PageSize() - PageHeader::kSize);
    std::int64_t done = 0;
    while (done < count) {
        const TABSInternalFilePosition at = InternalFilePosition(position + done, dataSize);
        const std::int64_t length = std::min<std::int64_t>(dataSize - at.DataOffset, count - done);
        const auto pageOffset = static_cast<std::int32_t>(PageHeader::kSize + at.DataOffset);
        if (!piece(pages_[static_cast<std::size_t>(at.PageIndex)], pageOffset, done, static_cast<std::int32_t>(length))) {
            return false;
        }
        done += length;
    }
    return true;
}

void TABSInternalDBDirectAccessFile::DirectReadBuffer(std::int32_t position, std::span<std::uint8_t> out) {
    RequireOpen("DirectReadBuffer");
    const auto count = static_cast<std::int32_t>(out.size());
    CheckRange(position, count, false);
    (void)ForEachPiece(position, count, [&](TABSPageNo pageNo, std::int32_t pageOffset, std::int64_t done, std::int32_t length) {
        pageManager_.DirectReadPage(pageNo, pageOffset, out.subspan(static_cast<std::size_t>(done), static_cast<std::size_t>(length)));
        return true;
    });
}

void TABSInternalDBDirectAccessFile::DirectWriteBuffer(std::int32_t position, std::span<const std::uint8_t> in) {
    RequireOpen("DirectWriteBuffer");
    const auto count = static_cast<std::int32_t>(in.size());
    CheckRange(position, count, true);
    (void)ForEachPiece(position, count, [&](TABSPageNo pageNo, std::int32_t pageOffset, std::int64_t done, std::int32_t length) {
        pageManager_.DirectWritePage(pageNo, pageOffset, in.subspan(static_cast<std::size_t>(done), static_cast<std::size_t>(length)));
        return true;
    });
}

bool TABSInternalDBDirectAccessFile::LockFile() {
    RequireOpen("LockFile");
    return pageManager_.LockPageByte(pages_.front(), 0);
}

bool TABSInternalDBDirectAccessFile::UnlockFile() {
    RequireOpen("UnlockFile");
    return pageManager_.UnlockPageByte(pages_.front(), 0);
}

bool TABSInternalDBDirectAccessFile::LockByte(std::int32_t position) {
    RequireOpen("LockByte");
    return LockRegion(position, 1);
}

bool TABSInternalDBDirectAccessFile::UnlockByte(std::int32_t position) {
    RequireOpen("UnlockByte");
    return UnlockRegion(position, 1);
}

bool TABSInternalDBDirectAccessFile::IsByteLocked(std::int32_t position) {
    RequireOpen("IsByteLocked");
    return IsRegionLocked(position, 1);
}

bool TABSInternalDBDirectAccessFile::LockRegion(std::int32_t position, std::int32_t count) {
    RequireOpen("LockByte");
    CheckRange(position, count, false);
    std::vector<std::pair<TABSPageNo, std::pair<std::int32_t, std::int32_t>>> taken;
    const bool ok = ForEachPiece(position, count, [&](TABSPageNo pageNo, std::int32_t pageOffset, std::int64_t, std::int32_t length) {
        if (!pageManager_.LockPageRegion(pageNo, pageOffset, length)) return false;
        taken.push_back({pageNo, {pageOffset, length}});
        return true;
    });
    if (!ok) {
        // All or nothing: a half-taken region would block others without serving its caller.
        for (const auto& [pageNo, range] : taken) (void)pageManager_.UnlockPageRegion(pageNo, range.first, range.second);
    }
    return ok;
}

bool TABSInternalDBDirectAccessFile::UnlockRegion(std::int32_t position, std::int32_t count) {
    RequireOpen("UnlockByte");
    CheckRange(position, count, false);
    bool ok = true;
    (void)ForEachPiece(position, count, [&](TABSPageNo pageNo, std::int32_t pageOffset, std::int64_t, std::int32_t length) {
        ok = pageManager_.UnlockPageRegion(pageNo, pageOffset, length) && ok;
        return true;
    });
    return ok;
}

bool TABSInternalDBDirectAccessFile::IsRegionLocked(std::int32_t position, std::int32_t count) {
    RequireOpen("IsRegionLocked");
    CheckRange(position, count, false);
    // ForEachPiece stops at the first locked piece (the callback returns false there).
    return !ForEachPiece(position, count, [&](TABSPageNo pageNo, std::int32_t pageOffset, std::int64_t, std::int32_t length) {
        return !pageManager_.IsPageRegionLocked(pageNo, pageOffset, length);
    });
}

// ---------------------------------------------------------------------------------------------
// Transacted files

TABSInternalDBTransactedAccessFile::TABSInternalDBTransactedAccessFile(TABSPageManager& pageManager,
                                                                       TABSPageType pageType) noexcept
    : pageManager_(pageManager), pageType_(pageType) {}

void TABSInternalDBTransactedAccessFile::RequireOpen(const char* operation) const {
    if (!IsOpen()) RaiseError(kTransactedClosedError, kClosedMessage, {operation});
}

std::size_t TABSInternalDBTransactedAccessFile::DataSize() const {
    return pageManager_.PageSize() - PageHeader::kSize;
}

TABSPageHandle TABSInternalDBTransactedAccessFile::GetChainPage(TABSSessionID session, TABSPageNo pageNo) {
    TABSPageHandle page = pageManager_.GetPage(session, pageNo, kAnyPageType);
    if (page.PageType() != static_cast<std::uint16_t>(pageType_)) {
        RaiseError(kWrongPageTypeError, kWrongPageTypeMessage,
                   {static_cast<int>(page.PageType()), static_cast<int>(pageType_)});
    }
    return page;
}

void TABSInternalDBTransactedAccessFile::CreateFile(TABSSessionID session) {
    if (IsOpen()) RaiseError(kTransactedExistsError, kExistsMessage, {firstPage_});
    TABSPageHandle page = pageManager_.AddPage(session, pageType_);
    TABSInternalFileHeaderFields header;
    header.Encode(page.MutableData().first(InternalFileHeader::kSize));
    firstPage_ = page.PageNo();
}

void TABSInternalDBTransactedAccessFile::OpenFile(TABSPageNo firstPageNo) {
    if (IsOpen()) RaiseError(kTransactedExistsError, kExistsMessage, {firstPage_});
    firstPage_ = firstPageNo;
}

void TABSInternalDBTransactedAccessFile::CloseFile() noexcept { firstPage_ = kNoPage; }

void TABSInternalDBTransactedAccessFile::ResetFile(TABSSessionID session) {
    RequireOpen("ResetFile");
    TABSPageHandle page = pageManager_.RenewPage(session, firstPage_, pageType_);
    TABSInternalFileHeaderFields header;
    header.Encode(page.MutableData().first(InternalFileHeader::kSize));
}

void TABSInternalDBTransactedAccessFile::DeleteFile(TABSSessionID session) {
    RequireOpen("DeleteFile");
    std::vector<TABSPageNo> pages;
    std::set<TABSPageNo> seen;
    for (TABSPageNo pageNo = firstPage_; pageNo != kNoPage;) {
        if (!seen.insert(pageNo).second) break;  // a circular chain: every page is collected already
        pages.push_back(pageNo);
        pageNo = GetChainPage(session, pageNo).NextPageNo();
    }
    for (TABSPageNo pageNo : pages) pageManager_.RemovePage(session, pageNo);
    CloseFile();
}

TABSInternalFileHeaderFields TABSInternalDBTransactedAccessFile::ReadHeader(TABSSessionID session) {
    RequireOpen("ReadFile");
    TABSPageHandle first = GetChainPage(session, firstPage_);
    const auto header = TABSInternalFileHeaderFields::Decode(first.Data());
    if (header.HeaderLength != InternalFileHeader::kHeaderLengthValue || header.StoredSize < 0 ||
        header.UnpackedSize < 0 || (header.Algorithm == 0 && header.UnpackedSize != header.StoredSize)) {
        RaiseError(kChainEndsEarlyError,
                   "Invalid internal file header. StartPageNo=%d. HeaderLength=%d. FileSize=%d. UnpackedSize=%d",
                   {firstPage_, static_cast<int>(header.HeaderLength), header.StoredSize, header.UnpackedSize});
    }
    return header;
}

std::int32_t TABSInternalDBTransactedAccessFile::GetSize(TABSSessionID session) {
    RequireOpen("GetSize");
    return ReadHeader(session).UnpackedSize;
}

void TABSInternalDBTransactedAccessFile::ReadStored(TABSSessionID session, std::int64_t offset,
                                                    std::span<std::uint8_t> out, std::int32_t storedSize) {
    if (out.empty()) return;
    const auto dataSize = static_cast<std::int64_t>(DataSize());
    TABSInternalFilePosition at = InternalFilePosition(offset, dataSize);
    TABSPageNo pageNo = firstPage_;
    for (std::int64_t index = 0; index < at.PageIndex; ++index) {
        pageNo = GetChainPage(session, pageNo).NextPageNo();
        if (pageNo == kNoPage) RaiseChainEndsEarly(storedSize, 0, static_cast<std::int64_t>(out.size()));
    }
    std::size_t done = 0;
    std::int64_t dataOffset = at.DataOffset;
    while (true) {
        TABSPageHandle page = GetChainPage(session, pageNo);
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(dataSize - dataOffset), out.size() - done);
        const auto data = page.Data();
        std::copy_n(data.begin() + dataOffset, length, out.begin() + static_cast<std::ptrdiff_t>(done));
        done += length;
        if (done == out.size()) return;
        pageNo = page.NextPageNo();
        if (pageNo == kNoPage) {
            RaiseChainEndsEarly(storedSize, static_cast<std::int64_t>(done), static_cast<std::int64_t>(out.size()));
        }
        dataOffset = 0;
    }
}

std::vector<std::uint8_t> TABSInternalDBTransactedAccessFile::ReadFile(TABSSessionID session) {
    RequireOpen("ReadFile");
    const TABSInternalFileHeaderFields header = ReadHeader(session);
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(header.StoredSize));
    ReadStored(session, 0, stored, header.StoredSize);
    if (header.Algorithm == 0 || stored.empty()) {
        stored.resize(static_cast<std::size_t>(header.UnpackedSize));
        return stored;
    }
    auto unpacked = DecompressBuffer(header.Algorithm, stored.data(), stored.size(),
                                     static_cast<std::size_t>(header.UnpackedSize));
    if (!unpacked || unpacked->size() != static_cast<std::size_t>(header.UnpackedSize)) {
        RaiseError(kDecompressionError, "Table file decompression error. Probably table is corrupted");
    }
    return std::move(*unpacked);
}

void TABSInternalDBTransactedAccessFile::ReadFile(TABSSessionID session, std::int32_t offset, std::span<std::uint8_t> out) {
    RequireOpen("ReadFile");
    const TABSInternalFileHeaderFields header = ReadHeader(session);
    if (offset < 0 || static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(out.size()) > header.UnpackedSize) {
        RaiseError(kReadBeyondEndError, "Cannot Read internal file. FileSize=%d. ReadSize=%d",
                   {header.UnpackedSize, static_cast<long long>(offset) + static_cast<long long>(out.size())});
    }
    if (header.Algorithm == 0) {
        ReadStored(session, offset, out, header.StoredSize);
        return;
    }
    const std::vector<std::uint8_t> content = ReadFile(session);
    std::copy_n(content.begin() + offset, out.size(), out.begin());
}

void TABSInternalDBTransactedAccessFile::ResizeChain(TABSSessionID session, std::int64_t pageCount) {
    TABSPageNo pageNo = firstPage_;
    for (std::int64_t index = 0;; ++index) {
        TABSPageHandle page = GetChainPage(session, pageNo);
        TABSPageNo next = page.NextPageNo();
        if (index + 1 >= pageCount) {
            if (next == kNoPage) return;
            page.SetNextPageNo(kNoPage);
            page.Release();
            // Give the cut tail back; a page seen twice means a damaged, circular chain.
            std::set<TABSPageNo> seen{pageNo};
            while (next != kNoPage && seen.insert(next).second) {
                const TABSPageNo after = GetChainPage(session, next).NextPageNo();
                pageManager_.RemovePage(session, next);
                next = after;
            }
            return;
        }
        if (next == kNoPage) {
            TABSPageHandle added = pageManager_.AddPage(session, pageType_);
            next = added.PageNo();
            page.SetNextPageNo(next);
        }
        pageNo = next;
    }
}

void TABSInternalDBTransactedAccessFile::WriteChainBytes(TABSSessionID session, std::int64_t chainOffset,
                                                         std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    const auto dataSize = static_cast<std::int64_t>(DataSize());
    TABSPageNo pageNo = firstPage_;
    for (std::int64_t index = 0; index < chainOffset / dataSize; ++index) {
        pageNo = GetChainPage(session, pageNo).NextPageNo();
        if (pageNo == kNoPage) RaiseChainEndsEarly(chainOffset, 0, static_cast<std::int64_t>(bytes.size()));
    }
    std::size_t done = 0;
    std::int64_t dataOffset = chainOffset % dataSize;
    while (true) {
        TABSPageHandle page = GetChainPage(session, pageNo);
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(dataSize - dataOffset), bytes.size() - done);
        auto data = page.MutableData();
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(done), length, data.begin() + dataOffset);
        done += length;
        if (done == bytes.size()) return;
        pageNo = page.NextPageNo();
        if (pageNo == kNoPage) {
            RaiseChainEndsEarly(chainOffset, static_cast<std::int64_t>(done), static_cast<std::int64_t>(bytes.size()));
        }
        dataOffset = 0;
    }
}

void TABSInternalDBTransactedAccessFile::StoreContent(TABSSessionID session, std::span<const std::uint8_t> stored,
                                                      std::int32_t unpackedSize, std::uint8_t algorithm) {
    const std::int32_t storedSize = CheckedSize(stored.size());
    ResizeChain(session, InternalFileChainLength(storedSize, static_cast<std::int64_t>(DataSize())));
    std::vector<std::uint8_t> image(InternalFileHeader::kSize + stored.size());
    TABSInternalFileHeaderFields header;
    header.StoredSize = storedSize;
    header.UnpackedSize = unpackedSize;
    header.Algorithm = algorithm;
    header.Encode(std::span(image).first(InternalFileHeader::kSize));
    std::copy(stored.begin(), stored.end(), image.begin() + static_cast<std::ptrdiff_t>(InternalFileHeader::kSize));
    WriteChainBytes(session, 0, image);
}

void TABSInternalDBTransactedAccessFile::WriteFile(TABSSessionID session, std::span<const std::uint8_t> content,
                                                   std::uint8_t algorithm, std::uint8_t mode) {
    RequireOpen("WriteFile");
    const std::int32_t size = CheckedSize(content.size());
    if (algorithm == 0 || content.empty()) {
        StoreContent(session, content, size, 0);
        return;
    }
    const auto packed = CompressBuffer(algorithm, mode, content.data(), content.size());
    if (!packed) RaiseError(kCompressionError, "Table file compression error");
    StoreContent(session, *packed, size, algorithm);
    compressionMode_ = mode;
}

void TABSInternalDBTransactedAccessFile::WriteFile(TABSSessionID session, std::int32_t offset,
                                                   std::span<const std::uint8_t> bytes) {
    RequireOpen("WriteFile");
    if (offset < 0) {
        RaiseError(kReadBeyondEndError, "Cannot Read internal file. FileSize=%d. ReadSize=%d", {0, offset});
    }
    const TABSInternalFileHeaderFields header = ReadHeader(session);
    const std::int64_t end = static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(bytes.size());
    if (header.Algorithm != 0) {
        std::vector<std::uint8_t> content = ReadFile(session);
        if (static_cast<std::int64_t>(content.size()) < end) content.resize(static_cast<std::size_t>(end), 0);
        std::copy(bytes.begin(), bytes.end(), content.begin() + offset);
        WriteFile(session, content, header.Algorithm, compressionMode_);
        return;
    }
    if (end > header.StoredSize) {
        const std::int32_t newSize = CheckedSize(static_cast<std::size_t>(end));
        ResizeChain(session, InternalFileChainLength(newSize, static_cast<std::int64_t>(DataSize())));
        // Bytes between the old end and `offset` may hold what a cut left behind: clear them.
        if (offset > header.StoredSize) {
            const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(offset - header.StoredSize), 0);
            WriteChainBytes(session, kHeaderSize + header.StoredSize, zeros);
        }
        TABSInternalFileHeaderFields grown = header;
        grown.StoredSize = newSize;
        grown.UnpackedSize = newSize;
        std::uint8_t encoded[InternalFileHeader::kSize];
        grown.Encode(encoded);
        WriteChainBytes(session, 0, encoded);
    }
    WriteChainBytes(session, kHeaderSize + offset, bytes);
}

void TABSInternalDBTransactedAccessFile::SetSize(TABSSessionID session, std::int32_t size) {
    RequireOpen("SetSize");
    if (size < 0) size = 0;
    const TABSInternalFileHeaderFields header = ReadHeader(session);
    if (header.Algorithm != 0) {
        std::vector<std::uint8_t> content = ReadFile(session);
        content.resize(static_cast<std::size_t>(size), 0);
        WriteFile(session, content, header.Algorithm, compressionMode_);
        return;
    }
    if (size > header.StoredSize) {
        const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(size - header.StoredSize), 0);
        WriteFile(session, header.StoredSize, zeros);
        return;
    }
    ResizeChain(session, InternalFileChainLength(size, static_cast<std::int64_t>(DataSize())));
    TABSInternalFileHeaderFields cut = header;
    cut.StoredSize = size;
    cut.UnpackedSize = size;
    std::uint8_t encoded[InternalFileHeader::kSize];
    cut.Encode(encoded);
    WriteChainBytes(session, 0, encoded);
}

} // namespace kova
