// Helpers for the table tests: a database with its table catalogue, field definitions in one
// line, and reading and writing record values by field name.
#pragma once

#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"
#include "internal_test_support.h"
#include "../forwarding_file_system.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kova::testing {

inline TABSFieldDef Field(const std::string& name, TABSColumnType type, std::int32_t size = 0) {
    return TABSFieldDef(name, type, size);
}

inline TABSIndexDef Index(const std::string& name, std::vector<std::string> columns, bool unique = false,
                          bool primary = false) {
    std::vector<TABSIndexColumn> cols;
    for (auto& c : columns) cols.push_back(TABSIndexColumn{c});
    return TABSIndexDef(name, 0, std::move(cols), unique, primary);
}

inline TABSTableDefinition Definition(std::vector<TABSFieldDef> fields, std::vector<TABSIndexDef> indexes = {}) {
    TABSTableDefinition def;
    for (auto& f : fields) def.Fields.Add(std::move(f));
    for (auto& i : indexes) def.Indexes.Add(std::move(i));
    return def;
}

// An open database (single-user unless asked) with its table catalogue and one session.
class TableDatabase {
public:
    explicit TableDatabase(const std::string& path, bool create = true, bool multiUser = false,
                           TABSFileSystem* fileSystem = nullptr, const std::string& password = {}) {
        database_ = fileSystem ? std::make_unique<TABSDiskDatabaseData>(path, *fileSystem)
                               : std::make_unique<TABSDiskDatabaseData>(path);
        if (!multiUser) database_->SetSleeper([](int) {});
        if (create) database_->CreateDatabase(CreateOptions(kDefaultMaxConnections, password));
        session_ = database_->ConnectSession(ConnectOptions(multiUser, password)).SessionID;
        tables_ = std::make_unique<TABSDiskDatabaseTables>(*database_);
    }
    ~TableDatabase() {
        tables_.reset();
        if (database_->IsOpen()) database_->DisconnectSession(session_);
    }

    [[nodiscard]] TABSDiskDatabaseData& Database() { return *database_; }
    [[nodiscard]] TABSDiskDatabaseTables& Tables() { return *tables_; }
    [[nodiscard]] TABSSessionID Session() const { return session_; }

    TABSTableHandle Open(const std::string& name, bool exclusive = false) {
        return tables_->OpenTable(session_, name, exclusive);
    }

private:
    std::unique_ptr<TABSDiskDatabaseData> database_;
    std::unique_ptr<TABSDiskDatabaseTables> tables_;
    TABSSessionID session_ = kInvalidSessionID;
};

// A memory record of a table with values set by field name.
class RecordBuilder {
public:
    explicit RecordBuilder(const TABSTableData& table) : table_(table), record_(table.NewRecordBuffer()) {}

    RecordBuilder& Int(const std::string& field, std::int64_t value) {
        TABSVariant v;
        v.SetAsLargeInt(value);
        return Set(field, v);
    }
    RecordBuilder& Text(const std::string& field, const std::string& value) {
        TABSVariant v;
        v.SetAsString(value);
        return Set(field, v);
    }
    RecordBuilder& Double(const std::string& field, double value) {
        TABSVariant v;
        v.SetAsDouble(value);
        return Set(field, v);
    }
    RecordBuilder& Set(const std::string& field, const TABSVariant& value) {
        const auto& fields = table_.FieldDefs();
        fields.SetValue(record_, static_cast<std::size_t>(fields.IndexOf(field)), value);
        return *this;
    }
    [[nodiscard]] std::vector<std::uint8_t>& Bytes() { return record_; }

private:
    const TABSTableData& table_;
    std::vector<std::uint8_t> record_;
};

inline TABSVariant ValueOf(const TABSTableData& table, const std::vector<std::uint8_t>& record, const std::string& field) {
    const auto& fields = table.FieldDefs();
    return fields.GetValue(record, static_cast<std::size_t>(fields.IndexOf(field)));
}

inline std::vector<std::uint8_t> ReadBack(TABSTableHandle& handle, const TABSRecordID& id) {
    std::vector<std::uint8_t> record(handle->RecordBufferSize());
    handle->ReadRecord(handle.Session(), id, record);
    return record;
}

// Name and entry count of every index of a disk table.
inline std::vector<std::pair<std::string, std::uint64_t>> IndexEntryCounts(TABSTableHandle& handle) {
    auto& indexes = static_cast<TABSDiskTableData&>(handle.Table()).IndexManager();
    std::vector<std::pair<std::string, std::uint64_t>> counts;
    for (std::size_t i = 0; i < indexes.Count(); ++i) {
        counts.emplace_back(indexes.At(i).Name(), indexes.At(i).EntryCount(handle.Session()));
    }
    return counts;
}

// Every record of a table in physical order.
inline std::vector<TABSRecordID> PhysicalOrder(TABSTableHandle& handle) {
    std::vector<TABSRecordID> ids;
    for (auto id = handle->FirstRecord(handle.Session()); id; id = handle->NextRecord(handle.Session(), *id))
        ids.push_back(*id);
    return ids;
}

} // namespace kova::testing
