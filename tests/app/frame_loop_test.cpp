// The frame loop with stand-in codec entry points and a stand-in window: the
// call points, their arguments, output names and failure messages.
#include "app/bitmap.h"
#include "app/entry.h"
#include "app/frame_loop.h"
#include "base/informaciyaprocessora.h"
#include "codec/container.h"
#include "display/painting.h"
#include "pipeline/decompression_pipeline.h"
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/ui_message_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vexel {
namespace {

struct Decoded {
    std::string path;
    std::uint64_t position;
    bool cache;
    bool dropped;
};
struct Packed {
    std::string path;
    bool firstFrame, groupFlag;
    std::uint32_t streams;
    std::uint8_t mode, conversion;
    bool planes;
};

// A three-record .vx file as the decompression side would deliver it.
std::vector<Decoded> decoded;
std::vector<Packed> packed;
double fileRate = 0;
int decodeResult = 1;
int packResult = 1;

// A result of the given code, as a fake pipeline returns it.
Result withCode(int code) { return Result(code, code >= 1 ? Reason::None : Reason::Failed); }

Result fakeDecompress(CodecState&, PictureBuffer& picture, DecompressionCall& call) {
    decoded.push_back({call.path.toUtf8(), *call.recordPosition, call.cache, *call.frameDropped});
    if (decodeResult < 1) return withCode(decodeResult);
    std::uint64_t frame = *call.recordPosition;
    call.read->headerRead = true;
    call.read->mode = 8;
    call.read->frameRate = fileRate;
    picture.infoHeader.width = 4;
    picture.infoHeader.height = 2;
    PictureRect r{0, 0, 4, 2};
    if (!picture.surfaces->SetPictureSize(&r, 0, 16, false)) return kNoMemory;
    PictureAccess p;
    if (!picture.surfaces->lockPicture(p)) return kNoMemory;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) p.rowFromBottom(y)[x] = static_cast<std::uint32_t>(frame * 40 + x * 2 + y);
    picture.surfaces->unlockPicture(p);
    picture.paintable = true;
    *call.recordPosition = frame + 1 < 3 ? frame + 1 : 0;
    return kDone;
}

Result fakeCompress(CodecState&, PictureBuffer& picture, const CompressionJob& job) {
    packed.push_back({job.outputPath.toUtf8(), job.firstFrame, job.groupFlag, job.streamCount, job.mode,
                      job.conversion, picture.pictureInPlanes()});
    return withCode(packResult);
}

// The program's entry over these arguments (after the program name), as
// started from the desktop (no terminal) unless the window system says
// otherwise, whatever runs the test.
int runEntry(std::vector<std::string> args, const FrameCodec& codec, const WindowSystem& windows = WindowSystem()) {
    std::vector<char*> argv;
    std::string program = "vexel";
    argv.push_back(program.data());
    for (auto& a : args) argv.push_back(a.data());
    WindowSystem system = windows;
    if (!system.fromTerminal) system.fromTerminal = [] { return false; };
    return entryRoutine(static_cast<int>(argv.size()), argv.data(), codec, system);
}

FrameCodec fakeCodec() {
    FrameCodec fakes;
    fakes.decompressRecord = fakeDecompress;
    fakes.compressFrame = fakeCompress;
    return fakes;
}

class FrameLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        decoded.clear();
        packed.clear();
        fileRate = 0;
        decodeResult = packResult = 1;
    }
    int run(std::vector<std::string> args) { return runEntry(std::move(args), fakeCodec()); }
    void bitmap(const std::string& name, int width, int height, int seed = 0) {
        ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(test::patternPicture(width, height, seed))));
    }
    test::TempDir dir;
    test::MessageCapture messages;
};

