#include "engine_ui/EngineDialogs.h"

#include "app/MessageDlg.h"
#include "engine/api/ABSDatabase.h"
#include "engine_ui/ABSDlgWait.h"
#include "engine_ui/ABSPasswordDialog.h"

#include <QApplication>

namespace kova::app {

TEngineDialogs::TEngineDialogs() : wait_(std::make_unique<TfrmWait>()) {
    TABSHostHooks hooks;
    hooks.AskPassword = [](TABSDatabase&) -> std::optional<std::string> {
        TABSPassDialog dialog(QApplication::activeWindow());
        return dialog.Ask();
    };
    hooks.AskYesNo = [](const std::string& text) {
        return MessageDlg(QString::fromStdString(text), TMsgDlgType::Confirmation, mbYes | mbNo) == mbYes;
    };
    hooks.ShowMessage = [](TABSMessageKind kind, const std::string& text) {
        const TMsgDlgType type = kind == TABSMessageKind::Warning ? TMsgDlgType::Warning
                                 : kind == TABSMessageKind::Error ? TMsgDlgType::Error
                                                                  : TMsgDlgType::Information;
        (void)MessageDlg(QString::fromStdString(text), type, mbOK);
    };
    TfrmWait* wait = wait_.get();
    hooks.BeginWait = [wait](const std::string& message) { wait->BeginWait(QString::fromStdString(message)); };
    hooks.WaitProgress = [wait](int percent) { return wait->Progress(percent); };
    hooks.EndWait = [wait] { wait->EndWait(); };
    previous_ = SetHostHooks(std::move(hooks));
}

TEngineDialogs::~TEngineDialogs() {
    (void)SetHostHooks(std::move(previous_));
}

} // namespace kova::app
