#include "app/entry.h"

#include "base/kernel.h"
#include "base/matematicheskieoperacii.h"
#include "ui/toknosoobzheniy.h"

namespace vexel {

namespace {

const char16_t kUsage1[] =
    u"Command line usage:\r\n  [-c] [-uc] [filename]\r\n\r\nDescription:\r\n  filename - Source file name (default: \"vp.bmp\")\r\n"
    u"  -c - Compress .bmp file to .vx / Convert internal format of a .vx file\r\n  -uc - Decompress file (.vx) to .bmp\r\n"
    u"  -os - Optimize size.\r\n  -oq - Optimize quality.\r\n  -g - Group files into one .vx file\r\n"
    u"  -ug - Ungroup .vx file if it has more than one frame\r\n"
    u"  -a[=l.r] - Animate frames with speed rate l.r frames per second [l.r=0]\r\n"
    u"  -m[=n] - Compression mode [n=8] (use 7 for faster unpacking, 8 for lower size,\r\n"
    u"      1 for backward compatibility).\r\n"
    u"  -t[=n] - Set threads count and streams count in multithreaded processing and\r\n"
    u"      while storing [n=1] [-t=4].\r\n\r\n"
    u"If no parameters present except filename then .bmp or .vx file format viewer\r\n"
    u"will be opened. To start video playing left click the window or press spacebar.";

const char16_t kUsage2[] =
    u"Description (constinue):\r\n  -r[=n] - Resize frames proportionally to n pixels width [n=320].\r\n"
    u"  -k - Make all frames keyframes (by default, keyframes are present every 1 second).\r\n"
    u"  -f - Use fast painting mode (default for videos).\r\n  -s - Use smooth painting mode (default for photos).\r\n\r\n"
    u"Following options does not to be save in file. Once present it alternates behavior\r\n"
    u"of the unpacking function, twice typed it makes packing function work like old\r\n"
    u"version of itself while internal format convertion.\r\n\r\nDescription (continue):\r\n"
    u"  -4 [-4] - Use old quantity number codes for bright level in pixel data.\r\n"
    u"  -x [-x] - Use old version unpacking algorithm for .vx files, created\r\n"
    u"            with format parameter rsb mistake in place, where R is.";

} // namespace

int entryRoutine(int argc, char** argv) {
    resetFloatingPoint();
    setCommandArguments(argc, argv);
    TWideString caption(u"Vexel v1.54");
    ui::showUsage(TWideString(kUsage1), caption);
    ui::showUsage(TWideString(kUsage2), caption);
    return 3;
}

} // namespace vexel
