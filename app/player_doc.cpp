// The document: opening and closing, the title, speeds and stepping, the engine's frames and
// continuous playback. Clips, snapshots and the integrity check are in player_doc_records.cpp,
// the settings, motion regions and zoom in player_doc_settings.cpp.
#include "app/player_doc.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/document_text.h"
#include "app/player_view.h"
#include "present/display.h"
#include "present/seek_slider.h"
#include "recording/record_reader.h"
#include "recording/recorder_text.h"
#include "recording/resolution.h"

namespace kx {
using namespace document;

namespace {

// The folder of `path` as an absolute path ending in '/': the Open window's tree starts from the
// file system's roots, so a path given relative to the working folder must be made whole.
std::string absoluteFolderOf(const std::string& path) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(path, error);
    if (error) return folderOf(path);
    return folderOf(whole.lexically_normal().string());
}

}  // namespace

std::string statusText(bool hasPlayer, bool paused, int32_t level) {
    if (!hasPlayer) return " Stop";
    if (paused) return " Pause";
    char speed[32] = "";
    if (level < 0)
        std::snprintf(speed, sizeof speed, "1/%dTimes", -2 * level);
    else if (level == 1 || level == 2)
        std::snprintf(speed, sizeof speed, "%dTimes", 2 * level);
    else if (level == kSpeedH)
        std::snprintf(speed, sizeof speed, "H");
    else if (level == kSpeedXH)
        std::snprintf(speed, sizeof speed, "XH");
    return std::string(speed) + " Playing";
}

CKorvexPlayerDoc::CKorvexPlayerDoc(EventLoop& loop, DocumentUi& ui, AudioDevices* audio)
    : EventTarget(loop), m_ui(ui), m_audio(audio) {
    SetGmtOffsetHours(currentGmtOffsetHours());
}

CKorvexPlayerDoc::~CKorvexPlayerDoc() {
    m_quad.reset();
    if (m_view) m_view->StopColourWorker();
    if (m_player) {
        m_player->SetNotifyTarget(nullptr);
        m_player->Stop(Notify::No);
    }
    m_player.reset();
    m_retired.clear();
}

bool CKorvexPlayerDoc::IsPaused() const {
    return m_player && m_player->IsPaused();
}

// ---- Opening and closing -------------------------------------------------------------------

bool CKorvexPlayerDoc::OpenPath(const std::string& path) {
    m_currentFolder = absoluteFolderOf(path);
    if (endsWithIgnoringCase(path, "fac")) {
        m_ui.runFaceWindow(path);
        return true;
    }
    if (endsWithIgnoringCase(path, "bmp")) return OpenStillPicture(path, kContentBitmap);
    if (endsWithIgnoringCase(path, "jpg") || endsWithIgnoringCase(path, "jpeg"))
        return OpenStillPicture(path, kContentJpeg);
    m_continuousList.reset();
    return OpenRecording(path);
}

void CKorvexPlayerDoc::OnFileOpen() {
    if (m_quad) return;  // the quad play window has the recordings while it exists
    const bool wasPlaying = m_player && !m_player->IsPaused() && !m_checking;
    if (wasPlaying) m_player->TogglePause();
    const std::optional<std::string> path = m_ui.runOpenDialog();
    if (path && !path->empty()) {
        OpenPath(*path);
        return;
    }
    if (wasPlaying && m_player && m_player->IsPaused()) m_player->TogglePause();
    UpdateStatusTitle();
}

// ---- Search and quad play -------------------------------------------------------------------

void CKorvexPlayerDoc::OnSearch() {
    if (m_quad) return;
    OnFileClose();
    m_ui.runSearchDialog(m_search, *this);
}

