#include "ui/dialog_logic.h"

#include "base/language.h"
#include "base/matematicheskieoperacii.h"
#include "platform/utf.h"

#include <algorithm>
#include <cmath>

namespace vexel::ui {

namespace {

constexpr std::int32_t kTextTop = 29, kLineHeight = 17;
constexpr std::int32_t kButtonWidth = 96, kButtonHeight = 25, kButtonPitch = 104, kButtonRowFromBottom = 33;
constexpr std::int32_t kFrame = 1; // the window's own border, on every side

std::vector<BoxButton> buttonsOf(int type, bool noneForOthers) {
    auto b = [](const char16_t* label, int result) { return BoxButton{translated(TWideString(label)), result}; };
    switch (type) {
    case 1: return {b(u"Принять", 1), b(u"Отменить", 2)};
    case 2: return {b(u"Пропустить", 5), b(u"Повторить", 4), b(u"Отменить", 2)};
    case 3: return {b(u"Да", 6), b(u"Нет", 7), b(u"Отменить", 2)};
    case 4: return {b(u"Да", 6), b(u"Нет", 7)};
    case 5: return {b(u"Повторить", 4), b(u"Отменить", 2)};
    default: return noneForOthers ? std::vector<BoxButton>{} : std::vector<BoxButton>{b(u"Принять", 1)};
    }
}

// Caption and lines measured: the text block's size.
void textBlock(const TWideString& caption, const std::vector<std::string>& lines, const MeasureText& measure,
               std::int32_t& width, std::int32_t& linesHeight) {
    std::int32_t w = 0, h = 0, widest = 0;
    measure(platform::utf16ToDisplayUtf8(caption.view()), w, h);
    const std::int32_t captionWidth = w;
    for (const std::string& line : lines) {
        measure(line, w, h);
        widest = std::max(widest, w);
    }
    width = std::max(captionWidth + 8, widest) + 16;
    linesHeight = kTextTop + kLineHeight * static_cast<std::int32_t>(lines.size());
}

void placeButtons(BoxLayout& layout, int count) {
    const std::int32_t rowWidth = count > 0 ? count * kButtonPitch - 8 : 0;
    layout.buttonRow = {(layout.clientWidth - rowWidth) / 2, layout.clientHeight - kButtonRowFromBottom, rowWidth,
                        kButtonHeight};
    for (int i = 0; i < count; ++i)
        layout.buttons.push_back({layout.buttonRow.x + i * kButtonPitch, layout.buttonRow.y, kButtonWidth, kButtonHeight});
}

} // namespace

std::vector<BoxButton> messageButtons(int style) { return buttonsOf(style & 15, false); }

std::vector<BoxButton> progressButtons(int style) { return buttonsOf(style & 15, true); }

int initialFocus(int style, int buttonCount) {
    const int focus = (style & 0x100) ? 1 : (style & 0x200) ? 2 : 0;
    return std::min(focus, buttonCount - 1); // -1 without buttons: every use is guarded
}

std::vector<std::string> textLines(const TWideString& text) {
    std::vector<std::string> lines;
    std::u16string_view rest = text.view();
    for (;;) {
        const std::size_t cr = rest.find(u'\r');
        lines.push_back(platform::utf16ToDisplayUtf8(rest.substr(0, cr)));
        if (cr == std::u16string_view::npos) break;
        rest = rest.substr(cr + 1);
    }
    return lines;
}

std::string drawnLine(const std::string& line) { return !line.empty() && line[0] == '\n' ? line.substr(1) : line; }

BoxLayout messageLayout(const TWideString& caption, const TWideString& text, int buttonCount,
                        const MeasureText& measure) {
    BoxLayout layout;
    layout.lines = textLines(text);
    std::int32_t blockWidth = 0, linesHeight = 0;
    textBlock(caption, layout.lines, measure, blockWidth, linesHeight);
    layout.width = std::max(buttonCount * kButtonPitch - 8 + 16, blockWidth);
    layout.height = linesHeight + 8 + kButtonRowFromBottom;
    layout.clientWidth = layout.width - 2 * kFrame;
    layout.clientHeight = layout.height - 2 * kFrame;
    placeButtons(layout, buttonCount);
    return layout;
}

BoxLayout progressLayout(const TWideString& caption, const TWideString& text, int buttonCount,
                         const MeasureText& measure) {
    BoxLayout layout;
    layout.lines = textLines(text);
    std::int32_t blockWidth = 0, linesHeight = 0;
    textBlock(caption, layout.lines, measure, blockWidth, linesHeight);
    layout.width = std::max(buttonCount * kButtonPitch - 8 + 16, blockWidth);
    layout.height = linesHeight + 41 + (buttonCount > 0 ? kButtonRowFromBottom : 0);
    layout.clientWidth = layout.width - 2 * kFrame;
    layout.clientHeight = layout.height - 2 * kFrame;
    placeButtons(layout, buttonCount);
    const std::int32_t bottom = layout.clientHeight - 41 + (buttonCount > 0 ? 0 : kButtonRowFromBottom);
    layout.bar = {8, bottom - 25, layout.clientWidth - 16, 25};
    return layout;
}

int buttonAt(const BoxLayout& layout, std::int32_t x, std::int32_t y) {
    if (layout.buttons.empty() || !layout.buttonRow.contains(x, y)) return -1;
    const std::int32_t offset = x - layout.buttonRow.x;
    if (offset % kButtonPitch >= kButtonWidth) return -1;
    const int i = offset / kButtonPitch;
    return i < static_cast<int>(layout.buttons.size()) ? i : -1;
}

bool BoxState::keyDown(BoxKey key) {
    if ((key == BoxKey::Space || key == BoxKey::Enter) && !keyDown_) {
        keyDown_ = true;
        return true;
    }
    return false;
}

bool BoxState::keyUp(BoxKey key) {
    switch (key) {
    case BoxKey::Tab:
    case BoxKey::Right:
        if (count_ > 0) focus_ = focus_ + 1 >= count_ ? 0 : focus_ + 1;
        return true;
    case BoxKey::Left:
        if (count_ > 0) focus_ = focus_ - 1 < 0 ? count_ - 1 : focus_ - 1;
        return true;
    case BoxKey::Space:
    case BoxKey::Enter:
        // Only a release whose press was seen chooses the focused button.
        if (!keyDown_) return false;
        keyDown_ = false;
        closing_ = true;
        return true;
    case BoxKey::Escape:
        focus_ = count_;
        closing_ = true;
        return true;
    case BoxKey::Other: return false;
    }
    return false;
}

bool BoxState::rightUp() {
    focus_ = count_;
    closing_ = true;
    return true;
}

bool BoxState::leftDown(int button) {
    if (button >= 0 && !mouseDown_) {
        focus_ = button;
        mouseDown_ = true;
    }
    return true;
}

bool BoxState::leftUp(int button) {
    if (mouseDown_ && button >= 0 && button == focus_) closing_ = true;
    // A release anywhere ends the press, also off every button.
    mouseDown_ = false;
    return true;
}

bool BoxState::mouseMove(int button, bool inBottomBand) {
    if (mouseDown_ && inBottomBand && button < 0) mouseDown_ = false;
    return true;
}

int boxResult(const BoxState& state, const std::vector<BoxButton>& buttons) {
    const int chosen = state.focusedButton();
    if (chosen >= 0 && chosen < static_cast<int>(buttons.size())) return buttons[static_cast<std::size_t>(chosen)].result;
    for (const BoxButton& b : buttons)
        if (b.result == 2) return 2;
    return 0;
}

bool progressWorthPainting(float progress, float painted, std::int32_t clientWidth) {
    if (painted < 0) return true;
    const double bar = static_cast<double>(clientWidth) - 17;
    return std::floor(std::fabs(static_cast<double>(progress) - painted) * bar) > 0;
}

std::int32_t progressFill(float progress, std::int32_t frameWidth) {
    return roundToInt(static_cast<double>(frameWidth) * std::clamp(progress, 0.0f, 1.0f));
}

std::vector<FinishStep> finishingSequence(float progress) {
    std::vector<FinishStep> steps;
    double a = roundToInt(static_cast<double>(progress) * 1000);
    if (a < 900) {
        double step = (1000 - a) * 0.08;
        if (!(step > 0)) step = 1;
        for (; a < 1000; a += step) steps.push_back({static_cast<float>(a / 1000), 40});
        steps.push_back({1.0f, 125});
    } else if (a < 950) {
        steps.push_back({1.0f, 125});
    } else {
        steps.push_back({1.0f, 0});
    }
    return steps;
}

} // namespace vexel::ui
