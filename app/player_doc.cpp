// The document: opening and closing, the title, speeds and stepping, clips, snapshots, the
// integrity check and the user's settings.
#include "app/player_doc.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/player_view.h"
#include "present/display.h"
#include "recording/record_reader.h"
#include "recording/resolution.h"

namespace kx {
namespace {

constexpr const char* kProgramTitle = "KX Player";

std::string lowerCase(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWithIgnoringCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           lowerCase(text.substr(text.size() - tail.size())) == lowerCase(tail);
}

// `seconds` shown in a zone `hours` east of GMT, formatted with strftime's `format`.
std::string formatTime(uint32_t seconds, int32_t hours, const char* format) {
    const std::time_t shown = std::time_t(seconds) + std::time_t(hours) * 3600;
    std::tm parts{};
    gmtime_r(&shown, &parts);
    char text[64];
    const size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

std::string zoneText(int32_t hours) {
    char text[32];
    std::snprintf(text, sizeof text, hours >= 0 ? "(GMT+%02d:00)" : "(GMT-%02d:00)",
                  hours >= 0 ? hours : -hours);
    return text;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The folder of `path` as an absolute path ending in '/': the Open window's tree starts from the
// file system's roots, so a path given relative to the working folder must be made whole.
std::string absoluteFolderOf(const std::string& path) {
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(path, error);
    if (error) return folderOf(path);
    return folderOf(whole.lexically_normal().string());
}

std::string baseNameOf(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

// A region of the view, ordered, scaled to picture pixels (integer division).
CaptionRect viewToPicture(int left, int top, int right, int bottom, int viewWidth,
                          int viewHeight, int pictureWidth, int pictureHeight) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (viewWidth <= 0 || viewHeight <= 0) return {};
    const auto scale = [](int value, int to, int from) { return int(int64_t(value) * to / from); };
    return {scale(left, pictureWidth, viewWidth), scale(top, pictureHeight, viewHeight),
            scale(right, pictureWidth, viewWidth), scale(bottom, pictureHeight, viewHeight)};
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
        m_ui.showMessage(kProgramTitle, "\"" + path +
                                            "\" is a face-picture file; face pictures are "
                                            "shown in the face-picture window, which this "
                                            "version of the player does not have yet.");
        return false;
    }
    if (endsWithIgnoringCase(path, "bmp")) return OpenStillPicture(path, kContentBitmap);
    if (endsWithIgnoringCase(path, "jpg") || endsWithIgnoringCase(path, "jpeg"))
        return OpenStillPicture(path, kContentJpeg);
    m_continuousList.reset();
    return OpenRecording(path);
}

void CKorvexPlayerDoc::OnFileOpen() {
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
    m_stillPath = path;
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
        if (!quiet)
            m_ui.showMessage(kProgramTitle,
                             "\"" + path +
                                 "\" is a four-channel recording; it plays in quad play, which "
                                 "this version of the player does not have yet.");
        UpdateStatusTitle();
        return false;
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
    m_hasInfo = true;
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

    const bool native = (m_captionSettings.switches & kShowNativeTime) != 0;
    const int32_t zone = native ? m_info.GmtOffset() : m_gmtOffsetHours;
    m_titlePrefix = "(" + m_info.HostName() + ")" + zoneText(zone) + "(" +
                    formatTime(m_info.StartTime(), zone, "%Y/%m/%d") + ") --";
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
    std::vector<uint32_t> ticks;
    uint32_t sum = 0;
    for (uint32_t group = 0; group < reader->GroupCount(); ++group) {
        sum += reader->GroupFrameCount(int32_t(group));
        ticks.push_back(sum);
    }
    m_ui.setSliderRange(reader->TotalFrameCount(), ticks);
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

    FrameReadout readout;
    readout.group = frame.Group();
    readout.position = frame.PositionInGroup();
    readout.frameNumber = number;
    readout.totalFrames = reader->TotalFrameCount();
    readout.tick = frame.Tick();
    const uint32_t elapsedMs = frame.Tick() - reader->FirstFrameTick();
    const bool native = (m_captionSettings.switches & kShowNativeTime) != 0;
    const int32_t zone = native ? m_info.GmtOffset() : m_gmtOffsetHours;
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03u", unsigned(elapsedMs % 1000));
    readout.wallTime = formatTime(m_currentFrameTime, zone, "%Y/%m/%d %H:%M:%S") + millis;
    readout.codec = frame.Codec();
    readout.kind = frame.Kind();
    readout.hasVideo = (frame.Flags() & kFrameFlagNoPicture) == 0;
    m_ui.showFrameReadout(readout);
    return true;
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

// ---- Clips ---------------------------------------------------------------------------------

bool CKorvexPlayerDoc::MarkClipStart() {
    if (!Usable()) return false;
    m_clipStartGroup = m_currentGroup;
    m_clipStartPosition = m_currentPosition;
    m_clipStartMarked = true;
    return true;
}

bool CKorvexPlayerDoc::MarkClipEnd() {
    if (!Usable()) return false;
    m_clipEndGroup = m_currentGroup;
    m_clipEndPosition = m_currentPosition;
    m_clipEndMarked = true;
    return true;
}

bool CKorvexPlayerDoc::SaveClipAs() {
    if (!m_clipStartMarked || !m_clipEndMarked) return false;
    CRecordReader* reader = m_player ? m_player->Reader() : nullptr;
    CRecordReader ownReader;
    if (!reader) {
        if (m_lastPath.empty()) return false;
        CRecordInfo header;
        if (!header.ReadInfo(m_lastPath) || !ownReader.Open(&header, kReaderModeRead, -1)) {
            m_ui.showMessage(kProgramTitle, "\"" + m_lastPath + "\" cannot be read again: " +
                                                header.LastError().text);
            m_clipStartMarked = m_clipEndMarked = false;
            return false;
        }
        reader = &ownReader;
    }
    const std::string extension = RecordingExtension(reader->Kind());
    SaveRequest request;
    request.title = "Save clip";
    request.filter = "Kx Files (*" + extension + ")|*" + extension + "||";
    request.defaultExtension = extension.substr(1);
    request.proposedPath = folderOf(reader->Path()) + baseNameOf(reader->Path()) + "_clip" + extension;
    const int32_t startGroup = m_clipStartGroup;
    const int32_t endGroup = m_clipEndGroup;
    const int32_t endPosition = m_clipEndPosition;
    m_clipStartMarked = m_clipEndMarked = false;
    m_clipStartGroup = m_clipStartPosition = m_clipEndGroup = m_clipEndPosition = 0;

    std::optional<std::string> path = m_ui.askSavePath(request);
    if (!path || path->empty()) return false;
    // A clip opens again only under the extension of its kind.
    if (!endsWithIgnoringCase(*path, extension)) *path += extension;
    // The dialog may have run a nested loop in which the recording was closed.
    if (reader != &ownReader && (!m_player || m_player->Reader() != reader)) return false;
    if (!reader->SaveClip(*path, startGroup, endGroup, endPosition)) {
        m_ui.showMessage(kProgramTitle, "The clip could not be saved to \"" + *path + "\": " +
                                            reader->LastError().text);
        return false;
    }
    m_lastClipPath = *path;
    return true;
}

bool CKorvexPlayerDoc::PlayLastClip() {
    if (m_lastClipPath.empty() || m_checking) return false;
    return OpenRecording(m_lastClipPath);
}

// ---- Snapshot ------------------------------------------------------------------------------

bool CKorvexPlayerDoc::TakeSnapshot() {
    if (m_checking || !m_player || !m_target || !m_player->Reader()) return false;
    const bool wasPlaying = !m_player->IsPaused();
    if (wasPlaying) m_player->TogglePause();

    PictureFile snapshot;
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!m_target->CopyPicture(pixels, width, height)) {
        UpdateStatusTitle();
        return false;  // nothing to write; playback stays paused
    }
    snapshot.setPixels(width, height, std::move(pixels));
    snapshot.setHostName(m_info.HostName());
    snapshot.setBoardName(m_info.BoardName());
    snapshot.setCameraName(m_info.CameraName());
    snapshot.setTime(m_currentFrameTime);
    snapshot.setGmtOffset(m_gmtOffsetHours);

    SaveRequest request;
    request.title = "Save snapshot";
    request.filter = "Bmp Files (*.bmp)|*.bmp||";
    char frame[32];
    std::snprintf(frame, sizeof frame, "_%d-%d.bmp", m_currentGroup, m_currentPosition);
    request.proposedPath = folderOf(m_info.Path()) + baseNameOf(m_info.Path()) + frame;
    const std::optional<std::string> path = m_ui.askSavePath(request);
    bool saved = false;
    if (path) {
        saved = snapshot.save(PictureFormat::Bmp, *path);
        if (!saved)
            m_ui.showMessage(kProgramTitle, "The snapshot could not be saved to \"" + *path +
                                                "\": " + snapshot.lastError());
    }
    if (wasPlaying && m_player && m_player->IsPaused()) m_player->TogglePause();
    UpdateStatusTitle();
    return saved;
}

// ---- Integrity check -----------------------------------------------------------------------

void CKorvexPlayerDoc::Authenticate(bool on) {
    if (IsStillPicture()) return;
    if (!on) {
        if (!m_player) {
            if (!m_lastPath.empty()) OpenRecording(m_lastPath);
            return;
        }
        m_currentPosition = 0;
        m_speedLevel = 0;
        m_ui.showSpeedLevel(0);
        if (m_checking) {
            m_player->SetVerifying(false);
            FinishCheck(true);
        }
        UpdateStatusTitle();
        ApplyPendingSeek();
        return;
    }
    if (!m_player && (m_lastPath.empty() || !OpenRecording(m_lastPath))) return;
    if (m_checking) {
        m_ui.closeProgress();
        m_progressShown = false;
    }
    const CRecordReader* reader = m_player->Reader();
    m_progressShown = m_ui.openProgress(reader ? reader->TotalFrameCount() : 0);
    m_currentGroup = 0;
    m_currentPosition = 0;
    m_speedLevel = 0;
    m_ui.showSpeedLevel(0);
    m_singleStep = false;
    // A seek would skip frames of the pass, and a check that skipped frames must not pass.
    m_seekPending = false;
    m_failurePending = false;
    m_checkReachedEnd = false;
    m_checking = true;
    m_player->SetSpeed(0);
    m_player->SetVerifying(true);
    UpdateStatusTitle();
}

void CKorvexPlayerDoc::OnVerifyProgress(const CPlayFrame& frame) {
    if (!m_player || !m_player->Reader()) return;
    // Frames counted so far, so that the bar reaches the total on the last frame.
    const uint32_t done =
        m_player->Reader()->FirstFrameNumber(int32_t(frame.Group()), frame.PositionInGroup()) + 1;
    if (m_progressShown) m_ui.setProgress(done);
}

void CKorvexPlayerDoc::OnIntegrityFailure(const CPlayFrame& frame) {
    if (m_failurePending) return;  // the first failure is the one reported
    m_failurePending = true;
    m_failGroup = int32_t(frame.Group());
    m_failPosition = int32_t(frame.PositionInGroup());
    m_failTime = frame.WallTime();
}

void CKorvexPlayerDoc::FinishCheck(bool keepResult) {
    if (m_checking) {
        m_checking = false;
        // Only a pass that went through to the end can pass: a check ended by opening or
        // closing something else has not seen every frame.
        if (!m_failurePending && !keepResult && m_checkReachedEnd) m_ui.showAuthenticateOk();
        m_checkReachedEnd = false;
        if (m_progressShown) m_ui.closeProgress();
        m_progressShown = false;
    }
    if (m_failurePending) {
        const std::string time = formatTime(m_failTime, m_gmtOffsetHours, "%H:%M:%S");
        m_failurePending = false;
        m_failGroup = m_failPosition = 0;
        m_ui.showAuthenticateErr(time);
    }
}

// ---- Settings ------------------------------------------------------------------------------

void CKorvexPlayerDoc::HandMotionToPlayer() {
    if (!m_player) return;
    m_player->SetMotionParams(m_motion.sensitivity, m_motion.changedPictures,
                              m_motion.pauseOnMotion);
    m_player->ClearRegions();
    if (!m_motionEnabled) return;
    for (const CaptionRect& region : m_regions)
        m_player->AddRegion(region.left, region.top, region.right, region.bottom);
}

void CKorvexPlayerDoc::OnMotionSetup() {
    MotionSettings settings = m_motion;
    if (!m_ui.runMotionSetup(settings)) return;
    m_motion = settings;
    if (m_player)
        m_player->SetMotionParams(m_motion.sensitivity, m_motion.changedPictures,
                                  m_motion.pauseOnMotion);
}

void CKorvexPlayerDoc::ToggleMotionSearch() {
    m_motionEnabled = !m_motionEnabled;
    if (!m_motionEnabled) {
        m_regions.clear();
        if (m_player) m_player->ClearRegions();
        if (m_caption && m_zoom != ZoomState::Chosen) {
            m_caption->flags &= ~kCaptionMotionRegions;
            m_caption->motion = MotionBlock{};
        }
        if (m_view) m_view->Redraw();
    }
}

void CKorvexPlayerDoc::AddMotionRegion(int left, int top, int right, int bottom, int viewWidth,
                                       int viewHeight) {
    if (!m_player || !m_player->Frame()) return;
    const CaptionRect region =
        viewToPicture(left, top, right, bottom, viewWidth, viewHeight,
                      m_player->Frame()->Width(), m_player->Frame()->Height());
    if (region.width() < 4 || region.height() < 4) {
        m_regions.clear();
        m_player->ClearRegions();
        if (m_caption) {
            m_caption->flags &= ~kCaptionMotionRegions;
            m_caption->motion = MotionBlock{};
        }
    } else {
        if (m_regions.size() >= size_t(MotionBlock::kMaxRegions)) return;
        m_regions.push_back(region);
        HandMotionToPlayer();
        if (m_caption) {
            m_caption->motion = m_player->Motion();
            m_caption->flags |= kCaptionMotionRegions;
        }
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::OnMotionBlock(const MotionBlock& block) {
    if (!m_caption) return;
    m_caption->motion = block;
    if (block.count != 0)
        m_caption->flags |= kCaptionMotionRegions;
    else
        m_caption->flags &= ~kCaptionMotionRegions;
}

void CKorvexPlayerDoc::ClearZoomOutline() {
    if (!m_caption) return;
    m_caption->flags &= ~kCaptionMotionRegions;
    m_caption->motion = MotionBlock{};
}

void CKorvexPlayerDoc::BeginZoomDrag() {
    if (!m_player) return;
    if (m_zoom == ZoomState::None || m_zoom == ZoomState::Chosen) m_zoom = ZoomState::Dragging;
}

void CKorvexPlayerDoc::EndZoomDrag(int left, int top, int right, int bottom, int viewWidth,
                                   int viewHeight) {
    if (!m_player || m_zoom != ZoomState::Dragging || !m_caption) return;
    const CaptionRect rect =
        viewToPicture(left, top, right, bottom, viewWidth, viewHeight,
                      m_player->Frame()->Width(), m_player->Frame()->Height());
    if (rect.width() < 4 || rect.height() < 4) {
        m_zoom = ZoomState::None;
        ClearZoomOutline();
    } else {
        m_zoom = ZoomState::Chosen;
        m_zoomRect = rect;
        MotionBlock outline;
        outline.count = 1;
        outline.regions[0] = {rect.left, rect.top, rect.right, rect.bottom, 0, 0};
        m_caption->motion = outline;
        m_caption->flags |= kCaptionMotionRegions;
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ZoomIn() {
    if (!m_caption || m_zoom != ZoomState::Chosen) return;
    m_zoom = ZoomState::Zoomed;
    ClearZoomOutline();
    m_caption->flags |= kCaptionHidden;
    m_caption->zoom = m_zoomRect;
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ZoomOut() {
    if (!m_caption || m_zoom != ZoomState::Zoomed) return;
    m_zoom = ZoomState::None;
    ClearZoomOutline();
    if (m_captionOn) m_caption->flags &= ~kCaptionHidden;
    m_caption->zoom = m_fullRect;
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ApplyCaptionFlags() {
    if (!m_caption || !m_player || !m_player->Frame()) return;
    const CaptionInfo previous = *m_caption;
    fillRecordingCaption(*m_caption, m_info, m_player->Frame()->Width(),
                         m_player->Frame()->Height(), m_captionSettings);
    m_caption->zoom = previous.zoom;
    m_caption->motion = previous.motion;
    m_caption->flags |= previous.flags & (kCaptionMotionRegions | kCaptionAudio | kCaptionNoVideo);
    if (!m_captionOn || m_zoom == ZoomState::Zoomed) m_caption->flags |= kCaptionHidden;
    SetCaptionFrameTime(m_currentFrameTime ? m_currentFrameTime : m_info.StartTime());
}

void CKorvexPlayerDoc::OnCaptionSetup() {
    uint32_t switches = m_captionSettings.switches;
    if (!m_ui.runCaptionSetup(switches)) return;
    m_captionSettings.switches = switches;
    ApplyCaptionFlags();
    if (m_player) {
        const bool native = (switches & kShowNativeTime) != 0;
        const int32_t zone = native ? m_info.GmtOffset() : m_gmtOffsetHours;
        m_titlePrefix = "(" + m_info.HostName() + ")" + zoneText(zone) + "(" +
                        formatTime(m_info.StartTime(), zone, "%Y/%m/%d") + ") --";
        UpdateStatusTitle();
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ToggleCaption() {
    if (IsStillPicture()) {
        // A still picture has a caption of its own: its trailer's names over the picture.
        m_pictureCaptionOn = !m_pictureCaptionOn;
        if (m_view) m_view->SetPictureCaption(m_pictureCaptionOn, m_captionSettings.colour);
        return;
    }
    m_captionOn = !m_captionOn;
    if (m_caption) {
        if (m_captionOn && m_zoom != ZoomState::Zoomed)
            m_caption->flags &= ~kCaptionHidden;
        else
            m_caption->flags |= kCaptionHidden;
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::OnCaptionColour() {
    uint32_t colour = m_captionSettings.colour;
    if (!m_ui.chooseColour(colour)) return;
    m_captionSettings.colour = colour;
    if (IsStillPicture() && m_view) m_view->SetPictureCaption(m_pictureCaptionOn, colour);
    if (m_caption)
        m_caption->cameraColour = m_caption->boardColour = m_caption->timeColour =
            m_caption->timeZoneColour = colour;
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::TogglePlayerPanel() {
    if (m_ui.panelExists()) {
        m_ui.destroyPanel();
        return;
    }
    m_ui.createPanel();
    m_ui.showSpeedLevel(m_speedLevel);
    SetSliderFromInfo();
    if (m_player && m_player->Reader())
        m_ui.setSliderPosition(m_player->Reader()->FirstFrameNumber(
            m_currentGroup, uint32_t(m_currentPosition)));
}

}  // namespace kx
