// CMainFrame: the main window. It holds the main view as its only client, the menu bar and the
// context menu (each item a command handed to a CommandTarget, enabled and checked as the
// target says when the menu opens), the keyboard's transport keys, full screen, the sizes the
// view is given (640 x 480 at start, the recording's display size, the panel's zoom steps), and
// dropped files.
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <string>

#include "browse/command_ids.h"

class QAction;
class QMenu;

namespace kx {

class CMainFrame : public QMainWindow {
public:
    static constexpr int kStartWidth = 640;
    static constexpr int kStartHeight = 480;
    static constexpr int kZoomStepWidth = 80;
    static constexpr int kZoomStepHeight = 60;
    static constexpr int kMaxZoomWidth = 800;
    static constexpr int kMaxZoomHeight = 600;
    static constexpr int kMinZoomWidth = 240;
    static constexpr int kMinZoomHeight = 180;

    // `view` becomes the client; `commands` must outlive the frame.
    CMainFrame(QWidget* view, CommandTarget& commands);

    // Sizes the window so that the view is 640 x 480 and places it: horizontally centred, 80
    // pixels above the vertical centre of `screen` (called once shown, so that the window
    // system's borders are counted).
    void placeAtStart(const QRect& screen);
    // Sizes the window so that the view is `width` x `height`; with `centre`, centred across
    // and with its middle at 2/5 of the screen height, otherwise its top-left corner stays.
    void fitViewTo(int width, int height, bool centre);
    // The panel's zoom buttons: the view 80 x 60 larger (at most 800 x 600) or smaller (at
    // least 240 x 180); nothing while full screen.
    void zoomIn();
    void zoomOut();

    bool IsFullScreen() const { return m_fullScreen; }
    void ToggleFullScreen();

    // The action of a menu command, for tests and for the application's own use.
    QAction* action(int id) const;
    // Brings the enabled and checked states of every action up to date.
    void updateCommandStates();
    // A file dropped on the window (a recording or a picture).
    void setDropHandler(std::function<void(const std::string&)> handler) {
        m_dropHandler = std::move(handler);
    }
    // Called when the window is closed by the user or the window manager.
    void setCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }

    // The size of the view the window holds now.
    QSize viewSize() const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addCommand(QMenu* menu, const QString& text, int id);
    void buildMenus();
    void addKey(const QKeySequence& key, int id);
    void resizeView(int width, int height);
    QRect screenRect() const;

    QWidget* m_view;
    CommandTarget& m_commands;
    std::map<int, QAction*> m_actions;
    QMenu* m_context = nullptr;
    bool m_fullScreen = false;
    bool m_wasMaximized = false;
    QRect m_savedGeometry;
    std::function<void(const std::string&)> m_dropHandler;
    std::function<void()> m_closeHandler;
};

}  // namespace kx
