// How the foundation reaches the user: the messages of its routines
// (number-entry errors, system error texts) and the progress of long work
// (sorting a long file list).
//
// The dialog windows (ui/) install their forms at start-up. Until then, and
// in every program or test without them, the console form answers: a
// message is written to standard error as "caption: text" in UTF-8 (CR LF
// and lone CR as line feeds, an empty caption as "Ошибка") and answered at
// once; progress is one line on standard error (an empty caption as
// "Состояние выполнения"), redrawn in place, and only when standard error is
// a terminal.
#pragma once

#include "base/tstring.h"

#include <string>

namespace vexel {

class ProgressView {
public:
    virtual ~ProgressView() = default;
    // A new bar value (0..1) and the second bar's (negative: none), shown at once.
    virtual void progress(float value, float second) = 0;
    // The bar fills to the end.
    virtual void finish() = 0;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Shows a message; false when messages are silenced and nothing was shown.
    virtual bool message(const TWideString& text, const TWideString& caption) = 0;
    // A progress view, or null when none can be had (the work goes on without one).
    virtual ProgressView* openProgress(const TWideString& caption, const TWideString& text) = 0;
    virtual void closeProgress(ProgressView* view) = 0;
};

// The installed dialogs, else the console form.
Dialogs& dialogs();
// Installs dialogs; null restores the console form. Returns the previous ones (null for the console).
Dialogs* installDialogs(Dialogs* installed);
// The console form.
Dialogs& consoleDialogs();

// The console form of a text: UTF-8 with CR LF and lone CR as line feeds.
std::string consoleText(const TWideString& text);

// The one status line the console keeps at the bottom of a terminal: drawn
// in place on standard error, and cleared before any message is written and
// when the work ends, so messages never mix with it. Nothing when standard
// error is not a terminal, so scripts and logs stay clean.
namespace console_status {
bool available(); // standard error is a terminal
void show(const std::string& line);
void clear();
} // namespace console_status

// The console progress line: "<caption>: <text> <percent>%" as the status
// line, rewritten when the whole percentage changes, cleared at the finish.
class ConsoleProgressLine {
public:
    void shown(const TWideString& caption, const TWideString& text);
    void progressed(float progress);
    void finished();

private:
    std::string line_;
    int percent_ = -1;
};

} // namespace vexel
