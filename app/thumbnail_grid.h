// The results page's thumbnail grid: a list view over the file list's own model, so that the
// grid and the list show the same files in the same order, with the same ticks and the same
// current file. Pictures (and videos, when a decoder is installed) are made by a
// ThumbnailService for the files on screen and a screenful ahead; other files, and pictures
// not yet made, show their type's icon. The files' bytes are read through a source lease taken
// when the first read is asked for and given back as soon as no read waits or runs, so the
// source stays closed while the grid merely shows what it made.
#pragma once

#include <QImage>
#include <QObject>
#include <functional>
#include <map>
#include <memory>

#include "app/thumbnail_delegate.h"
#include "app/thumbnail_service.h"

class QListView;
class QTimer;

namespace keltra {

class CFileListModel;
class CResultsModel;
class SourceLease;
struct SourceItem;

class CThumbnailGrid : public QObject, public ThumbnailCells {
    Q_OBJECT

  public:
    // The source whose engine stamps a tag on its records; null when it is gone.
    using SourceFinder = std::function<SourceItem*(uint16_t tag)>;

    CThumbnailGrid(QListView* view, CFileListModel* files, SourceFinder sources,
                   ThumbnailService::Limits limits = {});
    ~CThumbnailGrid() override;
    CThumbnailGrid(const CThumbnailGrid&) = delete;
    CThumbnailGrid& operator=(const CThumbnailGrid&) = delete;

    // Shown: the files on screen are asked for. Hidden: nothing more is read.
    void SetShown(bool shown);
    bool Shown() const { return shown_; }
    // The results go (a new scan, a removed source): every thumbnail and request is forgotten
    // and no read runs when this returns.
    void Forget();

    uint32_t FileAt(int row) const override;
    const Thumbnail* ThumbnailOf(uint32_t file) override;
    // Its thumbnail says so, or the scan found its data not intact.
    bool Damaged(uint32_t file) override;
    const QImage& IconOf(uint32_t file) override;

    ThumbnailService& Service() { return service_; }
    // Whether the grid holds its sources open for reads just now.
    bool HoldsSources() const { return lease_ != nullptr; }

  signals:
    // A thumbnail arrived and was painted in (tests and the benchmark wait on it).
    void ThumbnailShown(quint64 file);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SpreadColumns();
    void RequestSoon();
    void RequestOnScreen();
    void Request(uint32_t file);
    void OnModelReset();
    void GiveBackSources();

    QListView* view_;
    CFileListModel* files_;
    SourceFinder sources_;
    ThumbnailService service_;
    CThumbnailDelegate* delegate_;
    const CResultsModel* results_ = nullptr;  // whose files the thumbnails are
    std::unique_ptr<SourceLease> lease_;
    QTimer* requestTimer_;
    std::map<QString, QImage> icons_;  // by category and extension
    bool shown_ = false;
};

}  // namespace keltra
