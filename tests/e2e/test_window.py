"""The real progress window under Wine and Xvfb: size, place, painting, system menu.

tools/helpers/DialogHost.exe creates CKvoLauncherDlg as start-up does, stops its timers (so no
update run starts) and takes counter states on stdin; the pictures are read back from the screen.
The scenarios run on an X server (xvfb-run, from CTest) and a Wine prefix of their own, so no
other window can cover the one under test.
"""
import os
import subprocess
import time
import unittest

from kvo_e2e import BUILD_DIR, WINE_RUN, windows_path
import capture  # tools/, on the path through kvo_e2e

DIALOG_HOST = os.path.join(BUILD_DIR, "tools", "helpers", "DialogHost.exe")
SHOTS_DIR = os.path.join(BUILD_DIR, "window-shots")

WINE_PREFIX = os.path.join(BUILD_DIR, "wineprefix-window")
PREFIX_TIMEOUT = 300

EXIT_TIMEOUT = 30
STABLE_TRIES = 20
STABLE_PAUSE = 0.15

WIDTH, HEIGHT = 380, 100
BAR_LEFT, BAR_WIDTH, BAR_HEIGHT = 12, 355, 14
OVERALL_TOP, FILE_TOP = 44, 62
WORD_BOX = (BAR_LEFT, 80, 51, 12)                   # left, top, width, height: "正在下载 " / "下载完成"
DOTS_BOX = (BAR_LEFT + 51, 85, 371 - BAR_LEFT - 51, 7)

TITLE = (69, 156, 209)
BODY = (187, 224, 246)
FILLED = (100, 184, 235)
EMPTY = (222, 221, 221)
WHITE = (255, 255, 255)

SC_MINIMIZE = 0xF020
IDM_ABOUTBOX = 16
ABOUT_TEXT = "关于 KvoLauncher(&A)...".encode("gbk").hex()


def setUpModule():
    """The private prefix, made (once per build) before anything is timed."""
    os.environ["KVO_WINEPREFIX"] = WINE_PREFIX
    subprocess.run([WINE_RUN, "cmd", "/c", "exit", "0"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=PREFIX_TIMEOUT)


def tearDownModule():
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=WINE_PREFIX), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=EXIT_TIMEOUT)


def dark(rgb):
    return sum(rgb) < 3 * 100


class Host:
    """One DialogHost process and its command line; a hang ends at the test's own time-out."""

    def __init__(self, program_dir):
        self.process = subprocess.Popen([WINE_RUN, DIALOG_HOST, windows_path(program_dir) + "\\"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if self.reply() != "ready":
            raise AssertionError("DialogHost did not start")

    def reply(self):
        line = self.process.stdout.readline()
        if not line:
            raise AssertionError("DialogHost ended")
        return line.decode("ascii", "replace").strip()

    def send(self, command):
        self.process.stdin.write((command + "\n").encode("ascii"))
        self.process.stdin.flush()
        return self.reply()

    def close(self):
        """Closing destroys the window and ends the program: its exit code."""
        self.process.communicate(b"close\n", timeout=EXIT_TIMEOUT)
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
        # Closing destroys the window and ends the program.
        if cls.host.close() != 0:
            raise AssertionError("DialogHost did not end cleanly after close")

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

    def test_window_has_the_background_size_is_centred_and_keeps_it(self):
        self.assertEqual((self.w, self.h), (WIDTH, HEIGHT))
        self.assertEqual((self.client_w, self.client_h), (WIDTH, HEIGHT))
        self.assertEqual(self.x, (self.sw - WIDTH) // 2)
        self.assertEqual(self.y, (self.sh - HEIGHT) // 2)
        self.assertEqual((self.iconic, self.visible), (0, 1))
        before, _ = self.paint(4, 2, 1000, 500)
        self.assertEqual(before.pixel(300, 5), TITLE)
        self.assertEqual(before.pixel(5, 60), BODY)
        outside = capture.capture_screen()
        self.assertNotEqual(outside.pixel(self.x - 1, self.y + 60), BODY)  # the picture ends at the window
        # Minimising and the About entry change nothing.
        for command in (SC_MINIMIZE, SC_MINIMIZE | 0x2, IDM_ABOUTBOX):
            with self.subTest(command=hex(command)):
                self.assertEqual(self.host.send("syscommand %d" % command), "ok")
                info = [int(v) for v in self.host.send("info").split()[1:]]
                self.assertEqual(info[:8], [self.x, self.y, WIDTH, HEIGHT, WIDTH, HEIGHT, 0, 1])
                self.assertEqual(self.window_shot(), before)

    def test_bars_are_filled_to_the_counters(self):
        cases = [
            ("second of four files, half received", (4, 2, 1000, 500), 177, 177),
            ("first of three files, a quarter", (3, 2, 1000, 250), 117, 88),
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

    def test_system_menu_drag_icon_and_hidden_labels(self):
        count, kind, command, text = self.host.send("menu").split()[1:]
        self.assertGreaterEqual(int(count), 2)
        self.assertEqual((kind, int(command), text), ("sep", IDM_ABOUTBOX, ABOUT_TEXT))
        self.assertEqual(self.host.send("dragicon"), "dragicon 1")
        for control, place in ((1002, "33 130 130 14"), (1005, "178 130 230 14"), (1006, "425 130 160 14")):
            self.assertEqual(self.host.send("label %d" % control), "label %s 0" % place)


if __name__ == "__main__":
    unittest.main(verbosity=2)
