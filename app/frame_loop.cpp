#include "app/frame_loop.h"

#include "app/bitmap.h"
#include "app/frame_progress.h"
#include "app/pacing.h"
#include "base/dialogs.h"
#include "base/dlitelnostintervalavremeni.h"
#include "base/informaciyaprocessora.h"
#include "base/matematicheskieoperacii.h"
#include "base/memdiag.h"
#include "base/operaciispamyatyu.h"
#include "base/sistemniesoobzheniya.h"
#include "codec/container.h"
#include "pipeline/pixspray_binding.h"
#include "pipeline/record_file.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/utf.h"
#include "ui/toknosoobzheniy.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace vexel {

namespace {

TWideString text(const char16_t* s) { return TWideString(s); }

int fail(const TWideString& message, int code) {
    ui::showMessage(message);
    return code;
}

bool namesAnInput(const TWideString& name, const TSpisokStrok& list) {
    for (std::uint32_t i = 0; i < list.rows; ++i)
        if (list.text(i) == name.view()) return true;
    return false;
}

// True when folder + name is one of the run's inputs.
bool outputIsAnInput(const TWideString& output, const RunNames& names, const TSpisokStrok& list) {
    if (!names.wildcard) return output == names.folder + names.stem + names.extension;
    const std::u16string_view folder = names.folder.view();
    if (output.view().substr(0, folder.size()) != folder) return false;
    return namesAnInput(TWideString(output.view().substr(folder.size())), list);
}

// A resized video frame is only what is written and shown: the frame as
// decoded stays the reference for the next frame's kept blocks. It is kept
// here (a copy of its planes, or a reference to its surface) while the
// resized picture is in the record, and put back before the next record.
class DecodedFrame {
public:
    ~DecodedFrame() { forget(); }
    // False when its copy cannot be had.
    bool keep(TWnd& record) {
        forget();
        header_ = record.picture.infoHeader;
        if (record.picture.pictureInPlanes()) {
            const TPicturePlanes& from = record.picture.planes;
            if (!planes_.allocate(from.width(), from.height())) return false;
            std::memcpy(planes_.data(), from.data(), 3 * from.planeSize());
        } else if (record.graphicsWindow) {
            surface_ = record.graphicsWindow->referenceOffScreen();
            std::int32_t h = 0, w = 0;
            record.graphicsWindow->PictureSize(h, w);
            width_ = w;
            height_ = h;
            border_ = record.graphicsWindow->border();
            displayMemory_ = record.graphicsWindow->surfaceInDisplayMemory();
        }
        held_ = true;
        return true;
    }
    void restore(TWnd& record) {
        if (!held_) return;
        if (!planes_.empty()) {
            record.picture.planes.swap(planes_);
        } else {
            record.picture.planes.reset();
            if (surface_ && record.graphicsWindow) {
                record.graphicsWindow->installSurface(surface_, width_, height_, border_, displayMemory_);
                surface_ = nullptr;
            }
        }
        record.picture.infoHeader = header_;
        forget();
    }

private:
    void forget() {
        planes_.reset();
        if (surface_) surface_->release();
        surface_ = nullptr;
        held_ = false;
    }
    bool held_ = false;
    TPicturePlanes planes_;
    TSurface* surface_ = nullptr;
    std::int32_t width_ = 0, height_ = 0, border_ = 0;
    bool displayMemory_ = false;
    BitmapInfoHeader header_;
};

// The records of a .vx file, by following their links; 0 when it cannot be read.
std::uint64_t recordCount(const TWideString& path) {
    platform::File file;
    if (!file.open(path.view(), platform::OpenMode::ReadExisting)) return 0;
    std::uint64_t count = 0;
    for (std::uint64_t at = 0;;) {
        RecordHeader h;
        if (readRecordHeader(file, at, h) != kDone) return count;
        ++count;
        if (h.nextRecord == 0) return count;
        at = h.nextRecord;
    }
}

// Everything one run of the loop keeps from pass to pass.
class FrameLoop {
public:
    explicit FrameLoop(FrameLoopInput& in)
        : record_(*in.record), codec_(in.codec), s_(*in.settings), names_(*in.names), list_(*in.list), title_(in.windowTitle),
          groupFlag_(in.groupFlag), titlePrefix_(in.windowTitle.empty()
                                                     ? TWideString()
                                                     : runName(*in.names) + text(u" - ") + in.windowTitle),
          spool_(in.spool) {
        if (s_.grouping > 0) groupStem_ = names_.outputStem.empty() ? groupedStem(names_, list_) : names_.outputStem;
        record_.picture.surfaceWanted = shows();
    }

