// The results by folder: the folders the found files were found in, as the card holds them, one
// tree per source of the results (the files the results' filter lets through) ("card.img" > "DCIM" > "100CANON"), each folder with the count
// of the files in it and below it. Files carved by their signature have no folder: they sit in
// their source's "Found by signature" folder. The file list shows the files of the folder chosen.
// The tree is made once from the results' store, holding per folder its place, its name and its
// own files; nothing per file beyond its index.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace keltra {

class CResultsModel;

class CFolderTreeModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    // The count of files in a folder and below it.
    static constexpr int kCountRole = Qt::UserRole + 30;

    explicit CFolderTreeModel(const CResultsModel& results, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The files found directly in a folder, in found order.
    const std::vector<uint32_t>& FilesOf(const QModelIndex& node) const;
    // The files in a folder and every folder below it.
    std::vector<uint32_t> FilesBelow(const QModelIndex& node) const;
    // "Source/DCIM/100CANON": the source's name, then the folder names.
    QString PathOf(const QModelIndex& node) const;
    size_t FolderCount() const { return nodes_.size() - 1; }

    // The texts of the current language (the "Found by signature" folders).
    void Retranslate();

  private:
    struct Node {
        uint32_t parent = 0;
        int row = 0;             // its place among its parent's children
        bool carved = false;     // a source's "Found by signature" folder
        std::string name;        // the folder's name; a source's name for a tree's top
        std::vector<uint32_t> children;
        std::vector<uint32_t> files;
        uint64_t total = 0;      // files here and below
    };

    uint32_t NodeOf(const QModelIndex& index) const;

    std::vector<Node> nodes_;  // node 0: the invisible root above the sources
};

}  // namespace keltra
