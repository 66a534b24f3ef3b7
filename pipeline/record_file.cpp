#include "pipeline/record_file.h"

namespace vexel {

Result readRecordHeader(platform::File& file, std::uint64_t recordStart, RecordHeader& header) {
    const std::int64_t size = file.size();
    if (size < 0 || !file.seek(recordStart)) return kFailed.because(Reason::ReadFailed);
    std::uint8_t bytes[kRecordHeaderLimit];
    const std::int64_t got = file.read(bytes, sizeof bytes);
    if (got <= 0) return kFailed.because(Reason::ReadFailed);
    return parseRecordHeader({bytes, static_cast<std::size_t>(got)}, recordStart, static_cast<std::uint64_t>(size),
                             header);
}

} // namespace vexel