    int run() {
        startProgress();
        int code = passes();
        if (names_.toStandardOutput) {
            // Whatever stops the run, the whole records go out.
            if (!toStandardOutput_.releaseAll() && code == 0)
                code = fail(text(u"Не удаётся записать файл:\r-") + systemErrorLine(platform::lastError()), 2);
        } else if (code == 0) {
            // A finished grouped output replaces its target now.
            const TWideString target = grouped_.target;
            if (grouped_.finish() < 1)
                code = fail(text(u"Не удаётся запаковать файл:\r") + shownName(target) + systemErrorLine(platform::lastError()), 2);
        } else {
            reportStop();
        }
        return code;
    }

private:
    // A path as messages show it: without the run's folder; standard input
    // and output as "-".
    TWideString shownName(const TWideString& path) const {
        if ((spool_ && path.view().starts_with(u"/proc/self/fd/")) || (names_.toStandardOutput && path.view() == u"-"))
            return text(u"-");
        const std::u16string_view folder = names_.folder.view();
        if (!folder.empty() && path.view().substr(0, folder.size()) == folder)
            return TWideString(path.view().substr(folder.size()));
        return path;
    }

    // The run's name as messages show it: its file name, "-" for standard input.
    static TWideString runName(const RunNames& names) {
        if (names.standardInput) return text(u"-");
        // A name without an extension is shown as it was given, without the stem's ".".
        return names.extension.empty() ? names.folder + names.base : names.stem + names.extension;
    }

    // Why a file whose record was refused is no .vx file a newer program
    // could read: it does not begin as a record does, or it ends inside the
    // record's header. Empty when it looks like a real record of another
    // version.
    TWideString whyNotAVxRecord(const TWideString& path) const {
        platform::File file;
        if (!file.open(path.view(), platform::OpenMode::ReadExisting)) return systemErrorLine(platform::lastError());
        const std::uint64_t at = lastRecordStart_;
        std::uint8_t head[kRecordHeaderLimit] = {};
        const std::int64_t size = file.size();
        std::int64_t got = file.seek(at) ? file.read(head, sizeof head) : -1;
        if (got < 0) return systemErrorLine(platform::lastError());
        const std::span<const std::uint8_t> bytes(head, static_cast<std::size_t>(got));
        if (!hasRecordMagic(bytes)) return text(u"\rЭто не файл .vx.");
        const std::uint64_t headerSize =
            got >= static_cast<std::int64_t>(kHeaderSizeOffset + 4) ? loadU32(head + kHeaderSizeOffset) : kMinHeaderSize;
        if (got < static_cast<std::int64_t>(kMinHeaderSize) || static_cast<std::uint64_t>(size) < at + headerSize)
            return text(u"\rФайл обрывается внутри записи.");
        return TWideString();
    }

    // Why a picture file did not load, as a line of its own: the system's reason
    // for a file that cannot be opened, else what the program refuses.
    static TWideString whyNotLoaded(int result) {
        switch (result) {
        case kBitmapCannotOpen: return systemErrorLine(platform::lastError());
        case kBitmapShort: return text(u"\rФайл короче, чем сказано в его заголовках.");
        case kBitmapNotBitmap: return text(u"\rЭто не файл .bmp, .png или .jpg.");
        case kBitmapBits: return text(u"\rЧитаются файлы .bmp с 1, 4, 8, 16, 24 и 32 битами на точку.");
        case kBitmapCompressed: return text(u"\rСжатые файлы .bmp не поддерживаются.");
        case kBitmapRle8: return text(u"\rСжатые файлы .bmp (RLE8) не поддерживаются.");
        case kBitmapRle4: return text(u"\rСжатые файлы .bmp (RLE4) не поддерживаются.");
        case kPngDamaged: return text(u"\rФайл .png повреждён или обрезан.");
        case kJpegDamaged: return text(u"\rФайл .jpg повреждён или обрезан.");
        case kJpegCmyk: return text(u"\rФайлы .jpg в цветах CMYK не читаются.");
        case kBitmapPlanes:
        case kBitmapBadHeader:
        case kBitmapDataTooSmall: return text(u"\rЗаголовок файла .bmp неправильный.");
        default: return TWideString();
        }
    }


