// The Search dialog driven as a user would: its start state from the criteria, the channel and
// picker rules, the messages, what Search hands to the document and what Cancel stores.
#include "browse/search_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <filesystem>

#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

class FakeTarget : public SearchTarget {
public:
    bool SearchChannel(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                       bool subfolders) override {
        calls.push_back({path, {pair}, moment, dvrName, subfolders, false});
        return answer;
    }
    bool SearchQuad(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                    const std::string& dvrName, bool subfolders) override {
        calls.push_back({path, pairs, moment, dvrName, subfolders, true});
        return answer;
    }
    struct Call {
        std::string path;
        std::vector<uint32_t> pairs;
        uint32_t moment;
        std::string dvrName;
        bool subfolders;
        bool quad;
    };
    std::vector<Call> calls;
    bool answer = true;
};

template <class T>
T* control(QWidget& dialog, int id) {
    T* found = dialog.findChild<T*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(found, nullptr) << "control " << id;
    return found;
}

QCheckBox* channel(QWidget& dialog, int number) {
    return control<QCheckBox>(dialog, kSearchFirstChannelId + number - 1);
}

// Clicks `button` and returns the text of the message box it opens (closing it), or "".
std::string clickForMessage(QAbstractButton* button) {
    std::string text;
    QTimer::singleShot(0, [&text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text().toStdString();
            box->close();
        }
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QApplication::processEvents();
    return text;
}

class SearchDialog : public ::testing::Test {
protected:
    void SetUp() override {
        test::widgetApplication();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        m_criteria.time = 1793741460;  // 2026-11-03 21:31:00 UTC
    }
    SearchCriteria m_criteria;
    FakeTarget m_target;
};

TEST_F(SearchDialog, StartsFromTheCriteria) {
    m_criteria.path = "/media/dvr";
    m_criteria.quad = true;
    m_criteria.channels = {1, 5, -1, -1};
    m_criteria.byTime = true;
    m_criteria.dvrName = "KX-DVR-01";
    m_criteria.subfolders = true;
    CSearchDlg dialog(m_criteria, m_target);
    EXPECT_EQ(control<QLineEdit>(dialog, kSearchPathId)->text(), "/media/dvr");
    EXPECT_TRUE(control<QCheckBox>(dialog, kSearchQuadId)->isChecked());
    EXPECT_TRUE(control<QCheckBox>(dialog, kSearchSubfoldersId)->isChecked());
    for (int number = 1; number <= 16; ++number)
        EXPECT_EQ(channel(dialog, number)->isChecked(), number == 2 || number == 6) << number;
    EXPECT_FALSE(control<QDateEdit>(dialog, kSearchDateId)->isEnabled());
    EXPECT_TRUE(control<QDateEdit>(dialog, kSearchTimeDateId)->isEnabled());
    EXPECT_EQ(control<QTimeEdit>(dialog, kSearchTimeOfDayId)->time(), QTime(21, 31, 0));
    EXPECT_TRUE(control<QCheckBox>(dialog, kSearchDvrCheckId)->isChecked());
    EXPECT_TRUE(control<QLineEdit>(dialog, kSearchDvrNameId)->isEnabled());
    EXPECT_EQ(dialog.SearchMoment(), std::optional<uint32_t>(1793741460));

    SearchCriteria fresh;
    CSearchDlg plain(fresh, m_target);
    for (int number = 1; number <= 16; ++number) EXPECT_FALSE(channel(plain, number)->isChecked());
    EXPECT_TRUE(control<QDateEdit>(plain, kSearchDateId)->isEnabled());
    EXPECT_FALSE(control<QTimeEdit>(plain, kSearchTimeOfDayId)->isEnabled());
    EXPECT_FALSE(control<QLineEdit>(plain, kSearchDvrNameId)->isEnabled());
}

TEST_F(SearchDialog, ChannelBoxesHoldOneOrFourAndTheOtherControlsFollowTheirSwitches) {
    CSearchDlg dialog(m_criteria, m_target);
    dialog.show();
    QTest::mouseClick(channel(dialog, 3), Qt::LeftButton);
    QTest::mouseClick(channel(dialog, 7), Qt::LeftButton);
    EXPECT_TRUE(channel(dialog, 3)->isChecked());
    EXPECT_FALSE(channel(dialog, 7)->isChecked()) << "single mode holds one channel";

    QTest::mouseClick(control<QCheckBox>(dialog, kSearchQuadId), Qt::LeftButton);
    for (int number : {7, 9, 16, 12}) QTest::mouseClick(channel(dialog, number), Qt::LeftButton);
    EXPECT_TRUE(channel(dialog, 16)->isChecked());
    EXPECT_FALSE(channel(dialog, 12)->isChecked()) << "quad play holds four";
    QTest::mouseClick(control<QCheckBox>(dialog, kSearchQuadId), Qt::LeftButton);
    for (int number = 1; number <= 16; ++number) EXPECT_FALSE(channel(dialog, number)->isChecked());

    QTest::mouseClick(control<QRadioButton>(dialog, kSearchByTimeId), Qt::LeftButton);
    EXPECT_FALSE(control<QDateEdit>(dialog, kSearchDateId)->isEnabled());
    EXPECT_TRUE(control<QTimeEdit>(dialog, kSearchTimeOfDayId)->isEnabled());
    QTest::mouseClick(control<QRadioButton>(dialog, kSearchByDateId), Qt::LeftButton);
    EXPECT_TRUE(control<QDateEdit>(dialog, kSearchDateId)->isEnabled());
    EXPECT_FALSE(control<QDateEdit>(dialog, kSearchTimeDateId)->isEnabled());
    QTest::mouseClick(control<QCheckBox>(dialog, kSearchDvrCheckId), Qt::LeftButton);
    EXPECT_TRUE(control<QLineEdit>(dialog, kSearchDvrNameId)->isEnabled());
}

TEST_F(SearchDialog, SearchAsksForInputThenHandsTheSearchToTheDocument) {
    CSearchDlg dialog(m_criteria, m_target);
    dialog.show();
    auto* search = control<QPushButton>(dialog, kSearchButtonId);
    EXPECT_EQ(clickForMessage(search), kSearchNeedsInput);  // no path
    control<QLineEdit>(dialog, kSearchPathId)->setText("/media/dvr");
    EXPECT_EQ(clickForMessage(search), kSearchNeedsInput);  // no channel
    EXPECT_TRUE(m_target.calls.empty());

    QTest::mouseClick(channel(dialog, 6), Qt::LeftButton);
    QTest::mouseClick(control<QRadioButton>(dialog, kSearchByTimeId), Qt::LeftButton);
    control<QCheckBox>(dialog, kSearchDvrCheckId)->setChecked(true);  // ticked but empty: any recorder
    m_target.answer = false;
    EXPECT_EQ(clickForMessage(search), kSearchNotFound);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(m_target.calls.size(), 1u);
    EXPECT_FALSE(m_target.calls[0].quad);
    EXPECT_EQ(m_target.calls[0].pairs, std::vector<uint32_t>{0x00010001});  // channel 6: board 1, camera 1
    EXPECT_EQ(m_target.calls[0].moment, 1793741460u);
    EXPECT_EQ(m_target.calls[0].dvrName, "");

    m_target.answer = true;
    EXPECT_EQ(clickForMessage(search), "");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(m_criteria.path, "/media/dvr");
    EXPECT_EQ(m_criteria.channels[0], 5);
    EXPECT_TRUE(m_criteria.byTime);
}

TEST_F(SearchDialog, QuadSearchTakesTheTickedChannelsInOrderAndStaysOpenSilentlyOnFailure) {
    CSearchDlg dialog(m_criteria, m_target);
    dialog.show();
    control<QLineEdit>(dialog, kSearchPathId)->setText("/media/dvr");
    QTest::mouseClick(control<QCheckBox>(dialog, kSearchQuadId), Qt::LeftButton);
    for (int number : {6, 1, 5, 2}) QTest::mouseClick(channel(dialog, number), Qt::LeftButton);
    m_target.answer = false;
    EXPECT_EQ(clickForMessage(control<QPushButton>(dialog, kSearchButtonId)), "");
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(m_target.calls.size(), 1u);
    EXPECT_TRUE(m_target.calls[0].quad);
    EXPECT_EQ(m_target.calls[0].pairs, (std::vector<uint32_t>{0x00000000, 0x00010000, 0x00000001, 0x00010001}));
    EXPECT_EQ(m_target.calls[0].moment, 1793664000u) << "by date: local midnight";
}

TEST_F(SearchDialog, CancelStoresTheFieldsAndTheFolderPickerChangesOnlyThePath) {
    m_criteria.channels = {9, 10, 11, 12};
    {
        CSearchDlg dialog(m_criteria, m_target);
        dialog.show();
        const std::filesystem::path before = std::filesystem::current_path();
        control<QCheckBox>(dialog, kSearchSubfoldersId)->setChecked(true);
        dialog.setFolderPicker([](QWidget*, const std::string&) { return std::optional<std::string>("/srv/cameras"); });
        QTest::mouseClick(control<QPushButton>(dialog, kSearchBrowseId), Qt::LeftButton);
        EXPECT_EQ(control<QLineEdit>(dialog, kSearchPathId)->text(), "/srv/cameras");
        EXPECT_TRUE(control<QCheckBox>(dialog, kSearchSubfoldersId)->isChecked()) << "the other edits stay";
        EXPECT_EQ(std::filesystem::current_path(), before);
        QTest::mouseClick(control<QCheckBox>(dialog, kSearchQuadId), Qt::LeftButton);
        for (int number : {3, 2}) QTest::mouseClick(channel(dialog, number), Qt::LeftButton);
        control<QCheckBox>(dialog, kSearchDvrCheckId)->setChecked(true);
        control<QLineEdit>(dialog, kSearchDvrNameId)->setText("KX-QUAD-02");
        QTest::mouseClick(control<QPushButton>(dialog, kSearchCancelId), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(m_criteria.path, "/srv/cameras");
    EXPECT_TRUE(m_criteria.subfolders);
    EXPECT_TRUE(m_criteria.quad);
    // Channel 10 was ticked from the start; the fourth slot was not written and keeps its value.
    EXPECT_EQ(m_criteria.channels, (std::array<int32_t, 4>{1, 2, 9, 12}));
    EXPECT_EQ(m_criteria.dvrName, "KX-QUAD-02");

    CSearchDlg again(m_criteria, m_target);
    EXPECT_TRUE(channel(again, 2)->isChecked());
    EXPECT_TRUE(channel(again, 3)->isChecked());
    EXPECT_TRUE(channel(again, 10)->isChecked());
    EXPECT_TRUE(channel(again, 13)->isChecked());
    EXPECT_EQ(control<QLineEdit>(again, kSearchDvrNameId)->text(), "KX-QUAD-02");
}

}  // namespace
}  // namespace kx
