// The operator base (distinct, sort), row sources over operator rows, the subquery environment,
// the table scan, the projection, TOP, and the result naming rules.
#include "engine/sql/ABSRelationalAlgebra.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSCollationKeys.h"
#include "engine/sql/ABSTableCursor.h"

#include <algorithm>
#include <numeric>
#include <set>
#include <string_view>
#include <unordered_map>

namespace kova {

namespace {

[[nodiscard]] bool SameName(std::string_view a, std::string_view b) {
    if (a.size() == b.size()) {
        bool equal = true;
        for (std::size_t i = 0; i < a.size() && equal; ++i) {
            const auto ca = static_cast<unsigned char>(a[i]);
            const auto cb = static_cast<unsigned char>(b[i]);
            if (ca < 0x80 && cb < 0x80) equal = std::toupper(ca) == std::toupper(cb);
            else equal = false;
        }
        if (equal) return true;
    }
    return UpperCaseText(a) == UpperCaseText(b);
}

// Rows compared column by column in the order of sorting and grouping: two nulls are equal, a
// null comes before any value, texts compare case-sensitively with the collation.
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

class CachedSubqueryRows final : public TABSSubqueryRows {
public:
    CachedSubqueryRows(std::shared_ptr<const std::vector<TABSAORow>> rows, std::size_t columns)
        : rows_(std::move(rows)), columns_(columns) {}
    bool Next() override {
        if (next_ >= rows_->size()) return false;
        current_ = next_++;
        return true;
    }
    [[nodiscard]] std::size_t ColumnCount() const override { return columns_; }
    [[nodiscard]] const TABSVariant& Value(std::size_t column) const override { return (*rows_)[current_][column]; }

private:
    std::shared_ptr<const std::vector<TABSAORow>> rows_;
    std::size_t columns_;
    std::size_t next_ = 0;
    std::size_t current_ = 0;
};

// The outer row as a subquery sees it, noting whether the subquery looked at it at all.
class TrackingRowSource final : public TABSRowSource {
public:
    explicit TrackingRowSource(const TABSRowSource* inner) : inner_(inner) {}
    [[nodiscard]] std::optional<TABSColumnInfo> FindColumn(std::string_view qualifier,
                                                           std::string_view name) const override {
        if (!inner_) return std::nullopt;
        auto found = inner_->FindColumn(qualifier, name);
        if (found) used_ = true;
        return found;
    }
    [[nodiscard]] const TABSVariant& ColumnValue(std::size_t index) const override {
        return inner_->ColumnValue(index);
    }
    [[nodiscard]] bool Used() const noexcept { return used_; }

private:
    const TABSRowSource* inner_;
    mutable bool used_ = false;
};

// Outer columns are numbered above every column an operator can have, one step per level.
constexpr std::size_t kOuterColumnBase = std::size_t{1} << 40;

} // namespace

bool ConditionHolds(TABSExprNode& condition) {
    const TABSVariant& value = condition.Evaluate();
    return !value.IsNull() && value.GetAsBoolean();
}

void BindNode(TABSExprNode& node, const TABSRowSource* rows, TABSExprEnvironment* environment) {
    node.Bind(TABSBindContext{rows, environment});
}

bool TABSAOColumn::MatchesQualifier(std::string_view qualifier) const {
    if (qualifier.empty()) return true;
    return (!Alias.empty() && SameName(Alias, qualifier)) || (!TableName.empty() && SameName(TableName, qualifier));
}

// ---- TABSAO ----

TABSAO::~TABSAO() = default;

void TABSAO::Open() {
    OpenSources();
    rows_.clear();
    Produce();
    if (distinct_) RemoveDuplicates();
    if (!sort_.empty()) SortRows();
}

std::size_t TABSAO::VisibleColumnCount() const noexcept {
    return static_cast<std::size_t>(std::count_if(columns_.begin(), columns_.end(),
                                                   [](const TABSAOColumn& c) { return !c.Hidden; }));
}

std::optional<std::size_t> TABSAO::FindColumn(std::string_view qualifier, std::string_view name) const {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].MatchesQualifier(qualifier) && SameName(columns_[i].Name, name)) return i;
    }
    return std::nullopt;
}

