#include "app/Main.h"

#include "app/About.h"
#include "app/IniStore.h"
#include "app/MessageDlg.h"
#include "app/NamedWidgets.h"
#include "app/Platform.h"
#include "app/Regstry.h"
#include "app/StatusPanels.h"
#include "app/Version.h"
#include "check/CheckMeldungen.h"
#include "engine/api/ABSQuery.h"
#include "files/DatabaseFiles.h"
#include "files/EditTemplate.h"
#include "files/TemplateCatalogue.h"
#include "files/Templates.h"
#include "model/DModule.h"
#include "output/QUVExport.h"
#include "output/QUVView.h"
#include "registrations/DBView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace kova::app {

TFormMain* FormMain = nullptr;

namespace {

constexpr const char* kNotAKovaDatabase = "Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.";
constexpr const char* kCannotOpenDatabase = "Diese Datenbank kann mit diesem Programm nicht geöffnet werden.";

// A label that does what its button does when clicked.
class TClickLabel final : public QLabel {
public:
    TClickLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
        : QLabel(text, parent), onClick_(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->position().toPoint()) && onClick_) {
            onClick_();
        }
    }

private:
    std::function<void()> onClick_;
};

QToolButton* MakeButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon, int size) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(icon));
    button->setAutoRaise(true);
    button->setFixedSize(size, size);
    button->setIconSize(QSize(size - 8, size - 8));
    return button;
}

TFormMain::HelpViewer& InstalledHelpViewer() {
    static TFormMain::HelpViewer viewer;
    return viewer;
}

TMsgDlgButton ErrorBox(const QString& text) { return MessageDlg(text, TMsgDlgType::Error, mbOK); }

TMsgDlgButton ErrorBox(const char* text) { return ErrorBox(QString::fromUtf8(text)); }

QString Quoted(const QString& path) { return QChar(u'"') + path + QChar(u'"'); }

QString DatabaseFilter() {
    return QString::fromUtf8(kDatabaseFilter.data(), static_cast<qsizetype>(kDatabaseFilter.size()));
}

} // namespace

TFormMain::TFormMain(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), aboutBox_(std::make_unique<TAboutBoxDlg>()), regstry_(std::make_unique<TRegstry>()) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Meldungen für \"Korvalla\""));
    resize(340, 224);
    setMinimumSize(340, 224);
    BuildButtons();
    BuildMenus();
    sBar_ = new TStatusPanels(QStringLiteral("SBar"),
                              {{0, Qt::AlignLeft, ""}, {70, Qt::AlignRight, "Datenbank:"}, {-1, Qt::AlignLeft, ""}}, this);
    sBar_->SetOnDblClick([this] { RunGuarded([this] { SBarDblClick(); }); });
    setStatusBar(sBar_);
    FormCreate(arguments);
}

TFormMain::~TFormMain() = default;

