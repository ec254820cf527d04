#include "app/file_actions.h"

#include <QTextBrowser>
#include <memory>

#include "app/apply_section.h"
#include "app/main_wnd.h"
#include "app/player_launcher.h"
#include "app/preview_display.h"
#include "app/preview_process_wnd.h"
#include "app/preview_wnd.h"
#include "app/recover_options_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/recovery_destination.h"
#include "app/source_lease.h"

namespace keltra {

CFileActions::CFileActions(CMainWnd* window)
    : QObject(window), window_(window), players_(new CPlayerLauncher(window)) {
    connect(window, &CMainWnd::SelectedFileChanged, this, &CFileActions::PreviewSelected);
    connect(window, &CMainWnd::RecoverClicked, this, &CFileActions::RecoverChecked);
    connect(window, &CMainWnd::FileDoubleClicked, this, &CFileActions::OpenPreviewWindow);
}

RecoverySources CFileActions::Sources() const {
    CMainWnd* window = window_;
    return {[window](uint16_t tag) {
                SourceItem* source = window->SourceByTag(tag);
                return source != nullptr ? source->engine.get() : nullptr;
            },
            [window] { return window->ScannedPartitions(); }};
}

bool CFileActions::ExtractSelected(PreviewExtraction& out) {
    auto* edit = window_->findChild<QTextBrowser*>("PreviewEdit");
    edit->clear();
    const FoundRecord* selected = window_->SelectedRecord();
    if (selected == nullptr) return false;
    if (selected->isFolder != 0) {
        edit->setPlainText(MessageText("MSG0904") + QLatin1Char('\n'));
        return false;
    }
    const FoundRecord record = *selected;
    const SourceLease open({window_->SourceByTag(record.sourceTag)});
    return ExtractPreview(window_, record, window_->EngineOf(record), out, players_) ==
           CPreviewProcessWnd::kResultExtracted;
}

void CFileActions::PreviewSelected() {
    PreviewExtraction extraction;
    if (!ExtractSelected(extraction)) return;
    if (extraction.Played()) {
        players_->Play(QString::fromStdString(extraction.tempPath), extraction.audio);
        return;
    }
    auto* edit = window_->findChild<QTextBrowser*>("PreviewEdit");
    if (!extraction.tempPath.empty()) {
        if (!ShowPicture(edit, QString::fromStdString(extraction.tempPath))) {
            edit->setPlainText(MessageText("MSG0905"));
        }
        return;
    }
    edit->setPlainText(PreviewText(std::span(extraction.buffer).first(extraction.size)));
}

void CFileActions::OpenPreviewWindow() {
    PreviewExtraction extraction;
    if (!ExtractSelected(extraction)) return;
    if (extraction.Played()) {
        players_->Play(QString::fromStdString(extraction.tempPath), extraction.audio);
        return;
    }
    std::vector<FoundRecord> navigation = window_->ListedRecords();
    std::erase_if(navigation, [](const FoundRecord& r) { return r.isFolder != 0; });
    const SourceLease open(window_->ScannedSources());
    CPreviewWnd preview(window_, extraction, std::move(navigation), Sources(), recoverFolder_,
                        players_);
    preview.exec();
}

void CFileActions::RecoverChecked() {
    if (window_->Results() == nullptr) return;
    CRecoverOptionsWnd options(window_, choice_);
    if (options.exec() != QDialog::Accepted) return;
    choice_ = options.Choice();
    const RecoverySources sources = Sources();
    if (!ChooseRecoveryDestination(window_, sources.scannedPartitions(), recoverFolder_)) return;
    auto open = std::make_unique<SourceLease>(window_->ScannedSources());
    CRecoverProcessWnd recovery(window_, CRecoverProcessWnd::kAllChecked,
                                FoundFileRecovery(recoverFolder_, choice_),
                                window_->Results()->CheckedItems(), sources.engineOf);
    recovery.HoldSourcesWhileCopying(std::move(open));
    recovery.exec();
}

}  // namespace keltra
