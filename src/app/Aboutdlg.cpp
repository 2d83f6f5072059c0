#include "app/Aboutdlg.h"

#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kova::app {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text = {}, bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    resize(373, 234);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    programIcon_ = MakeLabel(panel, "ProgramIcon");
    programIcon_->setFixedSize(40, 40);
    programIcon_->setScaledContents(true);
    productName_ = MakeLabel(panel, "ProductName", {}, true);
    version_ = MakeLabel(panel, "Version");
    copyright_ = MakeLabel(panel, "Copyright");
    comments_ = MakeLabel(panel, "Comments");
    comments_->setWordWrap(true);
    auto* panelLayout = new QGridLayout(panel);
    panelLayout->addWidget(programIcon_, 0, 0, 3, 1, Qt::AlignTop);
    panelLayout->addWidget(productName_, 0, 1);
    panelLayout->addWidget(version_, 1, 1);
    panelLayout->addWidget(copyright_, 2, 1);
    panelLayout->addWidget(comments_, 3, 0, 1, 2);
    panelLayout->setColumnStretch(1, 1);

    auto* people = new QGridLayout;
    people->addWidget(MakeLabel(this, "Label1", QStringLiteral("User:"), true), 0, 0);
    userName_ = MakeLabel(this, "UserName");
    people->addWidget(userName_, 0, 1);
    people->addWidget(MakeLabel(this, "Label2", QStringLiteral("Computer:"), true), 1, 0);
    computerName_ = MakeLabel(this, "ComputerName");
    people->addWidget(computerName_, 1, 1);
    people->setColumnStretch(1, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    QFont okFont = ok->font();
    okFont.setBold(true);
    ok->setFont(okFont);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addLayout(people);
    layout->addStretch(1);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
}

} // namespace kova::app