TEST_F(FrameLoopTest, UngroupingAVideoWritesOneNumberedBitmapPerRecord) {
    ASSERT_TRUE(test::writeFile(dir.file("clip.vx"), {0}));
    EXPECT_EQ(run({"-uc", dir.file("clip.vx")}), 0);
    EXPECT_TRUE(messages.messages.empty());
    ASSERT_EQ(decoded.size(), 3u);
    for (std::uint64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(decoded[i].path, dir.file("clip.vx"));
        EXPECT_EQ(decoded[i].position, i);
        EXPECT_FALSE(decoded[i].cache);
    }
    for (int i = 0; i < 3; ++i) {
        test::Picture p;
        ASSERT_TRUE(test::decodeStandardBmp(test::readFile(dir.file("clip_00000" + std::to_string(i) + ".bmp")), p));
        EXPECT_EQ(p.at(3, 1)[2], i * 40 + 7);
    }
    EXPECT_TRUE(packed.empty());
}

TEST_F(FrameLoopTest, AVideoWithAFrameRateIsReopenedOnceFromItsStart) {
    fileRate = 25;
    ASSERT_TRUE(test::writeFile(dir.file("clip.vx"), {0}));
    EXPECT_EQ(run({"-uc", dir.file("clip.vx")}), 0);
    ASSERT_EQ(decoded.size(), 4u);
    EXPECT_EQ(decoded[1].position, 0u); // the first record again, through the cache
    EXPECT_TRUE(decoded[1].cache);
    EXPECT_TRUE(decoded[3].cache);
    EXPECT_TRUE(test::fileExists(dir.file("clip_000002.bmp")));
    EXPECT_FALSE(test::fileExists(dir.file("clip_000003.bmp")));
}

TEST_F(FrameLoopTest, CompressingAWildcardGroupsEveryFrameIntoOneFile) {
    bitmap("shot1.bmp", 5, 3, 1);
    bitmap("shot2.bmp", 5, 3, 2);
    bitmap("shot10.bmp", 5, 3, 3);
    EXPECT_EQ(run({"-c", dir.file("shot*.bmp")}), 0);
    ASSERT_EQ(packed.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(packed[i].path, dir.file("shot.vx"));
        EXPECT_EQ(packed[i].firstFrame, i == 0);
        EXPECT_TRUE(packed[i].groupFlag);
        EXPECT_EQ(packed[i].streams, 4u);
        EXPECT_EQ(packed[i].mode, 8);
        EXPECT_EQ(packed[i].planes, processorCount() >= 2); // several threads share the planes
    }
}

TEST_F(FrameLoopTest, ConvertingAVxFileNamesItsOutputConverted) {
    ASSERT_TRUE(test::writeFile(dir.file("clip.vx"), {0}));
    EXPECT_EQ(run({"-c", dir.file("clip.vx")}), 0);
    ASSERT_EQ(packed.size(), 3u);
    EXPECT_EQ(packed[0].path, dir.file("clip_converted.vx"));
    EXPECT_EQ(packed[0].conversion, 1);
}

TEST_F(FrameLoopTest, PipelineFailuresEndTheRunWithTheirMessages) {
    bitmap("pic.bmp", 3, 3);
    packResult = 0;
    EXPECT_EQ(run({"-c", dir.file("pic.bmp")}), 2);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Не удаётся запаковать файл:\npic.vx");

    // A refused record asks for a newer program only when the file begins
    // as a record does and holds a whole header.
    ASSERT_TRUE(test::writeFile(dir.file("new.vx"), {0}));
    decodeResult = -2;
    EXPECT_EQ(run({"-uc", dir.file("new.vx")}), 2);
    EXPECT_EQ(messages.messages.back().text, "Не удаётся распаковать файл:\nnew.vx\nЭто не файл .vx.");
    std::vector<std::uint8_t> newer(kRecordHeaderLimit, 0);
    std::copy(std::begin(kRecordMagic), std::end(kRecordMagic), newer.begin());
    newer[kHeaderSizeOffset] = 75;
    ASSERT_TRUE(test::writeFile(dir.file("new.vx"), newer));
    EXPECT_EQ(run({"-uc", dir.file("new.vx")}), 2);
    EXPECT_EQ(messages.messages.back().text, "Для распаковки файла:\nnew.vx\nнеобходимо обновить программу.");
    decodeResult = -1;
    EXPECT_EQ(run({"-uc", dir.file("new.vx")}), 2);
    EXPECT_EQ(messages.messages.back().text, "Не удаётся распаковать файл:\nnew.vx");
}

