// The expression grammar, from the loosest binding to the tightest:
//
//   condition  := and-term { OR and-term }
//   and-term   := not-term { AND not-term }              (one AND node with all operands)
//   not-term   := [NOT] is-term
//   is-term    := predicate [IS [NOT] (TRUE | FALSE | UNKNOWN)]
//   predicate  := TRUE | FALSE | EXISTS "(" query ")" | value op [ANY|SOME|ALL] "(" query ")"
//               | value op value | value [NOT] LIKE value [ESCAPE value] | value IS [NOT] NULL
//               | value [NOT] BETWEEN value AND value | value [NOT] IN "(" (query | values) ")"
//               | "(" condition ")" | value
//   value      := additive (not followed by "||") | date-expr | date-function | text-expr
//               | TRUE | FALSE | NULL | MIMETOBIN "(" value ")"
//   additive   := term { ("+" | "-") term }               (one "+" node; "-" negates its term)
//   term       := factor { ("*" | "/") factor }
//   factor     := ["+" | "-"] primary                     (a non-numeric constant is refused)
//   text-expr  := text-factor { ("||" | "+") text-factor }  (one concatenation node)
#include "engine/sql/ABSExprParser.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/FormatSettings.h"
#include "engine/core/TextCodec.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLSelect.h"

#include <algorithm>
#include <charconv>

