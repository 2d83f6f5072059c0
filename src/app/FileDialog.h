// The open and save dialogs of the data module: title, filter, initial folder and file name are
// set by the command that uses a dialog just before it shows it; Execute shows it and, on OK,
// keeps the chosen path as the file name.
//
// Showing goes through one replaceable function, so tests answer the dialog instead of a user.
// Without one, Qt's own file dialog is shown.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kova::app {

enum class TFileDialogKind { Open, Save };

class TFileDialog {
public:
    // The dialog's state when it is shown; the answer is the chosen path, nothing for Cancel.
    using Runner = std::function<std::optional<QString>(const TFileDialog&)>;

    TFileDialog(QString name, TFileDialogKind kind) : name_(std::move(name)), kind_(kind) {}

    [[nodiscard]] const QString& Name() const noexcept { return name_; }
    [[nodiscard]] TFileDialogKind Kind() const noexcept { return kind_; }

    [[nodiscard]] const QString& Title() const noexcept { return title_; }
    void SetTitle(QString title) { title_ = std::move(title); }
    // Pairs of description and pattern separated by "|": "Datenbanken (*.abs)|*.abs|…".
    [[nodiscard]] const QString& Filter() const noexcept { return filter_; }
    void SetFilter(QString filter) { filter_ = std::move(filter); }
    [[nodiscard]] const QString& InitialDir() const noexcept { return initialDir_; }
    void SetInitialDir(QString dir) { initialDir_ = std::move(dir); }
    [[nodiscard]] const QString& FileName() const noexcept { return fileName_; }
    void SetFileName(QString fileName) { fileName_ = std::move(fileName); }
    [[nodiscard]] const QString& DefaultExt() const noexcept { return defaultExt_; }
    void SetDefaultExt(QString ext) { defaultExt_ = std::move(ext); }

    // Shows the dialog; true when a file was chosen (it is then FileName()).
    [[nodiscard]] bool Execute();

    // The filter as Qt's name filters: "Datenbanken (*.abs)", "Alle Dateien (*.*)".
    [[nodiscard]] QStringList QtNameFilters() const;

    // Installs the process-wide runner (empty: Qt's dialog); returns the one before.
    static Runner SetRunner(Runner runner);

private:
    [[nodiscard]] std::optional<QString> ShowQtDialog() const;

    QString name_;
    TFileDialogKind kind_;
    QString title_;
    QString filter_;
    QString initialDir_;
    QString fileName_;
    QString defaultExt_;
};

} // namespace kova::app
