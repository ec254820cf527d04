// The program's message box: five kinds, each with its own skin and title.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>

class QWidget;

namespace keltra {

// Message box kinds. Any other number is shown as an error.
enum MessageKind : int {
    kMessageError = 0,
    kMessageConfirm = 1,
    kMessageInformation = 2,
    kMessageWarning = 3,
    kMessageQuestion = 4,
};

// Answers of a message box.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;

class CMessageBox : public QDialog {
    Q_OBJECT

  public:
    CMessageBox(int kind, QWidget* owner, const QString& text);

    // The kind whose skin and title a box of `kind` takes.
    static MessageKind SkinKind(int kind);
    MessageKind Kind() const { return kind_; }

    void reject() override;

  protected:
    // Opens centred over the window it belongs to.
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    MessageKind kind_;
    QPoint dragOffset_;
    bool dragging_ = false;
};

// Shows a box and waits for the answer: 1 for "okbtn", 2 for "cancelbtn" or "closebtn" (and
// for Escape).
int ShowMessage(int kind, QWidget* owner, const QString& text);

}  // namespace keltra
