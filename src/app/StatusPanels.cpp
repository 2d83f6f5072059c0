#include "app/StatusPanels.h"

#include <QEvent>
#include <QLabel>

namespace kova::app {

TStatusPanels::TStatusPanels(const QString& name, const std::vector<TStatusPanelLayout>& panels, QWidget* parent)
    : QStatusBar(parent) {
    setObjectName(name);
    setSizeGripEnabled(true);
    for (std::size_t i = 0; i < panels.size(); ++i) {
        const TStatusPanelLayout& panel = panels[i];
        auto* label = new QLabel(QString::fromUtf8(panel.text), this);
        label->setObjectName(name + QStringLiteral("Panel") + QString::number(i));
        label->setAlignment(panel.alignment | Qt::AlignVCenter);
        label->installEventFilter(this);  // double clicks on a panel count as on the bar
        if (panel.width >= 0) {
            label->setFixedWidth(panel.width);
            if (panel.width == 0) label->hide();
            addWidget(label, 0);
        } else {
            addWidget(label, 1);
        }
        panels_.push_back(label);
    }
}

QString TStatusPanels::PanelText(int panel) const {
    return (panel >= 0 && panel < PanelCount()) ? panels_[static_cast<std::size_t>(panel)]->text() : QString();
}

void TStatusPanels::SetPanelText(int panel, const QString& text) {
    if (panel >= 0 && panel < PanelCount()) panels_[static_cast<std::size_t>(panel)]->setText(text);
}

void TStatusPanels::mouseDoubleClickEvent(QMouseEvent* event) {
    QStatusBar::mouseDoubleClickEvent(event);
    if (onDblClick_) onDblClick_();
}

bool TStatusPanels::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick && onDblClick_) {
        onDblClick_();
        return true;
    }
    return QStatusBar::eventFilter(watched, event);
}

} // namespace kova::app
