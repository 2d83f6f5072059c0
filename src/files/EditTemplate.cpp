#include "files/EditTemplate.h"

#include "app/Main.h"
#include "app/MessageDlg.h"
#include "app/Platform.h"
#include "engine/api/ABSMain.h"
#include "files/DatabaseFiles.h"
#include "files/Templates.h"
#include "model/DModule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>
#include <exception>
#include <stdexcept>
#include <system_error>

namespace kova::app {

TFormEditTemplate* FormEditTemplate = nullptr;

namespace {

constexpr int kNameLength = 59;  // Wettkampf.Bezeichnung and Wettkampf.Ort hold 59 characters
constexpr int kMinTextLength = 4;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

std::string Std(const QString& text) { return text.toStdString(); }

// Day fractions count days since 30 December 1899.
QDate DateOfDayFraction(double dayFraction) {
    return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(dayFraction)));
}

double DayFractionOf(const QDateTime& moment) {
    const QDate base(1899, 12, 30);
    const double days = static_cast<double>(base.daysTo(moment.date()));
    return days + moment.time().msecsSinceStartOfDay() / 86'400'000.0;
}

// A time of a stored Zeitraum part: "9:30", "09:30" or with seconds; anything else is an error.
QTime ReadTime(const std::string& text) {
    const QString trimmed = QString::fromStdString(text).trimmed();
    for (const char* format : {"H:mm", "H:mm:ss", "H:m"}) {
        const QTime time = QTime::fromString(trimmed, QString::fromLatin1(format));
        if (time.isValid()) return time;
    }
    throw std::runtime_error("not a time: " + text);
}

// An up-down whose number can only be stepped, not typed: ages and limits are small integers
// and a half-typed number must never reach the checks.
QSpinBox* MakeUpDown(QWidget* parent, const QString& name, int maximum, int value) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, maximum);
    box->setValue(value);
    box->setAlignment(Qt::AlignRight);
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 34);
    if (QLineEdit* field = box->findChild<QLineEdit*>()) field->setReadOnly(true);
    return box;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The window

QString TFormEditTemplate::DefaultName() { return Text("Kreisfinale \"Korvalla\", Kreis:"); }

TFormEditTemplate::TFormEditTemplate(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormEditTemplate"));
    setWindowTitle(Text("Vorlage erstellen ..."));
    setModal(true);
    setAttribute(Qt::WA_AlwaysShowToolTips, true);

    auto* layout = new QVBoxLayout(this);
    pcTemplate_ = new QTabWidget(this);
    pcTemplate_->setObjectName(QStringLiteral("PCTemplate"));
    layout->addWidget(pcTemplate_, 1);
    BuildDefaultsTab();
    BuildLimitsTab();
    BuildAgesTab();

    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("PanelBottom"));
    auto* buttons = new QHBoxLayout(bar);
    buttons->setContentsMargins(0, 0, 0, 0);
    lbError_ = new QLabel(Text("Eingabefehler, bitte überprüfen Sie die Karteireiter!"), bar);
    lbError_->setObjectName(QStringLiteral("LbError"));
    lbError_->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    lbError_->hide();
    bbOk_ = new QPushButton(Text("Fertig"), bar);
    bbOk_->setObjectName(QStringLiteral("BBOk"));
    bbOk_->setEnabled(false);
    bbAbort_ = new QPushButton(Text("Abbrechen"), bar);
    bbAbort_->setObjectName(QStringLiteral("BBAbort"));
    bbAbort_->setAutoDefault(false);
    for (QPushButton* button : {bbOk_, bbAbort_}) button->setMinimumWidth(100);
    buttons->addWidget(lbError_);
    buttons->addStretch(1);  // the buttons keep their size at the right edge
    buttons->addWidget(bbOk_);
    buttons->addWidget(bbAbort_);
    layout->addWidget(bar);

    connect(bbOk_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bbAbort_, &QPushButton::clicked, this, &QDialog::reject);
    connect(pcTemplate_, &QTabWidget::currentChanged, this, [this](int index) {
        if (pcTemplate_->widget(index) == tsAKs_) TSAKsShow();
    });

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });

    resize(620, 470);
}

TFormEditTemplate::~TFormEditTemplate() = default;