bool CKorvexPlayerDoc::SearchChannel(const std::string& path, uint32_t pair, uint32_t moment,
                                     const std::string& dvrName, bool subfolders) {
    m_candidates.clear();
    ScanFolder(path, pair, moment, dvrName, subfolders, m_candidates);
    const std::string chosen = TakeEarliest(m_candidates);
    // The dialog says "Can not find video files !" for every failure, so opening stays quiet.
    if (chosen.empty() || !OpenRecording(chosen, kOpenQuietly)) return false;
    return m_player && !m_player->IsPaused() && GoToTime(moment);
}

bool CKorvexPlayerDoc::SearchQuad(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                                  const std::string& dvrName, bool subfolders) {
    if (pairs.empty()) return false;
    if (!m_quad) m_quad = m_ui.createQuadWindow(*this);
    if (!m_quad) return false;
    if (!m_quad->LoadChannels(path, pairs, moment, dvrName, subfolders)) {
        m_ui.showMessage(kProgramTitle, "Can not find video files !");
        CloseQuadWindow();
        return false;
    }
    return true;
}

void CKorvexPlayerDoc::CloseQuadWindow() {
    m_quad.reset();
}

void CKorvexPlayerDoc::OnFileClose() {
    if (IsStillPicture()) return;
    Close(true);
}

bool CKorvexPlayerDoc::OpenStillPicture(const std::string& path, int32_t kind) {
    PictureFile picture;
    if (!picture.load(kind == kContentBitmap ? PictureFormat::Bmp : PictureFormat::Jpeg, path)) {
        m_ui.showMessage(kProgramTitle, "\"" + path + "\" cannot be shown: " +
                                            (picture.lastError().empty() ? "not a picture"
                                                                         : picture.lastError()));
        return false;
    }
    Close(false);
    m_still = std::move(picture);
    m_contentKind = kind;
    const int width = int(m_still.width());
    const int height = int(m_still.height());
    if (width != m_displayWidth || height != m_displayHeight) {
        m_ui.fitViewTo(width, height, !m_placed);
        m_placed = true;
        m_displayWidth = width;
        m_displayHeight = height;
    }
    m_titlePrefix.assign(1, '(');
    m_titlePrefix.append(path, path.find_last_of('/') + 1).append(") --");
    UpdateStatusTitle();
    if (m_view) m_view->Redraw();
    return true;
}

bool CKorvexPlayerDoc::OpenRecording(const std::string& path, int option1, int option2) {
    (void)option2;
    const bool quiet = option1 == kOpenQuietly;
    Close(false);
    if (IsStillPicture()) {
        m_contentKind = 0;
        m_still = PictureFile();
    }
    m_lastPath = path;
    m_currentFolder = absoluteFolderOf(path);

    CRecordInfo header;
    if (!header.ReadInfo(path)) {
        if (!quiet)
            m_ui.showMessage(kProgramTitle, "File open failed!\n\n" + path + ": " +
                                                header.LastError().text);
        UpdateStatusTitle();
        if (m_view) m_view->Redraw();
        return false;
    }
    if (header.Kind() == kKindFourChannel) {
        // Four channels play side by side in the quad play window; the main view stays empty.
        UpdateStatusTitle();
        if (m_view) m_view->Redraw();
        if (!m_quad) m_quad = m_ui.createQuadWindow(*this);
        return m_quad && m_quad->LoadFourChannel(path);
    }

    auto player = std::make_unique<CPlayWnd>(loop(), m_audio);
    player->Create(m_view);
    if (!player->Open(path, 0, true)) {
        player.reset();
        if (!quiet)
            m_ui.showMessage(kProgramTitle,
                             "File open failed!\n\n" + path +
                                 ": its first frame cannot be read or its video has no decoder.");
        UpdateStatusTitle();
        if (m_view) m_view->Redraw();
        return false;
    }
    m_player = std::move(player);
    CRecordReader* reader = m_player->Reader();
    m_info = *static_cast<const CRecordInfo*>(reader);
    m_contentKind = m_info.Kind();

    // The player plays at the level the user chose last (the level outlives a recording).
    if (m_speedLevel < kSpeedH) m_player->SetSpeed(m_speedLevel);

    SetSliderFromInfo();

    const std::optional<PictureSize> display = DisplaySizeOf(m_info);
    const int displayWidth = display ? display->width : m_player->Frame()->Width();
    const int displayHeight = display ? display->height : m_player->Frame()->Height();
    if (displayWidth != m_displayWidth || displayHeight != m_displayHeight) {
        m_ui.fitViewTo(displayWidth, displayHeight, !m_placed);
        m_placed = true;
        m_displayWidth = displayWidth;
        m_displayHeight = displayHeight;
    }

    if (!MakeCaption()) {
        Close(true);
        if (!quiet)
            m_ui.showMessage(kProgramTitle, "File open failed!\n\n" + path +
                                                ": no picture of its size can be shown.");
        return false;
    }

    MakeTitlePrefix();
    UpdateStatusTitle();
    HandMotionToPlayer();
    return true;
}

