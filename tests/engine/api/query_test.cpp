// Queries over the fake execution: statement texts and their errors, Open and ExecSQL,
// moving through a result with its events, fields and their conversions, Locate, parameters.
#include "api_test_support.h"

#include "engine/core/FormatSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::Column;
using apitest::FakeEngine;
using apitest::FakeTable;
using apitest::MessageOf;
using apitest::NativeErrorOf;

using B = TABSBaseType;
using F = TFieldType;

class QueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        session_.SetSessionName("Queries");
        db_.SetSessionName("Queries");
        db_.SetDatabaseName("Mem");
        db_.SetDatabaseFileName("MEMORY");
        query_.SetName("ABSQH1");
        query_.SetSessionName("Queries");
        query_.SetDatabaseName("Mem");

        FakeTable& namen = Table("Namen");
        namen.columns = {Column("ID", B::bftString, F::ftString, 9), Column("Name", B::bftString, F::ftString, 30),
                         Column("Vorname", B::bftString, F::ftString, 30)};
        namen.rows = {{apitest::Text("N1"), apitest::Text("Meier"), apitest::Text("Anna")},
                      {apitest::Text("N2"), apitest::Text("müller"), apitest::Text("Bernd")},
                      {apitest::Text("N3"), apitest::Text("Schulz"), apitest::Null(B::bftString)}};
        Table("Leer").columns = {Column("A", B::bftInteger, F::ftInteger)};
    }

    FakeTable& Table(const std::string& name) { return engine_.Table("MEMORY", name); }

    void OpenSql(const std::string& text) {
        query_.Close();
        query_.SetSQLText(text);
        query_.Open();
    }

    FakeEngine engine_;
    TABSSession session_;
    TABSDatabase db_;
    TABSQuery query_;
};

// ---------------------------------------------------------------------------------------------
// Statement texts

TEST_F(QueryTest, MissingAndBlankStatementTexts) {
    struct Case {
        std::vector<std::string> lines;
        int error;
        const char* message;
    };
    const Case cases[] = {
        {{}, 20034, "No SQL statement available - Native error: 20034"},
        {{""}, 30142, "No SQL statement available - Native error: 30142"},
        {{";"}, 30145, "Blank SQL command - Native error: 30145"},
        {{"  ", ""}, 30145, "Blank SQL command - Native error: 30145"},
        {{" ; ;", "\t"}, 30145, "Blank SQL command - Native error: 30145"},
    };
    for (const Case& c : cases) {
        for (const bool open : {true, false}) {
            query_.SetSQL(c.lines);
            const auto run = [&] { open ? query_.Open() : query_.ExecSQL(); };
            EXPECT_EQ(NativeErrorOf(run), c.error) << c.lines.size() << open;
            EXPECT_EQ(MessageOf(run), c.message);
            EXPECT_FALSE(query_.Active());
            EXPECT_EQ(db_.ReferenceCount(), 0);
        }
    }
    EXPECT_EQ(engine_.statementsRun, 0);
}

TEST_F(QueryTest, StatementTextIsTheLinesEachEndedByALineBreak) {
    query_.SetSQLText("SELECT *\r\nFROM Namen\nWHERE ID=\"N1\"\r");
    EXPECT_EQ(query_.SQL(), (std::vector<std::string>{"SELECT *", "FROM Namen", "WHERE ID=\"N1\""}));
    EXPECT_EQ(query_.SQLText(), "SELECT *\nFROM Namen\nWHERE ID=\"N1\"\n");

    query_.Open();
    query_.SetSQL(query_.SQL());  // the same text: nothing happens
    EXPECT_TRUE(query_.Active());
    query_.SetSQLText("SELECT * FROM Leer");
    EXPECT_FALSE(query_.Active());
    EXPECT_FALSE(query_.Prepared());
}

TEST_F(QueryTest, TrailingSemicolonOpensNormally) {
    OpenSql("SELECT * FROM Namen;");
    EXPECT_TRUE(query_.Active());
    EXPECT_EQ(query_.RecordCount(), 3);
    EXPECT_EQ(query_.FieldByName("ID").AsString(), "N1");
}

