#include "pipeline/codec_session.h"
#include "pipeline/compression_pipeline.h"

#include "codec/container.h"
#include "platform/files.h"
#include "platform/test_hooks.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A viewer record holding a picture in its planes: a smooth background with
// a noisy square that moves with the frame number.
void paintFrame(CodecSession& record, int width, int height, int frame) {
    record.picture.planes.allocate(width, height);
    record.picture.infoHeader.width = width;
    record.picture.infoHeader.height = height;
    record.picture.currentHeader = record.picture.infoHeader;
    std::mt19937 random(static_cast<unsigned>(frame));
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = record.picture.planes.row(p, y);
            for (int x = 0; x < width; ++x) {
                bool square = x >= frame * 3 && x < frame * 3 + 24 && y >= 10 && y < 34;
                row[x] = static_cast<std::uint8_t>(square ? random() % 256 : 40 + x / 2 + y / 3 + 30 * p);
            }
        }
}

struct ThreadingChoice {
    explicit ThreadingChoice(Threading t) { setStreamThreading(t); }
    ~ThreadingChoice() { setStreamThreading(Threading::Automatic); }
};

struct FailingStream {
    explicit FailingStream(std::int32_t i, platform::StreamFault stage = platform::StreamFault::Encode) {
        platform::failStreamForTest(i, stage);
    }
    ~FailingStream() { platform::failStreamForTest(-1, platform::StreamFault::Encode); }
};

// A job that adds frames to the grouped file at path, chained through last.
CompressionJob groupedJob(const std::string& path, std::uint8_t mode, std::uint32_t streams, std::uint64_t& last,
                          double& rate) {
    CompressionJob job;
    job.outputPath = TWideString::fromUtf8(path);
    job.mode = mode;
    job.groupFlag = true;
    job.lastRecordOffset = &last;
    job.frameRate = &rate;
    job.streamCount = streams;
    return job;
}

// Writes frames 0..count-1 into one grouped file.
Bytes writeVideo(const std::string& path, int count, std::uint8_t mode, std::uint32_t streams, double rate) {
    CodecSession record;
    std::uint64_t last = 0;
    for (int f = 0; f < count; ++f) {
        paintFrame(record, 96, 72, f);
        CompressionJob job = groupedJob(path, mode, streams, last, rate);
        job.firstFrame = f == 0;
        EXPECT_EQ(compressFrame(record, job), kDone) << f;
        // The previous picture is the reference for kept blocks.
        record.picture.frameBuffer.swap(record.picture.planes);
    }
    EXPECT_EQ(record.grouped.finish(), kDone);
    return test::readFile(path);
}

std::vector<RecordHeader> records(const Bytes& file) { return test::recordChain(file); }

TEST(KeyframeCounter, ARateOf25MakesFrames1_25And49Keyframes) {
    std::uint32_t counter = 0;
    double rate = 25;
    std::vector<int> keyframes;
    for (int frame = 1; frame <= 60; ++frame)
        if (advanceKeyframeCounter(counter, &rate)) keyframes.push_back(frame);
    EXPECT_EQ(keyframes, (std::vector<int>{1, 25, 49}));
}

TEST(KeyframeCounter, NoRateOrANegativeOneMakesEveryFrameAKeyframe) {
    std::uint32_t counter = 7;
    double negative = -25, negativeZero = -0.0;
    EXPECT_TRUE(advanceKeyframeCounter(counter, nullptr));
    EXPECT_TRUE(advanceKeyframeCounter(counter, &negative));
    EXPECT_TRUE(advanceKeyframeCounter(counter, &negative));
    EXPECT_TRUE(advanceKeyframeCounter(counter, &negativeZero));
}

TEST(CompressionPipeline, ThreadsAndSequentialStreamsWriteTheSameBytes) {
    test::TempDir dir;
    for (std::uint8_t mode : {1, 7, 8, 9}) {
        Bytes sequential, pooled;
        {
            ThreadingChoice t(Threading::Sequential);
            sequential = writeVideo(dir.file("a.vx"), 12, mode, 4, 5);
        }
        {
            ThreadingChoice t(Threading::Pool);
            pooled = writeVideo(dir.file("b.vx"), 12, mode, 4, 5);
        }
        ASSERT_GT(sequential.size(), 1000u);
        EXPECT_EQ(sequential, pooled) << "mode " << int(mode);
    }
}

TEST(CompressionPipeline, GroupedRecordsAreChainedBothWaysWithTheirRate) {
    test::TempDir dir;
    Bytes file = writeVideo(dir.file("v.vx"), 5, 8, 3, 12.5);
    std::vector<RecordHeader> chain = records(file);
    ASSERT_EQ(chain.size(), 5u);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        EXPECT_EQ(chain[i].headerSize, 75u + 4 * 3);
        EXPECT_EQ(chain[i].prevRecord, i ? chain[i - 1].recordStart : 0);
        EXPECT_DOUBLE_EQ(chain[i].frameRate, 12.5);
        EXPECT_EQ(chain[i].streamCount, 3u);
        EXPECT_LT(chain[i].streamOffsets[0], chain[i].streamOffsets[1]);
        EXPECT_LT(chain[i].streamOffsets[1], chain[i].streamOffsets[2]);
    }
    EXPECT_EQ(chain.back().nextRecord, 0u);
    EXPECT_EQ(chain.back().recordStart + chain.back().recordSize, file.size());
}

