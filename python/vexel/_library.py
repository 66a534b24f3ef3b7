"""libvexel's C interface through ctypes: the library is loaded on first use,
from the path in VEXEL_LIBRARY when that is set, or by the system's loader."""
import ctypes
import os
import threading

SONAME = "libvexel.so.1"
MAJOR = 1

OK = 0
ERROR_ARGUMENT = 1
ERROR_NOT_VX = 2
ERROR_CORRUPT = 3
ERROR_IO = 6

PIXELS_RGB = 0


class Error(Exception):
    """A .vx file could not be read or written. `status` is libvexel's status
    number (None when the check was this package's own), `reason` its text and
    `path` the file concerned (None when there was none)."""

    def __init__(self, reason, status=None, path=None):
        self.reason = reason
        self.status = status
        self.path = path
        super().__init__("%s: %s" % (os.fsdecode(path), reason) if path is not None else reason)


class ReadOptions(ctypes.Structure):
    _fields_ = [
        ("fast_paint", ctypes.c_int),
        ("legacy_flags", ctypes.c_uint),
        ("threads", ctypes.c_uint),
        ("max_pixels", ctypes.c_uint64),
        ("max_memory", ctypes.c_uint64),
    ]


class RecordInfo(ctypes.Structure):
    _fields_ = [
        ("offset", ctypes.c_uint64),
        ("size", ctypes.c_uint64),
        ("header_size", ctypes.c_uint32),
        ("width", ctypes.c_uint32),
        ("height", ctypes.c_uint32),
        ("mode", ctypes.c_uint32),
        ("streams", ctypes.c_uint32),
        ("block_size", ctypes.c_uint32),
        ("chroma_step", ctypes.c_uint32),
        ("frame_rate", ctypes.c_double),
        ("keyframe", ctypes.c_int),
    ]


class WriteOptions(ctypes.Structure):
    _fields_ = [
        ("mode", ctypes.c_uint),
        ("optimize", ctypes.c_int),
        ("streams", ctypes.c_uint),
        ("frame_rate", ctypes.c_double),
        ("all_keyframes", ctypes.c_int),
        ("pixels_per_meter_x", ctypes.c_uint32),
        ("pixels_per_meter_y", ctypes.c_uint32),
    ]


_status = ctypes.c_int
_handle = ctypes.c_void_p
_size = ctypes.c_size_t

# name: (result, argument types)
_SIGNATURES = {
    "vexel_version_number": (ctypes.c_uint, []),
    "vexel_version_string": (ctypes.c_char_p, []),
    "vexel_status_string": (ctypes.c_char_p, [_status]),
    "vexel_read_options_default": (None, [ctypes.POINTER(ReadOptions)]),
    "vexel_reader_open_file": (_status, [ctypes.c_char_p, ctypes.POINTER(ReadOptions), ctypes.POINTER(_handle)]),
    "vexel_reader_open_memory": (_status, [ctypes.c_void_p, _size, ctypes.POINTER(ReadOptions),
                                           ctypes.POINTER(_handle)]),
    "vexel_reader_close": (None, [_handle]),
    "vexel_reader_record_count": (_status, [_handle, ctypes.POINTER(_size)]),
    "vexel_reader_chain_status": (_status, [_handle, ctypes.POINTER(ctypes.c_uint64)]),
    "vexel_reader_data_size": (_status, [_handle, ctypes.POINTER(ctypes.c_uint64)]),
    "vexel_reader_record_info": (_status, [_handle, _size, ctypes.POINTER(RecordInfo)]),
    "vexel_reader_decode": (_status, [_handle, _size, ctypes.c_int, ctypes.c_void_p, _size, _size]),
    "vexel_write_options_default": (None, [ctypes.POINTER(WriteOptions)]),
    "vexel_writer_open_file": (_status, [ctypes.c_char_p, ctypes.POINTER(WriteOptions), ctypes.POINTER(_handle)]),
    "vexel_writer_add_frame": (_status, [_handle, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32, _size,
                                         ctypes.c_int]),
    "vexel_writer_finish": (_status, [_handle]),
    "vexel_writer_close": (None, [_handle]),
}

_lock = threading.Lock()
_library = None


def library():
    """The loaded library with its functions typed; Error when it cannot be
    had or is of another major version."""
    global _library
    with _lock:
        if _library is None:
            _library = _load()
        return _library


def _load():
    path = os.environ.get("VEXEL_LIBRARY")
    name = path if path else SONAME
    try:
        lib = ctypes.CDLL(name)
    except OSError as e:
        where = "VEXEL_LIBRARY names %s" % path if path else "the system's loader finds no %s" % SONAME
        raise Error("libvexel cannot be loaded (%s): %s" % (where, e)) from None
    try:
        for function, (result, arguments) in _SIGNATURES.items():
            f = getattr(lib, function)
            f.restype = result
            f.argtypes = arguments
    except AttributeError as e:
        raise Error("%s is no libvexel: %s" % (name, e)) from None
    version = lib.vexel_version_number()
    if version // 10000 != MAJOR:
        raise Error("%s is libvexel %s; this package needs version %d" %
                    (name, lib.vexel_version_string().decode(), MAJOR))
    return lib


def reason(status):
    return library().vexel_status_string(status).decode("utf-8", "replace")


def check(status, path=None):
    if status != OK:
        raise Error(reason(status), status, path)
