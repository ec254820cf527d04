#include "app/progress_gate.h"

#include <chrono>
#include <thread>

#include "app/message_box.h"

namespace keltra {

void CProgressGate::Reset() {
    cancelRequested_ = false;
    workerDone_ = false;
}

bool CProgressGate::AskCancel(QWidget* owner, const QString& question) {
    {
        std::unique_lock lock(lock_);
        if (ShowMessage(kMessageQuestion, owner, question) != kAnswerOk) return false;
        cancelRequested_ = true;
    }
    while (!workerDone_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

}  // namespace keltra