void TFormMain::BuildButtons() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    psButton_ = new QWidget(central);
    psButton_->setObjectName(QStringLiteral("PSButton"));
    psButton_->setFixedHeight(33);
    auto* bar = new QHBoxLayout(psButton_);
    bar->setContentsMargins(2, 2, 2, 2);
    bar->setSpacing(2);
    sbNewDB2_ = MakeButton(psButton_, "SBNewDB2", QStyle::SP_FileDialogNewFolder, 29);
    sbOpen2_ = MakeButton(psButton_, "SBOpen2", QStyle::SP_DialogOpenButton, 29);
    sbShowDatabase_ = MakeButton(psButton_, "SBShowDatabase", QStyle::SP_FileDialogContentsView, 29);
    sbShowDatabase_->setToolTip(QStringLiteral("Datenbankinhalt anzeigen"));
    sbSave2_ = MakeButton(psButton_, "SBSave2", QStyle::SP_DialogSaveButton, 29);
    sbSave2_->setToolTip(QStringLiteral("Datenbank speichern als ..."));
    sbExit_ = MakeButton(psButton_, "SBExit", QStyle::SP_DialogCloseButton, 29);
    sbExit_->setToolTip(QStringLiteral("Beenden"));
    for (QToolButton* button : {sbNewDB2_, sbOpen2_, sbShowDatabase_, sbSave2_}) bar->addWidget(button);
    bar->addStretch(1);
    bar->addWidget(sbExit_);  // stays at the right edge when the window grows
    layout->addWidget(psButton_);

    auto* commands = new QWidget(central);
    auto* grid = new QGridLayout(commands);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setHorizontalSpacing(10);
    sbNewDB_ = MakeButton(commands, "SBNewDB", QStyle::SP_FileDialogNewFolder, 36);
    sbOpen_ = MakeButton(commands, "SBOpen", QStyle::SP_DialogOpenButton, 36);
    sbSave_ = MakeButton(commands, "SBSave", QStyle::SP_DialogSaveButton, 36);
    sbSave_->setToolTip(QStringLiteral("Datenbank speichern als ..."));
    auto* label3 = new TClickLabel(QStringLiteral("Neue Datenbank aus Vorlage anlegen und öffnen"), commands,
                                   [this] { sbNewDB_->click(); });
    label3->setObjectName(QStringLiteral("Label3"));
    auto* label1 = new TClickLabel(QStringLiteral("Datenbank öffnen ..."), commands, [this] { sbOpen_->click(); });
    label1->setObjectName(QStringLiteral("Label1"));
    lbSave_ = new TClickLabel(QStringLiteral("Datenbank zum Versenden speichern als ..."), commands,
                              [this] { sbSave_->click(); });
    lbSave_->setObjectName(QStringLiteral("LbSave"));
    for (QLabel* label : {static_cast<QLabel*>(label3), static_cast<QLabel*>(label1), lbSave_}) label->setWordWrap(true);
    grid->addWidget(sbNewDB_, 0, 0);
    grid->addWidget(label3, 0, 1);
    grid->addWidget(sbOpen_, 1, 0);
    grid->addWidget(label1, 1, 1);
    grid->addWidget(sbSave_, 2, 0);
    grid->addWidget(lbSave_, 2, 1);
    grid->setColumnStretch(1, 1);
    layout->addWidget(commands, 1);
    setCentralWidget(central);

    // The export controls start disabled; the presentation sequence enables them.
    for (QWidget* control : {static_cast<QWidget*>(sbShowDatabase_), static_cast<QWidget*>(sbSave2_),
                             static_cast<QWidget*>(sbSave_), static_cast<QWidget*>(lbSave_)}) {
        control->setEnabled(false);
    }

    auto guarded = [](auto handler) { return [handler] { RunGuarded(handler); }; };
    connect(sbNewDB_, &QToolButton::clicked, this, guarded([this] { SBNewDBClick(); }));
    connect(sbNewDB2_, &QToolButton::clicked, this, guarded([this] { SBNewDBClick(); }));
    connect(sbOpen_, &QToolButton::clicked, this, guarded([this] { SBOpenClick(); }));
    connect(sbOpen2_, &QToolButton::clicked, this, guarded([this] { SBOpenClick(); }));
    connect(sbShowDatabase_, &QToolButton::clicked, this, guarded([this] { SBarDblClick(); }));
    connect(sbExit_, &QToolButton::clicked, this, guarded([this] { SBExitClick(); }));
    connect(sbSave_, &QToolButton::clicked, this, guarded([this] { SBSaveClick(); }));
    connect(sbSave2_, &QToolButton::clicked, this, guarded([this] { SBSaveClick(); }));
}

