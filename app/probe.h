// What vexel-probe tells of a .vx file: its records, read by following
// their links from the first (the container's parser refuses a link that
// does not lead forward, so the walk ends), and with check on, whether
// every record decodes - in order, each with the frame before it as its
// reference, as a viewer plays them - without writing anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexel {

struct ProbedRecord {
    std::uint64_t offset = 0, size = 0;
    std::uint32_t headerSize = 0;
    std::uint32_t mode = 0, streams = 1;
    std::uint32_t width = 0, height = 0, blockSize = 0, chromaStep = 0;
    double frameRate = 0; // 0: none
};

struct ProbeReport {
    std::string path;
    std::vector<ProbedRecord> records;
    std::uint64_t fileSize = 0;
    // Empty when the file was read to its last record (and, when checked,
    // every record decoded); else what went wrong, naming the record.
    std::string failure;
    bool checked = false;

    double frameRate() const { return records.empty() ? 0 : records.front().frameRate; }
    // Seconds at the file's rate; 0 without one.
    double duration() const;
    double bitsPerPixel() const;
};

// Results of probeFile.
constexpr int kProbeDone = 0;
constexpr int kProbeNotVx = 1;     // missing, unreadable, or not a .vx file
constexpr int kProbeBadRecord = 2; // a record after the first is refused, or (checking) does not decode

int probeFile(const std::string& path, bool check, ProbeReport& report);

// One line per record, then a summary line.
std::string probeText(const ProbeReport& report);
// The same as one JSON object.
std::string probeJson(const ProbeReport& report);

} // namespace vexel
