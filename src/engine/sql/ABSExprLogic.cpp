// Comparisons, logic and predicates with three-valued logic, and LIKE matching.
//
// Truth values are handled as 1 (true), 0 (false) and -1 (null); a node's value is a Logical
// that is null for -1.
#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSSQLErrors.h"

namespace kova {
namespace {

[[nodiscard]] int Truth(const TABSVariant& v) {
    if (v.IsNull()) return -1;
    return v.GetAsBoolean() ? 1 : 0;
}

void SetTruth(TABSVariant& value, int truth) {
    if (truth < 0) {
        value.SetType(TABSBaseType::bftLogical);
    } else {
        value.SetAsBoolean(truth == 1);
    }
}

[[nodiscard]] int Not3(int t) noexcept { return t < 0 ? -1 : 1 - t; }

[[nodiscard]] int And3(int a, int b) noexcept {
    if (a == 0 || b == 0) return 0;
    if (a < 0 || b < 0) return -1;
    return 1;
}

// One UTF-8 character at `pos`: its code point and byte length (a broken sequence is one byte).
struct Utf8Char {
    char32_t code;
    std::size_t length;
};

[[nodiscard]] Utf8Char DecodeAt(std::string_view s, std::size_t pos) noexcept {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    std::size_t length = 1;
    char32_t code = b0;
    if (b0 >= 0xC0 && b0 < 0xE0) {
        length = 2;
        code = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        length = 3;
        code = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 < 0xF8) {
        length = 4;
        code = b0 & 0x07u;
    }
    if (pos + length > s.size()) return Utf8Char{b0, 1};
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0u) != 0x80u) return Utf8Char{b0, 1};
        code = (code << 6) | (b & 0x3Fu);
    }
    return Utf8Char{code, length};
}

// Two characters are equal when the collation says so. Distinct ASCII characters never
// collate equal, which spares the collator most calls.
[[nodiscard]] bool SameCharacter(std::string_view text, Utf8Char t, std::string_view pattern, Utf8Char p,
                                 bool ignoreCase) {
    if (t.code == p.code) return true;
    if (t.code < 0x80 && p.code < 0x80) {
        if (!ignoreCase) return false;
        auto lower = [](char32_t c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
        return lower(t.code) == lower(p.code);
    }
    return CompareText(text.substr(0, t.length), pattern.substr(0, p.length), ignoreCase) == 0;
}

} // namespace

bool MatchLikePattern(std::string_view text, std::string_view pattern, char32_t escape, bool ignoreCase) {
    std::size_t ti = 0;
    std::size_t pi = 0;
    std::size_t starText = std::string_view::npos;
    std::size_t starPattern = std::string_view::npos;
    while (ti < text.size()) {
        const Utf8Char tc = DecodeAt(text, ti);
        if (pi < pattern.size()) {
            Utf8Char pc = DecodeAt(pattern, pi);
            std::size_t patternStep = pc.length;
            bool literal = false;
            if (escape != 0 && pc.code == escape && pi + pc.length < pattern.size()) {
                // The escape character makes the next pattern character literal.
                pc = DecodeAt(pattern, pi + pc.length);
                patternStep += pc.length;
                literal = true;
            }
            if (!literal && pc.code == U'%') {
                starPattern = pi + patternStep;
                starText = ti;
                pi = starPattern;
                continue;
            }
            const std::size_t pcStart = pi + patternStep - pc.length;
            if ((!literal && pc.code == U'_') ||
                SameCharacter(text.substr(ti), tc, pattern.substr(pcStart), pc, ignoreCase)) {
                ti += tc.length;
                pi += patternStep;
                continue;
            }
        }
        if (starPattern == std::string_view::npos) return false;
        // Let the last "%" swallow one more character and try again from there.
        starText += DecodeAt(text, starText).length;
        ti = starText;
        pi = starPattern;
    }
    while (pi < pattern.size() && pattern[pi] == '%') ++pi;
    return pi == pattern.size();
}

// ---- Comparison --------------------------------------------------------------------------

TABSExprNodeComparison::TABSExprNodeComparison(int op, Ptr left, Ptr right, bool sqlNullSemantics,
                                               TABSQuantifier quantifier)
    : TABSExprNode(op), sqlNull_(sqlNullSemantics), quantifier_(quantifier) {
    AddChild(std::move(left));
    AddChild(std::move(right));
    resultType_ = TABSBaseType::bftLogical;
}

void TABSExprNodeComparison::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    resultType_ = TABSBaseType::bftLogical;
}

int TABSExprNodeComparison::Apply(int op, TABSCompareResult result, bool sqlNullSemantics) {
    int order = 0;
    if (IsNullResult(result)) {
        if (sqlNullSemantics) return -1;
        // Without SQL null semantics two nulls are equal and a null is less than any value.
        order = NullsFirstOrder(result);
    } else {
        order = static_cast<int>(result);
    }
    switch (op) {
    case opEQ: return order == 0 ? 1 : 0;
    case opNE: return order != 0 ? 1 : 0;
    case opGT: return order > 0 ? 1 : 0;
    case opLT: return order < 0 ? 1 : 0;
    case opGE: return order >= 0 ? 1 : 0;
    case opLE: return order <= 0 ? 1 : 0;
    default: RaiseError(sqlerr::kUnknownComparisonOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op)});
    }
}

