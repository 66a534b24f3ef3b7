#include "base/tspisokstrok.h"

#include "base/dialogs.h"
#include "base/kernel.h"
#include "base/memdiag.h"
#include "platform/files.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Upper case at even codes, lower case at the odd code after.
char16_t foldEvenPair(char16_t c) { return (c & 1) ? c : static_cast<char16_t>(c + 1); }
// Upper case at odd codes, lower case at the even code after.
char16_t foldOddPair(char16_t c) { return (c & 1) ? static_cast<char16_t>(c + 1) : c; }

// The joined text of a name: the name without its digit run.
struct Joined {
    std::u16string_view name;
    NaturalKey key;
    std::size_t length() const { return name.size() - key.runLength; }
    char16_t operator[](std::size_t i) const { return name[i < key.runStart ? i : i + key.runLength]; }
};

int compareJoined(const Joined& a, const Joined& b) {
    std::size_t n = std::min(a.length(), b.length());
    for (std::size_t i = 0; i < n; ++i) {
        char16_t x = foldCase(a[i]), y = foldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.length() == b.length() ? 0 : (a.length() < b.length() ? -1 : 1);
}

// Compares two digit runs by value, exactly, whatever their length.
int compareNumbers(std::u16string_view a, std::u16string_view b) {
    while (!a.empty() && a.front() == u'0') a.remove_prefix(1);
    while (!b.empty() && b.front() == u'0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// The natural order of two names with their keys; 0 only for equal texts.
int compareNatural(std::u16string_view a, const NaturalKey& ka, std::u16string_view b, const NaturalKey& kb) {
    if (ka.hasNumber != kb.hasNumber) return ka.hasNumber ? -1 : 1;
    int c = compareJoined(Joined{a, ka}, Joined{b, kb});
    if (c == 0 && ka.hasNumber)
        c = compareNumbers(a.substr(ka.runStart, ka.runLength), b.substr(kb.runStart, kb.runLength));
    if (c == 0) c = a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0);
    return c;
}

// Shows the sort's progress for long lists; does nothing for short ones.
class SortProgress {
public:
    explicit SortProgress(std::uint32_t rows) : rows_(rows) {
        if (rows <= TSpisokStrok::kProgressThreshold) return;
        step_ = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::floor(std::min(rows, 1000u) * 0.02)));
        window_ = dialogs().openProgress(TWideString(), TWideString(u"Сортировка списка файлов"));
        if (!window_) return;
        window_->progress(0, -1);
    }
    ~SortProgress() {
        if (!window_) return;
        window_->finish();
        dialogs().closeProgress(window_);
    }
    // Called after each row is placed; reports after every step-th one.
    void placed(std::uint32_t count) {
        if (!window_ || count % step_ != 0) return;
        window_->progress(static_cast<float>(count) / static_cast<float>(rows_), 0);
    }

private:
    std::uint32_t rows_;
    std::uint32_t step_ = 1;
    ProgressView* window_ = nullptr;
};

} // namespace

char16_t foldCase(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE) return c == 0xD7 ? c : static_cast<char16_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x178) return 0xFF;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return foldOddPair(c);
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return foldEvenPair(c);
    }
    if (c >= 0x391 && c <= 0x3AB) return c == 0x3A2 ? c : static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF)) return foldEvenPair(c);
    if (c == 0x4C0) return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE) return foldOddPair(c);
    return c;
}

int compareIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return compareJoined(Joined{a, NaturalKey{}}, Joined{b, NaturalKey{}});
}

NaturalKey naturalKey(std::u16string_view name) {
    NaturalKey key;
    std::size_t i = 0;
    while (i < name.size() && !isDigit(name[i])) ++i;
    if (i == name.size()) return key;
    std::size_t end = i;
    while (end < name.size() && isDigit(name[end])) ++end;
    key.hasNumber = true;
    key.runStart = i;
    key.runLength = end - i;
    return key;
}

bool naturalLess(std::u16string_view a, std::u16string_view b) {
    return compareNatural(a, naturalKey(a), b, naturalKey(b)) < 0;
}

