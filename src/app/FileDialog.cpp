#include "app/FileDialog.h"

#include "app/Platform.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <utility>

namespace kova::app {
namespace {

TFileDialog::Runner& InstalledRunner() {
    static TFileDialog::Runner runner;
    return runner;
}

} // namespace

TFileDialog::Runner TFileDialog::SetRunner(Runner runner) {
    return std::exchange(InstalledRunner(), std::move(runner));
}

bool TFileDialog::Execute() {
    const Runner runner = InstalledRunner();
    const std::optional<QString> chosen = runner ? runner(*this) : ShowQtDialog();
    if (!chosen || chosen->isEmpty()) return false;
    fileName_ = *chosen;
    return true;
}

QStringList TFileDialog::QtNameFilters() const {
    QStringList filters;
    const QStringList parts = filter_.split(QChar(u'|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        // The description usually names its patterns already; Qt reads the patterns from the
        // parentheses, so add them when the description has none.
        const QString& description = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QChar(u';'), QChar(u' '));
        filters << (description.contains(QChar(u'(')) ? description : description + " (" + patterns + ")");
    }
    return filters;
}

std::optional<QString> TFileDialog::ShowQtDialog() const {
    QString start = initialDir_.isEmpty() ? InitialFolder() : initialDir_;
    if (!fileName_.isEmpty()) {
        const QFileInfo info(fileName_);
        start = info.isAbsolute() ? fileName_ : QDir(start).filePath(fileName_);
    }
    QFileDialog dialog(QApplication::activeWindow(), title_, start);
    dialog.setAcceptMode(kind_ == TFileDialogKind::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(kind_ == TFileDialogKind::Open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The application's save dialogs ask nothing before replacing a file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!defaultExt_.isEmpty()) dialog.setDefaultSuffix(defaultExt_);
    const QStringList filters = QtNameFilters();
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace kova::app
