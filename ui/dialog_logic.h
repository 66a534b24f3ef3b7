// What the message window and the progress window do, without a window
// system: their button sets, layout, keyboard and mouse handling, the
// progress bar's painting rule and the finishing animation. The SDL forms
// (ui/*_sdl.cpp) draw what this decides.
//
// Message window layout, in pixels (the window draws its own 1-pixel frame
// around a client area 2 pixels smaller each way):
//
//   caption strip      21 high at the client top, caption at x = 8
//   text               from (8, 29), 17 pixels a line; lines end at CR, an
//                      LF right after a CR is not drawn (but is measured
//                      with the line it starts)
//   text block         width = max(caption + 8, widest line) + 16,
//                      height = 29 + 17 x lines + 8
//   buttons            96 x 25, 104 apart, the row centred, its top 33
//                      above the client bottom
//   window             width = max(count x 104 - 8 + 16, text block width),
//                      height = text block height + 33
//
// The progress window has the same caption and text, no buttons (the
// program makes it with style 0), a bar 25 high from x = 8 to the client
// width - 8 whose bottom is 8 above the client bottom, and a height of text
// block + 41 (+ 33 with buttons).
#pragma once

#include "base/tstring.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexel::ui {

struct BoxRect {
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    bool contains(std::int32_t px, std::int32_t py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};

struct BoxButton {
    TWideString label;
    int result = 0;
};

// The buttons of a message-box style (its low 4 bits) and the initial focus
// (1 with 0x100, 2 with 0x200, else 0; kept inside the buttons). The
// progress window has no buttons for styles outside 1..5.
std::vector<BoxButton> messageButtons(int style);
std::vector<BoxButton> progressButtons(int style);
int initialFocus(int style, int buttonCount);

// Measures a line of text in pixels (width, height) with the box's font.
using MeasureText = std::function<void(const std::string& utf8, std::int32_t& width, std::int32_t& height)>;

// The text as lines: split at CR; each line after the first keeps the LF
// that followed its CR for measuring. UTF-8 for the screen.
std::vector<std::string> textLines(const TWideString& text);
// The same line as drawn: without a leading LF.
std::string drawnLine(const std::string& line);

struct BoxLayout {
    std::int32_t width = 0, height = 0; // the window, frame included
    std::int32_t clientWidth = 0, clientHeight = 0;
    std::vector<std::string> lines;
    std::vector<BoxRect> buttons;   // in client coordinates
    BoxRect bar;                    // the progress bar frame (progress window)
    BoxRect buttonRow;
};

BoxLayout messageLayout(const TWideString& caption, const TWideString& text, int buttonCount,
                        const MeasureText& measure);
BoxLayout progressLayout(const TWideString& caption, const TWideString& text, int buttonCount,
                         const MeasureText& measure);

// True for a client point in the caption strip (client y at most 21): the
// strip drags the box.
constexpr bool inCaptionStrip(std::int32_t clientY) { return clientY <= 21; }

// The button under a client point, or -1: inside the button row and
// (x - row left) mod 104 < 96.
int buttonAt(const BoxLayout& layout, std::int32_t x, std::int32_t y);

// Keys the boxes know.
enum class BoxKey { Space, Enter, Tab, Right, Left, Escape, Other };

// The state of a box's buttons while it runs.
class BoxState {
public:
    BoxState(int buttonCount, int focus) : count_(buttonCount), focus_(focus) {}

    // Each returns true when the box must be drawn again.
    bool keyDown(BoxKey key);
    bool keyUp(BoxKey key);
    bool rightUp();
    bool leftDown(int button);          // button under the pointer, or -1
    bool leftUp(int button);
    bool mouseMove(int button, bool inBottomBand);

    int focus() const { return focus_; }
    int buttonCount() const { return count_; }
    // The focused button, or -1 (no buttons, or dismissed).
    int focusedButton() const { return focus_ >= 0 && focus_ < count_ ? focus_ : -1; }
    bool pressedLook() const { return mouseDown_ || keyDown_; }
    bool mouseDown() const { return mouseDown_; }
    // The box is to close: a button was chosen, or it was dismissed.
    bool closing() const { return closing_; }
    bool dismissed() const { return closing_ && focusedButton() < 0; }

private:
    int count_;
    int focus_;
    bool mouseDown_ = false;
    bool keyDown_ = false;
    bool closing_ = false;
};

// A closed box's result: the chosen button's, else (dismissed) 2 when a
// button has the result 2, else 0.
int boxResult(const BoxState& state, const std::vector<BoxButton>& buttons);

// The progress bar: worth painting again only when the fill would move by
// a whole pixel of the bar (client width - 17), or after a full repaint
// (painted < 0).
bool progressWorthPainting(float progress, float painted, std::int32_t clientWidth);
// The main fill's width inside the frame: round-half-even(frame width x progress).
std::int32_t progressFill(float progress, std::int32_t frameWidth);

// The finishing animation from a progress value: the values shown, each
// followed by its wait in milliseconds. From below 0.9 in steps of 8 % of
// what remained at the start, 40 ms apart, then full for 125 ms; from 0.9
// full for 125 ms; from 0.95 full at once.
struct FinishStep {
    float progress;
    int waitMs;
};
std::vector<FinishStep> finishingSequence(float progress);

} // namespace vexel::ui
