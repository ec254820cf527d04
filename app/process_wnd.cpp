#include "app/process_wnd.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "app/dialog_position.h"
#include "app/message_box.h"
#include "app/ui/apply_section.h"

namespace keltra {

CProcessWnd::CProcessWnd(QWidget* owner, std::string cancelQuestion)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      cancelQuestion_(std::move(cancelQuestion)),
      owner_(owner) {
    setModal(true);
}

CProcessWnd::~CProcessWnd() {
    StopWorker();
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

void CProcessWnd::showEvent(QShowEvent* event) {
    if (!worker_.joinable()) CentreOverParent(this);
    QDialog::showEvent(event);
    if (worker_.joinable()) return;
    worker_ = std::thread([this] {
        RunWorker();
        workerDone_ = true;
    });
}

void CProcessWnd::StopWorker() {
    if (!worker_.joinable()) return;
    cancel_ = true;
    {
        std::lock_guard answerGuard(answerLock_);
    }
    answerReady_.notify_all();
    worker_.join();
}

void CProcessWnd::reject() {
    AskCancel();
}

bool CProcessWnd::AskCancel() {
    std::unique_lock guard(lock_);
    if (!worker_.joinable() || workerDone_ || askingCancel_) return false;
    askingCancel_ = true;
    const int answer = ShowMessage(kMessageQuestion, this, Text(cancelQuestion_));
    askingCancel_ = false;
    if (answer != kAnswerOk) return false;
    cancel_ = true;
    guard.unlock();
    {
        // A worker waiting for the answer to a question of its own stops waiting.
        std::lock_guard answerGuard(answerLock_);
    }
    answerReady_.notify_all();
    while (!workerDone_) QThread::msleep(50);
    return true;
}

std::optional<int> CProcessWnd::AskFromWorker(const QString& question) {
    auto pending = std::make_shared<PendingAnswer>();
    QMetaObject::invokeMethod(
        this, [this, pending, question] { ShowWorkerQuestion(pending, question); },
        Qt::QueuedConnection);
    std::unique_lock guard(answerLock_);
    answerReady_.wait(guard, [&] { return pending->answer.has_value() || cancel_; });
    if (cancel_) return std::nullopt;
    return pending->answer;
}

void CProcessWnd::ShowWorkerQuestion(const std::shared_ptr<PendingAnswer>& pending,
                                     const QString& question) {
    if (cancel_) return;
    if (askingCancel_) {
        // One question at a time: this one follows once the stop question is answered.
        QTimer::singleShot(50, this, [this, pending, question] {
            ShowWorkerQuestion(pending, question);
        });
        return;
    }
    const int answer = ShowMessage(kMessageQuestion, this, question);
    {
        std::lock_guard guard(answerLock_);
        pending->answer = answer;
    }
    answerReady_.notify_all();
}

void CProcessWnd::QueueRefresh() {
    if (refreshQueued_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshQueued_ = false;
            std::lock_guard guard(lock_);
            RefreshControls();
        },
        Qt::QueuedConnection);
}

void CProcessWnd::CloseLater(int code) {
    QMetaObject::invokeMethod(
        this, [this, code] { done(code); }, Qt::QueuedConnection);
}

void CProcessWnd::FinishAndNotify(QEvent::Type event) {
    workerDone_ = true;
    if (owner_ != nullptr) QCoreApplication::postEvent(owner_, new QEvent(event));
    CloseLater(kProcessDone);
}

}  // namespace keltra
