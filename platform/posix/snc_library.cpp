// The SNC stream library loader: dlopen of libsncstrm.so and libsnccore.so from a folder and
// dlsym of every entry point by name, counted so that several decoders share one load.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>

#include "platform/snc_library.h"

namespace kx {
namespace {

std::mutex g_mutex;
void* g_stream = nullptr;
void* g_core = nullptr;
int g_users = 0;
SncEntryPoints g_entryPoints;

template <typename Proc, typename Missing>
void resolve(void* library, const char* name, Proc& proc) {
    void* address = dlsym(library, name);
    if (!address) throw Missing{name};
    proc = reinterpret_cast<Proc>(address);
}

#define KX_RESOLVE(library, table, name, Missing) resolve<decltype(table.name), Missing>(library, #name, table.name)

void resolveStream(void* library, SncStreamEntryPoints& s) {
    using M = SNC::BadProcAddress;
    KX_RESOLVE(library, s, sncGetLibraryVersion, M);
    KX_RESOLVE(library, s, sncOpenHandle, M);
    KX_RESOLVE(library, s, sncCloseHandle, M);
    KX_RESOLVE(library, s, sncCloseAllHandle, M);
    KX_RESOLVE(library, s, sncGetCurrentFrameNum, M);
    KX_RESOLVE(library, s, sncResetAudioMemory, M);
    KX_RESOLVE(library, s, sncSetFrameRate, M);
    KX_RESOLVE(library, s, sncStepFrame, M);
    KX_RESOLVE(library, s, sncSetPause, M);
    KX_RESOLVE(library, s, sncSetCallBack, M);
    KX_RESOLVE(library, s, sncSetRawDataType, M);
    KX_RESOLVE(library, s, sncSetVideoDecodeOpt, M);
    KX_RESOLVE(library, s, sncSetMessageDecodeFinish, M);
    KX_RESOLVE(library, s, sncSetMessageSplitFinish, M);
    KX_RESOLVE(library, s, sncSetMessageEnd, M);
    KX_RESOLVE(library, s, sncEnableVideoStream, M);
    KX_RESOLVE(library, s, sncEnableAudioStream, M);
    KX_RESOLVE(library, s, sncEnableVideoDecode, M);
    KX_RESOLVE(library, s, sncEnableAudioDecode, M);
    KX_RESOLVE(library, s, sncEnableVideoPlay, M);
    KX_RESOLVE(library, s, sncEnableAudioPlay, M);
    KX_RESOLVE(library, s, sncStart, M);
    KX_RESOLVE(library, s, sncStop, M);
    KX_RESOLVE(library, s, sncGetVideoCodecInfo, M);
    KX_RESOLVE(library, s, sncGetAudioCodecInfo, M);
    KX_RESOLVE(library, s, sncGetCurrentDecVideo, M);
    KX_RESOLVE(library, s, sncGetCurrentRawVideo, M);
    KX_RESOLVE(library, s, sncGetCurrentDecAudio, M);
    KX_RESOLVE(library, s, sncGetCurrentRawAudio, M);
    KX_RESOLVE(library, s, sncSetAudioVolume, M);
    KX_RESOLVE(library, s, sncGetAudioVolume, M);
    KX_RESOLVE(library, s, sncSetAudioMute, M);
    KX_RESOLVE(library, s, sncGetAudioMute, M);
    KX_RESOLVE(library, s, sncCreateScreen, M);
    KX_RESOLVE(library, s, sncSetScreenPos, M);
    KX_RESOLVE(library, s, sncSetNetwork, M);
    KX_RESOLVE(library, s, sncGetNetworkSetting, M);
    KX_RESOLVE(library, s, sncSetVideoCodec, M);
    KX_RESOLVE(library, s, sncSetJPEGInterval, M);
    KX_RESOLVE(library, s, sncGetCameraInfo, M);
    KX_RESOLVE(library, s, sncSendCGICommand, M);
    KX_RESOLVE(library, s, sncSetMemory, M);
    KX_RESOLVE(library, s, sncGetMemorySetting, M);
    KX_RESOLVE(library, s, sncWriteVideoStream, M);
    KX_RESOLVE(library, s, sncWriteAudioStream, M);
    KX_RESOLVE(library, s, sncInitialize, M);
    KX_RESOLVE(library, s, sncFinalize, M);
    KX_RESOLVE(library, s, sncFinalizeAll, M);
}

void resolveCore(void* library, SncCoreEntryPoints& c) {
    using M = SNC::CORE::BadProcAddress;
    KX_RESOLVE(library, c, sncOpenCameraHandle, M);
    KX_RESOLVE(library, c, sncCloseCameraHandle, M);
    KX_RESOLVE(library, c, sncCloseAllCameraHandle, M);
    KX_RESOLVE(library, c, snccSetNetwork, M);
    KX_RESOLVE(library, c, snccGetNetworkSetting, M);
    KX_RESOLVE(library, c, snccSetMemory, M);
    KX_RESOLVE(library, c, snccGetMemorySetting, M);
    KX_RESOLVE(library, c, snccGetLibraryVersion, M);
}

#undef KX_RESOLVE

void freeAll() {
    if (g_stream) dlclose(g_stream);
    if (g_core) dlclose(g_core);
    g_stream = nullptr;
    g_core = nullptr;
    g_entryPoints = {};
}

// Each library on its own: a missing entry point is that library's exception, caught here; the
// library is freed and its entry points cleared.
bool loadCore(const std::string& folder) {
    if (g_core) return true;
    g_core = dlopen((folder + "libsnccore.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!g_core) return false;
    try {
        resolveCore(g_core, g_entryPoints.core);
    } catch (const SNC::CORE::BadProcAddress&) {
        dlclose(g_core);
        g_core = nullptr;
        g_entryPoints.core = {};
        return false;
    }
    return true;
}

bool loadStream(const std::string& folder) {
    if (g_stream) return true;
    g_stream = dlopen((folder + "libsncstrm.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!g_stream) return false;
    try {
        resolveStream(g_stream, g_entryPoints.stream);
    } catch (const SNC::BadProcAddress&) {
        dlclose(g_stream);
        g_stream = nullptr;
        g_entryPoints.stream = {};
        return false;
    }
    return true;
}

}  // namespace

std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "./";
    const std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/') + 1);
}

bool loadSncLibraries(const std::string& folder) {
    std::lock_guard lock(g_mutex);
    if (g_users > 0) {
        ++g_users;
        return true;
    }
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    // Both or neither: the decoder never calls into a library that did not load.
    if (!loadCore(prefix) || !loadStream(prefix)) {
        freeAll();
        return false;
    }
    g_users = 1;
    return true;
}

void unloadSncLibraries() {
    std::lock_guard lock(g_mutex);
    if (g_users == 0) return;
    if (--g_users == 0) freeAll();
}

const SncEntryPoints& sncEntryPoints() { return g_entryPoints; }

}  // namespace kx
