// The gdk-pixbuf loader of .vx files (libpixbufloader-vexel.so), over
// libvexel's public interface alone.
//
// Every program built on gdk-pixbuf (image viewers, file managers'
// thumbnailers, GTK's image widgets) opens .vx files through it. The whole
// file is needed before anything can be painted (a record's streams are
// decoded as a whole), so the incremental path collects the bytes it is fed
// and decodes when the last one has come.
//
// A file of one record is a picture; a chain of two or more is an animation
// whose frames are decoded once, in order, when it is loaded (a frame may
// keep blocks of the one before it), and shown for 1/frame rate seconds
// each (one second when the record has no rate). Pixels are painted as
// "vexel -uc" paints a still picture. A bad or cut file gives a GError with
// the library's reason.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <vexel/vexel.h>

#include "pixbuf/loader.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// All decoded frames of an animation together may take this many bytes; a
// longer or larger clip is refused rather than exhausting memory.
constexpr std::uint64_t kMaxAnimationBytes = std::uint64_t{1} << 30;
// Shown when a record gives no frame rate.
constexpr int kDefaultDelayMs = 1000;

// Set once by a host that links the loader itself, before any load.
std::uint64_t gMaxPixels = 0;
std::uint64_t gMaxMemory = 0;

vexel_status openReader(const guint8* data, gsize size, vexel_reader** reader) {
    vexel_read_options options;
    vexel_read_options_default(&options);
    if (gMaxPixels) options.max_pixels = gMaxPixels;
    if (gMaxMemory) options.max_memory = gMaxMemory;
    return vexel_reader_open_memory(data, size, &options, reader);
}

std::uint64_t maxPixels() {
    if (gMaxPixels) return gMaxPixels;
    vexel_read_options options;
    vexel_read_options_default(&options);
    return options.max_pixels;
}

// --------------------------------------------------------------- errors

void setError(GError** error, vexel_status status, const char* what) {
    GdkPixbufError code = GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    if (status == VEXEL_ERROR_NOT_VX) code = GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    if (status == VEXEL_ERROR_NO_MEMORY) code = GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
    g_set_error(error, GDK_PIXBUF_ERROR, code, "%s: %s", what, vexel_status_string(status));
}

// ------------------------------------------------------------ the frames

// The decoded pictures of a file and how long each is shown.
struct Frames {
    GPtrArray* pixbufs = nullptr; // GdkPixbuf*, owned
    GArray* delays = nullptr;     // int milliseconds, one per frame
    int width = 0, height = 0;    // of the first frame: every frame is painted on a canvas this size
};

void clearFrames(Frames& f) {
    if (f.pixbufs) g_ptr_array_unref(f.pixbufs);
    if (f.delays) g_array_unref(f.delays);
    f = Frames{};
}

int delayOf(const vexel_record_info& info) {
    if (!(info.frame_rate > 0) || !std::isfinite(info.frame_rate)) return kDefaultDelayMs;
    const double ms = std::round(1000.0 / info.frame_rate);
    return ms < 1 ? 1 : ms > 1e6 ? 1000000 : static_cast<int>(ms);
}

