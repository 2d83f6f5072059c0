// A read-only table model over an open query: what the data grids of the windows show.
//
// The model takes a snapshot of the query's rows (as text, the way the fields read them) each
// time the query opens, and empties itself when the query closes. Selecting a row of the grid
// moves the query to that row (MoveToRow), which runs the query's after-scroll handler exactly
// once, so a card that follows the current row follows the grid. Walking the rows for the
// snapshot keeps the after-scroll handler quiet.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <vector>

namespace kova {
class TABSDataSet;
}

namespace kova::app {

class TABSQueryModel final : public QAbstractTableModel {
public:
    // Hooks into the open and close events of `dataSet` (chaining the handlers it had); the
    // data set must outlive the model.
    explicit TABSQueryModel(TABSDataSet& dataSet, QObject* parent = nullptr);
    ~TABSQueryModel() override;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Takes the snapshot anew from the open query (or empties the model when it is closed); the
    // query ends on the row it was on.
    void Refresh();
    // Makes `row` (0-based) the query's current row; false when the query is closed or has no
    // such row.
    bool MoveToRow(int row);
    // The 0-based row the query stands on; -1 when closed or empty.
    [[nodiscard]] int CurrentRow() const;

private:
    TABSDataSet& dataSet_;
    QStringList columns_;
    std::vector<QStringList> rows_;
};

} // namespace kova::app
