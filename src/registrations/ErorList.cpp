#include "registrations/ErorList.h"

#include <QListWidget>
#include <QVBoxLayout>

namespace kova::app {

TFormErrors* FormErrors = nullptr;

TFormErrors::TFormErrors(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormErrors"));
    setWindowTitle(QStringLiteral("? - Fehlerliste"));
    resize(300, 150);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    lbErrors_ = new QListWidget(this);
    lbErrors_->setObjectName(QStringLiteral("LBErrors"));
    lbErrors_->setStyleSheet(QStringLiteral("color: maroon;"));
    lbErrors_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(lbErrors_);
}

TFormErrors::~TFormErrors() = default;

void TFormErrors::SetLines(const QStringList& lines) {
    lbErrors_->clear();
    lbErrors_->addItems(lines);
}

QStringList TFormErrors::Lines() const {
    QStringList lines;
    lines.reserve(lbErrors_->count());
    for (int i = 0; i < lbErrors_->count(); ++i) lines.push_back(lbErrors_->item(i)->text());
    return lines;
}

int TFormErrors::ShowModal() { return exec(); }

} // namespace kova::app
