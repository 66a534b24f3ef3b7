#include "platform/utf.h"

#include <cstdint>

namespace vexel::platform {

namespace {

void appendCodePoint(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    while (i < text.size()) {
        std::uint8_t b = byte(i);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int length = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 0;
        if (b > 0xF4) length = 0;
        char32_t c = 0;
        bool valid = length > 0 && i + length <= text.size();
        if (valid) {
            c = b & (0xFF >> (length + 1));
            for (int k = 1; k < length; ++k) {
                std::uint8_t t = byte(i + k);
                if ((t & 0xC0) != 0x80) { valid = false; break; }
                c = (c << 6) | (t & 0x3F);
            }
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid too.
        if (valid && ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                      (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (valid) {
            appendCodePoint(out, c);
            i += length;
        } else {
            out.push_back(static_cast<char16_t>(0xDC00 + b));
            ++i;
        }
    }
    return out;
}

namespace {

std::string toUtf8(std::u16string_view text, bool keepInvalidBytes) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            appendUtf8(out, c);
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF && keepInvalidBytes) {
            out.push_back(static_cast<char>(u - 0xDC00)); // an invalid byte kept from a name
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

} // namespace

std::string utf16ToUtf8(std::u16string_view text) { return toUtf8(text, true); }

std::string utf16ToDisplayUtf8(std::u16string_view text) { return toUtf8(text, false); }

} // namespace vexel::platform