// A viewer that closes as soon as it waits, and the choices the run made.
struct ClosingWindow : ViewerWindow {
    TWideString title() override { return TWideString(u"Vexel"); }
    void setTitle(const TWideString&) override {}
    void showMaximized() override {}
    void paint() override {}
    int drainEvents() override { return -1; }
    int waitForQuit() override { return 0; }
    int waitForEvents(double) override { return -1; }
    ScreenSize displaySize() override { return {1280, 1024}; }
};
int viewersOpened = 0, drawnDialogs = 0;
std::unique_ptr<ViewerWindow> openClosingWindow(TWnd&) {
    ++viewersOpened;
    return std::make_unique<ClosingWindow>();
}
bool useDrawn() {
    ++drawnDialogs;
    return true;
}

TEST_F(FrameLoopTest, OnlyRunsThatShowFramesOpenAWindowAndOnlyViewingDrawsItsMessages) {
    bitmap("pic.bmp", 4, 4);
    ASSERT_TRUE(test::writeFile(dir.file("clip.vx"), {0}));
    struct Case {
        std::vector<std::string> args;
        int viewers, dialogs, exit;
    };
    const std::vector<Case> cases = {
        {{dir.file("pic.bmp")}, 1, 1, 0},               // viewing
        {{dir.file("clip.vx")}, 1, 1, 0},               // viewing a video
        {{"-c", dir.file("pic.bmp")}, 0, 0, 0},         // packing a single picture
        {{"-uc", dir.file("clip.vx")}, 1, 0, 0},        // unpacking shows its frames
        {{"-c", dir.file("clip.vx")}, 0, 0, 0},         // the copy conversion
        {{"-c", "-t=2", dir.file("clip.vx")}, 1, 0, 0}, // the repack conversion
        {{"-g", dir.file("pic.bmp")}, 0, 0, 0},         // grouping packs
        {{"-h"}, 0, 0, 3},                              // the usage
    };
    // From a terminal a run that writes files shows no window unless -w asks.
    const std::vector<Case> fromTerminal = {
        {{"-uc", dir.file("clip.vx")}, 0, 0, 0},
        {{"-c", "-t=2", dir.file("clip.vx")}, 0, 0, 0},
        {{"-w", "-uc", dir.file("clip.vx")}, 1, 0, 0},
        {{"-w", "-c", dir.file("pic.bmp")}, 1, 0, 0},
        {{dir.file("pic.bmp")}, 1, 1, 0}, // viewing needs its window wherever it starts
    };
    for (const bool terminal : {false, true}) {
        for (const Case& c : terminal ? fromTerminal : cases) {
            viewersOpened = drawnDialogs = 0;
            for (const std::string& name : test::listFolder(dir.path()))
                if (name != "pic.bmp" && name != "clip.vx") std::remove(dir.file(name).c_str());
            WindowSystem windows;
            windows.openViewer = openClosingWindow;
            windows.useDrawnDialogs = useDrawn;
            windows.fromTerminal = terminal ? +[] { return true; } : +[] { return false; };
            const std::string shown = (terminal ? "from a terminal: " : "") + c.args[0] + " " + c.args.back();
            EXPECT_EQ(runEntry(c.args, fakeCodec(), windows), c.exit) << shown;
            EXPECT_EQ(viewersOpened, c.viewers) << shown;
            EXPECT_EQ(drawnDialogs, c.dialogs) << shown;
        }
    }
}

// A viewer that goes on at every wait (a person pressing space) and closes
// at the tenth, noting the width of every picture it paints.
std::vector<std::int32_t> paintedWidths;
struct SteppingWindow : ClosingWindow {
    explicit SteppingWindow(TWnd& r) : record(r) {}
    void paint() override { paintedWidths.push_back(record.picture.pictureWidth()); }
    int waitForQuit() override { return ++waits < 10 ? 1 : 0; }
    TWnd& record;
    int waits = 0;
};
std::unique_ptr<ViewerWindow> openSteppingWindow(TWnd& record) {
    ++viewersOpened;
    return std::make_unique<SteppingWindow>(record);
}

