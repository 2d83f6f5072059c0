// Arithmetic nodes and the numeric functions, ROUND with its modes among them.
#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSSQLErrors.h"

#include <cmath>
#include <limits>
#include <random>

namespace kova {
namespace {

// Relative error allowed when deciding that a scaled value is a decimal half or a whole
// number: about two and a half units in the last place of a double, so that 2.675 (stored as
// 2.67499999999999982...) still rounds as the half it was written as.
constexpr double kRoundTolerance = 5.481726184209375e-16;

[[nodiscard]] double PowerOfTen(int exponent) noexcept { return std::pow(10.0, exponent); }

void SetWholeNumber(TABSVariant& value, double number) {
    if (number >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
        number <= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        value.SetAsInteger(static_cast<std::int32_t>(number));
    } else {
        value.SetAsLargeInt(static_cast<std::int64_t>(number));
    }
}

[[nodiscard]] TABSBaseType NegatedType(TABSBaseType t) noexcept {
    switch (t) {
    case TABSBaseType::bftByte: return TABSBaseType::bftSmallInt;
    case TABSBaseType::bftWord: return TABSBaseType::bftInteger;
    case TABSBaseType::bftCardinal: return TABSBaseType::bftLargeInt;
    default: return t;
    }
}

std::mt19937& RandomEngine() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

} // namespace

double RoundValue(double value, int digits, TABSRoundMode mode) noexcept {
    if (!std::isfinite(value)) return value;
    const double scale = PowerOfTen(digits >= 0 ? digits : -digits);
    const double scaled = digits >= 0 ? value * scale : value / scale;
    const double tolerance = std::fabs(value) * kRoundTolerance * (digits >= 0 ? scale : 1.0 / scale);
    const double below = std::floor(scaled);
    const double fraction = scaled - below;
    const bool positive = scaled > 0;
    double rounded = below;
    switch (mode) {
    case TABSRoundMode::HalfEven:
    case TABSRoundMode::HalfPos:
    case TABSRoundMode::HalfNeg:
    case TABSRoundMode::HalfDown:
    case TABSRoundMode::HalfUp:
        if (std::fabs(fraction - 0.5) <= tolerance) {
            switch (mode) {
            case TABSRoundMode::HalfEven: rounded = std::fmod(below, 2.0) == 0.0 ? below : below + 1; break;
            case TABSRoundMode::HalfPos: rounded = below + 1; break;
            case TABSRoundMode::HalfNeg: rounded = below; break;
            case TABSRoundMode::HalfDown: rounded = positive ? below : below + 1; break;
            default: rounded = positive ? below + 1 : below; break;
            }
        } else {
            rounded = fraction < 0.5 ? below : below + 1;
        }
        break;
    default:
        if (fraction <= tolerance) {
            rounded = below;
        } else if (1.0 - fraction <= tolerance) {
            rounded = below + 1;
        } else {
            switch (mode) {
            case TABSRoundMode::RndNeg: rounded = below; break;
            case TABSRoundMode::RndPos: rounded = below + 1; break;
            case TABSRoundMode::RndDown: rounded = positive ? below : below + 1; break;
            default: rounded = positive ? below + 1 : below; break;
            }
        }
        break;
    }
    return digits >= 0 ? rounded / scale : rounded * scale;
}

void TABSExprNodeArithmetic::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    switch (op_) {
    case opADD:
    case opMUL:
    case opDIV: {
        TABSBaseType type = children_.front()->ResultType();
        for (std::size_t i = 1; i < children_.size() && type != TABSBaseType::bftUnknown; ++i) {
            const TABSBaseType right = children_[i]->ResultType();
            type = right == TABSBaseType::bftUnknown ? right : CommonType(type, right, TCommonTypeUse::Arithmetic);
        }
        resultType_ = type;
        break;
    }
    case opNEGATE: resultType_ = NegatedType(children_.front()->ResultType()); break;
    case opABS: resultType_ = children_.front()->ResultType(); break;
    case opCEIL:
    case opFLOOR:
    case opSIGN:
    case opRAND: resultType_ = TABSBaseType::bftInteger; break;
    case opROUND: resultType_ = children_.size() == 1 ? TABSBaseType::bftInteger : TABSBaseType::bftDouble; break;
    default: resultType_ = TABSBaseType::bftDouble; break;
    }
}

