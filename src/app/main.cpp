// KovaMeldungen: registering a school's athletes for the rounds of the Korvalla competition.
#include "app/Application.h"
#include "app/Just1_32.h"
#include "app/Main.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // A second start only brings the running program to the front and shows nothing itself.
    kova::app::TPreviousInstance previousInstance(QFileInfo(QApplication::applicationFilePath()).fileName());
    if (previousInstance.AnotherRuns()) {
        (void)previousInstance.ActivateFirst();
        return 0;
    }
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();  // the program itself
    kova::app::TApplicationObjects objects(arguments);
    previousInstance.ListenForLaterStarts([] {
        if (kova::app::FormMain != nullptr) kova::app::BringToFront(*kova::app::FormMain);
    });
    kova::app::FormMain->show();
    return QApplication::exec();
}
