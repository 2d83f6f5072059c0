// The check window as the list window's menu runs it, the list window's print and export menu
// items, and the export of the working database for sending to the organiser.
#include "dbview_fixture.h"
#include "modal_script.h"
#include "quv_test_support.h"

#include "app/FileDialog.h"
#include "app/Main.h"
#include "app/Platform.h"
#include "check/CheckMeldungen.h"
#include "output/QReports.h"
#include "output/HSListBox.h"
#include "output/QUVView.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QToolButton>

#include <optional>

namespace kova::app::test {
namespace {

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ListCommands : public ListWindow {
protected:
    void TriggerMenu(const char* name) {
        QAction* action = W().findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        ASSERT_TRUE(action->isEnabled()) << name;
        action->trigger();
    }
    [[nodiscard]] static std::vector<TCheckRow> CheckRows() { return FormCheck->Rows(); }
};

// ---- The check from the list window's menu ----

TEST_F(ListCommands, CheckShowsTheProtocolAndBringsTheListBackOnTheSameRegistration) {
    SelectRow("N11678902");
    const std::vector<std::string> listed = GridIds();
    TriggerMenu("Meldungenprfen1");
    EXPECT_TRUE(FormCheck->isVisible());
    const std::vector<TCheckRow> rows = CheckRows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().aktion, "Gesamt");
    EXPECT_TRUE(rows.back().bemerkung == "Datenbank kann exportiert werden." ||
                rows.back().bemerkung == "Bitte Fehler vor dem Versand korrigieren.")
        << rows.back().bemerkung;
    EXPECT_EQ(GridIds(), listed);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678902"));
    EXPECT_TRUE(messages_.empty());
    if (qEnvironmentVariableIsSet("KOVA_SCREENSHOTS")) EXPECT_TRUE(FormCheck->grab().save(QStringLiteral("/tmp/FormCheck.png")));
}

TEST_F(ListCommands, AFaultyRegistrationMakesTheVerdictAskForCorrections) {
    // A discipline the competition does not know.
    ASSERT_TRUE(DM->TalmirMySQLTools().RunSQL(DM->ABSQH2(), TTalmirMySQLTools::kExecute,
                                              "UPDATE Namen SET Disziplin1=\"XYZ\" WHERE ID=\"N11678902\""));
    DM->ABSQH2().Close();
    TriggerMenu("Meldungenprfen1");
    const std::vector<TCheckRow> rows = CheckRows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().aktion, "Gesamt");
    EXPECT_EQ(rows.back().bemerkung, "Bitte Fehler vor dem Versand korrigieren.");
    EXPECT_NE(rows.back().ergebnis, "o.k.");
}

// ---- Print and QUV from the list window's menu ----

TEST_F(ListCommands, PrintItemOpensThePreviewOfTheList) {
    bool shown = false;
    (void)TFormQReport::SetPreviewRunner([&shown](QPrintPreviewDialog& dialog) {
        shown = true;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Kova-Meldungen"));
    });
    TriggerMenu("Meldungenausdrucken1");
    (void)TFormQReport::SetPreviewRunner(nullptr);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ListCommands, QUVItemShowsTheExportListOfTheRegistrations) {
    DM->ABSDB().Close();
    const std::vector<std::string> expected = WriterLines(path_.toStdString());
    ASSERT_FALSE(expected.empty());
    std::vector<std::string> shownLines;
    ModalScript script;
    script.Then(FormQUV, [&shownLines] {
        for (int i = 0; i < FormQUV->HSLBQUV().count(); ++i) {
            shownLines.push_back(FormQUV->HSLBQUV().item(i)->text().toStdString());
        }
        FormQUV->findChild<QPushButton*>(QStringLiteral("BBAbort"))->click();
    });
    TriggerMenu("nachQUV1");
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(shownLines.size(), expected.size());
    EXPECT_TRUE(script.Unexpected().empty());
}

// ---- Export for sending ----

TEST(ExportFileNameTest, SchoolNameWithoutBlanksBetweenPrefixAndExtension) {
    const std::pair<QString, QString> cases[] = {
        {"Grundschule Nord", "Meldung_GrundschuleNord.abs"},
        {"Schule am Wald", "Meldung_SchuleamWald.abs"},
        {"", "Meldung_.abs"},
        {"  Ober schule ", "Meldung_Oberschule.abs"},
        {"Müller-Schule", "Meldung_Müller-Schule.abs"},
    };
    for (const auto& [school, name] : cases) EXPECT_EQ(TFormMain::ExportFileName(school), name) << school.toStdString();
}

class ExportForSending : public ListCommands {
protected:
    struct TShownDialog {
        QString title, fileName, initialDir, filter;
    };

    void SetUp() override {
        ListCommands::SetUp();
        W().EdSchool().setText(QStringLiteral("Grundschule Nord"));
        W().SBTakeSchoolClick();
        W().hide();
        DM->Open().SetInitialDir(QStringLiteral("/zuletzt/geoeffnet"));
        outbox_ = folder_.filePath(QStringLiteral("Versand"));
        ASSERT_TRUE(QDir().mkpath(outbox_));
        (void)TFileDialog::SetRunner([this](const TFileDialog& dialog) -> std::optional<QString> {
            shown_.push_back({dialog.Title(), dialog.FileName(), dialog.InitialDir(), dialog.Filter()});
            checkVisibleAtDialog_ = FormCheck->isVisible();
            return answer_;
        });
    }

