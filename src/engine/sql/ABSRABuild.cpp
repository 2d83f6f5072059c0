// Building the operator tree of a query: FROM into tables and joins, WHERE / ON parts placed at
// the lowest operator that can decide them, the select list, grouping, ORDER BY, TOP, and the
// set operations.
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSRelationalAlgebra.h"

#include <algorithm>
#include <set>

namespace kova {

namespace {

void SplitConjuncts(TABSExprNode* node, std::vector<TABSExprNode*>& parts) {
    if (node->NodeClass() == TABSExprNodeClass::Boolean && node->Op() == opAND) {
        for (auto& child : node->Children()) SplitConjuncts(child.get(), parts);
    } else {
        parts.push_back(node);
    }
}

[[nodiscard]] bool ContainsSubquery(const TABSExprNode* node) {
    if (node->NodeClass() == TABSExprNodeClass::Subquery) return true;
    return std::any_of(node->Children().begin(), node->Children().end(),
                       [](const auto& child) { return ContainsSubquery(child.get()); });
}

void CollectFields(const TABSExprNode* node, std::vector<const TABSExprNodeField*>& fields) {
    if (node->NodeClass() == TABSExprNodeClass::Field) fields.push_back(static_cast<const TABSExprNodeField*>(node));
    for (const auto& child : node->Children()) CollectFields(child.get(), fields);
}

// Types whose values the engine's comparison orders among each other without conversion
// questions; only such columns serve as join keys.
[[nodiscard]] int KeyClass(TABSBaseType type) {
    if (IsTextType(type)) return 1;
    if (IsIntegerType(type) || IsFloatType(type) || type == TABSBaseType::bftCurrency) return 2;
    if (IsDateTimeKind(type)) return 3 + static_cast<int>(type);
    return 100 + static_cast<int>(type);
}

[[nodiscard]] std::string QualifiedName(const std::string& qualifier, const std::string& name) {
    return qualifier.empty() ? name : qualifier + "." + name;
}

// One FROM entry (or join of entries) while the tree is built.
struct FromNode {
    TABSAO* op = nullptr;
    TABSAOTable* table = nullptr;  // a base table
    TABSAOJoin* join = nullptr;
    std::unique_ptr<FromNode> left;
    std::unique_ptr<FromNode> right;
    std::set<int> refs;  // FROM references below
};

struct Built {
    std::unique_ptr<TABSAO> op;
    std::unique_ptr<FromNode> node;
};

class SelectBuilder {
public:
    SelectBuilder(TABSSelectClauses& select, const TABSTableAccess& access, const TABSRowSource* outer,
                  TABSEnvironmentPool& pool)
        : select_(select), access_(access), outer_(outer), pool_(pool) {}

    std::unique_ptr<TABSAO> Build();

private:
    Built BuildRef(TABSTableRef& ref);
    Built BuildJoined(TABSJoinedTable& joined);
    Built MakeJoin(TABSJoinKind kind, Built left, Built right);
    void AddJoinKeys(TABSJoin& join, TABSAOJoin& op);
    void Place(FromNode& node, TABSExprNode* part, const std::set<int>& refs, int error, std::string_view message);
    // The FROM references a condition part reads; nullopt when it must go to the top.
    [[nodiscard]] std::optional<std::set<int>> RefsOf(const TABSAO& scope, TABSExprNode* part, int error,
                                                      std::string_view message) const;
    void TryAddKey(TABSAOJoin& join, TABSExprNode* part) const;
    void BindOrRaise(TABSExprNode& node, const TABSRowSource* rows, int error, std::string_view message);

    std::unique_ptr<TABSAO> BuildProjection(std::unique_ptr<TABSAO> from);
    std::unique_ptr<TABSAO> BuildGrouping(std::unique_ptr<TABSAO> from);
    void ApplyOrderBy(TABSAO& top, TABSAO& source, std::vector<TABSAOOutputItem>* hiddenItems);
    void NameColumns(TABSAO& top);

