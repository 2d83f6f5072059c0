#include "engine_ui/ABSPasswordDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace kova::app {

TABSPassDialog::TABSPassDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ABSPassDialog"));
    setWindowTitle(QStringLiteral("Database authentication"));
    setModal(true);
    setFixedSize(216, 118);

    lbName_ = new QLabel(this);
    lbName_->setObjectName(QStringLiteral("lbName"));
    lbName_->setAlignment(Qt::AlignCenter);
    lbName_->setGeometry(12, 8, 193, 16);

    auto* label1 = new QLabel(QStringLiteral("Password:"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setGeometry(12, 40, 60, 16);

    pass_ = new QLineEdit(this);
    pass_->setObjectName(QStringLiteral("Pass"));
    pass_->setEchoMode(QLineEdit::Password);
    pass_->setGeometry(74, 36, 130, 22);

    cbOk_ = new QPushButton(QStringLiteral("OK"), this);
    cbOk_->setObjectName(QStringLiteral("cbOk"));
    cbOk_->setDefault(true);
    cbOk_->setGeometry(30, 80, 75, 25);
    connect(cbOk_, &QPushButton::clicked, this, &QDialog::accept);

    cbCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cbCancel_->setObjectName(QStringLiteral("cbCancel"));
    cbCancel_->setGeometry(112, 80, 75, 25);
    connect(cbCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<std::string> TABSPassDialog::Ask(const QString& caption) {
    lbName_->setText(caption);
    pass_->clear();
    pass_->setFocus();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    if (exec() != QDialog::Accepted) return std::nullopt;
    return pass_->text().toStdString();
}

} // namespace kova::app
