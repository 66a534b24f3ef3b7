#!/usr/bin/env python3
"""The gdk-pixbuf loader as users meet it: GdkPixbuf from Python (whole
files, a loader fed in small pieces, animations), gdk-pixbuf-thumbnailer,
and Eye of GNOME showing a photograph and playing a clip on a virtual
display (screenshots under --shots).

Each run makes its own loader cache (gdk-pixbuf-query-loaders over the
system's loaders and this build's) and its own MIME database (gdk-pixbuf
picks a loader by the content type the shared MIME database gives), and
points GDK_PIXBUF_MODULE_FILE and XDG_DATA_DIRS at them.

Usage: pixbuf_test.py --vexel PROGRAM --loader MODULE --query-loaders PROGRAM
                      --source DIR [--shots DIR] TEST...
"""
import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import traceback

OPTIONS = None
GdkPixbuf = GLib = None


def run(command, cwd=None, env=None, check=True):
    done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120)
    if check and done.returncode != 0:
        raise AssertionError("%s exited %d: %s%s" % (" ".join(command), done.returncode,
                                                       done.stdout.decode(errors="replace"),
                                                       done.stderr.decode(errors="replace")))
    return done


def headless():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def setup_environment(root):
    """The loader cache and the MIME database this run uses; every program
    started from here on inherits them."""
    system = sorted(glob.glob(os.path.join(run(["pkg-config", "--variable=gdk_pixbuf_moduledir",
                                                 "gdk-pixbuf-2.0"]).stdout.decode().strip(), "*.so")))
    cache = os.path.join(root, "loaders.cache")
    listed = run([OPTIONS.query_loaders] + system + [OPTIONS.loader]).stdout
    with open(cache, "wb") as f:
        f.write(listed)
    mime = os.path.join(root, "share", "mime")
    os.makedirs(os.path.join(mime, "packages"))
    shutil.copy(os.path.join(OPTIONS.source, "packaging", "vexel.xml"), os.path.join(mime, "packages"))
    run(["update-mime-database", mime])
    for name in ("config", "cache", "data"):
        os.makedirs(os.path.join(root, name))
    os.environ.update(GDK_PIXBUF_MODULE_FILE=cache, XDG_DATA_DIRS=os.path.join(root, "share") + ":/usr/share",
                      XDG_CONFIG_HOME=os.path.join(root, "config"), XDG_CACHE_HOME=os.path.join(root, "cache"),
                      XDG_DATA_HOME=os.path.join(root, "data"), GSETTINGS_BACKEND="memory")
    return listed.decode()


