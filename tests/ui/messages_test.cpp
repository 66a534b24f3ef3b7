#include "tests/support/ui_message_capture.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

namespace vexel {
namespace {

TEST(Messages, AnEmptyCaptionReadsOshibka) {
    test::MessageCapture capture;
    EXPECT_TRUE(ui::showMessage(TWideString(u"Не удаётся загрузить файл:\rx.bmp")));
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].caption, "Ошибка");
    EXPECT_EQ(capture.messages[0].text, "Не удаётся загрузить файл:\nx.bmp");
}

TEST(Messages, NarrowTextIsWidenedThroughTheCodePage) {
    test::MessageCapture capture;
    ui::showMessageNarrow(TAnsiString("\xCE\xF8\xE8\xE1\xEA\xE0"), TAnsiString("Error"));
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].text, "Ошибка");
    EXPECT_EQ(capture.messages[0].caption, "Error");
}

long double fakeSeconds = 0;
long double fakeClock() { return fakeSeconds; }

struct FakeClock {
    explicit FakeClock(long double start) {
        fakeSeconds = start;
        ui::setSilenceClock(fakeClock);
    }
    ~FakeClock() { ui::setSilenceClock(nullptr); }
};

TEST(Messages, CancelSilencesEveryMessageForTenSecondsAndTheNextOneIsShownAgain) {
    FakeClock clock(5000);
    test::MessageCapture cancel(ui::kResultCancel);
    EXPECT_TRUE(ui::showMessage(TWideString(u"first")));
    EXPECT_TRUE(ui::messagesSilenced());
    fakeSeconds = 5009.99;
    EXPECT_FALSE(ui::showMessage(TWideString(u"dropped")));
    EXPECT_FALSE(ui::showMessageNarrow(TAnsiString("dropped too"), TAnsiString()));
    ASSERT_EQ(cancel.messages.size(), 1u);
    fakeSeconds = 5010;
    EXPECT_FALSE(ui::messagesSilenced());
    EXPECT_TRUE(ui::showMessage(TWideString(u"after ten seconds")));
    ASSERT_EQ(cancel.messages.size(), 2u);
    EXPECT_EQ(cancel.messages[1].text, "after ten seconds");
    // That answer was "Отменить" too: ten more seconds from now.
    fakeSeconds = 5019.5;
    EXPECT_FALSE(ui::showMessage(TWideString(u"dropped again")));
    EXPECT_EQ(cancel.messages.size(), 2u);
}

TEST(Messages, AcceptingNeverSilences) {
    FakeClock clock(100);
    test::MessageCapture accept(ui::kResultAccept);
    EXPECT_TRUE(ui::showMessage(TWideString(u"one")));
    EXPECT_TRUE(ui::showMessage(TWideString(u"two")));
    EXPECT_EQ(accept.messages.size(), 2u);
}

TEST(Messages, TheConsoleFormTurnsEveryLineBreakIntoALineFeed) {
    EXPECT_EQ(consoleText(TWideString(u"a\r\nb\rc\nd")), "a\nb\nc\nd");
}

TEST(Messages, TheProgramWritesMessagesAsCaptionAndText) {
    test::TempDir dir;
    test::CommandResult r = test::runVexel({"-h"}, dir.path());
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out.rfind("Vexel v1.54: Command line usage:\n", 0), 0u);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

} // namespace
} // namespace vexel