void TABSAO::RemoveDuplicates() {
    // Visible columns come first in every operator that can be distinct; hidden sort columns
    // follow and do not take part.
    const std::size_t visible = VisibleColumnCount();
    std::set<TABSAORow, RowLess> seen(RowLess{visible});
    std::vector<TABSAORow> kept;
    kept.reserve(rows_.size());
    for (TABSAORow& row : rows_) {
        TABSAORow key(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(visible));
        if (seen.insert(std::move(key)).second) kept.push_back(std::move(row));
    }
    rows_ = std::move(kept);
}

namespace {

// The places of a text column's values in the collation order: equal places for texts the
// collation finds equal, -1 for null (nulls come first). Nothing when the column holds anything
// but 8-bit text, which then compares value by value.
[[nodiscard]] std::optional<std::vector<std::int64_t>> TextRanks(const std::vector<TABSAORow>& rows,
                                                                 std::size_t column, bool ignoreCase) {
    std::unordered_map<std::string_view, std::size_t> idOf;
    std::vector<std::string_view> distinct;
    std::vector<std::int64_t> ids(rows.size(), -1);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const TABSVariant& value = rows[r][column];
        if (value.IsNull()) continue;
        if (!IsAnsiTextType(value.BaseType())) return std::nullopt;
        const auto [found, added] = idOf.try_emplace(value.TextData(), distinct.size());
        if (added) distinct.push_back(value.TextData());
        ids[r] = static_cast<std::int64_t>(found->second);
    }
    std::vector<std::size_t> order(distinct.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // The neighbours of an order are compared with the collation anyway, which finds the ties;
    // an order whose neighbours all agree with the collation is its order. So cheaper orders are
    // proposed first: the texts' bytes (identifiers and most plain texts already sort so), then
    // collation keys (one key per text instead of a collation comparison per step of the sort),
    // and only when both failed are the texts sorted by the collation itself.
    std::vector<int> neighbours(order.size(), 0);
    const auto confirmed = [&] {
        for (std::size_t i = 1; i < order.size(); ++i) {
            neighbours[i] = CompareText(distinct[order[i - 1]], distinct[order[i]], ignoreCase);
            if (neighbours[i] > 0) return false;
        }
        return true;
    };
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return distinct[a] < distinct[b]; });
    bool sorted = confirmed();
    if (!sorted) {
        if (const std::optional<TABSCollationKeys> keys = TABSCollationKeys::Make(distinct, ignoreCase)) {
            std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys->Key(a) < keys->Key(b); });
            sorted = confirmed();
        }
    }
    if (!sorted) {
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return CompareText(distinct[a], distinct[b], ignoreCase) < 0;
        });
        for (std::size_t i = 1; i < order.size(); ++i) {
            neighbours[i] = CompareText(distinct[order[i - 1]], distinct[order[i]], ignoreCase);
        }
    }
    std::vector<std::int64_t> rankOf(distinct.size());
    std::int64_t rank = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && neighbours[i] != 0) ++rank;
        rankOf[order[i]] = rank;
    }
    for (std::int64_t& id : ids) {
        if (id >= 0) id = rankOf[static_cast<std::size_t>(id)];
    }
    return ids;
}

} // namespace

