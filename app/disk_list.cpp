#include "app/disk_list.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <vector>

#include "app/message_format.h"
#include "app/size_text.h"
#include "app/ui/apply_section.h"
#include "app/ui/markup_item_delegate.h"

namespace keltra {

namespace {

constexpr int kRowHeight = 30;
constexpr int kSourceRole = Qt::UserRole + 1;     // SourceItem* of a partition or image row
constexpr int kRemovableRole = Qt::UserRole + 2;  // the row's disk is removable
constexpr int kIdentityRole = Qt::UserRole + 3;   // a disk row's device node

// The markup of a partition row's name column.
QString PartitionName(const VolumeEntry& entry) {
    if (IsDriveLetter(entry.letter)) {
        return FormatMessage("{f 5}{x 2}%c:\\ %s{/f}", {QString(QChar(entry.letter)),
                                                        QString::fromStdString(entry.volumeLabel)});
    }
    if (static_cast<int64_t>(entry.freeBytes) < 0) return "{f 5}{x 2}*:\\{/f}";
    return FormatMessage("{f 5}{x 2}%d:\\ %s{/f}", {QString::number(entry.letter),
                                                    QString::fromStdString(entry.volumeLabel)});
}

// The row and every row above it are not hidden.
bool Shown(const QTreeWidgetItem* row) {
    for (; row != nullptr; row = row->parent()) {
        if (row->isHidden()) return false;
    }
    return true;
}

}  // namespace

CDiskListUI::CDiskListUI(QWidget* parent) : QTreeWidget(parent) {
    setItemDelegate(new CMarkupItemDelegate(kRowHeight, this));
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(false);  // the window decides what a double click does
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(model(), signal, this, &CDiskListUI::FitColumns);
    }
    connect(model(), &QAbstractItemModel::dataChanged, this, &CDiskListUI::FitColumns);
}

void CDiskListUI::FitColumns() {
    if (columnCount() < 2) return;
    const int wanted = std::max(sizeHintForColumn(1), header()->sectionSizeHint(1));
    const int most = viewport()->width() * 2 / 5;
    header()->resizeSection(1, std::max(header()->sectionSizeHint(1), std::min(wanted, most)));
}

void CDiskListUI::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    FitColumns();
}

QTreeWidgetItem* CDiskListUI::AddDisk(int diskNumber, const std::string& identity, bool removable) {
    auto* disk = new QTreeWidgetItem();
    disk->setText(0, FormatMessage(removable ? "{f 5}{x 5}{i removable_drive.png 1 0}{x 2}%s %d{/5}"
                                             : "{f 5}{x 5}{i physical_drive.png 1 0}{x 2}%s %d{/5}",
                                   {MessageText(removable ? "MSG0202" : "MSG0201"),
                                    QString::number(diskNumber + 1)}));
    disk->setData(0, kRemovableRole, removable);
    disk->setData(0, kIdentityRole, QString::fromStdString(identity));
    const int at = imageGroup_ != nullptr ? indexOfTopLevelItem(imageGroup_) : topLevelItemCount();
    insertTopLevelItem(at, disk);
    disk->setExpanded(true);
    return disk;
}

QTreeWidgetItem* CDiskListUI::AddPartition(QTreeWidgetItem* disk, SourceItem* source) {
    const VolumeEntry& entry = *source->partition;
    const bool removable = IsRemovableRow(disk);
    auto* row = new QTreeWidgetItem(disk);
    row->setText(0, PartitionName(entry));
    row->setData(0, kPictureRole,
                 removable ? "file='drive_usb.png' dest='28,0,50,24'"
                           : "file='drive.png' dest='28,0,50,24'");
    row->setText(1, FormatMessage("{f 5}%s{/f}", {QString::fromStdString(entry.fileSystemName)}));
    row->setText(2, FormatMessage("{f 5}%s{/f}", {SizeText(entry.totalBytes)}));
    row->setData(0, kSourceRole, QVariant::fromValue(reinterpret_cast<quintptr>(source)));
    row->setData(0, kRemovableRole, removable);
    disk->setExpanded(true);
    return row;
}

