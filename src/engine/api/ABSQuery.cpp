#include "engine/api/ABSQuery.h"

#include "engine/api/ABSApiErrors.h"
#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSSession.h"

namespace kova {

namespace {

[[nodiscard]] bool IsNameChar(char c) noexcept {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || u >= 0x80;
}

// The field type a parameter value implies when the caller named none.
[[nodiscard]] TFieldType FieldTypeOfValue(const TDatasetVariant& value) noexcept {
    switch (value.index()) {
    case 1: return TFieldType::ftBoolean;
    case 2: return TFieldType::ftInteger;
    case 3: return TFieldType::ftLargeint;
    case 4: return TFieldType::ftFloat;
    case 5: return TFieldType::ftString;
    case 6: return TFieldType::ftWideString;
    case 7: return TFieldType::ftDateTime;
    case 8: return TFieldType::ftBlob;
    default: return TFieldType::ftUnknown;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSParam

void TABSParam::SetValue(TDatasetVariant value) {
    value_ = std::move(value);
    bound_ = true;
    if (dataType_ == TFieldType::ftUnknown) dataType_ = FieldTypeOfValue(value_);
}

void TABSParam::Clear() noexcept {
    value_ = std::monostate{};
    bound_ = false;
}

// ---------------------------------------------------------------------------------------------
// Statement text and parameters

TABSQuery::TABSQuery(TABSComponentOwner* owner) : TABSDataSet(owner) {}

TABSQuery::~TABSQuery() {
    CloseSilently();
    UnPrepare();
}

std::string TABSQuery::SQLText() const {
    std::string text;
    for (const std::string& line : sql_) {
        text += line;
        text += '\n';
    }
    return text;
}

void TABSQuery::SetSQL(std::vector<std::string> lines) {
    if (lines == sql_) return;
    Close();
    UnPrepare();
    sql_ = std::move(lines);
    if (!paramCheck_) return;
    std::vector<TABSParam> params;
    for (std::string& name : ParseParamNames(SQLText())) {
        if (TABSParam* kept = FindParam(name)) {
            params.push_back(std::move(*kept));
        } else {
            params.emplace_back(std::move(name));
        }
    }
    params_ = std::move(params);
}

void TABSQuery::SetSQLText(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    SetSQL(std::move(lines));
}

std::vector<std::string> TABSQuery::ParseParamNames(std::string_view text) {
    std::vector<std::string> names;
    const auto add = [&names](std::string name) {
        if (name.empty()) return;
        for (const std::string& known : names) {
            if (SameName(known, name)) return;
        }
        names.push_back(std::move(name));
    };
    // Reads a quoted text from the opening character at `i`; a doubled closing character
    // stands for itself. Leaves `i` on the closing character.
    const auto readQuoted = [&text](std::size_t& i, char close) {
        std::string content;
        for (++i; i < text.size(); ++i) {
            if (text[i] != close) {
                content += text[i];
            } else if (close != ']' && i + 1 < text.size() && text[i + 1] == close) {
                content += close;
                ++i;
            } else {
                break;
            }
        }
        return content;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            (void)readQuoted(i, c);  // a literal: a colon in it is text
            continue;
        }
        if (c != ':' || i + 1 >= text.size()) continue;
        const char next = text[i + 1];
        if (next == ':') {
            ++i;
        } else if (next == '"' || next == '\'') {
            ++i;
            add(readQuoted(i, next));
        } else if (next == '[') {
            ++i;
            add(readQuoted(i, ']'));
        } else if (IsNameChar(next)) {
            std::size_t end = i + 1;
            while (end < text.size() && IsNameChar(text[end])) ++end;
            add(std::string(text.substr(i + 1, end - i - 1)));
            i = end - 1;
        }
    }
    return names;
}

TABSParam* TABSQuery::FindParam(std::string_view name) {
    for (TABSParam& param : params_) {
        if (SameName(param.Name(), name)) return &param;
    }
    return nullptr;
}

TABSParam& TABSQuery::ParamByName(std::string_view name) {
    TABSParam* param = FindParam(name);
    if (!param) ComponentError(apierr::kParameterNotFound, {name});
    return *param;
}

void TABSQuery::SetRequestLive(bool live) {
    if (live == requestLive_) return;
    // The processor keeps the flag it was made with.
    Close();
    UnPrepare();
    requestLive_ = live;
}

// ---------------------------------------------------------------------------------------------
// Preparing and running

void TABSQuery::Prepare() {
    if (Active()) RaiseError(apierr::kPrepareOpen, apierr::kPrepareOpenMsg);
    if (processor_) return;
    if (sql_.empty()) RaiseError(apierr::kNoSqlLines, apierr::kNoSqlMsg);
    std::string text = SQLText();
    if (text.size() < 2) RaiseError(apierr::kSqlTooShort, apierr::kNoSqlMsg);
    processor_ = std::make_unique<TABSSQLProcessor>(std::move(text), requestLive_, InMemory());
}

void TABSQuery::UnPrepare() noexcept {
    processor_.reset();
    executor_.reset();
}

void TABSQuery::RenewProcessor() {
    if (!processor_) return;
    processor_ = std::make_unique<TABSSQLProcessor>(processor_->Text(), processor_->RequestLive(), processor_->InMemory());
}

std::vector<TABSSQLParam> TABSQuery::ProcessorParams() {
    std::vector<TABSSQLParam> result;
    result.reserve(params_.size());
    for (const TABSParam& param : params_) {
        TDatasetVariant value = param.Value();
        TFieldType type = param.DataType();
        if (!param.Bound() && dataSource_) {
            if (TABSField* field = dataSource_->FindField(param.Name())) {
                value = field->Value().GetAsDatasetVariant();
                type = field->DataType();
            }
        }
        const bool isNull = std::holds_alternative<std::monostate>(value);
        if (isNull && (!param.Bound() || type == TFieldType::ftUnknown)) type = TFieldType::ftInteger;
        if (type == TFieldType::ftUnknown) type = FieldTypeOfValue(value);

        TABSSQLParam converted(param.Name());
        const TABSBaseType baseType = BaseTypeOfColumnType(ColumnTypeOfFieldType(type));
        converted.SetFromDatasetVariant(value);
        if (converted.IsNull()) {
            converted.SetType(baseType);
        } else if (converted.BaseType() != baseType) {
            converted.ConvertTo(baseType);
        }
        result.push_back(std::move(converted));
    }
    return result;
}

TABSRunResult TABSQuery::Run(TABSDatabase& database) {
    if (sql_.empty()) RaiseError(apierr::kNoSqlLines, apierr::kNoSqlMsg);
    Prepare();
    processor_->SetParams(ProcessorParams());

    const TABSLocalSession& connection = *database.Connection();
    TABSExecutionContext context;
    context.Data = &connection.Data();
    context.Tables = connection.Tables();
    context.SessionID = connection.SessionID();
    context.SessionName = database.Session() ? database.Session()->SessionName() : std::string();
    context.DatabaseName = database.DatabaseName();
    context.DatabaseFileName = database.EffectiveFileName();
    context.ReadOnly = connection.ReadOnly();
    context.RequestLive = requestLive_;
    context.InMemory = InMemory();
    executor_ = MakeExecutor(context);
    return RunStatements(*processor_, *executor_);
}

std::unique_ptr<TABSLocalCursor> TABSQuery::OpenCursor(TABSDatabase& database) {
    TABSRunResult run = Run(database);
    rowsAffected_ = run.RowsAffected;
    // The statements ran and keep their effects; there is just nothing to browse.
    if (!run.Cursor) RaiseError(apierr::kNoResult, apierr::kNoResultMsg);
    return std::move(run.Cursor);
}

void TABSQuery::CloseCursor() noexcept {
    // The statements (and the result tables they hold) go before the executor they ran in.
    try {
        RenewProcessor();
    } catch (...) {
        processor_.reset();  // out of memory: unprepared is as good
    }
    executor_.reset();
}

void TABSQuery::CloseForDatabase() {
    Close();
    UnPrepare();
}

void TABSQuery::ExecSQL() {
    if (Active()) ComponentError(apierr::kExecOnOpenQuery);
    TABSDatabase& database = AcquireDatabase();
    try {
        TABSRunResult run = Run(database);
        rowsAffected_ = run.RowsAffected;
    } catch (...) {
        CloseSilently();
        throw;
    }
    CloseCursor();
    ReleaseDatabase();
}

} // namespace kova
