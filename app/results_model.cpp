#include "app/results_model.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "app/apply_section.h"
#include "app/found_files.h"
#include "engines/extension_categories.h"
#include "engines/photo/photo_metadata.h"
#include "engines/recovery_target.h"

namespace keltra {

namespace {

constexpr const char* kCategoryNodes[] = {"NodePhoto",    "NodeAudio",   "NodeVideo",
                                          "NodeDocument", "NodeArchive", "NodeOthers"};
constexpr const char* kCategoryTexts[] = {"MSG0807", "MSG0808", "MSG0809",
                                          "MSG0810", "MSG0811", "MSG0812"};
constexpr const char* kOtherTypeText = "MSG0813";

// The category a file is recovered into, as an index into kCategoryNames.
int CategoryOfName(std::string_view name) {
    const std::string_view category = GetFileCategory(name);
    for (int i = 0; i < kCategoryCount; ++i) {
        if (category == kCategoryNames[i]) return i;
    }
    return kCategoryCount - 1;
}

// Categories whose types have tick boxes on the file-type page: their files of other types go
// to their Other row; the others get a row per extension.
bool HasOptions(int category) {
    return category <= 2;
}

}  // namespace

CResultsModel::CResultsModel(std::unique_ptr<FoundFileStore> store,
                             std::vector<ResultsSource> sources, ScanSummary summary,
                             const std::vector<TypeOption>& options, QObject* parent)
    : QAbstractItemModel(parent),
      store_(std::move(store)),
      sources_(std::move(sources)),
      summary_(std::move(summary)),
      categoryRows_(kCategoryCount) {
    // The type row of every extension group met, made when first met; option rows in the
    // page's order come first, then extension rows by name, then the Other rows.
    std::map<std::string, int> optionOf;  // group extension -> option
    for (size_t i = 0; i < options.size(); ++i) {
        for (const QString& extension : options[i].extensions) {
            optionOf.emplace(extension.toStdString(), static_cast<int>(i));
        }
    }
    std::vector<int> optionRow(options.size(), -1);
    std::map<std::pair<int, std::string>, int> extensionRow;
    std::vector<int> otherRow(kCategoryCount, -1);
    const size_t count = store_->Count();
    typeOf_.resize(count);
    checked_.assign(count, 0);
    const auto newRow = [this](int category, QString name, QString label) {
        types_.push_back({category, std::move(name), std::move(label), {}, 0});
        return static_cast<int>(types_.size() - 1);
    };
    // The row of each extension group, found once per group; every file takes its group's.
    std::vector<uint16_t> rowOfExtension;
    for (const FoundFileStore::ExtensionGroup& group : store_->Extensions()) {
        const std::string& extension = group.extension;
        int row = -1;
        if (const auto option = optionOf.find(extension); option != optionOf.end()) {
            int& made = optionRow[static_cast<size_t>(option->second)];
            const TypeOption& o = options[static_cast<size_t>(option->second)];
            if (made < 0) made = newRow(o.category, o.name, o.label);
            row = made;
        } else {
            const int category = CategoryOfName(group.firstName);
            if (HasOptions(category) || extension.empty()) {
                int& made = otherRow[static_cast<size_t>(category)];
                if (made < 0) {
                    made = newRow(category,
                                  QStringLiteral("Other") +
                                      QString::fromLatin1(kCategoryNames[category]),
                                  QString());
                }
                row = made;
            } else {
                auto [it, added] = extensionRow.try_emplace({category, extension}, -1);
                if (added) {
                    const QString upper = QString::fromStdString(extension).toUpper();
                    it->second = newRow(category, QStringLiteral("Type") + upper, upper);
                }
                row = it->second;
            }
        }
        rowOfExtension.push_back(static_cast<uint16_t>(row));
    }
    for (size_t file = 0; file < count; ++file) {
        const uint16_t row = rowOfExtension[store_->Extension(file)];
        typeOf_[file] = row;
        types_[row].files.push_back(static_cast<uint32_t>(file));
        damaged_ += store_->Record(file).contentIntact == 0 ? 1 : 0;
    }
    for (TypeRow& type : types_) {
        type.files.shrink_to_fit();
        type.shown = type.files.size();
    }
    shown_.assign(count, 1);
    shownCount_ = count;
    // Row order inside a category: options in the page's order, extensions by name, Other last.
    for (size_t i = 0; i < options.size(); ++i) {
        if (optionRow[i] >= 0) {
            categoryRows_[static_cast<size_t>(options[i].category)].push_back(
                static_cast<uint16_t>(optionRow[i]));
        }
    }
    for (const auto& [key, row] : extensionRow) {
        categoryRows_[static_cast<size_t>(key.first)].push_back(static_cast<uint16_t>(row));
    }
    for (int c = 0; c < kCategoryCount; ++c) {
        if (otherRow[static_cast<size_t>(c)] >= 0) {
            categoryRows_[static_cast<size_t>(c)].push_back(
                static_cast<uint16_t>(otherRow[static_cast<size_t>(c)]));
        }
    }
}

CResultsModel::~CResultsModel() = default;

QModelIndex CResultsModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid()) {
        return row < kCategoryCount ? createIndex(row, 0, quintptr{0}) : QModelIndex();
    }
    if (parent.internalId() != 0) return {};
    const auto& rows = categoryRows_[static_cast<size_t>(parent.row())];
    if (static_cast<size_t>(row) >= rows.size()) return {};
    return createIndex(row, 0, static_cast<quintptr>(parent.row() + 1));
}

