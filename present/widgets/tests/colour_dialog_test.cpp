// The colour dialog on Qt's offscreen platform: every scroll action hands the four positions to
// SetColour at once, "&Default" sets all four to 100, Cancel gives back the opening values.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <vector>

#include "present/widgets/colour_dialog.h"
#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

// A dialog opened on `settings` that records every SetColour call.
struct DialogUnderTest {
    explicit DialogUnderTest(const ColourSettings& settings)
        : dialog(settings, [this](int b, int c, int s, int h) {
              calls.push_back({b, c, s, h});
          }) {}
    QScrollBar* bar(int id) { return dialog.findChild<QScrollBar*>(QString::number(id)); }
    QPushButton* button(const QString& text) {
        for (QPushButton* candidate : dialog.findChildren<QPushButton*>())
            if (candidate->text() == text) return candidate;
        return nullptr;
    }

    std::vector<ColourSettings> calls;
    CColourDialog dialog;
};

struct ScrollCase {
    int id;
    QAbstractSlider::SliderAction action;
    ColourSettings opened;
    ColourSettings expected;
};

TEST(ColourDialog, EveryScrollActionCallsSetColourWithTheFourPositions) {
    test::widgetApplication();
    const ColourSettings mid{100, 100, 100, 100};
    const ScrollCase cases[] = {
        {kColourBrightnessId, QAbstractSlider::SliderSingleStepSub, mid, {99, 100, 100, 100}},
        {kColourContrastId, QAbstractSlider::SliderSingleStepAdd, mid, {100, 101, 100, 100}},
        {kColourSaturationId, QAbstractSlider::SliderPageStepSub, mid, {100, 100, 90, 100}},
        {kColourHueId, QAbstractSlider::SliderPageStepAdd, mid, {100, 100, 100, 110}},
        {kColourBrightnessId, QAbstractSlider::SliderPageStepSub, {5, 7, 8, 9}, {1, 7, 8, 9}},
        {kColourHueId, QAbstractSlider::SliderPageStepAdd, {5, 7, 8, 195}, {5, 7, 8, 200}},
        {kColourContrastId, QAbstractSlider::SliderSingleStepAdd, {5, 199, 8, 9}, {5, 200, 8, 9}},
    };
    for (const ScrollCase& c : cases) {
        DialogUnderTest test(c.opened);
        ASSERT_NE(test.bar(c.id), nullptr) << c.id;
        test.bar(c.id)->triggerAction(c.action);
        ASSERT_EQ(test.calls.size(), 1u) << c.id << " action " << c.action;
        EXPECT_EQ(test.calls.back(), c.expected) << c.id << " action " << c.action;
        EXPECT_EQ(test.dialog.current(), c.expected);
    }
}

TEST(ColourDialog, DraggingTheThumbCallsSetColourAtEveryPosition) {
    test::widgetApplication();
    DialogUnderTest test({100, 100, 100, 100});
    QScrollBar* hue = test.bar(kColourHueId);
    ASSERT_NE(hue, nullptr);
    hue->setSliderDown(true);
    hue->setSliderPosition(57);
    hue->setSliderPosition(3);
    hue->setSliderDown(false);
    ASSERT_GE(test.calls.size(), 2u);
    EXPECT_EQ(test.calls[0], (ColourSettings{100, 100, 100, 57}));
    EXPECT_EQ(test.calls.back(), (ColourSettings{100, 100, 100, 3}));
}

TEST(ColourDialog, DefaultSetsAllFourTo100WithOneCall) {
    test::widgetApplication();
    DialogUnderTest test({30, 150, 0, 200});
    ASSERT_NE(test.button("&Default"), nullptr);
    test.button("&Default")->click();
    ASSERT_EQ(test.calls.size(), 1u);
    EXPECT_EQ(test.calls[0], (ColourSettings{}));
    EXPECT_EQ(test.dialog.current(), (ColourSettings{}));
}

TEST(ColourDialog, CancelGivesBackTheOpeningValuesAndOkKeepsTheNewOnes) {
    test::widgetApplication();
    const ColourSettings opened{120, 80, 60, 140};
    {
        DialogUnderTest test(opened);
        test.bar(kColourSaturationId)->triggerAction(QAbstractSlider::SliderPageStepAdd);
        test.button("&Default")->click();
        auto* box = test.dialog.findChild<QDialogButtonBox*>();
        ASSERT_NE(box, nullptr);
        box->button(QDialogButtonBox::Cancel)->click();
        ASSERT_EQ(test.calls.size(), 3u);
        EXPECT_EQ(test.calls[0], (ColourSettings{120, 80, 70, 140}));
        EXPECT_EQ(test.calls.back(), opened);
        EXPECT_EQ(test.dialog.result(), QDialog::Rejected);
        EXPECT_EQ(test.dialog.current(), opened);
    }
    {
        DialogUnderTest test(opened);
        test.bar(kColourBrightnessId)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        test.dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        ASSERT_EQ(test.calls.size(), 1u);
        EXPECT_EQ(test.calls[0], (ColourSettings{121, 80, 60, 140}));
        EXPECT_EQ(test.dialog.result(), QDialog::Accepted);
        EXPECT_EQ(test.dialog.current(), (ColourSettings{121, 80, 60, 140}));
    }
}

TEST(ColourDialog, LaysOutTheNamedControlsAt270By240) {
    test::widgetApplication();
    DialogUnderTest test({});
    EXPECT_EQ(test.dialog.windowTitle(), "Color Configuration");
    EXPECT_EQ(test.dialog.size(), QSize(270, 240));
    auto* group = test.dialog.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "Color control");
    QStringList labels;
    for (QLabel* label : group->findChildren<QLabel*>()) labels << label->text();
    EXPECT_EQ(labels, (QStringList{"Brightness", "Contrast", "Saturation", "Hue"}));
    for (int id : {kColourBrightnessId, kColourContrastId, kColourSaturationId, kColourHueId}) {
        QScrollBar* bar = test.bar(id);
        ASSERT_NE(bar, nullptr) << id;
        EXPECT_EQ(bar->orientation(), Qt::Horizontal);
        EXPECT_EQ(bar->minimum(), 1);
        EXPECT_EQ(bar->maximum(), 200);
        EXPECT_EQ(bar->value(), 100);
    }
    EXPECT_TRUE(test.calls.empty());  // opening changes nothing
}

TEST(ColourDialog, OpensRightOfAndBelowTheScreenCentreButStaysOnTheScreen) {
    EXPECT_EQ(colourDialogPosition({0, 0, 1920, 1080}), QPoint(1123, 649));
    EXPECT_EQ(colourDialogPosition({0, 0, 1024, 768}), QPoint(675, 493));
    EXPECT_EQ(colourDialogPosition({1920, 0, 1280, 1024}), QPoint(1920 + 803, 621));
    EXPECT_EQ(colourDialogPosition({0, 0, 800, 600}), QPoint(530, 360));
}

}  // namespace
}  // namespace kx
