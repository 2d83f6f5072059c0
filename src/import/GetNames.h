// The take-over window "Namen aus anderem Wettkampf übernehmen": the user opens an earlier
// registration database in the data module's second session, sees its athletes in the left grid
// and picks them into the checklist on the right. Confirming hands the checked items to the
// list window's import command, which writes them into the working database (ImportNames.h).
//
// Showing the window opens the file dialog at once, with the handler of the variant the import
// command chose: the current scheme (fixed password) or files of 2009 and earlier (no password).
// Hiding it restores the current-scheme handler and the fixed password, so the next use of the
// second session (templates, another import) finds them as always.
#pragma once

#include <QDialog>
#include <QString>

class QPushButton;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace kova::app {

class TFormGetNames final : public QDialog {
public:
    // Columns of LVRight: the caption holds the year of birth; the source file and the ID travel
    // in hidden columns.
    enum TColumn : int { colJahrgang = 0, colFile, colID, colName, colVorname, colAK, kColumnCount };
    // What showing the window opens the file dialog with.
    enum class TOpenHandler { CurrentScheme, Older2009 };

    // The minimum size as designed.
    static constexpr int kMinWidth = 590;
    static constexpr int kMinHeight = 240;
    // How often the button states follow the grid and the checklist.
    static constexpr int kEnableInterval = 200;

    explicit TFormGetNames(QWidget* parent = nullptr);
    ~TFormGetNames() override;

    // ---- Controls (also found by object name) ----
    [[nodiscard]] QToolButton& SBOpenWB() const noexcept { return *sbOpenWB_; }
    [[nodiscard]] QToolButton& SBExit() const noexcept { return *sbExit_; }
    [[nodiscard]] QTableView& DBGLeft() const noexcept { return *dbgLeft_; }
    [[nodiscard]] QSplitter& Splitter() const noexcept { return *splitter_; }
    [[nodiscard]] QToolButton& SBSelectedToRight() const noexcept { return *sbSelectedToRight_; }
    [[nodiscard]] QToolButton& SBAllToRight() const noexcept { return *sbAllToRight_; }
    [[nodiscard]] QToolButton& SBClearRightList() const noexcept { return *sbClearRightList_; }
    [[nodiscard]] QTreeWidget& LVRight() const noexcept { return *lvRight_; }
    [[nodiscard]] QPushButton& BBOk() const noexcept { return *bbOk_; }
    [[nodiscard]] QPushButton& BBAbort() const noexcept { return *bbAbort_; }
    [[nodiscard]] QTimer& TimerEnable() const noexcept { return *timerEnable_; }

    [[nodiscard]] TOpenHandler ShowHandler() const noexcept { return showHandler_; }
    void SetShowHandler(TOpenHandler handler) noexcept { showHandler_ = handler; }

    // Shows the window modally; true when it was closed with OK.
    [[nodiscard]] bool ShowModal();

    // ---- Handlers ----
    // Asks for an earlier database of the current scheme and shows its athletes.
    void SBOpenWBClick();
    // The same for a database of 2009 and earlier, which has no password.
    void SBOpenWB2009Click();
    // Adds the left grid's current row to the checklist (checked, scrolled to and selected);
    // false when its ID is listed already (or there is no current row).
    [[nodiscard]] bool InsertIdToLV();
    void SBSelectedToRightClick();
    void SBAllToRightClick();
    void SBClearRightListClick();
    void TimerEnableTimer();
    void FormHide();
    void SBExitClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OpenSource(TOpenHandler variant);
    // Keeps the grid's current row on the grid query's current row.
    void SyncGridToQuery();

    QToolButton* sbOpenWB_ = nullptr;
    QToolButton* sbExit_ = nullptr;
    QTableView* dbgLeft_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QToolButton* sbSelectedToRight_ = nullptr;
    QToolButton* sbAllToRight_ = nullptr;
    QToolButton* sbClearRightList_ = nullptr;
    QTreeWidget* lvRight_ = nullptr;
    QPushButton* bbOk_ = nullptr;
    QPushButton* bbAbort_ = nullptr;
    QTimer* timerEnable_ = nullptr;
    TOpenHandler showHandler_ = TOpenHandler::CurrentScheme;
    // The file whose athletes the grid shows (what the checklist's File column records).
    QString sourceFile_;
};

// The take-over window of the running program.
extern TFormGetNames* FormGetNames;

} // namespace kova::app