void TFormMain::BuildMenus() {
    QMenuBar* mainMenu = menuBar();
    mainMenu->setObjectName(QStringLiteral("MainMenu1"));
    auto guarded = [](auto handler) { return [handler] { RunGuarded(handler); }; };

    QMenu* datei = mainMenu->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("Datei1"));
    QAction* create = MakeAction(datei, "NeueDatenbankanlegen1", QStringLiteral("Neue Datenbank anlegen ..."));
    connect(create, &QAction::triggered, this, guarded([this] { SBNewDBClick(); }));
    QAction* open = MakeAction(datei, "Datenbankffnen1", QStringLiteral("Datenbank öffnen ..."));
    connect(open, &QAction::triggered, this, guarded([this] { SBOpenClick(); }));
    datenanzeigen1_ = MakeAction(datei, "Datenanzeigen1", QStringLiteral("Daten anzeigen"));
    datenanzeigen1_->setEnabled(false);
    connect(datenanzeigen1_, &QAction::triggered, this, guarded([this] { SBarDblClick(); }));
    datei->addSeparator()->setObjectName(QStringLiteral("N2"));
    QAction* beenden = MakeAction(datei, "Beenden1", QStringLiteral("&Beenden"));
    connect(beenden, &QAction::triggered, this, guarded([this] { SBExitClick(); }));

    QMenu* exportieren = mainMenu->addMenu(QStringLiteral("Exportieren"));
    exportieren->setObjectName(QStringLiteral("Exportieren1"));
    datenbankexportierennach1_ =
        MakeAction(exportieren, "Datenbankexportierennach1", QStringLiteral("Datenbank exportieren nach ..."));
    datenbankexportierennach1_->setEnabled(false);
    connect(datenbankexportierennach1_, &QAction::triggered, this, guarded([this] { SBSaveClick(); }));

    admin1_ = mainMenu->addMenu(QStringLiteral("Admin"));
    admin1_->setObjectName(QStringLiteral("Admin1"));
    QMenu* templateMenu = admin1_->addMenu(QStringLiteral("Template"));
    templateMenu->setObjectName(QStringLiteral("emplate1"));
    QAction* newTemplate =
        MakeAction(templateMenu, "neuausaktuellemTemplateerstellen1", QStringLiteral("neu aus aktuellem Template erstellen"));
    connect(newTemplate, &QAction::triggered, this, guarded([] { NewTemplateFromCurrent(); }));
    admin1_->menuAction()->setEnabled(false);

    QMenu* hilfe = mainMenu->addMenu(QStringLiteral("&Hilfe"));
    hilfe->setObjectName(QStringLiteral("Hilfe1"));
    QAction* hilfe2 = MakeAction(hilfe, "Hilfe2", QStringLiteral("&Hilfe"));
    hilfe2->setShortcut(QKeySequence(Qt::Key_F1));
    hilfe2->setShortcutContext(Qt::ApplicationShortcut);
    connect(hilfe2, &QAction::triggered, this, guarded([this] { Hilfe2Click(); }));
    hilfe->addSeparator()->setObjectName(QStringLiteral("N1"));
    QAction* about = MakeAction(hilfe, "ber1", QStringLiteral("Ü&ber"));
    connect(about, &QAction::triggered, this, guarded([this] { ber1Click(); }));

    pmQUV_ = new QMenu(this);
    pmQUV_->setObjectName(QStringLiteral("PMQUV"));
    QAction* heading = MakeAction(pmQUV_, "Export1", QStringLiteral("Export"));
    heading->setEnabled(false);
    pmQUV_->addSeparator()->setObjectName(QStringLiteral("N3"));
    exportToQUV_ = MakeAction(pmQUV_, "ExportToQUV", QStringLiteral("QUV exportieren ..."));
    exportToQUV_->setEnabled(false);
    connect(exportToQUV_, &QAction::triggered, this, guarded([this] { ExportToQUVClick(); }));
    sbExit_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sbExit_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmQUV_->popup(sbExit_->mapToGlobal(at)); });
}

void TFormMain::FormCreate(const QStringList& arguments) {
    SetApplicationFormats();
    sBar_->SetPanelText(2, QString());
    ProcessCommandLine(arguments);
    // The template editor is an organiser's tool: the Admin menu opens only with "/ADMIN".
    admin1_->menuAction()->setEnabled(adminRequested_);
    // The help file is looked up when help is asked for (Hilfe2Click).
    startTimer_ = new QTimer(this);
    startTimer_->setObjectName(QStringLiteral("StartTimer"));
    startTimer_->setSingleShot(true);
    startTimer_->setInterval(100);
    connect(startTimer_, &QTimer::timeout, this, [this] { RunGuarded([this] { StartTimerTimer(); }); });
    startTimer_->start();
    if (sBar_->PanelText(2).isEmpty()) sBar_->SetPanelText(2, QString::fromUtf8(kNoDatabaseText));
    sBar_->SetPanelText(0, QString());
}

void TFormMain::ProcessCommandLine(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument.compare(QStringLiteral("/ADMIN"), Qt::CaseInsensitive) == 0) {
            adminRequested_ = true;
        } else if (!argument.isEmpty() && QFileInfo(argument).isFile()) {
            sBar_->SetPanelText(2, argument);  // a later existing file replaces an earlier one
        }
    }
}

QString TFormMain::DatabasePanelText() const { return sBar_->PanelText(2); }

bool TFormMain::AdminEnabled() const { return admin1_->menuAction()->isEnabled(); }

bool TFormMain::DatabasePresented() const { return sbSave_->isEnabled(); }

