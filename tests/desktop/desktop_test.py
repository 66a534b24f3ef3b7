#!/usr/bin/env python3
"""Vexel on a Linux desktop, as a user and a file manager meet it: the
installed layout, the man page, the desktop entry, the MIME type, the
thumbnailer run through its own entry's Exec line, and the probe.

Usage: desktop_test.py --build DIR --source DIR TEST...
"""
import argparse
import gzip
import json
import os
import re
import shlex
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import traceback

OPTIONS = None


def run(command, cwd=None, env=None, check=True):
    done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    if check and done.returncode != 0:
        raise AssertionError("%s exited %d: %s%s" % (" ".join(command), done.returncode,
                                                       done.stdout.decode(errors="replace"),
                                                       done.stderr.decode(errors="replace")))
    return done


def headless():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def install(prefix, components=("vexel", "libvexel1")):
    for component in components:
        run(["cmake", "--install", OPTIONS.build, "--prefix", prefix, "--component", component])
    return prefix


def bitmap_rgb(path):
    """The pixels of a bottom-up 24-bit bitmap as RGB rows from the top."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    row = (width * 3 + 3) // 4 * 4
    out = bytearray()
    for y in range(height - 1, -1, -1):
        line = data[offset + y * row: offset + y * row + width * 3]
        for x in range(width):
            out += bytes((line[3 * x + 2], line[3 * x + 1], line[3 * x]))
    return bytes(out)


def sample(folder, name="sample.bmp", size=(320, 240)):
    run([sys.executable, os.path.join(OPTIONS.source, "tools", "make_sample.py"), os.path.join(folder, name),
         str(size[0]), str(size[1])])
    return os.path.join(folder, name)


def clip(folder, frames=3, rate="25"):
    """A grouped clip of the sample picture shifted frame by frame."""
    sys.path.insert(0, os.path.join(OPTIONS.source, "tools"))
    from make_sample import pixel, write_bitmap
    for f in range(frames):
        write_bitmap(os.path.join(folder, "f%d.bmp" % (10 + f)), 96, 64,
                     lambda x, y, f=f: pixel(x + 4 * f, y, 140, 64))
    run([OPTIONS.vexel, "-c", "-a=" + rate, "f*.bmp"], cwd=folder, env=headless())
    return os.path.join(folder, "f.vx")


def test_the_install_keeps_the_program_its_library_and_table_together(folder):
    prefix = install(os.path.join(folder, "p"))
    home = os.path.join(prefix, "lib", "vexel")
    for program in ("vexel", "vexel-probe", "vexel-thumbnailer"):
        link = os.path.join(prefix, "bin", program)
        assert os.path.islink(link) and os.readlink(link) == "../lib/vexel/" + program, link
        assert os.access(os.path.join(home, program), os.X_OK)
    with open(os.path.join(home, "Ansi1251.wcs"), "rb") as f:
        assert len(f.read()) == 512
    # An installed program never writes into its own folder, which users cannot write.
    before = sorted(os.listdir(home))
    os.chmod(home, stat.S_IRUSR | stat.S_IXUSR)
    try:
        work = os.path.join(folder, "w")
        os.makedirs(work)
        sample(work)
        run([os.path.join(prefix, "bin", "vexel"), "-c", "sample.bmp"], cwd=work, env=headless())
        run([os.path.join(prefix, "bin", "vexel"), "-uc", "sample.vx"], cwd=work, env=headless())
        assert os.path.exists(os.path.join(work, "sample_000000.bmp"))
    finally:
        os.chmod(home, stat.S_IRWXU)
    assert sorted(os.listdir(home)) == before


def english_locale_installed():
    names = run(["locale", "-a"], check=False).stdout.decode(errors="replace").split()
    return any(n.lower().replace("-", "") == "en_us.utf8" for n in names)


def test_the_installed_program_speaks_english_where_the_locale_asks(folder):
    # The catalogue is installed where the program finds it from its own
    # folder, whatever the prefix; the C locale keeps the Russian texts.
    prefix = install(os.path.join(folder, "p"))
    assert os.path.isfile(os.path.join(prefix, "share", "locale", "en", "LC_MESSAGES", "vexel.mo"))
    env = headless()
    for name in ("VEXEL_LOCALEDIR", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"):
        env.pop(name, None)
    vexel = os.path.join(prefix, "bin", "vexel")
    russian = run([vexel, "-c", "missing.bmp"], cwd=folder, env=dict(env, LANG="C"), check=False)
    assert russian.returncode == 1, russian
    assert russian.stderr.decode() == "Ошибка: Не удаётся загрузить файл:\nmissing.bmp\nNo such file or directory\n"
    if not english_locale_installed():
        print("SKIP the English half: the locale en_US.UTF-8 is not installed (tools/setup.sh generates it)")
        return
    english = run([vexel, "-c", "missing.bmp"], cwd=folder, env=dict(env, LANG="en_US.UTF-8"), check=False)
    assert english.returncode == 1, english
    assert english.stderr.decode() == "Error: Cannot load the file:\nmissing.bmp\nNo such file or directory\n", \
        english.stderr


def test_a_run_without_a_window_loads_no_window_library(folder):
    # The window libraries are loaded only when a window is wanted: packing
    # (which opens none, even with a display named) and unpacking without a
    # display start as fast as a small tool does.
    vexel = OPTIONS.vexel
    needed = run(["readelf", "-d", vexel]).stdout.decode()
    assert "libSDL2" not in needed, needed
    sample(folder)
    for args, env in ((["-c", "sample.bmp"], dict(os.environ, DISPLAY=":99")), (["-uc", "sample.vx"], headless())):
        loaded = run([vexel] + args, cwd=folder, env=dict(env, LD_DEBUG="files")).stderr.decode(errors="replace")
        assert "libc.so" in loaded and "libSDL2" not in loaded, loaded[-2000:]
    # Where no display is named the viewer says so and loads nothing either.
    shown = run([vexel, "sample.vx"], cwd=folder, env=dict(headless(), LD_DEBUG="files"), check=False)
    assert shown.returncode == 1 and b"libSDL2" not in shown.stderr


def test_a_display_that_cannot_be_reached_ends_viewing_with_a_message(folder):
    # A named display whose server turns the program away (none listens
    # there) is no display: the viewer and its message box say so at the
    # terminal and end, instead of waiting for ever on a window nobody sees.
    number = next(n for n in range(7391, 7491) if unreachable(n))
    sample(folder)
    env = dict(headless(), DISPLAY=":%d" % number, XDG_RUNTIME_DIR="")
    for args in (["sample.bmp"], ["nothing*.bmp"]):
        try:
            shown = subprocess.run([OPTIONS.vexel] + args, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s on an unreachable display still runs after a minute" % args) from None
        said = shown.stderr.decode(errors="replace")
        assert shown.returncode == 1 and "Не удаётся открыть окно просмотра" in said, (args, shown.returncode, said)


def unreachable(number):
    """True when no X server takes connections as display :number."""
    for address in ("\0/tmp/.X11-unix/X%d" % number, "/tmp/.X11-unix/X%d" % number):
        with socket.socket(socket.AF_UNIX) as s:
            try:
                s.connect(address)
                return False
            except OSError:
                pass
    return True


def cyrillic_messages():
    """Every Russian text the program can show, from its sources, cut at its line breaks."""
    pieces = set()
    for area in ("app", "base", "codec", "display", "ui", "platform"):
        for root, _, files in os.walk(os.path.join(OPTIONS.source, area)):
            for name in files:
                if not name.endswith((".cpp", ".h")):
                    continue
                with open(os.path.join(root, name), encoding="utf-8") as f:
                    for literal in re.findall(r'u"((?:[^"\\]|\\.)*)"', f.read()):
                        if not re.search("[А-Яа-яЁё]", literal):
                            continue
                        for piece in re.split(r"\\r|\\n", literal):
                            piece = piece.strip(" ,")
                            if len(piece) > 2:
                                pieces.add(piece)
    return pieces


def test_the_man_page_renders_and_glosses_every_russian_message(folder):
    page = os.path.join(OPTIONS.source, "packaging", "vexel.1")
    done = run(["man", "--warnings", "-l", page], env=dict(os.environ, MANWIDTH="80", MAN_KEEP_STDERR="1"))
    assert done.stderr.decode().strip() == "", done.stderr.decode()
    text = done.stdout.decode()
    for needed in ("EXIT STATUS", "130", "143", "OUTPUT NAMES", "EXAMPLES", "x_converted.vx", "vexel-probe"):
        assert needed in text, needed
    with open(page, encoding="utf-8") as f:
        source = " ".join(f.read().split())
    missing = [p for p in sorted(cyrillic_messages()) if " ".join(p.split()) not in source]
    assert not missing, "the man page does not gloss: %r" % missing
    for option in ("-c", "-uc", "-os", "-oq", "-g", "-ug", "-a=", "-m=", "-t=", "-r=", "-k", "-f", "-s", "-4", "-x", "-h"):
        assert "\\" + option in source or option in source, option


def test_the_companion_programs_man_pages_render_and_name_every_option(folder):
    # Each installed man page is the source page, compressed without a name
    # or a time; it renders without a warning, and names every option its
    # program's --help lists and the program's exit statuses.
    prefix = install(os.path.join(folder, "p"))
    man1 = os.path.join(prefix, "share", "man", "man1")
    for program, statuses in (("vexel", ()), ("vexel-probe", ("0", "1", "2", "64")),
                              ("vexel-thumbnailer", ("0", "1", "64"))):
        source = os.path.join(OPTIONS.source, "packaging", program + ".1")
        installed = os.path.join(man1, program + ".1.gz")
        assert not os.path.exists(os.path.join(man1, program + ".1")), program
        with open(installed, "rb") as f:
            packed = f.read()
        assert packed[:2] == b"\x1f\x8b" and packed[4:8] == b"\0\0\0\0" and not packed[3] & 0x08, program
        with open(source, "rb") as f:
            assert gzip.decompress(packed) == f.read(), program
        if not statuses:
            continue
        done = run(["man", "--warnings", "-l", installed], env=dict(os.environ, MANWIDTH="80", MAN_KEEP_STDERR="1"))
        assert done.stderr.decode().strip() == "", done.stderr.decode()
        text = done.stdout.decode()
        usage = run([os.path.join(OPTIONS.build, program), "--help"]).stdout.decode()
        options = set(re.findall(r"(?<![\w-])(--?[a-z]+)", usage)) | {"--help", "--version"}
        assert len(options) >= 3, usage
        for option in sorted(options):
            assert option in text, (program, option)
        assert "EXIT STATUS" in text, program
        for status in statuses:
            assert re.search(r"^ +%s\s" % status, text, re.M), (program, status)
        version = run([os.path.join(OPTIONS.build, program), "--version"]).stdout.decode().split()[-1]
        # The page's header names the release the program reports (1.54 for 1.54.0).
        page_version = re.search(r"Vexel (\d+\.\d+)", text).group(1)
        assert (version + ".").startswith(page_version + "."), (program, version, page_version)


def test_the_desktop_entry_opens_vx_bmp_png_and_jpeg_files_in_the_viewer(folder):
    prefix = install(os.path.join(folder, "p"))
    entry = os.path.join(prefix, "share", "applications", "vexel.desktop")
    run(["desktop-file-validate", entry])
    with open(entry) as f:
        fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    assert fields["NoDisplay"] == "true"
    assert fields["Exec"].split()[0] == "vexel"
    assert set(fields["MimeType"].strip(";").split(";")) == {"image/x-vexel", "image/bmp", "image/png", "image/jpeg"}


def test_the_mime_type_knows_vx_files_by_name_and_by_their_first_bytes(folder):
    prefix = install(os.path.join(folder, "p"))
    mime = os.path.join(prefix, "share", "mime")
    run(["update-mime-database", mime])
    assert os.path.exists(os.path.join(mime, "image", "x-vexel.xml"))
    with open(os.path.join(mime, "globs2")) as f:
        assert any(line.strip().endswith(":image/x-vexel:*.vx") for line in f)
    with open(os.path.join(mime, "magic"), "rb") as f:
        magic = f.read()
    assert b"[80:image/x-vexel]" in magic and b"!VEXEL_IMAGE_FILE" in magic
    sample(folder)
    run([OPTIONS.vexel, "-c", "sample.bmp"], cwd=folder, env=headless())
    with open(os.path.join(folder, "sample.vx"), "rb") as f:
        assert f.read(17) == b"!VEXEL_IMAGE_FILE"


def thumbnailer_command(prefix, size, source, target):
    """The entry's Exec line with %s %i %o filled in, as a file manager does."""
    with open(os.path.join(prefix, "share", "thumbnailers", "vexel.thumbnailer")) as f:
        fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    assert "image/x-vexel" in fields["MimeType"]
    words = shlex.split(fields["Exec"])
    filled = {"%s": str(size), "%i": source, "%o": target}
    return [filled.get(w, w) for w in words]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    return struct.unpack(">II", head[16:24])


