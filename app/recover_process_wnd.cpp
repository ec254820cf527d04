#include "app/recover_process_wnd.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QUrl>

#include "app/message_format.h"
#include "app/ui/apply_section.h"
#include "engines/recovery_target.h"
#include "ui_RecoverProcessWnd.h"

namespace keltra {

namespace {

// The status of a file recovered without error.
constexpr const char* kSuccess = "Success";
constexpr QRgb kFailureColor = 0xFFFF0000;

}  // namespace

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, Mode mode, std::string folder,
                                       std::vector<FoundRecord> records,
                                       std::function<IFileRecoveryParse*(uint16_t)> engineOf)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      mode_(mode),
      folder_(std::move(folder)),
      records_(std::move(records)),
      engineOf_(std::move(engineOf)),
      total_(mode == kOneFile ? 1U : static_cast<unsigned>(records_.size())) {
    if (mode_ == kOneFile && records_.size() > 1) records_.resize(1);
    Ui::RecoverProcessWnd skin;
    skin.setupUi(this);
    setModal(true);
    resize(kWidth, kHeight);
    setMinimumSize(kWidth, kHeight);
    gate_.Reset();
    auto* list = findChild<QTreeWidget*>("DetailList");
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->resizeSection(1, 170);
    list->headerItem()->setTextAlignment(1, Qt::AlignCenter);
    connect(findChild<QPushButton*>("OpenBtn"), &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder_)));
    });
    connect(findChild<QPushButton*>("FinishBtn"), &QPushButton::clicked, this,
            [this] { done(kResultFinished); });
    connect(findChild<QPushButton*>("DetailBtn"), &QPushButton::clicked, this,
            &CRecoverProcessWnd::ToggleDetails);
    connect(findChild<QPushButton*>("CancelBtn"), &QPushButton::clicked, this,
            &CRecoverProcessWnd::Cancel);
    connect(findChild<QPushButton*>("closebtn"), &QPushButton::clicked, this,
            &CRecoverProcessWnd::Cancel);
}

CRecoverProcessWnd::~CRecoverProcessWnd() {
    if (worker_.joinable()) worker_.join();
}

unsigned CRecoverProcessWnd::Processed() {
    std::lock_guard lock(gate_.Lock());
    return processed_;
}

unsigned CRecoverProcessWnd::Failed() {
    std::lock_guard lock(gate_.Lock());
    return failed_;
}

// "windowinit": the language, then the worker.
void CRecoverProcessWnd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    ApplySection(this, "RecoverProcessWnd");
    worker_ =
        std::thread([this] { mode_ == kAllChecked ? RecoverCheckedThread() : RecoverOneThread(); });
}

void CRecoverProcessWnd::RecoverCheckedThread() {
    if (RecoverRecords()) PostFinished();
    gate_.SetWorkerDone();
}

void CRecoverProcessWnd::RecoverOneThread() {
    if (RecoverRecords()) PostFinished();
    gate_.SetWorkerDone();
}

bool CRecoverProcessWnd::RecoverRecords() {
    const int depth = RootSeparatorCount(folder_);
    for (const FoundRecord& record : records_) {
        if (gate_.CancelRequested()) return false;
        const std::string target =
            RecoveryTargetPath(folder_, record, std::string_view(), RecoveryLayout::ByCategory);
        IFileRecoveryParse* engine = engineOf_ ? engineOf_(record.sourceTag) : nullptr;
        Status status = kErrInvalidParameter;  // no source holds the record's tag any more
        {
            std::lock_guard lock(gate_.Lock());
            fileReported_ = false;
        }
        if (engine != nullptr) {
            if (engine->SetCallbacks(nullptr, &OnRecoverProgress, this, 100) != kOk) break;
            try {
                status = engine->RecoverRecord(record, target, depth);
            } catch (const std::exception&) {
                // A fault while copying this one file: counted as failed, the next one goes on.
                engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
                std::lock_guard lock(gate_.Lock());
                ++processed_;
                ++failed_;
                PostProgress(0, target);
                continue;
            }
            engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
            if (status == kCancelled) return false;
        }
        // An engine that failed before it could copy anything answers only with its result;
        // the file still counts, as failed, and is listed with the reason.
        std::lock_guard lock(gate_.Lock());
        if (!fileReported_ && status != kOk) {
            CountOutcome(status, target);
            PostProgress(100, target);
        }
    }
    return true;
}

