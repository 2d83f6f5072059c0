// Joins, grouping with aggregates, and the set operations.
#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSRelationalAlgebra.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <numeric>

namespace kova {

namespace {

struct RowLess {
    std::size_t columns;
    bool operator()(const TABSAORow& a, const TABSAORow& b) const {
        for (std::size_t i = 0; i < columns; ++i) {
            const int order = NullsFirstOrder(a[i].Compare(b[i]));
            if (order != 0) return order < 0;
        }
        return false;
    }
};

[[nodiscard]] bool SameText(const TABSVariant& a, const TABSVariant& b) noexcept {
    return !a.IsNull() && !b.IsNull() && a.BaseType() == b.BaseType() && IsAnsiTextType(a.BaseType()) &&
           a.TextData() == b.TextData();
}

[[nodiscard]] TABSVariant NullOf(TABSBaseType type) {
    TABSVariant value;
    if (type != TABSBaseType::bftUnknown) value.SetType(type);
    value.SetNull();
    return value;
}

} // namespace

// ---- TABSAOJoin ----

TABSAOJoin::TABSAOJoin(TABSJoinKind kind, std::unique_ptr<TABSAO> left, std::unique_ptr<TABSAO> right,
                       const TABSRowSource* outer, TABSEnvironmentPool& pool)
    : kind_(kind), left_(std::move(left)), right_(std::move(right)), leftCount_(left_->Columns().size()),
      rowSource_(columns_, outer), pool_(&pool) {
    columns_ = left_->Columns();
    columns_.insert(columns_.end(), right_->Columns().begin(), right_->Columns().end());
}

void TABSAOJoin::AddKey(std::size_t leftColumn, std::size_t rightColumn, const TABSExprNode* equality) {
    leftKeys_.push_back(leftColumn);
    rightKeys_.push_back(rightColumn - leftCount_);
    if (equality == nullptr || equality->IgnoreCase() || equality->Partial()) return;
    if (equality->NodeClass() != TABSExprNodeClass::Comparison ||
        !static_cast<const TABSExprNodeComparison*>(equality)->SqlNullSemantics()) {
        return;
    }
    // Both compare with the engine's value comparison, and a null key pairs with nothing as a
    // null never equals under SQL null semantics.
    std::erase(match_, equality);
}

void TABSAOJoin::AddMatchCondition(TABSExprNode* condition) {
    BindNode(*condition, &rowSource_, pool_->For(&rowSource_));
    match_.push_back(condition);
}

void TABSAOJoin::AddFilter(TABSExprNode* condition) {
    BindNode(*condition, &rowSource_, pool_->For(&rowSource_));
    filters_.push_back(condition);
}

void TABSAOJoin::OpenSources() {
    left_->Open();
    right_->Open();
}

bool TABSAOJoin::AllHold(const std::vector<TABSExprNode*>& conditions, const TABSAORow& row) {
    rowSource_.SetRow(&row);
    for (TABSExprNode* condition : conditions) {
        if (!ConditionHolds(*condition)) return false;
    }
    return true;
}

void TABSAOJoin::NullRow(TABSAORow& row, std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i) row[i] = NullOf(columns_[i].BaseType);
}

