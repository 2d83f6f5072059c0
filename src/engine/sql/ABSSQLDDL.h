// Data definition and transaction statements: CREATE TABLE with its column and index
// definitions, CREATE / DROP INDEX, DROP TABLE, ALTER TABLE, RENAME TABLE, TRUNCATE TABLE,
// START TRANSACTION, COMMIT and ROLLBACK.
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSSQLStatement.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kova {

// A column definition of CREATE or ALTER TABLE.
struct TSQLFieldDef {
    std::string name;
    bool ifNotExists = false;
    TABSColumnType type = TABSColumnType::actUnknown;
    int size = 0;
    bool required = false;  // NOT NULL

    bool hasDefault = false;
    bool defaultIsNow = false;  // DEFAULT NOW or DEFAULT 'NOW'
    TABSVariant defaultValue;   // null for DEFAULT NULL and for NOW

    bool hasMinValue = false;
    TABSVariant minValue;
    bool hasMaxValue = false;
    TABSVariant maxValue;

    bool hasBlobBlockSize = false;
    std::int64_t blobBlockSize = 0;
    bool hasBlobCompressionMode = false;
    std::int64_t blobCompressionMode = 0;
    bool hasBlobCompressionAlgorithm = false;
    std::string blobCompressionAlgorithm;  // NONE, ZLIB, BZIP or PPM
    int blobCompressionAlgorithmId = 0;    // 0..3 in that order

    // Auto-increment options.
    bool hasIncrement = false;
    std::int64_t increment = 1;
    bool hasAutoIncMin = false;
    std::int64_t autoIncMin = 0;
    bool hasAutoIncMax = false;
    std::int64_t autoIncMax = 0;
    bool hasInitialValue = false;
    std::int64_t initialValue = 0;
    bool hasCycled = false;
    bool cycled = false;

    TABSSourcePos pos;
};

struct TSQLIndexColumn {
    std::string name;
    bool descending = false;
    bool caseInsensitive = false;  // NOCASE
};

// An index definition: PRIMARY KEY, UNIQUE or INDEX element, a column-level PRIMARY KEY or
// UNIQUE, or CREATE INDEX.
struct TSQLIndexDef {
    std::string name;  // may be empty: the engine names it (EngineIndexName)
    bool primary = false;
    bool unique = false;
    std::vector<TSQLIndexColumn> columns;
    TABSSourcePos pos;
};

// The name the engine gives an unnamed index: "C_PK", "C_Unique" or "i", then "$", then every
// column name preceded by "$".
[[nodiscard]] std::string EngineIndexName(const TSQLIndexDef& index);

class TABSDDLCreateTable final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::CreateTable; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] bool IfNotExists() const noexcept { return ifNotExists_; }
    [[nodiscard]] const std::vector<TSQLFieldDef>& Fields() const noexcept { return fields_; }
    [[nodiscard]] const std::vector<TSQLIndexDef>& Indexes() const noexcept { return indexes_; }

private:
    TABSTableName table_;
    bool ifNotExists_ = false;
    std::vector<TSQLFieldDef> fields_;
    std::vector<TSQLIndexDef> indexes_;
};

class TABSDDLCreateIndex final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::CreateIndex; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] const TSQLIndexDef& Index() const noexcept { return index_; }

private:
    TABSTableName table_;
    TSQLIndexDef index_;
};

class TABSDDLDropTable final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::DropTable; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] bool IfExists() const noexcept { return ifExists_; }

private:
    TABSTableName table_;
    bool ifExists_ = false;
};

class TABSDDLDropIndex final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::DropIndex; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] const std::string& IndexName() const noexcept { return indexName_; }

private:
    TABSTableName table_;
    std::string indexName_;
};

class TABSDDLAlterTable final : public TABSSQLStatement {
public:
    enum class Action : std::uint8_t { Add, Drop, Modify, RenameColumn, RenameTable };

    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::AlterTable; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] Action GetAction() const noexcept { return action_; }
    // ADD and MODIFY.
    [[nodiscard]] const std::vector<TSQLFieldDef>& Fields() const noexcept { return fields_; }
    // DROP.
    [[nodiscard]] const std::vector<std::string>& DropColumns() const noexcept { return dropColumns_; }
    // RENAME [COLUMN] old TO new, and RENAME TO new (then only NewName is set).
    [[nodiscard]] const std::string& OldName() const noexcept { return oldName_; }
    [[nodiscard]] const std::string& NewName() const noexcept { return newName_; }

private:
    TABSTableName table_;
    Action action_ = Action::Add;
    std::vector<TSQLFieldDef> fields_;
    std::vector<std::string> dropColumns_;
    std::string oldName_;
    std::string newName_;
};

class TABSDDLRenameTable final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::RenameTable; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] const std::string& NewName() const noexcept { return newName_; }

private:
    TABSTableName table_;
    std::string newName_;
};

class TABSDDLTruncateTable final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::TruncateTable; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }

private:
    TABSTableName table_;
};

class TABSSQLStartTransaction final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::StartTransaction; }
    void Parse(TABSSQLParser& parser) override;
};

class TABSSQLCommit final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::Commit; }
    void Parse(TABSSQLParser& parser) override;
    [[nodiscard]] bool Flush() const noexcept { return flush_; }

private:
    bool flush_ = false;
};

class TABSSQLRollback final : public TABSSQLStatement {
public:
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::Rollback; }
    void Parse(TABSSQLParser& parser) override;
};

} // namespace kova
