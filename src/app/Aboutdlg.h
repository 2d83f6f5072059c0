// The About box window: product name, version, copyright and comments on a raised panel, the
// user's and the computer's name below it, and an OK button. A new window is made for each
// showing (TAboutBoxDlg::Execute).
#pragma once

#include <QDialog>

class QLabel;

namespace kova::app {

class TAboutBox final : public QDialog {
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    [[nodiscard]] QLabel& ProgramIcon() const noexcept { return *programIcon_; }
    [[nodiscard]] QLabel& ProductName() const noexcept { return *productName_; }
    [[nodiscard]] QLabel& Version() const noexcept { return *version_; }
    [[nodiscard]] QLabel& Copyright() const noexcept { return *copyright_; }
    [[nodiscard]] QLabel& Comments() const noexcept { return *comments_; }
    [[nodiscard]] QLabel& UserName() const noexcept { return *userName_; }
    [[nodiscard]] QLabel& ComputerName() const noexcept { return *computerName_; }

private:
    QLabel* programIcon_;
    QLabel* productName_;
    QLabel* version_;
    QLabel* copyright_;
    QLabel* comments_;
    QLabel* userName_;
    QLabel* computerName_;
};

} // namespace kova::app
