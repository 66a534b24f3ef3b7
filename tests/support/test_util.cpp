#include "tests/support/test_util.h"

#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

VexelProcess::VexelProcess(const std::vector<std::string>& args, const std::string& folder, void (*extraSetup)())
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
        std::string program = VEXEL_BIN;
        argv.push_back(program.data());
        std::vector<std::string> copies(args);
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

VexelProcess::~VexelProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void VexelProcess::signal(int number) {
    if (pid_ > 0) kill(pid_, number);
}

CommandResult VexelProcess::wait() {
    CommandResult result;
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    pid_ = -1;
    int fo = open(capture_->file("out").c_str(), O_RDONLY), fe = open(capture_->file("err").c_str(), O_RDONLY);
    if (fo >= 0) { result.out = drain(fo); close(fo); }
    if (fe >= 0) { result.err = drain(fe); close(fe); }
    return result;
}

CommandResult runVexel(const std::vector<std::string>& args, const std::string& folder, void (*extraSetup)()) {
    return VexelProcess(args, folder, extraSetup).wait();
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
