#include "app/recover_options_wnd.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>

#include "app/apply_section.h"
#include "ui_RecoverOptionsWnd.h"

namespace keltra {

CRecoverOptionsWnd::CRecoverOptionsWnd(QWidget* owner, const RecoveryChoice& last)
    : QDialog(owner) {
    Ui::RecoverOptionsWnd skin;
    skin.setupUi(this);
    ApplySection(this, "RecoverOptionsWnd");
    const QString title = QText(LanguageTable().Section("RecoverOptionsWnd"), "title");
    if (!title.isEmpty()) setWindowTitle(title);
    const bool keep = last.layout == RecoveryLayout::KeepPaths;
    skin.OptKeepFolders->setChecked(keep);
    skin.OptSortByType->setChecked(!keep);
    skin.ChkNameByDate->setChecked(last.nameByDate);
    connect(skin.okbtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(skin.cancelbtn, &QPushButton::clicked, this, &QDialog::reject);
}

RecoveryChoice CRecoverOptionsWnd::Choice() const {
    RecoveryChoice choice;
    choice.layout = findChild<QRadioButton*>("OptKeepFolders")->isChecked()
                        ? RecoveryLayout::KeepPaths
                        : RecoveryLayout::ByCategory;
    choice.nameByDate = findChild<QCheckBox*>("ChkNameByDate")->isChecked();
    return choice;
}

}  // namespace keltra
