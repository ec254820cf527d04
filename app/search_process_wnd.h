// The search window: asks every scanned source's engine, on its worker thread, for the records
// whose extension is in the search list, collecting them in the request, and tells the owner
// (kSearchFinishedEvent) when it is done.
#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "app/process_wnd.h"
#include "app/source_item.h"
#include "engines/found_record.h"

namespace keltra {

// The search's output, owned by the main window.
struct SearchRequest {
    std::vector<FoundRecord> found;
};

// The wildcard list as the window keeps it: "*" becomes "." (a "*" right after a "\" is
// dropped), and . ^ $ + ? { } [ ] get a "\" in front.
std::string SearchPatternFromWildcards(std::string_view wildcards);

class CSearchProcessWnd : public CProcessWnd {
    Q_OBJECT

  public:
    CSearchProcessWnd(QWidget* owner, std::vector<SourceItem*> sources, SearchRequest* request,
                      std::string_view wildcards);
    ~CSearchProcessWnd() override;

    const std::string& Pattern() const { return pattern_; }

    // The search progress callback's work.
    int OnProgress(int percent);

  protected:
    void RunWorker() override;
    void RefreshControls() override;

  private:
    std::vector<SourceItem*> sources_;
    SearchRequest* request_;
    std::string pattern_;
    QString stage_;
    QString percent_;
    int progress_ = 0;
};

}  // namespace keltra
