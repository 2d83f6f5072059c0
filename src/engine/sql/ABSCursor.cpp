// The default Locate scan, the result-keeping executor and the executor factory.
#include "engine/sql/ABSCursor.h"

#include "engine/sql/ABSExprNode.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSStatementExecution.h"

#include <mutex>

namespace kova {

namespace {

// The key columns of a cursor as the Locate condition sees them. The condition names its
// columns "0", "1", … (positions in the key list), so duplicate or odd result column names
// cannot make it bind to the wrong column.
class LocateKeyRows final : public TABSRowSource {
public:
    LocateKeyRows(TABSLocalCursor& cursor, std::span<const std::size_t> columns)
        : cursor_(cursor), columns_(columns), values_(columns.size()) {}

    [[nodiscard]] std::optional<TABSColumnInfo> FindColumn(std::string_view qualifier,
                                                           std::string_view name) const override {
        if (!qualifier.empty()) return std::nullopt;
        std::size_t key = 0;
        for (const char c : name) {
            if (c < '0' || c > '9') return std::nullopt;
            key = key * 10 + static_cast<std::size_t>(c - '0');
        }
        if (name.empty() || key >= columns_.size()) return std::nullopt;
        const TABSCursorColumn& column = cursor_.Column(columns_[key]);
        return TABSColumnInfo{key, column.BaseType, column.Size};
    }

    [[nodiscard]] const TABSVariant& ColumnValue(std::size_t index) const override { return values_.at(index); }

    // Reads the key values of the cursor's current row.
    void ReadRow() {
        for (std::size_t i = 0; i < columns_.size(); ++i) cursor_.GetValue(columns_[i], values_[i]);
    }

    [[nodiscard]] static std::vector<std::string> KeyNames(std::size_t count) {
        std::vector<std::string> names;
        names.reserve(count);
        for (std::size_t i = 0; i < count; ++i) names.push_back(std::to_string(i));
        return names;
    }

private:
    TABSLocalCursor& cursor_;
    std::span<const std::size_t> columns_;
    std::vector<TABSVariant> values_;
};

std::mutex& FactoryMutex() {
    static std::mutex mutex;
    return mutex;
}

TABSExecutorFactory& InstalledFactory() {
    static TABSExecutorFactory factory;
    return factory;
}

// An executor for where execution must not happen: every statement fails naming its kind.
class UnavailableResultExecutor final : public TABSResultExecutor {
protected:
    TABSStatementResult ExecuteStatement(TABSSQLStatement& statement) override {
        TABSUnavailableExecutor unavailable;
        TABSStatementResult result;
        result.RowsAffected = unavailable.Execute(statement);
        return result;
    }
};

} // namespace

bool TABSLocalCursor::Locate(std::span<const std::size_t> columns, std::span<const TABSVariant> values,
                             bool ignoreCase, bool partialKey) {
    const std::int64_t start = RecNo();
    LocateKeyRows rows(*this, columns);
    const std::vector<std::string> names = LocateKeyRows::KeyNames(columns.size());
    std::unique_ptr<TABSExpression> condition =
        TABSExpression::MakeLocateCondition(names, values.first(std::min(values.size(), columns.size())),
                                            ignoreCase, partialKey);
    condition->Bind(&rows);
    for (bool onRow = First(); onRow; onRow = Next()) {
        rows.ReadRow();
        if (condition->IsTrue()) return true;
    }
    // Back to where the search began: a row, or the crack before the first row.
    if (start > 0) {
        (void)SetRecNo(start);
    } else {
        (void)First();
        (void)Prior();
    }
    return false;
}

std::int64_t TABSResultExecutor::Execute(TABSSQLStatement& statement) {
    result_.reset();
    TABSStatementResult outcome = ExecuteStatement(statement);
    result_ = std::move(outcome.Cursor);
    return outcome.RowsAffected;
}

TABSRunResult RunStatements(TABSSQLProcessor& processor, TABSResultExecutor& executor) {
    TABSRunResult run;
    run.RowsAffected = processor.Run(executor);
    run.Cursor = executor.TakeResult();
    return run;
}

TABSExecutorFactory SetExecutorFactory(TABSExecutorFactory factory) {
    std::lock_guard lock(FactoryMutex());
    TABSExecutorFactory previous = std::move(InstalledFactory());
    InstalledFactory() = std::move(factory);
    return previous;
}

std::unique_ptr<TABSResultExecutor> MakeExecutor(const TABSExecutionContext& context) {
    TABSExecutorFactory factory;
    {
        std::lock_guard lock(FactoryMutex());
        factory = InstalledFactory();
    }
    if (factory) {
        if (std::unique_ptr<TABSResultExecutor> executor = factory(context)) return executor;
    }
    return MakeStatementExecutor(context);
}

std::unique_ptr<TABSResultExecutor> MakeUnavailableExecutor() {
    return std::make_unique<UnavailableResultExecutor>();
}

} // namespace kova
