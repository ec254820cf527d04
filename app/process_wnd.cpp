#include "app/process_wnd.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QThread>

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
    worker_.join();
}

void CProcessWnd::reject() {
    AskCancel();
}

bool CProcessWnd::AskCancel() {
    std::unique_lock guard(lock_);
    if (!worker_.joinable() || workerDone_) return false;
    if (ShowMessage(kMessageQuestion, this, Text(cancelQuestion_)) != kAnswerOk) return false;
    cancel_ = true;
    guard.unlock();
    while (!workerDone_) QThread::msleep(50);
    return true;
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
