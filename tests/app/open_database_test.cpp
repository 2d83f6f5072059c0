// Opening a database from the open dialog or the command line: the validity test, the
// messages for files that are no registration database, the presentation, and what the main
// window keeps afterwards.
#include "file_commands_fixture.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace kova::app::test {
namespace {

const QString kNotAKovaDatabase = QStringLiteral("Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.");
const QString kCannotOpen = QStringLiteral("Diese Datenbank kann mit diesem Programm nicht geöffnet werden.");
const QString kPlaceholder = QStringLiteral("Keine Datenbank gewählt.");

class OpenDatabase : public FileCommands {
protected:
    // Opens `path` through the open command; a list window that shows is inspected and closed,
    // a password prompt is cancelled.
    void OpenWithDialog(const QString& path, std::function<void()> inspect = {}) {
        dialogAnswer_ = path;
        Run([] { FormMain->findChild<QToolButton*>("SBOpen")->click(); }, std::move(inspect));
    }

    void Run(const std::function<void()>& command, std::function<void()> inspect) {
        ModalScript script;
        listShown_ = false;
        promptShown_ = false;
        script.WheneverTitled("Database authentication", [this](QWidget* prompt) {
            promptShown_ = true;
            static_cast<QDialog*>(prompt)->reject();
        });
        script.Whenever(FormDatabase, [this, inspect = std::move(inspect)] {
            listShown_ = true;
            caption_ = FormDatabase->windowTitle();
            if (inspect) inspect();
            FormDatabase->close();
        });
        command();
        EXPECT_TRUE(script.Unexpected().empty());
    }

