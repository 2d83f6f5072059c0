#include "registrations/Meldung.h"

#include "app/MessageDlg.h"
#include "app/NamedWidgets.h"
#include "app/Platform.h"
#include "engine/api/ABSQuery.h"
#include "model/CompetitionRules.h"
#include "model/DModule.h"
#include "model/TalmirMySQLTools.h"
#include "model/TalmirTools.h"
#include "registrations/ErorList.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>
#include <optional>
#include <string>

namespace kova::app {

TFormMeldung* FormMeldung = nullptr;

namespace {

constexpr int kValidationIntervalMs = 200;
constexpr int kNameLength = 20;
constexpr int kYearLength = 4;
constexpr int kListRows = 15;
// Where the error list opens, relative to the form's top-left corner: below the name fields,
// so the marks it explains stay in sight.
constexpr QPoint kErrorListOffset{100, 190};
constexpr QSize kErrorListSize{300, 150};

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    if (name != nullptr) label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLabel* MakeMark(QWidget* parent, const char* name) {
    QLabel* mark = MakeLabel(parent, name, QStringLiteral("?"));
    mark->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    mark->setCursor(Qt::PointingHandCursor);
    mark->setToolTip(QStringLiteral("Was ist falsch?"));
    return mark;
}

QComboBox* MakeList(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setEditable(false);  // a drop-down list: no free text
    box->setMaxVisibleItems(kListRows);
    return box;
}

void SetTextColour(QWidget& widget, const QColor& colour, bool bold) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
    if (bold) {
        QFont font = widget.font();
        font.setBold(true);
        widget.setFont(font);
    }
}

// The characters the year field takes: what its key filter lets through, less the control keys.
bool IsYearCharacter(QChar c) { return c == u'-' || (c >= u'0' && c <= u'9'); }

} // namespace

TFormMeldung::TFormMeldung(QWidget* parent) : QDialog(parent), calendarYear_(CurrentCalendarYear) {
    setObjectName(QStringLiteral("FormMeldung"));
    setWindowTitle(QStringLiteral("Meldung erfassen / bearbeiten"));
    setMinimumSize(424, 279);
    BuildControls();
    BuildMenus();

    timerCanSave_ = new QTimer(this);
    timerCanSave_->setObjectName(QStringLiteral("TimerCanSave"));
    timerCanSave_->setInterval(kValidationIntervalMs);
    connect(timerCanSave_, &QTimer::timeout, this, [this] { TimerCanSaveTimer(); });
    timerCanSave_->start();
}

TFormMeldung::~TFormMeldung() = default;

