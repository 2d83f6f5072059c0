// Opening a table in repair mode: the table is rebuilt from what its record pages hold.
//
// The record page index may be the damaged part, so the record pages are found by scanning every
// page of the file for type 10 with the table's id at header offset 22 (a page given back carries
// the counter 0x7FFFFFFF or is free in the free-space map, and is skipped). Records whose bytes cannot be values of the table's
// fields are dropped, and so are BLOB values that cannot be read (the field becomes null). Then the
// record page index, the record count, the auto-increment counters, the BLOB page index and every
// index are rebuilt from the records that remain; a record whose key repeats in a unique index is
// dropped. Every problem found adds one line to the report.
//
// Shared BLOB pages carry no table id, so they cannot be found by scanning the file; the BLOB page
// index is rebuilt from the shared pages that the remaining records name instead. Entries on those
// pages that no record names (left by a commit that reached the file in part) are removed, and two
// records naming one value get a copy each, so that deleting one cannot take the other's value.
#include "engine/storage/ABSDiskTableData.h"

#include "engine/core/ABSDateTime.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSBlobPages.h"
#include "engine/storage/ABSDiskBlobManager.h"
#include "engine/storage/ABSDiskEngine.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace kova {

namespace {

using B = TABSBaseType;

constexpr std::int32_t kLastDayNumber = 3652059;  // 31 December 9999

// Whether the disk bytes of a record can be values of the fields: unused bitmap bits clear, every
// non-null text terminated inside its field, dates and times inside their ranges.
bool IsReadableRecord(const TABSFieldDefs& fields, std::span<const std::uint8_t> disk) {
    const std::size_t count = fields.Count();
    if (count % 8 != 0 && (disk[count / 8] >> (count % 8)) != 0) return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (fields.IsNull(disk, i)) continue;
        const TABSFieldDef& f = fields[i];
        const std::uint8_t* p = disk.data() + f.DiskOffset;
        switch (f.StorageType) {
        case B::bftChar:
        case B::bftString:
            if (std::find(p, p + f.DiskSize, std::uint8_t{0}) == p + f.DiskSize) return false;
            break;
        case B::bftWideChar:
        case B::bftWideString: {
            bool terminated = false;
            for (std::size_t o = 0; o + 1 < f.DiskSize && !terminated; o += 2) terminated = ReadU16(p + o) == 0;
            if (!terminated) return false;
            break;
        }
        case B::bftDate:
            if (ReadI32(p) < 1 || ReadI32(p) > kLastDayNumber) return false;
            break;
        case B::bftTime:
            if (ReadI32(p) < 0 || ReadI32(p) >= kMillisecondsPerDay) return false;
            break;
        case B::bftDateTime:
            if (ReadI32(p) < 1 || ReadI32(p) > kLastDayNumber) return false;
            if (ReadI32(p + 4) < 0 || ReadI32(p + 4) >= kMillisecondsPerDay) return false;
            break;
        default:
            break;
        }
    }
    return true;
}

std::string Describe(const EABSError& e) { return e.what(); }

// Whether every page of a sound tree is still marked used. A commit that reached the file in part
// may have given pages back while the pages naming them kept their old bytes; giving such a tree's
// pages back again would free them twice.
bool AllPagesInUse(TABSBTree& tree, TABSDiskPageManager& pages, TABSSessionID session) {
    for (const TABSPageNo p : tree.PageNumbers(session)) {
        if (!pages.IsPageInUse(p)) return false;
    }
    return true;
}

// References written with a one-byte id keep 255 where a large value's -1 was meant.
constexpr std::int16_t kAmbiguousBlobID = 255;

// Rebuilds the BLOB page index of one table from the shared pages its records name.
class TBlobPageIndexRebuild {
public:
    using Note = std::function<void(std::string)>;

    TBlobPageIndexRebuild(TABSDiskBlobManager& blobs, TABSDiskPageManager& pages, TABSSessionID session,
                          const std::string& table, Note note)
        : blobs_(blobs), pages_(pages), session_(session), table_(table), note_(std::move(note)) {}

