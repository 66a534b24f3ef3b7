#include "base/kernel.h"

#include "platform/files.h"
#include "platform/system.h"
#include "platform/utf.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace vexel {

namespace {

// Bytes 0x80..0xBF of code page 1251 (0xC0..0xFF are U+0410..U+044F).
// 0x98 has no character in the code page; it keeps its C1 control value.
constexpr char16_t kHighHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

struct KernelState {
    int units = 0;
    bool valid = false;
    Ansi1251Table table{nullptr, nullptr};
    TWideString path, folder, tablePath;
    std::vector<std::string> arguments;
};

KernelState& state() {
    static KernelState* s = new KernelState;
    return *s;
}

void fillReverse(Ansi1251Table& t) {
    std::memset(t.reverse, 0, 65536);
    for (int b = 0; b < 256; ++b)
        if (t.forward[b] != 0) t.reverse[t.forward[b]] = static_cast<std::uint8_t>(b);
}

bool loadTable(Ansi1251Table& t, const TWideString& path) {
    platform::File f;
    if (!f.open(path.view(), platform::OpenMode::ReadExisting) || f.size() != 512) return false;
    std::uint8_t bytes[512];
    if (!f.readExact(bytes, 512)) return false;
    for (int b = 0; b < 256; ++b) t.forward[b] = static_cast<char16_t>(bytes[2 * b] | (bytes[2 * b + 1] << 8));
    return true;
}

void writeTable(const Ansi1251Table& t, const TWideString& path) {
    std::uint8_t bytes[512];
    for (int b = 0; b < 256; ++b) {
        bytes[2 * b] = static_cast<std::uint8_t>(t.forward[b] & 0xFF);
        bytes[2 * b + 1] = static_cast<std::uint8_t>(t.forward[b] >> 8);
    }
    platform::File f;
    if (!f.open(path.view(), platform::OpenMode::CreateAlways)) return;
    bool ok = f.write(bytes, 512);
    f.close();
    if (!ok) platform::removeFile(path.view());
}

} // namespace

char16_t cp1251ToUnicode(std::uint8_t b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
    return kHighHalf[b - 0x80];
}

const Ansi1251Table* ansi1251() {
    KernelState& s = state();
    return s.valid ? &s.table : nullptr;
}

void kernelInitialize() {
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    KernelState& s = state();
    if (s.units++ > 0) return;
    s.table.forward = static_cast<char16_t*>(memAllocate(512, 2));
    s.table.reverse = static_cast<std::uint8_t*>(memAllocate(65536, 1));
    s.path = TWideString(std::u16string_view(platform::programPath()));
    s.folder = TWideString(std::u16string_view(platform::programFolder()));
    s.tablePath = s.folder + TWideString(u"Ansi1251.wcs");
    if (!s.table.forward || !s.table.reverse) return;
    if (!loadTable(s.table, s.tablePath)) {
        for (int b = 0; b < 256; ++b) s.table.forward[b] = cp1251ToUnicode(static_cast<std::uint8_t>(b));
        writeTable(s.table, s.tablePath);
    }
    fillReverse(s.table);
    s.valid = true;
}

void kernelFinalize() {
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    KernelState& s = state();
    if (s.units == 0 || --s.units > 0) return;
    s.valid = false;
    memFree(s.table.forward);
    memFree(s.table.reverse);
    s.table = {nullptr, nullptr};
    s.path = TWideString();
    s.folder = TWideString();
    s.tablePath = TWideString();
}

TWideString ansiTablePath() { return state().tablePath; }
TWideString programPathString() { return state().path; }
TWideString programFolderString() { return state().folder; }

void setCommandArguments(int argc, char** argv) {
    auto& args = state().arguments;
    args.clear();
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
}

int commandArgumentCount() { return static_cast<int>(state().arguments.size()); }

TWideString commandArgument(int i) {
    auto& args = state().arguments;
    if (i < 0 || i >= static_cast<int>(args.size())) return TWideString();
    return TWideString::fromUtf8(args[static_cast<std::size_t>(i)]);
}

bool splitAtFirst(const TWideString& text, char16_t separator, TWideString& first, TWideString& second) {
    const char16_t* t = text.text();
    std::size_t n = text.length();
    bool quoted = false;
    for (std::size_t i = 0; i < n; ++i) {
        if (t[i] == u'"') quoted = !quoted;
        else if (!quoted && t[i] == separator && !(i + 1 < n && t[i + 1] == separator)) {
            TWideString a = text.substring(1, i), b = text.substring(i + 2, n - i - 1);
            first = stripQuotes(a);
            second = b;
            return true;
        }
    }
    return false;
}

bool splitAtLast(const TWideString& text, char16_t separator, TWideString& first, TWideString& second) {
    const char16_t* t = text.text();
    std::size_t n = text.length();
    bool quoted = false;
    for (std::size_t i = n; i-- > 0;) {
        if (t[i] == u'"') quoted = !quoted;
        else if (!quoted && t[i] == separator) {
            TWideString a = text.substring(1, i), b = text.substring(i + 2, n - i - 1);
            first = a;
            second = stripQuotes(b);
            return true;
        }
    }
    return false;
}

TWideString stripQuotes(const TWideString& text) {
    std::size_t n = text.length();
    if (n >= 2 && text.at(1) == u'"' && text.at(n) == u'"') return text.substring(2, n - 2);
    return text;
}

bool fileExists(const TWideString& path) { return !path.empty() && platform::canOpenForReading(path.view()); }

bool waitMilliseconds(std::uint32_t ms) {
    platform::sleepMilliseconds(ms);
    return true;
}

} // namespace vexel
