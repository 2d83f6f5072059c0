// The template catalogue "Wettkampfvorlagen": which files of the templates folder it lists, in
// which order, what each row holds, which row is chosen, and the window itself.
#include "file_commands_fixture.h"

#include "files/TemplateCatalogue.h"

#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace kova::app::test {
namespace {

class TemplateCatalogue : public FileCommands {};

TEST_F(TemplateCatalogue, ListsTemplatesOldestFirstAndSelectsTheNewest) {
    // File names in another order than the dates, so the order can only come from the dates.
    const QString y2011 = MakeTemplate(templates_, "a_2011.wbs", {.datum = "12.05.2011", .bezeichnung = "Kreisfinale", .ort = "Musterstadt"});
    const QString y2010 = MakeTemplate(templates_, "b_2010.wbs", {.datum = "03.03.2010", .bezeichnung = "Vorrunde", .ort = "Talheim", .zeitraum = "08:00-12:00"});
    const QString y2012 = MakeTemplate(templates_, "c_2012.wbs", {.datum = "20.06.2012", .bezeichnung = "Landesfinale 'Süd'", .ort = "Großdorf"});
    StartProgram();
    FormMain->FillTemplateCatalogue();

    EXPECT_EQ(CatalogueColumn(TFormTemplates::colSortDate), (QStringList{"20100303", "20110512", "20120620"}));
    EXPECT_EQ(CatalogueColumn(TFormTemplates::colFile), (QStringList{y2010, y2011, y2012}));
    EXPECT_EQ(CatalogueColumn(TFormTemplates::colDatum), (QStringList{"03.03.2010", "12.05.2011", "20.06.2012"}));
    EXPECT_EQ(CatalogueColumn(TFormTemplates::colWettkampf),
              (QStringList{"Vorrunde", "Kreisfinale", QStringLiteral("Landesfinale 'Süd'")}));
    EXPECT_EQ(CatalogueColumn(TFormTemplates::colOrt), (QStringList{"Talheim", "Musterstadt", QStringLiteral("Großdorf")}));
    EXPECT_EQ(CatalogueColumn(TFormTemplates::colZeit), (QStringList{"08:00-12:00", "09:00-13:00", "09:00-13:00"}));
    EXPECT_EQ(FormTemplates->SelectedTemplatePath(), y2012);
    EXPECT_EQ(FormTemplates->LVTemplates().currentItem(), FormTemplates->LVTemplates().topLevelItem(2));

    // Reading leaves no template open and the working database alone.
    EXPECT_FALSE(DM->ABSDBTemplate().Connected());
    EXPECT_FALSE(DM->ABSQTemplate().Active());
    EXPECT_EQ(DM->ABSDB().DatabaseFileName(), "");
    EXPECT_TRUE(messages_.empty());

    // Building it again does not add rows.
    FormMain->FillTemplateCatalogue();
    EXPECT_EQ(FormTemplates->LVTemplates().topLevelItemCount(), 3);
}

TEST_F(TemplateCatalogue, LeavesOutWhatIsNoTemplate) {
    const QString upper = MakeTemplate(templates_, "GROSS.WBS", {.datum = "01.02.2011"});
    const QString hidden = MakeTemplate(templates_, ".versteckt.wbs", {.datum = "02.02.2011"});
    (void)MakeTemplate(templates_, "leer.wbs", {.competitionRow = false});       // no Wettkampf row
    (void)MakeTemplate(templates_, "schule.abs", {.datum = "03.02.2011"});       // not named like a template
    ASSERT_TRUE(templates_.mkpath("ordner.wbs"));                                 // a folder named like one
    ASSERT_TRUE(templates_.mkpath("unter"));
    (void)MakeTemplate(QDir(templates_.filePath("unter")), "tief.wbs", {.datum = "04.02.2011"});  // not searched
    StartProgram();
    FormMain->FillTemplateCatalogue();
    EXPECT_EQ(CatalogueColumn(TFormTemplates::colFile), (QStringList{upper, hidden}));
    EXPECT_EQ(FormTemplates->SelectedTemplatePath(), hidden);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(TemplateCatalogue, MissingOrEmptyFolderGivesAnEmptyList) {
    StartProgram();
    const QString folders[] = {templates_.path(), folder_.filePath("gibtsnicht")};
    for (const QString& folder : folders) {
        (void)SetTemplatesFolder(folder);
        FormMain->FillTemplateCatalogue();
        EXPECT_EQ(FormTemplates->LVTemplates().topLevelItemCount(), 0) << folder.toStdString();
        EXPECT_EQ(FormTemplates->SelectedTemplatePath(), QString()) << folder.toStdString();
    }
    EXPECT_TRUE(messages_.empty());
}

TEST_F(TemplateCatalogue, UnreadableTemplateEndsTheCommandWithTheEngineError) {
    (void)MakeTemplate(templates_, "gut.wbs");
    QFile damaged(templates_.filePath("kaputt.wbs"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(8192, '\x5A'));
    damaged.close();
    StartProgram();
    ModalScript script;  // no window may show: neither the catalogue nor the list window
    FormMain->findChild<QToolButton*>("SBNewDB")->click();
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].title, QStringLiteral("Fehler"));
    EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("Native error")) || messages_[0].text.contains("kaputt"))
        << messages_[0].text.toStdString();
    EXPECT_TRUE(script.Unexpected().empty());
    EXPECT_TRUE(dialogTitles_.empty());  // no target was asked for
    EXPECT_FALSE(DM->ABSDBTemplate().Connected());
}

