// The statement executor of a connection: hands each parsed statement to the part of the engine
// that carries it out and keeps the rows of a query as the statement's result.
#include "engine/sql/ABSStatementExecution.h"

namespace kova {

namespace {

class StatementExecutor final : public TABSResultExecutor {
public:
    explicit StatementExecutor(const TABSExecutionContext& context) : context_(context) {}

protected:
    TABSStatementResult ExecuteStatement(TABSSQLStatement& statement) override {
        TABSStatementResult result;
        switch (statement.Kind()) {
            case TABSStatementKind::Query:
                result.Cursor = ExecuteQuery(context_, static_cast<TABSSQLUnion&>(statement).Query(),
                                             context_.RequestLive);
                break;
            case TABSStatementKind::Insert:
                result.RowsAffected = ExecuteInsert(context_, static_cast<TABSSQLInsert&>(statement));
                break;
            case TABSStatementKind::Update:
                result.RowsAffected = ExecuteUpdate(context_, static_cast<TABSSQLUpdate&>(statement));
                break;
            case TABSStatementKind::Delete:
                result.RowsAffected = ExecuteDelete(context_, static_cast<TABSSQLDelete&>(statement));
                break;
            case TABSStatementKind::CreateTable:
            case TABSStatementKind::CreateIndex:
            case TABSStatementKind::DropTable:
            case TABSStatementKind::DropIndex:
            case TABSStatementKind::AlterTable:
            case TABSStatementKind::RenameTable:
            case TABSStatementKind::TruncateTable:
            case TABSStatementKind::StartTransaction:
            case TABSStatementKind::Commit:
            case TABSStatementKind::Rollback:
                result.RowsAffected = ExecuteDefinition(context_, statement);
                break;
        }
        return result;
    }

private:
    // A copy: the executor outlives the caller's context object during a run.
    TABSExecutionContext context_;
};

} // namespace

std::unique_ptr<TABSResultExecutor> MakeStatementExecutor(const TABSExecutionContext& context) {
    return std::make_unique<StatementExecutor>(context);
}

} // namespace kova
