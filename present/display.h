// The process-wide display state shared by every render target: the status pictures (VIDEO
// LOST, IDLE) and icons (loudspeaker, pointing hand) addressed by the caption flag that shows
// them, and the lock under which finished pictures are handed to windows. The main frame
// creates it when it opens and destroys it when it closes.
#pragma once

#include <QImage>
#include <cstdint>

#include "present/caption_info.h"

namespace kx {

// Result codes of the render targets and the caption overlay besides 0 and 1.
constexpr int32_t kRenderNullArgument = int32_t(0x80000002);
constexpr int32_t kRenderUnsupported = int32_t(0x80000003);
constexpr int32_t kRenderNoDevice = int32_t(0x80000006);

// Status pictures are 320 x 240 and icons 16 x 16; each key equals the caption flag.
constexpr uint32_t kStatusVideoLost = kCaptionNoVideo;
constexpr uint32_t kStatusIdle = kCaptionIdle;
constexpr uint32_t kStatusLoudspeaker = kCaptionAudio;
constexpr uint32_t kStatusHand = kCaptionHandIcon;

// Creates the shared state (status pictures and icons black). Returns 0 when pictures are
// composed with zoom and the full caption, 1 when render targets must fall back to drawing
// the picture straight into the window (no composition memory). Safe to call again.
int32_t CreateDisplay();
void DestroyDisplay();
bool DisplayExists();

// The lock under which a finished picture is handed to a window; no time limit. It exists
// whether or not the display does, so the two calls always pair.
void LockDisplay();
void UnlockDisplay();

// Stores `bitmap` under `key`, stretched to the key's size; a null image stores black.
// Returns 1 for an unknown key or when the display does not exist, 0 otherwise.
int32_t SetStatusBitmap(const QImage& bitmap, uint32_t key);

// The stored picture or icon of `key` (format RGB32), or a null image when the display does
// not exist or the key is unknown. Used while the display lock or the caller's own copy keeps
// it stable: SetStatusBitmap is called on the user interface thread only.
QImage StatusBitmap(uint32_t key);

// Our own drawings of the four status pictures and icons, which quad play stores when it opens.
QImage DrawnStatusBitmap(uint32_t key);

// A copy of `image` in which black pixels are transparent: status icons and caption texts are
// copied onto pictures with black as the transparent colour.
QImage keyedOnBlack(const QImage& image);

}  // namespace kx