    TABSSelectClauses& select_;
    const TABSTableAccess& access_;
    const TABSRowSource* outer_;
    TABSEnvironmentPool& pool_;
    int nextRef_ = 0;
    std::vector<TABSExprNode*> topParts_;  // WHERE parts decided above the FROM tree
    std::vector<bool> plainColumn_;         // per visible output column: a plain column without alias
    std::vector<std::optional<std::size_t>> outputSource_;  // per visible output column: the source column it copies
};

Built SelectBuilder::BuildRef(TABSTableRef& ref) {
    Built built;
    built.node = std::make_unique<FromNode>();
    switch (ref.kind) {
        case TABSTableRef::Kind::Table: {
            const int tableRef = nextRef_++;
            auto table = std::make_unique<TABSAOTable>(access_, ref.table, ref.alias, tableRef);
            table->SetOuterRows(outer_, &pool_);
            built.node->table = table.get();
            built.node->refs.insert(tableRef);
            built.op = std::move(table);
            break;
        }
        case TABSTableRef::Kind::Subquery: {
            const int tableRef = nextRef_++;
            built.op = BuildQueryTree(*ref.subquery, access_, outer_, pool_);
            // The subquery's visible columns, qualified by its alias only.
            std::vector<TABSAOColumn>& columns = built.op->Columns();
            for (TABSAOColumn& column : columns) {
                column.TableName.clear();
                column.Alias = ref.alias;
                column.TableRef = tableRef;
            }
            built.node->refs.insert(tableRef);
            break;
        }
        case TABSTableRef::Kind::Nested:
            return BuildJoined(*ref.nested);
    }
    built.node->op = built.op.get();
    return built;
}

Built SelectBuilder::MakeJoin(TABSJoinKind kind, Built left, Built right) {
    auto join = std::make_unique<TABSAOJoin>(kind, std::move(left.op), std::move(right.op), outer_, pool_);
    Built built;
    built.node = std::make_unique<FromNode>();
    built.node->join = join.get();
    built.node->op = join.get();
    built.node->refs = left.node->refs;
    built.node->refs.insert(right.node->refs.begin(), right.node->refs.end());
    built.node->left = std::move(left.node);
    built.node->right = std::move(right.node);
    built.op = std::move(join);
    return built;
}

void SelectBuilder::AddJoinKeys(TABSJoin& join, TABSAOJoin& op) {
    const auto sideName = [](TABSAO& side) {
        const auto& columns = side.Columns();
        if (columns.empty()) return std::string();
        return columns.front().Alias.empty() ? columns.front().TableName : columns.front().Alias;
    };
    if (!join.usingColumns.empty()) {
        for (std::size_t i = 0; i < join.usingColumns.size(); ++i) {
            const std::string& name = join.usingColumns[i];
            const auto left = op.Left().FindColumn("", name);
            if (!left) {
                RaiseError(kJoinInvalidFieldError,
                           "Invalid field for join operation. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
                           {sideName(op.Left()), name, static_cast<int>(i), 0});
            }
            const auto right = op.Right().FindColumn("", name);
            if (!right) {
                RaiseError(kJoinInvalidFieldError,
                           "Invalid field for join operation. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
                           {sideName(op.Right()), name, static_cast<int>(i), 0});
            }
            op.AddKey(*left, op.LeftColumnCount() + *right);
        }
        return;
    }
    if (join.natural) {
        const std::vector<TABSAOColumn>& leftColumns = op.Left().Columns();
        for (std::size_t i = 0; i < leftColumns.size(); ++i) {
            if (leftColumns[i].Hidden) continue;
            if (const auto right = op.Right().FindColumn("", leftColumns[i].Name)) {
                op.AddKey(i, op.LeftColumnCount() + *right);
            }
        }
    }
}

Built SelectBuilder::BuildJoined(TABSJoinedTable& joined) {
    Built built = BuildRef(joined.first);
    for (TABSJoin& join : joined.joins) {
        Built right = BuildRef(join.right);
        TABSJoinKind kind = join.kind;
        const bool hasCondition = join.on || !join.usingColumns.empty() || join.natural;
        if (kind == TABSJoinKind::Inner && !hasCondition) kind = TABSJoinKind::Cross;
        built = MakeJoin(kind, std::move(built), std::move(right));
        TABSAOJoin& op = *built.node->join;
        AddJoinKeys(join, op);
        if (!join.on) continue;
        const std::string_view onMessage = "ON condition for JOIN is not applicable";
        if (kind == TABSJoinKind::Inner || kind == TABSJoinKind::Cross) {
            // An inner join's ON condition filters like WHERE: each part goes as low as it can.
            std::vector<TABSExprNode*> parts;
            SplitConjuncts(join.on->Root(), parts);
            for (TABSExprNode* part : parts) {
                const auto refs = RefsOf(op, part, kOnConditionError, onMessage);
                if (!refs || refs->empty()) {
                    BindOrRaise(*part, &op.RowSource(), kOnConditionError, onMessage);
                    op.AddMatchCondition(part);
                } else {
                    Place(*built.node, part, *refs, kOnConditionError, onMessage);
                }
            }
        } else {
            // Outer joins decide a match with the whole ON condition, pair by pair.
            BindOrRaise(*join.on->Root(), &op.RowSource(), kOnConditionError, onMessage);
            op.AddMatchCondition(join.on->Root());
            std::vector<TABSExprNode*> parts;
            SplitConjuncts(join.on->Root(), parts);
            for (TABSExprNode* part : parts) TryAddKey(op, part);
        }
    }
    return built;
}

void SelectBuilder::BindOrRaise(TABSExprNode& node, const TABSRowSource* rows, int error, std::string_view message) {
    try {
        BindNode(node, rows, pool_.For(rows));
    } catch (const EABSException& e) {
        if (e.NativeError() == 30090) RaiseError(error, message);
        throw;
    }
}

std::optional<std::set<int>> SelectBuilder::RefsOf(const TABSAO& scope, TABSExprNode* part, int error,
                                                   std::string_view message) const {
    if (ContainsSubquery(part)) return std::nullopt;
    std::vector<const TABSExprNodeField*> fields;
    CollectFields(part, fields);
    std::set<int> refs;
    for (const TABSExprNodeField* field : fields) {
        if (const auto column = scope.FindColumn(field->Qualifier(), field->Name())) {
            const int ref = scope.Columns()[*column].TableRef;
            if (ref < 0) return std::nullopt;
            refs.insert(ref);
            continue;
        }
        if (outer_ && outer_->FindColumn(field->Qualifier(), field->Name())) continue;
        RaiseError(error, message);
    }
    return refs;
}

void SelectBuilder::TryAddKey(TABSAOJoin& join, TABSExprNode* part) const {
    if (part->NodeClass() != TABSExprNodeClass::Comparison || part->Op() != opEQ) return;
    if (static_cast<TABSExprNodeComparison*>(part)->Quantifier() != TABSQuantifier::None) return;
    if (part->Children().size() != 2) return;
    const TABSExprNode* a = part->Children()[0].get();
    const TABSExprNode* b = part->Children()[1].get();
    if (a->NodeClass() != TABSExprNodeClass::Field || b->NodeClass() != TABSExprNodeClass::Field) return;
    const auto* fa = static_cast<const TABSExprNodeField*>(a);
    const auto* fb = static_cast<const TABSExprNodeField*>(b);
    const auto ia = join.FindColumn(fa->Qualifier(), fa->Name());
    const auto ib = join.FindColumn(fb->Qualifier(), fb->Name());
    if (!ia || !ib) return;
    std::size_t left = *ia;
    std::size_t right = *ib;
    if (left >= join.LeftColumnCount()) std::swap(left, right);
    if (left >= join.LeftColumnCount() || right < join.LeftColumnCount()) return;
    if (KeyClass(join.Columns()[left].BaseType) != KeyClass(join.Columns()[right].BaseType)) return;
    join.AddKey(left, right, part);
}

void SelectBuilder::Place(FromNode& node, TABSExprNode* part, const std::set<int>& refs, int error,
                          std::string_view message) {
    if (node.table) {
        BindOrRaise(*part, &node.table->RowSource(), error, message);
        node.table->AddCondition(part);
        return;
    }
    if (!node.join) {
        topParts_.push_back(part);
        return;
    }
    const TABSJoinKind kind = node.join->Kind();
    const bool leftNullable = kind == TABSJoinKind::Right || kind == TABSJoinKind::Full;
    const bool rightNullable = kind == TABSJoinKind::Left || kind == TABSJoinKind::Full;
    const auto covers = [&](const FromNode& child) {
        return (child.table || child.join) && std::includes(child.refs.begin(), child.refs.end(), refs.begin(), refs.end());
    };
    if (!refs.empty() && !leftNullable && covers(*node.left)) return Place(*node.left, part, refs, error, message);
    if (!refs.empty() && !rightNullable && covers(*node.right)) return Place(*node.right, part, refs, error, message);
    BindOrRaise(*part, &node.join->RowSource(), error, message);
    if (kind == TABSJoinKind::Inner || kind == TABSJoinKind::Cross) {
        node.join->AddMatchCondition(part);
        TryAddKey(*node.join, part);
    } else {
        node.join->AddFilter(part);
    }
}

std::unique_ptr<TABSAO> SelectBuilder::Build() {
    // FROM: comma-separated entries are joined from the left; the WHERE decides how.
    if (select_.from.empty()) RaiseError(kSearchConditionError, "Search condition is not applicable");
    Built from = BuildJoined(select_.from[0]);
    for (std::size_t i = 1; i < select_.from.size(); ++i) {
        Built next = BuildJoined(select_.from[i]);
        from = MakeJoin(TABSJoinKind::Cross, std::move(from), std::move(next));
    }
    if (select_.where) {
        const std::string_view message = "Search condition is not applicable";
        std::vector<TABSExprNode*> parts;
        SplitConjuncts(select_.where->Root(), parts);
        for (TABSExprNode* part : parts) {
            const auto refs = RefsOf(*from.op, part, kSearchConditionError, message);
            if (!refs || refs->empty()) topParts_.push_back(part);
            else Place(*from.node, part, *refs, kSearchConditionError, message);
        }
    }
    bool grouping = !select_.groupBy.empty() || select_.having;
    for (const TABSSelectListItem& item : select_.items) grouping = grouping || item.aggregate;
    std::unique_ptr<TABSAO> top = grouping ? BuildGrouping(std::move(from.op)) : BuildProjection(std::move(from.op));
    top->SetDistinct(select_.distinct);
    if (select_.top.given) {
        return std::make_unique<TABSAOSQLTopRowCount>(std::move(top), select_.top.count, select_.top.first);
    }
    return top;
}

std::unique_ptr<TABSAO> SelectBuilder::BuildProjection(std::unique_ptr<TABSAO> from) {
    auto top = std::make_unique<TABSAOTableExpr>(std::move(from), outer_, pool_);
    TABSAO& source = top->Source();
    const TABSRowSource* rows = &top->SourceRows();
    for (TABSExprNode* part : topParts_) {
        BindOrRaise(*part, rows, kSearchConditionError, "Search condition is not applicable");
        top->AddFilter(part);
    }
    for (TABSSelectListItem& item : select_.items) {
        if (item.allColumns) {
            bool any = false;
            for (std::size_t i = 0; i < source.Columns().size(); ++i) {
                const TABSAOColumn& column = source.Columns()[i];
                if (column.Hidden || !column.MatchesQualifier(item.tableName)) continue;
                TABSAOColumn out = column;
                top->AddOutput(std::move(out), TABSAOOutputItem{nullptr, i});
                plainColumn_.push_back(true);
                outputSource_.push_back(i);
                any = true;
            }
            if (!any) RaiseError(30090, "Field '%s' not found", {QualifiedName(item.tableName, "*")});
            continue;
        }
        if (!item.columnName.empty() && item.expression && item.expression->SingleColumn()) {
            if (const auto column = source.FindColumn(item.tableName, item.columnName)) {
                TABSAOColumn out = source.Columns()[*column];
                out.Hidden = false;
                if (!item.alias.empty()) out.Name = item.alias;
                plainColumn_.push_back(item.alias.empty());
                outputSource_.push_back(*column);
                top->AddOutput(std::move(out), TABSAOOutputItem{nullptr, *column});
                continue;
            }
        }
        item.expression->Bind(rows, pool_.For(rows));
        TABSAOColumn out;
        out.Name = item.alias.empty() ? FormatMessage("Expr%d", {static_cast<std::int64_t>(TABSTableAccess::Random(1000000))})
                                      : item.alias;
        out.BaseType = item.expression->ResultType();
        out.Size = item.expression->ResultSize();
        plainColumn_.push_back(false);
        outputSource_.push_back(std::nullopt);
        top->AddOutput(std::move(out), TABSAOOutputItem{item.expression.get(), 0});
    }
    NameColumns(*top);
    std::vector<TABSAOOutputItem> hidden;
    ApplyOrderBy(*top, source, &hidden);
    for (const TABSAOOutputItem& item : hidden) {
        TABSAOColumn column = source.Columns()[item.SourceColumn];
        column.Hidden = true;
        column.Name = FormatMessage("SORT_COLUMN_%d", {static_cast<int>(top->Columns().size())});
        top->AddOutput(std::move(column), item);
    }
    return top;
}

std::unique_ptr<TABSAO> SelectBuilder::BuildGrouping(std::unique_ptr<TABSAO> from) {
    auto top = std::make_unique<TABSAOGroupBy>(std::move(from), outer_, pool_);
    TABSAO& source = top->Source();
    const TABSRowSource* rows = &top->SourceRows();
    for (TABSExprNode* part : topParts_) {
        BindOrRaise(*part, rows, kSearchConditionError, "Search condition is not applicable");
        top->AddFilter(part);
    }
    for (std::size_t i = 0; i < select_.groupBy.size(); ++i) {
        const TABSGroupItem& group = select_.groupBy[i];
        const auto column = source.FindColumn(group.qualifier, group.name);
        if (!column) {
            RaiseError(kGroupByInvalidFieldError,
                       "Invalid field for GROUP BY. Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
                       {group.qualifier, group.name, static_cast<int>(i), 0});
        }
        top->AddGroupColumn(*column);
    }
    const auto isGroupColumn = [&](std::size_t column) {
        const auto& groups = top->GroupColumns();
        return std::find(groups.begin(), groups.end(), column) != groups.end();
    };
    const auto requireGroupColumn = [&](std::size_t column, const std::string& tableName, const std::string& name) {
        if (isGroupColumn(column)) return;
        RaiseError(kGroupByMissingFieldError,
                   "Field is not included in GROUP BY list. Table name = '%s', Field name = '%s', FieldNo = %d, Found field name = '%s'",
                   {tableName, name, static_cast<int>(column), source.Columns()[column].Name});
    };
    for (TABSSelectListItem& item : select_.items) {
        if (item.allColumns) {
            for (std::size_t i = 0; i < source.Columns().size(); ++i) {
                const TABSAOColumn& column = source.Columns()[i];
                if (column.Hidden || !column.MatchesQualifier(item.tableName)) continue;
                requireGroupColumn(i, column.TableName, column.Name);
                top->AddOutput(column, TABSAOOutputItem{nullptr, i});
                plainColumn_.push_back(true);
                outputSource_.push_back(i);
            }
            continue;
        }
        if (!item.aggregate && !item.columnName.empty() && item.expression && item.expression->SingleColumn()) {
            if (const auto column = source.FindColumn(item.tableName, item.columnName)) {
                requireGroupColumn(*column, item.tableName.empty() ? source.Columns()[*column].TableName : item.tableName,
                                   item.columnName);
                TABSAOColumn out = source.Columns()[*column];
                out.Hidden = false;
                if (!item.alias.empty()) out.Name = item.alias;
                plainColumn_.push_back(item.alias.empty());
                outputSource_.push_back(*column);
                top->AddOutput(std::move(out), TABSAOOutputItem{nullptr, *column});
                continue;
            }
        }
        item.expression->Bind(rows, pool_.For(rows));
        TABSAOColumn out;
        out.Name = item.alias.empty() ? FormatMessage("Expr%d", {static_cast<std::int64_t>(TABSTableAccess::Random(1000000))})
                                      : item.alias;
        if (!item.expression->HasAggregates()) {
            for (const TABSExprNodeField* field : item.expression->Fields()) {
                const auto column = source.FindColumn(field->Qualifier(), field->Name());
                if (column && !isGroupColumn(*column)) {
                    RaiseError(kGroupByExpressionError,
                               "Expression (Name=\"%s\", DisplayName=\"%s\") cannot be used with GROUP BY. Possibly "
                               "expression is not aggregate, but it uses fields not included into group fields",
                               {out.Name, item.alias.empty() ? out.Name : item.alias});
                }
            }
        }
        out.BaseType = item.expression->ResultType();
        out.Size = item.expression->ResultSize();
        plainColumn_.push_back(false);
        outputSource_.push_back(std::nullopt);
        top->AddOutput(std::move(out), TABSAOOutputItem{item.expression.get(), 0});
    }
    if (select_.having) {
        try {
            select_.having->Bind(rows, pool_.For(rows));
        } catch (const EABSException&) {
            RaiseError(kHavingConditionError, "Having condition is not applicable");
        }
        top->SetHaving(select_.having.get());
    }
    NameColumns(*top);
    std::vector<TABSAOOutputItem> hidden;
    ApplyOrderBy(*top, source, &hidden);
    for (const TABSAOOutputItem& item : hidden) {
        TABSAOColumn column = source.Columns()[item.SourceColumn];
        column.Hidden = true;
        column.Name = FormatMessage("SORT_COLUMN_%d", {static_cast<int>(top->Columns().size())});
        top->AddOutput(std::move(column), item);
    }
    return top;
}

void SelectBuilder::NameColumns(TABSAO& top) {
    std::vector<std::string> given;
    std::vector<bool> plain;
    for (std::size_t i = 0; i < top.Columns().size(); ++i) {
        given.push_back(top.Columns()[i].Name);
        plain.push_back(plainColumn_[i]);
    }
    const std::vector<std::string> names = MakeResultColumnNames(given, plain);
    for (std::size_t i = 0; i < names.size(); ++i) top.Columns()[i].Name = names[i];
}

// ORDER BY of one SELECT: positions count the visible output columns; names are looked up in
// the source first (FROM order, so a name two tables share means the first table's column), then
// among the output columns. A source column that is not in the output is carried hidden.
void SelectBuilder::ApplyOrderBy(TABSAO& top, TABSAO& source, std::vector<TABSAOOutputItem>* hiddenItems) {
    std::vector<TABSAOSortColumn> sort;
    const std::size_t visible = top.Columns().size();
    for (const TABSSortItem& item : select_.orderBy) {
        if (item.position > 0 || (item.name.empty() && item.qualifier.empty())) {
            if (item.position < 1 || static_cast<std::size_t>(item.position) > visible) {
                RaiseError(kOrderByNumberError, "Invalid field number in ORDER BY clause: %d", {item.position});
            }
            sort.push_back({static_cast<std::size_t>(item.position - 1), item.descending, false});
            continue;
        }
        if (const auto column = source.FindColumn(item.qualifier, item.name)) {
            // The output column that copies it, if any.
            std::optional<std::size_t> output;
            for (std::size_t i = 0; i < visible && !output; ++i) {
                if (outputSource_[i] == column) output = i;
            }
            if (!output) {
                for (std::size_t h = 0; h < hiddenItems->size(); ++h) {
                    if ((*hiddenItems)[h].SourceColumn == *column) output = visible + h;
                }
            }
            if (!output) {
                hiddenItems->push_back(TABSAOOutputItem{nullptr, *column});
                output = visible + hiddenItems->size() - 1;
            }
            sort.push_back({*output, item.descending, false});
            continue;
        }
        std::optional<std::size_t> output;
        for (std::size_t i = 0; i < visible && !output; ++i) {
            if (top.Columns()[i].MatchesQualifier(item.qualifier) &&
                UpperCaseText(top.Columns()[i].Name) == UpperCaseText(item.name)) {
                output = i;
            }
        }
        if (!output) RaiseError(kOrderByColumnError, "Column '%s' from ORDER BY clause not found", {item.name});
        sort.push_back({*output, item.descending, false});
    }
    top.SetSort(std::move(sort));
}

} // namespace

std::unique_ptr<TABSAO> BuildQueryTree(TABSQueryExpr& query, const TABSTableAccess& access, const TABSRowSource* outer,
                                       TABSEnvironmentPool& pool) {
    if (query.IsSelect()) {
        SelectBuilder builder(*query.select, access, outer, pool);
        return builder.Build();
    }
    std::unique_ptr<TABSAO> left = BuildQueryTree(*query.left, access, outer, pool);
    std::unique_ptr<TABSAO> right = BuildQueryTree(*query.right, access, outer, pool);
    std::vector<std::size_t> leftColumns;
    std::vector<std::size_t> rightColumns;
    const std::size_t leftVisible = left->VisibleColumnCount();
    const std::size_t rightVisible = right->VisibleColumnCount();
    if (query.corresponding) {
        const auto findVisible = [](const TABSAO& op, const std::string& name, std::size_t visible) {
            const auto found = op.FindColumn("", name);
            return found && *found < visible ? found : std::nullopt;
        };
        if (!query.correspondingBy.empty()) {
            for (const std::string& name : query.correspondingBy) {
                const auto l = findVisible(*left, name, leftVisible);
                const auto r = findVisible(*right, name, rightVisible);
                if (!l || !r) RaiseError(30090, "Field '%s' not found", {name});
                leftColumns.push_back(*l);
                rightColumns.push_back(*r);
            }
        } else {
            for (std::size_t i = 0; i < leftVisible; ++i) {
                if (const auto r = findVisible(*right, left->Columns()[i].Name, rightVisible)) {
                    leftColumns.push_back(i);
                    rightColumns.push_back(*r);
                }
            }
        }
    } else {
        if (leftVisible != rightVisible) {
            RaiseError(kSetOperationColumnsError, "Queries of a set operation have different column counts: %d, %d",
                       {static_cast<int>(leftVisible), static_cast<int>(rightVisible)});
        }
        for (std::size_t i = 0; i < leftVisible; ++i) {
            leftColumns.push_back(i);
            rightColumns.push_back(i);
        }
    }
    auto combined = std::make_unique<TABSAOUnion>(query.op, query.all, std::move(left), std::move(right),
                                                  std::move(leftColumns), std::move(rightColumns));
    std::vector<TABSAOSortColumn> sort;
    for (const TABSSortItem& item : query.orderBy) {
        const std::size_t count = combined->Columns().size();
        if (item.position > 0 || item.name.empty()) {
            if (item.position < 1 || static_cast<std::size_t>(item.position) > count) {
                RaiseError(kOrderByNumberError, "Invalid field number in ORDER BY clause: %d", {item.position});
            }
            sort.push_back({static_cast<std::size_t>(item.position - 1), item.descending, false});
            continue;
        }
        const auto column = combined->FindColumn(item.qualifier, item.name);
        if (!column) RaiseError(kOrderByColumnError, "Column '%s' from ORDER BY clause not found", {item.name});
        sort.push_back({*column, item.descending, false});
    }
    combined->SetSort(std::move(sort));
    return combined;
}

} // namespace kova