def test_the_thumbnailer_runs_from_its_entry_and_leaves_nothing_for_a_bad_file(folder):
    prefix = install(os.path.join(folder, "p"))
    env = dict(headless(), PATH=os.path.join(prefix, "bin") + os.pathsep + os.environ["PATH"])
    sample(folder, "wide.bmp", (400, 100))
    run([OPTIONS.vexel, "-c", "wide.bmp"], cwd=folder, env=headless())
    run(thumbnailer_command(prefix, 128, "wide.vx", "thumb.png"), cwd=folder, env=env)
    assert png_size(os.path.join(folder, "thumb.png")) == (128, 32)
    run(thumbnailer_command(prefix, 256, "wide.vx", "big.png"), cwd=folder, env=env)
    assert png_size(os.path.join(folder, "big.png")) == (256, 64)
    # A bad file, a missing one, and one that claims a picture no machine holds.
    with open(os.path.join(folder, "bad.vx"), "wb") as f:
        f.write(b"not a picture at all")
    with open(os.path.join(folder, "wide.vx"), "rb") as f:
        record = bytearray(f.read())
    record[22:30] = struct.pack("<II", 200000, 200000)
    with open(os.path.join(folder, "huge.vx"), "wb") as f:
        f.write(record)
    for name in ("bad.vx", "missing.vx", "huge.vx"):
        done = run(thumbnailer_command(prefix, 128, name, name + ".png"), cwd=folder, env=env, check=False)
        assert done.returncode != 0, name
        assert not os.path.exists(os.path.join(folder, name + ".png")), name
        assert not [n for n in os.listdir(folder) if n.endswith(".part")], "a temporary file stayed"


