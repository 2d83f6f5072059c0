// The organiser's console program: "check" prints each file's check protocol and sums the
// verdicts up in its exit status, reading the files without changing them.
#include "check_competition.h"

#include "check/CheckCommand.h"
#include "output/QUVCommand.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <sstream>

namespace kova::app::test {
namespace {

class KovaMeldungenCheck : public ::testing::Test {
protected:
    std::string Make(const char* name, const std::vector<TAthlete>& athletes) {
        std::vector<std::string> statements = CompetitionStatements();
        int number = 1;
        for (const TAthlete& a : athletes) statements.push_back(InsertAthlete(number++, a));
        const std::string file = folder_.filePath(QString::fromLatin1(name)).toStdString();
        MakeDatabase(file, statements);
        return file;
    }
    int Run(const std::vector<std::string>& arguments) {
        out_.str({});
        err_.str({});
        return RunKovaMeldungen(arguments, out_, err_);
    }
    [[nodiscard]] std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        std::istringstream in(out_.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    static QByteArray Hash(const std::string& file) {
        QFile f(QString::fromStdString(file));
        return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
    }

    QTemporaryDir folder_;
    std::ostringstream out_;
    std::ostringstream err_;
};

const TAthlete kClean = {"Berg", "Lena", "2015", "W41", "SPR", "BAL", "-", "STA"};
// Too old for W41, and M31 allows only WEI: three faults.
const TAthlete kTooOld = {"Ost", "Lena", "2010", "W41", "SPR", "-", "-", "-"};
const TAthlete kWrongDisciplines = {"Kurz", "Jan", "2013", "M31", "WEI", "SPR", "BAL", "-"};

TEST_F(KovaMeldungenCheck, CleanFilePrintsItsProtocolAndEndsWithZero) {
    const std::string file = Make("sauber.abs", {kClean});
    const QByteArray before = Hash(file);
    ASSERT_EQ(Run({"check", file}), 0) << err_.str();
    EXPECT_TRUE(err_.str().empty());

    // The same rows the check window would show, after a line with the file's name.
    TCheckRows expected;
    ASSERT_TRUE(CheckFile(file, expected).Passed());
    const std::vector<std::string> lines = OutLines();
    ASSERT_EQ(lines.size(), expected.Rows().size() + 1);
    EXPECT_EQ(lines[0], file);
    for (std::size_t i = 0; i < expected.Rows().size(); ++i) {
        const TCheckRow& row = expected.Rows()[i];
        EXPECT_EQ(lines[i + 1], row.aktion + "\t" + row.ergebnis + "\t" + row.bemerkung);
    }
    EXPECT_EQ(lines.back(), "Gesamt\to.k.\tDatenbank kann exportiert werden.");
    EXPECT_EQ(Hash(file), before);  // read, never written
}

TEST_F(KovaMeldungenCheck, FaultyFileEndsWithOneAndNamesTheFaults) {
    const std::string file = Make("fehler.abs", {kTooOld, kWrongDisciplines});
    const QByteArray before = Hash(file);
    EXPECT_EQ(Run({"check", file}), 1);
    const std::vector<std::string> lines = OutLines();
    ASSERT_GE(lines.size(), 2U);
    EXPECT_EQ(lines[0], file);
    EXPECT_EQ(lines[1].substr(0, lines[1].find('\t')), "Gesamt");
    EXPECT_NE(lines[1].find("3 Fehler"), std::string::npos) << lines[1];
    EXPECT_NE(out_.str().find("Jan Kurz, AK: \"M31\"; Disziplin \"SPR\" nicht zulässig"), std::string::npos);
    EXPECT_EQ(lines.back(), "Gesamt\t3 Fehler\tBitte Fehler vor dem Versand korrigieren.");
    EXPECT_EQ(Hash(file), before);
}

TEST_F(KovaMeldungenCheck, EveryFileIsCheckedAndTheWorstOutcomeDecides) {
    const std::string clean = Make("a.abs", {kClean});
    const std::string faulty = Make("b.abs", {kTooOld});
    const std::string missing = folder_.filePath("gibtesnicht.abs").toStdString();
    const QString notADatabase = folder_.filePath("brief.abs");
    {
        QFile f(notADatabase);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Sehr geehrte Damen und Herren");
    }
    struct Case {
        std::vector<std::string> files;
        int status;
        std::vector<std::string> printed;  // the file-name lines, in order
    };
    const Case cases[] = {
        {{clean}, 0, {clean}},
        {{clean, faulty}, 1, {clean, faulty}},
        {{faulty, clean}, 1, {faulty, clean}},
        {{clean, missing, faulty}, 2, {clean, faulty}},
        {{notADatabase.toStdString(), clean}, 2, {clean}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"check"};
        arguments.insert(arguments.end(), c.files.begin(), c.files.end());
        EXPECT_EQ(Run(arguments), c.status) << c.files.size() << " files, first " << c.files[0];
        std::vector<std::string> printed;
        for (const std::string& line : OutLines()) {
            if (line.find('\t') == std::string::npos) printed.push_back(line);
        }
        EXPECT_EQ(printed, c.printed);
        EXPECT_EQ(err_.str().empty(), c.status != 2) << err_.str();
    }
    EXPECT_NE(err_.str().find("brief.abs: "), std::string::npos) << err_.str();
}

TEST_F(KovaMeldungenCheck, WithoutFilesTheCallIsWrong) {
    EXPECT_EQ(Run({"check"}), 2);
    EXPECT_TRUE(out_.str().empty());
    EXPECT_FALSE(err_.str().empty());
}

} // namespace
} // namespace kova::app::test
