// The decompression pipeline in the process: records written by the
// compression pipeline (or by hand) read back through decompressRecord, in
// order and in the pool, directly and through the cache; the copy and repack
// conversions; bad and hostile files.
#include "pipeline/decompression_pipeline.h"

#include "codec/container.h"
#include "codec/frame_decoder.h"
#include "pipeline/codec_session.h"
#include "pipeline/compression_pipeline.h"
#include "platform/test_hooks.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/dialog_capture.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Picture;

// ------------------------------------------------------------ pictures

Picture blank(int w, int h) { return Picture{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)}; }

// Smooth gradients: what the gradient blocks are made for.
Picture smoothPicture(int w, int h) {
    Picture p = blank(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* px = p.at(x, y);
            px[0] = static_cast<std::uint8_t>(40 + 150 * x / w);
            px[1] = static_cast<std::uint8_t>(60 + 120 * y / h);
            px[2] = static_cast<std::uint8_t>(128 + 90 * std::sin((x + y) / 23.0));
        }
    return p;
}

// Noise: every block is detail, the hardest case.
Picture noisePicture(int w, int h, unsigned seed = 7) {
    Picture p = blank(w, h);
    std::mt19937 random(seed);
    for (std::uint8_t& v : p.rgb) v = static_cast<std::uint8_t>(random());
    return p;
}

// Text-like edges: dark strokes one to three pixels wide on a light page.
Picture textPicture(int w, int h) {
    Picture p = blank(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool stroke = (x % 11 < 1 + (y / 9) % 3 && y % 9 < 7) || (y % 9 == 3 && x % 23 < 15);
            std::uint8_t* px = p.at(x, y);
            for (int c = 0; c < 3; ++c) px[c] = stroke ? static_cast<std::uint8_t>(20 + 10 * c) : 235;
        }
    return p;
}

// A smooth background with a detailed square that moves with the frame.
Picture movingPicture(int w, int h, int frame) {
    Picture p = smoothPicture(w, h);
    std::mt19937 random(99);
    for (int y = 10; y < 34 && y < h; ++y)
        for (int x = 3 * frame; x < 3 * frame + 24 && x < w; ++x)
            for (int c = 0; c < 3; ++c) p.at(x, y)[c] = static_cast<std::uint8_t>(random());
    return p;
}

double psnr(const Picture& a, const Picture& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 0;
    double se = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = static_cast<double>(a.rgb[i]) - b.rgb[i];
        se += d * d;
    }
    const double mse = se / static_cast<double>(a.rgb.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// ------------------------------------------------------------ writing

// The record's picture planes take the picture, as the bitmap reader leaves them.
void hold(CodecSession& record, const Picture& p) {
    ASSERT_TRUE(record.picture.planes.allocate(p.width, p.height));
    record.picture.infoHeader = BitmapInfoHeader();
    record.picture.infoHeader.width = p.width;
    record.picture.infoHeader.height = p.height;
    record.picture.infoHeader.xPelsPerMeter = 2835;
    record.picture.infoHeader.yPelsPerMeter = 2835;
    record.picture.currentHeader = record.picture.infoHeader;
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) record.picture.planes.row(c, y)[x] = p.at(x, y)[c];
}

struct PackSettings {
    std::uint8_t mode = 8;
    std::int8_t optimize = 0;
    std::uint32_t streams = 1;
    double rate = 0; // a rate above 0 makes keyframes count, negative every frame a keyframe
};

// Writes the pictures as one file: a single picture, or a grouped video.
void writeFile(const std::string& path, const std::vector<Picture>& frames, const PackSettings& s) {
    CodecSession record;
    std::uint64_t last = 0;
    double rate = s.rate;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        hold(record, frames[f]);
        CompressionJob job;
        job.outputPath = TWideString::fromUtf8(path);
        job.mode = s.mode;
        job.optimize = s.optimize;
        job.groupFlag = frames.size() > 1;
        job.firstFrame = f == 0;
        job.lastRecordOffset = &last;
        job.frameRate = &rate;
        job.streamCount = s.streams;
        ASSERT_EQ(compressFrame(record, job), kDone) << path << " frame " << f;
        record.picture.frameBuffer.swap(record.picture.planes); // the reference for kept blocks
    }
}

// ------------------------------------------------------------ reading

struct ThreadingChoice {
    explicit ThreadingChoice(Threading t) { setDecodeThreading(t); }
    ~ThreadingChoice() { setDecodeThreading(Threading::Automatic); }
};

// Process-wide state the pipeline keeps gives its memory back at the end of
// every test (the test main counts live blocks).
class DecompressionPipeline : public ::testing::Test {
protected:
    void TearDown() override {
        destroyDecompressionFileCache();
        clearDecompressionStatusText();
    }
    std::string file(const std::string& name) { return dir.file(name); }
    test::TempDir dir;
};

// The picture the record holds, from its planes or its surface.
Picture heldPicture(CodecSession& record) {
    Picture p = blank(record.picture.pictureWidth(), record.picture.pictureHeight());
    if (record.picture.pictureInPlanes()) {
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                for (int c = 0; c < 3; ++c) p.at(x, y)[c] = record.picture.planes.row(c, y)[x];
        return p;
    }
    OffScreenBuffer& g = *record.picture.surfaces;
    PictureAccess access;
    EXPECT_TRUE(g.lockPicture(access));
    if (!access.surface) return p;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::uint32_t v = access.rowFromBottom(y)[x];
            p.at(x, y)[0] = static_cast<std::uint8_t>(v >> g.redShift());
            p.at(x, y)[1] = static_cast<std::uint8_t>(v >> g.greenShift());
            p.at(x, y)[2] = static_cast<std::uint8_t>(v >> g.blueShift());
        }
    g.unlockPicture(access);
    return p;
}

struct Reader {
    CodecSession record;
    RecordRead read;
    bool dropped = false;
    std::uint64_t position = 0;
    DecompressionCall call;

    explicit Reader(const std::string& path, std::uint8_t conversion = 0, bool cache = false) {
        call.path = TWideString::fromUtf8(path);
        call.frameDropped = &dropped;
        call.recordPosition = &position;
        call.read = &read;
        call.conversion = conversion;
        call.cache = cache;
    }
    int next() { return decompressRecord(record, call); }
};

