#include "app/search_process_wnd.h"

#include <QLabel>
#include <QProgressBar>

#include "app/message_format.h"
#include "ui_SearchProcessWnd.h"

namespace keltra {

CSearchProcessWnd::CSearchProcessWnd(QWidget* owner, std::vector<ScannedSource> scanned,
                                     std::unique_ptr<FoundFileStore> store,
                                     std::string_view wildcards)
    : CProcessWnd(owner, "MSG1205") {
    std::vector<QString> names;
    for (const ScannedSource& source : scanned) {
        names.push_back(SourceName(*source.item));
        items_.push_back(source.item);
    }
    auto job = std::make_unique<CSearchJob>(std::move(scanned), std::move(names),
                                            std::move(store), wildcards);
    search_ = job.get();
    connect(search_, &CSearchJob::SourceStarted, this, &CSearchProcessWnd::ShowSource);
    connect(search_, &CSearchJob::Progress, this, &CSearchProcessWnd::ShowProgress);
    Present(std::move(job));
    Ui::SearchProcessWnd skin;
    skin.setupUi(this);
    setFixedSize(450, 220);
    InitialiseWindow("SearchProcessWnd");
    setWindowTitle(findChild<QLabel*>("title")->text());
}

void CSearchProcessWnd::ShowSource(int index) {
    const SourceItem& source = *items_[static_cast<size_t>(index)];
    QString stage;
    if (source.IsPartition()) {
        const uint16_t letter = source.partition->letter;
        stage = IsDriveLetter(letter) ? FormatMessage(Text("MSG1201"), {QString(QChar(letter))})
                                      : FormatMessage(Text("MSG1202"), {QString::number(letter)});
    } else {
        stage = FormatMessage(Text("MSG1203"), {ImageSourceText(source)});
    }
    findChild<QLabel*>("stage")->setText(stage);
}

void CSearchProcessWnd::ShowProgress(int percent) {
    findChild<QLabel*>("percent")->setText(QStringLiteral("%1 %2%").arg(Text("MSG1204")).arg(percent));
    findChild<QProgressBar*>("progress")->setValue(percent);
}

}  // namespace keltra