    bool listShown_ = false;
    bool promptShown_ = false;
    QString caption_;
};

struct FileCase {
    const char* name;
    std::function<QString()> make;
    const char* message;   // nullptr: opens without a message
    bool prompt;           // the engine asks for the password first
};

TEST_F(OpenDatabase, EachKindOfFileGetsItsOutcome) {
    const FileCase cases[] = {
        {"registration database", [this] {
             const QString path = folder_.filePath("schule.abs");
             MakeDatabase(path.toStdString(), FullSchema());
             return path;
         }, nullptr, false},
        {"template chosen with all files", [this] { return MakeTemplate(templates_, "vorlage.wbs"); }, nullptr, false},
        {"empty competition table", [this] {
             return MakeTemplate(QDir(folder_.path()), "leer.abs", {.competitionRow = false});
         }, "Diese Datenbank kann mit diesem Programm nicht geöffnet werden.", false},
        {"database without a competition table", [this] {
             const QString path = folder_.filePath("andere.abs");
             MakeDatabase(path.toStdString(), {"CREATE TABLE Kunden (Name String(20))"});
             return path;
         }, "Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.", false},
        {"database of another password", [this] {
             const QString path = folder_.filePath("fremd.abs");
             TABSDatabaseDataList::Instance().CreateDatabase(path.toStdString(), "anders", TABSCreateDatabaseOptions{});
             return path;
         }, "Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.", true},
        {"text file", [this] { return MakeFile("liesmich.abs", "Hallo Welt\r\n"); },
         "Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.", false},
        {"empty file", [this] { return MakeFile("null.abs", QByteArray()); },
         "Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.", false},
        {"large file of garbage", [this] { return MakeFile("kaputt.abs", QByteArray(65536, '\xA5')); },
         "Das war keine Kova- Datenbank,\roder die Datenbank hat einen Fehler.", false},
    };
    for (const FileCase& c : cases) {
        StartProgram();
        const QString path = c.make();
        OpenWithDialog(path);
        EXPECT_EQ(promptShown_, c.prompt) << c.name;
        if (c.message == nullptr) {
            EXPECT_TRUE(messages_.empty()) << c.name << ": " << (messages_.empty() ? "" : messages_[0].text.toStdString());
            EXPECT_TRUE(listShown_) << c.name;
            EXPECT_TRUE(FormMain->DatabasePresented()) << c.name;
            EXPECT_EQ(FormMain->DatabasePanelText(), path) << c.name;
            EXPECT_FALSE(DM->ABSDB().Connected()) << c.name;  // closed when the list window closed
        } else {
            ASSERT_EQ(messages_.size(), 1U) << c.name;
            EXPECT_EQ(messages_[0].text, QString::fromUtf8(c.message)) << c.name;
            EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler")) << c.name;
            EXPECT_EQ(messages_[0].type, TMsgDlgType::Error) << c.name;
            EXPECT_EQ(messages_[0].buttons, static_cast<unsigned>(mbOK)) << c.name;
            EXPECT_FALSE(listShown_) << c.name;
            EXPECT_FALSE(FormMain->DatabasePresented()) << c.name;
            EXPECT_EQ(FormMain->DatabasePanelText(), kPlaceholder) << c.name;
        }
        // The file being opened is the open dialog's and the working database's file either way.
        EXPECT_EQ(DM->Open().FileName(), path) << c.name;
        EXPECT_EQ(QString::fromStdString(DM->ABSDB().DatabaseFileName()), path) << c.name;
        objects_.reset();
        formTemplates_.reset();
        FormTemplates = nullptr;
        messages_.clear();
    }
}

TEST_F(OpenDatabase, ValidDatabaseIsShownWithItsCompetitionAndSchool) {
    const QString path = folder_.filePath("schule.abs");
    MakeDatabase(path.toStdString(), SchemaWithoutSettings());
    StartProgram();
    QString listPanel, school;
    bool panelVisible = false;
    OpenWithDialog(path, [&] {
        listPanel = FormDatabase->SBar().PanelText(2);
        school = FormDatabase->EdSchool().text();
        panelVisible = FormDatabase->PanelMain().isVisible();
    });
    ASSERT_TRUE(listShown_);
    EXPECT_EQ(caption_, QStringLiteral("24.03.2011 \"Kreisfinale\", Talheim"));
    EXPECT_EQ(listPanel, path);
    EXPECT_EQ(school, QStringLiteral("Grundschule Talheim"));
    EXPECT_TRUE(panelVisible);
    // The upgrade ran before the window showed: the limits are there.
    EXPECT_EQ(DM->GetIntValueFromSettings("MaxNamenPerAKMitDisz", 0), 12);
    EXPECT_EQ(DM->Open().InitialDir(), QFileInfo(path).absolutePath());
}

TEST_F(OpenDatabase, FailedOpenKeepsWhatThePreviousDatabaseEnabled) {
    const QString good = folder_.filePath("schule.abs");
    MakeDatabase(good.toStdString(), FullSchema());
    ASSERT_TRUE(QDir(folder_.path()).mkpath("anderer Ordner"));
    const QString bad = MakeFile("anderer Ordner/kaputt.abs", QByteArray(4096, 'x'));
    StartProgram();
    OpenWithDialog(good);
    ASSERT_TRUE(listShown_);
    OpenWithDialog(bad);
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, kNotAKovaDatabase);
    // The status bar still names the database shown last; the export controls stay enabled;
    // the working database already points to the failed file.
    EXPECT_EQ(FormMain->DatabasePanelText(), good);
    EXPECT_TRUE(FormMain->DatabasePresented());
    EXPECT_EQ(QString::fromStdString(DM->ABSDB().DatabaseFileName()), bad);
    // The next open dialog starts in the folder of the file chosen last.
    EXPECT_EQ(DM->Open().InitialDir(), QFileInfo(bad).absolutePath());

    // Cancelling the dialog changes nothing.
    messages_.clear();
    OpenWithDialog(QString());
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(listShown_);
    EXPECT_EQ(QString::fromStdString(DM->ABSDB().DatabaseFileName()), bad);
    EXPECT_EQ(DM->Open().FileName(), bad);
}

