#include "app/recover_process_wnd.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>

#include "app/message_format.h"
#include "engines/recovery_target.h"
#include "ui_RecoverProcessWnd.h"

namespace keltra {

namespace {

// The status of a file recovered without error.
constexpr const char* kSuccess = "Success";
constexpr QRgb kFailureColor = 0xFFFF0000;

// How much a file weighs in the bar.
uint64_t BarBytes(const FoundRecord& record) {
    return std::max<uint64_t>(record.size, 1);
}

// `part` percent of `bytes` after `done` of `total`, as a whole percent.
int SharePercent(uint64_t done, uint64_t bytes, int part, uint64_t total) {
    if (total == 0) return 100;
    const long double share =
        (static_cast<long double>(done) + static_cast<long double>(bytes) * part / 100.0L) /
        static_cast<long double>(total);
    return static_cast<int>(std::clamp<long double>(share * 100.0L, 0.0L, 100.0L));
}

}  // namespace

namespace {

std::vector<FoundFileItem> AtTheRoot(std::vector<FoundRecord> records) {
    std::vector<FoundFileItem> items;
    items.reserve(records.size());
    for (FoundRecord& record : records) items.push_back({record, std::string()});
    return items;
}

}  // namespace

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, Mode mode, std::string folder,
                                       std::vector<FoundRecord> records,
                                       std::function<IFileRecoveryParse*(uint16_t)> engineOf)
    : CRecoverProcessWnd(owner, mode, FoundFileRecovery(std::move(folder), {}),
                         AtTheRoot(std::move(records)), std::move(engineOf)) {}

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, Mode mode, FoundFileRecovery recovery,
                                       std::vector<FoundFileItem> items,
                                       std::function<IFileRecoveryParse*(uint16_t)> engineOf)
    : CProcessWnd(owner, "MSG1103"),
      mode_(mode),
      recovery_(std::move(recovery)),
      items_(std::move(items)),
      engineOf_(std::move(engineOf)),
      total_(mode == kOneFile ? 1U : static_cast<unsigned>(items_.size())) {
    if (mode_ == kOneFile && items_.size() > 1) items_.resize(1);
    for (const FoundFileItem& item : items_) totalBytes_ += BarBytes(item.record);
    Ui::RecoverProcessWnd skin;
    skin.setupUi(this);
    resize(kWidth, kHeight);
    setMinimumSize(kWidth, kHeight);
    InitialiseWindow("RecoverProcessWnd");
    // Once recovery has finished the close button closes without a question.
    auto* close = findChild<QPushButton*>("closebtn");
    close->disconnect(this);
    connect(close, &QPushButton::clicked, this, &CRecoverProcessWnd::Cancel);
    connect(findChild<QPushButton*>("CancelBtn"), &QPushButton::clicked, this,
            &CRecoverProcessWnd::Cancel);
    auto* list = findChild<QTreeWidget*>("DetailList");
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->resizeSection(1, 170);
    list->headerItem()->setTextAlignment(1, Qt::AlignCenter);
    connect(findChild<QPushButton*>("OpenBtn"), &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(recovery_.Folder())));
    });
    connect(findChild<QPushButton*>("FinishBtn"), &QPushButton::clicked, this,
            [this] { done(kResultFinished); });
    connect(findChild<QPushButton*>("DetailBtn"), &QPushButton::clicked, this,
            &CRecoverProcessWnd::ToggleDetails);
}

CRecoverProcessWnd::~CRecoverProcessWnd() {
    StopWorker();
}

unsigned CRecoverProcessWnd::Processed() {
    std::lock_guard lock(Lock());
    return processed_;
}

unsigned CRecoverProcessWnd::Failed() {
    std::lock_guard lock(Lock());
    return failed_;
}

int CRecoverProcessWnd::OverallPercent() {
    std::lock_guard lock(Lock());
    return percent_;
}

void CRecoverProcessWnd::RunWorker() {
    mode_ == kAllChecked ? RecoverCheckedThread() : RecoverOneThread();
}

void CRecoverProcessWnd::RecoverCheckedThread() {
    if (!RecoverRecords()) return;
    std::lock_guard lock(Lock());
    finished_ = true;
    QueueRefresh();
}

void CRecoverProcessWnd::RecoverOneThread() {
    RecoverCheckedThread();
}