def test_the_probe_lists_records_and_checks_that_they_decode(folder):
    video = clip(folder)
    done = run([OPTIONS.probe, video])
    lines = done.stdout.decode().splitlines()
    assert len(lines) == 4, lines
    assert "offset 0," in lines[0] and "mode 8" in lines[0] and "96 x 64" in lines[0] and "25 fps" in lines[0]
    assert "3 frames, 0.120 s at 25 fps" in lines[3], lines[3]
    data = json.loads(run([OPTIONS.probe, "--check", "--json", video]).stdout)
    assert len(data) == 1 and data[0]["frames"] == 3 and data[0]["decodes"] is True
    assert [r["width"] for r in data[0]["records"]] == [96, 96, 96]
    offsets = [r["offset"] for r in data[0]["records"]]
    # A clip cut short inside its last record's header, and one whose last
    # record's payload is garbage: the earlier records are listed, the check
    # names the record that fails.
    with open(video, "rb") as f:
        whole = f.read()
    cut = os.path.join(folder, "cut.vx")
    with open(cut, "wb") as f:
        f.write(whole[:offsets[2] + 60])
    done = run([OPTIONS.probe, "--check", cut], check=False)
    assert done.returncode == 2, done.returncode
    assert "record 2 at offset %d is not a .vx record" % offsets[2] in done.stdout.decode(), done.stdout.decode()
    spoilt = bytearray(whole)
    for i in range(offsets[2] + 91, len(spoilt)):
        spoilt[i] = (i * 37) & 0xFF
    with open(cut, "wb") as f:
        f.write(spoilt)
    done = run([OPTIONS.probe, "--check", cut], check=False)
    assert done.returncode == 2, done.returncode
    assert "record 2 at offset %d does not decode" % offsets[2] in done.stdout.decode(), done.stdout.decode()
    sample(folder)
    done = run([OPTIONS.probe, os.path.join(folder, "sample.bmp")], check=False)
    assert done.returncode == 1 and "not a .vx record" in done.stderr.decode()


