#include "import/GetNames.h"

#include "app/MessageDlg.h"
#include "app/NamedWidgets.h"
#include "engine/api/ABSQuery.h"
#include "model/DModule.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPalette>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <exception>

namespace kova::app {

TFormGetNames* FormGetNames = nullptr;

namespace {

// Only registrations with a real name: a stray one-letter row is no athlete worth taking over.
constexpr const char* kSourceRows =
    "SELECT Jahrgang, Name, Vorname, AK, ID FROM Namen WHERE Length(Name) > 1 ORDER BY Jahrgang, Name, Vorname";

struct TColumnLayout {
    const char* title;
    int width;  // 0: hidden
};

constexpr TColumnLayout kColumns[TFormGetNames::kColumnCount] = {
    {"Jahrgang", 60}, {"File", 0}, {"ID", 0}, {"Name", 90}, {"Vorname", 90}, {"AK", 70},
};
// The year column may be narrowed, but never wider than a year needs.
constexpr int kJahrgangMinWidth = 20;
constexpr int kJahrgangMaxWidth = 60;

// The chosen row stays marked while the focus is elsewhere.
void KeepSelectionVisible(QWidget& view) {
    QPalette palette = view.palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    view.setPalette(palette);
}

[[nodiscard]] QString FromStd(const std::string& text) { return QString::fromStdString(text); }

} // namespace

TFormGetNames::TFormGetNames(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormGetNames"));
    setWindowTitle(QStringLiteral("Namen aus anderem Wettkampf übernehmen"));
    setMinimumSize(kMinWidth, kMinHeight);
    resize(780, 420);
    setSizeGripEnabled(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* top = new QWidget(this);
    top->setObjectName(QStringLiteral("PanelTop"));
    auto* topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(4, 2, 4, 2);
    sbOpenWB_ = MakeButton(top, "SBOpenWB", QStyle::SP_DialogOpenButton, QStringLiteral("Vorhandenen Wettkampf öffnen ..."));
    sbExit_ = MakeButton(top, "SBExit", QStyle::SP_DialogCloseButton, QStringLiteral("Beenden"));
    topRow->addWidget(sbOpenWB_);
    topRow->addStretch(1);
    topRow->addWidget(sbExit_);
    layout->addWidget(top);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("Splitter"));
    splitter_->setChildrenCollapsible(false);

    auto* left = new QWidget(splitter_);
    left->setObjectName(QStringLiteral("PanelLeft"));
    left->setMinimumWidth(100);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(4, 0, 0, 0);
    dbgLeft_ = new QTableView(left);
    dbgLeft_->setObjectName(QStringLiteral("DBGLeft"));
    dbgLeft_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgLeft_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgLeft_->setSelectionMode(QAbstractItemView::SingleSelection);
    dbgLeft_->verticalHeader()->setDefaultSectionSize(dbgLeft_->fontMetrics().height() + 6);
    dbgLeft_->verticalHeader()->hide();
    dbgLeft_->horizontalHeader()->setHighlightSections(false);
    KeepSelectionVisible(*dbgLeft_);
    // A double click takes the athlete over as the arrow button does.
    connect(dbgLeft_, &QAbstractItemView::doubleClicked, this, [this] { RunGuarded([this] { SBSelectedToRightClick(); }); });
    leftLayout->addWidget(dbgLeft_);

    auto* right = new QWidget(splitter_);
    right->setObjectName(QStringLiteral("PanelRight"));
    auto* rightLayout = new QHBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 4, 0);
    rightLayout->setSpacing(2);
    auto* strip = new QWidget(right);
    strip->setObjectName(QStringLiteral("PanelButtons"));
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(2, 0, 2, 0);
    sbSelectedToRight_ = MakeButton(strip, "SBSelectedToRight", QStyle::SP_ArrowRight,
                                    QStringLiteral("Ausgewählten nach rechts übernehmen"));
    sbAllToRight_ = MakeButton(strip, "SBAllToRight", QStyle::SP_MediaSeekForward,
                               QStringLiteral("Alle von links nach rechts übernehmen"));
    sbClearRightList_ = MakeButton(strip, "SBClearRightList", QStyle::SP_TrashIcon, QStringLiteral("Rechts alle löschen"));
    stripLayout->addWidget(sbSelectedToRight_);
    stripLayout->addWidget(sbAllToRight_);
    stripLayout->addStretch(1);
    stripLayout->addWidget(sbClearRightList_);
    rightLayout->addWidget(strip);

