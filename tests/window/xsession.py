"""A virtual display for the window tests, and what a person does with it:
find a window, send keys and clicks, resize it, ask it to close, take a
screenshot. Xvfb, xdotool and ImageMagick's import do the work; there is no
window manager, so the programs see exactly the requests made here.

Nothing here waits for a time that must be long enough: every wait polls for
a state (a screenshot that shows what is expected, a window's geometry, a
window appearing or going, a line a program writes, a process ending) until
one generous deadline, which only guards against hangs and fails at once
with what was awaited and what was last seen."""
import os
import re
import subprocess
import tempfile
import threading
import time
import traceback

# Only a hung program or display takes this long.
DEADLINE = 60


class NotYet(AssertionError):
    """What a poll saw instead of the state it awaits."""


def run_scenario(test, send_close, shots):
    """Runs test(x, folder) on a new display in a new folder. Returns True
    when it passed."""
    with tempfile.TemporaryDirectory() as folder, XSession(send_close, shots) as x:
        try:
            test(x, folder)
            return True
        except Exception:
            traceback.print_exc()
            return False


def until(what, attempt, process=None, deadline=DEADLINE):
    """Calls attempt() until it returns without an AssertionError (its
    message says what it saw), and returns its result. Fails when the
    deadline passes, or at once when the process ends first."""
    end = time.monotonic() + deadline
    seen = "nothing yet"
    while True:
        try:
            return attempt()
        except AssertionError as error:
            seen = str(error) or repr(error)
        if process is not None and process.poll() is not None:
            raise AssertionError("the program ended (%d) while awaiting %s; last seen: %s; its errors: %s" % (
                process.returncode, what, seen, errors(process)))
        if time.monotonic() > end:
            said = "; its errors so far: %r" % errors(process) if process is not None else ""
            raise AssertionError("awaited %s for %d s; last seen: %s%s" % (what, deadline, seen, said))
        time.sleep(0.05)


def until_stopped(process, what):
    """Waits until the program stops itself at the stop point its
    environment asked for (VEXEL_TEST_STOP_AT); os.kill(pid, SIGCONT) lets
    it go on."""
    def attempt():
        pid, status = os.waitpid(process.pid, os.WUNTRACED | os.WNOHANG)
        if pid == 0:
            raise NotYet("the program is still running")
        if not os.WIFSTOPPED(status):
            raise AssertionError("the program ended (status %d) before its stop point; its errors: %s" % (
                status, errors(process)))
    until(what, attempt)


def errors(process):
    """What the program has written to its standard error so far."""
    lines = getattr(process, "error_lines", None)
    if lines is None:
        return ""
    if process.poll() is not None:
        process.error_reader.join(5)
    return "".join(list(lines))


def await_line(process, test, what, start=0):
    """The first line the program writes to standard error, from line number
    start on, for which test(line) holds; and the number of the next line."""
    def attempt():
        lines = list(process.error_lines)
        for n in range(start, len(lines)):
            if test(lines[n]):
                return lines[n], n + 1
        raise NotYet("its lines: %r" % lines[start:][-5:])
    return until(what, attempt, process)


