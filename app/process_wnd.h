// The base of the modal progress windows that run one long operation on a worker thread.
//
// The window and its worker share one lock, a cancel flag and a worker-finished flag. The
// worker never touches a widget: it changes the window's view (the texts the controls are to
// show) while holding the lock and queues a refresh, which the user-interface thread carries out
// under the same lock. A click on "cancelbtn" or "closebtn" (or Escape) asks the cancel question
// while holding the lock, so a worker reaching its next progress report waits until the user has
// answered; a confirmed cancel sets the flag, and the window then waits in steps of 50 ms for the
// worker to finish before the worker closes it.
#pragma once

#include <QDialog>
#include <QEvent>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/language_table.h"
#include "app/ui/apply_section.h"

namespace keltra {

// Posted to the owner window when the scan worker, and the search worker, are done.
inline constexpr QEvent::Type kScanFinishedEvent = static_cast<QEvent::Type>(QEvent::User + 1);
inline constexpr QEvent::Type kSearchFinishedEvent = static_cast<QEvent::Type>(QEvent::User + 2);

// Window results.
inline constexpr int kProcessDone = 1;      // finished or cancelled
inline constexpr int kProcessNoEngine = 3;  // a source had no engine

class CProcessWnd : public QDialog {
    Q_OBJECT

  public:
    // `cancelQuestion`: the "Messages" key of the cancel question.
    CProcessWnd(QWidget* owner, std::string cancelQuestion);
    ~CProcessWnd() override;

    bool CancelRequested() const { return cancel_; }
    bool WorkerDone() const { return workerDone_; }

    void reject() override;

  protected:
    // After the skin is set up: applies the language section, keeps the "Messages" texts for the
    // worker, and connects "cancelbtn" and "closebtn" to the cancel question.
    void InitialiseWindow(const char* languageSection);

    // The worker's whole run, on the worker thread. The worker-finished flag is set after it.
    virtual void RunWorker() = 0;
    // Puts the view into the controls; user-interface thread, under the lock.
    virtual void RefreshControls() = 0;

    // Worker side.
    std::recursive_mutex& Lock() { return lock_; }
    void QueueRefresh();
    // Closes the window with `code` once the user-interface thread gets to it.
    void CloseLater(int code);
    // Sets the finished flag, posts `event` to the owner and closes the window with `kProcessDone`.
    void FinishAndNotify(QEvent::Type event);
    // Asks `question` in a question box over the window and waits for the answer (kAnswerOk…).
    // None when the user stopped the work before answering: the question is then not asked, or
    // no longer waited for, so a stop never waits on a question nor a question on a stop.
    std::optional<int> AskFromWorker(const QString& question);
    // A "Messages" text of the language the window started with (safe on the worker).
    QString Text(std::string_view key) const { return QText(messages_, key); }

    // Stops a worker still running and waits for it; derived windows call it in their
    // destructors, before their own members go.
    void StopWorker();

    void showEvent(QShowEvent* event) override;

    // The cancel question; true when the user confirmed it and the worker has finished.
    bool AskCancel();

  private:
    struct PendingAnswer {
        std::optional<int> answer;
    };
    // User-interface thread: shows a worker's question once no stop question is open.
    void ShowWorkerQuestion(const std::shared_ptr<PendingAnswer>& pending, const QString& question);

    std::string cancelQuestion_;
    QWidget* owner_;
    TextMap messages_;
    std::recursive_mutex lock_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> workerDone_{false};
    std::atomic<bool> refreshQueued_{false};
    bool askingCancel_ = false;  // the stop question is open (user-interface thread)
    std::mutex answerLock_;
    std::condition_variable answerReady_;
    std::thread worker_;
};

}  // namespace keltra
