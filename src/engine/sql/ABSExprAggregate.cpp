// Aggregates. Execution groups the rows; per group it calls Reset, then Accumulate once per
// row, then reads the result with Evaluate.
#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSSQLErrors.h"

namespace kova {

TABSExprNodeAggregated::TABSExprNodeAggregated(int op, bool distinct) : TABSExprNode(op), distinct_(distinct) {
    resultType_ = (op == opCOUNT || op == opCOUNTALL) ? TABSBaseType::bftInteger : TABSBaseType::bftUnknown;
}

TABSExprNodeAggregated::~TABSExprNodeAggregated() = default;

void TABSExprNodeAggregated::Bind(const TABSBindContext& context) {
    TABSExprNode::Bind(context);
    const TABSBaseType argument = children_.empty() ? TABSBaseType::bftUnknown : children_.front()->ResultType();
    switch (op_) {
    case opSUM: resultType_ = IsIntegerType(argument) ? TABSBaseType::bftLargeInt : TABSBaseType::bftDouble; break;
    case opAVG: resultType_ = TABSBaseType::bftDouble; break;
    case opMIN:
    case opMAX:
        resultType_ = argument;
        resultSize_ = children_.front()->ResultSize();
        break;
    default: resultType_ = TABSBaseType::bftInteger; break;
    }
}

void TABSExprNodeAggregated::Reset() {
    count_ = 0;
    haveValue_ = false;
    accumulator_ = TABSVariant();
    floatSum_ = 0;
    integerSum_ = 0;
    integerSumUsed_ = false;
    floatSumUsed_ = false;
    seen_.clear();
}

bool TABSExprNodeAggregated::SeenBefore(const TABSVariant& value) {
    for (const auto& seen : seen_) {
        if (CompareValues(value, seen) == TABSCompareResult::Equal) return true;
    }
    seen_.push_back(value);
    return false;
}

void TABSExprNodeAggregated::Accumulate() {
    if (op_ == opCOUNTALL) {
        ++count_;
        return;
    }
    const TABSVariant& value = children_.front()->Evaluate();
    if (value.IsNull()) return;
    if (distinct_ && SeenBefore(value)) return;
    switch (op_) {
    case opCOUNT: ++count_; break;
    case opSUM:
    case opAVG: {
        const TABSBaseType type = value.BaseType();
        if (!IsIntegerType(type) && !IsFloatType(type) && type != TABSBaseType::bftCurrency) {
            RaiseError(sqlerr::kNotNumericAggregate, sqlerr::kNotNumericAggregateMsg, {OperatorName(op_)});
        }
        if (op_ == opSUM && IsIntegerType(type)) {
            integerSum_ += value.GetAsLargeInt();
            integerSumUsed_ = true;
        } else {
            floatSum_ += value.GetAsExtended();
            floatSumUsed_ = true;
        }
        ++count_;
        break;
    }
    case opMIN:
    case opMAX: {
        if (!haveValue_) {
            accumulator_ = value;
            haveValue_ = true;
            break;
        }
        // Text compares ignoring case; of equal values the first one stays.
        const TABSCompareResult order = CompareValues(value, accumulator_, true, false);
        if ((op_ == opMIN && order == TABSCompareResult::Less) || (op_ == opMAX && order == TABSCompareResult::Greater)) {
            accumulator_ = value;
        }
        break;
    }
    default:
        RaiseError(sqlerr::kUnknownFunctionOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
}

const TABSVariant& TABSExprNodeAggregated::Evaluate() {
    switch (op_) {
    case opCOUNT:
    case opCOUNTALL: value_.SetAsInteger(static_cast<std::int32_t>(count_)); break;
    case opSUM:
        if (count_ == 0) {
            value_ = TABSVariant(resultType_ == TABSBaseType::bftUnknown ? TABSBaseType::bftDouble : resultType_);
        } else if (!floatSumUsed_) {
            value_.SetAsLargeInt(integerSum_);
        } else {
            value_.SetAsDouble(static_cast<double>(floatSum_ + static_cast<long double>(integerSum_)));
        }
        break;
    case opAVG:
        if (count_ == 0) {
            value_ = TABSVariant(TABSBaseType::bftDouble);
        } else {
            value_.SetAsDouble(static_cast<double>(floatSum_ / static_cast<long double>(count_)));
        }
        break;
    case opMIN:
    case opMAX:
        if (haveValue_) {
            value_ = accumulator_;
        } else {
            value_ = TABSVariant(resultType_);
        }
        break;
    default:
        RaiseError(sqlerr::kUnknownFunctionOperator, sqlerr::kUnknownOperatorMsg, {OperatorName(op_)});
    }
    return value_;
}

} // namespace kova