namespace kova {
namespace {

using Ptr = TABSExprNode::Ptr;

[[nodiscard]] bool IsNumericType(TABSBaseType t) noexcept {
    return IsIntegerType(t) || IsFloatType(t) || t == TABSBaseType::bftCurrency;
}

[[nodiscard]] const TABSExprNodeConst* AsConst(const TABSExprNode* node) noexcept {
    return node && node->NodeClass() == TABSExprNodeClass::Const ? static_cast<const TABSExprNodeConst*>(node)
                                                                   : nullptr;
}

[[nodiscard]] bool IsField(const TABSExprNode* node) noexcept {
    return node && node->NodeClass() == TABSExprNodeClass::Field;
}

// A constant that arithmetic refuses: text, dates, booleans, binary values.
[[nodiscard]] bool IsNonNumericConst(const TABSExprNode* node) noexcept {
    const auto* c = AsConst(node);
    if (!c) return false;
    const TABSBaseType t = c->Value().BaseType();
    return t != TABSBaseType::bftUnknown && !IsNumericType(t);
}

[[nodiscard]] int ComparisonOp(const TABSToken* t) noexcept {
    if (!t || t->kind != TokenKind::Word || t->quoted) return opNone;
    if (t->text == "=") return opEQ;
    if (t->text == "<>") return opNE;
    if (t->text == ">") return opGT;
    if (t->text == "<") return opLT;
    if (t->text == ">=") return opGE;
    if (t->text == "<=") return opLE;
    return opNone;
}

// The operator with its operands swapped: a < b is b > a.
[[nodiscard]] int MirrorOp(int op) noexcept {
    switch (op) {
    case opGT: return opLT;
    case opLT: return opGT;
    case opGE: return opLE;
    case opLE: return opGE;
    default: return op;
    }
}

[[nodiscard]] bool IsOperatorSymbol(const TABSToken& t) noexcept {
    if (t.kind != TokenKind::Word || t.quoted) return false;
    static constexpr std::string_view kSymbols[] = {"=", "<>", "<", ">", "<=", ">=", "+", "-", "*", "/", "||", "|"};
    return std::find(std::begin(kSymbols), std::end(kSymbols), t.text) != std::end(kSymbols);
}

[[nodiscard]] bool IsNameToken(const TABSToken* t) noexcept {
    if (!t) return false;
    if (t->kind == TokenKind::BracketName) return true;
    return t->kind == TokenKind::Word && !IsOperatorSymbol(*t);
}

} // namespace

TABSExprParser::TABSExprParser(TABSSQLParser& parser, TABSExprOptions options)
    : p_(parser), options_(options), valueFailed_(parser.Tokens().Size() + 1, 0) {}

bool TABSExprParser::CanBeBoolean(const TABSExprNode& node) noexcept {
    switch (node.NodeClass()) {
    case TABSExprNodeClass::Comparison:
    case TABSExprNodeClass::Boolean:
    case TABSExprNodeClass::Field:
    case TABSExprNodeClass::Case:
    case TABSExprNodeClass::Subquery:
        return true;
    case TABSExprNodeClass::Const: {
        const TABSBaseType t = static_cast<const TABSExprNodeConst&>(node).Value().BaseType();
        return t == TABSBaseType::bftLogical;
    }
    case TABSExprNodeClass::Cast:
        return static_cast<const TABSExprNodeCast&>(node).Target() == TABSBaseType::bftLogical;
    default:
        return false;
    }
}

void TABSExprParser::FailBoolean() const { p_.Fail(sqlerr::kBooleanExpected, sqlerr::kBooleanExpectedMsg); }

// ---- Conditions ---------------------------------------------------------------------------

Ptr TABSExprParser::Condition() {
    Ptr left = AndTerm();
    if (!left) return nullptr;
    while (p_.IsKw(kwOR)) {
        const TABSToken& at = *p_.Cur();
        p_.Next();
        Ptr right = AndTerm();
        if (!right) FailBoolean();
        auto node = Make<TABSExprNodeBoolean>(at, opOR);
        node->AddChild(std::move(left));
        node->AddChild(std::move(right));
        left = std::move(node);
    }
    return left;
}

Ptr TABSExprParser::AndTerm() {
    Ptr first = NotTerm();
    if (!first || !p_.IsKw(kwAND)) return first;
    auto node = Make<TABSExprNodeBoolean>(*p_.Cur(), opAND);
    node->AddChild(std::move(first));
    while (p_.AcceptKw(kwAND)) {
        Ptr next = NotTerm();
        if (!next) FailBoolean();
        node->AddChild(std::move(next));
    }
    return node;
}

Ptr TABSExprParser::NotTerm() {
    if (!p_.IsKw(kwNOT)) return IsTerm();
    const TABSToken& at = *p_.Cur();
    p_.Next();
    Ptr inner = IsTerm();
    if (!inner) FailBoolean();
    auto node = Make<TABSExprNodeBoolean>(at, opNOT);
    node->AddChild(std::move(inner));
    return node;
}

Ptr TABSExprParser::IsTerm() {
    Ptr predicate = Predicate();
    if (!predicate || !p_.IsKw(kwIS)) return predicate;
    const TABSToken& at = *p_.Cur();
    p_.Next();
    const bool negated = p_.AcceptKw(kwNOT);
    auto wrap = [&](int op) {
        auto node = Make<TABSExprNodeBoolean>(at, op);
        node->AddChild(std::move(predicate));
        return Ptr(std::move(node));
    };
    if (p_.AcceptKw(kwTRUE)) return negated ? wrap(opNOT) : std::move(predicate);
    if (p_.AcceptKw(kwFALSE)) return negated ? std::move(predicate) : wrap(opNOT);
    if (p_.AcceptKw(kwUNKNOWN)) return wrap(negated ? opISNOTNULL : opISNULL);
    p_.FailTokenExpected("TRUE, FALSE or UNKNOWN");
}

Ptr TABSExprParser::Predicate() {
    const std::size_t start = p_.Pos();
    const TABSToken* t = p_.Cur();
    if (!t) return nullptr;

    if (t->IsKeyword(kwTRUE) || t->IsKeyword(kwFALSE)) {
        TABSVariant v;
        v.SetAsBoolean(t->IsKeyword(kwTRUE));
        p_.Next();
        return Make<TABSExprNodeConst>(*t, std::move(v));
    }
    if (t->kind == TokenKind::Parameter) {
        if (const TABSSQLParam* param = p_.ParamOf(*t); param && param->BaseType() == TABSBaseType::bftLogical) {
            p_.Next();
            return Make<TABSExprNodeConst>(*t, TABSVariant(*param), true);
        }
    }
    if (t->IsKeyword(kwEXISTS)) {
        p_.Next();
        p_.ExpectKind(TokenKind::OpenParen, "(");
        auto query = sqlgrammar::ParseQuery(p_);
        if (!p_.AcceptKind(TokenKind::CloseParen)) p_.FailAt(sqlerr::kMissingParen, sqlerr::kMissingParenMsg);
        auto subquery = Make<TABSExprNodeSubquery>(*t, std::move(query));
        auto node = Make<TABSExprNodeBoolean>(*t, opEXISTS);
        node->AddChild(std::move(subquery));
        return node;
    }

    if (Ptr value = Value()) return PredicateAfterValue(std::move(value));

    if (t->kind == TokenKind::OpenParen) {
        p_.Next();
        Ptr inner = Condition();
        if (inner && p_.AcceptKind(TokenKind::CloseParen)) return inner;
        p_.SetPos(start);
    }
    return nullptr;
}

Ptr TABSExprParser::PredicateAfterValue(Ptr value) {
    const std::size_t afterValue = p_.Pos();
    const TABSToken* t = p_.Cur();
    if (!t) return value;

    if (const int op = ComparisonOp(t); op != opNone) {
        p_.Next();
        const TABSToken* q = p_.Cur();
        if (q && (q->IsKeyword(kwANY) || q->IsKeyword(kwSOME) || q->IsKeyword(kwALL)) && p_.Peek() &&
            p_.Peek()->kind == TokenKind::OpenParen) {
            const TABSQuantifier quantifier = q->IsKeyword(kwALL) ? TABSQuantifier::All : TABSQuantifier::Any;
            p_.Next();
            p_.Next();
            auto query = sqlgrammar::ParseQuery(p_);
            p_.ExpectKind(TokenKind::CloseParen, ")");
            auto subquery = Make<TABSExprNodeSubquery>(*q, std::move(query));
            auto node = Make<TABSExprNodeComparison>(*t, op, std::move(value), std::move(subquery),
                                                     options_.sqlNullSemantics, quantifier);
            return node;
        }
        if (Ptr right = Value()) return MakeComparison(op, std::move(value), std::move(right));
        p_.SetPos(afterValue);
        return value;
    }

    bool negate = false;
    if (t->IsKeyword(kwNOT)) {
        const TABSToken* n = p_.Peek();
        if (n && (n->IsKeyword(kwLIKE) || n->IsKeyword(kwBETWEEN) || n->IsKeyword(kwIN))) {
            negate = true;
            p_.Next();
            t = p_.Cur();
        }
    }

    if (t->IsKeyword(kwLIKE)) {
        p_.Next();
        Ptr pattern = Value();
        if (!pattern) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
        Ptr escape;
        if (p_.AcceptKw(kwESCAPE)) {
            escape = Value();
            if (!escape) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
        }
        return MakeLike(std::move(value), std::move(pattern), std::move(escape), negate);
    }

    if (t->IsKeyword(kwIS) && !negate) {
        p_.Next();
        const bool isNot = p_.AcceptKw(kwNOT);
        if (p_.IsKw(kwNULL)) {
            p_.Next();
            auto node = Make<TABSExprNodeBoolean>(*t, isNot ? opISNOTNULL : opISNULL);
            node->AddChild(std::move(value));
            return node;
        }
        // IS [NOT] TRUE / FALSE / UNKNOWN belongs to the is-term.
        p_.SetPos(afterValue);
        return value;
    }

    if (t->IsKeyword(kwBETWEEN)) {
        p_.Next();
        Ptr low = Value();
        if (!low) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
        p_.ExpectKw(kwAND);
        Ptr high = Value();
        if (!high) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
        auto node = Make<TABSExprNodeBoolean>(*t, negate ? opNOTBETWEEN : opBETWEEN);
        node->SetSqlNullSemantics(options_.sqlNullSemantics);
        node->AddChild(std::move(value));
        node->AddChild(std::move(low));
        node->AddChild(std::move(high));
        return node;
    }

    if (t->IsKeyword(kwIN)) {
        p_.Next();
        const TABSToken* open = p_.Cur();
        p_.ExpectKind(TokenKind::OpenParen, "(");
        auto node = Make<TABSExprNodeBoolean>(*t, negate ? opNOTIN : opIN);
        node->SetSqlNullSemantics(options_.sqlNullSemantics);
        node->AddChild(std::move(value));
        if (sqlgrammar::StartsQuery(p_)) {
            auto query = sqlgrammar::ParseQuery(p_);
            node->AddChild(Make<TABSExprNodeSubquery>(*open, std::move(query)));
        } else {
            do {
                Ptr item = Value();
                if (!item) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
                node->AddChild(std::move(item));
            } while (p_.AcceptKind(TokenKind::Comma));
        }
        p_.ExpectKind(TokenKind::CloseParen, ")");
        return node;
    }

    if (negate) p_.SetPos(afterValue);
    return value;
}

Ptr TABSExprParser::MakeComparison(int op, Ptr left, Ptr right) {
    const auto* leftConst = AsConst(left.get());
    const auto* rightConst = AsConst(right.get());
    const bool leftField = IsField(left.get());
    const bool rightField = IsField(right.get());
    const TABSSourcePos pos = left->Pos();

    // A column compared with "=" or "<>" to a null text, date or time constant (the empty
    // literal among them) becomes IS NULL / IS NOT NULL of the column.
    auto isNullTextConst = [](const TABSExprNodeConst* c) {
        return c && c->Value().IsNull() && IsTextDateOrTimeType(c->Value().BaseType());
    };
    if (op == opEQ || op == opNE) {
        Ptr* column = nullptr;
        if (leftField && isNullTextConst(rightConst)) column = &left;
        if (rightField && isNullTextConst(leftConst)) column = &right;
        if (column) {
            auto node = std::make_unique<TABSExprNodeBoolean>(op == opEQ ? opISNULL : opISNOTNULL);
            node->SetPos(pos);
            node->SetFlags(options_.ignoreCase, false);
            node->AddChild(std::move(*column));
            return node;
        }
    }

    // Filters with the partial-key option: a text constant ending in "*" is a prefix. The
    // prefix is moved to the right, where the partial comparison expects it.
    bool partial = false;
    if (options_.partialKey) {
        auto isStarConst = [](const TABSExprNodeConst* c) {
            return c && !c->Value().IsNull() && IsTextType(c->Value().BaseType()) &&
                   !c->Value().TextData().empty() && c->Value().TextData().back() == '*';
        };
        if (isStarConst(leftConst) && !isStarConst(rightConst)) {
            std::swap(left, right);
            op = MirrorOp(op);
        }
        if (auto* c = AsConst(right.get()); isStarConst(c)) {
            auto* mutableConst = static_cast<TABSExprNodeConst*>(right.get());
            std::string text = mutableConst->Value().TextData();
            text.pop_back();
            mutableConst->MutableValue().SetAsString(text, mutableConst->Value().BaseType());
            partial = true;
        }
    }

    // SQL null semantics except between a column and a text, date or time constant or a null
    // constant (so that "Name <> 'x'" holds for a null Name, as the application expects).
    const auto* lc = AsConst(left.get());
    const auto* rc = AsConst(right.get());
    auto isLooseConst = [](const TABSExprNodeConst* c) {
        return c && (c->Value().IsNull() || IsTextDateOrTimeType(c->Value().BaseType()));
    };
    const bool loose = (IsField(left.get()) && isLooseConst(rc)) || (IsField(right.get()) && isLooseConst(lc));
    const bool sqlNull = options_.sqlNullSemantics && !loose;
    auto node = std::make_unique<TABSExprNodeComparison>(op, std::move(left), std::move(right), sqlNull);
    node->SetPos(pos);
    node->SetFlags(options_.ignoreCase, partial);
    return node;
}

Ptr TABSExprParser::MakeLike(Ptr value, Ptr pattern, Ptr escape, bool negate) {
    const TABSSourcePos pos = value->Pos();
    if (escape) {
        if (const auto* c = AsConst(escape.get())) {
            if (c->Value().IsNull() || Utf8Length(c->Value().GetAsString()) != 1) {
                RaiseError(sqlerr::kEscapeLength, sqlerr::kEscapeLengthMsg, {escape->Pos().line, escape->Pos().column});
            }
        }
    }
    // A constant prefix pattern ("abc%") against a column becomes a prefix comparison.
    const auto* patternConst = AsConst(pattern.get());
    if (!escape && IsField(value.get()) && patternConst && !patternConst->Value().IsNull() &&
        IsAnsiTextType(patternConst->Value().BaseType())) {
        const std::string& text = patternConst->Value().TextData();
        const bool prefixForm = Utf8Length(text) >= 2 && text.back() == '%' &&
                                std::count(text.begin(), text.end(), '%') == 1 &&
                                text.find('_') == std::string::npos;
        if (prefixForm) {
            TABSVariant prefix;
            prefix.SetAsString(std::string_view(text).substr(0, text.size() - 1));
            auto constant = std::make_unique<TABSExprNodeConst>(std::move(prefix));
            constant->SetPos(pattern->Pos());
            auto node = std::make_unique<TABSExprNodeComparison>(negate ? opNE : opEQ, std::move(value),
                                                                 std::move(constant), false);
            node->SetPos(pos);
            node->SetFlags(options_.ignoreCase, true);
            return node;
        }
    }
    auto node = std::make_unique<TABSExprNodeBoolean>(negate ? opNOTLIKE : opLIKE);
    node->SetPos(pos);
    node->SetFlags(options_.ignoreCase, false);
    node->AddChild(std::move(value));
    node->AddChild(std::move(pattern));
    if (escape) node->AddChild(std::move(escape));
    return node;
}

// ---- Values ------------------------------------------------------------------------------

Ptr TABSExprParser::Value() {
    const std::size_t start = p_.Pos();
    if (start >= valueFailed_.size() || valueFailed_[start] || !p_.Cur()) return nullptr;

    if (Ptr additive = Additive()) {
        if (!p_.IsSymbol("||")) return additive;
        p_.SetPos(start);
    }
    if (Ptr date = DateExpression()) return date;
    if (Ptr function = DateFunction()) return function;
    if (Ptr text = TextExpression()) return text;

    const TABSToken& t = *p_.Cur();
    if (t.IsKeyword(kwTRUE) || t.IsKeyword(kwFALSE)) {
        TABSVariant v;
        v.SetAsBoolean(t.IsKeyword(kwTRUE));
        p_.Next();
        return Make<TABSExprNodeConst>(t, std::move(v));
    }
    if (t.IsKeyword(kwNULL)) {
        p_.Next();
        return Make<TABSExprNodeConst>(t, TABSVariant(TABSBaseType::bftInteger));
    }
    if (Ptr blob = MimeToBin()) return blob;

    p_.SetPos(start);
    valueFailed_[start] = 1;
    return nullptr;
}

Ptr TABSExprParser::Additive() {
    const std::size_t start = p_.Pos();
    Ptr first = Term();
    if (!first) return nullptr;
    if (!p_.IsSymbol("+") && !p_.IsSymbol("-")) return first;
    auto node = Make<TABSExprNodeArithmetic>(*p_.Cur(), opADD);
    node->SetPos(first->Pos());
    node->AddChild(std::move(first));
    while (p_.IsSymbol("+") || p_.IsSymbol("-")) {
        const TABSToken& op = *p_.Cur();
        const bool minus = op.text == "-";
        p_.Next();
        Ptr term = Term();
        if (!term) {
            p_.SetPos(start);
            return nullptr;
        }
        if (minus) {
            auto negate = Make<TABSExprNodeArithmetic>(op, opNEGATE);
            negate->AddChild(std::move(term));
            term = std::move(negate);
        }
        node->AddChild(std::move(term));
    }
    return node;
}

Ptr TABSExprParser::Term() {
    const std::size_t start = p_.Pos();
    Ptr left = Factor();
    if (!left) return nullptr;
    while (p_.IsSymbol("*") || p_.IsSymbol("/")) {
        const TABSToken& op = *p_.Cur();
        p_.Next();
        Ptr right = Factor();
        if (!right) {
            p_.SetPos(start);
            return nullptr;
        }
        auto node = Make<TABSExprNodeArithmetic>(op, op.text == "*" ? opMUL : opDIV);
        node->SetPos(left->Pos());
        node->AddChild(std::move(left));
        node->AddChild(std::move(right));
        left = std::move(node);
    }
    return left;
}

Ptr TABSExprParser::Factor() {
    const std::size_t start = p_.Pos();
    const TABSToken* sign = nullptr;
    if (p_.IsSymbol("+") || p_.IsSymbol("-")) {
        sign = p_.Cur();
        p_.Next();
    }
    Ptr primary = Primary(true);
    if (!primary) {
        p_.SetPos(start);
        return nullptr;
    }
    if (sign && sign->text == "-") {
        auto negate = Make<TABSExprNodeArithmetic>(*sign, opNEGATE);
        negate->AddChild(std::move(primary));
        return negate;
    }
    return primary;
}

Ptr TABSExprParser::Primary(bool numericOnly) {
    const std::size_t start = p_.Pos();
    const TABSToken* t = p_.Cur();
    if (!t) return nullptr;
    Ptr node;
    switch (t->kind) {
    case TokenKind::Integer:
    case TokenKind::Float:
        node = NumberLiteral(*t);
        break;
    case TokenKind::String: {
        TABSVariant v(TABSBaseType::bftString);
        v.SetAsString(t->text);
        node = Make<TABSExprNodeConst>(*t, std::move(v));
        p_.Next();
        break;
    }
    case TokenKind::Parameter:
        node = ParameterConst(*t);
        break;
    case TokenKind::OpenParen:
        if (sqlgrammar::StartsQuery(p_)) {
            node = Subquery();
        } else {
            p_.Next();
            Ptr inner = Value();
            if (inner && p_.AcceptKind(TokenKind::CloseParen)) node = std::move(inner);
        }
        break;
    case TokenKind::Word:
    case TokenKind::BracketName:
        node = ColumnReference();
        break;
    case TokenKind::Keyword:
        switch (t->keyword) {
        case kwNULL:
            p_.Next();
            node = Make<TABSExprNodeConst>(*t, TABSVariant(TABSBaseType::bftInteger));
            break;
        case kwDATE:
        case kwTIME:
        case kwTIMESTAMP:
            node = DateLiteral();
            break;
        case kwCOUNT:
        case kwSUM:
        case kwAVG:
        case kwMIN:
        case kwMAX:
            node = Aggregate();
            break;
        case kwCOALESCE:
            node = Coalesce();
            break;
        case kwCASE:
            node = CaseExpression();
            break;
        case kwCAST:
            node = Cast();
            break;
        case kwPOS:
        case kwPOSITION:
            node = PositionFunction();
            break;
        case kwEXTRACT:
            node = ExtractFunction();
            break;
        case kwLENGTH:
            node = LengthFunction();
            break;
        case kwLASTAUTOINC:
        case kwROWNUM:
            node = SystemFunction();
            break;
        default:
            if (NumericFunctionOp(t->keyword) != opNone) node = NumericFunction();
            break;
        }
        break;
    default:
        break;
    }
    if (!node || (numericOnly && IsNonNumericConst(node.get()))) {
        p_.SetPos(start);
        return nullptr;
    }
    return node;
}

Ptr TABSExprParser::NumberLiteral(const TABSToken& t) {
    TABSVariant v;
    const char* first = t.text.data();
    const char* last = first + t.text.size();
    if (t.kind == TokenKind::Integer) {
        std::int64_t value = 0;
        const auto [end, ec] = std::from_chars(first, last, value);
        if (ec != std::errc() || end != last) RaiseError(sqlerr::kConvertError, sqlerr::kInvalidIntegerMsg, {t.text});
        // Literals up to 2 147 483 646 are Integers, larger ones 64-bit.
        if (value <= 2147483646) {
            v.SetAsInteger(static_cast<std::int32_t>(value));
        } else {
            v.SetAsLargeInt(value);
        }
    } else {
        const auto value = TryTextToFloat(t.text);
        if (!value) RaiseError(sqlerr::kConvertError, sqlerr::kInvalidFloatMsg, {t.text});
        v.SetAsDouble(static_cast<double>(*value));
    }
    p_.Next();
    return Make<TABSExprNodeConst>(t, std::move(v));
}

Ptr TABSExprParser::ParameterConst(const TABSToken& t) {
    const TABSSQLParam* param = p_.ParamOf(t);
    if (!param) RaiseError(sqlerr::kParamNotFound, sqlerr::kParamNotFoundMsg, {t.text});
    p_.Next();
    return Make<TABSExprNodeConst>(t, TABSVariant(*param), true);
}

Ptr TABSExprParser::ColumnReference() {
    const TABSToken* t = p_.Cur();
    if (!IsNameToken(t)) return nullptr;
    const TABSToken* next = p_.Peek();
    if (next && next->kind == TokenKind::OpenParen) return nullptr;
    if (next && next->kind == TokenKind::Dot) {
        // qualifier "." column; "t.*" is no column (the select list reads it).
        const TABSToken* column = p_.Peek(2);
        if (!column || !(IsNameToken(column) || column->kind == TokenKind::Keyword)) return nullptr;
        const TABSToken* after = p_.Peek(3);
        if (after && after->kind == TokenKind::OpenParen) return nullptr;
        p_.Next();
        p_.Next();
        p_.Next();
        return Make<TABSExprNodeField>(*t, std::string(t->text), std::string(column->text));
    }
    p_.Next();
    return Make<TABSExprNodeField>(*t, std::string(), std::string(t->text));
}

Ptr TABSExprParser::Subquery() {
    const TABSToken& open = *p_.Cur();
    p_.Next();
    auto query = sqlgrammar::ParseQuery(p_);
    p_.ExpectKind(TokenKind::CloseParen, ")");
    return Make<TABSExprNodeSubquery>(open, std::move(query));
}

} // namespace kova
