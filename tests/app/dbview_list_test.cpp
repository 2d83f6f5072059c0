// The registration list window without the entry form: the school data and the panel rule, the
// list and its orders, the card, the keys, the creation-time hint, the record count and the menu.
#include "dbview_fixture.h"

#include "app/Platform.h"
#include "model/GenSerials.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <utility>

namespace kova::app::test {
namespace {

// ---- School data and the panel rule ----

class SchoolData : public ListWindow {
protected:
    void TypeSchool(const QString& name) {
        W().EdSchool().setText(name);
        W().SBTakeSchoolClick();
        QApplication::processEvents();
    }
    [[nodiscard]] int SchoolPanelHeight() { return W().PSButton().maximumHeight(); }
};

TEST_F(SchoolData, ShowingStartsWithTheSchoolRowAndACollapsedPanel) {
    EXPECT_EQ(W().EdSchool().text(), QStringLiteral("Grundschule Talheim"));
    EXPECT_EQ(Child<QLineEdit>("EdSchoolAddress").text(), QStringLiteral("Weg 1"));
    EXPECT_EQ(Child<QLineEdit>("EdTelephone").text(), QStringLiteral("0711"));
    EXPECT_EQ(Child<QLineEdit>("EdFAX").text(), QStringLiteral("0712"));
    EXPECT_EQ(Child<QLineEdit>("EdEMail").text(), QStringLiteral("a@b.de"));
    EXPECT_FALSE(W().PanelMain().isHidden());
    EXPECT_TRUE(Child<QLabel>("Label1").isHidden());
    EXPECT_EQ(SchoolPanelHeight(), TFormDatabase::kSchoolPanelCollapsed);
    EXPECT_EQ(W().focusWidget(), &W().DBGMain());
}

TEST_F(SchoolData, PanelFollowsTheLengthOfTheStoredSchoolName) {
    struct Case {
        QString typed;
        bool listShown;
    };
    const Case cases[] = {
        {"", false},        {"A", false},       {"  A\t", false},  // trimmed to one character
        {"AB", true},       {"\"\\", false},    // a quote and a backslash leave one apostrophe
        {"Schule", true},   {"X", false},
    };
    QAction* import = W().findChild<QMenu*>("Meldungimportieren1")->menuAction();
    for (const Case& c : cases) {
        TypeSchool(c.typed);
        SCOPED_TRACE(c.typed.toStdString());
        EXPECT_EQ(!W().PanelMain().isHidden(), c.listShown);
        EXPECT_EQ(Child<QLabel>("Label1").isHidden(), c.listShown);
        EXPECT_EQ(import->isEnabled(), c.listShown);
        EXPECT_EQ(SchoolPanelHeight(),
                  c.listShown ? TFormDatabase::kSchoolPanelCollapsed : TFormDatabase::kSchoolPanelExpanded);
        EXPECT_EQ(W().focusWidget(), c.listShown ? static_cast<QWidget*>(&W().DBGMain())
                                                 : static_cast<QWidget*>(&W().EdSchool()));
    }
}

TEST_F(SchoolData, EnteringTheSchoolNameOrOpeningTheImportMenuExpandsThePanel) {
    ASSERT_EQ(SchoolPanelHeight(), TFormDatabase::kSchoolPanelCollapsed);
    W().EdSchool().setFocus();
    QApplication::processEvents();
    EXPECT_EQ(SchoolPanelHeight(), TFormDatabase::kSchoolPanelExpanded);

    TypeSchool("Grundschule Talheim");
    ASSERT_EQ(SchoolPanelHeight(), TFormDatabase::kSchoolPanelCollapsed);
    QMenu* import = W().findChild<QMenu*>("Meldungimportieren1");
    emit import->aboutToShow();
    EXPECT_EQ(SchoolPanelHeight(), TFormDatabase::kSchoolPanelExpanded);
}

TEST_F(SchoolData, FieldsHaveTheirLimits) {
    const std::pair<const char*, int> limits[] = {
        {"EdSchool", 55}, {"EdSchoolAddress", 80}, {"EdTelephone", 20}, {"EdFAX", 20}, {"EdEMail", 50}};
    for (const auto& [name, limit] : limits) EXPECT_EQ(Child<QLineEdit>(name).maxLength(), limit) << name;
}

TEST_F(SchoolData, TheUpdateBreaksTheLineAfterSet) {
    W().EdSchool().setText(QStringLiteral("Neue Schule"));
    EXPECT_EQ(W().SchoolUpdateStatement(), "UPDATE Verein SET \rSchule=\"Neue Schule\",Anschrift=\"Weg 1\",Telefon=\"0711\","
                                 "FAX=\"0712\",EMail=\"a@b.de\" WHERE ID=\"V00000001\";");
}

// Hostile text in each school field is stored cleaned and changes no other row.
TEST_F(SchoolData, HostileTextInEachFieldIsStoredCleanedAndChangesNothingElse) {
    struct Case {
        QString typed;
        QString stored;  // before the field's limit cuts it
    };
    const Case cases[] = {
        {QStringLiteral("Peter \"Pit\" Paul"), QStringLiteral("Peter 'Pit' Paul")},
        {QStringLiteral("  C:\\Schule\\Tal \t"), QStringLiteral("C:SchuleTal")},
        {QStringLiteral("x\", Jahrgang=1900 WHERE ID<>\""), QStringLiteral("x', Jahrgang=1900 WHERE ID<>'")},
        {QStringLiteral("Berg and Tal from Nord where"), QStringLiteral("Berg and Tal from Nord where")},
        {QString::fromUtf16(u"Nu\u0000ll", 5), QStringLiteral("Null")},
        {QStringLiteral("Müßig-Straße Ärger Öde Übel"), QStringLiteral("Müßig-Straße Ärger Öde Übel")},
        {QStringLiteral("\"; DELETE FROM Namen; --"), QStringLiteral("'; DELETE FROM Namen; --")},
        {QString(300, QChar(u'L')), QString(300, QChar(u'L'))},
    };
    // A second school row, which must not change.
    TearDown();
    std::vector<std::string> statements = SampleSchema();
    statements.push_back("INSERT INTO Verein (ID, Schule, Anschrift) VALUES(\"V00000002\", \"Andere Schule\", \"Hof 2\")");
    Open(statements);
    const auto registrations = Registrations();
    const auto wettkampf = Rows("SELECT * FROM Wettkampf");
    const char* fields[] = {"EdSchool", "EdSchoolAddress", "EdTelephone", "EdFAX", "EdEMail"};
    const char* columns[] = {"Schule", "Anschrift", "Telefon", "FAX", "EMail"};
    for (std::size_t f = 0; f < std::size(fields); ++f) {
        QLineEdit& edit = Child<QLineEdit>(fields[f]);
        for (const Case& c : cases) {
            edit.setText(c.typed);
            SCOPED_TRACE(std::string(fields[f]) + " <- " + edit.text().toStdString());
            W().SBTakeSchoolClick();
            // The field's limit cuts first; none of these texts ends in a blank at the cut.
            const QString expected = c.stored.left(edit.maxLength());
            const auto school = Rows(std::string("SELECT ") + columns[f] + " FROM Verein WHERE ID=\"V00000001\"");
            ASSERT_EQ(school.size(), 1U);
            EXPECT_EQ(QString::fromStdString(school[0][0]), expected);
            EXPECT_EQ(edit.text(), expected);  // reloaded from the database
            EXPECT_EQ(Rows("SELECT Schule, Anschrift FROM Verein WHERE ID=\"V00000002\""),
                      (std::vector<std::vector<std::string>>{{"Andere Schule", "Hof 2"}}));
            EXPECT_EQ(Registrations(), registrations);
            EXPECT_EQ(Rows("SELECT * FROM Wettkampf"), wettkampf);
        }
        // The school name decides the panel: give it a name again before the next field.
        W().EdSchool().setText(QStringLiteral("Grundschule Talheim"));
        W().SBTakeSchoolClick();
    }
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SchoolData, AFailedSaveShowsTheStoredValuesAgain) {
    // Text without a single-byte form is refused by the engine; the window swallows that.
    W().EdSchool().setText(QString::fromUtf16(u"Schule \u4E2D"));
    W().SBTakeSchoolClick();
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(W().EdSchool().text(), QStringLiteral("Grundschule Talheim"));
    EXPECT_EQ(Rows("SELECT Schule FROM Verein"), (std::vector<std::vector<std::string>>{{"Grundschule Talheim"}}));
}

// ---- The list and its orders ----

class ListOrder : public ListWindow {
protected:
    // Clicks the column title `title` in the grid's header.
    void ClickTitle(const QString& title) {
        QHeaderView* header = W().DBGMain().horizontalHeader();
        for (int section = 0; section < header->count(); ++section) {
            if (W().DBGMain().model()->headerData(section, Qt::Horizontal).toString() == title) {
                QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                                  QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
                return;
            }
        }
        ADD_FAILURE() << "no title " << title.toStdString();
    }
};

TEST_F(ListOrder, ColumnsAreTheFieldsOfTheListStatement) {
    const QStringList titles = {"Name", "Vorname", "AK", "Jahrgang", "Disziplin1", "Disziplin2",
                                "Disziplin3", "Staffel", "Schule", "ID"};
    ASSERT_EQ(DM->DSMainGrid().columnCount(), titles.size());
    for (int i = 0; i < titles.size(); ++i) EXPECT_EQ(DM->DSMainGrid().headerData(i, Qt::Horizontal), titles[i]);
    EXPECT_EQ(DM->DSMainGrid().index(0, 2).data().toString(), QStringLiteral("M31"));  // codes as stored
    EXPECT_EQ(W().DBGMain().selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(W().DBGMain().editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(ListOrder, EveryTitleSortsAndKeepsTheCurrentRegistration) {
    struct Case {
        const char* title;
        const char* clause;
        std::vector<std::string> order;
    };
    // Empty texts are null and come first.
    const Case cases[] = {
        {"ID", "ID", {"N11678801", "N11678868", "N11678902", "N11678950"}},
        {"Vorname", "Vorname, Name", {"N11678902", "N11678950", "N11678868", "N11678801"}},
        {"Jahrgang", "Jahrgang, Name, Vorname", {"N11678801", "N11678902", "N11678950", "N11678868"}},
        {"AK", "AK, Name, Vorname", {"N11678950", "N11678801", "N11678902", "N11678868"}},
        {"Disziplin1", "Disziplin1, AK, Name, Vorname", {"N11678950", "N11678902", "N11678868", "N11678801"}},
        {"Disziplin2", "Disziplin2, AK, Name, Vorname", {"N11678950", "N11678902", "N11678801", "N11678868"}},
        {"Disziplin3", "Disziplin3, AK, Name, Vorname", {"N11678950", "N11678868", "N11678801", "N11678902"}},
        {"Staffel", "Staffel, AK, Name, Vorname", {"N11678950", "N11678801", "N11678868", "N11678902"}},
        {"Name", "Name, Vorname", {"N11678801", "N11678902", "N11678868", "N11678950"}},
        {"Schule", "Name, Vorname", {"N11678801", "N11678902", "N11678868", "N11678950"}},  // not a sort title
    };
    SelectRow("N11678868");
    ASSERT_EQ(Card("LbId"), QStringLiteral("N11678868"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        ClickTitle(QString::fromLatin1(c.title));
        EXPECT_EQ(W().SortClause(), c.clause);
        EXPECT_EQ(GridIds(), c.order);
        EXPECT_EQ(Card("LbId"), QStringLiteral("N11678868"));
        EXPECT_EQ(GridCurrentId(), "N11678868");
    }
}

TEST_F(ListOrder, AnUnknownTitleKeepsTheClauseAndEveryShowingResetsIt) {
    W().DBGMainTitleClick(QStringLiteral("Jahrgang"));
    W().DBGMainTitleClick(QStringLiteral("Unbekannt"));
    EXPECT_EQ(W().SortClause(), "Jahrgang, Name, Vorname");
    W().hide();
    W().show();
    EXPECT_EQ(W().SortClause(), "Name, Vorname");
    EXPECT_EQ(GridIds().front(), "N11678801");
    EXPECT_EQ(Card("LbId"), QStringLiteral("N11678801"));  // the first row is current again
}

TEST_F(ListOrder, RegistrationsOfAnotherSchoolAreNotListed) {
    const auto ids = GridIds();
    EXPECT_EQ(ids.size(), 4U);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), "N11678999"), 0);
    EXPECT_EQ(Registrations().count("N11678999"), 1U);
}

// ---- The card ----

class CardOfTheList : public ListWindow {};

TEST_F(CardOfTheList, ShowsNamesOfTheCodesAndFollowsTheCurrentRow) {
    struct Case {
        const char* id;
        std::vector<QString> labels;  // LbName … LbVerein
    };
    const Case cases[] = {
        {"N11678801",
         {"Albers", "Tom", "Albers, Tom", "1999", "Jungen 12/13", "Weitsprung", "Ballwurf", "Sprint 50 m", "",
          "Grundschule Talheim"}},
        {"N11678902",
         {"Maier", "Anna", "Maier, Anna", "2000", QStringLiteral("Mädchen 10/11"), "Ballwurf", "", "Weitsprung",
          "Staffel 4x50 m", "Grundschule Talheim"}},
        {"N11678950", {"Zeller", "Bea", "Zeller, Bea", "2000", "", "", "", "", "", "Grundschule Talheim"}},
    };
    const char* labels[] = {"LbName", "LbVorname", "LbNameVorname", "LbJahrgang", "LbAK",
                            "LbDisz1", "LbDisz2",  "LbDisz3",       "LbStaffel",  "LbVerein"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        SelectRow(c.id);
        EXPECT_EQ(Card("LbId"), QString::fromLatin1(c.id));
        for (std::size_t i = 0; i < std::size(labels); ++i) EXPECT_EQ(Card(labels[i]), c.labels[i]) << labels[i];
    }
    EXPECT_TRUE(Child<QLabel>("LbName").isHidden());
    EXPECT_TRUE(Child<QLabel>("LbVorname").isHidden());
    EXPECT_EQ(W().findChild<QTabWidget*>("PCCard")->tabText(0), QStringLiteral("Karteikarte"));
}

TEST_F(CardOfTheList, UnknownCodesAndAMissingNameShowAsStored) {
    std::vector<std::string> statements = SampleSchema();
    statements.push_back("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, "
                         "Staffel, VereinID) VALUES(\"N11670001\", \"\", \"Ida\", 2002, \"X99\", \"ZZZ\", \"BAL\", "
                         "\"\", \"YY\", \"V00000001\")");
    TearDown();
    Open(statements);
    SelectRow("N11670001");
    EXPECT_EQ(Card("LbNameVorname"), QStringLiteral("Ida"));
    EXPECT_EQ(Card("LbAK"), QStringLiteral("X99"));
    EXPECT_EQ(Card("LbDisz1"), QStringLiteral("ZZZ"));
    EXPECT_EQ(Card("LbDisz2"), QStringLiteral("Ballwurf"));
    EXPECT_EQ(Card("LbStaffel"), QStringLiteral("YY"));
}

TEST_F(CardOfTheList, LookupsPassWhatTheyDoNotKnow) {
    struct Case {
        std::string (TFormDatabase::*lookup)(const std::string&);
        std::string given;
        std::string found;
    };
    const Case cases[] = {
        {&TFormDatabase::GetAK, "W41", "Mädchen 10/11"},
        {&TFormDatabase::GetAK, "Mädchen 10/11", "Mädchen 10/11"},
        {&TFormDatabase::GetAK, "", ""},
        {&TFormDatabase::GetAKKuerzel, "Jungen 12/13", "M31"},
        {&TFormDatabase::GetAKKuerzel, "M31", "M31"},
        {&TFormDatabase::GetAKKuerzel, "jungen 12/13", "jungen 12/13"},  // case-sensitive
        {&TFormDatabase::GetDisziplin, "STA", "Staffel 4x50 m"},
        {&TFormDatabase::GetDisziplinKuerzel, "Weitsprung", "WEI"},
        {&TFormDatabase::GetDisziplinKuerzel, "-", "-"},
        {&TFormDatabase::GetDisziplinKuerzel, "x\" OR Kuerzel<>\"", "x\" OR Kuerzel<>\""},
    };
    for (const Case& c : cases) EXPECT_EQ((W().*c.lookup)(c.given), c.found) << c.given;
}

TEST_F(CardOfTheList, EmptyCardFormClearsEveryLabel) {
    W().EmptyCardForm();
    for (const char* label : {"LbId", "LbName", "LbVorname", "LbNameVorname", "LbJahrgang", "LbAK", "LbDisz1",
                              "LbDisz2", "LbDisz3", "LbStaffel", "LbVerein"}) {
        EXPECT_TRUE(Card(label).isEmpty()) << label;
    }
}

TEST_F(CardOfTheList, PointingAtTheIdentifierTellsWhenItWasMade) {
    struct Case {
        QString id;
        QString hintStart;
    };
    const Case cases[] = {
        {"N11678868", "angelegt am 14.11.2011 19:24"},
        {"V00000001", "angelegt am 03.09.1999 00:00:02"},
        {"N1167886a", "angelegt am ???"},  // a lower-case digit cannot be read
        {"N116788", "angelegt am ???"},
    };
    QLabel& id = Child<QLabel>("LbId");
    for (const Case& c : cases) {
        id.setText(c.id);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&id, &enter);
        EXPECT_TRUE(id.toolTip().startsWith(c.hintStart)) << id.toolTip().toStdString();
    }
}

// ---- Record count and enabled commands ----

class CountAndCommands : public ListWindow {
protected:
    [[nodiscard]] bool CommandsEnabled() {
        const bool copy = Child<QToolButton>("SBNameCopyEdit").isEnabled();
        EXPECT_EQ(Child<QToolButton>("SBNameEdit").isEnabled(), copy);
        EXPECT_EQ(Child<QToolButton>("SBErase").isEnabled(), copy);
        return copy;
    }
};

TEST_F(CountAndCommands, StatusBarCountsTheListedRows) {
    EXPECT_EQ(W().SBar().PanelText(0), QStringLiteral("4 Einträge"));
    EXPECT_EQ(W().SBar().PanelText(1), QStringLiteral("Datenbank:"));
    EXPECT_EQ(W().SBar().PanelText(2), path_);
    EXPECT_TRUE(CommandsEnabled());
    EXPECT_TRUE(Child<QToolButton>("SBNameNew").isEnabled());

    // Rows removed behind the window's back: the next reload counts again.
    (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute,
                                        "DELETE FROM Namen WHERE ID=\"N11678801\" OR ID=\"N11678868\";");
    W().ShowAndLocateDatabase("");
    EXPECT_EQ(W().SBar().PanelText(0), QStringLiteral("2 Einträge"));
    (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, "DELETE FROM Namen;");
    W().EmptyCardForm();
    W().ShowAndLocateDatabase("");
    EXPECT_EQ(W().SBar().PanelText(0), QStringLiteral("0 Einträge"));
    EXPECT_FALSE(CommandsEnabled());
    EXPECT_TRUE(Card("LbId").isEmpty());
}

TEST_F(CountAndCommands, AnEmptyListDisablesEditCopyAndErase) {
    TearDown();
    std::vector<std::string> statements = SampleSchema();
    statements.push_back("DELETE FROM Namen");
    Open(statements);
    EXPECT_FALSE(CommandsEnabled());
    EXPECT_EQ(W().SBar().PanelText(0), QStringLiteral("0 Einträge"));
    // Erase ignores an identifier shorter than two characters even when called directly.
    for (const char* id : {"", "N"}) {
        Child<QLabel>("LbId").setText(QString::fromLatin1(id));
        W().SBEraseClick();
    }
    EXPECT_TRUE(messages_.empty());
}

// ---- Keys and clicks ----

class KeysOnTheGrid : public ListWindow {};

TEST_F(KeysOnTheGrid, TypedCharactersChooseTheAction) {
    enum class Action { None, Erase, Edit, Copy, New };
    struct Case {
        Qt::Key key;
        QString text;
        Action action;
    };
    const Case cases[] = {
        {Qt::Key_L, "l", Action::Erase},       {Qt::Key_Backspace, "\b", Action::Erase},
        {Qt::Key_E, "e", Action::Edit},        {Qt::Key_B, "b", Action::Edit},
        {Qt::Key_Return, "\r", Action::Edit},  {Qt::Key_K, "k", Action::Copy},
        {Qt::Key_N, "n", Action::New},         {Qt::Key_N, "N", Action::None},
        {Qt::Key_E, "E", Action::None},        {Qt::Key_X, "x", Action::None},
        {Qt::Key_Space, " ", Action::None},
    };
    QTableView& grid = W().DBGMain();
    grid.setFocus();
    const auto before = Registrations();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        SelectRow("N11678902");
        messages_.clear();
        answerer_->showings.clear();
        QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier, c.text);
        QApplication::sendEvent(&grid, &press);
        QKeyEvent release(QEvent::KeyRelease, c.key, Qt::NoModifier, c.text);
        QApplication::sendEvent(&grid, &release);
        const bool asked = !messages_.empty();
        const bool formShown = !answerer_->showings.empty();
        EXPECT_EQ(asked, c.action == Action::Erase);
        EXPECT_EQ(formShown, c.action == Action::Edit || c.action == Action::Copy || c.action == Action::New);
        if (formShown) {
            const auto& shown = answerer_->showings.front();
            switch (c.action) {
            case Action::Edit: EXPECT_EQ(shown.id, QStringLiteral("N11678902")); break;
            case Action::Copy: EXPECT_EQ(shown.inputs.name, QStringLiteral("Kopie: Maier")); break;
            case Action::New: EXPECT_TRUE(shown.inputs.name.isEmpty()); break;
            default: break;
            }
        }
        // Every action was answered with No or Cancel: nothing changed.
        EXPECT_EQ(Registrations(), before);
    }
}