    lvRight_ = new QTreeWidget(right);
    lvRight_->setObjectName(QStringLiteral("LVRight"));
    lvRight_->setMinimumWidth(100);
    lvRight_->setColumnCount(kColumnCount);
    QStringList titles;
    for (const TColumnLayout& column : kColumns) titles << QString::fromLatin1(column.title);
    lvRight_->setHeaderLabels(titles);
    lvRight_->header()->setMinimumSectionSize(kJahrgangMinWidth);
    lvRight_->header()->setStretchLastSection(false);
    lvRight_->header()->setSectionsMovable(false);
    for (int i = 0; i < kColumnCount; ++i) {
        if (kColumns[i].width == 0) {
            lvRight_->setColumnHidden(i, true);
        } else {
            lvRight_->header()->resizeSection(i, kColumns[i].width);
        }
    }
    connect(lvRight_->header(), &QHeaderView::sectionResized, this, [this](int section, int, int newSize) {
        if (section == colJahrgang && newSize > kJahrgangMaxWidth) {
            lvRight_->header()->resizeSection(colJahrgang, kJahrgangMaxWidth);
        }
    });
    lvRight_->setRootIsDecorated(false);
    lvRight_->setItemsExpandable(false);
    lvRight_->setUniformRowHeights(true);
    lvRight_->setAllColumnsShowFocus(true);
    lvRight_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvRight_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvRight_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvRight_->setSortingEnabled(false);
    // Grid lines between cells, as a report list has them. A style sheet for the items takes over
    // their painting, so the selected row must name its colours too or its text turns invisible.
    lvRight_->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid palette(midlight); border-bottom: 1px solid palette(midlight); }"
        "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
    KeepSelectionVisible(*lvRight_);
    rightLayout->addWidget(lvRight_, 1);

    splitter_->addWidget(left);
    splitter_->addWidget(right);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 1);
    // The grid has one column more than the checklist shows.
    splitter_->setSizes({410, 370});
    layout->addWidget(splitter_, 1);

    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("PanelBottom"));
    auto* buttons = new QHBoxLayout(bottom);
    buttons->setContentsMargins(4, 4, 4, 4);
    bbOk_ = new QPushButton(QStringLiteral("OK"), bottom);
    bbOk_->setObjectName(QStringLiteral("BBOk"));
    bbOk_->setDefault(true);
    bbOk_->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    bbAbort_ = new QPushButton(QStringLiteral("Abbrechen"), bottom);
    bbAbort_->setObjectName(QStringLiteral("BBAbort"));
    bbAbort_->setAutoDefault(false);
    bbAbort_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    buttons->addStretch(1);
    buttons->addWidget(bbOk_);
    buttons->addWidget(bbAbort_);
    layout->addWidget(bottom);

    timerEnable_ = new QTimer(this);
    timerEnable_->setObjectName(QStringLiteral("TimerEnable"));
    timerEnable_->setInterval(kEnableInterval);
    connect(timerEnable_, &QTimer::timeout, this, [this] { RunGuarded([this] { TimerEnableTimer(); }); });

    connect(sbOpenWB_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBOpenWBClick(); }); });
    connect(sbExit_, &QToolButton::clicked, this, [this] { SBExitClick(); });
    connect(sbSelectedToRight_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBSelectedToRightClick(); }); });
    connect(sbAllToRight_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBAllToRightClick(); }); });
    connect(sbClearRightList_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBClearRightListClick(); }); });
    connect(bbOk_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bbAbort_, &QPushButton::clicked, this, &QDialog::reject);

    for (QWidget* control : {static_cast<QWidget*>(sbSelectedToRight_), static_cast<QWidget*>(sbAllToRight_),
                             static_cast<QWidget*>(sbClearRightList_), static_cast<QWidget*>(bbOk_)}) {
        control->setEnabled(false);
    }
}

