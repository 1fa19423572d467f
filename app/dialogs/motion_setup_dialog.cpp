// The "Motion Search Setup" dialog: a sensitivity slider between "Low" and "High", the number
// field for the changed pictures, the pause check box, OK and Cancel.
#include "app/dialogs/motion_setup_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "present/widgets/control_names.h"

namespace kx {

CMotionSetupDlg::CMotionSetupDlg(const MotionSettings& settings, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Motion Search Setup"));

    auto* caption = new QLabel(QStringLiteral("Sensitivity"), this);
    auto* low = new QLabel(QStringLiteral("Low"), this);
    auto* high = new QLabel(QStringLiteral("High"), this);
    m_sensitivity = new QSlider(Qt::Horizontal, this);
    nameControl(m_sensitivity, kMotionSensitivityId, caption->text());
    m_sensitivity->setRange(kMinSensitivity, kMaxSensitivity);
    m_sensitivity->setSingleStep(1);
    m_sensitivity->setPageStep(1);
    m_sensitivity->setTickInterval(1);
    m_sensitivity->setTickPosition(QSlider::TicksBelow);
    m_sensitivity->setValue(std::clamp(settings.sensitivity, kMinSensitivity, kMaxSensitivity));
    caption->setBuddy(m_sensitivity);

    auto* changedLabel = new QLabel(QStringLiteral("Number of the changed pictures :"), this);
    m_changedPictures = new QSpinBox(this);
    nameControl(m_changedPictures, kMotionChangedPicturesId, changedLabel->text());
    // Bad input: only digits can be typed and no number past the maximum; a field left empty
    // or below the minimum goes back to the last valid number when it is read (OK, Enter or
    // leaving the field), so OK always hands over a number within the range.
    m_changedPictures->setRange(kMinChangedPictures, kMaxChangedPictures);
    m_changedPictures->setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    m_changedPictures->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_changedPictures->setValue(
        std::clamp(settings.changedPictures, kMinChangedPictures, kMaxChangedPictures));
    changedLabel->setBuddy(m_changedPictures);

    m_pause = new QCheckBox(QStringLiteral("Pause when motion detected"), this);
    nameControl(m_pause, kMotionPauseId, m_pause->text());
    m_pause->setChecked(settings.pauseOnMotion);

    auto* grid = new QGridLayout;
    grid->addWidget(caption, 0, 0, 1, 3);
    grid->addWidget(low, 1, 0);
    grid->addWidget(m_sensitivity, 1, 1);
    grid->addWidget(high, 1, 2);
    grid->setColumnStretch(1, 1);
    auto* changedRow = new QHBoxLayout;
    changedRow->addWidget(changedLabel);
    changedRow->addWidget(m_changedPictures);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    nameControl(buttons->button(QDialogButtonBox::Ok), kIdOk, QStringLiteral("OK"));
    nameControl(buttons->button(QDialogButtonBox::Cancel), kIdCancel, QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        m_changedPictures->interpretText();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(changedRow);
    layout->addWidget(m_pause);
    layout->addWidget(buttons);
    setMinimumWidth(300);
}

MotionSettings CMotionSetupDlg::settings() const {
    MotionSettings settings;
    settings.sensitivity = m_sensitivity->value();
    settings.changedPictures = m_changedPictures->value();
    settings.pauseOnMotion = m_pause->isChecked();
    return settings;
}

bool CMotionSetupDlg::run(QWidget* parent, MotionSettings& settings) {
    CMotionSetupDlg dialog(settings, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings = dialog.settings();
    return true;
}

}  // namespace kx
