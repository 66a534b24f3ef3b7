#include "base/tstring.h"

#include "base/kernel.h"
#include "platform/system.h"
#include "platform/utf.h"

#include <algorithm>
#include <cstring>

namespace vexel {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Header blocks of element buffers are recorded with element size 21.
constexpr std::uint32_t kHeaderElementSize = 21;

std::uint64_t physicalLimit() {
    static const std::uint64_t bytes = platform::physicalMemoryBytes();
    return bytes ? bytes : ~std::uint64_t(0);
}

template <class Ch>
std::size_t unitLength(const Ch* text) {
    if (!text) return 0;
    std::size_t n = 0;
    while (text[n]) ++n;
    return n;
}

} // namespace

// ---------------------------------------------------------------- element buffer

template <class T>
TOdnomernoeMnogestvoElementov<T>* TOdnomernoeMnogestvoElementov<T>::create(std::uint32_t granularity) {
    void* p = memAllocate(sizeof(TOdnomernoeMnogestvoElementov), kHeaderElementSize);
    if (!p) return nullptr;
    auto* b = new (p) TOdnomernoeMnogestvoElementov;
    b->granularity = granularity ? granularity : 1;
    return b;
}

template <class T>
void TOdnomernoeMnogestvoElementov<T>::destroy(TOdnomernoeMnogestvoElementov* buffer) {
    if (!buffer) return;
    if (!buffer->external && buffer->data) memFree(buffer->data);
    buffer->~TOdnomernoeMnogestvoElementov();
    memFree(buffer);
}

template <class T>
bool TOdnomernoeMnogestvoElementov<T>::resize(std::uint64_t n, bool rightAlign, bool keepCapacity) {
    Guard guard(globalLock());
    if (n > 0xFFFFFFFFull || n * sizeof(T) > physicalLimit()) return false;
    std::uint64_t c = (n + granularity - 1) / granularity * granularity;
    if (c > 0xFFFFFFFFull) return false;
    if (capacity < c || (c < capacity / 2 && !keepCapacity)) {
        if (external) { // forget memory that is not ours
            data = nullptr;
            capacity = 0;
            count = 0;
            external = 0;
        }
        T* fresh = nullptr;
        if (c > 0) {
            fresh = static_cast<T*>(memAllocate(c * sizeof(T), sizeof(T)));
            if (!fresh) return false;
        }
        std::uint64_t keep = std::min<std::uint64_t>(count, n);
        if (keep && fresh) {
            const T* from = rightAlign ? data + (count - keep) : data;
            T* to = rightAlign ? fresh + (n - keep) : fresh;
            std::memcpy(to, from, keep * sizeof(T));
        }
        if (data) memFree(data);
        data = fresh;
        capacity = static_cast<std::uint32_t>(c);
    } else if (rightAlign && count != n) {
        std::uint64_t keep = std::min<std::uint64_t>(count, n);
        std::memmove(data + (n - keep), data + (count - keep), keep * sizeof(T));
    }
    count = static_cast<std::uint32_t>(n);
    return true;
}

// ---------------------------------------------------------------- two-dimensional buffer

template <class T>
TDvumernoeMnogestvoElementov<T>::TDvumernoeMnogestvoElementov(std::uint32_t elementGranularity,
                                                              std::uint32_t strideGranularity_)
    : strideGranularity(strideGranularity_ ? strideGranularity_ : 1) {
    elements.granularity = elementGranularity ? elementGranularity : 1;
}

template <class T>
TDvumernoeMnogestvoElementov<T>::~TDvumernoeMnogestvoElementov() {
    clear();
}

template <class T>
void TDvumernoeMnogestvoElementov<T>::clear() {
    Guard guard(globalLock());
    if (elements.data && !elements.external) memFree(elements.data);
    elements.data = nullptr;
    elements.capacity = 0;
    elements.count = 0;
    rows = columns = stride = 0;
}

