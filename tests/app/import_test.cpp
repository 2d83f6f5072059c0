// Taking athletes over from an earlier registration database: the take-over window driven
// offscreen on a sample working database, with earlier databases of the current scheme (the
// application's password) and of 2009 and earlier (no password) made by the tests.
#include "dbview_fixture.h"
#include "modal_script.h"

#include "import/GetNames.h"
#include "import/ImportNames.h"
#include "model/CompetitionRules.h"

#include <QAction>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <deque>
#include <set>

namespace kova::app::test {
namespace {

// A row of an earlier database's Namen table.
struct TSourceRow {
    std::string id;
    std::string name;
    std::string vorname;
    std::string jahrgang;  // as it goes into the statement: a number, or a quoted text in the 2009 form
    std::string ak;
};

// The earlier file's Namen table; its columns are wider than the current ones so that long
// hostile texts reach the take-over as they are.
std::string SourceTable(bool yearAsText) {
    return std::string("CREATE TABLE Namen (ID String(60), Name String(250), Vorname String(250), Jahrgang ") +
           (yearAsText ? "String(10)" : "Integer") +
           ", AK String(40), Disziplin1 String(3), Disziplin2 String(3), Disziplin3 String(3), Staffel String(3), "
           "VereinID String(9))";
}

std::string Quoted(const std::string& text) { return "\"" + QuoteLiteral(text) + "\""; }

std::string InsertRow(const TSourceRow& row) {
    return "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
           "VALUES(" + Quoted(row.id) + ", " + Quoted(row.name) + ", " + Quoted(row.vorname) + ", " + row.jahrgang +
           ", " + Quoted(row.ak) + ", \"SPR\", \"WEI\", \"BAL\", \"STA\", \"V00000001\")";
}

// Creates an earlier registration database with `password` holding `rows`.
void MakeSource(const QString& path, const std::string& password, const std::vector<TSourceRow>& rows,
                bool yearAsText = false) {
    const std::string file = path.toStdString();
    TABSDatabaseDataList::Instance().CreateDatabase(file, password, TABSCreateDatabaseOptions{});
    TABSDatabase db;
    db.SetDatabaseName("ImportSetup");
    db.SetDatabaseFileName(file);
    db.SetPassword(password);
    TABSQuery query;
    query.SetDatabaseName("ImportSetup");
    std::vector<std::string> statements{SourceTable(yearAsText)};
    for (const TSourceRow& row : rows) statements.push_back(InsertRow(row));
    apitest::ExecuteAll(query, statements);
    query.Close();
    db.Close();
}

// The earlier season of the sample school. The competition year of the working database is 2011.
const std::vector<TSourceRow> kEarlierSeason = {
    {"N20000001", "Albers", "Tom", "1999", "WK3m"},       // old code of M31; 12 years old: fits
    {"N20000002", "Berg", "Max", "2005", "WK3m"},         // M31 at 6 years: loses the class
    {"N20000003", "Cramer", "Ida", "2000", "W41"},        // fits
    {"N11678868", "Anders", "Eva", "2001", "W31"},        // the working database holds this ID
    {"N20000005", "X", "Einbuchstabe", "2000", "W41"},    // one letter: not offered
    {"N20000006", "", "Ohne Namen", "2000", "W41"},       // no name: not offered
};
// The offered rows in the grid's order (year, name, first name).
const std::vector<std::string> kOfferedIds = {"N20000001", "N20000003", "N11678868", "N20000002"};

constexpr const char* kQuestionCurrent =
    "Sie können nun Athleten einer früheren Meldung an die\raktuelle Datenbank anfügen. Anschließend werden die "
    "Altersklassen\rangepasst.\rDanach müssten Sie noch Altersklasse und Disziplinen\rden Teilnehmern zuordnen.\r\r"
    "Fortsetzen?";
constexpr const char* kQuestionOlder =
    "Sie können nun Athleten einer früheren Meldung (2009 und älter) an die\raktuelle Datenbank anfügen. "
    "Anschließend werden die Altersklassen\rangepasst.\rDanach müssten Sie noch Altersklasse und Disziplinen\rden "
    "Teilnehmern zuordnen.\r\rFortsetzen?";
constexpr const char* kNotADatabase =
    "Das war keine Kova- Datenbank, oder die\rDatenbank ist geöffnet bzw. hat einen Fehler.";

class ImportWindow : public ListWindow {
protected:
    void SetUp() override {
        // A hand-typed registration whose class no longer fits, and one of another school that
        // does not fit either but is not listed.
        std::vector<std::string> statements = SampleSchema();
        statements.push_back(
            "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
            "VALUES(\"N11670001\", \"Hand\", \"Hugo\", 2008, \"M41\", \"SPR\", \"\", \"\", \"\", \"V00000001\")");
        statements.push_back(
            "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
            "VALUES(\"N11670002\", \"Fremd\", \"Uwe\", 1990, \"M41\", \"\", \"\", \"\", \"\", \"V00000002\")");
        Open(statements);
        ASSERT_NE(FormGetNames, nullptr);
        // Message boxes are answered from a queue (OK when it is empty) and recorded.
        (void)SetMessageHandler([this](const TMessageRequest& request) {
            messages_.push_back(request);
            if (answers_.empty()) return mbOK;
            const TMsgDlgButton answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
        earlier_ = folder_.filePath(QStringLiteral("saison2010.abs"));
        MakeSource(earlier_, "quorbel", kEarlierSeason);
    }

    void TearDown() override {
        if (FormGetNames != nullptr) FormGetNames->hide();
        ListWindow::TearDown();
    }

    TFormGetNames& G() { return *FormGetNames; }
    QTreeWidget& Checklist() { return G().LVRight(); }

    // Shows the take-over window as an import does (but not modally) with the chosen file.
    void ShowWith(TFormGetNames::TOpenHandler handler, const QString& file) {
        dialogAnswer_ = file;
        G().SetShowHandler(handler);
        const std::size_t dialogs = dialogTitles_.size();
        G().show();
        for (int i = 0; i < 200 && dialogTitles_.size() == dialogs; ++i) QApplication::processEvents();
        ASSERT_EQ(dialogTitles_.size(), dialogs + 1) << "showing the window opened no file dialog";
    }

    // The IDs of the checklist, in list order.
    std::vector<std::string> ChecklistIds() {
        std::vector<std::string> ids;
        for (int i = 0; i < Checklist().topLevelItemCount(); ++i) {
            ids.push_back(Checklist().topLevelItem(i)->text(TFormGetNames::colID).toStdString());
        }
        return ids;
    }
    // The IDs the left grid shows, in its order.
    std::vector<std::string> GridLeftIds() {
        std::vector<std::string> ids;
        QAbstractItemModel* model = G().DBGLeft().model();
        if (model == nullptr) return ids;
        for (int r = 0; r < model->rowCount(); ++r) ids.push_back(model->index(r, 4).data().toString().toStdString());
        return ids;
    }
    void SelectLeft(const std::string& id) {
        const std::vector<std::string> ids = GridLeftIds();
        for (int r = 0; r < static_cast<int>(ids.size()); ++r) {
            if (ids[static_cast<std::size_t>(r)] == id) {
                G().DBGLeft().setCurrentIndex(G().DBGLeft().model()->index(r, 0));
                return;
            }
        }
        ADD_FAILURE() << id << " is not in the left grid";
    }
    std::vector<QString> MessageTexts() {
        std::vector<QString> texts;
        for (const TMessageRequest& m : messages_) texts.push_back(m.text);
        return texts;
    }
    // The enabled state of picking, clearing and OK after one tick of the window's timer.
    struct TButtons {
        bool selected, all, clear, ok;
        bool operator==(const TButtons&) const = default;
    };
    TButtons ButtonsAfterTick() {
        QSignalSpy tick(&G().TimerEnable(), &QTimer::timeout);
        EXPECT_TRUE(tick.wait(2000)) << "the timer did not run";
        return {G().SBSelectedToRight().isEnabled(), G().SBAllToRight().isEnabled(), G().SBClearRightList().isEnabled(),
                G().BBOk().isEnabled()};
    }

    // Runs an import through the list window's menu item; `inWindow` acts in the take-over
    // window and must close it.
    void ImportThroughMenu(const char* item, const QString& file, const std::function<void()>& inWindow) {
        dialogAnswer_ = file;
        ModalScript script;
        script.Then(FormGetNames, inWindow);
        QAction* action = FormDatabase->findChild<QAction*>(QString::fromLatin1(item));
        ASSERT_NE(action, nullptr);
        ASSERT_TRUE(action->isEnabled());
        action->trigger();
        EXPECT_TRUE(script.Unexpected().empty());
        EXPECT_TRUE(script.Done()) << "the take-over window was not shown";
    }
    // Inside the window: all rows to the right, then OK.
    void TakeAllAndConfirm() {
        ASSERT_TRUE(DM->ABSQTGrid().Active()) << "the earlier database was not opened";
        G().SBAllToRight().click();
        G().TimerEnableTimer();
        G().BBOk().click();
    }

    QString earlier_;
    std::deque<TMsgDlgButton> answers_;
};

// ---- The window ----

TEST_F(ImportWindow, WindowHasItsCaptionSizeHintsAndColumns) {
    EXPECT_EQ(G().windowTitle(), QStringLiteral("Namen aus anderem Wettkampf übernehmen"));
    EXPECT_EQ(G().minimumSize(), QSize(590, 240));
    struct THint {
        const char* control;
        const char* hint;
    };
    const THint hints[] = {
        {"SBOpenWB", "Vorhandenen Wettkampf öffnen ..."},
        {"SBExit", "Beenden"},
        {"SBSelectedToRight", "Ausgewählten nach rechts übernehmen"},
        {"SBAllToRight", "Alle von links nach rechts übernehmen"},
        {"SBClearRightList", "Rechts alle löschen"},
    };
    for (const THint& h : hints) {
        auto* control = G().findChild<QToolButton*>(QString::fromLatin1(h.control));
        ASSERT_NE(control, nullptr) << h.control;
        EXPECT_EQ(control->toolTip(), QString::fromUtf8(h.hint)) << h.control;
    }
    EXPECT_EQ(G().findChild<QPushButton*>(QStringLiteral("BBAbort"))->text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(G().findChild<QPushButton*>(QStringLiteral("BBOk"))->text(), QStringLiteral("OK"));
    EXPECT_NE(G().findChild<QSplitter*>(QStringLiteral("Splitter")), nullptr);
    EXPECT_EQ(G().findChild<QTimer*>(QStringLiteral("TimerEnable"))->interval(), 200);

    struct TColumn {
        const char* title;
        int width;  // 0: hidden
    };
    const TColumn columns[] = {{"Jahrgang", 60}, {"File", 0}, {"ID", 0}, {"Name", 90}, {"Vorname", 90}, {"AK", 70}};
    QTreeWidget& list = Checklist();
    ASSERT_EQ(list.columnCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list.headerItem()->text(i), QString::fromLatin1(columns[i].title));
        EXPECT_EQ(list.isColumnHidden(i), columns[i].width == 0) << columns[i].title;
        if (columns[i].width > 0) {
            EXPECT_EQ(list.header()->sectionSize(i), columns[i].width) << columns[i].title;
        }
    }
    // The year column narrows to 20 but never widens beyond 60.
    list.header()->resizeSection(0, 200);
    EXPECT_EQ(list.header()->sectionSize(0), 60);
}

TEST_F(ImportWindow, MenuItemsAreEnabledWithTheSchoolAndNamed) {
    for (const auto& [name, text] : {std::pair{"Meldungenimportieren1", "Meldungen importieren"},
                                     std::pair{"ltereMeldungen20091", "ältere Meldungen (2009)"}}) {
        QAction* action = FormDatabase->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->text(), QString::fromUtf8(text));
        EXPECT_TRUE(action->isEnabled());
    }
}

// ---- Opening the earlier database ----

TEST_F(ImportWindow, OpeningListsNamesOfTwoOrMoreLettersByYearNameFirstName) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    ASSERT_EQ(dialogTitles_.back(), QStringLiteral("Existierende Datenbank einlesen ..."));
    EXPECT_EQ(DM->Open().Filter(), QStringLiteral("Datenbanken (*.abs)|*.abs|Alle Dateien (*.*)|*.*"));
    EXPECT_TRUE(G().SBOpenWB().isEnabled());
    EXPECT_EQ(GridLeftIds(), kOfferedIds);
    QAbstractItemModel* model = G().DBGLeft().model();
    QStringList titles;
    for (int c = 0; c < model->columnCount(); ++c) titles << model->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(titles, (QStringList{"Jahrgang", "Name", "Vorname", "AK", "ID"}));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportWindow, CancelledDialogKeepsGridAndChecklist) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    ASSERT_TRUE(G().InsertIdToLV());
    dialogAnswer_.reset();
    G().SBOpenWB().click();
    EXPECT_EQ(dialogTitles_.size(), 2U);
    EXPECT_EQ(GridLeftIds(), kOfferedIds);
    EXPECT_EQ(ChecklistIds().size(), 1U);
}

TEST_F(ImportWindow, OpeningAnotherFileClearsTheChecklist) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    G().SBAllToRightClick();
    ASSERT_EQ(ChecklistIds().size(), 4U);
    const QString other = folder_.filePath(QStringLiteral("andere.abs"));
    MakeSource(other, "quorbel", {{"N30000001", "Ziegler", "Jan", "2000", "M41"}});
    dialogAnswer_ = other;
    G().SBOpenWB().click();
    EXPECT_TRUE(ChecklistIds().empty());
    EXPECT_EQ(GridLeftIds(), std::vector<std::string>{"N30000001"});
}

