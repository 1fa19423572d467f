// CSearchDlg: the "Search" dialog. It shows the document's search criteria, keeps its controls'
// rules (one channel, or up to four in quad play; the date or date-and-time pickers; the
// recorder name), and on "Search" runs the document's single-channel or quad search, staying
// open with a message when nothing is found. "Cancel" stores what the user set.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browse/search.h"

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QTimeEdit;

namespace kx {

// Control ids of the dialog (object names "id<N>").
constexpr int kSearchPathId = 1040;
constexpr int kSearchBrowseId = 1140;
constexpr int kSearchQuadId = 1141;
constexpr int kSearchFirstChannelId = 1142;  // "Channel 1"; "Channel 16" is 1157
constexpr int kSearchByDateId = 1158;
constexpr int kSearchByTimeId = 1159;
constexpr int kSearchDateId = 1160;
constexpr int kSearchTimeDateId = 1162;
constexpr int kSearchTimeOfDayId = 1163;
constexpr int kSearchDvrCheckId = 1164;
constexpr int kSearchDvrNameId = 1165;
constexpr int kSearchButtonId = 1166;
constexpr int kSearchSubfoldersId = 1167;
constexpr int kSearchCancelId = 2;
constexpr int kMaxDvrNameLength = 256;

inline constexpr const char* kSearchNeedsInput = "Please select channel and path!";
inline constexpr const char* kSearchNotFound = "Can not find video files !";

class CSearchDlg : public QDialog {
public:
    // Shows `criteria`, which Cancel and a successful search update; both must outlive the dialog.
    CSearchDlg(SearchCriteria& criteria, SearchTarget& target, QWidget* parent = nullptr);

    // The folder picker behind "..."; the desktop's folder dialog unless a test replaces it.
    using FolderPicker = std::function<std::optional<std::string>(QWidget* owner, const std::string& start)>;
    void setFolderPicker(FolderPicker picker) { m_pickFolder = std::move(picker); }

    // The moment the pickers give: the date's local midnight, or the date at the time of day.
    std::optional<uint32_t> SearchMoment() const;

public:
    void reject() override;

private:
    void onChannelClicked(int index, bool checked);
    void onQuadToggled(bool checked);
    void onByTime(bool byTime);
    void onBrowse();
    void onSearch();
    std::vector<int> TickedChannels() const;
    std::string DvrName() const;
    // Writes the dialog's fields into the criteria.
    void StoreSettings();
    void message(const char* text);

    SearchCriteria& m_criteria;
    SearchTarget& m_target;
    FolderPicker m_pickFolder;
    QLineEdit* m_path = nullptr;
    QCheckBox* m_quad = nullptr;
    std::array<QCheckBox*, kSearchChannelCount> m_channels{};
    QRadioButton* m_byDate = nullptr;
    QRadioButton* m_byTime = nullptr;
    QDateEdit* m_date = nullptr;
    QDateEdit* m_timeDate = nullptr;
    QTimeEdit* m_timeOfDay = nullptr;
    QCheckBox* m_dvrCheck = nullptr;
    QLineEdit* m_dvrName = nullptr;
    QCheckBox* m_subfolders = nullptr;
};

}  // namespace kx
