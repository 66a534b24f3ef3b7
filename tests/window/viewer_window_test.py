#!/usr/bin/env python3
"""The viewer as a person meets it: a real SDL window on a virtual display,
driven by keys, clicks and window requests, checked by screenshots.

Usage: viewer_window_test.py --vexel BIN --send-close BIN [--shots DIR] TEST...
With no TEST, runs them all. Exit status 0 when every test passes.
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from make_sample import pixel, write_bitmap  # noqa: E402
from xsession import XSession, wait_exit  # noqa: E402

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


def settle():
    time.sleep(0.4)


def test_bars_keep_the_aspect(x, folder):
    """A 200 x 100 picture in a 400 x 400 client area: drawn 400 x 200 at
    offset 100, black bars of 100 above and below."""
    write_bitmap(os.path.join(folder, "wide.bmp"), 200, 100, lambda px, py: pixel(px, py, 200, 100))
    viewer = x.start([OPTIONS.vexel, "wide.bmp"], folder)
    window = x.window("Vexel", process=viewer)
    x.resize(window, 400, 400)
    settle()
    assert x.geometry(window)[2:] == (400, 400), x.geometry(window)
    shot = x.screenshot(window, "viewer_bars")
    assert len(shot) == 400 and len(shot[0]) == 400
    for y in list(range(0, 97)) + list(range(303, 400)):
        assert all(dark(shot[y][c]) for c in range(0, 400, 7)), "row %d should be a black bar" % y
    for y in range(104, 297, 5):
        assert not any(dark(shot[y][c]) for c in range(0, 400, 7)), "row %d should be picture" % y
    # The picture's top-left and bottom-right corners, scaled twice.
    assert near(shot[101][1], pixel(0, 0, 200, 100), 20), shot[101][1]
    assert near(shot[298][398], pixel(199, 99, 200, 100), 20), shot[298][398]
    x.key(window, "q")
    assert wait_exit(viewer) == 0


def test_right_click_fits_the_window(x, folder):
    write_bitmap(os.path.join(folder, "wide.bmp"), 200, 100, lambda px, py: pixel(px, py, 200, 100))
    viewer = x.start([OPTIONS.vexel, "wide.bmp"], folder)
    window = x.window("Vexel", process=viewer)
    x.resize(window, 400, 400)
    settle()
    x.click(window, 200, 200, button=3)
    settle()
    left, top, width, height = x.geometry(window)
    assert (width, height) == (400, 200), (width, height)
    shot = x.screenshot(window, "viewer_fitted")
    assert not dark(shot[2][200]) and not dark(shot[197][200]), "the bars are gone"
    x.key(window, "Escape")
    assert wait_exit(viewer) == 0


def solid(colour):
    return lambda px, py: colour


FRAMES = [(200, 40, 40), (40, 180, 60), (50, 70, 210)]


def test_space_steps_one_frame_at_a_time(x, folder):
    """A 3-frame .vx without a rate: each space shows the next frame; after
    the last one the window stays until it is closed."""
    for n, colour in enumerate(FRAMES, 1):
        write_bitmap(os.path.join(folder, "f%d.bmp" % n), 64, 48, solid(colour))
    pack(folder, "-c", "f*.bmp")
    viewer = x.start([OPTIONS.vexel, "f.vx"], folder)
    window = x.window("Vexel", process=viewer)
    x.resize(window, 320, 240)
    settle()
    seen = []
    for step in range(4):
        shot = x.screenshot(window, "viewer_step%d" % step)
        seen.append(shot[120][160])
        x.key(window, "space")
        settle()
    for step, colour in enumerate(FRAMES):
        assert near(seen[step], colour), "frame %d shows %s" % (step + 1, seen[step])
    assert near(seen[3], FRAMES[2]), "after the last frame the window keeps it"
    assert viewer.poll() is None, "the window stays after the last frame"
    x.key(window, "q")
    assert wait_exit(viewer) == 0


def test_the_right_arrow_steps_too(x, folder):
    for n, colour in enumerate(FRAMES, 1):
        write_bitmap(os.path.join(folder, "f%d.bmp" % n), 64, 48, solid(colour))
    pack(folder, "-c", "f*.bmp")
    viewer = x.start([OPTIONS.vexel, "f.vx"], folder)
    window = x.window("Vexel", process=viewer)
    settle()
    x.key(window, "Right")
    settle()
    shot = x.screenshot(window)
    assert near(shot[540][960], FRAMES[1]), shot[540][960]
    x.request_close(window)
    assert wait_exit(viewer) == 0


def test_an_empty_wildcard_window_closes_with_one_close(x, folder):
    viewer = x.start([OPTIONS.vexel, "nothing*.bmp"], folder)
    window = x.window("Vexel", process=viewer)
    settle()
    shot = x.screenshot(window, "viewer_empty")
    assert dark(shot[500][900])
    x.request_close(window)
    assert wait_exit(viewer, 5) == 0


def test_the_close_button_and_sigterm_end_viewing_with_zero(x, folder):
    write_bitmap(os.path.join(folder, "p.bmp"), 64, 48, solid((90, 90, 90)))
    viewer = x.start([OPTIONS.vexel, "p.bmp"], folder)
    window = x.window("Vexel", process=viewer)
    x.request_close(window)
    assert wait_exit(viewer) == 0
    viewer = x.start([OPTIONS.vexel, "p.bmp"], folder)
    x.window("Vexel", process=viewer)  # this viewer's window, not the last one's on its way out
    viewer.send_signal(signal.SIGTERM)
    assert wait_exit(viewer) == 0


def test_playing_at_a_rate_plays_and_a_click_pauses(x, folder):
    for n, colour in enumerate(FRAMES, 1):
        write_bitmap(os.path.join(folder, "f%d.bmp" % n), 64, 48, solid(colour))
    pack(folder, "-c", "-a=4", "f*.bmp")
    viewer = x.start([OPTIONS.vexel, "f.vx"], folder)
    window = x.window("Vexel", process=viewer)
    settle()
    x.click(window, 100, 100)  # start playing at 4 frames a second
    time.sleep(1.5)             # three frames in 0.75 s, then the window stays
    shot = x.screenshot(window)
    assert near(shot[540][960], FRAMES[2]), shot[540][960]
    assert viewer.poll() is None
    x.key(window, "q")
    assert wait_exit(viewer) == 0


def test_unpacking_shows_its_frames_without_waiting(x, folder):
    for n, colour in enumerate(FRAMES, 1):
        write_bitmap(os.path.join(folder, "f%d.bmp" % n), 64, 48, solid(colour))
    pack(folder, "-c", "f*.bmp")
    run = x.start([OPTIONS.vexel, "-uc", "f.vx"], folder)
    assert wait_exit(run) == 0
    for n in range(3):
        assert os.path.exists(os.path.join(folder, "f_%06d.bmp" % n))


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
        with tempfile.TemporaryDirectory() as folder, XSession(OPTIONS.send_close, OPTIONS.shots) as x:
            try:
                tests[name](x, folder)
                print("ok   %s" % name)
            except Exception:
                failed += 1
                print("FAIL %s" % name)
                traceback.print_exc()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
