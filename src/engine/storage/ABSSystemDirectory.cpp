#include "engine/storage/ABSSystemDirectory.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

namespace kova {

TABSSystemDirectory::TABSSystemDirectory(TABSPageManager& pageManager) noexcept
    : file_(pageManager, TABSPageType::FileSystemDirectory) {}

void TABSSystemDirectory::Create(TABSSessionID session) {
    file_.CreateFile(session);
    if (file_.FirstPageNo() != kFirstPageNo) {
        const TABSPageNo realPageNo = file_.FirstPageNo();
        file_.CloseFile();
        RaiseError(30392, "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
                   {kFirstPageNo, realPageNo});
    }
}

void TABSSystemDirectory::Open() { file_.OpenFile(kFirstPageNo); }

std::vector<TABSSystemDirectory::Entry> TABSSystemDirectory::ReadEntries(TABSSessionID session) {
    const std::vector<std::uint8_t> content = file_.ReadFile(session);
    std::vector<Entry> entries;
    // A trailing partial entry cannot name a page; it is ignored.
    for (std::size_t at = 0; at + kEntrySize <= content.size(); at += kEntrySize) {
        entries.push_back({content[at], ReadI32(content.data() + at + 1)});
    }
    return entries;
}

TABSPageNo TABSSystemDirectory::FindEntry(TABSSessionID session, std::uint8_t id) {
    for (const Entry& entry : ReadEntries(session)) {
        if (entry.Id == id) return entry.FirstPageNo;
    }
    return kNoPage;
}

void TABSSystemDirectory::SetEntry(TABSSessionID session, std::uint8_t id, TABSPageNo firstPageNo) {
    std::vector<Entry> entries = ReadEntries(session);
    bool replaced = false;
    for (Entry& entry : entries) {
        if (entry.Id == id) {
            entry.FirstPageNo = firstPageNo;
            replaced = true;
        }
    }
    if (!replaced) entries.push_back({id, firstPageNo});
    std::vector<std::uint8_t> content(entries.size() * kEntrySize);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        content[i * kEntrySize] = entries[i].Id;
        WriteI32(content.data() + i * kEntrySize + 1, entries[i].FirstPageNo);
    }
    file_.WriteFile(session, content);
}

} // namespace kova
