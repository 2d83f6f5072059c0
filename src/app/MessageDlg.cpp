#include "app/MessageDlg.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <exception>
#include <vector>
#include <utility>

namespace kova::app {
namespace {

TMessageHandler& Handler() {
    static TMessageHandler handler;
    return handler;
}

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Warning: return QMessageBox::Warning;
    case TMsgDlgType::Error: return QMessageBox::Critical;
    case TMsgDlgType::Information: return QMessageBox::Information;
    case TMsgDlgType::Confirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

TMsgDlgButton ShowBox(const TMessageRequest& request) {
    QMessageBox box(IconOf(request.type), request.title, DisplayText(request.text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    if (request.systemBox) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    struct TButtonText {
        TMsgDlgButton button;
        const char* text;
        QMessageBox::ButtonRole role;
    };
    // German captions; "&" marks the mnemonic.
    const TButtonText captions[] = {
        {mbYes, "&Ja", QMessageBox::YesRole},
        {mbNo, "&Nein", QMessageBox::NoRole},
        {mbOK, "OK", QMessageBox::AcceptRole},
        {mbCancel, "Abbrechen", QMessageBox::RejectRole},
    };
    std::vector<std::pair<QAbstractButton*, TMsgDlgButton>> made;
    for (const TButtonText& caption : captions) {
        if ((request.buttons & caption.button) == 0) continue;
        QPushButton* button = box.addButton(QString::fromUtf8(caption.text), caption.role);
        made.emplace_back(button, caption.button);
    }
    if (made.empty()) made.emplace_back(box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole), mbOK);
    box.exec();
    for (const auto& [widget, button] : made) {
        if (box.clickedButton() == widget) return button;
    }
    return mbCancel;
}

} // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

QString MessageTitle(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Warning: return QStringLiteral("Warnung");
    case TMsgDlgType::Error: return QStringLiteral("Fehler");
    case TMsgDlgType::Information: return QStringLiteral("Informationen");
    case TMsgDlgType::Confirmation: return QStringLiteral("Bestätigung");
    }
    return {};
}

TMsgDlgButton MessageDlg(const QString& text, TMsgDlgType type, unsigned buttons) {
    const TMessageRequest request{type, MessageTitle(type), text, buttons, false};
    // A copy: the handler may install another one while it runs.
    const TMessageHandler handler = Handler();
    return handler ? handler(request) : ShowBox(request);
}

void SystemErrorBox(const QString& title, const QString& text) {
    const TMessageRequest request{TMsgDlgType::Error, title, text, mbOK, true};
    const TMessageHandler handler = Handler();
    if (handler) {
        (void)handler(request);
    } else {
        (void)ShowBox(request);
    }
}

void ShowUnhandledError(const QString& message) {
    (void)MessageDlg(message, TMsgDlgType::Error, mbOK);
}

void RunGuarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& error) {
        ShowUnhandledError(QString::fromUtf8(error.what()));
    }
}

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QChar(u'\r'), QChar(u'\n'));
    return shown;
}

} // namespace kova::app