TEST_F(ImportWindow, UnreadableSourcesShowTheErrorAndLeaveNothingToPick) {
    const QString older = folder_.filePath(QStringLiteral("alt2009.abs"));
    MakeSource(older, "", {{"N10000001", "Alt", "Otto", "\"1996\"", "WK3m"}}, true);
    const QString otherPassword = folder_.filePath(QStringLiteral("fremd.abs"));
    MakeSource(otherPassword, "geheim", {{"N10000002", "Fremd", "Fritz", "1997", "M31"}});
    const QString noNames = folder_.filePath(QStringLiteral("ohne.abs"));
    MakeDatabase(noNames.toStdString(), {"CREATE TABLE Verein (ID String(9), Schule String(55))"});
    struct TCase {
        const char* what;
        QString file;
    };
    const TCase cases[] = {
        {"no database at all", MakeFile(QStringLiteral("text.abs"))},
        {"another password (prompt cancelled)", otherPassword},
        {"a registration database without Namen", noNames},
        {"a missing file", folder_.filePath(QStringLiteral("fehlt.abs"))},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        // The earlier file is open and partly picked before each failing one.
        G().hide();
        messages_.clear();
        ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
        ASSERT_TRUE(G().InsertIdToLV());
        ModalScript prompts;
        prompts.WheneverTitled(QStringLiteral("Database authentication"), [](QWidget* w) {
            static_cast<QDialog*>(w)->reject();
        });
        dialogAnswer_ = c.file;
        G().SBOpenWB().click();
        ASSERT_EQ(MessageTexts(), std::vector<QString>{QString::fromUtf8(kNotADatabase)});
        EXPECT_EQ(messages_.back().type, TMsgDlgType::Error);
        EXPECT_TRUE(GridLeftIds().empty());
        EXPECT_TRUE(ChecklistIds().empty());
        EXPECT_EQ(ButtonsAfterTick(), (TButtons{false, false, false, false}));
    }
}

