// CDecodeErrDlg: "Decode Err", the report of a picture that failed to decode ("Frame has been
// tampered."), with OK.
#pragma once

#include <QDialog>

namespace kx {

class CDecodeErrDlg : public QDialog {
public:
    explicit CDecodeErrDlg(QWidget* parent = nullptr);
};

// Runs the dialog modally.
void showDecodeError(QWidget* parent);

}  // namespace kx
