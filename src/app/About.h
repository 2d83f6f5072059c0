// The About component of the main window: holds the texts of the About box and shows a new box
// with them on each Execute.
#pragma once

#include <QString>

#include <functional>

namespace kova::app {

class TAboutBox;

class TAboutBoxDlg {
public:
    QString ProductName;
    QString Version;
    QString Copyright = QStringLiteral("© Talmir");
    QString Comments;

    // Makes the box, fills it and shows it modally; true when it was closed with OK.
    bool Execute();

    // Tests look at the filled box and close it instead of a user; the hook gets the box just
    // before it would be shown and returns the dialog's result.
    using TShowHook = std::function<int(TAboutBox&)>;
    static TShowHook SetShowHook(TShowHook hook);
};

// The name of the logged-on user and of this computer, as the About box shows them.
[[nodiscard]] QString LogonUserName();
[[nodiscard]] QString LocalComputerName();

} // namespace kova::app
