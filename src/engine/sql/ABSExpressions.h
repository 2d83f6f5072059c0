// TABSExpression: one parsed condition or value expression with its options, bound to the rows
// it reads and evaluated once per row.
//
// Conditions (WHERE, HAVING, ON, filters, Locate) and value expressions (select items, INSERT
// values, UPDATE assignments, defaults) are parsed from a statement's tokens with the grammar
// of ABSExprParser.cpp; binding attaches the column nodes to a TABSRowSource; evaluation uses
// three-valued logic, where a condition that yields null counts as false.
#pragma once

#include "engine/sql/ABSExprNodes.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

struct TABSExprOptions {
    bool ignoreCase = false;        // dataset filters with the case-insensitive option
    bool partialKey = false;        // dataset filters: a string constant ending in "*" is a prefix
    bool sqlNullSemantics = true;   // off for Locate and single-column searches
};

class TABSExpression {
public:
    TABSExpression(std::unique_ptr<TABSExprNode> root, TABSExprOptions options);
    ~TABSExpression();
    TABSExpression(const TABSExpression&) = delete;
    TABSExpression& operator=(const TABSExpression&) = delete;

    // ---- Parsing ----
    // A condition from the current token; raises 30066 "Boolean expression expected" when
    // what is there is no condition.
    [[nodiscard]] static std::unique_ptr<TABSExpression> ParseCondition(TABSSQLParser& parser,
                                                                        TABSExprOptions options = {});
    // A value expression from the current token; nullptr (and no move) when none starts there.
    [[nodiscard]] static std::unique_ptr<TABSExpression> ParseValue(TABSSQLParser& parser,
                                                                    TABSExprOptions options = {});
    // A dataset filter: a whole text tokenized for itself. Raises "Blank SQL command" for an
    // empty text and "End of SQL command expected" for tokens after the condition.
    [[nodiscard]] static std::unique_ptr<TABSExpression> ParseFilter(std::string_view text,
                                                                     std::span<const TABSSQLParam> params,
                                                                     TABSExprOptions options);
    // The equality condition of Locate: one "=" per key column, AND-ed, where two nulls are
    // equal; ignore-case and partial-key as asked.
    [[nodiscard]] static std::unique_ptr<TABSExpression> MakeLocateCondition(std::span<const std::string> columns,
                                                                             std::span<const TABSVariant> values,
                                                                             bool ignoreCase, bool partialKey);
    // a AND b (either may be null or empty: the other is returned).
    [[nodiscard]] static std::unique_ptr<TABSExpression> And(std::unique_ptr<TABSExpression> a,
                                                             std::unique_ptr<TABSExpression> b);

    // ---- Binding and evaluation ----
    // Binds every column node to `rows` (which must outlive the binding) and subqueries and
    // system values to `environment` (may be null when the expression has none).
    void Bind(const TABSRowSource* rows, TABSExprEnvironment* environment = nullptr);
    // The value for the current row. REQUIRES: not empty.
    const TABSVariant& Evaluate();
    // Whether the condition holds for the current row (null counts as false).
    [[nodiscard]] bool IsTrue();

    // ---- Shape ----
    [[nodiscard]] bool IsEmpty() const noexcept { return root_ == nullptr; }
    // A condition's root: a comparison, predicate, logic node or boolean constant.
    [[nodiscard]] bool IsBoolean() const noexcept;
    // No columns, aggregates, subqueries or system values.
    [[nodiscard]] bool IsConstant() const noexcept;
    // A single column reference; then its qualifier and name.
    [[nodiscard]] const TABSExprNodeField* SingleColumn() const noexcept;
    [[nodiscard]] bool HasAggregates() const noexcept;
    // Every column node, in tree order.
    [[nodiscard]] std::vector<const TABSExprNodeField*> Fields() const;

    // ---- Aggregates (driven per group by execution) ----
    [[nodiscard]] std::vector<TABSExprNodeAggregated*> Aggregates();
    void ResetAggregates();
    void AccumulateAggregates();

    [[nodiscard]] TABSExprNode* Root() noexcept { return root_.get(); }
    [[nodiscard]] const TABSExprNode* Root() const noexcept { return root_.get(); }
    [[nodiscard]] std::unique_ptr<TABSExprNode> ReleaseRoot() noexcept { return std::move(root_); }
    [[nodiscard]] const TABSExprOptions& Options() const noexcept { return options_; }
    [[nodiscard]] TABSBaseType ResultType() const noexcept;
    [[nodiscard]] int ResultSize() const noexcept;

private:
    std::unique_ptr<TABSExprNode> root_;
    TABSExprOptions options_;
    std::vector<TABSExprNodeAggregated*> aggregates_;
};

} // namespace kova
