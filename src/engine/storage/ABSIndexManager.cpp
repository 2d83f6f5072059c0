#include "engine/storage/ABSIndexManager.h"

#include "engine/core/ABSExcept.h"

#include <algorithm>
#include <random>

namespace kova {

namespace {

std::uint32_t DefaultRandom() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine();
}

} // namespace

TABSBaseIndexManager::TABSBaseIndexManager(TABSPageManager& pages, const TABSFieldDefs& fields,
                                           TABSIndexRecordSource& records)
    : pages_(&pages), fields_(&fields), records_(&records), random_(DefaultRandom) {}

TABSBaseIndexManager::~TABSBaseIndexManager() {
    // Temporary pages belong to this table alone; give them back while the manager still exists.
    try {
        DropTemporaryIndexes();
    } catch (...) {
        // The temporary page manager may already be gone with a failed table; nothing to keep.
    }
}

std::unique_ptr<TABSBTreeRecordIndex> TABSBaseIndexManager::MakeIndex(TABSIndexDef definition,
                                                                      TABSPageManager& pages) {
    std::vector<TABSKeyColumnLayout> layout = BuildKeyLayout(definition, *fields_);
    return std::make_unique<TABSBTreeRecordIndex>(std::move(definition), std::move(layout), pages, *records_);
}

void TABSBaseIndexManager::LoadDefinitions(const TABSIndexDefs& definitions) {
    std::vector<std::unique_ptr<TABSBTreeRecordIndex>> loaded;
    for (const TABSIndexDef& definition : definitions) {
        if (definition.Temporary)
            continue;
        loaded.push_back(MakeIndex(definition, *pages_));
    }
    DropTemporaryIndexes();
    indexes_ = std::move(loaded);
}

TABSIndexDefs TABSBaseIndexManager::PersistentDefinitions() const {
    TABSIndexDefs definitions;
    for (const auto& index : indexes_) {
        if (index->IsTemporary())
            continue;
        TABSIndexDef definition = index->Definition();
        definition.RootPageNo = index->RootPageNo();
        definitions.Add(std::move(definition));
    }
    return definitions;
}

void TABSBaseIndexManager::CreatePersistentTrees(TABSSessionID session) {
    for (const auto& index : indexes_)
        if (!index->IsTemporary() && index->RootPageNo() == kNoPage)
            index->Create(session);
}

TABSBTreeRecordIndex& TABSBaseIndexManager::AddIndex(TABSSessionID session, TABSIndexDef definition) {
    if (FindIndex(definition.Name) != nullptr)
        RaiseError(kIndexNameTakenError, "Index '%s' already exists", {definition.Name});
    definition.Temporary = false;
    definition.RootPageNo = kNoPage;
    std::unique_ptr<TABSBTreeRecordIndex> index = MakeIndex(std::move(definition), *pages_);
    index->Create(session);
    indexes_.push_back(std::move(index));
    return *indexes_.back();
}

void TABSBaseIndexManager::DropIndex(TABSSessionID session, std::string_view name) {
    auto it = std::find_if(indexes_.begin(), indexes_.end(),
                           [&](const auto& index) { return SameObjectName(index->Name(), name); });
    if (it == indexes_.end())
        RaiseError(kIndexByNameNotFoundError, "Index not found");
    if ((*it)->IsTemporary())
        DropTemporary(**it);
    else
        (*it)->Drop(session);
    indexes_.erase(it);
}

TABSBTreeRecordIndex& TABSBaseIndexManager::MakeTemporaryIndex(TABSSessionID session,
                                                               std::vector<TABSIndexColumn> columns,
                                                               std::int32_t changeCounter) {
    if (temporaryPages_ == nullptr)
        RaiseError(kIndexPointerNilError, "Pointer is nil");
    std::string name;
    do {
        name = std::string(kTemporaryIndexPrefix) + std::to_string(random_() % 1000000);
    } while (FindIndex(name) != nullptr);

    TABSIndexDef definition(name, nextTemporaryId_, std::move(columns));
    definition.Temporary = true;
    definition.CreatorSession = session;
    definition.ChangeCounterAtCreation = changeCounter;
    std::unique_ptr<TABSBTreeRecordIndex> index = MakeIndex(std::move(definition), *temporaryPages_);
    try {
        index->Create(session);
        // The pages are the table's own scratch: they do not wait for the session's commit.
        temporaryPages_->CommitSession(session);
    } catch (...) {
        temporaryPages_->RollbackSession(session);
        throw;
    }
    --nextTemporaryId_;
    indexes_.push_back(std::move(index));
    return *indexes_.back();
}

TABSBTreeRecordIndex* TABSBaseIndexManager::FindTemporaryIndex(TABSSessionID session,
                                                               const std::vector<TABSIndexColumn>& columns,
                                                               std::int32_t changeCounter) noexcept {
    for (const auto& index : indexes_) {
        const TABSIndexDef& d = index->Definition();
        if (!d.Temporary || d.CreatorSession != session || d.ChangeCounterAtCreation != changeCounter ||
            d.Columns.size() != columns.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < columns.size() && same; ++i) {
            const TABSIndexColumn& a = d.Columns[i];
            const TABSIndexColumn& b = columns[i];
            same = SameObjectName(a.FieldName, b.FieldName) && a.Descending == b.Descending &&
                   a.CaseInsensitive == b.CaseInsensitive && a.Parameter == b.Parameter;
        }
        if (same)
            return index.get();
    }
    return nullptr;
}