template <class T>
bool TDvumernoeMnogestvoElementov<T>::resize(std::uint32_t r, std::uint32_t c, bool columnsAtFront, bool clearNew,
                                             bool keepCapacity) {
    Guard guard(globalLock());
    std::uint64_t newStride = (static_cast<std::uint64_t>(c) + strideGranularity - 1) / strideGranularity * strideGranularity;
    std::uint64_t total = static_cast<std::uint64_t>(r) * newStride;
    if (newStride > 0xFFFFFFFFull || total > 0xFFFFFFFFull) return false;
    if (elements.count < total && !elements.resize(total, false, keepCapacity)) return false;

    T* d = elements.data;
    std::uint32_t keepRows = std::min(rows, r);
    std::uint32_t keepCols = std::min(columns, c);
    // Kept columns come from the end of each old row and go to the end of each
    // new row when columns change at the front.
    std::uint64_t from = columnsAtFront && columns > c ? columns - c : 0;
    std::uint64_t to = columnsAtFront && c > columns ? c - columns : 0;
    if (d && keepRows > 0 && (newStride != stride || from != to)) {
        // To a smaller stride rows move in increasing order, to a larger one in
        // decreasing order, so no row is overwritten before it has moved.
        auto moveRow = [&](std::uint64_t i) {
            std::memmove(d + i * newStride + to, d + i * stride + from, keepCols * sizeof(T));
        };
        if (newStride <= stride)
            for (std::uint64_t i = 0; i < keepRows; ++i) moveRow(i);
        else
            for (std::uint64_t i = keepRows; i-- > 0;) moveRow(i);
    }
    if (d && clearNew && c > columns) {
        for (std::uint64_t i = 0; i < keepRows; ++i) {
            T* row = d + i * newStride;
            std::memset(columnsAtFront ? row : row + columns, 0, (c - columns) * sizeof(T));
        }
    }
    if (elements.count > total && !elements.resize(total, false, keepCapacity)) return false;
    rows = r;
    columns = c;
    stride = static_cast<std::uint32_t>(newStride);
    return true;
}

template <class T>
T* TDvumernoeMnogestvoElementov<T>::row(std::uint32_t i) {
    return i < rows && elements.data ? elements.data + static_cast<std::uint64_t>(i) * stride : nullptr;
}

template <class T>
const T* TDvumernoeMnogestvoElementov<T>::row(std::uint32_t i) const {
    return i < rows && elements.data ? elements.data + static_cast<std::uint64_t>(i) * stride : nullptr;
}

// ---------------------------------------------------------------- strings

template <class Ch>
TBasicString<Ch>::TBasicString(const Ch* text) {
    assign(text, unitLength(text));
}

template <class Ch>
TBasicString<Ch>::TBasicString(const Ch* text, std::size_t n) {
    assign(text, n);
}

template <class Ch>
TBasicString<Ch>::TBasicString(Ch c) {
    if (c) assign(&c, 1);
}

template <class Ch>
TBasicString<Ch>::TBasicString(const TBasicString& o) {
    Guard guard(globalLock());
    buffer_ = o.buffer_;
    if (buffer_) ++buffer_->references;
}

template <class Ch>
TBasicString<Ch>& TBasicString<Ch>::operator=(const TBasicString& o) {
    if (this == &o) return *this;
    Guard guard(globalLock());
    Buffer* keep = o.buffer_;
    if (keep) ++keep->references;
    release();
    buffer_ = keep;
    return *this;
}

template <class Ch>
TBasicString<Ch>& TBasicString<Ch>::operator=(TBasicString&& o) noexcept {
    if (this != &o) {
        release();
        buffer_ = o.buffer_;
        o.buffer_ = nullptr;
    }
    return *this;
}

template <class Ch>
TBasicString<Ch>& TBasicString<Ch>::operator=(const Ch* text) {
    std::size_t n = unitLength(text);
    if (buffer_ && text >= buffer_->data && text < buffer_->data + buffer_->count) {
        TBasicString copy(text, n); // assigning from our own characters
        *this = std::move(copy);
        return *this;
    }
    assign(text, n);
    return *this;
}

template <class Ch>
void TBasicString<Ch>::release() {
    if (!buffer_) return;
    Guard guard(globalLock());
    if (buffer_->references <= 1) Buffer::destroy(buffer_);
    else --buffer_->references;
    buffer_ = nullptr;
}

