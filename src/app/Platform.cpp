#include "app/Platform.h"

#include "engine/core/FormatSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <utility>

namespace kova::app {

namespace {

QString& RedirectedTemplatesFolder() {
    static QString folder;
    return folder;
}

} // namespace

QString TemplatesFolder() {
    const QString& redirected = RedirectedTemplatesFolder();
    if (!redirected.isEmpty()) return redirected;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Vorlagen")) + QChar(u'/');
}

QString SetTemplatesFolder(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith(QChar(u'/'))) folder += QChar(u'/');
    return std::exchange(RedirectedTemplatesFolder(), std::move(folder));
}

QString InitialFolder() { return QDir::homePath(); }

QString HelpFileName() { return HelpFileNameFor(QCoreApplication::applicationFilePath()); }

QString HelpFileNameFor(const QString& programPath) {
    const QFileInfo info(programPath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QChar(u'.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString dir = info.path();
    return (dir.isEmpty() || dir == QStringLiteral(".") ? QString() : dir + QChar(u'/')) + base + QStringLiteral(".chm");
}

void SetApplicationFormats() {
    TFormatSettings settings = *GetFormatSettings();
    settings.ShortDateFormat = "dd.mm.yyyy";
    settings.DateSeparator = '.';
    settings.ShortTimeFormat = "hh:nn";
    settings.TimeSeparator = ':';
    SetFormatSettings(std::move(settings));
}

} // namespace kova::app
