// The main window: its controls, the command line, the deferred start, help and closing.
#include "app_fixture.h"

#include "app/About.h"
#include "app/Aboutdlg.h"
#include "app/Platform.h"
#include "app/StatusPanels.h"
#include "engine/core/FormatSettings.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace kova::app::test {
namespace {

const QString kPlaceholder = QStringLiteral("Keine Datenbank gewählt.");
const QString kNotAKovaDatabase = QStringLiteral("Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.");

// Every control whose enabled state says whether a database has been presented.
const char* const kExportWidgets[] = {"SBSave", "SBSave2", "SBShowDatabase", "LbSave"};
const char* const kExportActions[] = {"Datenanzeigen1", "ExportToQUV", "Datenbankexportierennach1"};

class MainWindow : public AppFixture {
protected:
    template <typename T>
    T& Find(const char* name) {
        T* found = FormMain->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) throw std::runtime_error(std::string("no control ") + name);
        return *found;
    }

    void ExpectExportControls(bool enabled) {
        for (const char* name : kExportWidgets) EXPECT_EQ(Find<QWidget>(name).isEnabled(), enabled) << name;
        for (const char* name : kExportActions) EXPECT_EQ(Find<QAction>(name).isEnabled(), enabled) << name;
    }
};

TEST_F(MainWindow, StartsWithoutDatabaseAndWithTheDesignedControls) {
    Start({});
    EXPECT_EQ(FormMain->windowTitle(), QStringLiteral("Meldungen für \"Korvalla\""));
    EXPECT_EQ(FormMain->DatabasePanelText(), kPlaceholder);
    EXPECT_EQ(FormMain->SBar().PanelText(0), QString());
    EXPECT_EQ(FormMain->SBar().PanelText(1), QStringLiteral("Datenbank:"));
    EXPECT_FALSE(FormMain->AdminEnabled());
    ExpectExportControls(false);
    EXPECT_FALSE(Find<QAction>("Export1").isEnabled());  // the popup's heading
    EXPECT_TRUE(Find<QToolButton>("SBOpen").isEnabled());
    EXPECT_TRUE(Find<QToolButton>("SBNewDB2").isEnabled());
    EXPECT_EQ(Find<QWidget>("PSButton").height(), 33);
    EXPECT_EQ(FormMain->minimumSize(), QSize(340, 224));
    EXPECT_EQ(Find<QAction>("Hilfe2").shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("KovaMeldungen"));
}

TEST_F(MainWindow, CreationSetsTheProcessDateAndTimeFormats) {
    TFormatSettings fs = *GetFormatSettings();
    fs.ShortDateFormat = "yyyy-mm-dd";
    fs.DateSeparator = '-';
    fs.ShortTimeFormat = "hh:nn:ss";
    SetFormatSettings(fs);
    Start({});
    const auto now = GetFormatSettings();
    EXPECT_EQ(now->ShortDateFormat, "dd.mm.yyyy");
    EXPECT_EQ(now->ShortTimeFormat, "hh:nn");
    EXPECT_EQ(DateToStr(TryEncodeDate(2011, 5, 12).value(), *now), "12.05.2011");
    EXPECT_EQ(TryStrToDate("12.05.2011", *now), TryEncodeDate(2011, 5, 12));
}

struct CommandLineCase {
    const char* name;
    QStringList arguments;  // "@a" / "@b" stand for two existing files
    bool admin;
    const char* panel;      // "@a", "@b" or the placeholder
};

TEST_F(MainWindow, CommandLineEnablesAdminAndTakesTheLastExistingFile) {
    const QString a = MakeFile(QStringLiteral("erste.abs"));
    const QString b = MakeFile(QStringLiteral("zweite.abs"));
    const CommandLineCase cases[] = {
        {"no arguments", {}, false, ""},
        {"admin in lower case and a missing file", {"/admin", folder_.filePath("fehlt.abs")}, true, ""},
        {"admin in mixed case", {"/AdMiN"}, true, ""},
        {"unknown switch", {"/ADMINX", "-x"}, false, ""},
        {"one file", {"@a"}, false, "@a"},
        {"two existing files: the later wins", {"@a", "/ADMIN", "@b"}, true, "@b"},
        {"a missing file after an existing one", {"@b", folder_.filePath("fehlt.abs")}, false, "@b"},
        {"a folder is no file", {folder_.path()}, false, ""},
    };
    for (const CommandLineCase& c : cases) {
        QStringList arguments;
        for (const QString& argument : c.arguments) arguments << (argument == "@a" ? a : argument == "@b" ? b : argument);
        Start(arguments);
        const QString expected = QString::fromLatin1(c.panel) == "@a" ? a : QString::fromLatin1(c.panel) == "@b" ? b : kPlaceholder;
        EXPECT_EQ(FormMain->DatabasePanelText(), expected) << c.name;
        EXPECT_EQ(FormMain->AdminEnabled(), c.admin) << c.name;
        ExpectExportControls(false);
        objects_.reset();
    }
}

