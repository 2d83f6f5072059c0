// The registration check's run on a small competition: each test's faults and messages, the
// limits from Settings, the counting conventions and the verdict rows.
#include "check/CheckRun.h"
#include "model/CompetitionRules.h"
#include "model/RegistrationListStatement.h"
#include "model/TalmirMySQLTools.h"
#include "check_competition.h"
#include "registration_db.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>
#include <vector>

namespace kova::app::test {
namespace {

// A protocol in memory that also keeps the overall row's text as first written.
class TRecordingRows final : public TCheckProtocol {
public:
    void Clear() override { rows.Clear(); }
    int AddRow(const std::string& a, const std::string& e, const std::string& b) override {
        if (rows.Rows().empty()) firstBemerkung = b;
        return rows.AddRow(a, e, b);
    }
    void SetErgebnis(int row, const std::string& text) override { rows.SetErgebnis(row, text); }
    void SetBemerkung(int row, const std::string& text) override { rows.SetBemerkung(row, text); }
    void SelectRow(int row) override { lastSelected = row; }

    TCheckRows rows;
    std::string firstBemerkung;
    int lastSelected = -1;
};

class CheckRunTest : public ::testing::Test {
protected:
    // Makes the competition with these athletes and settings rows, runs the check on it.
    TCheckResult Check(const std::vector<TAthlete>& athletes, const std::vector<std::string>& settings = {}) {
        std::vector<std::string> statements = CompetitionStatements();
        int number = 1;
        for (const TAthlete& a : athletes) statements.push_back(InsertAthlete(number++, a));
        statements.insert(statements.end(), settings.begin(), settings.end());
        const std::string file = folder_.filePath(QStringLiteral("check.abs")).toStdString();
        MakeDatabase(file, statements);

        TABSDatabase db;
        db.SetDatabaseName("CheckRun");
        db.SetDatabaseFileName(file);
        db.SetPassword("quorbel");
        TABSQuery list, classes, classLookup, disciplineLookup, check, settingsQuery;
        for (TABSQuery* q : {&list, &classes, &classLookup, &disciplineLookup, &check, &settingsQuery}) q->SetDatabaseName("CheckRun");
        const TTalmirMySQLTools tools;
        EXPECT_TRUE(tools.RunSQL(list, TTalmirMySQLTools::kOpen, RegistrationListStatement(kDefaultListOrder)) || athletes.empty());
        const TCompetitionRules rules(tools, classLookup, disciplineLookup, check);
        const TCheckLimits limits = TCheckLimits::Read([&](std::string_view name, int defaultValue) {
            if (tools.RunSQL(settingsQuery, TTalmirMySQLTools::kOpen,
                             "SELECT * FROM Settings WHERE UPPER(VarName) = \"" + ToUpper(name) + "\";")) {
                return settingsQuery.FieldByName("VarValue").AsInteger();
            }
            return defaultValue;
        });
        TCheckRun run(list, classes, tools, rules, limits, protocol_);
        const TCheckResult result = run.Run();
        for (TABSQuery* q : {&list, &classes, &classLookup, &disciplineLookup, &check, &settingsQuery}) q->Close();
        db.Close();
        return result;
    }

    static std::string ToUpper(std::string_view text) {
        std::string upper(text);
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return upper;
    }

    [[nodiscard]] const std::vector<TCheckRow>& Rows() const { return protocol_.rows.Rows(); }

    // The rows of one test: its header and its fault rows.
    [[nodiscard]] std::vector<TCheckRow> RowsTagged(const std::string& tag) const {
        std::vector<TCheckRow> tagged;
        for (const TCheckRow& row : Rows()) {
            if (row.aktion == tag) tagged.push_back(row);
        }
        return tagged;
    }

