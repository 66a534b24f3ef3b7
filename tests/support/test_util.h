// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
};

// Runs the built vexel with the arguments in a folder (no shell involved).
// Standard input is empty; there is no display. extraSetup runs in the
// child before exec (limits).
CommandResult runVexel(const std::vector<std::string>& args, const std::string& folder,
                       void (*extraSetup)() = nullptr);

// The same run going on while the test works; killed when it is destroyed
// before wait() has reaped it.
class VexelProcess {
public:
    VexelProcess(const std::vector<std::string>& args, const std::string& folder, void (*extraSetup)() = nullptr);
    ~VexelProcess();
    VexelProcess(const VexelProcess&) = delete;
    VexelProcess& operator=(const VexelProcess&) = delete;
    void signal(int number);
    CommandResult wait();

private:
    std::unique_ptr<TempDir> capture_;
    int pid_ = -1;
};

std::vector<std::uint8_t> readFile(const std::string& path);
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listFolder(const std::string& path);

// Blocks still live at the end of a test fail it, unless the test called this.
void allowLiveBlocks();

} // namespace vexel::test
