// Helpers of the component-layer tests: a scratch directory for real database files, an
// in-memory fake of query execution (tables of rows, SELECT giving a cursor over a table, INSERT
// adding a row, a statement on an unknown table failing), and scopes that install host hooks and
// restore the process-wide state afterwards.
#pragma once

#include "engine/api/ABSMain.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSSQLModify.h"
#include "engine/sql/ABSSQLSelect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kova::apitest {

class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kova-api-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] std::string File(const std::string& name) const { return (path_ / name).string(); }
    [[nodiscard]] const std::filesystem::path& Path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

// Creates a database file with a password through the component layer.
inline void MakeDatabaseFile(const std::string& fileName, const std::string& password) {
    TABSDatabaseDataList::Instance().CreateDatabase(fileName, password, TABSCreateDatabaseOptions{});
}

// The native code of the EABSException `action` raises (0 for none, -1 for another exception).
inline int NativeErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EABSException& error) {
        return error.NativeError();
    } catch (...) {
        return -1;
    }
    return 0;
}

// The text of whatever EABSError `action` raises ("" for none).
inline std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EABSError& error) {
        return error.what();
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Fake execution

struct FakeTable {
    std::vector<TABSCursorColumn> columns;
    std::vector<std::vector<TABSVariant>> rows;
};

inline TABSCursorColumn Column(std::string name, TABSBaseType type, TFieldType fieldType, int size = 0) {
    return TABSCursorColumn{std::move(name), type, fieldType, size};
}

// A read-only cursor over a copy of a table's rows. Position -1 is the crack before the first
// row, rows.size() the crack after the last.
class FakeCursor final : public TABSLocalCursor {
public:
    explicit FakeCursor(FakeTable table, bool live = false) : table_(std::move(table)), live_(live) {}

    [[nodiscard]] std::size_t ColumnCount() const override { return table_.columns.size(); }
    [[nodiscard]] const TABSCursorColumn& Column(std::size_t index) const override { return table_.columns.at(index); }
    [[nodiscard]] std::int64_t RecordCount() override { return Count(); }
    [[nodiscard]] bool IsLive() const override { return live_; }

    bool First() override { return MoveTo(Count() > 0 ? 0 : Count()); }
    bool Last() override { return MoveTo(Count() > 0 ? Count() - 1 : -1); }
    bool Next() override { return MoveTo(pos_ + 1 > Count() ? Count() : pos_ + 1); }
    bool Prior() override { return MoveTo(pos_ - 1 < -1 ? -1 : pos_ - 1); }
    [[nodiscard]] bool Bof() const override { return pos_ < 0; }
    [[nodiscard]] bool Eof() const override { return pos_ >= Count(); }
    [[nodiscard]] std::int64_t RecNo() const override { return OnRow() ? pos_ + 1 : 0; }
    bool SetRecNo(std::int64_t recNo) override {
        if (recNo < 1 || recNo > Count()) return false;
        return MoveTo(recNo - 1);
    }
    void GetValue(std::size_t index, TABSVariant& value) override {
        if (!OnRow()) throw std::logic_error("GetValue off the rows");
        value.Assign(table_.rows.at(static_cast<std::size_t>(pos_)).at(index));
    }

private:
    [[nodiscard]] std::int64_t Count() const { return static_cast<std::int64_t>(table_.rows.size()); }
    [[nodiscard]] bool OnRow() const { return pos_ >= 0 && pos_ < Count(); }
    bool MoveTo(std::int64_t pos) {
        pos_ = pos;
        return OnRow();
    }

    FakeTable table_;
    bool live_;
    std::int64_t pos_ = -1;
};

// Tables per database file; installs itself as the executor factory for its lifetime.
class FakeEngine {
public:
    FakeEngine() {
        previous_ = SetExecutorFactory([this](const TABSExecutionContext& context) {
            contexts.push_back(context);
            return std::make_unique<Executor>(*this, Key(context.DatabaseFileName));
        });
    }
    ~FakeEngine() { SetExecutorFactory(std::move(previous_)); }
    FakeEngine(const FakeEngine&) = delete;
    FakeEngine& operator=(const FakeEngine&) = delete;

    FakeTable& Table(const std::string& fileName, const std::string& tableName) {
        return tables_[Key(fileName)][UpperCaseText(tableName)];
    }

    std::vector<TABSExecutionContext> contexts;  // one per run
    int statementsRun = 0;
    bool liveResults = false;

private:
    static std::string Key(const std::string& fileName) {
        return TABSDatabaseDataList::IsPseudoDatabaseName(fileName) ? UpperCaseText(fileName)
                                                                     : TABSDatabaseDataList::NormalFileName(fileName);
    }

    FakeTable& Existing(const std::string& key, const std::string& tableName) {
        auto& tables = tables_[key];
        const auto found = tables.find(UpperCaseText(tableName));
        if (found == tables.end()) RaiseError(30396, "Table '%s' not exists.", {tableName});
        return found->second;
    }

    class Executor final : public TABSResultExecutor {
    public:
        Executor(FakeEngine& engine, std::string key) : engine_(engine), key_(std::move(key)) {}

    protected:
        TABSStatementResult ExecuteStatement(TABSSQLStatement& statement) override {
            ++engine_.statementsRun;
            TABSStatementResult result;
            switch (statement.Kind()) {
            case TABSStatementKind::Query: {
                const auto& select = *static_cast<TABSSQLUnion&>(statement).Query().select;
                const FakeTable& table = engine_.Existing(key_, select.from.at(0).first.table.name);
                result.Cursor = std::make_unique<FakeCursor>(table, engine_.liveResults);
                break;
            }
            case TABSStatementKind::Insert: {
                const auto& insert = static_cast<TABSSQLInsert&>(statement);
                FakeTable& table = engine_.Existing(key_, insert.Table().name);
                for (const auto& values : insert.Rows()) {
                    std::vector<TABSVariant> row(table.columns.size());
                    for (std::size_t i = 0; i < values.size() && i < insert.Columns().size(); ++i) {
                        for (std::size_t c = 0; c < table.columns.size(); ++c) {
                            if (!SameName(table.columns[c].Name, insert.Columns()[i])) continue;
                            values[i]->Bind(nullptr);
                            row[c].Assign(values[i]->Evaluate());
                        }
                    }
                    table.rows.push_back(std::move(row));
                    ++result.RowsAffected;
                }
                break;
            }
            default:
                break;
            }
            return result;
        }

    private:
        FakeEngine& engine_;
        std::string key_;
    };

    std::map<std::string, std::map<std::string, FakeTable>> tables_;
    TABSExecutorFactory previous_;
};

// Installs host hooks for its lifetime and restores the ones before.
class HookScope {
public:
    explicit HookScope(TABSHostHooks hooks) : previous_(SetHostHooks(std::move(hooks))) {}
    ~HookScope() { SetHostHooks(std::move(previous_)); }
    HookScope(const HookScope&) = delete;
    HookScope& operator=(const HookScope&) = delete;

private:
    TABSHostHooks previous_;
};

// Value helpers.
inline TABSVariant Text(const std::string& text) {
    TABSVariant v;
    v.SetAsString(text);
    return v;
}
inline TABSVariant Int(std::int32_t value) {
    TABSVariant v;
    v.SetAsInteger(value);
    return v;
}
inline TABSVariant Extended(long double value) {
    TABSVariant v;
    v.SetAsExtended(value);
    return v;
}
inline TABSVariant Null(TABSBaseType type) { return TABSVariant(type); }

} // namespace kova::apitest
