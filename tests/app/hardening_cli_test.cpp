// What interruptions and exhausted resources leave behind: a run killed
// outright at any moment, a disk that fills in the middle of a sequence,
// limits on the address space and the file size, pictures that claim more
// memory than the machine has. An existing output is replaced only by a
// whole new one or by every record written before the trouble; the program
// ends with its message and exit code, never a crash.
#include "codec/container.h"
#include "pipeline/codec_session.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Frames of a moving picture, so that records differ and keep blocks.
void frames(const test::TempDir& dir, int count, int width, int height) {
    for (int n = 0; n < count; ++n) {
        test::Picture p{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const bool square = x >= 3 * n % width && x < 3 * n % width + 24 && y >= 20 && y < 44;
                    p.at(x, y)[c] = static_cast<std::uint8_t>(square ? 240 - 60 * c : 30 + x / 3 + y / 2 + 40 * c);
                }
        ASSERT_TRUE(test::writeFile(dir.file("f" + std::to_string(1000 + n) + ".bmp"), test::encodeBmp(p)));
    }
}

// Decodes every record reachable by the links, in order, each with the one
// before it as its reference; the picture planes of each.
std::vector<Bytes> decodedRecords(const std::string& path) {
    std::vector<Bytes> out;
    CodecSession session;
    session.picture.planesWanted = true;
    bool dropped = false;
    std::uint64_t position = 0;
    DecompressionCall call;
    call.path = TWideString::fromUtf8(path);
    call.frameDropped = &dropped;
    call.fastPaint = true;
    call.recordPosition = &position;
    do {
        if (decompressRecord(session, call) != kDone) break;
        const TPicturePlanes& p = session.picture.planes;
        out.emplace_back(p.data(), p.data() + 3 * p.planeSize());
    } while (position != 0);
    clearDecompressionStatusText();
    return out;
}

// A packing run killed outright at each point where it leaves something
// different behind: after its first, a middle and its last record, just
// before and just after the finished file replaces the target. The target is
// the old file until the rename and the whole new one after it; the new
// file, unnamed until then, leaves nothing behind.
TEST(Hardening, APackingRunKilledAtAnyPointLeavesTheOldTargetOrTheWholeNewOne) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    VEXEL_NEEDS_UNNAMED_FILES(dir.path());
    frames(dir, 40, 320, 240);
    ASSERT_EQ(test::runVexel({"-c", "-a=25", "f*.bmp"}, dir.path()).exitCode, 0);
    const std::string reference = dir.file("reference.vx");
    ASSERT_EQ(std::rename(dir.file("f.vx").c_str(), reference.c_str()), 0);
    const std::vector<Bytes> whole = decodedRecords(reference);
    ASSERT_EQ(whole.size(), 40u);
    const Bytes old{'o', 'l', 'd'};

    // Killed anywhere before the rename, the run leaves the old file and
    // nothing else; killed after it, the new file is whole.
    for (const char* point : {"after-record:0", "after-record:24", "after-record:39", "before-rename", "after-rename"}) {
        SCOPED_TRACE(point);
        ASSERT_TRUE(test::writeFile(dir.file("f.vx"), old));
        test::ScopedEnv stop("VEXEL_TEST_STOP_AT", point);
        test::VexelProcess run({"-c", "-a=25", "f*.bmp"}, dir.path());
        std::string why;
        ASSERT_TRUE(run.waitForStop(&why)) << why;
        run.signal(SIGKILL);
        EXPECT_EQ(run.wait().exitCode, -1);
        if (std::string(point) == "after-rename") EXPECT_TRUE(decodedRecords(dir.file("f.vx")) == whole);
        else EXPECT_EQ(test::readFile(dir.file("f.vx")), old);
        EXPECT_TRUE(test::strayFiles(dir).empty());
        EXPECT_EQ(test::listFolder(dir.path()).size(), 42u);
    }
}

