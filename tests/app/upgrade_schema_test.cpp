// The schema upgrade that every opened or created database goes through: the Settings table
// and its five limits, the javelin discipline, and the class/discipline pairs of earlier
// seasons; each unit on its own, only adding what is missing.
#include "file_commands_fixture.h"

#include <QFileInfo>
#include <QToolButton>

#include <tuple>
#include <utility>

namespace kova::app::test {
namespace {

constexpr std::pair<const char*, int> kDefaults[] = {{"MaxEinzelDiszPerName", 3},
                                                     {"MaxStaffelPerName", 1},
                                                     {"MaxEinzelPlusStaffelPerName", 3},
                                                     {"MaxNamenPerAKMitDisz", 12},
                                                     {"MaxNamenPerAKMitStaffel", 8}};

constexpr std::pair<const char*, const char*> kPairs[] = {{"WK3m", "BAL"}, {"WK3w", "BAL"}, {"WK2m", "SPE"},
                                                          {"WK2w", "SPE"}, {"WK1m", "SPE"}, {"WK1w", "SPE"}};

// A data module on one database file, upgraded by a main window of its own.
class SchemaUpgrade : public ::testing::Test {
protected:
    void Use(const std::vector<std::string>& statements) {
        file_ = folder_.filePath("meldung.abs").toStdString();
        MakeDatabase(file_, statements);
        dm_ = std::make_unique<TDM>();
        dm_->ABSDB().SetDatabaseFileName(file_);
    }

    void RunUpgrade() {
        TDM* const saved = std::exchange(DM, dm_.get());
        try {
            form_.UpdateDatabase();
        } catch (...) {
            DM = saved;
            throw;
        }
        DM = saved;
    }

    // The values of `column` for a SELECT on the database; empty when it fails or has no rows.
    std::vector<std::string> Column(const std::string& select, const char* column) {
        std::vector<std::string> values;
        TABSQuery& q = dm_->ABSQH2();
        try {
            if (!tools_.RunSQL(q, TTalmirMySQLTools::kOpen, select)) return values;
            for (q.First(); !q.Eof(); q.Next()) values.push_back(q.FieldByName(column).AsString());
        } catch (const std::exception&) {
            values.clear();
        }
        q.Close();
        return values;
    }

