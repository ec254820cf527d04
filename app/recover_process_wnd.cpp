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

#include "app/message_format.h"
#include "ui_RecoverProcessWnd.h"

namespace keltra {

namespace {

// The status of a file recovered without error.
constexpr const char* kSuccess = "Success";
constexpr QRgb kFailureColor = 0xFFFF0000;

std::vector<FoundFileItem> AtTheRoot(std::vector<FoundRecord> records) {
    std::vector<FoundFileItem> items;
    items.reserve(records.size());
    for (FoundRecord& record : records) items.push_back({record, std::string()});
    return items;
}

}  // namespace

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, Mode mode, std::string folder,
                                       std::vector<FoundRecord> records,
                                       const std::function<ScanEngine*(uint16_t)>& engineOf)
    : CRecoverProcessWnd(owner, mode, FoundFileRecovery(std::move(folder), {}),
                         AtTheRoot(std::move(records)), engineOf) {}

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, Mode mode, FoundFileRecovery recovery,
                                       std::vector<FoundFileItem> items,
                                       const std::function<ScanEngine*(uint16_t)>& engineOf)
    : CProcessWnd(owner, "MSG1103") {
    if (mode == kOneFile && items.size() > 1) items.resize(1);
    auto job = std::make_unique<CRecoverJob>(std::move(recovery), std::move(items), engineOf);
    recovery_ = job.get();
    connect(recovery_, &CRecoverJob::Progress, this, &CRecoverProcessWnd::ShowProgress);
    connect(recovery_, &CRecoverJob::FileDone, this, &CRecoverProcessWnd::AddDetailRow);
    Present(std::move(job));
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
            QUrl::fromLocalFile(QString::fromStdString(recovery_->Recovery().Folder())));
    });
    connect(findChild<QPushButton*>("FinishBtn"), &QPushButton::clicked, this,
            [this] { done(kResultFinished); });
    connect(findChild<QPushButton*>("DetailBtn"), &QPushButton::clicked, this,
            &CRecoverProcessWnd::ToggleDetails);
    ShowCounts();
}

void CRecoverProcessWnd::OnFinished() {
    lease_.reset();
    if (!recovery_->Completed()) {
        done(kResultCancelled);
        return;
    }
    finished_ = true;
    findChild<QLabel*>("current")
        ->setText(FormatMessage(Text("MSG1104"),
                                {QString::number(report_.processed - report_.failed),
                                 QString::number(report_.failed),
                                 QString::fromStdString(recovery_->Recovery().Folder())}));
    findChild<QWidget*>("FinishBtn")->show();
    findChild<QWidget*>("CancelBtn")->hide();
}

void CRecoverProcessWnd::ShowProgress(const RecoverReport& report) {
    report_ = report;
    findChild<QLabel*>("current")->setText(report_.current);
    ShowCounts();
}

void CRecoverProcessWnd::ShowCounts() {
    findChild<QProgressBar*>("progress")->setValue(report_.percent);
    findChild<QLabel*>("percent")->setText(FormatMessage(
        QStringLiteral("%s %d%%"), {Text("MSG1101"), QString::number(report_.percent)}));
    findChild<QLabel*>("recovered")
        ->setText(FormatMessage(Text("MSG1102"), {QString::number(report_.processed),
                                                  QString::number(Total()),
                                                  QString::number(report_.processed -
                                                                  report_.failed),
                                                  QString::number(report_.failed)}));
}

void CRecoverProcessWnd::AddDetailRow(int error, const QString& targetPath) {
    const QString status = error != kOk ? QString::fromStdString(StatusMessage(error))
                                        : QString::fromLatin1(kSuccess);
    auto* list = findChild<QTreeWidget*>("DetailList");
    auto* row = new QTreeWidgetItem({targetPath, status});
    row->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    row->setTextAlignment(1, Qt::AlignCenter);
    row->setToolTip(0, targetPath);
    if (error == kOk) {
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
    AskCancel();  // a confirmed cancel closes the window once the job has stopped
}

void CRecoverProcessWnd::reject() {
    Cancel();
}

}  // namespace keltra
