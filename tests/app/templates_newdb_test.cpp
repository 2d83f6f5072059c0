// Creating a registration database from a template: the catalogue, the target file, the copy,
// and the opening of the copy (validity test, upgrade, presentation).
#include "file_commands_fixture.h"

#include "files/DatabaseFiles.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <filesystem>

namespace kova::app::test {
namespace {

const QString kSaveTitle = QStringLiteral("Neue Datenbank erzeugen und speichern als ...");

QByteArray FileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

class NewDatabase : public FileCommands {
protected:
    // Runs the command: chooses catalogue row `row` (-1: the preselected one; -2: none) and
    // closes the window with OK, answers the save dialog with `target`, and closes the list
    // window after `inspect` when it is shown.
    void Create(int row, const std::optional<QString>& target, std::function<void()> inspect = {}) {
        dialogAnswer_ = target;
        ModalScript script;
        script.Then(FormTemplates, [row] {
            QTreeWidget& list = FormTemplates->LVTemplates();
            if (row >= 0) list.setCurrentItem(list.topLevelItem(row));
            if (row == -2) list.clearSelection();
            FormTemplates->BBOk().click();
        });
        listShown_ = false;
        script.Then(FormDatabase, [this, inspect = std::move(inspect)] {
            listShown_ = true;
            if (inspect) inspect();
            FormDatabase->close();
        });
        FormMain->SBNewDBClick();
        unexpected_ = script.Unexpected();
    }

    // One value of the working database file `path`, read on a query of its own.
    static std::string Value(const QString& path, const std::string& select, const char* column) {
        TABSDatabase db;
        db.SetDatabaseName("Pruefung");
        db.SetDatabaseFileName(path.toStdString());
        db.SetPassword("quorbel");
        TABSQuery query;
        query.SetDatabaseName("Pruefung");
        query.SetSQLText(select);
        query.Open();
        const std::string value = query.IsEmpty() ? std::string("<none>") : query.FieldByName(column).AsString();
        query.Close();
        db.Close();
        return value;
    }

    bool listShown_ = false;
    std::vector<QString> unexpected_;
};

TEST_F(NewDatabase, CopiesTheChosenTemplateAndPresentsTheCopy) {
    const QString older = MakeTemplate(templates_, "alt.wbs", {.datum = "03.03.2010", .bezeichnung = "Vorrunde", .ort = "Talheim"});
    (void)MakeTemplate(templates_, "neu.wbs", {.datum = "12.05.2011", .bezeichnung = "Kreisfinale", .ort = "Musterstadt"});
    const QByteArray templateBefore = FileHash(older);
    StartProgram();
    const QString chosen = folder_.filePath("Meine Schule");
    const QString target = chosen + ".abs";
    QString caption, listPanel;
    bool panelVisible = true;
    Create(0, chosen, [&] {
        caption = FormDatabase->windowTitle();
        listPanel = FormDatabase->SBar().PanelText(2);
        panelVisible = FormDatabase->PanelMain().isVisible();
    });
    EXPECT_TRUE(unexpected_.empty());
    ASSERT_TRUE(listShown_);
    EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : messages_[0].text.toStdString());
    EXPECT_EQ(dialogTitles_, std::vector<QString>{kSaveTitle});
    EXPECT_EQ(DM->Save().Filter(), QStringLiteral("Datenbanken (*.abs)|*.abs|Alle Dateien (*.*)|*.*"));

    EXPECT_EQ(caption, QStringLiteral("03.03.2010 \"Vorrunde\", Talheim"));
    EXPECT_EQ(listPanel, target);
    EXPECT_FALSE(panelVisible);  // no school yet: the window opens on the school data
    EXPECT_EQ(FormMain->DatabasePanelText(), target);
    EXPECT_TRUE(FormMain->DatabasePresented());
    EXPECT_FALSE(DM->ABSDB().Connected());
    EXPECT_FALSE(QFileInfo::exists(chosen));  // only the name with the extension
    EXPECT_EQ(DM->Open().FileName(), QString());  // the open dialog is not touched

    // The copy is the chosen template, brought up to date; the template itself is unchanged.
    EXPECT_EQ(Value(target, "SELECT Bezeichnung FROM Wettkampf", "Bezeichnung"), "Vorrunde");
    EXPECT_EQ(Value(target, "SELECT Disziplin FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Disziplin"), "Speerwurf");
    EXPECT_EQ(FileHash(older), templateBefore);
    EXPECT_EQ(Value(older, "SELECT Kuerzel FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Kuerzel"), "<none>");