TEST_F(ImportWindow, OlderFilesOpenWithoutPasswordAndHidingRestoresTheCurrentScheme) {
    const QString older = folder_.filePath(QStringLiteral("alt2009.abs"));
    MakeSource(older, "", {{"N10000001", "Alt", "Otto", "\"1996\"", "WK3m"}}, true);
    ShowWith(TFormGetNames::TOpenHandler::Older2009, older);
    EXPECT_EQ(dialogTitles_.back(), QStringLiteral("Existierende Datenbank (2009 und früher) einlesen ..."));
    EXPECT_FALSE(G().SBOpenWB().isEnabled());
    EXPECT_EQ(GridLeftIds(), std::vector<std::string>{"N10000001"});
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(DM->ABSDBTemplate().Password(), "");

    G().hide();
    EXPECT_EQ(DM->ABSDBTemplate().Password(), "quorbel");
    EXPECT_EQ(G().ShowHandler(), TFormGetNames::TOpenHandler::CurrentScheme);
    // The next showing asks for a current file again.
    ShowWith(G().ShowHandler(), earlier_);
    EXPECT_EQ(dialogTitles_.back(), QStringLiteral("Existierende Datenbank einlesen ..."));
    EXPECT_TRUE(G().SBOpenWB().isEnabled());
    EXPECT_EQ(GridLeftIds(), kOfferedIds);
}