// Decodes record `index` onto a new canvas of the first frame's size (a
// record of another size is drawn into its top left corner, the rest black).
GdkPixbuf* decodeFrame(vexel_reader* reader, std::size_t index, const vexel_record_info& info, int width, int height,
                       GError** error) {
    const bool sameSize = info.width == static_cast<std::uint32_t>(width) &&
                          info.height == static_cast<std::uint32_t>(height);
    // The record's claimed size is checked before its picture is allocated.
    if (std::uint64_t{info.width} * info.height > maxPixels()) {
        setError(error, VEXEL_ERROR_TOO_LARGE, "the .vx picture cannot be read");
        return nullptr;
    }
    GdkPixbuf* canvas = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (!canvas) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "no memory for a picture of %d x %d pixels", width, height);
        return nullptr;
    }
    guchar* pixels = gdk_pixbuf_get_pixels(canvas);
    const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(canvas));
    if (sameSize) {
        // gdk-pixbuf's last row is not padded to the stride.
        const std::size_t size = stride * (height - 1) + std::size_t{3} * width;
        const vexel_status status = vexel_reader_decode(reader, index, VEXEL_PIXELS_RGB, pixels, stride, size);
        if (status != VEXEL_OK) {
            setError(error, status, "the .vx picture does not decode");
            g_object_unref(canvas);
            return nullptr;
        }
        return canvas;
    }
    // The record's own picture first, then its overlap with the canvas.
    gdk_pixbuf_fill(canvas, 0x000000ff);
    GdkPixbuf* own = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, static_cast<int>(info.width),
                                    static_cast<int>(info.height));
    if (!own) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "no memory for a picture of %u x %u pixels", info.width, info.height);
        g_object_unref(canvas);
        return nullptr;
    }
    const std::size_t ownStride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(own));
    const std::size_t ownSize = ownStride * (info.height - 1) + std::size_t{3} * info.width;
    const vexel_status status =
        vexel_reader_decode(reader, index, VEXEL_PIXELS_RGB, gdk_pixbuf_get_pixels(own), ownStride, ownSize);
    if (status != VEXEL_OK) {
        setError(error, status, "the .vx frame does not decode");
        g_object_unref(own);
        g_object_unref(canvas);
        return nullptr;
    }
    gdk_pixbuf_copy_area(own, 0, 0, MIN(width, static_cast<int>(info.width)),
                         MIN(height, static_cast<int>(info.height)), canvas, 0, 0);
    g_object_unref(own);
    return canvas;
}

// Decodes the file in `data`: only its first record when `firstOnly`,
// otherwise every record, in order. False with *error set when the file is
// not a .vx file, a record does not decode, or the frames would not fit in
// memory.
bool decodeFrames(const guint8* data, gsize size, bool firstOnly, Frames& out, GError** error) {
    vexel_reader* reader = nullptr;
    vexel_status status = openReader(data, size, &reader);
    if (status != VEXEL_OK) {
        setError(error, status, "not a readable .vx file");
        return false;
    }
    std::size_t count = 0;
    vexel_record_info first{};
    if ((status = vexel_reader_record_count(reader, &count)) != VEXEL_OK ||
        (status = vexel_reader_record_info(reader, 0, &first)) != VEXEL_OK) {
        setError(error, status, "not a readable .vx file");
        vexel_reader_close(reader);
        return false;
    }
    if (firstOnly) count = 1;
    if (first.width == 0 || first.height == 0 || first.width > G_MAXINT / 4 || first.height > G_MAXINT / 4) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "a .vx picture of %u x %u pixels",
                    first.width, first.height);
        vexel_reader_close(reader);
        return false;
    }
    if (std::uint64_t{first.width} * first.height > maxPixels()) {
        setError(error, VEXEL_ERROR_TOO_LARGE, "the .vx picture cannot be read");
        vexel_reader_close(reader);
        return false;
    }
    const std::uint64_t frameBytes = std::uint64_t{first.width} * first.height * 3;
    if (count > 1 && count > kMaxAnimationBytes / frameBytes) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "%zu frames of %u x %u pixels are too many to hold", count, first.width, first.height);
        vexel_reader_close(reader);
        return false;
    }
    Frames f;
    f.width = static_cast<int>(first.width);
    f.height = static_cast<int>(first.height);
    f.pixbufs = g_ptr_array_new_with_free_func(g_object_unref);
    f.delays = g_array_new(FALSE, FALSE, sizeof(int));
    for (std::size_t i = 0; i < count; ++i) {
        vexel_record_info info{};
        if ((status = vexel_reader_record_info(reader, i, &info)) != VEXEL_OK) {
            setError(error, status, "a .vx record cannot be read");
            break;
        }
        // Forward one record at a time: the reader decodes each once.
        GdkPixbuf* pixbuf = decodeFrame(reader, i, info, f.width, f.height, error);
        if (!pixbuf) {
            status = VEXEL_ERROR_CORRUPT;
            break;
        }
        g_ptr_array_add(f.pixbufs, pixbuf);
        const int delay = delayOf(info);
        g_array_append_val(f.delays, delay);
    }
    vexel_reader_close(reader);
    if (status != VEXEL_OK) {
        clearFrames(f);
        return false;
    }
    out = f;
    return true;
}