void TFormMain::StartTimerTimer() {
    if (startTimer_ == nullptr) return;  // the handler runs once
    startTimer_->stop();
    startTimer_->deleteLater();
    startTimer_ = nullptr;
    DM->ResetSessions();
    try {
        ReadFromIni(*regstry_, QCoreApplication::applicationFilePath());
    } catch (const std::exception&) {
        // The value read is not used; a store that cannot be read costs nothing at start.
    }
    // A file named on the command line is in panel 2; the placeholder text names none.
    const QString path = sBar_->PanelText(2);
    if (path != QString::fromUtf8(kNoDatabaseText) && QFileInfo(path).isFile()) {
        DM->Open().SetFileName(path);
        OpenDatabaseFile(path);
    }
}

void TFormMain::SBOpenClick() {
    TFileDialog& dialog = DM->Open();
    dialog.SetTitle(QStringLiteral("Existierende Datenbank öffnen und bearbeiten ..."));
    dialog.SetFilter(DatabaseFilter());
    if (!dialog.Execute()) return;
    dialog.SetInitialDir(QFileInfo(dialog.FileName()).absolutePath());
    OpenDatabaseFile(dialog.FileName());
}

void TFormMain::OpenDatabaseFile(const QString& path) {
    TABSDatabase& db = DM->ABSDB();
    if (db.Connected()) db.Close();
    db.SetDatabaseFileName(path.toStdString());
    FormDatabase->EdSchool().clear();
    try {
        if (!DM->TalmirMySQLTools().RunSQL(DM->ABSQCheck(), TTalmirMySQLTools::kOpen, "SELECT * FROM Wettkampf")) {
            (void)ErrorBox(kCannotOpenDatabase);
            return;
        }
        UpdateDatabase();
    } catch (const std::exception&) {
        (void)ErrorBox(kNotAKovaDatabase);
        return;
    }
    bool presented = false;
    try {
        PresentDatabase(path);
        presented = true;
    } catch (const std::exception&) {
        (void)ErrorBox(kNotAKovaDatabase);
    }
    if (presented) FormDatabase->ShowModal();
    if (db.Connected()) db.Close();
}

void TFormMain::FillTemplateCatalogue() {
    if (FormTemplates == nullptr) throw std::logic_error("the template catalogue has not been created");
    FormTemplates->Clear();
    FormTemplates->ShowEntries(TTemplateCatalogue(*DM).Read(TemplatesFolder()));
}

void TFormMain::SBNewDBClick() {
    FillTemplateCatalogue();
    const TCloseWorkingDatabase closeAtEnd;
    if (!FormTemplates->ShowModal()) return;
    const QString source = FormTemplates->SelectedTemplatePath();
    if (source.isEmpty()) {
        // OK without a chosen template creates nothing; say why instead of doing nothing.
        const QString text = FormTemplates->LVTemplates().topLevelItemCount() == 0
                                 ? QStringLiteral("Im Vorlagenordner\r") + Quoted(QDir::toNativeSeparators(TemplatesFolder())) +
                                       QStringLiteral("\rwurde keine Wettkampfvorlage gefunden.")
                                 : QStringLiteral("Bitte wählen Sie eine Wettkampfvorlage aus.");
        (void)MessageDlg(text, TMsgDlgType::Information, mbOK);
        return;
    }
    TFileDialog& save = DM->Save();
    save.SetTitle(QStringLiteral("Neue Datenbank erzeugen und speichern als ..."));
    save.SetFilter(DatabaseFilter());
    if (!save.Execute()) return;
    CreateDatabaseFromTemplate(source, NewDatabasePath(save.FileName()));
}

