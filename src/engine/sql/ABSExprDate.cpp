// Date functions: the current date and time, TODATE, TOSTRING and EXTRACT.
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSSQLErrors.h"

#include <chrono>
#include <ctime>

namespace kova {
namespace {

// The current local date and time to the millisecond.
TABSDateTime LocalNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    TABSDateTime value;
    value.date = TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).value_or(kDayFractionEpoch);
    value.time = TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                               static_cast<int>(ms))
                     .value_or(0);
    return value;
}

} // namespace

void TABSExprNodeDateFunction::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    switch (op_) {
    case opNOW: resultType_ = TABSBaseType::bftDateTime; break;
    case opCURRENTDATE: resultType_ = TABSBaseType::bftDate; break;
    case opCURRENTTIME: resultType_ = TABSBaseType::bftTime; break;
    case opTODATE: resultType_ = formater_ ? formater_->ParseResultType() : TABSBaseType::bftDateTime; break;
    case opTOSTRING:
        resultType_ = TABSBaseType::bftString;
        resultSize_ = formater_ ? formater_->FormatColumnSize() : 0;
        break;
    case opEXTRACT: resultType_ = TABSBaseType::bftInteger; break;
    default: break;
    }
}

const TABSVariant& TABSExprNodeDateFunction::Evaluate() {
    switch (op_) {
    case opNOW: value_.SetAsDateTime(LocalNow()); return value_;
    case opCURRENTDATE: value_.SetAsDate(LocalNow().date); return value_;
    case opCURRENTTIME: value_.SetAsTime(LocalNow().time); return value_;
    case opTODATE: {
        const TABSVariant& text = children_.front()->Evaluate();
        if (text.IsNull()) {
            value_ = TABSVariant(resultType_ == TABSBaseType::bftUnknown ? TABSBaseType::bftDateTime : resultType_);
            return value_;
        }
        const TABSDateTime parsed = formater_->Parse(text.GetAsString());
        // Typed by what the value holds: no time is a date, day 0 is a time.
        if (parsed.time == 0) {
            value_.SetAsDate(parsed.date);
        } else if (parsed.date == kDayFractionEpoch) {
            value_.SetAsTime(parsed.time);
        } else {
            value_.SetAsDateTime(parsed);
        }
        return value_;
    }
    case opTOSTRING: {
        const TABSVariant& v = children_.front()->Evaluate();
        if (v.IsNull()) {
            value_ = TABSVariant(TABSBaseType::bftString);
            return value_;
        }
        value_.SetAsString(formater_->Format(v.GetAsDateTime()));
        return value_;
    }
    case opEXTRACT: {
        const TABSVariant& v = children_.front()->Evaluate();
        if (v.IsNull()) {
            value_ = TABSVariant(TABSBaseType::bftInteger);
            return value_;
        }
        const TABSDateTime dt = v.GetAsDateTime();
        const TDateParts date = DecodeDate(dt.date);
        const TTimeParts time = DecodeTime(dt.time);
        int part = 0;
        switch (extractPart_) {
        case kwYEAR: part = date.year; break;
        case kwMONTH: part = date.month; break;
        case kwDAY: part = date.day; break;
        case kwHOUR: part = time.hour; break;
        case kwMINUTE: part = time.minute; break;
        default: part = time.second; break;
        }
        value_.SetAsInteger(part);
        return value_;
    }
    default:
        RaiseError(sqlerr::kUnknownFunctionOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
}

} // namespace kova
