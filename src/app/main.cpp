// KovaMeldungen: registering a school's athletes for the rounds of the Korvalla competition.
#include "app/Application.h"
#include "app/Main.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();  // the program itself
    kova::app::TApplicationObjects objects(arguments);
    kova::app::FormMain->show();
    return QApplication::exec();
}
