// New files get their name only when whole: nothing under the final name
// before that, nothing left behind after, and a replaced file's permission
// bits carried over. Each case runs on both paths: unnamed files and the
// hidden names used where a file system has none.
#include "platform/new_file.h"
#include "platform/utf.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace vexel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::u16string w(const std::string& s) { return utf8ToUtf16(s); }

mode_t modeOf(const std::string& path) {
    struct stat st = {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

class NewFiles : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!GetParam() && !test::unnamedFilesWork(dir.path()))
            GTEST_SKIP() << "the file system of " << dir.path() << " makes no unnamed files";
        if (GetParam()) {
#if !VEXEL_TEST_HOOKS
            GTEST_SKIP() << "the hidden names are forced through a test hook";
#endif
            hidden_ = std::make_unique<test::ScopedEnv>("VEXEL_TEST_NO_UNNAMED_FILES", "1");
        }
    }
    std::unique_ptr<test::ScopedEnv> hidden_;
    test::TempDir dir;
};

TEST_P(NewFiles, HaveNoNameUntilLinkedAndNeverTakeAnExistingName) {
    {
        NewFile f;
        ASSERT_TRUE(f.create(w(dir.file("pic.bmp"))));
        EXPECT_EQ(f.unnamed(), !GetParam());
        ASSERT_TRUE(f.file().write("whole", 5));
        // While it is written the final name does not exist; the hidden
        // name, where there is one, is short whatever the target's length.
        const std::vector<std::string> during = test::listFolder(dir.path());
        if (GetParam()) {
            ASSERT_EQ(during.size(), 1u);
            EXPECT_EQ(during[0].rfind(".vexel-", 0), 0u);
            EXPECT_LT(during[0].size(), 32u);
        } else {
            EXPECT_TRUE(during.empty());
        }
        ASSERT_TRUE(f.linkAs(w(dir.file("pic.bmp"))));
    }
    EXPECT_EQ(test::readFile(dir.file("pic.bmp")), (Bytes{'w', 'h', 'o', 'l', 'e'}));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.bmp"});

    NewFile again;
    ASSERT_TRUE(again.create(w(dir.file("pic.bmp"))));
    ASSERT_TRUE(again.file().write("other", 5));
    EXPECT_FALSE(again.linkAs(w(dir.file("pic.bmp"))));
    EXPECT_EQ(lastError(), EEXIST);
    again.discard();
    EXPECT_EQ(test::readFile(dir.file("pic.bmp")), (Bytes{'w', 'h', 'o', 'l', 'e'}));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.bmp"});
}

TEST_P(NewFiles, ReplaceATargetWithItsPermissionBitsAndLeaveNothingWhenDropped) {
    const std::string target = dir.file("pic.vx");
    ASSERT_TRUE(test::writeFile(target, {'o', 'l', 'd'}));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    {
        NewFile dropped;
        ASSERT_TRUE(dropped.create(w(target)));
        ASSERT_TRUE(dropped.file().write("never", 5));
    } // going out of scope drops it
    EXPECT_EQ(test::readFile(target), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.vx"});

    NewFile f;
    ASSERT_TRUE(f.create(w(target)));
    ASSERT_TRUE(f.file().write("new", 3));
    ASSERT_TRUE(f.replace(w(target)));
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(test::readFile(target), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.vx"});

    // A free name is simply given.
    NewFile fresh;
    ASSERT_TRUE(fresh.create(w(dir.file("b.vx"))));
    ASSERT_TRUE(fresh.replace(w(dir.file("b.vx"))));
    EXPECT_TRUE(test::fileExists(dir.file("b.vx")));
    EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);
}

TEST_P(NewFiles, AReplaceThatFailsLeavesTheTargetAndNoOtherName) {
    // A folder in the way: the rename refuses it.
    ASSERT_EQ(mkdir(dir.file("pic.vx").c_str(), 0755), 0);
    NewFile f;
    ASSERT_TRUE(f.create(w(dir.file("pic.vx"))));
    ASSERT_TRUE(f.file().write("new", 3));
    EXPECT_FALSE(f.replace(w(dir.file("pic.vx"))));
    EXPECT_EQ(lastError(), EISDIR);
    f.discard();
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"pic.vx"});
}

INSTANTIATE_TEST_SUITE_P(UnnamedOrHidden, NewFiles, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Hidden" : "Unnamed"; });

TEST(MayReplace, RefusesFoldersLongNamesAndFilesTheUserCannotWrite) {
    test::TempDir dir;
    EXPECT_TRUE(mayReplace(w(dir.file("free.vx"))));
    ASSERT_EQ(mkdir(dir.file("folder.vx").c_str(), 0755), 0);
    EXPECT_FALSE(mayReplace(w(dir.file("folder.vx"))));
    EXPECT_EQ(lastError(), EISDIR);
    EXPECT_FALSE(mayReplace(w(dir.file(std::string(256, 'a') + ".vx"))));
    EXPECT_EQ(lastError(), ENAMETOOLONG);
    EXPECT_TRUE(mayReplace(w(dir.file(std::string(252, 'a') + ".vx"))));
    ASSERT_TRUE(test::writeFile(dir.file("ro.vx"), {1}));
    ASSERT_EQ(chmod(dir.file("ro.vx").c_str(), 0444), 0);
    // Root may write any file; everyone else is refused a read-only one.
    EXPECT_EQ(mayReplace(w(dir.file("ro.vx"))), geteuid() == 0);
    if (geteuid() != 0) {
        EXPECT_EQ(lastError(), EACCES);
    }
}

} // namespace
} // namespace vexel::platform