template <class Ch>
bool TBasicString<Ch>::makeUnique() {
    Guard guard(globalLock());
    if (!buffer_ || buffer_->references == 1) return true;
    if (buffer_->references == 0) { // a broken buffer: drop it and abandon the change
        Buffer::destroy(buffer_);
        buffer_ = nullptr;
        return false;
    }
    Buffer* copy = Buffer::create(buffer_->granularity);
    if (!copy) return false;
    if (buffer_->external) {
        // A copy of an external buffer shares the external memory.
        copy->external = 1;
        copy->data = buffer_->data;
        copy->capacity = buffer_->capacity;
        copy->count = buffer_->count;
    } else {
        if (!copy->resize(buffer_->capacity, false, true)) {
            Buffer::destroy(copy);
            return false;
        }
        std::memcpy(copy->data, buffer_->data, buffer_->count * sizeof(Ch));
        copy->count = buffer_->count;
    }
    --buffer_->references;
    buffer_ = copy;
    return true;
}

template <class Ch>
bool TBasicString<Ch>::assign(const Ch* text, std::size_t n) {
    Guard guard(globalLock());
    if (!text || n == 0) {
        release();
        return true;
    }
    if (!buffer_) {
        buffer_ = Buffer::create();
        if (!buffer_) return false;
    } else if (!makeUnique()) {
        return false;
    }
    if (!buffer_->resize(static_cast<std::uint64_t>(n) + 1, false, false)) {
        release(); // out of memory: the string is left empty
        return false;
    }
    std::memcpy(buffer_->data, text, n * sizeof(Ch));
    buffer_->data[n] = 0;
    return true;
}

template <class Ch>
Ch* TBasicString<Ch>::textForWriting() {
    Guard guard(globalLock());
    if (!buffer_ || !makeUnique() || !buffer_) return nullptr;
    buffer_->data[buffer_->count - 1] = 0;
    return buffer_->data;
}

template <class Ch>
bool TBasicString<Ch>::setLength(std::size_t n) {
    Guard guard(globalLock());
    if (n == 0) {
        release();
        return true;
    }
    if (!buffer_) {
        buffer_ = Buffer::create();
        if (!buffer_) return false;
        if (!buffer_->resize(static_cast<std::uint64_t>(n) + 1)) {
            Buffer::destroy(buffer_);
            buffer_ = nullptr;
            return false;
        }
    } else {
        if (!makeUnique()) return false;
        if (!buffer_->resize(static_cast<std::uint64_t>(n) + 1)) return false;
    }
    buffer_->data[n] = 0;
    return true;
}

template <class Ch>
bool TBasicString<Ch>::insert(const TBasicString& s, std::size_t p) {
    Guard guard(globalLock());
    std::size_t len = length();
    std::size_t add = s.length();
    if (add == 0 || p < 1 || p > len + 1) return false;
    if (!buffer_) { // inserting into an empty string shares s
        *this = s;
        return true;
    }
    TBasicString keep(s); // s may be this very string
    if (!makeUnique()) return false;
    if (!buffer_->resize(static_cast<std::uint64_t>(len) + add + 1, false, true)) return false;
    Ch* d = buffer_->data;
    std::memmove(d + p - 1 + add, d + p - 1, (len - (p - 1)) * sizeof(Ch));
    std::memcpy(d + p - 1, keep.text(), add * sizeof(Ch));
    d[len + add] = 0;
    return true;
}

template <class Ch>
bool TBasicString<Ch>::erase(std::size_t p, std::size_t n) {
    Guard guard(globalLock());
    std::size_t len = length();
    if (n == 0 || p < 1 || p + n - 1 > len) return false;
    if (n == len) {
        release();
        return true;
    }
    if (!makeUnique()) return false;
    Ch* d = buffer_->data;
    std::memmove(d + p - 1, d + p - 1 + n, (len - (p - 1) - n) * sizeof(Ch));
    std::size_t rest = len - n;
    buffer_->resize(rest + 1, false, false);
    buffer_->data[rest] = 0;
    return true;
}

template <class Ch>
TBasicString<Ch> TBasicString<Ch>::substring(std::size_t p, std::size_t n) const {
    if (p == 0 || n == 0 || p + n - 1 > length()) return TBasicString();
    return TBasicString(text() + p - 1, n);
}

template <class Ch>
std::size_t TBasicString<Ch>::find(const TBasicString& s) const {
    std::size_t len = length(), n = s.length();
    if (len == 0 || n == 0 || n > len) return 0;
    std::basic_string_view<Ch> hay(text(), len);
    std::size_t at = hay.find(std::basic_string_view<Ch>(s.text(), n));
    return at == std::basic_string_view<Ch>::npos ? 0 : at + 1;
}

