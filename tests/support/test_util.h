// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Tests of the faults and stop points that the programs take from the
// environment (platform/test_hooks.h) need a build with VEXEL_TEST_HOOKS.
#if VEXEL_TEST_HOOKS
#define VEXEL_NEEDS_TEST_HOOKS() static_cast<void>(0)
#else
#define VEXEL_NEEDS_TEST_HOOKS() GTEST_SKIP() << "built without VEXEL_TEST_HOOKS"
#endif

namespace vexel::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct CommandResult {
    int exitCode = -1; // -1 when the program did not end normally
    std::string out;   // standard output
    std::string err;   // standard error
    std::int64_t peakResidentKib = 0; // the most memory the run held at once
};

// Runs the built vexel with the arguments in a folder (no shell involved).
// Standard input is empty; there is no display. extraSetup runs in the
// child before exec (limits).
CommandResult runVexel(const std::vector<std::string>& args, const std::string& folder,
                       void (*extraSetup)() = nullptr);
// The same for another program (a path), such as the built vexel-probe.
CommandResult runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder);

// The same run going on while the test works; killed when it is destroyed
// before wait() has reaped it.
class VexelProcess {
public:
    VexelProcess(const std::vector<std::string>& args, const std::string& folder, void (*extraSetup)() = nullptr,
                 const std::string& program = VEXEL_BIN);
    ~VexelProcess();
    VexelProcess(const VexelProcess&) = delete;
    VexelProcess& operator=(const VexelProcess&) = delete;
    void signal(int number);
    // Waits until the run stops itself at the stop point its environment
    // asked for (VEXEL_TEST_STOP_AT); false, with the reason in *why, when
    // it ended instead or had not stopped after two minutes.
    bool waitForStop(std::string* why = nullptr);
    // Lets a stopped run go on (any signal sent meanwhile arrives now).
    void resume();
    // Waits for the run to end: exitCode -1 when it did not end normally, or
    // when it had not ended after `seconds` (it is then killed, and err says
    // so: the deadline only guards against a hang).
    CommandResult wait(int seconds = 300);
    int pid() const { return pid_; }

private:
    std::unique_ptr<TempDir> capture_;
    int pid_ = -1;
    bool ended_ = false; // reaped by waitForStop
    int status_ = 0;
};

// An environment variable set for a scope (the runs started in it inherit
// it), and restored at its end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

std::vector<std::uint8_t> readFile(const std::string& path);
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listFolder(const std::string& path);
// The names in a folder that a run must never leave behind: the hidden
// names of new files (".vexel-...") and temporary names ending in ".part".
std::vector<std::string> strayFiles(const TempDir& dir);

// Whether the file system of a folder makes unnamed files (O_TMPFILE): a
// run killed outright leaves nothing behind only where it does.
bool unnamedFilesWork(const std::string& folder);
#define VEXEL_NEEDS_UNNAMED_FILES(folder)                                                                \
    if (!vexel::test::unnamedFilesWork(folder))                                                          \
    GTEST_SKIP() << "the file system of " << (folder) << " makes no unnamed files"

// Blocks still live at the end of a test fail it, unless the test called this.
void allowLiveBlocks();

} // namespace vexel::test
