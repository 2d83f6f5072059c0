#include "engine/storage/ABSBTreeRecordIndex.h"

#include "engine/core/ABSExcept.h"

namespace kova {

namespace {

std::vector<std::uint8_t> EncodeID(const TABSRecordID& id) {
    std::vector<std::uint8_t> bytes(TABSRecordID::kEncodedSize);
    id.Encode(bytes);
    return bytes;
}

// Holds an overlay for the duration of one operation.
class OverlayScope {
public:
    OverlayScope(TABSRecordID& id, std::span<const std::uint8_t>& record, const TABSRecordID& newId,
                 std::span<const std::uint8_t> newRecord) noexcept
        : id_(id), record_(record) {
        id_ = newId;
        record_ = newRecord;
    }
    ~OverlayScope() {
        id_ = TABSRecordID{};
        record_ = {};
    }
    OverlayScope(const OverlayScope&) = delete;
    OverlayScope& operator=(const OverlayScope&) = delete;

private:
    TABSRecordID& id_;
    std::span<const std::uint8_t>& record_;
};

} // namespace

TABSBTreeRecordIndex::TABSBTreeRecordIndex(TABSIndexDef definition, std::vector<TABSKeyColumnLayout> layout,
                                           TABSPageManager& pages, TABSIndexRecordSource& records)
    : TABSIndex(std::move(definition)), records_(&records), keyRef_(std::move(layout)),
      tree_(pages, keyRef_, definition_.RootPageNo) {
    keyRef_.SetRecordFetcher([this](const TABSRecordID& id, std::vector<std::uint8_t>& record) {
        if (overlayId_.IsValid() && id == overlayId_) {
            record.assign(overlayRecord_.begin(), overlayRecord_.end());
            return true;
        }
        return records_->ReadRecord(session_, id, record);
    });
}

void TABSBTreeRecordIndex::Prepare(TABSSessionID session) { session_ = session; }

void TABSBTreeRecordIndex::Create(TABSSessionID session) {
    Prepare(session);
    definition_.RootPageNo = tree_.CreateRoot(session);
    records_->ForEachRecord(session, [&](const TABSRecordID& id, std::span<const std::uint8_t> record) {
        InsertRecord(session, record, id);
    });
}

void TABSBTreeRecordIndex::Drop(TABSSessionID session) {
    tree_.Drop(session);
    definition_.RootPageNo = kNoPage;
}

void TABSBTreeRecordIndex::Empty(TABSSessionID session) { tree_.Clear(session); }

void TABSBTreeRecordIndex::InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                        const TABSRecordID& id) {
    Prepare(session);
    OverlayScope overlay(overlayId_, overlayRecord_, id, record);
    const TABSBTreeSearchKey position = keyRef_.RecordSearchKey(record, &id);
    tree_.Insert(session, position, keyRef_.StoredKey(record), EncodeID(id));
}

void TABSBTreeRecordIndex::DeleteEntry(TABSSessionID session, std::span<const std::uint8_t> record,
                                       const TABSRecordID& id) {
    if (!tree_.Delete(session, keyRef_.RecordSearchKey(record, &id)))
        RaiseError(kIndexEntryNotFoundError, "Index error: cannot delete entry. Entry not found");
}

void TABSBTreeRecordIndex::DeleteRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                        const TABSRecordID& id) {
    Prepare(session);
    OverlayScope overlay(overlayId_, overlayRecord_, id, record);
    DeleteEntry(session, record, id);
}

bool TABSBTreeRecordIndex::UpdateRecord(TABSSessionID session, std::span<const std::uint8_t> oldRecord,
                                        std::span<const std::uint8_t> newRecord, const TABSRecordID& id) {
    Prepare(session);
    if (keyRef_.CompareFullKeys(keyRef_.FullKey(oldRecord), keyRef_.FullKey(newRecord)) == 0)
        return false;
    {
        // The old entry is compared with what the record was, whatever its page holds now.
        OverlayScope overlay(overlayId_, overlayRecord_, id, oldRecord);
        DeleteEntry(session, oldRecord, id);
    }
    InsertRecord(session, newRecord, id);
    return true;
}

