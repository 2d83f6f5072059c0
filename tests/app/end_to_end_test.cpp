// A season's work through the windows: a school creates its database from the bundled template,
// enters thirty athletes, checks and exports the file for sending; the organiser opens the copy
// and writes the QUV list, which must hold exactly the lines the athletes give.
#include "dbview_fixture.h"
#include "modal_script.h"
#include "quv_test_support.h"

#include "app/FileDialog.h"
#include "app/Main.h"
#include "app/Platform.h"
#include "check/CheckMeldungen.h"
#include "files/Templates.h"
#include "output/QUVCommand.h"
#include "output/QUVView.h"

#include <QAction>
#include <QDir>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <sstream>
#include <tuple>

namespace kova::app::test {
namespace {

#ifdef KOVA_TEMPLATES_DIR

struct TAthleteInput {
    std::string name, vorname, year;
    QString className;
    std::string classCode, sex;
    QString d1, d2, relay;                   // as chosen in the form
    std::string d1Code, d2Code, relayCode;  // as stored
};

// Thirty athletes in four classes of the bundled competition (year 2027), each with two
// disciplines and a relay, within every limit of the template.
std::vector<TAthleteInput> Athletes() {
    const TAthleteInput kinds[] = {
        {"", "", "2015", QStringLiteral("WK IV/1 weiblich"), "W41", "W", QStringLiteral("50 m"), QStringLiteral("Weitsprung"),
         QStringLiteral("4 x 50 m Staffel"), "S50", "WEIT", "R50"},
        {"", "", "2016", QStringLiteral("WK IV/1 männlich"), "M41", "M", QStringLiteral("Ballwurf"), QStringLiteral("800 m"),
         QStringLiteral("4 x 50 m Staffel"), "BAL", "L800", "R50"},
        {"", "", "2013", QStringLiteral("WK III/1 weiblich"), "W31", "W", QStringLiteral("75 m"), QStringLiteral("Hochsprung"),
         QStringLiteral("4 x 75 m Staffel"), "S75", "HOCH", "R75"},
        {"", "", "2012", QStringLiteral("WK III/1 männlich"), "M31", "M", QStringLiteral("Kugelstoß"), QStringLiteral("75 m"),
         QStringLiteral("4 x 75 m Staffel"), "KUG", "S75", "R75"},
    };
    std::vector<TAthleteInput> athletes;
    for (int i = 0; i < 30; ++i) {
        TAthleteInput a = kinds[i % 4];
        a.name = std::string("Nachname") + static_cast<char>('Z' - i % 26) + std::to_string(i);
        a.vorname = "Kind" + std::to_string(100 - i);
        athletes.push_back(a);
    }
    return athletes;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

// The export line of one athlete, column by column as the results program reads it.
std::string ExpectedLine(const TAthleteInput& a, const std::string& school) {
    std::string line;
    line += Padded(a.classCode, 3) + std::string(2, ' ');
    line += Padded(a.relayCode, 4) + std::string(14, ' ');
    line += "KVB " + std::string(14, ' ');
    line += Padded(a.d1Code, 4) + std::string(14, ' ');
    line += Padded(a.d2Code, 4) + std::string(14, ' ');
    line += Padded("", 4) + std::string(19, ' ');  // "-" is no discipline
    line += "0000000";
    line += Padded(a.name + ", " + a.vorname, 28);
    line += a.sex + "----" + a.year + std::string(5, ' ');
    line += Padded(school, 30) + std::string(6, ' ');
    return line;
}

class SeasonThroughTheWindows : public AppFixture {
protected:
    void SetUp() override {
        previousTemplates_ = SetTemplatesFolder(QStringLiteral(KOVA_TEMPLATES_DIR));
        Start({});
        FormMain->StartTimerTimer();
        answerer_ = std::make_unique<EntryFormAnswerer>(*FormMeldung);
        // Each dialog is answered by its title, as a user would answer it.
        (void)TFileDialog::SetRunner([this](const TFileDialog& dialog) -> std::optional<QString> {
            dialogTitles_.push_back(dialog.Title());
            const auto answer = dialogAnswers_.find(dialog.Title());
            if (answer == dialogAnswers_.end()) return std::nullopt;
            return answer->second;
        });
    }
    void TearDown() override {
        answerer_.reset();
        (void)SetTemplatesFolder(previousTemplates_);
        AppFixture::TearDown();
    }

    QString previousTemplates_;
    std::unique_ptr<EntryFormAnswerer> answerer_;
    std::map<QString, QString> dialogAnswers_;
};

TEST_F(SeasonThroughTheWindows, ThirtyAthletesFromEntryToTheResultsProgramsList) {
    const std::string school = "Grundschule Talheim";
    const std::vector<TAthleteInput> athletes = Athletes();
    const QString schoolFolder = folder_.filePath(QStringLiteral("Schule"));
    const QString outbox = folder_.filePath(QStringLiteral("Versand"));
    const QString organiser = folder_.filePath(QStringLiteral("Ausrichter"));
    for (const QString& dir : {schoolFolder, outbox, organiser}) ASSERT_TRUE(QDir().mkpath(dir));

    // The school: a new database from the bundled template, the school's name, thirty athletes.
    dialogAnswers_[QStringLiteral("Neue Datenbank erzeugen und speichern als ...")] =
        QDir(schoolFolder).filePath(QStringLiteral("Talheim"));
    int entered = 0;
    {
        ModalScript script;
        script.Then(FormTemplates, [] {
            QTreeWidget& list = FormTemplates->LVTemplates();
            for (int i = 0; i < list.topLevelItemCount(); ++i) {
                if (list.topLevelItem(i)->text(1).endsWith(QStringLiteral("Kreisfinale_2026-2027.wbs"))) {
                    list.setCurrentItem(list.topLevelItem(i));
                }
            }
            FormTemplates->BBOk().click();
        });
        script.Then(FormDatabase, [&] {
            FormDatabase->EdSchool().setText(QString::fromStdString(school));
            FormDatabase->SBTakeSchoolClick();
            answerer_->ok = true;
            for (const TAthleteInput& a : athletes) {
                answerer_->fill = [&a](TFormMeldung& form) {
                    form.EdName().setText(QString::fromStdString(a.name));
                    form.EdVorname().setText(QString::fromStdString(a.vorname));
                    form.EdJahrgang().setText(QString::fromStdString(a.year));
                    Choose(form.CBAK(), a.className);
                    Choose(form.CBDisz1(), a.d1);
                    Choose(form.CBDisz2(), a.d2);
                    Choose(form.CBDisz3(), QStringLiteral("-"));
                    Choose(form.CBStaffel(), a.relay);
                };
                FormDatabase->SBNameNewClick();
                ++entered;
            }
            FormDatabase->close();
        });
        FormMain->SBNewDBClick();
        EXPECT_TRUE(script.Done());
        EXPECT_TRUE(script.Unexpected().empty());
    }
    ASSERT_EQ(entered, 30);
    ASSERT_EQ(answerer_->showings.size(), 30U);
    EXPECT_TRUE(messages_.empty()) << messages_.front().text.toStdString();
    const QString database = QDir(schoolFolder).filePath(QStringLiteral("Talheim.abs"));
    ASSERT_EQ(FormMain->DatabasePanelText(), database);

    // Checked and exported for sending: the check passes and the copy carries the school's name.
    dialogAnswers_[QStringLiteral("Datenbank zum Versenden exportieren nach ...")] = QDir(outbox).filePath(QStringLiteral("x.abs"));
    FormMain->SBSaveClick();
    const std::vector<TCheckRow> protocol = FormCheck->Rows();
    ASSERT_FALSE(protocol.empty());
    EXPECT_EQ(protocol.back(), (TCheckRow{"Gesamt", "o.k.", "Datenbank kann exportiert werden."}));
    const QString sent = QDir(outbox).filePath(QStringLiteral("Meldung_GrundschuleTalheim.abs"));
    ASSERT_TRUE(QFile::exists(sent));
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, QStringLiteral("Die Datenbank wurde exportiert nach:\r\"Meldung_GrundschuleTalheim.abs\"\r"
                                                "und kann nun per E-Mail versendet werden."));

    // The organiser: the copy arrives in another folder, is opened there and its list written.
    const QString received = QDir(organiser).filePath(QStringLiteral("Meldung_GrundschuleTalheim.abs"));
    ASSERT_TRUE(QFile::copy(sent, received));
    dialogAnswers_[QStringLiteral("Existierende Datenbank öffnen und bearbeiten ...")] = received;
    dialogAnswers_[QStringLiteral("QUV speichern als ...")] = QDir(organiser).filePath(QStringLiteral("kreisfinale"));
    {
        ModalScript script;
        // The menu command runs on its own turn of the event loop, so the script can answer the
        // preview it shows.
        script.Then(FormDatabase, [] {
            QTimer::singleShot(0, FormDatabase, [] {
                FormDatabase->findChild<QAction*>(QStringLiteral("nachQUV1"))->trigger();
                FormDatabase->close();
            });
        });
        script.Then(FormQUV, [] { FormQUV->findChild<QPushButton*>(QStringLiteral("BBOk"))->click(); });
        FormMain->SBOpenClick();
        EXPECT_TRUE(script.Done());
        EXPECT_TRUE(script.Unexpected().empty());
    }
    EXPECT_EQ(FormDatabase->windowTitle().toStdString(),
              "15.06.2027 \"Kreisfinale Leichtathletik Schulmannschaften 2027\", Sportpark am Stadtwald, Musterstadt");

    // The list: one line per athlete, by class, name, first name and year, CR LF after each.
    std::vector<TAthleteInput> ordered = athletes;
    std::sort(ordered.begin(), ordered.end(), [](const TAthleteInput& x, const TAthleteInput& y) {
        return std::tie(x.classCode, x.name, x.vorname, x.year) < std::tie(y.classCode, y.name, y.vorname, y.year);
    });
    std::string expected;
    for (const TAthleteInput& a : ordered) expected += ExpectedLine(a, school) + "\r\n";
    const std::string written = FileBytes(QDir(organiser).filePath(QStringLiteral("kreisfinale.QUV")).toStdString());
    EXPECT_EQ(written.size(), 30U * 187U);
    EXPECT_EQ(written, expected);

    // The organiser's console program agrees with the window on the same file.
    std::ostringstream out, err;
    EXPECT_EQ(RunKovaMeldungen({"check", received.toStdString()}, out, err), 0) << err.str();
    const std::string consoleList = QDir(organiser).filePath(QStringLiteral("konsole")).toStdString();
    EXPECT_EQ(RunKovaMeldungen({"quv", received.toStdString(), "-o", consoleList}, out, err), 0) << err.str();
    EXPECT_EQ(FileBytes(consoleList + ".QUV"), expected);
}

#endif

} // namespace
} // namespace kova::app::test
