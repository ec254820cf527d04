// The search window: presents a search job (app/search_job.h) over the sources a scan left,
// and closes with kProcessDone once it has finished or was stopped.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "app/process_wnd.h"
#include "app/search_job.h"

namespace keltra {

class CSearchProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    // An empty `wildcards` keeps every file.
    CSearchProcessWnd(QWidget* owner, std::vector<ScannedSource> scanned,
                      std::unique_ptr<FoundFileStore> store, std::string_view wildcards);

    const std::string& Pattern() const { return search_->Pattern(); }
    // Once the window has closed: the sources with their engines and what was found on them.
    SearchResults TakeResults() { return search_->TakeResults(); }

  private:
    void ShowSource(int source);
    void ShowProgress(int percent);

    CSearchJob* search_;
    std::vector<const SourceItem*> items_;  // the job's sources, for the stage line
};

}  // namespace keltra