TEST_F(MainWindow, StartTimerRunsOnceAfterAHundredMilliseconds) {
    Start({});
    QTimer* timer = FormMain->StartTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 100);
    QTest::qWait(250);
    EXPECT_EQ(FormMain->StartTimer(), nullptr);
    EXPECT_FALSE(DM->ABSSession1().Active());
    EXPECT_FALSE(DM->ABSSession2().Active());
    EXPECT_TRUE(messages_.empty());  // nothing named, nothing opened
}

TEST_F(MainWindow, CommandLineFileThatIsNoDatabaseShowsTheOpenErrorAndStaysIdle) {
    const QString path = MakeFile(QStringLiteral("kaputt.abs"), QByteArray(4096, 'x'));
    Start({path});
    FormMain->StartTimerTimer();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Error);
    EXPECT_EQ(messages_[0].buttons, static_cast<unsigned>(mbOK));
    EXPECT_EQ(messages_[0].text, kNotAKovaDatabase);
    ExpectExportControls(false);
    EXPECT_EQ(DM->Open().FileName(), path);  // the open dialog keeps the path for its next use
    EXPECT_EQ(QString::fromStdString(DM->ABSDB().DatabaseFileName()), path);
    EXPECT_FALSE(DM->ABSDB().Connected());
}

TEST_F(MainWindow, OpenCommandAsksWithItsTitleAndCancelChangesNothing) {
    Start({});
    Find<QLabel>("Label1").setEnabled(true);
    // Clicking the label does what its button does.
    QTest::mouseClick(&Find<QLabel>("Label1"), Qt::LeftButton);
    ASSERT_EQ(dialogTitles_.size(), 1U);
    EXPECT_EQ(dialogTitles_[0], QStringLiteral("Existierende Datenbank öffnen und bearbeiten ..."));
    EXPECT_EQ(DM->Open().Filter(), QStringLiteral("Datenbanken (*.abs)|*.abs|Alle Dateien (*.*)|*.*"));
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(DM->ABSDB().DatabaseFileName(), "");
    EXPECT_EQ(FormMain->DatabasePanelText(), kPlaceholder);
}

TEST_F(MainWindow, OpenedFileThatIsNoDatabaseKeepsTheFolderForTheNextDialog) {
    Start({});
    dialogAnswer_ = MakeFile(QStringLiteral("fremd.abs"));
    Find<QToolButton>("SBOpen2").click();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, kNotAKovaDatabase);
    EXPECT_EQ(DM->Open().InitialDir(), QFileInfo(*dialogAnswer_).absolutePath());
    EXPECT_EQ(FormMain->DatabasePanelText(), kPlaceholder);  // status bars change only on success
}

TEST_F(MainWindow, ShowingDataWithoutAPresentedDatabaseReachesTheErrorDisplay) {
    Start({});
    FormMain->SBar().SetOnDblClick(nullptr);  // exercise the handler itself through the guard
    RunGuarded([] { FormMain->SBarDblClick(); });
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
    EXPECT_FALSE(messages_[0].text.isEmpty());
    ExpectExportControls(false);
}

TEST_F(MainWindow, MissingHelpFileIsReportedInASystemBox) {
    Start({});
    const QString help = HelpFileName();
    ASSERT_FALSE(QFileInfo::exists(help));
    Find<QAction>("Hilfe2").trigger();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_TRUE(messages_[0].systemBox);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Error);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Keine Hilfe"));
    EXPECT_EQ(messages_[0].text, QStringLiteral("Hilfedatei \r\"") + help + QStringLiteral("\"\r nicht verfügbar."));
}

TEST_F(MainWindow, ExistingHelpFileGoesToTheViewer) {
    Start({});
    const QString help = HelpFileName();
    QFile file(help);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList opened;
    const auto previous = TFormMain::SetHelpViewer([&opened](const QString& path) { opened << path; });
    FormMain->Hilfe2Click();
    (void)TFormMain::SetHelpViewer(previous);
    QFile::remove(help);
    EXPECT_EQ(opened, QStringList{help});
    EXPECT_TRUE(messages_.empty());
}

