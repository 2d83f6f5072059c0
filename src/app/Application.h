// The program's long-lived objects: created once at start in a fixed order, reachable through
// one global reference each, destroyed in reverse order at the end.
//
// Order: the main window (FormMain), the registration list window (FormDatabase), the data
// module (DM), the entry form (FormMeldung), the printed list (FormQReport), the export list
// preview (FormQUV), the template catalogue (FormTemplates), the take-over window (FormGetNames,
// owned by the list window), the check window (FormCheck), the entry form's error list
// (FormErrors) and the template editor (FormEditTemplate).
#pragma once

#include <QStringList>

#include <memory>

namespace kova::app {

class TDM;
class TEngineDialogs;
class TFormDatabase;
class TFormMain;
class TFormMeldung;
class TFormQReport;
class TFormQUV;
class TFormTemplates;
class TFormCheck;
class TFormErrors;
class TFormEditTemplate;

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
    std::unique_ptr<TFormMeldung> formMeldung_;
    std::unique_ptr<TFormQReport> formQReport_;
    std::unique_ptr<TFormQUV> formQUV_;
    std::unique_ptr<TFormTemplates> formTemplates_;
    std::unique_ptr<TFormCheck> formCheck_;
    std::unique_ptr<TFormErrors> formErrors_;
    std::unique_ptr<TFormEditTemplate> formEditTemplate_;
};

} // namespace kova::app
