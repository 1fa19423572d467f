// The "Print Mode" dialog: the "Mode select" group of two radio buttons, the scaling field with
// its range check on OK, OK and Cancel.
#include "app/dialogs/print_mode_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "present/widgets/control_names.h"

namespace kx {

std::optional<int> parsePrintScaling(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < kMinPrintScaling || value > kMaxPrintScaling) return std::nullopt;
    return value;
}

CPrintModeDlg::CPrintModeDlg(int mode, int scaling, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Print Mode"));

    auto* group = new QGroupBox(QStringLiteral("Mode select"), this);
    group->setAccessibleName(group->title());
    m_inPicture = new QRadioButton(QStringLiteral("Print text in picture"), group);
    nameControl(m_inPicture, kPrintTextInPictureId, m_inPicture->text());
    m_beside = new QRadioButton(QStringLiteral("Print text beside picture"), group);
    nameControl(m_beside, kPrintTextBesideId, m_beside->text());
    auto* choice = new QButtonGroup(this);
    choice->addButton(m_inPicture, kPrintModeTextInPicture);
    choice->addButton(m_beside, kPrintModeTextBeside);
    (mode == kPrintModeTextBeside ? m_beside : m_inPicture)->setChecked(true);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_inPicture);
    groupLayout->addWidget(m_beside);

    auto* label = new QLabel(QStringLiteral("Enter Scaling Value(1-20):"), this);
    m_scaling = new QLineEdit(QString::number(scaling), this);
    nameControl(m_scaling, kPrintScalingId, label->text());
    label->setBuddy(m_scaling);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_scaling);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    nameControl(buttons->button(QDialogButtonBox::Ok), kIdOk, QStringLiteral("OK"));
    nameControl(buttons->button(QDialogButtonBox::Cancel), kIdCancel, QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CPrintModeDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

int CPrintModeDlg::mode() const {
    return m_beside->isChecked() ? kPrintModeTextBeside : kPrintModeTextInPicture;
}

std::optional<int> CPrintModeDlg::scaling() const {
    return parsePrintScaling(m_scaling->text());
}

void CPrintModeDlg::accept() {
    if (!scaling()) {
        QMessageBox::warning(this, QStringLiteral("KX Player"),
                             QStringLiteral("Please enter an integer between %1 and %2.")
                                 .arg(kMinPrintScaling)
                                 .arg(kMaxPrintScaling));
        m_scaling->setFocus();
        m_scaling->selectAll();
        return;
    }
    QDialog::accept();
}

bool CPrintModeDlg::run(QWidget* parent, int& mode, int& scaling) {
    CPrintModeDlg dialog(mode, scaling, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    mode = dialog.mode();
    scaling = *dialog.scaling();
    return true;
}

}  // namespace kx
