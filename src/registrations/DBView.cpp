#include "registrations/DBView.h"

#include "app/Main.h"
#include "app/MessageDlg.h"
#include "app/NamedWidgets.h"
#include "app/Platform.h"
#include "app/StatusPanels.h"
#include "check/CheckMeldungen.h"
#include "engine/api/ABSQuery.h"
#include "model/DModule.h"
#include "output/QReports.h"
#include "registrations/Meldung.h"

#include <QAction>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStackedLayout>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <array>
#include <exception>
#include <utility>

namespace kova::app {

TFormDatabase* FormDatabase = nullptr;

namespace {

constexpr const char* kVereinId = "V00000001";

QLabel* MakeLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

[[nodiscard]] QString FromStd(const std::string& text) { return QString::fromStdString(text); }
[[nodiscard]] std::string ToStd(const QString& text) { return text.toStdString(); }

// The name and first name as the card shows them in one line.
[[nodiscard]] QString NameLine(const QString& name, const QString& firstName) {
    return name.isEmpty() ? firstName : name + QStringLiteral(", ") + firstName;
}

// User text as it may stand between double quotes in a statement.
[[nodiscard]] std::string Cleaned(const QString& text) {
    return THexBin::TrimBlanks(TTalmirMySQLTools::SanitizeQuotes(ToStd(text)));
}

// The year of birth goes unquoted into the statement, so only a whole number may go there: an
// empty or other text would either break the statement or, worse, become part of it.
[[nodiscard]] std::optional<std::string> WholeNumber(const QString& text) {
    const std::string trimmed = THexBin::TrimBlanks(ToStd(text));
    const bool negative = !trimmed.empty() && trimmed.front() == '-';
    const std::string_view digits = std::string_view(trimmed).substr(negative ? 1 : 0);
    // Nine digits at most keep the value inside the column's 32-bit range.
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return trimmed;
}

// A label that is clicked like the button beside it.
struct TClickTarget {
    QLabel* label;
    void (TFormDatabase::*handler)();
};

} // namespace

TFormDatabase::TFormDatabase(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormDatabase"));
    setWindowTitle(QStringLiteral("Ihre Meldungen"));
    setMinimumSize(576, 368);
    resize(760, 480);
    setSizeGripEnabled(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildMenu();
    layout->setMenuBar(menuBar_);
    layout->addWidget(BuildSchoolPanel());

    // The hint and the registration panel share one place: the hint shows while the panel is
    // hidden.
    auto* body = new QWidget(this);
    auto* stack = new QStackedLayout(body);
    stack->setStackingMode(QStackedLayout::StackAll);
    label1_ = new QLabel(QStringLiteral("Bitte tragen Sie zuerst die Angaben zu  Ihrer Schule oben ein."), body);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setStyleSheet(QStringLiteral("color: green; font-weight: bold;"));
    label1_->setAlignment(Qt::AlignCenter);

    panelMain_ = new QWidget(body);
    panelMain_->setObjectName(QStringLiteral("PanelMain"));
    auto* mainLayout = new QHBoxLayout(panelMain_);
    mainLayout->setContentsMargins(4, 4, 4, 4);
    dbgMain_ = new QTableView(panelMain_);
    dbgMain_->setObjectName(QStringLiteral("DBGMain"));
    dbgMain_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgMain_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgMain_->setSelectionMode(QAbstractItemView::SingleSelection);
    dbgMain_->setTabKeyNavigation(false);
    dbgMain_->verticalHeader()->setDefaultSectionSize(dbgMain_->fontMetrics().height() + 6);
    dbgMain_->verticalHeader()->hide();
    dbgMain_->horizontalHeader()->setSectionsClickable(true);
    dbgMain_->horizontalHeader()->setHighlightSections(false);
    dbgMain_->installEventFilter(this);
    connect(dbgMain_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (dbgMain_->model() == nullptr) return;
        const QString title = dbgMain_->model()->headerData(section, Qt::Horizontal).toString();
        RunGuarded([this, &title] { DBGMainTitleClick(title); });
    });
    connect(dbgMain_, &QAbstractItemView::doubleClicked, this, [this] { RunGuarded([this] { SBNameEditClick(); }); });
    mainLayout->addWidget(dbgMain_, 1);
    mainLayout->addWidget(BuildButtonColumn(panelMain_), 0);
    mainLayout->addWidget(BuildCard(panelMain_), 0);

    stack->addWidget(panelMain_);
    stack->addWidget(label1_);
    layout->addWidget(body, 1);

    sBar_ = new TStatusPanels(QStringLiteral("SBar"),
                              {{97, Qt::AlignLeft, ""}, {70, Qt::AlignRight, "Datenbank:"}, {300, Qt::AlignLeft, ""}}, this);
    layout->addWidget(sBar_);

    SetCommandsEnabled(false);
    SetSchoolPanelHeight(kSchoolPanelExpanded);
}

void TFormDatabase::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    menuBar_->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* datei = menuBar_->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("Datei1"));

    meldungImportieren_ = datei->addMenu(QStringLiteral("Meldung importieren"));
    meldungImportieren_->setObjectName(QStringLiteral("Meldungimportieren1"));
    meldungImportieren_->menuAction()->setObjectName(QStringLiteral("Meldungimportieren1Item"));
    // Opening the submenu makes room for the school data, as entering the school name does.
    connect(meldungImportieren_, &QMenu::aboutToShow, this, [this] { EdSchoolEnter(); });
    // Both import commands show the take-over window; they differ in the file format they open.
    connect(MakeAction(meldungImportieren_, "Meldungenimportieren1", QStringLiteral("Meldungen importieren")),
            &QAction::triggered, this, [this] { RunGuarded([this] { MeldungimportierenClick(); }); });
    connect(MakeAction(meldungImportieren_, "ltereMeldungen20091", QStringLiteral("ältere Meldungen (2009)")),
            &QAction::triggered, this, [this] { RunGuarded([this] { ltereMeldungen20091Click(); }); });
    meldungImportieren_->menuAction()->setEnabled(false);

    QMenu* drucken = datei->addMenu(QStringLiteral("Drucken"));
    drucken->setObjectName(QStringLiteral("Drucken1"));
    QAction* print = MakeAction(drucken, "Meldungenausdrucken1", QStringLiteral("Meldungen ausdrucken ..."));
    connect(print, &QAction::triggered, this, [this] { RunGuarded([this] { Meldungenausdrucken1Click(); }); });

    QMenu* exportieren = datei->addMenu(QStringLiteral("Exportieren"));
    exportieren->setObjectName(QStringLiteral("Exportieren1"));
    QAction* quv = MakeAction(exportieren, "nachQUV1", QStringLiteral("nach QUV"));
    connect(quv, &QAction::triggered, this, [this] { RunGuarded([this] { nachQUV1Click(); }); });

    QMenu* pruefen = menuBar_->addMenu(QStringLiteral("&Prüfen"));
    pruefen->setObjectName(QStringLiteral("Prfen1"));
    QAction* check = MakeAction(pruefen, "Meldungenprfen1", QStringLiteral("Meldungen prüfen"));
    connect(check, &QAction::triggered, this, [this] { RunGuarded([this] { Meldungenprfen1Click(); }); });

    QMenu* hilfe = menuBar_->addMenu(QStringLiteral("&Hilfe"));
    hilfe->setObjectName(QStringLiteral("Hilfe1"));
    QAction* hilfe2 = MakeAction(hilfe, "Hilfe2", QStringLiteral("&Hilfe"));
    hilfe2->setShortcut(QKeySequence(Qt::Key_F1));
    hilfe2->setShortcutContext(Qt::WindowShortcut);
    addAction(hilfe2);  // F1 works without opening the menu
    connect(hilfe2, &QAction::triggered, this, [this] { RunGuarded([this] { Hilfe2Click(); }); });
}

