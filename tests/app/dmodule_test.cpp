// The data module's components, the age-class code mapping and the accessors' failure handling.
#include "model/DModule.h"

#include "model/RegistrationListView.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTreeWidget>

#include <memory>

namespace kova::app {
namespace {

class DataModule : public ::testing::Test {
protected:
    void SetUp() override { dm_ = std::make_unique<TDM>(); }
    std::unique_ptr<TDM> dm_;
};

TEST_F(DataModule, TwoSessionsKeepTwoDatabasesOfTheSameNameApart) {
    EXPECT_EQ(dm_->ABSSession1().SessionName(), "DBAccess");
    EXPECT_EQ(dm_->ABSSession2().SessionName(), "Template");
    EXPECT_TRUE(dm_->ABSSession1().Active());
    EXPECT_TRUE(dm_->ABSSession2().Active());
    for (TABSDatabase* db : {&dm_->ABSDB(), &dm_->ABSDBTemplate()}) {
        EXPECT_EQ(db->DatabaseName(), "MyDB");
        EXPECT_EQ(db->Password(), "quorbel");
        EXPECT_FALSE(db->KeepConnection());
        EXPECT_FALSE(db->Exclusive());
        EXPECT_FALSE(db->MultiUser());
        EXPECT_EQ(db->MaxConnections(), 500);
    }
    EXPECT_EQ(dm_->ABSDB().SessionName(), "DBAccess");
    EXPECT_EQ(dm_->ABSDBTemplate().SessionName(), "Template");
    EXPECT_EQ(dm_->ABSSession1().FindDatabase("MyDB"), &dm_->ABSDB());
    EXPECT_EQ(dm_->ABSSession2().FindDatabase("MyDB"), &dm_->ABSDBTemplate());
}

TEST_F(DataModule, QueriesNameTheirDatabaseInTheirSession) {
    struct Case {
        TABSQuery* query;
        const char* name;
        const char* session;
    };
    const Case cases[] = {
        {&dm_->ABSQMainGrid(), "ABSQMainGrid", "DBAccess"}, {&dm_->ABSQH1(), "ABSQH1", "DBAccess"},
        {&dm_->ABSQH2(), "ABSQH2", "DBAccess"},             {&dm_->ABSQCard(), "ABSQCard", "DBAccess"},
        {&dm_->ABSQDisz(), "ABSQDisz", "DBAccess"},         {&dm_->ABSQAK(), "ABSQAK", "DBAccess"},
        {&dm_->ABSQCheck(), "ABSQCheck", "DBAccess"},       {&dm_->ABSQSettings(), "ABSQSettings", "DBAccess"},
        {&dm_->ABSQTemplate(), "ABSQTemplate", "Template"}, {&dm_->ABSQTGrid(), "ABSQTGrid", "Template"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.query->Name(), c.name);
        EXPECT_EQ(c.query->DatabaseName(), "MyDB") << c.name;
        EXPECT_EQ(c.query->SessionName(), c.session) << c.name;
    }
}

TEST_F(DataModule, DialogsStartWithTheDatabaseFilter) {
    for (TFileDialog* dialog : {&dm_->Open(), &dm_->Save(), &dm_->SaveTemplate()}) {
        EXPECT_EQ(dialog->Filter(), QStringLiteral("Datenbanken (*.abs)|*.abs|Alle Dateien (*.*)|*.*"));
        EXPECT_EQ(dialog->QtNameFilters(), (QStringList{"Datenbanken (*.abs)", "Alle Dateien (*.*)"}));
    }
    EXPECT_EQ(dm_->Open().Kind(), TFileDialogKind::Open);
    EXPECT_EQ(dm_->Save().Kind(), TFileDialogKind::Save);
}

TEST_F(DataModule, ResetSessionsLeavesNothingActive) {
    dm_->ResetSessions();
    EXPECT_FALSE(dm_->ABSSession1().Active());
    EXPECT_FALSE(dm_->ABSSession2().Active());
    EXPECT_FALSE(dm_->ABSDB().Connected());
    EXPECT_FALSE(dm_->ABSDBTemplate().Connected());
}

TEST_F(DataModule, SettingsAccessorsSwallowEveryFailure) {
    QTemporaryDir folder;
    dm_->ABSDB().SetDatabaseFileName(folder.filePath("fehlt.abs").toStdString());
    EXPECT_EQ(dm_->GetIntValueFromSettings("MaxStaffelPerName", 7), 7);
    EXPECT_NO_THROW(dm_->SetIntValueToSettings("MaxStaffelPerName", 2));
    EXPECT_FALSE(dm_->ABSQSettings().Active());
    EXPECT_FALSE(dm_->ABSDB().Connected());
}

QTreeWidgetItem* Item(QTreeWidget& view, const QStringList& texts) {
    auto* item = new QTreeWidgetItem(texts);
    view.addTopLevelItem(item);
    return item;
}

TEST(UpdateKlassen, ReplacesOldCodesInTheGivenSubItemOnly) {
    QTreeWidget view;
    view.setColumnCount(6);
    // caption, then sub-items 0..4: the class code is sub-item 4, i.e. the sixth column.
    QTreeWidgetItem* old = Item(view, {"x", "Name", "Vorname", "2001", "N1", "WK4w"});
    QTreeWidgetItem* lower = Item(view, {"x", "Name", "Vorname", "2001", "N2", "wk4w"});
    QTreeWidgetItem* current = Item(view, {"x", "Name", "Vorname", "2001", "N3", "W41"});
    QTreeWidgetItem* shortItem = Item(view, {"x", "Name", "Vorname", "WK1m"});
    QTreeWidgetItem* elsewhere = Item(view, {"WK2m", "WK2m", "Vorname", "2001", "N4", "WK1m"});
    TDM::UpdateKlassen(view, 4);
    EXPECT_EQ(old->text(5), "W41");
    EXPECT_EQ(lower->text(5), "wk4w");        // exact case only
    EXPECT_EQ(current->text(5), "W41");
    EXPECT_EQ(shortItem->text(3), "WK1m");    // fewer than five sub-items: skipped
    EXPECT_EQ(elsewhere->text(5), "M11");
    EXPECT_EQ(elsewhere->text(0), "WK2m");    // the caption and other sub-items stay
    EXPECT_EQ(elsewhere->text(1), "WK2m");
}

TEST(UpdateKlassen, MapsEveryOldCode) {
    const std::pair<const char*, const char*> cases[] = {
        {"WK4w", "W41"}, {"WK3w", "W31"}, {"WK2w", "W21"}, {"WK1w", "W11"}, {"WK4m", "M41"},
        {"WK3m", "M31"}, {"WK2m", "M21"}, {"WK1m", "M11"}, {"W41", "W41"},  {"WK5w", "WK5w"}, {"", ""},
    };
    for (const auto& [from, to] : cases) EXPECT_EQ(TDM::NewClassCode(from), to) << from;
}

// A list window that records what the data module asks of it.
class FakeList final : public TRegistrationListView {
public:
    bool visible = false;
    std::vector<std::string> cards;
    [[nodiscard]] bool ListVisible() const override { return visible; }
    void FillCardForm(const std::string& id) override { cards.push_back(id); }
    void SetRecordCountText(const QString&) override {}
};

TEST_F(DataModule, AfterScrollLeavesAHiddenListAlone) {
    FakeList list;
    dm_->SetRegistrationList(&list);
    // The query is closed: reading its ID would fail, so a call that got past the visibility
    // test would throw.
    EXPECT_NO_THROW(dm_->ABSQMainGridAfterScroll(dm_->ABSQMainGrid()));
    EXPECT_TRUE(list.cards.empty());
    dm_->SetRegistrationList(nullptr);
}

} // namespace
} // namespace kova::app