// Every record of a file, decoded in order; the results of the calls end
// at the first one below 1.
std::vector<Picture> readAll(const std::string& path, std::vector<int>* results = nullptr, bool cache = false,
                             bool fastPaint = false) {
    Reader r(path, 0, cache);
    r.call.fastPaint = fastPaint;
    std::vector<Picture> out;
    for (int guard = 0; guard < 1000; ++guard) {
        const int result = r.next();
        if (results) results->push_back(result);
        if (result < 1) break;
        out.push_back(heldPicture(r.record));
        if (r.position == 0) break;
    }
    return out;
}

Picture readOne(const std::string& path, int expected = kDone) {
    std::vector<int> results;
    std::vector<Picture> pictures = readAll(path, &results);
    EXPECT_EQ(results.size(), 1u);
    EXPECT_EQ(results.empty() ? 99 : results[0], expected) << path;
    return pictures.empty() ? Picture{} : pictures[0];
}

std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
RecordHeader headerOf(const Bytes& file, std::uint64_t at = 0) {
    RecordHeader h;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(256, file.size() - at));
    EXPECT_EQ(parseRecordHeader({file.data() + at, n}, at, file.size(), h), kDone);
    return h;
}

// ------------------------------------------------------------ round trips

// The quality each mode and setting keeps on the three kinds of picture
// (101 x 67, not a multiple of any block size; one stream). The bounds are
// the measured figures less a small margin; see the report for the table.
struct QualityCase {
    std::uint8_t mode;
    std::int8_t optimize;
};

TEST_F(DecompressionPipeline, EveryModeAndSettingDecodesWithinItsMeasuredQuality) {
    const std::map<std::string, Picture> pictures = {
        {"smooth", smoothPicture(101, 67)}, {"noise", noisePicture(101, 67)}, {"text", textPicture(101, 67)}};
    // Lowest PSNR (dB) measured over modes 1 to 9, and in mode 0 (whose
    // colour transforms differ), per picture and setting, less about 1 dB.
    struct Bound {
        double mode0, others;
    };
    const std::map<std::pair<std::string, int>, Bound> bound = {
        {{"smooth", -1}, {33.0, 46.0}}, {{"smooth", 0}, {26.5, 42.0}}, {{"smooth", 1}, {23.5, 36.5}},
        {{"noise", -1}, {11.5, 11.5}},  {{"noise", 0}, {11.4, 11.4}},  {{"noise", 1}, {11.4, 11.4}},
        {{"text", -1}, {37.5, 38.5}},   {{"text", 0}, {37.5, 37.0}},   {{"text", 1}, {37.5, 37.0}}};
    std::string table = "PSNR dB    mode: 0     1     2     3     4     5     6     7     8     9\n";
    for (const auto& [name, picture] : pictures)
        for (int optimize = -1; optimize <= 1; ++optimize) {
            char line[64];
            std::snprintf(line, sizeof line, "%-6s %-5s      ", name.c_str(),
                          optimize < 0 ? "-oq" : optimize > 0 ? "-os" : "dflt");
            table += line;
            for (std::uint8_t mode = 0; mode <= 9; ++mode) {
                const std::string path = file(name + std::to_string(mode) + "_" + std::to_string(optimize) + ".vx");
                writeFile(path, {picture}, {mode, static_cast<std::int8_t>(optimize), 1, 0});
                const double q = psnr(picture, readOne(path));
                std::snprintf(line, sizeof line, "%5.1f ", q);
                table += line;
                const Bound b = bound.at({name, optimize});
                EXPECT_GE(q, mode == 0 ? b.mode0 : b.others) << name << " mode " << int(mode) << " optimize " << optimize;
            }
            table += "\n";
        }
    std::printf("%s", table.c_str());
}

TEST_F(DecompressionPipeline, SeveralStreamsInThePoolAndInOrderGiveIdenticalPixels) {
    const Picture picture = textPicture(150, 131);
    for (std::uint8_t mode : {0, 5, 7, 8, 9}) {
        for (std::uint32_t streams : {2u, 3u, 7u}) {
            const std::string path = file("s" + std::to_string(mode) + "_" + std::to_string(streams) + ".vx");
            writeFile(path, {picture}, {mode, 0, streams, 0});
            EXPECT_EQ(headerOf(test::readFile(path)).streamCount, streams);
            Picture inOrder, inPool;
            {
                ThreadingChoice t(Threading::Sequential);
                inOrder = readOne(path);
            }
            {
                ThreadingChoice t(Threading::Pool);
                inPool = readOne(path);
            }
            EXPECT_TRUE(inOrder == inPool) << "mode " << int(mode) << ", " << streams << " streams";
            EXPECT_GE(psnr(picture, inPool), 18.0);
        }
    }
}

TEST_F(DecompressionPipeline, AVideoWithKeptBlocksDecodesEveryFrameInOrderAndInThePool) {
    std::vector<Picture> frames;
    for (int f = 0; f < 6; ++f) frames.push_back(movingPicture(96, 72, f));
    for (std::uint8_t mode : {7, 8, 9}) {
        const std::string path = file("video" + std::to_string(mode) + ".vx");
        writeFile(path, frames, {mode, 0, 2, 25});
        std::vector<Picture> inOrder, inPool;
        {
            ThreadingChoice t(Threading::Sequential);
            inOrder = readAll(path);
        }
        {
            ThreadingChoice t(Threading::Pool);
            inPool = readAll(path);
        }
        ASSERT_EQ(inOrder.size(), frames.size());
        ASSERT_EQ(inPool.size(), frames.size());
        for (std::size_t f = 0; f < frames.size(); ++f) {
            EXPECT_TRUE(inOrder[f] == inPool[f]) << "mode " << int(mode) << " frame " << f;
            // The noisy square loses its colour detail to the chroma cells.
            EXPECT_GE(psnr(frames[f], inOrder[f]), 21.5) << "mode " << int(mode) << " frame " << f;
        }
    }
}

