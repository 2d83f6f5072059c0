// The printed registration list: the pages built from the bands, what the report reads from the
// database, the painted texts, the PDF pages and the preview.
#include "app_fixture.h"
#include "quv_test_support.h"

#include "model/DModule.h"
#include "output/QReportLayout.h"
#include "output/QReports.h"
#include "registrations/DBView.h"

#include <QFile>
#include <QImage>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRegularExpression>
#include <QTimer>

#include <climits>
#include <cstdio>

namespace kova::app::test {
namespace {

constexpr double kMm = 0.05;  // tolerance of positions in millimetres

TQReportContent ContentWithRows(int rows) {
    TQReportContent content;
    content.competition = QStringLiteral("24.03.2011 \"Kreisfinale\", Talheim");
    content.school = QStringLiteral("Grundschule Talheim");
    content.address = QStringLiteral("Weg 1");
    content.telephone = QStringLiteral("0711");
    content.fax = QStringLiteral("0712");
    content.email = QStringLiteral("a@b.de");
    content.printTime = QStringLiteral("24.03.2011 10:00:00");
    for (int i = 0; i < rows; ++i) {
        content.rows.push_back({QStringLiteral("Name%1").arg(i), QStringLiteral("V"), QStringLiteral("2000"),
                                QStringLiteral("W41"), QStringLiteral("SPR"), QString(), QStringLiteral("-"), QString()});
    }
    return content;
}

int Total(const std::vector<TQRPage>& pages, const char* name) {
    int count = 0;
    for (const TQRPage& page : pages) count += page.Count(QString::fromLatin1(name));
    return count;
}

// ---- Pages from bands -----------------------------------------------------------------------------

TEST(QReportLayout, BandsBreakIntoPages) {
    // Page 1 holds 50 detail lines under header and title, a further page 52; the closing note
    // needs 14.3 mm above the footer.
    struct Case {
        int rows;
        std::size_t pages;
        int rowsOnFirstPage;
        int summaryPage;
    };
    const Case cases[] = {{1, 1, 1, 1},    {47, 1, 47, 1},  {48, 2, 48, 2},  {50, 2, 50, 2},
                          {51, 2, 50, 2},  {60, 2, 50, 2},  {102, 3, 50, 3}, {103, 3, 50, 3}};
    for (const Case& c : cases) {
        const std::vector<TQRPage> pages = TQReportLayout::Paginate(ContentWithRows(c.rows));
        ASSERT_EQ(pages.size(), c.pages) << c.rows;
        EXPECT_EQ(pages[0].Count(QStringLiteral("QRDBText1")), c.rowsOnFirstPage) << c.rows;
        EXPECT_EQ(Total(pages, "QRDBText1"), c.rows) << c.rows;
        EXPECT_EQ(Total(pages, "QRSchool1"), 1) << c.rows;
        EXPECT_EQ(pages[0].Count(QStringLiteral("QRSchool1")), 1) << c.rows;
        EXPECT_EQ(Total(pages, "QRLabel2"), 1) << c.rows;
        EXPECT_EQ(pages[static_cast<std::size_t>(c.summaryPage - 1)].Count(QStringLiteral("QRLabel2")), 1) << c.rows;
        for (const TQRPage& page : pages) {
            // Nothing runs into the footer.
            for (const TQRElement& element : page.elements) {
                if (element.name.startsWith(QStringLiteral("QRDBText")) || element.name == QStringLiteral("QRLabel2")) {
                    EXPECT_LE(element.rect.bottom(), 297.0 - 10.0 - 14.8 + kMm) << c.rows << " " << element.name.toStdString();
                }
            }
        }
    }
    EXPECT_TRUE(TQReportLayout::Paginate(ContentWithRows(0)).empty());
}

TEST(QReportLayout, EveryPageHasHeaderFooterAndItsNumber) {
    const std::vector<TQRPage> pages = TQReportLayout::Paginate(ContentWithRows(60));
    ASSERT_EQ(pages.size(), 2U);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const TQRPage& page = pages[i];
        EXPECT_EQ(page.number, static_cast<int>(i + 1));
        EXPECT_EQ(page.Find(QStringLiteral("QRSysData1"))->text, QString::number(i + 1));
        EXPECT_EQ(page.Find(QStringLiteral("QRLabel14"))->text, QStringLiteral("Seite"));
        EXPECT_EQ(page.Find(QStringLiteral("QRLabel5"))->text, QStringLiteral("Meldung \"Korvalla\""));
        EXPECT_EQ(page.Find(QStringLiteral("QRLWkCaption"))->text, QStringLiteral("24.03.2011 \"Kreisfinale\", Talheim"));
        EXPECT_EQ(page.Find(QStringLiteral("QRSchool2"))->text, QStringLiteral("Grundschule Talheim"));
        EXPECT_EQ(page.Find(QStringLiteral("QRTelephone"))->text, QStringLiteral("0711"));
        EXPECT_EQ(page.Find(QStringLiteral("QRFax"))->text, QStringLiteral("0712"));
        EXPECT_EQ(page.Find(QStringLiteral("QREMail"))->text, QStringLiteral("a@b.de"));
        EXPECT_EQ(page.Find(QStringLiteral("QRAddress"))->text, QStringLiteral("Weg 1"));
        EXPECT_EQ(page.Find(QStringLiteral("QRSysData2"))->text, QStringLiteral("24.03.2011 10:00:00"));
        ASSERT_EQ(page.lines.size(), 1U);  // along the footer's top edge
        EXPECT_NEAR(page.lines[0].y1(), 272.2, kMm);
        EXPECT_NEAR(page.lines[0].x1(), 25.0, kMm);
        EXPECT_NEAR(page.lines[0].x2(), 200.0, kMm);
    }
    EXPECT_EQ(pages[1].Find(QStringLiteral("QRDBText1"))->text, QStringLiteral("Name50"));
}

TEST(QReportLayout, ElementsStandWhereTheBandsPutThem) {
    const std::vector<TQRPage> pages = TQReportLayout::Paginate(ContentWithRows(2));
    const TQRPage& page = pages.at(0);
    struct Case {
        const char* name;
        double left, top;
    };
    // Page coordinates: margins 25 mm left and 10 mm top; header 9.3, title 12.7 and detail
    // 4.8 mm high; the footer's top at 297 - 10 - 14.8.
    const Case cases[] = {
        {"QRLabel5", 25.0, 10.0},     {"QRLWkCaption", 25.0, 14.2}, {"QRLabel14", 173.2, 10.0},
        {"QRSysData1", 190.1, 10.0},  {"QRSchool1", 27.1, 21.4},    {"QRDBText1", 25.5, 32.3},
        {"QRDBText2", 70.0, 32.3},    {"QRDBText3", 110.2, 32.3},   {"QRDBText4", 130.8, 32.3},
        {"QRDBText5", 146.2, 32.3},   {"QRDBText6", 161.0, 32.3},   {"QRDBText7", 175.8, 32.3},
        {"QRDBText8", 190.1, 32.3},   {"QRLabel2", 50.4, 45.8},     {"QRSchool2", 25.0, 274.3},
        {"QRSysData2", 179.0, 274.3}, {"QRAddress", 25.0, 278.6},   {"QRLabel12", 25.0, 282.8},
        {"QRTelephone", 32.7, 282.5}, {"QRLabel13", 73.7, 282.8},   {"QRFax", 82.2, 282.8},
        {"QRLabel1", 118.1, 282.8},   {"QREMail", 128.7, 282.8},
    };
    for (const Case& c : cases) {
        const TQRElement* element = page.Find(QString::fromLatin1(c.name));
        ASSERT_NE(element, nullptr) << c.name;
        EXPECT_NEAR(element->rect.left(), c.left, kMm) << c.name;
        EXPECT_NEAR(element->rect.top(), c.top, kMm) << c.name;
    }
    EXPECT_NEAR(page.Find(QStringLiteral("QRSchool1"))->rect.width(), 169.6, kMm);
    EXPECT_TRUE(page.Find(QStringLiteral("QRSchool1"))->wrap);
    EXPECT_EQ(page.Find(QStringLiteral("QRSchool1"))->alignment, Qt::AlignHCenter);
    EXPECT_NEAR(page.Find(QStringLiteral("QRLabel2"))->rect.width(), 131.5, kMm);
    EXPECT_EQ(page.Find(QStringLiteral("QRSysData2"))->alignment, Qt::AlignRight);
    // The second row one detail height lower.
    int seen = 0;
    for (const TQRElement& element : page.elements) {
        if (element.name == QStringLiteral("QRDBText1") && ++seen == 2) {
            EXPECT_NEAR(element.rect.top(), 37.1, kMm);
        }
    }
    EXPECT_EQ(seen, 2);
    const struct {
        const char* name;
        double points;
        bool bold, italic, grey;
    } fonts[] = {{"QRLabel5", 8, false, true, false},   {"QRSchool1", 12, true, false, false},
                 {"QRDBText1", 10, true, false, true},  {"QRDBText3", 10, false, false, true},
                 {"QRDBText4", 10, true, false, true},  {"QRLabel2", 10, false, true, false},
                 {"QRSysData2", 8, false, true, false}, {"QREMail", 8, false, false, false}};
    for (const auto& f : fonts) {
        const TQRFont& font = page.Find(QString::fromLatin1(f.name))->font;
        EXPECT_EQ(font.pointSize, f.points) << f.name;
        EXPECT_EQ(font.bold, f.bold) << f.name;
        EXPECT_EQ(font.italic, f.italic) << f.name;
        EXPECT_EQ(font.grey, f.grey) << f.name;
    }
}

// ---- Painting -------------------------------------------------------------------------------------

// A paint device that keeps the texts painted on it with their positions (device units).
class TRecordingEngine final : public QPaintEngine {
public:
    TRecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    // The base class's shape fallbacks call one another; lines are not recorded.
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawLines(const QLineF*, int) override {}
    void drawPath(const QPainterPath&) override {}
    void drawTextItem(const QPointF& at, const QTextItem& item) override { texts.emplace_back(item.text(), at); }
    [[nodiscard]] Type type() const override { return QPaintEngine::User; }
    std::vector<std::pair<QString, QPointF>> texts;
};

class TRecordingDevice final : public QPaintDevice {
public:
    static constexpr int kDpi = 300;
    [[nodiscard]] QPaintEngine* paintEngine() const override { return &engine_; }
    [[nodiscard]] std::vector<std::pair<QString, QPointF>>& Texts() const { return engine_.texts; }

protected:
    [[nodiscard]] int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth: return 2480;
        case PdmHeight: return 3508;
        case PdmWidthMM: return 210;
        case PdmHeightMM: return 297;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return kDpi;
        case PdmDepth: return 32;
        case PdmNumColors: return INT_MAX;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        default: return QPaintDevice::metric(metric);
        }
    }

