// The entry form offscreen on a small competition: its controls, filling it from the card, every
// validation rule with its mark and message, the year field, the override, the error list and
// hostile text in the name fields.
#include "meldung_fixture.h"

#include "app/MessageDlg.h"
#include "app/Platform.h"
#include "registrations/DBView.h"
#include "registrations/ErorList.h"
#include "registrations/Meldung.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace kova::app::test {
namespace {

const QStringList kMarkNames = {"LbXName", "LbXVorname", "LbXJahrgang", "LbXAK",
                                "LbXDisz1", "LbXDisz2", "LbXDisz3", "LbXStaffel"};

// The mark that belongs to a fault message, found by the message's field prefix.
QString MarkOf(const QString& message) {
    static const std::vector<std::pair<QString, QString>> prefixes = {
        {"Name:", "LbXName"},           {"Vorname:", "LbXVorname"},     {"Jahrgang:", "LbXJahrgang"},
        {"Altersklasse:", "LbXAK"},     {"Disziplin 1:", "LbXDisz1"},   {"Disziplin 2:", "LbXDisz2"},
        {"Disziplin 3:", "LbXDisz3"},   {"Staffel:", "LbXStaffel"},
    };
    for (const auto& [prefix, mark] : prefixes) {
        if (message.startsWith(prefix)) return mark;
    }
    return QString();
}

// Types `text` character by character, as a keyboard with any layout would deliver it.
void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// What a test sets in the form; nullptr for a list means no selection.
struct TEntry {
    QString name, firstName, year;
    const char* className = nullptr;
    const char* d1 = "- keine -";
    const char* d2 = "- keine -";
    const char* d3 = "- keine -";
    const char* relay = "- keine -";
};

class MeldungForm : public MeldungDatabase {
protected:
    void SetUp() override {
        MeldungDatabase::SetUp();
        (void)SetMessageHandler([this](const TMessageRequest& request) {
            messages_.push_back(request);
            return mbOK;
        });
        form_ = std::make_unique<TFormMeldung>();
        form_->SetCalendarYear([] { return 2026; });
        FormMeldung = form_.get();
    }
    void TearDown() override {
        FormMeldung = nullptr;
        form_.reset();
        (void)SetMessageHandler(nullptr);
        MeldungDatabase::TearDown();
    }

    template <typename T>
    T& Control(const QString& name) {
        T* control = form_->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name.toStdString();
        if (control == nullptr) throw std::runtime_error("no control " + name.toStdString());
        return *control;
    }

    static void Select(QComboBox& box, const char* text) {
        box.setCurrentIndex(text == nullptr ? -1 : box.findText(QString::fromUtf8(text), Qt::MatchExactly));
        if (text != nullptr) {
            EXPECT_GE(box.currentIndex(), 0) << "no item " << text << " in " << box.objectName().toStdString();
        }
    }

    void Enter(const TEntry& entry) {
        form_->FillFromCard({});
        form_->EdName().setText(entry.name);
        form_->EdVorname().setText(entry.firstName);
        form_->EdJahrgang().setText(entry.year);
        Select(form_->CBAK(), entry.className);
        Select(form_->CBDisz1(), entry.d1);
        Select(form_->CBDisz2(), entry.d2);
        Select(form_->CBDisz3(), entry.d3);
        Select(form_->CBStaffel(), entry.relay);
    }

    // The form's marks that are shown.
    std::set<QString> ShownMarks() {
        std::set<QString> shown;
        for (const QString& name : kMarkNames) {
            if (!Control<QLabel>(name).isHidden()) shown.insert(name);
        }
        return shown;
    }

    // Shows the form modally; `whileOpen` runs inside, after which a still open form is cancelled.
    int RunModal(const std::function<void()>& whileOpen) {
        QTimer::singleShot(0, form_.get(), [this, whileOpen] {
            whileOpen();
            if (form_->isVisible()) form_->reject();
        });
        return form_->ShowModal();
    }

