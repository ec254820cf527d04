// A long piece of work on a thread of its own, in Qt's worker-object manner: Start() moves the
// job to its thread and runs it there; it reports by signals, which reach the windows on the
// user-interface thread queued, in the order sent. When the work is over the job moves back to
// the thread it was made on, and only then says Finished(): from then on its results are read
// there without a lock.
//
// A stop is a request the work polls (ShouldStop(), or the engines' progress callbacks that
// ask it). Hold() makes the work wait at its next poll until Release() or a stop: the work
// stands still while a question about stopping it is open.
#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace keltra {

class CJob : public QObject {
    Q_OBJECT

  public:
    CJob();
    // The derived job's destructor calls StopAndWait() first: the work uses its members.
    ~CJob() override;
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    // User-interface thread, once.
    void Start();
    // Any thread.
    void RequestStop();
    bool StopRequested() const { return stop_; }
    void Hold();
    void Release();
    // Started, and its work has not ended yet.
    bool Running() const { return started_ && !done_; }
    // The work has ended (ran out or stopped).
    bool Done() const { return done_; }
    // Asks the work to stop and waits for its thread to end; nothing to do for a job that never
    // started or has ended.
    void StopAndWait();

  signals:
    void Finished();

  protected:
    // The whole work, on the job's thread.
    virtual void Run() = 0;
    // Work side: waits while the job is held; true once a stop was asked.
    bool ShouldStop();

  private:
    void Work();

    QThread thread_;
    QThread* home_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> done_{false};
    std::mutex holdLock_;
    std::condition_variable holdChanged_;
    bool held_ = false;
};

}  // namespace keltra