void TFormEditTemplate::BuildDefaultsTab() {
    tsDefaults_ = new QWidget(pcTemplate_);
    tsDefaults_->setObjectName(QStringLiteral("TSDefaults"));
    pcTemplate_->addTab(tsDefaults_, Text("Allgemeine Angaben"));
    auto* page = new QVBoxLayout(tsDefaults_);

    auto* note = new QLabel(Text("Bitte alle Karteireiter aufsuchen! \"Fertig\" dann im letzten Karteireiter bestätigen."),
                            tsDefaults_);
    note->setObjectName(QStringLiteral("LbNote"));
    note->setStyleSheet(QStringLiteral("color: gray;"));
    note->setWordWrap(true);
    page->addWidget(note);

    auto* group = new QGroupBox(Text("Wettkampf"), tsDefaults_);
    group->setObjectName(QStringLiteral("GBWettkampf"));
    auto* form = new QFormLayout(group);

    cbWkYear_ = new QComboBox(group);
    cbWkYear_->setObjectName(QStringLiteral("CBWkYear"));
    cbWkYear_->setEditable(false);
    cbWkYear_->setToolTip(Text("Schuljahr, auf das sich die Altersklassen beziehen"));
    cbWkYear_->setMinimumWidth(120);
    cbWkYear_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    form->addRow(Text("AKs bezogen auf Schuljahr:"), cbWkYear_);

    wkDate_ = new QDateEdit(group);
    wkDate_->setObjectName(QStringLiteral("WkDate"));
    wkDate_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    wkDate_->setCalendarPopup(true);
    wkDate_->setMinimumWidth(120);
    wkDate_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    form->addRow(Text("Wettkampftag:"), wkDate_);

    auto* times = new QHBoxLayout;
    wkTimeStart_ = new QTimeEdit(group);
    wkTimeStart_->setObjectName(QStringLiteral("WkTimeStart"));
    wkTimeStart_->setDisplayFormat(QStringLiteral("HH:mm"));
    wkTimeEnd_ = new QTimeEdit(group);
    wkTimeEnd_->setObjectName(QStringLiteral("WkTimeEnd"));
    wkTimeEnd_->setDisplayFormat(QStringLiteral("HH:mm"));
    times->addWidget(wkTimeStart_);
    times->addSpacing(16);
    times->addWidget(new QLabel(Text("Ende ca.:"), group));
    times->addWidget(wkTimeEnd_);
    times->addStretch(1);
    form->addRow(Text("Beginn:"), times);

    edWkName_ = new QLineEdit(group);
    edWkName_->setObjectName(QStringLiteral("EdWkName"));
    edWkName_->setMaxLength(kNameLength);
    edWkName_->setToolTip(Text("Bezeichnung des Wettkampfs, mindestens 4 Zeichen"));
    form->addRow(Text("Bezeichnung des Wettkampfs:"), edWkName_);

    edWkLocation_ = new QLineEdit(group);
    edWkLocation_->setObjectName(QStringLiteral("EdWkLocation"));
    edWkLocation_->setMaxLength(kNameLength);
    edWkLocation_->setToolTip(Text("Wettkampfort, mindestens 4 Zeichen"));
    form->addRow(Text("Wettkampfort:"), edWkLocation_);

    page->addWidget(group);
    page->addStretch(1);
}