void TABSAOJoin::Produce() {
    std::vector<TABSAORow>& leftRows = left_->Rows();
    const std::vector<TABSAORow>& rightRows = right_->Rows();
    const std::size_t width = columns_.size();

    // With key columns the right rows are sorted by their keys once, and each left row meets
    // only the right rows of equal keys.
    std::vector<std::size_t> order(rightRows.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto compareKeys = [&](const TABSAORow& a, const std::vector<std::size_t>& aKeys, const TABSAORow& b,
                                 const std::vector<std::size_t>& bKeys) {
        for (std::size_t k = 0; k < aKeys.size(); ++k) {
            // Keys are mostly equal texts (an identifier and the reference to it); equal bytes
            // are equal to the collation too, without asking it.
            if (SameText(a[aKeys[k]], b[bKeys[k]])) continue;
            TABSCompareResult result;
            try {
                result = a[aKeys[k]].Compare(b[bKeys[k]]);
            } catch (const EABSException& error) {
                RaiseError(kJoinCompareError, "Cannot compare values for fields: %s, %s. Error: %s",
                           {columns_[leftKeys_[k]].Name, columns_[leftCount_ + rightKeys_[k]].Name,
                            std::string(error.what())});
            }
            const int cmp = NullsFirstOrder(result);
            if (cmp != 0) return cmp;
        }
        return 0;
    };
    const bool keyed = !leftKeys_.empty();
    if (keyed) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return compareKeys(rightRows[a], rightKeys_, rightRows[b], rightKeys_) < 0;
        });
    }

    std::vector<bool> rightMatched(rightRows.size(), false);
    std::vector<TABSAORow> joined;
    joined.reserve(leftRows.size());
    // Each pair is built once in its own row. The left rows are not read again once joined, so
    // a left row's values move into the last pair that certainly takes them instead of being
    // copied (texts longer than a few characters would each be allocated again).
    const auto pairRow = [&](TABSAORow& leftRow, bool moveLeft) {
        TABSAORow row;
        row.reserve(width);
        if (moveLeft) std::move(leftRow.begin(), leftRow.end(), std::back_inserter(row));
        else row.insert(row.end(), leftRow.begin(), leftRow.end());
        return row;
    };
    for (TABSAORow& leftRow : leftRows) {
        bool matched = false;
        std::size_t begin = 0;
        std::size_t end = order.size();
        if (keyed) {
            const bool nullKey = std::any_of(leftKeys_.begin(), leftKeys_.end(),
                                             [&](std::size_t k) { return leftRow[k].IsNull(); });
            if (nullKey) {
                begin = end = 0;
            } else {
                const auto lower = std::lower_bound(order.begin(), order.end(), 0, [&](std::size_t r, int) {
                    return compareKeys(rightRows[r], rightKeys_, leftRow, leftKeys_) < 0;
                });
                const auto upper = std::upper_bound(lower, order.end(), 0, [&](int, std::size_t r) {
                    return compareKeys(leftRow, leftKeys_, rightRows[r], rightKeys_) < 0;
                });
                begin = static_cast<std::size_t>(lower - order.begin());
                end = static_cast<std::size_t>(upper - order.begin());
            }
        }
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t r = order[i];
            // Without match conditions every candidate is a match, so the last one is the last use.
            TABSAORow pair = pairRow(leftRow, match_.empty() && i + 1 == end);
            pair.insert(pair.end(), rightRows[r].begin(), rightRows[r].end());
            if (!match_.empty() && !AllHold(match_, pair)) continue;
            matched = true;
            rightMatched[r] = true;
            joined.push_back(std::move(pair));
        }
        if (!matched && (kind_ == TABSJoinKind::Left || kind_ == TABSJoinKind::Full)) {
            TABSAORow pair = pairRow(leftRow, true);
            pair.resize(width);
            NullRow(pair, leftCount_, width);
            joined.push_back(std::move(pair));
        }
    }
    if (kind_ == TABSJoinKind::Right || kind_ == TABSJoinKind::Full) {
        for (std::size_t r = 0; r < rightRows.size(); ++r) {
            if (rightMatched[r]) continue;
            TABSAORow pair;
            pair.reserve(width);
            pair.resize(leftCount_);
            NullRow(pair, 0, leftCount_);
            pair.insert(pair.end(), rightRows[r].begin(), rightRows[r].end());
            joined.push_back(std::move(pair));
        }
    }
    if (filters_.empty()) {
        rows_ = std::move(joined);
    } else {
        for (TABSAORow& row : joined) {
            if (AllHold(filters_, row)) rows_.push_back(std::move(row));
        }
    }
    rowSource_.SetRow(nullptr);
}

// ---- TABSAOGroupBy ----

TABSAOGroupBy::TABSAOGroupBy(std::unique_ptr<TABSAO> source, const TABSRowSource* outer, TABSEnvironmentPool& pool)
    : source_(std::move(source)), sourceRows_(source_->Columns(), outer), pool_(&pool) {}

void TABSAOGroupBy::AddOutput(TABSAOColumn column, TABSAOOutputItem item) {
    columns_.push_back(std::move(column));
    items_.push_back(item);
}