TEST_F(FrameLoopTest, SeveralNamesAreViewedOneAfterAnotherInOneWindow) {
    bitmap("a.bmp", 3, 2);
    bitmap("b.bmp", 5, 2);
    bitmap("c.bmp", 7, 2);
    viewersOpened = 0;
    paintedWidths.clear();
    WindowSystem windows;
    windows.openViewer = openSteppingWindow;
    EXPECT_EQ(runEntry({dir.file("a.bmp"), dir.file("b.bmp"), dir.file("c.bmp")}, fakeCodec(), windows), 0);
    EXPECT_EQ(viewersOpened, 1);
    ASSERT_GE(paintedWidths.size(), 3u);
    EXPECT_EQ(std::vector<std::int32_t>(paintedWidths.begin(), paintedWidths.begin() + 3),
              (std::vector<std::int32_t>{3, 5, 7}));
}

// The picture a viewer shows (from the planes or the surface), as 0xRRGGBB
// values from the top row down.
std::vector<std::uint32_t> shownPicture(TWnd& record) {
    std::vector<std::uint32_t> out;
    PictureBuffer& picture = record.picture;
    if (picture.pictureInPlanes()) {
        const TPicturePlanes& planes = picture.planes;
        for (std::int32_t y = planes.height() - 1; y >= 0; --y)
            for (std::int32_t x = 0; x < planes.width(); ++x)
                out.push_back(std::uint32_t{planes.row(TPicturePlanes::kRed, y)[x]} << 16 |
                              std::uint32_t{planes.row(TPicturePlanes::kGreen, y)[x]} << 8 |
                              planes.row(TPicturePlanes::kBlue, y)[x]);
        return out;
    }
    PictureAccess p;
    if (!picture.surfaces || !picture.surfaces->lockPicture(p)) return out;
    const OffScreenBuffer& g = *picture.surfaces;
    for (std::int32_t y = 0; y < p.height; ++y)
        for (std::int32_t x = 0; x < p.width; ++x) {
            const std::uint32_t v = p.rowFromTop(y)[x];
            out.push_back((v >> g.redShift() & 255) << 16 | (v >> g.greenShift() & 255) << 8 | (v >> g.blueShift() & 255));
        }
    picture.surfaces->unlockPicture(p);
    return out;
}

// A bitmap's pixels (read bottom row first) the same way.
std::vector<std::uint32_t> pictureValues(const test::Picture& p) {
    std::vector<std::uint32_t> out;
    for (int y = p.height - 1; y >= 0; --y)
        for (int x = 0; x < p.width; ++x) out.push_back(p.at(x, y)[0] << 16 | p.at(x, y)[1] << 8 | p.at(x, y)[2]);
    return out;
}

// A viewer that waits on the real clock and keeps what it shows: the first
// wait is a click on the picture (play), the next one closes it.
struct PlayingWindow : ViewerWindow {
    explicit PlayingWindow(TWnd& r) : record(r) {}
    TWideString title() override { return TWideString(u"Vexel"); }
    void setTitle(const TWideString&) override {}
    void showMaximized() override {}
    void paint() override {
        ++paints;
        shown.push_back(shownPicture(record));
    }
    int drainEvents() override { return -1; }
    int waitForQuit() override {
        if (record.playing || ++quitWaits > 1) return 0;
        record.playing = true;
        record.toggleRequested = true;
        return 1;
    }
    int waitForEvents(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 0.05)));
        return -1;
    }
    ScreenSize displaySize() override { return {1280, 1024}; }
    TWnd& record;
    int quitWaits = 0;
    static inline int paints = 0;
    static inline std::vector<std::vector<std::uint32_t>> shown;
};
std::unique_ptr<ViewerWindow> openPlayingWindow(TWnd& record) { return std::make_unique<PlayingWindow>(record); }

