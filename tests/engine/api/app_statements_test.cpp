// The application's own statements, run through a query on a registration database file: the
// list window's join in every sort order, the entry form's rule tests, the settings accessors,
// the write-back with empty texts and the schema upgrade's CREATE TABLE IF NOT EXISTS.
#include "api_test_support.h"
#include "registration_schema.h"

#include "engine/core/FormatSettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::ApplicationStatementTexts;
using apitest::ListSortClauses;
using apitest::ListStatement;
using apitest::ScratchDirectory;

using Rows = std::vector<std::vector<std::string>>;
constexpr const char* kNull = "<null>";

// A registration database with the sample rows, open through a query as the application has it.
class RegistrationDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        TFormatSettings formats;
        formats.ShortDateFormat = "dd.mm.yyyy";
        formats.DateSeparator = '.';
        SetFormatSettings(formats);
        apitest::MakeDatabaseFile(dir_.File("meldung.abs"), "quorbel");
        database_.SetDatabaseName("RegDB");
        database_.SetDatabaseFileName(dir_.File("meldung.abs"));
        database_.SetPassword("quorbel");
        query_.SetDatabaseName("RegDB");
        apitest::ExecuteAll(query_, apitest::RegistrationSchemaStatements());
        apitest::ExecuteAll(query_, apitest::RegistrationSampleRows());
    }

    void TearDown() override {
        query_.Close();
        database_.Close();
        ResetFormatSettings();
    }

    void Execute(const std::string& sql) { apitest::ExecuteAll(query_, {sql}); }

    // All rows of a SELECT as texts (null as kNull); the query is left open on its result.
    Rows Select(const std::string& sql) {
        query_.Close();
        query_.SetSQLText(sql);
        query_.Open();
        Rows rows;
        for (query_.First(); !query_.Eof(); query_.Next()) {
            std::vector<std::string> row;
            for (std::size_t c = 0; c < query_.FieldCount(); ++c) {
                const TABSField& field = query_.Field(c);
                row.push_back(field.IsNull() ? kNull : field.AsString());
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    // One column of a SELECT's rows, by result column name.
    std::vector<std::string> Column(const std::string& sql, const std::string& name) {
        std::vector<std::string> values;
        const Rows rows = Select(sql);
        const std::size_t index = query_.FieldByName(name).FieldNo() - 1;
        for (const auto& row : rows) values.push_back(row.at(index));
        return values;
    }

    std::vector<std::string> FieldNames() const {
        std::vector<std::string> names;
        for (std::size_t c = 0; c < query_.FieldCount(); ++c) names.push_back(query_.Field(c).FieldName());
        return names;
    }

    ScratchDirectory dir_;
    TABSDatabase database_;
    TABSQuery query_;
};

TEST_F(RegistrationDatabase, ListQueryOrdersByEveryClauseOfTheListWindow) {
    // The four listed registrations: Albers (…801), Maier Eva (…868), Maier Anna (…902),
    // Zeller (…950, no class, no disciplines). Empty texts are null and come first.
    struct Case {
        std::string Sort;
        std::vector<std::string> Ids;
    };
    const Case cases[] = {
        {"ID", {"N11678801", "N11678868", "N11678902", "N11678950"}},
        {"Name, Vorname", {"N11678801", "N11678902", "N11678868", "N11678950"}},
        {"Vorname, Name", {"N11678902", "N11678950", "N11678868", "N11678801"}},
        {"Jahrgang, Name, Vorname", {"N11678801", "N11678902", "N11678950", "N11678868"}},
        {"AK, Name, Vorname", {"N11678950", "N11678801", "N11678902", "N11678868"}},
        {"Disziplin1, AK, Name, Vorname", {"N11678950", "N11678902", "N11678868", "N11678801"}},
        {"Disziplin2, AK, Name, Vorname", {"N11678950", "N11678902", "N11678801", "N11678868"}},
        {"Disziplin3, AK, Name, Vorname", {"N11678950", "N11678868", "N11678801", "N11678902"}},
        {"Staffel, AK, Name, Vorname", {"N11678950", "N11678801", "N11678868", "N11678902"}},
    };
    ASSERT_EQ(std::size(cases), ListSortClauses().size());
    for (const Case& c : cases) {
        EXPECT_EQ(Column(ListStatement(c.Sort), "ID"), c.Ids) << c.Sort;
        // The registration of the other school (…999) never joins.
        EXPECT_EQ(query_.RecordCount(), 4) << c.Sort;
    }
}

TEST_F(RegistrationDatabase, ListQueryNamesItsColumnsAndCarriesTheSchool) {
    const Rows rows = Select(ListStatement("Name, Vorname"));
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"Name", "Vorname", "AK", "Jahrgang", "Disziplin1", "Disziplin2",
                                                      "Disziplin3", "Staffel", "Schule", "ID"}));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Albers", "Tom", "M31", "1999", "WEI", "BAL", "SPR", kNull,
                                                 "Grundschule Talheim", "N11678801"}));
    EXPECT_EQ(query_.FieldByName("schule").AsString(), "Grundschule Talheim");
}

