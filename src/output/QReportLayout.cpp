#include "output/QReportLayout.h"

#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>

#include <cstddef>
#include <span>

namespace kova::app {
namespace {

// Band heights are sums of tenths of millimetres; the comparison allows for their rounding.
constexpr double kEpsilon = 1e-6;
constexpr double kPrintableWidth = TQReportLayout::kPageWidth - TQReportLayout::kMarginLeft - TQReportLayout::kMarginRight;
constexpr double kFooterTop = TQReportLayout::kPageHeight - TQReportLayout::kMarginBottom - TQReportLayout::kPageFooterHeight;

constexpr TQRFont kHeaderFont{8.0, false, true, false};
constexpr TQRFont kFooterFont{8.0, false, false, false};
constexpr TQRFont kFooterItalic{8.0, false, true, false};
constexpr TQRFont kDetailBold{10.0, true, false, true};
constexpr TQRFont kDetailPlain{10.0, false, false, true};

// An element's place in its band: left and top from the band's corner, and its box. Elements
// that size themselves to their text get the room up to their neighbour (or the right margin).
struct TElementPlacement {
    const char* name;
    double left;
    double top;
    double width;
    double height;
    TQRFont font;
    Qt::Alignment alignment;
    bool wrap;
    bool clip;
};

constexpr Qt::Alignment kLeft = Qt::AlignLeft;
constexpr Qt::Alignment kRight = Qt::AlignRight;
constexpr Qt::Alignment kCentre = Qt::AlignHCenter;

// The order of each table is the order of the texts handed to AddBand.
const TElementPlacement kPageHeader[] = {
    {"QRLabel5", 0.0, 0.0, 148.2, 4.2, kHeaderFont, kLeft, false, false},
    {"QRLWkCaption", 0.0, 4.2, kPrintableWidth, 5.1, kHeaderFont, kLeft, false, true},
    {"QRLabel14", 148.2, 0.0, 15.3, 4.2, kHeaderFont, kRight, false, false},
    {"QRSysData1", 165.1, 0.0, 10.8, 4.2, kHeaderFont, kCentre, false, false},
};
const TElementPlacement kTitle[] = {
    {"QRSchool1", 2.1, 2.1, 169.6, 10.6, TQRFont{12.0, true, false, false}, kCentre, true, true},
};
const TElementPlacement kDetail[] = {
    {"QRDBText1", 0.5, 0.3, 44.5, 4.5, kDetailBold, kLeft, false, true},
    {"QRDBText2", 45.0, 0.3, 40.2, 4.5, kDetailBold, kLeft, false, true},
    {"QRDBText3", 85.2, 0.3, 20.6, 4.5, kDetailPlain, kLeft, false, true},
    {"QRDBText4", 105.8, 0.3, 15.4, 4.5, kDetailBold, kLeft, false, true},
    {"QRDBText5", 121.2, 0.3, 14.8, 4.5, kDetailPlain, kLeft, false, true},
    {"QRDBText6", 136.0, 0.3, 14.8, 4.5, kDetailPlain, kLeft, false, true},
    {"QRDBText7", 150.8, 0.3, 14.3, 4.5, kDetailPlain, kLeft, false, true},
    {"QRDBText8", 165.1, 0.3, 9.9, 4.5, kDetailPlain, kLeft, false, true},
};
const TElementPlacement kSummary[] = {
    {"QRLabel2", 25.4, 4.2, 131.5, 8.7, TQRFont{10.0, false, true, false}, kCentre, true, false},
};
const TElementPlacement kPageFooter[] = {
    {"QRSchool2", 0.0, 2.1, 154.0, 4.3, kFooterFont, kLeft, false, true},
    {"QRSysData2", 154.0, 2.1, 20.9, 4.3, kFooterItalic, kRight, false, false},
    {"QRAddress", 0.0, 6.4, kPrintableWidth, 4.2, kFooterFont, kLeft, false, true},
    {"QRLabel12", 0.0, 10.6, 7.7, 4.2, kFooterFont, kLeft, false, false},
    {"QRTelephone", 7.7, 10.3, 41.0, 4.5, kFooterFont, kLeft, false, true},
    {"QRLabel13", 48.7, 10.6, 8.5, 4.2, kFooterFont, kLeft, false, false},
    {"QRFax", 57.2, 10.6, 35.9, 4.2, kFooterFont, kLeft, false, true},
    {"QRLabel1", 93.1, 10.6, 10.6, 4.2, kFooterFont, kLeft, false, false},
    {"QREMail", 103.7, 10.6, 71.3, 4.2, kFooterFont, kLeft, false, true},
};

void AddBand(TQRPage& page, std::span<const TElementPlacement> placements, double bandTop, std::span<const QString> texts) {
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const TElementPlacement& placement = placements[i];
        TQRElement element;
        element.name = QString::fromLatin1(placement.name);
        element.rect = QRectF(TQReportLayout::kMarginLeft + placement.left, bandTop + placement.top, placement.width, placement.height);
        element.text = texts[i];
        element.font = placement.font;
        element.alignment = placement.alignment;
        element.wrap = placement.wrap;
        element.clip = placement.clip;
        page.elements.push_back(std::move(element));
    }
}

// A new page with its header and its footer; returns where the next band begins.
double StartPage(std::vector<TQRPage>& pages, const TQReportContent& content) {
    TQRPage& page = pages.emplace_back();
    page.number = static_cast<int>(pages.size());
    const QString header[] = {QStringLiteral("Meldung \"Korvalla\""), content.competition, QStringLiteral("Seite"),
                              QString::number(page.number)};
    AddBand(page, kPageHeader, TQReportLayout::kMarginTop, header);
    const QString footer[] = {content.school,        content.printTime,       content.address,
                              QStringLiteral("Tel:"), content.telephone,      QStringLiteral("FAX:"),
                              content.fax,           QStringLiteral("E-Mail:"), content.email};
    AddBand(page, kPageFooter, kFooterTop, footer);
    page.lines.emplace_back(TQReportLayout::kMarginLeft, kFooterTop, TQReportLayout::kPageWidth - TQReportLayout::kMarginRight,
                            kFooterTop);
    return TQReportLayout::kMarginTop + TQReportLayout::kPageHeaderHeight;
}

[[nodiscard]] bool Fits(double top, double height) { return top + height <= kFooterTop + kEpsilon; }

} // namespace

