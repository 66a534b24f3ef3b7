#!/usr/bin/env python3
"""The program's own message and progress windows as a person meets them,
on a virtual display: where the caption strip, the text and the buttons
are drawn, keys and clicks choosing buttons, the silence after "Отменить",
the progress bar, and a broken file opened in the viewer.

Usage: dialog_window_test.py --demo BIN --vexel BIN --send-close BIN [--shots DIR] TEST...
"""
import argparse
import os
import queue
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from xsession import DEADLINE, errors, run_scenario, wait_exit  # noqa: E402

OPTIONS = None
CAPTION_STRIP = (10, 36, 106)
FACE = (212, 208, 200)
SHADOW = (128, 128, 128)
WHITE = (255, 255, 255)


def near(a, b, tolerance=10):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def dark(p):
    return max(p) < 90


class Demo:
    """dialog_demo, answering its "ready" lines on request."""

    def __init__(self, x, *args):
        self.process = x.start([OPTIONS.demo] + list(args), None, stdin=subprocess.PIPE)
        self.lines = queue.Queue()

        def read():
            for line in iter(self.process.stdout.readline, b""):
                self.lines.put(line.decode().strip())
            self.lines.put(None)
        threading.Thread(target=read, daemon=True).start()

    def line(self):
        """Its next line, once it has written one."""
        try:
            line = self.lines.get(timeout=DEADLINE)
        except queue.Empty:
            raise AssertionError("awaited a line from dialog_demo for %d s" % DEADLINE)
        assert line is not None, "dialog_demo ended (%s): %s" % (self.process.wait(), errors(self.process))
        return line

    def go_on(self):
        self.process.stdin.write(b"\n")
        self.process.stdin.flush()

    def finish(self):
        self.process.stdin.close()
        assert wait_exit(self.process) == 0, errors(self.process)


def check_message_box(x, window, lines, name=None, process=None):
    """Waits until the box of lines of text is drawn where and as its layout
    puts it; its screenshot."""
    return x.until_shown(window, lambda shot: message_box(x, window, lines, shot), "a message box of %d lines" % lines,
                         name, process)


