// The "Quad play" window and its panes.
#include "browse/quad_play_dlg.h"

#include <QCloseEvent>
#include <QColorDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <ctime>

#include "codec/picture/picture_file.h"
#include "playback/play_notify.h"
#include "present/seek_slider.h"
#include "present/widgets/control_names.h"
#include "present/widgets/seek_slider_widget.h"
#include "recording/record_reader.h"

namespace kx {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string timeText(uint32_t seconds, int32_t gmtOffsetHours) {
    const std::time_t shown = std::time_t(seconds) + std::time_t(gmtOffsetHours) * 3600;
    std::tm parts{};
    gmtime_r(&shown, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &parts);
    return text;
}

constexpr const char* kSpeedTexts[9] = {"1/8 x", "1/6 x", "1/4 x", "1/2 x", "1 x", "2 x", "4 x", "High", "Extra high"};
constexpr int kButtonHeight = 26;
constexpr int kSliderHeight = 24;

}  // namespace

// ---- CQuadPane -------------------------------------------------------------------------------

CQuadPane::CQuadPane(CQuadPlayDlg& dialog, int index, EventLoop& loop, QWidget* parent)
    : PictureWidget(parent), EventTarget(loop), m_dialog(dialog), m_index(index) {
    setObjectName(QStringLiteral("pane%1").arg(index));
    setAccessibleName(QStringLiteral("Channel %1").arg(index + 1));
    m_settings.notify = this;
    m_settings.window = this;
    // Captions show from the start, as the pane's own switch says; pane 0's sound is heard.
    m_settings.flags = kChannelDefaultFlags | kChannelCaptionOn | (index == 0 ? kChannelSoundOn : 0);
    m_settings.captionColour = m_captionColour;
}

bool CQuadPane::OpenInPane(const std::string& path, uint32_t moment) {
    CQuadPlayWnd& player = m_dialog.Player();
    player.CloseChannel(m_index, Notify::No);
    if (!player.OpenChannel(m_index, path, &m_settings)) return false;
    if (moment != 0 && !player.GoToTime(m_index, moment)) {
        player.CloseChannel(m_index, Notify::No);
        return false;
    }
    m_filePath = path;
    return true;
}

bool CQuadPane::SearchAndOpen(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                              bool subfolders) {
    m_candidates.clear();
    ScanFolder(path, pair, moment, dvrName, subfolders, m_candidates);
    const std::string chosen = TakeEarliest(m_candidates);
    return !chosen.empty() && OpenInPane(chosen, moment);
}

intptr_t CQuadPane::onMessage(const LoopMessage& message) {
    if (message.id != WM_PLAY_NOTIFY) return 0;
    switch (message.wParam) {
        case kPlayEnded: OnChannelEnded(); break;
        case kPlayPicture: OnPicture(); break;
        case kPlayChannelOpened: OnChannelOpened(); break;
        default: break;
    }
    return 0;
}

void CQuadPane::OnChannelEnded() {
    // The channel goes on with the next recording its search found, from its start.
    const std::string next = TakeEarliest(m_candidates);
    if (next.empty() || !OpenInPane(next, 0)) m_dialog.Player().CloseChannel(m_index, Notify::No);
    m_dialog.RefreshTitle();
}

void CQuadPane::OnPicture() {
    if (m_dialog.CurrentPane() != m_index) return;
    const ChannelView view = m_dialog.Player().View(m_index);
    if (view.hasFrame) m_dialog.MoveSlider(m_index, view.positionValue);
}

void CQuadPane::OnChannelOpened() {
    const ChannelView view = m_dialog.Player().View(m_index);
    // The player fills the caption's names and times from the header when it opens the channel.
    m_name = quadPaneName(view.info.HostName(), m_dialog.Host().GmtOffsetHours(), view.info.StartTime());
    m_dialog.RefreshTitle();
    if (m_dialog.CurrentPane() == m_index) m_dialog.ResetSlider(m_index);
}

void CQuadPane::ClipStart() {
    const ChannelView view = m_dialog.Player().View(m_index);
    if (!view.hasFrame) return;
    m_clip.MarkStart(view.group, view.position);
    ShowClipSelection();
}

void CQuadPane::ClipEnd() {
    if (!m_clip.started || !m_dialog.Player().IsActive(m_index)) return;
    const ChannelView view = m_dialog.Player().View(m_index);
    if (!view.hasFrame) return;
    m_clip.MarkEnd(view.group, view.position);
    ShowClipSelection();
}