// What a viewer going back needs to know of a record: whether it took blocks
// from the frame before it. At 3 frames a second frames 0, 2 and 4 are
// keyframes; the frames between keep the still background.
TEST_F(DecompressionPipeline, ARecordSaysWhetherItTookBlocksFromTheFrameBefore) {
    std::vector<Picture> frames;
    for (int f = 0; f < 6; ++f) frames.push_back(movingPicture(96, 72, f));
    for (std::uint8_t mode : {7, 8, 9})
        for (double rate : {3.0, -3.0})
            for (Threading threading : {Threading::Sequential, Threading::Pool}) {
                const std::string path = file("kept" + std::to_string(mode) + (rate > 0 ? "" : "k") + ".vx");
                writeFile(path, frames, {mode, 0, 2, rate});
                ThreadingChoice t(threading);
                Reader r(path);
                std::vector<bool> reused;
                for (int guard = 0; guard < 10; ++guard) {
                    ASSERT_EQ(r.next(), kDone);
                    EXPECT_TRUE(r.read.decoded);
                    reused.push_back(r.read.reusesPrevious);
                    if (r.position == 0) break;
                }
                // A negative rate makes every frame a keyframe.
                const std::vector<bool> expected =
                    rate > 0 ? std::vector<bool>{false, true, false, true, false, true} : std::vector<bool>(6, false);
                EXPECT_EQ(reused, expected) << "mode " << int(mode) << " rate " << rate << " pool "
                                            << (threading == Threading::Pool);
            }
    // A dropped record is not decoded: nothing is known of its blocks.
    const std::string path = file("kept8.vx");
    Reader r(path);
    r.dropped = true;
    ASSERT_EQ(r.next(), kDone);
    EXPECT_TRUE(r.read.headerRead);
    EXPECT_FALSE(r.read.decoded);
}

TEST_F(DecompressionPipeline, ReadingThroughTheCacheGivesTheSamePictures) {
    std::vector<Picture> frames;
    for (int f = 0; f < 4; ++f) frames.push_back(movingPicture(80, 48, f));
    const std::string path = file("cached.vx");
    writeFile(path, frames, {8, 0, 1, 25});
    std::vector<int> direct, cached;
    const std::vector<Picture> a = readAll(path, &direct), b = readAll(path, &cached, true);
    EXPECT_EQ(direct, std::vector<int>(4, kDone));
    EXPECT_EQ(cached, std::vector<int>(4, kDone));
    EXPECT_TRUE(a == b);
}

// ------------------------------------------------------------ call values

TEST_F(DecompressionPipeline, TheCallTakesModeThreadCountRateAndTheNextRecordFromTheFile) {
    const std::string path = file("three.vx");
    std::vector<Picture> frames(3, smoothPicture(64, 40));
    writeFile(path, frames, {8, 0, 3, 12.5});
    const Bytes bytes = test::readFile(path);
    Reader r(path);
    ASSERT_EQ(r.next(), kDone);
    EXPECT_TRUE(r.read.headerRead && r.read.threadsKnown);
    EXPECT_EQ(r.read.mode, 8);
    EXPECT_EQ(r.read.threads, 3);
    EXPECT_EQ(r.read.frameRate, 12.5);
    // "Frames left" is the next record's file offset.
    EXPECT_EQ(r.position, headerOf(bytes).nextRecord);
    ASSERT_EQ(r.next(), kDone);
    ASSERT_EQ(r.next(), kDone);
    EXPECT_EQ(r.position, 0u);

    // A mode below 2 takes one thread whatever the stream count.
    const std::string one = file("mode1.vx");
    writeFile(one, {smoothPicture(64, 40)}, {1, 0, 3, 0});
    Reader m(one);
    ASSERT_EQ(m.next(), kDone);
    EXPECT_EQ(m.read.threads, 1);
    EXPECT_EQ(m.read.mode, 1);

    // A dropped record is read, not decoded: its threads are not learnt.
    Reader dropped(path);
    dropped.dropped = true;
    ASSERT_EQ(dropped.next(), kDone);
    EXPECT_TRUE(dropped.read.headerRead);
    EXPECT_FALSE(dropped.read.threadsKnown);
    // Not a record: nothing is learnt.
    const std::string text = file("text.vx");
    test::writeFile(text, Bytes(100, 'x'));
    Reader none(text);
    EXPECT_EQ(none.next(), kNotVx);
    EXPECT_FALSE(none.read.headerRead);
}

TEST_F(DecompressionPipeline, AFileFrameRateThatIsNoRateReadsAsZero) {
    const std::string path = file("rate.vx");
    writeFile(path, {smoothPicture(16, 16), smoothPicture(16, 16)}, {7, 0, 1, 25});
    const Bytes good = test::readFile(path);
    const double rates[] = {std::nan(""), INFINITY, -INFINITY, 1000.5, 1e300, -25.0, 1000.0};
    const double expected[] = {0, 0, 0, 0, 0, 25.0, 1000.0};
    for (int i = 0; i < 7; ++i) {
        Bytes b = good;
        std::memcpy(b.data() + kFrameRateOffset, &rates[i], 8);
        const std::string name = file("rate" + std::to_string(i) + ".vx");
        ASSERT_TRUE(test::writeFile(name, b));
        Reader r(name);
        ASSERT_EQ(r.next(), kDone) << i;
        EXPECT_EQ(r.read.frameRate, expected[i]) << i;
    }
}

TEST_F(DecompressionPipeline, ADroppedRecordIsCheckedButNeitherDrawnNorTimed) {
    const std::string path = file("drop.vx");
    writeFile(path, {smoothPicture(40, 24), noisePicture(40, 24)}, {8, 0, 1, 25});
    Reader r(path);
    ASSERT_EQ(r.next(), kDone);
    const Picture first = heldPicture(r.record);
    const long double interval = smoothedFrameInterval();
    r.dropped = true;
    ASSERT_EQ(r.next(), kDone);
    EXPECT_EQ(r.position, 0u);
    EXPECT_EQ(smoothedFrameInterval(), interval);
    EXPECT_TRUE(heldPicture(r.record) == first);
}

