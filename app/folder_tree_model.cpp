#include "app/folder_tree_model.h"

#include <algorithm>
#include <unordered_map>

#include "app/apply_section.h"
#include "app/results_model.h"
#include "engines/found_record.h"

namespace keltra {

namespace {

constexpr const char* kFoundBySignatureText = "MSG0830";

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Names as people order folders, on every machine alike: runs of digits by their value
// ("99CANON" before "100CANON"), the rest ignoring case; equal so far, by the exact text.
bool NameBefore(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && IsDigit(a[i])) ++i;
            while (j < b.size() && IsDigit(b[j])) ++j;
            // Leading zeros do not count; then the longer run is the larger number.
            QStringView runA = QStringView(a).mid(startA, i - startA);
            QStringView runB = QStringView(b).mid(startB, j - startB);
            while (runA.size() > 1 && runA[0] == QLatin1Char('0')) runA = runA.mid(1);
            while (runB.size() > 1 && runB[0] == QLatin1Char('0')) runB = runB.mid(1);
            if (runA.size() != runB.size()) return runA.size() < runB.size();
            if (const int c = runA.compare(runB); c != 0) return c < 0;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb) return ca < cb;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;
}

}  // namespace

CFolderTreeModel::CFolderTreeModel(const CResultsModel& results, QObject* parent)
    : QAbstractItemModel(parent) {
    const FoundFileStore& store = results.Store();
    nodes_.emplace_back();
    for (const ResultsSource& source : results.Sources()) {
        Node top;
        top.name = source.name.toStdString();
        nodes_.push_back(std::move(top));
        nodes_[0].children.push_back(static_cast<uint32_t>(nodes_.size() - 1));
    }
    // A folder is found by its parent and its name; the store keeps each folder path once, so
    // each path is taken apart once per source.
    std::unordered_map<std::string, uint32_t> childOf;
    const auto child = [this, &childOf](uint32_t parentNode, std::string_view name, bool carved) {
        std::string key = std::to_string(parentNode);
        key += carved ? '\x01' : '/';
        key += name;
        const auto [it, added] = childOf.try_emplace(std::move(key), 0);
        if (added) {
            Node node;
            node.parent = parentNode;
            node.carved = carved;
            node.name = std::string(name);
            nodes_.push_back(std::move(node));
            it->second = static_cast<uint32_t>(nodes_.size() - 1);
            nodes_[parentNode].children.push_back(it->second);
        }
        return it->second;
    };
    std::unordered_map<uint64_t, uint32_t> folderOf;  // source << 32 | folder id -> node
    for (size_t file = 0; file < store.Count(); ++file) {
        if (!results.IsShown(static_cast<uint32_t>(file))) continue;
        const uint16_t source = store.Source(file);
        const uint32_t top = nodes_[0].children.at(source);
        uint32_t node = top;
        if (store.Record(file).origin == static_cast<uint32_t>(RecordOrigin::Carving)) {
            node = child(top, {}, true);
        } else {
            const std::string& path = store.FolderPath(file);
            const auto [it, added] =
                folderOf.try_emplace(uint64_t{source} << 32 | store.FolderId(file), top);
            if (added) {
                size_t start = 0;
                while (start < path.size()) {
                    size_t end = path.find('/', start);
                    if (end == std::string::npos) end = path.size();
                    if (end > start) {
                        it->second =
                            child(it->second, std::string_view(path).substr(start, end - start),
                                  false);
                    }
                    start = end + 1;
                }
            }
            node = it->second;
        }
        nodes_[node].files.push_back(static_cast<uint32_t>(file));
    }
    // Totals from the leaves up: children always come after their parent.
    for (size_t n = nodes_.size(); n-- > 1;) {
        Node& node = nodes_[n];
        node.files.shrink_to_fit();
        node.total += node.files.size();
        nodes_[node.parent].total += node.total;
    }
    // Folders by name as people sort them (case and digits), "Found by signature" last.
    for (size_t n = 1; n < nodes_.size(); ++n) {
        std::vector<uint32_t>& children = nodes_[n].children;
        std::vector<std::pair<QString, uint32_t>> keyed;
        keyed.reserve(children.size());
        for (uint32_t c : children) keyed.emplace_back(QString::fromStdString(nodes_[c].name), c);
        std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
            if (nodes_[a.second].carved != nodes_[b.second].carved) return nodes_[b.second].carved;
            return NameBefore(a.first, b.first);
        });
        for (size_t i = 0; i < keyed.size(); ++i) children[i] = keyed[i].second;
    }
    for (const Node& node : nodes_) {
        for (size_t i = 0; i < node.children.size(); ++i) {
            nodes_[node.children[i]].row = static_cast<int>(i);
        }
    }
}

uint32_t CFolderTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<uint32_t>(index.internalId()) : 0;
}

QModelIndex CFolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    const Node& node = nodes_[NodeOf(parent)];
    if (static_cast<size_t>(row) >= node.children.size()) return {};
    return createIndex(row, 0, static_cast<quintptr>(node.children[static_cast<size_t>(row)]));
}

QModelIndex CFolderTreeModel::parent(const QModelIndex& child) const {
    const uint32_t node = NodeOf(child);
    if (node == 0) return {};
    const uint32_t up = nodes_[node].parent;
    if (up == 0) return {};
    return createIndex(nodes_[up].row, 0, static_cast<quintptr>(up));
}

int CFolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    return static_cast<int>(nodes_[NodeOf(parent)].children.size());
}

int CFolderTreeModel::columnCount(const QModelIndex& /*parent*/) const {
    return 1;
}

QVariant CFolderTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const Node& node = nodes_[NodeOf(index)];
    switch (role) {
        case Qt::DisplayRole: {
            const QString name = node.carved ? MessageText(kFoundBySignatureText)
                                             : QString::fromStdString(node.name);
            return QStringLiteral("%1 (%2)").arg(name).arg(static_cast<qulonglong>(node.total));
        }
        case Qt::ToolTipRole:
            return PathOf(index);
        case kCountRole:
            return static_cast<qulonglong>(node.total);
        default:
            return {};
    }
}

Qt::ItemFlags CFolderTreeModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

const std::vector<uint32_t>& CFolderTreeModel::FilesOf(const QModelIndex& node) const {
    return nodes_[NodeOf(node)].files;
}

std::vector<uint32_t> CFolderTreeModel::FilesBelow(const QModelIndex& node) const {
    std::vector<uint32_t> files;
    std::vector<uint32_t> todo{NodeOf(node)};
    while (!todo.empty()) {
        const Node& n = nodes_[todo.back()];
        todo.pop_back();
        files.insert(files.end(), n.files.begin(), n.files.end());
        todo.insert(todo.end(), n.children.begin(), n.children.end());
    }
    std::sort(files.begin(), files.end());
    return files;
}

QString CFolderTreeModel::PathOf(const QModelIndex& index) const {
    QStringList parts;
    for (uint32_t n = NodeOf(index); n != 0; n = nodes_[n].parent) {
        parts.prepend(nodes_[n].carved ? MessageText(kFoundBySignatureText)
                                       : QString::fromStdString(nodes_[n].name));
    }
    return parts.join(QLatin1Char('/'));
}

void CFolderTreeModel::Retranslate() {
    // Only the carved folders' names depend on the language.
    for (size_t n = 1; n < nodes_.size(); ++n) {
        if (!nodes_[n].carved) continue;
        const QModelIndex changed = createIndex(nodes_[n].row, 0, static_cast<quintptr>(n));
        emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::ToolTipRole});
    }
}

}  // namespace keltra
