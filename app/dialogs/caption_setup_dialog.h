// CCaptionSetupDlg: "Caption Display Setup", one check box per caption element, each the switch
// of one bit of the caption flags word.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

class QCheckBox;

namespace kx {

// A check box of the dialog: its control id, its text and the flag bit it switches.
struct CaptionSwitch {
    int id;
    const char* text;
    uint32_t bit;
};
// In the order the dialog shows them.
constexpr std::array<CaptionSwitch, 7> kCaptionSwitches{{
    {1171, "Camera name", 1u << 0},
    {1170, "Board name", 1u << 1},
    {1172, "Date", 1u << 2},
    {1173, "Start time", 1u << 3},
    {1174, "View time", 1u << 4},
    {1175, "End time", 1u << 5},
    {1176, "Recorded native time", 1u << 6},
}};

class CCaptionSetupDlg : public QDialog {
public:
    explicit CCaptionSetupDlg(uint32_t flags, QWidget* parent = nullptr);

    // The flags word the dialog opened with, its seven bits as the check boxes say now; the
    // other bits as they were.
    uint32_t flags() const;

    // Runs the dialog modally on `flags`; on OK stores the new word and returns true, on Cancel
    // leaves it and returns false.
    static bool run(QWidget* parent, uint32_t& flags);

private:
    uint32_t m_opened;
    std::array<QCheckBox*, kCaptionSwitches.size()> m_boxes{};
};

}  // namespace kx
