// Search conditions of a table scan and how they use indexes.
//
// The SQL layer hands a table the part of a WHERE condition (or a cursor filter) that concerns it,
// already taken apart at AND, as a list of TABSScanConditionPart: a field compared with a constant,
// or an IS [NOT] NULL test. Whatever it cannot express so it passes as a record predicate.
//
// TABSScanSearchConditionArray::Build turns the parts into scan conditions:
//   1. A part that is a comparison (=, <, >, <=, >=; not <> and not a partial comparison) or a null
//      test is offered to every index whose first column names its field. The index serves it when
//      it is persistent or a temporary index of the same session, and for a comparison the value
//      order is the index's: the constant keeps its value in the field's type, a text field's
//      column ignores case exactly when the comparison does (by the ignore-case option, or because
//      the field is wrapped in UPPER / LOWER and the constant is in that case already), and a text
//      constant is shorter than the field's declared size.
//   2. Each serving index gets one condition with a one-column key and a find mode:
//          part              ascending column   descending column
//          =, IS NULL        1                  1
//          >, IS NOT NULL    3                  2
//          <                 2                  3
//          >=                5                  4
//          <=                4                  5
//   3. An equality on a multi-column index takes in the next columns' equality / IS NULL parts.
//   4. Parts no index serves form one condition evaluated record by record.
//   5. Conditions on one index merge pairwise: identical ones go, contradicting ones make the whole
//      search empty, >= and <= of one key become =, otherwise each side keeps its tighter bound (an
//      equality absorbs a bound only when its key has at least as many columns).
//
// TABSScanSearch then picks at most one range of one index to walk (ChooseRange) and finds the
// matching records: all of them into a filter bitmap, or the nearest one to a cursor position.
#pragma once

#include "engine/core/ABSVariant.h"
#include "engine/storage/ABSBTree.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSIndexManager.h"
#include "engine/storage/ABSRecordBitmap.h"
#include "engine/storage/ABSRecordID.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kova {

enum class TABSScanOperator : std::uint8_t {
    Equal,
    NotEqual,
    Less,
    Greater,
    LessOrEqual,
    GreaterOrEqual,
    IsNull,
    IsNotNull,
};

// A field wrapped in a case function.
enum class TABSCaseWrap : std::uint8_t { None, Upper, Lower };

// One AND-part of a search condition.
struct TABSScanConditionPart {
    std::string FieldName;
    TABSScanOperator Operator = TABSScanOperator::Equal;
    TABSVariant Constant;                    // not used by the null tests
    bool IgnoreCase = false;                 // the comparison ignores case
    TABSCaseWrap Wrap = TABSCaseWrap::None;  // UPPER(field) / LOWER(field)
    bool Partial = false;                    // text matches up to the constant's length
};

// What no part can express: evaluated on the memory record.
using TABSRecordPredicate = std::function<bool(std::span<const std::uint8_t> record)>;

// One scan condition: a find mode and key on an index, or parts evaluated record by record.
struct TABSScanSearchCondition {
    enum class Kind : std::uint8_t { Index, Record };

    Kind ConditionKind = Kind::Index;
    // Index conditions.
    std::int32_t IndexID = 0;
    TABSFindMode Mode = TABSFindMode::FirstEqual;
    std::vector<TABSVariant> Key;  // c ≥ 1 leading columns, in the fields' storage types
    // A comparison never holds for a null field, so entries whose first column is null are skipped
    // (a null test keeps them).
    bool ExcludeNulls = false;
    // The parts (by their place in the list given to Build) this condition stands for. A walk over
    // a range implies every condition whose parts the range's conditions stand for already.
    std::vector<std::size_t> SourceParts;
    // Record conditions.
    std::vector<TABSScanConditionPart> Parts;

    [[nodiscard]] bool IsIndexCondition() const noexcept { return ConditionKind == Kind::Index; }
};

class TABSScanSearchConditionArray {
public:
    // Steps 1 to 5 above for the indexes of a table, as seen by `session`.
    [[nodiscard]] static TABSScanSearchConditionArray Build(const std::vector<TABSScanConditionPart>& parts,
                                                            TABSBaseIndexManager& indexes,
                                                            const TABSFieldDefs& fields, TABSSessionID session);

    // The conditions contradict each other: no record can match, none needs to be read.
    [[nodiscard]] bool IsEmptyResult() const noexcept { return empty_; }
    [[nodiscard]] const std::vector<TABSScanSearchCondition>& Conditions() const noexcept { return conditions_; }
    [[nodiscard]] std::size_t IndexConditionCount() const noexcept;
    [[nodiscard]] const TABSScanSearchCondition* RecordCondition() const noexcept;