QWidget* TFormDatabase::BuildSchoolPanel() {
    psButton_ = new QWidget(this);
    psButton_->setObjectName(QStringLiteral("PSButton"));
    // The fields keep the expanded panel's height and the panel clips them: collapsed, only the
    // school's name row shows, instead of all five rows squeezed into one.
    schoolContent_ = new QWidget(psButton_);
    schoolContent_->setObjectName(QStringLiteral("PSButtonContent"));
    psButton_->installEventFilter(this);
    auto* row = new QHBoxLayout(schoolContent_);
    row->setContentsMargins(6, 4, 6, 4);

    auto* fields = new QFormLayout();
    schoolFields_ = fields;
    fields->setVerticalSpacing(2);
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    edSchool_ = MakeEdit(schoolContent_, "EdSchool", 55);
    edSchoolAddress_ = MakeEdit(schoolContent_, "EdSchoolAddress", 80);
    edTelephone_ = MakeEdit(schoolContent_, "EdTelephone", 20);
    edFAX_ = MakeEdit(schoolContent_, "EdFAX", 20);
    edEMail_ = MakeEdit(schoolContent_, "EdEMail", 50);
    fields->addRow(QStringLiteral("Schule/Verein:"), edSchool_);
    fields->addRow(QStringLiteral("Anschrift:"), edSchoolAddress_);
    fields->addRow(QStringLiteral("Telefon:"), edTelephone_);
    fields->addRow(QStringLiteral("FAX:"), edFAX_);
    fields->addRow(QStringLiteral("E-Mail:"), edEMail_);
    edSchool_->installEventFilter(this);
    row->addLayout(fields, 1);

    auto* buttons = new QVBoxLayout();
    buttons->setSpacing(2);
    sbTakeSchool_ = MakeButton(schoolContent_, "SBTakeSchool", QStyle::SP_DialogApplyButton,
                               QStringLiteral("Namen der Schule speichern"));
    sbTakeSchool_->setText(QStringLiteral("Übernehmen"));
    sbTakeSchool_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sbTakeSchool_->setIconSize(QSize(16, 16));
    connect(sbTakeSchool_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBTakeSchoolClick(); }); });
    sbExit_ = MakeButton(schoolContent_, "SBExit", QStyle::SP_DialogCloseButton, QStringLiteral("Beenden"));
    sbExit_->setIconSize(QSize(16, 16));
    connect(sbExit_, &QToolButton::clicked, this, [this] { SBExitClick(); });
    auto* top = new QHBoxLayout();
    top->addWidget(sbTakeSchool_);
    top->addWidget(sbExit_);
    buttons->addLayout(top);
    buttons->addStretch(1);
    row->addLayout(buttons, 0);
    return psButton_;
}