def message_box(x, window, lines, shot):
    left, top, width, height = x.geometry(window)
    assert (len(shot[0]), len(shot)) == (width, height), "a screenshot of another size"
    assert height == 29 + 17 * lines + 8 + 33, "height %d" % height
    assert width >= 2 * 104 - 8 + 16, "width %d" % width
    assert (left, top) == ((1920 - width) // 2, (1080 - height) // 2), "placed at %d, %d" % (left, top)
    assert dark(shot[0][0]) and dark(shot[height - 1][width - 1]), "the box's own frame"
    assert near(shot[3][width - 4], CAPTION_STRIP) and near(shot[20][2], CAPTION_STRIP), "the caption strip"
    assert any(near(shot[y][c], WHITE, 60) for y in range(4, 19) for c in range(9, 60)), "the caption text"
    text_rows = range(1 + 29, 1 + 29 + 17 * lines)
    assert any(dark(shot[y][c]) for y in text_rows for c in range(9, width - 9)), "the text"
    for y in range(1 + 29 + 17 * lines, height - 34):
        assert all(near(shot[y][c], FACE) for c in range(2, width - 2)), "nothing between text and buttons"
    row = (width - 2 - (2 * 104 - 8)) // 2 + 1
    by = height - 34
    for b in range(2):
        bx = row + 104 * b
        assert near(shot[by][bx + 40], WHITE) and near(shot[by + 10][bx], WHITE), "button %d top and left" % b
        assert near(shot[by + 24][bx + 40], SHADOW) and near(shot[by + 10][bx + 95], SHADOW), "bottom, right"
        assert any(dark(shot[y][c]) for y in range(by + 5, by + 20) for c in range(bx + 10, bx + 86)), "its label"
    assert near(shot[by + 12][row + 2], SHADOW), "the focus frame of the first button"
    assert near(shot[by + 12][row + 104 + 2], FACE), "no focus frame on the second"


def next_box(x, window, title):
    """The box shown after the one in window, once that one has gone."""
    x.until_gone(window)
    return x.window(title)


def test_a_two_line_message_is_drawn_where_the_layout_puts_it(x, folder):
    demo = Demo(x, "message", "Ошибка", "Не удаётся загрузить файл:\\r\\nкадр.bmp")
    window = x.window("Ошибка", demo.process)
    check_message_box(x, window, 2, "message_box", demo.process)
    x.key(window, "Return")
    assert demo.line() == "shown 1 accept"
    for n in (2, 3):
        window = next_box(x, window, "Ошибка")
        check_message_box(x, window, 2, process=demo.process)
        x.key(window, "Return")
        assert demo.line() == "shown %d accept" % n
    demo.finish()


def test_enter_chooses_and_escape_silences(x, folder):
    demo = Demo(x, "message", "Ошибка", "первая строка\\r\\nвторая строка")
    window = x.window("Ошибка", demo.process)
    x.key(window, "Tab")      # focus on "Отменить"
    x.key(window, "Tab")      # and round again to "Принять"
    x.key(window, "Return")
    assert demo.line() == "shown 1 accept"
    x.key(next_box(x, window, "Ошибка"), "Escape")
    assert demo.line() == "shown 2 cancel"
    assert demo.line() == "silenced 3"  # no box for ten seconds
    demo.finish()


def test_a_click_on_a_button_chooses_it(x, folder):
    demo = Demo(x, "message", "Сообщение", "строка\\r\\nещё одна")
    window = x.window("Сообщение", demo.process)
    shot = check_message_box(x, window, 2, process=demo.process)
    width, height = len(shot[0]), len(shot)
    row = (width - 2 - 200) // 2 + 1
    x.click(window, row + 104 + 48, height - 34 + 12)  # "Отменить"
    assert demo.line() == "shown 1 cancel"
    assert demo.line() == "silenced 2"
    assert demo.line() == "silenced 3"
    demo.finish()


def bar_fill(shot):
    """The fraction of the bar's inside that is filled (dark, or grey when
    a second bar is posted), along its middle row."""
    height, width = len(shot), len(shot[0])
    y = height - 1 - 8 - 12
    inside = range(1 + 8 + 1, width - 1 - 8 - 1)
    return sum(1 for c in inside if not near(shot[y][c], FACE)) / len(inside)


def filled(test, what):
    """A check that the progress window is drawn and test(fill) holds."""
    def check(shot):
        assert near(shot[len(shot) - 4][len(shot[0]) // 2], FACE) and near(shot[40][4], FACE), "the window's face"
        fill = bar_fill(shot)
        assert test(fill), "the bar filled %.3f, not %s" % (fill, what)
    return check


def test_the_progress_bar_fills(x, folder):
    demo = Demo(x, "progress")
    assert demo.line() == "ready"
    window = x.window("Состояние выполнения", demo.process)
    x.until_shown(window, filled(lambda f: f < 0.02, "empty"), "an empty bar", "progress_empty", demo.process)
    demo.go_on()
    assert demo.line() == "ready"
    x.until_shown(window, filled(lambda f: 0.45 < f < 0.55, "half"), "a half bar", "progress_half", demo.process)
    demo.go_on()
    assert demo.line() == "ready"
    x.until_shown(window, filled(lambda f: f > 0.98, "full"), "a full bar", "progress_full", demo.process)
    demo.go_on()
    demo.finish()


def test_the_sort_of_300_names_shows_its_progress(x, folder):
    demo = Demo(x, "sort", "300")
    posts = demo.line()
    assert posts.startswith("posts ") and int(posts.split()[1]) > 10, posts
    assert demo.line() == "ready"
    window = x.window("Состояние выполнения", demo.process)

    def sorted_bar(shot):
        filled(lambda f: f > 0.98, "full")(shot)
        # The sort posts a second bar of 0: the main fill is grey.
        assert near(shot[len(shot) - 21][len(shot[0]) // 2], SHADOW), "a grey fill"
        assert any(dark(shot[y][c]) for y in range(30, 46) for c in range(9, 100)), "the text"
    x.until_shown(window, sorted_bar, "the full grey bar of the sort", "progress_sort", demo.process)
    demo.go_on()
    assert demo.line() == "sorted s1.bmp"
    demo.finish()


def test_a_broken_file_in_the_viewer_shows_its_message(x, folder):
    with open(os.path.join(folder, "broken.vx"), "wb") as f:
        f.write(b"!VEXEL_IMAGE_FILE\0" + bytes(40))
    viewer = x.start([OPTIONS.vexel, "broken.vx"], folder)
    window = x.window("Ошибка", process=viewer)
    # "Для распаковки файла:", its name, "необходимо обновить программу."
    check_message_box(x, window, 3, "message_broken_file", viewer)
    x.key(window, "Return")
    assert wait_exit(viewer) == 2
    x.until_gone(window)
    err = errors(viewer)
    assert err.startswith("Ошибка: ") and "broken.vx" in err, err  # echoed for scripts and logs


def test_a_message_in_english_has_english_texts_and_buttons(x, folder):
    # With an English locale the box, its caption and its buttons are
    # English, and so is the echo on standard error.
    names = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE).stdout.decode(errors="replace").split()
    if not any(n.lower().replace("-", "") == "en_us.utf8" for n in names):
        print("SKIP: the locale en_US.UTF-8 is not installed (tools/setup.sh generates it)")
        return
    with open(os.path.join(folder, "broken.vx"), "wb") as f:
        f.write(b"!VEXEL_IMAGE_FILE\0" + bytes(40))
    viewer = x.start([OPTIONS.vexel, "broken.vx"], folder,
                     env={"LANG": "en_US.UTF-8", "VEXEL_LOCALEDIR": OPTIONS.localedir})
    window = x.window("Error", process=viewer)
    check_message_box(x, window, 3, "message_english", viewer)
    x.key(window, "Return")
    assert wait_exit(viewer) == 2
    x.until_gone(window)
    err = errors(viewer)
    assert err.startswith("Error: ") and "broken.vx" in err, err
    assert not any("\u0400" <= c <= "\u04ff" for c in err), err


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--demo", required=True)
    parser.add_argument("--vexel", required=True)
    parser.add_argument("--send-close", required=True)
    parser.add_argument("--shots")
    parser.add_argument("--localedir", default="")
    parser.add_argument("tests", nargs="*")
    OPTIONS = parser.parse_args()
    OPTIONS.vexel = os.path.abspath(OPTIONS.vexel)
    OPTIONS.demo = os.path.abspath(OPTIONS.demo)
    tests = {name[5:]: f for name, f in globals().items() if name.startswith("test_")}
    failed = 0
    for name in OPTIONS.tests or sorted(tests):
        if run_scenario(tests[name], OPTIONS.send_close, OPTIONS.shots):
            print("ok   %s" % name)
        else:
            failed += 1
            print("FAIL %s" % name)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
