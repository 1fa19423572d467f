// Writes the desktop entry and the shared-mime-info package of the recording files, and asks the
// desktop's tools to rebuild their caches from them.
#include "app/desktop_association.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace kx {
namespace fs = std::filesystem;
namespace {

// The five extensions the recorders give their files.
constexpr std::array<const char*, 5> kExtensions = {"kx", "kxx", "kxz", "kxq", "ckx"};
// Four-channel recordings begin with these four bytes whatever their name (the recording
// reader recognises them the same way).
constexpr const char* kFourChannelMagic = "4XXK";
// A cache update that has not finished by then is ended: start-up must not wait on it.
constexpr auto kUpdateTimeout = std::chrono::seconds(10);

// Characters that make an Exec argument need quotes.
constexpr std::string_view kExecReserved = " \t\n\"'\\><~|&;$*?#`()";

std::string mimePackage() {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    xml += std::string("  <mime-type type=\"") + kRecordingMimeType + "\">\n";
    xml += std::string("    <comment>") + kRecordingMimeComment + "</comment>\n";
    xml += "    <generic-icon name=\"video-x-generic\"/>\n";
    // Above the usual priority of 50, so that the contents win over a guess from the name.
    xml += "    <magic priority=\"80\">\n";
    xml += std::string("      <match type=\"string\" offset=\"0\" value=\"") + kFourChannelMagic +
           "\"/>\n";
    xml += "    </magic>\n";
    for (const char* extension : kExtensions)
        xml += std::string("    <glob pattern=\"*.") + extension + "\"/>\n";
    xml += "  </mime-type>\n</mime-info>\n";
    return xml;
}

std::string desktopEntry(const std::string& execArgument) {
    return std::string(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=KX Player\n"
               "Comment=Play KX recordings\n"
               "Exec=") +
           execArgument +
           " %f\n"
           "Terminal=false\n"
           "MimeType=" +
           kRecordingMimeType +
           ";\n"
           "Categories=AudioVideo;Video;Player;\n";
}

// Writes `content` beside `target` under a temporary name and renames it into place.
bool writeFileAtomically(const fs::path& target, const std::string& content) {
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (error) return false;
    fs::path temporary = target;
    temporary += ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << content;
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

// Runs `arguments` found on PATH, without a shell, with no input and its output discarded.
// True when it ran and exited with 0; a missing program is simply false.
bool runQuietly(const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;

    const auto deadline = std::chrono::steady_clock::now() + kUpdateTimeout;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir == '/')
        return found->pw_dir;
    return {};
}

}  // namespace

std::string defaultDataHome() {
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return data;
    const std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/.local/share";
}

std::string currentProgramPath() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string desktopExecArgument(const std::string& path) {
    for (const char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
    const bool quote = path.empty() || path.find_first_of(kExecReserved) != std::string::npos;
    // The Exec quoting rules first...
    std::string argument;
    if (quote) argument += '"';
    for (const char c : path) {
        if (c == '%')
            argument += "%%";  // a field code otherwise
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            argument += {'\\', c};
        else
            argument += c;
    }
    if (quote) argument += '"';
    // ...then the escapes of a string value, so a backslash is written twice once more.
    std::string value;
    for (const char c : argument) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

bool installDesktopAssociation(const std::string& programPath, const std::string& dataHome) {
    try {
        if (programPath.empty() || dataHome.empty()) return false;
        std::error_code error;
        const fs::path program = fs::absolute(programPath, error).lexically_normal();
        if (error) return false;
        const std::string exec = desktopExecArgument(program.string());
        if (exec.empty()) return false;
        const fs::path home = fs::absolute(dataHome, error);
        if (error) return false;
        if (!writeFileAtomically(home / kMimePackagePath, mimePackage()) ||
            !writeFileAtomically(home / kDesktopEntryPath, desktopEntry(exec)))
            return false;
        // Without these tools the files still count: the desktop reads them at its next update.
        runQuietly({"update-mime-database", (home / "mime").string()});
        runQuietly({"update-desktop-database", (home / "applications").string()});
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace kx
