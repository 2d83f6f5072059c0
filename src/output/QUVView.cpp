#include "output/QUVView.h"

#include "output/HSListBox.h"
#include "output/QUVWriter.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kova::app {

TFormQUV* FormQUV = nullptr;

namespace {

[[nodiscard]] QFont ListFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(8);
    return font;
}

[[nodiscard]] QLabel* MakeRuler(QWidget* parent, const char* name, const QString& text, const QFont& font, int indent) {
    auto* ruler = new QLabel(text, parent);
    ruler->setObjectName(QString::fromLatin1(name));
    ruler->setFont(font);
    ruler->setTextFormat(Qt::PlainText);
    ruler->setFixedHeight(THSListBox::kItemHeight);
    ruler->setContentsMargins(indent, 0, 0, 0);
    QPalette palette = ruler->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    ruler->setPalette(palette);
    // The ruler is longer than the window; it must not make the window wider.
    ruler->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return ruler;
}

} // namespace

TFormQUV::TFormQUV(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormQUV"));
    setWindowTitle(QStringLiteral("QUV- Exportliste"));
    resize(760, 420);
    const QFont font = ListFont();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);

    hslbQUV_ = new THSListBox(this);
    hslbQUV_->setObjectName(QStringLiteral("HSLBQUV"));
    hslbQUV_->setFont(font);

    // The rulers start where the list's characters start: inside its frame, at its indent.
    const int indent = hslbQUV_->frameWidth() + THSListBox::kTextIndent;
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    auto* rulers = new QVBoxLayout(panel);
    rulers->setContentsMargins(0, 0, 0, 0);
    rulers->setSpacing(0);
    label2_ = MakeRuler(panel, "Label2", TensRuler(), font, indent);
    label1_ = MakeRuler(panel, "Label1", UnitsRuler(), font, indent);
    rulers->addWidget(label2_);
    rulers->addWidget(label1_);
    layout->addWidget(panel);
    layout->addWidget(hslbQUV_, 1);

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(0, 6, 0, 2);
    buttons->addStretch(1);
    bbOk_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    bbOk_->setObjectName(QStringLiteral("BBOk"));
    bbOk_->setDefault(true);
    bbAbort_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Abbrechen"), this);
    bbAbort_->setObjectName(QStringLiteral("BBAbort"));
    buttons->addWidget(bbOk_);
    buttons->addWidget(bbAbort_);
    layout->addLayout(buttons);

    connect(bbOk_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bbAbort_, &QPushButton::clicked, this, &QDialog::reject);
}

TFormQUV::~TFormQUV() = default;

QString TFormQUV::TensRuler(int columns) {
    QString ruler;
    ruler.reserve(columns);
    for (int column = 1; column <= columns; ++column) ruler += QChar(u'0' + (column / 10) % 10);
    return ruler;
}

QString TFormQUV::UnitsRuler(int columns) {
    QString ruler;
    ruler.reserve(columns);
    for (int column = 1; column <= columns; ++column) ruler += QChar(u'0' + column % 10);
    return ruler;
}

void TFormQUV::AddLine(std::string bytes) {
    hslbQUV_->addItem(QString::fromStdString(TQUVLine::LineBytesToUtf8(bytes)));
    lines_.push_back(std::move(bytes));
}

void TFormQUV::Clear() {
    hslbQUV_->clear();
    lines_.clear();
}

int TFormQUV::ShowModal() { return exec(); }

} // namespace kova::app