void TFormEditTemplate::BuildLimitsTab() {
    tsLimits_ = new QWidget(pcTemplate_);
    tsLimits_->setObjectName(QStringLiteral("TSLimits"));
    pcTemplate_->addTab(tsLimits_, Text("Limits"));
    auto* page = new QVBoxLayout(tsLimits_);

    auto* group = new QGroupBox(Text("Limits (je Schule/Verein/Mannschaft): "), tsLimits_);
    group->setObjectName(QStringLiteral("GBLimits"));
    auto* grid = new QGridLayout(group);
    auto* note = new QLabel(Text("Mit diesem Template meldet eine Schule ihre Teilnehmer und Staffeln. Die Limits legen "
                                 "fest, wie viele Starts je Namen zulässig sind und für eine Mannschaftswertung, wie viele "
                                 "Meldungen insgesamt je AK abgegeben werden können."),
                            group);
    note->setObjectName(QStringLiteral("LbLimitsNote"));
    note->setWordWrap(true);
    grid->addWidget(note, 0, 0, 1, 2);
    int row = 1;
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i, ++row) {
        const TTemplateLimit& limit = kTemplateLimits[i];
        auto* label = new QLabel(Text(limit.label), group);
        label->setWordWrap(true);
        limits_[i] = MakeUpDown(group, QString::fromLatin1(limit.name), limit.maximum, limit.defaultValue);
        limits_[i]->setToolTip(QStringLiteral("0 - %1").arg(limit.maximum));
        label->setBuddy(limits_[i]);
        grid->addWidget(label, row, 0);
        grid->addWidget(limits_[i], row, 1, Qt::AlignRight);
    }
    grid->setColumnStretch(0, 1);
    page->addWidget(group);
    page->addStretch(1);
}

void TFormEditTemplate::BuildAgesTab() {
    tsAKs_ = new QWidget(pcTemplate_);
    tsAKs_->setObjectName(QStringLiteral("TSAKs"));
    pcTemplate_->addTab(tsAKs_, Text("Altersklassen"));
    auto* page = new QVBoxLayout(tsAKs_);

    auto* head = new QHBoxLayout;
    head->addWidget(new QLabel(Text("Alter bezogen auf das spätere Jahr in:"), tsAKs_));
    lbSchoolYear_ = new QLabel(QStringLiteral("20xx/20yy"), tsAKs_);
    lbSchoolYear_->setObjectName(QStringLiteral("LbSchoolYear"));
    lbSchoolYear_->setStyleSheet(QStringLiteral("font-weight: bold;"));
    head->addWidget(lbSchoolYear_);
    head->addStretch(1);
    page->addLayout(head);

    for (std::size_t p = 0; p < kTemplatePairs.size(); ++p) {
        const QString pair = QString::fromLatin1(kTemplatePairs[p]);
        pairBoxes_[p] = new QCheckBox(QStringLiteral("W%1/M%1 ").arg(pair) + Text("zulässig"), tsAKs_);
        pairBoxes_[p]->setObjectName(QStringLiteral("CB") + pair);
        page->addWidget(pairBoxes_[p]);

        auto* panel = new QGroupBox(tsAKs_);
        panel->setObjectName(QStringLiteral("PanelAK") + pair);
        auto* grid = new QGridLayout(panel);
        grid->setContentsMargins(8, 4, 8, 4);
        for (std::size_t c = 2 * p; c < 2 * p + 2; ++c) {
            const TTemplateClass& klasse = kTemplateClasses[c];
            const QString code = QString::fromLatin1(klasse.code);
            const int row = static_cast<int>(c - 2 * p);
            auto* codeLabel = new QLabel(code, panel);
            codeLabel->setStyleSheet(QStringLiteral("font-weight: bold;"));
            grid->addWidget(codeLabel, row, 0);
            grid->addWidget(new QLabel(Text(klasse.rowText), panel), row, 1);
            grid->addWidget(new QLabel(Text("Alter von:"), panel), row, 2);
            low_[c] = MakeUpDown(panel, code + QStringLiteral("AlterLow"), kMaxAge, klasse.defaultLow);
            grid->addWidget(low_[c], row, 3);
            grid->addWidget(new QLabel(Text("Alter bis:"), panel), row, 4);
            high_[c] = MakeUpDown(panel, code + QStringLiteral("AlterHigh"), kMaxAge, klasse.defaultHigh);
            grid->addWidget(high_[c], row, 5);
            grid->addWidget(new QLabel(Text("Jahre"), panel), row, 6);
        }
        grid->setColumnStretch(1, 1);
        grid->setColumnMinimumWidth(0, 36);
        page->addWidget(panel);
    }
    page->addStretch(1);
}

void TFormEditTemplate::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window restored by the window system keeps what the user has typed.
    if (event->spontaneous()) return;
    FormShow();
    timer1_->start();
}

void TFormEditTemplate::hideEvent(QHideEvent* event) {
    timer1_->stop();
    QDialog::hideEvent(event);
}

