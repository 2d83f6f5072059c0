// Base of the expression tree: operator codes, the node base class, and the two interfaces
// through which a bound expression reaches the outside world.
//
//   TABSRowSource        the columns an expression can see (lookup by qualifier and name) and
//                        the values of the current row; implemented by cursors and by the
//                        relational operators of query execution.
//   TABSExprEnvironment  what only a running query can supply: subquery rows, the row number,
//                        the last auto-increment value of a table.
//
// A node evaluates its children and keeps its result in a value it owns, so evaluating the
// same tree row after row reuses the same buffers.
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"
#include "engine/sql/ABSSQLParser.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

struct TABSQueryExpr;

// Operator codes; the numbers are the dialect's own.
enum TABSExprOp : std::uint8_t {
    opNone = 0,
    opEQ = 1, opNE = 2, opGT = 3, opLT = 4, opGE = 5, opLE = 6,
    opNOT = 7, opAND = 8, opOR = 9, opIN = 10, opNOTIN = 11, opEXISTS = 12, opBETWEEN = 13,
    opNOTBETWEEN = 14, opLIKE = 15, opNOTLIKE = 16, opISNULL = 17, opISNOTNULL = 18,
    opADD = 21, opNEGATE = 22, opMUL = 23, opDIV = 24,
    opCONCAT = 25, opUPPER = 26, opLOWER = 27, opTRIM = 28, opLTRIM = 29, opRTRIM = 30, opLENGTH = 31,
    opPOS = 32, opSUBSTRING = 33,
    opSUM = 34, opAVG = 35, opMIN = 36, opMAX = 37, opCOUNT = 38, opCOUNTALL = 39,
    opNOW = 40, opCURRENTDATE = 41, opCURRENTTIME = 42, opTODATE = 43, opTOSTRING = 44, opEXTRACT = 45,
    opLASTAUTOINC = 47, opMIMETOBIN = 48, opROWNUM = 49,
    // Numeric functions, in keyword order.
    opABS = 50, opACOS = 51, opASIN = 52, opATAN = 53, opCEIL = 54, opCOS = 55, opEXP = 56, opFLOOR = 57,
    opLOG = 58, opPOWER = 59, opRAND = 60, opROUND = 61, opSIGN = 62, opSIN = 63, opSQR = 64, opSQRT = 65,
};

// The operator's name in messages ("=", "AND", "COUNT(*)" ...; "unknown" for the rest).
[[nodiscard]] std::string_view OperatorName(int op) noexcept;

enum class TABSExprNodeClass : std::uint8_t {
    Const, Field, Comparison, Boolean, Arithmetic, StringFunction, Aggregated, DateFunction, System, Blob,
    Cast, Case, Subquery,
};

struct TABSColumnInfo {
    std::size_t index = 0;
    TABSBaseType type = TABSBaseType::bftUnknown;
    int size = 0;  // declared size of text columns, 0 otherwise
};

class TABSRowSource {
public:
    virtual ~TABSRowSource() = default;
    // Finds a visible column. With a qualifier only the columns of the table or alias of that
    // name take part; names compare ignoring case; the first match wins. Nothing when unknown.
    [[nodiscard]] virtual std::optional<TABSColumnInfo> FindColumn(std::string_view qualifier,
                                                                   std::string_view name) const = 0;
    // Value of column `index` of the current row; valid until the row changes.
    [[nodiscard]] virtual const TABSVariant& ColumnValue(std::size_t index) const = 0;
};

// Rows of a subquery, from the first on.
class TABSSubqueryRows {
public:
    virtual ~TABSSubqueryRows() = default;
    // Moves to the next row (the first on the first call); false at the end.
    virtual bool Next() = 0;
    [[nodiscard]] virtual std::size_t ColumnCount() const = 0;
    [[nodiscard]] virtual const TABSVariant& Value(std::size_t column) const = 0;
};

class TABSExprEnvironment {
public:
    virtual ~TABSExprEnvironment() = default;
    // Runs a subquery (correlated subqueries see the outer query's current row).
    [[nodiscard]] virtual std::unique_ptr<TABSSubqueryRows> RunSubquery(const TABSQueryExpr& query) = 0;
    // Number of the current result row, from 1.
    [[nodiscard]] virtual std::int64_t RowNumber() const = 0;
    // Last auto-increment value of a table's column (the first auto-increment column when empty).
    [[nodiscard]] virtual std::int64_t LastAutoInc(std::string_view table, std::string_view column) = 0;
};

// Everything binding needs.
struct TABSBindContext {
    const TABSRowSource* rows = nullptr;
    TABSExprEnvironment* environment = nullptr;
};

class TABSExprNode {
public:
    using Ptr = std::unique_ptr<TABSExprNode>;

    virtual ~TABSExprNode();
    TABSExprNode(const TABSExprNode&) = delete;
    TABSExprNode& operator=(const TABSExprNode&) = delete;

    [[nodiscard]] virtual TABSExprNodeClass NodeClass() const noexcept = 0;
    [[nodiscard]] int Op() const noexcept { return op_; }

    // Evaluates for the current row; the result stays valid until the next evaluation of this
    // node (or, for a column, until the row changes).
    virtual const TABSVariant& Evaluate() = 0;

    // Binds this node and its children (children first); then ResultType and ResultSize hold.
    // Column nodes raise "Field '%s' not found" for an unknown column.
    virtual void Bind(const TABSBindContext& context);

    [[nodiscard]] TABSBaseType ResultType() const noexcept { return resultType_; }
    [[nodiscard]] int ResultSize() const noexcept { return resultSize_; }

    [[nodiscard]] std::vector<Ptr>& Children() noexcept { return children_; }
    [[nodiscard]] const std::vector<Ptr>& Children() const noexcept { return children_; }
    void AddChild(Ptr child) { children_.push_back(std::move(child)); }

    [[nodiscard]] bool IgnoreCase() const noexcept { return ignoreCase_; }
    [[nodiscard]] bool Partial() const noexcept { return partial_; }
    void SetFlags(bool ignoreCase, bool partial) noexcept {
        ignoreCase_ = ignoreCase;
        partial_ = partial;
    }

    [[nodiscard]] const TABSSourcePos& Pos() const noexcept { return pos_; }
    void SetPos(TABSSourcePos pos) noexcept { pos_ = pos; }

protected:
    explicit TABSExprNode(int op = opNone) : op_(op) {}

    int op_;
    std::vector<Ptr> children_;
    TABSVariant value_;
    TABSBaseType resultType_ = TABSBaseType::bftUnknown;
    int resultSize_ = 0;
    bool ignoreCase_ = false;
    bool partial_ = false;
    TABSSourcePos pos_;
};

// Whether a type counts as text, date or time for the comparison rewrites.
[[nodiscard]] bool IsTextDateOrTimeType(TABSBaseType type) noexcept;

} // namespace kova
