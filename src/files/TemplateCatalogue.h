// Reading the competition templates of a folder: every file named "*.wbs" that the engine opens
// with the application's password and whose Wettkampf table has a row, with the values of that
// first row.
//
// Each template is opened on the data module's second database (session "Template"), so the
// working database stays as it is, and closed again before the next one; after reading no
// template file is open.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace kova::app {

class TDM;

struct TTemplateEntry {
    QString sortDate;     // Datum as "yyyymmdd": the key that orders the catalogue
    QString path;         // the template file: folder + file name
    QString datum;        // Datum as text (process date format)
    QString bezeichnung;
    QString ort;
    QString zeitraum;
};

class TTemplateCatalogue {
public:
    explicit TTemplateCatalogue(TDM& dm) noexcept : dm_(dm) {}

    // The templates of `folder` (with or without a trailing "/"), in file-name order; subfolders
    // are not searched and folders named like a template are skipped. A missing folder gives
    // none; a template without a Wettkampf row is left out. A file the engine cannot open
    // (damaged, another password, no Wettkampf table) raises the engine's error: the catalogue
    // is not shown over a folder it cannot read.
    [[nodiscard]] std::vector<TTemplateEntry> Read(const QString& folder) const;

    // The entry of one template file; nothing when its Wettkampf table has no row. Engine
    // errors pass on.
    [[nodiscard]] std::optional<TTemplateEntry> ReadOne(const QString& path) const;

private:
    TDM& dm_;
};

// "yyyymmdd" of a date given as a day fraction (days since 30 December 1899).
[[nodiscard]] QString SortDateKey(double dayFraction);

} // namespace kova::app