void TABSAO::SortRows() {
    // The collation is by far the dearest part of comparing texts, so each distinct text of a
    // key column is placed once and the rows then compare by those places.
    struct Key {
        TABSAOSortColumn sort;
        std::optional<std::vector<std::int64_t>> ranks;
    };
    std::vector<Key> keys;
    keys.reserve(sort_.size());
    for (const TABSAOSortColumn& column : sort_) keys.push_back({column, TextRanks(rows_, column.Column, column.CaseInsensitive)});
    std::vector<std::size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (const Key& key : keys) {
            int result = 0;
            if (key.ranks) {
                const std::int64_t ra = (*key.ranks)[a];
                const std::int64_t rb = (*key.ranks)[b];
                result = ra < rb ? -1 : (ra > rb ? 1 : 0);
            } else {
                const std::size_t c = key.sort.Column;
                result = NullsFirstOrder(rows_[a][c].Compare(rows_[b][c], key.sort.CaseInsensitive));
            }
            if (key.sort.Descending) result = -result;
            if (result != 0) return result < 0;
        }
        return false;
    });
    std::vector<TABSAORow> sorted;
    sorted.reserve(rows_.size());
    for (const std::size_t i : order) sorted.push_back(std::move(rows_[i]));
    rows_ = std::move(sorted);
}

// ---- TABSAORowSource ----

std::optional<TABSColumnInfo> TABSAORowSource::FindColumn(std::string_view qualifier, std::string_view name) const {
    const std::vector<TABSAOColumn>& columns = *columns_;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].MatchesQualifier(qualifier) && SameName(columns[i].Name, name)) {
            return TABSColumnInfo{i, columns[i].BaseType, columns[i].Size};
        }
    }
    if (outer_) {
        if (auto found = outer_->FindColumn(qualifier, name)) {
            usedOuter_ = true;
            found->index += kOuterColumnBase;
            return found;
        }
    }
    return std::nullopt;
}

const TABSVariant& TABSAORowSource::ColumnValue(std::size_t index) const {
    if (index >= kOuterColumnBase) return outer_->ColumnValue(index - kOuterColumnBase);
    if (loader_) return loader_->Load(index);
    if (!row_) return null_;
    return (*row_)[index];
}

// ---- Environment ----

std::unique_ptr<TABSSubqueryRows> TABSQueryEnvironment::RunSubquery(const TABSQueryExpr& query) {
    if (auto cached = cache_.find(&query); cached != cache_.end()) {
        auto rows = std::shared_ptr<const std::vector<TABSAORow>>(cached->second, &cached->second->rows);
        return std::make_unique<CachedSubqueryRows>(std::move(rows), cached->second->columns);
    }
    // Running binds the subquery's expressions again; the statement owns them and runs alone.
    auto& mutableQuery = const_cast<TABSQueryExpr&>(query);
    TrackingRowSource outer(rows_);
    TABSTableAccess access(*context_);
    TABSEnvironmentPool pool(*context_);
    std::unique_ptr<TABSAO> tree = BuildQueryTree(mutableQuery, access, &outer, pool);
    {
        TABSStatementReadLocks locks(*context_);
        locks.Lock(*tree);
        tree->Open();
    }
    auto result = std::make_shared<CachedRows>();
    result->columns = tree->VisibleColumnCount();
    result->rows.reserve(tree->Rows().size());
    for (TABSAORow& row : tree->Rows()) {
        row.resize(result->columns);
        result->rows.push_back(std::move(row));
    }
    if (!outer.Used()) cache_[&query] = result;
    auto rows = std::shared_ptr<const std::vector<TABSAORow>>(result, &result->rows);
    return std::make_unique<CachedSubqueryRows>(std::move(rows), result->columns);
}

std::int64_t TABSQueryEnvironment::LastAutoInc(std::string_view table, std::string_view column) {
    TABSTableAccess access(*context_);
    TABSTableName name;
    name.name = std::string(table);
    TABSTableHandle handle = access.OpenTable(name);
    const TABSFieldDefs& fields = handle->FieldDefs();
    for (const TABSFieldDef& field : fields) {
        if (!field.IsAutoInc()) continue;
        if (!column.empty() && !SameName(field.Name, column)) continue;
        const std::int64_t next = handle->NextAutoincValue(handle.Session(), field.FieldNo);
        return next - field.AutoincIncrement;
    }
    RaiseError(30090, "Field '%s' not found", {std::string(column)});
}