void TFormMeldung::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    outer->addLayout(grid);

    lbId_ = MakeLabel(this, "LbId", QString());
    lbId_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetTextColour(*lbId_, Qt::gray, false);
    lbVereinId_ = MakeLabel(this, "LbVereinId", QStringLiteral("V00000001"));
    lbVereinId_->hide();

    edName_ = MakeEdit(this, "EdName", kNameLength);
    edVorname_ = MakeEdit(this, "EdVorname", kNameLength);
    for (QLineEdit* edit : {edName_, edVorname_}) SetTextColour(*edit, QColor(0x00, 0x00, 0x80), true);
    edJahrgang_ = MakeEdit(this, "EdJahrgang", kYearLength);
    edJahrgang_->setMaximumWidth(60);
    edJahrgang_->installEventFilter(this);
    cbAK_ = MakeList(this, "CBAK");
    cbDisz1_ = MakeList(this, "CBDisz1");
    cbDisz2_ = MakeList(this, "CBDisz2");
    cbDisz3_ = MakeList(this, "CBDisz3");
    cbStaffel_ = MakeList(this, "CBStaffel");
    for (QComboBox* box : {cbDisz1_, cbDisz2_, cbDisz3_}) SetTextColour(*box, QColor(0x00, 0x80, 0x80), true);

    lbXName_ = MakeMark(this, "LbXName");
    lbXVorname_ = MakeMark(this, "LbXVorname");
    lbXJahrgang_ = MakeMark(this, "LbXJahrgang");
    lbXAK_ = MakeMark(this, "LbXAK");
    lbXDisz1_ = MakeMark(this, "LbXDisz1");
    lbXDisz2_ = MakeMark(this, "LbXDisz2");
    lbXDisz3_ = MakeMark(this, "LbXDisz3");
    lbXStaffel_ = MakeMark(this, "LbXStaffel");
    for (QLabel* mark : {lbXName_, lbXVorname_, lbXJahrgang_, lbXAK_, lbXDisz1_, lbXDisz2_, lbXDisz3_, lbXStaffel_}) {
        mark->installEventFilter(this);
    }

    // Left: who starts; right: in what. Each input has its mark in the column beside it.
    grid->addWidget(lbId_, 0, 0, 1, 6);
    const auto addLeft = [&](int row, const char* labelName, const QString& text, QWidget* input, QLabel* mark) {
        QLabel* label = MakeLabel(this, labelName, text);
        label->setBuddy(input);
        grid->addWidget(label, row, 0);
        grid->addWidget(input, row, 1);
        grid->addWidget(mark, row, 2);
    };
    addLeft(1, "Label1", QStringLiteral("Name:"), edName_, lbXName_);
    addLeft(2, "Label2", QStringLiteral("Vorname:"), edVorname_, lbXVorname_);
    addLeft(3, "Label3", QStringLiteral("Geb.-Jahr:"), edJahrgang_, lbXJahrgang_);
    addLeft(4, "Label4", QStringLiteral("Altersklasse:"), cbAK_, lbXAK_);

    grid->addWidget(MakeLabel(this, "Label5", QStringLiteral("startet in den Disziplinen")), 1, 4, 1, 2);
    grid->addWidget(cbDisz1_, 2, 4);
    grid->addWidget(lbXDisz1_, 2, 5);
    grid->addWidget(cbDisz2_, 3, 4);
    grid->addWidget(lbXDisz2_, 3, 5);
    grid->addWidget(cbDisz3_, 4, 4);
    grid->addWidget(lbXDisz3_, 4, 5);
    grid->addWidget(MakeLabel(this, "Label6", QStringLiteral("und in der Staffel:")), 5, 4, 1, 2);
    grid->addWidget(cbStaffel_, 6, 4);
    grid->addWidget(lbXStaffel_, 6, 5);
    grid->setColumnMinimumWidth(3, 12);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);

    QLabel* note = MakeLabel(this, "Label7",
                             QStringLiteral("Die namentliche Meldung der Staffel inkl. der Reihenfolge der Läufer geben "
                                            "Sie bitte am Wettkampftag vor Wettkampfbeginn im Wettkampfbüro ab."));
    note->setWordWrap(true);
    SetTextColour(*note, QColor(0x00, 0x80, 0x00), false);
    outer->addWidget(note);
    outer->addStretch(1);

    auto* buttons = new QHBoxLayout();
    sbError_ = new QToolButton(this);
    sbError_->setObjectName(QStringLiteral("SBError"));
    sbError_->setText(QStringLiteral("?"));
    sbError_->setToolTip(QStringLiteral("Was ist falsch?"));
    sbError_->setAutoRaise(true);
    SetTextColour(*sbError_, Qt::red, true);
    connect(sbError_, &QToolButton::clicked, this, [this] { SBErrorClick(); });
    buttons->addWidget(sbError_);
    buttons->addStretch(1);
    bbOk_ = new QPushButton(QStringLiteral("OK"), this);
    bbOk_->setObjectName(QStringLiteral("BBOk"));
    bbOk_->setDefault(true);
    connect(bbOk_, &QPushButton::clicked, this, [this] { BBOkClick(); });
    bbAbort_ = new QPushButton(QStringLiteral("Abbrechen"), this);
    bbAbort_->setObjectName(QStringLiteral("BBAbort"));
    bbAbort_->setAutoDefault(false);
    connect(bbAbort_, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(bbOk_);
    buttons->addWidget(bbAbort_);
    outer->addLayout(buttons);

    setTabOrder(edName_, edVorname_);
    setTabOrder(edVorname_, edJahrgang_);
    setTabOrder(edJahrgang_, cbAK_);
    setTabOrder(cbAK_, cbDisz1_);
    setTabOrder(cbDisz1_, cbDisz2_);
    setTabOrder(cbDisz2_, cbDisz3_);
    setTabOrder(cbDisz3_, cbStaffel_);
    setTabOrder(cbStaffel_, bbOk_);
    setTabOrder(bbOk_, bbAbort_);

    // Every change of an input re-validates at once; the timer catches changes of the database.
    for (QLineEdit* edit : {edName_, edVorname_, edJahrgang_}) {
        connect(edit, &QLineEdit::textChanged, this, [this] { TimerCanSaveTimer(); });
    }
    // A list changes the inputs only when the user picks an entry; selections the form makes
    // itself (filling, showing) wait for the timer, so showing starts with every mark visible.
    for (QComboBox* box : {cbAK_, cbDisz1_, cbDisz2_, cbDisz3_, cbStaffel_}) {
        connect(box, &QComboBox::activated, this, [this] { TimerCanSaveTimer(); });
    }
    // Pasted or dropped text bypasses the key filter; what the filter would have refused goes too,
    // so the year that is written unquoted never carries letters or operators other than "-".
    connect(edJahrgang_, &QLineEdit::textEdited, this, [this](const QString& text) {
        QString kept;
        for (const QChar c : text) {
            if (IsYearCharacter(c)) kept.append(c);
        }
        if (kept != text) edJahrgang_->setText(kept);
    });
}