QWidget* TFormDatabase::BuildButtonColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setObjectName(QStringLiteral("PanelButtons"));
    auto* grid = new QGridLayout(column);
    grid->setContentsMargins(2, 0, 2, 0);
    sbNameNew_ = MakeButton(column, "SBNameNew", QStyle::SP_FileIcon, QStringLiteral("(n) Neuen Eintrag erzeugen"));
    sbNameCopyEdit_ = MakeButton(column, "SBNameCopyEdit", QStyle::SP_FileDialogContentsView,
                                 QStringLiteral("(k) Eintrag als neuen kopieren und bearbeiten"));
    sbNameEdit_ = MakeButton(column, "SBNameEdit", QStyle::SP_FileDialogDetailedView,
                             QStringLiteral("(e) Eintrag bearbeiten"));
    sbErase_ = MakeButton(column, "SBErase", QStyle::SP_TrashIcon, QStringLiteral("(l) Eintrag löschen"));
    lbNameNew_ = MakeLabel(column, "LbNameNew");
    lbNameNew_->setText(QStringLiteral("Neu"));
    lbNameCopyEdit_ = MakeLabel(column, "LbNameCopyEdit");
    lbNameCopyEdit_->setText(QStringLiteral("Kopieren & Bearbeiten"));
    lbNameEdit_ = MakeLabel(column, "LbNameEdit");
    lbNameEdit_->setText(QStringLiteral("Bearbeiten"));
    lbErase_ = MakeLabel(column, "LbErase");
    lbErase_->setText(QStringLiteral("Löschen"));

    const std::array<std::pair<QToolButton*, QLabel*>, 4> rows{{{sbNameNew_, lbNameNew_},
                                                                 {sbNameCopyEdit_, lbNameCopyEdit_},
                                                                 {sbNameEdit_, lbNameEdit_},
                                                                 {sbErase_, lbErase_}}};
    int r = 0;
    for (const auto& [button, label] : rows) {
        label->setToolTip(button->toolTip());
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        grid->addWidget(button, r, 0);
        grid->addWidget(label, r, 1);
        ++r;
    }
    grid->setRowStretch(r, 1);
    connect(sbNameNew_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBNameNewClick(); }); });
    connect(sbNameCopyEdit_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBNameCopyEditClick(); }); });
    connect(sbNameEdit_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBNameEditClick(); }); });
    connect(sbErase_, &QToolButton::clicked, this, [this] { RunGuarded([this] { SBEraseClick(); }); });
    return column;
}

