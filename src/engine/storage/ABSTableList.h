// The table list: one 272-byte entry per table, a transacted internal file of TableList pages
// (never compressed), kept in creation order.
//
//   offset size  field
//   0      1     name length (0 … 255)
//   1      255   table name, Windows-1252; bytes after the name are undefined
//   256    4     table id (int32, from the object counter)
//   260    4     first page of the table's definition file
//   264    4     first page of the table's state file
//   268    4     first page of the table's lock file
//
// Names reach this class as UTF-8 and are stored as Windows-1252. They are compared without
// regard to case: both sides upper-cased in Windows-1252.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/ABSInternalFiles.h"

namespace kova {

namespace TableListEntryLayout {
inline constexpr std::size_t kNameLengthOffset = 0;
inline constexpr std::size_t kNameOffset = 1;
inline constexpr std::size_t kMaxNameLength = 255;
inline constexpr std::size_t kTableIdOffset = 256;
inline constexpr std::size_t kMetaDataPageOffset = 260;
inline constexpr std::size_t kMostUpdatedPageOffset = 264;
inline constexpr std::size_t kLocksPageOffset = 268;
inline constexpr std::size_t kSize = 272;
static_assert(kTableIdOffset == kNameOffset + kMaxNameLength);
static_assert(kSize == kLocksPageOffset + 4);
} // namespace TableListEntryLayout

// Native errors of the table list.
inline constexpr int kTableExistsError = 30395;
inline constexpr int kTableNotFoundError = 30396;         // looking a table up
inline constexpr int kTableNotFoundOnRenameError = 30397;
inline constexpr int kTableNotFoundOnDeleteError = 30405;
inline constexpr int kTableNameTooLongError = 30398;

struct TABSTableEntry {
    std::string Name;  // UTF-8
    std::int32_t TableId = 0;
    TABSPageNo MetaDataPageNo = kNoPage;     // definition file
    TABSPageNo MostUpdatedPageNo = kNoPage;  // state file
    TABSPageNo LocksPageNo = kNoPage;        // lock file
    friend bool operator==(const TABSTableEntry&, const TABSTableEntry&) = default;
};

// Windows-1252 upper case of single-byte text (a-z, the accented letters, š œ ž ÿ); ß and the
// other bytes stay.
[[nodiscard]] std::string UpperCaseCp1252(std::string_view text);

// The table list, read into memory as a whole and written back as a whole on every change (it is
// small and changes only with DDL).
class TABSTableListFile {
public:
    explicit TABSTableListFile(TABSPageManager& pageManager) noexcept;

    // Makes an empty list in `session` and leaves it open.
    void Create(TABSSessionID session);
    void Open(TABSPageNo firstPageNo);
    void Close() noexcept;
    [[nodiscard]] bool IsOpen() const noexcept { return file_.IsOpen(); }
    [[nodiscard]] TABSPageNo FirstPageNo() const noexcept { return file_.FirstPageNo(); }

    // (Re-)reads the list as `session` sees it.
    void Load(TABSSessionID session);

    [[nodiscard]] const std::vector<TABSTableEntry>& Entries() const noexcept { return entries_; }
    [[nodiscard]] std::optional<TABSTableEntry> Find(std::string_view name) const;
    [[nodiscard]] std::optional<TABSTableEntry> FindById(std::int32_t tableId) const;
    [[nodiscard]] std::vector<std::string> Names() const;

    // Each change writes the list in `session`. Add: 30395 when the name is taken. Rename: 30397
    // when `oldName` is missing, 30395 when `newName` names another table. Remove: 30405.
    // Names that Windows-1252 cannot hold raise 30053, names over 255 bytes 30398.
    void Add(TABSSessionID session, const TABSTableEntry& entry);
    void Rename(TABSSessionID session, std::string_view oldName, std::string_view newName);
    void Remove(TABSSessionID session, std::string_view name);

private:
    [[nodiscard]] static std::string EncodeName(std::string_view utf8Name);
    [[nodiscard]] std::ptrdiff_t IndexOf(std::string_view utf8Name) const;
    void Store(TABSSessionID session, std::vector<TABSTableEntry> entries);

    TABSInternalDBTransactedAccessFile file_;
    std::vector<TABSTableEntry> entries_;
    std::vector<std::string> keys_;  // upper-cased Windows-1252 names, parallel to entries_
};

} // namespace kova
