#include "app/message_box.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>

#include "app/apply_section.h"
#include "app/dialog_position.h"
#include "ui_MessageBox_Confirm.h"
#include "ui_MessageBox_Error.h"
#include "ui_MessageBox_Information.h"
#include "ui_MessageBox_Question.h"
#include "ui_MessageBox_Warning.h"

namespace keltra {

namespace {

template <typename Skin>
void BuildSkin(QDialog* box) {
    Skin skin;
    skin.setupUi(box);
}

const char* TitleKey(MessageKind kind) {
    switch (kind) {
        case kMessageConfirm:
            return "MSG0402";
        case kMessageInformation:
            return "MSG0403";
        case kMessageWarning:
            return "MSG0405";
        case kMessageQuestion:
            return "MSG0404";
        case kMessageError:
            break;
    }
    return "MSG0401";
}

}  // namespace

MessageKind CMessageBox::SkinKind(int kind) {
    return kind >= kMessageError && kind <= kMessageQuestion ? static_cast<MessageKind>(kind)
                                                             : kMessageError;
}

CMessageBox::CMessageBox(int kind, QWidget* owner, const QString& text)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), kind_(SkinKind(kind)) {
    switch (kind_) {
        case kMessageError:
            BuildSkin<Ui::MessageBox_Error>(this);
            break;
        case kMessageConfirm:
            BuildSkin<Ui::MessageBox_Confirm>(this);
            break;
        case kMessageInformation:
            BuildSkin<Ui::MessageBox_Information>(this);
            break;
        case kMessageWarning:
            BuildSkin<Ui::MessageBox_Warning>(this);
            break;
        case kMessageQuestion:
            BuildSkin<Ui::MessageBox_Question>(this);
            break;
    }
    setModal(true);
    ApplySection(this, "MessageBox");
    const QString title = MessageText(TitleKey(kind_));
    findChild<QLabel*>("title")->setText(title);
    setWindowTitle(title);
    findChild<QLabel*>("message")->setText(text);
    connect(findChild<QPushButton*>("okbtn"), &QPushButton::clicked, this,
            [this] { done(kAnswerOk); });
    connect(findChild<QPushButton*>("closebtn"), &QPushButton::clicked, this,
            [this] { done(kAnswerCancel); });
    if (auto* cancel = findChild<QPushButton*>("cancelbtn")) {
        connect(cancel, &QPushButton::clicked, this, [this] { done(kAnswerCancel); });
    }
    adjustSize();
}

void CMessageBox::reject() {
    done(kAnswerCancel);
}

void CMessageBox::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) CentreOverParent(this);
    QDialog::showEvent(event);
}

void CMessageBox::mousePressEvent(QMouseEvent* event) {
    // The title bar is the skin's own; dragging it moves the box.
    const QWidget* header = findChild<QWidget*>("header");
    dragging_ = event->button() == Qt::LeftButton && header != nullptr &&
                header->geometry().contains(header->parentWidget()->mapFrom(this, event->pos()));
    if (dragging_) dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(event);
}

void CMessageBox::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
    }
    QDialog::mouseMoveEvent(event);
}

int ShowMessage(int kind, QWidget* owner, const QString& text) {
    CMessageBox box(kind, owner, text);
    return box.exec();
}

}  // namespace keltra
