// What a run does to the files it writes, as a user meets it: a replaced
// file keeps its permissions (and, for root, its owner), a file the user
// may not write is refused with the system's reason, a name of any legal
// length works, a bitmap never appears torn under its name, and a failing
// output is named in the message with its reason and leaves nothing behind.
#include "tests/support/bitmap_files.h"
#include "tests/support/test_util.h"
#include "tests/support/vx_files.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

namespace vexel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

void picture(const test::TempDir& dir, const std::string& name, int seed = 0) {
    ASSERT_TRUE(test::writeFile(dir.file(name), test::encodeBmp(test::patternPicture(64, 48, seed))));
}

struct stat statOf(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

// The run becomes nobody before it starts (the tests run as root in CI).
void asNobody() {
    if (setgroups(0, nullptr) != 0 || setresgid(kNoGroup, kNoGroup, kNoGroup) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0)
        _exit(126);
}

TEST(Outputs, AReplacedFileKeepsItsPermissionsAndForRootItsOwner) {
    test::TempDir dir;
    picture(dir, "pic.bmp");
    picture(dir, "f1.bmp", 1);
    picture(dir, "f2.bmp", 2);
    ASSERT_EQ(test::runVexel({"-c", "pic.bmp"}, dir.path()).exitCode, 0);
    ASSERT_EQ(test::runVexel({"-c", "f*.bmp"}, dir.path()).exitCode, 0);
    ASSERT_EQ(chmod(dir.file("pic.vx").c_str(), 0600), 0);
    ASSERT_EQ(chmod(dir.file("f.vx").c_str(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(dir.file("f.vx").c_str(), kNobody, kNoGroup), 0);
    }
    const Bytes single = test::readFile(dir.file("pic.vx")), grouped = test::readFile(dir.file("f.vx"));

    ASSERT_EQ(test::runVexel({"-c", "-m=9", "pic.bmp"}, dir.path()).exitCode, 0);
    ASSERT_EQ(test::runVexel({"-c", "-m=9", "f*.bmp"}, dir.path()).exitCode, 0);
    EXPECT_NE(test::readFile(dir.file("pic.vx")), single); // really written again
    EXPECT_NE(test::readFile(dir.file("f.vx")), grouped);
    EXPECT_EQ(statOf(dir.file("pic.vx")).st_mode & 07777, 0600u);
    EXPECT_EQ(statOf(dir.file("f.vx")).st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(statOf(dir.file("f.vx")).st_uid, kNobody);
        EXPECT_EQ(statOf(dir.file("f.vx")).st_gid, kNoGroup);
        EXPECT_EQ(statOf(dir.file("pic.vx")).st_uid, 0u);
    }
    EXPECT_TRUE(test::strayFiles(dir).empty());
}

// Another user's read-only file in a folder the user owns: deleting it and
// writing a new one would succeed, but the user was never meant to write it.
TEST(Outputs, AFileTheUserMayNotWriteIsRefusedWithTheReasonAndKept) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    test::TempDir dir;
    ASSERT_EQ(chown(dir.path().c_str(), kNobody, kNoGroup), 0);
    picture(dir, "pic.bmp");
    picture(dir, "f1.bmp", 1);
    picture(dir, "f2.bmp", 2);
    const Bytes old{'r', 'o', 'o', 't', 's'};
    for (const char* name : {"pic.vx", "f.vx"}) {
        ASSERT_TRUE(test::writeFile(dir.file(name), old));
        ASSERT_EQ(chmod(dir.file(name).c_str(), 0444), 0);
    }
    for (const std::string input : {"pic.bmp", "f*.bmp"}) {
        SCOPED_TRACE(input);
        const std::string output = input == "pic.bmp" ? "pic.vx" : "f.vx";
        const test::CommandResult r = test::runVexel({"-c", input}, dir.path(), asNobody);
        ASSERT_NE(r.exitCode, 126) << "cannot run as nobody";
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find("Не удаётся запаковать файл:\n" + output + "\nPermission denied"), std::string::npos)
            << r.err;
        EXPECT_EQ(test::readFile(dir.file(output)), old);
        EXPECT_EQ(statOf(dir.file(output)).st_uid, 0u);
    }
    // A file nobody may write is replaced for nobody, with its own bits.
    ASSERT_EQ(chmod(dir.file("pic.vx").c_str(), 0664), 0);
    ASSERT_EQ(chown(dir.file("pic.vx").c_str(), kNobody, kNoGroup), 0);
    EXPECT_EQ(test::runVexel({"-c", "pic.bmp"}, dir.path(), asNobody).exitCode, 0);
    EXPECT_EQ(test::recordChain(test::readFile(dir.file("pic.vx"))).size(), 1u);
    EXPECT_EQ(statOf(dir.file("pic.vx")).st_mode & 07777, 0664u);
    EXPECT_TRUE(test::strayFiles(dir).empty());
}

