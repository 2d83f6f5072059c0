// The entry form of one registration: name, first name, year of birth, age class, three
// individual disciplines and one relay. A 200 ms timer re-validates every input against the
// competition's rules, marks each faulty input with a red "?" and enables OK only when
// everything passes. The registration list window fills the form from its card, shows it
// modally and writes Inputs() back after OK.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;

namespace kova::app {

class TFormErrors;

class TFormMeldung final : public QDialog {
public:
    explicit TFormMeldung(QWidget* parent = nullptr);
    ~TFormMeldung() override;

    // What the list window writes back after OK (texts as the form holds them).
    struct TInputs {
        QString name, firstName, year, className, discipline1, discipline2, discipline3, relay;
    };
    [[nodiscard]] TInputs Inputs() const;

    // QDialog::Accepted on OK (or the confirmed override), else Rejected.
    int ShowModal();

    // The card of the list window as the form is filled from it: the registration's texts as
    // displayed (class and discipline names, not codes).
    struct TCard {
        QString id, name, firstName, year, className, discipline1, discipline2, discipline3, relay;
    };
    // Rebuilds the four lists from the open database (the data module's ABSQAK) and copies the
    // card into the inputs. The class list keeps its selected index; for an existing registration
    // (a card with a name) each list selects the card's entry, ignoring case. Engine errors pass
    // to the caller.
    void FillFromCard(const TCard& card);

    // ---- Controls ----
    [[nodiscard]] QLabel& LbId() const noexcept { return *lbId_; }
    [[nodiscard]] QLineEdit& EdName() const noexcept { return *edName_; }
    [[nodiscard]] QLineEdit& EdVorname() const noexcept { return *edVorname_; }
    [[nodiscard]] QLineEdit& EdJahrgang() const noexcept { return *edJahrgang_; }
    [[nodiscard]] QComboBox& CBAK() const noexcept { return *cbAK_; }
    [[nodiscard]] QComboBox& CBDisz1() const noexcept { return *cbDisz1_; }
    [[nodiscard]] QComboBox& CBDisz2() const noexcept { return *cbDisz2_; }
    [[nodiscard]] QComboBox& CBDisz3() const noexcept { return *cbDisz3_; }
    [[nodiscard]] QComboBox& CBStaffel() const noexcept { return *cbStaffel_; }
    [[nodiscard]] QPushButton& BBOk() const noexcept { return *bbOk_; }
    [[nodiscard]] QPushButton& BBAbort() const noexcept { return *bbAbort_; }
    [[nodiscard]] QTimer& TimerCanSave() const noexcept { return *timerCanSave_; }

    // The error list the form fills: the application's FormErrors, or the form's own when the
    // application has none (a form made on its own, as in tests).
    [[nodiscard]] TFormErrors& ErrorList();

    // One validation run (also the change handler of all eight inputs). Does nothing while the
    // form is hidden or the error list is open, so the list stays as the user reads it.
    void TimerCanSaveTimer();
    // Runs every rule regardless of visibility: marks, error list, OK button. Answers whether
    // all passed.
    bool Validate();
    // The fault messages of the last validation run, in rule order.
    [[nodiscard]] const QStringList& Faults() const noexcept { return faults_; }

    // Leaving the year field: folds a one- or two-digit year into a four-digit one.
    void EdJahrgangExit();
    // Shows the error list below the form, modally.
    void SBErrorClick();
    // The popup command: closes with OK whatever the validation says, unless the inputs could
    // not be written at all (see the .cpp).
    void Eingabentrotzdembernehmen1Click();
    void Hilfe2Click();

    // The calendar year the year field folds against and the rules fall back on (tests fix it).
    using YearSource = std::function<int()>;
    void SetCalendarYear(YearSource source);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void FormShow();
    void BBOkClick();
    void Fail(QLabel& mark, const QString& message);
    void Pass(QLabel& mark);
    // Why the inputs cannot be written as they stand (empty when they can).
    [[nodiscard]] QString UnwritableReason() const;

    QLabel* lbId_ = nullptr;
    QLabel* lbVereinId_ = nullptr;
    QLineEdit* edName_ = nullptr;
    QLineEdit* edVorname_ = nullptr;
    QLineEdit* edJahrgang_ = nullptr;
    QComboBox* cbAK_ = nullptr;
    QComboBox* cbDisz1_ = nullptr;
    QComboBox* cbDisz2_ = nullptr;
    QComboBox* cbDisz3_ = nullptr;
    QComboBox* cbStaffel_ = nullptr;
    QLabel* lbXName_ = nullptr;
    QLabel* lbXVorname_ = nullptr;
    QLabel* lbXJahrgang_ = nullptr;
    QLabel* lbXAK_ = nullptr;
    QLabel* lbXDisz1_ = nullptr;
    QLabel* lbXDisz2_ = nullptr;
    QLabel* lbXDisz3_ = nullptr;
    QLabel* lbXStaffel_ = nullptr;
    QToolButton* sbError_ = nullptr;
    QPushButton* bbOk_ = nullptr;
    QPushButton* bbAbort_ = nullptr;
    QMenu* pmDoOk_ = nullptr;
    QTimer* timerCanSave_ = nullptr;
    QStringList faults_;
    YearSource calendarYear_;
    std::unique_ptr<TFormErrors> ownErrors_;
};

// The entry form of the running program (set by the application at start).
extern TFormMeldung* FormMeldung;

} // namespace kova::app
