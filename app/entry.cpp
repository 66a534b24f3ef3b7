#include "app/entry.h"

#include "app/file_list.h"
#include "app/frame_loop.h"
#include "app/options.h"
#include "base/kernel.h"
#include "base/matematicheskieoperacii.h"
#include "base/tspisokstrok.h"
#include "display/twnd.h"
#include "pipeline/pixspray_binding.h"
#include "ui/toknosoobzheniy.h"

#include <cstdio>

namespace vexel {

int entryRoutine(int argc, char** argv, const FrameCodec& codec, const WindowSystem& windows) {
    resetFloatingPoint();
    setCommandArguments(argc, argv);
    // Every run needs the record: its graphics window holds the picture buffer.
    TWnd record;
    record.create();

    TWideString argument;
    // A viewing run (which stays a viewing run whatever the final settings
    // say) shows its messages and progress in windows; every other run on
    // the console.
    const RunSettings firstLook = parseCommandLine(argument, false);
    if (firstLook.showVersion) {
        std::printf("%s\n", versionText());
        return 0;
    }
    if (firstLook.longHelp) {
        showUsageText();
        return 0;
    }
    if (firstLook.runMode == 0 && firstLook.grouping == 0 && !firstLook.showHelp && windows.useDrawnDialogs)
        windows.useDrawnDialogs();
    RunSettings settings = parseCommandLine(argument);
    if (settings.allKeyframes) settings.frameRate = -settings.frameRate;
    RunNames names = splitFileName(argument);
    if (names.base.empty() || settings.showHelp) {
        names.base = TWideString(u"vp");
        names.extension = TWideString(u"bmp");
        names.stem = TWideString(u"vp.");
        setWildcardParts(names);
        if (settings.showHelp || !fileExists(names.folder + names.stem + names.extension)) {
            showUsageText();
            return 3;
        }
    }
    // The GPU library only ever draws for the viewer.
    bindPixSpray(programFolderString().view(), settings.runMode == 0 && settings.grouping == 0);
    names.outputExtension = outputExtensionFor(settings);

    TSpisokStrok list(names.wildcard ? 500000 : 1, 8);
    if (int code = buildFileList(names, list)) return code;

    if (int code = finalizeSettings(settings, names)) return code;
    record.codec.legacyFlags = settings.legacyFlags;

    // Only the runs that show frames open a display connection.
    std::unique_ptr<ViewerWindow> viewer;
    if (windows.openViewer && (names.wildcard || settings.runMode <= 0 || settings.conversion == 2))
        viewer = windows.openViewer(record);
    record.window = viewer.get();
    if (settings.runMode == 0) {
        // Viewing needs a window; without one the run ends instead of waiting for a click that cannot come.
        if (!record.window) {
            ui::showMessage(TWideString(u"Не удаётся открыть окно просмотра:\r") + names.stem + names.extension);
            return 1;
        }
        // Only the viewer measures pictures against the real display.
        record.codec.screen = record.window->displaySize();
    }
    TWideString title = record.window ? record.window->title() : TWideString();
    if (!title.empty()) record.window->setTitle(names.stem + names.extension + TWideString(u" - ") + title);

    FrameLoopInput input;
    input.record = &record;
    input.settings = &settings;
    input.names = &names;
    input.list = &list;
    input.windowTitle = title;
    input.groupFlag = settings.grouping >= 1;
    input.codec = codec;
    return runFrameLoop(input);
}

} // namespace vexel
