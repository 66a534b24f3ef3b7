// The string list: the file names a run walks frame by frame.
//
// A table of zero-terminated UTF-16 rows on the two-dimensional element
// buffer: rows = names, columns = longest name + 1, each row at the stride
// (columns rounded up to the stride granularity). The element buffer grows in
// steps of capacity rows x stride granularity elements, so a list made for
// 500 000 names rarely reallocates while names are appended one by one.
#pragma once

#include "base/tstring.h"

#include <cstdint>
#include <string_view>

namespace vexel {

// One UTF-16 unit with simple case folding (Latin, Greek, Cyrillic).
char16_t foldCase(char16_t c);
// -1, 0 or 1: the texts compared unit by unit after case folding.
int compareIgnoringCase(std::u16string_view a, std::u16string_view b);

// The natural-order key of a name: its first run of ASCII digits is its
// number; the name without that run is its joined text.
struct NaturalKey {
    bool hasNumber = false;
    std::size_t runStart = 0;  // position of the digit run (0-based)
    std::size_t runLength = 0; // 0 without a number
};
NaturalKey naturalKey(std::u16string_view name);
// True when a sorts before b in natural order: names with a number first, by
// joined text ignoring case, then by number; names without digits after
// them, by text ignoring case. Ties are broken by the exact text.
bool naturalLess(std::u16string_view a, std::u16string_view b);

class TSpisokStrok : public TDvumernoeMnogestvoElementov<char16_t> {
public:
    // The list sorts with a progress window above this many names.
    static constexpr std::uint32_t kProgressThreshold = 249;

    // An empty list; the element buffer grows by capacityRows x strideGranularity elements.
    TSpisokStrok(std::uint32_t capacityRows, std::uint32_t strideGranularity);

    // Adds a row; false (list unchanged) when the buffer cannot grow or the
    // text holds a zero.
    bool append(std::u16string_view text);
    // The text of row i; empty when i >= rows.
    std::u16string_view text(std::uint32_t i) const;

    // Fills the list from a pattern with "*" and "?" in folder ("" is the
    // current folder; the list holds bare names):
    //   * a pattern that names an existing file gives that one row;
    //   * a pattern without "*" is taken as a sub-folder: all its files;
    //   * otherwise every regular file that matches, except names that
    //     begin with "!".
    // A folder that cannot be read gives an empty list. False (list empty)
    // when memory runs out.
    bool fillFromPattern(std::u16string_view folder, std::u16string_view pattern);

    // Sorts the rows in natural order (naturalLess), in O(n log n), showing
    // a progress window for more than 249 rows. With stopAfterFirstGroup the
    // list is cut to the leading names that share the first name's joined
    // text; firstGroupPattern, when given, receives that name with its number
    // replaced by "*". False (list unchanged) when memory runs out.
    bool sort(bool stopAfterFirstGroup = false, TWideString* firstGroupPattern = nullptr);
};

} // namespace vexel
