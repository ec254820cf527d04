#include "results_view.h"

#include <QTableView>
#include <QTreeView>

#include "app/file_list_model.h"
#include "app/results_model.h"

namespace keltra::test {

std::vector<FoundRecord> AllFound(const CMainWnd& window) {
    std::vector<FoundRecord> records;
    if (const CResultsModel* results = window.Results()) {
        for (size_t i = 0; i < results->FileCount(); ++i)
            records.push_back(results->Store().Record(i));
    }
    return records;
}

std::multiset<std::string> FoundNames(const CMainWnd& window) {
    std::multiset<std::string> names;
    for (const FoundRecord& r : AllFound(window)) names.insert(std::string(r.Name()));
    return names;
}

std::set<uint16_t> FoundTags(const CMainWnd& window) {
    std::set<uint16_t> tags;
    for (const FoundRecord& r : AllFound(window)) tags.insert(r.sourceTag);
    return tags;
}

QModelIndex Node(const CMainWnd& window, const QString& name) {
    return window.Results() != nullptr ? window.Results()->NodeByName(name) : QModelIndex();
}

int NodeCount(const CMainWnd& window, const QString& name) {
    const QModelIndex node = Node(window, name);
    return node.isValid() ? node.data(CResultsModel::kCountRole).toInt() : -1;
}

QString NodeText(const CMainWnd& window, const QString& name) {
    return Node(window, name).data().toString();
}

Qt::CheckState NodeState(const CMainWnd& window, const QString& name) {
    return static_cast<Qt::CheckState>(Node(window, name).data(Qt::CheckStateRole).toInt());
}

bool SelectNode(CMainWnd& window, const QString& name) {
    const QModelIndex node = Node(window, name);
    if (!node.isValid()) return false;
    window.findChild<QTreeView*>("TypeTree")->setCurrentIndex(node);
    return true;
}

void CheckNode(CMainWnd& window, const QString& name, bool checked) {
    window.Results()->setData(Node(window, name), checked ? Qt::Checked : Qt::Unchecked,
                              Qt::CheckStateRole);
}

int ListedRows(const CMainWnd& window) {
    return window.FileListModel()->rowCount();
}

QString Cell(const CMainWnd& window, int row, int column) {
    const CFileListModel* list = window.FileListModel();
    return list->data(list->index(row, column)).toString();
}

bool RowChecked(const CMainWnd& window, int row) {
    const CFileListModel* list = window.FileListModel();
    return list->data(list->index(row, 0), Qt::CheckStateRole).toInt() == Qt::Checked;
}

void CheckRow(CMainWnd& window, int row, bool checked) {
    CFileListModel* list = window.FileListModel();
    list->setData(list->index(row, 0), checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

void SelectRow(CMainWnd& window, int row) {
    auto* view = window.findChild<QAbstractItemView*>("FileList");
    view->setCurrentIndex(view->model()->index(row, 1));
}

int RowNamed(const CMainWnd& window, const QString& name) {
    for (int row = 0; row < ListedRows(window); ++row) {
        if (Cell(window, row, CFileListModel::kNameColumn) == name) return row;
    }
    return -1;
}

}  // namespace keltra::test
