// Parsing of queries: set operations, SELECT and its clauses, FROM with joins and subqueries.
#include "engine/sql/ABSSQLSelect.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSSQLErrors.h"

namespace kova {

TABSTableRef::TABSTableRef() = default;
TABSTableRef::TABSTableRef(TABSTableRef&&) noexcept = default;
TABSTableRef& TABSTableRef::operator=(TABSTableRef&&) noexcept = default;
TABSTableRef::~TABSTableRef() = default;

TABSJoin::TABSJoin() = default;
TABSJoin::TABSJoin(TABSJoin&&) noexcept = default;
TABSJoin& TABSJoin::operator=(TABSJoin&&) noexcept = default;
TABSJoin::~TABSJoin() = default;

TABSSelectListItem::TABSSelectListItem() = default;
TABSSelectListItem::TABSSelectListItem(TABSSelectListItem&&) noexcept = default;
TABSSelectListItem& TABSSelectListItem::operator=(TABSSelectListItem&&) noexcept = default;
TABSSelectListItem::~TABSSelectListItem() = default;

TABSSelectClauses::TABSSelectClauses() = default;
TABSSelectClauses::~TABSSelectClauses() = default;

void TABSQueryExpr::CollectSelects(std::vector<const TABSSelectClauses*>& out) const {
    if (select) {
        out.push_back(select.get());
        return;
    }
    if (left) left->CollectSelects(out);
    if (right) right->CollectSelects(out);
}

namespace {

TABSSourcePos PosOf(const TABSToken* t) noexcept {
    return t ? TABSSourcePos{t->line, t->column} : TABSSourcePos{};
}

[[nodiscard]] bool IsJoinWord(const TABSToken* t) noexcept {
    return t && (t->IsKeyword(kwNATURAL) || t->IsKeyword(kwINNER) || t->IsKeyword(kwLEFT) ||
                 t->IsKeyword(kwRIGHT) || t->IsKeyword(kwFULL) || t->IsKeyword(kwOUTER) ||
                 t->IsKeyword(kwCROSS));
}

class TQueryParser {
public:
    explicit TQueryParser(TABSSQLParser& parser) : p_(parser) {}

    std::unique_ptr<TABSQueryExpr> Query() {
        auto left = SetTerm();
        while (p_.IsKw(kwUNION) || p_.IsKw(kwEXCEPT) || p_.IsKw(kwMINUS)) {
            const TABSSetOp op = p_.IsKw(kwUNION) ? TABSSetOp::Union : TABSSetOp::Except;
            p_.Next();
            left = Combine(op, std::move(left), [this] { return SetTerm(); });
        }
        if (left->IsSelect() && !left->parenthesized) return left;
        if (p_.AcceptKw(kwORDER)) {
            p_.ExpectKw(kwBY);
            left->orderBy = SortList();
        } else if (!left->IsSelect()) {
            // ORDER BY written after the last SELECT of a set operation sorts the whole result.
            TABSQueryExpr* last = left.get();
            while (!last->IsSelect()) last = last->right.get();
            if (!last->parenthesized) left->orderBy = std::move(last->select->orderBy);
        }
        if (!left->IsSelect()) {
            std::vector<const TABSSelectClauses*> parts;
            left->CollectSelects(parts);
            for (const auto* part : parts) {
                if (part->into.given) RaiseError(sqlerr::kUnionInto, sqlerr::kUnionIntoMsg);
            }
        }
        return left;
    }

