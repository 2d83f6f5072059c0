// The competition templates built into Vorlagen/ from templates/*.wbs.sql, opened the way the
// program opens them (its password, its statements): the competition row the catalogue lists
// and sorts by (the older template's date before the current one's), the classes and limits of the current template, the older template's class codes
// and missing limits table, and the cross references between classes, disciplines and allowed
// pairs that the entry form and the check rely on.
//
// The build hands this test the folder of the templates when it builds them; otherwise the
// tests are skipped.
#include "api_test_support.h"

#include "engine/core/FormatSettings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::NativeErrorOf;

constexpr char kPassword[] = "quorbel";
constexpr char kCurrentTemplate[] = "Kreisfinale_2026-2027.wbs";
constexpr char kOldTemplate[] = "Kreisfinale_2010-2011.wbs";

// Day numbers as dates leave the engine (day 0 is 30 December 1899).
constexpr double kDay15June2027 = 46553;
constexpr double kDay14June2011 = 40708;

using Row = std::map<std::string, std::string>;

class TemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef KOVA_TEMPLATES_DIR
        GTEST_SKIP() << "templates are not built (configure with -DKOVA_BUILD_TEMPLATES=ON)";
#else
        // The program shows dates as dd.mm.yyyy; the catalogue lists Datum as text in that form.
        previousFormat_ = *GetFormatSettings();
        TFormatSettings german = previousFormat_;
        german.ShortDateFormat = "dd.mm.yyyy";
        german.DateSeparator = '.';
        SetFormatSettings(german);
        formatChanged_ = true;

        session_.SetSessionName("Template");
        db_.SetName("ABSDBTemplate");
        db_.SetSessionName("Template");
        db_.SetDatabaseName("MyDB");
        db_.SetPassword(kPassword);
        query_.SetName("ABSQTemplate");
        query_.SetSessionName("Template");
        query_.SetDatabaseName("MyDB");
#endif
    }

    void TearDown() override {
        query_.Close();
        if (db_.Connected()) db_.SetConnected(false);
        if (formatChanged_) SetFormatSettings(previousFormat_);
    }

    static std::string TemplatePath(const std::string& name) {
#ifdef KOVA_TEMPLATES_DIR
        return (std::filesystem::path(KOVA_TEMPLATES_DIR) / name).string();
#else
        return name;
#endif
    }

    void Use(const std::string& templateName) {
        query_.Close();
        if (db_.Connected()) db_.SetConnected(false);
        const std::string path = TemplatePath(templateName);
        ASSERT_TRUE(std::filesystem::is_regular_file(path)) << path;
        db_.SetDatabaseFileName(path);
    }

    void Open(const std::string& sql) {
        query_.Close();
        query_.SetSQLText(sql);
        query_.Open();
    }

    // Every row of the statement's result, the named columns read as text.
    std::vector<Row> Rows(const std::string& sql, const std::vector<std::string>& columns) {
        Open(sql);
        std::vector<Row> rows;
        for (query_.First(); !query_.Eof(); query_.Next()) {
            Row row;
            for (const std::string& column : columns) row[column] = query_.FieldByName(column).AsString();
            rows.push_back(std::move(row));
        }
        return rows;
    }

    std::set<std::string> Codes(const std::string& table) {
        std::set<std::string> codes;
        for (const Row& row : Rows("SELECT Kuerzel FROM " + table, {"Kuerzel"})) codes.insert(row.at("Kuerzel"));
        return codes;
    }

    // The entry form's pair test.
    bool PairAllowed(const std::string& classCode, const std::string& discipline) {
        Open("SELECT * FROM KlasseDiszplin WHERE (KlKuerzel=\"" + classCode + "\" AND DzKuerzel=\"" + discipline +
             "\");");
        return !query_.Eof();
    }

    TFormatSettings previousFormat_;
    bool formatChanged_ = false;
    TABSSession session_;
    TABSDatabase db_;
    TABSQuery query_;
};

// ---------------------------------------------------------------------------------------------
// What each template holds

