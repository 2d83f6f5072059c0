// The error list of the entry form: one line per fault of the entry form's last validation run,
// shown modally below the form while the user reads what is wrong.
#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;

namespace kova::app {

class TFormErrors final : public QDialog {
public:
    explicit TFormErrors(QWidget* parent = nullptr);
    ~TFormErrors() override;

    // Replaces the lines of LBErrors.
    void SetLines(const QStringList& lines);
    [[nodiscard]] QStringList Lines() const;
    [[nodiscard]] QListWidget& LBErrors() const noexcept { return *lbErrors_; }

    // Shows the window modally; returns when it is closed.
    int ShowModal();

private:
    QListWidget* lbErrors_ = nullptr;
};

// The error list of the running program (set by the application at start).
extern TFormErrors* FormErrors;

} // namespace kova::app
