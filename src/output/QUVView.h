// The preview of the export list: the lines as they will be written, under a two-row column
// ruler, with OK to go on to saving and Abbrechen to stop.
//
// The window keeps the lines as the bytes that go into the file and shows each as text (the DOS
// umlauts as the letters they stand for, one character per byte), so what the user confirms is
// exactly what is written. List and rulers use the system's fixed-pitch font, so each ruler
// character stands above the line characters of its column; the rulers stay put when the list
// scrolls sideways.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace kova::app {

class THSListBox;

class TFormQUV final : public QDialog {
public:
    explicit TFormQUV(QWidget* parent = nullptr);
    ~TFormQUV() override;

    // The rulers number this many columns.
    static constexpr int kRulerColumns = 250;
    // The tens digit of each column number 1..columns ("000000000111…").
    [[nodiscard]] static QString TensRuler(int columns = kRulerColumns);
    // The last digit of each column number ("1234567890" repeated).
    [[nodiscard]] static QString UnitsRuler(int columns = kRulerColumns);

    [[nodiscard]] THSListBox& HSLBQUV() const noexcept { return *hslbQUV_; }
    [[nodiscard]] QLabel& Label1() const noexcept { return *label1_; }
    [[nodiscard]] QLabel& Label2() const noexcept { return *label2_; }

    // Adds a line (the file's bytes) to the end of the list.
    void AddLine(std::string bytes);
    // Empties the list.
    void Clear();
    // The lines as they go into the file, in list order.
    [[nodiscard]] const std::vector<std::string>& Lines() const noexcept { return lines_; }

    // Shows the window modally; QDialog::Accepted when it was closed with OK.
    int ShowModal();

private:
    THSListBox* hslbQUV_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QPushButton* bbOk_ = nullptr;
    QPushButton* bbAbort_ = nullptr;
    std::vector<std::string> lines_;
};

// The export list preview of the running program.
extern TFormQUV* FormQUV;

} // namespace kova::app
