#include "app/thumbnail_grid.h"

#include <QEvent>
#include <QListView>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>

#include "app/file_list_model.h"
#include "app/results_model.h"
#include "app/source_lease.h"
#include "app/thumbnail_delegate.h"
#include "app/type_icon.h"
#include "engines/extension_categories.h"

namespace keltra {

namespace {

// Indices into kCategoryNames of the files the grid reads.
constexpr int kPhotoCategory = 0;
constexpr int kVideoCategory = 2;
static_assert(kCategoryNames[kPhotoCategory][0] == 'p' && kCategoryNames[kVideoCategory][0] == 'v');

// Reads a found file's first bytes through its engine (on the service's reader thread, while
// the grid's lease holds the source open). A read that fails part way gives what it read.
ThumbnailReader EngineReader(ScanEngine* engine, const FoundRecord& record) {
    return [engine, record](qint64 maxBytes) {
        const qint64 want = static_cast<qint64>(
            std::min<uint64_t>(record.size, static_cast<uint64_t>(std::max<qint64>(0, maxBytes))));
        QByteArray bytes(want, Qt::Uninitialized);
        size_t got = 0;
        const std::span<std::byte> out(reinterpret_cast<std::byte*>(bytes.data()),
                                       static_cast<size_t>(bytes.size()));
        if (engine->ReadRecordHead(record, out, got) != kOk && got == 0) return QByteArray();
        bytes.truncate(static_cast<qsizetype>(got));
        return bytes;
    };
}

}  // namespace

CThumbnailGrid::CThumbnailGrid(QListView* view, CFileListModel* files, SourceFinder sources,
                               ThumbnailService::Limits limits)
    : QObject(view),
      view_(view),
      files_(files),
      sources_(std::move(sources)),
      service_(ThumbnailOptions{kEdge, QStringLiteral("ffmpeg"), 10000}, limits),
      delegate_(new CThumbnailDelegate(this, view)),
      requestTimer_(new QTimer(this)) {
    view_->setModel(files_);
    view_->setModelColumn(CFileListModel::kNameColumn);
    // Laid out as a list that flows left to right and wraps: with items of one size the
    // layout costs next to nothing per file, whatever the count.
    view_->setViewMode(QListView::ListMode);
    view_->setFlow(QListView::LeftToRight);
    view_->setWrapping(true);
    view_->setResizeMode(QListView::Adjust);
    view_->setMovement(QListView::Static);
    view_->setUniformItemSizes(true);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setItemDelegate(delegate_);
    view_->setGridSize(delegate_->CellSize());
    view_->verticalScrollBar()->setSingleStep(delegate_->CellSize().height() / 3);
    view_->viewport()->installEventFilter(this);

    requestTimer_->setSingleShot(true);
    requestTimer_->setInterval(0);
    connect(requestTimer_, &QTimer::timeout, this, &CThumbnailGrid::RequestOnScreen);
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &CThumbnailGrid::RequestSoon);
    connect(files_, &QAbstractItemModel::modelReset, this, &CThumbnailGrid::OnModelReset);
    connect(files_, &QAbstractItemModel::layoutChanged, this, &CThumbnailGrid::RequestSoon);
    // Ticks are the list model's first column, which the grid does not show itself.
    connect(files_, &QAbstractItemModel::dataChanged, view_->viewport(),
            qOverload<>(&QWidget::update));
    connect(&service_, &ThumbnailService::ThumbnailReady, this, [this](quint64 file) {
        view_->viewport()->update();
        emit ThumbnailShown(file);
    });
    connect(&service_, &ThumbnailService::ReadsEnded, this, &CThumbnailGrid::GiveBackSources);
}

CThumbnailGrid::~CThumbnailGrid() {
    service_.Clear();
}

void CThumbnailGrid::SetShown(bool shown) {
    shown_ = shown;
    if (shown) {
        RequestSoon();
        return;
    }
    service_.ForgetPending();
    GiveBackSources();
}

void CThumbnailGrid::Forget() {
    service_.Clear();
    lease_.reset();
    results_ = nullptr;
}

uint32_t CThumbnailGrid::FileAt(int row) const {
    return files_->FileAt(row);
}

const Thumbnail* CThumbnailGrid::ThumbnailOf(uint32_t file) {
    return service_.Find(file);
}

bool CThumbnailGrid::Damaged(uint32_t file) {
    if (const Thumbnail* thumbnail = service_.Find(file)) return thumbnail->damaged;
    const CResultsModel* results = files_->Results();
    return results != nullptr && results->Store().Record(file).contentIntact == 0;
}

