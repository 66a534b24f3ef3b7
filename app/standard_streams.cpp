#include "app/standard_streams.h"

#include "base/operaciispamyatyu.h"
#include "codec/container.h"
#include "platform/files.h"
#include "platform/utf.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vexel {

namespace {

constexpr std::uint64_t kPieceBytes = 1 << 16;
// A bitmap's file header and the part of the information header every
// bitmap has: anything shorter cannot be one of a stream.
constexpr std::uint32_t kSmallestBitmap = 14 + 12;

bool fail(int error) {
    platform::setLastError(error);
    return false;
}

// Reads up to n bytes at position; the count read, or -1.
std::int64_t readAt(platform::File& file, std::uint64_t position, void* bytes, std::uint64_t n) {
    if (!file.seek(position)) return -1;
    return file.read(bytes, n);
}

} // namespace

std::string temporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    if (folder && *folder) return folder;
    return "/tmp";
}

bool writeAllTo(int fd, const void* bytes, std::uint64_t n) {
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    while (n > 0) {
        const ssize_t written = ::write(fd, at, std::min<std::uint64_t>(n, 1 << 30));
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        at += written;
        n -= static_cast<std::uint64_t>(written);
    }
    return true;
}

bool InputSpool::fill(int fd) {
    starts_.clear();
    size_ = 0;
    kind_ = Kind::Empty;
    if (!spool_.create(platform::utf8ToUtf16(temporaryFolder() + "/vexel-input"))) return false;
    std::vector<std::uint8_t> piece(kPieceBytes);
    for (;;) {
        const ssize_t got = ::read(fd, piece.data(), piece.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (got == 0) break;
        if (!spool_.file().write(piece.data(), static_cast<std::uint64_t>(got))) return false;
        size_ += static_cast<std::uint64_t>(got);
    }
    if (size_ == 0) return true;

    std::uint8_t head[sizeof kRecordMagic] = {};
    const std::int64_t got = readAt(spool_.file(), 0, head, sizeof head);
    if (got < 0) return false;
    const std::span<const std::uint8_t> start(head, static_cast<std::size_t>(got));
    if (hasRecordMagic(start)) {
        kind_ = Kind::Vx;
        return true;
    }
    kind_ = Kind::Pictures;
    if (got < 2 || head[0] != 'B' || head[1] != 'M') {
        // Any other picture file is taken whole; the picture reader says what it is.
        starts_.push_back(0);
        return true;
    }
    // Bitmaps one after another, each as long as its header says. A size
    // that cannot be right ends the stream: the rest is one last piece,
    // which the bitmap reader refuses with its reason.
    for (std::uint64_t at = 0; at < size_;) {
        starts_.push_back(at);
        std::uint8_t fileHeader[6] = {};
        if (readAt(spool_.file(), at, fileHeader, sizeof fileHeader) != static_cast<std::int64_t>(sizeof fileHeader))
            break;
        const std::uint32_t length = loadU32(fileHeader + 2);
        if (fileHeader[0] != 'B' || fileHeader[1] != 'M' || length < kSmallestBitmap || length > size_ - at) break;
        at += length;
    }
    return true;
}

TWideString InputSpool::path() const { return TWideString(std::u16string_view(spool_.reopenPath())); }

bool InputSpool::takePicture(std::uint32_t index, TWideString& picturePath) {
    if (index >= starts_.size()) return fail(ENOENT);
    if (starts_.size() == 1) {
        picturePath = path();
        return true;
    }
    const std::uint64_t begin = starts_[index];
    const std::uint64_t end = index + 1 < starts_.size() ? starts_[index + 1] : size_;
    if (!picture_.isOpen() && !picture_.create(platform::utf8ToUtf16(temporaryFolder() + "/vexel-picture")))
        return false;
    platform::File& out = picture_.file();
    if (!out.truncate(0) || !out.seek(0)) return false;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, end - begin)));
    for (std::uint64_t at = begin; at < end;) {
        const std::uint64_t n = std::min<std::uint64_t>(piece.size(), end - at);
        if (!spool_.file().seek(at) || !spool_.file().readExact(piece.data(), n) || !out.write(piece.data(), n))
            return false;
        at += n;
    }
    picturePath = TWideString(std::u16string_view(picture_.reopenPath()));
    return true;
}

bool StreamSink::writeAt(std::uint64_t position, const void* bytes, std::size_t n) {
    if (position < base_ || position > base_ + held_.size()) return fail(ESPIPE);
    const std::size_t at = static_cast<std::size_t>(position - base_);
    try {
        if (at + n > held_.size()) held_.resize(at + n);
    } catch (const std::bad_alloc&) {
        return fail(ENOMEM);
    }
    if (n) std::memcpy(held_.data() + at, bytes, n);
    return true;
}

bool StreamSink::truncate(std::uint64_t size) {
    if (size < base_) return fail(ESPIPE);
    if (size - base_ < held_.size()) held_.resize(static_cast<std::size_t>(size - base_));
    return true;
}

bool StreamSink::release(std::uint64_t end) {
    if (end <= base_) return true;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end - base_, held_.size()));
    const bool written = writeAllTo(fd_, held_.data(), n);
    const int error = platform::lastError();
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    base_ += n;
    platform::setLastError(error);
    return written;
}

} // namespace vexel
