// The question before a recovery: sort the files into one folder per type, or keep the folders
// they were found in; and whether carved photos are named by the date they were taken. Opens
// with the answers given last.
#pragma once

#include <QDialog>

#include "engines/recovery/found_file_recovery.h"

namespace keltra {

class CRecoverOptionsWnd : public QDialog {
    Q_OBJECT

  public:
    CRecoverOptionsWnd(QWidget* owner, const RecoveryChoice& last);

    // The choice shown (after exec() answered QDialog::Accepted: the user's).
    RecoveryChoice Choice() const;
};

}  // namespace keltra
