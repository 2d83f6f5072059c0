// GoogleTest main for the application's tests: widgets need a QApplication, which runs on the
// offscreen platform unless the environment names another one.
#include "app/Platform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // Tests close windows without a running event loop; nothing should end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // The program sets its date and time formats before anything else; so does every test
    // process, whichever single test it runs.
    kova::app::SetApplicationFormats();
    // What the main window stores per user at start and close stays in this run's own folder.
    const QTemporaryDir settings;
    if (settings.isValid()) QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