void TFormMeldung::BuildMenus() {
    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* hilfe = menuBar->addMenu(QStringLiteral("Hilfe"));
    hilfe->setObjectName(QStringLiteral("Hilfe1"));
    QAction* hilfe2 = hilfe->addAction(QStringLiteral("Hilfe"));
    hilfe2->setObjectName(QStringLiteral("Hilfe2"));
    hilfe2->setShortcut(QKeySequence(Qt::Key_F1));
    hilfe2->setShortcutContext(Qt::WindowShortcut);
    addAction(hilfe2);  // F1 also while the menu bar is not focused
    connect(hilfe2, &QAction::triggered, this, [this] { RunGuarded([this] { Hilfe2Click(); }); });
    layout()->setMenuBar(menuBar);

    pmDoOk_ = new QMenu(this);
    pmDoOk_->setObjectName(QStringLiteral("PMDoOk"));
    QAction* heading = pmDoOk_->addAction(QStringLiteral("Eingabefehler"));
    heading->setObjectName(QStringLiteral("Eingabefehler1"));
    heading->setEnabled(false);
    pmDoOk_->addSeparator()->setObjectName(QStringLiteral("N1"));
    QAction* confirm = pmDoOk_->addAction(QStringLiteral("Eingaben trotzdem übernehmen"));
    confirm->setObjectName(QStringLiteral("Eingabentrotzdembernehmen1"));
    connect(confirm, &QAction::triggered, this, [this] { Eingabentrotzdembernehmen1Click(); });
    bbAbort_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bbAbort_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmDoOk_->popup(bbAbort_->mapToGlobal(at)); });
}

TFormErrors& TFormMeldung::ErrorList() {
    if (FormErrors != nullptr) return *FormErrors;
    if (!ownErrors_) ownErrors_ = std::make_unique<TFormErrors>(this);
    return *ownErrors_;
}

void TFormMeldung::SetCalendarYear(YearSource source) { calendarYear_ = std::move(source); }