bool CRecoverProcessWnd::RecoverRecords() {
    for (const FoundFileItem& item : items_) {
        if (CancelRequested()) return false;
        const FoundRecord& record = item.record;
        IFileRecoveryParse* engine = engineOf_ ? engineOf_(record.sourceTag) : nullptr;
        const std::string target =
            engine != nullptr
                ? recovery_.TargetOf(*engine, record, item.folderPath)
                : RecoveryTargetPath(recovery_.Folder(), record, item.folderPath,
                                     recovery_.Choice().layout);
        Status status = kErrInvalidParameter;  // no source holds the record's tag any more
        {
            std::lock_guard lock(Lock());
            fileReported_ = false;
            currentBytes_ = BarBytes(record);
            written_.clear();
        }
        if (engine != nullptr) {
            if (engine->SetCallbacks(nullptr, &OnRecoverProgress, this, 100) != kOk) break;
            bool faulted = false;
            try {
                status = engine->RecoverRecord(record, target, recovery_.RootSeparators());
            } catch (const std::exception&) {
                faulted = true;
            }
            engine->SetCallbacks(nullptr, nullptr, nullptr, 100);
            if (faulted) {
                // A fault while copying this one file: it counts as failed, the next goes on.
                std::lock_guard lock(Lock());
                ++processed_;
                ++failed_;
                bytesDone_ += currentBytes_;
                currentBytes_ = 0;
                percent_ = SharePercent(bytesDone_, 0, 0, totalBytes_);
                QueueRefresh();
                continue;
            }
            if (status == kCancelled) return false;
        }
        std::string written;
        {
            // An engine that failed before it could copy anything answers only with its
            // result; the file still counts, as failed, and is listed with the reason.
            std::lock_guard lock(Lock());
            if (!fileReported_ && status != kOk) {
                CountOutcome(status, target);
                current_ = QString::fromStdString(target);
            }
            bytesDone_ += currentBytes_;
            currentBytes_ = 0;
            percent_ = SharePercent(bytesDone_, 0, 0, totalBytes_);
            QueueRefresh();
            written = written_;
        }
        // A file kept whole gets its time back; one that cannot is still recovered.
        if (!written.empty()) recovery_.KeepModifiedTime(written, record);
    }
    return true;
}

int CRecoverProcessWnd::OnRecoverProgress(void* user, int part, int scale, Status error,
                                          const std::string& targetPath) {
    auto* window = static_cast<CRecoverProcessWnd*>(user);
    std::lock_guard lock(window->Lock());
    if (window->CancelRequested()) return kCancelled;
    const int percent = part * scale / 100;
    if (percent == 100) {
        window->fileReported_ = true;
        window->CountOutcome(error, targetPath);
        if (error == kOk) window->written_ = targetPath;
    }
    window->percent_ =
        SharePercent(window->bytesDone_, window->currentBytes_, percent, window->totalBytes_);
    window->current_ = QString::fromStdString(targetPath);
    window->QueueRefresh();
    return 0;
}

void CRecoverProcessWnd::CountOutcome(Status error, const std::string& targetPath) {
    if (error != kOk) ++failed_;
    ++processed_;
    newRows_.push_back({error != kOk ? QString::fromStdString(StatusMessage(error))
                                     : QString::fromLatin1(kSuccess),
                        QString::fromStdString(targetPath)});
}

void CRecoverProcessWnd::RefreshControls() {
    findChild<QProgressBar*>("progress")->setValue(percent_);
    findChild<QLabel*>("current")->setText(current_);
    findChild<QLabel*>("percent")->setText(
        FormatMessage(QStringLiteral("%s %d%%"), {Text("MSG1101"), QString::number(percent_)}));
    findChild<QLabel*>("recovered")
        ->setText(FormatMessage(Text("MSG1102"),
                                {QString::number(processed_), QString::number(total_),
                                 QString::number(processed_ - failed_), QString::number(failed_)}));
    for (const DetailRow& row : newRows_) AddDetailRow(row.status, row.targetPath);
    newRows_.clear();
    if (finished_) {
        findChild<QLabel*>("current")
            ->setText(FormatMessage(Text("MSG1104"),
                                    {QString::number(processed_ - failed_),
                                     QString::number(failed_),
                                     QString::fromStdString(recovery_.Folder())}));
        findChild<QWidget*>("FinishBtn")->show();
        findChild<QWidget*>("CancelBtn")->hide();
    }
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
    bool finished = false;
    {
        std::lock_guard lock(Lock());
        finished = finished_;
    }
    if (finished) {
        done(kResultFinished);
        return;
    }
    if (AskCancel()) done(kResultCancelled);
}

void CRecoverProcessWnd::reject() {
    Cancel();
}

}  // namespace keltra
