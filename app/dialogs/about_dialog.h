// CAboutDlg: "About KX Player", the program icon, the version line, the keyboard controls and OK.
#pragma once

#include <QDialog>
#include <array>

namespace kx {

// One line of the keyboard list: the keys and what they do.
struct KeyboardControl {
    const char* keys;
    const char* action;
};
constexpr std::array<KeyboardControl, 13> kKeyboardControls{{
    {"Space", "Pause / resume"},
    {"Right", "Step to the next picture"},
    {"Left", "Step to the previous picture"},
    {"Page Down", "Next group"},
    {"Page Up", "Previous group"},
    {"]", "One speed level faster"},
    {"[", "One speed level slower"},
    {"Backspace", "Back to 1 x"},
    {"F11", "Full screen"},
    {"Esc", "Leave full screen"},
    {"Ctrl+O", "Open"},
    {"Ctrl+C", "Close"},
    {"Ctrl+S", "Search"},
}};

constexpr char kAboutVersionLine[] = "KX Player Version 5.5 20090427";

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// Runs the About box modally.
void showAboutDialog(QWidget* parent);

}  // namespace kx