const TQRElement* TQRPage::Find(const QString& name) const {
    for (const TQRElement& element : elements) {
        if (element.name == name) return &element;
    }
    return nullptr;
}

int TQRPage::Count(const QString& name) const {
    int count = 0;
    for (const TQRElement& element : elements) count += element.name == name ? 1 : 0;
    return count;
}

std::vector<TQRPage> TQReportLayout::Paginate(const TQReportContent& content) {
    std::vector<TQRPage> pages;
    if (content.rows.empty()) return pages;
    double y = StartPage(pages, content);
    const QString title[] = {content.school};
    AddBand(pages.back(), kTitle, y, title);
    y += kTitleHeight;
    for (const TQRRow& row : content.rows) {
        if (!Fits(y, kDetailHeight)) y = StartPage(pages, content);
        AddBand(pages.back(), kDetail, y, row);
        y += kDetailHeight;
    }
    if (!Fits(y, kSummaryHeight)) y = StartPage(pages, content);
    const QString summary[] = {QString::fromUtf8(kSummaryText)};
    AddBand(pages.back(), kSummary, y, summary);
    return pages;
}

QFont TQReportLayout::Font(const TQRFont& style) {
    // Arial where installed; otherwise the system's sans-serif stands in.
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(style.pointSize);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    return font;
}

void TQReportLayout::PaintPage(QPainter& painter, const TQRPage& page, double dotsPerMm) {
    auto toDevice = [dotsPerMm](const QRectF& mm) {
        return QRectF(mm.left() * dotsPerMm, mm.top() * dotsPerMm, mm.width() * dotsPerMm, mm.height() * dotsPerMm);
    };
    painter.save();
    painter.setPen(QPen(Qt::black, 0.2 * dotsPerMm));
    for (const QLineF& line : page.lines) {
        painter.drawLine(QLineF(line.p1() * dotsPerMm, line.p2() * dotsPerMm));
    }
    for (const TQRElement& element : page.elements) {
        if (element.text.isEmpty()) continue;
        painter.setFont(Font(element.font));
        painter.setPen(element.font.grey ? QColor(128, 128, 128) : QColor(Qt::black));
        int flags = element.alignment.toInt() | Qt::AlignTop;
        flags |= element.wrap ? Qt::TextWordWrap : Qt::TextSingleLine;
        if (!element.clip) flags |= Qt::TextDontClip;
        painter.drawText(toDevice(element.rect), flags, element.text);
    }
    painter.restore();
}

void TQReportLayout::SetUpPage(QPagedPaintDevice& device) {
    (void)device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                           QPageLayout::Millimeter));
}

void TQReportLayout::Render(const std::vector<TQRPage>& pages, QPagedPaintDevice& device) {
    QPainter painter(&device);
    const double dotsPerMm = device.logicalDpiX() / 25.4;
    bool first = true;
    for (const TQRPage& page : pages) {
        if (!first) (void)device.newPage();
        first = false;
        PaintPage(painter, page, dotsPerMm);
    }
}

} // namespace kova::app
