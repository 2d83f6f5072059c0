// The template editor "Vorlage erstellen ...": the organiser makes a new competition template as
// a copy of an existing one and gives it the competition's own school year, day, times, name and
// place, its limits per school and the age ranges of its age classes; pairs of classes the
// competition does not hold are removed.
//
// The window only edits values: FormShow reads them from the copy the working database ABSDB
// points to (falling back to defaults wherever the copy has nothing readable), Values() hands
// them back, and TTemplateWriter writes them. NewTemplateFromCurrent is the whole command: pick
// a template, name the new file, copy, edit, write - or delete the copy when the editor is left
// without "Fertig".
#pragma once

#include <QDate>
#include <QDialog>
#include <QString>
#include <QTime>

#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;
class QTimer;
class QWidget;

namespace kova::app {

class TDM;

// One limit of the Settings table as the editor offers it.
struct TTemplateLimit {
    const char* name;   // VarName, also the object name of its up-down
    const char* label;  // the row's text on the tab "Limits"
    int maximum;        // the lowest value is 0
    int defaultValue;
};
inline constexpr std::array<TTemplateLimit, 5> kTemplateLimits{{
    {"MaxEinzelDiszPerName", "maximal zulässige Anzahl Einzeldisziplinen je gemeldetem Namen:", 3, 3},
    {"MaxStaffelPerName", "maximal zulässige Anzahl Staffeldisziplinen je gemeldetem Namen:", 1, 1},
    {"MaxEinzelPlusStaffelPerName", "maximal zulässige Anzahl Gesamtdisziplinen (Einzel+Staffel) je gemeldetem Namen:", 4, 3},
    {"MaxNamenPerAKMitDisz",
     "maximale Anzahl Namen je Altersklasse mit gemeldeten Disziplinen (Reserve zusätzlich möglich):", 99, 12},
    {"MaxNamenPerAKMitStaffel", "maximale Anzahl Namen je Altersklasse mit gemeldetem Staffelwettbewerb:", 99, 8},
}};

// One age class; classes come in pairs (W then M) that share one "zulässig" check box.
struct TTemplateClass {
    const char* code;     // Klassen.Kuerzel
    const char* rowText;  // the text of its row on the tab "Altersklassen"
    int defaultLow;
    int defaultHigh;
};
// In the order the classes are written and checked: the youngest pair first.
inline constexpr std::array<TTemplateClass, 8> kTemplateClasses{{
    {"W41", "WK IV/1 weiblich", 10, 13}, {"M41", "WK IV/1 männlich", 10, 13},
    {"W31", "WK III/1 weiblich", 12, 15}, {"M31", "WK III/1 männlich", 12, 15},
    {"W21", "WK II weiblich", 14, 17},   {"M21", "WK II männlich", 14, 17},
    {"W11", "WK I weiblich", 16, 19},    {"M11", "WK I männlich", 16, 19},
}};
// The pairs' suffixes: pair p holds classes 2p (W) and 2p+1 (M).
inline constexpr std::array<const char*, 4> kTemplatePairs{{"41", "31", "21", "11"}};
inline constexpr int kMaxAge = 120;

// What the editor hands back to be written.
struct TTemplateValues {
    QString schoolYear;  // "2010/2011"
    QDate day;
    QString name;
    QString place;
    QTime start;
    QTime end;
    std::array<int, kTemplateLimits.size()> limits{};
    std::array<int, kTemplateClasses.size()> low{};
    std::array<int, kTemplateClasses.size()> high{};
    std::array<bool, kTemplatePairs.size()> pairAllowed{};
};

class TFormEditTemplate final : public QDialog {
public:
    explicit TFormEditTemplate(QWidget* parent = nullptr);
    ~TFormEditTemplate() override;

    static constexpr const char* kDefaultPlace = "Bitte Ort angeben.";
    [[nodiscard]] static QString DefaultName();