void TFormMain::CreateDatabaseFromTemplate(const QString& templatePath, const QString& target) {
    TABSDatabase& db = DM->ABSDB();
    if (db.Connected()) db.Close();  // the target may be the file that was open
    if (const std::error_code failure = CopyDatabaseFile(templatePath, target)) {
        // An older file of that name must not be opened as if it were the new database.
        (void)ErrorBox(QStringLiteral("Die Vorlage konnte nicht in die Zieldatei kopiert werden:\r\r") + Quoted(target) +
                       QStringLiteral("\r\rBitte prüfen Sie, ob der Ordner beschreibbar ist und die Datei nicht von "
                                      "einem anderen Programm benutzt wird."));
        return;
    }
    db.SetDatabaseFileName(target.toStdString());
    FormDatabase->EdSchool().clear();
    bool presented = false;
    try {
        if (!DM->TalmirMySQLTools().RunSQL(DM->ABSQCheck(), TTalmirMySQLTools::kOpen, "SELECT * FROM Wettkampf")) {
            (void)ErrorBox(kCannotOpenDatabase);
            return;
        }
        UpdateDatabase();
        PresentDatabase(target);
        // A new database has no school yet: the window opens on the school data.
        FormDatabase->PanelMain().setVisible(FormDatabase->EdSchool().text().size() >= 2);
        presented = true;
    } catch (const std::exception&) {
        (void)ErrorBox(QStringLiteral("Die Zieldatei konnte nicht angelegt werden,\roder die Datenbank hat einen Fehler.\r\r") +
                       Quoted(target));
    }
    if (presented) FormDatabase->ShowModal();
}

void TFormMain::UpdateDatabase() {
    DM->UpdateDatabase();  // its errors pass to the opening path
    const TTalmirMySQLTools& tools = DM->TalmirMySQLTools();
    TABSQuery& check = DM->ABSQCheck();
    // Each unit on its own: a failing check, insert or flush leaves the next unit to run.
    auto unit = [&](const std::string& test, const std::string& insert) {
        try {
            if (!tools.RunSQL(check, TTalmirMySQLTools::kOpen, test)) {
                (void)tools.RunSQL(check, TTalmirMySQLTools::kExecute, insert);
                DM->ABSDB().FlushBuffers();
            }
        } catch (const std::exception&) {
        }
    };
    unit("SELECT * FROM Disziplinen WHERE Kuerzel=\"SPE\"",
         "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS)  VALUES(\"SPE\", 70020, \"Speerwurf\", \"E\");");
    static constexpr std::pair<const char*, const char*> kPairs[] = {
        {"WK3m", "BAL"}, {"WK3w", "BAL"}, {"WK2m", "SPE"}, {"WK2w", "SPE"}, {"WK1m", "SPE"}, {"WK1w", "SPE"},
    };
    for (const auto& [klasse, disziplin] : kPairs) {
        const std::string k(klasse);
        const std::string d(disziplin);
        unit("SELECT * FROM KlasseDiszplin WHERE KlKuerzel=\"" + k + "\" AND DzKuerzel=\"" + d + "\"",
             "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel)  VALUES(\"" + k + "\", \"" + d + "\");");
    }
}

void TFormMain::PresentDatabase(const QString& path) {
    FormDatabase->PanelMain().hide();                                     // P1
    FormDatabase->FillSchoolDataToForm();                                 // P2
    const TTalmirMySQLTools& tools = DM->TalmirMySQLTools();              // P3
    TABSQuery& h1 = DM->ABSQH1();
    (void)tools.RunSQL(h1, TTalmirMySQLTools::kOpen, "SELECT * FROM Wettkampf");
    const std::string caption = h1.FieldByName("Datum").AsString() + " \"" + h1.FieldByName("Bezeichnung").AsString() +
                                "\", " + h1.FieldByName("Ort").AsString();
    FormDatabase->setWindowTitle(QString::fromStdString(caption));
    EnableExportControls();                                               // P4
    sBar_->SetPanelText(2, path);                                         // P5
    FormDatabase->SBar().SetPanelText(2, path);
}

void TFormMain::EnableExportControls() {
    sbSave_->setEnabled(true);
    const bool enabled = sbSave_->isEnabled();
    sbSave2_->setEnabled(enabled);
    sbShowDatabase_->setEnabled(enabled);
    datenanzeigen1_->setEnabled(enabled);
    exportToQUV_->setEnabled(enabled);
    lbSave_->setEnabled(enabled);
    datenbankexportierennach1_->setEnabled(enabled);
}

void TFormMain::SBarDblClick() {
    TABSDatabase& db = DM->ABSDB();
    if (db.Connected()) db.Close();
    db.SetDatabaseFileName(FormDatabase->SBar().PanelText(2).toStdString());
    FormDatabase->EdSchool().clear();
    // No validity test and no upgrade here; errors reach the top-level error display.
    PresentDatabase(QString::fromStdString(db.DatabaseFileName()));
    FormDatabase->ShowModal();
}

TFormMain::HelpViewer TFormMain::SetHelpViewer(HelpViewer viewer) {
    return std::exchange(InstalledHelpViewer(), std::move(viewer));
}

