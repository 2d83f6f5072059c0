// The statement processor: tokenizes a query's text, makes the statement object for each
// statement by its first tokens, lets it parse, and hands it to an executor.
//
// Statements run in order, each parsed just before it executes, so a parse error in the
// second statement of a text leaves the first one executed. The processor owns the lexer and
// the statements; token views held by statements stay valid as long as the processor lives.
#pragma once

#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSLexer.h"
#include "engine/sql/ABSSQLStatement.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kova {

// Carries out parsed statements (query execution, data definition and modification).
class TABSSQLExecutor {
public:
    virtual ~TABSSQLExecutor() = default;
    // Executes one parsed statement and returns the number of rows it affected (0 for queries
    // and definitions).
    virtual std::int64_t Execute(TABSSQLStatement& statement) = 0;
};

// The executor used until execution exists: every statement fails with
// "Execution of '%s' statements is not available" naming its kind.
class TABSUnavailableExecutor final : public TABSSQLExecutor {
public:
    std::int64_t Execute(TABSSQLStatement& statement) override;
};

class TABSSQLProcessor {
public:
    // `requestLive` and `inMemory` are the query's flags, kept for execution.
    TABSSQLProcessor(std::string text, bool requestLive = false, bool inMemory = false);
    ~TABSSQLProcessor();
    TABSSQLProcessor(const TABSSQLProcessor&) = delete;
    TABSSQLProcessor& operator=(const TABSSQLProcessor&) = delete;

    [[nodiscard]] const std::string& Text() const noexcept { return text_; }
    [[nodiscard]] bool RequestLive() const noexcept { return requestLive_; }
    [[nodiscard]] bool InMemory() const noexcept { return inMemory_; }

    // The query's parameters in order (names and values).
    void SetParams(std::vector<TABSSQLParam> params) { params_ = std::move(params); }
    [[nodiscard]] const std::vector<TABSSQLParam>& Params() const noexcept { return params_; }

    // Runs the whole text: tokenize (30145 "Blank SQL command" without any statement), then for
    // each statement make its object, parse it and execute it. Returns the sum of affected rows.
    // The statements stay available until the next run; the last one gives the result.
    std::int64_t Run(TABSSQLExecutor& executor);

    // Tokenizes and parses every statement without executing any (preparing, tests, tools).
    void ParseAll();

    [[nodiscard]] const std::vector<std::unique_ptr<TABSSQLStatement>>& Statements() const noexcept {
        return statements_;
    }
    [[nodiscard]] TABSSQLStatement* LastStatement() const noexcept {
        return statements_.empty() ? nullptr : statements_.back().get();
    }

    // Makes the statement object for the statement at the parser's position, by its first
    // tokens (table of statement kinds). Raises 30153/30154 for an unknown first token and the
    // CREATE / DROP / ALTER object-keyword errors.
    [[nodiscard]] static std::unique_ptr<TABSSQLStatement> CreateStatement(const TABSSQLParser& parser);

private:
    void Tokenize();

    std::string text_;
    bool requestLive_;
    bool inMemory_;
    std::vector<std::string> paramNames_;
    std::vector<TABSSQLParam> params_;
    std::unique_ptr<TABSLexer> lexer_;
    std::vector<std::unique_ptr<TABSSQLStatement>> statements_;
};

} // namespace kova
