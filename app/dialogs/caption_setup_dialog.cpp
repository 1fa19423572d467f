// The "Caption Display Setup" dialog: seven check boxes over OK and Cancel.
#include "app/dialogs/caption_setup_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "present/widgets/control_names.h"

namespace kx {

CCaptionSetupDlg::CCaptionSetupDlg(uint32_t flags, QWidget* parent)
    : QDialog(parent), m_opened(flags) {
    setWindowTitle(QStringLiteral("Caption Display Setup"));
    auto* layout = new QVBoxLayout(this);
    for (size_t i = 0; i < kCaptionSwitches.size(); ++i) {
        const CaptionSwitch& item = kCaptionSwitches[i];
        auto* box = new QCheckBox(QString::fromLatin1(item.text), this);
        nameControl(box, item.id, box->text());
        box->setChecked((flags & item.bit) != 0);
        layout->addWidget(box);
        m_boxes[i] = box;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    nameControl(buttons->button(QDialogButtonBox::Ok), kIdOk, QStringLiteral("OK"));
    nameControl(buttons->button(QDialogButtonBox::Cancel), kIdCancel, QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

uint32_t CCaptionSetupDlg::flags() const {
    uint32_t flags = m_opened;
    for (size_t i = 0; i < kCaptionSwitches.size(); ++i) {
        if (m_boxes[i]->isChecked())
            flags |= kCaptionSwitches[i].bit;
        else
            flags &= ~kCaptionSwitches[i].bit;
    }
    return flags;
}

bool CCaptionSetupDlg::run(QWidget* parent, uint32_t& flags) {
    CCaptionSetupDlg dialog(flags, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    flags = dialog.flags();
    return true;
}

}  // namespace kx
