// Program kernel: the program's own path and folder, its arguments, the code
// page 1251 table through which 8-bit text becomes UTF-16, the splitters of
// names and options, and a millisecond wait.
//
// The table lives in "Ansi1251.wcs" beside the program: exactly 512 bytes,
// the UTF-16 unit of each byte 0..255 as a little-endian u16, no header. A
// file of another size counts as missing and is written anew from the
// built-in table; a folder that cannot be written leaves the built-in table
// in use.
#pragma once

#include "base/tstring.h"

#include <cstdint>

namespace vexel {

struct Ansi1251Table {
    char16_t* forward;     // 256 units
    std::uint8_t* reverse; // 65536 bytes; 0 where no byte maps
};

// The table while it is valid, else null (then bytes are zero-extended).
const Ansi1251Table* ansi1251();

// The standard code page 1251 mapping of one byte.
char16_t cp1251ToUnicode(std::uint8_t b);

void kernelInitialize();
void kernelFinalize();
// The file the table was loaded from or written to.
TWideString ansiTablePath();

// The program's path, its folder (ending with "/") and its arguments.
TWideString programPathString();
TWideString programFolderString();
void setCommandArguments(int argc, char** argv);
int commandArgumentCount();
TWideString commandArgument(int i);

// Split at the first separator that is not followed by another one and not
// inside double quotes; the first part's quotes are stripped. False (parts
// untouched) when there is no such separator.
bool splitAtFirst(const TWideString& text, char16_t separator, TWideString& first, TWideString& second);
// Split at the last separator outside double quotes; the second part's quotes
// are stripped. False (parts untouched) when there is none.
bool splitAtLast(const TWideString& text, char16_t separator, TWideString& first, TWideString& second);
// Removes a double quote at each end when the string has at least 2 characters and both ends are quotes.
TWideString stripQuotes(const TWideString& text);
// True when the path names a regular file that can be opened for reading.
bool fileExists(const TWideString& path);
// Waits the given milliseconds.
bool waitMilliseconds(std::uint32_t ms);

} // namespace vexel
