// The results of one scan as the results page shows them: the found files of every source the
// scan covered, grouped by category (photo, audio, video, document, archive, others) and below
// that by type, with the one check state of every file. The type tree is a view of this model;
// the file list (CFileListModel) lists the files of one of its nodes. The model knows which
// sources and which scan its files come from; a new scan, a new source or a language switch
// makes or refreshes it, and nothing about the files is kept in widgets.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/file_filter.h"
#include "app/found_file_store.h"
#include "engines/found_record.h"
#include "engines/recovery/found_file_recovery.h"

namespace keltra {

// A tick box of the file-type page: the files of its extensions get a type row of their own
// under its category ("JPEG (jpg, jpeg)" → "JPEG (4)").
struct TypeOption {
    QString name;   // the option's control name ("TypeJpg")
    QString label;  // its text up to the blank before "("
    int category;   // index into kCategoryNames
    QStringList extensions;
};

// Where the results come from.
struct ResultsSource {
    QString name;  // as the windows name it: "E:", "card.img", "card.img, Partition 2"
    uint16_t tag;  // the source tag its engine stamps on its records
};

struct ScanSummary {
    bool deep = false;
    bool complete = true;  // false: stopped by the user
    uint64_t seconds = 0;
    QStringList passedOver;  // a line per source the scan could not read, with the reason
    // The volumes a deep scan found beside its sources' own, each named with its source
    // ("disk.img: Lost NTFS volume at sector 2048 (40 MiB)").
    QStringList lostVolumes;
};

// The category names of the recovery's sub-folders, in the tree's order.
inline constexpr const char* kCategoryNames[] = {"photo",    "audio",   "video",
                                                 "document", "archive", "others"};
inline constexpr int kCategoryCount = 6;

class CResultsModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    // A node's control name: "NodePhoto"… for categories, the option's name for option rows,
    // "Type" + the extension for extension rows, "Other" + the category for other rows.
    static constexpr int kNodeNameRole = Qt::UserRole + 20;
    // A node's file count.
    static constexpr int kCountRole = Qt::UserRole + 21;

    CResultsModel(std::unique_ptr<FoundFileStore> store, std::vector<ResultsSource> sources,
                  ScanSummary summary, const std::vector<TypeOption>& options,
                  QObject* parent = nullptr);
    ~CResultsModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The node of a category, and of a category's type row with this control name; invalid
    // when there is none.
    QModelIndex CategoryIndex(int category) const;
    QModelIndex NodeByName(const QString& name) const;
    // The first node with files: a category's first type row.
    QModelIndex FirstFilledNode() const;

    // --- The files ---
    const FoundFileStore& Store() const { return *store_; }
    size_t FileCount() const { return store_->Count(); }
    // The files of a node the filter lets through, in their found order: a type row's, or a
    // category's type rows' one after the other.
    std::vector<uint32_t> FilesOf(const QModelIndex& node) const;
    const std::vector<ResultsSource>& Sources() const { return sources_; }
    const ResultsSource& SourceOf(uint32_t file) const { return sources_[store_->Source(file)]; }
    const ScanSummary& Summary() const { return summary_; }
    // Files whose first data did not pass the content check (damaged, or not of their type).
    size_t DamagedCount() const { return damaged_; }
    // Files per category, whatever the filter.
    size_t CategoryFileCount(int category) const;
    // What the Path column shows: the folder path; for a carved file, its source's name.
    QString PathText(uint32_t file) const;
    // The type row's text for a file's type column is the record's; its category index.
    int CategoryOf(uint32_t file) const { return types_[typeOf_[file]].category; }

    // --- Dates: the modification time the scan found; for a carved photo, the date it was
    // taken, once read from its EXIF ---
    uint64_t FileDate(uint32_t file) const;
    // The carved photos whose date taken has not been read yet.
    std::vector<uint32_t> DatesToRead() const;
    // A carved photo's date taken as a FILETIME (0: it has none); the filter is not applied
    // again until SetFilter.
    void SetDateTaken(uint32_t file, uint64_t fileTime) { taken_[file] = fileTime; }

    // --- The filter: the files it lets through are the ones shown, counted and ticked ---
    void SetFilter(const FileFilter& filter);
    const FileFilter& Filter() const { return filter_; }
    bool IsShown(uint32_t file) const { return shown_[file] != 0; }
    size_t ShownCount() const { return shownCount_; }

    // --- Check state, held here once ---
    bool IsChecked(uint32_t file) const { return checked_[file] != 0; }
    void SetFileChecked(uint32_t file, bool checked);
    void SetFilesChecked(const std::vector<uint32_t>& files, bool checked);
    void SetNodeChecked(const QModelIndex& node, bool checked);
    Qt::CheckState NodeCheckState(const QModelIndex& node) const;
    size_t CheckedCount() const { return checkedCount_; }
    uint64_t CheckedBytes() const { return checkedBytes_; }
    // Copies of the checked files' records, in found order.
    std::vector<FoundRecord> CheckedRecords() const;
    // The checked files with the folders they were found in, as the folder view shows them:
    // below a first folder naming their source when the results hold several, a carved file
    // in its source's "Found by signature".
    std::vector<FoundFileItem> CheckedItems() const;

    // The texts of the current language (after a language switch).
    void Retranslate();

  signals:
    // Files' check states changed (the list re-reads its check column).
    void ChecksChanged();

  private:
    struct TypeRow {
        int category = 0;
        QString name;
        QString label;      // shown before the count; empty: from the language (the Other row)
        std::vector<uint32_t> files;
        size_t checked = 0;
        size_t shown = 0;         // files the filter lets through
        size_t checkedShown = 0;  // of those, checked
    };

    // internalId: 0 for categories, category + 1 for type rows.
    const TypeRow* TypeOfIndex(const QModelIndex& index) const;
    Qt::CheckState StateOf(size_t checked, size_t total) const;
    void ChangeFile(uint32_t file, bool checked);
    void NotifyChecks();

    std::unique_ptr<FoundFileStore> store_;
    std::vector<ResultsSource> sources_;
    ScanSummary summary_;
    std::vector<TypeRow> types_;                           // every type row
    std::vector<std::vector<uint16_t>> categoryRows_;      // per category: its type rows
    std::vector<uint16_t> typeOf_;                         // per file: its type row
    std::vector<uint8_t> checked_;                         // per file: 1 = checked
    std::vector<uint8_t> shown_;                           // per file: 1 = the filter passes it
    FileFilter filter_;
    std::unordered_map<uint32_t, uint64_t> taken_;  // carved photos whose date was read
    size_t shownCount_ = 0;
    size_t damaged_ = 0;
    size_t checkedCount_ = 0;
    uint64_t checkedBytes_ = 0;
};

}  // namespace keltra
