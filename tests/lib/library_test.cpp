// libvexel through its public header only: what a host program meets.
#include "tests/support/test_util.h"

#include <vexel/vexel.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture with smooth areas and edges that moves a little from frame to
// frame, so that later frames keep blocks.
Bytes frame(std::uint32_t width, std::uint32_t height, int shift) {
    Bytes rgb(std::size_t{width} * height * 3);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = &rgb[(std::size_t{y} * width + x) * 3];
            const std::uint32_t sx = x + static_cast<std::uint32_t>(shift);
            p[0] = static_cast<std::uint8_t>(sx * 255 / (width + 8));
            p[1] = static_cast<std::uint8_t>(y * 255 / height);
            p[2] = ((sx / 16 + y / 16) % 2) ? 200 : 40;
        }
    return rgb;
}

Bytes pack(const std::vector<Bytes>& frames, std::uint32_t width, std::uint32_t height,
           const vexel_write_options* options = nullptr) {
    vexel_writer* w = nullptr;
    EXPECT_EQ(vexel_writer_open_memory(options, &w), VEXEL_OK);
    for (const Bytes& f : frames)
        EXPECT_EQ(vexel_writer_add_frame(w, f.data(), width, height, width * 3, VEXEL_PIXELS_RGB), VEXEL_OK);
    EXPECT_EQ(vexel_writer_finish(w), VEXEL_OK);
    const void* data = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(vexel_writer_bytes(w, &data, &size), VEXEL_OK);
    Bytes out(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    vexel_writer_close(w);
    return out;
}

// Every record decoded in order.
std::vector<Bytes> unpack(const Bytes& file, unsigned threads = 0) {
    vexel_read_options options;
    vexel_read_options_default(&options);
    options.threads = threads;
    vexel_reader* r = nullptr;
    EXPECT_EQ(vexel_reader_open_memory(file.data(), file.size(), &options, &r), VEXEL_OK);
    std::size_t count = 0;
    EXPECT_EQ(vexel_reader_record_count(r, &count), VEXEL_OK);
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < count; ++i) {
        vexel_record_info info;
        EXPECT_EQ(vexel_reader_record_info(r, i, &info), VEXEL_OK);
        Bytes rgb(std::size_t{info.width} * info.height * 3);
        EXPECT_EQ(vexel_reader_decode(r, i, VEXEL_PIXELS_RGB, rgb.data(), info.width * 3, rgb.size()), VEXEL_OK);
        frames.push_back(std::move(rgb));
    }
    vexel_reader_close(r);
    return frames;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names(const std::string& folder) {
    std::vector<std::string> out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

} // namespace

// Readers and writers in different threads at once: each gets what it gets
// alone (ThreadSanitizer checks that they share nothing unguarded).
TEST(Library, HandlesInDifferentThreadsWorkInParallelAndAgreeWithOneThread) {
    constexpr std::uint32_t W = 160, H = 96;
    const std::vector<Bytes> frames = {frame(W, H, 0), frame(W, H, 3), frame(W, H, 6)};
    vexel_write_options options;
    vexel_write_options_default(&options);
    options.frame_rate = 25;
    const Bytes file = pack(frames, W, H, &options);
    const std::vector<Bytes> pictures = unpack(file);
    ASSERT_EQ(pictures.size(), 3u);

    std::vector<Bytes> packed(4);
    std::vector<std::vector<Bytes>> unpacked(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                if (t % 2) packed[t] = pack(frames, W, H, &options);
                else unpacked[t] = unpack(file, t == 2 ? 1 : 0);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(packed[1], file);
    EXPECT_EQ(packed[3], file);
    EXPECT_EQ(unpacked[0], pictures);
    EXPECT_EQ(unpacked[2], pictures);
}

// The settings reach the records: mode, streams (mode 1 always takes one),
// frame rate, and every frame a keyframe.
TEST(Library, WriteOptionsReachTheRecords) {
    constexpr std::uint32_t W = 64, H = 48;
    const std::vector<Bytes> frames = {frame(W, H, 0), frame(W, H, 2)};
    vexel_write_options options;
    vexel_write_options_default(&options);
    EXPECT_EQ(options.mode, 8u);
    EXPECT_EQ(options.streams, 4u);
    struct Case {
        unsigned mode, streams, expectStreams;
        double rate;
    } cases[] = {{8, 4, 4, 0}, {1, 3, 1, 12.5}, {9, 2, 2, 30}, {3, 1, 1, 0}};
    for (const Case& c : cases) {
        options.mode = c.mode;
        options.streams = c.streams;
        options.frame_rate = c.rate;
        const Bytes file = pack(frames, W, H, &options);
        vexel_reader* r = nullptr;
        ASSERT_EQ(vexel_reader_open_memory(file.data(), file.size(), nullptr, &r), VEXEL_OK);
        std::size_t count = 0;
        EXPECT_EQ(vexel_reader_record_count(r, &count), VEXEL_OK);
        EXPECT_EQ(count, 2u);
        for (std::size_t i = 0; i < count; ++i) {
            vexel_record_info info;
            ASSERT_EQ(vexel_reader_record_info(r, i, &info), VEXEL_OK);
            EXPECT_EQ(info.mode, c.mode);
            EXPECT_EQ(info.streams, c.expectStreams) << "mode " << c.mode;
            EXPECT_EQ(info.frame_rate, c.rate);
            EXPECT_EQ(info.width, W);
            EXPECT_EQ(info.keyframe, i == 0 || c.mode < 7 ? 1 : 0);
        }
        vexel_reader_close(r);
    }
    // Kept blocks only where the mode and the keyframe rule allow them: all
    // keyframes give each frame the bytes it has alone after the first.
    options = vexel_write_options{};
    vexel_write_options_default(&options);
    options.all_keyframes = 1;
    options.frame_rate = 25;
    const std::vector<Bytes> keyframes = unpack(pack(frames, W, H, &options));
    const std::vector<Bytes> second = unpack(pack({frames[1], frames[1]}, W, H, &options));
    ASSERT_EQ(keyframes.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(keyframes[1], second[1]);
    // Refused settings.
    const unsigned badModes[] = {10, 255};
    for (unsigned mode : badModes) {
        vexel_write_options bad;
        vexel_write_options_default(&bad);
        bad.mode = mode;
        vexel_writer* w = nullptr;
        EXPECT_EQ(vexel_writer_open_memory(&bad, &w), VEXEL_ERROR_ARGUMENT);
        EXPECT_EQ(w, nullptr);
    }
    vexel_write_options_default(&options);
    options.streams = 46;
    vexel_writer* w = nullptr;
    EXPECT_EQ(vexel_writer_open_memory(&options, &w), VEXEL_ERROR_ARGUMENT);
    options.streams = 4;
    options.frame_rate = -1;
    EXPECT_EQ(vexel_writer_open_memory(&options, &w), VEXEL_ERROR_ARGUMENT);
}

// A file writer keeps the old target until a whole new file replaces it,
// and leaves nothing beside it.
TEST(Library, AFileWriterReplacesItsTargetOnlyWhenItFinishes) {
    vexel::test::TempDir dir;
    const std::string target = dir.file("clip.vx");
    {
        std::ofstream old(target, std::ios::binary);
        old << "the old file";
    }
    constexpr std::uint32_t W = 48, H = 32;
    const Bytes a = frame(W, H, 0), b = frame(W, H, 4);
    for (int pictures = 1; pictures <= 2; ++pictures) {
        vexel_writer* w = nullptr;
        ASSERT_EQ(vexel_writer_open_file(target.c_str(), nullptr, &w), VEXEL_OK);
        ASSERT_EQ(vexel_writer_add_frame(w, a.data(), W, H, W * 3, VEXEL_PIXELS_RGB), VEXEL_OK);
        if (pictures == 2) {
            ASSERT_EQ(vexel_writer_add_frame(w, b.data(), W, H, W * 3, VEXEL_PIXELS_RGB), VEXEL_OK);
        }
        vexel_writer_close(w); // not finished
        EXPECT_EQ(readFile(target), Bytes({'t', 'h', 'e', ' ', 'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'}));
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{"clip.vx"});
    }
    vexel_writer* w = nullptr;
    ASSERT_EQ(vexel_writer_open_file(target.c_str(), nullptr, &w), VEXEL_OK);
    EXPECT_EQ(vexel_writer_finish(w), VEXEL_ERROR_STATE); // nothing to write
    ASSERT_EQ(vexel_writer_add_frame(w, a.data(), W, H, W * 3, VEXEL_PIXELS_RGB), VEXEL_OK);
    ASSERT_EQ(vexel_writer_add_frame(w, b.data(), W, H, W * 3, VEXEL_PIXELS_RGB), VEXEL_OK);
    ASSERT_EQ(vexel_writer_finish(w), VEXEL_OK);
    EXPECT_EQ(vexel_writer_finish(w), VEXEL_ERROR_STATE);
    vexel_writer_close(w);
    EXPECT_EQ(readFile(target), pack({a, b}, W, H));
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"clip.vx"});

    // A target that cannot be written: a status as soon as a record is
    // written (the second picture of a clip, or the finish of a single
    // one), and the folder as it was.
    const std::string folder = dir.file("sub");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (int pictures = 1; pictures <= 2; ++pictures) {
        ASSERT_EQ(vexel_writer_open_file(folder.c_str(), nullptr, &w), VEXEL_OK);
        ASSERT_EQ(vexel_writer_add_frame(w, a.data(), W, H, W * 3, VEXEL_PIXELS_RGB), VEXEL_OK);
        if (pictures == 2) {
            EXPECT_EQ(vexel_writer_add_frame(w, a.data(), W, H, W * 3, VEXEL_PIXELS_RGB), VEXEL_ERROR_IO);
        } else {
            EXPECT_EQ(vexel_writer_finish(w), VEXEL_ERROR_IO);
        }
        vexel_writer_close(w);
        EXPECT_EQ(names(dir.path()).size(), 2u) << pictures << " pictures";
        EXPECT_TRUE(names(folder).empty());
    }
}

