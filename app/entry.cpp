#include "app/entry.h"

#include "app/file_list.h"
#include "app/frame_loop.h"
#include "app/options.h"
#include "app/standard_streams.h"
#include "base/kernel.h"
#include "base/matematicheskieoperacii.h"
#include "base/sistemniesoobzheniya.h"
#include "base/tspisokstrok.h"
#include "display/twnd.h"
#include "pipeline/pixspray_binding.h"
#include "platform/files.h"
#include "platform/system.h"
#include "ui/toknosoobzheniy.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace vexel {

namespace {

TWideString text(const char16_t* s) { return TWideString(s); }

int fail(const TWideString& message, int code) {
    ui::showMessage(message);
    return code;
}

// A run started from a terminal writes its files without a window unless
// "-w" asks for one; started from the desktop, the window is its progress.
bool hasTerminal() { return isatty(STDIN_FILENO) == 1 || isatty(STDOUT_FILENO) == 1 || isatty(STDERR_FILENO) == 1; }

// What one run of the frame loop is given besides its settings.
struct RunInput {
    RunNames names;
    std::vector<TWideString> rows; // names given one by one (names.listed)
    InputSpool* spool = nullptr;
};

// "-o=NAME": the output stem, NAME without the output extension.
TWideString outputStemOf(const TWideString& name, const TWideString& outputExtension) {
    const std::u16string_view n = name.view();
    const std::size_t dot = n.rfind(u'.');
    const std::size_t slash = n.rfind(u'/');
    if (dot != std::u16string_view::npos && (slash == std::u16string_view::npos || dot > slash) &&
        sameExtension(TWideString(n.substr(dot + 1)), outputExtension.view()))
        return TWideString(n.substr(0, dot + 1));
    return name + text(u".");
}

// One run of the frame loop: a name (a wildcard too), a list of names, or
// standard input.
int runOnce(RunSettings settings, RunInput& input, const FrameCodec& codec, const WindowSystem& windows) {
    RunNames& names = input.names;
    // Every run needs the record: its graphics window holds the picture buffer.
    TWnd record;
    record.create();
    names.outputExtension = outputExtensionFor(settings);

    const bool listed = names.listed;
    TSpisokStrok list(names.wildcard || listed ? 500000 : 1, 8);
    if (listed) {
        for (const TWideString& row : input.rows)
            if (!list.append(row.view()))
                return fail(text(u"Не достаточно памяти для загрузки файл(-а,-ов):\r") + row, 1);
    } else if (int code = buildFileList(names, list)) {
        return code;
    }

    if (int code = finalizeSettings(settings, names)) return code;
    record.codec.legacyFlags = settings.legacyFlags;

    if (!settings.outputName.empty()) {
        if (settings.runMode == 0) {
            ui::showWarning(text(u"Параметр пропущен: при просмотре файлы не записываются: -o=") + settings.outputName);
        } else if (settings.outputName.view() == u"-") {
            names.toStandardOutput = true;
        } else {
            names.outputStem = outputStemOf(settings.outputName, names.outputExtension);
        }
    }
    if (names.toStandardOutput && isatty(STDOUT_FILENO) == 1)
        return fail(text(u"Двоичные данные не выводятся в терминал: укажите -o=ИМЯ или перенаправьте вывод."), 3);

    // Only the runs that show frames open a display connection; a run that
    // writes files shows them only without a terminal, or when asked.
    const bool showsFrames = names.wildcard || settings.runMode <= 0 || settings.conversion == 2 || settings.showWindow;
    const bool quietInTerminal =
        settings.runMode != 0 && !settings.showWindow && (windows.fromTerminal ? windows.fromTerminal() : hasTerminal());
    std::unique_ptr<ViewerWindow> viewer;
    if (windows.openViewer && showsFrames && !quietInTerminal) viewer = windows.openViewer(record);
    record.window = viewer.get();
    const TWideString runName = names.standardInput   ? text(u"-")
                                : names.extension.empty() ? names.base
                                                          : names.stem + names.extension;
    if (settings.runMode == 0) {
        // Viewing needs a window; without one the run ends instead of waiting for a click that cannot come.
        if (!record.window) return fail(text(u"Не удаётся открыть окно просмотра:\r") + runName, 1);
        // Only the viewer measures pictures against the real display.
        record.codec.screen = record.window->displaySize();
    }
    TWideString title = record.window ? record.window->title() : TWideString();
    if (!title.empty()) record.window->setTitle(runName + text(u" - ") + title);

    FrameLoopInput loop;
    loop.record = &record;
    loop.settings = &settings;
    loop.names = &names;
    loop.list = &list;
    loop.windowTitle = title;
    loop.groupFlag = settings.grouping >= 1;
    loop.codec = codec;
    loop.spool = input.spool;
    return runFrameLoop(loop);
}

// Standard input as the run's one name.
int runStandardInput(const RunSettings& settings, const FrameCodec& codec, const WindowSystem& windows) {
    if (isatty(STDIN_FILENO) == 1)
        return fail(text(u"Стандартный ввод - терминал: передайте данные через канал или назовите файл."), 3);
    InputSpool spool;
    if (!spool.fill(STDIN_FILENO))
        return fail(text(u"Не удаётся загрузить файл:\r-") + systemErrorLine(platform::lastError()), 1);
    if (spool.kind() == InputSpool::Kind::Empty)
        return fail(text(u"Не удаётся загрузить файл:\r-\rСтандартный ввод пуст."), 1);

    RunInput input;
    input.spool = &spool;
    RunNames& names = input.names;
    names.listed = true;
    names.standardInput = true;
    names.stem = text(u"-.");
    names.base = text(u"-");
    if (spool.kind() == InputSpool::Kind::Vx) {
        names.extension = text(u"vx");
        input.rows.push_back(spool.path());
    } else {
        // Pictures: the loop takes each one out of the stream as it comes to it.
        names.extension = text(u"bmp");
        names.wildcard = spool.pictures() > 1;
        for (std::uint32_t i = 0; i < spool.pictures(); ++i) input.rows.push_back(spool.path());
    }
    names.groupBase = names.stem;
    // What comes from a pipe goes to a pipe, unless "-o" names a file.
    RunSettings run = settings;
    if (run.outputName.empty() && outputExtensionFor(run).length() > 0) run.outputName = text(u"-");
    return runOnce(run, input, codec, windows);
}

// Names given one by one that go through one list: grouped into one file,
// or viewed one after another. A wildcard among them adds what it matches.
int runList(const RunSettings& settings, const std::vector<TWideString>& given, const FrameCodec& codec,
            const WindowSystem& windows) {
    RunInput input;
    RunNames& names = input.names;
    const RunNames first = splitFileName(given.front());
    names.listed = true;
    names.wildcard = true;
    names.base = first.folder + first.base;
    names.stem = names.base + text(u".");
    names.extension = first.extension;
    names.groupBase = names.stem;
    const bool pictures = isPictureExtension(first.extension);
    for (const TWideString& name : given) {
        RunNames one = splitFileName(name);
        if (isPictureExtension(one.extension) != pictures)
            return fail(text(u"Файлы .vx и рисунки не объединяются в один файл:\r") + name, 2);
        if (!one.wildcard) {
            input.rows.push_back(name);
            continue;
        }
        TSpisokStrok matched(500000, 8);
        if (int code = buildFileList(one, matched)) return code;
        for (std::uint32_t i = 0; i < matched.rows; ++i)
            input.rows.push_back(one.folder + inputStem(matched.text(i)) + one.extension);
    }
    return runOnce(settings, input, codec, windows);
}

} // namespace