    // A run that stops before its end (a signal or a failure) says what
    // became of the grouped output it was writing.
    void reportStop() {
        const TWideString target = grouped_.target;
        const std::uint64_t records = grouped_.records;
        const TWideString count = TWideString(std::u16string_view(platform::utf8ToUtf16(std::to_string(records))));
        switch (grouped_.stop()) {
        case GroupedOutput::Stopped::Nothing: break;
        case GroupedOutput::Stopped::Written:
            ui::showMessage(text(u"Запись прервана. Записано кадров: ") + count + text(u", в файл:\r") +
                            shownName(target));
            break;
        case GroupedOutput::Stopped::TargetKept:
            ui::showMessage(text(u"Запись прервана. Файл оставлен без изменений:\r") + shownName(target) +
                            text(u"\rЗапакованные кадры (") + count + text(u") не сохранены."));
            break;
        case GroupedOutput::Stopped::Failed:
            ui::showMessage(text(u"Запись прервана. Не удаётся записать файл:\r") + shownName(target) +
                            systemErrorLine(platform::lastError()));
            break;
        }
    }

    int passes() {
        for (;;) {
            while (index_ < list_.rows) {
                int code = pass();
                if (code >= 0) return code;
                if (stop_) break;
                // SIGINT or SIGTERM: a viewer closes; a run that writes files
                // stops after the frame it was working on.
                if (const int signal = platform::stopSignal()) {
                    if (s_.runMode != 0) return 128 + signal;
                    closed_ = true;
                    break;
                }
            }
            if (s_.runMode != 0 || !record_.window || stop_ || closed_ || !waitAtEnd()) break;
        }
        return endOfRun();
    }