void CQuadPane::ShowClipSelection() {
    if (!m_clip.started) {
        m_dialog.ClearSliderSelection(m_index);
        return;
    }
    const std::vector<uint32_t> ticks = sliderTicks(m_dialog.Player().View(m_index).groupFrameCounts);
    const auto number = [&ticks](int32_t group, int32_t position) {
        const uint32_t first = group <= 0 || ticks.empty() ? 0 : ticks[std::min(size_t(group), ticks.size()) - 1];
        return int(first) + position;
    };
    const int start = number(m_clip.startGroup, m_clip.startPosition);
    const int end = m_clip.ended ? number(m_clip.endGroup, m_clip.endPosition) : start + 1;
    m_dialog.SetSliderSelection(m_index, start, end);
}

void CQuadPane::ClipSave() {
    if (!m_clip.Complete() || m_filePath.empty()) return;
    const QuadClipMarks marks = m_clip;
    m_clip.Clear();
    m_dialog.ClearSliderSelection(m_index);
    CRecordInfo header;
    CRecordReader reader;
    if (!header.ReadInfo(m_filePath) || !reader.Open(&header, kReaderModeRead, -1)) return;
    const std::string path = quadClipPath(folderOf(m_filePath), std::time(nullptr), RecordingExtension(header.Kind()));
    if (reader.SaveClip(path, marks.startGroup, marks.endGroup, marks.endPosition)) m_lastClipPath = path;
}

void CQuadPane::ClipPlay() {
    CRecordInfo header;
    if (m_lastClipPath.empty() || !header.ReadInfo(m_lastClipPath)) return;
    if (header.Kind() == kKindFourChannel)
        m_dialog.LoadFourChannel(m_lastClipPath);
    else
        m_dialog.Host().OpenRecording(m_lastClipPath);
}

void CQuadPane::SnapshotChannel() {
    const ChannelView view = m_dialog.Player().View(m_index);
    if (!view.hasFrame || m_filePath.empty()) return;
    PictureFile picture;
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!m_dialog.Player().Snapshot(m_index, pixels, width, height)) return;
    picture.setPixels(width, height, std::move(pixels));
    picture.setHostName(view.info.HostName());
    // The names as the pane's caption shows them (copied on this thread with each picture).
    picture.setBoardName(std::string(captionText(m_settings.caption.boardName)));
    picture.setCameraName(std::string(captionText(m_settings.caption.cameraName)));
    const std::time_t now = std::time(nullptr);
    picture.setTime(uint32_t(now));
    picture.setGmtOffset(m_dialog.Host().GmtOffsetHours());
    const std::string path = quadSnapshotPath(folderOf(m_filePath), view.info.BoardNumber(), view.info.CameraNumber(), now);
    if (picture.save(PictureFormat::Bmp, path)) m_lastSnapshotPath = path;
}

void CQuadPane::ToggleCaption() {
    m_captionShown = !m_captionShown;
    if (m_captionShown)
        m_settings.flags.fetch_or(kChannelCaptionOn);
    else
        m_settings.flags.fetch_and(~kChannelCaptionOn);
}

void CQuadPane::ChooseCaptionColour() {
    const QColor start(int(m_captionColour & 0xFF), int((m_captionColour >> 8) & 0xFF), int((m_captionColour >> 16) & 0xFF));
    const QColor chosen = QColorDialog::getColor(start, &m_dialog, QStringLiteral("Text color: channel %1").arg(m_index + 1));
    if (!chosen.isValid()) return;
    m_captionColour = uint32_t(chosen.red()) | uint32_t(chosen.green()) << 8 | uint32_t(chosen.blue()) << 16;
    m_settings.captionColour = m_captionColour;
}

void CQuadPane::paintEvent(QPaintEvent* event) {
    if (currentPicture().isNull() || !m_dialog.Player().IsActive(m_index)) {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("IDLE"));
    } else {
        PictureWidget::paintEvent(event);
    }
    if (m_dialog.CurrentPane() == m_index) {
        QPainter painter(this);
        painter.setPen(QPen(QColor(0, 255, 255), 2));
        painter.drawRect(rect().adjusted(1, 1, -1, -1));
    }
}

void CQuadPane::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_dialog.SelectPane(m_index);
}

void CQuadPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    m_enlarged = !m_enlarged;
    m_dialog.LayoutPanes();
}

// ---- CQuadPlayDlg ----------------------------------------------------------------------------