bool TABSBTreeRecordIndex::First(TABSSessionID session, TABSKeyPath& path) {
    Prepare(session);
    return tree_.First(session, path);
}

bool TABSBTreeRecordIndex::Last(TABSSessionID session, TABSKeyPath& path) {
    Prepare(session);
    return tree_.Last(session, path);
}

bool TABSBTreeRecordIndex::Next(TABSSessionID session, TABSKeyPath& path) {
    Prepare(session);
    return tree_.Next(session, path);
}

bool TABSBTreeRecordIndex::Prior(TABSSessionID session, TABSKeyPath& path) {
    Prepare(session);
    return tree_.Prior(session, path);
}

bool TABSBTreeRecordIndex::Step(TABSSessionID session, TABSKeyPath& path, TABSGetRecordMode mode) {
    switch (mode) {
    case TABSGetRecordMode::grmNext:
        return Next(session, path);
    case TABSGetRecordMode::grmPrior:
        return Prior(session, path);
    case TABSGetRecordMode::grmCurrent:
        break;
    }
    RaiseError(kInvalidGetRecordModeError, "Invalid get record mode for index: grmCurrent");
}

TABSRecordID TABSBTreeRecordIndex::RecordAt(TABSSessionID session, const TABSKeyPath& path) {
    return TABSRecordID::Decode(tree_.ValueAt(session, path));
}

bool TABSBTreeRecordIndex::FindKey(TABSSessionID session, const TABSBTreeSearchKey& key, TABSFindMode mode,
                                   TABSKeyPath& path) {
    Prepare(session);
    return tree_.Find(session, key, mode, path);
}

bool TABSBTreeRecordIndex::FindRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                      const TABSRecordID& id, TABSKeyPath& path) {
    Prepare(session);
    OverlayScope overlay(overlayId_, overlayRecord_, id, record);
    return tree_.Find(session, keyRef_.RecordSearchKey(record, &id), TABSFindMode::FirstEqual, path);
}

std::uint64_t TABSBTreeRecordIndex::PositionOfRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                                     const TABSRecordID& id) {
    TABSKeyPath path;
    if (!FindRecord(session, record, id, path))
        RaiseError(kRecordPositionNotFoundError, "Cannot find record position in index %d, RecordID = %d %d",
                   {ObjectID(), id.PageNo, static_cast<int>(id.Slot)});
    return tree_.PositionOf(session, path);
}

TABSRecordID TABSBTreeRecordIndex::RecordAtPosition(TABSSessionID session, std::uint64_t position) {
    Prepare(session);
    return RecordAt(session, tree_.PathAtPosition(session, position));
}

std::uint64_t TABSBTreeRecordIndex::EntryCount(TABSSessionID session) { return tree_.EntryCount(session); }

bool TABSBTreeRecordIndex::KeyExists(TABSSessionID session, std::span<const std::uint8_t> record,
                                     const TABSRecordID* exclude) {
    Prepare(session);
    const TABSBTreeSearchKey key = keyRef_.RecordSearchKey(record, nullptr);
    TABSKeyPath path;
    if (!tree_.Find(session, key, TABSFindMode::FirstEqual, path))
        return false;
    // Equal keys lie together in identifier order; only the record itself may be among them.
    for (;;) {
        if (exclude == nullptr || RecordAt(session, path) != *exclude)
            return true;
        if (!tree_.Next(session, path))
            return false;
        const std::vector<std::uint8_t> stored = tree_.KeyAt(session, path);
        const std::vector<std::uint8_t> id = tree_.ValueAt(session, path);
        TABSFixedEntryValue value(id);
        if (keyRef_.CompareSearch(key, stored, value) != 0)
            return false;
    }
}

void TABSBTreeRecordIndex::CheckIntegrity(TABSSessionID session) {
    Prepare(session);
    tree_.CheckIntegrity(session);
}

} // namespace kova