// Every byte of the stream, or false with *error set.
bool readAll(FILE* file, GByteArray* into, GError** error) {
    guint8 chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, file);
        if (n > 0) g_byte_array_append(into, chunk, static_cast<guint>(n));
        if (n < sizeof chunk) break;
    }
    if (std::ferror(file)) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "the .vx file cannot be read: %s",
                    g_strerror(errno));
        return false;
    }
    return true;
}

} // namespace

// ------------------------------------------------------------ animation

// A clip of two or more frames, looping.
struct VexelAnimation {
    GdkPixbufAnimation parent;
    Frames frames;
    int cycleMs; // the sum of the delays
};
struct VexelAnimationClass {
    GdkPixbufAnimationClass parent_class;
};

// Where a viewer is in the clip: the frame shown and since when.
struct VexelAnimationIter {
    GdkPixbufAnimationIter parent;
    VexelAnimation* animation;
    gint64 startUs;   // when the clip started
    guint frame;      // shown now
    gint64 intoCycle; // milliseconds into the current cycle, at the last advance
};
struct VexelAnimationIterClass {
    GdkPixbufAnimationIterClass parent_class;
};

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

G_DEFINE_TYPE(VexelAnimation, vexel_animation, GDK_TYPE_PIXBUF_ANIMATION)
G_DEFINE_TYPE(VexelAnimationIter, vexel_animation_iter, GDK_TYPE_PIXBUF_ANIMATION_ITER)

namespace {

GType animationType() { return vexel_animation_get_type(); }
GType iterType() { return vexel_animation_iter_get_type(); }

VexelAnimation* asAnimation(gpointer p) {
    return G_TYPE_CHECK_INSTANCE_CAST(p, animationType(), VexelAnimation);
}
VexelAnimationIter* asIter(gpointer p) { return G_TYPE_CHECK_INSTANCE_CAST(p, iterType(), VexelAnimationIter); }

GdkPixbuf* frameAt(const VexelAnimation* a, guint i) {
    return static_cast<GdkPixbuf*>(g_ptr_array_index(a->frames.pixbufs, i));
}
int delayAt(const VexelAnimation* a, guint i) { return g_array_index(a->frames.delays, int, i); }

gint64 microseconds(const GTimeVal* t) { return gint64{t->tv_sec} * G_USEC_PER_SEC + t->tv_usec; }

// Moves the iterator to the frame shown at time t; whether that frame
// changed. Time that runs backwards starts the clip again.
gboolean advanceTo(VexelAnimationIter* it, gint64 nowUs) {
    const VexelAnimation* a = it->animation;
    if (nowUs < it->startUs) it->startUs = nowUs;
    const gint64 at = ((nowUs - it->startUs) / 1000) % a->cycleMs;
    guint frame = 0;
    gint64 end = delayAt(a, 0);
    while (at >= end && frame + 1 < a->frames.pixbufs->len) end += delayAt(a, ++frame);
    it->intoCycle = at;
    const gboolean changed = frame != it->frame;
    it->frame = frame;
    return changed;
}

gboolean animationIsStatic(GdkPixbufAnimation*) { return FALSE; }

GdkPixbuf* animationStaticImage(GdkPixbufAnimation* animation) { return frameAt(asAnimation(animation), 0); }

void animationSize(GdkPixbufAnimation* animation, int* width, int* height) {
    const VexelAnimation* a = asAnimation(animation);
    if (width) *width = a->frames.width;
    if (height) *height = a->frames.height;
}

GdkPixbufAnimationIter* animationIter(GdkPixbufAnimation* animation, const GTimeVal* start) {
    VexelAnimationIter* it = asIter(g_object_new(iterType(), nullptr));
    it->animation = asAnimation(g_object_ref(animation));
    it->startUs = start ? microseconds(start) : g_get_real_time();
    it->frame = 0;
    it->intoCycle = 0;
    return &it->parent;
}

int iterDelay(GdkPixbufAnimationIter* iter) {
    const VexelAnimationIter* it = asIter(iter);
    gint64 end = 0;
    for (guint i = 0; i <= it->frame; ++i) end += delayAt(it->animation, i);
    return static_cast<int>(end - it->intoCycle);
}

GdkPixbuf* iterPixbuf(GdkPixbufAnimationIter* iter) {
    const VexelAnimationIter* it = asIter(iter);
    return frameAt(it->animation, it->frame);
}

gboolean iterLoading(GdkPixbufAnimationIter*) { return FALSE; }

gboolean iterAdvance(GdkPixbufAnimationIter* iter, const GTimeVal* now) {
    return advanceTo(asIter(iter), now ? microseconds(now) : g_get_real_time());
}

// Takes the frames.
GdkPixbufAnimation* newAnimation(Frames& frames) {
    VexelAnimation* a = asAnimation(g_object_new(animationType(), nullptr));
    a->frames = frames;
    frames = Frames{};
    gint64 cycle = 0;
    for (guint i = 0; i < a->frames.delays->len; ++i) cycle += delayAt(a, i);
    a->cycleMs = static_cast<int>(MIN(cycle, gint64{G_MAXINT}));
    return &a->parent;
}

} // namespace