    void Export() {
        FormMain->SBSaveClick();
        QApplication::processEvents();
    }

    QString outbox_;
    std::optional<QString> answer_;
    std::vector<TShownDialog> shown_;
    bool checkVisibleAtDialog_ = false;
};

TEST_F(ExportForSending, CopiesUnderTheProposedNameIntoTheChosenFolder) {
    answer_ = QDir(outbox_).filePath(QStringLiteral("x.abs"));  // a typed name only chooses the folder
    Export();
    ASSERT_EQ(shown_.size(), 1U);
    EXPECT_EQ(shown_[0].title, QStringLiteral("Datenbank zum Versenden exportieren nach ..."));
    EXPECT_EQ(shown_[0].fileName, QStringLiteral("Meldung_GrundschuleNord.abs"));
    EXPECT_EQ(shown_[0].initialDir, InitialFolder());
    EXPECT_EQ(shown_[0].filter, QStringLiteral("Datenbanken (*.abs)|*.abs|Alle Dateien (*.*)|*.*"));
    EXPECT_TRUE(checkVisibleAtDialog_);  // the user sees the verdict while choosing

    const QString target = QDir(outbox_).filePath(QStringLiteral("Meldung_GrundschuleNord.abs"));
    EXPECT_FALSE(QFile::exists(QDir(outbox_).filePath(QStringLiteral("x.abs"))));
    ASSERT_TRUE(QFile::exists(target));
    EXPECT_EQ(Bytes(target), Bytes(path_));
    EXPECT_FALSE(DM->ABSDB().Connected());

    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Information);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Informationen"));
    EXPECT_EQ(messages_[0].text, QStringLiteral("Die Datenbank wurde exportiert nach:\r\"Meldung_GrundschuleNord.abs\"\r"
                                                "und kann nun per E-Mail versendet werden."));
    EXPECT_FALSE(FormCheck->isVisible());
    EXPECT_FALSE(W().isVisible());
    EXPECT_FALSE(CheckRows().empty());  // the check ran first
    EXPECT_EQ(DM->Save().InitialDir(), QStringLiteral("/zuletzt/geoeffnet"));

    // The copy is the database as it was: a later change does not reach it.
    const QByteArray sent = Bytes(target);
    W().EdSchool().setText(QStringLiteral("Grundschule Süd"));
    W().SBTakeSchoolClick();
    DM->ABSDB().Close();
    EXPECT_EQ(Bytes(target), sent);
    EXPECT_NE(Bytes(path_), sent);
}

TEST_F(ExportForSending, AnExistingFileOfThatNameIsReplaced) {
    const QString target = QDir(outbox_).filePath(QStringLiteral("Meldung_GrundschuleNord.abs"));
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("eine alte Meldung");
    old.close();
    answer_ = target;
    Export();
    EXPECT_EQ(Bytes(target), Bytes(path_));
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Information);
}

TEST_F(ExportForSending, CancelCopiesNothingAndHidesTheCheck) {
    answer_.reset();
    Export();
    EXPECT_EQ(shown_.size(), 1U);
    EXPECT_TRUE(QDir(outbox_).isEmpty());
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(FormCheck->isVisible());
    EXPECT_EQ(DM->Save().InitialDir(), QStringLiteral("/zuletzt/geoeffnet"));
}

TEST_F(ExportForSending, ACopyThatFailsIsReportedNotAnnounced) {
    answer_ = folder_.filePath(QStringLiteral("gibt/es/nicht/x.abs"));
    Export();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Error);
    EXPECT_TRUE(messages_[0].text.startsWith(QStringLiteral("Die Datenbank konnte nicht exportiert werden nach:")))
        << messages_[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(folder_.filePath(QStringLiteral("gibt/es/nicht/Meldung_GrundschuleNord.abs"))));
}

TEST_F(ExportForSending, ExportingIntoTheDatabasesOwnFileKeepsIt) {
    // The working database already carries the proposed name in the chosen folder.
    const QString own = QDir(outbox_).filePath(QStringLiteral("Meldung_GrundschuleNord.abs"));
    DM->ABSDB().Close();
    ASSERT_TRUE(QFile::copy(path_, own));
    DM->ABSDB().SetDatabaseFileName(own.toStdString());
    const auto before = Registrations();
    answer_ = own;
    Export();
    EXPECT_FALSE(Bytes(own).isEmpty());
    EXPECT_EQ(Registrations(), before);
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Information);
}

TEST_F(ExportForSending, EveryCommandOfTheMainWindowRunsIt) {
    answer_.reset();
    FormMain->findChild<QAction*>(QStringLiteral("Datenbankexportierennach1"))->trigger();
    FormMain->findChild<QToolButton*>(QStringLiteral("SBSave"))->click();
    FormMain->findChild<QToolButton*>(QStringLiteral("SBSave2"))->click();
    EXPECT_EQ(shown_.size(), 3U);
}

} // namespace
} // namespace kova::app::test