TEST_F(RegistrationDatabase, OrderByIdSortsByTheRegistrationNotTheSchool) {
    // Both tables have ID. A second school whose ID sorts first, holding the registration with
    // the highest ID: sorting by Verein.ID would list that registration first.
    Execute("INSERT INTO Verein (ID, Schule) VALUES(\"V00000000\", \"Andere Schule\")");
    Execute("UPDATE Namen SET VereinID=\"V00000000\" WHERE ID=\"N11678999\"");
    EXPECT_EQ(Column(ListStatement("ID"), "ID"),
              (std::vector<std::string>{"N11678801", "N11678868", "N11678902", "N11678950", "N11678999"}));
    query_.First();
    EXPECT_EQ(query_.FieldByName("Schule").AsString(), "Grundschule Talheim");
    query_.Last();
    EXPECT_EQ(query_.FieldByName("Schule").AsString(), "Andere Schule");
}

TEST_F(RegistrationDatabase, RuleTestsOfTheEntryFormFindOrMiss) {
    struct Case {
        std::string Sql;
        std::size_t Rows;
    };
    const Case cases[] = {
        {"SELECT * FROM Klassen WHERE Klasse=\"Mädchen 10/11\";", 1},
        {"SELECT * FROM Klassen WHERE Klasse=\"mädchen 10/11\";", 0},  // text equality is case-sensitive
        {"SELECT * FROM Klassen WHERE (Kuerzel=\"W41\" AND AlterVon<=11 AND AlterBis>=11);", 1},
        {"SELECT * FROM Klassen WHERE (Kuerzel=\"W41\" AND AlterVon<=12 AND AlterBis>=12);", 0},
        {"SELECT * FROM Klassen WHERE (Kuerzel=\"W41\" AND AlterVon<=9 AND AlterBis>=9);", 0},
        {"SELECT * FROM KlasseDiszplin WHERE (KlKuerzel=\"W41\" AND DzKuerzel=\"SPR\");", 1},
        {"SELECT * FROM KlasseDiszplin WHERE (KlKuerzel=\"W41\" AND DzKuerzel=\"WEI\");", 0},
        {"SELECT * FROM Disziplinen WHERE Disziplin=\"Weitsprung\";", 1},
        {"SELECT * FROM Namen WHERE ID=\"N11678868\";", 1},
        {"SELECT ID from Namen where ID=\"N11678869\"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Select(c.Sql).size(), c.Rows) << c.Sql;
}

TEST_F(RegistrationDatabase, CompetitionRowReadsAsYearAndDate) {
    ASSERT_EQ(Select("SELECT WkJahr FROM Wettkampf;").size(), 1u);
    EXPECT_EQ(query_.FieldByName("WkJahr").AsInteger(), 2011);
    ASSERT_EQ(Select("SELECT * FROM Wettkampf").size(), 1u);
    EXPECT_EQ(query_.FieldByName("Datum").AsString(), "24.03.2011");
    EXPECT_EQ(query_.FieldByName("Zeitraum").AsString(), "09:00-13:00");
}

TEST_F(RegistrationDatabase, ClassListAndDisciplineListComeInTheirOrder) {
    EXPECT_EQ(Column("SELECT * FROM Klassen ORDER BY SEX, AlterBis;", "Kuerzel"),
              (std::vector<std::string>{"M41", "M31", "W41", "W31"}));
    EXPECT_EQ(Column("SELECT * FROM Disziplinen ORDER BY Sort;", "Kuerzel"),
              (std::vector<std::string>{"SPR", "WEI", "BAL", "STA"}));
}

TEST_F(RegistrationDatabase, SettingNameMatchesIgnoringCaseOnlyThroughUpper) {
    EXPECT_EQ(Select("SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\""),
              (Rows{{"1"}}));
    EXPECT_EQ(Select("SELECT VarValue FROM Settings WHERE VarName = \"MAXSTAFFELPERNAME\"").size(), 0u);
    Execute("UPDATE Settings SET VarValue=\"3\" WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\";");
    ASSERT_EQ(Select("SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\"").size(), 1u);
    EXPECT_EQ(query_.FieldByName("VarValue").AsInteger(), 3);
}

TEST_F(RegistrationDatabase, QuotedNumberIntoExtendedColumnStoresTheNumber) {
    Execute("DELETE FROM Settings");
    Execute("INSERT INTO Settings (VarValue, VarName) VALUES(\"3\",\"MaxEinzelDiszPerName\");");
    ASSERT_EQ(Select("SELECT * FROM Settings WHERE VarName=\"MaxEinzelDiszPerName\"").size(), 1u);
    const TABSField& value = query_.FieldByName("VarValue");
    EXPECT_EQ(value.BaseType(), TABSBaseType::bftExtended);
    EXPECT_EQ(value.AsFloat(), 3.0);
    EXPECT_EQ(value.AsInteger(), 3);
    EXPECT_EQ(value.AsString(), "3");
    EXPECT_TRUE(query_.FieldByName("VarStr").IsNull());
}

TEST_F(RegistrationDatabase, EmptyQuotesRightBeforeWhereStoreNull) {
    Execute("UPDATE Namen SET AK=\"\"WHERE ID=\"N11678868\";");
    ASSERT_EQ(Select("SELECT * FROM Namen WHERE ID=\"N11678868\";").size(), 1u);
    EXPECT_TRUE(query_.FieldByName("AK").IsNull());
    EXPECT_EQ(query_.FieldByName("Name").AsString(), "Maier");  // only AK changed
    // The other rows kept their class.
    EXPECT_EQ(Select("SELECT ID FROM Namen WHERE AK=\"W41\"").size(), 1u);
}

TEST_F(RegistrationDatabase, WriteBackOfTheEntryFormUpdatesOneRow) {
    Execute("UPDATE Namen SET Name=\"Maier\",Vorname=\"Eva\",Jahrgang=2001,AK=\"W41\",Disziplin1=\"\","
            "Disziplin2=\"\",Disziplin3=\"\",Staffel=\"\",VereinID=\"V00000001\" WHERE ID=\"N11678902\";");
    EXPECT_EQ(query_.RowsAffected(), 1);
    EXPECT_EQ(Select("SELECT Name, Vorname, Jahrgang, Disziplin1, Disziplin3, Staffel FROM Namen WHERE "
                     "ID=\"N11678902\""),
              (Rows{{"Maier", "Eva", "2001", kNull, kNull, kNull}}));
}

TEST_F(RegistrationDatabase, LengthFilterDropsOneLetterNames) {
    Execute("INSERT INTO Namen (ID) VALUES(\"N11679000\")");
    Execute("UPDATE Namen SET Name=\"X\",Vorname=\"Y\",Jahrgang=1998 WHERE ID=\"N11679000\"");
    EXPECT_EQ(Column("SELECT Jahrgang, Name, Vorname, AK, ID FROM Namen WHERE Length(Name) > 1 ORDER BY Jahrgang, "
                     "Name, Vorname",
                     "ID"),
              (std::vector<std::string>{"N11678801", "N11678902", "N11678950", "N11678999", "N11678868"}));
}

TEST_F(RegistrationDatabase, CreateSettingsIfNotExistsKeepsTheExistingTable) {
    Execute("CREATE TABLE IF NOT EXISTS Settings (VarName String(45), VarValue Extended, VarString String(255));");
    EXPECT_EQ(Select("SELECT * FROM Settings").size(), 2u);
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"VarName", "VarValue", "VarStr"}));
    EXPECT_EQ(query_.FieldByName("VarName").DataType(), TFieldType::ftFixedChar);
    // Without IF NOT EXISTS the existing table is an error.
    EXPECT_NE(apitest::MessageOf([&] {
                  Execute("CREATE TABLE Settings (VarName String(45), VarValue Extended, VarString String(255));");
              }),
              "");
}

TEST_F(RegistrationDatabase, EveryApplicationStatementRuns) {
    // In the order collected; the two lock-owner statements need a LockedBy column, which the
    // application's tables do not have.
    const std::vector<std::string> statements = ApplicationStatementTexts();
    ASSERT_EQ(statements.size(), 52u);
    for (const std::string& sql : statements) {
        const bool needsLockColumn = sql.find("LockedBy") != std::string::npos;
        const bool isSelect = sql.rfind("SELECT", 0) == 0;
        const std::string error = apitest::MessageOf([&] {
            if (isSelect) {
                (void)Select(sql);
            } else {
                Execute(sql);
            }
        });
        if (needsLockColumn) {
            EXPECT_NE(error, "") << sql;
        } else {
            EXPECT_EQ(error, "") << sql;
        }
    }
}

} // namespace
} // namespace kova