// ---- Picking ----

TEST_F(ImportWindow, PickingAddsACheckedItemWithTheRowsValues) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    SelectLeft("N20000002");
    G().SBSelectedToRight().click();
    ASSERT_EQ(Checklist().topLevelItemCount(), 1);
    const QTreeWidgetItem* item = Checklist().topLevelItem(0);
    EXPECT_EQ(item->text(0), QStringLiteral("2005"));
    EXPECT_EQ(item->text(1), earlier_);
    EXPECT_EQ(item->text(2), QStringLiteral("N20000002"));
    EXPECT_EQ(item->text(3), QStringLiteral("Berg"));
    EXPECT_EQ(item->text(4), QStringLiteral("Max"));
    EXPECT_EQ(item->text(5), QStringLiteral("WK3m"));
    EXPECT_EQ(item->checkState(0), Qt::Checked);
    EXPECT_EQ(Checklist().currentItem(), item);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ImportWindow, DuplicatesAreRefusedSinglyAndSkippedSilentlyByAll) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    SelectLeft("N20000003");
    G().SBSelectedToRight().click();
    G().SBSelectedToRight().click();
    EXPECT_EQ(ChecklistIds(), std::vector<std::string>{"N20000003"});
    ASSERT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Der Eintrag ist bereits vorhanden.")});
    EXPECT_EQ(messages_.back().type, TMsgDlgType::Information);

    messages_.clear();
    G().SBAllToRight().click();
    EXPECT_EQ(ChecklistIds(), (std::vector<std::string>{"N20000003", "N20000001", "N11678868", "N20000002"}));
    EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Neue Einträge nach rechts übernommen.")});
    // The grid's row is the query's row again: a single pick takes what the user sees.
    messages_.clear();
    G().SBSelectedToRight().click();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Der Eintrag ist bereits vorhanden.")});
    EXPECT_EQ(DM->ABSQTGrid().FieldByName("ID").AsString(), "N20000003");
}

