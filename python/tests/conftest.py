"""What the Python package's tests share: the built program (VEXEL_BIN or
--vexel), the library (VEXEL_LIBRARY, else the system's loader), bitmaps
read and written with numpy, and pictures to pack.

The package is imported from this source tree; test_install.py checks the
installed one."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.dirname(HERE)
SOURCE = os.path.dirname(PACKAGE)
sys.path.insert(0, PACKAGE)
sys.path.insert(0, os.path.join(SOURCE, "tools"))
# The library's path holds when a test runs from another folder.
if os.environ.get("VEXEL_LIBRARY"):
    os.environ["VEXEL_LIBRARY"] = os.path.abspath(os.environ["VEXEL_LIBRARY"])

from make_sample import pixel  # noqa: E402


def pytest_addoption(parser):
    parser.addoption("--vexel", default=os.environ.get("VEXEL_BIN"), help="the built vexel program (VEXEL_BIN)")


def headless():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def write_bitmap(path, rgb, pixels_per_meter=0):
    """A bottom-up 24-bit bitmap of an H x W x 3 RGB array, rows padded to 4 bytes."""
    height, width, _ = rgb.shape
    stride = (width * 3 + 3) // 4 * 4
    rows = numpy.zeros((height, stride), dtype=numpy.uint8)
    rows[:, :width * 3] = rgb[::-1, :, ::-1].reshape(height, width * 3)
    data = rows.tobytes()
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), pixels_per_meter,
                            pixels_per_meter, 0, 0))
        f.write(data)


def read_bitmap(path):
    """The pixels of a bottom-up 24-bit bitmap as an H x W x 3 RGB array, rows from the top."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"BM", path
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    assert bits == 24 and width > 0 and height > 0, path
    stride = (width * 3 + 3) // 4 * 4
    rows = numpy.frombuffer(data, dtype=numpy.uint8, count=stride * height, offset=offset).reshape(height, stride)
    return numpy.ascontiguousarray(rows[::-1, :width * 3].reshape(height, width, 3)[:, :, ::-1])


def picture(width, height, shift=0):
    """The sample picture (a sky, a sun, a textured ground, strokes), moved `shift` pixels left."""
    return numpy.array([[pixel(x + shift, y, width, height) for x in range(width)] for y in range(height)],
                       dtype=numpy.uint8)


class Program:
    """The built vexel program, run in a folder without a display."""

    def __init__(self, path):
        self.path = path

    def run(self, folder, *arguments):
        done = subprocess.run([self.path] + list(arguments), cwd=folder, env=headless(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        assert done.returncode == 0, "vexel %s exited %d: %s" % (" ".join(arguments), done.returncode,
                                                                  done.stdout.decode(errors="replace"))
        return done

    def pack(self, folder, pictures, *options, name="f", pixels_per_meter=0):
        """`vexel -c [options] NAME10.bmp ...` over bitmaps of the pictures; with
        more than one, -g groups them into NAME10.vx. Its path."""
        names = []
        for i, rgb in enumerate(pictures):
            names.append("%s%d.bmp" % (name, 10 + i))
            write_bitmap(os.path.join(folder, names[-1]), rgb, pixels_per_meter)
        group = ["-g"] if len(pictures) > 1 else []
        self.run(folder, "-c", *group, *options, *names)
        return os.path.join(folder, "%s10.vx" % name)

    def unpack(self, path):
        """`vexel -uc PATH`: its bitmaps' pixels, frame by frame. It runs on
        a copy in a folder of its own, since the program keeps bitmaps that
        are there."""
        folder = tempfile.mkdtemp(prefix="unpack", dir=os.path.dirname(path))
        name = os.path.basename(path)
        shutil.copyfile(path, os.path.join(folder, name))
        stem = os.path.splitext(name)[0]
        self.run(folder, "-uc", name)
        frames = []
        while os.path.exists(os.path.join(folder, "%s_%06d.bmp" % (stem, len(frames)))):
            frames.append(read_bitmap(os.path.join(folder, "%s_%06d.bmp" % (stem, len(frames)))))
        assert frames, "vexel -uc %s wrote no bitmap" % name
        return frames


@pytest.fixture(scope="session")
def program(request):
    path = request.config.getoption("--vexel")
    if not path:
        pytest.fail("give the built program with --vexel or VEXEL_BIN")
    assert os.access(path, os.X_OK), path
    return Program(os.path.abspath(path))


@pytest.fixture(scope="session")
def photo():
    """An odd-sized picture: its bitmap rows carry padding."""
    return picture(123, 77)


@pytest.fixture(scope="session")
def clip_frames():
    """Six frames of a slow pan: later frames can keep blocks of earlier ones."""
    return [picture(96, 64, 3 * i) for i in range(6)]


@pytest.fixture(scope="session")
def packed(program, photo, clip_frames, tmp_path_factory):
    """A picture and a clip (25 frames a second: one keyframe) packed by the program."""
    folder = str(tmp_path_factory.mktemp("packed"))
    return {"photo": program.pack(folder, [photo], name="photo"),
            "clip": program.pack(folder, clip_frames, "-a=25", name="clip")}
