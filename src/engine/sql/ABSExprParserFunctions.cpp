// The expression grammar's date and text rules and its functions: date literals and date
// functions, text functions, aggregates, CASE and COALESCE, CAST, the numeric functions with
// ROUND's modes, POS / POSITION, EXTRACT, LENGTH, the system values and MIMETOBIN.
#include "engine/sql/ABSExprParser.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/FormatSettings.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLSelect.h"

#include <algorithm>

namespace kova {
namespace {

using Ptr = TABSExprNode::Ptr;

struct FunctionEntry {
    TABSKeyword keyword;
    int op;
};

constexpr FunctionEntry kNumericFunctions[] = {
    {kwABS, opABS},     {kwACOS, opACOS}, {kwASIN, opASIN},   {kwATAN, opATAN},   {kwCEIL, opCEIL},
    {kwCOS, opCOS},     {kwEXP, opEXP},   {kwFLOOR, opFLOOR}, {kwLOG, opLOG},     {kwPOWER, opPOWER},
    {kwRAND, opRAND},   {kwROUND, opROUND}, {kwSIGN, opSIGN}, {kwSIN, opSIN},     {kwSQR, opSQR},
    {kwSQRT, opSQRT},
};

[[nodiscard]] int FindNumericFunction(TABSKeyword k) noexcept {
    for (const auto& e : kNumericFunctions) {
        if (e.keyword == k) return e.op;
    }
    return opNone;
}

constexpr FunctionEntry kRoundModes[] = {
    {kwHALFEVEN, static_cast<int>(TABSRoundMode::HalfEven)}, {kwHALFPOS, static_cast<int>(TABSRoundMode::HalfPos)},
    {kwHALFNEG, static_cast<int>(TABSRoundMode::HalfNeg)},   {kwHALFDOWN, static_cast<int>(TABSRoundMode::HalfDown)},
    {kwHALFUP, static_cast<int>(TABSRoundMode::HalfUp)},     {kwRNDNEG, static_cast<int>(TABSRoundMode::RndNeg)},
    {kwRNDPOS, static_cast<int>(TABSRoundMode::RndPos)},     {kwRNDDOWN, static_cast<int>(TABSRoundMode::RndDown)},
    {kwRNDUP, static_cast<int>(TABSRoundMode::RndUp)},
};

} // namespace

int TABSExprParser::NumericFunctionOp(TABSKeyword keyword) noexcept { return FindNumericFunction(keyword); }

// ---- Dates -------------------------------------------------------------------------------

Ptr TABSExprParser::DateLiteral() {
    const TABSToken& kw = *p_.Cur();
    const TABSToken* text = p_.Peek();
    if (!text || text->kind != TokenKind::String) return nullptr;
    p_.Next();
    TABSVariant v;
    if (kw.IsKeyword(kwDATE)) {
        const auto date = TryParseIsoDate(text->text);
        if (!date) p_.FailTokenExpected("YYYY-MM-DD");
        v.SetAsDate(*date);
    } else if (kw.IsKeyword(kwTIME)) {
        const auto time = TryParseIsoTime(text->text);
        if (!time) p_.FailTokenExpected("HH:MM:SS");
        v.SetAsTime(*time);
    } else {
        const auto stamp = TryParseIsoDateTime(text->text);
        if (!stamp) p_.FailTokenExpected("YYYY-MM-DD HH:MM:SS");
        v.SetAsDateTime(*stamp);
    }
    p_.Next();
    return Make<TABSExprNodeConst>(kw, std::move(v));
}

Ptr TABSExprParser::DateOperand() {
    if (Ptr function = DateFunction()) return function;
    if (p_.IsKw(kwDATE) || p_.IsKw(kwTIME) || p_.IsKw(kwTIMESTAMP)) return DateLiteral();
    return nullptr;
}

Ptr TABSExprParser::DateExpression() {
    const std::size_t start = p_.Pos();
    Ptr operand = DateOperand();
    if (!operand) return nullptr;
    if (!p_.IsSymbol("+") && !p_.IsSymbol("-")) {
        p_.SetPos(start);
        return nullptr;
    }
    auto node = Make<TABSExprNodeArithmetic>(*p_.Cur(), opADD);
    node->SetPos(operand->Pos());
    node->AddChild(std::move(operand));
    while (p_.IsSymbol("+") || p_.IsSymbol("-")) {
        const TABSToken& op = *p_.Cur();
        p_.Next();
        Ptr term = Term();
        if (!term) {
            p_.SetPos(start);
            return nullptr;
        }
        if (op.text == "-") {
            auto negate = Make<TABSExprNodeArithmetic>(op, opNEGATE);
            negate->AddChild(std::move(term));
            term = std::move(negate);
        }
        node->AddChild(std::move(term));
    }
    return node;
}

Ptr TABSExprParser::DateFunction() {
    const TABSToken* t = p_.Cur();
    if (!t || t->kind != TokenKind::Keyword) return nullptr;
    int op = opNone;
    switch (t->keyword) {
    case kwNOW:
    case kwSYSDATE:
    case kwCURRENT_TIMESTAMP: op = opNOW; break;
    case kwCURRENT_DATE: op = opCURRENTDATE; break;
    case kwCURRENT_TIME: op = opCURRENTTIME; break;
    case kwTODATE: op = opTODATE; break;
    default: return nullptr;
    }
    p_.Next();
    auto node = Make<TABSExprNodeDateFunction>(*t, op);
    if (op != opTODATE) {
        // NOW() and the like: empty parentheses are allowed.
        if (p_.IsKind(TokenKind::OpenParen) && p_.Peek() && p_.Peek()->kind == TokenKind::CloseParen) {
            p_.Next();
            p_.Next();
        }
        return node;
    }
    OpenArguments();
    node->AddChild(RequiredArgument(t->text));
    p_.ExpectKind(TokenKind::Comma, ",");
    if (!p_.IsKind(TokenKind::String)) p_.Fail(sqlerr::kConstDateFormatExpected, sqlerr::kConstDateFormatExpectedMsg);
    node->SetFormat(p_.Cur()->text);
    p_.Next();
    CloseArguments();
    return node;
}

// ---- Text --------------------------------------------------------------------------------

Ptr TABSExprParser::TextExpression() {
    const std::size_t start = p_.Pos();
    Ptr first = TextFactor();
    if (!first) return nullptr;
    if (!p_.IsSymbol("||") && !p_.IsSymbol("+")) return first;
    auto node = Make<TABSExprNodeStringFunction>(*p_.Cur(), opCONCAT);
    node->SetPos(first->Pos());
    node->AddChild(std::move(first));
    while (p_.IsSymbol("||") || p_.IsSymbol("+")) {
        p_.Next();
        Ptr next = TextFactor();
        if (!next) {
            p_.SetPos(start);
            return nullptr;
        }
        node->AddChild(std::move(next));
    }
    return node;
}

Ptr TABSExprParser::TextFactor() {
    if (Ptr function = TextFunction()) return function;
    if (Ptr date = DateFunction()) return date;
    return Primary(false);
}

Ptr TABSExprParser::TextFunction() {
    const TABSToken* t = p_.Cur();
    if (!t || t->kind != TokenKind::Keyword) return nullptr;
    int op = opNone;
    switch (t->keyword) {
    case kwUPPER: op = opUPPER; break;
    case kwLOWER: op = opLOWER; break;
    case kwTRIM: op = opTRIM; break;
    case kwLTRIM: op = opLTRIM; break;
    case kwRTRIM: op = opRTRIM; break;
    case kwSUBSTRING: op = opSUBSTRING; break;
    case kwTOSTRING: op = opTOSTRING; break;
    default: return nullptr;
    }
    const std::string name(KeywordText(t->keyword));
    p_.Next();
    OpenArguments();
    if (op == opTOSTRING) {
        auto node = Make<TABSExprNodeDateFunction>(*t, opTOSTRING);
        node->AddChild(RequiredArgument(name));
        p_.ExpectKind(TokenKind::Comma, ",");
        if (!p_.IsKind(TokenKind::String)) p_.Fail(sqlerr::kConstDateFormatExpected, sqlerr::kConstDateFormatExpectedMsg);
        node->SetFormat(p_.Cur()->text);
        p_.Next();
        CloseArguments();
        return node;
    }
    auto node = Make<TABSExprNodeStringFunction>(*t, op);
    if (op == opSUBSTRING) {
        node->AddChild(RequiredArgument(name));
        if (!p_.AcceptKind(TokenKind::Comma) && !p_.AcceptKw(kwFROM)) p_.FailTokenExpected(",");
        node->AddChild(RequiredArgument(name));
        if (p_.AcceptKind(TokenKind::Comma) || p_.AcceptKw(kwFOR)) node->AddChild(RequiredArgument(name));
        CloseArguments();
        return node;
    }
    Ptr argument = TextExpression();
    if (!argument) {
        if (!p_.Cur() || p_.IsKind(TokenKind::CloseParen)) FailArgumentExpected(name);
        const TABSToken& bad = *p_.Cur();
        RaiseError(sqlerr::kStringArgExpected, sqlerr::kStringArgExpectedMsg, {name, bad.text, bad.line, bad.column});
    }
    node->AddChild(std::move(argument));
    CloseArguments();
    return node;
}

// ---- Functions ---------------------------------------------------------------------------

void TABSExprParser::OpenArguments() { p_.ExpectKind(TokenKind::OpenParen, "("); }

void TABSExprParser::CloseArguments() { p_.ExpectKind(TokenKind::CloseParen, ")"); }

Ptr TABSExprParser::RequiredArgument(std::string_view function) {
    Ptr argument = Value();
    if (!argument) FailArgumentExpected(function);
    return argument;
}

void TABSExprParser::FailArgumentExpected(std::string_view function) const {
    const TABSSourcePos pos = p_.Cur() ? TABSSourcePos{p_.Cur()->line, p_.Cur()->column}
                                       : TABSSourcePos{p_.Tokens().EndLine(), p_.Tokens().EndColumn()};
    RaiseError(sqlerr::kArgumentExpected, sqlerr::kArgumentExpectedMsg, {function, pos.line, pos.column});
}

Ptr TABSExprParser::Aggregate() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    p_.ExpectKind(TokenKind::OpenParen, "(");
    if (t.IsKeyword(kwCOUNT) && p_.IsSymbol("*")) {
        p_.Next();
        CloseArguments();
        return Make<TABSExprNodeAggregated>(t, opCOUNTALL, false);
    }
    bool distinct = false;
    if (p_.AcceptKw(kwDISTINCT)) {
        distinct = true;
    } else {
        (void)p_.AcceptKw(kwALL);
    }
    int op = opCOUNT;
    switch (t.keyword) {
    case kwSUM: op = opSUM; break;
    case kwAVG: op = opAVG; break;
    case kwMIN: op = opMIN; break;
    case kwMAX: op = opMAX; break;
    default: break;
    }
    auto node = Make<TABSExprNodeAggregated>(t, op, distinct);
    node->AddChild(RequiredArgument(KeywordText(t.keyword)));
    CloseArguments();
    return node;
}