static void vexel_animation_init(VexelAnimation*) {}

static void vexel_animation_finalize(GObject* object) {
    clearFrames(asAnimation(object)->frames);
    G_OBJECT_CLASS(vexel_animation_parent_class)->finalize(object);
}

static void vexel_animation_class_init(VexelAnimationClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = vexel_animation_finalize;
    GdkPixbufAnimationClass* c = GDK_PIXBUF_ANIMATION_CLASS(klass);
    c->is_static_image = animationIsStatic;
    c->get_static_image = animationStaticImage;
    c->get_size = animationSize;
    c->get_iter = animationIter;
}

static void vexel_animation_iter_init(VexelAnimationIter*) {}

static void vexel_animation_iter_finalize(GObject* object) {
    VexelAnimationIter* it = asIter(object);
    if (it->animation) g_object_unref(it->animation);
    it->animation = nullptr;
    G_OBJECT_CLASS(vexel_animation_iter_parent_class)->finalize(object);
}

static void vexel_animation_iter_class_init(VexelAnimationIterClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = vexel_animation_iter_finalize;
    GdkPixbufAnimationIterClass* c = GDK_PIXBUF_ANIMATION_ITER_CLASS(klass);
    c->get_delay_time = iterDelay;
    c->get_pixbuf = iterPixbuf;
    c->on_currently_loading_frame = iterLoading;
    c->advance = iterAdvance;
}

G_GNUC_END_IGNORE_DEPRECATIONS

// -------------------------------------------------------- module entries