    // One pass; -1 to go on, else the exit code of a failure.
    int pass() {
        PassNames n = namesOfPass();
        bool parallel = false;
        // A run never writes over one of its own inputs (a grouped output is
        // created empty before its first frame is read).
        if (s_.runMode != 0 && !names_.toStandardOutput && outputIsAnInput(n.output, names_, list_))
            return fail(text(u"Выходной файл совпадает с одним из входных:\r") +
                            TWideString(n.output.view().substr(names_.folder.length())),
                        s_.runMode >= 1 ? 2 : 1);

        if (isPictureExtension(names_.extension)) {
            if (firstPass_ && s_.runMode >= 1 && s_.threadCount >= 2 && processorCount() >= 2)
                record_.picture.planesWanted = true;
            if (!record_.frameDropped) {
                if (spool_ && !spool_->takePicture(index_, n.input))
                    return fail(text(u"Не удаётся загрузить файл:\r-") + systemErrorLine(platform::lastError()), 1);
                const int r = loadBitmap(record_, n.input, true);
                if (r < 1)
                    return fail(text(u"Не удаётся загрузить файл:\r") + shownName(n.input) + whyNotLoaded(r), 1);
            }
            shownRow_ = index_;
        } else {
            const TWideString cannotUnpack = text(u"Не удаётся распаковать файл:\r") + runName(names_);
            if (!sameExtension(names_.extension, u"vx")) {
                // Say what is wrong with the name: a folder, or a file the program does not read.
                if (platform::isFolder(n.input.view()) ||
                    (names_.extension.empty() && platform::isFolder((names_.folder + names_.base).view())))
                    return fail(cannotUnpack + systemErrorLine(EISDIR), 2);
                return fail(cannotUnpack + text(u"\rЭто не рисунок (.bmp, .png, .jpg) и не файл .vx."), 2);
            }
            if (index_ != placesRow_) {
                forgetPlaces();
                // A file that cannot be opened says why, as a bitmap does.
                platform::File file;
                if (!file.open(n.input.view(), platform::OpenMode::ReadExisting))
                    return fail(cannotUnpack + systemErrorLine(platform::lastError()), 2);
            }
            const bool seeking = seeking_;
            int r = seeking ? catchUp(n.input) : 1;
            if (r >= 1) r = unpackNext(n.input, reopened_);
            if (s_.paintMode == 0 && s_.runMode == 0 && (names_.wildcard || framesLeft_ > 0)) s_.paintMode = 1;
            if (firstPass_ && s_.runMode >= 1 && s_.threadCount >= 2 && processorCount() >= 2) {
                record_.picture.planesWanted = true;
                parallel = true;
            }
            if (firstPass_ && (s_.grouping >= 1 || names_.wildcard || framesLeft_ > 0)) groupFlag_ = true;
            if (r >= 1 && !seeking && (parallel || (!reopened_ && s_.frameRate > 0 && framesLeft_ > 0))) {
                // Read the first record again: into the planes, or through the cache for playback.
                reopened_ = true;
                framesLeft_ = 0;
                nextRecord_ = 0;
                clearDecompressionStatusText();
                r = unpackNext(n.input, true);
            }
            shownRow_ = index_;
            if (r == -2) {
                // Only a real .vx file of a newer version asks for a newer program.
                const TWideString why = whyNotAVxRecord(n.input);
                if (!why.empty()) return fail(cannotUnpack + why, 2);
                return fail(text(u"Для распаковки файла:\r") + runName(names_) +
                                text(u"\rнеобходимо обновить программу."),
                            2);
            }
            if (r < 1) return fail(cannotUnpack, 2);
        }

        TWideString passTitle = titleOfPass();
        if (firstPass_) frameInterval_ = s_.frameRate > 0 ? 1 / s_.frameRate : 0;

        if (record_.frameDropped) {
            ++dropped_;
            ++droppedInAll_;
            countdown_ = 0;
        } else {
            if (s_.resizeWidth > 0) {
                if (!isPictureExtension(names_.extension) && !decoded_.keep(record_))
                    return fail(text(u"Не достаточно памяти для загрузки файл(-а,-ов):\r") + runName(names_), 1);
                int r = resizePicture(record_, roundToInt(s_.resizeWidth), s_.runMode == 0);
                if (r == kResizeBadSize) return fail(text(u"Число выходит за допустимый диапазон значений."), 1);
                if (r == kResizeNoMemory)
                    return fail(text(u"Не достаточно памяти для загрузки файл(-а,-ов):\r") + runName(names_), 1);
            }
            if (s_.runMode >= 1) {
                fileError_ = 0;
                if (const Result packed = pack(n.output); packed < 1) {
                    if (packed.reason() == Reason::UnknownMode)
                        return fail(text(u"Не удаётся запаковать файл:\r") + shownName(n.output) + text(u"\rРежим сжатия ") +
                                        TWideString(std::u16string_view(platform::utf8ToUtf16(std::to_string(s_.codecMode)))) +
                                        text(u" не существует: режимы - от 1 до 9."),
                                    2);
                    return fail(text(u"Не удаётся запаковать файл:\r") + shownName(n.output) + systemErrorLine(fileError_), 2);
                }
            } else if (s_.runMode == -1) {
                if ((names_.toStandardOutput ? writeBitmapTo(record_, STDOUT_FILENO) : writeBitmap(record_, n.output)) < 1)
                    return fail(text(u"Не удаётся записать файл:\r") + shownName(n.output) + systemErrorLine(platform::lastError()), 1);
            }
        }

        if (shows()) display(passTitle);
        // Decisions taken on the first pass stay for the run.
        firstPass_ = false;

        if (!record_.frameDropped) ++shown_;
        lastPassTime_ = clockNow();
        if (progress_) progress_->frameDone();
        if (framesLeft_ == 0) ++index_;
        ++pass_;
        if (s_.runMode == 0) afterShown();
        else record_.frameRequest = FrameRequest::None; // a run that writes files goes through every frame once
        return -1;
    }

    // ------------------------------------------------ going to other frames
    //
    // A viewer also goes back, to the first and to the last frame, and loops.
    // Bitmaps of a list stand alone: another one is simply loaded. A record
    // of a .vx file may take blocks from the frame before it, so another
    // record is reached from the nearest keyframe at or before it (or from
    // the frame the picture holds, when that lies on the way), decoding
    // every record from there to it. The records of the file shown are
    // learnt as they are read: where each starts and whether it is a
    // keyframe; the first record is the start of every chain.

    enum class KeyState : std::uint8_t { Unknown, Keyframe, Dependent };
    struct Place {
        std::uint64_t offset = 0;
        KeyState state = KeyState::Unknown;
    };

    bool showsBitmaps() const { return isPictureExtension(names_.extension); }

    void forgetPlaces() {
        places_.clear();
        placesComplete_ = false;
        placesRow_ = index_;
        nextRecord_ = 0;
        shownRecord_ = 0;
        decodedRecord_ = -1;
    }