private:
    mutable TRecordingEngine engine_;
};

TEST(QReportPainting, EachPageShowsItsTextsWhereTheLayoutPutsThem) {
    const std::vector<TQRPage> pages = TQReportLayout::Paginate(ContentWithRows(60));
    ASSERT_EQ(pages.size(), 2U);
    const double dotsPerMm = TRecordingDevice::kDpi / 25.4;
    for (const TQRPage& page : pages) {
        TRecordingDevice device;
        {
            QPainter painter(&device);
            TQReportLayout::PaintPage(painter, page, dotsPerMm);
        }
        QStringList painted;
        for (const auto& [text, at] : device.Texts()) painted << text;
        const QString all = painted.join(QChar(u'|'));
        for (const char* expected : {"Seite", "Grundschule Talheim", "Tel:", "0711", "FAX:", "0712", "E-Mail:", "a@b.de",
                                     "Weg 1", "24.03.2011 10:00:00"}) {
            EXPECT_TRUE(painted.contains(QString::fromLatin1(expected))) << page.number << " " << expected << " in " << all.toStdString();
        }
        EXPECT_TRUE(painted.contains(QString::number(page.number))) << all.toStdString();
        // The school name twice on the first page (title and footer), once on the next.
        EXPECT_EQ(painted.count(QStringLiteral("Grundschule Talheim")), page.number == 1 ? 2 : 1);
        // Empty fields paint nothing; the "-" of a discipline prints as it is.
        EXPECT_EQ(painted.count(QStringLiteral("-")), page.Count(QStringLiteral("QRDBText7")));
        // "Seite" stands right-aligned in its box in the header line.
        for (const auto& [text, at] : device.Texts()) {
            if (text != QStringLiteral("Seite")) continue;
            EXPECT_GT(at.x() / dotsPerMm, 160.0);
            EXPECT_LT(at.x() / dotsPerMm, 188.6);
            EXPECT_LT(at.y() / dotsPerMm, 14.2);
        }
    }
}