TEST_F(ImportWindow, ButtonStatesFollowGridAndChecklistOnEveryTick) {
    EXPECT_FALSE(G().TimerEnable().isActive());
    dialogAnswer_.reset();
    G().show();
    QApplication::processEvents();
    EXPECT_TRUE(G().TimerEnable().isActive());
    EXPECT_EQ(ButtonsAfterTick(), (TButtons{false, false, false, false})) << "nothing opened";

    dialogAnswer_ = earlier_;
    G().SBOpenWB().click();
    EXPECT_EQ(ButtonsAfterTick(), (TButtons{true, true, false, false})) << "rows, empty checklist";

    G().SBAllToRightClick();
    EXPECT_EQ(ButtonsAfterTick(), (TButtons{true, true, true, true})) << "all checked";

    for (int i = 0; i < Checklist().topLevelItemCount(); ++i) Checklist().topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(ButtonsAfterTick(), (TButtons{true, true, true, false})) << "none checked";
    Checklist().topLevelItem(2)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(ButtonsAfterTick(), (TButtons{true, true, true, true})) << "one checked";

    // An earlier file without offered rows: nothing to pick.
    const QString empty = folder_.filePath(QStringLiteral("leer.abs"));
    MakeSource(empty, "quorbel", {{"N40000001", "Y", "Nur", "2000", "M41"}});
    dialogAnswer_ = empty;
    G().SBOpenWB().click();
    EXPECT_EQ(ButtonsAfterTick(), (TButtons{false, false, false, false})) << "no rows";

    G().hide();
    EXPECT_FALSE(G().TimerEnable().isActive());
}

