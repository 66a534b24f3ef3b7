// The language of the program's messages.
//
// The messages are Russian: the program's own texts, and its default. They
// are put together from fixed texts and names ("Не удаётся загрузить файл:\r"
// + name + "\r" + the system's reason), and translated where they are shown:
// each fixed text found in a message is replaced by its translation from the
// catalogue "vexel" (po/en.po, installed as <locale dir>/<language>/
// LC_MESSAGES/vexel.mo), and the names between them stay as they are.
//
// The catalogue is used when the locale's messages category names a
// language it has (LANGUAGE, LC_ALL, LC_MESSAGES or LANG, as gettext reads
// them); the C locale and an unset one keep the Russian texts. Numbers are
// untouched: the numeric category stays "C".
#pragma once

#include "base/tstring.h"

namespace vexel {

// Once at start-up, after the memory check and before the run's first
// message: takes the user's locale for messages (and for nothing else), and
// binds the catalogue to the locale folder named by VEXEL_LOCALEDIR, else to
// the one installed beside the program. Until then (and in tests that never
// call it) messages stay as they are.
void startLanguage();

// A message, a caption or a button's label in the user's language.
TWideString translated(const TWideString& text);

// The translation itself, with the catalogue as a function (tests): lookup
// takes a fixed text in UTF-8 and returns its translation (itself, or
// null, when it has none). Longer texts are taken before shorter ones, and
// a fixed text is taken only where one can stand in a message:
//   - it begins at the start, after a line break that ends no other fixed
//     text, right after a fixed text that ends neither a line nor with a
//     space, or after a digit (a count); or it begins with a line break;
//   - it ends at the end, before a line break, a digit or another fixed
//     text; or it ends a line, or with a space, "(", ":" or "=" (a name,
//     a value or a count follows).
// So a name after "...:\r" or ": " is left as it is even where it spells a
// fixed text, or holds one after a line break (unless the fixed text ends
// the name).
using TranslationLookup = const char* (*)(const char* text);
TWideString translatedWith(const TWideString& text, TranslationLookup lookup);

} // namespace vexel
