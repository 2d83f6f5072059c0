// The template editor "Vorlage erstellen ...": what it reads from the copy, its school years, the
// validation that keeps "Fertig" disabled, what it writes, and the admin command around it
// (catalogue, save dialog, copy, editor, written template or deleted copy).
#include "file_commands_fixture.h"

#include "files/EditTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>

#include <algorithm>
#include <functional>
#include <map>

namespace kova::app::test {
namespace {

constexpr std::size_t kW41 = 0, kM41 = 1, kW31 = 2, kM31 = 3, kW21 = 4, kM21 = 5, kW11 = 6, kM11 = 7;

QString DayText(const QDate& date) { return date.toString(QStringLiteral("dd.MM.yyyy")); }

// Types `text` key by key; umlauts and ß come as the text of a key the test library cannot name.
void TypeText(QWidget& widget, const QString& text) {
    for (const QChar ch : text) QTest::sendKeyEvent(QTest::Click, &widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

QByteArray FileHash(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// A template with all eight classes (W41 comes from the common shape with ages 10-11), an
// allowed discipline of W21, a school and one athlete, so that writing can be seen to leave
// other tables alone.
std::vector<std::string> EightClassTemplate(const TemplateShape& shape) {
    std::vector<std::string> statements = TemplateStatements(shape);
    const char* rows[] = {"\"M41\", \"Jungen 10/11\", \"M\", 10, 11", "\"W31\", \"Mädchen 12/13\", \"W\", 12, 13",
                          "\"M31\", \"Jungen 12/13\", \"M\", 12, 13", "\"W21\", \"Mädchen 14/15\", \"W\", 14, 15",
                          "\"M21\", \"Jungen 14/15\", \"M\", 14, 15", "\"W11\", \"Mädchen 16/17\", \"W\", 16, 17",
                          "\"M11\", \"Jungen 16/17\", \"M\", 16, 17"};
    for (const char* row : rows) {
        statements.push_back(std::string("INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(") + row + ")");
    }
    statements.push_back("INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W21\", \"SPR\")");
    statements.push_back("INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Grundschule Talheim\")");
    statements.push_back("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, VereinID) VALUES(\"N11678868\", \"Maier\", "
                         "\"Eva\", 2001, \"W41\", \"V00000001\")");
    return statements;
}

class TemplateEditor : public FileCommands {
protected:
    void TearDown() override {
        if (formEdit_) formEdit_->hide();
        formEdit_.reset();
        FormEditTemplate = previousEditor_;
        FileCommands::TearDown();
    }

    // The program with the Admin menu, its start-up already run, and an editor of the test's own.
    void StartEditorProgram() {
        StartProgram({QStringLiteral("/ADMIN")});
        FormMain->StartTimerTimer();
        previousEditor_ = FormEditTemplate;
        formEdit_ = std::make_unique<TFormEditTemplate>();
        FormEditTemplate = formEdit_.get();
    }

    TFormEditTemplate& Editor() { return *formEdit_; }

    // A file made from `statements` in the test's folder (not in the templates folder).
    QString MakeFileDatabase(const QString& name, const std::vector<std::string>& statements) {
        const QString path = folder_.filePath(name);
        MakeDatabase(path.toStdString(), statements);
        return path;
    }

    // Shows the editor (not modally) on the database file `path`, as the command does.
    void ShowEditorOn(const QString& path) {
        DM->ABSDB().SetDatabaseFileName(path.toStdString());
        Editor().show();
    }

    void CloseWorkingDatabase() {
        DM->ABSQH1().Close();
        DM->ABSQH2().Close();
        if (DM->ABSDB().Connected()) DM->ABSDB().Close();
    }

    // The values of `column` of every row of `select` in the file `path`.
    std::vector<std::string> Column(const QString& path, const std::string& select, const char* column) {
        CloseWorkingDatabase();
        DM->ABSDB().SetDatabaseFileName(path.toStdString());
        std::vector<std::string> values;
        TABSQuery& q = DM->ABSQH2();
        if (DM->TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, select)) {
            for (; !q.Eof(); q.Next()) {
                values.push_back(q.FieldByName(column).AsString());
                if (q.RecNo() == q.RecordCount()) break;
            }
        }
        CloseWorkingDatabase();
        return values;
    }

    std::string One(const QString& path, const std::string& select, const char* column) {
        const std::vector<std::string> values = Column(path, select, column);
        return values.size() == 1 ? values.front() : "<" + std::to_string(values.size()) + " rows>";
    }

    // Age ranges of every class, "Kuerzel:von-bis", in code order.
    std::vector<std::string> Ranges(const QString& path) {
        std::vector<std::string> ranges;
        const std::vector<std::string> codes = Column(path, "SELECT * FROM Klassen ORDER BY Kuerzel", "Kuerzel");
        const std::vector<std::string> low = Column(path, "SELECT * FROM Klassen ORDER BY Kuerzel", "AlterVon");
        const std::vector<std::string> high = Column(path, "SELECT * FROM Klassen ORDER BY Kuerzel", "AlterBis");
        for (std::size_t i = 0; i < codes.size() && i < low.size() && i < high.size(); ++i) {
            ranges.push_back(codes[i] + ":" + low[i] + "-" + high[i]);
        }
        return ranges;
    }

    // Puts the third tab in front and lets the validation run once.
    void ValidateOnAgesTab() {
        Editor().PCTemplate().setCurrentWidget(&Editor().TSAKs());
        Editor().Timer1Timer();
    }

    QAction* NewTemplateAction() {
        return FormMain->findChild<QAction*>(QStringLiteral("neuausaktuellemTemplateerstellen1"));
    }

    // Runs the admin command from the main window's menu: the catalogue is closed with OK (or
    // "Abbrechen" when `catalogueOk` is false), the save dialog answered with `target`, and the
    // editor, when it comes, handed to `edit`, which must close it.
    void RunCommand(const std::optional<QString>& target, std::function<void(TFormEditTemplate&)> edit,
                    bool catalogueOk = true) {
        dialogAnswer_ = target;
        (void)TFileDialog::SetRunner([this](const TFileDialog& dialog) {
            dialogTitles_.push_back(dialog.Title());
            dialogFolders_.push_back(dialog.InitialDir());
            dialogFilters_.push_back(dialog.Filter());
            return dialogAnswer_;
        });
        ModalScript script;
        script.Then(FormTemplates, [catalogueOk] {
            if (catalogueOk) {
                FormTemplates->BBOk().click();
            } else {
                FormTemplates->BBAbort().click();
            }
        });
        editorShown_ = false;
        if (edit) {
            script.Then(formEdit_.get(), [this, edit = std::move(edit)] {
                editorShown_ = true;
                edit(Editor());
            });
        }
        QAction* action = NewTemplateAction();
        ASSERT_NE(action, nullptr);
        action->trigger();
        unexpected_ = script.Unexpected();
        allStepsRan_ = script.Done();
    }

    std::unique_ptr<TFormEditTemplate> formEdit_;
    TFormEditTemplate* previousEditor_ = nullptr;
    std::vector<QString> dialogFolders_;
    std::vector<QString> dialogFilters_;
    std::vector<QString> unexpected_;
    bool editorShown_ = false;
    bool allStepsRan_ = false;
};

// ---- Reading the copy ----

TEST_F(TemplateEditor, CopyWithoutCompetitionLimitsOrCurrentClassesShowsTheDefaults) {
    StartEditorProgram();
    const QString path = MakeFileDatabase("leer.wbs", TemplateStatements({.competitionRow = false, .oldForm = true}));
    ShowEditorOn(path);
    TFormEditTemplate& e = Editor();
    EXPECT_EQ(e.windowTitle(), QStringLiteral("Vorlage erstellen ..."));
    EXPECT_EQ(e.WkDate().date(), QDate::currentDate());
    EXPECT_EQ(e.WkTimeStart().time(), QTime(10, 0));
    EXPECT_EQ(e.WkTimeEnd().time(), QTime(16, 0));
    EXPECT_EQ(e.EdWkName().text(), QStringLiteral("Kreisfinale \"Korvalla\", Kreis:"));
    EXPECT_EQ(e.EdWkLocation().text(), QStringLiteral("Bitte Ort angeben."));
    const int expectedLimits[] = {3, 1, 3, 12, 8};
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) {
        EXPECT_EQ(e.Limit(i).value(), expectedLimits[i]) << kTemplateLimits[i].name;
        EXPECT_EQ(e.Limit(i).objectName(), QString::fromLatin1(kTemplateLimits[i].name));
    }
    const int expectedAges[8][2] = {{10, 13}, {10, 13}, {12, 15}, {12, 15}, {14, 17}, {14, 17}, {16, 19}, {16, 19}};
    for (std::size_t c = 0; c < kTemplateClasses.size(); ++c) {
        EXPECT_EQ(e.AlterLow(c).value(), expectedAges[c][0]) << kTemplateClasses[c].code;
        EXPECT_EQ(e.AlterHigh(c).value(), expectedAges[c][1]) << kTemplateClasses[c].code;
        EXPECT_EQ(e.AlterLow(c).objectName(), QString::fromLatin1(kTemplateClasses[c].code) + "AlterLow");
    }
    for (std::size_t p = 0; p < kTemplatePairs.size(); ++p) EXPECT_FALSE(e.PairBox(p).isChecked()) << p;
    EXPECT_FALSE(e.BBOk().isEnabled());
    EXPECT_FALSE(e.LbError().isVisible());
    EXPECT_EQ(e.PCTemplate().currentWidget(), &e.TSDefaults());
    EXPECT_EQ(e.EdWkName().maxLength(), 59);
    EXPECT_EQ(e.EdWkLocation().maxLength(), 59);
}

TEST_F(TemplateEditor, ReadsDayNameTimesLimitsAndClassesOfTheCopy) {
    struct Case {
        const char* what;
        int daysFromToday;
        const char* zeitraum;
        QDate expectedDay;  // null: today
        QTime start;
        QTime end;
    };
    const QDate today = QDate::currentDate();
    const Case cases[] = {
        {"future day kept, full period", 40, "09:30-15:00", today.addDays(40), QTime(9, 30), QTime(15, 0)},
        {"past day replaced by today", -40, "09:30-15:00", QDate(), QTime(9, 30), QTime(15, 0)},
        {"blanks around the parts", 10, "8:05- 12:45", today.addDays(10), QTime(8, 5), QTime(12, 45)},
        {"no dash leaves the end", 10, "09:30", today.addDays(10), QTime(9, 30), QTime(16, 0)},
        {"unreadable start keeps both defaults", 10, "neun-15:00", today.addDays(10), QTime(10, 0), QTime(16, 0)},
    };
    StartEditorProgram();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray day = DayText(today.addDays(c.daysFromToday)).toLatin1();
        const QString path = MakeFileDatabase(QStringLiteral("t%1.wbs").arg(n++),
                                              TemplateStatements({.datum = day.constData(), .bezeichnung = "Bezirksfinale",
                                                                  .ort = "Überlingen", .zeitraum = c.zeitraum}));
        ShowEditorOn(path);
        TFormEditTemplate& e = Editor();
        EXPECT_EQ(e.WkDate().date(), c.expectedDay.isNull() ? today : c.expectedDay);
        EXPECT_EQ(e.WkTimeStart().time(), c.start);
        EXPECT_EQ(e.WkTimeEnd().time(), c.end);
        // Name and place come before the period, so a bad period keeps them.
        EXPECT_EQ(e.EdWkName().text(), QStringLiteral("Bezirksfinale"));
        EXPECT_EQ(e.EdWkLocation().text(), QStringLiteral("Überlingen"));
        // The common template stores 2 for every limit and holds the class W41 (10-11) only.
        for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) {
            EXPECT_EQ(e.Limit(i).value(), std::min(2, kTemplateLimits[i].maximum)) << kTemplateLimits[i].name;
        }
        EXPECT_EQ(e.AlterLow(kW41).value(), 10);
        EXPECT_EQ(e.AlterHigh(kW41).value(), 11);
        EXPECT_EQ(e.AlterHigh(kM41).value(), 13);  // M41 missing: its default
        EXPECT_TRUE(e.PairBox(0).isChecked());     // one class of the pair is enough
        for (std::size_t p = 1; p < kTemplatePairs.size(); ++p) EXPECT_FALSE(e.PairBox(p).isChecked());
        e.hide();
        CloseWorkingDatabase();
    }
}

TEST_F(TemplateEditor, SchoolYearsStartAYearBeforeTheCompetitionDay) {
    StartEditorProgram();
    const QDate day = QDate::currentDate().addYears(2);
    const QByteArray text = DayText(day).toLatin1();
    ShowEditorOn(MakeFileDatabase("jahr.wbs", TemplateStatements({.datum = text.constData()})));
    TFormEditTemplate& e = Editor();
    const int y = day.year();
    ASSERT_EQ(e.CBWkYear().count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(e.CBWkYear().itemText(i), QStringLiteral("%1/%2").arg(y - 1 + i).arg(y + i));
    }
    EXPECT_EQ(e.CBWkYear().currentIndex(), 0);

    // The third tab repeats the chosen school year, or a pattern when there is none.
    e.CBWkYear().setCurrentIndex(3);
    e.PCTemplate().setCurrentWidget(&e.TSAKs());
    EXPECT_EQ(e.LbSchoolYear().text(), QStringLiteral("%1/%2").arg(y + 2).arg(y + 3));
    e.PCTemplate().setCurrentWidget(&e.TSDefaults());
    e.CBWkYear().clear();
    e.PCTemplate().setCurrentWidget(&e.TSAKs());
    EXPECT_EQ(e.LbSchoolYear().text(), QStringLiteral("20xx/20yy"));
}

TEST_F(TemplateEditor, AgesAndLimitsAreSteppedNotTyped) {
    StartEditorProgram();
    ShowEditorOn(MakeFileDatabase("v.wbs", TemplateStatements({.competitionRow = false, .oldForm = true})));
    TFormEditTemplate& e = Editor();
    QSpinBox* boxes[] = {&e.AlterLow(kW41), &e.AlterHigh(kM11), &e.Limit(3)};
    for (QSpinBox* box : boxes) {
        SCOPED_TRACE(box->objectName().toStdString());
        const int before = box->value();
        QTest::keyClicks(box, QStringLiteral("7"));
        EXPECT_EQ(box->value(), before) << "typed digits are ignored";
        QTest::keyClick(box, Qt::Key_Up);
        EXPECT_EQ(box->value(), before + 1);
        box->setValue(box->maximum() + 5);
        EXPECT_EQ(box->value(), box->maximum());
    }
    EXPECT_EQ(e.AlterLow(kW41).maximum(), 120);
    EXPECT_EQ(e.Limit(0).maximum(), 3);
    EXPECT_EQ(e.Limit(2).maximum(), 4);
}

// ---- Validation ----

// Sets every class of one sex (offset 0: W, 1: M) to the given ranges, youngest first.
void SetChain(TFormEditTemplate& e, std::size_t sex, const std::array<std::pair<int, int>, 4>& ranges) {
    for (std::size_t i = 0; i < 4; ++i) {
        // Both bounds set from a wide range so the spin boxes never clamp on the way.
        e.AlterLow(2 * i + sex).setValue(ranges[i].first);
        e.AlterHigh(2 * i + sex).setValue(ranges[i].second);
    }
}

TEST_F(TemplateEditor, EveryClassWithItsUpperAgeBelowItsLowerOneKeepsFertigDisabled) {
    StartEditorProgram();
    ShowEditorOn(MakeFileDatabase("v.wbs", TemplateStatements({})));
    TFormEditTemplate& e = Editor();
    for (std::size_t c = 0; c < kTemplateClasses.size(); ++c) {
        SCOPED_TRACE(kTemplateClasses[c].code);
        const std::size_t sex = c % 2;
        const std::size_t position = c / 2;
        // Lower ages step from 10 to 11 at the class, upper ages from 10 to 11 after it: both
        // stay ascending, and only this class has its upper age below its lower one.
        std::array<std::pair<int, int>, 4> ranges{};
        for (std::size_t i = 0; i < 4; ++i) ranges[i] = {i < position ? 10 : 11, i <= position ? 10 : 11};
        SetChain(e, 1 - sex, {{{10, 10}, {10, 10}, {10, 10}, {10, 10}}});
        SetChain(e, sex, ranges);
        e.PairBox(position).setChecked(c % 4 < 2);  // ticked or not makes no difference
        ValidateOnAgesTab();
        EXPECT_FALSE(e.BBOk().isEnabled());
        EXPECT_TRUE(e.LbError().isVisible());
        // The same arrangement with the class's range mended is accepted.
        e.AlterHigh(c).setValue(11);
        e.Timer1Timer();
        EXPECT_TRUE(e.BBOk().isEnabled());
        EXPECT_FALSE(e.LbError().isVisible());
    }
}

TEST_F(TemplateEditor, AgesFallingFromOneClassToTheNextOlderKeepFertigDisabled) {
    StartEditorProgram();
    ShowEditorOn(MakeFileDatabase("v.wbs", TemplateStatements({})));
    TFormEditTemplate& e = Editor();
    for (std::size_t sex = 0; sex < 2; ++sex) {
        for (std::size_t older = 1; older < 4; ++older) {
            for (const bool lowerBound : {true, false}) {
                SCOPED_TRACE(std::string(kTemplateClasses[2 * older + sex].code) + (lowerBound ? " lower" : " upper"));
                SetChain(e, 0, {{{10, 20}, {10, 20}, {10, 20}, {10, 20}}});
                SetChain(e, 1, {{{10, 20}, {10, 20}, {10, 20}, {10, 20}}});
                ValidateOnAgesTab();
                ASSERT_TRUE(e.BBOk().isEnabled()) << "equal ages are allowed";
                if (lowerBound) {
                    e.AlterLow(2 * older + sex).setValue(9);  // below the younger class's 10
                } else {
                    e.AlterHigh(2 * (older - 1) + sex).setValue(21);  // the younger class ends later
                }
                e.Timer1Timer();
                EXPECT_FALSE(e.BBOk().isEnabled());
                EXPECT_TRUE(e.LbError().isVisible());
            }
        }
    }
}

TEST_F(TemplateEditor, FertigOnlyOnTheAgesTabWithCompleteTexts) {
    struct Case {
        const char* what;
        int tab;
        std::function<void(TFormEditTemplate&)> change;
        bool okEnabled;
        bool errorShown;
    };
    const Case cases[] = {
        {"defaults on the ages tab", 2, [](TFormEditTemplate&) {}, true, false},
        {"first tab", 0, [](TFormEditTemplate&) {}, false, false},
        {"second tab", 1, [](TFormEditTemplate&) {}, false, false},
        {"fault on the first tab stays quiet", 0, [](TFormEditTemplate& e) { e.EdWkName().setText("abc"); }, false, false},
        {"W31 from 11, W41 from 12", 2,
         [](TFormEditTemplate& e) {
             e.AlterLow(kW41).setValue(12);
             e.AlterLow(kW31).setValue(11);
         },
         false, true},
        {"name of 3 characters", 2, [](TFormEditTemplate& e) { e.EdWkName().setText("abc"); }, false, true},
        {"name of 4 characters", 2, [](TFormEditTemplate& e) { e.EdWkName().setText("abcd"); }, true, false},
        {"place of 3 characters", 2, [](TFormEditTemplate& e) { e.EdWkLocation().setText("Ulm"); }, false, true},
        {"no school year", 2, [](TFormEditTemplate& e) { e.CBWkYear().clear(); }, false, true},
    };
    StartEditorProgram();
    const QString path = MakeFileDatabase("v.wbs", TemplateStatements({.competitionRow = false, .oldForm = true}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ShowEditorOn(path);
        TFormEditTemplate& e = Editor();
        c.change(e);
        e.PCTemplate().setCurrentIndex(c.tab);
        EXPECT_FALSE(e.BBOk().isEnabled()) << "only the timer enables Fertig";
        e.Timer1Timer();
        EXPECT_EQ(e.BBOk().isEnabled(), c.okEnabled);
        EXPECT_EQ(e.LbError().isVisible(), c.errorShown);
        e.hide();
        CloseWorkingDatabase();
    }
}

TEST_F(TemplateEditor, TheRunningTimerEnablesFertigOnTheAgesTab) {
    StartEditorProgram();
    ShowEditorOn(MakeFileDatabase("v.wbs", TemplateStatements({})));
    TFormEditTemplate& e = Editor();
    EXPECT_EQ(e.Timer1().interval(), 1000);
    EXPECT_TRUE(e.Timer1().isActive());
    e.PCTemplate().setCurrentWidget(&e.TSAKs());
    QElapsedTimer waited;
    waited.start();
    while (!e.BBOk().isEnabled() && waited.elapsed() < 3000) QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(e.BBOk().isEnabled());
    e.hide();
    EXPECT_FALSE(e.Timer1().isActive());
}

// ---- Writing ----

TEST_F(TemplateEditor, WritesCompetitionLimitsAndAgesAndRemovesUntickedPairs) {
    StartEditorProgram();
    const QString path = MakeFileDatabase("w.wbs", EightClassTemplate({.datum = "24.03.2011", .zeitraum = "09:00-13:00"}));
    ShowEditorOn(path);
    TFormEditTemplate& e = Editor();
    for (std::size_t p = 0; p < kTemplatePairs.size(); ++p) ASSERT_TRUE(e.PairBox(p).isChecked());
    e.CBWkYear().clear();
    e.CBWkYear().addItems({QStringLiteral("2010/2011"), QStringLiteral("2011/2012")});
    e.CBWkYear().setCurrentIndex(0);
    e.WkDate().setDate(QDate(2011, 6, 1));
    e.WkTimeStart().setTime(QTime(8, 15));
    e.WkTimeEnd().setTime(QTime(14, 5));
    e.EdWkName().setText(QStringLiteral("Kreisfinale Süd"));
    e.EdWkLocation().setText(QStringLiteral("Talheim"));
    const int limits[] = {2, 0, 4, 99, 7};
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) e.Limit(i).setValue(limits[i]);
    SetChain(e, 0, {{{9, 11}, {11, 13}, {13, 15}, {15, 18}}});
    SetChain(e, 1, {{{10, 12}, {12, 14}, {14, 16}, {16, 19}}});
    e.PairBox(2).setChecked(false);  // W21/M21
    TTemplateWriter(*DM).Write(e.Values());
    e.hide();

    EXPECT_EQ(One(path, "SELECT * FROM Wettkampf", "WkJahr"), "2011");
    EXPECT_EQ(One(path, "SELECT * FROM Wettkampf", "Datum"), "01.06.2011");
    EXPECT_EQ(One(path, "SELECT * FROM Wettkampf", "Zeitraum"), "08:15-14:05");
    EXPECT_EQ(One(path, "SELECT * FROM Wettkampf", "Bezeichnung"), "Kreisfinale Süd");
    EXPECT_EQ(One(path, "SELECT * FROM Wettkampf", "Ort"), "Talheim");
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) {
        EXPECT_EQ(One(path, std::string("SELECT * FROM Settings WHERE VarName=\"") + kTemplateLimits[i].name + "\"", "VarValue"),
                  std::to_string(limits[i]))
            << kTemplateLimits[i].name;
    }
    EXPECT_EQ(Ranges(path), (std::vector<std::string>{"M11:16-19", "M31:12-14", "M41:10-12", "W11:15-18", "W31:11-13",
                                                      "W41:9-11"}));
    // The removed class's allowed discipline stays; the school and its athlete are untouched.
    EXPECT_EQ(Column(path, "SELECT * FROM KlasseDiszplin WHERE KlKuerzel=\"W21\"", "DzKuerzel"),
              std::vector<std::string>{"SPR"});
    EXPECT_EQ(One(path, "SELECT * FROM Namen", "Jahrgang"), "2001");
    EXPECT_EQ(One(path, "SELECT * FROM Verein", "Schule"), "Grundschule Talheim");
}

