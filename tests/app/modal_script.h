// Answers the modal windows a command shows, in the order the test expects them: each step
// waits until its window is the active modal window, lets the test look at it and act (close
// it, press a button). A window that is not the expected one, or a step that never comes, is
// recorded and rejected after a while, so a wrong command fails the test instead of hanging it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace kova::app::test {

class ModalScript {
public:
    ModalScript() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
        waiting_.start();
    }
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    // When `window` is the active modal window, runs `action`; the action must end the window's
    // modal loop (close, accept, reject or press one of its buttons).
    ModalScript& Then(QWidget* window, std::function<void()> action) {
        QPointer<QWidget> expected(window);
        steps_.push_back({[expected](QWidget* modal) { return modal == expected; },
                          [action = std::move(action)](QWidget*) { action(); }});
        return *this;
    }
    // The same for a window known only by its title (the engine's own windows).
    ModalScript& ThenTitled(QString title, std::function<void(QWidget*)> action) {
        steps_.push_back({[title = std::move(title)](QWidget* modal) { return modal->windowTitle() == title; },
                          std::move(action)});
        return *this;
    }

    // Runs `action` on every window with this title whenever it is the active modal window,
    // before and between the ordered steps (a prompt that may or may not come).
    ModalScript& WheneverTitled(QString title, std::function<void(QWidget*)> action) {
        handlers_.push_back({[title = std::move(title)](QWidget* modal) { return modal->windowTitle() == title; },
                             std::move(action)});
        return *this;
    }
    // The same for a window known by its address.
    ModalScript& Whenever(QWidget* window, std::function<void()> action) {
        QPointer<QWidget> expected(window);
        handlers_.push_back({[expected](QWidget* modal) { return modal == expected; },
                             [action = std::move(action)](QWidget*) { action(); }});
        return *this;
    }

    // Every step ran.
    [[nodiscard]] bool Done() const noexcept { return steps_.empty(); }
    // Titles of modal windows that came when another one was expected (they were rejected).
    [[nodiscard]] const std::vector<QString>& Unexpected() const noexcept { return unexpected_; }

private:
    struct Step {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> action;
    };

    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        if (!steps_.empty() && steps_.front().matches(modal)) {
            Step step = std::move(steps_.front());
            steps_.pop_front();
            waiting_.restart();
            step.action(modal);
            return;
        }
        for (const Step& handler : handlers_) {
            if (handler.matches(modal)) {
                waiting_.restart();
                handler.action(modal);
                return;
            }
        }
        // A window nobody expected (or one shown too early): give it a second, then close it.
        if (waiting_.elapsed() < 1000) return;
        unexpected_.push_back(modal->windowTitle());
        waiting_.restart();
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }

    QTimer timer_;
    QElapsedTimer waiting_;
    std::deque<Step> steps_;
    std::vector<Step> handlers_;
    std::vector<QString> unexpected_;
};

} // namespace kova::app::test
