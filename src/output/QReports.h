// The printed registration list: every registration of the working database with the school's
// contact data, shown in a print preview from which the user prints or saves a PDF.
//
// The window itself is never shown; it owns the report's query ABSQPrint (on the working
// database of the first session) and the texts of the report's labels. Each preview reads the
// school row and the registrations afresh, so the list always shows the database as it is.
#pragma once

#include "output/QReportLayout.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPrintPreviewDialog;
class QPrinter;

namespace kova {
class TABSQuery;
}

namespace kova::app {

class TFormQReport final : public QWidget {
public:
    explicit TFormQReport(QWidget* parent = nullptr);
    ~TFormQReport() override;

    // The name of the print job and of the preview.
    static constexpr const char* kReportTitle = "Kova-Meldungen";
    static constexpr const char* kPrintStatement = "SELECT * FROM Namen ORDER BY AK, Name, Vorname, Jahrgang";

    [[nodiscard]] TABSQuery& ABSQPrint() const noexcept { return *absqPrint_; }
    // The label texts as the last preparation left them (school data, competition line).
    [[nodiscard]] const TQReportContent& Labels() const noexcept { return labels_; }

    // Reads the school row into the labels (they keep their texts when there is none) and opens
    // the registrations; false when there are none, which cancels the report. Engine errors pass.
    [[nodiscard]] bool QReportBeforePrint();
    // Hands the report the current registration and moves on; `more` is false at the end.
    void QReportNeedData(bool& more);

    // Both steps: the pages to print, or nothing when the report is cancelled.
    [[nodiscard]] std::optional<std::vector<TQRPage>> Prepare();

    // The print preview of the list ("Drucken" → "Meldungen ausdrucken ..." of the list window).
    // No registrations: nothing is shown.
    void Preview();

    // How the preview dialog is shown (tests look at it instead of a user); empty: exec().
    using TPreviewRunner = std::function<void(QPrintPreviewDialog& dialog)>;
    static TPreviewRunner SetPreviewRunner(TPreviewRunner runner);

    // A4 portrait, positions from the paper's corner, the report's job name.
    static void SetUpPrinter(QPrinter& printer);

private:
    std::unique_ptr<TABSQuery> absqPrint_;
    TQReportContent labels_;
    std::vector<TQRRow> rows_;
};

// The printed list of the running program.
extern TFormQReport* FormQReport;

} // namespace kova::app