    // Reads the record at framesLeft_ (record number nextRecord_) and notes
    // what it learnt of it.
    int unpackNext(const TWideString& path, bool reopen) {
        const std::uint64_t at = framesLeft_, number = nextRecord_;
        lastRecordStart_ = at;
        const int r = unpack(path, reopen);
        if (r < 1) return r;
        if (number == places_.size()) places_.push_back(Place{at, KeyState::Unknown});
        if (number < places_.size() && lastRead_.decoded) {
            places_[number].state = lastRead_.reusesPrevious ? KeyState::Dependent : KeyState::Keyframe;
            decodedRecord_ = static_cast<std::int64_t>(number);
        }
        if (framesLeft_ == 0) placesComplete_ = places_.size() == number + 1;
        shownRecord_ = number;
        nextRecord_ = framesLeft_ == 0 ? 0 : number + 1;
        return r;
    }

    // Decodes the records before the one asked for, and leaves framesLeft_ at it.
    int catchUp(const TWideString& path) {
        seeking_ = false;
        const std::uint64_t target = seekTarget_;
        std::uint64_t from = target;
        while (from > 0 && places_[from].state != KeyState::Keyframe) --from;
        if (decodedRecord_ >= 0 && static_cast<std::uint64_t>(decodedRecord_) >= from &&
            static_cast<std::uint64_t>(decodedRecord_) < target)
            from = static_cast<std::uint64_t>(decodedRecord_) + 1;
        for (std::uint64_t k = from; k < target; ++k) {
            framesLeft_ = places_[k].offset;
            nextRecord_ = k;
            if (const int r = unpackNext(path, reopened_); r < 1) return r;
        }
        framesLeft_ = places_[target].offset;
        nextRecord_ = target;
        // The records decoded on the way are no frame intervals.
        resetDecompressionTiming(clockNow());
        return 1;
    }

    // The records of the file shown up to its last, by their links (the
    // records past those read so far are not yet known as keyframes).
    void learnLastRecord() {
        if (placesComplete_ || places_.empty()) return;
        platform::File file;
        const TWideString path = inputPath(placesRow_);
        if (!file.open(path.view(), platform::OpenMode::ReadExisting)) return;
        RecordHeader h;
        if (readRecordHeader(file, places_.back().offset, h) != kDone) return;
        while (h.nextRecord != 0) {
            const std::uint64_t at = h.nextRecord;
            if (readRecordHeader(file, at, h) != kDone) return;
            places_.push_back(Place{at, KeyState::Unknown});
        }
        placesComplete_ = true;
    }

    // The frame on screen: its list row (bitmaps) or its record.
    std::uint64_t shownPosition() const { return showsBitmaps() ? shownRow_ : shownRecord_; }

    // The row (bitmaps) or the record (a .vx file, within the file shown) a
    // request asks for. Bitmaps of a list are gone through as the frames of
    // a video; stepping back from the first frame goes to the last only
    // when looping.
    std::uint64_t requestedPosition(FrameRequest request) {
        std::uint64_t last = 0;
        if (showsBitmaps()) {
            last = list_.rows > 0 ? list_.rows - 1 : 0;
        } else if (request == FrameRequest::Last || (request == FrameRequest::Previous && shownRecord_ == 0 && record_.looping)) {
            learnLastRecord();
            last = places_.empty() ? 0 : places_.size() - 1;
        }
        const std::uint64_t shown = shownPosition();
        switch (request) {
        case FrameRequest::None: break;
        case FrameRequest::Previous: return shown > 0 ? shown - 1 : record_.looping ? last : 0;
        case FrameRequest::First: return 0;
        case FrameRequest::Last: return last;
        }
        return shown;
    }

    // The next pass shows the frame at position (see requestedPosition).
    void goTo(std::uint64_t position) {
        framesLeft_ = 0;
        if (showsBitmaps()) {
            index_ = static_cast<std::uint32_t>(position);
            return;
        }
        index_ = shownRow_;
        seeking_ = true;
        seekTarget_ = position;
    }

    // More than one frame to loop through.
    bool loopable() const { return list_.rows > 1 || (!showsBitmaps() && places_.size() > 1); }

    void goToTheFirstFrame() {
        index_ = 0;
        framesLeft_ = 0;
        nextRecord_ = 0;
    }

    // After a viewer's frame: the frame asked for, or past the last frame
    // of a loop, the first.
    void afterShown() {
        const FrameRequest request = std::exchange(record_.frameRequest, FrameRequest::None);
        if (stop_) return;
        if (request != FrameRequest::None) goTo(requestedPosition(request));
        else if (record_.looping && index_ >= list_.rows && loopable()) goToTheFirstFrame();
    }

