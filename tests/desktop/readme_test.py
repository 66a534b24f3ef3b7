#!/usr/bin/env python3
"""The README's "Use it" commands, run as written: every line of its `sh`
blocks, in order, in one folder holding photo.bmp and frame0001.bmp ...
frame0003.bmp, with the built programs first on the PATH and no display.
The viewer's lines (marked "# viewer") are the window tests' business.

Usage: readme_test.py --build DIR --source DIR
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile


def use_it_commands(readme):
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    section = text.split("\n## Use it\n", 1)[1].split("\n## ", 1)[0]
    commands = []
    for block in re.findall(r"```sh\n(.*?)```", section, re.S):
        for line in block.splitlines():
            if line.strip() and "# viewer" not in line:
                commands.append(line)
    return commands


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    options = parser.parse_args()
    build, source = os.path.abspath(options.build), os.path.abspath(options.source)
    commands = use_it_commands(os.path.join(source, "README.md"))
    assert len(commands) >= 10, commands
    env = dict(os.environ, PATH=build + os.pathsep + os.environ["PATH"])
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    sys.path.insert(0, os.path.join(source, "tools"))
    from make_sample import pixel, write_bitmap
    with tempfile.TemporaryDirectory() as folder:
        write_bitmap(os.path.join(folder, "photo.bmp"), 320, 240, lambda x, y: pixel(x, y, 320, 240))
        for n in range(1, 4):
            write_bitmap(os.path.join(folder, "frame%04d.bmp" % n), 160, 120,
                         lambda x, y, n=n: pixel(x + 6 * n, y, 200, 120))
        for command in commands:
            done = subprocess.run(["bash", "-c", "set -o pipefail; " + command], cwd=folder, env=env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            print("$ %s  -> %d" % (command, done.returncode))
            if done.returncode != 0:
                print(done.stdout.decode(errors="replace") + done.stderr.decode(errors="replace"))
                return 1
        for made in ("photo.vx", "frame.vx", "photo_000000.bmp", "frame_000002.bmp", "frame_000000.vx",
                     "frame_converted.vx", "frame_converted_converted.vx", "photo.png", "frame0003.vx",
                     "named.vx", "shot_000002.bmp", "clip.vx", "thumb.png"):
            if not os.path.exists(os.path.join(folder, made)):
                print("the README's commands did not write %s" % made)
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