def test_a_c_program_packs_and_reads_through_the_installed_library_as_the_program_does(folder):
    prefix = install(os.path.join(folder, "p"), ("vexel", "libvexel1", "libvexel-dev"))
    env = dict(headless(), PKG_CONFIG_PATH=os.path.join(prefix, "lib", "pkgconfig"))
    flags = run(["pkg-config", "--cflags", "--libs", "vexel"], env=env).stdout.decode().split()
    program = os.path.join(folder, "c_api_test")
    run(["cc", "-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", "-o", program,
         os.path.join(OPTIONS.source, "tests", "lib", "c_api_test.c")] + OPTIONS.c_flags.split() + flags, env=env)
    # The program found the library through the flags alone; it runs beside the installed one.
    env["LD_LIBRARY_PATH"] = os.path.join(prefix, "lib")
    # A picture, then a clip of three frames whose later frames keep blocks.
    sample(folder)
    run([OPTIONS.vexel, "-c", "sample.bmp"], cwd=folder, env=headless())
    run([program, "0", "lib.vx", "sample.bmp"], cwd=folder, env=env)
    video = clip(folder)
    run([program, "25", "libclip.vx", "f10.bmp", "f11.bmp", "f12.bmp"], cwd=folder, env=env)
    for ours, theirs in (("lib.vx", os.path.join(folder, "sample.vx")), ("libclip.vx", video)):
        with open(os.path.join(folder, ours), "rb") as a, open(theirs, "rb") as b:
            assert a.read() == b.read(), "%s differs from what vexel -c wrote" % ours
    run([OPTIONS.vexel, "-uc", "sample.vx"], cwd=folder, env=headless())
    run([OPTIONS.vexel, "-uc", "f.vx"], cwd=folder, env=headless())
    for ours, theirs in (("lib.vx.0.rgb", "sample_000000.bmp"), ("libclip.vx.0.rgb", "f_000000.bmp"),
                         ("libclip.vx.1.rgb", "f_000001.bmp"), ("libclip.vx.2.rgb", "f_000002.bmp")):
        with open(os.path.join(folder, ours), "rb") as a:
            assert a.read() == bitmap_rgb(os.path.join(folder, theirs)), "%s differs from %s" % (ours, theirs)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--c-flags", default="", help="extra flags for the C programs the tests build")
    parser.add_argument("tests", nargs="*")
    OPTIONS = parser.parse_args()
    OPTIONS.build = os.path.abspath(OPTIONS.build)
    OPTIONS.source = os.path.abspath(OPTIONS.source)
    OPTIONS.vexel = os.path.join(OPTIONS.build, "vexel")
    OPTIONS.probe = os.path.join(OPTIONS.build, "vexel-probe")
    tests = {name[5:]: f for name, f in globals().items() if name.startswith("test_")}
    failed = 0
    for name in OPTIONS.tests or sorted(tests):
        folder = tempfile.mkdtemp(prefix="vexel-desktop-")
        try:
            tests[name](folder)
            print("ok   %s" % name)
        except Exception:
            failed += 1
            print("FAIL %s" % name)
            traceback.print_exc()
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
