// A PulseAudio server of a test's own with a null sink (it plays in real time into nothing),
// started in a private folder for the test's process and stopped with it.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace kx::test {

// A PulseAudio server of the test's own, reached through a socket in a private folder; clients
// of this process find it through PULSE_SERVER.
class PrivateSoundServer {
    using path = std::filesystem::path;

public:
    PrivateSoundServer() {
        m_folder = std::filesystem::temp_directory_path() / ("kx_sound_" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_folder);
        const std::string socket = (m_folder / "native").string();
        const std::string home = "HOME=" + m_folder.string();
        const std::string runtime = "XDG_RUNTIME_DIR=" + m_folder.string();
        const std::string protocol =
            "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
        const std::string log = (m_folder / "server.log").string();
        m_pid = ::fork();
        if (m_pid == 0) {
            const char* argv[] = {"pulseaudio",
                                  "-n",
                                  "--daemonize=no",
                                  "--exit-idle-time=-1",
                                  "--disable-shm=true",
                                  "--use-pid-file=false",
                                  "-L",
                                  "module-null-sink",
                                  "-L",
                                  protocol.c_str(),
                                  nullptr};
            const char* envp[] = {home.c_str(), runtime.c_str(), "PATH=/usr/bin:/bin", nullptr};
            if (FILE* out = std::freopen(log.c_str(), "w", stderr)) (void)out;
            ::execvpe(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(envp));
            ::_exit(127);
        }
        // The server is ready once its socket exists.
        for (int waited = 0; waited < 100 && !std::filesystem::exists(socket) && alive(); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_ready = std::filesystem::exists(socket);
        if (m_ready) ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    }

    ~PrivateSoundServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    bool ready() const { return m_ready; }

private:
    bool alive() { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

    path m_folder;
    pid_t m_pid = -1;
    bool m_ready = false;
};

}  // namespace kx::test
