#!/usr/bin/env python3
"""The output hash check: the SHA-256 of every .vx file and unpacked bitmap
that a fixed set of pictures and commands gives, compared with the list in
output_hashes.txt beside this script. The format and the encoder's decisions
are fixed, so the list changes only when a change means to change bytes (and
says so).

Usage:
  output_hashes.py --vexel BIN --pack GOLDEN_PACK_BIN [--write] [--keep DIR]

--write replaces the list with what this build gives; --keep leaves the
work folder at DIR for a look. Exit status 0 when every hash matches.
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from make_sample import pixel, write_bitmap  # noqa: E402  (the sample picture and the bitmap writer)

LIST = os.path.join(HERE, "output_hashes.txt")


def sample(width, height):
    cache = {}

    def at(x, y):
        key = (x, y)
        if key not in cache:
            cache[key] = pixel(x, y, width, height)
        return cache[key]
    return at


def clip_frame(frame):
    """Frame 1..4 of a 128 x 96 clip: the sample with a dark square moving
    8 pixels a frame; frame 4 repeats frame 3, so it is kept blocks only."""
    background = sample(128, 96)
    left = 16 + 8 * (min(frame, 3) - 1)

    def at(x, y):
        if left <= x < left + 12 and 40 <= y < 52:
            return (20 + 5 * (x % 3), 30, 60 + 7 * (y % 4))
        return background(x, y)
    return at


class Runner:
    def __init__(self, vexel, pack, work):
        self.vexel = vexel
        self.pack = pack
        self.work = work
        self.inputs = os.path.join(work, "inputs")
        self.hashes = {}
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        self.env = env

    def make_inputs(self):
        os.makedirs(self.inputs)
        write_bitmap(os.path.join(self.inputs, "sample.bmp"), 320, 240, sample(320, 240))
        write_bitmap(os.path.join(self.inputs, "odd.bmp"), 101, 67, sample(101, 67))
        write_bitmap(os.path.join(self.inputs, "wide.bmp"), 2900, 40, sample(2900, 40))
        for f in range(1, 5):
            write_bitmap(os.path.join(self.inputs, "clip%04d.bmp" % f), 128, 96, clip_frame(f))

    def case(self, name, files):
        """A fresh folder holding copies of the named inputs (name -> source path)."""
        folder = os.path.join(self.work, name)
        os.makedirs(folder)
        for target, source in files.items():
            shutil.copyfile(source, os.path.join(folder, target))
        return folder

    def run(self, folder, args, program=None):
        command = [program or self.vexel] + args
        done = subprocess.run(command, cwd=folder, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if done.returncode != 0:
            sys.exit("output_hashes: %s in %s exited %d:\n%s%s" % (
                " ".join(command), os.path.relpath(folder, self.work), done.returncode,
                done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")))

    def record(self, folder, before):
        """Hashes every file the commands made in the folder."""
        for name in sorted(os.listdir(folder)):
            if name in before:
                continue
            with open(os.path.join(folder, name), "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            self.hashes["%s/%s" % (os.path.relpath(folder, self.work), name)] = digest

    def commands(self, name, files, *runs):
        folder = self.case(name, files)
        before = set(os.listdir(folder))
        for args in runs:
            self.run(folder, args)
        self.record(folder, before)
        return folder

    def unpack_both_ways(self, name, vx):
        """-uc with fast and with smooth painting, each in a folder of its own."""
        for paint in ("-f", "-s"):
            self.commands("%s/uc%s" % (name, paint), {"p.vx": vx}, ["-uc", paint, "p.vx"])

    def all_cases(self):
        i = self.inputs
        sample_bmp = os.path.join(i, "sample.bmp")
        # Every mode, every optimisation, one stream and the default four.
        for mode in range(1, 10):
            for optimize in ("-oq", "", "-os"):
                for streams in ("-t=1", ""):
                    name = "m%d%s%s" % (mode, optimize, streams.replace("=", ""))
                    args = ["-c", "-m=%d" % mode] + [a for a in (optimize, streams) if a] + ["sample.bmp"]
                    folder = self.commands(name, {"sample.bmp": sample_bmp}, args)
                    self.unpack_both_ways(name, os.path.join(folder, "sample.vx"))
        # Mode 0 cannot be asked for on the command line ("-m=0" means the default).
        for optimize in (-1, 0, 1):
            for streams in (1, 4):
                name = "m0o%dt%d" % (optimize, streams)
                folder = self.case(name, {"sample.bmp": sample_bmp})
                self.run(folder, ["sample.bmp", "sample.vx", "0", str(streams), str(optimize)], self.pack)
                self.record(folder, {"sample.bmp"})
                self.unpack_both_ways(name, os.path.join(folder, "sample.vx"))
        # Sizes that are not a multiple of the block size.
        odd = os.path.join(i, "odd.bmp")
        for args in (["-m=1"], ["-m=7"], [], ["-m=9"], ["-t=1"], ["-oq"], ["-os", "-m=5"]):
            name = "odd" + "".join(a.replace("=", "") for a in args)
            folder = self.commands(name, {"odd.bmp": odd}, ["-c"] + args + ["odd.bmp"])
            self.unpack_both_ways(name, os.path.join(folder, "odd.vx"))
        # Wider than 1.5 x the reference screen: a larger chroma cell.
        wide = os.path.join(i, "wide.bmp")
        for args in ([], ["-m=7"], ["-oq"], ["-t=1", "-m=9"]):
            name = "wide" + "".join(a.replace("=", "") for a in args)
            folder = self.commands(name, {"wide.bmp": wide}, ["-c"] + args + ["wide.bmp"])
            self.unpack_both_ways(name, os.path.join(folder, "wide.vx"))
        # Grouped clips: no rate, a rate (kept blocks), every frame a keyframe, resized.
        frames = {"clip%04d.bmp" % f: os.path.join(i, "clip%04d.bmp" % f) for f in range(1, 5)}
        clips = {}
        for name, args in (("clip", []), ("clip_a25", ["-a=25"]), ("clip_k", ["-k", "-a=25"]),
                           ("clip_m9a2", ["-m=9", "-a=2"]), ("clip_m3oq", ["-m=3", "-oq", "-a=25"]),
                           ("clip_t1a25", ["-t=1", "-a=25"]), ("clip_r48", ["-r=48", "-a=25"]),
                           ("clip_r", ["-r", "-a=25"])):
            folder = self.commands(name, frames, ["-c"] + args + ["clip*.bmp"])
            clips[name] = os.path.join(folder, "clip.vx")
        # Unpacking, ungrouping and converting a clip with kept blocks.
        video = {"clip.vx": clips["clip_a25"]}
        for name, args in (("uc", ["-uc"]), ("uc_f", ["-uc", "-f"]), ("uc_s", ["-uc", "-s"]),
                           ("uc_r48", ["-uc", "-r=48"]), ("uc_t1", ["-uc", "-t=1"]),
                           ("uc_4", ["-uc", "-4"]), ("uc_44", ["-uc", "-4", "-4"]),
                           ("uc_x", ["-uc", "-x"]), ("uc_xx", ["-uc", "-x", "-x"]),
                           ("ug", ["-ug"]), ("copy", ["-c"]), ("repack", ["-c", "-t=2"]),
                           ("repack_m3", ["-c", "-t=2", "-m=3"]), ("repack_m1", ["-c", "-m=1", "-t"]),
                           ("repack_4", ["-c", "-4"]), ("repack_44", ["-c", "-t", "-4", "-4"]),
                           ("repack_x", ["-c", "-x"]), ("repack_xx", ["-c", "-t", "-x", "-x"])):
            self.commands("a25_" + name, video, args + ["clip.vx"])
        for source in ("clip", "clip_k", "clip_m9a2", "clip_m3oq", "clip_r48"):
            self.commands(source + "_uc", {"clip.vx": clips[source]}, ["-uc", "clip.vx"])
        self.commands("m3oq_repack", {"clip.vx": clips["clip_m3oq"]}, ["-c", "-t=2", "clip.vx"])
        self.commands("m3oq_copy", {"clip.vx": clips["clip_m3oq"]}, ["-c", "clip.vx"])
        # Converted files unpack too.
        for name in ("a25_copy", "a25_repack", "a25_repack_m3", "a25_repack_44", "m3oq_repack"):
            converted = os.path.join(self.work, name, "clip_converted.vx")
            self.commands(name + "_uc", {"c.vx": converted}, ["-uc", "c.vx"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--vexel", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--write", action="store_true")
    parser.add_argument("--keep")
    options = parser.parse_args()

    work = options.keep or tempfile.mkdtemp(prefix="vexel-hashes-")
    if options.keep:
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
    try:
        runner = Runner(os.path.abspath(options.vexel), os.path.abspath(options.pack), work)
        runner.make_inputs()
        runner.all_cases()
        got = runner.hashes
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)

    lines = ["%s  %s\n" % (got[k], k) for k in sorted(got)]
    if options.write:
        with open(LIST, "w") as f:
            f.writelines(lines)
        print("output_hashes: wrote %d entries" % len(lines))
        return 0
    expected = {}
    with open(LIST) as f:
        for line in f:
            digest, name = line.rstrip("\n").split("  ", 1)
            expected[name] = digest
    bad = 0
    for name in sorted(set(expected) | set(got)):
        if expected.get(name) != got.get(name):
            bad += 1
            print("output_hashes: %s: expected %s, got %s" % (
                name, expected.get(name, "(none)"), got.get(name, "(none)")))
    if bad:
        print("output_hashes: %d of %d entries differ" % (bad, len(expected)))
        return 1
    print("output_hashes: all %d entries match" % len(expected))
    return 0


if __name__ == "__main__":
    sys.exit(main())
