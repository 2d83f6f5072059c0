// The program's long-lived objects: created once at start in a fixed order, reachable through
// one global reference each, destroyed in reverse order at the end.
//
// Order: the main window (FormMain), the registration list window (FormDatabase), the data
// module (DM). The windows of the later subsystems (entry form, printed list, export list
// preview, template catalogue, take-over window, check window, error list, template editor)
// join this list in that order after DM as they are built.
#pragma once

#include <QStringList>

#include <memory>

namespace kova::app {

class TDM;
class TEngineDialogs;
class TFormDatabase;
class TFormMain;

// The application's title (task bar, message boxes).
inline constexpr const char* kApplicationTitle = "KovaMeldungen";

class TApplicationObjects {
public:
    // Requires a QApplication. Installs the engine's windows, then creates the objects and sets
    // the global references. `arguments` are the command-line arguments without the program.
    explicit TApplicationObjects(const QStringList& arguments);
    ~TApplicationObjects();
    TApplicationObjects(const TApplicationObjects&) = delete;
    TApplicationObjects& operator=(const TApplicationObjects&) = delete;

private:
    std::unique_ptr<TEngineDialogs> engineDialogs_;
    std::unique_ptr<TFormMain> formMain_;
    std::unique_ptr<TFormDatabase> formDatabase_;
    std::unique_ptr<TDM> dm_;
};

} // namespace kova::app
