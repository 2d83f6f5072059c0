// The engine's password window: asked when a database file does not open with the password
// its database component holds. OK hands the typed text back as the new password.
#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kova::app {

class TABSPassDialog final : public QDialog {
public:
    explicit TABSPassDialog(QWidget* parent = nullptr);

    // Shows the window modally with `caption` in the top label (the engine gives none); the
    // password field starts empty. The typed text for OK, nothing for Cancel.
    [[nodiscard]] std::optional<std::string> Ask(const QString& caption = QString());

    [[nodiscard]] QLineEdit& Pass() const noexcept { return *pass_; }

private:
    QLabel* lbName_ = nullptr;
    QLineEdit* pass_ = nullptr;
    QPushButton* cbOk_ = nullptr;
    QPushButton* cbCancel_ = nullptr;
};

} // namespace kova::app
