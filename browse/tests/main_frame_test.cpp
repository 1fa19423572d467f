// The main window on Qt's offscreen platform: its menus (texts, ids, check marks, enabling as
// the command target says), the keys, the start placement, the zoom steps and full screen.
#include "browse/main_frame.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <map>
#include <set>

#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

class FakeCommands : public CommandTarget {
public:
    bool onCommand(int id) override {
        run.push_back(id);
        return true;
    }
    CommandState commandState(int id) const override {
        const auto found = states.find(id);
        return found == states.end() ? CommandState{} : found->second;
    }
    std::vector<int> run;
    std::map<int, CommandState> states;
};

class MainFrameTest : public testing::Test {
protected:
    MainFrameTest() {
        test::widgetApplication();
        view = new QWidget;
        frame = std::make_unique<CMainFrame>(view, commands);
    }
    // The items of a menu as (text, id) pairs, separators as ("-", 0).
    static std::vector<std::pair<QString, int>> items(const QMenu* menu) {
        std::vector<std::pair<QString, int>> result;
        for (const QAction* item : menu->actions()) {
            if (item->isSeparator())
                result.emplace_back("-", 0);
            else if (item->menu())
                result.emplace_back(item->text(), -1);
            else
                result.emplace_back(item->text(), item->property("commandId").toInt());
        }
        return result;
    }
    QMenu* topMenu(const QString& title) const {
        for (QAction* item : frame->menuBar()->actions())
            if (item->text() == title) return item->menu();
        return nullptr;
    }

    FakeCommands commands;
    QWidget* view;
    std::unique_ptr<CMainFrame> frame;
};

