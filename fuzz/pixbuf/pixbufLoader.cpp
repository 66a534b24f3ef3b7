// The gdk-pixbuf loader on an arbitrary file, the three ways gdk-pixbuf
// calls it: fed in pieces (begin_load, load_increment, stop_load, with the
// size callback sometimes asking for the size only), whole from a stream as
// one picture (load), and whole as an animation (load_animation), whose
// frames are then played once around. Each call must give a result or a
// GError, never both and never neither, and every picture handed out must
// have the animation's size and stay inside its pixels.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk-pixbuf/gdk-pixbuf-io.h>

#include "pixbuf/loader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

GdkPixbufModule gModule;

struct Fed {
    bool sizeOnly = false;
    int sizes = 0, prepared = 0, updated = 0;
    int width = 0, height = 0;
};

void onSize(gint* width, gint* height, gpointer user) {
    Fed* fed = static_cast<Fed*>(user);
    ++fed->sizes;
    if (*width <= 0 || *height <= 0) std::abort();
    fed->width = *width;
    fed->height = *height;
    if (fed->sizeOnly) *width = *height = 0;
}

void onPrepared(GdkPixbuf* pixbuf, GdkPixbufAnimation* animation, gpointer user) {
    Fed* fed = static_cast<Fed*>(user);
    ++fed->prepared;
    if (!pixbuf || gdk_pixbuf_get_width(pixbuf) != fed->width || gdk_pixbuf_get_height(pixbuf) != fed->height)
        std::abort();
    if (animation && gdk_pixbuf_animation_get_width(animation) != fed->width) std::abort();
}

void onUpdated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer user) {
    Fed* fed = static_cast<Fed*>(user);
    ++fed->updated;
    if (x < 0 || y < 0 || x + width > gdk_pixbuf_get_width(pixbuf) || y + height > gdk_pixbuf_get_height(pixbuf))
        std::abort();
}

void feedInPieces(const std::uint8_t* data, std::size_t size) {
    Fed fed;
    fed.sizeOnly = (size & 4) != 0;
    GError* error = nullptr;
    gpointer context = gModule.begin_load(onSize, onPrepared, onUpdated, &fed, &error);
    if (!context || error) std::abort();
    const std::size_t piece = 1 + size % 97;
    for (std::size_t at = 0; at < size; at += piece)
        if (!gModule.load_increment(context, data + at, static_cast<guint>(size - at < piece ? size - at : piece),
                                    &error))
            std::abort();
    const gboolean ok = gModule.stop_load(context, &error);
    if (ok == (error != nullptr)) std::abort();
    if (error) {
        if (fed.prepared || fed.updated) std::abort();
        g_error_free(error);
        return;
    }
    const int expected = fed.sizeOnly ? 0 : 1;
    if (fed.sizes != 1 || fed.prepared != expected || fed.updated != expected) std::abort();
}

void playOnce(GdkPixbufAnimation* animation) {
    const int width = gdk_pixbuf_animation_get_width(animation);
    const int height = gdk_pixbuf_animation_get_height(animation);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GTimeVal now = {1000, 0};
    GdkPixbufAnimationIter* iter = gdk_pixbuf_animation_get_iter(animation, &now);
    for (int step = 0; step < 12; ++step) {
        GdkPixbuf* frame = gdk_pixbuf_animation_iter_get_pixbuf(iter);
        if (!frame || gdk_pixbuf_get_width(frame) != width || gdk_pixbuf_get_height(frame) != height) std::abort();
        const int delay = gdk_pixbuf_animation_iter_get_delay_time(iter);
        if (gdk_pixbuf_animation_is_static_image(animation)) {
            if (delay != -1) std::abort();
            break;
        }
        if (delay <= 0) std::abort();
        g_time_val_add(&now, glong{delay} * 1000);
        gdk_pixbuf_animation_iter_advance(iter, &now);
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_object_unref(iter);
}

void loadWhole(const std::uint8_t* data, std::size_t size, bool asAnimation) {
    FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file) std::abort();
    GError* error = nullptr;
    GObject* result = asAnimation ? G_OBJECT(gModule.load_animation(file, &error)) : G_OBJECT(gModule.load(file, &error));
    std::fclose(file);
    if ((result != nullptr) == (error != nullptr)) std::abort();
    if (error) {
        g_error_free(error);
        return;
    }
    if (asAnimation) playOnce(GDK_PIXBUF_ANIMATION(result));
    g_object_unref(result);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Small pictures only: the corpus's are tiny, and a hostile header must
    // not have each run allocate hundreds of megabytes.
    vexel::pixbuf::setReadLimits(1u << 20, 96u << 20);
    fill_vtable(&gModule);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    feedInPieces(data, size);
    if (size == 0) return 0; // a stream of no bytes is refused by fmemopen itself
    loadWhole(data, size, false);
    loadWhole(data, size, true);
    return 0;
}
