// .vx files cut short, as a copy or a download that stopped leaves them:
// every mode, one stream and several, cut at every twentieth of its length.
// The record the cut falls in never unpacks - "vexel -uc" ends with exit
// code 2 and the message for a file that cannot be unpacked (a cut in the
// payload) or for a record this program cannot read (a cut in the record's
// header), and writes no bitmap of it - and "vexel-probe --check" names the
// same record. The whole records before the cut of a grouped clip still
// unpack, to the same bitmaps as from the whole file.
#include "app/bitmap.h"
#include "codec/container.h"
#include "display/twnd.h"
#include "pipeline/compression_pipeline.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Picture;

const std::string kCannotUnpack = "Ошибка: Не удаётся распаковать файл:\nc.vx\n";
// A cut inside a record's header: what is left of it begins as a record
// does (its magic is there) and ends inside; with less than the magic left
// it is no record at all.
std::string cutInHeader(std::size_t bytesLeft) {
    return kCannotUnpack + (bytesLeft >= sizeof kRecordMagic ? "Файл обрывается внутри записи.\n" : "Это не файл .vx.\n");
}

// Every kind of block: a smooth ramp (gradients), text-like strokes and a
// noisy square (detail), so that every payload section is there.
Picture picture(int width, int height, int frame = 0) {
    Picture p{width, height, Bytes(static_cast<std::size_t>(width) * height * 3)};
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const bool square = x >= 8 + 4 * frame && x < 24 + 4 * frame && y >= 8 && y < 24;
            const bool stroke = x % 11 == 3 && y > height / 2;
            for (int c = 0; c < 3; ++c)
                p.at(x, y)[c] = static_cast<std::uint8_t>(square   ? noise >> (16 + 3 * c)
                                                          : stroke ? 25
                                                                   : 50 + 2 * x + y + 30 * c);
        }
    return p;
}

// Mode 0 cannot be asked for on the command line ("-m=0" means the
// default): the compression pipeline writes it as the program would.
bool packModeZero(const std::string& bitmap, const std::string& output, std::uint32_t streams) {
    TWnd record;
    record.create();
    if (loadBitmap(record, TWideString::fromUtf8(bitmap), false) != kBitmapLoaded) return false;
    double rate = 0;
    std::uint64_t last = 0;
    CompressionJob job;
    job.outputPath = TWideString::fromUtf8(output);
    job.mode = 0;
    job.streamCount = streams;
    job.firstFrame = true;
    job.lastRecordOffset = &last;
    job.frameRate = &rate;
    return compressFrame(record.codec, record.picture, job) == kDone;
}

class CutFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::writeFile(dir.file("p.bmp"), test::encodeBmp(picture(64, 48)))); }

    // Packs p.bmp with the options into p.vx; its bytes.
    Bytes pack(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"-c"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("p.bmp");
        const test::CommandResult r = test::runVexel(args, dir.path());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return test::readFile(dir.file("p.vx"));
    }

    struct Outcome {
        test::CommandResult unpack, probe;
        std::vector<std::string> bitmaps; // what the unpacking left, in order
    };
    // Writes bytes as c.vx, unpacks it and checks it with the probe (both at
    // once); removes what the unpacking wrote.
    Outcome attempt(const Bytes& bytes) {
        Outcome o;
        EXPECT_TRUE(test::writeFile(dir.file("c.vx"), bytes));
        test::VexelProcess unpack({"-uc", "c.vx"}, dir.path());
        o.probe = test::runProgram(VEXEL_PROBE_BIN, {"--check", "c.vx"}, dir.path());
        o.unpack = unpack.wait();
        for (const std::string& name : test::listFolder(dir.path()))
            if (name.rfind("c_", 0) == 0) o.bitmaps.push_back(name);
        EXPECT_EQ(test::readFile(dir.file("c.vx")), bytes) << "the input is never changed";
        return o;
    }
    void removeBitmaps(const Outcome& o) {
        for (const std::string& name : o.bitmaps) std::remove(dir.file(name).c_str());
    }

    // Cuts a one-record file at every twentieth of its length.
    void cutEverywhere(const Bytes& whole, const std::string& what) {
        ASSERT_FALSE(whole.empty()) << what;
        const std::vector<RecordHeader> chain = test::recordChain(whole);
        ASSERT_EQ(chain.size(), 1u) << what;
        const std::uint32_t headerSize = chain[0].headerSize;
        for (std::size_t k = 1; k < 20; ++k) {
            const std::size_t length = whole.size() * k / 20;
            SCOPED_TRACE(what + ", cut to " + std::to_string(length) + " of " + std::to_string(whole.size()) + " bytes");
            const Outcome o = attempt(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_EQ(o.unpack.exitCode, 2);
            EXPECT_TRUE(o.bitmaps.empty()) << "a picture from bytes that are not there";
            if (length < headerSize) {
                EXPECT_EQ(o.unpack.err, cutInHeader(length));
                EXPECT_EQ(o.probe.exitCode, 1);
                EXPECT_EQ(o.probe.err, "vexel-probe: c.vx: record 0 at offset 0 is not a .vx record\n");
            } else {
                EXPECT_EQ(o.unpack.err, kCannotUnpack);
                EXPECT_EQ(o.probe.exitCode, 2) << o.probe.out << o.probe.err;
                EXPECT_NE(o.probe.out.find("c.vx: record 0 at offset 0 does not decode\n"), std::string::npos)
                    << o.probe.out;
            }
            removeBitmaps(o);
        }
    }

    test::TempDir dir;
};

