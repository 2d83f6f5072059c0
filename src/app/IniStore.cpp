#include "app/IniStore.h"

#include "app/Regstry.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace kova::app {
namespace {

QString MainKey(const QString& programPath) {
    return IniKeyFor(programPath) + QStringLiteral("\\Main");
}

QString ProgramFolder(const QString& programPath) {
    return QDir::toNativeSeparators(QFileInfo(programPath).absolutePath() + QLatin1Char('/'));
}

} // namespace

QString IniKeyFor(const QString& programPath) {
    return QStringLiteral("Software\\Talmir\\") + QFileInfo(programPath).completeBaseName();
}

QString NowAsText() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    return now.date().toString(QStringLiteral("dd.MM.yyyy")) + QLatin1Char(' ') +
           locale.toString(now.time(), QLocale::LongFormat);
}

void ReadFromIni(TRegstry& registry, const QString& programPath) {
    registry.IniFileName = IniKeyFor(programPath);
    registry.Action = TProfileAction::paReadCurrentUser;
    (void)registry.ReadStringDef(MainKey(programPath), QStringLiteral("LastUsed"), NowAsText());
}

void WriteToIni(TRegstry& registry, const QString& programPath) {
    registry.IniFileName = IniKeyFor(programPath);
    registry.Action = TProfileAction::paWriteCurrentUser;
    const QString key = MainKey(programPath);
    registry.WriteString(key, QStringLiteral("LastUsed"), NowAsText());
    registry.WriteString(key, QStringLiteral("InstallPath"), ProgramFolder(programPath));
    registry.WriteString(key, QStringLiteral("VorlagenPath"),
                         ProgramFolder(programPath) + QStringLiteral("Vorlagen") + QDir::separator());
}

} // namespace kova::app