void TFormMain::Hilfe2Click() {
    const QString help = HelpFileName();
    if (QFileInfo(help).isFile()) {
        const HelpViewer viewer = InstalledHelpViewer();
        if (viewer) {
            viewer(help);
        } else {
            (void)QDesktopServices::openUrl(QUrl::fromLocalFile(help));
        }
        return;
    }
    SystemErrorBox(QStringLiteral("Keine Hilfe"),
                   QStringLiteral("Hilfedatei \r\"") + help + QStringLiteral("\"\r nicht verfügbar."));
}

void TFormMain::SBExitClick() { close(); }

QString TFormMain::ExportFileName(const QString& school) {
    QString name = QStringLiteral("Meldung_") + school + QStringLiteral(".abs");
    name.remove(QChar(u' '));
    return name;
}

void TFormMain::SBSaveClick() {
    // The check first, for the user to see; its verdict does not hold the export back.
    FormDatabase->show();
    RunGuarded([] { FormDatabase->Meldungenprfen1Click(); });
    FormDatabase->hide();
    if (!sbSave_->isEnabled()) return;

    const QString proposed = ExportFileName(FormDatabase->EdSchool().text());
    TFileDialog& save = DM->Save();
    save.SetFileName(proposed);
    save.SetInitialDir(InitialFolder());
    save.SetTitle(QStringLiteral("Datenbank zum Versenden exportieren nach ..."));
    save.SetFilter(DatabaseFilter());
    TABSDatabase& db = DM->ABSDB();
    if (db.Connected()) db.Close();  // the file is complete on disk and no query holds it
    struct TAfterExport {
        ~TAfterExport() {
            DM->Save().SetInitialDir(DM->Open().InitialDir());
            if (FormCheck != nullptr) FormCheck->hide();
        }
    } afterExport;
    if (!save.Execute()) return;
    if (FormCheck != nullptr) FormCheck->hide();

    // The dialog chooses the folder; the file keeps the proposed name.
    const QString source = QString::fromStdString(db.DatabaseFileName());
    const QString target = QDir(QFileInfo(save.FileName()).absolutePath()).filePath(ChangeFileExt(proposed, QStringLiteral(".abs")));
    const bool sameFile = QFileInfo(source).canonicalFilePath() == QFileInfo(target).canonicalFilePath() &&
                          QFileInfo::exists(target);
    if (!sameFile) {
        if (const std::error_code failure = CopyDatabaseFile(source, target)) {
            // A copy that did not arrive must not be announced as ready for sending.
            (void)ErrorBox(QStringLiteral("Die Datenbank konnte nicht exportiert werden nach:\r") + Quoted(target) +
                           QStringLiteral("\rBitte prüfen Sie, ob der Ordner beschreibbar ist und der Name der Schule "
                                          "nur Zeichen enthält, die in Dateinamen erlaubt sind."));
            return;
        }
    }
    (void)MessageDlg(QStringLiteral("Die Datenbank wurde exportiert nach:\r\"") + ChangeFileExt(proposed, QStringLiteral(".abs")) +
                         QStringLiteral("\"\rund kann nun per E-Mail versendet werden."),
                     TMsgDlgType::Information, mbOK);
}

void TFormMain::ExportToQUVClick() { ExportToQUV(*DM, *FormQUV, exportToQUV_->isEnabled()); }

void TFormMain::ber1Click() {
    aboutBox_->Version = QString::fromStdString(ProgramVersion());
    aboutBox_->ProductName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    (void)aboutBox_->Execute();
}

void TFormMain::closeEvent(QCloseEvent* event) {
    RunGuarded([this] { FormCloseQuery(); });
    FormClose();
    event->accept();  // closing is never refused
}

void TFormMain::FormCloseQuery() {
    if (DM != nullptr) {
        if (DM->ABSDB().Connected()) DM->ABSDB().Close();
        if (DM->ABSDBTemplate().Connected()) DM->ABSDBTemplate().Close();
    }
    try {
        WriteToIni(*regstry_, QCoreApplication::applicationFilePath());
    } catch (const ERegistryException& failure) {
        // Said, but the program ends all the same.
        (void)ErrorBox(QString::fromStdString(failure.what()));
    }
}

void TFormMain::FormClose() {
    // The help file is opened by the desktop's own viewer, which stays the user's to close.
}

} // namespace kova::app
