// A small in-memory table for the table cursor and copy tests: a fresh table of the MEMORY
// database per fixture, with helpers to fill it and to read a cursor's rows back.
#pragma once

#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/sql/ABSTableCursor.h"
#include "engine/storage/ABSPseudoDatabases.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace kova::tabletest {

inline TABSExecutionContext MemoryContext() {
    TABSExecutionContext context;
    context.Data = &MemoryDatabase();
    context.DatabaseName = kMemoryDatabaseName;
    context.DatabaseFileName = kMemoryDatabaseName;
    context.SessionID = 0;
    context.InMemory = true;
    return context;
}

inline TABSVariant Int(std::int32_t v) {
    TABSVariant value;
    value.SetAsInteger(v);
    return value;
}
inline TABSVariant Text(std::string_view text) {
    TABSVariant value;
    value.SetAsString(text);
    return value;
}
inline TABSVariant Real(double v) {
    TABSVariant value;
    value.SetAsDouble(v);
    return value;
}

// Owns MEMORY tables made under fresh names and drops them at the end.
class MemoryTables {
public:
    MemoryTables() : context_(MemoryContext()), access_(context_) {}
    ~MemoryTables() {
        for (const auto& name : names_) {
            try {
                MemoryDatabase().DropTable(name, true);
            } catch (...) {
            }
        }
    }
    MemoryTables(const MemoryTables&) = delete;
    MemoryTables& operator=(const MemoryTables&) = delete;

    [[nodiscard]] const TABSTableAccess& Access() const noexcept { return access_; }
    [[nodiscard]] const TABSExecutionContext& Context() const noexcept { return context_; }

    // A name no other test uses; the table is dropped with this object.
    [[nodiscard]] TABSTableName NewName(const std::string& stem) {
        static std::atomic<int> counter{0};
        TABSTableName name;
        name.name = stem + "_" + std::to_string(++counter);
        names_.push_back(name.name);
        return name;
    }

    TABSTableName Create(const std::string& stem, TABSTableDefinition definition) {
        TABSTableName name = NewName(stem);
        access_.CreateTable(name, std::move(definition));
        return name;
    }

    [[nodiscard]] std::unique_ptr<TABSTableCursor> Open(const TABSTableName& name, bool live = true) {
        return std::make_unique<TABSTableCursor>(access_.OpenTable(name), live);
    }

private:
    TABSExecutionContext context_;
    TABSTableAccess access_;
    std::vector<std::string> names_;
};

// Appends one row; `values` go to the columns in order (a null variant leaves the field null).
inline void AppendRow(TABSTableCursor& cursor, const std::vector<TABSVariant>& values) {
    cursor.Append();
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!values[i].IsNull()) cursor.SetValue(i, values[i]);
    cursor.Post();
}

// The text of one column of every row, from the first in the cursor's order.
inline std::vector<std::string> ColumnTexts(TABSLocalCursor& cursor, std::size_t column) {
    std::vector<std::string> texts;
    TABSVariant value;
    for (bool on = cursor.First(); on; on = cursor.Next()) {
        cursor.GetValue(column, value);
        texts.push_back(value.IsNull() ? "<null>" : value.GetAsString());
    }
    return texts;
}

inline std::string CurrentText(TABSLocalCursor& cursor, std::size_t column) {
    TABSVariant value;
    cursor.GetValue(column, value);
    return value.IsNull() ? "<null>" : value.GetAsString();
}

// Sets the collation locale for one test and restores the previous one.
class CollationScope {
public:
    explicit CollationScope(std::string_view locale) : previous_(CollationLocale()) { SetCollationLocale(locale); }
    ~CollationScope() { SetCollationLocale(previous_); }
    CollationScope(const CollationScope&) = delete;
    CollationScope& operator=(const CollationScope&) = delete;

private:
    std::string previous_;
};

} // namespace kova::tabletest
