// The search window: walks, on its worker thread, everything each scanned source's engine
// found, folder by folder, and puts every file (or, with a search list, every file whose
// extension is in it) with its folder path into the request's store; then tells the owner
// (kSearchFinishedEvent).
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/found_file_store.h"
#include "app/process_wnd.h"
#include "app/results_model.h"
#include "app/source_item.h"
#include "engines/found_record.h"

namespace keltra {

// The search's output, owned by the main window.
struct SearchRequest {
    std::unique_ptr<FoundFileStore> store;  // made by the caller; filled by the search
    std::vector<ResultsSource> sources;     // the sources searched, numbered as in the store
    Status error = kOk;                     // the store could not be written
    QStringList lostVolumes;  // the lost volumes' folders met, named with their source
};

// The wildcard list as the window keeps it: "*" becomes "." (a "*" right after a "\" is
// dropped), and . ^ $ + ? { } [ ] get a "\" in front.
std::string SearchPatternFromWildcards(std::string_view wildcards);

class CSearchProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    // An empty `wildcards` keeps every file.
    CSearchProcessWnd(QWidget* owner, std::vector<SourceItem*> sources, SearchRequest* request,
                      std::string_view wildcards);
    ~CSearchProcessWnd() override;

    const std::string& Pattern() const { return pattern_; }

    // A progress report of the walk; kCancelled once the user has stopped it.
    int OnProgress(int percent);

  protected:
    void RunWorker() override;
    void RefreshControls() override;

  private:
    std::vector<SourceItem*> sources_;
    std::vector<QString> names_;  // the sources' names, in the language the window started with
    SearchRequest* request_;
    std::string pattern_;
    QString stage_;
    QString percent_;
    int progress_ = 0;
};

}  // namespace keltra
