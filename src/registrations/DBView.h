// The registration list window: the school's data, the list of registrations and the card of
// the current one. The main window fills it and shows it modally for the open database.
//
// This is the window's frame with what opening a database needs (school fields, registration
// panel, grid, card, status bar, the school and card loading and the code lookups); the editing
// commands and the menu are added with the registration editing.
#pragma once

#include "model/RegistrationListView.h"

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QTableView;
class QTabWidget;

namespace kova::app {

class TStatusPanels;

class TFormDatabase final : public QDialog, public TRegistrationListView {
public:
    explicit TFormDatabase(QWidget* parent = nullptr);
    ~TFormDatabase() override;

    // Shows the data module's registration list in the grid and lets the module fill the card.
    // Called once the data module exists (it is created after this window).
    void AttachDataModule();

    // ---- Controls other windows use ----
    [[nodiscard]] QWidget& PanelMain() const noexcept { return *panelMain_; }
    [[nodiscard]] QLineEdit& EdSchool() const noexcept { return *edSchool_; }
    [[nodiscard]] TStatusPanels& SBar() const noexcept { return *sBar_; }
    [[nodiscard]] QTableView& DBGMain() const noexcept { return *dbgMain_; }

    // Loads the school row into the five school fields (errors are swallowed) and shows the
    // registration panel exactly when the school name has at least two characters.
    void FillSchoolDataToForm();
    // Fills the card from the Namen row with this identifier; errors are swallowed.
    void FillCardForm(const std::string& id) override;
    void EmptyCardForm();

    // Code ↔ name lookups; each returns its argument when nothing matches.
    [[nodiscard]] std::string GetAK(const std::string& code);
    [[nodiscard]] std::string GetDisziplin(const std::string& code);

    // Reloads the list in the current sort order and moves to the registration `id` (when it
    // has at least two characters and is listed).
    void ShowAndLocateDatabase(const std::string& id);

    // Shows the window modally until it is closed.
    void ShowModal();

    // ---- TRegistrationListView ----
    [[nodiscard]] bool ListVisible() const override { return isVisible(); }
    void SetRecordCountText(const QString& text) override;

protected:
    // Every showing starts with the list sorted by name and first name.
    void showEvent(QShowEvent* event) override;

private:
    [[nodiscard]] std::string Lookup(const char* table, const char* keyColumn, const char* resultColumn,
                                     const std::string& key);

    QWidget* psButton_ = nullptr;
    QLineEdit* edSchool_ = nullptr;
    QLineEdit* edSchoolAddress_ = nullptr;
    QLineEdit* edTelephone_ = nullptr;
    QLineEdit* edFAX_ = nullptr;
    QLineEdit* edEMail_ = nullptr;
    QLabel* label1_ = nullptr;
    QWidget* panelMain_ = nullptr;
    QTableView* dbgMain_ = nullptr;
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
    std::string sortClause_ = "Name, Vorname";
};

// The registration list window of the running program.
extern TFormDatabase* FormDatabase;

} // namespace kova::app
