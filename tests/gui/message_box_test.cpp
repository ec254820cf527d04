// The message box: kinds, titles, buttons and answers.
#include "app/message_box.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/apply_section.h"
#include "app/ui/picture_frame.h"
#include "gui_test_support.h"

namespace keltra {
namespace {

using test::AnswerNextBox;
using test::SeenBox;

class MessageBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { languages_ = std::make_unique<test::ScratchLanguages>(); }
    void cleanup() { languages_.reset(); }

    void KindsHaveTheirSkinTitleAndButtons() {
        const struct {
            int kind;
            const char* title;
            const char* icon;
            bool cancel;
        } kinds[] = {
            {0, "MSG0401", "msg_error.png", false},       {1, "MSG0402", "msg_confirm.png", true},
            {2, "MSG0403", "msg_information.png", false}, {3, "MSG0405", "msg_warning.png", false},
            {4, "MSG0404", "msg_question.png", true},     {7, "MSG0401", "msg_error.png", false},
            {-1, "MSG0401", "msg_error.png", false}};
        for (const auto& k : kinds) {
            CMessageBox box(k.kind, nullptr, "text");
            const QString which = QString::number(k.kind);
            QCOMPARE(box.Kind(), CMessageBox::SkinKind(k.kind));
            QVERIFY2(box.findChild<QLabel*>("title")->text() == MessageText(k.title),
                     qPrintable(which));
            QVERIFY2(box.findChild<CPictureFrame*>("icon")->BkImage().contains(k.icon),
                     qPrintable(which));
            QCOMPARE(box.findChild<QLabel*>("message")->text(), QString("text"));
            QVERIFY(box.findChild<QPushButton*>("okbtn") != nullptr);
            QVERIFY(box.findChild<QPushButton*>("closebtn") != nullptr);
            QCOMPARE(box.findChild<QPushButton*>("cancelbtn") != nullptr, k.cancel);
        }
        // A box of kind 7 is an Error box in every respect.
        CMessageBox seven(7, nullptr, "x");
        QCOMPARE(seven.objectName(), QString("MessageBox_Error"));
    }

    void AnswersAreOneOrTwo() {
        const struct {
            int kind;
            const char* button;
            int answer;
        } cases[] = {{kMessageQuestion, "okbtn", kAnswerOk},
                     {kMessageQuestion, "cancelbtn", kAnswerCancel},
                     {kMessageConfirm, "closebtn", kAnswerCancel},
                     {kMessageInformation, "okbtn", kAnswerOk},
                     {9, "closebtn", kAnswerCancel}};
        for (const auto& c : cases) {
            SeenBox seen;
            AnswerNextBox(c.button, seen);
            QCOMPARE(ShowMessage(c.kind, nullptr, "Really?"), c.answer);
            QVERIFY(seen.shown);
            QCOMPARE(seen.text, QString("Really?"));
        }
    }

    void ButtonsTakeTheLanguageTexts() {
        QCOMPARE(LanguageTable().SetLanguage("German"), kOk);
        CMessageBox box(kMessageQuestion, nullptr, "?");
        QCOMPARE(box.findChild<QPushButton*>("cancelbtn")->text(), QString("Abbrechen"));
        QCOMPARE(box.findChild<QLabel*>("title")->text(), QString("Frage"));
    }

  private:
    std::unique_ptr<test::ScratchLanguages> languages_;
};

KELTRA_GUI_TEST("MessageBox", MessageBoxTest);

}  // namespace
}  // namespace keltra

#include "message_box_test.moc"