TEST_F(TemplateEditor, OlderCopyGetsLimitsAndACompetitionRowButNoNewClasses) {
    StartEditorProgram();
    const QString path = MakeFileDatabase("alt.wbs", TemplateStatements({.competitionRow = false, .oldForm = true}));
    const std::vector<std::string> classesBefore = Ranges(path);
    ShowEditorOn(path);
    TFormEditTemplate& e = Editor();
    e.EdWkLocation().setText(QStringLiteral("Musterstadt"));
    for (std::size_t p = 0; p < kTemplatePairs.size(); ++p) e.PairBox(p).setChecked(p % 2 == 0);
    const TTemplateValues values = e.Values();
    TTemplateWriter(*DM).Write(values);
    e.hide();
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) {
        EXPECT_EQ(One(path, std::string("SELECT * FROM Settings WHERE VarName=\"") + kTemplateLimits[i].name + "\"", "VarValue"),
                  std::to_string(kTemplateLimits[i].defaultValue));
    }
    EXPECT_EQ(Column(path, "SELECT * FROM Wettkampf", "Ort"), std::vector<std::string>{"Musterstadt"});
    EXPECT_EQ(One(path, "SELECT * FROM Wettkampf", "WkJahr"), std::to_string(QDate::currentDate().year()));
    EXPECT_EQ(Ranges(path), classesBefore);  // the WK… classes: nothing updated, nothing added
    ASSERT_EQ(classesBefore.size(), 8U);
}