TEST(CompressionPipeline, AFailingStreamEndsTheFrameAndCutsTheFileBackToItsLastWholeRecord) {
    VEXEL_NEEDS_TEST_HOOKS(); // the failing streams are test hooks
    for (Threading threading : {Threading::Sequential, Threading::Pool}) {
        ThreadingChoice t(threading);
        test::TempDir dir;
        const std::string path = dir.file("v.vx");
        CodecSession record;
        std::uint64_t last = 0;
        double rate = 25;
        CompressionJob job = groupedJob(path, 7, 4, last, rate);
        for (int f = 0; f < 3; ++f) {
            paintFrame(record, 96, 72, f);
            job.firstFrame = f == 0;
            ASSERT_EQ(compressFrame(record, job), kDone);
        }
        const std::uint64_t third = last;
        job.firstFrame = false;
        {
            FailingStream failing(3);
            EXPECT_EQ(compressFrame(record, job), kFailed);
        }
        EXPECT_EQ(last, third); // the chain still ends at the third record
        EXPECT_FALSE(test::fileExists(path)); // the old target (none here) stays until the run ends
        // The record (and its pool) still work for the next frame.
        EXPECT_EQ(compressFrame(record, job), kDone);
        ASSERT_EQ(record.grouped.finish(), kDone);
        const Bytes file = test::readFile(path);
        const std::vector<RecordHeader> chain = records(file);
        ASSERT_EQ(chain.size(), 4u);
        EXPECT_EQ(chain[3].prevRecord, third);
        EXPECT_EQ(chain.back().recordStart + chain.back().recordSize, file.size());
        EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});
    }
}

// Every stream of a four-stream video failing in each stage, one after
// another and in the pool: the frame fails with its stage's result, the file
// under way keeps exactly the records before it, and the next frame is
// written as if the failed one had never been asked for.
TEST(CompressionPipeline, AStreamFailingInAnyStageCostsOnlyItsFrame) {
    VEXEL_NEEDS_TEST_HOOKS(); // the failing streams are test hooks
    struct Failure {
        int frame = -1;
        std::int32_t stream = -1;
        platform::StreamFault stage = platform::StreamFault::Encode;
    };
    const std::vector<int> frames{0, 1, 2, 3, 4};
    // Writes the frames, the failing one with the failure; checks what the
    // failure leaves in the file under way.
    auto write = [&](const std::string& path, const Failure& failure) {
        CodecSession record;
        std::uint64_t last = 0;
        double rate = 3;
        CompressionJob job = groupedJob(path, 8, 4, last, rate);
        for (int f : frames) {
            paintFrame(record, 96, 72, f);
            job.firstFrame = f == 0;
            if (f != failure.frame) {
                EXPECT_EQ(compressFrame(record, job), kDone) << f;
                record.picture.frameBuffer.swap(record.picture.planes);
                continue;
            }
            platform::File& underWay = record.grouped.file.file();
            const std::int64_t before = underWay.size();
            const std::uint64_t chainEnd = last;
            FailingStream failing(failure.stream, failure.stage);
            EXPECT_EQ(compressFrame(record, job), failure.stage == platform::StreamFault::Encode ? kFailed : kFileError);
            EXPECT_EQ(last, chainEnd);
            EXPECT_EQ(underWay.size(), before);
        }
        EXPECT_EQ(record.grouped.finish(), kDone);
        return test::readFile(path);
    };
    test::TempDir dir;
    for (Threading threading : {Threading::Sequential, Threading::Pool}) {
        ThreadingChoice t(threading);
        const Bytes whole = write(dir.file("whole.vx"), {});
        ASSERT_EQ(records(whole).size(), frames.size());
        for (platform::StreamFault stage : {platform::StreamFault::Encode, platform::StreamFault::Write})
            for (std::int32_t stream = 1; stream <= 4; ++stream) {
                SCOPED_TRACE(testing::Message() << "stage " << int(stage) << " stream " << stream);
                const std::string path = dir.file("v" + std::to_string(int(stage)) + std::to_string(stream) + ".vx");
                const Bytes cut = write(path, {2, stream, stage});
                const std::vector<RecordHeader> chain = records(cut), all = records(whole);
                ASSERT_EQ(chain.size(), frames.size() - 1);
                // The records before the failure are the uninterrupted run's, byte for byte.
                EXPECT_TRUE(std::equal(cut.begin(), cut.begin() + static_cast<std::ptrdiff_t>(chain[2].recordStart),
                                       whole.begin()));
                EXPECT_EQ(chain.back().recordStart + chain.back().recordSize, cut.size());
            }
    }
    EXPECT_EQ(test::listFolder(dir.path()).size(), 9u); // no temporary file is left behind
}