void TFormEditTemplate::FormShow() {
    wkDate_->setDate(QDate::currentDate());
    wkTimeStart_->setTime(QTime(10, 0));
    wkTimeEnd_->setTime(QTime(16, 0));
    edWkName_->setText(DefaultName());
    edWkLocation_->setText(Text(kDefaultPlace));
    if (DM != nullptr) ReadCompetition(*DM);
    FillSchoolYears();
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) limits_[i]->setValue(kTemplateLimits[i].defaultValue);
    if (DM != nullptr) ReadLimits(*DM);
    for (std::size_t c = 0; c < kTemplateClasses.size(); ++c) {
        low_[c]->setValue(kTemplateClasses[c].defaultLow);
        high_[c]->setValue(kTemplateClasses[c].defaultHigh);
    }
    for (QCheckBox* box : pairBoxes_) box->setChecked(false);
    if (DM != nullptr) {
        ReadClasses(*DM);
        DM->ABSQH1().Close();
    }
    bbOk_->setEnabled(false);
    lbError_->hide();
    pcTemplate_->setCurrentWidget(tsDefaults_);
}

void TFormEditTemplate::ReadCompetition(TDM& dm) {
    try {
        TABSQuery& q = dm.ABSQH1();
        if (!dm.TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, "SELECT * FROM Wettkampf")) return;
        // A day already past would make a template for a competition that is over.
        const double datum = q.FieldByName("Datum").AsDateTime();
        if (datum > DayFractionOf(QDateTime::currentDateTime())) wkDate_->setDate(DateOfDayFraction(datum));
        edWkName_->setText(QString::fromStdString(q.FieldByName("Bezeichnung").AsString()));
        edWkLocation_->setText(QString::fromStdString(q.FieldByName("Ort").AsString()));
        std::string rest = q.FieldByName("Zeitraum").AsString();
        const std::string start = THexBin::SplitFirst("-", false, rest);
        wkTimeStart_->setTime(ReadTime(start));
        wkTimeEnd_->setTime(ReadTime(rest));
    } catch (const std::exception&) {
        // A damaged or incomplete copy keeps what was read up to here.
    }
}

void TFormEditTemplate::FillSchoolYears() {
    const int year = wkDate_->date().year();
    cbWkYear_->clear();
    for (int y = year - 1; y <= year + 6; ++y) cbWkYear_->addItem(QStringLiteral("%1/%2").arg(y).arg(y + 1));
    cbWkYear_->setCurrentIndex(0);
}

void TFormEditTemplate::ReadLimits(TDM& dm) {
    try {
        TABSQuery& q = dm.ABSQH1();
        for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) {
            const std::string select =
                std::string("SELECT * FROM Settings WHERE VarName=\"") + kTemplateLimits[i].name + "\"";
            if (dm.TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, select)) {
                limits_[i]->setValue(q.FieldByName("VarValue").AsInteger());
            }
        }
    } catch (const std::exception&) {
        // A copy without limits keeps the defaults from here on.
    }
}

void TFormEditTemplate::ReadClasses(TDM& dm) {
    try {
        TABSQuery& q = dm.ABSQH1();
        for (std::size_t c = 0; c < kTemplateClasses.size(); ++c) {
            const std::string select =
                std::string("SELECT * FROM Klassen WHERE Kuerzel=\"") + kTemplateClasses[c].code + "\"";
            if (!dm.TalmirMySQLTools().RunSQL(q, TTalmirMySQLTools::kOpen, select)) continue;
            low_[c]->setValue(q.FieldByName("AlterVon").AsInteger());
            high_[c]->setValue(q.FieldByName("AlterBis").AsInteger());
            pairBoxes_[c / 2]->setChecked(true);  // either class of a pair makes the pair allowed
        }
    } catch (const std::exception&) {
        // Classes not read keep their default ages.
    }
}

void TFormEditTemplate::TSAKsShow() {
    const QString year = cbWkYear_->currentText();
    lbSchoolYear_->setText(year.size() < 6 ? QStringLiteral("20xx/20yy") : year);
}

