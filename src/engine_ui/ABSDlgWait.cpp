#include "engine_ui/ABSDlgWait.h"

#include <QApplication>
#include <algorithm>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace kova::app {

TfrmWait::TfrmWait(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmWait"));
    setWindowTitle(QStringLiteral("Please Wait..."));
    setCursor(Qt::WaitCursor);
    setFixedSize(312, 118);

    lMessage_ = new QLabel(QStringLiteral("Wait..."), this);
    lMessage_->setObjectName(QStringLiteral("lMessage"));
    lMessage_->setAlignment(Qt::AlignCenter);
    lMessage_->setWordWrap(true);
    lMessage_->setGeometry(8, 6, 296, 42);

    pb_ = new QProgressBar(this);
    pb_->setObjectName(QStringLiteral("pb"));
    pb_->setRange(0, 100);
    pb_->setTextVisible(false);
    pb_->setGeometry(8, 52, 296, 18);

    btnCancel_ = new QPushButton(QStringLiteral("Abort"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    btnCancel_->setDefault(true);
    btnCancel_->setGeometry(40, 82, 100, 25);
    connect(btnCancel_, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    btnBgMode_ = new QPushButton(QStringLiteral("Background Mode"), this);
    btnBgMode_->setObjectName(QStringLiteral("btnBgMode"));
    btnBgMode_->setGeometry(160, 82, 120, 25);
    connect(btnBgMode_, &QPushButton::clicked, this, [this] { btnBgModeClick(); });

    showTimer_ = new QTimer(this);
    showTimer_->setObjectName(QStringLiteral("ShowTimer"));
    showTimer_->setInterval(500);
    showTimer_->setSingleShot(true);
    connect(showTimer_, &QTimer::timeout, this, [this] { ShowTimerTimer(); });

    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) { ApplicationStateChanged(state); });
}

TfrmWait::~TfrmWait() { HideBlocking(); }

void TfrmWait::BeginWait(const QString& message) {
    lMessage_->setText(message);
    aborted_ = false;
    waiting_ = true;
    inBackground_ = false;
    pb_->setValue(0);
    btnCancel_->setFocus();
    showTimer_->start();
}

bool TfrmWait::Progress(int percent) {
    pb_->setValue(std::clamp(percent, 0, 100));
    // The operation holds the event loop: let the timer, the buttons and painting run.
    QCoreApplication::processEvents();
    return !aborted_;
}

void TfrmWait::EndWait() {
    waiting_ = false;
    inBackground_ = false;
    showTimer_->stop();
    HideBlocking();
    hide();
}

void TfrmWait::ShowTimerTimer() {
    if (!waiting_ || pb_->value() > 50) return;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    ShowBlocking();
}

void TfrmWait::btnCancelClick() { aborted_ = true; }

void TfrmWait::reject() { aborted_ = true; }

void TfrmWait::btnBgModeClick() {
    inBackground_ = true;
    HideBlocking();
    hide();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible()) window->showMinimized();
    }
}

void TfrmWait::ApplicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive && waiting_ && inBackground_) {
        inBackground_ = false;
        ShowBlocking();
    }
}

void TfrmWait::ShowBlocking() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isEnabled()) {
            window->setEnabled(false);
            disabled_.emplace_back(window);
        }
    }
    show();
    raise();
}

void TfrmWait::HideBlocking() {
    for (const QPointer<QWidget>& window : disabled_) {
        if (window) window->setEnabled(true);
    }
    disabled_.clear();
}

} // namespace kova::app