TEST(QReportPainting, PageImageHasInkInTheBandsOnly) {
    const std::vector<TQRPage> pages = TQReportLayout::Paginate(ContentWithRows(3));
    constexpr double kDotsPerMm = 100 / 25.4;
    QImage image(827, 1169, QImage::Format_RGB32);  // A4 at 100 dpi
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        TQReportLayout::PaintPage(painter, pages.at(0), kDotsPerMm);
    }
    (void)image.save(QStringLiteral("/tmp/QReport.png"));
    auto inkBetween = [&image](double topMm, double bottomMm, double leftMm = 0, double rightMm = 210) {
        for (int y = static_cast<int>(topMm * kDotsPerMm); y < static_cast<int>(bottomMm * kDotsPerMm); ++y) {
            for (int x = static_cast<int>(leftMm * kDotsPerMm); x < static_cast<int>(rightMm * kDotsPerMm); ++x) {
                if (image.pixel(x, y) != QColor(Qt::white).rgb()) return true;
            }
        }
        return false;
    };
    EXPECT_FALSE(inkBetween(0, 10));            // top margin
    EXPECT_FALSE(inkBetween(0, 297, 0, 24.5));  // left margin
    EXPECT_TRUE(inkBetween(10, 19.3));          // page header
    EXPECT_TRUE(inkBetween(32, 46.4));          // three detail lines
    EXPECT_FALSE(inkBetween(62, 272));          // nothing between the summary and the footer
    EXPECT_TRUE(inkBetween(272, 287));          // footer with its line
    EXPECT_FALSE(inkBetween(287.2, 297));       // bottom margin
}

