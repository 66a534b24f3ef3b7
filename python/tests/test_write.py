"""Writing: vexel.write makes the bytes the program makes for the same
pictures and settings. One picture is "vexel -c [options] picture.bmp";
several are grouped as "vexel -c -g [options] f10.bmp f11.bmp ..." does."""
import os

import numpy
import pytest

import vexel

from conftest import write_bitmap

PICTURE_SETTINGS = [
    ([], {}),
    (["-os"], {"optimize": "smaller"}),
    (["-oq"], {"optimize": "quality"}),
    (["-m=7"], {"mode": 7}),
    (["-m=1"], {"mode": 1}),
    (["-m=9", "-oq"], {"mode": 9, "optimize": "quality"}),
    (["-t=1"], {"streams": 1}),
    (["-t=5"], {"streams": 5}),
    (["-a=30"], {"fps": 30}),
    (["-k"], {"keyframes": "all"}),
]

CLIP_SETTINGS = [
    ([], {}),
    (["-a=25"], {"fps": 25}),
    (["-a=2"], {"fps": 2}),
    (["-a=2.5"], {"fps": 2.5}),
    (["-a=25", "-k"], {"fps": 25, "keyframes": "all"}),
    (["-k"], {"keyframes": "all"}),
    (["-m=7", "-t=3", "-os", "-a=12"], {"mode": 7, "streams": 3, "optimize": "smaller", "fps": 12}),
    (["-m=9", "-oq", "-a=1"], {"mode": 9, "optimize": "quality", "fps": 1}),
    (["-m=1", "-a=25"], {"mode": 1, "fps": 25}),
]


def ident(settings):
    return " ".join(settings) or "defaults"


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.mark.parametrize("options,settings", PICTURE_SETTINGS, ids=[ident(o) for o, _ in PICTURE_SETTINGS])
def test_a_picture_is_written_as_the_program_packs_it(program, photo, tmp_path, options, settings):
    theirs = program.pack(str(tmp_path), [photo], *options, name="photo")
    ours = str(tmp_path / "ours.vx")
    vexel.write(ours, photo, **settings)
    assert read_bytes(ours) == read_bytes(theirs)


@pytest.mark.parametrize("options,settings", CLIP_SETTINGS, ids=[ident(o) for o, _ in CLIP_SETTINGS])
def test_frames_are_written_as_the_program_groups_them(program, clip_frames, tmp_path, options, settings):
    theirs = read_bytes(program.pack(str(tmp_path), clip_frames, *options, name="clip"))
    ours = str(tmp_path / "ours.vx")
    vexel.write(ours, clip_frames, **settings)
    assert read_bytes(ours) == theirs
    # The same frames as a generator and as one array of frames.
    vexel.write(ours, (f for f in clip_frames), **settings)
    assert read_bytes(ours) == theirs
    vexel.write(ours, numpy.stack(clip_frames), **settings)
    assert read_bytes(ours) == theirs


def test_keyframes_and_the_frame_rate_change_the_bytes(clip_frames, tmp_path):
    # Guards the settings above against being ignored alike on both sides.
    written = {}
    for key, settings in (("none", {}), ("25", {"fps": 25}), ("25k", {"fps": 25, "keyframes": "all"}),
                          ("2", {"fps": 2})):
        path = str(tmp_path / ("%s.vx" % key))
        vexel.write(path, clip_frames, **settings)
        written[key] = read_bytes(path)
    assert len(set(written.values())) == 4
    # With one keyframe a second at 25 frames a second, the later frames keep blocks: smaller.
    assert len(written["25"]) < len(written["25k"])
    assert len(written["25"]) < len(written["2"])
    assert [r.frame_rate for r in vexel.info(str(tmp_path / "2.vx"))] == [2.0] * len(clip_frames)


def test_a_wildcard_grouped_by_its_rate_is_written_alike(program, clip_frames, tmp_path):
    for i, frame in enumerate(clip_frames):
        write_bitmap(str(tmp_path / ("frame%04d.bmp" % i)), frame)
    program.run(str(tmp_path), "-c", "-a=25", "frame*.bmp")
    vexel.write(str(tmp_path / "ours.vx"), clip_frames, fps=25)
    assert read_bytes(str(tmp_path / "ours.vx")) == read_bytes(str(tmp_path / "frame.vx"))


