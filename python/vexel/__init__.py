"""Reading and writing .vx pictures and videos as numpy arrays, through
libvexel (libvexel.so.1, or the path in VEXEL_LIBRARY when that is set).

    picture = vexel.read("photo.vx")          # height x width x 3, RGB, uint8
    for frame in vexel.frames("clip.vx"): ...
    vexel.write("copy.vx", picture)           # the bytes "vexel -c" writes

Every failure raises vexel.Error with the library's reason.
"""
import ctypes
import dataclasses
import math
import numbers
import os
from typing import Optional, Tuple

import numpy

from . import _library
from ._library import Error

__all__ = ["Error", "Info", "Record", "read", "frames", "info", "write", "library_version"]
__version__ = "1.54.0"

# Every .vx file starts with its first record's magic.
MAGIC = b"!VEXEL_IMAGE_FILE"


def library_version():
    """The loaded libvexel's version, as "1.54.0"."""
    return _library.library().vexel_version_string().decode()


def _path_bytes(path):
    try:
        encoded = os.fsencode(path)
    except TypeError:
        raise Error("a path is a str, bytes or os.PathLike, not %s" % type(path).__name__) from None
    if not encoded or b"\0" in encoded:
        raise Error("%r is no file name" % (path,))
    return encoded


@dataclasses.dataclass(frozen=True)
class Record:
    """One frame record of a .vx file."""
    index: int
    offset: int         # of its first byte in the file
    size: int           # bytes
    header_size: int
    width: int
    height: int
    mode: int           # codec mode 0..9
    streams: int        # payload streams
    block_size: int
    chroma_step: int
    frame_rate: float   # frames per second; 0.0 when the record has none
    keyframe: bool      # False: it may keep blocks of the frame before it


@dataclasses.dataclass(frozen=True)
class Info:
    """The records of a .vx file, in order."""
    records: Tuple[Record, ...]
    file_size: int
    # Where a link of the chain leads to something that is no record (the
    # records before it are readable); None when the chain is whole.
    broken_at: Optional[int] = None

    @property
    def count(self):
        return len(self.records)

    @property
    def width(self):
        return self.records[0].width

    @property
    def height(self):
        return self.records[0].height

    @property
    def frame_rate(self):
        return self.records[0].frame_rate

    def __len__(self):
        return len(self.records)

    def __iter__(self):
        return iter(self.records)

    def __getitem__(self, index):
        return self.records[index]


