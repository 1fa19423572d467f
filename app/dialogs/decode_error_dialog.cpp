// The "Decode Err" dialog: one line of text and OK.
#include "app/dialogs/decode_error_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "present/widgets/control_names.h"

namespace kx {

CDecodeErrDlg::CDecodeErrDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Decode Err"));
    auto* text = new QLabel(QStringLiteral("Frame has been tampered."), this);
    text->setObjectName(QStringLiteral("text"));
    text->setAccessibleName(text->text());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setCenterButtons(true);
    nameControl(buttons->button(QDialogButtonBox::Ok), kIdOk, QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(buttons);
}

void showDecodeError(QWidget* parent) {
    CDecodeErrDlg dialog(parent);
    dialog.exec();
}

}  // namespace kx
