#include "app/NamedWidgets.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace kova::app {

QToolButton* MakeButton(QWidget* parent, const char* name, QStyle::StandardPixmap glyph, const QString& hint) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(glyph));
    button->setIconSize(QSize(24, 24));
    button->setToolTip(hint);
    button->setAutoRaise(true);
    return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int maxLength) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    return edit;
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace kova::app