TEST_F(KeysOnTheGrid, ReleasingDeleteErasesAfterConfirmation) {
    answer_ = mbYes;
    SelectRow("N11678868");
    QTest::keyRelease(&W().DBGMain(), Qt::Key_Delete);
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(Registrations().count("N11678868"), 0U);
}

TEST_F(KeysOnTheGrid, LabelsBesideTheButtonsActLikeThem) {
    SelectRow("N11678801");
    QTest::mouseClick(&Child<QLabel>("LbErase"), Qt::LeftButton);
    EXPECT_EQ(messages_.size(), 1U);
    QTest::mouseClick(&Child<QLabel>("LbNameEdit"), Qt::LeftButton);
    QTest::mouseClick(&Child<QLabel>("LbNameNew"), Qt::LeftButton);
    ASSERT_EQ(answerer_->showings.size(), 2U);
    EXPECT_EQ(answerer_->showings[0].id, QStringLiteral("N11678801"));
    EXPECT_NE(answerer_->showings[1].id, QStringLiteral("N11678801"));
    EXPECT_EQ(Child<QLabel>("LbNameCopyEdit").text(), QStringLiteral("Kopieren & Bearbeiten"));
}

TEST_F(KeysOnTheGrid, DoubleClickEdits) {
    SelectRow("N11678950");
    QTableView& grid = W().DBGMain();
    const QRect cell = grid.visualRect(grid.currentIndex());
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(answerer_->showings.size(), 1U);
    EXPECT_EQ(answerer_->showings[0].id, QStringLiteral("N11678950"));
}

