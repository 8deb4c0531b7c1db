"""The real progress window under Wine and Xvfb: size, place, painting, system menu.

tools/helpers/DialogHost.exe creates CKvoLauncherDlg as start-up does, stops its timers (so no
update run starts) and takes counter states on stdin; the pictures are read back from the screen.
The scenarios run on an X server and a Wine prefix of their own, so no other window can cover
the one under test.
"""
import os
import queue
import subprocess
import sys
import threading
import time
import unittest

SOURCE_DIR = os.environ.get("KVO_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("KVO_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "mingw"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import capture  # noqa: E402

WINE_RUN = os.path.join(SOURCE_DIR, "tools", "wine-run.sh")
DIALOG_HOST = os.path.join(BUILD_DIR, "tools", "helpers", "DialogHost.exe")
SHOTS_DIR = os.path.join(BUILD_DIR, "window-shots")

WINE_PREFIX = os.path.join(BUILD_DIR, "wineprefix-window")
SCREEN = "1024x768x24"
FIRST_DISPLAY, LAST_DISPLAY = 140, 180
SERVER_START_TIMEOUT = 10
PREFIX_TIMEOUT = 300

REPLY_TIMEOUT = 60
EXIT_TIMEOUT = 30
STABLE_TRIES = 20
STABLE_PAUSE = 0.15

WIDTH, HEIGHT = 380, 100
BAR_LEFT, BAR_WIDTH, BAR_HEIGHT = 12, 355, 14
OVERALL_TOP, FILE_TOP = 44, 62
TEXT_BOX = (BAR_LEFT, 80, 320 - BAR_LEFT, 12)       # left, top, width, height
WORD_BOX = (BAR_LEFT, 80, 51, 12)                   # "正在下载 " / "下载完成"
DOTS_BOX = (BAR_LEFT + 51, 85, 371 - BAR_LEFT - 51, 7)

TITLE = (69, 156, 209)
BODY = (187, 224, 246)
FILLED = (100, 184, 235)
EMPTY = (222, 221, 221)
WHITE = (255, 255, 255)

SC_MINIMIZE = 0xF020
IDM_ABOUTBOX = 16
ABOUT_TEXT = "关于 KvoLauncher(&A)...".encode("gbk").hex()


_xvfb = None


def setUpModule():
    """A private X server, and the private prefix made (once per build) before anything is timed."""
    global _xvfb
    for number in range(FIRST_DISPLAY, LAST_DISPLAY):
        if not os.path.exists("/tmp/.X11-unix/X%d" % number) and not os.path.exists("/tmp/.X%d-lock" % number):
            break
    else:
        raise RuntimeError("no free X display number")
    _xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", SCREEN, "-nolisten", "tcp"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + SERVER_START_TIMEOUT
    while not os.path.exists("/tmp/.X11-unix/X%d" % number):
        if time.monotonic() > deadline or _xvfb.poll() is not None:
            raise RuntimeError("Xvfb :%d did not start" % number)
        time.sleep(0.1)
    os.environ["DISPLAY"] = ":%d" % number
    os.environ["KVO_WINEPREFIX"] = WINE_PREFIX
    subprocess.run([WINE_RUN, "cmd", "/c", "exit", "0"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=PREFIX_TIMEOUT)


def tearDownModule():
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=WINE_PREFIX), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=EXIT_TIMEOUT)
    if _xvfb:
        _xvfb.terminate()
        _xvfb.wait(EXIT_TIMEOUT)


def dark(rgb):
    return sum(rgb) < 3 * 100


