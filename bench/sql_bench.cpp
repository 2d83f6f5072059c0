// SQL layer benchmarks: tokenizing and parsing a long statement, and evaluating typical WHERE
// conditions of the application against a row.
#include "engine/sql/ABSExpressions.h"
#include "engine/sql/ABSLexer.h"
#include "engine/sql/ABSSQLProcessor.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace kova;

// A statement of 100 lines: the list query with a long condition, one clause per line.
std::string HundredLineStatement() {
    std::string text =
        "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, v.Schule, n.ID\n"
        "FROM Namen n, Verein v\n"
        "WHERE v.ID = n.VereinId\n";
    for (int line = 0; line < 96; ++line) {
        text += "AND (n.Jahrgang > " + std::to_string(1990 + line) + " OR UPPER(AK) = \"WK" + std::to_string(line % 4) +
                "M\" OR Name LIKE 'M_ier%')\n";
    }
    text += "ORDER BY Name, Vorname;";
    return text;
}

void BM_TokenizeHundredLines(benchmark::State& state) {
    const std::string text = HundredLineStatement();
    for (auto _ : state) {
        TABSLexer lexer(text);
        benchmark::DoNotOptimize(lexer.Statement(0).Size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_TokenizeHundredLines);

void BM_ParseHundredLines(benchmark::State& state) {
    const std::string text = HundredLineStatement();
    for (auto _ : state) {
        TABSSQLProcessor processor(text);
        processor.ParseAll();
        benchmark::DoNotOptimize(processor.Statements().size());
    }
}
BENCHMARK(BM_ParseHundredLines);

void BM_ParseApplicationStatement(benchmark::State& state) {
    const std::string text = "SELECT * FROM Klassen WHERE (Kuerzel=\"WK3m\" AND AlterVon<=12 AND AlterBis>=12);";
    for (auto _ : state) {
        TABSSQLProcessor processor(text);
        processor.ParseAll();
        benchmark::DoNotOptimize(processor.Statements().size());
    }
}
BENCHMARK(BM_ParseApplicationStatement);

// A row of the Klassen table.
class KlassenRow final : public TABSRowSource {
public:
    KlassenRow() {
        Add("Kuerzel", TABSBaseType::bftString).SetAsString("WK3m");
        Add("Klasse", TABSBaseType::bftString).SetAsString("Jungen 12/13");
        Add("AlterVon", TABSBaseType::bftInteger).SetAsInteger(12);
        Add("AlterBis", TABSBaseType::bftInteger).SetAsInteger(13);
        Add("VarName", TABSBaseType::bftChar).SetAsString("MaxEinzelDiszPerName", TABSBaseType::bftChar);
    }
    std::optional<TABSColumnInfo> FindColumn(std::string_view, std::string_view name) const override {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == name) return TABSColumnInfo{i, values_[i].BaseType(), 0};
        }
        return std::nullopt;
    }
    const TABSVariant& ColumnValue(std::size_t index) const override { return values_[index]; }

private:
    TABSVariant& Add(std::string name, TABSBaseType type) {
        names_.push_back(std::move(name));
        values_.emplace_back(type);
        return values_.back();
    }
    std::vector<std::string> names_;
    std::vector<TABSVariant> values_;
};

void EvaluateCondition(benchmark::State& state, const char* condition) {
    KlassenRow row;
    auto expression = TABSExpression::ParseFilter(condition, {}, {});
    expression->Bind(&row);
    for (auto _ : state) benchmark::DoNotOptimize(expression->IsTrue());
}

void BM_EvaluateClassTest(benchmark::State& state) {
    EvaluateCondition(state, "(Kuerzel=\"WK3m\" AND AlterVon<=12 AND AlterBis>=12)");
}
BENCHMARK(BM_EvaluateClassTest);

void BM_EvaluateSettingsLookup(benchmark::State& state) {
    EvaluateCondition(state, "UPPER(VarName) = \"MAXEINZELDISZPERNAME\"");
}
BENCHMARK(BM_EvaluateSettingsLookup);

void BM_EvaluateLike(benchmark::State& state) { EvaluateCondition(state, "Klasse LIKE '%n 1_/%'"); }
BENCHMARK(BM_EvaluateLike);

} // namespace