TFormGetNames::~TFormGetNames() {
    if (FormGetNames == this) FormGetNames = nullptr;
}

bool TFormGetNames::ShowModal() { return exec() == QDialog::Accepted; }

void TFormGetNames::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The grid shows the second session's grid query; the data module is made after the list
    // window that may own this window, so the model is attached on the first showing.
    if (dbgLeft_->model() == nullptr && DM != nullptr) {
        dbgLeft_->setModel(&DM->DSTGrid());
        connect(dbgLeft_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                [](const QModelIndex& current) {
                    if (DM != nullptr && current.isValid() && DM->DSTGrid().CurrentRow() != current.row()) {
                        RunGuarded([&current] { (void)DM->DSTGrid().MoveToRow(current.row()); });
                    }
                });
    }
    RunGuarded([this] { TimerEnableTimer(); });
    timerEnable_->start();
    // The file dialog opens once the window's own modal loop runs, so it stands above the
    // window instead of before it.
    const TOpenHandler handler = showHandler_;
    QTimer::singleShot(0, this, [this, handler] {
        if (!isVisible()) return;
        RunGuarded([this, handler] {
            if (handler == TOpenHandler::Older2009) {
                SBOpenWB2009Click();
            } else {
                SBOpenWBClick();
            }
        });
    });
}

void TFormGetNames::hideEvent(QHideEvent* event) {
    timerEnable_->stop();
    FormHide();
    QDialog::hideEvent(event);
}

void TFormGetNames::FormHide() {
    if (DM != nullptr) DM->ABSDBTemplate().SetPassword(std::string(kDatabasePassword));
    showHandler_ = TOpenHandler::CurrentScheme;
}

void TFormGetNames::SBExitClick() { reject(); }

// ---- Opening a source database ----

void TFormGetNames::SBOpenWBClick() { OpenSource(TOpenHandler::CurrentScheme); }

void TFormGetNames::SBOpenWB2009Click() { OpenSource(TOpenHandler::Older2009); }

void TFormGetNames::OpenSource(TOpenHandler variant) {
    const bool older = variant == TOpenHandler::Older2009;
    // The open button always reads a file of the current scheme; while an older file is being
    // picked from, it would open the next one with the wrong password, so it is disabled then.
    sbOpenWB_->setEnabled(!older);
    TFileDialog& dialog = DM->Open();
    dialog.SetTitle(older ? QStringLiteral("Existierende Datenbank (2009 und früher) einlesen ...")
                          : QStringLiteral("Existierende Datenbank einlesen ..."));
    dialog.SetFilter(QString::fromUtf8(kDatabaseFilter.data(), static_cast<qsizetype>(kDatabaseFilter.size())));
    if (!dialog.Execute()) return;

    const QString path = dialog.FileName();
    lvRight_->clear();
    sourceFile_ = path;
    try {
        TABSDatabase& source = DM->ABSDBTemplate();
        if (source.Connected()) source.Close();
        source.SetPassword(older ? std::string() : std::string(kDatabasePassword));
        source.SetDatabaseFileName(path.toStdString());
        (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQTGrid(), TTalmirMySQLTools::kOpen, kSourceRows);
    } catch (const std::exception&) {
        (void)MessageDlg(QStringLiteral("Das war keine Kova- Datenbank, oder die\rDatenbank ist geöffnet bzw. hat "
                                        "einen Fehler."),
                         TMsgDlgType::Error, mbOK);
    }
    SyncGridToQuery();
    TimerEnableTimer();
}