TEST_F(DecompressionPipeline, TheStatusTextShowsTheDrawIntervalThenBothIntervals) {
    const std::string path = file("status.vx");
    writeFile(path, std::vector<Picture>(3, smoothPicture(64, 64)), {8, 0, 1, 25});
    clearDecompressionStatusText();
    resetDecompressionTiming(0);
    Reader r(path);
    ASSERT_EQ(r.next(), kDone);
    // Seconds as "d", "d.f" .. "d.ffff" (trimmed) or exactly "d.ffff", either separator.
    auto seconds = [](const std::string& t, bool trimmed) {
        const bool whole = t.size() == 1 && std::isdigit(static_cast<unsigned char>(t[0]));
        if (trimmed && whole) return true;
        if (t.size() < 3 || t.size() > 6 || !std::isdigit(static_cast<unsigned char>(t[0])) || (t[1] != '.' && t[1] != ','))
            return false;
        for (std::size_t i = 2; i < t.size(); ++i)
            if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
        return trimmed ? t.back() != '0' : t.size() == 6;
    };
    auto between = [](const std::string& t, const std::string& before, const std::string& after) {
        const std::size_t a = t.find(before), b = t.find(after, a == std::string::npos ? 0 : a + before.size());
        return a == std::string::npos || b == std::string::npos ? std::string("?")
                                                                : t.substr(a + before.size(), b - a - before.size());
    };
    const std::string first = decompressionStatusText().toUtf8();
    EXPECT_EQ(first.rfind("(draw interval = ", 0), 0u) << first;
    EXPECT_EQ(first.substr(first.size() - 4), " s) ") << first;
    EXPECT_TRUE(seconds(between(first, "(draw interval = ", " s) "), true)) << first;
    ASSERT_EQ(r.next(), kDone);
    const std::string second = decompressionStatusText().toUtf8();
    EXPECT_EQ(second.rfind(" (frame interval = ", 0), 0u) << second;
    EXPECT_EQ(second.substr(second.size() - 3), " s)") << second;
    EXPECT_TRUE(seconds(between(second, " (frame interval = ", " s, draw"), false)) << second;
    EXPECT_TRUE(seconds(between(second, "draw interval = ", " s)"), false)) << second;
    EXPECT_GT(smoothedFrameInterval(), 0);
    // After a pause the statistics start again from now.
    resetDecompressionTiming(0);
    EXPECT_EQ(smoothedFrameInterval(), 0);
    EXPECT_EQ(smoothedDrawInterval(), 0);
}

TEST_F(DecompressionPipeline, APreviousPictureOfAnotherSizeIsNoPreviousPicture) {
    const std::string path = file("small.vx");
    writeFile(path, {movingPicture(64, 72, 0), movingPicture(64, 72, 1)}, {8, 0, 1, 25});
    Reader r(path);
    ASSERT_TRUE(r.record.picture.frameBuffer.allocate(64, 48)); // a 64 x 48 previous picture
    ASSERT_EQ(r.next(), kDone);
    std::int32_t w, h;
    EXPECT_FALSE(r.record.picture.previousPictureSize(w, h));
    EXPECT_EQ(r.record.picture.currentHeader.width, 64);
    EXPECT_EQ(r.record.picture.currentHeader.height, 72);
    EXPECT_EQ(r.record.picture.currentHeader.xPelsPerMeter, 2835);
}

TEST_F(DecompressionPipeline, PicturesLargerThanTheScreenAndSeveralStreamsGoToThePlanes) {
    const std::string wide = file("wide.vx"), tall = file("two.vx");
    writeFile(wide, {smoothPicture(1930, 8)}, {8, 0, 1, 0});
    writeFile(tall, {smoothPicture(40, 40)}, {8, 0, 2, 0});
    Reader a(wide);
    ASSERT_EQ(a.next(), kDone);
    EXPECT_TRUE(a.record.picture.pictureInPlanes());
    EXPECT_FALSE(a.record.picture.surfaceFollowsPicture);
    Reader b(tall);
    b.record.picture.planesWanted = true;
    ASSERT_EQ(b.next(), kDone);
    EXPECT_TRUE(b.record.picture.pictureInPlanes());
    const std::string single = file("one.vx");
    writeFile(single, {smoothPicture(40, 40)}, {8, 0, 1, 0});
    Reader c(single);
    ASSERT_EQ(c.next(), kDone);
    EXPECT_FALSE(c.record.picture.pictureInPlanes());
    EXPECT_TRUE(c.record.picture.paintable);
}

// ------------------------------------------------------------ the pool

TEST_F(DecompressionPipeline, APoolIsKeptForItsStreamCountAndReleasedOnAnother) {
    ThreadingChoice t(Threading::Pool);
    const std::string three = file("three.vx"), four = file("four.vx");
    writeFile(three, std::vector<Picture>(2, smoothPicture(48, 80)), {8, 0, 3, 0});
    writeFile(four, {smoothPicture(48, 80)}, {8, 0, 4, 0});
    Reader r(three);
    ASSERT_EQ(r.next(), kDone);
    WorkerPool* pool = r.record.codec.decompressionPool.get();
    ASSERT_NE(pool, nullptr);
    ASSERT_EQ(r.next(), kDone);
    EXPECT_EQ(r.record.codec.decompressionPool.get(), pool);
    r.call.path = TWideString::fromUtf8(four);
    r.position = 0;
    ASSERT_EQ(r.next(), kDone);
    EXPECT_NE(r.record.codec.decompressionPool.get(), nullptr);
    finishDecompression(r.record.codec);
    EXPECT_EQ(r.record.codec.decompressionPool.get(), nullptr);
}

