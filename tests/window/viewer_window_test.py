#!/usr/bin/env python3
"""The viewer as a person meets it: a real SDL window on a virtual display,
driven by keys, clicks and window requests, checked by screenshots.

Usage: viewer_window_test.py --vexel BIN --send-close BIN [--shots DIR] TEST...
With no TEST, runs them all. Exit status 0 when every test passes.
"""
import argparse
import os
import re
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from make_sample import pixel, write_bitmap  # noqa: E402
from xsession import NotYet, await_line, errors, run_scenario, until, until_stopped, wait_exit  # noqa: E402

OPTIONS = None


def near(a, b, tolerance=12):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def dark(p):
    return max(p) <= 8


def pack(folder, *args):
    """Runs vexel without a display (packing never needs one)."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    done = subprocess.run([OPTIONS.vexel] + list(args), cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert done.returncode == 0, done.stderr.decode()


WAITING = re.compile(r"vexel: frame (\d+) shown, waiting")
NO_FRAME_LEFT = "vexel: no frame left, waiting to close"


def view(x, folder, *args, env=None):
    """A viewer on the display and its window. It reports on standard error
    the frame at which it waits for a key or a click."""
    viewer = x.start([OPTIONS.vexel] + list(args), folder, env=dict({"VEXEL_PLAYBACK_REPORT": "1"}, **(env or {})))
    return viewer, x.window("Vexel", process=viewer)


def waits_at(viewer, start=0):
    """The number of the frame at which the viewer next waits for a key or a
    click (from its line number start on), and the number of its next line;
    fails when it reports the end of its frames instead."""
    line, after = await_line(viewer, lambda l: WAITING.match(l) or l.startswith(NO_FRAME_LEFT),
                             "the viewer waiting for a key or a click", start)
    m = WAITING.match(line)
    assert m, "the viewer went on to the end of its frames: %r" % line
    return int(m.group(1)), after


def waits_to_close(viewer, start=0):
    """The number of the viewer's next line, once it has reported that it
    waits with no frame left."""
    return await_line(viewer, lambda l: l.startswith(NO_FRAME_LEFT), "the viewer with no frame left", start)[1]


def closes_with_zero(x, viewer, window):
    assert wait_exit(viewer) == 0, errors(viewer)
    x.until_gone(window)


def shows(colour, y, x_, tolerance=12):
    """A check that the pixel at (x_, y) shows colour."""
    def check(shot):
        assert near(shot[y][x_], colour, tolerance), "(%d, %d) shows %s, not %s" % (x_, y, shot[y][x_], colour)
    return check


def test_bars_keep_the_aspect(x, folder):
    """A 200 x 100 picture in a 400 x 400 client area: drawn 400 x 200 at
    offset 100, black bars of 100 above and below."""
    write_bitmap(os.path.join(folder, "wide.bmp"), 200, 100, lambda px, py: pixel(px, py, 200, 100))
    viewer, window = view(x, folder, "wide.bmp")
    waits_at(viewer)
    x.resize(window, 400, 400)
    x.until_geometry(window, (400, 400), viewer)

    def bars(shot):
        assert len(shot) == 400 and len(shot[0]) == 400, (len(shot[0]), len(shot))
        for y in list(range(0, 97)) + list(range(303, 400)):
            assert all(dark(shot[y][c]) for c in range(0, 400, 7)), "row %d should be a black bar" % y
        for y in range(104, 297, 5):
            assert not any(dark(shot[y][c]) for c in range(0, 400, 7)), "row %d should be picture" % y
        # The picture's top-left and bottom-right corners, scaled twice.
        assert near(shot[101][1], pixel(0, 0, 200, 100), 20), shot[101][1]
        assert near(shot[298][398], pixel(199, 99, 200, 100), 20), shot[298][398]
    x.until_shown(window, bars, "the picture between two bars", "viewer_bars", viewer)
    x.key(window, "q")
    closes_with_zero(x, viewer, window)


def test_right_click_fits_the_window(x, folder):
    """A right click shrinks the window by the bars: 400 x 400 showing a
    200 x 100 picture becomes 400 x 200, 100 lower."""
    write_bitmap(os.path.join(folder, "wide.bmp"), 200, 100, lambda px, py: pixel(px, py, 200, 100))
    viewer, window = view(x, folder, "wide.bmp")
    waits_at(viewer)
    x.resize(window, 400, 400)
    left, top, _, _ = x.until_geometry(window, (400, 400), viewer)

    def bars(shot):
        assert dark(shot[50][200]) and dark(shot[350][200]), "bars above and below"
        assert not dark(shot[200][200]), "the picture between them"
    # The viewer has drawn for this size, so it fits from this size.
    x.until_shown(window, bars, "the bars of a 400 x 400 window", process=viewer)
    x.click(window, 200, 200, button=3)
    assert x.until_geometry(window, (400, 200), viewer) == (left, top + 100, 400, 200), x.geometry(window)

    def fitted(shot):
        assert len(shot) == 200 and len(shot[0]) == 400, (len(shot[0]), len(shot))
        for y in (1, 2, 100, 197, 198):
            assert not any(dark(shot[y][c]) for c in range(1, 399, 7)), "row %d should be picture" % y
        assert near(shot[1][1], pixel(0, 0, 200, 100), 20), shot[1][1]
        assert near(shot[198][398], pixel(199, 99, 200, 100), 20), shot[198][398]
    x.until_shown(window, fitted, "the picture filling the fitted window", "viewer_fitted", viewer)
    x.key(window, "Escape")
    closes_with_zero(x, viewer, window)


def solid(colour):
    return lambda px, py: colour


FRAMES = [(200, 40, 40), (40, 180, 60), (50, 70, 210)]


def three_frames(folder, *options):
    for n, colour in enumerate(FRAMES, 1):
        write_bitmap(os.path.join(folder, "f%d.bmp" % n), 64, 48, solid(colour))
    pack(folder, "-c", *options, "f*.bmp")


def test_space_steps_one_frame_at_a_time(x, folder):
    """A 3-frame .vx without a rate: each space shows the next frame; after
    the last one the window stays, with it, until it is closed."""
    three_frames(folder)
    viewer, window = view(x, folder, "f.vx")
    frame, line = waits_at(viewer)
    assert frame == 0
    x.resize(window, 320, 240)
    x.until_geometry(window, (320, 240), viewer)
    x.until_shown(window, shows(FRAMES[0], 120, 160), "the first frame", "viewer_step0", viewer)
    for step in (1, 2):
        x.key(window, "space")
        frame, line = waits_at(viewer, line)
        assert frame == step, "one space, one frame: %d after %d" % (frame, step - 1)
        x.until_shown(window, shows(FRAMES[step], 120, 160), "frame %d" % step, "viewer_step%d" % step, viewer)
    x.key(window, "space")
    waits_to_close(viewer, line)
    shot = x.screenshot(window, "viewer_step3")
    assert near(shot[120][160], FRAMES[2]), "after the last frame the window keeps it: %s" % (shot[120][160],)
    assert viewer.poll() is None, "the window stays after the last frame"
    x.key(window, "q")
    closes_with_zero(x, viewer, window)


def test_the_right_arrow_steps_too(x, folder):
    """The right arrow and "." each show the next frame."""
    three_frames(folder)
    viewer, window = view(x, folder, "f.vx")
    frame, line = waits_at(viewer)
    x.until_shown(window, shows(FRAMES[0], 540, 960), "the first frame", process=viewer)
    for step, key in ((1, "Right"), (2, "period")):
        x.key(window, key)
        frame, line = waits_at(viewer, line)
        assert frame == step, "%s: frame %d, not %d" % (key, frame, step)
        x.until_shown(window, shows(FRAMES[step], 540, 960), "frame %d after %s" % (step, key), process=viewer)
    x.request_close(window)
    closes_with_zero(x, viewer, window)


# A clip packed at 4 frames a second: keyframes at frames 0, 3 and 6, and
# the frames between them keep most of their blocks from the frame before.
# The left half of a frame is the background of its keyframe's group (it
# changes at keyframes only, so the frames between keep it); the right half
# is the frame's own colour. A frame between keyframes decoded on top of
# the wrong frame shows the wrong background.
BACKGROUNDS = [(200, 60, 60), (60, 200, 60), (60, 60, 200)]
OWN = [(240, 240, 40), (40, 240, 240), (240, 40, 240), (140, 140, 140), (240, 140, 40), (40, 140, 240),
       (140, 240, 40), (90, 40, 140)]
GROUPS = 3  # frames a keyframe leads


def keyed_clip(folder):
    for n, own in enumerate(OWN):
        background = BACKGROUNDS[n // GROUPS]
        write_bitmap(os.path.join(folder, "k%d.bmp" % n), 64, 48,
                     lambda px, py, b=background, o=own: b if px < 32 else o)
    pack(folder, "-c", "-a=4", "k*.bmp")
    return "k.vx"


def showing(n, size=(320, 240)):
    """A check that the window of this size shows the keyed clip's frame n
    (its background on the left, its own colour on the right)."""
    def check(shot):
        y = size[1] // 2
        left, right = shot[y][size[0] // 4], shot[y][size[0] * 3 // 4]
        assert near(right, OWN[n]), "the right half shows %s, not frame %d's %s" % (right, n, OWN[n])
        assert near(left, BACKGROUNDS[n // GROUPS]), "frame %d on the wrong background: %s, not %s" % (
            n, left, BACKGROUNDS[n // GROUPS])
    return check


def keyed_viewer(x, folder):
    """The keyed clip in a 320 x 240 viewer that waits at its first frame;
    the viewer, its window and its next line."""
    viewer, window = view(x, folder, keyed_clip(folder))
    _, line = waits_at(viewer)
    x.resize(window, 320, 240)
    x.until_geometry(window, (320, 240), viewer)
    x.until_shown(window, showing(0), "the first frame", process=viewer)
    return viewer, window, line


def step(x, viewer, window, key, line, frame, shot=None):
    """Presses key and awaits the viewer waiting again, paused, with frame on
    screen; the viewer's next line."""
    x.key(window, key)
    _, line = waits_at(viewer, line)
    x.until_shown(window, showing(frame), "frame %d after %s" % (frame, key), shot, viewer)
    return line


