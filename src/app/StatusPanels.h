// A status bar divided into panels of fixed width (or one that fills the rest), each a label
// that can be read and set by number. Double clicks on the bar are reported.
#pragma once

#include <QStatusBar>

#include <functional>
#include <vector>

class QLabel;

namespace kova::app {

struct TStatusPanelLayout {
    int width;            // pixels; -1: fills the rest
    Qt::Alignment alignment;
    const char* text;     // initial text (UTF-8)
};

class TStatusPanels final : public QStatusBar {
public:
    // The panels' labels are named "<name>Panel<i>".
    TStatusPanels(const QString& name, const std::vector<TStatusPanelLayout>& panels, QWidget* parent = nullptr);

    [[nodiscard]] int PanelCount() const noexcept { return static_cast<int>(panels_.size()); }
    [[nodiscard]] QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);

    // Called on a double click anywhere on the bar.
    void SetOnDblClick(std::function<void()> handler) { onDblClick_ = std::move(handler); }

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QLabel*> panels_;
    std::function<void()> onDblClick_;
};

} // namespace kova::app