TEST_F(DecompressionPipeline, AFailingStreamFailsTheRecordAndTheNextRecordDecodesOnAFreshPool) {
    ThreadingChoice t(Threading::Pool);
    const std::string good = file("good.vx"), bad = file("bad.vx");
    const Picture picture = textPicture(60, 90);
    writeFile(good, {picture}, {8, 0, 3, 0});
    Bytes b = test::readFile(good);
    const RecordHeader h = headerOf(b);
    // Stream 2 no longer expands: its bytes are noise.
    const ByteRange two = streamRange(h, 2);
    std::mt19937 random(5);
    for (std::uint64_t i = two.begin; i < two.end; ++i) b[i] = static_cast<std::uint8_t>(random());
    ASSERT_TRUE(test::writeFile(bad, b));

    Reader r(bad);
    EXPECT_EQ(r.next(), kFailed);
    EXPECT_FALSE(r.record.picture.paintable);
    EXPECT_EQ(r.record.codec.decompressionPool.get(), nullptr);
    // The same record, twice more, then a good one: no hang, no stale state.
    r.position = 0;
    EXPECT_EQ(r.next(), kFailed);
    r.position = 0;
    r.call.path = TWideString::fromUtf8(good);
    ASSERT_EQ(r.next(), kDone);
    Picture pooled = heldPicture(r.record);
    ThreadingChoice sequential(Threading::Sequential);
    EXPECT_TRUE(pooled == readOne(good));
}

// Every stream of a four-stream video with kept blocks failing in each stage,
// one after another and in the pool: the record fails with its stage's
// result, nothing hangs, and the same record read again (on a fresh pool)
// and the records after it give the uninterrupted run's pictures.
TEST_F(DecompressionPipeline, AStreamFailingInAnyStageFailsOnlyItsRecord) {
    VEXEL_NEEDS_TEST_HOOKS(); // the failing streams are test hooks
    struct FailingStage {
        FailingStage(std::int32_t stream, platform::StreamFault stage) { platform::failStreamForTest(stream, stage); }
        ~FailingStage() { platform::failStreamForTest(-1, platform::StreamFault::Allocate); }
    };
    std::vector<Picture> frames;
    for (int f = 0; f < 5; ++f) frames.push_back(movingPicture(96, 72, f));
    const std::string path = file("video.vx");
    writeFile(path, frames, {8, 0, 4, 25});
    for (Threading threading : {Threading::Sequential, Threading::Pool}) {
        ThreadingChoice t(threading);
        const std::vector<Picture> whole = readAll(path);
        ASSERT_EQ(whole.size(), frames.size());
        for (platform::StreamFault stage : {platform::StreamFault::Allocate, platform::StreamFault::Parse, platform::StreamFault::Draw})
            for (std::int32_t stream = 1; stream <= 4; ++stream) {
                SCOPED_TRACE(testing::Message() << "stage " << int(stage) << " stream " << stream);
                Reader r(path);
                std::vector<Picture> read;
                for (int f = 0; f < 5; ++f) {
                    if (f == 2) {
                        const std::uint64_t at = r.position;
                        FailingStage failing(stream, stage);
                        EXPECT_EQ(r.next(), stage == platform::StreamFault::Allocate ? kNoMemory : kFailed);
                        EXPECT_FALSE(r.record.picture.paintable);
                        EXPECT_EQ(r.record.codec.decompressionPool.get(), nullptr);
                        r.position = at;
                    }
                    ASSERT_EQ(r.next(), kDone) << f;
                    read.push_back(heldPicture(r.record));
                }
                for (std::size_t f = 0; f < frames.size(); ++f) EXPECT_TRUE(read[f] == whole[f]) << "frame " << f;
            }
    }
}

// ------------------------------------------------------------ bad files

TEST_F(DecompressionPipeline, BadFilesFailWithTheirResult) {
    test::DialogCapture capture;
    const std::string good = file("good.vx");
    writeFile(good, {noisePicture(40, 30)}, {8, 0, 1, 0});
    const Bytes bytes = test::readFile(good);
    auto tryFile = [&](const Bytes& b) {
        const std::string name = file("case.vx");
        std::filesystem::remove(name);
        EXPECT_TRUE(test::writeFile(name, b));
        std::vector<int> results;
        readAll(name, &results);
        return results.empty() ? 99 : results.back();
    };
    EXPECT_EQ(tryFile(bytes), kDone);
    Bytes magic = bytes;
    magic[3] = 'x';
    EXPECT_EQ(tryFile(magic), kNotVx);
    Bytes mode = bytes;
    mode[kModeOffset] = 10;
    EXPECT_EQ(tryFile(mode), kNotVx);
    EXPECT_EQ(tryFile({bytes.begin(), bytes.begin() + 40}), kNotVx); // the header ends early
    // A payload that ends early does not expand.
    EXPECT_EQ(tryFile({bytes.begin(), bytes.end() - 30}), kFailed);
    // A picture far too large for any machine fails as "no memory" before anything is made.
    Bytes huge = bytes;
    put32(huge, kWidthOffset, 200000);
    put32(huge, kHeightOffset, 300000);
    EXPECT_EQ(tryFile(huge), kNoMemory);
    EXPECT_EQ(tryFile({}), kFailed); // nothing to read

    // A missing file: the system message, then -1.
    Reader missing(file("missing.vx"));
    EXPECT_EQ(missing.next(), kFileError);
    ASSERT_EQ(capture.messages.size(), 1u);
    // A record position past the end: a failed read directly, -1 through the cache.
    Reader past(good);
    past.position = bytes.size() + 10;
    EXPECT_EQ(past.next(), kFailed);
    Reader pastCached(good, 0, true);
    pastCached.position = bytes.size() + 10;
    EXPECT_EQ(pastCached.next(), kFileError);
}

TEST_F(DecompressionPipeline, ModesUpToSevenCutShortInTheTrailerOrTheBlockAreaFailCleanly) {
    const std::string good = file("good.vx");
    writeFile(good, {textPicture(40, 30)}, {5, 0, 1, 0});
    const Bytes bytes = test::readFile(good);
    for (std::size_t cut : {1u, 10u, 100u}) {
        const std::string name = file("cut" + std::to_string(cut) + ".vx");
        ASSERT_TRUE(test::writeFile(name, {bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(cut)}));
        std::vector<int> results;
        readAll(name, &results);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0], kFailed) << cut; // a trailer cut short fails as a block area cut short does
    }
    const std::string name = file("area.vx");
    ASSERT_TRUE(test::writeFile(name, {bytes.begin(), bytes.begin() + 60}));
    readOne(name, kFailed);
}

