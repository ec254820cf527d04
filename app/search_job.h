// The search over what a scan found, on the job's thread: walks each scanned source's engine
// folder by folder and puts every file (or, with a search list, every file whose extension is
// in it) with its folder path into a store. The sources, their engines and the store travel
// together: the job takes the scan's sources and hands them back with the files found on them.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/found_file_store.h"
#include "app/job.h"
#include "app/results_model.h"
#include "app/scan_job.h"

namespace keltra {

// What a scan and its search found.
struct SearchResults {
    std::vector<ScannedSource> scanned;     // every source of the scan, searched or not
    std::unique_ptr<FoundFileStore> store;  // the files, numbered by their source in `sources`
    std::vector<ResultsSource> sources;     // the sources searched, in the order searched
    Status error = kOk;                     // the store could not be written
    QStringList lostVolumes;  // the lost volumes' folders met, named with their source
};

// The wildcard list as the search keeps it: "*" becomes "." (a "*" right after a "\" is
// dropped), and . ^ $ + ? { } [ ] get a "\" in front.
std::string SearchPatternFromWildcards(std::string_view wildcards);

class CSearchJob final : public CJob {
    Q_OBJECT

  public:
    // `names`: how the results name each of `scanned`'s sources. `store`: made by the caller,
    // filled here. An empty `wildcards` keeps every file.
    CSearchJob(std::vector<ScannedSource> scanned, std::vector<QString> names,
               std::unique_ptr<FoundFileStore> store, std::string_view wildcards);
    ~CSearchJob() override;

    const std::string& Pattern() const { return pattern_; }
    // Once finished (taken once).
    SearchResults TakeResults() { return std::move(results_); }

  signals:
    void SourceStarted(int source);
    void Progress(int percent);

  protected:
    void Run() override;

  private:
    // False once the user has stopped the search.
    bool Report(int percent);

    std::vector<QString> names_;
    std::string pattern_;
    SearchResults results_;
    int sent_ = -1;
};

}  // namespace keltra