def bitmap_rgb(path):
    """Width, height and the pixels of a bottom-up 24-bit bitmap as RGB rows
    from the top."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    row = (width * 3 + 3) // 4 * 4
    out = bytearray()
    for y in range(height - 1, -1, -1):
        line = data[offset + y * row: offset + y * row + width * 3]
        for x in range(width):
            out += bytes((line[3 * x + 2], line[3 * x + 1], line[3 * x]))
    return width, height, bytes(out)


def pixbuf_rgb(pixbuf):
    """Width, height and the pixels of a pixbuf as RGB rows from the top."""
    assert pixbuf.get_colorspace() == GdkPixbuf.Colorspace.RGB and pixbuf.get_bits_per_sample() == 8
    assert not pixbuf.get_has_alpha() and pixbuf.get_n_channels() == 3
    width, height, stride = pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_rowstride()
    data = pixbuf.get_pixels()
    return width, height, b"".join(data[y * stride: y * stride + width * 3] for y in range(height))


def unpacked(vx):
    """What "vexel -uc" writes for each frame of the file, in order."""
    folder = os.path.dirname(vx)
    stem = os.path.splitext(os.path.basename(vx))[0]
    for old in glob.glob(os.path.join(folder, stem + "_*.bmp")):
        os.remove(old)
    run([OPTIONS.vexel, "-uc", os.path.basename(vx)], cwd=folder, env=headless())
    frames = sorted(glob.glob(os.path.join(folder, stem + "_[0-9][0-9][0-9][0-9][0-9][0-9].bmp")))
    assert frames, "vexel -uc wrote nothing for %s" % vx
    return [bitmap_rgb(f) for f in frames]


def photograph(folder, name="photo", size=(320, 240)):
    bmp = os.path.join(folder, name + ".bmp")
    run([sys.executable, os.path.join(OPTIONS.source, "tools", "make_sample.py"), bmp, str(size[0]), str(size[1])])
    run([OPTIONS.vexel, "-c", os.path.basename(bmp)], cwd=folder, env=headless())
    return os.path.join(folder, name + ".vx")


def clip(folder, frames, rate=None):
    """A clip of the sample picture moving frame by frame, grouped by
    "vexel -c" at a frame rate (none when rate is None); frames after the
    first keep blocks of the one before them."""
    sys.path.insert(0, os.path.join(OPTIONS.source, "tools"))
    from make_sample import pixel, write_bitmap
    for f in range(frames):
        write_bitmap(os.path.join(folder, "clip%02d.bmp" % f), 96, 64,
                     lambda x, y, f=f: pixel(x + 5 * f, y, 160, 64))
    command = [OPTIONS.vexel, "-c", "clip*.bmp"]
    if rate is not None:
        command.insert(2, "-a=%s" % rate)
    run(command, cwd=folder, env=headless())
    for f in range(frames):
        os.remove(os.path.join(folder, "clip%02d.bmp" % f))
    return os.path.join(folder, "clip.vx")


def feed(data, piece):
    """A GdkPixbuf.PixbufLoader fed data piece bytes at a time and closed,
    and the signals it gave."""
    loader = GdkPixbuf.PixbufLoader()
    seen = []
    loader.connect("size-prepared", lambda _l, w, h: seen.append(("size", w, h)))
    loader.connect("area-prepared", lambda _l: seen.append(("prepared",)))
    loader.connect("area-updated", lambda _l, x, y, w, h: seen.append(("updated", x, y, w, h)))
    for at in range(0, len(data), piece):
        loader.write(data[at:at + piece])
    loader.close()
    return loader, seen


def time_value(ms):
    t = GLib.TimeVal()
    t.tv_sec, t.tv_usec = 1000 + ms // 1000, (ms % 1000) * 1000
    return t


# ------------------------------------------------------------------ tests

def test_the_loader_knows_vx_files_by_their_first_bytes_and_their_mime_type(folder, listed):
    assert '"image/x-vexel" ""' in listed and '"vx" ""' in listed, listed
    assert '"!VEXEL_IMAGE_FILE" "" 100' in listed, listed
    formats = {f.get_name(): f for f in GdkPixbuf.Pixbuf.get_formats()}
    assert "vexel" in formats and "png" in formats, sorted(formats)
    vexel = formats["vexel"]
    assert vexel.get_mime_types() == ["image/x-vexel"] and vexel.get_extensions() == ["vx"]
    assert not vexel.is_writable()
    photo = photograph(folder)
    # A name without the extension: the first bytes tell.
    nameless = os.path.join(folder, "nameless")
    shutil.copy(photo, nameless)
    found, width, height = GdkPixbuf.Pixbuf.get_file_info(nameless)
    assert found is not None and found.get_name() == "vexel" and (width, height) == (320, 240), (found, width, height)
    # A program that knows the type asks for the loader by it.
    loader = GdkPixbuf.PixbufLoader.new_with_mime_type("image/x-vexel")
    with open(photo, "rb") as f:
        loader.write(f.read())
    loader.close()
    assert pixbuf_rgb(loader.get_pixbuf()) == unpacked(photo)[0]
    assert loader.get_format().get_name() == "vexel"


def test_a_photograph_loads_with_the_pixels_vexel_unpacks(folder, listed):
    # 101 pixels wide: rows of 303 bytes, padded by gdk-pixbuf to 304.
    for size in ((320, 240), (101, 37)):
        photo = photograph(folder, "photo%d" % size[0], size)
        expected = unpacked(photo)
        assert len(expected) == 1 and expected[0][:2] == size
        assert pixbuf_rgb(GdkPixbuf.Pixbuf.new_from_file(photo)) == expected[0]
        with open(photo, "rb") as f:
            data = f.read()
        # Programs feed loaders as bytes come: a few at a time, or all at once.
        for piece in (7, 4096, len(data)):
            loader, seen = feed(data, piece)
            assert pixbuf_rgb(loader.get_pixbuf()) == expected[0], "fed %d bytes at a time" % piece
            assert loader.get_animation().is_static_image()
            assert seen == [("size",) + size, ("prepared",), ("updated", 0, 0) + size], seen
        # A program that asks for a smaller picture gets one.
        small = GdkPixbuf.Pixbuf.new_from_file_at_size(photo, size[0] // 2, size[1])
        assert (small.get_width(), small.get_height()) == (size[0] // 2, size[1] // 2)


def check_animation(animation, frames, delay):
    assert not animation.is_static_image()
    assert (animation.get_width(), animation.get_height()) == frames[0][:2]
    assert pixbuf_rgb(animation.get_static_image()) == frames[0]
    iterator = animation.get_iter(time_value(0))
    now = 0
    # Every frame in order for its delay, then the first again.
    for n in range(len(frames) + 1):
        assert pixbuf_rgb(iterator.get_pixbuf()) == frames[n % len(frames)], "frame %d" % n
        assert iterator.get_delay_time() == delay, (n, iterator.get_delay_time())
        assert not iterator.on_currently_loading_frame()
        # Half-way through a frame nothing changes.
        assert not iterator.advance(time_value(now + delay // 2))
        assert iterator.get_delay_time() == delay - delay // 2
        now += delay
        assert iterator.advance(time_value(now))


def test_a_clip_plays_as_an_animation_at_its_frame_rate(folder, listed):
    for rate, frame_count, delay in (("4", 6, 250), ("30", 3, 33), (None, 3, 1000)):
        for old in glob.glob(os.path.join(folder, "clip*")):
            os.remove(old)
        vx = clip(folder, frame_count, rate)
        frames = unpacked(vx)
        assert len(frames) == frame_count and len(set(frames)) == frame_count
        check_animation(GdkPixbuf.PixbufAnimation.new_from_file(vx), frames, delay)
        with open(vx, "rb") as f:
            loader, seen = feed(f.read(), 500)
        check_animation(loader.get_animation(), frames, delay)
        assert pixbuf_rgb(loader.get_pixbuf()) == frames[0]
        # A program that wants one picture gets the first frame.
        assert pixbuf_rgb(GdkPixbuf.Pixbuf.new_from_file(vx)) == frames[0]


def expect_error(what, load):
    try:
        load()
    except GLib.Error as error:
        assert error.domain == "gdk-pixbuf-error-quark", (what, error.domain, error.message)
        assert error.code in (GdkPixbuf.PixbufError.CORRUPT_IMAGE, GdkPixbuf.PixbufError.UNKNOWN_TYPE), (
            what, error.code, error.message)
        return error.message
    raise AssertionError("%s loaded without an error" % what)


def test_a_bad_or_cut_file_gives_an_error(folder, listed):
    photo = photograph(folder)
    vx = clip(folder, 4, "4")
    with open(photo, "rb") as f:
        picture = f.read()
    with open(vx, "rb") as f:
        frames = f.read()
    # The record's stream table and payload lie past its header (the first
    # 100 bytes); the clip's last frame lies in its last third.
    bad = {
        "magic only": picture[:17],
        "header only": picture[:100],
        "cut in the payload": picture[:len(picture) // 2],
        "cut one byte short": picture[:-1],
        "clip cut in its last frame": frames[:len(frames) - len(frames) // 6],
        "no .vx file": b"GIF89a is what this says, but it is not one either" * 3,
    }
    first_frame = unpacked(vx)[0]
    messages = {}
    for what, data in bad.items():
        path = os.path.join(folder, "bad.vx")
        with open(path, "wb") as f:
            f.write(data)
        if what.startswith("clip"):
            # One picture asked of a clip is its first frame, which is whole.
            assert pixbuf_rgb(GdkPixbuf.Pixbuf.new_from_file(path)) == first_frame
        else:
            messages[what] = expect_error(what, lambda: GdkPixbuf.Pixbuf.new_from_file(path))
        expect_error(what + " (animation)", lambda: GdkPixbuf.PixbufAnimation.new_from_file(path))

        def fed():
            loader = GdkPixbuf.PixbufLoader.new_with_mime_type("image/x-vexel")
            for at in range(0, len(data), 64):
                loader.write(data[at:at + 64])
            loader.close()
        expect_error(what + " (fed)", fed)
    # The library's reason reaches the user.
    assert "does not decode" in messages["cut in the payload"], messages
    assert "not a .vx file" in messages["magic only"], messages
    # Known-bad files of the reader's fuzz corpus: an error or a picture,
    # never a crash.
    for path in sorted(glob.glob(os.path.join(OPTIONS.source, "fuzz", "corpus", "vexelReader", "*"))):
        try:
            GdkPixbuf.PixbufAnimation.new_from_file(path)
        except GLib.Error:
            pass


def test_the_thumbnailer_makes_a_thumbnail(folder, listed):
    photo = photograph(folder)
    expected = GdkPixbuf.Pixbuf.new_from_file(photo).scale_simple(128, 96, GdkPixbuf.InterpType.BILINEAR)
    thumbnail = os.path.join(folder, "thumbnail.png")
    run(["gdk-pixbuf-thumbnailer", "-s", "128", photo, thumbnail], env=headless())
    made = GdkPixbuf.Pixbuf.new_from_file(thumbnail)
    if made.get_has_alpha():
        made = made.add_alpha(False, 0, 0, 0)
        flat = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, False, 8, made.get_width(), made.get_height())
        made.copy_area(0, 0, made.get_width(), made.get_height(), flat, 0, 0)
        made = flat
    width, height, got = pixbuf_rgb(made)
    assert (width, height) == (128, 96), (width, height)
    _, _, want = pixbuf_rgb(expected)
    # Scaled by the thumbnailer's own filter: close to the picture, sample by sample.
    difference = sum(abs(a - b) for a, b in zip(got, want)) / len(want)
    assert difference < 4, difference
    # No thumbnail of a file that does not decode.
    bad = os.path.join(folder, "cut.vx")
    with open(photo, "rb") as f, open(bad, "wb") as g:
        g.write(f.read()[:2000])
    done = run(["gdk-pixbuf-thumbnailer", "-s", "128", bad, os.path.join(folder, "bad.png")], env=headless(),
               check=False)
    assert done.returncode != 0 and not os.path.exists(os.path.join(folder, "bad.png"))


def find_picture(shot, picture, points):
    """Where the picture (width, height, RGB rows) has its top left pixel in
    the screenshot: the place where every point matches exactly."""
    import xsession
    width, height, rgb = picture

    def at(x, y):
        i = 3 * (y * width + x)
        return tuple(rgb[i:i + 3])
    first = at(0, 0)
    wanted = [(x, y, at(x, y)) for x, y in points]
    for sy in range(len(shot) - height + 1):
        row = shot[sy]
        for sx in range(len(row) - width + 1):
            if row[sx] == first and all(shot[sy + y][sx + x] == value for x, y, value in wanted):
                return sx, sy
    raise xsession.NotYet("the picture is not on the screen")


def grid(width, height, step):
    return [(x, y) for x in range(0, width, step) for y in range(0, height, step)] + [(width - 1, height - 1)]


def start_eog(x, folder, name):
    eog = x.start(["dbus-run-session", "--", "eog", "--new-instance", name], cwd=folder)
    return eog, x.window(name, eog)


def test_eye_of_gnome_shows_a_photograph(folder, listed):
    sys.path.insert(0, os.path.join(OPTIONS.source, "tests", "window"))
    import xsession
    photo = photograph(folder, "photo", (320, 240))
    picture = unpacked(photo)[0]
    # Points across the sky, the sun, the ground and the strokes.
    points = [(x, y) for x in (0, 60, 160, 230, 319) for y in (0, 60, 150, 190, 239)]
    with xsession.XSession(None, OPTIONS.shots, size="800x600x24") as x:
        eog, window = start_eog(x, folder, "photo.vx")
        shot = x.until_shown(window, lambda shot: find_picture(shot, picture, points),
                             "the photograph in Eye of GNOME's window", "eog_photograph", eog)
        sx, sy = find_picture(shot, picture, points)
        # Shown whole and unscaled: every pixel of a grid over it matches.
        width, height, rgb = picture
        for px, py in grid(width, height, 7):
            i = 3 * (py * width + px)
            assert shot[sy + py][sx + px] == tuple(rgb[i:i + 3]), (px, py)


def test_eye_of_gnome_plays_a_clip(folder, listed):
    sys.path.insert(0, os.path.join(OPTIONS.source, "tests", "window"))
    import xsession
    frames = unpacked(clip(folder, 3, "2"))
    assert len(frames) == 3 and len(set(frames)) == 3
    points = grid(96, 64, 8)
    with xsession.XSession(None, OPTIONS.shots, size="800x600x24") as x:
        eog, window = start_eog(x, folder, "clip.vx")
        # Each frame comes in turn, and the first again after the last: the
        # clip plays, and loops.
        for n in (0, 1, 2, 0):
            x.until_shown(window, lambda shot: find_picture(shot, frames[n], points),
                          "frame %d of the clip in Eye of GNOME's window" % n, "eog_clip_frame%d" % n, eog)


def main():
    global OPTIONS, GdkPixbuf, GLib
    parser = argparse.ArgumentParser()
    parser.add_argument("--vexel", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--query-loaders", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--shots")
    parser.add_argument("tests", nargs="+")
    OPTIONS = parser.parse_args()
    failed = 0
    with tempfile.TemporaryDirectory() as root:
        listed = setup_environment(root)
        # Only now: gdk-pixbuf reads its cache once, when first used.
        import gi
        gi.require_version("GdkPixbuf", "2.0")
        from gi.repository import GdkPixbuf as pixbuf_module, GLib as glib_module
        GdkPixbuf, GLib = pixbuf_module, glib_module
        for name in OPTIONS.tests:
            test = globals().get("test_" + name)
            if test is None:
                print("no test named %s" % name)
                failed += 1
                continue
            with tempfile.TemporaryDirectory() as folder:
                try:
                    test(folder, listed)
                    print("PASS %s" % name)
                except Exception:
                    traceback.print_exc()
                    print("FAIL %s" % name)
                    failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
