// The main window: a small launcher from which a database is created, opened, shown again and
// exported, with the Admin menu for the template editor.
//
// Creating the window sets the process's text formats, reads the command line ("/ADMIN" in any
// letter case enables the Admin menu; of the arguments that name existing files the last one
// wins) and starts a one-shot timer of 100 ms. Its tick, when every global object exists and the
// window is visible, resets both database sessions and opens the command-line database, if any.
//
// Whether a database has been presented is not a flag of its own: it is the enabled state of the
// export controls, enabled by the presentation sequence and never disabled again.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;

namespace kova::app {

class TAboutBoxDlg;
class TRegstry;
class TStatusPanels;

class TFormMain final : public QMainWindow {
public:
    // `arguments` are the command-line arguments without the program.
    explicit TFormMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~TFormMain() override;

    static constexpr const char* kNoDatabaseText = "Keine Datenbank gewählt.";

    // ---- State ----
    [[nodiscard]] TStatusPanels& SBar() const noexcept { return *sBar_; }
    [[nodiscard]] QString DatabasePanelText() const;
    [[nodiscard]] bool AdminEnabled() const;
    // The export controls are enabled: a database has been presented in this run.
    [[nodiscard]] bool DatabasePresented() const;
    [[nodiscard]] QTimer* StartTimer() const noexcept { return startTimer_; }

    // ---- Operations other windows use ----
    // The whole schema upgrade of the database ABSDB points to.
    void UpdateDatabase();
    // Opens `path` as the open command does after its dialog: validity test, upgrade,
    // presentation; ABSDB is closed again afterwards.
    void OpenDatabaseFile(const QString& path);
    // The presentation sequence for the database ABSDB points to; `path` goes into both status
    // bars. Errors pass to the caller.
    void PresentDatabase(const QString& path);
    // Fills the template catalogue FormTemplates from the templates folder (the newest template
    // selected). Engine errors of a template that cannot be read pass to the caller.
    void FillTemplateCatalogue();

    // ---- Handlers ----
    void SBNewDBClick();
    void SBOpenClick();
    // Runs the check for the user to see, then copies the working database, under a name made of
    // the school's name, into the folder the user chooses, for sending to the organiser.
    void SBSaveClick();
    // The QUV export list of the working database; does nothing while its command is disabled.
    void ExportToQUVClick();
    void ber1Click();
    void SBarDblClick();
    void Hilfe2Click();
    void SBExitClick();
    void StartTimerTimer();

    // How an existing help file is opened (the desktop's handler; tests replace it).
    using HelpViewer = std::function<void(const QString& helpFile)>;
    static HelpViewer SetHelpViewer(HelpViewer viewer);

    // The name the export for sending proposes for the school `school`: "Meldung_" + school +
    // ".abs" without any blank.
    [[nodiscard]] static QString ExportFileName(const QString& school);

    // The About component and the per-user store of the window.
    [[nodiscard]] TAboutBoxDlg& AboutBoxDlg1() noexcept { return *aboutBox_; }
    [[nodiscard]] TRegstry& Regstry1() noexcept { return *regstry_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate(const QStringList& arguments);
    void ProcessCommandLine(const QStringList& arguments);
    void BuildButtons();
    void BuildMenus();
    // P4: the export controls follow SBSave.
    void EnableExportControls();
    // Steps after the choices of SBNewDBClick: copy the template to the target, then open,
    // upgrade and present the copy.
    void CreateDatabaseFromTemplate(const QString& templatePath, const QString& target);
    void FormCloseQuery();
    void FormClose();

    QWidget* psButton_ = nullptr;
    QToolButton* sbNewDB2_ = nullptr;
    QToolButton* sbOpen2_ = nullptr;
    QToolButton* sbShowDatabase_ = nullptr;
    QToolButton* sbSave2_ = nullptr;
    QToolButton* sbExit_ = nullptr;
    QToolButton* sbNewDB_ = nullptr;
    QToolButton* sbOpen_ = nullptr;
    QToolButton* sbSave_ = nullptr;
    QLabel* lbSave_ = nullptr;
    QMenu* admin1_ = nullptr;
    QAction* datenanzeigen1_ = nullptr;
    QAction* datenbankexportierennach1_ = nullptr;
    QMenu* pmQUV_ = nullptr;
    QAction* exportToQUV_ = nullptr;
    TStatusPanels* sBar_ = nullptr;
    QTimer* startTimer_ = nullptr;
    std::unique_ptr<TAboutBoxDlg> aboutBox_;
    std::unique_ptr<TRegstry> regstry_;
    bool adminRequested_ = false;
};

// The main window of the running program.
extern TFormMain* FormMain;

} // namespace kova::app
