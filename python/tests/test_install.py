"""The package installs without a network as Debian's Python allows (a
virtual environment over the system's packages, pip without build
isolation or an index), and the installed package finds the library by
VEXEL_LIBRARY or through the system's loader."""
import os
import shutil
import subprocess
import sys

import numpy
import pytest

from conftest import PACKAGE

CHECK = r"""
import os, sys, numpy
import vexel, vexel.pillow
from PIL import Image
assert os.path.realpath(vexel.__file__).startswith(os.path.realpath(sys.prefix)), vexel.__file__
pixels = vexel.read(sys.argv[1])
assert numpy.array_equal(pixels, numpy.load(sys.argv[2]))
with Image.open(sys.argv[1]) as image:
    assert numpy.array_equal(numpy.asarray(image), pixels)
vexel.write(sys.argv[3], pixels)
print(vexel.library_version(), vexel.__version__)
"""


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    folder = tmp_path_factory.mktemp("install")
    # A copy, so that building leaves nothing in the source tree.
    source = str(folder / "source")
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__", "tests"))
    env = str(folder / "venv")
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", env], check=True)
    done = subprocess.run([os.path.join(env, "bin", "pip"), "install", "--no-build-isolation", "--no-index",
                           "--no-cache-dir", "--disable-pip-version-check", source],
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    assert done.returncode == 0, done.stdout.decode(errors="replace")
    return env


def run_installed(venv, tmp_path, packed, program, env):
    expected = str(tmp_path / "expected.npy")
    numpy.save(expected, program.unpack(packed["photo"])[0])
    written = str(tmp_path / "written.vx")
    env = {k: v for k, v in env.items() if k != "PYTHONPATH"}
    # Run from an empty folder: the source tree is nowhere on the path.
    folder = tmp_path / "elsewhere"
    folder.mkdir()
    done = subprocess.run([os.path.join(venv, "bin", "python"), "-c", CHECK, packed["photo"], expected, written],
                          cwd=str(folder), env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    assert done.returncode == 0, done.stdout.decode(errors="replace")
    with open(written, "rb") as a, open(program.pack(str(tmp_path), [numpy.load(expected)], name="w"), "rb") as b:
        assert a.read() == b.read()
    return done.stdout.decode()


def test_the_installed_package_reads_and_writes_with_the_library_vexel_library_names(venv, tmp_path, packed,
                                                                                       program):
    if not os.environ.get("VEXEL_LIBRARY"):
        pytest.skip("the library comes from the system's loader here")
    assert run_installed(venv, tmp_path, packed, program, dict(os.environ)).split() == ["1.54.0", "1.54.0"]


def test_the_installed_package_finds_the_library_through_the_systems_loader(venv, tmp_path, packed, program):
    env = dict(os.environ)
    library = env.pop("VEXEL_LIBRARY", None)
    if library:
        # The folder of the built library, as the loader's search path.
        folder = os.path.dirname(os.path.abspath(library))
        assert os.path.exists(os.path.join(folder, "libvexel.so.1")), folder
        env["LD_LIBRARY_PATH"] = folder + (os.pathsep + env["LD_LIBRARY_PATH"] if env.get("LD_LIBRARY_PATH") else "")
    run_installed(venv, tmp_path, packed, program, env)


def test_the_package_holds_no_copy_of_the_codec():
    # Everything it does goes through the library: the package is Python alone.
    files = []
    for folder, _, names in os.walk(os.path.join(PACKAGE, "vexel")):
        files += [os.path.join(folder, n) for n in names if not n.endswith(".pyc")]
    assert files and all(f.endswith(".py") for f in files), files
