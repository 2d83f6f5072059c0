#include "registrations/DBView.h"

#include "app/StatusPanels.h"
#include "engine/api/ABSQuery.h"
#include "model/DModule.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QStackedLayout>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <exception>

namespace kova::app {

TFormDatabase* FormDatabase = nullptr;

namespace {

QLineEdit* MakeEdit(QWidget* parent, const char* name, int maxLength) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

} // namespace

TFormDatabase::TFormDatabase(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormDatabase"));
    setWindowTitle(QStringLiteral("Ihre Meldungen"));
    setMinimumSize(576, 368);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    psButton_ = new QWidget(this);
    psButton_->setObjectName(QStringLiteral("PSButton"));
    auto* school = new QFormLayout(psButton_);
    edSchool_ = MakeEdit(psButton_, "EdSchool", 55);
    edSchoolAddress_ = MakeEdit(psButton_, "EdSchoolAddress", 80);
    edTelephone_ = MakeEdit(psButton_, "EdTelephone", 20);
    edFAX_ = MakeEdit(psButton_, "EdFAX", 20);
    edEMail_ = MakeEdit(psButton_, "EdEMail", 50);
    school->addRow(QStringLiteral("Schule/Verein:"), edSchool_);
    school->addRow(QStringLiteral("Anschrift:"), edSchoolAddress_);
    school->addRow(QStringLiteral("Telefon:"), edTelephone_);
    school->addRow(QStringLiteral("FAX:"), edFAX_);
    school->addRow(QStringLiteral("E-Mail:"), edEMail_);
    layout->addWidget(psButton_);

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
    dbgMain_ = new QTableView(panelMain_);
    dbgMain_->setObjectName(QStringLiteral("DBGMain"));
    dbgMain_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgMain_->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgMain_->setSelectionMode(QAbstractItemView::SingleSelection);
    mainLayout->addWidget(dbgMain_, 3);

    pcCard_ = new QTabWidget(panelMain_);
    pcCard_->setObjectName(QStringLiteral("PCCard"));
    auto* tsCard = new QWidget(pcCard_);
    tsCard->setObjectName(QStringLiteral("TSCard"));
    auto* card = new QVBoxLayout(tsCard);
    lbId_ = MakeLabel(tsCard, "LbId");
    lbId_->setAlignment(Qt::AlignRight);
    lbId_->setStyleSheet(QStringLiteral("color: grey; font-size: 7pt;"));
    lbName_ = MakeLabel(tsCard, "LbName");
    lbName_->hide();
    lbVorname_ = MakeLabel(tsCard, "LbVorname");
    lbVorname_->hide();
    lbNameVorname_ = MakeLabel(tsCard, "LbNameVorname");
    lbJahrgang_ = MakeLabel(tsCard, "LbJahrgang");
    lbAK_ = MakeLabel(tsCard, "LbAK");
    lbDisz1_ = MakeLabel(tsCard, "LbDisz1");
    lbDisz2_ = MakeLabel(tsCard, "LbDisz2");
    lbDisz3_ = MakeLabel(tsCard, "LbDisz3");
    lbStaffel_ = MakeLabel(tsCard, "LbStaffel");
    lbVerein_ = MakeLabel(tsCard, "LbVerein");
    for (QLabel* label : {lbId_, lbNameVorname_, lbJahrgang_, lbAK_, lbDisz1_, lbDisz2_, lbDisz3_, lbStaffel_, lbVerein_}) {
        card->addWidget(label);
    }
    card->addStretch(1);
    pcCard_->addTab(tsCard, QStringLiteral("Karteikarte"));
    mainLayout->addWidget(pcCard_, 1);

    stack->addWidget(panelMain_);
    stack->addWidget(label1_);
    layout->addWidget(body, 1);

    sBar_ = new TStatusPanels(QStringLiteral("SBar"),
                              {{97, Qt::AlignLeft, ""}, {70, Qt::AlignRight, "Datenbank:"}, {300, Qt::AlignLeft, ""}}, this);
    layout->addWidget(sBar_);
}

void TFormDatabase::AttachDataModule() {
    dbgMain_->setModel(&DM->DSMainGrid());
    // Selecting a row moves the list query there; the data module's after-scroll handler then
    // fills the card.
    connect(dbgMain_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [](const QModelIndex& current) {
        if (DM != nullptr && current.isValid() && DM->DSMainGrid().CurrentRow() != current.row()) {
            (void)DM->DSMainGrid().MoveToRow(current.row());
        }
    });
    DM->SetRegistrationList(this);
}

TFormDatabase::~TFormDatabase() {
    if (DM != nullptr) DM->SetRegistrationList(nullptr);
}

void TFormDatabase::FillSchoolDataToForm() {
    try {
        if (DM->TalmirMySQLTools().RunSQL(DM->ABSQH1(), TTalmirMySQLTools::kOpen, "SELECT * FROM Verein")) {
            TABSQuery& q = DM->ABSQH1();
            edSchool_->setText(QString::fromStdString(q.FieldByName("Schule").AsString()));
            edSchoolAddress_->setText(QString::fromStdString(q.FieldByName("Anschrift").AsString()));
            edTelephone_->setText(QString::fromStdString(q.FieldByName("Telefon").AsString()));
            edFAX_->setText(QString::fromStdString(q.FieldByName("FAX").AsString()));
            edEMail_->setText(QString::fromStdString(q.FieldByName("EMail").AsString()));
        }
    } catch (const std::exception&) {
        // The fields keep what they had reached.
    }
    const bool hasSchool = edSchool_->text().size() >= 2;
    panelMain_->setVisible(hasSchool);
    label1_->setVisible(!hasSchool);
}

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
        const QString name = QString::fromStdString(q.FieldByName("Name").AsString());
        const QString vorname = QString::fromStdString(q.FieldByName("Vorname").AsString());
        lbId_->setText(QString::fromStdString(id));
        lbName_->setText(name);
        lbVorname_->setText(vorname);
        lbNameVorname_->setText(name.isEmpty() ? vorname : name + QStringLiteral(", ") + vorname);
        lbJahrgang_->setText(QString::fromStdString(q.FieldByName("Jahrgang").AsString()));
        const std::string ak = q.FieldByName("AK").AsString();
        const std::string d1 = q.FieldByName("Disziplin1").AsString();
        const std::string d2 = q.FieldByName("Disziplin2").AsString();
        const std::string d3 = q.FieldByName("Disziplin3").AsString();
        const std::string staffel = q.FieldByName("Staffel").AsString();
        lbAK_->setText(QString::fromStdString(GetAK(ak)));
        lbDisz1_->setText(QString::fromStdString(GetDisziplin(d1)));
        lbDisz2_->setText(QString::fromStdString(GetDisziplin(d2)));
        lbDisz3_->setText(QString::fromStdString(GetDisziplin(d3)));
        lbStaffel_->setText(QString::fromStdString(GetDisziplin(staffel)));
        lbVerein_->setText(edSchool_->text());
    } catch (const std::exception&) {
        // The card keeps what it had reached.
    }
}

