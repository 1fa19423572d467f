// The desktop association of the recording files: a desktop entry for the player and a
// shared-mime-info type for the five extensions and the four-channel magic, written under the
// user's data folder at every start so that file managers open recordings with this program.
#pragma once

#include <string>

namespace kx {

// The one file type of every recording, and its description.
inline constexpr const char* kRecordingMimeType = "application/x-kx-recording";
inline constexpr const char* kRecordingMimeComment = "KX recording";
// The desktop entry and the shared-mime-info package, relative to the data folder.
inline constexpr const char* kDesktopEntryPath = "applications/kxplayer.desktop";
inline constexpr const char* kMimePackagePath = "mime/packages/kxplayer.xml";

// $XDG_DATA_HOME when it names an absolute folder, otherwise ~/.local/share; empty when no home
// folder can be found.
std::string defaultDataHome();

// The absolute path of the running program, empty when the system does not tell it.
std::string currentProgramPath();

// `path` as one argument of a desktop entry's Exec line: in double quotes, with a backslash
// before each double quote, grave accent, dollar sign and backslash, when it holds a character
// the Exec syntax reserves; '%' doubled; then escaped as a desktop entry string value. Empty
// when the path holds a control character, which an Exec line cannot carry.
std::string desktopExecArgument(const std::string& path);

// Writes kDesktopEntryPath and kMimePackagePath under `dataHome` (each to a temporary name
// renamed into place, so both are whole and each extension appears once however often this
// runs), then runs update-mime-database and update-desktop-database on them when those
// programs exist, without a shell and with their output discarded. True when both files were
// written; the database updates are best effort. Never throws: start-up ignores a failure.
// `programPath` is made absolute; the call blocks until the updates end (at most a few seconds).
bool installDesktopAssociation(const std::string& programPath, const std::string& dataHome);

}  // namespace kx