    // "Daten anzeigen" shows the new database again.
    ModalScript again;
    bool shownAgain = false;
    again.Then(FormDatabase, [&] {
        shownAgain = FormDatabase->SBar().PanelText(2) == target;
        FormDatabase->close();
    });
    FormMain->findChild<QToolButton*>("SBShowDatabase")->click();
    EXPECT_TRUE(shownAgain);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(NewDatabase, ReplacesAnExistingTargetWithoutAsking) {
    (void)MakeTemplate(templates_, "vorlage.wbs", {.bezeichnung = "Neu"});
    const QString target = MakeFile("Ziel.abs", QByteArray(5000, 'o'));
    StartProgram();
    Create(-1, target);
    EXPECT_TRUE(listShown_);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(Value(target, "SELECT Bezeichnung FROM Wettkampf", "Bezeichnung"), "Neu");
    EXPECT_FALSE(QFileInfo::exists(target + ".partial"));
}

TEST_F(NewDatabase, TemplateOfAnEarlierSeasonIsUpgradedInTheCopy) {
    const QString old = MakeTemplate(templates_, "2010.wbs", {.oldForm = true});
    StartProgram();
    const QString target = folder_.filePath("schule.abs");
    Create(-1, target);
    ASSERT_TRUE(listShown_);
    const std::pair<const char*, const char*> limits[] = {{"MaxEinzelDiszPerName", "3"}, {"MaxStaffelPerName", "1"},
                                                          {"MaxEinzelPlusStaffelPerName", "3"},
                                                          {"MaxNamenPerAKMitDisz", "12"}, {"MaxNamenPerAKMitStaffel", "8"}};
    for (const auto& [name, value] : limits) {
        EXPECT_EQ(Value(target, std::string("SELECT VarValue FROM Settings WHERE VarName=\"") + name + "\"", "VarValue"), value)
            << name;
    }
    EXPECT_EQ(Value(target, "SELECT DzKuerzel FROM KlasseDiszplin WHERE KlKuerzel=\"WK3w\"", "DzKuerzel"), "BAL");
    EXPECT_THROW((void)Value(old, "SELECT VarName FROM Settings", "VarName"), std::exception);  // template untouched
}

TEST_F(NewDatabase, CancellingCreatesNothing) {
    (void)MakeTemplate(templates_, "vorlage.wbs");
    StartProgram();
    const QStringList before = QDir(folder_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    // The catalogue closed with "Abbrechen".
    {
        ModalScript script;
        script.Then(FormTemplates, [] { FormTemplates->BBAbort().click(); });
        FormMain->findChild<QToolButton*>("SBNewDB2")->click();
        EXPECT_TRUE(script.Done());
        EXPECT_TRUE(dialogTitles_.empty());
    }
    // The save dialog cancelled.
    Create(-1, std::nullopt);
    EXPECT_EQ(dialogTitles_, std::vector<QString>{kSaveTitle});
    EXPECT_FALSE(listShown_);

    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_FALSE(FormMain->DatabasePresented());
    EXPECT_EQ(FormMain->DatabasePanelText(), QStringLiteral("Keine Datenbank gewählt."));
}

TEST_F(NewDatabase, OkWithoutAChosenTemplateCreatesNothingAndSaysWhy) {
    StartProgram();
    // An empty templates folder: the list is empty.
    Create(-1, folder_.filePath("leer.abs"));
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Information);
    EXPECT_EQ(messages_[0].text, QStringLiteral("Im Vorlagenordner\r\"") + templates_.path() +
                                     QStringLiteral("/\"\rwurde keine Wettkampfvorlage gefunden."));

    // Templates exist, but the user removed the selection.
    (void)MakeTemplate(templates_, "vorlage.wbs");
    Create(-2, folder_.filePath("leer.abs"));
    ASSERT_EQ(messages_.size(), 2U);
    EXPECT_EQ(messages_[1].text, QStringLiteral("Bitte wählen Sie eine Wettkampfvorlage aus."));

    EXPECT_TRUE(dialogTitles_.empty());  // no target was asked for
    EXPECT_FALSE(listShown_);
    EXPECT_FALSE(QFileInfo::exists(folder_.filePath("leer.abs")));
}

TEST_F(NewDatabase, FailedCopyIsReportedAndNothingIsOpened) {
    (void)MakeTemplate(templates_, "vorlage.wbs");
    ASSERT_TRUE(QDir(folder_.path()).mkpath("Ordner.abs"));
    StartProgram();
    struct Case {
        const char* name;
        QString target;
    };
    const Case cases[] = {
        {"folder missing", folder_.filePath("fehlt/schule.abs")},
        {"target is a folder", folder_.filePath("Ordner.abs")},
        {"name too long", folder_.filePath(QString(300, QChar(u'x')) + ".abs")},
    };
    for (const Case& c : cases) {
        messages_.clear();
        Create(-1, c.target);
        EXPECT_FALSE(listShown_) << c.name;
        ASSERT_EQ(messages_.size(), 1U) << c.name;
        EXPECT_EQ(messages_[0].type, TMsgDlgType::Error) << c.name;
        EXPECT_EQ(messages_[0].text, QStringLiteral("Die Vorlage konnte nicht in die Zieldatei kopiert werden:\r\r\"") +
                                         c.target +
                                         QStringLiteral("\"\r\rBitte prüfen Sie, ob der Ordner beschreibbar ist und die "
                                                        "Datei nicht von einem anderen Programm benutzt wird."))
            << c.name;
        EXPECT_FALSE(FormMain->DatabasePresented()) << c.name;
        EXPECT_FALSE(DM->ABSDB().Connected()) << c.name;
    }
    EXPECT_TRUE(QFileInfo(folder_.filePath("Ordner.abs")).isDir());
    EXPECT_EQ(FormMain->DatabasePanelText(), QStringLiteral("Keine Datenbank gewählt."));
}

TEST_F(NewDatabase, CopyThatIsNoDatabaseShowsTheCreateMessageWithTheTarget) {
    const QString source = MakeTemplate(templates_, "vorlage.wbs");
    StartProgram();
    struct Case {
        const char* name;
        std::function<void()> spoil;  // runs after the catalogue was read, before the copy
        QString message;
    };
    const QString target = folder_.filePath("kopie.abs");
    const Case cases[] = {
        {"the template was damaged meanwhile",
         [&] {
             QFile file(source);
             ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
             file.write(QByteArray(8192, '\x11'));
         },
         QStringLiteral("Die Zieldatei konnte nicht angelegt werden,\roder die Datenbank hat einen Fehler.\r\r\"") + target + "\""},
        {"the template lost its competition row",
         [&] {
             QFile::remove(source);
             MakeDatabase(source.toStdString(), TemplateStatements({.competitionRow = false}));
         },
         QStringLiteral("Diese Datenbank kann mit diesem Programm nicht geöffnet werden.")},
    };
    for (const Case& c : cases) {
        QFile::remove(source);
        (void)MakeTemplate(templates_, "vorlage.wbs");
        messages_.clear();
        dialogAnswer_ = target;
        ModalScript script;
        script.Then(FormTemplates, [&c] {
            c.spoil();
            FormTemplates->BBOk().click();
        });
        FormMain->SBNewDBClick();
        EXPECT_TRUE(script.Done()) << c.name;
        EXPECT_TRUE(script.Unexpected().empty()) << c.name;  // the list window was not shown
        ASSERT_EQ(messages_.size(), 1U) << c.name;
        EXPECT_EQ(messages_[0].text, c.message) << c.name;
        EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler")) << c.name;
        EXPECT_FALSE(DM->ABSDB().Connected()) << c.name;  // closed when the command ends
        EXPECT_FALSE(FormMain->DatabasePresented()) << c.name;
    }
}

TEST_F(NewDatabase, TargetNamesWithQuotesKeywordsAndUmlautsAreUsedAsTyped) {
    (void)MakeTemplate(templates_, "vorlage.wbs");
    StartProgram();
    const QString names[] = {
        QStringLiteral("x\", Jahrgang=1900 WHERE ID<>\""),
        QStringLiteral("Schule and Tal where from"),
        QStringLiteral("Grüße aus Süßen – Straße"),
        QStringLiteral("back\\slash 'apostroph'; DROP TABLE Namen"),
    };
    for (const QString& name : names) {
        const QString target = folder_.filePath(name + ".abs");
        QString listPanel;
        Create(-1, folder_.filePath(name), [&] { listPanel = FormDatabase->SBar().PanelText(2); });
        EXPECT_TRUE(listShown_) << name.toStdString();
        EXPECT_TRUE(messages_.empty()) << name.toStdString();
        EXPECT_EQ(listPanel, target);
        EXPECT_EQ(FormMain->DatabasePanelText(), target);
        EXPECT_TRUE(QFileInfo(target).isFile()) << name.toStdString();
        EXPECT_EQ(Value(target, "SELECT Ort FROM Wettkampf", "Ort"), "Talheim") << name.toStdString();
    }
}

TEST_F(NewDatabase, EveryControlOfTheCommandShowsTheCatalogue) {
    (void)MakeTemplate(templates_, "vorlage.wbs");
    StartProgram();
    FormMain->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FormMain));
    const std::pair<const char*, std::function<void()>> controls[] = {
        {"SBNewDB", [] { FormMain->findChild<QToolButton*>("SBNewDB")->click(); }},
        {"SBNewDB2", [] { FormMain->findChild<QToolButton*>("SBNewDB2")->click(); }},
        {"NeueDatenbankanlegen1", [] { FormMain->findChild<QAction*>("NeueDatenbankanlegen1")->trigger(); }},
        {"Label3", [] { QTest::mouseClick(FormMain->findChild<QLabel*>("Label3"), Qt::LeftButton); }},
    };
    for (const auto& [name, control] : controls) {
        ModalScript script;
        int rows = -1;
        script.Then(FormTemplates, [&rows] {
            rows = FormTemplates->LVTemplates().topLevelItemCount();
            FormTemplates->BBAbort().click();
        });
        control();
        EXPECT_TRUE(script.Done()) << name;
        EXPECT_EQ(rows, 1) << name;
    }
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(dialogTitles_.empty());
    FormMain->hide();
}

