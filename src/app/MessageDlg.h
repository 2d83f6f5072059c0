// Message dialogs with the application's German titles and buttons, behind one replaceable
// function so that tests can read what would be shown and answer it.
//
// Texts keep their line breaks as one carriage return (CR) each; the box shows them as lines.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kova::app {

enum class TMsgDlgType { Warning, Error, Information, Confirmation };

// The buttons of a dialog, and the answer.
enum TMsgDlgButton : unsigned {
    mbNone = 0,
    mbOK = 1U << 0,
    mbYes = 1U << 1,
    mbNo = 1U << 2,
    mbCancel = 1U << 3,
};

struct TMessageRequest {
    TMsgDlgType type = TMsgDlgType::Information;
    QString title;    // "Fehler", "Informationen", "Bestätigung", "Warnung", or a system box's own
    QString text;     // line breaks as CR
    unsigned buttons = mbOK;
    bool systemBox = false;  // a system message box (always on top, task-modal)
};

// Shows the request and returns the button pressed (mbCancel when the box was closed otherwise).
using TMessageHandler = std::function<TMsgDlgButton(const TMessageRequest&)>;

// Installs a handler (an empty one restores the dialogs); returns the one installed before.
TMessageHandler SetMessageHandler(TMessageHandler handler);

// The German title of a dialog type.
[[nodiscard]] QString MessageTitle(TMsgDlgType type);

// A message dialog with the type's title and the given buttons; returns the button pressed.
TMsgDlgButton MessageDlg(const QString& text, TMsgDlgType type, unsigned buttons);

// A system message box with its own title, the error icon and an OK button.
void SystemErrorBox(const QString& title, const QString& text);

// The top-level error display: an error dialog with the message of what no command caught.
void ShowUnhandledError(const QString& message);

// Runs a command; whatever it throws that it did not catch itself is shown by the top-level
// error display, after which the program goes on.
void RunGuarded(const std::function<void()>& command);

// The text as the box shows it: each CR (and CR LF) as one line break.
[[nodiscard]] QString DisplayText(const QString& text);

} // namespace kova::app
