#include "app/Application.h"

#include "app/Main.h"
#include "engine_ui/EngineDialogs.h"
#include "model/DModule.h"
#include "check/CheckMeldungen.h"
#include "files/EditTemplate.h"
#include "files/Templates.h"
#include "import/GetNames.h"
#include "output/QReports.h"
#include "output/QUVView.h"
#include "registrations/DBView.h"
#include "registrations/ErorList.h"
#include "registrations/Meldung.h"

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
    formMeldung_ = std::make_unique<TFormMeldung>();
    FormMeldung = formMeldung_.get();
    formQReport_ = std::make_unique<TFormQReport>();
    FormQReport = formQReport_.get();
    formQUV_ = std::make_unique<TFormQUV>();
    FormQUV = formQUV_.get();
    formTemplates_ = std::make_unique<TFormTemplates>();
    FormTemplates = formTemplates_.get();
    FormGetNames = new TFormGetNames(FormDatabase);  // owned by the list window it serves
    formCheck_ = std::make_unique<TFormCheck>();
    FormCheck = formCheck_.get();
    formErrors_ = std::make_unique<TFormErrors>();
    FormErrors = formErrors_.get();
    formEditTemplate_ = std::make_unique<TFormEditTemplate>();
    FormEditTemplate = formEditTemplate_.get();
}

TApplicationObjects::~TApplicationObjects() {
    // Reverse order of creation; each global goes with its object.
    formEditTemplate_.reset();
    FormEditTemplate = nullptr;
    formErrors_.reset();
    FormErrors = nullptr;
    formCheck_.reset();
    FormCheck = nullptr;
    formTemplates_.reset();
    FormTemplates = nullptr;
    formQUV_.reset();
    FormQUV = nullptr;
    formQReport_.reset();
    FormQReport = nullptr;
    formMeldung_.reset();
    FormMeldung = nullptr;
    dm_.reset();
    DM = nullptr;
    formDatabase_.reset();
    FormDatabase = nullptr;
    formMain_.reset();
    FormMain = nullptr;
    engineDialogs_.reset();
}

} // namespace kova::app
