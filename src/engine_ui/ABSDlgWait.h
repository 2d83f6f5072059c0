// The engine's wait window, shown while a long operation (the rebuild of a database file at
// connect time) runs on the user-interface thread.
//
// A wait begins with a message; the window appears only after half a second, and only while
// the operation has not passed half of its work, so short operations show nothing. While it is
// shown every other window of the application is disabled. "Abort" raises the abort flag that
// the progress reports hand back; "Background Mode" hides the window and minimises the
// application, which shows the window again when it is restored. Because the operation blocks
// the event loop, every progress report lets pending events run.
#pragma once

#include <QDialog>
#include <QPointer>

#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kova::app {

class TfrmWait final : public QDialog {
public:
    explicit TfrmWait(QWidget* parent = nullptr);
    ~TfrmWait() override;

    // Starts a wait: sets the message, clears the abort flag, focuses "Abort", starts the timer.
    void BeginWait(const QString& message);
    // Sets the bar (0..100); the answer is the continue flag: false once "Abort" was pressed.
    [[nodiscard]] bool Progress(int percent);
    // Ends the wait: hides and closes the window, re-enables the other windows.
    void EndWait();

    [[nodiscard]] bool Aborted() const noexcept { return aborted_; }
    [[nodiscard]] bool Waiting() const noexcept { return waiting_; }

private:
    void ShowTimerTimer();
    void btnCancelClick();
    void btnBgModeClick();
    void ApplicationStateChanged(Qt::ApplicationState state);
    void ShowBlocking();
    void HideBlocking();
    void reject() override;  // Escape is "Abort"

    QLabel* lMessage_ = nullptr;
    QProgressBar* pb_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QPushButton* btnBgMode_ = nullptr;
    QTimer* showTimer_ = nullptr;
    bool aborted_ = false;
    bool waiting_ = false;
    bool inBackground_ = false;
    std::vector<QPointer<QWidget>> disabled_;
};

} // namespace kova::app