CQuadPlayDlg::CQuadPlayDlg(QuadHost& host, EventLoop& loop, AudioDevices* audio)
    : QDialog(nullptr), m_host(host), m_player(std::make_unique<CQuadPlayWnd>(loop, audio)) {
    setWindowTitle(QStringLiteral("Quad play"));
    setObjectName(QStringLiteral("quadPlay"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_player->Create();

    m_strip = new QLabel(this);
    m_strip->setObjectName(QStringLiteral("quadTitle"));
    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("quadReadout"));
    m_readout->hide();
    for (int i = 0; i < kChannelCount; ++i) {
        m_panes[size_t(i)] = new CQuadPane(*this, i, loop, this);
        auto* slider = new SeekSliderWidget(this);
        nameControl(slider, kQuadFirstSliderId + i, QStringLiteral("Position of channel %1").arg(i + 1));
        slider->setOrientation(Qt::Horizontal);
        slider->hide();
        connect(slider, &QSlider::sliderMoved, this, [this, i] { OnSliderMoved(i); });
        slider->onScrollEnded = [this, i] { OnSliderReleased(i); };
        m_sliders[size_t(i)] = slider;
    }

    const std::pair<int, const char*> commands[] = {
        {kQuadPlayId, "Play"},           {kQuadStopId, "Stop"},           {kQuadPauseId, "Pause"},
        {kQuadPrevId, "Prev"},           {kQuadStepPrevId, "Step prev"},  {kQuadStepNextId, "Step next"},
        {kQuadNextId, "Next"},           {kQuadAdvanceId, "Advance"},     {kQuadClipStartId, "Clip start"},
        {kQuadClipEndId, "Clip end"},    {kQuadClipSaveId, "Clip save"},  {kQuadClipPlayId, "Clip play"},
        {kQuadSnapshotId, "Snapshot"},   {kQuadTextId, "Text"},           {kQuadTextColorId, "Text color"},
        {kQuadCloseId, "Close"},
    };
    for (const auto& [id, text] : commands) AddButton(id, QString::fromLatin1(text));
    for (int i = 0; i < 9; ++i) {
        QPushButton* button = AddButton(kQuadSpeedOneId - 4 + i, QString::fromLatin1(kSpeedTexts[i]));
        button->setCheckable(true);
        m_speedButtons[size_t(i)] = button;
    }
    m_speedButtons[4]->setChecked(true);

    resize(900, 720);
    SelectPane(0);
    LayoutPanes();
    RefreshTitle();
}

CQuadPlayDlg::~CQuadPlayDlg() {
    Shutdown();
}

void CQuadPlayDlg::Shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_player->Destroy();
}

QPushButton* CQuadPlayDlg::AddButton(int id, const QString& text) {
    auto* button = new QPushButton(text, this);
    nameControl(button, id, text);
    button->setToolTip(text);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    connect(button, &QPushButton::clicked, this, [this, id] { OnButton(id); });
    m_buttons.push_back(button);
    return button;
}

bool CQuadPlayDlg::LoadChannels(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                                const std::string& dvrName, bool subfolders) {
    bool any = false;
    for (size_t i = 0; i < pairs.size() && i < size_t(kChannelCount); ++i)
        any = m_panes[i]->SearchAndOpen(path, pairs[i], moment, dvrName, subfolders) || any;
    if (!any) return false;
    show();
    raise();
    m_player->Play(m_speedIndex);
    RefreshTitle();
    return true;
}

bool CQuadPlayDlg::LoadFourChannel(const std::string& path) {
    for (CQuadPane* pane : m_panes) {
        pane->Candidates().clear();
        pane->OpenInPane(path, 0);
    }
    m_filePath = path;
    show();
    raise();
    m_player->Play(m_speedIndex);
    RefreshTitle();
    return true;
}

void CQuadPlayDlg::SelectPane(int index) {
    if (index < 0 || index >= kChannelCount || index == m_current) return;
    const int old = m_current;
    m_current = index;
    if (old >= 0) {
        m_panes[size_t(old)]->update();
        m_sliders[size_t(old)]->hide();
    }
    m_panes[size_t(index)]->update();
    m_sliders[size_t(index)]->show();
    ResetSlider(index);
    RefreshTitle();
}

