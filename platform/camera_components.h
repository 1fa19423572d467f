// The camera components the decoders of codecs 7 and 8 use: the SNC stream library (the maker's,
// or the player's own over libavcodec) and the media viewer control registered by name.
#pragma once

#include <memory>

#include "platform/dispatch_control.h"
#include "platform/snc_library.h"

namespace kx {

inline constexpr char kMediaViewerProgId[] = "AxisMediaViewerLib.AxisMediaViewer";
// The event interface of the media viewer control.
inline constexpr char kMediaViewerEventsId[] = "{C98A99F6-6311-469F-861A-164916AA45BF}";

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
