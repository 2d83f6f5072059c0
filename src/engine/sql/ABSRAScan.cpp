// Index use of a table scan: the conditions placed on one table that compare a field with a
// constant (or test it for null) are offered to the table's indexes; when the storage layer
// picks a range, only the records of that range are read. Every condition is still evaluated
// on each record read, so the index only narrows what is read and never decides a row.
#include "engine/core/ABSExcept.h"
#include "engine/core/Collation.h"
#include "engine/sql/ABSExprNodes.h"
#include "engine/sql/ABSRelationalAlgebra.h"
#include "engine/storage/ABSDiskTableData.h"
#include "engine/storage/ABSPseudoTableData.h"
#include "engine/storage/ABSScanCondition.h"

namespace kova {

namespace {

class TableRecordSource final : public TABSIndexRecordSource {
public:
    explicit TableRecordSource(TABSTableData& table) : table_(table) {}
    bool ReadRecord(TABSSessionID session, const TABSRecordID& id, std::vector<std::uint8_t>& memoryRecord) override {
        memoryRecord.resize(table_.RecordBufferSize());
        try {
            table_.ReadRecord(session, id, memoryRecord);
        } catch (const EABSException&) {
            return false;
        }
        return true;
    }
    void ForEachRecord(TABSSessionID session, const RecordVisitor& visit) override {
        std::vector<std::uint8_t> record(table_.RecordBufferSize());
        for (auto id = table_.FirstRecord(session); id; id = table_.NextRecord(session, *id)) {
            table_.ReadRecord(session, *id, record);
            visit(*id, record);
        }
    }

private:
    TABSTableData& table_;
};

[[nodiscard]] TABSBaseIndexManager* IndexManagerOf(TABSTableData& table) {
    if (auto* disk = dynamic_cast<TABSDiskTableData*>(&table)) return &disk->IndexManager();
    if (auto* pseudo = dynamic_cast<TABSPseudoTableData*>(&table)) return &pseudo->IndexManager();
    return nullptr;
}

[[nodiscard]] int ValueClass(TABSBaseType type) {
    if (IsTextType(type)) return 1;
    if (IsIntegerType(type) || IsFloatType(type) || type == TABSBaseType::bftCurrency) return 2;
    return 10 + static_cast<int>(type);
}

// The field a node names when it is a column of this table.
[[nodiscard]] const TABSFieldDef* TableField(const TABSExprNode& node, const std::vector<TABSAOColumn>& columns,
                                             const TABSFieldDefs& fields) {
    if (node.NodeClass() != TABSExprNodeClass::Field) return nullptr;
    const auto& field = static_cast<const TABSExprNodeField&>(node);
    for (const TABSAOColumn& column : columns) {
        if (column.MatchesQualifier(field.Qualifier()) && UpperCaseText(column.Name) == UpperCaseText(field.Name())) {
            return fields.Find(column.Name);
        }
    }
    return nullptr;
}

// One condition as a scan part, when it has that simple shape.
[[nodiscard]] std::optional<TABSScanConditionPart> AsScanPart(const TABSExprNode& node,
                                                              const std::vector<TABSAOColumn>& columns,
                                                              const TABSFieldDefs& fields) {
    if (node.IgnoreCase() || node.Partial()) return std::nullopt;
    if (node.NodeClass() == TABSExprNodeClass::Boolean && (node.Op() == opISNULL || node.Op() == opISNOTNULL) &&
        node.Children().size() == 1) {
        const TABSFieldDef* field = TableField(*node.Children()[0], columns, fields);
        if (!field) return std::nullopt;
        TABSScanConditionPart part;
        part.FieldName = field->Name;
        part.Operator = node.Op() == opISNULL ? TABSScanOperator::IsNull : TABSScanOperator::IsNotNull;
        return part;
    }
    if (node.NodeClass() != TABSExprNodeClass::Comparison || node.Children().size() != 2) return std::nullopt;
    const auto& comparison = static_cast<const TABSExprNodeComparison&>(node);
    if (comparison.Quantifier() != TABSQuantifier::None) return std::nullopt;
    const TABSExprNode* left = node.Children()[0].get();
    const TABSExprNode* right = node.Children()[1].get();
    bool flipped = false;
    if (left->NodeClass() == TABSExprNodeClass::Const) {
        std::swap(left, right);
        flipped = true;
    }
    if (right->NodeClass() != TABSExprNodeClass::Const) return std::nullopt;
    const TABSFieldDef* field = TableField(*left, columns, fields);
    if (!field) return std::nullopt;
    const TABSVariant& constant = static_cast<const TABSExprNodeConst*>(right)->Value();
    if (constant.IsNull() || ValueClass(constant.BaseType()) != ValueClass(field->StorageType)) return std::nullopt;
    TABSScanConditionPart part;
    part.FieldName = field->Name;
    part.Constant.Assign(constant);
    switch (node.Op()) {
        case opEQ: part.Operator = TABSScanOperator::Equal; break;
        case opLT: part.Operator = flipped ? TABSScanOperator::Greater : TABSScanOperator::Less; break;
        case opGT: part.Operator = flipped ? TABSScanOperator::Less : TABSScanOperator::Greater; break;
        case opLE: part.Operator = flipped ? TABSScanOperator::GreaterOrEqual : TABSScanOperator::LessOrEqual; break;
        case opGE: part.Operator = flipped ? TABSScanOperator::LessOrEqual : TABSScanOperator::GreaterOrEqual; break;
        default: return std::nullopt;
    }
    // A column compared with a text, date or time constant compares without SQL null semantics:
    // a null is less than any value. The index ranges leave nulls out, which is what such a
    // comparison gives for =, > and >= (null is neither equal nor greater), but not for < and <=,
    // under which every null row holds.
    if (!comparison.SqlNullSemantics() && (part.Operator == TABSScanOperator::Less ||
                                           part.Operator == TABSScanOperator::LessOrEqual)) {
        return std::nullopt;
    }
    return part;
}

// Text of printable ASCII characters only: every one of them weighs in the collation, so two
// such texts that differ in a byte never compare equal.
[[nodiscard]] bool PlainAscii(std::string_view text) noexcept {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

} // namespace

std::vector<TABSAOTextEquality> TextEqualities(const std::vector<TABSExprNode*>& conditions,
                                               const std::vector<TABSAOColumn>& columns) {
    std::vector<TABSAOTextEquality> equalities;
    for (const TABSExprNode* node : conditions) {
        if (node->IgnoreCase() || node->Partial() || node->Op() != opEQ) continue;
        if (node->NodeClass() != TABSExprNodeClass::Comparison || node->Children().size() != 2) continue;
        // Under either null rule a null never equals a constant that is not null.
        const auto& comparison = static_cast<const TABSExprNodeComparison&>(*node);
        if (comparison.Quantifier() != TABSQuantifier::None) continue;
        const TABSExprNode* field = node->Children()[0].get();
        const TABSExprNode* constant = node->Children()[1].get();
        if (field->NodeClass() == TABSExprNodeClass::Const) std::swap(field, constant);
        if (field->NodeClass() != TABSExprNodeClass::Field || constant->NodeClass() != TABSExprNodeClass::Const) continue;
        const TABSVariant& value = static_cast<const TABSExprNodeConst*>(constant)->Value();
        if (value.IsNull() || !IsAnsiTextType(value.BaseType()) || !PlainAscii(value.TextData())) continue;
        const auto& named = static_cast<const TABSExprNodeField&>(*field);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (!columns[i].MatchesQualifier(named.Qualifier()) ||
                UpperCaseText(columns[i].Name) != UpperCaseText(named.Name())) {
                continue;
            }
            if (IsAnsiTextType(columns[i].BaseType)) equalities.push_back({i, value.TextData()});
            break;
        }
    }
    return equalities;
}

bool RefutedByText(const std::vector<TABSAOTextEquality>& equalities, const TABSFieldDefs& fields,
                   std::span<const std::uint8_t> record) {
    for (const TABSAOTextEquality& equality : equalities) {
        // Null equals nothing; the condition would not hold either.
        if (fields.IsNull(record, equality.Column)) return true;
        // The stored bytes are Windows-1252 up to their terminator; printable ASCII reads the same
        // in UTF-8, so the text is compared where it lies, without decoding the field.
        const auto bytes = fields.FieldBytes(record, equality.Column);
        std::size_t length = 0;
        while (length < bytes.size() && bytes[length] != 0) ++length;
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), length);
        // An empty text reads as null.
        if (text.empty()) return true;
        if (text != equality.Text && PlainAscii(text)) return true;
    }
    return false;
}

