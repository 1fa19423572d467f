// The SNC camera stream library: its entry points as C function types, the two tables the
// loader fills from libsncstrm.so and libsnccore.so, and the loader itself.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// Called by the library, on the thread that is feeding it, when a decoded picture is ready;
// `context` is the value given to sncSetCallBack.
using SncNotification = void (*)(void* context);

// What sncGetCurrentDecVideo fills: the caller's buffer and its size, then reserved zeros.
struct SncPictureRequest {
    uint8_t* buffer = nullptr;
    uint32_t bufferBytes = 0;
    uint8_t reserved[96] = {};
};

// The notification kind of a decoded video picture.
inline constexpr int32_t kSncDecodedVideoNotification = 3;

// What the window argument of sncCreateScreen (and the hosting window of the media viewer)
// points to on this platform, where a component has no window to draw in: the size in which
// the caller wants the decoded pictures, packed B, G, R, top row first (0 x 0: the stream's).
struct CameraScreen {
    uint32_t width = 0;
    uint32_t height = 0;
};

// A generic entry point: resolved and checked for presence, not called by the player.
using SncProc = void (*)();

// Every entry point of libsncstrm.so in the order the loader resolves them. The ones the
// decoder calls are typed; handles are 32-bit, a nonzero result is failure.
struct SncStreamEntryPoints {
    SncProc sncGetLibraryVersion = nullptr;
    SncProc sncOpenHandle = nullptr;
    SncProc sncCloseHandle = nullptr;
    SncProc sncCloseAllHandle = nullptr;
    SncProc sncGetCurrentFrameNum = nullptr;
    SncProc sncResetAudioMemory = nullptr;
    SncProc sncSetFrameRate = nullptr;
    SncProc sncStepFrame = nullptr;
    SncProc sncSetPause = nullptr;
    int32_t (*sncSetCallBack)(int32_t handle, int32_t kind, SncNotification routine, void* context) = nullptr;
    SncProc sncSetRawDataType = nullptr;
    SncProc sncSetVideoDecodeOpt = nullptr;
    SncProc sncSetMessageDecodeFinish = nullptr;
    SncProc sncSetMessageSplitFinish = nullptr;
    SncProc sncSetMessageEnd = nullptr;
    int32_t (*sncEnableVideoStream)(int32_t handle, int32_t on) = nullptr;
    int32_t (*sncEnableAudioStream)(int32_t handle, int32_t on) = nullptr;
    SncProc sncEnableVideoDecode = nullptr;
    SncProc sncEnableAudioDecode = nullptr;
    int32_t (*sncEnableVideoPlay)(int32_t handle, int32_t on) = nullptr;
    int32_t (*sncEnableAudioPlay)(int32_t handle, int32_t on) = nullptr;
    int32_t (*sncStart)(int32_t handle) = nullptr;
    SncProc sncStop = nullptr;
    SncProc sncGetVideoCodecInfo = nullptr;
    SncProc sncGetAudioCodecInfo = nullptr;
    int32_t (*sncGetCurrentDecVideo)(int32_t handle, SncPictureRequest* request, uint32_t* length) = nullptr;
    SncProc sncGetCurrentRawVideo = nullptr;
    SncProc sncGetCurrentDecAudio = nullptr;
    SncProc sncGetCurrentRawAudio = nullptr;
    SncProc sncSetAudioVolume = nullptr;
    SncProc sncGetAudioVolume = nullptr;
    SncProc sncSetAudioMute = nullptr;
    SncProc sncGetAudioMute = nullptr;
    int32_t (*sncCreateScreen)(int32_t handle, uintptr_t window, int32_t x, int32_t y, int32_t width,
                               int32_t height) = nullptr;
    SncProc sncSetScreenPos = nullptr;
    SncProc sncSetNetwork = nullptr;
    SncProc sncGetNetworkSetting = nullptr;
    SncProc sncSetVideoCodec = nullptr;
    SncProc sncSetJPEGInterval = nullptr;
    SncProc sncGetCameraInfo = nullptr;
    SncProc sncSendCGICommand = nullptr;
    SncProc sncSetMemory = nullptr;
    SncProc sncGetMemorySetting = nullptr;
    int32_t (*sncWriteVideoStream)(int32_t handle, const uint8_t* data, uint32_t length, uint32_t* consumed) = nullptr;
    SncProc sncWriteAudioStream = nullptr;
    int32_t (*sncInitialize)(int32_t handle) = nullptr;
    int32_t (*sncFinalize)(int32_t handle) = nullptr;
    SncProc sncFinalizeAll = nullptr;
};

// Every entry point of libsnccore.so in the order the loader resolves them.
struct SncCoreEntryPoints {
    int32_t (*sncOpenCameraHandle)() = nullptr;
    int32_t (*sncCloseCameraHandle)(int32_t handle) = nullptr;
    SncProc sncCloseAllCameraHandle = nullptr;
    SncProc snccSetNetwork = nullptr;
    SncProc snccGetNetworkSetting = nullptr;
    // `settings` points to {first header word, 0}; `second` is the second header word.
    int32_t (*snccSetMemory)(int32_t handle, const uint32_t* settings, uint32_t second) = nullptr;
    SncProc snccGetMemorySetting = nullptr;
    SncProc snccGetLibraryVersion = nullptr;
};

struct SncEntryPoints {
    SncStreamEntryPoints stream;
    SncCoreEntryPoints core;
};

// The exceptions of a missing entry point; thrown and caught inside the loader only.
namespace SNC {
struct BadProcAddress {
    std::string name;
};
namespace CORE {
struct BadProcAddress {
    std::string name;
};
}  // namespace CORE
}  // namespace SNC

// The folder of the running program (with a trailing slash), where the libraries are looked for.
std::string programFolder();

// Loads libsncstrm.so and libsnccore.so from `folder` and resolves every entry point. A missing
// library or entry point unloads both, clears every entry point and returns false. The loaded
// libraries are counted: loading while they are loaded only counts and returns true, and each
// successful load is matched by one unloadSncLibraries; the last one frees them. Thread-safe.
bool loadSncLibraries(const std::string& folder);
void unloadSncLibraries();
// The resolved entry points; all null while nothing is loaded.
const SncEntryPoints& sncEntryPoints();

// Where SncDecoder gets its entry points: the maker's libraries or the player's own component.
// Used by one decoder on its own thread.
class SncComponent {
public:
    virtual ~SncComponent() = default;
    // True when both libraries are available with every entry point; false leaves nothing loaded.
    virtual bool load() = 0;
    // Valid after a successful load, until unload.
    virtual const SncEntryPoints& entryPoints() const = 0;
    // Matches one successful load.
    virtual void unload() = 0;
};

}  // namespace kx
