// The file list of the results page: the files of one node of a CResultsModel (a category or a
// type row), one row each, in found order or sorted by a column. It keeps only the row order; the
// records are read from the results' store as rows are drawn, and the tick boxes are the results
// model's, so a list of a million files holds four bytes per row.
#pragma once

#include <QAbstractTableModel>
#include <QPersistentModelIndex>
#include <cstdint>
#include <vector>

namespace keltra {

class CResultsModel;

class CFileListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column : int {
        kCheckColumn = 0,
        kNameColumn,
        kSizeColumn,
        kModifiedColumn,
        kCreatedColumn,
        kPathColumn,
        kTypeColumn,
        kColumnCount
    };
    // The header's control names, for the language files.
    static const char* const kColumnNames[kColumnCount];

    explicit CFileListModel(QObject* parent = nullptr);

    // Lists the files of `node` of `results` (no results: an empty list).
    void Show(CResultsModel* results, const QModelIndex& node);
    // Lists these files of `results` (a folder's), in this order.
    void ShowFiles(CResultsModel* results, std::vector<uint32_t> files);
    CResultsModel* Results() const { return results_; }
    QModelIndex Node() const { return node_; }

    // The file of a row.
    uint32_t FileAt(int row) const { return rows_[static_cast<size_t>(row)]; }
    const std::vector<uint32_t>& Files() const { return rows_; }

    // The list's tick state: all rows, some, none.
    Qt::CheckState ListCheckState() const;
    // Ticks or unticks every row.
    void SetAllChecked(bool checked);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Names compare ignoring case, sizes as numbers, times as times, the other columns by
    // their text ignoring case. Stable.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The header texts of the current language.
    void Retranslate();

  private:
    void Reset(CResultsModel* results, const QModelIndex& node, std::vector<uint32_t> files);
    void OnChecksChanged();

    CResultsModel* results_ = nullptr;
    QPersistentModelIndex node_;
    std::vector<uint32_t> rows_;
};

}  // namespace keltra
