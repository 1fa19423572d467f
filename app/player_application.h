// PlayerApplication: the player program on Qt. It starts the player in order (desktop
// association, the shared display, the document and its control panel, the main window, then the
// file named on the command line) and joins the pieces: the menus' and keys' commands, the
// panel's buttons and the view's mouse go to the document, the main view or the main frame, and
// the document's requests to the screen become Qt windows and dialogs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/document_ui.h"
#include "browse/command_ids.h"
#include "present/widgets/panel_commands.h"
#include "present/widgets/video_view_widget.h"

namespace kx {

class AudioDevices;
class CAuthenticatingWnd;
class CKorvexPlayerDoc;
class CKorvexPlayerView;
class CMainFrame;
class CPlayerPanel;
class QtEventLoop;
class StillPrinter;

// The readout of the panel's expanded strip, two lines.
std::string formatFrameReadout(const FrameReadout& readout);

class PlayerApplication : public DocumentUi,
                          public CommandTarget,
                          public PanelCommands,
                          public ViewInput {
public:
    // Construct after the QApplication; `audio` null plays silent.
    explicit PlayerApplication(AudioDevices* audio);
    ~PlayerApplication() override;

    // Registers the file types, shows the main window (640 x 480 view) and the panel beside it,
    // and opens `file` once the window is shown.
    void start(const std::optional<std::string>& file);

    CMainFrame& frame() const { return *m_frame; }
    CPlayerPanel* panel() const { return m_panel.get(); }
    CKorvexPlayerDoc& document() const { return *m_doc; }
    CKorvexPlayerView& view() const { return *m_view; }

    // DocumentUi
    void setTitle(const std::string& title) override;
    void fitViewTo(int width, int height, bool centre) override;
    void showMessage(const std::string& title, const std::string& text) override;
    std::optional<std::string> runOpenDialog() override;
    std::optional<std::string> askSavePath(const SaveRequest& request) override;
    bool runMotionSetup(MotionSettings& settings) override;
    bool runCaptionSetup(uint32_t& captionSwitches) override;
    bool chooseColour(uint32_t& colourBgr) override;
    void showDecodeError() override;
    void runFaceWindow(const std::string& path) override;
    bool openProgress(uint32_t total) override;
    void setProgress(uint32_t position) override;
    void closeProgress() override;
    bool showAuthenticateOk(bool offerReport) override;
    bool showAuthenticateErr(const std::string& time, bool offerReport) override;
    bool panelExists() const override;
    void createPanel() override;
    void destroyPanel() override;
    void setSliderRange(uint32_t total, const std::vector<uint32_t>& ticks) override;
    void clearSlider() override;
    void setSliderPosition(uint32_t position) override;
    bool frameReadoutShown() const override;
    void showFrameReadout(const std::optional<FrameReadout>& readout) override;
    void showSpeedLevel(int level) override;
    void runSearchDialog(SearchCriteria& criteria, SearchTarget& target) override;
    std::unique_ptr<QuadWindow> createQuadWindow(QuadHost& host) override;

    // CommandTarget
    bool onCommand(int id) override;
    CommandState commandState(int id) const override;

    // PanelCommands
    void closeProgram() override;
    void open() override;
    void stop() override;
    void playback() override;
    void pause() override;
    void stepPrev() override;
    void stepNext() override;
    void playPrev() override;
    void playNext() override;
    void snapshot() override;
    bool markClipStart() override;
    bool markClipEnd() override;
    void saveClip() override;
    bool playClip() override;
    void zoomIn() override;
    void zoomOut() override;
    void fullScreen() override;
    void toggleCaption() override;
    void captionColour() override;
    void authenticate() override;
    void setSpeed(int level) override;
    void sliderSeek(int32_t group, int32_t offset) override;
    bool motionSuspended() const override;
    void toggleMotionSuspend() override;

    // ViewInput
    void leftButtonDown(int x, int y) override;
    void leftButtonUp(int x, int y) override;
    void wheel(int delta) override;
    void leftDoubleClick() override;
    void escapePressed() override;
    void resized() override;

private:
    void placePanel();
    void runColourDialog();
    void runPrintMode();
    void printStill(int command);
    void runExportWindow(int command);
    void shutDown();

    std::unique_ptr<QtEventLoop> m_loop;
    AudioDevices* m_audio;
    VideoViewWidget* m_viewWidget = nullptr;  // owned by the frame
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CKorvexPlayerDoc> m_doc;
    std::unique_ptr<CKorvexPlayerView> m_view;
    std::unique_ptr<CPlayerPanel> m_panel;
    std::unique_ptr<CAuthenticatingWnd> m_progress;
    std::unique_ptr<StillPrinter> m_printer;
    int m_printMode = 0;
    int m_printScaling = 15;
    bool m_shutDown = false;
    std::thread m_association;  // writes the desktop association at start-up
};

}  // namespace kx
