// The registration list window: the school's data, the list of registrations and the card of
// the current one. The main window fills it and shows it modally for the open database.
//
// The window keeps the school row, lists the registrations of the working database in a
// read-only grid sorted by a clause chosen through the column titles, shows the current
// registration on a card and creates, copies, edits and erases registrations through the entry
// form. The card holds the values of the current registration as shown; edit, copy and erase
// work on the card, not on a fresh read of the row. Registrations store codes (class and
// discipline abbreviations); the card shows their names.
//
// Every statement runs through the data module's queries; after a change of stored data the
// working database is flushed. Errors of reading the school row and of filling the card are
// swallowed; errors of the editing commands reach the caller (the top-level error display).
#pragma once

#include "model/RegistrationListView.h"

#include <QDialog>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QAction;
class QFormLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QTableView;
class QTabWidget;
class QToolButton;

namespace kova::app {

class TStatusPanels;

class TFormDatabase final : public QDialog, public TRegistrationListView {
public:
    explicit TFormDatabase(QWidget* parent = nullptr);
    ~TFormDatabase() override;

    // Heights of the school panel: only the school name, or all five fields.
    static constexpr int kSchoolPanelCollapsed = 32;
    static constexpr int kSchoolPanelExpanded = 113;
    // The sort clause every showing starts with.
    static constexpr std::string_view kDefaultSortClause = "Name, Vorname";

    // Shows the data module's registration list in the grid and lets the module fill the card.
    // Called once the data module exists (it is created after this window).
    void AttachDataModule();

    // ---- Controls other windows use ----
    [[nodiscard]] QWidget& PanelMain() const noexcept { return *panelMain_; }
    [[nodiscard]] QWidget& PSButton() const noexcept { return *psButton_; }
    [[nodiscard]] QLineEdit& EdSchool() const noexcept { return *edSchool_; }
    [[nodiscard]] TStatusPanels& SBar() const noexcept { return *sBar_; }
    [[nodiscard]] QTableView& DBGMain() const noexcept { return *dbgMain_; }
    // The card's labels (also found by object name): what the entry form is filled from.
    [[nodiscard]] QLabel& LbId() const noexcept { return *lbId_; }
    [[nodiscard]] QLabel& LbName() const noexcept { return *lbName_; }
    [[nodiscard]] QLabel& LbVorname() const noexcept { return *lbVorname_; }
    [[nodiscard]] QLabel& LbNameVorname() const noexcept { return *lbNameVorname_; }
    [[nodiscard]] QLabel& LbJahrgang() const noexcept { return *lbJahrgang_; }
    [[nodiscard]] QLabel& LbAK() const noexcept { return *lbAK_; }
    [[nodiscard]] QLabel& LbDisz1() const noexcept { return *lbDisz1_; }
    [[nodiscard]] QLabel& LbDisz2() const noexcept { return *lbDisz2_; }
    [[nodiscard]] QLabel& LbDisz3() const noexcept { return *lbDisz3_; }
    [[nodiscard]] QLabel& LbStaffel() const noexcept { return *lbStaffel_; }
    [[nodiscard]] QLabel& LbVerein() const noexcept { return *lbVerein_; }
    // The sort clause the list is ordered by now.
    [[nodiscard]] const std::string& SortClause() const noexcept { return sortClause_; }

    // Loads the school row into the five school fields (errors are swallowed), shows the
    // registration panel exactly when the school name has at least two characters, and enables
    // the import submenu exactly when the panel is shown.
    void FillSchoolDataToForm();
    // Fills the card from the Namen row with this identifier; errors are swallowed and the card
    // keeps what it had reached.
    void FillCardForm(const std::string& id) override;
    // Clears the identifier, the two hidden name labels and the nine visible card labels.
    void EmptyCardForm();
    // Fills the entry form from the card (defined with the entry form).
    void FillMeldeformFromCard();

    // Code ↔ name lookups; each returns its argument when nothing matches.
    [[nodiscard]] std::string GetAK(const std::string& code);
    [[nodiscard]] std::string GetAKKuerzel(const std::string& name);
    [[nodiscard]] std::string GetDisziplin(const std::string& code);
    [[nodiscard]] std::string GetDisziplinKuerzel(const std::string& name);

    // Reloads the list in the current sort order, moves to the registration `id` (when it has at
    // least two characters and is listed) and enables edit, copy and erase exactly when the card
    // shows a registration. Errors of the list statement pass to the caller.
    void ShowAndLocateDatabase(const std::string& id);

    // Shows the window modally until it is closed.
    void ShowModal();

