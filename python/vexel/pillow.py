"""Pillow opens .vx files once this module is imported:

    import vexel.pillow
    from PIL import Image
    clip = Image.open("clip.vx")      # frame 0; n_frames, is_animated
    clip.seek(2)                      # frame 2, decoded after the ones it needs

Pictures are RGB, painted as vexel.read paints them; a clip's frame rate
gives info["duration"] (milliseconds a frame). Reading only: Pillow cannot
save .vx files (vexel.write does).
"""
from PIL import Image, ImageFile

from . import MAGIC, Error, _Reader

FORMAT = "VEXEL"
MIME = "image/x-vexel"


def _accept(prefix):
    # Pillow shows a plugin the file's first 16 bytes; _open checks the rest.
    n = min(len(prefix), len(MAGIC))
    return n >= 8 and prefix[:n] == MAGIC[:n]


class VexelImageFile(ImageFile.ImageFile):
    format = FORMAT
    format_description = "Vexel picture or video"

    def _open(self):
        if self.fp.read(len(MAGIC)) != MAGIC:
            raise SyntaxError("not a .vx file")
        self.fp.seek(0)
        # The reader keeps its own copy of the file, so frames are reached
        # whatever Pillow does with its file afterwards.
        name = getattr(self.fp, "name", None)
        self._reader = _Reader(path=name if isinstance(name, (str, bytes)) else None, data=self.fp.read())
        first = self._reader.record(0)
        self._set_mode("RGB")
        self._size = (first.width, first.height)
        self.n_frames = self._reader.count
        self.is_animated = self.n_frames > 1
        if first.frame_rate > 0:
            self.info["duration"] = 1000.0 / first.frame_rate
        self._frame = 0
        self._loaded = None
        self.tile = []

    def _set_mode(self, mode):
        # Pillow 10.1 made `mode` a property over `_mode`.
        if isinstance(getattr(type(self), "mode", None), property):
            self._mode = mode
        else:
            self.mode = mode

    def seek(self, frame):
        if not self._seek_check(frame):
            return
        record = self._reader.record(frame)
        self._frame = frame
        self._size = (record.width, record.height)
        if self._loaded != frame:
            self.im = None

    def tell(self):
        return self._frame

    def load(self):
        if self._loaded != self._frame or self.im is None:
            pixels = self._reader.decode(self._frame)
            height, width = pixels.shape[:2]
            self.im = Image.frombytes("RGB", (width, height), pixels.tobytes()).im
            self._loaded = self._frame
        return Image.Image.load(self)


Image.register_open(FORMAT, VexelImageFile, _accept)
Image.register_extension(FORMAT, ".vx")
Image.register_mime(FORMAT, MIME)

__all__ = ["VexelImageFile", "FORMAT", "MIME", "Error"]
