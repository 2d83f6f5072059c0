// Constraint definitions of a table: primary key (kind 0), unique (2), not null (3) and check (4).
//
// Each constraint carries three (id, name) pairs. The first is unused (id 0, empty name; a file
// from another writer may hold other values there, which are kept but never read), the second
// names the table (its id is not used), the third names the constrained field (not null, check)
// or the index that enforces the constraint (primary key, unique). Primary key and unique
// constraints also list their columns as (id, name) pairs; a check constraint stores a lower and
// an upper bound (a null value means no bound).
//
// Stored form (after the uint8 kind):
//   not null / check: name, int32 object id, 3 × int32 id, 3 × {uint8 n = length + 1, n bytes:
//                     the length byte and the characters}; check: + lower value + upper value
//   primary / unique: name, int32 object id, 3 × int32 id, 3 × {int32 n = length + 1, n bytes},
//                     int32 column count, per column {int32 id, int32 n, n bytes}
#pragma once

#include "engine/storage/ABSFieldDefs.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

inline constexpr int kUnknownConstraintTypeError = 30316;      // "Unknown Constraint Type: '%d'"
inline constexpr int kUnnamedConstraintError = 30038;          // "Not implemented yet"
inline constexpr int kUnsupportedConstraintKindError = 30040;  // "Not implemented yet"
inline constexpr int kPrimaryKeyViolationError = 30319;
inline constexpr int kUniqueViolationError = 30320;
inline constexpr int kNotNullOnInsertViolationError = 30330;
inline constexpr int kNotNullOnUpdateViolationError = 30026;
inline constexpr int kCheckViolationError = 30029;

enum class TABSConstraintKind : std::uint8_t {
    PrimaryKey = 0,
    Unique = 2,
    NotNull = 3,
    Check = 4,
};

// One (id, name) pair of a constraint.
struct TABSConstraintRef {
    std::int32_t ID = 0;
    std::string Name;  // UTF-8
    friend bool operator==(const TABSConstraintRef&, const TABSConstraintRef&) = default;
};

class TABSConstraintDef : public TABSMetaObjectDef {
public:
    [[nodiscard]] virtual TABSConstraintKind Kind() const noexcept = 0;
    [[nodiscard]] virtual std::unique_ptr<TABSConstraintDef> Clone() const = 0;

    // The three pairs: [0] unused, [1] table, [2] field (not null, check) or index (primary, unique).
    std::array<TABSConstraintRef, 3> Refs;

    [[nodiscard]] const std::string& TableName() const noexcept { return Refs[1].Name; }
    [[nodiscard]] const std::string& TargetName() const noexcept { return Refs[2].Name; }
    void SetTableName(std::string name) { Refs[1].Name = std::move(name); }
};

// Unique: the third pair names the enforcing index; Columns lists the columns.
class TABSConstraintDefUnique : public TABSConstraintDef {
public:
    [[nodiscard]] TABSConstraintKind Kind() const noexcept override { return TABSConstraintKind::Unique; }
    [[nodiscard]] std::unique_ptr<TABSConstraintDef> Clone() const override {
        return std::make_unique<TABSConstraintDefUnique>(*this);
    }
    [[nodiscard]] const std::string& IndexName() const noexcept { return Refs[2].Name; }
    void SetIndexName(std::string name) { Refs[2].Name = std::move(name); }

    std::vector<TABSConstraintRef> Columns;
};

class TABSConstraintDefPrimary final : public TABSConstraintDefUnique {
public:
    [[nodiscard]] TABSConstraintKind Kind() const noexcept override { return TABSConstraintKind::PrimaryKey; }
    [[nodiscard]] std::unique_ptr<TABSConstraintDef> Clone() const override {
        return std::make_unique<TABSConstraintDefPrimary>(*this);
    }
};

class TABSConstraintDefNotNull : public TABSConstraintDef {
public:
    [[nodiscard]] TABSConstraintKind Kind() const noexcept override { return TABSConstraintKind::NotNull; }
    [[nodiscard]] std::unique_ptr<TABSConstraintDef> Clone() const override {
        return std::make_unique<TABSConstraintDefNotNull>(*this);
    }
    [[nodiscard]] const std::string& FieldName() const noexcept { return Refs[2].Name; }
    void SetFieldName(std::string name) { Refs[2].Name = std::move(name); }
};

// Check: the field's value must lie within [MinValue, MaxValue]; a null bound does not limit.
class TABSConstraintDefCheck final : public TABSConstraintDefNotNull {
public:
    [[nodiscard]] TABSConstraintKind Kind() const noexcept override { return TABSConstraintKind::Check; }
    [[nodiscard]] std::unique_ptr<TABSConstraintDef> Clone() const override {
        return std::make_unique<TABSConstraintDefCheck>(*this);
    }
    TABSVariant MinValue;
    TABSVariant MaxValue;
};

// The constraints of a table; owns them. Copying clones.
class TABSConstraintDefs {
public:
    TABSConstraintDefs() = default;
    TABSConstraintDefs(const TABSConstraintDefs& other);
    TABSConstraintDefs& operator=(const TABSConstraintDefs& other);
    TABSConstraintDefs(TABSConstraintDefs&&) noexcept = default;
    TABSConstraintDefs& operator=(TABSConstraintDefs&&) noexcept = default;

    // Adds a constraint of a table named `tableName` (stored in its second pair). A not-null or
    // check constraint without a name is named "$C_NotNull$<table>$<field>" ("$C_Check$…"), with a
    // random number 0 … 65534 appended while the name is taken; any other unnamed constraint fails
    // with 30038 "Not implemented yet".
    TABSConstraintDef& Add(std::unique_ptr<TABSConstraintDef> def, std::string_view tableName);
    // Adds a constraint as read from a file (no naming, no checks).
    TABSConstraintDef& AddLoaded(std::unique_ptr<TABSConstraintDef> def);
    void Clear() noexcept { defs_.clear(); }

    [[nodiscard]] std::size_t Count() const noexcept { return defs_.size(); }
    [[nodiscard]] const TABSConstraintDef& operator[](std::size_t i) const noexcept { return *defs_[i]; }
    [[nodiscard]] TABSConstraintDef& operator[](std::size_t i) noexcept { return *defs_[i]; }
    [[nodiscard]] const TABSConstraintDef* Find(std::string_view name) const noexcept;

    // The unique or primary constraint enforced by an index; nullptr when none.
    [[nodiscard]] const TABSConstraintDefUnique* FindByIndexName(std::string_view indexName) const noexcept;

    // Follows renames: the table name in every second pair, a field name in the third pair of
    // not-null and check constraints and in the column lists.
    void RenameTable(const std::string& newName);
    // Removes the primary key or unique constraint enforced by the index (an index was dropped).
    void RemoveByIndexName(std::string_view indexName);
    void RenameField(std::string_view oldName, const std::string& newName);

private:
    std::vector<std::unique_ptr<TABSConstraintDef>> defs_;
};

// Validates a constraint kind given to a table: kinds 0, 2, 3, 4; kind 1 or above 4 fails with
// 30040 "Not implemented yet".
void RequireSupportedConstraintKind(int kind);

} // namespace kova