TEST_F(ImportWindow, ClearingAsksAndClearsOnlyOnYes) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    G().SBAllToRightClick();
    ASSERT_TRUE(ButtonsAfterTick().clear);
    messages_.clear();
    answers_ = {mbNo};
    G().SBClearRightList().click();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, QStringLiteral("Sollen alle Einträge der rechten\rSeite gelöscht werden?"));
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Confirmation);
    EXPECT_EQ(messages_[0].buttons, unsigned{mbYes | mbNo});
    EXPECT_EQ(ChecklistIds().size(), 4U);
    answers_ = {mbYes};
    G().SBClearRightList().click();
    EXPECT_TRUE(ChecklistIds().empty());
}

TEST_F(ImportWindow, ExitAndAbortCloseWithoutOk) {
    for (const char* button : {"SBExit", "BBAbort"}) {
        SCOPED_TRACE(button);
        dialogAnswer_ = earlier_;
        ModalScript script;
        script.Then(FormGetNames, [this, button] {
            G().SBAllToRightClick();
            G().findChild<QAbstractButton*>(QString::fromLatin1(button))->click();
        });
        EXPECT_FALSE(G().ShowModal());
        EXPECT_TRUE(script.Done());
    }
}

// ---- The take-over ----

TEST_F(ImportWindow, QuestionsAskBeforeTheWindowAndNoStops) {
    struct TCase {
        const char* item;
        const char* question;
    };
    for (const TCase& c : {TCase{"Meldungenimportieren1", kQuestionCurrent}, TCase{"ltereMeldungen20091", kQuestionOlder}}) {
        SCOPED_TRACE(c.item);
        messages_.clear();
        answers_ = {mbNo};
        const auto before = Registrations();
        FormDatabase->findChild<QAction*>(QString::fromLatin1(c.item))->trigger();
        ASSERT_EQ(messages_.size(), 1U);
        EXPECT_EQ(messages_[0].text, QString::fromUtf8(c.question));
        EXPECT_EQ(messages_[0].type, TMsgDlgType::Information);
        EXPECT_EQ(messages_[0].buttons, unsigned{mbYes | mbNo});
        EXPECT_FALSE(G().isVisible());
        EXPECT_EQ(Registrations(), before);
    }
}

TEST_F(ImportWindow, TakeOverAddsNewAthletesWithoutDisciplinesAndFitsClasses) {
    const auto before = Registrations();
    answers_ = {mbYes};
    ImportThroughMenu("Meldungenimportieren1", earlier_, [this] {
        TakeAllAndConfirm();
    });
    EXPECT_EQ(QString(messages_.front().text), QString::fromUtf8(kQuestionCurrent));
    const auto after = Registrations();
    using Row = std::vector<std::string>;
    // ID, Name, Vorname, Jahrgang, AK, Disziplin1..3, Staffel, VereinID
    EXPECT_EQ(after.at("N20000001"), (Row{"N20000001", "Albers", "Tom", "1999", "M31", "", "", "", "", "V00000001"}));
    EXPECT_EQ(after.at("N20000002"), (Row{"N20000002", "Berg", "Max", "2005", "", "", "", "", "", "V00000001"}));
    EXPECT_EQ(after.at("N20000003"), (Row{"N20000003", "Cramer", "Ida", "2000", "W41", "", "", "", "", "V00000001"}));
    // The ID the working database held keeps its data; the one-letter and nameless rows stay out.
    EXPECT_EQ(after.at("N11678868"), before.at("N11678868"));
    EXPECT_EQ(after.count("N20000005") + after.count("N20000006"), 0U);
    // The hand-typed registration that no longer fits loses its class; the other school's row
    // is not listed and keeps its class; every other earlier row is unchanged.
    Row hand = before.at("N11670001");
    hand[4] = "";
    EXPECT_EQ(after.at("N11670001"), hand);
    for (const auto& [id, row] : before) {
        if (id != "N11670001") {
            EXPECT_EQ(after.at(id), row) << id;
        }
    }
    EXPECT_EQ(after.size(), before.size() + 3);
    // The list shows the last checked athlete.
    EXPECT_EQ(Card("LbId"), QStringLiteral("N20000002"));
    EXPECT_EQ(GridCurrentId(), "N20000002");
}