TEST_F(QueryTest, OpenOfAStatementWithoutResultKeepsItsEffect) {
    query_.SetSQLText("INSERT INTO Namen (ID, Name)  VALUES(\"N4\", \"Neu\");");
    EXPECT_EQ(MessageOf([&] { query_.Open(); }), "Error creating table handle - Native error: 20001");
    EXPECT_FALSE(query_.Active());
    EXPECT_EQ(query_.RowsAffected(), 1);
    EXPECT_EQ(db_.ReferenceCount(), 0);

    OpenSql("SELECT * FROM Namen");
    EXPECT_EQ(query_.RecordCount(), 4);
    query_.Last();
    EXPECT_EQ(query_.FieldByName("Name").AsString(), "Neu");
}

TEST_F(QueryTest, StatementsBeforeAFailingOneKeepTheirEffects) {
    query_.SetSQLText("INSERT INTO Namen (ID) VALUES(\"N5\"); INSERT INTO Fehlt (ID) VALUES(\"N6\");");
    EXPECT_EQ(NativeErrorOf([&] { query_.ExecSQL(); }), 30396);
    EXPECT_FALSE(query_.Active());
    EXPECT_EQ(db_.ReferenceCount(), 0);
    EXPECT_EQ(Table("Namen").rows.size(), 4u);
}

TEST_F(QueryTest, ExecSQLRunsEveryStatementAndDiscardsAResult) {
    query_.SetSQLText("INSERT INTO Namen (ID) VALUES(\"N7\"); INSERT INTO Namen (ID) VALUES(\"N8\")");
    query_.ExecSQL();
    EXPECT_EQ(query_.RowsAffected(), 2);
    EXPECT_FALSE(query_.Active());
    EXPECT_EQ(db_.ReferenceCount(), 0);

    query_.SetSQLText("SELECT * FROM Namen");
    query_.ExecSQL();
    EXPECT_FALSE(query_.Active());
    EXPECT_EQ(query_.RowsAffected(), 0);

    query_.Open();
    EXPECT_EQ(MessageOf([&] { query_.ExecSQL(); }), "ABSQH1: Operation bei geöffneter Datenmenge nicht ausführbar");
    EXPECT_EQ(MessageOf([&] { query_.Prepare(); }),
              "Cannot perform this operation on an open dataset - Native error: 30141");
    EXPECT_TRUE(query_.Active());
}

TEST_F(QueryTest, QueryWithoutDatabaseNameOrWithUnknownSession) {
    query_.SetSQLText("SELECT * FROM Namen");
    query_.SetDatabaseName("");
    EXPECT_EQ(MessageOf([&] { query_.Open(); }), "ABSQH1: DatabaseName property is blank");
    EXPECT_EQ(MessageOf([&] { query_.ExecSQL(); }), "ABSQH1: DatabaseName property is blank");
    query_.SetDatabaseName("Mem");
    query_.SetSessionName("Nirgends");
    EXPECT_EQ(MessageOf([&] { query_.Open(); }), "Invalid session name 'Nirgends' - Native error: 20002");
}

// Without a fake installed, queries run through the engine's own execution.
TEST(QueryExecutionTest, BuiltInExecutionRunsTheStatementsOfAText) {
    TABSSession session;
    session.SetSessionName("Bare");
    TABSQuery query;
    query.SetSessionName("Bare");
    query.SetInMemory(true);
    query.SetSQLText("SELECT * FROM NamenGibtEsNicht");
    EXPECT_EQ(MessageOf([&] { query.Open(); }), "Table 'NamenGibtEsNicht' not exists. - Native error: 30396");
    EXPECT_FALSE(query.Active());

    query.SetSQLText("CREATE TABLE BareNamen (Name VARCHAR(10)); INSERT INTO BareNamen (Name) VALUES ('Ina')");
    query.ExecSQL();
    query.SetSQLText("SELECT Name FROM BareNamen");
    query.Open();
    EXPECT_EQ(query.FieldByName("name").AsString(), "Ina");
    query.Close();
    query.SetSQLText("DROP TABLE BareNamen");
    query.ExecSQL();
}