    QTemporaryDir folder_;
    TRecordingRows protocol_;
};

TEST_F(CheckRunTest, EmptyDatabasePassesEveryTest) {
    const TCheckResult result = Check({});
    EXPECT_TRUE(result.Passed());
    EXPECT_EQ(protocol_.firstBemerkung, "0 Namen");
    const std::vector<TCheckRow> expected = {
        {"Gesamt", "o.k.", "Prüfung beendet."},
        {"Name", "o.k.", "Test auf Namen und Vornamen"},
        {"AK/Jg.", "o.k.", "Test auf Altersklassen und Jahrgänge"},
        {"Disz.", "o.k.", "Test auf Disziplinen in gegebener Altersklasse"},
        {"Anz.Disz.", "o.k.", "Test auf Anzahl Disziplinen je Teilnehmer"},
        {"Anz.Einzel", "o.k.", "Test auf Anzahl Einzeldisziplinen je Teilnehmer"},
        {"Anz.Staffel", "o.k.", "Test auf Anzahl Staffeln je Teilnehmer"},
        {"AK W41", "o.k.", "Test auf Anzahl Teilnehmer in AK \"Mädchen 10/11\""},
        {"AK M31", "o.k.", "Test auf Anzahl Teilnehmer in AK \"Jungen 12/13\""},
        {"Gesamt", "o.k.", "Datenbank kann exportiert werden."},
    };
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(protocol_.lastSelected, static_cast<int>(expected.size()) - 1);
}

TEST_F(CheckRunTest, MissingFirstNameIsOneFaultOfTheNameTest) {
    const TCheckResult result = Check({{"Maier", "", "2015", "W41", "SPR", "-", "-", "-"}});
    EXPECT_EQ(result.faults, 1);
    const std::vector<TCheckRow> expected = {
        {"Name", "1 Fehler", "Test auf Namen und Vornamen"},
        {"Name", "Fehler bei", "\" Maier\": Name unvollständig."},
    };
    EXPECT_EQ(RowsTagged("Name"), expected);
    EXPECT_EQ(Rows().front(), (TCheckRow{"Gesamt", "1 Fehler", "Prüfung beendet."}));
    EXPECT_EQ(Rows().back(), (TCheckRow{"Gesamt", "1 Fehler", "Bitte Fehler vor dem Versand korrigieren."}));
}

TEST_F(CheckRunTest, ImportedRowWithoutDisciplinesFailsEachFieldAndHasNoStart) {
    const TCheckResult result = Check({{"Lang", "Ida", "2015", "W41", "", "", "", ""}});
    EXPECT_EQ(result.faults, 4);
    const std::vector<TCheckRow> disz = RowsTagged("Disz.");
    ASSERT_EQ(disz.size(), 5U);
    EXPECT_EQ(disz[0].ergebnis, "4 Fehler");
    for (std::size_t i = 1; i < disz.size(); ++i) {
        EXPECT_EQ(disz[i], (TCheckRow{"Disz.", "Fehler bei", "Ida Lang, AK: \"W41\"; Disziplin \"\" nicht zulässig"}));
    }
    EXPECT_EQ(RowsTagged("Anz.Disz.").front().ergebnis, "o.k.");
    EXPECT_EQ(RowsTagged("AK W41").front().ergebnis, "o.k.");
}

TEST_F(CheckRunTest, WrongClassAndTwoWrongDisciplinesCountThreeFaults) {
    // Born 2010: 16 in 2026, too old for W41; M31 allows only WEI.
    const TCheckResult result = Check({{"Ost", "Lena", "2010", "W41", "SPR", "-", "-", "-"},
                                       {"Kurz", "Jan", "2013", "M31", "WEI", "SPR", "BAL", "-"}});
    EXPECT_EQ(result.faults, 3);  // Lena: class; Jan: SPR and BAL
    const std::vector<TCheckRow> akjg = RowsTagged("AK/Jg.");
    ASSERT_EQ(akjg.size(), 2U);
    EXPECT_EQ(akjg[1].bemerkung, "Lena Ost, AK: \"W41\"; Jg: \"2010\"");
    const std::vector<TCheckRow> disz = RowsTagged("Disz.");
    ASSERT_EQ(disz.size(), 3U);
    EXPECT_EQ(disz[0].ergebnis, "2 Fehler");
    EXPECT_EQ(disz[1].bemerkung, "Jan Kurz, AK: \"M31\"; Disziplin \"SPR\" nicht zulässig");
    EXPECT_EQ(disz[2].bemerkung, "Jan Kurz, AK: \"M31\"; Disziplin \"BAL\" nicht zulässig");
    EXPECT_EQ(Rows().front().ergebnis, "3 Fehler");
}

TEST_F(CheckRunTest, StartsPerRegistrationAgainstTheirLimits) {
    struct Case {
        const char* what;
        TAthlete athlete;
        std::vector<std::string> settings;
        const char* failingTag;  // nullptr: every count test passes
        const char* message;
    };
    const Case cases[] = {
        {"three and a relay exceed the default 3", {"Voll", "Mia", "2015", "W41", "SPR", "BAL", "WEI", "STA"}, {},
         "Anz.Disz.", "Mia Voll, AK: \"W41\" ist für zu viele Disziplinen gemeldet."},
        {"two and a relay pass", {"Halb", "Mia", "2015", "W41", "SPR", "BAL", "-", "STA"}, {}, nullptr, nullptr},
        {"a lower limit from Settings, any letter case",
         {"Halb", "Mia", "2015", "W41", "SPR", "BAL", "-", "STA"},
         {"INSERT INTO Settings (VarName, VarValue) VALUES(\"maxeinzelplusstaffelpername\", 2)"},
         "Anz.Disz.", "Mia Halb, AK: \"W41\" ist für zu viele Disziplinen gemeldet."},
        {"individual starts against MaxEinzelDiszPerName",
         {"Drei", "Mia", "2015", "W41", "SPR", "BAL", "WEI", "-"},
         {"INSERT INTO Settings (VarName, VarValue) VALUES(\"MaxEinzelDiszPerName\", 2)"},
         "Anz.Einzel", "Mia Drei, AK: \"W41\" ist für zu viele Einzeldisziplinen gemeldet."},
        {"relay starts against MaxStaffelPerName",
         {"Staffel", "Mia", "2015", "W41", "SPR", "-", "-", "STA"},
         {"INSERT INTO Settings (VarName, VarValue) VALUES(\"MaxStaffelPerName\", 0)"},
         "Anz.Staffel", "Mia Staffel, AK: \"W41\" ist für zu viele Staffeln gemeldet."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TCheckResult result = Check({c.athlete}, c.settings);
        for (const char* tag : {"Anz.Disz.", "Anz.Einzel", "Anz.Staffel"}) {
            const std::vector<TCheckRow> rows = RowsTagged(tag);
            if (c.failingTag != nullptr && std::string(tag) == c.failingTag) {
                ASSERT_EQ(rows.size(), 2U) << tag;
                EXPECT_EQ(rows[0].ergebnis, "1 Fehler");
                EXPECT_EQ(rows[1].bemerkung, c.message);
            } else {
                EXPECT_EQ(rows.size(), 1U) << tag;
                EXPECT_EQ(rows[0].ergebnis, "o.k.") << tag;
            }
        }
        EXPECT_EQ(result.faults, c.failingTag == nullptr ? 0 : 1);
    }
}

TEST_F(CheckRunTest, ClassLimitsCountStartersAndRelayStarters) {
    std::vector<TAthlete> athletes;
    // Twelve with an individual start, one with only a relay start (counts as a starter too),
    // nine of them with a relay start: 13 starters, 9 relay starters in W41.
    static const char* const names[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M"};
    for (int i = 0; i < 13; ++i) {
        const bool relay = i >= 4;
        athletes.push_back({names[i], "Kind", "2015", "W41", i == 12 ? "-" : "SPR", "-", "-", relay ? "STA" : "-"});
    }
    // Another class's athletes never count for W41.
    athletes.push_back({"Z", "Kind", "2013", "M31", "WEI", "-", "-", "-"});
    const TCheckResult result = Check(athletes);
    EXPECT_EQ(result.registrations, 14);
    EXPECT_EQ(protocol_.firstBemerkung, "14 Namen");
    const std::vector<TCheckRow> expected = {
        {"AK W41", "2 Fehler", "Test auf Anzahl Teilnehmer in AK \"Mädchen 10/11\""},
        {"AK W41", "Einzel:", "Zu viele Einzelstarter: 13 mit Meldungen in Einzeldisziplinen."},
        {"AK W41", "Staffel:", "Zu viele Staffel- Teilnehmer: 9 mit Meldungen für Staffel."},
    };
    EXPECT_EQ(RowsTagged("AK W41"), expected);
    EXPECT_EQ(RowsTagged("AK M31").front().ergebnis, "o.k.");
    EXPECT_EQ(result.faults, 2);
}

TEST(CheckCountingTest, StartIsANonEmptyFieldWithoutDash) {
    struct Case {
        const char* field;
        bool start;
    };
    for (const Case& c : {Case{"SPR", true}, Case{"", false}, Case{"-", false}, Case{"--", false}, Case{"S-A", false}, Case{" ", true}}) {
        EXPECT_EQ(IsStart(c.field), c.start) << '"' << c.field << '"';
    }
    EXPECT_EQ(TCheckRun::FaultText(13), "13 Fehler");
}

} // namespace
} // namespace kova::app::test
