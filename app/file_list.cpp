#include "app/file_list.h"

#include "base/kernel.h"
#include "ui/toknosoobzheniy.h"

#include <string>

namespace vexel {

namespace {

int outOfMemory(const RunNames& names) {
    ui::showMessage(TWideString(u"Не достаточно памяти для загрузки файл(-а,-ов):\r") + names.stem + names.extension);
    return 1;
}

} // namespace

TWideString sequenceName(const RunNames& names, std::uint32_t number, int width) {
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return names.wildcardHead + TWideString(std::u16string(digits.begin(), digits.end())) + names.wildcardTail +
           names.extension;
}

SequenceStart probeSequence(const RunNames& names) {
    for (std::uint32_t k = 0; k <= 1; ++k)
        for (int w = 1; w <= 9; ++w)
            if (fileExists(names.folder + sequenceName(names, k, w))) return {k, w};
    return {};
}

int buildFileList(const RunNames& names, TSpisokStrok& list) {
    if (!names.wildcard) return list.append((names.stem + names.extension).view()) ? 0 : outOfMemory(names);

    SequenceStart start = probeSequence(names);
    if (start.width > 0) {
        std::uint32_t misses = 0;
        for (std::uint32_t k = start.number; k <= kSequenceLast && misses < kSequenceMisses; ++k) {
            TWideString name = sequenceName(names, k, start.width);
            if (!fileExists(names.folder + name)) {
                ++misses;
                continue;
            }
            misses = 0;
            if (!list.append(name.view())) return outOfMemory(names);
        }
        return 0;
    }
    if (!list.fillFromPattern(names.folder.view(), (names.stem + names.extension).view())) return outOfMemory(names);
    if (!list.sort()) list.resize(0, 0);
    return 0;
}

} // namespace vexel
