#include "model/QueryTableModel.h"

#include "engine/api/ABSDataSet.h"

#include <exception>
#include <utility>

namespace kova::app {
namespace {

// Silences the after-scroll handler while the model walks the rows.
class TQuietScroll {
public:
    explicit TQuietScroll(TABSDataSet& dataSet)
        : dataSet_(dataSet), saved_(std::exchange(dataSet.Events().AfterScroll, nullptr)) {}
    ~TQuietScroll() { dataSet_.Events().AfterScroll = std::move(saved_); }
    TQuietScroll(const TQuietScroll&) = delete;
    TQuietScroll& operator=(const TQuietScroll&) = delete;

private:
    TABSDataSet& dataSet_;
    TABSDataSetNotifyEvent saved_;
};

// Moves to the 1-based row `recNo` from the first row.
void WalkTo(TABSDataSet& dataSet, std::int64_t recNo) {
    dataSet.First();
    for (std::int64_t i = 1; i < recNo && !dataSet.Eof(); ++i) dataSet.Next();
}

} // namespace

TABSQueryModel::TABSQueryModel(TABSDataSet& dataSet, QObject* parent) : QAbstractTableModel(parent), dataSet_(dataSet) {
    TABSDataSetEvents& events = dataSet_.Events();
    events.AfterOpen = [this, previous = std::move(events.AfterOpen)](TABSDataSet& set) {
        if (previous) previous(set);
        Refresh();
    };
    events.AfterClose = [this, previous = std::move(events.AfterClose)](TABSDataSet& set) {
        if (previous) previous(set);
        Refresh();
    };
    Refresh();
}

TABSQueryModel::~TABSQueryModel() {
    // The handlers refer to this model; the data set lives on.
    dataSet_.Events().AfterOpen = nullptr;
    dataSet_.Events().AfterClose = nullptr;
}

void TABSQueryModel::Refresh() {
    beginResetModel();
    columns_.clear();
    rows_.clear();
    if (dataSet_.Active()) {
        for (std::size_t i = 0; i < dataSet_.FieldCount(); ++i) {
            columns_ << QString::fromStdString(dataSet_.Field(i).FieldName());
        }
        if (!dataSet_.IsEmpty()) {
            TQuietScroll quiet(dataSet_);
            const std::int64_t current = dataSet_.RecNo();
            dataSet_.First();
            while (!dataSet_.Eof()) {
                QStringList row;
                for (std::size_t i = 0; i < dataSet_.FieldCount(); ++i) {
                    try {
                        row << QString::fromStdString(dataSet_.Field(i).AsString());
                    } catch (const std::exception&) {
                        row << QString();  // a value that has no text form shows as empty
                    }
                }
                rows_.push_back(std::move(row));
                const std::int64_t before = dataSet_.RecNo();
                dataSet_.Next();
                if (dataSet_.RecNo() == before) break;  // Next on the last row only sets Eof
            }
            WalkTo(dataSet_, current);
        }
    }
    endResetModel();
}

bool TABSQueryModel::MoveToRow(int row) {
    if (!dataSet_.Active() || row < 0 || row >= static_cast<int>(rows_.size())) return false;
    if (row == 0) {
        dataSet_.First();
        return true;
    }
    {
        TQuietScroll quiet(dataSet_);
        WalkTo(dataSet_, row);  // one before the target
    }
    dataSet_.Next();  // the one move the handler sees
    return true;
}

int TABSQueryModel::CurrentRow() const {
    if (!dataSet_.Active()) return -1;
    return static_cast<int>(dataSet_.RecNo()) - 1;
}

int TABSQueryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TABSQueryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TABSQueryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= rows_.size() || index.column() >= rows_[row].size()) return {};
    return rows_[row][index.column()];
}

QVariant TABSQueryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return (section >= 0 && section < columns_.size()) ? QVariant(columns_[section]) : QVariant();
    return section + 1;
}

Qt::ItemFlags TABSQueryModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace kova::app
