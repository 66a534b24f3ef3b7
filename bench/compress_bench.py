#!/usr/bin/env python3
"""Times "vexel -c" with one and with two threads.

On a 1920 x 1080 picture (a photograph, and a synthetic one) and on a
60-frame 1280 x 720 sequence, with "-t=1" and "-t=2": frames per second,
the speed-up of two threads over one, peak memory (maximum resident set) and
the output size. Usage: bench/compress_bench.py [path/to/vexel]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from make_sample import write_bitmap  # noqa: E402
VEXEL = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "vexel"))
REPEATS = 3
# A wildcard run shows its frames when a display is there: time it without one.
os.environ.pop("DISPLAY", None)
os.environ.pop("WAYLAND_DISPLAY", None)


def synthetic(path, width, height):
    """A smooth gradient with a textured band, as a 24-bit bitmap."""
    def at(x, top):
        y = height - 1 - top
        t = (x * 7 + y * 13) % 50 if height // 3 < y < height // 2 else 0
        return ((90 + (x + y) // 12) % 256, (60 + y // 5 + t) % 256, (40 + x // 8 + t) % 256)
    write_bitmap(path, width, height, at)


def run(args, folder):
    """Best wall time of REPEATS runs and the peak memory of the largest run."""
    best, peak = None, 0
    for _ in range(REPEATS):
        for leftover in [n for n in os.listdir(folder) if n.endswith(".vx")]:
            os.remove(os.path.join(folder, leftover))
        start = time.perf_counter()
        child = subprocess.Popen([VEXEL] + args, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        _, status, usage = os.wait4(child.pid, 0)  # this run's own peak resident set
        elapsed = time.perf_counter() - start
        error = child.stderr.read().decode()
        child.stderr.close()
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit("vexel %s failed: %s" % (" ".join(args), error))
        peak = max(peak, usage.ru_maxrss)
        best = elapsed if best is None else min(best, elapsed)
    size = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder) if n.endswith(".vx"))
    return best, peak / 1024.0, size


def measure(label, folder, name, frames):
    print("\n%s (%d frame%s)" % (label, frames, "" if frames == 1 else "s"))
    print("%-6s %10s %10s %12s %12s" % ("", "seconds", "fps", "peak MiB", "output KiB"))
    times = {}
    for threads in (1, 2):
        seconds, peak, size = run(["-c", "-t=%d" % threads, name], folder)
        times[threads] = seconds
        print("%-6s %10.3f %10.2f %12.1f %12.1f" % ("-t=%d" % threads, seconds, frames / seconds, peak, size / 1024))
    print("speed-up of -t=2 over -t=1: %.2f" % (times[1] / times[2]))


def main():
    if not os.path.exists(VEXEL):
        sys.exit("build vexel first: %s is missing" % VEXEL)
    work = tempfile.mkdtemp(prefix="vexel-bench-")
    try:
        synthetic(os.path.join(work, "synthetic.bmp"), 1920, 1080)
        measure("synthetic 1920 x 1080", work, "synthetic.bmp", 1)
        listing = subprocess.run([sys.executable, os.path.join(HERE, "photos.py")], check=True,
                                 capture_output=True, text=True).stdout.split()
        photos, pan = listing[0], listing[-1]
        for name in sorted(os.listdir(photos)):
            shutil.copy(os.path.join(photos, name), work)
            measure("photograph %s, 1920 x 1080" % name, work, name, 1)
            os.remove(os.path.join(work, name))
        measure("panning sequence, 1280 x 720", pan, "pan*.bmp", 60)
        for leftover in [n for n in os.listdir(pan) if n.endswith(".vx")]:
            os.remove(os.path.join(pan, leftover))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