// The real codec with its pools, the viewer's pacing on the real clock and
// the frame loop together (the thread checker's case): a four-stream video
// packed at 200 frames a second, then played. How many frames the pacing
// drops depends on the machine; what is shown does not: the first frame,
// then frames of the video in their order, each with its unpacked pixels.
TEST_F(FrameLoopTest, AVideoPackedAndPlayedWithFourStreamsShowsItsFramesInOrder) {
    for (int f = 0; f < 8; ++f) bitmap("f" + std::to_string(f) + ".bmp", 96, 72, f);
    WindowSystem windows;
    windows.openViewer = openPlayingWindow;
    ASSERT_EQ(runEntry({"-c", "-a=200", "-t=4", dir.file("f*.bmp")}, FrameCodec(), windows), 0);
    ASSERT_TRUE(test::fileExists(dir.file("f.vx")));
    std::vector<std::vector<std::uint32_t>> frames;
    {
        test::TempDir other;
        ASSERT_TRUE(test::writeFile(other.file("f.vx"), test::readFile(dir.file("f.vx"))));
        ASSERT_EQ(runEntry({"-uc", "-f", other.file("f.vx")}, FrameCodec(), windows), 0); // a video plays fast-painted
        for (int f = 0; f < 8; ++f) {
            test::Picture p;
            ASSERT_TRUE(test::decodeStandardBmp(test::readFile(other.file("f_00000" + std::to_string(f) + ".bmp")), p));
            frames.push_back(pictureValues(p));
        }
    }
    PlayingWindow::paints = 0;
    PlayingWindow::shown.clear();
    // Played at 20 frames a second; a machine busy enough to fall a frame
    // behind drops one, so what is judged is that whatever is shown comes in
    // the video's order, never how many frames made it.
    EXPECT_EQ(runEntry({"-t=4", "-a=20", dir.file("f.vx")}, FrameCodec(), windows), 0);
    ASSERT_GE(PlayingWindow::shown.size(), 2u);
    EXPECT_TRUE(PlayingWindow::shown[0] == frames[0]) << "the first frame";
    std::size_t next = 0; // the first frame not yet seen
    for (std::size_t i = 0; i < PlayingWindow::shown.size(); ++i) {
        const auto& s = PlayingWindow::shown[i];
        if (next > 0 && s == frames[next - 1]) continue; // the same frame again
        while (next < frames.size() && s != frames[next]) ++next;
        ASSERT_LT(next, frames.size()) << "paint " << i << " shows no later frame of the video";
        ++next;
    }
    clearDecompressionStatusText(); // the title's text lives as long as the process
}

// A window on which a click (play) lands as soon as it is shown.
struct ClickedWindow : ViewerWindow {
    explicit ClickedWindow(TWnd& r) : record(r) {}
    TWideString title() override { return TWideString(u"Vexel"); }
    void setTitle(const TWideString&) override {}
    void showMaximized() override {}
    void paint() override {}
    int drainEvents() override {
        if (!clicked) {
            clicked = true;
            record.playing = !record.playing;
            record.toggleRequested = true;
        }
        return -1;
    }
    int waitForQuit() override { return 0; }
    int waitForEvents(double) override { return -1; }
    ScreenSize displaySize() override { return {1920, 1080}; }
    TWnd& record;
    bool clicked = false;
};

// A run that writes files writes every frame, whatever the user clicks: a
// click turns playing on, and playing at 1000 frames a second makes the
// pacing find every pass late, which must not drop it.
TEST_F(FrameLoopTest, AClickWhileUnpackingShowsFramesButLosesNoFile) {
    for (int f = 0; f < 8; ++f) bitmap("f" + std::to_string(f) + ".bmp", 640, 480, f);
    ASSERT_EQ(runEntry({"-c", "-a=1000", dir.file("f*.bmp")}, FrameCodec()), 0);
    WindowSystem windows;
    windows.openViewer = [](TWnd& record) -> std::unique_ptr<ViewerWindow> {
        return std::make_unique<ClickedWindow>(record);
    };
    EXPECT_EQ(runEntry({"-uc", dir.file("f.vx")}, FrameCodec(), windows), 0);
    for (int f = 0; f < 8; ++f) {
        test::Picture p;
        EXPECT_TRUE(test::decodeStandardBmp(test::readFile(dir.file("f_00000" + std::to_string(f) + ".bmp")), p) &&
                    p.width == 640)
            << "frame " << f;
    }
    clearDecompressionStatusText();
}