TFormMeldung::TInputs TFormMeldung::Inputs() const {
    return TInputs{edName_->text(),    edVorname_->text(), edJahrgang_->text(), cbAK_->currentText(),
                   cbDisz1_->currentText(), cbDisz2_->currentText(), cbDisz3_->currentText(),
                   cbStaffel_->currentText()};
}

int TFormMeldung::ShowModal() { return exec(); }

void TFormMeldung::FillFromCard(const TCard& card) {
    lbId_->setText(card.id);
    edName_->setText(card.name);
    edVorname_->setText(card.firstName);
    edJahrgang_->setText(card.year);

    const TTalmirMySQLTools& tools = DM->TalmirMySQLTools();
    TABSQuery& q = DM->ABSQAK();
    {
        const QSignalBlocker blockClasses(cbAK_);
        const int remembered = cbAK_->currentIndex();
        cbAK_->clear();
        if (tools.RunSQL(q, TTalmirMySQLTools::kOpen, "SELECT * FROM Klassen ORDER BY SEX, AlterBis;")) {
            for (; !q.Eof(); q.Next()) cbAK_->addItem(FromUtf8(q.FieldByName("Klasse").AsString()));
        }
        // Adding to an empty list selects its first item; the list keeps the index it had instead,
        // so a new registration starts with the class of the previous one.
        cbAK_->setCurrentIndex(remembered < cbAK_->count() ? remembered : -1);
    }

    QComboBox* const disciplineLists[] = {cbDisz1_, cbDisz2_, cbDisz3_};
    const QSignalBlocker block1(cbDisz1_);
    const QSignalBlocker block2(cbDisz2_);
    const QSignalBlocker block3(cbDisz3_);
    const QSignalBlocker blockRelay(cbStaffel_);
    for (QComboBox* box : disciplineLists) box->clear();
    cbStaffel_->clear();
    if (tools.RunSQL(q, TTalmirMySQLTools::kOpen, "SELECT * FROM Disziplinen ORDER BY Sort;")) {
        for (; !q.Eof(); q.Next()) {
            const QString name = FromUtf8(q.FieldByName("Disziplin").AsString());
            const std::string ems = q.FieldByName("EMS").AsString();
            const char use = ems.empty() ? '\0' : ems.front();
            if (use == '-' || use == 'E') {
                for (QComboBox* box : disciplineLists) box->addItem(name);
            }
            if (use == '-' || use == 'S') cbStaffel_->addItem(name);
        }
    }
    for (QComboBox* box : {cbDisz1_, cbDisz2_, cbDisz3_, cbStaffel_}) {
        if (box->count() > 0) box->setCurrentIndex(0);
    }

    if (!card.name.isEmpty()) {
        TTalmirMySQLTools::SelectComboItem(*cbAK_, card.className);
        TTalmirMySQLTools::SelectComboItem(*cbDisz1_, card.discipline1);
        TTalmirMySQLTools::SelectComboItem(*cbDisz2_, card.discipline2);
        TTalmirMySQLTools::SelectComboItem(*cbDisz3_, card.discipline3);
        TTalmirMySQLTools::SelectComboItem(*cbStaffel_, card.relay);
    }
}

void TFormMeldung::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFormMeldung::FormShow() {
    edName_->setFocus();
    for (QLabel* mark : {lbXName_, lbXVorname_, lbXJahrgang_, lbXAK_, lbXDisz1_, lbXDisz2_, lbXDisz3_, lbXStaffel_}) {
        mark->show();
    }
    for (QComboBox* box : {cbDisz1_, cbDisz2_, cbDisz3_, cbStaffel_}) {
        if (box->currentIndex() < 0 && box->count() > 0) box->setCurrentIndex(0);
    }
}

void TFormMeldung::TimerCanSaveTimer() {
    if (!isVisible() || ErrorList().isVisible()) return;
    (void)Validate();
}

void TFormMeldung::Fail(QLabel& mark, const QString& message) {
    mark.show();
    faults_.push_back(message);
    ErrorList().LBErrors().addItem(message);
}

