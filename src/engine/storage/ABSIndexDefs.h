// Index definitions of a table: what the definition file stores about each persistent index and
// what the index manager needs in memory (temporary indexes are never stored).
//
// Stored per index (after a name and the object id): uint8 kind (0), uint8 unique (0 / 0xFF),
// uint8 primary (0 / 0xFF), int32 column count, int32 root page of the index tree (-1: none),
// then per column: field name, uint8 descending, uint8 case-insensitive (0 / 0xFF each),
// int32 column parameter (20 for columns made by SQL: keys keep 20 bytes of longer fields).
#pragma once

#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSPage.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

inline constexpr std::int32_t kDefaultIndexColumnParameter = 20;

struct TABSIndexColumn {
    std::string FieldName;  // UTF-8
    bool Descending = false;
    bool CaseInsensitive = false;
    std::int32_t Parameter = kDefaultIndexColumnParameter;

    friend bool operator==(const TABSIndexColumn&, const TABSIndexColumn&) = default;
};

class TABSIndexDef : public TABSMetaObjectDef {
public:
    TABSIndexDef() = default;
    TABSIndexDef(std::string name, std::int32_t objectId, std::vector<TABSIndexColumn> columns, bool unique = false,
                 bool primary = false)
        : TABSMetaObjectDef(std::move(name), objectId), Unique(unique || primary), Primary(primary),
          Columns(std::move(columns)) {}

    std::uint8_t Kind = 0;
    bool Unique = false;
    bool Primary = false;
    std::vector<TABSIndexColumn> Columns;
    TABSPageNo RootPageNo = kNoPage;

    // In memory only: a temporary index, the session that made it and the table's change counter
    // at that time.
    bool Temporary = false;
    TABSSessionID CreatorSession = kInvalidSessionID;
    std::int32_t ChangeCounterAtCreation = 0;
};

class TABSIndexDefs {
public:
    TABSIndexDef& Add(TABSIndexDef def);
    void Clear() noexcept { defs_.clear(); }
    // Removes the index of that name; false when there is none.
    bool Remove(std::string_view name);

    [[nodiscard]] std::size_t Count() const noexcept { return defs_.size(); }
    [[nodiscard]] bool Empty() const noexcept { return defs_.empty(); }
    [[nodiscard]] const TABSIndexDef& operator[](std::size_t i) const noexcept { return defs_[i]; }
    [[nodiscard]] TABSIndexDef& operator[](std::size_t i) noexcept { return defs_[i]; }
    [[nodiscard]] auto begin() const noexcept { return defs_.begin(); }
    [[nodiscard]] auto end() const noexcept { return defs_.end(); }
    [[nodiscard]] auto begin() noexcept { return defs_.begin(); }
    [[nodiscard]] auto end() noexcept { return defs_.end(); }

    // Lookups: names without regard to case; nullptr when missing.
    [[nodiscard]] const TABSIndexDef* Find(std::string_view name) const noexcept;
    [[nodiscard]] TABSIndexDef* Find(std::string_view name) noexcept;
    [[nodiscard]] const TABSIndexDef* FindByID(std::int32_t objectId) const noexcept;
    // The persistent indexes (what the definition file stores).
    [[nodiscard]] std::size_t PersistentCount() const noexcept;

    // Renames an index column's field in every index (a field was renamed).
    void RenameField(std::string_view oldName, const std::string& newName);

private:
    std::vector<TABSIndexDef> defs_;
};

} // namespace kova
