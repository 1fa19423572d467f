// The control panel on Qt's offscreen platform, driven as a user drives it: every button's
// command, the speed lamps, the seek slider (drag, keys, wheel, clip selection), expanding,
// moving the panel by its body and placing it beside the main window. Also its icon buttons
// and icon drawings.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <string>
#include <vector>

#include "present/widgets/control_panel.h"
#include "present/widgets/icon_button.h"
#include "present/widgets/panel_icons.h"
#include "present/widgets/seek_slider_widget.h"
#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

// Records every command as text; the clip commands answer as told; the motion-search
// suspension is a flag that toggleMotionSuspend flips.
class RecordingCommands : public PanelCommands {
public:
    void closeProgram() override { calls.push_back("closeProgram"); }
    void open() override { calls.push_back("open"); }
    void stop() override { calls.push_back("stop"); }
    void playback() override { calls.push_back("playback"); }
    void pause() override { calls.push_back("pause"); }
    void stepPrev() override { calls.push_back("stepPrev"); }
    void stepNext() override { calls.push_back("stepNext"); }
    void playPrev() override { calls.push_back("playPrev"); }
    void playNext() override { calls.push_back("playNext"); }
    void snapshot() override { calls.push_back("snapshot"); }
    bool markClipStart() override {
        calls.push_back("markClipStart");
        return clipStartResult;
    }
    bool markClipEnd() override {
        calls.push_back("markClipEnd");
        return clipEndResult;
    }
    void saveClip() override { calls.push_back("saveClip"); }
    bool playClip() override {
        calls.push_back("playClip");
        return playClipResult;
    }
    void zoomIn() override { calls.push_back("zoomIn"); }
    void zoomOut() override { calls.push_back("zoomOut"); }
    void fullScreen() override { calls.push_back("fullScreen"); }
    void toggleCaption() override { calls.push_back("toggleCaption"); }
    void captionColour() override { calls.push_back("captionColour"); }
    void authenticate() override { calls.push_back("authenticate"); }
    void setSpeed(int level) override {
        calls.push_back("setSpeed(" + std::to_string(level) + ")");
    }
    void sliderSeek(int32_t group, int32_t offset) override {
        calls.push_back("sliderSeek(" + std::to_string(group) + "," + std::to_string(offset) + ")");
    }
    bool motionSuspended() const override { return suspended; }
    void toggleMotionSuspend() override {
        suspended = !suspended;
        calls.push_back(suspended ? "suspend" : "resume");
    }

    std::vector<std::string> calls;
    bool clipStartResult = true;
    bool clipEndResult = true;
    bool playClipResult = true;
    bool suspended = false;
};

using Calls = std::vector<std::string>;

struct PanelUnderTest {
    PanelUnderTest() : panel((test::widgetApplication(), commands)) {}

    QAbstractButton* button(const QString& name) {
        for (QAbstractButton* candidate : panel.findChildren<QAbstractButton*>())
            if (candidate->accessibleName() == name) return candidate;
        return nullptr;
    }
    SeekSliderWidget* slider() {
        for (QSlider* candidate : panel.findChildren<QSlider*>())
            if (candidate->accessibleName() == QLatin1String("Seek"))
                return dynamic_cast<SeekSliderWidget*>(candidate);
        return nullptr;
    }
    void click(const QString& name) {
        QAbstractButton* target = button(name);
        ASSERT_NE(target, nullptr) << name.toStdString();
        QTest::mouseClick(target, Qt::LeftButton);
        QCoreApplication::processEvents();  // Cancel and Esc close after the event
    }
    void showPanel() {
        panel.move(100, 100);
        panel.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    }

