// The expression node classes, one per node family. Parsing builds them (ABSExprParser.cpp);
// each family evaluates in its own source file.
#pragma once

#include "engine/sql/ABSDateFormat.h"
#include "engine/sql/ABSExprNode.h"

#include <memory>
#include <string>
#include <vector>

namespace kova {

// A literal or parameter value.
class TABSExprNodeConst final : public TABSExprNode {
public:
    explicit TABSExprNodeConst(TABSVariant value, bool fromParameter = false);
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Const; }
    const TABSVariant& Evaluate() override { return value_; }
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] const TABSVariant& Value() const noexcept { return value_; }
    [[nodiscard]] TABSVariant& MutableValue() noexcept { return value_; }
    [[nodiscard]] bool FromParameter() const noexcept { return fromParameter_; }

private:
    bool fromParameter_;
};

// A column of the current row, by optional qualifier (table or alias) and name.
class TABSExprNodeField final : public TABSExprNode {
public:
    TABSExprNodeField(std::string qualifier, std::string name);
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Field; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] const std::string& Qualifier() const noexcept { return qualifier_; }
    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    [[nodiscard]] bool IsBound() const noexcept { return rows_ != nullptr; }
    [[nodiscard]] std::size_t ColumnIndex() const noexcept { return index_; }

private:
    std::string qualifier_;
    std::string name_;
    const TABSRowSource* rows_ = nullptr;
    std::size_t index_ = 0;
};

enum class TABSQuantifier : std::uint8_t { None, All, Any };

// Comparison (codes 1..6). Children: left, right; with a quantifier the right child is a
// subquery node and the comparison holds for all (ALL) or at least one (ANY, SOME) of its rows.
class TABSExprNodeComparison final : public TABSExprNode {
public:
    TABSExprNodeComparison(int op, Ptr left, Ptr right, bool sqlNullSemantics,
                           TABSQuantifier quantifier = TABSQuantifier::None);
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Comparison; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] bool SqlNullSemantics() const noexcept { return sqlNull_; }
    [[nodiscard]] TABSQuantifier Quantifier() const noexcept { return quantifier_; }

    // The outcome of the operator for one comparison result: 1 true, 0 false, -1 null.
    [[nodiscard]] static int Apply(int op, TABSCompareResult result, bool sqlNullSemantics);

private:
    bool sqlNull_;
    TABSQuantifier quantifier_;
};

// Logic and predicates (codes 7..18).
//   NOT: child; AND: all operands; OR: two operands; IN / NOT IN: value, then the list values or
//   one subquery node; EXISTS: subquery node; BETWEEN: value, low, high; LIKE: value, pattern
//   [, escape]; IS [NOT] NULL: value.
class TABSExprNodeBoolean final : public TABSExprNode {
public:
    explicit TABSExprNodeBoolean(int op) : TABSExprNode(op) {}
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Boolean; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    // SQL null semantics of the comparisons that IN and BETWEEN make.
    void SetSqlNullSemantics(bool on) noexcept { sqlNull_ = on; }

private:
    [[nodiscard]] int EvaluateTruth();  // 1 true, 0 false, -1 null
    [[nodiscard]] int EvaluateIn();
    [[nodiscard]] int EvaluateBetween();
    [[nodiscard]] int EvaluateLike();

    bool sqlNull_ = true;
};

// LIKE matching of one value against a pattern: "%" any sequence, "_" one character, the escape
// character makes the next pattern character literal; other characters compare through the
// locale collation one at a time. `escape` 0 means none.
[[nodiscard]] bool MatchLikePattern(std::string_view text, std::string_view pattern, char32_t escape,
                                    bool ignoreCase);

enum class TABSRoundMode : std::uint8_t { HalfEven, HalfPos, HalfNeg, HalfDown, HalfUp, RndNeg, RndPos, RndDown, RndUp };

// ROUND of a value to `digits` decimal places (negative: tens, hundreds ...) by a mode, with the
// tolerance that lets decimal halves and wholes that binary floating point cannot hold round as
// written. Infinite and not-a-number values come back unchanged.
[[nodiscard]] double RoundValue(double value, int digits, TABSRoundMode mode) noexcept;

// Arithmetic (codes 21..24) and numeric functions (50..65). "+": all operands in order (terms
// after "-" are negate nodes); "*", "/": two operands; negate: one.
class TABSExprNodeArithmetic final : public TABSExprNode {
public:
    explicit TABSExprNodeArithmetic(int op) : TABSExprNode(op) {}
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Arithmetic; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    void SetRoundMode(TABSRoundMode mode) noexcept { roundMode_ = mode; }
    [[nodiscard]] TABSRoundMode RoundMode() const noexcept { return roundMode_; }

private:
    void EvaluateFunction();