    // Reads what the stored index lists, when its tree is sound. Call before anything changes.
    void ReadStoredIndex() {
        if (blobs_.IndexRoot() == kNoPage) {
            note_(FormatMessage("Table '%s': BLOB page index has no root; it is rebuilt", {table_}));
            return;
        }
        try {
            blobs_.PageIndex().CheckIntegrity(session_);
            for (const auto& entry : blobs_.PageIndex().Entries(session_)) listed_[entry.PageNo] = entry.Count;
            intact_ = AllPagesInUse(blobs_.PageIndex().Tree(), pages_, session_);
            if (!intact_) {
                note_(FormatMessage("Table '%s': BLOB page index names pages that were given back; it is rebuilt",
                                    {table_}));
            }
        } catch (const EABSError& e) {
            note_(FormatMessage("Table '%s': BLOB page index is damaged (%s); it is rebuilt", {table_, Describe(e)}));
        }
    }

    enum class Use { Own, NamedBefore, GivenBack };

    // Records a readable value of a remaining record. NamedBefore: another record names the same
    // value already, and this one must get a copy of its own. GivenBack: the value's pages are
    // free in the file (a commit that reached the file in part deleted it), so it is lost.
    [[nodiscard]] Use Add(const TABSBlobReference& reference) {
        const bool shared = IsShared(reference);
        std::vector<TABSPageNo> used{reference.PageNo};
        if (!shared) {
            const TABSLargeBlob::Layout layout = TABSLargeBlob::ReadLayout(pages_, session_, reference.PageNo);
            used = layout.DataPages;
            used.insert(used.end(), layout.ListPages.begin(), layout.ListPages.end());
        }
        for (const TABSPageNo p : used) {
            if (!pages_.IsPageInUse(p)) return Use::GivenBack;
        }
        if (!named_.insert({reference.PageNo, reference.BlobID}).second) return Use::NamedBefore;
        if (shared) shared_[reference.PageNo].insert(reference.BlobID);
        return Use::Own;
    }

    // Replaces the index by one listing every named shared page with the bytes its entries use,
    // after removing the entries that no record names.
    void Rebuild() {
        TABSBTreeBlobPageIndex& index = blobs_.PageIndex();
        // A damaged tree is not walked again: its links may name pages of others.
        if (intact_) {
            index.Clear(session_);
        } else {
            (void)blobs_.CreateIndexRoot(session_);
        }
        for (const auto& [pageNo, ids] : shared_) {
            TABSSmallBlobPage page = TABSSmallBlobPage::Open(pages_, session_, pageNo);
            const auto stored = static_cast<std::uint16_t>(page.EndOffset() - SmallBlobLayout::kFirstEntryOffset);
            const auto was = listed_.find(pageNo);
            if (intact_ && (was == listed_.end() || was->second != stored)) {
                note_(FormatMessage("Table '%s': BLOB page index listed %d bytes for page %d, which uses %d",
                                    {table_, was == listed_.end() ? 0 : static_cast<int>(was->second), pageNo,
                                     static_cast<int>(stored)}));
            }
            for (const TABSSmallBlobPage::Entry& entry : page.Entries()) {
                if (ids.contains(entry.Header.BlobID)) continue;
                (void)page.Remove(entry.Header.BlobID);
                note_(FormatMessage("Table '%s': BLOB value %d on page %d belongs to no record; removed",
                                    {table_, static_cast<int>(entry.Header.BlobID), pageNo}));
            }
            const auto used = static_cast<std::uint16_t>(page.EndOffset() - SmallBlobLayout::kFirstEntryOffset);
            page.Release();
            index.SetPageCount(session_, pageNo, used);
        }
        // Pages listed but named by no record are left alone rather than given back: a stale
        // index may list a page that is no longer the table's.
        for (const auto& [pageNo, used] : listed_) {
            if (shared_.contains(pageNo)) continue;
            note_(FormatMessage("Table '%s': BLOB page %d holds no value of a record; left out of the index",
                                {table_, pageNo}));
        }
    }

