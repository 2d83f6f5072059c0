#include "app/About.h"

#include "app/Aboutdlg.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <utility>

namespace kova::app {
namespace {

TAboutBoxDlg::TShowHook& ShowHook() {
    static TAboutBoxDlg::TShowHook hook;
    return hook;
}

} // namespace

TAboutBoxDlg::TShowHook TAboutBoxDlg::SetShowHook(TShowHook hook) {
    return std::exchange(ShowHook(), std::move(hook));
}

QString LogonUserName() {
    // The account of the process, not $USER, which anyone can set.
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return qEnvironmentVariable("USER");
}

QString LocalComputerName() {
    return QSysInfo::machineHostName();
}

bool TAboutBoxDlg::Execute() {
    TAboutBox box(QApplication::activeWindow());
    box.ProductName().setText(ProductName);
    box.Version().setText(Version);
    box.Copyright().setText(Copyright);
    box.Comments().setText(Comments);
    box.setWindowTitle(QStringLiteral("About ") + ProductName);
    box.UserName().setText(LogonUserName());
    box.ComputerName().setText(LocalComputerName());
    box.ProgramIcon().setPixmap(QApplication::windowIcon().pixmap(40, 40));
    const int result = ShowHook() ? ShowHook()(box) : box.exec();
    return result == QDialog::Accepted;
}

} // namespace kova::app