TEST_F(TemplateEditor, HostileNameAndPlaceAreStoredAsTypedAndChangeNothingElse) {
    struct Case {
        const char* what;
        QString typed;
        QString stored;  // what the field keeps and the row then holds
    };
    const QString longText = QString(40, QChar(u'ä')) + QStringLiteral("\"ß\\") + QString(40, QChar(u'x'));
    const Case cases[] = {
        {"default name with quotes", TFormEditTemplate::DefaultName(), TFormEditTemplate::DefaultName()},
        {"statement fragment", QStringLiteral("x\", Jahrgang=1900 WHERE ID<>\""), QStringLiteral("x\", Jahrgang=1900 WHERE ID<>\"")},
        {"fragment closing the statement", QStringLiteral("a\"; DELETE FROM Namen; --"), QStringLiteral("a\"; DELETE FROM Namen; --")},
        {"backslashes", QStringLiteral("C:\\Vorlagen\\\\\"x"), QStringLiteral("C:\\Vorlagen\\\\\"x")},
        {"clause words", QStringLiteral("Sport and Spiel where from order by"), QStringLiteral("Sport and Spiel where from order by")},
        {"umlauts and sharp s", QStringLiteral("Größe Übung Äß"), QStringLiteral("Größe Übung Äß")},
        {"NUL inside", QStringLiteral("Kreis") + QChar(u'\0') + QStringLiteral("finale"), QStringLiteral("Kreisfinale")},
        {"only quotes", QStringLiteral("\"\"\"\""), QStringLiteral("\"\"\"\"")},
        {"longer than the field", longText, longText.left(59)},
    };
    StartEditorProgram();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = MakeFileDatabase(QStringLiteral("h%1.wbs").arg(n++), EightClassTemplate({}));
        ShowEditorOn(path);
        TFormEditTemplate& e = Editor();
        for (QLineEdit* field : {&e.EdWkName(), &e.EdWkLocation()}) {
            field->clear();
            if (c.typed.contains(QChar(u'\0'))) {
                field->setText(c.typed);  // pasted: no key types a NUL
            } else {
                TypeText(*field, c.typed);
            }
        }
        TTemplateWriter(*DM).Write(e.Values());
        e.hide();
        const std::string expected = QString(c.stored).remove(QChar(u'\0')).toStdString();
        EXPECT_EQ(Column(path, "SELECT * FROM Wettkampf", "Bezeichnung"), std::vector<std::string>{expected});
        EXPECT_EQ(Column(path, "SELECT * FROM Wettkampf", "Ort"), std::vector<std::string>{expected});
        EXPECT_EQ(Column(path, "SELECT * FROM Namen", "Jahrgang"), std::vector<std::string>{"2001"});
        EXPECT_EQ(Column(path, "SELECT * FROM Verein", "Schule"), std::vector<std::string>{"Grundschule Talheim"});
        EXPECT_EQ(Ranges(path).size(), 8U);
        EXPECT_EQ(Column(path, "SELECT * FROM Settings", "VarName").size(), 5U);
    }
}

