#include "output/QReports.h"

#include "engine/api/ABSQuery.h"
#include "engine/core/FormatSettings.h"
#include "model/DModule.h"
#include "model/GenSerials.h"
#include "registrations/DBView.h"

#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>

#include <utility>

namespace kova::app {

TFormQReport* FormQReport = nullptr;

namespace {

TFormQReport::TPreviewRunner& InstalledPreviewRunner() {
    static TFormQReport::TPreviewRunner runner;
    return runner;
}

[[nodiscard]] QString Text(const TABSQuery& query, const char* column) {
    return QString::fromStdString(query.FieldByName(column).AsString());
}

} // namespace

TFormQReport::TFormQReport(QWidget* parent) : QWidget(parent), absqPrint_(std::make_unique<TABSQuery>()) {
    setObjectName(QStringLiteral("FormQReport"));
    absqPrint_->SetName("ABSQPrint");
    absqPrint_->SetSessionName(std::string(kWorkingSessionName));
    absqPrint_->SetDatabaseName(std::string(kDatabaseAlias));
}

TFormQReport::~TFormQReport() = default;

bool TFormQReport::QReportBeforePrint() {
    const TTalmirMySQLTools& tools = DM->TalmirMySQLTools();
    TABSQuery& h1 = DM->ABSQH1();
    if (tools.RunSQL(h1, TTalmirMySQLTools::kOpen, "SELECT * FROM Verein")) {
        labels_.competition = FormDatabase != nullptr ? FormDatabase->windowTitle() : QString();
        labels_.school = Text(h1, "Schule");
        labels_.address = Text(h1, "Anschrift");
        labels_.telephone = Text(h1, "Telefon");
        labels_.fax = Text(h1, "FAX");
        labels_.email = Text(h1, "EMail");
    }
    rows_.clear();
    // The query stands on its first row when it returned any.
    return tools.RunSQL(*absqPrint_, TTalmirMySQLTools::kOpen, kPrintStatement);
}

void TFormQReport::QReportNeedData(bool& more) {
    TABSQuery& q = *absqPrint_;
    if (!q.Active() || q.Eof()) {
        more = false;
        return;
    }
    // The row is taken before moving on: a move past the last row leaves the query on it.
    rows_.push_back({Text(q, "Name"), Text(q, "Vorname"), Text(q, "Jahrgang"), Text(q, "AK"), Text(q, "Disziplin1"),
                     Text(q, "Disziplin2"), Text(q, "Disziplin3"), Text(q, "Staffel")});
    q.Next();
    more = true;
}

std::optional<std::vector<TQRPage>> TFormQReport::Prepare() {
    if (!QReportBeforePrint()) {
        absqPrint_->Close();
        return std::nullopt;
    }
    for (bool more = true; more;) QReportNeedData(more);
    absqPrint_->Close();
    TQReportContent content = labels_;
    content.printTime = QString::fromStdString(DateTimeToStr(TGenSerials::LocalNow(), *GetFormatSettings()));
    content.rows = std::move(rows_);
    rows_.clear();
    return TQReportLayout::Paginate(content);
}

TFormQReport::TPreviewRunner TFormQReport::SetPreviewRunner(TPreviewRunner runner) {
    return std::exchange(InstalledPreviewRunner(), std::move(runner));
}

void TFormQReport::SetUpPrinter(QPrinter& printer) {
    printer.setDocName(QString::fromLatin1(kReportTitle));
    printer.setFullPage(true);
    TQReportLayout::SetUpPage(printer);
}

void TFormQReport::Preview() {
    const std::optional<std::vector<TQRPage>> pages = Prepare();
    if (!pages) return;
    QPrinter printer(QPrinter::HighResolution);
    SetUpPrinter(printer);
    QPrintPreviewDialog dialog(&printer, parentWidget());
    dialog.setObjectName(QStringLiteral("QReportPreview"));
    dialog.setWindowTitle(QString::fromLatin1(kReportTitle));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
            [&pages](QPrinter* target) { TQReportLayout::Render(*pages, *target); });
    if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) {
        preview->setZoomMode(QPrintPreviewWidget::CustomZoom);
        preview->setZoomFactor(1.0);
    }
    const TPreviewRunner& runner = InstalledPreviewRunner();
    if (runner) {
        runner(dialog);
    } else {
        (void)dialog.exec();
    }
}

} // namespace kova::app
