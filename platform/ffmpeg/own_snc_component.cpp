// The player's own SNC stream component: the library's entry points over libavcodec. Each camera
// handle owns a stream decoder; a write decodes the pictures found in the bytes and raises the
// decoded-picture notification for each, from inside the write, as the maker's library does.
#include <algorithm>
#include <filesystem>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/camera_components.h"
#include "platform/ffmpeg/camera_stream_decoder.h"

namespace kx {
namespace {

struct OwnSncCamera {
    CameraStreamDecoder decoder{cameraPictureLimit()};
    bool initialised = false;
    bool started = false;
    bool videoStream = false;
    SncNotification notification = nullptr;
    void* context = nullptr;
};

std::mutex g_camerasMutex;
std::map<int32_t, std::shared_ptr<OwnSncCamera>> g_cameras;
int32_t g_nextHandle = 1;

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = -1;

std::shared_ptr<OwnSncCamera> cameraOf(int32_t handle) {
    std::lock_guard lock(g_camerasMutex);
    const auto found = g_cameras.find(handle);
    return found == g_cameras.end() ? nullptr : found->second;
}

int32_t openCameraHandle() {
    std::lock_guard lock(g_camerasMutex);
    const int32_t handle = g_nextHandle;
    g_nextHandle = g_nextHandle == INT32_MAX ? 1 : g_nextHandle + 1;
    g_cameras[handle] = std::make_shared<OwnSncCamera>();
    return handle;
}

int32_t closeCameraHandle(int32_t handle) {
    std::lock_guard lock(g_camerasMutex);
    return g_cameras.erase(handle) ? kOk : kFailed;
}

int32_t setMemory(int32_t handle, const uint32_t* settings, uint32_t) {
    // The header words are the recorder's memory settings; the stream itself says what it is.
    return cameraOf(handle) && settings ? kOk : kFailed;
}

int32_t initialize(int32_t handle) {
    const auto camera = cameraOf(handle);
    if (!camera) return kFailed;
    camera->initialised = true;
    return kOk;
}

int32_t finalize(int32_t handle) {
    const auto camera = cameraOf(handle);
    if (!camera) return kFailed;
    camera->started = false;
    camera->initialised = false;
    return kOk;
}

int32_t createScreen(int32_t handle, uintptr_t window, int32_t, int32_t, int32_t, int32_t) {
    const auto camera = cameraOf(handle);
    if (!camera) return kFailed;
    if (const auto* screen = reinterpret_cast<const CameraScreen*>(window))
        camera->decoder.setOutputSize(int(screen->width), int(screen->height));
    return kOk;
}

int32_t enableVideoStream(int32_t handle, int32_t on) {
    const auto camera = cameraOf(handle);
    if (!camera) return kFailed;
    camera->videoStream = on != 0;
    return kOk;
}

int32_t enableOther(int32_t handle, int32_t) { return cameraOf(handle) ? kOk : kFailed; }

int32_t setCallBack(int32_t handle, int32_t kind, SncNotification routine, void* context) {
    const auto camera = cameraOf(handle);
    if (!camera) return kFailed;
    if (kind == kSncDecodedVideoNotification) {
        camera->notification = routine;
        camera->context = context;
    }
    return kOk;
}

int32_t start(int32_t handle) {
    const auto camera = cameraOf(handle);
    if (!camera || !camera->initialised) return kFailed;
    camera->started = true;
    return kOk;
}

int32_t writeVideoStream(int32_t handle, const uint8_t* data, uint32_t length, uint32_t* consumed) {
    const auto camera = cameraOf(handle);
    if (consumed) *consumed = 0;
    if (!camera || !camera->started || !consumed || (length > 0 && !data)) return kFailed;
    // Everything fed is taken; a stream part that is switched off is dropped.
    *consumed = length;
    if (length == 0 || !camera->videoStream) return kOk;
    const bool decoded = camera->decoder.decode({data, length}, CameraStreamKind::Unknown, [&] {
        if (camera->notification) camera->notification(camera->context);
    });
    return decoded ? kOk : kFailed;
}

int32_t getCurrentDecVideo(int32_t handle, SncPictureRequest* request, uint32_t* length) {
    const auto camera = cameraOf(handle);
    if (length) *length = 0;
    if (!camera || !request || !length || !request->buffer) return kFailed;
    const auto& picture = camera->decoder.bgr();
    if (picture.empty() || picture.size() > request->bufferBytes) return kFailed;
    std::memcpy(request->buffer, picture.data(), picture.size());
    *length = uint32_t(picture.size());
    return kOk;
}

SncEntryPoints makeOwnEntryPoints() {
    SncEntryPoints e;
    // The entry points the player never calls are present but do nothing.
    const SncProc nothing = [] {};
    auto& s = e.stream;
    for (SncProc* p : {&s.sncGetLibraryVersion, &s.sncOpenHandle, &s.sncCloseHandle, &s.sncCloseAllHandle,
                       &s.sncGetCurrentFrameNum, &s.sncResetAudioMemory, &s.sncSetFrameRate, &s.sncStepFrame,
                       &s.sncSetPause, &s.sncSetRawDataType, &s.sncSetVideoDecodeOpt,
                       &s.sncSetMessageDecodeFinish, &s.sncSetMessageSplitFinish, &s.sncSetMessageEnd,
                       &s.sncEnableVideoDecode, &s.sncEnableAudioDecode, &s.sncStop, &s.sncGetVideoCodecInfo,
                       &s.sncGetAudioCodecInfo, &s.sncGetCurrentRawVideo, &s.sncGetCurrentDecAudio,
                       &s.sncGetCurrentRawAudio, &s.sncSetAudioVolume, &s.sncGetAudioVolume, &s.sncSetAudioMute,
                       &s.sncGetAudioMute, &s.sncSetScreenPos, &s.sncSetNetwork, &s.sncGetNetworkSetting,
                       &s.sncSetVideoCodec, &s.sncSetJPEGInterval, &s.sncGetCameraInfo, &s.sncSendCGICommand,
                       &s.sncSetMemory, &s.sncGetMemorySetting, &s.sncWriteAudioStream, &s.sncFinalizeAll})
        *p = nothing;
    s.sncSetCallBack = setCallBack;
    s.sncEnableVideoStream = enableVideoStream;
    s.sncEnableAudioStream = enableOther;
    s.sncEnableVideoPlay = enableOther;
    s.sncEnableAudioPlay = enableOther;
    s.sncStart = start;
    s.sncGetCurrentDecVideo = getCurrentDecVideo;
    s.sncCreateScreen = createScreen;
    s.sncWriteVideoStream = writeVideoStream;
    s.sncInitialize = initialize;
    s.sncFinalize = finalize;
    auto& c = e.core;
    c.sncOpenCameraHandle = openCameraHandle;
    c.sncCloseCameraHandle = closeCameraHandle;
    c.sncCloseAllCameraHandle = nothing;
    c.snccSetNetwork = nothing;
    c.snccGetNetworkSetting = nothing;
    c.snccSetMemory = setMemory;
    c.snccGetMemorySetting = nothing;
    c.snccGetLibraryVersion = nothing;
    return e;
}

class OwnSncComponent final : public SncComponent {
public:
    bool load() override { return true; }
    const SncEntryPoints& entryPoints() const override { return ownSncEntryPoints(); }
    void unload() override {}
};

// The maker's libraries through the process-wide loader.
class LibrarySncComponent final : public SncComponent {
public:
    explicit LibrarySncComponent(std::string folder) : m_folder(std::move(folder)) {}
    bool load() override { return loadSncLibraries(m_folder); }
    const SncEntryPoints& entryPoints() const override { return sncEntryPoints(); }
    void unload() override { unloadSncLibraries(); }

private:
    std::string m_folder;
};

}  // namespace

const SncEntryPoints& ownSncEntryPoints() {
    static const SncEntryPoints entryPoints = makeOwnEntryPoints();
    return entryPoints;
}

std::unique_ptr<SncComponent> createSncComponent(const std::string& folder) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(folder) / "libsncstrm.so", error))
        return std::make_unique<LibrarySncComponent>(folder);
    return std::make_unique<OwnSncComponent>();
}

}  // namespace kx