    // The viewer after its last frame stays until it is closed; a key that
    // asks for a frame, or a step with looping on, takes it back to its
    // frames (true). A run that showed no frame (a wildcard matching
    // nothing) shows the empty window first.
    bool waitAtEnd() {
        if (!shownOnce_) record_.window->showMaximized();
        if (report_) std::fprintf(stderr, "vexel: no frame left, waiting to close\n");
        for (;;) {
            if (record_.window->waitForQuit() == 0) {
                closed_ = true;
                return false;
            }
            const FrameRequest request = std::exchange(record_.frameRequest, FrameRequest::None);
            if (!shownOnce_ || list_.rows == 0) continue;
            if (request != FrameRequest::None) {
                goTo(requestedPosition(request));
                return true;
            }
            if (record_.looping && loopable()) {
                goToTheFirstFrame();
                return true;
            }
        }
    }

    // Whether the run shows its frames in the window.
    bool shows() const {
        return record_.window && (names_.wildcard || s_.runMode <= 0 || s_.conversion == 2 || s_.showWindow);
    }

    struct PassNames {
        TWideString input, output;
    };

    // The path of list row index: the row itself for names given one by
    // one, else the row's stem (or the run's) with the run's folder and
    // extension.
    TWideString inputPath(std::uint32_t index) const {
        if (names_.listed) return TWideString(list_.text(index));
        return names_.folder + (names_.wildcard ? inputStem(list_.text(index)) : names_.stem) + names_.extension;
    }

    PassNames namesOfPass() {
        const TWideString input = inputPath(index_);
        // The output's stem: the input's, or the one "-o" gives, which
        // carries no folder of the run's.
        const bool named = !names_.outputStem.empty();
        TWideString x = named ? names_.outputStem : names_.wildcard ? inputStem(list_.text(index_)) : names_.stem;
        TWideString y;
        if (s_.grouping < 0) y = numberedStem(x, pass_);
        else if (s_.grouping > 0) y = groupStem_;
        else if (s_.conversion == 0 || named) y = x;
        else y = withoutLastDot(x) + text(u"_converted.");
        if (names_.wildcard && !title_.empty() && !spool_)
            titlePrefix_ = (names_.listed ? input : inputStem(list_.text(index_)) + names_.extension) + text(u" - ") + title_;
        if (names_.toStandardOutput) return {input, text(u"-")};
        return {input, (named || names_.listed ? TWideString() : names_.folder) + y + names_.outputExtension};
    }

    TWideString titleOfPass() {
        TWideString t = titlePrefix_;
        TWideString status = decompressionStatusText();
        if (!status.empty()) t = t + text(u" ") + status;
        if (dropped_ >= 1) {
            if (countdown_ == 0) {
                t = t + text(u" (dropped frames count: ") + TWideString(std::u16string_view(decimal(dropped_))) +
                    text(u")");
                countdown_ = 1;
            } else if (static_cast<double>(countdown_) > std::fabs(3 * s_.frameRate)) {
                dropped_ = 0;
                countdown_ = 0;
            } else {
                ++countdown_;
            }
        }
        return t;
    }

    static std::u16string decimal(std::uint64_t v) {
        std::string digits = std::to_string(v);
        return std::u16string(digits.begin(), digits.end());
    }

    int unpack(const TWideString& path, bool reopen) {
        decoded_.restore(record_);
        DecompressionCall call;
        RecordRead read;
        call.path = path;
        call.frameDropped = &record_.frameDropped;
        call.fastPaint = s_.paintMode >= 1;
        call.recordPosition = &framesLeft_;
        call.read = &read;
        call.conversion = s_.conversion;
        call.copy = &copied_;
        call.repack = &repack_;
        call.surfaceMemory = true;
        call.cache = reopen;
        const int result = codec_.decompressRecord(record_.codec, record_.picture, call);
        lastRead_ = read;
        // A mode, thread count or frame rate the run was not given is the record's.
        if (read.headerRead && s_.codecMode == 0) s_.codecMode = read.mode;
        if (read.headerRead && s_.frameRate == 0) s_.frameRate = read.frameRate;
        if (read.threadsKnown && s_.threadCount == 0) s_.threadCount = read.threads;
        return result;
    }

