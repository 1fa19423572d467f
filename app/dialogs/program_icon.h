// The program's icon, drawn in code: a camera lens over a strip of film. The About box and the
// windows use it; the desktop entry points at a PNG of it.
#pragma once

#include <QIcon>
#include <QImage>
#include <string>

namespace kx {

constexpr int kMinProgramIconSize = 16;
constexpr int kMaxProgramIconSize = 256;

// The icon at `size` x `size` pixels (kMinProgramIconSize .. kMaxProgramIconSize; a null image
// outside that), transparent around the drawing. Needs no Qt application.
QImage renderProgramIcon(int size);

// The icon at 16, 24, 32, 48, 64, 128 and 256 pixels. Needs a QGuiApplication.
QIcon programIcon();

// Writes the icon at `size` as a PNG file at `path` (UTF-8), through a temporary file beside it
// that is renamed into place when complete. False, with no file written, for a size outside the
// range or when the file cannot be written.
bool writeProgramIconPng(const std::string& path, int size);

}  // namespace kx
