// kxtool: the command line to the recording, decoding and playing core.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "codec/avc/avc_decoder.h"
#include "platform/avi_file.h"
#include "tools/kxtool/commands.h"

int main(int argc, char** argv) {
    // The avc engine's diagnostic lines go to standard error, off the commands' output.
    kx::AvcDecoder::setDefaultDiagnostics(stderr);
    CLI::App app{"kxtool: inspect, check and convert KX recordings"};
    app.require_subcommand(1);

    kx::InfoOptions info;
    CLI::App* infoCommand =
        app.add_subcommand("info", "Header, group index and duration of each recording");
    infoCommand->add_flag("--json", info.json,
                          "One JSON object per file (an array for several files)");
    infoCommand->add_option("FILE", info.files, "Recording files")->required();

    kx::FramesOptions frames;
    CLI::App* framesCommand =
        app.add_subcommand("frames", "One row per frame record, in reading order");
    framesCommand->add_flag("--json", frames.json, "A JSON array of rows");
    framesCommand
        ->add_option("--channel", frames.channel, "Channel of a four-channel recording (0 to 3)")
        ->check(CLI::Range(0, 3));
    framesCommand->add_option("FILE", frames.file, "Recording file")->required();

    kx::DecodeOptions decode;
    CLI::App* decodeCommand = app.add_subcommand(
        "decode", "Decode every picture upright (frame index in reading order, tick, bytes)");
    decodeCommand
        ->add_option("--channel", decode.channel, "Channel of a four-channel recording (0 to 3)")
        ->check(CLI::Range(0, 3));
    decodeCommand->add_option("--frames", decode.frames, "Stop after this many pictures")
        ->check(CLI::PositiveNumber);
    CLI::Option* rawOption = decodeCommand->add_option(
        "--raw", decode.raw, "Write B, G, R bytes of every picture into this file");
    CLI::Option* md5Option =
        decodeCommand->add_flag("--md5", decode.md5, "Print \"index tick md5\" per picture");
    CLI::Option* ppmOption =
        decodeCommand->add_option("--ppm", decode.ppm, "Write one PPM file per picture here");
    CLI::Option* shownOption = decodeCommand->add_option(
        "--shown", decode.shown,
        "Write one PNG file per picture here, as the player shows it: with its caption");
    decodeCommand->add_flag("--no-deblock", decode.noDeblock,
                            "Codec 4: decode without the loop filter, as the player's other paths do");
    decodeCommand->add_option("FILE", decode.file, "Recording file")->required();
    rawOption->excludes(md5Option)->excludes(ppmOption)->excludes(shownOption);
    md5Option->excludes(ppmOption)->excludes(shownOption);
    ppmOption->excludes(shownOption);
    decodeCommand->callback([&] {
        if (rawOption->count() + md5Option->count() + ppmOption->count() + shownOption->count() ==
            0)
            throw CLI::RequiredError("one of --raw, --md5, --ppm or --shown");
    });

    kx::ClipOptions clip;
    std::string clipEnd;
    CLI::App* clipCommand = app.add_subcommand(
        "clip", "Cut a clip: groups FROM to TO (whole), then P frames of group TO");
    clipCommand->add_option("FILE", clip.file, "Recording file")->required();
    clipCommand->add_option("OUT", clip.out, "Clip to write (named with the recording's extension)")
        ->required();
    CLI::Option* fromOption = clipCommand->add_option("--from", clip.fromGroup, "First group")
                                  ->check(CLI::NonNegativeNumber);
    CLI::Option* toOption =
        clipCommand->add_option("--to", clipEnd, "Last group and the frames of it to keep, G:P");
    CLI::Option* fromTime =
        clipCommand->add_option("--from-time", clip.fromTime,
                                "Start at the group of this time (YYYY-MM-DD HH:MM:SS, local)");
    CLI::Option* toTime = clipCommand->add_option(
        "--to-time", clip.toTime, "End with the last frame not later than this time");
    fromOption->excludes(fromTime);
    toOption->excludes(toTime);
    clipCommand->callback([&] {
        if (fromOption->count() + fromTime->count() == 0)
            throw CLI::RequiredError("--from or --from-time");
        if (toOption->count() + toTime->count() == 0) throw CLI::RequiredError("--to or --to-time");
        if (toOption->count()) {
            const size_t colon = clipEnd.find(':');
            try {
                clip.toGroup = std::stoi(clipEnd.substr(0, colon));
                clip.toPosition =
                    colon == std::string::npos ? 0 : std::stoi(clipEnd.substr(colon + 1));
            } catch (const std::exception&) {
                throw CLI::ValidationError("--to", "expected G or G:P, got " + clipEnd);
            }
        }
    });

    kx::PictureOptions picture;
    CLI::App* pictureCommand = app.add_subcommand(
        "picture", "Size and caption trailer (time, names, time zone) of a BMP or JPEG file");
    pictureCommand->add_flag("--json", picture.json,
                             "A JSON object; fields the trailer lacks are left out");
    pictureCommand->add_option("FILE", picture.file, "Picture file")->required();

    kx::FacesOptions faces;
    CLI::App* facesCommand =
        app.add_subcommand("faces", "Header of a face file and each face's time and size");
    facesCommand->add_flag("--json", faces.json, "A JSON object with the faces as a list");
    facesCommand->add_option("--extract", faces.extract,
                             "Write each face as a BMP file into this folder");
    facesCommand->add_option("FILE", faces.file, "Face file (.fac)")->required();

    kx::AudioOptions audio;
    CLI::App* audioCommand = app.add_subcommand(
        "audio",
        "Decode every audio block into a mono 8 kHz 16-bit WAV file, as the player plays it");
    audioCommand
        ->add_option("--channel", audio.channel, "Channel of a four-channel recording (0 to 3)")
        ->check(CLI::Range(0, 3));
    audioCommand
        ->add_option("--codec", audio.codec,
                     "g726 or ima (default: IMA for video codec 2, G.726 for others)")
        ->check(CLI::IsMember({"g726", "ima"}));
    audioCommand->add_option("FILE", audio.file, "Recording file")->required();
    audioCommand->add_option("OUT", audio.out, "WAV file to write")->required();

    kx::PlayOptions play;
    std::string playSeek;
    CLI::App* playCommand = app.add_subcommand(
        "play",
        "Play in real time without a screen: \"group position tick elapsed_ms\" per picture shown");
    playCommand->add_option("FILE", play.file, "Recording file")->required();
    playCommand
        ->add_option("--speed", play.level,
                     "Speed level: -4 to -1 slow, 0 real time, 1 and 2 fast, 3 H, 4 XH")
        ->check(CLI::Range(-4, 4));
    CLI::Option* playSeekOption =
        playCommand->add_option("--seek", playSeek, "Start at frame N of group G (G or G:N)");
    CLI::Option* playAtOption = playCommand->add_option(
        "--at", play.at, "Start at this time (YYYY-MM-DD HH:MM:SS, local, or seconds)");
    playSeekOption->excludes(playAtOption);
    playCommand->callback([&] {
        if (!playSeekOption->count()) return;
        const size_t colon = playSeek.find(':');
        try {
            play.seekGroup = std::stoi(playSeek.substr(0, colon));
            play.seekCount = colon == std::string::npos ? 0 : std::stoi(playSeek.substr(colon + 1));
        } catch (const std::exception&) {
            throw CLI::ValidationError("--seek", "expected G or G:N, got " + playSeek);
        }
        if (*play.seekGroup < 0 || play.seekCount < 0)
            throw CLI::ValidationError("--seek", "negative group or frame");
    });

    kx::VerifyOptions verify;
    CLI::App* verifyCommand =
        app.add_subcommand("verify",
                           "Check a recording frame by frame as the player's authentication does; "
                           "the verdict ends the output");
    verifyCommand->add_option("FILE", verify.file, "Recording file")->required();
    verifyCommand->add_flag("--progress", verify.progress, "Show the progress on standard error");
    verifyCommand->add_flag("--json", verify.json,
                            "Print one JSON object: verdict, frames_checked, sha256 and every finding");
    verifyCommand->add_option("--report", verify.report,
                              "Write an HTML report (header, timeline, findings, damaged pictures, SHA-256)");

    kx::MotionOptions motion;
    std::vector<std::string> motionRegions;
    CLI::App* motionCommand = app.add_subcommand(
        "motion", "Search for motion inside up to three regions: one line per stretch with motion");
    motionCommand->add_option("FILE", motion.file, "Recording file")->required();
    motionCommand
        ->add_option(
            "--region", motionRegions,
            "LEFT,TOP,RIGHT,BOTTOM in picture pixels (right and bottom exclusive); up to three")
        ->required()
        ->expected(1, 3);
    motionCommand
        ->add_option("--sensitivity", motion.sensitivity,
                     "0 (only large changes) to 10 (any change)")
        ->check(CLI::Range(0, 10));
    motionCommand
        ->add_option("--changed", motion.changedPictures,
                     "Changed pictures in a row that start motion")
        ->check(CLI::Range(1, 1000));
    motionCommand->callback([&] {
        for (const std::string& text : motionRegions) {
            kx::MotionRegionOption region;
            char tail = 0;
            if (std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &region.left, &region.top, &region.right,
                            &region.bottom, &tail) != 4 ||
                region.right - region.left < 4 || region.bottom - region.top < 4)
                throw CLI::ValidationError(
                    "--region", "expected LEFT,TOP,RIGHT,BOTTOM at least 4 x 4, got " + text);
            motion.regions.push_back(region);
        }
    });

    kx::ExportOptions exportOptions;
    CLI::App* exportCommand = app.add_subcommand(
        "export",
        "Convert a recording into an AVI file (pictures, sound as PCM, a text stream) or an MP4 "
        "evidence file (H.264 at the recording's own times, AAC, subtitles, OUT.json with hashes)");
    exportCommand->add_option("FILE", exportOptions.file, "Recording file");
    exportCommand->add_option("OUT", exportOptions.out, "File to write (named *.avi or *.mp4)");
    exportCommand->add_option("--format", exportOptions.format, "avi (default) or mp4")
        ->check(CLI::IsMember({"avi", "mp4"}));
    exportCommand
        ->add_option("--quality", exportOptions.quality,
                     "MP4: H.264 constant rate factor, 0 (best) to 51 (default: 23); AVI: the "
                     "compressor's quantiser (mjpeg, mpeg4: 1-31, default 3) or rate factor (h264: 0-51)")
        ->check(CLI::Range(0, 51));
    std::vector<std::string> compressorNames;
    for (const kx::AviCompressor& compressor : kx::aviCompressors())
        compressorNames.push_back(compressor.name);
    exportCommand
        ->add_option("--codec", exportOptions.codec,
                     "Video compressor (default: dib, uncompressed)")
        ->check(CLI::IsMember(compressorNames));
    exportCommand->add_flag("--list-codecs", exportOptions.listCodecs,
                            "List the video compressors and stop");
    exportCommand->callback([&] {
        if (!exportOptions.listCodecs && (exportOptions.file.empty() || exportOptions.out.empty()))
            throw CLI::RequiredError("FILE and OUT");
    });

    kx::ListOptions list;
    std::string listSort;
    CLI::App* listCommand = app.add_subcommand(
        "list", "The rows of the Open window's recording list for a folder, as the list shows them");
    listCommand->add_flag("--json", list.json, "A JSON array: one object per row with its record and cells");
    CLI::Option* listSortOption = listCommand->add_option(
        "--sort", listSort, "Sort as a click on heading COLUMN (0 to 7) does; COLUMN:reverse as two clicks");
    listCommand->add_option("DIR", list.folder, "Folder")->required();
    listCommand->callback([&] {
        if (!listSortOption->count()) return;
        const size_t colon = listSort.find(':');
        const std::string column = listSort.substr(0, colon);
        const std::string tail = colon == std::string::npos ? "" : listSort.substr(colon + 1);
        if (column.size() != 1 || column[0] < '0' || column[0] > '7' || (colon != std::string::npos && tail != "reverse"))
            throw CLI::ValidationError("--sort", "expected COLUMN or COLUMN:reverse with COLUMN 0 to 7, got " + listSort);
        list.sortColumn = column[0] - '0';
        list.sortReverse = colon != std::string::npos;
    });

    kx::SearchOptions search;
    CLI::App* searchCommand = app.add_subcommand(
        "search", "The recording of each channel that covers a moment, and the frame playback starts at");
    searchCommand->add_option("--path", search.path, "Folder to search")->required();
    searchCommand->add_option("--channel", search.channels, "Channel 1 to 16 (board = (N-1)/4, camera = (N-1)%4); up to four")
        ->required()
        ->check(CLI::Range(1, 16));
    CLI::Option* searchDate = searchCommand->add_option("--date", search.date, "YYYY-MM-DD: from its local midnight");
    CLI::Option* searchTime = searchCommand->add_option("--time", search.time, "\"YYYY-MM-DD HH:MM:SS\", local time");
    searchDate->excludes(searchTime);
    searchCommand->add_option("--dvr", search.dvrName, "Only recordings of this recorder (exact name)");
    searchCommand->add_flag("--subfolders", search.subfolders, "Search the folders below too");
    searchCommand->add_flag("--json", search.json, "A JSON list: one object per channel");
    searchCommand->callback([&] {
        if (!searchDate->count() && !searchTime->count()) throw CLI::RequiredError("--date or --time");
        std::vector<int> distinct = search.channels;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        if (distinct.size() > 4) throw CLI::ValidationError("--channel", "at most four channels play side by side");
    });

    kx::QuadOptions quad;
    CLI::App* quadCommand = app.add_subcommand(
        "quad", "Play up to four recordings on one clock: \"channel group position wall_time elapsed_ms\" per picture");
    quadCommand->add_option("FILE", quad.files, "Up to four recordings, or one four-channel recording")
        ->required()
        ->expected(1, 4);
    quadCommand->add_option("--speed", quad.level, "Speed level -4 to 4 (1/8x ... 4x, H, XH)")->check(CLI::Range(-4, 4));
    quadCommand->add_option("--seconds", quad.seconds, "Stop after this many seconds")->check(CLI::PositiveNumber);

    kx::PrintOptions print;
    std::string printMode = "in";
    CLI::App* printCommand = app.add_subcommand(
        "print", "Print a BMP or JPEG picture's page (path, picture, caption lines) into a PDF file");
    printCommand->add_option("PICTURE", print.file, "Picture file")->required();
    printCommand->add_option("OUT", print.out, "PDF file to write")->required();
    printCommand
        ->add_option("--mode", printMode,
                     "in: the caption lines over the picture; beside: above it (default: in)")
        ->check(CLI::IsMember({"in", "beside"}));
    printCommand
        ->add_option("--scaling", print.scaling,
                     "Printed size of one picture pixel in thousandths of an inch (default: 15)")
        ->check(CLI::Range(1, 20));
    printCommand->callback([&] { print.beside = printMode == "beside"; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }
    if (*infoCommand) return kx::runInfo(info);
    if (*framesCommand) return kx::runFrames(frames);
    if (*decodeCommand) return kx::runDecode(decode);
    if (*audioCommand) return kx::runAudio(audio);
    if (*clipCommand) return kx::runClip(clip);
    if (*pictureCommand) return kx::runPicture(picture);
    if (*facesCommand) return kx::runFaces(faces);
    if (*playCommand) return kx::runPlay(play);
    if (*verifyCommand) return kx::runVerify(verify);
    if (*motionCommand) return kx::runMotion(motion);
    if (*exportCommand) return kx::runExport(exportOptions);
    if (*listCommand) return kx::runList(list);
    if (*searchCommand) return kx::runSearch(search);
    if (*quadCommand) return kx::runQuad(quad);
    if (*printCommand) return kx::runPrint(print);
    return 2;
}
