// Test main: initialises the foundation's units once (and, for the programs
// that test the windows and the application, routes the foundation's
// messages through the dialog windows' show functions, as the program does)
// and fails every test that ends with more live allocator blocks than it
// started with. The programs the tests run speak the program's own
// language (Russian) whatever locale the shell names, and find the build's
// message catalogue when a test names a locale.
#include "base/memdiag.h"
#include "base/units.h"
#include "tests/support/test_util.h"
#ifdef VEXEL_TEST_WITH_UI
#include "ui/toknosoobzheniy.h"
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace vexel::test {

namespace {

bool allowed = false;
bool leaked = false;

class LeakListener : public ::testing::EmptyTestEventListener {
    AllocatorStats before_;
    void OnTestStart(const ::testing::TestInfo&) override {
        allowed = false;
        before_ = memStats();
    }
    void OnTestEnd(const ::testing::TestInfo& info) override {
        AllocatorStats after = memStats();
        if (!allowed && after.liveBlocks != before_.liveBlocks) {
            leaked = true;
            std::fprintf(stderr, "LEAK: %s.%s ends with %lld live blocks more than it started with (%lld bytes)\n",
                         info.test_suite_name(), info.name(),
                         static_cast<long long>(after.liveBlocks) - static_cast<long long>(before_.liveBlocks),
                         static_cast<long long>(after.liveBytes) - static_cast<long long>(before_.liveBytes));
        }
    }
};

} // namespace

void allowLiveBlocks() { allowed = true; }

} // namespace vexel::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
#ifdef VEXEL_TEST_LOCALEDIR
    setenv("VEXEL_LOCALEDIR", VEXEL_TEST_LOCALEDIR, 1);
#endif
    vexel::initializeBaseUnits();
#ifdef VEXEL_TEST_WITH_UI
    vexel::ui::installDialogs();
#endif
    ::testing::UnitTest::GetInstance()->listeners().Append(new vexel::test::LeakListener);
    int result = RUN_ALL_TESTS();
    if (vexel::test::leaked) result = 1;
    return result;
}