// An output that cannot take its name fails with the output's name and the
// system's reason, and leaves nothing behind, however often it is tried.
TEST(Outputs, AnOutputThatCannotBeWrittenIsNamedWithTheReasonAndLeavesNothing) {
    test::TempDir dir;
    picture(dir, "pic.bmp");
    ASSERT_EQ(mkdir(dir.file("pic.vx").c_str(), 0755), 0);
    for (int run = 0; run < 3; ++run) {
        const test::CommandResult r = test::runVexel({"-c", "pic.bmp"}, dir.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("Не удаётся запаковать файл:\npic.vx\nIs a directory"), std::string::npos) << r.err;
    }
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"pic.bmp", "pic.vx"}));

    // The same for a file that cannot be changed at all, where the file
    // system lets the test make one.
    ASSERT_EQ(rmdir(dir.file("pic.vx").c_str()), 0);
    ASSERT_TRUE(test::writeFile(dir.file("pic.vx"), {'o', 'l', 'd'}));
    const std::string immutable = "chattr +i '" + dir.file("pic.vx") + "' 2>/dev/null";
    if (geteuid() != 0 || std::system(immutable.c_str()) != 0) {
        std::printf("[  SKIPPED ] an immutable file: chattr +i is refused here\n");
        return;
    }
    for (int run = 0; run < 3; ++run) {
        const test::CommandResult r = test::runVexel({"-c", "pic.bmp"}, dir.path());
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("Не удаётся запаковать файл:\npic.vx\nOperation not permitted"), std::string::npos)
            << r.err;
    }
    EXPECT_EQ(std::system(("chattr -i '" + dir.file("pic.vx") + "'").c_str()), 0); // so that the folder can go
    EXPECT_EQ(test::readFile(dir.file("pic.vx")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"pic.bmp", "pic.vx"}));
}

TEST(Outputs, ANameOfAnyLegalLengthIsWrittenAndALongerOneIsRefusedWithTheReason) {
    test::TempDir dir;
    // 245 + ".vx" is a 248-byte name: its hidden name while written is short.
    const std::string stem(245, 's');
    picture(dir, stem + ".bmp");
    const test::CommandResult r = test::runVexel({"-c", stem + ".bmp"}, dir.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::recordChain(test::readFile(dir.file(stem + ".vx"))).size(), 1u);
    EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);

    // Unpacked, its numbered bitmap would need 256 bytes: refused, with why.
    const test::CommandResult refused = test::runVexel({"-uc", stem + ".vx"}, dir.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("Не удаётся записать файл:\n" + stem + "_000000.bmp"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("File name too long"), std::string::npos) << refused.err;
    EXPECT_EQ(test::listFolder(dir.path()).size(), 2u);

    // One byte shorter, the 255-byte name is written.
    const std::string shorter(244, 'h');
    ASSERT_EQ(std::rename(dir.file(stem + ".vx").c_str(), dir.file(shorter + ".vx").c_str()), 0);
    EXPECT_EQ(test::runVexel({"-uc", shorter + ".vx"}, dir.path()).exitCode, 0);
    EXPECT_TRUE(test::fileExists(dir.file(shorter + "_000000.bmp")));
    EXPECT_EQ(test::listFolder(dir.path()).size(), 3u);
}

// A bitmap is linked in whole: a run killed while it writes one leaves the
// bitmaps before it whole and no file under its name, and a full disk
// leaves no part of one.
TEST(Outputs, ABitmapIsNeverTornUnderItsName) {
    VEXEL_NEEDS_TEST_HOOKS();
    test::TempDir dir;
    VEXEL_NEEDS_UNNAMED_FILES(dir.path());
    for (int n = 0; n < 4; ++n) picture(dir, "f" + std::to_string(n) + ".bmp", n);
    ASSERT_EQ(test::runVexel({"-c", "f*.bmp"}, dir.path()).exitCode, 0);
    for (int n = 0; n < 4; ++n) ASSERT_EQ(std::remove(dir.file("f" + std::to_string(n) + ".bmp").c_str()), 0);
    ASSERT_EQ(test::runVexel({"-uc", "f.vx"}, dir.path()).exitCode, 0);
    std::vector<Bytes> whole;
    for (int n = 0; n < 4; ++n) {
        const std::string name = "f_00000" + std::to_string(n) + ".bmp";
        whole.push_back(test::readFile(dir.file(name)));
        ASSERT_EQ(std::remove(dir.file(name).c_str()), 0);
    }
    {
        test::ScopedEnv stop("VEXEL_TEST_STOP_AT", "before-link:2");
        test::VexelProcess run({"-uc", "f.vx"}, dir.path());
        std::string why;
        ASSERT_TRUE(run.waitForStop(&why)) << why;
        run.signal(SIGKILL);
        EXPECT_EQ(run.wait().exitCode, -1);
    }
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"f.vx", "f_000000.bmp", "f_000001.bmp"}));
    for (int n = 0; n < 2; ++n) EXPECT_TRUE(test::readFile(dir.file("f_00000" + std::to_string(n) + ".bmp")) == whole[n]);

    ASSERT_EQ(std::remove(dir.file("f_000000.bmp").c_str()), 0);
    ASSERT_EQ(std::remove(dir.file("f_000001.bmp").c_str()), 0);
    test::ScopedEnv full("VEXEL_FULL_DISK_AFTER", std::to_string(whole[0].size() + whole[0].size() / 2));
    const test::CommandResult r = test::runVexel({"-uc", "f.vx"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Не удаётся записать файл:\nf_000001.bmp"), std::string::npos) << r.err;
    EXPECT_EQ(test::listFolder(dir.path()), (std::vector<std::string>{"f.vx", "f_000000.bmp"}));
}

} // namespace
} // namespace vexel