namespace {

// A picture for a file of one record, an animation for more (one with a
// reference the caller takes), from the whole file's bytes.
bool decodeFile(const guint8* data, gsize size, bool wantAnimation, GdkPixbuf** picture,
                GdkPixbufAnimation** animation, GError** error) {
    Frames frames;
    if (!decodeFrames(data, size, !wantAnimation, frames, error)) return false;
    *picture = GDK_PIXBUF(g_object_ref(g_ptr_array_index(frames.pixbufs, 0)));
    *animation = nullptr;
    if (frames.pixbufs->len > 1) *animation = newAnimation(frames);
    clearFrames(frames);
    return true;
}

GdkPixbuf* loadPicture(FILE* file, GError** error) {
    GByteArray* bytes = g_byte_array_new();
    GdkPixbuf* picture = nullptr;
    GdkPixbufAnimation* animation = nullptr;
    if (readAll(file, bytes, error)) decodeFile(bytes->data, bytes->len, false, &picture, &animation, error);
    g_byte_array_unref(bytes);
    return picture;
}

GdkPixbufAnimation* loadAnimation(FILE* file, GError** error) {
    GByteArray* bytes = g_byte_array_new();
    GdkPixbuf* picture = nullptr;
    GdkPixbufAnimation* animation = nullptr;
    if (readAll(file, bytes, error) && decodeFile(bytes->data, bytes->len, true, &picture, &animation, error) &&
        !animation)
        animation = gdk_pixbuf_non_anim_new(picture);
    if (picture) g_object_unref(picture);
    g_byte_array_unref(bytes);
    return animation;
}

// The incremental path: the bytes fed so far and the caller's callbacks.
struct Context {
    GdkPixbufModuleSizeFunc size;
    GdkPixbufModulePreparedFunc prepared;
    GdkPixbufModuleUpdatedFunc updated;
    gpointer user;
    GByteArray* bytes;
};

gpointer beginLoad(GdkPixbufModuleSizeFunc size, GdkPixbufModulePreparedFunc prepared,
                   GdkPixbufModuleUpdatedFunc updated, gpointer user, GError**) {
    Context* c = g_new0(Context, 1);
    c->size = size;
    c->prepared = prepared;
    c->updated = updated;
    c->user = user;
    c->bytes = g_byte_array_new();
    return c;
}

gboolean loadIncrement(gpointer context, const guchar* data, guint size, GError**) {
    g_byte_array_append(static_cast<Context*>(context)->bytes, data, size);
    return TRUE;
}

// Decodes what was fed and hands it over: the size first (a size callback
// that asks for 0 x 0 wants only the size), then the picture or the
// animation, then the whole area as updated.
gboolean stopLoad(gpointer context, GError** error) {
    Context* c = static_cast<Context*>(context);
    GdkPixbuf* picture = nullptr;
    GdkPixbufAnimation* animation = nullptr;
    bool ok = true;
    bool wanted = true;
    if (c->size) {
        // The size needs only the first record's header.
        vexel_reader* reader = nullptr;
        vexel_record_info info{};
        vexel_status status = openReader(c->bytes->data, c->bytes->len, &reader);
        if (status == VEXEL_OK) status = vexel_reader_record_info(reader, 0, &info);
        vexel_reader_close(reader);
        if (status != VEXEL_OK) {
            setError(error, status, "not a readable .vx file");
            ok = false;
        } else {
            int width = static_cast<int>(MIN(info.width, guint32{G_MAXINT}));
            int height = static_cast<int>(MIN(info.height, guint32{G_MAXINT}));
            c->size(&width, &height, c->user);
            wanted = width > 0 && height > 0;
        }
    }
    if (ok && wanted) ok = decodeFile(c->bytes->data, c->bytes->len, true, &picture, &animation, error);
    if (ok && picture) {
        if (c->prepared) c->prepared(picture, animation, c->user);
        if (c->updated)
            c->updated(picture, 0, 0, gdk_pixbuf_get_width(picture), gdk_pixbuf_get_height(picture), c->user);
    }
    if (animation) g_object_unref(animation);
    if (picture) g_object_unref(picture);
    g_byte_array_unref(c->bytes);
    g_free(c);
    return ok ? TRUE : FALSE;
}

} // namespace

void vexel::pixbuf::setReadLimits(std::uint64_t maxPixels, std::uint64_t maxMemory) {
    gMaxPixels = maxPixels;
    gMaxMemory = maxMemory;
}

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
    module->load = loadPicture;
    module->load_animation = loadAnimation;
    module->begin_load = beginLoad;
    module->stop_load = stopLoad;
    module->load_increment = loadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
    // Every .vx file starts with its first record's magic.
    static GdkPixbufModulePattern signature[] = {
        {const_cast<char*>("!VEXEL_IMAGE_FILE"), nullptr, 100},
        {nullptr, nullptr, 0},
    };
    static const gchar* mimeTypes[] = {"image/x-vexel", nullptr};
    static const gchar* extensions[] = {"vx", nullptr};
    info->name = const_cast<gchar*>("vexel");
    info->signature = signature;
    info->description = const_cast<gchar*>("Vexel picture or video");
    info->mime_types = const_cast<gchar**>(mimeTypes);
    info->extensions = const_cast<gchar**>(extensions);
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = const_cast<gchar*>("MIT");
}

} // extern "C"
