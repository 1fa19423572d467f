// The desktop association: the Exec argument's quoting, the desktop entry and mime package as
// written (once each however often), failures that return false, and the real desktop tools
// recognising recordings by name and four-channel recordings by their first bytes.
#include "app/desktop_association.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kx {
namespace {

namespace fs = std::filesystem;

class TempDataHome {
public:
    TempDataHome() {
        char name[] = "/tmp/kx-desktop-XXXXXX";
        if (mkdtemp(name)) m_path = name;
    }
    ~TempDataHome() {
        std::error_code ignored;
        if (!m_path.empty()) fs::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Runs a shell command line and returns its standard output without the final newline.
std::string output(const std::string& command) {
    std::string result;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) result += buffer;
        pclose(pipe);
    }
    while (!result.empty() && result.back() == '\n') result.pop_back();
    return result;
}

bool haveProgram(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(DesktopAssociation, ExecArgumentsAreQuotedAsDesktopEntriesRequire) {
    const struct {
        std::string path;
        std::string expected;
    } cases[] = {
        {"/usr/bin/kxplayer", "/usr/bin/kxplayer"},
        {"/opt/KX Player/kxplayer", "\"/opt/KX Player/kxplayer\""},
        // Inside quotes ", `, $ and \ take a backslash; then every backslash is doubled as
        // in any string value, so one backslash in the path becomes four.
        {"/opt/a\"b$c`d", "\"/opt/a\\\\\"b\\\\$c\\\\`d\""},
        {"/a b\\c", "\"/a b\\\\\\\\c\""},
        {"/opt/100%/kx", "/opt/100%%/kx"},
        {"/opt/it's", "\"/opt/it's\""},
        {"/bad\npath", ""},
        {"/bad\tpath", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(desktopExecArgument(c.path), c.expected) << c.path;
}

TEST(DesktopAssociation, WritesTheEntryAndTheTypeOnceHoweverOftenItRuns) {
    TempDataHome data;
    ASSERT_FALSE(data.path().empty());
    const std::string program = "/opt/KX Player/bin/kx player";
    ASSERT_TRUE(installDesktopAssociation(program, data.path()));
    const fs::path entryPath = fs::path(data.path()) / kDesktopEntryPath;
    const fs::path packagePath = fs::path(data.path()) / kMimePackagePath;
    const std::string entry = readFile(entryPath);
    const std::string package = readFile(packagePath);

    for (const char* line :
         {"[Desktop Entry]\n", "\nType=Application\n", "\nName=KX Player\n",
          "\nExec=\"/opt/KX Player/bin/kx player\" %f\n",
          "\nMimeType=application/x-kx-recording;\n", "\nCategories=AudioVideo;Video;Player;\n"})
        EXPECT_EQ(occurrences(entry, line), 1) << line << "in\n" << entry;
    EXPECT_EQ(entry.rfind("[Desktop Entry]", 0), 0u) << "the group comes first";
    EXPECT_EQ(occurrences(package, "<mime-type type=\"application/x-kx-recording\">"), 1);
    EXPECT_EQ(occurrences(package, "<comment>KX recording</comment>"), 1);
    EXPECT_EQ(occurrences(package, "<match type=\"string\" offset=\"0\" value=\"4XXK\"/>"), 1);
    for (const char* glob : {"*.kx\"", "*.kxx\"", "*.kxz\"", "*.kxq\"", "*.ckx\""})
        EXPECT_EQ(occurrences(package, std::string("<glob pattern=\"") + glob), 1) << glob;

    // Again, over a package someone doubled: the same two files, nothing left beside them.
    std::ofstream(packagePath, std::ios::app) << package;
    ASSERT_TRUE(installDesktopAssociation(program, data.path()));
    EXPECT_EQ(readFile(entryPath), entry);
    EXPECT_EQ(readFile(packagePath), package);
    for (const fs::path& folder : {entryPath.parent_path(), packagePath.parent_path()})
        for (const auto& file : fs::directory_iterator(folder))
            EXPECT_EQ(file.path().string().find(".tmp"), std::string::npos) << file.path();

    // The compiled database and the desktop cache were rebuilt from them, each extension once.
    const std::string globs = readFile(fs::path(data.path()) / "mime/globs2");
    for (const char* glob : {":*.kx\n", ":*.kxx\n", ":*.kxz\n", ":*.kxq\n", ":*.ckx\n"})
        EXPECT_EQ(occurrences(globs, glob), 1) << glob << "in\n" << globs;
    const std::string cache = readFile(fs::path(data.path()) / "applications/mimeinfo.cache");
    EXPECT_EQ(occurrences(cache, "application/x-kx-recording=kxplayer.desktop;"), 1) << cache;

    // desktop-file-validate accepts the entry.
    ASSERT_TRUE(haveProgram("desktop-file-validate")) << "install desktop-file-utils";
    EXPECT_EQ(output("desktop-file-validate '" + entryPath.string() + "' 2>&1; echo $?"), "0");
}

TEST(DesktopAssociation, ARelativeProgramPathIsMadeAbsolute) {
    TempDataHome data;
    ASSERT_TRUE(installDesktopAssociation("bin/kxplayer", data.path()));
    const std::string absolute = (fs::current_path() / "bin/kxplayer").lexically_normal().string();
    const std::string entry = readFile(fs::path(data.path()) / kDesktopEntryPath);
    EXPECT_EQ(occurrences(entry, "\nExec=" + desktopExecArgument(absolute) + " %f\n"), 1) << entry;
}

TEST(DesktopAssociation, FailuresReturnFalseWithoutThrowing) {
    TempDataHome data;
    const std::string blocker = data.path() + "/a-file";
    std::ofstream(blocker) << "not a folder";
    const struct {
        const char* what;
        std::string program;
        std::string dataHome;
    } cases[] = {
        {"data folder below a file", "/usr/bin/kxplayer", blocker + "/share"},
        {"no data folder", "/usr/bin/kxplayer", ""},
        {"no program", "", data.path()},
        {"program path with a newline", "/usr/bin/kx\nplayer", data.path()},
    };
    for (const auto& c : cases) {
        bool installed = true;
        EXPECT_NO_THROW(installed = installDesktopAssociation(c.program, c.dataHome)) << c.what;
        EXPECT_FALSE(installed) << c.what;
    }
    // Where the entry should go, a folder stands: the type is written, the entry is not.
    TempDataHome other;
    fs::create_directories(fs::path(other.path()) / kDesktopEntryPath / "in-the-way");
    EXPECT_FALSE(installDesktopAssociation("/usr/bin/kxplayer", other.path()));
}

TEST(DesktopAssociation, DataHomeFollowsXdgDataHomeWhenItIsAbsolute) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string restore = saved ? saved : "";
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(defaultDataHome(), "/srv/data");
    setenv("XDG_DATA_HOME", "relative/data", 1);  // invalid: ignored
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(defaultDataHome(), home + "/.local/share");
        unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(defaultDataHome(), home + "/.local/share");
    }
    if (saved) setenv("XDG_DATA_HOME", restore.c_str(), 1);
    EXPECT_EQ(fs::path(currentProgramPath()).filename(), "desktop_association_tests");
}

// The shared-mime-info tools of the system, as a file manager asks them: xdg-mime in the
// generic desktop, which reads our data folder and the system's.
TEST(DesktopAssociation, TheDesktopRecognisesRecordingsByNameAndFourChannelOnesByContents) {
    ASSERT_TRUE(haveProgram("xdg-mime")) << "install xdg-utils";
    ASSERT_TRUE(haveProgram("mimetype")) << "install libfile-mimeinfo-perl (xdg-mime uses it)";
    ASSERT_TRUE(haveProgram("update-mime-database")) << "install shared-mime-info";
    TempDataHome data;
    ASSERT_TRUE(installDesktopAssociation("/usr/bin/kxplayer", data.path()));
    const fs::path files = fs::path(data.path()) / "files";
    fs::create_directories(files);
    std::ofstream(files / "some.kxz") << "clip";
    std::ofstream(files / "OLD.KX") << "KX";
    std::ofstream(files / "x.dat", std::ios::binary)
        << std::string("4XXK\x01\x00\x00\x00", 8) << std::string(200, '\x55');
    std::ofstream(files / "y.dat", std::ios::binary) << std::string("\x00\x01\x02\x03", 4);

    const auto typeOf = [&](const char* name) {
        return output(
            "env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION "
            "-u GNOME_DESKTOP_SESSION_ID XDG_DATA_HOME='" +
            data.path() + "' XDG_DATA_DIRS=/usr/share xdg-mime query filetype '" +
            (files / name).string() + "' 2>/dev/null");
    };
    EXPECT_EQ(typeOf("some.kxz"), "application/x-kx-recording");
    EXPECT_EQ(typeOf("OLD.KX"), "application/x-kx-recording") << "names in any case";
    EXPECT_EQ(typeOf("x.dat"), "application/x-kx-recording") << "the four-channel magic";
    EXPECT_NE(typeOf("y.dat"), "application/x-kx-recording");
}

}  // namespace
}  // namespace kx