TEST_F(TemplateTest, RowCountsOfEveryTable) {
    struct Case {
        const char* file;
        const char* table;
        std::int64_t rows;
    };
    const Case cases[] = {
        {kCurrentTemplate, "Wettkampf", 1},     {kCurrentTemplate, "Verein", 1},
        {kCurrentTemplate, "Namen", 0},         {kCurrentTemplate, "Klassen", 8},
        {kCurrentTemplate, "Disziplinen", 13},  {kCurrentTemplate, "KlasseDiszplin", 62},
        {kCurrentTemplate, "Settings", 5},      {kOldTemplate, "Wettkampf", 1},
        {kOldTemplate, "Verein", 1},            {kOldTemplate, "Namen", 0},
        {kOldTemplate, "Klassen", 8},           {kOldTemplate, "Disziplinen", 12},
        {kOldTemplate, "KlasseDiszplin", 56},
    };
    for (const Case& c : cases) {
        Use(c.file);
        Open(std::string("SELECT * FROM ") + c.table);
        EXPECT_EQ(query_.RecordCount(), c.rows) << c.file << " " << c.table;
    }
}

TEST_F(TemplateTest, CompetitionRowsAsTheCatalogueListsThem) {
    struct Case {
        const char* file;
        int year;
        const char* date;
        double day;
        const char* name;
        const char* time;
    };
    const Case cases[] = {
        {kCurrentTemplate, 2027, "15.06.2027", kDay15June2027, "Kreisfinale Leichtathletik Schulmannschaften 2027",
         "09:00-16:00"},
        {kOldTemplate, 2011, "14.06.2011", kDay14June2011, "Kreisfinale Leichtathletik Schulmannschaften 2011",
         "09:30-15:30"},
    };
    for (const Case& c : cases) {
        Use(c.file);
        Open("SELECT * FROM Wettkampf");
        ASSERT_FALSE(query_.Eof()) << c.file;
        EXPECT_EQ(query_.FieldByName("WkJahr").AsInteger(), c.year) << c.file;
        EXPECT_EQ(query_.FieldByName("Datum").AsString(), c.date) << c.file;
        EXPECT_DOUBLE_EQ(query_.FieldByName("Datum").AsDateTime(), c.day) << c.file;
        EXPECT_EQ(query_.FieldByName("Bezeichnung").AsString(), c.name) << c.file;
        EXPECT_EQ(query_.FieldByName("Ort").AsString(), "Sportpark am Stadtwald, Musterstadt") << c.file;
        EXPECT_EQ(query_.FieldByName("Zeitraum").AsString(), c.time) << c.file;

        // The entry form reads the competition year on its own.
        Open("SELECT WkJahr FROM Wettkampf;");
        ASSERT_FALSE(query_.Eof()) << c.file;
        EXPECT_EQ(query_.FieldByName("WkJahr").AsInteger(), c.year) << c.file;
    }
}

TEST_F(TemplateTest, SchoolRowIsThereAndEmpty) {
    for (const char* file : {kCurrentTemplate, kOldTemplate}) {
        Use(file);
        Open("SELECT * FROM Verein");
        ASSERT_FALSE(query_.Eof()) << file;
        EXPECT_EQ(query_.FieldByName("ID").AsString(), "V00000001") << file;
        for (const char* column : {"Schule", "Anschrift", "Telefon", "FAX", "EMail"}) {
            EXPECT_TRUE(query_.FieldByName(column).IsNull()) << file << " " << column;
        }
    }
}

