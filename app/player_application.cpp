// The player program: start-up, and the joins between the windows and the document.
#include "app/player_application.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "app/desktop_association.h"
#include "app/dialogs/about_dialog.h"
#include "app/dialogs/authenticate_dialogs.h"
#include "app/dialogs/caption_setup_dialog.h"
#include "app/dialogs/decode_error_dialog.h"
#include "app/dialogs/motion_setup_dialog.h"
#include "app/dialogs/print_mode_dialog.h"
#include "app/player_doc.h"
#include "app/player_view.h"
#include "browse/main_frame.h"
#include "browse/quad_play_dlg.h"
#include "browse/search_dlg.h"
#include "browse/open_dlg.h"
#include "output/widgets/face_dlg.h"
#include "output/widgets/kx2avi_dlg.h"
#include "output/widgets/still_printer.h"
#include "platform/qt/qt_event_loop.h"
#include "present/display.h"
#include "present/widgets/colour_dialog.h"
#include "present/widgets/control_panel.h"

namespace kx {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// "Bmp Files (*.bmp)|*.bmp||" as Qt writes a filter: "Bmp Files (*.bmp)".
QString qtFilter(const std::string& filter) {
    QStringList names;
    const QStringList parts = qs(filter).split('|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        if (!parts[i].isEmpty()) names << parts[i];
    return names.join(";;");
}

QRect screenOf(const QWidget& widget) {
    const QScreen* screen = widget.screen() ? widget.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

std::string formatFrameReadout(const FrameReadout& r) {
    char text[256];
    std::snprintf(text, sizeof text, "G %u:%u   frame %u/%u   tick %u\n%s  codec %d  %s",
                  unsigned(r.group), unsigned(r.position), unsigned(r.frameNumber + 1),
                  unsigned(r.totalFrames), unsigned(r.tick), r.wallTime.c_str(), r.codec,
                  !r.hasVideo ? "no picture" : r.kind == 0 ? "key" : "inter");
    return text;
}

PlayerApplication::PlayerApplication(AudioDevices* audio)
    : m_loop(std::make_unique<QtEventLoop>()), m_audio(audio) {
    // The shared display exists as long as the main frame; our own status pictures and icons.
    CreateDisplay();
    for (const uint32_t key : {kStatusVideoLost, kStatusIdle, kStatusLoudspeaker, kStatusHand})
        SetStatusBitmap(DrawnStatusBitmap(key), key);

    m_viewWidget = new VideoViewWidget;
    m_viewWidget->setInput(this);
    m_doc = std::make_unique<CKorvexPlayerDoc>(*m_loop, *this, m_audio);
    m_view = std::make_unique<CKorvexPlayerView>(*m_loop, *m_doc, *m_viewWidget);
    m_doc->SetView(m_view.get());
    m_frame = std::make_unique<CMainFrame>(m_viewWidget, *this);
    m_frame->setDropHandler([this](const std::string& path) { m_doc->OpenPath(path); });
    m_frame->setCloseHandler([this] { shutDown(); });
}

PlayerApplication::~PlayerApplication() {
    if (m_association.joinable()) m_association.join();
    shutDown();
    m_progress.reset();
    m_panel.reset();
    m_doc->SetView(nullptr);
    m_view.reset();
    m_doc.reset();
    m_frame.reset();
    DestroyDisplay();
}

void PlayerApplication::shutDown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_view->StopColourWorker();
    m_doc->Close(false);
    if (m_panel) m_panel->hide();
    if (m_progress) m_progress->hide();
}

void PlayerApplication::start(const std::optional<std::string>& file) {
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QCoreApplication::setApplicationName("KX Player_EN");
    // The association is written again at every start, beside the start-up (updating the MIME
    // database takes a moment); a failure only costs the association.
    m_association = std::thread([program = currentProgramPath(), dataHome = defaultDataHome()] {
        installDesktopAssociation(program, dataHome);
    });

    // Placed once shown, when the window system has given the frame its borders.
    m_frame->show();
    m_frame->placeAtStart(screenOf(*m_frame));
    m_view->Redraw();
    createPanel();
    if (file) {
        // Opened once the window is on the screen, as from the desktop.
        const std::string path = *file;
        QTimer::singleShot(0, m_frame.get(), [this, path] { m_doc->OpenPath(path); });
    }
}

// ---- DocumentUi ----------------------------------------------------------------------------

void PlayerApplication::setTitle(const std::string& title) {
    m_frame->setWindowTitle(qs(title));
}

void PlayerApplication::fitViewTo(int width, int height, bool centre) {
    m_frame->fitViewTo(width, height, centre);
    placePanel();
}

void PlayerApplication::placePanel() {
    if (!m_panel) return;
    m_panel->placeBeside(m_frame->frameGeometry(), screenOf(*m_frame));
}

void PlayerApplication::showMessage(const std::string& title, const std::string& text) {
    QMessageBox::warning(m_frame.get(), qs(title), qs(text));
}

std::optional<std::string> PlayerApplication::runOpenDialog() {
    COpenDlg dialog(m_frame.get(), m_doc->CurrentFolder());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.GetFilePath();
}

std::optional<std::string> PlayerApplication::askSavePath(const SaveRequest& request) {
    QFileDialog dialog(m_frame.get(), qs(request.title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(qtFilter(request.filter));
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(qs(request.defaultExtension));
    if (!request.proposedPath.empty()) dialog.selectFile(qs(request.proposedPath));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

bool PlayerApplication::runMotionSetup(MotionSettings& settings) {
    return CMotionSetupDlg::run(m_frame.get(), settings);
}

bool PlayerApplication::runCaptionSetup(uint32_t& captionSwitches) {
    return CCaptionSetupDlg::run(m_frame.get(), captionSwitches);
}

bool PlayerApplication::chooseColour(uint32_t& colourBgr) {
    const QColor initial(int(colourBgr & 0xFF), int((colourBgr >> 8) & 0xFF),
                         int((colourBgr >> 16) & 0xFF));
    const QColor chosen = QColorDialog::getColor(initial, m_frame.get(), "Caption color",
                                                 QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid()) return false;
    colourBgr = uint32_t(chosen.red()) | uint32_t(chosen.green()) << 8 |
                uint32_t(chosen.blue()) << 16;
    return true;
}

void PlayerApplication::showDecodeError() {
    kx::showDecodeError(m_frame.get());
}

void PlayerApplication::runFaceWindow(const std::string& path) {
    const QRect screen = screenOf(*m_frame);
    // The frame the window system adds around a dialog, as the main window has it.
    const QSize frame = m_frame->frameGeometry().size() - m_frame->geometry().size();
    CFaceDlg dialog(path, screen.size(), frame,
                    [this](const std::string& video, uint32_t time) {
                        if (m_doc->OpenRecording(video)) m_doc->GoToTime(time);
                    },
                    m_frame.get());
    dialog.exec();
}

bool PlayerApplication::openProgress(uint32_t total) {
    m_progress = std::make_unique<CAuthenticatingWnd>(
        total, [this] { m_doc->Close(true, true); }, m_frame.get());
    m_progress->placeOver(*m_frame);
    m_progress->show();
    return true;
}

void PlayerApplication::setProgress(uint32_t position) {
    if (m_progress) m_progress->setProgress(position);
}

void PlayerApplication::closeProgress() {
    if (!m_progress) return;
    m_progress->hide();
    // Deleted later: the Stop button that closes it may still be on the stack.
    m_progress.release()->deleteLater();
}

bool PlayerApplication::showAuthenticateOk(bool offerReport) {
    return kx::showAuthenticateOk(m_frame.get(), offerReport);
}

bool PlayerApplication::showAuthenticateErr(const std::string& time, bool offerReport) {
    return kx::showAuthenticateErr(m_frame.get(), time, offerReport);
}

bool PlayerApplication::panelExists() const {
    return m_panel != nullptr;
}

void PlayerApplication::createPanel() {
    if (m_panel) return;
    m_panel = std::make_unique<CPlayerPanel>(*this);
    m_panel->onExpandedChanged = [this](bool expanded) {
        if (expanded) showFrameReadout(m_doc->CurrentReadout());
    };
    m_panel->showSpeedLevel(m_doc->SpeedLevel());
    placePanel();
    m_panel->show();
}

void PlayerApplication::destroyPanel() {
    if (!m_panel) return;
    m_panel->hide();
    m_panel.release()->deleteLater();
}

void PlayerApplication::setSliderRange(uint32_t total, const std::vector<uint32_t>& ticks) {
    if (m_panel) m_panel->setSliderRange(total, ticks);
}

void PlayerApplication::clearSlider() {
    if (m_panel) m_panel->clearSlider();
}

void PlayerApplication::setSliderPosition(uint32_t position) {
    if (m_panel) m_panel->setSliderPosition(position);
}

bool PlayerApplication::frameReadoutShown() const {
    return m_panel && m_panel->isExpanded();
}

void PlayerApplication::showFrameReadout(const std::optional<FrameReadout>& readout) {
    if (m_panel) m_panel->setReadout(readout ? qs(formatFrameReadout(*readout)) : QString());
}

void PlayerApplication::showSpeedLevel(int level) {
    if (m_panel) m_panel->showSpeedLevel(level);
}

void PlayerApplication::runSearchDialog(SearchCriteria& criteria, SearchTarget& target) {
    CSearchDlg dialog(criteria, target, m_frame.get());
    dialog.exec();
}

std::unique_ptr<QuadWindow> PlayerApplication::createQuadWindow(QuadHost& host) {
    return makeQuadPlayWindow(host, *m_loop, m_audio);
}

// ---- Commands ------------------------------------------------------------------------------

CommandState PlayerApplication::commandState(int id) const {
    const bool still = m_doc->IsStillPicture();
    switch (id) {
        case ID_VIEW_PLAYER: return {true, m_panel != nullptr};
        case ID_VIEW_FULLSCREEN: return {true, m_frame && m_frame->IsFullScreen()};
        case ID_MOTION_ENABLE: return {true, m_doc->MotionSearchEnabled()};
        case ID_CONTINUOUS_PLAY: return {true, m_doc->ContinuousPlayback()};
        case ID_PRINT_MODE:
        case ID_FILE_PRINT:
        case ID_FILE_PRINT_PREVIEW:
        case ID_FILE_PRINT_SETUP: return {still, false};
        default: return {true, false};
    }
}

bool PlayerApplication::onCommand(int id) {
    CKorvexPlayerDoc& doc = *m_doc;
    switch (id) {
        case ID_FILE_OPEN: doc.OnFileOpen(); return true;
        case ID_FILE_CLOSE: doc.OnFileClose(); return true;
        case ID_SEARCH: doc.OnSearch(); return true;
        case ID_APP_EXIT: m_frame->close(); return true;
        case ID_APP_ABOUT: showAboutDialog(m_frame.get()); return true;
        case ID_VIEW_PLAYER: doc.TogglePlayerPanel(); return true;
        case ID_VIEW_FULLSCREEN: m_frame->ToggleFullScreen(); return true;
        case ID_COLOR_CONFIG: runColourDialog(); return true;
        case ID_PRINT_MODE: runPrintMode(); return true;
        case ID_FILE_PRINT:
        case ID_FILE_PRINT_PREVIEW:
        case ID_FILE_PRINT_SETUP: printStill(id); return true;
        case ID_KX2AVI:
        case ID_EXPORT_MP4: runExportWindow(id); return true;
        case ID_MOTION_SETUP: doc.OnMotionSetup(); return true;
        case ID_MOTION_ENABLE: doc.ToggleMotionSearch(); return true;
        case ID_CONTINUOUS_PLAY: doc.ToggleContinuousPlayback(); return true;
        case ID_CAPTION_SETUP: doc.OnCaptionSetup(); return true;
        case ID_KEY_PAUSE: doc.TogglePause(); return true;
        case ID_KEY_STEP_NEXT: doc.StepNext(); return true;
        case ID_KEY_STEP_PREV: doc.StepPrev(); return true;
        case ID_KEY_NEXT_GROUP: doc.PlayNext(); return true;
        case ID_KEY_PREV_GROUP: doc.PlayPrev(); return true;
        case ID_KEY_FASTER:
            if (doc.SpeedLevel() < kMaxSpeedLevel) doc.SetSpeed(doc.SpeedLevel() + 1);
            return true;
        case ID_KEY_SLOWER:
            if (doc.SpeedLevel() > kMinSpeedLevel) doc.SetSpeed(doc.SpeedLevel() - 1);
            return true;
        case ID_KEY_PLAYBACK: doc.PlaybackButton(); return true;
        default: return false;
    }
}

void PlayerApplication::runColourDialog() {
    CColourDialog dialog(
        m_view->CurrentColours(),
        [this](int brightness, int contrast, int saturation, int hue) {
            m_view->SetColour({brightness, contrast, saturation, hue});
        },
        m_frame.get());
    dialog.exec();
}

void PlayerApplication::runPrintMode() {
    int mode = m_printMode;
    int scaling = m_printScaling;
    if (!CPrintModeDlg::run(m_frame.get(), mode, scaling)) return;
    m_printMode = mode;
    m_printScaling = scaling;
    m_view->Redraw();
}

void PlayerApplication::printStill(int command) {
    if (!m_doc->IsStillPicture()) return;
    if (!m_printer) m_printer = std::make_unique<StillPrinter>();
    const std::string& path = m_doc->StillPicture().fileName();
    const PrintMode mode =
        m_printMode == kPrintModeTextBeside ? PrintMode::TextBeside : PrintMode::TextInPicture;
    if (command == ID_FILE_PRINT)
        m_printer->print(m_frame.get(), path, m_doc->StillPicture(), mode, m_printScaling);
    else if (command == ID_FILE_PRINT_PREVIEW)
        m_printer->preview(m_frame.get(), path, m_doc->StillPicture(), mode, m_printScaling);
    else
        m_printer->setup(m_frame.get());
}

void PlayerApplication::runExportWindow(int command) {
    // The recording that was open is the input; it is closed as File, Close does.
    const std::string input = m_doc->HasPlayer() ? m_doc->Info().Path() : std::string();
    if (m_doc->HasPlayer()) m_doc->OnFileClose();
    CKx2AviDlg dialog(input, command == ID_KX2AVI ? ExportFormat::Avi : ExportFormat::Mp4,
                      m_frame.get());
    dialog.exec();
}

// ---- Panel ---------------------------------------------------------------------------------

void PlayerApplication::closeProgram() {
    m_frame->close();
}
void PlayerApplication::open() { m_doc->OnFileOpen(); }
void PlayerApplication::stop() { m_doc->StopButton(); }
void PlayerApplication::playback() {
    if (m_doc->IsChecking())
        m_doc->Authenticate(false);
    else
        m_doc->PlaybackButton();
}
void PlayerApplication::pause() { m_doc->TogglePause(); }
void PlayerApplication::stepPrev() { m_doc->StepPrev(); }
void PlayerApplication::stepNext() { m_doc->StepNext(); }
void PlayerApplication::playPrev() { m_doc->PlayPrev(); }
void PlayerApplication::playNext() { m_doc->PlayNext(); }
void PlayerApplication::snapshot() { m_doc->TakeSnapshot(); }
bool PlayerApplication::markClipStart() { return m_doc->MarkClipStart(); }
bool PlayerApplication::markClipEnd() { return m_doc->MarkClipEnd(); }
void PlayerApplication::saveClip() { m_doc->SaveClipAs(); }
bool PlayerApplication::playClip() { return m_doc->PlayLastClip(); }
void PlayerApplication::zoomIn() { m_frame->zoomIn(); placePanel(); }
void PlayerApplication::zoomOut() { m_frame->zoomOut(); placePanel(); }
void PlayerApplication::fullScreen() { m_frame->ToggleFullScreen(); }
void PlayerApplication::toggleCaption() { m_doc->ToggleCaption(); }
void PlayerApplication::captionColour() { m_doc->OnCaptionColour(); }
void PlayerApplication::authenticate() { m_doc->Authenticate(true); }
void PlayerApplication::setSpeed(int level) { m_doc->SetSpeed(level); }
void PlayerApplication::sliderSeek(int32_t group, int32_t offset) {
    m_doc->SliderSeek(group, offset);
}
bool PlayerApplication::motionSuspended() const {
    return m_doc->Player() && m_doc->Player()->MotionSuspended();
}
void PlayerApplication::toggleMotionSuspend() {
    if (m_doc->Player()) m_doc->Player()->ToggleSuspend();
}

// ---- View ----------------------------------------------------------------------------------

void PlayerApplication::leftButtonDown(int x, int y) { m_view->OnLeftButtonDown(x, y); }
void PlayerApplication::leftButtonUp(int x, int y) { m_view->OnLeftButtonUp(x, y); }
void PlayerApplication::wheel(int delta) { m_view->OnMouseWheel(delta); }
void PlayerApplication::leftDoubleClick() {
    if (m_frame->IsFullScreen()) m_frame->ToggleFullScreen();
}
void PlayerApplication::escapePressed() {
    if (m_frame->IsFullScreen()) m_frame->ToggleFullScreen();
}
void PlayerApplication::resized() {
    if (m_doc->IsStillPicture()) m_view->Redraw();
}

}  // namespace kx
