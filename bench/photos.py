#!/usr/bin/env python3
"""Realistic test pictures for the benchmarks, kept out of git in bench/data.

Debian's mate-backgrounds package ships photographs; this fetches it with
apt-get download (no installation), converts a few nature photographs into
24-bit bitmaps (six at 1920 x 1080, five at 3840 x 2160), and makes 60-frame
sequences of 1280 x 720, 1920 x 1080 and 3840 x 2160 by panning across one
of them. Prints the 1080p photographs' folder, the 2160p photographs', the
2160p sequence's, the 1080p sequence's and, last, the 720p sequence's. Needs python3-pil, which it installs when missing.
"""
import glob
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
PHOTOS = ["Dune.jpg", "RainDrops.jpg", "Storm.jpg", "TwoWings.jpg", "Wood.jpg", "Aqua.jpg"]
# The largest photographs (2560 wide) for the 3840 x 2160 set.
PHOTOS_4K = ["Aqua.jpg", "Garden.jpg", "LadyBird.jpg", "TwoWings.jpg", "Wood.jpg"]


def ensure_pil():
    try:
        import PIL  # noqa: F401
    except ImportError:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "python3-pil"], check=True, env=env,
                       stdin=subprocess.DEVNULL, stdout=sys.stderr)
        sys.path.append("/usr/lib/python3/dist-packages")


def fetch():
    extracted = os.path.join(DATA, "deb")
    if glob.glob(os.path.join(extracted, "usr/share/backgrounds/mate/nature/*.jpg")):
        return os.path.join(extracted, "usr/share/backgrounds/mate/nature")
    os.makedirs(DATA, exist_ok=True)
    subprocess.run(["apt-get", "download", "mate-backgrounds"], cwd=DATA, check=True, stdin=subprocess.DEVNULL,
                   stdout=sys.stderr)
    deb = glob.glob(os.path.join(DATA, "mate-backgrounds_*.deb"))[0]
    subprocess.run(["dpkg-deb", "-x", deb, extracted], check=True)
    return os.path.join(extracted, "usr/share/backgrounds/mate/nature")


def fit(image, width, height):
    """Scales to cover width x height and crops the middle."""
    scale = max(width / image.width, height / image.height)
    resized = image.resize((round(image.width * scale), round(image.height * scale)))
    left, top = (resized.width - width) // 2, (resized.height - height) // 2
    return resized.crop((left, top, left + width, top + height))


def main():
    ensure_pil()
    from PIL import Image

    source = fetch()
    out, out4k = os.path.join(DATA, "photos"), os.path.join(DATA, "photos2160")
    for folder, names, width, height in ((out, PHOTOS, 1920, 1080), (out4k, PHOTOS_4K, 3840, 2160)):
        os.makedirs(folder, exist_ok=True)
        for name in names:
            target = os.path.join(folder, os.path.splitext(name)[0] + ".bmp")
            if not os.path.exists(target):
                fit(Image.open(os.path.join(source, name)).convert("RGB"), width, height).save(target)
    # Panning shots: 60 frames of 1280 x 720 (and of 1920 x 1080, 3840 x 2160) moving 8 pixels a frame.
    for folder, width, height in (("pan", 1280, 720), ("pan1080", 1920, 1080), ("pan2160", 3840, 2160)):
        video = os.path.join(DATA, folder)
        os.makedirs(video, exist_ok=True)
        if not os.path.exists(os.path.join(video, "pan0059.bmp")):
            wide = fit(Image.open(os.path.join(source, "Dune.jpg")).convert("RGB"), width + 8 * 60, height)
            for f in range(60):
                wide.crop((8 * f, 0, 8 * f + width, height)).save(os.path.join(video, "pan%04d.bmp" % f))
    print(out)
    print(out4k)
    print(os.path.join(DATA, "pan2160"))
    print(os.path.join(DATA, "pan1080"))
    print(os.path.join(DATA, "pan"))


if __name__ == "__main__":
    main()