def test_left_and_comma_step_back_to_frames_that_are_no_keyframes(x, folder):
    """Four steps forward, then back one frame at a time with the left arrow
    and ",": frames 2 and 1 need keyframe 0 and the frames after it, not the
    frame shown before them. Back from the first frame stays there."""
    viewer, window, line = keyed_viewer(x, folder)
    for n in range(1, 5):
        line = step(x, viewer, window, "Right", line, n)
    line = step(x, viewer, window, "Left", line, 3)
    line = step(x, viewer, window, "Left", line, 2, "viewer_back_to_2")
    line = step(x, viewer, window, "comma", line, 1, "viewer_back_to_1")
    line = step(x, viewer, window, "Left", line, 0)
    line = step(x, viewer, window, "Left", line, 0)  # the first frame stays
    line = step(x, viewer, window, "period", line, 1)  # and the next one is frame 1
    x.key(window, "q")
    closes_with_zero(x, viewer, window)
    assert NO_FRAME_LEFT not in errors(viewer), errors(viewer)


def test_home_and_end_go_to_the_first_and_the_last_frame(x, folder):
    """End shows the last frame, Home the first, both paused; past the last
    frame the viewer reaches its end as before, and Home there takes it
    back to the first frame."""
    viewer, window, line = keyed_viewer(x, folder)
    line = step(x, viewer, window, "End", line, 7, "viewer_end")
    line = step(x, viewer, window, "Home", line, 0, "viewer_home")
    line = step(x, viewer, window, "Right", line, 1)
    line = step(x, viewer, window, "End", line, 7)
    line = step(x, viewer, window, "Left", line, 6)
    line = step(x, viewer, window, "Left", line, 5)
    line = step(x, viewer, window, "End", line, 7)
    x.key(window, "Right")
    line = waits_to_close(viewer, line)
    x.until_shown(window, showing(7), "the last frame, kept after the end", process=viewer)
    line = step(x, viewer, window, "Home", line, 0)
    x.key(window, "q")
    closes_with_zero(x, viewer, window)


