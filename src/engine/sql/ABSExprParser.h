// The expression grammar (internal to the SQL layer; TABSExpression is the public face).
//
// Alternatives are tried in a fixed order, going back to the saved token position when one
// fails; only definite faults (a function without its argument, an unknown CAST type ...)
// raise at once. A value that failed at a position fails there again, so that failure is
// remembered per position: nested parentheses, which first try a value and then a condition
// at every level, then stay linear.
#pragma once

#include "engine/sql/ABSExpressions.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace kova {

class TABSExprParser {
public:
    using Ptr = TABSExprNode::Ptr;

    TABSExprParser(TABSSQLParser& parser, TABSExprOptions options);

    // condition: and-term { OR and-term }; nullptr (no move) when none starts here.
    [[nodiscard]] Ptr Condition();
    // value expression; nullptr (no move) when none starts here.
    [[nodiscard]] Ptr Value();

    // Whether a node can stand as a condition: comparisons, predicates and logic, boolean
    // constants, and nodes whose type is only known when bound (columns, CASE, subqueries, CAST
    // to a boolean). Arithmetic, text and date results and other constants cannot.
    [[nodiscard]] static bool CanBeBoolean(const TABSExprNode& node) noexcept;

private:
    [[nodiscard]] Ptr AndTerm();
    [[nodiscard]] Ptr NotTerm();
    [[nodiscard]] Ptr IsTerm();
    [[nodiscard]] Ptr Predicate();
    [[nodiscard]] Ptr PredicateAfterValue(Ptr value);
    [[nodiscard]] Ptr Additive();
    [[nodiscard]] Ptr Term();
    [[nodiscard]] Ptr Factor();
    [[nodiscard]] Ptr Primary(bool numericOnly);
    [[nodiscard]] Ptr ColumnReference();
    [[nodiscard]] Ptr DateExpression();
    [[nodiscard]] Ptr DateOperand();
    [[nodiscard]] Ptr DateFunction();
    [[nodiscard]] Ptr DateLiteral();
    [[nodiscard]] Ptr TextExpression();
    [[nodiscard]] Ptr TextFactor();
    [[nodiscard]] Ptr TextFunction();
    [[nodiscard]] Ptr NumberLiteral(const TABSToken& token);
    [[nodiscard]] Ptr ParameterConst(const TABSToken& token);
    [[nodiscard]] Ptr Aggregate();
    [[nodiscard]] Ptr CaseExpression();
    [[nodiscard]] Ptr Coalesce();
    [[nodiscard]] Ptr Cast();
    [[nodiscard]] Ptr NumericFunction();
    [[nodiscard]] Ptr PositionFunction();
    [[nodiscard]] Ptr ExtractFunction();
    [[nodiscard]] Ptr LengthFunction();
    [[nodiscard]] Ptr SystemFunction();
    [[nodiscard]] Ptr MimeToBin();
    [[nodiscard]] Ptr Subquery();

    [[nodiscard]] Ptr MakeComparison(int op, Ptr left, Ptr right);
    [[nodiscard]] Ptr MakeLike(Ptr value, Ptr pattern, Ptr escape, bool negate);

    // Reads "(" for function `name`; the argument after it must parse (else "Argument expected
    // for function"); each further argument follows a ",".
    void OpenArguments();
    [[nodiscard]] Ptr RequiredArgument(std::string_view function);
    void CloseArguments();
    [[noreturn]] void FailBoolean() const;
    [[noreturn]] void FailArgumentExpected(std::string_view function) const;

    // The operator code of a numeric function keyword (opNone for others).
    [[nodiscard]] static int NumericFunctionOp(TABSKeyword keyword) noexcept;

    // A node placed at a token, with the expression's ignore-case flag.
    template <class Node, class... Args>
    [[nodiscard]] std::unique_ptr<Node> Make(const TABSToken& at, Args&&... args) const {
        auto node = std::make_unique<Node>(std::forward<Args>(args)...);
        node->SetPos(TABSSourcePos{at.line, at.column});
        node->SetFlags(options_.ignoreCase, false);
        return node;
    }

    TABSSQLParser& p_;
    TABSExprOptions options_;
    std::vector<std::uint8_t> valueFailed_;  // per token position: Value() failed there
};

} // namespace kova