TEST(CompressionPipeline, AGroupedOutputReplacesItsTargetOnlyWhenFinishedAndAFailedFirstRecordLeavesIt) {
    VEXEL_NEEDS_TEST_HOOKS(); // the failing streams are test hooks
    test::TempDir dir;
    const std::string path = dir.file("v.vx");
    ASSERT_TRUE(test::writeFile(path, {1, 2, 3}));
    CodecSession record;
    std::uint64_t last = 0;
    double rate = 25;
    CompressionJob job = groupedJob(path, 8, 2, last, rate);
    job.firstFrame = true;
    paintFrame(record, 40, 30, 0);
    {
        FailingStream failing(1);
        EXPECT_EQ(compressFrame(record, job), kFailed);
    }
    EXPECT_EQ(record.grouped.finish(), kDone);
    EXPECT_EQ(test::readFile(path), (Bytes{1, 2, 3})); // no record: the old file stays
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});
    ASSERT_EQ(compressFrame(record, job), kDone);
    EXPECT_EQ(test::readFile(path), (Bytes{1, 2, 3})); // written without a name
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});
    EXPECT_EQ(record.grouped.records, 1u);
    EXPECT_GT(record.grouped.file.file().size(), 0);
    ASSERT_EQ(record.grouped.finish(), kDone);
    EXPECT_EQ(records(test::readFile(path)).size(), 1u);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});
}

TEST(CompressionPipeline, AGroupedOutputBelongsToItsOwnerWhichFinishesOrDiscardsIt) {
    test::TempDir dir;
    const std::string path = dir.file("v.vx");
    ASSERT_TRUE(test::writeFile(path, {1, 2, 3}));
    std::uint64_t last = 0;
    double rate = 25;
    CodecState codec;
    OffScreenBuffer surfaces;
    PictureBuffer picture(&surfaces);
    CodecSession painter;
    paintFrame(painter, 40, 30, 0);
    picture.planes.swap(painter.picture.planes);
    picture.infoHeader = painter.picture.infoHeader;

    // A grouped job without an output to go to writes nothing.
    CompressionJob job = groupedJob(path, 8, 2, last, rate);
    job.firstFrame = true;
    EXPECT_EQ(compressFrame(codec, picture, job), kFileError);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});

    // Discarded: the target keeps what it held and the new file goes.
    {
        GroupedOutput grouped;
        job.grouped = &grouped;
        ASSERT_EQ(compressFrame(codec, picture, job), kDone);
        EXPECT_TRUE(grouped.isOpen());
        grouped.discard();
        EXPECT_FALSE(grouped.isOpen());
    }
    EXPECT_EQ(test::readFile(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});

    // An owner that ends without finishing its output stops it then: a
    // target that existed stays as it was; where there was none, the records
    // written become it. The codec state has no part in it.
    for (const bool existed : {true, false}) {
        SCOPED_TRACE(existed ? "an existing target" : "a new name");
        if (!existed) {
            ASSERT_EQ(std::remove(path.c_str()), 0);
        }
        {
            GroupedOutput grouped;
            job.grouped = &grouped;
            last = 0;
            for (int frame = 0; frame < 2; ++frame) {
                job.firstFrame = frame == 0;
                ASSERT_EQ(compressFrame(codec, picture, job), kDone);
            }
            codec.release();
            EXPECT_EQ(test::fileExists(path), existed);
        }
        if (existed) EXPECT_EQ(test::readFile(path), (Bytes{1, 2, 3}));
        else EXPECT_EQ(records(test::readFile(path)).size(), 2u);
        EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"v.vx"});
    }
}

TEST(CompressionPipeline, AFailedSinglePictureLeavesTheOldFileAndNoTemporaryFile) {
    VEXEL_NEEDS_TEST_HOOKS(); // the failing streams are test hooks
    test::TempDir dir;
    const std::string path = dir.file("pic.vx");
    ASSERT_TRUE(test::writeFile(path, {1, 2, 3}));
    CodecSession record;
    paintFrame(record, 40, 30, 0);
    CompressionJob job;
    job.outputPath = TWideString::fromUtf8(path);
    job.mode = 8;
    job.streamCount = 2;
    {
        FailingStream failing(2);
        EXPECT_EQ(compressFrame(record, job), kFailed);
    }
    EXPECT_EQ(test::readFile(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.vx"});
    EXPECT_EQ(compressFrame(record, job), kDone);
    EXPECT_EQ(records(test::readFile(path)).size(), 1u);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.vx"});
}

TEST(CompressionPipeline, AModeAbove9IsRefused) {
    CodecSession record;
    paintFrame(record, 8, 8, 0);
    CompressionJob job;
    job.mode = 10;
    EXPECT_EQ(compressFrame(record, job), kNotVx.because(Reason::UnknownMode));
}

} // namespace
} // namespace vexel
