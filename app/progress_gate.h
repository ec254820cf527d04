// The lock and the two flags a modal progress window shares with its worker thread. The worker's
// progress callbacks take the lock and look at the cancel flag; the window holds the same lock
// while its cancel question is open, so the worker pauses at its next report until the user has
// answered.
#pragma once

#include <QString>
#include <atomic>
#include <mutex>

class QWidget;

namespace keltra {

class CProgressGate {
  public:
    std::mutex& Lock() { return lock_; }

    // Both flags cleared, as when a window initialises.
    void Reset();

    // Set once the user confirmed cancelling; the worker's next callback answers kCancelled.
    bool CancelRequested() const { return cancelRequested_.load(); }
    void RequestCancel() { cancelRequested_ = true; }

    // Set by the worker as its very last step.
    bool WorkerDone() const { return workerDone_.load(); }
    void SetWorkerDone() { workerDone_ = true; }

    // Takes the lock and asks `question` in a Question box owned by `owner`. On OK the cancel
    // flag is set, the lock released, and the call waits, checking every 50 ms, until the worker
    // is done; true then. Any other answer releases the lock and returns false.
    bool AskCancel(QWidget* owner, const QString& question);

  private:
    std::mutex lock_;
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> workerDone_{false};
};

}  // namespace keltra