// The fuzz target's saved inputs: small files the encoder writes (every
// mode, several streams, a video with kept blocks and motion, a hand-made
// 31-byte header) and known-bad files that must fail cleanly ("bad_*").
// With VEXEL_WRITE_FUZZ_SEEDS=1 in the environment this writes them into
// fuzz/corpus/decodeRecord; otherwise it checks that each is small.
Bytes thirtyOneByteRecord();

std::map<std::string, Bytes> decodeRecordSeeds(const test::TempDir& dir) {
    std::map<std::string, Bytes> seeds;
    auto write = [&](const std::string& name, const std::vector<Picture>& frames, const PackSettings& s) {
        const std::string path = dir.file(name);
        writeFile(path, frames, s);
        seeds[name] = test::readFile(path);
    };
    const Picture text = textPicture(21, 19), smooth = smoothPicture(21, 19);
    for (std::uint8_t mode = 0; mode <= 9; ++mode)
        write("mode" + std::to_string(mode) + "_picture.vx", {mode % 2 ? smooth : text}, {mode, 0, 1, 0});
    write("mode5_quality_b4.vx", {text}, {5, -1, 1, 0});
    write("mode3_quality_b4.vx", {smooth}, {3, -1, 1, 0});
    write("mode7_size_b16.vx", {text}, {7, 1, 1, 0});
    write("mode8_three_streams.vx", {textPicture(24, 40)}, {8, 0, 3, 0});
    write("mode9_two_streams.vx", {smoothPicture(24, 40)}, {9, 0, 2, 0});
    write("mode2_two_streams.vx", {textPicture(16, 24)}, {2, 0, 2, 0});
    std::vector<Picture> video;
    for (int f = 0; f < 3; ++f) video.push_back(movingPicture(40, 36, f));
    write("mode7_video_kept.vx", video, {7, 0, 1, 25});
    write("mode8_video_kept.vx", video, {8, 0, 2, 25});
    seeds["old_header_31.vx"] = thirtyOneByteRecord();

    // Known-bad files.
    const Bytes mode8 = seeds["mode8_picture.vx"], mode5 = seeds["mode5_picture.vx"];
    seeds["bad_mode8_payload_cut.vx"] = Bytes(mode8.begin(), mode8.end() - 20);
    seeds["bad_mode5_block_area_cut.vx"] = Bytes(mode5.begin(), mode5.begin() + 60);
    Bytes huge = mode8;
    put32(huge, kWidthOffset, 200000);
    put32(huge, kHeightOffset, 300000);
    seeds["bad_size_too_large.vx"] = huge;
    Bytes wide = seeds["mode0_picture.vx"]; // the same bytes now claim a picture too wide for them
    put32(wide, kWidthOffset, 400);
    seeds["bad_mode0_types_past_payload.vx"] = wide;
    Bytes noisy = seeds["mode8_three_streams.vx"];
    const ByteRange two = streamRange(headerOf(noisy), 2);
    std::mt19937 random(11);
    for (std::uint64_t i = two.begin; i < two.end; ++i) noisy[i] = static_cast<std::uint8_t>(random());
    seeds["bad_stream2_does_not_expand.vx"] = noisy;
    Bytes nine = seeds["mode9_picture.vx"];
    put32(nine, headerOf(nine).headerSize, 0x7FFFFFFF); // the first part's length leaves the stream
    seeds["bad_mode9_part_length.vx"] = nine;
    Bytes chain = seeds["mode7_video_kept.vx"];
    chain[headerOf(chain).nextRecord + 2] ^= 0x20; // the second record's magic
    seeds["bad_second_record_magic.vx"] = chain;
    Bytes modeTen = seeds["mode7_picture.vx"];
    modeTen[kModeOffset] = 10;
    seeds["bad_mode10.vx"] = modeTen;
    // Files cut short: inside the last trailer section, through a stream
    // table (later streams start past the end), inside a second record.
    const Bytes seven = seeds["mode7_picture.vx"], three = seeds["mode8_three_streams.vx"],
                clip = seeds["mode7_video_kept.vx"];
    seeds["bad_mode7_trailer_cut.vx"] = Bytes(seven.begin(), seven.begin() + static_cast<std::ptrdiff_t>(seven.size() * 19 / 20));
    seeds["bad_mode8_stream_table_cut.vx"] = Bytes(three.begin(), three.begin() + static_cast<std::ptrdiff_t>(three.size() / 2));
    const std::uint64_t secondRecord = headerOf(clip).nextRecord;
    seeds["bad_mode7_second_record_cut.vx"] =
        Bytes(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(secondRecord + (clip.size() - secondRecord) / 4));
    return seeds;
}

TEST_F(DecompressionPipeline, TheDecodeRecordSeedsAreSmallAndWrittenOnRequest) {
    const std::map<std::string, Bytes> seeds = decodeRecordSeeds(dir);
    const std::string folder = std::string(VEXEL_SOURCE_DIR) + "/fuzz/corpus/decodeRecord";
    const char* write = std::getenv("VEXEL_WRITE_FUZZ_SEEDS");
    if (write && std::string(write) == "1") {
        std::filesystem::create_directories(folder);
        for (const auto& [name, bytes] : seeds) ASSERT_TRUE(test::writeFile(folder + "/" + name, bytes));
    }
    for (const auto& [name, bytes] : seeds) {
        EXPECT_LT(bytes.size(), 4096u) << name;
        EXPECT_TRUE(std::filesystem::exists(folder + "/" + name)) << name;
    }
}

// Every file of the fuzz corpus is read to its end: the seeds decode, the
// known-bad files ("bad_*") fail cleanly.
TEST_F(DecompressionPipeline, TheFuzzCorpusSeedsDecodeAndItsKnownBadFilesFail) {
    const std::filesystem::path folder = std::filesystem::path(VEXEL_SOURCE_DIR) / "fuzz/corpus/decodeRecord";
    int seeds = 0, bad = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::vector<int> results;
        readAll(entry.path().string(), &results);
        ASSERT_FALSE(results.empty());
        const std::string name = entry.path().filename().string();
        // What a fuzzing campaign found may decode or fail: it only must not crash.
        if (name.rfind("found_", 0) == 0) continue;
        const bool known_bad = name.rfind("bad_", 0) == 0;
        if (known_bad) {
            EXPECT_LT(results.back(), kDone) << entry.path();
            ++bad;
        } else {
            EXPECT_EQ(results.back(), kDone) << entry.path();
            ++seeds;
        }
    }
    EXPECT_GE(seeds, 10);
    EXPECT_GE(bad, 5);
}