TEST_F(QueryTest, ExecutionContextDescribesTheConnection) {
    query_.SetRequestLive(true);
    engine_.liveResults = true;
    OpenSql("SELECT * FROM Namen");
    ASSERT_EQ(engine_.contexts.size(), 1u);
    const TABSExecutionContext& context = engine_.contexts[0];
    EXPECT_EQ(context.Data, TABSDatabaseDataList::Instance().PseudoDatabase("MEMORY").get());
    EXPECT_EQ(context.SessionName, "Queries");
    EXPECT_EQ(context.DatabaseName, "Mem");
    EXPECT_TRUE(context.RequestLive);
    EXPECT_FALSE(context.InMemory);
    EXPECT_FALSE(query_.ReadOnly());  // live result on a writable database

    engine_.liveResults = false;
    OpenSql("SELECT * FROM Leer");
    EXPECT_TRUE(query_.ReadOnly());
}

// ---------------------------------------------------------------------------------------------
// Moving and events

TEST_F(QueryTest, MovingThroughRowsWithEofBofAndScrollEvents) {
    int beforeScroll = 0;
    int afterScroll = 0;
    std::vector<std::string> lifecycle;
    query_.Events().BeforeOpen = [&](TABSDataSet&) { lifecycle.push_back("BeforeOpen"); };
    query_.Events().AfterOpen = [&](TABSDataSet&) { lifecycle.push_back("AfterOpen"); };
    query_.Events().BeforeClose = [&](TABSDataSet&) { lifecycle.push_back("BeforeClose"); };
    query_.Events().AfterClose = [&](TABSDataSet&) { lifecycle.push_back("AfterClose"); };
    query_.Events().BeforeScroll = [&](TABSDataSet&) { ++beforeScroll; };
    query_.Events().AfterScroll = [&](TABSDataSet& ds) {
        ++afterScroll;
        EXPECT_TRUE(ds.Active());
    };
    OpenSql("SELECT * FROM Namen");
    EXPECT_EQ(lifecycle, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));

    struct Step {
        const char* move;
        std::int64_t recNo;
        bool bof;
        bool eof;
        const char* id;
        int afterScrolls;  // total so far
    };
    const Step steps[] = {
        {"open", 1, true, false, "N1", 1},  {"next", 2, false, false, "N2", 2}, {"next", 3, false, false, "N3", 3},
        {"next", 3, false, true, "N3", 4},  {"next", 3, false, true, "N3", 4},  {"prior", 2, false, false, "N2", 5},
        {"first", 1, true, false, "N1", 6}, {"prior", 1, true, false, "N1", 6}, {"last", 3, false, true, "N3", 7},
        {"prior", 2, false, false, "N2", 8}, {"prior", 1, false, false, "N1", 9}, {"prior", 1, true, false, "N1", 10},
    };
    for (const Step& step : steps) {
        const std::string move = step.move;
        if (move == "next") query_.Next();
        if (move == "prior") query_.Prior();
        if (move == "first") query_.First();
        if (move == "last") query_.Last();
        SCOPED_TRACE(move + " to " + step.id);
        EXPECT_EQ(query_.RecNo(), step.recNo);
        EXPECT_EQ(query_.Bof(), step.bof);
        EXPECT_EQ(query_.Eof(), step.eof);
        EXPECT_EQ(query_.FieldByName("ID").AsString(), step.id);
        EXPECT_EQ(afterScroll, step.afterScrolls);
        EXPECT_EQ(beforeScroll, step.afterScrolls - 1);
    }

    query_.Close();
    query_.Close();
    EXPECT_EQ(lifecycle, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"}));
}

TEST_F(QueryTest, TheApplicationsLoopVisitsEveryRowOnce) {
    OpenSql("SELECT * FROM Namen");
    std::vector<std::string> ids;
    query_.First();
    while (!query_.Eof()) {
        ids.push_back(query_.FieldByName("ID").AsString());
        query_.Next();
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"N1", "N2", "N3"}));
}

TEST_F(QueryTest, EmptyAndClosedResults) {
    OpenSql("SELECT * FROM Leer");
    EXPECT_TRUE(query_.IsEmpty());
    EXPECT_TRUE(query_.Eof());
    EXPECT_TRUE(query_.Bof());
    EXPECT_EQ(query_.RecNo(), 0);
    EXPECT_EQ(query_.RecordCount(), 0);
    EXPECT_TRUE(query_.FieldByName("A").IsNull());
    EXPECT_EQ(query_.FieldByName("A").AsInteger(), 0);
    query_.Next();
    EXPECT_TRUE(query_.Eof());

    query_.Close();
    EXPECT_EQ(query_.RecordCount(), 0);
    EXPECT_TRUE(query_.IsEmpty());
    EXPECT_EQ(query_.FieldCount(), 0u);
    for (const auto& move : std::vector<std::function<void()>>{[&] { query_.First(); }, [&] { query_.Next(); },
                                                                [&] { query_.Prior(); }, [&] { query_.Last(); }}) {
        EXPECT_EQ(MessageOf(move), "ABSQH1: Cannot perform this operation on a closed dataset");
    }
}

