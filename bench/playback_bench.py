#!/usr/bin/env python3
"""Plays clips in the viewer on a virtual display and reports how it keeps up.

The 60-frame 1280 x 720 and 1920 x 1080 pans of bench/photos.py, packed with
the default settings at 30 and at 60 frames per second, and the 3840 x 2160
pan at 30 frames per second, are played in
"vexel CLIP.vx" on Xvfb: the processor time the viewer uses while paused
(two seconds before the first click) and while playing, and the frames
shown and dropped (from the report VEXEL_PLAYBACK_REPORT asks for). Needs
Xvfb, xdotool and ImageMagick (tools/setup.sh installs them).

Usage: bench/playback_bench.py [path/to/vexel]
"""
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "window"))
from xsession import XSession, errors, wait_exit  # noqa: E402

VEXEL = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "vexel"))
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User + system time of a process so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def pack(folder, rate):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    subprocess.run([VEXEL, "-c", "-a=%d" % rate, "pan*.bmp"], cwd=folder, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    os.replace(os.path.join(folder, "pan.vx"), os.path.join(folder, "clip%d.vx" % rate))


def play(x, folder, clip, rate):
    x.env["VEXEL_PLAYBACK_REPORT"] = "1"
    viewer = x.start([VEXEL, clip], folder)
    window = x.window("Vexel")
    time.sleep(0.5)
    paused0 = cpu_seconds(viewer.pid)
    time.sleep(2)
    paused = cpu_seconds(viewer.pid) - paused0
    playing0 = cpu_seconds(viewer.pid)
    x.click(window, 300, 300)
    time.sleep(60 / rate + 1)
    playing = cpu_seconds(viewer.pid) - playing0
    x.key(window, "q")
    code = wait_exit(viewer, 20)
    report = errors(viewer)
    m = re.search(r"(\d+) frames shown, (\d+) dropped, ([\d.]+) s playing", report)
    if code != 0 or not m:
        sys.exit("the viewer failed (%d): %s" % (code, report))
    shown, dropped, seconds = int(m.group(1)), int(m.group(2)), float(m.group(3))
    return paused / 2, playing, shown, dropped, seconds


def main():
    if not os.path.exists(VEXEL):
        sys.exit("build vexel first: %s is missing" % VEXEL)
    listing = subprocess.run([sys.executable, os.path.join(HERE, "photos.py")], check=True,
                             capture_output=True, text=True).stdout.split()
    clips = {"3840 x 2160": listing[-3], "1920 x 1080": listing[-2], "1280 x 720": listing[-1]}
    rates = {"3840 x 2160": (30,)}
    print("%-12s %5s %14s %14s %7s %8s %9s" % ("clip", "rate", "paused cpu/s", "playing cpu", "shown", "dropped",
                                               "seconds"))
    with tempfile.TemporaryDirectory() as work:
        for name, source in sorted(clips.items(), key=lambda kv: int(kv[0].split()[0])):
            folder = os.path.join(work, name.replace(" ", ""))
            os.makedirs(folder)
            for frame in sorted(os.listdir(source)):
                os.symlink(os.path.join(source, frame), os.path.join(folder, frame))
            for rate in rates.get(name, (30, 60)):
                pack(folder, rate)
                with XSession(send_close=None) as x:
                    paused, playing, shown, dropped, seconds = play(x, folder, "clip%d.vx" % rate, rate)
                print("%-12s %5d %13.3fs %13.2fs %7d %8d %9.2f" % (name, rate, paused, playing, shown, dropped,
                                                                  seconds))


if __name__ == "__main__":
    main()
