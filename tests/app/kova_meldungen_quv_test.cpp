// The organiser's console program: "quv" writes the export lines of several files into one list,
// reading the files without changing them.
#include "quv_test_support.h"

#include "output/QUVCommand.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <sstream>

namespace kova::app::test {
namespace {

class KovaMeldungenQuv : public ::testing::Test {
protected:
    std::string Make(const char* name, const std::vector<std::string>& statements) {
        const std::string file = folder_.filePath(QString::fromLatin1(name)).toStdString();
        MakeDatabase(file, statements);
        return file;
    }
    int Run(const std::vector<std::string>& arguments) {
        out_.str({});
        err_.str({});
        return RunKovaMeldungen(arguments, out_, err_);
    }
    static std::string Joined(const std::vector<std::string>& lines) {
        std::string bytes;
        for (const std::string& line : lines) bytes += line + "\r\n";
        return bytes;
    }

    QTemporaryDir folder_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(KovaMeldungenQuv, TwoFilesInTheGivenOrder) {
    const std::string first = Make("erste.abs", FullSchema());
    const std::string second = Make("zweite.abs", SchemaWithNamen({NamenRow("N00000001", "Öztürk", "Renée", "1998", "W31", "SPR"),
                                                                    NamenRow("N00000002", "Abel", "Jo", "2001", "M41")}));
    const std::string beforeFirst = FileBytes(first);
    const std::string beforeSecond = FileBytes(second);
    const std::string out = folder_.filePath("gesamt.txt").toStdString();

    ASSERT_EQ(Run({"quv", second, first, "-o", out}), 0) << err_.str();
    const std::string written = FileBytes(folder_.filePath("gesamt.QUV").toStdString());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out)));
    // What the export writer gives for each file, second file first as asked.
    EXPECT_EQ(written, Joined(WriterLines(second)) + Joined(WriterLines(first)));
    ASSERT_EQ(written.size(), 7U * 187U);
    EXPECT_EQ(written.substr(107, 15), "Abel, Jo       ");  // M41 before W31
    EXPECT_EQ(written.substr(187 + 107, 14), "\x99zt\x81rk, Ren\x82" "e ");
    EXPECT_EQ(written.substr(2 * 187 + 107, 11), "Zeller, Bea");
    EXPECT_NE(out_.str().find("7"), std::string::npos);
    // Read, not changed.
    EXPECT_EQ(FileBytes(first), beforeFirst);
    EXPECT_EQ(FileBytes(second), beforeSecond);

    ASSERT_EQ(Run({"quv", first, second, "-o", out}), 0) << err_.str();
    EXPECT_EQ(FileBytes(folder_.filePath("gesamt.QUV").toStdString()), Joined(WriterLines(first)) + Joined(WriterLines(second)));
}

TEST_F(KovaMeldungenQuv, WrongUseAndUnreadableFiles) {
    const std::string good = Make("gut.abs", FullSchema());
    const std::string notADatabase = folder_.filePath("kaputt.abs").toStdString();
    {
        std::ofstream file(notADatabase, std::ios::binary);
        file << std::string(4096, 'x');
    }
    const std::string out = folder_.filePath("liste.QUV").toStdString();
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int status;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, 2},
        {"unknown command", {"export", good, "-o", out}, 2},
        {"no output", {"quv", good}, 2},
        {"no files", {"quv", "-o", out}, 2},
        {"output without name", {"quv", good, "-o"}, 2},
        {"missing file", {"quv", good, folder_.filePath("fehlt.abs").toStdString(), "-o", out}, 1},
        {"not a database", {"quv", good, notADatabase, "-o", out}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.arguments), c.status) << c.what;
        EXPECT_FALSE(err_.str().empty()) << c.what;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out))) << c.what;  // no half list
    }
}

TEST_F(KovaMeldungenQuv, AnEmptyDatabaseGivesAnEmptyList) {
    const std::string empty = Make("leer.abs", SchemaWithNamen({}));
    const std::string out = folder_.filePath("leer").toStdString();
    ASSERT_EQ(Run({"quv", "-o", out, empty}), 0) << err_.str();
    const QFileInfo written(folder_.filePath("leer.QUV"));
    ASSERT_TRUE(written.exists());
    EXPECT_EQ(written.size(), 0);
}

} // namespace
} // namespace kova::app::test