TEST(QReportPainting, PdfHasOnePagePerLayoutPage) {
    QTemporaryDir folder;
    for (int rows : {1, 60, 103}) {
        const std::vector<TQRPage> pages = TQReportLayout::Paginate(ContentWithRows(rows));
        const QString name = folder.filePath(QStringLiteral("liste%1.pdf").arg(rows));
        {
            QPdfWriter writer(name);
            TQReportLayout::SetUpPage(writer);
            TQReportLayout::Render(pages, writer);
        }
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString pdf = QString::fromLatin1(file.readAll());
        const qsizetype count = pdf.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)")));
        EXPECT_EQ(count, static_cast<qsizetype>(pages.size())) << rows;
        // A4 portrait: 595 x 842 points.
        EXPECT_TRUE(pdf.contains(QRegularExpression(QStringLiteral("/MediaBox\\s*\\[\\s*0 0 595\\.?\\d* 841\\.?\\d*|/MediaBox\\s*\\[\\s*0 0 595\\.?\\d* 842"))))
            << rows;
    }
}

// ---- The report on a database ----------------------------------------------------------------------

class QReportOnDatabase : public AppFixture {
protected:
    void SetUp() override {
        Start({});
        // The start timer would reset the sessions in the middle of a preview's event loop.
        if (FormMain->StartTimer() != nullptr) FormMain->StartTimer()->stop();
        FormDatabase->setWindowTitle(QStringLiteral("24.03.2011 \"Kreisfinale\", Talheim"));
    }
    void TearDown() override {
        (void)TFormQReport::SetPreviewRunner(nullptr);
        AppFixture::TearDown();
    }
    void Use(const std::vector<std::string>& statements) {
        file_ = folder_.filePath("meldung.abs").toStdString();
        MakeDatabase(file_, statements);
        DM->ABSDB().SetDatabaseFileName(file_);
    }
    static QStringList Column(const std::vector<TQRPage>& pages, const char* name) {
        QStringList texts;
        for (const TQRPage& page : pages) {
            for (const TQRElement& element : page.elements) {
                if (element.name == QString::fromLatin1(name)) texts << element.text;
            }
        }
        return texts;
    }
    std::string file_;
    TFormQReport report_;
};