bool CKorvexPlayerDoc::MakeCaption() {
    const CPlayFrame* frame = m_player->Frame();
    const uint32_t width = uint32_t(frame->Width());
    const uint32_t height = uint32_t(frame->Height());
    m_caption = std::make_unique<CaptionInfo>();
    fillRecordingCaption(*m_caption, m_info, int(width), int(height), m_captionSettings);
    m_fullRect = m_caption->zoom;
    m_zoomRect = m_fullRect;
    m_zoom = ZoomState::None;
    if (!m_captionOn) m_caption->flags |= kCaptionHidden;

    if (m_view) m_view->StopColourWorker();
    m_target = std::make_unique<CRenderTarget>();
    int32_t result = m_target->Init(width, height, m_caption.get());
    if (result == kRenderNoDevice) {
        m_target = std::make_unique<CDibRenderTarget>();
        result = m_target->Init(width, height, m_caption.get());
    }
    if (result != 0) {
        m_target.reset();
        m_caption.reset();
        return false;
    }
    return true;
}

void CKorvexPlayerDoc::SetSliderFromInfo() {
    if (!m_player || !m_ui.panelExists()) return;
    const CRecordReader* reader = m_player->Reader();
    if (!reader || reader->TotalFrameCount() == 0) return;
    std::vector<uint32_t> frameCounts;
    frameCounts.reserve(reader->Groups().size());
    for (const GroupEntry& group : reader->Groups()) frameCounts.push_back(group.frameCount);
    m_ui.setSliderRange(reader->TotalFrameCount(), sliderTicks(frameCounts));
}

void CKorvexPlayerDoc::Close(bool redraw, bool keepResult) {
    m_currentGroup = 0;
    m_currentPosition = 0;
    m_singleStep = false;
    m_seekPending = false;
    RetirePlayer();
    m_target.reset();
    m_caption.reset();
    m_zoom = ZoomState::None;
    if (redraw) {
        UpdateStatusTitle();
        if (m_view) m_view->Redraw();
        if (m_ui.panelExists()) m_ui.clearSlider();
        m_ui.showFrameReadout(std::nullopt);
    }
    FinishCheck(keepResult);
}

void CKorvexPlayerDoc::RetirePlayer() {
    if (!m_player) return;
    if (m_view) m_view->StopColourWorker();
    m_player->SetNotifyTarget(nullptr);
    if (m_view && m_view->InNotification()) {
        // The engine and the view are still using the frame being announced: silence the
        // player now and stop it when it is deleted.
        if (m_player->IsVerifying()) m_player->SetVerifying(false);
        if (!m_player->IsPaused()) m_player->TogglePause();
    } else {
        m_player->Stop(Notify::No);
    }
    m_retired.push_back(std::move(m_player));
    loop().post(*this, {kDeleteRetired, 0, 0});
}

intptr_t CKorvexPlayerDoc::onMessage(const LoopMessage& message) {
    if (message.id == kDeleteRetired) {
        // A player is deleted only once no notification of it is being handled further up the
        // stack (a modal dialog opened from a notification runs a nested loop).
        if (m_view && m_view->InNotification())
            loop().post(*this, message);
        else
            m_retired.clear();
        return 0;
    }
    if (message.id == kPlayEndedLater) {
        OnPlayEnded();
        return 0;
    }
    return 0;
}