void TABSAOGroupBy::Produce() {
    const std::vector<TABSAORow>& sourceRows = source_->Rows();
    std::vector<std::size_t> rows;
    rows.reserve(sourceRows.size());
    for (std::size_t i = 0; i < sourceRows.size(); ++i) {
        sourceRows_.SetRow(&sourceRows[i]);
        if (std::all_of(filters_.begin(), filters_.end(), [](TABSExprNode* c) { return ConditionHolds(*c); })) {
            rows.push_back(i);
        }
    }
    const auto compareGroups = [&](std::size_t a, std::size_t b) {
        for (const std::size_t column : groupColumns_) {
            const int order = NullsFirstOrder(sourceRows[a][column].Compare(sourceRows[b][column]));
            if (order != 0) return order;
        }
        return 0;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) { return compareGroups(a, b) < 0; });

    const auto produceGroup = [&](std::size_t begin, std::size_t end) {
        for (TABSAOOutputItem& item : items_) {
            if (item.Expression) item.Expression->ResetAggregates();
        }
        if (having_) having_->ResetAggregates();
        for (std::size_t i = begin; i < end; ++i) {
            sourceRows_.SetRow(&sourceRows[rows[i]]);
            for (TABSAOOutputItem& item : items_) {
                if (item.Expression) item.Expression->AccumulateAggregates();
            }
            if (having_) having_->AccumulateAggregates();
        }
        // Group columns are equal in every row of the group; the first row stands for it.
        sourceRows_.SetRow(begin < end ? &sourceRows[rows[begin]] : nullptr);
        if (having_ && !having_->IsTrue()) return;
        TABSAORow row(items_.size());
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i].Expression) row[i].Assign(items_[i].Expression->Evaluate());
            else if (begin < end) row[i].Assign(sourceRows[rows[begin]][items_[i].SourceColumn]);
            else row[i] = NullOf(columns_[i].BaseType);
        }
        rows_.push_back(std::move(row));
    };

    if (groupColumns_.empty()) {
        // Aggregates over all rows give one row, also when there is none.
        produceGroup(0, rows.size());
    } else {
        std::size_t begin = 0;
        while (begin < rows.size()) {
            std::size_t end = begin + 1;
            while (end < rows.size() && compareGroups(rows[begin], rows[end]) == 0) ++end;
            produceGroup(begin, end);
            begin = end;
        }
    }
    sourceRows_.SetRow(nullptr);
}

// ---- TABSAOUnion ----

TABSAOUnion::TABSAOUnion(TABSSetOp op, bool all, std::unique_ptr<TABSAO> left, std::unique_ptr<TABSAO> right,
                         std::vector<std::size_t> leftColumns, std::vector<std::size_t> rightColumns)
    : op_(op), all_(all), left_(std::move(left)), right_(std::move(right)), leftColumns_(std::move(leftColumns)),
      rightColumns_(std::move(rightColumns)) {
    for (const std::size_t column : leftColumns_) {
        TABSAOColumn out = left_->Columns()[column];
        out.Hidden = false;
        out.TableRef = -1;
        columns_.push_back(std::move(out));
    }
}

void TABSAOUnion::OpenSources() {
    left_->Open();
    right_->Open();
}

void TABSAOUnion::Produce() {
    const auto project = [](const std::vector<TABSAORow>& rows, const std::vector<std::size_t>& columns) {
        std::vector<TABSAORow> out;
        out.reserve(rows.size());
        for (const TABSAORow& row : rows) {
            TABSAORow projected;
            projected.reserve(columns.size());
            for (const std::size_t c : columns) projected.push_back(row[c]);
            out.push_back(std::move(projected));
        }
        return out;
    };
    std::vector<TABSAORow> leftRows = project(left_->Rows(), leftColumns_);
    std::vector<TABSAORow> rightRows = project(right_->Rows(), rightColumns_);
    const RowLess less{columns_.size()};

    if (op_ == TABSSetOp::Union) {
        rows_ = std::move(leftRows);
        rows_.insert(rows_.end(), std::make_move_iterator(rightRows.begin()), std::make_move_iterator(rightRows.end()));
        if (!all_) SetDistinct(true);
        return;
    }
    // EXCEPT / INTERSECT: how often each row occurs in the second part.
    std::map<TABSAORow, std::int64_t, RowLess> counts(less);
    for (TABSAORow& row : rightRows) ++counts[std::move(row)];
    for (TABSAORow& row : leftRows) {
        const auto found = counts.find(row);
        const bool inRight = found != counts.end() && found->second > 0;
        if (op_ == TABSSetOp::Except) {
            if (inRight) {
                if (all_) --found->second;
                continue;
            }
        } else {
            if (!inRight) continue;
            if (all_) --found->second;
        }
        rows_.push_back(std::move(row));
    }
    if (!all_) SetDistinct(true);
}

} // namespace kova
