"""A virtual display for the window tests, and what a person does with it:
find a window, send keys and clicks, resize it, ask it to close, take a
screenshot. Xvfb, xdotool and ImageMagick's import do the work; there is no
window manager, so the programs see exactly the requests made here."""
import os
import subprocess
import time


class XSession:
    def __init__(self, send_close, shots=None, size="1920x1080x24"):
        self.send_close_program = send_close
        self.shots = shots
        read, write = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", size, "-nolisten", "tcp"],
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

    def start(self, command, cwd, stdin=subprocess.DEVNULL):
        process = subprocess.Popen(command, cwd=cwd, env=self.env, stdin=stdin, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.started.append(process)
        return process

    def window(self, name, timeout=30, process=None):
        """The id of the first visible window whose title contains name
        (compared here: xdotool's own matching misses UTF-8 titles); fails at
        once when the process that was to show it has ended."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if process is not None and process.poll() is not None:
                raise AssertionError("the program ended (%d) before showing %r: %s" % (
                    process.returncode, name, process.stderr.read().decode(errors="replace")))
            for window in self.tool("xdotool", "search", "--onlyvisible", "--name", ".", check=False).split():
                if name in self.tool("xdotool", "getwindowname", window, check=False):
                    return window
            time.sleep(0.05)
        listing = [(w, self.tool("xdotool", "getwindowname", w, check=False).strip())
                   for w in self.tool("xdotool", "search", "--name", ".", check=False).split()]
        raise AssertionError("no window named %r appeared; windows: %r" % (name, listing))

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
        """The window's pixels as rows of (r, g, b); a PNG copy under shots when given."""
        if self.shots and name:
            os.makedirs(self.shots, exist_ok=True)
            self.tool("import", "-window", window, os.path.join(self.shots, name + ".png"))
        data = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], env=self.env, stdout=subprocess.PIPE,
                              check=True, timeout=30).stdout
        return parse_ppm(data)


def parse_ppm(data):
    """Rows of (r, g, b) tuples from a binary P6 file with 8-bit samples."""
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
    rows = []
    for y in range(height):
        row = data[at + y * width * 3:at + (y + 1) * width * 3]
        rows.append([tuple(row[3 * x:3 * x + 3]) for x in range(width)])
    return rows


def wait_exit(process, timeout=10):
    """The exit code, or an AssertionError when the program is still running."""
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        raise AssertionError("the program did not end")
    return process.returncode