    // Adds a condition and merges it with those on the same index (step 5). Record conditions are
    // appended to the one record condition.
    void Add(TABSScanSearchCondition condition, TABSBaseIndexManager& indexes);

private:
    std::vector<TABSScanSearchCondition> conditions_;
    bool empty_ = false;
};

// Figures of the table and the cursor for choosing a range.
struct TABSScanCostInputs {
    std::uint64_t RecordCount = 0;
    std::size_t RecordSize = 0;      // disk record size S
    std::size_t PageDataSize = 4056;  // D
    // The index of the cursor's current order; nothing for physical order.
    std::optional<std::int32_t> CurrentOrderIndexID;
    // h: records taken as already passed (a table of a database file: record count div 2).
    std::uint64_t PassedRecords = 0;
};

// A chosen range: conditions of one index bounding the walk.
struct TABSIndexRange {
    std::int32_t IndexID = 0;
    std::optional<TABSScanSearchCondition> Equal;
    std::optional<TABSScanSearchCondition> Lower;  // modes 3, 5
    std::optional<TABSScanSearchCondition> Upper;  // modes 2, 4
};

class TABSScanSearch {
public:
    // REQUIRES: the referenced objects outlive the search.
    TABSScanSearch(TABSScanSearchConditionArray conditions, TABSBaseIndexManager& indexes, const TABSFieldDefs& fields,
                   TABSIndexRecordSource& records);

    void SetRecordFilter(TABSRecordPredicate filter) { filter_ = std::move(filter); }
    [[nodiscard]] const TABSScanSearchConditionArray& Conditions() const noexcept { return conditions_; }

    // Picks the range to walk, if any:
    //   1. an equality on a one-column index that is unique or primary or on an auto-increment
    //      field is taken at once;
    //   2. else a single index condition on the cursor's current order is taken;
    //   3. else the cheapest range by estimated pages, when it costs less than the record count and
    //      a plain scan does not cost less.
    void ChooseRange(TABSSessionID session, const TABSScanCostInputs& inputs);
    [[nodiscard]] const std::optional<TABSIndexRange>& ChosenRange() const noexcept { return chosen_; }
    // Estimated pages of walking a range (the cost of rule 3).
    [[nodiscard]] double EstimateRangeCost(TABSSessionID session, const TABSIndexRange& range,
                                           const TABSScanCostInputs& inputs);

    // Whether a record passes every condition and the record filter.
    [[nodiscard]] bool Matches(std::span<const std::uint8_t> record);

    // Marks every matching record; `position` maps an identifier to its record position.
    void MarkAll(TABSSessionID session, TABSRecordBitmap& bitmap,
                 const std::function<std::uint64_t(const TABSRecordID&)>& position);
    // With a chosen range: the matching record nearest to `from` (excluded; none = from the start
    // or the end) in physical order and the given direction. Without a range nothing is searched
    // here: the caller steps through its order and calls Matches.
    [[nodiscard]] std::optional<TABSRecordID> FindNearest(TABSSessionID session, const TABSRecordID* from, bool forward);

    // Visits the entries of a range in index order until `visit` returns false.
    void WalkRange(TABSSessionID session, const TABSIndexRange& range,
                   const std::function<bool(const TABSRecordID&)>& visit);

private:
    [[nodiscard]] std::vector<TABSIndexRange> Ranges() const;
    [[nodiscard]] bool MatchesIndexCondition(const TABSScanSearchCondition& condition,
                                             std::span<const std::uint8_t> record);
    [[nodiscard]] bool MatchesExceptRange(std::span<const std::uint8_t> record);
    [[nodiscard]] bool RangeNeedsRecords() const;
    // Whether walking `range` already enforces condition `c`.
    [[nodiscard]] static bool ImpliedBy(const TABSIndexRange& range, const TABSScanSearchCondition& c);

    TABSScanSearchConditionArray conditions_;
    TABSBaseIndexManager* indexes_;
    const TABSFieldDefs* fields_;
    TABSIndexRecordSource* records_;
    TABSRecordPredicate filter_;
    std::optional<TABSIndexRange> chosen_;
};

// Evaluates one part on a memory record (SQL truth: a null field or constant never compares true).
// Null tests work on every field; comparisons of BLOB fields raise 30047 (their values are not in
// the record), so the SQL layer passes those as a record predicate.
[[nodiscard]] bool EvaluateConditionPart(const TABSScanConditionPart& part, const TABSFieldDefs& fields,
                                         std::span<const std::uint8_t> record);

} // namespace kova