Ptr TABSExprParser::CaseExpression() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    const bool searched = p_.IsKw(kwWHEN);
    std::vector<Ptr> parts;
    if (!searched) {
        Ptr input = Value();
        if (!input) p_.Fail(sqlerr::kCaseInputExpected, sqlerr::kCaseInputExpectedMsg);
        parts.push_back(std::move(input));
    }
    if (!p_.IsKw(kwWHEN)) p_.FailTokenExpected("WHEN");
    while (p_.AcceptKw(kwWHEN)) {
        if (searched) {
            const std::size_t conditionStart = p_.Pos();
            Ptr condition = Condition();
            if (!condition || !CanBeBoolean(*condition)) {
                p_.SetPos(conditionStart);
                p_.Fail(sqlerr::kCaseConditionExpected, sqlerr::kCaseConditionExpectedMsg);
            }
            parts.push_back(std::move(condition));
        } else {
            Ptr match = Value();
            if (!match) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
            parts.push_back(std::move(match));
        }
        p_.ExpectKw(kwTHEN);
        Ptr result = Value();
        if (!result) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
        parts.push_back(std::move(result));
    }
    bool hasElse = false;
    if (p_.AcceptKw(kwELSE)) {
        Ptr otherwise = Value();
        if (!otherwise) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
        parts.push_back(std::move(otherwise));
        hasElse = true;
    }
    p_.ExpectKw(kwEND);
    auto node = Make<TABSExprNodeCase>(t, searched ? TABSExprNodeCase::Form::Searched : TABSExprNodeCase::Form::Simple,
                                       hasElse);
    for (auto& part : parts) node->AddChild(std::move(part));
    return node;
}