int CRecoverProcessWnd::OnRecoverProgress(void* user, int part, int scale, Status error,
                                          const std::string& targetPath) {
    auto* window = static_cast<CRecoverProcessWnd*>(user);
    std::lock_guard lock(window->gate_.Lock());
    if (window->gate_.CancelRequested()) return kCancelled;
    const int percent = part * scale / 100;
    if (percent == 100) {
        window->fileReported_ = true;
        window->CountOutcome(error, targetPath);
    }
    window->PostProgress(percent, targetPath);
    return 0;
}

void CRecoverProcessWnd::CountOutcome(Status error, const std::string& targetPath) {
    const QString status =
        error != kOk ? QString::fromStdString(StatusMessage(error)) : QString::fromLatin1(kSuccess);
    if (error != kOk) ++failed_;
    ++processed_;
    const QString path = QString::fromStdString(targetPath);
    QMetaObject::invokeMethod(
        this, [this, status, path] { AddDetailRow(status, path); }, Qt::QueuedConnection);
}

void CRecoverProcessWnd::PostProgress(int percent, const std::string& targetPath) {
    const QString path = QString::fromStdString(targetPath);
    const QString percentText = FormatMessage(QStringLiteral("%s %d%%"),
                                              {MessageText("MSG1101"), QString::number(percent)});
    const QString recovered = FormatMessage(
        MessageText("MSG1102"), {QString::number(processed_), QString::number(total_),
                                 QString::number(processed_ - failed_), QString::number(failed_)});
    QMetaObject::invokeMethod(
        this,
        [this, percent, path, percentText, recovered] {
            findChild<QProgressBar*>("progress")->setValue(percent);
            findChild<QLabel*>("current")->setText(path);
            findChild<QLabel*>("percent")->setText(percentText);
            findChild<QLabel*>("recovered")->setText(recovered);
        },
        Qt::QueuedConnection);
}

void CRecoverProcessWnd::PostFinished() {
    finished_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            findChild<QWidget*>("FinishBtn")->show();
            findChild<QWidget*>("CancelBtn")->hide();
        },
        Qt::QueuedConnection);
}

void CRecoverProcessWnd::AddDetailRow(const QString& status, const QString& targetPath) {
    auto* list = findChild<QTreeWidget*>("DetailList");
    auto* row = new QTreeWidgetItem({targetPath, status});
    row->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    row->setTextAlignment(1, Qt::AlignCenter);
    row->setToolTip(0, targetPath);
    if (status == QLatin1String(kSuccess)) {
        list->addTopLevelItem(row);
    } else {
        for (int column = 0; column < 2; ++column)
            row->setForeground(column, QColor::fromRgba(kFailureColor));
        list->insertTopLevelItem(0, row);
    }
}

void CRecoverProcessWnd::ToggleDetails() {
    detailsShown_ = !detailsShown_;
    auto* list = findChild<QWidget*>("DetailList");
    if (detailsShown_) {
        resize(width() + kDetailWidth, height() + kDetailHeight);
        list->show();
    } else {
        list->hide();
        resize(kWidth, kHeight);
    }
    const QWidget* over = parentWidget();
    const QRect area = over != nullptr ? over->frameGeometry()
                                       : QGuiApplication::primaryScreen()->availableGeometry();
    move(area.center() - rect().center());
}

void CRecoverProcessWnd::Cancel() {
    if (finished_) {
        done(kResultFinished);
        return;
    }
    if (gate_.AskCancel(this, MessageText("MSG1103"))) done(kResultCancelled);
}

void CRecoverProcessWnd::reject() {
    Cancel();
}

}  // namespace keltra