TEST_F(TemplateEditor, QuotedLiteralTextDoublesQuotesAndDropsNul) {
    const struct {
        QString text;
        std::string literal;
    } cases[] = {
        {QStringLiteral("Kreisfinale \"Korvalla\", Kreis:"), "Kreisfinale \"\"Korvalla\"\", Kreis:"},
        {QStringLiteral("\""), "\"\""},
        {QStringLiteral("a\\b"), "a\\b"},
        {QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b"), "ab"},
        {QStringLiteral("Öl"), "Öl"},
        {QString(), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TTemplateWriter::QuotedLiteralText(c.text), c.literal) << c.literal;
}

// ---- The admin command ----

TEST_F(TemplateEditor, CommandCopiesTheChosenTemplateAndWritesTheEditorsValues) {
    const QString source = MakeTemplate(templates_, "Kreis.wbs", {.datum = "12.05.2011", .zeitraum = "09:30-15:00"});
    const QByteArray sourceBefore = FileHash(source);
    StartEditorProgram();
    ASSERT_TRUE(FormMain->AdminEnabled());
    const QString chosen = templates_.filePath("Neue Vorlage");
    RunCommand(chosen, [](TFormEditTemplate& e) {
        EXPECT_EQ(e.WkTimeStart().time(), QTime(9, 30));
        EXPECT_EQ(e.WkTimeEnd().time(), QTime(15, 0));
        EXPECT_EQ(e.EdWkName().text(), QStringLiteral("Kreisfinale"));
        e.EdWkName().setText(TFormEditTemplate::DefaultName());
        e.EdWkLocation().setText(QStringLiteral("Neustadt a. d. Aisch"));
        e.PCTemplate().setCurrentWidget(&e.TSAKs());
        e.PairBox(1).setChecked(true);  // the copy holds W41 only: W31/M31 have no row to update
        e.Timer1Timer();
        e.BBOk().click();
    });
    EXPECT_TRUE(allStepsRan_);
    EXPECT_TRUE(unexpected_.empty());
    EXPECT_TRUE(editorShown_);
    EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : messages_[0].text.toStdString());
    EXPECT_EQ(dialogTitles_, std::vector<QString>{QStringLiteral("Neues Template erzeugen und speichern als ...")});
    EXPECT_EQ(dialogFolders_, std::vector<QString>{TemplatesFolder()});
    EXPECT_EQ(dialogFilters_, std::vector<QString>{QStringLiteral("Vorlagen (*.wbs)|*.wbs|Alle Dateien (*.*)|*.*")});
    EXPECT_TRUE(DM->SaveTemplate().InitialDir().isEmpty());
    EXPECT_FALSE(DM->ABSDB().Connected());
    EXPECT_EQ(FileHash(source), sourceBefore);

    const QString target = chosen + ".wbs";
    ASSERT_TRUE(QFileInfo::exists(target));
    // The default name's quotes are stored as shown; the past day became today.
    EXPECT_EQ(One(target, "SELECT * FROM Wettkampf", "Bezeichnung"), "Kreisfinale \"Korvalla\", Kreis:");
    EXPECT_EQ(One(target, "SELECT * FROM Wettkampf", "Ort"), "Neustadt a. d. Aisch");
    EXPECT_EQ(One(target, "SELECT * FROM Wettkampf", "Datum"), DayText(QDate::currentDate()).toStdString());
    EXPECT_EQ(One(target, "SELECT * FROM Wettkampf", "WkJahr"), std::to_string(QDate::currentDate().year()));
    EXPECT_EQ(One(target, "SELECT * FROM Wettkampf", "Zeitraum"), "09:30-15:00");
    EXPECT_EQ(One(target, "SELECT * FROM Settings WHERE VarName=\"MaxNamenPerAKMitDisz\"", "VarValue"), "2");
    EXPECT_EQ(Ranges(target), std::vector<std::string>{"W41:10-11"});
}

TEST_F(TemplateEditor, CommandWriteErrorReachesTheErrorDisplayAndKeepsWhatWasWritten) {
    (void)MakeTemplate(templates_, "Kreis.wbs");
    StartEditorProgram();
    const QString target = templates_.filePath(QStringLiteral("Fehler.wbs"));
    RunCommand(target, [](TFormEditTemplate& e) {
        e.Limit(3).setValue(40);
        // A character the file's code page cannot hold fails the competition statement.
        e.EdWkName().setText(QStringLiteral("Kreisfinale ") + QChar(0x2713));
        e.PCTemplate().setCurrentWidget(&e.TSAKs());
        e.Timer1Timer();
        e.BBOk().click();
    });
    EXPECT_TRUE(allStepsRan_);
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
    EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("Native error: 30053"))) << messages_[0].text.toStdString();
    EXPECT_FALSE(DM->ABSDB().Connected());
    ASSERT_TRUE(QFileInfo::exists(target));
    EXPECT_EQ(One(target, "SELECT * FROM Settings WHERE VarName=\"MaxNamenPerAKMitDisz\"", "VarValue"), "40");
    EXPECT_EQ(One(target, "SELECT * FROM Wettkampf", "Bezeichnung"), "Kreisfinale");
}