TABSQueryEnvironment* TABSEnvironmentPool::For(const TABSRowSource* rows) {
    for (auto& environment : environments_) {
        if (environment->RowsFor() == rows) return environment.get();
    }
    environments_.push_back(std::make_unique<TABSQueryEnvironment>(*context_, rows));
    return environments_.back().get();
}

// ---- TABSAOTable ----

TABSAOTable::TABSAOTable(const TABSTableAccess& access, TABSTableName table, std::string alias, int tableRef)
    : access_(access), table_(std::move(table)), alias_(std::move(alias)) {
    handle_ = access_.OpenTable(table_);
    const TABSFieldDefs& fields = handle_->FieldDefs();
    for (const TABSFieldDef& field : fields) {
        TABSAOColumn column;
        column.Name = field.Name;
        column.TableName = table_.name;
        column.Alias = alias_;
        column.BaseType = field.StorageType;
        column.ColumnType = field.ColumnType;
        column.Size = field.Size;
        column.TableRef = tableRef;
        columns_.push_back(std::move(column));
    }
    rowSource_ = std::make_unique<TABSAORowSource>(columns_, nullptr);
}

TABSAOTable::~TABSAOTable() = default;

void TABSAOTable::SetOuterRows(const TABSRowSource* outer, TABSEnvironmentPool* pool) {
    rowSource_ = std::make_unique<TABSAORowSource>(columns_, outer);
    pool_ = pool;
}

void TABSAOTable::AddCondition(TABSExprNode* condition) {
    BindNode(*condition, rowSource_.get(), pool_ ? pool_->For(rowSource_.get()) : nullptr);
    conditions_.push_back(condition);
}

namespace {

// One record of a table as a row: each column is decoded the first time it is asked for, so
// that a record the conditions turn down costs only the columns they read.
class RecordColumnLoader final : public TABSAOColumnLoader {
public:
    RecordColumnLoader(TABSTableData& table, TABSSessionID session, std::size_t columns)
        : table_(table), session_(session), record_(table.NewRecordBuffer()), row_(columns),
          loaded_(columns, false), blobs_(table.FieldDefs().HasBlobFields()) {}
    ~RecordColumnLoader() override {
        if (blobs_) table_.ReleaseRecordBuffer(record_, true);
    }
    RecordColumnLoader(const RecordColumnLoader&) = delete;
    RecordColumnLoader& operator=(const RecordColumnLoader&) = delete;

    void Read(const TABSRecordID& id) {
        // Cached BLOB values belong to the record the buffer held before.
        if (blobs_) table_.ReleaseRecordBuffer(record_, false);
        {
            std::lock_guard lock(table_.Mutex());
            table_.ReadRecord(session_, id, record_);
        }
        std::fill(loaded_.begin(), loaded_.end(), false);
    }
    [[nodiscard]] const TABSVariant& Load(std::size_t index) override {
        if (!loaded_[index]) {
            if (!LoadAsciiText(index)) row_[index] = ReadFieldValue(table_, session_, record_, index);
            loaded_[index] = true;
        }
        return row_[index];
    }
    [[nodiscard]] std::span<const std::uint8_t> Record() const noexcept { return record_; }
    // The whole row (every column decoded); the loader starts a fresh row for the next record.
    [[nodiscard]] TABSAORow TakeRow() {
        for (std::size_t i = 0; i < row_.size(); ++i) (void)Load(i);
        TABSAORow row(row_.size());
        row.swap(row_);
        return row;
    }

private:
    // Most stored texts are plain ASCII, which reads the same in Windows-1252 and UTF-8: such a
    // field is taken over as it lies, without a conversion that builds the text character by
    // character. False for anything else, which the general decoding reads.
    bool LoadAsciiText(std::size_t index) {
        const TABSFieldDefs& fields = table_.FieldDefs();
        const TABSFieldDef& field = fields[index];
        if (!IsAnsiTextType(field.StorageType) || fields.IsNull(record_, index)) return false;
        const auto bytes = fields.FieldBytes(std::span<const std::uint8_t>(record_), index);
        std::size_t length = 0;
        while (length < bytes.size() && bytes[length] != 0) {
            if (bytes[length] >= 0x80) return false;
            ++length;
        }
        row_[index].SetAsString(std::string_view(reinterpret_cast<const char*>(bytes.data()), length),
                                field.StorageType);
        return true;
    }