// One mode per test, so that the modes run side by side.
class CutFilesOfAMode : public CutFiles, public ::testing::WithParamInterface<int> {};

TEST_P(CutFilesOfAMode, ACutAnywhereFailsItsRecordWithItsMessage) {
    const int mode = GetParam();
    // Every mode in one stream and in several (mode 1 has one stream only);
    // other block sizes too where they change the payload: one-byte anchors
    // (-oq) and larger blocks (-os).
    std::vector<std::vector<std::string>> settings;
    const std::string m = "-m=" + std::to_string(mode);
    settings.push_back({m, "-t=1"});
    if (mode != 1) settings.push_back({m, "-t=3"});
    if (mode == 4 || mode == 7 || mode == 8) settings.push_back({m, "-oq", "-t=1"});
    if (mode == 5 || mode == 9) settings.push_back({m, "-os", "-t=3"});
    for (const std::vector<std::string>& options : settings) {
        std::string name;
        for (const std::string& o : options) name += o + " ";
        Bytes whole;
        if (mode == 0) { // not on the command line: "-m=0" means the default
            ASSERT_TRUE(packModeZero(dir.file("p.bmp"), dir.file("p.vx"), options[1] == "-t=1" ? 1 : 3));
            whole = test::readFile(dir.file("p.vx"));
        } else {
            whole = pack(options);
        }
        // The whole file unpacks, so what fails below is the cut.
        const Outcome o = attempt(whole);
        ASSERT_EQ(o.unpack.exitCode, 0) << name << o.unpack.err;
        ASSERT_EQ(o.probe.exitCode, 0) << name << o.probe.out;
        removeBitmaps(o);
        cutEverywhere(whole, name);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, CutFilesOfAMode, ::testing::Range(0, 10),
                         [](const ::testing::TestParamInfo<int>& info) { return "mode" + std::to_string(info.param); });

// A grouped clip cut anywhere: the records before the one cut unpack, each
// to the bitmap the whole file gives; the cut one fails the run with exit
// code 2. Cut exactly between two records, the next record is missing
// altogether: the run fails there too.
TEST_F(CutFiles, AGroupedClipCutAnywhereKeepsTheWholeRecordsBeforeTheCut) {
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(test::writeFile(dir.file("f" + std::to_string(n) + ".bmp"), test::encodeBmp(picture(64, 48, n))));
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-c", "-a=25", "-m=7", "-t=1", "f*.bmp"}, {"-c", "-a=25", "-m=8", "-t=2", "f*.bmp"}}) {
        SCOPED_TRACE(options[2] + " " + options[3]);
        ASSERT_EQ(test::runVexel(options, dir.path()).exitCode, 0);
        const Bytes whole = test::readFile(dir.file("f.vx"));
        const std::vector<RecordHeader> chain = test::recordChain(whole);
        ASSERT_EQ(chain.size(), 3u);
        const Outcome all = attempt(whole);
        ASSERT_EQ(all.unpack.exitCode, 0) << all.unpack.err;
        ASSERT_EQ(all.bitmaps.size(), 3u);
        std::vector<Bytes> frames;
        for (const std::string& name : all.bitmaps) frames.push_back(test::readFile(dir.file(name)));
        removeBitmaps(all);

        // Between records, inside the first and the second record's header.
        std::vector<std::size_t> cuts = {chain[1].recordStart, chain[2].recordStart, 40, chain[1].recordStart + 30};
        for (std::size_t k = 1; k < 20; ++k) cuts.push_back(whole.size() * k / 20);
        for (std::size_t length : cuts) {
            SCOPED_TRACE("cut to " + std::to_string(length) + " of " + std::to_string(whole.size()) + " bytes");
            std::size_t cutRecord = 0;
            while (cutRecord + 1 < chain.size() && chain[cutRecord + 1].recordStart <= length) ++cutRecord;
            const RecordHeader& h = chain[cutRecord];
            const Outcome o = attempt(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
            EXPECT_EQ(o.unpack.exitCode, 2);
            ASSERT_EQ(o.bitmaps.size(), cutRecord) << "every whole record before the cut, and no more";
            for (std::size_t i = 0; i < cutRecord; ++i) EXPECT_TRUE(test::readFile(dir.file(o.bitmaps[i])) == frames[i]) << i;
            EXPECT_EQ(o.probe.exitCode, cutRecord == 0 && length < h.headerSize ? 1 : 2) << o.probe.out << o.probe.err;
            const std::string record = "record " + std::to_string(cutRecord) + " at offset " + std::to_string(h.recordStart);
            if (length == h.recordStart) {
                EXPECT_EQ(o.unpack.err, kCannotUnpack); // nothing to read there
                EXPECT_NE(o.probe.out.find(record + " is not a .vx record"), std::string::npos) << o.probe.out;
            } else if (length < h.recordStart + h.headerSize) {
                EXPECT_EQ(o.unpack.err, cutInHeader(length - h.recordStart));
                EXPECT_NE((o.probe.out + o.probe.err).find(record + " is not a .vx record"), std::string::npos)
                    << o.probe.out << o.probe.err;
            } else {
                EXPECT_EQ(o.unpack.err, kCannotUnpack);
                EXPECT_NE(o.probe.out.find(record + " does not decode"), std::string::npos) << o.probe.out;
            }
            removeBitmaps(o);
        }
    }
}

} // namespace
} // namespace vexel
