// Keeps the program from running twice for one user.
//
// The first instance holds a per-user lock file named after the program file and listens on a
// local socket of the same name. A second start finds the lock taken, asks the first instance
// through the socket to bring its main window to the front (restoring it when minimised), and
// ends without showing a window.
#pragma once

#include <QLockFile>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QWidget;

namespace kova::app {

// One per process, made before the application's windows.
class TPreviousInstance {
public:
    // `programFileName` is the running program's file name; `lockFolder` holds the lock file and
    // defaults to the per-user runtime folder.
    explicit TPreviousInstance(const QString& programFileName, const QString& lockFolder = {});
    ~TPreviousInstance();
    TPreviousInstance(const TPreviousInstance&) = delete;
    TPreviousInstance& operator=(const TPreviousInstance&) = delete;

    // Another instance of this program runs for this user.
    [[nodiscard]] bool AnotherRuns() const noexcept { return anotherRuns_; }
    [[nodiscard]] const QString& ServerName() const noexcept { return serverName_; }

    // Second instance: asks the first to come to the front. False when it could not be reached
    // (the second instance ends all the same).
    bool ActivateFirst(int timeoutMs = 2000) const;

    // First instance: `activate` runs on the user-interface thread when a later start asks for
    // the main window.
    void ListenForLaterStarts(std::function<void()> activate);

private:
    QString serverName_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> activate_;
    bool anotherRuns_ = false;
};

// Restores `window` when it is minimised, otherwise brings it to the top.
void BringToFront(QWidget& window);

} // namespace kova::app
