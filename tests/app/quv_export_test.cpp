// The export list for the results program: the fixed-width line, reading the registrations,
// the file, and the export command with its preview, save dialog and message.
#include "app_fixture.h"
#include "quv_test_support.h"

#include "model/DModule.h"
#include "output/HSListBox.h"
#include "output/QUVExport.h"
#include "output/QUVView.h"
#include "output/QUVWriter.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace kova::app::test {
namespace {

std::string Spaces(std::size_t n) { return std::string(n, ' '); }

// ---- The line ------------------------------------------------------------------------------------

TEST(QUVLine, TheWorkedExampleColumnByColumn) {
    TQUVRegistration r;
    r.ak = "W31";
    r.disziplin1 = "SPE";
    r.disziplin2 = "-";
    r.disziplin3 = "-";
    r.name = "Müller";
    r.vorname = "Anna";
    r.jahrgang = "1997";
    r.classSex = "w";
    r.school = "Gymnasium Nord";
    const std::string expected = "W31" + Spaces(2) + Spaces(4) + Spaces(14) + "KVB " + Spaces(14) + "SPE " + Spaces(14) +
                                 Spaces(4) + Spaces(14) + Spaces(4) + Spaces(19) + "0000000" + "M\x81ller, Anna" +
                                 Spaces(16) + "W" + "----" + "1997" + Spaces(5) + "Gymnasium Nord" + Spaces(16) + Spaces(6);
    const std::string line = TQUVLine::Build(r);
    ASSERT_EQ(line.size(), 185U);
    EXPECT_EQ(line, expected);
    EXPECT_EQ(Columns(line, 101, 107), "0000000");
    EXPECT_EQ(line[135], 'W');  // column 136
}

TEST(QUVLine, FieldRules) {
    struct Case {
        const char* what;
        TQUVRegistration r;
        std::size_t from, to;
        std::string expected;
    };
    auto with = [](auto change) {
        TQUVRegistration r;
        r.classSex = "W";
        r.school = "Schule";
        change(r);
        return r;
    };
    const std::vector<Case> cases = {
        {"two-digit year", with([](auto& r) { r.jahrgang = "95"; }), 141, 144, "--95"},
        {"no year", with([](auto& r) { r.jahrgang = ""; }), 141, 144, "----"},
        {"five-digit year cut", with([](auto& r) { r.jahrgang = "19977"; }), 141, 144, "1997"},
        {"name and first name cut to 28",
         with([](auto& r) { r.name = "Abcdefghijklmnopqrstuv"; r.vorname = "Wxyzab"; }), 108, 135,
         "Abcdefghijklmnopqrstuv, Wxyz"},
        {"school cut to 30", with([](auto& r) { r.school = "Gymnasium am Nordrand der Stadtx"; }), 150, 179,
         "Gymnasium am Nordrand der Stad"},
        {"unknown school blank", with([](auto& r) { r.school.reset(); }), 150, 179, Spaces(30)},
        {"relay of five cut to 4", with([](auto& r) { r.staffel = "STAFF"; }), 6, 9, "STAF"},
        {"discipline of five cut to 4", with([](auto& r) { r.disziplin3 = "ABCDE"; }), 78, 81, "ABCD"},
        {"discipline with minus is none", with([](auto& r) { r.disziplin2 = "X-Y"; }), 60, 63, Spaces(4)},
        {"short code padded", with([](auto& r) { r.disziplin1 = "HO"; }), 42, 45, "HO  "},
        {"class WK3m", with([](auto& r) { r.ak = "WK3m"; }), 1, 3, "M3 "},
        {"class WK4w", with([](auto& r) { r.ak = "WK4w"; }), 1, 3, "W4 "},
        {"class of three kept", with([](auto& r) { r.ak = "M41"; }), 1, 3, "M41"},
        {"class of one padded", with([](auto& r) { r.ak = "X"; }), 1, 3, "X  "},
        {"unknown class is male", with([](auto& r) { r.classSex.reset(); }), 136, 136, "M"},
        {"sex upper-cased", with([](auto& r) { r.classSex = "w"; }), 136, 136, "W"},
        {"empty sex blank", with([](auto& r) { r.classSex = ""; }), 136, 136, " "},
        {"apostrophe to double quote", with([](auto& r) { r.name = "O'Neill"; r.vorname = "Pat"; }), 108, 135,
         "O\"Neill, Pat" + Spaces(16)},
        {"stored quote shows again", with([](auto& r) { r.school = "Schule 'Am See'"; }), 150, 179,
         "Schule \"Am See\"" + Spaces(15)},
        {"constant KVB", with([](auto&) {}), 24, 27, "KVB "},
        {"blanks after the class", with([](auto& r) { r.ak = "W31"; }), 4, 5, Spaces(2)},
    };
    for (const Case& c : cases) {
        const std::string line = TQUVLine::Build(c.r);
        ASSERT_EQ(line.size(), 185U) << c.what;
        EXPECT_EQ(Columns(line, c.from, c.to), c.expected) << c.what;
    }
}

TEST(QUVLine, EveryLineHas185BytesAndLaterFieldsKeepTheirColumns) {
    TQUVRegistration empty;
    EXPECT_EQ(TQUVLine::Build(empty), Spaces(23) + "KVB " + Spaces(73) + "0000000, " + Spaces(26) + "M--------" +
                                          Spaces(41));
    TQUVRegistration longest;
    longest.ak = "WK1wxyz";
    longest.staffel = longest.disziplin1 = longest.disziplin2 = longest.disziplin3 = "ABCDEFGH";
    longest.name = std::string(40, 'N');
    longest.vorname = std::string(40, 'V');
    longest.jahrgang = "123456";
    longest.classSex = "wm";
    longest.school = std::string(60, 'S');
    const std::string line = TQUVLine::Build(longest);
    ASSERT_EQ(line.size(), 185U);
    EXPECT_EQ(Columns(line, 1, 3), "W1 ");
    EXPECT_EQ(Columns(line, 136, 144), "W----1234");
    EXPECT_EQ(Columns(line, 150, 185), std::string(30, 'S') + Spaces(6));
}

TEST(QUVLine, GermanLettersTakeTheirDosCodePagePositions) {
    // Every other character keeps its single byte of the file's code page.
    const struct {
        const char* utf8;
        unsigned char byte;
    } letters[] = {{"Ä", 0x8E}, {"Ö", 0x99}, {"Ü", 0x9A}, {"ä", 0x84}, {"ö", 0x94},
                   {"ü", 0x81}, {"ß", 0xE1}, {"é", 0x82}, {"è", 0xE8}, {"A", 'A'}};
    for (const auto& letter : letters) {
        TQUVRegistration r;
        r.name = letter.utf8;
        const std::string line = TQUVLine::Build(r);
        ASSERT_EQ(line.size(), 185U) << letter.utf8;
        EXPECT_EQ(static_cast<unsigned char>(line[107]), letter.byte) << letter.utf8;
        EXPECT_EQ(Columns(line, 109, 110), ", ") << letter.utf8;
    }
    // The class code is converted too, after its letters are chosen.
    EXPECT_EQ(TQUVLine::ClassField("Wä"), "W\x84 ");
    // A character without a single byte keeps the widths.
    TQUVRegistration wide;
    wide.name = "A\u4E2DB";
    EXPECT_EQ(Columns(TQUVLine::Build(wide), 108, 110), "A?B");
    // Shown again as the letters they stand for.
    EXPECT_EQ(TQUVLine::LineBytesToUtf8("M\x81ller \xE1\x8E"), "Müller ßÄ");
}

TEST(QUVLine, LookupKeysStayInsideTheirLiteral) {
    EXPECT_EQ(TQUVWriter::ClassStatement("W31"), "SELECT * FROM Klassen WHERE Kuerzel=\"W31\"");
    EXPECT_EQ(TQUVWriter::SchoolStatement("V00000001"), "SELECT * FROM Verein WHERE ID=\"V00000001\"");
    EXPECT_EQ(TQUVWriter::ClassStatement("a\" OR \"1\"=\"1"), "SELECT * FROM Klassen WHERE Kuerzel=\"a\"\" OR \"\"1\"\"=\"\"1\"");
}

// ---- The file ------------------------------------------------------------------------------------

TEST(QUVFile, ExtensionBecomesQUV) {
    const std::pair<const char*, const char*> cases[] = {
        {"liste.txt", "liste.QUV"},         {"liste", "liste.QUV"},
        {"/tmp/a.b/liste", "/tmp/a.b/liste.QUV"}, {"/tmp/a.b/x.y.quv", "/tmp/a.b/x.y.QUV"},
        {"liste.", "liste.QUV"},            {"/tmp/liste.QUV", "/tmp/liste.QUV"},
    };
    for (const auto& [chosen, expected] : cases) EXPECT_EQ(QUVFileName(chosen), expected) << chosen;
}

TEST(QUVFile, LinesEndWithCrLfAndReplaceTheFile) {
    QTemporaryDir folder;
    const std::string name = folder.filePath("liste.QUV").toStdString();
    {
        std::ofstream old(name, std::ios::binary);
        old << std::string(1000, 'x');
    }
    WriteQUVFile(name, {"ab\x81", "cd"});
    EXPECT_EQ(FileBytes(name), "ab\x81\r\ncd\r\n");
    WriteQUVFile(name, {});
    EXPECT_EQ(FileBytes(name), "");
    EXPECT_THROW(WriteQUVFile(folder.filePath("missing/liste.QUV").toStdString(), {"x"}), std::runtime_error);
}

// ---- Reading the registrations ---------------------------------------------------------------------

class QUVDatabase : public ::testing::Test {
protected:
    std::string Make(const std::vector<std::string>& statements) {
        const std::string name = folder_.filePath("meldung.abs").toStdString();
        MakeDatabase(name, statements);
        return name;
    }
    QTemporaryDir folder_;
};

TEST_F(QUVDatabase, RowsInClassNameFirstNameYearOrderWithTheirLookups) {
    const std::string file = Make(FullSchema());
    const std::vector<std::string> lines = WriterLines(file);
    ASSERT_EQ(lines.size(), 5U);  // also the registration of another school
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        ASSERT_EQ(line.size(), 185U);
        names.push_back(Columns(line, 108, 135));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Zeller, Bea" + Spaces(17), "Albers, Tom" + Spaces(17),
                                               "Fremd, Ole" + Spaces(18), "Maier, Anna" + Spaces(17),
                                               "Maier, Eva" + Spaces(18)}));
    // No class: "M"; another school: blank; the sample school otherwise.
    EXPECT_EQ(Columns(lines[0], 1, 3) + Columns(lines[0], 136, 144), "   M----2000");
    EXPECT_EQ(Columns(lines[2], 150, 179), Spaces(30));
    EXPECT_EQ(Columns(lines[3], 150, 179), "Grundschule Talheim" + Spaces(11));
    EXPECT_EQ(Columns(lines[3], 1, 9), "W41  STA ");
    EXPECT_EQ(Columns(lines[3], 136, 136), "W");
    EXPECT_EQ(Columns(lines[1], 42, 81), "WEI " + Spaces(14) + "BAL " + Spaces(14) + "SPR ");
}

