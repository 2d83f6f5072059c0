// The template catalogue "Wettkampfvorlagen": the competition templates of the templates folder,
// one row each, oldest first, with the newest one selected, for the user to pick the template a
// new database (or a new template) is made from.
//
// The window only shows rows and hands back the choice; reading the templates is the job of
// TTemplateCatalogue (TemplateCatalogue.h), and the commands that use the choice live in the
// main window.
#pragma once

#include "files/TemplateCatalogue.h"

#include <QDialog>
#include <QString>

#include <vector>

class QPushButton;
class QTreeWidget;

namespace kova::app {

class TFormTemplates final : public QDialog {
public:
    // Columns of LVTemplates; the first two hold the sort key and the file and are kept
    // one pixel wide, out of the user's sight.
    enum TColumn : int { colSortDate = 0, colFile, colDatum, colWettkampf, colOrt, colZeit, kColumnCount };

    explicit TFormTemplates(QWidget* parent = nullptr);
    ~TFormTemplates() override;

    [[nodiscard]] QTreeWidget& LVTemplates() const noexcept { return *lvTemplates_; }
    [[nodiscard]] QPushButton& BBOk() const noexcept { return *bbOk_; }
    [[nodiscard]] QPushButton& BBAbort() const noexcept { return *bbAbort_; }

    // Removes every row. Sorting stays off until ShowEntries sorts.
    void Clear();
    // Replaces the rows by `entries`, sorted by the date key as text, ascending (rows with the
    // same date keep their order), and selects the last row: the template with the latest date.
    void ShowEntries(const std::vector<TTemplateEntry>& entries);
    // The template file of the selected row; empty when no row is selected.
    [[nodiscard]] QString SelectedTemplatePath() const;

    // Shows the window modally; true when it was closed with OK.
    [[nodiscard]] bool ShowModal();

private:
    QTreeWidget* lvTemplates_ = nullptr;
    QPushButton* bbOk_ = nullptr;
    QPushButton* bbAbort_ = nullptr;
};

// The template catalogue of the running program.
extern TFormTemplates* FormTemplates;

} // namespace kova::app