QWidget* TFormDatabase::BuildCard(QWidget* parent) {
    pcCard_ = new QTabWidget(parent);
    pcCard_->setObjectName(QStringLiteral("PCCard"));
    pcCard_->setMinimumWidth(190);
    auto* tsCard = new QWidget(pcCard_);
    tsCard->setObjectName(QStringLiteral("TSCard"));
    auto* card = new QVBoxLayout(tsCard);
    card->setSpacing(3);
    lbId_ = MakeLabel(tsCard, "LbId");
    lbId_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lbId_->setStyleSheet(QStringLiteral("color: grey; font-size: 7pt;"));
    lbId_->installEventFilter(this);
    lbName_ = MakeLabel(tsCard, "LbName");
    lbName_->hide();
    lbVorname_ = MakeLabel(tsCard, "LbVorname");
    lbVorname_->hide();
    lbNameVorname_ = MakeLabel(tsCard, "LbNameVorname");
    lbNameVorname_->setStyleSheet(QStringLiteral("font-weight: bold;"));
    lbJahrgang_ = MakeLabel(tsCard, "LbJahrgang");
    lbAK_ = MakeLabel(tsCard, "LbAK");
    lbDisz1_ = MakeLabel(tsCard, "LbDisz1");
    lbDisz2_ = MakeLabel(tsCard, "LbDisz2");
    lbDisz3_ = MakeLabel(tsCard, "LbDisz3");
    lbStaffel_ = MakeLabel(tsCard, "LbStaffel");
    lbVerein_ = MakeLabel(tsCard, "LbVerein");
    lbVerein_->setWordWrap(true);
    card->addWidget(lbId_);
    card->addWidget(lbNameVorname_);
    auto* values = new QFormLayout();
    values->setVerticalSpacing(3);
    values->addRow(QStringLiteral("Jahrgang:"), lbJahrgang_);
    values->addRow(QStringLiteral("Klasse:"), lbAK_);
    values->addRow(QStringLiteral("Disziplin 1:"), lbDisz1_);
    values->addRow(QStringLiteral("Disziplin 2:"), lbDisz2_);
    values->addRow(QStringLiteral("Disziplin 3:"), lbDisz3_);
    values->addRow(QStringLiteral("Staffel:"), lbStaffel_);
    values->addRow(QStringLiteral("Schule:"), lbVerein_);
    card->addLayout(values);
    card->addStretch(1);
    pcCard_->addTab(tsCard, QStringLiteral("Karteikarte"));
    return pcCard_;
}

void TFormDatabase::AttachDataModule() {
    dbgMain_->setModel(&DM->DSMainGrid());
    // Selecting a row moves the list query there; the data module's after-scroll handler then
    // fills the card.
    connect(dbgMain_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [](const QModelIndex& current) {
        if (DM != nullptr && current.isValid() && DM->DSMainGrid().CurrentRow() != current.row()) {
            RunGuarded([&current] { (void)DM->DSMainGrid().MoveToRow(current.row()); });
        }
    });
    DM->SetRegistrationList(this);
}

TFormDatabase::~TFormDatabase() {
    if (DM != nullptr) DM->SetRegistrationList(nullptr);
}

// ---- School data ----

void TFormDatabase::FillSchoolDataToForm() {
    try {
        if (DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kOpen, "SELECT * FROM Verein")) {
            TABSQuery& q = DM->ABSQH1();
            edSchool_->setText(FromStd(q.FieldByName("Schule").AsString()));
            edSchoolAddress_->setText(FromStd(q.FieldByName("Anschrift").AsString()));
            edTelephone_->setText(FromStd(q.FieldByName("Telefon").AsString()));
            edFAX_->setText(FromStd(q.FieldByName("FAX").AsString()));
            edEMail_->setText(FromStd(q.FieldByName("EMail").AsString()));
        }
    } catch (const std::exception&) {
        // The fields keep what they had reached.
    }
    const bool hasSchool = edSchool_->text().size() >= 2;
    panelMain_->setVisible(hasSchool);
    label1_->setVisible(!hasSchool);
    meldungImportieren_->menuAction()->setEnabled(hasSchool);
}