std::string TFormDatabase::Lookup(const char* table, const char* keyColumn, const char* resultColumn,
                                  const std::string& key) {
    TABSQuery& q = std::string_view(table) == "Klassen" ? DM->ABSQAK() : DM->ABSQDisz();
    const std::string statement =
        std::string("SELECT * FROM ") + table + " WHERE " + keyColumn + "=\"" + key + "\";";
    if (DM->TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, statement)) return q.FieldByName(resultColumn).AsString();
    return key;
}

std::string TFormDatabase::GetAK(const std::string& code) { return Lookup("Klassen", "Kuerzel", "Klasse", code); }

std::string TFormDatabase::GetDisziplin(const std::string& code) {
    return Lookup("Disziplinen", "Kuerzel", "Disziplin", code);
}

void TFormDatabase::ShowModal() { (void)exec(); }

void TFormDatabase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    sortClause_ = "Name, Vorname";
    try {
        ShowAndLocateDatabase(std::string());
    } catch (const std::exception&) {
        // An unreadable list leaves the grid empty; the school fields stay usable.
    }
}

void TFormDatabase::ShowAndLocateDatabase(const std::string& id) {
    TABSQuery& list = DM->ABSQMainGrid();
    const bool found = DM->TalmirMySQLTools().RunSQL(
        list, TTalmirMySQLTools::kOpen,
        "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, v.Schule, n.ID  FROM Namen n, "
        "Verein v WHERE v.ID = n.VereinId ORDER BY " + sortClause_);
    if (found && id.size() >= 2) (void)list.Locate("ID", TDatasetVariant(id));
}

void TFormDatabase::SetRecordCountText(const QString& text) { sBar_->SetPanelText(0, text); }

} // namespace kova::app
