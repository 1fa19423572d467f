// The render target of kxtool: composed in memory, kept as an image, saved as PNG.
#include "tools/kxtool/shown_picture.h"

#include <QtGlobal>
#include <cstdio>

#include "codec/video_decoder.h"
#include "present/display.h"
#include "present/offscreen_application.h"
#include "present/picture_copy.h"
#include "present/render_target.h"
#include "recording/record_info.h"

namespace kx {
namespace {

// Qt's own notes (a missing runtime folder, say) are not the tool's to print: its errors go
// through reportError.
void keepOnlyQtsFailures(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "kxtool: %s\n", qPrintable(message));
}

class ImageWindow : public PictureWindow {
public:
    void showPicture(const QImage& picture) override { image = picture.copy(); }
    QSize clientSize() const override { return image.size(); }
    QImage image;
};

}  // namespace

struct ShownPictureWriter::State {
    CRenderTarget target;
    CaptionInfo caption;
    CaptionSettings settings;
    ImageWindow window;
};

ShownPictureWriter::ShownPictureWriter() : m_state(std::make_unique<State>()) {
    qInstallMessageHandler(keepOnlyQtsFailures);
    ensureOffscreenApplication();
    CreateDisplay();
    m_state->settings.computerGmtOffsetHours = currentGmtOffsetHours();
}

ShownPictureWriter::~ShownPictureWriter() {
    m_state.reset();
    DestroyDisplay();
}

bool ShownPictureWriter::write(const RgbPicture& picture, const CRecordInfo& info,
                               uint16_t frameFlags, uint32_t wallTime, const std::string& path,
                               std::string& reason) {
    State& state = *m_state;
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    if (state.target.Width() != width || state.target.Height() != height) {
        state.target.Release();
        if (state.target.Init(width, height, nullptr) != 0) {
            reason = "no picture of " + std::to_string(width) + " x " + std::to_string(height) +
                     " can be composed";
            return false;
        }
        fillRecordingCaption(state.caption, info, int(width), int(height), state.settings);
    }
    PictureDesc desc;
    if (state.target.GetDesc(&desc) != 0) {
        reason = "the picture cannot be composed";
        return false;
    }
    const bool copied =
        copyPictureUpright(picture, info.Kind(), frameFlags,
                           {desc.pixels, desc.width, desc.height, desc.bytesPerPixel,
                            uint32_t(desc.pitch), RowOrder::TopDown});
    state.target.Unlock();
    if (!copied) {
        reason = "the picture has no layout for this kind and codec";
        return false;
    }
    setCaptionFrameTime(state.caption, wallTime, info, state.settings);
    if (state.target.Draw(&state.window, &state.caption) != 0) {
        reason = "the picture cannot be composed";
        return false;
    }
    const std::string temporary = path + ".part";
    if (!state.window.image.save(QString::fromStdString(temporary), "PNG")) {
        std::remove(temporary.c_str());
        reason = "cannot be written";
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        reason = "cannot be written";
        return false;
    }
    return true;
}

}  // namespace kx