// A window that steps one frame per click and then is closed.
struct StepWindow : ViewerWindow {
    TWideString title() override { return TWideString(u"Vexel"); }
    void setTitle(const TWideString& t) override { titles.push_back(t.toUtf8()); }
    void showMaximized() override { ++shows; }
    void paint() override { ++paints; }
    int drainEvents() override { return -1; }
    int waitForQuit() override { return ++waits <= clicks ? 1 : 0; }
    int waitForEvents(double) override { return -1; }
    ScreenSize displaySize() override { return {1920, 1080}; }
    std::vector<std::string> titles;
    int shows = 0, paints = 0, waits = 0, clicks = 0;
};

TEST_F(FrameLoopTest, ViewingStepsThroughTheFramesOneClickEach) {
    bitmap("a1.bmp", 2, 2, 1);
    bitmap("a2.bmp", 2, 2, 2);
    TWnd record;
    ASSERT_TRUE(record.create());
    StepWindow window;
    window.clicks = 5;
    record.window = &window;
    RunSettings settings;
    RunNames names = splitFileName(TWideString::fromUtf8(dir.file("a*.bmp")));
    TSpisokStrok list(8, 8);
    list.append(u"a1.bmp");
    list.append(u"a2.bmp");
    FrameLoopInput input;
    input.record = &record;
    input.settings = &settings;
    input.names = &names;
    input.list = &list;
    input.windowTitle = window.title();
    EXPECT_EQ(runFrameLoop(input), 0);
    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(window.paints, 2);
    // One wait per frame, then waiting at the end until the window is closed.
    EXPECT_EQ(window.waits, 6);
    // In view mode the title is refreshed every 32 frames: only the first time here.
    EXPECT_EQ(window.titles, (std::vector<std::string>{"a1.bmp - Vexel"}));
}

// ------------------------------------------------ going to other frames

// A chain of linked record headers, kChainRecord bytes a record, that the
// fake below follows: record n starts at n x kChainRecord; every
// chainKeyframes-th record from the first is a keyframe.
constexpr std::uint64_t kChainRecord = 80;
std::uint64_t chainRecords = 0;
std::uint64_t chainKeyframes = 1;

void writeChain(const std::string& path, std::uint64_t records) {
    std::vector<std::uint8_t> bytes(records * kChainRecord, 0);
    for (std::uint64_t n = 0; n < records; ++n) {
        RecordHeader h;
        h.width = 4;
        h.height = 2;
        h.blockSizeCode = 8;
        h.mode = 8;
        h.nextRecord = n + 1 < records ? (n + 1) * kChainRecord : 0;
        h.prevRecord = n > 0 ? (n - 1) * kChainRecord : 0;
        writeRecordHeader(h, true, 0, {bytes.data() + n * kChainRecord, kChainRecord});
    }
    ASSERT_TRUE(test::writeFile(path, bytes));
    chainRecords = records;
}

// The records' numbers the fake below was asked for, in order.
std::vector<std::uint64_t> chainReads() {
    std::vector<std::uint64_t> out;
    for (const Decoded& d : decoded) out.push_back(d.position / kChainRecord);
    return out;
}

