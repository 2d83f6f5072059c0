#include "engine/storage/ABSTableList.h"

#include <algorithm>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/core/TextCodec.h"

namespace kova {

namespace {

constexpr const char* kNotExistsMessage = "Table '%s' not exists.";
constexpr const char* kExistsMessage = "Cannot create table. Table '%s' already exists";

[[nodiscard]] unsigned char UpperCp1252(unsigned char c) noexcept {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
    // à … þ map to À … Þ, except ÷ (0xF7), which has no case.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
    switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
    }
}

} // namespace

std::string UpperCaseCp1252(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(UpperCp1252(static_cast<unsigned char>(c)));
    return upper;
}

TABSTableListFile::TABSTableListFile(TABSPageManager& pageManager) noexcept
    : file_(pageManager, TABSPageType::TableList) {}

void TABSTableListFile::Create(TABSSessionID session) {
    file_.CreateFile(session);
    entries_.clear();
    keys_.clear();
}

void TABSTableListFile::Open(TABSPageNo firstPageNo) {
    file_.OpenFile(firstPageNo);
    entries_.clear();
    keys_.clear();
}

void TABSTableListFile::Close() noexcept {
    file_.CloseFile();
    entries_.clear();
    keys_.clear();
}

void TABSTableListFile::Load(TABSSessionID session) {
    using namespace TableListEntryLayout;
    const std::vector<std::uint8_t> content = file_.ReadFile(session);
    std::vector<TABSTableEntry> entries;
    std::vector<std::string> keys;
    // A trailing partial entry (a damaged file) cannot describe a table; it is ignored.
    for (std::size_t at = 0; at + kSize <= content.size(); at += kSize) {
        const std::uint8_t* raw = content.data() + at;
        const std::string name(reinterpret_cast<const char*>(raw + kNameOffset), raw[kNameLengthOffset]);
        TABSTableEntry entry;
        entry.Name = Cp1252ToUtf8(name);
        entry.TableId = ReadI32(raw + kTableIdOffset);
        entry.MetaDataPageNo = ReadI32(raw + kMetaDataPageOffset);
        entry.MostUpdatedPageNo = ReadI32(raw + kMostUpdatedPageOffset);
        entry.LocksPageNo = ReadI32(raw + kLocksPageOffset);
        entries.push_back(std::move(entry));
        keys.push_back(UpperCaseCp1252(name));
    }
    entries_ = std::move(entries);
    keys_ = std::move(keys);
}

std::string TABSTableListFile::EncodeName(std::string_view utf8Name) {
    std::string name = Utf8ToCp1252(utf8Name);
    if (name.size() > TableListEntryLayout::kMaxNameLength) {
        RaiseError(kTableNameTooLongError, "Table name '%s' is too long. Maximum length is %d characters",
                   {std::string(utf8Name), static_cast<int>(TableListEntryLayout::kMaxNameLength)});
    }
    return name;
}

std::ptrdiff_t TABSTableListFile::IndexOf(std::string_view utf8Name) const {
    // A name Windows-1252 cannot hold names no stored table.
    const auto name = TryUtf8ToCp1252(utf8Name);
    if (!name) return -1;
    const std::string key = UpperCaseCp1252(*name);
    const auto found = std::find(keys_.begin(), keys_.end(), key);
    return found == keys_.end() ? -1 : found - keys_.begin();
}

std::optional<TABSTableEntry> TABSTableListFile::Find(std::string_view name) const {
    const std::ptrdiff_t index = IndexOf(name);
    if (index < 0) return std::nullopt;
    return entries_[static_cast<std::size_t>(index)];
}

std::optional<TABSTableEntry> TABSTableListFile::FindById(std::int32_t tableId) const {
    for (const TABSTableEntry& entry : entries_) {
        if (entry.TableId == tableId) return entry;
    }
    return std::nullopt;
}

std::vector<std::string> TABSTableListFile::Names() const {
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const TABSTableEntry& entry : entries_) names.push_back(entry.Name);
    return names;
}

void TABSTableListFile::Store(TABSSessionID session, std::vector<TABSTableEntry> entries) {
    using namespace TableListEntryLayout;
    std::vector<std::uint8_t> content(entries.size() * kSize, 0);
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::uint8_t* raw = content.data() + i * kSize;
        const std::string name = EncodeName(entries[i].Name);
        raw[kNameLengthOffset] = static_cast<std::uint8_t>(name.size());
        std::copy(name.begin(), name.end(), raw + kNameOffset);
        WriteI32(raw + kTableIdOffset, entries[i].TableId);
        WriteI32(raw + kMetaDataPageOffset, entries[i].MetaDataPageNo);
        WriteI32(raw + kMostUpdatedPageOffset, entries[i].MostUpdatedPageNo);
        WriteI32(raw + kLocksPageOffset, entries[i].LocksPageNo);
        keys.push_back(UpperCaseCp1252(name));
        // The in-memory name reads back exactly as a later Load would give it.
        entries[i].Name = Cp1252ToUtf8(name);
    }
    file_.WriteFile(session, content);
    entries_ = std::move(entries);
    keys_ = std::move(keys);
}

void TABSTableListFile::Add(TABSSessionID session, const TABSTableEntry& entry) {
    (void)EncodeName(entry.Name);
    if (IndexOf(entry.Name) >= 0) RaiseError(kTableExistsError, kExistsMessage, {entry.Name});
    std::vector<TABSTableEntry> entries = entries_;
    entries.push_back(entry);
    Store(session, std::move(entries));
}

void TABSTableListFile::Rename(TABSSessionID session, std::string_view oldName, std::string_view newName) {
    const std::ptrdiff_t index = IndexOf(oldName);
    if (index < 0) RaiseError(kTableNotFoundOnRenameError, kNotExistsMessage, {oldName});
    (void)EncodeName(newName);
    const std::ptrdiff_t other = IndexOf(newName);
    // Renaming a table to a spelling of its own name (another letter case) is allowed.
    if (other >= 0 && other != index) RaiseError(kTableExistsError, kExistsMessage, {newName});
    std::vector<TABSTableEntry> entries = entries_;
    entries[static_cast<std::size_t>(index)].Name = std::string(newName);
    Store(session, std::move(entries));
}

void TABSTableListFile::Remove(TABSSessionID session, std::string_view name) {
    const std::ptrdiff_t index = IndexOf(name);
    if (index < 0) RaiseError(kTableNotFoundOnDeleteError, kNotExistsMessage, {name});
    std::vector<TABSTableEntry> entries = entries_;
    entries.erase(entries.begin() + index);
    Store(session, std::move(entries));
}

} // namespace kova
