#include "platform/new_file.h"

#include "platform/test_hooks.h"
#include "platform/utf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vexel::platform {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string hiddenName(const std::string& folder, int n) {
    return (folder == "/" ? std::string() : folder) + "/.vexel-" + std::to_string(getpid()) + "-" + std::to_string(n);
}

bool failWith(int error) {
    setLastError(error);
    return false;
}

// Links an open unnamed file to a free name: through /proc, or by its
// descriptor alone where /proc is missing (that needs privilege).
bool linkDescriptor(int fd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return false;
    return linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
}

} // namespace

bool NewFile::create(std::u16string_view target) {
    discard();
    const std::string name = utf16ToUtf8(target);
    if (name.empty()) return failWith(ENOENT);
    folder_ = folderOf(name);
    if (!testNoUnnamedFiles()) {
        const int fd = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file_.adopt(fd);
            unnamed_ = true;
            return true;
        }
        // Any other error is the folder's own (missing, not writable, full).
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return failWith(errno);
    }
    for (int n = 0; n < 1000; ++n) {
        std::string hidden = hiddenName(folder_, n);
        const int fd = ::open(hidden.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file_.adopt(fd);
            hidden_ = std::move(hidden);
            unnamed_ = false;
            return true;
        }
        if (errno != EEXIST) return failWith(errno);
    }
    return failWith(EEXIST);
}

std::u16string NewFile::reopenPath() const {
    if (!file_.isOpen()) return std::u16string();
    return utf8ToUtf16(unnamed_ ? "/proc/self/fd/" + std::to_string(file_.descriptor()) : hidden_);
}

bool NewFile::linkHidden(std::string& hidden) {
    for (int n = 0; n < 1000; ++n) {
        hidden = hiddenName(folder_, n);
        if (linkDescriptor(file_.descriptor(), hidden)) return true;
        if (errno != EEXIST) return failWith(errno);
    }
    return failWith(EEXIST);
}

bool NewFile::linkAs(std::u16string_view target) {
    if (!file_.isOpen()) return failWith(EBADF);
    const std::string name = utf16ToUtf8(target);
    testStopPoint("before-link");
    if (unnamed_) return linkDescriptor(file_.descriptor(), name) || failWith(errno);
    if (::link(hidden_.c_str(), name.c_str()) != 0) return failWith(errno);
    ::unlink(hidden_.c_str());
    hidden_.clear();
    return true;
}

bool NewFile::replace(std::u16string_view target) {
    if (!file_.isOpen()) return failWith(EBADF);
    const std::string name = utf16ToUtf8(target);
    struct stat old;
    bool exists = ::stat(name.c_str(), &old) == 0;
    if (!exists) {
        // Nothing to protect: the name is simply given.
        if (linkAs(target)) {
            file_.close();
            return true;
        }
        if (lastError() != EEXIST) return false;
        exists = ::stat(name.c_str(), &old) == 0;
    }
    if (exists) {
        // The new file keeps what the user set on the old one.
        if (geteuid() == 0 && fchown(file_.descriptor(), old.st_uid, old.st_gid) != 0) return failWith(errno);
        if (fchmod(file_.descriptor(), old.st_mode & 07777) != 0) return failWith(errno);
    }
    if (!file_.flush()) return false;
    testStopPoint("before-rename");
    // An unnamed file cannot be linked over a name: it gets a hidden one for
    // the two calls until the rename (a kill between them leaves that name).
    std::string hidden = hidden_;
    if (unnamed_ && !linkHidden(hidden)) return false;
    if (::rename(hidden.c_str(), name.c_str()) != 0) {
        const int error = errno;
        if (unnamed_) ::unlink(hidden.c_str());
        return failWith(error);
    }
    hidden_.clear();
    file_.close();
    testStopPoint("after-rename");
    return true;
}

void NewFile::discard() {
    file_.close();
    if (!hidden_.empty()) ::unlink(hidden_.c_str());
    hidden_.clear();
    unnamed_ = false;
}

bool mayReplace(std::u16string_view target) {
    const std::string name = utf16ToUtf8(target);
    if (name.empty()) return failWith(ENOENT);
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) {
        // A free name (or a dangling link, which the new file replaces).
        if (errno == ENOENT && !name.empty() && name.back() != '/') return true;
        return failWith(errno);
    }
    if (S_ISDIR(st.st_mode)) return failWith(EISDIR);
    if (!S_ISREG(st.st_mode)) return failWith(EINVAL);
    if (faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) return failWith(errno);
    return true;
}

bool nameExists(std::u16string_view path) {
    const std::string name = utf16ToUtf8(path);
    struct stat st;
    return !name.empty() && ::lstat(name.c_str(), &st) == 0;
}

} // namespace vexel::platform
