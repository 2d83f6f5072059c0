#include "engine/storage/ABSScanCondition.h"

#include "engine/core/ABSConverts.h"
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/core/TextCodec.h"

#include <algorithm>
#include <cmath>

namespace kova {

namespace {

using Op = TABSScanOperator;

enum class BoundKind : std::uint8_t { Equal, Lower, Upper };

BoundKind KindOf(TABSFindMode mode) noexcept {
    switch (mode) {
    case TABSFindMode::FirstEqual:
        return BoundKind::Equal;
    case TABSFindMode::FirstAbove:
    case TABSFindMode::FirstAtOrAbove:
        return BoundKind::Lower;
    default:
        return BoundKind::Upper;
    }
}

bool Inclusive(TABSFindMode mode) noexcept {
    return mode == TABSFindMode::FirstEqual || mode == TABSFindMode::FirstAtOrAbove ||
           mode == TABSFindMode::LastAtOrBelow;
}

bool IsComparison(Op op) noexcept {
    return op == Op::Equal || op == Op::Less || op == Op::Greater || op == Op::LessOrEqual ||
           op == Op::GreaterOrEqual;
}

// The find mode of a part on a column (ascending / descending).
TABSFindMode ModeFor(Op op, bool descending) noexcept {
    switch (op) {
    case Op::Equal:
    case Op::IsNull:
        return TABSFindMode::FirstEqual;
    case Op::Greater:
    case Op::IsNotNull:
        return descending ? TABSFindMode::LastBelow : TABSFindMode::FirstAbove;
    case Op::Less:
        return descending ? TABSFindMode::FirstAbove : TABSFindMode::LastBelow;
    case Op::GreaterOrEqual:
        return descending ? TABSFindMode::LastAtOrBelow : TABSFindMode::FirstAtOrAbove;
    case Op::LessOrEqual:
        return descending ? TABSFindMode::FirstAtOrAbove : TABSFindMode::LastAtOrBelow;
    default:
        return TABSFindMode::FirstEqual;
    }
}

bool IsTextField(const TABSFieldDef& field) noexcept {
    return IsAnsiTextType(field.StorageType) || IsWideTextType(field.StorageType);
}

// The key value with which column `column` of `index` serves `part`; nothing when it does not.
std::optional<TABSVariant> ServingValue(const TABSScanConditionPart& part, const TABSBTreeRecordIndex& index,
                                        std::size_t column, const TABSFieldDefs& fields, TABSSessionID session) {
    const TABSIndexDef& def = index.Definition();
    if (def.Temporary && def.CreatorSession != session)
        return std::nullopt;
    if (column >= def.Columns.size() || !SameObjectName(def.Columns[column].FieldName, part.FieldName))
        return std::nullopt;
    const TABSFieldDef* field = fields.Find(part.FieldName);
    if (field == nullptr || field->IsBlob())
        return std::nullopt;
    if (part.Operator == Op::IsNull || part.Operator == Op::IsNotNull)
        return TABSVariant(field->StorageType);
    if (!IsComparison(part.Operator) || part.Partial || part.Constant.IsNull())
        return std::nullopt;

    const TABSIndexColumn& indexColumn = def.Columns[column];
    if (IsTextField(*field)) {
        bool ignoreCase = part.IgnoreCase;
        if (part.Wrap != TABSCaseWrap::None) {
            // UPPER(field) = constant asks for case-blind equality only when the constant is in
            // upper case already; otherwise no value of the field can match and no index helps.
            const std::string text = part.Constant.GetAsString();
            const std::string mapped = part.Wrap == TABSCaseWrap::Upper ? UpperCaseText(text) : LowerCaseText(text);
            if (mapped != text)
                return std::nullopt;
            ignoreCase = true;
        }
        if (indexColumn.CaseInsensitive != ignoreCase)
            return std::nullopt;
        const int length = part.Constant.TextLength();
        if (length < 0 || length >= field->Size)
            return std::nullopt;
        // A constant the 8-bit field could never hold cannot be put into a key (the record
        // evaluation still answers the comparison).
        if (IsAnsiTextType(field->StorageType) && !IsCp1252Representable(part.Constant.GetAsString()))
            return std::nullopt;
    } else if (part.Wrap != TABSCaseWrap::None) {
        return std::nullopt;
    }

    // The index orders values in the field's type: the constant must compare in that type and keep
    // its value there (2.5 against an Integer field, or a number against a text field's digits, do not).
    const TABSBaseType common = CommonType(field->StorageType, part.Constant.BaseType(), TCommonTypeUse::Comparison);
    if (common == TABSBaseType::bftUnknown || IsTextType(common) != IsTextField(*field))
        return std::nullopt;
    TABSVariant value;
    value.Assign(part.Constant);
    try {
        value.ConvertTo(field->StorageType);
        if (CompareValues(value, part.Constant) != TABSCompareResult::Equal)
            return std::nullopt;
    } catch (const EABSException&) {
        return std::nullopt;
    }
    return value;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Evaluating parts on records

bool EvaluateConditionPart(const TABSScanConditionPart& part, const TABSFieldDefs& fields,
                           std::span<const std::uint8_t> record) {
    const TABSFieldDef& field = fields.FieldByName(part.FieldName);
    const auto fieldNo = static_cast<std::size_t>(field.FieldNo);
    if (part.Operator == Op::IsNull)
        return fields.IsNull(record, fieldNo);
    if (part.Operator == Op::IsNotNull)
        return !fields.IsNull(record, fieldNo);
    TABSVariant value = fields.GetValue(record, fieldNo);
    if (part.Wrap != TABSCaseWrap::None && !value.IsNull()) {
        const bool upper = part.Wrap == TABSCaseWrap::Upper;
        if (IsWideTextType(value.BaseType()))
            value.SetAsWideString(upper ? UpperCaseWideText(value.GetAsWideString())
                                        : LowerCaseWideText(value.GetAsWideString()),
                                  value.BaseType());
        else if (IsAnsiTextType(value.BaseType()))
            value.SetAsString(upper ? UpperCaseText(value.GetAsString()) : LowerCaseText(value.GetAsString()),
                              value.BaseType());
    }
    const TABSCompareResult r = value.Compare(part.Constant, part.IgnoreCase, part.Partial);
    if (IsNullResult(r))
        return false;
    switch (part.Operator) {
    case Op::Equal:
        return r == TABSCompareResult::Equal;
    case Op::NotEqual:
        return r != TABSCompareResult::Equal;
    case Op::Less:
        return r == TABSCompareResult::Less;
    case Op::Greater:
        return r == TABSCompareResult::Greater;
    case Op::LessOrEqual:
        return r != TABSCompareResult::Greater;
    case Op::GreaterOrEqual:
        return r != TABSCompareResult::Less;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Building and merging

std::size_t TABSScanSearchConditionArray::IndexConditionCount() const noexcept {
    return static_cast<std::size_t>(std::count_if(conditions_.begin(), conditions_.end(),
                                                  [](const auto& c) { return c.IsIndexCondition(); }));
}

const TABSScanSearchCondition* TABSScanSearchConditionArray::RecordCondition() const noexcept {
    for (const auto& c : conditions_)
        if (!c.IsIndexCondition())
            return &c;
    return nullptr;
}

TABSScanSearchConditionArray TABSScanSearchConditionArray::Build(const std::vector<TABSScanConditionPart>& parts,
                                                                 TABSBaseIndexManager& indexes,
                                                                 const TABSFieldDefs& fields, TABSSessionID session) {
    TABSScanSearchConditionArray array;
    std::vector<TABSScanSearchCondition> made;
    TABSScanSearchCondition recordCondition;
    recordCondition.ConditionKind = TABSScanSearchCondition::Kind::Record;

    for (std::size_t partNo = 0; partNo < parts.size(); ++partNo) {
        const TABSScanConditionPart& part = parts[partNo];
        // A comparison with NULL is never true, and the parts are joined by AND.
        if (part.Operator != Op::IsNull && part.Operator != Op::IsNotNull && part.Constant.IsNull())
            array.empty_ = true;
        bool served = false;
        for (std::size_t i = 0; i < indexes.Count(); ++i) {
            TABSBTreeRecordIndex& index = indexes.At(i);
            std::optional<TABSVariant> value = ServingValue(part, index, 0, fields, session);
            if (!value)
                continue;
            TABSScanSearchCondition condition;
            condition.IndexID = index.ObjectID();
            condition.Mode = ModeFor(part.Operator, index.Definition().Columns[0].Descending);
            condition.Key.push_back(std::move(*value));
            condition.ExcludeNulls = IsComparison(part.Operator);
            condition.SourceParts.push_back(partNo);
            made.push_back(std::move(condition));
            served = true;
        }
        if (!served)
            recordCondition.Parts.push_back(part);
    }

    // An equality on a multi-column index takes the next columns' equalities along.
    for (TABSScanSearchCondition& condition : made) {
        if (condition.Mode != TABSFindMode::FirstEqual)
            continue;
        TABSBTreeRecordIndex& index = indexes.IndexByID(condition.IndexID);
        for (std::size_t column = 1; column < index.Definition().Columns.size(); ++column) {
            std::optional<TABSVariant> value;
            std::size_t source = 0;
            for (std::size_t partNo = 0; partNo < parts.size() && !value; ++partNo) {
                const TABSScanConditionPart& part = parts[partNo];
                if (part.Operator != Op::Equal && part.Operator != Op::IsNull)
                    continue;
                value = ServingValue(part, index, column, fields, session);
                source = partNo;
            }
            if (!value)
                break;
            condition.Key.push_back(std::move(*value));
            condition.SourceParts.push_back(source);
        }
    }

    for (TABSScanSearchCondition& condition : made)
        array.Add(std::move(condition), indexes);
    if (!recordCondition.Parts.empty())
        array.Add(std::move(recordCondition), indexes);
    return array;
}

namespace {

// Outcome of merging two conditions on one index.
struct MergeResult {
    bool Merged = false;  // `into` now stands for both
    bool Empty = false;   // they cannot both hold
};

MergeResult MergePair(TABSScanSearchCondition& into, const TABSScanSearchCondition& other,
                      const TABSRecordKeyRef& keyRef) {
    const std::size_t ca = into.Key.size();
    const std::size_t cb = other.Key.size();
    const std::vector<std::uint8_t> ka = keyRef.ValueSearchKey(into.Key).Key;
    const std::vector<std::uint8_t> kb = keyRef.ValueSearchKey(other.Key).Key;
    auto compare = [&](std::size_t columns) { return keyRef.CompareFullKeys(ka, kb, columns); };
    const BoundKind a = KindOf(into.Mode);
    const BoundKind b = KindOf(other.Mode);
    const bool excludeNulls = into.ExcludeNulls || other.ExcludeNulls;
    MergeResult result;

    if (into.Mode == other.Mode && ca == cb && compare(ca) == 0) {
        into.ExcludeNulls = excludeNulls;
        result.Merged = true;
        return result;
    }
    if (a == BoundKind::Equal && b == BoundKind::Equal) {
        if (compare(std::min(ca, cb)) != 0) {
            result.Empty = true;
            return result;
        }
        if (cb > ca)
            into.Key = other.Key;
        into.ExcludeNulls = excludeNulls;
        result.Merged = true;
        return result;
    }
    if (a == BoundKind::Equal || b == BoundKind::Equal) {
        // The equality takes a bound in only when its key covers the bound's columns.
        const bool intoIsEqual = a == BoundKind::Equal;
        const TABSScanSearchCondition& equal = intoIsEqual ? into : other;
        const TABSScanSearchCondition& bound = intoIsEqual ? other : into;
        if (equal.Key.size() < bound.Key.size())
            return result;
        const int r = intoIsEqual ? compare(cb) : -compare(ca);  // equality key against bound key
        const bool inclusive = Inclusive(bound.Mode);
        const bool holds = KindOf(bound.Mode) == BoundKind::Lower ? (r > 0 || (r == 0 && inclusive))
                                                                  : (r < 0 || (r == 0 && inclusive));
        if (!holds) {
            result.Empty = true;
            return result;
        }
        if (!intoIsEqual)
            into = other;
        into.ExcludeNulls = excludeNulls;
        result.Merged = true;
        return result;
    }
    if (ca != cb)
        return result;
    const int r = compare(ca);
    if (a == b) {
        // Two lower (upper) bounds: the higher (lower) one holds both; at one key the exclusive one.
        const bool takeOther = (a == BoundKind::Lower ? r < 0 : r > 0) || (r == 0 && !Inclusive(other.Mode));
        if (takeOther)
            into = other;
        into.ExcludeNulls = excludeNulls;
        result.Merged = true;
        return result;
    }
    // A lower and an upper bound.
    const int lowerAgainstUpper = a == BoundKind::Lower ? r : -r;
    if (lowerAgainstUpper > 0) {
        result.Empty = true;
        return result;
    }
    if (lowerAgainstUpper == 0) {
        if (Inclusive(into.Mode) && Inclusive(other.Mode)) {
            into.Mode = TABSFindMode::FirstEqual;  // >= k and <= k: = k
            into.ExcludeNulls = excludeNulls;
            result.Merged = true;
        } else {
            result.Empty = true;
        }
    }
    return result;
}

} // namespace

void TABSScanSearchConditionArray::Add(TABSScanSearchCondition condition, TABSBaseIndexManager& indexes) {
    if (!condition.IsIndexCondition()) {
        for (auto& existing : conditions_) {
            if (!existing.IsIndexCondition()) {
                existing.Parts.insert(existing.Parts.end(), condition.Parts.begin(), condition.Parts.end());
                return;
            }
        }
        conditions_.push_back(std::move(condition));
        return;
    }
    // Merge with every condition on the same index until nothing changes: a merge may turn two
    // bounds into an equality that then absorbs another condition.
    for (bool changed = true; changed;) {
        changed = false;
        for (auto it = conditions_.begin(); it != conditions_.end(); ++it) {
            if (!it->IsIndexCondition() || it->IndexID != condition.IndexID)
                continue;
            const TABSRecordKeyRef& keyRef = indexes.IndexByID(condition.IndexID).KeyRef();
            std::vector<std::size_t> sources = condition.SourceParts;
            sources.insert(sources.end(), it->SourceParts.begin(), it->SourceParts.end());
            MergeResult merged = MergePair(condition, *it, keyRef);
            if (merged.Empty) {
                empty_ = true;
                return;
            }
            if (merged.Merged) {
                std::sort(sources.begin(), sources.end());
                sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
                condition.SourceParts = std::move(sources);
                conditions_.erase(it);
                changed = true;
                break;
            }
        }
    }
    conditions_.push_back(std::move(condition));
}

// ---------------------------------------------------------------------------------------------
// Search

TABSScanSearch::TABSScanSearch(TABSScanSearchConditionArray conditions, TABSBaseIndexManager& indexes,
                               const TABSFieldDefs& fields, TABSIndexRecordSource& records)
    : conditions_(std::move(conditions)), indexes_(&indexes), fields_(&fields), records_(&records) {}

std::vector<TABSIndexRange> TABSScanSearch::Ranges() const {
    std::vector<TABSIndexRange> ranges;
    for (const TABSScanSearchCondition& c : conditions_.Conditions()) {
        if (!c.IsIndexCondition())
            continue;
        auto it = std::find_if(ranges.begin(), ranges.end(), [&](const auto& r) { return r.IndexID == c.IndexID; });
        if (it == ranges.end()) {
            ranges.push_back({c.IndexID, std::nullopt, std::nullopt, std::nullopt});
            it = ranges.end() - 1;
        }
        switch (KindOf(c.Mode)) {
        case BoundKind::Equal:
            if (!it->Equal) it->Equal = c;
            break;
        case BoundKind::Lower:
            if (!it->Lower) it->Lower = c;
            break;
        case BoundKind::Upper:
            if (!it->Upper) it->Upper = c;
            break;
        }
    }
    return ranges;
}

namespace {

bool InRange(const TABSIndexRange& range, const TABSScanSearchCondition& c) noexcept {
    if (!c.IsIndexCondition() || c.IndexID != range.IndexID)
        return false;
    switch (KindOf(c.Mode)) {
    case BoundKind::Equal:
        return range.Equal && range.Equal->Mode == c.Mode && range.Equal->Key.size() == c.Key.size();
    case BoundKind::Lower:
        return range.Lower && range.Lower->Mode == c.Mode;
    case BoundKind::Upper:
        return range.Upper && range.Upper->Mode == c.Mode;
    }
    return false;
}

} // namespace

bool TABSScanSearch::ImpliedBy(const TABSIndexRange& range, const TABSScanSearchCondition& c) {
    if (InRange(range, c))
        return true;
    if (!c.IsIndexCondition() || c.SourceParts.empty())
        return false;
    std::vector<std::size_t> covered;
    for (const auto* bound : {&range.Equal, &range.Lower, &range.Upper})
        if (bound->has_value())
            covered.insert(covered.end(), (*bound)->SourceParts.begin(), (*bound)->SourceParts.end());
    return std::all_of(c.SourceParts.begin(), c.SourceParts.end(), [&](std::size_t part) {
        return std::find(covered.begin(), covered.end(), part) != covered.end();
    });
}

double TABSScanSearch::EstimateRangeCost(TABSSessionID session, const TABSIndexRange& range,
                                         const TABSScanCostInputs& inputs) {
    TABSBTreeRecordIndex& index = indexes_->IndexByID(range.IndexID);
    const TABSRecordKeyRef& keyRef = index.KeyRef();
    TABSKeyPath first;
    TABSKeyPath last;
    bool haveFirst = false;
    bool haveLast = false;
    if (range.Equal) {
        const TABSBTreeSearchKey key = keyRef.ValueSearchKey(range.Equal->Key);
        haveFirst = index.FindKey(session, key, TABSFindMode::FirstEqual, first);
        haveLast = haveFirst && index.FindKey(session, key, TABSFindMode::LastAtOrBelow, last);
    } else {
        haveFirst = range.Lower ? index.FindKey(session, keyRef.ValueSearchKey(range.Lower->Key), range.Lower->Mode, first)
                                : index.First(session, first);
        haveLast = range.Upper ? index.FindKey(session, keyRef.ValueSearchKey(range.Upper->Key), range.Upper->Mode, last)
                               : index.Last(session, last);
    }
    double n = 0;
    if (haveFirst && haveLast) {
        const double span = last.RelativePosition() - first.RelativePosition();
        n = std::round(span * static_cast<double>(inputs.RecordCount));
        n = std::clamp(n, 0.0, static_cast<double>(inputs.RecordCount));
    }
    const double d = static_cast<double>(std::max<std::size_t>(inputs.PageDataSize, 1));
    const double entry = static_cast<double>(index.LeafEntrySize());
    const double recordSize = static_cast<double>(inputs.RecordSize);
    std::size_t others = 0;
    for (const TABSScanSearchCondition& c : conditions_.Conditions())
        if (!ImpliedBy(range, c))
            ++others;
    const bool readRecords = static_cast<bool>(filter_) || others > 0;
    const bool onCurrentOrder = inputs.CurrentOrderIndexID && *inputs.CurrentOrderIndexID == range.IndexID;
    double cost = n * entry / d;
    if (readRecords || !onCurrentOrder)
        cost += n * recordSize / d;
    if (inputs.CurrentOrderIndexID && !onCurrentOrder)
        cost += n * entry / d;
    return cost;
}

void TABSScanSearch::ChooseRange(TABSSessionID session, const TABSScanCostInputs& inputs) {
    chosen_.reset();
    if (conditions_.IsEmptyResult())
        return;
    const std::vector<TABSIndexRange> ranges = Ranges();
    if (ranges.empty())
        return;
    // 1. A unique lookup.
    for (const TABSIndexRange& range : ranges) {
        if (!range.Equal)
            continue;
        TABSBTreeRecordIndex& index = indexes_->IndexByID(range.IndexID);
        const TABSIndexDef& def = index.Definition();
        if (def.Columns.size() == 1 && (def.Unique || def.Primary || index.KeyRef().Columns()[0].AutoInc)) {
            chosen_ = range;
            return;
        }
    }
    // 2. The only index condition follows the cursor's order anyway.
    if (conditions_.IndexConditionCount() == 1 && inputs.CurrentOrderIndexID &&
        *inputs.CurrentOrderIndexID == ranges.front().IndexID) {
        chosen_ = ranges.front();
        return;
    }
    // 3. The cheapest range, if it beats a plain scan.
    std::optional<TABSIndexRange> best;
    double bestCost = 0;
    const double count = static_cast<double>(inputs.RecordCount);
    for (const TABSIndexRange& range : ranges) {
        const double cost = EstimateRangeCost(session, range, inputs);
        if (cost < count && (!best || cost < bestCost)) {
            best = range;
            bestCost = cost;
        }
    }
    if (!best)
        return;
    const double passed = static_cast<double>(std::min(inputs.PassedRecords, inputs.RecordCount));
    const double d = static_cast<double>(std::max<std::size_t>(inputs.PageDataSize, 1));
    const double scanCost = inputs.CurrentOrderIndexID
                                ? count - passed
                                : (count - passed) * static_cast<double>(inputs.RecordSize) / d;
    if (scanCost < bestCost)
        return;
    chosen_ = best;
}

bool TABSScanSearch::MatchesIndexCondition(const TABSScanSearchCondition& condition,
                                           std::span<const std::uint8_t> record) {
    const TABSRecordKeyRef& keyRef = indexes_->IndexByID(condition.IndexID).KeyRef();
    const std::vector<std::uint8_t> recordKey = keyRef.FullKey(record);
    if (condition.ExcludeNulls && recordKey[0] != 0)
        return false;
    const int r = keyRef.CompareFullKeys(recordKey, keyRef.ValueSearchKey(condition.Key).Key, condition.Key.size());
    switch (condition.Mode) {
    case TABSFindMode::FirstEqual:
        return r == 0;
    case TABSFindMode::FirstAtOrAbove:
        return r >= 0;
    case TABSFindMode::FirstAbove:
        return r > 0;
    case TABSFindMode::LastAtOrBelow:
        return r <= 0;
    case TABSFindMode::LastBelow:
        return r < 0;
    }
    return false;
}

bool TABSScanSearch::Matches(std::span<const std::uint8_t> record) {
    if (conditions_.IsEmptyResult())
        return false;
    for (const TABSScanSearchCondition& c : conditions_.Conditions()) {
        if (c.IsIndexCondition()) {
            if (!MatchesIndexCondition(c, record))
                return false;
        } else {
            for (const TABSScanConditionPart& part : c.Parts)
                if (!EvaluateConditionPart(part, *fields_, record))
                    return false;
        }
    }
    return !filter_ || filter_(record);
}

bool TABSScanSearch::MatchesExceptRange(std::span<const std::uint8_t> record) {
    for (const TABSScanSearchCondition& c : conditions_.Conditions()) {
        if (chosen_ && ImpliedBy(*chosen_, c))
            continue;
        if (c.IsIndexCondition()) {
            if (!MatchesIndexCondition(c, record))
                return false;
        } else {
            for (const TABSScanConditionPart& part : c.Parts)
                if (!EvaluateConditionPart(part, *fields_, record))
                    return false;
        }
    }
    return !filter_ || filter_(record);
}

bool TABSScanSearch::RangeNeedsRecords() const {
    if (filter_)
        return true;
    if (!chosen_)
        return false;
    return std::any_of(conditions_.Conditions().begin(), conditions_.Conditions().end(),
                       [&](const TABSScanSearchCondition& c) { return !ImpliedBy(*chosen_, c); });
}

void TABSScanSearch::WalkRange(TABSSessionID session, const TABSIndexRange& range,
                               const std::function<bool(const TABSRecordID&)>& visit) {
    TABSBTreeRecordIndex& index = indexes_->IndexByID(range.IndexID);
    const TABSRecordKeyRef& keyRef = index.KeyRef();
    TABSKeyPath path;
    std::optional<TABSBTreeSearchKey> stopKey;
    bool stopInclusive = true;
    bool found = false;
    if (range.Equal) {
        stopKey = keyRef.ValueSearchKey(range.Equal->Key);
        found = index.FindKey(session, *stopKey, TABSFindMode::FirstEqual, path);
    } else {
        found = range.Lower ? index.FindKey(session, keyRef.ValueSearchKey(range.Lower->Key), range.Lower->Mode, path)
                            : index.First(session, path);
        if (range.Upper) {
            stopKey = keyRef.ValueSearchKey(range.Upper->Key);
            stopInclusive = Inclusive(range.Upper->Mode);
        }
    }
    const bool excludeNulls = (range.Equal && range.Equal->ExcludeNulls) || (range.Lower && range.Lower->ExcludeNulls) ||
                              (range.Upper && range.Upper->ExcludeNulls);
    for (; found; found = index.Next(session, path)) {
        const std::vector<std::uint8_t> key = index.Tree().KeyAt(session, path);
        const std::vector<std::uint8_t> value = index.Tree().ValueAt(session, path);
        if (stopKey) {
            TABSFixedEntryValue entryValue(value);
            const int r = keyRef.CompareSearch(*stopKey, key, entryValue);  // stop key against entry
            if (range.Equal ? r != 0 : (stopInclusive ? r < 0 : r <= 0))
                return;
        }
        if (excludeNulls && key[0] != 0)
            continue;
        if (!visit(TABSRecordID::Decode(value)))
            return;
    }
}

void TABSScanSearch::MarkAll(TABSSessionID session, TABSRecordBitmap& bitmap,
                             const std::function<std::uint64_t(const TABSRecordID&)>& position) {
    if (conditions_.IsEmptyResult())
        return;
    auto mark = [&](const TABSRecordID& id) {
        const std::uint64_t p = position(id);
        bitmap.Cover(p + 1);
        bitmap.Mark(p);
    };
    if (!chosen_) {
        records_->ForEachRecord(session, [&](const TABSRecordID& id, std::span<const std::uint8_t> record) {
            if (Matches(record))
                mark(id);
        });
        return;
    }
    const bool needRecords = RangeNeedsRecords();
    std::vector<std::uint8_t> record;
    WalkRange(session, *chosen_, [&](const TABSRecordID& id) {
        if (needRecords) {
            if (!records_->ReadRecord(session, id, record))
                RaiseError(kCannotRetrieveRecordError, "Cannot retreive record for index");
            if (!MatchesExceptRange(record))
                return true;
        }
        mark(id);
        return true;
    });
}

std::optional<TABSRecordID> TABSScanSearch::FindNearest(TABSSessionID session, const TABSRecordID* from,
                                                        bool forward) {
    if (!chosen_ || conditions_.IsEmptyResult())
        return std::nullopt;
    // Entries with one key lie in identifier order: an equality on a one-column index meets the
    // nearest record first.
    TABSBTreeRecordIndex& index = indexes_->IndexByID(chosen_->IndexID);
    const bool identifierOrder =
        chosen_->Equal && chosen_->Equal->Key.size() == 1 && index.Definition().Columns.size() == 1;
    const bool needRecords = RangeNeedsRecords();
    std::optional<TABSRecordID> best;
    std::vector<std::uint8_t> record;
    WalkRange(session, *chosen_, [&](const TABSRecordID& id) {
        if (from != nullptr) {
            if (forward && id <= *from)
                return true;
            if (!forward && id >= *from)
                return !identifierOrder;
        }
        if (needRecords) {
            if (!records_->ReadRecord(session, id, record))
                RaiseError(kCannotRetrieveRecordError, "Cannot retreive record for index");
            if (!MatchesExceptRange(record))
                return true;
        }
        if (forward) {
            if (!best || id < *best)
                best = id;
            return !identifierOrder;
        }
        if (!best || id > *best)
            best = id;
        return true;
    });
    return best;
}

} // namespace kova