void CKorvexPlayerDoc::onTimer(uint32_t) {}

void CKorvexPlayerDoc::MakeTitlePrefix() {
    // With the recorder's native time the zone and the date are the recording's own.
    const bool native = (m_captionSettings.switches & kShowNativeTime) != 0;
    const int32_t zone = native ? m_info.GmtOffset() : m_gmtOffsetHours;
    m_titlePrefix = "(" + recorderTextToUtf8(m_info.HostName()) + ")" + zoneText(zone) + "(" +
                    formatTime(m_info.StartTime(), zone, "%Y/%m/%d") + ") --";
}

void CKorvexPlayerDoc::UpdateStatusTitle() {
    // Until something has been opened there is no prefix: the window keeps the program's name
    // (a failed first open must not leave a bare " Stop" as the title).
    if (m_titlePrefix.empty()) {
        m_title = kProgramTitle;
        m_ui.setTitle(m_title);
        return;
    }
    m_title = m_titlePrefix + statusText(m_player != nullptr, IsPaused(), m_speedLevel);
    m_ui.setTitle(m_title);
}

// ---- Speeds and stepping -------------------------------------------------------------------

void CKorvexPlayerDoc::SetSpeed(int32_t level) {
    level = std::clamp(level, kMinSpeedLevel, kMaxSpeedLevel);
    if (m_checking) return;
    m_speedLevel = level;
    m_ui.showSpeedLevel(level);
    if (!m_player) return;
    m_player->SetSpeed(level < kSpeedH ? level : 0);
    if (m_player->IsPaused()) {
        m_singleStep = false;
        m_player->TogglePause();
        ApplyPendingSeek();
    }
    UpdateStatusTitle();
}

void CKorvexPlayerDoc::Play() {
    if (!m_player) return;
    m_singleStep = false;
    if (m_checking) {
        m_player->SetVerifying(false);
        FinishCheck(true);
    }
    if (m_player->IsPaused()) m_player->TogglePause();
    m_speedLevel = 0;
    m_player->SetSpeed(0);
    m_ui.showSpeedLevel(0);
    UpdateStatusTitle();
    ApplyPendingSeek();
}

void CKorvexPlayerDoc::PlaybackButton() {
    if (IsStillPicture()) return;
    if (!m_player) {
        // Nothing plays: Playback starts the last recording again.
        if (!m_lastPath.empty() && OpenRecording(m_lastPath)) Play();
        return;
    }
    Play();
}

void CKorvexPlayerDoc::TogglePause() {
    if (!Usable()) return;
    if (m_player->IsPaused()) m_singleStep = false;
    m_player->TogglePause();
    if (!m_player->IsPaused()) ApplyPendingSeek();
    UpdateStatusTitle();
}

void CKorvexPlayerDoc::ApplyPendingSeek() {
    if (!m_seekPending || !m_player) return;
    m_seekPending = false;
    m_player->Seek(m_seekGroup, m_seekPosition);
}

void CKorvexPlayerDoc::StepNext() {
    if (!Usable()) return;
    // A paused player shows exactly the next picture and pauses again: resume it with the
    // single-step flag set, and the picture's announcement pauses it.
    m_singleStep = true;
    if (m_player->IsPaused()) {
        m_player->TogglePause();
        ApplyPendingSeek();
    }
    UpdateStatusTitle();
}

void CKorvexPlayerDoc::StepPrev() {
    if (!Usable()) return;
    const CRecordReader* reader = m_player->Reader();
    if (!reader) return;
    const uint32_t running = reader->FirstFrameNumber(m_currentGroup, uint32_t(m_currentPosition));
    if (running == 0) return;
    int32_t group = m_currentGroup;
    int32_t position = m_currentPosition - 1;
    if (m_currentPosition == 0) {
        group = m_currentGroup - 1;
        position = int32_t(reader->GroupFrameCount(group)) - 1;
        if (position < 0) return;
    }
    m_singleStep = true;
    m_seekPending = false;
    m_player->Seek(group, position);
    UpdateStatusTitle();
}