// Pixel layouts and strides, in and out.
TEST(Library, PixelsGoInAndComeOutInEitherLayoutAndAnyStride) {
    constexpr std::uint32_t W = 40, H = 24;
    const Bytes rgb = frame(W, H, 0);
    const std::size_t stride = W * 4 + 20;
    Bytes bgra(stride * H, 0x5A);
    for (std::uint32_t y = 0; y < H; ++y)
        for (std::uint32_t x = 0; x < W; ++x) {
            const std::uint8_t* p = &rgb[(y * W + x) * 3];
            std::uint8_t* q = &bgra[y * stride + x * 4];
            q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = 7; // alpha is ignored
        }
    vexel_writer* w = nullptr;
    ASSERT_EQ(vexel_writer_open_memory(nullptr, &w), VEXEL_OK);
    EXPECT_EQ(vexel_writer_add_frame(w, bgra.data(), W, H, W * 4 - 1, VEXEL_PIXELS_BGRA), VEXEL_ERROR_ARGUMENT);
    EXPECT_EQ(vexel_writer_add_frame(w, bgra.data(), W, H, stride, static_cast<vexel_pixel_format>(9)),
              VEXEL_ERROR_ARGUMENT);
    EXPECT_EQ(vexel_writer_add_frame(w, bgra.data(), 0, H, stride, VEXEL_PIXELS_BGRA), VEXEL_ERROR_ARGUMENT);
    ASSERT_EQ(vexel_writer_add_frame(w, bgra.data(), W, H, stride, VEXEL_PIXELS_BGRA), VEXEL_OK);
    ASSERT_EQ(vexel_writer_finish(w), VEXEL_OK);
    const void* data = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(vexel_writer_bytes(w, &data, &size), VEXEL_OK);
    const Bytes fromBgra(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    vexel_writer_close(w);
    EXPECT_EQ(fromBgra, pack({rgb}, W, H));

    vexel_reader* r = nullptr;
    ASSERT_EQ(vexel_reader_open_memory(fromBgra.data(), fromBgra.size(), nullptr, &r), VEXEL_OK);
    Bytes out(stride * H, 0xEE), plain(W * H * 3);
    ASSERT_EQ(vexel_reader_decode(r, 0, VEXEL_PIXELS_RGB, plain.data(), W * 3, plain.size()), VEXEL_OK);
    ASSERT_EQ(vexel_reader_decode(r, 0, VEXEL_PIXELS_BGRA, out.data(), stride, out.size()), VEXEL_OK);
    for (std::uint32_t y = 0; y < H; ++y) {
        for (std::uint32_t x = 0; x < W; ++x) {
            const std::uint8_t* p = &plain[(y * W + x) * 3];
            const std::uint8_t* q = &out[y * stride + x * 4];
            ASSERT_EQ(q[0], p[2]);
            ASSERT_EQ(q[1], p[1]);
            ASSERT_EQ(q[2], p[0]);
            ASSERT_EQ(q[3], 255);
        }
        // The padding past each row stays the caller's.
        for (std::size_t k = W * 4; k < stride; ++k) ASSERT_EQ(out[y * stride + k], 0xEE);
    }
    vexel_reader_close(r);
}

// Untrusted data: every prefix and a spoilt copy of a clip open or are
// refused with a status; nothing crashes, and the limits hold. A record
// that a prefix holds whole decodes; the one it cuts is corrupt.
TEST(Library, CutAndSpoiltFilesGetAStatus) {
    constexpr std::uint32_t W = 32, H = 32;
    vexel_write_options options;
    vexel_write_options_default(&options);
    options.frame_rate = 10;
    const Bytes file = pack({frame(W, H, 0), frame(W, H, 1)}, W, H, &options);
    std::vector<std::uint64_t> ends; // of each record of the whole file
    {
        vexel_reader* whole = nullptr;
        ASSERT_EQ(vexel_reader_open_memory(file.data(), file.size(), nullptr, &whole), VEXEL_OK);
        std::size_t count = 0;
        ASSERT_EQ(vexel_reader_record_count(whole, &count), VEXEL_OK);
        for (std::size_t i = 0; i < count; ++i) {
            vexel_record_info info;
            ASSERT_EQ(vexel_reader_record_info(whole, i, &info), VEXEL_OK);
            ends.push_back(info.offset + info.size);
        }
        vexel_reader_close(whole);
        ASSERT_EQ(ends.size(), 2u);
    }
    Bytes pixels(W * H * 3);
    for (std::size_t n = 0; n < file.size(); n += 7) {
        vexel_reader* r = nullptr;
        const vexel_status opened = vexel_reader_open_memory(file.data(), n, nullptr, &r);
        if (opened != VEXEL_OK) {
            EXPECT_EQ(opened, VEXEL_ERROR_NOT_VX) << n;
            EXPECT_EQ(r, nullptr);
            continue;
        }
        std::size_t count = 0;
        EXPECT_EQ(vexel_reader_record_count(r, &count), VEXEL_OK);
        for (std::size_t i = 0; i < count; ++i) {
            const vexel_status s = vexel_reader_decode(r, i, VEXEL_PIXELS_RGB, pixels.data(), W * 3, pixels.size());
            EXPECT_EQ(s, ends[i] <= n ? VEXEL_OK : VEXEL_ERROR_CORRUPT) << n << ": " << vexel_status_string(s);
        }
        vexel_reader_close(r);
    }
    vexel_read_options limits;
    vexel_read_options_default(&limits);
    limits.max_memory = 1000;
    vexel_reader* r = nullptr;
    ASSERT_EQ(vexel_reader_open_memory(file.data(), file.size(), &limits, &r), VEXEL_OK);
    EXPECT_EQ(vexel_reader_decode(r, 0, VEXEL_PIXELS_RGB, pixels.data(), W * 3, pixels.size()), VEXEL_ERROR_TOO_LARGE);
    vexel_reader_close(r);
    limits.legacy_flags = 4;
    EXPECT_EQ(vexel_reader_open_memory(file.data(), file.size(), &limits, &r), VEXEL_ERROR_ARGUMENT);
}