    std::unique_ptr<TFormMeldung> form_;
    std::vector<TMessageRequest> messages_;
};

const TEntry kValid{"Maier", "Eva", "1995", "Mädchen 14/15", "Sprint 50 m", "Ballwurf", "- keine -", "Staffel 4x50 m"};

// ---- The window ----

TEST_F(MeldungForm, ControlsCarryTheirNamesLabelsAndLimits) {
    EXPECT_EQ(form_->windowTitle(), QStringLiteral("Meldung erfassen / bearbeiten"));
    EXPECT_EQ(form_->minimumSize(), QSize(424, 279));
    const std::map<QString, int> limits = {{"EdName", 20}, {"EdVorname", 20}, {"EdJahrgang", 4}};
    for (const auto& [name, limit] : limits) EXPECT_EQ(Control<QLineEdit>(name).maxLength(), limit) << name.toStdString();
    for (const char* name : {"EdName", "EdVorname"}) EXPECT_TRUE(Control<QLineEdit>(name).font().bold()) << name;
    for (const char* name : {"CBAK", "CBDisz1", "CBDisz2", "CBDisz3", "CBStaffel"}) {
        EXPECT_FALSE(Control<QComboBox>(name).isEditable()) << name;
    }
    for (const char* name : {"CBDisz1", "CBDisz2", "CBDisz3", "CBStaffel"}) {
        EXPECT_EQ(Control<QComboBox>(name).maxVisibleItems(), 15) << name;
    }
    for (const QString& name : kMarkNames) EXPECT_EQ(Control<QLabel>(name).text(), QStringLiteral("?"));
    EXPECT_EQ(Control<QToolButton>("SBError").toolTip(), QStringLiteral("Was ist falsch?"));
    EXPECT_EQ(Control<QLabel>("LbVereinId").text(), QStringLiteral("V00000001"));
    EXPECT_TRUE(Control<QLabel>("LbVereinId").isHidden());
    EXPECT_TRUE(Control<QLabel>("Label7").wordWrap());
    EXPECT_EQ(Control<QLabel>("Label7").text(),
              QStringLiteral("Die namentliche Meldung der Staffel inkl. der Reihenfolge der Läufer geben Sie bitte "
                             "am Wettkampftag vor Wettkampfbeginn im Wettkampfbüro ab."));
    EXPECT_TRUE(form_->BBOk().isDefault());
    EXPECT_EQ(form_->BBAbort().text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(form_->TimerCanSave().interval(), 200);
    EXPECT_TRUE(form_->TimerCanSave().isActive());

    // The labels in front of the inputs, as the user reads them.
    const std::map<QString, QString> buddies = {{"EdName", "Name:"},       {"EdVorname", "Vorname:"},
                                                {"EdJahrgang", "Geb.-Jahr:"}, {"CBAK", "Altersklasse:"}};
    for (QLabel* label : form_->findChildren<QLabel*>()) {
        if (label->buddy() != nullptr) {
            ASSERT_TRUE(buddies.count(label->buddy()->objectName()));
            EXPECT_EQ(label->text(), buddies.at(label->buddy()->objectName()));
        }
    }
    QStringList texts;
    for (QLabel* label : form_->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("startet in den Disziplinen")));
    EXPECT_TRUE(texts.contains(QStringLiteral("und in der Staffel:")));
}

TEST_F(MeldungForm, PopupOnAbortOffersTheOverride) {
    auto& popup = Control<QMenu>("PMDoOk");
    const QList<QAction*> actions = popup.actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Eingabefehler"));
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("Eingaben trotzdem übernehmen"));
    EXPECT_EQ(actions[2]->objectName(), QStringLiteral("Eingabentrotzdembernehmen1"));
    EXPECT_EQ(form_->BBAbort().contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(MeldungForm, HelpMenuWithF1ReportsAMissingHelpFile) {
    auto& bar = Control<QMenuBar>("MainMenu1");
    ASSERT_EQ(bar.actions().size(), 1);
    EXPECT_EQ(bar.actions()[0]->text(), QStringLiteral("Hilfe"));
    auto& help = Control<QAction>("Hilfe2");
    EXPECT_EQ(help.text(), QStringLiteral("Hilfe"));
    EXPECT_EQ(help.shortcut(), QKeySequence(Qt::Key_F1));
    ASSERT_FALSE(QFileInfo::exists(HelpFileName()));
    help.trigger();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_TRUE(messages_[0].systemBox);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Keine Hilfe"));
    EXPECT_EQ(messages_[0].text, QStringLiteral("Hilfedatei \r\"") + HelpFileName() + QStringLiteral("\"\r nicht verfügbar."));
}

TEST_F(MeldungForm, FitsItsMinimumSize) {
    form_->FillFromCard({});
    form_->resize(form_->minimumSize());
    form_->show();
    QApplication::processEvents();
    EXPECT_TRUE(form_->grab().save(QStringLiteral("/tmp/FormMeldung.png")));
    const QStringList names = {"EdName", "EdVorname", "EdJahrgang", "CBAK", "CBDisz1", "CBDisz2", "CBDisz3",
                               "CBStaffel", "Label7", "BBOk", "BBAbort"};
    for (const QString& name : names + kMarkNames) {
        const QWidget& widget = Control<QWidget>(name);
        const QRect inForm(widget.mapTo(form_.get(), QPoint(0, 0)), widget.size());
        EXPECT_TRUE(form_->rect().contains(inForm)) << name.toStdString();
        EXPECT_GE(widget.width(), widget.minimumSizeHint().width()) << name.toStdString();
    }
    form_->hide();
}

// ---- Filling from the card ----

TEST_F(MeldungForm, ListsAreFilledInOrderAndByUse) {
    form_->FillFromCard({});
    const auto items = [](const QComboBox& box) {
        QStringList texts;
        for (int i = 0; i < box.count(); ++i) texts << box.itemText(i);
        return texts;
    };
    EXPECT_EQ(items(form_->CBAK()),
              (QStringList{"Jungen 10/11", "Jungen 14/15", "Lehrer", "Mädchen 10/11", "Mädchen 14/15"}));
    const QStringList individual = {"- keine -", "Sprint 50 m", "Ballwurf", "BALLWURF", "Weitsprung", "Hoch \"Sprung\""};
    EXPECT_EQ(items(form_->CBDisz1()), individual);
    EXPECT_EQ(items(form_->CBDisz2()), individual);
    EXPECT_EQ(items(form_->CBDisz3()), individual);
    EXPECT_EQ(items(form_->CBStaffel()), (QStringList{"- keine -", "Weitsprung", "Staffel 4x50 m"}));
    // A new registration: no class yet, every discipline list on its first entry.
    EXPECT_EQ(form_->CBAK().currentIndex(), -1);
    for (QComboBox* box : {&form_->CBDisz1(), &form_->CBDisz2(), &form_->CBDisz3(), &form_->CBStaffel()}) {
        EXPECT_EQ(box->currentIndex(), 0) << box->objectName().toStdString();
    }

    // Refilling replaces the items instead of adding to them.
    form_->FillFromCard({});
    EXPECT_EQ(form_->CBDisz1().count(), individual.size());
    EXPECT_EQ(form_->CBAK().count(), 5);
}

TEST_F(MeldungForm, CardOfAnExistingRegistrationSelectsItsEntriesIgnoringCase) {
    form_->FillFromCard({"N11678868", "Maier", "Eva", "1995", "mädchen 14/15", "BALLWURF", "unbekannt", "- KEINE -",
                         "staffel 4x50 m"});
    EXPECT_EQ(form_->LbId().text(), QStringLiteral("N11678868"));
    const TFormMeldung::TInputs in = form_->Inputs();
    EXPECT_EQ(in.name, QStringLiteral("Maier"));
    EXPECT_EQ(in.firstName, QStringLiteral("Eva"));
    EXPECT_EQ(in.year, QStringLiteral("1995"));
    EXPECT_EQ(in.className, QStringLiteral("Mädchen 14/15"));
    // "BALLWURF" equals "Ballwurf" ignoring case, and "Ballwurf" comes first.
    EXPECT_EQ(in.discipline1, QStringLiteral("Ballwurf"));
    EXPECT_EQ(form_->CBDisz2().currentIndex(), -1);
    EXPECT_EQ(in.discipline2, QString());
    EXPECT_EQ(in.discipline3, QStringLiteral("- keine -"));
    EXPECT_EQ(in.relay, QStringLiteral("Staffel 4x50 m"));
}

TEST_F(MeldungForm, ClassListKeepsItsIndexForTheNextNewRegistration) {
    form_->FillFromCard({});
    form_->CBAK().setCurrentIndex(4);
    form_->FillFromCard({"N1", "", "", "", "Jungen 10/11", "", "", "", ""});
    EXPECT_EQ(form_->CBAK().currentText(), QStringLiteral("Mädchen 14/15")) << "an empty name selects nothing";

    // With fewer classes than the remembered index, nothing is selected.
    Execute("DELETE FROM Klassen WHERE SEX=\"M\"");
    form_->FillFromCard({});
    EXPECT_EQ(form_->CBAK().count(), 2);
    EXPECT_EQ(form_->CBAK().currentIndex(), -1);
}

TEST_F(MeldungForm, ListWindowFillsTheFormFromItsCard) {
    TFormDatabase list;
    list.FillCardForm("N11678868");
    list.FillMeldeformFromCard();
    const TFormMeldung::TInputs in = form_->Inputs();
    EXPECT_EQ(form_->LbId().text(), QStringLiteral("N11678868"));
    EXPECT_EQ(in.name, QStringLiteral("Maier"));
    EXPECT_EQ(in.firstName, QStringLiteral("Eva"));
    EXPECT_EQ(in.year, QStringLiteral("1995"));
    EXPECT_EQ(in.className, QStringLiteral("Mädchen 14/15"));
    EXPECT_EQ(in.discipline1, QStringLiteral("Ballwurf"));
    EXPECT_EQ(in.discipline2, QStringLiteral("Sprint 50 m"));
    EXPECT_EQ(in.discipline3, QStringLiteral("- keine -"));
    EXPECT_EQ(in.relay, QStringLiteral("Staffel 4x50 m"));
    EXPECT_TRUE(form_->Validate()) << form_->Faults().join('|').toStdString();

    // An empty card (a new registration) leaves the inputs empty.
    list.EmptyCardForm();
    list.FillMeldeformFromCard();
    EXPECT_EQ(form_->Inputs().name, QString());
    EXPECT_EQ(form_->LbId().text(), QString());
}

TEST_F(MeldungForm, ShowingMarksEverythingAndSelectsFirstEntries) {
    form_->FillFromCard({"N1", "Maier", "Eva", "1995", "Mädchen 14/15", "weg", "weg", "weg", "weg"});
    for (QComboBox* box : {&form_->CBDisz1(), &form_->CBDisz2(), &form_->CBDisz3(), &form_->CBStaffel()}) {
        ASSERT_EQ(box->currentIndex(), -1);
    }
    for (const QString& name : kMarkNames) Control<QLabel>(name).hide();
    form_->show();
    EXPECT_EQ(ShownMarks().size(), 8U);
    for (QComboBox* box : {&form_->CBDisz1(), &form_->CBDisz2(), &form_->CBDisz3(), &form_->CBStaffel()}) {
        EXPECT_EQ(box->currentIndex(), 0) << box->objectName().toStdString();
    }
    EXPECT_EQ(form_->focusWidget(), &form_->EdName());
    form_->hide();
}

// ---- Validation ----

TEST_F(MeldungForm, EveryRuleMarksItsInputAndExplainsItself) {
    struct Case {
        const char* title;
        TEntry entry;
        QStringList faults;
    };
    const QStringList noClassDisciplines = {
        "Disziplin 1: in gewählter AK nicht erlaubt.", "Disziplin 2: in gewählter AK nicht erlaubt.",
        "Disziplin 3: in gewählter AK nicht erlaubt.", "Staffel: in gewählter AK nicht erlaubt."};
    const Case cases[] = {
        {"all inputs pass", kValid, {}},
        {"new registration without a class",
         {"", "", "", nullptr},
         QStringList{"Name: Zu wenig Zeichen.", "Vorname: Zu wenig Zeichen.",
                     "Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!).", "Altersklasse: nicht gewählt."} +
             noClassDisciplines},
        {"empty year counts as age 100",
         {"", "", "", "Mädchen 14/15"},
         {"Name: Zu wenig Zeichen.", "Vorname: Zu wenig Zeichen.",
          "Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!).", "Altersklasse: passt nicht zum Jahrgang."}},
        {"class up to 100 takes the empty year", {"Kurz", "Kai", "", "Lehrer"},
         {"Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!)."}},
        {"two-digit year fits the class but is too short",
         {"Maier", "Eva", "95", "Mädchen 14/15", "Sprint 50 m"},
         {"Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!)."}},
        {"four characters that are no whole number",
         {"Maier", "Eva", "12-4", "Mädchen 14/15"},
         {"Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!).", "Altersklasse: passt nicht zum Jahrgang."}},
        {"class does not fit the year", {"Maier", "Eva", "1990", "Mädchen 14/15"},
         {"Altersklasse: passt nicht zum Jahrgang."}},
        {"same discipline in lists 1 and 3",
         {"Maier", "Eva", "1995", "Mädchen 14/15", "Ballwurf", "Sprint 50 m", "Ballwurf", "Staffel 4x50 m"},
         {"Disziplin 1: Disziplin mehrfach verwendet.", "Disziplin 3: Disziplin mehrfach verwendet."}},
        {"relay repeats an individual discipline",
         {"Maier", "Eva", "1995", "Mädchen 14/15", "Weitsprung", "- keine -", "- keine -", "Weitsprung"},
         {"Disziplin 1: Disziplin mehrfach verwendet.", "Staffel: Disziplin mehrfach verwendet."}},
        {"entries with \"-\" may repeat", {"Maier", "Eva", "1995", "Mädchen 14/15"}, {}},
        {"names differing in case are different disciplines",
         {"Maier", "Eva", "1995", "Mädchen 14/15", "Ballwurf", "BALLWURF", "- keine -", "- keine -"},
         {}},
        {"discipline not allowed in the class",
         {"Maier", "Eva", "2000", "Mädchen 10/11", "Ballwurf", "Sprint 50 m", "- keine -", "Staffel 4x50 m"},
         {"Disziplin 1: in gewählter AK nicht erlaubt.", "Staffel: in gewählter AK nicht erlaubt."}},
        {"not allowed is reported before twice",
         {"Maier", "Eva", "2000", "Mädchen 10/11", "Ballwurf", "Ballwurf", "Sprint 50 m", "- keine -"},
         {"Disziplin 1: in gewählter AK nicht erlaubt.", "Disziplin 2: in gewählter AK nicht erlaubt."}},
        {"no class: every discipline fails its class test",
         {"Maier", "Eva", "1995", nullptr},
         QStringList{"Altersklasse: nicht gewählt."} + noClassDisciplines},
        {"discipline name with a double quote",
         {"Maier", "Eva", "1995", "Mädchen 14/15", "Hoch \"Sprung\""},
         {}},
        {"name with a character the file cannot hold",
         {"Łukasz", "Zoë", "1995", "Mädchen 14/15"},
         {"Name: Das Zeichen „Ł“ kann nicht gespeichert werden."}},
        {"first name with a character the file cannot hold",
         {"Nguyen", "Thị", "1995", "Mädchen 14/15"},
         {"Vorname: Das Zeichen „ị“ kann nicht gespeichert werden."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        Enter(c.entry);
        for (const QString& name : kMarkNames) Control<QLabel>(name).show();
        Control<QToolButton>("SBError").show();

        const bool passed = form_->Validate();
        EXPECT_EQ(form_->Faults(), c.faults) << form_->Faults().join(" | ").toStdString();
        EXPECT_EQ(form_->ErrorList().Lines(), c.faults);
        EXPECT_EQ(passed, c.faults.isEmpty());
        EXPECT_EQ(form_->BBOk().isEnabled(), c.faults.isEmpty());
        EXPECT_TRUE(Control<QToolButton>("SBError").isHidden());
        std::set<QString> expectedMarks;
        for (const QString& fault : c.faults) expectedMarks.insert(MarkOf(fault));
        EXPECT_EQ(ShownMarks(), expectedMarks);
    }
}

TEST_F(MeldungForm, ValidationRunsOnlyWhileShownAndTheErrorListIsClosed) {
    Enter({"", "", "", nullptr});
    ASSERT_FALSE(form_->Validate());
    const QStringList before = form_->Faults();
    // Hidden: neither a change nor the timer's handler touches the result.
    form_->EdName().setText(QStringLiteral("Maier"));
    form_->TimerCanSaveTimer();
    EXPECT_EQ(form_->Faults(), before);

    form_->show();
    form_->EdVorname().setText(QStringLiteral("Eva"));  // a change runs the rules at once
    EXPECT_FALSE(form_->Faults().contains(QStringLiteral("Name: Zu wenig Zeichen.")));
    EXPECT_FALSE(form_->Faults().contains(QStringLiteral("Vorname: Zu wenig Zeichen.")));
    form_->hide();
}

TEST_F(MeldungForm, TimerNoticesChangesOfTheDatabase) {
    Enter(kValid);
    form_->show();
    form_->TimerCanSaveTimer();
    ASSERT_TRUE(form_->BBOk().isEnabled());
    Execute("DELETE FROM KlasseDiszplin WHERE KlKuerzel=\"W31\" AND DzKuerzel=\"BAL\"");
    QTest::qWait(300);
    EXPECT_FALSE(form_->BBOk().isEnabled());
    EXPECT_EQ(form_->Faults(), QStringList{"Disziplin 2: in gewählter AK nicht erlaubt."});
    form_->hide();
}

TEST_F(MeldungForm, DatabaseFaultsFailTheRulesWithoutAMessage) {
    Enter(kValid);
    Execute("DROP TABLE KlasseDiszplin");
    EXPECT_FALSE(form_->Validate());
    EXPECT_EQ(form_->Faults(),
              (QStringList{"Disziplin 1: in gewählter AK nicht erlaubt.", "Disziplin 2: in gewählter AK nicht erlaubt.",
                           "Disziplin 3: in gewählter AK nicht erlaubt.", "Staffel: in gewählter AK nicht erlaubt."}));
    EXPECT_TRUE(messages_.empty());
}

// ---- Year field ----

TEST_F(MeldungForm, YearFieldTakesDigitsAndMinusOnly) {
    struct Case {
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {{"1995", "1995"}, {"19a5", "195"}, {"abc", ""},  {"1-2.", "1-2"}, {"2,0x1", "201"},
                          {"123456", "1234"}, {"ß ü", ""},   {" 1 9", "19"}, {"-", "-"},   {"\"1\"", "1"}};
    for (const Case& c : cases) {
        form_->EdJahrgang().clear();
        Type(&form_->EdJahrgang(), QString::fromUtf8(c.typed));
        EXPECT_EQ(form_->EdJahrgang().text(), QString::fromUtf8(c.kept)) << c.typed;
    }
    form_->EdJahrgang().setText(QStringLiteral("1999"));
    form_->EdJahrgang().end(false);
    QTest::keyClick(&form_->EdJahrgang(), Qt::Key_Backspace);
    EXPECT_EQ(form_->EdJahrgang().text(), QStringLiteral("199"));
}

TEST_F(MeldungForm, PastedYearKeepsOnlyWhatTheKeyFilterWouldPass) {
    form_->EdJahrgang().clear();
    QApplication::clipboard()->setText(QStringLiteral("1x9;"));
    if (QApplication::clipboard()->text() != QStringLiteral("1x9;")) GTEST_SKIP() << "no clipboard on this platform";
    form_->EdJahrgang().paste();
    EXPECT_EQ(form_->EdJahrgang().text(), QStringLiteral("19"));
}

TEST_F(MeldungForm, LeavingTheYearFieldFoldsTheYear) {
    struct Case {
        const char* typed;
        const char* folded;
    };
    const Case cases[] = {{"95", "1995"}, {"26", "1926"}, {"25", "2025"}, {"", "1926"},
                          {"-", "1926"},  {"1995", "1995"}, {"-5", "1995"}, {"2027", "1927"}};
    for (const Case& c : cases) {
        form_->EdJahrgang().setText(QString::fromUtf8(c.typed));
        form_->EdJahrgangExit();
        EXPECT_EQ(form_->EdJahrgang().text(), QString::fromUtf8(c.folded)) << c.typed;
    }

    // The same through the focus: typing "95" and tabbing on.
    Enter(kValid);
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    form_->EdJahrgang().setFocus(Qt::TabFocusReason);
    form_->EdJahrgang().clear();
    Type(&form_->EdJahrgang(), QStringLiteral("95"));
    form_->TimerCanSaveTimer();
    EXPECT_TRUE(form_->Faults().contains(QStringLiteral("Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!).")));
    QTest::keyClick(&form_->EdJahrgang(), Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), &form_->EdJahrgang());
    EXPECT_EQ(form_->EdJahrgang().text(), QStringLiteral("1995"));
    form_->TimerCanSaveTimer();
    EXPECT_TRUE(form_->Faults().isEmpty()) << form_->Faults().join('|').toStdString();
    form_->hide();
}

// ---- Closing ----

TEST_F(MeldungForm, OkAcceptsOnlyWhatPassesNow) {
    Enter(kValid);
    EXPECT_EQ(RunModal([this] { QTest::mouseClick(&form_->BBOk(), Qt::LeftButton); }), QDialog::Accepted);

    // The database changed since the last run: OK looks again before it closes.
    Enter(kValid);
    EXPECT_EQ(RunModal([this] {
                  form_->TimerCanSaveTimer();
                  ASSERT_TRUE(form_->BBOk().isEnabled());
                  Execute("DELETE FROM Klassen WHERE Kuerzel=\"W31\"");
                  form_->BBOk().click();
                  EXPECT_TRUE(form_->isVisible());
                  EXPECT_FALSE(form_->BBOk().isEnabled());
              }),
              QDialog::Rejected);
}

TEST_F(MeldungForm, AbortEscapeAndClosingReject) {
    const std::vector<std::pair<const char*, std::function<void(TFormMeldung&)>>> closers = {
        {"Abbrechen", [](TFormMeldung& f) { QTest::mouseClick(&f.BBAbort(), Qt::LeftButton); }},
        {"Escape", [](TFormMeldung& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        {"close", [](TFormMeldung& f) { f.close(); }},
    };
    for (const auto& [title, closer] : closers) {
        Enter(kValid);
        EXPECT_EQ(RunModal([this, c = closer] {
                      form_->TimerCanSaveTimer();
                      c(*form_);
                  }),
                  QDialog::Rejected)
            << title;
    }
}

TEST_F(MeldungForm, OverrideAcceptsInSpiteOfFaults) {
    Enter({"", "", "95", nullptr});
    EXPECT_EQ(RunModal([this] {
                  form_->TimerCanSaveTimer();
                  EXPECT_FALSE(form_->BBOk().isEnabled());
                  Control<QAction>("Eingabentrotzdembernehmen1").trigger();
              }),
              QDialog::Accepted);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(form_->Inputs().year, QStringLiteral("95"));
}

TEST_F(MeldungForm, OverrideRefusesInputsThatCannotBeWritten) {
    struct Case {
        QString name, firstName, year;
        QString message;
    };
    const Case cases[] = {
        {"Maier", "Eva", "", "Der Geburtsjahrgang fehlt.\rOhne Jahrgang kann die Meldung nicht gespeichert werden."},
        {"Maier", "Eva", "12-4",
         "Der Geburtsjahrgang „12-4“ ist keine ganze Zahl.\rBitte geben Sie das Geburtsjahr vierstellig ein."},
        {"Maier", "Eva", "-", "Der Geburtsjahrgang „-“ ist keine ganze Zahl.\rBitte geben Sie das Geburtsjahr vierstellig ein."},
        {"Łukasz", "Eva", "1995", "Der Name enthält das Zeichen „Ł“, das nicht gespeichert werden kann."},
        {"Maier", "Thị", "1995", "Der Vorname enthält das Zeichen „ị“, das nicht gespeichert werden kann."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.year.toStdString() + " " + c.name.toStdString());
        messages_.clear();
        Enter({c.name, c.firstName, c.year, "Mädchen 14/15"});
        bool stayedOpen = false;
        EXPECT_EQ(RunModal([this, &stayedOpen] {
                      Control<QAction>("Eingabentrotzdembernehmen1").trigger();
                      stayedOpen = form_->isVisible();
                  }),
                  QDialog::Rejected);
        EXPECT_TRUE(stayedOpen);
        ASSERT_EQ(messages_.size(), 1U);
        EXPECT_EQ(messages_[0].type, TMsgDlgType::Error);
        EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
        EXPECT_EQ(messages_[0].text, c.message);
    }
}

// ---- Error list ----

TEST_F(MeldungForm, ErrorListOpensBelowTheFormAndKeepsItsLinesWhileOpen) {
    TFormErrors errors;
    FormErrors = &errors;
    EXPECT_EQ(errors.windowTitle(), QStringLiteral("? - Fehlerliste"));
    ASSERT_NE(errors.findChild<QListWidget*>(QStringLiteral("LBErrors")), nullptr);

    Enter({"", "Eva", "1995", "Mädchen 14/15"});
    form_->move(40, 30);
    form_->show();
    form_->TimerCanSaveTimer();
    const QStringList faults = {"Name: Zu wenig Zeichen."};
    ASSERT_EQ(form_->Faults(), faults);

    bool checked = false;
    QTimer::singleShot(0, &errors, [&] {
        EXPECT_TRUE(errors.isVisible());
        EXPECT_EQ(errors.pos(), form_->pos() + QPoint(100, 190));
        EXPECT_EQ(errors.size(), QSize(300, 150));
        EXPECT_EQ(errors.Lines(), faults);
        EXPECT_TRUE(errors.grab().save(QStringLiteral("/tmp/FormErrors.png")));
        // The user fixes the name while reading: the list stays as it was.
        form_->EdName().setText(QStringLiteral("Maier"));
        form_->TimerCanSaveTimer();
        EXPECT_EQ(errors.Lines(), faults);
        checked = true;
        errors.reject();
    });
    Control<QToolButton>("SBError").show();
    Control<QToolButton>("SBError").click();
    EXPECT_TRUE(checked);
    // Closed again: the next run rebuilds the list.
    form_->TimerCanSaveTimer();
    EXPECT_TRUE(errors.Lines().isEmpty());
    form_->hide();
    FormErrors = nullptr;
}

TEST_F(MeldungForm, EveryMarkOpensTheErrorList) {
    Enter({"", "", "", nullptr});
    form_->show();
    form_->TimerCanSaveTimer();
    for (const QString& name : kMarkNames) {
        bool opened = false;
        QTimer::singleShot(0, form_.get(), [&] {
            opened = form_->ErrorList().isVisible();
            form_->ErrorList().reject();
        });
        QTest::mouseClick(&Control<QLabel>(name), Qt::LeftButton);
        EXPECT_TRUE(opened) << name.toStdString();
    }
    form_->hide();
}

// ---- Hostile text ----

TEST_F(MeldungForm, HostileNamesReachTheInputsAsTyped) {
    // Typed as they are; only the field's limit of 20 characters cuts them.
    const QString cases[] = {
        "x\", Jahrgang=1900 WHERE ID<>\"",
        "O\"Neil",
        "Back\\slash\\",
        "Rock and Roll",
        "from where and",
        "'; DELETE FROM Namen",
        "Müßig-Ärger Öz",
        "Abcdefghijklmnopqrstuvwxyz0123456789",
    };
    for (const QString& typed : cases) {
        SCOPED_TRACE(typed.toStdString());
        Enter(kValid);
        for (QLineEdit* edit : {&form_->EdName(), &form_->EdVorname()}) {
            edit->clear();
            Type(edit, typed);
        }
        const TFormMeldung::TInputs in = form_->Inputs();
        EXPECT_EQ(in.name, typed.left(20));
        EXPECT_EQ(in.firstName, typed.left(20));
        EXPECT_TRUE(form_->Validate()) << form_->Faults().join('|').toStdString();
    }

    // A NUL cannot be typed but can arrive by other means; the form hands it on unchanged.
    Enter(kValid);
    const QString withNul = QStringLiteral("Ma") + QChar(u'\0') + QStringLiteral("ier");
    form_->EdName().setText(withNul);
    EXPECT_EQ(form_->Inputs().name, withNul);
    EXPECT_EQ(form_->Inputs().name.size(), 6);

    // Hostile text in the year field keeps only the digits and "-".
    form_->EdJahrgang().clear();
    Type(&form_->EdJahrgang(), QStringLiteral("1 WHERE 9\"9"));
    EXPECT_EQ(form_->Inputs().year, QStringLiteral("199"));
}

} // namespace
} // namespace kova::app::test
