// The message and progress windows without a window system: layout,
// buttons and focus, keys and mouse, the bar's painting rule and the
// finishing animation.
#include "ui/dialog_logic.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vexel::ui {
namespace {

// A font whose every character (code point) is 7 pixels wide and 15 high.
void measure(const std::string& utf8, std::int32_t& width, std::int32_t& height) {
    std::int32_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    width = 7 * n;
    height = 15;
}

TEST(DialogButtons, EachStyleHasItsButtonsAndInitialFocus) {
    const auto labels = [](const std::vector<BoxButton>& b) {
        std::vector<std::string> out;
        for (const BoxButton& x : b) out.push_back(x.label.toUtf8() + "=" + std::to_string(x.result));
        return out;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(labels(messageButtons(0)), (V{"Принять=1"}));
    EXPECT_EQ(labels(messageButtons(1)), (V{"Принять=1", "Отменить=2"}));
    EXPECT_EQ(labels(messageButtons(2)), (V{"Пропустить=5", "Повторить=4", "Отменить=2"}));
    EXPECT_EQ(labels(messageButtons(3)), (V{"Да=6", "Нет=7", "Отменить=2"}));
    EXPECT_EQ(labels(messageButtons(0x104)), (V{"Да=6", "Нет=7"}));
    EXPECT_EQ(labels(messageButtons(5)), (V{"Повторить=4", "Отменить=2"}));
    EXPECT_EQ(labels(messageButtons(9)), (V{"Принять=1"}));
    EXPECT_TRUE(progressButtons(0).empty());
    EXPECT_EQ(progressButtons(1).size(), 2u);
    EXPECT_EQ(initialFocus(0x101, 2), 1);
    EXPECT_EQ(initialFocus(0x202, 3), 2);
    EXPECT_EQ(initialFocus(0x201, 2), 1); // kept inside the buttons
    EXPECT_EQ(initialFocus(0x100, 0), -1); // no buttons at all
}

TEST(DialogLayout, OneTwoAndThreeButtonsSitCentred33AboveTheBottom) {
    for (int count : {1, 2, 3}) {
        const BoxLayout l = messageLayout(TWideString(u"Ошибка"), TWideString(u"x"), count, measure);
        EXPECT_EQ(l.width, std::max(count * 104 - 8 + 16, std::max(6 * 7 + 8, 7) + 16));
        EXPECT_EQ(l.height, 29 + 17 + 8 + 33);
        EXPECT_EQ(l.clientWidth, l.width - 2);
        ASSERT_EQ(l.buttons.size(), static_cast<std::size_t>(count));
        const int rowWidth = count * 104 - 8;
        EXPECT_EQ(l.buttons[0].x, (l.clientWidth - rowWidth) / 2);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(l.buttons[i].x, l.buttons[0].x + 104 * i);
            EXPECT_EQ(l.buttons[i].y, l.clientHeight - 33);
            EXPECT_EQ(l.buttons[i].width, 96);
            EXPECT_EQ(l.buttons[i].height, 25);
        }
    }
}

TEST(DialogLayout, ACrLfTextIsOneLinePerCrAndTheWidestLineIncludingItsLfDecides) {
    const TWideString text(u"Не удаётся распаковать файл:\r\nclip.vx");
    const BoxLayout l = messageLayout(TWideString(), text, 1, measure);
    ASSERT_EQ(l.lines.size(), 2u);
    EXPECT_EQ(l.lines[0], "Не удаётся распаковать файл:");
    EXPECT_EQ(l.lines[1], "\nclip.vx"); // measured with its LF
    EXPECT_EQ(drawnLine(l.lines[1]), "clip.vx"); // drawn without it
    EXPECT_EQ(l.width, 28 * 7 + 16);
    EXPECT_EQ(l.height, 29 + 2 * 17 + 8 + 33);
    // A long line with an LF wins by the LF's width.
    const BoxLayout m = messageLayout(TWideString(), TWideString(u"abc\r\nabc"), 0, measure);
    EXPECT_EQ(m.width, 4 * 7 + 16);
}

TEST(DialogLayout, TheProgressBarSitsAboveTheBottomWithoutButtons) {
    const BoxLayout l = progressLayout(TWideString(u"Состояние выполнения"), TWideString(u"Сортировка списка файлов"),
                                       0, measure);
    EXPECT_EQ(l.height, 29 + 17 + 41);
    EXPECT_EQ(l.bar.x, 8);
    EXPECT_EQ(l.bar.width, l.clientWidth - 16);
    EXPECT_EQ(l.bar.y + l.bar.height, l.clientHeight - 8);
    EXPECT_EQ(l.bar.height, 25);
    EXPECT_TRUE(l.buttons.empty());
    const BoxLayout b = progressLayout(TWideString(u"x"), TWideString(u"y"), 2, measure);
    EXPECT_EQ(b.height, 29 + 17 + 41 + 33);
    EXPECT_EQ(b.bar.y + b.bar.height, b.clientHeight - 41);
}

TEST(DialogLayout, TheTop21PixelsDragTheBox) {
    EXPECT_TRUE(inCaptionStrip(0));
    EXPECT_TRUE(inCaptionStrip(21));
    EXPECT_FALSE(inCaptionStrip(22));
}

TEST(DialogLayout, APointIsOnAButtonInsideTheRowAndNotInTheGaps) {
    const BoxLayout l = messageLayout(TWideString(), TWideString(u"x"), 2, measure);
    const BoxRect first = l.buttons[0];
    EXPECT_EQ(buttonAt(l, first.x, first.y), 0);
    EXPECT_EQ(buttonAt(l, first.x + 95, first.y + 24), 0);
    EXPECT_EQ(buttonAt(l, first.x + 96, first.y), -1); // the 8-pixel gap
    EXPECT_EQ(buttonAt(l, first.x + 104, first.y), 1);
    EXPECT_EQ(buttonAt(l, first.x, first.y - 1), -1);
    EXPECT_EQ(buttonAt(l, first.x - 1, first.y), -1);
}

TEST(DialogKeys, TabAndArrowsMoveTheFocusRoundAndSpaceChoosesOnlyAfterItsPress) {
    BoxState s(3, 0);
    s.keyUp(BoxKey::Tab);
    EXPECT_EQ(s.focus(), 1);
    s.keyUp(BoxKey::Right);
    s.keyUp(BoxKey::Right);
    EXPECT_EQ(s.focus(), 0); // wrapped
    s.keyUp(BoxKey::Left);
    EXPECT_EQ(s.focus(), 2);
    EXPECT_FALSE(s.keyUp(BoxKey::Space)); // a release without its press chooses nothing
    EXPECT_FALSE(s.closing());
    EXPECT_TRUE(s.keyDown(BoxKey::Enter));
    EXPECT_TRUE(s.pressedLook());
    EXPECT_FALSE(s.keyDown(BoxKey::Enter)); // key repeat: once
    s.keyUp(BoxKey::Enter);
    EXPECT_TRUE(s.closing());
    EXPECT_FALSE(s.dismissed());
    EXPECT_EQ(boxResult(s, messageButtons(3)), 2); // "Отменить", the focused third button
}

TEST(DialogKeys, EscapeAndARightClickDismissWithTheCancelResult) {
    for (int way = 0; way < 2; ++way) {
        BoxState s(2, 0);
        if (way == 0) s.keyUp(BoxKey::Escape);
        else s.rightUp();
        EXPECT_TRUE(s.dismissed());
        EXPECT_EQ(s.focus(), 2);
        EXPECT_EQ(boxResult(s, messageButtons(1)), 2);
    }
    BoxState lone(1, 0);
    lone.keyUp(BoxKey::Escape);
    EXPECT_EQ(boxResult(lone, messageButtons(0)), 0); // no button means "cancel": nothing chosen
}

TEST(DialogMouse, APressAndReleaseOnOneButtonChoosesIt) {
    BoxState s(2, 0);
    s.leftDown(1);
    EXPECT_EQ(s.focus(), 1);
    EXPECT_TRUE(s.mouseDown());
    s.leftUp(1);
    EXPECT_TRUE(s.closing());
    EXPECT_EQ(boxResult(s, messageButtons(1)), 2);
}

TEST(DialogMouse, AReleaseOffEveryButtonEndsThePressSoTheNextClickWorks) {
    BoxState s(2, 0);
    s.leftDown(1);   // press on "Отменить"
    s.mouseMove(-1, false); // dragged up into the text: still pressed
    EXPECT_TRUE(s.mouseDown());
    s.leftUp(-1);    // released off every button
    EXPECT_FALSE(s.mouseDown());
    EXPECT_FALSE(s.closing());
    s.leftDown(0);   // then a click on "Принять"
    s.leftUp(0);
    EXPECT_TRUE(s.closing());
    EXPECT_EQ(boxResult(s, messageButtons(1)), 1);
}

TEST(DialogMouse, MovingOffTheButtonsInTheBottomBandLiftsThePress) {
    BoxState s(2, 0);
    s.leftDown(0);
    s.mouseMove(-1, true);
    EXPECT_FALSE(s.mouseDown());
    s.leftUp(0); // nothing: the press was lifted
    EXPECT_FALSE(s.closing());
}

TEST(DialogKeys, WithoutButtonsTheFocusIsNeverAnIndex) {
    BoxState s(0, initialFocus(0, 0));
    s.keyUp(BoxKey::Left);
    s.keyUp(BoxKey::Tab);
    EXPECT_EQ(s.focusedButton(), -1);
    s.leftDown(-1);
    s.keyDown(BoxKey::Space);
    s.keyUp(BoxKey::Space);
    EXPECT_EQ(boxResult(s, progressButtons(0)), 0);
}

TEST(ProgressBar, OnlyAWholePixelOfChangeIsPaintedAgain) {
    // A 317-pixel client area: the rule measures against 300 pixels.
    EXPECT_TRUE(progressWorthPainting(0, -1, 317)); // after a full repaint
    EXPECT_FALSE(progressWorthPainting(0.5f + 0.003f, 0.5f, 317));
    EXPECT_TRUE(progressWorthPainting(0.5f + 0.004f, 0.5f, 317));
    EXPECT_TRUE(progressWorthPainting(0.4f, 0.5f, 317));
    EXPECT_EQ(progressFill(0.5f, 301), 150); // half to even
    EXPECT_EQ(progressFill(1.0f, 300), 300);
    EXPECT_EQ(progressFill(-1.0f, 300), 0);
}

TEST(ProgressBar, FinishingFromAHalfStepsBy40Every40MillisecondsThenHolds) {
    const std::vector<FinishStep> steps = finishingSequence(0.5f);
    ASSERT_EQ(steps.size(), 14u);
    for (int i = 0; i < 13; ++i) {
        EXPECT_NEAR(steps[static_cast<std::size_t>(i)].progress, 0.5 + 0.04 * i, 1e-6) << i;
        EXPECT_EQ(steps[static_cast<std::size_t>(i)].waitMs, 40);
    }
    EXPECT_EQ(steps.back().progress, 1.0f);
    EXPECT_EQ(steps.back().waitMs, 125);
    const std::vector<FinishStep> nine = finishingSequence(0.92f);
    ASSERT_EQ(nine.size(), 1u);
    EXPECT_EQ(nine[0].progress, 1.0f);
    EXPECT_EQ(nine[0].waitMs, 125);
    const std::vector<FinishStep> late = finishingSequence(0.96f);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].waitMs, 0);
    EXPECT_EQ(finishingSequence(1.5f).size(), 1u);
}

} // namespace
} // namespace vexel::ui
