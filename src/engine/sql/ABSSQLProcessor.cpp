// Statement dispatch and the run loop of a query's text.
#include "engine/sql/ABSSQLProcessor.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSSQLDDL.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLModify.h"
#include "engine/sql/ABSSQLSelect.h"

namespace kova {

std::int64_t TABSUnavailableExecutor::Execute(TABSSQLStatement& statement) {
    RaiseError(sqlerr::kNotAvailable, sqlerr::kNotAvailableMsg, {StatementKindName(statement.Kind())});
}

TABSSQLProcessor::TABSSQLProcessor(std::string text, bool requestLive, bool inMemory)
    : text_(std::move(text)), requestLive_(requestLive), inMemory_(inMemory) {}

TABSSQLProcessor::~TABSSQLProcessor() = default;

namespace {

// After CREATE, DROP or ALTER: the object keyword, or the matching failure.
void RequireObjectKeyword(const TABSSQLParser& parser, int objectCode, int endCode, bool allowIndex) {
    const TABSToken* object = parser.Peek();
    if (!object) {
        const TABSToken& first = *parser.Cur();
        RaiseError(endCode, sqlerr::kUnexpectedEndMsg, {first.line, first.column});
    }
    const bool known = object->IsKeyword(kwTABLE) ||
                       (allowIndex && (object->IsKeyword(kwINDEX) || object->IsKeyword(kwUNIQUE)));
    if (!known) RaiseError(objectCode, sqlerr::kObjectTypeExpectedMsg, {object->text, object->line, object->column});
}

} // namespace

std::unique_ptr<TABSSQLStatement> TABSSQLProcessor::CreateStatement(const TABSSQLParser& parser) {
    const TABSToken* first = parser.Cur();
    if (!first) RaiseError(sqlerr::kBlankCommand, sqlerr::kBlankCommandMsg);
    if (first->kind == TokenKind::OpenParen) return std::make_unique<TABSSQLUnion>();
    if (first->kind == TokenKind::Keyword) {
        switch (first->keyword) {
        case kwSELECT: return std::make_unique<TABSSQLUnion>();
        case kwINSERT: return std::make_unique<TABSSQLInsert>();
        case kwUPDATE: return std::make_unique<TABSSQLUpdate>();
        case kwDELETE: return std::make_unique<TABSSQLDelete>();
        case kwCREATE:
            RequireObjectKeyword(parser, sqlerr::kCreateObjectExpected, sqlerr::kCreateUnexpectedEnd, true);
            if (parser.Peek()->IsKeyword(kwTABLE)) return std::make_unique<TABSDDLCreateTable>();
            return std::make_unique<TABSDDLCreateIndex>();
        case kwDROP:
            RequireObjectKeyword(parser, sqlerr::kDropObjectExpected, sqlerr::kDropUnexpectedEnd, true);
            if (parser.Peek()->IsKeyword(kwTABLE)) return std::make_unique<TABSDDLDropTable>();
            if (parser.Peek()->IsKeyword(kwINDEX)) return std::make_unique<TABSDDLDropIndex>();
            RaiseError(sqlerr::kDropObjectExpected, sqlerr::kObjectTypeExpectedMsg,
                       {parser.Peek()->text, parser.Peek()->line, parser.Peek()->column});
        case kwALTER:
            RequireObjectKeyword(parser, sqlerr::kAlterObjectExpected, sqlerr::kAlterUnexpectedEnd, false);
            return std::make_unique<TABSDDLAlterTable>();
        case kwRENAME: return std::make_unique<TABSDDLRenameTable>();
        case kwTRUNCATE: return std::make_unique<TABSDDLTruncateTable>();
        case kwSTART: return std::make_unique<TABSSQLStartTransaction>();
        case kwCOMMIT: return std::make_unique<TABSSQLCommit>();
        case kwROLLBACK: return std::make_unique<TABSSQLRollback>();
        default:
            RaiseError(sqlerr::kSqlTokenExpectedKeyword, sqlerr::kSqlTokenExpectedMsg,
                       {first->text, first->line, first->column});
        }
    }
    RaiseError(sqlerr::kSqlTokenExpectedOther, sqlerr::kSqlTokenExpectedMsg, {first->text, first->line, first->column});
}

void TABSSQLProcessor::Tokenize() {
    statements_.clear();
    paramNames_.clear();
    paramNames_.reserve(params_.size());
    for (const auto& param : params_) paramNames_.push_back(param.Name());
    lexer_ = std::make_unique<TABSLexer>(text_, paramNames_);
    if (lexer_->StatementCount() == 0) RaiseError(sqlerr::kBlankCommand, sqlerr::kBlankCommandMsg);
}

std::int64_t TABSSQLProcessor::Run(TABSSQLExecutor& executor) {
    Tokenize();
    std::int64_t affected = 0;
    for (std::size_t i = 0; i < lexer_->StatementCount(); ++i) {
        TABSSQLParser parser(lexer_->Statement(i), params_);
        auto statement = CreateStatement(parser);
        statement->Parse(parser);
        statements_.push_back(std::move(statement));
        affected += executor.Execute(*statements_.back());
    }
    return affected;
}

void TABSSQLProcessor::ParseAll() {
    Tokenize();
    for (std::size_t i = 0; i < lexer_->StatementCount(); ++i) {
        TABSSQLParser parser(lexer_->Statement(i), params_);
        auto statement = CreateStatement(parser);
        statement->Parse(parser);
        statements_.push_back(std::move(statement));
    }
}

} // namespace kova
