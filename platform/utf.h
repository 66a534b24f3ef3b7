// Text at the system boundary: inside, text is UTF-16; file names and console
// text are UTF-8. Names that are not valid UTF-8 map losslessly: each invalid
// byte b becomes the code unit U+DC00 + b (U+DC80..U+DCFF) and back, so such a
// name can always be reopened and never collides with a valid one.
#pragma once

#include <string>
#include <string_view>

namespace vexel::platform {

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// UTF-8 for showing on screen (window titles, drawn text): always valid, the
// bytes kept from an invalid name and lone surrogates shown as U+FFFD.
std::string utf16ToDisplayUtf8(std::u16string_view text);

} // namespace vexel::platform
