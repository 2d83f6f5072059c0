// Parsing of the data definition and transaction statements.
#include "engine/sql/ABSSQLDDL.h"

#include "engine/core/ABSExcept.h"
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSSQLErrors.h"

#include <array>

namespace kova {
namespace {

TABSSourcePos PosOf(const TABSToken* t) noexcept {
    return t ? TABSSourcePos{t->line, t->column} : TABSSourcePos{};
}

constexpr unsigned kColumnNameForms = nfWord | nfString | nfBracket | nfKeyword;

[[nodiscard]] bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// A constant value (DEFAULT, MINVALUE, MAXVALUE): integers become LargeInt, floats Double.
TABSVariant ReadConstant(TABSSQLParser& p) {
    auto expression = TABSExpression::ParseValue(p);
    if (!expression || !expression->IsConstant()) p.Fail(sqlerr::kExpressionExpected, sqlerr::kExpressionExpectedMsg);
    expression->Bind(nullptr);
    TABSVariant value = expression->Evaluate();
    if (!value.IsNull()) {
        if (IsIntegerType(value.BaseType())) {
            value.ConvertTo(TABSBaseType::bftLargeInt);
        } else if (IsFloatType(value.BaseType())) {
            value.ConvertTo(TABSBaseType::bftDouble);
        }
    }
    return value;
}

void ReadIndexColumns(TABSSQLParser& p, TSQLIndexDef& index) {
    p.ExpectKind(TokenKind::OpenParen, "(");
    do {
        TSQLIndexColumn column;
        column.name = p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
        while (true) {
            if (p.AcceptKw(kwASC)) {
                column.descending = false;
            } else if (p.AcceptKw(kwDESC)) {
                column.descending = true;
            } else if (p.AcceptKw(kwCASE)) {
                column.caseInsensitive = false;
            } else if (p.AcceptKw(kwNOCASE)) {
                column.caseInsensitive = true;
            } else {
                break;
            }
        }
        index.columns.push_back(std::move(column));
    } while (p.AcceptKind(TokenKind::Comma));
    if (!p.AcceptKind(TokenKind::CloseParen)) p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
}

struct AutoIncWidth {
    std::string_view word;
    TABSColumnType type;
};

constexpr std::array<AutoIncWidth, 7> kAutoIncWidths{{
    {"SHORTINT", TABSColumnType::actAutoIncShortInt},
    {"SMALLINT", TABSColumnType::actAutoIncSmallInt},
    {"INTEGER", TABSColumnType::actAutoIncInteger},
    {"LARGEINT", TABSColumnType::actAutoIncLargeInt},
    {"BYTE", TABSColumnType::actAutoIncByte},
    {"WORD", TABSColumnType::actAutoIncWord},
    {"CARDINAL", TABSColumnType::actAutoIncCardinal},
}};

void ReadAutoIncOptions(TABSSQLParser& p, TSQLFieldDef& field) {
    p.ExpectKind(TokenKind::OpenParen, "(");
    auto integer = [&] { return sqlgrammar::ReadInteger(p, sqlerr::kDecimalExpected, sqlerr::kDecimalExpectedMsg); };
    while (!p.IsKind(TokenKind::CloseParen)) {
        const TABSToken* t = p.Cur();
        if (!t) p.FailEnd();
        if (p.AcceptKw(kwINCREMENT)) {
            field.hasIncrement = true;
            field.increment = integer();
        } else if (p.AcceptKw(kwMINVALUE)) {
            field.hasAutoIncMin = true;
            field.autoIncMin = integer();
        } else if (p.AcceptKw(kwMAXVALUE)) {
            field.hasAutoIncMax = true;
            field.autoIncMax = integer();
        } else if (p.AcceptKw(kwINITIALVALUE) || p.AcceptKw(kwSTARTVALUE)) {
            field.hasInitialValue = true;
            field.initialValue = integer();
        } else if (p.AcceptKw(kwCYCLED)) {
            field.hasCycled = true;
            field.cycled = true;
        } else if (p.AcceptKw(kwNOCYCLED)) {
            field.hasCycled = true;
            field.cycled = false;
        } else if (p.AcceptKw(kwNOMINVALUE)) {
            field.hasAutoIncMin = false;
        } else if (p.AcceptKw(kwNOMAXVALUE)) {
            field.hasAutoIncMax = false;
        } else if (field.type == TABSColumnType::actAutoInc &&
                   (t->kind == TokenKind::Word || t->kind == TokenKind::Keyword)) {
            const AutoIncWidth* width = nullptr;
            for (const auto& entry : kAutoIncWidths) {
                if (EqualsIgnoreCase(entry.word, t->text)) width = &entry;
            }
            if (!width) {
                RaiseError(sqlerr::kUnsupportedAutoinc, sqlerr::kUnsupportedAutoincMsg, {t->text, t->line, t->column});
            }
            field.type = width->type;
            p.Next();
        } else {
            p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
        }
        (void)p.AcceptKind(TokenKind::Comma);
    }
    p.Next();
}

constexpr std::array<std::string_view, 4> kCompressionAlgorithms{"NONE", "ZLIB", "BZIP", "PPM"};

// column name [IF NOT EXISTS] type [size] {option}; column-level PRIMARY KEY and UNIQUE add
// index definitions.
TSQLFieldDef ReadFieldDef(TABSSQLParser& p, std::vector<TSQLIndexDef>* indexes) {
    TSQLFieldDef field;
    field.pos = PosOf(p.Cur());
    field.name = p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
    if (p.AcceptKw(kwIF)) {
        p.ExpectKw(kwNOT);
        p.ExpectKw(kwEXISTS);
        field.ifNotExists = true;
    }
    const TABSToken* typeToken = p.Cur();
    if (!typeToken || !(typeToken->kind == TokenKind::Word || typeToken->kind == TokenKind::Keyword) ||
        typeToken->quoted) {
        p.Fail(sqlerr::kFieldTypeExpected, sqlerr::kFieldTypeExpectedMsg);
    }
    const TABSTypeInfo* info = FindTypeBySQLName(typeToken->text);
    if (!info) {
        RaiseError(sqlerr::kUnknownFieldType, sqlerr::kUnknownFieldTypeMsg,
                   {typeToken->text, typeToken->line, typeToken->column});
    }
    field.type = info->columnType;
    p.Next();
    if (ColumnTypeTakesSize(field.type)) {
        if (!p.AcceptKind(TokenKind::OpenParen)) p.Fail(sqlerr::kOpenParenExpected, sqlerr::kOpenParenExpectedMsg);
        field.size = static_cast<int>(sqlgrammar::ReadInteger(p, sqlerr::kDecimalExpected, sqlerr::kDecimalExpectedMsg));
        p.ExpectKind(TokenKind::CloseParen, ")");
    } else if (IsAutoIncColumnType(field.type) && p.IsKind(TokenKind::OpenParen)) {
        ReadAutoIncOptions(p, field);
    } else if (p.IsKind(TokenKind::OpenParen) && p.Peek() && p.Peek()->kind == TokenKind::Integer) {
        // A size on a type that has none is read and ignored.
        p.Next();
        (void)sqlgrammar::ReadInteger(p, sqlerr::kDecimalExpected, sqlerr::kDecimalExpectedMsg);
        p.ExpectKind(TokenKind::CloseParen, ")");
    }

    auto integer = [&] { return sqlgrammar::ReadInteger(p, sqlerr::kDecimalExpected, sqlerr::kDecimalExpectedMsg); };
    while (p.Cur() && !p.IsKind(TokenKind::Comma) && !p.IsKind(TokenKind::CloseParen)) {
        const TABSToken* t = p.Cur();
        if (p.AcceptKw(kwNOT)) {
            p.ExpectKw(kwNULL);
            field.required = true;
        } else if (p.AcceptKw(kwNULL)) {
            field.required = false;
        } else if (p.AcceptKw(kwDEFAULT)) {
            field.hasDefault = true;
            if (p.AcceptKw(kwNOW)) {
                field.defaultIsNow = true;
            } else {
                field.defaultValue = ReadConstant(p);
                if (IsTextType(field.defaultValue.BaseType()) &&
                    EqualsIgnoreCase(field.defaultValue.GetAsString(), "NOW")) {
                    field.defaultIsNow = true;
                    field.defaultValue = TABSVariant();
                }
            }
        } else if (p.AcceptKw(kwPRIMARY)) {
            (void)p.AcceptKw(kwKEY);
            if (indexes) {
                TSQLIndexDef index;
                index.primary = true;
                index.pos = PosOf(t);
                index.columns.push_back(TSQLIndexColumn{field.name, false, false});
                indexes->push_back(std::move(index));
            }
        } else if (p.AcceptKw(kwUNIQUE)) {
            if (indexes) {
                TSQLIndexDef index;
                index.unique = true;
                index.pos = PosOf(t);
                index.columns.push_back(TSQLIndexColumn{field.name, false, false});
                indexes->push_back(std::move(index));
            }
        } else if (p.AcceptKw(kwMINVALUE)) {
            field.hasMinValue = true;
            field.minValue = ReadConstant(p);
        } else if (p.AcceptKw(kwNOMINVALUE)) {
            field.hasMinValue = false;
            field.minValue = TABSVariant();
        } else if (p.AcceptKw(kwMAXVALUE)) {
            field.hasMaxValue = true;
            field.maxValue = ReadConstant(p);
        } else if (p.AcceptKw(kwNOMAXVALUE)) {
            field.hasMaxValue = false;
            field.maxValue = TABSVariant();
        } else if (p.AcceptKw(kwBLOBBLOCKSIZE)) {
            field.hasBlobBlockSize = true;
            field.blobBlockSize = integer();
        } else if (p.AcceptKw(kwBLOBCOMPRESSIONMODE)) {
            field.hasBlobCompressionMode = true;
            field.blobCompressionMode = integer();
        } else if (p.AcceptKw(kwBLOBCOMPRESSIONALGORITHM)) {
            const TABSToken* nameToken = p.Cur();
            auto name = p.AcceptName(nfWord | nfKeyword | nfString);
            bool known = false;
            for (std::size_t k = 0; name && k < kCompressionAlgorithms.size(); ++k) {
                if (EqualsIgnoreCase(*name, kCompressionAlgorithms[k])) {
                    field.blobCompressionAlgorithm = std::string(kCompressionAlgorithms[k]);
                    field.blobCompressionAlgorithmId = static_cast<int>(k);
                    known = true;
                }
            }
            if (!known) {
                if (!nameToken) p.FailEnd();
                RaiseError(sqlerr::kUnexpectedToken, sqlerr::kUnexpectedTokenMsg,
                           {nameToken->text, nameToken->line, nameToken->column});
            }
            field.hasBlobCompressionAlgorithm = true;
        } else {
            p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
        }
    }
    return field;
}

void ReadFieldDefList(TABSSQLParser& p, std::vector<TSQLFieldDef>& fields) {
    const bool parenthesised = p.AcceptKind(TokenKind::OpenParen);
    do {
        fields.push_back(ReadFieldDef(p, nullptr));
    } while (parenthesised && p.AcceptKind(TokenKind::Comma));
    if (parenthesised && !p.AcceptKind(TokenKind::CloseParen)) {
        p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
    }
}

} // namespace

std::string EngineIndexName(const TSQLIndexDef& index) {
    std::string name = index.primary ? "C_PK" : index.unique ? "C_Unique" : "i";
    name += '$';
    for (const auto& column : index.columns) {
        name += '$';
        name += column.name;
    }
    return name;
}

// ---- CREATE TABLE ----------------------------------------------------------------------------

void TABSDDLCreateTable::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwCREATE);
    p.ExpectKw(kwTABLE);
    if (p.AcceptKw(kwIF)) {
        p.ExpectKw(kwNOT);
        p.ExpectKw(kwEXISTS);
        ifNotExists_ = true;
    }
    table_ = sqlgrammar::ReadTableName(p, true);
    p.ExpectKind(TokenKind::OpenParen, "(");
    do {
        const TABSToken* t = p.Cur();
        if (!t) p.FailEnd();
        if (p.AcceptKw(kwPRIMARY)) {
            TSQLIndexDef index;
            index.primary = true;
            index.pos = PosOf(t);
            (void)p.AcceptKw(kwKEY);
            if (auto name = p.AcceptName(nfWord | nfBracket | nfString)) index.name = std::move(*name);
            ReadIndexColumns(p, index);
            indexes_.push_back(std::move(index));
        } else if (t->IsKeyword(kwUNIQUE) || t->IsKeyword(kwINDEX)) {
            TSQLIndexDef index;
            index.pos = PosOf(t);
            index.unique = p.AcceptKw(kwUNIQUE);
            if (!p.AcceptKw(kwINDEX)) p.Fail(sqlerr::kIndexKeywordExpected, sqlerr::kIndexKeywordExpectedMsg);
            index.name = p.ExpectName(nfWord | nfBracket | nfString, sqlerr::kIndexNameExpected,
                                      sqlerr::kIndexNameExpectedMsg);
            ReadIndexColumns(p, index);
            indexes_.push_back(std::move(index));
        } else {
            fields_.push_back(ReadFieldDef(p, &indexes_));
        }
    } while (p.AcceptKind(TokenKind::Comma));
    if (!p.AcceptKind(TokenKind::CloseParen)) p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
    if (p.Cur()) p.Fail(sqlerr::kUnexpectedToken, sqlerr::kUnexpectedTokenMsg);
}

