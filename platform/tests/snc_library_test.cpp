// The SNC library loader against stand-in libraries built for the test: a library lacking one
// entry point is freed with every entry point cleared, loading again after success only counts,
// and the decoders' component is the maker's library only when one is in the folder.
#include "platform/snc_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/camera_components.h"

namespace kx {
namespace {

const std::string kFolder = KX_SNC_TEST_FOLDER;

// Whether the library at `path` is still mapped into the process.
bool isLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

bool allCleared(const SncEntryPoints& e) {
    return !e.stream.sncGetLibraryVersion && !e.stream.sncStart && !e.stream.sncWriteVideoStream &&
           !e.stream.sncFinalize && !e.stream.sncFinalizeAll && !e.core.sncOpenCameraHandle &&
           !e.core.snccSetMemory && !e.core.snccGetLibraryVersion;
}

TEST(SncLibraryLoader, ALibraryLackingAnEntryPointIsFreedAndReportsFailure) {
    for (const char* folder : {"stream_lacks_entry/", "core_lacks_entry/", "no_core/", "missing/"}) {
        const std::string dir = kFolder + folder;
        EXPECT_FALSE(loadSncLibraries(dir)) << folder;
        EXPECT_TRUE(allCleared(sncEntryPoints())) << folder;
        EXPECT_FALSE(isLoaded(dir + "libsncstrm.so")) << folder;
        EXPECT_FALSE(isLoaded(dir + "libsnccore.so")) << folder;
        // Nothing was counted: an unload now changes nothing.
        unloadSncLibraries();
    }
}

TEST(SncLibraryLoader, LoadingAgainAfterSuccessOnlyCounts) {
    const std::string dir = kFolder + "complete/";
    ASSERT_TRUE(loadSncLibraries(dir));
    ASSERT_NE(sncEntryPoints().core.sncOpenCameraHandle, nullptr);
    EXPECT_EQ(sncEntryPoints().core.sncOpenCameraHandle(), 42);
    const auto start = sncEntryPoints().stream.sncStart;
    EXPECT_NE(start, nullptr);

    // A second user (another decoder) gets the same libraries, even when it names another folder.
    EXPECT_TRUE(loadSncLibraries(kFolder + "stream_lacks_entry/"));
    EXPECT_EQ(sncEntryPoints().stream.sncStart, start);
    unloadSncLibraries();
    EXPECT_TRUE(isLoaded(dir + "libsncstrm.so"));
    EXPECT_EQ(sncEntryPoints().stream.sncStart, start);

    unloadSncLibraries();
    EXPECT_FALSE(isLoaded(dir + "libsncstrm.so"));
    EXPECT_FALSE(isLoaded(dir + "libsnccore.so"));
    EXPECT_TRUE(allCleared(sncEntryPoints()));
}

TEST(SncLibraryLoader, TheComponentIsTheMakersLibraryOnlyWhenOneIsThere) {
    auto own = createSncComponent(kFolder + "missing/");
    ASSERT_TRUE(own->load());
    EXPECT_EQ(&own->entryPoints(), &ownSncEntryPoints());
    own->unload();

    // A maker's library that lacks an entry point gives no component to decode with.
    auto broken = createSncComponent(kFolder + "stream_lacks_entry/");
    EXPECT_FALSE(broken->load());

    auto maker = createSncComponent(kFolder + "complete/");
    ASSERT_TRUE(maker->load());
    EXPECT_EQ(maker->entryPoints().core.sncOpenCameraHandle(), 42);
    maker->unload();
    EXPECT_FALSE(isLoaded(kFolder + "complete/libsncstrm.so"));
}

}  // namespace
}  // namespace kx