Result fakeChainDecompress(CodecState&, PictureBuffer& picture, DecompressionCall& call) {
    const std::uint64_t at = *call.recordPosition;
    decoded.push_back({call.path.toUtf8(), at, call.cache, *call.frameDropped});
    if (decoded.size() > 200) return kFailed; // a loop that does not end
    const std::uint64_t frame = at / kChainRecord;
    call.read->headerRead = true;
    call.read->mode = 8;
    PictureRect r{0, 0, 4, 2};
    if (!picture.surfaces->SetPictureSize(&r, 0, 16, false)) return kNoMemory;
    PictureAccess p;
    if (!picture.surfaces->lockPicture(p)) return kNoMemory;
    p.rowFromBottom(0)[0] = static_cast<std::uint32_t>(frame);
    picture.surfaces->unlockPicture(p);
    picture.infoHeader.width = 4;
    picture.infoHeader.height = 2;
    picture.paintable = true;
    call.read->decoded = true;
    call.read->reusesPrevious = frame % chainKeyframes != 0;
    *call.recordPosition = frame + 1 < chainRecords ? at + kChainRecord : 0;
    return kDone;
}

// What a window of the keys below saw.
struct Seen {
    std::vector<std::uint32_t> shown; // the record number of every frame painted
    int waits = 0;                    // waits for a key
};

// A window that the user's keys reach one after another, as the viewer
// answers them. Past its keys a wait closes it.
struct KeyWindow : ViewerWindow {
    KeyWindow(TWnd& r, std::vector<ViewerEvent> k, Seen& s) : record(r), keys(std::move(k)), seen(s) {}
    TWideString title() override { return TWideString(u"Vexel"); }
    void setTitle(const TWideString&) override {}
    void showMaximized() override {}
    void paint() override {
        PictureAccess p;
        if (!record.picture.surfaces->lockPicture(p)) return;
        seen.shown.push_back(p.rowFromBottom(0)[0]);
        record.picture.surfaces->unlockPicture(p);
    }
    // One key at a time.
    int drainEvents() override { return next < keys.size() ? respond(record, keys[next++]).quitCode : -1; }
    int waitForQuit() override {
        ++seen.waits;
        while (next < keys.size())
            if (const int quit = respond(record, keys[next++]).quitCode; quit >= 0) return quit;
        return 0;
    }
    int waitForEvents(double) override { return -1; }
    ScreenSize displaySize() override { return {1920, 1080}; }
    TWnd& record;
    std::vector<ViewerEvent> keys;
    Seen& seen;
    std::size_t next = 0;
};

// The keys and the record of the window the next run opens.
std::vector<ViewerEvent> theKeys;
Seen* theSeen = nullptr;

class FrameKeysTest : public FrameLoopTest {
protected:
    void SetUp() override {
        FrameLoopTest::SetUp();
        chainKeyframes = 3; // records 0, 3 and 6 of 8
        writeChain(dir.file("clip.vx"), 8);
    }
    // Runs vexel with these arguments on a window that takes these keys; its exit code.
    int withKeys(std::vector<std::string> args, std::vector<ViewerEvent> keys) {
        theKeys = std::move(keys);
        theSeen = &seen;
        WindowSystem windows;
        windows.openViewer = [](TWnd& record) -> std::unique_ptr<ViewerWindow> {
            return std::make_unique<KeyWindow>(record, theKeys, *theSeen);
        };
        FrameCodec codec;
        codec.decompressRecord = fakeChainDecompress;
        codec.compressFrame = fakeCompress;
        return runEntry(std::move(args), codec, windows);
    }
    Seen seen;
};

using E = ViewerEvent;