    Result pack(const TWideString& path) {
        // Each output file starts fresh with its first frame and keeps its
        // own chain of records.
        if (!(path == lastOutputPath_)) {
            lastOutputPath_ = path;
            firstFrameOfOutput_ = true;
            lastRecordOffset_ = 0;
        }
        CompressionJob job;
        job.outputPath = path;
        job.mode = s_.codecMode;
        job.optimize = s_.optimize;
        job.groupFlag = groupFlag_;
        job.firstFrame = firstFrameOfOutput_;
        job.lastRecordOffset = &lastRecordOffset_;
        job.frameRate = &s_.frameRate;
        job.conversion = s_.conversion;
        job.streamCount = static_cast<std::uint32_t>(s_.threadCount < 1 ? 1 : s_.threadCount);
        job.grouped = &grouped_;
        job.fileError = &fileError_;
        job.copy = &copied_;
        job.repack = &repack_;
        if (names_.toStandardOutput) job.memory = &toStandardOutput_;
        const Result result = codec_.compressFrame(record_.codec, record_.picture, job);
        if (result >= 1) firstFrameOfOutput_ = false;
        // A record goes out once it is complete: a grouped one once the
        // next one has linked it (or the run ends).
        if (result >= 1 && names_.toStandardOutput &&
            !toStandardOutput_.release(groupFlag_ ? lastRecordOffset_ : static_cast<std::uint64_t>(toStandardOutput_.size()))) {
            fileError_ = platform::lastError();
            return kFileError.because(Reason::CannotWrite);
        }
        return result;
    }

    void display(const TWideString& passTitle) {
        ViewerWindow& window = *record_.window;
        if (firstPass_) {
            window.showMaximized();
            shownOnce_ = true;
            record_.playbackRate = std::fabs(s_.frameRate);
            record_.toggleRequested = true;
        }
        if ((s_.runMode != 0 || pass_ % 32 == 0) && !passTitle.empty()) window.setTitle(passTitle);
        // A dropped pass leaves the picture as it was: presenting it again
        // would cost a frame's time and put playback further behind.
        if (!record_.frameDropped) window.paint();

        int quit;
        if (s_.runMode != 0 || record_.playing) {
            quit = window.drainEvents();
        } else {
            for (;;) {
                // For the window tests: the frame now on screen, and that nothing
                // but a key or a click moves it on.
                if (report_)
                    std::fprintf(stderr, "vexel: frame %llu shown, waiting\n", static_cast<unsigned long long>(pass_));
                quit = window.waitForQuit();
                // A key that asks for the frame on screen (back from the
                // first frame, Home on the first) leaves it there.
                if (quit != 1 || record_.frameRequest == FrameRequest::None ||
                    requestedPosition(record_.frameRequest) != shownPosition())
                    break;
                record_.frameRequest = FrameRequest::None;
            }
            resetDecompressionTiming(clockNow());
        }
        if (s_.frameRate == 0) record_.playing = false;
        if (quit == 0) closeWindow();

        if (record_.playing && !stop_) {
            if (playingSince_ == 0) playingSince_ = clockNow();
            if (record_.toggleRequested) {
                intervalSeconds();
                lag_ = 0;
                record_.toggleRequested = false;
            }
            lag_ += intervalSeconds() - frameInterval_;
            if (frameInterval_ > 0) {
                record_.frameDropped = dropsNextFrame(lag_, frameInterval_);
                if (waitForFrame(lag_, window, [] { return intervalSeconds(); }) == 0) closeWindow();
            }
        } else {
            // Paused: a step is never a dropped pass, whatever the pacing
            // thought of the last frame played.
            record_.frameDropped = false;
            if (lag_ != 0) {
                lag_ = 0;
                record_.toggleRequested = true;
            }
        }
        // A run that writes files writes every frame: only viewing drops any.
        if (s_.runMode != 0) record_.frameDropped = false;
    }

    void closeWindow() {
        stop_ = true;
        closed_ = true;
    }

    int endOfRun() {
        if (progress_) progress_->finish();
        if (s_.runMode == 0 && report_) reportPlayback();
        {
            std::lock_guard<std::recursive_mutex> guard(globalLock());
            destroyDecompressionFileCache();
        }
        finishDecompression(record_.codec);
        releasePixSprayMarker();
        return 0;
    }

    // A run that writes many frames shows its progress at a terminal.
    void startProgress() {
        if (s_.runMode == 0 || !console_status::available()) return;
        std::uint64_t total = 0;
        if (isPictureExtension(names_.extension)) total = list_.rows;
        else if (list_.rows == 1) total = recordCount(namesOfPass().input);
        if (total == 1) return;
        progress_ = std::make_unique<FrameProgress>(total);
    }