void TFormGetNames::SyncGridToQuery() {
    if (dbgLeft_->model() == nullptr || dbgLeft_->selectionModel() == nullptr) return;
    // Every opening rebuilds the grid's columns at the default width; give them the width of
    // what they hold, as the checklist has.
    for (int c = 0; c < dbgLeft_->model()->columnCount(); ++c) {
        const QString title = dbgLeft_->model()->headerData(c, Qt::Horizontal).toString();
        int width = 80;
        for (const TColumnLayout& column : kColumns) {
            if (column.width > 0 && title.compare(QLatin1String(column.title), Qt::CaseInsensitive) == 0) width = column.width;
        }
        dbgLeft_->horizontalHeader()->resizeSection(c, width);
    }
    const int row = DM->DSTGrid().CurrentRow();
    if (row < 0 || row >= dbgLeft_->model()->rowCount()) return;
    const QModelIndex index = dbgLeft_->model()->index(row, 0);
    dbgLeft_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    dbgLeft_->scrollTo(index);
}

// ---- Picking ----

bool TFormGetNames::InsertIdToLV() {
    TABSQuery& source = DM->ABSQTGrid();
    if (!source.Active() || source.RecNo() < 1) return false;
    const QString id = FromStd(source.FieldByName("ID").AsString());
    for (int i = 0; i < lvRight_->topLevelItemCount(); ++i) {
        if (lvRight_->topLevelItem(i)->text(colID) == id) return false;
    }
    QStringList texts;
    texts.reserve(kColumnCount);
    texts << FromStd(source.FieldByName("Jahrgang").AsString()) << sourceFile_ << id
          << FromStd(source.FieldByName("Name").AsString()) << FromStd(source.FieldByName("Vorname").AsString())
          << FromStd(source.FieldByName("AK").AsString());
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(colJahrgang, Qt::Checked);
    lvRight_->addTopLevelItem(item);
    lvRight_->scrollToItem(item);
    lvRight_->setCurrentItem(item);
    item->setSelected(true);
    return true;
}

void TFormGetNames::SBSelectedToRightClick() {
    const TABSQuery& source = DM->ABSQTGrid();
    // Without a current row there is nothing to pick (the button is disabled then anyway).
    if (!source.Active() || source.RecNo() < 1) return;
    if (!InsertIdToLV()) {
        (void)MessageDlg(QStringLiteral("Der Eintrag ist bereits vorhanden."), TMsgDlgType::Information, mbOK);
    }
}

void TFormGetNames::SBAllToRightClick() {
    TABSQuery& source = DM->ABSQTGrid();
    if (!source.Active()) return;
    const int current = DM->DSTGrid().CurrentRow();
    source.First();
    while (!source.Eof()) {
        (void)InsertIdToLV();
        source.Next();
    }
    // Back to the row the grid marks, so the next single pick takes what the user sees.
    if (current >= 0) (void)DM->DSTGrid().MoveToRow(current);
    (void)MessageDlg(QStringLiteral("Neue Einträge nach rechts übernommen."), TMsgDlgType::Information, mbOK);
}

void TFormGetNames::SBClearRightListClick() {
    if (MessageDlg(QStringLiteral("Sollen alle Einträge der rechten\rSeite gelöscht werden?"), TMsgDlgType::Confirmation,
                   mbYes | mbNo) == mbYes) {
        lvRight_->clear();
    }
}

void TFormGetNames::TimerEnableTimer() {
    if (DM == nullptr) return;
    TABSQuery& source = DM->ABSQTGrid();
    if (source.Active()) {
        const bool hasRows = source.RecordCount() > 0;
        sbAllToRight_->setEnabled(hasRows);
        sbSelectedToRight_->setEnabled(hasRows && source.RecNo() > 0);
    } else {
        sbAllToRight_->setEnabled(false);
        sbSelectedToRight_->setEnabled(false);
    }
    const int count = lvRight_->topLevelItemCount();
    sbClearRightList_->setEnabled(count > 0);
    bool anyChecked = false;
    for (int i = 0; i < count && !anyChecked; ++i) {
        anyChecked = lvRight_->topLevelItem(i)->checkState(colJahrgang) == Qt::Checked;
    }
    bbOk_->setEnabled(anyChecked);
}

} // namespace kova::app