class XSession:
    def __init__(self, send_close, shots=None, size="1920x1080x24"):
        self.send_close_program = send_close
        self.shots = shots
        read, write = os.pipe()
        # -noreset: otherwise the server starts afresh whenever its last
        # client leaves, and turns away a program that connects meanwhile:
        # with xdotool's polls coming and going that happens to a few
        # connections in a hundred, and the program is left without a
        # display.
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read)
        self.display = ":" + number.decode().strip()
        self.started = []
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("WAYLAND_DISPLAY", None)

    def close(self):
        # What a test left running goes with its display.
        for process in self.started:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.server.terminate()
        self.server.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def tool(self, *args, check=True):
        done = subprocess.run(list(args), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if check and done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(args), done.stderr.decode()))
        return done.stdout.decode()

    def start(self, command, cwd, stdin=subprocess.DEVNULL, env=None):
        """The program, running on this display; its standard error is read
        as it comes, line by line, into process.error_lines."""
        process = subprocess.Popen(command, cwd=cwd, env=dict(self.env, **(env or {})), stdin=stdin,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.error_lines = []

        def read():
            for line in iter(process.stderr.readline, b""):
                process.error_lines.append(line.decode(errors="replace"))
        process.error_reader = threading.Thread(target=read, daemon=True)
        process.error_reader.start()
        self.started.append(process)
        return process

    def visible_windows(self):
        return self.tool("xdotool", "search", "--onlyvisible", "--name", ".", check=False).split()

    def window(self, name, process=None):
        """The id of the first visible window whose title contains name
        (compared here: xdotool's own matching misses UTF-8 titles); fails at
        once when the process that was to show it has ended."""
        def attempt():
            titles = [(w, self.tool("xdotool", "getwindowname", w, check=False).strip())
                      for w in self.visible_windows()]
            for window, title in titles:
                if name in title:
                    return window
            raise NotYet("visible windows: %r" % titles)
        try:
            return until("a window named %r" % name, attempt, process)
        except NotYet:
            raise
        except AssertionError as error:
            tree = self.tool("xwininfo", "-root", "-children", check=False)
            count = re.search(r"^\s*(\d+) child", tree, re.M)
            raise AssertionError("%s; the display holds %s windows" % (error, count.group(1) if count else "no")) from None

    def until_gone(self, window):
        """Waits until the window is no longer shown."""
        def attempt():
            if window in self.visible_windows():
                raise NotYet("window %s still shown" % window)
        until("window %s to go" % window, attempt)

    def until_geometry(self, window, size, process=None):
        """Waits until the window has the size (width, height); its x, y,
        width, height."""
        def attempt():
            g = self.geometry(window)
            if g[2:] != tuple(size):
                raise NotYet("geometry %r" % (g,))
            return g
        return until("window %s sized %r" % (window, tuple(size)), attempt, process)

    def until_shown(self, window, check, what, name=None, process=None):
        """Takes screenshots of the window until check(shot) passes (it
        asserts what is to be seen), and returns that screenshot, saved as
        name.png under shots; the last one that failed is kept as
        name-last.png when the deadline passes."""
        last = []

        def attempt():
            shot = self.screenshot(window)
            last[:] = [shot]
            check(shot)
            return shot
        try:
            shot = until(what, attempt, process)
        except AssertionError:
            if last and name:
                self.save(last[0], name + "-last")
            raise
        if name:
            self.save(shot, name)
        return shot

    def title(self, window):
        return self.tool("xdotool", "getwindowname", window).strip()

    def geometry(self, window):
        """x, y, width, height of the window."""
        out = self.tool("xdotool", "getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in out.split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def key(self, window, key):
        self.tool("xdotool", "key", "--window", window, key)

    def click(self, window, x, y, button=1):
        self.tool("xdotool", "mousemove", "--window", window, str(x), str(y), "click", str(button))

    def resize(self, window, width, height):
        self.tool("xdotool", "windowsize", window, str(width), str(height))

    def request_close(self, window):
        self.tool(self.send_close_program, window)

    def screenshot(self, window, name=None):
        """The window's pixels: shot[y][x] is (r, g, b); a PNG copy under
        shots when a name is given."""
        done = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if done.returncode != 0:
            # The window may be on its way out or not mapped yet.
            raise NotYet("no screenshot of window %s: %s" % (window, done.stderr.decode(errors="replace").strip()))
        shot = parse_ppm(done.stdout)
        if name:
            self.save(shot, name)
        return shot

    def save(self, shot, name):
        """A PNG copy of exactly this screenshot under shots."""
        if not self.shots:
            return
        os.makedirs(self.shots, exist_ok=True)
        subprocess.run(["convert", "ppm:-", os.path.join(self.shots, name + ".png")], input=shot.ppm, check=True,
                       timeout=30)


class Picture:
    """Pixels of a P6 picture, read where they are asked for: picture[y][x]
    is (r, g, b); len(picture) is the height, len(picture[y]) the width."""

    def __init__(self, ppm, at, width, height):
        self.ppm, self.at, self.width, self.height = ppm, at, width, height

    def __len__(self):
        return self.height

    def __getitem__(self, y):
        if not 0 <= y < self.height:
            raise IndexError(y)
        return Row(self.ppm, self.at + y * self.width * 3, self.width)

    def __iter__(self):
        return (self[y] for y in range(self.height))


class Row:
    def __init__(self, ppm, at, width):
        self.ppm, self.at, self.width = ppm, at, width

    def __len__(self):
        return self.width

    def __getitem__(self, x):
        if not 0 <= x < self.width:
            raise IndexError(x)
        at = self.at + 3 * x
        return tuple(self.ppm[at:at + 3])


def parse_ppm(data):
    """The picture of a binary P6 file with 8-bit samples."""
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    at += 1
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError("not an 8-bit P6 picture")
    width, height = int(fields[1]), int(fields[2])
    if len(data) < at + width * height * 3:
        raise NotYet("a screenshot cut short")
    return Picture(data, at, width, height)


def wait_exit(process, deadline=DEADLINE):
    """The exit code, once the program has ended; an AssertionError when it
    is still running at the deadline."""
    try:
        process.wait(timeout=deadline)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise AssertionError("the program did not end within %d s; its errors: %s" % (deadline, errors(process)))
    if getattr(process, "error_reader", None):
        process.error_reader.join(5)
    return process.returncode
