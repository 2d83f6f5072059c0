// The registration check: every registration of a list query through the competition's rules
// and limits, written as a protocol of tests and faults, ending in one verdict.
//
// The run knows no widgets: it writes into a TCheckProtocol, which the check window shows as its
// list and the organisers' console tool prints. It changes no data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kova {
class TABSQuery;
}

namespace kova::app {

class TCompetitionRules;
class TTalmirMySQLTools;

// Where the protocol goes. Rows are appended; a row's Ergebnis and Bemerkung change while the run
// goes on. Texts are UTF-8.
class TCheckProtocol {
public:
    virtual ~TCheckProtocol() = default;
    virtual void Clear() = 0;
    // Appends a row and returns its index.
    virtual int AddRow(const std::string& aktion, const std::string& ergebnis, const std::string& bemerkung) = 0;
    virtual void SetErgebnis(int row, const std::string& text) = 0;
    virtual void SetBemerkung(int row, const std::string& text) = 0;
    // The row should be selected and in view: a header while its test runs, the last row at the end.
    virtual void SelectRow(int /*row*/) {}
    // Something changed that the user should see now (long runs show their progress).
    virtual void ShowProgress(int /*row*/) {}
};

struct TCheckRow {
    std::string aktion;
    std::string ergebnis;
    std::string bemerkung;
    friend bool operator==(const TCheckRow&, const TCheckRow&) = default;
};

// A protocol kept in memory (for the console tool and tests).
class TCheckRows final : public TCheckProtocol {
public:
    void Clear() override { rows_.clear(); }
    int AddRow(const std::string& aktion, const std::string& ergebnis, const std::string& bemerkung) override;
    void SetErgebnis(int row, const std::string& text) override { rows_.at(static_cast<std::size_t>(row)).ergebnis = text; }
    void SetBemerkung(int row, const std::string& text) override { rows_.at(static_cast<std::size_t>(row)).bemerkung = text; }
    [[nodiscard]] const std::vector<TCheckRow>& Rows() const noexcept { return rows_; }

private:
    std::vector<TCheckRow> rows_;
};

// The limits the check compares against, with the competition's defaults.
struct TCheckLimits {
    int maxEinzelPlusStaffelPerName = 3;
    int maxNamenPerAKMitDisz = 12;
    int maxNamenPerAKMitStaffel = 8;
    // Set by the organiser in the template editor; checked too, so a limit that can be set is
    // also enforced.
    int maxEinzelDiszPerName = 3;
    int maxStaffelPerName = 1;

    // Reads each limit through `lookup(name, default)`.
    using TLookup = std::function<int(std::string_view name, int defaultValue)>;
    [[nodiscard]] static TCheckLimits Read(const TLookup& lookup);
};

// A discipline field counts as a start when it is not empty and holds no "-".
[[nodiscard]] bool IsStart(std::string_view field) noexcept;

struct TCheckResult {
    int faults = 0;
    std::int64_t registrations = 0;
    [[nodiscard]] bool Passed() const noexcept { return faults == 0; }
};

// One run. `list` is the open registration list (Name, Vorname, AK, Jahrgang, Disziplin1..3,
// Staffel, in the list's order); `classes` runs the class statement; `rules` answers the rule
// tests. Engine errors end the run and pass to the caller; the protocol keeps what was written.
class TCheckRun {
public:
    TCheckRun(TABSQuery& list, TABSQuery& classes, const TTalmirMySQLTools& tools, const TCompetitionRules& rules,
              const TCheckLimits& limits, TCheckProtocol& protocol);

    TCheckResult Run();

    // The fault total as the protocol writes it: the number followed by " Fehler".
    [[nodiscard]] static std::string FaultText(int faults);

private:
    struct TRegistration {
        std::string name, vorname, ak, jahrgang;
        std::string disciplines[3];
        std::string staffel;
    };

    void BeginTest(const std::string& tag, const std::string& description);
    void Fault(const std::string& tag, const std::string& ergebnis, const std::string& message);
    void EndTest();
    // Calls `test` for each registration of the list, in list order.
    void ForEachRegistration(const std::function<void(const TRegistration&)>& test);
    void TestClassLimits(const std::string& code, const std::string& className);

    TABSQuery& list_;
    TABSQuery& classes_;
    const TTalmirMySQLTools& tools_;
    const TCompetitionRules& rules_;
    TCheckLimits limits_;
    TCheckProtocol& protocol_;
    int header_ = -1;
    int testFaults_ = 0;
    int totalFaults_ = 0;
};

} // namespace kova::app