TEST(Hardening, AFullDiskInTheMiddleOfASequenceKeepsEveryRecordWrittenBeforeIt) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    frames(dir, 30, 320, 240);
    ASSERT_EQ(test::runVexel({"-c", "-a=25", "f*.bmp"}, dir.path()).exitCode, 0);
    const std::vector<Bytes> whole = decodedRecords(dir.file("f.vx"));
    const std::uint64_t size = test::readFile(dir.file("f.vx")).size();
    ASSERT_EQ(whole.size(), 30u);
    std::remove(dir.file("f.vx").c_str());

    const test::CommandResult r = [&] {
        test::ScopedEnv full("VEXEL_FULL_DISK_AFTER", std::to_string(size / 2));
        return test::runVexel({"-c", "-a=25", "f*.bmp"}, dir.path());
    }();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Не удаётся запаковать файл:"), std::string::npos) << r.err;
    const std::vector<Bytes> kept = decodedRecords(dir.file("f.vx"));
    EXPECT_GE(kept.size(), 5u);
    EXPECT_LT(kept.size(), 30u);
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_TRUE(kept[i] == whole[i]) << i;
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Записано кадров: " + std::to_string(kept.size()) + ", в файл:\nf.vx"), std::string::npos)
        << r.err;
    EXPECT_TRUE(test::strayFiles(dir).empty());

    // A complete file from before stays exactly as it was.
    const Bytes before = test::readFile(dir.file("f.vx"));
    const test::CommandResult again = [&] {
        test::ScopedEnv full("VEXEL_FULL_DISK_AFTER", std::to_string(size / 2));
        return test::runVexel({"-c", "-a=25", "-m=9", "f*.bmp"}, dir.path());
    }();
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_EQ(test::readFile(dir.file("f.vx")), before);
    EXPECT_NE(again.err.find("Файл оставлен без изменений:\nf.vx"), std::string::npos) << again.err;
    EXPECT_TRUE(test::strayFiles(dir).empty());
}

// Limits for the child before it starts.
std::uint64_t addressLimit = 0;
void limitAddressSpace() {
    const rlimit l{addressLimit, addressLimit};
    setrlimit(RLIMIT_AS, &l);
}
void limitFileSize() {
    const rlimit l{3u << 20, 3u << 20};
    setrlimit(RLIMIT_FSIZE, &l);
}