def test_the_resolution_is_kept_as_a_bitmaps_is(program, photo, tmp_path):
    theirs = program.pack(str(tmp_path), [photo], name="photo", pixels_per_meter=2835)
    ours = str(tmp_path / "ours.vx")
    vexel.write(ours, photo, pixels_per_meter=(2835, 2835))
    assert read_bytes(ours) == read_bytes(theirs)
    vexel.write(ours, photo)
    assert read_bytes(ours) != read_bytes(theirs)


def test_arrays_that_are_not_contiguous_are_written_as_their_pixels(program, photo, tmp_path):
    mirrored = photo[::-1, ::-1]
    assert not mirrored.flags.c_contiguous
    theirs = program.pack(str(tmp_path), [numpy.ascontiguousarray(mirrored)], name="mirrored")
    ours = str(tmp_path / "ours.vx")
    vexel.write(ours, mirrored)
    assert read_bytes(ours) == read_bytes(theirs)
    # A crop of a larger picture, and a picture held as planes (channels first).
    crop = numpy.zeros((100, 200, 3), numpy.uint8)
    crop[10:87, 30:153] = photo
    vexel.write(ours, crop[10:87, 30:153])
    assert read_bytes(ours) == read_bytes(program.pack(str(tmp_path), [photo], name="photo"))
    planes = numpy.ascontiguousarray(photo.transpose(2, 0, 1))
    vexel.write(ours, planes.transpose(1, 2, 0))
    assert read_bytes(ours) == read_bytes(str(tmp_path / "photo10.vx"))


def test_what_is_written_reads_back_as_the_program_unpacks_it(program, clip_frames, tmp_path):
    path = str(tmp_path / "round.vx")
    vexel.write(path, clip_frames, fps=25)
    for n, (ours, theirs) in enumerate(zip(vexel.frames(path), program.unpack(path))):
        numpy.testing.assert_array_equal(ours, theirs, err_msg="frame %d" % n)


def test_a_file_is_replaced_only_once_the_new_one_is_whole(photo, clip_frames, tmp_path):
    path = str(tmp_path / "kept.vx")
    vexel.write(path, photo)
    before = read_bytes(path)

    def frames_then_a_bad_one():
        yield clip_frames[0]
        yield clip_frames[1]
        yield clip_frames[2].astype(numpy.float32)

    with pytest.raises(vexel.Error, match="dtype float32"):
        vexel.write(path, frames_then_a_bad_one())
    assert read_bytes(path) == before
    assert sorted(os.listdir(str(tmp_path))) == ["kept.vx"]


def test_mode_0_which_the_program_takes_for_its_default_writes_mode_0_records(program, photo, tmp_path):
    # The program reads "-m=0" as no mode given (8); the library writes the
    # mode asked for, which the program unpacks.
    path = str(tmp_path / "zero.vx")
    vexel.write(path, photo, mode=0)
    assert vexel.info(path)[0].mode == 0
    unpacked, = program.unpack(path)
    numpy.testing.assert_array_equal(vexel.read(path), unpacked)


def test_frames_of_different_sizes_are_written_as_the_program_groups_them(program, tmp_path):
    from conftest import picture
    frames = [picture(96, 64), picture(64, 96), picture(96, 64, 5)]
    theirs = program.pack(str(tmp_path), frames, "-a=25", name="sizes")
    ours = str(tmp_path / "ours.vx")
    vexel.write(ours, frames, fps=25)
    assert read_bytes(ours) == read_bytes(theirs)
    got = list(vexel.frames(ours))
    assert [f.shape for f in got] == [(64, 96, 3), (96, 64, 3), (64, 96, 3)]
    for n, (mine, unpacked) in enumerate(zip(got, program.unpack(ours))):
        numpy.testing.assert_array_equal(mine, unpacked, err_msg="frame %d" % n)