TEST_F(TemplateCatalogue, TemplateOfAnotherPasswordAsksAndCancelEndsTheCommand) {
    const QString foreign = templates_.filePath("fremd.wbs");
    TABSDatabaseDataList::Instance().CreateDatabase(foreign.toStdString(), "anders", TABSCreateDatabaseOptions{});
    StartProgram();
    ModalScript script;
    script.ThenTitled("Database authentication", [](QWidget* prompt) { static_cast<QDialog*>(prompt)->reject(); });
    FormMain->findChild<QAction*>("NeueDatenbankanlegen1")->trigger();
    EXPECT_TRUE(script.Done());
    EXPECT_TRUE(script.Unexpected().empty());
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("incorrect password"))) << messages_[0].text.toStdString();
    EXPECT_TRUE(dialogTitles_.empty());
}

TEST(TemplateCatalogueKeys, SortKeyIsTheDateAsYearMonthDay) {
    struct Case {
        int year, month, day;
        const char* key;
    };
    const Case cases[] = {
        {2011, 11, 14, "20111114"}, {2010, 3, 3, "20100303"}, {1899, 12, 30, "18991230"},
        {2000, 2, 29, "20000229"},  {999, 1, 9, "09990109"},
    };
    for (const Case& c : cases) {
        const double fraction = DateTimeToDayFraction({TryEncodeDate(c.year, c.month, c.day).value(), 0});
        EXPECT_EQ(SortDateKey(fraction), QString::fromLatin1(c.key)) << c.key;
        // A time of day does not move the key (before 30.12.1899 the fraction counts the other way).
        if (fraction >= 0) {
            EXPECT_EQ(SortDateKey(fraction + 0.75), QString::fromLatin1(c.key)) << c.key;
        }
    }
}

// The window on its own, filled with rows as the main window fills it.
class TemplateWindow : public ::testing::Test {
protected:
    static std::vector<TTemplateEntry> Entries() {
        return {
            {"20120620", "/v/c.wbs", "20.06.2012", "Landesfinale", "Großdorf", "09:00-13:00"},
            {"20100303", "/v/a.wbs", "03.03.2010", "Vorrunde", "Talheim", "08:00-12:00"},
            {"20110512", "/v/b.wbs", "12.05.2011", "Kreisfinale", "Musterstadt", "09:00-13:00"},
            {"20110512", "/v/b2.wbs", "12.05.2011", "Kreisfinale Nachmeldung", "Musterstadt", ""},
        };
    }
    TFormTemplates form_;
};

