// TABSExpression and the small node classes: constants, columns, CAST, CASE / COALESCE,
// subqueries, system values and MIMETOBIN.
#include "engine/sql/ABSExpressions.h"

#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/TextCodec.h"
#include "engine/sql/ABSExprParser.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLSelect.h"

#include <array>

namespace kova {

// ---- Node base ---------------------------------------------------------------------------

TABSExprNode::~TABSExprNode() = default;

void TABSExprNode::Bind(const TABSBindContext& context) {
    for (auto& child : children_) child->Bind(context);
}

std::string_view OperatorName(int op) noexcept {
    switch (op) {
    case opEQ: return "=";
    case opNE: return "<>";
    case opGT: return ">";
    case opLT: return "<";
    case opGE: return ">=";
    case opLE: return "<=";
    case opNOT: return "NOT";
    case opAND: return "AND";
    case opOR: return "OR";
    case opLIKE: return "LIKE";
    case opNOTLIKE: return "NOT LIKE";
    case opISNULL: return "IS NULL";
    case opISNOTNULL: return "IS NOT NULL";
    case opADD: return "+";
    case opNEGATE: return "-";
    case opMUL: return "*";
    case opDIV: return "/";
    case opCONCAT: return "||";
    case opUPPER: return "UPPER";
    case opLOWER: return "LOWER";
    case opTRIM: return "TRIM";
    case opLTRIM: return "LTRIM";
    case opRTRIM: return "RTRIM";
    case opSUM: return "SUM";
    case opAVG: return "AVG";
    case opMIN: return "MIN";
    case opMAX: return "MAX";
    case opCOUNT: return "COUNT";
    case opCOUNTALL: return "COUNT(*)";
    default: return "unknown";
    }
}

bool IsTextDateOrTimeType(TABSBaseType type) noexcept { return IsTextType(type) || IsDateTimeKind(type); }

// ---- Constants and columns ---------------------------------------------------------------

TABSExprNodeConst::TABSExprNodeConst(TABSVariant value, bool fromParameter)
    : TABSExprNode(opNone), fromParameter_(fromParameter) {
    value_ = std::move(value);
    resultType_ = value_.BaseType();
    resultSize_ = IsTextType(resultType_) && !value_.IsNull() ? value_.TextLength() : 0;
}

void TABSExprNodeConst::Bind(const TABSBindContext&) {}

TABSExprNodeField::TABSExprNodeField(std::string qualifier, std::string name)
    : TABSExprNode(opNone), qualifier_(std::move(qualifier)), name_(std::move(name)) {}

void TABSExprNodeField::Bind(const TABSBindContext& context) {
    std::optional<TABSColumnInfo> column;
    if (context.rows) column = context.rows->FindColumn(qualifier_, name_);
    if (!column) {
        const std::string full = qualifier_.empty() ? name_ : qualifier_ + "." + name_;
        RaiseError(sqlerr::kFieldNotFound, sqlerr::kFieldNotFoundMsg, {full});
    }
    rows_ = context.rows;
    index_ = column->index;
    resultType_ = column->type;
    resultSize_ = column->size;
}

const TABSVariant& TABSExprNodeField::Evaluate() {
    if (!rows_) RaiseError(sqlerr::kFieldNotFound, sqlerr::kFieldNotFoundMsg, {name_});
    return rows_->ColumnValue(index_);
}

// ---- CAST --------------------------------------------------------------------------------

TABSExprNodeCast::TABSExprNodeCast(Ptr value, TABSBaseType target, int size)
    : TABSExprNode(opNone), target_(target), size_(size) {
    AddChild(std::move(value));
    resultType_ = target;
    resultSize_ = size;
}

void TABSExprNodeCast::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    if (resultSize_ == 0 && IsTextType(target_)) resultSize_ = children_[0]->ResultSize();
}

const TABSVariant& TABSExprNodeCast::Evaluate() {
    value_ = children_[0]->Evaluate();
    value_.ConvertTo(target_);
    // A sized text type keeps as many characters as its size.
    if (size_ > 0 && !value_.IsNull() && IsAnsiTextType(target_) &&
        Utf8Length(value_.TextData()) > static_cast<std::size_t>(size_)) {
        const std::string cut(Utf8Prefix(value_.TextData(), static_cast<std::size_t>(size_)));
        value_.SetAsString(cut, target_);
    }
    return value_;
}

