// The camera components the decoders of codecs 7 and 8 use: the SNC stream library (the maker's,
// or the player's own over libavcodec) and the media viewer control registered by name.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/dispatch_control.h"
#include "platform/snc_library.h"

namespace kx {

inline constexpr char kMediaViewerProgId[] = "AxisMediaViewerLib.AxisMediaViewer";
// The event interface of the media viewer control.
inline constexpr char kMediaViewerEventsId[] = "{C98A99F6-6311-469F-861A-164916AA45BF}";

// The media viewer control's dispatch members, by identifier: what the decoder calls and what the
// player's own control answers.
namespace media_viewer {
enum Member : int32_t {
    kMediaType = 3,
    kBeginSample = 4,
    kStop = 5,
    kRenderOther = 7,
    kRenderVideo = 9,
    kQuery = 10,
    kStart = 13,
    kLiveOption = 14,
    kBuffering = 15,
    kState = 18,
};
// The bit of the State member that says the control is running.
inline constexpr int32_t kRunningBit = 2;
// Image formats of the decoded-image event: 3 and 4 bytes per pixel.
inline constexpr int32_t kFormatBgr24 = 1;
inline constexpr int32_t kFormatBgra32 = 4;
}  // namespace media_viewer

// The maker's libraries when libsncstrm.so is in `folder` (a missing entry point then means no
// picture), the player's own component otherwise.
std::unique_ptr<SncComponent> createSncComponent(const std::string& folder = programFolder());

// The player's own SNC component: both tables filled with its own entry points.
const SncEntryPoints& ownSncEntryPoints();

// Largest picture the player's own components decode, in pixels of each side: 4096 unless set
// lower (the fuzz targets do) before the components are created.
void setCameraPictureLimit(int side);
int cameraPictureLimit();

}  // namespace kx
