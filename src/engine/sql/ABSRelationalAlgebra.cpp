// The operator base (distinct, sort), row sources over operator rows, the subquery environment,
// the table scan, the projection, TOP, and the result naming rules.
#include "engine/sql/ABSRelationalAlgebra.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSTableCursor.h"

#include <algorithm>
#include <set>

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

void TABSAO::SortRows() {
    std::stable_sort(rows_.begin(), rows_.end(), [this](const TABSAORow& a, const TABSAORow& b) {
        for (const TABSAOSortColumn& key : sort_) {
            int order = NullsFirstOrder(a[key.Column].Compare(b[key.Column], key.CaseInsensitive));
            if (key.Descending) order = -order;
            if (order != 0) return order < 0;
        }
        return false;
    });
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
    tree->Open();
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

void TABSAOTable::Produce() {
    if (!handle_) handle_ = access_.OpenTable(table_);
    const auto passes = [this](const TABSAORow& row) {
        rowSource_->SetRow(&row);
        for (TABSExprNode* condition : conditions_) {
            if (!ConditionHolds(*condition)) return false;
        }
        return true;
    };
    TABSAORow row(columns_.size());
    if (!conditions_.empty()) {
        TABSTableData& table = handle_.Table();
        const TABSSessionID session = handle_.Session();
        if (auto candidates = IndexedCandidates(table, session, conditions_, columns_)) {
            std::vector<std::uint8_t> record = table.NewRecordBuffer();
            for (const TABSRecordID& id : *candidates) {
                {
                    std::lock_guard lock(table.Mutex());
                    table.ReadRecord(session, id, record);
                }
                for (std::size_t i = 0; i < row.size(); ++i) row[i] = ReadFieldValue(table, session, record, i);
                if (passes(row)) rows_.push_back(row);
            }
            rowSource_->SetRow(nullptr);
            return;
        }
    }
    TABSTableCursor cursor(std::move(handle_), false, alias_);
    for (bool onRow = cursor.First(); onRow; onRow = cursor.Next()) {
        for (std::size_t i = 0; i < row.size(); ++i) cursor.GetValue(i, row[i]);
        if (passes(row)) rows_.push_back(row);
    }
    rowSource_->SetRow(nullptr);
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
    std::int64_t rowNumber = 0;
    for (const TABSAORow& sourceRow : source_->Rows()) {
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
        TABSAORow row(items_.size());
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i].Expression) row[i].Assign(items_[i].Expression->Evaluate());
            else row[i].Assign(sourceRow[items_[i].SourceColumn]);
        }
        rows_.push_back(std::move(row));
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