Ptr TABSExprParser::Coalesce() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    OpenArguments();
    auto node = Make<TABSExprNodeCase>(t, TABSExprNodeCase::Form::Coalesce, false);
    if (p_.IsKind(TokenKind::CloseParen) || p_.AtEnd()) p_.FailAt(sqlerr::kCoalesceArgs, sqlerr::kCoalesceArgsMsg);
    do {
        node->AddChild(RequiredArgument("COALESCE"));
    } while (p_.AcceptKind(TokenKind::Comma));
    CloseArguments();
    return node;
}

Ptr TABSExprParser::Cast() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    OpenArguments();
    Ptr value = RequiredArgument("CAST");
    p_.ExpectKw(kwAS);
    const TABSToken* typeToken = p_.Cur();
    if (!typeToken || !(typeToken->kind == TokenKind::Word || typeToken->kind == TokenKind::Keyword)) {
        p_.Fail(sqlerr::kFieldTypeExpected, sqlerr::kFieldTypeExpectedMsg);
    }
    const TABSTypeInfo* info = FindTypeBySQLName(typeToken->text);
    if (!info) RaiseError(sqlerr::kCannotConvertExpr, sqlerr::kCannotConvertExprMsg, {typeToken->text});
    p_.Next();
    int size = 0;
    if (p_.AcceptKind(TokenKind::OpenParen)) {
        size = static_cast<int>(sqlgrammar::ReadInteger(p_, sqlerr::kDecimalExpected, sqlerr::kDecimalExpectedMsg));
        p_.ExpectKind(TokenKind::CloseParen, ")");
    }
    CloseArguments();
    return Make<TABSExprNodeCast>(t, std::move(value), info->baseType, size);
}

