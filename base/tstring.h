// Reference-counted, copy-on-write strings.
//
// TWideString holds UTF-16 code units, TAnsiString code page 1251 bytes. A
// handle is one pointer to a shared element buffer; a null handle is the
// empty string, and every operation that would leave a string of length 0
// releases the buffer. Positions are 1-based. Reference counts and buffer
// changes run under the allocator's global lock, so handles to one buffer may
// be copied and released from any thread. Failures never throw: an
// allocation failure leaves the target empty or unchanged, as stated per
// operation.
#pragma once

#include "base/memdiag.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vexel {

// A growable buffer of elements whose storage comes from the tracked allocator.
template <class T>
struct TOdnomernoeMnogestvoElementov {
    std::uint32_t capacity = 0;    // elements allocated for data
    std::uint8_t external = 0;     // data is memory this buffer does not own
    T* data = nullptr;
    std::uint32_t count = 0;       // elements in use (strings: including the terminator)
    std::uint32_t granularity = 512;
    std::uint32_t references = 1;

    // A new empty buffer from the tracked allocator, or null.
    static TOdnomernoeMnogestvoElementov* create(std::uint32_t granularity = 512);
    // Frees the data (unless external) and the buffer itself.
    static void destroy(TOdnomernoeMnogestvoElementov* buffer);

    // Resizes to n elements: capacity moves in steps of the granularity and
    // shrinks only below half use (unless keepCapacity). Keeps the first
    // min(count, n) elements, or the last ones placed at the end with
    // rightAlign. False (buffer unchanged) when memory cannot be had.
    bool resize(std::uint64_t n, bool rightAlign = false, bool keepCapacity = false);
};

// A two-dimensional buffer of rows at a fixed stride (the string list's rows).
template <class T>
struct TDvumernoeMnogestvoElementov {
    TOdnomernoeMnogestvoElementov<T> elements;
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::uint32_t stride = 0;
    std::uint32_t strideGranularity = 8;

    TDvumernoeMnogestvoElementov() = default;
    TDvumernoeMnogestvoElementov(std::uint32_t elementGranularity, std::uint32_t strideGranularity);
    ~TDvumernoeMnogestvoElementov();
    TDvumernoeMnogestvoElementov(const TDvumernoeMnogestvoElementov&) = delete;
    TDvumernoeMnogestvoElementov& operator=(const TDvumernoeMnogestvoElementov&) = delete;

    // Resizes to r rows of c columns, moving rows to the new stride. With
    // columnsAtFront, columns are added or removed at the start of each row;
    // with clearNew, added columns are zeroed. False (unchanged) on failure.
    bool resize(std::uint32_t r, std::uint32_t c, bool columnsAtFront = false, bool clearNew = true,
                bool keepCapacity = true);
    // Start of row i, or null when i >= rows.
    T* row(std::uint32_t i);
    const T* row(std::uint32_t i) const;
    void clear();
};

class TAnsiString;

template <class Ch>
class TBasicString {
public:
    using Buffer = TOdnomernoeMnogestvoElementov<Ch>;

    TBasicString() = default;
    TBasicString(const Ch* text);                // zero-terminated; null or "" gives empty
    TBasicString(const Ch* text, std::size_t n); // n units; "" when n = 0
    explicit TBasicString(Ch c);                 // empty when c = 0
    TBasicString(const TBasicString& o);
    TBasicString(TBasicString&& o) noexcept : buffer_(o.buffer_) { o.buffer_ = nullptr; }
    ~TBasicString() { release(); }
    TBasicString& operator=(const TBasicString& o);
    TBasicString& operator=(TBasicString&& o) noexcept;
    // Replaces the content; an empty or null text makes the string empty.
    // If memory runs out the string keeps an empty first character.
    TBasicString& operator=(const Ch* text);

    std::size_t length() const { return buffer_ ? buffer_->count - 1 : 0; }
    bool empty() const { return buffer_ == nullptr; }
    // Characters for reading; null for an empty string.
    const Ch* text() const { return buffer_ ? buffer_->data : nullptr; }
    // Makes the buffer unique and returns the characters for writing; null when empty.
    Ch* textForWriting();
    std::basic_string_view<Ch> view() const { return buffer_ ? std::basic_string_view<Ch>(buffer_->data, length()) : std::basic_string_view<Ch>(); }
    // The unit at 1-based position p (0 outside the string).
    Ch at(std::size_t p) const { return p >= 1 && p <= length() ? buffer_->data[p - 1] : Ch(0); }