std::string TFormDatabase::SchoolUpdateStatement() const {
    return "UPDATE Verein SET \rSchule=\"" + Cleaned(edSchool_->text()) + "\",Anschrift=\"" +
           Cleaned(edSchoolAddress_->text()) + "\",Telefon=\"" + Cleaned(edTelephone_->text()) + "\",FAX=\"" +
           Cleaned(edFAX_->text()) + "\",EMail=\"" + Cleaned(edEMail_->text()) + "\" WHERE ID=\"" + kVereinId + "\";";
}

void TFormDatabase::SBTakeSchoolClick() {
    const std::string statement = SchoolUpdateStatement();
    try {
        (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, statement);
    } catch (const std::exception&) {
        // The fields are reloaded below, so a failed save shows the stored values again.
    }
    try {
        DM->ABSDB().FlushBuffers();
    } catch (const std::exception&) {
        // Nothing to tell: the next flush tries again.
    }
    FillSchoolDataToForm();
    ArrangeForSchool();
}

void TFormDatabase::EdSchoolEnter() { SetSchoolPanelHeight(kSchoolPanelExpanded); }

void TFormDatabase::SetSchoolPanelHeight(int height) { psButton_->setFixedHeight(height); }

bool TFormDatabase::RegistrationPanelShown() const { return !panelMain_->isHidden(); }

void TFormDatabase::ArrangeForSchool() {
    if (RegistrationPanelShown()) {
        dbgMain_->setFocus();
        SetSchoolPanelHeight(kSchoolPanelCollapsed);
    } else {
        edSchool_->setFocus();
        SetSchoolPanelHeight(kSchoolPanelExpanded);
    }
}

// ---- The list and the card ----

void TFormDatabase::ShowModal() { (void)exec(); }

void TFormDatabase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RunGuarded([this] { FormShow(); });
}

void TFormDatabase::FormShow() {
    EmptyCardForm();
    sortClause_ = kDefaultSortClause;
    try {
        ShowAndLocateDatabase(std::string());
    } catch (const std::exception&) {
        // An unreadable list leaves the grid empty; the school fields stay usable.
        SetCommandsEnabled(false);
    }
    ArrangeForSchool();
}

void TFormDatabase::ShowAndLocateDatabase(const std::string& id) {
    TABSQuery& list = DM->ABSQMainGrid();
    const bool found = DM->TalmirMySQLTools().RunSQL(
        list, TTalmirMySQLTools::kOpen,
        "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, v.Schule, n.ID  FROM Namen n, "
        "Verein v WHERE v.ID = n.VereinId ORDER BY " + sortClause_);
    if (found && id.size() >= 2) (void)list.Locate("ID", TDatasetVariant(id));
    if (!found) SetRecordCountText(QStringLiteral("0 Einträge"));
    SyncGridToQuery();
    SetCommandsEnabled(lbId_->text().size() >= 2);
}

void TFormDatabase::SyncGridToQuery() {
    if (dbgMain_->model() == nullptr || dbgMain_->selectionModel() == nullptr) return;
    const int row = DM->DSMainGrid().CurrentRow();
    if (row < 0 || row >= dbgMain_->model()->rowCount()) return;
    const QModelIndex index = dbgMain_->model()->index(row, 0);
    // The query already stands there, so the grid's change handler moves nothing.
    dbgMain_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    dbgMain_->scrollTo(index);
}

void TFormDatabase::SetCommandsEnabled(bool enabled) {
    for (QWidget* control : {static_cast<QWidget*>(sbNameCopyEdit_), static_cast<QWidget*>(sbNameEdit_),
                             static_cast<QWidget*>(sbErase_), static_cast<QWidget*>(lbNameCopyEdit_),
                             static_cast<QWidget*>(lbNameEdit_), static_cast<QWidget*>(lbErase_)}) {
        control->setEnabled(enabled);
    }
}

void TFormDatabase::SetRecordCountText(const QString& text) { sBar_->SetPanelText(0, text); }

void TFormDatabase::EmptyCardForm() {
    for (QLabel* label : {lbId_, lbName_, lbVorname_, lbNameVorname_, lbJahrgang_, lbAK_, lbDisz1_, lbDisz2_, lbDisz3_,
                          lbStaffel_, lbVerein_}) {
        label->clear();
    }
}

