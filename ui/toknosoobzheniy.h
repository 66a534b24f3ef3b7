// The program's messages to the user.
//
// Every message goes through one backend. Without a window system the
// console backend writes "caption: text" in UTF-8 to standard error (the
// usage text to standard output), with CR LF and lone CR turned into line
// feeds, and answers "Принять". Answering "Отменить" silences every further
// message for ten seconds.
#pragma once

#include "base/dialogs.h"
#include "base/tstring.h"

namespace vexel::ui {

// Button results of a message box.
constexpr int kResultAccept = 1; // "Принять"
constexpr int kResultCancel = 2; // "Отменить"

enum class MessageChannel { Message, Usage };

class MessageBackend {
public:
    virtual ~MessageBackend() = default;
    // Shows one box and returns the chosen button's result.
    virtual int show(const TWideString& caption, const TWideString& text, int style, MessageChannel channel) = 0;
};

// The console backend (the default).
MessageBackend& consoleBackend();
// Replaces the backend; null restores the console. Returns the previous one.
MessageBackend* setMessageBackend(MessageBackend* backend);

// Shows a message with the buttons "Принять" and "Отменить". False when
// messages are silenced (nothing is shown). An empty caption reads "Ошибка".
bool showMessageWide(const TWideString& text, const TWideString& caption);
bool showMessageNarrow(const TAnsiString& text, const TAnsiString& caption);
bool showMessage(const TWideString& text);
// The usage text (standard output in the console form).
bool showUsage(const TWideString& text, const TWideString& caption);
// A one-line warning on standard error, "Предупреждение: text", whatever
// the backend: a warning never opens a window or waits.
void showWarning(const TWideString& text);

// A system message box with an OK button alone, for when the program's own
// message window cannot be had (no memory at start-up): UTF-8 texts, written
// as "caption: text" to standard error without taking any memory.
void showSystemMessageBox(const char* text, const char* caption);

bool messagesSilenced();
// Lifts the silence at once (tests).
void liftSilence();
// The clock the ten seconds of silence are measured on (seconds); null
// restores the system clock. For tests.
void setSilenceClock(long double (*clock)());

// Routes the foundation's messages and progress (base/dialogs.h) through the
// show functions above and the progress window. Once at start-up.
void installDialogs();

} // namespace vexel::ui