TSpisokStrok::TSpisokStrok(std::uint32_t capacityRows, std::uint32_t strideGranularity)
    : TDvumernoeMnogestvoElementov<char16_t>(std::max<std::uint32_t>(capacityRows, 1) * std::max<std::uint32_t>(strideGranularity, 1),
                                             strideGranularity) {}

bool TSpisokStrok::append(std::u16string_view text) {
    if (text.find(u'\0') != std::u16string_view::npos || text.size() >= 0xFFFFFFFFu || rows == 0xFFFFFFFFu) return false;
    Guard guard(globalLock());
    std::uint32_t needed = std::max<std::uint32_t>(columns, static_cast<std::uint32_t>(text.size() + 1));
    if (!resize(rows + 1, needed, false, true, true)) return false;
    char16_t* last = row(rows - 1);
    std::memcpy(last, text.data(), text.size() * sizeof(char16_t));
    std::memset(last + text.size(), 0, (columns - text.size()) * sizeof(char16_t));
    return true;
}

std::u16string_view TSpisokStrok::text(std::uint32_t i) const {
    const char16_t* r = row(i);
    if (!r) return {};
    std::size_t n = 0;
    while (n < columns && r[n]) ++n;
    return std::u16string_view(r, n);
}

bool TSpisokStrok::fillFromPattern(std::u16string_view folder, std::u16string_view pattern) {
    resize(0, 0);
    std::u16string_view slash = folder.empty() || folder.back() == u'/' ? u"" : u"/";
    TWideString path = TWideString(folder) + TWideString(slash) + TWideString(pattern);
    if (fileExists(path)) return append(pattern);

    TWideString where(folder), what(pattern);
    if (pattern.find(u'*') == std::u16string_view::npos) {
        where = path;
        what = TWideString(u"*.*");
    }
    bool ok = true;
    platform::enumerateFolder(where.view(), what.view(), [&](std::u16string_view name, bool notAFile) {
        if (notAFile || name.empty() || name.front() == u'!') return true;
        ok = append(name);
        return ok;
    });
    if (!ok) resize(0, 0);
    return ok;
}

bool TSpisokStrok::sort(bool stopAfterFirstGroup, TWideString* firstGroupPattern) {
    const std::uint32_t n = rows;
    TrackedBuffer<NaturalKey> keys;
    TrackedBuffer<std::uint32_t> order;
    TrackedBuffer<char16_t> scratch;
    if (n > 0 && (!keys.allocate(n) || !order.allocate(n) || !scratch.allocate(stride))) return false;
    for (std::uint32_t i = 0; i < n; ++i) {
        keys[i] = naturalKey(text(i));
        order[i] = i;
    }
    SortProgress progress(n);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return compareNatural(text(a), keys[a], text(b), keys[b]) < 0;
    });

    // The leading names that share the first name's joined text.
    std::uint32_t group = 0;
    for (std::uint32_t j = 0; j < n; ++j) {
        std::uint32_t i = order[j];
        if (!keys[i].hasNumber) break;
        if (group == 0) {
            if (firstGroupPattern) {
                std::u16string_view name = text(i);
                *firstGroupPattern = TWideString(name.substr(0, keys[i].runStart)) + TWideString(u"*") +
                                     TWideString(name.substr(keys[i].runStart + keys[i].runLength));
            }
        } else if (compareJoined(Joined{text(order[0]), keys[order[0]]}, Joined{text(i), keys[i]}) != 0) {
            break;
        }
        ++group;
    }

    // Move every row to its place, one cycle of the permutation at a time;
    // once position j is looked at, positions 0..j hold their rows.
    {
        Guard guard(globalLock());
        std::size_t rowBytes = static_cast<std::size_t>(stride) * sizeof(char16_t);
        for (std::uint32_t start = 0; start < n; ++start) {
            if (order[start] != start) {
                std::memcpy(scratch.data(), row(start), rowBytes);
                std::uint32_t at = start;
                for (;;) {
                    std::uint32_t from = order[at];
                    order[at] = at;
                    if (from == start) break;
                    std::memcpy(row(at), row(from), rowBytes);
                    at = from;
                }
                std::memcpy(row(at), scratch.data(), rowBytes);
            }
            progress.placed(start + 1);
        }
    }
    if (stopAfterFirstGroup) return resize(group, columns);
    return true;
}

} // namespace vexel
