#include "app/file_list_model.h"

#include <algorithm>

#include "app/apply_section.h"
#include "app/found_files.h"
#include "app/results_model.h"
#include "app/size_text.h"

namespace keltra {

const char* const CFileListModel::kColumnNames[kColumnCount] = {
    "CheckAll", "FileName", "Size", "ModifiedTime", "CreatedTime", "Path", "Type"};

CFileListModel::CFileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CFileListModel::Show(CResultsModel* results, const QModelIndex& node) {
    Reset(results, node,
          results != nullptr ? results->FilesOf(node) : std::vector<uint32_t>{});
}

void CFileListModel::ShowFiles(CResultsModel* results, std::vector<uint32_t> files) {
    Reset(results, {}, results != nullptr ? std::move(files) : std::vector<uint32_t>{});
}

void CFileListModel::Reset(CResultsModel* results, const QModelIndex& node,
                           std::vector<uint32_t> files) {
    beginResetModel();
    if (results_ != results) {
        if (results_ != nullptr) disconnect(results_, nullptr, this, nullptr);
        results_ = results;
        if (results_ != nullptr) {
            connect(results_, &CResultsModel::ChecksChanged, this,
                    &CFileListModel::OnChecksChanged);
            connect(results_, &QObject::destroyed, this, [this] { Show(nullptr, {}); });
        }
    }
    node_ = node;
    rows_ = std::move(files);
    rows_.shrink_to_fit();
    endResetModel();
}

Qt::CheckState CFileListModel::ListCheckState() const {
    if (results_ == nullptr || rows_.empty()) return Qt::Unchecked;
    // A node's own count answers for the whole node without walking its rows.
    if (node_.isValid()) return results_->NodeCheckState(node_);
    const size_t checked = static_cast<size_t>(std::count_if(
        rows_.begin(), rows_.end(), [this](uint32_t file) { return results_->IsChecked(file); }));
    if (checked == 0) return Qt::Unchecked;
    return checked == rows_.size() ? Qt::Checked : Qt::PartiallyChecked;
}

void CFileListModel::SetAllChecked(bool checked) {
    if (results_ != nullptr) results_->SetFilesChecked(rows_, checked);
}

void CFileListModel::OnChecksChanged() {
    if (!rows_.empty()) {
        emit dataChanged(index(0, kCheckColumn),
                         index(static_cast<int>(rows_.size()) - 1, kCheckColumn),
                         {Qt::CheckStateRole});
    }
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || results_ == nullptr) return {};
    const uint32_t file = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::CheckStateRole && index.column() == kCheckColumn) {
        return results_->IsChecked(file) ? Qt::Checked : Qt::Unchecked;
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const FoundRecord& record = results_->Store().Record(file);
    switch (index.column()) {
        case kNameColumn:
            return QString::fromUtf8(record.Name());
        case kSizeColumn:
            return record.isFolder != 0 ? QString() : SizeText(record.size);
        case kModifiedColumn:
            return FileTimeText(record.modified);
        case kCreatedColumn:
            return FileTimeText(record.created);
        case kPathColumn:
            return results_->PathText(file);
        case kTypeColumn:
            return FileTypeText(record);
        default:
            return {};
    }
}

bool CFileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || results_ == nullptr || role != Qt::CheckStateRole) return false;
    results_->SetFileChecked(rows_[static_cast<size_t>(index.row())],
                             value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == kCheckColumn) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole && section != kCheckColumn) {
        return QText(LanguageTable().Section("MainWnd"), kColumnNames[section]);
    }
    if (role == kControlNameRole) return QString::fromLatin1(kColumnNames[section]);
    return {};
}

void CFileListModel::Retranslate() {
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

void CFileListModel::sort(int column, Qt::SortOrder order) {
    if (results_ == nullptr || column <= kCheckColumn || column >= kColumnCount) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<uint32_t> oldRows = rows_;
    const FoundFileStore& store = results_->Store();
    const auto ascending = [&](auto key) {
        std::stable_sort(rows_.begin(), rows_.end(),
                         [&key](uint32_t a, uint32_t b) { return key(a) < key(b); });
    };
    switch (column) {
        case kSizeColumn:
            ascending([&store](uint32_t f) { return store.Record(f).size; });
            break;
        case kModifiedColumn:
            ascending([&store](uint32_t f) { return store.Record(f).modified; });
            break;
        case kCreatedColumn:
            ascending([&store](uint32_t f) { return store.Record(f).created; });
            break;
        default: {
            // By the column's text ignoring case: the keys made once.
            std::vector<QString> keys(store.Count());
            for (size_t i = 0; i < rows_.size(); ++i) {
                keys[rows_[i]] = data(createIndex(static_cast<int>(i), column), Qt::DisplayRole)
                                     .toString()
                                     .toCaseFolded();
            }
            ascending([&keys](uint32_t f) -> const QString& { return keys[f]; });
            break;
        }
    }
    // Descending is the exact reverse of ascending.
    if (order == Qt::DescendingOrder) std::reverse(rows_.begin(), rows_.end());
    // Persistent indexes (the current row) follow their files.
    std::vector<int> newRowOf(oldRows.size());
    {
        std::vector<int> position(store.Count(), -1);
        for (size_t i = 0; i < rows_.size(); ++i) position[rows_[i]] = static_cast<int>(i);
        for (size_t i = 0; i < oldRows.size(); ++i) newRowOf[i] = position[oldRows[i]];
    }
    QModelIndexList after;
    for (const QModelIndex& old : before) {
        after.push_back(index(newRowOf[static_cast<size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace keltra