TEST_F(QReportOnDatabase, PrintsAllRowsByClassNameFirstNameYearAsStored) {
    Use(FullSchema());
    const std::optional<std::vector<TQRPage>> pages = report_.Prepare();
    ASSERT_TRUE(pages.has_value());
    ASSERT_EQ(pages->size(), 1U);
    // Also the registration of another school, which the list window does not show.
    EXPECT_EQ(Column(*pages, "QRDBText1"),
              (QStringList{"Zeller", "Albers", "Fremd", "Maier", "Maier"}));
    EXPECT_EQ(Column(*pages, "QRDBText2"), (QStringList{"Bea", "Tom", "Ole", "Anna", "Eva"}));
    EXPECT_EQ(Column(*pages, "QRDBText3"), (QStringList{"2000", "1999", "2001", "2000", "2001"}));
    EXPECT_EQ(Column(*pages, "QRDBText4"), (QStringList{"", "M31", "M41", "W41", "W41"}));
    EXPECT_EQ(Column(*pages, "QRDBText5"), (QStringList{"", "WEI", "", "BAL", "SPR"}));
    EXPECT_EQ(Column(*pages, "QRDBText7"), (QStringList{"", "SPR", "", "WEI", ""}));
    EXPECT_EQ(Column(*pages, "QRDBText8"), (QStringList{"", "", "", "STA", ""}));
    const TQRPage& page = pages->front();
    EXPECT_EQ(page.Find(QStringLiteral("QRLWkCaption"))->text, QStringLiteral("24.03.2011 \"Kreisfinale\", Talheim"));
    EXPECT_EQ(page.Find(QStringLiteral("QRSchool1"))->text, QStringLiteral("Grundschule Talheim"));
    EXPECT_EQ(page.Find(QStringLiteral("QREMail"))->text, QStringLiteral("a@b.de"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4}( \\d\\d:\\d\\d:\\d\\d)?$"))
                    .match(page.Find(QStringLiteral("QRSysData2"))->text)
                    .hasMatch())
        << page.Find(QStringLiteral("QRSysData2"))->text.toStdString();
    EXPECT_FALSE(report_.ABSQPrint().Active());
}

