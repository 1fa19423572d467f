// Runs a program as a user's shell would and keeps its exit status and what it printed; the
// command-line tests drive kxtool (KXTOOL_PATH, set by the build) and reference tools this way.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kx::test {

struct ToolRun {
    int status = -1;  // the exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// `command` is a shell command line; its standard output and error pass through two files in
// `scratchFolder`, which must exist.
inline ToolRun runCommand(const std::string& command, const std::filesystem::path& scratchFolder) {
    const std::filesystem::path outPath = scratchFolder / "stdout.txt";
    const std::filesystem::path errPath = scratchFolder / "stderr.txt";
    const int status = std::system(
        (command + " >'" + outPath.string() + "' 2>'" + errPath.string() + "'").c_str());
    const auto readText = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
}

#ifdef KXTOOL_PATH
inline ToolRun runKxtool(const std::string& arguments, const std::filesystem::path& scratchFolder) {
    return runCommand(std::string(KXTOOL_PATH) + " " + arguments, scratchFolder);
}
#endif

}  // namespace kx::test