void CQuadPlayDlg::LayoutPanes() {
    const int height = this->height();
    const int width = this->width();
    int enlarged = -1;
    for (int i = 0; i < kChannelCount; ++i)
        if (m_panes[size_t(i)]->Enlarged()) enlarged = i;
    const auto rects = layoutQuadPanes({0, 0, width, height}, m_advanced, enlarged);
    for (int i = 0; i < kChannelCount; ++i) {
        const QuadRect& r = rects[size_t(i)];
        CQuadPane* pane = m_panes[size_t(i)];
        pane->setVisible(!r.empty());
        pane->setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
    m_strip->setGeometry(6, 0, width - 12, 20);

    // Below the panes: the advanced line, the slider, then two rows of buttons.
    int y = height - (m_advanced ? 120 : 100) + 2;
    m_readout->setVisible(m_advanced);
    if (m_advanced) {
        m_readout->setGeometry(6, y, width - 12, 18);
        y += 20;
    }
    for (SeekSliderWidget* slider : m_sliders) slider->setGeometry(4, y, width - 8, kSliderHeight);
    y += kSliderHeight + 4;
    // First row: transport, clips and the snapshot; second row: the caption buttons, the nine
    // speeds and Close.
    const size_t commandCount = m_buttons.size() - m_speedButtons.size();
    std::vector<QPushButton*> first(m_buttons.begin(), m_buttons.begin() + ptrdiff_t(commandCount - 3));
    std::vector<QPushButton*> second(m_buttons.begin() + ptrdiff_t(commandCount - 3), m_buttons.begin() + ptrdiff_t(commandCount - 1));
    second.insert(second.end(), m_speedButtons.begin(), m_speedButtons.end());
    second.push_back(m_buttons[commandCount - 1]);
    const auto placeRow = [&](const std::vector<QPushButton*>& row, int top) {
        const int each = (width - 8) / int(row.size());
        for (size_t i = 0; i < row.size(); ++i) row[i]->setGeometry(4 + int(i) * each, top, each - 2, kButtonHeight);
    };
    placeRow(first, y);
    placeRow(second, y + kButtonHeight + 4);
}

void CQuadPlayDlg::RefreshTitle() {
    if (m_current < 0) return;
    CQuadPane& pane = *m_panes[size_t(m_current)];
    if (pane.Name().empty()) {
        setWindowTitle(QStringLiteral("Quad play"));
        m_strip->setText(QStringLiteral("Channel %1").arg(m_current + 1));
        return;
    }
    const std::string title =
        quadTitle(pane.Name(), m_player->IsActive(m_current), m_player->IsPaused(), m_speedIndex);
    setWindowTitle(qs(title));
    m_strip->setText(QStringLiteral("Channel %1: ").arg(m_current + 1) + qs(title));
}

void CQuadPlayDlg::ResetSlider(int pane) {
    SeekSliderWidget& slider = *m_sliders[size_t(pane)];
    const ChannelView view = m_player->View(pane);
    const QSignalBlocker block(slider);
    slider.clearSelection();
    std::vector<uint32_t> ticks = sliderTicks(view.groupFrameCounts);
    slider.setRange(0, view.active && !ticks.empty() ? int(ticks.back()) : 0);
    slider.setTicks(std::move(ticks));
    const uint32_t position = view.hasFrame ? view.positionValue : 0;
    slider.setValue(int(position));
    m_sliderPositions[size_t(pane)] = position;
}

void CQuadPlayDlg::MoveSlider(int pane, uint32_t position) {
    SeekSliderWidget& slider = *m_sliders[size_t(pane)];
    if (slider.isSliderDown()) return;  // the user holds the thumb
    const QSignalBlocker block(slider);
    slider.setValue(int(position));
    m_sliderPositions[size_t(pane)] = position;
    if (m_advanced && pane == m_current) {
        const ChannelView view = m_player->View(pane);
        m_readout->setText(QStringLiteral("%1:%2  frame %3/%4  %5")
                               .arg(view.group)
                               .arg(view.position)
                               .arg(view.positionValue)
                               .arg(m_sliders[size_t(pane)]->maximum())
                               .arg(qs(timeText(view.wallTime, m_host.GmtOffsetHours()))));
    }
}

void CQuadPlayDlg::SetSliderSelection(int pane, int start, int end) {
    m_sliders[size_t(pane)]->setSelection(start, end);
}

void CQuadPlayDlg::ClearSliderSelection(int pane) {
    m_sliders[size_t(pane)]->clearSelection();
}

void CQuadPlayDlg::OnSliderMoved(int pane) {
    if (pane != m_current) return;
    SeekSliderWidget& slider = *m_sliders[size_t(pane)];
    const SliderTarget target = sliderTarget(slider.ticks(), uint32_t(std::max(0, slider.value())));
    m_player->Seek(pane, int32_t(target.group), 0);
}

void CQuadPlayDlg::OnSliderReleased(int pane) {
    if (pane != m_current) return;
    // The channel goes to the group under the thumb and plays on from there.
    OnSliderMoved(pane);
    if (m_player->IsPaused()) m_player->TogglePause();
    m_sliderPositions[size_t(pane)] = uint32_t(std::max(0, m_sliders[size_t(pane)]->value()));
}

void CQuadPlayDlg::SetSpeed(int index) {
    if (index == m_speedIndex) return;
    m_speedButtons[size_t(m_speedIndex + 4)]->setChecked(false);
    m_speedIndex = index;
    m_speedButtons[size_t(index + 4)]->setChecked(true);
    m_player->Play(index);
}

void CQuadPlayDlg::OnPlay() {
    SetSpeed(0);
    for (CQuadPane* pane : m_panes)
        if (!m_player->IsActive(pane->Index()) && !pane->FilePath().empty()) pane->OpenInPane(pane->FilePath(), 0);
    m_player->Normal();
}

void CQuadPlayDlg::OnStop() {
    for (CQuadPane* pane : m_panes) {
        m_player->CloseChannel(pane->Index(), Notify::No);
        pane->ClipMarksClear();
        pane->update();
    }
}

void CQuadPlayDlg::OnButton(int id) {
    CQuadPane& pane = *m_panes[size_t(m_current)];
    if (id >= kQuadSpeedOneId - 4 && id <= kQuadSpeedOneId + 4) {
        SetSpeed(id - kQuadSpeedOneId);
        // The highlight stays on the level in force even when the same button is clicked again.
        m_speedButtons[size_t(m_speedIndex + 4)]->setChecked(true);
    }
    switch (id) {
        case kQuadPlayId: OnPlay(); break;
        case kQuadStopId: OnStop(); break;
        case kQuadPauseId: m_player->TogglePause(); break;
        case kQuadPrevId: m_player->PlayPrev(m_current); break;
        case kQuadNextId: m_player->PlayNext(m_current); break;
        case kQuadStepPrevId: m_player->StepBack(); break;
        case kQuadStepNextId: m_player->StepOnce(); break;
        case kQuadAdvanceId:
            m_advanced = !m_advanced;
            resize(width(), height() + (m_advanced ? 20 : -20));
            break;
        case kQuadClipStartId: pane.ClipStart(); break;
        case kQuadClipEndId: pane.ClipEnd(); break;
        case kQuadClipSaveId: pane.ClipSave(); break;
        case kQuadClipPlayId: pane.ClipPlay(); return;  // may replace the panes' recordings
        case kQuadSnapshotId: pane.SnapshotChannel(); break;
        case kQuadTextId:
            for (CQuadPane* each : m_panes) each->ToggleCaption();
            break;
        case kQuadTextColorId:
            for (CQuadPane* each : m_panes) each->ChooseCaptionColour();
            break;
        case kQuadCloseId: m_host.CloseQuadWindow(); return;  // this window is gone now
        default: break;
    }
    RefreshTitle();
}

void CQuadPlayDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutPanes();
}

void CQuadPlayDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    // Quad sound plays only while this window is the active one.
    m_active = isActiveWindow();
    if (!m_shutDown) m_player->SetAudioEnabled(m_active);
}

void CQuadPlayDlg::closeEvent(QCloseEvent* event) {
    // The title bar's close button does what "Close" does.
    event->ignore();
    m_host.CloseQuadWindow();
}

void CQuadPlayDlg::keyPressEvent(QKeyEvent* event) {
    // Esc would reject the dialog behind the document's back: it closes as "Close" does.
    if (event->key() == Qt::Key_Escape) {
        m_host.CloseQuadWindow();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- The document's handle -------------------------------------------------------------------

namespace {

class QuadPlayWindow : public QuadWindow {
public:
    QuadPlayWindow(QuadHost& host, EventLoop& loop, AudioDevices* audio)
        : m_dialog(new CQuadPlayDlg(host, loop, audio)) {}
    ~QuadPlayWindow() override {
        m_dialog->Shutdown();
        m_dialog->hide();
        m_dialog->deleteLater();
    }
    bool LoadChannels(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                      const std::string& dvrName, bool subfolders) override {
        return m_dialog->LoadChannels(path, pairs, moment, dvrName, subfolders);
    }
    bool LoadFourChannel(const std::string& path) override { return m_dialog->LoadFourChannel(path); }

private:
    CQuadPlayDlg* m_dialog;
};

}  // namespace

std::unique_ptr<QuadWindow> makeQuadPlayWindow(QuadHost& host, EventLoop& loop, AudioDevices* audio) {
    return std::make_unique<QuadPlayWindow>(host, loop, audio);
}

}  // namespace kx