    QTemporaryDir folder_;
    std::string file_;
    std::unique_ptr<TDM> dm_;
    TTalmirMySQLTools tools_;
    TFormMain form_{QStringList{}};
};

TEST_F(SchemaUpgrade, DatabaseWithoutSettingsGetsTheTableAndTheFiveDefaults) {
    Use(SchemaWithoutSettings());
    RunUpgrade();
    for (const auto& [name, value] : kDefaults) {
        // Found by the exact spelling: the rows keep the names as the upgrade writes them.
        EXPECT_EQ(Column(std::string("SELECT VarValue FROM Settings WHERE VarName=\"") + name + "\"", "VarValue"),
                  std::vector<std::string>{std::to_string(value)})
            << name;
    }
    EXPECT_EQ(Column("SELECT VarName FROM Settings", "VarName").size(), 5U);
    // The third column is there for text settings.
    (void)tools_.RunSQL(dm_->ABSQH1(), TTalmirMySQLTools::kExecute,
                        "UPDATE Settings SET VarStr=\"frei\" WHERE VarName=\"MaxStaffelPerName\";");
    EXPECT_EQ(Column("SELECT VarStr FROM Settings WHERE VarName=\"MaxStaffelPerName\"", "VarStr"),
              std::vector<std::string>{"frei"});
}

TEST_F(SchemaUpgrade, StoredLimitsStayUnlessTheyReadAsZero) {
    struct Case {
        const char* stored;  // the value put into MaxNamenPerAKMitDisz before the upgrade
        int after;
    };
    const Case cases[] = {
        {"10", 10}, {"0", 12}, {"2.5", 2}, {"-1", -1}, {"0.4", 12}, {"1", 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> statements = FullSchema();
        statements.push_back(std::string("INSERT INTO Settings (VarName, VarValue) VALUES(\"MaxNamenPerAKMitDisz\", ") +
                             c.stored + ")");
        Use(statements);
        RunUpgrade();
        EXPECT_EQ(dm_->GetIntValueFromSettings("MaxNamenPerAKMitDisz", 99), c.after) << c.stored;
        EXPECT_EQ(Column("SELECT VarName FROM Settings WHERE VarName=\"MaxNamenPerAKMitDisz\"", "VarName").size(), 1U)
            << c.stored;
        // The sample database holds "MaxStaffelPerName" = 1 already: unchanged, not doubled.
        EXPECT_EQ(Column("SELECT VarValue FROM Settings WHERE UPPER(VarName)=\"MAXSTAFFELPERNAME\"", "VarValue"),
                  std::vector<std::string>{"1"});
        dm_.reset();
        QFile::remove(QString::fromStdString(file_));
    }
}

TEST_F(SchemaUpgrade, OldSeasonGetsJavelinAndThePairsAndASecondRunAddsNothing) {
    Use(TemplateStatements({.oldForm = true}));
    RunUpgrade();
    EXPECT_EQ(Column("SELECT Disziplin FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Disziplin"),
              std::vector<std::string>{"Speerwurf"});
    EXPECT_EQ(Column("SELECT Sort FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Sort"), std::vector<std::string>{"70020"});
    EXPECT_EQ(Column("SELECT EMS FROM Disziplinen WHERE Kuerzel=\"SPE\"", "EMS"), std::vector<std::string>{"E"});
    for (const auto& [klasse, disziplin] : kPairs) {
        EXPECT_EQ(Column(std::string("SELECT KlKuerzel FROM KlasseDiszplin WHERE KlKuerzel=\"") + klasse +
                             "\" AND DzKuerzel=\"" + disziplin + "\"",
                         "KlKuerzel")
                      .size(),
                  1U)
            << klasse << "/" << disziplin;
    }
    // The template's own pair and classes stay as they were.
    EXPECT_EQ(Column("SELECT DzKuerzel FROM KlasseDiszplin WHERE KlKuerzel=\"WK4w\"", "DzKuerzel"),
              std::vector<std::string>{"BAL"});
    EXPECT_EQ(Column("SELECT Kuerzel FROM Klassen", "Kuerzel").size(), 8U);

    const auto counts = [&] {
        return std::make_tuple(Column("SELECT VarName FROM Settings", "VarName").size(),
                               Column("SELECT Kuerzel FROM Disziplinen", "Kuerzel").size(),
                               Column("SELECT KlKuerzel FROM KlasseDiszplin", "KlKuerzel").size());
    };
    const auto before = counts();
    EXPECT_EQ(before, std::make_tuple(std::size_t{5}, std::size_t{2}, std::size_t{7}));
    RunUpgrade();
    EXPECT_EQ(counts(), before);
}

TEST_F(SchemaUpgrade, CurrentClassCodesGetTheOldPairsAllTheSame) {
    Use(FullSchema());
    RunUpgrade();
    EXPECT_EQ(Column("SELECT KlKuerzel FROM KlasseDiszplin WHERE KlKuerzel LIKE \"WK%\"", "KlKuerzel").size(), 6U);
}

TEST_F(SchemaUpgrade, ExistingJavelinStaysAsItIs) {
    std::vector<std::string> statements = FullSchema();
    statements.push_back("INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"SPE\", 5, \"Speer\", \"-\")");
    Use(statements);
    RunUpgrade();
    EXPECT_EQ(Column("SELECT Disziplin FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Disziplin"),
              std::vector<std::string>{"Speer"});
    EXPECT_EQ(Column("SELECT Sort FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Sort"), std::vector<std::string>{"5"});
}

TEST_F(SchemaUpgrade, EachUnitRunsWhenAnotherFails) {
    struct Case {
        const char* name;
        const char* dropped;   // the table the database lacks
        std::size_t javelin;   // SPE rows afterwards
        std::size_t pairs;     // pairs of the upgrade afterwards
    };
    const Case cases[] = {
        {"no discipline table", "Disziplinen", 0, 6},
        {"no pair table", "KlasseDiszplin", 1, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> statements;
        for (const std::string& s : SchemaWithoutSettings()) {
            if (s.find(std::string(" ") + c.dropped + " ") == std::string::npos) statements.push_back(s);
        }
        Use(statements);
        EXPECT_NO_THROW(RunUpgrade()) << c.name;
        EXPECT_EQ(Column("SELECT Kuerzel FROM Disziplinen WHERE Kuerzel=\"SPE\"", "Kuerzel").size(), c.javelin) << c.name;
        EXPECT_EQ(Column("SELECT KlKuerzel FROM KlasseDiszplin WHERE KlKuerzel LIKE \"WK%\"", "KlKuerzel").size(), c.pairs)
            << c.name;
        EXPECT_EQ(dm_->GetIntValueFromSettings("MaxEinzelPlusStaffelPerName", 0), 3) << c.name;
        dm_.reset();
        QFile::remove(QString::fromStdString(file_));
    }
}

TEST_F(SchemaUpgrade, FailureToMakeTheSettingsTablePassesOn) {
    file_ = folder_.filePath("kaputt.abs").toStdString();
    QFile garbage(QString::fromStdString(file_));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x33'));
    garbage.close();
    dm_ = std::make_unique<TDM>();
    dm_->ABSDB().SetDatabaseFileName(file_);
    EXPECT_THROW(RunUpgrade(), std::exception);
}

// The upgrade as the open command runs it.
class UpgradeOnOpening : public FileCommands {};

TEST_F(UpgradeOnOpening, OpeningTwiceAddsNothingTheSecondTime) {
    const QString path = folder_.filePath("alt.abs");
    MakeDatabase(path.toStdString(), TemplateStatements({.oldForm = true}));
    StartProgram();
    for (int round = 0; round < 2; ++round) {
        dialogAnswer_ = path;
        ModalScript script;
        std::size_t settingsRows = 0;
        script.Then(FormDatabase, [&] {
            TABSQuery& q = DM->ABSQH2();
            if (DM->TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen,
                                              "SELECT COUNT(*) AS N FROM KlasseDiszplin")) {
                settingsRows = static_cast<std::size_t>(q.FieldByName("N").AsInteger());
            }
            q.Close();
            FormDatabase->close();
        });
        FormMain->SBOpenClick();
        EXPECT_TRUE(script.Done()) << round;
        EXPECT_EQ(settingsRows, 7U) << round;  // the template's one pair and the six added once
    }
    EXPECT_TRUE(messages_.empty());
}

} // namespace
} // namespace kova::app::test
