#include "engine/storage/ABSConstraintDefs.h"

#include "engine/core/ABSExcept.h"

#include <random>

namespace kova {

namespace {

int RandomSuffix() {
    static thread_local std::mt19937 random{std::random_device{}()};
    return std::uniform_int_distribution<int>(0, 65534)(random);
}

} // namespace

void RequireSupportedConstraintKind(int kind) {
    if (kind == 1 || kind < 0 || kind > 4) RaiseError(kUnsupportedConstraintKindError, "Not implemented yet");
}

TABSConstraintDefs::TABSConstraintDefs(const TABSConstraintDefs& other) {
    defs_.reserve(other.defs_.size());
    for (const auto& d : other.defs_) defs_.push_back(d->Clone());
}

TABSConstraintDefs& TABSConstraintDefs::operator=(const TABSConstraintDefs& other) {
    if (this != &other) {
        TABSConstraintDefs copy(other);
        defs_ = std::move(copy.defs_);
    }
    return *this;
}

TABSConstraintDef& TABSConstraintDefs::Add(std::unique_ptr<TABSConstraintDef> def, std::string_view tableName) {
    RequireSupportedConstraintKind(static_cast<int>(def->Kind()));
    def->SetTableName(std::string(tableName));
    if (def->Name.empty()) {
        const bool notNull = def->Kind() == TABSConstraintKind::NotNull;
        if (!notNull && def->Kind() != TABSConstraintKind::Check) {
            RaiseError(kUnnamedConstraintError, "Not implemented yet");
        }
        const std::string base =
            std::string("$") + (notNull ? "C_NotNull" : "C_Check") + "$" + std::string(tableName) + "$" +
            def->TargetName();
        std::string name = base;
        while (Find(name) != nullptr) name = base + std::to_string(RandomSuffix());
        def->Name = std::move(name);
    }
    defs_.push_back(std::move(def));
    return *defs_.back();
}

TABSConstraintDef& TABSConstraintDefs::AddLoaded(std::unique_ptr<TABSConstraintDef> def) {
    defs_.push_back(std::move(def));
    return *defs_.back();
}

const TABSConstraintDef* TABSConstraintDefs::Find(std::string_view name) const noexcept {
    for (const auto& d : defs_) {
        if (SameObjectName(d->Name, name)) return d.get();
    }
    return nullptr;
}

const TABSConstraintDefUnique* TABSConstraintDefs::FindByIndexName(std::string_view indexName) const noexcept {
    for (const auto& d : defs_) {
        if (d->Kind() != TABSConstraintKind::PrimaryKey && d->Kind() != TABSConstraintKind::Unique) continue;
        const auto& unique = static_cast<const TABSConstraintDefUnique&>(*d);
        if (SameObjectName(unique.IndexName(), indexName)) return &unique;
    }
    return nullptr;
}

void TABSConstraintDefs::RemoveByIndexName(std::string_view indexName) {
    std::erase_if(defs_, [&](const std::unique_ptr<TABSConstraintDef>& d) {
        const TABSConstraintKind kind = d->Kind();
        return (kind == TABSConstraintKind::PrimaryKey || kind == TABSConstraintKind::Unique) &&
               SameObjectName(d->TargetName(), indexName);
    });
}

void TABSConstraintDefs::RenameTable(const std::string& newName) {
    for (auto& d : defs_) d->SetTableName(newName);
}

void TABSConstraintDefs::RenameField(std::string_view oldName, const std::string& newName) {
    for (auto& d : defs_) {
        const TABSConstraintKind kind = d->Kind();
        if (kind == TABSConstraintKind::NotNull || kind == TABSConstraintKind::Check) {
            if (SameObjectName(d->Refs[2].Name, oldName)) d->Refs[2].Name = newName;
        } else {
            for (TABSConstraintRef& c : static_cast<TABSConstraintDefUnique&>(*d).Columns) {
                if (SameObjectName(c.Name, oldName)) c.Name = newName;
            }
        }
    }
}

} // namespace kova
