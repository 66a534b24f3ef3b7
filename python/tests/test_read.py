"""Reading: vexel.read, vexel.frames and vexel.info against what the
program unpacks and the settings it packed with."""
import os
import shutil

import numpy
import pytest

import vexel


def copy(path, folder, name):
    target = os.path.join(str(folder), name)
    shutil.copyfile(path, target)
    return target


@pytest.mark.parametrize("options", [[], ["-m=7"], ["-m=1"], ["-m=3"], ["-os"], ["-oq"], ["-t=1"], ["-t=9"]],
                         ids=lambda o: " ".join(o) or "defaults")
def test_a_picture_reads_as_the_program_unpacks_it(program, photo, tmp_path, options):
    path = program.pack(str(tmp_path), [photo], *options, name="photo")
    pixels = vexel.read(path)
    assert pixels.dtype == numpy.uint8 and pixels.shape == (77, 123, 3)
    assert pixels.flags.c_contiguous and pixels.flags.writeable
    unpacked, = program.unpack(path)
    numpy.testing.assert_array_equal(pixels, unpacked)
    # A lossy codec: near the picture, never equal to a picture of something else.
    assert numpy.abs(pixels.astype(int) - photo).mean() < 12


@pytest.mark.parametrize("options", [["-a=25"], ["-a=2"], ["-m=7", "-t=3", "-a=10"], ["-k"], []],
                         ids=lambda o: " ".join(o) or "no rate")
def test_a_clips_frames_read_in_order_as_the_program_unpacks_them(program, clip_frames, tmp_path, options):
    path = program.pack(str(tmp_path), clip_frames, *options, name="clip")
    unpacked = program.unpack(path)
    assert len(unpacked) == len(clip_frames)
    frames = vexel.frames(path)
    assert len(frames) == len(clip_frames)
    got = list(frames)
    assert len(got) == len(unpacked)
    for n, (ours, theirs) in enumerate(zip(got, unpacked)):
        numpy.testing.assert_array_equal(ours, theirs, err_msg="frame %d" % n)
    # Each frame is an array of its own, not one buffer handed out again.
    assert not numpy.array_equal(got[0], got[-1])
    numpy.testing.assert_array_equal(vexel.read(path), unpacked[0])


def test_frames_end_and_close_their_file(packed):
    frames = vexel.frames(packed["clip"])
    first = next(frames)
    frames.close()
    with pytest.raises(StopIteration):
        next(frames)
    with vexel.frames(packed["clip"]) as again:
        numpy.testing.assert_array_equal(next(again), first)


def test_info_gives_each_records_facts(packed, clip_frames, photo):
    size = os.path.getsize(packed["clip"])
    info = vexel.info(packed["clip"])
    assert info.count == len(info) == len(clip_frames) == 6
    assert info.file_size == size and info.broken_at is None
    assert (info.width, info.height, info.frame_rate) == (96, 64, 25.0)
    offset = 0
    for n, record in enumerate(info):
        assert record.index == n
        assert (record.width, record.height, record.mode, record.streams) == (96, 64, 8, 4)
        assert record.frame_rate == 25.0
        assert record.offset == offset and 0 < record.header_size < record.size
        offset += record.size
        # Mode 8 frames after the first may keep blocks of the one before.
        assert record.keyframe == (n == 0)
        assert record.block_size > 0 and record.chroma_step > 0
    assert offset == size

    one = vexel.info(packed["photo"])
    assert one.count == 1 and one[0].size == os.path.getsize(packed["photo"])
    assert (one.width, one.height, one.frame_rate, one[0].keyframe) == (123, 77, 0.0, True)


def test_info_tells_the_mode_and_streams_of_other_settings(program, photo, tmp_path):
    for options, mode, streams in ((["-m=1", "-t=6"], 1, 1), (["-m=5", "-t=7"], 5, 7), (["-m=7"], 7, 4)):
        record, = vexel.info(program.pack(str(tmp_path), [photo], *options, name="m"))
        assert (record.mode, record.streams) == (mode, streams), options


def test_a_path_may_be_bytes_a_pathlike_or_hold_any_letters(packed, tmp_path):
    import pathlib
    named = copy(packed["photo"], tmp_path, "фото с пробелом.vx")
    expected = vexel.read(packed["photo"])
    for path in (named, pathlib.Path(named), os.fsencode(named)):
        numpy.testing.assert_array_equal(vexel.read(path), expected)
    assert vexel.info(pathlib.Path(named)).count == 1


def test_the_readmes_python_example_runs_as_written(program, packed, tmp_path, monkeypatch):
    import re
    from conftest import SOURCE
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        text = f.read()
    section = text.split("\n### Python\n", 1)[1].split("\n#", 1)[0]
    example, = re.findall(r"```python\n(.*?)```", section, re.S)
    assert len(example.strip().splitlines()) == 3
    copy(packed["photo"], tmp_path, "photo.vx")
    monkeypatch.chdir(tmp_path)
    exec(compile(example, "README.md", "exec"), {})
    mirrored = numpy.ascontiguousarray(vexel.read(packed["photo"])[:, ::-1])
    theirs = program.pack(str(tmp_path), [mirrored], "-m=7", name="theirs")
    with open("mirrored.vx", "rb") as a, open(theirs, "rb") as b:
        assert a.read() == b.read()
