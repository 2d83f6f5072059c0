#include "files/TemplateCatalogue.h"

#include "engine/api/ABSMain.h"
#include "engine/core/ABSDateTime.h"
#include "model/DModule.h"

#include <QDir>
#include <QFileInfo>

namespace kova::app {

QString SortDateKey(double dayFraction) {
    const TDateParts date = DecodeDate(DayFractionToDateTime(dayFraction).date);
    return QStringLiteral("%1%2%3")
        .arg(date.year, 4, 10, QChar(u'0'))
        .arg(date.month, 2, 10, QChar(u'0'))
        .arg(date.day, 2, 10, QChar(u'0'));
}

std::vector<TTemplateEntry> TTemplateCatalogue::Read(const QString& folder) const {
    std::vector<TTemplateEntry> entries;
    const QDir dir(folder);
    if (!dir.exists()) return entries;
    // Hidden and system entries count as well; the pattern ignores letter case, as the file
    // systems the templates come from do.
    const QStringList names = dir.entryList({QStringLiteral("*.wbs")},
                                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                            QDir::Name);
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        if (!QFileInfo(path).isFile()) continue;  // a folder named like a template
        if (std::optional<TTemplateEntry> entry = ReadOne(path)) entries.push_back(std::move(*entry));
    }
    return entries;
}

std::optional<TTemplateEntry> TTemplateCatalogue::ReadOne(const QString& path) const {
    TABSDatabase& db = dm_.ABSDBTemplate();
    TABSQuery& query = dm_.ABSQTemplate();
    if (db.Connected()) db.Close();
    db.SetDatabaseFileName(path.toStdString());
    std::optional<TTemplateEntry> entry;
    try {
        if (dm_.TalmirMySQLTools().RunSQL(query, TTalmirMySQLTools::kOpen, "SELECT * FROM Wettkampf")) {
            const TABSField& datum = query.FieldByName("Datum");
            entry = TTemplateEntry{
                SortDateKey(datum.AsDateTime()),
                path,
                QString::fromStdString(datum.AsString()),
                QString::fromStdString(query.FieldByName("Bezeichnung").AsString()),
                QString::fromStdString(query.FieldByName("Ort").AsString()),
                QString::fromStdString(query.FieldByName("Zeitraum").AsString()),
            };
        }
    } catch (...) {
        // The template file must not stay open behind the error.
        db.Close();
        throw;
    }
    db.Close();
    return entry;
}

} // namespace kova::app