    RecordingCommands commands;
    CPlayerPanel panel;
};

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons, QPoint global) {
    QMouseEvent event(type, QPointF(local), QPointF(global), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    sendMouse(widget, type, local, button, buttons, widget->mapToGlobal(local));
}

void sendWheel(QWidget* widget, int delta) {
    const QPointF middle(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(middle, widget->mapToGlobal(middle), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

struct ButtonCase {
    const char* name;
    int id;
    const char* toolTip;
    const char* call;
};

TEST(ControlPanel, EveryButtonCallsItsCommandAndCarriesItsNames) {
    const ButtonCase cases[] = {
        {"Cancel", 2, "", "closeProgram"},
        {"Open", 1003, "Open", "open"},
        {"Stop", 1004, "Stop", "stop"},
        {"Pause", 1005, "Pause", "pause"},
        {"Playback", 1006, "Playback", "playback"},
        {"Play prev", 1007, "Play prev", "playPrev"},
        {"Step prev", 1008, "Step prev", "stepPrev"},
        {"Step next", 1009, "Step next", "stepNext"},
        {"Play next", 1010, "Play next", "playNext"},
        {"Start clip", 1011, "Start clip", "markClipStart"},
        {"End clip", 1012, "End clip", "markClipEnd"},
        {"Save clip", 1013, "Save clip", "saveClip"},
        {"Play clip", 1014, "Play clip", "playClip"},
        {"Snapshot", 1015, "Snapshot", "snapshot"},
        {"Caption", 1016, "Caption", "toggleCaption"},
        {"Caption color", 1017, "Caption color", "captionColour"},
        {"Full screen", 1018, "Full screen", "fullScreen"},
        {"Zoom in", 1019, "Zoom in", "zoomIn"},
        {"Zoom out", 1020, "Zoom out", "zoomOut"},
        {"Authenticate", 1177, "", "authenticate"},
        {"1/8 x", 1057, "1/8 x", "setSpeed(-4)"},
        {"Extra High Speed", 1065, "Extra High Speed", "setSpeed(4)"},
    };
    PanelUnderTest test;
    test.showPanel();
    EXPECT_EQ(test.panel.windowTitle(), QStringLiteral("Player"));
    EXPECT_TRUE(test.panel.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(test.panel.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    for (const ButtonCase& c : cases) {
        SCOPED_TRACE(c.name);
        QAbstractButton* button = test.button(QString::fromUtf8(c.name));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->objectName(), QStringLiteral("id%1").arg(c.id));
        EXPECT_EQ(button->toolTip(), QString::fromUtf8(c.toolTip));
        EXPECT_TRUE(button->isVisible());
        test.commands.calls.clear();
        test.click(QString::fromUtf8(c.name));
        EXPECT_EQ(test.commands.calls, Calls{c.call});
    }
    ASSERT_NE(test.slider(), nullptr);
    EXPECT_EQ(test.slider()->objectName(), QStringLiteral("id1000"));
    ASSERT_NE(test.button("Advance"), nullptr);
    EXPECT_EQ(test.button("Advance")->objectName(), QStringLiteral("id1002"));

    // No two controls overlap, and all lie inside the panel.
    QList<QWidget*> controls;
    for (QAbstractButton* button : test.panel.findChildren<QAbstractButton*>()) controls << button;
    controls << test.slider();
    for (QWidget* a : controls) {
        EXPECT_TRUE(test.panel.rect().contains(a->geometry())) << a->accessibleName().toStdString();
        for (QWidget* b : controls) {
            if (a == b) continue;
            EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                << a->accessibleName().toStdString() << " / " << b->accessibleName().toStdString();
        }
    }
}

TEST(ControlPanel, EscapeClosesTheProgram) {
    PanelUnderTest test;
    test.showPanel();
    QTest::keyClick(&test.panel, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(test.commands.calls, Calls{"closeProgram"});
}

// The brightest pixel inside the frame of a speed button, above its caption: the lamp's.
int lampBrightness(QAbstractButton* button) {
    const QImage image = button->grab().toImage();
    int brightest = 0;
    for (int y = 3; y < image.height() / 2; ++y)
        for (int x = 3; x < image.width() - 3; ++x) {
            const QRgb pixel = image.pixel(x, y);
            brightest = std::max(brightest, qRed(pixel) + qGreen(pixel) + qBlue(pixel));
        }
    return brightest;
}

TEST(ControlPanel, SpeedButtonsLightTheirLampAndSetTheLevelOnce) {
    const char* names[] = {"1/8 x", "1/6 x", "1/4 x",      "1/2 x",           "1 x",
                           "2 x",   "4 x",   "High Speed", "Extra High Speed"};
    PanelUnderTest test;
    test.showPanel();
    EXPECT_EQ(test.panel.speedLevel(), 0);
    EXPECT_TRUE(test.panel.speedLampLit(0));
    const int unlitOneX = lampBrightness(test.button("2 x"));
    EXPECT_GT(lampBrightness(test.button("1 x")), unlitOneX);

    test.click("1 x");  // lit already: nothing happens
    EXPECT_TRUE(test.commands.calls.empty());

    for (int i = 0; i < 9; ++i) {
        const int level = i - 4;
        if (level == 0) continue;
        test.commands.calls.clear();
        test.click(names[i]);
        EXPECT_EQ(test.commands.calls, Calls{"setSpeed(" + std::to_string(level) + ")"})
            << names[i];
        EXPECT_EQ(test.panel.speedLevel(), level);
        for (int other = -4; other <= 4; ++other)
            EXPECT_EQ(test.panel.speedLampLit(other), other == level) << names[i] << " " << other;
        test.commands.calls.clear();
        test.click(names[i]);
        EXPECT_TRUE(test.commands.calls.empty()) << names[i] << " clicked again";
        test.click("1 x");
    }

    test.click("2 x");
    test.commands.calls.clear();
    test.click("Playback");
    EXPECT_EQ(test.commands.calls, Calls{"playback"});
    EXPECT_EQ(test.panel.speedLevel(), 0);
    EXPECT_TRUE(test.panel.speedLampLit(0));
    EXPECT_FALSE(test.panel.speedLampLit(1));
    EXPECT_GT(lampBrightness(test.button("1 x")), lampBrightness(test.button("2 x")));

    // The document's own level change lights the lamp without calling back.
    test.commands.calls.clear();
    test.panel.showSpeedLevel(3);
    EXPECT_EQ(test.panel.speedLevel(), 3);
    EXPECT_TRUE(test.panel.speedLampLit(3));
    EXPECT_FALSE(test.panel.speedLampLit(0));
    test.panel.showSpeedLevel(9);
    EXPECT_EQ(test.panel.speedLevel(), 3);
    test.click("High Speed");
    EXPECT_TRUE(test.commands.calls.empty());
}

struct DragCase {
    uint32_t lastPosition;  // what the document showed before the release
    bool suspendedBefore;   // motion search suspended before the drag
    Calls expected;
};

TEST(ControlPanel, DraggingTheThumbSeeksTheGroupUnderIt) {
    const DragCase cases[] = {
        {10,
         false,
         {"suspend", "sliderSeek(0,20)", "sliderSeek(1,5)", "playNext", "resume",
          "sliderSeek(1,5)"}},
        {50,
         false,
         {"suspend", "sliderSeek(0,20)", "sliderSeek(1,5)", "playPrev", "resume",
          "sliderSeek(1,5)"}},
        {30, true, {"sliderSeek(0,20)", "sliderSeek(1,5)", "resume", "sliderSeek(1,5)"}},
    };
    for (const DragCase& c : cases) {
        PanelUnderTest test;
        test.showPanel();
        SeekSliderWidget* slider = test.slider();
        ASSERT_NE(slider, nullptr);
        test.panel.setSliderRange(60, {25, 55, 60});
        test.panel.setSliderPosition(10);
        test.commands.suspended = c.suspendedBefore;
        const int y = slider->height() / 2;
        const QPoint thumb(slider->pixelOfValue(10), y);
        sendMouse(slider, QEvent::MouseButtonPress, thumb, Qt::LeftButton, Qt::LeftButton);
        ASSERT_TRUE(slider->isSliderDown());
        sendMouse(slider, QEvent::MouseMove, {slider->pixelOfValue(20), y}, Qt::NoButton,
                  Qt::LeftButton);
        EXPECT_EQ(slider->value(), 20);
        sendMouse(slider, QEvent::MouseMove, {slider->pixelOfValue(30), y}, Qt::NoButton,
                  Qt::LeftButton);
        EXPECT_EQ(slider->value(), 30);
        // Frames shown meanwhile do not pull the thumb from under the pointer, nor seek.
        test.panel.setSliderPosition(c.lastPosition);
        EXPECT_EQ(slider->value(), 30);
        sendMouse(slider, QEvent::MouseButtonRelease, {slider->pixelOfValue(30), y}, Qt::LeftButton,
                  Qt::NoButton);
        EXPECT_EQ(test.commands.calls, c.expected) << "last position " << c.lastPosition;
        EXPECT_FALSE(test.commands.suspended);
    }
}

TEST(ControlPanel, KeysOnTheSliderSeekWhenReleased) {
    PanelUnderTest test;
    test.showPanel();
    test.panel.setSliderRange(60, {25, 55, 60});
    test.panel.setSliderPosition(24);
    SeekSliderWidget* slider = test.slider();
    QTest::keyPress(slider, Qt::Key_Right);
    EXPECT_TRUE(test.commands.calls.empty());
    QTest::keyRelease(slider, Qt::Key_Right);
    EXPECT_EQ(test.commands.calls, Calls{"sliderSeek(1,0)"});
}

TEST(ControlPanel, AValueSetByAnAssistiveToolSeeksOnce) {
    PanelUnderTest test;
    test.showPanel();
    test.panel.setSliderRange(60, {25, 55, 60});
    test.panel.setSliderPosition(10);
    // A screen reader sets the value through the slider's accessible value interface.
    test.slider()->setValue(57);
    EXPECT_EQ(test.commands.calls, Calls{"sliderSeek(2,2)"});
}

TEST(ControlPanel, DocumentSettingTheSliderNeverSeeks) {
    PanelUnderTest test;
    test.showPanel();
    SeekSliderWidget* slider = test.slider();
    test.panel.setSliderRange(60, {25, 55, 60});
    EXPECT_EQ(slider->maximum(), 60);
    EXPECT_EQ(slider->ticks(), (std::vector<uint32_t>{25, 55, 60}));
    test.panel.setSliderPosition(42);
    EXPECT_EQ(slider->value(), 42);
    EXPECT_EQ(test.panel.lastSliderPosition(), 42u);
    test.click("Start clip");
    test.panel.clearSlider();
    EXPECT_EQ(slider->value(), 0);
    EXPECT_TRUE(slider->ticks().empty());
    EXPECT_FALSE(slider->selection().has_value());
    EXPECT_EQ(test.panel.lastSliderPosition(), 0u);
    EXPECT_EQ(test.commands.calls, Calls{"markClipStart"});
}

struct WheelCase {
    int delta;
    bool suspendedBefore;
    Calls expected;
};

TEST(ControlPanel, WheelOverTheSliderJumpsGroupsWithoutMovingTheThumb) {
    const WheelCase cases[] = {
        {120, false, {"suspend", "playPrev", "resume"}},
        {-120, false, {"suspend", "playNext", "resume"}},
        {0, false, {"suspend", "resume"}},
        {-120, true, {"playNext", "resume"}},
    };
    for (const WheelCase& c : cases) {
        PanelUnderTest test;
        test.showPanel();
        test.panel.setSliderRange(60, {25, 55, 60});
        test.panel.setSliderPosition(30);
        test.commands.suspended = c.suspendedBefore;
        sendWheel(test.slider(), c.delta);
        EXPECT_EQ(test.commands.calls, c.expected) << c.delta;
        EXPECT_EQ(test.slider()->value(), 30) << c.delta;
    }
}

TEST(ControlPanel, ClipButtonsShowTheSelectionOnTheSlider) {
    PanelUnderTest test;
    test.showPanel();
    SeekSliderWidget* slider = test.slider();
    test.panel.setSliderRange(100, {50, 100});
    test.panel.setSliderPosition(40);
    const QImage plain = slider->grab().toImage();
    EXPECT_EQ(plain.pixel(1, 1) & 0xFFFFFF, 0xA8A8A8u);
    EXPECT_EQ(plain.pixel(slider->width() - 2, 1) & 0xFFFFFF, 0xA8A8A8u);

    test.click("Start clip");
    ASSERT_TRUE(slider->selection().has_value());
    EXPECT_EQ(*slider->selection(), (SliderSelection{40, 41}));

    test.panel.setSliderPosition(20);  // the end before the start: the range is put in order
    test.click("End clip");
    EXPECT_EQ(*slider->selection(), (SliderSelection{20, 40}));
    test.panel.setSliderPosition(80);
    test.click("End clip");
    EXPECT_EQ(*slider->selection(), (SliderSelection{20, 80}));
    // The band shows between the marks and not beyond them.
    const QImage marked = slider->grab().toImage();
    const auto columnChanged = [&](int value) {
        const int x = slider->pixelOfValue(value);
        for (int y = 0; y < slider->height(); ++y)
            if (marked.pixel(x, y) != plain.pixel(x, y)) return true;
        return false;
    };
    EXPECT_TRUE(columnChanged(50));
    EXPECT_FALSE(columnChanged(10));
    EXPECT_FALSE(columnChanged(95));

    test.commands.clipEndResult = false;
    test.panel.setSliderPosition(90);
    test.click("End clip");
    EXPECT_EQ(*slider->selection(), (SliderSelection{20, 80}));

    test.commands.playClipResult = false;
    test.click("Play clip");
    EXPECT_TRUE(slider->selection().has_value());
    test.commands.playClipResult = true;
    test.click("Play clip");
    EXPECT_FALSE(slider->selection().has_value());

    test.commands.clipStartResult = false;
    test.click("Start clip");
    EXPECT_FALSE(slider->selection().has_value());
    EXPECT_EQ(std::count(test.commands.calls.begin(), test.commands.calls.end(), "sliderSeek(0,0)"),
              0);
}

TEST(ControlPanel, AdvanceGrowsThePanelAndShowsTheReadout) {
    PanelUnderTest test;
    test.showPanel();
    const QSize collapsed = test.panel.size();
    QLabel* readout = nullptr;
    for (QLabel* label : test.panel.findChildren<QLabel*>())
        if (label->accessibleName() == QLatin1String("Frame readout")) readout = label;
    ASSERT_NE(readout, nullptr);
    EXPECT_FALSE(readout->isVisible());

    test.click("Advance");
    EXPECT_TRUE(test.panel.isExpanded());
    EXPECT_EQ(test.panel.size(), collapsed + QSize(0, CPlayerPanel::kExpandHeight));
    EXPECT_TRUE(readout->isVisible());
    EXPECT_TRUE(test.panel.rect().contains(readout->geometry()));
    test.panel.setReadout(QStringLiteral("G 3 P 12"));
    EXPECT_EQ(readout->text(), QStringLiteral("G 3 P 12"));

    test.click("Advance");
    EXPECT_FALSE(test.panel.isExpanded());
    EXPECT_EQ(test.panel.size(), collapsed);
    EXPECT_FALSE(readout->isVisible());
    EXPECT_TRUE(test.commands.calls.empty());
}

TEST(ControlPanel, DraggingTheBodyMovesThePanelButDraggingAControlDoesNot) {
    PanelUnderTest test;
    test.showPanel();
    const QPoint start = test.panel.pos();
    const QPoint body(2, 33);  // the margin between the slider and the first button row
    ASSERT_EQ(test.panel.childAt(body), nullptr);
    const QPoint global = test.panel.mapToGlobal(body);
    sendMouse(&test.panel, QEvent::MouseButtonPress, body, Qt::LeftButton, Qt::LeftButton, global);
    sendMouse(&test.panel, QEvent::MouseMove, body + QPoint(10, 5), Qt::NoButton, Qt::LeftButton,
              global + QPoint(10, 5));
    sendMouse(&test.panel, QEvent::MouseMove, body + QPoint(40, 25), Qt::NoButton, Qt::LeftButton,
              global + QPoint(40, 25));
    sendMouse(&test.panel, QEvent::MouseButtonRelease, body, Qt::NoButton, Qt::NoButton,
              global + QPoint(40, 25));
    EXPECT_EQ(test.panel.pos(), start + QPoint(40, 25));

    // A move without the button held, and a drag that starts on a button, leave it in place.
    const QPoint moved = test.panel.pos();
    sendMouse(&test.panel, QEvent::MouseMove, body + QPoint(60, 60), Qt::NoButton, Qt::NoButton,
              global + QPoint(60, 60));
    QAbstractButton* open = test.button("Open");
    sendMouse(open, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(open, QEvent::MouseMove, {45, 35}, Qt::NoButton, Qt::LeftButton);
    sendMouse(open, QEvent::MouseButtonRelease, {45, 35}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(test.panel.pos(), moved);
    EXPECT_TRUE(test.commands.calls.empty());  // released off the button: no click
}

struct PlacementCase {
    const char* what;
    QRect screen;
    QRect main;
    QPoint expected;
};

TEST(ControlPanel, PlacedBesideTheMainWindowNeverOverIt) {
    const QSize panel(272, 150);
    const QRect screen(0, 0, 1280, 1024);
    const PlacementCase cases[] = {
        {"right, top aligned", screen, {100, 100, 640, 480}, {740, 100}},
        {"right, kept on the screen", screen, {100, 950, 640, 60}, {740, 874}},
        {"left", screen, {800, 100, 460, 400}, {528, 100}},
        {"below", screen, {10, 100, 1260, 300}, {10, 400}},
        {"above", screen, {10, 800, 1260, 200}, {10, 650}},
        {"second screen", {1280, 0, 1920, 1080}, {1300, 200, 640, 480}, {1940, 200}},
    };
    for (const PlacementCase& c : cases) {
        const QRect placed = panelPlacement(panel, c.main, c.screen);
        EXPECT_EQ(placed.topLeft(), c.expected) << c.what;
        EXPECT_EQ(placed.size(), panel) << c.what;
        EXPECT_FALSE(placed.intersects(c.main)) << c.what;
        EXPECT_TRUE(c.screen.contains(placed)) << c.what;
    }
    // A main window that fills the screen leaves no side: the panel stays on the screen.
    EXPECT_TRUE(screen.contains(panelPlacement(panel, screen, screen)));

    PanelUnderTest test;
    test.panel.placeBeside({100, 100, 640, 480}, screen);
    EXPECT_EQ(test.panel.pos(), QPoint(740, 100));
}

TEST(IconButton, StatesFollowThePointerThePressAndEnabling) {
    test::widgetApplication();
    CIconButton button;
    button.resize(28, 24);
    button.setFrameStyle(IconFrame::HoverRaised);
    button.setIconDrawing([](QPainter& painter, const QRectF& box, IconState state) {
        drawPanelIcon(painter, PanelIcon::Play, box, state);
    });
    button.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });

    // The window may have appeared under the (virtual) pointer: it leaves first.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(button.state(), IconState::Normal);
    const QImage normal = button.grab().toImage();
    // Flat in the normal state: the top edge has the face colour.
    EXPECT_EQ(QColor(normal.pixel(10, 0)), button.frameColours().normal);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), button.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.state(), IconState::Hover);
    const QImage hover = button.grab().toImage();
    EXPECT_NE(hover, normal);
    EXPECT_NE(QColor(hover.pixel(10, 0)), button.frameColours().hover);  // raised: a light edge

    sendMouse(&button, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(button.state(), IconState::Pressed);
    const QImage pressed = button.grab().toImage();
    EXPECT_NE(pressed, hover);
    sendMouse(&button, QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button.state(), IconState::Hover);

    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(button.state(), IconState::Normal);
    EXPECT_EQ(button.grab().toImage(), normal);

    button.setEnabled(false);
    EXPECT_EQ(button.state(), IconState::Disabled);
    EXPECT_NE(button.grab().toImage(), normal);

    // A raised button shows its frame without the pointer over it.
    button.setEnabled(true);
    button.setFrameStyle(IconFrame::Raised);
    EXPECT_NE(QColor(button.grab().toImage().pixel(10, 0)), button.frameColours().normal);
}

int opaquePixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

int brightness(const QImage& image) {
    int sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            sum += qRed(pixel) + qGreen(pixel) + qBlue(pixel);
        }
    return sum;
}

TEST(PanelIcons, EveryIconIsDrawnDistinctlyAndLitLampsAreBrighter) {
    test::widgetApplication();
    std::vector<QImage> icons;
    for (int i = 0; i < kPanelIconCount; ++i) {
        const auto icon = static_cast<PanelIcon>(i);
        const QImage normal = panelIconImage(icon, IconState::Normal, {16, 16});
        EXPECT_GT(opaquePixels(normal), 12) << i;
        EXPECT_LT(opaquePixels(normal), 16 * 16) << i << " fills its whole box";
        EXPECT_NE(panelIconImage(icon, IconState::Disabled, {16, 16}), normal) << i;
        EXPECT_NE(panelIconImage(icon, IconState::Hover, {16, 16}), normal) << i;
        for (size_t other = 0; other < icons.size(); ++other)
            EXPECT_NE(icons[other], normal) << i << " looks like " << other;
        icons.push_back(normal);
    }
    for (int level = -4; level <= 4; ++level) {
        const QImage unlit = speedLampImage(speedLampIndex(level, false));
        const QImage lit = speedLampImage(speedLampIndex(level, true));
        EXPECT_EQ(lit.size(), QSize(kSpeedLampSize, kSpeedLampSize));
        EXPECT_GT(brightness(lit), brightness(unlit) * 2) << level;
    }
}

}  // namespace
}  // namespace kx
