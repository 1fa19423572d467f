// CColourDialog: the "Color Configuration" dialog. Four scroll bars (brightness, contrast,
// saturation, hue, 1 to 200) hand every change to the view's SetColour at once.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <array>
#include <functional>

#include "present/colour_adjust.h"

class QScrollBar;

namespace kx {

// Control ids of the dialog's scroll bars and its "&Default" button; each scroll bar's object
// name is its id.
constexpr int kColourBrightnessId = 1025;
constexpr int kColourContrastId = 1026;
constexpr int kColourSaturationId = 1027;
constexpr int kColourHueId = 1028;
constexpr int kColourDefaultId = 1029;

// Where the dialog opens on a screen of `screen` geometry: (width / 2 + 163, height / 2 + 109)
// from the screen's corner, moved back so that the whole dialog stays on a small screen.
QPoint colourDialogPosition(const QRect& screen);

class CColourDialog : public QDialog {
public:
    using SetColourFunction =
        std::function<void(int brightness, int contrast, int saturation, int hue)>;
    static constexpr int kWidth = 270;
    static constexpr int kHeight = 240;

    // Opens showing `settings` (the still-picture set or the recording set, as the caller
    // chooses) and calls `setColour` after every change.
    CColourDialog(const ColourSettings& settings, SetColourFunction setColour,
                  QWidget* parent = nullptr);

    // The four positions now.
    ColourSettings current() const;
    // The values the dialog opened with.
    const ColourSettings& opened() const { return m_opened; }

    // "&Default": every position 100, and SetColour(100, 100, 100, 100).
    void restoreDefaults();
    // Cancel: SetColour with the values the dialog opened with, then close.
    void reject() override;

private:
    void notify() const;

    ColourSettings m_opened;
    SetColourFunction m_setColour;
    std::array<QScrollBar*, 4> m_bars{};  // brightness, contrast, saturation, hue
};

}  // namespace kx
