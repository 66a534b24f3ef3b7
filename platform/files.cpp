#include "platform/files.h"

#include "platform/test_hooks.h"
#include "platform/utf.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vexel::platform {

namespace {

thread_local int tlsLastError = 0;

std::string systemPath(std::u16string_view path) { return utf16ToUtf8(path); }

int fail() {
    tlsLastError = errno;
    return -1;
}

} // namespace

int lastError() { return tlsLastError; }
void setLastError(int error) { tlsLastError = error; }

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

bool File::open(std::u16string_view path, OpenMode mode) {
    close();
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
    case OpenMode::ReadExisting: flags |= O_RDONLY; break;
    case OpenMode::CreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    case OpenMode::CreateAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::OpenAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::ReadWriteExisting: flags |= O_RDWR; break;
    }
    std::string name = systemPath(path);
    if (name.empty()) {
        tlsLastError = ENOENT;
        return false;
    }
    int fd = ::open(name.c_str(), flags, 0666);
    if (fd < 0) return fail(), false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        tlsLastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    // Truncate only once the name is known to be a regular file.
    if (mode == OpenMode::CreateAlways && ftruncate(fd, 0) != 0) {
        fail();
        ::close(fd);
        return false;
    }
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::int64_t File::read(void* destination, std::uint64_t n) {
    if (fd_ < 0) {
        tlsLastError = EBADF;
        return -1;
    }
    auto* out = static_cast<char*>(destination);
    std::uint64_t done = 0;
    while (done < n) {
        std::uint64_t piece = std::min<std::uint64_t>(n - done, 1u << 30);
        ssize_t got = ::read(fd_, out + done, piece);
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        if (got == 0) break;
        done += static_cast<std::uint64_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

bool File::readExact(void* destination, std::uint64_t n) {
    std::int64_t got = read(destination, n);
    if (got >= 0 && static_cast<std::uint64_t>(got) != n) tlsLastError = EIO;
    return got >= 0 && static_cast<std::uint64_t>(got) == n;
}

bool File::write(const void* source, std::uint64_t n) {
    if (fd_ < 0) {
        tlsLastError = EBADF;
        return false;
    }
    if (testFullDisk(n)) {
        tlsLastError = ENOSPC;
        return false;
    }
    const auto* in = static_cast<const char*>(source);
    std::uint64_t done = 0;
    while (done < n) {
        std::uint64_t piece = std::min<std::uint64_t>(n - done, 1u << 30);
        ssize_t put = ::write(fd_, in + done, piece);
        if (put < 0) {
            if (errno == EINTR) continue;
            return fail(), false;
        }
        if (put == 0) {
            tlsLastError = ENOSPC;
            return false;
        }
        done += static_cast<std::uint64_t>(put);
    }
    return true;
}

bool File::seek(std::uint64_t position) {
    if (fd_ < 0 || position > static_cast<std::uint64_t>(INT64_MAX)) {
        tlsLastError = EINVAL;
        return false;
    }
    off_t at = lseek(fd_, static_cast<off_t>(position), SEEK_SET);
    if (at < 0) return fail(), false;
    return static_cast<std::uint64_t>(at) == position;
}

bool File::seekToEnd() {
    if (fd_ < 0) return false;
    return lseek(fd_, 0, SEEK_END) >= 0 || (fail(), false);
}

std::int64_t File::position() const {
    if (fd_ < 0) return -1;
    off_t at = lseek(fd_, 0, SEEK_CUR);
    return at < 0 ? fail() : static_cast<std::int64_t>(at);
}

std::int64_t File::size() const {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return fail();
    return static_cast<std::int64_t>(st.st_size);
}

bool File::truncate(std::uint64_t size) {
    if (fd_ < 0) return false;
    return ftruncate(fd_, static_cast<off_t>(size)) == 0 || (fail(), false);
}

bool File::flush() {
    if (fd_ < 0) return false;
    if (testFailSync()) {
        tlsLastError = EIO;
        return false;
    }
    return fsync(fd_) == 0 || (fail(), false);
}

bool isRegularFile(std::u16string_view path) {
    struct stat st;
    std::string name = systemPath(path);
    return !name.empty() && stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool canOpenForReading(std::u16string_view path) {
    File f;
    return f.open(path, OpenMode::ReadExisting);
}

bool isFolder(std::u16string_view path) {
    struct stat st;
    std::string name = systemPath(path);
    return !name.empty() && stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(std::u16string_view path) {
    std::string name = systemPath(path);
    return ::unlink(name.c_str()) == 0 || (fail(), false);
}

bool renameFile(std::u16string_view from, std::u16string_view to) {
    std::string a = systemPath(from), b = systemPath(to);
    return ::rename(a.c_str(), b.c_str()) == 0 || (fail(), false);
}

std::int64_t fileSize(std::u16string_view path) {
    struct stat st;
    std::string name = systemPath(path);
    if (name.empty() || stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool enumerateFolder(std::u16string_view folder, std::u16string_view pattern,
                     const std::function<bool(std::u16string_view, bool)>& visit) {
    std::string dirName = folder.empty() ? std::string(".") : systemPath(folder);
    // "[" is an ordinary character in names: "[[]" matches it literally.
    std::string raw = systemPath(pattern), glob;
    if (raw == "*.*") raw = "*";
    for (char c : raw) {
        if (c == '[') glob += "[[]";
        else glob += c;
    }
    DIR* dir = opendir(dirName.c_str());
    if (!dir) return fail(), false;
    int fd = dirfd(dir);
    while (struct dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (fnmatch(glob.c_str(), name, FNM_NOESCAPE) != 0) continue;
        struct stat st;
        bool notAFile = fstatat(fd, name, &st, 0) != 0 || !S_ISREG(st.st_mode);
        if (!visit(utf8ToUtf16(name), notAFile)) break;
    }
    closedir(dir);
    return true;
}

std::u16string programPath() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return utf8ToUtf16(std::string_view(buffer, static_cast<std::size_t>(n)));
}

std::u16string programFolder() {
    std::u16string path = programPath();
    std::size_t slash = path.rfind(u'/');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

namespace {
// strerror_r comes in a GNU form (returns the text) and an XSI form (fills the buffer).
[[maybe_unused]] const char* errorString(int result, const char* buffer) { return result == 0 ? buffer : ""; }
[[maybe_unused]] const char* errorString(const char* result, const char*) { return result; }
} // namespace

std::u16string errorText(int error) {
    char buffer[512] = {};
    return utf8ToUtf16(errorString(strerror_r(error, buffer, sizeof buffer), buffer));
}

} // namespace vexel::platform
