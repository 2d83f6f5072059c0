// Data modification statements: INSERT, UPDATE and DELETE.
//
// UPDATE and DELETE find their rows through a query made from their own tokens: UPDATE builds
// "select * from" + its table, alias and password + everything from WHERE on; DELETE is read as
// the query that results from replacing DELETE by SELECT "*". Both keep that query parsed, so
// execution runs it like any SELECT.
#pragma once

#include "engine/sql/ABSSQLSelect.h"

#include <memory>
#include <string>
#include <vector>

namespace kova {

class TABSExpression;

class TABSSQLInsert final : public TABSSQLStatement {
public:
    TABSSQLInsert();
    ~TABSSQLInsert() override;
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::Insert; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    // The column list; empty when none was given (values then go to the columns by position).
    [[nodiscard]] const std::vector<std::string>& Columns() const noexcept { return columns_; }
    // Rows of VALUES (each one expression per value); empty for INSERT ... SELECT.
    [[nodiscard]] const std::vector<std::vector<std::unique_ptr<TABSExpression>>>& Rows() const noexcept {
        return rows_;
    }
    // The query of INSERT ... SELECT; nullptr for VALUES.
    [[nodiscard]] const TABSQueryExpr* Query() const noexcept { return query_.get(); }
    // Execution binds and runs the query it holds.
    [[nodiscard]] TABSQueryExpr* Query() noexcept { return query_.get(); }

private:
    TABSTableName table_;
    std::vector<std::string> columns_;
    std::vector<std::vector<std::unique_ptr<TABSExpression>>> rows_;
    std::unique_ptr<TABSQueryExpr> query_;
};

struct TABSAssignment {
    std::string column;
    std::unique_ptr<TABSExpression> value;
    TABSSourcePos pos;

    TABSAssignment();
    TABSAssignment(TABSAssignment&&) noexcept;
    TABSAssignment& operator=(TABSAssignment&&) noexcept;
    ~TABSAssignment();
};

class TABSSQLUpdate final : public TABSSQLStatement {
public:
    TABSSQLUpdate();
    ~TABSSQLUpdate() override;
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::Update; }
    void Parse(TABSSQLParser& parser) override;

    [[nodiscard]] const TABSTableName& Table() const noexcept { return table_; }
    [[nodiscard]] const std::string& Alias() const noexcept { return alias_; }
    // column = expr assignments, in order; empty for the (columns) = (query) form.
    [[nodiscard]] const std::vector<TABSAssignment>& Assignments() const noexcept { return assignments_; }
    // The (columns) = (query) form.
    [[nodiscard]] const std::vector<std::string>& QueryColumns() const noexcept { return queryColumns_; }
    [[nodiscard]] const TABSQueryExpr* ValuesQuery() const noexcept { return valuesQuery_.get(); }
    [[nodiscard]] TABSQueryExpr* ValuesQuery() noexcept { return valuesQuery_.get(); }
    // The statement's WHERE condition (nullptr without WHERE); execution binds it to the rows.
    [[nodiscard]] const TABSExpression* Where() const noexcept { return where_.get(); }
    [[nodiscard]] TABSExpression* Where() noexcept { return where_.get(); }
    // The query that selects the rows to change.
    [[nodiscard]] const TABSQueryExpr& RowQuery() const noexcept { return *rowQuery_; }
    // Its tokens, as built from the statement (for diagnostics and tests).
    [[nodiscard]] const TABSTokenList& RowQueryTokens() const noexcept { return rowQueryTokens_; }

private:
    TABSTableName table_;
    std::string alias_;
    std::vector<TABSAssignment> assignments_;
    std::vector<std::string> queryColumns_;
    std::unique_ptr<TABSQueryExpr> valuesQuery_;
    std::unique_ptr<TABSExpression> where_;
    TABSTokenList rowQueryTokens_;
    std::unique_ptr<TABSQueryExpr> rowQuery_;
};

class TABSSQLDelete final : public TABSSQLStatement {
public:
    TABSSQLDelete();
    ~TABSSQLDelete() override;
    [[nodiscard]] TABSStatementKind Kind() const noexcept override { return TABSStatementKind::Delete; }
    void Parse(TABSSQLParser& parser) override;

    // The query "SELECT * FROM ..." that selects the rows to delete.
    [[nodiscard]] const TABSQueryExpr& RowQuery() const noexcept { return *rowQuery_; }
    [[nodiscard]] TABSQueryExpr& RowQuery() noexcept { return *rowQuery_; }
    // The table rows are deleted from: the first table of the query's FROM.
    [[nodiscard]] const TABSTableRef& Target() const;

private:
    TABSTokenList rowQueryTokens_;
    std::unique_ptr<TABSQueryExpr> rowQuery_;
};

} // namespace kova