    // Resizes to n characters (0 empties). False when memory runs out.
    bool setLength(std::size_t n);
    // Inserts s before position p (1 <= p <= length + 1). False when nothing was inserted.
    bool insert(const TBasicString& s, std::size_t p);
    bool append(const TBasicString& s) { return insert(s, length() + 1); }
    // Erases n characters at p when n > 0 and p + n - 1 <= length.
    bool erase(std::size_t p, std::size_t n);
    // The n characters from p, or empty when they are not all inside.
    TBasicString substring(std::size_t p, std::size_t n) const;
    // 1-based position of the first occurrence of s; 0 when absent or either is empty.
    std::size_t find(const TBasicString& s) const;
    // Without leading and trailing units of code 32 or less.
    TBasicString trim() const;
    // -1, 0 or 1: empty first, then by unsigned code units, then shorter first.
    static int compare(const TBasicString& a, const TBasicString& b);

    friend TBasicString operator+(const TBasicString& a, const TBasicString& b) {
        TBasicString r(a);
        r.append(b);
        return r;
    }
    TBasicString& operator+=(const TBasicString& b) {
        append(b);
        return *this;
    }
    friend bool operator==(const TBasicString& a, const TBasicString& b) { return compare(a, b) == 0; }
    friend bool operator<(const TBasicString& a, const TBasicString& b) { return compare(a, b) < 0; }

    // The number of handles sharing the buffer (0 for empty); for tests.
    std::uint32_t shareCount() const;

protected:
    bool makeUnique();
    void release();
    bool assign(const Ch* text, std::size_t n);

    Buffer* buffer_ = nullptr;
};

class TWideString : public TBasicString<char16_t> {
public:
    using TBasicString<char16_t>::TBasicString;
    using TBasicString<char16_t>::operator=;
    TWideString() = default;
    TWideString(const TBasicString<char16_t>& s) : TBasicString<char16_t>(s) {}
    TWideString(TBasicString<char16_t>&& s) : TBasicString<char16_t>(std::move(s)) {}
    TWideString(std::u16string_view s) : TBasicString<char16_t>(s.data(), s.size()) {}
    // Widens each byte through the code page 1251 table.
    explicit TWideString(const TAnsiString& s);

    // From and to UTF-8 (the system's text), lossless for invalid bytes.
    static TWideString fromUtf8(std::string_view text);
    std::string toUtf8() const;
    std::u16string toU16() const { return std::u16string(view()); }
};

class TAnsiString : public TBasicString<char> {
public:
    using TBasicString<char>::TBasicString;
    using TBasicString<char>::operator=;
    TAnsiString() = default;
    TAnsiString(const TBasicString<char>& s) : TBasicString<char>(s) {}
    TAnsiString(TBasicString<char>&& s) : TBasicString<char>(std::move(s)) {}
    // Narrows each unit through the code page 1251 table (0 where no byte maps).
    explicit TAnsiString(const TWideString& s);
};

TWideString operator+(const TWideString& a, const TWideString& b);

// Code page 1251 conversions of one run of units (no terminator written);
// the count converted, 0 when the destination is too small. Without a valid
// table bytes are zero-extended and units keep their low byte.
std::size_t ansiToWide(const char* source, std::size_t n, char16_t* destination, std::size_t capacity);
std::size_t wideToAnsi(const char16_t* source, std::size_t n, char* destination, std::size_t capacity);

// Helpers on zero-terminated texts; all are safe on null pointers.
std::size_t ansiLength(const char* text);
std::size_t wideLength(const char16_t* text);
// First address among the first n units equal to c, or null.
const char* findUnit(const char* text, std::size_t n, char c);
const char16_t* findUnit(const char16_t* text, std::size_t n, char16_t c);
// First address among the first n bytes whose byte is in set (zero-terminated), or null.
const char* findAnyOf(const char* text, std::size_t n, const char* set);
// Number of the first n bytes that are in set.
std::size_t countMembers(const char* text, std::size_t n, const char* set);
// Length of the run at the start (at most n bytes) whose bytes are all in set.
std::size_t countLeadingMembers(const char* text, std::size_t n, const char* set);

extern template class TBasicString<char>;
extern template class TBasicString<char16_t>;
extern template struct TOdnomernoeMnogestvoElementov<char>;
extern template struct TOdnomernoeMnogestvoElementov<char16_t>;
extern template struct TDvumernoeMnogestvoElementov<char16_t>;

} // namespace vexel