TEST_F(QUVDatabase, SameClassOrdersByNameThenFirstNameThenYear) {
    const std::string file = Make(SchemaWithNamen({
        NamenRow("N00000001", "Beck", "Udo", "2001", "M41"),
        NamenRow("N00000002", "Beck", "Udo", "1999", "M41"),
        NamenRow("N00000003", "Beck", "Al", "2003", "M41"),
        NamenRow("N00000004", "Adam", "Zoe", "2002", "W41"),
        NamenRow("N00000005", "Zorn", "Kai", "2002", "M31"),
    }));
    std::vector<std::string> keys;
    for (const std::string& line : WriterLines(file)) keys.push_back(Columns(line, 1, 3) + Columns(line, 108, 116) +
                                                                     Columns(line, 141, 144));
    EXPECT_EQ(keys, (std::vector<std::string>{"M31Zorn, Kai2002", "M41Beck, Al 2003", "M41Beck, Udo1999",
                                              "M41Beck, Udo2001", "W41Adam, Zoe2002"}));
}

TEST_F(QUVDatabase, HostileNamesAreExportedAsStoredAndChangeNoOtherRow) {
    const std::vector<std::string> hostile = {
        "x\", Jahrgang=1900 WHERE ID<>\"",
        "Back\\slash and where from",
        std::string("Nul\0l", 5),
        "Groß \"Ülkü\"",
        std::string(60, 'L'),
    };
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        rows.push_back(NamenRow("N0000000" + std::to_string(i), hostile[i], "V", "2000", "W41"));
    }
    const std::string file = Make(SchemaWithNamen(rows));
    const std::vector<std::string> lines = WriterLines(file);
    ASSERT_EQ(lines.size(), hostile.size());
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.size(), 185U);
        EXPECT_EQ(Columns(line, 141, 144), "2000");  // no statement changed a year
        names.push_back(Columns(line, 108, 135));
    }
    std::sort(names.begin(), names.end());
    // SanitizeQuotes stored quotes as apostrophes and dropped backslashes and NUL; the export
    // gives the quotes back. The 20-character column kept the first 20 of the long name.
    std::vector<std::string> expected = {
        "x\", Jahrgang=1900 WH, V" + Spaces(5),
        "Backslash and where , V" + Spaces(5),
        "Null, V" + Spaces(21),
        "Gro\xE1 \"\x9Alk\x81\", V" + Spaces(14),
        std::string(20, 'L') + ", V" + Spaces(5),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

TEST_F(QUVDatabase, AnEmptyDatabaseGivesNoLines) {
    const std::string file = Make(SchemaWithNamen({}));
    EXPECT_TRUE(WriterLines(file).empty());
}

// ---- The export command ---------------------------------------------------------------------------

class QUVExportCommand : public AppFixture {
protected:
    void SetUp() override {
        Start({});
        // The start timer would reset the sessions in the middle of an export's event loop.
        if (FormMain->StartTimer() != nullptr) FormMain->StartTimer()->stop();
        file_ = folder_.filePath("meldung.abs").toStdString();
    }
    void Use(const std::vector<std::string>& statements) {
        MakeDatabase(file_, statements);
        DM->ABSDB().SetDatabaseFileName(file_);
    }
    // Runs the export; the preview is answered with `button` once it shows, after noting how
    // many lines it holds.
    void Export(const char* button, bool enabled = true) {
        previewShown_ = false;
        shownLines_ = -1;
        QTimer::singleShot(0, [this, button] {
            previewShown_ = preview_.isVisible();
            shownLines_ = preview_.HSLBQUV().count();
            preview_.findChild<QPushButton*>(QString::fromLatin1(button))->click();
        });
        ExportToQUV(*DM, preview_, enabled);
    }
    std::string file_;
    TFormQUV preview_;
    bool previewShown_ = false;
    int shownLines_ = -1;
};

TEST_F(QUVExportCommand, ConfirmedExportSavesTheLinesUnderTheQUVName) {
    Use(FullSchema());
    dialogAnswer_ = folder_.filePath("liste.txt");
    Export("BBOk");
    EXPECT_TRUE(previewShown_);
    EXPECT_EQ(shownLines_, 5);
    ASSERT_EQ(dialogTitles_, std::vector<QString>{QStringLiteral("QUV speichern als ...")});
    EXPECT_EQ(DM->Save().Filter(), QStringLiteral("QUV- Liste (*.QUV)|*.QUV|Alle Dateien (*.*)|*.*"));
    const QString saved = folder_.filePath("liste.QUV");
    EXPECT_EQ(DM->Save().FileName(), saved);
    EXPECT_FALSE(QFile::exists(folder_.filePath("liste.txt")));
    std::string expected;
    for (const std::string& line : WriterLines(file_)) expected += line + "\r\n";
    EXPECT_EQ(FileBytes(saved.toStdString()), expected);
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0].type, TMsgDlgType::Information);
    EXPECT_EQ(messages_[0].text, QStringLiteral("QUV gespeichert auf:\r") + saved);
    EXPECT_TRUE(preview_.Lines().empty());  // cleared after saving
    EXPECT_EQ(preview_.HSLBQUV().count(), 0);
}