void CKorvexPlayerDoc::PlayNext() {
    if (!Usable() || m_player->IsPaused()) return;
    m_player->Seek(m_currentGroup + 1, 0);
}

void CKorvexPlayerDoc::PlayPrev() {
    if (!Usable() || m_player->IsPaused() || m_currentGroup == 0) return;
    m_player->Seek(m_currentGroup - 1, 0);
}

void CKorvexPlayerDoc::SetPendingSeek(int32_t group, int32_t position) {
    m_seekPending = true;
    m_seekGroup = group;
    m_seekPosition = position;
}

void CKorvexPlayerDoc::SliderSeek(int32_t group, int32_t offset) {
    if (!Usable()) return;
    // The slider's far end stands past the last group's first frame: it means the last group.
    const CRecordReader* reader = m_player->Reader();
    if (reader && reader->GroupCount() > 0 && uint32_t(group) >= reader->GroupCount()) {
        group = int32_t(reader->GroupCount()) - 1;
        offset = std::max<int32_t>(0, int32_t(reader->GroupFrameCount(group)) - 1);
    }
    if (m_player->IsPaused())
        SetPendingSeek(group, offset);
    else
        m_player->Seek(group, 0);
}

bool CKorvexPlayerDoc::Seek(int32_t group, int32_t position) {
    if (!Usable()) return false;
    return m_player->Seek(group, position);
}

bool CKorvexPlayerDoc::GoToTime(uint32_t wallTime) {
    if (!Usable()) return false;
    return m_player->GoToTime(wallTime);
}

void CKorvexPlayerDoc::StopButton() {
    if (IsStillPicture() || m_checking) return;
    Close(true);
}

bool CKorvexPlayerDoc::JumpAfterPause(int32_t group, int32_t level) {
    if (!m_player) return false;
    if (m_player->IsPaused()) m_player->TogglePause();
    const int32_t step = level == kSpeedXH ? 2 : 1;
    if (!m_player->Seek(group + step, 0)) {
        // Past the last group: the recording has ended.
        loop().post(*this, {kPlayEndedLater, 0, 0});
        return false;
    }
    UpdateStatusTitle();
    return true;
}

// ---- Frames from the engine ----------------------------------------------------------------

bool CKorvexPlayerDoc::AcceptFrame(const CPlayFrame& frame) {
    if (!m_player) return false;
    m_currentGroup = int32_t(frame.Group());
    m_currentPosition = int32_t(frame.PositionInGroup());
    m_currentFrameTime = frame.WallTime();
    const CRecordReader* reader = m_player->Reader();
    if (!reader) return true;
    const uint32_t number = reader->FirstFrameNumber(m_currentGroup, uint32_t(m_currentPosition));
    if (m_ui.panelExists()) m_ui.setSliderPosition(number);
    if (m_caption) SetCaptionFrameTime(m_currentFrameTime);
    m_currentTick = frame.Tick();
    m_currentFrameKind = frame.Kind();
    m_currentFrameFlags = frame.Flags();
    // The readout's texts are made only while someone looks at them.
    if (m_ui.frameReadoutShown()) m_ui.showFrameReadout(CurrentReadout());
    return true;
}

