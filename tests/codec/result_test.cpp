#include "codec/result.h"

#include "codec/container.h"
#include "codec/frame_decoder.h"
#include "pipeline/codec_session.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Results, ReadAsTheNumbersTheProgramHasAlwaysReported) {
    EXPECT_EQ(int(kDone), 1);
    EXPECT_EQ(int(kFailed), 0);
    EXPECT_EQ(int(kFileError), -1);
    EXPECT_EQ(int(kNotVx), -2);
    EXPECT_EQ(int(kNoMemory), -3);
    EXPECT_TRUE(kDone.ok());
    EXPECT_FALSE(kFailed.ok());
    // A reason says more; the number stays the code's.
    const Result mode = kNotVx.because(Reason::UnknownMode);
    EXPECT_EQ(int(mode), -2);
    EXPECT_EQ(mode, kNotVx);
    EXPECT_EQ(mode.reason(), Reason::UnknownMode);
}

TEST(Results, EveryReasonHasANameOfItsOwnAndBelongsToOneCode) {
    std::set<std::string> names;
    for (int i = 0; i < static_cast<int>(Reason::Count); ++i) {
        const Reason r = static_cast<Reason>(i);
        const std::string name = reasonName(r);
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_GE(reasonCode(r), -3);
        EXPECT_LE(reasonCode(r), 1);
    }
    EXPECT_STREQ(reasonName(Reason::StreamDoesNotExpand), "the stream does not expand");
    EXPECT_STREQ(reasonName(static_cast<Reason>(200)), "unknown reason");
    // The generic results carry the generic reason of their code.
    for (const Result r : {kDone, kFailed, kFileError, kNotVx, kNoMemory}) EXPECT_EQ(reasonCode(r.reason()), r.code());
    for (Reason r : {Reason::UnknownMode, Reason::NotVxRecord}) EXPECT_EQ(reasonCode(r), -2);
    for (Reason r : {Reason::CannotOpen, Reason::CannotWrite, Reason::CannotReplace, Reason::NoOutput})
        EXPECT_EQ(reasonCode(r), -1);
}

// What a refused header, stream or record says about itself.
TEST(Results, FailuresSayWhatFailed) {
    RecordHeader h;
    h.width = 20;
    h.height = 10;
    h.blockSizeCode = 8;
    h.mode = 8;
    h.chromaStep = 4;
    Bytes header(kRecordHeaderLimit);
    header.resize(writeRecordHeader(h, false, 0, header));
    RecordHeader read;
    EXPECT_EQ(parseRecordHeader(header, 0, header.size() + 100, read).reason(), Reason::None);
    Bytes b = header;
    b[0] = '?';
    EXPECT_EQ(parseRecordHeader(b, 0, b.size() + 100, read).reason(), Reason::NotVxRecord);
    b = header;
    b[39] = 10; // the mode byte
    const Result unknown = parseRecordHeader(b, 0, b.size() + 100, read);
    EXPECT_EQ(unknown, kNotVx);
    EXPECT_EQ(unknown.reason(), Reason::UnknownMode);

    // A mode-8 stream that does not expand, and a mode-2 stream cut short.
    CodecSession session;
    PictureBufferTarget target(session.picture);
    StreamDecodeJob job;
    job.width = 16;
    job.height = 16;
    job.headerSize = 47;
    const Bytes garbage(40, 0xFF);
    job.stream = garbage;
    job.mode = 8;
    EXPECT_EQ(decodeStream(target, job).reason(), Reason::StreamDoesNotExpand);
    const Bytes shortStream(2, 0);
    job.stream = shortStream;
    job.mode = 2;
    const Result cut = decodeStream(target, job);
    EXPECT_EQ(cut, kFailed);
    EXPECT_EQ(cut.reason(), Reason::StreamDoesNotParse);

    // The pipelines: a mode above 9, a file that is not there, a grouped
    // record with nowhere to go.
    test::TempDir dir;
    session.picture.planes.allocate(16, 16);
    session.picture.infoHeader.width = 16;
    session.picture.infoHeader.height = 16;
    CompressionJob pack;
    pack.outputPath = TWideString::fromUtf8(dir.file("a.vx"));
    pack.mode = 10;
    EXPECT_EQ(compressFrame(session, pack).reason(), Reason::UnknownMode);
    pack.mode = 8;
    pack.groupFlag = true;
    pack.firstFrame = true;
    GroupedOutput none;
    CodecState codec;
    EXPECT_EQ(compressFrame(codec, session.picture, pack).reason(), Reason::NoOutput);
    pack.grouped = &none;
    EXPECT_EQ(compressFrame(codec, session.picture, pack), kDone);
    none.discard();

    DecompressionCall call;
    std::uint64_t position = 0;
    call.path = TWideString::fromUtf8(dir.file("missing.vx"));
    call.recordPosition = &position;
    const Result missing = decompressRecord(session, call);
    EXPECT_EQ(missing, kFileError);
    EXPECT_EQ(missing.reason(), Reason::CannotOpen);
    Bytes record = header;
    record[39] = 10;
    record.resize(record.size() + 100);
    ASSERT_TRUE(test::writeFile(dir.file("mode10.vx"), record));
    call.path = TWideString::fromUtf8(dir.file("mode10.vx"));
    position = 0;
    EXPECT_EQ(decompressRecord(session, call).reason(), Reason::UnknownMode);
}

} // namespace
} // namespace vexel
