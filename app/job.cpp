#include "app/job.h"

namespace keltra {

CJob::CJob() : home_(QThread::currentThread()) {
    connect(&thread_, &QThread::started, this, &CJob::Work);
}

CJob::~CJob() {
    StopAndWait();
}

void CJob::Start() {
    if (started_.exchange(true)) return;
    moveToThread(&thread_);
    thread_.start();
}

void CJob::RequestStop() {
    {
        std::lock_guard guard(holdLock_);
        stop_ = true;
    }
    holdChanged_.notify_all();
}

void CJob::Hold() {
    std::lock_guard guard(holdLock_);
    held_ = true;
}

void CJob::Release() {
    {
        std::lock_guard guard(holdLock_);
        held_ = false;
    }
    holdChanged_.notify_all();
}

bool CJob::ShouldStop() {
    std::unique_lock guard(holdLock_);
    holdChanged_.wait(guard, [this] { return !held_ || stop_; });
    return stop_;
}

void CJob::StopAndWait() {
    if (!started_) return;
    RequestStop();
    thread_.wait();
}

void CJob::Work() {
    Run();
    done_ = true;
    // Back home before anyone hears of the end, so that the results are read where they live.
    moveToThread(home_);
    emit Finished();
    thread_.quit();
}

}  // namespace keltra