class Host:
    """One DialogHost process and its command line."""

    def __init__(self, program_dir):
        windows_dir = "Z:" + program_dir.replace("/", "\\") + "\\"
        self.process = subprocess.Popen([WINE_RUN, DIALOG_HOST, windows_dir], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.expect("ready")

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("ascii", "replace").strip())
        self.lines.put(None)

    def reply(self):
        try:
            line = self.lines.get(timeout=REPLY_TIMEOUT)
        except queue.Empty:
            raise AssertionError("DialogHost gave no answer in %d s" % REPLY_TIMEOUT)
        if line is None:
            raise AssertionError("DialogHost ended")
        return line

    def expect(self, first_word):
        line = self.reply()
        if line.split()[0] != first_word:
            raise AssertionError("expected %r, got %r" % (first_word, line))
        return line.split()[1:]

    def send(self, command):
        self.process.stdin.write((command + "\n").encode("ascii"))
        self.process.stdin.flush()
        return self.reply()

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"close\n")
                self.process.stdin.flush()
                self.process.stdin.close()
            except OSError:
                pass
            try:
                self.process.wait(EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(EXIT_TIMEOUT)
        self.process.stdout.close()
        return self.process.returncode


class ProgressWindowTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.program_dir = os.path.join(BUILD_DIR, "window-test-install")
        os.makedirs(cls.program_dir, exist_ok=True)
        os.makedirs(SHOTS_DIR, exist_ok=True)
        cls.host = Host(cls.program_dir)
        info = [int(v) for v in cls.host.send("info").split()[1:]]
        cls.x, cls.y, cls.w, cls.h, cls.client_w, cls.client_h, cls.iconic, cls.visible, cls.sw, cls.sh = info

    @classmethod
    def tearDownClass(cls):
        cls.host.close()

    # --- helpers ---

    def window_shot(self):
        """The window's pixels once two captures in a row agree (Wine hands the picture to X a bit later)."""
        previous = None
        for _ in range(STABLE_TRIES):
            shot = capture.capture_screen().crop(self.x, self.y, WIDTH, HEIGHT)
            if shot == previous:
                return shot
            previous = shot
            time.sleep(STABLE_PAUSE)
        return previous

    def paint(self, file_count, files_left, size, done):
        self.assertEqual(self.host.send("state %d %d %d %d" % (file_count, files_left, size, done)), "ok")
        words = self.host.send("paint").split()
        self.assertEqual(words[0], "ok")
        dots = int(words[1].split("=")[1])
        return self.window_shot(), dots

    def drawn_frame(self):
        """Some frame that is certainly drawn, to compare others against."""
        return self.paint(4, 2, 1000, 500)

    def assert_bar(self, shot, top, filled_width, name):
        row = top + BAR_HEIGHT // 2
        if filled_width == BAR_WIDTH:  # the whole filled state, its light frame column included
            self.assertEqual(shot.pixel(BAR_LEFT + BAR_WIDTH - 2, row), FILLED, "%s: full bar" % name)
            self.assertEqual(shot.pixel(BAR_LEFT + BAR_WIDTH - 1, row), WHITE, "%s: frame of the full bar" % name)
            self.assertEqual(shot.pixel(BAR_LEFT + BAR_WIDTH, row), BODY, "%s: right of the bar" % name)
        else:
            self.assertEqual(shot.pixel(BAR_LEFT + filled_width - 1, row), FILLED, "%s: last filled column" % name)
            self.assertEqual(shot.pixel(BAR_LEFT + filled_width, row), EMPTY, "%s: first empty column" % name)
        self.assertEqual(shot.pixel(BAR_LEFT - 1, row), BODY, "%s: left of the bar" % name)

    # --- the window ---

    def test_window_has_the_background_size_and_is_centred(self):
        self.assertEqual((self.w, self.h), (WIDTH, HEIGHT))
        self.assertEqual((self.client_w, self.client_h), (WIDTH, HEIGHT))
        self.assertEqual(self.x, (self.sw - WIDTH) // 2)
        self.assertEqual(self.y, (self.sh - HEIGHT) // 2)
        self.assertEqual((self.iconic, self.visible), (0, 1))
        shot, _ = self.drawn_frame()
        self.assertEqual(shot.pixel(300, 5), TITLE)
        self.assertEqual(shot.pixel(5, 60), BODY)
        outside = capture.capture_screen()
        self.assertNotEqual(outside.pixel(self.x - 1, self.y + 60), BODY)  # the picture ends at the window

    def test_bars_are_filled_to_the_counters(self):
        cases = [
            ("second of four files, half received", (4, 2, 1000, 500), 177, 177),
            ("first of three files, a quarter", (3, 2, 1000, 250), 117, 88),
            ("a 100 MB file half received", (2, 1, 100 * 1024 * 1024, 50 * 1024 * 1024), 177, 177),
            ("more bytes than announced", (2, 1, 1000, 5000), 177, BAR_WIDTH),
            ("last file complete", (4, 0, 2048, 2048), BAR_WIDTH, BAR_WIDTH),
        ]
        for name, state, overall, current in cases:
            with self.subTest(name):
                shot, _ = self.paint(*state)
                self.assert_bar(shot, OVERALL_TOP, overall, name + ", overall")
                self.assert_bar(shot, FILE_TOP, current, name + ", file")

    def test_status_text_animates_and_ends_complete(self):
        first, dots_after_first = self.paint(4, 2, 1000, 400)
        second, dots_after_second = self.paint(4, 2, 1000, 600)
        third, dots_after_third = self.paint(4, 2, 1000, 700)
        self.assertNotEqual(dots_after_first, dots_after_second)
        words = [s.crop(*WORD_BOX) for s in (first, second, third)]
        dots = [s.crop(*DOTS_BOX) for s in (first, second, third)]
        self.assertGreater(words[0].count(dark), 20, "the status text is drawn")
        self.assertEqual(words[0], words[1])
        self.assertGreater(dots[0].count(dark), 0)
        self.assertNotEqual(dots[0].count(dark), dots[1].count(dark), "one mark, then two")
        self.assertEqual(dots[0], dots[2], "and one again")

        done, dots_after_done = self.paint(4, 0, 2048, 2048)
        self.assertEqual(dots_after_done, dots_after_third, "the end does not advance the marks")
        self.assertNotEqual(done.crop(*WORD_BOX), words[0], "下载完成 replaces 正在下载")
        self.assertGreater(done.crop(*WORD_BOX).count(dark), 20)
        self.assertEqual(done.crop(*DOTS_BOX).count(dark), 0, "no marks after the end")
        done.save_png(os.path.join(SHOTS_DIR, "complete.png"))

    def test_states_without_a_frame_keep_the_previous_picture(self):
        cases = [
            ("nothing taken up yet", (4, 4, 0, 0)),
            ("under one percent of 200 files", (200, 199, 1000, 999)),
            ("announced length 0", (4, 2, 0, 0)),
            ("under one percent of the file", (4, 2, 1000, 9)),
        ]
        before, _ = self.paint(3, 1, 1000, 300)
        before.save_png(os.path.join(SHOTS_DIR, "mid-download.png"))
        for name, state in cases:
            with self.subTest(name):
                after, _ = self.paint(*state)
                self.assertEqual(after, before)

    def test_minimise_and_about_change_nothing(self):
        before, _ = self.drawn_frame()
        for command in (SC_MINIMIZE, SC_MINIMIZE | 0x2, IDM_ABOUTBOX):
            with self.subTest(command=hex(command)):
                self.assertEqual(self.host.send("syscommand %d" % command), "ok")
                info = [int(v) for v in self.host.send("info").split()[1:]]
                self.assertEqual(info[:8], [self.x, self.y, WIDTH, HEIGHT, WIDTH, HEIGHT, 0, 1])
                self.assertEqual(self.window_shot(), before)

    def test_system_menu_ends_with_separator_and_about(self):
        count, kind, command, text = self.host.send("menu").split()[1:]
        self.assertGreaterEqual(int(count), 2)
        self.assertEqual(kind, "sep")
        self.assertEqual(int(command), IDM_ABOUTBOX)
        self.assertEqual(text, ABOUT_TEXT)

    def test_drag_icon_is_the_window_icon(self):
        self.assertEqual(self.host.send("dragicon"), "dragicon 1")

    def test_labels_are_placed_outside_the_picture_and_stay_hidden(self):
        for control, place in ((1002, "33 130 130 14"), (1005, "178 130 230 14"), (1006, "425 130 160 14")):
            with self.subTest(control=control):
                self.assertEqual(self.host.send("label %d" % control), "label %s 0" % place)


class WindowLifetimeTest(unittest.TestCase):
    def test_close_destroys_the_window_and_ends_the_program(self):
        program_dir = os.path.join(BUILD_DIR, "window-test-install")
        os.makedirs(program_dir, exist_ok=True)
        host = Host(program_dir)
        self.assertEqual(host.send("info").split()[3:5], [str(WIDTH), str(HEIGHT)])
        self.assertEqual(host.close(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