TEST(NewDatabaseName, ExtensionIsReplacedOrAdded) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/a/Meine Schule", "/home/a/Meine Schule.abs"},
        {"/home/a/schule.wbs", "/home/a/schule.abs"},
        {"/home/a/schule.abs", "/home/a/schule.abs"},
        {"/home/a/archiv.tar.gz", "/home/a/archiv.tar.abs"},
        {"/home/a.b/schule", "/home/a.b/schule.abs"},
        {"/home/a/.versteckt", "/home/a/.versteckt.abs"},
        {"/home/a/schule.", "/home/a/schule.abs"},
        {"schule", "schule.abs"},
    };
    for (const auto& [chosen, expected] : cases) EXPECT_EQ(NewDatabasePath(chosen), expected) << chosen;
    EXPECT_EQ(ChangeFileExt("/x/liste.abs", ".QUV"), "/x/liste.QUV");
}

class DatabaseCopy : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = folder_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return path;
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QTemporaryDir folder_;
};

TEST_F(DatabaseCopy, CopiesByteForByteAndReplacesTheTarget) {
    QByteArray bytes(70000, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    const QString source = Write("quelle.wbs", bytes);
    const QString target = Write("ziel.abs", "older and shorter");
    EXPECT_FALSE(CopyDatabaseFile(source, target));
    EXPECT_EQ(Read(target), bytes);
    EXPECT_EQ(Read(source), bytes);
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), (QStringList{"quelle.wbs", "ziel.abs"}));
}

TEST_F(DatabaseCopy, FailureKeepsTheOlderTargetAndLeavesNoPartialFile) {
    const QString target = Write("ziel.abs", "the older database");
    EXPECT_TRUE(CopyDatabaseFile(folder_.filePath("fehlt.wbs"), target));
    EXPECT_EQ(Read(target), QByteArray("the older database"));
    EXPECT_TRUE(CopyDatabaseFile(target, target));  // onto itself
    EXPECT_EQ(Read(target), QByteArray("the older database"));
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), QStringList{"ziel.abs"});
}

TEST_F(DatabaseCopy, CopyOfAWriteProtectedTemplateIsWritable) {
    const QString source = Write("vorlage.wbs", "template bytes");
    ASSERT_TRUE(QFile::setPermissions(source, QFile::ReadOwner | QFile::ReadGroup));
    const QString target = folder_.filePath("schule.abs");
    EXPECT_FALSE(CopyDatabaseFile(source, target));
    EXPECT_TRUE(QFileInfo(target).permission(QFile::WriteOwner));
    EXPECT_EQ(Read(target), QByteArray("template bytes"));
}

} // namespace
} // namespace kova::app::test