    // ---- Controls (their object names are the ones used here) ----
    [[nodiscard]] QTabWidget& PCTemplate() const noexcept { return *pcTemplate_; }
    [[nodiscard]] QWidget& TSDefaults() const noexcept { return *tsDefaults_; }
    [[nodiscard]] QWidget& TSLimits() const noexcept { return *tsLimits_; }
    [[nodiscard]] QWidget& TSAKs() const noexcept { return *tsAKs_; }
    [[nodiscard]] QComboBox& CBWkYear() const noexcept { return *cbWkYear_; }
    [[nodiscard]] QDateEdit& WkDate() const noexcept { return *wkDate_; }
    [[nodiscard]] QTimeEdit& WkTimeStart() const noexcept { return *wkTimeStart_; }
    [[nodiscard]] QTimeEdit& WkTimeEnd() const noexcept { return *wkTimeEnd_; }
    [[nodiscard]] QLineEdit& EdWkName() const noexcept { return *edWkName_; }
    [[nodiscard]] QLineEdit& EdWkLocation() const noexcept { return *edWkLocation_; }
    [[nodiscard]] QSpinBox& Limit(std::size_t index) const { return *limits_.at(index); }
    [[nodiscard]] QSpinBox& AlterLow(std::size_t classIndex) const { return *low_.at(classIndex); }
    [[nodiscard]] QSpinBox& AlterHigh(std::size_t classIndex) const { return *high_.at(classIndex); }
    [[nodiscard]] QCheckBox& PairBox(std::size_t pairIndex) const { return *pairBoxes_.at(pairIndex); }
    [[nodiscard]] QLabel& LbSchoolYear() const noexcept { return *lbSchoolYear_; }
    [[nodiscard]] QLabel& LbError() const noexcept { return *lbError_; }
    [[nodiscard]] QPushButton& BBOk() const noexcept { return *bbOk_; }
    [[nodiscard]] QPushButton& BBAbort() const noexcept { return *bbAbort_; }
    [[nodiscard]] QTimer& Timer1() const noexcept { return *timer1_; }

    // ---- Handlers ----
    // Sets the defaults, then takes what the copy in ABSDB holds, step by step.
    void FormShow();
    // The validation, once a second while the window is shown.
    void Timer1Timer();
    // The third tab became the current one.
    void TSAKsShow();

    // The values as edited.
    [[nodiscard]] TTemplateValues Values() const;
    // Shows the window modally; true when it was closed with "Fertig".
    [[nodiscard]] bool ShowModal();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildDefaultsTab();
    void BuildLimitsTab();
    void BuildAgesTab();
    // The steps of FormShow; each one's errors end only that step.
    void ReadCompetition(TDM& dm);
    void FillSchoolYears();
    void ReadLimits(TDM& dm);
    void ReadClasses(TDM& dm);
    // The age ranges can be written: each range the right way round, and both bounds not
    // falling from one class to the next older one of the same sex.
    [[nodiscard]] bool AgesConsistent() const;

    QTabWidget* pcTemplate_ = nullptr;
    QWidget* tsDefaults_ = nullptr;
    QWidget* tsLimits_ = nullptr;
    QWidget* tsAKs_ = nullptr;
    QComboBox* cbWkYear_ = nullptr;
    QDateEdit* wkDate_ = nullptr;
    QTimeEdit* wkTimeStart_ = nullptr;
    QTimeEdit* wkTimeEnd_ = nullptr;
    QLineEdit* edWkName_ = nullptr;
    QLineEdit* edWkLocation_ = nullptr;
    std::array<QSpinBox*, kTemplateLimits.size()> limits_{};
    std::array<QSpinBox*, kTemplateClasses.size()> low_{};
    std::array<QSpinBox*, kTemplateClasses.size()> high_{};
    std::array<QCheckBox*, kTemplatePairs.size()> pairBoxes_{};
    QLabel* lbSchoolYear_ = nullptr;
    QLabel* lbError_ = nullptr;
    QPushButton* bbOk_ = nullptr;
    QPushButton* bbAbort_ = nullptr;
    QTimer* timer1_ = nullptr;
};

// Writes the editor's values into the database ABSDB points to, through ABSQH1: limits, the
// competition row, the age ranges, then removes the pairs that are not allowed. Each statement
// runs on its own; engine errors pass to the caller and leave what was written so far.
class TTemplateWriter {
public:
    explicit TTemplateWriter(TDM& dm) noexcept : dm_(dm) {}
    void Write(const TTemplateValues& values) const;

    // `text` as the content of a double-quoted literal: each double quote doubled, so the text
    // is stored as typed; NUL characters, which no stored text can hold, are dropped.
    [[nodiscard]] static std::string QuotedLiteralText(const QString& text);

private:
    [[nodiscard]] bool Exists(const std::string& select) const;
    void Execute(const std::string& statement) const;

    TDM& dm_;
};

// The admin command "neu aus aktuellem Template erstellen": catalogue, save dialog, copy,
// editor, and then the written template or the copy deleted again. The working database is
// closed before and after.
void NewTemplateFromCurrent();

// The template editor of the running program.
extern TFormEditTemplate* FormEditTemplate;

} // namespace kova::app