TEST_F(TemplateWindow, HasTheDesignedCaptionSizeColumnsAndButtons) {
    EXPECT_EQ(form_.windowTitle(), QStringLiteral("Wettkampfvorlagen"));
    EXPECT_EQ(form_.objectName(), QStringLiteral("FormTemplates"));
    EXPECT_EQ(form_.size(), QSize(458, 224));
    EXPECT_EQ(form_.minimumSize(), QSize(458, 162));
    const QTreeWidget& list = form_.LVTemplates();
    EXPECT_EQ(list.objectName(), QStringLiteral("LVTemplates"));
    const std::pair<const char*, int> columns[] = {{"SortDate", 1}, {"Datei", 1}, {"Datum", 70},
                                                   {"Wettkampf", 140}, {"Ort", 140}, {"Zeit", 80}};
    ASSERT_EQ(list.columnCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list.headerItem()->text(i), QString::fromLatin1(columns[i].first)) << i;
        EXPECT_EQ(list.header()->sectionSize(i), columns[i].second) << i;
    }
    EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(form_.BBOk().text(), QStringLiteral("OK"));
    EXPECT_TRUE(form_.BBOk().isDefault());
    EXPECT_EQ(form_.BBAbort().text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(form_.findChild<QPushButton*>("BBOk"), &form_.BBOk());
    EXPECT_EQ(form_.findChild<QPushButton*>("BBAbort"), &form_.BBAbort());
}

TEST_F(TemplateWindow, RowsAreOrderedByDateKeepingTheOrderOfEqualDates) {
    form_.ShowEntries(Entries());
    QStringList files;
    for (int i = 0; i < form_.LVTemplates().topLevelItemCount(); ++i) files << form_.LVTemplates().topLevelItem(i)->text(1);
    EXPECT_EQ(files, (QStringList{"/v/a.wbs", "/v/b.wbs", "/v/b2.wbs", "/v/c.wbs"}));
    EXPECT_EQ(form_.SelectedTemplatePath(), "/v/c.wbs");
    form_.ShowEntries({});
    EXPECT_EQ(form_.LVTemplates().topLevelItemCount(), 0);
    EXPECT_EQ(form_.SelectedTemplatePath(), QString());
}

TEST_F(TemplateWindow, TheChoiceFollowsTheUserAndOkOrAbbrechenEndsTheWindow) {
    form_.ShowEntries(Entries());
    QTreeWidget& list = form_.LVTemplates();
    list.setCurrentItem(list.topLevelItem(1));
    EXPECT_EQ(form_.SelectedTemplatePath(), "/v/b.wbs");
    list.clearSelection();
    EXPECT_EQ(form_.SelectedTemplatePath(), QString());

    struct Case {
        const char* name;
        std::function<void()> act;
        bool accepted;
    };
    const Case cases[] = {
        {"OK", [this] { form_.BBOk().click(); }, true},
        {"Abbrechen", [this] { form_.BBAbort().click(); }, false},
        {"Escape", [this] { QTest::keyClick(&form_.LVTemplates(), Qt::Key_Escape); }, false},
        {"Return", [this] { QTest::keyClick(&form_.LVTemplates(), Qt::Key_Return); }, true},
        {"double click", [this] {
             QTreeWidget& view = form_.LVTemplates();
             const QRect row = view.visualItemRect(view.topLevelItem(0));
             QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, row.center());
             QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, row.center());
         }, true},
    };
    for (const Case& c : cases) {
        QTimer::singleShot(0, &form_, [&c] { c.act(); });
        // A gesture that does not end the window fails the case instead of hanging the test.
        QTimer stuck;
        stuck.setSingleShot(true);
        bool timedOut = false;
        QObject::connect(&stuck, &QTimer::timeout, &form_, [this, &timedOut] {
            timedOut = true;
            form_.reject();
        });
        stuck.start(5000);
        EXPECT_EQ(form_.ShowModal(), c.accepted) << c.name;
        EXPECT_FALSE(timedOut) << c.name;
    }
}

TEST_F(TemplateWindow, LooksRightToAUser) {
    form_.ShowEntries(Entries());
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    // The hidden columns stay out of sight: the date column starts at the left edge.
    EXPECT_LE(form_.LVTemplates().header()->sectionPosition(TFormTemplates::colDatum), 2);
    EXPECT_EQ(form_.findChild<QWidget*>("PanelBottom")->height(), 33);
    EXPECT_TRUE(form_.grab().save(QDir::temp().filePath("FormTemplates.png")));
    form_.hide();
}

} // namespace
} // namespace kova::app::test