// Back from a record between keyframes decodes from the nearest keyframe
// before it (known from the records read so far) up to it; forward
// through records not yet read starts from the frame the picture holds.
TEST_F(FrameKeysTest, GoingBackDecodesFromTheNearestKeyframeAndTheLastFrameFromThePictureHeld) {
    ASSERT_EQ(withKeys({dir.file("clip.vx")},
                       {E::NextFrame, E::NextFrame, E::NextFrame, E::NextFrame, E::PreviousFrame, E::PreviousFrame,
                        E::PreviousFrame, E::FirstFrame, E::LastFrame, E::LastFrame, E::PreviousFrame, E::NextFrame,
                        E::NextFrame, E::FirstFrame}),
              0);
    EXPECT_EQ(seen.shown, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 3, 2, 1, 0, 7, 6, 7, 0}));
    EXPECT_EQ(chainReads(), (std::vector<std::uint64_t>{0, 1, 2, 3, 4, // four steps
                                                        3,             // a keyframe
                                                        0, 1, 2,       // from keyframe 0
                                                        0, 1,          // again
                                                        0,             // Home
                                                        3, 4, 5, 6, 7, // End: 5 to 7 not read yet
                                                        6,             // 6 is now known as a keyframe
                                                        7,             // a step
                                                        0}));          // Home after the end
    // A wait per frame shown (the last one closes); End on the last frame
    // stays (one more wait, no frame); the end of the frames waits too.
    EXPECT_EQ(seen.waits, 13 + 1 + 1);
    EXPECT_TRUE(messages.messages.empty());
}

// With looping on, the first frame follows the last, stepping on and back.
TEST_F(FrameKeysTest, WithLoopingOnTheFirstFrameFollowsTheLastBothWays) {
    ASSERT_EQ(withKeys({dir.file("clip.vx")}, {E::Loop, E::LastFrame, E::NextFrame, E::NextFrame, E::PreviousFrame,
                                               E::PreviousFrame, E::Loop, E::NextFrame, E::FirstFrame}),
              0);
    EXPECT_EQ(seen.shown, (std::vector<std::uint32_t>{0, 7, 0, 1, 0, 7, 0}));
    EXPECT_EQ(chainReads(), (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 0, 6, 7, 0}));
    // Looping off again: past the last frame the viewer is at its end (a
    // wait without a frame) until Home.
    EXPECT_EQ(seen.waits, 7 + 1);
}

// Bitmaps of a list are frames too: back, first, last, round.
TEST_F(FrameKeysTest, TheKeysGoThroughAListOfBitmaps) {
    for (int n = 0; n < 3; ++n) bitmap("b" + std::to_string(n) + ".bmp", 4, 2, n);
    ASSERT_EQ(withKeys({dir.file("b*.bmp")}, {E::NextFrame, E::PreviousFrame, E::PreviousFrame, E::LastFrame,
                                              E::Loop, E::NextFrame, E::PreviousFrame, E::FirstFrame}),
              0);
    ASSERT_EQ(seen.shown.size(), 7u);
    // The first pixel of each bitmap tells them apart.
    const std::vector<std::uint32_t> firsts = {seen.shown[0], seen.shown[1], seen.shown[5]};
    EXPECT_NE(firsts[0], firsts[1]);
    EXPECT_EQ(seen.shown, (std::vector<std::uint32_t>{firsts[0], firsts[1], firsts[0], seen.shown[3], firsts[0],
                                                      seen.shown[3], firsts[0]}));
    EXPECT_NE(seen.shown[3], firsts[0]);
    EXPECT_NE(seen.shown[3], firsts[1]);
    // Back from the first stays: a wait and no frame.
    EXPECT_EQ(seen.waits, 7 + 1);
}

// A run that writes files writes every frame once, in order, whatever keys
// the user presses while it shows them.
TEST_F(FrameKeysTest, KeysWhileUnpackingChangeNothing) {
    ASSERT_EQ(withKeys({"-uc", dir.file("clip.vx")}, {E::Loop, E::PreviousFrame, E::FirstFrame, E::LastFrame,
                                                      E::PreviousFrame, E::NextFrame, E::FirstFrame, E::Loop,
                                                      E::LastFrame, E::PreviousFrame}),
              0);
    EXPECT_EQ(chainReads(), (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(seen.shown, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    for (int n = 0; n < 8; ++n) EXPECT_TRUE(test::fileExists(dir.file("clip_00000" + std::to_string(n) + ".bmp"))) << n;
    EXPECT_FALSE(test::fileExists(dir.file("clip_000008.bmp")));
    EXPECT_EQ(seen.waits, 0);
}

} // namespace
} // namespace vexel