void TFormDatabase::FillCardForm(const std::string& id) {
    EmptyCardForm();
    try {
        TABSQuery& q = DM->ABSQCard();
        if (!DM->TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, "SELECT * FROM Namen WHERE ID=\"" + id + "\";")) {
            return;
        }
        const QString name = FromStd(q.FieldByName("Name").AsString());
        const QString vorname = FromStd(q.FieldByName("Vorname").AsString());
        lbId_->setText(FromStd(id));
        lbName_->setText(name);
        lbVorname_->setText(vorname);
        lbNameVorname_->setText(NameLine(name, vorname));
        lbJahrgang_->setText(FromStd(q.FieldByName("Jahrgang").AsString()));
        // The lookups reuse other queries; read every code before the first one runs.
        const std::string ak = q.FieldByName("AK").AsString();
        const std::string d1 = q.FieldByName("Disziplin1").AsString();
        const std::string d2 = q.FieldByName("Disziplin2").AsString();
        const std::string d3 = q.FieldByName("Disziplin3").AsString();
        const std::string staffel = q.FieldByName("Staffel").AsString();
        lbAK_->setText(FromStd(GetAK(ak)));
        lbDisz1_->setText(FromStd(GetDisziplin(d1)));
        lbDisz2_->setText(FromStd(GetDisziplin(d2)));
        lbDisz3_->setText(FromStd(GetDisziplin(d3)));
        lbStaffel_->setText(FromStd(GetDisziplin(staffel)));
        lbVerein_->setText(edSchool_->text());
    } catch (const std::exception&) {
        // The card keeps what it had reached.
    }
}

std::string TFormDatabase::Lookup(bool classes, const char* keyColumn, const char* resultColumn, const std::string& key) {
    // A key that cannot stand between double quotes matches no stored value; it passes through
    // instead of breaking (or changing) the statement.
    if (key.find_first_of(std::string_view("\"\\\0", 3)) != std::string::npos) return key;
    TABSQuery& q = classes ? DM->ABSQAK() : DM->ABSQDisz();
    const std::string statement = std::string("SELECT * FROM ") + (classes ? "Klassen" : "Disziplinen") + " WHERE " +
                                  keyColumn + "=\"" + key + "\";";
    if (DM->TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, statement)) return q.FieldByName(resultColumn).AsString();
    return key;
}

std::string TFormDatabase::GetAK(const std::string& code) { return Lookup(true, "Kuerzel", "Klasse", code); }

std::string TFormDatabase::GetAKKuerzel(const std::string& name) { return Lookup(true, "Klasse", "Kuerzel", name); }

std::string TFormDatabase::GetDisziplin(const std::string& code) { return Lookup(false, "Kuerzel", "Disziplin", code); }

std::string TFormDatabase::GetDisziplinKuerzel(const std::string& name) {
    return Lookup(false, "Disziplin", "Kuerzel", name);
}

// ---- Editing ----

std::string TFormDatabase::NewRegistrationRow() {
    return DM->TalmirMySQLTools().InsertNewRecord(DM->ABSQH1(), "Namen", "N", "", "");
}

void TFormDatabase::DeleteRegistration(const std::string& id) {
    (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute,
                                        "DELETE FROM Namen WHERE ID=\"" + id + "\";");
    DM->ABSDB().FlushBuffers();
}

bool TFormDatabase::WriteBack(const std::string& id) {
    const TFormMeldung::TInputs inputs = FormMeldung->Inputs();
    const std::optional<std::string> year = WholeNumber(inputs.year);
    if (!year) {
        (void)MessageDlg(QStringLiteral("Der Jahrgang \"") + inputs.year +
                             QStringLiteral("\" ist keine ganze Zahl.\rDie Meldung wurde nicht gespeichert."),
                         TMsgDlgType::Error, mbOK);
        return false;
    }
    // Codes never hold a double quote; cleaning them keeps a name that no lookup knew from
    // reaching the statement unquoted.
    const auto code = [](std::string text) { return TTalmirMySQLTools::SanitizeQuotes(text); };
    const std::string statement =
        "UPDATE Namen SET Name=\"" + Cleaned(inputs.name) + "\",Vorname=\"" + Cleaned(inputs.firstName) +
        "\",Jahrgang=" + *year + ",AK=\"" + code(GetAKKuerzel(ToStd(inputs.className))) + "\",Disziplin1=\"" +
        code(GetDisziplinKuerzel(ToStd(inputs.discipline1))) + "\",Disziplin2=\"" +
        code(GetDisziplinKuerzel(ToStd(inputs.discipline2))) + "\",Disziplin3=\"" +
        code(GetDisziplinKuerzel(ToStd(inputs.discipline3))) + "\",Staffel=\"" +
        code(GetDisziplinKuerzel(ToStd(inputs.relay))) + "\",VereinID=\"" + kVereinId + "\" WHERE ID=\"" + id + "\";";
    (void)DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kExecute, statement);
    DM->ABSDB().FlushBuffers();
    return true;
}