// ---- CREATE INDEX, DROP, ALTER, RENAME, TRUNCATE ---------------------------------------------

void TABSDDLCreateIndex::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwCREATE);
    index_.pos = PosOf(p.Cur());
    index_.unique = p.AcceptKw(kwUNIQUE);
    if (!p.AcceptKw(kwINDEX)) p.Fail(sqlerr::kIndexKeywordExpected, sqlerr::kIndexKeywordExpectedMsg);
    index_.name = p.ExpectName(nfWord | nfBracket | nfString, sqlerr::kIndexNameExpected, sqlerr::kIndexNameExpectedMsg);
    if (!p.AcceptKw(kwON)) p.Fail(sqlerr::kOnKeywordExpected, sqlerr::kOnKeywordExpectedMsg);
    table_ = sqlgrammar::ReadTableName(p, true);
    ReadIndexColumns(p, index_);
    p.ExpectEnd();
}

void TABSDDLDropTable::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwDROP);
    p.ExpectKw(kwTABLE);
    if (p.AcceptKw(kwIF)) {
        p.ExpectKw(kwEXISTS);
        ifExists_ = true;
    }
    table_ = sqlgrammar::ReadTableName(p, true);
    p.ExpectEnd();
}

void TABSDDLDropIndex::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwDROP);
    p.ExpectKw(kwINDEX);
    table_.pos = PosOf(p.Cur());
    if (p.IsKw(kwMEMORY) && p.Peek() && p.Peek()->kind != TokenKind::Dot) {
        table_.memory = true;
        p.Next();
    }
    table_.name = p.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
    p.ExpectKind(TokenKind::Dot, ".");
    indexName_ = p.ExpectName(nfAnyName, sqlerr::kIndexNameExpected, sqlerr::kIndexNameExpectedMsg);
    if (p.AcceptKind(TokenKind::Dot)) {
        // database "." table "." index
        table_.database = std::move(table_.name);
        table_.name = std::move(indexName_);
        indexName_ = p.ExpectName(nfAnyName, sqlerr::kIndexNameExpected, sqlerr::kIndexNameExpectedMsg);
    }
    if (p.AcceptKw(kwPASSWORD)) table_.password = sqlgrammar::ReadPassword(p);
    p.ExpectEnd();
}