Ptr TABSExprParser::NumericFunction() {
    const TABSToken& t = *p_.Cur();
    const int op = NumericFunctionOp(t.keyword);
    const std::string_view name = KeywordText(t.keyword);
    p_.Next();
    OpenArguments();
    auto node = Make<TABSExprNodeArithmetic>(t, op);
    node->AddChild(RequiredArgument(name));
    if (op == opPOWER) {
        p_.ExpectKind(TokenKind::Comma, ",");
        node->AddChild(RequiredArgument(name));
    } else if (op == opROUND && p_.AcceptKind(TokenKind::Comma)) {
        node->AddChild(RequiredArgument(name));
        if (p_.AcceptKind(TokenKind::Comma)) {
            const TABSToken* mode = p_.Cur();
            bool found = false;
            for (const auto& entry : kRoundModes) {
                if (mode && mode->IsKeyword(entry.keyword)) {
                    node->SetRoundMode(static_cast<TABSRoundMode>(entry.op));
                    found = true;
                }
            }
            if (!found) p_.FailTokenExpected("HALFEVEN or HALFPOS or HALFNEG or HALFDOWN or HALFUP or RNDNEG or RNDPOS or RNDDOWN or RNDUP");
            p_.Next();
        }
    }
    CloseArguments();
    return node;
}

Ptr TABSExprParser::PositionFunction() {
    const TABSToken& t = *p_.Cur();
    const bool sqlForm = t.IsKeyword(kwPOSITION);
    const std::string_view name = KeywordText(t.keyword);
    p_.Next();
    OpenArguments();
    auto node = Make<TABSExprNodeStringFunction>(t, opPOS);
    node->AddChild(RequiredArgument(name));
    if (sqlForm) {
        p_.ExpectKw(kwIN);
    } else {
        p_.ExpectKind(TokenKind::Comma, ",");
    }
    node->AddChild(RequiredArgument(name));
    CloseArguments();
    return node;
}

Ptr TABSExprParser::ExtractFunction() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    OpenArguments();
    const TABSToken* part = p_.Cur();
    static constexpr TABSKeyword kParts[] = {kwYEAR, kwMONTH, kwDAY, kwHOUR, kwMINUTE, kwSECOND};
    if (!part || std::none_of(std::begin(kParts), std::end(kParts), [&](TABSKeyword k) { return part->IsKeyword(k); })) {
        p_.FailTokenExpected("YEAR or MONTH or DAY or HOUR or MINUTE or SECOND");
    }
    auto node = Make<TABSExprNodeDateFunction>(t, opEXTRACT);
    node->SetExtractPart(part->keyword);
    p_.Next();
    p_.ExpectKw(kwFROM);
    node->AddChild(RequiredArgument("EXTRACT"));
    CloseArguments();
    return node;
}

Ptr TABSExprParser::LengthFunction() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    OpenArguments();
    auto node = Make<TABSExprNodeStringFunction>(t, opLENGTH);
    node->AddChild(RequiredArgument("LENGTH"));
    CloseArguments();
    return node;
}

Ptr TABSExprParser::SystemFunction() {
    const TABSToken& t = *p_.Cur();
    p_.Next();
    if (t.IsKeyword(kwROWNUM)) {
        if (p_.IsKind(TokenKind::OpenParen) && p_.Peek() && p_.Peek()->kind == TokenKind::CloseParen) {
            p_.Next();
            p_.Next();
        }
        return Make<TABSExprNodeSystem>(t, opROWNUM);
    }
    OpenArguments();
    const std::string table = p_.ExpectName(nfWord | nfString | nfBracket, sqlerr::kTableNameExpected,
                                            sqlerr::kTableNameExpectedMsg);
    std::string column;
    if (p_.AcceptKind(TokenKind::Comma)) {
        column = p_.ExpectName(nfWord | nfString | nfBracket | nfKeyword, sqlerr::kFieldNameExpected,
                               sqlerr::kFieldNameExpectedMsg);
    }
    CloseArguments();
    return Make<TABSExprNodeSystem>(t, opLASTAUTOINC, table, column);
}

Ptr TABSExprParser::MimeToBin() {
    if (!p_.IsKw(kwMIMETOBIN)) return nullptr;
    const TABSToken& t = *p_.Cur();
    p_.Next();
    OpenArguments();
    auto node = Make<TABSExprNodeBlob>(t);
    node->AddChild(RequiredArgument("MIMETOBIN"));
    CloseArguments();
    return node;
}

} // namespace kova