std::optional<FrameReadout> CKorvexPlayerDoc::CurrentReadout() const {
    const CRecordReader* reader = m_player ? m_player->Reader() : nullptr;
    if (!reader) return std::nullopt;
    FrameReadout readout;
    readout.group = uint32_t(m_currentGroup);
    readout.position = uint32_t(m_currentPosition);
    readout.frameNumber = reader->FirstFrameNumber(m_currentGroup, uint32_t(m_currentPosition));
    readout.totalFrames = reader->TotalFrameCount();
    readout.tick = m_currentTick;
    const uint32_t elapsedMs = m_currentTick - reader->FirstFrameTick();
    const bool native = (m_captionSettings.switches & kShowNativeTime) != 0;
    const int32_t zone = native ? m_info.GmtOffset() : m_gmtOffsetHours;
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03u", unsigned(elapsedMs % 1000));
    readout.wallTime = formatTime(m_currentFrameTime, zone, "%Y/%m/%d %H:%M:%S") + millis;
    readout.codec = CodecOfFlags(m_currentFrameFlags);
    readout.kind = m_currentFrameKind;
    readout.hasVideo = (m_currentFrameFlags & kFrameFlagNoPicture) == 0;
    return readout;
}

void CKorvexPlayerDoc::SetCaptionFrameTime(uint32_t wallTime) {
    if (m_caption) setCaptionFrameTime(*m_caption, wallTime, m_info, m_captionSettings);
}

bool CKorvexPlayerDoc::AfterPictureDrawn() {
    if (!m_player) return false;
    if (m_singleStep) {
        if (!m_player->IsPaused()) m_player->TogglePause();
        UpdateStatusTitle();
        return false;
    }
    if (m_speedLevel == kSpeedH || m_speedLevel == kSpeedXH) {
        if (!m_player->IsPaused()) m_player->TogglePause();
        return true;
    }
    return false;
}

void CKorvexPlayerDoc::OnPlayEnded() {
    if (m_checking) m_checkReachedEnd = true;
    if (!m_checking && m_continuous && m_player && ContinueWithNext()) return;
    Close(true);
}

void CKorvexPlayerDoc::OnFrameLost() {
    if (m_player && !m_player->IsPaused()) m_player->TogglePause();
    m_title = "Frame Lost !";
    m_ui.setTitle(m_title);
    m_ui.showDecodeError();
}

// ---- Continuous playback -------------------------------------------------------------------

void CKorvexPlayerDoc::BuildContinuousList() {
    m_continuousList.emplace();
    namespace fs = std::filesystem;
    const std::string folder = folderOf(m_info.Path());
    std::error_code error;
    fs::directory_iterator entries(folder.empty() ? fs::path(".") : fs::path(folder), error);
    if (error) return;
    const fs::path current = fs::weakly_canonical(m_info.Path(), error);
    for (const fs::directory_entry& entry : entries) {
        std::error_code entryError;
        if (entry.is_directory(entryError)) continue;
        if (fs::weakly_canonical(entry.path(), entryError) == current) continue;
        CRecordInfo candidate;
        if (!candidate.ReadInfo(entry.path().string())) continue;
        if (candidate.Kind() == kKindFourChannel) continue;
        if (candidate.BoardNumber() != m_info.BoardNumber() ||
            candidate.CameraNumber() != m_info.CameraNumber() ||
            candidate.StartTime() <= m_info.StartTime())
            continue;
        auto& list = *m_continuousList;
        const auto place = std::upper_bound(
            list.begin(), list.end(), candidate.StartTime(),
            [](uint32_t start, const CRecordInfo& other) { return start < other.StartTime(); });
        list.insert(place, std::move(candidate));
    }
}

bool CKorvexPlayerDoc::ContinueWithNext() {
    if (!m_continuousList) BuildContinuousList();
    auto& list = *m_continuousList;
    if (list.empty()) return false;
    const std::string path = list.front().Path();
    list.erase(list.begin());
    // A following recording that cannot be opened ends continuous playback.
    return OpenRecording(path, kOpenQuietly);
}

void CKorvexPlayerDoc::ToggleContinuousPlayback() {
    m_continuous = !m_continuous;
}

void CKorvexPlayerDoc::ShowPlayerMessage() {
    if (!m_player) return;
    if (const std::string text = m_player->TakeDecoderMessage(); !text.empty()) m_ui.showMessage(kProgramTitle, text);
}

}  // namespace kx
