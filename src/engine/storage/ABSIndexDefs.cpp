#include "engine/storage/ABSIndexDefs.h"

#include <algorithm>

namespace kova {

TABSIndexDef& TABSIndexDefs::Add(TABSIndexDef def) {
    defs_.push_back(std::move(def));
    return defs_.back();
}

bool TABSIndexDefs::Remove(std::string_view name) {
    const auto it = std::find_if(defs_.begin(), defs_.end(),
                                 [&](const TABSIndexDef& d) { return SameObjectName(d.Name, name); });
    if (it == defs_.end()) return false;
    defs_.erase(it);
    return true;
}

const TABSIndexDef* TABSIndexDefs::Find(std::string_view name) const noexcept {
    for (const TABSIndexDef& d : defs_) {
        if (SameObjectName(d.Name, name)) return &d;
    }
    return nullptr;
}

TABSIndexDef* TABSIndexDefs::Find(std::string_view name) noexcept {
    for (TABSIndexDef& d : defs_) {
        if (SameObjectName(d.Name, name)) return &d;
    }
    return nullptr;
}

const TABSIndexDef* TABSIndexDefs::FindByID(std::int32_t objectId) const noexcept {
    for (const TABSIndexDef& d : defs_) {
        if (d.ObjectID == objectId) return &d;
    }
    return nullptr;
}

std::size_t TABSIndexDefs::PersistentCount() const noexcept {
    return static_cast<std::size_t>(
        std::count_if(defs_.begin(), defs_.end(), [](const TABSIndexDef& d) { return !d.Temporary; }));
}

void TABSIndexDefs::RenameField(std::string_view oldName, const std::string& newName) {
    for (TABSIndexDef& d : defs_) {
        for (TABSIndexColumn& c : d.Columns) {
            if (SameObjectName(c.FieldName, oldName)) c.FieldName = newName;
        }
    }
}

} // namespace kova