    TABSTableData& table_;
    TABSSessionID session_;
    std::vector<std::uint8_t> record_;
    TABSAORow row_;
    std::vector<bool> loaded_;
    bool blobs_;
};

} // namespace

void TABSAOTable::Produce() {
    if (!handle_) handle_ = access_.OpenTable(table_);
    {
        TABSTableData& table = handle_.Table();
        const TABSSessionID session = handle_.Session();
        RecordColumnLoader loader(table, session, columns_.size());
        const std::vector<TABSAOTextEquality> equalities = TextEqualities(conditions_, columns_);
        const auto take = [&](const TABSRecordID& id) {
            loader.Read(id);
            if (RefutedByText(equalities, table.FieldDefs(), loader.Record())) return;
            rowSource_->SetLoader(&loader);
            for (TABSExprNode* condition : conditions_) {
                if (!ConditionHolds(*condition)) return;
            }
            rows_.push_back(loader.TakeRow());
        };
        std::optional<std::vector<TABSRecordID>> candidates;
        if (!conditions_.empty()) candidates = IndexedCandidates(table, session, conditions_, columns_);
        try {
            if (candidates) {
                for (const TABSRecordID& id : *candidates) take(id);
            } else {
                for (auto id = table.FirstRecord(session); id; id = table.NextRecord(session, *id)) take(*id);
            }
        } catch (...) {
            rowSource_->SetRow(nullptr);
            throw;
        }
        rowSource_->SetRow(nullptr);
    }
    // The rows are read: the table is not held open beyond the scan.
    handle_.Close();
}

// ---- TABSAOTableExpr ----

TABSAOTableExpr::TABSAOTableExpr(std::unique_ptr<TABSAO> source, const TABSRowSource* outer, TABSEnvironmentPool& pool)
    : source_(std::move(source)), sourceRows_(source_->Columns(), outer), pool_(&pool) {}

void TABSAOTableExpr::AddOutput(TABSAOColumn column, TABSAOOutputItem item) {
    columns_.push_back(std::move(column));
    items_.push_back(item);
}

void TABSAOTableExpr::Produce() {
    TABSQueryEnvironment* environment = pool_->For(&sourceRows_);
    // The source rows are not read again once projected, so a column that only one output takes
    // as it is can be moved instead of copied.
    std::vector<int> takers(source_->Columns().size(), 0);
    for (const TABSAOOutputItem& item : items_) {
        if (!item.Expression) ++takers[item.SourceColumn];
    }
    std::int64_t rowNumber = 0;
    rows_.reserve(source_->Rows().size());
    TABSAORow spare(items_.size());
    for (TABSAORow& sourceRow : source_->Rows()) {
        sourceRows_.SetRow(&sourceRow);
        environment->SetRowNumber(rowNumber + 1);
        bool passes = true;
        for (TABSExprNode* condition : filters_) {
            if (!ConditionHolds(*condition)) {
                passes = false;
                break;
            }
        }
        if (!passes) continue;
        ++rowNumber;
        // Expressions first: they may read columns that are moved below.
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i].Expression) spare[i].Assign(items_[i].Expression->Evaluate());
        }
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i].Expression) continue;
            TABSVariant& value = sourceRow[items_[i].SourceColumn];
            if (takers[items_[i].SourceColumn] == 1) spare[i] = std::move(value);
            else spare[i].Assign(value);
        }
        // The finished row leaves in the spare buffer; the source row's buffer, whose values are
        // spent, becomes the spare of the next row. Rows are not allocated one by one: with
        // thousands of rows the allocations, and the fresh pages behind them, cost more than
        // computing the values.
        sourceRow.swap(spare);
        rows_.push_back(std::move(sourceRow));
        spare.resize(items_.size());
    }
    sourceRows_.SetRow(nullptr);
}