def test_with_looping_on_the_first_frame_follows_the_last(x, folder):
    """With "l" on, a step from the last frame shows the first one, and
    playing goes round; with it off again, the viewer reaches its end."""
    viewer, window, line = keyed_viewer(x, folder)
    x.key(window, "l")
    line = step(x, viewer, window, "End", line, 7)
    line = step(x, viewer, window, "Right", line, 0, "viewer_looped")
    line = step(x, viewer, window, "Left", line, 7)  # and back round

    # Playing: a frame below one already seen comes after it, with no end.
    x.key(window, "space")
    seen = []

    def round_again(shot):
        n = shown_keyed_frame(shot)
        if not seen or n != seen[-1]:
            seen.append(n)
        assert any(later < earlier for i, earlier in enumerate(seen) for later in seen[i + 1:] if earlier != 7), \
            "frames seen: %s" % seen
    x.until_shown(window, round_again, "playing going round", process=viewer)
    assert NO_FRAME_LEFT not in errors(viewer), errors(viewer)
    x.key(window, "space")  # pause: the first wait since playing started
    _, line = waits_at(viewer, line)

    x.key(window, "l")  # off
    line = step(x, viewer, window, "End", line, 7)
    x.key(window, "Right")
    waits_to_close(viewer, line)
    x.key(window, "q")
    closes_with_zero(x, viewer, window)