TEST_F(TemplateTest, AgeClassesWithTheirAgeRanges) {
    struct Class {
        const char* code;
        const char* name;
        const char* sex;
        const char* from;
        const char* to;
    };
    const std::vector<Class> current = {
        {"W41", "WK IV/1 weiblich", "w", "10", "13"},  {"M41", "WK IV/1 männlich", "m", "10", "13"},
        {"W31", "WK III/1 weiblich", "w", "12", "15"}, {"M31", "WK III/1 männlich", "m", "12", "15"},
        {"W21", "WK II weiblich", "w", "14", "17"},    {"M21", "WK II männlich", "m", "14", "17"},
        {"W11", "WK I weiblich", "w", "16", "19"},     {"M11", "WK I männlich", "m", "16", "19"},
    };
    const std::vector<Class> old = {
        {"WK4w", "WK IV weiblich", "w", "10", "13"},  {"WK4m", "WK IV männlich", "m", "10", "13"},
        {"WK3w", "WK III weiblich", "w", "12", "15"}, {"WK3m", "WK III männlich", "m", "12", "15"},
        {"WK2w", "WK II weiblich", "w", "14", "17"},  {"WK2m", "WK II männlich", "m", "14", "17"},
        {"WK1w", "WK I weiblich", "w", "16", "19"},   {"WK1m", "WK I männlich", "m", "16", "19"},
    };
    const std::vector<std::string> columns = {"Kuerzel", "Klasse", "SEX", "AlterVon", "AlterBis"};
    for (const auto& [file, expected] : {std::pair{kCurrentTemplate, current}, std::pair{kOldTemplate, old}}) {
        Use(file);
        for (const Class& c : expected) {
            const auto rows =
                Rows(std::string("SELECT * FROM Klassen WHERE Kuerzel=\"") + c.code + "\"", columns);
            ASSERT_EQ(rows.size(), 1u) << file << " " << c.code;
            EXPECT_EQ(rows[0].at("Klasse"), c.name) << file << " " << c.code;
            EXPECT_EQ(rows[0].at("SEX"), c.sex) << file << " " << c.code;
            EXPECT_EQ(rows[0].at("AlterVon"), c.from) << file << " " << c.code;
            EXPECT_EQ(rows[0].at("AlterBis"), c.to) << file << " " << c.code;
        }
    }
}

TEST_F(TemplateTest, OldTemplateKnowsOnlyTheOldClassCodes) {
    Use(kOldTemplate);
    const std::set<std::string> codes = Codes("Klassen");
    for (const char* code : {"W41", "M41", "W31", "M31", "W21", "M21", "W11", "M11"}) {
        EXPECT_FALSE(codes.contains(code)) << code;
    }
    std::set<std::string> pairClasses;
    for (const Row& row : Rows("SELECT KlKuerzel FROM KlasseDiszplin", {"KlKuerzel"})) {
        pairClasses.insert(row.at("KlKuerzel"));
    }
    EXPECT_EQ(pairClasses, codes);
}

TEST_F(TemplateTest, LimitsOfTheCurrentTemplate) {
    Use(kCurrentTemplate);
    struct Limit {
        const char* name;
        int value;
    };
    const Limit limits[] = {
        {"MaxEinzelDiszPerName", 3},     {"MaxStaffelPerName", 1},        {"MaxEinzelPlusStaffelPerName", 3},
        {"MaxNamenPerAKMitDisz", 12},    {"MaxNamenPerAKMitStaffel", 8},
    };
    for (const Limit& limit : limits) {
        // Exact name, as the template editor matches it.
        Open(std::string("SELECT * FROM Settings WHERE VarName=\"") + limit.name + "\"");
        ASSERT_FALSE(query_.Eof()) << limit.name;
        EXPECT_EQ(query_.FieldByName("VarValue").AsInteger(), limit.value) << limit.name;
        EXPECT_TRUE(query_.FieldByName("VarString").IsNull()) << limit.name;
    }
}

TEST_F(TemplateTest, OldTemplateHasNoLimitsTableAndNoJavelin) {
    Use(kOldTemplate);
    // Opening a database made from it creates the table and adds javelin; both must be missing
    // here or the upgrade is never exercised.
    EXPECT_NE(NativeErrorOf([&] { Open("SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\""); }),
              0);
    Open("SELECT * FROM Disziplinen WHERE Kuerzel=\"SPE\"");
    EXPECT_TRUE(query_.Eof());
    for (const char* classCode : {"WK3m", "WK3w"}) EXPECT_FALSE(PairAllowed(classCode, "BAL")) << classCode;
}

// ---------------------------------------------------------------------------------------------
// Classes, disciplines and pairs fit together