template <class Ch>
TBasicString<Ch> TBasicString<Ch>::trim() const {
    std::size_t len = length();
    const Ch* t = text();
    auto blank = [](Ch c) { return static_cast<std::make_unsigned_t<Ch>>(c) <= 32; };
    std::size_t a = 0, b = len;
    while (a < b && blank(t[a])) ++a;
    while (b > a && blank(t[b - 1])) --b;
    if (a == 0 && b == len) return *this;
    return TBasicString(t + a, b - a);
}

template <class Ch>
int TBasicString<Ch>::compare(const TBasicString& a, const TBasicString& b) {
    std::size_t la = a.length(), lb = b.length();
    if (la == 0 || lb == 0) return la == lb ? 0 : (la == 0 ? -1 : 1);
    using U = std::make_unsigned_t<Ch>;
    std::size_t n = std::min(la, lb);
    for (std::size_t i = 0; i < n; ++i) {
        U x = static_cast<U>(a.text()[i]), y = static_cast<U>(b.text()[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

template <class Ch>
std::uint32_t TBasicString<Ch>::shareCount() const {
    Guard guard(globalLock());
    return buffer_ ? buffer_->references : 0;
}

// ---------------------------------------------------------------- code page 1251

std::size_t ansiToWide(const char* source, std::size_t n, char16_t* destination, std::size_t capacity) {
    if (capacity < n) return 0;
    const Ansi1251Table* table = ansi1251();
    for (std::size_t i = 0; i < n; ++i) {
        auto b = static_cast<std::uint8_t>(source[i]);
        destination[i] = table ? table->forward[b] : static_cast<char16_t>(b);
    }
    return n;
}

std::size_t wideToAnsi(const char16_t* source, std::size_t n, char* destination, std::size_t capacity) {
    if (capacity < n) return 0;
    const Ansi1251Table* table = ansi1251();
    for (std::size_t i = 0; i < n; ++i) {
        char16_t u = source[i];
        destination[i] = static_cast<char>(table ? table->reverse[u] : static_cast<std::uint8_t>(u & 0xFF));
    }
    return n;
}

TWideString::TWideString(const TAnsiString& s) {
    std::size_t n = s.length();
    if (n == 0 || !setLength(n)) return;
    ansiToWide(s.text(), n, textForWriting(), n);
}

TAnsiString::TAnsiString(const TWideString& s) {
    std::size_t n = s.length();
    if (n == 0 || !setLength(n)) return;
    wideToAnsi(s.text(), n, textForWriting(), n);
}

TWideString TWideString::fromUtf8(std::string_view text) {
    std::u16string wide = platform::utf8ToUtf16(text);
    return TWideString(std::u16string_view(wide));
}

std::string TWideString::toUtf8() const { return platform::utf16ToUtf8(view()); }

TWideString operator+(const TWideString& a, const TWideString& b) {
    TWideString r(a);
    r.append(b);
    return r;
}

// ---------------------------------------------------------------- helpers on texts

std::size_t ansiLength(const char* text) { return unitLength(text); }
std::size_t wideLength(const char16_t* text) { return unitLength(text); }

const char* findUnit(const char* text, std::size_t n, char c) {
    if (!text) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] == c) return text + i;
    return nullptr;
}

const char16_t* findUnit(const char16_t* text, std::size_t n, char16_t c) {
    if (!text) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] == c) return text + i;
    return nullptr;
}

const char* findAnyOf(const char* text, std::size_t n, const char* set) {
    if (!text || !set) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        if (std::strchr(set, text[i]) && text[i]) return text + i;
    return nullptr;
}

std::size_t countMembers(const char* text, std::size_t n, const char* set) {
    if (!text || !set) return 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] && std::strchr(set, text[i])) ++count;
    return count;
}

std::size_t countLeadingMembers(const char* text, std::size_t n, const char* set) {
    if (!text || !set) return 0;
    std::size_t i = 0;
    while (i < n && text[i] && std::strchr(set, text[i])) ++i;
    return i;
}

template class TBasicString<char>;
template class TBasicString<char16_t>;
template struct TOdnomernoeMnogestvoElementov<char>;
template struct TOdnomernoeMnogestvoElementov<char16_t>;
template struct TOdnomernoeMnogestvoElementov<std::uint8_t>;
template struct TDvumernoeMnogestvoElementov<char16_t>;

} // namespace vexel