    TABSRoundMode roundMode_ = TABSRoundMode::HalfEven;
};

// Text functions (codes 25..33).
class TABSExprNodeStringFunction final : public TABSExprNode {
public:
    explicit TABSExprNodeStringFunction(int op) : TABSExprNode(op) {}
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override {
        return TABSExprNodeClass::StringFunction;
    }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;
};

// Aggregates (codes 34..39). Execution drives them per group: Reset at a group's start,
// Accumulate for each of its rows, then Evaluate gives the group's result.
class TABSExprNodeAggregated final : public TABSExprNode {
public:
    TABSExprNodeAggregated(int op, bool distinct);
    ~TABSExprNodeAggregated() override;
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Aggregated; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] bool Distinct() const noexcept { return distinct_; }
    void Reset();
    // Evaluates the argument for the current row and folds it in.
    void Accumulate();

private:
    [[nodiscard]] bool SeenBefore(const TABSVariant& value);

    bool distinct_;
    std::int64_t count_ = 0;
    bool haveValue_ = false;
    TABSVariant accumulator_;
    long double floatSum_ = 0;
    std::int64_t integerSum_ = 0;
    bool integerSumUsed_ = false;
    bool floatSumUsed_ = false;
    std::vector<TABSVariant> seen_;
};

// Date functions (codes 40..45).
class TABSExprNodeDateFunction final : public TABSExprNode {
public:
    explicit TABSExprNodeDateFunction(int op) : TABSExprNode(op) {}
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override {
        return TABSExprNodeClass::DateFunction;
    }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    // TODATE / TOSTRING.
    void SetFormat(std::string_view format) { formater_ = std::make_unique<TDateFormater>(format); }
    [[nodiscard]] const TDateFormater* Formater() const noexcept { return formater_.get(); }
    // EXTRACT: the part keyword (YEAR ... SECOND).
    void SetExtractPart(TABSKeyword part) noexcept { extractPart_ = part; }
    [[nodiscard]] TABSKeyword ExtractPart() const noexcept { return extractPart_; }

private:
    std::unique_ptr<TDateFormater> formater_;
    TABSKeyword extractPart_ = kwNone;
};

// LASTAUTOINC (47) and ROWNUM (49).
class TABSExprNodeSystem final : public TABSExprNode {
public:
    explicit TABSExprNodeSystem(int op, std::string table = {}, std::string column = {});
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::System; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

private:
    std::string table_;
    std::string column_;
    TABSExprEnvironment* environment_ = nullptr;
};

// MIMETOBIN (48): Base64 text to bytes.
class TABSExprNodeBlob final : public TABSExprNode {
public:
    TABSExprNodeBlob() : TABSExprNode(opMIMETOBIN) {}
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Blob; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;
};

// Decodes MIME Base64: characters outside the alphabet are dropped, the rest is padded with "="
// to a multiple of four and decoded.
[[nodiscard]] std::string DecodeMimeBase64(std::string_view text);

// CAST(value AS type).
class TABSExprNodeCast final : public TABSExprNode {
public:
    TABSExprNodeCast(Ptr value, TABSBaseType target, int size);
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Cast; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] TABSBaseType Target() const noexcept { return target_; }

private:
    TABSBaseType target_;
    int size_;
};

// CASE and COALESCE.
//   Simple CASE:   children input, when1, then1, when2, then2, ... [, else]
//   Searched CASE: children cond1, then1, cond2, then2, ... [, else]
//   COALESCE:      the arguments
class TABSExprNodeCase final : public TABSExprNode {
public:
    enum class Form : std::uint8_t { Simple, Searched, Coalesce };
    TABSExprNodeCase(Form form, bool hasElse);
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Case; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] Form GetForm() const noexcept { return form_; }

private:
    [[nodiscard]] const TABSVariant& Result(const TABSVariant& v);

    Form form_;
    bool hasElse_;
};

// A subquery: scalar (first column of the first row, null without rows) or the operand of IN,
// EXISTS and quantified comparisons, which read its rows.
class TABSExprNodeSubquery final : public TABSExprNode {
public:
    explicit TABSExprNodeSubquery(std::unique_ptr<TABSQueryExpr> query);
    ~TABSExprNodeSubquery() override;
    [[nodiscard]] TABSExprNodeClass NodeClass() const noexcept override { return TABSExprNodeClass::Subquery; }
    const TABSVariant& Evaluate() override;
    void Bind(const TABSBindContext& context) override;

    [[nodiscard]] const TABSQueryExpr& Query() const noexcept { return *query_; }
    // Runs the query; raises when no environment can run it.
    [[nodiscard]] std::unique_ptr<TABSSubqueryRows> Run();

private:
    std::unique_ptr<TABSQueryExpr> query_;
    TABSExprEnvironment* environment_ = nullptr;
};

} // namespace kova
