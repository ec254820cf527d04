#include "app/file_actions.h"

#include <QTextBrowser>
#include <memory>

#include "app/apply_section.h"
#include "app/player_launcher.h"
#include "app/preview_display.h"
#include "app/preview_process_wnd.h"
#include "app/preview_wnd.h"
#include "app/recover_options_wnd.h"
#include "app/recover_process_wnd.h"
#include "app/recovery_destination.h"
#include "app/results_model.h"
#include "app/results_view.h"
#include "app/source_item.h"
#include "app/source_lease.h"

namespace keltra {

CFileActions::CFileActions(ResultsView* view)
    : QObject(view->Window()), view_(view), players_(new CPlayerLauncher(view->Window())) {}

RecoverySources CFileActions::Sources() const {
    ResultsView* view = view_;
    return {[view](uint16_t tag) {
                SourceItem* source = view->SourceByTag(tag);
                return source != nullptr ? source->engine.get() : nullptr;
            },
            [view] { return view->ScannedPartitions(); }};
}

bool CFileActions::ExtractSelected(PreviewExtraction& out) {
    auto* edit = view_->Window()->findChild<QTextBrowser*>("PreviewEdit");
    edit->clear();
    const FoundRecord* selected = view_->SelectedRecord();
    if (selected == nullptr) return false;
    if (selected->isFolder != 0) {
        edit->setPlainText(MessageText("MSG0904") + QLatin1Char('\n'));
        return false;
    }
    const FoundRecord record = *selected;
    const SourceLease open({view_->SourceByTag(record.sourceTag)});
    return ExtractPreview(view_->Window(), record, view_->EngineOf(record), out, players_) ==
           CPreviewProcessWnd::kResultExtracted;
}

void CFileActions::PreviewSelected() {
    PreviewExtraction extraction;
    if (!ExtractSelected(extraction)) return;
    if (extraction.Played()) {
        players_->Play(QString::fromStdString(extraction.tempPath), extraction.audio);
        return;
    }
    auto* edit = view_->Window()->findChild<QTextBrowser*>("PreviewEdit");
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
    std::vector<FoundRecord> navigation = view_->ListedRecords();
    std::erase_if(navigation, [](const FoundRecord& r) { return r.isFolder != 0; });
    const SourceLease open(view_->ScannedSources());
    CPreviewWnd preview(view_->Window(), extraction, std::move(navigation), Sources(),
                        recoverFolder_, players_);
    preview.exec();
}

void CFileActions::RecoverChecked() {
    if (view_->Results() == nullptr) return;
    CRecoverOptionsWnd options(view_->Window(), choice_);
    if (options.exec() != QDialog::Accepted) return;
    choice_ = options.Choice();
    const RecoverySources sources = Sources();
    if (!ChooseRecoveryDestination(view_->Window(), sources.scannedPartitions(), recoverFolder_))
        return;
    auto open = std::make_unique<SourceLease>(view_->ScannedSources());
    CRecoverProcessWnd recovery(view_->Window(), CRecoverProcessWnd::kAllChecked,
                                FoundFileRecovery(recoverFolder_, choice_),
                                view_->Results()->CheckedItems(), sources.engineOf);
    recovery.HoldSourcesWhileCopying(std::move(open));
    recovery.exec();
}

}  // namespace keltra