def shown_keyed_frame(shot, size=(320, 240)):
    right = shot[size[1] // 2][size[0] * 3 // 4]
    for n, own in enumerate(OWN):
        if near(right, own):
            return n
    raise NotYet("the right half shows %s, no frame's colour" % (right,))


def test_the_keys_go_through_a_list_of_bitmaps_too(x, folder):
    """A list of bitmaps is gone through as the frames of a video: back,
    first, last, and round with looping on."""
    for n, colour in enumerate(FRAMES, 1):
        write_bitmap(os.path.join(folder, "f%d.bmp" % n), 64, 48, solid(colour))
    viewer, window = view(x, folder, "f*.bmp")
    _, line = waits_at(viewer)
    x.resize(window, 320, 240)
    x.until_geometry(window, (320, 240), viewer)
    for key, n in (("Right", 1), ("Right", 2), ("Left", 1), ("Home", 0), ("comma", 0), ("End", 2), ("l", None),
                   ("Right", 0), ("Left", 2)):
        x.key(window, key)
        if n is None:
            continue
        _, line = waits_at(viewer, line)
        x.until_shown(window, shows(FRAMES[n], 120, 160), "bitmap %d after %s" % (n, key), process=viewer)
    x.key(window, "q")
    closes_with_zero(x, viewer, window)


def test_an_empty_wildcard_window_closes_with_one_close(x, folder):
    viewer, window = view(x, folder, "nothing*.bmp")
    waits_to_close(viewer)

    def empty(shot):
        for y in range(0, len(shot), 97):
            assert all(dark(shot[y][c]) for c in range(0, len(shot[y]), 101)), "row %d is not black" % y
    x.until_shown(window, empty, "an empty black window", "viewer_empty", viewer)
    x.request_close(window)
    closes_with_zero(x, viewer, window)


# A long clip whose frames tell themselves apart: frame n is a solid colour
# of its own, five levels a channel apart.
LONG_CLIP = 120
LEVELS = (40, 90, 140, 190, 240)


def colour_of(n):
    return LEVELS[n % 5], LEVELS[n // 5 % 5], LEVELS[n // 25]


def frame_of(p):
    """The number of the long clip's frame whose colour p is; None for none."""
    levels = []
    for value in p:
        level = min(range(5), key=lambda k: abs(LEVELS[k] - value))
        if abs(LEVELS[level] - value) > 16:
            return None
        levels.append(level)
    return levels[0] + 5 * levels[1] + 25 * levels[2]


def long_clip(folder, rate):
    for n in range(LONG_CLIP):
        write_bitmap(os.path.join(folder, "c%03d.bmp" % n), 32, 24, solid(colour_of(n)))
    pack(folder, "-c", "-a=%d" % rate, "c*.bmp")
    return "c.vx"


def shown_frame(shot, window_size=(320, 240)):
    p = shot[window_size[1] // 2][window_size[0] // 2]
    n = frame_of(p)
    if n is None:
        raise NotYet("the centre shows %s, no frame's colour" % (p,))
    return n


def test_playing_at_a_rate_plays_and_a_click_pauses(x, folder):
    """With a rate, a click plays: frames go by with no key or click; a
    second click pauses: the viewer waits on the frame it shows, and a step
    moves it on by exactly one frame."""
    clip = long_clip(folder, 2)  # a minute at 2 frames a second
    viewer, window = view(x, folder, clip)
    frame, line = waits_at(viewer)
    assert frame == 0
    x.resize(window, 320, 240)
    x.until_geometry(window, (320, 240), viewer)

    def first(shot):
        assert shown_frame(shot) == 0, "frame %d" % shown_frame(shot)
    x.until_shown(window, first, "the first frame", "viewer_play0", viewer)

    x.click(window, 100, 100)  # play

    def played(shot):
        # One click steps one frame at most: two or more is playing.
        n = shown_frame(shot)
        assert 2 <= n < LONG_CLIP - 1, "frame %d" % n
        return n
    playing = x.until_shown(window, played, "frames going by on their own", "viewer_playing", viewer)
    seen = played(playing)

    x.click(window, 100, 100)  # pause
    paused, line = waits_at(viewer, line)
    assert seen < paused < LONG_CLIP - 1, "paused at frame %d after frame %d was shown" % (paused, seen)

    def at(n):
        def check(shot):
            assert shown_frame(shot) == n, "frame %d, not %d" % (shown_frame(shot), n)
        return check
    x.until_shown(window, at(paused), "the frame the viewer paused at", "viewer_paused", viewer)
    x.key(window, "period")
    stepped, line = waits_at(viewer, line)
    assert stepped == paused + 1, "a step from frame %d shows frame %d" % (paused, stepped)
    x.until_shown(window, at(stepped), "the frame after the paused one", "viewer_stepped", viewer)
    x.key(window, "q")
    closes_with_zero(x, viewer, window)
    report = re.search(r"(\d+) frames shown, (\d+) dropped", errors(viewer))
    assert report, errors(viewer)
    assert int(report.group(1)) + int(report.group(2)) == stepped + 1, report.group(0)


def test_the_close_button_and_sigterm_end_viewing_with_zero(x, folder):
    """The close button ends a viewer showing a picture, and SIGTERM one
    that is playing, both with 0."""
    write_bitmap(os.path.join(folder, "p.bmp"), 64, 48, solid((90, 90, 90)))
    viewer, window = view(x, folder, "p.bmp")
    waits_at(viewer)
    x.until_shown(window, shows((90, 90, 90), 540, 960), "the picture", process=viewer)
    x.request_close(window)
    closes_with_zero(x, viewer, window)

    clip = long_clip(folder, 2)
    viewer, window = view(x, folder, clip)
    waits_at(viewer)
    x.click(window, 100, 100)
    def playing(shot):
        assert shown_frame(shot, (1920, 1080)) >= 2, "frame %d" % shown_frame(shot, (1920, 1080))
    x.until_shown(window, playing, "frames going by", process=viewer)
    viewer.send_signal(signal.SIGTERM)
    closes_with_zero(x, viewer, window)


def test_sigint_and_sigterm_close_a_shown_picture_with_zero(x, folder):
    """A viewer is closed, not stopped: SIGINT and SIGTERM end it with 0
    (not 130 or 143), and its window goes."""
    for sig, colour in ((signal.SIGINT, (200, 120, 40)), (signal.SIGTERM, (40, 120, 200))):
        name = "p%d.bmp" % sig
        write_bitmap(os.path.join(folder, name), 64, 48, solid(colour))
        viewer, window = view(x, folder, name)
        waits_at(viewer)
        x.until_shown(window, shows(colour, 540, 960), "the picture", "viewer_before_signal%d" % sig, viewer)
        viewer.send_signal(sig)
        closes_with_zero(x, viewer, window)
        assert "Ошибка" not in errors(viewer), errors(viewer)


def write_png(path, width, height, rgb_at):
    """An 8-bit RGB PNG file; rgb_at(x, y) with y counted from the top."""
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes(c for x_ in range(width) for c in rgb_at(x_, y)) for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def write_jpeg(path, width, height, rgb_at):
    """A JPEG file of quality 95 without subsampling, through the system's TurboJPEG."""
    import ctypes
    turbo = ctypes.CDLL("libturbojpeg.so.0")
    turbo.tjInitCompress.restype = ctypes.c_void_p
    turbo.tjCompress2.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_int, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_ulong),
                                  ctypes.c_int, ctypes.c_int, ctypes.c_int]
    turbo.tjFree.argtypes = [ctypes.c_void_p]
    turbo.tjDestroy.argtypes = [ctypes.c_void_p]
    handle = turbo.tjInitCompress()
    pixels = bytes(c for y in range(height) for x_ in range(width) for c in rgb_at(x_, y))
    out, length = ctypes.c_void_p(), ctypes.c_ulong()
    assert turbo.tjCompress2(handle, pixels, width, 0, height, 0, ctypes.byref(out), ctypes.byref(length),
                             0, 95, 0) == 0  # TJPF_RGB, TJSAMP_444
    with open(path, "wb") as f:
        f.write(ctypes.string_at(out, length.value))
    turbo.tjFree(out)
    turbo.tjDestroy(handle)


def test_png_and_jpeg_pictures_are_viewed_like_bitmaps(x, folder):
    """A PNG and a JPEG of 64 x 48, red on the left and blue on the right,
    each fill the 1920 x 1080 window as a bitmap would: 1440 x 1080 from
    x = 240, the halves split at x = 960."""
    left, right = (200, 40, 40), (40, 40, 200)
    write_png(os.path.join(folder, "photo.png"), 64, 48, lambda px, py: left if px < 32 else right)
    write_jpeg(os.path.join(folder, "snap.jpg"), 64, 48, lambda px, py: left if px < 32 else right)
    for name in ("photo.png", "snap.jpg"):
        viewer, window = view(x, folder, name)
        waits_at(viewer)

        def halves(shot):
            assert near(shot[540][600], left), "(600, 540) shows %s, not %s" % (shot[540][600], left)
            assert near(shot[540][1320], right), "(1320, 540) shows %s, not %s" % (shot[540][1320], right)
            assert dark(shot[540][100]) and dark(shot[540][1820]), "bars left and right"
        x.until_shown(window, halves, "the picture's two halves", "viewer_" + name.replace(".", "_"), viewer)
        x.key(window, "q")
        closes_with_zero(x, viewer, window)
        assert "Ошибка" not in errors(viewer), errors(viewer)


def read_bitmap_pixel(path, x_, y):
    """(r, g, b) at (x_, y) from the top of a 24-bit bitmap file."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"BM", path
    offset = int.from_bytes(data[10:14], "little")
    width, height = int.from_bytes(data[18:22], "little", signed=True), int.from_bytes(data[22:26], "little", signed=True)
    assert int.from_bytes(data[28:30], "little") == 24, path
    row = (width * 3 + 3) // 4 * 4
    at = offset + (height - 1 - y) * row + 3 * x_
    b, g, r = data[at:at + 3]
    return (width, height), (r, g, b)


def test_unpacking_shows_its_frames_without_waiting(x, folder):
    """-uc shows each frame in the window as it writes it, waits for no key
    or click, and closes the window at the end. The run stops itself once
    its third bitmap is written (a test stop point), to look at the window
    then: it shows the second frame (a frame is shown after it is written),
    and the first three bitmaps are on disk."""
    three_frames(folder)
    run, window = view(x, folder, "-uc", "f.vx", env={"VEXEL_TEST_STOP_AT": "after-bitmap:2"})
    until_stopped(run, "the run to stop after its third bitmap")
    x.until_shown(window, shows(FRAMES[1], 540, 960), "the second frame while the run is held",
                  "viewer_unpacking")
    for n in range(3):
        assert os.path.exists(os.path.join(folder, "f_%06d.bmp" % n)), "frame %d should be written" % n
    os.kill(run.pid, signal.SIGCONT)
    closes_with_zero(x, run, window)
    assert not any(WAITING.match(l) or l.startswith(NO_FRAME_LEFT) for l in run.error_lines), errors(run)
    for n, colour in enumerate(FRAMES):
        size, p = read_bitmap_pixel(os.path.join(folder, "f_%06d.bmp" % n), 32, 24)
        assert size == (64, 48) and near(p, colour), "f_%06d.bmp: %r %r" % (n, size, p)
    assert not os.path.exists(os.path.join(folder, "f_000003.bmp"))


def test_unpacking_from_a_terminal_opens_no_window_unless_asked(x, folder):
    """Started from a terminal (its standard input is one), a run that
    writes files shows no window: it is held once its third bitmap is
    written, and the display has no window then. With -w the same run shows
    its frames in a window, as a run without a terminal does."""
    three_frames(folder)
    leader, follower = os.openpty()
    try:
        run = x.start([OPTIONS.vexel, "-uc", "f.vx"], folder, stdin=follower,
                      env={"VEXEL_TEST_STOP_AT": "after-bitmap:2"})
        until_stopped(run, "the run from a terminal to stop after its third bitmap")
        assert x.visible_windows() == [], "a window appeared: %r" % x.visible_windows()
        os.kill(run.pid, signal.SIGCONT)
        assert wait_exit(run) == 0, errors(run)
        assert os.path.exists(os.path.join(folder, "f_000002.bmp"))

        asked = x.start([OPTIONS.vexel, "-w", "-uc", "-o=w", "f.vx"], folder, stdin=follower,
                        env={"VEXEL_TEST_STOP_AT": "after-bitmap:2"})
        until_stopped(asked, "the run with -w to stop after its third bitmap")
        window = x.window("Vexel", process=asked)
        x.until_shown(window, shows(FRAMES[1], 540, 960), "the second frame in the window -w asked for",
                      "viewer_unpacking_asked")
        os.kill(asked.pid, signal.SIGCONT)
        closes_with_zero(x, asked, window)
        assert os.path.exists(os.path.join(folder, "w_000002.bmp"))
    finally:
        os.close(leader)
        os.close(follower)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--vexel", required=True)
    parser.add_argument("--send-close", required=True)
    parser.add_argument("--shots")
    parser.add_argument("tests", nargs="*")
    OPTIONS = parser.parse_args()
    OPTIONS.vexel = os.path.abspath(OPTIONS.vexel)
    tests = {name[5:]: f for name, f in globals().items() if name.startswith("test_")}
    chosen = OPTIONS.tests or sorted(tests)
    failed = 0
    for name in chosen:
        if run_scenario(tests[name], OPTIONS.send_close, OPTIONS.shots):
            print("ok   %s" % name)
        else:
            failed += 1
            print("FAIL %s" % name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