    // For the playback bench: what was shown and dropped while playing.
    void reportPlayback() const {
        const double seconds = playingSince_ > 0 ? static_cast<double>(lastPassTime_ - playingSince_) : 0.0;
        std::fprintf(stderr, "vexel: playback: %llu frames shown, %llu dropped, %.3f s playing\n",
                     static_cast<unsigned long long>(shown_), static_cast<unsigned long long>(droppedInAll_), seconds);
    }

    const bool report_ = std::getenv("VEXEL_PLAYBACK_REPORT") != nullptr;
    TWnd& record_;
    FrameCodec codec_;
    RunSettings& s_;
    const RunNames& names_;
    const TSpisokStrok& list_;
    TWideString title_;
    bool groupFlag_;
    TWideString titlePrefix_;
    TWideString groupStem_;

    bool firstPass_ = true;
    bool reopened_ = false;
    bool stop_ = false;
    bool closed_ = false;
    bool shownOnce_ = false;
    long double lag_ = 0;
    long double frameInterval_ = 0;
    std::uint64_t pass_ = 0;
    std::uint64_t shown_ = 0;
    std::uint32_t index_ = 0;
    std::uint64_t framesLeft_ = 0; // the next record's position; 0 when the file has no further record
    // The records of the .vx file of list row placesRow_ as far as they are
    // known, in file order; complete when the last is among them.
    std::vector<Place, TrackedAllocator<Place>> places_;
    bool placesComplete_ = false;
    std::uint32_t placesRow_ = UINT32_MAX;
    std::uint64_t nextRecord_ = 0;    // the number of the record at framesLeft_
    std::uint64_t shownRecord_ = 0;   // the number of the record read last
    std::int64_t decodedRecord_ = -1; // the record the picture holds decoded; -1 none
    std::uint32_t shownRow_ = 0;      // the list row read last
    bool seeking_ = false;            // the next pass shows record seekTarget_
    std::uint64_t seekTarget_ = 0;
    RecordRead lastRead_;
    std::uint64_t lastRecordOffset_ = 0;
    std::uint64_t lastRecordStart_ = 0; // where the record read last begins
    TWideString lastOutputPath_;
    int fileError_ = 0; // the system's reason when packing failed at a file step
    bool firstFrameOfOutput_ = true;
    std::uint64_t dropped_ = 0;
    std::uint64_t droppedInAll_ = 0;
    std::uint64_t countdown_ = 0;
    long double playingSince_ = 0; // when playing first started
    long double lastPassTime_ = 0;
    DecodedFrame decoded_;
    // A conversion's record or decoded frame, from the unpacking to the packing of each pass.
    CopiedRecord copied_;
    RepackFrame repack_;
    // The grouped output being written; one still open when the loop ends is finished then.
    GroupedOutput grouped_;
    InputSpool* spool_ = nullptr;
    StreamSink toStandardOutput_{STDOUT_FILENO};
    std::unique_ptr<FrameProgress> progress_;
};

} // namespace

TWideString inputStem(std::u16string_view row) {
    std::size_t dot = row.rfind(u'.');
    return TWideString(dot == std::u16string_view::npos ? row : row.substr(0, dot + 1));
}

TWideString withoutLastDot(const TWideString& stem) {
    std::size_t dot = stem.view().rfind(u'.');
    return dot == std::u16string_view::npos ? stem : TWideString(stem.view().substr(0, dot));
}

TWideString numberedStem(const TWideString& stem, std::uint64_t pass) {
    std::string digits = std::to_string(pass);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return withoutLastDot(stem) + TWideString(u"_") + TWideString(std::u16string(digits.begin(), digits.end())) +
           TWideString(u".");
}

TWideString groupedStem(const RunNames& names, const TSpisokStrok& list) {
    // A wildcard run groups into its base name; when that names an input the
    // run refuses before writing (see the pass).
    if (names.wildcard && !names.listed) return names.groupBase;
    // A single name groups into "name.O", or "name_grouped.O" when that is the input itself.
    TWideString stem = names.stem;
    while (namesAnInput(stem + names.outputExtension, list) || stem + names.outputExtension == names.stem + names.extension)
        stem = withoutLastDot(stem) + TWideString(u"_grouped.");
    return stem;
}

int runFrameLoop(FrameLoopInput& input) {
    FrameLoop loop(input);
    return loop.run();
}

} // namespace vexel