// ------------------------------------------------------------ conversions

// Copies every record of source into target through the copy conversion.
int copyConvert(const std::string& source, const std::string& target, std::uint8_t legacyFlags = 0) {
    Reader r(source, 1);
    r.record.codec.legacyFlags = legacyFlags;
    std::uint64_t last = 0;
    double rate = 0;
    for (int frame = 0; frame < 1000; ++frame) {
        const bool more = r.position != 0 || frame == 0;
        if (!more) return kDone;
        int result = r.next();
        if (result < 1) return result;
        if (rate == 0) rate = r.read.frameRate;
        CompressionJob job;
        job.outputPath = TWideString::fromUtf8(target);
        job.mode = r.read.mode;
        job.groupFlag = frame > 0 || r.position != 0;
        job.firstFrame = frame == 0;
        job.lastRecordOffset = &last;
        job.frameRate = &rate;
        job.conversion = 1;
        job.streamCount = r.read.threadsKnown ? static_cast<std::uint32_t>(r.read.threads) : 0;
        result = compressFrame(r.record, job);
        if (result < 1) return result;
    }
    return r.record.grouped.finish();
}

// The stream positions of a mode-2..7 stream's section ends, each with its value.
std::vector<std::pair<std::size_t, std::uint32_t>> sectionEnds(const Bytes& file, const RecordHeader& h) {
    std::vector<std::pair<std::size_t, std::uint32_t>> out;
    std::span<const std::uint8_t> stream(file.data() + h.headerSize, h.recordSize - h.headerSize);
    std::int64_t pos = blockAreaEnd(stream, blockAreaLayout(h, false));
    while (pos >= 0 && static_cast<std::size_t>(pos) + 5 <= stream.size()) {
        const std::uint32_t end = get32(file, h.headerSize + static_cast<std::size_t>(pos));
        out.emplace_back(static_cast<std::size_t>(pos), end);
        if (end < h.headerSize + pos + 5) break;
        pos = end - h.headerSize;
    }
    return out;
}

TEST_F(DecompressionPipeline, CopyingAFortySevenByteModeSevenRecordGrowsTheHeaderAndMovesEverySectionEnd) {
    const std::string source = file("seven.vx"), target = file("seven_converted.vx");
    writeFile(source, {textPicture(77, 45)}, {7, 0, 1, 0});
    const Bytes before = test::readFile(source);
    const RecordHeader h = headerOf(before);
    ASSERT_EQ(h.headerSize, 47u);

    Reader r(source, 1);
    ASSERT_EQ(r.next(), kDone);
    EXPECT_EQ(r.record.copy.length, before.size());
    EXPECT_EQ(r.record.copy.bytes.size(), before.size() + 24);
    ASSERT_EQ(copyConvert(source, target), kDone);

    const Bytes after = test::readFile(target);
    EXPECT_EQ(test::readFile(source), before); // the input is never touched
    ASSERT_EQ(after.size(), before.size() + 24);
    const RecordHeader g = headerOf(after);
    EXPECT_EQ(g.headerSize, 71u);
    EXPECT_EQ(g.mode, 7);
    EXPECT_EQ(g.nextRecord, 0u);
    EXPECT_EQ(g.prevRecord, 0u);
    const auto oldEnds = sectionEnds(before, h), newEnds = sectionEnds(after, g);
    ASSERT_GE(oldEnds.size(), 2u);
    ASSERT_EQ(oldEnds.size(), newEnds.size());
    Bytes expected(before.begin() + 47, before.end());
    for (std::size_t i = 0; i < oldEnds.size(); ++i) {
        EXPECT_EQ(oldEnds[i].first, newEnds[i].first);
        EXPECT_EQ(newEnds[i].second, oldEnds[i].second + 24);
        put32(expected, oldEnds[i].first, oldEnds[i].second + 24);
    }
    EXPECT_EQ(Bytes(after.begin() + 71, after.end()), expected);
    EXPECT_TRUE(readOne(source) == readOne(target));
}

// A record with the shortest header the format allows, made by hand: 6 x 5
// pixels, B = 4, mode 0 and D = 2 by default; three detail blocks and one
// gradient block.
Bytes thirtyOneByteRecord() {
    Bytes b(kRecordMagic, kRecordMagic + 18);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    u32(31);
    u32(6);
    u32(5);
    b.push_back(4);
    auto detail = [&](int lumaBytes, int cells, int seed) {
        b.push_back(0);
        for (int i = 0; i < lumaBytes; ++i) b.push_back(static_cast<std::uint8_t>(60 + 9 * i + seed));
        for (int i = 0; i < cells; ++i) {
            b.push_back(static_cast<std::uint8_t>(120 + 5 * i + seed)); // Cr
            b.push_back(static_cast<std::uint8_t>(135 - 4 * i));        // Cb
        }
    };
    detail(16, 4, 0); // (0, 0): 4 x 4 pixels, cells at rows and columns 0 and 2
    detail(8, 2, 3);  // (1, 0): columns 4 and 5 only
    detail(4, 2, 7);  // (0, 1): row 4 only
    for (std::uint8_t v : {1, 0x00, 0x33, 100, 5, 150, 0xFB, 200, 10}) b.push_back(v); // (1, 1): gradient
    return b;
}

