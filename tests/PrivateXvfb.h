// A private Xvfb display for programs that need a real X server (the window
// manager hints, the clipboard's round trips): started on a free display
// number, stopped again by its owner.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace velarix::test {

// Runs `argv` with its standard streams on /dev/null; the pid, or -1.
inline pid_t Spawn(const std::vector<const char*>& argv) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// A private display; the server's pid, or -1 when none could be started.
inline pid_t StartXvfb(std::string& display) {
    for (int n = 91; n < 160; ++n) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        if (std::filesystem::exists(socket) || std::filesystem::exists(lock)) continue;
        display = ":" + std::to_string(n);
        const pid_t pid =
            Spawn({"Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (pid < 0) return -1;
        for (int i = 0; i < 100; ++i) {
            if (std::filesystem::exists(socket)) return pid;
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) break;  // taken meanwhile
            ::usleep(100 * 1000);
        }
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    return -1;
}

// Ends a process started by Spawn and waits for it.
inline void StopProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace velarix::test