    std::unique_ptr<TABSSelectClauses> Select() {
        auto selectSpecNode = std::make_unique<TABSSelectClauses>();
        selectSpecNode->pos = PosOf(p_.Cur());
        p_.ExpectKw(kwSELECT);
        if (p_.AcceptKw(kwDISTINCT)) {
            selectSpecNode->distinct = true;
        } else {
            (void)p_.AcceptKw(kwALL);
        }
        if (p_.AcceptKw(kwTOP)) {
            selectSpecNode->top.given = true;
            selectSpecNode->top.count = sqlgrammar::ReadInteger(p_, sqlerr::kIntegerExpected, sqlerr::kIntegerExpectedMsg);
            if (p_.AcceptKind(TokenKind::Comma)) {
                selectSpecNode->top.first = sqlgrammar::ReadInteger(p_, sqlerr::kIntegerExpected, sqlerr::kIntegerExpectedMsg);
            }
        }
        SelectList(*selectSpecNode);
        if (p_.AcceptKw(kwINTO)) Into(selectSpecNode->into);
        p_.ExpectKw(kwFROM);
        do {
            if (!p_.Cur()) p_.Fail(sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
            selectSpecNode->from.push_back(JoinedTable());
        } while (p_.AcceptKind(TokenKind::Comma));
        if (p_.AcceptKw(kwWHERE)) selectSpecNode->where = TABSExpression::ParseCondition(p_);
        if (p_.AcceptKw(kwGROUP)) {
            p_.ExpectKw(kwBY);
            do {
                TABSGroupItem item;
                item.pos = PosOf(p_.Cur());
                item.name = p_.ExpectName(nfAnyName, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
                if (p_.AcceptKind(TokenKind::Dot)) {
                    item.qualifier = std::move(item.name);
                    item.name = p_.ExpectName(nfAnyName, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
                }
                selectSpecNode->groupBy.push_back(std::move(item));
            } while (p_.AcceptKind(TokenKind::Comma));
        }
        if (p_.AcceptKw(kwHAVING)) selectSpecNode->having = TABSExpression::ParseCondition(p_);
        if (p_.AcceptKw(kwORDER)) {
            p_.ExpectKw(kwBY);
            selectSpecNode->orderBy = SortList();
        }
        return selectSpecNode;
    }

private:
    template <class Next>
    std::unique_ptr<TABSQueryExpr> Combine(TABSSetOp op, std::unique_ptr<TABSQueryExpr> left, Next next) {
        auto node = std::make_unique<TABSQueryExpr>();
        node->op = op;
        node->all = p_.AcceptKw(kwALL);
        if (p_.AcceptKw(kwCORRESPONDING)) {
            node->corresponding = true;
            if (p_.AcceptKw(kwBY)) {
                p_.ExpectKind(TokenKind::OpenParen, "(");
                do {
                    node->correspondingBy.push_back(
                        p_.ExpectName(nfAnyName, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg));
                } while (p_.AcceptKind(TokenKind::Comma));
                p_.ExpectKind(TokenKind::CloseParen, ")");
            }
        }
        node->left = std::move(left);
        node->right = next();
        return node;
    }

    std::unique_ptr<TABSQueryExpr> SetTerm() {
        auto left = SetPrimary();
        while (p_.AcceptKw(kwINTERSECT)) {
            left = Combine(TABSSetOp::Intersect, std::move(left), [this] { return SetPrimary(); });
        }
        return left;
    }

    std::unique_ptr<TABSQueryExpr> SetPrimary() {
        if (p_.AcceptKind(TokenKind::OpenParen)) {
            auto inner = Query();
            p_.ExpectKind(TokenKind::CloseParen, ")");
            inner->parenthesized = true;
            return inner;
        }
        if (!p_.IsKw(kwSELECT)) p_.FailTokenExpected("SELECT");
        auto query = std::make_unique<TABSQueryExpr>();
        query->select = Select();
        return query;
    }

    void SelectList(TABSSelectClauses& selectSpecNode) {
        const TABSToken* t = p_.Cur();
        if (!t || t->IsKeyword(kwFROM) || t->IsKeyword(kwINTO)) {
            p_.Fail(sqlerr::kFieldListExpected, sqlerr::kFieldListExpectedMsg);
        }
        bool first = true;
        do {
            selectSpecNode.items.push_back(SelectItem(first));
            first = false;
        } while (p_.AcceptKind(TokenKind::Comma));
    }

    TABSSelectListItem SelectItem(bool first) {
        TABSSelectListItem item;
        const TABSToken* t = p_.Cur();
        item.pos = PosOf(t);
        if (t && t->IsSymbol("*")) {
            item.allColumns = true;
            p_.Next();
            return item;
        }
        if (p_.IsName(nfWord | nfBracket | nfString) && p_.Peek() && p_.Peek()->kind == TokenKind::Dot &&
            p_.Peek(2) && p_.Peek(2)->IsSymbol("*")) {
            item.allColumns = true;
            item.tableName = std::string(t->text);
            p_.Next();
            p_.Next();
            p_.Next();
            return item;
        }
        item.expression = TABSExpression::ParseValue(p_);
        if (!item.expression) {
            if (first) p_.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
            p_.Fail(sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
        }
        if (p_.AcceptKw(kwAS)) {
            item.alias = p_.ExpectName(nfWord | nfString | nfBracket, sqlerr::kPseudonymExpected,
                                       sqlerr::kPseudonymExpectedMsg);
        } else if (auto alias = p_.AcceptName(nfWord | nfString | nfBracket)) {
            item.alias = std::move(*alias);
        }
        if (const auto* column = item.expression->SingleColumn()) {
            item.tableName = column->Qualifier();
            item.columnName = column->Name();
        }
        item.aggregate = item.expression->HasAggregates();
        return item;
    }

    void Into(TABSIntoClause& into) {
        into.given = true;
        into.pos = PosOf(p_.Cur());
        if (p_.IsKw(kwMEMORY) && p_.Peek() && p_.Peek()->kind != TokenKind::Dot) {
            into.memory = true;
            p_.Next();
            into.immediate = p_.AcceptKw(kwIMMEDIATE);
        }
        into.name = p_.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
        if (p_.AcceptKind(TokenKind::Dot)) {
            into.database = std::move(into.name);
            into.name = p_.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
        }
    }

    std::string Alias(bool afterAs) {
        if (afterAs) {
            return p_.ExpectName(nfWord | nfBracket | nfParameter, sqlerr::kPseudonymExpected,
                                 sqlerr::kPseudonymExpectedMsg);
        }
        return p_.AcceptName(nfWord | nfBracket | nfParameter).value_or(std::string());
    }

    TABSTableRef TableRef() {
        TABSTableRef ref;
        ref.pos = PosOf(p_.Cur());
        if (p_.IsKind(TokenKind::OpenParen)) {
            if (sqlgrammar::StartsQuery(p_)) {
                p_.Next();
                ref.kind = TABSTableRef::Kind::Subquery;
                ref.subquery = Query();
                p_.ExpectKind(TokenKind::CloseParen, ")");
                ref.alias = Alias(p_.AcceptKw(kwAS));
                return ref;
            }
            p_.Next();
            ref.kind = TABSTableRef::Kind::Nested;
            ref.nested = std::make_unique<TABSJoinedTable>(JoinedTable());
            p_.ExpectKind(TokenKind::CloseParen, ")");
            ref.alias = Alias(false);
            return ref;
        }
        ref.table = sqlgrammar::ReadTableName(p_, false);
        ref.alias = Alias(p_.AcceptKw(kwAS));
        if (p_.AcceptKw(kwPASSWORD)) ref.table.password = sqlgrammar::ReadPassword(p_);
        return ref;
    }

    TABSJoinedTable JoinedTable() {
        TABSJoinedTable joined;
        joined.first = TableRef();
        while (true) {
            TABSJoin join;
            if (p_.AcceptKw(kwCROSS)) {
                if (IsJoinWord(p_.Cur())) p_.Fail(sqlerr::kUnexpectedToken, sqlerr::kUnexpectedTokenMsg);
                p_.ExpectKw(kwJOIN);
                join.kind = TABSJoinKind::Cross;
                join.right = TableRef();
                joined.joins.push_back(std::move(join));
                continue;
            }
            bool explicitWords = false;
            if (p_.AcceptKw(kwNATURAL)) {
                join.natural = true;
                explicitWords = true;
            }
            if (p_.AcceptKw(kwINNER)) {
                join.kind = TABSJoinKind::Inner;
                explicitWords = true;
            } else if (p_.IsKw(kwLEFT) || p_.IsKw(kwRIGHT) || p_.IsKw(kwFULL)) {
                join.kind = p_.IsKw(kwLEFT) ? TABSJoinKind::Left
                            : p_.IsKw(kwRIGHT) ? TABSJoinKind::Right
                                               : TABSJoinKind::Full;
                p_.Next();
                (void)p_.AcceptKw(kwOUTER);
                explicitWords = true;
            }
            if (p_.IsKw(kwOUTER) || p_.IsKw(kwCROSS) || p_.IsKw(kwNATURAL) ||
                (explicitWords && IsJoinWord(p_.Cur()))) {
                p_.Fail(sqlerr::kUnexpectedToken, sqlerr::kUnexpectedTokenMsg);
            }
            if (!p_.IsKw(kwJOIN)) {
                if (explicitWords) p_.FailTokenExpected("JOIN");
                break;
            }
            p_.Next();
            join.right = TableRef();
            if (p_.AcceptKw(kwON)) {
                join.on = TABSExpression::ParseCondition(p_);
            } else if (p_.AcceptKw(kwUSING)) {
                p_.ExpectKind(TokenKind::OpenParen, "(");
                do {
                    join.usingColumns.push_back(
                        p_.ExpectName(nfAnyName, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg));
                } while (p_.AcceptKind(TokenKind::Comma));
                p_.ExpectKind(TokenKind::CloseParen, ")");
            }
            joined.joins.push_back(std::move(join));
        }
        return joined;
    }

    std::vector<TABSSortItem> SortList() {
        std::vector<TABSSortItem> items;
        do {
            TABSSortItem item;
            const TABSToken* t = p_.Cur();
            item.pos = PosOf(t);
            if (t && t->kind == TokenKind::Integer) {
                item.position = static_cast<int>(
                    sqlgrammar::ReadInteger(p_, sqlerr::kSortSpecExpected, sqlerr::kSortSpecExpectedMsg));
            } else {
                auto name = p_.AcceptName(nfAnyName);
                if (!name) p_.Fail(sqlerr::kSortSpecExpected, sqlerr::kSortSpecExpectedMsg);
                if (p_.AcceptKind(TokenKind::Dot)) {
                    item.qualifier = std::move(*name);
                    name = p_.AcceptName(nfAnyName);
                    if (!name) p_.Fail(sqlerr::kSortSpecExpected, sqlerr::kSortSpecExpectedMsg);
                }
                item.name = std::move(*name);
            }
            if (p_.AcceptKw(kwDESC)) {
                item.descending = true;
            } else {
                (void)p_.AcceptKw(kwASC);
            }
            items.push_back(std::move(item));
        } while (p_.AcceptKind(TokenKind::Comma));
        return items;
    }

    TABSSQLParser& p_;
};

} // namespace

namespace sqlgrammar {

std::unique_ptr<TABSQueryExpr> ParseQuery(TABSSQLParser& parser) { return TQueryParser(parser).Query(); }

bool StartsQuery(const TABSSQLParser& parser) noexcept {
    std::size_t ahead = 0;
    const TABSToken* t = parser.Cur();
    while (t && t->kind == TokenKind::OpenParen) t = parser.Peek(++ahead);
    return t && t->IsKeyword(kwSELECT);
}

} // namespace sqlgrammar

void TABSSQLUnion::Parse(TABSSQLParser& parser) {
    query_ = sqlgrammar::ParseQuery(parser);
    parser.ExpectEnd();
}

} // namespace kova