bool TFormEditTemplate::AgesConsistent() const {
    for (std::size_t c = 0; c < kTemplateClasses.size(); ++c) {
        if (high_[c]->value() < low_[c]->value()) return false;
    }
    // The next older class of the same sex is two places on; its bounds must not fall below.
    for (std::size_t c = 0; c + 2 < kTemplateClasses.size(); ++c) {
        if (low_[c + 2]->value() < low_[c]->value()) return false;
        if (high_[c + 2]->value() < high_[c]->value()) return false;
    }
    return true;
}

void TFormEditTemplate::Timer1Timer() {
    if (isVisible()) bbOk_->setEnabled(pcTemplate_->currentWidget() == tsAKs_);
    if (!bbOk_->isEnabled()) {
        lbError_->hide();
        return;
    }
    const bool textsComplete = cbWkYear_->currentText().size() >= kMinTextLength &&
                               edWkName_->text().size() >= kMinTextLength &&
                               edWkLocation_->text().size() >= kMinTextLength;
    if (!AgesConsistent() || !textsComplete) bbOk_->setEnabled(false);
    lbError_->setVisible(!bbOk_->isEnabled());
}

TTemplateValues TFormEditTemplate::Values() const {
    TTemplateValues values;
    values.schoolYear = cbWkYear_->currentText();
    values.day = wkDate_->date();
    values.name = edWkName_->text();
    values.place = edWkLocation_->text();
    values.start = wkTimeStart_->time();
    values.end = wkTimeEnd_->time();
    for (std::size_t i = 0; i < limits_.size(); ++i) values.limits[i] = limits_[i]->value();
    for (std::size_t c = 0; c < low_.size(); ++c) {
        values.low[c] = low_[c]->value();
        values.high[c] = high_[c]->value();
    }
    for (std::size_t p = 0; p < pairBoxes_.size(); ++p) values.pairAllowed[p] = pairBoxes_[p]->isChecked();
    return values;
}

bool TFormEditTemplate::ShowModal() { return exec() == QDialog::Accepted; }

// ---------------------------------------------------------------------------------------------
// Writing

std::string TTemplateWriter::QuotedLiteralText(const QString& text) {
    QString cleaned = text;
    cleaned.remove(QChar(u'\0'));
    cleaned.replace(QChar(u'"'), QStringLiteral("\"\""));
    return Std(cleaned);
}

bool TTemplateWriter::Exists(const std::string& select) const {
    return dm_.TalmirMySQLTools().RunSQL(dm_.ABSQH1(), TTalmirMySQLTools::kOpen, select);
}

void TTemplateWriter::Execute(const std::string& statement) const {
    (void)dm_.TalmirMySQLTools().RunSQL(dm_.ABSQH1(), TTalmirMySQLTools::kExecute, statement);
}

void TTemplateWriter::Write(const TTemplateValues& values) const {
    Execute("CREATE TABLE IF NOT EXISTS Settings (VarName String(45), VarValue Extended, VarString String(255));");
    for (std::size_t i = 0; i < kTemplateLimits.size(); ++i) {
        const std::string name = kTemplateLimits[i].name;
        const std::string value = std::to_string(values.limits[i]);
        if (Exists("SELECT * FROM Settings WHERE VarName=\"" + name + "\"")) {
            Execute("UPDATE Settings SET VarValue=\"" + value + "\" WHERE VarName=\"" + name + "\";");
        } else {
            Execute("INSERT INTO Settings (VarValue, VarName) VALUES(\"" + value + "\",\"" + name + "\");");
        }
    }

    // The later year of the school year: "2010/2011" gives 2011.
    const qsizetype slash = values.schoolYear.indexOf(QChar(u'/'));
    const std::string year = Std(slash < 0 ? QString() : values.schoolYear.mid(slash + 1));
    const std::string day = Std(values.day.toString(QStringLiteral("dd.MM.yyyy")));
    const std::string name = QuotedLiteralText(values.name);
    const std::string place = QuotedLiteralText(values.place);
    const std::string period = Std(values.start.toString(QStringLiteral("HH:mm")) + QChar(u'-') +
                                   values.end.toString(QStringLiteral("HH:mm")));
    if (Exists("SELECT * FROM Wettkampf;")) {
        // Without a condition: a template has one competition row, and every row gets the values.
        Execute("UPDATE Wettkampf SET WkJahr=\"" + year + "\", Datum=\"" + day + "\", Bezeichnung=\"" + name +
                "\", Ort=\"" + place + "\", Zeitraum=\"" + period + "\";");
    } else {
        Execute("INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(\"" + year + "\", \"" + day +
                "\", \"" + name + "\", \"" + place + "\", \"" + period + "\");");
    }

    for (std::size_t c = 0; c < kTemplateClasses.size(); ++c) {
        const std::string code = kTemplateClasses[c].code;
        // A class the copy lacks is not added: its name, sex and disciplines would be missing.
        if (!Exists("SELECT * FROM Klassen WHERE Kuerzel=\"" + code + "\"")) continue;
        Execute("UPDATE Klassen SET AlterVon=\"" + std::to_string(values.low[c]) + "\", AlterBis=\"" +
                std::to_string(values.high[c]) + "\" WHERE Kuerzel=\"" + code + "\";");
    }

    for (std::size_t p = 0; p < kTemplatePairs.size(); ++p) {
        if (values.pairAllowed[p]) continue;
        for (const char* sex : {"W", "M"}) {
            Execute(std::string("DELETE FROM Klassen WHERE Kuerzel=\"") + sex + kTemplatePairs[p] + "\";");
        }
    }
    // Flushed while the statements' connection is still open: closing the last query closes it.
    if (dm_.ABSDB().Connected()) dm_.ABSDB().FlushBuffers();
    dm_.ABSQH1().Close();
}

