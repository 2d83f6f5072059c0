// The SQL query dataset: a statement text as lines, its parameters, and the two ways to run
// it: Open (the result of the text's last statement becomes the dataset's rows) and ExecSQL
// (the statements run for their effect).
//
//   unprepared ──Open / ExecSQL / Prepare──> prepared ──Open──> open
//        ^                                      ^  │               │
//        └── new SQL text, UnPrepare ───────────┘  └<──Close───────┘
//
// The statement text is the SQL lines, each followed by a line break. Running a text tokenizes
// and splits it at ";", then parses and executes each statement in order; statements before a
// failing one keep their effects (there is no transaction around a text). The executor comes
// from the process-wide factory (ABSCursor.h) for the query's connection.
#pragma once

#include "engine/api/ABSDataSet.h"
#include "engine/sql/ABSCursor.h"
#include "engine/sql/ABSSQLProcessor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

// A named statement parameter with a dataset value.
class TABSParam {
public:
    explicit TABSParam(std::string name) : name_(std::move(name)) {}

    [[nodiscard]] const std::string& Name() const noexcept { return name_; }
    [[nodiscard]] TFieldType DataType() const noexcept { return dataType_; }
    void SetDataType(TFieldType type) noexcept { dataType_ = type; }
    [[nodiscard]] const TDatasetVariant& Value() const noexcept { return value_; }
    [[nodiscard]] bool IsNull() const noexcept { return std::holds_alternative<std::monostate>(value_); }
    // Whether the caller gave a value (a null included).
    [[nodiscard]] bool Bound() const noexcept { return bound_; }

    // Sets the value; an unknown data type follows the value (text ftString, int32 ftInteger,
    // int64 ftLargeint, double ftFloat, bool ftBoolean, date-time ftDateTime, bytes ftBlob).
    void SetValue(TDatasetVariant value);
    void SetAsString(std::string text) { SetValue(std::move(text)); }
    void SetAsInteger(std::int32_t value) { SetValue(value); }
    void SetAsFloat(double value) { SetValue(value); }
    void SetAsDateTime(double dayFraction) { SetValue(TDatasetDateTime{dayFraction}); }
    // Null and unbound again (the data type stays).
    void Clear() noexcept;

private:
    friend class TABSQuery;

    std::string name_;
    TFieldType dataType_ = TFieldType::ftUnknown;
    TDatasetVariant value_;
    bool bound_ = false;
};

class TABSQuery : public TABSDataSet {
public:
    explicit TABSQuery(TABSComponentOwner* owner = nullptr);
    ~TABSQuery() override;

    // ---- Statement text ----
    [[nodiscard]] const std::vector<std::string>& SQL() const noexcept { return sql_; }
    // When the text changes, the query is closed and unprepared; with ParamCheck on the
    // parameters are collected from the text anew (values of same-named ones are kept).
    void SetSQL(std::vector<std::string> lines);
    // Splits at line breaks (CR LF, LF or CR; a final line break adds no empty line).
    void SetSQLText(std::string_view text);
    // Every line followed by a line break.
    [[nodiscard]] std::string SQLText() const;

    // ---- Parameters ----
    [[nodiscard]] std::vector<TABSParam>& Params() noexcept { return params_; }
    [[nodiscard]] TABSParam* FindParam(std::string_view name);
    // Fails with "Parameter '%s' not found".
    [[nodiscard]] TABSParam& ParamByName(std::string_view name);
    [[nodiscard]] bool ParamCheck() const noexcept { return paramCheck_; }
    void SetParamCheck(bool check) noexcept { paramCheck_ = check; }
    // The master dataset whose fields give unbound parameters their values. Not owned; it must
    // stay alive while it is set.
    [[nodiscard]] TABSDataSet* DataSource() const noexcept { return dataSource_; }
    void SetDataSource(TABSDataSet* master) noexcept { dataSource_ = master; }

    // ---- Flags ----
    [[nodiscard]] bool RequestLive() const noexcept { return requestLive_; }
    void SetRequestLive(bool live);

    // ---- Running ----
    // Makes the statement processor. 30141 on an open query, 20034 without SQL lines, 30142 for
    // a text shorter than 2 characters.
    void Prepare();
    void UnPrepare() noexcept;
    [[nodiscard]] bool Prepared() const noexcept { return processor_ != nullptr; }
    // Runs the statements for their effect; a result of the last one is discarded. Fails with
    // "Operation bei geöffneter Datenmenge nicht ausführbar" on an open query. The database
    // reference is given back in every case.
    void ExecSQL();
    // Rows the last run affected (all its statements added up).
    [[nodiscard]] std::int64_t RowsAffected() const noexcept { return rowsAffected_; }

    // Parameter names of a statement text in order of appearance, each once (":name", ':"name"'
    // and ":[name]" outside string literals; "::" is no parameter).
    [[nodiscard]] static std::vector<std::string> ParseParamNames(std::string_view text);

protected:
    [[nodiscard]] std::unique_ptr<TABSLocalCursor> OpenCursor(TABSDatabase& database) override;
    void CloseCursor() noexcept override;
    void CloseForDatabase() override;
    [[nodiscard]] bool IsQuery() const noexcept override { return true; }

private:
    // Steps shared by Open and ExecSQL: prepare, take parameters, run the text.
    [[nodiscard]] TABSRunResult Run(TABSDatabase& database);
    [[nodiscard]] std::vector<TABSSQLParam> ProcessorParams();
    // A fresh processor for the same text: drops the statements of the last run (and what they
    // hold) but stays prepared.
    void RenewProcessor();

    std::vector<std::string> sql_;
    std::vector<TABSParam> params_;
    bool paramCheck_ = true;
    bool requestLive_ = false;
    TABSDataSet* dataSource_ = nullptr;
    std::int64_t rowsAffected_ = 0;

    // Declared in this order so that the statements of the processor go before the executor.
    std::unique_ptr<TABSResultExecutor> executor_;
    std::unique_ptr<TABSSQLProcessor> processor_;
};

} // namespace kova
