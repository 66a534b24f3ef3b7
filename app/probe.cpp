#include "app/probe.h"

#include <vexel/vexel.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace vexel {

namespace {

std::string format(const char* pattern, auto... values) {
    char line[512];
    std::snprintf(line, sizeof line, pattern, values...);
    return line;
}

// Text that is valid UTF-8: valid sequences as they are, each byte that
// starts no valid sequence (overlong forms, surrogates and values past
// U+10FFFF included) as U+FFFD.
std::string displayUtf8(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    while (i < text.size()) {
        const std::uint8_t b = byte(i);
        int length = b < 0x80 ? 1 : b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 0;
        bool valid = length > 0 && i + length <= text.size();
        if (valid && length > 1) {
            std::uint32_t c = b & (0xFF >> (length + 1));
            for (int k = 1; k < length && valid; ++k) {
                const std::uint8_t t = byte(i + k);
                valid = (t & 0xC0) == 0x80;
                c = (c << 6) | (t & 0x3F);
            }
            if (valid && ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                          (c >= 0xD800 && c <= 0xDFFF)))
                valid = false;
        }
        if (valid) {
            out.append(text, i, static_cast<std::size_t>(length));
            i += static_cast<std::size_t>(length);
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// A JSON string: quotes, backslashes and control characters escaped; the
// bytes of a name that is not UTF-8 as U+FFFD.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : displayUtf8(text)) {
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

std::uint64_t physicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size)
                                 : std::numeric_limits<std::uint64_t>::max();
}

struct Reader {
    vexel_reader* handle = nullptr;
    ~Reader() { vexel_reader_close(handle); }
};

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
    // Every record is checked as a viewer plays it, on the fast path, with
    // the frame before it as its reference; only the machine's memory
    // limits it.
    vexel_read_options options;
    vexel_read_options_default(&options);
    options.fast_paint = 1;
    options.max_pixels = std::numeric_limits<std::uint64_t>::max();
    options.max_memory = physicalMemoryBytes();
    Reader reader;
    const vexel_status opened = vexel_reader_open_file(path.c_str(), &options, &reader.handle);
    if (opened == VEXEL_ERROR_NOT_VX) {
        struct stat st;
        if (stat(path.c_str(), &st) == 0) report.fileSize = static_cast<std::uint64_t>(st.st_size);
        report.failure = "record 0 at offset 0 is not a .vx record";
        return kProbeNotVx;
    }
    if (opened != VEXEL_OK) {
        report.failure = "cannot be opened";
        return kProbeNotVx;
    }
    vexel_reader_data_size(reader.handle, &report.fileSize);
    std::size_t count = 0;
    vexel_reader_record_count(reader.handle, &count);
    for (std::size_t i = 0; i < count; ++i) {
        vexel_record_info info;
        vexel_reader_record_info(reader.handle, i, &info);
        ProbedRecord r;
        r.offset = info.offset;
        r.size = info.size;
        r.headerSize = info.header_size;
        r.mode = info.mode;
        r.streams = info.streams;
        r.width = info.width;
        r.height = info.height;
        r.blockSize = info.block_size;
        r.chromaStep = info.chroma_step;
        r.frameRate = info.frame_rate;
        report.records.push_back(r);
        if (check && vexel_reader_verify(reader.handle, i) != VEXEL_OK) {
            report.failure = format("record %zu at offset %" PRIu64 " does not decode", i, info.offset);
            return kProbeBadRecord;
        }
    }
    std::uint64_t end = 0;
    if (vexel_reader_chain_status(reader.handle, &end) != VEXEL_OK) {
        report.failure = format("record %zu at offset %" PRIu64 " is not a .vx record", count, end);
        return kProbeBadRecord;
    }
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