const TABSVariant& TABSExprNodeArithmetic::Evaluate() {
    switch (op_) {
    case opADD:
        value_ = children_.front()->Evaluate();
        for (std::size_t i = 1; i < children_.size(); ++i) AddValues(value_, children_[i]->Evaluate());
        return value_;
    case opNEGATE:
        value_ = children_.front()->Evaluate();
        NegateValue(value_);
        return value_;
    case opMUL:
        value_ = children_[0]->Evaluate();
        MultiplyValues(value_, children_[1]->Evaluate());
        return value_;
    case opDIV:
        value_ = children_[0]->Evaluate();
        DivideValues(value_, children_[1]->Evaluate());
        return value_;
    default:
        if (op_ >= opABS && op_ <= opSQRT) {
            EvaluateFunction();
            return value_;
        }
        RaiseError(sqlerr::kUnknownArithmeticOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
}

void TABSExprNodeArithmetic::EvaluateFunction() {
    const TABSVariant& argument = children_.front()->Evaluate();
    if (argument.IsNull()) {
        value_ = TABSVariant(resultType_ == TABSBaseType::bftUnknown ? argument.BaseType() : resultType_);
        return;
    }
    if (op_ == opABS) {
        value_ = argument;
        if (IsIntegerType(value_.BaseType())) {
            const std::int64_t v = value_.GetAsLargeInt();
            value_.SetIntegerValue(value_.BaseType(), v < 0 ? -v : v);
        } else if (IsFloatType(value_.BaseType()) || value_.BaseType() == TABSBaseType::bftCurrency) {
            value_.SetFloatValue(value_.BaseType(), std::fabs(value_.GetAsExtended()));
        } else {
            value_.SetAsDouble(std::fabs(value_.GetAsDouble()));
        }
        return;
    }
    const double x = argument.GetAsDouble();
    switch (op_) {
    case opACOS: value_.SetAsDouble(std::acos(x)); return;
    case opASIN: value_.SetAsDouble(std::asin(x)); return;
    case opATAN: value_.SetAsDouble(std::atan(x)); return;
    case opCEIL: SetWholeNumber(value_, std::ceil(x)); return;
    case opCOS: value_.SetAsDouble(std::cos(x)); return;
    case opEXP: value_.SetAsDouble(std::exp(x)); return;
    case opFLOOR: SetWholeNumber(value_, std::floor(x)); return;
    case opLOG: value_.SetAsDouble(std::log(x)); return;
    case opPOWER: {
        const TABSVariant& exponent = children_[1]->Evaluate();
        if (exponent.IsNull()) {
            value_ = TABSVariant(TABSBaseType::bftDouble);
            return;
        }
        value_.SetAsDouble(std::pow(x, exponent.GetAsDouble()));
        return;
    }
    case opRAND: {
        const std::int64_t n = argument.GetAsLargeInt();
        if (n <= 1) {
            value_.SetAsInteger(0);
            return;
        }
        std::uniform_int_distribution<std::int64_t> distribution(0, n - 1);
        SetWholeNumber(value_, static_cast<double>(distribution(RandomEngine())));
        return;
    }
    case opROUND: {
        int digits = 0;
        if (children_.size() > 1) {
            const TABSVariant& places = children_[1]->Evaluate();
            if (places.IsNull()) {
                value_ = TABSVariant(TABSBaseType::bftDouble);
                return;
            }
            digits = places.GetAsInteger();
        }
        const double rounded = RoundValue(x, digits, roundMode_);
        if (children_.size() == 1 && std::isfinite(rounded)) {
            SetWholeNumber(value_, rounded);
        } else {
            value_.SetAsDouble(rounded);
        }
        return;
    }
    case opSIGN: value_.SetAsInteger(x > 0 ? 1 : (x < 0 ? -1 : 0)); return;
    case opSIN: value_.SetAsDouble(std::sin(x)); return;
    case opSQR: value_.SetAsDouble(x * x); return;
    case opSQRT: value_.SetAsDouble(std::sqrt(x)); return;
    default: RaiseError(sqlerr::kUnknownArithmeticOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
}

} // namespace kova
