// The rescue copy of a partition or a whole disk into an image file, on the job's thread: good
// areas first, bad ones later and as little as possible, with a map beside the image. A stopped
// copy is continued by a job on the same image file.
#pragma once

#include <QObject>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/job.h"
#include "storage/rescue_copier.h"
#include "storage/volume_entry.h"

namespace keltra {

// What an image copies: one partition, or the whole of a disk.
struct ImageSourceChoice {
    std::optional<VolumeEntry> volume;
    int diskNumber = -1;  // the disk of the volume, or the whole disk
    uint64_t sizeBytes = 0;
};

// Where a copy stands, with a picture of its map (empty when the picture did not change).
struct ImageCopyReport {
    RescueProgress progress;
    std::vector<AreaStatus> cells;
};

class CImageCopyJob final : public CJob {
    Q_OBJECT

  public:
    // `cells`: how many cells the map's picture has.
    CImageCopyJob(std::string imagePath, ImageSourceChoice source, RescueOptions options,
                  size_t cells);
    ~CImageCopyJob() override;

    const std::string& ImagePath() const { return imagePath_; }
    // Once finished: the copy's result (0, a system code, 21 when the disk stopped answering,
    // or kCancelled), the counts it ended with, and the line on a map or image that was refused.
    Status Result() const { return result_; }
    const RescueProgress& FinalProgress() const { return final_; }
    const std::string& Problem() const { return problem_; }

  signals:
    void Progress(keltra::ImageCopyReport report);

  protected:
    void Run() override;

  private:
    static int OnRescueProgress(void* user, const RescueProgress& progress, const RescueMap& map);

    std::string imagePath_;
    ImageSourceChoice source_;
    RescueOptions options_;
    size_t cells_;
    Status result_ = kErrInvalidParameter;
    RescueProgress final_;
    std::string problem_;
    // The work's own: when a report and the map's picture were last sent.
    RescueProgress sent_;
    uint64_t sentAtMs_ = 0;
    uint64_t cellsAtMs_ = 0;
    bool cellsSent_ = false;
};

}  // namespace keltra
