// The check window: the protocol of the last registration check, shown beside the list window.
#pragma once

#include "check/CheckRun.h"

#include <QWidget>

class QToolButton;
class QTreeWidget;

namespace kova::app {

class TFormCheck final : public QWidget, public TCheckProtocol {
public:
    explicit TFormCheck(QWidget* parent = nullptr);

    [[nodiscard]] QTreeWidget& LVCheck() const noexcept { return *lvCheck_; }
    // The protocol as shown, row by row.
    [[nodiscard]] std::vector<TCheckRow> Rows() const;

    // TCheckProtocol: the list view is the protocol.
    void Clear() override;
    int AddRow(const std::string& aktion, const std::string& ergebnis, const std::string& bemerkung) override;
    void SetErgebnis(int row, const std::string& text) override;
    void SetBemerkung(int row, const std::string& text) override;
    void SelectRow(int row) override;
    void ShowProgress(int row) override;

private:
    QTreeWidget* lvCheck_;
    QToolButton* sbExit_;
};

extern TFormCheck* FormCheck;

// The whole check of the open registration database, started from the list window's menu and
// before saving for sending: hides the list window while the check walks its list, shows the
// protocol, and afterwards shows the list again on the registration it showed before. Engine
// errors end the run and pass on after the list window is back.
TCheckResult RunRegistrationCheck();

} // namespace kova::app