std::optional<std::vector<TABSRecordID>> IndexedCandidates(TABSTableData& table, TABSSessionID session,
                                                           const std::vector<TABSExprNode*>& conditions,
                                                           const std::vector<TABSAOColumn>& columns) {
    const TABSFieldDefs& fields = table.FieldDefs();
    if (fields.HasBlobFields()) return std::nullopt;
    TABSBaseIndexManager* indexes = IndexManagerOf(table);
    if (!indexes) return std::nullopt;
    std::vector<TABSScanConditionPart> parts;
    for (const TABSExprNode* condition : conditions) {
        if (auto part = AsScanPart(*condition, columns, fields)) parts.push_back(std::move(*part));
    }
    if (parts.empty()) return std::nullopt;

    std::lock_guard lock(table.Mutex());
    TABSScanSearchConditionArray array = TABSScanSearchConditionArray::Build(parts, *indexes, fields, session);
    if (array.IndexConditionCount() == 0) return std::nullopt;
    TableRecordSource records(table);
    TABSScanSearch search(std::move(array), *indexes, fields, records);
    TABSScanCostInputs inputs;
    inputs.RecordCount = table.RecordCount(session);
    inputs.RecordSize = table.RecordBufferSize();
    search.ChooseRange(session, inputs);
    if (!search.ChosenRange()) return std::nullopt;
    std::vector<TABSRecordID> ids;
    search.WalkRange(session, *search.ChosenRange(), [&](const TABSRecordID& id) {
        ids.push_back(id);
        return true;
    });
    return ids;
}

} // namespace kova
