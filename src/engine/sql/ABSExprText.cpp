// Text functions: concatenation, case mapping, trimming, LENGTH, POS and SUBSTRING.
//
// Texts are UTF-8 inside the engine; positions and lengths count characters.
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/core/TextCodec.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSSQLErrors.h"

namespace kova {
namespace {

// Blanks and control characters: every character up to the blank in code order. UTF-8 keeps
// them single bytes, so trimming can work on bytes.
[[nodiscard]] bool IsTrimmed(char c) noexcept { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view TrimText(std::string_view text, bool left, bool right) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    if (left) {
        while (begin < end && IsTrimmed(text[begin])) ++begin;
    }
    if (right) {
        while (end > begin && IsTrimmed(text[end - 1])) --end;
    }
    return text.substr(begin, end - begin);
}

// Byte offset of the character with 0-based index `index` (the text's size when past the end).
std::size_t ByteOffsetOfChar(std::string_view text, std::size_t index) noexcept {
    return Utf8Prefix(text, index).size();
}

} // namespace

void TABSExprNodeStringFunction::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    switch (op_) {
    case opLENGTH:
    case opPOS: resultType_ = TABSBaseType::bftInteger; break;
    case opCONCAT: {
        resultType_ = TABSBaseType::bftString;
        resultSize_ = 0;
        for (const auto& child : children_) resultSize_ += child->ResultSize();
        break;
    }
    default: {
        const TABSBaseType childType = children_.front()->ResultType();
        resultType_ = IsTextType(childType) ? childType : TABSBaseType::bftString;
        resultSize_ = children_.front()->ResultSize();
        break;
    }
    }
}

const TABSVariant& TABSExprNodeStringFunction::Evaluate() {
    switch (op_) {
    case opCONCAT: {
        std::string text;
        for (auto& child : children_) {
            const TABSVariant& part = child->Evaluate();
            if (part.IsNull()) continue;
            if (IsAnsiTextType(part.BaseType())) {
                text += part.TextData();
            } else {
                text += part.GetAsString();
            }
        }
        value_.SetAsString(text);
        return value_;
    }
    case opLENGTH: {
        const TABSVariant& v = children_.front()->Evaluate();
        if (v.IsNull()) {
            value_.SetAsInteger(0);
        } else if (IsAnsiTextType(v.BaseType())) {
            value_.SetAsInteger(static_cast<std::int32_t>(Utf8Length(v.TextData())));
        } else {
            value_.SetAsInteger(static_cast<std::int32_t>(Utf8Length(v.GetAsString())));
        }
        return value_;
    }
    case opPOS: {
        const TABSVariant& needleValue = children_[0]->Evaluate();
        const std::string needle = needleValue.GetAsString();
        const std::string haystack = children_[1]->Evaluate().GetAsString();
        const std::size_t at = needle.empty() ? std::string::npos : haystack.find(needle);
        value_.SetAsInteger(at == std::string::npos
                                ? 0
                                : static_cast<std::int32_t>(Utf8Length(std::string_view(haystack).substr(0, at)) + 1));
        return value_;
    }
    case opSUBSTRING: {
        const TABSVariant& source = children_[0]->Evaluate();
        const TABSVariant& startValue = children_[1]->Evaluate();
        if (source.IsNull() || startValue.IsNull()) {
            value_ = TABSVariant(TABSBaseType::bftString);
            return value_;
        }
        const std::string text = source.GetAsString();
        std::int64_t start = startValue.GetAsLargeInt();
        if (start < 1) start = 1;
        const std::size_t total = Utf8Length(text);
        std::int64_t count = static_cast<std::int64_t>(total);
        if (children_.size() > 2) {
            const TABSVariant& lengthValue = children_[2]->Evaluate();
            if (lengthValue.IsNull()) {
                value_ = TABSVariant(TABSBaseType::bftString);
                return value_;
            }
            count = lengthValue.GetAsLargeInt();
        }
        if (count <= 0 || static_cast<std::size_t>(start) > total) {
            value_ = TABSVariant(TABSBaseType::bftString);
            return value_;
        }
        const std::size_t from = ByteOffsetOfChar(text, static_cast<std::size_t>(start - 1));
        const std::string_view rest = std::string_view(text).substr(from);
        value_.SetAsString(Utf8Prefix(rest, static_cast<std::size_t>(count)));
        return value_;
    }
    case opUPPER:
    case opLOWER:
    case opTRIM:
    case opLTRIM:
    case opRTRIM: {
        const TABSVariant& v = children_.front()->Evaluate();
        const TABSBaseType type = IsTextType(v.BaseType()) ? v.BaseType() : TABSBaseType::bftString;
        if (v.IsNull()) {
            value_ = TABSVariant(type);
            return value_;
        }
        if (IsWideTextType(v.BaseType()) || v.BaseType() == TABSBaseType::bftWideMemo) {
            const std::u16string& wide = v.WideData();
            if (op_ == opUPPER) {
                value_.SetAsWideString(UpperCaseWideText(wide), type);
            } else if (op_ == opLOWER) {
                value_.SetAsWideString(LowerCaseWideText(wide), type);
            } else {
                std::size_t begin = 0, end = wide.size();
                if (op_ != opRTRIM) {
                    while (begin < end && wide[begin] <= u' ') ++begin;
                }
                if (op_ != opLTRIM) {
                    while (end > begin && wide[end - 1] <= u' ') --end;
                }
                value_.SetAsWideString(std::u16string_view(wide).substr(begin, end - begin), type);
            }
            return value_;
        }
        const std::string owned = IsAnsiTextType(v.BaseType()) ? std::string() : v.GetAsString();
        const std::string_view text = IsAnsiTextType(v.BaseType()) ? std::string_view(v.TextData()) : owned;
        switch (op_) {
        case opUPPER: value_.SetAsString(UpperCaseText(text), type); break;
        case opLOWER: value_.SetAsString(LowerCaseText(text), type); break;
        case opTRIM: value_.SetAsString(std::string(TrimText(text, true, true)), type); break;
        case opLTRIM: value_.SetAsString(std::string(TrimText(text, true, false)), type); break;
        default: value_.SetAsString(std::string(TrimText(text, false, true)), type); break;
        }
        return value_;
    }
    default:
        RaiseError(sqlerr::kUnknownFunctionOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
}

} // namespace kova