void TABSDDLAlterTable::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwALTER);
    p.ExpectKw(kwTABLE);
    table_ = sqlgrammar::ReadTableName(p, true);
    if (p.AcceptKw(kwADD)) {
        action_ = Action::Add;
        ReadFieldDefList(p, fields_);
    } else if (p.AcceptKw(kwMODIFY)) {
        action_ = Action::Modify;
        ReadFieldDefList(p, fields_);
    } else if (p.AcceptKw(kwDROP)) {
        action_ = Action::Drop;
        const bool parenthesised = p.AcceptKind(TokenKind::OpenParen);
        do {
            dropColumns_.push_back(p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg));
        } while (parenthesised && p.AcceptKind(TokenKind::Comma));
        if (parenthesised && !p.AcceptKind(TokenKind::CloseParen)) {
            p.Fail(sqlerr::kParenOrCommaExpected, sqlerr::kParenOrCommaExpectedMsg);
        }
    } else if (p.AcceptKw(kwRENAME)) {
        const bool column = p.AcceptKw(kwCOLUMN);
        if (!column && p.AcceptKw(kwTO)) {
            action_ = Action::RenameTable;
            newName_ = p.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
        } else {
            action_ = Action::RenameColumn;
            oldName_ = p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
            p.ExpectKw(kwTO);
            newName_ = p.ExpectName(kColumnNameForms, sqlerr::kFieldNameExpected, sqlerr::kFieldNameExpectedMsg);
        }
    } else {
        p.Fail(sqlerr::kAlterActionExpected, sqlerr::kAlterActionExpectedMsg);
    }
    p.ExpectEnd();
}

void TABSDDLRenameTable::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwRENAME);
    (void)p.AcceptKw(kwTABLE);
    table_ = sqlgrammar::ReadTableName(p, true);
    p.ExpectKw(kwTO);
    newName_ = p.ExpectName(nfAnyName, sqlerr::kTableNameExpected, sqlerr::kTableNameExpectedMsg);
    p.ExpectEnd();
}

void TABSDDLTruncateTable::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwTRUNCATE);
    (void)p.AcceptKw(kwTABLE);
    table_ = sqlgrammar::ReadTableName(p, true);
    p.ExpectEnd();
}

// ---- Transactions ----------------------------------------------------------------------------

void TABSSQLStartTransaction::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwSTART);
    p.ExpectKw(kwTRANSACTION);
    p.ExpectEnd();
}

void TABSSQLCommit::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwCOMMIT);
    flush_ = p.AcceptKw(kwFLUSH);
    p.ExpectEnd();
}

void TABSSQLRollback::Parse(TABSSQLParser& p) {
    p.ExpectKw(kwROLLBACK);
    p.ExpectEnd();
}

} // namespace kova