TEST_F(ImportWindow, OnlyCheckedItemsAreTakenOverAndASecondImportChangesNothing) {
    answers_ = {mbYes};
    ImportThroughMenu("Meldungenimportieren1", earlier_, [this] {
        ASSERT_TRUE(DM->ABSQTGrid().Active());
        G().SBAllToRightClick();
        for (int i = 0; i < Checklist().topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = Checklist().topLevelItem(i);
            if (item->text(TFormGetNames::colID) != QStringLiteral("N20000003")) item->setCheckState(0, Qt::Unchecked);
        }
        G().TimerEnableTimer();
        G().BBOk().click();
    });
    auto after = Registrations();
    EXPECT_EQ(after.count("N20000003"), 1U);
    EXPECT_EQ(after.count("N20000001") + after.count("N20000002"), 0U);
    EXPECT_EQ(Card("LbId"), QStringLiteral("N20000003"));

    // The athlete was edited since; importing the same file again keeps the edit.
    ASSERT_TRUE(DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute,
                                              "UPDATE Namen SET Vorname=\"Ida-Marie\" WHERE ID=\"N20000003\";"));
    answers_ = {mbYes};
    ImportThroughMenu("Meldungenimportieren1", earlier_, [this] { TakeAllAndConfirm(); });
    after = Registrations();
    EXPECT_EQ(after.at("N20000003")[2], "Ida-Marie");
    std::multiset<std::string> ids;
    for (const auto& row : Rows("SELECT ID FROM Namen")) ids.insert(row[0]);
    EXPECT_EQ(ids.count("N20000003"), 1U);
    EXPECT_EQ(ids.count("N20000001"), 1U);
}

TEST_F(ImportWindow, AbortedWindowWritesNothing) {
    const auto before = Registrations();
    answers_ = {mbYes};
    ImportThroughMenu("Meldungenimportieren1", earlier_, [this] {
        G().SBAllToRightClick();
        G().BBAbort().click();
    });
    EXPECT_EQ(Registrations(), before);
}

TEST_F(ImportWindow, OlderFileWithTextYearsStoresMissingYearsAsNone) {
    const QString older = folder_.filePath(QStringLiteral("alt2009.abs"));
    MakeSource(older,
               "",
               {{"N10000001", "Alt", "Otto", "\"1998\"", "WK3m"},
                {"N10000002", "Leer", "Lena", "\"\"", "WK3w"},
                {"N10000003", "Krumm", "Kai", "\"19x8\"", "M31"},
                {"N10000004", "Lang", "Lutz", "\"1999; DROP\"", "M31"}},
               true);
    answers_ = {mbYes};
    ImportThroughMenu("ltereMeldungen20091", older, [this] {
        EXPECT_FALSE(G().SBOpenWB().isEnabled());
        TakeAllAndConfirm();
    });
    EXPECT_EQ(dialogTitles_.back(), QStringLiteral("Existierende Datenbank (2009 und früher) einlesen ..."));
    const auto after = Registrations();
    using Row = std::vector<std::string>;
    // 13 in 2011: fits M31 after the mapping.
    EXPECT_EQ(after.at("N10000001"), (Row{"N10000001", "Alt", "Otto", "1998", "M31", "", "", "", "", "V00000001"}));
    // No year: stored complete but without year, and no class fits an unknown age.
    for (const char* id : {"N10000002", "N10000003", "N10000004"}) {
        const Row& row = after.at(id);
        EXPECT_FALSE(row[1].empty()) << id << ": the row holds only its ID";
        EXPECT_EQ(row[3], "") << id;
        EXPECT_EQ(row[4], "") << id;
        EXPECT_EQ(row[9], "V00000001") << id;
    }
    // After the window closed, the second session uses the fixed password again.
    EXPECT_EQ(DM->ABSDBTemplate().Password(), "quorbel");
}

