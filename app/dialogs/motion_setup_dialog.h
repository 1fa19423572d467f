// CMotionSetupDlg: "Motion Search Setup", the sensitivity, the number of changed pictures that
// make a detection, and whether to pause when motion is detected.
#pragma once

#include <QDialog>

#include "app/document_ui.h"

class QCheckBox;
class QSlider;
class QSpinBox;

namespace kx {

constexpr int kMotionSensitivityId = 1168;
constexpr int kMotionChangedPicturesId = 1139;
constexpr int kMotionPauseId = 1169;

// Sensitivity runs from "Low" (0) to "High" (10).
constexpr int kMinSensitivity = 0;
constexpr int kMaxSensitivity = 10;
// One changed picture is the quickest detection; past 100 (four seconds at 25 pictures a
// second) a detection would come too late to be of use.
constexpr int kMinChangedPictures = 1;
constexpr int kMaxChangedPictures = 100;

class CMotionSetupDlg : public QDialog {
public:
    // Opens showing `settings`, each value brought into its range.
    explicit CMotionSetupDlg(const MotionSettings& settings, QWidget* parent = nullptr);

    // The values the controls hold now.
    MotionSettings settings() const;

    // Runs the dialog modally on `settings`; on OK stores the new values and returns true, on
    // Cancel leaves `settings` as they were and returns false.
    static bool run(QWidget* parent, MotionSettings& settings);

private:
    QSlider* m_sensitivity = nullptr;
    QSpinBox* m_changedPictures = nullptr;
    QCheckBox* m_pause = nullptr;
};

}  // namespace kx