class _Reader:
    """An open libvexel reader: over a file by its path, or over bytes."""

    _handle = None

    def __init__(self, path=None, data=None, fast_paint=False):
        lib = _library.library()
        self._lib = lib
        self.path = path
        self._handle = ctypes.c_void_p()
        options = _library.ReadOptions()
        lib.vexel_read_options_default(ctypes.byref(options))
        options.fast_paint = 1 if fast_paint else 0
        if data is None:
            status = lib.vexel_reader_open_file(_path_bytes(path), ctypes.byref(options), ctypes.byref(self._handle))
        else:
            data = bytes(data)
            status = lib.vexel_reader_open_memory(data, len(data), ctypes.byref(options), ctypes.byref(self._handle))
        _library.check(status, path)
        count = ctypes.c_size_t()
        self._check(lib.vexel_reader_record_count(self._handle, ctypes.byref(count)))
        self.count = count.value
        self._records = [None] * self.count

    def _check(self, status):
        if status != _library.OK:
            raise Error(_library.reason(status), status, self.path)

    def close(self):
        if self._handle:
            self._lib.vexel_reader_close(self._handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        self.close()

    def _live(self):
        if not self._handle:
            raise Error("the file was closed", path=self.path)
        return self._handle

    def record(self, index):
        if not 0 <= index < self.count:
            raise Error(_library.reason(7), 7, self.path)  # VEXEL_ERROR_RANGE
        if self._records[index] is None:
            c = _library.RecordInfo()
            self._check(self._lib.vexel_reader_record_info(self._live(), index, ctypes.byref(c)))
            self._records[index] = Record(index, c.offset, c.size, c.header_size, c.width, c.height, c.mode,
                                          c.streams, c.block_size, c.chroma_step, c.frame_rate, bool(c.keyframe))
        return self._records[index]

    def broken_at(self):
        """The offset of a link that leads to no record, or None."""
        offset = ctypes.c_uint64()
        if self._lib.vexel_reader_chain_status(self._live(), ctypes.byref(offset)) == _library.OK:
            return None
        return offset.value

    def data_size(self):
        size = ctypes.c_uint64()
        self._check(self._lib.vexel_reader_data_size(self._live(), ctypes.byref(size)))
        return size.value

    def decode(self, index):
        """Record `index` as a height x width x 3 RGB array."""
        r = self.record(index)
        pixels = numpy.empty((r.height, r.width, 3), dtype=numpy.uint8)
        self._check(self._lib.vexel_reader_decode(self._live(), index, _library.PIXELS_RGB, pixels.ctypes.data,
                                                  r.width * 3, pixels.nbytes))
        return pixels

    def check_chain(self):
        at = self.broken_at()
        if at is not None:
            raise Error("the link after record %d leads to byte %d: %s" % (self.count - 1, at,
                                                                          _library.reason(_library.ERROR_NOT_VX)),
                        _library.ERROR_NOT_VX, self.path)


def read(path):
    """The picture of a .vx file, or the first frame of a clip: a numpy array
    of height x width x 3 uint8, RGB, rows from the top, painted as
    "vexel -uc" paints it."""
    with _Reader(path) as reader:
        return reader.decode(0)


class Frames:
    """The frames of a .vx file in order, each a height x width x 3 RGB
    array (a frame may keep blocks of the one before it, so they are decoded
    one after another). len() is the number of frames. After the last one,
    a chain whose next link leads to no record raises Error."""

    def __init__(self, path):
        self._reader = _Reader(path)
        self._next = 0

    def __len__(self):
        return self._reader.count

    def __iter__(self):
        return self

    def __next__(self):
        if not self._reader._handle:
            raise StopIteration  # closed, or at the end
        if self._next >= self._reader.count:
            try:
                self._reader.check_chain()
            finally:
                self._reader.close()
            raise StopIteration
        try:
            frame = self._reader.decode(self._next)
        except Error:
            self._reader.close()
            raise
        self._next += 1
        return frame

    def close(self):
        """Ends the iteration and closes the file."""
        self._reader.close()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()


def frames(path):
    """An iterator over the frames of a .vx file (see Frames); the file is
    opened, and refused with Error, at once."""
    return Frames(path)


def info(path):
    """The records' facts (size, mode, frame rate, streams, keyframes) of a
    .vx file, as an Info."""
    with _Reader(path) as reader:
        return Info(tuple(reader.record(i) for i in range(reader.count)), reader.data_size(), reader.broken_at())


_OPTIMIZE = {"smaller": 1, "default": 0, "quality": -1}
_KEYFRAMES = {"auto": 0, "all": 1}


def _picture(array, index, path):
    if not isinstance(array, numpy.ndarray):
        raise Error("picture %d is a %s, not a numpy array" % (index, type(array).__name__), path=path)
    if array.dtype != numpy.uint8:
        raise Error("picture %d has dtype %s; a picture is uint8" % (index, array.dtype), path=path)
    if array.ndim != 3 or array.shape[2] != 3:
        raise Error("picture %d has shape %s; a picture is height x width x 3 (RGB)" % (index, array.shape), path=path)
    if array.shape[0] < 1 or array.shape[1] < 1:
        raise Error("picture %d is empty (shape %s)" % (index, array.shape), path=path)
    return numpy.ascontiguousarray(array)


def write(path, array_or_frames, mode=8, streams=4, optimize="default", fps=None, keyframes="auto",
          pixels_per_meter=(0, 0)):
    """Writes a .vx file of one picture (a height x width x 3 uint8 RGB
    array) or of several frames (an iterable of such arrays, or one array of
    frames x height x width x 3), with the bytes "vexel -c" writes for the
    same pictures and settings: `mode` as -m, `streams` as -t, `optimize`
    "smaller" or "quality" as -os or -oq, `fps` as -a (None: no frame rate)
    and keyframes="all" as -k. `pixels_per_meter` is the resolution kept in
    the records, as a bitmap's is. The file takes the name `path` only once
    it is whole; on Error an existing file there is left as it was."""
    if optimize not in _OPTIMIZE:
        raise Error("optimize is \"smaller\", \"default\" or \"quality\", not %r" % (optimize,))
    if keyframes not in _KEYFRAMES:
        raise Error("keyframes is \"auto\" or \"all\", not %r" % (keyframes,))
    if fps is not None and not (isinstance(fps, numbers.Real) and math.isfinite(fps) and fps >= 0):
        raise Error("fps is a number of frames per second, not %r" % (fps,))
    if isinstance(array_or_frames, numpy.ndarray) and array_or_frames.ndim != 4:
        pictures = [array_or_frames]
    else:
        try:
            pictures = iter(array_or_frames)
        except TypeError:
            raise Error("write takes a picture array or an iterable of them, not %s" %
                        type(array_or_frames).__name__) from None
    try:
        ppm_x, ppm_y = (int(v) for v in pixels_per_meter)
    except (TypeError, ValueError):
        raise Error("pixels_per_meter is a pair of whole numbers, not %r" % (pixels_per_meter,)) from None

    if not all(isinstance(v, numbers.Integral) for v in (mode, streams)):
        raise Error("mode and streams are whole numbers, not %r and %r" % (mode, streams))

    lib = _library.library()
    options = _library.WriteOptions()
    lib.vexel_write_options_default(ctypes.byref(options))
    options.mode = int(mode) & 0xFFFFFFFF
    options.streams = int(streams) & 0xFFFFFFFF
    options.optimize = _OPTIMIZE[optimize]
    options.frame_rate = float(fps or 0)
    options.all_keyframes = _KEYFRAMES[keyframes]
    if not (0 <= ppm_x < 2 ** 31 and 0 <= ppm_y < 2 ** 31) or options.mode != mode or options.streams != streams:
        raise Error("mode %r, streams %r or pixels_per_meter %r is out of range" % (mode, streams, pixels_per_meter))
    encoded = _path_bytes(path)
    options.pixels_per_meter_x, options.pixels_per_meter_y = ppm_x, ppm_y
    writer = ctypes.c_void_p()
    _library.check(lib.vexel_writer_open_file(encoded, ctypes.byref(options), ctypes.byref(writer)), path)
    try:
        count = 0
        for array in pictures:
            array = _picture(array, count, path)
            height, width = array.shape[:2]
            _library.check(lib.vexel_writer_add_frame(writer, array.ctypes.data, width, height, width * 3,
                                                      _library.PIXELS_RGB), path)
            count += 1
        if count == 0:
            raise Error("there is no picture to write", path=path)
        _library.check(lib.vexel_writer_finish(writer), path)
    finally:
        lib.vexel_writer_close(writer)
