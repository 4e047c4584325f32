// Runs the headless gateway as a child process in a temporary runtime
// folder: free ports written into its ini files beforehand, standard output
// captured to a file, the day's log file read back. For end-to-end tests.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ModuleLoader.h"
#include "tests/support/TestFiles.h"

namespace testsupport {

// A port nothing listens on right now (the system picked it and let it go).
inline uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

struct GatewayPorts {
    uint16_t dataServer = FreePort();
    uint16_t game = FreePort();
    uint16_t login = FreePort();
    uint16_t route = FreePort();
    // 0: no StatusServer link (edtSSIP left empty).
    uint16_t status = 0;
};

// A killed instance leaves its guard's shared memory behind; harmless to
// the next gateway, but not to be left on the host by a test. Removes the
// guards of this test process's signs ("E2E-...-<pid>").
inline void RemoveLeftoverGuards() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.find("E2E-") != std::string::npos && name.find(std::to_string(::getpid())) != std::string::npos) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

class GatewayProcess {
public:
    explicit GatewayProcess(const TempDir& folder) : m_Folder(folder) {}
    ~GatewayProcess() { Kill(); }
    GatewayProcess(const GatewayProcess&) = delete;
    GatewayProcess& operator=(const GatewayProcess&) = delete;

    // Lays out the system drive's Boot.ini in the data root: without one the
    // gateway's DEP check ends it, and without the opt-in switch it prints a
    // question at every start.
    void WriteBootIni(const std::string& text = "[operating systems]\nmulti(0)=\"Varnholt\" /noexecute=optin\n") {
        std::filesystem::create_directories(m_Folder / "C");
        std::ofstream(m_Folder / "C/Boot.ini") << text;
    }

    // Writes the two ini files with these ports (and counts) before the first
    // start, and the Boot.ini every start needs.
    void WriteSettings(const GatewayPorts& ports, int gameCount = 4, int loginCount = 4, int routeCount = 4,
                       const std::string& mutexSign = "") {
        std::ofstream node(m_Folder / "VarnholtServer.ini");
        node << "[VarnholtServer]\nedtDataServerIP = 127.0.0.1\nedtMutexSign = " << mutexSign << "\n";
        std::filesystem::create_directories(m_Folder / "Config");
        std::ofstream settings(m_Folder / "Config/Config.ini");
        settings << "[VarnholtServer]\n"
                 << "edtDataServerPort = " << ports.dataServer << "\n"
                 << "edtGameServerPort = " << ports.game << "\nedtGameServerCount = " << gameCount << "\n"
                 << "edtLoginServerPort = " << ports.login << "\nedtLoginServerCount = " << loginCount << "\n"
                 << "edtRouteServerPort = " << ports.route << "\nedtRouteServerCount = " << routeCount << "\n"
                 << "edtSSIP = " << (ports.status != 0 ? "127.0.0.1" : "") << "\nedtSSPort = " << ports.status << "\n";
        WriteBootIni();
    }

    // Starts <build>/bin/<program> with the arguments, in the folder.
    // The program runs in the folder (or the subfolder set below) with the
    // folder as its data root; a program without a leading '/' is one of the build's.
    bool Start(const std::vector<std::string>& arguments = {}, const std::string& program = "VarnholtServerd") {
        const std::string path = program.front() == '/' ? program : plat::ExecutableDir() + program;
        const std::string outPath = m_Folder / "stdout.txt";
        const std::string workPath = m_WorkingSubfolder.empty() ? m_Folder.Path() : m_Folder / m_WorkingSubfolder;
        m_Pid = ::fork();
        if (m_Pid == 0) {
            if (::chdir(workPath.c_str()) != 0) ::_exit(120);
            ::setenv("VARNHOLT_DATA_ROOT", m_Folder.Path().c_str(), 1);
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(path.c_str()));
            for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            ::_exit(121);
        }
        return m_Pid > 0;
    }

    // Runs the program in this folder below the data root (an installed
    // service's runtime folder) instead of the data root itself.
    void SetWorkingSubfolder(const std::string& relative) { m_WorkingSubfolder = relative; }

    void Signal(int signal) {
        if (m_Pid > 0) ::kill(m_Pid, signal);
    }
    // Exit code, -1 when it did not exit within the time (or died of a signal).
    int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        if (m_Pid <= 0) return m_ExitCode;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
                m_Pid = -1;
                m_ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return m_ExitCode;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Kill() {
        if (m_Pid <= 0) return;
        ::kill(m_Pid, SIGKILL);
        ::waitpid(m_Pid, nullptr, 0);
        m_Pid = -1;
    }
    int Pid() const { return m_Pid; }

    std::string Output() const { return ReadAll(m_Folder / "stdout.txt"); }
    // Today's log file of the gateway (every entry the mask lets through).
    std::string LogText() const {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char day[16];
        std::strftime(day, sizeof(day), "%Y-%m-%d", &local);
        return ReadAll(m_Folder / (std::string("D/ServerLog/Varnholt_") + day + ".log"));
    }
    bool WaitForLog(const std::string& fragment, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        return WaitUntil([&] { return LogText().find(fragment) != std::string::npos; }, timeout);
    }
    bool WaitForOutput(const std::string& fragment, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        return WaitUntil([&] { return Output().find(fragment) != std::string::npos; }, timeout);
    }

private:
    const TempDir& m_Folder;
    std::string m_WorkingSubfolder;
    pid_t m_Pid = -1;
    int m_ExitCode = -1;
};

}  // namespace testsupport