    // ---- Handlers ----
    void FormShow();
    void SBTakeSchoolClick();
    // The statement that stores the school fields as they stand.
    [[nodiscard]] std::string SchoolUpdateStatement() const;
    void SBNameNewClick();
    void SBNameCopyEditClick();
    void SBNameEditClick();
    void SBEraseClick();
    // `title` is the text of the clicked column title.
    void DBGMainTitleClick(const QString& title);
    // A typed character on the grid; answers whether it chose an action.
    bool DBGMainKeyPress(QChar key);
    // A released key on the grid (Qt key code); answers whether it chose an action.
    bool DBGMainKeyUp(int key);
    void LbIdMouseEnter();
    void EdSchoolEnter();
    void Hilfe2Click();
    void SBExitClick();
    // Taking athletes over from an earlier database (current scheme, or 2009 and earlier).
    void MeldungimportierenClick();
    void ltereMeldungen20091Click();
    // The list's print preview, the export list and the check of all registrations.
    void Meldungenausdrucken1Click();
    void nachQUV1Click();
    void Meldungenprfen1Click();

    // The sort clause a column title selects; none for a title that selects nothing.
    [[nodiscard]] static std::optional<std::string_view> SortClauseForTitle(const QString& title);

    // ---- TRegistrationListView ----
    [[nodiscard]] bool ListVisible() const override { return isVisible(); }
    void SetRecordCountText(const QString& text) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    QWidget* BuildSchoolPanel();
    QWidget* BuildButtonColumn(QWidget* parent);
    QWidget* BuildCard(QWidget* parent);
    // Collapses the school panel and focuses the grid when the registration panel is shown,
    // else expands it and focuses the school name.
    void ArrangeForSchool();
    void SetSchoolPanelHeight(int height);
    [[nodiscard]] bool RegistrationPanelShown() const;
    void SetCommandsEnabled(bool enabled);
    // Keeps the grid's current row on the list query's current row.
    void SyncGridToQuery();
    // Shows the entry form for the registration on the card (`id`), writes its inputs back on
    // OK and reloads. A registration made just for this form (`fresh`) is removed again when
    // the form is cancelled or its inputs cannot be stored.
    void EditRegistration(const std::string& id, bool fresh);
    // Writes the entry form's inputs to the registration `id`; false (and nothing written) when
    // the year of birth is not a whole number.
    [[nodiscard]] bool WriteBack(const std::string& id);
    void DeleteRegistration(const std::string& id);
    // Inserts a row holding only a new identifier and returns the identifier.
    [[nodiscard]] std::string NewRegistrationRow();
    [[nodiscard]] std::string Lookup(bool classes, const char* keyColumn, const char* resultColumn,
                                     const std::string& key);

    QMenuBar* menuBar_ = nullptr;
    QMenu* meldungImportieren_ = nullptr;
    QWidget* psButton_ = nullptr;
    QWidget* schoolContent_ = nullptr;
    QFormLayout* schoolFields_ = nullptr;
    QLineEdit* edSchool_ = nullptr;
    QLineEdit* edSchoolAddress_ = nullptr;
    QLineEdit* edTelephone_ = nullptr;
    QLineEdit* edFAX_ = nullptr;
    QLineEdit* edEMail_ = nullptr;
    QToolButton* sbTakeSchool_ = nullptr;
    QToolButton* sbExit_ = nullptr;
    QLabel* label1_ = nullptr;
    QWidget* panelMain_ = nullptr;
    QTableView* dbgMain_ = nullptr;
    QToolButton* sbNameNew_ = nullptr;
    QToolButton* sbNameCopyEdit_ = nullptr;
    QToolButton* sbNameEdit_ = nullptr;
    QToolButton* sbErase_ = nullptr;
    QLabel* lbNameNew_ = nullptr;
    QLabel* lbNameCopyEdit_ = nullptr;
    QLabel* lbNameEdit_ = nullptr;
    QLabel* lbErase_ = nullptr;
    QTabWidget* pcCard_ = nullptr;
    QLabel* lbId_ = nullptr;
    QLabel* lbName_ = nullptr;
    QLabel* lbVorname_ = nullptr;
    QLabel* lbNameVorname_ = nullptr;
    QLabel* lbJahrgang_ = nullptr;
    QLabel* lbAK_ = nullptr;
    QLabel* lbDisz1_ = nullptr;
    QLabel* lbDisz2_ = nullptr;
    QLabel* lbDisz3_ = nullptr;
    QLabel* lbStaffel_ = nullptr;
    QLabel* lbVerein_ = nullptr;
    TStatusPanels* sBar_ = nullptr;
    std::string sortClause_{kDefaultSortClause};
};

// The registration list window of the running program.
extern TFormDatabase* FormDatabase;

} // namespace kova::app
