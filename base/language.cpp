#include "base/language.h"

#include "platform/files.h"
#include "platform/utf.h"

#include <libintl.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#ifndef VEXEL_LOCALEDIR_FROM_PROGRAM
#define VEXEL_LOCALEDIR_FROM_PROGRAM "../../share/locale/"
#endif

namespace vexel {

namespace {

constexpr const char kDomain[] = "vexel";

// The fixed texts the catalogue translates (made from po/en.po).
constexpr const char* kTexts[] = {
#include "vexel_msgids.inc"
};

struct Text {
    std::u16string wide;
    const char* utf8;
};

// The fixed texts, longest first: a text is never taken where a longer one
// that holds it begins.
const std::vector<Text>& texts() {
    static const std::vector<Text> sorted = [] {
        std::vector<Text> all;
        for (const char* t : kTexts) all.push_back({platform::utf8ToUtf16(t), t});
        std::stable_sort(all.begin(), all.end(),
                         [](const Text& a, const Text& b) { return a.wide.size() > b.wide.size(); });
        return all;
    }();
    return sorted;
}

bool lineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }
bool digit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool beginsFixedText(std::u16string_view in, std::size_t at) {
    for (const Text& t : texts())
        if (t.wide.size() <= in.size() - at && in.compare(at, t.wide.size(), t.wide) == 0) return true;
    return false;
}

// Where a fixed text ending in `last` may end: at the message's end, a line
// break or a count, where a name, a value or a count follows it (it ends a
// line, or with a space, "(", ":" or "="), or where another fixed text
// begins.
bool canEnd(std::u16string_view in, std::size_t end, char16_t last) {
    if (end == in.size() || lineBreak(in[end]) || digit(in[end])) return true;
    if (lineBreak(last) || last == u' ' || last == u'(' || last == u':' || last == u'=') return true;
    return beginsFixedText(in, end);
}

std::atomic<bool> started{false};

const char* catalogueLookup(const char* text) { return dgettext(kDomain, text); }

} // namespace

void startLanguage() {
    // Only the messages follow the user: numbers are read and written, and
    // names matched against wildcards, in the C form whatever the locale
    // says. With the character types left at C, the texts of the catalogue
    // and the system's own (its error reasons) are asked for in UTF-8.
    const char* messages = std::setlocale(LC_MESSAGES, "");
    std::string folder;
    try {
        if (const char* named = std::getenv("VEXEL_LOCALEDIR"); named && *named) {
            folder = named;
        } else {
            folder = platform::utf16ToUtf8(platform::programFolder()) + VEXEL_LOCALEDIR_FROM_PROGRAM;
        }
    } catch (const std::bad_alloc&) {
        // Without memory for the folder's name the messages stay the program's own.
        return;
    }
    bindtextdomain(kDomain, folder.c_str());
    bind_textdomain_codeset(kDomain, "UTF-8");
    bind_textdomain_codeset("libc", "UTF-8");
    started = messages && std::strcmp(messages, "C") != 0 && std::strcmp(messages, "POSIX") != 0;
}

TWideString translated(const TWideString& text) {
    if (!started || text.empty()) return text;
    return translatedWith(text, &catalogueLookup);
}

TWideString translatedWith(const TWideString& text, TranslationLookup lookup) {
    const std::u16string_view in = text.view();
    std::u16string out;
    out.reserve(in.size());
    bool changed = false;
    std::size_t i = 0;
    std::size_t matchEnd = std::u16string_view::npos; // where the last fixed text taken ends
    char16_t matchLast = 0;                            // and its last unit
    while (i < in.size()) {
        bool canBegin = i == 0 || digit(in[i - 1]);
        if (i > 0 && i == matchEnd) canBegin = canBegin || !(lineBreak(matchLast) || matchLast == u' ');
        else if (i > 0 && lineBreak(in[i - 1])) canBegin = true;
        const Text* taken = nullptr;
        for (const Text& t : texts()) {
            if (t.wide.size() > in.size() - i || in.compare(i, t.wide.size(), t.wide) != 0) continue;
            if (!canBegin && !lineBreak(t.wide.front())) continue;
            if (!canEnd(in, i + t.wide.size(), t.wide.back())) continue;
            taken = &t;
            break;
        }
        if (!taken) {
            out.push_back(in[i++]);
            continue;
        }
        const char* translation = lookup(taken->utf8);
        if (translation && translation != taken->utf8 && std::strcmp(translation, taken->utf8) != 0) {
            out += platform::utf8ToUtf16(translation);
            changed = true;
        } else {
            out += taken->wide;
        }
        i += taken->wide.size();
        matchEnd = i;
        matchLast = taken->wide.back();
    }
    return changed ? TWideString(std::u16string_view(out)) : text;
}

} // namespace vexel