    [[nodiscard]] std::size_t SharedPageCount() const noexcept { return shared_.size(); }

private:
    // Whether a readable value lies on a shared page; an ambiguous id is decided as reading does.
    [[nodiscard]] bool IsShared(const TABSBlobReference& reference) {
        if (reference.IsLarge()) return false;
        if (reference.BlobID != kAmbiguousBlobID) return true;
        const bool large = TABSLargeBlob::LooksLarge(pages_, session_, reference.PageNo);
        try {
            if (large) {
                (void)TABSLargeBlob::Read(pages_, session_, reference.PageNo);
            } else {
                (void)TABSSmallBlobPage::Open(pages_, session_, reference.PageNo).Read(reference.BlobID);
            }
            return !large;
        } catch (const EABSException&) {
            return large;
        }
    }

    TABSDiskBlobManager& blobs_;
    TABSDiskPageManager& pages_;
    TABSSessionID session_;
    const std::string& table_;
    Note note_;
    bool intact_ = false;
    std::map<TABSPageNo, std::uint16_t> listed_;
    std::set<std::pair<TABSPageNo, std::int16_t>> named_;
    std::map<TABSPageNo, std::set<std::int16_t>> shared_;
};

} // namespace

TABSTableRepairReport TABSDiskTableData::Repair(TABSSessionID session) {
    std::lock_guard lock(Mutex());
    TABSTableRepairReport report;
    report.TableName = name_;
    const auto note = [&](std::string message) { report.Messages.push_back(std::move(message)); };
    TABSDiskPageManager& pages = database_.PageManager();

    // The state as stored, when it can be read at all.
    TABSTableState stored = TABSTableState::Initial(fields_);
    try {
        stored = TABSTableState::Decode(stateFile_.ReadFile(session), fields_.Count());
    } catch (const EABSError& e) {
        note(FormatMessage("Table '%s': state file cannot be read (%s); it is rebuilt", {name_, Describe(e)}));
        // Writing the rebuilt state reads the old chain first; a first page that no longer
        // deciphers would stop the repair there.
        stateFile_.ResetFile(session);
    }

    // What the record page index lists, as far as it can be walked.
    std::set<TABSPageNo> listed;
    std::uint64_t listedRecords = 0;
    bool indexIntact = false;
    try {
        pageIndex_.CheckIntegrity(session);
        for (const auto& entry : pageIndex_.Entries(session)) {
            listed.insert(entry.PageNo);
            listedRecords += entry.Count;
        }
        indexIntact = AllPagesInUse(pageIndex_.Tree(), pages, session);
        if (!indexIntact) {
            note(FormatMessage("Table '%s': record page index names pages that were given back; it is rebuilt",
                               {name_}));
        }
    } catch (const EABSError& e) {
        note(FormatMessage("Table '%s': record page index is damaged (%s); it is rebuilt", {name_, Describe(e)}));
    }

    std::optional<TBlobPageIndexRebuild> blobIndex;
    if (blobs_) {
        blobIndex.emplace(*blobs_, pages, session, name_, note);
        blobIndex->ReadStoredIndex();
    }

    // The table's record pages, found by their headers.
    std::vector<TABSPageNo> found;
    const std::int32_t total = pages.ReadFileInfo().TotalPageCount;
    std::uint8_t header[PageHeader::kSize];
    for (TABSPageNo p = 0; p < total; ++p) {
        if (pages.IsMapPage(p)) continue;
        try {
            pages.DirectReadPage(p, 0, header);
        } catch (const EABSError&) {
            continue;
        }
        const TABSPageHeaderFields fieldsOfHeader = DecodePageHeader(header);
        if (!fieldsOfHeader.SignatureValid || fieldsOfHeader.PageType != static_cast<std::uint16_t>(TABSPageType::TableRecord))
            continue;
        if (fieldsOfHeader.ModificationCounter < 0 || fieldsOfHeader.ModificationCounter >= 0x7FFFFFFE) continue;
        if (ReadI32(header + kRecordPageTableIdOffset) != tableId_) continue;
        // A page given back by a commit that reached the file in part may keep its old bytes; its
        // records were all deleted by that commit.
        if (!pages.IsPageInUse(p)) continue;
        found.push_back(p);
    }
    report.RecordPagesFound = found.size();
    for (const TABSPageNo p : listed) {
        if (!std::binary_search(found.begin(), found.end(), p)) {
            ++report.PagesDropped;
            note(FormatMessage("Table '%s': page %d is listed as a record page but is none; dropped from the index",
                               {name_, p}));
        }
    }

    // Check every record; drop what cannot be read.
    std::vector<std::pair<TABSPageNo, std::uint16_t>> kept;
    for (const TABSPageNo p : found) {
        std::uint16_t left = 0;
        try {
            TABSSmallRecordPage page(pages.GetPage(session, p, kAnyPageType), *geometry_);
            for (auto slot = page.NextUsedSlot(0); slot; slot = page.NextUsedSlot(*slot + 1)) {
                if (IsReadableRecord(fields_, page.Slot(*slot))) continue;
                page.DeleteRecord(*slot);
                ++report.RecordsDropped;
                note(FormatMessage("Table '%s': record on page %d, slot %d cannot be read; dropped",
                                   {name_, p, static_cast<int>(*slot)}));
            }
            left = page.UsedSlotCount();
        } catch (const EABSError& e) {
            ++report.PagesDropped;
            note(FormatMessage("Table '%s': record page %d cannot be read (%s); its records are lost",
                               {name_, p, Describe(e)}));
            continue;
        }
        if (left == 0) {
            pages.RemovePage(session, p);
        } else {
            kept.emplace_back(p, left);
        }
    }

    // The record page index from the pages that hold records.
    // A damaged tree is not walked again: its links may name pages that belong to others (even
    // the record pages just found), so its pages stay behind and a new root takes its place.
    if (indexIntact) {
        pageIndex_.Clear(session);
    } else {
        (void)pageIndex_.CreateRoot(session);
    }
    std::uint64_t actual = 0;
    for (const auto& [p, count] : kept) {
        pageIndex_.SetPageCount(session, p, count);
        actual += count;
    }
    if (static_cast<std::uint64_t>(std::max(stored.RecordCount, 0)) != actual || listedRecords != actual) {
        note(FormatMessage("Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%d, "
                           "MostUpdated.RecordCount=%d",
                           {static_cast<long long>(listedRecords), static_cast<int>(stored.RecordCount)}));
    }
    state_ = stored;
    state_.RecordCount = static_cast<std::int32_t>(actual);
    ++state_.ChangeCounter;

    // BLOB values that cannot be read make their fields null; auto-increment counters must stay
    // ahead of every value present.
    std::vector<std::uint8_t> record(fields_.MemoryRecordSize());
    std::vector<std::pair<TABSRecordID, std::int32_t>> sharedValues;  // fields naming another's value
    for (auto id = records_->FirstRecord(session); id; id = records_->NextRecord(session, *id)) {
        if (!records_->ReadRecord(session, *id, record)) continue;
        bool changed = false;
        if (blobs_) {
            for (const TABSBlobFieldInfo& info : blobs_->Fields()) {
                if (info.IsNull(record)) continue;
                try {
                    (void)blobs_->GetRaw(session, record, info.FieldNo);
                    const TABSBlobReference reference = info.Reference(record);
                    const auto use = reference.NamesValue() ? blobIndex->Add(reference) : TBlobPageIndexRebuild::Use::Own;
                    if (use == TBlobPageIndexRebuild::Use::NamedBefore) sharedValues.emplace_back(*id, info.FieldNo);
                    if (use == TBlobPageIndexRebuild::Use::GivenBack)
                        RaiseError(kBlobDamagedError, "BLOB value is damaged. PageNo=%d", {reference.PageNo});
                } catch (const EABSError& e) {
                    info.SetReference(record, TABSBlobReference{});
                    info.SetNull(record, true);
                    changed = true;
                    ++report.BlobValuesDropped;
                    note(FormatMessage("Table '%s': BLOB field '%s' of the record on page %d, slot %d cannot be read "
                                       "(%s); set to null",
                                       {name_, info.Name, id->PageNo, static_cast<int>(id->Slot), Describe(e)}));
                }
            }
            blobs_->ReleaseRecordCache(record, true);
        }
        if (changed) (void)records_->UpdateRecord(session, *id, record);
        for (std::size_t i = 0; i < fields_.Count(); ++i) {
            if (!fields_[i].IsAutoInc() || fields_.IsNull(record, i)) continue;
            const std::int64_t value = fields_.GetValue(record, i).GetAsLargeInt();
            if (value > state_.AutoincValues[i]) {
                note(FormatMessage("Table '%s': auto-increment counter of field '%s' was behind its values; set to %d",
                                   {name_, fields_[i].Name, static_cast<long long>(value)}));
                state_.AutoincValues[i] = value;
            }
        }
    }

    // The BLOB page index from the shared pages the records name; then every value named twice
    // is written anew for its second record (storing needs the rebuilt index).
    if (blobIndex) {
        blobIndex->Rebuild();
        report.BlobPagesFound = blobIndex->SharedPageCount();
        for (const auto& [id, fieldNo] : sharedValues) {
            if (!records_->ReadRecord(session, id, record)) continue;
            const TABSBlobFieldInfo& info = blobs_->Field(fieldNo);
            const TABSBlobReference named = info.Reference(record);
            info.SetReference(record, blobs_->StoreValue(session, blobs_->ReadValue(session, named)));
            (void)records_->UpdateRecord(session, id, record);
            note(FormatMessage("Table '%s': BLOB field '%s' of the record on page %d, slot %d named the value of "
                               "another record; it got a copy",
                               {name_, info.Name, id.PageNo, static_cast<int>(id.Slot)}));
        }
    }

    // Every index anew. A tree that passes the integrity check gives its pages back; a damaged one
    // is not walked again (its links may name pages that belong to others) and leaves them behind.
    TABSIndexDefs definitions = indexManager_->PersistentDefinitions();
    for (std::size_t i = 0; i < indexManager_->Count(); ++i) {
        TABSBTreeRecordIndex& index = indexManager_->At(i);
        try {
            index.CheckIntegrity(session);
            if (AllPagesInUse(index.Tree(), pages, session)) {
                index.Drop(session);
            } else {
                note(FormatMessage("Table '%s': index '%s' names pages that were given back; a new tree is built",
                                   {name_, index.Name()}));
            }
        } catch (const EABSError& e) {
            note(FormatMessage("Table '%s': index '%s' is damaged (%s); a new tree is built",
                               {name_, index.Name(), Describe(e)}));
        }
    }
    for (TABSIndexDef& def : definitions) def.RootPageNo = kNoPage;
    indexManager_->LoadDefinitions(definitions);
    indexManager_->CreatePersistentTrees(session);
    indexes_ = indexManager_->PersistentDefinitions();
    // A record that repeats a key of a unique index goes; the last of a group stays.
    for (auto id = records_->FirstRecord(session); id;) {
        const auto next = records_->NextRecord(session, *id);
        if (records_->ReadRecord(session, *id, record)) {
            try {
                indexManager_->CheckUniqueness(session, constraints_, record, &*id);
            } catch (const EABSException& e) {
                if (e.NativeError() != kPrimaryKeyViolationError && e.NativeError() != kUniqueViolationError) throw;
                indexManager_->DeleteRecord(session, record, *id);
                if (blobs_) blobs_->DeleteRecord(session, record);
                (void)records_->DeleteRecord(session, *id);
                --state_.ChangeCounter;  // DeleteRecord counted it; the repair counts once
                ++report.RecordsDropped;
                note(FormatMessage("Table '%s': record on page %d, slot %d dropped: %s",
                                   {name_, id->PageNo, static_cast<int>(id->Slot), e.Message()}));
            }
        }
        id = next;
    }
    report.RecordsKept = static_cast<std::uint64_t>(state_.RecordCount);

    StoreState(session);
    WriteDefinition(session);
    return report;
}

} // namespace kova