// ---------------------------------------------------------------------------------------------
// The command

void NewTemplateFromCurrent() {
    if (FormMain == nullptr || DM == nullptr || FormTemplates == nullptr || FormEditTemplate == nullptr) {
        throw std::logic_error("the template editor needs the program's windows and data module");
    }
    const TCloseWorkingDatabase closeAtEnd;
    const QString folder = TemplatesFolder();
    FormMain->FillTemplateCatalogue();
    if (!FormTemplates->ShowModal()) return;
    const QString source = FormTemplates->SelectedTemplatePath();
    if (source.isEmpty()) {
        // OK without a chosen template creates nothing; say why instead of doing nothing.
        const QString text = FormTemplates->LVTemplates().topLevelItemCount() == 0
                                 ? QStringLiteral("Im Vorlagenordner\r\"") + QDir::toNativeSeparators(folder) +
                                       Text("\"\rwurde keine Wettkampfvorlage gefunden.")
                                 : Text("Bitte wählen Sie eine Wettkampfvorlage aus.");
        (void)MessageDlg(text, TMsgDlgType::Information, mbOK);
        return;
    }

    TFileDialog& save = DM->SaveTemplate();
    save.SetInitialDir(folder);
    save.SetTitle(Text("Neues Template erzeugen und speichern als ..."));
    save.SetFilter(Text("Vorlagen (*.wbs)|*.wbs|Alle Dateien (*.*)|*.*"));
    const bool chosen = save.Execute();
    save.SetInitialDir(QString());
    if (!chosen) return;

    TABSDatabase& db = DM->ABSDB();
    if (db.Connected()) db.Close();
    const QString target = ChangeFileExt(save.FileName(), QStringLiteral(".wbs"));
    if (QFileInfo::exists(target)) {
        (void)MessageDlg(Text("Diese Datenbank existiert und kann nicht neu erstellt werden."), TMsgDlgType::Error, mbOK);
        return;
    }
    if (const std::error_code failure = CopyDatabaseFile(source, target)) {
        (void)MessageDlg(Text("Die Vorlage konnte nicht in die Zieldatei kopiert werden:\r\r\"") + target +
                             Text("\"\r\rBitte prüfen Sie, ob der Ordner beschreibbar ist."),
                         TMsgDlgType::Error, mbOK);
        return;
    }
    if (db.Connected()) db.Close();
    db.SetDatabaseFileName(Std(target));

    if (!FormEditTemplate->ShowModal()) {
        // Left without "Fertig": the half-made template must not turn up in the catalogue.
        DM->ABSQH1().Close();
        if (db.Connected()) db.Close();
        (void)QFile::remove(target);
        return;
    }
    TTemplateWriter(*DM).Write(FormEditTemplate->Values());
}

} // namespace kova::app
