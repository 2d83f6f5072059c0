// Fixture of the modification and definition tests: a fresh database file with one connection,
// statements run through the processor, table contents read straight from storage, and the
// pauses of data modification counted instead of slept.
#pragma once

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSSQLModifyExec.h"
#include "engine/sql/ABSSQLProcessor.h"
#include "engine/sql/ABSStatementExecution.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/storage/ABSPseudoDatabases.h"
#include "engine/storage/table_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kova::dmltest {

// Runs the modification and definition statements of a text; queries have no part here.
class ModifyExecutor final : public TABSResultExecutor {
public:
    explicit ModifyExecutor(const TABSExecutionContext& context) : context_(context) {}

protected:
    TABSStatementResult ExecuteStatement(TABSSQLStatement& statement) override {
        TABSStatementResult result;
        switch (statement.Kind()) {
            case TABSStatementKind::Insert:
                result.RowsAffected = ExecuteInsert(context_, static_cast<TABSSQLInsert&>(statement));
                break;
            case TABSStatementKind::Update:
                result.RowsAffected = ExecuteUpdate(context_, static_cast<TABSSQLUpdate&>(statement));
                break;
            case TABSStatementKind::Delete:
                result.RowsAffected = ExecuteDelete(context_, static_cast<TABSSQLDelete&>(statement));
                break;
            default:
                result.RowsAffected = ExecuteDefinition(context_, statement);
                break;
        }
        return result;
    }

private:
    const TABSExecutionContext& context_;
};

using Row = std::vector<std::string>;
inline constexpr const char* kNull = "<null>";

class DmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        database_ = std::make_unique<testing::TableDatabase>(scratch_.File("dml.abs"));
        context_.Data = &database_->Database();
        context_.Tables = &database_->Tables();
        context_.SessionID = database_->Session();
        context_.DatabaseName = "db";
        context_.DatabaseFileName = scratch_.File("dml.abs");
        previousSleeper_ = SetModifySleeper([this](int milliseconds) { sleeps_.push_back(milliseconds); });
    }

    void TearDown() override {
        SetModifySleeper(previousSleeper_);
        for (const std::string& name : MemoryDatabase().TableNames()) {
            try {
                MemoryDatabase().DropTable(name, true);
            } catch (...) {
            }
        }
        database_.reset();
    }

    // Runs a text; returns the affected rows.
    std::int64_t Run(const std::string& text, std::vector<TABSSQLParam> params = {}) {
        TABSSQLProcessor processor(text);
        processor.SetParams(std::move(params));
        ModifyExecutor executor(context_);
        return RunStatements(processor, executor).RowsAffected;
    }

    // Runs a text that must fail; returns the error (NativeError 0 when it did not fail).
    struct Failure {
        int code = 0;
        std::string message;
    };
    Failure RunFailing(const std::string& text, std::vector<TABSSQLParam> params = {}) {
        try {
            (void)Run(text, std::move(params));
        } catch (const EABSException& e) {
            return {e.NativeError(), e.what()};
        }
        return {};
    }

    // Every row of a table in physical order, each value as text (kNull for null).
    std::vector<Row> Rows(const std::string& table, bool memory = false) {
        TABSTableName name;
        name.name = table;
        name.memory = memory;
        const TABSTableAccess access(context_);
        TABSTableHandle handle = access.OpenTable(name);
        std::vector<Row> rows;
        std::vector<std::uint8_t> record = handle->NewRecordBuffer();
        for (auto id = handle->FirstRecord(handle.Session()); id; id = handle->NextRecord(handle.Session(), *id)) {
            handle->ReadRecord(handle.Session(), *id, record);
            Row row;
            for (std::size_t i = 0; i < handle->FieldDefs().Count(); ++i) {
                const TABSVariant value = ReadFieldValue(handle.Table(), handle.Session(), record, i);
                row.push_back(value.IsNull() ? kNull : value.GetAsString());
            }
            rows.push_back(std::move(row));
        }
        handle->ReleaseRecordBuffer(record, true);
        return rows;
    }

    // The stored value of one field of the first row.
    TABSVariant FirstValue(const std::string& table, const std::string& field) {
        TABSTableName name;
        name.name = table;
        const TABSTableAccess access(context_);
        TABSTableHandle handle = access.OpenTable(name);
        std::vector<std::uint8_t> record = handle->NewRecordBuffer();
        const auto id = handle->FirstRecord(handle.Session());
        EXPECT_TRUE(id.has_value());
        if (!id) return {};
        handle->ReadRecord(handle.Session(), *id, record);
        return ReadFieldValue(handle.Table(), handle.Session(), record,
                              static_cast<std::size_t>(handle->FieldDefs().IndexOf(field)));
    }

    TABSTableHandle Open(const std::string& table) {
        TABSTableName name;
        name.name = table;
        return TABSTableAccess(context_).OpenTable(name);
    }

    testing::ScratchDirectory scratch_;
    std::unique_ptr<testing::TableDatabase> database_;
    TABSExecutionContext context_;
    std::vector<int> sleeps_;
    TABSModifySleeper previousSleeper_;
};

} // namespace kova::dmltest