QModelIndex CResultsModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == 0) return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr{0});
}

int CResultsModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return kCategoryCount;
    if (parent.internalId() != 0) return 0;
    return static_cast<int>(categoryRows_[static_cast<size_t>(parent.row())].size());
}

int CResultsModel::columnCount(const QModelIndex& /*parent*/) const {
    return 1;
}

const CResultsModel::TypeRow* CResultsModel::TypeOfIndex(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() == 0) return nullptr;
    const auto& rows = categoryRows_[index.internalId() - 1];
    return &types_[rows[static_cast<size_t>(index.row())]];
}

QVariant CResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const TypeRow* type = TypeOfIndex(index);
    size_t files = 0;
    if (type != nullptr) {
        files = type->shown;
    } else {
        for (uint16_t row : categoryRows_[static_cast<size_t>(index.row())])
            files += types_[row].shown;
    }
    switch (role) {
        case Qt::DisplayRole: {
            QString text = type == nullptr ? MessageText(kCategoryTexts[index.row()])
                           : type->label.isEmpty() ? MessageText(kOtherTypeText)
                                                   : type->label;
            return QStringLiteral("%1 (%2)").arg(text).arg(static_cast<qulonglong>(files));
        }
        case Qt::ToolTipRole:
            return data(index, Qt::DisplayRole);
        case Qt::CheckStateRole:
            return static_cast<int>(NodeCheckState(index));
        case kNodeNameRole:
            return type != nullptr ? type->name : QString::fromLatin1(kCategoryNodes[index.row()]);
        case kCountRole:
            return static_cast<qulonglong>(files);
        default:
            return {};
    }
}

bool CResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole) return false;
    // A click on a partly checked node checks it whole.
    SetNodeChecked(index, value.toInt() != Qt::Unchecked);
    return true;
}

Qt::ItemFlags CResultsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

QModelIndex CResultsModel::CategoryIndex(int category) const {
    return index(category, 0);
}

QModelIndex CResultsModel::NodeByName(const QString& name) const {
    for (int c = 0; c < kCategoryCount; ++c) {
        const QModelIndex category = index(c, 0);
        if (name == QLatin1String(kCategoryNodes[c])) return category;
        for (int r = 0; r < rowCount(category); ++r) {
            const QModelIndex row = index(r, 0, category);
            if (TypeOfIndex(row)->name == name) return row;
        }
    }
    return {};
}

QModelIndex CResultsModel::FirstFilledNode() const {
    for (int c = 0; c < kCategoryCount; ++c) {
        if (!categoryRows_[static_cast<size_t>(c)].empty()) return index(0, 0, index(c, 0));
    }
    return {};
}

std::vector<uint32_t> CResultsModel::FilesOf(const QModelIndex& node) const {
    if (!node.isValid()) return {};
    std::vector<uint32_t> files;
    const auto add = [this, &files](const TypeRow& type) {
        if (type.shown == type.files.size()) {
            files.insert(files.end(), type.files.begin(), type.files.end());
            return;
        }
        std::copy_if(type.files.begin(), type.files.end(), std::back_inserter(files),
                     [this](uint32_t file) { return shown_[file] != 0; });
    };
    if (const TypeRow* type = TypeOfIndex(node)) {
        add(*type);
    } else {
        for (uint16_t row : categoryRows_[static_cast<size_t>(node.row())]) add(types_[row]);
    }
    return files;
}

size_t CResultsModel::CategoryFileCount(int category) const {
    size_t files = 0;
    for (uint16_t row : categoryRows_[static_cast<size_t>(category)]) {
        files += types_[row].files.size();
    }
    return files;
}

void CResultsModel::SetFilter(const FileFilter& filter) {
    filter_ = filter;
    shownCount_ = 0;
    for (TypeRow& type : types_) {
        type.shown = 0;
        type.checkedShown = 0;
        for (uint32_t file : type.files) {
            const bool shown =
                !filter_.Active() || filter_.Passes(store_->Record(file), FileDate(file));
            shown_[file] = shown ? 1 : 0;
            if (!shown) continue;
            ++type.shown;
            if (checked_[file] != 0) ++type.checkedShown;
        }
        shownCount_ += type.shown;
    }
    Retranslate();  // every node's count
    NotifyChecks();
}