TEST_F(OpenDatabase, ShowingTheDataAgainSkipsTheValidityTestAndTheUpgrade) {
    const QString path = folder_.filePath("schule.abs");
    MakeDatabase(path.toStdString(), FullSchema());
    StartProgram();
    OpenWithDialog(path);
    ASSERT_TRUE(listShown_);
    // Take away what the open path would refuse or restore: the competition row and a limit.
    DM->ABSDB().SetDatabaseFileName(path.toStdString());
    for (const char* statement : {"DELETE FROM Settings WHERE VarName=\"MaxStaffelPerName\";",
                                  "UPDATE Wettkampf SET Bezeichnung=\"Geaendert\";"}) {
        (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, statement);
    }
    DM->ABSDB().Close();
    Run([] { FormMain->findChild<QAction*>("Datenanzeigen1")->trigger(); }, {});
    EXPECT_TRUE(listShown_);
    EXPECT_EQ(caption_, QStringLiteral("24.03.2011 \"Geaendert\", Talheim"));
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(DM->GetIntValueFromSettings("MaxStaffelPerName", -5), -5);  // no upgrade ran
}

TEST_F(OpenDatabase, EveryControlOfTheCommandAsksWithTheSameDialog) {
    StartProgram();
    const std::function<void()> controls[] = {
        [] { FormMain->findChild<QToolButton*>("SBOpen")->click(); },
        [] { FormMain->findChild<QToolButton*>("SBOpen2")->click(); },
        [] { FormMain->findChild<QAction*>("Datenbankffnen1")->trigger(); },
    };
    for (const auto& control : controls) control();
    EXPECT_EQ(dialogTitles_, std::vector<QString>(3, QStringLiteral("Existierende Datenbank öffnen und bearbeiten ...")));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(OpenDatabase, PathsWithQuotesKeywordsAndUmlautsOpen) {
    const QString names[] = {
        QStringLiteral("x\", Jahrgang=1900 WHERE ID<>\".abs"),
        QStringLiteral("Grüße aus Süßen and where from.abs"),
        QStringLiteral("back\\slash.abs"),
    };
    StartProgram();
    for (const QString& name : names) {
        const QString path = folder_.filePath(name);
        MakeDatabase(path.toStdString(), FullSchema());
        OpenWithDialog(path);
        EXPECT_TRUE(listShown_) << name.toStdString();
        EXPECT_TRUE(messages_.empty()) << name.toStdString();
        EXPECT_EQ(FormMain->DatabasePanelText(), path);
    }
}

TEST_F(OpenDatabase, CommandLineFileIsOpenedAtTheFirstTickAndTheLastOneWins) {
    const QString first = folder_.filePath("erste.abs");
    const QString second = folder_.filePath("zweite.abs");
    MakeDatabase(first.toStdString(), FullSchema());
    MakeDatabase(second.toStdString(), TemplateStatements({.bezeichnung = "Zweiter Wettkampf"}));
    StartProgram({first, "/admin", second});
    EXPECT_EQ(FormMain->DatabasePanelText(), second);
    ModalScript script;
    QString caption;
    script.Then(FormDatabase, [&] {
        caption = FormDatabase->windowTitle();
        FormDatabase->close();
    });
    // The deferred start: the timer's one tick opens the file.
    ASSERT_NE(FormMain->StartTimer(), nullptr);
    EXPECT_EQ(FormMain->StartTimer()->interval(), 100);
    EXPECT_FALSE(script.Done());  // nothing opens before the tick
    for (int i = 0; i < 100 && !script.Done(); ++i) QTest::qWait(20);
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(caption, QStringLiteral("24.03.2011 \"Zweiter Wettkampf\", Talheim"));
    EXPECT_EQ(DM->Open().FileName(), second);
    EXPECT_TRUE(FormMain->DatabasePresented());
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(FormMain->StartTimer(), nullptr);
}

} // namespace
} // namespace kova::app::test
