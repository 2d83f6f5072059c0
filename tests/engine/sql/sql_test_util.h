// Helpers shared by the SQL layer tests: a row source over a few named columns, expression
// parsing from text, and a compact rendering of expression trees.
#pragma once

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSLexer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kova::sqltest {

// A table row with typed columns, each optionally qualified by a table name.
class FakeRows final : public TABSRowSource {
public:
    struct Column {
        std::string qualifier;
        std::string name;
        TABSBaseType type;
        TABSVariant value;
    };

    std::size_t Add(std::string qualifier, std::string name, TABSBaseType type) {
        columns_.push_back(Column{std::move(qualifier), std::move(name), type, TABSVariant(type)});
        return columns_.size() - 1;
    }
    TABSVariant& Value(std::size_t index) { return columns_.at(index).value; }
    void SetText(std::size_t index, std::string_view text) {
        columns_.at(index).value = TABSVariant(columns_.at(index).type);
        columns_.at(index).value.SetAsString(text, columns_.at(index).type);
    }
    void SetInt(std::size_t index, std::int32_t v) { columns_.at(index).value.SetAsInteger(v); }
    void SetNull(std::size_t index) { columns_.at(index).value = TABSVariant(columns_.at(index).type); }

    std::optional<TABSColumnInfo> FindColumn(std::string_view qualifier, std::string_view name) const override {
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const auto& c = columns_[i];
            if (EqualsIgnoreCase(c.name, name) && (qualifier.empty() || EqualsIgnoreCase(c.qualifier, qualifier))) {
                return TABSColumnInfo{i, c.type, 0};
            }
        }
        return std::nullopt;
    }
    const TABSVariant& ColumnValue(std::size_t index) const override { return columns_.at(index).value; }

private:
    static bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
                return false;
            }
        }
        return true;
    }

    std::vector<Column> columns_;
};

// A condition parsed from its own text (the filter path: tokenize, condition, nothing after).
inline std::unique_ptr<TABSExpression> Condition(std::string_view text, TABSExprOptions options = {}) {
    return TABSExpression::ParseFilter(text, {}, options);
}

// A value expression parsed from its own text; fails the test when tokens remain.
inline std::unique_ptr<TABSExpression> Value(std::string_view text, TABSExprOptions options = {}) {
    TABSLexer lexer(text);
    TABSSQLParser parser(lexer.Statement(0), {});
    auto expression = TABSExpression::ParseValue(parser, options);
    EXPECT_TRUE(expression) << text;
    EXPECT_TRUE(parser.AtEnd()) << text << " stops at " << (parser.Cur() ? parser.Cur()->text : "");
    return expression;
}

inline std::string RenderValue(const TABSVariant& v) {
    if (v.IsNull()) return "null";
    if (IsTextType(v.BaseType())) return "'" + v.GetAsString() + "'";
    if (v.BaseType() == TABSBaseType::bftLogical) return v.GetAsBoolean() ? "true" : "false";
    return v.GetAsString();
}

// S-expression of a tree: (op child ...). Comparisons add "/p" when partial and "/n" when they
// do without SQL null semantics; the unary minus is "neg"; numeric functions "fNN".
inline std::string Render(const TABSExprNode& node) {
    std::string head;
    switch (node.NodeClass()) {
    case TABSExprNodeClass::Const: return RenderValue(static_cast<const TABSExprNodeConst&>(node).Value());
    case TABSExprNodeClass::Field: {
        const auto& f = static_cast<const TABSExprNodeField&>(node);
        return f.Qualifier().empty() ? f.Name() : f.Qualifier() + "." + f.Name();
    }
    case TABSExprNodeClass::Comparison: {
        const auto& c = static_cast<const TABSExprNodeComparison&>(node);
        head = std::string(OperatorName(c.Op()));
        if (c.Partial()) head += "/p";
        if (!c.SqlNullSemantics()) head += "/n";
        if (c.Quantifier() == TABSQuantifier::All) head += " ALL";
        if (c.Quantifier() == TABSQuantifier::Any) head += " ANY";
        break;
    }
    case TABSExprNodeClass::Arithmetic:
        head = node.Op() == opNEGATE ? "neg" : node.Op() >= opABS ? "f" + std::to_string(node.Op())
                                                                   : std::string(OperatorName(node.Op()));
        break;
    case TABSExprNodeClass::Boolean:
        switch (node.Op()) {
        case opIN: head = "IN"; break;
        case opNOTIN: head = "NOT IN"; break;
        case opEXISTS: head = "EXISTS"; break;
        case opBETWEEN: head = "BETWEEN"; break;
        case opNOTBETWEEN: head = "NOT BETWEEN"; break;
        default: head = std::string(OperatorName(node.Op())); break;
        }
        break;
    case TABSExprNodeClass::StringFunction:
        head = node.Op() == opCONCAT ? "||" : "op" + std::to_string(node.Op());
        break;
    case TABSExprNodeClass::Subquery: return "(subquery)";
    case TABSExprNodeClass::Case: head = "case"; break;
    case TABSExprNodeClass::Cast: head = "cast"; break;
    default: head = "op" + std::to_string(node.Op()); break;
    }
    std::string out = "(" + head;
    for (const auto& child : node.Children()) out += " " + Render(*child);
    return out + ")";
}

inline std::string Render(const TABSExpression& e) { return e.Root() ? Render(*e.Root()) : "<empty>"; }

// Runs `action` and returns "code: message" of the EABSException it raises ("no error" else).
template <class Action>
std::string ErrorOf(Action&& action) {
    try {
        action();
    } catch (const EABSException& e) {
        return std::to_string(e.NativeError()) + ": " + e.Message();
    }
    return "no error";
}

} // namespace kova::sqltest
