// The application's work on real database files: running statements, new identifiers, the grid
// model and the settings accessors. The schema upgrade and opening a database have tests of
// their own (upgrade_schema_test.cpp, open_database_test.cpp).
#include "app_fixture.h"
#include "registration_db.h"

#include "app/StatusPanels.h"
#include "engine/core/TextCodec.h"
#include "model/RegistrationListView.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <functional>
#include <utility>
#include <set>

namespace kova::app::test {
namespace {

// A data module on a database file made from `statements`.
class DatabaseWork : public ::testing::Test {
protected:
    void Use(const std::vector<std::string>& statements) {
        file_ = folder_.filePath("meldung.abs").toStdString();
        MakeDatabase(file_, statements);
        dm_ = std::make_unique<TDM>();
        dm_->ABSDB().SetDatabaseFileName(file_);
    }

    // The rows of `column` for a SELECT on the working database.
    std::vector<std::string> Column(const std::string& select, const char* column) {
        std::vector<std::string> values;
        TABSQuery& q = dm_->ABSQH2();
        if (!tools_.RunSQL(q, TTalmirMySQLTools::kOpen, select)) return values;
        for (; !q.Eof(); q.Next()) {
            values.push_back(q.FieldByName(column).AsString());
            if (q.RecNo() == q.RecordCount()) break;
        }
        q.Close();
        return values;
    }

    QTemporaryDir folder_;
    std::string file_;
    std::unique_ptr<TDM> dm_;
    TTalmirMySQLTools tools_;
};

TEST_F(DatabaseWork, RunSqlOpensExecutesOrRunsNothing) {
    Use(FullSchema());
    TABSQuery& q = dm_->ABSQH1();
    EXPECT_FALSE(tools_.RunSQL(q, TTalmirMySQLTools::kOpen, "SELECT * FROM Namen WHERE ID=\"N00000000\""));
    EXPECT_TRUE(q.Active());
    EXPECT_TRUE(q.IsEmpty());

    ASSERT_TRUE(tools_.RunSQL(q, TTalmirMySQLTools::kOpen,
                              "SELECT * FROM Namen WHERE Name=\"Maier\" AND AK=\"W41\" ORDER BY Vorname"));
    EXPECT_EQ(q.SQL().size(), 5U);
    EXPECT_EQ(q.FieldByName("Vorname").AsString(), "Anna");  // on the first row
    EXPECT_EQ(q.RecordCount(), 2);

    EXPECT_TRUE(tools_.RunSQL(q, TTalmirMySQLTools::kExecute, "DELETE FROM Namen WHERE ID=\"N11678999\";"));
    EXPECT_FALSE(q.Active());
    EXPECT_FALSE(tools_.RunSQL(q, 2, "DELETE FROM Namen;"));
    EXPECT_EQ(Column("SELECT ID FROM Namen ORDER BY ID", "ID").size(), 4U);  // mode 2 ran nothing
}

TEST_F(DatabaseWork, QuotedValuesWithKeywordsAreStoredAsTyped) {
    Use(FullSchema());
    const std::string school = "Schule am Berg and Tal from Nord where Ort order by x";
    (void)tools_.RunSQL(dm_->ABSQH1(), TTalmirMySQLTools::kExecute,
                        "UPDATE Verein SET \rSchule=\"" + TTalmirMySQLTools::SanitizeQuotes(school) +
                            "\" WHERE ID=\"V00000001\";");
    EXPECT_EQ(Column("SELECT Schule FROM Verein WHERE ID=\"V00000001\"", "Schule"), std::vector<std::string>{school});
}

TEST_F(DatabaseWork, TextWithoutASingleByteFormIsRefusedNotReplaced) {
    Use(FullSchema());
    const std::string before = Column("SELECT Schule FROM Verein", "Schule").at(0);
    try {
        (void)tools_.RunSQL(dm_->ABSQH1(), TTalmirMySQLTools::kExecute,
                            "UPDATE Verein SET Schule=\"Schule \u4E2D\" WHERE ID=\"V00000001\";");
        ADD_FAILURE() << "the engine stored text it cannot represent";
    } catch (const EABSException& error) {
        EXPECT_EQ(error.NativeError(), kUnrepresentableTextError);
    }
    EXPECT_EQ(Column("SELECT Schule FROM Verein", "Schule"), std::vector<std::string>{before});
}

// A list window that records what the data module asks of it.
class RecordingList final : public TRegistrationListView {
public:
    std::vector<std::string> cards;
    QString count;
    [[nodiscard]] bool ListVisible() const override { return true; }
    void FillCardForm(const std::string& id) override { cards.push_back(id); }
    void SetRecordCountText(const QString& text) override { count = text; }
};

TEST_F(DatabaseWork, GridModelShowsTheListAndMovesTheCardWithTheSelection) {
    Use(FullSchema());
    RecordingList list;
    dm_->SetRegistrationList(&list);
    TABSQueryModel& model = dm_->DSMainGrid();
    ASSERT_TRUE(tools_.RunSQL(dm_->ABSQMainGrid(), TTalmirMySQLTools::kOpen, apitest::ListStatement("Name, Vorname")));
    ASSERT_EQ(model.rowCount(), 4);  // the fifth registration belongs to another school
    ASSERT_EQ(model.columnCount(), 10);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Name");
    EXPECT_EQ(model.index(0, 0).data().toString(), "Albers");
    EXPECT_EQ(model.index(2, 1).data().toString(), "Eva");
    EXPECT_EQ(model.index(1, 9).data().toString(), "N11678902");
    EXPECT_EQ(model.flags(model.index(0, 0)) & Qt::ItemIsEditable, Qt::NoItemFlags);
    // Opening (and RunSQL's First) reached the first row; taking the snapshot moved nobody's card.
    EXPECT_EQ(std::set<std::string>(list.cards.begin(), list.cards.end()), std::set<std::string>{"N11678801"});
    EXPECT_EQ(list.count, "4 Einträge");
    EXPECT_EQ(model.CurrentRow(), 0);

    list.cards.clear();
    EXPECT_TRUE(model.MoveToRow(2));
    EXPECT_EQ(list.cards, std::vector<std::string>{"N11678868"});  // one move, one card
    EXPECT_EQ(model.CurrentRow(), 2);
    EXPECT_FALSE(model.MoveToRow(4));
    EXPECT_EQ(model.CurrentRow(), 2);

    dm_->ABSQMainGrid().Close();
    EXPECT_EQ(model.rowCount(), 0);
    dm_->SetRegistrationList(nullptr);
}

TEST_F(DatabaseWork, InsertNewRecordMovesToTheNextFreeSlot) {
    Use(FullSchema());
    const TTalmirMySQLTools tools([] {
        return TABSDateTime{TryEncodeDate(2011, 11, 14).value(), TryEncodeTime(19, 24, 1, 0).value()};
    });
    // N11678868 is a sample row already: the first new one takes the next slot.
    EXPECT_EQ(tools.InsertNewRecord(dm_->ABSQH1(), "Namen", "N", "", ""), "N11678869");
    EXPECT_EQ(tools.InsertNewRecord(dm_->ABSQH1(), "Namen", "N", "", ""), "N1167886A");
    // A prefix longer than eight characters is the identifier itself (the column holds nine).
    EXPECT_EQ(tools.InsertNewRecord(dm_->ABSQH1(), "Namen", "X12345678", "", ""), "X12345678");
    EXPECT_EQ(tools.InsertNewRecord(dm_->ABSQH1(), "Namen", "X12345678", "", ""), "");
    const auto ids = Column("SELECT ID FROM Namen WHERE ID=\"N11678869\" OR ID=\"N1167886A\" OR ID=\"X12345678\"", "ID");
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()),
              (std::set<std::string>{"N11678869", "N1167886A", "X12345678"}));
    EXPECT_EQ(ids.size(), 3U);
}

