#include "codec/pixspray.h"
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

} // namespace
} // namespace vexel