int entryRoutine(int argc, char** argv, const FrameCodec& codec, const WindowSystem& windows) {
    resetFloatingPoint();
    setCommandArguments(argc, argv);

    std::vector<TWideString> given;
    // A viewing run (which stays a viewing run whatever the final settings
    // say) shows its messages and progress in windows; every other run on
    // the console.
    const RunSettings firstLook = parseCommandLine(given, false);
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
    RunSettings settings = parseCommandLine(given);
    if (settings.allKeyframes) settings.frameRate = -settings.frameRate;
    // An empty name among others names nothing.
    if (given.size() > 1) std::erase_if(given, [](const TWideString& name) { return name.empty(); });

    if (given.empty() || given.front().empty() || settings.showHelp) {
        RunNames names;
        names.base = text(u"vp");
        names.extension = text(u"bmp");
        names.stem = text(u"vp.");
        setWildcardParts(names);
        if (settings.showHelp || !fileExists(names.folder + names.stem + names.extension)) {
            showUsageText();
            return 3;
        }
        given.assign(1, names.stem + names.extension);
    }
    // The GPU library only ever draws for the viewer.
    bindPixSpray(programFolderString().view(), settings.runMode == 0 && settings.grouping == 0);

    const bool standardInput = std::any_of(given.begin(), given.end(), [](const TWideString& name) { return name.view() == u"-"; });
    if (standardInput && given.size() > 1)
        return fail(text(u"Стандартный ввод (-) читается только как единственное имя файла."), 3);
    if (standardInput) return runStandardInput(settings, codec, windows);
    if (given.size() == 1) {
        RunInput input;
        input.names = splitFileName(given.front());
        return runOnce(settings, input, codec, windows);
    }

    // Several names: one list when they are grouped into one file or
    // viewed; otherwise each is a run of its own, and a failure does not
    // stop the names after it. The exit code is the first failure's.
    const bool viewing = settings.runMode == 0 && settings.grouping == 0;
    if (settings.grouping >= 1 || viewing) {
        // Grouping refuses names of two kinds (runList says so); viewing shows each kind in a run of its own.
        const bool pictures = isPictureExtension(splitFileName(given.front()).extension);
        const bool sameKind = std::all_of(given.begin(), given.end(), [pictures](const TWideString& name) {
            return isPictureExtension(splitFileName(name).extension) == pictures;
        });
        if (!viewing || sameKind) return runList(settings, given, codec, windows);
    }
    if (!settings.outputName.empty() && (settings.runMode != 0 || settings.grouping != 0))
        return fail(text(u"Параметр -o задаёт имя результата только для одного входного файла."), 3);
    int result = 0;
    for (const TWideString& name : given) {
        RunInput input;
        input.names = splitFileName(name);
        const int code = runOnce(settings, input, codec, windows);
        if (result == 0) result = code;
        // A signal stops the run as a whole.
        if (platform::stopSignal()) break;
    }
    return result;
}

} // namespace vexel