TEST_F(QReportOnDatabase, SixtyRegistrationsRunOverTwoPages) {
    std::vector<std::string> rows;
    for (int i = 0; i < 60; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "N%08X", i + 1);
        rows.push_back(NamenRow(id, "Name" + std::to_string(100 + i), "Vorname", "2000", i % 2 ? "W41" : "M41", "SPR",
                                "-", "", "STA"));
    }
    Use(SchemaWithNamen(rows));
    const std::optional<std::vector<TQRPage>> pages = report_.Prepare();
    ASSERT_TRUE(pages.has_value());
    ASSERT_EQ(pages->size(), 2U);
    EXPECT_EQ(Column(*pages, "QRSysData1"), (QStringList{"1", "2"}));
    EXPECT_EQ(Column(*pages, "QRLabel14"), (QStringList{"Seite", "Seite"}));
    EXPECT_EQ(Column(*pages, "QRTelephone"), (QStringList{"0711", "0711"}));
    EXPECT_EQ(Column(*pages, "QRSchool1").size(), 1);
    EXPECT_EQ(Column(*pages, "QRLabel2").size(), 1);
    const QStringList names = Column(*pages, "QRDBText1");
    ASSERT_EQ(names.size(), 60);
    EXPECT_EQ(names.front(), QStringLiteral("Name100"));  // M41 first, then by name
    EXPECT_EQ(names[29], QStringLiteral("Name158"));
    EXPECT_EQ(names[30], QStringLiteral("Name101"));
    EXPECT_EQ(Column(*pages, "QRDBText6").count(QStringLiteral("-")), 60);

    // The preview shows both pages under the report's title.
    bool shown = false;
    (void)TFormQReport::SetPreviewRunner([&shown](QPrintPreviewDialog& dialog) {
        shown = true;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Kova-Meldungen"));
        QPrinter* printer = dialog.printer();
        EXPECT_EQ(printer->docName(), QStringLiteral("Kova-Meldungen"));
        EXPECT_EQ(printer->pageLayout().pageSize().id(), QPageSize::A4);
        EXPECT_EQ(printer->pageLayout().orientation(), QPageLayout::Portrait);
        auto* preview = dialog.findChild<QPrintPreviewWidget*>();
        ASSERT_NE(preview, nullptr);
        preview->updatePreview();
        EXPECT_EQ(preview->pageCount(), 2);
        EXPECT_DOUBLE_EQ(preview->zoomFactor(), 1.0);
    });
    report_.Preview();
    EXPECT_TRUE(shown);
}

TEST_F(QReportOnDatabase, NoRegistrationsNoPreviewAndNoMessage) {
    Use(SchemaWithNamen({}));
    bool shown = false;
    (void)TFormQReport::SetPreviewRunner([&shown](QPrintPreviewDialog&) { shown = true; });
    report_.Preview();
    EXPECT_FALSE(shown);
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(report_.Prepare().has_value());
}

TEST_F(QReportOnDatabase, EachPreparationReadsTheDatabaseAgain) {
    Use(FullSchema());
    ASSERT_TRUE(report_.Prepare().has_value());
    TTalmirMySQLTools tools;
    (void)tools.RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, "DELETE FROM Verein;");
    (void)tools.RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, "DELETE FROM Namen WHERE Name=\"Maier\";");
    FormDatabase->setWindowTitle(QStringLiteral("anders"));
    const std::optional<std::vector<TQRPage>> pages = report_.Prepare();
    ASSERT_TRUE(pages.has_value());
    EXPECT_EQ(Column(*pages, "QRDBText1"), (QStringList{"Zeller", "Albers", "Fremd"}));
    // Without a school row the labels keep what they had, the competition line too.
    EXPECT_EQ(Column(*pages, "QRSchool1"), QStringList{"Grundschule Talheim"});
    EXPECT_EQ(Column(*pages, "QRLWkCaption"), QStringList{"24.03.2011 \"Kreisfinale\", Talheim"});
    EXPECT_EQ(report_.Labels().telephone, QStringLiteral("0711"));
}

TEST_F(QReportOnDatabase, EngineErrorsPassToTheCaller) {
    Use({"CREATE TABLE Verein (ID String(9), Schule String(55))"});
    EXPECT_THROW((void)report_.Prepare(), std::exception);
}

} // namespace
} // namespace kova::app::test