void TFormMeldung::Pass(QLabel& mark) { mark.hide(); }

bool TFormMeldung::Validate() {
    faults_.clear();
    ErrorList().SetLines({});

    std::optional<TCompetitionRules> rules;
    if (DM != nullptr) {
        rules.emplace(DM->TalmirMySQLTools(), DM->ABSQAK(), DM->ABSQDisz(), DM->ABSQCheck(), calendarYear_);
    }
    // A rule the database cannot answer fails like one it denies: the form must not offer OK
    // for inputs nobody could check, and a message box five times a second would help no one.
    const auto ask = [&rules](const auto& test) {
        if (!rules) return false;
        try {
            return static_cast<bool>(test(*rules));
        } catch (const std::exception&) {
            return false;
        }
    };

    bool passed = true;
    const auto check = [&](bool ok, QLabel& mark, const QString& message) {
        if (ok) {
            Pass(mark);
        } else {
            Fail(mark, message);
            passed = false;
        }
    };
    // A name must reach the file as typed: a character the file cannot hold would be refused
    // when written, so it is a fault of its own.
    const auto checkName = [&](const QString& text, QLabel& mark, const QString& field) {
        if (text.isEmpty()) {
            check(false, mark, field + QStringLiteral(": Zu wenig Zeichen."));
        } else if (const std::optional<std::string> bad = FirstUnstorableCharacter(Utf8(text))) {
            check(false, mark,
                  field + QStringLiteral(": Das Zeichen „") + FromUtf8(*bad) +
                      QStringLiteral("“ kann nicht gespeichert werden."));
        } else {
            check(true, mark, QString());
        }
    };

    checkName(edName_->text(), *lbXName_, QStringLiteral("Name"));
    checkName(edVorname_->text(), *lbXVorname_, QStringLiteral("Vorname"));

    // The year goes unquoted into the statement that stores it, so four characters are not
    // enough: they must also form a whole number ("12-4" would be stored as a difference).
    const std::string year = Utf8(edJahrgang_->text());
    check(edJahrgang_->text().size() >= kYearLength && ParseWholeNumber(year).has_value(), *lbXJahrgang_,
          QStringLiteral("Jahrgang: Zu wenig Zeichen oder Angabe falsch (4-stellig!)."));

    const std::string className = Utf8(cbAK_->currentText());
    if (cbAK_->currentIndex() < 0) {
        check(false, *lbXAK_, QStringLiteral("Altersklasse: nicht gewählt."));
    } else {
        check(ask([&](const TCompetitionRules& r) { return r.IsAKAllowedForYear(className, year); }), *lbXAK_,
              QStringLiteral("Altersklasse: passt nicht zum Jahrgang."));
    }

    const std::string d1 = Utf8(cbDisz1_->currentText());
    const std::string d2 = Utf8(cbDisz2_->currentText());
    const std::string d3 = Utf8(cbDisz3_->currentText());
    const std::string relay = Utf8(cbStaffel_->currentText());
    const auto checkDiscipline = [&](const std::string& tested, const std::string& o1, const std::string& o2,
                                     const std::string& o3, QLabel& mark, const QString& prefix) {
        if (!ask([&](const TCompetitionRules& r) { return r.IsDiszAllowedForClass(className, tested); })) {
            check(false, mark, prefix + QStringLiteral(": in gewählter AK nicht erlaubt."));
        } else {
            check(IsDiszMultiple(tested, o1, o2, o3), mark, prefix + QStringLiteral(": Disziplin mehrfach verwendet."));
        }
    };
    checkDiscipline(d1, d2, d3, relay, *lbXDisz1_, QStringLiteral("Disziplin 1"));
    checkDiscipline(d2, d1, d3, relay, *lbXDisz2_, QStringLiteral("Disziplin 2"));
    checkDiscipline(d3, d1, d2, relay, *lbXDisz3_, QStringLiteral("Disziplin 3"));
    checkDiscipline(relay, d1, d2, d3, *lbXStaffel_, QStringLiteral("Staffel"));

    sbError_->hide();
    bbOk_->setEnabled(passed);
    return passed;
}

