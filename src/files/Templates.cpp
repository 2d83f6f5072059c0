#include "files/Templates.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPalette>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace kova::app {

TFormTemplates* FormTemplates = nullptr;

namespace {

struct TColumnLayout {
    const char* title;
    int width;
};

// The sort key and the file travel in the row but are not for the user's eyes: one pixel each.
constexpr TColumnLayout kColumns[TFormTemplates::kColumnCount] = {
    {"SortDate", 1}, {"Datei", 1}, {"Datum", 70}, {"Wettkampf", 140}, {"Ort", 140}, {"Zeit", 80},
};

} // namespace

TFormTemplates::TFormTemplates(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormTemplates"));
    setWindowTitle(QStringLiteral("Wettkampfvorlagen"));
    resize(458, 224);
    setMinimumSize(458, 162);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    lvTemplates_ = new QTreeWidget(this);
    lvTemplates_->setObjectName(QStringLiteral("LVTemplates"));
    lvTemplates_->setColumnCount(kColumnCount);
    QStringList titles;
    for (const TColumnLayout& column : kColumns) titles << QString::fromLatin1(column.title);
    lvTemplates_->setHeaderLabels(titles);
    lvTemplates_->header()->setMinimumSectionSize(1);
    lvTemplates_->header()->setStretchLastSection(false);
    lvTemplates_->header()->setSectionsMovable(false);
    for (int i = 0; i < kColumnCount; ++i) lvTemplates_->header()->resizeSection(i, kColumns[i].width);
    lvTemplates_->setRootIsDecorated(false);
    lvTemplates_->setItemsExpandable(false);
    lvTemplates_->setUniformRowHeights(true);
    lvTemplates_->setAllColumnsShowFocus(true);
    lvTemplates_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvTemplates_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvTemplates_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvTemplates_->setSortingEnabled(false);
    // Grid lines between cells, as a report list has them. A style sheet for the items takes over
    // their painting, so the selected row must name its colours too or its text turns invisible.
    lvTemplates_->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid palette(midlight); border-bottom: 1px solid palette(midlight); }"
        "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
    // The chosen template stays marked while the focus is on the buttons.
    QPalette palette = lvTemplates_->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    lvTemplates_->setPalette(palette);
    layout->addWidget(lvTemplates_, 1);

    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("PanelBottom"));
    bar->setFixedHeight(33);
    auto* buttons = new QHBoxLayout(bar);
    buttons->setContentsMargins(4, 3, 4, 3);
    bbAbort_ = new QPushButton(QStringLiteral("Abbrechen"), bar);
    bbAbort_->setObjectName(QStringLiteral("BBAbort"));
    bbAbort_->setAutoDefault(false);
    bbOk_ = new QPushButton(QStringLiteral("OK"), bar);
    bbOk_->setObjectName(QStringLiteral("BBOk"));
    bbOk_->setDefault(true);
    buttons->addWidget(bbAbort_);
    buttons->addStretch(1);
    buttons->addWidget(bbOk_);
    layout->addWidget(bar);

    // Escape rejects the dialog as "Abbrechen" does.
    connect(bbOk_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bbAbort_, &QPushButton::clicked, this, &QDialog::reject);
    // A double click on a template chooses it.
    connect(lvTemplates_, &QTreeWidget::itemDoubleClicked, this, [this] { bbOk_->click(); });
}

TFormTemplates::~TFormTemplates() = default;

void TFormTemplates::Clear() {
    lvTemplates_->setSortingEnabled(false);
    lvTemplates_->clear();
}

void TFormTemplates::ShowEntries(const std::vector<TTemplateEntry>& entries) {
    Clear();
    std::vector<const TTemplateEntry*> ordered;
    ordered.reserve(entries.size());
    for (const TTemplateEntry& entry : entries) ordered.push_back(&entry);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const TTemplateEntry* a, const TTemplateEntry* b) { return a->sortDate < b->sortDate; });
    QList<QTreeWidgetItem*> items;
    for (const TTemplateEntry* entry : ordered) {
        items << new QTreeWidgetItem(
            QStringList{entry->sortDate, entry->path, entry->datum, entry->bezeichnung, entry->ort, entry->zeitraum});
    }
    lvTemplates_->addTopLevelItems(items);
    // The designed widths are the least; a date or time that needs more gets it instead of "…".
    for (int column : {static_cast<int>(colDatum), static_cast<int>(colZeit)}) {
        int needed = 0;
        for (const QTreeWidgetItem* item : items) {
            needed = std::max(needed, lvTemplates_->fontMetrics().horizontalAdvance(item->text(column)) + 12);
        }
        lvTemplates_->header()->resizeSection(column, std::max(kColumns[column].width, needed));
    }
    if (!items.isEmpty()) {
        QTreeWidgetItem* newest = items.constLast();
        lvTemplates_->setCurrentItem(newest);
        newest->setSelected(true);
        lvTemplates_->scrollToItem(newest);
    }
}

QString TFormTemplates::SelectedTemplatePath() const {
    const QList<QTreeWidgetItem*> selected = lvTemplates_->selectedItems();
    if (selected.isEmpty()) return {};
    return selected.constFirst()->text(colFile);
}

bool TFormTemplates::ShowModal() { return exec() == QDialog::Accepted; }

} // namespace kova::app