TEST_F(TemplateTest, PairsReferToExistingClassesAndDisciplines) {
    for (const char* file : {kCurrentTemplate, kOldTemplate}) {
        Use(file);
        const std::set<std::string> classes = Codes("Klassen");
        const std::set<std::string> disciplines = Codes("Disziplinen");
        std::set<std::string> relays;
        for (const Row& row : Rows("SELECT * FROM Disziplinen WHERE EMS=\"S\"", {"Kuerzel"})) relays.insert(row.at("Kuerzel"));
        std::set<std::pair<std::string, std::string>> seen;
        std::set<std::string> classesWithRelay;
        for (const Row& row : Rows("SELECT * FROM KlasseDiszplin", {"KlKuerzel", "DzKuerzel"})) {
            const std::string& classCode = row.at("KlKuerzel");
            const std::string& discipline = row.at("DzKuerzel");
            EXPECT_TRUE(classes.contains(classCode)) << file << " " << classCode;
            EXPECT_TRUE(disciplines.contains(discipline)) << file << " " << discipline;
            EXPECT_TRUE(seen.emplace(classCode, discipline).second) << file << " twice: " << classCode << "/" << discipline;
            if (relays.contains(discipline)) classesWithRelay.insert(classCode);
        }
        // Every class holds a relay and offers the "no discipline" entry.
        EXPECT_EQ(classesWithRelay, classes) << file;
        for (const std::string& classCode : classes) {
            EXPECT_TRUE(seen.contains({classCode, "-"})) << file << " " << classCode;
        }
    }
}

TEST_F(TemplateTest, DisciplinesAreUsableInTheListsAndTheExport) {
    for (const char* file : {kCurrentTemplate, kOldTemplate}) {
        Use(file);
        std::set<std::string> names;
        int relays = 0;
        for (const Row& row : Rows("SELECT * FROM Disziplinen ORDER BY Sort;", {"Kuerzel", "Disziplin", "EMS"})) {
            const std::string& code = row.at("Kuerzel");
            const std::string& name = row.at("Disziplin");
            const std::string& use = row.at("EMS");
            EXPECT_TRUE(use == "E" || use == "S" || use == "-") << file << " " << code << " EMS " << use;
            // The export list has four characters for a code.
            EXPECT_LE(code.size(), 4u) << file << " " << code;
            // A "-" means "no discipline": only the entry that stands for it may carry one.
            const bool noDiscipline = code == "-";
            EXPECT_EQ(name.find('-') != std::string::npos, noDiscipline) << file << " " << code << " " << name;
            EXPECT_EQ(code.find('-') != std::string::npos, noDiscipline) << file << " " << code;
            // Names are looked up back to codes, so they must be unique.
            EXPECT_TRUE(names.insert(name).second) << file << " " << name;
            if (use == "S") ++relays;
        }
        EXPECT_EQ(relays, 3) << file;
    }
}

TEST_F(TemplateTest, DisciplinesAllowedByClass) {
    struct Case {
        const char* file;
        const char* classCode;
        const char* discipline;
        bool allowed;
    };
    const Case cases[] = {
        {kCurrentTemplate, "W41", "S50", true},   {kCurrentTemplate, "W41", "S100", false},
        {kCurrentTemplate, "M41", "BAL", true},   {kCurrentTemplate, "M31", "BAL", true},
        {kCurrentTemplate, "W21", "BAL", false},  {kCurrentTemplate, "M41", "KUG", false},
        {kCurrentTemplate, "W31", "KUG", true},   {kCurrentTemplate, "M21", "SPE", true},
        {kCurrentTemplate, "W11", "SPE", true},   {kCurrentTemplate, "M31", "SPE", false},
        {kCurrentTemplate, "W31", "R75", true},   {kCurrentTemplate, "W31", "R100", false},
        {kCurrentTemplate, "M11", "R100", true},  {kCurrentTemplate, "M11", "L800", true},
        {kCurrentTemplate, "WK4w", "S50", false}, {kOldTemplate, "WK4w", "S50", true},
        {kOldTemplate, "WK4m", "BAL", true},      {kOldTemplate, "WK2m", "KUG", true},
        {kOldTemplate, "WK1w", "R100", true},     {kOldTemplate, "WK2w", "S75", false},
        {kOldTemplate, "W41", "S50", false},
    };
    for (const Case& c : cases) {
        Use(c.file);
        EXPECT_EQ(PairAllowed(c.classCode, c.discipline), c.allowed) << c.file << " " << c.classCode << "/" << c.discipline;
    }
}

} // namespace
} // namespace kova
