#include "tests/support/test_util.h"

#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vexel::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vexel-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data())) path_ = buffer.data();
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

namespace {

std::string drain(int fd) {
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace

VexelProcess::VexelProcess(const std::vector<std::string>& args, const std::string& folder, void (*extraSetup)(),
                           const std::string& programPath)
    : capture_(std::make_unique<TempDir>()) {
    const std::string outPath = capture_->file("out"), errPath = capture_->file("err");
    pid_ = fork();
    if (pid_ == 0) {
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        if (extraSetup) extraSetup();
        std::vector<char*> argv;
        std::string program = programPath;
        argv.push_back(program.data());
        std::vector<std::string> copies(args);
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

VexelProcess::~VexelProcess() {
    if (pid_ > 0 && !ended_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void VexelProcess::signal(int number) {
    if (pid_ > 0 && !ended_) kill(pid_, number);
}

void VexelProcess::resume() { signal(SIGCONT); }

namespace {

// waitpid with a deadline that only guards against a hang: the pid's
// status, 0 when the deadline passed first, -1 on an error.
int waitWithDeadline(int pid, int* status, int options, int seconds, rusage* usage = nullptr) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const int r = wait4(pid, status, options | WNOHANG, usage);
        if (r != 0 || std::chrono::steady_clock::now() > until) return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

bool VexelProcess::waitForStop(std::string* why) {
    if (pid_ <= 0 || ended_) {
        if (why) *why = "the run has ended";
        return false;
    }
    int status = 0;
    const int r = waitWithDeadline(pid_, &status, WUNTRACED, 120);
    if (r == pid_ && WIFSTOPPED(status)) return true;
    if (r == pid_) {
        ended_ = true;
        status_ = status;
        if (why) *why = "the run ended without reaching its stop point";
    } else if (why) {
        *why = r == 0 ? "the run did not reach its stop point within two minutes" : "waitpid failed";
    }
    return false;
}

CommandResult VexelProcess::wait(int seconds) {
    CommandResult result;
    int status = status_;
    bool ended = ended_;
    std::string hang;
    rusage usage = {};
    if (pid_ > 0 && !ended) {
        const int r = waitWithDeadline(pid_, &status, 0, seconds, &usage);
        result.peakResidentKib = usage.ru_maxrss;
        if (r == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            hang = "\n[test] the run hung: it had not ended after " + std::to_string(seconds) + " s and was killed\n";
        }
        ended = r == pid_;
    }
    if (ended && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    pid_ = -1;
    ended_ = false;
    int fo = open(capture_->file("out").c_str(), O_RDONLY), fe = open(capture_->file("err").c_str(), O_RDONLY);
    if (fo >= 0) { result.out = drain(fo); close(fo); }
    if (fe >= 0) { result.err = drain(fe); close(fe); }
    result.err += hang;
    return result;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
}

bool unnamedFilesWork(const std::string& folder) {
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

std::vector<std::string> strayFiles(const TempDir& dir) {
    std::vector<std::string> out;
    for (const std::string& n : listFolder(dir.path()))
        if (n.rfind(".vexel-", 0) == 0 || (n.size() > 5 && n.compare(n.size() - 5, 5, ".part") == 0)) out.push_back(n);
    return out;
}

CommandResult runVexel(const std::vector<std::string>& args, const std::string& folder, void (*extraSetup)()) {
    return VexelProcess(args, folder, extraSetup).wait();
}

CommandResult runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder) {
    return VexelProcess(args, folder, nullptr, program).wait();
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(path, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace vexel::test
