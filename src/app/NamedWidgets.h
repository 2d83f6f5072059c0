// Small factories for the controls the windows make by the dozen: each control carries the
// object name it is known by, so tests and the windows' own code find it by that name.
#pragma once

#include <QString>
#include <QStyle>

class QAction;
class QLineEdit;
class QMenu;
class QToolButton;
class QWidget;

namespace kova::app {

// A flat tool button with a standard glyph and a hint.
[[nodiscard]] QToolButton* MakeButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph, const QString& hint);

// A one-line text field that takes at most `maxLength` characters.
[[nodiscard]] QLineEdit* MakeEdit(QWidget* parent, const char* name, int maxLength);

// A menu item appended to `menu`.
QAction* MakeAction(QMenu* menu, const char* name, const QString& text);

} // namespace kova::app