// ---- CASE and COALESCE -------------------------------------------------------------------

TABSExprNodeCase::TABSExprNodeCase(Form form, bool hasElse) : TABSExprNode(opNone), form_(form), hasElse_(hasElse) {}

void TABSExprNodeCase::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    // The first result decides the type (the THEN values, or the first COALESCE argument).
    const std::size_t first = form_ == Form::Coalesce ? 0 : (form_ == Form::Simple ? 2 : 1);
    if (first < children_.size()) {
        resultType_ = children_[first]->ResultType();
        resultSize_ = children_[first]->ResultSize();
    }
}

const TABSVariant& TABSExprNodeCase::Result(const TABSVariant& v) {
    value_ = v;
    return value_;
}

const TABSVariant& TABSExprNodeCase::Evaluate() {
    const std::size_t n = children_.size();
    if (form_ == Form::Coalesce) {
        for (auto& child : children_) {
            const TABSVariant& v = child->Evaluate();
            if (!v.IsNull()) return Result(v);
        }
        value_ = TABSVariant(resultType_);
        return value_;
    }
    const std::size_t pairsEnd = hasElse_ ? n - 1 : n;
    if (form_ == Form::Simple) {
        const TABSVariant input = children_[0]->Evaluate();
        for (std::size_t i = 1; i + 2 <= pairsEnd; i += 2) {
            const TABSVariant& match = children_[i]->Evaluate();
            if (TABSExprNodeComparison::Apply(opEQ, CompareValues(input, match, ignoreCase_, false), true) == 1) {
                return Result(children_[i + 1]->Evaluate());
            }
        }
    } else {
        for (std::size_t i = 0; i + 2 <= pairsEnd; i += 2) {
            const TABSVariant& condition = children_[i]->Evaluate();
            if (!condition.IsNull() && condition.GetAsBoolean()) return Result(children_[i + 1]->Evaluate());
        }
    }
    if (hasElse_) return Result(children_[n - 1]->Evaluate());
    value_ = TABSVariant(resultType_);
    return value_;
}

// ---- Subqueries and system values ---------------------------------------------------------

TABSExprNodeSubquery::TABSExprNodeSubquery(std::unique_ptr<TABSQueryExpr> query)
    : TABSExprNode(opNone), query_(std::move(query)) {}

TABSExprNodeSubquery::~TABSExprNodeSubquery() = default;

void TABSExprNodeSubquery::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    environment_ = context.environment;
}

std::unique_ptr<TABSSubqueryRows> TABSExprNodeSubquery::Run() {
    if (!environment_) RaiseError(sqlerr::kNotAvailable, sqlerr::kNotAvailableMsg, {"subquery"});
    return environment_->RunSubquery(*query_);
}

const TABSVariant& TABSExprNodeSubquery::Evaluate() {
    auto rows = Run();
    if (rows->Next() && rows->ColumnCount() > 0) {
        value_ = rows->Value(0);
    } else {
        value_.SetNull();
    }
    resultType_ = value_.BaseType();
    return value_;
}

TABSExprNodeSystem::TABSExprNodeSystem(int op, std::string table, std::string column)
    : TABSExprNode(op), table_(std::move(table)), column_(std::move(column)) {
    resultType_ = op == opROWNUM ? TABSBaseType::bftInteger : TABSBaseType::bftLargeInt;
}

void TABSExprNodeSystem::Bind(const TABSBindContext& context) { environment_ = context.environment; }

