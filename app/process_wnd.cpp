#include "app/process_wnd.h"

#include <QHideEvent>
#include <QPushButton>

#include "app/apply_section.h"
#include "app/dialog_position.h"
#include "app/message_box.h"

namespace keltra {

CProcessWnd::CProcessWnd(QWidget* owner, std::string cancelQuestion)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      cancelQuestion_(std::move(cancelQuestion)) {
    setModal(true);
}

CProcessWnd::~CProcessWnd() {
    job_.reset();  // stops the work and waits for its thread
}

void CProcessWnd::InitialiseWindow(const char* languageSection) {
    messages_ = LanguageTable().Section("Messages");
    ApplySection(this, languageSection);
    for (const char* name : {"cancelbtn", "closebtn"}) {
        if (auto* button = findChild<QPushButton*>(name)) {
            connect(button, &QPushButton::clicked, this, &CProcessWnd::AskCancel);
        }
    }
}

void CProcessWnd::Present(std::unique_ptr<CJob> job) {
    job_ = std::move(job);
    connect(job_.get(), &CJob::Finished, this, &CProcessWnd::JobFinished);
}

void CProcessWnd::showEvent(QShowEvent* event) {
    if (!begun_) CentreOverParent(this);
    QDialog::showEvent(event);
    if (begun_) return;
    begun_ = true;
    // After the window is up, so that a question asked first stands over it.
    QMetaObject::invokeMethod(this, &CProcessWnd::BeginWork, Qt::QueuedConnection);
}

void CProcessWnd::hideEvent(QHideEvent* event) {
    // Closed while the work runs (the owner went, the program is quitting): the work stops,
    // and has ended before whoever opened the window reads what it left. (A window minimised
    // is hidden by the system, and works on.)
    if (!event->spontaneous() && job_ != nullptr && job_->Running()) job_->StopAndWait();
    QDialog::hideEvent(event);
}

void CProcessWnd::BeginWork() {
    if (job_ != nullptr && isVisible()) job_->Start();
}

void CProcessWnd::OnFinished() {
    done(kProcessDone);
}

void CProcessWnd::JobFinished() {
    if (!isVisible()) return;  // closed before the job ended: nothing more to show
    if (askingCancel_) {
        finishWaiting_ = true;
        return;
    }
    OnFinished();
}

void CProcessWnd::reject() {
    AskCancel();
}

bool CProcessWnd::AskCancel() {
    if (job_ == nullptr || !job_->Running() || job_->StopRequested() || askingCancel_) {
        return false;
    }
    askingCancel_ = true;
    job_->Hold();
    const int answer = ShowMessage(kMessageQuestion, this, Text(cancelQuestion_));
    askingCancel_ = false;
    const bool confirmed = answer == kAnswerOk;
    if (confirmed) job_->RequestStop();
    job_->Release();
    if (finishWaiting_) {
        finishWaiting_ = false;
        OnFinished();
    }
    return confirmed;
}

}  // namespace keltra