TEST_F(QueryTest, FailedOpenRunsNoAfterEventsAndReleasesTheDatabase) {
    db_.SetKeepConnection(false);
    int afterOpen = 0;
    query_.Events().AfterOpen = [&](TABSDataSet&) { ++afterOpen; };
    query_.SetSQLText("SELECT * FROM Fehlt");
    EXPECT_EQ(NativeErrorOf([&] { query_.Open(); }), 30396);
    EXPECT_EQ(afterOpen, 0);
    EXPECT_FALSE(db_.Connected());
    EXPECT_EQ(query_.Database(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Fields

TEST_F(QueryTest, FieldByNameIgnoresCase) {
    OpenSql("SELECT * FROM Namen");
    struct Case {
        const char* lookup;
        const char* found;
    };
    const Case cases[] = {{"vorname", "Vorname"}, {"VORNAME", "Vorname"}, {"Id", "ID"}, {"name", "Name"}};
    for (const Case& c : cases) EXPECT_EQ(query_.FieldByName(c.lookup).FieldName(), c.found) << c.lookup;
    EXPECT_EQ(query_.FieldByName("vorname").AsString(), "Anna");
    EXPECT_EQ(query_.FindField("Vor name"), nullptr);
    EXPECT_EQ(MessageOf([&] { (void)query_.FieldByName("Nachname"); }),
              "ABSQH1: Das Feld 'Nachname' wurde nicht gefunden");
}

class FieldConversionTest : public QueryTest {
protected:
    void SetUp() override {
        QueryTest::SetUp();
        saved_ = *GetFormatSettings();
        TFormatSettings fs = saved_;
        fs.ShortDateFormat = "dd.mm.yyyy";
        fs.DateSeparator = '.';
        fs.LongTimeFormat = "hh:nn:ss";
        fs.ShortTimeFormat = "hh:nn";
        fs.TimeSeparator = ':';
        fs.DecimalSeparator = ',';
        SetFormatSettings(fs);

        const std::int32_t day = *TryEncodeDate(2011, 11, 14);
        const std::int32_t time = *TryEncodeTime(19, 24, 0, 0);
        TABSVariant date;
        date.SetAsDate(day);
        TABSVariant dateTime;
        dateTime.SetAsDateTime({day, time});
        TABSVariant timeOnly;
        timeOnly.SetAsTime(time);
        TABSVariant flag;
        flag.SetAsBoolean(true);
        TABSVariant currency;
        currency.SetAsCurrency(12.5);
        FakeTable& values = Table("Werte");
        values.columns = {Column("Zahl", B::bftInteger, F::ftInteger),     Column("Wert", B::bftExtended, F::ftFloat),
                          Column("Text", B::bftString, F::ftString, 20),   Column("Tag", B::bftDate, F::ftDate),
                          Column("Zeitpunkt", B::bftDateTime, F::ftDateTime), Column("Uhr", B::bftTime, F::ftTime),
                          Column("Flag", B::bftLogical, F::ftBoolean),     Column("Betrag", B::bftCurrency, F::ftCurrency),
                          Column("Leer", B::bftString, F::ftString, 20)};
        values.rows = {{apitest::Int(-7), apitest::Extended(1.5L), apitest::Text("42"), date, dateTime, timeOnly, flag,
                        currency, apitest::Null(B::bftString)}};
        OpenSql("SELECT * FROM Werte");
    }
    void TearDown() override { SetFormatSettings(saved_); }

    // Replaces the single row's value of column `name`.
    void Put(const std::string& name, const TABSVariant& value) {
        query_.Close();
        FakeTable& values = Table("Werte");
        for (std::size_t i = 0; i < values.columns.size(); ++i) {
            if (values.columns[i].Name == name) values.rows[0][i].Assign(value);
        }
        query_.Open();
    }

    TFormatSettings saved_;
};

TEST_F(FieldConversionTest, AsIntegerRoundsHalvesToEven) {
    const struct {
        long double value;
        std::int32_t expected;
    } cases[] = {{2.5L, 2}, {3.5L, 4}, {-2.5L, -2}, {-3.5L, -4}, {2.4999L, 2}, {2.5001L, 3}, {0.5L, 0}, {1.5L, 2}};
    for (const auto& c : cases) {
        Put("Wert", apitest::Extended(c.value));
        EXPECT_EQ(query_.FieldByName("Wert").AsInteger(), c.expected) << static_cast<double>(c.value);
    }
}

TEST_F(FieldConversionTest, AsStringPerColumnType) {
    const struct {
        const char* field;
        const char* expected;
    } cases[] = {
        {"Zahl", "-7"}, {"Wert", "1,5"}, {"Text", "42"}, {"Tag", "14.11.2011"}, {"Zeitpunkt", "14.11.2011 19:24:00"},
        {"Uhr", "19:24:00"}, {"Flag", "True"}, {"Betrag", "12,5"}, {"Leer", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(query_.FieldByName(c.field).AsString(), c.expected) << c.field;
}

TEST_F(FieldConversionTest, NumbersAndDates) {
    EXPECT_EQ(query_.FieldByName("Zahl").AsInteger(), -7);
    EXPECT_EQ(query_.FieldByName("Text").AsInteger(), 42);
    EXPECT_DOUBLE_EQ(query_.FieldByName("Zahl").AsFloat(), -7.0);
    EXPECT_DOUBLE_EQ(query_.FieldByName("Wert").AsFloat(), 1.5);
    EXPECT_DOUBLE_EQ(query_.FieldByName("Betrag").AsFloat(), 12.5);
    EXPECT_EQ(query_.FieldByName("Leer").AsInteger(), 0);
    EXPECT_DOUBLE_EQ(query_.FieldByName("Leer").AsFloat(), 0.0);
    EXPECT_DOUBLE_EQ(query_.FieldByName("Leer").AsDateTime(), 0.0);
    // 14 November 2011 is day 40861 after 30 December 1899.
    EXPECT_DOUBLE_EQ(query_.FieldByName("Tag").AsDateTime(), 40861.0);
    EXPECT_NEAR(query_.FieldByName("Zeitpunkt").AsDateTime(), 40861.0 + (19 * 60 + 24) / 1440.0, 1e-9);
    EXPECT_NEAR(query_.FieldByName("Uhr").AsDateTime(), (19 * 60 + 24) / 1440.0, 1e-9);

    struct TextCase {
        const char* text;
        double asFloat;
        double asDateTime;
    };
    const TextCase texts[] = {{"2,5", 2.5, -1}, {"14.11.2011", -1, 40861.0}, {"14.11.2011 06:00", -1, 40861.25}};
    for (const TextCase& c : texts) {
        Put("Text", apitest::Text(c.text));
        if (c.asFloat >= 0) {
            EXPECT_DOUBLE_EQ(query_.FieldByName("Text").AsFloat(), c.asFloat) << c.text;
        }
        if (c.asDateTime >= 0) {
            EXPECT_DOUBLE_EQ(query_.FieldByName("Text").AsDateTime(), c.asDateTime) << c.text;
        }
    }
}

TEST_F(FieldConversionTest, ConversionFailures) {
    const struct {
        const char* field;
        const char* text;  // value put into the text column first, when set
        std::function<void(const TABSField&)> read;
        const char* message;
    } cases[] = {
        {"Text", "4x", [](const TABSField& f) { (void)f.AsInteger(); }, "'4x' is not a valid integer value"},
        {"Text", "$10", [](const TABSField& f) { (void)f.AsInteger(); }, "'$10' is not a valid integer value"},
        {"Text", "1.5", [](const TABSField& f) { (void)f.AsFloat(); }, "'1.5' is not a valid floating point value"},
        {"Text", "gestern", [](const TABSField& f) { (void)f.AsDateTime(); }, "'gestern' is not a valid date and time"},
        {"Flag", nullptr, [](const TABSField& f) { (void)f.AsInteger(); }, "Cannot access field 'Flag' as type Integer"},
        {"Tag", nullptr, [](const TABSField& f) { (void)f.AsInteger(); }, "Cannot access field 'Tag' as type Integer"},
        {"Zahl", nullptr, [](const TABSField& f) { (void)f.AsDateTime(); }, "Cannot access field 'Zahl' as type DateTime"},
    };
    for (const auto& c : cases) {
        if (c.text) Put("Text", apitest::Text(c.text));
        const TABSField& field = query_.FieldByName(c.field);
        EXPECT_EQ(MessageOf([&] { c.read(field); }), c.message) << c.field;
    }
    Put("Wert", apitest::Extended(3e10L));
    EXPECT_EQ(MessageOf([&] { (void)query_.FieldByName("Wert").AsInteger(); }),
              "'30000000000' is not a valid integer value");
}

// ---------------------------------------------------------------------------------------------
// Locate

TEST_F(QueryTest, LocateFindsTheFirstMatchOrKeepsTheRow) {
    OpenSql("SELECT * FROM Namen");
    query_.Next();  // on N2
    int afterScroll = 0;
    query_.Events().AfterScroll = [&](TABSDataSet&) { ++afterScroll; };

    struct Case {
        const char* fields;
        std::vector<TDatasetVariant> values;
        TLocateOptions options;
        bool found;
        const char* idAfter;
    };
    const Case cases[] = {
        {"ID", {std::string("N3")}, {}, true, "N3"},
        {"ID", {std::string("N9")}, {}, false, "N3"},
        {"ID", {std::string("n1")}, {}, false, "N3"},
        {"ID", {std::string("n1")}, {true, false}, true, "N1"},
        {"Name", {std::string("MÜLLER")}, {}, false, "N1"},
        {"Name", {std::string("MÜLLER")}, {true, false}, true, "N2"},
        {"Name", {std::string("Sch")}, {}, false, "N2"},
        {"Name", {std::string("Sch")}, {false, true}, true, "N3"},
        {"ID;Name", {std::string("N1"), std::string("Meier")}, {}, true, "N1"},
        {"ID;Name", {std::string("N1"), std::string("Schulz")}, {}, false, "N1"},
        {" vorname ; id ", {std::monostate{}, std::string("N3")}, {}, true, "N3"},
        {"Vorname", {std::string("")}, {}, true, "N3"},  // an empty text is null
        {"Vorname", {std::string("Bernd")}, {}, true, "N2"},
    };
    int expectedScrolls = 0;
    for (const Case& c : cases) {
        const bool found = query_.Locate(c.fields, c.values, c.options);
        EXPECT_EQ(found, c.found) << c.fields;
        if (found) ++expectedScrolls;
        EXPECT_EQ(query_.FieldByName("ID").AsString(), c.idAfter) << c.fields;
        EXPECT_EQ(afterScroll, expectedScrolls) << c.fields;
        EXPECT_FALSE(query_.Eof());
    }
    EXPECT_TRUE(query_.Locate("ID", TDatasetVariant(std::string("N1"))));
}

TEST_F(QueryTest, LocateErrors) {
    EXPECT_EQ(MessageOf([&] { (void)query_.Locate("ID", TDatasetVariant(std::string("N1"))); }),
              "Cannot perform LOCATE on a closed dataset - Native error: 10271");
    OpenSql("SELECT * FROM Namen");
    const std::vector<TDatasetVariant> one = {std::string("N1")};
    EXPECT_EQ(MessageOf([&] { (void)query_.Locate("ID;Name", one); }),
              "Count of FieldNames (2) not equal counts of KeyValues (1) - Native error: 30112");
    EXPECT_EQ(MessageOf([&] { (void)query_.Locate("Nummer", one); }),
              "ABSQH1: Das Feld 'Nummer' wurde nicht gefunden");
}

TEST_F(QueryTest, LocateAfterEofKeepsTheLastRowWhenNothingMatches) {
    OpenSql("SELECT * FROM Namen");
    query_.Last();
    query_.Next();
    ASSERT_TRUE(query_.Eof());
    EXPECT_FALSE(query_.Locate("ID", TDatasetVariant(std::string("N0"))));
    EXPECT_EQ(query_.FieldByName("ID").AsString(), "N3");
    EXPECT_TRUE(query_.Eof());
}

// ---------------------------------------------------------------------------------------------
// Parameters

TEST(QueryParamsTest, ParameterNamesOutsideLiterals) {
    const struct {
        const char* text;
        std::vector<std::string> names;
    } cases[] = {
        {"SELECT * FROM T WHERE a = :a AND b = :B_2", {"a", "B_2"}},
        {"SELECT * FROM T WHERE a = :a OR b = :A", {"a"}},
        {"SELECT * FROM T WHERE Zeit = \"10:00\" AND x = ':y'", {}},
        {"SELECT \":\" FROM T", {}},
        {"SELECT a::b FROM T", {}},
        {"SELECT * FROM T WHERE a = :\"long name\" AND b = :[other one]", {"long name", "other one"}},
        {"SELECT * FROM T WHERE a = \"it\"\":x\" AND b=:z", {"z"}},
        {"SELECT * FROM T WHERE a = :", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(TABSQuery::ParseParamNames(c.text), c.names) << c.text;
}

TEST_F(QueryTest, ParametersKeepTheirValuesAcrossTextChangesAndReachExecution) {
    query_.SetSQLText("INSERT INTO Namen (ID, Name, Vorname) VALUES(:id, :name, :vorname)");
    ASSERT_EQ(query_.Params().size(), 3u);
    query_.ParamByName("ID").SetAsString("N20");
    query_.ParamByName("vorname").SetAsString("Carla");
    EXPECT_EQ(query_.ParamByName("Id").DataType(), F::ftString);
    EXPECT_EQ(MessageOf([&] { (void)query_.ParamByName("Jahr"); }), "ABSQH1: Parameter 'Jahr' not found");

    query_.SetSQLText("INSERT INTO Namen (ID, Vorname) VALUES(:ID, :Vorname)");
    ASSERT_EQ(query_.Params().size(), 2u);
    EXPECT_EQ(query_.Params()[0].Value(), TDatasetVariant(std::string("N20")));
    query_.SetSQLText("INSERT INTO Namen (ID, Name, Vorname) VALUES(:id, :name, :vorname)");
    query_.ExecSQL();
    const auto& row = Table("Namen").rows.back();
    EXPECT_EQ(row[0].GetAsString(), "N20");
    EXPECT_TRUE(row[1].IsNull());  // unbound: null
    EXPECT_EQ(row[2].GetAsString(), "Carla");

    query_.SetParamCheck(false);
    query_.SetSQLText("INSERT INTO Namen (ID) VALUES(:other)");
    EXPECT_EQ(query_.Params().size(), 3u);  // left as they were
}

TEST_F(QueryTest, UnboundParametersComeFromTheMasterDataSet) {
    TABSQuery master;
    master.SetSessionName("Queries");
    master.SetDatabaseName("Mem");
    master.SetSQLText("SELECT * FROM Namen");
    master.Open();
    master.Next();  // N2, müller, Bernd

    query_.SetDataSource(&master);
    query_.SetSQLText("INSERT INTO Namen (ID, Name, Vorname) VALUES(:ID, :Name, :Fehlt)");
    query_.ParamByName("ID").SetAsString("N30");
    query_.ExecSQL();
    const auto& row = Table("Namen").rows.back();
    EXPECT_EQ(row[0].GetAsString(), "N30");  // bound by the caller
    EXPECT_EQ(row[1].GetAsString(), "müller");
    EXPECT_TRUE(row[2].IsNull());  // no such master field
    query_.SetDataSource(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Hooks

TEST(WaitScopeTest, UsesTheHostsWaitWindowAndAlwaysEndsIt) {
    std::vector<std::string> calls;
    {
        TABSHostHooks hooks;
        hooks.BeginWait = [&](const std::string& message) { calls.push_back("begin " + message); };
        hooks.WaitProgress = [&](int percent) {
            calls.push_back("progress " + std::to_string(percent));
            return percent < 50;
        };
        hooks.EndWait = [&] { calls.push_back("end"); };
        apitest::HookScope scope(hooks);
        try {
            TABSWaitScope wait("Repairing Database...");
            EXPECT_TRUE(wait.Shown());
            EXPECT_TRUE(wait.Progress(10));
            EXPECT_FALSE(wait.Progress(150));  // clamped to 100; the user aborted
            throw std::runtime_error("copy failed");
        } catch (const std::runtime_error&) {
        }
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"begin Repairing Database...", "progress 10", "progress 100", "end"}));

    TABSWaitScope silent("Copy Table...");  // no hooks: nothing shown, always continue
    EXPECT_FALSE(silent.Shown());
    EXPECT_TRUE(silent.Progress(40));
}

} // namespace
} // namespace kova