const TABSVariant& TABSExprNodeComparison::Evaluate() {
    if (quantifier_ == TABSQuantifier::None) {
        const TABSVariant& left = children_[0]->Evaluate();
        const TABSVariant& right = children_[1]->Evaluate();
        SetTruth(value_, Apply(op_, CompareValues(left, right, ignoreCase_, partial_), sqlNull_));
        return value_;
    }
    const TABSVariant left = children_[0]->Evaluate();
    auto& subquery = static_cast<TABSExprNodeSubquery&>(*children_[1]);
    auto rows = subquery.Run();
    const bool all = quantifier_ == TABSQuantifier::All;
    int result = all ? 1 : 0;
    while (rows->Next()) {
        const int t = Apply(op_, CompareValues(left, rows->Value(0), ignoreCase_, partial_), sqlNull_);
        if (all && t == 0) {
            result = 0;
            break;
        }
        if (!all && t == 1) {
            result = 1;
            break;
        }
        if (t < 0) result = -1;
    }
    SetTruth(value_, result);
    return value_;
}

// ---- Boolean -----------------------------------------------------------------------------

void TABSExprNodeBoolean::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    resultType_ = TABSBaseType::bftLogical;
}

const TABSVariant& TABSExprNodeBoolean::Evaluate() {
    SetTruth(value_, EvaluateTruth());
    return value_;
}

int TABSExprNodeBoolean::EvaluateTruth() {
    switch (op_) {
    case opNOT: return Not3(Truth(children_[0]->Evaluate()));
    case opAND: {
        int result = 1;
        for (auto& child : children_) {
            const int t = Truth(child->Evaluate());
            if (t == 0) return 0;
            if (t < 0) result = -1;
        }
        return result;
    }
    case opOR: {
        int result = 0;
        for (auto& child : children_) {
            const int t = Truth(child->Evaluate());
            if (t == 1) return 1;
            if (t < 0) result = -1;
        }
        return result;
    }
    case opIN: return EvaluateIn();
    case opNOTIN: return Not3(EvaluateIn());
    case opEXISTS: {
        auto rows = static_cast<TABSExprNodeSubquery&>(*children_[0]).Run();
        return rows->Next() ? 1 : 0;
    }
    case opBETWEEN: return EvaluateBetween();
    case opNOTBETWEEN: return Not3(EvaluateBetween());
    case opLIKE: return EvaluateLike();
    case opNOTLIKE: return Not3(EvaluateLike());
    case opISNULL: return children_[0]->Evaluate().IsNull() ? 1 : 0;
    case opISNOTNULL: return children_[0]->Evaluate().IsNull() ? 0 : 1;
    default: RaiseError(sqlerr::kUnknownBooleanOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
}

int TABSExprNodeBoolean::EvaluateIn() {
    int result = 0;
    if (children_.size() == 2 && children_[1]->NodeClass() == TABSExprNodeClass::Subquery) {
        const TABSVariant value = children_[0]->Evaluate();
        auto rows = static_cast<TABSExprNodeSubquery&>(*children_[1]).Run();
        while (rows->Next()) {
            const int t = TABSExprNodeComparison::Apply(opEQ, CompareValues(value, rows->Value(0), ignoreCase_), sqlNull_);
            if (t == 1) return 1;
            if (t < 0) result = -1;
        }
        return result;
    }
    const TABSVariant& value = children_[0]->Evaluate();
    for (std::size_t i = 1; i < children_.size(); ++i) {
        const int t = TABSExprNodeComparison::Apply(opEQ, CompareValues(value, children_[i]->Evaluate(), ignoreCase_),
                                                    sqlNull_);
        if (t == 1) return 1;
        if (t < 0) result = -1;
    }
    return result;
}

int TABSExprNodeBoolean::EvaluateBetween() {
    const TABSVariant& value = children_[0]->Evaluate();
    const int low = TABSExprNodeComparison::Apply(opGE, CompareValues(value, children_[1]->Evaluate(), ignoreCase_),
                                                  sqlNull_);
    const int high = TABSExprNodeComparison::Apply(opLE, CompareValues(value, children_[2]->Evaluate(), ignoreCase_),
                                                   sqlNull_);
    return And3(low, high);
}

int TABSExprNodeBoolean::EvaluateLike() {
    const TABSVariant& value = children_[0]->Evaluate();
    const TABSVariant& pattern = children_[1]->Evaluate();
    if (value.BaseType() != TABSBaseType::bftUnknown && pattern.BaseType() != TABSBaseType::bftUnknown &&
        !IsTextType(CommonType(value.BaseType(), pattern.BaseType(), TCommonTypeUse::Comparison))) {
        RaiseError(sqlerr::kNotStringArgument, sqlerr::kNotStringArgumentMsg, {"LIKE"});
    }
    if (pattern.IsNull() || value.IsNull()) return -1;
    char32_t escape = 0;
    if (children_.size() > 2) {
        const TABSVariant& escapeValue = children_[2]->Evaluate();
        if (!escapeValue.IsNull()) {
            const std::string text = escapeValue.GetAsString();
            if (text.empty() || DecodeAt(text, 0).length != text.size()) {
                RaiseError(sqlerr::kEscapeLength, sqlerr::kEscapeLengthMsg, {children_[2]->Pos().line, children_[2]->Pos().column});
            }
            escape = DecodeAt(text, 0).code;
        }
    }
    const bool textValue = IsAnsiTextType(value.BaseType());
    const bool textPattern = IsAnsiTextType(pattern.BaseType());
    const std::string valueText = textValue ? std::string() : value.GetAsString();
    const std::string patternText = textPattern ? std::string() : pattern.GetAsString();
    return MatchLikePattern(textValue ? std::string_view(value.TextData()) : std::string_view(valueText),
                            textPattern ? std::string_view(pattern.TextData()) : std::string_view(patternText), escape,
                            ignoreCase_)
               ? 1
               : 0;
}

} // namespace kova
