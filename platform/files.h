// Files and folders over POSIX calls with 64-bit offsets.
//
// Only regular files count as files: opening a FIFO, device, socket or
// folder for reading fails (the open never blocks), so a FIFO named x.bmp
// never hangs a run. Every read and write loops over short transfers.
// Paths are UTF-16 inside the program and UTF-8 on the system (utf.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vexel::platform {

enum class OpenMode {
    ReadExisting,   // read only; the file must exist
    CreateNew,      // write only; fails when the name exists (never overwrites)
    CreateAlways,   // read-write; created or truncated
    OpenAlways,     // read-write; created when missing, kept otherwise
    ReadWriteExisting,
};

class File {
public:
    File() = default;
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    File& operator=(File&& o) noexcept;

    // False when the file cannot be opened or is not a regular file (lastError() says why).
    bool open(std::u16string_view path, OpenMode mode);
    void close();
    // Takes over an open descriptor (closing the one held before).
    void adopt(int fd) {
        close();
        fd_ = fd;
    }
    bool isOpen() const { return fd_ >= 0; }

    // Reads up to n bytes from the current position; the count read (short
    // only at the end of the file), or -1 on an error.
    std::int64_t read(void* destination, std::uint64_t n);
    // Reads exactly n bytes; false on an error or an early end.
    bool readExact(void* destination, std::uint64_t n);
    // Writes all n bytes; false on any error (a full disk included).
    bool write(const void* source, std::uint64_t n);
    // Moves to an absolute position and checks that it landed there.
    bool seek(std::uint64_t position);
    bool seekToEnd();
    // Current position or size; -1 on an error.
    std::int64_t position() const;
    std::int64_t size() const;
    bool truncate(std::uint64_t size);
    bool flush();
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

// errno of the last failing call of this layer in this thread.
int lastError();
void setLastError(int error);

// True for a regular file (after following links).
bool isRegularFile(std::u16string_view path);
// True for a regular file that can be opened for reading.
bool canOpenForReading(std::u16string_view path);
bool isFolder(std::u16string_view path);
bool removeFile(std::u16string_view path);
bool renameFile(std::u16string_view from, std::u16string_view to);
// Size of a regular file, or -1.
std::int64_t fileSize(std::u16string_view path);

// Lists the names in a folder ("" is the current folder) that match a
// pattern with "*" and "?" ("[" is taken literally; "*.*" matches every
// name). The callback gets the bare name and whether it is a folder (or
// anything but a regular file); it returns false to stop. False when the
// folder cannot be read.
bool enumerateFolder(std::u16string_view folder, std::u16string_view pattern,
                     const std::function<bool(std::u16string_view name, bool notAFile)>& visit);

// The program's own path (/proc/self/exe) and its folder ending with "/".
std::u16string programPath();
std::u16string programFolder();

// The system's text for an error number.
std::u16string errorText(int error);

} // namespace vexel::platform