const QImage& CThumbnailGrid::IconOf(uint32_t file) {
    const CResultsModel* results = files_->Results();
    const FoundRecord& record = results->Store().Record(file);
    const bool folder = record.isFolder != 0;
    const int category = folder ? -1 : results->CategoryOf(file);
    const QString extension = folder ? QString() : QString::fromUtf8(ExtensionOf(record.Name()));
    const QString key = QString::number(category) + QLatin1Char('.') + extension.toLower();
    auto it = icons_.find(key);
    if (it == icons_.end()) {
        it = icons_.emplace(key, TypeIcon(extension, category, folder, kEdge * 3 / 4)).first;
    }
    return it->second;
}

bool CThumbnailGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport() && event->type() == QEvent::Resize) SpreadColumns();
    if (watched == view_->viewport() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        RequestSoon();
    }
    return QObject::eventFilter(watched, event);
}

// As many columns as fit, the room left shared among them rather than left at the right.
void CThumbnailGrid::SpreadColumns() {
    const QSize cell = delegate_->CellSize();
    // The width the view lays its cells out in: it keeps the vertical scroll bar's room
    // whether the bar shows or not, and wraps a cell that would reach its last pixel (cells
    // spread over the viewport's whole width left a column's room empty at the right).
    const int scrollBar = view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                      view_->verticalScrollBar());
    const int width = std::max(1, view_->maximumViewportSize().width() - scrollBar - 1);
    const int columns = std::max(1, width / cell.width());
    const QSize spread(std::max(cell.width(), width / columns), cell.height());
    if (view_->gridSize() != spread) view_->setGridSize(spread);
}

void CThumbnailGrid::RequestSoon() {
    if (shown_) requestTimer_->start();
}

void CThumbnailGrid::OnModelReset() {
    if (files_->Results() != results_) {
        // Another scan's files: their numbers mean other files now.
        Forget();
        results_ = files_->Results();
    } else {
        // Another folder or type of the same results: what it no longer lists is not read.
        service_.ForgetPending();
    }
    RequestSoon();
}

// The files whose cells show in the view, then a screenful beyond: the service serves the
// newest request first, so those ahead are asked for first and the top left cell last.
void CThumbnailGrid::RequestOnScreen() {
    const int rows = files_->rowCount();
    if (!shown_ || !view_->isVisible() || files_->Results() == nullptr || rows == 0) return;
    const QSize cell = view_->gridSize();
    const QRect area = view_->viewport()->rect();
    int first = rows;
    int last = -1;
    for (int y = cell.height() / 2; y < area.height() + cell.height() / 2; y += cell.height()) {
        for (int x = cell.width() / 2; x < area.width(); x += cell.width()) {
            const QModelIndex at = view_->indexAt(QPoint(x, std::min(y, area.height() - 1)));
            if (!at.isValid()) continue;
            first = std::min(first, at.row());
            last = std::max(last, at.row());
        }
    }
    if (last < 0) return;
    const int ahead = last - first + 1;
    for (int row = std::min(rows - 1, last + ahead); row >= first; --row) Request(FileAt(row));
}

void CThumbnailGrid::Request(uint32_t file) {
    const CResultsModel* results = files_->Results();
    const FoundRecord& record = results->Store().Record(file);
    const int category = results->CategoryOf(file);
    // Only pictures and videos are read; everything else is its icon.
    if (record.isFolder != 0 || record.size == 0 ||
        (category != kPhotoCategory && category != kVideoCategory))
        return;
    if (service_.Find(file) != nullptr) return;
    SourceItem* source = sources_(record.sourceTag);
    if (source == nullptr || !source->engine) return;
    if (lease_ == nullptr) {
        std::vector<SourceItem*> leased;
        for (const ResultsSource& shown : results->Sources()) {
            if (SourceItem* item = sources_(shown.tag)) leased.push_back(item);
        }
        lease_ = std::make_unique<SourceLease>(std::move(leased));
    }
    service_.Request({file, QString::fromUtf8(record.Name()), record.contentIntact == 0,
                      EngineReader(source->engine.get(), record)});
}

// Only this thread asks for reads, so a service idle now stays idle until it is asked again.
void CThumbnailGrid::GiveBackSources() {
    if (lease_ != nullptr && service_.Idle()) lease_.reset();
}

}  // namespace keltra