TEST_F(TemplateEditor, CommandLeftWithoutFertigDeletesTheCopy) {
    struct Case {
        const char* what;
        std::function<void(TFormEditTemplate&)> leave;
    };
    const Case cases[] = {
        {"Abbrechen", [](TFormEditTemplate& e) { e.BBAbort().click(); }},
        {"window closed", [](TFormEditTemplate& e) { e.reject(); }},
    };
    (void)MakeTemplate(templates_, "Kreis.wbs");
    StartEditorProgram();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString target = templates_.filePath(QStringLiteral("Abbruch.wbs"));
        RunCommand(target, c.leave);
        EXPECT_TRUE(allStepsRan_);
        EXPECT_TRUE(editorShown_);
        EXPECT_FALSE(QFileInfo::exists(target));
        EXPECT_FALSE(DM->ABSDB().Connected());
        EXPECT_TRUE(messages_.empty());
    }
}

TEST_F(TemplateEditor, CommandRefusesAnExistingTargetAndLeavesItAlone) {
    const QString source = MakeTemplate(templates_, "Kreis.wbs");
    StartEditorProgram();
    const QString existing = MakeFile(QStringLiteral("Vorhanden.wbs"), "bytes of another file");
    const QByteArray before = FileHash(existing);
    // Chosen without extension: the ".wbs" it gets makes it the existing file.
    RunCommand(folder_.filePath(QStringLiteral("Vorhanden")), [](TFormEditTemplate& e) { e.BBAbort().click(); });
    EXPECT_FALSE(editorShown_);
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].text, QStringLiteral("Diese Datenbank existiert und kann nicht neu erstellt werden."));
    EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
    EXPECT_EQ(FileHash(existing), before);
    EXPECT_FALSE(DM->ABSDB().Connected());

    // Choosing the source template itself is refused the same way.
    messages_.clear();
    const QByteArray sourceBefore = FileHash(source);
    RunCommand(source, [](TFormEditTemplate& e) { e.BBAbort().click(); });
    EXPECT_FALSE(editorShown_);
    EXPECT_EQ(messages_.size(), 1U);
    EXPECT_EQ(FileHash(source), sourceBefore);
}

