// The subcommands of kxtool. Each returns the process exit status: 0 success, 1 a file that
// could not be read (reported as "kxtool: FILE: reason" on standard error).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct InfoOptions {
    bool json = false;
    std::vector<std::string> files;
};
int runInfo(const InfoOptions& options);

struct FramesOptions {
    bool json = false;
    std::optional<int> channel;
    std::string file;
};
int runFrames(const FramesOptions& options);

struct DecodeOptions {
    std::optional<int> channel;
    std::optional<int> frames;  // at most this many pictures
    std::string file;
    std::string raw;    // B, G, R bytes of every picture, one after the other
    bool md5 = false;   // "index tick md5" per picture on standard output
    std::string ppm;    // a folder for one PPM file per picture
    std::string shown;  // a folder for one PNG file per picture, with the caption over it
    bool noDeblock = false;  // codec 4: without the loop filter
};
int runDecode(const DecodeOptions& options);

struct ClipOptions {
    std::string file;
    std::string out;
    int32_t fromGroup = 0;
    int32_t toGroup = 0;
    int32_t toPosition = 0;
    std::string fromTime;  // wall times instead of groups
    std::string toTime;
};
int runClip(const ClipOptions& options);

struct PictureOptions {
    bool json = false;
    std::string file;  // a BMP or JPEG file, recognised by its first bytes
};
int runPicture(const PictureOptions& options);

struct FacesOptions {
    bool json = false;
    std::string extract;  // a folder for one BMP file per face
    std::string file;
};
int runFaces(const FacesOptions& options);

struct AudioOptions {
    std::optional<int> channel;
    std::string codec;  // "g726" or "ima"; empty: as the player chooses by the video codec
    std::string file;
    std::string out;  // WAV file
};
int runAudio(const AudioOptions& options);

struct PlayOptions {
    std::string file;
    int32_t level = 0;  // speed level -4 to 4: 1/8x ... 4x, then H and XH
    std::optional<int32_t> seekGroup;
    int32_t seekCount = 0;  // frames of the group decoded before the first one shown
    std::string at;         // a wall time to start at
};
int runPlay(const PlayOptions& options);

struct MotionRegionOption {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};
struct MotionOptions {
    std::string file;
    std::vector<MotionRegionOption> regions;  // 1 to 3, picture pixels, right and bottom exclusive
    int32_t sensitivity = 5;                  // 0 (only large changes) to 10 (any change)
    int32_t changedPictures = 3;              // changed pictures in a row that start motion
};
int runMotion(const MotionOptions& options);

struct VerifyOptions {
    std::string file;
    bool progress = false;  // progress on standard error
    bool json = false;      // one JSON object: verdict, frames_checked, sha256, findings
    std::string report;     // the HTML report is written here
};
int runVerify(const VerifyOptions& options);

struct ExportOptions {
    std::string file;
    std::string out;            // the AVI or MP4 file
    std::string format = "avi";  // "avi" or "mp4"
    std::string codec = "dib";  // AVI: a name of aviCompressors()
    // MP4: the H.264 constant rate factor, 0 (best) to 51 (23 when not given); AVI: the
    // compressor's quality setting, clamped to its range (its standard one when not given).
    std::optional<int> quality;
    bool listCodecs = false;
};
int runExport(const ExportOptions& options);

struct PrintOptions {
    std::string file;  // a BMP or JPEG picture
    std::string out;   // the PDF file
    bool beside = false;  // the caption lines above the picture instead of over it
    int scaling = 15;     // thousandths of an inch per picture pixel, 1 to 20
};
int runPrint(const PrintOptions& options);

struct ListOptions {
    bool json = false;
    std::optional<int> sortColumn;  // 0 to 7: as one click on that heading
    bool sortReverse = false;       // as a second click
    std::string folder;
};
int runList(const ListOptions& options);

struct SearchOptions {
    bool json = false;
    std::string path;
    std::vector<int> channels;  // 1 to 16, as the Search dialog's boxes
    std::string date;           // YYYY-MM-DD: from its local midnight
    std::string time;           // YYYY-MM-DD HH:MM:SS, local time
    std::string dvrName;        // empty: any recorder
    bool subfolders = false;
};
int runSearch(const SearchOptions& options);
// The search moment of --date or --time in the computer's zone; none for malformed text.
std::optional<uint32_t> parseSearchMoment(const std::string& date, const std::string& time);

struct QuadOptions {
    std::vector<std::string> files;  // up to four, or one four-channel recording
    int32_t level = 0;               // speed level -4 to 4
    std::optional<double> seconds;   // stop after this long; otherwise when every channel ended
};
int runQuad(const QuadOptions& options);

// Prints "kxtool: FILE: reason" on standard error.
void reportError(const std::string& file, const std::string& reason);

}  // namespace kx