// ---- Window, menu and help ----

class WindowFrame : public ListWindow {};

TEST_F(WindowFrame, CaptionsHintsAndMenu) {
    EXPECT_GE(W().minimumWidth(), 576);
    EXPECT_GE(W().minimumHeight(), 368);
    const std::pair<const char*, const char*> hints[] = {
        {"SBTakeSchool", "Namen der Schule speichern"},
        {"SBExit", "Beenden"},
        {"SBNameNew", "(n) Neuen Eintrag erzeugen"},
        {"SBNameCopyEdit", "(k) Eintrag als neuen kopieren und bearbeiten"},
        {"SBNameEdit", "(e) Eintrag bearbeiten"},
        {"SBErase", "(l) Eintrag löschen"},
    };
    for (const auto& [name, hint] : hints) EXPECT_EQ(Child<QToolButton>(name).toolTip(), QString::fromUtf8(hint)) << name;
    EXPECT_EQ(Child<QToolButton>("SBTakeSchool").text(), QStringLiteral("Übernehmen"));
    EXPECT_EQ(Child<QLabel>("Label1").text(), QStringLiteral("Bitte tragen Sie zuerst die Angaben zu  Ihrer Schule oben ein."));
    const std::pair<const char*, const char*> items[] = {
        {"Meldungenimportieren1", "Meldungen importieren"}, {"ltereMeldungen20091", "ältere Meldungen (2009)"},
        {"Meldungenausdrucken1", "Meldungen ausdrucken ..."}, {"nachQUV1", "nach QUV"},
        {"Meldungenprfen1", "Meldungen prüfen"},            {"Hilfe2", "&Hilfe"},
    };
    for (const auto& [name, text] : items) {
        QAction* action = W().findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->text(), QString::fromUtf8(text));
    }
    EXPECT_EQ(W().findChild<QAction*>("Hilfe2")->shortcut(), QKeySequence(Qt::Key_F1));

    if (qEnvironmentVariableIsSet("KOVA_SCREENSHOTS")) {
        W().SBar().SetPanelText(2, QStringLiteral("/home/schule/Meldungen/schule.abs"));
        QApplication::processEvents();
        EXPECT_TRUE(W().grab().save(QStringLiteral("/tmp/FormDatabase.png")));
        W().EdSchoolEnter();
        QApplication::processEvents();
        EXPECT_TRUE(W().grab().save(QStringLiteral("/tmp/FormDatabase_expanded.png")));
    }
}

TEST_F(WindowFrame, HelpWithoutAHelpFileSaysSo) {
    W().findChild<QAction*>("Hilfe2")->trigger();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_TRUE(messages_[0].systemBox);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Keine Hilfe"));
    EXPECT_EQ(messages_[0].text, QStringLiteral("Hilfedatei \r\"") + HelpFileName() + QStringLiteral("\"\r nicht verfügbar."));
}

TEST_F(WindowFrame, ExitClosesTheWindow) {
    QTest::mouseClick(&Child<QToolButton>("SBExit"), Qt::LeftButton);
    EXPECT_FALSE(W().isVisible());
}

} // namespace
} // namespace kova::app::test
