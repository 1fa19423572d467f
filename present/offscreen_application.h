// Composing captions needs a Qt application (for its fonts) even where no window is ever shown:
// the command line, tests and benchmarks make one on Qt's offscreen platform.
#pragma once

namespace kx {

// Creates the process's QGuiApplication on the offscreen platform (unless QT_QPA_PLATFORM names
// another) if there is no Qt application yet; it lives to the end of the process.
void ensureOffscreenApplication();

}  // namespace kx
