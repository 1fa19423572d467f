// The "Search" dialog's controls and their rules.
#include "browse/search_dlg.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "present/widgets/control_names.h"

namespace kx {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The desktop's folder dialog. It leaves the process's current folder where it was.
std::optional<std::string> desktopFolder(QWidget* owner, const std::string& start) {
    const QString folder = QFileDialog::getExistingDirectory(owner, QStringLiteral("Select A Directory"), qs(start));
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
}

}  // namespace

CSearchDlg::CSearchDlg(SearchCriteria& criteria, SearchTarget& target, QWidget* parent)
    : QDialog(parent), m_criteria(criteria), m_target(target), m_pickFolder(desktopFolder) {
    setWindowTitle(QStringLiteral("Search"));

    auto* pathLabel = new QLabel(QStringLiteral("Path"), this);
    m_path = new QLineEdit(qs(criteria.path), this);
    nameControl(m_path, kSearchPathId, pathLabel->text());
    pathLabel->setBuddy(m_path);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    nameControl(browse, kSearchBrowseId, QStringLiteral("Choose folder"));
    browse->setToolTip(QStringLiteral("Choose folder"));
    browse->setFixedWidth(32);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(browse);

    m_subfolders = new QCheckBox(QStringLiteral("Search subdirectories"), this);
    nameControl(m_subfolders, kSearchSubfoldersId, m_subfolders->text());
    m_subfolders->setChecked(criteria.subfolders);
    m_quad = new QCheckBox(QStringLiteral("Quad play"), this);
    nameControl(m_quad, kSearchQuadId, m_quad->text());
    m_quad->setChecked(criteria.quad);

    auto* channelBox = new QGroupBox(QStringLiteral("Channel"), this);
    auto* grid = new QGridLayout(channelBox);
    for (int i = 0; i < kSearchChannelCount; ++i) {
        auto* box = new QCheckBox(QStringLiteral("Channel %1").arg(i + 1), channelBox);
        nameControl(box, kSearchFirstChannelId + i, box->text());
        grid->addWidget(box, i / 4, i % 4);  // one row per board
        connect(box, &QCheckBox::clicked, this, [this, i](bool checked) { onChannelClicked(i, checked); });
        m_channels[size_t(i)] = box;
    }
    if (criteria.quad) {
        for (const int32_t c : criteria.channels)
            if (c >= 0 && c < kSearchChannelCount) m_channels[size_t(c)]->setChecked(true);
    } else if (criteria.channels[0] >= 0 && criteria.channels[0] < kSearchChannelCount) {
        m_channels[size_t(criteria.channels[0])]->setChecked(true);
    }

    const QDateTime moment = QDateTime::fromSecsSinceEpoch(criteria.time);
    m_byDate = new QRadioButton(QStringLiteral("Search by date"), this);
    nameControl(m_byDate, kSearchByDateId, m_byDate->text());
    m_date = new QDateEdit(moment.date(), this);
    nameControl(m_date, kSearchDateId, QStringLiteral("Date"));
    m_byTime = new QRadioButton(QStringLiteral("Search by time"), this);
    nameControl(m_byTime, kSearchByTimeId, m_byTime->text());
    m_timeDate = new QDateEdit(moment.date(), this);
    nameControl(m_timeDate, kSearchTimeDateId, QStringLiteral("Date of the time"));
    m_timeOfDay = new QTimeEdit(moment.time(), this);
    m_timeOfDay->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    nameControl(m_timeOfDay, kSearchTimeOfDayId, QStringLiteral("Time of day"));
    for (QDateEdit* picker : {m_date, m_timeDate}) {
        picker->setCalendarPopup(true);
        picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    (criteria.byTime ? m_byTime : m_byDate)->setChecked(true);
    onByTime(criteria.byTime);
    // Toggled, not clicked: assistive tools and the keyboard change the choice too.
    connect(m_byTime, &QRadioButton::toggled, this, [this](bool byTime) { onByTime(byTime); });
    auto* when = new QGridLayout;
    when->addWidget(m_byDate, 0, 0);
    when->addWidget(m_date, 0, 1);
    when->addWidget(m_byTime, 1, 0);
    when->addWidget(m_timeDate, 1, 1);
    when->addWidget(m_timeOfDay, 1, 2);

    m_dvrCheck = new QCheckBox(QStringLiteral("DVR name"), this);
    nameControl(m_dvrCheck, kSearchDvrCheckId, m_dvrCheck->text());
    m_dvrName = new QLineEdit(qs(criteria.dvrName), this);
    m_dvrName->setMaxLength(kMaxDvrNameLength);
    nameControl(m_dvrName, kSearchDvrNameId, m_dvrCheck->text());
    m_dvrCheck->setChecked(!criteria.dvrName.empty());
    m_dvrName->setEnabled(!criteria.dvrName.empty());
    connect(m_dvrCheck, &QCheckBox::toggled, m_dvrName, &QLineEdit::setEnabled);
    auto* dvrRow = new QHBoxLayout;
    dvrRow->addWidget(m_dvrCheck);
    dvrRow->addWidget(m_dvrName, 1);

    auto* search = new QPushButton(QStringLiteral("Search"), this);
    nameControl(search, kSearchButtonId, search->text());
    search->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    nameControl(cancel, kSearchCancelId, cancel->text());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(search);
    buttons->addWidget(cancel);

    connect(browse, &QPushButton::clicked, this, &CSearchDlg::onBrowse);
    connect(m_quad, &QCheckBox::toggled, this, &CSearchDlg::onQuadToggled);
    connect(search, &QPushButton::clicked, this, &CSearchDlg::onSearch);
    connect(cancel, &QPushButton::clicked, this, &CSearchDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pathRow);
    auto* flags = new QHBoxLayout;
    flags->addWidget(m_subfolders);
    flags->addWidget(m_quad);
    flags->addStretch(1);
    layout->addLayout(flags);
    layout->addWidget(channelBox);
    layout->addLayout(when);
    layout->addLayout(dvrRow);
    layout->addLayout(buttons);
}

void CSearchDlg::onChannelClicked(int index, bool checked) {
    if (!checked) return;
    const size_t limit = m_quad->isChecked() ? kQuadChannelCount : 1;
    if (TickedChannels().size() > limit) m_channels[size_t(index)]->setChecked(false);
}

void CSearchDlg::onQuadToggled(bool checked) {
    if (checked) return;
    for (QCheckBox* box : m_channels) box->setChecked(false);
}

void CSearchDlg::onByTime(bool byTime) {
    m_date->setEnabled(!byTime);
    m_timeDate->setEnabled(byTime);
    m_timeOfDay->setEnabled(byTime);
}

void CSearchDlg::onBrowse() {
    // Only the path changes: what the user set in the other fields meanwhile stays as it is.
    if (const std::optional<std::string> folder = m_pickFolder(this, m_path->text().toStdString()))
        m_path->setText(qs(*folder));
}

std::vector<int> CSearchDlg::TickedChannels() const {
    std::vector<int> ticked;
    for (int i = 0; i < kSearchChannelCount; ++i)
        if (m_channels[size_t(i)]->isChecked()) ticked.push_back(i);
    return ticked;
}

std::string CSearchDlg::DvrName() const {
    return m_dvrCheck->isChecked() ? m_dvrName->text().toStdString() : std::string();
}

std::optional<uint32_t> CSearchDlg::SearchMoment() const {
    const bool byTime = m_byTime->isChecked();
    const QDate date = byTime ? m_timeDate->date() : m_date->date();
    const QTime time = byTime ? m_timeOfDay->time() : QTime(0, 0, 0);
    return localMoment(date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second());
}

void CSearchDlg::StoreSettings() {
    m_criteria.path = m_path->text().toStdString();
    m_criteria.subfolders = m_subfolders->isChecked();
    m_criteria.byTime = m_byTime->isChecked();
    if (const std::optional<uint32_t> moment = SearchMoment()) m_criteria.time = *moment;
    m_criteria.dvrName = DvrName();
    m_criteria.quad = m_quad->isChecked();
    // Slots not written keep what they held.
    const std::vector<int> ticked = TickedChannels();
    const size_t count = std::min(ticked.size(), m_criteria.quad ? size_t(kQuadChannelCount) : size_t(1));
    for (size_t i = 0; i < count; ++i) m_criteria.channels[i] = ticked[i];
}

void CSearchDlg::reject() {
    StoreSettings();
    QDialog::reject();
}

void CSearchDlg::message(const char* text) {
    QMessageBox::warning(this, QStringLiteral("KX Player"), QString::fromLatin1(text));
}

void CSearchDlg::onSearch() {
    const std::string path = m_path->text().toStdString();
    if (path.empty()) return message(kSearchNeedsInput);
    const std::optional<uint32_t> moment = SearchMoment();
    if (!moment) return message(kSearchNotFound);  // a date before 1970 holds no recordings
    const std::string dvrName = DvrName();
    const std::vector<int> ticked = TickedChannels();
    if (ticked.empty()) return message(kSearchNeedsInput);
    if (!m_quad->isChecked()) {
        if (!m_target.SearchChannel(path, channelPair(ticked.front()), *moment, dvrName, m_subfolders->isChecked()))
            return message(kSearchNotFound);
    } else {
        std::vector<uint32_t> pairs;
        for (size_t i = 0; i < ticked.size() && i < size_t(kQuadChannelCount); ++i)
            pairs.push_back(channelPair(ticked[i]));
        if (!m_target.SearchQuad(path, pairs, *moment, dvrName, m_subfolders->isChecked())) return;
    }
    reject();  // closes as Cancel does, storing the settings
}

}  // namespace kx
