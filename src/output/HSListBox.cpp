#include "output/HSListBox.h"

#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace kova::app {
namespace {

// Draws each line as plain text at the list's indent, one line per kItemHeight pixels, so the
// characters stand exactly where a ruler with the same indent expects them.
class TLineDelegate final : public QStyledItemDelegate {
public:
    explicit TLineDelegate(THSListBox& list) : QStyledItemDelegate(&list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        if (selected) painter->fillRect(option.rect, option.palette.highlight());
        painter->save();
        painter->setFont(list_.font());
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        const QRect textRect = option.rect.adjusted(THSListBox::kTextIndent, 0, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        return {list_.LineWidth(index.data(Qt::DisplayRole).toString()), THSListBox::kItemHeight};
    }

private:
    THSListBox& list_;
};

} // namespace

THSListBox::THSListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new TLineDelegate(*this));
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { RowsInserted(first, last); });
    connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { RowsAboutToBeRemoved(first, last); });
    connect(model(), &QAbstractItemModel::modelReset, this, [this] { Cleared(); });
}

THSListBox::~THSListBox() {
    disconnect(model(), nullptr, this, nullptr);
}

int THSListBox::LineWidth(const QString& text) const {
    const QFontMetrics metrics(font());
    return metrics.horizontalAdvance(text) + metrics.averageCharWidth();
}

void THSListBox::RowsInserted(int first, int last) {
    int widest = extent_;
    for (int row = first; row <= last; ++row) widest = std::max(widest, LineWidth(item(row)->text()));
    if (widest > extent_) SetExtent(widest);
}

void THSListBox::RowsAboutToBeRemoved(int first, int last) {
    bool widestGoes = false;
    for (int row = first; row <= last && !widestGoes; ++row) widestGoes = LineWidth(item(row)->text()) == extent_;
    if (!widestGoes) return;
    int widest = 0;
    for (int row = 0; row < count(); ++row) {
        if (row < first || row > last) widest = std::max(widest, LineWidth(item(row)->text()));
    }
    SetExtent(widest);
}

void THSListBox::Cleared() { SetExtent(0); }

void THSListBox::SetExtent(int extent) {
    extent_ = extent;
    updateGeometries();
}

void THSListBox::updateGeometries() {
    QListWidget::updateGeometries();
    // The view would size the range after its item rectangles; the kept width decides instead.
    QScrollBar* bar = horizontalScrollBar();
    bar->setRange(0, std::max(0, extent_ - viewport()->width()));
    bar->setPageStep(viewport()->width());
}

} // namespace kova::app