void TFormDatabase::EditRegistration(const std::string& id, bool fresh) {
    FillMeldeformFromCard();
    bool stored = false;
    try {
        stored = FormMeldung->ShowModal() == QDialog::Accepted && WriteBack(id);
    } catch (...) {
        // A row made for this form and never completed would stay behind as an empty
        // registration; remove it before the error is shown.
        if (fresh) {
            try {
                DeleteRegistration(id);
            } catch (const std::exception&) {
            }
            EmptyCardForm();
            try {
                ShowAndLocateDatabase(std::string());
            } catch (const std::exception&) {
            }
        }
        throw;
    }
    if (!stored && fresh) {
        DeleteRegistration(id);
        EmptyCardForm();
        ShowAndLocateDatabase(std::string());
        return;
    }
    EmptyCardForm();
    ShowAndLocateDatabase(id);
}

void TFormDatabase::SBNameNewClick() {
    if (FormMeldung == nullptr) return;
    const std::string id = NewRegistrationRow();
    EmptyCardForm();
    lbId_->setText(FromStd(id));
    EditRegistration(id, true);
}

void TFormDatabase::SBNameEditClick() {
    if (FormMeldung == nullptr) return;
    const std::string id = ToStd(lbId_->text());
    // Without a registration on the card there is nothing to edit.
    if (id.size() < 2) return;
    EditRegistration(id, false);
}

void TFormDatabase::SBNameCopyEditClick() {
    if (FormMeldung == nullptr) return;
    if (lbId_->text().size() < 2) return;
    const QString name = lbName_->text();
    const QString vorname = lbVorname_->text();
    const QString jahrgang = lbJahrgang_->text();
    const QString ak = lbAK_->text();
    const QString disz1 = lbDisz1_->text();
    const QString disz2 = lbDisz2_->text();
    const QString disz3 = lbDisz3_->text();
    const QString staffel = lbStaffel_->text();

    const std::string id = NewRegistrationRow();
    EmptyCardForm();
    lbId_->setText(FromStd(id));
    lbName_->setText(QStringLiteral("Kopie: ") + name);
    lbVorname_->setText(vorname);
    lbNameVorname_->setText(NameLine(lbName_->text(), vorname));
    lbJahrgang_->setText(jahrgang);
    lbAK_->setText(ak);
    lbDisz1_->setText(disz1);
    lbDisz2_->setText(disz2);
    lbDisz3_->setText(disz3);
    lbStaffel_->setText(staffel);
    lbVerein_->setText(edSchool_->text());
    EditRegistration(id, true);
}

void TFormDatabase::SBEraseClick() {
    const QString id = lbId_->text();
    if (id.size() < 2) return;
    const QString text = QStringLiteral("Soll der Eintrag ") + id + QStringLiteral(" mit den Daten\r\r") +
                         lbNameVorname_->text() + QChar(u'\r') + lbJahrgang_->text() + QChar(u'\r') + lbAK_->text() +
                         QStringLiteral("\r\rgelöscht werden?");
    if (MessageDlg(text, TMsgDlgType::Confirmation, mbYes | mbNo) != mbYes) return;
    DeleteRegistration(ToStd(id));
    EmptyCardForm();
    ShowAndLocateDatabase(std::string());
}