TEST_F(QUVExportCommand, AbortKeepsTheListUntilTheNextExport) {
    Use(FullSchema());
    dialogAnswer_ = folder_.filePath("liste.QUV");
    Export("BBAbort");
    EXPECT_TRUE(dialogTitles_.empty());
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(preview_.Lines().size(), 5U);
    EXPECT_FALSE(QFile::exists(folder_.filePath("liste.QUV")));
    Export("BBOk");
    EXPECT_EQ(shownLines_, 5);  // not ten: the old list went first
    EXPECT_EQ(FileBytes(folder_.filePath("liste.QUV").toStdString()).size(), 5U * 187U);
}

TEST_F(QUVExportCommand, CancelledSaveDialogWritesNothingAndClearsTheList) {
    Use(FullSchema());
    dialogAnswer_.reset();
    Export("BBOk");
    EXPECT_EQ(dialogTitles_.size(), 1U);
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(preview_.Lines().empty());
}

TEST_F(QUVExportCommand, EmptyDatabaseConfirmedWritesAnEmptyFile) {
    Use(SchemaWithNamen({}));
    dialogAnswer_ = folder_.filePath("leer");
    Export("BBOk");
    EXPECT_EQ(shownLines_, 0);
    const QString saved = folder_.filePath("leer.QUV");
    ASSERT_TRUE(QFile::exists(saved));
    EXPECT_EQ(QFileInfo(saved).size(), 0);
    EXPECT_EQ(messages_.size(), 1U);
}

TEST_F(QUVExportCommand, DisabledCommandDoesNothing) {
    Use(FullSchema());
    preview_.AddLine("old");
    dialogAnswer_ = folder_.filePath("liste.QUV");
    ExportToQUV(*DM, preview_, false);
    EXPECT_FALSE(preview_.isVisible());
    EXPECT_EQ(preview_.Lines(), std::vector<std::string>{"old"});
    EXPECT_TRUE(dialogTitles_.empty());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(QUVExportCommand, AnUnwritableFileReachesTheCaller) {
    Use(FullSchema());
    dialogAnswer_ = folder_.filePath("missing/liste.QUV");
    EXPECT_THROW(Export("BBOk"), std::runtime_error);
    EXPECT_TRUE(messages_.empty());
}

} // namespace
} // namespace kova::app::test
