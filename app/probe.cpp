#include "app/probe.h"

#include "base/memdiag.h"
#include "codec/codec_session.h"
#include "codec/container.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/utf.h"

#include <cinttypes>
#include <cstdio>

namespace vexel {

namespace {

std::string format(const char* pattern, auto... values) {
    char line[512];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

// A JSON string: quotes, backslashes and control characters escaped; the
// bytes of a name that is not UTF-8 as U+FFFD.
std::string jsonString(const std::string& text) {
    const std::string utf8 = platform::utf16ToDisplayUtf8(platform::utf8ToUtf16(text));
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += format("\\u%04x", c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Decodes one record with the frame before it held in session.
bool decodes(CodecSession& session, platform::File& file, const RecordHeader& h) {
    if (decodeMemoryEstimate(h, 1, 0) > platform::physicalMemoryBytes()) return false;
    TrackedBuffer<std::uint8_t> bytes;
    if (!bytes.allocate(static_cast<std::size_t>(h.recordSize)) || !file.seek(h.recordStart) ||
        !file.readExact(bytes.data(), h.recordSize))
        return false;
    RecordDecodeOptions options;
    options.fastPaint = true;
    return decodeRecordBytes(session.codec, session.picture, h, {bytes.data(), bytes.size()}, options) == kUnpackDone;
}

} // namespace

double ProbeReport::duration() const {
    const double rate = frameRate();
    return rate > 0 ? static_cast<double>(records.size()) / rate : 0;
}

double ProbeReport::bitsPerPixel() const {
    double pixels = 0;
    for (const ProbedRecord& r : records) pixels += static_cast<double>(r.width) * r.height;
    return pixels > 0 ? 8.0 * static_cast<double>(fileSize) / pixels : 0;
}

int probeFile(const std::string& path, bool check, ProbeReport& report) {
    report = ProbeReport();
    report.path = path;
    report.checked = check;
    platform::File file;
    if (!file.open(platform::utf8ToUtf16(path), platform::OpenMode::ReadExisting)) {
        report.failure = "cannot be opened";
        return kProbeNotVx;
    }
    report.fileSize = static_cast<std::uint64_t>(std::max<std::int64_t>(file.size(), 0));
    CodecSession session;
    session.picture.planesWanted = true;
    for (std::uint64_t at = 0;;) {
        RecordHeader h;
        if (readRecordHeader(file, at, h) != kCodecDone) {
            report.failure = format("record %zu at offset %" PRIu64 " is not a .vx record", report.records.size(), at);
            return report.records.empty() ? kProbeNotVx : kProbeBadRecord;
        }
        ProbedRecord r;
        r.offset = at;
        r.size = h.recordSize;
        r.headerSize = h.headerSize;
        r.mode = h.mode;
        r.streams = streamTotal(h);
        r.width = h.width;
        r.height = h.height;
        r.blockSize = h.blockSize;
        r.chromaStep = h.chromaStep;
        r.frameRate = h.frameRate;
        report.records.push_back(r);
        if (check && !decodes(session, file, h)) {
            report.failure = format("record %zu at offset %" PRIu64 " does not decode", report.records.size() - 1, at);
            return kProbeBadRecord;
        }
        if (h.nextRecord == 0) break;
        at = h.nextRecord;
    }
    clearDecompressionStatusText();
    return kProbeDone;
}

std::string probeText(const ProbeReport& report) {
    std::string out;
    for (const ProbedRecord& r : report.records) {
        out += format("%s: offset %" PRIu64 ", %" PRIu64 " bytes, header %u, mode %u, %u stream%s, %u x %u, block %u, "
                      "chroma %u",
                      report.path.c_str(), r.offset, r.size, r.headerSize, r.mode, r.streams, r.streams == 1 ? "" : "s",
                      r.width, r.height, r.blockSize, r.chromaStep);
        out += r.frameRate > 0 ? format(", %g fps\n", r.frameRate) : std::string(", no frame rate\n");
    }
    out += format("%s: %zu frame%s", report.path.c_str(), report.records.size(), report.records.size() == 1 ? "" : "s");
    if (report.frameRate() > 0) out += format(", %.3f s at %g fps", report.duration(), report.frameRate());
    out += format(", %.3f bits per pixel", report.bitsPerPixel());
    if (report.checked && report.failure.empty()) out += ", every record decodes";
    out += "\n";
    if (!report.failure.empty()) out += report.path + ": " + report.failure + "\n";
    return out;
}

std::string probeJson(const ProbeReport& report) {
    std::string out = "{\"file\": " + jsonString(report.path) + ", \"bytes\": " + std::to_string(report.fileSize) +
                      ", \"records\": [";
    for (std::size_t i = 0; i < report.records.size(); ++i) {
        const ProbedRecord& r = report.records[i];
        out += format("%s{\"offset\": %" PRIu64 ", \"size\": %" PRIu64 ", \"header\": %u, \"mode\": %u, "
                      "\"streams\": %u, \"width\": %u, \"height\": %u, \"block\": %u, \"chroma\": %u, "
                      "\"frame_rate\": %.17g}",
                      i ? ", " : "", r.offset, r.size, r.headerSize, r.mode, r.streams, r.width, r.height, r.blockSize,
                      r.chromaStep, r.frameRate);
    }
    out += format("], \"frames\": %zu, \"duration\": %.17g, \"bits_per_pixel\": %.17g", report.records.size(),
                  report.duration(), report.bitsPerPixel());
    if (report.checked) out += std::string(", \"decodes\": ") + (report.failure.empty() ? "true" : "false");
    out += ", \"error\": " + (report.failure.empty() ? std::string("null") : jsonString(report.failure)) + "}";
    return out;
}

} // namespace vexel
