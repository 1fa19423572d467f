// The main window: menus, context menu, keys, full screen, sizes and dropped files.
#include "browse/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <algorithm>

namespace kx {

CMainFrame::CMainFrame(QWidget* view, CommandTarget& commands)
    : m_view(view), m_commands(commands) {
    setWindowTitle("KX Player");
    setCentralWidget(view);
    setAcceptDrops(true);
    buildMenus();
    // The transport keys work wherever the player's windows have the focus.
    addKey(Qt::Key_Space, ID_KEY_PAUSE);
    addKey(Qt::Key_Right, ID_KEY_STEP_NEXT);
    addKey(Qt::Key_Left, ID_KEY_STEP_PREV);
    addKey(Qt::Key_PageDown, ID_KEY_NEXT_GROUP);
    addKey(Qt::Key_PageUp, ID_KEY_PREV_GROUP);
    addKey(Qt::Key_BracketRight, ID_KEY_FASTER);
    addKey(Qt::Key_BracketLeft, ID_KEY_SLOWER);
    addKey(Qt::Key_Backspace, ID_KEY_PLAYBACK);
    addKey(Qt::Key_F11, ID_VIEW_FULLSCREEN);
}

QAction* CMainFrame::addCommand(QMenu* menu, const QString& text, int id) {
    const qsizetype tab = text.indexOf('\t');
    auto* item = new QAction(tab < 0 ? text : text.left(tab), menu);
    if (tab >= 0) {
        item->setShortcut(QKeySequence(text.mid(tab + 1)));
        item->setShortcutContext(Qt::ApplicationShortcut);
    }
    item->setProperty("commandId", id);
    item->setEnabled(m_commands.commandState(id).enabled);
    connect(item, &QAction::triggered, this, [this, id] {
        if (m_commands.commandState(id).enabled) m_commands.onCommand(id);
    });
    menu->addAction(item);
    // The menu bar's action is the one kept; the context menu's share its id.
    if (!m_actions.count(id)) m_actions[id] = item;
    return item;
}

void CMainFrame::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    addCommand(file, "&Open...\tCtrl+O", ID_FILE_OPEN);
    addCommand(file, "&Close\tCtrl+C", ID_FILE_CLOSE);
    file->addSeparator();
    addCommand(file, "&Search...\tCtrl+S", ID_SEARCH);
    file->addSeparator();
    addCommand(file, "&Print...\tCtrl+P", ID_FILE_PRINT);
    addCommand(file, "Print Pre&view", ID_FILE_PRINT_PREVIEW);
    addCommand(file, "P&rint Setup...", ID_FILE_PRINT_SETUP);
    addCommand(file, "Print &Mode...", ID_PRINT_MODE);
    file->addSeparator();
    addCommand(file, "E&xit", ID_APP_EXIT);

    QMenu* view = menuBar()->addMenu("&View");
    addCommand(view, "&Player", ID_VIEW_PLAYER)->setCheckable(true);
    addCommand(view, "&Full Screen", ID_VIEW_FULLSCREEN)->setCheckable(true);

    QMenu* setup = menuBar()->addMenu("&Setup");
    addCommand(setup, "&Color Configuration...", ID_COLOR_CONFIG);
    addCommand(setup, "Motion Search Setup...", ID_MOTION_SETUP);
    addCommand(setup, "Enable Motion Search", ID_MOTION_ENABLE)->setCheckable(true);
    addCommand(setup, "Enable Continuous Playback", ID_CONTINUOUS_PLAY)->setCheckable(true);
    addCommand(setup, "Caption Display Setup...", ID_CAPTION_SETUP);

    QMenu* tools = menuBar()->addMenu("Tools");
    addCommand(tools, "&KX to AVI...", ID_KX2AVI);
    addCommand(tools, "Export to &MP4...", ID_EXPORT_MP4);

    QMenu* help = menuBar()->addMenu("&Help");
    addCommand(help, "&About KX Player...", ID_APP_ABOUT);

