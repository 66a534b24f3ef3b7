// The message window and the progress window drawn with SDL2 and SDL2_ttf:
// the form the show functions (ui/toknosoobzheniy.h) and the progress
// window (ui/toknosostoyaniya.h) take in view mode when a display is there.
#pragma once

namespace vexel::ui {

// From now on messages are shown in the program's own message window (and
// echoed to standard error as "caption: text") and progress in its progress
// window. False, changing nothing, when no display can be used. A box that
// cannot be made (no font, SDL failure, no memory) falls back to the
// console form for that message, answered "Принять".
bool useDrawnDialogs();
// Back to the console form; frees the font (the end of the program).
void stopDrawnDialogs();

} // namespace vexel::ui
