// keltra-screenshots OUTPUT_FOLDER: draws the main window's pages in every shipped language and
// each kind of message box into PNG files (run with QT_QPA_PLATFORM=offscreen). The language
// files are copied to a scratch folder first, so the shipped choice of language is untouched.
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTextStream>
#include <filesystem>

#include "app/apply_section.h"
#include "app/language_table.h"
#include "app/main_wnd.h"
#include "app/message_box.h"
#include "app/ui/toolkit.h"

namespace {

bool Save(QWidget& widget, const QString& path) {
    QApplication::processEvents();
    const bool ok = widget.grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << "\n";
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    keltra::InitialiseToolkit();
    if (argc != 2) {
        QTextStream(stderr) << "usage: keltra-screenshots OUTPUT_FOLDER\n";
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QTemporaryDir scratch;
    const keltra::LanguagePaths shipped = keltra::DefaultLanguagePaths();
    const std::filesystem::path root = scratch.path().toStdString();
    std::filesystem::copy(shipped.languagesFolder, root / "Languages",
                          std::filesystem::copy_options::recursive);
    std::filesystem::copy_file(shipped.configFile, root / "config.ini");
    keltra::LanguageTable().Open({(root / "config.ini").string(), (root / "Languages").string(),
                                  (root / "user" / "config.ini").string()});

    keltra::CMainWnd window;
    window.show();
    const char* pages[] = {"start", "source", "filetypes", "results"};
    bool ok = true;
    for (const auto& [name, display] : keltra::LanguageTable().Languages()) {
        window.ChooseLanguage(name);
        QApplication::sendPostedEvents();
        for (int page = 0; page < 4; ++page) {
            window.ShowPage(page);
            ok = Save(window, QStringLiteral("%1/main_%2_%3.png")
                                  .arg(out, QString::fromStdString(name), pages[page])) &&
                 ok;
        }
    }

    // The assist menu with its language list opened, the current language marked.
    QMenu* menu = window.AssistMenu();
    menu->popup(window.mapToGlobal(QPoint(560, 50)));
    QMenu* languages = menu->findChild<QMenu*>("item_language");
    menu->setActiveAction(languages->menuAction());
    languages->popup(menu->mapToGlobal(QPoint(menu->width(), 0)));
    ok = Save(*menu, QStringLiteral("%1/menu.png").arg(out)) && ok;
    ok = Save(*languages, QStringLiteral("%1/menu_languages.png").arg(out)) && ok;
    languages->hide();
    menu->hide();

    window.ChooseLanguage("English");
    QApplication::sendPostedEvents();
    const struct {
        int kind;
        const char* name;
        const char* key;
    } boxes[] = {{keltra::kMessageError, "error", "MSG0217"},
                 {keltra::kMessageConfirm, "confirm", "MSG0805"},
                 {keltra::kMessageInformation, "information", "MSG0505"},
                 {keltra::kMessageWarning, "warning", "MSG0504"},
                 {keltra::kMessageQuestion, "question", "MSG0709"}};
    for (const auto& box : boxes) {
        keltra::CMessageBox dialog(box.kind, &window, keltra::MessageText(box.key));
        dialog.show();
        ok = Save(dialog, QStringLiteral("%1/messagebox_%2.png").arg(out, box.name)) && ok;
    }
    return ok ? 0 : 1;
}