TEST_F(DecompressionPipeline, CopyingAThirtyOneByteHeaderFillsTheMissingFields) {
    const Bytes record = thirtyOneByteRecord();
    const std::string source = file("old.vx"), target = file("old_converted.vx");
    ASSERT_TRUE(test::writeFile(source, record));
    const Picture original = readOne(source);

    Reader r(source, 1);
    ASSERT_EQ(r.next(), kDone);
    // The buffer holds the record and the 40 bytes the header grows by.
    EXPECT_EQ(r.record.copy.bytes.size(), record.size() + 40);
    ASSERT_EQ(copyConvert(source, target), kDone);
    const Bytes after = test::readFile(target);
    ASSERT_EQ(after.size(), record.size() + 40);
    const RecordHeader g = headerOf(after);
    EXPECT_EQ(g.headerSize, 71u);
    EXPECT_EQ(g.width, 6u);
    EXPECT_EQ(g.height, 5u);
    EXPECT_EQ(g.blockSize, 4u);
    EXPECT_EQ(g.pixelsPerMeterX, 76200u);
    EXPECT_EQ(g.pixelsPerMeterY, 76200u);
    EXPECT_EQ(g.mode, 0);
    EXPECT_EQ(g.chromaStep, 2);
    EXPECT_EQ(g.coefShifts, kDefaultCoefShifts);
    EXPECT_EQ(g.frameRate, 0.0);
    EXPECT_EQ(Bytes(after.begin() + 71, after.end()), Bytes(record.begin() + 31, record.end()));
    EXPECT_TRUE(readOne(target) == original);
}

TEST_F(DecompressionPipeline, CopyingAVideoKeepsItsChainAndPictures) {
    std::vector<Picture> frames;
    for (int f = 0; f < 4; ++f) frames.push_back(movingPicture(64, 48, f));
    const std::string source = file("clip.vx"), target = file("clip_converted.vx");
    writeFile(source, frames, {5, 0, 1, 30});
    ASSERT_EQ(copyConvert(source, target), kDone);
    const Bytes after = test::readFile(target);
    std::uint64_t at = 0, previous = 0;
    for (int f = 0; f < 4; ++f) {
        const RecordHeader h = headerOf(after, at);
        EXPECT_EQ(h.prevRecord, previous) << f;
        EXPECT_EQ(h.frameRate, 30.0);
        EXPECT_EQ(h.nextRecord == 0, f == 3) << f;
        previous = at;
        at = h.nextRecord;
    }
    EXPECT_TRUE(readAll(source) == readAll(target));
}

// Repacks every record of source into target with the mode and streams given.
int repack(const std::string& source, const std::string& target, std::uint8_t mode, std::uint32_t streams) {
    Reader r(source, 2);
    std::uint64_t last = 0;
    double rate = 0;
    for (int frame = 0; frame == 0 || r.position != 0; ++frame) {
        int result = r.next();
        if (result < 1) return result;
        CompressionJob job;
        job.outputPath = TWideString::fromUtf8(target);
        job.mode = mode != 0 ? mode : r.read.mode;
        job.groupFlag = true;
        job.firstFrame = frame == 0;
        job.lastRecordOffset = &last;
        job.frameRate = &rate;
        job.conversion = 2;
        job.streamCount = streams;
        result = compressFrame(r.record, job);
        if (result < 1) return result;
    }
    return r.record.grouped.finish();
}

TEST_F(DecompressionPipeline, RepackingKeepsThePicturesExactlyWithTheSameStreams) {
    std::vector<Picture> frames;
    for (int f = 0; f < 3; ++f) frames.push_back(movingPicture(90, 70, f));
    const std::string source = file("clip.vx");
    writeFile(source, frames, {8, 0, 2, 25});
    const std::vector<Picture> original = readAll(source);
    ASSERT_EQ(original.size(), 3u);
    for (std::uint8_t mode : {1, 4, 7, 8, 9}) {
        const std::string target = file("clip_" + std::to_string(mode) + ".vx");
        ASSERT_EQ(repack(source, target, mode, 2), kDone) << int(mode);
        const Bytes bytes = test::readFile(target);
        EXPECT_EQ(headerOf(bytes).mode, mode);
        EXPECT_EQ(headerOf(bytes).blockSize, 8u);
        const std::vector<Picture> again = readAll(target);
        ASSERT_EQ(again.size(), 3u) << int(mode);
        for (int f = 0; f < 3; ++f) {
            EXPECT_TRUE(again[f] == original[f]) << "mode " << int(mode) << " frame " << f;
        }
    }
    // Other bands smooth chroma at other rows: close, not identical.
    const std::string three = file("clip_three.vx");
    ASSERT_EQ(repack(source, three, 8, 3), kDone);
    EXPECT_EQ(headerOf(test::readFile(three)).streamCount, 3u);
    const std::vector<Picture> again = readAll(three);
    ASSERT_EQ(again.size(), 3u);
    for (int f = 0; f < 3; ++f) EXPECT_GE(psnr(original[f], again[f]), 40.0);
}

} // namespace
} // namespace vexel

namespace vexel {
namespace {

// Ramps in directions that one anchor byte can carry.
Picture diagonalRamps(int w, int h) {
    Picture p = blank(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                // Steep saw-tooth ramps: 45 degrees, then 90.
                const int v = y < h / 2 ? 20 + 6 * ((x + y) % 30) : 20 + 6 * (y % 30);
                p.at(x, y)[c] = static_cast<std::uint8_t>(std::clamp(v + 15 * c, 0, 255));
            }
    return p;
}

TEST_F(DecompressionPipeline, RepackingIntoOneAnchorByteModesKeepsTheRampsDirections) {
    const std::string source = file("ramps.vx");
    writeFile(source, {diagonalRamps(64, 64)}, {7, -1, 1, 0}); // B = 4, both anchors carried
    // Fast painting draws each block alone, so a wrong direction shows.
    const std::vector<Picture> original = readAll(source, nullptr, false, true);
    ASSERT_EQ(original.size(), 1u);
    for (std::uint8_t mode : {3, 8}) {
        const std::string target = file("ramps_" + std::to_string(mode) + ".vx");
        ASSERT_EQ(repack(source, target, mode, 1), kDone);
        const std::vector<Picture> again = readAll(target, nullptr, false, true);
        ASSERT_EQ(again.size(), 1u);
        EXPECT_GE(psnr(original[0], again[0]), 35.0) << "mode " << int(mode); // 30 dB with the second anchor lost
    }
}

} // namespace
} // namespace vexel