TEST(Hardening, UnderAddressSpaceLimitsLargeWorkEndsWithItsMessageNeverACrash) {
#if defined(VEXEL_ASAN)
    GTEST_SKIP() << "an address-space limit cannot be used under AddressSanitizer";
#endif
    test::TempDir dir;
    test::Picture p{3840, 2160, std::vector<std::uint8_t>(3840u * 2160 * 3)};
    for (std::size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = static_cast<std::uint8_t>(i * 7 % 251);
    ASSERT_TRUE(test::writeFile(dir.file("big.bmp"), test::encodeBmp(p)));
    ASSERT_EQ(test::runVexel({"-c", "big.bmp"}, dir.path()).exitCode, 0);
    const Bytes packed = test::readFile(dir.file("big.vx"));
    const auto wholePicture = [&](const std::string& name) {
        test::Picture got;
        return test::decodeStandardBmp(test::readFile(dir.file(name)), got) && got.width == 3840 && got.height == 2160;
    };
    // The program starts in any of these (its first arena fits what there
    // is); from about 400 MiB packing goes through, and unpacking fails with
    // its message until about 800 MiB. Whatever a run does, it ends with its
    // message or its whole output.
    for (std::uint64_t mib : {160, 420, 600, 900}) {
        SCOPED_TRACE(std::to_string(mib) + " MiB");
        addressLimit = mib << 20;
        for (const std::string& n : test::listFolder(dir.path()))
            if (n.rfind("big_", 0) == 0) std::remove(dir.file(n).c_str());
        const test::CommandResult pack = test::runVexel({"-c", "-t=4", "big.bmp"}, dir.path(), limitAddressSpace);
        const test::CommandResult unpack = test::runVexel({"-uc", "big.vx"}, dir.path(), limitAddressSpace);
        if (mib > 400) {
            EXPECT_EQ(pack.exitCode, 0) << pack.err;
        }
        if (pack.exitCode == 1) {
            EXPECT_NE(pack.err.find("Не удаётся загрузить файл:"), std::string::npos) << pack.err;
        } else if (pack.exitCode != 0) {
            EXPECT_EQ(pack.exitCode, 2) << pack.err;
            EXPECT_NE(pack.err.find("Не удаётся запаковать файл:"), std::string::npos) << pack.err;
        }
        // The same bytes under the limit, or the old file left as it was.
        EXPECT_EQ(test::readFile(dir.file("big.vx")), packed);
        if (mib > 800) {
            EXPECT_EQ(unpack.exitCode, 0) << unpack.err;
        } else if (unpack.exitCode != 0) {
            EXPECT_EQ(unpack.exitCode, 2) << unpack.err;
            EXPECT_NE(unpack.err.find("Не удаётся распаковать файл:"), std::string::npos) << unpack.err;
            EXPECT_FALSE(test::fileExists(dir.file("big_000000.bmp")));
            continue;
        }
        EXPECT_TRUE(wholePicture("big_000000.bmp"));
    }
    EXPECT_TRUE(test::strayFiles(dir).empty());
}

TEST(Hardening, AThousandFrameSequenceUnderAFileSizeLimitKeepsItsWholeRecords) {
    test::TempDir dir;
    frames(dir, 4, 640, 480);
    // A thousand frames: four pictures, linked over and over.
    for (int n = 4; n < 1000; ++n)
        ASSERT_EQ(link(dir.file("f" + std::to_string(1000 + n % 4) + ".bmp").c_str(),
                       dir.file("f" + std::to_string(1000 + n) + ".bmp").c_str()),
                  0);
    const test::CommandResult r = test::runVexel({"-c", "-k", "f*.bmp"}, dir.path(), limitFileSize);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_FALSE(r.err.empty());
    const auto chain = test::recordChain(test::readFile(dir.file("f.vx")));
    EXPECT_GE(chain.size(), 10u);
    EXPECT_LT(chain.size(), 1000u);
    EXPECT_EQ(decodedRecords(dir.file("f.vx")).size(), chain.size());
    EXPECT_TRUE(test::strayFiles(dir).empty());
}

TEST(Hardening, PicturesThatClaimMoreMemoryThanTheMachineHasAreRefusedBeforeAllocating) {
    test::TempDir dir;
    // A bitmap header of 200 000 x 200 000 pixels and a .vx record of 60 000 x 60 000.
    Bytes bmp(154, 0);
    const auto put32 = [](Bytes& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(bmp, 10, 54);
    put32(bmp, 14, 40);
    put32(bmp, 18, 200000);
    put32(bmp, 22, 200000);
    bmp[26] = 1;
    bmp[28] = 24;
    ASSERT_TRUE(test::writeFile(dir.file("huge.bmp"), bmp));
    frames(dir, 1, 64, 48);
    ASSERT_EQ(test::runVexel({"-c", "f1000.bmp"}, dir.path()).exitCode, 0);
    Bytes vx = test::readFile(dir.file("f1000.vx"));
    put32(vx, kWidthOffset, 60000);
    put32(vx, kHeightOffset, 60000);
    ASSERT_TRUE(test::writeFile(dir.file("huge.vx"), vx));
    addressLimit = std::uint64_t{1} << 30;
#if defined(VEXEL_ASAN)
    void (*const limit)() = nullptr; // AddressSanitizer cannot run under an address-space limit
#else
    void (*const limit)() = limitAddressSpace;
#endif
    const test::CommandResult a = test::runVexel({"-c", "huge.bmp"}, dir.path(), limit);
    const test::CommandResult b = test::runVexel({"-uc", "huge.vx"}, dir.path(), limit);
    EXPECT_EQ(a.exitCode, 1) << a.err;
    EXPECT_NE(a.err.find("Не удаётся загрузить файл:"), std::string::npos) << a.err;
    EXPECT_EQ(b.exitCode, 2) << b.err;
    EXPECT_NE(b.err.find("Не удаётся распаковать файл:"), std::string::npos) << b.err;
    // The pictures need 120 GB and 10 GB; the runs never held more than the
    // program itself (a few MiB, more under the sanitizers).
    for (const test::CommandResult& r : {a, b}) EXPECT_LT(r.peakResidentKib, 192 * 1024) << r.err;
    EXPECT_TRUE(test::strayFiles(dir).empty());
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"f1000.bmp", "f1000.vx", "huge.bmp", "huge.vx"}));
}

} // namespace
} // namespace vexel