void TFormMeldung::BBOkClick() {
    // The last run may be up to one timer interval old; what is accepted is what passes now.
    if (Validate()) accept();
}

void TFormMeldung::EdJahrgangExit() {
    try {
        const int calendarYear = calendarYear_();
        const std::int64_t year = FoldYearOfBirth(Utf8(edJahrgang_->text()), calendarYear);
        edJahrgang_->setText(QString::number(year));
    } catch (const std::exception&) {
        // Leaving the field never stops the user; the validation marks what is wrong.
    }
}

void TFormMeldung::SBErrorClick() {
    TFormErrors& errors = ErrorList();
    errors.move(pos() + kErrorListOffset);
    errors.resize(kErrorListSize);
    (void)errors.ShowModal();
}

QString TFormMeldung::UnwritableReason() const {
    const QString yearText = edJahrgang_->text();
    if (!ParseWholeNumber(Utf8(yearText))) {
        if (yearText.isEmpty()) {
            return QStringLiteral("Der Geburtsjahrgang fehlt.\rOhne Jahrgang kann die Meldung nicht gespeichert "
                                  "werden.");
        }
        return QStringLiteral("Der Geburtsjahrgang „") + yearText +
               QStringLiteral("“ ist keine ganze Zahl.\rBitte geben Sie das Geburtsjahr vierstellig ein.");
    }
    const auto unstorable = [](const QString& text, const QString& field) -> QString {
        if (const std::optional<std::string> bad = FirstUnstorableCharacter(Utf8(text))) {
            return field + QStringLiteral(" enthält das Zeichen „") + FromUtf8(*bad) +
                   QStringLiteral("“, das nicht gespeichert werden kann.");
        }
        return QString();
    };
    if (QString reason = unstorable(edName_->text(), QStringLiteral("Der Name")); !reason.isEmpty()) return reason;
    return unstorable(edVorname_->text(), QStringLiteral("Der Vorname"));
}

void TFormMeldung::Eingabentrotzdembernehmen1Click() {
    // The user may store inputs the rules refuse, but not inputs the store itself would refuse
    // or misread: the year goes unquoted into the statement, names must fit the file's
    // character set. Those keep the form open with the reason.
    if (const QString reason = UnwritableReason(); !reason.isEmpty()) {
        (void)MessageDlg(reason, TMsgDlgType::Error, mbOK);
        return;
    }
    done(QDialog::Accepted);
}

void TFormMeldung::Hilfe2Click() {
    const QString help = HelpFileName();
    if (QFileInfo(help).isFile()) {
        (void)QDesktopServices::openUrl(QUrl::fromLocalFile(help));
        return;
    }
    SystemErrorBox(QStringLiteral("Keine Hilfe"),
                   QStringLiteral("Hilfedatei \r\"") + help + QStringLiteral("\"\r nicht verfügbar."));
}

bool TFormMeldung::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edJahrgang_) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            // Only typed characters are filtered; editing keys (Delete, arrows, Ctrl+...) and
            // the dialog's Enter and Escape keep their meaning.
            if (!text.isEmpty() && text.front().isPrint()) {
                QChar c = text.front();
                TTalmirTools::FilterYearKey(c);
                if (c.isNull()) return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Leaving means moving to another control of the form; a popup menu or another
            // window taking the focus for a moment does not rewrite the year.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) EdJahrgangExit();
        }
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        for (QLabel* mark : {lbXName_, lbXVorname_, lbXJahrgang_, lbXAK_, lbXDisz1_, lbXDisz2_, lbXDisz3_, lbXStaffel_}) {
            if (watched == mark) {
                SBErrorClick();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kova::app
