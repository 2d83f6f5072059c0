#include "app/Application.h"

#include "app/Main.h"
#include "engine_ui/EngineDialogs.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <QApplication>

namespace kova::app {

TApplicationObjects::TApplicationObjects(const QStringList& arguments)
    : engineDialogs_(std::make_unique<TEngineDialogs>()) {
    // Only the name: a display name would be appended to every window and message box title.
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    formMain_ = std::make_unique<TFormMain>(arguments);
    FormMain = formMain_.get();
    // The list window is made before the data module, so it takes its grid model and hooks its
    // card once the module exists.
    formDatabase_ = std::make_unique<TFormDatabase>();
    FormDatabase = formDatabase_.get();
    dm_ = std::make_unique<TDM>();
    DM = dm_.get();
    FormDatabase->AttachDataModule();
}

TApplicationObjects::~TApplicationObjects() {
    // Reverse order of creation; each global goes with its object.
    dm_.reset();
    DM = nullptr;
    formDatabase_.reset();
    FormDatabase = nullptr;
    formMain_.reset();
    FormMain = nullptr;
    engineDialogs_.reset();
}

} // namespace kova::app
