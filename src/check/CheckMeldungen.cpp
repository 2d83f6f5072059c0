#include "check/CheckMeldungen.h"

#include "model/CompetitionRules.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <exception>

namespace kova::app {

TFormCheck* FormCheck = nullptr;

namespace {

QString Text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// While the check walks the list, the card must not follow every row: that would cost several
// statements per row. The list window's modal session has to go on, so instead of hiding the
// window the data module is told for the run that no list window shows the rows.
class TCardDetached {
public:
    TCardDetached() { DM->SetRegistrationList(nullptr); }
    ~TCardDetached() { DM->SetRegistrationList(FormDatabase); }
    TCardDetached(const TCardDetached&) = delete;
    TCardDetached& operator=(const TCardDetached&) = delete;
};

} // namespace

TFormCheck::TFormCheck(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FormCheck"));
    setWindowTitle(QStringLiteral("Meldungen überprüfen ..."));
    resize(560, 420);

    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("Panel1"));
    sbExit_ = new QToolButton(top);
    sbExit_->setObjectName(QStringLiteral("SBExit"));
    sbExit_->setToolTip(QStringLiteral("Beenden"));
    sbExit_->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    sbExit_->setAutoRaise(true);
    connect(sbExit_, &QToolButton::clicked, this, &QWidget::close);
    auto* topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(4, 2, 4, 2);
    topLayout->addStretch(1);
    topLayout->addWidget(sbExit_);

    lvCheck_ = new QTreeWidget(this);
    lvCheck_->setObjectName(QStringLiteral("LVCheck"));
    lvCheck_->setColumnCount(3);
    lvCheck_->setHeaderLabels({QStringLiteral("Aktion"), QStringLiteral("Ergebnis"), QStringLiteral("Bemerkung")});
    lvCheck_->setRootIsDecorated(false);
    lvCheck_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvCheck_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvCheck_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvCheck_->setAlternatingRowColors(false);
    // Grid lines between the rows and columns of the report.
    // An item style sheet takes over the painting, so the selected row (the verdict at the end)
    // must name its colours too or its text turns invisible.
    lvCheck_->setStyleSheet(QStringLiteral(
        "QTreeWidget::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }"
        "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
    lvCheck_->header()->setStretchLastSection(true);
    lvCheck_->setColumnWidth(0, 110);
    lvCheck_->setColumnWidth(1, 70);
    lvCheck_->setColumnWidth(2, 300);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(top);
    layout->addWidget(lvCheck_, 1);
}

std::vector<TCheckRow> TFormCheck::Rows() const {
    std::vector<TCheckRow> rows;
    for (int i = 0; i < lvCheck_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lvCheck_->topLevelItem(i);
        rows.push_back({item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString()});
    }
    return rows;
}

void TFormCheck::Clear() {
    lvCheck_->clear();
}

int TFormCheck::AddRow(const std::string& aktion, const std::string& ergebnis, const std::string& bemerkung) {
    lvCheck_->addTopLevelItem(new QTreeWidgetItem(QStringList{Text(aktion), Text(ergebnis), Text(bemerkung)}));
    return lvCheck_->topLevelItemCount() - 1;
}

void TFormCheck::SetErgebnis(int row, const std::string& text) {
    if (QTreeWidgetItem* item = lvCheck_->topLevelItem(row)) item->setText(1, Text(text));
}

void TFormCheck::SetBemerkung(int row, const std::string& text) {
    if (QTreeWidgetItem* item = lvCheck_->topLevelItem(row)) item->setText(2, Text(text));
}

void TFormCheck::SelectRow(int row) {
    if (QTreeWidgetItem* item = lvCheck_->topLevelItem(row)) {
        lvCheck_->setCurrentItem(item);
        lvCheck_->scrollToItem(item);
    }
}

void TFormCheck::ShowProgress(int row) {
    if (QTreeWidgetItem* item = lvCheck_->topLevelItem(row)) lvCheck_->scrollToItem(item);
    lvCheck_->viewport()->repaint();
}

TCheckResult RunRegistrationCheck() {
    const std::string rememberedId = FormDatabase->LbId().text().toStdString();
    TCheckResult result;
    std::exception_ptr failure;
    {
        TCardDetached detached;
        try {
            const TCheckLimits limits = TCheckLimits::Read(
                [](std::string_view name, int defaultValue) { return DM->GetIntValueFromSettings(name, defaultValue); });
            const TCompetitionRules rules(DM->TalmirMySQLTools(), DM->ABSQAK(), DM->ABSQDisz(), DM->ABSQCheck());
            TCheckRun run(DM->ABSQMainGrid(), DM->ABSQH2(), DM->TalmirMySQLTools(), rules, limits, *FormCheck);
            FormCheck->Clear();
            FormCheck->show();
            result = run.Run();
        } catch (...) {
            // The protocol keeps what was written; the list comes back before the error is shown.
            failure = std::current_exception();
        }
    }
    FormCheck->raise();
    FormCheck->activateWindow();
    FormDatabase->EmptyCardForm();
    FormDatabase->ShowAndLocateDatabase(rememberedId);
    if (failure) std::rethrow_exception(failure);
    return result;
}

} // namespace kova::app
