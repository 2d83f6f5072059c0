// A list box that keeps its horizontal scroll range equal to its widest line.
//
// A line's width is its text's pixel width in the list's font plus the font's average character
// width, so the last character is never hidden under the edge. The widest width seen is kept and
// follows every added, inserted and removed line and clearing; the horizontal scroll bar lets the
// user scroll exactly that far. Lines are drawn at a fixed indent of the viewport, so a ruler
// above the list can line its columns up with the characters (see TextIndent).
#pragma once

#include <QListWidget>

namespace kova::app {

class THSListBox final : public QListWidget {
public:
    explicit THSListBox(QWidget* parent = nullptr);
    // The model goes with the base class and resets on its way; nothing may react by then.
    ~THSListBox() override;

    // The height of every line in pixels.
    static constexpr int kItemHeight = 14;
    // Where a line's first character begins, from the viewport's left edge.
    static constexpr int kTextIndent = 2;

    // The kept width: the greatest line width (0 for an empty list).
    [[nodiscard]] int HorizontalExtent() const noexcept { return extent_; }
    // The width a line of this text takes in the list's font.
    [[nodiscard]] int LineWidth(const QString& text) const;

protected:
    void updateGeometries() override;

private:
    void RowsInserted(int first, int last);
    void RowsAboutToBeRemoved(int first, int last);
    void Cleared();
    void SetExtent(int extent);

    int extent_ = 0;
};

} // namespace kova::app