    for (QMenu* menu : {file, view, setup, tools, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);

    // The context menu: the same commands, the same enabling.
    m_context = new QMenu("Context", this);
    addCommand(m_context, "&Open...", ID_FILE_OPEN);
    addCommand(m_context, "&Close", ID_FILE_CLOSE);
    m_context->addSeparator();
    addCommand(m_context, "&Print...", ID_FILE_PRINT);
    addCommand(m_context, "Print P&review", ID_FILE_PRINT_PREVIEW);
    addCommand(m_context, "P&rint Setup...", ID_FILE_PRINT_SETUP);
    addCommand(m_context, "Print &Mode...", ID_PRINT_MODE);
    m_context->addSeparator();
    addCommand(m_context, "Color...", ID_COLOR_CONFIG);
    m_context->addSeparator();
    QMenu* contextView = m_context->addMenu("&View");
    addCommand(contextView, "&Player", ID_VIEW_PLAYER)->setCheckable(true);
    addCommand(contextView, "&Full screen", ID_VIEW_FULLSCREEN)->setCheckable(true);
    m_context->addSeparator();
    addCommand(m_context, "&About...", ID_APP_ABOUT);
    connect(m_context, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
    connect(contextView, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::addKey(const QKeySequence& key, int id) {
    auto* shortcut = new QShortcut(key, this);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, id] {
        if (m_commands.commandState(id).enabled) m_commands.onCommand(id);
    });
}

QAction* CMainFrame::action(int id) const {
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::updateCommandStates() {
    // Every action of both menus carries its command id.
    for (QMenu* menu : findChildren<QMenu*>()) {
        for (QAction* item : menu->actions()) {
            const QVariant id = item->property("commandId");
            if (!id.isValid()) continue;
            const CommandState state = m_commands.commandState(id.toInt());
            item->setEnabled(state.enabled);
            if (item->isCheckable()) item->setChecked(state.checked);
        }
    }
}

void CMainFrame::contextMenuEvent(QContextMenuEvent* event) {
    updateCommandStates();
    m_context->exec(event->globalPos());
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (mime->hasUrls() && !mime->urls().isEmpty() && mime->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    if (m_dropHandler) m_dropHandler(urls.first().toLocalFile().toStdString());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_closeHandler) m_closeHandler();
    QMainWindow::closeEvent(event);
}

// ---- Sizes ---------------------------------------------------------------------------------

QRect CMainFrame::screenRect() const {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

QSize CMainFrame::viewSize() const {
    return m_view->size();
}

void CMainFrame::resizeView(int width, int height) {
    // The window's extra over its view: the menu bar (and nothing else: no tool or status bar).
    const int menuHeight = menuBar()->isVisible() || !isVisible() ? menuBar()->sizeHint().height() : 0;
    resize(width, height + menuHeight);
    m_view->resize(width, height);
}

void CMainFrame::placeAtStart(const QRect& screen) {
    resizeView(kStartWidth, kStartHeight);
    const QSize frame = frameGeometry().size().expandedTo(size());
    move(screen.left() + (screen.width() - frame.width()) / 2,
         screen.top() + (screen.height() - frame.height()) / 2 - 80);
}

void CMainFrame::fitViewTo(int width, int height, bool centre) {
    if (m_fullScreen) return;
    const QPoint corner = pos();
    if (isMaximized()) showNormal();
    resizeView(width, height);
    if (centre) {
        const QRect screen = screenRect();
        const QSize frame = frameGeometry().size().expandedTo(size());
        move(screen.left() + (screen.width() - frame.width()) / 2,
             screen.top() + screen.height() * 2 / 5 - frame.height() / 2);
    } else {
        move(corner);
    }
}

void CMainFrame::zoomIn() {
    if (m_fullScreen) return;
    const QSize view = viewSize();
    if (view.width() >= kMaxZoomWidth || view.height() >= kMaxZoomHeight) return;
    fitViewTo(std::min(view.width() + kZoomStepWidth, kMaxZoomWidth),
              std::min(view.height() + kZoomStepHeight, kMaxZoomHeight), false);
}

void CMainFrame::zoomOut() {
    if (m_fullScreen) return;
    const QSize view = viewSize();
    if (view.width() <= kMinZoomWidth || view.height() <= kMinZoomHeight) return;
    fitViewTo(std::max(view.width() - kZoomStepWidth, kMinZoomWidth),
              std::max(view.height() - kZoomStepHeight, kMinZoomHeight), false);
}

void CMainFrame::ToggleFullScreen() {
    if (!m_fullScreen) {
        m_wasMaximized = isMaximized();
        m_savedGeometry = geometry();
        m_fullScreen = true;
        // The view alone covers the screen: the menu bar goes with the frame.
        menuBar()->hide();
        showFullScreen();
    } else {
        m_fullScreen = false;
        menuBar()->show();
        showNormal();
        if (m_wasMaximized) {
            showMaximized();
        } else {
            setGeometry(m_savedGeometry);
        }
    }
    updateCommandStates();
}

}  // namespace kx
