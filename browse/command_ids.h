// The command identifiers of the menus, the context menu and the keys, and the interface through
// which the main frame hands a chosen command to whoever handles it (view, document, application).
#pragma once

namespace kx {

// The framework's standard commands.
constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_CLOSE = 57602;
constexpr int ID_FILE_SAVE = 57603;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;

// The player's own commands.
constexpr int ID_VIEW_PLAYER = 32771;
constexpr int ID_VIEW_FULLSCREEN = 32772;
constexpr int ID_COLOR_CONFIG = 32774;
constexpr int ID_PRINT_MODE = 32777;
constexpr int ID_KX2AVI = 32778;
constexpr int ID_FACE_PRINT = 32779;
constexpr int ID_FACE_SAVE = 32780;
constexpr int ID_FACE_VIDEO = 32782;
constexpr int ID_SEARCH = 32783;
constexpr int ID_MOTION_SETUP = 32784;
constexpr int ID_MOTION_ENABLE = 32785;
constexpr int ID_CONTINUOUS_PLAY = 32786;
constexpr int ID_CAPTION_SETUP = 32787;
constexpr int ID_EXPORT_MP4 = 32795;

// How a menu item shows a command now.
struct CommandState {
    bool enabled = true;
    bool checked = false;
};

// Receives the commands of the menus and keys. Called on the user-interface thread.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Carries out command `id`; false when nobody handles it.
    virtual bool onCommand(int id) = 0;
    // Whether the menu item of `id` is enabled and checked, asked each time a menu opens.
    virtual CommandState commandState(int id) const = 0;
};

}  // namespace kx

namespace kx {

// The keyboard's transport keys, routed like menu commands to the same document operations.
constexpr int ID_KEY_PAUSE = 40001;        // Space
constexpr int ID_KEY_STEP_NEXT = 40002;    // Right
constexpr int ID_KEY_STEP_PREV = 40003;    // Left
constexpr int ID_KEY_NEXT_GROUP = 40004;   // Page Down
constexpr int ID_KEY_PREV_GROUP = 40005;   // Page Up
constexpr int ID_KEY_FASTER = 40006;       // ]
constexpr int ID_KEY_SLOWER = 40007;       // [
constexpr int ID_KEY_PLAYBACK = 40008;     // Backspace

}  // namespace kx