void CDiskListUI::AddUnreadableDisk(const QString& device, const QString& reason) {
    auto* disk = new QTreeWidgetItem();
    disk->setText(0, FormatMessage("{f 5}{x 5}{i physical_drive.png 1 0}{x 2}%s{/5}", {device}));
    disk->setText(1, FormatMessage("{f 5}{c #8A96A3}%s{/c}{/f}", {reason}));
    disk->setToolTip(0, reason);
    disk->setToolTip(1, reason);
    disk->setFlags(disk->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    const int at = imageGroup_ != nullptr ? indexOfTopLevelItem(imageGroup_) : topLevelItemCount();
    insertTopLevelItem(at, disk);
}

QTreeWidgetItem* CDiskListUI::AddImage(SourceItem* source, uint64_t sizeBytes) {
    if (imageGroup_ == nullptr) {
        imageGroup_ = new QTreeWidgetItem(this);
        imageGroup_->setText(0, "{f 7}{x 5}{i image_files.png 1 0}{x 2}Image File{/f}");
        imageGroup_->setData(0, kControlNameRole, QStringLiteral("ImageFile"));
    }
    auto* row = new QTreeWidgetItem(imageGroup_);
    row->setData(0, kPictureRole, "file='image_file.png' dest='26,0,50,24'");
    row->setText(0,
                 FormatMessage("{f 5}%s{/f}",
                               {QFileInfo(QString::fromStdString(source->imagePath)).fileName()}));
    row->setText(2, FormatMessage("{f 5}%s{/f}", {SizeText(sizeBytes)}));
    row->setData(0, kSourceRole, QVariant::fromValue(reinterpret_cast<quintptr>(source)));
    imageGroup_->setExpanded(true);
    return row;
}

void CDiskListUI::ShowFileSystem(QTreeWidgetItem* row, const QString& fileSystem) {
    row->setText(1, fileSystem.isEmpty() ? QString() : FormatMessage("{f 5}%s{/f}", {fileSystem}));
}

QTreeWidgetItem* CDiskListUI::AddImageVolume(QTreeWidgetItem* image, SourceItem* source) {
    const VolumeEntry& entry = *source->partition;
    auto* row = new QTreeWidgetItem(image);
    const QString name = ImageVolumeText(entry);
    const QString label = QString::fromStdString(entry.volumeLabel);
    row->setText(0, FormatMessage("{f 5}{x 2}%s{/f}",
                                  {label.isEmpty() ? name : name + QStringLiteral(": ") + label}));
    // The list has no indentation of its own: the picture sits one step right of the image's.
    row->setData(0, kPictureRole, "file='drive.png' dest='50,0,72,24'");
    row->setText(1, FormatMessage("{f 5}%s{/f}", {QString::fromStdString(entry.fileSystemName)}));
    row->setText(2, FormatMessage("{f 5}%s{/f}", {SizeText(entry.totalBytes)}));
    row->setData(0, kSourceRole, QVariant::fromValue(reinterpret_cast<quintptr>(source)));
    image->setExpanded(true);
    return row;
}

void CDiskListUI::RemoveImage(QTreeWidgetItem* imageRow) {
    if (imageGroup_ == nullptr || imageRow->parent() != imageGroup_) return;
    delete imageGroup_->takeChild(imageGroup_->indexOfChild(imageRow));
    if (imageGroup_->childCount() == 0) {
        delete takeTopLevelItem(indexOfTopLevelItem(imageGroup_));
        imageGroup_ = nullptr;
    }
}

bool CDiskListUI::IsImageRow(const QTreeWidgetItem* row) {
    const SourceItem* source = SourceOf(row);
    return source != nullptr && !source->imagePath.empty();
}

void CDiskListUI::contextMenuEvent(QContextMenuEvent* event) {
    QTreeWidgetItem* row = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!IsImageRow(row)) return;
    QMenu menu(this);
    menu.setObjectName("ImageMenu");
    QAction* remove = menu.addAction(MessageText("MSG0242"));
    remove->setObjectName("item_remove_image");
    connect(remove, &QAction::triggered, this, [this, row] { emit RemoveImageAsked(row); });
    menu.exec(event->globalPos());
}

void CDiskListUI::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && IsImageRow(currentItem())) {
        emit RemoveImageAsked(currentItem());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CDiskListUI::SetImagesVisible(bool visible) {
    if (imageGroup_ != nullptr) imageGroup_->setHidden(!visible);
}

QTreeWidgetItem* CDiskListUI::DiskRow(const std::string& identity) const {
    const QString wanted = QString::fromStdString(identity);
    for (int d = 0; d < topLevelItemCount(); ++d) {
        QTreeWidgetItem* disk = topLevelItem(d);
        if (disk != imageGroup_ && disk->data(0, kIdentityRole).toString() == wanted) return disk;
    }
    return nullptr;
}

std::string CDiskListUI::IdentityOf(const QTreeWidgetItem* diskRow) {
    return diskRow->data(0, kIdentityRole).toString().toStdString();
}

bool CDiskListUI::IsRemovableRow(const QTreeWidgetItem* row) {
    return row->data(0, kRemovableRole).toBool();
}

SourceItem* CDiskListUI::SourceOf(const QTreeWidgetItem* item) {
    if (item == nullptr) return nullptr;
    return reinterpret_cast<SourceItem*>(item->data(0, kSourceRole).value<quintptr>());
}

const VolumeEntry* CDiskListUI::EntryOf(const QTreeWidgetItem* item) {
    const SourceItem* source = SourceOf(item);
    return source != nullptr && source->IsPartition() ? &*source->partition : nullptr;
}

void CDiskListUI::SelectDefaultRow() {
    for (int d = 0; d < topLevelItemCount(); ++d) {
        QTreeWidgetItem* disk = topLevelItem(d);
        if (IsRemovableRow(disk) && disk->childCount() > 0) {
            setCurrentItem(disk->child(0));
            return;
        }
    }
    // Row 1 counts the rows as shown, leaving out the greyed disks that cannot be chosen and
    // the rows of a hidden group.
    std::vector<QTreeWidgetItem*> rows;
    for (QTreeWidgetItemIterator it(this); *it != nullptr && rows.size() < 2; ++it) {
        QTreeWidgetItem* row = *it;
        if (Shown(row) && (row->flags() & Qt::ItemIsEnabled)) rows.push_back(row);
    }
    if (rows.size() > 1) setCurrentItem(rows[1]);
}

}  // namespace keltra