void TABSBaseIndexManager::DropTemporary(TABSBTreeRecordIndex& index) {
    const TABSSessionID session = index.Definition().CreatorSession;
    index.Drop(session);
    index.Pages().CommitSession(session);
}

void TABSBaseIndexManager::DropTemporaryIndexes() { DropTemporaryWhere([](const TABSIndexDef&) { return true; }); }

void TABSBaseIndexManager::DropOutdatedTemporaryIndexes(std::int32_t changeCounter) {
    DropTemporaryWhere([&](const TABSIndexDef& d) { return d.ChangeCounterAtCreation != changeCounter; });
}

void TABSBaseIndexManager::DropTemporaryWhere(const std::function<bool(const TABSIndexDef&)>& outdated) {
    for (auto it = indexes_.begin(); it != indexes_.end();) {
        const TABSIndexDef& d = (*it)->Definition();
        if (d.Temporary && outdated(d)) {
            DropTemporary(**it);
            it = indexes_.erase(it);
        } else {
            ++it;
        }
    }
}

TABSBTreeRecordIndex* TABSBaseIndexManager::FindIndex(std::string_view name) noexcept {
    for (const auto& index : indexes_)
        if (SameObjectName(index->Name(), name))
            return index.get();
    return nullptr;
}

TABSBTreeRecordIndex* TABSBaseIndexManager::FindIndexByID(std::int32_t objectId) noexcept {
    for (const auto& index : indexes_)
        if (index->ObjectID() == objectId)
            return index.get();
    return nullptr;
}

TABSBTreeRecordIndex& TABSBaseIndexManager::IndexByID(std::int32_t objectId) {
    TABSBTreeRecordIndex* index = FindIndexByID(objectId);
    if (index == nullptr)
        RaiseError(kIndexByIdNotFoundError, "Cannot find index by ID = %d", {objectId});
    return *index;
}

TABSBTreeRecordIndex& TABSBaseIndexManager::IndexByName(std::string_view name) {
    TABSBTreeRecordIndex* index = FindIndex(name);
    if (index == nullptr)
        RaiseError(kIndexByNameNotFoundError, "Index not found");
    return *index;
}

void TABSBaseIndexManager::CheckUniqueness(TABSSessionID session, const TABSConstraintDefs& constraints,
                                           std::span<const std::uint8_t> record, const TABSRecordID* self) {
    std::vector<const TABSBTreeRecordIndex*> checked;
    for (std::size_t i = 0; i < constraints.Count(); ++i) {
        const auto* unique = dynamic_cast<const TABSConstraintDefUnique*>(&constraints[i]);
        if (unique == nullptr)
            continue;
        TABSBTreeRecordIndex& index = IndexByName(unique->IndexName());
        checked.push_back(&index);
        if (!index.KeyExists(session, record, self))
            continue;
        if (unique->Kind() == TABSConstraintKind::PrimaryKey)
            RaiseError(kPrimaryKeyViolationError, "Primary Key constraint '%s' violated. Duplicate found.",
                       {unique->Name});
        RaiseError(kUniqueViolationError, "Constraint unique '%s' violated. Duplicate found.", {unique->Name});
    }
    for (const auto& index : indexes_) {
        const TABSIndexDef& d = index->Definition();
        if (d.Temporary || !(d.Unique || d.Primary) ||
            std::find(checked.begin(), checked.end(), index.get()) != checked.end())
            continue;
        if (!index->KeyExists(session, record, self))
            continue;
        if (d.Primary)
            RaiseError(kPrimaryKeyViolationError, "Primary Key constraint '%s' violated. Duplicate found.", {d.Name});
        RaiseError(kUniqueViolationError, "Constraint unique '%s' violated. Duplicate found.", {d.Name});
    }
}

void TABSBaseIndexManager::InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                        const TABSRecordID& id) {
    DropTemporaryIndexes();
    for (const auto& index : indexes_)
        index->InsertRecord(session, record, id);
}

void TABSBaseIndexManager::UpdateRecord(TABSSessionID session, std::span<const std::uint8_t> oldRecord,
                                        std::span<const std::uint8_t> newRecord, const TABSRecordID& id) {
    DropTemporaryIndexes();
    for (const auto& index : indexes_)
        (void)index->UpdateRecord(session, oldRecord, newRecord, id);
}

void TABSBaseIndexManager::DeleteRecord(TABSSessionID session, std::span<const std::uint8_t> record,
                                        const TABSRecordID& id) {
    DropTemporaryIndexes();
    for (const auto& index : indexes_)
        index->DeleteRecord(session, record, id);
}

void TABSBaseIndexManager::EmptyAll(TABSSessionID session) {
    DropTemporaryIndexes();
    for (const auto& index : indexes_)
        if (index->RootPageNo() != kNoPage)
            index->Empty(session);
}

void TABSBaseIndexManager::DropAll(TABSSessionID session) {
    DropTemporaryIndexes();
    for (const auto& index : indexes_)
        index->Drop(session);
}

void TABSBaseIndexManager::CheckIntegrity(TABSSessionID session) {
    for (const auto& index : indexes_)
        if (index->RootPageNo() != kNoPage)
            index->CheckIntegrity(session);
}

} // namespace kova