std::optional<std::string_view> TFormDatabase::SortClauseForTitle(const QString& title) {
    struct TTitleOrder {
        const char* title;
        std::string_view clause;
    };
    static constexpr TTitleOrder kOrders[] = {
        {"ID", "ID"},
        {"Name", "Name, Vorname"},
        {"Vorname", "Vorname, Name"},
        {"Jahrgang", "Jahrgang, Name, Vorname"},
        {"AK", "AK, Name, Vorname"},
        {"Disziplin1", "Disziplin1, AK, Name, Vorname"},
        {"Disziplin2", "Disziplin2, AK, Name, Vorname"},
        {"Disziplin3", "Disziplin3, AK, Name, Vorname"},
        {"Staffel", "Staffel, AK, Name, Vorname"},
    };
    for (const TTitleOrder& order : kOrders) {
        if (title == QLatin1String(order.title)) return order.clause;
    }
    return std::nullopt;
}

void TFormDatabase::DBGMainTitleClick(const QString& title) {
    if (const auto clause = SortClauseForTitle(title)) sortClause_ = std::string(*clause);
    ShowAndLocateDatabase(ToStd(lbId_->text()));
}

bool TFormDatabase::DBGMainKeyPress(QChar key) {
    switch (key.unicode()) {
    case u'\b':
    case u'l': SBEraseClick(); return true;
    case u'\r':
    case u'b':
    case u'e': SBNameEditClick(); return true;
    case u'k': SBNameCopyEditClick(); return true;
    case u'n': SBNameNewClick(); return true;
    default: return false;
    }
}

bool TFormDatabase::DBGMainKeyUp(int key) {
    if (key != Qt::Key_Delete) return false;
    SBEraseClick();
    return true;
}

void TFormDatabase::LbIdMouseEnter() {
    lbId_->setToolTip(QStringLiteral("angelegt am ") + FromStd(TGenSerials::SerialToDateTime(ToStd(lbId_->text()), 1)));
}

void TFormDatabase::Meldungenausdrucken1Click() { FormQReport->Preview(); }

void TFormDatabase::nachQUV1Click() { FormMain->ExportToQUVClick(); }

void TFormDatabase::Meldungenprfen1Click() { (void)RunRegistrationCheck(); }

void TFormDatabase::Hilfe2Click() {
    if (FormMain != nullptr) {
        FormMain->Hilfe2Click();  // one help file and one viewer for the whole program
        return;
    }
    SystemErrorBox(QStringLiteral("Keine Hilfe"),
                   QStringLiteral("Hilfedatei \r\"") + HelpFileName() + QStringLiteral("\"\r nicht verfügbar."));
}

void TFormDatabase::SBExitClick() { close(); }

bool TFormDatabase::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == psButton_ && type == QEvent::Resize) {
        schoolContent_->setGeometry(0, 0, psButton_->width(), kSchoolPanelExpanded);
        // Collapsed, the rows below the name would show only as a sliver.
        const bool expanded = psButton_->height() >= kSchoolPanelExpanded;
        for (int row = 1; row < schoolFields_->rowCount(); ++row) schoolFields_->setRowVisible(row, expanded);
    } else if (watched == edSchool_ && type == QEvent::FocusIn) {
        EdSchoolEnter();
    } else if (watched == lbId_ && type == QEvent::Enter) {
        LbIdMouseEnter();
    } else if (watched == dbgMain_ && type == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() == 1 && (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == 0) {
            bool handled = false;
            RunGuarded([&] { handled = DBGMainKeyPress(text.at(0)); });
            // Other printable characters do nothing (no jump to a matching row either).
            if (handled || text.at(0).isPrint()) return true;
        }
    } else if (watched == dbgMain_ && type == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat()) {
            bool handled = false;
            RunGuarded([&] { handled = DBGMainKeyUp(key->key()); });
            if (handled) return true;
        }
    } else if (type == QEvent::MouseButtonRelease) {
        const std::array<TClickTarget, 4> targets{{{lbNameNew_, &TFormDatabase::SBNameNewClick},
                                                   {lbNameCopyEdit_, &TFormDatabase::SBNameCopyEditClick},
                                                   {lbNameEdit_, &TFormDatabase::SBNameEditClick},
                                                   {lbErase_, &TFormDatabase::SBEraseClick}}};
        for (const TClickTarget& target : targets) {
            if (watched == target.label && target.label->isEnabled()) {
                RunGuarded([this, &target] { (this->*target.handler)(); });
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kova::app