const TABSVariant& TABSExprNodeSystem::Evaluate() {
    if (!environment_) {
        RaiseError(sqlerr::kNotAvailable, sqlerr::kNotAvailableMsg, {op_ == opROWNUM ? "ROWNUM" : "LASTAUTOINC"});
    }
    if (op_ == opROWNUM) {
        value_.SetAsInteger(static_cast<std::int32_t>(environment_->RowNumber()));
    } else if (op_ == opLASTAUTOINC) {
        value_.SetAsLargeInt(environment_->LastAutoInc(table_, column_));
    } else {
        RaiseError(sqlerr::kUnknownFunctionOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
    return value_;
}

// ---- MIMETOBIN ---------------------------------------------------------------------------

std::string DecodeMimeBase64(std::string_view text) {
    auto sextet = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    // Keep the alphabet and "=", then pad to a multiple of four.
    std::string clean;
    clean.reserve(text.size() + 3);
    for (const char c : text) {
        if (sextet(c) >= 0 || c == '=') clean.push_back(c);
    }
    while (clean.size() % 4 != 0) clean.push_back('=');
    std::string out;
    out.reserve(clean.size() / 4 * 3);
    for (std::size_t i = 0; i < clean.size(); i += 4) {
        std::array<int, 4> v{};
        int valid = 0;
        for (int k = 0; k < 4; ++k) {
            v[static_cast<std::size_t>(k)] = sextet(clean[i + static_cast<std::size_t>(k)]);
            if (v[static_cast<std::size_t>(k)] < 0) break;
            ++valid;
        }
        if (valid < 2) continue;
        const unsigned bits = (static_cast<unsigned>(v[0]) << 18) | (static_cast<unsigned>(v[1]) << 12) |
                              (valid > 2 ? static_cast<unsigned>(v[2]) << 6 : 0u) |
                              (valid > 3 ? static_cast<unsigned>(v[3]) : 0u);
        out.push_back(static_cast<char>((bits >> 16) & 0xFF));
        if (valid > 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (valid > 3) out.push_back(static_cast<char>(bits & 0xFF));
    }
    return out;
}

void TABSExprNodeBlob::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    resultType_ = TABSBaseType::bftString;
}

const TABSVariant& TABSExprNodeBlob::Evaluate() {
    const TABSVariant& text = children_[0]->Evaluate();
    if (text.IsNull()) {
        value_ = TABSVariant(TABSBaseType::bftString);
        return value_;
    }
    value_.SetAsString(DecodeMimeBase64(text.GetAsString()));
    return value_;
}

// ---- TABSExpression ----------------------------------------------------------------------

namespace {

template <class Visit>
void Walk(const TABSExprNode* node, Visit&& visit) {
    if (!node) return;
    visit(node);
    for (const auto& child : node->Children()) Walk(child.get(), visit);
}

} // namespace

TABSExpression::TABSExpression(std::unique_ptr<TABSExprNode> root, TABSExprOptions options)
    : root_(std::move(root)), options_(options) {
    Walk(root_.get(), [this](const TABSExprNode* node) {
        if (node->NodeClass() == TABSExprNodeClass::Aggregated) {
            aggregates_.push_back(const_cast<TABSExprNodeAggregated*>(static_cast<const TABSExprNodeAggregated*>(node)));
        }
    });
}

TABSExpression::~TABSExpression() = default;

std::unique_ptr<TABSExpression> TABSExpression::ParseCondition(TABSSQLParser& parser, TABSExprOptions options) {
    const std::size_t start = parser.Pos();
    TABSExprParser grammar(parser, options);
    auto root = grammar.Condition();
    if (!root || !TABSExprParser::CanBeBoolean(*root)) {
        parser.SetPos(start);
        parser.Fail(sqlerr::kBooleanExpected, sqlerr::kBooleanExpectedMsg);
    }
    return std::make_unique<TABSExpression>(std::move(root), options);
}

std::unique_ptr<TABSExpression> TABSExpression::ParseValue(TABSSQLParser& parser, TABSExprOptions options) {
    TABSExprParser grammar(parser, options);
    auto root = grammar.Value();
    if (!root) return nullptr;
    return std::make_unique<TABSExpression>(std::move(root), options);
}

std::unique_ptr<TABSExpression> TABSExpression::ParseFilter(std::string_view text, std::span<const TABSSQLParam> params,
                                                            TABSExprOptions options) {
    std::vector<std::string> names;
    names.reserve(params.size());
    for (const auto& param : params) names.push_back(param.Name());
    TABSLexer lexer(text, names);
    if (lexer.StatementCount() == 0) RaiseError(sqlerr::kBlankCommand, sqlerr::kBlankCommandMsg);
    TABSSQLParser parser(lexer.Statement(0), params);
    auto expression = ParseCondition(parser, options);
    parser.ExpectEnd();
    return expression;
}

std::unique_ptr<TABSExpression> TABSExpression::MakeLocateCondition(std::span<const std::string> columns,
                                                                    std::span<const TABSVariant> values,
                                                                    bool ignoreCase, bool partialKey) {
    TABSExprOptions options;
    options.ignoreCase = ignoreCase;
    options.partialKey = partialKey;
    options.sqlNullSemantics = false;
    std::vector<TABSExprNode::Ptr> equalities;
    for (std::size_t i = 0; i < columns.size() && i < values.size(); ++i) {
        auto field = std::make_unique<TABSExprNodeField>(std::string(), columns[i]);
        auto constant = std::make_unique<TABSExprNodeConst>(values[i]);
        auto comparison = std::make_unique<TABSExprNodeComparison>(opEQ, std::move(field), std::move(constant), false);
        comparison->SetFlags(ignoreCase, partialKey);
        equalities.push_back(std::move(comparison));
    }
    if (equalities.empty()) return std::make_unique<TABSExpression>(nullptr, options);
    if (equalities.size() == 1) return std::make_unique<TABSExpression>(std::move(equalities.front()), options);
    auto node = std::make_unique<TABSExprNodeBoolean>(opAND);
    for (auto& equality : equalities) node->AddChild(std::move(equality));
    return std::make_unique<TABSExpression>(std::move(node), options);
}

std::unique_ptr<TABSExpression> TABSExpression::And(std::unique_ptr<TABSExpression> a, std::unique_ptr<TABSExpression> b) {
    if (!a || a->IsEmpty()) return b;
    if (!b || b->IsEmpty()) return a;
    const TABSExprOptions options = a->options_;
    auto node = std::make_unique<TABSExprNodeBoolean>(opAND);
    node->AddChild(a->ReleaseRoot());
    node->AddChild(b->ReleaseRoot());
    return std::make_unique<TABSExpression>(std::move(node), options);
}

void TABSExpression::Bind(const TABSRowSource* rows, TABSExprEnvironment* environment) {
    if (root_) root_->Bind(TABSBindContext{rows, environment});
}

const TABSVariant& TABSExpression::Evaluate() { return root_->Evaluate(); }

bool TABSExpression::IsTrue() {
    if (!root_) return true;
    const TABSVariant& v = root_->Evaluate();
    return !v.IsNull() && v.GetAsBoolean();
}

bool TABSExpression::IsBoolean() const noexcept { return root_ && TABSExprParser::CanBeBoolean(*root_); }

bool TABSExpression::IsConstant() const noexcept {
    if (!root_) return false;
    bool constant = true;
    Walk(root_.get(), [&](const TABSExprNode* node) {
        switch (node->NodeClass()) {
        case TABSExprNodeClass::Field:
        case TABSExprNodeClass::Aggregated:
        case TABSExprNodeClass::Subquery:
        case TABSExprNodeClass::System:
        case TABSExprNodeClass::DateFunction:
            constant = constant && node->NodeClass() == TABSExprNodeClass::DateFunction &&
                       (node->Op() == opTODATE || node->Op() == opTOSTRING || node->Op() == opEXTRACT);
            break;
        default:
            break;
        }
    });
    return constant;
}

const TABSExprNodeField* TABSExpression::SingleColumn() const noexcept {
    return root_ && root_->NodeClass() == TABSExprNodeClass::Field ? static_cast<const TABSExprNodeField*>(root_.get())
                                                                    : nullptr;
}

bool TABSExpression::HasAggregates() const noexcept { return !aggregates_.empty(); }

std::vector<const TABSExprNodeField*> TABSExpression::Fields() const {
    std::vector<const TABSExprNodeField*> fields;
    Walk(root_.get(), [&](const TABSExprNode* node) {
        if (node->NodeClass() == TABSExprNodeClass::Field) fields.push_back(static_cast<const TABSExprNodeField*>(node));
    });
    return fields;
}

std::vector<TABSExprNodeAggregated*> TABSExpression::Aggregates() { return aggregates_; }

void TABSExpression::ResetAggregates() {
    for (auto* aggregate : aggregates_) aggregate->Reset();
}

void TABSExpression::AccumulateAggregates() {
    for (auto* aggregate : aggregates_) aggregate->Accumulate();
}

TABSBaseType TABSExpression::ResultType() const noexcept {
    return root_ ? root_->ResultType() : TABSBaseType::bftUnknown;
}

int TABSExpression::ResultSize() const noexcept { return root_ ? root_->ResultSize() : 0; }

} // namespace kova