TEST_F(ImportWindow, HostileNamesAreStoredCleanedAndChangeNoOtherRow) {
    const std::string longName(300, 'L');
    struct TCase {
        std::string id;
        std::string name;
        std::string vorname;
        std::string ak;
        std::string storedName;     // cleaned, then cut to the current column's 20 characters
        std::string storedVorname;
    };
    const std::vector<TCase> cases = {
        {"N50000001", "x\", Jahrgang=1900 WHERE ID<>\"", "Eva", "W41", "x', Jahrgang=1900 WH", "Eva"},
        {"N50000002", "Back\\slash\\", "C:\\Temp\\", "W41", "Backslash", "C:Temp"},
        {"N50000003", "and where from", "Anna AND \"x\"", "W41", "and where from", "Anna AND 'x'"},
        {"N50000004", "  \tBlank ", "\t Tab\t", "W41", "Blank", "Tab"},
        {"N50000005", "Müßig-Ärger", "Öçé", "W41", "Müßig-Ärger", "Öçé"},
        {"N50000006", longName, longName, "W41", std::string(20, 'L'), std::string(20, 'L')},
        {"N50000007", "Klasse", "Quote", "W\"4", "Klasse", "Quote"},
    };
    std::vector<TSourceRow> rows;
    for (const TCase& c : cases) rows.push_back({c.id, c.name, c.vorname, "2000", c.ak});
    // An ID that could not stand between quotes is no ID of this application: skipped.
    rows.push_back({"N1\", Jahrgang=1900 WHERE ID<>\"", "Injektion", "Ida", "2000", "W41"});
    const QString hostile = folder_.filePath(QStringLiteral("feindlich.abs"));
    MakeSource(hostile, "quorbel", rows);

    const auto before = Registrations();
    answers_ = {mbYes};
    ImportThroughMenu("Meldungenimportieren1", hostile, [this] { TakeAllAndConfirm(); });
    const auto after = Registrations();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(after.count(c.id), 1U);
        const auto& row = after.at(c.id);
        EXPECT_EQ(row[1], c.storedName);
        EXPECT_EQ(row[2], c.storedVorname);
        EXPECT_EQ(row[3], "2000");
        // "W'4" is no class of this competition: its class is cleared afterwards.
        EXPECT_EQ(row[4], c.ak == "W41" ? "W41" : "");
    }
    for (const auto& [id, row] : before) {
        if (id != "N11670001") {
            EXPECT_EQ(after.at(id), row) << id;
        }
    }
    EXPECT_EQ(after.size(), before.size() + cases.size());
}

// ---- Pieces of the take-over ----

TEST(ImportYearOfBirth, WholeNumbersGoInAndEverythingElseBecomesNull) {
    const std::pair<const char*, const char*> cases[] = {
        {"2001", "2001"}, {" 1999 ", "1999"}, {"+2002", "2002"}, {"02003", "2003"}, {"-5", "-5"},
        {"", "NULL"},     {"19x8", "NULL"},   {"1999; DROP", "NULL"}, {"2000 1", "NULL"}, {"99999999999", "NULL"},
    };
    for (const auto& [year, literal] : cases) EXPECT_EQ(YearOfBirthLiteral(QString::fromUtf8(year)), literal) << year;
}

TEST(ImportIds, OnlyIdsThatStandBetweenQuotesAreTakenOver) {
    const std::pair<std::string_view, bool> cases[] = {
        {"N11678868", true}, {"", false}, {"N1\"", false}, {"N1\\", false}, {std::string_view("N1\0", 3), false},
    };
    for (const auto& [id, quotable] : cases) EXPECT_EQ(IsQuotableId(id), quotable) << id;
}

// ---- Screenshot ----

TEST_F(ImportWindow, ScreenshotOfTheFilledWindow) {
    ShowWith(TFormGetNames::TOpenHandler::CurrentScheme, earlier_);
    SelectLeft("N20000003");
    G().SBSelectedToRight().click();
    SelectLeft("N20000002");
    G().SBSelectedToRight().click();
    G().TimerEnableTimer();
    QApplication::processEvents();
    const QString path = QStringLiteral("/tmp/FormGetNames.png");
    ASSERT_TRUE(G().grab().save(path));
    EXPECT_TRUE(QFile::exists(path));
}

} // namespace
} // namespace kova::app::test
