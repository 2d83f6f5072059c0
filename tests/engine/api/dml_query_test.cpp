// Modification and definition statements as the application runs them: SQL text through a
// query on a database file, affected rows added up per text, changes kept across reconnects.
#include "api_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace kova {
namespace {

using apitest::MessageOf;
using apitest::NativeErrorOf;

constexpr char kPassword[] = "quorbel";

class DmlQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        apitest::MakeDatabaseFile(file_, kPassword);
        db_.SetName("ABSDB");
        db_.SetDatabaseName("MyDB");
        db_.SetPassword(kPassword);
        db_.SetDatabaseFileName(file_);
        // As the application keeps it: the file closes whenever its last query closes.
        db_.SetKeepConnection(false);
        query_.SetName("ABSQH1");
        query_.SetDatabaseName("MyDB");
    }
    void TearDown() override {
        db_.Close();
        TABSSessionList::Instance().DefaultSession().SetActive(false);
    }

    std::int64_t Exec(const std::string& text) {
        query_.Close();
        query_.SetSQLText(text);
        query_.ExecSQL();
        return query_.RowsAffected();
    }

    apitest::ScratchDirectory dir_;
    std::string file_ = dir_.File("meldung.abs");
    TABSDatabase db_;
    TABSQuery query_;
};

TEST_F(DmlQueryTest, ApplicationStatementsChangeTheFileAndCountTheirRows) {
    const std::string settings =
        "CREATE TABLE IF NOT EXISTS Settings (VarName Char(45), VarValue Extended, VarStr Char(255));";
    EXPECT_EQ(Exec(settings), 0);
    EXPECT_EQ(Exec(settings), 0);
    // Several statements in one text: their rows add up.
    EXPECT_EQ(Exec("INSERT INTO Settings (VarName, VarValue) VALUES (\"MaxEinzelDiszPerName\", \"3\");\n"
                   "INSERT INTO Settings (VarName, VarValue) VALUES (\"MaxStaffelPerName\", \"1\")"),
              2);
    EXPECT_FALSE(db_.Connected());
    // Split into lines the way the application splits its statements.
    EXPECT_EQ(Exec("UPDATE Settings SET VarValue=\"5\"\n WHERE VarName=\"MaxStaffelPerName\";"), 1);
    EXPECT_EQ(Exec("UPDATE Settings SET VarValue=VarValue + 1\n WHERE VarValue > 4"), 1);
    EXPECT_EQ(Exec("DELETE FROM Settings\n WHERE VarValue = 6"), 1);
    EXPECT_EQ(Exec("DELETE FROM Settings"), 1);
}

TEST_F(DmlQueryTest, OpenOfAnInsertInsertsAndThenFailsForWantOfRows) {
    Exec("CREATE TABLE Namen (ID Char(9), Name Char(20))");
    query_.Close();
    query_.SetSQLText("INSERT INTO Namen VALUES ('N00000001', 'Adler')");
    EXPECT_EQ(NativeErrorOf([&] { query_.Open(); }), 20001);
    EXPECT_FALSE(query_.Active());
    EXPECT_EQ(Exec("DELETE FROM Namen WHERE ID = 'N00000001'"), 1);
}

TEST_F(DmlQueryTest, FailingStatementKeepsWhatTheTextDidBeforeIt) {
    Exec("CREATE TABLE T (N Integer)");
    query_.Close();
    query_.SetSQLText("INSERT INTO T VALUES (1); CREATE TABLE T (N Integer); INSERT INTO T VALUES (2)");
    EXPECT_EQ(MessageOf([&] { query_.ExecSQL(); }),
              "Cannot create table. Table 'T' already exists - Native error: 30247");
    EXPECT_EQ(Exec("DELETE FROM T"), 1);
}

} // namespace
} // namespace kova
