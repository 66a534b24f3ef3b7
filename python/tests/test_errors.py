"""Bad input raises vexel.Error with the library's reason, never a crash:
missing, foreign, empty, cut and damaged files, and pictures of the wrong
shape or type."""
import os
import subprocess
import sys

import numpy
import pytest

import vexel

from conftest import PACKAGE

CANNOT_OPEN = "the file cannot be opened, read or written"
NOT_VX = "not a .vx file"


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(folder, name, data):
    path = os.path.join(str(folder), name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def every_reader(path):
    """Each way in, to be refused alike."""
    return [lambda: vexel.read(path), lambda: vexel.info(path), lambda: list(vexel.frames(path))]


def test_an_error_is_an_exception_with_the_librarys_reason(tmp_path):
    assert issubclass(vexel.Error, Exception)
    missing = str(tmp_path / "missing.vx")
    with pytest.raises(vexel.Error) as caught:
        vexel.read(missing)
    assert caught.value.status == 6 and caught.value.reason == CANNOT_OPEN and caught.value.path == missing
    assert str(caught.value) == missing + ": " + CANNOT_OPEN


def test_missing_files_folders_and_foreign_files_are_refused(tmp_path):
    garbage = write_bytes(tmp_path, "garbage.vx", b"these are no pictures\n" * 100)
    bitmap = write_bytes(tmp_path, "picture.vx", b"BM" + bytes(100))
    empty = write_bytes(tmp_path, "empty.vx", b"")
    for path, reason in ((str(tmp_path / "missing.vx"), CANNOT_OPEN), (garbage, NOT_VX), (bitmap, NOT_VX),
                         (empty, NOT_VX), (str(tmp_path), None)):
        for call in every_reader(path):
            with pytest.raises(vexel.Error) as caught:
                call()
            if reason:
                assert caught.value.reason == reason, path
    for path in ("", "a\0b", None, 12):
        with pytest.raises(vexel.Error):
            vexel.read(path)


def test_a_picture_cut_anywhere_is_refused(packed, tmp_path):
    data = read_bytes(packed["photo"])
    header = vexel.info(packed["photo"])[0].header_size
    for length in sorted({1, 8, 16, 17, 40, header - 1, header, header + 1, len(data) // 2, len(data) - 1}):
        path = write_bytes(tmp_path, "cut%d.vx" % length, data[:length])
        calls = every_reader(path)
        if length >= header:
            # A whole header still describes its record; its pixels are not there.
            record, = vexel.info(path)
            assert (record.width, record.height) == (123, 77)
            calls = calls[::2]
        for call in calls:
            with pytest.raises(vexel.Error):
                call()


def test_a_clip_cut_inside_a_later_record_keeps_the_frames_before_it(packed, tmp_path):
    data = read_bytes(packed["clip"])
    records = vexel.info(packed["clip"]).records
    whole = list(vexel.frames(packed["clip"]))
    for record in records[1:]:
        for length in (record.offset + 1, record.offset + record.header_size - 1,
                       record.offset + record.header_size, record.offset + record.size - 1):
            path = write_bytes(tmp_path, "cut%d.vx" % length, data[:length])
            info = vexel.info(path)
            if length < record.offset + record.header_size:
                # The chain ends where the cut header was.
                assert info.count == record.index and info.broken_at == record.offset
            numpy.testing.assert_array_equal(vexel.read(path), whole[0])
            got = []
            with pytest.raises(vexel.Error):
                for frame in vexel.frames(path):
                    got.append(frame)
            assert len(got) == record.index
            for n, frame in enumerate(got):
                numpy.testing.assert_array_equal(frame, whole[n])


def test_damaged_bytes_give_a_picture_or_an_error_never_a_crash(packed, tmp_path):
    # In a child process, so that a crash is a failure with its signal, not
    # the end of the test run.
    script = r"""
import sys, numpy
sys.path.insert(0, sys.argv[1])
import vexel
data = open(sys.argv[2], "rb").read()
shapes = [(r.height, r.width, 3) for r in vexel.info(sys.argv[2])]
outcomes = {"read": 0, "error": 0}
for at in range(0, len(data), max(1, len(data) // 400)):
    for value in (0x00, 0xFF, data[at] ^ 0x5A):
        damaged = bytearray(data)
        damaged[at] = value
        with open(sys.argv[3], "wb") as f:
            f.write(damaged)
        try:
            for n, frame in enumerate(vexel.frames(sys.argv[3])):
                assert frame.dtype == numpy.uint8 and frame.ndim == 3 and frame.shape[2] == 3
            outcomes["read"] += 1
        except vexel.Error:
            outcomes["error"] += 1
print(outcomes["read"], outcomes["error"])
"""
    done = subprocess.run([sys.executable, "-c", script, PACKAGE, packed["clip"], str(tmp_path / "damaged.vx")],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    read, refused = (int(n) for n in done.stdout.split())
    # Damage in a payload still decodes; damage in a header is refused.
    assert read > 0 and refused > 0


@pytest.mark.parametrize("bad", [
    numpy.zeros((8, 8, 3), numpy.float32),
    numpy.zeros((8, 8, 3), numpy.uint16),
    numpy.zeros((8, 8, 3), numpy.int8),
    numpy.zeros((8, 8, 3), bool),
    numpy.zeros((8, 8), numpy.uint8),
    numpy.zeros((8, 8, 4), numpy.uint8),
    numpy.zeros((8, 8, 1), numpy.uint8),
    numpy.zeros((0, 8, 3), numpy.uint8),
    numpy.zeros((8, 0, 3), numpy.uint8),
    numpy.zeros((2, 2, 8, 8, 3), numpy.uint8),
    [[[0, 0, 0]]],
    "picture",
    None,
    [],
    numpy.zeros((0, 8, 8, 3), numpy.uint8),
], ids=["float32", "uint16", "int8", "bool", "no channels", "four channels", "one channel", "no rows",
        "no columns", "5-d", "nested lists", "a string", "none", "no frames", "no frames as an array"])
def test_pictures_of_the_wrong_shape_or_type_are_refused_and_write_nothing(tmp_path, bad):
    path = str(tmp_path / "bad.vx")
    with pytest.raises(vexel.Error):
        vexel.write(path, bad)
    assert os.listdir(str(tmp_path)) == []


@pytest.mark.parametrize("settings", [
    {"mode": 10}, {"mode": -1}, {"mode": 2 ** 32 + 8}, {"mode": "8"}, {"mode": 8.5},
    {"streams": 0}, {"streams": 46}, {"streams": None},
    {"optimize": "size"}, {"optimize": 1}, {"keyframes": "every"}, {"keyframes": True},
    {"fps": -1}, {"fps": float("nan")}, {"fps": float("inf")}, {"fps": 1001}, {"fps": "25"},
    {"pixels_per_meter": 2835}, {"pixels_per_meter": (-1, 0)},
], ids=lambda s: "%s=%r" % next(iter(s.items())))
def test_settings_out_of_range_are_refused(tmp_path, settings):
    with pytest.raises(vexel.Error):
        vexel.write(str(tmp_path / "x.vx"), numpy.zeros((8, 8, 3), numpy.uint8), **settings)
    assert os.listdir(str(tmp_path)) == []


def test_a_folder_that_does_not_exist_cannot_be_written(tmp_path):
    with pytest.raises(vexel.Error) as caught:
        vexel.write(str(tmp_path / "no" / "such.vx"), numpy.zeros((8, 8, 3), numpy.uint8))
    assert caught.value.reason == CANNOT_OPEN


def test_a_library_that_cannot_be_loaded_is_an_error_on_first_use(tmp_path):
    not_a_library = write_bytes(tmp_path, "libvexel.so.1", b"not a library")
    for library in (not_a_library, str(tmp_path / "missing.so")):
        script = ("import sys; sys.path.insert(0, sys.argv[1]); import vexel\n"
                  "try:\n    vexel.read(sys.argv[2])\nexcept vexel.Error as e:\n    print(e)\n")
        done = subprocess.run([sys.executable, "-c", script, PACKAGE, not_a_library],
                              env=dict(os.environ, VEXEL_LIBRARY=library), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        assert done.returncode == 0 and done.stderr == b"", done.stderr.decode(errors="replace")
        assert done.stdout.decode().startswith("libvexel cannot be loaded (VEXEL_LIBRARY names %s)" % library)
