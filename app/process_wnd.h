// The base of the modal progress windows, each presenting one job (app/job.h) that does the
// work on a thread of its own and reports by signals; the window only shows what it hears.
//
// The job starts once the window shows. A click on "cancelbtn" or "closebtn" (or Escape) asks
// the cancel question; while it is open the job is held at its next report, so the work stands
// still while the user decides; a confirmed cancel asks the job to stop, and the window closes
// when the job has finished. A window that closes while its job still runs (its owner closed,
// the program quitting) stops the job and waits for its thread: once the window is closed,
// what the job left can be read.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "app/apply_section.h"
#include "app/job.h"
#include "app/language_table.h"

namespace keltra {

// Window results.
inline constexpr int kProcessDone = 1;      // finished or cancelled
inline constexpr int kProcessNoEngine = 3;  // a source had no engine

class CProcessWnd : public QDialog {
    Q_OBJECT

  public:
    // `cancelQuestion`: the "Messages" key of the cancel question.
    CProcessWnd(QWidget* owner, std::string cancelQuestion);
    ~CProcessWnd() override;

    bool CancelRequested() const { return job_ != nullptr && job_->StopRequested(); }
    bool WorkerDone() const { return job_ != nullptr && job_->Done(); }

    void reject() override;

  protected:
    // After the skin is set up: applies the language section, keeps the "Messages" texts, and
    // connects "cancelbtn" and "closebtn" to the cancel question.
    void InitialiseWindow(const char* languageSection);
    // The job the window presents (once, from the derived constructor).
    void Present(std::unique_ptr<CJob> job);
    CJob* Job() const { return job_.get(); }

    // Once the window shows: starts the job. A window with questions to ask first asks them
    // here, over itself.
    virtual void BeginWork();
    // The job has finished (and any cancel question is answered): by default the window closes
    // with kProcessDone.
    virtual void OnFinished();

    // A "Messages" text of the language the window started with.
    QString Text(std::string_view key) const { return QText(messages_, key); }

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // The cancel question; true when the user confirmed it (the job is then stopping).
    bool AskCancel();

  private:
    void JobFinished();

    std::string cancelQuestion_;
    TextMap messages_;
    std::unique_ptr<CJob> job_;
    bool begun_ = false;
    bool askingCancel_ = false;
    bool finishWaiting_ = false;  // the job finished while the cancel question was open
};

}  // namespace keltra