// ---- TABSAOSQLTopRowCount ----

TABSAOSQLTopRowCount::TABSAOSQLTopRowCount(std::unique_ptr<TABSAO> source, std::int64_t count, std::int64_t first)
    : source_(std::move(source)), count_(count), first_(first < 1 ? 1 : first) {
    columns_ = source_->Columns();
}

void TABSAOSQLTopRowCount::Produce() {
    std::vector<TABSAORow>& rows = source_->Rows();
    const auto total = static_cast<std::int64_t>(rows.size());
    for (std::int64_t i = first_ - 1; i < total && static_cast<std::int64_t>(rows_.size()) < count_; ++i) {
        rows_.push_back(std::move(rows[static_cast<std::size_t>(i)]));
    }
}

// ---- Names and types ----

std::vector<std::string> MakeResultColumnNames(const std::vector<std::string>& given, const std::vector<bool>& plain) {
    std::vector<std::string> names;
    names.reserve(given.size());
    const auto taken = [&](const std::string& candidate) {
        return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, candidate); });
    };
    const auto takenAnywhere = [&](const std::string& candidate) {
        return taken(candidate) ||
               std::any_of(given.begin(), given.end(), [&](const std::string& n) { return SameName(n, candidate); });
    };
    for (std::size_t i = 0; i < given.size(); ++i) {
        std::string name = given[i];
        if (taken(name)) {
            // A plain column named twice gets "Name_1", "Name_2" ...; anything else equal to an
            // earlier name gets "_1" and then further numbers until it is free.
            for (int n = 1;; ++n) {
                std::string candidate = FormatMessage("%s_%d", {given[i], n});
                if (!takenAnywhere(candidate) || (!plain[i] && !taken(candidate))) {
                    name = std::move(candidate);
                    break;
                }
            }
        }
        names.push_back(std::move(name));
    }
    return names;
}

TABSColumnType ResultColumnType(TABSBaseType type) noexcept {
    using B = TABSBaseType;
    using C = TABSColumnType;
    switch (type) {
        case B::bftChar:
        case B::bftString: return C::actString;
        case B::bftWideChar:
        case B::bftWideString: return C::actWideString;
        case B::bftShortInt: return C::actShortInt;
        case B::bftSmallInt: return C::actSmallInt;
        case B::bftInteger: return C::actInteger;
        case B::bftLargeInt: return C::actLargeInt;
        case B::bftByte: return C::actByte;
        case B::bftWord: return C::actWord;
        case B::bftCardinal: return C::actCardinal;
        case B::bftSingle: return C::actSingle;
        case B::bftDouble: return C::actDouble;
        case B::bftExtended: return C::actExtended;
        case B::bftDate: return C::actDate;
        case B::bftTime: return C::actTime;
        case B::bftDateTime: return C::actDateTime;
        case B::bftBlob: return C::actBlob;
        case B::bftMemo: return C::actMemo;
        case B::bftWideMemo: return C::actWideMemo;
        case B::bftLogical: return C::actBoolean;
        case B::bftCurrency: return C::actCurrency;
        case B::bftBytes: return C::actBytes;
        case B::bftVarBytes: return C::actVarBytes;
        case B::bftUnknown: break;
    }
    return C::actString;
}

} // namespace kova