uint64_t CResultsModel::FileDate(uint32_t file) const {
    const FoundRecord& record = store_->Record(file);
    if (record.modified != 0) return record.modified;
    const auto taken = taken_.find(file);
    return taken != taken_.end() ? taken->second : 0;
}

std::vector<uint32_t> CResultsModel::DatesToRead() const {
    std::vector<uint32_t> files;
    for (uint32_t file = 0; file < store_->Count(); ++file) {
        const FoundRecord& record = store_->Record(file);
        if (record.modified == 0 && IsCarvedPhoto(record) && !taken_.contains(file)) {
            files.push_back(file);
        }
    }
    return files;
}

QString CResultsModel::PathText(uint32_t file) const {
    if (store_->Record(file).origin == static_cast<uint32_t>(RecordOrigin::Carving)) {
        return SourceOf(file).name;
    }
    const std::string& path = store_->FolderPath(file);
    if (path.empty()) return QStringLiteral("/");
    return QString::fromStdString(path.substr(0, path.size() - 1));
}

Qt::CheckState CResultsModel::StateOf(size_t checked, size_t total) const {
    if (checked == 0) return Qt::Unchecked;
    return checked == total ? Qt::Checked : Qt::PartiallyChecked;
}

// A node's box tells of the files it shows.
Qt::CheckState CResultsModel::NodeCheckState(const QModelIndex& node) const {
    if (const TypeRow* type = TypeOfIndex(node)) return StateOf(type->checkedShown, type->shown);
    size_t checked = 0;
    size_t total = 0;
    for (uint16_t row : categoryRows_[static_cast<size_t>(node.row())]) {
        checked += types_[row].checkedShown;
        total += types_[row].shown;
    }
    return StateOf(checked, total);
}

void CResultsModel::ChangeFile(uint32_t file, bool checked) {
    if ((checked_[file] != 0) == checked) return;
    checked_[file] = checked ? 1 : 0;
    TypeRow& type = types_[typeOf_[file]];
    const size_t shown = shown_[file];
    if (checked) {
        ++type.checked;
        type.checkedShown += shown;
        ++checkedCount_;
        checkedBytes_ += store_->Size(file);
    } else {
        --type.checked;
        type.checkedShown -= shown;
        --checkedCount_;
        checkedBytes_ -= store_->Size(file);
    }
}

// Every node's tick box may have changed: the tree is small, so all of it is told.
void CResultsModel::NotifyChecks() {
    for (int c = 0; c < kCategoryCount; ++c) {
        const QModelIndex category = index(c, 0);
        emit dataChanged(category, category, {Qt::CheckStateRole});
        const int rows = rowCount(category);
        if (rows > 0) {
            emit dataChanged(index(0, 0, category), index(rows - 1, 0, category),
                             {Qt::CheckStateRole});
        }
    }
    emit ChecksChanged();
}

void CResultsModel::SetFileChecked(uint32_t file, bool checked) {
    if (file >= checked_.size()) return;
    ChangeFile(file, checked);
    NotifyChecks();
}

void CResultsModel::SetFilesChecked(const std::vector<uint32_t>& files, bool checked) {
    for (uint32_t file : files) {
        if (file < checked_.size()) ChangeFile(file, checked);
    }
    NotifyChecks();
}

void CResultsModel::SetNodeChecked(const QModelIndex& node, bool checked) {
    if (!node.isValid()) return;
    // Only what the node shows: files the filter hides keep their ticks.
    for (uint32_t file : FilesOf(node)) ChangeFile(file, checked);
    NotifyChecks();
}

std::vector<FoundRecord> CResultsModel::CheckedRecords() const {
    std::vector<FoundRecord> records;
    records.reserve(checkedCount_);
    for (size_t file = 0; file < checked_.size(); ++file) {
        if (checked_[file] != 0) records.push_back(store_->Record(file));
    }
    return records;
}

std::vector<FoundFileItem> CResultsModel::CheckedItems() const {
    std::vector<FoundFileItem> items;
    items.reserve(checkedCount_);
    const std::string carved = MessageText("MSG0830").toStdString() + '/';
    for (size_t file = 0; file < checked_.size(); ++file) {
        if (checked_[file] == 0) continue;
        const FoundRecord& record = store_->Record(file);
        std::string folder;
        if (sources_.size() > 1) folder = SourceOf(static_cast<uint32_t>(file)).name.toStdString() + '/';
        folder += record.origin == static_cast<uint32_t>(RecordOrigin::Carving)
                      ? carved
                      : store_->FolderPath(file);
        items.push_back({record, std::move(folder)});
    }
    return items;
}

void CResultsModel::Retranslate() {
    for (int c = 0; c < kCategoryCount; ++c) {
        const QModelIndex category = index(c, 0);
        emit dataChanged(category, category, {Qt::DisplayRole});
        const int rows = rowCount(category);
        if (rows > 0) {
            emit dataChanged(index(0, 0, category), index(rows - 1, 0, category),
                             {Qt::DisplayRole});
        }
    }
}

}  // namespace keltra