TEST_F(TemplateEditor, CommandCancelledBeforeTheEditorCreatesNothing) {
    (void)MakeTemplate(templates_, "Kreis.wbs");
    StartEditorProgram();
    const QStringList before = templates_.entryList(QDir::Files);

    RunCommand(templates_.filePath("Neu"), {}, /*catalogueOk=*/false);
    EXPECT_TRUE(dialogTitles_.empty()) << "no save dialog after a cancelled catalogue";
    RunCommand(std::nullopt, {});
    EXPECT_EQ(dialogTitles_.size(), 1U);
    EXPECT_TRUE(DM->SaveTemplate().InitialDir().isEmpty());

    EXPECT_EQ(templates_.entryList(QDir::Files), before);
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(DM->ABSDB().Connected());
    EXPECT_TRUE(unexpected_.empty());
}

TEST_F(TemplateEditor, CommandWithAnEmptyTemplatesFolderCreatesNothing) {
    StartEditorProgram();
    RunCommand(templates_.filePath("Neu"), {});
    EXPECT_TRUE(dialogTitles_.empty());
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_TRUE(messages_[0].text.endsWith(QStringLiteral("wurde keine Wettkampfvorlage gefunden.")));
    EXPECT_TRUE(templates_.entryList(QDir::Files).isEmpty());
}

TEST_F(TemplateEditor, AdminMenuReachesTheCommand) {
    StartEditorProgram();
    QMenu* admin = FormMain->findChild<QMenu*>(QStringLiteral("Admin1"));
    ASSERT_NE(admin, nullptr);
    QMenu* templateMenu = admin->findChild<QMenu*>(QStringLiteral("emplate1"));
    ASSERT_NE(templateMenu, nullptr);
    QAction* action = NewTemplateAction();
    ASSERT_NE(action, nullptr);
    EXPECT_TRUE(templateMenu->actions().contains(action));
    EXPECT_EQ(action->text(), QStringLiteral("neu aus aktuellem Template erstellen"));
    EXPECT_TRUE(action->isEnabled());
}

} // namespace
} // namespace kova::app::test