TEST_F(DatabaseWork, SettingsAreFoundIgnoringCaseAndRounded) {
    Use(FullSchema());
    EXPECT_EQ(dm_->GetIntValueFromSettings("maxstaffelpername", 7), 1);
    EXPECT_EQ(dm_->GetIntValueFromSettings("MaxNamenPerAKMitDisz", 7), 7);  // no such row

    dm_->SetIntValueToSettings("MaxNamenPerAKMitDisz", 10);
    dm_->SetIntValueToSettings("MAXNAMENPERAKMITDISZ", 11);  // the same row, other spelling
    EXPECT_EQ(Column("SELECT VarName FROM Settings WHERE VarValue=11", "VarName"),
              std::vector<std::string>{"MaxNamenPerAKMitDisz"});
    EXPECT_EQ(dm_->GetIntValueFromSettings("MaxNamenPerAKMitDisz", 0), 11);

    const std::pair<const char*, int> halves[] = {{"2.5", 2}, {"3.5", 4}, {"0.4", 0}};
    for (const auto& [stored, read] : halves) {
        (void)tools_.RunSQL(dm_->ABSQH1(), TTalmirMySQLTools::kExecute,
                            std::string("UPDATE Settings SET VarValue=") + stored + " WHERE VarName=\"MaxStaffelPerName\";");
        EXPECT_EQ(dm_->GetIntValueFromSettings("MaxStaffelPerName", 9), read) << stored;
    }
}

TEST_F(DatabaseWork, SettingsAccessorsOnADatabaseWithoutSettings) {
    Use(SchemaWithoutSettings());
    EXPECT_EQ(dm_->GetIntValueFromSettings("MaxStaffelPerName", 5), 5);
    EXPECT_NO_THROW(dm_->SetIntValueToSettings("MaxStaffelPerName", 2));
    EXPECT_EQ(dm_->GetIntValueFromSettings("MaxStaffelPerName", 5), 5);
}

} // namespace
} // namespace kova::app::test
