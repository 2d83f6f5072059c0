// The printed registration list as pages of placed texts, before anything is painted.
//
// The report is an A4 portrait page with margins of 10 mm (top, bottom, right) and 25 mm (left).
// Bands are stacked from the top margin: a page header on every page, the title on the first
// page only, one detail band per registration, the summary after the last one; the page footer
// sits at the bottom margin of every page. A band that does not fit above the footer starts a
// new page. Building the pages apart from painting lets tests read every page's texts and their
// positions, and lets the preview and the printer paint the same pages.
//
// All positions are millimetres from the top-left corner of the paper.
#pragma once

#include <QLineF>
#include <QRectF>
#include <QString>

#include <array>
#include <vector>

class QFont;
class QPagedPaintDevice;
class QPainter;

namespace kova::app {

// The fonts of the report: a sans-serif family at a point size.
struct TQRFont {
    double pointSize = 10.0;
    bool bold = false;
    bool italic = false;
    bool grey = false;  // a mid-grey text colour
};

// One text on a page, named after its report element.
struct TQRElement {
    QString name;
    QRectF rect;
    QString text;
    TQRFont font;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool wrap = false;   // long texts break into lines within the rectangle
    bool clip = true;    // data stays inside its column; fixed captions may run over
};

struct TQRPage {
    int number = 1;
    std::vector<TQRElement> elements;
    std::vector<QLineF> lines;

    // The element of that name on this page, or nullptr.
    [[nodiscard]] const TQRElement* Find(const QString& name) const;
    // How many elements of that name the page holds.
    [[nodiscard]] int Count(const QString& name) const;
};

// One printed registration: Name, Vorname, Jahrgang, AK, Disziplin1..3, Staffel, as stored.
using TQRRow = std::array<QString, 8>;

// What the report prints besides the fixed texts.
struct TQReportContent {
    QString competition;  // the list window's caption
    QString school;
    QString address;
    QString telephone;
    QString fax;
    QString email;
    QString printTime;
    std::vector<TQRRow> rows;
};

class TQReportLayout {
public:
    static constexpr double kPageWidth = 210.0;
    static constexpr double kPageHeight = 297.0;
    static constexpr double kMarginTop = 10.0;
    static constexpr double kMarginBottom = 10.0;
    static constexpr double kMarginLeft = 25.0;
    static constexpr double kMarginRight = 10.0;
    static constexpr double kPageHeaderHeight = 9.3;
    static constexpr double kTitleHeight = 12.7;
    static constexpr double kDetailHeight = 4.8;
    static constexpr double kSummaryHeight = 14.3;
    static constexpr double kPageFooterHeight = 14.8;

    static constexpr const char* kSummaryText =
        "Die namentliche Meldung der Staffeln inkl. der Reihenfolge der Läufer bitte am Wettkampftag vor "
        "Wettkampfbeginn im Wettkampfbüro abgeben.";

    // The pages of a report with at least one row (an empty report has none to print).
    [[nodiscard]] static std::vector<TQRPage> Paginate(const TQReportContent& content);

    // The report's font for a style.
    [[nodiscard]] static QFont Font(const TQRFont& font);

    // Paints one page; `dotsPerMm` converts millimetres into the painter's device units.
    static void PaintPage(QPainter& painter, const TQRPage& page, double dotsPerMm);

    // Sets A4 portrait without margins (positions count from the paper's corner) on a printer
    // or a PDF writer.
    static void SetUpPage(QPagedPaintDevice& device);
    // Paints all pages, one device page each. The device must be set up with SetUpPage.
    static void Render(const std::vector<TQRPage>& pages, QPagedPaintDevice& device);
};

} // namespace kova::app