TEST(Platform, HelpFileReplacesTheProgramsExtension) {
    EXPECT_EQ(HelpFileNameFor("/opt/kova/KovaMeldungen"), "/opt/kova/KovaMeldungen.chm");
    EXPECT_EQ(HelpFileNameFor("/opt/kova/KovaMeldungen.exe"), "/opt/kova/KovaMeldungen.chm");
    EXPECT_EQ(HelpFileNameFor("/opt/kova.d/Kova.Meldungen.bin"), "/opt/kova.d/Kova.Meldungen.chm");
    EXPECT_TRUE(TemplatesFolder().endsWith("/Vorlagen/"));
    EXPECT_EQ(QFileInfo(TemplatesFolder()).absolutePath(), QCoreApplication::applicationDirPath() + "/Vorlagen");
}

TEST_F(MainWindow, ExitClosesTheWindow) {
    Start({});
    FormMain->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormMain));
    Find<QToolButton>("SBExit").click();
    EXPECT_FALSE(FormMain->isVisible());
    EXPECT_FALSE(DM->ABSDB().Connected());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindow, GlobalsAreSetWhileTheProgramRuns) {
    ASSERT_EQ(FormMain, nullptr);
    Start({});
    EXPECT_NE(FormMain, nullptr);
    EXPECT_NE(FormDatabase, nullptr);
    EXPECT_NE(DM, nullptr);
    EXPECT_EQ(FormDatabase->DBGMain().model(), &DM->DSMainGrid());
    objects_.reset();
    EXPECT_EQ(FormMain, nullptr);
    EXPECT_EQ(FormDatabase, nullptr);
    EXPECT_EQ(DM, nullptr);
}

TEST_F(MainWindow, ExitButtonStaysAtTheRightEdgeWhenTheWindowGrows) {
    Start({"/ADMIN"});
    FormMain->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormMain));
    QWidget& bar = Find<QWidget>("PSButton");
    QWidget& exit = Find<QWidget>("SBExit");
    const int gap = bar.width() - exit.geometry().right();
    FormMain->resize(600, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar.width() - exit.geometry().right(), gap);
    EXPECT_GT(bar.width(), 500);
    FormMain->resize(340, 224);
    QCoreApplication::processEvents();
    // The picture of the window as a user sees it, for looking at.
    EXPECT_TRUE(FormMain->grab().save(QDir::temp().filePath("main.png")));
}

TEST_F(MainWindow, AboutShowsTheProgramNameAndVersion) {
    Start({});
    QString product, version;
    const auto previous = TAboutBoxDlg::SetShowHook([&](TAboutBox& box) {
        product = box.ProductName().text();
        version = box.Version().text();
        return static_cast<int>(QDialog::Accepted);
    });
    Find<QAction>("ber1").trigger();
    (void)TAboutBoxDlg::SetShowHook(previous);
    EXPECT_EQ(product, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    EXPECT_EQ(version, QStringLiteral("02.03 (2011-NOV-14; 19:24)"));
}

// The per-user store: read at the start-up tick, written when the window closes; a store that
// cannot be written is reported and the window closes all the same.
class MainWindowStore : public MainWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store_.path());
    }
    void TearDown() override {
        MainWindow::TearDown();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store_.path());
    }
    [[nodiscard]] static QString Stored(const char* name) {
        const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Talmir"), program);
        return settings.value(QStringLiteral("Main/") + QString::fromLatin1(name)).toString();
    }
    QTemporaryDir store_;
};

TEST_F(MainWindowStore, ClosingWritesWhenAndWhereTheProgramRan) {
    Start({});
    FormMain->StartTimerTimer();
    EXPECT_TRUE(Stored("LastUsed").isEmpty());  // the start only reads
    FormMain->show();
    EXPECT_TRUE(FormMain->close());
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    EXPECT_EQ(Stored("InstallPath"), folder);
    EXPECT_EQ(Stored("VorlagenPath"), folder + QStringLiteral("Vorlagen/"));
    EXPECT_EQ(Stored("LastUsed").left(10), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowStore, AStoreThatCannotBeWrittenIsReportedAndTheWindowClosesAnyway) {
    // The store's folder is a plain file, so nothing can be created below it (even for root).
    const QString blocker = QDir(store_.path()).filePath(QStringLiteral("blocked"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    Start({});
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    FormMain->show();
    EXPECT_TRUE(FormMain->close());
    EXPECT_FALSE(FormMain->isVisible());
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Error);
    EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("LastUsed"))) << messages_[0].text.toStdString();
}

} // namespace
} // namespace kova::app::test