TEST_F(MainFrameTest, MenusHoldEveryCommandInOrder) {
    using Items = std::vector<std::pair<QString, int>>;
    EXPECT_EQ(frame->windowTitle(), "KX Player");
    ASSERT_TRUE(topMenu("&File"));
    EXPECT_EQ(items(topMenu("&File")),
              (Items{{"&Open...", 57601}, {"&Close", 57602}, {"-", 0}, {"&Search...", 32783},
                     {"-", 0}, {"&Print...", 57607}, {"Print Pre&view", 57609},
                     {"P&rint Setup...", 57606}, {"Print &Mode...", 32777}, {"-", 0},
                     {"E&xit", 57665}}));
    EXPECT_EQ(items(topMenu("&View")), (Items{{"&Player", 32771}, {"&Full Screen", 32772}}));
    EXPECT_EQ(items(topMenu("&Setup")),
              (Items{{"&Color Configuration...", 32774}, {"Motion Search Setup...", 32784},
                     {"Enable Motion Search", 32785}, {"Enable Continuous Playback", 32786},
                     {"Caption Display Setup...", 32787}}));
    EXPECT_EQ(items(topMenu("Tools")), (Items{{"&KX to AVI...", 32778}, {"Export to &MP4...", 32795}}));
    EXPECT_EQ(items(topMenu("&Help")), (Items{{"&About KX Player...", 57664}}));
    EXPECT_EQ(frame->action(ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(frame->action(ID_FILE_CLOSE)->shortcut(), QKeySequence("Ctrl+C"));
    EXPECT_EQ(frame->action(ID_SEARCH)->shortcut(), QKeySequence("Ctrl+S"));
}

TEST_F(MainFrameTest, MenusShowTheTargetsEnablingAndCheckMarks) {
    commands.states[ID_FILE_PRINT] = {false, false};
    commands.states[ID_MOTION_ENABLE] = {true, true};
    frame->updateCommandStates();
    EXPECT_FALSE(frame->action(ID_FILE_PRINT)->isEnabled());
    EXPECT_TRUE(frame->action(ID_MOTION_ENABLE)->isChecked());
    commands.states[ID_FILE_PRINT] = {true, false};
    commands.states[ID_MOTION_ENABLE] = {true, false};
    frame->updateCommandStates();
    EXPECT_TRUE(frame->action(ID_FILE_PRINT)->isEnabled());
    EXPECT_FALSE(frame->action(ID_MOTION_ENABLE)->isChecked());

    frame->action(ID_CONTINUOUS_PLAY)->trigger();
    EXPECT_EQ(commands.run, std::vector<int>{ID_CONTINUOUS_PLAY});
    // A greyed command does nothing even when reached by its key.
    commands.states[ID_FILE_CLOSE] = {false, false};
    frame->action(ID_FILE_CLOSE)->trigger();
    EXPECT_EQ(commands.run, std::vector<int>{ID_CONTINUOUS_PLAY});
}

TEST_F(MainFrameTest, TransportKeysReachTheirCommands) {
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    frame->activateWindow();
    view->setFocus();
    const std::pair<Qt::Key, int> keys[] = {
        {Qt::Key_Space, ID_KEY_PAUSE},           {Qt::Key_Right, ID_KEY_STEP_NEXT},
        {Qt::Key_Left, ID_KEY_STEP_PREV},        {Qt::Key_PageDown, ID_KEY_NEXT_GROUP},
        {Qt::Key_PageUp, ID_KEY_PREV_GROUP},     {Qt::Key_BracketRight, ID_KEY_FASTER},
        {Qt::Key_BracketLeft, ID_KEY_SLOWER},    {Qt::Key_Backspace, ID_KEY_PLAYBACK},
        {Qt::Key_F11, ID_VIEW_FULLSCREEN},
    };
    for (const auto& [key, id] : keys) {
        commands.run.clear();
        QTest::keyClick(view, key);
        EXPECT_EQ(commands.run, std::vector<int>{id}) << QKeySequence(key).toString().toStdString();
    }
    commands.run.clear();
    QTest::keyClick(view, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(commands.run, std::vector<int>{ID_FILE_OPEN});
    commands.run.clear();
    QTest::keyClick(view, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(commands.run.empty()) << "Ctrl+N does nothing";
}

TEST_F(MainFrameTest, StartsWithA640By480ViewAbovetheScreensCentre) {
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    frame->placeAtStart(QRect(0, 0, 1280, 1024));
    QTest::qWait(10);
    EXPECT_EQ(view->size(), QSize(640, 480));
    const QRect window = frame->frameGeometry();
    EXPECT_EQ(window.left(), (1280 - window.width()) / 2);
    EXPECT_EQ(window.top(), (1024 - window.height()) / 2 - 80);
}

TEST_F(MainFrameTest, ZoomStepsStopAt800By600And240By180) {
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    struct Case {
        QSize from;
        bool in;
        QSize to;
    };
    const Case cases[] = {
        {{640, 480}, true, {720, 540}}, {{760, 560}, true, {800, 600}},
        {{800, 500}, true, {800, 500}}, {{640, 480}, false, {560, 420}},
        {{300, 200}, false, {240, 180}}, {{240, 300}, false, {240, 300}},
    };
    for (const Case& c : cases) {
        frame->fitViewTo(c.from.width(), c.from.height(), false);
        QTest::qWait(10);
        ASSERT_EQ(view->size(), c.from);
        c.in ? frame->zoomIn() : frame->zoomOut();
        QTest::qWait(10);
        EXPECT_EQ(view->size(), c.to) << c.from.width() << "x" << c.from.height();
    }
}

TEST_F(MainFrameTest, FullScreenCoversTheScreenWithTheViewAndRestoresTheWindow) {
    frame->fitViewTo(640, 480, false);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    const QRect before = frame->geometry();
    frame->ToggleFullScreen();
    QTest::qWait(50);
    EXPECT_TRUE(frame->IsFullScreen());
    EXPECT_FALSE(frame->menuBar()->isVisible());
    EXPECT_EQ(view->size(), frame->screen()->geometry().size());
    // No zoom steps while full screen.
    frame->zoomIn();
    EXPECT_EQ(view->size(), frame->screen()->geometry().size());
    frame->ToggleFullScreen();
    QTest::qWait(50);
    EXPECT_FALSE(frame->IsFullScreen());
    EXPECT_TRUE(frame->menuBar()->isVisible());
    EXPECT_EQ(frame->geometry(), before);

    // From a maximised window, back to the maximised window.
    frame->showMaximized();
    QTest::qWait(50);
    frame->ToggleFullScreen();
    QTest::qWait(50);
    frame->ToggleFullScreen();
    QTest::qWait(50);
    EXPECT_TRUE(frame->isMaximized());
}

}  // namespace
}  // namespace kx
