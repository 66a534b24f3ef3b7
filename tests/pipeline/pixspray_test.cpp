#include "pipeline/pixspray_binding.h"

#include "codec/container.h"
#include "pipeline/codec_session.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vexel {
namespace {

std::u16string folder(const char* path) {
    std::string s(path);
    return std::u16string(s.begin(), s.end());
}

class GpuBinding : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        saved = old ? old : "";
        hadOld = old != nullptr;
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        unsetenv("VEXEL_FAKE_PIXSPRAY_INIT");
        unbindPixSpray();
    }
    void TearDown() override {
        unbindPixSpray();
        unsetenv("VEXEL_FAKE_PIXSPRAY_INIT");
        if (hadOld) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
        else unsetenv("XDG_RUNTIME_DIR");
    }
    // True when another open of the marker can take its lock.
    bool markerFree() {
        int fd = open(pixSprayMarkerPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
        return free;
    }
    test::TempDir runtime;
    std::string saved;
    bool hadOld = false;
};

TEST_F(GpuBinding, TheLibraryBindsForViewingAndHoldsTheMarker) {
    EXPECT_EQ(pixSprayMarkerPath(), runtime.file("pixSpray_inst"));
    ASSERT_TRUE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_DIR), true));
    EXPECT_NE(pixSprayModule(), nullptr);
    EXPECT_EQ(pixSprayDevice(), 0);
    EXPECT_TRUE(pixSprayMarkerHeld());
    EXPECT_FALSE(markerFree()); // a second instance would run without the library
    forgetPixSprayModule();
    EXPECT_EQ(pixSprayModule(), nullptr);
    releasePixSprayMarker();
    EXPECT_TRUE(markerFree());
}

TEST_F(GpuBinding, OtherRunsAndOtherInstancesDoNotBind) {
    EXPECT_FALSE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_DIR), false));
    EXPECT_FALSE(pixSprayMarkerHeld());
    int fd = open(pixSprayMarkerPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0); // another instance holds the marker
    EXPECT_FALSE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_DIR), true));
    EXPECT_EQ(pixSprayModule(), nullptr);
    close(fd);
}

TEST_F(GpuBinding, AFailedInitOrAMissingExportUnloadsSilently) {
    setenv("VEXEL_FAKE_PIXSPRAY_INIT", "-10", 1);
    EXPECT_FALSE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_DIR), true));
    EXPECT_EQ(pixSprayDevice(), -10);
    EXPECT_EQ(pixSprayModule(), nullptr);
    EXPECT_TRUE(markerFree());
    unbindPixSpray();
    unsetenv("VEXEL_FAKE_PIXSPRAY_INIT");
    EXPECT_FALSE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_NOEXPORT_DIR), true));
    EXPECT_TRUE(markerFree());
}

TEST_F(GpuBinding, AMissingLibraryIsSilent) {
    test::TempDir empty;
    EXPECT_FALSE(bindPixSpray(folder((empty.path() + "/").c_str()), true));
    EXPECT_FALSE(pixSprayMarkerHeld());
    EXPECT_TRUE(markerFree());
}

// A single-stream mode-8 record of a smooth picture with sharp patches.
std::vector<std::uint8_t> packedFrame(const std::string& path) {
    CodecSession session;
    const int w = 203, h = 117;
    session.picture.planes.allocate(w, h);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                session.picture.planes.row(c, y)[x] = static_cast<std::uint8_t>(
                    (x / 37 + y / 23) % 5 == 0 ? 230 - 40 * c : 40 + x * (c + 1) / 2 + y * (3 - c) / 3);
    session.picture.infoHeader.width = w;
    session.picture.infoHeader.height = h;
    session.picture.currentHeader = session.picture.infoHeader;
    double rate = 0;
    std::uint64_t last = 0;
    CompressionJob job;
    job.outputPath = TWideString::fromUtf8(path);
    job.mode = 8;
    job.firstFrame = true;
    job.lastRecordOffset = &last;
    job.frameRate = &rate;
    EXPECT_EQ(compressFrame(session, job), kDone);
    return test::readFile(path);
}

// The decoded picture's pixels, red, green, blue, row by row.
std::vector<std::uint8_t> decoded(const std::vector<std::uint8_t>& file, bool planes) {
    RecordHeader h;
    EXPECT_EQ(parseRecordHeader({file.data(), std::min<std::size_t>(file.size(), 256)}, 0, file.size(), h), kDone);
    CodecSession session;
    session.picture.planesWanted = planes;
    RecordDecodeOptions options;
    options.fastPaint = true;
    EXPECT_EQ(decodeRecordBytes(session.codec, session.picture, h, {file.data(), file.size()}, options), kDone);
    std::vector<std::uint8_t> out;
    PictureAccess p;
    if (!planes) {
        EXPECT_TRUE(session.surfaces.lockPicture(p));
    }
    for (std::uint32_t y = 0; y < h.height; ++y)
        for (std::uint32_t x = 0; x < h.width; ++x)
            for (int c = 0; c < 3; ++c)
                out.push_back(planes ? session.picture.planes.row(c, static_cast<std::int32_t>(y))[x]
                                     : static_cast<std::uint8_t>(p.rowFromBottom(static_cast<std::int32_t>(y))[x] >> (16 - 8 * c)));
    if (!planes) session.surfaces.unlockPicture(p);
    clearDecompressionStatusText(); // the draw statistics' text is the run's, not the test's
    return out;
}

TEST_F(GpuBinding, ALibraryThatFailsDrawsTheBandOnTheProcessorAndIsForgotten) {
    const std::vector<std::uint8_t> file = packedFrame(runtime.file("p.vx"));
    for (bool planes : {false, true}) {
        const std::vector<std::uint8_t> alone = decoded(file, planes);
        ASSERT_TRUE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_FAILING_DIR), true));
        EXPECT_EQ(decoded(file, planes), alone);
        EXPECT_EQ(pixSprayModule(), nullptr); // the rest of the run draws on the processor
        unbindPixSpray();
    }
}

TEST_F(GpuBinding, TheDecoderHandsTheLibraryTheBandItDrawsAsTheProcessorWould) {
    const std::vector<std::uint8_t> file = packedFrame(runtime.file("p.vx"));
    for (bool planes : {false, true}) {
        const std::vector<std::uint8_t> alone = decoded(file, planes);
        ASSERT_TRUE(bindPixSpray(folder(VEXEL_FAKE_PIXSPRAY_DRAWING_DIR), true));
        const std::vector<std::uint8_t> sprayed = decoded(file, planes);
        EXPECT_NE(pixSprayModule(), nullptr);
        unbindPixSpray();
        ASSERT_EQ(sprayed.size(), alone.size());
        int off = 0;
        for (std::size_t i = 0; i < alone.size(); ++i) off += std::abs(int{alone[i]} - int{sprayed[i]}) > 1;
        EXPECT_EQ(off, 0) << (planes ? "planes" : "surface");
    }
}

} // namespace
} // namespace vexel
