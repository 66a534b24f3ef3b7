"""Pillow opens .vx files once vexel.pillow is imported: by name, by their
first bytes and from file objects, with a clip's frames reached by seek."""
import io
import os
import shutil

import numpy
import pytest
from PIL import Image, UnidentifiedImageError

import vexel
import vexel.pillow  # noqa: F401 (registers the plugin)


def test_the_plugin_is_registered_by_extension_mime_type_and_first_bytes():
    assert Image.registered_extensions()[".vx"] == "VEXEL"
    assert Image.MIME["VEXEL"] == "image/x-vexel"
    assert vexel.pillow._accept(vexel.MAGIC[:16])
    assert not vexel.pillow._accept(b"BM" + bytes(14))
    assert not vexel.pillow._accept(b"")


def test_a_picture_opens_with_the_pixels_vexel_reads(packed):
    with Image.open(packed["photo"]) as image:
        assert (image.format, image.mode, image.size) == ("VEXEL", "RGB", (123, 77))
        assert image.get_format_mimetype() == "image/x-vexel"
        assert image.n_frames == 1 and not image.is_animated
        assert "duration" not in image.info
        numpy.testing.assert_array_equal(numpy.asarray(image), vexel.read(packed["photo"]))
        with pytest.raises(EOFError):
            image.seek(1)


def test_seek_reaches_each_frame_of_a_clip_in_any_order(packed):
    frames = list(vexel.frames(packed["clip"]))
    with Image.open(packed["clip"]) as image:
        assert image.n_frames == len(frames) == 6 and image.is_animated
        assert image.info["duration"] == 40.0  # 25 frames a second
        assert image.tell() == 0
        numpy.testing.assert_array_equal(numpy.asarray(image), frames[0])
        for n in (1, 2, 5, 3, 0, 4, 4):
            image.seek(n)
            assert image.tell() == n
            numpy.testing.assert_array_equal(numpy.asarray(image), frames[n], err_msg="frame %d" % n)
        with pytest.raises(EOFError):
            image.seek(6)
        assert image.tell() == 4


def test_a_file_without_its_extension_and_a_file_object_open_by_their_first_bytes(packed, tmp_path):
    unnamed = str(tmp_path / "no_extension")
    shutil.copyfile(packed["clip"], unnamed)
    with open(packed["clip"], "rb") as f:
        memory = io.BytesIO(f.read())
    frames = list(vexel.frames(packed["clip"]))
    for source in (unnamed, memory):
        with Image.open(source) as image:
            assert image.format == "VEXEL" and image.n_frames == 6
            image.seek(3)
            numpy.testing.assert_array_equal(numpy.asarray(image), frames[3])


def test_a_frame_saves_as_a_png_with_its_pixels(packed, tmp_path):
    png = str(tmp_path / "frame.png")
    with Image.open(packed["clip"]) as image:
        image.seek(2)
        image.save(png)
        image.thumbnail((48, 48))
        assert image.size == (48, 32)
    with Image.open(png) as saved:
        numpy.testing.assert_array_equal(numpy.asarray(saved.convert("RGB")), list(vexel.frames(packed["clip"]))[2])


def test_foreign_and_cut_files_are_refused_without_a_crash(packed, tmp_path):
    garbage = str(tmp_path / "garbage.vx")
    with open(garbage, "wb") as f:
        f.write(b"these are no pictures\n" * 100)
    with pytest.raises(UnidentifiedImageError):
        Image.open(garbage)
    with open(packed["photo"], "rb") as f:
        data = f.read()
    # The magic alone, or a header without its pixels.
    for length in (17, 60, 200):
        cut = str(tmp_path / ("cut%d.vx" % length))
        with open(cut, "wb") as f:
            f.write(data[:length])
        with pytest.raises(vexel.Error):
            with Image.open(cut) as image:
                image.load()
    assert os.path.getsize(packed["photo"]) > 200
